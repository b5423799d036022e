#include "globe/GSDBObject.h"

namespace vtr {

void IndexDamaged(const std::string& kind, const std::string& name, const std::string& what,
                  uint32_t pageID)
{
  throw EGException(kind + " " + name + " is damaged: " + what + " at page " +
                    std::to_string(SDBPageNumber(pageID)));
}

void CheckIndexPage(const TGPageCache& cache, const std::string& kind, const std::string& name,
                    uint32_t pageID, int level, int depth, std::unordered_set<uint32_t>& visited)
{
  const uint32_t n = SDBPageNumber(pageID);
  if (n == 0 || cache.IsMapPage(n)) IndexDamaged(kind, name, "a reference to a map page", pageID);
  if (level > depth) IndexDamaged(kind, name, "a page below the tree depth", pageID);
  if (!visited.insert(n).second) IndexDamaged(kind, name, "a page reached twice", pageID);
}

void TGSDBObject::Create(IGSDBCatalog& sysRoot, const std::string& name, TGStream* header)
{
  FSysRoot = &sysRoot;
  FName = name;
  if (header) {
    TGStreamReader reader(*header);
    ReadHeader(reader);
    FModified = false;
  }
}

void TGSDBObject::Flush()
{
  if (!FModified || !FSysRoot) return;
  FSysRoot->SaveObject(*this);
  FModified = false;
}

void TGSDBObject::SaveToXML(TGXMLAttributes&) const {}

void TGSDBObject::SetName(const std::string& name)
{
  if (name == FName) return;
  FName = name;
  FModified = true;
}

TGPageCache& TGSDBObject::Cache() const
{
  G_ASSERT_MSG(FSysRoot != nullptr, "SDBObject not created");
  return FSysRoot->PageCache();
}

} // namespace vtr
