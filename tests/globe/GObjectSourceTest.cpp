// Object sources: GUIDs, the memory source's slots and keys, iteration, presenters that follow
// objects between sources, copying, images and filling from a data reader.
#include "globe/GObjectSource.h"

#include "globe/GLayer.h"
#include "globe/GPresenter.h"

#include "GlobeTestSupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace vtr {
namespace {

std::shared_ptr<TGMapPoint> Point(const std::string& userID, int32_t lon = 0, int32_t lat = 0)
{
  auto p = std::make_shared<TGMapPoint>();
  p->SetUserID(userID);
  p->SetCentroid(PointLL(lon, lat));
  return p;
}

std::vector<TGPrimaryKey> Keys(TGObjectSource& source)
{
  std::vector<TGPrimaryKey> keys;
  for (TGPrimaryKey k = source.First(); k != 0; k = source.Next(k))
    keys.push_back(k);
  return keys;
}

std::vector<std::string> UserIDs(TGIterator& it)
{
  std::vector<std::string> ids;
  for (auto obj = it.First(); obj; obj = it.Next())
    ids.push_back(obj->UserID());
  return ids;
}

TEST(GUIDs, TextFormRoundTripsAndBadTextIsRefused)
{
  const TGUID id = NewGUID();
  const std::string text = GUIDToString(id);
  ASSERT_EQ(text.size(), 38u);
  EXPECT_EQ(text.front(), '{');
  EXPECT_EQ(text[15], '4'); // version 4
  EXPECT_EQ(StringToGUID(text), id);
  EXPECT_NE(NewGUID(), id);

  const TGUID fixed{0x0123ABCDu, 0x4567, 0x89EF, {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}};
  EXPECT_EQ(GUIDToString(fixed), "{0123ABCD-4567-89EF-FEDC-BA9876543210}");
  EXPECT_EQ(StringToGUID("{0123abcd-4567-89ef-fedc-ba9876543210}"), fixed);
  EXPECT_EQ(GUIDToString(NullGUID), "{00000000-0000-0000-0000-000000000000}");

  for (const char* bad :
       {"", "0123ABCD-4567-89EF-FEDC-BA9876543210", "{0123ABCD-4567-89EF-FEDC-BA987654321}",
        "{0123ABCD+4567-89EF-FEDC-BA9876543210}", "{0123ABCD-4567-89EF-FEDC-BA987654321G}"})
    EXPECT_FALSE(StringToGUID(bad).has_value()) << bad;
}

TEST(MemorySource, RemovedKeysGoToTheNextObjectsLowestFirst)
{
  TGMemoryObjectSource source;
  std::vector<std::shared_ptr<TGMapPoint>> pts;
  for (const char* id : {"a", "b", "c", "d"}) {
    pts.push_back(Point(id));
    source.Add(pts.back());
  }
  EXPECT_EQ(Keys(source), (std::vector<TGPrimaryKey>{1, 2, 3, 4}));

  source.Remove(*pts[3]);
  source.Remove(*pts[1]);
  EXPECT_EQ(source.ObjectCount(), 2);
  EXPECT_EQ(Keys(source), (std::vector<TGPrimaryKey>{1, 3}));
  EXPECT_EQ(source.ByPrimaryKey(2), nullptr);
  EXPECT_EQ(pts[1]->ObjectSource(), nullptr);

  auto e = Point("e");
  source.Add(e);
  EXPECT_EQ(e->PrimaryKey(), 2);
  auto f = Point("f");
  source.Add(f);
  EXPECT_EQ(f->PrimaryKey(), 4);
  auto g = Point("g");
  source.Add(g);
  EXPECT_EQ(g->PrimaryKey(), 5);

  source.Add(e); // already held: keeps its slot
  EXPECT_EQ(source.ObjectCount(), 5);
  EXPECT_EQ(e->PrimaryKey(), 2);
}

TEST(MemorySource, KeysLookupsAndIterationSkipEmptySlots)
{
  TGMemoryObjectSource source;
  EXPECT_EQ(source.First(), 0);
  EXPECT_EQ(source.FirstObject(), nullptr);
  auto a = Point("a"), b = Point("b"), c = Point("c");
  source.Add(a);
  source.Add(b);
  source.Add(c);
  source.Remove(*a);

  EXPECT_EQ(source.First(), 2);
  EXPECT_EQ(source.Next(0), 0);
  EXPECT_EQ(source.Next(2), 3);
  EXPECT_EQ(source.Next(3), 0);
  EXPECT_EQ(source.Next(-4), 0);
  EXPECT_EQ(source.Next(99), 0);
  for (TGPrimaryKey k : {0, 1, 4, -1})
    EXPECT_EQ(source.ByPrimaryKey(k), nullptr) << k;
  EXPECT_EQ(source.FirstObject()->UserID(), "b");
  EXPECT_EQ(source.NextObject(*b)->UserID(), "c");

  // The lookup gives the object its source and key back.
  c->SetPrimaryKey(0);
  c->SetObjectSource(nullptr);
  EXPECT_EQ(source.ByPrimaryKey(3), c);
  EXPECT_EQ(c->PrimaryKey(), 3);
  EXPECT_EQ(c->ObjectSource(), &source);

  // The rectangle does not narrow a memory source.
  auto it = source.NewIterator(MER(0, 0, 1, 1));
  auto* list = dynamic_cast<TGListIterator*>(it.get());
  ASSERT_TRUE(list);
  EXPECT_EQ(list->Keys(), (std::vector<TGPrimaryKey>{2, 3}));
  EXPECT_TRUE(list->Contains(3));
  EXPECT_FALSE(list->Contains(1));
  EXPECT_EQ(UserIDs(*it), (std::vector<std::string>{"b", "c"}));
  EXPECT_EQ(UserIDs(*source.NewIterator()), (std::vector<std::string>{"b", "c"}));
  EXPECT_EQ(source.NewIterator()->Count(), 2);

  std::vector<TGPrimaryKey> seen;
  source.ForEach(WorldMER(), [&seen](TGPrimaryKey k) {
    seen.push_back(k);
    return false; // stop after the first
  });
  EXPECT_EQ(seen, std::vector<TGPrimaryKey>{2});
}

TEST(MemorySource, RemoveAndClearDropSelectedKeys)
{
  TGLayer layer;
  TGObjectSource& source = layer.ObjectSource();
  auto a = Point("a"), b = Point("b");
  source.Add(a);
  source.Add(b);
  a->SetSelected(true);
  b->SetSelected(true);
  source.Remove(*a);
  EXPECT_FALSE(layer.Selection().Contains(1));
  EXPECT_TRUE(layer.Selection().Contains(2));

  source.Clear();
  EXPECT_EQ(source.ObjectCount(), 0);
  EXPECT_EQ(layer.Selection().Count(), 0);
  EXPECT_EQ(b->ObjectSource(), nullptr);
  auto c = Point("c");
  source.Add(c);
  EXPECT_EQ(c->PrimaryKey(), 1); // no empty slots left behind
  EXPECT_FALSE(c->Selected());
}

TEST(MemorySource, ObjectsOutliveTheirSourceSafely)
{
  auto p = Point("p");
  {
    TGLayer layer;
    layer.ObjectSource().Add(p);
    EXPECT_EQ(p->Layer(), &layer);
  }
  EXPECT_EQ(p->ObjectSource(), nullptr);
  EXPECT_EQ(p->Layer(), nullptr);
  EXPECT_FALSE(p->Selected());
  p->SetSelected(true); // nowhere to go: nothing happens
  p->Delete();
}

TEST(ObjectSourceBase, DataMERUnitesEveryObject)
{
  TGMemoryObjectSource source;
  EXPECT_EQ(source.DataMER(), TGMER{});
  source.Add(Point("a", 10, 20));
  source.Add(Point("b", -30, 40));
  EXPECT_EQ(source.DataMER(), MER(-30, 20, 41, 21));
}

TEST(ObjectSourceBase, PresentersFollowObjectsIntoAnotherSource)
{
  TGLayer root;
  auto sub = std::make_unique<TGLayer>();
  TGLayer* layer = sub.get();
  root.LayerStore().Add(std::move(sub));
  auto own = std::make_unique<TGPresenter>();
  own->SetPresenterID(3);
  own->SetName("own");
  layer->Presenters().Add(std::move(own));
  auto inherited = std::make_unique<TGPresenter>();
  inherited->SetPresenterID(8);
  inherited->SetName("from root");
  root.Presenters().Add(std::move(inherited));

  auto a = Point("a"), b = Point("b"), c = Point("c");
  a->SetPresenterID(3);
  b->SetPresenterID(8);
  c->SetPresenterID(99); // found nowhere
  for (const auto& p : {a, b, c})
    layer->ObjectSource().Add(p);

  TGMemoryObjectSource target;
  auto already = std::make_unique<TGPresenter>();
  already->SetPresenterID(3);
  already->SetName("target's");
  target.Presenters().Add(std::move(already));
  for (const auto& p : {a, b, c})
    target.Add(p);

  EXPECT_EQ(target.Presenters().Count(), 2);
  EXPECT_EQ(target.Presenters().ByID(3)->Name(), "target's");
  ASSERT_TRUE(target.Presenters().ByID(8));
  EXPECT_EQ(target.Presenters().ByID(8)->Name(), "from root");
  EXPECT_NE(target.Presenters().ByID(8), root.Presenters().ByID(8)); // a clone
  EXPECT_EQ(a->ObjectSource(), &target);
}

TEST(ObjectSourceBase, CopyFromClonesObjectsPresentersAndMetaData)
{
  TGMemoryObjectSource source;
  source.SetColumnNames("Title,Depth");
  auto pres = std::make_unique<TGPresenter>();
  pres->SetPresenterID(2);
  source.Presenters().Add(std::move(pres));
  auto a = Point("a", 5, 6);
  source.Add(a);
  source.Add(Point("b"));

  std::unique_ptr<TGObjectSource> copy = source.Clone();
  EXPECT_EQ(copy->ClassName(), "TGMemoryObjectSource");
  EXPECT_NE(copy->UniqueID(), source.UniqueID());
  EXPECT_EQ(copy->ColumnNames(), "Title,Depth");
  EXPECT_TRUE(copy->Presenters().ByID(2));
  EXPECT_EQ(copy->ObjectCount(), 2);
  auto first = copy->FirstObject();
  EXPECT_NE(first, a);
  EXPECT_EQ(first->UserID(), "a");
  EXPECT_EQ(first->Centroid(), PointLL(5, 6));
  EXPECT_EQ(first->ObjectSource(), copy.get());

  source.CopyFrom(source); // itself: nothing changes
  EXPECT_EQ(source.ObjectCount(), 2);
}

TEST(MemorySource, ExportImageStreamWritesSizeAndBytes)
{
  QTemporaryDir dir;
  const QString path = dir.filePath("img.bin");
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("\x01\x02\x03", 3);
  f.close();

  TGMemoryObjectSource source;
  TGMemoryStream out;
  source.ExportImageStream(path.toStdString(), out);
  EXPECT_EQ(out.Bytes(), (std::vector<uint8_t>{3, 0, 0, 0, 1, 2, 3}));

  TGMemoryStream none;
  source.ExportImageStream(dir.filePath("missing").toStdString(), none);
  EXPECT_EQ(none.Size(), 0);
  EXPECT_EQ(source.ImportImage("x.bmp"), "x.bmp");
  EXPECT_EQ(source.ImageByName(dir.filePath("missing").toStdString()), nullptr);
}

// A reader that yields a fixed number of points.
class CountingReader : public TGCustomDataReader
{
public:
  CountingReader(std::string name, int count) : TGCustomDataReader(nullptr), FCount(count)
  {
    SetName(std::move(name));
    auto p = std::make_unique<TGPresenter>();
    p->SetPresenterID(7);
    Presenters().Add(std::move(p));
    MetaData().SetValue("SourceName", "file.lyr");
  }
  double ProgressPercent() override { return FCount ? 100.0 * FRead / FCount : 0; }

protected:
  bool OpenReader() override
  {
    FRead = 0;
    return TGCustomDataReader::OpenReader();
  }
  std::shared_ptr<IGMapPoint> ReadObject() override
  {
    if (FRead >= FCount) return nullptr;
    return Point(Name() + std::to_string(FRead++));
  }

private:
  int FCount;
  int FRead = 0;
};

TEST(MemorySource, ADataReaderRefillsTheSource)
{
  TGMemoryObjectSource source;
  source.Add(Point("old"));
  source.SetDataReader(std::make_unique<CountingReader>("World", 3));
  EXPECT_EQ(source.Name(), "World");
  EXPECT_EQ(UserIDs(*source.NewIterator()),
            (std::vector<std::string>{"World0", "World1", "World2"}));
  EXPECT_TRUE(source.Presenters().ByID(7));
  EXPECT_EQ(source.MetaData().Value("SourceName"), "file.lyr");
  EXPECT_EQ(source.MetaData().Value("ColumnNames"), "Title");
  EXPECT_EQ(source.DataReader()->ObjectSource(), &source);

  source.SetDataReader(std::make_unique<CountingReader>("Sea", 1));
  EXPECT_EQ(UserIDs(*source.NewIterator()), std::vector<std::string>{"Sea0"});
  EXPECT_EQ(source.Presenters().Count(), 1);

  source.SetDataReader(nullptr); // only frees the reader
  EXPECT_EQ(source.DataReader(), nullptr);
  EXPECT_EQ(source.ObjectCount(), 1);
}

} // namespace
} // namespace vtr
