// The database object source and what serves it: objects stored and read back, objects edited
// and posted moving in the R-tree, deletion, the edit and blob caches, images, the XML form,
// links outliving their layer, and globes following one database.
#include "globe/GGlobe.h"
#include "globe/GSDBObjectSource.h"
#include "globe/GXML.h"

#include "GlobeTestSupport.h"
#include "SDBTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace vtr {
namespace {

using vtrtest::Bytes;
using vtrtest::ErrorText;

std::set<TGPrimaryKey> Keys(TGObjectSource& source, const TGMER& m)
{
  std::set<TGPrimaryKey> keys;
  source.ForEach(m, [&](TGPrimaryKey k) {
    keys.insert(k);
    return true;
  });
  return keys;
}

TGMER Around(double lon, double lat)
{
  const TGPointLL p = DDToPointLL(lon, lat);
  return {p.iLongX - 10000, p.iLatY - 10000, 20001, 20001};
}

class SDBSource : public ::testing::Test
{
protected:
  void SetUp() override
  {
    db = std::make_unique<TGSpatialDatabase>(fs);
    db->SetDataSourceName("temp.sdb");
    db->Open();
    layerID = db->CreateLayer("Units");
    source = NewSource();
  }
  std::unique_ptr<TGSDBObjectSource> NewSource()
  {
    auto s = std::make_unique<TGSDBObjectSource>();
    s->SetSDB(db.get());
    s->SetUniqueID(layerID);
    return s;
  }

  vtrtest::SDBFaultFileSystem fs;
  std::unique_ptr<TGSpatialDatabase> db;
  TGUID layerID;
  std::unique_ptr<TGSDBObjectSource> source;
};

TEST_F(SDBSource, ObjectsAreStoredAndReadBackWhole)
{
  auto point = vtrtest::TestPoint(-1.5, 51.25, "\"HMS Example, F99\"", "42", 3);
  point->SetHidden(true);
  auto square = vtrtest::TestSquare(170, -10, 9, "Wide");
  source->Add(point);
  source->Add(square);
  EXPECT_NE(point->PrimaryKey(), 0);
  EXPECT_FALSE(point->Modified());
  EXPECT_EQ(source->ObjectCount(), 2);
  source->Add(point); // added again: still one record
  NewSource()->Add(square);
  EXPECT_EQ(source->ObjectCount(), 2);
  db->Close();
  db->Open();

  auto back = source->ByPrimaryKey(point->PrimaryKey());
  ASSERT_TRUE(back);
  EXPECT_NE(back.get(), point.get());
  EXPECT_EQ(back->ObjectSource(), source.get());
  EXPECT_EQ(back->Centroid(), point->Centroid());
  EXPECT_EQ(back->GetAttribute(0), "HMS Example, F99");
  EXPECT_EQ(back->UserID(), "42");
  EXPECT_EQ(back->PresenterID(), 3);
  EXPECT_TRUE(back->Hidden());
  EXPECT_FALSE(back->Modified());

  auto poly = std::dynamic_pointer_cast<IGMapPoly>(source->ByPrimaryKey(square->PrimaryKey()));
  ASSERT_TRUE(poly);
  EXPECT_TRUE(poly->Closed());
  ASSERT_EQ(poly->Chains().Count(), 1);
  const auto points = [](IGMapPoly& p) {
    const auto& pts = p.Chains().GetChain(0).Points();
    return std::vector<TGPointLL>(pts.begin(), pts.end());
  };
  EXPECT_EQ(points(*poly), points(dynamic_cast<IGMapPoly&>(*square)));
  EXPECT_EQ(poly->ObjectMER(), square->ObjectMER());
  EXPECT_TRUE(Keys(*source, Around(175, -5)).contains(square->PrimaryKey()));
  EXPECT_FALSE(Keys(*source, Around(150, -5)).contains(square->PrimaryKey()));

  EXPECT_EQ(source->ByPrimaryKey(0), nullptr);
  EXPECT_EQ(source->ByPrimaryKey(SDBRowID(1, 200)), nullptr) << "a key naming no record";
  db->CheckIntegrity();
}

TEST_F(SDBSource, EditedAndPostedObjectsMoveInTheRTree)
{
  std::vector<std::shared_ptr<IGMapPoint>> points;
  for (int i = 0; i < 120; ++i) {
    points.push_back(vtrtest::TestPoint(i % 12, i / 12, "P" + std::to_string(i)));
    source->Add(points.back());
  }
  auto other = NewSource(); // a second source on the same layer, as a second globe has
  for (int i = 0; i < 120; i += 10) {
    auto obj = source->ByPrimaryKey(points[static_cast<size_t>(i)]->PrimaryKey());
    obj->Edit();
    obj->SetCentroid(DDToPointLL(100 + i / 10, -40));
    // While being edited the other source hands out the same object.
    EXPECT_EQ(other->ByPrimaryKey(obj->PrimaryKey()), obj);
    obj->SetAttribute(1, "moved");
    obj->Post();
    EXPECT_FALSE(db->EditCache().Contains(layerID, obj->PrimaryKey()));
  }
  for (int i = 0; i < 120; ++i) {
    const TGPrimaryKey key = points[static_cast<size_t>(i)]->PrimaryKey();
    const bool moved = i % 10 == 0;
    EXPECT_EQ(Keys(*other, Around(i % 12, i / 12)).contains(key), !moved) << i;
    if (moved) {
      EXPECT_TRUE(Keys(*other, Around(100 + i / 10, -40)).contains(key)) << i;
      EXPECT_EQ(other->ByPrimaryKey(key)->GetAttribute(1), "moved");
    }
  }
  EXPECT_EQ(db->Layers().LayerByID(layerID)->SpatialIndex().Count(), 120);
  db->CheckIntegrity();

  // An object posted without change is let go by the edit cache all the same.
  auto same = source->ByPrimaryKey(points[1]->PrimaryKey());
  same->Edit();
  same->SetModified(false);
  same->Post();
  EXPECT_EQ(db->EditCache().Count(), 0);
}

TEST_F(SDBSource, DeletedObjectsLeaveTheirRowsTheIndexAndTheCaches)
{
  auto a = vtrtest::TestSquare(10, 10, 1, "A");
  auto b = vtrtest::TestPoint(12, 12, "B", "b-user");
  source->Add(a);
  source->Add(b);
  TGSDBLayer& layer = *db->Layers().LayerByID(layerID);
  const uint32_t texts = layer.AttributeTable().RowCount();
  auto held = source->ByPrimaryKey(b->PrimaryKey());
  held->Edit(); // in the edit cache
  const TGPrimaryKey key = held->PrimaryKey();
  held->Delete();
  EXPECT_EQ(held->ObjectSource(), nullptr);
  EXPECT_EQ(source->ByPrimaryKey(key), nullptr) << "not handed out from the edit cache";
  EXPECT_EQ(layer.AttributeTable().RowCount(), texts - 2) << "title and user identifier";
  EXPECT_EQ(source->ObjectCount(), 1);
  EXPECT_EQ(Keys(*source, Around(12, 12)), std::set<TGPrimaryKey>{});
  source->ByPrimaryKey(a->PrimaryKey())->Delete();
  EXPECT_EQ(layer.DataTable().RowCount(), 0u);
  EXPECT_EQ(layer.SpatialIndex().Count(), 0);
  db->CheckIntegrity();
}

TEST_F(SDBSource, ObjectCachesKeepLayersApartAndMakeRoom)
{
  TGMapObjectCache none(1);
  none.Add(layerID, 1, vtrtest::TestPoint(0, 0, "x"));
  EXPECT_EQ(none.Count(), 0) << "a cache of size 1 keeps nothing";

  TGMapObjectCache cache(10);
  const TGUID otherLayer = NewGUID();
  auto p = vtrtest::TestPoint(0, 0, "p");
  cache.Add(layerID, 5, p);
  cache.Add(otherLayer, 5, vtrtest::TestPoint(0, 0, "q"));
  EXPECT_EQ(cache.Find(layerID, 5), p);
  EXPECT_NE(cache.Find(otherLayer, 5), p) << "one row identifier in two layers";
  EXPECT_EQ(ErrorText([&] { cache.Add(layerID, 5, p); }), "Already in cache");
  for (int i = 0; i < 30; ++i)
    cache.Add(layerID, 100 + i, vtrtest::TestPoint(i, 0, "r"));
  EXPECT_LE(cache.Count(), 10);
  EXPECT_TRUE(cache.Contains(layerID, 129)) << "the newest stays";
  EXPECT_FALSE(cache.Contains(layerID, 5)) << "the oldest went";
  cache.RemoveLayer(layerID);
  EXPECT_TRUE(cache.Objects(layerID).empty());

  // Rasters read from the database go into the blob cache of their layer.
  auto raster = std::make_shared<TGMapRaster>();
  raster->SetCentroid(DDToPointLL(5, 5));
  source->Add(raster);
  auto back = source->ByPrimaryKey(raster->PrimaryKey());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->ClassName(), "TGMapRaster");
  EXPECT_EQ(db->BlobCache().Find(layerID, raster->PrimaryKey()), back);
  EXPECT_EQ(source->ByPrimaryKey(raster->PrimaryKey()), back);
  source->IgnoreIfCached = true;
  EXPECT_EQ(source->ByPrimaryKey(raster->PrimaryKey()), nullptr);
}

TEST_F(SDBSource, ObjectsOutlivingTheirLayerFailCleanly)
{
  auto p = vtrtest::TestPoint(1, 1, "p");
  source->Add(p);
  auto held = source->ByPrimaryKey(p->PrimaryKey());
  db->DeleteLayer(layerID);
  EXPECT_FALSE(source->IsValid());
  EXPECT_EQ(source->ByPrimaryKey(p->PrimaryKey()), nullptr);
  held->SetCentroid(DDToPointLL(2, 2));
  EXPECT_TRUE(ErrorText([&] { held->Post(); }).find("no longer open") != std::string::npos);
  db.reset(); // the database goes first: the source notices
  EXPECT_EQ(source->SDB(), nullptr);
  EXPECT_EQ(source->ObjectCount(), 0);
}

TEST_F(SDBSource, XMLNamesTheLayerAndBindsAgain)
{
  source->Add(vtrtest::TestPoint(1, 1, "p"));
  TGXML_Document doc("ObjectSource");
  source->SaveToXML(doc.Document());
  EXPECT_EQ(doc.Document().Attribute("Class"), "TGSDBObjectSource");
  EXPECT_EQ(doc.Document().Attribute("SourceName"), "Units");
  EXPECT_EQ(doc.Document().Attribute("ID"), GUIDToString(layerID));
  TGSDBObjectSource loaded;
  loaded.SetSDB(db.get());
  loaded.LoadFromXML(doc.Document());
  EXPECT_TRUE(loaded.IsValid());
  EXPECT_EQ(loaded.Name(), "Units");
  EXPECT_EQ(loaded.ObjectCount(), 1);

  // The layer is found by name when the GUID names none.
  doc.Document().AddAttribute("ID", GUIDToString(NewGUID()));
  TGSDBObjectSource byName;
  byName.SetSDB(db.get());
  byName.LoadFromXML(doc.Document());
  EXPECT_EQ(byName.UniqueID(), layerID);
}

TEST_F(SDBSource, ImagesAreKeptInBlobPairs)
{
  TGMemoryStream a(Bytes{1, 2, 3});
  TGMemoryStream b(Bytes{9, 8});
  source->ImportImageStream("a.png", a);
  source->ImportImageStream("b.png", b);
  TGMemoryStream again(Bytes{4, 5, 6, 7});
  source->ImportImageStream("a.png", again); // replaces
  TGSDBLayer& layer = *db->Layers().LayerByID(layerID);
  EXPECT_EQ(layer.BlobTable().RowCount(), 4u);
  TGMemoryStream out;
  source->ExportImageStream("a.png", out);
  EXPECT_EQ(out.Bytes(), (Bytes{4, 0, 0, 0, 4, 5, 6, 7}));
  TGMemoryStream none;
  source->ExportImageStream("missing.png", none);
  EXPECT_EQ(none.Size(), 0);
  EXPECT_EQ(source->ImportImage("no-such-file.png"), "no-such-file.png");
}

// Two globes on one database show the same layers and objects: a layer made, objects added
// through one globe's source, and a layer deleted reach the other globe; layers of memory
// sources stay.
TEST_F(SDBSource, TwoGlobesOnOneDatabaseSeeEachOthersChanges)
{
  TGGlobe a;
  TGGlobe b;
  auto memory = std::make_unique<TGLayer>(&b);
  memory->SetName("Scratch");
  b.Layers().Add(std::move(memory));
  int progressEnds = 0;
  a.OnProgress = [&](TGGlobe&, TGProgressType kind, int32_t, double) {
    progressEnds += kind == pProgressEnd;
  };
  a.SetSpatialDatabase(db.get());
  b.SetSpatialDatabase(db.get());
  EXPECT_EQ(a.SpatialDatabase(), db.get());
  EXPECT_GE(progressEnds, 1);
  ASSERT_TRUE(a.Layers().LayerByName("Units"));
  ASSERT_TRUE(b.Layers().LayerByName("Units"));
  EXPECT_EQ(b.Layers().Count(), 2);

  const TGUID world = db->ImportLayer(vtrtest::TestReader("World", 10).get());
  TGLayer* worldA = a.Layers().LayerByID(world);
  TGLayer* worldB = b.Layers().LayerByID(world);
  ASSERT_TRUE(worldA);
  ASSERT_TRUE(worldB);
  EXPECT_EQ(worldB->Name(), "World");
  EXPECT_EQ(worldB->ObjectSource().ObjectCount(), 10);

  TGObjectSource& unitsA = a.Layers().LayerByName("Units")->ObjectSource();
  TGObjectSource& unitsB = b.Layers().LayerByName("Units")->ObjectSource();
  EXPECT_EQ(unitsA.ClassName(), "TGSDBObjectSource");
  auto unit = vtrtest::TestPoint(-5, 50, "Frigate", "17", 3);
  unitsA.Add(unit);
  auto seen = b.Layers().LayerByName("Units")->ObjectByUserID("17");
  ASSERT_TRUE(seen);
  EXPECT_EQ(seen->GetAttribute(0), "Frigate");
  EXPECT_EQ(seen->ObjectSource(), &unitsB);
  seen->Edit();
  seen->SetCentroid(DDToPointLL(-6, 49));
  seen->Post();
  EXPECT_EQ(unitsA.ByPrimaryKey(unit->PrimaryKey())->Centroid(), DDToPointLL(-6, 49));

  db->DeleteLayer(world);
  EXPECT_FALSE(a.Layers().LayerByID(world));
  EXPECT_FALSE(b.Layers().LayerByID(world));
  EXPECT_TRUE(b.Layers().LayerByName("Scratch")) << "a memory layer stays";

  // Closing and reopening keeps the globe layers; their sources find their layers again.
  db->Close();
  EXPECT_FALSE(unitsA.IsValid());
  db->Open();
  EXPECT_EQ(unitsA.ObjectCount(), 1);
  b.SetSpatialDatabase(nullptr);
  EXPECT_EQ(b.SpatialDatabase(), nullptr);
  db->CreateLayer("Later");
  EXPECT_TRUE(a.Layers().LayerByName("Later"));
  EXPECT_FALSE(b.Layers().LayerByName("Later")) << "a globe let go no longer follows";
}

TEST_F(SDBSource, AMissingLayerAsksTheGlobeAndSearchesAgain)
{
  TGGlobe globe;
  globe.SetSpatialDatabase(db.get());
  int asked = 0;
  globe.OnMissingLayer = [&](TGGlobe&, const std::string& layerName, const std::string&,
                             bool& retry, TGXML_Element&) {
    ++asked;
    EXPECT_EQ(layerName, "Tracks");
    if (asked == 1) {
      db->CreateLayer("Tracks");
      retry = true;
    }
  };
  TGSDBObjectSource tracks(&globe);
  tracks.SetName("Tracks");
  tracks.SetUniqueID(NewGUID());
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(tracks.IsValid());
  EXPECT_EQ(tracks.UniqueID(), db->Layers().LayerByName("Tracks")->LayerID());
  // A handler that always asks again does not hold the program.
  globe.OnMissingLayer = [&](TGGlobe&, const std::string&, const std::string&, bool& retry,
                             TGXML_Element&) {
    ++asked;
    retry = true;
  };
  TGSDBObjectSource never(&globe);
  never.SetName("Nowhere");
  never.SetUniqueID(NewGUID());
  EXPECT_FALSE(never.IsValid());
  EXPECT_EQ(asked, 1 + 1 + TGSDBObjectSource::kMissingLayerRetries);
}

} // namespace
} // namespace vtr
