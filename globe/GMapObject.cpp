#include "globe/GMapObject.h"

#include "base/Convert.h"
#include "base/TextLists.h"
#include "globe/GBitmap.h"
#include "globe/GLayer.h"
#include "globe/GObjectSource.h"
#include "globe/GProjector.h"
#include "globe/GXML.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QImageReader>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>

namespace vtr {

TGMER InflatedMER(const TGMER& m, int32_t tolerance)
{
  TGMER r = MERInflate(m, tolerance, tolerance);
  if (r.iLongX <= -GU_180) r.iLongX = LongWrap(r.iLongX);
  return r;
}

// ---------------------------------------------------------------------------------------------
// TGMapPoint: identity and state

TGMapPoint::TGMapPoint() = default;

std::shared_ptr<TGMapPoint> TGMapPoint::NewInstance() const
{
  return std::make_shared<TGMapPoint>();
}

std::shared_ptr<IGMapPoint> TGMapPoint::Self()
{
  return weak_from_this().lock();
}

void TGMapPoint::SetStateBit(TGMapObjectState bit, bool value)
{
  if (((FObjectState & bit) != 0) == value) return;
  FObjectState = static_cast<TGMapObjectStates>(value ? FObjectState | bit : FObjectState & ~bit);
  FModified = true;
}

void TGMapPoint::SetPresenterID(int32_t value)
{
  if (value == FPresenterID) return;
  FPresenterID = value;
  FModified = true;
}

void TGMapPoint::SetUserID(const std::string& value)
{
  if (value == FUserID) return;
  FUserID = value;
  FModified = true;
}

void TGMapPoint::SetObjectDataCSL(const std::string& value)
{
  if (value == FObjectDataCSL) return;
  FObjectDataCSL = value;
  FModified = true;
}

std::string TGMapPoint::ObjectDataCSL()
{
  if (FObjectDataCSL == NotFetched) FObjectDataCSL = FDataLink ? FDataLink->ObjectDataCSL() : "";
  return FObjectDataCSL;
}

TGObjectSource* TGMapPoint::ObjectSource() const
{
  return FSourceAlive.expired() ? nullptr : FObjectSource;
}

void TGMapPoint::SetObjectSource(TGObjectSource* value)
{
  FObjectSource = value;
  FSourceAlive = value ? std::weak_ptr<void>(value->AliveToken()) : std::weak_ptr<void>();
}

TGLayer* TGMapPoint::Layer() const
{
  TGObjectSource* source = ObjectSource();
  return source ? source->Layer() : nullptr;
}

bool TGMapPoint::Selected() const
{
  TGLayer* layer = Layer();
  return layer && FPrimaryKey != 0 && layer->Selection().Contains(FPrimaryKey);
}

void TGMapPoint::SetSelected(bool value)
{
  TGLayer* layer = Layer();
  if (!layer || FPrimaryKey == 0) return; // nothing to remember the key in
  if (value)
    layer->Selection().Add(FPrimaryKey);
  else
    layer->Selection().Remove(FPrimaryKey);
}

void TGMapPoint::SetDataLink(std::unique_ptr<TGDataLink> value)
{
  if (value.get() != FDataLink.get()) FDataLink = std::move(value);
}

// ---------------------------------------------------------------------------------------------
// TGMapPoint: derived values

TGMER TGMapPoint::PointMER()
{
  const TGPointLL c = Centroid();
  return {c.iLongX, c.iLatY, 1, 1};
}

TGPointLL TGMapPoint::Centroid()
{
  if (FCentroid.iHeightZ == UnsetHeight) FCentroid.iHeightZ = 0;
  return FCentroid;
}

void TGMapPoint::SetCentroid(const TGPointLL& value)
{
  FCentroid = value;
  FObjectMER = {value.iLongX, value.iLatY, 1, 1};
  FModified = true;
}

TGMER TGMapPoint::ObjectMER()
{
  if (MERIsEmpty(FObjectMER)) FObjectMER = PointMER();
  return FObjectMER;
}

void TGMapPoint::SetObjectMER(const TGMER& value)
{
  FObjectMER = value;
  FModified = true;
}

void TGMapPoint::Invalidate()
{
  FObjectMER = {};
  FModified = true;
}

// ---------------------------------------------------------------------------------------------
// TGMapPoint: attributes

std::string TGMapPoint::GetAttribute(int32_t index)
{
  return CSLGetItem(ObjectDataCSL(), index);
}

void TGMapPoint::SetAttribute(int32_t index, const std::string& value)
{
  if (index < 0) return;
  FObjectDataCSL = CSLSetItem(ObjectDataCSL(), value, index);
  FModified = true;
}

double TGMapPoint::GetValue(int32_t index)
{
  return static_cast<double>(
      StrToFloatDefDot(GetAttribute(index), std::numeric_limits<long double>::quiet_NaN()));
}

void TGMapPoint::SetValue(int32_t index, double value)
{
  SetAttribute(index, FloatToStrDot(value));
}

// ---------------------------------------------------------------------------------------------
// TGMapPoint: copying

void TGMapPoint::Assign(IGMapPoint& source)
{
  if (&source == static_cast<IGMapPoint*>(this)) return;
  SetObjectMER(source.ObjectMER());
  SetCentroid(source.Centroid());
  SetHidden(source.Hidden());
  SetObjectDataCSL(source.ObjectDataCSL());
  SetPresenterID(source.PresenterID());
  SetUserID(source.UserID());
  Invalidate();
}

std::shared_ptr<IGMapPoint> TGMapPoint::Clone()
{
  std::shared_ptr<TGMapPoint> copy = NewInstance();
  copy->Assign(*this);
  return copy;
}

// ---------------------------------------------------------------------------------------------
// TGMapPoint: edit cycle

void TGMapPoint::Edit()
{
  if (TGObjectSource* source = ObjectSource())
    if (auto self = Self()) source->EditObject(self);
  FModified = true;
}

void TGMapPoint::CancelEdit()
{
  FModified = false;
  if (TGObjectSource* source = ObjectSource()) source->EndEditObject(*this);
}

void TGMapPoint::Post()
{
  if (FDataLink) {
    if (FModified) {
      Invalidate();
      WriteFields(*FDataLink);
      FDataLink->Post();
    }
    // Also when nothing changed: a source that holds the object for editing lets it go.
    if (TGObjectSource* source = ObjectSource()) source->EndEditObject(*this);
  }
  FModified = false;
}

void TGMapPoint::Delete()
{
  const auto keepAlive = Self(); // the source may hold the last other reference
  SetSelected(false);
  if (FDataLink) FDataLink->Delete();
  if (TGObjectSource* source = ObjectSource()) source->Remove(*this);
}

// ---------------------------------------------------------------------------------------------
// TGMapPoint: data link transfers

void TGMapPoint::FetchFromDataLink()
{
  ObjectDataCSL();
}

void TGMapPoint::WriteToDataLink(std::unique_ptr<TGDataLink> aDataLink)
{
  if (aDataLink && aDataLink.get() != FDataLink.get()) {
    // What still waits in the old link would otherwise be read from the new one.
    FetchFromDataLink();
    FDataLink = std::move(aDataLink);
  }
  if (FDataLink) WriteFields(*FDataLink);
}

void TGMapPoint::WriteFields(TGDataLink& aDataLink)
{
  aDataLink.SetUserID(FUserID);
  aDataLink.SetCentroid(Centroid());
  aDataLink.SetMER(ObjectMER());
  aDataLink.SetPresenterID(static_cast<int16_t>(FPresenterID));
  aDataLink.SetState(FObjectState);
  aDataLink.SetObjectDataCSL(ObjectDataCSL());
  aDataLink.SetKind(tgokPoint);
}

void TGMapPoint::ReadFromDataLink(std::unique_ptr<TGDataLink> aDataLink)
{
  if (!aDataLink) return;
  FDataLink = std::move(aDataLink);
  ReadFields(*FDataLink);
}

void TGMapPoint::ReadFields(TGDataLink& aDataLink)
{
  FPresenterID = aDataLink.PresenterID();
  FObjectState = aDataLink.State();
  FPrimaryKey = aDataLink.PrimaryKey();
  FObjectMER = aDataLink.MER();
  FCentroid = aDataLink.Centroid();
  FUserID = aDataLink.UserID();
  FObjectDataCSL = NotFetched;
}

// ---------------------------------------------------------------------------------------------
// TGMapPoint: hit tests

TGMERHitZone TGMapPoint::LLInObjectMER(const TGPointLL& ptLL, int32_t iTolerance)
{
  if (Hidden()) return hzNone;
  return MERHitZone(InflatedMER(ObjectMER(), iTolerance), ptLL);
}

bool TGMapPoint::LLInObject(const TGPointLL& ptLL, int32_t iTolerance)
{
  return LLInObjectMER(ptLL, iTolerance) != hzNone;
}

bool TGMapPoint::IntersectMER(const TGMER& aMER)
{
  return LLInMER(aMER, Centroid());
}

void TGMapPoint::Render(IGObjectRenderer& renderer, TGRenderStateSet State)
{
  (void)State;
  TGPoint xy;
  if (renderer.Projector().PointLLToXY(Centroid(), xy))
    renderer.DrawEllipse({xy.X - 2, xy.Y - 2, xy.X + 2, xy.Y + 2});
}

// ---------------------------------------------------------------------------------------------
// TGMapPoint: XML form

void TGMapPoint::SaveToXML(TGXML_Element& el)
{
  el.AddAttribute("Class", ClassName());
  el.AddAttribute("Centroid", PointLLToStr(Centroid()));
  el.AddBoolAttribute("Hidden", Hidden(), false);
  el.AddAttribute("CSL", ObjectDataCSL());
  el.AddIntAttribute("PresenterID", FPresenterID, 0);
  el.AddAttribute("UserID", FUserID);
}

void TGMapPoint::LoadFromXML(const TGXML_Element& el)
{
  TGPointLL centroid = StrToPointLL(el.Attribute("Centroid"));
  centroid.iLongX = LongWrap(centroid.iLongX);
  SetCentroid(centroid);
  SetHidden(el.BoolAttribute("Hidden", false));
  SetObjectDataCSL(el.Attribute("CSL"));
  SetPresenterID(el.IntAttribute("PresenterID", 0));
  SetUserID(el.Attribute("UserID"));
}

std::string TGMapPoint::XML()
{
  return XMLDocumentText("MapObject", [this](TGXML_Element& el) { SaveToXML(el); });
}

void TGMapPoint::SetXML(std::string_view text)
{
  LoadXMLDocumentText(text, [this](const TGXML_Element& el) { LoadFromXML(el); });
}

std::shared_ptr<IGMapPoint> TGMapPoint::CreateFromXML(const TGXML_Element* el,
                                                      std::string_view defaultClass)
{
  return CreateFromXMLAs<TGMapPoint>(nullptr, el, defaultClass);
}

// ---------------------------------------------------------------------------------------------
// TGMapPoly

std::shared_ptr<TGMapPoint> TGMapPoly::NewInstance() const
{
  return std::make_shared<TGMapPoly>();
}

TGChainStore& TGMapPoly::Chains()
{
  if (!FChains) {
    FChains = std::make_unique<TGChainStore>();
    if (FDataLink) {
      TGMemoryStream stream;
      FDataLink->ReadDataStream(stream);
      stream.SetPosition(0);
      FChains->ReadFromStream(stream);
    }
  }
  return *FChains;
}

void TGMapPoly::Invalidate()
{
  TGMapPoint::Invalidate();
  FCentroid.iHeightZ = UnsetHeight;
}

TGPointLL TGMapPoly::Centroid()
{
  if (FCentroid.iHeightZ == UnsetHeight) {
    if (Chains().Count() > 0)
      FCentroid = Chains().Centroid();
    else
      FCentroid.iHeightZ = 0;
  }
  return FCentroid;
}

void TGMapPoly::SetCentroid(const TGPointLL& value)
{
  const TGPointLL current = Centroid();
  TGChainStore& chains = Chains();
  const auto step = [](int32_t from, int32_t to) {
    return ClampToInt32(static_cast<int64_t>(to) - from);
  };
  const int32_t dx = step(current.iLongX, value.iLongX);
  const int32_t dy = step(current.iLatY, value.iLatY);
  const int32_t dz = step(current.iHeightZ, value.iHeightZ);
  for (int32_t i = 0; i < chains.Count(); ++i)
    if (chains.ChainAt(i)) chains.GetChain(i).Translate(dx, dy, dz);
  TGMapPoint::SetCentroid(value);
}

TGMER TGMapPoly::ObjectMER()
{
  if (MERIsEmpty(FObjectMER)) {
    TGChainStore& chains = Chains();
    const TGPointStore* first = chains.ChainAt(0);
    FObjectMER = (first && first->Count() > 0) ? chains.ChainStoreMER() : PointMER();
  }
  return FObjectMER;
}

void TGMapPoly::Assign(IGMapPoint& source)
{
  if (&source == static_cast<IGMapPoint*>(this)) return;
  TGMapPoint::Assign(source);
  if (auto* poly = dynamic_cast<IGMapPoly*>(&source)) {
    SetClosed(poly->Closed());
    FChains = poly->Chains().Clone();
  }
}

int64_t TGMapPoly::ObjectSize() const
{
  return static_cast<int64_t>(sizeof(*this)) + (FChains ? FChains->ObjectSize() : 0);
}

void TGMapPoly::FetchFromDataLink()
{
  TGMapPoint::FetchFromDataLink();
  Chains();
}

void TGMapPoly::WriteFields(TGDataLink& aDataLink)
{
  TGMapPoint::WriteFields(aDataLink);
  aDataLink.SetKind(tgokPoly);
  TGChainStore& chains = Chains();
  if (chains.Count() > 0 || aDataLink.DataID() != 0) {
    // An emptied poly replaces its stored geometry with an empty stream, which reads back as
    // no chains; a poly that never had geometry writes none.
    TGMemoryStream stream;
    if (chains.Count() > 0) chains.WriteToStream(stream);
    stream.SetPosition(0);
    aDataLink.WriteDataStream(stream);
  }
}

void TGMapPoly::ReadFields(TGDataLink& aDataLink)
{
  TGMapPoint::ReadFields(aDataLink);
  FChains.reset(); // read from the link on first use
}

bool TGMapPoly::LLInPolygon(const TGPointLL& ptLL, int32_t iTolerance)
{
  const TGMERHitZone zone = LLInObjectMER(ptLL, iTolerance);
  if (zone == hzNone) return false;
  const TGChainStore& chains = Chains();
  for (int32_t i = 0; i < chains.Count(); ++i) {
    const TGPointStore* chain = chains.ChainAt(i);
    if (chain && !chain->Hidden() && chain->PointInPolygon(ptLL.iLongX, ptLL.iLatY, zone))
      return true;
  }
  return false;
}

bool TGMapPoly::LLOnEdge(const TGPointLL& ptLL, int32_t iTolerance, bool bClosed)
{
  const TGMERHitZone zone = LLInObjectMER(ptLL, iTolerance);
  if (zone == hzNone) return false;
  // A point within the tolerance but across the meridian from the line is also tried a full
  // turn round (int64 first: the shifted longitude still fits 32 bits).
  int32_t turned = ptLL.iLongX;
  if (zone == hzPlus180 && ptLL.iLongX > 0) turned = ClampToInt32(int64_t{ptLL.iLongX} - GU_360);
  if (zone == hzMinus180 && ptLL.iLongX < 0) turned = ClampToInt32(int64_t{ptLL.iLongX} + GU_360);
  const TGChainStore& chains = Chains();
  for (int32_t i = 0; i < chains.Count(); ++i) {
    const TGPointStore* chain = chains.ChainAt(i);
    if (!chain || chain->Hidden()) continue;
    if (chain->PointOnEdge(ptLL.iLongX, ptLL.iLatY, bClosed, iTolerance) >= 0) return true;
    if (turned != ptLL.iLongX && chain->PointOnEdge(turned, ptLL.iLatY, bClosed, iTolerance) >= 0)
      return true;
  }
  return false;
}

bool TGMapPoly::LLInObject(const TGPointLL& ptLL, int32_t iTolerance)
{
  return Closed() ? LLInPolygon(ptLL, iTolerance) : LLOnEdge(ptLL, iTolerance, false);
}

bool TGMapPoly::IntersectMER(const TGMER& aMER)
{
  if (Closed()) {
    // The centre, wrapped: a rectangle running across the meridian has its centre past it.
    const TGPointLL c = MERCenter(aMER);
    if (LLInPolygon(PointLL(c.iLongX, c.iLatY), 0)) return true;
  }
  if (Chains().Count() == 0) return LLInMER(aMER, Centroid());
  return Chains().IntersectMER(aMER);
}

void TGMapPoly::Render(IGObjectRenderer& renderer, TGRenderStateSet State)
{
  if (Chains().Count() == 0) return TGMapPoint::Render(renderer, State);
  const auto closedState =
      static_cast<TGRenderStateSet>(Closed() ? State | rsClosed : State & ~rsClosed);
  renderer.RenderChainStore(Chains(), closedState);
}

void TGMapPoly::SaveToXML(TGXML_Element& el)
{
  TGMapPoint::SaveToXML(el);
  el.AddBoolAttribute("Closed", Closed(), false);
  Chains().SaveToXML(el.AddElement("Chains"));
}

void TGMapPoly::LoadFromXML(const TGXML_Element& el)
{
  TGMapPoint::LoadFromXML(el);
  SetClosed(el.BoolAttribute("Closed", false));
  auto chains = std::make_unique<TGChainStore>();
  if (const TGXML_Element* c = el.Element("Chains")) chains->LoadFromXML(*c);
  FChains = std::move(chains);
  // The centroid stays as read; the one-unit rectangle the centroid setter left would hide
  // the chains from hit tests.
  FObjectMER = {};
  FModified = true;
}

// ---------------------------------------------------------------------------------------------
// TGBeierNeelyMorph

void TGBeierNeelyMorph::SetOffsets(int32_t x, int32_t y)
{
  FXOffset = x;
  FYOffset = y;
}

void TGBeierNeelyMorph::SetScales(long double xScale, long double yScale)
{
  if (!(std::isfinite(xScale) && std::isfinite(yScale) && xScale > 0 && yScale > 0))
    throw EGException("TGBeierNeelyMorph: bad scale");
  FXScale = xScale;
  FYScale = yScale;
}

TGPointLL TGBeierNeelyMorph::ImageToWorld(long double x, long double y) const
{
  const long double lon = std::nearbyint(FXOffset + x * FXScale);
  const long double lat = std::nearbyint(FYOffset - y * FYScale);
  const auto wrapped = static_cast<int64_t>(std::fmod(lon, static_cast<long double>(GU_360)));
  const long double clampedLat = std::fmax(-GU_90, std::fmin(GU_90, lat));
  return {LongWrap64(wrapped), static_cast<int32_t>(clampedLat), 0};
}

void TGBeierNeelyMorph::Assign(const TGBeierNeelyMorph& source)
{
  FXOffset = source.FXOffset;
  FYOffset = source.FYOffset;
  FXScale = source.FXScale;
  FYScale = source.FYScale;
}

void TGBeierNeelyMorph::WriteToStream(TGStreamWriter& writer) const
{
  writer.WriteByte(1);
  writer.WriteInteger(FXOffset);
  writer.WriteInteger(FYOffset);
  writer.WriteDouble(static_cast<double>(FXScale));
  writer.WriteDouble(static_cast<double>(FYScale));
}

void TGBeierNeelyMorph::SaveToXML(TGXML_Element& el) const
{
  el.AddIntAttribute("XOffset", FXOffset, 0);
  el.AddIntAttribute("YOffset", FYOffset, 0);
  el.AddFloatAttribute("XScale", FXScale, 1);
  el.AddFloatAttribute("YScale", FYScale, 1);
}

void TGBeierNeelyMorph::LoadFromXML(const TGXML_Element& el)
{
  SetScales(el.FloatAttribute("XScale", 1), el.FloatAttribute("YScale", 1)); // checks first
  SetOffsets(el.IntAttribute("XOffset", 0), el.IntAttribute("YOffset", 0));
}

void TGBeierNeelyMorph::ReadFromStream(TGStreamReader& reader)
{
  const uint8_t version = reader.ReadByte();
  if (version != 1)
    throw EGException("TGBeierNeelyMorph: unknown stream version " + std::to_string(version));
  const int32_t x = reader.ReadInteger();
  const int32_t y = reader.ReadInteger();
  const double xScale = reader.ReadDouble();
  const double yScale = reader.ReadDouble();
  SetScales(xScale, yScale); // checks before anything changes
  SetOffsets(x, y);
}

// ---------------------------------------------------------------------------------------------
// Raster image sources

namespace {

// The rectangle (x0, y0)-(x1, y1) of image pixels in world points through the morph, clockwise
// from the top-left corner: each edge at divisions + 1 points, x0 + round(i x width /
// divisions) and likewise down.
TGPointStore ImageRectOutline(const TGBeierNeelyMorph& morph, long double x0, long double y0,
                              long double x1, long double y1, int32_t divisions)
{
  const auto x = [&](int32_t i) { return x0 + std::nearbyint(i * (x1 - x0) / divisions); };
  const auto y = [&](int32_t i) { return y0 + std::nearbyint(i * (y1 - y0) / divisions); };
  TGPointStore outline;
  for (int32_t i = 0; i <= divisions; ++i) // top edge, west to east
    outline.Add(morph.ImageToWorld(x(i), y0));
  for (int32_t i = 1; i <= divisions; ++i) // east edge, downwards
    outline.Add(morph.ImageToWorld(x1, y(i)));
  for (int32_t i = divisions - 1; i >= 0; --i) // bottom edge, back west
    outline.Add(morph.ImageToWorld(x(i), y1));
  for (int32_t i = divisions - 1; i >= 1; --i) // west edge, upwards
    outline.Add(morph.ImageToWorld(x0, y(i)));
  return outline;
}

} // namespace

TGRasterData::TGRasterData(TGMapRaster& raster, std::string imageName)
    : FRaster(raster), FImageName(std::move(imageName))
{
}

void TGRasterBitmapData::Load()
{
  FImage.reset();
  if (FImageName.empty()) return;
  std::error_code ec;
  if (std::filesystem::is_regular_file(FImageName, ec)) {
    auto image = std::make_shared<TGBitmap>();
    image->LoadFromFile(FImageName);
    FImage = std::move(image);
  } else if (TGObjectSource* source = FRaster.ObjectSource()) {
    FImage = source->ImageByName(FImageName);
  }
}

int32_t TGRasterBitmapData::ImageWidth() const
{
  return FImage ? FImage->Width() : 0;
}

int32_t TGRasterBitmapData::ImageHeight() const
{
  return FImage ? FImage->Height() : 0;
}

void TGRasterBitmapData::Render(IGObjectRenderer& renderer, TGRenderStateSet State)
{
  if (!FImage || ImageEmpty()) return;
  constexpr int32_t kCells = 8;
  FImage->SetAlphaBlend(FRaster.AlphaBlend());
  FImage->SetTransparentColor(FRaster.TransparentColor());
  const TGBeierNeelyMorph& morph = FRaster.Morph();
  const int32_t w = ImageWidth(), h = ImageHeight();
  const auto px = [](int32_t i, int32_t size) {
    return static_cast<int32_t>(static_cast<int64_t>(i) * size / kCells);
  };
  IGProjectorHost& globe = renderer.Projector().Host();
  const bool selected = (State & rsSelected) != 0;
  for (int32_t j = 0; j < kCells; ++j) {
    for (int32_t i = 0; i < kCells; ++i) {
      const TGPoint a{px(i, w), px(j, h)}, b{px(i + 1, w), px(j, h)};
      const TGPoint c{px(i, w), px(j + 1, h)}, d{px(i + 1, w), px(j + 1, h)};
      const auto at = [&morph](const TGPoint& p) { return morph.ImageToWorld(p.X, p.Y); };
      globe.RenderTextureTriangle({a, b, c}, {at(a), at(b), at(c)}, *FImage, selected);
      globe.RenderTextureTriangle({d, b, c}, {at(d), at(b), at(c)}, *FImage, selected);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// TGRasterXMRData

// The ".dmr" tile data file, open for reading while the image is loaded.
class TGRasterXMRData::TileFile
{
public:
  explicit TileFile(const std::filesystem::path& path) : FIn(path, std::ios::binary)
  {
    if (FIn) {
      FIn.seekg(0, std::ios::end);
      FSize = static_cast<int64_t>(FIn.tellg());
      if (!FIn || FSize < 0) FSize = 0;
    }
  }

  // The bytes of the tile record at offset (".dmr" record: 32-bit little-endian length, then
  // that many bytes); none when the record does not lie wholly inside the file.
  std::optional<std::vector<uint8_t>> Record(int64_t offset)
  {
    if (offset < 0 || FSize < 4 || offset > FSize - 4) return std::nullopt;
    uint8_t head[4];
    if (!ReadAt(offset, head, sizeof head)) return std::nullopt;
    TGBufferStream headStream(static_cast<const void*>(head), sizeof head);
    const uint32_t length = TGStreamReader(headStream).ReadCardinal();
    if (length > static_cast<uint64_t>(FSize - offset - 4)) return std::nullopt;
    std::vector<uint8_t> bytes(length);
    if (length > 0 && !ReadAt(offset + 4, bytes.data(), length)) return std::nullopt;
    return bytes;
  }

private:
  bool ReadAt(int64_t offset, void* buffer, int64_t count)
  {
    FIn.clear();
    FIn.seekg(offset);
    FIn.read(static_cast<char*>(buffer), static_cast<std::streamsize>(count));
    return static_cast<bool>(FIn);
  }

  std::ifstream FIn;
  int64_t FSize = 0;
};

TGRasterXMRData::TGRasterXMRData(TGMapRaster& raster, std::string imageName)
    : TGRasterData(raster, std::move(imageName))
{
}

TGRasterXMRData::~TGRasterXMRData() = default;

void TGRasterXMRData::Reset()
{
  FWidth = FHeight = FTileSize = 0;
  FScalePower = 2;
  FLevels.clear();
  FTileFile.reset();
  FCacheIndex.clear();
  FCache.clear();
  FNoImageTile.reset();
  FTileReads = 0;
  FCachedBytes = 0;
}

void TGRasterXMRData::Load()
{
  namespace fs = std::filesystem;
  Reset();
  std::error_code ec;
  std::string name = FImageName;
  if (name.empty() || !fs::is_regular_file(name, ec)) name = FRaster.ImageFilename();
  if (name.empty() || !fs::is_regular_file(name, ec)) return;
  const std::string bad = "TGRasterXMRData.Load: bad tiled image description " + name;

  TGXML_Document doc("MRI");
  try {
    doc.LoadFromFile(name);
  } catch (const EGException& e) {
    throw EGException(bad + ": " + e.what());
  }
  const TGXML_Element& root = doc.Document();
  const int32_t width = root.IntAttribute("Width", 0);
  const int32_t height = root.IntAttribute("Height", 0);
  const int32_t tileSize = root.IntAttribute("TileSize", 0);
  const int32_t scalePower = root.IntAttribute("ScalePower", 2);
  if (!SameText(root.ElementTag(), "MRI") || width <= 0 || height <= 0 || tileSize <= 0 ||
      tileSize > kMaxTileSize || scalePower < 2)
    throw EGException(bad);
  const int64_t across = (int64_t{width} + tileSize - 1) / tileSize;
  const int64_t down = (int64_t{height} + tileSize - 1) / tileSize;
  if (across * down > kMaxTiles) throw EGException(bad);

  std::vector<Level> levels;
  for (const TGXML_Element* mosaic : root.Elements("Mosaic")) {
    Level level;
    const std::string source = mosaic->Attribute("Source");
    for (const TGXML_Element* tile : mosaic->Elements()) {
      const std::string place = source + "\\" + tile->BodyText();
      const size_t slash = place.find_last_of("\\/");
      const std::optional<int64_t> offset = TryStrToInt64(XMLTrim(place.substr(slash + 1)));
      level.Offsets.push_back(offset && *offset >= 0 ? offset : std::nullopt);
    }
    levels.push_back(std::move(level));
  }

  FWidth = width;
  FHeight = height;
  FTileSize = tileSize;
  FScalePower = scalePower;
  FLevels = std::move(levels);
  const fs::path dmr = fs::path(name).replace_extension(".dmr");
  if (fs::is_regular_file(dmr, ec)) FTileFile = std::make_unique<TileFile>(dmr);
}

long double TGRasterXMRData::TileSpan(int32_t level) const
{
  return std::pow(static_cast<long double>(FScalePower), level) * FTileSize;
}

int32_t TGRasterXMRData::TilesAcross(int32_t level) const
{
  const long double n = std::ceil(FWidth / TileSpan(level));
  return std::isfinite(n) && n > 1 ? static_cast<int32_t>(std::min<long double>(n, INT32_MAX)) : 1;
}

int32_t TGRasterXMRData::TilesDown(int32_t level) const
{
  const long double n = std::ceil(FHeight / TileSpan(level));
  return std::isfinite(n) && n > 1 ? static_cast<int32_t>(std::min<long double>(n, INT32_MAX)) : 1;
}

int32_t TGRasterXMRData::ChooseLevel(int32_t levelCount, long double width, int32_t tileSize,
                                     int32_t scalePower, long double scale, long double morphScale)
{
  if (levelCount <= 0) return -1;
  const long double sp = scalePower;
  for (int32_t i = 0; i < levelCount - 1; ++i) {
    const long double tilesAcross = width / (std::pow(sp, i) * tileSize);
    const long double screenPerTile = width * scale * morphScale / tilesAcross;
    if (sp / 4 + 1 >= tileSize / screenPerTile) return i; // false for NaN too
  }
  return levelCount - 1;
}

int32_t TGRasterXMRData::LevelForScale(long double scale) const
{
  return ChooseLevel(LevelCount(), FWidth, FTileSize, FScalePower, scale, FRaster.Morph().Scale());
}

bool TGRasterXMRData::TileCached(int32_t level, int32_t col, int32_t row) const
{
  if (level < 0 || level >= LevelCount()) return false;
  return FCacheIndex.contains({level, int64_t{row} * TilesAcross(level) + col});
}

std::shared_ptr<TGBitmap> TGRasterXMRData::Tile(int32_t level, int32_t col, int32_t row)
{
  if (level < 0 || level >= LevelCount() || col < 0 || row < 0 || col >= TilesAcross(level) ||
      row >= TilesDown(level))
    return nullptr;
  const TileKey key{level, int64_t{row} * TilesAcross(level) + col};
  if (const auto hit = FCacheIndex.find(key); hit != FCacheIndex.end()) {
    FCache.splice(FCache.begin(), FCache, hit->second);
    return hit->second->Image;
  }
  std::shared_ptr<TGBitmap> image;
  const auto& offsets = FLevels[static_cast<size_t>(level)].Offsets;
  if (FTileFile && key.second < static_cast<int64_t>(offsets.size()))
    if (const auto& offset = offsets[static_cast<size_t>(key.second)]) image = ReadTile(*offset);
  // A damaged tile is remembered as missing too, so it is not read again on every render.
  // The "No Image Data" tile is held once whatever refers to it.
  const int64_t bytes = image ? static_cast<int64_t>(image->Image().sizeInBytes()) : 0;
  if (!image) image = NoImageTile();
  FCache.push_front({key, image, bytes});
  FCacheIndex[key] = FCache.begin();
  FCachedBytes += bytes;
  while (FCache.size() > static_cast<size_t>(kTileCacheSize) ||
         (FCachedBytes > FTileCacheBytes && FCache.size() > 1)) {
    FCachedBytes -= FCache.back().Bytes;
    FCacheIndex.erase(FCache.back().Key);
    FCache.pop_back();
  }
  return image;
}

std::shared_ptr<TGBitmap> TGRasterXMRData::ReadTile(int64_t offset)
{
  std::optional<std::vector<uint8_t>> bytes = FTileFile->Record(offset);
  if (!bytes) return nullptr;
  ++FTileReads;
  QByteArray data(reinterpret_cast<const char*>(bytes->data()),
                  static_cast<qsizetype>(bytes->size()));
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, "jpeg");
  // The size is checked before decoding, so a damaged header cannot ask for a huge picture.
  const QSize size = reader.size();
  if (!size.isValid() || size.isEmpty() || size.width() > FTileSize || size.height() > FTileSize)
    return nullptr;
  QImage picture;
  if (!reader.read(&picture)) return nullptr;
  auto image = std::make_shared<TGBitmap>();
  image->Assign(picture);
  return image->Empty() ? nullptr : image;
}

std::shared_ptr<TGBitmap> TGRasterXMRData::NoImageTile()
{
  if (!FNoImageTile) {
    auto tile = std::make_shared<TGBitmap>();
    tile->SetSize(FTileSize, FTileSize);
    tile->Clear(clWhite);
    // Text needs the font database, which only a GUI application has.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
      if (QPainter* canvas = tile->Canvas()) {
        canvas->setPen(Qt::black);
        canvas->drawText(QPoint(FTileSize / 4, FTileSize / 2), "No Image Data");
      }
    FNoImageTile = std::move(tile);
  }
  return FNoImageTile;
}

void TGRasterXMRData::Render(IGObjectRenderer& renderer, TGRenderStateSet State)
{
  if (ImageEmpty() || FLevels.empty()) return;
  TGProjector& projector = renderer.Projector();
  IGProjectorHost& globe = projector.Host();
  const int32_t level = LevelForScale(projector.ScaleFactor());
  const TGBeierNeelyMorph& morph = FRaster.Morph();
  const long double span = TileSpan(level);
  const long double factor = span / FTileSize; // image pixels per tile pixel
  const int32_t clientW = globe.ClientWidth(), clientH = globe.ClientHeight();
  const bool selected = (State & rsSelected) != 0;
  constexpr int32_t kCells = 2; // per tile and axis, so tiles follow the globe's curve

  // Whether any of the corners or the centre of the image rectangle projects into the client
  // area, or the projected points surround it.
  const auto shows = [&](long double x0, long double y0, long double x1, long double y1) {
    const long double xs[] = {x0, x1, x0, x1, (x0 + x1) / 2};
    const long double ys[] = {y0, y0, y1, y1, (y0 + y1) / 2};
    bool any = false;
    int32_t l = INT32_MAX, t = INT32_MAX, r = INT32_MIN, b = INT32_MIN;
    for (int k = 0; k < 5; ++k) {
      TGPoint xy;
      if (!projector.PointLLToXY(morph.ImageToWorld(xs[k], ys[k]), xy)) continue;
      any = true;
      l = std::min(l, xy.X), r = std::max(r, xy.X);
      t = std::min(t, xy.Y), b = std::max(b, xy.Y);
    }
    return any && r >= 0 && b >= 0 && l < clientW && t < clientH;
  };

  // Whether the projection may show any of a block of tiles. The morph keeps image rows and
  // columns on parallels and meridians, so the corners give the block's rectangle; blocks of
  // half the world or more are not tested, as their corners could take the wrong way round.
  TGCustomProjectionModel* model = projector.ProjectionModel();
  const auto blockShows = [&](long double x0, long double y0, long double x1, long double y1) {
    if (!model || (x1 - x0) * morph.XScale() >= GU_180) return true;
    TGRenderStateSet state = 0;
    return model->VisibleMER(ImageRectOutline(morph, x0, y0, x1, y1, 1).PointStoreMER(), state);
  };

  const auto drawTile = [&](int32_t col, int32_t row) {
    const long double x0 = col * span, y0 = row * span;
    const long double x1 = std::min<long double>(FWidth, x0 + span);
    const long double y1 = std::min<long double>(FHeight, y0 + span);
    if (!shows(x0, y0, x1, y1)) return;
    const std::shared_ptr<TGBitmap> tile = Tile(level, col, row);
    if (!tile || tile->Empty()) return;
    tile->SetAlphaBlend(FRaster.AlphaBlend());
    tile->SetTransparentColor(FRaster.TransparentColor());
    // The tile pixels that hold image: edge tiles may be cut short or padded.
    const auto tw =
        static_cast<int32_t>(std::min<long double>(tile->Width(), std::ceil((x1 - x0) / factor)));
    const auto th =
        static_cast<int32_t>(std::min<long double>(tile->Height(), std::ceil((y1 - y0) / factor)));
    const auto at = [&](const TGPoint& p) {
      return morph.ImageToWorld(std::min(x1, x0 + p.X * factor), std::min(y1, y0 + p.Y * factor));
    };
    const auto px = [](int32_t i, int32_t size) {
      return static_cast<int32_t>(static_cast<int64_t>(i) * size / kCells);
    };
    for (int32_t j = 0; j < kCells; ++j) {
      for (int32_t i = 0; i < kCells; ++i) {
        const TGPoint a{px(i, tw), px(j, th)}, b{px(i + 1, tw), px(j, th)};
        const TGPoint c{px(i, tw), px(j + 1, th)}, d{px(i + 1, tw), px(j + 1, th)};
        globe.RenderTextureTriangle({a, b, c}, {at(a), at(b), at(c)}, *tile, selected);
        globe.RenderTextureTriangle({d, b, c}, {at(d), at(b), at(c)}, *tile, selected);
      }
    }
  };

  // Tiles [c0, c1) x [r0, r1), halved across the side with more tiles (the first half first)
  // down to single tiles; the first tile drawn is the top-left one that shows.
  const auto walk = [&](const auto& self, int32_t c0, int32_t r0, int32_t c1, int32_t r1) -> void {
    if (c1 - c0 == 1 && r1 - r0 == 1) {
      drawTile(c0, r0);
      return;
    }
    const long double x0 = c0 * span, y0 = r0 * span;
    if (!blockShows(x0, y0, std::min<long double>(FWidth, c1 * span),
                    std::min<long double>(FHeight, r1 * span)))
      return;
    if (c1 - c0 > r1 - r0) {
      const int32_t mid = c0 + (c1 - c0) / 2;
      self(self, c0, r0, mid, r1);
      self(self, mid, r0, c1, r1);
    } else {
      const int32_t mid = r0 + (r1 - r0) / 2;
      self(self, c0, r0, c1, mid);
      self(self, c0, mid, c1, r1);
    }
  };
  walk(walk, 0, 0, TilesAcross(level), TilesDown(level));
}

// ---------------------------------------------------------------------------------------------
// TGMapRaster

TGMapRaster::TGMapRaster() = default;
TGMapRaster::~TGMapRaster() = default;

std::shared_ptr<TGMapPoint> TGMapRaster::NewInstance() const
{
  return std::make_shared<TGMapRaster>();
}

TGBeierNeelyMorph& TGMapRaster::Morph()
{
  if (!FMorph) FMorph = std::make_unique<TGBeierNeelyMorph>();
  return *FMorph;
}

void TGMapRaster::SetImageName(const std::string& value)
{
  if (value == FImageName) return;
  FImageName = value;
  FModified = true;
  FRasterData.reset();
  std::string ext = std::filesystem::path(value).extension().string();
  for (char& ch : ext)
    ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  if (ext == ".XMR")
    FRasterData = std::make_unique<TGRasterXMRData>(*this, value);
  else
    FRasterData = std::make_unique<TGRasterBitmapData>(*this, value);
  FRasterData->Load();
}

void TGMapRaster::SetTransparentColor(TColor value)
{
  if (value == FTransparentColor) return;
  FTransparentColor = value;
  FModified = true;
}

void TGMapRaster::SetAlphaBlend(uint8_t value)
{
  if (value == FAlphaBlend) return;
  FAlphaBlend = value;
  FModified = true;
}

void TGMapRaster::Invalidate()
{
  TGMapPoint::Invalidate();
  FCentroid.iHeightZ = UnsetHeight;
}

TGPointLL TGMapRaster::Centroid()
{
  if (FCentroid.iHeightZ == UnsetHeight) FCentroid = {Morph().XOffset(), Morph().YOffset(), 0};
  return FCentroid;
}

void TGMapRaster::SetCentroid(const TGPointLL& value)
{
  TGMapPoint::SetCentroid(value);
  Morph().SetOffsets(value.iLongX, value.iLatY);
}

TGPointStore TGMapRaster::Outline(int32_t divisions)
{
  return ImageRectOutline(Morph(), 0, 0, ImageWidth(), ImageHeight(), divisions);
}

TGMER TGMapRaster::ObjectMER()
{
  if (MERIsEmpty(FObjectMER)) FObjectMER = ImageEmpty() ? PointMER() : Outline(4).PointStoreMER();
  return FObjectMER;
}

void TGMapRaster::Assign(IGMapPoint& source)
{
  if (&source == static_cast<IGMapPoint*>(this)) return;
  TGMapPoint::Assign(source);
  if (auto* raster = dynamic_cast<IGMapRaster*>(&source)) {
    SetImageName(raster->ImageName());
    SetTransparentColor(raster->TransparentColor());
    SetAlphaBlend(raster->AlphaBlend());
    Morph().Assign(raster->Morph());
  }
}

bool TGMapRaster::LLInObject(const TGPointLL& ptLL, int32_t iTolerance)
{
  if (ImageEmpty()) return TGMapPoint::LLInObject(ptLL, iTolerance);
  return Outline(10).PointInPolygon(ptLL.iLongX, ptLL.iLatY, LLInObjectMER(ptLL, 0));
}

bool TGMapRaster::IntersectMER(const TGMER& aMER)
{
  return MERIntersects(ObjectMER(), aMER);
}

void TGMapRaster::Render(IGObjectRenderer& renderer, TGRenderStateSet State)
{
  if (FRasterData) FRasterData->Render(renderer, State);
}

void TGMapRaster::SaveToXML(TGXML_Element& el)
{
  TGMapPoint::SaveToXML(el);
  el.AddAttribute("ImageName", FImageName);
  el.AddIntAttribute("TransparentColor", FTransparentColor, clNone);
  el.AddIntAttribute("Alpha", FAlphaBlend, 255);
  Morph().SaveToXML(el.AddElement("Morph"));
}

void TGMapRaster::LoadFromXML(const TGXML_Element& el)
{
  TGBeierNeelyMorph morph;
  if (const TGXML_Element* m = el.Element("Morph")) morph.LoadFromXML(*m); // may raise
  TGMapPoint::LoadFromXML(el);
  SetTransparentColor(el.ColorAttribute("TransparentColor", clNone));
  const int32_t alpha = el.IntAttribute("Alpha", 255);
  SetAlphaBlend(static_cast<uint8_t>(alpha >= 0 && alpha <= 255 ? alpha : 255));
  Morph().Assign(morph);
  FObjectMER = {}; // from the image outline once it is asked for
  FModified = true;
  // Last: loading the image may raise, and everything else is in place by then.
  SetImageName(el.Attribute("ImageName"));
}

void TGMapRaster::WriteDataStream(TGStream& stream)
{
  TGStreamWriter writer(stream);
  Morph().WriteToStream(writer);
  TGObjectSource* source = ObjectSource();
  writer.WriteString(source ? source->ImportImage(FImageName) : FImageName);
  writer.WriteByte(FAlphaBlend);
  writer.WriteInteger(FTransparentColor);
  writer.WriteString(FImageName);
}

void TGMapRaster::ReadDataStream(TGStream& stream)
{
  TGStreamReader reader(stream);
  // Everything is read before anything changes, so a damaged stream leaves the raster whole.
  TGBeierNeelyMorph morph;
  morph.ReadFromStream(reader);
  const std::string storedName = reader.ReadString();
  const uint8_t alpha = reader.ReadByte();
  const TColor transparent = reader.ReadInteger();
  const std::string imageName = reader.ReadString();
  Morph().Assign(morph);
  FAlphaBlend = alpha;
  FTransparentColor = transparent;
  FImageFilename = imageName;
  SetImageName(storedName);
}

void TGMapRaster::WriteFields(TGDataLink& aDataLink)
{
  TGMapPoint::WriteFields(aDataLink);
  aDataLink.SetKind(tgokRaster);
  TGMemoryStream stream;
  WriteDataStream(stream);
  stream.SetPosition(0);
  aDataLink.WriteDataStream(stream);
}

void TGMapRaster::ReadFields(TGDataLink& aDataLink)
{
  TGMapPoint::ReadFields(aDataLink);
  TGMemoryStream stream;
  aDataLink.ReadDataStream(stream);
  stream.SetPosition(0);
  if (stream.Size() > 0) {
    ReadDataStream(stream);
    FModified = false; // read, not changed
  }
}

} // namespace vtr
