// The projector: property setters and their events, zoom, the model registry and switching
// models, centre, captured views, copies.
#include "globe/GProjector.h"

#include "GlobeTestSupport.h"
#include "ProjectorTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

namespace vtr {
namespace {

using vtrtest::FakeGlobe;

// A globe of 300 x 300 pixels as the control builds it: spherical model, fitted, centred.
class ProjectorTest : public ::testing::Test
{
protected:
  ProjectorTest()
  {
    projector.SetProjectionClass("TGSphericalPrj");
    projector.SetScaleFactor(0);
    projector.OnRotated = [this] { ++rotated; };
    projector.OnPanned = [this] { ++panned; };
    projector.OnZoomed = [this] { ++zoomed; };
  }

  TGPointLL At(int32_t x, int32_t y)
  {
    TGPointLL pt;
    EXPECT_TRUE(projector.DeviceXYToLL(x, y, pt)) << x << "," << y;
    return pt;
  }
  TGPoint XY(const TGPointLL& pt)
  {
    TGPoint xy;
    projector.PointLLToXY(pt, xy);
    return xy;
  }
  // GU spanned by n pixels at the current scale.
  long double Pixels(long double n) const { return n / projector.ScaleFactor(); }

  FakeGlobe globe;
  TGProjector projector{globe};
  int rotated = 0, panned = 0, zoomed = 0;
};

TEST_F(ProjectorTest, StartsWithTheDocumentedView)
{
  FakeGlobe fresh;
  fresh.renderer.width = 400;
  fresh.renderer.height = 200;
  TGProjector p(fresh);
  EXPECT_EQ(p.ProjectionClass(), "");
  EXPECT_EQ(p.XOrigin(), 200);
  EXPECT_EQ(p.YOrigin(), 100);
  EXPECT_EQ(p.Altitude(), 0u);
  EXPECT_EQ(p.XRotation(), 23.5L);
  EXPECT_EQ(p.YRotation(), 0);
  EXPECT_EQ(p.MaxLatitude(), 90);
  EXPECT_EQ(p.MinLongitude(), -180);
  EXPECT_EQ(p.MaxZoom(), 0);
  EXPECT_EQ(p.ScaleFactor(), 200 / 972'000'000.0L);
  EXPECT_EQ(p.Spheroid(), TGSpheroid::WGS84);
  EXPECT_EQ(p.XAxisChanges(), xaYOrigin);
  EXPECT_EQ(p.YAxisChanges(), yaCentralMeridian);
  EXPECT_FALSE(p.UseMinMaxLimits());
  EXPECT_EQ(p.FieldOfViewAngle(), 50);
  // Without a model nothing projects, and off-map is reported.
  TGPointLL ll;
  EXPECT_FALSE(p.DeviceXYToLL(200, 100, ll));
  EXPECT_EQ(ll, (TGPointLL{972'000'000, 972'000'000, 0}));
  TGPoint xy;
  EXPECT_FALSE(p.PointLLToXY({0, 0, 0}, xy));

  // An empty control still gets a usable scale.
  FakeGlobe empty;
  empty.renderer.width = empty.renderer.height = 0;
  TGProjector q(empty);
  EXPECT_EQ(q.ScaleFactor(), 5e-8L);
}

// The globe's constructor and then the program's map form, in their order, on the control's
// default 150 x 150 pixels.
TEST(ProjectorSetUp, MapFormSettingsGiveTheTiltedGlobeAtTheFormsOrigin)
{
  FakeGlobe globe;
  globe.renderer.width = globe.renderer.height = 150;
  TGProjector p(globe);
  p.SetProjectionClass("TGSphericalPrj");
  p.SetScaleFactor(0);
  p.SetCenterXY({75, 75});

  p.SetCenterLatitude(23.5);
  p.SetFieldOfViewAngle(50);
  p.SetMaxLatitude(90);
  p.SetMaxLongitude(180);
  p.SetMinLatitude(-90);
  p.SetMinLongitude(-180);
  p.SetProjectionClass("TGSphericalPrj");
  p.SetScaleFactor(2.42127166576e-07L);
  p.SetUseMinMaxLimits(false);
  p.SetXRotation(23.5);
  p.SetXOrigin(156);
  p.SetYOrigin(153);
  p.SetXAxisChanges(xaYOrigin);
  p.SetYAxisChanges(yaCentralMeridian);

  EXPECT_NEAR(static_cast<double>(p.ScaleFactor()), 2.42127166576e-07, 1e-18);
  EXPECT_EQ(p.CenterXY(), (TGPoint{156, 153}));
  EXPECT_NEAR(static_cast<double>(p.XRotation()), 23.5, 1e-9);
  TGPointLL centre;
  ASSERT_TRUE(p.DeviceXYToLL(156, 153, centre));
  EXPECT_NEAR(centre.iLatY, DDToGU(23.5), 10);
  EXPECT_NEAR(centre.iLongX, 0, 10);
  // The disc (radius 75 pixels) now reaches past the control's right and bottom edges.
  EXPECT_TRUE(p.DeviceXYToLL(149, 153, centre));
  EXPECT_FALSE(p.DeviceXYToLL(10, 10, centre));
}

TEST_F(ProjectorTest, RotationSettersFireRotatedUpdateAndRedrawOnlyOnChange)
{
  const int redraws = globe.redraws, scrolls = globe.scrollBarUpdates;
  projector.SetZRotation(0); // unchanged
  EXPECT_EQ(rotated, 0);
  EXPECT_EQ(globe.redraws, redraws);
  projector.SetZRotation(10);
  EXPECT_EQ(rotated, 1);
  EXPECT_EQ(globe.scrollBarUpdates, scrolls + 1);
  EXPECT_GT(globe.redraws, redraws);
  EXPECT_EQ(panned, 0);
}

TEST_F(ProjectorTest, RotationsAreClampedAndWrappedOnTheSphere)
{
  struct Case
  {
    TGProjectionProperty index;
    long double set, want;
  };
  const Case cases[] = {
      {ppXRotation, 120, 90},   {ppXRotation, -100, -90}, {ppXRotation, 45, 45},
      {ppYRotation, 190, -170}, {ppYRotation, -190, 170}, {ppYRotation, 180, -180},
      {ppZRotation, 370, 10},   {ppZRotation, -181, 179},
  };
  for (const Case& c : cases) {
    projector.SetProperty(c.index, c.set);
    EXPECT_NEAR(static_cast<double>(projector.Property(c.index)), static_cast<double>(c.want),
                1e-12)
        << c.index << " := " << static_cast<double>(c.set);
  }
  // The clamped value is what the view shows.
  projector.SetYRotation(0);
  projector.SetZRotation(0);
  projector.SetXRotation(120);
  EXPECT_NEAR(At(150, 150).iLatY, GU_90, Pixels(1));
}

TEST_F(ProjectorTest, LimitSettersCapAtTheWorldsEdges)
{
  struct Case
  {
    TGProjectionProperty index;
    long double set, want;
  };
  const Case cases[] = {
      {ppMaxLatitude, 100, 90},  {ppMaxLatitude, 45, 45},     {ppMinLatitude, -100, -90},
      {ppMinLatitude, -45, -45}, {ppMaxLongitude, 200, 180},  {ppMinLongitude, -200, -180},
      {ppMaxZoom, 3, 1},         {ppMaxZoom, 0.5, 0.5},       {ppMinZoom, 1e-9, 5e-8L},
      {ppMinZoom, 1e-6, 1e-6},   {ppCentralParallel, 12, 12}, {ppFirstParallel, 30, 30},
  };
  for (const Case& c : cases) {
    projector.SetProperty(c.index, c.set);
    EXPECT_EQ(projector.Property(c.index), c.want) << c.index;
  }
  // Values that are not numbers change nothing.
  projector.SetProperty(ppXRotation, std::nanl(""));
  projector.SetScaleFactor(std::nanl(""));
  EXPECT_EQ(projector.XRotation(), 23.5L);
  EXPECT_TRUE(std::isfinite(projector.ScaleFactor()));
  EXPECT_EQ(rotated, 0);
}

TEST_F(ProjectorTest, OriginSetterFiresPannedAndRedrawsWithoutScrollBars)
{
  const int scrolls = globe.scrollBarUpdates, redraws = globe.redraws;
  projector.SetXOrigin(projector.XOrigin());
  EXPECT_EQ(panned, 0);
  projector.SetXOrigin(170);
  EXPECT_EQ(panned, 1);
  EXPECT_EQ(globe.scrollBarUpdates, scrolls);
  EXPECT_EQ(globe.redraws, redraws + 1);
  // The centre point moves both and then updates the scroll bars.
  projector.SetCenterXY({100, 120});
  EXPECT_EQ(projector.CenterXY(), (TGPoint{100, 120}));
  EXPECT_EQ(panned, 3);
  EXPECT_EQ(globe.scrollBarUpdates, scrolls + 1);
  EXPECT_EQ(rotated, 0);
}

TEST_F(ProjectorTest, ScaleFactorZeroFitsTheModelAndFiveEndsAtOne)
{
  // The fixture fitted the sphere: its diameter fills the 300 pixels.
  EXPECT_NEAR(static_cast<double>(projector.ScaleFactor()), 300 / 619'509'170.0, 1e-20);
  EXPECT_EQ(projector.CenterXY(), (TGPoint{150, 150}));
  TGPointLL pt;
  EXPECT_TRUE(projector.DeviceXYToLL(1, 150, pt));
  EXPECT_FALSE(projector.DeviceXYToLL(-1, 150, pt));

  projector.SetScaleFactor(5);
  EXPECT_EQ(projector.ScaleFactor(), 1);

  // Fitting the flat world on a wide control: its width is the limit.
  globe.renderer.width = 400;
  projector.SetProjectionClass("TGCartesianPrj");
  projector.SetScaleFactor(0);
  EXPECT_NEAR(static_cast<double>(projector.ScaleFactor()), 400 / 1'943'999'999.0, 1e-20);
  EXPECT_EQ(projector.CenterXY(), (TGPoint{200, 150}));
}

TEST_F(ProjectorTest, ScaleFactorRequestsThatChangeNothingAreIgnored)
{
  const long double sf = projector.ScaleFactor();
  const int redraws = globe.redraws;
  projector.SetScaleFactor(sf + 0.5e-10L);
  projector.SetScaleFactor(sf - 0.9e-10L);
  projector.SetScaleFactor(-1);
  EXPECT_EQ(projector.ScaleFactor(), sf);
  EXPECT_EQ(zoomed, 0);
  EXPECT_EQ(globe.redraws, redraws);
  projector.SetScaleFactor(sf + 3e-10L);
  EXPECT_EQ(zoomed, 1);
  EXPECT_NEAR(static_cast<double>(projector.ScaleFactor()), static_cast<double>(sf + 3e-10L),
              1e-18);
}

TEST_F(ProjectorTest, ZoomLimitsBoundTheScaleOnlyWhileMaxExceedsMin)
{
  projector.SetMinZoom(1e-6);
  projector.SetScaleFactor(1e-5); // MaxZoom 0 < MinZoom: no bound yet
  EXPECT_NEAR(static_cast<double>(projector.ScaleFactor()), 1e-5, 1e-18);
  projector.SetMaxZoom(2e-6);
  projector.SetScaleFactor(1e-5);
  EXPECT_NEAR(static_cast<double>(projector.ScaleFactor()), 1e-5, 1e-18); // unchanged: ignored
  projector.SetScaleFactor(3e-5);
  EXPECT_NEAR(static_cast<double>(projector.ScaleFactor()), 2e-6, 1e-18);
  projector.SetScaleFactor(1e-8);
  EXPECT_NEAR(static_cast<double>(projector.ScaleFactor()), 1e-6, 1e-18);
  projector.SetScaleFactor(0); // fit is clamped too
  EXPECT_NEAR(static_cast<double>(projector.ScaleFactor()), 1e-6, 1e-18);
}

// Zooming about the pointer, for every model: the position under the pointer stays there.
TEST_F(ProjectorTest, ZoomAboutThePointerKeepsThePositionUnderIt)
{
  for (const char* model : {"TGSphericalPrj", "TGCartesianPrj", "TGMercatorPrj"}) {
    projector.SetProjectionClass(model);
    projector.SetScaleFactor(1e-6);
    const TGPoint pointer{80, 210};
    const TGPointLL before = At(pointer.X, pointer.Y);
    rotated = panned = zoomed = 0;
    const long double sf = projector.ScaleFactor();
    projector.AdjustScaleFactor(pointer, 1.05);
    EXPECT_NEAR(static_cast<double>(projector.ScaleFactor()), static_cast<double>(sf * 1.05), 1e-18)
        << model;
    const TGPoint after = XY(before);
    EXPECT_LE(std::abs(after.X - pointer.X), 1) << model;
    EXPECT_LE(std::abs(after.Y - pointer.Y), 1) << model;
    EXPECT_EQ(zoomed, 1) << model;
    EXPECT_GE(panned, 1) << model;
    EXPECT_EQ(rotated, 0) << model;
    // The view rectangle and the altitude follow the new scale.
    const long double c = projector.ScaleFactor();
    EXPECT_EQ(globe.viewRect, (TGRect{0, 0, RoundToInt32(300 / c), RoundToInt32(300 / c)}));
    EXPECT_EQ(projector.Altitude(),
              static_cast<uint32_t>(std::nearbyint((300 / c) / std::tan(50 * GU_PI / 180))));
  }
}

TEST_F(ProjectorTest, ZoomClampsAndDeltaZeroDoesNothing)
{
  const long double sf = projector.ScaleFactor();
  const TGPoint origin = projector.CenterXY();
  projector.AdjustScaleFactor({10, 10}, 0);
  EXPECT_EQ(projector.ScaleFactor(), sf);
  EXPECT_EQ(projector.CenterXY(), origin);
  EXPECT_EQ(zoomed, 0);

  projector.AdjustScaleFactor({150, 150}, 1e12);
  EXPECT_EQ(projector.ScaleFactor(), 1);
  // At most 2^31 - 1 GU across: for 300 pixels that is above the smallest scale, 5e-8.
  projector.AdjustScaleFactor({150, 150}, 1e-12);
  EXPECT_EQ(projector.ScaleFactor(), 300 / 2'147'483'647.0L);
  globe.renderer.width = globe.renderer.height = 100;
  projector.AdjustScaleFactor({50, 50}, 1e-12);
  EXPECT_EQ(projector.ScaleFactor(), 5e-8L);
  globe.renderer.height = 300;

  // A wide control.
  globe.renderer.width = 3000;
  projector.AdjustScaleFactor({150, 150}, 0.5);
  EXPECT_EQ(projector.ScaleFactor(), 3000 / 2'147'483'647.0L);

  // With periodic updates a zoom restarts the render in progress.
  EXPECT_EQ(globe.restarts, 0);
  globe.periodicUpdateTime = 250;
  projector.AdjustScaleFactor({150, 150}, 2);
  EXPECT_EQ(globe.restarts, 1);
}

TEST_F(ProjectorTest, PixelQuantitiesFollowTheScale)
{
  projector.SetScaleFactor(1e-4);
  EXPECT_EQ(projector.GUPerPixel(), 10'000);
  EXPECT_EQ(projector.PixelTolerance(), 20'000);
  globe.renderer.pixelsPerInch = 300; // printing: the renderer's density
  EXPECT_EQ(projector.GUPerInch(), 3'000'000);

  // Writes: per pixel, and per inch against the screen's density.
  projector.SetGUPerPixel(2'000);
  EXPECT_NEAR(static_cast<double>(projector.ScaleFactor()), 5e-4, 1e-15);
  projector.SetGUPerInch(96'000);
  EXPECT_NEAR(static_cast<double>(projector.ScaleFactor()), 1e-3, 1e-15);
  projector.SetGUPerPixel(0);
  projector.SetGUPerInch(-5);
  EXPECT_NEAR(static_cast<double>(projector.ScaleFactor()), 1e-3, 1e-15);
}

TEST_F(ProjectorTest, UnknownClassNamesRaiseAndKeepTheModel)
{
  const char* names[] = {"TGAzimuthal2EquidistantPrj",
                         "TGAzimuthalEquidistantPrj",
                         "TGBehrmannCylEqualAreaPrj",
                         "TGBonnePrj",
                         "TGCylEqualAreaPrj",
                         "TGEquidistantPrj",
                         "TGPetersPrj",
                         "TGSinusoidalPrj",
                         "TGGnomonicPrj"};
  const TGCustomProjectionModel* model = projector.ProjectionModel();
  for (const char* name : names) {
    EXPECT_EQ(vtrtest::ErrorText([&] { projector.SetProjectionClass(name); }),
              "Class " + std::string(name) + " does not inherit from TProjectionModel");
    EXPECT_EQ(projector.ProjectionModel(), model);
  }
  EXPECT_EQ(projector.ProjectionClass(), "TGSphericalPrj");
}

TEST_F(ProjectorTest, ClassNamesIgnoreLetterCase)
{
  const TGCustomProjectionModel* model = projector.ProjectionModel();
  const int redraws = globe.redraws;
  projector.SetProjectionClass("TGSPHERICALPRJ");
  EXPECT_EQ(projector.ProjectionModel(), model);
  EXPECT_EQ(globe.redraws, redraws);

  projector.SetProjectionClass("tgmercatorprj");
  EXPECT_EQ(projector.ProjectionClass(), "TGMercatorPrj");
  EXPECT_NE(dynamic_cast<TGMercatorPrj*>(projector.ProjectionModel()), nullptr);
  EXPECT_FALSE(projector.IsContinuous());
}

class TGNotAModel : public TGRoot
{
public:
  std::string ClassName() const override { return "TGNotAModel"; }
};

TEST_F(ProjectorTest, RegisteredClassThatIsNoModelIsIgnored)
{
  RegisterGlobeClass<TGNotAModel>("TGNotAModel", "Not a model");
  const TGCustomProjectionModel* model = projector.ProjectionModel();
  EXPECT_NO_THROW(projector.SetProjectionClass("TGNotAModel"));
  EXPECT_EQ(projector.ProjectionModel(), model);
}

TEST(ProjectionRegistry, TheThreeModelsAreRegisteredInOrderWithTheirNames)
{
  struct Case
  {
    const char* name;
    const char* display;
  };
  const Case cases[] = {{"TGCartesianPrj", "Cartesian Projection"},
                        {"TGMercatorPrj", "Mercator Projection"},
                        {"TGSphericalPrj", "Spherical Projection"}};
  const auto& all = GlobeClasses();
  size_t last = 0;
  for (const Case& c : cases) {
    const TGRegisteredClass* entry = FindGlobeClass(c.name);
    ASSERT_NE(entry, nullptr) << c.name;
    EXPECT_EQ(entry->DisplayName, c.display);
    const size_t at = static_cast<size_t>(entry - all.data());
    EXPECT_GE(at, last) << c.name;
    last = at;
    auto model = CreateGlobeObjectAs<TGCustomProjectionModel>(c.name, nullptr);
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(model->ClassName(), c.name);
  }
}

// Records the property indexes a model is told about.
class TGSpyPrj : public TGSphericalPrj
{
public:
  using TGSphericalPrj::TGSphericalPrj;
  std::string ClassName() const override { return "TGSpyPrj"; }
  void PropertyChanged(TGProjectionProperty index) override
  {
    seen.push_back(index);
    TGSphericalPrj::PropertyChanged(index);
  }
  std::vector<int> seen;
};

TEST_F(ProjectorTest, InstallingAModelTellsItEveryPropertyInOrder)
{
  projector.SetCentralMeridian(15);
  auto spy = std::make_unique<TGSpyPrj>();
  TGSpyPrj* raw = spy.get();
  projector.SetProjectionModel(std::move(spy));
  std::vector<int> want{ppCentralMeridian};
  for (int i = 0; i < kProjectionPropertyCount; ++i)
    want.push_back(i);
  ASSERT_GE(raw->seen.size(), want.size());
  EXPECT_EQ(std::vector<int>(raw->seen.begin(), raw->seen.begin() + 20), want);
  EXPECT_EQ(projector.CentralMeridian(), 0);

  // A null model installs the sphere.
  projector.SetProjectionModel(nullptr);
  EXPECT_EQ(projector.ProjectionClass(), "TGSphericalPrj");
}

TEST_F(ProjectorTest, SwitchingModelsKeepsThePositionAtTheClientCentre)
{
  projector.SetScaleFactor(2e-6);
  projector.LocateToLL(DDToPointLL(10, 20));
  const TGPointLL centre = At(150, 150);
  EXPECT_LE(vtrtest::AngleGU(centre, DDToPointLL(10, 20)), Pixels(1));
  for (const char* model : {"TGCartesianPrj", "TGMercatorPrj", "TGSphericalPrj", "TGMercatorPrj",
                            "TGCartesianPrj", "TGSphericalPrj"}) {
    const size_t sets = globe.viewRectSets.size();
    projector.SetProjectionClass(model);
    EXPECT_EQ(projector.ProjectionClass(), model);
    EXPECT_LE(vtrtest::AngleGU(At(150, 150), centre), Pixels(1.5)) << model;
    EXPECT_EQ(globe.viewRectSets.size(), sets + 1) << model; // the view rectangle re-applied
  }
  EXPECT_NEAR(static_cast<double>(projector.ScaleFactor()), 2e-6, 1e-15);
}

TEST_F(ProjectorTest, CentreLatitudeAndLongitudeReadAndMoveTheView)
{
  EXPECT_NEAR(static_cast<double>(projector.CenterLatitude()), 23.5, 1e-5);
  EXPECT_NEAR(static_cast<double>(projector.CenterLongitude()), 0, 1e-5);
  projector.SetCenterLongitude(-120);
  projector.SetCenterLatitude(-45);
  EXPECT_NEAR(static_cast<double>(projector.CenterLongitude()), -120, 1e-5);
  EXPECT_NEAR(static_cast<double>(projector.CenterLatitude()), -45, 1e-5);
  EXPECT_NEAR(static_cast<double>(projector.XRotation()), -45, 1e-5);

  // The globe's LocateToLL: the longitude is wrapped first.
  projector.LocateToLL(GU_360 + 10 * GU_DEGREE, 20 * GU_DEGREE);
  EXPECT_LE(vtrtest::AngleGU(At(150, 150), DDToPointLL(10, 20)), Pixels(1));

  // Off the globe the centre reads as 2,147,483,647 degrees.
  projector.SetCenterXY({5000, 150});
  EXPECT_EQ(projector.CenterLatitude(), 2'147'483'647.0L);
  EXPECT_EQ(projector.CenterLongitude(), 2'147'483'647.0L);
}

TEST_F(ProjectorTest, MinMaxLimitsSwitchToTheCartesianModelAndEndWithIt)
{
  projector.SetCentralParallel(5);
  projector.SetYAxisChanges(yaNoAction);
  projector.SetUseMinMaxLimits(true);
  EXPECT_TRUE(projector.UseMinMaxLimits());
  EXPECT_EQ(projector.ProjectionClass(), "TGCartesianPrj");
  EXPECT_EQ(projector.YAxisChanges(), yaXOrigin);
  EXPECT_EQ(projector.XAxisChanges(), xaYOrigin);
  EXPECT_EQ(projector.CentralParallel(), 0);
  EXPECT_EQ(projector.CentralMeridian(), 0);

  projector.SetProjectionClass("TGMercatorPrj");
  EXPECT_FALSE(projector.UseMinMaxLimits());

  projector.SetUseMinMaxLimits(true);
  projector.SetUseMinMaxLimits(false); // only the flag
  EXPECT_FALSE(projector.UseMinMaxLimits());
  EXPECT_EQ(projector.ProjectionClass(), "TGCartesianPrj");
}

TEST_F(ProjectorTest, PointOperationsAgreeWithEachOther)
{
  TGPoint a, b, c;
  const bool va = projector.PointLLToXY(DDToPointLL(-30.5, 12.25), a);
  const bool vb = projector.LLToDeviceXY(DDToGU(-30.5), DDToGU(12.25), b);
  const bool vc = projector.DDToDeviceXY(-30.5, 12.25, c);
  EXPECT_TRUE(va && vb && vc);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a, c);

  TGPointDD dd;
  EXPECT_TRUE(projector.DeviceXYToDD(a.X, a.Y, dd));
  EXPECT_NEAR(static_cast<double>(dd.LongX), -30.5, 0.5);
  EXPECT_NEAR(static_cast<double>(dd.LatY), 12.25, 0.5);
  EXPECT_EQ(dd.HeightZ, 0);
  EXPECT_FALSE(projector.DeviceXYToDD(0, 0, dd));
  EXPECT_EQ(dd, (TGPointDD{180, 180, 0}));

  // Triangles: all three corners, or nothing when one is behind the globe.
  const TGTriangleLL front{DDToPointLL(0, 0), DDToPointLL(10, 0), DDToPointLL(0, 10)};
  TGTriangle screen{};
  ASSERT_TRUE(projector.TriangleLLToXY(front, screen));
  for (size_t i = 0; i < 3; ++i)
    EXPECT_EQ(screen[i], XY(front[i]));
  const TGTriangle before = screen;
  const TGTriangleLL partly{DDToPointLL(0, 0), DDToPointLL(180, 0), DDToPointLL(0, 10)};
  EXPECT_FALSE(projector.TriangleLLToXY(partly, screen));
  EXPECT_EQ(screen, before);
}

TEST_F(ProjectorTest, AssignAndCloneCopyTheViewAndTheModel)
{
  projector.SetScaleFactor(3e-6);
  projector.SetCenterXY({120, 170});
  projector.SetYRotation(33);
  projector.SetZRotation(7);
  projector.SetMaxZoom(0.5);
  projector.SetFieldOfViewAngle(30);
  projector.SetSpheroid(TGSpheroid::Clarke1866);
  projector.SetSecondParallel(4);
  projector.SetXAxisChanges(xaCentralParallel);
  std::unique_ptr<TGProjector> copy = projector.Clone();
  for (int i = 0; i < kProjectionPropertyCount; ++i)
    EXPECT_EQ(copy->Property(static_cast<TGProjectionProperty>(i)),
              projector.Property(static_cast<TGProjectionProperty>(i)))
        << i;
  EXPECT_EQ(copy->FieldOfViewAngle(), 30);
  EXPECT_EQ(copy->ProjectionClass(), "TGSphericalPrj");
  EXPECT_NE(copy->ProjectionModel(), projector.ProjectionModel());
  EXPECT_EQ(&copy->ProjectionModel()->Projector(), copy.get());
  // The copied matrices project the same.
  for (const TGPointLL pt : {DDToPointLL(30, 10), DDToPointLL(-20, 50), DDToPointLL(100, -5)}) {
    TGPoint mine, theirs;
    EXPECT_EQ(projector.PointLLToXY(pt, mine), copy->PointLLToXY(pt, theirs));
    EXPECT_EQ(mine, theirs);
  }
  // Altitude and the limits flag stay the receiver's.
  FakeGlobe other;
  TGProjector receiver(other);
  receiver.SetUseMinMaxLimits(true);
  receiver.Assign(projector);
  EXPECT_TRUE(receiver.UseMinMaxLimits());
  EXPECT_EQ(receiver.Altitude(), 0u);
  EXPECT_NE(projector.Altitude(), 0u);
  EXPECT_EQ(receiver.ProjectionClass(), "TGSphericalPrj");
}

TEST_F(ProjectorTest, CartesianCopyMovesLikeTheOriginal)
{
  projector.SetProjectionClass("TGCartesianPrj");
  std::unique_ptr<TGProjector> copy = projector.Clone();
  projector.SetXRotation(projector.XRotation() + 5);
  copy->SetXRotation(copy->XRotation() + 5);
  EXPECT_EQ(copy->YOrigin(), projector.YOrigin());
}

TEST_F(ProjectorTest, CapturedViewFollowsTheControlsSize)
{
  projector.SetScaleFactor(1e-6);
  projector.SetXRotation(40);
  projector.SetYRotation(-75);
  projector.SetZRotation(12);
  projector.SetCenterXY({140, 160});
  const TGPOZ POZ = projector.GetPOZ();
  EXPECT_EQ(POZ.eSF, projector.ScaleFactor());
  EXPECT_EQ(POZ.CenterXY, (TGPoint{140, 160}));
  EXPECT_EQ(POZ.iRotX, 40 * GU_DEGREE);
  EXPECT_EQ(POZ.iRotY, -75 * GU_DEGREE);
  EXPECT_EQ(POZ.iRotZ, 12 * GU_DEGREE);
  EXPECT_EQ(POZ.iWidth, 300);
  EXPECT_EQ(POZ.iHeight, 300);

  projector.SetXRotation(0);
  projector.SetYRotation(0);
  projector.SetZRotation(0);
  globe.renderer.width = globe.renderer.height = 600;
  projector.SetPOZ(POZ);
  EXPECT_NEAR(static_cast<double>(projector.ScaleFactor()), 2e-6, 1e-15);
  EXPECT_EQ(projector.CenterXY(), (TGPoint{280, 320}));
  EXPECT_NEAR(static_cast<double>(projector.XRotation()), 40, 1e-12);
  EXPECT_NEAR(static_cast<double>(projector.YRotation()), -75, 1e-12);
  EXPECT_NEAR(static_cast<double>(projector.ZRotation()), 12, 1e-12);

  // A view captured from an empty control keeps its scale.
  TGPOZ empty = POZ;
  empty.iWidth = empty.iHeight = 0;
  empty.eSF = 4e-6L;
  projector.SetPOZ(empty);
  EXPECT_NEAR(static_cast<double>(projector.ScaleFactor()), 4e-6, 1e-15);
}

TEST_F(ProjectorTest, CartesianCapturedViewKeepsTheCentrePosition)
{
  projector.SetProjectionClass("TGCartesianPrj");
  projector.SetScaleFactor(1e-6);
  projector.LocateToLL(DDToPointLL(-60, 35));
  const TGPOZ POZ = projector.GetPOZ();
  EXPECT_NEAR(POZ.iRotY, -60 * GU_DEGREE, Pixels(1));
  EXPECT_NEAR(POZ.iRotX, 35 * GU_DEGREE, Pixels(1));
  EXPECT_EQ(POZ.iRotZ, 0);

  projector.LocateToLL(DDToPointLL(100, -10));
  globe.renderer.width = 450;
  globe.renderer.height = 450;
  projector.SetPOZ(POZ);
  EXPECT_NEAR(static_cast<double>(projector.ScaleFactor()), 1.5e-6, 1e-15);
  EXPECT_LE(vtrtest::AngleGU(At(225, 225), DDToPointLL(-60, 35)), Pixels(1.5));
}

} // namespace
} // namespace vtr
