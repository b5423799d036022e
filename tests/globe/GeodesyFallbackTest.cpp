// SpheroidDistance where Vincenty's iteration gives way to the azimuth method (nearly antipodal
// pairs, and pairs on the equator, a meridian or a pole there), against GeographicLib on the
// same spheroid in GU: within the half GU of rounding.
#include "globe/GGeodesy.h"

#include <GeographicLib/Geodesic.hpp>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace vtr {
namespace {

using Pairs = std::vector<std::pair<TGPointLL, TGPointLL>>;

// GeographicLib on the engine's own axis in GU, so that only rounding separates the two.
double ReferenceGU(TGSpheroid s, const TGPointLL& a, const TGPointLL& b)
{
  const auto& sd = SpheroidData(s);
  const GeographicLib::Geodesic g(sd.AxisGU, sd.Flattening);
  double s12 = 0;
  g.Inverse(static_cast<double>(GUToDD(a.iLatY)), static_cast<double>(GUToDD(a.iLongX)),
            static_cast<double>(GUToDD(b.iLatY)), static_cast<double>(GUToDD(b.iLongX)), s12);
  return s12;
}

TGPointLL GU(int32_t lon, int32_t lat)
{
  return {lon, lat, 0};
}

// Zones of pairs, each built from a fixed random stream.
struct Zone
{
  const char* Name;
  std::function<Pairs(std::mt19937_64&)> Make;
};

double Uniform(std::mt19937_64& rng, double lo, double hi)
{
  return lo + (hi - lo) * ((rng() >> 11) * 0x1.0p-53);
}

const Zone kZones[] = {
    {"both on the equator, across the conjugate point at (1 - f) 180 degrees",
     [](std::mt19937_64&) {
       Pairs p;
       for (int k = 0; k <= 400; ++k)
         p.push_back({GU(0, 0), GU(GU_180 - k * GU_DEGREE / 400, 0)});
       return p;
     }},
    {"a few GU either side of the equator",
     [](std::mt19937_64& rng) {
       Pairs p;
       for (int32_t lat : {1, 2, 7, 100, 5000})
         for (int i = 0; i < 60; ++i) {
           const int32_t lon = GU_180 - static_cast<int32_t>(Uniform(rng, 0, 1) * GU_DEGREE);
           const int32_t other = i % 3 == 0 ? -lat : i % 3 == 1 ? lat : 0;
           p.push_back({GU(0, lat), GU(i % 2 ? lon : -lon, other)});
         }
       return p;
     }},
    {"exact antipodes and opposite meridians",
     [](std::mt19937_64& rng) {
       Pairs p;
       for (double lat : {0.0, 1e-6, 0.3, 10.0, 45.0, 80.0, 89.999})
         p.push_back({DDToPointLL(0, lat), DDToPointLL(180, -lat)});
       for (int i = 0; i < 100; ++i) {
         const double lat = Uniform(rng, -90, 90);
         p.push_back({DDToPointLL(-30, lat), DDToPointLL(150, -lat + Uniform(rng, -1, 1))});
       }
       return p;
     }},
    {"a pole against points near the other pole and anywhere",
     [](std::mt19937_64& rng) {
       Pairs p;
       for (int i = 0; i < 90; ++i) {
         const TGPointLL pole = GU(static_cast<int32_t>(Uniform(rng, -1, 1) * GU_180), -GU_90);
         const double lat = i == 0       ? 90
                            : i % 3 == 2 ? Uniform(rng, -89, 89)
                                         : Uniform(rng, 88.5, 90);
         p.push_back({pole, DDToPointLL(Uniform(rng, -180, 180), lat)});
       }
       return p;
     }},
    {"around the switch from the iteration, 1.5 to 2.5 degrees from the antipode",
     [](std::mt19937_64& rng) {
       Pairs p;
       for (int i = 0; i < 400; ++i) {
         const double lat = Uniform(rng, -80, 80), off = Uniform(rng, 1.5, 2.5);
         const double t = Uniform(rng, 0, 2 * M_PI);
         p.push_back(
             {DDToPointLL(0, lat), DDToPointLL(180 + off * std::cos(t), -lat + off * std::sin(t))});
       }
       return p;
     }},
    {"random points against their perturbed antipodes",
     [](std::mt19937_64& rng) {
       Pairs p;
       for (int i = 0; i < 1000; ++i) {
         const double lon = Uniform(rng, -180, 180),
                      lat = std::asin(Uniform(rng, -1, 1)) * 180 / M_PI;
         p.push_back({DDToPointLL(lon, lat),
                      DDToPointLL(WrapDegrees(lon + 180 + Uniform(rng, -1, 1)),
                                  std::clamp(-lat + Uniform(rng, -1, 1), -90.0, 90.0))});
       }
       return p;
     }},
};

TEST(GeodesyFallback, MatchesGeographicLibInEveryZoneOnEverySpheroid)
{
  for (const auto& zone : kZones) {
    std::mt19937_64 rng(1201);
    const Pairs pairs = zone.Make(rng);
    for (int s = 0; s < kSpheroidCount; ++s) {
      const auto spheroid = static_cast<TGSpheroid>(s);
      // WGS84 gets every pair; the other spheroids (other flattenings in the series) a share.
      const size_t stride = spheroid == TGSpheroid::WGS84 ? 1 : 7;
      double worst = 0;
      std::string where;
      for (size_t i = s % stride; i < pairs.size(); i += stride) {
        const auto& [a, b] = pairs[i];
        const double diff =
            std::fabs(SpheroidDistance(a, b, spheroid) - ReferenceGU(spheroid, a, b));
        if (diff > worst) {
          worst = diff;
          where = PointLLToStr(a) + " to " + PointLLToStr(b);
        }
      }
      EXPECT_LE(worst, 0.5 + 1e-4)
          << zone.Name << ", " << SpheroidData(spheroid).Name << ": " << where;
    }
  }
}

// The method leaves the pair's symmetries exact: swapping the points and mirroring them in
// the equator or in a meridian give the same GU.
TEST(GeodesyFallback, SwappedAndMirroredPairsGiveTheSameDistance)
{
  for (const auto& zone : kZones) {
    std::mt19937_64 rng(1202);
    for (const auto& [a, b] : zone.Make(rng)) {
      if (SpheroidDistanceConverges(a, b, TGSpheroid::WGS84)) continue;
      const int32_t d = SpheroidDistance(a, b, TGSpheroid::WGS84);
      const auto mirror = [](const TGPointLL& p, int lonSign, int latSign) {
        return GU(lonSign * p.iLongX, latSign * p.iLatY);
      };
      EXPECT_EQ(SpheroidDistance(b, a, TGSpheroid::WGS84), d) << zone.Name;
      EXPECT_EQ(SpheroidDistance(mirror(a, 1, -1), mirror(b, 1, -1), TGSpheroid::WGS84), d)
          << zone.Name;
      EXPECT_EQ(SpheroidDistance(mirror(a, -1, 1), mirror(b, -1, 1), TGSpheroid::WGS84), d)
          << zone.Name;
    }
  }
}

// Which method answers: the iteration more than 2 degrees from the antipode, the azimuth
// method within it, so both sides of the switch are exercised above.
TEST(GeodesyFallback, TakesOverWithinTwoDegreesOfTheAntipode)
{
  const auto wgs = TGSpheroid::WGS84;
  EXPECT_FALSE(SpheroidDistanceConverges(DDToPointLL(0, 20), DDToPointLL(179, -20.5), wgs));
  EXPECT_FALSE(SpheroidDistanceConverges(DDToPointLL(0, 0), DDToPointLL(180, 0), wgs));
  EXPECT_TRUE(SpheroidDistanceConverges(DDToPointLL(0, 20), DDToPointLL(176, -20), wgs));
  EXPECT_TRUE(SpheroidDistanceConverges(DDToPointLL(0, 0), DDToPointLL(177, 0), wgs));

  std::mt19937_64 rng(1203);
  int taken = 0, iterated = 0;
  for (const auto& [a, b] : kZones[4].Make(rng))
    (SpheroidDistanceConverges(a, b, wgs) ? iterated : taken) += 1;
  EXPECT_GT(taken, 50);
  EXPECT_GT(iterated, 50);
}

// Along the equator the distance grows with the longitude step, also past the conjugate point
// where the geodesic leaves the equator (there it is shorter than the equatorial arc).
TEST(GeodesyFallback, EquatorialDistanceGrowsUpToTheAntipode)
{
  const auto wgs = TGSpheroid::WGS84;
  const auto& sd = SpheroidData(wgs);
  int32_t previous = 0;
  for (int k = 0; k <= 400; ++k) {
    const int32_t lon = GU_180 - GU_DEGREE + k * GU_DEGREE / 400;
    const int32_t d = SpheroidDistance(GU(0, 0), GU(lon, 0), wgs);
    EXPECT_GE(d, previous) << k;
    previous = d;
    const double arc = sd.AxisGU * (lon * M_PI / GU_180);
    if (lon <= (1 - sd.Flattening) * GU_180)
      EXPECT_NEAR(d, arc, 0.5) << k;
    else
      EXPECT_LT(d, arc - 1) << k;
  }
}

} // namespace
} // namespace vtr
