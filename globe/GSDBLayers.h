#pragma once
// Layers of the spatial database: a layer is a catalog object whose parts are tables and
// indexes named after its GUID, and the layer list keeps every layer of one catalog. The
// records of map objects are read and written here; the link between a map object and its
// record (TGSDBDataLink) is in GSDBObjectSource.h. No Qt is used here.
//
// Layer header (24 bytes, in the layer's catalog record; the layer's name is its catalog
// name):
//    0 u32 Magic 4C520000 hex   4 GUID LayerID (16 bytes, GObjectSource.h)   20 u32 Spare
// Parts, named by the GUID text followed by a suffix, created on first use:
//   ".Objects" table: one 56-byte object record per map object (row identifier = primary key)
//   ".Data"    table: 8-bit text rows: attribute CSLs, user identifiers, the metadata
//   ".Chains"  table: geometry data streams
//   ".Blob"    table: images, in pairs of rows: the name (8-bit text), then the data
//   ".RTree"   R-tree of (object rectangle, primary key)
//   ".BTree"   B-tree, the layer's key index
// Metadata: name=value lines stored as comma text in a ".Data" row, whose row identifier the
// database-wide key index "LayerPropIndex" holds under the layer's GUID text.
//
// Object record TGDBObjectRec (56 bytes, in an ".Objects" row; little-endian):
//    0 u8  Kind (TGDBObjectKind)   1 u8 State (TGMapObjectState bits)   2 f64 DateTime
//   10 i16 PresenterID             12 TGMER MER (4 x i32)              28 TGPointLL Centroid
//   (3 x i32: longitude, latitude, height)   40 u32 DataID (".Chains" row, 0 = none)
//   44 u32 AttributeID (".Data" row of the CSL)   48 u32 UserID (".Data" row)   52 u32 SpareID

#include "base/TextLists.h"
#include "globe/GObjectSource.h"
#include "globe/GSDBBTree.h"
#include "globe/GSDBRtree.h"
#include "globe/GSDBTables.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vtr {

inline constexpr uint32_t kSDBLayerMagic = 0x4C520000;
inline constexpr int kSDBLayerHeaderSize = 24;
inline constexpr int kDBObjectRecSize = 56;

struct TGSDBLayerHeader
{
  uint32_t Magic = kSDBLayerMagic;
  TGUID LayerID;
  uint32_t Spare = 0;
};

struct TGDBObjectRec
{
  uint8_t Kind = 0;  // TGDBObjectKind
  uint8_t State = 0; // TGMapObjectStates
  double DateTime = 0;
  int16_t PresenterID = 0;
  TGMER MER{};
  TGPointLL Centroid{};
  uint32_t DataID = 0;
  uint32_t AttributeID = 0;
  uint32_t UserID = 0;
  uint32_t SpareID = 0;
  friend bool operator==(const TGDBObjectRec&, const TGDBObjectRec&) = default;
};

void WriteDBObjectRec(TGStreamWriter& writer, const TGDBObjectRec& rec);
TGDBObjectRec ReadDBObjectRec(TGStreamReader& reader);

class TGSDBLayerList;

// Enters TGSDBLayer among the catalog classes (once; the layer list and the database do it).
void RegisterSDBLayerClass();

class TGSDBLayer : public TGSDBObject
{
public:
  TGSDBLayer();
  ~TGSDBLayer() override;
  std::string ClassName() const override { return "TGSDBLayer"; }

  int HeaderSize() const override { return kSDBLayerHeaderSize; }
  // A magic other than 4C520000 is the assertion "SDBLayer Magic check failed".
  void ReadHeader(TGStreamReader& reader) override;
  void WriteHeader(TGStreamWriter& writer) override;
  // Empties every part and drops the metadata; the layer stays in the catalog.
  void Clear() override;
  // Writes the metadata when changed, flushes the parts, then the layer's own header.
  void Flush() override;

  // The list the layer belongs to (borrowed; set by the list).
  TGSDBLayerList* LayerList() const { return FLayerList; }
  void SetLayerList(TGSDBLayerList* list) { FLayerList = list; }
  const TGUID& LayerID() const { return FHeader.LayerID; }
  void SetLayerID(const TGUID& id);
  // GUID text of the layer, the stem of its parts' names.
  std::string IDText() const { return GUIDToString(FHeader.LayerID); }

  // Read on first use; changes must be marked (SetMetaDataModified) to be written.
  KeyValueList& MetaData();
  void SetMetaDataModified() { FMetaDataModified = true; }
  bool MetaDataModified() const { return FMetaDataModified; }

  TGSDBTable& ObjectTable();
  TGSDBTable& AttributeTable(); // ".Data"
  TGSDBTable& DataTable();      // ".Chains"
  TGSDBTable& BlobTable();
  TGRTreeIndex& SpatialIndex();
  TGBTreeIndex& BTreeIndex();
  int64_t ObjectCount();

  // Records are appended and indexed without reading back old rectangles.
  bool BulkLoad() const { return FBulkLoad; }
  void SetBulkLoad(bool value) { FBulkLoad = value; }

  // Clears the R-tree and inserts every stored object's rectangle with its row identifier.
  void RebuildSpatialIndex();

  // Object records. Reading checks the row is an object record of this layer.
  TGDBObjectRec ReadRecord(uint32_t rowID);
  uint32_t AppendRecord(const TGDBObjectRec& rec);
  void UpdateRecord(uint32_t rowID, const TGDBObjectRec& rec);
  // A text row of ".Data": empty for row 0.
  std::string ReadText(uint32_t rowID);
  // Deletes the old row (when any); appends the trimmed text when it is not empty. Returns the
  // new row, 0 for none.
  uint32_t ReplaceText(uint32_t oldRowID, const std::string& text);
  // The geometry stream of ".Chains" row rowID (nothing for 0) / a new row for the whole
  // stream, the old one deleted (0 for an empty stream).
  void ReadData(uint32_t rowID, TGStream& stream);
  uint32_t ReplaceData(uint32_t oldRowID, TGStream& stream);

  // Images in ".Blob": a name row followed by its data row. The data row of a name, 0 for none.
  uint32_t FindBlob(const std::string& imageName);
  // Stores the stream's whole content under the name (a name stored before is replaced).
  void StoreBlob(const std::string& imageName, TGStream& stream);

  // Alive while the layer is; links and object sources keep a weak copy so that they never use
  // a layer that is gone.
  const std::shared_ptr<void>& AliveToken() const { return FAlive; }

  // Deletes every part from the catalog (pages and rows); used when the layer is deleted.
  void DeleteParts();
  // Deletes every stored object (records, texts, geometry, indexes); metadata and images stay.
  void ClearObjects();

  // The integrity walk of every part, then: every record reads, its text and geometry rows
  // exist, and the R-tree holds exactly one entry per object, under its rectangle. Raises
  // EGException at the first fault.
  void CheckIntegrity();

private:
  template <class T> T& Part(std::unique_ptr<T>& slot, const char* className, const char* suffix);
  // The parts that are open or stored in the catalog (opening the stored ones).
  std::vector<TGSDBObject*> ExistingParts();

  TGSDBLayerHeader FHeader;
  bool FMetaDataModified = false;
  bool FMetaDataLoaded = false;
  KeyValueList FMetaData;
  TGSDBLayerList* FLayerList = nullptr;
  std::unique_ptr<TGSDBTable> FObjectTable;
  std::unique_ptr<TGSDBTable> FAttributeTable;
  std::unique_ptr<TGSDBTable> FDataTable;
  std::unique_ptr<TGSDBTable> FBlobTable;
  std::unique_ptr<TGRTreeIndex> FSpatialIndex;
  std::unique_ptr<TGBTreeIndex> FBTreeIndex;
  bool FBulkLoad = false;
  std::shared_ptr<void> FAlive;
};

// Every layer of one catalog (borrowed; it must outlive the list), read from the catalog when
// the list is made.
class TGSDBLayerList
{
public:
  explicit TGSDBLayerList(TGSDBSysRoot& sysRoot);
  ~TGSDBLayerList();
  TGSDBLayerList(const TGSDBLayerList&) = delete;
  TGSDBLayerList& operator=(const TGSDBLayerList&) = delete;

  TGSDBSysRoot& SysRoot() const { return *FSysRoot; }
  int Count() const { return static_cast<int>(FSDBLayers.size()); }
  TGSDBLayer& Layer(int index) const { return *FSDBLayers.at(static_cast<size_t>(index)); }

  // A new layer in the catalog, saved at once; observers are told.
  TGSDBLayer& NewLayer(const std::string& layerName);
  TGSDBLayer& NewLayer(const std::string& layerName, const TGUID& ID);
  // Deletes the layer's parts, its metadata and its catalog row, flushes the catalog and
  // tells the observers. A layer of another list: "Cannot delete layer. Layer does not belong
  // to this SDB".
  void DeleteLayer(TGSDBLayer& sdbLayer);
  // Exact name (letter case counts); the first of that name.
  TGSDBLayer* LayerByName(const std::string& layerName) const;
  TGSDBLayer* LayerByID(const TGUID& ID) const;
  // Copies a layer (of this or another database) into this list under sName: records,
  // attributes, user identifiers, geometry, metadata and images; a copy within one database
  // gets a new GUID, from another database it keeps the source's. Nothing on a read-only
  // database (null).
  TGSDBLayer* CopyLayer(TGSDBLayer& layer, const std::string& sName);
  void Flush();
  // The key index of the layers' metadata rows ("LayerPropIndex").
  TGSDBKeyIndex& LayerPropertyIndex();

  // Told after a layer was added or deleted, and after stored objects changed.
  std::function<void()> OnLayersChanged;
  std::function<void()> OnObjectsChanged;
  void ObjectsChanged()
  {
    if (OnObjectsChanged) OnObjectsChanged();
  }

private:
  void Changed();

  TGSDBSysRoot* FSysRoot;
  std::vector<std::unique_ptr<TGSDBLayer>> FSDBLayers;
  std::unique_ptr<TGSDBKeyIndexTable> FLayerPropertyIndex;
};

} // namespace vtr
