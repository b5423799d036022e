// Layers drawing their objects on a real globe: culling, the layer tree's order and flags, and
// the periodic updates that let a long render be restarted.
#include "globe/GLayer.h"

#include "globe/GLabelRenderer.h"

#include "GGlobeTestSupport.h"

#include <QThread>

#include <gtest/gtest.h>

namespace vtr {
namespace {

class LayerRender : public vtrtest::GlobeTest
{
protected:
  void SetUp() override
  {
    MakeFlatGlobe(40, 40);
    layer = &AddLayer("objects");
    auto p = std::make_unique<TGPolygonPresenter>(globe.get());
    p->PolyPen().Define(clBlack, gpsSolid, 1, guPixel);
    p->PolyBrush().Define(clBlack, clBlack, gbsSolid);
    polygon = layer->Presenters().Add(std::move(p));
  }
  TGLayer* layer = nullptr;
  int32_t polygon = 0;
};

TEST_F(LayerRender, OnePixelObjectIsOneGreyPixelAndHalfAPixelIsCulled)
{
  // The program's thresholds: cull below 0.75 pixels, one pixel up to 1.5 pixels.
  globe->SetCullObjectPixels(0.75);
  globe->SetMinObjectPixels(1.5);
  AddSquare(*layer, 5, 5, 1, polygon);     // 1 pixel
  AddSquare(*layer, -8, 5, 0.5, polygon);  // half a pixel
  AddSquare(*layer, -10, -10, 4, polygon); // large enough for its presenter
  globe->RenderFrame();
  EXPECT_EQ(layer->ObjectSource().CullObjectSize(), RoundToInt32(0.75L * GU_DEGREE));
  EXPECT_EQ(layer->MinObjectSize(), RoundToInt32(1.5L * GU_DEGREE));
  const TGPoint one = XY(5, 5);
  EXPECT_EQ(Pixel(one.X, one.Y), 8421504);
  EXPECT_EQ(Count(8421504, 3, 3, 37, 37), 1);
  EXPECT_EQ(Ink(XY(-9, 0).X, XY(0, 7).Y, XY(-7, 0).X, XY(0, 4).Y), 0); // the culled one
  EXPECT_GE(Count(clBlack, 3, 3, 37, 37), 16);

  // RenderAllObjects: no thresholds, every object goes to its presenter.
  layer->SetRenderAllObjects(true);
  globe->RenderFrame();
  EXPECT_EQ(layer->ObjectSource().CullObjectSize(), 0);
  EXPECT_EQ(Count(8421504, 3, 3, 37, 37), 0);
  EXPECT_EQ(Pixel(one.X, one.Y), clBlack);
}

TEST_F(LayerRender, LaterLayersDrawOverEarlierOnesAndHiddenOrOutOfZoomLayersNot)
{
  TGLayer& top = AddLayer("top");
  auto p = std::make_unique<TGPolygonPresenter>(globe.get());
  p->PolyPen().Define(clLime, gpsSolid, 1, guPixel);
  p->PolyBrush().Define(clLime, clLime, gbsSolid);
  const int32_t lime = top.Presenters().Add(std::move(p));
  AddSquare(*layer, -10, -10, 20, polygon);
  AddSquare(top, -5, -5, 10, lime);
  globe->RenderFrame();
  EXPECT_EQ(Pixel(XY(0, 0).X, XY(0, 0).Y), clLime);
  EXPECT_EQ(Pixel(XY(-8, 0).X, XY(-8, 0).Y), clBlack);

  top.SetVisible(false);
  globe->RenderFrame();
  EXPECT_EQ(Pixel(XY(0, 0).X, XY(0, 0).Y), clBlack);

  top.SetVisible(true);
  top.SetZoomMin(static_cast<uint32_t>(GUToUnits(guKilometer, globe->Projector().Altitude()) * 2));
  globe->RenderFrame();
  EXPECT_EQ(Pixel(XY(0, 0).X, XY(0, 0).Y), clBlack);

  // A layer inside BeginUpdate is left out.
  top.SetZoomMin(0);
  top.BeginUpdate();
  globe->RenderFrame();
  EXPECT_EQ(Pixel(XY(0, 0).X, XY(0, 0).Y), clBlack);
  top.EndUpdate();
}

TEST_F(LayerRender, HiddenObjectsAreNotDrawnAndSelectedOnesInTheSelectionColours)
{
  auto a = AddSquare(*layer, -10, -10, 8, polygon);
  auto b = AddSquare(*layer, 2, 2, 8, polygon);
  a->SetHidden(true);
  b->SetSelected(true);
  globe->Renderer().SelectedBrush().Define(clLime, clLime, gbsSolid);
  globe->Renderer().SelectedPen().Define(clLime, gpsSolid, 1, guPixel);
  globe->RenderFrame();
  EXPECT_EQ(Pixel(XY(-6, -6).X, XY(-6, -6).Y), clWhite);
  EXPECT_EQ(Pixel(XY(6, 6).X, XY(6, 6).Y), clLime);
}

TEST_F(LayerRender, EventsAroundLayersAndObjects)
{
  AddSquare(*layer, -10, -10, 8, polygon);
  AddSquare(*layer, 2, 2, 8, polygon);
  std::vector<std::string> seen;
  globe->OnBeforeLayerRender = [&](TGGlobe&, TGLayer& l) { seen.push_back("before " + l.Name()); };
  globe->OnAfterLayerRender = [&](TGGlobe&, TGLayer& l) { seen.push_back("after " + l.Name()); };
  globe->OnObjectRender = [&](TGGlobe&, TGLayer&, IGMapPoint&, TGRenderStateSet state) {
    seen.push_back((state & rsClosed) ? "closed" : "object");
  };
  globe->RenderFrame();
  const std::vector<std::string> want = {"before ", "before objects", "object",
                                         "object",  "after objects",  "after "};
  EXPECT_EQ(seen, want);
}

TEST_F(LayerRender, WithoutPeriodicUpdatesNothingInterruptsALongRender)
{
  for (int i = 0; i < 300; ++i)
    AddPoint(*layer, (i % 30) - 15, (i / 30) - 5, 0);
  int updates = 0;
  globe->OnPeriodicUpdate = [&](TGGlobe&) { ++updates; };
  globe->OnBeforeLayerRender = [](TGGlobe&, TGLayer&) { QThread::msleep(3); };
  globe->RenderFrame();
  EXPECT_EQ(updates, 0);
  EXPECT_EQ(layer->RenderObjectCount(), 300);
}

TEST_F(LayerRender, PeriodicUpdateCanRestartTheRender)
{
  for (int i = 0; i < 300; ++i)
    AddPoint(*layer, (i % 30) - 15, (i / 30) - 5, 0);
  globe->SetPeriodicUpdateTime(1);
  int updates = 0, cycles = 0;
  globe->OnPeriodicUpdate = [&](TGGlobe& g) {
    if (++updates == 1) g.RestartRender();
  };
  globe->OnBeforeRender = [&](TGGlobe&) { cycles = 0; };
  globe->OnBeforeLayerRender = [&](TGGlobe&, TGLayer& l) {
    if (l.ParentLayer()) {
      ++cycles;
      QThread::msleep(3); // past the update time before the 128th object
    }
  };
  std::vector<int32_t> counts;
  globe->OnAfterLayerRender = [&](TGGlobe&, TGLayer& l) {
    if (l.ParentLayer()) counts.push_back(l.RenderObjectCount());
  };
  globe->RenderFrame();
  EXPECT_GE(updates, 1);
  EXPECT_EQ(cycles, 2); // cut short at the 128th object, then drawn again whole
  EXPECT_EQ(counts, std::vector<int32_t>{300});

  // A NoInterrupt layer finishes whatever happens.
  layer->SetNoInterrupt(true);
  updates = 0;
  counts.clear();
  globe->RenderFrame();
  EXPECT_EQ(counts.front(), 300);
}

} // namespace
} // namespace vtr
