// vtrtool lyr-info, run as the program: its lines for files of the writer, an old layout and the
// shipped world outline; its exit codes.
#include "VtrtoolRun.h"

#include "LYRFileWriter.h"
#include "globe/GLYRReader.h"
#include "globe/GObjectSource.h"
#include "globe/GPresenter.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using vtrtest::ToolRun;
using vtrtest::Vtrtool;

void WriteBytes(const QString& path, const std::vector<uint8_t>& bytes)
{
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
}

TEST(VtrtoolLyrInfo, PrintsVersionCountsRectangleAndName)
{
  using namespace vtr;
  QTemporaryDir dir;
  TGMemoryObjectSource source;
  source.Presenters().Add(std::make_unique<TGPointPresenter>());
  source.Presenters().Add(std::make_unique<TGPolylinePresenter>());
  auto point = std::make_shared<TGMapPoint>();
  point->SetCentroid(PointLL(100, 200));
  source.Add(point);
  auto poly = std::make_shared<TGMapPoly>(); // 3 + 2 vertices
  auto a = std::make_unique<TGPointStore>();
  for (const auto& [x, y] : {std::pair{0, 0}, {1000, 0}, {1000, 1000}})
    a->Add(PointLL(x, y));
  auto b = std::make_unique<TGPointStore>();
  b->Add(PointLL(2000, 2000));
  b->Add(PointLL(2000, 3000));
  poly->Chains().Add(std::move(a));
  poly->Chains().Add(std::move(b));
  source.Add(poly);
  auto single = std::make_shared<TGMapPoly>(); // no chains: its position
  single->SetCentroid(PointLL(-500, 10));
  source.Add(single);
  const QString path = dir.filePath("Soundings.lyr");
  SaveLYRFile(path.toStdString(), source);

  ToolRun r = Vtrtool({"lyr-info", path});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "version\t0x500\n"
                   "objects\t3\n"
                   "points\t7\n"
                   "presenters\t2\n"
                   "mer\t-500,0,2501,3001\n"
                   "name\tSoundings\n");

  // An old layout, empty: its version word and rectangle only.
  TGMemoryStream old;
  TGStreamWriter w(old);
  w.WriteWord(0x3FF);
  w.WriteMER({1, 2, 3, 4});
  const QString oldPath = dir.filePath("old.lyr");
  WriteBytes(oldPath, old.Bytes());
  r = Vtrtool({"lyr-info", oldPath});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "version\t0x3FF\nobjects\t0\npoints\t0\npresenters\t0\nmer\t0,0,0,0\n"
                   "name\told\n");
}

TEST(VtrtoolLyrInfo, TheShippedWorldOutline)
{
  const QString path = QStringLiteral(VTR_PROGRAM_DIR "/GIS/WorldOutline.lyr");
  ASSERT_TRUE(QFile::exists(path));
  const ToolRun r = Vtrtool({"lyr-info", path});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.rfind("version\t0x500\nobjects\t", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("\npresenters\t1\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nname\tWorldOutline\n"), std::string::npos) << r.out;

  // One polygon presenter that outlines without hiding the surface, and closed land polygons.
  vtr::TGLYRFileReader reader;
  reader.SetFileName(path.toStdString());
  int objects = 0;
  for (auto obj = reader.First(); obj; obj = reader.Next()) {
    auto poly = std::dynamic_pointer_cast<vtr::IGMapPoly>(obj);
    ASSERT_NE(poly, nullptr);
    ASSERT_TRUE(poly->Closed());
    ASSERT_EQ(poly->PresenterID(), 1);
    ASSERT_GT(poly->Chains().Count(), 0);
    ++objects;
  }
  EXPECT_GT(objects, 1000);
  ASSERT_EQ(reader.Presenters().Count(), 1);
  const auto* land = dynamic_cast<vtr::TGPolygonPresenter*>(reader.Presenters().ByID(1));
  ASSERT_NE(land, nullptr);
  EXPECT_EQ(land->PolyBrush().Style(), vtr::gbsClear);
  EXPECT_NE(land->PolyPen().Style(), vtr::gpsClear);
  EXPECT_NE(land->PolyPen().Color(), vtr::clBlue);
}

TEST(VtrtoolLyrInfo, BadUsageExitsWithOneAndUnreadableInputWithTwo)
{
  QTemporaryDir dir;
  EXPECT_EQ(Vtrtool({"lyr-info"}).code, 1);
  EXPECT_EQ(Vtrtool({"lyr-info", "a.lyr", "b.lyr"}).code, 1);

  ToolRun r = Vtrtool({"lyr-info", dir.filePath("missing.lyr")});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("no such file"), std::string::npos) << r.err;

  const QString text = dir.filePath("notes.txt");
  WriteBytes(text, {'h', 'i'});
  r = Vtrtool({"lyr-info", text});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("not a layer file"), std::string::npos) << r.err;

  const QString cut = dir.filePath("cut.lyr");
  WriteBytes(cut, {0x00, 0x05, 0x01, 0x00});
  r = Vtrtool({"lyr-info", cut});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("Damaged layer file " + cut.toStdString()), std::string::npos) << r.err;

  const QString future = dir.filePath("future.lyr");
  WriteBytes(future, {0x00, 0x06});
  r = Vtrtool({"lyr-info", future});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("Invalid File Version 600 in " + future.toStdString()), std::string::npos)
      << r.err;
  EXPECT_TRUE(r.out.empty()) << r.out;
}

} // namespace
