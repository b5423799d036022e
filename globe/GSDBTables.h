#pragma once
// Tables of variable-length rows on data pages, and the catalog of named database objects.
// Plain C++ (no Qt).
//
// Data page (TGDataPage): 256 paragraphs of P = PageSize / 256 bytes (32 at 8192). Paragraph 0
// is the page header (little-endian):
//    0 u32 NextID     next page of the table; 0 = last
//    4 u32 PriorID    previous page; 0 = first
//    8 u16 UsedPara   paragraphs in use, the header's included (1 = empty, 256 = full)
// A row starts at a paragraph boundary; its row identifier is the page number with the
// starting paragraph (1..255) in the high 8 bits. A row's first part:
//    0 u8  flags       1 in use, 2 the row ends in this part, 8 an object record
//    1 u8  paragraphs  taken by this part
//    2 u32 length      of the whole row in bytes
//    6     data        up to paragraphs * P - 6 bytes
// A longer row goes on at paragraph 1 of fresh pages appended to the table, one part a page:
//    0 u8  flags       2 the last part, 4 more parts follow
//    1 u8  paragraphs
//    2     data        up to paragraphs * P - 2 bytes
// A first part takes min(256 - UsedPara, (length + 6) div P + 1) paragraphs; a full page is
// followed by a new one first. Rows never move: deleting a row clears the flags of all its
// parts and keeps their paragraphs (and UsedPara) until the file is compacted.
//
// Table header (57 bytes, in the table's catalog record):
//    0 u32 Magic 54420000 hex   4 u32 FirstPageID   8 u32 LastPageID   12 u32 PageCount
//   16 u32 RowCount            20 u32 DeletedCount  24 u8 ObjectClassLength
//   25 32 bytes ObjectClass (8-bit text, zero-padded): the class whose headers the rows hold
//
// Catalog (TGSDBSysRoot): the root table starts at the file header's SysFirstPageID; its last
// page and row count are the file header's SysLastPageID and SysRowCount. Each root row is a
// class name, a zero byte and the 57-byte header of that class's object table. Each object
// table row is an object name, a zero byte and the object's header. Names compare without
// regard to case; the first row of a name wins.
//
// Everything read from a file is checked before it is used: page links (a page of the file,
// not a map page), UsedPara, paragraph counts, row identifiers (a part boundary of a used
// page) and the chain of continuation parts. Damage raises EGException; the conditions the
// design names as checks ("SDBTable Magic Failed", "Invalid Item at Page:") are assertions.

#include "globe/GSDBKeyIndex.h"
#include "globe/GSDBObject.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vtr {

inline constexpr uint32_t kSDBTableMagic = 0x54420000;
inline constexpr int kSDBTableHeaderSize = 57;
inline constexpr int kSDBObjectClassSize = 32;
inline constexpr int kDataPageParagraphs = 256;
inline constexpr int kRowFirstPartHeader = 6;
inline constexpr int kRowNextPartHeader = 2;

// Row flags.
enum TGSDBRowFlag : uint8_t {
  rfInUse = 1,
  rfLastPart = 2,
  rfMoreParts = 4,
  rfObject = 8,
};

// Row identifier of the row starting at a paragraph of a page.
constexpr uint32_t SDBRowID(uint32_t pageNumber, int paragraph)
{
  return SDBPageNumber(pageNumber) | (static_cast<uint32_t>(paragraph) << 24);
}
constexpr int SDBRowParagraph(uint32_t rowID)
{
  return static_cast<int>(rowID >> 24);
}
// "page.paragraph", as messages name rows.
std::string SDBRowText(uint32_t rowID);

struct TGSDBTableHeader
{
  uint32_t Magic = kSDBTableMagic;
  uint32_t FirstPageID = 0;
  uint32_t LastPageID = 0;
  uint32_t PageCount = 0;
  uint32_t RowCount = 0;
  uint32_t DeletedCount = 0;
  std::string ObjectClass; // at most 32 bytes
};

// One data page held locked while the object lives (borrows the cache).
class TGDataPage
{
public:
  TGDataPage(TGPageCache& cache, uint32_t pageID);

  uint32_t PageID() const { return FPage.PageID(); }
  int ParagraphSize() const { return FParagraphSize; }
  uint32_t NextID();
  uint32_t PriorID();
  // Checked against 1..256 by the table that reads it.
  int UsedPara();
  void SetNextID(uint32_t id);
  void SetPriorID(uint32_t id);
  void SetUsedPara(int used);
  // The bytes of paragraph i onwards (to the end of the page).
  uint8_t* Paragraph(int i) { return FPage.DataPtr() + static_cast<ptrdiff_t>(i) * FParagraphSize; }
  void SetModified() { FPage.SetModified(); }

private:
  TGPage FPage;
  int FParagraphSize;
};

class TGSDBTable : public TGSDBObject, public IGSDBRowTable
{
public:
  TGSDBTable() = default;
  std::string ClassName() const override { return "TGSDBTable"; }

  int HeaderSize() const override { return kSDBTableHeaderSize; }
  // A magic other than 54420000 is the assertion "SDBTable Magic Failed"; page links and an
  // object class longer than 32 bytes raise EGException.
  void ReadHeader(TGStreamReader& reader) override;
  void WriteHeader(TGStreamWriter& writer) override;
  // Deletes all its pages; the table is then empty.
  void Clear() override;
  void SaveToXML(TGXMLAttributes& attributes) const override;

  // The stream's whole content as a new row; returns its identifier. asObject marks an object
  // record. Refused on a read-only database ("SDBTable.Append: SDB is ReadOnly").
  uint32_t AppendStream(TGStream& aStream, bool asObject) override;
  uint32_t AppendBuffer(const void* buffer, int64_t size, bool asObject = false);
  // 8-bit text as it stands.
  uint32_t AppendString(const std::string& text);
  // Writes the row's bytes at the stream's position.
  void ReadStream(uint32_t rowID, TGStream& aStream) override;
  std::vector<uint8_t> ReadBuffer(uint32_t rowID);
  std::string ReadString(uint32_t rowID);
  // In place; the length must not change: assertion "Update: Length has changed cannot
  // update.".
  void UpdateStream(uint32_t rowID, TGStream& aStream) override;
  void UpdateBuffer(uint32_t rowID, const void* buffer, int64_t size);
  // Clears the flags of all the row's parts; RowCount - 1, DeletedCount + 1.
  void DeleteRow(uint32_t rowID) override;
  // Bytes in the row.
  uint32_t RowLength(uint32_t rowID);
  // Whether the row was appended as an object record.
  bool IsObjectRow(uint32_t rowID);
  // Rows in page order, deleted rows and continuation parts skipped; 0 at the end.
  uint32_t First() override;
  uint32_t Next(uint32_t rowID) override;

  const std::string& ObjectClass() const { return FHeader.ObjectClass; }
  // At most 32 bytes ("SDBTable: object class too long" otherwise).
  void SetObjectClass(const std::string& className);
  const TGSDBTableHeader& Header() const { return FHeader; }
  uint32_t RowCount() const { return FHeader.RowCount; }
  uint32_t DeletedCount() const { return FHeader.DeletedCount; }
  uint32_t PageCount() const { return FHeader.PageCount; }
  uint32_t FirstPageID() const { return FHeader.FirstPageID; }
  uint32_t LastPageID() const { return FHeader.LastPageID; }

  // Walks every page and row and raises EGException at the first broken rule: the page chain
  // (links both ways, PageCount, LastPageID), UsedPara, parts that tile each page exactly,
  // every row's continuation parts, RowCount.
  void CheckIntegrity();

protected:
  // Where a row lies, after the checks.
  struct RowPlace
  {
    uint32_t Page = 0;
    int Paragraph = 0;
    int Paragraphs = 0;
    uint8_t Flags = 0;
    uint32_t Length = 0;
  };
  // Header fields changed: the base marks the header for the next Flush.
  virtual void HeaderChanged() { FModified = true; }
  // Refuses a page identifier a sound table cannot hold.
  void CheckPageLink(uint32_t pageID, const char* what) const;
  [[noreturn]] void Damaged(const std::string& what, uint32_t pageID) const;
  int CheckedUsedPara(TGDataPage& page) const;
  RowPlace Locate(uint32_t rowID, bool mustBeInUse);
  // Visits each part of the row after the first: its page, its data and the data's size.
  void ForEachNextPart(const RowPlace& row,
                       const std::function<void(TGDataPage&, uint8_t* data, int size)>& visit);
  uint32_t ScanFrom(uint32_t pageID, int paragraph);
  uint32_t NewTablePage();
  void CheckWritable(const char* operation) const;

  TGSDBTableHeader FHeader;
};

// The root table of the catalog: its first page, last page and row count live in the file
// header. Its page count and deleted count are counted when it is opened.
class TGSDBRootTable : public TGSDBTable
{
public:
  // Opens the root table of the cache's file, allocating its first page in a new file.
  void OpenRoot(IGSDBCatalog& sysRoot);
  // The file header fields instead of a catalog record.
  void Flush() override;

protected:
  void HeaderChanged() override;
};

// A key index stored as a table of the catalog (class name "TGSDBKeyIndex", also read under
// "TGKeyIndex").
class TGSDBKeyIndexTable : public TGSDBTable
{
public:
  TGSDBKeyIndexTable() : FKeys(*this) {}
  std::string ClassName() const override { return "TGSDBKeyIndex"; }
  TGSDBKeyIndex& Keys() { return FKeys; }

private:
  TGSDBKeyIndex FKeys;
};

// The classes of catalog objects, in registration order. Tables, R-trees, B-trees and key
// indexes are there from the start; other units add theirs (RegisterSDBObjectClass replaces an
// entry of the same name in place).
using TGSDBObjectFactory = std::function<std::unique_ptr<TGSDBObject>()>;
struct TGSDBObjectClass
{
  std::string ClassName;
  TGSDBObjectFactory Create;
};
const std::vector<TGSDBObjectClass>& SDBObjectClasses();
void RegisterSDBObjectClass(const std::string& className, TGSDBObjectFactory factory);

// Compares names without regard to letter case (ASCII).
struct TGSDBNameLess
{
  bool operator()(const std::string& a, const std::string& b) const;
};

// The catalog over one page cache (borrowed; it must outlive the catalog). It observes the
// cache: a new file gets the object tables of every registered class; closing flushes; opening
// and a rollback drop what was read before.
class TGSDBSysRoot : public IGSDBCatalog, public TGPageCacheSubscriber
{
public:
  explicit TGSDBSysRoot(TGPageCache& cache);
  ~TGSDBSysRoot() override;
  TGSDBSysRoot(const TGSDBSysRoot&) = delete;
  TGSDBSysRoot& operator=(const TGSDBSysRoot&) = delete;

  TGPageCache& PageCache() override { return *FCache; }
  // Name, zero byte and header: appended when the object has no row yet; rewritten in place
  // when the length is unchanged, else deleted and appended. The root table writes the file
  // header; an object table its root row. A nameless object is the assertion
  // "SaveObject: SDBObject name not set".
  void SaveObject(TGSDBObject& obj) override;

  TGSDBTable& RootTable();
  // The object table of a class, found in the root table or created there.
  TGSDBTable& ObjectTable(const std::string& className);
  // The object table of a class; null when there is none and create is not set.
  TGSDBTable* FindObjectTable(const std::string& className, bool create = false);
  // A new object of the class, bound to this catalog with the header of its row; null when
  // no row has that name or the class is not registered.
  std::unique_ptr<TGSDBObject> CreateObjectByName(const std::string& className,
                                                  const std::string& name);
  std::unique_ptr<TGSDBObject> CreateObject(const std::string& className, uint32_t rowID);
  template <class T>
  std::unique_ptr<T> CreateObjectByNameAs(const std::string& className, const std::string& name)
  {
    return Typed<T>(CreateObjectByName(className, name), className);
  }
  template <class T> std::unique_ptr<T> CreateObjectAs(const std::string& className, uint32_t rowID)
  {
    return Typed<T>(CreateObject(className, rowID), className);
  }
  // Clears the object (its pages) and deletes its row.
  void DeleteObject(TGSDBObject& obj);
  // Flushes the object tables, the root table and the page cache.
  void Flush();

  // Walks the root table and every object table (CheckIntegrity of each) and checks that every
  // catalog row holds a name and a header.
  void CheckIntegrity();

  void PageCacheNotification(TGPageCache& cache, TGPageCacheNotification code) override;

private:
  template <class T>
  static std::unique_ptr<T> Typed(std::unique_ptr<TGSDBObject> obj, const std::string& className)
  {
    if (!obj) return nullptr;
    if (auto* typed = dynamic_cast<T*>(obj.get())) {
      obj.release();
      return std::unique_ptr<T>(typed);
    }
    throw EGException("SDB catalog: " + className + " objects are not of the expected class");
  }
  struct CatalogRow
  {
    std::string Name;
    std::vector<uint8_t> Header;
  };
  CatalogRow ReadCatalogRow(TGSDBTable& table, uint32_t rowID);
  std::unique_ptr<TGSDBObject> MakeObject(const std::string& className, const std::string& name,
                                          const CatalogRow& row, uint32_t rowID);
  bool IsObjectTable(const TGSDBObject& obj) const;
  void Reset();

  TGPageCache* FCache;
  std::unique_ptr<TGSDBRootTable> FRootTable;
  std::map<std::string, std::unique_ptr<TGSDBTable>, TGSDBNameLess> FObjectTables;
};

} // namespace vtr
