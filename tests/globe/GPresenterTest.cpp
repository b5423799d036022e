// Presenters drawing on a real globe: the point types and their sizes, hit tests, titles and
// the text size cap, the poly presenters, and their XML forms.
#include "globe/GPresenter.h"

#include "globe/GLabelRenderer.h"
#include "globe/GLayer.h"
#include "globe/GXML.h"

#include "GGlobeTestSupport.h"

#include <gtest/gtest.h>

namespace vtr {
namespace {

class PresenterTest : public vtrtest::GlobeTest
{
protected:
  // A 40 x 40 flat map at 1 pixel a degree with one layer.
  void SetUp() override
  {
    MakeFlatGlobe(40, 40);
    layer = &AddLayer("objects");
  }
  TGPointPresenter& AddPointPresenter(TGPointPresenterType type, int32_t size)
  {
    return AddBlackPointPresenter<TGPointPresenter>(*layer, type, size);
  }
  // The box of the pixels that are neither white nor the view outline's red.
  vtrtest::PixelBox InkBox() { return BoxOf(); }

  TGLayer* layer = nullptr;
};

TEST_F(PresenterTest, CircleOfSizeSixIsSixPixelsAcrossAndSizeOneDrawsNothing)
{
  TGPointPresenter& p = AddPointPresenter(ppCircle, 6);
  AddPoint(*layer, 0, 0, p.PresenterID());
  globe->RenderFrame();
  const TGPoint at = XY(0, 0);
  const vtrtest::PixelBox b = InkBox();
  EXPECT_EQ(b.Width(), 6);
  EXPECT_EQ(b.Height(), 6);
  EXPECT_EQ(b.left, at.X - 3);
  EXPECT_EQ(b.top, at.Y - 3);

  p.SetPointSize(1);
  globe->RenderFrame();
  EXPECT_EQ(InkBox().Width(), 0);
}

TEST_F(PresenterTest, EveryShapeStaysInsideItsSquare)
{
  struct Case
  {
    TGPointPresenterType type;
    int minInk; // pixels at least
  };
  // Size 10: c = 5, shapes within (x - 5, y - 5)..(x + 5, y + 5).
  const Case cases[] = {{ppCircle, 40},        {ppSquare, 80},       {ppDiamond, 30},
                        {ppTriangleUp, 30},    {ppTriangleDown, 30}, {ppTriangleLeft, 30},
                        {ppTriangleRight, 30}, {ppDot, 1},           {ppNone, 0}};
  TGPointPresenter& p = AddPointPresenter(ppNone, 10);
  AddPoint(*layer, 0, 0, p.PresenterID());
  const TGPoint at = XY(0, 0);
  for (const Case& c : cases) {
    p.SetPointType(c.type);
    globe->RenderFrame();
    const int inside = Ink(at.X - 5, at.Y - 5, at.X + 6, at.Y + 6);
    EXPECT_GE(inside, c.minInk) << c.type;
    EXPECT_EQ(InnerInk(), inside) << c.type;
    if (c.type == ppNone) {
      EXPECT_EQ(inside, 0);
    }
    if (c.type == ppDot) {
      EXPECT_EQ(Pixel(at.X, at.Y), clBlack);
    }
  }
}

TEST_F(PresenterTest, SelectedShapesUseTheSelectionPenAndBrush)
{
  TGPointPresenter& p = AddPointPresenter(ppSquare, 10);
  auto obj = AddPoint(*layer, 0, 0, p.PresenterID());
  globe->Renderer().SelectedBrush().Define(clLime, clLime, gbsSolid);
  globe->Renderer().SelectedPen().Define(clLime, gpsSolid, 1, guPixel);
  obj->SetSelected(true);
  globe->RenderFrame();
  const TGPoint at = XY(0, 0);
  EXPECT_EQ(Pixel(at.X, at.Y), clLime);
  EXPECT_EQ(Count(clBlack, 0, 0, 40, 40), 0);
}

TEST_F(PresenterTest, ImageIsStretchedOverTheSquareWithItsBottomLeftPixelTransparent)
{
  auto image = std::make_shared<TGBitmap>();
  image->SetSize(4, 2);
  image->Clear(clRed);
  image->SetPixel(0, 1, clLime); // bottom-left: becomes transparent
  TGPointPresenter& p = AddPointPresenter(ppImage, 16);
  p.SetImage(image);
  AddPoint(*layer, 0, 0, p.PresenterID());
  globe->RenderFrame();
  const TGPoint at = XY(0, 0);
  EXPECT_EQ(Count(clLime, 0, 0, 40, 40), 0);
  EXPECT_GT(Count(clRed, at.X - 8, at.Y - 8, at.X + 8, at.Y + 8), 16 * 16 * 3 / 4 - 16);
  EXPECT_EQ(Pixel(at.X - 6, at.Y + 6), clWhite); // the transparent quarter
  EXPECT_EQ(Ink(at.X + 9, 3, 37, 37), 0);
}

TEST_F(PresenterTest, PolyObjectsGetTheSymbolAtEveryVertex)
{
  TGPointPresenter& p = AddPointPresenter(ppSquare, 4);
  AddSquare(*layer, -10, -10, 20, p.PresenterID());
  globe->RenderFrame();
  for (const auto& [lon, lat] : {std::pair{-10, -10}, {-10, 10}, {10, 10}, {10, -10}}) {
    const TGPoint v = XY(lon, lat);
    EXPECT_EQ(Pixel(v.X, v.Y), clBlack) << lon << "," << lat;
  }
  EXPECT_EQ(Pixel(XY(0, 0).X, XY(0, 0).Y), clWhite);
}

TEST_F(PresenterTest, SymbolSquareHitTestIsHalfTheSymbolWhateverTheTolerance)
{
  // Size 20 pixels at 1 pixel a degree: half of 21 pixels, 10.5 degrees.
  TGPointPresenter& p = AddPointPresenter(ppSquare, 20);
  auto obj = AddPoint(*layer, 0, 0, p.PresenterID());
  const int32_t t = 1'000'000'000;
  EXPECT_TRUE(p.LLInObject(DDToPointLL(10.4, -10.4), *obj, t));
  EXPECT_FALSE(p.LLInObject(DDToPointLL(10.6, 0), *obj, 0));
  EXPECT_FALSE(p.LLInObject(DDToPointLL(0, -10.6), *obj, t));
  int32_t q = 5;
  globe->RenderFrame();
  p.AdjustTolerance(q);
  EXPECT_EQ(q, 21 * GU_DEGREE / 2);
  // The layer's hit test goes through it.
  EXPECT_EQ(globe->GlobeLayer().ObjectAtLL(DDToPointLL(10, 10)), obj);
  EXPECT_EQ(globe->GlobeLayer().ObjectAtLL(DDToPointLL(11, 10)), nullptr);
}

TEST_F(PresenterTest, MaxTextHeightCapsTitlesButNotSymbolFonts)
{
  MakeFlatGlobe(120, 120);
  layer = &AddLayer("objects");
  globe->Renderer().SetMaxTextHeight(20);
  TGPointPresenter& p = AddPointPresenter(ppFontSymbol, 60);
  p.PointFont().SetName("DejaVu Sans");
  p.SetSymbolIndex('H');
  p.SetTitleAlignment(taTop);
  p.TitleFont().Define("DejaVu Sans", clBlack, clWhite, 60, guPixel, 0, 0, 255);
  AddPoint(*layer, 0, 0, p.PresenterID(), "Title");
  globe->RenderFrame();
  // The symbol: an "H" of a 60-pixel font stands well over 20 pixels.
  EXPECT_GT(InkBox().Height(), 30);
  // The title's box: a cell of at most 20 pixels.
  const TGLabelRenderer& labels = globe->LabelRenderer();
  ASSERT_EQ(labels.LayerCount(), 2); // the root, then the layer
  ASSERT_EQ(labels.LayerTitles(1).Count, 1);
  const TGRect r = labels.LayerTitles(1).Titles[0].Rect;
  EXPECT_LE(r.Bottom - r.Top, 26);
  EXPECT_GT(r.Bottom - r.Top, 10);
  EXPECT_EQ(globe->Renderer().MaxTextHeight(), 20); // restored after the symbol
}

TEST_F(PresenterTest, FontSymbolsTakeTheirCodeFromTheOverrideColumn)
{
  MakeFlatGlobe(120, 60);
  layer = &AddLayer("objects");
  TGPointPresenter& p = AddPointPresenter(ppFontSymbol, 30);
  p.PointFont().SetName("DejaVu Sans");
  p.SetSymbolIndex('-');
  p.SetOverrideColumn(1);
  auto block = AddPoint(*layer, -30, 0, p.PresenterID());
  block->SetAttribute(1, "9608"); // U+2588, a full block
  auto dash = AddPoint(*layer, 30, 0, p.PresenterID());
  dash->SetAttribute(1, "none"); // not a number: the symbol index
  globe->RenderFrame();
  const TGPoint a = XY(-30, 0), b = XY(30, 0);
  const int blockInk = Ink(a.X - 15, a.Y - 15, a.X + 15, a.Y + 15);
  const int dashInk = Ink(b.X - 15, b.Y - 15, b.X + 15, b.Y + 15);
  EXPECT_GT(blockInk, 200);
  EXPECT_GT(dashInk, 5);
  EXPECT_LT(dashInk, blockInk / 4);
  EXPECT_EQ(p.SymbolOverride(), -1); // only during a draw
}

TEST_F(PresenterTest, TitleZoomLimitsAndHiddenPresenters)
{
  TGPointPresenter& p = AddPointPresenter(ppDot, 4);
  p.SetTitleAlignment(taBottomRight);
  AddPoint(*layer, 0, 0, p.PresenterID(), "Alpha");
  const auto titles = [this] {
    globe->RenderFrame();
    return globe->LabelRenderer().LayerTitles(1).Count;
  };
  EXPECT_EQ(titles(), 1);
  const uint32_t altitudeKm =
      static_cast<uint32_t>(GUToUnits(guKilometer, globe->Projector().Altitude()));
  p.SetTitleZoomMin(static_cast<int32_t>(altitudeKm + 10));
  p.SetTitleZoomMax(static_cast<int32_t>(altitudeKm + 20));
  EXPECT_EQ(titles(), 0);
  p.SetTitleZoomMin(static_cast<int32_t>(altitudeKm / 2));
  EXPECT_EQ(titles(), 1);
  layer->SetShowTitles(false);
  EXPECT_EQ(titles(), 0);
  layer->SetShowTitles(true);
  p.SetHidden(true);
  EXPECT_EQ(titles(), 0);
  EXPECT_EQ(InnerInk(), 0);
}

TEST_F(PresenterTest, PolyPresentersFillClosedAndStrokeOpen)
{
  auto polygon = std::make_unique<TGPolygonPresenter>(globe.get());
  polygon->PolyPen().Define(clBlack, gpsSolid, 1, guPixel);
  polygon->PolyBrush().Define(clLime, clLime, gbsSolid);
  const int32_t filled = layer->Presenters().Add(std::move(polygon));
  auto line = std::make_unique<TGPolylinePresenter>(globe.get());
  line->PolyPen().Define(clBlack, gpsSolid, 1, guPixel);
  const int32_t open = layer->Presenters().Add(std::move(line));
  auto a = AddSquare(*layer, -15, -5, 10, filled);
  auto b = AddSquare(*layer, 5, -5, 10, open);
  globe->RenderFrame();
  EXPECT_EQ(Pixel(XY(-10, 0).X, XY(-10, 0).Y), clLime);
  EXPECT_EQ(Pixel(XY(10, 0).X, XY(10, 0).Y), clWhite);
  EXPECT_EQ(Pixel(XY(5, 0).X, XY(5, 0).Y), clBlack); // the open square's west edge

  TGPresenter& pa = *layer->FindPresenter(filled);
  TGPresenter& pb = *layer->FindPresenter(open);
  const int32_t t = GU_DEGREE / 2;
  EXPECT_TRUE(pa.LLInObject(DDToPointLL(-10, 0), *a, t));
  EXPECT_FALSE(pb.LLInObject(DDToPointLL(10, 0), *b, t)); // inside, but away from the edges
  EXPECT_TRUE(pb.LLInObject(DDToPointLL(5.2, 0), *b, t));
  EXPECT_EQ(globe->GlobeLayer().ObjectAtLL(DDToPointLL(-10, 0)), a);
}

TEST_F(PresenterTest, ChainsDrawWithEveryPresenterUntilTheNextIsNoneOrHidden)
{
  TGPointPresenter& square = AddPointPresenter(ppSquare, 10);
  TGPointPresenter& dot = AddPointPresenter(ppDot, 10);
  dot.PointPen().SetColor(clLime);
  square.SetNextPresenterID(dot.PresenterID());
  AddPoint(*layer, 0, 0, square.PresenterID());
  const TGPoint at = XY(0, 0);
  globe->RenderFrame();
  EXPECT_EQ(Pixel(at.X, at.Y), clLime); // drawn last, over the square
  EXPECT_EQ(Pixel(at.X - 3, at.Y), clBlack);

  dot.SetHidden(true);
  globe->RenderFrame();
  EXPECT_EQ(Pixel(at.X, at.Y), clBlack);

  // Presenters naming each other end after a bounded chain (64 draws, the last the dot's)
  // instead of looping for ever.
  dot.SetHidden(false);
  dot.SetNextPresenterID(square.PresenterID());
  globe->RenderFrame();
  EXPECT_EQ(Pixel(at.X, at.Y), clLime);
}

TEST_F(PresenterTest, ObjectsWithoutAPresenterDrawThemselves)
{
  AddPoint(*layer, 0, 0, 0);
  AddPoint(*layer, 10, 0, 99); // a number no store holds
  globe->RenderFrame();
  EXPECT_GT(Ink(XY(0, 0).X - 3, XY(0, 0).Y - 3, XY(0, 0).X + 4, XY(0, 0).Y + 4), 4);
  EXPECT_GT(Ink(XY(10, 0).X - 3, XY(10, 0).Y - 3, XY(10, 0).X + 4, XY(10, 0).Y + 4), 4);
}

TEST_F(PresenterTest, RootLayerDefaultPresentersServeEveryLayer)
{
  AddPoint(*layer, 0, 0, -1); // the globe's default point presenter: a 6-pixel circle
  globe->RenderFrame();
  EXPECT_EQ(InkBox().Width(), 6);
}

TEST_F(PresenterTest, PresenterEventsAndASecondPassWithoutTitles)
{
  struct Events : IGPresenterEvents
  {
    int begins = 0, ends = 0, objects = 0;
    TGLayer* layer = nullptr;
    void BeginLayerRender(TGPresenter&, TGLayer& l) override
    {
      ++begins;
      layer = &l;
    }
    void EndLayerRender(TGPresenter&, int32_t pass) override
    {
      ++ends;
      if (pass == 0) layer->SetReRenderLayer(true); // once more
    }
    void AfterRenderObject(TGPresenter&, IGMapPoint&, TGRenderStateSet) override { ++objects; }
  };
  auto events = std::make_shared<Events>();
  TGPointPresenter& p = AddPointPresenter(ppDot, 4);
  p.SetTitleAlignment(taTop);
  p.SetPresenterEvents(events);
  AddPoint(*layer, 0, 0, p.PresenterID(), "A");
  AddPoint(*layer, 5, 0, p.PresenterID(), "B");
  globe->RenderFrame();
  EXPECT_EQ(events->begins, 2); // once per pass, not per object
  EXPECT_EQ(events->ends, 2);
  EXPECT_EQ(events->objects, 4);
  EXPECT_EQ(layer->RenderPass(), 1);
  EXPECT_EQ(globe->LabelRenderer().LayerTitles(1).Count, 2); // titles of the first pass only
}

TEST(PresenterXML, DefaultsAreLeftOutAndEverySettingRoundTrips)
{
  TGPointPresenter p;
  TGXML_Element plain("Presenter");
  p.SaveToXML(plain);
  EXPECT_EQ(plain.XMLString(),
            "<Presenter Class=\"TGPointPresenter\" Name=\"Point Presenter\" Alignment=\"0\"><Font "
            "Name=\"WingDings\" /></Presenter>");

  p.SetName("Ships");
  p.SetPresenterID(7);
  p.SetNextPresenterID(3);
  p.SetTitleAlignment(taBottomRight);
  p.SetTitleOffset(4);
  p.SetTitleOffsetUnits(guKilometer);
  p.SetTitleColumn(2);
  p.SetAlphaBlend(128);
  p.SetTitleZoomMin(10);
  p.SetTitleZoomMax(500);
  p.SetTitleZoomUnits(guNauticalMile);
  p.TitleFont().Define("Courier", clRed, clBlue, 12, guPixel, 900, FontStyleBit(gfsBold), 100);
  p.SetPointType(ppDiamond);
  p.SetPointUnit(guKilometer);
  p.SetPointSize(25);
  p.SetMaxPointSize(40);
  p.SetSymbolIndex(65);
  p.SetOverrideColumn(1);
  p.PointPen().Define(clBlue, gpsDash, 3, guPixel);
  p.PointBrush().Define(clLime, clBlack, gbsPattern5);
  TGXML_Element el("Presenter");
  p.SaveToXML(el);
  TGPointPresenter q;
  q.LoadFromXML(el);
  EXPECT_TRUE(q.Equals(p));
  EXPECT_EQ(q.Name(), "Ships");
  EXPECT_EQ(q.PresenterID(), 7);
  EXPECT_EQ(q.NextPresenterID(), 3);
  EXPECT_EQ(el.Attribute("ZoomUnit"), "NM");
  EXPECT_EQ(el.Element("Brush")->Attribute("Style"), "12");
  // Loading an element without attributes brings every setting back to its default.
  q.LoadFromXML(TGXML_Element("Presenter"));
  EXPECT_EQ(q.PointSize(), 6);
  EXPECT_EQ(q.PointType(), ppCircle);
  EXPECT_EQ(q.TitleAlignment(), taCenter);
  EXPECT_EQ(q.PointPen().Style(), gpsSolid);
}

TEST(PresenterXML, StoreLoadsOldClassNamesAndTheRenderModes)
{
  TGPresenterStore store;
  store.Add(std::make_unique<TGPolygonPresenter>());
  store.Add(std::make_unique<TGPolylinePresenter>());
  store.Add(std::make_unique<TGPointPresenter>());
  TGXML_Element el("Presenters");
  store.SaveToXML(el);
  EXPECT_EQ(el.Element("Presenter", 0)->Attribute("RenderMode"), "1");
  EXPECT_EQ(el.Element("Presenter", 1)->Attribute("RenderMode"), "2");
  el.Element("Presenter", 2)->AddAttribute("Class", "TPointPresenter");
  TGPresenterStore loaded;
  loaded.LoadFromXML(el);
  ASSERT_EQ(loaded.Count(), 3);
  EXPECT_EQ(loaded.GetPresenter(0).ClassName(), "TGPolygonPresenter");
  EXPECT_EQ(dynamic_cast<TGPolyPresenter&>(loaded.GetPresenter(1)).PolyRenderMode(), prmOpen);
  EXPECT_EQ(loaded.GetPresenter(2).ClassName(), "TGPointPresenter");
  EXPECT_EQ(loaded.ByID(3), &loaded.GetPresenter(2));
  // A class that is no presenter, or none at all, still loads the common settings.
  TGXML_Element odd("Presenters");
  odd.AddElement("Presenter").AddAttribute("Class", "TGLayer");
  odd.Element("Presenter", 0)->AddAttribute("Name", "kept");
  loaded.LoadFromXML(odd);
  ASSERT_EQ(loaded.Count(), 1);
  EXPECT_EQ(loaded.GetPresenter(0).Name(), "kept");
}

} // namespace
} // namespace vtr
