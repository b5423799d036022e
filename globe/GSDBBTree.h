#pragma once
// The B-tree of 32-bit keys to 32-bit row identifiers, in pages of the page cache: the classic
// B-tree with a leftmost pointer per page and a right pointer per item. Plain C++ (no Qt).
//
// Header (20 bytes, in the index's catalog record; little-endian):
//    0 u32 Magic 42540000 hex   4 u32 RootNodeID   8 i32 TreeDepth   12 i32 PageCount
//   16 i32 TotalItems
// Page: 0 i32 ItemCount, 4 u32 LeftID (the subtree left of item 1), then items of 12 bytes:
//   u32 RightID (the subtree right of the item; 0 in a leaf), u32 DataRowID, u32 KeyID,
//   sorted by KeyID (unsigned). Capacity 2N = (PageSize - 8) div 12 (682 at 8192), N = 341.
//
// Invariants between calls (CheckIntegrity verifies them all):
//   1. All leaves lie at depth TreeDepth; a leaf's pointers are all 0, an inner page's none.
//   2. Keys rise strictly along the in-order walk.
//   3. Pages other than the root hold N..2N items; an inner root holds at least one.
//   4. PageCount counts the pages, TotalItems the items.
// Walks are bounded by TreeDepth and never visit a page twice, so a damaged file ends in an
// EGException, never in a hang.

#include "globe/GSDBObject.h"

#include <optional>
#include <unordered_set>
#include <vector>

namespace vtr {

inline constexpr uint32_t kBTreeMagic = 0x42540000;
inline constexpr int kBTreeHeaderSize = 20;

struct TGBTreeHeader
{
  uint32_t Magic = 0;
  uint32_t RootNodeID = 0;
  int32_t TreeDepth = 1;
  int32_t PageCount = 0;
  int32_t TotalItems = 0;
};

struct TBTreeItem
{
  uint32_t RightID = 0;
  uint32_t DataRowID = 0;
  uint32_t KeyID = 0;
  friend bool operator==(const TBTreeItem&, const TBTreeItem&) = default;
};

// One page, copied out of the cache; Store writes it back.
struct TGBTreePage
{
  uint32_t PageID = 0;
  uint32_t LeftID = 0;
  std::vector<TBTreeItem> Items;

  int Count() const { return static_cast<int>(Items.size()); }
  // The subtree left of item i (0-based): child 0 is LeftID, child i + 1 item i's RightID.
  uint32_t Child(int i) const
  {
    return i == 0 ? LeftID : Items[static_cast<size_t>(i - 1)].RightID;
  }
  // Position of the first key not below key; found when that key equals it.
  std::pair<int, bool> Find(uint32_t key) const;
};

class TGBTreeIndex : public TGSDBObject
{
public:
  std::string ClassName() const override { return "TGBTreeIndex"; }

  int HeaderSize() const override { return kBTreeHeaderSize; }
  // Magic other than 42540000: assertion "BTree Magic Failed"; a depth outside 1..32:
  // EGException.
  void ReadHeader(TGStreamReader& reader) override;
  // Creates an empty root page when there is none.
  void WriteHeader(TGStreamWriter& writer) override;
  void Clear() override;
  void SaveToXML(TGXMLAttributes& attributes) const override;

  // Adds the key; an existing key is left as it is (false).
  bool Add(uint32_t aKeyID, uint32_t DataID);
  // True when the key was there.
  bool Delete(uint32_t aKeyID);
  bool FindKey(uint32_t aKeyID, TBTreeItem& Item);
  // The key's DataRowID, 0 when absent.
  uint32_t Find(uint32_t aKeyID);

  const TGBTreeHeader& Header() const { return FHeader; }
  int TotalItems() const { return FHeader.TotalItems; }
  int TreeDepth() const { return FHeader.TreeDepth; }
  int PageCount() const { return FHeader.PageCount; }
  uint32_t RootNodeID() const { return FHeader.RootNodeID; }
  // Items as stored in page order, for tests and diagnostics: the keys of one page.
  std::vector<uint32_t> PageKeys(uint32_t pageID) const;

  // Walks the whole tree and raises EGException naming the first broken invariant.
  void CheckIntegrity();

private:
  using Visited = std::unordered_set<uint32_t>;
  // Where a key falls in one page: its position, the item when found, else the subtree to
  // follow (0 in a leaf).
  struct Lookup
  {
    int Pos = 0;
    bool Found = false;
    TBTreeItem Item;
    uint32_t Child = 0;
  };

  int MinFill() const; // N
  int Capacity() const { return 2 * MinFill(); }
  TGBTreePage LoadPage(uint32_t pageID) const;
  void StorePage(const TGBTreePage& page) const;
  TGBTreePage VisitPage(uint32_t pageID, int level, Visited& visited) const;
  Lookup LookupPage(uint32_t pageID, int level, uint32_t key, Visited& visited) const;
  TGBTreePage NewPage();
  void EnsureRoot();
  std::optional<TBTreeItem> InsertInto(uint32_t pageID, int level, uint32_t key, uint32_t data,
                                       bool& added, Visited& visited);
  bool DeleteFrom(uint32_t pageID, int level, uint32_t key, bool& found, Visited& visited);
  bool DeletePredecessor(uint32_t pageID, int level, TGBTreePage& holder, int k, Visited& visited);
  void Underflow(TGBTreePage& parent, int child);
  void DeleteSubtree(uint32_t pageID, int level, Visited& visited);
  [[noreturn]] void Damaged(const std::string& what, uint32_t pageID) const;

  TGBTreeHeader FHeader;
};

} // namespace vtr
