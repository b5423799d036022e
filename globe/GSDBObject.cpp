#include "globe/GSDBObject.h"

namespace vtr {

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
