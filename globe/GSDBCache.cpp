#include "globe/GSDBCache.h"

#include "base/Convert.h"
#include "base/TextLists.h"
#include "globe/GLogger.h"
#include "globe/GStreams.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstring>

namespace vtr {

// ---------------------------------------------------------------------------------------------
// Header

TGPageCacheHeaderBytes EncodePageCacheHeader(const TGPageCacheHeader& h)
{
  TGPageCacheHeaderBytes bytes{};
  TGBufferStream s(bytes.data(), static_cast<int64_t>(bytes.size()));
  TGStreamWriter w(s);
  w.WriteWord(h.Version);
  w.WriteCardinal(h.PageSize);
  w.WriteCardinal(h.AllocatedPageCount);
  w.WriteCardinal(h.FreePageCount);
  w.WriteCardinal(h.PageMapBits);
  w.WriteCardinal(h.UniqueID);
  w.WriteCardinal(h.SysFirstPageID);
  w.WriteCardinal(h.SysLastPageID);
  w.WriteInteger(h.SysRowCount);
  w.WriteByte(h.EncryptionType);
  w.WriteCardinal(h.EncryptionChecksum);
  return bytes;
}

TGPageCacheHeader DecodePageCacheHeader(const uint8_t* bytes)
{
  TGBufferStream s(static_cast<const void*>(bytes), kSDBHeaderSize);
  TGStreamReader r(s);
  TGPageCacheHeader h;
  h.Version = r.ReadWord();
  h.PageSize = r.ReadCardinal();
  h.AllocatedPageCount = r.ReadCardinal();
  h.FreePageCount = r.ReadCardinal();
  h.PageMapBits = r.ReadCardinal();
  h.UniqueID = r.ReadCardinal();
  h.SysFirstPageID = r.ReadCardinal();
  h.SysLastPageID = r.ReadCardinal();
  h.SysRowCount = r.ReadInteger();
  h.EncryptionType = r.ReadByte();
  h.EncryptionChecksum = r.ReadCardinal();
  if (h.PageMapBits == 0)
    h.PageMapBits = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{h.PageSize} * 8, UINT32_MAX));
  if (h.EncryptionType > 2) h.EncryptionType = 0;
  return h;
}

void ValidatePageCacheHeader(const TGPageCacheHeader& h)
{
  if (h.Version != kSDBVersion)
    throw EGException("SDB Version Error: version " + std::to_string(h.Version) + ", expected " +
                      std::to_string(kSDBVersion));
  if (h.PageSize < kSDBMinPageSize || h.PageSize > kSDBMaxPageSize ||
      !std::has_single_bit(h.PageSize))
    throw EGException("SDB Page Size Error: " + std::to_string(h.PageSize) +
                      " is not a power of two from 512 to 65536");
  if (h.PageMapBits < 2 || h.PageMapBits > uint64_t{h.PageSize} * 8)
    throw EGException("SDB Page Map Error: " + std::to_string(h.PageMapBits) +
                      " bits do not fit a page of " + std::to_string(h.PageSize) + " bytes");
}

TGPageCapacities PageCapacities(uint32_t pageSize)
{
  TGPageCapacities c;
  const int size = static_cast<int>(pageSize);
  c.RTreeNodeCapacity = size >= 7 ? (size - 7) / 20 : 0;
  c.RTreeMinFill = c.RTreeNodeCapacity / 4;
  c.BTreePageCapacity = size >= 8 ? (size - 8) / 12 : 0;
  c.BTreeMinFill = c.BTreePageCapacity / 2;
  c.DataPageFactor = size / 256;
  return c;
}

// ---------------------------------------------------------------------------------------------
// Block TEA

namespace {

constexpr uint32_t kTeaDelta = 0x9E3779B9;

std::vector<uint32_t> ReadWords(const uint8_t* bytes, size_t n)
{
  TGBufferStream s(static_cast<const void*>(bytes), static_cast<int64_t>(n * 4));
  TGStreamReader r(s);
  std::vector<uint32_t> v(n);
  for (uint32_t& word : v)
    word = r.ReadCardinal();
  return v;
}

void WriteWords(const std::vector<uint32_t>& v, uint8_t* bytes)
{
  TGBufferStream s(static_cast<void*>(bytes), static_cast<int64_t>(v.size() * 4));
  TGStreamWriter w(s);
  for (uint32_t word : v)
    w.WriteCardinal(word);
}

} // namespace

TGSDBTeaCrypt::TGSDBTeaCrypt(const std::string& keyText)
{
  const TextLines items = FromCommaText(keyText);
  if (items.size() != 4) throw EGException("TGSDBTeaCrypt: Passed invalid Key");
  for (size_t i = 0; i < 4; ++i) {
    const std::optional<int64_t> v = TryStrToInt64(items[i]);
    if (!v || *v < INT32_MIN || *v > int64_t{UINT32_MAX})
      throw EGException("TGSDBTeaCrypt: Passed invalid Key");
    FKey[i] = static_cast<uint32_t>(*v);
  }
}

void TGSDBTeaCrypt::Encipher(uint8_t* bytes, size_t count) const
{
  const size_t n = count / 4;
  if (n < 2) return;
  std::vector<uint32_t> v = ReadWords(bytes, n);
  uint32_t z = v[n - 1];
  uint32_t sum = 0;
  for (size_t q = 6 + 52 / n; q > 0; --q) {
    sum += kTeaDelta;
    const uint32_t e = (sum >> 2) & 3;
    for (size_t p = 0; p < n; ++p) {
      v[p] += (((z << 4) ^ (z >> 5)) + z) ^ (FKey[(p & 3) ^ e] + sum);
      z = v[p];
    }
  }
  WriteWords(v, bytes);
}

void TGSDBTeaCrypt::Decipher(uint8_t* bytes, size_t count) const
{
  const size_t n = count / 4;
  if (n < 2) return;
  std::vector<uint32_t> v = ReadWords(bytes, n);
  const size_t rounds = 6 + 52 / n;
  uint32_t sum = static_cast<uint32_t>(rounds) * kTeaDelta;
  for (size_t q = rounds; q > 0; --q) {
    const uint32_t e = (sum >> 2) & 3;
    for (size_t p = n - 1; p > 0; --p) {
      const uint32_t z = v[p - 1];
      v[p] -= (((z << 4) ^ (z >> 5)) + z) ^ (FKey[(p & 3) ^ e] + sum);
    }
    const uint32_t z = v[n - 1];
    v[0] -= (((z << 4) ^ (z >> 5)) + z) ^ (FKey[e] + sum);
    sum -= kTeaDelta;
  }
  WriteWords(v, bytes);
}

uint32_t TGSDBTeaCrypt::Checksum(const TGPageCacheHeader& h) const
{
  TGPageCacheHeader plain = h;
  plain.EncryptionChecksum = 0;
  TGPageCacheHeaderBytes bytes = EncodePageCacheHeader(plain);
  const size_t words = bytes.size() / 4;
  Encipher(bytes.data(), words * 4);
  return ReadWords(bytes.data() + (words - 1) * 4, 1)[0];
}

// ---------------------------------------------------------------------------------------------
// TGPageCache

namespace {

uint32_t SystemTicks()
{
  using namespace std::chrono;
  return static_cast<uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void Trace(const std::string& message)
{
  LogManager().Trace(2, message);
}

} // namespace

TGPageCache::TGPageCache() : FTicks(SystemTicks) {}

TGPageCache::~TGPageCache() = default;

uint32_t TGPageCache::Now() const
{
  return FTicks();
}

void TGPageCache::SetActive(bool active)
{
  if (active)
    Open();
  else
    Close();
}

void TGPageCache::Open()
{
  if (FActive) return;
  DoOpen();
  DebugCheck();
}

void TGPageCache::Close()
{
  if (FActive) DoClose();
}

void TGPageCache::SetCacheSize(int n)
{
  Trace("PageCache.SetCacheSize: " + std::to_string(n));
  n = std::max(n, 1);
  if (FActive) {
    ClearCache(true);
    RebuildSlots(n);
  }
  FCacheSize = n;
  DebugCheck();
}

void TGPageCache::SetEncryptionKey(const std::string& key)
{
  if (FActive) throw EGException("PageCache: the encryption key cannot change while open");
  const size_t colon = key.find(':');
  std::unique_ptr<TGSDBTeaCrypt> crypt;
  if (colon != std::string::npos && SameText(key.substr(0, colon + 1), "TEA:"))
    crypt = std::make_unique<TGSDBTeaCrypt>(key.substr(colon + 1));
  FCrypt = std::move(crypt);
  FEncryptionKey = key;
}

bool TGPageCache::IsMapPage(uint32_t pageNumber) const
{
  return FHeader.PageMapBits != 0 && pageNumber % FHeader.PageMapBits == 0;
}

void TGPageCache::SetHeader(const TGPageCacheHeader& h)
{
  FHeader = h;
  FCapacities = PageCapacities(h.PageSize);
}

void TGPageCache::RebuildSlots(int n)
{
  FCache.clear();
  for (auto& bucket : FHashList)
    bucket.clear();
  FFreeCacheList.clear();
  for (int i = 0; i < n; ++i) {
    auto page = std::make_unique<TGCachedPage>();
    page->FPageCache = this;
    page->FIndex = i;
    page->PageData.assign(FHeader.PageSize, 0);
    FCache.push_back(std::move(page));
  }
  // Popped from the back: slot 0 is taken first.
  for (int i = n - 1; i >= 0; --i)
    FFreeCacheList.push_back(i);
}

TGCachedPage* TGPageCache::FindSlot(uint32_t pageNumber) const
{
  const auto& bucket = FHashList[pageNumber % kHashBuckets];
  auto it = std::lower_bound(bucket.begin(), bucket.end(), pageNumber,
                             [](const HashEntry& e, uint32_t n) { return e.PageNumber < n; });
  if (it == bucket.end() || it->PageNumber != pageNumber) return nullptr;
  return FCache[static_cast<size_t>(it->Slot)].get();
}

void TGPageCache::HashInsert(TGCachedPage& page)
{
  const auto n = static_cast<uint32_t>(page.FPageID);
  auto& bucket = FHashList[n % kHashBuckets];
  auto it = std::lower_bound(bucket.begin(), bucket.end(), n,
                             [](const HashEntry& e, uint32_t k) { return e.PageNumber < k; });
  bucket.insert(it, HashEntry{n, page.FIndex});
}

void TGPageCache::HashRemove(const TGCachedPage& page)
{
  const auto n = static_cast<uint32_t>(page.FPageID);
  auto& bucket = FHashList[n % kHashBuckets];
  auto it = std::lower_bound(bucket.begin(), bucket.end(), n,
                             [](const HashEntry& e, uint32_t k) { return e.PageNumber < k; });
  if (it != bucket.end() && it->PageNumber == n) bucket.erase(it);
}

void TGPageCache::FreeSlot(TGCachedPage& page)
{
  HashRemove(page);
  page.FPageID = -1;
  page.FModified = false;
  page.FLockCount = 0;
  FFreeCacheList.push_back(page.FIndex);
}

TGCachedPage* TGPageCache::TakeFreeSlot()
{
  if (FFreeCacheList.empty()) MakeCacheSpace();
  const int index = FFreeCacheList.back();
  TGCachedPage* page = FCache[static_cast<size_t>(index)].get();
  G_ASSERT_MSG(page->FPageID == -1, "Cache Slot already assigned");
  FFreeCacheList.pop_back();
  return page;
}

void TGPageCache::MakeCacheSpace()
{
  std::vector<TGCachedPage*> candidates;
  for (const auto& page : FCache)
    if (page->FPageID >= 0 && page->FLockCount == 0 &&
        !IsMapPage(static_cast<uint32_t>(page->FPageID)))
      candidates.push_back(page.get());
  if (candidates.empty()) throw EGException("MakeCacheSpace: Out of Cache Table Space");

  const uint32_t now = Now();
  auto score = [now](const TGCachedPage* p) -> uint32_t {
    return ((now - p->MRU[0]) >> 2) + ((p->MRU[0] - p->MRU[1]) >> 1) + p->MRU[1] - p->MRU[2];
  };
  std::stable_sort(
      candidates.begin(), candidates.end(),
      [&](const TGCachedPage* a, const TGCachedPage* b) { return score(a) > score(b); });
  candidates.resize(candidates.size() / 5 + 1);

  // Slots are freed only once their pages are safely written; a failed write leaves them all.
  BeginWriteBatch();
  for (TGCachedPage* page : candidates)
    if (page->FModified) WritePage(*page);
  EndWriteBatch();
  for (TGCachedPage* page : candidates)
    FreeSlot(*page);
}

TGCachedPage* TGPageCache::AcquirePage(uint32_t pageID)
{
  G_ASSERT_MSG(FActive, "PageCache is not Active");
  return AcquirePageNumber(SDBPageNumber(pageID), true);
}

TGCachedPage* TGPageCache::AcquirePageNumber(uint32_t pageNumber, bool load)
{
  const uint32_t now = Now();
  TGCachedPage* page = FindSlot(pageNumber);
  if (page) {
    ++FCacheHits;
  } else {
    page = TakeFreeSlot();
    page->FPageID = pageNumber;
    page->FModified = false;
    page->FLockCount = 0;
    page->MRU = {now, 0, 0};
    try {
      if (load)
        ReadPage(*page);
      else
        std::fill(page->PageData.begin(), page->PageData.end(), uint8_t{0});
    } catch (...) {
      page->FPageID = -1;
      FFreeCacheList.push_back(page->FIndex);
      throw;
    }
    HashInsert(*page);
    ++FCacheMisses;
  }
  const uint32_t d = now - page->MRU[0];
  if (d != 0) {
    page->MRU[2] = page->MRU[1] + d;
    page->MRU[1] = page->MRU[0] + d;
    page->MRU[0] = now;
  }
  ++page->FLockCount;
  return page;
}

void TGPageCache::ReleasePage(TGCachedPage* page)
{
  G_ASSERT_MSG(page != nullptr, "ReleasePage passed nil Page");
  G_ASSERT_MSG(page->FLockCount > 0, "Page UnLock Underflow");
  --page->FLockCount;
}

uint32_t TGPageCache::NewPage()
{
  G_ASSERT_MSG(FActive, "PageCache is not Active");
  const uint32_t n = AllocatePage();
  TGCachedPage* page = nullptr;
  try {
    page = AcquirePageNumber(n, false);
  } catch (...) {
    FreePage(n);
    throw;
  }
  std::fill(page->PageData.begin(), page->PageData.end(), uint8_t{0});
  page->FModified = true;
  ReleasePage(page);
  return n;
}

void TGPageCache::DeletePage(uint32_t pageID)
{
  G_ASSERT_MSG(FActive, "PageCache is not Active");
  const uint32_t n = SDBPageNumber(pageID);
  G_ASSERT_MSG(!IsMapPage(n), "DeletePage: Passed map pageID");
  if (TGCachedPage* page = FindSlot(n)) {
    G_ASSERT_MSG(page->FLockCount == 0, "DeletePage: Page is locked");
    if (page->FModified) WritePage(*page);
    FreeSlot(*page);
  }
  FreePage(n);
}

void TGPageCache::Flush()
{
  if (!FActive || ReadOnly()) return;
  BeginWriteBatch();
  for (const auto& page : FCache)
    if (page->FPageID >= 0 && page->FModified) WritePage(*page);
  EndWriteBatch();
  if (FModified) WriteHeader();
  DebugCheck();
}

void TGPageCache::ClearCache(bool write)
{
  for (const auto& page : FCache)
    G_ASSERT_MSG(page->FLockCount == 0, "ClearCache(): Locked Pages still in the PageCache");
  if (write && !ReadOnly()) {
    BeginWriteBatch();
    for (const auto& page : FCache)
      if (page->FPageID >= 0 && page->FModified) WritePage(*page);
    EndWriteBatch();
    if (FModified) WriteHeader();
  }
  DropCache();
}

void TGPageCache::DropCache()
{
  for (auto& bucket : FHashList)
    bucket.clear();
  FFreeCacheList.clear();
  for (int i = static_cast<int>(FCache.size()) - 1; i >= 0; --i) {
    TGCachedPage& page = *FCache[static_cast<size_t>(i)];
    page.FPageID = -1;
    page.FModified = false;
    page.FLockCount = 0;
    FFreeCacheList.push_back(i);
  }
}

uint32_t TGPageCache::NextUniqueID()
{
  G_ASSERT_MSG(FActive, "PageCache is not Active");
  ++FHeader.UniqueID;
  FModified = true;
  return FHeader.UniqueID;
}

uint32_t TGPageCache::SysFirstPageID()
{
  if (FHeader.SysFirstPageID == 0 && FActive) {
    const uint32_t id = NewPage();
    FHeader.SysFirstPageID = id;
    FHeader.SysLastPageID = id;
    FModified = true;
  }
  return FHeader.SysFirstPageID;
}

void TGPageCache::SetSysFirstPageID(uint32_t pageID)
{
  FHeader.SysFirstPageID = pageID;
  FModified = true;
}

void TGPageCache::SetSysLastPageID(uint32_t pageID)
{
  FHeader.SysLastPageID = pageID;
  FModified = true;
}

void TGPageCache::SetSysRowCount(int32_t count)
{
  FHeader.SysRowCount = count;
  FModified = true;
}

void TGPageCache::Subscribe(TGPageCacheSubscriber* observer)
{
  if (observer &&
      std::find(FSubscribers.begin(), FSubscribers.end(), observer) == FSubscribers.end())
    FSubscribers.push_back(observer);
}

void TGPageCache::UnSubscribe(TGPageCacheSubscriber* observer)
{
  std::erase(FSubscribers, observer);
}

void TGPageCache::Notify(TGPageCacheNotification code)
{
  // A copy: an observer may unsubscribe while being told.
  const std::vector<TGPageCacheSubscriber*> observers = FSubscribers;
  for (TGPageCacheSubscriber* observer : observers)
    observer->PageCacheNotification(*this, code);
}

void TGPageCache::SaveToXML(TGXMLAttributes& attributes) const
{
  attributes.emplace_back("PageSize", std::to_string(FHeader.PageSize));
  attributes.emplace_back("PageCount", std::to_string(FHeader.AllocatedPageCount));
  attributes.emplace_back("FreeCount", std::to_string(FHeader.FreePageCount));
}

void TGPageCache::DebugCheck() const
{
#ifndef NDEBUG
  if (FActive) CheckInvariants();
#endif
}

void TGPageCache::CheckInvariants() const
{
  // 1. hash <-> used slots
  size_t hashed = 0;
  for (size_t b = 0; b < FHashList.size(); ++b) {
    const auto& bucket = FHashList[b];
    for (size_t i = 0; i < bucket.size(); ++i) {
      const HashEntry& e = bucket[i];
      G_ASSERT_MSG(e.PageNumber % kHashBuckets == b, "Invariant 1: page in the wrong bucket");
      G_ASSERT_MSG(i == 0 || bucket[i - 1].PageNumber < e.PageNumber,
                   "Invariant 1: bucket not sorted or page cached twice");
      G_ASSERT_MSG(e.Slot >= 0 && static_cast<size_t>(e.Slot) < FCache.size() &&
                       FCache[static_cast<size_t>(e.Slot)]->FPageID == e.PageNumber,
                   "Invariant 1: hash entry does not match its slot");
      ++hashed;
    }
  }
  // 2. free list <-> unused slots
  std::vector<bool> listed(FCache.size(), false);
  for (int index : FFreeCacheList) {
    G_ASSERT_MSG(index >= 0 && static_cast<size_t>(index) < FCache.size() &&
                     !listed[static_cast<size_t>(index)],
                 "Invariant 2: bad or repeated free slot");
    listed[static_cast<size_t>(index)] = true;
  }
  size_t used = 0;
  for (const auto& page : FCache) {
    if (page->FPageID >= 0) {
      ++used;
      G_ASSERT_MSG(!listed[static_cast<size_t>(page->FIndex)],
                   "Invariant 2: used slot listed free");
    } else {
      G_ASSERT_MSG(listed[static_cast<size_t>(page->FIndex)], "Invariant 2: free slot not listed");
      G_ASSERT_MSG(page->FLockCount == 0 && !page->FModified, "Invariant 2: free slot in use");
    }
  }
  G_ASSERT_MSG(used == hashed, "Invariant 1: used slot missing from the hash");
  // 4. header
  G_ASSERT_MSG(FHeader.FreePageCount <= FHeader.AllocatedPageCount,
               "Invariant 4: more free pages than allocated");
  CheckFileInvariants();
}

// ---------------------------------------------------------------------------------------------
// TGPage

TGPage::TGPage(TGPageCache& cache, uint32_t pageID) : FCache(&cache), FPageID(pageID)
{
  const uint32_t n = SDBPageNumber(pageID);
  G_ASSERT_MSG(n != 0, "TGPage: Passed 0 pageID");
  G_ASSERT_MSG(!cache.IsMapPage(n), "TGPage: Passed map pageID");
  FPage = cache.AcquirePage(pageID);
}

TGPage::~TGPage()
{
  // A cache emptied by force (a failed close) has already dropped the lock.
  if (FPage->FLockCount > 0) FCache->ReleasePage(FPage);
}

// ---------------------------------------------------------------------------------------------
// TGFilePageCache

namespace {

// In the journal's header block, after the header: the count of entries known synced (u32)
// and a marker saying the count is there.
constexpr int64_t kJournalCountOffset = 40;
constexpr uint32_t kJournalMarker = 0x314E524A; // "JRN1"

// The header block as stored: the header, then zeros.
std::vector<uint8_t> HeaderBlock(const TGPageCacheHeader& h)
{
  std::vector<uint8_t> block(kSDBHeaderBlockSize, 0);
  const TGPageCacheHeaderBytes bytes = EncodePageCacheHeader(h);
  std::copy(bytes.begin(), bytes.end(), block.begin());
  return block;
}

// Releases an acquired page however the scope ends.
class PageLock
{
public:
  PageLock(TGPageCache& cache, TGCachedPage* page) : FCache(cache), FPage(page) {}
  ~PageLock() { FCache.ReleasePage(FPage); }
  PageLock(const PageLock&) = delete;
  PageLock& operator=(const PageLock&) = delete;
  TGCachedPage& operator*() const { return *FPage; }
  TGCachedPage* operator->() const { return FPage; }

private:
  TGPageCache& FCache;
  TGCachedPage* FPage;
};

bool TestBit(const TGCachedPage& map, uint32_t index)
{
  return (map.PageData[index / 8] >> (index % 8)) & 1;
}

} // namespace

TGFilePageCache::TGFilePageCache(TGSDBFileSystem& fileSystem)
    : FFileSystem(&fileSystem), FSpareChoice(17)
{
}

TGFilePageCache::~TGFilePageCache()
{
  try {
    Close();
  } catch (...) {
    // Closing from a destructor cannot report; a failed close leaves any journal for the next
    // open to roll back.
  }
}

void TGFilePageCache::Fail(const std::string& what) const
{
  throw EGException(what);
}

int64_t TGFilePageCache::PageOffset(uint32_t pageNumber) const
{
  return kSDBHeaderBlockSize + static_cast<int64_t>(pageNumber) * FHeader.PageSize;
}

void TGFilePageCache::SetDataFile(const std::string& fileName)
{
  const bool wasOpen = FActive;
  Close();
  FDataFile = fileName;
  FDataFileAndPath = fileName.empty() ? std::string() : FFileSystem->FullPath(fileName);
  Trace("FilePageCache.SetDataFile: " + FDataFileAndPath);
  if (wasOpen) Open();
}

namespace {

// A map page as stored that holds only its own bit (bit 0).
std::vector<uint8_t> EmptyMapPage(uint32_t pageSize, const TGSDBTeaCrypt* crypt)
{
  std::vector<uint8_t> page(pageSize, 0);
  page[0] = 1;
  if (crypt) crypt->Encipher(page.data(), pageSize);
  return page;
}

// A new file: the header block and map page 0 with only bit 0 set.
std::vector<uint8_t> NewFileBytes(const TGSDBTeaCrypt* crypt)
{
  TGPageCacheHeader h;
  h.Version = kSDBVersion;
  h.PageSize = kSDBNewPageSize;
  h.PageMapBits = kSDBNewPageMapBits;
  h.AllocatedPageCount = 1;
  h.EncryptionType = crypt ? 1 : 0;
  if (crypt) h.EncryptionChecksum = crypt->Checksum(h);
  std::vector<uint8_t> bytes = HeaderBlock(h);
  const std::vector<uint8_t> map = EmptyMapPage(kSDBNewPageSize, crypt);
  bytes.insert(bytes.end(), map.begin(), map.end());
  return bytes;
}

// What contradicts itself among a header's page counts; empty when nothing does. Every free
// page was allocated once, so more free than allocated pages is damage.
std::string PageCountError(const TGPageCacheHeader& h)
{
  if (h.FreePageCount <= h.AllocatedPageCount) return {};
  return std::to_string(h.FreePageCount) + " free pages but only " +
         std::to_string(h.AllocatedPageCount) + " allocated";
}

} // namespace

void TGFilePageCache::CreateNewFile()
{
  std::string error;
  std::unique_ptr<TGSDBFile> file =
      FFileSystem->Open(FDataFileAndPath, TGFileOpenMode::Create, &error);
  if (!file) Fail("FilePageCache: Cannot create " + FDataFileAndPath + ": " + error);
  const std::vector<uint8_t> bytes = NewFileBytes(FCrypt.get());
  if (!file->WriteAt(0, bytes.data(), static_cast<int64_t>(bytes.size())) || !file->Sync()) {
    error = file->LastError();
    file.reset();
    FFileSystem->Delete(FDataFileAndPath);
    Fail("FilePageCache: Cannot create " + FDataFileAndPath + ": " + error);
  }
}

void TGFilePageCache::DoOpen()
{
  DropBuffers();
  if (FDataFileAndPath.empty()) Fail("FilePageCache: No data file name");
  bool created = false;
  if (!FFileSystem->Exists(FDataFileAndPath)) {
    // A read-only cache leaves the disk as it found it.
    if (FReadOnly)
      Fail("FilePageCache: Cannot open " + FDataFileAndPath +
           " read-only: the file does not exist");
    CreateNewFile();
    created = true;
  }
  std::string error;
  FCacheReadOnly = false;
  FDataFileHandle = FFileSystem->Open(FDataFileAndPath, TGFileOpenMode::ReadWrite, &error);
  if (!FDataFileHandle) {
    FDataFileHandle = FFileSystem->Open(FDataFileAndPath, TGFileOpenMode::ReadOnly, &error);
    if (!FDataFileHandle) Fail("FilePageCache: Cannot open " + FDataFileAndPath + ": " + error);
    FCacheReadOnly = true;
  }
  try {
    FDataFileSize = FDataFileHandle->Size();
    if (FDataFileSize < 0) Fail("FilePageCache: Cannot read " + FDataFileAndPath);
    // An empty file holds nothing to lose (creation never got to write): a writer makes it a
    // new one, a read-only cache refuses it untouched.
    if (FDataFileSize == 0 && ReadOnly())
      Fail("FilePageCache: Cannot open " + FDataFileAndPath + " read-only: the file is empty");
    if (FDataFileSize == 0) {
      const std::vector<uint8_t> bytes = NewFileBytes(FCrypt.get());
      if (!FDataFileHandle->WriteAt(0, bytes.data(), static_cast<int64_t>(bytes.size())) ||
          !FDataFileHandle->Sync())
        Fail("FilePageCache: Cannot create " + FDataFileAndPath + ": " +
             FDataFileHandle->LastError());
      FDataFileSize = static_cast<int64_t>(bytes.size());
      created = true;
    }
    // Only a writer can play a journal back; a reader would see the transaction half done.
    if (!FCacheReadOnly)
      Recover();
    else if (JournalIsHot())
      Fail("FilePageCache: Cannot read " + FDataFileAndPath + ": its journal " + JournalFile() +
           " holds a transaction not yet committed or rolled back");
    LoadHeaderAndMaps();
  } catch (...) {
    DropCache();
    FDataFileHandle.reset();
    DropBuffers();
    throw;
  }
  FActive = true;
  if (created) Notify(pcnNewFile);
  Trace("Open PageCache");
  Notify(pcnOpened);
}

void TGFilePageCache::LoadHeaderAndMaps()
{
  uint8_t bytes[kSDBHeaderSize];
  const int64_t got = FDataFileHandle->ReadAt(0, bytes, kSDBHeaderSize);
  if (got != kSDBHeaderSize)
    Fail("FilePageCache: " + FDataFileAndPath + " is too short for a database header");
  const TGPageCacheHeader h = DecodePageCacheHeader(bytes);
  ValidatePageCacheHeader(h);
  if (const std::string error = PageCountError(h); !error.empty())
    Fail("FilePageCache: " + FDataFileAndPath + " is damaged: " + error);
  CheckKey(h);
  SetHeader(h);
  FModified = false;
  FDataFileSize = FDataFileHandle->Size();
  FVirtualBuffer.assign(size_t{2} * h.PageSize, 0);
  FWriteBuffer.assign(h.PageSize, 0);
  for (SpareBuffer& spare : FPageBuffers) {
    spare.PageNumber = -1;
    spare.Data.clear();
  }
  FReadAheadPageID = -1;
  RebuildSlots(CacheSize());
  CountMapPages();
}

void TGFilePageCache::CheckKey(const TGPageCacheHeader& h) const
{
  if (FCrypt && h.EncryptionType == 0) throw EGCryptException("Incorrect Encryption Key supplied");
  if (h.EncryptionType != 0 && (!FCrypt || FCrypt->Checksum(h) != h.EncryptionChecksum))
    throw EGCryptException("Encryption Key missing or Incorrect");
}

uint32_t TGFilePageCache::MapFreeSpace(const TGCachedPage& map) const
{
  const uint32_t bits = FHeader.PageMapBits;
  uint32_t set = 0;
  const uint32_t fullBytes = bits / 8;
  for (uint32_t i = 0; i < fullBytes; ++i)
    set += static_cast<uint32_t>(std::popcount(map.PageData[i]));
  for (uint32_t i = fullBytes * 8; i < bits; ++i)
    set += TestBit(map, i) ? 1 : 0;
  return bits - set;
}

void TGFilePageCache::CountMapPages()
{
  const int64_t span = static_cast<int64_t>(FHeader.PageSize) * FHeader.PageMapBits;
  int64_t count = std::max<int64_t>(FDataFileSize - kSDBHeaderBlockSize, 0) / span + 1;
  // Map pages past the last 24-bit page number would map nothing.
  count = std::min<int64_t>(count, kSDBPageNumberMask / FHeader.PageMapBits + 1);
  FMapPageSpace.clear();
  for (int64_t m = 0; m < count; ++m) {
    PageLock map(*this, AcquirePageNumber(static_cast<uint32_t>(m * FHeader.PageMapBits), true));
    // A map page never written (or damaged) must still never hand itself out.
    if (!TestBit(*map, 0)) {
      map->PageData[0] |= 1;
      map->FModified = true;
    }
    FMapPageSpace.push_back(MapFreeSpace(*map));
  }
}

void TGFilePageCache::DropBuffers()
{
  FReadAheadPageID = -1;
  for (SpareBuffer& spare : FPageBuffers)
    spare.PageNumber = -1;
}

void TGFilePageCache::DropCopies(uint32_t pageNumber)
{
  if (FReadAheadPageID == pageNumber) FReadAheadPageID = -1;
  for (SpareBuffer& spare : FPageBuffers)
    if (spare.PageNumber == pageNumber) spare.PageNumber = -1;
}

void TGFilePageCache::ReadPage(TGCachedPage& page)
{
  const auto n = static_cast<uint32_t>(page.FPageID);
  const size_t size = FHeader.PageSize;
  uint8_t* out = page.PageData.data();
  const int64_t offset = PageOffset(n);
  if (offset >= FDataFileSize) {
    std::fill(out, out + size, uint8_t{0});
    return;
  }
  if (FReadAheadPageID == n) {
    std::copy_n(FVirtualBuffer.data() + size, size, out);
    return;
  }
  for (SpareBuffer& spare : FPageBuffers) {
    if (spare.PageNumber == n) {
      std::copy_n(spare.Data.data(), size, out);
      spare.PageNumber = -1;
      return;
    }
  }
  // Keep the pending read-ahead page in a spare buffer before the transfer buffer is reused.
  if (FReadAheadPageID >= 0 && !FindSlot(static_cast<uint32_t>(FReadAheadPageID))) {
    SpareBuffer* target = nullptr;
    for (SpareBuffer& spare : FPageBuffers)
      if (spare.PageNumber < 0) {
        target = &spare;
        break;
      }
    if (!target) target = &FPageBuffers[FSpareChoice() % kSpareBuffers];
    target->Data.resize(size);
    std::copy_n(FVirtualBuffer.data() + size, size, target->Data.data());
    target->PageNumber = FReadAheadPageID;
  }
  FReadAheadPageID = -1;

  const int64_t got =
      FDataFileHandle->ReadAt(offset, FVirtualBuffer.data(), static_cast<int64_t>(2 * size));
  if (got < 0)
    Fail("FilePageCache: Cannot read page " + std::to_string(n) + " of " + FDataFileAndPath + ": " +
         FDataFileHandle->LastError());
  std::fill(FVirtualBuffer.begin() + got, FVirtualBuffer.end(), uint8_t{0});
  const bool both = got == static_cast<int64_t>(2 * size);
  if (FCrypt) {
    FCrypt->Decipher(FVirtualBuffer.data(), size);
    if (both) FCrypt->Decipher(FVirtualBuffer.data() + size, size);
  }
  std::copy_n(FVirtualBuffer.data(), size, out);
  if (both && n < kSDBPageNumberMask) {
    DropCopies(n + 1); // the fresh copy replaces any older one
    FReadAheadPageID = n + 1;
  }
}

void TGFilePageCache::WritePage(TGCachedPage& page)
{
  if (ReadOnly()) {
    page.FModified = false;
    return;
  }
  if (FBatchWriteCounter > 0) {
    page.FBatchWritePageID = static_cast<uint32_t>(page.FPageID);
    FBatchWriteList.push_back(&page);
    return;
  }
  G_ASSERT_MSG(page.FPageID >= 0, "Internal Write passed Free Page");
  WritePageNow(page, static_cast<uint32_t>(page.FPageID));
}

void TGFilePageCache::WriteBlock(int64_t offset, const uint8_t* data, int64_t count,
                                 const char* what, uint32_t pageNumber)
{
  if (!FDataFileHandle->WriteAt(offset, data, count))
    Fail(std::string("FilePageCache: Cannot write ") + what + " " + std::to_string(pageNumber) +
         " of " + FDataFileAndPath + ": " + FDataFileHandle->LastError());
  if (offset + count > FDataFileSize) {
    const int64_t size = FDataFileHandle->Size();
    FDataFileSize = size >= 0 ? size : offset + count;
  }
}

void TGFilePageCache::WritePageNow(TGCachedPage& page, uint32_t pageNumber)
{
  if (InTransaction()) {
    JournalPage(pageNumber);
    SyncJournal();
  }
  const size_t size = FHeader.PageSize;
  std::copy_n(page.PageData.data(), size, FWriteBuffer.data());
  if (FCrypt) FCrypt->Encipher(FWriteBuffer.data(), size);
  WriteBlock(PageOffset(pageNumber), FWriteBuffer.data(), static_cast<int64_t>(size), "page",
             pageNumber);
  page.FModified = false;
  DropCopies(pageNumber);
}

void TGFilePageCache::BeginWriteBatch()
{
  ++FBatchWriteCounter;
}

void TGFilePageCache::EndWriteBatch()
{
  G_ASSERT(FBatchWriteCounter > 0);
  if (--FBatchWriteCounter > 0) return;
  std::vector<TGCachedPage*> pages = std::move(FBatchWriteList);
  FBatchWriteList.clear();
  if (pages.empty()) return;
  std::sort(pages.begin(), pages.end(), [](const TGCachedPage* a, const TGCachedPage* b) {
    return a->FBatchWritePageID < b->FBatchWritePageID;
  });
  if (InTransaction()) {
    for (const TGCachedPage* page : pages)
      JournalPage(page->FBatchWritePageID);
    SyncJournal();
  }
  // The highest page first, so the file grows once.
  WritePageNow(*pages.back(), pages.back()->FBatchWritePageID);
  for (size_t i = 0; i + 1 < pages.size(); ++i)
    WritePageNow(*pages[i], pages[i]->FBatchWritePageID);
}

void TGFilePageCache::WriteHeader()
{
  if (ReadOnly()) return;
  if (FHeader.EncryptionType != 0) {
    G_ASSERT_MSG(FCrypt != nullptr, "Encryption Key Needed");
    FHeader.EncryptionChecksum = FCrypt->Checksum(FHeader);
  }
  // The journal got the header as at the start when the transaction began.
  if (InTransaction()) SyncJournal();
  const std::vector<uint8_t> block = HeaderBlock(FHeader);
  G_ASSERT_MSG(FDataFileHandle->WriteAt(0, block.data(), kSDBHeaderBlockSize),
               "TGFilePageCache.WriteHeader: Failed");
  FModified = false;
  FCapacities = PageCapacities(FHeader.PageSize);
}

// ---------------------------------------------------------------------------------------------
// Allocation

void TGFilePageCache::SetBit(TGCachedPage& map, uint32_t index)
{
  G_ASSERT_MSG(index < FHeader.PageMapBits, "SetBit: Invalid Index");
  map.PageData[index / 8] = static_cast<uint8_t>(map.PageData[index / 8] | (1u << (index % 8)));
  map.FModified = true;
}

void TGFilePageCache::ClearBit(TGCachedPage& map, uint32_t index)
{
  G_ASSERT_MSG(index < FHeader.PageMapBits, "ClearBit: Invalid Index");
  map.PageData[index / 8] = static_cast<uint8_t>(map.PageData[index / 8] & ~(1u << (index % 8)));
  map.FModified = true;
}

uint32_t TGFilePageCache::AllocatePage()
{
  G_ASSERT_MSG(FActive, "PageCache is not Active");
  const uint32_t bits = FHeader.PageMapBits;
  size_t m = 0;
  while (m < FMapPageSpace.size() && FMapPageSpace[m] == 0)
    ++m;
  if (m == FMapPageSpace.size()) {
    const uint64_t mapNumber = uint64_t{m} * bits;
    G_ASSERT_MSG(mapNumber < kSDBPageNumberMask, "FilePageCache has Run out of space");
    PageLock map(*this, AcquirePageNumber(static_cast<uint32_t>(mapNumber), false));
    SetBit(*map, 0);
    FMapPageSpace.push_back(bits - 1);
    FHeader.AllocatedPageCount =
        std::max<uint32_t>(FHeader.AllocatedPageCount + 1, static_cast<uint32_t>(mapNumber) + 1);
    FModified = true;
  }
  const auto mapNumber = static_cast<uint32_t>(m * bits);
  PageLock map(*this, AcquirePageNumber(mapNumber, true));
  uint32_t index = bits;
  for (uint32_t byte = 0; byte < (bits + 7) / 8 && index == bits; ++byte) {
    if (map->PageData[byte] == 0xFF) continue;
    for (uint32_t bit = 0; bit < 8; ++bit) {
      const uint32_t i = byte * 8 + bit;
      if (i < bits && !TestBit(*map, i)) {
        index = i;
        break;
      }
    }
  }
  G_ASSERT_MSG(index < bits, "FilePageCache has Run out of space");
  const uint64_t n = uint64_t{mapNumber} + index;
  G_ASSERT_MSG(n <= kSDBPageNumberMask, "FilePageCache has Run out of space");
  SetBit(*map, index);
  FMapPageSpace[m] = MapFreeSpace(*map);
  if (n < FHeader.AllocatedPageCount) {
    if (FHeader.FreePageCount > 0) --FHeader.FreePageCount;
  } else {
    FHeader.AllocatedPageCount = static_cast<uint32_t>(n) + 1;
  }
  FModified = true;
  return static_cast<uint32_t>(n);
}

void TGFilePageCache::FreePage(uint32_t pageNumber)
{
  const uint32_t bits = FHeader.PageMapBits;
  const size_t m = pageNumber / bits;
  G_ASSERT_MSG(m < FMapPageSpace.size(), "FreePage: Page lies beyond the page maps");
  PageLock map(*this, AcquirePageNumber(static_cast<uint32_t>(m * bits), true));
  const uint32_t index = pageNumber % bits;
  G_ASSERT_MSG(TestBit(*map, index), "FreePage: Page is not allocated");
  ClearBit(*map, index);
  FMapPageSpace[m] = MapFreeSpace(*map);
  if (FHeader.FreePageCount < FHeader.AllocatedPageCount) ++FHeader.FreePageCount;
  DropCopies(pageNumber);
  FModified = true;
}

// ---------------------------------------------------------------------------------------------
// Transactions

void TGFilePageCache::ReadStored(uint32_t pageNumber, uint8_t* out)
{
  const int64_t got =
      FDataFileHandle->ReadAt(PageOffset(pageNumber), out, static_cast<int64_t>(FHeader.PageSize));
  if (got < 0)
    Fail("FilePageCache: Cannot read page " + std::to_string(pageNumber) + " of " +
         FDataFileAndPath + ": " + FDataFileHandle->LastError());
  std::fill(out + got, out + FHeader.PageSize, uint8_t{0});
}

void TGFilePageCache::OpenJournal()
{
  std::string error;
  // Emptied when it exists: entries of an earlier transaction must never be replayed.
  FJournal = FFileSystem->Open(JournalFile(), TGFileOpenMode::Create, &error);
  G_ASSERT_MSG(FJournal != nullptr, "TGFilePageCache.WriteTransactionPage: Failed");
  TGPageCacheHeader h = FHeader;
  if (h.EncryptionType != 0 && FCrypt) h.EncryptionChecksum = FCrypt->Checksum(h);
  std::vector<uint8_t> block = HeaderBlock(h);
  {
    TGBufferStream s(static_cast<void*>(block.data() + kJournalCountOffset), 8);
    TGStreamWriter w(s);
    w.WriteCardinal(0);
    w.WriteCardinal(kJournalMarker);
  }
  if (!FJournal->WriteAt(0, block.data(), kSDBHeaderBlockSize) || !FJournal->Sync())
    Fail("FilePageCache: Cannot write " + JournalFile() + ": " + FJournal->LastError());
  FJournalSize = kSDBHeaderBlockSize;
  FJournalEntries = 0;
  FJournalSyncedEntries = 0;
}

// Makes the appended entries durable, then records their count in the header block: recovery
// replays no more entries than that, so an entry lost or torn by a crash is never applied.
void TGFilePageCache::SyncJournal()
{
  if (!FJournal || FJournalEntries == FJournalSyncedEntries) return;
  uint8_t count[4];
  TGBufferStream s(static_cast<void*>(count), 4);
  TGStreamWriter(s).WriteCardinal(FJournalEntries);
  if (!FJournal->Sync() || !FJournal->WriteAt(kJournalCountOffset, count, 4) || !FJournal->Sync())
    Fail("FilePageCache: Cannot write " + JournalFile() + ": " + FJournal->LastError());
  FJournalSyncedEntries = FJournalEntries;
}

void TGFilePageCache::CloseJournal(bool remove)
{
  FJournal.reset();
  FJournalSize = 0;
  FJournalEntries = 0;
  FJournalSyncedEntries = 0;
  if (!remove || !FFileSystem->Exists(JournalFile())) return;
  if (FFileSystem->Delete(JournalFile())) return;
  // A journal left behind would undo committed work at the next open; an emptied one is
  // discarded there.
  std::unique_ptr<TGSDBFile> emptied =
      FFileSystem->Open(JournalFile(), TGFileOpenMode::Create, nullptr);
  if (!emptied || !emptied->Sync()) Fail("FilePageCache: Cannot delete " + JournalFile());
}

void TGFilePageCache::JournalPage(uint32_t pageNumber)
{
  if (FTransactionPages.contains(pageNumber)) return;
  if (PageOffset(pageNumber) >= FTransactionFileSize) return;
  G_ASSERT_MSG(FJournal != nullptr, "TGFilePageCache.WriteTransactionPage: Failed");
  std::vector<uint8_t> entry(4 + size_t{FHeader.PageSize});
  {
    TGBufferStream s(static_cast<void*>(entry.data()), 4);
    TGStreamWriter(s).WriteCardinal(pageNumber);
  }
  ReadStored(pageNumber, entry.data() + 4);
  if (!FJournal->WriteAt(FJournalSize, entry.data(), static_cast<int64_t>(entry.size())))
    Fail("FilePageCache: Cannot write " + JournalFile() + ": " + FJournal->LastError());
  FJournalSize += static_cast<int64_t>(entry.size());
  ++FJournalEntries;
  FTransactionPages.insert(pageNumber);
}

void TGFilePageCache::BeginTransaction()
{
  G_ASSERT_MSG(FActive, "PageCache is not Active");
  if (FTransactionCounter > 0) {
    ++FTransactionCounter;
    return;
  }
  Flush();
  FTransactionPages.clear();
  if (!ReadOnly()) {
    if (!FDataFileHandle->Sync())
      Fail("FilePageCache: Cannot sync " + FDataFileAndPath + ": " + FDataFileHandle->LastError());
    FTransactionFileSize = FDataFileSize;
  }
  FTransactionCounter = 1;
  if (!ReadOnly()) {
    try {
      OpenJournal();
      WriteHeader();
    } catch (...) {
      FTransactionCounter = 0;
      FJournal.reset();
      FFileSystem->Delete(JournalFile());
      throw;
    }
  }
  DebugCheck();
}

void TGFilePageCache::CommitTransaction()
{
  if (FTransactionCounter == 0) return;
  if (FTransactionCounter > 1) {
    --FTransactionCounter;
    return;
  }
  if (!ReadOnly()) {
    Flush();
    if (!FDataFileHandle->Sync())
      Fail("FilePageCache: Cannot sync " + FDataFileAndPath + ": " + FDataFileHandle->LastError());
    CloseJournal(true); // the commit point
  }
  FTransactionCounter = 0;
  FTransactionPages.clear();
  DebugCheck();
}

void TGFilePageCache::RollbackTransaction()
{
  G_ASSERT_MSG(FActive, "PageCache is not Active");
  FTransactionCounter = 0;
  FTransactionPages.clear();
  FJournal.reset();
  FJournalSize = 0;
  FJournalEntries = 0;
  FJournalSyncedEntries = 0;
  DropCache();
  DropBuffers();
  FBatchWriteCounter = 0;
  FBatchWriteList.clear();
  if (!FCacheReadOnly) Recover();
  LoadHeaderAndMaps();
  DebugCheck();
  Notify(pcnRolledBack);
}

void TGFilePageCache::Recover()
{
  const std::string path = JournalFile();
  if (!FFileSystem->Exists(path)) return;
  DropCache();
  DropBuffers();
  FBatchWriteCounter = 0;
  FBatchWriteList.clear();

  std::string error;
  std::unique_ptr<TGSDBFile> journal = FFileSystem->Open(path, TGFileOpenMode::ReadOnly, &error);
  if (!journal) Fail("FilePageCache: Cannot read " + path + ": " + error);
  const int64_t size = journal->Size();
  std::vector<uint8_t> block(kSDBHeaderBlockSize);
  if (size >= kSDBHeaderBlockSize) {
    if (journal->ReadAt(0, block.data(), kSDBHeaderBlockSize) != kSDBHeaderBlockSize)
      Fail("FilePageCache: Cannot read " + path + ": " + journal->LastError());
    TGPageCacheHeader h = DecodePageCacheHeader(block.data());
    try {
      ValidatePageCacheHeader(h);
    } catch (const EGException& e) {
      Fail("FilePageCache: Damaged journal " + path + ": " + e.what());
    }
    if (const std::string error = PageCountError(h); !error.empty())
      Fail("FilePageCache: Damaged journal " + path + ": " + error);
    // Map pages are rewritten below: with a wrong key nothing is touched.
    CheckKey(h);
    // With the marker, only the entries counted as synced; a journal without it (an older
    // form) has every complete entry replayed.
    TGBufferStream cs(static_cast<const void*>(block.data() + kJournalCountOffset), 8);
    TGStreamReader cr(cs);
    const uint32_t synced = cr.ReadCardinal();
    const bool counted = cr.ReadCardinal() == kJournalMarker;
    // The data file's header block: the header, then zeros.
    std::fill(block.begin() + kSDBHeaderSize, block.end(), uint8_t{0});
    if (!FDataFileHandle->WriteAt(0, block.data(), kSDBHeaderBlockSize))
      Fail("FilePageCache: Cannot write " + FDataFileAndPath + ": " + FDataFileHandle->LastError());
    const int64_t dataSize = FDataFileHandle->Size();
    const int64_t entrySize = 4 + int64_t{h.PageSize};
    std::vector<uint8_t> entry(static_cast<size_t>(entrySize));
    int64_t at = kSDBHeaderBlockSize;
    for (uint32_t i = 0; at + entrySize <= size && (!counted || i < synced); ++i, at += entrySize) {
      if (journal->ReadAt(at, entry.data(), entrySize) != entrySize)
        Fail("FilePageCache: Cannot read " + path + ": " + journal->LastError());
      TGBufferStream s(static_cast<const void*>(entry.data()), 4);
      const uint32_t n = SDBPageNumber(TGStreamReader(s).ReadCardinal());
      const int64_t offset = kSDBHeaderBlockSize + int64_t{n} * h.PageSize;
      // Journaled pages lay inside the file, which never shrinks; anything else is damage.
      if (offset + entrySize - 4 > dataSize) continue;
      if (!FDataFileHandle->WriteAt(offset, entry.data() + 4, entrySize - 4))
        Fail("FilePageCache: Cannot write " + FDataFileAndPath + ": " +
             FDataFileHandle->LastError());
    }
    // No page at or above the restored AllocatedPageCount was allocated when the transaction
    // began, so a map page there (one the transaction started, never journaled) holds only its
    // own bit again.
    const std::vector<uint8_t> emptyMap =
        EmptyMapPage(h.PageSize, h.EncryptionType != 0 ? FCrypt.get() : nullptr);
    for (uint64_t m = (uint64_t{h.AllocatedPageCount} + h.PageMapBits - 1) / h.PageMapBits;
         m * h.PageMapBits <= kSDBPageNumberMask; ++m) {
      const int64_t offset =
          kSDBHeaderBlockSize + static_cast<int64_t>(m * h.PageMapBits) * h.PageSize;
      if (offset >= dataSize) break;
      if (!FDataFileHandle->WriteAt(offset, emptyMap.data(), int64_t{h.PageSize}))
        Fail("FilePageCache: Cannot write " + FDataFileAndPath + ": " +
             FDataFileHandle->LastError());
    }
    if (!FDataFileHandle->Sync())
      Fail("FilePageCache: Cannot sync " + FDataFileAndPath + ": " + FDataFileHandle->LastError());
  }
  // Shorter than its header block: written before any data write, so nothing to undo.
  journal.reset();
  if (!FFileSystem->Delete(path)) Fail("FilePageCache: Cannot delete " + path);
  FDataFileSize = FDataFileHandle->Size();
}

bool TGFilePageCache::JournalIsHot()
{
  const std::string path = JournalFile();
  if (!FFileSystem->Exists(path)) return false;
  std::unique_ptr<TGSDBFile> journal = FFileSystem->Open(path, TGFileOpenMode::ReadOnly, nullptr);
  // One that cannot be read might hold anything.
  return !journal || journal->Size() < 0 || journal->Size() >= kSDBHeaderBlockSize;
}

// ---------------------------------------------------------------------------------------------
// Closing and clearing

void TGFilePageCache::DoClose()
{
  Notify(pcnBeforeClosing);
  Notify(pcnClosing);
  try {
    while (FTransactionCounter > 0) {
      FTransactionCounter = 1;
      CommitTransaction();
    }
    ClearCache(true);
    Trace("Close PageCache");
    if (!ReadOnly() && !FDataFileHandle->Sync())
      Fail("FilePageCache: Cannot sync " + FDataFileAndPath + ": " + FDataFileHandle->LastError());
  } catch (...) {
    // Inactive whatever happened; an open journal stays on disk for the next open to roll back.
    DropCache();
    FJournal.reset();
    FTransactionCounter = 0;
    FTransactionPages.clear();
    FBatchWriteCounter = 0;
    FBatchWriteList.clear();
    FDataFileHandle.reset();
    DropBuffers();
    FActive = false;
    throw;
  }
  FDataFileHandle.reset();
  DropBuffers();
  FActive = false;
}

void TGFilePageCache::Clear()
{
  // The files may be another writer's: its data and its journal must survive.
  if (FReadOnly || (FActive && FCacheReadOnly))
    Fail("FilePageCache: Cannot clear " + FDataFileAndPath + ": the cache is read-only");
  const bool wasOpen = FActive;
  if (FActive) {
    ClearCache(false);
    FModified = false;
    Close();
  }
  // Held while deleting, so that no other writer starts on the file in between.
  std::unique_ptr<TGSDBFile> writer;
  if (!FDataFileAndPath.empty() && FFileSystem->Exists(FDataFileAndPath)) {
    std::string error;
    writer = FFileSystem->Open(FDataFileAndPath, TGFileOpenMode::ReadWrite, &error);
    if (!writer) Fail("FilePageCache: Cannot clear " + FDataFileAndPath + ": " + error);
  }
  for (const std::string& path : {FDataFileAndPath, JournalFile()})
    if (!path.empty() && FFileSystem->Exists(path) && !FFileSystem->Delete(path))
      Fail("FilePageCache: Cannot delete " + path);
  writer.reset();
  if (wasOpen) Open();
}

void TGFilePageCache::SaveToXML(TGXMLAttributes& attributes) const
{
  TGPageCache::SaveToXML(attributes);
  attributes.emplace_back("Filename", FDataFile);
}

void TGFilePageCache::CheckFileInvariants() const
{
  // 3. map pages
  G_ASSERT_MSG(!FMapPageSpace.empty(), "Invariant 3: no map page");
  for (size_t m = 0; m < FMapPageSpace.size(); ++m) {
    const TGCachedPage* map = FindSlot(static_cast<uint32_t>(m * FHeader.PageMapBits));
    if (!map) continue;
    G_ASSERT_MSG(TestBit(*map, 0), "Invariant 3: map page without its own bit");
    G_ASSERT_MSG(MapFreeSpace(*map) == FMapPageSpace[m], "Invariant 3: map free space is stale");
  }
  // 5. write batches
  G_ASSERT_MSG(FBatchWriteCounter == 0 && FBatchWriteList.empty(), "Invariant 5: batch open");
  // 6. buffered copies
  for (size_t i = 0; i < FPageBuffers.size(); ++i) {
    const int64_t n = FPageBuffers[i].PageNumber;
    if (n < 0) continue;
    G_ASSERT_MSG(n != FReadAheadPageID, "Invariant 6: page both spare and read ahead");
    for (size_t j = i + 1; j < FPageBuffers.size(); ++j)
      G_ASSERT_MSG(FPageBuffers[j].PageNumber != n, "Invariant 6: page in two spare buffers");
  }
  // 7. transactions
  if (FTransactionCounter == 0)
    G_ASSERT_MSG(!FJournal, "Invariant 7: journal open outside a transaction");
  else if (!ReadOnly())
    G_ASSERT_MSG(FJournal && FJournalSize >= kSDBHeaderBlockSize &&
                     FJournalSyncedEntries <= FJournalEntries &&
                     FJournalEntries == FTransactionPages.size(),
                 "Invariant 7: transaction without its journal");
}

} // namespace vtr
