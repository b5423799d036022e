#pragma once
// The spatial database file and its page cache. Plain C++ (no Qt); single-threaded.
//
// File layout (all numbers little-endian):
//
//   offset 0      header block, 4096 bytes: the 39-byte TGPageCacheHeader, then zeros
//     0  u16 Version (4)            2  u32 PageSize            6  u32 AllocatedPageCount
//    10  u32 FreePageCount         14  u32 PageMapBits (0 = PageSize * 8)
//    18  u32 UniqueID              22  u32 SysFirstPageID     26  u32 SysLastPageID
//    30  i32 SysRowCount           34  u8  EncryptionType     35  u32 EncryptionChecksum
//   offset 4096 + n * PageSize      page n, n = 0, 1, ...
//
// Page identifiers are 32-bit; the low 24 bits are the page number, the high 8 bits belong to
// the tables (a row slot) and are ignored here. Every page whose number is a multiple of
// PageMapBits is a map page: bit i (byte i / 8, least significant bit first) of map page
// m * PageMapBits says whether page m * PageMapBits + i is allocated; bit 0 (the map page
// itself) is always set. A page beyond the end of the file reads as zeros. A new file is the
// header block and map page 0 with only bit 0 set: 4096 + 8192 bytes.
//
// Journal (the data file name + ".TRN"): the header block as it was when the transaction
// began, then entries of u32 page identifier + PageSize bytes: a page's stored bytes before its
// first write in the transaction. Only pages that lay inside the file at the transaction's
// start are journaled. Bytes 40..47 of the journal's header block (zeros in the data file)
// hold the count of entries known synced (u32) and the marker "JRN1"; recovery replays only
// that many. Without the marker every complete entry is replayed.
//
// Invariants between calls while the cache is open (CheckInvariants verifies them in builds
// without NDEBUG at every open, flush, cache clear and transaction step):
//   1. Every used slot is in the hash exactly once, under its page number, in bucket
//      number mod 251, and every bucket is sorted by page number; no page is in two slots.
//   2. The free list holds exactly the unused slots, each once; unused slots are unlocked and
//      clean.
//   3. There is one free-space count per map page; for a map page in the cache it equals
//      PageMapBits minus its set bits, and its bit 0 is set. Map pages are never evicted.
//   4. FreePageCount <= AllocatedPageCount (a file or journal header breaking it is refused
//      before use); PageSize and PageMapBits passed ValidatePageCacheHeader.
//   5. No write batch is open and the batch queue is empty.
//   6. A spare buffer or the read-ahead buffer holds a page's bytes as stored; each page is in
//      at most one of them. Writing or freeing a page drops its copies.
//   7. Transaction level 0 <=> no journal is open. At level > 0 on a writable cache the
//      journal holds the header block as at the start, and every page in the journaled list.
//
// What recovery relies on (the journal guarantee): while a transaction is open, no byte of the
// data file that lay inside the file at its start is overwritten before the journal holds that
// byte's earlier value, has been synced, and counts the entry in its header block (synced
// again). Entries past the count may be lost, torn or out of order after a crash; none of them
// protects a write that happened. Replaying the journal (header block to offset 0,
// each entry to its page) therefore restores the first (size at start) bytes exactly; pages
// appended since then keep their bytes but are free again by the restored maps. No page at or
// above the restored AllocatedPageCount was allocated at the start, so a map page there (one
// the transaction started, never journaled) is rewritten holding only its own bit. Commit writes
// every modified page and the header, syncs the data file and only then deletes the journal:
// the delete is the commit point. A journal shorter than its header block was never synced
// before a data write, so it is discarded; entries past the synced count likewise. Only a cache
// that may write the file plays a journal back: one that can only read it refuses to open while
// a journal of a header block or more exists (a writer's open transaction or a crash's).
//
// A cache that is read-only (by choice or because the file could only be opened for reading)
// never creates a file and never turns an empty one into a new database: opening a missing or
// empty file read-only is refused and leaves the disk as it was.

#include "globe/GClasses.h"
#include "globe/GSDBFile.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

namespace vtr {

// A wrong or missing encryption key.
class EGCryptException : public EGException
{
public:
  using EGException::EGException;
};

inline constexpr uint16_t kSDBVersion = 4;
inline constexpr int64_t kSDBHeaderBlockSize = 4096;
inline constexpr int kSDBHeaderSize = 39;
inline constexpr uint32_t kSDBNewPageSize = 8192;
inline constexpr uint32_t kSDBNewPageMapBits = 65536;
inline constexpr uint32_t kSDBMinPageSize = 512;
// Larger pages would let a file header size the cache's memory (slots x PageSize) at will.
inline constexpr uint32_t kSDBMaxPageSize = 65536;
inline constexpr uint32_t kSDBPageNumberMask = 0x00FFFFFF;
inline constexpr int kSDBDefaultCacheSize = 1024;

// Page number of a page identifier (the low 24 bits).
constexpr uint32_t SDBPageNumber(uint32_t pageID)
{
  return pageID & kSDBPageNumberMask;
}

struct TGPageCacheHeader
{
  uint16_t Version = 0;
  uint32_t PageSize = 0;
  uint32_t AllocatedPageCount = 0; // pages ever allocated, map pages included
  uint32_t FreePageCount = 0;      // allocated pages that are free again
  uint32_t PageMapBits = 0;        // pages covered by one map page
  uint32_t UniqueID = 0;           // last unique number handed out
  uint32_t SysFirstPageID = 0;     // first page of the system table; 0 = none yet
  uint32_t SysLastPageID = 0;
  int32_t SysRowCount = 0;
  uint8_t EncryptionType = 0; // 0 plain, otherwise enciphered pages
  uint32_t EncryptionChecksum = 0;
  friend bool operator==(const TGPageCacheHeader&, const TGPageCacheHeader&) = default;
};

using TGPageCacheHeaderBytes = std::array<uint8_t, kSDBHeaderSize>;

TGPageCacheHeaderBytes EncodePageCacheHeader(const TGPageCacheHeader& h);
// Decodes as stored and applies the read corrections: PageMapBits 0 reads as PageSize * 8,
// EncryptionType above 2 as 0.
TGPageCacheHeader DecodePageCacheHeader(const uint8_t* bytes);
// Refuses a header nothing may be computed from: Version other than 4 ("SDB Version Error"),
// PageSize 0, below 512, above 65536 or not a power of two, PageMapBits below 2 or above
// PageSize * 8. Raises EGException.
void ValidatePageCacheHeader(const TGPageCacheHeader& h);

// Sizes the indexes and tables derive from the page size.
struct TGPageCapacities
{
  int RTreeNodeCapacity = 0; // (PageSize - 7) div 20: 409 at 8192
  int RTreeMinFill = 0;      // capacity div 4: 102
  int BTreePageCapacity = 0; // (PageSize - 8) div 12: 682
  int BTreeMinFill = 0;      // capacity div 2: 341
  int DataPageFactor = 0;    // PageSize div 256: 32
};
TGPageCapacities PageCapacities(uint32_t pageSize);

// Block TEA over whole pages; key text "a,b,c,d" (comma text of four integers, each a signed or
// unsigned 32-bit value). Bad text raises EGException "TGSDBTeaCrypt: Passed invalid Key".
class TGSDBTeaCrypt
{
public:
  explicit TGSDBTeaCrypt(const std::string& keyText);

  // bytes: a multiple of 4 long, at least 8 (shorter tails are left as they are).
  void Encipher(uint8_t* bytes, size_t count) const;
  void Decipher(uint8_t* bytes, size_t count) const;
  // The key check: the last word enciphering the header (checksum field zero) would give.
  uint32_t Checksum(const TGPageCacheHeader& h) const;

private:
  std::array<uint32_t, 4> FKey{};
};

class TGPageCache;

// One cache slot.
struct TGCachedPage
{
  TGPageCache* FPageCache = nullptr;
  int64_t FPageID = -1;           // page number in the slot; -1 = free slot
  uint32_t FBatchWritePageID = 0; // page number saved when the write was deferred
  bool FModified = false;
  int FLockCount = 0;
  int FIndex = 0;
  std::array<uint32_t, 3> MRU{}; // millisecond ticks
  std::vector<uint8_t> PageData;
};

enum TGPageCacheNotification {
  pcnNewFile = 0,       // after a new file was created
  pcnOpened = 1,        // after opening
  pcnClosing = 2,       // before closing, after pcnBeforeClosing
  pcnBeforeClosing = 3, // first of the two before closing
  pcnRolledBack = 4,    // after a rollback
};

class TGPageCacheSubscriber
{
public:
  virtual ~TGPageCacheSubscriber() = default;
  virtual void PageCacheNotification(TGPageCache& cache, TGPageCacheNotification code) = 0;
};

// Diagnostic attributes (name, value) of SaveToXML, in order.
using TGXMLAttributes = std::vector<std::pair<std::string, std::string>>;

// The page cache: slots of PageSize bytes found through a 251-bucket hash, MRU-scored
// eviction, map pages, the header fields, observers. The file side (reading, writing,
// allocation, transactions) is TGFilePageCache's.
class TGPageCache : public TGRoot
{
public:
  TGPageCache();
  ~TGPageCache() override;
  TGPageCache(const TGPageCache&) = delete;
  TGPageCache& operator=(const TGPageCache&) = delete;
  std::string ClassName() const override { return "TGPageCache"; }

  bool Active() const { return FActive; }
  void SetActive(bool active);
  void Open();
  void Close();
  // Read-only when set or when the file could only be opened for reading.
  bool ReadOnly() const { return FReadOnly || FCacheReadOnly; }
  void SetReadOnly(bool readOnly) { FReadOnly = readOnly; }

  int CacheSize() const { return FCacheSize; }
  // Writes back and empties the cache, then builds n slots (at least 1); default 1024.
  void SetCacheSize(int n);

  const std::string& EncryptionKey() const { return FEncryptionKey; }
  // "TEA:a,b,c,d" makes a page cipher (case of "TEA:" ignored); any other key means plain
  // pages. Takes effect at the next open; refused while open.
  void SetEncryptionKey(const std::string& key);

  // The slot of the page (low 24 bits of pageID), loaded when needed, its lock count raised.
  TGCachedPage* AcquirePage(uint32_t pageID);
  void ReleasePage(TGCachedPage* page);

  // A new zero-filled page, modified; its identifier.
  uint32_t NewPage();
  // Writes the page back when cached and modified, frees its slot, clears its allocation bit.
  void DeletePage(uint32_t pageID);
  // Writes every modified page and, when changed, the header (nothing when closed or read-only).
  void Flush();
  // Empties the cache, closes, deletes the data file (and any journal), and reopens when it
  // was open (which creates a new empty file). A read-only cache, or one whose file another
  // writer holds, refuses with EGException and deletes nothing.
  virtual void Clear() = 0;
  uint32_t NextUniqueID();

  // Allocates the system table's first page when there is none (and makes it the last too).
  uint32_t SysFirstPageID();
  void SetSysFirstPageID(uint32_t pageID);
  uint32_t SysLastPageID() const { return FHeader.SysLastPageID; }
  void SetSysLastPageID(uint32_t pageID);
  int32_t SysRowCount() const { return FHeader.SysRowCount; }
  void SetSysRowCount(int32_t count);

  virtual void BeginTransaction() = 0;
  virtual void CommitTransaction() = 0;
  virtual void RollbackTransaction() = 0;
  virtual bool InTransaction() const = 0;

  // Borrowed: an observer stays subscribed until UnSubscribe.
  void Subscribe(TGPageCacheSubscriber* observer);
  void UnSubscribe(TGPageCacheSubscriber* observer);

  virtual void SaveToXML(TGXMLAttributes& attributes) const;

  const TGPageCacheHeader& Header() const { return FHeader; }
  uint32_t PageSize() const { return FHeader.PageSize; }
  uint32_t PageMapBits() const { return FHeader.PageMapBits; }
  bool IsMapPage(uint32_t pageNumber) const;
  const TGPageCapacities& Capacities() const { return FCapacities; }
  uint64_t CacheHits() const { return FCacheHits; }
  uint64_t CacheMisses() const { return FCacheMisses; }

  // Millisecond tick source for the MRU scores (tests make time stand still or jump).
  void SetTickSource(std::function<uint32_t()> ticks) { FTicks = std::move(ticks); }

  // Verifies the numbered invariants; raises EAssertionFailed on the first that fails. Runs by
  // itself at each transition in builds without NDEBUG.
  void CheckInvariants() const;

protected:
  virtual void DoOpen() = 0;
  virtual void DoClose() = 0;
  // Fills the slot with its page's bytes; raises on failure.
  virtual void ReadPage(TGCachedPage& page) = 0;
  // Writes the slot (or queues it in a write batch) and marks it clean.
  virtual void WritePage(TGCachedPage& page) = 0;
  virtual uint32_t AllocatePage() = 0;
  virtual void FreePage(uint32_t pageNumber) = 0;
  virtual void WriteHeader() = 0;
  virtual void BeginWriteBatch() {}
  virtual void EndWriteBatch() {}
  // Checks of the file side, called from CheckInvariants.
  virtual void CheckFileInvariants() const {}

  // Empties the cache; with write (and a writable cache) modified pages and a changed header
  // are written first. A locked slot is refused before anything changes.
  void ClearCache(bool write);
  // Empties the cache without writing, whatever the locks (recovery and failed closes).
  void DropCache();
  void RebuildSlots(int n);
  void SetHeader(const TGPageCacheHeader& h);
  void Notify(TGPageCacheNotification code);
  TGCachedPage* FindSlot(uint32_t pageNumber) const;
  // As AcquirePage; without load the page is zero-filled instead of read (a new page).
  TGCachedPage* AcquirePageNumber(uint32_t pageNumber, bool load);
  void DebugCheck() const;
  uint32_t Now() const;

  TGPageCacheHeader FHeader;
  TGPageCapacities FCapacities;
  bool FActive = false;
  bool FModified = false; // header changed
  bool FCacheReadOnly = false;
  bool FReadOnly = false;
  std::string FEncryptionKey;
  std::unique_ptr<TGSDBTeaCrypt> FCrypt;
  std::vector<std::unique_ptr<TGCachedPage>> FCache;
  std::vector<int> FFreeCacheList;
  std::vector<TGPageCacheSubscriber*> FSubscribers;
  uint64_t FCacheMisses = 0;
  uint64_t FCacheHits = 0;

private:
  static constexpr int kHashBuckets = 251;
  struct HashEntry
  {
    uint32_t PageNumber;
    int Slot;
  };
  TGCachedPage* TakeFreeSlot();
  void HashInsert(TGCachedPage& page);
  void HashRemove(const TGCachedPage& page);
  void FreeSlot(TGCachedPage& page);
  void MakeCacheSpace();

  int FCacheSize = kSDBDefaultCacheSize;
  std::array<std::vector<HashEntry>, kHashBuckets> FHashList;
  std::function<uint32_t()> FTicks;
};

// A short-lived handle on one page: acquires (loads and locks) the page on creation and
// releases it on destruction. Borrows the cache, which must outlive it; the page bytes stay
// valid while the handle lives. Page number 0 (the first map page) is refused with the
// assertion "TGPage: Passed 0 pageID", any other map page with "TGPage: Passed map pageID".
class TGPage
{
public:
  TGPage(TGPageCache& cache, uint32_t pageID);
  ~TGPage();
  TGPage(const TGPage&) = delete;
  TGPage& operator=(const TGPage&) = delete;

  uint8_t* DataPtr() { return FPage->PageData.data(); }
  const uint8_t* DataPtr() const { return FPage->PageData.data(); }
  int Size() const { return static_cast<int>(FPage->PageData.size()); }
  uint32_t PageID() const { return FPageID; }
  bool Modified() const { return FPage->FModified; }
  void SetModified() { FPage->FModified = true; }

private:
  TGPageCache* FCache;
  TGCachedPage* FPage;
  uint32_t FPageID;
};

// The page cache over one data file, with read-ahead, write batches, allocation through the
// map pages and transactions with a journal.
class TGFilePageCache : public TGPageCache
{
public:
  // The file system is borrowed and must outlive the cache; by default the platform's.
  explicit TGFilePageCache(TGSDBFileSystem& fileSystem = PlatformFileSystem());
  ~TGFilePageCache() override;
  std::string ClassName() const override { return "TGFilePageCache"; }

  const std::string& DataFile() const { return FDataFile; }
  // Closes, stores the name and its full path, and reopens when it was open.
  void SetDataFile(const std::string& fileName);
  const std::string& DataFileAndPath() const { return FDataFileAndPath; }
  std::string JournalFile() const { return FDataFileAndPath + ".TRN"; }
  int64_t DataFileSize() const { return FDataFileSize; }
  TGSDBFileSystem& FileSystem() const { return *FFileSystem; }

  void Clear() override;

  void BeginTransaction() override;
  void CommitTransaction() override;
  void RollbackTransaction() override;
  bool InTransaction() const override { return FTransactionCounter > 0; }
  int TransactionLevel() const { return FTransactionCounter; }

  void SaveToXML(TGXMLAttributes& attributes) const override;

protected:
  void DoOpen() override;
  void DoClose() override;
  void ReadPage(TGCachedPage& page) override;
  void WritePage(TGCachedPage& page) override;
  uint32_t AllocatePage() override;
  void FreePage(uint32_t pageNumber) override;
  void WriteHeader() override;
  void BeginWriteBatch() override;
  void EndWriteBatch() override;
  void CheckFileInvariants() const override;

private:
  static constexpr int kSpareBuffers = 17;
  struct SpareBuffer
  {
    int64_t PageNumber = -1;
    std::vector<uint8_t> Data;
  };

  int64_t PageOffset(uint32_t pageNumber) const;
  void CreateNewFile();
  void LoadHeaderAndMaps();
  // Refuses a key that does not fit the header: EGCryptException.
  void CheckKey(const TGPageCacheHeader& h) const;
  void CountMapPages();
  uint32_t MapFreeSpace(const TGCachedPage& map) const;
  void DropBuffers();
  void DropCopies(uint32_t pageNumber);
  void WritePageNow(TGCachedPage& page, uint32_t pageNumber);
  void WriteBlock(int64_t offset, const uint8_t* data, int64_t count, const char* what,
                  uint32_t pageNumber);
  void ReadStored(uint32_t pageNumber, uint8_t* out);
  void JournalPage(uint32_t pageNumber);
  void SyncJournal();
  void OpenJournal();
  void CloseJournal(bool remove);
  void Recover();
  // Whether a journal exists that recovery would play back.
  bool JournalIsHot();
  void SetBit(TGCachedPage& map, uint32_t index);
  void ClearBit(TGCachedPage& map, uint32_t index);
  [[noreturn]] void Fail(const std::string& what) const;

  TGSDBFileSystem* FFileSystem;
  std::string FDataFile;
  std::string FDataFileAndPath;
  std::unique_ptr<TGSDBFile> FDataFileHandle;
  int64_t FDataFileSize = 0;
  // Transfer buffer: two pages read at once; the second is the pending read-ahead page.
  std::vector<uint8_t> FVirtualBuffer;
  int64_t FReadAheadPageID = -1;
  std::vector<uint8_t> FWriteBuffer;
  std::array<SpareBuffer, kSpareBuffers> FPageBuffers;
  std::minstd_rand FSpareChoice;
  std::vector<uint32_t> FMapPageSpace; // free bits per map page
  std::vector<TGCachedPage*> FBatchWriteList;
  int FBatchWriteCounter = 0;
  // Transactions
  int FTransactionCounter = 0;
  std::unordered_set<uint32_t> FTransactionPages; // journaled in the current transaction
  std::unique_ptr<TGSDBFile> FJournal;
  int64_t FJournalSize = 0;
  uint32_t FJournalEntries = 0;       // appended in this transaction
  uint32_t FJournalSyncedEntries = 0; // of them, recorded as durable in the header block
  int64_t FTransactionFileSize = 0;   // data file length when the transaction began
};

} // namespace vtr
