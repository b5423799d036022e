#include "globe/GPointStore.h"

#include "globe/GGeodesy.h"
#include "globe/GXML.h"

#include <cmath>
#include <cstdlib>

namespace vtr {

namespace {

// A rounded longitude of any size reduced into (-GU_180, GU_180].
int32_t WrapRoundedLongitude(long double gu)
{
  const long double r = std::rint(gu);
  if (!std::isfinite(r)) return 0;
  return LongWrap64(static_cast<int64_t>(std::fmod(r, static_cast<long double>(GU_360))));
}

int32_t CheckedCoordinate(int64_t value)
{
  if (value != ClampToInt32(value))
    throw EGException("TGPointStore.ReadPoints: coordinate out of range");
  return static_cast<int32_t>(value);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TGPointStore: points

std::unique_ptr<TGPointStore> TGPointStore::Clone() const
{
  auto copy = std::make_unique<TGPointStore>();
  copy->Assign(*this);
  return copy;
}

void TGPointStore::Assign(const TGPointStore& source)
{
  if (&source == this) return;
  FFlags = source.FFlags;
  FPointArray = source.FPointArray;
  FArrayItemSize = source.FArrayItemSize;
  FPoint3DArray.clear();
  Changed();
}

void TGPointStore::CheckIndex(int32_t index) const
{
  G_ASSERT_MSG(FPointArray && FPointArray->InRange(index), "TGPointStore: Bad point index");
}

void TGPointStore::SetCount(int32_t count)
{
  if (!FPointArray) {
    FPointArray.emplace();
    FArrayItemSize = ItemSize();
  }
  FPointArray->SetCount(count);
  Changed();
}

int32_t TGPointStore::Add(const TGPointLL& pt)
{
  Insert(Count(), pt);
  return Count() - 1;
}

int32_t TGPointStore::AddDD(long double latDeg, long double longDeg)
{
  return Add(DDToPointLL(longDeg, latDeg));
}

void TGPointStore::Insert(int32_t index, const TGPointLL& pt)
{
  if (!FPointArray) {
    FPointArray.emplace();
    FArrayItemSize = ItemSize();
  }
  FPointArray->Insert(index, {pt.iLongX, pt.iLatY, StoreHeight() ? pt.iHeightZ : 0});
  Changed();
}

void TGPointStore::Delete(int32_t index)
{
  if (FPointArray && FPointArray->InRange(index)) {
    FPointArray->Delete(index);
    Changed();
  }
}

TGPointLL TGPointStore::GetLL(int32_t index) const
{
  CheckIndex(index);
  return (*FPointArray)[index];
}

void TGPointStore::PutLL(int32_t index, const TGPointLL& pt)
{
  CheckIndex(index);
  (*FPointArray)[index] = {pt.iLongX, pt.iLatY, StoreHeight() ? pt.iHeightZ : 0};
  Changed();
}

TGPointDD TGPointStore::GetDD(int32_t index) const
{
  const TGPointLL p = GetLL(index);
  return {GUToDD(p.iLongX), GUToDD(p.iLatY), GUToDD(p.iHeightZ)};
}

void TGPointStore::PutDD(int32_t index, const TGPointDD& pt)
{
  PutLL(index, {WrapRoundedLongitude(pt.LongX * GU_DEGREE), RoundToInt32(pt.LatY * GU_DEGREE),
                RoundToInt32(pt.HeightZ * GU_DEGREE)});
}

std::span<const TGPointLL> TGPointStore::Points() const
{
  if (!FPointArray) return {};
  return FPointArray->Items();
}

void TGPointStore::SetStoreHeight(bool value)
{
  if (value == StoreHeight()) return;
  FFlags = value ? (FFlags | psHeight) : (FFlags & ~psHeight);
  if (FPointArray) {
    // Rebuilt at the new item size; dropped heights are gone, new ones start at 0.
    for (TGPointLL& p : FPointArray->Items())
      p.iHeightZ = 0;
    FArrayItemSize = ItemSize();
  }
  Changed();
}

void TGPointStore::SetHidden(bool value)
{
  FFlags = value ? (FFlags | psHidden) : (FFlags & ~psHidden);
}

void TGPointStore::SetFlags(TGPointStoreFlags flags)
{
  SetStoreHeight((flags & psHeight) != 0);
  FFlags = flags;
}

void TGPointStore::Translate(int32_t dx, int32_t dy, int32_t dz)
{
  if (!FPointArray) return;
  const bool h = StoreHeight();
  for (TGPointLL& p : FPointArray->Items()) {
    p.iLongX = ClampToInt32(static_cast<int64_t>(p.iLongX) + dx);
    p.iLatY = ClampToInt32(static_cast<int64_t>(p.iLatY) + dy);
    if (h) p.iHeightZ = ClampToInt32(static_cast<int64_t>(p.iHeightZ) + dz);
  }
  Changed();
}

int64_t TGPointStore::ObjectSize() const
{
  int64_t size = sizeof(*this);
  if (FPointArray) size += static_cast<int64_t>(Count()) * FArrayItemSize + 12;
  return size + 30 * static_cast<int64_t>(FPoint3DArray.size());
}

// ---------------------------------------------------------------------------------------------
// TGPointStore: geometry

TGMER TGPointStore::PointStoreMER() const
{
  const auto pts = Points();
  if (pts.empty()) return {};
  int32_t minLat = pts[0].iLatY, maxLat = pts[0].iLatY;
  int32_t minLon = pts[0].iLongX, maxLon = pts[0].iLongX;
  bool anyNegative = false, anyNonNegative = false;
  int32_t maxNegative = 0, minNonNegative = 0;
  for (const TGPointLL& p : pts) {
    minLat = std::min(minLat, p.iLatY);
    maxLat = std::max(maxLat, p.iLatY);
    minLon = std::min(minLon, p.iLongX);
    maxLon = std::max(maxLon, p.iLongX);
    if (p.iLongX < 0) {
      maxNegative = anyNegative ? std::max(maxNegative, p.iLongX) : p.iLongX;
      anyNegative = true;
    } else {
      minNonNegative = anyNonNegative ? std::min(minNonNegative, p.iLongX) : p.iLongX;
      anyNonNegative = true;
    }
  }
  const int64_t direct = static_cast<int64_t>(maxLon) - minLon;
  TGMER m;
  const long double across =
      (static_cast<long double>(maxNegative) + 2.0L * GU_180) - minNonNegative;
  if (!anyNegative || !anyNonNegative || across >= static_cast<long double>(direct)) {
    m.iLongX = minLon;
    m.iWidthX = ClampToInt32(direct + 1);
  } else {
    m.iLongX = minNonNegative;
    m.iWidthX = ClampToInt32(static_cast<int64_t>(std::rint(across)) + 1);
  }
  m.iLatY = minLat;
  m.iHeightY = ClampToInt32(static_cast<int64_t>(maxLat) - minLat + 1);
  return m;
}

TGCentroid TGPointStore::CentroidAndArea() const
{
  const auto pts = Points();
  const size_t n = pts.size();
  if (n == 0) return {};
  if (n == 1) return {{pts[0].iLongX, pts[0].iLatY, 0}, 0};
  if (n == 2)
    return {{static_cast<int32_t>((static_cast<int64_t>(pts[0].iLongX) + pts[1].iLongX) / 2),
             static_cast<int32_t>((static_cast<int64_t>(pts[0].iLatY) + pts[1].iLatY) / 2), 0},
            0};

  // Shoelace sums in radians; a ring across the meridian is made continuous by moving the
  // points west of 90W a full turn east.
  const bool crosses = MERRight(PointStoreMER()) > GU_180;
  std::vector<long double> xs(n), ys(n);
  for (size_t i = 0; i < n; ++i) {
    long double x = pts[i].iLongX * RADIANS_PER_GU;
    if (crosses && pts[i].iLongX <= -GU_90) x += 2 * GU_PI;
    xs[i] = x;
    ys[i] = pts[i].iLatY * RADIANS_PER_GU;
  }
  long double sumC = 0, sx = 0, sy = 0;
  for (size_t i = 0; i < n; ++i) {
    const size_t j = (i + 1) % n;
    const long double c = xs[i] * ys[j] - xs[j] * ys[i];
    sumC += c;
    sx += c * (xs[i] + xs[j]);
    sy += c * (ys[i] + ys[j]);
  }
  TGCentroid result;
  result.Area = sumC / 2;
  if (sumC != 0) {
    long double x = sx / (3 * sumC);
    const long double y = sy / (3 * sumC);
    if (x >= GU_PI) x -= 2 * GU_PI;
    result.Point = {LongWrap(RoundToInt32(x * GU_PER_RADIAN)), RoundToInt32(y * GU_PER_RADIAN), 0};
  }
  return result;
}

bool TGPointStore::IntersectMER(const TGMER& aMER) const
{
  for (const TGPointLL& p : Points())
    if (LLInMER(aMER, p)) return true;
  return false;
}

bool TGPointStore::PointInPolygon(int32_t iLong, int32_t iLat, TGMERHitZone hitZone) const
{
  if (hitZone == hzNone) return false;
  // For a point on one side of the meridian in a ring that spans it, the vertices on the other
  // side are moved a full turn so that the ring is continuous around the point.
  auto lon = [hitZone](int32_t x) -> int64_t {
    if (hitZone == hzPlus180 && x < 0) return static_cast<int64_t>(x) + GU_360;
    if (hitZone == hzMinus180 && x > 0) return static_cast<int64_t>(x) - GU_360;
    return x;
  };
  const auto pts = Points();
  if (pts.empty()) return false;
  bool inside = false;
  int64_t px = lon(pts.back().iLongX), py = pts.back().iLatY;
  for (const TGPointLL& v : pts) {
    const int64_t x = lon(v.iLongX), y = v.iLatY;
    if ((y <= iLat && iLat < py) || (py <= iLat && iLat < y)) {
      const int64_t num = (px - x) * (iLat - y); // below 2^62: factors below 2^31.9 and 2^31
      const long double q = std::rint(static_cast<long double>(num) / (py - y));
      if (iLong < x + q) inside = !inside;
    }
    px = x;
    py = y;
  }
  return inside;
}

int32_t TGPointStore::PointOnEdge(int32_t iLong, int32_t iLat, bool bClosed,
                                  int32_t iTolerance) const
{
  const auto pts = Points();
  const int32_t n = static_cast<int32_t>(pts.size());
  if (n == 0) return -1;
  for (int32_t i = 1; i < n; ++i) {
    const TGPointLL& s = pts[static_cast<size_t>(i - 1)];
    const TGPointLL& e = pts[static_cast<size_t>(i)];
    if (CrossesAntimeridian(s.iLongX, e.iLongX)) {
      // Split at the meridian: the start's side ends at +-(GU_180 - 1), the end's side begins
      // at the opposite sign, both at the latitude where the edge meets the meridian.
      const long double d = s.iLongX < 0 ? -(GU_180 - 1) : GU_180 - 1;
      const long double w = LongDiff(s.iLongX, e.iLongX);
      const long double latStep =
          std::rint((d - s.iLongX) / w * (static_cast<long double>(e.iLatY) - s.iLatY));
      const long double midLat = s.iLatY + latStep;
      if (PointOnSegment(iLong, iLat, s.iLongX, s.iLatY, d, midLat, iTolerance) ||
          PointOnSegment(iLong, iLat, -d, midLat, e.iLongX, e.iLatY, iTolerance))
        return i;
    } else if (PointOnSegment(iLong, iLat, s.iLongX, s.iLatY, e.iLongX, e.iLatY, iTolerance)) {
      return i;
    }
  }
  if (bClosed) {
    const TGPointLL& s = pts[static_cast<size_t>(n - 1)];
    const TGPointLL& e = pts[0];
    if (PointOnSegment(iLong, iLat, s.iLongX, s.iLatY, e.iLongX, e.iLatY, iTolerance)) return n;
  }
  return -1;
}

const std::vector<TGPoint3DD>& TGPointStore::Point3DArray() const
{
  if (FRefreshPending || FPoint3DArray.size() != static_cast<size_t>(Count())) {
    FRefreshPending = false;
    const auto pts = Points();
    FPoint3DArray.resize(pts.size());
    constexpr auto kRadians = static_cast<double>(RADIANS_PER_GU);
    constexpr auto kRadius = static_cast<double>(EarthRadiusGU);
    for (size_t i = 0; i < pts.size(); ++i) {
      const double phi = pts[i].iLatY * kRadians;
      const double lambda = pts[i].iLongX * kRadians;
      const double rho = kRadius + pts[i].iHeightZ;
      const double cosPhi = std::cos(phi);
      FPoint3DArray[i] = {rho * cosPhi * std::sin(lambda), rho * std::sin(phi),
                          rho * cosPhi * std::cos(lambda)};
    }
  }
  return FPoint3DArray;
}

// ---------------------------------------------------------------------------------------------
// TGPointStore: binary point list
//
//   flags    uint8   TGPointStoreFlags (psLongCount set exactly when count > 65,535)
//   count    uint16, or int32 with psLongCount
//   first    point   WritePointLL(psHeight, ps16Bit): 2 or 3 values of int16 (GU div 90,000)
//                    with ps16Bit, of int32 otherwise
//   then per further point either
//     delta  dx, dy[, dz]: int8 with ps16Bit (units of 90,000 GU), else int16 (GU);
//            each |d| below the escape (127, or 32,767)
//   or
//     escape one delta-width value equal to the escape, then the full point as above
//
// Deltas are taken from the exact previous point, truncated toward zero; the reader adds them
// to a running sum, so the ps16Bit form is lossy and the other one exact.

void TGPointStore::WritePoints(TGStreamWriter& writer)
{
  const int32_t n = Count();
  // A 16-bit count holds at most 65,535.
  if (n > 65535)
    FFlags |= psLongCount;
  else
    FFlags &= ~psLongCount;
  writer.WriteByte(FFlags);
  if (FFlags & psLongCount)
    writer.WriteInteger(n);
  else
    writer.WriteWord(static_cast<uint16_t>(n));
  if (n == 0) return;

  const bool h = StoreHeight();
  const bool coarse = (FFlags & ps16Bit) != 0;
  const int64_t step = coarse ? kCoarseStep : 1;
  const int64_t escape = coarse ? 127 : 32767;
  auto writeDelta = [&](int64_t v) {
    if (coarse)
      writer.WriteShortInt(static_cast<int8_t>(v));
    else
      writer.WriteSmallInt(static_cast<int16_t>(v));
  };

  const auto pts = Points();
  writer.WritePointLL(pts[0], h, coarse);
  for (size_t i = 1; i < pts.size(); ++i) {
    const TGPointLL& p = pts[i];
    const TGPointLL& prev = pts[i - 1];
    const int64_t dx = (static_cast<int64_t>(p.iLongX) - prev.iLongX) / step;
    const int64_t dy = (static_cast<int64_t>(p.iLatY) - prev.iLatY) / step;
    const int64_t dz = h ? (static_cast<int64_t>(p.iHeightZ) - prev.iHeightZ) / step : 0;
    if (std::llabs(dx) < escape && std::llabs(dy) < escape && std::llabs(dz) < escape) {
      writeDelta(dx);
      writeDelta(dy);
      if (h) writeDelta(dz);
    } else {
      writeDelta(escape);
      writer.WritePointLL(p, h, coarse);
    }
  }
}

void TGPointStore::ReadPoints(TGStreamReader& reader)
{
  // Layout: [uint8 flags], then the count and points of ReadPointList.
  const TGPointStoreFlags flags = reader.ReadByte();
  ReadPointList(reader, flags, true);
}

void TGPointStore::ReadPointList(TGStreamReader& reader, TGPointStoreFlags flags, bool deltaCoded)
{
  // Layout: [int32 count with psLongCount, else uint16], [first point: WritePointLL], then per
  // further point either a full point (not delta-coded) or [dx, dy(, dz)] in the delta width,
  // where dx = escape announces a full point.
  const int64_t count =
      (flags & psLongCount) ? static_cast<int64_t>(reader.ReadInteger()) : reader.ReadWord();
  if (count < 0)
    throw EGException("TGPointStore.ReadPoints: bad point count " + std::to_string(count));
  const bool h = (flags & psHeight) != 0;
  const bool coarse = (flags & ps16Bit) != 0;
  const int64_t step = coarse ? kCoarseStep : 1;
  const int32_t deltaSize = coarse ? 1 : 2;
  const int32_t escape = coarse ? 127 : 32767;

  std::vector<TGPointLL> pts;
  if (count > 0) {
    // Every point needs at least its deltas (or its full form): refuse a count the stream
    // cannot hold before allocating for it.
    const int64_t leastPerPoint = deltaCoded ? deltaSize * (h ? 3 : 2) : PointLLSize(h, coarse);
    reader.RequireBytes(PointLLSize(h, coarse) + (count - 1) * leastPerPoint);
    pts.reserve(static_cast<size_t>(count));
    auto readDelta = [&]() -> int32_t {
      return coarse ? reader.ReadShortInt() : reader.ReadSmallInt();
    };
    int64_t x = 0, y = 0, z = 0;
    auto resetSum = [&](const TGPointLL& p) {
      x = p.iLongX / step;
      y = p.iLatY / step;
      z = p.iHeightZ / step;
    };
    pts.push_back(reader.ReadPointLL(h, coarse));
    resetSum(pts.back());
    for (int64_t i = 1; i < count; ++i) {
      if (!deltaCoded) {
        pts.push_back(reader.ReadPointLL(h, coarse));
        continue;
      }
      const int32_t first = readDelta();
      if (first == escape) {
        pts.push_back(reader.ReadPointLL(h, coarse));
        resetSum(pts.back());
        continue;
      }
      x += first;
      y += readDelta();
      if (h) z += readDelta();
      pts.push_back(
          {LongWrap64(x * step), CheckedCoordinate(y * step), CheckedCoordinate(z * step)});
    }
  }

  FFlags = flags;
  FPointArray.emplace();
  FPointArray->Vector() = std::move(pts);
  FArrayItemSize = ItemSize();
  FPoint3DArray.clear();
  Changed();
}

// ---------------------------------------------------------------------------------------------
// TGChainStore

std::unique_ptr<TGPointStore> TGChainStore::NewChain() const
{
  auto chain = std::make_unique<TGPointStore>();
  chain->SetStoreHeight(FStoreHeight);
  return chain;
}

std::unique_ptr<TGChainStore> TGChainStore::Clone() const
{
  auto copy = std::make_unique<TGChainStore>();
  copy->Assign(*this);
  return copy;
}

void TGChainStore::Assign(const TGChainStore& source)
{
  if (&source == this) return;
  TGDynArray<std::unique_ptr<TGPointStore>> chains;
  for (const auto& c : source.FChains.Items())
    chains.Vector().push_back(c ? c->Clone() : nullptr);
  FChains = std::move(chains);
  FStoreHeight = source.FStoreHeight;
}

void TGChainStore::SetCount(int32_t count)
{
  FChains.SetCount(count);
}

int32_t TGChainStore::Add(std::unique_ptr<TGPointStore> chain)
{
  FChains.Insert(Count(), std::move(chain));
  return Count() - 1;
}

void TGChainStore::Insert(int32_t index, std::unique_ptr<TGPointStore> chain)
{
  FChains.Insert(index, std::move(chain));
}

void TGChainStore::Delete(int32_t index)
{
  FChains.Delete(index);
}

void TGChainStore::Move(int32_t from, int32_t to)
{
  FChains.Move(from, to);
}

TGPointStore& TGChainStore::Last()
{
  return GetChain(Count() == 0 ? 0 : Count() - 1);
}

TGPointStore& TGChainStore::GetChain(int32_t index)
{
  if (index < 0)
    throw EGException("TGChainStore.GetChain: Bad chain index " + std::to_string(index));
  if (index >= Count()) FChains.SetCount(index + 1);
  auto& slot = FChains[index];
  if (!slot) slot = NewChain();
  return *slot;
}

const TGPointStore* TGChainStore::ChainAt(int32_t index) const
{
  return FChains.InRange(index) ? FChains[index].get() : nullptr;
}

void TGChainStore::SetChain(int32_t index, std::unique_ptr<TGPointStore> chain)
{
  if (index < 0)
    throw EGException("TGChainStore.SetChain: Bad chain index " + std::to_string(index));
  if (index >= Count()) FChains.SetCount(index + 1);
  FChains[index] = std::move(chain);
}

void TGChainStore::SetStoreHeight(bool value)
{
  FStoreHeight = value;
  for (auto& c : FChains.Items())
    if (c) c->SetStoreHeight(value);
}

int64_t TGChainStore::ObjectSize() const
{
  int64_t size = sizeof(*this);
  for (const auto& c : FChains.Items())
    if (c) size += c->ObjectSize();
  return size;
}

bool TGChainStore::IntersectMER(const TGMER& aMER) const
{
  for (const auto& c : FChains.Items())
    if (c && c->IntersectMER(aMER)) return true;
  return false;
}

TGMER TGChainStore::ChainStoreMER() const
{
  if (Count() == 0) return {};
  TGMER m = FChains[0] ? FChains[0]->PointStoreMER() : TGMER{};
  for (int32_t i = 1; i < Count(); ++i)
    if (FChains[i] && FChains[i]->Count() > 0) m = MERUnion(m, FChains[i]->PointStoreMER());
  return m;
}

TGPointLL TGChainStore::Centroid() const
{
  if (Count() == 0) return {};
  long double sumX = 0, sumY = 0, sumArea = 0;
  TGPointLL last{};
  for (const auto& c : FChains.Items()) {
    const TGCentroid cc = c ? c->CentroidAndArea() : TGCentroid{};
    last = cc.Point;
    sumX += cc.Point.iLongX * cc.Area;
    sumY += cc.Point.iLatY * cc.Area;
    sumArea += cc.Area;
  }
  if (sumArea == 0) return last;
  const long double x = std::rint(sumX / sumArea);
  const long double y = std::rint(sumY / sumArea);
  if (!std::isfinite(x) || !std::isfinite(y) || std::fabs(x) > 2147483647.0L ||
      std::fabs(y) > 2147483647.0L) {
    // A computation that fails falls back to the first point of the first chain.
    const TGPointStore* first = ChainAt(0);
    if (first && first->Count() > 0) return {first->GetLL(0).iLongX, first->GetLL(0).iLatY, 0};
    return {};
  }
  return {static_cast<int32_t>(x), static_cast<int32_t>(y), 0};
}

uint8_t TGChainStore::ChainFlags() const
{
  uint8_t flags = FStoreHeight ? cfHeight : 0;
  if (Count() != 1) flags |= cfMultiRing;
  return flags;
}

void TGChainStore::WriteToStream(TGStream& stream)
{
  TGStreamWriter writer(stream);
  writer.WriteByte(ChainFlags());
  WriteChains(writer);
}

void TGChainStore::ReadFromStream(TGStream& stream)
{
  if (stream.Remaining() == 0) return;
  TGStreamReader reader(stream);
  const uint8_t flags = reader.ReadByte();
  ReadChains(reader, flags);
}

void TGChainStore::WriteChains(TGStreamWriter& writer)
{
  // Layout: [int16 chain count, when cfMultiRing], then each chain's point list.
  if (Count() != 1) {
    if (Count() > 32767)
      throw EGException("TGChainStore.WriteChains: too many chains (" + std::to_string(Count()) +
                        ")");
    writer.WriteSmallInt(static_cast<int16_t>(Count()));
  }
  for (auto& c : FChains.Items()) {
    if (c) {
      c->WritePoints(writer);
    } else {
      TGPointStore empty;
      empty.SetStoreHeight(FStoreHeight);
      empty.WritePoints(writer);
    }
  }
}

void TGChainStore::ReadChains(TGStreamReader& reader, uint8_t chainFlags)
{
  const bool storeHeight = (chainFlags & cfHeight) != 0;
  int32_t count = 1;
  if (chainFlags & cfMultiRing) {
    count = reader.ReadSmallInt();
    if (count < 0)
      throw EGException("TGChainStore.ReadChains: bad chain count " + std::to_string(count));
  }
  // Each point list takes at least a flags byte and a 16-bit count.
  reader.RequireBytes(static_cast<int64_t>(count) * 3);
  TGDynArray<std::unique_ptr<TGPointStore>> chains;
  chains.Vector().reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    auto chain = std::make_unique<TGPointStore>();
    chain->SetStoreHeight(storeHeight);
    chain->ReadPoints(reader);
    chains.Vector().push_back(std::move(chain));
  }
  FChains = std::move(chains);
  FStoreHeight = storeHeight;
}

// ---------------------------------------------------------------------------------------------
// XML forms

void TGPointStore::SaveToXML(TGXML_Element& el) const
{
  for (const TGPointLL& pt : Points())
    el.AddElement("LL").SetBodyText(PointLLToStr(pt));
}

void TGPointStore::LoadFromXML(const TGXML_Element& el)
{
  const std::vector<const TGXML_Element*> points = el.Elements("LL");
  SetCount(static_cast<int32_t>(points.size()));
  for (size_t i = 0; i < points.size(); ++i) {
    TGPointLL pt = StrToPointLL(points[i]->BodyText());
    pt.iLongX = LongWrap(pt.iLongX); // as the stream reader does: longitudes stay in range
    PutLL(static_cast<int32_t>(i), pt);
  }
}

void TGChainStore::SaveToXML(TGXML_Element& el) const
{
  el.AddBoolAttribute("StoreHeight", FStoreHeight, false);
  for (const auto& chain : FChains.Items()) {
    TGXML_Element& c = el.AddElement("Chain");
    if (chain) chain->SaveToXML(c);
  }
}

void TGChainStore::LoadFromXML(const TGXML_Element& el)
{
  TGDynArray<std::unique_ptr<TGPointStore>> chains;
  const bool storeHeight = el.BoolAttribute("StoreHeight", false);
  for (const TGXML_Element* c : el.Elements("Chain")) {
    auto chain = std::make_unique<TGPointStore>();
    chain->SetStoreHeight(storeHeight);
    chain->LoadFromXML(*c);
    chains.Vector().push_back(std::move(chain));
  }
  FChains = std::move(chains);
  FStoreHeight = storeHeight;
}

} // namespace vtr
