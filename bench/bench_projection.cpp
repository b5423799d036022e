// Projection: the spherical model's PointStoreToXY against PROJ's orthographic projection
// (proj_trans_generic) of the same points, on 1,000,000 points in coastline-like chains from a
// fixed random walk, and on the world outline's chains (GIS/WorldOutline.lyr).
#include "BenchSupport.h"
#include "globe/GLYRReader.h"
#include "globe/GPointStore.h"
#include "globe/GProjector.h"
#include "globe/GProjectorHost.h"
#include "globe/GRenderer.h"

#include <proj.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

using namespace vtr;
using namespace vtrbench;

namespace {

// The view: a full-HD client with the disc fitted to its height, centred on 23.5 N 15 E.
constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;
constexpr double kCentreLat = 23.5;
constexpr double kCentreLon = 15;

// A renderer that only holds the point buffer the projection writes into.
class BufferSurface : public IGRenderSurface
{
public:
  TGPointBuffer& Points() override { return points_; }
  int32_t Width() const override { return kWidth; }
  int32_t Height() const override { return kHeight; }
  int32_t PixelsPerInch() const override { return 96; }
  void BeginDrawPoly(bool) override {}
  void AddClippedPoly(int32_t, int32_t) override {}
  void EndDrawPoly() override {}

private:
  TGPointBuffer points_;
};

// A globe control without a window.
class WindowlessHost : public IGProjectorHost
{
public:
  IGRenderSurface& Renderer() override { return surface_; }
  int32_t ClientWidth() const override { return kWidth; }
  int32_t ClientHeight() const override { return kHeight; }
  int32_t ScreenPixelsPerInch() const override { return 96; }
  void RedrawLayers() override {}
  void UpdateScrollBars() override {}
  int32_t PeriodicUpdateTime() const override { return 0; }
  void RestartRender() override {}
  TGRect ViewRect() const override { return viewRect_; }
  void StoreViewRect(const TGRect& rect) override { viewRect_ = rect; }
  void SetViewRect(const TGRect&) override {}
  void RenderTextureTriangle(const TGTriangle&, const TGTriangleLL&, TGBitmap&, bool) override {}

private:
  BufferSurface surface_;
  TGRect viewRect_;
};

using Chains = std::vector<std::unique_ptr<TGPointStore>>;

// Chains of coastline-like lengths (log-uniform from 4 to 20,000 points, the last one cut to
// make the total) from a random walk: 0.005 to 0.05 degree steps with a wandering heading, each
// chain starting at a random place on the sphere.
Chains RandomWalkChains(int total, uint64_t start)
{
  Rng rng(start);
  Chains chains;
  int made = 0;
  while (made < total) {
    const int length = std::min(
        total - made,
        static_cast<int>(std::lround(std::exp(rng.Uniform(std::log(4.0), std::log(20000.0))))));
    auto store = std::make_unique<TGPointStore>();
    double lat = std::asin(rng.Uniform(-1, 1)) * 180 / M_PI;
    double lon = rng.Uniform(-180, 180);
    double heading = rng.Uniform(0, 2 * M_PI);
    for (int i = 0; i < length; ++i) {
      store->Add(DDToPointLL(lon, lat));
      heading += rng.Uniform(-0.5, 0.5);
      const double step = rng.Uniform(0.005, 0.05);
      lat += step * std::cos(heading);
      if (std::fabs(lat) > 89.5) { // turn back from the poles
        lat = std::copysign(179 - std::fabs(lat), lat);
        heading = M_PI - heading;
      }
      lon += step * std::sin(heading) / std::cos(lat * M_PI / 180);
      if (lon >= 180) lon -= 360;
      if (lon < -180) lon += 360;
    }
    made += length;
    chains.push_back(std::move(store));
  }
  return chains;
}

// The chains of GIS/WorldOutline.lyr in the program folder; when the file is not there or
// cannot be read, a note says why the row is left out.
std::optional<Chains> WorldOutlineChains(std::string& note)
{
  const std::string file = ProgramFile("GIS/WorldOutline.lyr");
  if (!std::filesystem::exists(file)) {
    note = "world outline row skipped: " + file + " does not exist";
    return std::nullopt;
  }
  Chains chains;
  TGLYRFileReader reader;
  reader.SetFileName(file);
  try {
    for (auto obj = reader.First(); obj; obj = reader.Next())
      if (auto poly = std::dynamic_pointer_cast<IGMapPoly>(obj))
        for (int32_t i = 0; i < poly->Chains().Count(); ++i)
          if (const TGPointStore* chain = poly->Chains().ChainAt(i))
            chains.push_back(chain->Clone());
  } catch (const std::exception& e) {
    note = std::string("world outline row skipped: ") + e.what();
    return std::nullopt;
  }
  return chains;
}

// The same points in radians, chain after chain, for PROJ (which projects in place).
struct PeerInput
{
  std::vector<PJ_COORD> LonLat;
  std::vector<size_t> Starts; // first point of each chain, then the total
};

PeerInput ToPeer(const Chains& chains)
{
  PeerInput in;
  for (const auto& c : chains) {
    in.Starts.push_back(in.LonLat.size());
    for (const TGPointLL& p : c->Points())
      in.LonLat.push_back(proj_coord(static_cast<double>(p.iLongX * RADIANS_PER_GU),
                                     static_cast<double>(p.iLatY * RADIANS_PER_GU), 0, 0));
  }
  in.Starts.push_back(in.LonLat.size());
  return in;
}

class Peer
{
public:
  explicit Peer(long double radius)
  {
    ctx_ = proj_context_create();
    char text[200];
    std::snprintf(text, sizeof text, "+proj=ortho +lat_0=%.17g +lon_0=%.17g +R=%.17g", kCentreLat,
                  kCentreLon, static_cast<double>(radius));
    pj_ = proj_create(ctx_, text);
    if (!pj_) throw std::runtime_error(std::string("proj_create failed: ") + text);
  }
  ~Peer()
  {
    proj_destroy(pj_);
    proj_context_destroy(ctx_);
  }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  // Projects [from, to) of in into out (out[i] overwritten); points PROJ cannot project (the
  // far hemisphere) come back as HUGE_VAL.
  void Project(const PeerInput& in, size_t from, size_t to, std::vector<PJ_COORD>& out)
  {
    std::copy(in.LonLat.begin() + from, in.LonLat.begin() + to, out.begin() + from);
    double* xy = &out[from].xy.x;
    proj_trans_generic(pj_, PJ_FWD, xy, sizeof(PJ_COORD), to - from, xy + 1, sizeof(PJ_COORD),
                       to - from, nullptr, 0, 0, nullptr, 0, 0);
  }

private:
  PJ_CONTEXT* ctx_ = nullptr;
  PJ* pj_ = nullptr;
};

struct Setup
{
  WindowlessHost host;
  TGProjector projector{host};
  TGSphericalPrj* model = nullptr;

  Setup()
  {
    auto m = std::make_unique<TGSphericalPrj>();
    model = m.get();
    projector.SetProjectionModel(std::move(m));
    projector.SetScaleFactor(0); // the disc fills the height
    projector.SetXRotation(kCentreLat);
    projector.SetYRotation(kCentreLon);
  }
};

struct Result
{
  PairTiming PerPoint;       // ns per input point
  double ColdPerPoint = 0;   // ns per point when each store's 3-D points are rebuilt first
  int64_t Written = 0;       // device points our projection wrote
  int64_t PeerProjected = 0; // points PROJ projected (the near hemisphere)
  double WorstPixels = 0;    // worst |ours - PROJ| over near points, in device pixels
  int64_t Points = 0;        // input points
};

// Worst difference between our device point and PROJ's (rounded and moved to the device origin
// like ours) over every tenth point, each projected alone so none is dropped as a duplicate.
double WorstDifference(Setup& s, const Chains& chains, const PeerInput& in,
                       const std::vector<PJ_COORD>& peer)
{
  const TGPointBuffer& buffer = s.host.Renderer().Points();
  const int32_t xo = s.projector.XOrigin(), yo = s.projector.YOrigin();
  double worst = 0;
  size_t k = 0;
  TGPointStore single;
  for (size_t c = 0; c < chains.size(); ++c) {
    const auto points = chains[c]->Points();
    for (size_t i = 0; i < points.size(); ++i, ++k) {
      const PJ_COORD& q = peer[in.Starts[c] + i];
      if (k % 10 != 0 || !std::isfinite(q.xy.x) || std::fabs(q.xy.x) > 1e30) continue;
      single.SetCount(0);
      single.Add(points[i]);
      if (s.model->PointStoreToXY(single, 0) != 1) continue;
      const double dx = buffer[0].X - (std::nearbyint(q.xy.x) + xo);
      const double dy = buffer[0].Y - (std::nearbyint(-q.xy.y) + yo);
      worst = std::max({worst, std::fabs(dx), std::fabs(dy)});
    }
  }
  return worst;
}

Result Measure(Setup& s, const Chains& chains, int reps)
{
  const PeerInput in = ToPeer(chains);
  const size_t n = in.LonLat.size();
  std::vector<PJ_COORD> out(n);
  Peer peer(s.model->GlobeRadius);
  Result r;

  // Small inputs are run several times over, so that every timed run projects about 1,000,000
  // points and stays well above the clock's and the machine's jitter.
  const size_t passes = std::max<size_t>(1, 1'000'000 / std::max<size_t>(n, 1));
  auto ours = [&] {
    int64_t written = 0;
    for (size_t pass = 0; pass < passes; ++pass) {
      written = 0;
      for (const auto& c : chains)
        written += s.model->PointStoreToXY(*c, 0);
    }
    r.Written = written;
    Keep(written);
  };
  auto theirs = [&] {
    for (size_t pass = 0; pass < passes; ++pass)
      for (size_t c = 0; c + 1 < in.Starts.size(); ++c)
        peer.Project(in, in.Starts[c], in.Starts[c + 1], out);
    Keep(out[n / 2]);
  };
  r.PerPoint = TimeBoth(reps, ours, theirs);
  r.PerPoint.Ours *= 1e9 / static_cast<double>(n * passes);
  r.PerPoint.Peer *= 1e9 / static_cast<double>(n * passes);
  r.Points = static_cast<int64_t>(n);

  // The first projection after a store changed rebuilds its 3-D points (trigonometry per
  // point, as PROJ does every time).
  std::vector<double> cold;
  for (int i = 0; i < reps; ++i) {
    double seconds = 0;
    for (const auto& c : chains) {
      c->Translate(0, 0, 0); // a change: the 3-D points are stale
      seconds += SecondsOf([&] { Keep(s.model->PointStoreToXY(*c, 0)); });
    }
    cold.push_back(seconds);
  }
  r.ColdPerPoint = Median(cold) * 1e9 / n;

  for (const PJ_COORD& q : out)
    if (std::isfinite(q.xy.x) && std::fabs(q.xy.x) < 1e30) ++r.PeerProjected;
  r.WorstPixels = WorstDifference(s, chains, in, out);
  return r;
}

void AddRows(Table& table, const std::string& what, const Result& r)
{
  table.Add({what + ", time", "ns/point", r.PerPoint.Ours, r.PerPoint.Peer,
             "<= 0.1 (10x throughput)", r.PerPoint.Ours <= r.PerPoint.Peer / 10});
  table.Add({what + ", first run after a change (3-D points rebuilt)", "ns/point", r.ColdPerPoint,
             r.PerPoint.Peer, "", true});
  table.Add({what + ", worst |ours - peer| (near side, every 10th point)", "px", r.WorstPixels, NAN,
             "", true});
}

} // namespace

int main(int argc, char** argv)
{
  const int reps = Repetitions(argc, argv, 5);
  Setup s;

  const Chains walk = RandomWalkChains(1'000'000, 1301);
  const Result rWalk = Measure(s, walk, reps);

  std::string outlineNote;
  const std::optional<Chains> outline = WorldOutlineChains(outlineNote);
  std::optional<Result> rOutline;
  if (outline) rOutline = Measure(s, *outline, reps);

  char title[300];
  std::snprintf(title, sizeof title,
                "projection: TGSphericalPrj::PointStoreToXY vs PROJ %s ortho (proj_trans_generic), "
                "medians of %d runs; %d x %d client, disc radius %.1f px, centre %.1f N %.1f E",
                proj_info().release, reps, kWidth, kHeight,
                static_cast<double>(s.model->GlobeRadius), kCentreLat, kCentreLon);
  Table table(title);
  AddRows(table,
          "random-walk chains (" + Thousands(static_cast<int64_t>(walk.size())) + ", " +
              Thousands(rWalk.Points) + " points)",
          rWalk);
  if (rOutline)
    AddRows(table,
            "world outline chains (" + Thousands(static_cast<int64_t>(outline->size())) + ", " +
                Thousands(rOutline->Points) + " points)",
            *rOutline);
  table.Print();
  std::printf("  random walk: ours wrote %lld device points (the rest landed on the pixel before); "
              "PROJ projected %lld near-side points, the far side it reports as errors (ours "
              "pulls those onto the rim)\n",
              static_cast<long long>(rWalk.Written), static_cast<long long>(rWalk.PeerProjected));
  std::printf("  peer time includes copying its input (proj_trans_generic projects in place)\n");
  if (!outline) std::printf("  %s\n", outlineNote.c_str());
  return 0;
}
