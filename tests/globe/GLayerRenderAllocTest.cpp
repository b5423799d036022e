// A warm render cycle allocates nothing per object or point: point buffers, the presenter
// cache and realized pens are reused. Every heap allocation of the process passes
// through the counters below; they count only while a test asks.
#include "globe/GLayer.h"

#include "GGlobeTestSupport.h"

#include <atomic>
#include <cstdlib>

extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);

namespace {

std::atomic<bool> gCounting{false};
std::atomic<long> gAllocations{0};

void Count()
{
  if (gCounting.load(std::memory_order_relaxed))
    gAllocations.fetch_add(1, std::memory_order_relaxed);
}

} // namespace

extern "C" void* malloc(size_t n)
{
  Count();
  return __libc_malloc(n);
}
extern "C" void* calloc(size_t n, size_t size)
{
  Count();
  return __libc_calloc(n, size);
}
extern "C" void* realloc(void* p, size_t n)
{
  Count();
  return __libc_realloc(p, n);
}

namespace vtr {
namespace {

// A memory source whose walk itself allocates nothing (the memory source lists its keys first).
class WalkingSource : public TGMemoryObjectSource
{
public:
  void ForEach(const TGMER&, const TGObjectCallback& callback) override
  {
    for (TGPrimaryKey pk = First(); pk != 0; pk = Next(pk))
      if (!callback(pk)) return;
  }
};

class RenderAllocations : public vtrtest::GlobeTest
{
protected:
  // Allocations of the third render of a globe with n points and n squares.
  long Allocations(int n)
  {
    MakeFlatGlobe(200, 200);
    globe->SetSurfaceColor(clBlue);
    globe->Graticule().SetDrawMode(gdBehind);
    TGLayer& layer = AddLayer("objects");
    layer.SetObjectSource(std::make_unique<WalkingSource>());
    auto point = std::make_unique<TGPointPresenter>(globe.get());
    point->SetPointType(ppSquare);
    const int32_t pid = layer.Presenters().Add(std::move(point));
    auto poly = std::make_unique<TGPolygonPresenter>(globe.get());
    poly->PolyBrush().Define(clLime, clLime, gbsSolid);
    const int32_t gid = layer.Presenters().Add(std::move(poly));
    for (int i = 0; i < n; ++i) {
      const double lon = (i * 37) % 160 - 80, lat = (i * 17) % 140 - 70;
      AddPoint(layer, lon, lat, pid);
      AddSquare(layer, lon + 1, lat + 1, 3, gid);
    }
    globe->RenderFrame();
    globe->RenderFrame();
    gAllocations = 0;
    gCounting = true;
    globe->RenderFrame();
    gCounting = false;
    return gAllocations.load();
  }
};

TEST_F(RenderAllocations, DoNotGrowWithTheObjects)
{
  // Points with their symbols and filled polygons, with surface and graticule. (Titles are
  // measured and drawn by Qt's text layout, which allocates for every text.)
  const long few = Allocations(50);
  const long many = Allocations(500);
  EXPECT_EQ(many, few) << "a warm render of 1,000 objects allocated " << many
                       << " times, one of 100 objects " << few << " times";
}

} // namespace
} // namespace vtr
