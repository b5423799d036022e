// Tiled raster images: a small description with its ".dmr" tile file generated per test, the
// rasters that pick the tiled source by extension, level choice, the tile cache's count and
// byte limits, the "No Image Data" tile for missing or damaged tiles, refused descriptions, and
// drawing only the tiles in view without examining the rest of a large grid.
#include "globe/GMapObject.h"

#include "globe/GBitmap.h"
#include "globe/GProjector.h"
#include "globe/GXML.h"

#include "GlobeTestSupport.h"
#include "ProjectorTestSupport.h"
#include "TestSupport.h"

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>

namespace vtr {
namespace {

constexpr int32_t D = GU_DEGREE;
using vtrtest::ErrorText;

// The colour of a generated tile, distinct per level and tile.
TColor TileColor(int level, int index)
{
  return RGBColor(static_cast<uint8_t>(40 + 80 * level), static_cast<uint8_t>((index * 37) % 200),
                  static_cast<uint8_t>(200 - (index * 11) % 150));
}

QByteArray Jpeg(int width, int height, TColor color)
{
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF));
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  EXPECT_TRUE(image.save(&buffer, "JPEG", 95));
  return bytes;
}

void AppendRecord(QByteArray& dmr, const QByteArray& bytes)
{
  const auto n = static_cast<uint32_t>(bytes.size());
  for (int i = 0; i < 4; ++i)
    dmr.append(static_cast<char>((n >> (8 * i)) & 0xFF));
  dmr.append(bytes);
}

// A tiled image of solid-colour tiles: <dir>/<name>.xmr and <name>.dmr. Each level's tiles
// cover ScalePower^level x tileSize pixels and are cut short at the image's edges.
struct XMRFixture
{
  QTemporaryDir dir;
  std::string xmr;
  std::string dmr;
  std::vector<std::vector<int64_t>> offsets; // per level, per tile

  XMRFixture(int width, int height, int tileSize, int levels, int scalePower = 2,
             const std::string& name = "chart")
  {
    xmr = dir.filePath(QString::fromStdString(name + ".xmr")).toStdString();
    dmr = dir.filePath(QString::fromStdString(name + ".dmr")).toStdString();
    QByteArray data("DMR0"); // a few bytes before the first record: offsets need not start at 0
    TGXML_Document doc("MRI");
    TGXML_Element& root = doc.Document();
    root.AddIntAttribute("Width", width, 0);
    root.AddIntAttribute("Height", height, 0);
    root.AddIntAttribute("TileSize", tileSize, 0);
    root.AddIntAttribute("ScalePower", scalePower, 2);
    for (int level = 0; level < levels; ++level) {
      const long double factor = std::pow(static_cast<long double>(scalePower), level);
      const long double span = factor * tileSize;
      const int across = std::max(1, static_cast<int>(std::ceil(width / span)));
      const int down = std::max(1, static_cast<int>(std::ceil(height / span)));
      TGXML_Element& mosaic = root.AddElement("Mosaic");
      mosaic.AddAttribute("Source", name + ".dmr");
      offsets.emplace_back();
      for (int row = 0; row < down; ++row)
        for (int col = 0; col < across; ++col) {
          const int index = row * across + col;
          const int w = static_cast<int>(std::ceil(std::min(span, width - col * span) / factor));
          const int h = static_cast<int>(std::ceil(std::min(span, height - row * span) / factor));
          offsets.back().push_back(data.size());
          mosaic.AddElement("Tile").SetBodyText(std::to_string(data.size()));
          AppendRecord(data, Jpeg(w, h, TileColor(level, index)));
        }
    }
    doc.SaveToFile(xmr);
    vtrtest::WriteFile(QString::fromStdString(dmr), data);
  }

  // Rewrites the description through f.
  void EditDescription(const std::function<void(TGXML_Element&)>& f)
  {
    TGXML_Document doc("MRI");
    doc.LoadFromFile(xmr);
    f(doc.Document());
    doc.SaveToFile(xmr);
  }
};

TGRasterXMRData& TiledData(TGMapRaster& raster)
{
  auto* data = dynamic_cast<TGRasterXMRData*>(raster.RasterData());
  EXPECT_NE(data, nullptr);
  return *data;
}

bool Near(TColor a, TColor b)
{
  for (int shift = 0; shift <= 16; shift += 8)
    if (std::abs(((a >> shift) & 0xFF) - ((b >> shift) & 0xFF)) > 6) return false;
  return true;
}

TEST(RasterXMR, TheExtensionChoosesTheTiledSourceWhichReadsItsDescriptionAndTiles)
{
  XMRFixture fx(100, 40, 16, 3);
  TGMapRaster raster;
  raster.SetImageName(fx.xmr);
  TGRasterXMRData& data = TiledData(raster);
  EXPECT_EQ(raster.ImageWidth(), 100);
  EXPECT_EQ(raster.ImageHeight(), 40);
  EXPECT_FALSE(raster.ImageEmpty());
  EXPECT_EQ(data.LevelCount(), 3);
  EXPECT_EQ(data.TileSize(), 16);
  EXPECT_EQ(data.TilesAcross(0), 7);
  EXPECT_EQ(data.TilesDown(0), 3);
  EXPECT_EQ(data.TilesAcross(2), 2);
  EXPECT_EQ(data.TilesDown(2), 1);

  // Tiles come back decoded, edge tiles at their own size.
  const struct
  {
    int level, col, row, width, height;
  } tiles[] = {{0, 0, 0, 16, 16}, {0, 6, 2, 4, 8}, {1, 3, 1, 2, 4}, {2, 1, 0, 9, 10}};
  for (const auto& t : tiles) {
    const auto tile = data.Tile(t.level, t.col, t.row);
    ASSERT_NE(tile, nullptr);
    EXPECT_EQ(tile->Width(), t.width) << t.level << "/" << t.col << "/" << t.row;
    EXPECT_EQ(tile->Height(), t.height);
    const int index = t.row * data.TilesAcross(t.level) + t.col;
    EXPECT_TRUE(Near(tile->GetPixel(0, 0), TileColor(t.level, index)))
        << std::hex << tile->GetPixel(0, 0) << " " << TileColor(t.level, index);
  }
  EXPECT_EQ(data.Tile(0, 7, 0), nullptr);
  EXPECT_EQ(data.Tile(3, 0, 0), nullptr);
  EXPECT_EQ(data.Tile(0, -1, 0), nullptr);

  // Any other extension gets the single-picture source; lower-case ".xmr" counts as tiled.
  TGMapRaster other;
  other.SetImageName(fx.dir.filePath("picture.png").toStdString());
  EXPECT_NE(dynamic_cast<TGRasterBitmapData*>(other.RasterData()), nullptr);
}

TEST(RasterXMR, FallsBackToTheImageFilenameWhenTheNameDoesNotExist)
{
  XMRFixture fx(32, 32, 16, 1);
  TGMapRaster raster;
  raster.SetImageFilename(fx.xmr);
  raster.SetImageName("/nowhere/stored-name.XMR");
  EXPECT_EQ(raster.ImageWidth(), 32);
  EXPECT_EQ(TiledData(raster).TileReads(), 0);
  EXPECT_NE(TiledData(raster).Tile(0, 1, 1), TiledData(raster).NoImageTile());

  // Neither file: an empty image, no error.
  TGMapRaster none;
  none.SetImageName("/nowhere/missing.xmr");
  EXPECT_TRUE(none.ImageEmpty());
  EXPECT_EQ(TiledData(none).LevelCount(), 0);
}

TEST(RasterXMR, ChoosesTheFirstLevelWhoseTilesAreNotShrunkTooFar)
{
  // With ScalePower 2 a level i is taken while 2^i x scale x morphScale >= 1 / 1.5.
  const struct
  {
    int32_t levels;
    int32_t scalePower;
    long double scale, morphScale;
    int32_t level;
  } cases[] = {
      {3, 2, 1, 1, 0},                          // one screen pixel per image pixel
      {3, 2, 0.7L, 1, 0},                       // shrunk by 1/0.7 = 1.43: still fine
      {3, 2, 0.6L, 1, 1},                       // shrunk by 1.67: the next level
      {3, 2, 0.34L, 1, 1},                      // 2 x 0.34 = 0.68
      {3, 2, 0.33L, 1, 2},                      // the last level when none fits
      {3, 2, 0.01L, 1, 2}, {3, 2, 1, 0.25L, 2}, // the morph's scale counts alike
      {3, 2, 0, 1, 2},                          // no scale: the last level
      {1, 2, 0.01L, 1, 0},                      // one level: always it
      {0, 2, 1, 1, -1},                         // no levels
      {4, 4, 0.2L, 1, 1},                       // ScalePower 4: 4^i x scale >= 1 / 2
      {4, 4, 0.1L, 1, 2},
  };
  for (const auto& c : cases)
    EXPECT_EQ(
        TGRasterXMRData::ChooseLevel(c.levels, 1000, 256, c.scalePower, c.scale, c.morphScale),
        c.level)
        << c.levels << " levels, power " << c.scalePower << ", scale "
        << static_cast<double>(c.scale) << ", morph " << static_cast<double>(c.morphScale);

  // The image width and tile size cancel out of the rule.
  for (const long double width : {10.0L, 1000.0L, 123456.0L})
    for (const int32_t tile : {1, 64, 2048})
      EXPECT_EQ(TGRasterXMRData::ChooseLevel(3, width, tile, 2, 0.6L, 1), 1);
}

TEST(RasterXMR, TheTileCacheKeepsTheMostRecentlyUsed256)
{
  XMRFixture fx(20 * 8, 15 * 8, 8, 1); // 300 tiles
  TGMapRaster raster;
  raster.SetImageName(fx.xmr);
  TGRasterXMRData& data = TiledData(raster);
  ASSERT_EQ(data.TilesAcross(0) * data.TilesDown(0), 300);
  const auto tile = [&](int i) { return data.Tile(0, i % 20, i / 20); };

  for (int i = 0; i < 256; ++i)
    tile(i);
  EXPECT_EQ(data.CachedTileCount(), 256);
  EXPECT_EQ(data.TileReads(), 256);
  // A hit reads nothing and moves the tile to the front...
  const auto first = tile(0);
  EXPECT_EQ(data.TileReads(), 256);
  EXPECT_EQ(tile(0), first);
  // ...so the next new tile frees the least recently used one, tile 1.
  tile(256);
  EXPECT_EQ(data.CachedTileCount(), 256);
  EXPECT_TRUE(data.TileCached(0, 0, 0));
  EXPECT_FALSE(data.TileCached(0, 1, 0));
  EXPECT_TRUE(data.TileCached(0, 16, 12)); // tile 256

  for (int i = 257; i < 300; ++i)
    tile(i);
  EXPECT_EQ(data.CachedTileCount(), 256);
  EXPECT_EQ(data.TileReads(), 300);
  tile(1); // freed earlier: read again
  EXPECT_EQ(data.TileReads(), 301);
}

// Large tiles would make 256 of them too much to hold: the oldest also go once the decoded
// pixels pass the byte budget (small here, through the test hook).
TEST(RasterXMR, TheTileCacheAlsoKeepsWithinItsByteBudget)
{
  XMRFixture fx(20 * 8, 15 * 8, 8, 1); // 300 tiles of 8 x 8 pixels, 256 bytes decoded
  fx.EditDescription([](TGXML_Element& root) {
    TGXML_Element& mosaic = *root.Element("Mosaic");
    for (int i = 290; i < 300; ++i)
      mosaic.Element(i)->SetBodyText("-1"); // missing
  });
  TGMapRaster raster;
  raster.SetImageName(fx.xmr);
  TGRasterXMRData& data = TiledData(raster);
  const auto tile = [&](int i) { return data.Tile(0, i % 20, i / 20); };
  const auto cached = [&](int i) { return data.TileCached(0, i % 20, i / 20); };
  const int64_t tileBytes = 8 * 8 * 4;
  data.SetTileCacheBytes(10 * tileBytes);

  for (int i = 0; i < 20; ++i)
    tile(i);
  EXPECT_EQ(data.CachedTileCount(), 10);
  EXPECT_EQ(data.CachedTileBytes(), 10 * tileBytes);
  EXPECT_FALSE(cached(9));
  EXPECT_TRUE(cached(10));
  // A hit moves the tile to the front, so the next new tile frees tile 10, not 12.
  const auto kept = tile(12);
  tile(20);
  EXPECT_FALSE(cached(10));
  EXPECT_TRUE(cached(11));
  EXPECT_EQ(tile(12), kept);
  EXPECT_EQ(data.TileReads(), 21);

  // Missing tiles share the one "No Image Data" tile and cost the budget nothing.
  for (int i = 290; i < 300; ++i)
    EXPECT_EQ(tile(i), data.NoImageTile());
  EXPECT_EQ(data.CachedTileCount(), 20);
  EXPECT_EQ(data.CachedTileBytes(), 10 * tileBytes);

  // Below one tile's size the newest tile still stays, alone.
  data.SetTileCacheBytes(1);
  tile(30);
  EXPECT_EQ(data.CachedTileCount(), 1);
  EXPECT_TRUE(cached(30));
  EXPECT_EQ(data.CachedTileBytes(), tileBytes);
  // Loading again starts an empty cache.
  raster.SetImageName("");
  raster.SetImageName(fx.xmr);
  EXPECT_EQ(TiledData(raster).CachedTileBytes(), 0);
}

TEST(RasterXMR, MissingAndDamagedTilesShowTheNoImageDataTile)
{
  XMRFixture fx(16 * 8, 16, 16, 1);
  QByteArray dmr = vtrtest::ReadFile(QString::fromStdString(fx.dmr));
  const int64_t size = dmr.size();
  // Tile 5's record claims more bytes than the file holds; tile 6's bytes are not a JPEG;
  // tile 7 is a JPEG larger than the tile size.
  const int64_t notJpeg = size, tooLarge = size + 4 + 9;
  AppendRecord(dmr, "not jpeg!");
  AppendRecord(dmr, Jpeg(40, 40, clRed));
  const int64_t overlong = dmr.size();
  dmr.append("\xFF\xFF\x00\x00", 4);
  dmr.append("short");
  vtrtest::WriteFile(QString::fromStdString(fx.dmr), dmr);
  fx.EditDescription([&](TGXML_Element& root) {
    TGXML_Element& mosaic = *root.Element("Mosaic");
    const std::string bodies[] = {"  ",    // 0: no number (blank, so the element stays)
                                  "12abc", // 1: not a number
                                  "-4",    // 2: negative
                                  std::to_string(size - 2), // 3: no room for the length
                                  "99999999999",            // 4: beyond the file
                                  std::to_string(overlong),
                                  std::to_string(notJpeg),
                                  std::to_string(tooLarge)};
    for (int i = 0; i < 8; ++i)
      mosaic.Element(i)->SetBodyText(bodies[i]);
    mosaic.Element(7)->AddElement("Ignored").SetBodyText("5"); // not part of the tile's text
  });

  TGMapRaster raster;
  raster.SetImageName(fx.xmr);
  TGRasterXMRData& data = TiledData(raster);
  const auto noImage = data.NoImageTile();
  ASSERT_EQ(noImage->Width(), 16);
  EXPECT_EQ(noImage->GetPixel(0, 0), clWhite);
  EXPECT_EQ(noImage->GetPixel(15, 15), clWhite);
  int dark = 0; // the text is drawn from a quarter of the width, about half the height
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      if ((noImage->GetPixel(x, y) & 0xFF) < 128) {
        ++dark;
        EXPECT_GE(x, 3);
      }
  EXPECT_GT(dark, 0);

  for (int i = 0; i < 8; ++i)
    EXPECT_EQ(data.Tile(0, i, 0), noImage) << "tile " << i;
  EXPECT_EQ(data.TileReads(), 2); // only the records that lie inside the file were read

  // Without the ".dmr" file every tile is missing.
  std::filesystem::remove(fx.dmr);
  raster.SetImageName("");
  raster.SetImageName(fx.xmr);
  EXPECT_EQ(TiledData(raster).Tile(0, 0, 0), TiledData(raster).NoImageTile());
  EXPECT_EQ(raster.ImageWidth(), 128);
}

TEST(RasterXMR, RefusesDamagedDescriptionsCleanly)
{
  const struct
  {
    const char* name;
    std::function<void(TGXML_Element&)> edit;
  } cases[] = {
      {"width 0", [](TGXML_Element& r) { r.AddAttribute("Width", "0"); }},
      {"height missing", [](TGXML_Element& r) { r.DeleteAttribute("Height"); }},
      {"tile size missing", [](TGXML_Element& r) { r.DeleteAttribute("TileSize"); }},
      {"tile size too large", [](TGXML_Element& r) { r.AddAttribute("TileSize", "4096"); }},
      {"scale power 1", [](TGXML_Element& r) { r.AddAttribute("ScalePower", "1"); }},
      {"too many tiles",
       [](TGXML_Element& r) {
         r.AddAttribute("Width", "2000000000");
         r.AddAttribute("Height", "2000000000");
       }},
      {"another root", [](TGXML_Element& r) { r.SetElementTag("Globe"); }},
  };
  for (const auto& c : cases) {
    XMRFixture fx(32, 32, 16, 2);
    fx.EditDescription(c.edit);
    TGMapRaster raster;
    EXPECT_EQ(ErrorText([&] { raster.SetImageName(fx.xmr); }),
              "TGRasterXMRData.Load: bad tiled image description " + fx.xmr)
        << c.name;
    EXPECT_TRUE(raster.ImageEmpty()) << c.name;
    EXPECT_EQ(TiledData(raster).LevelCount(), 0) << c.name;
  }

  // Text that is not a document says why.
  XMRFixture fx(32, 32, 16, 1);
  std::ofstream(fx.xmr, std::ios::trunc) << "<MRI Width=\"32\" Height=\"32\" TileSize=\"16\">"
                                            "<Mosaic><Tile>4";
  TGMapRaster raster;
  const std::string error = ErrorText([&] { raster.SetImageName(fx.xmr); });
  EXPECT_TRUE(error.starts_with("TGRasterXMRData.Load: bad tiled image description " + fx.xmr +
                                ": TGXML_Document.LoadFromFile: "))
      << error;
  EXPECT_NE(error.find("not closed"), std::string::npos) << error;
  EXPECT_TRUE(raster.ImageEmpty());
}

class NullObjectRenderer : public IGObjectRenderer
{
public:
  explicit NullObjectRenderer(TGProjector& p) : projector(p) {}
  TGProjector& Projector() override { return projector; }
  void DrawEllipse(const TGRect&) override {}
  void RenderChainStore(const TGChainStore&, TGRenderStateSet) override {}
  TGProjector& projector;
};

TEST(RasterXMR, DrawsTheTilesInViewAtTheChosenLevel)
{
  XMRFixture fx(64, 64, 16, 3);
  vtrtest::FakeGlobe globe;
  TGProjector projector(globe);
  projector.SetProjectionModel(std::make_unique<TGCartesianPrj>());
  NullObjectRenderer renderer(projector);

  TGMapRaster raster;
  raster.SetImageName(fx.xmr);
  TGRasterXMRData& data = TiledData(raster);
  // 64 pixels over 10 degrees, the top-left corner at (5W, 5N).
  const long double gu = 10.0L * D / 64;
  raster.Morph().SetScales(gu, gu);
  raster.Morph().SetOffsets(-5 * D, 5 * D);

  // About 0.84 screen pixels per image pixel: level 0, 4 x 4 tiles, 8 triangles each.
  projector.SetScaleFactor(1e-6L);
  ASSERT_EQ(data.LevelForScale(projector.ScaleFactor()), 0);
  raster.Render(renderer, 0);
  ASSERT_EQ(globe.triangles.size(), 16u * 8);
  EXPECT_EQ(data.TileReads(), 16);
  // The first tile's first triangle: its top-left, top-right and bottom-left corners, placed
  // by the morph.
  const vtrtest::TextureTriangle& t = globe.triangles[0];
  EXPECT_EQ(t.src[0], (TGPoint{0, 0}));
  EXPECT_EQ(t.src[1], (TGPoint{8, 0}));
  EXPECT_EQ(t.src[2], (TGPoint{0, 8}));
  EXPECT_EQ(t.dest[0], raster.Morph().ImageToWorld(0, 0));
  EXPECT_EQ(t.dest[1], raster.Morph().ImageToWorld(8, 0));
  EXPECT_EQ(t.dest[2], raster.Morph().ImageToWorld(0, 8));

  // Zoomed out, the one tile of the last level.
  globe.triangles.clear();
  projector.SetScaleFactor(1e-7L);
  raster.Render(renderer, 0);
  EXPECT_EQ(globe.triangles.size(), 8u);
  // Its 16 pixels stand for all 64 of the image: the second cell ends at the east edge.
  EXPECT_EQ(globe.triangles[2].dest[1], raster.Morph().ImageToWorld(64, 0));

  // Out of view nothing is drawn or read.
  globe.triangles.clear();
  projector.SetScaleFactor(1e-6L);
  raster.Morph().SetOffsets(100 * D, 5 * D);
  const int64_t reads = data.TileReads();
  raster.Render(renderer, 0);
  EXPECT_TRUE(globe.triangles.empty());
  EXPECT_EQ(data.TileReads(), reads);
}

// A projection that counts its point projections and can be told to pass every rectangle as
// visible, which makes the render examine every tile of the grid as a plain walk does.
struct Probe
{
  int64_t projections = 0;
  bool cull = true;
};

template <class Model> class ProbeModel : public Model
{
public:
  explicit ProbeModel(Probe& probe) : FProbe(probe) {}
  bool PointLLToXY(const TGPointLL& ptLL, int32_t iIndex) override
  {
    ++FProbe.projections;
    return Model::PointLLToXY(ptLL, iIndex);
  }
  bool VisibleMER(const TGMER& MER, TGRenderStateSet& State) override
  {
    return FProbe.cull ? Model::VisibleMER(MER, State) : true;
  }

private:
  Probe& FProbe; // the test's, which outlives the projector
};

// A grid of 128 x 128 one-pixel tiles (none stored: all "No Image Data", so nothing is
// decoded) over 300 x 160 degrees. The render draws exactly the tiles a walk of the whole grid
// draws, and where few of them show it projects far fewer points than such a walk.
TEST(RasterXMR, RenderingExaminesOnlyTheTilesThatCanShow)
{
  QTemporaryDir dir;
  const std::string xmr = dir.filePath("grid.xmr").toStdString();
  std::ofstream(xmr) << "<MRI Width=\"128\" Height=\"128\" TileSize=\"1\">"
                        "<Mosaic Source=\"grid.dmr\"/></MRI>";
  constexpr int64_t kGrid = 128 * 128;
  const struct
  {
    const char* name;
    bool sphere;
    long double scale;
    bool fewShow;
  } cases[] = {
      {"plate carree, zoomed in", false, 3e-6L, true},
      {"globe, zoomed in", true, 3e-6L, true},
      {"globe, the whole disc: the image's far side hidden", true, 4e-7L, false},
  };
  for (const auto& c : cases) {
    Probe probe;
    vtrtest::FakeGlobe globe;
    TGProjector projector(globe);
    if (c.sphere)
      projector.SetProjectionModel(std::make_unique<ProbeModel<TGSphericalPrj>>(probe));
    else
      projector.SetProjectionModel(std::make_unique<ProbeModel<TGCartesianPrj>>(probe));
    projector.SetScaleFactor(c.scale);
    NullObjectRenderer renderer(projector);
    TGMapRaster raster;
    raster.SetImageName(xmr);
    raster.Morph().SetScales(300.0L * D / 128, 160.0L * D / 128);
    raster.Morph().SetOffsets(-150 * D, 80 * D);

    const auto drawn = [&] {
      std::vector<std::array<int32_t, 6>> corners;
      for (const vtrtest::TextureTriangle& t : globe.triangles)
        corners.push_back({t.dest[0].iLongX, t.dest[0].iLatY, t.dest[1].iLongX, t.dest[1].iLatY,
                           t.dest[2].iLongX, t.dest[2].iLatY});
      std::sort(corners.begin(), corners.end());
      globe.triangles.clear();
      return corners;
    };
    probe.cull = false;
    int64_t start = probe.projections;
    raster.Render(renderer, 0);
    const int64_t walkProjections = probe.projections - start;
    const auto everyTile = drawn();
    probe.cull = true;
    start = probe.projections;
    raster.Render(renderer, 0);
    const int64_t culledProjections = probe.projections - start;
    const auto culled = drawn();

    EXPECT_GE(walkProjections, kGrid) << c.name;
    EXPECT_FALSE(everyTile.empty()) << c.name;
    EXPECT_TRUE(culled == everyTile)
        << c.name << ": " << culled.size() << " triangles, not " << everyTile.size();
    if (c.fewShow) {
      EXPECT_LT(everyTile.size(), size_t{8} * kGrid / 50) << c.name;
      EXPECT_LT(culledProjections * 10, walkProjections) << c.name;
    } else {
      EXPECT_LT(everyTile.size(), size_t{8} * kGrid) << c.name << ": the far side is not drawn";
      // Testing the blocks costs about as much again as testing each tile.
      EXPECT_LT(culledProjections, 3 * walkProjections) << c.name;
    }
  }
}

} // namespace
} // namespace vtr
