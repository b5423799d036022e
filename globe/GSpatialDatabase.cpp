#include "globe/GSpatialDatabase.h"

#include "globe/GLogger.h"
#include "globe/GSDBObjectSource.h"
#include "globe/GXML.h"

namespace vtr {

TGSpatialDatabase::TGSpatialDatabase(TGSDBFileSystem& fileSystem)
    : FFileSystem(&fileSystem), FAlive(std::make_shared<int>(0))
{
  RegisterSDBLayerClass(); // before any file is created: new files get its object table
  FPageCache = std::make_unique<TGFilePageCache>(fileSystem);
  // The catalog observes the cache first, so it has read the file before this component is
  // told of a rollback.
  FSysRoot = std::make_unique<TGSDBSysRoot>(*FPageCache);
  FPageCache->Subscribe(this);
  FBlobCache = std::make_unique<TGMapObjectCache>(FBlobCacheSize);
  FEditCache = std::make_unique<TGMapObjectCache>(0, false);
}

TGSpatialDatabase::~TGSpatialDatabase()
{
  FDestroying = true;
  try {
    Close();
  } catch (...) {
    // A destructor cannot report; a journal left behind is rolled back at the next open.
  }
  FPageCache->UnSubscribe(this);
}

// ---------------------------------------------------------------------------------------------
// Properties

void TGSpatialDatabase::SetDataSourceName(const std::string& value)
{
  if (value == FDataSourceName) return;
  const bool wasOpen = FActive;
  Close();
  FDataSourceName = value;
  if (wasOpen) Open();
}

void TGSpatialDatabase::SetPageCacheSize(int value)
{
  FPageCacheSize = value;
  if (FActive) FPageCache->SetCacheSize(value);
}

void TGSpatialDatabase::SetBlobCacheSize(int value)
{
  FBlobCacheSize = value;
  FBlobCache = std::make_unique<TGMapObjectCache>(value);
}

bool TGSpatialDatabase::ReadOnly() const
{
  return FActive ? FPageCache->ReadOnly() : FReadOnly;
}

void TGSpatialDatabase::SetReadOnly(bool value)
{
  FReadOnly = value;
  FPageCache->SetReadOnly(value);
}

void TGSpatialDatabase::SetEncryptionKey(const std::string& value)
{
  // Takes effect at the next open.
  FEncryptionKey = value;
}

void TGSpatialDatabase::CheckActive() const
{
  if (!FActive || !FLayers) throw EGException("SpatialDatabase: not open");
}

TGSDBLayerList& TGSpatialDatabase::Layers()
{
  CheckActive();
  return *FLayers;
}

TGSDBSysRoot& TGSpatialDatabase::SysRoot()
{
  CheckActive();
  return *FSysRoot;
}

// ---------------------------------------------------------------------------------------------
// Opening and closing

void TGSpatialDatabase::Notify(int32_t code)
{
  // By index: a subscriber may unsubscribe while it is told.
  for (size_t i = 0; i < FSubscribers.size(); ++i)
    FSubscribers[i]->SpatialDatabaseNotification(*this, code);
}

void TGSpatialDatabase::Subscribe(TGSpatialDatabaseSubscriber* subscriber)
{
  if (subscriber &&
      std::find(FSubscribers.begin(), FSubscribers.end(), subscriber) == FSubscribers.end())
    FSubscribers.push_back(subscriber);
}

void TGSpatialDatabase::UnSubscribe(TGSpatialDatabaseSubscriber* subscriber)
{
  std::erase(FSubscribers, subscriber);
}

void TGSpatialDatabase::SetActive(bool value)
{
  if (value == FActive) return;
  if (value)
    DoOpen();
  else
    DoClose();
}

void TGSpatialDatabase::LoadLayers()
{
  FLayers = std::make_unique<TGSDBLayerList>(*FSysRoot);
  FLayers->OnLayersChanged = [this] {
    ++FLayerListSerial;
    Changed();
  };
  FLayers->OnObjectsChanged = [this] { Changed(); };
}

void TGSpatialDatabase::DropLayers()
{
  FEditCache->Clear();
  FBlobCache->Clear();
  FLayers.reset();
  ++FLayerListSerial;
}

void TGSpatialDatabase::DoOpen()
{
  if (XMLTrim(FDataSourceName).empty()) return;
  LogManager().Trace(2, "SpatialDatabase Open");
  Notify(sdbBeforeOpen);
  if (OnBeforeOpen) OnBeforeOpen(*this);
  FPageCache->SetEncryptionKey(FEncryptionKey);
  FPageCache->SetDataFile(FDataSourceName);
  FPageCache->SetCacheSize(FPageCacheSize);
  FPageCache->SetReadOnly(FReadOnly);
  try {
    FPageCache->Open();
    // The catalog is small: walk all of it now, so a damaged file is refused here rather
    // than part way through some later change.
    FSysRoot->CheckIntegrity();
    LoadLayers();
  } catch (const std::exception& e) {
    FLayers.reset();
    if (FPageCache->Active()) {
      // Closed without writing: a file that is not a sound database stays as it was.
      FPageCache->SetReadOnly(true);
      try {
        FPageCache->Close();
      } catch (...) {
        // The cache is marked closed whatever happens; the first error is the one to report.
      }
      FPageCache->SetReadOnly(FReadOnly);
    }
    if (dynamic_cast<const EGCryptException*>(&e)) throw;
    throw EGSDBOpenError("Cannot open spatial database " + FPageCache->DataFileAndPath() + ": " +
                         e.what());
  }
  FActive = true;
  ++FLayerListSerial;
  Notify(sdbAfterOpen);
  if (OnAfterOpen) OnAfterOpen(*this);
}

void TGSpatialDatabase::DoClose()
{
  if (!FActive) return;
  if (OnBeforeClose) OnBeforeClose(*this);
  Notify(sdbBeforeClose);
  std::exception_ptr failure;
  try {
    Flush();
  } catch (...) {
    failure = std::current_exception();
  }
  DropLayers();
  try {
    FPageCache->Close();
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  FActive = false;
  FUpdateCount = 0;
  FChangeCount = 0;
  Notify(sdbAfterClose);
  if (OnAfterClose) OnAfterClose(*this);
  LogManager().Trace(2, "SpatialDatabase Closed");
  if (failure) std::rethrow_exception(failure);
}

void TGSpatialDatabase::PageCacheNotification(TGPageCache&, TGPageCacheNotification code)
{
  if (code != pcnRolledBack || !FActive) return;
  // Every header read before the rollback may be wrong now: read the layers anew.
  DropLayers();
  LoadLayers();
  ++FChangeCount;
}

// ---------------------------------------------------------------------------------------------
// Changes

void TGSpatialDatabase::Flush()
{
  if (!FActive || !FLayers || ReadOnly()) return;
  FLayers->Flush();
  FSysRoot->Flush();
}

void TGSpatialDatabase::Changed()
{
  ++FChangeCount;
  if (FUpdateCount == 0) {
    BeginUpdate();
    EndUpdate();
  }
}

void TGSpatialDatabase::EndUpdate()
{
  G_ASSERT_MSG(FUpdateCount > 0, "Mismatched BeginUpdate/EndUpdate");
  if (--FUpdateCount > 0 || FChangeCount == 0) return;
  FChangeCount = 0;
  Flush();
  Notify(sdbChanged);
  if (OnChanged && !FDestroying) OnChanged(*this);
}

void TGSpatialDatabase::BeginTransaction()
{
  CheckActive();
  Flush();
  FPageCache->BeginTransaction();
}

void TGSpatialDatabase::CommitTransaction()
{
  CheckActive();
  Flush();
  FPageCache->CommitTransaction();
}

void TGSpatialDatabase::RollbackTransaction()
{
  CheckActive();
  FPageCache->RollbackTransaction();
  if (FChangeCount > 0 && FUpdateCount == 0) {
    BeginUpdate();
    EndUpdate();
  }
}

bool TGSpatialDatabase::InTransaction() const
{
  return FPageCache->InTransaction();
}

// ---------------------------------------------------------------------------------------------
// Layers

TGUID TGSpatialDatabase::CreateLayer(const std::string& layerName)
{
  if (ReadOnly()) throw EGException("CreateLayer: SDB is ReadOnly");
  CheckActive();
  const TGUID id = NewGUID();
  FLayers->NewLayer(layerName, id);
  return id;
}

void TGSpatialDatabase::DeleteLayer(const TGUID& LayerID)
{
  if (ReadOnly()) throw EGException("DeleteLayer: SDB is ReadOnly");
  CheckActive();
  TGSDBLayer* layer = FLayers->LayerByID(LayerID);
  if (!layer) return;
  FEditCache->RemoveLayer(LayerID);
  FBlobCache->RemoveLayer(LayerID);
  FLayers->DeleteLayer(*layer);
}

TGUID TGSpatialDatabase::ImportLayer(TGCustomDataReader* dataReader)
{
  if (ReadOnly()) throw EGException("ImportLayer: SDB is ReadOnly");
  TGUID id = NullGUID;
  LogManager().Trace(2, "Start ImportLayer");
  if (dataReader) {
    CheckActive();
    BeginUpdate();
    TGSDBLayer* layer = nullptr;
    try {
      layer = &FLayers->NewLayer(dataReader->Name());
      TGSDBObjectSource source(dataReader->ParentGlobe());
      source.SetSDB(this);
      source.SetSDBLayer(layer);
      dataReader->SetObjectSource(&source);
      layer->SetBulkLoad(true);
      for (auto obj = dataReader->First(); obj; obj = dataReader->Next()) {
        obj->SetObjectSource(&source);
        obj->SetDataLink(std::make_unique<TGSDBDataLink>(*layer));
        obj->SetModified(true); // every object read is stored
        obj->Post();
      }
      layer->SetBulkLoad(false);
      for (const std::string& line : dataReader->MetaData().Lines())
        layer->MetaData().SetValue(KeyValueList::NameOf(line), KeyValueList::ValueOf(line));
      layer->MetaData().SetValue("PresenterXML", PresenterStoreXMLText(dataReader->Presenters()));
      layer->SetMetaDataModified();
      dataReader->SetObjectSource(nullptr);
      id = layer->LayerID();
    } catch (...) {
      // Nothing half imported stays behind.
      dataReader->SetObjectSource(nullptr);
      try {
        if (layer) FLayers->DeleteLayer(*layer);
        EndUpdate();
      } catch (...) {
        // The reader's error is the one to report.
      }
      throw;
    }
    EndUpdate();
  }
  Flush();
  LogManager().Trace(2, "End ImportLayer");
  return id;
}

int64_t TGSpatialDatabase::FileSize(const std::string& path)
{
  std::unique_ptr<TGSDBFile> file = FFileSystem->Open(path, TGFileOpenMode::ReadOnly, nullptr);
  return file ? file->Size() : -1;
}

int64_t TGSpatialDatabase::Compact()
{
  if (ReadOnly()) throw EGException("Compact: SDB is ReadOnly");
  LogManager().Trace(2, "Start Compacting");
  const std::string path = FFileSystem->FullPath(FDataSourceName);
  const std::string tmp = FDataSourceName + ".tmp";
  const std::string tmpPath = FFileSystem->FullPath(tmp);
  Close();
  const int64_t size = FileSize(path);
  Open();
  CheckActive();
  BeginUpdate();
  try {
    TGSpatialDatabase copy(*FFileSystem);
    copy.SetPageCacheSize(2048);
    copy.SetDataSourceName(tmp);
    copy.Clear();
    copy.SetEncryptionKey(FEncryptionKey);
    copy.Open();
    for (int i = 0; i < FLayers->Count(); ++i) {
      TGSDBLayer& layer = FLayers->Layer(i);
      copy.Layers().CopyLayer(layer, layer.Name());
    }
    copy.Close();
  } catch (...) {
    FFileSystem->Delete(tmpPath);
    try {
      EndUpdate();
    } catch (...) {
      // The copy's error is the one to report.
    }
    throw;
  }
  EndUpdate();
  Close();
  const int64_t newSize = FileSize(tmpPath);
  if (newSize >= 0 && size >= 0 && newSize < size) {
    // One rename replaces the old file: there is no moment without a database file.
    if (!FFileSystem->Rename(tmpPath, path)) {
      FFileSystem->Delete(tmpPath);
      Open();
      throw EGException("Compact: cannot replace " + path);
    }
  } else {
    FFileSystem->Delete(tmpPath);
  }
  Open();
  LogManager().Trace(2, "End Compacting");
  return size;
}

void TGSpatialDatabase::Clear()
{
  if (!FActive) {
    if (XMLTrim(FDataSourceName).empty()) return;
    FPageCache->SetDataFile(FDataSourceName);
    FPageCache->Clear();
    return;
  }
  DropLayers();
  FPageCache->Clear();
  LoadLayers();
  Changed();
}

void TGSpatialDatabase::CheckIntegrity()
{
  CheckActive();
  FSysRoot->CheckIntegrity();
  for (int i = 0; i < FLayers->Count(); ++i)
    FLayers->Layer(i).CheckIntegrity();
}

} // namespace vtr
