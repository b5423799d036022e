#include "globe/GLYRReader.h"

#include "base/TextLists.h"
#include "globe/GMapObject.h"
#include "globe/GPointStore.h"
#include "globe/GPresenter.h"
#include "globe/GXML.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <utility>

namespace vtr {

namespace {

bool FileExists(const std::filesystem::path& path)
{
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

// A title becomes attribute 0 of the object's comma text: one quoted item, unless it is
// comma text already (it begins with a double quote). Quotes inside are doubled, so that a
// title such as 5" gun stays one item.
std::string TitleCSL(const std::string& title)
{
  if (title.empty() || title.front() == '"') return title;
  std::string csl = "\"";
  for (char c : title) {
    if (c == '"') csl += '"';
    csl += c;
  }
  return csl + '"';
}

// The entry of a name table whose name matches without regard to letter case; null for none.
template <class M, size_t N>
M Lookup(const std::array<std::pair<std::string_view, M>, N>& table, std::string_view name)
{
  for (const auto& [entry, value] : table)
    if (SameText(entry, name)) return value;
  return nullptr;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Choosing a reader

std::unique_ptr<TGFileDataReader> DataReaderForFile(TGGlobe* globe, const std::string& fileName)
{
  if (!FileExists(fileName)) return nullptr;
  std::string ext = std::filesystem::path(fileName).extension().string();
  if (!ext.empty()) ext.erase(0, 1);
  try {
    auto reader = CreateGlobeObjectAs<TGFileDataReader>("TG" + ext + "FileReader", globe);
    if (reader) reader->SetFileName(fileName);
    return reader;
  } catch (const std::exception&) {
    return nullptr; // a reader that cannot be made counts as none
  }
}

// ---------------------------------------------------------------------------------------------
// TGFileDataReader

TGFileDataReader::TGFileDataReader(TGGlobe* parentGlobe) : TGCustomDataReader(parentGlobe) {}

void TGFileDataReader::SetFileName(const std::string& value)
{
  FFileName = value;
  SetName(std::filesystem::path(value).stem().string());
}

void TGFileDataReader::SaveToXML(TGXML_Element& el)
{
  TGCustomDataReader::SaveToXML(el);
  el.AddAttribute("Filename", FFileName);
}

void TGFileDataReader::LoadFromXML(const TGXML_Element& el)
{
  TGCustomDataReader::LoadFromXML(el);
  SetFileName(el.Attribute("Filename"));
}

bool TGFileDataReader::OpenReader()
{
  if (!TGCustomDataReader::OpenReader()) return false;
  const std::filesystem::path file(FFileName);
  std::string ext = file.extension().string();
  if (!ext.empty()) ext.erase(0, 1);
  std::filesystem::path side = std::filesystem::path(file).replace_extension(".xmd");
  if (!FileExists(side)) side = file.parent_path() / (ext + ".xmd");
  if (FileExists(side)) {
    TGXML_Document doc("XMD");
    bool parsed = true;
    try {
      doc.LoadFromFile(side.string());
    } catch (const EGException&) {
      parsed = false;
    }
    if (parsed) ReadMetaDataXML(doc.Document());
  }
  return true;
}

void TGFileDataReader::FinishReading()
{
  FMetaData.SetValue("SourceName", FFileName);
}

// ---------------------------------------------------------------------------------------------
// TGLYRFileReader
//
// File layout (little-endian; "short string" = uint8 length + bytes, "long string" = int32
// length + bytes; colours are 32-bit):
//
//   uint16 version                       0x300 .. 0x500
//   [int32 x 4 rectangle]                before 0x500 only; ignored
//   header sections, each:
//     int32 count                        0 or less (or the end of the file) ends the header
//     short string section name
//     body: "MetaData", "PresenterXML", "ColumnNames": one long string;
//           a presenter class: count presenter records;
//           an object class: count object records, and the header is over
//   data blocks, each:
//     int32 count                        0 or less (or the end of the file) ends the data
//     short string object class name
//     count object records

TGLYRFileReader::TGLYRFileReader(TGGlobe* parentGlobe) : TGFileDataReader(parentGlobe) {}

TGLYRFileReader::~TGLYRFileReader() = default;

TGLYRFileReader::TGHeaderMethod TGLYRFileReader::HeaderMethodFor(const std::string& sectionName)
{
  static const std::array<std::pair<std::string_view, TGHeaderMethod>, 8> methods{{
      {"TGPointPresenter", &TGLYRFileReader::ReadPointPresenter},
      {"TPointPresenter", &TGLYRFileReader::ReadPointPresenter},
      {"TGPolygonPresenter", &TGLYRFileReader::ReadPolygonPresenter},
      {"TPolygonPresenter", &TGLYRFileReader::ReadPolygonPresenter},
      {"TGPolylinePresenter", &TGLYRFileReader::ReadPolylinePresenter},
      {"TPolylinePresenter", &TGLYRFileReader::ReadPolylinePresenter},
      {"TGPolyPresenter", &TGLYRFileReader::ReadPolyPresenter},
      {"TPolyPresenter", &TGLYRFileReader::ReadPolyPresenter},
  }};
  return Lookup(methods, sectionName);
}

TGLYRFileReader::TGDataMethod TGLYRFileReader::DataMethodFor(const std::string& className)
{
  static const std::array<std::pair<std::string_view, TGDataMethod>, 6> methods{{
      {"TGMapObject", &TGLYRFileReader::ReadPointObject},
      {"TGMapPoint", &TGLYRFileReader::ReadPointObject},
      {"TGObject", &TGLYRFileReader::ReadPointObject},
      {"TGMapPoly", &TGLYRFileReader::ReadPolyObject},
      {"TGeoDataObject", &TGLYRFileReader::ReadPolyObject},
      {"TGPolyObject", &TGLYRFileReader::ReadPolyObject},
  }};
  return Lookup(methods, className);
}

void TGLYRFileReader::Damaged(const std::string& what) const
{
  const int64_t at = FLYRStream ? FLYRStream->Position() : 0;
  throw EGException("Damaged layer file " + FFileName + " at byte " + std::to_string(at) + ": " +
                    what);
}

template <class F> auto TGLYRFileReader::Guarded(F&& read)
{
  try {
    return read();
  } catch (const EGException& e) {
    Damaged(e.what());
  }
}

double TGLYRFileReader::ProgressPercent()
{
  if (!FLYRStream || FLYRStream->Size() == 0) return 0;
  return static_cast<double>(FLYRStream->Position()) / static_cast<double>(FLYRStream->Size()) *
         100.0;
}

bool TGLYRFileReader::OpenReader()
{
  if (!TGFileDataReader::OpenReader() || !FileExists(FFileName)) return false;
  FLYRStream = std::make_unique<TGFileStream>(FFileName);
  FReader = std::make_unique<TGStreamReader>(*FLYRStream);
  FObjCount = 0;
  FHeaderMethod = nullptr;
  FDataMethod = nullptr;
  return true;
}

void TGLYRFileReader::CloseReader()
{
  // The end event still sees the file's position (100% after the last object).
  TGFileDataReader::CloseReader();
  FReader.reset();
  FLYRStream.reset();
}

bool TGLYRFileReader::ReadHeader()
{
  FFileVersion = Guarded([this] { return FReader->ReadWord(); });
  if (FFileVersion < kLYRFirstVersion || FFileVersion > kLYRVersion) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(FFileVersion));
    throw EGException("Invalid File Version " + std::string(hex) + " in " + FFileName);
  }
  Guarded([this] { ReadHeaderSections(); });
  return true;
}

void TGLYRFileReader::ReadHeaderSections()
{
  if (FFileVersion < 0x500) FReader->ReadMER(); // the old files' rectangle, not used
  for (;;) {
    if (FReader->Remaining() == 0) return;
    const int32_t count = FReader->ReadInteger();
    if (count <= 0 || FReader->Remaining() == 0) return;
    const std::string name = FReader->ReadShortString();
    if (SameText(name, "MetaData")) {
      // Comma text of name=value lines; "Presenters" holds a presenter store's XML text.
      FMetaData.Lines() = FromCommaText(FReader->ReadLongString());
      const std::string presenters = FMetaData.Value("Presenters");
      if (!presenters.empty()) FPresenters->SetXML(presenters);
    } else if (SameText(name, "PresenterXML")) {
      FPresenters->SetXML("<Presenters>" + FReader->ReadLongString() + "</Presenters>");
    } else if (SameText(name, "ColumnNames")) {
      FMetaData.SetValue("ColumnNames", FReader->ReadLongString());
    } else if (TGHeaderMethod method = HeaderMethodFor(name)) {
      FHeaderMethod = method;
      // Each record takes bytes, so a huge count ends at the end of the file.
      for (int32_t i = 0; i < count; ++i)
        FPresenters->Add((this->*method)());
    } else if (TGDataMethod method = DataMethodFor(name)) {
      FDataMethod = method;
      FObjCount = count;
      return;
    } else {
      throw EGException("No Read method for class " + name);
    }
  }
}

std::shared_ptr<IGMapPoint> TGLYRFileReader::ReadObject()
{
  if (!FReader) return nullptr;
  return Guarded([this]() -> std::shared_ptr<IGMapPoint> {
    while (FObjCount <= 0) {
      if (FReader->Remaining() == 0) return nullptr;
      const int32_t count = FReader->ReadInteger();
      if (count <= 0) return nullptr;
      const std::string name = FReader->ReadShortString();
      FDataMethod = DataMethodFor(name);
      if (!FDataMethod) throw EGException("No Read method for class: " + name);
      FObjCount = count;
    }
    --FObjCount;
    return (this->*FDataMethod)();
  });
}

template <class E> E TGLYRFileReader::ReadOrdinal(int32_t count, const char* what)
{
  const uint8_t v = FReader->ReadByte();
  if (v >= count) throw EGException(std::string("bad ") + what + " " + std::to_string(v));
  return static_cast<E>(v);
}

// ---------------------------------------------------------------------------------------------
// Presenter records

// Font: [int32 BkColor, from 0x500] int32 Color, uint8 SizeUnit, int16 Size, int16 Angle,
// uint8 Style (set of TGFontStyle), short string Name.
void TGLYRFileReader::ReadFont(TGFont& font)
{
  const TColor bkColor = FFileVersion >= 0x500 ? FReader->ReadInteger() : font.BkColor();
  const TColor color = FReader->ReadInteger();
  const auto unit = ReadOrdinal<TGUnitTypes>(kUnitTypeCount, "font size unit");
  const int16_t size = FReader->ReadSmallInt();
  const int16_t angle = FReader->ReadSmallInt();
  const uint8_t style = FReader->ReadByte();
  if (style >= 1u << (gfsHalo + 1)) throw EGException("bad font style " + std::to_string(style));
  font.Define(FReader->ReadShortString(), color, bkColor, size, unit, angle, style,
              font.BkAlphaBlend());
}

// Pen: int32 Color, uint8 Style, then before 0x400 uint8 Width (pixels), from 0x400 on int32
// Width and uint8 WidthUnit.
void TGLYRFileReader::ReadPen(TGPen& pen)
{
  const TColor color = FReader->ReadInteger();
  const auto style = ReadOrdinal<TGPenStyle>(gpsInsideFrame + 1, "pen style");
  if (FFileVersion < 0x400) {
    pen.Define(color, style, FReader->ReadByte(), guPixel);
    return;
  }
  const int32_t width = FReader->ReadInteger();
  pen.Define(color, style, width, ReadOrdinal<TGUnitTypes>(kUnitTypeCount, "pen width unit"));
}

// Brush: int32 Color, [int32 BkColor, from 0x405], uint8 Style; without the second colour the
// background is the first.
void TGLYRFileReader::ReadBrush(TGBrush& brush)
{
  const TColor color = FReader->ReadInteger();
  const TColor bkColor = FFileVersion >= 0x405 ? FReader->ReadInteger() : color;
  brush.Define(color, bkColor, ReadOrdinal<TGBrushStyle>(kBrushStyleCount, "brush style"));
}

// Presenter head: from 0x500 on uint8 AlphaBlend, int16 TitleColumn, int32 NextPresenterID,
// int32 TitleZoomMax, int32 TitleZoomMin, uint8 title zoom units (ignored); then int32
// PresenterID; TitleOffset as int32 from 0x400 on, int8 from 0x301 to 0x3FF, absent in 0x300;
// short string Name; uint8 TitleAlignment; the title font.
void TGLYRFileReader::ReadPresenterHeader(TGPresenter& presenter)
{
  if (FFileVersion >= 0x500) {
    presenter.SetAlphaBlend(FReader->ReadByte());
    presenter.SetTitleColumn(FReader->ReadSmallInt());
    presenter.SetNextPresenterID(FReader->ReadInteger());
    presenter.SetTitleZoomMax(FReader->ReadInteger());
    presenter.SetTitleZoomMin(FReader->ReadInteger());
    FReader->ReadByte();
  }
  presenter.SetPresenterID(FReader->ReadInteger());
  if (FFileVersion >= 0x400)
    presenter.SetTitleOffset(FReader->ReadInteger());
  else if (FFileVersion > 0x300)
    presenter.SetTitleOffset(FReader->ReadShortInt());
  presenter.SetName(FReader->ReadShortString());
  presenter.SetTitleAlignment(ReadOrdinal<TGTitleAlignment>(taBottomRight + 1, "title alignment"));
  ReadFont(presenter.TitleFont());
}

// Point presenter: head, uint8 PointType, uint8 PointUnit, int32 PointSize (negative: the size
// is its absolute value and int32 MaxPointSize follows), int16 SymbolIndex, short string
// ImageName, pen, brush, font.
std::unique_ptr<TGPresenter> TGLYRFileReader::ReadPointPresenter()
{
  auto p = std::make_unique<TGPointPresenter>(ParentGlobe());
  ReadPresenterHeader(*p);
  p->SetPointType(ReadOrdinal<TGPointPresenterType>(kPointPresenterTypeCount, "point type"));
  p->SetPointUnit(ReadOrdinal<TGUnitTypes>(kUnitTypeCount, "point unit"));
  const int32_t size = FReader->ReadInteger();
  if (size == INT32_MIN) throw EGException("bad point size " + std::to_string(size));
  p->SetPointSize(size < 0 ? -size : size);
  if (size < 0) p->SetMaxPointSize(FReader->ReadInteger());
  p->SetSymbolIndex(FReader->ReadSmallInt());
  const std::string image = FReader->ReadShortString();
  if (!image.empty()) p->SetImageName(image);
  ReadPen(p->PointPen());
  ReadBrush(p->PointBrush());
  ReadFont(p->PointFont());
  return p;
}

// Polygon and poly presenters: head, pen, brush; polyline presenters: head, pen.
std::unique_ptr<TGPresenter> TGLYRFileReader::ReadPolygonPresenter()
{
  auto p = std::make_unique<TGPolygonPresenter>(ParentGlobe());
  ReadPresenterHeader(*p);
  ReadPen(p->PolyPen());
  ReadBrush(p->PolyBrush());
  return p;
}

std::unique_ptr<TGPresenter> TGLYRFileReader::ReadPolylinePresenter()
{
  auto p = std::make_unique<TGPolylinePresenter>(ParentGlobe());
  ReadPresenterHeader(*p);
  ReadPen(p->PolyPen());
  return p;
}

std::unique_ptr<TGPresenter> TGLYRFileReader::ReadPolyPresenter()
{
  auto p = std::make_unique<TGPolyPresenter>(ParentGlobe());
  ReadPresenterHeader(*p);
  ReadPen(p->PolyPen());
  ReadBrush(p->PolyBrush());
  return p;
}

// ---------------------------------------------------------------------------------------------
// Object records

// Object head: uint16 flags; with ofTitle the title (long string from 0x500 on, short string
// before); with ofID int32 (ignored); with ofUserID short string UserID; with ofZoomMinMax
// int32 x 2 (ignored); int16 PresenterID.
TGMapObjectFlags TGLYRFileReader::ReadObjectHeader(IGMapPoint& obj)
{
  const TGMapObjectFlags flags = FReader->ReadWord();
  std::string title;
  if (flags & ofTitle)
    title = FFileVersion >= 0x500 ? FReader->ReadLongString() : FReader->ReadShortString();
  obj.SetObjectDataCSL(TitleCSL(title));
  if (flags & ofID) FReader->ReadInteger();
  if (flags & ofUserID) obj.SetUserID(FReader->ReadShortString());
  if (flags & ofZoomMinMax) {
    FReader->ReadInteger();
    FReader->ReadInteger();
  }
  obj.SetPresenterID(FReader->ReadSmallInt());
  return flags;
}

// Point object: head, one point (WritePointLL form with ofHeight, of16Bit).
std::shared_ptr<IGMapPoint> TGLYRFileReader::ReadPointObject()
{
  auto obj = std::make_shared<TGMapPoint>();
  const TGMapObjectFlags flags = ReadObjectHeader(*obj);
  obj->SetCentroid(FReader->ReadPointLL(flags & ofHeight, flags & of16Bit));
  obj->SetModified(false);
  return obj;
}

// Poly object: head; with ofSingle one point, the centroid, and no chains; otherwise from 0x500
// on the chain store's chain part (ReadChains), before 0x500 the old chains.
std::shared_ptr<IGMapPoint> TGLYRFileReader::ReadPolyObject()
{
  auto poly = std::make_shared<TGMapPoly>();
  const TGMapObjectFlags flags = ReadObjectHeader(*poly);
  poly->SetClosed(flags & ofClosed);
  if (flags & ofSingle) {
    poly->SetCentroid(FReader->ReadPointLL(flags & ofHeight, flags & of16Bit));
  } else if (FFileVersion >= 0x500) {
    uint8_t chainFlags = 0;
    if (flags & ofHeight) chainFlags |= cfHeight;
    if (flags & ofMultiRing) chainFlags |= cfMultiRing;
    poly->Chains().ReadChains(*FReader, chainFlags);
  } else {
    ReadOldChains(poly->Chains(), flags);
  }
  poly->SetModified(false);
  return poly;
}

// Old chains: uint16 chain count with ofMultiRing (else one chain); each chain an old point
// list whose flags come from of16Bit, ofCompressed and ofLongCount; after every chain but the
// last a new uint16 flags word for the next.
//
// Heights: ofHeight does not make these chains read heights. Files of these versions were
// only ever read that way (the height flag did not reach the point lists), so a file that
// carries the flag has point lists without heights; reading heights would misplace every byte
// after them.
void TGLYRFileReader::ReadOldChains(TGChainStore& chains, TGMapObjectFlags flags)
{
  const int32_t count = (flags & ofMultiRing) ? FReader->ReadWord() : 1;
  // Each point list takes at least its 16-bit count.
  FReader->RequireBytes(static_cast<int64_t>(count) * 2);
  chains.SetCount(0);
  for (int32_t i = 0; i < count; ++i) {
    auto chain = std::make_unique<TGPointStore>();
    TGPointStoreFlags pointFlags = 0;
    if (flags & of16Bit) pointFlags |= ps16Bit;
    if (flags & ofCompressed) pointFlags |= psCompressed;
    if (flags & ofLongCount) pointFlags |= psLongCount;
    chain->SetFlags(pointFlags);
    ReadOldPointList(*chain);
    chains.Add(std::move(chain));
    if (i + 1 < count) flags = FReader->ReadWord();
  }
}

// Old point list: int32 count with psLongCount, else uint16; the first point in full; the
// others in full too, or with psCompressed delta-coded as in the current point lists.
void TGLYRFileReader::ReadOldPointList(TGPointStore& chain)
{
  chain.ReadPointList(*FReader, chain.Flags(), (chain.Flags() & psCompressed) != 0);
}

} // namespace vtr
