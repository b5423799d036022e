#pragma once
// The R-tree of a layer: object rectangles (TGMER, globe units) with their row identifiers,
// kept in node pages of the page cache. Plain C++ (no Qt).
//
// Header (32 bytes, in the index's catalog record; little-endian):
//    0 u32 Magic        52540001 hex (52540000 in older files, which store no IndexMER)
//    4 u32 RootNodeID   page of the root node; 0 = not created yet
//    8 i32 PageCount    node pages in use
//   12 i32 TreeDepth    levels; 1 for a lone leaf root
//   16 TGMER IndexMER   iLongX, iLatY, iWidthX, iHeightY (i32 each): the whole index at the
//                       last header write
//
// Node page: a 7-byte node header, then NodeCount entries of 20 bytes.
//    0 u32 ParentID     page of the parent node; 0 for the root
//    4 u8  LeafNode     1 leaf, 0 inner
//    5 u16 NodeCount
//    7 + 20 i: TGMER MER (16 bytes), u32 RefID (object row in a leaf, child page inside)
// Capacity M = (PageSize - 7) div 20 (409 at 8192 bytes), minimum fill m = M div 4 (102).
//
// Invariants between calls (CheckIntegrity verifies them all):
//   1. Every leaf lies at depth TreeDepth (the root at depth 1); inner nodes above.
//   2. Each inner entry's MER is the union of its child's entries (in entry order) and its
//      RefID is a child whose ParentID is that inner node; the root's ParentID is 0.
//   3. Every node other than the root holds m..M entries; an inner root holds at least 2.
//   4. PageCount is the number of node pages; the cached entry count (when known) is the
//      number of leaf entries.
// Rectangles are stored with width and height raised to at least 1 GU (a zero extent is a
// point), so every union above an entry covers it; Delete raises its rectangle the same way.
// Every walk is bounded: down by TreeDepth and by never visiting a page twice, up by TreeDepth
// steps, so a damaged file (a cycle, a wrong depth) ends in an EGException, never in a hang.

#include "globe/GSDBObject.h"
#include "globe/GSysUtils.h"

#include <functional>
#include <optional>
#include <unordered_set>
#include <vector>

namespace vtr {

inline constexpr uint32_t kRTreeMagic = 0x52540001;
inline constexpr uint32_t kRTreeMagicNoMER = 0x52540000;
inline constexpr int kRTreeHeaderSize = 32;

// Called for each row found; setting abort stops the search.
using TGSpatialSearchCallback = std::function<void(uint32_t rowID, bool& abort)>;

// An index of rectangles.
class TGSpatialIndex : public TGSDBObject
{
public:
  std::string ClassName() const override { return "TGSpatialIndex"; }
  // Entries in the index.
  virtual int Count() = 0;
  // The rectangle of all entries (empty when there are none).
  virtual TGMER IndexMER() = 0;
  virtual void Insert(const TGMER& mer, uint32_t objID) = 0;
  // Removes the entry with this row identifier and exactly this rectangle (its width and height
  // raised to at least 1, as Insert stores it); false when absent.
  virtual bool Delete(const TGMER& mer, uint32_t objID) = 0;
  // Rows whose rectangle meets searchMER (across +-180 as the MER algebra does) and is larger
  // than minSize GU (wider or higher; minSize 0 takes all), and every 1 x 1 point. The list is
  // cleared first.
  virtual void Search(const TGMER& searchMER, int32_t minSize,
                      std::vector<uint32_t>& resultList) = 0;
  virtual void Search(const TGMER& searchMER, int32_t minSize,
                      const TGSpatialSearchCallback& callback) = 0;
};

struct TGRTreeHeader
{
  uint32_t Magic = 0;
  uint32_t RootNodeID = 0;
  int32_t PageCount = 0;
  int32_t TreeDepth = 1;
  TGMER IndexMER;
};

struct TGRTreeTupleRec
{
  TGMER MER;
  uint32_t RefID = 0;
  friend bool operator==(const TGRTreeTupleRec&, const TGRTreeTupleRec&) = default;
};

// One node page, copied out of the cache; Store writes it back. The page is locked only while
// it is read or written.
class TGRTreeNode
{
public:
  TGRTreeNode(uint32_t pageID, int capacity) : FPageID(pageID), FCapacity(capacity) {}

  // Reads a node page; a count above the capacity raises EGException (a damaged page).
  static TGRTreeNode Load(TGPageCache& cache, uint32_t pageID, int capacity);
  void Store(TGPageCache& cache) const;

  uint32_t PageID() const { return FPageID; }
  uint32_t ParentID() const { return FParentID; }
  void SetParentID(uint32_t id) { FParentID = id; }
  bool LeafNode() const { return FLeaf; }
  void SetLeafNode(bool leaf) { FLeaf = leaf; }
  int Count() const { return static_cast<int>(FTuples.size()); }
  // Above the capacity: assertion "Count exceeds Maximum entries".
  void SetCount(int count);
  const std::vector<TGRTreeTupleRec>& Tuples() const { return FTuples; }
  const TGRTreeTupleRec& GetTuple(int i) const;
  // i at or beyond the count: assertion "Bad GetTuble Index " + i.
  void SetTuple(int i, const TGRTreeTupleRec& t);
  // Full: assertion "AddTuple: Failed node full".
  void AddTuple(const TGRTreeTupleRec& t);
  // Outside 0..Count-1: assertion "UpdateTuple: Invalid Index passed".
  void UpdateTuple(int i, const TGRTreeTupleRec& t);
  void DeleteTupleAt(int i);
  // Removes the entry with this RefID (and this MER when given); none is the assertion
  // "DeleteTuple: Bad refID passed".
  void DeleteTuple(uint32_t refID, const std::optional<TGMER>& mer = std::nullopt);
  int IndexOf(uint32_t refID) const;
  // Union of the entries' rectangles, in entry order; empty for no entries.
  TGMER NodeMER() const;

private:
  uint32_t FPageID;
  int FCapacity;
  uint32_t FParentID = 0;
  bool FLeaf = true;
  std::vector<TGRTreeTupleRec> FTuples;
};

class TGRTreeIndex : public TGSpatialIndex
{
public:
  std::string ClassName() const override { return "TGRTreeIndex"; }

  void Create(IGSDBCatalog& sysRoot, const std::string& name, TGStream* header = nullptr) override;
  int HeaderSize() const override { return kRTreeHeaderSize; }
  // Magic below 52540000: assertion "RTree Magic Failed"; a depth outside 1..32: EGException.
  void ReadHeader(TGStreamReader& reader) override;
  // Creates the root leaf when there is none and stores the current index rectangle.
  void WriteHeader(TGStreamWriter& writer) override;
  void Clear() override;
  void SaveToXML(TGXMLAttributes& attributes) const override;

  int Count() override;
  TGMER IndexMER() override;
  void Insert(const TGMER& mer, uint32_t objID) override;
  bool Delete(const TGMER& mer, uint32_t objID) override;
  void Search(const TGMER& searchMER, int32_t minSize, std::vector<uint32_t>& resultList) override;
  void Search(const TGMER& searchMER, int32_t minSize,
              const TGSpatialSearchCallback& callback) override;

  const TGRTreeHeader& Header() const { return FHeader; }
  int TreeDepth() const { return FHeader.TreeDepth; }
  int PageCount() const { return FHeader.PageCount; }
  uint32_t RootNodeID() const { return FHeader.RootNodeID; }
  int NodeCapacity() const;
  int MinFill() const;

  // Walks the whole tree and raises EGException naming the first broken invariant (see the
  // top of this file).
  void CheckIntegrity();

private:
  using Visited = std::unordered_set<uint32_t>;

  TGRTreeNode LoadNode(uint32_t pageID) const;
  // Loads a node met at depth level of a downward walk, refusing damage.
  TGRTreeNode VisitNode(uint32_t pageID, int level, Visited& visited) const;
  void EnsureRoot();
  TGRTreeNode NewNode(bool leaf);
  void SetParent(uint32_t childID, uint32_t parentID);
  TGRTreeNode ChooseLeaf(const TGMER& mer);
  void InsertEntry(const TGRTreeTupleRec& entry);
  TGRTreeNode Split(TGRTreeNode& node, const TGRTreeTupleRec& extra);
  TGRTreeNode LoadParent(const TGRTreeNode& node) const;
  void AdjustTree(TGRTreeNode node, std::optional<TGRTreeNode> newNode);
  std::optional<uint32_t> FindLeaf(uint32_t pageID, int level, const TGMER& mer, uint32_t objID,
                                   Visited& visited);
  void CondenseTree(TGRTreeNode leaf);
  void CollectAndDelete(uint32_t pageID, int levelsBelow, std::vector<TGRTreeTupleRec>& entries,
                        Visited& visited);
  void DeleteSubtree(uint32_t pageID, int level, Visited& visited);
  int CountEntries(uint32_t pageID, int level, Visited& visited) const;
  bool SearchNode(uint32_t pageID, int level, const TGMER& searchMER, int32_t minSize,
                  const TGSpatialSearchCallback& callback, Visited& visited);
  [[noreturn]] void Damaged(const std::string& what, uint32_t pageID) const;

  TGRTreeHeader FHeader;
  int FNodeCount = -1; // leaf entries; -1 until computed
  bool FIndexMERValid = false;
  TGMER FIndexMER;
  bool FAbortSearch = false;
};

} // namespace vtr
