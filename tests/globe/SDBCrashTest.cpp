// Transactions against crashes: a transaction over both trees is cut at every one of its
// writes (the disk fails from there on, then power goes or the process dies); reopening must
// find the file as it was before the transaction, with the same pages free, also when the
// transaction started a new map page; work committed before a crash must survive it.
#include "globe/GSDBBTree.h"
#include "globe/GSDBRtree.h"

#include "SDBTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

namespace vtr {
namespace {

using vtrtest::Bytes;
using vtrtest::SDBFaultFileSystem;

constexpr const char* kPath = "/mem/c.sdb";

struct Model
{
  std::vector<TGRTreeTupleRec> boxes;
  std::map<uint32_t, uint32_t> keys;
};

struct Database
{
  // A small cache: pages reach the file long before the commit.
  explicit Database(SDBFaultFileSystem& fs) : db(fs, "c.sdb", 512, 8), cache(&db.Cache())
  {
    db.Catalog().Open(rtree, "T");
    db.Catalog().Open(btree, "B");
  }
  void Flush()
  {
    rtree.Flush();
    btree.Flush();
    cache->Flush();
  }

  vtrtest::SDBTestDatabase db;
  TGFilePageCache* cache;
  TGRTreeIndex rtree;
  TGBTreeIndex btree;
};

TGMER Box(std::mt19937& rng)
{
  std::uniform_int_distribution<int32_t> at(-100 * GU_DEGREE, 100 * GU_DEGREE);
  std::uniform_int_distribution<int32_t> size(1, GU_DEGREE);
  return MER(at(rng), at(rng) / 2, size(rng), size(rng));
}

// The transaction: boxes and keys added and removed, headers saved, committed.
void Work(Database& db, Model& model, std::mt19937& rng)
{
  db.cache->BeginTransaction();
  for (uint32_t i = 0; i < 150; ++i) {
    const TGRTreeTupleRec t{Box(rng), 5000 + i};
    db.rtree.Insert(t.MER, t.RefID);
    model.boxes.push_back(t);
  }
  for (int i = 0; i < 80; ++i) {
    const TGRTreeTupleRec t = model.boxes[static_cast<size_t>(i) * 7 % model.boxes.size()];
    db.rtree.Delete(t.MER, t.RefID);
    model.boxes.erase(std::find(model.boxes.begin(), model.boxes.end(), t));
  }
  for (uint32_t k = 0; k < 200; ++k) {
    db.btree.Add(10000 + k * 3, k);
    model.keys[10000 + k * 3] = k;
  }
  for (uint32_t k = 0; k < 300; k += 2) {
    db.btree.Delete(k);
    model.keys.erase(k);
  }
  db.rtree.Flush();
  db.btree.Flush();
  db.cache->CommitTransaction();
}

void ExpectState(Database& db, const Model& model, const std::string& where)
{
  std::vector<uint32_t> found, want;
  db.rtree.Search(WorldMER(), 0, found);
  for (const auto& t : model.boxes)
    want.push_back(t.RefID);
  std::sort(found.begin(), found.end());
  std::sort(want.begin(), want.end());
  EXPECT_EQ(found, want) << where;
  EXPECT_EQ(db.rtree.Count(), static_cast<int>(model.boxes.size())) << where;
  EXPECT_EQ(db.btree.TotalItems(), static_cast<int>(model.keys.size())) << where;
  for (const auto& [k, v] : model.keys)
    if (db.btree.Find(k) != v) {
      ADD_FAILURE() << where << ": key " << k;
      break;
    }
  EXPECT_NO_THROW(db.rtree.CheckIntegrity()) << where;
  EXPECT_NO_THROW(db.btree.CheckIntegrity()) << where;
}

// The pages the next allocations hand out: where the free pages are by the maps.
std::vector<uint32_t> NextPages(TGPageCache& cache)
{
  std::vector<uint32_t> pages(8);
  for (uint32_t& page : pages)
    page = cache.NewPage();
  return pages;
}

// Cuts the transaction at each of its writes and reopens the file. With allocatedPages, pages
// are allocated before the transaction until the header counts that many: just below a map
// page boundary, the transaction starts the next map page.
void CutTheTransactionAtEveryWrite(uint32_t allocatedPages)
{
  // The state before: small pages, so the trees span many pages.
  SDBFaultFileSystem base;
  Model before;
  std::mt19937 rng(99u);
  {
    Database db(base);
    for (uint32_t i = 0; i < 300; ++i) {
      const TGRTreeTupleRec t{Box(rng), i + 1};
      db.rtree.Insert(t.MER, t.RefID);
      before.boxes.push_back(t);
    }
    for (uint32_t k = 0; k < 400; ++k) {
      db.btree.Add(k, k + 1);
      before.keys[k] = k + 1;
    }
    while (db.cache->Header().AllocatedPageCount < allocatedPages)
      db.cache->NewPage();
    db.Flush();
  }
  const Bytes beforeBytes = base.Contents(kPath);
  const std::mt19937 workRng = rng;
  std::vector<uint32_t> beforeNextPages;
  {
    auto fs = base.CrashCopy();
    Database db(*fs);
    beforeNextPages = NextPages(*db.cache);
  }

  // How many writes the whole transaction makes.
  int writes = 0;
  Model after = before;
  {
    auto fs = base.CrashCopy();
    Database db(*fs);
    std::mt19937 r = workRng;
    const int start = fs->WriteCalls();
    Work(db, after, r);
    writes = fs->WriteCalls() - start;
    if (allocatedPages > 0) {
      const uint32_t bits = db.cache->PageMapBits();
      ASSERT_GT(db.cache->Header().AllocatedPageCount, (allocatedPages / bits + 1) * bits)
          << "the transaction allocates pages of the next map page";
    }
  }
  ASSERT_GT(writes, 50);

  int cut = 0;
  for (int failFrom = 1; failFrom <= writes + 1; ++failFrom) {
    auto fs = base.CrashCopy();
    using Kind = SDBFaultFileSystem::CrashKind;
    const Kind kind = failFrom % 3 == 0   ? Kind::PowerLoss
                      : failFrom % 3 == 1 ? Kind::Torn
                                          : Kind::ProcessDied;
    bool committed = false;
    {
      Database db(*fs);
      Model ignored = before;
      std::mt19937 r = workRng;
      fs->FailWritesFrom(failFrom);
      try {
        Work(db, ignored, r);
        committed = true;
      } catch (const std::exception&) { // header write failures are assertions
        ++cut;
      }
      fs->Crash(kind, static_cast<uint32_t>(failFrom));
    }
    const std::string where = "writes fail from " + std::to_string(failFrom) +
                              (kind == Kind::PowerLoss ? ", power lost"
                               : kind == Kind::Torn    ? ", power lost with some writes on disk"
                                                       : ", process died");
    Database db(*fs);
    EXPECT_FALSE(fs->Exists("/mem/c.sdb.TRN")) << where;
    if (committed) {
      ExpectState(db, after, where);
      continue;
    }
    const Bytes now = fs->Contents(kPath);
    ASSERT_GE(now.size(), beforeBytes.size()) << where;
    const auto diff = std::mismatch(beforeBytes.begin(), beforeBytes.end(), now.begin());
    EXPECT_TRUE(diff.first == beforeBytes.end())
        << where << ": the file differs from before the transaction at byte "
        << (diff.first - beforeBytes.begin());
    ExpectState(db, before, where);
    EXPECT_EQ(NextPages(*db.cache), beforeNextPages)
        << where << ": pages the transaction allocated are free again";
    if (::testing::Test::HasFailure()) break;
  }
  EXPECT_EQ(cut, writes) << "every write but none after the last cuts the transaction";
}

TEST(SDBCrash, TransactionCutAtAnyWriteLeavesTheFileAsBefore)
{
  CutTheTransactionAtEveryWrite(0);
}

TEST(SDBCrash, TransactionStartingANewMapPageCutAtAnyWriteLeavesTheFileAsBefore)
{
  CutTheTransactionAtEveryWrite(4096 - 3); // 512-byte pages: 4096 pages per map page
}

TEST(SDBCrash, CommittedWorkSurvivesACrash)
{
  using Kind = SDBFaultFileSystem::CrashKind;
  for (Kind kind : {Kind::PowerLoss, Kind::Torn, Kind::ProcessDied}) {
    SDBFaultFileSystem fs;
    Model model;
    std::mt19937 rng(5u);
    {
      Database db(fs);
      Work(db, model, rng);
      // Work after the commit that was never committed.
      db.cache->BeginTransaction();
      db.btree.Add(999999, 1);
      db.btree.Delete(10000);
      db.btree.Flush();
      db.cache->Flush();
      fs.Crash(kind, 3);
    }
    Database db(fs);
    const std::string where = "crash kind " + std::to_string(static_cast<int>(kind));
    ExpectState(db, model, where);
    EXPECT_EQ(db.btree.Find(999999), 0u) << where;
  }
}

} // namespace
} // namespace vtr
