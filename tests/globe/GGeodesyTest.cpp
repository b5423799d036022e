// Geodesy: spheroid distance against GeographicLib, great-circle bearing and destination
// against GeographicLib's sphere, the 3-D bridge and the rotation toolkit.
#include "globe/GGeodesy.h"

#include <GeographicLib/Geodesic.hpp>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>

namespace vtr {
namespace {

// Published semi-major axes in metres (the spheroids' defining values, as tabulated by the
// U.S. National Geospatial-Intelligence Agency, TR 8350.2 and its datum tables). The engine
// holds them as integers converted at 90,000 / 1,852 GU per metre; tolerance 0.5 GU.
struct AxisCase
{
  TGSpheroid Spheroid;
  double AxisMetres;
};
constexpr AxisCase kAxes[] = {
    {TGSpheroid::Airy1830, 6377563.396},
    {TGSpheroid::Australian1965, 6378160.0},
    {TGSpheroid::Bessel1841, 6377397.155},
    {TGSpheroid::Clarke1866, 6378206.4},
    {TGSpheroid::Clarke1880, 6378249.145},
    {TGSpheroid::Everest1830, 6377276.345},
    {TGSpheroid::GRS1967, 6378160.0},
    {TGSpheroid::GRS1980, 6378137.0},
    {TGSpheroid::Helmert1906, 6378200.0},
    {TGSpheroid::Hough, 6378270.0},
    {TGSpheroid::International1920, 6378388.0},
    {TGSpheroid::Krassovsky1940, 6378245.0},
    {TGSpheroid::SouthAmerican1969, 6378160.0},
    {TGSpheroid::WGS60, 6378165.0},
    {TGSpheroid::WGS66, 6378145.0},
    {TGSpheroid::WGS72, 6378135.0},
    {TGSpheroid::WGS84, 6378137.0},
};
constexpr double kGUPerMetre = 90000.0 / 1852.0;

double AxisMetres(TGSpheroid s)
{
  for (const auto& c : kAxes)
    if (c.Spheroid == s) return c.AxisMetres;
  return 0;
}

// Fixed random stream: uniform doubles from a 64-bit Mersenne twister with a fixed start
// value, built by hand so the sequence does not depend on the library's distributions.
class Rng
{
public:
  explicit Rng(uint64_t start) : gen_(start) {}
  double Uniform(double lo, double hi) { return lo + (hi - lo) * ((gen_() >> 11) * 0x1.0p-53); }
  // A point uniform on the sphere, in GU.
  TGPointLL Point()
  {
    const double lat = std::asin(Uniform(-1, 1)) * 180 / M_PI;
    return DDToPointLL(Uniform(-180, 180), lat);
  }

private:
  std::mt19937_64 gen_;
};

double Deg(int32_t gu)
{
  return static_cast<double>(GUToDD(gu));
}

// GeographicLib's distance in GU for the same two GU positions.
double ReferenceGU(const GeographicLib::Geodesic& g, const TGPointLL& a, const TGPointLL& b)
{
  double s12 = 0;
  g.Inverse(Deg(a.iLatY), Deg(a.iLongX), Deg(b.iLatY), Deg(b.iLongX), s12);
  return s12 * kGUPerMetre;
}

// Angular distance in degrees on the unit sphere, to tell well-conditioned pairs.
double SphereDegrees(const TGPointLL& a, const TGPointLL& b)
{
  static const GeographicLib::Geodesic unit(1.0, 0.0);
  double s12 = 0;
  unit.Inverse(Deg(a.iLatY), Deg(a.iLongX), Deg(b.iLatY), Deg(b.iLongX), s12);
  return s12 * 180 / M_PI;
}

TEST(SpheroidTable, AxesAreThePublishedMetresInGlobeUnits)
{
  for (const auto& c : kAxes) {
    const auto& d = SpheroidData(c.Spheroid);
    EXPECT_NEAR(d.AxisGU, c.AxisMetres * kGUPerMetre, 0.5) << d.Name;
  }
}

TEST(SpheroidDistance, ZeroWheneverLongitudeAndLatitudeAgree)
{
  const TGPointLL cases[][2] = {
      {{0, 0, 0}, {0, 0, 5000}},
      {{123456789, -98765432, -7}, {123456789, -98765432, 900000}},
      {{GU_180, GU_90, 0}, {GU_180, GU_90, 1}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(SpheroidDistance(c[0], c[1], TGSpheroid::WGS84), 0);
  // One pole seen from two meridians is one point.
  EXPECT_LE(SpheroidDistance({0, GU_90, 0}, {500'000'000, GU_90, 0}, TGSpheroid::WGS84), 1);
  EXPECT_LE(SpheroidDistance({0, -GU_90, 0}, {-GU_180 + 1, -GU_90, 0}, TGSpheroid::WGS84), 1);
}

TEST(SpheroidDistance, OneDegreeOfLatitudeGrowsTowardsThePoles)
{
  int32_t previous = 0;
  for (int lat = 0; lat < 90; lat += 10) {
    const int32_t d =
        SpheroidDistance(DDToPointLL(0, lat), DDToPointLL(0, lat + 1), TGSpheroid::WGS84);
    EXPECT_NEAR(d, 5'400'000, 0.01 * 5'400'000) << lat;
    EXPECT_GT(d, previous) << lat;
    previous = d;
  }
  EXPECT_LT(SpheroidDistance(DDToPointLL(0, 0), DDToPointLL(0, 1), TGSpheroid::WGS84), 5'400'000);
  EXPECT_GT(SpheroidDistance(DDToPointLL(0, 88), DDToPointLL(0, 89), TGSpheroid::WGS84), 5'400'000);
}

TEST(SpheroidDistance, AcrossTheMeridianAndUnwrappedLongitudesGiveTheShortDistance)
{
  const auto a = DDToPointLL(179.5, 10);
  const auto b = DDToPointLL(-179.5, 10);
  const int32_t across = SpheroidDistance(a, b, TGSpheroid::WGS84);
  EXPECT_EQ(across,
            SpheroidDistance(DDToPointLL(-0.5, 10), DDToPointLL(0.5, 10), TGSpheroid::WGS84));
  // The same eastern point written 360 degrees further west.
  const TGPointLL bUnwrapped{b.iLongX + GU_360, b.iLatY, 0};
  EXPECT_EQ(SpheroidDistance(a, bUnwrapped, TGSpheroid::WGS84), across);
  EXPECT_EQ(SpheroidDistance(TGPointLL{GU_180, 0, 0}, TGPointLL{-GU_180, 0, 0}, TGSpheroid::WGS84),
            0);
}

// Thousands of random pairs on WGS84 plus a few hundred on every spheroid, against
// GeographicLib. Well-conditioned pairs (more than a degree from antipodal): against the
// published axes within 2 GU (half a GU of rounding plus up to 1.6 GU from the axes held as
// integer GU, at half the globe); against the same integer axes within the rounding alone.
TEST(SpheroidDistance, MatchesGeographicLibOnRandomPairs)
{
  Rng rng(20240501);
  double worstPublished = 0, worstSameAxis = 0;
  std::string where;
  int pairs = 0;
  for (int s = 0; s < kSpheroidCount; ++s) {
    const auto spheroid = static_cast<TGSpheroid>(s);
    const double f = SpheroidData(spheroid).Flattening;
    const GeographicLib::Geodesic published(AxisMetres(spheroid), f);
    const GeographicLib::Geodesic sameAxis(SpheroidData(spheroid).AxisGU / kGUPerMetre, f);
    const int n = spheroid == TGSpheroid::WGS84 ? 5000 : 200;
    for (int i = 0; i < n; ++i) {
      const TGPointLL a = rng.Point();
      TGPointLL b = rng.Point();
      if (i % 4 == 0) // short legs too
        b = DDToPointLL(Deg(a.iLongX) + rng.Uniform(-0.5, 0.5),
                        std::clamp(Deg(a.iLatY) + rng.Uniform(-0.5, 0.5), -89.9, 89.9));
      if (SphereDegrees(a, b) > 179) continue;
      const int32_t got = SpheroidDistance(a, b, spheroid);
      const double d1 = std::fabs(got - ReferenceGU(published, a, b));
      const double d2 = std::fabs(got - ReferenceGU(sameAxis, a, b));
      ++pairs;
      if (d1 > worstPublished)
        where = std::string(SpheroidData(spheroid).Name) + " " + PointLLToStr(a) + " to " +
                PointLLToStr(b);
      worstPublished = std::max(worstPublished, d1);
      worstSameAxis = std::max(worstSameAxis, d2);
    }
  }
  std::printf("[ measured ] random pairs: %d, worst |difference| %.3f GU against the published "
              "axes, %.3f GU against the integer axes\n",
              pairs, worstPublished, worstSameAxis);
  EXPECT_LE(worstPublished, 2.0) << where;
  EXPECT_LE(worstSameAxis, 0.51);
}

// Nearly antipodal pairs, where the iteration creeps or fails and the fallback takes over: the
// result is always produced and stays within 0.1 % of GeographicLib (in fact within a GU).
TEST(SpheroidDistance, NearlyAntipodalPairsStayWithinATenthOfAPercent)
{
  Rng rng(77);
  const GeographicLib::Geodesic ref(AxisMetres(TGSpheroid::WGS84),
                                    SpheroidData(TGSpheroid::WGS84).Flattening);
  std::vector<std::pair<TGPointLL, TGPointLL>> pairs;
  // Exact antipodes on the equator, at mid latitudes and at the poles.
  for (double lat : {0.0, 0.001, 10.0, 45.0, 89.0, 90.0})
    pairs.push_back({DDToPointLL(0, lat), DDToPointLL(180, -lat)});
  // The equatorial zone where the iteration fails: longitude steps just short of 180.
  for (int k = 0; k <= 200; ++k) {
    const double dl = 179.0 + k * 0.005;
    for (double lat : {0.0, 0.1, 0.5})
      pairs.push_back({DDToPointLL(0, lat), DDToPointLL(dl, -lat * rng.Uniform(0.5, 1.5))});
  }
  // Random points against their perturbed antipodes.
  for (int i = 0; i < 3000; ++i) {
    const TGPointLL a = rng.Point();
    const double lat = std::clamp(-Deg(a.iLatY) + rng.Uniform(-1, 1), -90.0, 90.0);
    pairs.push_back({a, DDToPointLL(WrapDegrees(Deg(a.iLongX) + 180 + rng.Uniform(-1, 1)), lat)});
  }

  double worstRel = 0, worstFallback = 0, worstIterated = 0;
  int fallbacks = 0;
  for (const auto& [a, b] : pairs) {
    const double want = ReferenceGU(ref, a, b);
    const double diff = std::fabs(SpheroidDistance(a, b, TGSpheroid::WGS84) - want);
    worstRel = std::max(worstRel, diff / want);
    if (SpheroidDistanceConverges(a, b, TGSpheroid::WGS84)) {
      worstIterated = std::max(worstIterated, diff);
    } else {
      ++fallbacks;
      worstFallback = std::max(worstFallback, diff);
    }
    ASSERT_LE(diff / want, 0.001) << PointLLToStr(a) << " to " << PointLLToStr(b);
  }
  std::printf("[ measured ] nearly antipodal pairs: %zu (%d by the fallback), worst |difference| "
              "%.3f GU iterated, %.3f GU by the fallback, %.2e of the distance\n",
              pairs.size(), fallbacks, worstIterated, worstFallback, worstRel);
  EXPECT_GT(fallbacks, 100); // the fallback is exercised
  EXPECT_LE(worstFallback, 1.0);
}

TEST(GreatCircleBearing, EdgeCases)
{
  struct Case
  {
    const char* name;
    TGPointLL a, b;
    int32_t want;
  };
  const Case cases[] = {
      {"due east is -90", {0, 0, 0}, {GU_DEGREE, 0, 0}, -GU_90},
      {"due west is +90", {0, 0, 0}, {-GU_DEGREE, 0, 0}, GU_90},
      {"east across the meridian",
       {GU_180 - GU_DEGREE / 2, 0, 0},
       {-GU_180 + GU_DEGREE / 2, 0, 0},
       -GU_90},
      {"west across the meridian",
       {-GU_180 + GU_DEGREE / 2, 0, 0},
       {GU_180 - GU_DEGREE / 2, 0, 0},
       GU_90},
  };
  for (const auto& c : cases)
    EXPECT_EQ(GreatCircleBearing(c.a, c.b), c.want) << c.name;

  // Due north is never exactly 0 and due south not exactly 180: the longitude step of 0 counts
  // as one GU.
  const int32_t north = GreatCircleBearing({0, 0, 0}, {0, GU_DEGREE, 0});
  EXPECT_GT(north, 0);
  EXPECT_LT(north, 100);
  const int32_t south = GreatCircleBearing({0, 0, 0}, {0, -GU_DEGREE, 0});
  EXPECT_LT(south, GU_180);
  EXPECT_GT(south, GU_180 - 100);
}

TEST(GreatCircleBearing, MatchesGeographicLibOnTheSphere)
{
  Rng rng(4242);
  const GeographicLib::Geodesic sphere(1.0, 0.0);
  double worst = 0;
  for (int i = 0; i < 3000; ++i) {
    const TGPointLL a = rng.Point();
    const TGPointLL b = rng.Point();
    const double deg = SphereDegrees(a, b);
    if (deg < 0.1 || deg > 179.9 || std::abs(a.iLatY) > GU_90 - GU_DEGREE) continue;
    double s12, azi1, azi2;
    sphere.Inverse(Deg(a.iLatY), Deg(a.iLongX), Deg(b.iLatY), Deg(b.iLongX), s12, azi1, azi2);
    const double got = -Deg(GreatCircleBearing(a, b)); // compass degrees
    worst = std::max(worst, std::fabs(WrapDegrees(got - azi1)) * GU_DEGREE);
  }
  EXPECT_LE(worst, 2.0);
}

TEST(GreatCircleDestination, EdgeCases)
{
  // Angle 360 degrees and one nautical mile: due north, about a nautical mile on.
  const TGPointLL n = GreatCircleDestination({0, 0, 0}, GU_360, GU_MINUTE);
  EXPECT_EQ(n.iLongX, 0);
  EXPECT_NEAR(n.iLatY, GU_MINUTE, 0.002 * GU_MINUTE);
  // Anticlockwise 90 degrees is due west.
  const TGPointLL w = GreatCircleDestination({0, 0, 0}, GU_90, GU_MINUTE);
  EXPECT_LT(w.iLongX, 0);
  EXPECT_EQ(w.iLatY, 0);
  // Eastwards over the meridian: the longitude comes back wrapped.
  const TGPointLL e = GreatCircleDestination({GU_180 - 1000, 0, 0}, -GU_90, 100 * GU_MINUTE);
  EXPECT_LT(e.iLongX, -GU_180 + 200 * GU_MINUTE);
  EXPECT_GT(e.iLongX, -GU_180);
  // Over the north pole onto the far meridian.
  const TGPointLL p = GreatCircleDestination({0, GU_90 - GU_DEGREE, 0}, 0, 2 * GU_DEGREE);
  EXPECT_NEAR(std::abs(p.iLongX), GU_180, 2);
  EXPECT_LT(p.iLatY, GU_90 - GU_DEGREE / 2);
  EXPECT_EQ(p.iHeightZ, 0);
}

TEST(GreatCircleDestination, MatchesGeographicLibOnTheSphere)
{
  Rng rng(99);
  const GeographicLib::Geodesic sphere(static_cast<double>(EarthRadiusGU), 0.0);
  double worst = 0;
  for (int i = 0; i < 3000; ++i) {
    const TGPointLL a = rng.Point();
    const int32_t angle = DDToGU(rng.Uniform(0, 360));
    const int32_t dist = static_cast<int32_t>(rng.Uniform(-1e9, 2e9));
    const TGPointLL got = GreatCircleDestination(a, angle, dist);
    double lat2, lon2;
    sphere.Direct(Deg(a.iLatY), Deg(a.iLongX), -Deg(angle), dist, lat2, lon2);
    ASSERT_GT(got.iLongX, -GU_180);
    ASSERT_LE(got.iLongX, GU_180);
    const TGPoint3D p = LLToPoint3D(got.iLongX, got.iLatY, 0);
    const TGPoint3D q = LLToPoint3D(lon2 * GU_DEGREE, lat2 * GU_DEGREE, 0);
    const long double gap = std::hypot(std::hypot(p.X - q.X, p.Y - q.Y), p.Z - q.Z);
    worst = std::max(worst, static_cast<double>(gap));
  }
  // Rounding both coordinates to GU moves the point by at most 0.72 GU on this sphere.
  EXPECT_LE(worst, 1.0);
}

TEST(Point3D, AxesAndRoundTrip)
{
  const TGPoint3D z = LLToPoint3D(0, 0, 0);
  EXPECT_NEAR(z.Z, EarthRadiusGU, 1e-6);
  const TGPoint3D x = LLToPoint3D(GU_90, 0, 1000);
  EXPECT_NEAR(x.X, EarthRadiusGU + 1000, 1e-6);
  EXPECT_NEAR(LLToPoint3D(0, GU_90, 0).Y, EarthRadiusGU, 1e-6);

  struct Case
  {
    const char* name;
    TGPointLL p;
  };
  const Case cases[] = {
      {"origin", {0, 0, 0}},
      {"north pole", {0, GU_90, 0}},
      {"south pole", {0, -GU_90, 0}},
      {"+180", {GU_180, 0, 0}},
      {"just east of -180", {-GU_180 + 1, 10, 0}},
      {"mid", {-123456789, 234567890, 0}},
  };
  for (const auto& c : cases) {
    const TGPointLL back = Point3DToLL(LLToUnitVector(c.p));
    EXPECT_LE(std::abs(back.iLatY - c.p.iLatY), 1) << c.name;
    if (std::abs(c.p.iLatY) < GU_90) {
      EXPECT_LE(std::abs(LongDiff(back.iLongX, c.p.iLongX)), 1) << c.name;
    }
    EXPECT_GT(back.iLongX, -GU_180) << c.name;
  }
  // On the polar axis the longitude is 0; |Y| beyond 1 still gives the pole.
  EXPECT_EQ(Point3DToLL({0, 1, 0}), (TGPointLL{0, GU_90, 0}));
  EXPECT_EQ(Point3DToLL({0, -1.5L, 0}).iLatY, -GU_90);
}

TEST(Vectors, NormalizeCrossDotAdd)
{
  const TGPoint3D tiny{1e-6L, 0, 0};
  EXPECT_EQ(V3Normalize(tiny), tiny);
  const TGPoint3D v = V3Make(3, 0, 4);
  EXPECT_NEAR(v.X, 0.6L, 1e-15L);
  EXPECT_NEAR(v.Z, 0.8L, 1e-15L);
  const TGPoint3D c = V3Cross({2, 0, 0}, {0, 3, 0});
  EXPECT_NEAR(c.Z, 1, 1e-15L);
  EXPECT_DOUBLE_EQ(V3Dot({1, 2, 3}, {4, 5, 6}), 32.0);
  const TGPoint3D s = V3Add({1, 0, 0}, {0, 1, 0});
  EXPECT_NEAR(s.X, std::sqrt(0.5L), 1e-15L);
  EXPECT_EQ(V3Scale({1, 2, 3}, 2), (TGPoint3D{2, 4, 6}));
}

TEST(Rotations, QuaternionMatrixTurnsVectorsAndTransposeTurnsBack)
{
  const double t = 0.3;
  const TGMatrix m = QuatToMatrix(QuatFromAxisAngle({0, 1, 0}, t));
  // (0, 0, 1) turned by -t about the north axis.
  const TGPoint3D r = V3MulMatrix({0, 0, 1}, m);
  EXPECT_NEAR(r.X, -std::sin(t), 1e-12);
  EXPECT_NEAR(r.Y, 0, 1e-12);
  EXPECT_NEAR(r.Z, std::cos(t), 1e-12);
  EXPECT_DOUBLE_EQ(m.terms[15], 1.0);

  Rng rng(5);
  for (int i = 0; i < 50; ++i) {
    const TGMatrix e = QuatToMatrix(
        QuatFromEuler(rng.Uniform(-180, 180), rng.Uniform(-90, 90), rng.Uniform(-180, 180)));
    const TGPoint3D v = V3Make(rng.Uniform(-1, 1), rng.Uniform(-1, 1), rng.Uniform(-1, 1));
    const TGPoint3D back = V3MulMatrix(V3MulMatrix(v, e), MatrixTranspose3(e));
    EXPECT_NEAR(back.X, v.X, 1e-12);
    EXPECT_NEAR(back.Y, v.Y, 1e-12);
    EXPECT_NEAR(back.Z, v.Z, 1e-12);
  }
  EXPECT_EQ(QuatToMatrix(TGQuaternion{}), MatrixIdentity());
  const TGMatrix s = MatrixScale(MatrixIdentity(), 2);
  EXPECT_DOUBLE_EQ(s.terms[0], 2.0);
  EXPECT_DOUBLE_EQ(s.terms[15], 2.0);
  TGMatrix k = MatrixIdentity();
  k.terms[1] = 7;
  k.terms[3] = 9;
  const TGMatrix kt = MatrixTranspose3(k);
  EXPECT_DOUBLE_EQ(kt.terms[4], 7.0);
  EXPECT_DOUBLE_EQ(kt.terms[1], 0.0);
  EXPECT_DOUBLE_EQ(kt.terms[3], 9.0); // outside the 3 x 3 block: kept
}

} // namespace
} // namespace vtr
