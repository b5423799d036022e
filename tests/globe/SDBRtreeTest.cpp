// R-tree: the root split of 410 entries, search by size and across the meridian, dissolving an
// underfull leaf, the stored header, damaged trees, node assertions, and random operation
// sequences against a plain list, each followed by the integrity walk.
#include "globe/GSDBRtree.h"

#include "GlobeTestSupport.h"
#include "SDBTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

namespace vtr {
namespace {

using vtrtest::Bytes;
using vtrtest::ErrorText;

bool FromRtreeUnit(const std::string& message)
{
  return message.find("(globe\\GSDBRtree, line ") != std::string::npos;
}

std::vector<uint32_t> Sorted(std::vector<uint32_t> v)
{
  std::sort(v.begin(), v.end());
  return v;
}

class SDBRtree : public ::testing::Test
{
protected:
  // pageSize 0: a new file (8192-byte pages).
  void OpenDatabase(uint32_t pageSize = 0, int cacheSize = kSDBDefaultCacheSize)
  {
    db = std::make_unique<vtrtest::SDBTestDatabase>(fs, "r.sdb", pageSize, cacheSize);
    cache = &db->Cache();
    catalog = &db->Catalog();
    tree = std::make_unique<TGRTreeIndex>();
    catalog->Open(*tree, "T");
  }
  void Reopen()
  {
    tree->Flush();
    tree.reset();
    db->Reopen();
    tree = std::make_unique<TGRTreeIndex>();
    catalog->Open(*tree, "T");
  }
  TGRTreeNode Node(uint32_t pageID) const
  {
    return TGRTreeNode::Load(*cache, pageID, tree->NodeCapacity());
  }
  std::vector<uint32_t> Find(const TGMER& m, int32_t minSize)
  {
    std::vector<uint32_t> found;
    tree->Search(m, minSize, found);
    return Sorted(found);
  }
  // Entries i = from..to-1 along a diagonal: i * 1000 east, i * 500 north, 100 x 100.
  void InsertDiagonal(int to, int from = 0)
  {
    for (int i = from; i < to; ++i)
      tree->Insert(MER(i * 1000, i * 500, 100, 100), static_cast<uint32_t>(i));
  }

  vtrtest::SDBFaultFileSystem fs;
  std::unique_ptr<vtrtest::SDBTestDatabase> db;
  TGFilePageCache* cache = nullptr;
  vtrtest::SDBTestCatalog* catalog = nullptr;
  std::unique_ptr<TGRTreeIndex> tree;
};

TEST_F(SDBRtree, FourHundredTenEntriesSplitTheRootLeafOnce)
{
  OpenDatabase();
  ASSERT_EQ(tree->NodeCapacity(), 409);
  InsertDiagonal(409);
  EXPECT_EQ(tree->TreeDepth(), 1);
  EXPECT_EQ(tree->PageCount(), 1);
  InsertDiagonal(410, 409);
  EXPECT_EQ(tree->TreeDepth(), 2);
  EXPECT_EQ(tree->PageCount(), 3);
  EXPECT_EQ(tree->Count(), 410);

  const TGRTreeNode root = Node(tree->RootNodeID());
  ASSERT_FALSE(root.LeafNode());
  ASSERT_EQ(root.Count(), 2);
  const TGRTreeNode kept = Node(root.GetTuple(0).RefID);
  const TGRTreeNode split = Node(root.GetTuple(1).RefID);
  EXPECT_EQ(kept.Count() + split.Count(), 410);
  EXPECT_LE(std::abs(kept.Count() - split.Count()), 2);
  // The highest entry (409) starts the kept leaf, the lowest (0) the new one; the others go by
  // their position: odd to the new leaf, even to the kept one.
  std::set<uint32_t> wantKept{409}, wantSplit{0};
  for (uint32_t i = 1; i < 409; ++i)
    (i % 2 == 1 ? wantSplit : wantKept).insert(i);
  std::set<uint32_t> gotKept, gotSplit;
  for (const auto& t : kept.Tuples())
    gotKept.insert(t.RefID);
  for (const auto& t : split.Tuples())
    gotSplit.insert(t.RefID);
  EXPECT_EQ(gotKept, wantKept);
  EXPECT_EQ(gotSplit, wantSplit);
  EXPECT_EQ(kept.GetTuple(0).RefID, 409u);
  EXPECT_EQ(split.GetTuple(0).RefID, 0u);
  EXPECT_EQ(root.GetTuple(0).MER, kept.NodeMER());
  EXPECT_EQ(kept.ParentID(), tree->RootNodeID());
  EXPECT_EQ(split.ParentID(), tree->RootNodeID());
  EXPECT_NO_THROW(tree->CheckIntegrity());
}

TEST_F(SDBRtree, PointsAreFoundAtAnyMinSize)
{
  OpenDatabase(512); // deep trees with few entries
  tree->Insert(MER(5000, 5000, 1, 1), 1);
  for (int32_t minSize : {0, 1, 9, 1000, GU_DEGREE, GU_180}) {
    EXPECT_EQ(Find(WorldMER(), minSize), (std::vector<uint32_t>{1})) << minSize;
  }
  // A cluster of points whose subtrees are all smaller than minSize, beside large boxes.
  std::vector<uint32_t> points;
  for (uint32_t i = 0; i < 800; ++i) {
    tree->Insert(MER(static_cast<int32_t>(i % 29) * 3, static_cast<int32_t>(i / 29) * 3, 1, 1),
                 100 + i);
    points.push_back(100 + i);
  }
  for (uint32_t i = 0; i < 50; ++i)
    tree->Insert(MER(-GU_90 + static_cast<int32_t>(i) * GU_DEGREE, GU_DEGREE, GU_DEGREE, GU_DEGREE),
                 1000 + i);
  ASSERT_GE(tree->TreeDepth(), 3);
  std::vector<uint32_t> want = points;
  want.push_back(1);
  for (uint32_t i = 0; i < 50; ++i)
    want.push_back(1000 + i);
  EXPECT_EQ(Find(WorldMER(), 5000), Sorted(want));
  want.resize(801);
  EXPECT_EQ(Find(WorldMER(), GU_90), Sorted(want)) << "only points are larger than nothing";
}

TEST_F(SDBRtree, MinSizeLeavesOutSmallerObjects)
{
  OpenDatabase();
  tree->Insert(MER(1000, 1000, 10, 10), 7);
  struct Case
  {
    int32_t minSize;
    std::vector<uint32_t> want;
  };
  const Case cases[] = {{0, {7}}, {9, {7}}, {10, {}}, {11, {}}};
  for (const Case& c : cases)
    EXPECT_EQ(Find(MER(0, 0, 5000, 5000), c.minSize), c.want) << c.minSize;
  tree->Insert(MER(2000, 2000, 10, 1), 8);
  EXPECT_EQ(Find(WorldMER(), 9), (std::vector<uint32_t>{7, 8})) << "wider than minSize is enough";
  EXPECT_EQ(Find(MER(0, 0, 500, 500), 0), (std::vector<uint32_t>{})) << "out of the search";
}

TEST_F(SDBRtree, SearchesAcrossTheMeridianFindBothSides)
{
  OpenDatabase(512);
  tree->Insert(DDToMER(179.5L, 10, 0.1L, 0.1L), 1);  // east of the meridian
  tree->Insert(DDToMER(-179.5L, 10, 0.1L, 0.1L), 2); // west of it
  tree->Insert(DDToMER(179.9L, 10, 0.2L, 0.1L), 3);  // across it
  tree->Insert(DDToMER(0, 10, 0.1L, 0.1L), 4);
  for (int i = 0; i < 100; ++i) // enough to split the root
    tree->Insert(DDToMER(-170.0L + i, -20, 0.5L, 0.5L), 100 + static_cast<uint32_t>(i));
  ASSERT_GE(tree->TreeDepth(), 2);
  struct Case
  {
    const char* name;
    TGMER search;
    std::vector<uint32_t> want;
  };
  const Case cases[] = {
      {"across", DDToMER(179.0L, 9, 2.0L, 2.0L), {1, 2, 3}},
      {"east only", DDToMER(179.0L, 9, 0.8L, 2.0L), {1}},
      {"west only", DDToMER(-179.95L, 9, 0.6L, 2.0L), {2, 3}},
      {"far", DDToMER(-1, 9, 2, 2), {4}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Find(c.search, 0), c.want) << c.name;
  EXPECT_TRUE(tree->Delete(DDToMER(179.9L, 10, 0.2L, 0.1L), 3));
  EXPECT_EQ(Find(DDToMER(179.0L, 9, 2.0L, 2.0L), 0), (std::vector<uint32_t>{1, 2}));
  EXPECT_NO_THROW(tree->CheckIntegrity());
}

TEST_F(SDBRtree, LeafFallingToOneHundredOneEntriesIsDissolved)
{
  OpenDatabase();
  InsertDiagonal(410);
  const TGRTreeNode root = Node(tree->RootNodeID());
  const TGRTreeNode leaf = Node(root.GetTuple(1).RefID);
  ASSERT_EQ(leaf.Count(), 205);
  ASSERT_EQ(tree->MinFill(), 102);
  std::set<uint32_t> remaining;
  for (uint32_t i = 0; i < 410; ++i)
    remaining.insert(i);
  for (int i = 0; i < 103; ++i) { // down to 102: still full enough
    const auto& t = leaf.GetTuple(i);
    ASSERT_TRUE(tree->Delete(t.MER, t.RefID));
    remaining.erase(t.RefID);
  }
  EXPECT_EQ(tree->TreeDepth(), 2);
  EXPECT_EQ(tree->PageCount(), 3);
  const auto& last = leaf.GetTuple(103);
  ASSERT_TRUE(tree->Delete(last.MER, last.RefID)); // 101 left: dissolved and reinserted
  remaining.erase(last.RefID);
  EXPECT_EQ(tree->TreeDepth(), 1) << "the root kept one child and handed over to it";
  EXPECT_EQ(tree->PageCount(), 1);
  EXPECT_EQ(tree->Count(), 306);
  EXPECT_EQ(Find(WorldMER(), 0), std::vector<uint32_t>(remaining.begin(), remaining.end()));
  EXPECT_NO_THROW(tree->CheckIntegrity());
  EXPECT_FALSE(tree->Delete(last.MER, last.RefID)) << "already gone";
  EXPECT_FALSE(tree->Delete(MER(1, 2, 3, 4), 1)) << "rectangle must match";
  EXPECT_EQ(tree->Count(), 306);
}

TEST_F(SDBRtree, HeaderKeepsTheTreeAndItsRectangle)
{
  OpenDatabase();
  InsertDiagonal(1000);
  const TGMER index = tree->IndexMER();
  EXPECT_EQ(index, MER(0, 0, 999 * 1000 + 100, 999 * 500 + 100));
  Reopen();
  EXPECT_EQ(tree->IndexMER(), index);
  EXPECT_EQ(tree->Count(), 1000);
  EXPECT_EQ(Find(MER(0, 0, 1500, 700), 0), (std::vector<uint32_t>{0, 1}));
  TGXMLAttributes attributes;
  tree->SaveToXML(attributes);
  EXPECT_EQ(attributes,
            (TGXMLAttributes{{"PageCount", std::to_string(tree->PageCount())}, {"Depth", "2"}}));

  // Bytes of the record: magic, root, pages, depth, rectangle.
  const Bytes header = *catalog->StoredHeader("T");
  ASSERT_EQ(header.size(), 32u);
  TGMemoryStream in(header);
  TGStreamReader r(in);
  EXPECT_EQ(r.ReadCardinal(), 0x52540001u);
  EXPECT_EQ(r.ReadCardinal(), tree->RootNodeID());
  EXPECT_EQ(r.ReadInteger(), tree->PageCount());
  EXPECT_EQ(r.ReadInteger(), 2);
  EXPECT_EQ(r.ReadMER(), index);

  // An older record (magic 52540000) has no rectangle: it is computed from the root.
  Bytes older = header;
  older[0] = 0;
  std::fill(older.begin() + 16, older.end(), 0);
  TGMemoryStream s(older);
  TGRTreeIndex old;
  old.Create(*catalog, "T", &s);
  EXPECT_EQ(old.IndexMER(), index);
  EXPECT_EQ(old.Count(), 1000);
}

TEST_F(SDBRtree, ClearFreesEveryNodePage)
{
  OpenDatabase(512);
  InsertDiagonal(500);
  const int pages = tree->PageCount();
  const uint32_t freeBefore = cache->Header().FreePageCount;
  tree->Clear();
  EXPECT_EQ(tree->PageCount(), 1);
  EXPECT_EQ(tree->TreeDepth(), 1);
  EXPECT_EQ(tree->Count(), 0);
  EXPECT_EQ(cache->Header().FreePageCount, freeBefore + static_cast<uint32_t>(pages) - 1);
  EXPECT_EQ(Find(WorldMER(), 0), std::vector<uint32_t>{});
  tree->Insert(MER(1, 1, 1, 1), 5);
  EXPECT_EQ(Find(WorldMER(), 0), std::vector<uint32_t>{5});
}

TEST_F(SDBRtree, DamagedTreesEndInAnError)
{
  auto patchNode = [this](uint32_t pageID, size_t offset, const Bytes& bytes) {
    TGPage page(*cache, pageID);
    std::copy(bytes.begin(), bytes.end(), page.DataPtr() + offset);
    page.SetModified();
  };
  auto patchHeader = [this](size_t offset, const Bytes& bytes) {
    tree->Flush();
    Bytes header = *catalog->StoredHeader("T");
    std::copy(bytes.begin(), bytes.end(), header.begin() + static_cast<std::ptrdiff_t>(offset));
    TGMemoryStream s(header);
    tree = std::make_unique<TGRTreeIndex>();
    tree->Create(*catalog, "T", &s);
  };
  struct Case
  {
    const char* name;
    std::function<void()> damage;
    std::function<void()> use;
    const char* message;
  };
  const auto search = [this] { Find(WorldMER(), 0); };
  const Case cases[] = {
      {"child entry pointing at the root",
       [&] {
         const uint32_t root = tree->RootNodeID();
         patchNode(root, 7 + 20 + 16, {static_cast<uint8_t>(root), 0, 0, 0});
       },
       search, "RTree T is damaged: a page reached twice at page"},
      {"depth claimed deeper",
       [&] {
         patchHeader(12, {3, 0, 0, 0});
       },
       search, "RTree T is damaged: a leaf off the leaf level at page"},
      {"depth beyond any file", [] {},
       [&] {
         patchHeader(12, {40, 0, 0, 0});
       },
       "RTree T header is damaged: depth 40, 3 pages"},
      {"node count above capacity",
       [&] {
         patchNode(Node(tree->RootNodeID()).GetTuple(0).RefID, 5, {0xF4, 0x01});
       },
       search, "RTree node page 2 is damaged: 500 entries"},
      {"child reference to a map page",
       [&] {
         patchNode(tree->RootNodeID(), 7 + 16, {0, 0, 0, 0});
       },
       search, "RTree T is damaged: a reference to a map page at page 0"},
      {"leaf whose parent lost it",
       [&] {
         const uint32_t leaf = Node(tree->RootNodeID()).GetTuple(0).RefID;
         patchNode(leaf, 0, {77, 0, 0, 0});
       },
       [&] { tree->Insert(MER(409 * 1000, 409 * 500, 100, 100), 9999); },
       "AdjustTree: Cannot find node in Parent 2.0 (globe\\GSDBRtree, line "},
  };
  for (const Case& c : cases) {
    fs.Delete("/mem/r.sdb");
    OpenDatabase();
    InsertDiagonal(410);
    c.damage();
    const std::string message = ErrorText(c.use);
    EXPECT_EQ(message.rfind(c.message, 0), 0u) << c.name << ": " << message;
    tree.reset();
    db.reset();
  }
}

TEST_F(SDBRtree, NodeAndTreeAssertionsNameTheRtreeUnit)
{
  OpenDatabase();
  TGRTreeNode node(5, 2);
  node.AddTuple({MER(0, 0, 1, 1), 1});
  node.AddTuple({MER(0, 0, 1, 1), 2});
  struct Case
  {
    const char* name;
    std::function<void()> act;
    const char* text;
  };
  const Case cases[] = {
      {"add to a full node",
       [&] {
         node.AddTuple({MER(0, 0, 1, 1), 3});
       },
       "AddTuple: Failed node full"},
      {"count above capacity", [&] { node.SetCount(3); }, "Count exceeds Maximum entries"},
      {"write past the count", [&] { node.SetTuple(2, {}); }, "Bad GetTuble Index 2"},
      {"update outside", [&] { node.UpdateTuple(-1, {}); }, "UpdateTuple: Invalid Index passed"},
      {"delete a missing entry", [&] { node.DeleteTuple(9); }, "DeleteTuple: Bad refID passed"},
      {"magic",
       [&] {
         Bytes header(32, 0);
         header[3] = 0x12;
         TGMemoryStream s(header);
         TGRTreeIndex bad;
         bad.Create(*catalog, "Bad", &s);
       },
       "RTree Magic Failed"},
      {"inner node without entries",
       [&] {
         tree->Insert(MER(0, 0, 1, 1), 1);
         TGRTreeNode root = Node(tree->RootNodeID());
         root.SetCount(0);
         root.SetLeafNode(false);
         root.Store(*cache);
         const uint32_t id = tree->RootNodeID();
         Bytes header = {0x01, 0x00, 0x54, 0x52, static_cast<uint8_t>(id), 0, 0, 0, 1, 0, 0, 0,
                         2,    0,    0,    0};
         header.resize(32, 0);
         TGMemoryStream s(header);
         TGRTreeIndex inner;
         inner.Create(*catalog, "Inner", &s);
         inner.Insert(MER(0, 0, 1, 1), 1);
       },
       "ChooseLeaf: Node has no entries"},
  };
  tree->Flush();
  for (const Case& c : cases) {
    const std::string message = ErrorText(c.act);
    EXPECT_EQ(message.rfind(c.text, 0), 0u) << c.name << ": " << message;
    EXPECT_TRUE(FromRtreeUnit(message)) << c.name << ": " << message;
  }
}

// ---------------------------------------------------------------------------------------------
// Random operation sequences against a plain list

TGMER RandomMER(std::mt19937& rng)
{
  auto pick = [&rng](int64_t lo, int64_t hi) {
    return std::uniform_int_distribution<int64_t>(lo, hi)(rng);
  };
  const int kind = static_cast<int>(pick(0, 9));
  const auto lat = static_cast<int32_t>(pick(-80 * int64_t{GU_DEGREE}, 80 * int64_t{GU_DEGREE}));
  auto lon = static_cast<int32_t>(pick(-GU_180 + 1, GU_180));
  int64_t w = 1, h = 1;
  switch (kind) {
  case 0:
  case 1:
  case 2: // points
    break;
  case 3:
  case 4: // small boxes and lines
    w = pick(0, 20);
    h = pick(0, 20);
    break;
  case 5:
  case 6:
    w = pick(1, GU_DEGREE);
    h = pick(1, GU_DEGREE);
    break;
  case 7:
    w = pick(GU_DEGREE, 30 * int64_t{GU_DEGREE});
    h = pick(GU_DEGREE, 10 * int64_t{GU_DEGREE});
    break;
  default: // across the meridian
    lon = static_cast<int32_t>(GU_180 - pick(1, 2 * int64_t{GU_DEGREE}));
    w = pick(2 * int64_t{GU_DEGREE}, 4 * int64_t{GU_DEGREE});
    h = pick(1, GU_DEGREE);
    break;
  }
  return MER(lon, lat, static_cast<int32_t>(w), static_cast<int32_t>(h));
}

bool Wanted(const TGMER& m, const TGMER& search, int32_t minSize)
{
  const bool larger = minSize == 0 || m.iWidthX > minSize || m.iHeightY > minSize;
  const bool point = m.iWidthX == 1 && m.iHeightY == 1;
  return MERIntersects(m, search) && (larger || point);
}

class SDBRtreeRandom : public SDBRtree, public ::testing::WithParamInterface<uint32_t>
{
};

TEST_P(SDBRtreeRandom, OperationsMatchAPlainList)
{
  OpenDatabase(GetParam(), 16); // a small cache, so pages come and go all the time
  std::mt19937 rng(20240611u + GetParam());
  std::vector<TGRTreeTupleRec> model;
  uint32_t nextID = 1;
  const int32_t minSizes[] = {0, 1, 10, 5000, GU_DEGREE};
  int deepest = 0;
  size_t found = 0;
  auto compareSearch = [&](const TGMER& search, int32_t minSize) {
    std::vector<uint32_t> want;
    for (const auto& t : model)
      if (Wanted(t.MER, search, minSize)) want.push_back(t.RefID);
    found += want.size();
    ASSERT_EQ(Find(search, minSize), Sorted(want)) << MERToStr(search) << " min " << minSize;
  };
  for (int op = 1; op <= 6000; ++op) {
    const int action = std::uniform_int_distribution<int>(0, 99)(rng);
    if (action < 60 || model.empty()) {
      const TGMER m = RandomMER(rng);
      tree->Insert(m, nextID);
      // Kept with a zero extent raised to 1: such an object is a point.
      model.push_back(
          {MER(m.iLongX, m.iLatY, std::max(m.iWidthX, 1), std::max(m.iHeightY, 1)), nextID++});
    } else if (action < 90) {
      const size_t i = std::uniform_int_distribution<size_t>(0, model.size() - 1)(rng);
      ASSERT_TRUE(tree->Delete(model[i].MER, model[i].RefID)) << "op " << op;
      model.erase(model.begin() + static_cast<std::ptrdiff_t>(i));
    } else if (action < 93) {
      ASSERT_FALSE(tree->Delete(RandomMER(rng), nextID + 7));
    } else {
      TGMER search = RandomMER(rng);
      search = MERInflate(search, GU_DEGREE, GU_DEGREE);
      compareSearch(search, minSizes[std::uniform_int_distribution<int>(0, 4)(rng)]);
    }
    deepest = std::max(deepest, tree->TreeDepth());
    if (op % 500 == 0) {
      ASSERT_EQ(tree->Count(), static_cast<int>(model.size())) << "op " << op;
      ASSERT_NO_THROW(tree->CheckIntegrity()) << "op " << op;
      compareSearch(WorldMER(), 0);
    }
    if (op == 3000) Reopen();
  }
  EXPECT_GE(deepest, GetParam() == 512 ? 3 : 2) << "the sequence must grow several levels";
  EXPECT_GT(found, 1000u);
  // Empty it again.
  std::shuffle(model.begin(), model.end(), rng);
  while (!model.empty()) {
    ASSERT_TRUE(tree->Delete(model.back().MER, model.back().RefID));
    model.pop_back();
    if (model.size() % 97 == 0) {
      ASSERT_NO_THROW(tree->CheckIntegrity());
    }
  }
  EXPECT_EQ(tree->Count(), 0);
  EXPECT_EQ(tree->TreeDepth(), 1);
  EXPECT_EQ(tree->PageCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(PageSizes, SDBRtreeRandom, ::testing::Values(512u, 2048u),
                         [](const auto& info) { return "Page" + std::to_string(info.param); });

} // namespace
} // namespace vtr
