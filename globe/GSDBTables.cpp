#include "globe/GSDBTables.h"

#include "base/TextLists.h"
#include "globe/GSDBBTree.h"
#include "globe/GSDBRtree.h"

#include <algorithm>
#include <cstring>

namespace vtr {

namespace {

// Little-endian fields inside a page, through the engine's one coder.
uint8_t GetByte(const uint8_t* p)
{
  TGBufferStream s(p, 1);
  return TGStreamReader(s).ReadByte();
}
uint16_t GetWord(const uint8_t* p)
{
  TGBufferStream s(p, 2);
  return TGStreamReader(s).ReadWord();
}
uint32_t GetCardinal(const uint8_t* p)
{
  TGBufferStream s(p, 4);
  return TGStreamReader(s).ReadCardinal();
}
void PutByte(uint8_t* p, uint8_t v)
{
  TGBufferStream s(p, 1);
  TGStreamWriter(s).WriteByte(v);
}
void PutWord(uint8_t* p, uint16_t v)
{
  TGBufferStream s(p, 2);
  TGStreamWriter(s).WriteWord(v);
}
void PutCardinal(uint8_t* p, uint32_t v)
{
  TGBufferStream s(p, 4);
  TGStreamWriter(s).WriteCardinal(v);
}

// Row first part: 0 flags, 1 paragraphs, 2 length (u32), 6 data.
// Continuation part: 0 flags, 1 paragraphs, 2 data.
void PutPartHead(uint8_t* p, uint8_t flags, int paragraphs)
{
  PutByte(p, flags);
  PutByte(p + 1, static_cast<uint8_t>(paragraphs));
}

} // namespace

std::string SDBRowText(uint32_t rowID)
{
  return std::to_string(SDBPageNumber(rowID)) + "." + std::to_string(SDBRowParagraph(rowID));
}

// ---------------------------------------------------------------------------------------------
// TGDataPage

TGDataPage::TGDataPage(TGPageCache& cache, uint32_t pageID)
    : FPage(cache, pageID), FParagraphSize(FPage.Size() / kDataPageParagraphs)
{
}

// Page header: 0 NextID (u32), 4 PriorID (u32), 8 UsedPara (u16).
uint32_t TGDataPage::NextID()
{
  return GetCardinal(Paragraph(0));
}
uint32_t TGDataPage::PriorID()
{
  return GetCardinal(Paragraph(0) + 4);
}
int TGDataPage::UsedPara()
{
  return GetWord(Paragraph(0) + 8);
}
void TGDataPage::SetNextID(uint32_t id)
{
  PutCardinal(Paragraph(0), id);
  SetModified();
}
void TGDataPage::SetPriorID(uint32_t id)
{
  PutCardinal(Paragraph(0) + 4, id);
  SetModified();
}
void TGDataPage::SetUsedPara(int used)
{
  PutWord(Paragraph(0) + 8, static_cast<uint16_t>(used));
  SetModified();
}

// ---------------------------------------------------------------------------------------------
// TGSDBTable: header

void TGSDBTable::ReadHeader(TGStreamReader& reader)
{
  TGSDBTableHeader h;
  h.Magic = reader.ReadCardinal();
  G_ASSERT_MSG(h.Magic == kSDBTableMagic, "SDBTable Magic Failed");
  h.FirstPageID = reader.ReadCardinal();
  h.LastPageID = reader.ReadCardinal();
  h.PageCount = reader.ReadCardinal();
  h.RowCount = reader.ReadCardinal();
  h.DeletedCount = reader.ReadCardinal();
  const uint8_t classLength = reader.ReadByte();
  char objectClass[kSDBObjectClassSize];
  reader.ReadBuffer(objectClass, kSDBObjectClassSize);
  if (classLength > kSDBObjectClassSize) Damaged("an object class of more than 32 bytes", 0);
  h.ObjectClass.assign(objectClass, classLength);
  if ((h.FirstPageID == 0) != (h.LastPageID == 0) || (h.FirstPageID == 0 && h.PageCount != 0))
    Damaged("a header whose first and last pages disagree", h.FirstPageID);
  if (h.FirstPageID != 0) {
    CheckPageLink(h.FirstPageID, "a first page");
    CheckPageLink(h.LastPageID, "a last page");
  }
  FHeader = h;
}

void TGSDBTable::WriteHeader(TGStreamWriter& writer)
{
  // TGSDBTableHeader, 57 bytes: Magic, FirstPageID, LastPageID, PageCount, RowCount,
  // DeletedCount (u32 each), ObjectClassLength (u8), ObjectClass (32 bytes, zero-padded).
  writer.WriteCardinal(kSDBTableMagic);
  writer.WriteCardinal(FHeader.FirstPageID);
  writer.WriteCardinal(FHeader.LastPageID);
  writer.WriteCardinal(FHeader.PageCount);
  writer.WriteCardinal(FHeader.RowCount);
  writer.WriteCardinal(FHeader.DeletedCount);
  writer.WriteByte(static_cast<uint8_t>(FHeader.ObjectClass.size()));
  char objectClass[kSDBObjectClassSize] = {};
  std::memcpy(objectClass, FHeader.ObjectClass.data(), FHeader.ObjectClass.size());
  writer.WriteBuffer(objectClass, kSDBObjectClassSize);
}

void TGSDBTable::SetObjectClass(const std::string& className)
{
  if (className.size() > kSDBObjectClassSize)
    throw EGException("SDBTable: object class too long: " + className);
  if (className == FHeader.ObjectClass) return;
  FHeader.ObjectClass = className;
  HeaderChanged();
}

void TGSDBTable::SaveToXML(TGXMLAttributes& attributes) const
{
  attributes.emplace_back("PageCount", std::to_string(FHeader.PageCount));
  attributes.emplace_back("RowCount", std::to_string(FHeader.RowCount));
  attributes.emplace_back("DeletedCount", std::to_string(FHeader.DeletedCount));
}

// ---------------------------------------------------------------------------------------------
// TGSDBTable: checks

void TGSDBTable::Damaged(const std::string& what, uint32_t pageID) const
{
  IndexDamaged("SDBTable", FName, what, pageID);
}

void TGSDBTable::CheckPageLink(uint32_t pageID, const char* what) const
{
  const TGPageCache& cache = Cache();
  const uint32_t n = SDBPageNumber(pageID);
  if (pageID != n || n == 0 || cache.IsMapPage(n) || n >= cache.Header().AllocatedPageCount)
    Damaged(std::string(what) + " that is not a data page of the file", pageID);
}

int TGSDBTable::CheckedUsedPara(TGDataPage& page) const
{
  const int used = page.UsedPara();
  if (used < 1 || used > kDataPageParagraphs) Damaged("a page header out of range", page.PageID());
  return used;
}

void TGSDBTable::CheckWritable(const char* operation) const
{
  if (Cache().ReadOnly()) throw EGException(std::string(operation) + ": SDB is ReadOnly");
}

TGSDBTable::RowPlace TGSDBTable::Locate(uint32_t rowID, bool mustBeInUse)
{
  const std::string invalid = "Invalid Item at Page:" + SDBRowText(rowID);
  RowPlace row;
  row.Page = SDBPageNumber(rowID);
  row.Paragraph = SDBRowParagraph(rowID);
  const TGPageCache& cache = Cache();
  if (row.Paragraph < 1 || row.Page == 0 || cache.IsMapPage(row.Page) ||
      row.Page >= cache.Header().AllocatedPageCount)
    throw EGException(invalid);
  TGDataPage page(Cache(), row.Page);
  const int used = CheckedUsedPara(page);
  // The identifier must name a part boundary: walk the parts from the first.
  int p = 1;
  while (p < row.Paragraph && p < used) {
    const int n = GetByte(page.Paragraph(p) + 1);
    if (n == 0) Damaged("a part without paragraphs", row.Page);
    p += n;
  }
  if (p != row.Paragraph || p >= used) throw EGException(invalid);
  const uint8_t* part = page.Paragraph(p);
  row.Flags = GetByte(part);
  row.Paragraphs = GetByte(part + 1);
  G_ASSERT_MSG(row.Paragraphs != 0, invalid);
  if (p + row.Paragraphs > used) Damaged("a part beyond the used paragraphs", row.Page);
  if (mustBeInUse && (row.Flags & rfInUse) == 0) throw EGException(invalid);
  if ((row.Flags & rfInUse) != 0) {
    row.Length = GetCardinal(part + 2);
    const int64_t capacity =
        static_cast<int64_t>(row.Paragraphs) * page.ParagraphSize() - kRowFirstPartHeader;
    const bool endsHere = (row.Flags & rfLastPart) != 0;
    if (endsHere != (row.Length <= capacity))
      Damaged("a row length that does not fit its parts", row.Page);
  }
  return row;
}

void TGSDBTable::ForEachNextPart(
    const RowPlace& row, const std::function<void(TGDataPage&, uint8_t* data, int size)>& visit)
{
  const int p = Cache().Capacities().DataPageFactor;
  const int64_t first = static_cast<int64_t>(row.Paragraphs) * p - kRowFirstPartHeader;
  int64_t remaining = static_cast<int64_t>(row.Length) - std::min<int64_t>(row.Length, first);
  uint32_t pageID = row.Page;
  uint32_t steps = 0;
  while (remaining > 0) {
    uint32_t next = 0;
    {
      TGDataPage current(Cache(), pageID);
      next = current.NextID();
    }
    if (next == 0) Damaged("a row longer than its parts", pageID);
    CheckPageLink(next, "a continuation page");
    if (++steps > FHeader.PageCount) Damaged("a row running past the table's pages", next);
    TGDataPage page(Cache(), next);
    const int used = CheckedUsedPara(page);
    uint8_t* part = page.Paragraph(1);
    const uint8_t flags = GetByte(part);
    const int n = GetByte(part + 1);
    if ((flags & (rfLastPart | rfMoreParts)) == 0 || n == 0 || 1 + n > used)
      Damaged("a missing continuation part", next);
    const int64_t capacity = static_cast<int64_t>(n) * p - kRowNextPartHeader;
    if ((flags & rfLastPart) != 0 && remaining > capacity)
      Damaged("a row longer than its parts", next);
    const int size = static_cast<int>(std::min(remaining, capacity));
    visit(page, part + kRowNextPartHeader, size);
    remaining -= size;
    pageID = next;
  }
}

// ---------------------------------------------------------------------------------------------
// TGSDBTable: rows

uint32_t TGSDBTable::NewTablePage()
{
  TGPageCache& cache = Cache();
  const uint32_t id = cache.NewPage();
  {
    TGDataPage page(cache, id);
    page.SetNextID(0);
    page.SetPriorID(FHeader.LastPageID);
    page.SetUsedPara(1);
  }
  if (FHeader.LastPageID != 0) {
    TGDataPage last(cache, FHeader.LastPageID);
    last.SetNextID(id);
  } else {
    FHeader.FirstPageID = id;
  }
  FHeader.LastPageID = id;
  ++FHeader.PageCount;
  HeaderChanged();
  return id;
}

uint32_t TGSDBTable::AppendStream(TGStream& aStream, bool asObject)
{
  CheckWritable("SDBTable.Append");
  const int64_t size = aStream.Size();
  if (size < 0 || size > int64_t{UINT32_MAX} - kRowFirstPartHeader)
    throw EGException("SDBTable.Append: row too long");
  aStream.SetPosition(0);
  TGPageCache& cache = Cache();
  const int p = cache.Capacities().DataPageFactor;

  uint32_t pageID = FHeader.LastPageID;
  if (pageID == 0) pageID = NewTablePage();
  int used = 0;
  {
    TGDataPage page(cache, pageID);
    used = CheckedUsedPara(page);
  }
  if (used >= kDataPageParagraphs) {
    pageID = NewTablePage();
    used = 1;
  }
  const int64_t wanted = (size + kRowFirstPartHeader) / p + 1;
  const int paragraphs = static_cast<int>(std::min<int64_t>(kDataPageParagraphs - used, wanted));
  const int64_t capacity = static_cast<int64_t>(paragraphs) * p - kRowFirstPartHeader;
  int64_t chunk = std::min(size, capacity);
  const uint32_t rowID = SDBRowID(pageID, used);
  {
    TGDataPage page(cache, pageID);
    uint8_t* part = page.Paragraph(used);
    uint8_t flags = rfInUse;
    if (size <= capacity) flags |= rfLastPart;
    if (asObject) flags |= rfObject;
    PutPartHead(part, flags, paragraphs);
    PutCardinal(part + 2, static_cast<uint32_t>(size));
    if (aStream.Read(part + kRowFirstPartHeader, chunk) != chunk)
      throw EGException("SDBTable.Append: the stream ended early");
    page.SetUsedPara(used + paragraphs);
  }
  int64_t remaining = size - chunk;
  while (remaining > 0) {
    const uint32_t next = NewTablePage();
    const int n = static_cast<int>(
        std::min<int64_t>(kDataPageParagraphs - 1, (remaining + kRowNextPartHeader + p - 1) / p));
    const int64_t partCapacity = static_cast<int64_t>(n) * p - kRowNextPartHeader;
    chunk = std::min(remaining, partCapacity);
    TGDataPage page(cache, next);
    uint8_t* part = page.Paragraph(1);
    PutPartHead(part, remaining > partCapacity ? rfMoreParts : rfLastPart, n);
    if (aStream.Read(part + kRowNextPartHeader, chunk) != chunk)
      throw EGException("SDBTable.Append: the stream ended early");
    page.SetUsedPara(1 + n);
    remaining -= chunk;
  }
  ++FHeader.RowCount;
  HeaderChanged();
  return rowID;
}

uint32_t TGSDBTable::AppendBuffer(const void* buffer, int64_t size, bool asObject)
{
  TGBufferStream s(buffer, size);
  return AppendStream(s, asObject);
}

uint32_t TGSDBTable::AppendString(const std::string& text)
{
  return AppendBuffer(text.data(), static_cast<int64_t>(text.size()));
}

void TGSDBTable::ReadStream(uint32_t rowID, TGStream& aStream)
{
  const RowPlace row = Locate(rowID, true);
  const auto put = [&aStream](const uint8_t* data, int64_t size) {
    if (aStream.Write(data, size) != size) throw EGException("SDBTable.Read: write failed");
  };
  {
    TGDataPage page(Cache(), row.Page);
    const int64_t capacity =
        static_cast<int64_t>(row.Paragraphs) * page.ParagraphSize() - kRowFirstPartHeader;
    put(page.Paragraph(row.Paragraph) + kRowFirstPartHeader,
        std::min<int64_t>(row.Length, capacity));
  }
  ForEachNextPart(row, [&](TGDataPage&, uint8_t* data, int size) { put(data, size); });
}

std::vector<uint8_t> TGSDBTable::ReadBuffer(uint32_t rowID)
{
  TGMemoryStream s;
  ReadStream(rowID, s);
  return s.Bytes();
}

std::string TGSDBTable::ReadString(uint32_t rowID)
{
  const std::vector<uint8_t> bytes = ReadBuffer(rowID);
  return std::string(bytes.begin(), bytes.end());
}

void TGSDBTable::UpdateStream(uint32_t rowID, TGStream& aStream)
{
  CheckWritable("SDBTable.Update");
  const RowPlace row = Locate(rowID, true);
  G_ASSERT_MSG(aStream.Size() == static_cast<int64_t>(row.Length),
               "Update: Length has changed cannot update.");
  aStream.SetPosition(0);
  const auto take = [&aStream](uint8_t* data, int64_t size) {
    if (aStream.Read(data, size) != size)
      throw EGException("SDBTable.Update: the stream ended early");
  };
  {
    TGDataPage page(Cache(), row.Page);
    const int64_t capacity =
        static_cast<int64_t>(row.Paragraphs) * page.ParagraphSize() - kRowFirstPartHeader;
    take(page.Paragraph(row.Paragraph) + kRowFirstPartHeader,
         std::min<int64_t>(row.Length, capacity));
    page.SetModified();
  }
  ForEachNextPart(row, [&](TGDataPage& page, uint8_t* data, int size) {
    take(data, size);
    page.SetModified();
  });
}

void TGSDBTable::UpdateBuffer(uint32_t rowID, const void* buffer, int64_t size)
{
  TGBufferStream s(buffer, size);
  UpdateStream(rowID, s);
}

void TGSDBTable::DeleteRow(uint32_t rowID)
{
  CheckWritable("SDBTable.DeleteRow");
  const RowPlace row = Locate(rowID, true);
  ForEachNextPart(row, [](TGDataPage& page, uint8_t* data, int) {
    PutByte(data - kRowNextPartHeader, 0);
    page.SetModified();
  });
  {
    TGDataPage page(Cache(), row.Page);
    PutByte(page.Paragraph(row.Paragraph), 0);
    page.SetModified();
  }
  --FHeader.RowCount;
  ++FHeader.DeletedCount;
  HeaderChanged();
}

uint32_t TGSDBTable::RowLength(uint32_t rowID)
{
  return Locate(rowID, true).Length;
}

bool TGSDBTable::IsObjectRow(uint32_t rowID)
{
  return (Locate(rowID, true).Flags & rfObject) != 0;
}

uint32_t TGSDBTable::ScanFrom(uint32_t pageID, int paragraph)
{
  uint32_t steps = 0;
  while (pageID != 0) {
    CheckPageLink(pageID, "a page link");
    if (++steps > FHeader.PageCount + 1) Damaged("a cycle in the page chain", pageID);
    TGDataPage page(Cache(), pageID);
    const int used = CheckedUsedPara(page);
    for (int p = paragraph; p < used;) {
      const uint8_t* part = page.Paragraph(p);
      const int n = GetByte(part + 1);
      if (n == 0 || p + n > used) Damaged("a part that does not fit its page", pageID);
      if ((GetByte(part) & rfInUse) != 0) return SDBRowID(pageID, p);
      p += n;
    }
    pageID = page.NextID();
    paragraph = 1;
  }
  return 0;
}

uint32_t TGSDBTable::First()
{
  return FHeader.FirstPageID == 0 ? 0 : ScanFrom(FHeader.FirstPageID, 1);
}

uint32_t TGSDBTable::Next(uint32_t rowID)
{
  if (rowID == 0) return 0;
  // A row deleted during a walk still has its paragraphs, so the walk goes on after it.
  const RowPlace row = Locate(rowID, false);
  return ScanFrom(row.Page, row.Paragraph + row.Paragraphs);
}

void TGSDBTable::Clear()
{
  CheckWritable("SDBTable.Clear");
  TGPageCache& cache = Cache();
  uint32_t pageID = FHeader.FirstPageID;
  uint32_t steps = 0;
  while (pageID != 0) {
    CheckPageLink(pageID, "a page link");
    if (++steps > FHeader.PageCount) Damaged("a cycle in the page chain", pageID);
    uint32_t next = 0;
    {
      TGDataPage page(cache, pageID);
      next = page.NextID();
    }
    cache.DeletePage(pageID);
    pageID = next;
  }
  FHeader.FirstPageID = FHeader.LastPageID = 0;
  FHeader.PageCount = FHeader.RowCount = FHeader.DeletedCount = 0;
  HeaderChanged();
}

void TGSDBTable::CheckIntegrity()
{
  TGPageCache& cache = Cache();
  const int p = cache.Capacities().DataPageFactor;
  uint32_t pages = 0;
  uint32_t rows = 0;
  uint32_t prior = 0;
  int pendingParts = 0; // continuation parts the last row still needs
  int64_t pendingBytes = 0;
  for (uint32_t pageID = FHeader.FirstPageID; pageID != 0;) {
    CheckPageLink(pageID, "a page link");
    if (++pages > FHeader.PageCount) Damaged("more pages than PageCount", pageID);
    TGDataPage page(cache, pageID);
    if (page.PriorID() != prior) Damaged("a wrong prior link", pageID);
    const int used = CheckedUsedPara(page);
    int q = 1;
    while (q < used) {
      const uint8_t* part = page.Paragraph(q);
      const uint8_t flags = GetByte(part);
      const int n = GetByte(part + 1);
      if (n == 0 || q + n > used) Damaged("a part that does not fit its page", pageID);
      if (pendingParts > 0) {
        // The part at paragraph 1 must go on with the row before.
        if (q != 1) Damaged("a row whose continuation is missing", pageID);
        pendingBytes -= static_cast<int64_t>(n) * p - kRowNextPartHeader;
        if ((flags & (rfMoreParts | rfLastPart)) == 0)
          Damaged("a row whose continuation is missing", pageID);
        if ((flags & rfMoreParts) != 0 && pendingBytes <= 0)
          Damaged("a continuation part that claims more parts", pageID);
        if ((flags & rfLastPart) != 0 && pendingBytes > 0)
          Damaged("a row longer than its parts", pageID);
        if (pendingBytes <= 0) pendingParts = 0;
      } else if ((flags & rfInUse) != 0) {
        ++rows;
        const uint32_t length = GetCardinal(part + 2);
        const int64_t capacity = static_cast<int64_t>(n) * p - kRowFirstPartHeader;
        if (((flags & rfLastPart) != 0) != (length <= capacity))
          Damaged("a row length that does not fit its parts", pageID);
        if (length > capacity) {
          if (q + n != kDataPageParagraphs)
            Damaged("a continued row that does not fill its page", pageID);
          pendingParts = 1;
          pendingBytes = length - capacity;
        }
      }
      q += n;
    }
    if (q != used) Damaged("parts that do not end at UsedPara", pageID);
    if (pendingParts > 0 && page.NextID() == 0) Damaged("a row longer than its parts", pageID);
    prior = pageID;
    pageID = page.NextID();
  }
  if (pages != FHeader.PageCount) Damaged("fewer pages than PageCount", prior);
  if (prior != FHeader.LastPageID) Damaged("a last page other than LastPageID", prior);
  if (rows != FHeader.RowCount)
    Damaged("RowCount " + std::to_string(FHeader.RowCount) + " for " + std::to_string(rows) +
                " rows",
            FHeader.FirstPageID);
}

// ---------------------------------------------------------------------------------------------
// TGSDBRootTable

void TGSDBRootTable::OpenRoot(IGSDBCatalog& sysRoot)
{
  TGSDBObject::Create(sysRoot, "Root");
  FModified = false;
  const TGPageCacheHeader& h = Cache().Header();
  FHeader = TGSDBTableHeader{};
  FHeader.ObjectClass = "TGSDBTable";
  if ((h.SysFirstPageID == 0) != (h.SysLastPageID == 0) || h.SysRowCount < 0)
    Damaged("a file header whose system table fields disagree", h.SysFirstPageID);
  if (h.SysFirstPageID == 0) return; // a new file: the first append makes the first page
  CheckPageLink(h.SysFirstPageID, "a first page");
  CheckPageLink(h.SysLastPageID, "a last page");
  FHeader.FirstPageID = h.SysFirstPageID;
  FHeader.LastPageID = h.SysLastPageID;
  FHeader.RowCount = static_cast<uint32_t>(h.SysRowCount);
  // The page count is not stored: count the chain (no longer than the file's pages).
  uint32_t last = 0;
  for (uint32_t pageID = FHeader.FirstPageID; pageID != 0;) {
    CheckPageLink(pageID, "a page link");
    if (++FHeader.PageCount > h.AllocatedPageCount) Damaged("a cycle in the page chain", pageID);
    TGDataPage page(Cache(), pageID);
    CheckedUsedPara(page);
    last = pageID;
    pageID = page.NextID();
  }
  if (last != FHeader.LastPageID) Damaged("a last page other than SysLastPageID", last);
}

void TGSDBRootTable::Flush()
{
  FModified = false; // every change went to the file header at once
}

void TGSDBRootTable::HeaderChanged()
{
  TGPageCache& cache = Cache();
  if (cache.Header().SysFirstPageID != FHeader.FirstPageID)
    cache.SetSysFirstPageID(FHeader.FirstPageID);
  if (cache.SysLastPageID() != FHeader.LastPageID) cache.SetSysLastPageID(FHeader.LastPageID);
  if (cache.SysRowCount() != static_cast<int32_t>(FHeader.RowCount))
    cache.SetSysRowCount(static_cast<int32_t>(FHeader.RowCount));
}

// ---------------------------------------------------------------------------------------------
// Catalog classes

namespace {

// The key index under its other stored class name.
class TGKeyIndexTable : public TGSDBKeyIndexTable
{
public:
  std::string ClassName() const override { return "TGKeyIndex"; }
};

std::vector<TGSDBObjectClass>& ClassList()
{
  static std::vector<TGSDBObjectClass> classes{
      {"TGSDBTable", [] { return std::make_unique<TGSDBTable>(); }},
      {"TGRTreeIndex", [] { return std::make_unique<TGRTreeIndex>(); }},
      {"TGBTreeIndex", [] { return std::make_unique<TGBTreeIndex>(); }},
      {"TGSDBKeyIndex", [] { return std::make_unique<TGSDBKeyIndexTable>(); }},
      {"TGKeyIndex", [] { return std::make_unique<TGKeyIndexTable>(); }},
  };
  return classes;
}

const TGSDBObjectClass* FindClass(const std::string& className)
{
  for (const TGSDBObjectClass& c : ClassList())
    if (SameText(c.ClassName, className)) return &c;
  return nullptr;
}

} // namespace

const std::vector<TGSDBObjectClass>& SDBObjectClasses()
{
  return ClassList();
}

void RegisterSDBObjectClass(const std::string& className, TGSDBObjectFactory factory)
{
  for (TGSDBObjectClass& c : ClassList())
    if (SameText(c.ClassName, className)) {
      c.Create = std::move(factory);
      return;
    }
  ClassList().push_back({className, std::move(factory)});
}

bool TGSDBNameLess::operator()(const std::string& a, const std::string& b) const
{
  return LowerCase(a) < LowerCase(b);
}

// ---------------------------------------------------------------------------------------------
// TGSDBSysRoot

TGSDBSysRoot::TGSDBSysRoot(TGPageCache& cache) : FCache(&cache)
{
  FCache->Subscribe(this);
}

TGSDBSysRoot::~TGSDBSysRoot()
{
  FCache->UnSubscribe(this);
}

void TGSDBSysRoot::Reset()
{
  FObjectTables.clear();
  FRootTable.reset();
}

void TGSDBSysRoot::PageCacheNotification(TGPageCache&, TGPageCacheNotification code)
{
  switch (code) {
  case pcnNewFile:
    Reset();
    for (const TGSDBObjectClass& c : SDBObjectClasses())
      ObjectTable(c.ClassName);
    break;
  case pcnOpened:
  case pcnRolledBack:
    // Whatever was read before may no longer be what the file holds.
    Reset();
    break;
  case pcnBeforeClosing:
  case pcnClosing:
    if (FCache->Active() && !FCache->ReadOnly()) Flush();
    break;
  }
}

TGSDBTable& TGSDBSysRoot::RootTable()
{
  if (!FRootTable) {
    auto root = std::make_unique<TGSDBRootTable>();
    root->OpenRoot(*this);
    FRootTable = std::move(root);
  }
  return *FRootTable;
}

TGSDBSysRoot::CatalogRow TGSDBSysRoot::ReadCatalogRow(TGSDBTable& table, uint32_t rowID)
{
  const std::vector<uint8_t> bytes = table.ReadBuffer(rowID);
  const auto zero = std::find(bytes.begin(), bytes.end(), uint8_t{0});
  if (zero == bytes.end())
    throw EGException("SDB catalog: damaged row " + SDBRowText(rowID) + " in " + table.Name());
  CatalogRow row;
  row.Name.assign(bytes.begin(), zero);
  row.Header.assign(zero + 1, bytes.end());
  return row;
}

bool TGSDBSysRoot::IsObjectTable(const TGSDBObject& obj) const
{
  return std::any_of(FObjectTables.begin(), FObjectTables.end(),
                     [&obj](const auto& entry) { return entry.second.get() == &obj; });
}

TGSDBTable& TGSDBSysRoot::ObjectTable(const std::string& className)
{
  return *FindObjectTable(className, true);
}

TGSDBTable* TGSDBSysRoot::FindObjectTable(const std::string& className, bool create)
{
  if (auto it = FObjectTables.find(className); it != FObjectTables.end()) return it->second.get();
  TGSDBTable& root = RootTable();
  for (uint32_t row = root.First(); row != 0; row = root.Next(row)) {
    CatalogRow entry = ReadCatalogRow(root, row);
    if (!SameText(entry.Name, className)) continue;
    if (entry.Header.size() < static_cast<size_t>(kSDBTableHeaderSize))
      throw EGException("SDB catalog: damaged object table " + entry.Name);
    auto table = std::make_unique<TGSDBTable>();
    TGMemoryStream header(std::move(entry.Header));
    table->Create(*this, entry.Name, &header);
    table->SetRootID(row);
    return FObjectTables.emplace(className, std::move(table)).first->second.get();
  }
  if (!create) return nullptr;
  auto table = std::make_unique<TGSDBTable>();
  table->Create(*this, className);
  table->SetObjectClass(className);
  TGSDBTable& result = *FObjectTables.emplace(className, std::move(table)).first->second;
  try {
    SaveObject(result);
  } catch (...) {
    FObjectTables.erase(className);
    throw;
  }
  result.SetModified(false);
  return &result;
}

std::unique_ptr<TGSDBObject> TGSDBSysRoot::MakeObject(const std::string& className,
                                                      const std::string& name,
                                                      const CatalogRow& row, uint32_t rowID)
{
  const TGSDBObjectClass* c = FindClass(className);
  if (!c) return nullptr;
  std::unique_ptr<TGSDBObject> obj = c->Create();
  if (row.Header.size() < static_cast<size_t>(obj->HeaderSize()))
    throw EGException("SDB catalog: damaged header of " + className + " " + name);
  TGMemoryStream header(row.Header);
  obj->Create(*this, name, &header);
  obj->SetRootID(rowID);
  return obj;
}

std::unique_ptr<TGSDBObject> TGSDBSysRoot::CreateObjectByName(const std::string& className,
                                                              const std::string& name)
{
  TGSDBTable* table = FindClass(className) ? FindObjectTable(className, false) : nullptr;
  if (!table) return nullptr;
  for (uint32_t row = table->First(); row != 0; row = table->Next(row)) {
    const CatalogRow entry = ReadCatalogRow(*table, row);
    if (SameText(entry.Name, name)) return MakeObject(className, entry.Name, entry, row);
  }
  return nullptr;
}

std::unique_ptr<TGSDBObject> TGSDBSysRoot::CreateObject(const std::string& className,
                                                        uint32_t rowID)
{
  TGSDBTable* table = FindClass(className) ? FindObjectTable(className, false) : nullptr;
  if (!table) return nullptr;
  const CatalogRow entry = ReadCatalogRow(*table, rowID);
  return MakeObject(className, entry.Name, entry, rowID);
}

void TGSDBSysRoot::SaveObject(TGSDBObject& obj)
{
  G_ASSERT_MSG(!obj.Name().empty(), "SaveObject: SDBObject name not set");
  if (&obj == FRootTable.get()) {
    FRootTable->Flush();
    return;
  }
  if (obj.Name().find('\0') != std::string::npos)
    throw EGException("SaveObject: SDBObject name holds a zero byte");
  TGSDBTable& table = IsObjectTable(obj) ? RootTable() : ObjectTable(obj.ClassName());
  // Catalog row: the name, a zero byte, then the object's header.
  TGMemoryStream row;
  TGStreamWriter writer(row);
  writer.WriteBuffer(obj.Name().data(), static_cast<int64_t>(obj.Name().size()));
  writer.WriteByte(0);
  obj.WriteHeader(writer);
  if (obj.RootID() != 0 && table.RowLength(obj.RootID()) == static_cast<uint32_t>(row.Size())) {
    table.UpdateStream(obj.RootID(), row);
  } else {
    if (obj.RootID() != 0) table.DeleteRow(obj.RootID());
    obj.SetRootID(table.AppendStream(row, true));
  }
  obj.SetModified(false);
}

void TGSDBSysRoot::DeleteObject(TGSDBObject& obj)
{
  obj.Clear();
  if (obj.RootID() != 0) {
    TGSDBTable& table = IsObjectTable(obj) ? RootTable() : ObjectTable(obj.ClassName());
    table.DeleteRow(obj.RootID());
    obj.SetRootID(0);
  }
  obj.SetModified(false);
}

void TGSDBSysRoot::Flush()
{
  if (!FCache->Active()) return;
  for (auto& entry : FObjectTables)
    entry.second->Flush();
  if (FRootTable) FRootTable->Flush();
  FCache->Flush();
}

void TGSDBSysRoot::CheckIntegrity()
{
  TGSDBTable& root = RootTable();
  root.CheckIntegrity();
  for (uint32_t row = root.First(); row != 0; row = root.Next(row)) {
    const CatalogRow entry = ReadCatalogRow(root, row);
    TGSDBTable& table = ObjectTable(entry.Name);
    table.CheckIntegrity();
    for (uint32_t r = table.First(); r != 0; r = table.Next(r))
      ReadCatalogRow(table, r);
  }
}

} // namespace vtr
