// B-tree: the root split of 683 ascending keys, existing and missing keys, borrowing and
// merging on delete, the stored header, damaged trees, and random operation sequences against
// std::map, each followed by the integrity walk.
#include "globe/GSDBBTree.h"

#include "GlobeTestSupport.h"
#include "SDBTestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <numeric>
#include <random>
#include <tuple>

namespace vtr {
namespace {

using vtrtest::Bytes;
using vtrtest::ErrorText;

std::vector<uint32_t> Range(uint32_t from, uint32_t to)
{
  std::vector<uint32_t> v(to - from + 1);
  std::iota(v.begin(), v.end(), from);
  return v;
}

class SDBBTree : public ::testing::Test
{
protected:
  void OpenDatabase()
  {
    db = std::make_unique<vtrtest::SDBTestDatabase>(fs, "b.sdb");
    cache = &db->Cache();
    catalog = &db->Catalog();
    tree = std::make_unique<TGBTreeIndex>();
    catalog->Open(*tree, "B");
  }
  void Reopen()
  {
    tree->Flush();
    tree.reset();
    db->Reopen();
    tree = std::make_unique<TGBTreeIndex>();
    catalog->Open(*tree, "B");
  }
  // The pages under the root, left to right.
  std::vector<uint32_t> Children(uint32_t pageID)
  {
    TGPage page(*cache, pageID);
    TGBufferStream s(static_cast<const void*>(page.DataPtr()), page.Size());
    TGStreamReader r(s);
    const int count = r.ReadInteger();
    std::vector<uint32_t> children{r.ReadCardinal()};
    for (int i = 0; i < count; ++i) {
      children.push_back(r.ReadCardinal());
      r.ReadCardinal();
      r.ReadCardinal();
    }
    return children;
  }
  void AddAscending(uint32_t from, uint32_t to)
  {
    for (uint32_t k = from; k <= to; ++k)
      ASSERT_TRUE(tree->Add(k, k * 10));
  }

  vtrtest::SDBFaultFileSystem fs;
  std::unique_ptr<vtrtest::SDBTestDatabase> db;
  TGFilePageCache* cache = nullptr;
  vtrtest::SDBTestCatalog* catalog = nullptr;
  std::unique_ptr<TGBTreeIndex> tree;
};

TEST_F(SDBBTree, SixHundredEightyThreeAscendingKeysSplitTheRootOnce)
{
  OpenDatabase();
  AddAscending(1, 682);
  EXPECT_EQ(tree->TreeDepth(), 1);
  EXPECT_EQ(tree->PageKeys(tree->RootNodeID()), Range(1, 682));
  AddAscending(683, 683);
  EXPECT_EQ(tree->TreeDepth(), 2);
  EXPECT_EQ(tree->PageCount(), 3);
  EXPECT_EQ(tree->TotalItems(), 683);
  EXPECT_EQ(tree->PageKeys(tree->RootNodeID()), std::vector<uint32_t>{342});
  const std::vector<uint32_t> children = Children(tree->RootNodeID());
  ASSERT_EQ(children.size(), 2u);
  EXPECT_EQ(tree->PageKeys(children[0]), Range(1, 341)) << "the first page keeps its place";
  EXPECT_EQ(tree->PageKeys(children[1]), Range(343, 683));
  EXPECT_EQ(tree->Find(342), 3420u);
  EXPECT_EQ(tree->Find(683), 6830u);
  EXPECT_NO_THROW(tree->CheckIntegrity());
}

TEST_F(SDBBTree, ExistingKeysStayAndMissingKeysFindZero)
{
  OpenDatabase();
  AddAscending(1, 700);
  const int pages = tree->PageCount();
  EXPECT_FALSE(tree->Add(350, 1));
  EXPECT_EQ(tree->Find(350), 3500u) << "the first data stays";
  EXPECT_EQ(tree->TotalItems(), 700);
  EXPECT_EQ(tree->PageCount(), pages);
  TBTreeItem item;
  EXPECT_TRUE(tree->FindKey(700, item));
  EXPECT_EQ(item.KeyID, 700u);
  EXPECT_EQ(item.DataRowID, 7000u);
  for (uint32_t missing : {0u, 701u, 0xFFFFFFFFu}) {
    EXPECT_EQ(tree->Find(missing), 0u) << missing;
    EXPECT_FALSE(tree->FindKey(missing, item)) << missing;
    EXPECT_FALSE(tree->Delete(missing)) << missing;
  }
  // Unsigned order: the largest keys sort last.
  EXPECT_TRUE(tree->Add(0x80000000u, 1));
  EXPECT_TRUE(tree->Add(0xFFFFFFFFu, 2));
  EXPECT_EQ(tree->Find(0xFFFFFFFFu), 2u);
  EXPECT_NO_THROW(tree->CheckIntegrity());
}

// An existing key adds nothing wherever it sits: not a byte of any page or of the stored
// header changes and nothing is even marked for writing, also in a full page, where a new key
// would split.
TEST(SDBBTreeSmall, AddingAnExistingKeyLeavesTheTreeUnchanged)
{
  // 512-byte pages hold 42 items (N = 21). 42 keys fill the lone root leaf; 64 keys make a root
  // holding 22 over a leaf with 1..21 and a full leaf with 23..64.
  vtrtest::SDBFaultFileSystem fs;
  vtrtest::SDBTestDatabase db(fs, "b.sdb", 512);
  TGBTreeIndex tree;
  db.Catalog().Open(tree, "B");
  struct Stage
  {
    uint32_t keys;
    int depth;
    std::vector<uint32_t> existing;
  };
  const Stage stages[] = {{42, 1, {1, 20, 42}}, {64, 2, {1, 21, 22, 23, 50, 64}}};
  uint32_t added = 0;
  for (const Stage& stage : stages) {
    for (; added < stage.keys; ++added)
      ASSERT_TRUE(tree.Add(added + 1, (added + 1) * 10));
    ASSERT_EQ(tree.TreeDepth(), stage.depth);
    tree.Flush();
    db.Cache().Flush();
    const Bytes file = fs.Contents("/mem/b.sdb");
    const TGBTreeHeader header = tree.Header();
    const int writes = fs.WriteCalls();
    for (uint32_t key : stage.existing) {
      EXPECT_FALSE(tree.Add(key, 7)) << key;
      EXPECT_EQ(tree.Find(key), key * 10) << key << ": the first data stays";
      EXPECT_FALSE(tree.Modified()) << key;
    }
    const TGBTreeHeader now = tree.Header();
    EXPECT_EQ(std::tie(now.RootNodeID, now.TreeDepth, now.PageCount, now.TotalItems),
              std::tie(header.RootNodeID, header.TreeDepth, header.PageCount, header.TotalItems))
        << stage.keys << " keys";
    tree.Flush();
    db.Cache().Flush();
    EXPECT_EQ(fs.WriteCalls(), writes) << stage.keys << " keys: nothing to write";
    EXPECT_EQ(fs.Contents("/mem/b.sdb"), file) << stage.keys << " keys";
    EXPECT_NO_THROW(tree.CheckIntegrity());
  }
}

TEST_F(SDBBTree, DeleteBorrowsFromARicherNeighbourAndMergesWithAPoorOne)
{
  // 684 keys: the right page holds 342, one more than it needs, and lends one through the root.
  OpenDatabase();
  AddAscending(1, 684);
  EXPECT_TRUE(tree->Delete(1));
  EXPECT_EQ(tree->PageKeys(tree->RootNodeID()), std::vector<uint32_t>{343});
  std::vector<uint32_t> children = Children(tree->RootNodeID());
  EXPECT_EQ(tree->PageKeys(children[0]), Range(2, 342));
  EXPECT_EQ(tree->PageKeys(children[1]), Range(344, 684));
  EXPECT_NO_THROW(tree->CheckIntegrity());

  // Now both pages hold 341: the next delete merges them and the root hands over.
  EXPECT_TRUE(tree->Delete(684));
  EXPECT_EQ(tree->TreeDepth(), 1);
  EXPECT_EQ(tree->PageCount(), 1);
  EXPECT_EQ(tree->PageKeys(tree->RootNodeID()), Range(2, 683));
  EXPECT_EQ(tree->TotalItems(), 682);

  // A key of an inner page gives way to its in-order predecessor.
  AddAscending(684, 684);
  ASSERT_EQ(tree->PageKeys(tree->RootNodeID()), std::vector<uint32_t>{343});
  AddAscending(685, 700);
  EXPECT_TRUE(tree->Delete(343));
  // 342 replaces 343 and leaves the left page one short; the right page has 357, a surplus of
  // 16, and half of it (8) moves: 342 down, 344..350 across, 351 up.
  EXPECT_EQ(tree->PageKeys(tree->RootNodeID()), std::vector<uint32_t>{351});
  children = Children(tree->RootNodeID());
  std::vector<uint32_t> left = Range(2, 342);
  for (uint32_t k = 344; k <= 350; ++k)
    left.push_back(k);
  EXPECT_EQ(tree->PageKeys(children[0]), left);
  EXPECT_EQ(tree->PageKeys(children[1]), Range(352, 700));
  EXPECT_EQ(tree->Find(343), 0u);
  EXPECT_NO_THROW(tree->CheckIntegrity());
}

TEST_F(SDBBTree, HeaderKeepsTheTree)
{
  OpenDatabase();
  for (uint32_t k = 0; k < 3000; ++k)
    tree->Add(k * 7919 % 3001, k);
  Reopen();
  EXPECT_EQ(tree->TotalItems(), 3000);
  EXPECT_EQ(tree->Find(7919 % 3001), 1u);
  EXPECT_NO_THROW(tree->CheckIntegrity());
  const Bytes header = *catalog->StoredHeader("B");
  ASSERT_EQ(header.size(), 20u);
  TGMemoryStream in(header);
  TGStreamReader r(in);
  EXPECT_EQ(r.ReadCardinal(), 0x42540000u);
  EXPECT_EQ(r.ReadCardinal(), tree->RootNodeID());
  EXPECT_EQ(r.ReadInteger(), tree->TreeDepth());
  EXPECT_EQ(r.ReadInteger(), tree->PageCount());
  EXPECT_EQ(r.ReadInteger(), 3000);
  TGXMLAttributes attributes;
  tree->SaveToXML(attributes);
  EXPECT_EQ(attributes, (TGXMLAttributes{{"PageCount", std::to_string(tree->PageCount())},
                                         {"Depth", std::to_string(tree->TreeDepth())},
                                         {"ItemCount", "3000"}}));

  const uint32_t freeBefore = cache->Header().FreePageCount;
  const int pages = tree->PageCount();
  tree->Clear();
  EXPECT_EQ(tree->TotalItems(), 0);
  EXPECT_EQ(tree->PageCount(), 1);
  EXPECT_EQ(tree->TreeDepth(), 1);
  EXPECT_EQ(cache->Header().FreePageCount, freeBefore + static_cast<uint32_t>(pages) - 1);
  EXPECT_EQ(tree->Find(1), 0u);
}

TEST_F(SDBBTree, DamagedTreesEndInAnError)
{
  auto patch = [this](uint32_t pageID, size_t offset, const Bytes& bytes) {
    TGPage page(*cache, pageID);
    std::copy(bytes.begin(), bytes.end(), page.DataPtr() + offset);
    page.SetModified();
  };
  struct Case
  {
    const char* name;
    std::function<void()> damage;
    const char* message;
  };
  const Case cases[] = {
      {"subtree pointing at the root",
       [&] {
         const auto root = static_cast<uint8_t>(tree->RootNodeID());
         patch(tree->RootNodeID(), 4, {root, 0, 0, 0});
       },
       "BTree B is damaged: a page reached twice at page"},
      {"item count beyond the page",
       [&] {
         patch(Children(tree->RootNodeID())[0], 0, {0xFF, 0xFF, 0, 0});
       },
       "BTree B is damaged: a page holding 65535 items at page"},
      {"leaf with a subtree",
       [&] {
         patch(Children(tree->RootNodeID())[0], 4, {9, 0, 0, 0});
       },
       "BTree B is damaged: a leaf with subtrees at page"},
  };
  for (const Case& c : cases) {
    fs.Delete("/mem/b.sdb");
    OpenDatabase();
    AddAscending(1, 683);
    c.damage();
    for (auto use : std::vector<std::function<void()>>{
             [&] { tree->Find(0); }, [&] { tree->Add(0, 1); }, [&] { tree->CheckIntegrity(); }}) {
      const std::string message = ErrorText(use);
      EXPECT_EQ(message.rfind(c.message, 0), 0u) << c.name << ": " << message;
    }
    tree.reset();
    db.reset();
  }

  fs.Delete("/mem/b.sdb");
  OpenDatabase();
  Bytes header(20, 0);
  TGMemoryStream s(header);
  TGBTreeIndex bad;
  const std::string message = ErrorText([&] { bad.Create(*catalog, "Bad", &s); });
  EXPECT_EQ(message.rfind("BTree Magic Failed (globe\\GSDBBTree, line ", 0), 0u) << message;
  Bytes deep = {0x00, 0x00, 0x54, 0x42, 5, 0, 0, 0, 33, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0};
  TGMemoryStream d(deep);
  EXPECT_EQ(ErrorText([&] { bad.Create(*catalog, "B", &d); }),
            "BTree B header is damaged: depth 33, 1 pages");
}

TEST(SDBBTreeRandom, OperationsMatchAMap)
{
  // Pages of 512 bytes hold 42 items (N = 21): a few thousand keys make a deep tree.
  vtrtest::SDBFaultFileSystem fs;
  vtrtest::SDBTestDatabase db(fs, "b.sdb", 512, 12);
  auto tree = std::make_unique<TGBTreeIndex>();
  db.Catalog().Open(*tree, "B");

  std::mt19937 rng(7u);
  std::map<uint32_t, uint32_t> model;
  int deepest = 0;
  auto key = [&rng] {
    // Mostly a dense range, so adds meet existing keys and deletes hit; some anywhere.
    return std::uniform_int_distribution<int>(0, 9)(rng) == 0
               ? std::uniform_int_distribution<uint32_t>()(rng)
               : std::uniform_int_distribution<uint32_t>(0, 6000)(rng);
  };
  for (int op = 1; op <= 40000; ++op) {
    const int action = std::uniform_int_distribution<int>(0, 99)(rng);
    const uint32_t k = key();
    // Grow first, then shrink, then both.
    const int addShare = op < 15000 ? 75 : op < 30000 ? 30 : 50;
    if (action < addShare) {
      const bool added = model.emplace(k, static_cast<uint32_t>(op)).second;
      ASSERT_EQ(tree->Add(k, static_cast<uint32_t>(op)), added) << "op " << op;
    } else if (action < 90) {
      ASSERT_EQ(tree->Delete(k), model.erase(k) == 1) << "op " << op;
    } else {
      const auto it = model.find(k);
      ASSERT_EQ(tree->Find(k), it == model.end() ? 0u : it->second) << "op " << op;
    }
    deepest = std::max(deepest, tree->TreeDepth());
    if (op % 2000 == 0) {
      ASSERT_NO_THROW(tree->CheckIntegrity()) << "op " << op;
      ASSERT_EQ(tree->TotalItems(), static_cast<int>(model.size()));
      for (const auto& [mk, mv] : model)
        ASSERT_EQ(tree->Find(mk), mv);
    }
    if (op == 20000) {
      tree->Flush();
      tree.reset();
      db.Reopen();
      tree = std::make_unique<TGBTreeIndex>();
      db.Catalog().Open(*tree, "B");
    }
  }
  EXPECT_GE(deepest, 3);
  for (const auto& [mk, mv] : model)
    ASSERT_TRUE(tree->Delete(mk));
  EXPECT_EQ(tree->TotalItems(), 0);
  EXPECT_EQ(tree->TreeDepth(), 1);
  EXPECT_EQ(tree->PageCount(), 1);
  EXPECT_NO_THROW(tree->CheckIntegrity());
}

} // namespace
} // namespace vtr
