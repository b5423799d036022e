// The spatial database component: opening and closing with events and observer codes, layer
// creation and deletion, import from a reader (twice, and failing part way), compaction that
// keeps every layer byte for byte, damaged files refused cleanly, read-only refusals,
// transactions and change notification.
#include "LYRFileWriter.h"
#include "globe/GLYRReader.h"
#include "globe/GPresenter.h"
#include "globe/GSDBObjectSource.h"
#include "globe/GSpatialDatabase.h"

#include "GlobeTestSupport.h"
#include "SDBTestSupport.h"

#include <gtest/gtest.h>

#include <map>

namespace vtr {
namespace {

using vtrtest::Bytes;
using vtrtest::ErrorText;
const auto& Has = vtrtest::HasText;

struct Recorder : TGSpatialDatabaseSubscriber
{
  void SpatialDatabaseNotification(TGSpatialDatabase&, int32_t code) override
  {
    codes.push_back(code);
  }
  std::vector<int32_t> codes;
};

// Everything a layer holds, with row identifiers replaced by what they name.
struct LayerSnapshot
{
  std::string Name;
  std::string ID;
  TextLines MetaData;
  struct Object
  {
    TGDBObjectRec Rec; // row references zeroed
    std::string CSL;
    std::string UserID;
    Bytes Geometry;
    bool operator==(const Object&) const = default;
  };
  std::vector<Object> Objects;
  std::vector<std::pair<std::string, Bytes>> Blobs;
  bool operator==(const LayerSnapshot&) const = default;
};

LayerSnapshot Snapshot(TGSDBLayer& layer)
{
  LayerSnapshot s;
  s.Name = layer.Name();
  s.ID = layer.IDText();
  s.MetaData = layer.MetaData().Lines();
  TGSDBTable& objects = layer.ObjectTable();
  for (uint32_t row = objects.First(); row != 0; row = objects.Next(row)) {
    LayerSnapshot::Object o;
    o.Rec = layer.ReadRecord(row);
    o.CSL = layer.ReadText(o.Rec.AttributeID);
    o.UserID = layer.ReadText(o.Rec.UserID);
    TGMemoryStream data;
    layer.ReadData(o.Rec.DataID, data);
    o.Geometry = data.Bytes();
    o.Rec.AttributeID = o.Rec.UserID = o.Rec.DataID = 0;
    s.Objects.push_back(std::move(o));
  }
  TGSDBTable& blobs = layer.BlobTable();
  for (uint32_t r = blobs.First(); r != 0; r = blobs.Next(blobs.Next(r)))
    s.Blobs.emplace_back(blobs.ReadString(r), blobs.ReadBuffer(blobs.Next(r)));
  return s;
}

std::vector<LayerSnapshot> Snapshot(TGSpatialDatabase& db)
{
  std::vector<LayerSnapshot> all;
  for (int i = 0; i < db.Layers().Count(); ++i)
    all.push_back(Snapshot(db.Layers().Layer(i)));
  return all;
}

class SDBDatabase : public ::testing::Test
{
protected:
  void SetUp() override { db = Make("temp.sdb"); }
  std::unique_ptr<TGSpatialDatabase> Make(const std::string& name)
  {
    auto d = std::make_unique<TGSpatialDatabase>(fs);
    d->SetDataSourceName(name);
    return d;
  }
  int64_t FileSize(const std::string& name)
  {
    return static_cast<int64_t>(fs.Contents(fs.FullPath(name)).size());
  }
  TGSDBObjectSource& SourceFor(const TGUID& id)
  {
    sources.push_back(std::make_unique<TGSDBObjectSource>());
    sources.back()->SetSDB(db.get());
    sources.back()->SetUniqueID(id);
    return *sources.back();
  }

  vtrtest::SDBFaultFileSystem fs;
  std::unique_ptr<TGSpatialDatabase> db;
  std::vector<std::unique_ptr<TGSDBObjectSource>> sources;
};

TEST_F(SDBDatabase, OpeningAndClosingRaiseEventsAndObserverCodesInOrder)
{
  Recorder rec;
  std::vector<std::string> events;
  db->Subscribe(&rec);
  db->OnBeforeOpen = [&](TGSpatialDatabase& d) {
    events.push_back("beforeOpen" + std::to_string(d.Active()));
  };
  db->OnAfterOpen = [&](TGSpatialDatabase& d) {
    events.push_back("afterOpen" + std::to_string(d.Active()));
  };
  db->OnBeforeClose = [&](TGSpatialDatabase&) { events.push_back("beforeClose"); };
  db->OnAfterClose = [&](TGSpatialDatabase& d) {
    events.push_back("afterClose" + std::to_string(d.Active()));
  };
  db->Open();
  ASSERT_TRUE(db->Active());
  db->Close();
  EXPECT_EQ(rec.codes, (std::vector<int32_t>{0, 1, 2, 3}));
  EXPECT_EQ(events,
            (std::vector<std::string>{"beforeOpen0", "afterOpen1", "beforeClose", "afterClose0"}));

  auto unnamed = Make("  ");
  unnamed->Open();
  EXPECT_FALSE(unnamed->Active()) << "a blank name keeps the database closed";
  EXPECT_EQ(ErrorText([&] { unnamed->Layers(); }), "SpatialDatabase: not open");
  db->UnSubscribe(&rec);
}

TEST_F(SDBDatabase, LayersAreCreatedFoundAndDeletedAndSurviveReopening)
{
  db->Open();
  const TGUID units = db->CreateLayer("Units");
  const TGUID arrows = db->CreateLayer("DirArrows");
  EXPECT_NE(units, arrows);
  ASSERT_TRUE(db->Layers().LayerByName("Units"));
  EXPECT_FALSE(db->Layers().LayerByName("units")) << "layer names are exact";
  EXPECT_EQ(db->Layers().LayerByID(arrows)->Name(), "DirArrows");
  TGSDBObjectSource& source = SourceFor(units);
  source.Add(vtrtest::TestPoint(10, 20, "A", "7"));
  db->Close();
  db->Open();
  ASSERT_EQ(db->Layers().Count(), 2);
  EXPECT_EQ(db->Layers().LayerByID(units)->ObjectCount(), 1);
  db->DeleteLayer(units);
  EXPECT_EQ(db->Layers().Count(), 1);
  EXPECT_FALSE(db->Layers().LayerByID(units));
  EXPECT_EQ(source.ObjectCount(), 0) << "the source lets go of the deleted layer";
  db->DeleteLayer(units); // gone already: nothing happens
  db->CheckIntegrity();
  db->Close();
  db->Open();
  EXPECT_EQ(db->Layers().Count(), 1);
  EXPECT_FALSE(db->Layers().LayerByName("Units"));

  // A layer of another database is refused.
  auto other = Make("other.sdb");
  other->Open();
  TGSDBLayer& foreign = other->Layers().NewLayer("Foreign");
  EXPECT_EQ(ErrorText([&] { db->Layers().DeleteLayer(foreign); }),
            "Cannot delete layer. Layer does not belong to this SDB");
  EXPECT_TRUE(other->Layers().LayerByName("Foreign"));
}

TEST_F(SDBDatabase, ReadOnlyDatabasesRefuseChangesWithTheirMessages)
{
  db->Open();
  const TGUID id = db->CreateLayer("Units");
  SourceFor(id).Add(vtrtest::TestPoint(1, 2, "kept"));
  db->Close();
  db->SetReadOnly(true);
  db->Open();
  ASSERT_TRUE(db->ReadOnly());
  auto reader = vtrtest::TestReader("World", 3);
  const struct
  {
    const char* expected;
    std::function<void()> action;
  } cases[] = {
      {"CreateLayer: SDB is ReadOnly", [&] { db->CreateLayer("More"); }},
      {"DeleteLayer: SDB is ReadOnly", [&] { db->DeleteLayer(id); }},
      {"ImportLayer: SDB is ReadOnly", [&] { db->ImportLayer(reader.get()); }},
      {"Compact: SDB is ReadOnly", [&] { db->Compact(); }},
      {"TGSDBDataLink.Post: SDB is ReadOnly",
       [&] {
         auto obj = SourceFor(id).ByPrimaryKey(SourceFor(id).First());
         obj->Edit();
         obj->SetCentroid(DDToPointLL(5, 5));
         obj->Post();
       }},
  };
  EXPECT_EQ(db->Layers().CopyLayer(db->Layers().Layer(0), "Copy"), nullptr);
  const Bytes before = fs.Contents(fs.FullPath("temp.sdb"));
  for (const auto& c : cases)
    EXPECT_EQ(ErrorText(c.action), c.expected);
  EXPECT_EQ(db->Layers().Count(), 1);
  EXPECT_EQ(SourceFor(id).ObjectCount(), 1);
  db->Close();
  EXPECT_EQ(fs.Contents(fs.FullPath("temp.sdb")), before) << "nothing was written";
}

TEST_F(SDBDatabase, ImportingTwiceGivesTwoLayersOfOneName)
{
  db->Open();
  auto reader = vtrtest::TestReader("WorldOutline", 40);
  reader->Presenters().Add(std::make_unique<TGPolygonPresenter>());
  const TGUID first = db->ImportLayer(reader.get());
  const TGUID second = db->ImportLayer(reader.get());
  EXPECT_NE(first, second);
  EXPECT_NE(first, NullGUID);
  EXPECT_EQ(reader->ObjectSource(), nullptr) << "the reader is not left pointing at a gone source";
  ASSERT_EQ(db->Layers().Count(), 2);
  EXPECT_EQ(db->Layers().LayerByName("WorldOutline")->LayerID(), first);
  TGSDBLayer& layer = *db->Layers().LayerByID(second);
  EXPECT_EQ(layer.ObjectCount(), 40);
  EXPECT_EQ(layer.MetaData().Value("SourceName"), "WorldOutline.lyr");
  EXPECT_EQ(layer.MetaData().Value("ColumnNames"), "Title");
  EXPECT_TRUE(Has(layer.MetaData().Value("PresenterXML"), "TGPolygonPresenter"));
  EXPECT_EQ(db->ImportLayer(nullptr), NullGUID);

  // The bound source takes the presenters, name and metadata; the objects read back.
  TGSDBObjectSource& source = SourceFor(second);
  EXPECT_EQ(source.Name(), "WorldOutline");
  EXPECT_EQ(source.SourceName(), "WorldOutline.lyr");
  ASSERT_EQ(source.Presenters().Count(), 1);
  EXPECT_EQ(source.Presenters().GetPresenter(0).ClassName(), "TGPolygonPresenter");
  int n = 0;
  auto it = source.NewIterator();
  for (auto obj = it->First(); obj; obj = it->Next(), ++n)
    EXPECT_TRUE(Has(obj->GetAttribute(0), "Object ")) << obj->ObjectDataCSL();
  EXPECT_EQ(n, 40);
  db->CheckIntegrity();
}

TEST_F(SDBDatabase, AnImportThatFailsPartWayLeavesNoLayer)
{
  db->Open();
  db->CreateLayer("Before");
  auto reader = vtrtest::TestReader("Broken", 30);
  reader->FailAt = 17;
  EXPECT_EQ(ErrorText([&] { db->ImportLayer(reader.get()); }), "SDBTestReader: damaged record");
  EXPECT_EQ(db->Layers().Count(), 1);
  EXPECT_FALSE(db->Layers().LayerByName("Broken"));
  db->CheckIntegrity();
  db->Close();
  db->Open();
  EXPECT_EQ(db->Layers().Count(), 1);
}

TEST_F(SDBDatabase, CompactingThenReopeningKeepsEveryLayerByteForByte)
{
  db->Open();
  const TGUID world = db->ImportLayer(vtrtest::TestReader("World", 300).get());
  const TGUID units = db->CreateLayer("Units");
  TGSDBObjectSource& source = SourceFor(units);
  std::vector<std::shared_ptr<IGMapPoint>> added;
  for (int i = 0; i < 200; ++i) {
    added.push_back(vtrtest::TestPoint(i % 90, i % 45, "Unit " + std::to_string(i),
                                       std::to_string(1000 + i), 1 + i % 6));
    source.Add(added.back());
  }
  TGMemoryStream image(Bytes{'B', 'M', 1, 2, 3, 4});
  source.ImportImageStream("flag.bmp", image);
  // Garbage to reclaim: deleted objects and a deleted layer.
  for (int i = 0; i < 200; i += 2)
    added[static_cast<size_t>(i)]->Delete();
  db->DeleteLayer(db->ImportLayer(vtrtest::TestReader("Scratch", 200).get()));
  db->Layers().LayerByID(world)->MetaData().SetValue("Extra", "a,b \"c\"");
  db->Layers().LayerByID(world)->SetMetaDataModified();
  db->Flush();
  const std::vector<LayerSnapshot> before = Snapshot(*db);
  ASSERT_EQ(before.size(), 2u);
  ASSERT_EQ(before[1].Objects.size(), 100u);

  const int64_t size = FileSize("temp.sdb");
  EXPECT_EQ(db->Compact(), size);
  EXPECT_TRUE(db->Active());
  EXPECT_LT(FileSize("temp.sdb"), size);
  EXPECT_FALSE(fs.Exists(fs.FullPath("temp.sdb.tmp")));
  db->Close();
  db->Open();
  EXPECT_EQ(Snapshot(*db), before);
  EXPECT_EQ(db->Layers().LayerByID(world)->MetaData().Value("Extra"), "a,b \"c\"");
  db->CheckIntegrity();
  // A source bound by GUID before compaction finds the layer again.
  EXPECT_EQ(source.ObjectCount(), 100);
  TGMemoryStream exported;
  source.ExportImageStream("flag.bmp", exported);
  EXPECT_EQ(exported.Bytes(), (Bytes{6, 0, 0, 0, 'B', 'M', 1, 2, 3, 4}));
}

// A real layer file: what the reader hands out is what the database gives back, before and
// after compacting and reopening.
TEST_F(SDBDatabase, LayerFilesImportWholeAndKeepThroughCompaction)
{
  vtrtest::TempFolder folder;
  const std::string file = folder.Path("Coast.lyr");
  {
    TGMemoryObjectSource source;
    auto presenter = std::make_unique<TGPolylinePresenter>();
    presenter->SetPresenterID(4);
    source.Presenters().Add(std::move(presenter));
    auto reader = vtrtest::TestReader("Coast", 60);
    for (const auto& obj : reader->Objects)
      source.Add(obj);
    source.MetaData().SetValue("ColumnNames", "Title");
    SaveLYRFile(file, source);
  }
  const auto read = [&file] {
    std::unique_ptr<TGFileDataReader> reader = DataReaderForFile(nullptr, file);
    std::vector<std::string> objects;
    for (auto obj = reader->First(); obj; obj = reader->Next())
      objects.push_back(obj->XML());
    return objects;
  };
  const std::vector<std::string> expected = read();
  ASSERT_EQ(expected.size(), 60u);

  db->Open();
  std::unique_ptr<TGFileDataReader> reader = DataReaderForFile(nullptr, file);
  ASSERT_TRUE(reader);
  const TGUID id = db->ImportLayer(reader.get());
  TGSDBLayer& layer = *db->Layers().LayerByID(id);
  EXPECT_EQ(layer.Name(), "Coast");
  EXPECT_EQ(layer.MetaData().Value("SourceName"), file);
  EXPECT_TRUE(Has(layer.MetaData().Value("PresenterXML"), "TGPolylinePresenter"));
  const auto stored = [&] {
    TGSDBObjectSource& source = SourceFor(id);
    std::vector<std::string> objects;
    auto it = source.NewIterator();
    for (auto obj = it->First(); obj; obj = it->Next())
      objects.push_back(obj->XML());
    return objects;
  };
  EXPECT_EQ(stored(), expected);
  const std::vector<LayerSnapshot> before = Snapshot(*db);
  db->Compact();
  db->Close();
  db->Open();
  EXPECT_EQ(Snapshot(*db), before);
  EXPECT_EQ(stored(), expected);
  db->CheckIntegrity();
}

TEST_F(SDBDatabase, CompactKeepsTheFileWhenTheCopyIsNotSmaller)
{
  db->Open();
  db->CreateLayer("Units");
  db->Flush();
  const Bytes before = fs.Contents(fs.FullPath("temp.sdb"));
  fs.SetContents(fs.FullPath("temp.sdb.tmp"), Bytes(10, 7)); // an old copy is cleared first
  EXPECT_EQ(db->Compact(), static_cast<int64_t>(before.size()));
  EXPECT_FALSE(fs.Exists(fs.FullPath("temp.sdb.tmp")));
  db->Close();
  EXPECT_EQ(fs.Contents(fs.FullPath("temp.sdb")), before) << "the database file was kept";
}

// Files that are not sound databases: opening raises EGSDBOpenError, the component stays
// closed, the file is left as it was, and the owner can set it aside and start a new one.
TEST_F(SDBDatabase, DamagedFilesAreRefusedCleanlyAndCanBeSetAside)
{
  db->Open();
  const TGUID id = db->ImportLayer(vtrtest::TestReader("World", 20).get());
  db->Close();
  const Bytes sound = fs.Contents(fs.FullPath("temp.sdb"));
  const auto header = [&](size_t offset, uint32_t value) {
    Bytes b = sound;
    for (int i = 0; i < 4; ++i)
      b[offset + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
    return b;
  };
  const uint32_t sysFirst = sound[22] | sound[23] << 8 | sound[24] << 16;
  const size_t rootPage = 4096 + size_t{sysFirst} * 8192;
  const struct
  {
    const char* name;
    Bytes bytes;
  } cases[] = {
      {"a text file", Bytes{'h', 'e', 'l', 'l', 'o', '\n'}},
      {"a header cut short", Bytes(sound.begin(), sound.begin() + 20)},
      {"another version",
       [&] {
         Bytes b = sound;
         b[0] = 5;
         return b;
       }()},
      {"a root page beyond the file", header(22, 5000)},
      {"a root page that is a map page", header(22, 0)},
      {"a root page with no used paragraphs",
       [&] {
         Bytes b = sound;
         b[rootPage + 8] = 0;
         b[rootPage + 9] = 0;
         return b;
       }()},
      {"a catalog part without paragraphs",
       [&] {
         Bytes b = sound;
         b[rootPage + 33] = 0;
         return b;
       }()},
      {"a catalog row cut at its zero byte",
       [&] {
         Bytes b = sound;
         for (size_t i = rootPage + 38; i < rootPage + 38 + 68; ++i)
           b[i] = 'x';
         return b;
       }()},
  };
  for (const auto& c : cases) {
    fs.SetContents(fs.FullPath("temp.sdb"), c.bytes);
    const std::string message = ErrorText([&] { db->Open(); });
    EXPECT_TRUE(Has(message, "Cannot open spatial database")) << c.name << ": " << message;
    EXPECT_FALSE(db->Active()) << c.name;
    EXPECT_EQ(fs.Contents(fs.FullPath("temp.sdb")), c.bytes) << c.name << ": the file is untouched";
    // The owner sets the file aside and starts anew.
    ASSERT_TRUE(fs.Rename(fs.FullPath("temp.sdb"), fs.FullPath("temp.sdb.bad"))) << c.name;
    db->Open();
    EXPECT_TRUE(db->Active()) << c.name;
    EXPECT_EQ(db->Layers().Count(), 0) << c.name;
    db->Close();
    fs.Delete(fs.FullPath("temp.sdb"));
  }
  // A layer header with a wrong magic is refused the same way.
  fs.SetContents(fs.FullPath("temp.sdb"), sound);
  db->Open();
  ASSERT_TRUE(db->Layers().LayerByID(id));
  db->Close();
  Bytes magic = fs.Contents(fs.FullPath("temp.sdb"));
  const Bytes layerMagic{0x00, 0x00, 0x52, 0x4C, static_cast<uint8_t>(id.D1)};
  const auto at = std::search(magic.begin(), magic.end(), layerMagic.begin(), layerMagic.end());
  ASSERT_NE(at, magic.end());
  at[2] = 0x53;
  fs.SetContents(fs.FullPath("temp.sdb"), magic);
  const std::string message = ErrorText([&] { db->Open(); });
  EXPECT_TRUE(Has(message, "Cannot open spatial database")) << message;
  EXPECT_TRUE(Has(message, "SDBLayer Magic check failed")) << message;
  EXPECT_FALSE(db->Active());
}

// Read-only, a missing or empty file is refused as any unsound file is, and stays as it was.
TEST_F(SDBDatabase, ReadOnlyOpeningOfAMissingOrEmptyFileCreatesNothing)
{
  const std::string path = fs.FullPath("temp.sdb");
  db->SetReadOnly(true);
  for (const bool exists : {false, true}) {
    if (exists) fs.SetContents(path, {});
    std::string message;
    try {
      db->Open();
    } catch (const EGSDBOpenError& e) {
      message = e.what();
    }
    EXPECT_EQ(message,
              "Cannot open spatial database " + path + ": FilePageCache: Cannot open " + path +
                  " read-only: " + (exists ? "the file is empty" : "the file does not exist"));
    EXPECT_FALSE(db->Active());
    EXPECT_EQ(fs.Exists(path), exists);
    EXPECT_TRUE(fs.Contents(path).empty());
  }
}

TEST_F(SDBDatabase, RollingBackATransactionRestoresTheLayers)
{
  db->Open();
  const TGUID kept = db->CreateLayer("Kept");
  db->BeginTransaction();
  EXPECT_TRUE(db->InTransaction());
  db->CreateLayer("Undone");
  SourceFor(kept).Add(vtrtest::TestPoint(3, 4, "undone too"));
  Recorder rec;
  db->Subscribe(&rec);
  db->RollbackTransaction();
  db->UnSubscribe(&rec);
  EXPECT_FALSE(db->InTransaction());
  EXPECT_EQ(rec.codes, std::vector<int32_t>{sdbChanged});
  ASSERT_EQ(db->Layers().Count(), 1);
  EXPECT_EQ(db->Layers().Layer(0).Name(), "Kept");
  EXPECT_EQ(SourceFor(kept).ObjectCount(), 0);
  db->CheckIntegrity();

  db->BeginTransaction();
  db->CreateLayer("Committed");
  db->CommitTransaction();
  db->Close();
  db->Open();
  EXPECT_TRUE(db->Layers().LayerByName("Committed"));
}

TEST_F(SDBDatabase, ClearStartsAnEmptyFile)
{
  db->Open();
  const TGUID id = db->CreateLayer("Units");
  TGSDBObjectSource& source = SourceFor(id);
  source.Add(vtrtest::TestPoint(1, 1, "gone"));
  db->Clear();
  EXPECT_TRUE(db->Active());
  EXPECT_EQ(db->Layers().Count(), 0);
  EXPECT_FALSE(source.IsValid());
  db->CreateLayer("Again");
  db->Close();
  db->Open();
  ASSERT_EQ(db->Layers().Count(), 1);
  EXPECT_EQ(db->Layers().Layer(0).Name(), "Again");
  db->Close();
  db->Clear(); // closed: the file goes
  EXPECT_FALSE(fs.Exists(fs.FullPath("temp.sdb")));
}

TEST_F(SDBDatabase, ChangesAreNotifiedOncePerUpdate)
{
  db->Open();
  Recorder rec;
  int changed = 0;
  db->Subscribe(&rec);
  db->OnChanged = [&](TGSpatialDatabase&) { ++changed; };
  const TGUID id = db->CreateLayer("Units");
  EXPECT_EQ(rec.codes, std::vector<int32_t>{sdbChanged});
  db->BeginUpdate();
  for (int i = 0; i < 5; ++i)
    SourceFor(id).Add(vtrtest::TestPoint(i, i, "u"));
  EXPECT_EQ(rec.codes.size(), 1u) << "nothing while the update is open";
  db->EndUpdate();
  EXPECT_EQ(rec.codes, (std::vector<int32_t>{sdbChanged, sdbChanged}));
  EXPECT_EQ(changed, 2);
  db->UnSubscribe(&rec);
}

} // namespace
} // namespace vtr
