#include "globe/GSDBLayers.h"

#include "globe/GLogger.h"
#include "globe/GXML.h"

#include <algorithm>

namespace vtr {

// ---------------------------------------------------------------------------------------------
// Object records

void WriteDBObjectRec(TGStreamWriter& writer, const TGDBObjectRec& rec)
{
  // TGDBObjectRec, 56 bytes: Kind, State, DateTime, PresenterID, MER, Centroid (with height),
  // DataID, AttributeID, UserID, SpareID.
  writer.WriteByte(rec.Kind);
  writer.WriteByte(rec.State);
  writer.WriteDouble(rec.DateTime);
  writer.WriteSmallInt(rec.PresenterID);
  writer.WriteMER(rec.MER);
  writer.WritePointLL(rec.Centroid, true, false);
  writer.WriteCardinal(rec.DataID);
  writer.WriteCardinal(rec.AttributeID);
  writer.WriteCardinal(rec.UserID);
  writer.WriteCardinal(rec.SpareID);
}

TGDBObjectRec ReadDBObjectRec(TGStreamReader& reader)
{
  reader.RequireBytes(kDBObjectRecSize);
  TGDBObjectRec rec;
  rec.Kind = reader.ReadByte();
  rec.State = reader.ReadByte();
  rec.DateTime = reader.ReadDouble();
  rec.PresenterID = reader.ReadSmallInt();
  rec.MER = reader.ReadMER();
  // As stored: the point reader would wrap a longitude of -180 degrees, and a copy must keep
  // every byte.
  rec.Centroid.iLongX = reader.ReadInteger();
  rec.Centroid.iLatY = reader.ReadInteger();
  rec.Centroid.iHeightZ = reader.ReadInteger();
  rec.DataID = reader.ReadCardinal();
  rec.AttributeID = reader.ReadCardinal();
  rec.UserID = reader.ReadCardinal();
  rec.SpareID = reader.ReadCardinal();
  return rec;
}

void RegisterSDBLayerClass()
{
  RegisterSDBObjectClass("TGSDBLayer", [] { return std::make_unique<TGSDBLayer>(); });
}

// ---------------------------------------------------------------------------------------------
// TGSDBLayer

TGSDBLayer::TGSDBLayer() : FAlive(std::make_shared<int>(0)) {}

TGSDBLayer::~TGSDBLayer() = default;

void TGSDBLayer::ReadHeader(TGStreamReader& reader)
{
  TGSDBLayerHeader h;
  h.Magic = reader.ReadCardinal();
  G_ASSERT_MSG(h.Magic == kSDBLayerMagic, "SDBLayer Magic check failed");
  // GUID: D1 (u32), D2, D3 (u16), D4 (8 bytes).
  h.LayerID.D1 = reader.ReadCardinal();
  h.LayerID.D2 = reader.ReadWord();
  h.LayerID.D3 = reader.ReadWord();
  reader.ReadBuffer(h.LayerID.D4.data(), 8);
  h.Spare = reader.ReadCardinal();
  FHeader = h;
}

void TGSDBLayer::WriteHeader(TGStreamWriter& writer)
{
  // TGSDBLayerHeader, 24 bytes: Magic (u32), LayerID (GUID: D1 u32, D2 u16, D3 u16, D4 8
  // bytes), Spare (u32).
  writer.WriteCardinal(kSDBLayerMagic);
  writer.WriteCardinal(FHeader.LayerID.D1);
  writer.WriteWord(FHeader.LayerID.D2);
  writer.WriteWord(FHeader.LayerID.D3);
  writer.WriteBuffer(FHeader.LayerID.D4.data(), 8);
  writer.WriteCardinal(FHeader.Spare);
}

void TGSDBLayer::SetLayerID(const TGUID& id)
{
  if (id == FHeader.LayerID) return;
  G_ASSERT_MSG(!FObjectTable && !FAttributeTable && !FDataTable && !FBlobTable && !FSpatialIndex &&
                   !FBTreeIndex,
               "SDBLayer: the identifier names parts already open");
  FHeader.LayerID = id;
  FModified = true;
}

template <class T>
T& TGSDBLayer::Part(std::unique_ptr<T>& slot, const char* className, const char* suffix)
{
  if (slot) return *slot;
  G_ASSERT_MSG(FLayerList != nullptr, "SDBLayer: not in a layer list");
  TGSDBSysRoot& root = FLayerList->SysRoot();
  const std::string name = IDText() + suffix;
  slot = root.CreateObjectByNameAs<T>(className, name);
  if (!slot) {
    slot = std::make_unique<T>();
    // Saved in the catalog once it holds something (its first change marks it).
    slot->Create(root, name);
  }
  return *slot;
}

TGSDBTable& TGSDBLayer::ObjectTable()
{
  return Part(FObjectTable, "TGSDBTable", ".Objects");
}
TGSDBTable& TGSDBLayer::AttributeTable()
{
  return Part(FAttributeTable, "TGSDBTable", ".Data");
}
TGSDBTable& TGSDBLayer::DataTable()
{
  return Part(FDataTable, "TGSDBTable", ".Chains");
}
TGSDBTable& TGSDBLayer::BlobTable()
{
  return Part(FBlobTable, "TGSDBTable", ".Blob");
}
TGRTreeIndex& TGSDBLayer::SpatialIndex()
{
  return Part(FSpatialIndex, "TGRTreeIndex", ".RTree");
}
TGBTreeIndex& TGSDBLayer::BTreeIndex()
{
  return Part(FBTreeIndex, "TGBTreeIndex", ".BTree");
}

std::vector<TGSDBObject*> TGSDBLayer::ExistingParts()
{
  std::vector<TGSDBObject*> parts;
  const auto visit = [&](auto& slot, const char* className, const char* suffix) {
    using T = typename std::remove_reference_t<decltype(slot)>::element_type;
    if (!slot && FLayerList)
      slot = FLayerList->SysRoot().CreateObjectByNameAs<T>(className, IDText() + suffix);
    if (slot) parts.push_back(slot.get());
  };
  visit(FObjectTable, "TGSDBTable", ".Objects");
  visit(FAttributeTable, "TGSDBTable", ".Data");
  visit(FDataTable, "TGSDBTable", ".Chains");
  visit(FBlobTable, "TGSDBTable", ".Blob");
  visit(FSpatialIndex, "TGRTreeIndex", ".RTree");
  visit(FBTreeIndex, "TGBTreeIndex", ".BTree");
  return parts;
}

int64_t TGSDBLayer::ObjectCount()
{
  return ObjectTable().RowCount();
}

KeyValueList& TGSDBLayer::MetaData()
{
  if (!FMetaDataLoaded) {
    FMetaData.Lines().clear();
    if (FLayerList) {
      if (const uint32_t row = FLayerList->LayerPropertyIndex().FindKey(IDText()))
        FMetaData.Lines() = FromCommaText(AttributeTable().ReadString(row));
    }
    FMetaDataLoaded = true;
  }
  return FMetaData;
}

void TGSDBLayer::Flush()
{
  if (FMetaDataModified && FLayerList) {
    TGSDBKeyIndex& index = FLayerList->LayerPropertyIndex();
    const std::string key = IDText();
    if (const uint32_t old = index.FindKey(key)) {
      AttributeTable().DeleteRow(old);
      index.DeleteKey(key);
    }
    // Metadata row in ".Data": the name=value lines as one comma text, no terminator.
    if (!MetaData().Lines().empty())
      index.InsertKey(key, AttributeTable().AppendString(ToCommaText(MetaData().Lines())));
    FMetaDataModified = false;
  }
  for (TGSDBObject* part :
       {static_cast<TGSDBObject*>(FObjectTable.get()),
        static_cast<TGSDBObject*>(FAttributeTable.get()),
        static_cast<TGSDBObject*>(FDataTable.get()), static_cast<TGSDBObject*>(FBlobTable.get()),
        static_cast<TGSDBObject*>(FSpatialIndex.get()),
        static_cast<TGSDBObject*>(FBTreeIndex.get())})
    if (part) part->Flush();
  TGSDBObject::Flush();
}

void TGSDBLayer::Clear()
{
  for (TGSDBObject* part : ExistingParts())
    part->Clear();
  if (FLayerList) FLayerList->LayerPropertyIndex().DeleteKey(IDText());
  FMetaData.Lines().clear();
  FMetaDataLoaded = true;
  FMetaDataModified = false;
}

void TGSDBLayer::DeleteParts()
{
  if (!FLayerList) return;
  FLayerList->LayerPropertyIndex().DeleteKey(IDText());
  for (TGSDBObject* part : ExistingParts())
    FLayerList->SysRoot().DeleteObject(*part);
  FObjectTable.reset();
  FAttributeTable.reset();
  FDataTable.reset();
  FBlobTable.reset();
  FSpatialIndex.reset();
  FBTreeIndex.reset();
  FMetaData.Lines().clear();
  FMetaDataLoaded = true;
  FMetaDataModified = false;
}

void TGSDBLayer::ClearObjects()
{
  // The metadata shares ".Data" with the objects' texts: read it before, write it anew after.
  MetaData();
  if (FLayerList) FLayerList->LayerPropertyIndex().DeleteKey(IDText());
  ObjectTable().Clear();
  AttributeTable().Clear();
  DataTable().Clear();
  SpatialIndex().Clear();
  BTreeIndex().Clear();
  FMetaDataModified = true;
  Flush();
}

void TGSDBLayer::CheckIntegrity()
{
  for (TGSDBObject* part : ExistingParts()) {
    if (auto* table = dynamic_cast<TGSDBTable*>(part)) table->CheckIntegrity();
    if (auto* rtree = dynamic_cast<TGRTreeIndex*>(part)) rtree->CheckIntegrity();
    if (auto* btree = dynamic_cast<TGBTreeIndex*>(part)) btree->CheckIntegrity();
  }
  const auto fault = [this](const std::string& what) {
    throw EGException("SDBLayer " + Name() + " is damaged: " + what);
  };
  TGSDBTable& objects = ObjectTable();
  TGRTreeIndex& index = SpatialIndex();
  if (index.Count() != static_cast<int>(objects.RowCount()))
    fault(std::to_string(index.Count()) + " R-tree entries for " +
          std::to_string(objects.RowCount()) + " objects");
  for (uint32_t row = objects.First(); row != 0; row = objects.Next(row)) {
    const TGDBObjectRec rec = ReadRecord(row);
    ReadText(rec.AttributeID);
    ReadText(rec.UserID);
    TGMemoryStream data;
    ReadData(rec.DataID, data);
    TGMER at = rec.MER;
    at.iWidthX = std::max(at.iWidthX, 1);
    at.iHeightY = std::max(at.iHeightY, 1);
    bool found = false;
    index.Search(at, 0, [&](uint32_t id, bool& abort) {
      found = found || id == row;
      abort = found;
    });
    if (!found) fault("object " + SDBRowText(row) + " is not in the R-tree under its rectangle");
  }
}

void TGSDBLayer::RebuildSpatialIndex()
{
  TGRTreeIndex& index = SpatialIndex();
  index.Clear();
  TGSDBTable& objects = ObjectTable();
  for (uint32_t row = objects.First(); row != 0; row = objects.Next(row))
    index.Insert(ReadRecord(row).MER, row);
  index.Flush();
}

TGDBObjectRec TGSDBLayer::ReadRecord(uint32_t rowID)
{
  TGMemoryStream s;
  ObjectTable().ReadStream(rowID, s);
  if (s.Size() != kDBObjectRecSize)
    throw EGException("SDBLayer " + Name() + ": row " + SDBRowText(rowID) +
                      " is not an object record");
  s.SetPosition(0);
  TGStreamReader reader(s);
  return ReadDBObjectRec(reader);
}

uint32_t TGSDBLayer::AppendRecord(const TGDBObjectRec& rec)
{
  TGMemoryStream s;
  TGStreamWriter writer(s);
  WriteDBObjectRec(writer, rec);
  return ObjectTable().AppendStream(s, true);
}

void TGSDBLayer::UpdateRecord(uint32_t rowID, const TGDBObjectRec& rec)
{
  TGMemoryStream s;
  TGStreamWriter writer(s);
  WriteDBObjectRec(writer, rec);
  ObjectTable().UpdateStream(rowID, s);
}

std::string TGSDBLayer::ReadText(uint32_t rowID)
{
  return rowID == 0 ? std::string() : AttributeTable().ReadString(rowID);
}

uint32_t TGSDBLayer::ReplaceText(uint32_t oldRowID, const std::string& text)
{
  TGSDBTable& table = AttributeTable();
  const std::string trimmed = XMLTrim(text);
  if (oldRowID != 0) table.DeleteRow(oldRowID);
  return trimmed.empty() ? 0 : table.AppendString(trimmed);
}

void TGSDBLayer::ReadData(uint32_t rowID, TGStream& stream)
{
  if (rowID != 0) DataTable().ReadStream(rowID, stream);
}

uint32_t TGSDBLayer::ReplaceData(uint32_t oldRowID, TGStream& stream)
{
  TGSDBTable& table = DataTable();
  if (oldRowID != 0) table.DeleteRow(oldRowID);
  return table.AppendStream(stream, false);
}

uint32_t TGSDBLayer::FindBlob(const std::string& imageName)
{
  TGSDBTable& blobs = BlobTable();
  for (uint32_t nameRow = blobs.First(); nameRow != 0;) {
    const uint32_t dataRow = blobs.Next(nameRow);
    if (dataRow == 0)
      throw EGException("SDBLayer " + Name() + ": image " + SDBRowText(nameRow) + " has no data");
    if (blobs.ReadString(nameRow) == imageName) return dataRow;
    nameRow = blobs.Next(dataRow);
  }
  return 0;
}

void TGSDBLayer::StoreBlob(const std::string& imageName, TGStream& stream)
{
  TGSDBTable& blobs = BlobTable();
  for (uint32_t nameRow = blobs.First(); nameRow != 0;) {
    const uint32_t dataRow = blobs.Next(nameRow);
    if (dataRow == 0) break;
    const uint32_t after = blobs.Next(dataRow);
    if (blobs.ReadString(nameRow) == imageName) {
      blobs.DeleteRow(nameRow);
      blobs.DeleteRow(dataRow);
    }
    nameRow = after;
  }
  // An image is two rows in a row: its name (8-bit text), then its bytes.
  blobs.AppendString(imageName);
  blobs.AppendStream(stream, false);
}

// ---------------------------------------------------------------------------------------------
// TGSDBLayerList

TGSDBLayerList::TGSDBLayerList(TGSDBSysRoot& sysRoot) : FSysRoot(&sysRoot)
{
  RegisterSDBLayerClass();
  TGSDBTable* table = FSysRoot->FindObjectTable("TGSDBLayer");
  if (!table) return;
  for (uint32_t row = table->First(); row != 0; row = table->Next(row)) {
    std::unique_ptr<TGSDBLayer> layer = FSysRoot->CreateObjectAs<TGSDBLayer>("TGSDBLayer", row);
    layer->SetLayerList(this);
    FSDBLayers.push_back(std::move(layer));
  }
}

TGSDBLayerList::~TGSDBLayerList() = default;

TGSDBKeyIndex& TGSDBLayerList::LayerPropertyIndex()
{
  if (!FLayerPropertyIndex) {
    FLayerPropertyIndex =
        FSysRoot->CreateObjectByNameAs<TGSDBKeyIndexTable>("TGSDBKeyIndex", "LayerPropIndex");
    if (!FLayerPropertyIndex) {
      FLayerPropertyIndex = std::make_unique<TGSDBKeyIndexTable>();
      FLayerPropertyIndex->Create(*FSysRoot, "LayerPropIndex");
    }
  }
  return FLayerPropertyIndex->Keys();
}

void TGSDBLayerList::Changed()
{
  if (OnLayersChanged) OnLayersChanged();
}

TGSDBLayer& TGSDBLayerList::NewLayer(const std::string& layerName)
{
  return NewLayer(layerName, NewGUID());
}

TGSDBLayer& TGSDBLayerList::NewLayer(const std::string& layerName, const TGUID& ID)
{
  if (layerName.empty()) throw EGException("NewLayer: a layer needs a name");
  auto layer = std::make_unique<TGSDBLayer>();
  layer->Create(*FSysRoot, layerName);
  layer->SetLayerID(ID);
  layer->SetLayerList(this);
  FSysRoot->SaveObject(*layer);
  FSDBLayers.push_back(std::move(layer));
  Changed();
  return *FSDBLayers.back();
}

void TGSDBLayerList::DeleteLayer(TGSDBLayer& sdbLayer)
{
  const auto it = std::find_if(FSDBLayers.begin(), FSDBLayers.end(),
                               [&sdbLayer](const auto& l) { return l.get() == &sdbLayer; });
  if (it == FSDBLayers.end())
    throw EGException("Cannot delete layer. Layer does not belong to this SDB");
  sdbLayer.DeleteParts();
  FSysRoot->DeleteObject(sdbLayer);
  FSDBLayers.erase(it);
  Flush();
  FSysRoot->Flush();
  Changed();
}

TGSDBLayer* TGSDBLayerList::LayerByName(const std::string& layerName) const
{
  for (const auto& layer : FSDBLayers)
    if (layer->Name() == layerName) return layer.get();
  return nullptr;
}

TGSDBLayer* TGSDBLayerList::LayerByID(const TGUID& ID) const
{
  for (const auto& layer : FSDBLayers)
    if (layer->LayerID() == ID) return layer.get();
  return nullptr;
}

TGSDBLayer* TGSDBLayerList::CopyLayer(TGSDBLayer& layer, const std::string& sName)
{
  if (FSysRoot->PageCache().ReadOnly()) return nullptr;
  LogManager().Trace(2, "CopyLayer: " + layer.Name() + " to " + sName);
  // A copy from another database keeps the identifier (so a compacted file keeps every one),
  // unless this database holds that identifier already.
  const bool keepID = layer.LayerList() != this && !LayerByID(layer.LayerID());
  TGSDBLayer& target = NewLayer(sName, keepID ? layer.LayerID() : NewGUID());
  target.MetaData().Lines() = FromCommaText(ToCommaText(layer.MetaData().Lines()));
  target.SetMetaDataModified();
  target.SetBulkLoad(true);
  TGSDBTable& objects = layer.ObjectTable();
  for (uint32_t row = objects.First(); row != 0; row = objects.Next(row)) {
    TGDBObjectRec rec = layer.ReadRecord(row);
    rec.AttributeID = target.ReplaceText(0, layer.ReadText(rec.AttributeID));
    rec.UserID = target.ReplaceText(0, layer.ReadText(rec.UserID));
    if (rec.DataID != 0) {
      TGMemoryStream data;
      layer.ReadData(rec.DataID, data);
      rec.DataID = target.ReplaceData(0, data);
    }
    target.AppendRecord(rec);
  }
  TGSDBTable& blobs = layer.BlobTable();
  for (uint32_t nameRow = blobs.First(); nameRow != 0;) {
    const uint32_t dataRow = blobs.Next(nameRow);
    if (dataRow == 0) break; // a name without data copies nothing
    TGMemoryStream data;
    blobs.ReadStream(dataRow, data);
    target.BlobTable().AppendString(blobs.ReadString(nameRow));
    target.BlobTable().AppendStream(data, false);
    nameRow = blobs.Next(dataRow);
  }
  target.SetBulkLoad(false);
  target.RebuildSpatialIndex();
  return &target;
}

void TGSDBLayerList::Flush()
{
  for (const auto& layer : FSDBLayers)
    layer->Flush();
  if (FLayerPropertyIndex) FLayerPropertyIndex->Flush();
}

} // namespace vtr
