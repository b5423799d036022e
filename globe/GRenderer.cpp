#include "globe/GRenderer.h"

#include <algorithm>
#include <climits>

namespace vtr {

void TGPointBuffer::Grow(size_t count)
{
  // Doubling keeps a run of growing polygons from reallocating for each one.
  const size_t doubled = std::min(FPoints.size() * 2, static_cast<size_t>(INT32_MAX));
  const size_t want = std::max(count, doubled);
  FPoints.resize(want);
}

bool IGRenderSurface::XYListVisible(const TGPoint* points, int32_t count) const
{
  if (count < 2) return false;
  int32_t minX = points[0].X, maxX = points[0].X;
  int32_t minY = points[0].Y, maxY = points[0].Y;
  for (int32_t i = 1; i < count; ++i) {
    minX = std::min(minX, points[i].X);
    maxX = std::max(maxX, points[i].X);
    minY = std::min(minY, points[i].Y);
    maxY = std::max(maxY, points[i].Y);
  }
  return !(maxX < 0 || minX > Width() || maxY < 0 || minY > Height());
}

} // namespace vtr
