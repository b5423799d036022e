#pragma once
// Geometry containers: TGPointStore (the points of one ring or line) and TGChainStore (the
// rings or lines of one poly object), their compact delta-coded binary form, and the geometric
// queries on them (rectangle, centroid, point in polygon, point on edge, 3-D points).
// Plain C++ (no Qt). Coordinates are TGPointLL in GU (GSysUtils.h).

#include "globe/GClasses.h"
#include "globe/GStreams.h"
#include "globe/GSysUtils.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace vtr {

// Growable array of the engine's containers. Items added by growing are value-initialized
// (zero-filled); Delete ignores an index out of range; Move ignores equal or out-of-range
// indexes and otherwise takes the item out and inserts it at the new index. Storage grows
// geometrically (the memory the stores report is counted by their own rule, see ObjectSize).
template <class T> class TGDynArray
{
public:
  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  // A negative count raises "DynArraySetLength: Invalid Parameter".
  void SetCount(int32_t count)
  {
    if (count < 0) throw EGException("DynArraySetLength: Invalid Parameter");
    FItems.resize(static_cast<size_t>(count));
  }
  T& operator[](int32_t i) { return FItems[static_cast<size_t>(i)]; }
  const T& operator[](int32_t i) const { return FItems[static_cast<size_t>(i)]; }
  bool InRange(int32_t i) const { return i >= 0 && i < Count(); }

  // Shifts items i.. up; i may be Count (append). Others raise
  // "DynArrayInsert: Invalid Parameter".
  void Insert(int32_t i, T item)
  {
    if (i < 0 || i > Count()) throw EGException("DynArrayInsert: Invalid Parameter");
    FItems.insert(FItems.begin() + i, std::move(item));
  }
  void Delete(int32_t i)
  {
    if (InRange(i)) FItems.erase(FItems.begin() + i);
  }
  void Move(int32_t from, int32_t to)
  {
    if (from == to || !InRange(from) || !InRange(to)) return;
    auto f = FItems.begin() + from;
    auto t = FItems.begin() + to;
    if (from < to)
      std::rotate(f, f + 1, t + 1);
    else
      std::rotate(t, f, f + 1);
  }

  std::span<T> Items() { return FItems; }
  std::span<const T> Items() const { return FItems; }
  std::vector<T>& Vector() { return FItems; }

private:
  std::vector<T> FItems;
};

// Storage flags of a point store (bits of its flags byte).
enum TGPointStoreFlag : uint8_t {
  psLongCount = 1,  // the stored count is 32-bit (set by WritePoints from 65,536 points on)
  ps16Bit = 2,      // coarse form: full points in units of 90,000 GU as 16-bit, deltas 8-bit
  psCompressed = 4, // meaningful only in old layer files
  psHeight = 8,     // points carry a height
  psHidden = 16     // the ring is hidden: skipped by hit tests
};
using TGPointStoreFlags = uint8_t;

// Bits of a chain store's flags byte.
enum TGChainStoreFlag : uint8_t { cfHeight = 1, cfMultiRing = 2 };

struct TGCentroid
{
  TGPointLL Point;      // height 0
  long double Area = 0; // signed, in square radians (positive anticlockwise)
};

// A 3-D vector in double precision, GU (axes as TGPoint3D).
struct TGPoint3DD
{
  double X = 0;
  double Y = 0;
  double Z = 0;
  friend bool operator==(const TGPoint3DD&, const TGPoint3DD&) = default;
};

class TGPointStore : public TGRoot
{
public:
  TGPointStore() = default;
  std::string ClassName() const override { return "TGPointStore"; }

  // A new store of the same class with the same flags and points.
  virtual std::unique_ptr<TGPointStore> Clone() const;
  // Copies flags and points.
  void Assign(const TGPointStore& source);

  // 0 when the array was never created; setting it creates the array. New points are (0, 0, 0).
  int32_t Count() const { return FPointArray ? FPointArray->Count() : 0; }
  void SetCount(int32_t count);

  // Appends and returns the new index (height kept only with psHeight).
  int32_t Add(const TGPointLL& pt);
  // Appends a point given in degrees, latitude first, rounded to GU and clamped to
  // +-971,999,999 longitude and +-485,999,999 latitude; height 0.
  int32_t AddDD(long double latDeg, long double longDeg);
  // 0 <= index <= Count, else "DynArrayInsert: Invalid Parameter".
  void Insert(int32_t index, const TGPointLL& pt);
  // Ignored when index is out of range.
  void Delete(int32_t index);

  // Indexes must lie in [0, Count); others are an assertion failure. The height reads 0 and is
  // not stored without psHeight.
  TGPointLL GetLL(int32_t index) const;
  void PutLL(int32_t index, const TGPointLL& pt);
  TGPointLL AsLL(int32_t index) const { return GetLL(index); }
  // Each coordinate in degrees (GU / 5,400,000, the height too).
  TGPointDD GetDD(int32_t index) const;
  // Degrees * 5,400,000 rounded half to even, the longitude wrapped into (-GU_180, GU_180].
  void PutDD(int32_t index, const TGPointDD& pt);
  // All points at once (heights 0 without psHeight); valid until the store changes.
  std::span<const TGPointLL> Points() const;

  // Switching psHeight (here or through SetFlags) converts the store: heights are dropped, or
  // start at 0.
  bool StoreHeight() const { return (FFlags & psHeight) != 0; }
  void SetStoreHeight(bool value);
  bool Hidden() const { return (FFlags & psHidden) != 0; }
  void SetHidden(bool value);
  TGPointStoreFlags Flags() const { return FFlags; }
  void SetFlags(TGPointStoreFlags flags);

  // Adds the offsets to every point (dz only with psHeight), saturating at the 32-bit limits;
  // longitudes are not wrapped.
  void Translate(int32_t dx, int32_t dy, int32_t dz);

  // Bytes the object caches count: the instance, Count * item size (8, or 12 with heights)
  // + 12 for the array when it exists, and 30 per cached 3-D point.
  int64_t ObjectSize() const;

  // Bounding rectangle. A ring whose points lie on both sides of +-180 gets the narrower of
  // the direct and the across-the-meridian rectangle (the latter starts at the smallest
  // non-negative longitude and runs past GU_180). Width and height count the edge GU (+1);
  // an empty store gives the all-zero rectangle.
  TGMER PointStoreMER() const;
  // Area centroid of the closed ring (longitudes west of 90W move east by 360 degrees when the
  // ring crosses the meridian; the result comes back into (-GU_180, GU_180)). No points: (0, 0);
  // one: that point; two: the truncated midpoint; a ring of no area: (0, 0).
  TGCentroid CentroidAndArea() const;
  TGPointLL Centroid() const { return CentroidAndArea().Point; }
  // True when any point lies in the rectangle (LLInMER).
  bool IntersectMER(const TGMER& aMER) const;
  // Even-odd test of (iLong, iLat) against the ring; hitZone is what the point got against
  // the object's rectangle (MERHitZone): hzNone gives false; with hzPlus180 / hzMinus180 (the
  // point west / east of the meridian in a rectangle that spans it) the vertices on the other
  // side are taken a full turn round, so the ring stays continuous across +-180.
  bool PointInPolygon(int32_t iLong, int32_t iLat, TGMERHitZone hitZone) const;
  // Index of the end vertex of the first edge within iTolerance GU of the point, Count for the
  // closing edge when bClosed, -1 for none. Edges that cross +-180 are split there.
  int32_t PointOnEdge(int32_t iLong, int32_t iLat, bool bClosed, int32_t iTolerance) const;
  // The points as 3-D vectors of length EarthRadiusGU + height (as LLToPoint3D, in double
  // precision: the cache is read for every drawn point, where extended values would cost more
  // than the projection itself, and double keeps them to 1e-7 GU). Rebuilt after any change;
  // the reference stays valid until the next change.
  const std::vector<TGPoint3DD>& Point3DArray() const;

  // The delta-coded binary point list (layout in the .cpp). WritePoints sets or clears
  // psLongCount by the count. ReadPoints replaces flags and points; on damaged input it raises
  // EGException and leaves the store as it was.
  void WritePoints(TGStreamWriter& writer);
  void ReadPoints(TGStreamReader& reader);
  // ReadPoints after its flags byte: the count and the points for the given flags, which become
  // the store's. Point lists of old layer files are delta-coded only with psCompressed; without
  // it (deltaCoded false) every point is stored in full.
  void ReadPointList(TGStreamReader& reader, TGPointStoreFlags flags, bool deltaCoded);

  // XML form: one child "LL" per point, its body "long,lat" and ",height" when the height is
  // not 0 (GU, decimal). Reading sizes the store to the "LL" children and parses each; missing
  // or bad numbers read 0, longitudes are wrapped. The flags are neither written nor changed.
  void SaveToXML(TGXML_Element& el) const;
  void LoadFromXML(const TGXML_Element& el);

private:
  void Changed() { FRefreshPending = true; }
  int32_t ItemSize() const { return (FFlags & psHeight) ? 12 : 8; }
  void CheckIndex(int32_t index) const;

  std::optional<TGDynArray<TGPointLL>> FPointArray;
  int32_t FArrayItemSize = 8; // item size the array was built with
  TGPointStoreFlags FFlags = 0;
  mutable std::vector<TGPoint3DD> FPoint3DArray;
  mutable bool FRefreshPending = true;
};

// The rings or lines of one poly object. Owns its point stores; a slot may be empty.
class TGChainStore : public TGRoot
{
public:
  TGChainStore() = default;
  TGChainStore(const TGChainStore&) = delete;
  TGChainStore& operator=(const TGChainStore&) = delete;
  std::string ClassName() const override { return "TGChainStore"; }

  // Deep copies.
  std::unique_ptr<TGChainStore> Clone() const;
  void Assign(const TGChainStore& source);

  int32_t Count() const { return FChains.Count(); }
  // Frees chains cut off; new slots stay empty. Negative: "DynArraySetLength: Invalid Parameter".
  void SetCount(int32_t count);

  // The chain store takes the point store as it is (its own height flag is left alone).
  int32_t Add(std::unique_ptr<TGPointStore> chain);
  void Insert(int32_t index, std::unique_ptr<TGPointStore> chain);
  // Frees the chain and removes the slot; ignored out of range.
  void Delete(int32_t index);
  void Move(int32_t from, int32_t to);
  // The last chain; chain 0 (created) of an empty store.
  TGPointStore& Last();
  // Never nothing: grows the count to index + 1 when needed and fills an empty slot with an
  // empty point store carrying the store's height flag. A negative index raises
  // "TGChainStore.GetChain: Bad chain index %d".
  TGPointStore& GetChain(int32_t index);
  // Read-only access without creating anything: null for an empty slot or a bad index.
  const TGPointStore* ChainAt(int32_t index) const;
  // Frees the old chain in the slot (growing the count when needed) and stores the new one.
  void SetChain(int32_t index, std::unique_ptr<TGPointStore> chain);

  bool StoreHeight() const { return FStoreHeight; }
  // Passes the value to every chain.
  void SetStoreHeight(bool value);

  int64_t ObjectSize() const;
  bool IntersectMER(const TGMER& aMER) const;
  // The first chain's rectangle joined (MERUnion) with that of every further chain with points.
  TGMER ChainStoreMER() const;
  // The chains' centroids weighted by their signed areas; with a total area of 0 the last
  // chain's centroid; an empty store gives (0, 0).
  TGPointLL Centroid() const;

  // The flags byte that goes with WriteChains' output: cfHeight with StoreHeight, cfMultiRing
  // unless there is exactly one chain (an empty store writes a count of 0, so it reads back
  // empty).
  uint8_t ChainFlags() const;
  // Chain store stream: the ChainFlags byte, then WriteChains.
  void WriteToStream(TGStream& stream);
  // Nothing for a stream with no bytes left; otherwise the flags byte and ReadChains.
  void ReadFromStream(TGStream& stream);
  // A 16-bit chain count (only with cfMultiRing), then each chain's point list; more than
  // 32,767 chains raise EGException.
  void WriteChains(TGStreamWriter& writer);
  // On damaged input raises EGException and leaves the store as it was.
  void ReadChains(TGStreamReader& reader, uint8_t chainFlags);

  // XML form: "StoreHeight" (Boolean, written only when set) and one child "Chain" per chain
  // holding the chain's "LL" elements. A chain without points leaves an empty element, which
  // the writer drops, so it does not come back. Reading replaces every chain.
  void SaveToXML(TGXML_Element& el) const;
  void LoadFromXML(const TGXML_Element& el);

private:
  std::unique_ptr<TGPointStore> NewChain() const;

  TGDynArray<std::unique_ptr<TGPointStore>> FChains;
  bool FStoreHeight = false;
};

} // namespace vtr
