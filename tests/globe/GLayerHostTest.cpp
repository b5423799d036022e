// The layer tree under a globe: pointer hits through the projector, zoom limits, redraws and
// render restarts, tree-change notices, title hits, images through the globe, the presenters'
// per-render state, map objects drawing themselves, and the registered classes.
#include "globe/GLayer.h"

#include "globe/GBitmap.h"
#include "globe/GProjector.h"

#include "GLayerTestSupport.h"
#include "GlobeTestSupport.h"
#include "ProjectorTestSupport.h"

#include <gtest/gtest.h>

namespace vtr {
namespace {

constexpr int32_t D = GU_DEGREE;
using vtrtest::AddLayer;
using vtrtest::AddPoint;
using vtrtest::IDOf;

// A globe without a window: 300 x 300 pixels, spherical, fitted, centred on 23.5N 0E.
class LayerHost : public ::testing::Test, public IGLayerHost, public IGObjectRenderer
{
protected:
  LayerHost()
  {
    projector.SetProjectionClass("TGSphericalPrj");
    projector.SetScaleFactor(0);
    root.SetHost(this);
  }

  TGProjector& Projector() override { return projector; }
  void NotifyLayerTreeChanged() override { ++treeChanges; }
  std::shared_ptr<TGBitmap> LoadImage(const std::string& name) override
  {
    imagesAsked.push_back(name);
    return image;
  }
  std::shared_ptr<IGMapPoint> TitleAtLL(const TGPointLL&) override
  {
    ++titleQueries;
    return titleHit;
  }
  int32_t SelectTitles(const TGMER&, bool, bool) override { return titlesSelected; }
  void DrawEllipse(const TGRect& rect) override { ellipses.push_back(rect); }
  void RenderChainStore(const TGChainStore& chains, TGRenderStateSet State) override
  {
    chainRenders.emplace_back(&chains, State);
  }

  TGPoint XY(const TGPointLL& pt)
  {
    TGPoint xy;
    EXPECT_TRUE(projector.PointLLToXY(pt, xy));
    return xy;
  }

  vtrtest::FakeGlobe globe;
  TGProjector projector{globe};
  TGLayer root;
  int treeChanges = 0;
  std::vector<std::string> imagesAsked;
  std::shared_ptr<TGBitmap> image;
  std::shared_ptr<IGMapPoint> titleHit;
  int titleQueries = 0;
  int32_t titlesSelected = 0;
  std::vector<TGRect> ellipses;
  std::vector<std::pair<const TGChainStore*, TGRenderStateSet>> chainRenders;
};

TEST_F(LayerHost, PointerHitsUseTheProjectorAndItsTwoPixels)
{
  TGLayer& layer = AddLayer(root, "units");
  vtrtest::WatchedSource& source = vtrtest::Watch(layer);
  AddPoint(layer, "ship", 0, 0);
  EXPECT_EQ(layer.LayerTolerance(), projector.PixelTolerance());

  const TGPoint at = XY(PointLL(0, 0));
  EXPECT_EQ(IDOf(root.ObjectAtXY(at.X, at.Y)), "ship");
  EXPECT_EQ(IDOf(root.ObjectAtXY(at.X + 1, at.Y)), "ship"); // within two pixels
  EXPECT_EQ(IDOf(root.ObjectAtXY(at.X, at.Y - 4)), "none");
  EXPECT_EQ(IDOf(root.LayerStore().ObjectAtXY(at.X, at.Y)), "ship");

  // Outside the globe's disc nothing is asked of any source.
  const size_t queries = source.queries.size();
  EXPECT_EQ(IDOf(root.ObjectAtXY(2, 2)), "none");
  EXPECT_EQ(IDOf(root.LayerStore().ObjectAtXY(2, 2)), "none");
  EXPECT_EQ(source.queries.size(), queries);

  // A free layer has no projector: nothing is under any device point.
  TGLayer free;
  AddPoint(free, "ship", 0, 0);
  EXPECT_EQ(IDOf(free.ObjectAtXY(at.X, at.Y)), "none");
  EXPECT_EQ(IDOf(free.ObjectAtLL(PointLL(0, 0))), "ship");
}

TEST_F(LayerHost, ZoomLimitsBlockHitsAndSelection)
{
  TGLayer& layer = AddLayer(root, "units");
  auto ship = AddPoint(layer, "ship", 0, 0);
  layer.SetZoomMin(100); // km
  ASSERT_GT(projector.Altitude(), static_cast<uint32_t>(UnitsToGU(guKilometer, 100)));
  EXPECT_TRUE(layer.IsShowing());

  projector.SetScaleFactor(1e-4); // zoomed in: about 50 km up
  ASSERT_LT(projector.Altitude(), static_cast<uint32_t>(UnitsToGU(guKilometer, 100)));
  EXPECT_FALSE(layer.IsShowing());
  const TGPoint at = XY(PointLL(0, 0));
  EXPECT_EQ(IDOf(root.ObjectAtXY(at.X, at.Y)), "none");
  EXPECT_EQ(IDOf(root.ObjectAtLL(PointLL(0, 0))), "none");
  EXPECT_EQ(root.SelectObjects(ship->ObjectMER(), true, true, true), 0);
  EXPECT_FALSE(ship->Selected());

  // The same limit as a maximum shows the layer only below it.
  layer.SetZoomMin(0);
  layer.SetZoomMax(100);
  EXPECT_TRUE(layer.IsShowing());
  EXPECT_EQ(root.SelectObjects(ship->ObjectMER(), true, true, true), 1);
  EXPECT_EQ(IDOf(root.ObjectAtXY(at.X, at.Y)), "ship");
  projector.SetScaleFactor(0);
  EXPECT_FALSE(layer.IsShowing());
}

TEST_F(LayerHost, ChangesRedrawAndRestartOnlyRendersThatShowProgress)
{
  TGLayer& layer = AddLayer(root, "units");
  int redraws = globe.redraws;
  layer.SetVisible(false);
  EXPECT_EQ(globe.redraws, ++redraws);
  EXPECT_EQ(globe.restarts, 0); // no periodic updates
  layer.SetVisible(false);
  EXPECT_EQ(globe.redraws, redraws);

  globe.periodicUpdateTime = 100;
  layer.SetVisible(true);
  EXPECT_EQ(globe.restarts, 1);
  layer.SetNoInterrupt(true); // the flag itself is set while the layer may still be cut short
  EXPECT_EQ(globe.restarts, 1);
  layer.SetSelectable(false);
  EXPECT_EQ(globe.restarts, 1);

  redraws = globe.redraws;
  layer.SetZoomMax(5);
  layer.SetAlphaBlend(100);
  layer.SetZoomUnits(guMile); // converts, marks, but draws nothing new
  EXPECT_EQ(globe.redraws, redraws + 2);
}

TEST_F(LayerHost, EveryTreeChangeIsAnnounced)
{
  TGLayer& a = AddLayer(root, "a");
  TGLayer& b = AddLayer(root, "b");
  AddLayer(a, "a1"); // deeper in the tree too
  EXPECT_EQ(treeChanges, 3);
  root.LayerStore().Move(0, 1);
  root.LayerStore().Move(0, 7); // no move, still announced
  EXPECT_EQ(treeChanges, 5);
  root.LayerStore().Add(&a.LayerStore().GetLayer(0)); // out of a and into root
  EXPECT_EQ(treeChanges, 7);
  root.LayerStore().Delete(&b);
  EXPECT_EQ(treeChanges, 8);

  TGLayer free; // no globe above: nobody to tell
  AddLayer(free, "x");
  EXPECT_EQ(treeChanges, 8);
}

TEST_F(LayerHost, TitlesAreAskedFirstAndOnlyByTheRoot)
{
  TGLayer& layer = AddLayer(root, "units");
  AddPoint(layer, "ship", 0, 0);
  auto label = std::make_shared<TGMapPoint>();
  label->SetUserID("label");
  titleHit = label;
  EXPECT_EQ(IDOf(root.ObjectAtLL(PointLL(0, 0))), "label");
  EXPECT_EQ(IDOf(layer.ObjectAtLL(PointLL(0, 0))), "ship");
  EXPECT_EQ(titleQueries, 1);
  titleHit = nullptr;
  EXPECT_EQ(IDOf(root.ObjectAtLL(PointLL(0, 0))), "ship");

  const TGMER box = MER(-10, -10, 20, 20);
  titlesSelected = 1;
  EXPECT_EQ(root.SelectObjects(box, true, true, true), 1);
  EXPECT_EQ(layer.Selection().Count(), 0); // the title's hit ended it
  EXPECT_EQ(root.SelectObjects(box, true, false, true), 2);
  EXPECT_EQ(layer.Selection().Count(), 1);
}

TEST_F(LayerHost, ImagesComeThroughTheGlobe)
{
  image = std::make_shared<TGBitmap>();
  image->SetSize(4, 2);
  TGLayer& layer = AddLayer(root, "chart");
  EXPECT_EQ(layer.ObjectSource().ImageByName("wrecks.bmp"), image);
  layer.SetSurfaceImageName("ice.bmp");
  EXPECT_EQ(layer.SurfaceBitmap(), image.get());
  EXPECT_EQ(imagesAsked, (std::vector<std::string>{"wrecks.bmp", "ice.bmp"}));

  auto raster = std::make_shared<TGMapRaster>();
  layer.ObjectSource().Add(raster);
  raster->SetImageName("scan.png"); // not a file: the source is asked, then the globe
  EXPECT_EQ(imagesAsked.back(), "scan.png");
  EXPECT_EQ(raster->ImageWidth(), 4);
}

TEST_F(LayerHost, PresentersKeepAltitudeAlphaAndTitleVisibilityPerRender)
{
  TGLayer& layer = AddLayer(root, "units");
  layer.SetAlphaBlend(128);
  TGPresenter p;
  p.SetAlphaBlend(128);
  p.BeginLayerRender(layer);
  EXPECT_EQ(p.Altitude(), projector.Altitude());
  EXPECT_EQ(p.AdjustedAlphaBlend(), 64);
  EXPECT_FALSE(p.IsTitleVisible()); // no alignment

  const int32_t altitudeKm = static_cast<int32_t>(GUToUnits(guKilometer, projector.Altitude()));
  struct Case
  {
    TGTitleAlignment alignment;
    bool hidden;
    int32_t lo, hi; // km
    bool visible;
  };
  const Case cases[] = {
      {taBottomRight, false, 0, 0, true},
      {taBottomRight, false, 7, 7, true}, // equal limits: none
      {taBottomRight, false, altitudeKm - 10, altitudeKm + 10, true},
      {taBottomRight, false, altitudeKm + 10, altitudeKm + 20, false},
      {taBottomRight, false, 0, altitudeKm - 10, false},
      {taBottomRight, true, 0, 0, false},
      {taNone, false, 0, 0, false},
  };
  for (const auto& c : cases) {
    p.SetTitleAlignment(c.alignment);
    p.SetHidden(c.hidden);
    p.SetTitleZoomMin(c.lo);
    p.SetTitleZoomMax(c.hi);
    p.BeginLayerRender(layer);
    EXPECT_EQ(p.IsTitleVisible(), c.visible) << c.lo << ".." << c.hi;
  }

  // Worked out once per render.
  p.SetHidden(false);
  p.SetTitleZoomMin(0);
  p.SetTitleZoomMax(0);
  p.SetTitleAlignment(taTop);
  p.BeginLayerRender(layer);
  EXPECT_TRUE(p.IsTitleVisible());
  p.SetHidden(true);
  EXPECT_TRUE(p.IsTitleVisible());
  p.BeginLayerRender(layer);
  EXPECT_FALSE(p.IsTitleVisible());
}

TEST_F(LayerHost, ObjectsDrawThemselves)
{
  auto p = std::make_shared<TGMapPoint>();
  p->SetCentroid(PointLL(0, 0));
  p->Render(*this, 0);
  const TGPoint at = XY(PointLL(0, 0));
  ASSERT_EQ(ellipses.size(), 1u);
  EXPECT_EQ(ellipses[0], (TGRect{at.X - 2, at.Y - 2, at.X + 2, at.Y + 2}));
  p->SetCentroid(PointLL(GU_180, 0)); // behind the globe
  p->Render(*this, 0);
  EXPECT_EQ(ellipses.size(), 1u);

  auto poly = std::make_shared<TGMapPoly>();
  poly->SetCentroid(PointLL(D, D));
  poly->Render(*this, rsClosed); // no chains: a point
  EXPECT_EQ(ellipses.size(), 2u);
  auto ring = std::make_unique<TGPointStore>();
  for (const auto& pt : {PointLL(0, 0), PointLL(D, 0), PointLL(D, D)})
    ring->Add(pt);
  poly->Chains().Add(std::move(ring));
  poly->Render(*this, rsClosed | rsSelected);
  poly->SetClosed(true);
  poly->Render(*this, rsSelected);
  ASSERT_EQ(chainRenders.size(), 2u);
  EXPECT_EQ(chainRenders[0].first, &poly->Chains());
  EXPECT_EQ(chainRenders[0].second, rsSelected);
  EXPECT_EQ(chainRenders[1].second, rsClosed | rsSelected);
}

TEST_F(LayerHost, RasterDrawsItsPictureThroughTheMorph)
{
  image = std::make_shared<TGBitmap>();
  image->SetSize(80, 40);
  TGLayer& layer = AddLayer(root, "chart");
  auto r = std::make_shared<TGMapRaster>();
  layer.ObjectSource().Add(r);
  r->Morph().SetOffsets(-10 * D, 10 * D);
  r->Morph().SetScales(D / 4.0L, D / 4.0L); // 20 x 10 degrees
  r->SetImageName("chart.bmp");
  r->SetAlphaBlend(90);
  r->Render(*this, 0);
  ASSERT_EQ(globe.triangles.size(), 128u);
  const auto& first = globe.triangles.front();
  EXPECT_EQ(first.src[0], (TGPoint{0, 0}));
  EXPECT_EQ(first.src[1], (TGPoint{10, 0}));
  EXPECT_EQ(first.dest[0], PointLL(-10 * D, 10 * D));
  EXPECT_EQ(first.dest[1], PointLL(-10 * D + 10 * D / 4, 10 * D));
  const auto& last = globe.triangles.back();
  EXPECT_EQ(last.src[0], (TGPoint{80, 40}));
  EXPECT_EQ(last.dest[0], PointLL(10 * D, 0));
  EXPECT_EQ(image->AlphaBlend(), 90);
}

TEST(GlobeClasses, LayersSourcesAndObjectsAreRegistered)
{
  struct Case
  {
    const char* name;
    const char* display;
  };
  const Case cases[] = {{"TGMemoryObjectSource", "Memory Object Source"},
                        {"TGLayer", "Layer"},
                        {"TGMapPoint", "Map Point"},
                        {"TGMapPoly", "Map Poly"},
                        {"TGMapRaster", "Map Raster"}};
  for (const auto& c : cases) {
    const TGRegisteredClass* entry = FindGlobeClass(c.name);
    ASSERT_TRUE(entry) << c.name;
    EXPECT_EQ(entry->DisplayName, c.display);
    EXPECT_EQ(CreateGlobeObject(c.name, nullptr)->ClassName(), c.name);
  }
  std::shared_ptr<TGMapPoint> poly = CreateGlobeObjectAs<TGMapPoint>("tgmappoly", nullptr);
  EXPECT_TRUE(std::dynamic_pointer_cast<IGMapPoly>(poly));
  EXPECT_EQ(poly->Clone()->ClassName(), "TGMapPoly");
}

} // namespace
} // namespace vtr
