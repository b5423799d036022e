// The three projection models: forward and inverse projection, visibility, whole point stores,
// the rectangle test, the axis rules of the flat models, surface and texture painting.
#include "globe/GProjector.h"

#include "ProjectorTestSupport.h"
#include "globe/GBitmap.h"
#include "globe/GGeodesy.h"
#include "globe/GPointStore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace vtr {
namespace {

using vtrtest::AngleGU;
using vtrtest::FakeGlobe;

class ModelTest : public ::testing::Test
{
protected:
  ModelTest()
  {
    projector.SetProjectionClass("TGSphericalPrj");
    projector.SetScaleFactor(0); // 300 x 300, the disc fills it
  }

  void Use(const char* model, long double scale)
  {
    projector.SetProjectionClass(model);
    projector.SetScaleFactor(scale);
  }
  bool Visible(const TGPointLL& pt)
  {
    TGPoint xy;
    return projector.PointLLToXY(pt, xy);
  }
  TGPoint XY(const TGPointLL& pt)
  {
    TGPoint xy;
    projector.PointLLToXY(pt, xy);
    return xy;
  }
  long double Pixels(long double n) const { return n / projector.ScaleFactor(); }
  TGPointBuffer& Buffer() { return globe.renderer.Points(); }
  TGSphericalPrj& Sphere() { return dynamic_cast<TGSphericalPrj&>(*projector.ProjectionModel()); }

  FakeGlobe globe;
  TGProjector projector{globe};
};

TEST_F(ModelTest, SphereTiltedBy23AndAHalfDegreesShowsTheTropicAtTheCentre)
{
  TGPointLL centre;
  ASSERT_TRUE(projector.DeviceXYToLL(150, 150, centre));
  EXPECT_NEAR(centre.iLatY, 126'900'000, 10);
  EXPECT_NEAR(centre.iLongX, 0, 10);

  TGPoint xy;
  EXPECT_TRUE(projector.PointLLToXY({0, 0, 0}, xy));
  EXPECT_EQ(xy.X, 150);
  EXPECT_GT(xy.Y, 150); // below the centre
  EXPECT_TRUE(projector.PointLLToXY({0, GU_90, 0}, xy));
  EXPECT_EQ(xy.X, 150);
  EXPECT_LT(xy.Y, 150); // above it
  EXPECT_FALSE(projector.PointLLToXY({GU_180, 0, 0}, xy));
  // East is to the right.
  EXPECT_TRUE(projector.PointLLToXY(DDToPointLL(30, 23.5), xy));
  EXPECT_GT(xy.X, 150);
}

TEST_F(ModelTest, RaisedPointsBehindTheGlobeShowOnlyBeyondTheRim)
{
  projector.SetXRotation(0); // looking at (0, 0)
  struct Case
  {
    const char* what;
    TGPointLL pt;
    bool visible;
  };
  const int32_t highUp = static_cast<int32_t>(EarthRadiusGU / 100); // 1 % of the radius
  const Case cases[] = {
      {"front, on the ground", DDToPointLL(89, 0), true},
      {"behind, on the ground", DDToPointLL(91, 0), false},
      {"behind, raised beyond the rim", PointLLH(DDToGU(91), 0, highUp), true},
      {"behind, raised but inside the disc", PointLLH(DDToGU(120), 0, highUp), false},
      {"behind, barely raised", PointLLH(DDToGU(91), 0, 1000), false},
      {"opposite point, raised", PointLLH(GU_180, 0, highUp), false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Visible(c.pt), c.visible) << c.what;
  // The device point is written also when invisible: behind (91E) lies right of the centre.
  TGPoint xy;
  EXPECT_FALSE(projector.PointLLToXY(DDToPointLL(91, 0), xy));
  EXPECT_GT(xy.X, 290);
}

TEST_F(ModelTest, DevicePointsOffTheDiscHaveNoPosition)
{
  const TGPoint offDisc[] = {{0, 0}, {299, 299}, {-5, 150}, {150, 301}, {260, 40}};
  for (const TGPoint& p : offDisc) {
    TGPointLL pt{1, 2, 3};
    EXPECT_FALSE(projector.DeviceXYToLL(p.X, p.Y, pt)) << p.X << "," << p.Y;
    EXPECT_EQ(pt, (TGPointLL{972'000'000, 972'000'000, 0}));
  }
  // Inverse projection alone writes nothing when it fails.
  Buffer()[3] = {11, 12};
  EXPECT_FALSE(projector.ProjectionModel()->XYToLL(0, 0, 3));
  EXPECT_EQ(Buffer()[3], (TGPoint{11, 12}));
}

// Forward then inverse on a grid of positions, for each model and some views.
TEST_F(ModelTest, PositionsSurviveAForwardAndInverseRoundTrip)
{
  struct Case
  {
    const char* model;
    long double xRot, yRot, zRot;
  };
  const Case cases[] = {
      {"TGSphericalPrj", 23.5, 0, 0}, {"TGSphericalPrj", -40, 130, 15},
      {"TGSphericalPrj", 90, 0, 0},   {"TGCartesianPrj", 23.5, 0, 0},
      {"TGCartesianPrj", 10, 100, 0}, {"TGMercatorPrj", 23.5, 0, 0},
      {"TGMercatorPrj", -5, -150, 0},
  };
  for (const Case& c : cases) {
    const std::string label = std::string(c.model) + " rotated " +
                              std::to_string(static_cast<double>(c.xRot)) + "," +
                              std::to_string(static_cast<double>(c.yRot));
    Use(c.model, 1e-4); // 1 pixel = 10,000 GU
    projector.SetXRotation(c.xRot);
    projector.SetYRotation(c.yRot);
    projector.SetZRotation(c.zRot);
    const bool sphere = projector.IsContinuous();
    TGPointLL centre;
    if (sphere) {
      ASSERT_TRUE(projector.DeviceXYToLL(projector.XOrigin(), projector.YOrigin(), centre));
    }
    int tested = 0;
    // The flat maps' edge meridian rounds to a pixel half a pixel off the map: not tested.
    for (int lon = sphere ? -180 : -175; lon <= (sphere ? 180 : 175); lon += 5) {
      for (int lat = -85; lat <= 85; lat += 5) {
        const TGPointLL pt = DDToPointLL(lon, lat);
        long double tolerance = Pixels(1);
        if (sphere) {
          // The inverse loses accuracy towards the rim: 2 pixels over the cosine of the angle.
          const long double angle = AngleGU(pt, centre) * RADIANS_PER_GU;
          if (angle > 80 * GU_PI / 180) continue;
          tolerance = Pixels(2) / std::cos(angle);
        }
        TGPoint xy;
        if (!projector.PointLLToXY(pt, xy)) continue;
        TGPointLL back;
        ASSERT_TRUE(projector.DeviceXYToLL(xy.X, xy.Y, back)) << label << " " << lon << "," << lat;
        if (sphere) {
          EXPECT_LE(AngleGU(back, pt), tolerance) << label << " " << lon << "," << lat;
        } else {
          EXPECT_LE(std::abs(LongWrap64(static_cast<int64_t>(back.iLongX) - pt.iLongX)), tolerance)
              << label << " " << lon << "," << lat;
          EXPECT_LE(std::abs(back.iLatY - pt.iLatY), tolerance)
              << label << " " << lon << "," << lat;
        }
        ++tested;
      }
    }
    EXPECT_GT(tested, sphere ? 300 : 2400) << label;
  }
}

// Inverse then forward over the control's pixels: each lands back on its pixel.
TEST_F(ModelTest, DevicePointsSurviveAnInverseAndForwardRoundTrip)
{
  for (const char* model : {"TGSphericalPrj", "TGCartesianPrj", "TGMercatorPrj"}) {
    Use(model, 0); // fitted
    projector.SetYRotation(130);
    if (projector.IsContinuous()) {
      projector.SetXRotation(-40);
      projector.SetZRotation(15);
    }
    const auto* sphere = dynamic_cast<const TGSphericalPrj*>(projector.ProjectionModel());
    int tested = 0;
    for (int32_t y = 2; y < 298; y += 5) {
      for (int32_t x = 2; x < 298; x += 5) {
        TGPointLL pt;
        if (!projector.DeviceXYToLL(x, y, pt)) continue;
        TGPoint xy;
        const bool visible = projector.PointLLToXY(pt, xy);
        if (sphere &&
            std::hypot(x - projector.XOrigin(), y - projector.YOrigin()) > sphere->GlobeRadius - 2)
          continue; // on the rim visibility is a matter of rounding
        EXPECT_TRUE(visible) << model << " " << x << "," << y;
        EXPECT_LE(std::abs(xy.X - x), 1) << model << " " << x << "," << y;
        EXPECT_LE(std::abs(xy.Y - y), 1) << model << " " << x << "," << y;
        ++tested;
      }
    }
    EXPECT_GT(tested, 1000) << model;
  }
}

TEST_F(ModelTest, FlatMapEastEdgeIsExclusiveOnlyInTheCartesianModel)
{
  struct Case
  {
    TGPointLL pt;
    bool cartesian, mercator;
  };
  const Case cases[] = {
      {{GU_180, 0, 0}, false, true},      {{GU_180 - 1, 0, 0}, true, true},
      {{-971'999'999, 0, 0}, true, true}, {{0, GU_90, 0}, true, true},
      {{0, -GU_90, 0}, true, true},       {{0, GU_90 + 1, 0}, false, false},
  };
  for (const char* model : {"TGCartesianPrj", "TGMercatorPrj"}) {
    Use(model, 0);
    const bool mercator = std::string(model) == "TGMercatorPrj";
    for (const Case& c : cases)
      EXPECT_EQ(Visible(c.pt), mercator ? c.mercator : c.cartesian)
          << model << " " << c.pt.iLongX << "," << c.pt.iLatY;
  }
}

TEST_F(ModelTest, CartesianMapIsCentredOnTheCentralMeridian)
{
  Use("TGCartesianPrj", 1e-6);
  projector.SetYAxisChanges(yaNoAction);
  projector.SetCentralMeridian(100);
  EXPECT_EQ(XY(DDToPointLL(100, 0)), projector.CenterXY());
  // The edge meridian (100 - 180 = -80) is the map's east edge, excluded, and its west edge.
  EXPECT_FALSE(Visible(DDToPointLL(-80, 0)));
  EXPECT_TRUE(Visible({DDToGU(-80) + 1, 0, 0}));
  EXPECT_LT(XY({DDToGU(-80) + 1, 0, 0}).X, projector.XOrigin() - 970);
  EXPECT_TRUE(Visible(DDToPointLL(180, 0))); // in the map's east half
  EXPECT_EQ(XY(DDToPointLL(110, 10)),
            (TGPoint{projector.XOrigin() + 54, projector.YOrigin() - 54}));
  TGPointLL pt;
  ASSERT_TRUE(projector.DeviceXYToLL(projector.XOrigin() + 540, projector.YOrigin(), pt));
  EXPECT_EQ(pt.iLongX, DDToGU(-160)); // 540 pixels = 100 degrees east of 100E, past 180
}

TEST_F(ModelTest, MercatorDrawsLatitudesBeyond89DegreesAt89)
{
  Use("TGMercatorPrj", 1e-6);
  const int32_t at89 = XY(DDToPointLL(0, 89)).Y;
  EXPECT_EQ(XY(DDToPointLL(0, 89.5)).Y, at89);
  EXPECT_EQ(XY({0, GU_90, 0}).Y, at89);
  EXPECT_EQ(XY(DDToPointLL(0, -89.9)).Y, XY(DDToPointLL(0, -89)).Y);
  EXPECT_LT(at89, XY(DDToPointLL(0, 88.9)).Y);
  // Latitudes stretch away from the equator: 60 degrees lies more than twice as far as 30.
  const int32_t y0 = projector.YOrigin();
  EXPECT_GT(y0 - XY(DDToPointLL(0, 60)).Y, 2 * (y0 - XY(DDToPointLL(0, 30)).Y));
  EXPECT_NEAR(y0 - XY(DDToPointLL(0, 45)).Y,
              std::log(std::tan(GU_PI / 8 + GU_PI / 4)) * GU_PER_RADIAN * 1e-6, 1);
}

// How the flat models follow the rotations (the mouse rotates through them).
TEST_F(ModelTest, FlatModelsMoveByTheirAxisRules)
{
  Use("TGCartesianPrj", 1e-6); // 10 degrees = 54 pixels
  projector.SetCentralMeridian(0);

  projector.SetXAxisChanges(xaYOrigin);
  int32_t y0 = projector.YOrigin();
  projector.SetXRotation(projector.XRotation() + 10);
  EXPECT_EQ(projector.YOrigin(), y0 + 54);

  projector.SetXAxisChanges(xaCentralParallel);
  projector.SetCentralParallel(175);
  y0 = projector.YOrigin();
  projector.SetXRotation(projector.XRotation() + 10);
  EXPECT_EQ(projector.CentralParallel(), -175);
  EXPECT_EQ(projector.YOrigin(), y0);

  projector.SetXAxisChanges(xaNoAction);
  projector.SetXRotation(projector.XRotation() + 30);
  EXPECT_EQ(projector.YOrigin(), y0);
  projector.SetXAxisChanges(xaYOrigin); // only the change from here on moves the map
  projector.SetXRotation(projector.XRotation() + 5);
  EXPECT_EQ(projector.YOrigin(), y0 + 27);

  projector.SetYAxisChanges(yaCentralMeridian);
  int32_t x0 = projector.XOrigin();
  projector.SetYRotation(projector.YRotation() + 10);
  EXPECT_NEAR(static_cast<double>(projector.CentralMeridian()), 10, 1e-9);
  EXPECT_EQ(projector.XOrigin(), x0);

  projector.SetCentralMeridian(0);
  projector.SetYAxisChanges(yaXOrigin);
  projector.SetYRotation(projector.YRotation() + 10);
  EXPECT_EQ(projector.XOrigin(), x0 - 54);

  projector.SetYAxisChanges(yaNoAction);
  projector.SetYRotation(projector.YRotation() + 10);
  EXPECT_EQ(projector.XOrigin(), x0 - 54);
  EXPECT_EQ(projector.CentralMeridian(), 0);
  // The flat models do not clamp the X rotation.
  projector.SetXRotation(120);
  EXPECT_EQ(projector.XRotation(), 120);
}

TEST_F(ModelTest, SphereProjectsWholeStoresWithRimPullingAndDuplicateDropping)
{
  projector.SetXRotation(0);
  TGPointStore store;
  store.Add(DDToPointLL(0, 0));
  store.Add(DDToPointLL(0.001, 0)); // same pixel as the first: dropped
  store.Add(DDToPointLL(30, 20));
  store.Add(DDToPointLL(120, 10)); // behind: pulled onto the rim
  store.Add(DDToPointLL(180, 0));  // straight behind the centre
  store.Add(DDToPointLL(-45, -45));
  Buffer()[9] = {-1, -1};
  const int32_t next = projector.ProjectionModel()->PointStoreToXY(store, 10);
  EXPECT_EQ(next, 15);
  EXPECT_EQ(Buffer()[9], (TGPoint{-1, -1})); // nothing before iStart
  EXPECT_EQ(Buffer()[10], XY(DDToPointLL(0, 0)));
  EXPECT_EQ(Buffer()[11], XY(DDToPointLL(30, 20)));
  EXPECT_EQ(Buffer()[14], XY(DDToPointLL(-45, -45)));
  const long double r = Sphere().GlobeRadius;
  for (int i : {12, 13}) {
    const TGPoint p = Buffer()[i];
    EXPECT_NEAR(std::hypot(p.X - 150, p.Y - 150), r, 1) << i;
  }
  // Pulled towards where it lies: 120E is to the right.
  EXPECT_GT(Buffer()[12].X, 290);
  EXPECT_NEAR(Buffer()[12].Y, XY(DDToPointLL(120, 10)).Y, 30);

  // A run of points on one pixel collapses to one; the store returns the next free index.
  TGPointStore dense;
  for (int i = 0; i < 100; ++i)
    dense.Add({i * 1000, 0, 0});
  EXPECT_EQ(projector.ProjectionModel()->PointStoreToXY(dense, 0), 1);
  TGPointStore empty;
  EXPECT_EQ(projector.ProjectionModel()->PointStoreToXY(empty, 7), 7);
}

// The runs a model hands on, each as the points it was handed.
using Runs = std::vector<std::vector<TGPoint>>;

TEST_F(ModelTest, StoresComeAsRunsOfVisiblePoints)
{
  projector.SetXRotation(0); // looking at (0, 0)
  const int32_t highUp = static_cast<int32_t>(EarthRadiusGU / 100);
  auto runsOf = [&](const TGPointStore& store, bool closed) {
    Runs runs;
    projector.ProjectionModel()->PointStoreRunsToXY(
        store, closed, [&](int32_t n) { runs.emplace_back(Buffer().Data(), Buffer().Data() + n); });
    return runs;
  };
  TGPointStore ring;
  ring.SetStoreHeight(true);
  ring.Add(DDToPointLL(0, 0));
  ring.Add(DDToPointLL(0.001, 0)); // same pixel as the one before: dropped
  ring.Add(DDToPointLL(30, 20));
  ring.Add(DDToPointLL(120, 10));            // behind: ends the run
  ring.Add(PointLLH(DDToGU(91), 0, highUp)); // behind, but raised beyond the rim: shows
  ring.Add(PointLLH(DDToGU(91), DDToGU(1), highUp));
  ring.Add(DDToPointLL(180, 0));
  ring.Add(PointLLH(DDToGU(91), DDToGU(-5), highUp)); // one visible point alone: no run
  ring.Add(DDToPointLL(150, 0));
  ring.Add(DDToPointLL(-45, -45));
  ring.Add(DDToPointLL(-10, -5));
  const TGPoint a = XY(DDToPointLL(0, 0)), b = XY(DDToPointLL(30, 20));
  const TGPoint c = XY(DDToPointLL(-45, -45)), d = XY(DDToPointLL(-10, -5));
  const TGPoint r1 = XY(PointLLH(DDToGU(91), 0, highUp));
  const TGPoint r2 = XY(PointLLH(DDToGU(91), DDToGU(1), highUp));
  // Open, the last run ends at the last point; closed, it goes on to the first.
  EXPECT_EQ(runsOf(ring, false), (Runs{{a, b}, {r1, r2}, {c, d}}));
  EXPECT_EQ(runsOf(ring, true), (Runs{{a, b}, {r1, r2}, {c, d, a}}));

  // Several points on one pixel make a dot-sized line; one visible point makes nothing.
  TGPointStore dense;
  for (int i = 0; i < 3; ++i)
    dense.Add({i * 1000, 0, 0});
  EXPECT_EQ(runsOf(dense, false), (Runs{{a, a}}));
  TGPointStore single;
  single.Add(DDToPointLL(0, 0));
  EXPECT_EQ(runsOf(single, false), Runs{});
  EXPECT_EQ(runsOf(single, true), (Runs{{a, a}}));
  EXPECT_EQ(runsOf(TGPointStore(), true), Runs{});

  // Flat maps: the excluded east edge ends a run.
  Use("TGCartesianPrj", 0);
  TGPointStore line;
  line.Add(DDToPointLL(10, 10));
  line.Add(DDToPointLL(20, 10));
  line.Add({GU_180, 0, 0});
  line.Add(DDToPointLL(-10, -10));
  line.Add(DDToPointLL(-20, -10));
  EXPECT_EQ(runsOf(line, false), (Runs{{XY(DDToPointLL(10, 10)), XY(DDToPointLL(20, 10))},
                                       {XY(DDToPointLL(-10, -10)), XY(DDToPointLL(-20, -10))}}));
}

// The sphere takes its runs from the stores' 3-D points; point by point through PointLLToXY
// (the shared implementation) must give the same runs, raised points and the rim included.
TEST_F(ModelTest, SphereRunsMatchPointByPointProjection)
{
  std::mt19937_64 random(1203); // a fixed random stream
  auto uniform = [&](double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(random);
  };
  auto collect = [&](Runs& runs) {
    return [&runs, this](int32_t n) { runs.emplace_back(Buffer().Data(), Buffer().Data() + n); };
  };
  const long double fitted = projector.ScaleFactor();
  size_t runs = 0;
  for (const long double zoom : {1.0L, 3.0L, 20.0L, 1.0L}) {
    projector.SetXRotation(uniform(-90, 90));
    projector.SetYRotation(uniform(-180, 180));
    projector.SetScaleFactor(fitted * zoom);
    for (int n = 0; n < 20; ++n) {
      // A random walk across the rim, some points raised, some on one pixel.
      TGPointStore chain;
      chain.SetStoreHeight(true);
      double lat = uniform(-80, 80), lon = uniform(-180, 180);
      for (int i = 0; i < 300; ++i) {
        const int32_t height = uniform(0, 1) < 0.3 ? static_cast<int32_t>(uniform(0, 6e7)) : 0;
        chain.Add(PointLLH(DDToGU(lon), DDToGU(std::clamp(lat, -90.0, 90.0)), height));
        const double step = uniform(0, 1) < 0.3 ? 1e-4 : 3;
        lat += uniform(-step, step);
        lon += uniform(-step, step);
      }
      for (const bool closed : {false, true}) {
        Runs fast, pointByPoint;
        Sphere().PointStoreRunsToXY(chain, closed, collect(fast));
        Sphere().TGProjectionModel::PointStoreRunsToXY(chain, closed, collect(pointByPoint));
        ASSERT_EQ(fast, pointByPoint) << "zoom " << static_cast<double>(zoom) << ", chain " << n;
        runs += fast.size();
      }
    }
  }
  EXPECT_GT(runs, 40u); // the walks do cross the rim
}

TEST_F(ModelTest, FlatStoresSkipInvisiblePoints)
{
  Use("TGCartesianPrj", 0);
  TGPointStore store;
  store.Add(DDToPointLL(10, 10));
  store.Add({GU_180, 0, 0}); // the excluded east edge
  store.Add(DDToPointLL(-10, -10));
  EXPECT_EQ(projector.ProjectionModel()->PointStoreToXY(store, 2), 4);
  EXPECT_EQ(Buffer()[2], XY(DDToPointLL(10, 10)));
  EXPECT_EQ(Buffer()[3], XY(DDToPointLL(-10, -10)));
}

TEST_F(ModelTest, WholeWorldIsVisibleWithoutATest)
{
  for (const char* model : {"TGSphericalPrj", "TGCartesianPrj", "TGMercatorPrj"}) {
    Use(model, 0);
    Buffer()[0] = {-7, -7};
    TGRenderStateSet state = rsSelected | rsFace | rsBackFace;
    EXPECT_TRUE(projector.ProjectionModel()->VisibleMER(WorldMER(), state)) << model;
    EXPECT_EQ(state, rsSelected) << model;
    EXPECT_EQ(Buffer()[0], (TGPoint{-7, -7})) << model; // nothing projected
  }
}

TEST_F(ModelTest, RectanglesAreVisibleWhenASampleIsInView)
{
  struct Case
  {
    const char* what;
    long double yRot;  // the sphere looks at (yRot, 0)
    long double scale; // 0: fitted
    TGMER mer;
    bool visible;
    TGRenderStateSet faces;
  };
  const Case cases[] = {
      {"in front", 0, 0, DDToMER(-10, -10, 20, 20), true, rsFace},
      {"behind", 0, 0, DDToMER(150, -10, 20, 20), false, 0},
      {"across the rim", 0, 0, DDToMER(80, -10, 20, 20), true, rsFace | rsBackFace},
      {"across 180, seen from 180", 180, 0, DDToMER(170, -10, 20, 20), true, rsFace},
      {"across 180, seen from 0", 0, 0, DDToMER(170, -10, 20, 20), false, 0},
      {"in front but outside the control", 0, 1e-5, DDToMER(20, 0, 10, 10), false, 0},
  };
  for (const Case& c : cases) {
    projector.SetScaleFactor(c.scale);
    projector.SetXRotation(0);
    projector.SetYRotation(c.yRot);
    projector.SetCenterXY({150, 150});
    TGRenderStateSet state = rsSelected;
    EXPECT_EQ(projector.ProjectionModel()->VisibleMER(c.mer, state), c.visible) << c.what;
    EXPECT_EQ(state, rsSelected | c.faces) << c.what;
  }
  // The flat map: a rectangle across its edge meridian shows in either half.
  Use("TGCartesianPrj", 0);
  TGRenderStateSet state = 0;
  EXPECT_TRUE(projector.ProjectionModel()->VisibleMER(DDToMER(170, 0, 20, 10), state));
  EXPECT_TRUE(state & rsFace);
}

TEST_F(ModelTest, SphereSurfaceIsACircleJustInsideTheRim)
{
  projector.SetCenterXY({140, 160});
  projector.ProjectionModel()->PaintSurface();
  ASSERT_EQ(globe.renderer.drawn.size(), 1u);
  ASSERT_EQ(globe.renderer.drawn[0].size(), 1u);
  EXPECT_TRUE(globe.renderer.drawClosed);
  const auto& ring = globe.renderer.drawn[0][0];
  ASSERT_EQ(ring.size(), 180u);
  const long double r = Sphere().GlobeRadius - 1;
  EXPECT_EQ(ring[0], (TGPoint{140 + RoundToInt32(r), 160}));
  for (const TGPoint& p : ring)
    EXPECT_NEAR(std::hypot(p.X - 140, p.Y - 160), r, 1);
  // 2 degrees apart: a quarter turn after 45 points.
  EXPECT_NEAR(ring[45].X, 140, 1);
  EXPECT_NEAR(std::abs(ring[45].Y - 160), r, 1);
}

TEST_F(ModelTest, FlatSurfaceIsTheWorldOutlineWhateverTheCentralMeridian)
{
  Use("TGCartesianPrj", 1e-7);
  projector.SetCentralMeridian(40);
  projector.ProjectionModel()->PaintSurface();
  EXPECT_EQ(projector.CentralMeridian(), 40); // restored
  ASSERT_EQ(globe.renderer.drawn.size(), 1u);
  const auto& ring = globe.renderer.drawn[0][0];
  ASSERT_EQ(ring.size(), 108u);
  const long double sf = projector.ScaleFactor();
  const int32_t xo = projector.XOrigin(), yo = projector.YOrigin();
  auto [minX, maxX] =
      std::minmax_element(ring.begin(), ring.end(), [](auto& a, auto& b) { return a.X < b.X; });
  auto [minY, maxY] =
      std::minmax_element(ring.begin(), ring.end(), [](auto& a, auto& b) { return a.Y < b.Y; });
  EXPECT_EQ(minX->X, xo + RoundToInt32(-971'999'999 * sf));
  EXPECT_EQ(maxX->X, xo + RoundToInt32((GU_180 - 1) * sf));
  EXPECT_EQ(minY->Y, yo - RoundToInt32(GU_90 * sf));
  EXPECT_EQ(maxY->Y, yo + RoundToInt32(GU_90 * sf));
  // Southern edge first, from the west.
  EXPECT_EQ(ring[0], (TGPoint{minX->X, maxY->Y}));
  EXPECT_EQ(ring[36], (TGPoint{maxX->X, maxY->Y}));
}

// Spherical area of a triangle of unit vectors (Van Oosterom and Strackee).
long double TriangleArea(const TGTriangleLL& t)
{
  const TGPoint3D a = LLToUnitVector(t[0]), b = LLToUnitVector(t[1]), c = LLToUnitVector(t[2]);
  const TGPoint3D bc{b.Y * c.Z - b.Z * c.Y, b.Z * c.X - b.X * c.Z, b.X * c.Y - b.Y * c.X};
  const long double triple = a.X * bc.X + a.Y * bc.Y + a.Z * bc.Z;
  const long double d = 1 + V3Dot(a, b) + V3Dot(b, c) + V3Dot(c, a);
  return std::fabs(2 * std::atan2(triple, d));
}

TEST_F(ModelTest, SphereTextureCoversTheNearHemisphereFinerWhenZoomedIn)
{
  TGBitmap image;
  image.SetSize(360, 180);
  std::vector<size_t> counts;
  for (long double scale : {1.5e-7L, 3e-7L, 3e-6L, 3e-5L}) { // depths 4, 5, 6 and 7
    projector.SetScaleFactor(scale);
    globe.triangles.clear();
    projector.ProjectionModel()->PaintSurfaceImage(image);
    counts.push_back(globe.triangles.size());
    long double area = 0;
    for (const auto& t : globe.triangles) {
      area += TriangleArea(t.dest);
      int32_t lo = t.dest[0].iLongX, hi = lo;
      for (size_t i = 0; i < 3; ++i) {
        lo = std::min(lo, t.dest[i].iLongX);
        hi = std::max(hi, t.dest[i].iLongX);
        EXPECT_GE(t.src[i].X, 0);
        EXPECT_LE(t.src[i].X, 359);
        EXPECT_GE(t.src[i].Y, 1);
        EXPECT_LE(t.src[i].Y, 180);
      }
      // No triangle reaches across the +-180 seam.
      EXPECT_LT(static_cast<int64_t>(hi) - lo, GU_180) << "scale " << static_cast<double>(scale);
    }
    // At least the visible hemisphere (2 pi), far less than the whole sphere (4 pi).
    EXPECT_GT(area, 2 * GU_PI) << static_cast<double>(scale);
    EXPECT_LT(area, 3.2L * GU_PI) << static_cast<double>(scale);
  }
  for (size_t i = 1; i < counts.size(); ++i) {
    const double ratio = static_cast<double>(counts[i]) / static_cast<double>(counts[i - 1]);
    EXPECT_GT(ratio, 3.5) << i;
    EXPECT_LT(ratio, 4.1) << i;
  }
  // An empty image draws nothing.
  TGBitmap none;
  globe.triangles.clear();
  projector.ProjectionModel()->PaintSurfaceImage(none);
  EXPECT_TRUE(globe.triangles.empty());
}

TEST_F(ModelTest, FlatTextureIsCutIntoTenDegreeCells)
{
  Use("TGMercatorPrj", 0);
  TGBitmap image;
  image.SetSize(720, 360);
  projector.ProjectionModel()->PaintSurfaceImage(image);
  ASSERT_EQ(globe.triangles.size(), 36u * 18u * 2u);
  // Each corner's texture point is where its position lies on the world image.
  for (const auto& t : globe.triangles) {
    for (size_t i = 0; i < 3; ++i) {
      const long double tx = (t.dest[i].iLongX + 972'000'000.0L) / GU_360 * 720;
      const long double ty = 360 - (t.dest[i].iLatY + 486'000'000.0L) / GU_180 * 360;
      EXPECT_NEAR(t.src[i].X, tx, 0.51);
      EXPECT_NEAR(t.src[i].Y, ty, 0.51);
    }
  }
  // The first cell: the south-west corner of the world, 1 GU in from its edge.
  const auto& first = globe.triangles[0];
  EXPECT_EQ(first.dest[0], (TGPointLL{-GU_180 + 1, -GU_90, 0}));
  EXPECT_EQ(first.dest[1], (TGPointLL{-GU_180 + 53'999'999, -GU_90, 0}));
  EXPECT_EQ(first.src[0], (TGPoint{0, 360}));
  EXPECT_EQ(first.src[2], (TGPoint{0, 340}));
}

} // namespace
} // namespace vtr
