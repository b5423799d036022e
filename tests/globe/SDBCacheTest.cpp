// Spatial database file and page cache: the new file, allocation through the map pages, reads
// beyond the end, eviction, write order, read-ahead, transactions, encryption, refusal of
// damaged headers and journals, read-only fallback, observers and traces.
#include "globe/GLogger.h"
#include "globe/GSDBCache.h"

#include "GlobeTestSupport.h"
#include "SDBTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>

namespace vtr {
namespace {

using vtrtest::Bytes;
using vtrtest::ErrorText;
using vtrtest::SDBFaultFileSystem;

constexpr const char* kPath = "/mem/t.sdb";

struct Recorder : TGPageCacheSubscriber
{
  std::vector<int> codes;
  void PageCacheNotification(TGPageCache&, TGPageCacheNotification code) override
  {
    codes.push_back(code);
  }
};

struct LineLogger : TGLogger
{
  LineLogger() : TGLogger("SDB") { LogManager().RegisterLogger(this); }
  ~LineLogger() override { LogManager().UnRegisterLogger(this); }
  std::vector<std::string> lines;
  void WriteLine(const std::string& line) override { lines.push_back(line); }
};

void Fill(TGPageCache& cache, uint32_t pageID, uint8_t value)
{
  TGPage page(cache, pageID);
  std::fill(page.DataPtr(), page.DataPtr() + page.Size(), value);
  page.SetModified();
}

uint8_t FirstByte(TGPageCache& cache, uint32_t pageID)
{
  TGPage page(cache, pageID);
  return page.DataPtr()[0];
}

bool AllEqual(TGPageCache& cache, uint32_t pageID, uint8_t value)
{
  TGPage page(cache, pageID);
  return std::all_of(page.DataPtr(), page.DataPtr() + page.Size(),
                     [value](uint8_t b) { return b == value; });
}

TGPageCacheHeader StoredHeader(const Bytes& file)
{
  return DecodePageCacheHeader(file.data());
}

// The unit and line of the message; "(globe\GSDBCache, line " is what every assertion shows.
bool FromCacheUnit(const std::string& message)
{
  return message.find("(globe\\GSDBCache, line ") != std::string::npos;
}

class SDBCache : public ::testing::Test
{
protected:
  std::unique_ptr<TGFilePageCache> NewCache(int cacheSize = kSDBDefaultCacheSize,
                                            const std::string& key = "")
  {
    auto cache = std::make_unique<TGFilePageCache>(fs);
    cache->SetCacheSize(cacheSize);
    if (!key.empty()) cache->SetEncryptionKey(key);
    cache->SetDataFile("t.sdb");
    return cache;
  }
  std::unique_ptr<TGFilePageCache> OpenCache(int cacheSize = kSDBDefaultCacheSize,
                                             const std::string& key = "")
  {
    auto cache = NewCache(cacheSize, key);
    cache->Open();
    return cache;
  }

  SDBFaultFileSystem fs;
};

TEST_F(SDBCache, NewFileIsTheHeaderBlockAndMapPageZero)
{
  Recorder recorder;
  auto cache = NewCache();
  cache->Subscribe(&recorder);
  cache->Open();
  EXPECT_EQ(recorder.codes, (std::vector<int>{pcnNewFile, pcnOpened}));

  const Bytes file = fs.Contents(kPath);
  ASSERT_EQ(file.size(), 4096u + 8192u);
  const TGPageCacheHeader h = StoredHeader(file);
  EXPECT_EQ(h.Version, 4);
  EXPECT_EQ(h.PageSize, 8192u);
  EXPECT_EQ(h.PageMapBits, 65536u);
  EXPECT_EQ(h.AllocatedPageCount, 1u);
  EXPECT_EQ(h.FreePageCount, 0u);
  EXPECT_EQ(h.EncryptionType, 0);
  EXPECT_EQ(h.EncryptionChecksum, 0u);
  EXPECT_TRUE(std::all_of(file.begin() + kSDBHeaderSize, file.begin() + 4096,
                          [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(file[4096], 1) << "map page 0 holds only its own bit";
  EXPECT_TRUE(std::all_of(file.begin() + 4097, file.end(), [](uint8_t b) { return b == 0; }));

  const TGPageCapacities& c = cache->Capacities();
  EXPECT_EQ(c.RTreeNodeCapacity, 409);
  EXPECT_EQ(c.RTreeMinFill, 102);
  EXPECT_EQ(c.BTreePageCapacity, 682);
  EXPECT_EQ(c.BTreeMinFill, 341);
  EXPECT_EQ(c.DataPageFactor, 32);

  recorder.codes.clear();
  cache->Close();
  EXPECT_EQ(recorder.codes, (std::vector<int>{pcnBeforeClosing, pcnClosing}));
  recorder.codes.clear();
  cache->Open();
  EXPECT_EQ(recorder.codes, (std::vector<int>{pcnOpened})) << "an existing file is not new";
  EXPECT_EQ(fs.Contents(kPath), file) << "opening and closing an untouched file changes nothing";
}

TEST_F(SDBCache, NewFileOnDiskHasTheSameBytes)
{
  vtrtest::TempFolder folder;
  TGFilePageCache cache;
  cache.SetDataFile(folder.Path("disk.sdb"));
  cache.Open();
  cache.Close();
  EXPECT_EQ(std::filesystem::file_size(folder.Path("disk.sdb")), 4096u + 8192u);
  std::ifstream in(folder.Path("disk.sdb"), std::ios::binary);
  Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto memCache = OpenCache();
  memCache->Close();
  EXPECT_EQ(bytes, fs.Contents(kPath));
}

TEST_F(SDBCache, FreedPageOneIsReused)
{
  auto cache = OpenCache();
  EXPECT_EQ(cache->NewPage(), 1u);
  cache->DeletePage(1);
  EXPECT_EQ(cache->Header().FreePageCount, 1u);
  EXPECT_EQ(cache->NewPage(), 1u);
  EXPECT_EQ(cache->Header().AllocatedPageCount, 2u);
  EXPECT_EQ(cache->Header().FreePageCount, 0u);
  EXPECT_EQ(cache->NewPage(), 2u);
  cache->Close();
  const TGPageCacheHeader h = StoredHeader(fs.Contents(kPath));
  EXPECT_EQ(h.AllocatedPageCount, 3u);
  EXPECT_EQ(fs.Contents(kPath)[4096], 0x07) << "bits 0, 1 and 2 of map page 0";
}

TEST_F(SDBCache, NewPagesAreZeroEvenWhereFreedPagesHadData)
{
  auto cache = OpenCache();
  const uint32_t page = cache->NewPage();
  Fill(*cache, page, 0xAB);
  cache->Flush();
  cache->DeletePage(page);
  EXPECT_EQ(cache->NewPage(), page);
  EXPECT_TRUE(AllEqual(*cache, page, 0));
}

TEST_F(SDBCache, FullMapPageStartsTheNextMapPage)
{
  // Small pages allocate every page of the first map for real; 8192-byte pages (on disk, where
  // the file stays sparse) start from a map whose 65536 bits are all set.
  {
    vtrtest::WriteSmallPageFile(fs, "t.sdb", 512);
    auto cache = OpenCache(64);
    ASSERT_EQ(cache->PageMapBits(), 4096u);
    for (uint32_t want = 1; want < 4096; ++want)
      ASSERT_EQ(cache->NewPage(), want);
    EXPECT_EQ(cache->NewPage(), 4097u);
    EXPECT_EQ(cache->Header().AllocatedPageCount, 4098u);
    cache->Close();
    cache->Open();
    EXPECT_EQ(cache->NewPage(), 4098u) << "the second map page is found again on opening";
  }
  {
    vtrtest::TempFolder folder;
    const std::string path = folder.Path("big.sdb");
    {
      TGFilePageCache cache;
      cache.SetDataFile(path);
      cache.Open();
      cache.Close();
    }
    {
      std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
      Bytes head(kSDBHeaderSize);
      f.read(reinterpret_cast<char*>(head.data()), kSDBHeaderSize);
      TGPageCacheHeader h = DecodePageCacheHeader(head.data());
      h.AllocatedPageCount = 65536;
      const TGPageCacheHeaderBytes encoded = EncodePageCacheHeader(h);
      f.seekp(0);
      f.write(reinterpret_cast<const char*>(encoded.data()), kSDBHeaderSize);
      const std::string full(8192, '\xFF');
      f.seekp(4096);
      f.write(full.data(), 8192);
    }
    TGFilePageCache cache;
    cache.SetDataFile(path);
    cache.Open();
    EXPECT_EQ(cache.NewPage(), 65537u);
    EXPECT_EQ(cache.Header().AllocatedPageCount, 65538u);
    cache.Close();
    EXPECT_EQ(std::filesystem::file_size(path), 4096u + 65538u * 8192u);
    std::ifstream in(path, std::ios::binary);
    in.seekg(4096 + 65536LL * 8192);
    EXPECT_EQ(in.get(), 0x03) << "map page 65536 holds itself and page 65537";
  }
}

TEST_F(SDBCache, PagesBeyondTheEndReadAsZeros)
{
  auto cache = OpenCache();
  const int reads = fs.ReadCalls();
  TGPage page(*cache, 5000);
  EXPECT_EQ(page.Size(), 8192);
  EXPECT_TRUE(std::all_of(page.DataPtr(), page.DataPtr() + 8192, [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(fs.ReadCalls(), reads) << "nothing to read past the end";
}

TEST_F(SDBCache, EvictionTakesAFifthOfTheCandidatesByScoreAndKeepsMapPages)
{
  uint32_t now = 1000;
  auto cache = NewCache(11);
  cache->SetTickSource([&now] { return now; });
  cache->Open();
  for (uint32_t p = 1; p <= 10; ++p) {
    now = 1000 + 10 * p;
    Fill(*cache, p, static_cast<uint8_t>(p));
  }
  // Map page 0 and pages 1..10 fill the 11 slots. Loaded once each, page p scores
  // (now - t) / 4 + t / 2, so the three latest (8, 9, 10) go: 10 candidates / 5 + 1.
  now = 2000;
  const int writes = static_cast<int>(fs.WriteLog().size());
  TGPage extra(*cache, 11);
  std::vector<int64_t> written;
  for (size_t i = static_cast<size_t>(writes); i < fs.WriteLog().size(); ++i)
    written.push_back(fs.WriteLog()[i].second);
  EXPECT_EQ(written, (std::vector<int64_t>{4096 + 10 * 8192, 4096 + 8 * 8192, 4096 + 9 * 8192}))
      << "dirty victims written in one batch, highest first";
  for (uint32_t p = 1; p <= 7; ++p) {
    const uint64_t hits = cache->CacheHits();
    EXPECT_EQ(FirstByte(*cache, p), p);
    EXPECT_EQ(cache->CacheHits(), hits + 1) << "page " << p << " stayed";
  }
  const uint64_t misses = cache->CacheMisses();
  EXPECT_EQ(FirstByte(*cache, 9), 9) << "an evicted page reads back from the file";
  EXPECT_EQ(cache->CacheMisses(), misses + 1);
}

TEST_F(SDBCache, MapPagesAreNeverEvicted)
{
  auto cache = OpenCache(1);
  EXPECT_EQ(ErrorText([&] { TGPage page(*cache, 1); }), "MakeCacheSpace: Out of Cache Table Space");
  cache->SetCacheSize(2);
  EXPECT_EQ(cache->NewPage(), 1u);
  EXPECT_EQ(cache->NewPage(), 2u) << "page 1 makes room, map page 0 stays";
}

TEST_F(SDBCache, AllSlotsLockedFailsTheNextMiss)
{
  auto cache = OpenCache();
  std::vector<std::unique_ptr<TGPage>> held;
  // Map page 0 holds one of the 1024 slots; it cannot be evicted either.
  for (uint32_t p = 1; p < 1024; ++p)
    held.push_back(std::make_unique<TGPage>(*cache, p));
  EXPECT_EQ(ErrorText([&] { TGPage page(*cache, 1024); }),
            "MakeCacheSpace: Out of Cache Table Space");
  held.pop_back();
  EXPECT_NO_THROW(TGPage(*cache, 1024));
}

TEST_F(SDBCache, FlushWritesTheHighestPageFirstThenAscending)
{
  auto cache = OpenCache();
  for (int i = 0; i < 5; ++i)
    Fill(*cache, cache->NewPage(), static_cast<uint8_t>(0x10 + i));
  fs.ClearLog();
  cache->Flush();
  std::vector<int64_t> offsets;
  for (const auto& [path, offset] : fs.WriteLog())
    offsets.push_back(offset);
  auto at = [](int page) { return 4096 + int64_t{page} * 8192; };
  EXPECT_EQ(offsets, (std::vector<int64_t>{at(5), at(0), at(1), at(2), at(3), at(4), 0}))
      << "the file grows once, then the map page and the rest, then the header";
}

TEST_F(SDBCache, ReadAheadAndSpareBuffersServeLaterReads)
{
  {
    auto cache = OpenCache();
    for (int i = 1; i <= 8; ++i)
      Fill(*cache, cache->NewPage(), static_cast<uint8_t>(i));
    cache->Close();
  }
  auto cache = OpenCache(64); // opening reads map page 0 with page 1 behind it
  const int start = fs.ReadCalls();
  EXPECT_EQ(FirstByte(*cache, 1), 1) << "from the read-ahead of opening";
  EXPECT_EQ(fs.ReadCalls(), start);
  EXPECT_EQ(FirstByte(*cache, 2), 2);
  EXPECT_EQ(FirstByte(*cache, 3), 3) << "from the read-ahead";
  EXPECT_EQ(fs.ReadCalls(), start + 1);
  EXPECT_EQ(FirstByte(*cache, 5), 5); // read-ahead 6
  EXPECT_EQ(FirstByte(*cache, 7), 7); // read-ahead 6 moves to a spare buffer, read-ahead 8
  EXPECT_EQ(fs.ReadCalls(), start + 3);
  EXPECT_EQ(FirstByte(*cache, 6), 6) << "from a spare buffer";
  EXPECT_EQ(FirstByte(*cache, 8), 8) << "from the read-ahead";
  EXPECT_EQ(fs.ReadCalls(), start + 3);
  // A page rewritten while a copy of it waits in a buffer must not read back stale.
  EXPECT_EQ(FirstByte(*cache, 4), 4); // read-ahead 5
  Fill(*cache, 5, 0x55);
  cache->Flush();
  cache->SetCacheSize(64); // empties the cache; the buffers stay
  EXPECT_EQ(FirstByte(*cache, 5), 0x55);
}

TEST_F(SDBCache, HeaderFieldsPersist)
{
  {
    auto cache = OpenCache();
    EXPECT_EQ(cache->NextUniqueID(), 1u);
    EXPECT_EQ(cache->NextUniqueID(), 2u);
    EXPECT_EQ(cache->SysFirstPageID(), 1u) << "allocated on first use";
    EXPECT_EQ(cache->SysLastPageID(), 1u);
    EXPECT_EQ(cache->SysFirstPageID(), 1u);
    cache->SetSysRowCount(7);
    cache->SetSysLastPageID(9);
  }
  auto cache = OpenCache();
  EXPECT_EQ(cache->NextUniqueID(), 3u);
  EXPECT_EQ(cache->SysFirstPageID(), 1u);
  EXPECT_EQ(cache->SysLastPageID(), 9u);
  EXPECT_EQ(cache->SysRowCount(), 7);
  TGXMLAttributes attributes;
  cache->SaveToXML(attributes);
  EXPECT_EQ(
      attributes,
      (TGXMLAttributes{
          {"PageSize", "8192"}, {"PageCount", "2"}, {"FreeCount", "0"}, {"Filename", "t.sdb"}}));
}

TEST_F(SDBCache, ClearStartsANewFile)
{
  auto cache = OpenCache();
  Fill(*cache, cache->NewPage(), 0x55);
  cache->BeginTransaction();
  cache->Clear();
  EXPECT_TRUE(cache->Active());
  EXPECT_FALSE(fs.Exists(cache->JournalFile()));
  EXPECT_EQ(fs.Contents(kPath).size(), 4096u + 8192u);
  EXPECT_EQ(cache->NewPage(), 1u);
  EXPECT_TRUE(AllEqual(*cache, 1, 0));
}

// Clear deletes the data file and its journal: a cache that may not write the file (another
// writer holds it, or it is read-only by choice) refuses and leaves both as they are.
TEST_F(SDBCache, ClearRefusesWhenTheCacheMayNotWriteTheFile)
{
  auto writer = OpenCache();
  Fill(*writer, writer->NewPage(), 0x42);
  writer->Flush();
  auto reader = OpenCache();
  ASSERT_TRUE(reader->ReadOnly());
  writer->BeginTransaction();
  Fill(*writer, 1, 0x43);
  writer->Flush();
  auto unchanged = [&, data = fs.Contents(kPath), journal = fs.Contents("/mem/t.sdb.TRN")] {
    return fs.Contents(kPath) == data && fs.Contents("/mem/t.sdb.TRN") == journal;
  };
  ASSERT_TRUE(fs.Exists("/mem/t.sdb.TRN"));

  EXPECT_EQ(ErrorText([&] { reader->Clear(); }),
            "FilePageCache: Cannot clear /mem/t.sdb: the cache is read-only");
  EXPECT_TRUE(reader->Active());
  EXPECT_TRUE(unchanged()) << "another writer's data and journal stay";
  reader->Close();
  EXPECT_EQ(ErrorText([&] { reader->Clear(); }),
            "FilePageCache: Cannot clear /mem/t.sdb: the file is open for writing elsewhere");
  EXPECT_FALSE(reader->Active());
  EXPECT_TRUE(unchanged()) << "closed, while another writer works";
  EXPECT_EQ(FirstByte(*writer, 1), 0x43);

  writer->CommitTransaction();
  writer.reset();
  const Bytes data = fs.Contents(kPath);
  auto chosen = NewCache();
  chosen->SetReadOnly(true);
  chosen->Open();
  EXPECT_EQ(ErrorText([&] { chosen->Clear(); }),
            "FilePageCache: Cannot clear /mem/t.sdb: the cache is read-only");
  EXPECT_TRUE(chosen->Active());
  chosen->Close();
  EXPECT_EQ(ErrorText([&] { chosen->Clear(); }),
            "FilePageCache: Cannot clear /mem/t.sdb: the cache is read-only");
  EXPECT_EQ(fs.Contents(kPath), data) << "read-only by choice";
}

TEST_F(SDBCache, SetDataFileReopensOnTheNewFile)
{
  auto cache = OpenCache();
  LineLogger log;
  cache->SetDataFile("other.sdb");
  EXPECT_TRUE(cache->Active());
  EXPECT_TRUE(fs.Exists("/mem/other.sdb"));
  EXPECT_EQ(cache->DataFileAndPath(), "/mem/other.sdb");
  cache->SetCacheSize(16);
  cache.reset();
  std::vector<std::string> messages;
  for (const std::string& line : log.lines)
    messages.push_back(line.substr(line.find("Trace [2] ") + 10));
  EXPECT_EQ(messages, (std::vector<std::string>{
                          "Close PageCache", "FilePageCache.SetDataFile: /mem/other.sdb",
                          "Open PageCache", "PageCache.SetCacheSize: 16", "Close PageCache"}));
}

// ---------------------------------------------------------------------------------------------
// Transactions

TEST_F(SDBCache, RollbackRestoresHeaderAndPagesAndFreesAppendedPages)
{
  {
    auto cache = OpenCache();
    for (int i = 1; i <= 3; ++i)
      Fill(*cache, cache->NewPage(), static_cast<uint8_t>(i));
  }
  const Bytes before = fs.Contents(kPath);
  Recorder recorder;
  auto cache = OpenCache(4); // small, so pages reach the file inside the transaction
  cache->Subscribe(&recorder);
  cache->BeginTransaction();
  EXPECT_TRUE(cache->InTransaction());
  EXPECT_TRUE(fs.Exists(cache->JournalFile()));
  Fill(*cache, 1, 0xA1);
  Fill(*cache, 2, 0xA2);
  cache->DeletePage(3);
  const uint32_t appended = cache->NewPage();
  EXPECT_EQ(appended, 3u) << "page 3 reused";
  const uint32_t beyond = cache->NewPage();
  Fill(*cache, appended, 0xB3);
  Fill(*cache, beyond, 0xB4);
  cache->NextUniqueID();
  cache->Flush();
  ASSERT_NE(fs.Contents(kPath), before);
  cache->RollbackTransaction();

  EXPECT_FALSE(cache->InTransaction());
  EXPECT_FALSE(fs.Exists(cache->JournalFile()));
  EXPECT_EQ(recorder.codes, (std::vector<int>{pcnRolledBack}));
  const Bytes after = fs.Contents(kPath);
  ASSERT_GE(after.size(), before.size());
  EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin()))
      << "header and every page as before";
  EXPECT_EQ(after[4096 + 4 * 8192], 0xB4) << "an appended page keeps its bytes";
  EXPECT_EQ(cache->Header(), StoredHeader(before));
  EXPECT_EQ(FirstByte(*cache, 1), 1);
  EXPECT_EQ(FirstByte(*cache, 3), 3);
  EXPECT_EQ(cache->NewPage(), 4u) << "the appended page is free again";
}

// A transaction that started a new map page: once undone, by a rollback or by the recovery of
// the next open, the pages it allocated there are free again and the stored map page holds
// only its own bit. A wrong key undoes nothing.
TEST_F(SDBCache, UndoneTransactionFreesTheMapPageItStarted)
{
  struct Case
  {
    const char* name;
    const char* key;
    bool crash;
  };
  const Case cases[] = {{"rollback", "", false},
                        {"crash, then reopen", "", true},
                        {"rollback, enciphered pages", "TEA:1,2,3,4", false},
                        {"crash, then reopen, enciphered pages", "TEA:1,2,3,4", true}};
  constexpr uint32_t kMapPage = 4096; // 512-byte pages: 4096 bits per map page
  for (const Case& c : cases) {
    fs.Delete(kPath);
    const std::optional<TGSDBTeaCrypt> crypt =
        *c.key ? std::optional<TGSDBTeaCrypt>(std::string(c.key).substr(4)) : std::nullopt;
    vtrtest::WriteSmallPageFile(fs, "t.sdb", 512, crypt ? &*crypt : nullptr);
    auto cache = OpenCache(64, c.key);
    for (uint32_t want = 1; want < kMapPage; ++want)
      ASSERT_EQ(cache->NewPage(), want) << c.name;
    cache->Flush();
    const TGPageCacheHeader before = cache->Header();
    cache->BeginTransaction();
    for (uint32_t want = kMapPage + 1; want <= kMapPage + 10; ++want) {
      ASSERT_EQ(cache->NewPage(), want) << c.name;
      Fill(*cache, want, 0xE1);
    }
    cache->Flush();
    if (c.crash) {
      fs.Crash(SDBFaultFileSystem::CrashKind::ProcessDied);
      cache.reset();
      if (crypt) {
        const Bytes data = fs.Contents(kPath);
        const Bytes journal = fs.Contents("/mem/t.sdb.TRN");
        EXPECT_EQ(ErrorText([&] { NewCache(64, "TEA:1,2,3,5")->Open(); }),
                  "Encryption Key missing or Incorrect")
            << c.name;
        EXPECT_EQ(fs.Contents(kPath), data) << c.name << ": a wrong key undoes nothing";
        EXPECT_EQ(fs.Contents("/mem/t.sdb.TRN"), journal) << c.name;
      }
      cache = OpenCache(64, c.key);
    } else {
      cache->RollbackTransaction();
    }
    EXPECT_FALSE(fs.Exists("/mem/t.sdb.TRN")) << c.name;
    EXPECT_EQ(cache->Header(), before) << c.name;
    {
      TGCachedPage* map = cache->AcquirePage(kMapPage);
      EXPECT_EQ(map->PageData[0], 1) << c.name << ": the map page holds only its own bit";
      EXPECT_TRUE(std::all_of(map->PageData.begin() + 1, map->PageData.end(), [](uint8_t b) {
        return b == 0;
      })) << c.name;
      cache->ReleasePage(map);
    }
    EXPECT_EQ(cache->NewPage(), kMapPage + 1) << c.name << ": nothing the transaction took stays";
    cache->Close();
    cache->Open();
    EXPECT_EQ(cache->NewPage(), kMapPage + 2) << c.name;
  }
}

TEST_F(SDBCache, CommitKeepsWorkThroughACrashAndNestingCounts)
{
  auto cache = OpenCache();
  Fill(*cache, cache->NewPage(), 1);
  cache->BeginTransaction();
  cache->BeginTransaction();
  Fill(*cache, 1, 0xC1);
  Fill(*cache, cache->NewPage(), 0xC2);
  cache->CommitTransaction();
  EXPECT_TRUE(cache->InTransaction()) << "the inner level only";
  EXPECT_TRUE(fs.Exists(cache->JournalFile()));
  cache->CommitTransaction();
  EXPECT_FALSE(cache->InTransaction());
  EXPECT_FALSE(fs.Exists(cache->JournalFile()));
  fs.Crash();
  cache.reset();
  cache = OpenCache();
  EXPECT_EQ(FirstByte(*cache, 1), 0xC1);
  EXPECT_EQ(FirstByte(*cache, 2), 0xC2);
  EXPECT_EQ(cache->Header().AllocatedPageCount, 3u);
}

TEST_F(SDBCache, JournalLeftByACrashIsRolledBackOnOpening)
{
  {
    auto cache = OpenCache();
    Fill(*cache, cache->NewPage(), 1);
  }
  const Bytes before = fs.Contents(kPath);
  auto cache = OpenCache(2);
  cache->BeginTransaction();
  for (int i = 0; i < 6; ++i)
    Fill(*cache, cache->NewPage(), 0xEE);
  Fill(*cache, 1, 0xEE);
  cache->Flush();
  fs.Crash(SDBFaultFileSystem::CrashKind::ProcessDied); // what it wrote reached the disk
  cache.reset();
  auto reopened = OpenCache();
  EXPECT_FALSE(fs.Exists(reopened->JournalFile()));
  const Bytes after = fs.Contents(kPath);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin()));
  EXPECT_EQ(FirstByte(*reopened, 1), 1);
  EXPECT_EQ(reopened->NewPage(), 2u);
}

TEST_F(SDBCache, JournalsThatNeverReachedTheDataFileAreDiscarded)
{
  {
    auto cache = OpenCache();
    Fill(*cache, cache->NewPage(), 1);
  }
  const Bytes before = fs.Contents(kPath);
  struct Case
  {
    const char* name;
    Bytes journal;
  };
  Bytes tornEntry(4096, 0);
  std::copy_n(before.begin(), 4096, tornEntry.begin());
  tornEntry.resize(4096 + 100, 0x77); // part of an entry, never synced before a data write
  const Case cases[] = {
      {"empty", {}}, {"short header block", Bytes(100, 0x5A)}, {"torn first entry", tornEntry}};
  for (const Case& c : cases) {
    fs.SetContents("/mem/t.sdb.TRN", c.journal);
    auto cache = OpenCache();
    EXPECT_FALSE(fs.Exists("/mem/t.sdb.TRN")) << c.name;
    EXPECT_EQ(FirstByte(*cache, 1), 1) << c.name;
    cache->Close();
    EXPECT_EQ(fs.Contents(kPath), before) << c.name;
  }
  struct Damage
  {
    const char* name;
    std::function<void(TGPageCacheHeader&)> damage;
    const char* message;
  };
  const Damage damages[] = {
      {"version 3", [](auto& h) { h.Version = 3; },
       "FilePageCache: Damaged journal /mem/t.sdb.TRN: SDB Version Error: version 3, expected 4"},
      {"more free pages than allocated", [](auto& h) { h.FreePageCount = 3; },
       "FilePageCache: Damaged journal /mem/t.sdb.TRN: 3 free pages but only 2 allocated"},
  };
  for (const Damage& d : damages) {
    TGPageCacheHeader h = StoredHeader(before);
    d.damage(h);
    Bytes damaged(4096, 0);
    const TGPageCacheHeaderBytes bytes = EncodePageCacheHeader(h);
    std::copy(bytes.begin(), bytes.end(), damaged.begin());
    fs.SetContents("/mem/t.sdb.TRN", damaged);
    auto cache = NewCache();
    EXPECT_EQ(ErrorText([&] { cache->Open(); }), d.message) << d.name;
    EXPECT_FALSE(cache->Active()) << d.name;
    EXPECT_TRUE(fs.Exists("/mem/t.sdb.TRN")) << d.name << ": kept for a look, nothing applied";
    EXPECT_EQ(fs.Contents(kPath), before) << d.name;
  }
}

TEST_F(SDBCache, RecoveryReplaysOnlyEntriesCountedAsSynced)
{
  {
    auto cache = OpenCache();
    Fill(*cache, cache->NewPage(), 1);
    Fill(*cache, cache->NewPage(), 2);
  }
  const Bytes before = fs.Contents(kPath);
  auto journal = [&](bool marker, uint32_t count) {
    Bytes j(before.begin(), before.begin() + 4096);
    if (marker) {
      TGBufferStream s(static_cast<void*>(j.data() + 40), 8);
      TGStreamWriter w(s);
      w.WriteCardinal(count);
      w.WriteCardinal(0x314E524A);
    }
    for (uint8_t page : {1, 2}) {
      j.insert(j.end(), {page, 0, 0, 0});
      j.insert(j.end(), 8192, static_cast<uint8_t>(0x10 * page + page));
    }
    return j;
  };
  struct Case
  {
    const char* name;
    Bytes journal;
    uint8_t page1, page2;
  };
  const Case cases[] = {{"one entry counted", journal(true, 1), 0x11, 2},
                        {"none counted", journal(true, 0), 1, 2},
                        {"older form without a count", journal(false, 0), 0x11, 0x22}};
  for (const Case& c : cases) {
    fs.SetContents(kPath, before);
    fs.SetContents("/mem/t.sdb.TRN", c.journal);
    auto cache = OpenCache();
    EXPECT_EQ(FirstByte(*cache, 1), c.page1) << c.name;
    EXPECT_EQ(FirstByte(*cache, 2), c.page2) << c.name;
    EXPECT_FALSE(fs.Exists("/mem/t.sdb.TRN")) << c.name;
    const Bytes after = fs.Contents(kPath);
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + 4096, after.begin()))
        << c.name << ": the header block comes back without the journal's count";
  }
}

// A cache that can only read the file cannot roll a journal back, so it refuses to read a file
// whose last transaction is unfinished: a writer's open transaction or one a crash cut short.
// A journal too short to undo anything is no obstacle, and a cache that is read-only by choice
// but may write the file rolls a crash's journal back as any opening does.
TEST_F(SDBCache, ReadOnlyOpeningRefusesAFileWithAnUnfinishedTransaction)
{
  const std::string refusal = "FilePageCache: Cannot read /mem/t.sdb: its journal "
                              "/mem/t.sdb.TRN holds a transaction not yet committed or rolled back";
  {
    auto cache = OpenCache();
    Fill(*cache, cache->NewPage(), 1);
  }
  const Bytes before = fs.Contents(kPath);
  // The file after a crash in the middle of a transaction, with its journal.
  auto crashInATransaction = [&] {
    fs.SetContents(kPath, before);
    auto cache = OpenCache(2);
    cache->BeginTransaction();
    Fill(*cache, 1, 0xEE);
    Fill(*cache, cache->NewPage(), 0xEE);
    cache->Flush();
    fs.Crash(SDBFaultFileSystem::CrashKind::ProcessDied);
  };

  {
    SCOPED_TRACE("a writer's open transaction");
    auto writer = OpenCache();
    writer->BeginTransaction();
    Fill(*writer, 1, 0x77);
    writer->Flush();
    const Bytes data = fs.Contents(kPath);
    const Bytes journal = fs.Contents("/mem/t.sdb.TRN");
    Recorder recorder;
    auto reader = NewCache();
    reader->Subscribe(&recorder);
    EXPECT_EQ(ErrorText([&] { reader->Open(); }), refusal);
    EXPECT_FALSE(reader->Active());
    EXPECT_TRUE(recorder.codes.empty());
    EXPECT_EQ(fs.Contents(kPath), data);
    EXPECT_EQ(fs.Contents("/mem/t.sdb.TRN"), journal);
    writer->CommitTransaction();
    reader->Open();
    EXPECT_TRUE(reader->ReadOnly());
    EXPECT_EQ(FirstByte(*reader, 1), 0x77) << "committed work reads once the journal is gone";
  }
  {
    SCOPED_TRACE("a journal left by a crash, the file writable only elsewhere");
    crashInATransaction();
    const Bytes data = fs.Contents(kPath);
    auto elsewhere = fs.Open(kPath, TGFileOpenMode::ReadWrite, nullptr);
    auto reader = NewCache();
    EXPECT_EQ(ErrorText([&] { reader->Open(); }), refusal);
    EXPECT_EQ(fs.Contents(kPath), data);
    elsewhere.reset();
    OpenCache().reset(); // a writer rolls it back
    elsewhere = fs.Open(kPath, TGFileOpenMode::ReadWrite, nullptr);
    reader->Open();
    EXPECT_EQ(FirstByte(*reader, 1), 1);
  }
  {
    SCOPED_TRACE("an emptied journal");
    fs.SetContents(kPath, before);
    fs.SetContents("/mem/t.sdb.TRN", Bytes(100, 0x5A));
    auto elsewhere = fs.Open(kPath, TGFileOpenMode::ReadWrite, nullptr);
    auto reader = OpenCache();
    EXPECT_TRUE(reader->ReadOnly());
    EXPECT_EQ(FirstByte(*reader, 1), 1);
    EXPECT_TRUE(fs.Exists("/mem/t.sdb.TRN")) << "left for a writer to discard";
    fs.Delete("/mem/t.sdb.TRN");
  }
  {
    SCOPED_TRACE("read-only by choice, the file writable");
    crashInATransaction();
    auto cache = NewCache();
    cache->SetReadOnly(true);
    cache->Open();
    EXPECT_FALSE(fs.Exists("/mem/t.sdb.TRN"));
    EXPECT_EQ(FirstByte(*cache, 1), 1);
    const Bytes after = fs.Contents(kPath);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin()));
  }
}

TEST_F(SDBCache, FailedWriteInATransactionRollsBackCleanly)
{
  {
    auto cache = OpenCache();
    for (int i = 1; i <= 4; ++i)
      Fill(*cache, cache->NewPage(), static_cast<uint8_t>(i));
  }
  const Bytes before = fs.Contents(kPath);
  for (int failAt = 1; failAt <= 8; ++failAt) {
    auto cache = OpenCache(3);
    cache->BeginTransaction();
    fs.FailWritesFrom(failAt, /*once=*/true);
    std::string error;
    try {
      for (uint32_t p = 1; p <= 4; ++p)
        Fill(*cache, p, 0xF0);
      Fill(*cache, cache->NewPage(), 0xF5);
      cache->CommitTransaction();
    } catch (const EGException& e) {
      error = e.what();
    }
    fs.FailWritesFrom(0);
    if (error.empty()) {
      ADD_FAILURE() << "write " << failAt << " never came";
      break;
    }
    EXPECT_NE(error.find("injected write failure"), std::string::npos) << error;
    cache->RollbackTransaction();
    cache->Close();
    const Bytes after = fs.Contents(kPath);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin())) << "fail at " << failAt;
  }
}

TEST_F(SDBCache, FailedCloseLeavesTheCacheInactive)
{
  auto cache = OpenCache();
  Fill(*cache, cache->NewPage(), 1);
  fs.FailWritesFrom(1);
  EXPECT_NE(ErrorText([&] { cache->Close(); }).find("injected write failure"), std::string::npos);
  EXPECT_FALSE(cache->Active());
  fs.FailWritesFrom(0);
  cache->Open();
  EXPECT_TRUE(cache->Active());
}

// ---------------------------------------------------------------------------------------------
// Refusals

TEST_F(SDBCache, DamagedHeadersAreRefusedBeforeUse)
{
  struct Case
  {
    const char* name;
    std::function<void(TGPageCacheHeader&)> damage;
    const char* message;
  };
  const Case cases[] = {
      {"version 3", [](auto& h) { h.Version = 3; }, "SDB Version Error: version 3, expected 4"},
      {"version 5", [](auto& h) { h.Version = 5; }, "SDB Version Error: version 5, expected 4"},
      {"page size 0", [](auto& h) { h.PageSize = 0; },
       "SDB Page Size Error: 0 is not a power of two from 512 to 65536"},
      {"page size 256", [](auto& h) { h.PageSize = 256; },
       "SDB Page Size Error: 256 is not a power of two from 512 to 65536"},
      {"page size 1000", [](auto& h) { h.PageSize = 1000; },
       "SDB Page Size Error: 1000 is not a power of two from 512 to 65536"},
      {"page size 2^31", [](auto& h) { h.PageSize = 0x80000000u; },
       "SDB Page Size Error: 2147483648 is not a power of two from 512 to 65536"},
      {"map bits beyond the page", [](auto& h) { h.PageMapBits = 65537; },
       "SDB Page Map Error: 65537 bits do not fit a page of 8192 bytes"},
      {"one map bit", [](auto& h) { h.PageMapBits = 1; },
       "SDB Page Map Error: 1 bits do not fit a page of 8192 bytes"},
      {"more free pages than allocated", [](auto& h) { h.FreePageCount = 5; },
       "FilePageCache: /mem/t.sdb is damaged: 5 free pages but only 1 allocated"},
  };
  {
    auto cache = OpenCache();
  }
  const Bytes good = fs.Contents(kPath);
  for (const Case& c : cases) {
    TGPageCacheHeader h = StoredHeader(good);
    c.damage(h);
    Bytes file = good;
    const TGPageCacheHeaderBytes bytes = EncodePageCacheHeader(h);
    std::copy(bytes.begin(), bytes.end(), file.begin());
    fs.SetContents(kPath, file);
    Recorder recorder;
    auto cache = NewCache();
    cache->Subscribe(&recorder);
    EXPECT_EQ(ErrorText([&] { cache->Open(); }), c.message) << c.name;
    EXPECT_FALSE(cache->Active()) << c.name;
    EXPECT_TRUE(recorder.codes.empty()) << c.name << ": no observer told of an opening";
    EXPECT_EQ(fs.Contents(kPath), file) << c.name << ": nothing written";
  }
  fs.SetContents(kPath, Bytes(good.begin(), good.begin() + 20));
  EXPECT_EQ(ErrorText([&] { NewCache()->Open(); }),
            "FilePageCache: /mem/t.sdb is too short for a database header");

  // Map bits 0 read as PageSize * 8; a damaged map page 0 still never hands itself out.
  TGPageCacheHeader h = StoredHeader(good);
  h.PageMapBits = 0;
  Bytes file = good;
  const TGPageCacheHeaderBytes bytes = EncodePageCacheHeader(h);
  std::copy(bytes.begin(), bytes.end(), file.begin());
  file[4096] = 0;
  fs.SetContents(kPath, file);
  auto cache = OpenCache();
  EXPECT_EQ(cache->PageMapBits(), 65536u);
  EXPECT_EQ(cache->NewPage(), 1u);
}

TEST_F(SDBCache, AssertionsNameTheCacheUnit)
{
  auto cache = OpenCache();
  struct Case
  {
    const char* name;
    std::function<void()> act;
    const char* text;
  };
  const Case cases[] = {
      {"page 0", [&] { TGPage page(*cache, 0); }, "TGPage: Passed 0 pageID"},
      {"row slot on page 0", [&] { TGPage page(*cache, 0x05000000); }, "TGPage: Passed 0 pageID"},
      {"map page", [&] { TGPage page(*cache, 65536); }, "TGPage: Passed map pageID"},
      {"release nothing", [&] { cache->ReleasePage(nullptr); }, "ReleasePage passed nil Page"},
      {"release twice",
       [&] {
         TGCachedPage* p = cache->AcquirePage(1);
         cache->ReleasePage(p);
         cache->ReleasePage(p);
       },
       "Page UnLock Underflow"},
      {"clear while locked",
       [&] {
         TGPage page(*cache, 1);
         cache->SetCacheSize(8);
       },
       "ClearCache(): Locked Pages still in the PageCache"},
      {"delete a free page", [&] { cache->DeletePage(77); }, "FreePage: Page is not allocated"},
      {"delete map page 0", [&] { cache->DeletePage(0); }, "DeletePage: Passed map pageID"},
  };
  for (const Case& c : cases) {
    const std::string message = ErrorText(c.act);
    EXPECT_EQ(message.rfind(c.text, 0), 0u) << c.name << ": " << message;
    EXPECT_TRUE(FromCacheUnit(message)) << c.name << ": " << message;
  }
  cache->Close();
  for (auto act :
       std::vector<std::function<void()>>{[&] { cache->NewPage(); }, [&] { cache->DeletePage(1); },
                                          [&] { cache->AcquirePage(1); }}) {
    const std::string message = ErrorText(act);
    EXPECT_EQ(message.rfind("PageCache is not Active (globe\\GSDBCache, line ", 0), 0u) << message;
  }
  EXPECT_NO_THROW(cache->Flush()) << "nothing to do when closed";
}

// ---------------------------------------------------------------------------------------------
// Sharing and encryption

TEST_F(SDBCache, SecondWriterFallsBackToReadOnly)
{
  auto writer = OpenCache();
  Fill(*writer, writer->NewPage(), 0x42);
  writer->Flush();
  const Bytes file = fs.Contents(kPath);
  auto reader = OpenCache();
  EXPECT_FALSE(writer->ReadOnly());
  EXPECT_TRUE(reader->ReadOnly());
  EXPECT_EQ(FirstByte(*reader, 1), 0x42);
  Fill(*reader, reader->NewPage(), 0x43);
  reader->Flush();
  reader->Close();
  EXPECT_EQ(fs.Contents(kPath), file) << "a read-only cache writes nothing";
}

// A missing or empty file has nothing to read: a read-only cache refuses it rather than make a
// new database of it, and leaves the disk as it found it.
TEST_F(SDBCache, ReadOnlyOpeningRefusesAMissingOrEmptyFileAndLeavesItAlone)
{
  const std::string missing = "FilePageCache: Cannot open /mem/t.sdb read-only: the file does "
                              "not exist";
  const std::string empty = "FilePageCache: Cannot open /mem/t.sdb read-only: the file is empty";
  const struct
  {
    const char* name;
    bool exists;
    bool readOnlyByChoice;
    bool writerElsewhere;
    std::string expected;
  } cases[] = {
      {"missing, read-only by choice", false, true, false, missing},
      {"empty, read-only by choice", true, true, false, empty},
      {"empty, writable only elsewhere", true, false, true, empty},
  };
  for (const auto& c : cases) {
    if (c.exists) fs.SetContents(kPath, {});
    std::unique_ptr<TGSDBFile> elsewhere;
    if (c.writerElsewhere) elsewhere = fs.Open(kPath, TGFileOpenMode::ReadWrite, nullptr);
    const int writes = fs.WriteCalls();
    Recorder recorder;
    auto cache = NewCache();
    cache->SetReadOnly(c.readOnlyByChoice);
    cache->Subscribe(&recorder);
    EXPECT_EQ(ErrorText([&] { cache->Open(); }), c.expected) << c.name;
    EXPECT_FALSE(cache->Active()) << c.name;
    EXPECT_TRUE(recorder.codes.empty()) << c.name;
    EXPECT_EQ(fs.WriteCalls(), writes) << c.name;
    EXPECT_EQ(fs.Exists(kPath), c.exists) << c.name;
    EXPECT_TRUE(fs.Contents(kPath).empty()) << c.name;
    EXPECT_FALSE(fs.Exists("/mem/t.sdb.TRN")) << c.name;
    cache->UnSubscribe(&recorder);
    elsewhere.reset();
    // A writer still makes a new database of it.
    cache->SetReadOnly(false);
    cache->Open();
    EXPECT_EQ(fs.Contents(kPath).size(), 4096u + 8192u) << c.name;
    cache.reset();
    fs.Delete(kPath);
  }
}

TEST_F(SDBCache, SecondWriterOnDiskFallsBackToReadOnlyAndCannotClear)
{
  vtrtest::TempFolder folder;
  TGFilePageCache writer, reader;
  writer.SetDataFile(folder.Path("shared.sdb"));
  reader.SetDataFile(folder.Path("shared.sdb"));
  writer.Open();
  reader.Open();
  EXPECT_FALSE(writer.ReadOnly());
  EXPECT_TRUE(reader.ReadOnly());
  // Only the writer may clear the file, open or closed.
  const std::string path = folder.Path("shared.sdb");
  Fill(writer, writer.NewPage(), 0x42);
  writer.Flush();
  EXPECT_EQ(ErrorText([&] { reader.Clear(); }),
            "FilePageCache: Cannot clear " + path + ": the cache is read-only");
  reader.Close();
  EXPECT_EQ(ErrorText([&] { reader.Clear(); }),
            "FilePageCache: Cannot clear " + path + ": the file is open for writing elsewhere");
  EXPECT_EQ(std::filesystem::file_size(path), 4096u + 2 * 8192u);
  writer.Clear();
  EXPECT_TRUE(writer.Active());
  EXPECT_FALSE(writer.ReadOnly());
  EXPECT_EQ(std::filesystem::file_size(path), 4096u + 8192u);
}

TEST_F(SDBCache, EncipheredPagesNeedTheirKey)
{
  const std::string key = "tea:1,2,3,-4";
  {
    auto cache = OpenCache(kSDBDefaultCacheSize, key);
    Fill(*cache, cache->NewPage(), 0x31);
  }
  const Bytes file = fs.Contents(kPath);
  const TGPageCacheHeader h = StoredHeader(file);
  EXPECT_EQ(h.EncryptionType, 1);
  EXPECT_EQ(h.EncryptionChecksum, TGSDBTeaCrypt("1,2,3,-4").Checksum(h));
  EXPECT_NE(h.EncryptionChecksum, TGSDBTeaCrypt("1,2,3,4").Checksum(h));
  EXPECT_NE(file[4096 + 8192], 0x31) << "page 1 is stored enciphered";
  {
    auto cache = OpenCache(kSDBDefaultCacheSize, key);
    EXPECT_TRUE(AllEqual(*cache, 1, 0x31));
  }
  struct Case
  {
    const char* key;
    const char* message;
  };
  const Case cases[] = {{"", "Encryption Key missing or Incorrect"},
                        {"TEA:1,2,3,5", "Encryption Key missing or Incorrect"},
                        {"plain", "Encryption Key missing or Incorrect"}};
  for (const Case& c : cases) {
    auto cache = NewCache(kSDBDefaultCacheSize, c.key);
    try {
      cache->Open();
      ADD_FAILURE() << c.key << ": opened";
    } catch (const EGCryptException& e) {
      EXPECT_STREQ(e.what(), c.message) << c.key;
    }
    EXPECT_FALSE(cache->Active());
  }
  fs.Delete(kPath);
  OpenCache().reset();
  auto keyed = NewCache(kSDBDefaultCacheSize, key);
  EXPECT_EQ(ErrorText([&] { keyed->Open(); }), "Incorrect Encryption Key supplied");
  for (const char* bad : {"TEA:1,2,3", "TEA:1,2,3,x", "TEA:1,2,3,4294967296", "TEA:"})
    EXPECT_EQ(ErrorText([&] { TGFilePageCache(fs).SetEncryptionKey(bad); }),
              "TGSDBTeaCrypt: Passed invalid Key")
        << bad;
}

TEST(SDBTeaCrypt, RoundTripsAndSpreadsEveryChange)
{
  const TGSDBTeaCrypt crypt("305419896,2271560481,4278255360,16909060");
  Bytes plain(8192);
  for (size_t i = 0; i < plain.size(); ++i)
    plain[i] = static_cast<uint8_t>(i * 7);
  for (size_t size : {size_t{8}, size_t{12}, size_t{512}, size_t{8192}}) {
    Bytes data(plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(size));
    crypt.Encipher(data.data(), size);
    EXPECT_NE(data, Bytes(plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(size)));
    Bytes flipped = Bytes(plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(size));
    flipped[size - 1] ^= 1;
    crypt.Encipher(flipped.data(), size);
    EXPECT_NE(flipped[0], data[0]) << size << ": a change at the end reaches the first word";
    crypt.Decipher(data.data(), size);
    EXPECT_EQ(data, Bytes(plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(size)));
  }
}

// ---------------------------------------------------------------------------------------------
// Log manager

TEST(SDBLogger, LineFormatFollowsTheOptions)
{
  struct Sink : TGLogger
  {
    Sink() : TGLogger("T") {}
    void WriteLine(const std::string&) override {}
  } sink;
  std::tm t{};
  t.tm_year = 2024 - 1900;
  t.tm_mon = 2;
  t.tm_mday = 5;
  t.tm_hour = 7;
  t.tm_min = 8;
  t.tm_sec = 9;
  t.tm_isdst = -1;
  const auto when =
      std::chrono::system_clock::from_time_t(std::mktime(&t)) + std::chrono::milliseconds(42);
  struct Case
  {
    TGLogOptions options;
    TGLogKind kind;
    const char* want;
  };
  const Case cases[] = {
      {kAllLogOptions, TGLogKind::Trace, "2024-03-05 07:08:09.042  Trace [2] Open PageCache"},
      {LogBit(gloDate) | LogBit(gloType), TGLogKind::Debug, "2024-03-05   Debug Open PageCache"},
      {LogBit(gloTime), TGLogKind::Error, "07:08:09  Open PageCache"},
      {LogBit(gloLevel), TGLogKind::Trace, "[2] Open PageCache"},
      {0, TGLogKind::Trace, "Open PageCache"},
  };
  for (const Case& c : cases) {
    sink.SetOptions(c.options);
    EXPECT_EQ(sink.FormatLine(c.kind, 2, "Open PageCache", when), c.want);
  }
}

TEST(SDBLogger, LevelSetsFilterAllButErrors)
{
  LineLogger log;
  log.SetOptions(LogBit(gloType) | LogBit(gloLevel));
  log.ReadParameters({"-other:TRACE=0", "-sdb:trace=1", "-SDB:DEBUG=x", "-SDB:ERROR=0"});
  EXPECT_EQ(log.Levels(TGLogKind::Trace), LogBit(gllOne));
  EXPECT_EQ(log.Levels(TGLogKind::Debug), kAllLogLevels) << "malformed parameter ignored";
  LogManager().Trace(2, "dropped");
  LogManager().Trace(1, "kept");
  LogManager().Debug(8, "debug");
  LogManager().Error("error");
  EXPECT_EQ(log.lines,
            (std::vector<std::string>{"Trace [1] kept", "Debug [8] debug", "Error [1] error"}));
}

} // namespace
} // namespace vtr
