// Point and chain stores: the growable array rules, heights, rectangles and centroids across
// the meridian, hit tests, 3-D points, and the binary point list and chain stream with their
// limits and damaged input.
#include "globe/GPointStore.h"

#include "globe/GGeodesy.h"

#include "GlobeTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

namespace vtr {
namespace {

constexpr int32_t D = GU_DEGREE;

using vtrtest::ErrorText;

TGPointStore Ring(std::initializer_list<TGPointLL> pts, TGPointStoreFlags flags = 0)
{
  TGPointStore s;
  s.SetFlags(flags);
  for (const auto& p : pts)
    s.Add(p);
  return s;
}

std::vector<uint8_t> PointBytes(TGPointStore& s)
{
  TGMemoryStream m;
  TGStreamWriter w(m);
  s.WritePoints(w);
  return m.Bytes();
}

TGPointStore ReadBack(const std::vector<uint8_t>& bytes)
{
  TGMemoryStream m(bytes);
  TGStreamReader r(m);
  TGPointStore s;
  s.ReadPoints(r);
  EXPECT_EQ(r.Remaining(), 0);
  return s;
}

std::vector<TGPointLL> PointsOf(const TGPointStore& s)
{
  return {s.Points().begin(), s.Points().end()};
}

TEST(DynArray, InsertDeleteMoveAndGrowth)
{
  TGDynArray<int> a;
  a.SetCount(3);
  EXPECT_EQ(std::vector<int>(a.Items().begin(), a.Items().end()), (std::vector<int>{0, 0, 0}));
  for (int i = 0; i < 3; ++i)
    a[i] = i + 1; // 1 2 3
  a.Insert(0, 9); // 9 1 2 3
  a.Insert(4, 8); // 9 1 2 3 8
  a.Delete(7);    // ignored
  a.Delete(-1);   // ignored
  a.Delete(1);    // 9 2 3 8
  a.Move(0, 3);   // 2 3 8 9
  a.Move(3, 1);   // 2 9 3 8
  a.Move(2, 2);   // ignored
  a.Move(0, 4);   // ignored
  EXPECT_EQ(std::vector<int>(a.Items().begin(), a.Items().end()), (std::vector<int>{2, 9, 3, 8}));
  EXPECT_EQ(ErrorText([&] { a.Insert(6, 1); }), "DynArrayInsert: Invalid Parameter");
  EXPECT_EQ(ErrorText([&] { a.SetCount(-1); }), "DynArraySetLength: Invalid Parameter");
  a.SetCount(1);
  a.SetCount(2);
  EXPECT_EQ(a[1], 0); // grown items are zero-filled
}

TEST(PointStore, CountHeightsAndObjectSize)
{
  TGPointStore s;
  EXPECT_EQ(s.Count(), 0);
  const int64_t bare = s.ObjectSize();
  EXPECT_EQ(bare, static_cast<int64_t>(sizeof(TGPointStore)));
  s.SetCount(3);
  EXPECT_EQ(s.GetLL(2), (TGPointLL{}));
  EXPECT_EQ(s.ObjectSize(), bare + 3 * 8 + 12);

  EXPECT_EQ(s.Add({1, 2, 3}), 3);
  EXPECT_EQ(s.GetLL(3), (TGPointLL{1, 2, 0})); // no height without psHeight
  s.SetStoreHeight(true);
  EXPECT_EQ(s.Flags() & psHeight, psHeight);
  EXPECT_EQ(s.GetLL(3), (TGPointLL{1, 2, 0}));
  s.PutLL(3, {1, 2, 3});
  EXPECT_EQ(s.GetLL(3), (TGPointLL{1, 2, 3}));
  EXPECT_EQ(s.ObjectSize(), bare + 4 * 12 + 12);
  s.SetFlags(psHidden); // clearing psHeight this way converts too
  EXPECT_TRUE(s.Hidden());
  EXPECT_EQ(s.GetLL(3), (TGPointLL{1, 2, 0}));
  s.SetStoreHeight(true);
  EXPECT_EQ(s.GetLL(3).iHeightZ, 0); // dropped heights stay dropped

  s.Insert(0, {7, 7, 7});
  EXPECT_EQ(s.GetLL(0), (TGPointLL{7, 7, 7}));
  s.Delete(0);
  s.Delete(99);
  EXPECT_EQ(s.Count(), 4);
  EXPECT_THROW(s.GetLL(4), EAssertionFailed);
  EXPECT_THROW(s.PutLL(-1, {}), EAssertionFailed);
}

TEST(PointStore, DegreesArgumentOrderRoundingAndWrapping)
{
  TGPointStore s;
  s.AddDD(90, 180); // latitude first
  EXPECT_EQ(s.GetLL(0), (TGPointLL{971'999'999, 485'999'999, 0}));
  s.AddDD(-12.5L, 45.25L);
  EXPECT_EQ(s.GetLL(1), (TGPointLL{DDToGU(45.25L), DDToGU(-12.5L), 0}));
  s.SetStoreHeight(true);
  s.PutDD(0, {190, 10, 0.5L});
  EXPECT_EQ(s.GetLL(0), (TGPointLL{-170 * D, 10 * D, D / 2}));
  s.PutDD(1, {-540, 0, 0});
  EXPECT_EQ(s.GetLL(1).iLongX, GU_180);
  const TGPointDD dd = s.GetDD(0);
  EXPECT_EQ(dd.LongX, -170.0L);
  EXPECT_EQ(dd.HeightZ, 0.5L);
}

TEST(PointStore, TranslateCloneAndAssign)
{
  TGPointStore s = Ring({{1, 2, 3}, {4, 5, 6}}, psHeight | psHidden);
  s.Translate(10, 20, 30);
  EXPECT_EQ(s.GetLL(1), (TGPointLL{14, 25, 36}));
  s.Translate(std::numeric_limits<int32_t>::max(), 0, 0);
  EXPECT_EQ(s.GetLL(0).iLongX, std::numeric_limits<int32_t>::max());
  const auto c = s.Clone();
  EXPECT_EQ(c->Flags(), s.Flags());
  EXPECT_EQ(PointsOf(*c), PointsOf(s));
  TGPointStore t;
  t.Assign(s);
  EXPECT_EQ(PointsOf(t), PointsOf(s));
  c->PutLL(0, {0, 0, 0});
  EXPECT_NE(PointsOf(*c), PointsOf(s)); // a copy, not shared
}

TEST(PointStore, RectangleAcrossTheMeridian)
{
  struct Case
  {
    const char* name;
    TGPointStore store;
    TGMER want;
  };
  const Case cases[] = {
      {"empty", Ring({}), {}},
      {"one point", Ring({{5, 6, 0}}), MER(5, 6, 1, 1)},
      {"either side of 0", Ring({{-10 * D, 0, 0}, {10 * D, D, 0}}),
       MER(-10 * D, 0, 20 * D + 1, D + 1)},
      {"ring spanning the meridian",
       Ring({{179 * D, 0, 0}, {-179 * D, 0, 0}, {-179 * D, D, 0}, {179 * D, D, 0}}),
       MER(179 * D, 0, 2 * D + 1, D + 1)},
      {"100E and 100W join across 180", Ring({{100 * D, 0, 0}, {-100 * D, 0, 0}}),
       MER(100 * D, 0, 160 * D + 1, 1)},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.store.PointStoreMER(), c.want) << c.name;
}

TEST(PointStore, Centroids)
{
  EXPECT_EQ(Ring({}).Centroid(), (TGPointLL{}));
  EXPECT_EQ(Ring({{5, 6, 7}}, psHeight).Centroid(), (TGPointLL{5, 6, 0}));
  EXPECT_EQ(Ring({{1, 1, 0}, {2, 2, 0}}).Centroid(), (TGPointLL{1, 1, 0}));
  EXPECT_EQ(Ring({{-1, -1, 0}, {-2, -2, 0}}).Centroid(), (TGPointLL{-1, -1, 0}));
  EXPECT_EQ(Ring({{0, 0, 0}, {D, D, 0}, {2 * D, 2 * D, 0}}).Centroid(), (TGPointLL{})); // collinear

  const TGCentroid square =
      Ring({{10 * D, 10 * D, 0}, {12 * D, 10 * D, 0}, {12 * D, 12 * D, 0}, {10 * D, 12 * D, 0}})
          .CentroidAndArea();
  EXPECT_NEAR(square.Point.iLongX, 11 * D, 1);
  EXPECT_NEAR(square.Point.iLatY, 11 * D, 1);
  EXPECT_GT(square.Area, 0); // anticlockwise
  EXPECT_NEAR(static_cast<double>(square.Area), std::pow(2 * M_PI / 180, 2), 1e-12);

  // A square astride the meridian has its centroid on it, not at 0 degrees.
  const TGPointLL across =
      Ring({{179 * D, 0, 0}, {-179 * D, 0, 0}, {-179 * D, 2 * D, 0}, {179 * D, 2 * D, 0}})
          .Centroid();
  EXPECT_NEAR(std::abs(across.iLongX), GU_180, 2);
  EXPECT_NEAR(across.iLatY, D, 1);
}

TEST(ChainStore, CentroidWeightsChainsByArea)
{
  TGChainStore cs;
  EXPECT_EQ(cs.Centroid(), (TGPointLL{}));
  cs.Add(std::make_unique<TGPointStore>(
      Ring({{0, 0, 0}, {2 * D, 0, 0}, {2 * D, 2 * D, 0}, {0, 2 * D, 0}}))); // area 4, centre (1, 1)
  cs.Add(std::make_unique<TGPointStore>(Ring(
      {{10 * D, 0, 0}, {11 * D, 0, 0}, {11 * D, D, 0}, {10 * D, D, 0}}))); // area 1, (10.5, .5)
  const TGPointLL c = cs.Centroid();
  EXPECT_NEAR(c.iLongX, (4 * 1.0 + 1 * 10.5) / 5 * D, 2);
  EXPECT_NEAR(c.iLatY, (4 * 1.0 + 1 * 0.5) / 5 * D, 2);

  TGChainStore lines; // no area at all: the last chain's centroid
  lines.Add(std::make_unique<TGPointStore>(Ring({{0, 0, 0}, {2, 2, 0}})));
  lines.Add(std::make_unique<TGPointStore>(Ring({{10, 10, 0}, {20, 20, 0}})));
  EXPECT_EQ(lines.Centroid(), (TGPointLL{15, 15, 0}));
}

TEST(PointStore, PointInPolygon)
{
  const TGPointStore square =
      Ring({{10 * D, 10 * D, 0}, {20 * D, 10 * D, 0}, {20 * D, 20 * D, 0}, {10 * D, 20 * D, 0}});
  const TGPointStore across =
      Ring({{179 * D, 0, 0}, {-179 * D, 0, 0}, {-179 * D, 2 * D, 0}, {179 * D, 2 * D, 0}});
  const TGPointStore triangle = Ring({{0, 0, 0}, {10 * D, 0, 0}, {0, 10 * D, 0}});
  const TGMER acrossMER = across.PointStoreMER();
  struct Case
  {
    const char* name;
    const TGPointStore* ring;
    TGPointLL p;
    bool want;
  };
  const Case cases[] = {
      {"inside", &square, {15 * D, 15 * D, 0}, true},
      {"west of it", &square, {5 * D, 15 * D, 0}, false},
      {"east of it", &square, {25 * D, 15 * D, 0}, false},
      {"above it", &square, {15 * D, 25 * D, 0}, false},
      {"inside the triangle", &triangle, {2 * D, 2 * D, 0}, true},
      {"in its rectangle, outside the triangle", &triangle, {6 * D, 6 * D, 0}, false},
      {"on its west edge", &triangle, {0, 5 * D, 0}, true},
      {"west of the meridian, inside", &across, {GU_180 - D / 2, D, 0}, true},
      {"east of the meridian, inside", &across, {-GU_180 + D / 2, D, 0}, true},
      {"on +180, inside", &across, {GU_180, D, 0}, true},
      {"west of the meridian, above", &across, {GU_180 - D / 2, 3 * D, 0}, false},
  };
  for (const auto& c : cases) {
    const TGMER m = c.ring->PointStoreMER();
    EXPECT_EQ(c.ring->PointInPolygon(c.p.iLongX, c.p.iLatY, MERHitZone(m, c.p)), c.want) << c.name;
  }
  EXPECT_FALSE(square.PointInPolygon(15 * D, 15 * D, hzNone));
  EXPECT_EQ(MERHitZone(acrossMER, {-GU_180 + D / 2, D, 0}), hzMinus180);
  EXPECT_FALSE(Ring({}).PointInPolygon(0, 0, hzHit));
}

TEST(PointStore, PointOnEdge)
{
  const TGPointStore open = Ring({{0, 0, 0}, {100, 0, 0}, {100, 100, 0}, {0, 100, 0}});
  struct Case
  {
    const char* name;
    int32_t x, y, tol;
    bool closed;
    int32_t want;
  };
  const Case cases[] = {
      {"first edge", 50, 1, 2, false, 1},
      {"second edge", 99, 50, 2, false, 2},
      {"too far", 50, 5, 2, false, -1},
      {"closing edge when closed", 1, 50, 2, true, 4},
      {"closing edge when open", 1, 50, 2, false, -1},
      {"beyond the end of an edge", 150, 0, 2, false, -1},
  };
  for (const auto& c : cases)
    EXPECT_EQ(open.PointOnEdge(c.x, c.y, c.closed, c.tol), c.want) << c.name;
  EXPECT_EQ(Ring({}).PointOnEdge(0, 0, true, 100), -1);

  // An edge over the meridian is split where it meets it: points next to the true crossing
  // (half way up the edge) hit, on both sides.
  const TGPointStore over = Ring({{970'000'000, 0, 0}, {-970'000'000, 1'000, 0}});
  EXPECT_EQ(over.PointOnEdge(971'999'999, 500, false, 2), 1);
  EXPECT_EQ(over.PointOnEdge(-971'999'999, 500, false, 2), 1);
  EXPECT_EQ(over.PointOnEdge(971'000'000, 250, false, 2), 1);
  EXPECT_EQ(over.PointOnEdge(971'999'999, -500, false, 2), -1);
  EXPECT_EQ(over.PointOnEdge(0, 500, false, 2), -1); // not the long way round
}

TEST(PointStore, Point3DArrayFollowsChanges)
{
  TGPointStore s = Ring({{0, 0, 0}, {GU_90, 0, 0}});
  const int64_t before = s.ObjectSize();
  auto near = [](const TGPoint3DD& v, const TGPoint3D& w) {
    return std::abs(v.X - static_cast<double>(w.X)) < 1e-6 &&
           std::abs(v.Y - static_cast<double>(w.Y)) < 1e-6 &&
           std::abs(v.Z - static_cast<double>(w.Z)) < 1e-6;
  };
  const std::vector<TGPoint3DD>& a = s.Point3DArray();
  ASSERT_EQ(a.size(), 2u);
  EXPECT_TRUE(near(a[1], LLToPoint3D(GU_90, 0, 0)));
  EXPECT_EQ(s.ObjectSize(), before + 2 * 30);
  s.PutLL(1, {0, GU_90, 0});
  EXPECT_TRUE(near(s.Point3DArray()[1], LLToPoint3D(0, GU_90, 0)));
  s.Add({GU_180, 0, 0});
  EXPECT_EQ(s.Point3DArray().size(), 3u);
}

TEST(PointList, ExactFormRoundTripsWithAndWithoutHeights)
{
  std::mt19937_64 rng(1234);
  for (TGPointStoreFlags flags : {TGPointStoreFlags(0), TGPointStoreFlags(psHeight),
                                  TGPointStoreFlags(psHeight | psHidden)}) {
    TGPointStore s;
    s.SetFlags(flags);
    TGPointLL p{0, 0, 0};
    for (int i = 0; i < 5000; ++i) {
      // Mostly small steps, now and then a jump that needs the escape.
      const bool jump = rng() % 10 == 0;
      const int64_t span = jump ? 400'000'000 : 40'000;
      auto step = [&]() {
        return static_cast<int32_t>(static_cast<int64_t>(rng() % (2 * span)) - span);
      };
      p = {LongWrap(p.iLongX + step()), std::clamp(p.iLatY + step(), -GU_90, GU_90),
           std::clamp(p.iHeightZ + step(), -GU_180, GU_180)};
      s.Add(p);
    }
    const auto bytes = PointBytes(s);
    const TGPointStore back = ReadBack(bytes);
    EXPECT_EQ(back.Flags(), s.Flags());
    EXPECT_EQ(PointsOf(back), PointsOf(s)) << int(flags);
  }
}

TEST(PointList, CoarseFormIsExactOnTheGridAndCloseOffIt)
{
  // On multiples of 90,000 with steps inside the delta range and a few escapes: exact.
  TGPointStore grid;
  grid.SetFlags(ps16Bit | psHeight);
  const int32_t S = 90'000;
  const TGPointLL pts[] = {{-10 * S, 5 * S, 2 * S},
                           {116 * S, -121 * S, 0},
                           {242 * S, 5 * S, 0},
                           {242 * S, 5 * S, 900 * S},
                           {-GU_180 + S, 0, 0},
                           {GU_180, GU_90, 0},
                           {GU_180 - 126 * S, GU_90 - 126 * S, 126 * S}};
  for (const auto& p : pts)
    grid.Add(p);
  EXPECT_EQ(PointsOf(ReadBack(PointBytes(grid))), PointsOf(grid));

  // Off the grid the points snap to multiples of 90,000 and the truncated steps add up.
  std::mt19937_64 rng(9);
  TGPointStore rough;
  rough.SetFlags(ps16Bit);
  for (int i = 0; i < 200; ++i)
    rough.Add({static_cast<int32_t>(rng() % (10 * D)), static_cast<int32_t>(rng() % D), 0});
  const TGPointStore back = ReadBack(PointBytes(rough));
  ASSERT_EQ(back.Count(), rough.Count());
  for (int i = 0; i < back.Count(); ++i) {
    EXPECT_EQ(back.GetLL(i).iLongX % S, 0);
    EXPECT_LE(std::abs(back.GetLL(i).iLatY - rough.GetLL(i).iLatY),
              static_cast<int64_t>(i + 1) * S);
  }
}

// Sizes of two-point lists tell a delta (2 or 4 bytes) from an escape plus full point.
TEST(PointList, EscapeLimits)
{
  struct Case
  {
    const char* name;
    TGPointStoreFlags flags;
    TGPointLL second;
    size_t bytes;
  };
  const int32_t S = 90'000;
  const Case cases[] = {
      {"delta 32,766", 0, {32'766, 0, 0}, 1 + 2 + 8 + 4},
      {"delta 32,767 escapes", 0, {32'767, 0, 0}, 1 + 2 + 8 + 2 + 8},
      {"delta -32,767 escapes", 0, {0, -32'767, 0}, 1 + 2 + 8 + 2 + 8},
      {"delta -32,766", 0, {0, -32'766, 0}, 1 + 2 + 8 + 4},
      {"height delta 32,767 escapes", psHeight, {0, 0, 32'767}, 1 + 2 + 12 + 2 + 12},
      {"coarse 126 steps", ps16Bit, {126 * S, 0, 0}, 1 + 2 + 4 + 2},
      {"coarse 127 steps escapes", ps16Bit, {127 * S, 0, 0}, 1 + 2 + 4 + 1 + 4},
      {"coarse -127 steps escapes", ps16Bit, {0, -127 * S, 0}, 1 + 2 + 4 + 1 + 4},
      {"coarse just under 127 steps", ps16Bit, {127 * S - 1, 0, 0}, 1 + 2 + 4 + 2},
  };
  for (const auto& c : cases) {
    TGPointStore s;
    s.SetFlags(c.flags);
    s.Add({0, 0, 0});
    s.Add(c.second);
    const auto bytes = PointBytes(s);
    EXPECT_EQ(bytes.size(), c.bytes) << c.name;
    const TGPointStore back = ReadBack(bytes);
    if (!(c.flags & ps16Bit)) {
      EXPECT_EQ(back.GetLL(1), c.second) << c.name;
    }
  }
}

// 65,535 points still fit the 16-bit count; 65,536 and more set psLongCount.
TEST(PointList, CountWidthAtSixtyFiveThousand)
{
  struct Case
  {
    int32_t count;
    bool longCount;
  };
  for (const Case c : {Case{65'535, false}, Case{65'536, true}, Case{65'537, true}}) {
    TGPointStore s;
    for (int32_t i = 0; i < c.count; ++i)
      s.Add({i % 1000, i / 1000, 0});
    const auto bytes = PointBytes(s);
    EXPECT_EQ((bytes[0] & psLongCount) != 0, c.longCount) << c.count;
    EXPECT_EQ(bytes.size(), 1u + (c.longCount ? 4 : 2) + 8 + 4u * (c.count - 1)) << c.count;
    const TGPointStore back = ReadBack(bytes);
    EXPECT_EQ(back.Count(), c.count);
    EXPECT_EQ(PointsOf(back), PointsOf(s)) << c.count;
  }
}

TEST(PointList, DamagedInputIsRefusedAndLeavesTheStoreAlone)
{
  TGPointStore src;
  src.SetStoreHeight(true);
  for (int i = 0; i < 20; ++i)
    src.Add({i * 40'000 * (i % 3 == 0 ? 1000 : 1), -i * 7, i});
  const auto bytes = PointBytes(src);

  const TGPointStore keep = Ring({{1, 2, 0}, {3, 4, 0}});
  for (size_t len = 0; len < bytes.size(); ++len) {
    TGMemoryStream m(std::vector<uint8_t>(bytes.begin(), bytes.begin() + len));
    TGStreamReader r(m);
    TGPointStore s;
    s.Assign(keep);
    EXPECT_EQ(ErrorText([&] { s.ReadPoints(r); }), "TGStreamReader: unexpected end of stream")
        << len;
    EXPECT_EQ(PointsOf(s), PointsOf(keep));
    EXPECT_EQ(s.Flags(), keep.Flags());
  }

  auto refuse = [](std::vector<uint8_t> raw) {
    TGMemoryStream m(std::move(raw));
    TGStreamReader r(m);
    TGPointStore s;
    return ErrorText([&] { s.ReadPoints(r); });
  };
  // Two billion points claimed by a twelve-byte stream: refused before any allocation.
  EXPECT_EQ(refuse({psLongCount, 0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0, 0, 0, 0, 0}),
            "TGStreamReader: unexpected end of stream");
  EXPECT_EQ(refuse({psLongCount, 0xFF, 0xFF, 0xFF, 0xFF}),
            "TGPointStore.ReadPoints: bad point count -1");
  // Coarse latitude deltas that run past what 32 bits hold.
  std::vector<uint8_t> drift = {ps16Bit, 200, 0, 0, 0, 0xD8, 0x59}; // first point lat 23,000
  for (int i = 1; i < 200; ++i) {
    drift.push_back(0);
    drift.push_back(126);
  }
  EXPECT_EQ(refuse(drift), "TGPointStore.ReadPoints: coordinate out of range");
}

TEST(ChainStore, GetChainLastCountAndOwnership)
{
  TGChainStore cs;
  TGPointStore& fifth = cs.GetChain(5);
  EXPECT_EQ(cs.Count(), 6);
  EXPECT_EQ(fifth.Count(), 0);
  EXPECT_EQ(cs.ChainAt(4), nullptr); // slots before it stay empty
  EXPECT_EQ(cs.ChainAt(5), &fifth);
  EXPECT_EQ(ErrorText([&] { cs.GetChain(-1); }), "TGChainStore.GetChain: Bad chain index -1");

  TGChainStore empty;
  empty.Last().Add({1, 1, 0});
  EXPECT_EQ(empty.Count(), 1);
  EXPECT_EQ(empty.GetChain(0).Count(), 1);

  cs.SetStoreHeight(true);
  EXPECT_TRUE(cs.GetChain(5).StoreHeight());
  EXPECT_TRUE(cs.GetChain(0).StoreHeight()); // created with the store's flag
  cs.Add(std::make_unique<TGPointStore>(Ring({{1, 2, 0}})));
  EXPECT_FALSE(cs.ChainAt(6)->StoreHeight()); // taken as it is
  cs.Move(6, 0);
  EXPECT_EQ(cs.GetChain(0).GetLL(0), (TGPointLL{1, 2, 0}));
  cs.Delete(0);
  cs.SetCount(2);
  EXPECT_EQ(cs.Count(), 2);
  EXPECT_EQ(ErrorText([&] { cs.SetCount(-3); }), "DynArraySetLength: Invalid Parameter");
  cs.SetChain(4, std::make_unique<TGPointStore>(Ring({{9, 9, 0}})));
  EXPECT_EQ(cs.Count(), 5);
  EXPECT_EQ(cs.Last().GetLL(0), (TGPointLL{9, 9, 0}));
}

TEST(ChainStore, RectangleSizeAndIntersection)
{
  TGChainStore cs;
  EXPECT_EQ(cs.ChainStoreMER(), TGMER{});
  cs.Add(std::make_unique<TGPointStore>(Ring({{178 * D, 0, 0}, {179 * D, D, 0}})));
  cs.Add(std::make_unique<TGPointStore>()); // no points: ignored
  cs.Add(std::make_unique<TGPointStore>(Ring({{-179 * D, 0, 0}, {-178 * D, D, 0}})));
  const TGMER m = cs.ChainStoreMER();
  EXPECT_EQ(m.iLongX, 178 * D);
  EXPECT_LT(m.iWidthX, 5 * D); // across the meridian, not round the world
  EXPECT_TRUE(cs.IntersectMER(MER(-178 * D - 10, D - 10, 20, 20)));
  EXPECT_FALSE(cs.IntersectMER(MER(0, 0, D, D)));
  int64_t sum = sizeof(TGChainStore);
  for (int i = 0; i < cs.Count(); ++i)
    sum += cs.ChainAt(i)->ObjectSize();
  EXPECT_EQ(cs.ObjectSize(), sum);
}

std::vector<uint8_t> ChainBytes(TGChainStore& cs)
{
  TGMemoryStream m;
  cs.WriteToStream(m);
  return m.Bytes();
}

TEST(ChainStream, OneChainWritesNoCountAndSeveralRoundTrip)
{
  TGChainStore one;
  one.Add(std::make_unique<TGPointStore>(Ring({{1, 2, 0}, {3, 4, 0}})));
  const auto b1 = ChainBytes(one);
  EXPECT_EQ(b1[0], 0); // no cfMultiRing, no cfHeight
  EXPECT_EQ(b1[1], 0); // the chain's own flags byte follows at once
  EXPECT_EQ(b1.size(), 1u + 1 + 2 + 8 + 4);
  TGChainStore back1;
  TGMemoryStream m1(b1);
  back1.ReadFromStream(m1);
  ASSERT_EQ(back1.Count(), 1);
  EXPECT_EQ(PointsOf(*back1.ChainAt(0)), PointsOf(*one.ChainAt(0)));

  TGChainStore many;
  many.SetStoreHeight(true);
  many.GetChain(0).Add({1, 2, 3});
  many.GetChain(2).Add({-GU_180 + 1, GU_90, -4}); // slot 1 stays empty
  many.GetChain(2).SetHidden(true);
  const auto b2 = ChainBytes(many);
  EXPECT_EQ(b2[0], cfHeight | cfMultiRing);
  TGChainStore back2;
  TGMemoryStream m2(b2);
  back2.ReadFromStream(m2);
  EXPECT_TRUE(back2.StoreHeight());
  ASSERT_EQ(back2.Count(), 3);
  EXPECT_EQ(back2.ChainAt(1)->Count(), 0);
  EXPECT_EQ(PointsOf(*back2.ChainAt(2)), PointsOf(*many.ChainAt(2)));
  EXPECT_TRUE(back2.ChainAt(2)->Hidden());

  // An empty chain store reads back empty.
  TGChainStore none;
  const auto b0 = ChainBytes(none);
  TGChainStore back0;
  back0.GetChain(3);
  TGMemoryStream m0(b0);
  back0.ReadFromStream(m0);
  EXPECT_EQ(back0.Count(), 0);
}

TEST(ChainStream, EmptyStreamLeavesTheStoreAndDamageIsRefused)
{
  TGChainStore cs;
  cs.GetChain(1).Add({5, 5, 0});
  TGMemoryStream nothing;
  cs.ReadFromStream(nothing);
  EXPECT_EQ(cs.Count(), 2);

  TGChainStore src;
  src.GetChain(0).Add({1, 1, 0});
  src.GetChain(1).Add({2, 2, 0});
  const auto bytes = ChainBytes(src);
  for (size_t len = 1; len < bytes.size(); ++len) {
    TGMemoryStream m(std::vector<uint8_t>(bytes.begin(), bytes.begin() + len));
    EXPECT_EQ(ErrorText([&] { cs.ReadFromStream(m); }), "TGStreamReader: unexpected end of stream")
        << len;
    EXPECT_EQ(cs.Count(), 2);
    EXPECT_EQ(cs.GetChain(1).GetLL(0), (TGPointLL{5, 5, 0}));
  }
  TGMemoryStream negative(std::vector<uint8_t>{cfMultiRing, 0xFF, 0xFF});
  EXPECT_EQ(ErrorText([&] { cs.ReadFromStream(negative); }),
            "TGChainStore.ReadChains: bad chain count -1");
  TGMemoryStream tooMany(std::vector<uint8_t>{cfMultiRing, 0xFF, 0x7F, 0, 0, 0});
  EXPECT_EQ(ErrorText([&] { cs.ReadFromStream(tooMany); }),
            "TGStreamReader: unexpected end of stream");
}

} // namespace
} // namespace vtr
