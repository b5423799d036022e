// Geodesy: SpheroidDistance on WGS84 against GeographicLib's Geodesic::Inverse, on random pairs
// and on nearly antipodal pairs, both from fixed random streams.
#include "BenchSupport.h"
#include "globe/GGeodesy.h"

#include <GeographicLib/Geodesic.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

using namespace vtr;
using namespace vtrbench;

namespace {

constexpr double kGUPerMetre = 90000.0 / 1852.0;

struct Pair
{
  TGPointLL A, B;
  double Lat1, Lon1, Lat2, Lon2; // the same GU positions in degrees, for the peer
};

Pair MakePair(double lon1, double lat1, double lon2, double lat2)
{
  Pair p{DDToPointLL(lon1, lat1),
         DDToPointLL(WrapDegrees(lon2), std::clamp(lat2, -90.0, 90.0)),
         0,
         0,
         0,
         0};
  p.Lat1 = static_cast<double>(GUToDD(p.A.iLatY));
  p.Lon1 = static_cast<double>(GUToDD(p.A.iLongX));
  p.Lat2 = static_cast<double>(GUToDD(p.B.iLatY));
  p.Lon2 = static_cast<double>(GUToDD(p.B.iLongX));
  return p;
}

// Latitude uniform on the sphere within +-80 degrees.
double Latitude(Rng& rng)
{
  static const double kSin80 = std::sin(80 * M_PI / 180);
  return std::asin(rng.Uniform(-kSin80, kSin80)) * 180 / M_PI;
}

// n pairs from the fixed random stream that starts at start; next draws one pair.
template <class Next> std::vector<Pair> Pairs(int n, uint64_t start, Next next)
{
  Rng rng(start);
  std::vector<Pair> pairs;
  pairs.reserve(n);
  for (int i = 0; i < n; ++i)
    pairs.push_back(next(rng));
  return pairs;
}

Pair RandomPair(Rng& rng)
{
  const double lon1 = rng.Uniform(-180, 180), lat1 = Latitude(rng);
  const double lon2 = rng.Uniform(-180, 180), lat2 = Latitude(rng);
  return MakePair(lon1, lat1, lon2, lat2);
}

// B within a degree (in latitude and in longitude) of A's antipode.
Pair AntipodalPair(Rng& rng)
{
  const double lon1 = rng.Uniform(-180, 180), lat1 = Latitude(rng);
  const double dLon = rng.Uniform(-1, 1), dLat = rng.Uniform(-1, 1);
  return MakePair(lon1, lat1, lon1 + 180 + dLon, -lat1 + dLat);
}

struct Accuracy
{
  double WorstGU = 0;
  double WorstRelative = 0;
  const Pair* Where = nullptr;
  int Fallbacks = 0; // pairs SpheroidDistance did not get from its main iteration
};

Accuracy Compare(const std::vector<Pair>& pairs, const GeographicLib::Geodesic& g)
{
  Accuracy acc;
  for (const auto& p : pairs) {
    double s12 = 0;
    g.Inverse(p.Lat1, p.Lon1, p.Lat2, p.Lon2, s12);
    const double want = s12 * kGUPerMetre;
    const double diff = std::fabs(SpheroidDistance(p.A, p.B, TGSpheroid::WGS84) - want);
    if (diff > acc.WorstGU) {
      acc.WorstGU = diff;
      acc.Where = &p;
    }
    if (want > 0) acc.WorstRelative = std::max(acc.WorstRelative, diff / want);
    if (!SpheroidDistanceConverges(p.A, p.B, TGSpheroid::WGS84)) ++acc.Fallbacks;
  }
  return acc;
}

PairTiming Time(const std::vector<Pair>& pairs, const GeographicLib::Geodesic& g, int reps)
{
  auto ours = [&] {
    int64_t sum = 0;
    for (const auto& p : pairs)
      sum += SpheroidDistance(p.A, p.B, TGSpheroid::WGS84);
    Keep(sum);
  };
  auto peer = [&] {
    double sum = 0;
    for (const auto& p : pairs) {
      double s12;
      g.Inverse(p.Lat1, p.Lon1, p.Lat2, p.Lon2, s12);
      sum += s12;
    }
    Keep(sum);
  };
  PairTiming t = TimeBoth(reps, ours, peer);
  t.Ours *= 1e9 / pairs.size();
  t.Peer *= 1e9 / pairs.size();
  return t;
}

void Worst(const char* what, const Accuracy& acc)
{
  if (!acc.Where) return;
  std::printf("  %s: worst at (%.7f, %.7f) to (%.7f, %.7f) (lat, lon); %d of the pairs "
              "not from the main iteration\n",
              what, acc.Where->Lat1, acc.Where->Lon1, acc.Where->Lat2, acc.Where->Lon2,
              acc.Fallbacks);
}

} // namespace

int main(int argc, char** argv)
{
  const int reps = Repetitions(argc, argv, 5);
  const GeographicLib::Geodesic& g = GeographicLib::Geodesic::WGS84();

  const auto random = Pairs(1'000'000, 1201, RandomPair);
  const auto antipodal = Pairs(100'000, 1202, AntipodalPair);

  const Accuracy accRandom = Compare(random, g);
  const Accuracy accAntipodal = Compare(antipodal, g);
  const PairTiming tRandom = Time(random, g, reps);
  const PairTiming tAntipodal = Time(antipodal, g, reps);

  Table table("geodesy: SpheroidDistance (WGS84) vs GeographicLib Geodesic::Inverse, medians of " +
              std::to_string(reps) + " runs; differences in GU at 90,000/1,852 GU per metre");
  table.Add({"random pairs (1,000,000, lat +-80), time", "ns/pair", tRandom.Ours, tRandom.Peer,
             "<= 0.667 (1.5x throughput)", tRandom.Ours <= tRandom.Peer / 1.5});
  table.Add({"random pairs, worst |ours - peer|", "GU", accRandom.WorstGU, NAN, "<= 2",
             accRandom.WorstGU <= 2});
  table.Add({"nearly antipodal pairs (100,000), time", "ns/pair", tAntipodal.Ours, tAntipodal.Peer,
             "<= 2", tAntipodal.Ours <= 2 * tAntipodal.Peer});
  table.Add(
      {"nearly antipodal pairs, worst |ours - peer|", "GU", accAntipodal.WorstGU, NAN, "", true});
  table.Add({"nearly antipodal pairs, worst |ours - peer| / peer", "%",
             100 * accAntipodal.WorstRelative, NAN, "<= 0.1", accAntipodal.WorstRelative <= 1e-3});
  table.Print();
  Worst("random", accRandom);
  Worst("nearly antipodal", accAntipodal);
  return 0;
}
