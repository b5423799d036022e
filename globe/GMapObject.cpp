#include "globe/GMapObject.h"

#include "base/TextLists.h"
#include "globe/GBitmap.h"
#include "globe/GLayer.h"
#include "globe/GObjectSource.h"
#include "globe/GProjector.h"

#include <cmath>
#include <filesystem>
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
  FCentroid.iHeightZ = UnsetHeight;
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
  // Tiled ".XMR" descriptions need the engine XML model; until their source exists such a
  // raster shows no image.
  if (ext == ".XMR") return;
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
  const long double w = ImageWidth();
  const long double h = ImageHeight();
  const auto at = [divisions](int32_t i, long double size) {
    return std::nearbyint(i * size / divisions);
  };
  TGPointStore outline;
  const TGBeierNeelyMorph& morph = Morph();
  for (int32_t i = 0; i <= divisions; ++i) // top edge, west to east
    outline.Add(morph.ImageToWorld(at(i, w), 0));
  for (int32_t i = 1; i <= divisions; ++i) // east edge, downwards
    outline.Add(morph.ImageToWorld(w, at(i, h)));
  for (int32_t i = divisions - 1; i >= 0; --i) // bottom edge, back west
    outline.Add(morph.ImageToWorld(at(i, w), h));
  for (int32_t i = divisions - 1; i >= 1; --i) // west edge, upwards
    outline.Add(morph.ImageToWorld(0, at(i, h)));
  return outline;
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
