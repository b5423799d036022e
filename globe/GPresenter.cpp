#include "globe/GPresenter.h"

#include "base/Utf8.h"

#include "globe/GBitmap.h"
#include "globe/GLabelRenderer.h"
#include "globe/GLayer.h"
#include "globe/GProjector.h"
#include "globe/GXML.h"

#include <algorithm>
#include <cmath>

namespace vtr {

// ---------------------------------------------------------------------------------------------
// TGPresenter

namespace {

// The character code as UTF-8 (codes below 1 draw nothing).
void CodeToUTF8(int32_t code, std::string& out)
{
  out.clear();
  if (code > 0)
    AppendUtf8(out, static_cast<char32_t>(code));
}

} // namespace

TGPresenter::TGPresenter(TGGlobe* parentGlobe)
    : TGComponent(parentGlobe), FTitleFont(std::make_unique<TGFont>())
{
  FName = ClassName();
}

TGPresenter::~TGPresenter() = default;

std::unique_ptr<TGPresenter> TGPresenter::NewInstance() const
{
  return std::make_unique<TGPresenter>(ParentGlobe());
}

void TGPresenter::Assign(const TGComponent& source)
{
  const auto* other = dynamic_cast<const TGPresenter*>(&source);
  if (!other || other == this) return;
  FAlphaBlend = other->FAlphaBlend;
  FHidden = other->FHidden;
  FName = other->FName;
  FNextPresenterID = other->FNextPresenterID;
  FPresenterID = other->FPresenterID;
  FTitleColumn = other->FTitleColumn;
  FTitleAlignment = other->FTitleAlignment;
  FTitleOffset = other->FTitleOffset;
  FTitleOffsetUnits = other->FTitleOffsetUnits;
  FTitleZoomMin = other->FTitleZoomMin;
  FTitleZoomMax = other->FTitleZoomMax;
  FTitleZoomUnits = other->FTitleZoomUnits;
  FTitleFont->Assign(*other->FTitleFont);
  FPresenterEvents = other->FPresenterEvents;
}

std::unique_ptr<TGPresenter> TGPresenter::Clone() const
{
  std::unique_ptr<TGPresenter> copy = NewInstance();
  copy->Assign(*this);
  return copy;
}

bool TGPresenter::Equals(const TGPresenter& other) const
{
  return FAlphaBlend == other.FAlphaBlend && FTitleAlignment == other.FTitleAlignment &&
         FTitleColumn == other.FTitleColumn && FTitleOffset == other.FTitleOffset &&
         FTitleOffsetUnits == other.FTitleOffsetUnits && FTitleZoomMin == other.FTitleZoomMin &&
         FTitleZoomMax == other.FTitleZoomMax && FTitleZoomUnits == other.FTitleZoomUnits &&
         FTitleFont->Equals(*other.FTitleFont);
}

void TGPresenter::BeginLayerRender(TGLayer& layer)
{
  IGLayerHost* host = layer.Host();
  FRenderer = nullptr;
  FRenderHost = host ? host->LayerRenderHost() : nullptr;
  FAltitude = host ? host->Projector().Altitude() : 0;
  FTitleVisible = tsUnknown;
  FAdjustedAlphaBlend =
      static_cast<uint8_t>(MulDivRound(layer.AdjustedAlphaBlend(), FAlphaBlend, 255));
  if (FPresenterEvents) FPresenterEvents->BeginLayerRender(*this, layer);
}

void TGPresenter::EndLayerRender(int32_t renderPass)
{
  if (FPresenterEvents) FPresenterEvents->EndLayerRender(*this, renderPass);
}

TGRenderer* TGPresenter::Renderer()
{
  if (!FRenderer && FRenderHost) FRenderer = &FRenderHost->RenderHost().Renderer();
  return FRenderer;
}

void TGPresenter::RenderObject(IGMapPoint& mapObj, TGRenderStateSet State)
{
  if (FPresenterEvents) {
    FPresenterEvents->BeforeRenderObject(*this, mapObj, State);
    FPresenterEvents->AfterRenderObject(*this, mapObj, State);
  }
}

void TGPresenter::RenderTitle(IGMapPoint& mapObj, TGRenderStateSet State)
{
  (void)State;
  if (!FRenderHost || !IsTitleVisible()) return;
  FRenderHost->LabelRenderer().AddLabel(mapObj, mapObj.GetAttribute(FTitleColumn), FTitleOffset,
                                        FTitleOffsetUnits, FTitleAlignment, *FTitleFont);
}

bool TGPresenter::IsTitleVisible()
{
  if (FTitleVisible == tsUnknown) {
    bool visible = false;
    if (!FHidden && FTitleAlignment != taNone) {
      const int64_t lo = UnitsToGU(FTitleZoomUnits, FTitleZoomMin);
      const int64_t hi = UnitsToGU(FTitleZoomUnits, FTitleZoomMax);
      visible = lo == hi || (lo < FAltitude && FAltitude < hi);
    }
    FTitleVisible = visible ? tsTrue : tsFalse;
  }
  return FTitleVisible == tsTrue;
}

bool TGPresenter::LLInObject(const TGPointLL& ptLL, IGMapPoint& mapObj, int32_t iTolerance)
{
  // The rectangle grows by the tolerance on every side, so that a point just east or north
  // of a small object is hit as well as one just west or south of it.
  return mapObj.LLInObjectMER(ptLL, iTolerance) != hzNone;
}

void TGPresenter::SaveToXML(TGXML_Element& el)
{
  TGComponent::SaveToXML(el);
  el.AddAttribute("Name", FName);
  el.AddIntAttribute("PresenterID", FPresenterID, 0);
  el.AddIntAttribute("NextID", FNextPresenterID, 0);
  el.AddIntAttribute("Alignment", FTitleAlignment, taCenter);
  el.AddIntAttribute("Offset", FTitleOffset, 0);
  el.AddUnitAttribute("OffsetUnit", FTitleOffsetUnits, guPixel);
  el.AddIntAttribute("Column", FTitleColumn, 0);
  el.AddBoolAttribute("Hidden", FHidden, false);
  el.AddIntAttribute("Alpha", FAlphaBlend, 255);
  el.AddIntAttribute("ZoomMax", FTitleZoomMax, 0);
  el.AddIntAttribute("ZoomMin", FTitleZoomMin, 0);
  if (FTitleZoomMin != 0 || FTitleZoomMax != 0)
    el.AddUnitAttribute("ZoomUnit", FTitleZoomUnits, guKilometer);
  FTitleFont->SaveToXML(el.AddElement("TitleFont"));
}

void TGPresenter::LoadFromXML(const TGXML_Element& el)
{
  // Units first: an unknown abbreviation raises before anything changes.
  const TGUnitTypes offsetUnit = el.UnitAttribute("OffsetUnit", guPixel);
  const TGUnitTypes zoomUnit = el.UnitAttribute("ZoomUnit", guKilometer);
  FName = el.Attribute("Name", FName);
  FPresenterID = el.IntAttribute("PresenterID", 0);
  FNextPresenterID = el.IntAttribute("NextID", 0);
  FTitleAlignment = EnumAttribute(el, "Alignment", taCenter, taBottomRight + 1);
  FTitleOffset = el.IntAttribute("Offset", 0);
  FTitleOffsetUnits = offsetUnit;
  FTitleColumn = el.IntAttribute("Column", 0);
  FHidden = el.BoolAttribute("Hidden", false);
  FAlphaBlend = static_cast<uint8_t>(std::clamp(el.IntAttribute("Alpha", 255), 0, 255));
  FTitleZoomMax = el.IntAttribute("ZoomMax", 0);
  FTitleZoomMin = el.IntAttribute("ZoomMin", 0);
  FTitleZoomUnits = zoomUnit;
  LoadElementOrDefaults(*FTitleFont, el, "TitleFont");
}

// ---------------------------------------------------------------------------------------------
// TGPointPresenter

TGPointPresenter::TGPointPresenter(TGGlobe* parentGlobe) : TGPresenter(parentGlobe)
{
  FName = "Point Presenter";
  FPointFont.SetName("WingDings");
  FPointFont.SetModified(false);
}

TGPointPresenter::~TGPointPresenter() = default;

std::unique_ptr<TGPresenter> TGPointPresenter::NewInstance() const
{
  return std::make_unique<TGPointPresenter>(ParentGlobe());
}

void TGPointPresenter::SetImage(std::shared_ptr<TGBitmap> value)
{
  FImage = std::move(value);
  FImageLookedUp = true;
}

void TGPointPresenter::SetImageName(const std::string& value)
{
  if (value == FImageName && (FImage || FImageLookedUp)) return;
  FImageName = value;
  // The file now when it exists; else the globe is asked at the next layer render (it knows
  // the program folder and reports missing images).
  FImage = LoadLayerImage(nullptr, value);
  FImageLookedUp = FImage != nullptr || value.empty();
}

void TGPointPresenter::Assign(const TGComponent& source)
{
  TGPresenter::Assign(source);
  const auto* other = dynamic_cast<const TGPointPresenter*>(&source);
  if (!other || other == this) return;
  FPointPen.Assign(other->FPointPen);
  FPointBrush.Assign(other->FPointBrush);
  FPointFont.Assign(other->FPointFont);
  FSymbolIndex = other->FSymbolIndex;
  FPointType = other->FPointType;
  FPointUnit = other->FPointUnit;
  FPointSize = other->FPointSize;
  FMaxPointSize = other->FMaxPointSize;
  FImage = other->FImage; // pictures are shared, not copied
  FImageName = other->FImageName;
  FImageLookedUp = other->FImageLookedUp;
  FOverrideColumn = other->FOverrideColumn;
}

bool TGPointPresenter::Equals(const TGPresenter& other) const
{
  const auto* o = dynamic_cast<const TGPointPresenter*>(&other);
  return o && TGPresenter::Equals(other) && FPointPen.Equals(o->FPointPen) &&
         FPointBrush.Equals(o->FPointBrush) && FPointFont.Equals(o->FPointFont) &&
         FSymbolIndex == o->FSymbolIndex && FPointType == o->FPointType &&
         FPointUnit == o->FPointUnit && FPointSize == o->FPointSize &&
         FMaxPointSize == o->FMaxPointSize && FImageName == o->FImageName &&
         FOverrideColumn == o->FOverrideColumn;
}

int32_t TGPointPresenter::HalfSymbolGU(long double scaleFactor) const
{
  int32_t half = GlobeUnitsFrom(FPointSize + 1, FPointUnit, scaleFactor) / 2;
  if (FMaxPointSize != 0 && scaleFactor > 0)
    half = std::min(half, RoundToInt32(FMaxPointSize / scaleFactor));
  return half;
}

void TGPointPresenter::BeginLayerRender(TGLayer& layer)
{
  TGPresenter::BeginLayerRender(layer);
  IGLayerHost* host = layer.Host();
  FToleranceAdjust = HalfSymbolGU(host ? host->Projector().ScaleFactor() : 0);
  if (!FImageLookedUp && !FImageName.empty()) {
    FImage = LoadLayerImage(&layer, FImageName);
    FImageLookedUp = true;
  }
}

void TGPointPresenter::AdjustTolerance(int32_t& iTolerance)
{
  iTolerance = std::max(iTolerance, FToleranceAdjust);
}

bool TGPointPresenter::LLInObject(const TGPointLL& ptLL, IGMapPoint& mapObj, int32_t iTolerance)
{
  (void)iTolerance;
  // At the scale of the moment: a hit test may come before the layer was drawn at it.
  if (TGLayer* layer = mapObj.Layer())
    if (IGLayerHost* host = layer->Host())
      FToleranceAdjust = HalfSymbolGU(host->Projector().ScaleFactor());
  const TGPointLL c = mapObj.Centroid();
  const int32_t t = FToleranceAdjust;
  const TGMER square{LongWrap64(static_cast<int64_t>(c.iLongX) - t),
                     ClampToInt32(static_cast<int64_t>(c.iLatY) - t), ClampToInt32(2 * int64_t{t}),
                     ClampToInt32(2 * int64_t{t})};
  return LLInMER(square, ptLL);
}

void TGPointPresenter::RenderObject(IGMapPoint& mapObj, TGRenderStateSet State)
{
  if (FPresenterEvents) FPresenterEvents->BeforeRenderObject(*this, mapObj, State);
  TGRenderer* r = Renderer();
  if (r && FRenderHost) {
    int32_t size = r->ScaleUnitsToDevice(FPointSize, FPointUnit);
    if (FMaxPointSize != 0)
      size =
          std::min(size, MulDivRound(FMaxPointSize, r->PixelsPerInch(), r->ScreenPixelsPerInch()));
    // Symbol fonts are drawn at the symbol's size, whatever the cap on titles.
    const int32_t maxTextHeight = r->MaxTextHeight();
    r->SetMaxTextHeight(0);
    const bool selected = (State & rsSelected) != 0;
    switch (FPointType) {
    case ppFontSymbol: {
      FSymbolOverride = -1;
      if (FOverrideColumn >= 0) {
        const double v = mapObj.GetValue(FOverrideColumn);
        FSymbolOverride = std::isfinite(v) && v >= INT32_MIN && v <= INT32_MAX
                              ? static_cast<int32_t>(v)
                              : FSymbolIndex;
      }
      FPointFont.SetSize(FPointSize);
      FPointFont.SetSizeUnit(FPointUnit);
      r->SetFont(FPointFont);
      r->SetAlphaBlend(FPointFont.BkAlphaBlend());
      if (selected) r->Font().SetColor(r->SelectedPen().Color());
      break;
    }
    case ppImage:
      break;
    default:
      if (selected) {
        r->SetBrush(r->SelectedBrush());
        r->SetPen(r->SelectedPen());
      } else {
        r->SetAlphaBlend(FAdjustedAlphaBlend);
        r->SetPen(FPointPen);
        r->SetBrush(FPointBrush);
      }
    }

    TGProjector& projector = FRenderHost->RenderHost().Projector();
    TGPoint pt;
    bool drawn = false;
    if (auto* poly = dynamic_cast<IGMapPoly*>(&mapObj)) {
      TGChainStore& chains = poly->Chains();
      for (int32_t i = 0; i < chains.Count(); ++i) {
        const TGPointStore* chain = chains.ChainAt(i);
        if (!chain || chain->Hidden()) continue;
        for (const TGPointLL& p : chain->Points())
          if (projector.PointLLToXY(p, pt)) {
            RenderPoint(pt.X, pt.Y, State, size);
            drawn = true;
          }
      }
    }
    if (!drawn && projector.PointLLToXY(mapObj.Centroid(), pt))
      RenderPoint(pt.X, pt.Y, State, size);
    FSymbolOverride = -1;
    r->SetMaxTextHeight(maxTextHeight);
  }
  if (FPresenterEvents) FPresenterEvents->AfterRenderObject(*this, mapObj, State);
}

void TGPointPresenter::RenderPoint(int32_t x, int32_t y, TGRenderStateSet State, int32_t size)
{
  (void)State;
  const int32_t c = size / 2;
  TGRenderer* r = Renderer();
  if (c <= 0 || !r) return;
  const auto poly = [r](std::initializer_list<TGPoint> pts) {
    r->DrawPoly(pts.begin(), static_cast<int32_t>(pts.size()), true);
  };
  switch (FPointType) {
  case ppNone:
    break;
  case ppFontSymbol:
    r->Font().SetSize(2 * c);
    r->Font().SetSizeUnit(guPixel);
    CodeToUTF8(FSymbolOverride >= 0 ? FSymbolOverride : FSymbolIndex, FSymbolText);
    r->DrawText(x, y, FSymbolText, taCenter, 0);
    break;
  case ppImage:
    if (FImage && !FImage->Empty()) {
      TGBitmap& image = *FImage;
      image.SetAlphaBlend(FAdjustedAlphaBlend);
      image.SetTransparentColor(image.GetPixel(0, image.Height() - 1));
      const int32_t w = image.Width(), h = image.Height();
      r->DrawTextureTriangle({TGPoint{0, 0}, {w, 0}, {0, h}},
                             {TGPoint{x - c, y - c}, {x + c, y - c}, {x - c, y + c}}, image);
      r->DrawTextureTriangle({TGPoint{w, h}, {w, 0}, {0, h}},
                             {TGPoint{x + c, y + c}, {x + c, y - c}, {x - c, y + c}}, image);
    }
    break;
  case ppDot:
    r->DrawPixel(x, y, FPointPen.Color(), FAdjustedAlphaBlend);
    break;
  case ppCircle:
    r->DrawEllipse({x - c, y - c, x + c, y + c});
    break;
  case ppSquare:
    poly({{x - c, y - c}, {x - c, y + c}, {x + c, y + c}, {x + c, y - c}});
    break;
  case ppDiamond:
    poly({{x, y - c}, {x + c, y}, {x, y + c}, {x - c, y}});
    break;
  case ppTriangleUp:
    poly({{x + c, y + c}, {x, y - c}, {x - c, y + c}});
    break;
  case ppTriangleDown:
    poly({{x - c, y - c}, {x, y + c}, {x + c, y - c}});
    break;
  case ppTriangleLeft:
    poly({{x + c, y + c}, {x - c, y}, {x + c, y - c}});
    break;
  case ppTriangleRight:
    poly({{x - c, y - c}, {x + c, y}, {x - c, y + c}});
    break;
  }
}

void TGPointPresenter::SaveToXML(TGXML_Element& el)
{
  TGPresenter::SaveToXML(el);
  el.AddIntAttribute("Type", FPointType, ppCircle);
  el.AddUnitAttribute("Unit", FPointUnit, guPixel);
  el.AddIntAttribute("Size", FPointSize, 6);
  el.AddIntAttribute("MaxSize", FMaxPointSize, 0);
  el.AddIntAttribute("SymbolIndex", FSymbolIndex, 0);
  el.AddAttribute("ImageName", FImageName);
  el.AddIntAttribute("OverrideCol", FOverrideColumn, -1);
  FPointPen.SaveToXML(el.AddElement("Pen"));
  FPointBrush.SaveToXML(el.AddElement("Brush"));
  FPointFont.SaveToXML(el.AddElement("Font"));
}

void TGPointPresenter::LoadFromXML(const TGXML_Element& el)
{
  const TGUnitTypes unit = el.UnitAttribute("Unit", guPixel);
  TGPresenter::LoadFromXML(el);
  FPointType = EnumAttribute(el, "Type", ppCircle, kPointPresenterTypeCount);
  FPointUnit = unit;
  FPointSize = el.IntAttribute("Size", 6);
  FMaxPointSize = el.IntAttribute("MaxSize", 0);
  FSymbolIndex = static_cast<int16_t>(el.IntAttribute("SymbolIndex", 0));
  FOverrideColumn = el.IntAttribute("OverrideCol", -1);
  LoadElementOrDefaults(FPointPen, el, "Pen");
  LoadElementOrDefaults(FPointBrush, el, "Brush");
  LoadElementOrDefaults(FPointFont, el, "Font");
  SetImageName(el.Attribute("ImageName"));
}

// ---------------------------------------------------------------------------------------------
// TGPolyPresenter

TGPolyPresenter::TGPolyPresenter(TGGlobe* parentGlobe) : TGPresenter(parentGlobe)
{
  FName = "Poly Presenter";
}

std::unique_ptr<TGPresenter> TGPolyPresenter::NewInstance() const
{
  return std::make_unique<TGPolyPresenter>(ParentGlobe());
}

TGPolygonPresenter::TGPolygonPresenter(TGGlobe* parentGlobe) : TGPolyPresenter(parentGlobe)
{
  FName = "Polygon Presenter";
  FPolyRenderMode = prmClosed;
}

std::unique_ptr<TGPresenter> TGPolygonPresenter::NewInstance() const
{
  return std::make_unique<TGPolygonPresenter>(ParentGlobe());
}

TGPolylinePresenter::TGPolylinePresenter(TGGlobe* parentGlobe) : TGPolyPresenter(parentGlobe)
{
  FName = "Polyline Presenter";
  FPolyRenderMode = prmOpen;
}

std::unique_ptr<TGPresenter> TGPolylinePresenter::NewInstance() const
{
  return std::make_unique<TGPolylinePresenter>(ParentGlobe());
}

bool TGPolyPresenter::IsClosed(IGMapPoint* mapObj) const
{
  switch (FPolyRenderMode) {
  case prmClosed:
    return true;
  case prmOpen:
    return false;
  case prmNormal:
    break;
  }
  const auto* poly = dynamic_cast<IGMapPoly*>(mapObj);
  return !poly || poly->Closed();
}

void TGPolyPresenter::Assign(const TGComponent& source)
{
  TGPresenter::Assign(source);
  const auto* other = dynamic_cast<const TGPolyPresenter*>(&source);
  if (!other || other == this) return;
  FPolyPen.Assign(other->FPolyPen);
  FPolyBrush.Assign(other->FPolyBrush);
  FPolyRenderMode = other->FPolyRenderMode;
}

bool TGPolyPresenter::Equals(const TGPresenter& other) const
{
  const auto* o = dynamic_cast<const TGPolyPresenter*>(&other);
  return o && TGPresenter::Equals(other) && FPolyPen.Equals(o->FPolyPen) &&
         FPolyBrush.Equals(o->FPolyBrush) && FPolyRenderMode == o->FPolyRenderMode;
}

void TGPolyPresenter::RenderObject(IGMapPoint& mapObj, TGRenderStateSet State)
{
  auto* poly = dynamic_cast<IGMapPoly*>(&mapObj);
  TGRenderer* r = Renderer();
  if (!poly || !r || !FRenderHost) return;
  if (FPresenterEvents) FPresenterEvents->BeforeRenderObject(*this, mapObj, State);
  const bool closed = IsClosed(&mapObj);
  if (closed)
    State |= rsClosed;
  else
    State &= static_cast<TGRenderStateSet>(~rsClosed);
  if (State & rsSelected) {
    r->SetBrush(r->SelectedBrush());
    r->SetPen(r->SelectedPen());
  } else {
    r->SetAlphaBlend(FAdjustedAlphaBlend);
    r->SetPen(FPolyPen);
    if (closed) r->SetBrush(FPolyBrush);
  }
  FRenderHost->ObjectRenderer().RenderChainStore(poly->Chains(), State);
  if (FPresenterEvents) FPresenterEvents->AfterRenderObject(*this, mapObj, State);
}

bool TGPolyPresenter::LLInObject(const TGPointLL& ptLL, IGMapPoint& mapObj, int32_t iTolerance)
{
  auto* poly = dynamic_cast<IGMapPoly*>(&mapObj);
  if (!poly) return TGPresenter::LLInObject(ptLL, mapObj, iTolerance);
  if (IsClosed(&mapObj)) return poly->LLInPolygon(ptLL, iTolerance);
  return poly->LLOnEdge(ptLL, iTolerance, false);
}

void TGPolyPresenter::SaveToXML(TGXML_Element& el)
{
  TGPresenter::SaveToXML(el);
  el.AddIntAttribute("RenderMode", FPolyRenderMode, prmNormal);
  FPolyPen.SaveToXML(el.AddElement("Pen"));
  FPolyBrush.SaveToXML(el.AddElement("Brush"));
}

void TGPolyPresenter::LoadFromXML(const TGXML_Element& el)
{
  TGPresenter::LoadFromXML(el);
  FPolyRenderMode = EnumAttribute(el, "RenderMode", prmNormal, prmOpen + 1);
  LoadElementOrDefaults(FPolyPen, el, "Pen");
  LoadElementOrDefaults(FPolyBrush, el, "Brush");
}

// ---------------------------------------------------------------------------------------------
// TGPresenterStore

int32_t TGPresenterStore::Add(std::unique_ptr<TGPresenter> aPresenter)
{
  if (!aPresenter) return 0;
  int32_t id = aPresenter->PresenterID();
  if (id != 0) {
    std::erase_if(FPresenters, [id](const auto& p) { return p->PresenterID() == id; });
  } else {
    // Numbers below 1 (the globe's default presenters use -1 and -2) never make a new
    // presenter 0, the number that means "no presenter".
    int32_t highest = 0;
    for (const auto& p : FPresenters)
      highest = std::max(highest, p->PresenterID());
    id = highest + 1;
    aPresenter->SetPresenterID(id);
  }
  FPresenters.push_back(std::move(aPresenter));
  FModified = true;
  return id;
}

void TGPresenterStore::AddPresenters(const TGPresenterStore& store)
{
  if (&store == this) return;
  for (const auto& p : store.FPresenters)
    Add(p->Clone());
}

TGPresenter* TGPresenterStore::ByID(int32_t iPresenterID) const
{
  for (const auto& p : FPresenters)
    if (p->PresenterID() == iPresenterID) return p.get();
  return nullptr;
}

TGPresenter* TGPresenterStore::ByName(const std::string& presenterName) const
{
  for (const auto& p : FPresenters)
    if (p->Name() == presenterName) return p.get();
  return nullptr;
}

int32_t TGPresenterStore::FindMatch(const TGPresenter& aPresenter) const
{
  for (const auto& p : FPresenters)
    if (p->Equals(aPresenter)) return p->PresenterID();
  return 0;
}

int32_t TGPresenterStore::IndexOf(const TGPresenter* aPresenter) const
{
  for (size_t i = 0; i < FPresenters.size(); ++i)
    if (FPresenters[i].get() == aPresenter) return static_cast<int32_t>(i);
  return -1;
}

TGPresenter& TGPresenterStore::GetPresenter(int32_t iIndex) const
{
  if (iIndex < 0 || iIndex >= Count())
    throw EGException("TGPresenterStore: Bad presenter index " + std::to_string(iIndex));
  return *FPresenters[static_cast<size_t>(iIndex)];
}

void TGPresenterStore::Delete(int32_t iIndex)
{
  if (iIndex < 0 || iIndex >= Count()) return;
  FPresenters.erase(FPresenters.begin() + iIndex);
  FModified = true;
}

void TGPresenterStore::Clear()
{
  if (FPresenters.empty()) return;
  FPresenters.clear();
  FModified = true;
}

void TGPresenterStore::SaveToXML(TGXML_Element& el)
{
  for (const auto& p : FPresenters)
    p->SaveToXML(el.AddElement("Presenter"));
}

void TGPresenterStore::LoadFromXML(const TGXML_Element& el)
{
  Clear();
  for (const TGXML_Element* child : el.Elements("Presenter")) {
    std::string cls = XMLClassName(child);
    if (cls.size() >= 2 && (cls[0] == 'T' || cls[0] == 't') && (cls[1] == 'P' || cls[1] == 'p'))
      cls = "TGP" + cls.substr(2); // older class names
    std::unique_ptr<TGPresenter> p;
    try {
      p = CreateGlobeObjectAs<TGPresenter>(cls, ParentGlobe());
    } catch (const std::exception&) {
      p = nullptr; // a class that fails to construct counts as none
    }
    if (!p) p = std::make_unique<TGPresenter>(ParentGlobe());
    p->LoadFromXML(*child);
    Add(std::move(p));
  }
  FModified = false;
}

void TGPresenterStore::Assign(const TGComponent& source)
{
  const auto* other = dynamic_cast<const TGPresenterStore*>(&source);
  if (!other || other == this) return;
  Clear();
  AddPresenters(*other);
}

} // namespace vtr
