#include "globe/GSDBBTree.h"

#include "globe/GStreams.h"

#include <algorithm>
#include <functional>

namespace vtr {

std::pair<int, bool> TGBTreePage::Find(uint32_t key) const
{
  const auto it =
      std::lower_bound(Items.begin(), Items.end(), key,
                       [](const TBTreeItem& item, uint32_t k) { return item.KeyID < k; });
  const int pos = static_cast<int>(it - Items.begin());
  return {pos, it != Items.end() && it->KeyID == key};
}

// ---------------------------------------------------------------------------------------------
// Pages

void TGBTreeIndex::Damaged(const std::string& what, uint32_t pageID) const
{
  IndexDamaged("BTree", FName, what, pageID);
}

int TGBTreeIndex::MinFill() const
{
  return Cache().Capacities().BTreeMinFill;
}

TGBTreePage TGBTreeIndex::LoadPage(uint32_t pageID) const
{
  TGBTreePage page;
  page.PageID = pageID;
  TGPage p(Cache(), pageID);
  TGBufferStream s(static_cast<const void*>(p.DataPtr()), p.Size());
  TGStreamReader r(s);
  const int32_t count = r.ReadInteger();
  if (count < 0 || count > Capacity())
    Damaged("a page holding " + std::to_string(count) + " items", pageID);
  page.LeftID = r.ReadCardinal();
  page.Items.resize(static_cast<size_t>(count));
  for (TBTreeItem& item : page.Items) {
    item.RightID = r.ReadCardinal();
    item.DataRowID = r.ReadCardinal();
    item.KeyID = r.ReadCardinal();
  }
  return page;
}

void TGBTreeIndex::StorePage(const TGBTreePage& page) const
{
  G_ASSERT_MSG(page.Count() <= Capacity(), "BTree page overfull");
  TGPage p(Cache(), page.PageID);
  TGBufferStream s(static_cast<void*>(p.DataPtr()), p.Size());
  TGStreamWriter w(s);
  w.WriteInteger(page.Count());
  w.WriteCardinal(page.LeftID);
  for (const TBTreeItem& item : page.Items) {
    w.WriteCardinal(item.RightID);
    w.WriteCardinal(item.DataRowID);
    w.WriteCardinal(item.KeyID);
  }
  p.SetModified();
}

TGBTreePage TGBTreeIndex::VisitPage(uint32_t pageID, int level, Visited& visited) const
{
  CheckIndexPage(Cache(), "BTree", FName, pageID, level, FHeader.TreeDepth, visited);
  TGBTreePage page = LoadPage(pageID);
  const bool leaf = level == FHeader.TreeDepth;
  auto bad = [leaf](uint32_t child) { return leaf ? child != 0 : child == 0; };
  bool wrong = bad(page.LeftID);
  for (const TBTreeItem& item : page.Items)
    wrong = wrong || bad(item.RightID);
  if (wrong) Damaged(leaf ? "a leaf with subtrees" : "an inner page without subtrees", pageID);
  return page;
}

TGBTreePage TGBTreeIndex::NewPage()
{
  TGBTreePage page;
  page.PageID = Cache().NewPage();
  StorePage(page);
  ++FHeader.PageCount;
  FModified = true;
  return page;
}

void TGBTreeIndex::EnsureRoot()
{
  if (FHeader.RootNodeID != 0) return;
  FHeader.RootNodeID = NewPage().PageID;
  FHeader.TreeDepth = 1;
}

// ---------------------------------------------------------------------------------------------
// Header

void TGBTreeIndex::ReadHeader(TGStreamReader& reader)
{
  TGBTreeHeader h;
  h.Magic = reader.ReadCardinal();
  G_ASSERT_MSG(h.Magic == kBTreeMagic, "BTree Magic Failed");
  h.RootNodeID = reader.ReadCardinal();
  h.TreeDepth = reader.ReadInteger();
  h.PageCount = reader.ReadInteger();
  h.TotalItems = reader.ReadInteger();
  if (h.PageCount < 0 || h.TotalItems < 0 ||
      (h.RootNodeID != 0 && (h.TreeDepth < 1 || h.TreeDepth > kMaxIndexDepth)))
    throw EGException("BTree " + FName + " header is damaged: depth " +
                      std::to_string(h.TreeDepth) + ", " + std::to_string(h.PageCount) + " pages");
  FHeader = h;
}

void TGBTreeIndex::WriteHeader(TGStreamWriter& writer)
{
  EnsureRoot();
  FHeader.Magic = kBTreeMagic;
  writer.WriteCardinal(FHeader.Magic);
  writer.WriteCardinal(FHeader.RootNodeID);
  writer.WriteInteger(FHeader.TreeDepth);
  writer.WriteInteger(FHeader.PageCount);
  writer.WriteInteger(FHeader.TotalItems);
}

void TGBTreeIndex::SaveToXML(TGXMLAttributes& attributes) const
{
  TGSDBObject::SaveToXML(attributes);
  attributes.emplace_back("PageCount", std::to_string(FHeader.PageCount));
  attributes.emplace_back("Depth", std::to_string(FHeader.TreeDepth));
  attributes.emplace_back("ItemCount", std::to_string(FHeader.TotalItems));
}

// ---------------------------------------------------------------------------------------------
// Find and add

// Lookups search the page bytes in place (about ten keys a page) rather than decode every item.
TGBTreeIndex::Lookup TGBTreeIndex::LookupPage(uint32_t pageID, int level, uint32_t key,
                                              Visited& visited) const
{
  CheckIndexPage(Cache(), "BTree", FName, pageID, level, FHeader.TreeDepth, visited);
  TGPage p(Cache(), pageID);
  TGBufferStream s(static_cast<const void*>(p.DataPtr()), p.Size());
  TGStreamReader r(s);
  const int32_t count = r.ReadInteger();
  if (count < 0 || count > Capacity())
    Damaged("a page holding " + std::to_string(count) + " items", pageID);
  const uint32_t leftID = r.ReadCardinal();
  auto itemAt = [&](int i) {
    s.SetPosition(8 + 12 * int64_t{i});
    TBTreeItem item;
    item.RightID = r.ReadCardinal();
    item.DataRowID = r.ReadCardinal();
    item.KeyID = r.ReadCardinal();
    return item;
  };
  Lookup result;
  int hi = count;
  while (result.Pos < hi) {
    const int mid = (result.Pos + hi) / 2;
    s.SetPosition(8 + 12 * int64_t{mid} + 8);
    if (r.ReadCardinal() < key)
      result.Pos = mid + 1;
    else
      hi = mid;
  }
  if (result.Pos < count) {
    result.Item = itemAt(result.Pos);
    result.Found = result.Item.KeyID == key;
    if (result.Found) return result;
  }
  result.Child = result.Pos == 0 ? leftID : itemAt(result.Pos - 1).RightID;
  const bool leaf = level == FHeader.TreeDepth;
  if (leaf ? result.Child != 0 : result.Child == 0)
    Damaged(leaf ? "a leaf with subtrees" : "an inner page without subtrees", pageID);
  return result;
}

bool TGBTreeIndex::FindKey(uint32_t aKeyID, TBTreeItem& Item)
{
  if (FHeader.RootNodeID == 0) return false;
  Visited visited;
  uint32_t pageID = FHeader.RootNodeID;
  for (int level = 1;; ++level) {
    const Lookup found = LookupPage(pageID, level, aKeyID, visited);
    if (found.Found) {
      Item = found.Item;
      return true;
    }
    if (level == FHeader.TreeDepth) return false;
    pageID = found.Child;
  }
}

uint32_t TGBTreeIndex::Find(uint32_t aKeyID)
{
  TBTreeItem item;
  return FindKey(aKeyID, item) ? item.DataRowID : 0;
}

bool TGBTreeIndex::Add(uint32_t aKeyID, uint32_t DataID)
{
  EnsureRoot();
  bool added = false;
  Visited visited;
  const std::optional<TBTreeItem> up =
      InsertInto(FHeader.RootNodeID, 1, aKeyID, DataID, added, visited);
  if (up) {
    // The root split: a new root holding only the item that moved up.
    TGBTreePage root = NewPage();
    root.LeftID = FHeader.RootNodeID;
    root.Items.push_back(*up);
    StorePage(root);
    FHeader.RootNodeID = root.PageID;
    ++FHeader.TreeDepth;
  }
  if (added) {
    ++FHeader.TotalItems;
    FModified = true;
  }
  return added;
}

std::optional<TBTreeItem> TGBTreeIndex::InsertInto(uint32_t pageID, int level, uint32_t key,
                                                   uint32_t data, bool& added, Visited& visited)
{
  // Decoded only when it takes an item: the leaf, and a parent when a child split.
  const Lookup found = LookupPage(pageID, level, key, visited);
  if (found.Found) return std::nullopt;
  TBTreeItem item{0, data, key};
  if (level < FHeader.TreeDepth) {
    const std::optional<TBTreeItem> up =
        InsertInto(found.Child, level + 1, key, data, added, visited);
    if (!up) return std::nullopt;
    item = *up;
  } else {
    added = true;
  }
  TGBTreePage page = LoadPage(pageID);
  const int pos = found.Pos;
  page.Items.insert(page.Items.begin() + pos, item);
  if (page.Count() <= Capacity()) {
    StorePage(page);
    return std::nullopt;
  }
  // 2N + 1 items: the first N stay, item N + 1 moves up, the new page takes the rest.
  const int n = MinFill();
  TGBTreePage right = NewPage();
  TBTreeItem middle = page.Items[static_cast<size_t>(n)];
  right.LeftID = middle.RightID;
  right.Items.assign(page.Items.begin() + n + 1, page.Items.end());
  page.Items.resize(static_cast<size_t>(n));
  middle.RightID = right.PageID;
  StorePage(page);
  StorePage(right);
  return middle;
}

// ---------------------------------------------------------------------------------------------
// Delete

bool TGBTreeIndex::Delete(uint32_t aKeyID)
{
  if (FHeader.RootNodeID == 0) return false;
  bool found = false;
  Visited visited;
  DeleteFrom(FHeader.RootNodeID, 1, aKeyID, found, visited);
  if (!found) return false;
  --FHeader.TotalItems;
  const TGBTreePage root = LoadPage(FHeader.RootNodeID);
  if (root.Count() == 0 && FHeader.TreeDepth > 1) {
    FHeader.RootNodeID = root.LeftID;
    Cache().DeletePage(root.PageID);
    --FHeader.PageCount;
    --FHeader.TreeDepth;
  }
  FModified = true;
  return true;
}

// Returns whether the page was left with fewer than N items.
bool TGBTreeIndex::DeleteFrom(uint32_t pageID, int level, uint32_t key, bool& found,
                              Visited& visited)
{
  TGBTreePage page = VisitPage(pageID, level, visited);
  const auto [pos, hit] = page.Find(key);
  const bool leaf = level == FHeader.TreeDepth;
  if (hit) {
    found = true;
    if (leaf) {
      page.Items.erase(page.Items.begin() + pos);
    } else if (DeletePredecessor(page.Child(pos), level + 1, page, pos, visited)) {
      Underflow(page, pos);
    }
  } else if (!leaf) {
    if (DeleteFrom(page.Child(pos), level + 1, key, found, visited)) Underflow(page, pos);
  } else {
    return false;
  }
  StorePage(page);
  return page.Count() < MinFill();
}

// Replaces holder's item k by its in-order predecessor, the last item of the rightmost leaf
// below pageID, and removes that item there. Returns whether pageID's page underflowed.
bool TGBTreeIndex::DeletePredecessor(uint32_t pageID, int level, TGBTreePage& holder, int k,
                                     Visited& visited)
{
  TGBTreePage page = VisitPage(pageID, level, visited);
  if (page.Count() == 0) Damaged("an empty page", pageID);
  if (level < FHeader.TreeDepth) {
    if (DeletePredecessor(page.Items.back().RightID, level + 1, holder, k, visited))
      Underflow(page, page.Count());
  } else {
    TBTreeItem last = page.Items.back();
    last.RightID = holder.Items[static_cast<size_t>(k)].RightID;
    holder.Items[static_cast<size_t>(k)] = last;
    page.Items.pop_back();
  }
  StorePage(page);
  return page.Count() < MinFill();
}

// The child at position child of parent has fewer than N items: borrow through the separating
// item from the right neighbour (the left one for the last child) when it has more than N,
// otherwise merge the two with the separator and delete the emptied page.
void TGBTreeIndex::Underflow(TGBTreePage& parent, int child)
{
  const int n = MinFill();
  if (child < parent.Count()) {
    TGBTreePage a = LoadPage(parent.Child(child));
    TGBTreePage b = LoadPage(parent.Child(child + 1));
    const TBTreeItem separator = parent.Items[static_cast<size_t>(child)];
    const int k = (b.Count() - n + 1) / 2;
    a.Items.push_back({b.LeftID, separator.DataRowID, separator.KeyID});
    if (k > 0) {
      a.Items.insert(a.Items.end(), b.Items.begin(), b.Items.begin() + (k - 1));
      TBTreeItem up = b.Items[static_cast<size_t>(k - 1)];
      b.LeftID = up.RightID;
      up.RightID = b.PageID;
      parent.Items[static_cast<size_t>(child)] = up;
      b.Items.erase(b.Items.begin(), b.Items.begin() + k);
      StorePage(a);
      StorePage(b);
    } else {
      a.Items.insert(a.Items.end(), b.Items.begin(), b.Items.end());
      parent.Items.erase(parent.Items.begin() + child);
      StorePage(a);
      Cache().DeletePage(b.PageID);
      --FHeader.PageCount;
    }
  } else {
    TGBTreePage b = LoadPage(parent.Child(child - 1));
    TGBTreePage a = LoadPage(parent.Child(child));
    const TBTreeItem separator = parent.Items[static_cast<size_t>(child - 1)];
    const int k = (b.Count() + 1 - n) / 2;
    if (k > 0) {
      std::vector<TBTreeItem> moved(b.Items.end() - (k - 1), b.Items.end());
      moved.push_back({a.LeftID, separator.DataRowID, separator.KeyID});
      TBTreeItem up = b.Items[static_cast<size_t>(b.Count() - k)];
      a.LeftID = up.RightID;
      up.RightID = a.PageID;
      parent.Items[static_cast<size_t>(child - 1)] = up;
      b.Items.resize(static_cast<size_t>(b.Count() - k));
      a.Items.insert(a.Items.begin(), moved.begin(), moved.end());
      StorePage(a);
      StorePage(b);
    } else {
      b.Items.push_back({a.LeftID, separator.DataRowID, separator.KeyID});
      b.Items.insert(b.Items.end(), a.Items.begin(), a.Items.end());
      parent.Items.erase(parent.Items.begin() + (child - 1));
      StorePage(b);
      Cache().DeletePage(a.PageID);
      --FHeader.PageCount;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Clear, integrity

void TGBTreeIndex::Clear()
{
  if (FHeader.RootNodeID != 0) {
    Visited visited;
    DeleteSubtree(FHeader.RootNodeID, 1, visited);
  }
  FHeader.RootNodeID = 0;
  FHeader.PageCount = 0;
  FHeader.TreeDepth = 1;
  FHeader.TotalItems = 0;
  EnsureRoot();
  FModified = true;
}

void TGBTreeIndex::DeleteSubtree(uint32_t pageID, int level, Visited& visited)
{
  const TGBTreePage page = VisitPage(pageID, level, visited);
  if (level < FHeader.TreeDepth)
    for (int i = 0; i <= page.Count(); ++i)
      DeleteSubtree(page.Child(i), level + 1, visited);
  Cache().DeletePage(pageID);
  --FHeader.PageCount;
}

std::vector<uint32_t> TGBTreeIndex::PageKeys(uint32_t pageID) const
{
  std::vector<uint32_t> keys;
  for (const TBTreeItem& item : LoadPage(pageID).Items)
    keys.push_back(item.KeyID);
  return keys;
}

void TGBTreeIndex::CheckIntegrity()
{
  if (FHeader.RootNodeID == 0) {
    if (FHeader.PageCount != 0 || FHeader.TotalItems != 0) Damaged("items without a root", 0);
    return;
  }
  Visited visited;
  int pages = 0;
  int items = 0;
  std::optional<uint32_t> lastKey;
  std::function<void(uint32_t, int)> walk = [&](uint32_t pageID, int level) {
    const TGBTreePage page = VisitPage(pageID, level, visited);
    ++pages;
    if (level > 1 && (page.Count() < MinFill() || page.Count() > Capacity()))
      Damaged("a page filled outside " + std::to_string(MinFill()) + ".." +
                  std::to_string(Capacity()),
              pageID);
    if (level == 1 && FHeader.TreeDepth > 1 && page.Count() == 0)
      Damaged("an inner root without items", pageID);
    const bool leaf = level == FHeader.TreeDepth;
    for (int i = 0; i <= page.Count(); ++i) {
      if (!leaf) walk(page.Child(i), level + 1);
      if (i == page.Count()) break;
      const uint32_t key = page.Items[static_cast<size_t>(i)].KeyID;
      if (lastKey && key <= *lastKey) Damaged("keys out of order", pageID);
      lastKey = key;
      ++items;
    }
  };
  walk(FHeader.RootNodeID, 1);
  if (pages != FHeader.PageCount)
    Damaged(std::to_string(pages) + " pages but " + std::to_string(FHeader.PageCount) + " counted",
            FHeader.RootNodeID);
  if (items != FHeader.TotalItems)
    Damaged(std::to_string(items) + " items but " + std::to_string(FHeader.TotalItems) + " counted",
            FHeader.RootNodeID);
}

} // namespace vtr
