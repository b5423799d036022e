#pragma once
// Database objects: the named things of the spatial database (tables, indexes, layers) whose
// header lives in a catalog record and whose pages come from the page cache. The catalog
// itself is reached through IGSDBCatalog, so indexes need nothing more of it than a page cache
// and a place to keep their header. Plain C++ (no Qt).

#include "globe/GClasses.h"
#include "globe/GSDBCache.h"
#include "globe/GStreams.h"

#include <string>
#include <unordered_set>

namespace vtr {

class TGSDBObject;

// Index trees deeper than this cannot come from a sound file (2^24 pages, at least two entries
// per node): a header claiming more is damaged.
inline constexpr int kMaxIndexDepth = 32;

// What a database object needs from the catalog that holds it.
class IGSDBCatalog
{
public:
  virtual ~IGSDBCatalog() = default;
  virtual TGPageCache& PageCache() = 0;
  // Stores the object's name and header (WriteHeader) in its catalog record, creating the
  // record when the object has none (RootID 0) and recording it with SetRootID.
  virtual void SaveObject(TGSDBObject& obj) = 0;
};

// Raises EGException "<kind> <name> is damaged: <what> at page <n>".
[[noreturn]] void IndexDamaged(const std::string& kind, const std::string& name,
                               const std::string& what, uint32_t pageID);
// Refuses what a damaged file can put in the way of a walk down an index tree before the page
// is read: a reference to page 0 or to a map page, a page below the tree's depth (the root is
// level 1), a page the walk reached before (a cycle).
void CheckIndexPage(const TGPageCache& cache, const std::string& kind, const std::string& name,
                    uint32_t pageID, int level, int depth, std::unordered_set<uint32_t>& visited);

class TGSDBObject : public TGRoot
{
public:
  TGSDBObject() = default;
  ~TGSDBObject() override = default;
  TGSDBObject(const TGSDBObject&) = delete;
  TGSDBObject& operator=(const TGSDBObject&) = delete;
  std::string ClassName() const override { return "TGSDBObject"; }

  // Binds the object to its catalog (borrowed: it must outlive the object) under a name. With
  // header, the stored header is read from it; without, the object starts empty and gets its
  // first pages when its header is first written.
  virtual void Create(IGSDBCatalog& sysRoot, const std::string& name, TGStream* header = nullptr);
  // Bytes of the header in the catalog record.
  virtual int HeaderSize() const = 0;
  virtual void ReadHeader(TGStreamReader& reader) = 0;
  virtual void WriteHeader(TGStreamWriter& writer) = 0;
  // Deletes the object's pages and leaves it empty.
  virtual void Clear() = 0;
  // Saves the header through the catalog when it changed.
  virtual void Flush();
  virtual void SaveToXML(TGXMLAttributes& attributes) const;

  const std::string& Name() const { return FName; }
  void SetName(const std::string& name);
  // The object's catalog record (a row identifier); 0 = not stored yet.
  uint32_t RootID() const { return FRootID; }
  void SetRootID(uint32_t rowID) { FRootID = rowID; }
  bool Modified() const { return FModified; }
  void SetModified(bool modified = true) { FModified = modified; }
  IGSDBCatalog* SysRoot() const { return FSysRoot; }

protected:
  // The page cache of the catalog; asserts the object was created.
  TGPageCache& Cache() const;

  IGSDBCatalog* FSysRoot = nullptr;
  std::string FName;
  uint32_t FRootID = 0;
  bool FModified = false;
};

} // namespace vtr
