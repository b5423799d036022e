#include "globe/GSDBRtree.h"

#include "globe/GStreams.h"

#include <algorithm>

namespace vtr {

// ---------------------------------------------------------------------------------------------
// Node pages

namespace {

// Node pages are read and written in place, field by field (little-endian, the layout at the
// top of the header): a search or insert touches hundreds of entries per page, and going
// through a stream per field cost more than everything else.
constexpr int kNodeHeaderSize = 7;
constexpr int kEntrySize = 20;

uint32_t Get32(const uint8_t* p)
{
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

void Put32(uint8_t* p, uint32_t v)
{
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// Entry i's rectangle and reference.
TGRTreeTupleRec GetEntry(const uint8_t* page, int i)
{
  const uint8_t* e = page + kNodeHeaderSize + kEntrySize * i;
  return {{static_cast<int32_t>(Get32(e)), static_cast<int32_t>(Get32(e + 4)),
           static_cast<int32_t>(Get32(e + 8)), static_cast<int32_t>(Get32(e + 12))},
          Get32(e + 16)};
}

// The node's entry count, refusing one above the capacity (a damaged page).
int NodeCount(const TGPage& page, int capacity)
{
  const uint8_t* d = page.DataPtr();
  const int count = d[5] | d[6] << 8;
  if (count > capacity)
    throw EGException("RTree node page " + std::to_string(SDBPageNumber(page.PageID())) +
                      " is damaged: " + std::to_string(count) + " entries");
  return count;
}

} // namespace

TGRTreeNode TGRTreeNode::Load(TGPageCache& cache, uint32_t pageID, int capacity)
{
  TGRTreeNode node(pageID, capacity);
  TGPage page(cache, pageID);
  const int count = NodeCount(page, capacity);
  const uint8_t* d = page.DataPtr();
  node.FParentID = Get32(d);
  node.FLeaf = d[4] != 0;
  node.FTuples.resize(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i)
    node.FTuples[static_cast<size_t>(i)] = GetEntry(d, i);
  return node;
}

void TGRTreeNode::Store(TGPageCache& cache) const
{
  TGPage page(cache, FPageID);
  const auto count = static_cast<int64_t>(FTuples.size());
  if (kNodeHeaderSize + kEntrySize * count > page.Size()) // refused as the page's stream would
    throw EGException("TGBufferStream.Write: Buffer overflow");
  uint8_t* d = page.DataPtr();
  Put32(d, FParentID);
  d[4] = FLeaf ? 1 : 0;
  d[5] = static_cast<uint8_t>(count);
  d[6] = static_cast<uint8_t>(count >> 8);
  uint8_t* e = d + kNodeHeaderSize;
  for (const TGRTreeTupleRec& t : FTuples) {
    Put32(e, static_cast<uint32_t>(t.MER.iLongX));
    Put32(e + 4, static_cast<uint32_t>(t.MER.iLatY));
    Put32(e + 8, static_cast<uint32_t>(t.MER.iWidthX));
    Put32(e + 12, static_cast<uint32_t>(t.MER.iHeightY));
    Put32(e + 16, t.RefID);
    e += kEntrySize;
  }
  page.SetModified();
}

void TGRTreeNode::SetCount(int count)
{
  G_ASSERT_MSG(count <= FCapacity, "Count exceeds Maximum entries");
  FTuples.resize(static_cast<size_t>(std::max(count, 0)));
}

const TGRTreeTupleRec& TGRTreeNode::GetTuple(int i) const
{
  if (i < 0 || i >= Count())
    GAssertFailed("Bad GetTuble Index " + std::to_string(i), __FILE__, __LINE__);
  return FTuples[static_cast<size_t>(i)];
}

void TGRTreeNode::SetTuple(int i, const TGRTreeTupleRec& t)
{
  if (i < 0 || i >= Count())
    GAssertFailed("Bad GetTuble Index " + std::to_string(i), __FILE__, __LINE__);
  FTuples[static_cast<size_t>(i)] = t;
}

void TGRTreeNode::AddTuple(const TGRTreeTupleRec& t)
{
  G_ASSERT_MSG(Count() < FCapacity, "AddTuple: Failed node full");
  FTuples.push_back(t);
}

void TGRTreeNode::UpdateTuple(int i, const TGRTreeTupleRec& t)
{
  G_ASSERT_MSG(i >= 0 && i < Count(), "UpdateTuple: Invalid Index passed");
  FTuples[static_cast<size_t>(i)] = t;
}

void TGRTreeNode::DeleteTupleAt(int i)
{
  G_ASSERT_MSG(i >= 0 && i < Count(), "DeleteTuple: Bad refID passed");
  FTuples.erase(FTuples.begin() + i);
}

void TGRTreeNode::DeleteTuple(uint32_t refID, const std::optional<TGMER>& mer)
{
  for (int i = 0; i < Count(); ++i) {
    const TGRTreeTupleRec& t = FTuples[static_cast<size_t>(i)];
    if (t.RefID == refID && (!mer || t.MER == *mer)) {
      DeleteTupleAt(i);
      return;
    }
  }
  GAssertFailed("DeleteTuple: Bad refID passed", __FILE__, __LINE__);
}

int TGRTreeNode::IndexOf(uint32_t refID) const
{
  for (int i = 0; i < Count(); ++i)
    if (FTuples[static_cast<size_t>(i)].RefID == refID) return i;
  return -1;
}

TGMER TGRTreeNode::NodeMER() const
{
  TGMER m;
  for (const TGRTreeTupleRec& t : FTuples)
    m = MERUnion(m, t.MER);
  return m;
}

// ---------------------------------------------------------------------------------------------
// Header and bookkeeping

namespace {

// Wider or higher than minSize (minSize 0 takes everything).
bool LargerThan(const TGMER& m, int32_t minSize)
{
  return minSize == 0 || m.iWidthX > minSize || m.iHeightY > minSize;
}

bool IsPoint(const TGMER& m)
{
  return m.iWidthX == 1 && m.iHeightY == 1;
}

// Square degrees: the area the choice of a subtree minimises.
long double AreaDeg2(const TGMER& m)
{
  return (m.iWidthX / static_cast<long double>(GU_DEGREE)) *
         (m.iHeightY / static_cast<long double>(GU_DEGREE));
}

// MERIntersects against one search rectangle, with the test for two rectangles that do not
// run across the meridian (nearly every pair) done here.
class SearchWindow
{
public:
  explicit SearchWindow(const TGMER& m)
      : FMER(m), FRight(MERRight(m)), FTop(MERTop(m)), FPlain(FRight <= GU_180)
  {
  }
  // The four edge tests are combined without branching: each alone is a coin toss for the
  // entries of a node, all four together are rarely met.
  bool Meets(int32_t x, int32_t y, int32_t w, int32_t h) const
  {
    const int64_t right = int64_t{x} + w;
    if (!FPlain || right > GU_180) [[unlikely]]
      return MERIntersects({x, y, w, h}, FMER);
    return (int64_t{y} + h >= FMER.iLatY) & (FTop >= y) & (x <= FRight) & (right >= FMER.iLongX);
  }

private:
  TGMER FMER;
  int64_t FRight;
  int64_t FTop;
  bool FPlain;
};

// Zero extents are raised to 1 GU: an empty rectangle would vanish from every union above it
// and could never be found again.
TGMER StoredMER(const TGMER& m)
{
  return {m.iLongX, m.iLatY, std::max(m.iWidthX, 1), std::max(m.iHeightY, 1)};
}

std::string PageText(uint32_t id)
{
  return std::to_string(SDBPageNumber(id)) + "." + std::to_string(id >> 24);
}

} // namespace

void TGRTreeIndex::Damaged(const std::string& what, uint32_t pageID) const
{
  IndexDamaged("RTree", FName, what, pageID);
}

int TGRTreeIndex::NodeCapacity() const
{
  return Cache().Capacities().RTreeNodeCapacity;
}

int TGRTreeIndex::MinFill() const
{
  return Cache().Capacities().RTreeMinFill;
}

void TGRTreeIndex::Create(IGSDBCatalog& sysRoot, const std::string& name, TGStream* header)
{
  FNodeCount = -1;
  TGSDBObject::Create(sysRoot, name, header);
  IndexMER();
}

void TGRTreeIndex::ReadHeader(TGStreamReader& reader)
{
  TGRTreeHeader h;
  h.Magic = reader.ReadCardinal();
  G_ASSERT_MSG(h.Magic >= kRTreeMagicNoMER, "RTree Magic Failed");
  h.RootNodeID = reader.ReadCardinal();
  h.PageCount = reader.ReadInteger();
  h.TreeDepth = reader.ReadInteger();
  if (h.Magic >= kRTreeMagic) h.IndexMER = reader.ReadMER();
  if (h.PageCount < 0 || (h.RootNodeID != 0 && (h.TreeDepth < 1 || h.TreeDepth > kMaxIndexDepth)))
    throw EGException("RTree " + FName + " header is damaged: depth " +
                      std::to_string(h.TreeDepth) + ", " + std::to_string(h.PageCount) + " pages");
  FHeader = h;
  FNodeCount = -1;
  FIndexMER = h.IndexMER;
  FIndexMERValid = h.Magic >= kRTreeMagic && !MERIsEmpty(h.IndexMER);
}

void TGRTreeIndex::WriteHeader(TGStreamWriter& writer)
{
  EnsureRoot();
  FHeader.Magic = kRTreeMagic;
  FHeader.IndexMER = IndexMER();
  writer.WriteCardinal(FHeader.Magic);
  writer.WriteCardinal(FHeader.RootNodeID);
  writer.WriteInteger(FHeader.PageCount);
  writer.WriteInteger(FHeader.TreeDepth);
  writer.WriteMER(FHeader.IndexMER);
}

void TGRTreeIndex::SaveToXML(TGXMLAttributes& attributes) const
{
  TGSDBObject::SaveToXML(attributes);
  attributes.emplace_back("PageCount", std::to_string(FHeader.PageCount));
  attributes.emplace_back("Depth", std::to_string(FHeader.TreeDepth));
}

TGRTreeNode TGRTreeIndex::LoadNode(uint32_t pageID) const
{
  return TGRTreeNode::Load(Cache(), pageID, NodeCapacity());
}

TGRTreeNode TGRTreeIndex::VisitNode(uint32_t pageID, int level, Visited& visited) const
{
  CheckIndexPage(Cache(), "RTree", FName, pageID, level, FHeader.TreeDepth, visited);
  TGRTreeNode node = LoadNode(pageID);
  if (node.LeafNode() != (level == FHeader.TreeDepth)) Damaged("a leaf off the leaf level", pageID);
  return node;
}

TGRTreeNode TGRTreeIndex::LoadParent(const TGRTreeNode& node) const
{
  const uint32_t n = SDBPageNumber(node.ParentID());
  if (n == 0 || Cache().IsMapPage(n)) Damaged("a bad parent reference", node.PageID());
  return LoadNode(node.ParentID());
}

TGRTreeNode TGRTreeIndex::NewNode(bool leaf)
{
  TGRTreeNode node(Cache().NewPage(), NodeCapacity());
  node.SetLeafNode(leaf);
  node.Store(Cache());
  ++FHeader.PageCount;
  FModified = true;
  return node;
}

void TGRTreeIndex::EnsureRoot()
{
  if (FHeader.RootNodeID != 0) return;
  FHeader.RootNodeID = NewNode(true).PageID();
  FHeader.TreeDepth = 1;
  FNodeCount = 0;
}

void TGRTreeIndex::SetParent(uint32_t childID, uint32_t parentID)
{
  TGPage page(Cache(), childID);
  TGBufferStream s(static_cast<void*>(page.DataPtr()), 4);
  TGStreamWriter(s).WriteCardinal(parentID);
  page.SetModified();
}

int TGRTreeIndex::Count()
{
  if (FHeader.RootNodeID == 0) return 0;
  if (FNodeCount < 0) {
    Visited visited;
    FNodeCount = CountEntries(FHeader.RootNodeID, 1, visited);
  }
  return FNodeCount;
}

int TGRTreeIndex::CountEntries(uint32_t pageID, int level, Visited& visited) const
{
  const TGRTreeNode node = VisitNode(pageID, level, visited);
  if (node.LeafNode()) return node.Count();
  int count = 0;
  for (const TGRTreeTupleRec& t : node.Tuples())
    count += CountEntries(t.RefID, level + 1, visited);
  return count;
}

TGMER TGRTreeIndex::IndexMER()
{
  if (!FIndexMERValid && FHeader.RootNodeID != 0) {
    Visited visited;
    FIndexMER = VisitNode(FHeader.RootNodeID, 1, visited).NodeMER();
    FIndexMERValid = true;
    Count();
  }
  return FIndexMER;
}

// ---------------------------------------------------------------------------------------------
// Insert

TGRTreeNode TGRTreeIndex::ChooseLeaf(const TGMER& mer)
{
  Visited visited;
  int level = 1;
  TGRTreeNode node = VisitNode(FHeader.RootNodeID, level, visited);
  while (!node.LeafNode()) {
    G_ASSERT_MSG(node.Count() > 0, "ChooseLeaf: Node has no entries");
    int best = 0;
    long double bestArea = 0;
    for (int i = 0; i < node.Count(); ++i) {
      const long double area = AreaDeg2(MERUnion(mer, node.GetTuple(i).MER));
      if (i == 0 || area < bestArea) {
        best = i;
        bestArea = area;
      }
    }
    node = VisitNode(node.GetTuple(best).RefID, ++level, visited);
  }
  return node;
}

void TGRTreeIndex::Insert(const TGMER& mer, uint32_t objID)
{
  FIndexMERValid = false;
  EnsureRoot();
  InsertEntry({StoredMER(mer), objID});
  if (FNodeCount >= 0) ++FNodeCount;
  FModified = true;
}

void TGRTreeIndex::InsertEntry(const TGRTreeTupleRec& entry)
{
  TGRTreeNode leaf = ChooseLeaf(entry.MER);
  std::optional<TGRTreeNode> sibling;
  if (leaf.Count() < NodeCapacity()) {
    leaf.AddTuple(entry);
    leaf.Store(Cache());
  } else {
    sibling = Split(leaf, entry);
  }
  AdjustTree(std::move(leaf), std::move(sibling));
}

TGRTreeNode TGRTreeIndex::Split(TGRTreeNode& node, const TGRTreeTupleRec& extra)
{
  std::vector<TGRTreeTupleRec> all = node.Tuples();
  all.push_back(extra);
  const size_t n = all.size();

  // Group starters: the highest top edge and, of the others, the lowest bottom edge; the
  // greatest left edge and, of the others, the smallest right edge. Ties keep the first.
  size_t topMost = 0, leftMost = 0;
  for (size_t i = 1; i < n; ++i) {
    if (MERTop(all[i].MER) > MERTop(all[topMost].MER)) topMost = i;
    if (all[i].MER.iLongX > all[leftMost].MER.iLongX) leftMost = i;
  }
  size_t bottomMost = topMost == 0 ? 1 : 0;
  size_t rightMost = leftMost == 0 ? 1 : 0;
  for (size_t i = 0; i < n; ++i) {
    if (i != topMost && all[i].MER.iLatY < all[bottomMost].MER.iLatY) bottomMost = i;
    if (i != leftMost && MERRight(all[i].MER) < MERRight(all[rightMost].MER)) rightMost = i;
  }
  G_ASSERT(bottomMost != topMost && rightMost != leftMost);

  // width(A) / height(R) >= height(B') / width(R), multiplied out so flat nodes cannot divide
  // by zero.
  const TGMER r = node.NodeMER();
  const bool byLatitude = static_cast<long double>(all[topMost].MER.iWidthX) * r.iWidthX >=
                          static_cast<long double>(all[rightMost].MER.iHeightY) * r.iHeightY;
  const size_t keptFirst = byLatitude ? topMost : leftMost;
  const size_t newFirst = byLatitude ? bottomMost : rightMost;

  TGRTreeNode sibling = NewNode(node.LeafNode());
  sibling.SetParentID(node.ParentID());
  node.SetCount(0);
  node.AddTuple(all[keptFirst]);
  sibling.AddTuple(all[newFirst]);
  for (size_t i = 0; i < n; ++i) {
    if (i == keptFirst || i == newFirst) continue;
    (i % 2 == 1 ? sibling : node).AddTuple(all[i]);
  }
  node.Store(Cache());
  sibling.Store(Cache());
  if (!sibling.LeafNode())
    for (const TGRTreeTupleRec& t : sibling.Tuples())
      SetParent(t.RefID, sibling.PageID());
  return sibling;
}

void TGRTreeIndex::AdjustTree(TGRTreeNode node, std::optional<TGRTreeNode> newNode)
{
  const int capacity = NodeCapacity();
  int steps = 0;
  while (node.PageID() != FHeader.RootNodeID) {
    if (++steps >= FHeader.TreeDepth) Damaged("a parent chain longer than the tree", node.PageID());
    TGRTreeNode parent = LoadParent(node);
    parent.SetLeafNode(false);
    const int i = parent.IndexOf(node.PageID());
    if (i < 0)
      GAssertFailed("AdjustTree: Cannot find node in Parent " + PageText(node.PageID()), __FILE__,
                    __LINE__);
    parent.UpdateTuple(i, {node.NodeMER(), node.PageID()});
    if (newNode) {
      const TGRTreeTupleRec entry{newNode->NodeMER(), newNode->PageID()};
      if (parent.Count() < capacity) {
        parent.AddTuple(entry);
        parent.Store(Cache());
        SetParent(newNode->PageID(), parent.PageID());
        newNode.reset();
      } else {
        newNode = Split(parent, entry);
      }
    } else {
      parent.Store(Cache());
    }
    node = std::move(parent);
  }
  if (newNode) {
    // The split reached the root: the tree grows by one level.
    TGRTreeNode root = NewNode(false);
    root.AddTuple({node.NodeMER(), node.PageID()});
    root.AddTuple({newNode->NodeMER(), newNode->PageID()});
    root.Store(Cache());
    SetParent(node.PageID(), root.PageID());
    SetParent(newNode->PageID(), root.PageID());
    FHeader.RootNodeID = root.PageID();
    ++FHeader.TreeDepth;
    FModified = true;
  }
}

// ---------------------------------------------------------------------------------------------
// Delete

std::optional<uint32_t> TGRTreeIndex::FindLeaf(uint32_t pageID, int level, const TGMER& mer,
                                               uint32_t objID, Visited& visited)
{
  const TGRTreeNode node = VisitNode(pageID, level, visited);
  for (const TGRTreeTupleRec& t : node.Tuples()) {
    if (node.LeafNode()) {
      if (t.RefID == objID && t.MER == mer) return pageID;
    } else if (MERIntersects(t.MER, mer)) {
      if (auto found = FindLeaf(t.RefID, level + 1, mer, objID, visited)) return found;
    }
  }
  return std::nullopt;
}

bool TGRTreeIndex::Delete(const TGMER& rect, uint32_t objID)
{
  if (FHeader.RootNodeID == 0) return false;
  const TGMER mer = StoredMER(rect);
  FIndexMERValid = false;
  Visited visited;
  const std::optional<uint32_t> leafID = FindLeaf(FHeader.RootNodeID, 1, mer, objID, visited);
  if (!leafID) return false;
  TGRTreeNode leaf = LoadNode(*leafID);
  leaf.DeleteTuple(objID, mer);
  leaf.Store(Cache());
  if (FNodeCount > 0) --FNodeCount;
  CondenseTree(std::move(leaf));
  FModified = true;
  return true;
}

void TGRTreeIndex::CondenseTree(TGRTreeNode node)
{
  // Underfull nodes on the way up leave their parents; their entries go in again afterwards.
  std::vector<std::pair<uint32_t, int>> removed; // page, levels of its subtree
  int levels = 1;
  while (node.PageID() != FHeader.RootNodeID) {
    if (levels >= FHeader.TreeDepth) Damaged("a parent chain longer than the tree", node.PageID());
    TGRTreeNode parent = LoadParent(node);
    const int i = parent.IndexOf(node.PageID());
    if (i < 0)
      GAssertFailed("CondenseTree: Cannot find node in Parent " + PageText(node.PageID()), __FILE__,
                    __LINE__);
    if (node.Count() < MinFill()) {
      parent.DeleteTupleAt(i);
      removed.emplace_back(node.PageID(), levels);
    } else {
      parent.UpdateTuple(i, {node.NodeMER(), node.PageID()});
    }
    parent.Store(Cache());
    node = std::move(parent);
    ++levels;
  }

  std::vector<TGRTreeTupleRec> orphans;
  for (const auto& [pageID, below] : removed) {
    Visited visited;
    CollectAndDelete(pageID, below, orphans, visited);
  }
  // An inner root left without entries is an empty leaf again.
  if (!node.LeafNode() && node.Count() == 0) {
    node.SetLeafNode(true);
    node.Store(Cache());
    FHeader.TreeDepth = 1;
  }
  for (const TGRTreeTupleRec& t : orphans)
    InsertEntry(t);

  // An inner root with a single child hands the root over to it.
  while (FHeader.TreeDepth > 1) {
    const TGRTreeNode root = LoadNode(FHeader.RootNodeID);
    if (root.LeafNode() || root.Count() != 1) break;
    const uint32_t child = root.GetTuple(0).RefID;
    Cache().DeletePage(root.PageID());
    --FHeader.PageCount;
    FHeader.RootNodeID = child;
    --FHeader.TreeDepth;
    SetParent(child, 0);
  }
  FModified = true;
}

void TGRTreeIndex::CollectAndDelete(uint32_t pageID, int levelsBelow,
                                    std::vector<TGRTreeTupleRec>& entries, Visited& visited)
{
  CheckIndexPage(Cache(), "RTree", FName, pageID, 1, 1, visited);
  const TGRTreeNode node = LoadNode(pageID);
  if (node.LeafNode() != (levelsBelow == 1)) Damaged("a leaf off the leaf level", pageID);
  if (node.LeafNode())
    entries.insert(entries.end(), node.Tuples().begin(), node.Tuples().end());
  else
    for (const TGRTreeTupleRec& t : node.Tuples())
      CollectAndDelete(t.RefID, levelsBelow - 1, entries, visited);
  Cache().DeletePage(pageID);
  --FHeader.PageCount;
}

// ---------------------------------------------------------------------------------------------
// Search, Clear, integrity

void TGRTreeIndex::Search(const TGMER& searchMER, int32_t minSize,
                          std::vector<uint32_t>& resultList)
{
  resultList.clear();
  Search(searchMER, minSize, [&resultList](uint32_t rowID, bool&) { resultList.push_back(rowID); });
}

void TGRTreeIndex::Search(const TGMER& searchMER, int32_t minSize,
                          const TGSpatialSearchCallback& callback)
{
  FAbortSearch = false;
  if (FHeader.RootNodeID == 0) return;
  minSize = std::max(minSize, 0);
  // No shortcut on an index smaller than minSize: it may still hold points, which are always
  // found.
  const TGMER index = IndexMER();
  if (!MERIsEmpty(index) && !MERIntersects(searchMER, index)) return;
  Visited visited;
  SearchNode(FHeader.RootNodeID, 1, searchMER, minSize, callback, visited);
}

bool TGRTreeIndex::SearchNode(uint32_t pageID, int level, const TGMER& searchMER, int32_t minSize,
                              const TGSpatialSearchCallback& callback, Visited& visited)
{
  // The page is scanned in place for the entries that qualify; the callbacks and the walks
  // below run after it is released, on that list, as if on a copy of the node.
  CheckIndexPage(Cache(), "RTree", FName, pageID, level, FHeader.TreeDepth, visited);
  std::vector<uint32_t> hits;
  bool leaf = false;
  {
    TGPage page(Cache(), pageID);
    const int count = NodeCount(page, NodeCapacity());
    const uint8_t* d = page.DataPtr();
    leaf = d[4] != 0;
    if (leaf != (level == FHeader.TreeDepth)) Damaged("a leaf off the leaf level", pageID);
    const SearchWindow window(searchMER);
    const uint8_t* e = d + kNodeHeaderSize;
    for (int i = 0; i < count; ++i, e += kEntrySize) {
      const auto x = static_cast<int32_t>(Get32(e)), y = static_cast<int32_t>(Get32(e + 4));
      const auto w = static_cast<int32_t>(Get32(e + 8)), h = static_cast<int32_t>(Get32(e + 12));
      if (!window.Meets(x, y, w, h)) continue;
      if (leaf && !LargerThan({x, y, w, h}, minSize) && !IsPoint({x, y, w, h})) continue;
      hits.push_back(Get32(e + 16));
    }
  }
  for (const uint32_t ref : hits) {
    if (leaf) {
      callback(ref, FAbortSearch);
      if (FAbortSearch) return true;
    } else if (SearchNode(ref, level + 1, searchMER, minSize, callback, visited)) {
      // A subtree not larger than minSize is still walked: it may hold points.
      return true;
    }
  }
  return false;
}

void TGRTreeIndex::Clear()
{
  if (FHeader.RootNodeID != 0) {
    Visited visited;
    DeleteSubtree(FHeader.RootNodeID, 1, visited);
  }
  FHeader.RootNodeID = 0;
  FHeader.PageCount = 0;
  FHeader.TreeDepth = 1;
  EnsureRoot();
  FIndexMER = TGMER{};
  FIndexMERValid = true;
  FModified = true;
}

void TGRTreeIndex::DeleteSubtree(uint32_t pageID, int level, Visited& visited)
{
  const TGRTreeNode node = VisitNode(pageID, level, visited);
  if (!node.LeafNode())
    for (const TGRTreeTupleRec& t : node.Tuples())
      DeleteSubtree(t.RefID, level + 1, visited);
  Cache().DeletePage(pageID);
}

void TGRTreeIndex::CheckIntegrity()
{
  if (FHeader.RootNodeID == 0) {
    if (FHeader.PageCount != 0) Damaged("pages counted without a root", 0);
    return;
  }
  const int capacity = NodeCapacity();
  const int minFill = MinFill();
  Visited visited;
  int nodes = 0;
  int entries = 0;
  std::function<void(uint32_t, int, uint32_t, const TGMER*)> check = [&](uint32_t pageID, int level,
                                                                         uint32_t parent,
                                                                         const TGMER* parentMER) {
    const TGRTreeNode node = VisitNode(pageID, level, visited);
    ++nodes;
    if (node.ParentID() != parent) Damaged("a wrong parent pointer", pageID);
    if (level > 1 && (node.Count() < minFill || node.Count() > capacity))
      Damaged("a node filled outside " + std::to_string(minFill) + ".." + std::to_string(capacity),
              pageID);
    if (level == 1 && !node.LeafNode() && node.Count() < 2)
      Damaged("an inner root with fewer than two entries", pageID);
    if (parentMER && !(node.NodeMER() == *parentMER))
      Damaged("a parent entry that is not its child's rectangle", pageID);
    if (node.LeafNode()) {
      entries += node.Count();
      return;
    }
    for (const TGRTreeTupleRec& t : node.Tuples())
      check(t.RefID, level + 1, pageID, &t.MER);
  };
  check(FHeader.RootNodeID, 1, 0, nullptr);
  if (nodes != FHeader.PageCount)
    Damaged(std::to_string(nodes) + " nodes but " + std::to_string(FHeader.PageCount) +
                " pages counted",
            FHeader.RootNodeID);
  if (FNodeCount >= 0 && FNodeCount != entries)
    Damaged(std::to_string(entries) + " entries but " + std::to_string(FNodeCount) + " counted",
            FHeader.RootNodeID);
}

} // namespace vtr
