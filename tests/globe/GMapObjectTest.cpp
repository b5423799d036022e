// Map objects: identity and state with the Modified rules, derived values, attributes in the
// CSL, the edit cycle with a source, the data link transfers, hit tests across the meridian,
// copying, and the raster with its morph and data stream.
#include "globe/GMapObject.h"

#include "globe/GBitmap.h"
#include "globe/GLayer.h"
#include "globe/GObjectSource.h"

#include "GlobeTestSupport.h"

#include <QDir>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>

namespace vtr {
namespace {

constexpr int32_t D = GU_DEGREE;
using vtrtest::ErrorText;

// A stored record in memory, shared with the test so that it can be inspected after the link
// has passed to the object.
struct Record
{
  TDateTime dateTime = 0;
  TGDBObjectKind kind = tgokPoint;
  TGPointLL centroid;
  TGMER mer;
  bool modified = false;
  TGPrimaryKey primaryKey = 0;
  uint32_t dataID = 0;
  uint32_t attributeID = 0;
  std::string csl;
  int16_t presenterID = 0;
  TGMapObjectStates state = 0;
  std::string userID;
  std::vector<uint8_t> stream;
  int posts = 0, deletes = 0, cslReads = 0, streamReads = 0, streamWrites = 0;
};

class MemoryLink : public TGDataLink
{
public:
  explicit MemoryLink(std::shared_ptr<Record> r) : R(std::move(r)) {}

  TDateTime DateTime() const override { return R->dateTime; }
  void SetDateTime(TDateTime v) override { Set(R->dateTime, v); }
  TGDBObjectKind Kind() const override { return R->kind; }
  void SetKind(TGDBObjectKind v) override { Set(R->kind, v); }
  TGPointLL Centroid() const override { return R->centroid; }
  void SetCentroid(const TGPointLL& v) override { Set(R->centroid, v); }
  TGMER MER() const override { return R->mer; }
  void SetMER(const TGMER& v) override { Set(R->mer, v); }
  bool Modified() const override { return R->modified; }
  void SetModified(bool v) override { R->modified = v; }
  TGPrimaryKey PrimaryKey() const override { return R->primaryKey; }
  void SetPrimaryKey(TGPrimaryKey v) override { Set(R->primaryKey, v); }
  uint32_t DataID() const override { return R->dataID; }
  void SetDataID(uint32_t v) override { Set(R->dataID, v); }
  uint32_t AttributeID() const override { return R->attributeID; }
  void SetAttributeID(uint32_t v) override { Set(R->attributeID, v); }
  std::string ObjectDataCSL() override
  {
    ++R->cslReads;
    return R->csl;
  }
  void SetObjectDataCSL(const std::string& v) override { Set(R->csl, v); }
  int16_t PresenterID() const override { return R->presenterID; }
  void SetPresenterID(int16_t v) override { Set(R->presenterID, v); }
  TGMapObjectStates State() const override { return R->state; }
  void SetState(TGMapObjectStates v) override { Set(R->state, v); }
  std::string UserID() override { return R->userID; }
  void SetUserID(const std::string& v) override { Set(R->userID, v); }

  void Delete() override { ++R->deletes; }
  void Post() override
  {
    if (R->modified) ++R->posts;
    R->modified = false;
  }
  void ReadDataStream(TGMemoryStream& m) override
  {
    ++R->streamReads;
    if (!R->stream.empty()) m.Write(R->stream.data(), static_cast<int64_t>(R->stream.size()));
  }
  void WriteDataStream(TGMemoryStream& m) override
  {
    ++R->streamWrites;
    R->stream = m.Bytes();
    R->dataID = 1;
    R->modified = true;
  }

  std::shared_ptr<Record> R;

private:
  template <class T> void Set(T& field, const T& v)
  {
    field = v;
    R->modified = true;
  }
};

std::unique_ptr<TGPointStore> Ring(std::initializer_list<TGPointLL> pts)
{
  auto s = std::make_unique<TGPointStore>();
  for (const auto& p : pts)
    s->Add(p);
  return s;
}

// A closed square poly from (west, south), side degrees wide.
std::shared_ptr<TGMapPoly> Square(int32_t west, int32_t south, int32_t side)
{
  auto poly = std::make_shared<TGMapPoly>();
  poly->Chains().Add(Ring({PointLL(west, south), PointLL(west + side, south),
                           PointLL(west + side, south + side), PointLL(west, south + side)}));
  poly->SetClosed(true);
  return poly;
}

TEST(MapPointState, SettersMarkModifiedOnlyOnChange)
{
  auto p = std::make_shared<TGMapPoint>();
  EXPECT_EQ(p->ObjectDataCSL(), "");
  EXPECT_FALSE(p->Modified());

  struct Case
  {
    const char* what;
    std::function<void(TGMapPoint&)> same, changed;
  };
  const Case cases[] = {
      {"UserID", [](TGMapPoint& o) { o.SetUserID(""); }, [](TGMapPoint& o) { o.SetUserID("7"); }},
      {"PresenterID", [](TGMapPoint& o) { o.SetPresenterID(0); },
       [](TGMapPoint& o) { o.SetPresenterID(3); }},
      {"Hidden", [](TGMapPoint& o) { o.SetHidden(false); },
       [](TGMapPoint& o) { o.SetHidden(true); }},
      {"CSL", [](TGMapPoint& o) { o.SetObjectDataCSL(""); },
       [](TGMapPoint& o) { o.SetObjectDataCSL("a,b"); }},
  };
  for (const auto& c : cases) {
    auto o = std::make_shared<TGMapPoint>();
    o->ObjectDataCSL(); // fetched: empty now, so setting empty is no change
    c.same(*o);
    EXPECT_FALSE(o->Modified()) << c.what;
    c.changed(*o);
    EXPECT_TRUE(o->Modified()) << c.what;
    o->SetModified(false);
    c.changed(*o);
    EXPECT_FALSE(o->Modified()) << c.what << " again";
  }

  auto poly = std::make_shared<TGMapPoly>();
  poly->SetClosed(true);
  EXPECT_EQ(poly->State(), osClosed);
  poly->SetHidden(true);
  EXPECT_EQ(poly->State(), osClosed | osHidden);
}

TEST(MapPointDerived, InvalidateKeepsThePositionWithItsHeightAndRebuildsThePointRectangle)
{
  auto p = std::make_shared<TGMapPoint>();
  p->SetCentroid(PointLLH(10 * D, -5 * D, 77));
  EXPECT_EQ(p->ObjectMER(), MER(10 * D, -5 * D, 1, 1));
  p->SetObjectMER(MER(0, 0, 30, 30));
  p->SetModified(false);
  p->Invalidate();
  EXPECT_TRUE(p->Modified());
  // A point's height is data (a unit's altitude, a height read from a layer file): posting it
  // must not lose it.
  EXPECT_EQ(p->Centroid(), PointLLH(10 * D, -5 * D, 77));
  EXPECT_EQ(p->ObjectMER(), MER(10 * D, -5 * D, 1, 1));
}

TEST(MapPolyDerived, CentroidAndRectangleFollowTheChainsAndMovingShiftsThem)
{
  auto poly = Square(10 * D, 20 * D, 2 * D);
  EXPECT_EQ(poly->Centroid(), PointLL(11 * D, 21 * D));
  EXPECT_EQ(poly->ObjectMER(), poly->Chains().ChainStoreMER());

  poly->SetCentroid(PointLL(-30 * D, -40 * D));
  EXPECT_EQ(poly->Chains().GetChain(0).GetLL(0), PointLL(-31 * D, -41 * D));
  // The moved poly keeps the point rectangle until the next Invalidate.
  EXPECT_EQ(poly->ObjectMER(), MER(-30 * D, -40 * D, 1, 1));
  poly->Invalidate();
  EXPECT_EQ(poly->Centroid(), PointLL(-30 * D, -40 * D));
  EXPECT_EQ(poly->ObjectMER(), MER(-31 * D, -41 * D, 2 * D + 1, 2 * D + 1));

  auto empty = std::make_shared<TGMapPoly>();
  empty->SetCentroid(PointLL(5, 6));
  empty->Invalidate();
  EXPECT_EQ(empty->Centroid(), PointLL(5, 6));
  EXPECT_EQ(empty->ObjectMER(), MER(5, 6, 1, 1));
}

TEST(MapPointAttributes, CommaTitlesNumbersAndRanges)
{
  auto p = std::make_shared<TGMapPoint>();
  p->SetAttribute(0, "Smith, J");
  EXPECT_EQ(p->ObjectDataCSL(), "\"Smith, J\"");
  EXPECT_EQ(p->GetAttribute(0), "Smith, J");

  p->SetAttribute(3, "say \"hi\"");
  EXPECT_EQ(p->ObjectDataCSL(), "\"Smith, J\",,,\"say \"\"hi\"\"\"");
  EXPECT_EQ(p->GetAttribute(3), "say \"hi\"");
  EXPECT_EQ(p->GetAttribute(1), "");
  EXPECT_EQ(p->GetAttribute(4), "");
  EXPECT_EQ(p->GetAttribute(-1), "");

  p->SetModified(false);
  p->SetAttribute(-1, "x");
  EXPECT_FALSE(p->Modified());
  EXPECT_EQ(p->GetAttribute(0), "Smith, J");

  // Unquoted blanks separate items when reading a CSL.
  p->SetObjectDataCSL("a b,c");
  EXPECT_EQ(p->GetAttribute(1), "b");

  p->SetValue(2, 0.1 + 0.2);
  EXPECT_EQ(p->GetAttribute(2), "0.30000000000000004");
  EXPECT_EQ(p->GetValue(2), 0.1 + 0.2);
  p->SetValue(1, -2.5e-7);
  EXPECT_EQ(p->GetValue(1), -2.5e-7);
  EXPECT_TRUE(std::isnan(p->GetValue(0)));
  EXPECT_TRUE(std::isnan(p->GetValue(9)));
}

TEST(MapPointEditCycle, PostWithoutLinkOnlyClearsModified)
{
  auto p = std::make_shared<TGMapPoint>();
  p->SetCentroid(PointLL(D, D));
  p->SetObjectMER(MER(0, 0, 50, 50));
  p->Post();
  EXPECT_FALSE(p->Modified());
  EXPECT_EQ(p->ObjectMER(), MER(0, 0, 50, 50)); // not invalidated
  EXPECT_EQ(p->DataLink(), nullptr);
}

TEST(MapPointEditCycle, PostWritesEveryFieldOnceAndLetsTheSourceGo)
{
  struct EditWatch : TGMemoryObjectSource
  {
    std::vector<std::string> calls;
    void EditObject(const std::shared_ptr<IGMapPoint>& o) override
    {
      calls.push_back("edit " + o->UserID());
    }
    void EndEditObject(IGMapPoint& o) override { calls.push_back("end " + o.UserID()); }
  } source;

  auto rec = std::make_shared<Record>();
  auto p = std::make_shared<TGMapPoint>();
  p->SetUserID("42");
  source.Add(p);
  p->SetDataLink(std::make_unique<MemoryLink>(rec));

  p->Edit();
  EXPECT_TRUE(p->Modified());
  p->SetCentroid(PointLL(3 * D, 4 * D));
  p->SetObjectMER(MER(0, 0, 9, 9)); // dropped by the Invalidate of Post
  p->SetPresenterID(5);
  p->SetHidden(true);
  p->SetAttribute(0, "Alpha, One");
  p->Post();
  EXPECT_FALSE(p->Modified());
  EXPECT_EQ(rec->posts, 1);
  EXPECT_EQ(rec->userID, "42");
  EXPECT_EQ(rec->centroid, PointLL(3 * D, 4 * D));
  EXPECT_EQ(rec->mer, MER(3 * D, 4 * D, 1, 1));
  EXPECT_EQ(rec->presenterID, 5);
  EXPECT_EQ(rec->state, osHidden);
  EXPECT_EQ(rec->csl, "\"Alpha, One\"");
  EXPECT_EQ(rec->kind, tgokPoint);

  p->Edit();
  p->CancelEdit();
  EXPECT_FALSE(p->Modified());
  p->Post(); // nothing changed: no write, but the source is told editing ended
  EXPECT_EQ(rec->posts, 1);
  EXPECT_EQ(source.calls,
            (std::vector<std::string>{"edit 42", "end 42", "edit 42", "end 42", "end 42"}));
}

TEST(MapPointEditCycle, DeleteDeselectsRemovesTheRecordAndLeavesTheSource)
{
  TGLayer layer;
  auto rec = std::make_shared<Record>();
  auto p = std::make_shared<TGMapPoint>();
  layer.ObjectSource().Add(p);
  p->SetDataLink(std::make_unique<MemoryLink>(rec));
  p->SetSelected(true);
  ASSERT_TRUE(p->Selected());
  const TGPrimaryKey key = p->PrimaryKey();

  p->Delete();
  EXPECT_FALSE(layer.Selection().Contains(key));
  EXPECT_EQ(rec->deletes, 1);
  EXPECT_EQ(layer.ObjectSource().ObjectCount(), 0);
  EXPECT_EQ(p->ObjectSource(), nullptr);
  EXPECT_FALSE(p->Selected());
}

TEST(MapPointDataLink, ReadTakesFieldsWithoutModifiedAndFetchesTheCSLOnFirstUse)
{
  auto rec = std::make_shared<Record>();
  rec->presenterID = -2;
  rec->state = osHidden;
  rec->primaryKey = 17;
  rec->mer = MER(1, 2, 3, 4);
  rec->centroid = PointLL(2, 3);
  rec->userID = "u9";
  rec->csl = "Title,x";
  auto p = std::make_shared<TGMapPoint>();
  p->ReadFromDataLink(std::make_unique<MemoryLink>(rec));
  EXPECT_FALSE(p->Modified());
  EXPECT_EQ(p->PresenterID(), -2);
  EXPECT_TRUE(p->Hidden());
  EXPECT_EQ(p->PrimaryKey(), 17);
  EXPECT_EQ(p->ObjectMER(), MER(1, 2, 3, 4));
  EXPECT_EQ(p->Centroid(), PointLL(2, 3));
  EXPECT_EQ(p->UserID(), "u9");
  EXPECT_EQ(rec->cslReads, 0);
  EXPECT_EQ(p->GetAttribute(0), "Title");
  EXPECT_EQ(p->GetAttribute(1), "x");
  EXPECT_EQ(rec->cslReads, 1);

  p->ReadFromDataLink(nullptr); // nothing happens
  EXPECT_EQ(p->DataLink()->PrimaryKey(), 17);
}

TEST(MapPolyDataLink, ChainsTravelAsAStreamAndEmptyPolysWriteNone)
{
  auto rec = std::make_shared<Record>();
  auto poly = Square(-10 * D, -10 * D, 5 * D);
  poly->WriteToDataLink(std::make_unique<MemoryLink>(rec));
  EXPECT_EQ(rec->kind, tgokPoly);
  EXPECT_EQ(rec->state, osClosed);
  EXPECT_EQ(rec->streamWrites, 1);

  auto back = std::make_shared<TGMapPoly>();
  back->ReadFromDataLink(std::make_unique<MemoryLink>(rec));
  EXPECT_EQ(rec->streamReads, 0); // chains wait for their first use
  EXPECT_TRUE(back->Closed());
  ASSERT_EQ(back->Chains().Count(), 1);
  EXPECT_EQ(rec->streamReads, 1);
  EXPECT_EQ(std::vector<TGPointLL>(back->Chains().GetChain(0).Points().begin(),
                                   back->Chains().GetChain(0).Points().end()),
            std::vector<TGPointLL>(poly->Chains().GetChain(0).Points().begin(),
                                   poly->Chains().GetChain(0).Points().end()));

  auto emptyRec = std::make_shared<Record>();
  auto open = std::make_shared<TGMapPoly>();
  open->WriteToDataLink(std::make_unique<MemoryLink>(emptyRec));
  EXPECT_EQ(emptyRec->streamWrites, 0);
  auto openBack = std::make_shared<TGMapPoly>();
  openBack->ReadFromDataLink(std::make_unique<MemoryLink>(emptyRec));
  EXPECT_EQ(openBack->Chains().Count(), 0);
  EXPECT_FALSE(openBack->Closed());

  // A poly whose chains were all removed replaces its stored geometry.
  back->Chains().SetCount(0);
  back->Edit();
  back->Post();
  EXPECT_EQ(rec->streamWrites, 2);
  auto cleared = std::make_shared<TGMapPoly>();
  cleared->ReadFromDataLink(std::make_unique<MemoryLink>(rec));
  EXPECT_EQ(cleared->Chains().Count(), 0);
}

TEST(MapPolyDataLink, MovingToANewLinkTakesWhatTheOldLinkStillHeld)
{
  auto oldRec = std::make_shared<Record>();
  Square(0, 0, D)->WriteToDataLink(std::make_unique<MemoryLink>(oldRec));
  oldRec->csl = "Island";
  auto poly = std::make_shared<TGMapPoly>();
  poly->ReadFromDataLink(std::make_unique<MemoryLink>(oldRec)); // CSL and chains not read

  auto newRec = std::make_shared<Record>();
  poly->WriteToDataLink(std::make_unique<MemoryLink>(newRec));
  EXPECT_EQ(newRec->csl, "Island");
  EXPECT_EQ(newRec->stream, oldRec->stream);
  EXPECT_EQ(static_cast<MemoryLink*>(poly->DataLink())->R, newRec);
}

TEST(MapPolyDataLink, DamagedGeometryStreamRaisesAndKeepsAnEmptyStore)
{
  auto rec = std::make_shared<Record>();
  rec->stream = {2, 0x05, 0x00}; // multi-ring flag, then a chain count cut short
  auto poly = std::make_shared<TGMapPoly>();
  poly->ReadFromDataLink(std::make_unique<MemoryLink>(rec));
  EXPECT_NE(ErrorText([&] { poly->Chains(); }), "no exception");
  EXPECT_EQ(poly->Chains().Count(), 0);
}

TEST(MapObjectHitTests, HiddenObjectsAreNeverHit)
{
  auto p = std::make_shared<TGMapPoint>();
  p->SetCentroid(PointLL(0, 0));
  auto poly = Square(-D, -D, 2 * D);
  for (int32_t tolerance : {0, 10, D, GU_90}) {
    EXPECT_TRUE(p->LLInObject(PointLL(0, 0), tolerance));
    EXPECT_TRUE(poly->LLInObject(PointLL(0, 0), tolerance));
  }
  p->SetHidden(true);
  poly->SetHidden(true);
  for (int32_t tolerance : {0, 10, D, GU_90}) {
    EXPECT_FALSE(p->LLInObject(PointLL(0, 0), tolerance)) << tolerance;
    EXPECT_FALSE(poly->LLInObject(PointLL(0, 0), tolerance)) << tolerance;
    EXPECT_EQ(p->LLInObjectMER(PointLL(0, 0), tolerance), hzNone);
  }
}

TEST(MapObjectHitTests, PointToleranceGrowsEverySide)
{
  auto p = std::make_shared<TGMapPoint>();
  p->SetCentroid(PointLL(1000, 1000));
  struct Case
  {
    int32_t dx, dy;
    bool hit;
  };
  // The rectangle is (1000, 1000, 1, 1): inclusive edges 1000..1001, grown by 10.
  const Case cases[] = {{-10, 0, true}, {-11, 0, false}, {11, 0, true}, {12, 0, false},
                        {0, -10, true}, {0, -11, false}, {0, 11, true}, {0, 12, false},
                        {11, 11, true}, {-10, -10, true}};
  for (const auto& c : cases)
    EXPECT_EQ(p->LLInObject(PointLL(1000 + c.dx, 1000 + c.dy), 10), c.hit) << c.dx << "," << c.dy;
}

TEST(MapObjectHitTests, PolygonAcrossTheMeridianIsHitFromBothSides)
{
  // A closed square from 179E to 179W, 1 degree high.
  auto poly = std::make_shared<TGMapPoly>();
  poly->Chains().Add(
      Ring({PointLL(179 * D, 0), PointLL(-179 * D, 0), PointLL(-179 * D, D), PointLL(179 * D, D)}));
  poly->SetClosed(true);
  const TGMER m = poly->ObjectMER();
  EXPECT_EQ(m.iLongX, 179 * D);
  EXPECT_GT(MERRight(m), GU_180);

  const int32_t mid = D / 2;
  EXPECT_TRUE(poly->LLInObject(PointLL(179 * D + mid, mid), 0));
  EXPECT_TRUE(poly->LLInObject(PointLL(-179 * D - mid, mid), 0));
  EXPECT_TRUE(poly->LLInObject(PointLL(GU_180, mid), 0));
  EXPECT_FALSE(poly->LLInObject(PointLL(178 * D, mid), 0));
  EXPECT_FALSE(poly->LLInObject(PointLL(-178 * D, mid), 0));
  EXPECT_FALSE(poly->LLInObject(PointLL(0, mid), 0));

  // Open, the same ring is a line: hit near its edges only, on both sides.
  poly->SetClosed(false);
  EXPECT_FALSE(poly->LLInObject(PointLL(179 * D + mid, mid), 100));
  EXPECT_TRUE(poly->LLInObject(PointLL(179 * D + mid, 50), 100));
  EXPECT_TRUE(poly->LLInObject(PointLL(-179 * D - mid, 50), 100));

  // A rectangle across the meridian whose centre lies inside the polygon.
  poly->SetClosed(true);
  EXPECT_TRUE(poly->IntersectMER(MER(179 * D + mid, 10, D, 10)));
}

TEST(MapObjectHitTests, PolygonTouchingTheMeridianFromTheEastIsHitWithinToleranceWest)
{
  // West edge exactly at -180: the grown rectangle reaches past the meridian to 179.99E.
  auto poly = std::make_shared<TGMapPoly>();
  poly->Chains().Add(Ring({PointLL(-GU_180 + 1, 0), PointLL(-170 * D, 0), PointLL(-170 * D, D),
                           PointLL(-GU_180 + 1, D)}));
  EXPECT_TRUE(poly->LLOnEdge(PointLL(GU_180 - 50, D / 2), 100, true));
  EXPECT_FALSE(poly->LLOnEdge(PointLL(GU_180 - 500, D / 2), 100, true));
}

TEST(MapObjectHitTests, IntersectMERByKind)
{
  auto p = std::make_shared<TGMapPoint>();
  p->SetCentroid(PointLL(5, 5));
  EXPECT_TRUE(p->IntersectMER(MER(0, 0, 5, 5)));
  EXPECT_FALSE(p->IntersectMER(MER(6, 0, 5, 5)));

  auto poly = Square(0, 0, 100);
  EXPECT_TRUE(poly->IntersectMER(MER(40, 40, 20, 20))); // centre inside, no vertex in it
  poly->SetClosed(false);
  EXPECT_FALSE(poly->IntersectMER(MER(40, 40, 20, 20))); // a line: only its points count
  EXPECT_TRUE(poly->IntersectMER(MER(95, 95, 10, 10)));  // a vertex

  auto bare = std::make_shared<TGMapPoly>();
  bare->SetCentroid(PointLL(500, 500));
  EXPECT_TRUE(bare->IntersectMER(MER(490, 490, 20, 20)));
  EXPECT_FALSE(bare->IntersectMER(MER(0, 0, 20, 20)));
}

TEST(MapObjectCopies, AssignAndCloneCopyDeeply)
{
  auto poly = Square(0, 0, D);
  poly->SetUserID("id");
  poly->SetPresenterID(4);
  poly->SetAttribute(0, "Name");
  poly->SetHidden(true);
  std::shared_ptr<IGMapPoint> copy = poly->Clone();
  auto copyPoly = std::dynamic_pointer_cast<IGMapPoly>(copy);
  ASSERT_TRUE(copyPoly);
  EXPECT_EQ(copy->ClassName(), "TGMapPoly");
  EXPECT_EQ(copy->UserID(), "id");
  EXPECT_EQ(copy->PresenterID(), 4);
  EXPECT_EQ(copy->GetAttribute(0), "Name");
  EXPECT_TRUE(copy->Hidden());
  EXPECT_TRUE(copyPoly->Closed());
  EXPECT_EQ(copy->Centroid(), poly->Centroid());
  EXPECT_EQ(copy->ObjectMER(), poly->ObjectMER());
  copyPoly->Chains().GetChain(0).PutLL(0, PointLL(-5, -5));
  EXPECT_EQ(poly->Chains().GetChain(0).GetLL(0), PointLL(0, 0)); // a separate copy

  // A point copies the common part from a poly.
  auto pt = std::make_shared<TGMapPoint>();
  pt->Assign(*poly);
  EXPECT_EQ(pt->UserID(), "id");
  EXPECT_EQ(pt->Centroid(), poly->Centroid());
  EXPECT_EQ(pt->ObjectMER(), MER(D / 2, D / 2, 1, 1));
}

// ---------------------------------------------------------------------------------------------
// Rasters

class RasterTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    ASSERT_TRUE(dir.isValid());
    image = dir.filePath("chart.png").toStdString();
    QImage img(40, 20, QImage::Format_RGB32);
    img.fill(Qt::red);
    ASSERT_TRUE(img.save(QString::fromStdString(image)));
  }
  QTemporaryDir dir;
  std::string image;
};

TEST_F(RasterTest, DefaultsMorphAndOutline)
{
  auto r = std::make_shared<TGMapRaster>();
  EXPECT_EQ(r->AlphaBlend(), 255);
  EXPECT_EQ(r->TransparentColor(), 536870911);
  EXPECT_TRUE(r->CachableObject());
  EXPECT_TRUE(r->ImageEmpty());

  r->Morph().SetOffsets(10 * D, 20 * D);
  r->Morph().SetScales(D / 4.0L, D / 2.0L); // 40 x 20 pixels: 10 degrees each way
  EXPECT_EQ(r->Centroid(), PointLL(10 * D, 20 * D));
  r->SetImageName(image);
  EXPECT_EQ(r->ImageWidth(), 40);
  EXPECT_EQ(r->ImageHeight(), 20);
  r->Invalidate();
  EXPECT_EQ(r->ObjectMER(), MER(10 * D, 10 * D, 10 * D + 1, 10 * D + 1));

  EXPECT_TRUE(r->LLInObject(PointLL(15 * D, 15 * D), 0));
  EXPECT_FALSE(r->LLInObject(PointLL(21 * D, 15 * D), 0));
  EXPECT_TRUE(r->IntersectMER(MER(19 * D, 19 * D, 5 * D, 5 * D)));
  EXPECT_FALSE(r->IntersectMER(MER(30 * D, 19 * D, 5 * D, 5 * D)));

  // Moving the raster moves its morph.
  r->SetCentroid(PointLL(-50 * D, 0));
  EXPECT_EQ(r->Morph().XOffset(), -50 * D);
  EXPECT_EQ(r->Morph().YOffset(), 0);

  EXPECT_EQ(ErrorText([&] { r->Morph().SetScales(0, 1); }), "TGBeierNeelyMorph: bad scale");
  EXPECT_EQ(ErrorText([&] { r->Morph().SetScales(1, NAN); }), "TGBeierNeelyMorph: bad scale");
}

TEST_F(RasterTest, DataStreamRoundTripsAndDamageChangesNothing)
{
  auto r = std::make_shared<TGMapRaster>();
  r->Morph().SetOffsets(-3 * D, 7 * D);
  r->Morph().SetScales(100, 250);
  r->SetImageName(image);
  r->SetAlphaBlend(128);
  r->SetTransparentColor(clWhite);
  auto rec = std::make_shared<Record>();
  r->WriteToDataLink(std::make_unique<MemoryLink>(rec));
  EXPECT_EQ(rec->kind, tgokRaster);

  auto back = std::make_shared<TGMapRaster>();
  back->ReadFromDataLink(std::make_unique<MemoryLink>(rec));
  EXPECT_FALSE(back->Modified());
  EXPECT_EQ(back->ImageName(), image);
  EXPECT_EQ(back->ImageFilename(), image);
  EXPECT_EQ(back->AlphaBlend(), 128);
  EXPECT_EQ(back->TransparentColor(), clWhite);
  EXPECT_EQ(back->Morph().XOffset(), -3 * D);
  EXPECT_EQ(back->Morph().YScale(), 250);
  EXPECT_EQ(back->ImageWidth(), 40);

  for (size_t cut : {size_t(0), size_t(3), rec->stream.size() - 1}) {
    auto damaged = std::make_shared<TGMapRaster>();
    damaged->SetAlphaBlend(9);
    TGMemoryStream m(
        std::vector<uint8_t>(rec->stream.begin(), rec->stream.begin() + static_cast<long>(cut)));
    EXPECT_NE(ErrorText([&] { damaged->ReadDataStream(m); }), "no exception") << cut;
    EXPECT_EQ(damaged->AlphaBlend(), 9);
    EXPECT_EQ(damaged->ImageName(), "");
  }
}

TEST_F(RasterTest, MissingFilesAskTheSourceAndTiledNamesShowNothingYet)
{
  struct Images : TGMemoryObjectSource
  {
    std::vector<std::string> asked;
    std::string file;
    std::shared_ptr<TGBitmap> ImageByName(const std::string& name) override
    {
      asked.push_back(name);
      return TGMemoryObjectSource::ImageByName(file);
    }
  } source;
  source.file = image;
  auto r = std::make_shared<TGMapRaster>();
  source.Add(r);
  r->SetImageName("stored:chart");
  EXPECT_EQ(source.asked, std::vector<std::string>{"stored:chart"});
  EXPECT_EQ(r->ImageWidth(), 40);
  r->SetImageName("tiles/world.xmr");
  EXPECT_TRUE(r->ImageEmpty());
}

} // namespace
} // namespace vtr
