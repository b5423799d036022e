#include "globe/GSDBObjectSource.h"

#include "globe/GGlobe.h"
#include "globe/GLayer.h"
#include "globe/GLogger.h"
#include "globe/GPresenter.h"
#include "globe/GXML.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace vtr {

// ---------------------------------------------------------------------------------------------
// TGSDBDataLink

TGSDBDataLink::TGSDBDataLink(TGSDBLayer& layer) : FDBLayer(&layer), FLayerAlive(layer.AliveToken())
{
}

TGSDBDataLink::TGSDBDataLink(TGSDBLayer& layer, TGPrimaryKey key) : TGSDBDataLink(layer)
{
  try {
    if (key <= 0 || key > TGPrimaryKey{UINT32_MAX}) throw EGException("no such row");
    FDBObjectRec = layer.ReadRecord(static_cast<uint32_t>(key));
    FPrimaryKey = key;
  } catch (const std::exception&) {
    LogManager().Error("TGSDBDataLink.Create: Failed to read object " + std::to_string(key));
    FDBObjectRec = {};
    FPrimaryKey = 0;
    FValid = false;
  }
}

TGSDBLayer& TGSDBDataLink::DBLayer() const
{
  if (FLayerAlive.expired())
    throw EGException("TGSDBDataLink: the database layer of object " + std::to_string(FPrimaryKey) +
                      " is no longer open");
  return *FDBLayer;
}

void TGSDBDataLink::CheckWritable(const char* operation) const
{
  if (DBLayer().SysRoot()->PageCache().ReadOnly())
    throw EGException(std::string(operation) + ": SDB is ReadOnly");
}

void TGSDBDataLink::SetDateTime(TDateTime value)
{
  FDBObjectRec.DateTime = value;
  Touch();
}
void TGSDBDataLink::SetKind(TGDBObjectKind value)
{
  FDBObjectRec.Kind = value;
  Touch();
}
void TGSDBDataLink::SetCentroid(const TGPointLL& value)
{
  FDBObjectRec.Centroid = value;
  Touch();
}
void TGSDBDataLink::SetMER(const TGMER& value)
{
  FDBObjectRec.MER = value;
  Touch();
}
void TGSDBDataLink::SetDataID(uint32_t value)
{
  FDBObjectRec.DataID = value;
  Touch();
}
void TGSDBDataLink::SetAttributeID(uint32_t value)
{
  FDBObjectRec.AttributeID = value;
  Touch();
}
void TGSDBDataLink::SetPresenterID(int16_t value)
{
  FDBObjectRec.PresenterID = value;
  Touch();
}
void TGSDBDataLink::SetState(TGMapObjectStates value)
{
  FDBObjectRec.State = value;
  Touch();
}

std::string TGSDBDataLink::ObjectDataCSL()
{
  return DBLayer().ReadText(FDBObjectRec.AttributeID);
}

std::string TGSDBDataLink::UserID()
{
  return DBLayer().ReadText(FDBObjectRec.UserID);
}

namespace {

// A text row replaced by a link: the new row is written at once, the old one stays until the
// record that names it is rewritten, so a failure before Post never leaves the stored record
// naming a deleted row.
uint32_t ReplaceLinkText(TGSDBLayer& layer, uint32_t& row, const std::string& value,
                         std::vector<uint32_t>& obsolete)
{
  const std::string trimmed = XMLTrim(value);
  if (trimmed == layer.ReadText(row)) return row;
  if (row != 0) obsolete.push_back(row);
  row = layer.ReplaceText(0, trimmed);
  return row;
}

} // namespace

void TGSDBDataLink::SetObjectDataCSL(const std::string& value)
{
  ReplaceLinkText(DBLayer(), FDBObjectRec.AttributeID, value, FObsoleteTexts);
  Touch();
}

void TGSDBDataLink::SetUserID(const std::string& value)
{
  ReplaceLinkText(DBLayer(), FDBObjectRec.UserID, value, FObsoleteTexts);
  Touch();
}

void TGSDBDataLink::ReadDataStream(TGMemoryStream& memStream)
{
  DBLayer().ReadData(FDBObjectRec.DataID, memStream);
}

void TGSDBDataLink::WriteDataStream(TGMemoryStream& memStream)
{
  TGSDBLayer& layer = DBLayer();
  if (FDBObjectRec.DataID != 0) FObsoleteData.push_back(FDBObjectRec.DataID);
  FDBObjectRec.DataID = layer.ReplaceData(0, memStream);
  Touch();
}

void TGSDBDataLink::DeleteObsoleteRows()
{
  TGSDBLayer& layer = DBLayer();
  for (uint32_t row : FObsoleteTexts)
    layer.AttributeTable().DeleteRow(row);
  for (uint32_t row : FObsoleteData)
    layer.DataTable().DeleteRow(row);
  FObsoleteTexts.clear();
  FObsoleteData.clear();
}

void TGSDBDataLink::Post()
{
  if (!FModified) return;
  CheckWritable("TGSDBDataLink.Post");
  TGSDBLayer& layer = DBLayer();
  if (FPrimaryKey == 0) {
    FPrimaryKey = layer.AppendRecord(FDBObjectRec);
  } else {
    const auto row = static_cast<uint32_t>(FPrimaryKey);
    if (!layer.BulkLoad()) {
      const TGDBObjectRec stored = layer.ReadRecord(row);
      layer.UpdateRecord(row, FDBObjectRec);
      layer.SpatialIndex().Delete(stored.MER, row);
    } else {
      layer.UpdateRecord(row, FDBObjectRec);
    }
  }
  DeleteObsoleteRows();
  layer.SpatialIndex().Insert(FDBObjectRec.MER, static_cast<uint32_t>(FPrimaryKey));
  FModified = false;
  if (TGSDBLayerList* list = layer.LayerList()) list->ObjectsChanged();
}

void TGSDBDataLink::Delete()
{
  CheckWritable("TGSDBDataLink.Delete");
  TGSDBLayer& layer = DBLayer();
  std::vector<uint32_t> texts = {FDBObjectRec.AttributeID, FDBObjectRec.UserID};
  std::vector<uint32_t> data = {FDBObjectRec.DataID};
  if (FPrimaryKey != 0) {
    // The stored record names the rows and the rectangle the file holds.
    const auto row = static_cast<uint32_t>(FPrimaryKey);
    const TGDBObjectRec stored = layer.ReadRecord(row);
    texts.insert(texts.end(), {stored.AttributeID, stored.UserID});
    data.push_back(stored.DataID);
    layer.SpatialIndex().Delete(stored.MER, row);
    layer.ObjectTable().DeleteRow(row);
  }
  texts.insert(texts.end(), FObsoleteTexts.begin(), FObsoleteTexts.end());
  data.insert(data.end(), FObsoleteData.begin(), FObsoleteData.end());
  FObsoleteTexts.clear();
  FObsoleteData.clear();
  const auto deleteRows = [](TGSDBTable& table, std::vector<uint32_t>& rows) {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (uint32_t row : rows)
      if (row != 0) table.DeleteRow(row);
  };
  deleteRows(layer.AttributeTable(), texts);
  deleteRows(layer.DataTable(), data);
  FDBObjectRec.AttributeID = FDBObjectRec.UserID = FDBObjectRec.DataID = 0;
  FPrimaryKey = 0;
  FModified = false;
  if (TGSDBLayerList* list = layer.LayerList()) list->ObjectsChanged();
}

void TGSDBDataLink::Assign(TGSDBDataLink& source)
{
  const TGDBObjectRec& from = source.FDBObjectRec;
  FDBObjectRec.Kind = from.Kind;
  FDBObjectRec.State = from.State;
  FDBObjectRec.DateTime = from.DateTime;
  FDBObjectRec.PresenterID = from.PresenterID;
  FDBObjectRec.MER = from.MER;
  FDBObjectRec.Centroid = from.Centroid;
  FDBObjectRec.SpareID = from.SpareID;
  SetObjectDataCSL(source.ObjectDataCSL());
  SetUserID(source.UserID());
  if (from.DataID != 0) {
    TGMemoryStream data;
    source.ReadDataStream(data);
    WriteDataStream(data);
  }
  Touch();
}

// ---------------------------------------------------------------------------------------------
// TGMapObjectCache

TGMapObjectCache::TGMapObjectCache(int size, bool bounded) : FSize(size), FBounded(bounded) {}

size_t TGMapObjectCache::BucketOf(TGPrimaryKey rowID)
{
  return static_cast<size_t>(static_cast<uint64_t>(rowID) % kBuckets);
}

void TGMapObjectCache::Drop(std::vector<TGObjectRec>& bucket, size_t index)
{
  FAllocatedMemory -= bucket[index].Size;
  --FObjectCount;
  bucket.erase(bucket.begin() + static_cast<ptrdiff_t>(index));
}

void TGMapObjectCache::MakeRoom()
{
  const auto dropOldest = [this](std::vector<TGObjectRec>& bucket, size_t count) {
    std::stable_sort(bucket.begin(), bucket.end(),
                     [](const TGObjectRec& a, const TGObjectRec& b) { return a.MRU < b.MRU; });
    for (size_t i = 0; i < count && !bucket.empty(); ++i)
      Drop(bucket, 0);
  };
  const int before = FObjectCount;
  for (auto& bucket : FBuckets)
    if (bucket.size() > 20) dropOldest(bucket, bucket.size() / 5);
  if (FObjectCount < before) return;
  // Nothing came free that way (few objects in each bucket): drop the oldest fifth of all.
  std::vector<uint64_t> ages;
  for (const auto& bucket : FBuckets)
    for (const TGObjectRec& r : bucket)
      ages.push_back(r.MRU);
  if (ages.empty()) return;
  std::sort(ages.begin(), ages.end());
  const uint64_t limit = ages[std::max<size_t>(ages.size() / 5, 1) - 1];
  for (auto& bucket : FBuckets)
    for (size_t i = bucket.size(); i-- > 0;)
      if (bucket[i].MRU <= limit) Drop(bucket, i);
}

void TGMapObjectCache::Add(const TGUID& layerID, TGPrimaryKey rowID,
                           const std::shared_ptr<IGMapPoint>& obj)
{
  if (!obj || (FBounded && FSize <= 1)) return;
  if (Contains(layerID, rowID)) throw EGException("Already in cache");
  const int64_t size = obj->ObjectSize();
  if (FBounded && (FAllocatedMemory + size > int64_t{FSize} * 1024 || FObjectCount >= FSize))
    MakeRoom();
  FBuckets[BucketOf(rowID)].push_back({layerID, rowID, obj, ++FMRU, size});
  FAllocatedMemory += size;
  ++FObjectCount;
}

std::shared_ptr<IGMapPoint> TGMapObjectCache::Find(const TGUID& layerID, TGPrimaryKey rowID) const
{
  for (const TGObjectRec& r : FBuckets[BucketOf(rowID)])
    if (r.RowID == rowID && r.Layer == layerID) return r.obj;
  return nullptr;
}

bool TGMapObjectCache::Remove(const TGUID& layerID, TGPrimaryKey rowID)
{
  auto& bucket = FBuckets[BucketOf(rowID)];
  for (size_t i = 0; i < bucket.size(); ++i)
    if (bucket[i].RowID == rowID && bucket[i].Layer == layerID) {
      Drop(bucket, i);
      return true;
    }
  return false;
}

void TGMapObjectCache::RemoveLayer(const TGUID& layerID)
{
  for (auto& bucket : FBuckets)
    for (size_t i = bucket.size(); i-- > 0;)
      if (bucket[i].Layer == layerID) Drop(bucket, i);
}

void TGMapObjectCache::Clear()
{
  for (auto& bucket : FBuckets)
    bucket.clear();
  FAllocatedMemory = 0;
  FObjectCount = 0;
}

std::vector<std::shared_ptr<IGMapPoint>> TGMapObjectCache::Objects(const TGUID& layerID) const
{
  std::vector<const TGObjectRec*> recs;
  for (const auto& bucket : FBuckets)
    for (const TGObjectRec& r : bucket)
      if (r.Layer == layerID) recs.push_back(&r);
  std::sort(recs.begin(), recs.end(),
            [](const TGObjectRec* a, const TGObjectRec* b) { return a->MRU < b->MRU; });
  std::vector<std::shared_ptr<IGMapPoint>> objects;
  for (const TGObjectRec* r : recs)
    objects.push_back(r->obj);
  return objects;
}

// ---------------------------------------------------------------------------------------------
// Presenter XML text

std::string PresenterStoreXMLText(TGPresenterStore& store)
{
  return XMLDocumentText("Presenters", [&store](TGXML_Element& el) { store.SaveToXML(el); });
}

void LoadPresenterStoreXMLText(TGPresenterStore& store, const std::string& text)
{
  if (XMLTrim(text).empty()) {
    store.Clear();
    return;
  }
  LoadXMLDocumentText(text, [&store](const TGXML_Element& el) { store.LoadFromXML(el); });
}

// ---------------------------------------------------------------------------------------------
// TGSDBObjectSource

TGSDBObjectSource::TGSDBObjectSource(TGGlobe* parentGlobe) : TGObjectSource(parentGlobe)
{
  FUniqueID = NullGUID;
}

TGSDBObjectSource::~TGSDBObjectSource() = default;

TGSpatialDatabase* TGSDBObjectSource::SDB() const
{
  if (FSDB && !FSDBAlive.expired()) return FSDB;
  return ParentGlobe() ? ParentGlobe()->SpatialDatabase() : nullptr;
}

void TGSDBObjectSource::SetSDB(TGSpatialDatabase* database)
{
  FSDB = database;
  FSDBAlive = database ? std::weak_ptr<void>(database->AliveToken()) : std::weak_ptr<void>();
  FSDBLayer = nullptr;
  FSDBLayerAlive.reset();
}

TGSDBLayer* TGSDBObjectSource::SDBLayer()
{
  TGSpatialDatabase* db = SDB();
  if (!db || !db->Active()) return nullptr;
  if (FSDBLayer && !FSDBLayerAlive.expired()) return FSDBLayer;
  FSDBLayer = FUniqueID == NullGUID ? nullptr : db->Layers().LayerByID(FUniqueID);
  FSDBLayerAlive = FSDBLayer ? std::weak_ptr<void>(FSDBLayer->AliveToken()) : std::weak_ptr<void>();
  return FSDBLayer;
}

TGSDBLayer& TGSDBObjectSource::BoundLayer(const char* operation)
{
  TGSDBLayer* layer = SDBLayer();
  if (!layer) throw EGException(std::string(operation) + ": no database layer " + Name());
  return *layer;
}

void TGSDBObjectSource::Bind(TGSDBLayer* layer)
{
  FSDBLayer = layer;
  FSDBLayerAlive = layer ? std::weak_ptr<void>(layer->AliveToken()) : std::weak_ptr<void>();
  if (!layer) {
    FUniqueID = NullGUID;
    return;
  }
  FMetaData = layer->MetaData();
  LoadPresenterStoreXMLText(*FPresenters, FMetaData.Value("PresenterXML"));
  FName = layer->Name();
  FUniqueID = layer->LayerID();
}

void TGSDBObjectSource::SetSDBLayer(TGSDBLayer* layer)
{
  Bind(layer);
}

void TGSDBObjectSource::SetUniqueID(const TGUID& value)
{
  FUniqueID = value;
  FSDBLayer = nullptr;
  FSDBLayerAlive.reset();
  TGSpatialDatabase* db = SDB();
  if (!db || !db->Active()) return; // bound when the database opens
  for (int attempt = 0; attempt <= kMissingLayerRetries; ++attempt) {
    TGSDBLayer* layer = db->Layers().LayerByID(value);
    if (!layer && !Name().empty()) layer = db->Layers().LayerByName(Name());
    if (layer) {
      Bind(layer);
      return;
    }
    bool retry = false;
    if (ParentGlobe() && ParentGlobe()->OnMissingLayer)
      ParentGlobe()->OnMissingLayer(*ParentGlobe(), Name(), SourceName(), retry, UserXML());
    if (!retry) return;
  }
}

int64_t TGSDBObjectSource::ObjectCount()
{
  TGSDBLayer* layer = SDBLayer();
  return layer ? layer->ObjectCount() : 0;
}

std::unique_ptr<TGObjectSource> TGSDBObjectSource::Clone()
{
  // Another source on the same stored layer: the objects stay where they are.
  auto copy = std::make_unique<TGSDBObjectSource>(ParentGlobe());
  copy->SetSDB(SDB());
  copy->SetName(Name());
  copy->FMetaData = FMetaData;
  copy->Presenters().Assign(*FPresenters);
  copy->SetUniqueID(FUniqueID);
  return copy;
}

TGPrimaryKey TGSDBObjectSource::First()
{
  TGSDBLayer* layer = SDBLayer();
  return layer ? layer->ObjectTable().First() : 0;
}

TGPrimaryKey TGSDBObjectSource::Next(TGPrimaryKey objPK)
{
  TGSDBLayer* layer = SDBLayer();
  if (!layer || objPK <= 0 || objPK > TGPrimaryKey{UINT32_MAX}) return 0;
  return layer->ObjectTable().Next(static_cast<uint32_t>(objPK));
}

std::shared_ptr<IGMapPoint> TGSDBObjectSource::ByPrimaryKey(TGPrimaryKey objPK)
{
  if (objPK == 0) return nullptr;
  TGSDBLayer* layer = SDBLayer();
  if (!layer) return nullptr;
  TGSpatialDatabase& db = *SDB();
  std::shared_ptr<IGMapPoint> obj = db.EditCache().Find(layer->LayerID(), objPK);
  if (!obj) obj = db.BlobCache().Find(layer->LayerID(), objPK);
  if (obj) {
    if (IgnoreIfCached) return nullptr;
    obj->SetObjectSource(this);
    return obj;
  }
  auto link = std::make_unique<TGSDBDataLink>(*layer, objPK);
  if (!link->Valid()) return nullptr;
  switch (link->Kind()) {
  case tgokPoint:
    obj = std::make_shared<TGMapPoint>();
    break;
  case tgokPoly:
    obj = std::make_shared<TGMapPoly>();
    break;
  case tgokRaster:
    obj = std::make_shared<TGMapRaster>();
    break;
  default:
    G_ASSERT_MSG(false, "Unknown Object Kind");
  }
  obj->SetObjectSource(this);
  obj->SetPrimaryKey(objPK);
  obj->ReadFromDataLink(std::move(link));
  if (obj->CachableObject()) db.BlobCache().Add(layer->LayerID(), objPK, obj);
  return obj;
}

std::unique_ptr<TGIterator> TGSDBObjectSource::NewIterator(const TGMER& aMER)
{
  auto it = std::make_unique<TGListIterator>(*this);
  TGSDBLayer* layer = SDBLayer();
  if (!layer) return it;
  std::vector<uint32_t> keys;
  layer->SpatialIndex().Search(aMER, CullObjectSize(), keys);
  for (uint32_t key : keys)
    it->AddPrimaryKey(key);
  TGSpatialDatabase& db = *SDB();
  for (TGMapObjectCache* cache : {&db.EditCache(), &db.BlobCache()})
    for (const auto& obj : cache->Objects(layer->LayerID()))
      if (obj->PrimaryKey() != 0 && !it->Contains(obj->PrimaryKey()) && obj->IntersectMER(aMER))
        it->AddPrimaryKey(obj->PrimaryKey());
  return it;
}

void TGSDBObjectSource::ForEach(const TGMER& aMER, const TGObjectCallback& callback)
{
  const auto it = NewIterator(aMER);
  for (TGPrimaryKey key : static_cast<TGListIterator&>(*it).Keys())
    if (!callback(key)) break;
}

TGMER TGSDBObjectSource::DataMER()
{
  TGSDBLayer* layer = SDBLayer();
  return layer ? layer->SpatialIndex().IndexMER() : TGMER{};
}

void TGSDBObjectSource::Clear()
{
  TGObjectSource::Clear();
  TGSDBLayer* layer = SDBLayer();
  if (!layer) return;
  SDB()->EditCache().RemoveLayer(layer->LayerID());
  SDB()->BlobCache().RemoveLayer(layer->LayerID());
}

void TGSDBObjectSource::Delete()
{
  TGSDBLayer& layer = BoundLayer("TGSDBObjectSource.Delete");
  TGSpatialDatabase& db = *SDB();
  if (db.ReadOnly()) throw EGException("TGSDBObjectSource.Delete: SDB is ReadOnly");
  db.EditCache().RemoveLayer(layer.LayerID());
  db.BlobCache().RemoveLayer(layer.LayerID());
  if (FLayer) FLayer->Selection().Clear(); // the keys are given out again
  layer.ClearObjects();
  db.Changed();
}

void TGSDBObjectSource::Add(const std::shared_ptr<IGMapPoint>& obj)
{
  if (!obj) return;
  TGSDBLayer& layer = BoundLayer("TGSDBObjectSource.Add");
  // An object this layer holds already keeps its record (no second copy).
  if (auto* link = dynamic_cast<TGSDBDataLink*>(obj->DataLink());
      link && link->PrimaryKey() != 0 && &link->DBLayer() == &layer) {
    obj->SetObjectSource(this);
    obj->Post();
    return;
  }
  TGObjectSource::Add(obj);
  obj->WriteToDataLink(std::make_unique<TGSDBDataLink>(layer));
  TGDataLink* link = obj->DataLink();
  link->Post();
  obj->SetPrimaryKey(link->PrimaryKey());
  obj->SetModified(false);
}

void TGSDBObjectSource::Remove(IGMapPoint& obj)
{
  const TGPrimaryKey key = obj.PrimaryKey();
  if (TGSDBLayer* layer = SDBLayer(); layer && key != 0) {
    // Out of the edit cache too: a removed object must not be handed out for its old key.
    SDB()->BlobCache().Remove(layer->LayerID(), key);
    SDB()->EditCache().Remove(layer->LayerID(), key);
  }
  if (FLayer && key != 0) FLayer->Selection().Remove(key);
  obj.SetObjectSource(nullptr);
}

void TGSDBObjectSource::EditObject(const std::shared_ptr<IGMapPoint>& obj)
{
  TGSDBLayer* layer = SDBLayer();
  if (!obj || !layer || obj->PrimaryKey() == 0) return;
  TGMapObjectCache& cache = SDB()->EditCache();
  if (!cache.Contains(layer->LayerID(), obj->PrimaryKey()))
    cache.Add(layer->LayerID(), obj->PrimaryKey(), obj);
}

void TGSDBObjectSource::EndEditObject(IGMapPoint& obj)
{
  if (TGSDBLayer* layer = SDBLayer()) SDB()->EditCache().Remove(layer->LayerID(), obj.PrimaryKey());
}

void TGSDBObjectSource::Post()
{
  TGSDBLayer* layer = SDBLayer();
  if (!layer) return;
  for (const auto& obj : SDB()->EditCache().Objects(layer->LayerID()))
    obj->Post();
}

std::shared_ptr<TGBitmap> TGSDBObjectSource::ImageByName(const std::string& imageName)
{
  return LoadLayerImage(FLayer, imageName);
}

std::string TGSDBObjectSource::ImportImage(const std::string& imageName)
{
  TGSDBLayer* layer = SDBLayer();
  std::error_code ec;
  if (!layer || imageName.empty() || SDB()->ReadOnly() ||
      !std::filesystem::is_regular_file(imageName, ec) || layer->FindBlob(imageName) != 0)
    return imageName;
  std::ifstream in(imageName, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.eof() && in.fail()) throw EGException("ImportImage: cannot read " + imageName);
  TGBufferStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
  layer->StoreBlob(imageName, stream);
  return imageName;
}

void TGSDBObjectSource::ImportImageStream(const std::string& imageName, TGStream& stream)
{
  BoundLayer("TGSDBObjectSource.ImportImageStream").StoreBlob(imageName, stream);
}

void TGSDBObjectSource::ExportImageStream(const std::string& imageName, TGStream& stream)
{
  TGSDBLayer* layer = SDBLayer();
  const uint32_t row = layer ? layer->FindBlob(imageName) : 0;
  if (row == 0) return;
  const std::vector<uint8_t> bytes = layer->BlobTable().ReadBuffer(row);
  TGStreamWriter writer(stream);
  writer.WriteCardinal(static_cast<uint32_t>(bytes.size()));
  writer.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
}

void TGSDBObjectSource::SaveToXML(TGXML_Element& el)
{
  TGObjectSource::SaveToXML(el);
  TGSDBLayer* layer = SDBLayer();
  el.AddAttribute("SourceName", layer ? layer->Name() : Name());
}

void TGSDBObjectSource::LoadFromXML(const TGXML_Element& el)
{
  // The stored layer's name first: binding falls back on it when the GUID names no layer.
  const std::string sourceName = el.Attribute("SourceName");
  if (!sourceName.empty()) SetName(sourceName);
  TGObjectSource::LoadFromXML(el);
}

// ---------------------------------------------------------------------------------------------
// Globes that follow a database

void UpdateGlobeLayerTree(TGGlobe& globe, TGSpatialDatabase& database)
{
  if (!database.Active()) return;
  TGSDBLayerList& layers = database.Layers();
  const int32_t count = layers.Count();
  const auto progress = [&globe](TGProgressType kind, int32_t n, double percent) {
    if (globe.OnProgress) globe.OnProgress(globe, kind, n, percent);
  };
  progress(pProgressStart, count, 0);
  std::vector<TGUID> ids;
  TGLayer* previous = nullptr;
  for (int32_t i = 0; i < count; ++i) {
    TGSDBLayer& sdbLayer = layers.Layer(i);
    const TGUID id = sdbLayer.LayerID();
    ids.push_back(id);
    TGLayer* found = nullptr;
    if (previous && previous->ParentLayer())
      found = previous->ParentLayer()->LayerStore().LayerByID(id);
    if (!found) found = globe.Layers().LayerByID(id);
    if (!found) {
      auto layer = std::make_unique<TGLayer>(&globe);
      layer->SetName(sdbLayer.Name());
      auto source = std::make_unique<TGSDBObjectSource>(&globe);
      source->SetSDB(&database);
      source->SetName(sdbLayer.Name());
      source->SetUniqueID(id);
      layer->SetObjectSource(std::move(source));
      found = layer.get();
      globe.Layers().Add(std::move(layer));
    }
    previous = found;
    if ((i + 1) % 50 == 0) progress(pProgress, i + 1, 100.0 * (i + 1) / count);
  }
  // Depth-first, last to first: the layers whose stored layer is gone.
  const std::function<void(TGLayerStore&)> prune = [&](TGLayerStore& store) {
    for (int32_t i = store.Count() - 1; i >= 0; --i) {
      TGLayer& layer = store.GetLayer(i);
      prune(layer.LayerStore());
      if (layer.HasObjectSource() && !layer.ObjectSource().IsTemporary() &&
          std::find(ids.begin(), ids.end(), layer.ObjectSource().UniqueID()) == ids.end())
        store.Delete(&layer);
    }
  };
  prune(globe.Layers());
  progress(pProgressEnd, count, 100);
}

TGGlobeDatabaseLink::TGGlobeDatabaseLink(TGGlobe& globe, TGSpatialDatabase& database)
    : FGlobe(&globe), FDatabase(&database), FAlive(database.AliveToken()),
      FLayerListSerial(database.LayerListSerial())
{
  database.Subscribe(this);
}

TGGlobeDatabaseLink::~TGGlobeDatabaseLink()
{
  if (TGSpatialDatabase* db = Database()) db->UnSubscribe(this);
}

TGSpatialDatabase* TGGlobeDatabaseLink::Database() const
{
  return FAlive.expired() ? nullptr : FDatabase;
}

void TGGlobeDatabaseLink::SpatialDatabaseNotification(TGSpatialDatabase& database, int32_t code)
{
  if (code == sdbAfterOpen || code == sdbAfterClose ||
      database.LayerListSerial() != FLayerListSerial) {
    FLayerListSerial = database.LayerListSerial();
    FGlobe->NotifyLayerTreeChanged();
  } else if (code == sdbChanged) {
    FGlobe->RedrawLayers();
  }
}

std::unique_ptr<TGGlobeDatabaseLink> AttachSpatialDatabase(TGGlobe& globe,
                                                           TGSpatialDatabase* database)
{
  if (!database) {
    globe.OnUpdateLayerTree = nullptr;
    return nullptr;
  }
  auto link = std::make_unique<TGGlobeDatabaseLink>(globe, *database);
  globe.OnUpdateLayerTree = [](TGGlobe& g) {
    if (TGSpatialDatabase* db = g.SpatialDatabase()) UpdateGlobeLayerTree(g, *db);
  };
  return link;
}

} // namespace vtr
