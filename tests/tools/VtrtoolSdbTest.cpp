// vtrtool sdb-info, sdb-compact and render --sdb, run as the user runs them, on databases the
// engine writes.
#include "VtrtoolRun.h"

#include "globe/GPresenter.h"
#include "globe/GSDBObjectSource.h"
#include "globe/GSpatialDatabase.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

namespace {

using vtrtest::ToolRun;
using vtrtest::Vtrtool;

// A database with a layer "Boxes" of red squares (a polygon presenter in its metadata, number
// 1) and an empty layer "Units"; count squares, of which every other one is deleted again
// when withGarbage is set.
std::pair<vtr::TGUID, vtr::TGUID> MakeDatabase(const std::string& file, int count, bool withGarbage)
{
  using namespace vtr;
  TGSpatialDatabase db;
  db.SetDataSourceName(file);
  db.Open();
  const TGUID boxes = db.CreateLayer("Boxes");
  const TGUID units = db.CreateLayer("Units");
  TGSDBLayer& layer = *db.Layers().LayerByID(boxes);
  TGPresenterStore store;
  auto presenter = std::make_unique<TGPolygonPresenter>();
  presenter->SetPresenterID(1);
  presenter->PolyBrush().Define(clRed, clRed, gbsSolid);
  presenter->PolyPen().Define(clRed, gpsSolid, 1, guPixel);
  store.Add(std::move(presenter));
  layer.MetaData().SetValue("PresenterXML", PresenterStoreXMLText(store));
  layer.SetMetaDataModified();
  TGSDBObjectSource source;
  source.SetSDB(&db);
  source.SetUniqueID(boxes);
  std::vector<std::shared_ptr<IGMapPoint>> added;
  for (int i = 0; i < count; ++i) {
    auto poly = std::make_shared<TGMapPoly>();
    auto ring = std::make_unique<TGPointStore>();
    const double west = -20 + (i % 8) * 5;
    const double south = -20 + (i / 8) * 5;
    for (auto [x, y] : {std::pair{0, 0}, {4, 0}, {4, 4}, {0, 4}})
      ring->Add(DDToPointLL(west + x, south + y));
    poly->Chains().Add(std::move(ring));
    poly->SetClosed(true);
    poly->SetPresenterID(1);
    poly->Invalidate();
    source.Add(poly);
    added.push_back(poly);
  }
  if (withGarbage)
    for (size_t i = 0; i < added.size(); i += 2)
      added[i]->Delete();
  db.Close();
  return {boxes, units};
}

TEST(VtrtoolSdb, InfoPrintsOneLinePerLayer)
{
  QTemporaryDir dir;
  const std::string file = dir.filePath("maps.sdb").toStdString();
  const auto [boxes, units] = MakeDatabase(file, 16, false);
  const ToolRun r = Vtrtool({"sdb-info", QString::fromStdString(file)});
  ASSERT_EQ(r.code, 0) << r.err;
  // 16 squares of 4 degrees from (-20, -20), 8 to a row: 39 x 9 degrees in all (a chain's
  // rectangle counts both of its edges, so one unit more).
  const std::string expected = "Boxes\t" + vtr::GUIDToString(boxes) + "\t16\t" +
                               std::to_string(-20 * 5400000) + "," + std::to_string(-20 * 5400000) +
                               "," + std::to_string(39 * 5400000 + 1) + "," +
                               std::to_string(9 * 5400000 + 1) + "\n" + "Units\t" +
                               vtr::GUIDToString(units) + "\t0\t0,0,0,0\n";
  EXPECT_EQ(r.out, expected);
}

TEST(VtrtoolSdb, CompactPrintsTheSizesAndKeepsTheLayers)
{
  QTemporaryDir dir;
  const std::string file = dir.filePath("maps.sdb").toStdString();
  const auto ids = MakeDatabase(file, 600, true);
  const qint64 size = QFile(QString::fromStdString(file)).size();
  const ToolRun r = Vtrtool({"sdb-compact", QString::fromStdString(file)});
  ASSERT_EQ(r.code, 0) << r.err;
  const qint64 after = QFile(QString::fromStdString(file)).size();
  EXPECT_LT(after, size);
  EXPECT_EQ(r.out, "before\t" + std::to_string(size) + "\tafter\t" + std::to_string(after) + "\n");
  const ToolRun info = Vtrtool({"sdb-info", QString::fromStdString(file)});
  ASSERT_EQ(info.code, 0) << info.err;
  EXPECT_NE(info.out.find(vtr::GUIDToString(ids.first) + "\t300\t"), std::string::npos) << info.out;
  EXPECT_FALSE(QFile::exists(QString::fromStdString(file + ".tmp")));
}

TEST(VtrtoolSdb, RenderDrawsEveryLayerOfADatabase)
{
  QTemporaryDir dir;
  const std::string file = dir.filePath("maps.sdb").toStdString();
  MakeDatabase(file, 16, false);
  const QString out = dir.filePath("boxes.png");
  const ToolRun r = Vtrtool({"render", "-o", out, "--size", "300x200", "--projection", "cartesian",
                             "--center", "0,0", "--sdb", QString::fromStdString(file)});
  ASSERT_EQ(r.code, 0) << r.err;
  const QImage img(out);
  int red = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      red += (img.pixel(x, y) & 0xFFFFFF) == 0xFF0000;
  EXPECT_GT(red, 500) << "the red squares are drawn";
}

// The shipped world outline imported twice (two layers of one name), then drawn from the
// database: the same picture as drawn from the file.
TEST(VtrtoolSdb, ImportedLayerFilesDrawAsTheFileDoes)
{
  QTemporaryDir dir;
  const QString outline = QStringLiteral(VTR_PROGRAM_DIR "/GIS/WorldOutline.lyr");
  ASSERT_TRUE(QFile::exists(outline));
  const QString db = dir.filePath("new/../maps.sdb");
  ASSERT_TRUE(QDir(dir.path()).mkdir("new"));
  const ToolRun first = Vtrtool({"sdb-import", db, outline});
  ASSERT_EQ(first.code, 0) << first.err;
  const ToolRun second = Vtrtool({"sdb-import", db, outline});
  ASSERT_EQ(second.code, 0) << second.err;
  ASSERT_EQ(first.out.size(), 39u) << first.out;
  EXPECT_NE(first.out, second.out);
  const ToolRun info = Vtrtool({"sdb-info", db});
  ASSERT_EQ(info.code, 0) << info.err;
  const ToolRun lyr = Vtrtool({"lyr-info", outline});
  const std::string objects = lyr.out.substr(lyr.out.find("objects\t") + 8);
  const std::string mer = lyr.out.substr(lyr.out.find("mer\t") + 4);
  const std::string tail =
      objects.substr(0, objects.find('\n')) + "\t" + mer.substr(0, mer.find('\n')) + "\n";
  EXPECT_EQ(info.out, "WorldOutline\t" + first.out.substr(0, 38) + "\t" + tail + "WorldOutline\t" +
                          second.out.substr(0, 38) + "\t" + tail);

  const QString fromFile = dir.filePath("file.png");
  const QString fromDB = dir.filePath("db.png");
  const QStringList view{"--size", "400x300", "--center", "40,10", "--gu-per-pixel", "100000"};
  ASSERT_EQ(Vtrtool(QStringList{"render", "-o", fromFile, "--layer", outline} + view).code, 0);
  ASSERT_EQ(Vtrtool(QStringList{"render", "-o", fromDB, "--sdb", db} + view).code, 0);
  const QImage a(fromFile);
  ASSERT_FALSE(a.isNull());
  EXPECT_TRUE(a == QImage(fromDB)) << "the database draws what the file draws";

  const ToolRun missing = Vtrtool({"sdb-import", dir.filePath("x.sdb"), dir.filePath("no.lyr")});
  EXPECT_EQ(missing.code, 2);
  EXPECT_FALSE(QFile::exists(dir.filePath("x.sdb")));
  const QString broken = dir.filePath("Broken.lyr");
  {
    QFile f(broken);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray("\x00\x09junk", 6)); // version 0x900
  }
  const ToolRun bad = Vtrtool({"sdb-import", dir.filePath("y.sdb"), broken});
  EXPECT_EQ(bad.code, 2);
  EXPECT_NE(bad.err.find("Invalid File Version"), std::string::npos) << bad.err;
  EXPECT_FALSE(QFile::exists(dir.filePath("y.sdb"))) << "a database made for a failed import goes";
  const ToolRun kept = Vtrtool({"sdb-import", db, broken});
  EXPECT_EQ(kept.code, 2);
  EXPECT_EQ(Vtrtool({"sdb-info", db}).out, info.out) << "a failed import leaves no layer";
  EXPECT_EQ(Vtrtool({"sdb-import", db}).code, 1);
}

TEST(VtrtoolSdb, FilesThatAreNotDatabasesAreInputErrors)
{
  QTemporaryDir dir;
  const QString bad = dir.filePath("bad.sdb");
  {
    QFile f(bad);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a database at all\n");
  }
  for (const char* command : {"sdb-info", "sdb-compact"}) {
    const ToolRun r = Vtrtool({command, bad});
    EXPECT_EQ(r.code, 2) << command;
    EXPECT_NE(r.err.find("Cannot open spatial database"), std::string::npos) << r.err;
    const ToolRun missing = Vtrtool({command, dir.filePath("none.sdb")});
    EXPECT_EQ(missing.code, 2) << command;
    EXPECT_FALSE(QFile::exists(dir.filePath("none.sdb"))) << "no file is made";
    EXPECT_EQ(Vtrtool({command}).code, 1);
  }
  QFile f(bad);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), QByteArray("not a database at all\n")) << "left as it was";
}

// sdb-info only reads: an empty or missing file is refused, every time, and never made into a
// database.
TEST(VtrtoolSdb, InfoOnAnEmptyOrMissingFileChangesNothing)
{
  QTemporaryDir dir;
  const QString empty = dir.filePath("empty.sdb");
  {
    QFile f(empty);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  }
  const QString missing = dir.filePath("none.sdb");
  const struct
  {
    QString file;
    const char* message;
  } cases[] = {{empty, "the file is empty"}, {missing, "no such database"}};
  for (const auto& c : cases)
    for (int run = 1; run <= 2; ++run) {
      const ToolRun r = Vtrtool({"sdb-info", c.file});
      EXPECT_EQ(r.code, 2) << c.message << ", run " << run;
      EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
      EXPECT_EQ(r.out, "");
    }
  EXPECT_TRUE(QFile::exists(empty));
  EXPECT_EQ(QFile(empty).size(), 0) << "left as it was";
  EXPECT_FALSE(QFile::exists(missing));
  EXPECT_FALSE(QFile::exists(empty + ".TRN"));
}

} // namespace
