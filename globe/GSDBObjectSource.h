#pragma once
// The spatial database seen from the globe: the link between a map object and its stored
// record (TGSDBDataLink), the object caches (TGMapObjectCache), the object source that serves
// one database layer to a globe (TGSDBObjectSource), and the layer-tree update that keeps a
// globe's layers in step with its database. No Qt is used here.
//
// Objects and sources never hold a database layer by reference alone: they keep the layer's
// alive token (and a source its GUID), so a layer deleted, or a database closed, compacted or
// rolled back, leaves them with a clear error or an empty source, never a dangling pointer.

#include "globe/GObjectSource.h"
#include "globe/GSDBLayers.h"
#include "globe/GSpatialDatabase.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace vtr {

class TGGlobe;

// ---------------------------------------------------------------------------------------------
// The link of one object to its record in a layer's ".Objects" table.

class TGSDBDataLink : public TGDataLink
{
public:
  // A link for a new object of the layer (no primary key until Post).
  explicit TGSDBDataLink(TGSDBLayer& layer);
  // A link on a stored record. A record that cannot be read is logged as an error
  // "TGSDBDataLink.Create: Failed to read object " + key and leaves the link empty (Valid false).
  TGSDBDataLink(TGSDBLayer& layer, TGPrimaryKey key);

  // The record was read (or the link is for a new object).
  bool Valid() const { return FValid; }
  // The layer, while it exists; raises EGException when it is gone.
  TGSDBLayer& DBLayer() const;

  TDateTime DateTime() const override { return FDBObjectRec.DateTime; }
  void SetDateTime(TDateTime value) override;
  TGDBObjectKind Kind() const override { return static_cast<TGDBObjectKind>(FDBObjectRec.Kind); }
  void SetKind(TGDBObjectKind value) override;
  TGPointLL Centroid() const override { return FDBObjectRec.Centroid; }
  void SetCentroid(const TGPointLL& value) override;
  TGMER MER() const override { return FDBObjectRec.MER; }
  void SetMER(const TGMER& value) override;
  bool Modified() const override { return FModified; }
  void SetModified(bool value) override { FModified = value; }
  TGPrimaryKey PrimaryKey() const override { return FPrimaryKey; }
  void SetPrimaryKey(TGPrimaryKey value) override { FPrimaryKey = value; }
  uint32_t DataID() const override { return FDBObjectRec.DataID; }
  void SetDataID(uint32_t value) override;
  uint32_t AttributeID() const override { return FDBObjectRec.AttributeID; }
  void SetAttributeID(uint32_t value) override;
  // Read from ".Data" (empty for none). Setting a different trimmed text replaces the row.
  std::string ObjectDataCSL() override;
  void SetObjectDataCSL(const std::string& value) override;
  int16_t PresenterID() const override { return FDBObjectRec.PresenterID; }
  void SetPresenterID(int16_t value) override;
  TGMapObjectStates State() const override { return FDBObjectRec.State; }
  void SetState(TGMapObjectStates value) override;
  std::string UserID() override;
  void SetUserID(const std::string& value) override;

  // Removes the geometry row, the attribute and user identifier rows, the R-tree entry and the
  // record, and clears the primary key.
  void Delete() override;
  // When modified: a new object's record is appended (its row becomes the primary key); a
  // stored one is rewritten in place and its old rectangle leaves the R-tree (not while the
  // layer loads in bulk). Then the rectangle enters the R-tree with the key.
  void Post() override;
  void ReadDataStream(TGMemoryStream& memStream) override;
  void WriteDataStream(TGMemoryStream& memStream) override;

  // Copies record, attributes, user identifier and geometry of another link (of any layer).
  void Assign(TGSDBDataLink& source);
  const TGDBObjectRec& Record() const { return FDBObjectRec; }

private:
  void Touch() { FModified = true; }
  void CheckWritable(const char* operation) const;
  void DeleteObsoleteRows();

  TGDBObjectRec FDBObjectRec;
  TGSDBLayer* FDBLayer;
  std::weak_ptr<void> FLayerAlive;
  TGPrimaryKey FPrimaryKey = 0;
  bool FModified = false;
  bool FValid = true;
  // Rows replaced since the last Post: the stored record still names them until then.
  std::vector<uint32_t> FObsoleteTexts;
  std::vector<uint32_t> FObsoleteData;
};

// ---------------------------------------------------------------------------------------------
// Object caches: objects held with their layer and row identifier in 17 buckets (row mod 17).

class TGMapObjectCache
{
public:
  static constexpr size_t kBuckets = 17;
  // size: slots; a cache of size 1 or less keeps nothing. bounded false: no limit (the edit
  // cache, which must keep every object being edited).
  explicit TGMapObjectCache(int size, bool bounded = true);

  // Adding an object already present (same layer and row) raises "Already in cache". When the
  // objects' memory passes size x 1024 bytes or the slots are full, room is made first: in
  // every bucket of more than 20 objects the oldest fifth go; when that frees nothing, the
  // oldest fifth of all.
  void Add(const TGUID& layerID, TGPrimaryKey rowID, const std::shared_ptr<IGMapPoint>& obj);
  std::shared_ptr<IGMapPoint> Find(const TGUID& layerID, TGPrimaryKey rowID) const;
  bool Contains(const TGUID& layerID, TGPrimaryKey rowID) const
  {
    return Find(layerID, rowID) != nullptr;
  }
  bool Remove(const TGUID& layerID, TGPrimaryKey rowID);
  // Drops every object of the layer.
  void RemoveLayer(const TGUID& layerID);
  void Clear();
  // The layer's objects, oldest first.
  std::vector<std::shared_ptr<IGMapPoint>> Objects(const TGUID& layerID) const;

  int Size() const { return FSize; }
  int Count() const { return FObjectCount; }
  int64_t AllocatedMemory() const { return FAllocatedMemory; }

private:
  struct TGObjectRec
  {
    TGUID Layer;
    TGPrimaryKey RowID = 0;
    std::shared_ptr<IGMapPoint> obj;
    uint64_t MRU = 0; // age number: higher is younger
    int64_t Size = 0;
  };
  static size_t BucketOf(TGPrimaryKey rowID);
  void MakeRoom();
  void Drop(std::vector<TGObjectRec>& bucket, size_t index);

  int FSize;
  bool FBounded;
  std::array<std::vector<TGObjectRec>, kBuckets> FBuckets;
  uint64_t FMRU = 0;
  int64_t FAllocatedMemory = 0;
  int FObjectCount = 0;
};

// ---------------------------------------------------------------------------------------------
// The object source of one database layer.

class TGSDBObjectSource : public TGObjectSource
{
public:
  explicit TGSDBObjectSource(TGGlobe* parentGlobe = nullptr);
  ~TGSDBObjectSource() override;
  std::string ClassName() const override { return "TGSDBObjectSource"; }

  // The database (borrowed; the source notices when it is gone). Without one the source takes
  // its globe's database when it needs one.
  TGSpatialDatabase* SDB() const;
  void SetSDB(TGSpatialDatabase* database);
  // The bound layer while the database is open and holds it (found again by GUID after the
  // database reopened); null otherwise.
  TGSDBLayer* SDBLayer();
  // Binds the source: copies the layer's metadata, takes its presenters from "PresenterXML",
  // its name and its GUID. Null unbinds (the null GUID).
  void SetSDBLayer(TGSDBLayer* layer);
  // Finds the layer by GUID, else by the source's name, and binds it; when neither exists the
  // globe's OnMissingLayer is raised and the search repeats while the handler asks (at most
  // kMissingLayerRetries times).
  void SetUniqueID(const TGUID& value) override;
  static constexpr int kMissingLayerRetries = 16;
  // The metadata value "SourceName".
  std::string SourceName() const { return FMetaData.Value("SourceName"); }

  // Cached objects are not handed out again (ByPrimaryKey gives null for them).
  bool IgnoreIfCached = false;

  int64_t ObjectCount() override;
  std::unique_ptr<TGObjectSource> Clone() override;
  TGPrimaryKey First() override;
  TGPrimaryKey Next(TGPrimaryKey objPK) override;
  // 0 gives null; then the edit cache, the blob cache, and finally the stored record.
  std::shared_ptr<IGMapPoint> ByPrimaryKey(TGPrimaryKey objPK) override;
  using TGObjectSource::NewIterator;
  // The R-tree's keys for aMER (objects not larger than CullObjectSize left out), then the
  // cached objects of this layer that meet aMER.
  std::unique_ptr<TGIterator> NewIterator(const TGMER& aMER) override;
  void ForEach(const TGMER& aMER, const TGObjectCallback& callback) override;
  // The R-tree's rectangle.
  TGMER DataMER() override;

  // Drops presenters, metadata and this layer's cached objects; stored objects stay.
  void Clear() override;
  // Deletes every stored object of the layer.
  void Delete() override;
  // Stores the object in the layer: a new link, the object written to it and posted; the
  // object gets the new primary key.
  void Add(const std::shared_ptr<IGMapPoint>& obj) override;
  // Out of the blob cache and the layer's selection; the object loses its source.
  void Remove(IGMapPoint& obj) override;
  void EditObject(const std::shared_ptr<IGMapPoint>& obj) override;
  void EndEditObject(IGMapPoint& obj) override;
  // Posts every object of this layer that is being edited.
  void Post() override;
  bool IsValid() override { return SDBLayer() != nullptr; }
  bool IsTemporary() const override { return false; }

  // Images in the layer's ".Blob" pairs. ImageByName loads through the globe (or the file).
  std::shared_ptr<TGBitmap> ImageByName(const std::string& imageName) override;
  // Stores the file's bytes under its name (once) when the file exists; returns the name.
  std::string ImportImage(const std::string& imageName) override;
  void ImportImageStream(const std::string& imageName, TGStream& stream) override;
  // The stored image's size (32-bit) and bytes; nothing when none is stored.
  void ExportImageStream(const std::string& imageName, TGStream& stream) override;

  // "SourceName" (the layer's name) before the common attributes; loading applies it first.
  void SaveToXML(TGXML_Element& el) override;
  void LoadFromXML(const TGXML_Element& el) override;

private:
  TGSDBLayer& BoundLayer(const char* operation);
  void Bind(TGSDBLayer* layer);

  TGSpatialDatabase* FSDB = nullptr;
  std::weak_ptr<void> FSDBAlive;
  TGSDBLayer* FSDBLayer = nullptr;
  std::weak_ptr<void> FSDBLayerAlive;
  uint64_t FLayerListSerial = 0;
};

// The presenters of a store as the text kept in the metadata value "PresenterXML" (a document
// with root "Presenters"), and back (an empty text leaves the store empty).
std::string PresenterStoreXMLText(TGPresenterStore& store);
void LoadPresenterStoreXMLText(TGPresenterStore& store, const std::string& text);

// ---------------------------------------------------------------------------------------------
// Globes that follow a database

// The layer-tree update of a globe attached to an open database: every database layer gets a
// globe layer with a database source (looked up by GUID under the previous layer's parent,
// then the whole tree; created under the root when missing), and every layer whose source is
// not temporary and whose GUID the database no longer holds is removed. Progress goes to
// the globe's OnProgress (start, every 50 layers, end).
void UpdateGlobeLayerTree(TGGlobe& globe, TGSpatialDatabase& database);

// A globe following a database: it marks the globe's tree for update when the database opens,
// closes or changes its layers, and redraws the globe after other changes, so every globe
// attached to one database shows the same layers and objects. The globe owns it (borrowed
// globe); dropping it detaches.
class TGGlobeDatabaseLink : public TGSpatialDatabaseSubscriber
{
public:
  TGGlobeDatabaseLink(TGGlobe& globe, TGSpatialDatabase& database);
  ~TGGlobeDatabaseLink() override;
  TGGlobeDatabaseLink(const TGGlobeDatabaseLink&) = delete;
  TGGlobeDatabaseLink& operator=(const TGGlobeDatabaseLink&) = delete;

  // Null once the database is gone.
  TGSpatialDatabase* Database() const;
  void SpatialDatabaseNotification(TGSpatialDatabase& database, int32_t code) override;

private:
  TGGlobe* FGlobe;
  TGSpatialDatabase* FDatabase;
  std::weak_ptr<void> FAlive;
  uint64_t FLayerListSerial;
};

// Makes the globe follow the database: sets its layer-tree update and returns the link the
// globe keeps (TGGlobe::SetSpatialDatabase). Null database: the update is removed, no link.
std::unique_ptr<TGGlobeDatabaseLink> AttachSpatialDatabase(TGGlobe& globe,
                                                           TGSpatialDatabase* database);

} // namespace vtr
