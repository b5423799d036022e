// vtrtool render, run as the program: the picture it writes, its options and exit codes.
#include "VtrtoolRun.h"

#include "LYRFileWriter.h"
#include "globe/GObjectSource.h"
#include "globe/GPresenter.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using vtrtest::ToolRun;
using vtrtest::Vtrtool;

int CountColour(const QImage& img, QRgb c)
{
  int n = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      n += (img.pixel(x, y) & 0xFFFFFF) == (c & 0xFFFFFF);
  return n;
}

TEST(VtrtoolRender, DrawsTheMapViewsGlobeAtTheGivenSize)
{
  QTemporaryDir dir;
  const QString out = dir.filePath("globe.png");
  const ToolRun r = Vtrtool({"render", "-o", out, "--size", "320x200"});
  ASSERT_EQ(r.code, 0) << r.err;
  const QImage img(out);
  ASSERT_EQ(img.size(), QSize(320, 200));
  // The view's blue surface on a black background, with the silver graticule.
  const int blue = CountColour(img, qRgb(0, 0, 255));
  const int black = CountColour(img, qRgb(0, 0, 0));
  EXPECT_GT(blue, 5000);
  EXPECT_GT(black, 20000);
  EXPECT_GT(CountColour(img, qRgb(192, 192, 192)), 200);

  // Flat projections fill the view with the map; the shadow darkens part of the globe.
  const QString flat = dir.filePath("flat.png");
  ASSERT_EQ(Vtrtool({"render", "-o", flat, "--size", "320x200", "--projection", "mercator",
                     "--gu-per-pixel", "2700000"})
                .code,
            0);
  EXPECT_GT(CountColour(QImage(flat), qRgb(0, 0, 255)), 320 * 150);
  const QString night = dir.filePath("night.png");
  ASSERT_EQ(Vtrtool({"render", "-o", night, "--size", "320x200", "--center", "0,0", "--shadow",
                     "2026-12-21T00:00Z"})
                .code,
            0);
  EXPECT_LT(CountColour(QImage(night), qRgb(0, 0, 255)), blue / 4);
}

TEST(VtrtoolRender, TextureAndFrameTimes)
{
  QTemporaryDir dir;
  QImage texture(64, 32, QImage::Format_RGB32);
  texture.fill(qRgb(255, 0, 0));
  const QString tex = dir.filePath("tex.bmp");
  ASSERT_TRUE(texture.save(tex));
  const QString out = dir.filePath("t.png");
  const ToolRun r = Vtrtool({"render", "-o", out, "--size", "200x200", "--projection", "cartesian",
                             "--gu-per-pixel", "2700000", "--texture", tex, "--frames", "3"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.rfind("frame_ms_median\t", 0), 0u) << r.out;
  EXPECT_GT(CountColour(QImage(out), qRgb(255, 0, 0)), 200 * 150);
}

TEST(VtrtoolRender, BadUsageExitsWithOneAndUnreadableInputWithTwo)
{
  QTemporaryDir dir;
  const QString out = dir.filePath("x.png");
  const QStringList bad[] = {
      {"render"},
      {"render", "-o", out, "--size", "0x10"},
      {"render", "-o", out, "--size", "big"},
      {"render", "-o", out, "--projection", "gnomonic"},
      {"render", "-o", out, "--center", "95,0"},
      {"render", "-o", out, "--shadow", "2026-02-30T00:00"},
      {"render", "-o", out, "--frames", "0"},
      {"render", "-o", out, "--gu-per-pixel", "-5"},
      {"render", "-o", out, "--bogus"},
  };
  for (const auto& args : bad)
    EXPECT_EQ(Vtrtool(args).code, 1) << args.join(' ').toStdString();
  EXPECT_EQ(Vtrtool({"render", "-o", out, "--texture", dir.filePath("none.bmp")}).code, 2);
  const QString junk = dir.filePath("junk.bmp");
  QFile f(junk);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("not a picture");
  f.close();
  EXPECT_EQ(Vtrtool({"render", "-o", out, "--texture", junk}).code, 2);
  EXPECT_EQ(Vtrtool({"render", "-o", dir.filePath("no/such/dir/x.png")}).code, 2);
  EXPECT_FALSE(QFile::exists(out));
}

// A square outlined in fuchsia, 40 degrees across, about (0, 0).
void WriteSquareLayer(const QString& path)
{
  using namespace vtr;
  TGMemoryObjectSource source;
  auto presenter = std::make_unique<TGPolygonPresenter>();
  presenter->SetPresenterID(1);
  presenter->PolyPen().Define(0xFF00FF, gpsSolid, 3, guPixel);
  presenter->PolyBrush().Define(clWhite, clWhite, gbsClear);
  source.Presenters().Add(std::move(presenter));
  auto square = std::make_shared<TGMapPoly>();
  square->SetClosed(true);
  square->SetPresenterID(1);
  auto ring = std::make_unique<TGPointStore>();
  for (const auto& [lat, lon] : {std::pair{-20, -20}, {-20, 20}, {20, 20}, {20, -20}})
    ring->AddDD(lat, lon);
  square->Chains().Add(std::move(ring));
  source.Add(square);
  SaveLYRFile(path.toStdString(), source);
}

TEST(VtrtoolRender, LayerFilesAndOtherwiseTheWorldOutline)
{
  QTemporaryDir dir;
  const QString square = dir.filePath("square.lyr");
  WriteSquareLayer(square);
  const QStringList view = {"--size",         "320x200", "--projection", "cartesian",
                            "--gu-per-pixel", "2700000", "--center",     "0,0"};
  const QRgb fuchsia = qRgb(255, 0, 255);
  const QRgb lime = qRgb(0, 255, 0);

  const QString layered = dir.filePath("layered.png");
  ToolRun r = Vtrtool(QStringList{"render", "-o", layered, "--layer", square} + view);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_GT(CountColour(QImage(layered), fuchsia), 4 * 60);
  EXPECT_EQ(CountColour(QImage(layered), lime), 0);

  // Without --layer: the world outline of the program folder, lime on the blue surface.
  const QString world = dir.filePath("world.png");
  r = Vtrtool(QStringList{"render", "-o", world} + view);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(CountColour(QImage(world), fuchsia), 0);
  EXPECT_GT(CountColour(QImage(world), lime), 1000);

  // Layer files that cannot be read.
  EXPECT_EQ(Vtrtool({"render", "-o", world, "--layer", dir.filePath("none.lyr")}).code, 2);
  QFile cut(dir.filePath("cut.lyr"));
  ASSERT_TRUE(cut.open(QIODevice::WriteOnly));
  QFile whole(square);
  ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
  cut.write(whole.readAll().left(30));
  cut.close();
  r = Vtrtool({"render", "-o", world, "--layer", cut.fileName()});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find(cut.fileName().toStdString()), std::string::npos) << r.err;
}

} // namespace

namespace {

// A version-7 scenario of one surface unit at 0, 0 heading east, its arrow on or off.
QString WriteScenario(const QTemporaryDir& dir, const char* name, int hdgArrow)
{
  const QString path = dir.filePath(QString(name) + ".vtrsc");
  QFile f(path);
  EXPECT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(QString("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                  "<QV27Scenario versionsave=\"7\" versionprog=\"1.0.0.1\">"
                  "<notes><note timestamp=\"0.0\" revision=\"0.0\"/></notes><units>"
                  "<unit id=\"4\" timecreate=\"0.0\" timecurrent=\"0.0\">"
                  "<status timestamp=\"0.0\" revision=\"0.0\"><objtype>uSurface</objtype>"
                  "<name>HAWK</name><class/><lat>0</lat><lon>0</lon><alt>0</alt><hdg>90</hdg>"
                  "<speed>0</speed><hdgarrow>%1</hdgarrow></status></unit></units>"
                  "<timestamps/></QV27Scenario>")
              .arg(hdgArrow)
              .toUtf8());
  return path;
}

int CountNear(const QImage& img, QRect area, bool (*match)(QRgb))
{
  int n = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      n += match(img.pixel(x, y));
  return n;
}

bool Yellowish(QRgb c)
{
  return qRed(c) > 200 && qGreen(c) > 200 && qBlue(c) < 80;
}
bool White(QRgb c)
{
  return (c & 0xFFFFFF) == 0xFFFFFF;
}

} // namespace

TEST(VtrtoolRender, AScenarioIsDrawnAsTheMapViewShowsIt)
{
  QTemporaryDir dir;
  const QStringList view = {"--size",         "320x200", "--projection", "cartesian",
                            "--gu-per-pixel", "1000000", "--center",     "0,0"};
  // The unit at the centre (160, 100), its symbol 24 pixels across: its name 12 pixels high
  // above it, its arrow to the east, 24 pixels long.
  const QRect label(135, 70, 50, 20), arrow(170, 97, 12, 6), symbol(152, 92, 16, 16);

  const QString on = dir.filePath("on.png");
  ToolRun r = Vtrtool(QStringList{"render", WriteScenario(dir, "on", 1), "-o", on} + view);
  ASSERT_EQ(r.code, 0) << r.err;
  const QImage withArrow(on);
  EXPECT_GT(CountNear(withArrow, label, Yellowish), 10);
  EXPECT_GT(CountNear(withArrow, arrow, White), 8);

  const QString off = dir.filePath("off.png");
  r = Vtrtool(QStringList{"render", WriteScenario(dir, "off", 0), "-o", off} + view);
  ASSERT_EQ(r.code, 0) << r.err;
  const QImage noArrow(off);
  EXPECT_EQ(CountNear(noArrow, arrow, White), 0);
  EXPECT_GT(CountNear(noArrow, label, Yellowish), 10);

  // The symbol sits where the world outline's own render leaves the plain map.
  const QString bare = dir.filePath("bare.png");
  ASSERT_EQ(Vtrtool(QStringList{"render", "-o", bare} + view).code, 0);
  int changed = 0;
  for (int y = symbol.top(); y <= symbol.bottom(); ++y)
    for (int x = symbol.left(); x <= symbol.right(); ++x)
      changed += QImage(bare).pixel(x, y) != noArrow.pixel(x, y);
  EXPECT_GT(changed, 40);

  EXPECT_EQ(Vtrtool({"render", dir.filePath("none.vtrsc"), "-o", off}).code, 2);
  EXPECT_EQ(
      Vtrtool({"render", WriteScenario(dir, "x", 1), "--sdb", dir.filePath("a.sdb"), "-o", off})
          .code,
      1);
}
