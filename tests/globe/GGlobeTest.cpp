// The globe control driven as a user drives it (offscreen): centring, resizing, rubber-band
// zoom, rotation, click selection, the view MER, the day/night shadow, paths and the drawing
// primitives, subscribers, the layer-tree update and pictures at other sizes.
#include "globe/GGlobe.h"

#include "globe/GGeodesy.h"
#include "globe/GLabelRenderer.h"

#include "GGlobeTestSupport.h"
#include "GlobeTestSupport.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <cmath>

namespace vtr {
namespace {

using vtrtest::ErrorText;

constexpr TColor kYellow = 0x00FFFF;
constexpr TColor kFuchsia = 0xFF00FF;

class GlobeControl : public vtrtest::GlobeTest
{
protected:
  TGPointLL LLAt(int x, int y)
  {
    TGPointLL ll;
    EXPECT_TRUE(globe->Projector().DeviceXYToLL(x, y, ll)) << x << "," << y;
    return ll;
  }
  // Lends the renderer a black pen and a lime brush inside OnRender.
  static void Ink(TGGlobe& g)
  {
    g.Renderer().Pen().Define(clBlack, gpsSolid, 1, guPixel);
    g.Renderer().Brush().Define(clLime, clLime, gbsSolid);
  }
  // Renders, from OnRender, the ring at 60 S (every 10 degrees from firstLon, every other
  // vertex wave degrees further south) as a polygon.
  void RenderSouthernCap(int firstLon = -175, int wave = 0)
  {
    ring = std::make_shared<TGPointStore>();
    for (int lon = firstLon; lon < firstLon + 360; lon += 10)
      ring->AddDD(-60 - wave * ((lon / 10) % 2 != 0), lon);
    globe->OnRender = [r = ring](TGGlobe& g) {
      Ink(g);
      g.RenderPolygon(*r);
    };
    globe->RenderFrame();
  }
  std::shared_ptr<TGPointStore> ring;
  TColor At(double lon, double lat)
  {
    const TGPoint p = XY(lon, lat);
    return Pixel(p.X, p.Y);
  }
};

// Angle in degrees between two positions on the sphere.
double ArcDeg(const TGPointLL& a, const TGPointLL& b)
{
  return std::acos(std::clamp(V3Dot(LLToUnitVector(a), LLToUnitVector(b)), -1.0, 1.0)) * 180 /
         3.14159265358979323846;
}

TEST_F(GlobeControl, LocateToLLPutsThePositionAtTheClientCentre)
{
  MakeSphereGlobe(200, 160);
  globe->LocateToLL(DDToPointLL(10, 20));
  const TGPoint at = XY(10, 20);
  EXPECT_NEAR(at.X, 100, 1);
  EXPECT_NEAR(at.Y, 80, 1);

  // An object is centred on the middle of its rectangle.
  TGLayer& layer = AddLayer("objects");
  auto sq = AddSquare(layer, -30, -10, 20, 0);
  globe->LocateToObject(*sq);
  EXPECT_NEAR(XY(-20, 0).X, 100, 1);
  EXPECT_NEAR(XY(-20, 0).Y, 80, 1);
}

TEST_F(GlobeControl, ResizingFrom300To600DoublesScaleAndOrigin)
{
  MakeSphereGlobe(300, 300);
  globe->Projector().SetCenterXY({140, 170});
  const long double sf = globe->Projector().ScaleFactor();
  globe->resize(600, 600);
  QApplication::processEvents();
  EXPECT_EQ(globe->ClientWidth(), 600);
  EXPECT_EQ(globe->Renderer().Width(), 600);
  EXPECT_NEAR(static_cast<double>(globe->Projector().ScaleFactor() / sf), 2.0, 1e-9);
  EXPECT_EQ(globe->Projector().CenterXY(), (TGPoint{280, 340}));
}

TEST_F(GlobeControl, RightDragZoomsIntoTheRectangleReverseDragHalvesSmallDragIgnored)
{
  MakeSphereGlobe(200, 200);
  const long double sf = globe->Projector().ScaleFactor();
  int zoomed = 0;
  globe->OnZoomed = [&](TGGlobe&) { ++zoomed; };

  Drag(Qt::RightButton, {50, 50}, {55, 100}); // 5 x 50: nothing
  EXPECT_EQ(globe->Projector().ScaleFactor(), sf);

  Drag(Qt::RightButton, {150, 150}, {50, 50}); // bottom-right to top-left: half the scale
  EXPECT_NEAR(static_cast<double>(globe->Projector().ScaleFactor() / sf), 0.5, 1e-12);

  // Forwards: the 50-pixel square fills the 200-pixel view, its centre at the view's centre.
  globe->Projector().SetScaleFactor(sf);
  globe->Projector().SetCenterXY({100, 100});
  const TGPointLL mid = LLAt(75, 75);
  zoomed = 0;
  Drag(Qt::RightButton, {50, 50}, {100, 100});
  EXPECT_NEAR(static_cast<double>(globe->Projector().ScaleFactor() / sf), 4.0, 0.05);
  EXPECT_EQ(zoomed, 1);
  TGPoint now;
  globe->Projector().PointLLToXY(mid, now);
  EXPECT_NEAR(now.X, 100, 2);
  EXPECT_NEAR(now.Y, 100, 2);
}

TEST_F(GlobeControl, ViewRectangleOfZeroWidthFitsTheMap)
{
  MakeSphereGlobe(200, 200);
  const long double fit = globe->Projector().ScaleFactor();
  globe->Projector().SetScaleFactor(fit * 8);
  globe->SetViewRect({0, 0, 0, 100});
  EXPECT_NEAR(static_cast<double>(globe->Projector().ScaleFactor() / fit), 1.0, 1e-9);
}

TEST_F(GlobeControl, LeftDragRotatesSoTheGrabbedPositionFollowsThePointer)
{
  MakeSphereGlobe(200, 200);
  int rotated = 0;
  globe->OnRotated = [&](TGGlobe&) { ++rotated; };
  const TGPointLL grabbed = LLAt(100, 100);
  Press(Qt::LeftButton, {100, 100});
  for (int i = 1; i <= 10; ++i)
    Move(Qt::LeftButton, {100 + 3 * i, 100 - 2 * i});
  Release(Qt::LeftButton, {130, 80});
  EXPECT_GT(rotated, 0);
  TGPoint now;
  EXPECT_TRUE(globe->Projector().PointLLToXY(grabbed, now));
  EXPECT_NEAR(now.X, 130, 2);
  EXPECT_NEAR(now.Y, 80, 2);

  // Grabbing outside the disc does nothing.
  const long double x = globe->Projector().XRotation(), y = globe->Projector().YRotation();
  Drag(Qt::LeftButton, {2, 2}, {60, 60});
  EXPECT_EQ(globe->Projector().XRotation(), x);
  EXPECT_EQ(globe->Projector().YRotation(), y);
}

TEST_F(GlobeControl, ClickSelectsOneObjectAndASecondClickDeselectsIt)
{
  MakeFlatGlobe(100, 100);
  TGLayer& layer = AddLayer("units");
  auto p = std::make_unique<TGPointPresenter>(globe.get());
  p->SetPointType(ppSquare);
  p->SetPointSize(10);
  const int32_t id = layer.Presenters().Add(std::move(p));
  auto a = AddPoint(layer, -20, 0, id);
  auto b = AddPoint(layer, 20, 0, id);
  int changes = 0, clicks = 0, objectClicks = 0;
  globe->OnSelectionChange = [&](TGGlobe&) { ++changes; };
  globe->OnClick = [&](TGGlobe& g) {
    ++clicks;
    EXPECT_EQ(g.Selection().Count(), changes == 0 ? 0 : g.Selection().Count());
  };
  globe->OnObjectClick = [&](TGGlobe&, IGMapPoint&) { ++objectClicks; };
  globe->RenderFrame();

  const QPoint atA(XY(-20, 0).X, XY(-20, 0).Y), atB(XY(20, 0).X, XY(20, 0).Y);
  Click(Qt::LeftButton, atA);
  EXPECT_TRUE(a->Selected());
  Click(Qt::LeftButton, atB);
  EXPECT_FALSE(a->Selected());
  EXPECT_TRUE(b->Selected());
  Click(Qt::LeftButton, atB);
  EXPECT_FALSE(b->Selected());
  EXPECT_EQ(changes, 3);
  EXPECT_EQ(objectClicks, 3);
  EXPECT_EQ(clicks, 3);

  // Empty map: the selection stays. The right button never selects.
  Click(Qt::LeftButton, atA);
  Click(Qt::LeftButton, {XY(0, 30).X, XY(0, 30).Y});
  EXPECT_TRUE(a->Selected());
  Click(Qt::RightButton, atB);
  EXPECT_FALSE(b->Selected());
  EXPECT_EQ(changes, 4);

  // With multi-select a click adds to the selection.
  globe->SetGlobeOptions(goMultiSelect);
  Click(Qt::LeftButton, atB);
  EXPECT_TRUE(a->Selected());
  EXPECT_TRUE(b->Selected());
}

TEST_F(GlobeControl, ViewMERCoversTheViewAndFallsBackToTheWorld)
{
  MakeFlatGlobe(40, 40);
  const TGMER m = globe->RectToMER({0, 0, 40, 40});
  EXPECT_NEAR(m.iLongX / double(GU_DEGREE), -20, 1);
  EXPECT_NEAR(m.iLatY / double(GU_DEGREE), -20, 1);
  EXPECT_NEAR(m.iWidthX / double(GU_DEGREE), 40, 1.5);
  EXPECT_NEAR(m.iHeightY / double(GU_DEGREE), 40, 1.5);

  // The whole globe in view: wider than 330 degrees, so the world.
  MakeSphereGlobe(100, 100);
  globe->Projector().SetXRotation(30);
  EXPECT_EQ(globe->RectToMER({0, 0, 100, 100}), WorldMER());

  // A globe that only touches the view: 10 samples or fewer give an empty MER, and the render
  // cycle then queries the whole world.
  globe->Projector().SetCenterXY({-50, 50});
  EXPECT_TRUE(MERIsEmpty(globe->RectToMER({0, 0, 100, 100})));
  globe->RenderFrame();
  EXPECT_EQ(globe->ViewMER(), DDToMER(-180, -90, 360, 180));
}

TEST(GlobeShadow, SunOver180AtMidnightAndOver0AtNoonOn21December)
{
  const auto moment = [](int hour) {
    DateTimeFields f;
    f.year = 2026;
    f.month = 12;
    f.day = 21;
    f.hour = hour;
    return EncodeDateTime(f);
  };
  const TGPointLL midnight = TGGlobe::SunPosition(moment(0));
  const TGPointLL noon = TGGlobe::SunPosition(moment(12));
  const TGPointLL six = TGGlobe::SunPosition(moment(6));
  EXPECT_EQ(midnight.iLongX, GU_180);
  EXPECT_EQ(noon.iLongX, 0);
  EXPECT_EQ(six.iLongX, 90 * GU_DEGREE); // noon at 90 E
  EXPECT_NEAR(midnight.iLatY / double(GU_DEGREE), -23.43, 0.02);
  EXPECT_EQ(noon.iLatY, midnight.iLatY);
  // Half a year later the sun stands in the north.
  DateTimeFields june;
  june.year = 2026;
  june.month = 6;
  june.day = 21;
  EXPECT_NEAR(TGGlobe::SunPosition(EncodeDateTime(june)).iLatY / double(GU_DEGREE), 23.4, 0.2);
}

TEST_F(GlobeControl, RenderCycleDrawsInItsOrder)
{
  // Over one spot: the surface, the graticule behind, a layer's square, OnRender's paint,
  // the graticule in front, then the titles.
  MakeFlatGlobe(60, 60);
  globe->SetSurfaceColor(clBlue);
  globe->Graticule().SetDrawMode(gdBehind);
  globe->Graticule().GraticulePen().Define(clLime, gpsSolid, 1, guPixel);
  TGLayer& layer = AddLayer("squares");
  auto poly = std::make_unique<TGPolygonPresenter>(globe.get());
  poly->PolyPen().Define(clBlack, gpsClear, 1, guPixel);
  poly->PolyBrush().Define(kYellow, kYellow, gbsSolid);
  const int32_t squareID = layer.Presenters().Add(std::move(poly));
  AddSquare(layer, -15, -15, 30, squareID);
  const TGPoint meridian = XY(0, 5); // on the graticule line at 0 degrees, inside the square
  const TGPoint open = XY(25, 25);   // surface only

  globe->RenderFrame();
  EXPECT_EQ(Pixel(open.X, open.Y), clBlue);
  EXPECT_EQ(Pixel(meridian.X, meridian.Y), kYellow); // the layer over the graticule behind

  globe->OnRender = [](TGGlobe& g) {
    g.Renderer().Pen().Define(clBlack, gpsClear, 1, guPixel);
    g.Renderer().Brush().Define(kFuchsia, kFuchsia, gbsSolid);
    g.Renderer().DrawEllipse({20, 20, 40, 40});
  };
  globe->RenderFrame();
  EXPECT_EQ(Pixel(meridian.X, meridian.Y), kFuchsia); // OnRender over the layers

  globe->Graticule().SetDrawMode(gdInFront);
  globe->RenderFrame();
  EXPECT_EQ(Pixel(meridian.X, meridian.Y), clLime); // the graticule in front over OnRender

  // A title drawn at the centre lands on top of everything.
  const int fuchsiaBefore = Count(kFuchsia, 20, 20, 40, 40);
  auto titled = std::make_unique<TGPointPresenter>(globe.get());
  titled->SetPointType(ppNone);
  titled->SetTitleAlignment(taCenter);
  titled->TitleFont().SetColor(clBlack);
  titled->TitleFont().SetSize(14);
  const int32_t titleID = layer.Presenters().Add(std::move(titled));
  AddPoint(layer, 0, 0, titleID, "WWWW");
  globe->RenderFrame();
  EXPECT_LT(Count(kFuchsia, 20, 20, 40, 40), fuchsiaBefore - 5);
}

TEST_F(GlobeControl, ShadowDarkensTheNightSideAndLeavesTheDaySide)
{
  MakeSphereGlobe(400, 400); // a degree is 3.5 pixels at the centre
  DateTimeFields f;
  f.year = 2026;
  f.month = 12;
  f.day = 21;
  f.hour = 6; // sun over 90 E: the eastern half of the view is day, the western night
  const double t = EncodeDateTime(f);
  TGPointLL sun;
  globe->OnRender = [&](TGGlobe& g) { g.RenderShadow(8421504, 1, sun, 80, t); };
  globe->RenderFrame();
  EXPECT_EQ(sun, TGGlobe::SunPosition(t));
  TColor night = clWhite;
  ColorBlend(night, 8421504, 80);
  EXPECT_EQ(At(-40, 0), night);
  EXPECT_EQ(At(40, 0), clWhite);
  EXPECT_EQ(Pixel(2, 2), clWhite); // off the globe
  // Twilight in between, a degree wide: lighter than night, darker than day.
  const int y = XY(0, 0).Y;
  int dusk = 0;
  for (int x = XY(-5, 0).X; x <= XY(5, 0).X; ++x)
    dusk += Pixel(x, y) != clWhite && Pixel(x, y) != night;
  EXPECT_GE(dusk, 2);
  EXPECT_LE(dusk, 5);
}

TEST_F(GlobeControl, PathsRecordChainsInsteadOfDrawing)
{
  MakeSphereGlobe(200, 200);
  EXPECT_EQ(ErrorText([&] { globe->BeginPath(nullptr); }), "BeginPath: chains parameter is nil");
  EXPECT_EQ(ErrorText([&] { globe->EndPath(); }), "EndPath: No Path is open");
  TGChainStore path;
  globe->BeginPath(&path);
  EXPECT_EQ(ErrorText([&] { globe->BeginPath(&path); }), "BeginPath: Path is already open");

  globe->RenderLine(DDToPointLL(0, 0), DDToPointLL(20, 10), 10);
  globe->RenderGreatCircleLine(DDToPointLL(0, 0), DDToPointLL(90, 0), gcShortest);
  globe->RenderGreatCircleLine(DDToPointLL(0, 0), DDToPointLL(90, 0), gcLongest);
  globe->RenderCircle(DDToPointLL(10, 40), 60, guNauticalMile, 0);
  globe->EndPath();
  ASSERT_EQ(path.Count(), 4);

  const TGPointStore& line = path.GetChain(0);
  ASSERT_EQ(line.Count(), 11);
  EXPECT_EQ(line.GetLL(5), (TGPointLL{10 * GU_DEGREE, 5 * GU_DEGREE, 0}));

  const TGPointStore& shortest = path.GetChain(1);
  ASSERT_EQ(shortest.Count(), 91);
  EXPECT_LT(ArcDeg(shortest.GetLL(90), DDToPointLL(90, 0)), 1e-4);
  EXPECT_LT(ArcDeg(shortest.GetLL(45), DDToPointLL(45, 0)), 1e-4);

  const TGPointStore& longest = path.GetChain(2);
  ASSERT_EQ(longest.Count(), 271);
  EXPECT_LT(ArcDeg(longest.GetLL(0), DDToPointLL(90, 0)), 1e-4);
  EXPECT_LT(ArcDeg(longest.GetLL(90), DDToPointLL(180, 0)), 1e-4);
  EXPECT_LT(ArcDeg(longest.GetLL(270), DDToPointLL(0, 0)), 1e-4);

  const TGPointStore& circle = path.GetChain(3);
  ASSERT_EQ(circle.Count(), 37); // 36 steps: an out-of-range step count
  for (int32_t i = 0; i < circle.Count(); ++i)
    EXPECT_NEAR(ArcDeg(circle.GetLL(i), DDToPointLL(10, 40)), 1.0, 1e-3) << i;
}

TEST_F(GlobeControl, LinesTakeTheShortWayAndAreCutAtTheMapEdge)
{
  MakeFlatGlobe(400, 100);
  TGChainStore path;
  globe->BeginPath(&path);
  globe->RenderLine(DDToPointLL(170, 0), DDToPointLL(-170, 0), 2);
  globe->EndPath();
  ASSERT_EQ(path.Count(), 1);
  EXPECT_EQ(path.GetChain(0).GetLL(1).iLongX, GU_180);

  globe->OnRender = [](TGGlobe& g) {
    Ink(g);
    g.RenderLine(DDToPointLL(170, 0), DDToPointLL(-170, 0), 4);
  };
  globe->RenderFrame();
  const int y = XY(0, 0).Y;
  EXPECT_EQ(Count(clBlack, XY(-168, 0).X, y - 1, XY(168, 0).X, y + 2), 0);
  EXPECT_EQ(At(175, 0), clBlack);
  EXPECT_EQ(At(-175, 0), clBlack);
  EXPECT_EQ(At(179.5, 0), clBlack); // the pieces reach the edges
  EXPECT_EQ(At(-179.5, 0), clBlack);
}

TEST_F(GlobeControl, PolarCapsFillToThePoleOnFlatMaps)
{
  MakeFlatGlobe(400, 200);
  RenderSouthernCap();
  EXPECT_EQ(At(0, -80), clLime);
  EXPECT_EQ(At(178, -75), clLime);
  EXPECT_EQ(At(-178, -75), clLime);
  EXPECT_EQ(At(0, -50), clWhite);
  EXPECT_EQ(At(0, 30), clWhite);
}

TEST_F(GlobeControl, PolarCapWithAVertexOnTheMapEdgeStaysOnePolygon)
{
  // Centred on 150 E the map's edge is 30 W, where the ring has a vertex.
  MakeFlatGlobe(400, 200);
  globe->Projector().SetCentralMeridian(150);
  TGPoint edge;
  EXPECT_FALSE(globe->Projector().PointLLToXY(DDToPointLL(-30, -60), edge)); // the east edge
  RenderSouthernCap(-180, 8);
  for (int lon = -175; lon <= 175; lon += 5)
    if (lon != -30) {
      EXPECT_EQ(At(lon, -70), clLime) << lon;
      EXPECT_EQ(At(lon, -80), clLime) << lon;
    }
  // No edges but the ring's: where the ring runs at 60 S, 68 S is inside, unstroked.
  for (int lon = -160; lon <= 160; lon += 20)
    EXPECT_EQ(At(lon, -68), clLime) << lon;
  EXPECT_EQ(At(0, -50), clWhite);
}

TEST_F(GlobeControl, PolarCapsCloseOverThePoleOnTheSphere)
{
  MakeSphereGlobe(200, 200);
  RenderSouthernCap();
  EXPECT_EQ(At(0, -75), clLime);
  EXPECT_EQ(At(-60, -70), clLime);
  EXPECT_EQ(At(0, -45), clWhite);
  EXPECT_EQ(At(0, 0), clWhite);
  EXPECT_EQ(At(0, -60.5), clBlack); // its outline

  // Seen from below the pole: the cap's outline is its ring, not the detour to the pole along
  // the far meridian.
  globe->Projector().SetXRotation(-75);
  globe->Projector().SetYRotation(30);
  globe->RenderFrame();
  for (double lat = -85; lat <= -65; lat += 2.5)
    EXPECT_EQ(At(-150, lat), clLime) << lat;
  EXPECT_EQ(At(-90, -90), clLime);

  // Turned so that the cap lies wholly behind the globe: nothing of it shows (its points all
  // lie on the rim, where a sliver of a pixel or two may come out).
  globe->Projector().SetXRotation(40);
  globe->RenderFrame();
  const TGPoint c = globe->Projector().CenterXY();
  int inside = 0;
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 200; ++x)
      if (std::hypot(x - c.X, y - c.Y) < 95) inside += Pixel(x, y) == clLime;
  EXPECT_EQ(inside, 0);
}

TEST_F(GlobeControl, PolygonsReachingBehindTheSphereAreNotOutlinedAlongItsRim)
{
  // A square from 60 to 100 degrees east seen from 0 degrees: its eastern part lies behind the
  // globe and is pulled onto the rim to close the fill, but the rim is no edge of it.
  MakeSphereGlobe(200, 200);
  globe->Projector().SetScaleFactor(globe->Projector().ScaleFactor() * 0.8L);
  auto square = std::make_shared<TGPointStore>();
  for (int lat = -20; lat < 20; lat += 2)
    square->AddDD(lat, 60);
  for (int lon = 60; lon < 100; lon += 2)
    square->AddDD(20, lon);
  for (int lat = 20; lat > -20; lat -= 2)
    square->AddDD(lat, 100);
  for (int lon = 100; lon > 60; lon -= 2)
    square->AddDD(-20, lon);
  for (TGBrushStyle fill : {gbsClear, gbsSolid}) {
    SCOPED_TRACE(fill);
    globe->OnRender = [square, fill](TGGlobe& g) {
      g.Renderer().Pen().Define(clBlack, gpsSolid, 1, guPixel);
      g.Renderer().Brush().Define(clLime, clLime, fill);
      g.RenderPolygon(*square);
    };
    globe->RenderFrame();
    const TGPoint rim = XY(89.9, 0);
    // Its edges on the near side are drawn up to the rim, none along it.
    for (const auto& [lon, lat] : {std::pair{60, 0}, {60, 20}, {76, 20}, {76, -20}}) {
      const TGPoint edge = XY(lon, lat);
      EXPECT_EQ(Pixel(edge.X, edge.Y), clBlack) << lon << "," << lat;
    }
    EXPECT_EQ(Count(clBlack, rim.X - 1, rim.Y - 6, rim.X + 2, rim.Y + 7), 0);
    const TGPoint inside = XY(75, 0);
    EXPECT_EQ(Pixel(inside.X, inside.Y), fill == gbsSolid ? clLime : clWhite);
  }
}

TEST_F(GlobeControl, TextureTrianglesAreCutAtTheFarMeridianOnFlatMaps)
{
  MakeFlatGlobe(400, 100);
  TGBitmap image;
  image.SetSize(8, 8);
  image.Clear(clRed);
  globe->OnRender = [&image](TGGlobe& g) {
    // From 170 E to 190 E, that is to 170 W.
    g.RenderTextureTriangle({TGPoint{0, 0}, {8, 0}, {0, 8}},
                            {TGPointLL{170 * GU_DEGREE, 20 * GU_DEGREE, 0},
                             {190 * GU_DEGREE, 20 * GU_DEGREE, 0},
                             {170 * GU_DEGREE, -20 * GU_DEGREE, 0}},
                            image, false);
  };
  globe->RenderFrame();
  EXPECT_EQ(At(172, 10), clRed);
  EXPECT_EQ(At(-178, 17), clRed);
  EXPECT_EQ(Count(clRed, XY(-160, 0).X, 0, XY(160, 0).X, 100), 0);

  // Centred on 20 E the map's edge is 160 W: a triangle across it, its corners given wrapped,
  // is cut there too.
  globe->Projector().SetCentralMeridian(20);
  globe->OnRender = [&image](TGGlobe& g) {
    g.RenderTextureTriangle({TGPoint{0, 0}, {8, 0}, {0, 8}},
                            {TGPointLL{-170 * GU_DEGREE, 20 * GU_DEGREE, 0},
                             {-150 * GU_DEGREE, 20 * GU_DEGREE, 0},
                             {-170 * GU_DEGREE, -20 * GU_DEGREE, 0}},
                            image, false);
  };
  globe->RenderFrame();
  const int centre = globe->Projector().XOrigin();    // 20 E
  EXPECT_EQ(Pixel(centre + 173, XY(0, 10).Y), clRed); // 167 W, at the east edge
  EXPECT_EQ(Pixel(centre - 178, XY(0, 17).Y), clRed); // 158 W, at the west edge
  EXPECT_EQ(Count(clRed, centre - 160, 0, centre + 160, 100), 0);
}

TEST_F(GlobeControl, SubscribersHearOfRendersLayerChangesAndTheEnd)
{
  struct Listener : IGlobeSubscriber
  {
    std::vector<int32_t> codes;
    void GlobeNotification(TGGlobe&, int32_t code) override { codes.push_back(code); }
  };
  MakeFlatGlobe(40, 40);
  auto listener = std::make_shared<Listener>();
  globe->Subscribe(listener);
  globe->RenderFrame();
  EXPECT_EQ(listener->codes, std::vector<int32_t>{gnRendered});
  AddLayer("more");
  EXPECT_EQ(listener->codes.back(), gnLayersChanged);
  globe.reset();
  EXPECT_EQ(listener->codes.back(), gnDestroying);
}

TEST_F(GlobeControl, LayerTreeUpdateRunsOnceInsideAnUpdateBracket)
{
  MakeFlatGlobe(40, 40);
  int updates = 0, changed = 0;
  globe->OnUpdateLayerTree = [&](TGGlobe& g) {
    ++updates;
    EXPECT_TRUE(g.IsBusy());
    if (g.Layers().LayerByName("db") == nullptr) AddLayer("db"); // adding marks the tree again
  };
  globe->OnLayersChanged = [&](TGGlobe&) { ++changed; };
  globe->BeginUpdate();
  AddLayer("a");
  AddLayer("b");
  EXPECT_EQ(updates, 0);
  globe->EndUpdate();
  EXPECT_EQ(updates, 1);
  EXPECT_EQ(changed, 1);
  EXPECT_NE(globe->Layers().LayerByName("db"), nullptr);
  EXPECT_EQ(ErrorText([&] { globe->EndUpdate(); }).rfind("Mismatched BeginUpdate/EndUpdate", 0),
            0u);
}

TEST_F(GlobeControl, LabelRendererForgetsLayersThatLeaveTheTree)
{
  MakeFlatGlobe(100, 100);
  TGLayer& layer = AddLayer("units");
  auto p = std::make_unique<TGPointPresenter>(globe.get());
  p->SetTitleAlignment(taCenter);
  const int32_t id = layer.Presenters().Add(std::move(p));
  AddPoint(layer, 0, 0, id, "Alpha");
  globe->RenderFrame();
  ASSERT_NE(globe->TitleAtLL(DDToPointLL(0, 0)), nullptr);
  globe->Layers().Delete(&layer);
  EXPECT_EQ(globe->TitleAtLL(DDToPointLL(0, 0)), nullptr);
  EXPECT_EQ(globe->GlobeLayer().ObjectAtLL(DDToPointLL(0, 0)), nullptr);
}

TEST_F(GlobeControl, ScrollBarsShowAZoomedMapAndPanIt)
{
  MakeFlatGlobe(200, 100, 0.5); // the whole world fits: no bars
  globe->SetScrollBars(ssBoth);
  QApplication::processEvents();
  EXPECT_EQ(globe->verticalScrollBar()->maximum(), globe->verticalScrollBar()->minimum());
  globe->Projector().SetScaleFactor(4.0L / GU_DEGREE);
  QApplication::processEvents();
  QScrollBar& v = *globe->verticalScrollBar();
  QScrollBar& h = *globe->horizontalScrollBar();
  ASSERT_GT(v.maximum(), v.minimum());
  ASSERT_GT(h.maximum(), h.minimum());
  // A bar that appears narrows the client area but keeps the scale.
  EXPECT_NEAR(static_cast<double>(globe->Projector().ScaleFactor() * GU_DEGREE), 4.0, 1e-12);
  EXPECT_EQ(globe->Renderer().Width(), globe->viewport()->width());
  // Moving a bar down by 10 degrees pans the map up by 40 pixels.
  const TGPoint before = globe->Projector().CenterXY();
  v.setValue(v.value() + 10 * GU_DEGREE);
  EXPECT_EQ(globe->Projector().CenterXY(), (TGPoint{before.X, before.Y - 40}));
  h.setValue(h.value() - 5 * GU_DEGREE);
  EXPECT_EQ(globe->Projector().CenterXY(), (TGPoint{before.X + 20, before.Y - 40}));
  // A click in the trough pans half a view; an arrow click a twentieth of one.
  const TGPoint mid = globe->Projector().CenterXY();
  const int viewHeightPx = globe->Renderer().Height();
  v.triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_NEAR(globe->Projector().CenterXY().Y, mid.Y - viewHeightPx / 2, 1);
  v.triggerAction(QAbstractSlider::SliderPageStepSub);
  EXPECT_NEAR(globe->Projector().CenterXY().Y, mid.Y, 1);
  h.triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_NEAR(globe->Projector().CenterXY().X, mid.X - globe->Renderer().Width() / 20, 1);
}

TEST_F(GlobeControl, RendersOntoAForeignPainter)
{
  MakeFlatGlobe(40, 40);
  globe->SetSurfaceColor(clBlue);
  QImage target(100, 100, QImage::Format_RGB32);
  target.fill(Qt::white);
  {
    QPainter painter(&target);
    globe->RenderToCanvas(painter, QRect(50, 50, 40, 40), false);
  }
  EXPECT_EQ(target.pixel(70, 70) & 0xFFFFFF, 0x0000FFu);
  EXPECT_EQ(target.pixel(20, 20) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(target.pixel(95, 95) & 0xFFFFFF, 0xFFFFFFu); // clipped to the rectangle
  EXPECT_EQ(globe->Renderer().Width(), 40);
}

TEST_F(GlobeControl, PanAndPicturesAtAnotherSize)
{
  MakeFlatGlobe(40, 40);
  int panned = 0;
  globe->OnPanned = [&](TGGlobe&) { ++panned; };
  globe->PanViewXY(10 * GU_DEGREE, -5 * GU_DEGREE);
  EXPECT_EQ(globe->Projector().CenterXY(), (TGPoint{10, 25}));
  EXPECT_GE(panned, 1);

  globe->SetSurfaceColor(clBlue);
  const long double sf = globe->Projector().ScaleFactor();
  const TGPoint origin = globe->Projector().CenterXY();
  const std::unique_ptr<TGBitmap> big = globe->GetBitmap(80, 60);
  EXPECT_EQ(big->Width(), 80);
  EXPECT_EQ(big->Height(), 60);
  int blue = 0;
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 80; ++x)
      blue += big->GetPixel(x, y) == clBlue;
  EXPECT_GT(blue, 80 * 60 / 2);
  // The control's own view is as it was.
  EXPECT_EQ(globe->Projector().ScaleFactor(), sf);
  EXPECT_EQ(globe->Projector().CenterXY(), origin);
  EXPECT_EQ(globe->Renderer().Width(), 40);
}

} // namespace
} // namespace vtr
