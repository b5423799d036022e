// Layer files: choosing a reader, the reader's iteration and progress, every layout from version
// 0x300 to 0x500 (byte fixtures written here from the file layout), damaged and truncated
// files, side documents, and files from the writer read back.
#include "globe/GLYRReader.h"

#include "LYRFileWriter.h"
#include "globe/GLayer.h"
#include "globe/GPresenter.h"
#include "globe/GXML.h"

#include "GlobeTestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <tuple>

namespace vtr {
namespace {

using vtrtest::ErrorText;

// Colours beside the engine's own constants.
constexpr TColor kNavy = 0x800000;
constexpr TColor kYellow = 0x00FFFF;
constexpr TColor kGreen = 0x008000;
constexpr TColor kMaroon = 0x000080;
constexpr TColor kTeal = 0x808000;
constexpr TColor kPurple = 0x800080;
constexpr TColor kOlive = 0x008080;
constexpr TColor kGray = 0x808080;
constexpr TColor kFuchsia = 0xFF00FF;

// Builds a file byte by byte.
struct Bytes
{
  TGMemoryStream stream;
  TGStreamWriter w{stream};
  std::vector<uint8_t> Data() const { return stream.Bytes(); }
};

class LYRFile : public ::testing::Test
{
protected:
  std::string Path(const std::string& name) const
  {
    return (dir_.path() + "/").toStdString() + name;
  }

  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const
  {
    const std::string path = Path(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  static std::unique_ptr<TGLYRFileReader> Reader(const std::string& path)
  {
    auto reader = std::make_unique<TGLYRFileReader>();
    reader->SetFileName(path);
    return reader;
  }

  static std::vector<std::shared_ptr<IGMapPoint>> ReadAll(TGCustomDataReader& reader)
  {
    std::vector<std::shared_ptr<IGMapPoint>> objects;
    for (auto obj = reader.First(); obj; obj = reader.Next())
      objects.push_back(obj);
    return objects;
  }

  QTemporaryDir dir_;
};

std::vector<TGPointLL> Points(const TGPointStore& chain)
{
  const auto pts = chain.Points();
  return {pts.begin(), pts.end()};
}

// ---------------------------------------------------------------------------------------------
// One content in the layout of each version

constexpr TColor kFontBk = 0x445566;

// A point presenter (under its old class name), a polygon presenter, a titled point and a
// closed poly of two rings: the first stored in full, the second in the coarse, delta-coded
// form with one escape.
std::vector<uint8_t> VersionFixture(uint16_t v)
{
  Bytes b;
  TGStreamWriter& w = b.w;
  w.WriteWord(v);
  if (v < 0x500) w.WriteMER({1, 2, 3, 4});
  const auto font = [&](TColor color, const std::string& name) {
    if (v >= 0x500) w.WriteInteger(kFontBk);
    w.WriteInteger(color);
    w.WriteByte(guMeter);
    w.WriteSmallInt(10);
    w.WriteSmallInt(450);
    w.WriteByte(FontStyleBit(gfsBold) | FontStyleBit(gfsItalic));
    w.WriteShortString(name);
  };
  const auto pen = [&](TColor color, TGPenStyle style, uint8_t width) {
    w.WriteInteger(color);
    w.WriteByte(style);
    if (v < 0x400) {
      w.WriteByte(width);
    } else {
      w.WriteInteger(width);
      w.WriteByte(guPixel);
    }
  };
  const auto brush = [&](TColor color, TColor bkColor, TGBrushStyle style) {
    w.WriteInteger(color);
    if (v >= 0x405) w.WriteInteger(bkColor);
    w.WriteByte(style);
  };
  const auto head = [&](int32_t id, const std::string& name) {
    if (v >= 0x500) {
      w.WriteByte(200);
      w.WriteSmallInt(2);
      w.WriteInteger(9);
      w.WriteInteger(5000);
      w.WriteInteger(10);
      w.WriteByte(guMile);
    }
    w.WriteInteger(id);
    if (v >= 0x400)
      w.WriteInteger(-5);
    else if (v > 0x300)
      w.WriteShortInt(-5);
    w.WriteShortString(name);
    w.WriteByte(taTop);
    font(clRed, "Courier");
  };

  w.WriteInteger(1);
  w.WriteShortString("TPointPresenter");
  head(7, "Ports");
  w.WriteByte(ppSquare);
  w.WriteByte(guPixel);
  w.WriteInteger(-12);
  w.WriteInteger(40);
  w.WriteSmallInt(65);
  w.WriteShortString("");
  pen(clRed, gpsDash, 3);
  brush(clLime, clBlue, gbsCross);
  font(kNavy, "Symbol");

  w.WriteInteger(1);
  w.WriteShortString("TGPolygonPresenter");
  head(8, "Coast");
  pen(kYellow, gpsSolid, 2);
  brush(kGreen, clSilver, gbsDiagCross);

  w.WriteInteger(1);
  w.WriteShortString("TGMapObject");
  w.WriteWord(ofTitle | ofID | ofUserID | ofZoomMinMax);
  if (v >= 0x500)
    w.WriteLongString("Cape Town, ZA");
  else
    w.WriteShortString("Cape Town, ZA");
  w.WriteInteger(99);
  w.WriteShortString("ct");
  w.WriteInteger(1);
  w.WriteInteger(2);
  w.WriteSmallInt(7);
  w.WritePointLL(PointLL(99'468'000, -183'168'000), false, false);

  w.WriteInteger(1);
  w.WriteShortString("TGPolyObject");
  w.WriteWord(ofClosed | ofMultiRing | ofUserID);
  w.WriteShortString("island");
  w.WriteSmallInt(8);
  const auto fullRing = [&] {
    w.WriteWord(3);
    w.WritePointLL(PointLL(1000, 2000), false, false);
    if (v >= 0x500) { // deltas
      w.WriteSmallInt(500);
      w.WriteSmallInt(500);
      w.WriteSmallInt(-500);
      w.WriteSmallInt(500);
    } else { // every point in full
      w.WritePointLL(PointLL(1500, 2500), false, false);
      w.WritePointLL(PointLL(1000, 3000), false, false);
    }
  };
  const auto coarseRing = [&] {
    w.WriteWord(3);
    w.WriteSmallInt(600); // 10 degrees in units of 90,000 GU
    w.WriteSmallInt(1200);
    w.WriteShortInt(6);
    w.WriteShortInt(-3);
    w.WriteShortInt(127); // escape: a full point follows
    w.WriteSmallInt(-600);
    w.WriteSmallInt(-1200);
  };
  if (v >= 0x500) {
    w.WriteSmallInt(2);
    w.WriteByte(0);
    fullRing();
    w.WriteByte(ps16Bit);
    coarseRing();
  } else {
    w.WriteWord(2);
    fullRing();
    w.WriteWord(ofCompressed | of16Bit); // the next chain's flags
    coarseRing();
  }
  w.WriteInteger(0);
  return b.Data();
}

class LYRVersions : public LYRFile, public ::testing::WithParamInterface<uint16_t>
{
};

TEST_P(LYRVersions, EveryLayoutReadsTheSameContent)
{
  const uint16_t v = GetParam();
  auto reader = Reader(Write("v.lyr", VersionFixture(v)));
  const auto objects = ReadAll(*reader);
  EXPECT_EQ(reader->FileVersion(), v);
  ASSERT_EQ(objects.size(), 2u);
  ASSERT_EQ(reader->Presenters().Count(), 2);

  auto* point = dynamic_cast<TGPointPresenter*>(reader->Presenters().ByID(7));
  ASSERT_NE(point, nullptr);
  EXPECT_EQ(point->Name(), "Ports");
  // The title offset: four bytes from 0x400, one signed byte before, none in 0x300.
  EXPECT_EQ(point->TitleOffset(), v == 0x300 ? 0 : -5);
  EXPECT_EQ(point->TitleAlignment(), taTop);
  EXPECT_EQ(point->AlphaBlend(), v >= 0x500 ? 200 : 255);
  EXPECT_EQ(point->TitleColumn(), v >= 0x500 ? 2 : 0);
  EXPECT_EQ(point->NextPresenterID(), v >= 0x500 ? 9 : 0);
  EXPECT_EQ(point->TitleZoomMax(), v >= 0x500 ? 5000 : 0);
  EXPECT_EQ(point->TitleZoomMin(), v >= 0x500 ? 10 : 0);
  EXPECT_EQ(point->TitleFont().Name(), "Courier");
  EXPECT_EQ(point->TitleFont().Color(), clRed);
  EXPECT_EQ(point->TitleFont().BkColor(), v >= 0x500 ? kFontBk : clWhite);
  EXPECT_EQ(point->TitleFont().SizeUnit(), guMeter);
  EXPECT_EQ(point->TitleFont().Size(), 10);
  EXPECT_EQ(point->TitleFont().Angle(), 450);
  EXPECT_EQ(point->TitleFont().Style(), FontStyleBit(gfsBold) | FontStyleBit(gfsItalic));
  EXPECT_EQ(point->PointType(), ppSquare);
  // A negative size is the size, with the maximum after it.
  EXPECT_EQ(point->PointSize(), 12);
  EXPECT_EQ(point->MaxPointSize(), 40);
  EXPECT_EQ(point->SymbolIndex(), 65);
  EXPECT_EQ(point->PointPen().Color(), clRed);
  EXPECT_EQ(point->PointPen().Style(), gpsDash);
  EXPECT_EQ(point->PointPen().Width(), 3);
  EXPECT_EQ(point->PointPen().WidthUnit(), guPixel);
  EXPECT_EQ(point->PointBrush().Color(), clLime);
  EXPECT_EQ(point->PointBrush().BkColor(), v >= 0x405 ? clBlue : clLime);
  EXPECT_EQ(point->PointBrush().Style(), gbsCross);
  EXPECT_EQ(point->PointFont().Name(), "Symbol");
  EXPECT_EQ(point->PointFont().Color(), kNavy);

  auto* polygon = dynamic_cast<TGPolygonPresenter*>(reader->Presenters().ByID(8));
  ASSERT_NE(polygon, nullptr);
  EXPECT_EQ(polygon->Name(), "Coast");
  EXPECT_EQ(polygon->PolyPen().Color(), kYellow);
  EXPECT_EQ(polygon->PolyPen().Width(), 2);
  EXPECT_EQ(polygon->PolyBrush().Color(), kGreen);
  EXPECT_EQ(polygon->PolyBrush().BkColor(), v >= 0x405 ? clSilver : kGreen);
  EXPECT_EQ(polygon->PolyBrush().Style(), gbsDiagCross);

  // A title with a comma but no quotes becomes one quoted item.
  EXPECT_EQ(objects[0]->ClassName(), "TGMapPoint");
  EXPECT_EQ(objects[0]->ObjectDataCSL(), "\"Cape Town, ZA\"");
  EXPECT_EQ(objects[0]->GetAttribute(0), "Cape Town, ZA");
  EXPECT_EQ(objects[0]->UserID(), "ct");
  EXPECT_EQ(objects[0]->PresenterID(), 7);
  EXPECT_EQ(objects[0]->Centroid(), PointLL(99'468'000, -183'168'000));

  auto poly = std::dynamic_pointer_cast<IGMapPoly>(objects[1]);
  ASSERT_NE(poly, nullptr);
  EXPECT_TRUE(poly->Closed());
  EXPECT_EQ(poly->UserID(), "island");
  EXPECT_EQ(poly->PresenterID(), 8);
  EXPECT_EQ(poly->ObjectDataCSL(), "");
  ASSERT_EQ(poly->Chains().Count(), 2);
  EXPECT_EQ(
      Points(poly->Chains().GetChain(0)),
      (std::vector<TGPointLL>{PointLL(1000, 2000), PointLL(1500, 2500), PointLL(1000, 3000)}));
  EXPECT_EQ(
      Points(poly->Chains().GetChain(1)),
      (std::vector<TGPointLL>{PointLL(54'000'000, 108'000'000), PointLL(54'540'000, 107'730'000),
                              PointLL(-54'000'000, -108'000'000)}));
  EXPECT_FALSE(reader->IsOpen());
  EXPECT_EQ(reader->MetaData().Value("SourceName"), reader->FileName());
}

INSTANTIATE_TEST_SUITE_P(Layouts, LYRVersions,
                         ::testing::Values(0x300, 0x3FF, 0x400, 0x405, 0x4FF, 0x500),
                         [](const auto& info) {
                           char name[8];
                           std::snprintf(name, sizeof name, "v%X", info.param);
                           return std::string(name);
                         });

// ---------------------------------------------------------------------------------------------
// Choosing a reader, names, side documents

TEST_F(LYRFile, AReaderIsChosenByTheFileExtension)
{
  Bytes b;
  b.w.WriteWord(0x500);
  const std::string lyr = Write("World Outline.LYR", b.Data());
  auto reader = DataReaderForFile(nullptr, lyr);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->ClassName(), "TGLYRFileReader");
  EXPECT_EQ(reader->FileName(), lyr);
  EXPECT_EQ(reader->Name(), "World Outline");
  const TGRegisteredClass* entry = FindGlobeClass("TGLYRFileReader");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->DisplayName, "LYR File Reader");

  EXPECT_EQ(DataReaderForFile(nullptr, Path("missing.lyr")), nullptr);
  EXPECT_EQ(DataReaderForFile(nullptr, Write("data.xyz", b.Data())), nullptr);
  EXPECT_EQ(DataReaderForFile(nullptr, Write("noextension", b.Data())), nullptr);

  // The XML form carries the file name, which names the reader again.
  TGXML_Document doc("Component");
  reader->SaveToXML(doc.Document());
  EXPECT_EQ(doc.Document().Attribute("Class"), "TGLYRFileReader");
  EXPECT_EQ(doc.Document().Attribute("Filename"), lyr);
  TGLYRFileReader copy;
  copy.LoadFromXML(doc.Document());
  EXPECT_EQ(copy.FileName(), lyr);
  EXPECT_EQ(copy.Name(), "World Outline");
}

// Records which side document the reader was given.
class SideDocumentReader : public TGLYRFileReader
{
public:
  std::string Seen;

protected:
  void ReadMetaDataXML(const TGXML_Element& root) override
  {
    Seen = root.ElementTag() + ":" + root.Attribute("From");
  }
};

TEST_F(LYRFile, TheSideDocumentOfTheFileComesBeforeTheOneOfItsExtension)
{
  Bytes b;
  b.w.WriteWord(0x500);
  b.w.WriteInteger(0);
  const std::string lyr = Write("Outline.lyr", b.Data());
  const auto xmd = [&](const std::string& name, const std::string& text) {
    Write(name, std::vector<uint8_t>(text.begin(), text.end()));
  };
  const auto seen = [&] {
    SideDocumentReader reader;
    reader.SetFileName(lyr);
    EXPECT_EQ(reader.First(), nullptr);
    return reader.Seen;
  };
  EXPECT_EQ(seen(), "");
  xmd("lyr.xmd", "<XMD From=\"extension\"/>");
  EXPECT_EQ(seen(), "XMD:extension");
  xmd("Outline.xmd", "<XMD From=\"file\"/>");
  EXPECT_EQ(seen(), "XMD:file");
  // Nothing reads the side document, so a damaged one does not stop the layer.
  xmd("Outline.xmd", "<XMD From=\"file");
  EXPECT_EQ(seen(), "");
}

// ---------------------------------------------------------------------------------------------
// Header sections and records

TEST_F(LYRFile, AFirstCountOfZeroEndsTheHeaderAndTheDataFollows)
{
  Bytes b;
  b.w.WriteWord(0x500);
  b.w.WriteInteger(0);
  b.w.WriteInteger(2);
  b.w.WriteShortString("TGMapPoint");
  for (int i = 0; i < 2; ++i) {
    b.w.WriteWord(0);
    b.w.WriteSmallInt(static_cast<int16_t>(i + 1));
    b.w.WritePointLL(PointLL(i, -i), false, false);
  }
  b.w.WriteInteger(0);
  auto reader = Reader(Write("zero.lyr", b.Data()));
  const auto objects = ReadAll(*reader);
  ASSERT_EQ(objects.size(), 2u);
  EXPECT_EQ(objects[1]->PresenterID(), 2);
  EXPECT_EQ(objects[1]->Centroid(), PointLL(1, -1));
  EXPECT_EQ(reader->Presenters().Count(), 0);
  EXPECT_EQ(reader->MetaData().Value("ColumnNames"), "Title");
}

TEST_F(LYRFile, TitlesAreQuotedUnlessTheyAreCommaTextAlready)
{
  struct Case
  {
    std::string title;
    std::string csl;
    std::vector<std::string> attributes;
  };
  const Case cases[] = {
      {"Harbour", "\"Harbour\"", {"Harbour"}},
      {"Cape Town, ZA", "\"Cape Town, ZA\"", {"Cape Town, ZA"}},
      {"\"Table Bay\",\"Port\"", "\"Table Bay\",\"Port\"", {"Table Bay", "Port"}},
      // A quote inside is doubled, so the title stays one item.
      {"5\" gun", "\"5\"\" gun\"", {"5\" gun"}},
      {"", "", {""}},
  };
  Bytes b;
  b.w.WriteWord(0x500);
  b.w.WriteInteger(static_cast<int32_t>(std::size(cases)));
  b.w.WriteShortString("TGMapPoint");
  for (const Case& c : cases) {
    b.w.WriteWord(ofTitle);
    b.w.WriteLongString(c.title);
    b.w.WriteSmallInt(0);
    b.w.WritePointLL({}, false, false);
  }
  auto reader = Reader(Write("titles.lyr", b.Data()));
  const auto objects = ReadAll(*reader);
  ASSERT_EQ(objects.size(), std::size(cases));
  for (size_t i = 0; i < objects.size(); ++i) {
    EXPECT_EQ(objects[i]->ObjectDataCSL(), cases[i].csl) << cases[i].title;
    for (size_t k = 0; k < cases[i].attributes.size(); ++k)
      EXPECT_EQ(objects[i]->GetAttribute(static_cast<int32_t>(k)), cases[i].attributes[k])
          << cases[i].title;
  }
}

TEST_F(LYRFile, PolyRecordsSingleHeightsAndOldChainsWithTheHeightFlag)
{
  Bytes b;
  b.w.WriteWord(0x400);
  b.w.WriteMER({});
  b.w.WriteInteger(1);
  b.w.WriteShortString("TGMapPoly");
  // ofSingle: a position and no chains.
  b.w.WriteWord(ofSingle | ofClosed);
  b.w.WriteSmallInt(3);
  b.w.WritePointLL(PointLL(-5'400'000, 2'700'000), false, false);
  // A point record with a height.
  b.w.WriteInteger(1);
  b.w.WriteShortString("TGObject");
  b.w.WriteWord(ofHeight | of16Bit);
  b.w.WriteSmallInt(0);
  b.w.WritePointLL(TGPointLL{900'000, 180'000, 270'000}, true, true);
  // An old chain under ofHeight and ofLongCount: a 32-bit count and points without heights.
  b.w.WriteInteger(1);
  b.w.WriteShortString("TGeoDataObject");
  b.w.WriteWord(ofHeight | ofLongCount);
  b.w.WriteSmallInt(0);
  b.w.WriteInteger(2);
  b.w.WritePointLL(PointLL(10, 20), false, false);
  b.w.WritePointLL(PointLL(30, 40), false, false);
  b.w.WriteInteger(0);
  auto reader = Reader(Write("polys.lyr", b.Data()));
  const auto objects = ReadAll(*reader);
  ASSERT_EQ(objects.size(), 3u);

  auto single = std::dynamic_pointer_cast<IGMapPoly>(objects[0]);
  ASSERT_NE(single, nullptr);
  EXPECT_TRUE(single->Closed());
  EXPECT_EQ(single->Chains().Count(), 0);
  EXPECT_EQ(single->Centroid(), PointLL(-5'400'000, 2'700'000));

  EXPECT_EQ(objects[1]->Centroid(), (TGPointLL{900'000, 180'000, 270'000}));

  auto old = std::dynamic_pointer_cast<IGMapPoly>(objects[2]);
  ASSERT_NE(old, nullptr);
  ASSERT_EQ(old->Chains().Count(), 1);
  EXPECT_FALSE(old->Chains().GetChain(0).StoreHeight());
  EXPECT_EQ(Points(old->Chains().GetChain(0)),
            (std::vector<TGPointLL>{PointLL(10, 20), PointLL(30, 40)}));
}

TEST_F(LYRFile, MetaDataPresenterXMLAndColumnNamesSections)
{
  Bytes b;
  b.w.WriteWord(0x500);
  KeyValueList meta;
  meta.SetValue("Author", "Survey, 1999");
  meta.SetValue(
      "Presenters",
      "<Component><Presenter Class=\"TGPolylinePresenter\" PresenterID=\"3\"/></Component>");
  b.w.WriteInteger(1);
  b.w.WriteShortString("MetaData");
  b.w.WriteLongString(ToCommaText(meta.Lines()));
  b.w.WriteInteger(1);
  b.w.WriteShortString("PresenterXML");
  b.w.WriteLongString("<Presenter Class=\"TPointPresenter\" PresenterID=\"4\" Name=\"Old\"/>");
  b.w.WriteInteger(1);
  b.w.WriteShortString("ColumnNames");
  b.w.WriteLongString("Name,Depth");
  b.w.WriteInteger(0);
  auto reader = Reader(Write("meta.lyr", b.Data()));
  EXPECT_TRUE(ReadAll(*reader).empty());
  EXPECT_EQ(reader->MetaData().Value("Author"), "Survey, 1999");
  EXPECT_EQ(reader->MetaData().Value("ColumnNames"), "Name,Depth");
  // The presenter XML section replaced the store that the metadata had filled.
  ASSERT_EQ(reader->Presenters().Count(), 1);
  EXPECT_EQ(reader->Presenters().GetPresenter(0).ClassName(), "TGPointPresenter");
  EXPECT_EQ(reader->Presenters().GetPresenter(0).Name(), "Old");
}

TEST_F(LYRFile, APointSizeNotNegativeReadsNoMaximum)
{
  Bytes b;
  b.w.WriteWord(0x4FF);
  b.w.WriteMER({});
  b.w.WriteInteger(2);
  b.w.WriteShortString("TGPointPresenter");
  for (int32_t size : {12, -12}) {
    b.w.WriteInteger(size < 0 ? 2 : 1);
    b.w.WriteInteger(0);
    b.w.WriteShortString(size < 0 ? "capped" : "plain");
    b.w.WriteByte(taNone);
    b.w.WriteInteger(0); // title font
    b.w.WriteByte(guPixel);
    b.w.WriteSmallInt(9);
    b.w.WriteSmallInt(0);
    b.w.WriteByte(0);
    b.w.WriteShortString("Arial");
    b.w.WriteByte(ppCircle);
    b.w.WriteByte(guPixel);
    b.w.WriteInteger(size);
    if (size < 0) b.w.WriteInteger(30);
    b.w.WriteSmallInt(0);
    b.w.WriteShortString("");
    b.w.WriteInteger(0); // pen
    b.w.WriteByte(gpsSolid);
    b.w.WriteInteger(1);
    b.w.WriteByte(guPixel);
    b.w.WriteInteger(0); // brush, with its second colour from 0x405 on
    b.w.WriteInteger(0);
    b.w.WriteByte(gbsSolid);
    b.w.WriteInteger(0); // point font
    b.w.WriteByte(guPixel);
    b.w.WriteSmallInt(9);
    b.w.WriteSmallInt(0);
    b.w.WriteByte(0);
    b.w.WriteShortString("Arial");
  }
  b.w.WriteInteger(0);
  auto reader = Reader(Write("sizes.lyr", b.Data()));
  ReadAll(*reader);
  ASSERT_EQ(reader->Presenters().Count(), 2);
  auto& plain = dynamic_cast<TGPointPresenter&>(reader->Presenters().GetPresenter(0));
  auto& capped = dynamic_cast<TGPointPresenter&>(reader->Presenters().GetPresenter(1));
  EXPECT_EQ(plain.PointSize(), 12);
  EXPECT_EQ(plain.MaxPointSize(), 0);
  EXPECT_EQ(capped.Name(), "capped");
  EXPECT_EQ(capped.PointSize(), 12);
  EXPECT_EQ(capped.MaxPointSize(), 30);
}

// ---------------------------------------------------------------------------------------------
// Iteration and progress

// A version-0x500 file of n points, written by the writer.
std::vector<uint8_t> PointsFile(int n)
{
  TGMemoryStream stream;
  TGLYRFileWriter writer(stream);
  std::vector<std::shared_ptr<IGMapPoint>> objects;
  for (int i = 0; i < n; ++i) {
    auto p = std::make_shared<TGMapPoint>();
    p->SetCentroid(PointLL(i * 1000, i * 500));
    objects.push_back(p);
  }
  writer.WriteObjects(objects);
  writer.Finish();
  return stream.Bytes();
}

TEST_F(LYRFile, ProgressReachesTheHandlerAtMostOnceASecond)
{
  auto reader = Reader(Write("points.lyr", PointsFile(250)));
  using Clock = std::chrono::steady_clock;
  Clock::time_point now{};
  reader->SetClock([&now] { return now; });
  std::vector<std::tuple<TGProgressType, int32_t, double>> events;
  reader->OnProgress = [&](TGRoot* sender, TGProgressType kind, int32_t count, double percent) {
    EXPECT_EQ(sender, reader.get());
    events.emplace_back(kind, count, percent);
  };
  int handed = 0;
  reader->OnReadObject = [&](TGCustomDataReader& sender, const std::shared_ptr<IGMapPoint>& obj) {
    EXPECT_EQ(&sender, reader.get());
    EXPECT_EQ(obj, sender.CurrentObject());
    ++handed;
  };

  // All 250 objects within one second: the start, no progress in between, the end.
  EXPECT_EQ(ReadAll(*reader).size(), 250u);
  EXPECT_EQ(handed, 250);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(std::get<0>(events[0]), pProgressStart);
  EXPECT_EQ(std::get<0>(events[1]), pProgressEnd);
  EXPECT_EQ(std::get<1>(events[1]), 250);
  EXPECT_DOUBLE_EQ(std::get<2>(events[1]), 100.0);

  // 6 ms an object: at the 100th object the second since the start has not passed, at the
  // 200th it has; the end always comes through.
  events.clear();
  reader->OnReadObject = [&](TGCustomDataReader&, const std::shared_ptr<IGMapPoint>&) {
    now += std::chrono::milliseconds(6);
  };
  EXPECT_EQ(ReadAll(*reader).size(), 250u);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(std::get<0>(events[1]), pProgress);
  EXPECT_EQ(std::get<1>(events[1]), 200);
  EXPECT_GT(std::get<2>(events[1]), 50.0);
  EXPECT_LT(std::get<2>(events[1]), 100.0);
  EXPECT_EQ(std::get<0>(events[2]), pProgressEnd);
}

TEST_F(LYRFile, FirstStartsAgainAndAMissingFileYieldsNothing)
{
  const std::string path = Write("again.lyr", PointsFile(3));
  auto reader = Reader(path);
  ASSERT_NE(reader->First(), nullptr);
  ASSERT_NE(reader->Next(), nullptr);
  EXPECT_EQ(reader->ReadCount(), 2);
  EXPECT_EQ(reader->First()->Centroid(), PointLL(0, 0));
  EXPECT_EQ(reader->ReadCount(), 1);
  EXPECT_EQ(ReadAll(*reader).size(), 3u);
  EXPECT_EQ(reader->Next(), nullptr); // closed

  std::filesystem::remove(path);
  EXPECT_EQ(reader->First(), nullptr);
  EXPECT_FALSE(reader->IsOpen());
}

TEST_F(LYRFile, AMemorySourceTakesTheObjectsPresentersAndName)
{
  TGMemoryObjectSource source;
  source.SetDataReader(Reader(Write("Harbours.lyr", VersionFixture(0x500))));
  EXPECT_EQ(source.Name(), "Harbours");
  EXPECT_EQ(source.ObjectCount(), 2);
  EXPECT_EQ(source.Presenters().Count(), 2);
  EXPECT_EQ(source.MetaData().Value("SourceName"), Path("Harbours.lyr"));

  // The source's XML form names the file; loading it reads the file again.
  TGXML_Element el("ObjectSource");
  source.SaveToXML(el);
  TGMemoryObjectSource loaded;
  loaded.LoadFromXML(el);
  ASSERT_NE(dynamic_cast<TGLYRFileReader*>(loaded.DataReader()), nullptr);
  EXPECT_EQ(loaded.ObjectCount(), 2);
  EXPECT_EQ(loaded.Presenters().Count(), 2);
}

// ---------------------------------------------------------------------------------------------
// Damaged files

TEST_F(LYRFile, VersionsOutsideTheRangeAreRefused)
{
  for (uint16_t v : {0x2FF, 0x501, 0xFFFF}) {
    Bytes b;
    b.w.WriteWord(v);
    b.w.WriteInteger(0);
    const std::string path = Write("bad.lyr", b.Data());
    char expected[64];
    std::snprintf(expected, sizeof expected, "Invalid File Version %X in ", v);
    auto reader = Reader(path);
    EXPECT_EQ(ErrorText([&] { reader->First(); }), expected + path);
    EXPECT_FALSE(reader->IsOpen());
  }
}

// Every error names the file; the text before it tells what was wrong.
struct DamageCase
{
  const char* name;
  std::function<void(TGStreamWriter&)> body; // after a version-0x500 word
  const char* message;
};

class LYRDamage : public LYRFile, public ::testing::WithParamInterface<DamageCase>
{
};

TEST_P(LYRDamage, IsRefusedWithAClearError)
{
  Bytes b;
  b.w.WriteWord(0x500);
  GetParam().body(b.w);
  const std::string path = Write("damaged.lyr", b.Data());
  auto reader = Reader(path);
  bool ended = false;
  int progressErrors = 0;
  reader->OnProgress = [&](TGRoot*, TGProgressType kind, int32_t, double) {
    progressErrors += kind == pProgressError;
  };
  const std::string error = ErrorText([&] {
    ReadAll(*reader);
    ended = true;
  });
  EXPECT_FALSE(ended);
  EXPECT_NE(error.find("Damaged layer file " + path + " at byte "), std::string::npos) << error;
  EXPECT_NE(error.find(GetParam().message), std::string::npos) << error;
  EXPECT_FALSE(reader->IsOpen());
  EXPECT_EQ(progressErrors, 1);
}

void PointHead(TGStreamWriter& w, int32_t count)
{
  w.WriteInteger(count);
  w.WriteShortString("TGMapPoly");
  w.WriteWord(ofMultiRing);
  w.WriteSmallInt(0);
}

INSTANTIATE_TEST_SUITE_P(Files, LYRDamage,
                         ::testing::Values(DamageCase{"UnknownSection",
                                                      [](TGStreamWriter& w) {
                                                        w.WriteInteger(1);
                                                        w.WriteShortString("TGRasterPresenter");
                                                      },
                                                      "No Read method for class TGRasterPresenter"},
                                           DamageCase{"UnknownDataClass",
                                                      [](TGStreamWriter& w) {
                                                        w.WriteInteger(0);
                                                        w.WriteInteger(1);
                                                        w.WriteShortString("TGMapRaster");
                                                      },
                                                      "No Read method for class: TGMapRaster"},
                                           DamageCase{"HugeTitleLength",
                                                      [](TGStreamWriter& w) {
                                                        w.WriteInteger(1);
                                                        w.WriteShortString("TGMapPoint");
                                                        w.WriteWord(ofTitle);
                                                        w.WriteInteger(0x7FFFFFFF);
                                                      },
                                                      "unexpected end of stream"},
                                           DamageCase{"NegativeTitleLength",
                                                      [](TGStreamWriter& w) {
                                                        w.WriteInteger(1);
                                                        w.WriteShortString("TGMapPoint");
                                                        w.WriteWord(ofTitle);
                                                        w.WriteInteger(-4);
                                                      },
                                                      "bad string length -4"},
                                           DamageCase{"HugePointCount",
                                                      [](TGStreamWriter& w) {
                                                        PointHead(w, 1);
                                                        w.WriteSmallInt(1);
                                                        w.WriteByte(psLongCount);
                                                        w.WriteInteger(0x7FFFFFFF);
                                                        w.WritePointLL({}, false, false);
                                                      },
                                                      "unexpected end of stream"},
                                           DamageCase{"HugeChainCount",
                                                      [](TGStreamWriter& w) {
                                                        PointHead(w, 1);
                                                        w.WriteSmallInt(32767);
                                                      },
                                                      "unexpected end of stream"},
                                           DamageCase{"NegativeChainCount",
                                                      [](TGStreamWriter& w) {
                                                        PointHead(w, 1);
                                                        w.WriteSmallInt(-1);
                                                      },
                                                      "bad chain count -1"},
                                           DamageCase{"HugeRecordCount",
                                                      [](TGStreamWriter& w) {
                                                        w.WriteInteger(0x7FFFFFFF);
                                                        w.WriteShortString("TGMapPoint");
                                                        w.WriteWord(0);
                                                        w.WriteSmallInt(0);
                                                        w.WritePointLL({}, false, false);
                                                      },
                                                      "unexpected end of stream"},
                                           DamageCase{
                                               "PenStyleOutOfRange",
                                               [](TGStreamWriter& w) {
                                                 w.WriteInteger(1);
                                                 w.WriteShortString("TGPolylinePresenter");
                                                 w.WriteBuffer(std::vector<uint8_t>(16, 0).data(),
                                                               16); // head to zoom units
                                                 w.WriteInteger(1); // id
                                                 w.WriteInteger(0); // title offset
                                                 w.WriteShortString("p");
                                                 w.WriteByte(taNone);
                                                 w.WriteBuffer(std::vector<uint8_t>(14, 0).data(),
                                                               14); // title font
                                                 w.WriteShortString("Arial");
                                                 w.WriteInteger(0); // pen colour
                                                 w.WriteByte(9);    // no such pen style
                                               },
                                               "bad pen style 9"},
                                           DamageCase{"CoarseLatitudeBeyondRange",
                                                      [](TGStreamWriter& w) {
                                                        PointHead(w, 1);
                                                        w.WriteSmallInt(1);
                                                        w.WriteByte(ps16Bit);
                                                        w.WriteWord(2);
                                                        w.WriteSmallInt(0);
                                                        w.WriteSmallInt(32000);
                                                        for (int8_t d : {0, 126})
                                                          w.WriteShortInt(d);
                                                      },
                                                      "coordinate out of range"}),
                         [](const auto& info) { return std::string(info.param.name); });

// Cut points inside the records of a file with every kind of section: each is refused.
TEST_F(LYRFile, ATruncatedFileIsRefusedAtEveryCutInsideARecord)
{
  const std::vector<uint8_t> full = VersionFixture(0x500);
  struct Cut
  {
    const char* where;
    size_t length;
  };
  const Cut cuts[] = {
      {"inside the version word", 1},
      {"inside a section count", 4},
      {"inside a section name", 9},
      {"inside a presenter record", 40},
      {"inside the point object", full.size() - 90},
      {"inside a ring", full.size() - 20},
      {"inside the end mark", full.size() - 2},
  };
  for (const Cut& cut : cuts) {
    const std::string path =
        Write("cut.lyr", std::vector<uint8_t>(full.begin(), full.begin() + cut.length));
    auto reader = Reader(path);
    const std::string error = ErrorText([&] { ReadAll(*reader); });
    EXPECT_NE(error.find(path), std::string::npos) << cut.where << ": " << error;
    EXPECT_NE(error.find("unexpected end of stream"), std::string::npos)
        << cut.where << ": " << error;
  }
  // Wherever the file ends, reading ends in an error or a clean end, never anything else.
  for (size_t length = 0; length < full.size(); ++length) {
    auto reader =
        Reader(Write("any.lyr", std::vector<uint8_t>(full.begin(), full.begin() + length)));
    try {
      ReadAll(*reader);
    } catch (const EGException&) {
    }
    EXPECT_FALSE(reader->IsOpen()) << length;
  }
}

// ---------------------------------------------------------------------------------------------
// Writer and reader

TEST_F(LYRFile, WhatTheWriterWritesReadsBackTheSame)
{
  TGMemoryObjectSource source;
  source.MetaData().SetValue("ColumnNames", "Name,Class");
  source.MetaData().SetValue("Origin", "test, \"quoted\"");

  auto point = std::make_unique<TGPointPresenter>();
  point->SetPresenterID(3);
  point->SetName("Lights");
  point->SetAlphaBlend(128);
  point->SetTitleColumn(1);
  point->SetNextPresenterID(4);
  point->SetTitleZoomMin(5);
  point->SetTitleZoomMax(900);
  point->SetTitleOffset(-7);
  point->SetTitleAlignment(taBottomRight);
  point->TitleFont().Define("Courier", kMaroon, clAqua, 14, guMeter, 900, FontStyleBit(gfsHalo),
                            255);
  point->SetPointType(ppTriangleUp);
  point->SetPointUnit(guKilometer);
  point->SetPointSize(20);
  point->SetMaxPointSize(64);
  point->SetSymbolIndex(-3);
  point->PointPen().Define(kTeal, gpsDashDot, 5, guMeter);
  point->PointBrush().Define(kPurple, kOlive, gbsPattern50);
  point->PointFont().Define("Wingdings", kGray, clSilver, 11, guPixel, 0, 0, 255);
  source.Presenters().Add(std::move(point));
  auto polygon = std::make_unique<TGPolygonPresenter>();
  polygon->SetPresenterID(5);
  polygon->PolyPen().Define(kFuchsia, gpsDot, 2, guPixel);
  polygon->PolyBrush().Define(kNavy, kNavy, gbsClear);
  source.Presenters().Add(std::move(polygon));
  auto line = std::make_unique<TGPolylinePresenter>();
  line->SetPresenterID(6);
  line->PolyPen().Define(clWhite, gpsSolid, 3, guPixel);
  source.Presenters().Add(std::move(line));
  auto poly = std::make_unique<TGPolyPresenter>();
  poly->SetPresenterID(-2);
  source.Presenters().Add(std::move(poly));

  auto lamp = std::make_shared<TGMapPoint>();
  lamp->SetObjectDataCSL(ToCommaText({"Robben \"Island\"", "Light, main", "", ""}));
  lamp->SetUserID("L1");
  lamp->SetPresenterID(3);
  lamp->SetCentroid(TGPointLL{-971'999'999, 485'999'999, -4000});
  source.Add(lamp);

  auto coast = std::make_shared<TGMapPoly>();
  coast->SetClosed(true);
  coast->SetPresenterID(5);
  coast->Chains().SetStoreHeight(true);
  auto outer = std::make_unique<TGPointStore>();
  outer->SetStoreHeight(true);
  for (int i = 0; i < 70'000; ++i) // a 32-bit point count
    outer->Add({i % 2 ? 971'000'000 - i : -971'000'000 + i, (i * 37) % 100'000, i % 3});
  coast->Chains().Add(std::move(outer));
  auto hole = std::make_unique<TGPointStore>();
  hole->SetFlags(ps16Bit | psHidden);
  for (int i = 0; i < 5; ++i)
    hole->Add(PointLL(i * 90'000 * 200, -i * 90'000 * 3));
  coast->Chains().Add(std::move(hole));
  source.Add(coast);

  auto route = std::make_shared<TGMapPoly>();
  route->SetPresenterID(6);
  auto leg = std::make_unique<TGPointStore>();
  leg->Add(PointLL(0, 0));
  leg->Add(PointLL(40'000, -40'000));
  route->Chains().Add(std::move(leg));
  source.Add(route);

  auto marker = std::make_shared<TGMapPoly>(); // no chains: its position only
  marker->SetPresenterID(-2);
  marker->SetCentroid(PointLL(12, 34));
  source.Add(marker);

  const std::string path = Path("round.lyr");
  SaveLYRFile(path, source);
  auto reader = DataReaderForFile(nullptr, path);
  ASSERT_NE(reader, nullptr);
  TGMemoryObjectSource back;
  back.SetDataReader(std::move(reader));

  EXPECT_EQ(back.MetaData().Value("ColumnNames"), "Name,Class");
  EXPECT_EQ(back.MetaData().Value("Origin"), "test, \"quoted\"");
  ASSERT_EQ(back.Presenters().Count(), source.Presenters().Count());
  for (int32_t i = 0; i < source.Presenters().Count(); ++i) {
    const TGPresenter& a = source.Presenters().GetPresenter(i);
    const TGPresenter& r = back.Presenters().GetPresenter(i);
    EXPECT_EQ(r.ClassName(), a.ClassName());
    EXPECT_EQ(r.PresenterID(), a.PresenterID());
    EXPECT_EQ(r.Name(), a.Name());
    EXPECT_EQ(r.NextPresenterID(), a.NextPresenterID());
    EXPECT_TRUE(r.Equals(a)) << a.ClassName();
  }

  ASSERT_EQ(back.ObjectCount(), 4);
  auto it = back.NewIterator();
  auto read = it->First();
  for (const auto& original :
       std::vector<std::shared_ptr<IGMapPoint>>{lamp, coast, route, marker}) {
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->ClassName(), original->ClassName());
    EXPECT_EQ(FromCommaText(read->ObjectDataCSL()), FromCommaText(original->ObjectDataCSL()));
    EXPECT_EQ(read->UserID(), original->UserID());
    EXPECT_EQ(read->PresenterID(), original->PresenterID());
    EXPECT_EQ(read->Centroid(), original->Centroid());
    if (auto p = std::dynamic_pointer_cast<IGMapPoly>(original)) {
      auto q = std::dynamic_pointer_cast<IGMapPoly>(read);
      ASSERT_NE(q, nullptr);
      EXPECT_EQ(q->Closed(), p->Closed());
      ASSERT_EQ(q->Chains().Count(), p->Chains().Count());
      for (int32_t c = 0; c < p->Chains().Count(); ++c) {
        EXPECT_EQ(Points(q->Chains().GetChain(c)), Points(p->Chains().GetChain(c)));
        EXPECT_EQ(q->Chains().GetChain(c).Flags() & ~psLongCount,
                  p->Chains().GetChain(c).Flags() & ~psLongCount);
      }
    }
    read = it->Next();
  }
  EXPECT_EQ(read, nullptr);
}

TEST_F(LYRFile, TheWriterRefusesWhatTheFileCannotHold)
{
  TGMemoryStream stream;
  TGLYRFileWriter writer(stream);
  TGPresenterStore store;
  store.Add(std::make_unique<TGPresenter>());
  EXPECT_NE(ErrorText([&] { writer.WritePresenters(store); }).find("TGPresenter"),
            std::string::npos);

  auto far = std::make_shared<TGMapPoint>();
  far->SetPresenterID(40'000);
  EXPECT_NE(ErrorText([&] {
              writer.WriteObjects(std::vector<std::shared_ptr<IGMapPoint>>{far});
            }).find("presenter number 40000"),
            std::string::npos);
  auto raster = std::make_shared<TGMapRaster>();
  EXPECT_NE(ErrorText([&] {
              writer.WriteObjects(std::vector<std::shared_ptr<IGMapPoint>>{raster});
            }).find("rasters"),
            std::string::npos);

  writer.WriteObjects(std::vector<std::shared_ptr<IGMapPoint>>{std::make_shared<TGMapPoint>()});
  EXPECT_NE(ErrorText([&] { writer.WriteColumnNames("x"); }).find("after the objects"),
            std::string::npos);

  // A file that cannot be written leaves nothing behind.
  TGMemoryObjectSource source;
  const std::string path = Path("no/such/folder/x.lyr");
  EXPECT_NE(ErrorText([&] { SaveLYRFile(path, source); }).find("cannot write"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(path));
}

} // namespace
} // namespace vtr
