#pragma once
// The spatial database component: one paged file (GSDBCache.h) holding the catalog
// (GSDBTables.h) and the layers (GSDBLayers.h), opened and closed with events and observer
// codes, with layer creation, deletion, import from a data reader, compaction through a
// ".tmp" copy, change notification and transactions. Object sources that serve its layers to
// a globe are in GSDBObjectSource.h. No Qt is used here.
//
// Opening a file that is not a sound database raises EGSDBOpenError and leaves the component
// closed and the file as it was, so that its owner can set the file aside and start anew. A
// read-only database refuses a missing or empty file the same way rather than create one.

#include "globe/GSDBFile.h"
#include "globe/GSDBLayers.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vtr {

class TGCustomDataReader;
class TGMapObjectCache;
class TGSpatialDatabase;

// The file could not be opened as a database (not one, damaged, unreadable).
class EGSDBOpenError : public EGException
{
public:
  using EGException::EGException;
};

// Observer codes.
enum TGSDBNotification : int32_t {
  sdbBeforeOpen = 0,
  sdbAfterOpen = 1,
  sdbBeforeClose = 2,
  sdbAfterClose = 3,
  sdbChanged = 4 // after a batch of changes
};

class TGSpatialDatabaseSubscriber
{
public:
  virtual ~TGSpatialDatabaseSubscriber() = default;
  virtual void SpatialDatabaseNotification(TGSpatialDatabase& database, int32_t code) = 0;
};

class TGSpatialDatabase : public TGRoot, private TGPageCacheSubscriber
{
public:
  // The file system is borrowed and must outlive the database; by default the platform's.
  explicit TGSpatialDatabase(TGSDBFileSystem& fileSystem = PlatformFileSystem());
  ~TGSpatialDatabase() override;
  TGSpatialDatabase(const TGSpatialDatabase&) = delete;
  TGSpatialDatabase& operator=(const TGSpatialDatabase&) = delete;
  std::string ClassName() const override { return "TGSpatialDatabase"; }

  bool Active() const { return FActive; }
  // Opening with an empty (trimmed) DataSourceName keeps the database closed. A file that
  // cannot be opened as a database raises EGSDBOpenError.
  void SetActive(bool value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }

  const std::string& DataSourceName() const { return FDataSourceName; }
  // Closes, takes the name, and opens again when it was open.
  void SetDataSourceName(const std::string& value);
  int PageCacheSize() const { return FPageCacheSize; }
  void SetPageCacheSize(int value);
  int BlobCacheSize() const { return FBlobCacheSize; }
  void SetBlobCacheSize(int value);
  // Read-only when set or when the file could only be opened for reading.
  bool ReadOnly() const;
  void SetReadOnly(bool value);
  const std::string& EncryptionKey() const { return FEncryptionKey; }
  void SetEncryptionKey(const std::string& value);

  // Parts of an open database ("SpatialDatabase: not open" when closed).
  TGSDBLayerList& Layers();
  TGSDBSysRoot& SysRoot();
  TGFilePageCache& PageCache() { return *FPageCache; }
  TGSDBFileSystem& FileSystem() const { return *FFileSystem; }
  TGMapObjectCache& BlobCache() { return *FBlobCache; }
  TGMapObjectCache& EditCache() { return *FEditCache; }

  // A new layer of that name; its GUID. "CreateLayer: SDB is ReadOnly" on a read-only
  // database.
  TGUID CreateLayer(const std::string& layerName);
  // Deletes the layer when it exists (its objects leave both caches). "DeleteLayer: SDB is
  // ReadOnly" on a read-only database.
  void DeleteLayer(const TGUID& LayerID);
  // Stores every object the reader yields in a new layer named after the reader, with the
  // reader's metadata and its presenters as "PresenterXML"; the new layer's GUID (the null
  // GUID without a reader). "ImportLayer: SDB is ReadOnly" on a read-only database. A reader
  // that fails part way leaves no layer behind.
  TGUID ImportLayer(TGCustomDataReader* dataReader);
  // Copies every layer into a new file (the name + ".tmp") and puts it in place of this one
  // when it is smaller; returns the size before. "Compact: SDB is ReadOnly" on a read-only
  // database.
  int64_t Compact();
  // Deletes the file and starts a new, empty one (when open).
  void Clear();
  // Writes the layers, the catalog and every changed page.
  void Flush();

  // Changes inside BeginUpdate / EndUpdate are counted; the EndUpdate that closes the last level
  // with changes pending flushes and notifies code 4 (and OnChanged).
  void BeginUpdate() { ++FUpdateCount; }
  void EndUpdate();
  // Records one change (notified at once outside an update).
  void Changed();

  // The page cache's transactions; the layers are written before a transaction begins or
  // commits, and read anew after a rollback.
  void BeginTransaction();
  void CommitTransaction();
  void RollbackTransaction();
  bool InTransaction() const;

  // Borrowed: a subscriber stays until UnSubscribe.
  void Subscribe(TGSpatialDatabaseSubscriber* subscriber);
  void UnSubscribe(TGSpatialDatabaseSubscriber* subscriber);

  // Raised when the set of layers (or what they hold) may have changed: opening, closing,
  // layers created or deleted, a rollback. Object sources read their layers again then.
  uint64_t LayerListSerial() const { return FLayerListSerial; }

  // Alive while the database is; sources keep a weak copy so that they never use it after.
  const std::shared_ptr<void>& AliveToken() const { return FAlive; }

  // Walks the catalog and every table of every layer (GSDBTables.h) and every index.
  void CheckIntegrity();

  std::function<void(TGSpatialDatabase&)> OnBeforeOpen;
  std::function<void(TGSpatialDatabase&)> OnAfterOpen;
  std::function<void(TGSpatialDatabase&)> OnBeforeClose;
  std::function<void(TGSpatialDatabase&)> OnAfterClose;
  std::function<void(TGSpatialDatabase&)> OnChanged;

private:
  void DoOpen();
  void DoClose();
  void Notify(int32_t code);
  void LoadLayers();
  void DropLayers();
  void CheckActive() const;
  void PageCacheNotification(TGPageCache& cache, TGPageCacheNotification code) override;
  // The size of the named file, -1 when it cannot be read.
  int64_t FileSize(const std::string& path);

  TGSDBFileSystem* FFileSystem;
  bool FActive = false;
  bool FReadOnly = false;
  bool FDestroying = false;
  std::string FDataSourceName;
  int FPageCacheSize = kSDBDefaultCacheSize;
  int FBlobCacheSize = 64;
  std::string FEncryptionKey;
  std::unique_ptr<TGFilePageCache> FPageCache;
  std::unique_ptr<TGSDBSysRoot> FSysRoot;
  std::unique_ptr<TGSDBLayerList> FLayers;
  std::unique_ptr<TGMapObjectCache> FBlobCache;
  std::unique_ptr<TGMapObjectCache> FEditCache;
  std::vector<TGSpatialDatabaseSubscriber*> FSubscribers;
  int FUpdateCount = 0;
  int FChangeCount = 0;
  uint64_t FLayerListSerial = 0;
  std::shared_ptr<void> FAlive;
};

} // namespace vtr
