#include "globe/GLayer.h"

#include "base/Convert.h"
#include "base/TextLists.h"
#include "globe/GBitmap.h"
#include "globe/GLabelRenderer.h"
#include "globe/GProjector.h"
#include "globe/GXML.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>

namespace vtr {

namespace {

// A presenter chain longer than this is taken for a loop (presenters naming each other as the
// next) and ends there.
constexpr int kMaxPresenterChain = 64;

// Objects between periodic updates during a render.
constexpr int32_t kObjectsPerUpdate = 128;

// Selection probes split aMER into quarters at most this deep (4^6 probes at most per object):
// a long line across a large rectangle would otherwise be probed down to the tolerance.
constexpr int kMaxProbeDepth = 6;

std::string Trimmed(const std::string& s)
{
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ')
    ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ')
    --e;
  return s.substr(b, e - b);
}

// The presenter of each object's number, looked up once for a run of objects with one number.
class PresenterLookup
{
public:
  explicit PresenterLookup(const TGLayer& layer) : FLayer(layer) {}

  // The presenter's hit test, or the object's own when its number has no presenter.
  bool Hit(IGMapPoint& obj, const TGPointLL& ptLL, int32_t iTolerance)
  {
    const int32_t id = obj.PresenterID();
    if (!FValid || id != FID) {
      FValid = true;
      FID = id;
      FPresenter = FLayer.FindPresenter(id);
    }
    return FPresenter ? FPresenter->LLInObject(ptLL, obj, iTolerance)
                      : obj.LLInObject(ptLL, iTolerance);
  }

private:
  const TGLayer& FLayer;
  bool FValid = false;
  int32_t FID = 0;
  TGPresenter* FPresenter = nullptr;
};

// Whether a probe point of aMER (its centre, then recursively the centres of its quarters
// while the quarters are larger than the tolerance) lies in the object.
bool ProbeHit(PresenterLookup& lookup, IGMapPoint& obj, const TGMER& objArea, const TGMER& aMER,
              int32_t q, int depth)
{
  const TGPointLL c = MERCenter(aMER);
  if (lookup.Hit(obj, PointLL(c.iLongX, c.iLatY), q)) return true;
  const int32_t hw = aMER.iWidthX / 2;
  const int32_t hh = aMER.iHeightY / 2;
  if (!(q < hw && q < hh) || depth >= kMaxProbeDepth) return false;
  const auto quarter = [&aMER](int64_t dx, int64_t dy, int32_t w, int32_t h) {
    return TGMER{LongWrap64(aMER.iLongX + dx), ClampToInt32(aMER.iLatY + dy), w, h};
  };
  const TGMER quarters[4] = {quarter(0, 0, hw, hh),                                   // west-south
                             quarter(hw, 0, aMER.iWidthX - hw, hh),                   // east-south
                             quarter(0, hh, hw, aMER.iHeightY - hh),                  // west-north
                             quarter(hw, hh, aMER.iWidthX - hw, aMER.iHeightY - hh)}; // east-north
  for (const TGMER& part : quarters)
    if (MERIntersects(part, objArea) && ProbeHit(lookup, obj, objArea, part, q, depth + 1))
      return true;
  return false;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Globe hooks

IGLayerHost* TGLayer::Host() const
{
  const TGLayer* root = this;
  while (root->FParentLayer)
    root = root->FParentLayer;
  return root->FHost;
}

void TGLayer::Redraw() const
{
  if (IGLayerHost* host = Host()) host->Projector().Host().RedrawLayers();
}

void TGLayer::RestartRenderIfPeriodic() const
{
  if (IGLayerHost* host = Host()) {
    IGProjectorHost& globe = host->Projector().Host();
    if (globe.PeriodicUpdateTime() > 0) globe.RestartRender();
  }
}

int32_t TGLayer::PixelTolerance() const
{
  IGLayerHost* host = Host();
  return host ? host->Projector().PixelTolerance() : 0;
}

void TGLayerStore::NotifyLayerTreeChanged()
{
  if (IGLayerHost* host = FParentLayer->Host()) host->NotifyLayerTreeChanged();
}

std::shared_ptr<TGBitmap> LoadLayerImage(const TGLayer* layer, const std::string& imageName)
{
  if (imageName.empty()) return nullptr;
  if (IGLayerHost* host = layer ? layer->Host() : nullptr) return host->LoadImage(imageName);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(imageName, ec)) return nullptr;
  auto image = std::make_shared<TGBitmap>();
  image->LoadFromFile(imageName);
  return image;
}

// ---------------------------------------------------------------------------------------------
// TGLayerSelection

size_t TGLayerSelection::BucketOf(TGPrimaryKey objPK)
{
  return static_cast<uint32_t>(objPK) % kBucketCount;
}

void TGLayerSelection::Add(TGPrimaryKey objPK)
{
  auto& bucket = FBuckets[BucketOf(objPK)];
  if (std::find(bucket.begin(), bucket.end(), objPK) != bucket.end()) return;
  bucket.push_back(objPK);
  ++FCount;
}

void TGLayerSelection::Remove(TGPrimaryKey objPK)
{
  auto& bucket = FBuckets[BucketOf(objPK)];
  const auto it = std::find(bucket.begin(), bucket.end(), objPK);
  if (it == bucket.end()) return;
  bucket.erase(it);
  --FCount;
}

bool TGLayerSelection::Contains(TGPrimaryKey objPK) const
{
  const auto& bucket = FBuckets[BucketOf(objPK)];
  return std::find(bucket.begin(), bucket.end(), objPK) != bucket.end();
}

bool TGLayerSelection::Clear()
{
  const bool had = FCount > 0;
  for (auto& bucket : FBuckets)
    std::vector<TGPrimaryKey>().swap(bucket);
  FCount = 0;
  FPosition = -1;
  return had;
}

TGPrimaryKey TGLayerSelection::KeyAt(int64_t position) const
{
  for (const auto& bucket : FBuckets) {
    const auto n = static_cast<int64_t>(bucket.size());
    if (position < n) return bucket[static_cast<size_t>(position)];
    position -= n;
  }
  return 0;
}

std::shared_ptr<IGMapPoint> TGLayerSelection::ObjectFrom(int64_t position, int step)
{
  if (!FParentLayer->HasObjectSource()) return nullptr;
  TGObjectSource& source = FParentLayer->ObjectSource();
  for (; position >= 0 && position < FCount; position += step) {
    FPosition = position;
    if (auto obj = source.ByPrimaryKey(KeyAt(position))) return obj;
  }
  FPosition = position;
  return nullptr;
}

std::shared_ptr<IGMapPoint> TGLayerSelection::First()
{
  return ObjectFrom(0, 1);
}

std::shared_ptr<IGMapPoint> TGLayerSelection::Next()
{
  return ObjectFrom(FPosition + 1, 1);
}

std::shared_ptr<IGMapPoint> TGLayerSelection::Last()
{
  return ObjectFrom(FCount - 1, -1);
}

std::shared_ptr<IGMapPoint> TGLayerSelection::Prior()
{
  return ObjectFrom(FPosition - 1, -1);
}

// ---------------------------------------------------------------------------------------------
// TGGlobeSelection

void TGGlobeSelection::FlattenTree()
{
  FLayerStack.clear();
  const std::function<void(TGLayer&)> visit = [this, &visit](TGLayer& layer) {
    FLayerStack.push_back(&layer);
    for (const auto& sub : layer.LayerStore().Layers())
      visit(*sub);
  };
  visit(*FRootLayer);
}

std::shared_ptr<IGMapPoint> TGGlobeSelection::First()
{
  FlattenTree();
  for (FPosition = 0; FPosition < FLayerStack.size(); ++FPosition)
    if (auto obj = FLayerStack[FPosition]->Selection().First()) return obj;
  return nullptr;
}

std::shared_ptr<IGMapPoint> TGGlobeSelection::Next()
{
  if (FPosition >= FLayerStack.size()) return nullptr;
  if (auto obj = FLayerStack[FPosition]->Selection().Next()) return obj;
  while (++FPosition < FLayerStack.size())
    if (auto obj = FLayerStack[FPosition]->Selection().First()) return obj;
  return nullptr;
}

std::shared_ptr<IGMapPoint> TGGlobeSelection::Last()
{
  FlattenTree();
  for (FPosition = FLayerStack.size(); FPosition-- > 0;)
    if (auto obj = FLayerStack[FPosition]->Selection().Last()) return obj;
  FPosition = FLayerStack.size();
  return nullptr;
}

std::shared_ptr<IGMapPoint> TGGlobeSelection::Prior()
{
  if (FPosition >= FLayerStack.size()) return nullptr;
  if (auto obj = FLayerStack[FPosition]->Selection().Prior()) return obj;
  while (FPosition-- > 0)
    if (auto obj = FLayerStack[FPosition]->Selection().Last()) return obj;
  FPosition = FLayerStack.size();
  return nullptr;
}

int64_t TGGlobeSelection::Count() const
{
  const std::function<int64_t(TGLayer&)> count = [&count](TGLayer& layer) {
    int64_t n = layer.Selection().Count();
    for (const auto& sub : layer.LayerStore().Layers())
      n += count(*sub);
    return n;
  };
  return count(*FRootLayer);
}

bool TGGlobeSelection::Clear()
{
  return FRootLayer->ClearSelected();
}

// ---------------------------------------------------------------------------------------------
// TGLayerStore

TGLayerStore::TGLayerStore(TGLayer& parentLayer)
    : TGComponent(parentLayer.ParentGlobe()), FParentLayer(&parentLayer)
{
}

TGLayerStore::~TGLayerStore() = default;

int32_t TGLayerStore::Add(std::unique_ptr<TGLayer> aLayer)
{
  G_ASSERT_MSG(aLayer, "TGLayerStore.Add passed nil layer");
  for (const TGLayer* l = FParentLayer; l; l = l->ParentLayer())
    G_ASSERT_MSG(l != aLayer.get(), "TGLayerStore.Add: a layer cannot hold itself");
  aLayer->FParentLayer = FParentLayer;
  FLayers.Insert(Count(), std::move(aLayer));
  NotifyLayerTreeChanged();
  return Count() - 1;
}

int32_t TGLayerStore::Add(TGLayer* aLayer)
{
  G_ASSERT_MSG(aLayer, "TGLayerStore.Add passed nil layer");
  const int32_t index = IndexOf(aLayer);
  if (index >= 0) return index;
  // Checked before the layer leaves its store, so that a refused move loses nothing.
  for (const TGLayer* l = FParentLayer; l; l = l->ParentLayer())
    G_ASSERT_MSG(l != aLayer, "TGLayerStore.Add: a layer cannot hold itself");
  G_ASSERT_MSG(aLayer->ParentLayer(), "TGLayerStore.Add: the layer belongs to no store");
  return Add(aLayer->ParentLayer()->LayerStore().Remove(aLayer));
}

std::unique_ptr<TGLayer> TGLayerStore::Remove(TGLayer* aLayer)
{
  const int32_t index = IndexOf(aLayer);
  if (index < 0) return nullptr;
  std::unique_ptr<TGLayer> layer = std::move(FLayers[index]);
  FLayers.Delete(index);
  layer->FParentLayer = nullptr;
  NotifyLayerTreeChanged();
  return layer;
}

void TGLayerStore::Delete(TGLayer* aLayer)
{
  Remove(aLayer);
}

void TGLayerStore::Move(int32_t iFrom, int32_t iTo)
{
  FLayers.Move(iFrom, iTo); // ignores bad indexes
  NotifyLayerTreeChanged();
}

void TGLayerStore::Clear()
{
  if (Count() == 0) return;
  FLayers.SetCount(0);
  NotifyLayerTreeChanged();
}

TGLayer& TGLayerStore::GetLayer(int32_t iIndex) const
{
  if (iIndex < 0 || iIndex >= Count())
    throw EGException("TGGlobe.GetLayer: Bad layer index " + std::to_string(iIndex));
  return *FLayers[iIndex];
}

int32_t TGLayerStore::IndexOf(const TGLayer* aLayer) const
{
  for (int32_t i = 0; i < Count(); ++i)
    if (FLayers[i].get() == aLayer) return i;
  return -1;
}

int32_t TGLayerStore::IndexByName(const std::string& sName) const
{
  for (int32_t i = 0; i < Count(); ++i)
    if (SameText(FLayers[i]->Name(), sName)) return i;
  return -1;
}

TGLayer* TGLayerStore::LayerByName(const std::string& sName) const
{
  const int32_t i = IndexByName(sName);
  return i < 0 ? nullptr : FLayers[i].get();
}

TGLayer* TGLayerStore::LayerByID(const TGUID& id) const
{
  for (const auto& layer : Layers())
    if (layer->HasObjectSource() && layer->ObjectSource().UniqueID() == id) return layer.get();
  for (const auto& layer : Layers())
    if (TGLayer* found = layer->LayerStore().LayerByID(id)) return found;
  return nullptr;
}

void TGLayerStore::SaveToXML(TGXML_Element& el)
{
  TGComponent::SaveToXML(el);
  for (const auto& layer : Layers())
    if (!layer->Name().empty()) layer->SaveToXML(el.AddElement("Layer"));
}

void TGLayerStore::LoadFromXML(const TGXML_Element& el)
{
  const TGLayer* root = FParentLayer;
  while (root->ParentLayer())
    root = root->ParentLayer();
  for (const TGXML_Element* child : el.Elements("Layer")) {
    TGLayer* layer = nullptr;
    const TGXML_Element* source = child->Element("ObjectSource");
    if (const std::optional<TGUID> id =
            source ? StringToGUID(XMLTrim(source->Attribute("ID"))) : std::nullopt)
      layer = root->LayerStore().LayerByID(*id);
    else
      layer = LayerByName(Trimmed(child->Attribute("Name")));
    if (layer) {
      Add(layer);
    } else {
      std::unique_ptr<TGLayer> made =
          CreateFromXMLAs<TGLayer>(ParentGlobe(), nullptr, XMLClassName(child));
      G_ASSERT(made);
      layer = made.get();
      Add(std::move(made));
    }
    layer->LoadFromXML(*child);
    if (!layer->IsValid()) Delete(layer);
  }
}

TGLayer* TGLayerStore::LayerFromPresenter(const TGPresenter* aPresenter) const
{
  for (const auto& layer : Layers()) {
    if (layer->Presenters().Contains(aPresenter)) return layer.get();
    if (TGLayer* found = layer->LayerStore().LayerFromPresenter(aPresenter)) return found;
  }
  return nullptr;
}

std::shared_ptr<IGMapPoint> TGLayerStore::ObjectAtLL(const TGPointLL& ptLL) const
{
  const auto layers = Layers();
  for (auto it = layers.rbegin(); it != layers.rend(); ++it)
    if ((*it)->Enabled())
      if (auto obj = (*it)->ObjectAtLL(ptLL)) return obj;
  return nullptr;
}

std::shared_ptr<IGMapPoint> TGLayerStore::ObjectAtXY(int32_t iX, int32_t iY) const
{
  const auto layers = Layers();
  for (auto it = layers.rbegin(); it != layers.rend(); ++it)
    if ((*it)->Enabled())
      if (auto obj = (*it)->ObjectAtXY(iX, iY)) return obj;
  return nullptr;
}

std::shared_ptr<IGMapPoint> TGLayerStore::ObjectByUserID(const std::string& sUserID) const
{
  for (const auto& layer : Layers())
    if (layer->Enabled())
      if (auto obj = layer->ObjectByUserID(sUserID)) return obj;
  return nullptr;
}

std::shared_ptr<IGMapPoint> TGLayerStore::ObjectByTitle(const std::string& sTitle) const
{
  for (const auto& layer : Layers())
    if (layer->Enabled())
      if (auto obj = layer->ObjectByTitle(sTitle)) return obj;
  return nullptr;
}

// ---------------------------------------------------------------------------------------------
// TGLayer: life cycle

TGLayer::TGLayer(TGGlobe* parentGlobe)
    : TGComponent(parentGlobe), FLayerStore(std::make_unique<TGLayerStore>(*this)),
      FPresenters(std::make_unique<TGPresenterStore>(parentGlobe)),
      FSelection(std::make_unique<TGLayerSelection>(*this)),
      FUserXML(std::make_unique<TGXML_Element>("User"))
{
  Clear();
}

TGLayer::~TGLayer() = default;

void TGLayer::Clear()
{
  FSelectable = FVisible = FEnabled = FShowTitles = true;
  FModified = false;
  FZoomMin = FZoomMax = 0;
  FZoomUnits = guKilometer;
  FSelection->Clear();
  FPresenters->Clear();
  if (FObjectSource) FObjectSource->Clear();
  FLayerStore->Clear();
  Redraw();
}

void TGLayer::Delete()
{
  Clear();
  if (FObjectSource) FObjectSource->Delete();
}

void TGLayer::Post()
{
  if (FObjectSource) FObjectSource->Post();
}

void TGLayer::EndUpdate()
{
  G_ASSERT_MSG(FUpdateCounter > 0, "Mismatched BeginUpdate/EndUpdate");
  if (--FUpdateCounter == 0) Post();
}

// ---------------------------------------------------------------------------------------------
// TGLayer: properties

std::string TGLayer::Name() const
{
  if (FLayerName.empty() && FObjectSource) return FObjectSource->Name();
  return FLayerName;
}

void TGLayer::SetName(const std::string& value)
{
  const std::string name = Trimmed(value);
  if (name == FLayerName) return;
  FLayerName = name;
  FModified = true;
}

int32_t TGLayer::Index() const
{
  return FParentLayer ? FParentLayer->LayerStore().IndexOf(this) : 0;
}

void TGLayer::SetIndex(int32_t value)
{
  if (FParentLayer) FParentLayer->LayerStore().Move(Index(), value);
}

bool TGLayer::Flag(int32_t index) const
{
  switch (index) {
  case lfSelectable:
    return FSelectable;
  case lfVisible:
    return FVisible;
  case lfShowTitles:
    return FShowTitles;
  case lfNoInterrupt:
    return FNoInterrupt;
  case lfEnabled:
    return FEnabled;
  default:
    return false;
  }
}

void TGLayer::SetFlag(int32_t index, bool value)
{
  bool* flag = nullptr;
  switch (index) {
  case lfSelectable:
    flag = &FSelectable;
    break;
  case lfVisible:
    flag = &FVisible;
    break;
  case lfShowTitles:
    flag = &FShowTitles;
    break;
  case lfNoInterrupt:
    flag = &FNoInterrupt;
    break;
  case lfEnabled:
    flag = &FEnabled;
    break;
  default:
    return;
  }
  if (*flag == value) return;
  *flag = value;
  if (!FNoInterrupt) RestartRenderIfPeriodic();
  FModified = true;
  Redraw();
}

void TGLayer::SetZoomMin(uint32_t value)
{
  if (value == FZoomMin) return;
  FZoomMin = value;
  FModified = true;
  Redraw();
}

void TGLayer::SetZoomMax(uint32_t value)
{
  if (value == FZoomMax) return;
  FZoomMax = value;
  FModified = true;
  Redraw();
}

void TGLayer::SetZoomUnits(TGUnitTypes value)
{
  if (value == FZoomUnits) return;
  const auto convert = [this, value](uint32_t limit) {
    const long double v =
        std::nearbyint(GUToUnits(value, UnitsToGU(FZoomUnits, static_cast<double>(limit))));
    return static_cast<uint32_t>(std::clamp<long double>(v, 0, UINT32_MAX));
  };
  FZoomMin = convert(FZoomMin);
  FZoomMax = convert(FZoomMax);
  FZoomUnits = value;
  FModified = true;
}

void TGLayer::SetAlphaBlend(uint8_t value)
{
  if (value == FAlphaBlend) return;
  FAlphaBlend = value;
  Redraw();
}

uint8_t TGLayer::AdjustedAlphaBlend() const
{
  if (!FParentLayer) return FAlphaBlend;
  const uint32_t parent = FParentLayer->AdjustedAlphaBlend();
  if (FAlphaBlend == 255) return static_cast<uint8_t>(parent);
  return static_cast<uint8_t>((parent * FAlphaBlend + 127) / 255);
}

TGObjectSource& TGLayer::ObjectSource()
{
  if (!FObjectSource) SetObjectSource(std::make_unique<TGMemoryObjectSource>(ParentGlobe()));
  return *FObjectSource;
}

void TGLayer::SetObjectSource(std::unique_ptr<TGObjectSource> source)
{
  if (source.get() == FObjectSource.get()) return;
  // The selection holds keys of the old source's objects.
  FSelection->Clear();
  FObjectSource = std::move(source);
  if (FObjectSource) FObjectSource->SetLayer(this);
}

int32_t TGLayer::TitleColumnToIndex(const std::string& columnName) const
{
  if (!FObjectSource) return -1;
  const TextLines names = FromCommaText(FObjectSource->ColumnNames());
  for (size_t i = 0; i < names.size(); ++i)
    if (SameText(names[i], columnName)) return static_cast<int32_t>(i);
  return -1;
}

std::string TGLayer::TitleColumnName() const
{
  if (!FObjectSource) return {};
  return CSLGetItem(FObjectSource->ColumnNames(), FTitleColumn);
}

void TGLayer::SetTitleColumnName(const std::string& value)
{
  const int32_t index = TitleColumnToIndex(value);
  if (index >= 0) FTitleColumn = index;
}

void TGLayer::SetSurfaceImageName(const std::string& value)
{
  if (value == FSurfaceImageName) return;
  FSurfaceBitmap = LoadLayerImage(this, value); // first, so that a bad file changes nothing
  FSurfaceImageName = value;
  FModified = true;
  Redraw();
}

// ---------------------------------------------------------------------------------------------
// TGLayer: XML form

namespace {

// A zoom limit: a whole number of zoom units, 0 (no limit) when missing or malformed.
uint32_t ZoomLimitAttribute(const TGXML_Element& el, std::string_view tag)
{
  const std::optional<int64_t> v = TryStrToInt64(XMLTrim(el.Attribute(tag)));
  return v && *v >= 0 && *v <= int64_t{UINT32_MAX} ? static_cast<uint32_t>(*v) : 0;
}

uint8_t ByteAttribute(const TGXML_Element& el, std::string_view tag)
{
  return static_cast<uint8_t>(std::clamp(el.IntAttribute(tag, 255), 0, 255));
}

} // namespace

void TGLayer::SaveToXML(TGXML_Element& el)
{
  TGComponent::SaveToXML(el);
  el.AddAttribute("Name", Name());
  el.AddIntAttribute("Alpha", FAlphaBlend, 255);
  el.AddBoolAttribute("Enabled", FEnabled, true);
  el.AddBoolAttribute("NoInterrupt", FNoInterrupt, false);
  el.AddBoolAttribute("RenderAll", FRenderAllObjects, false);
  el.AddBoolAttribute("Selectable", FSelectable, true);
  el.AddBoolAttribute("ShowTitles", FShowTitles, true);
  el.AddIntAttribute("TitleColumn", FTitleColumn, 0);
  el.AddBoolAttribute("Visible", FVisible, true);
  el.AddUnitAttribute("ZoomUnits", FZoomUnits, guKilometer);
  el.AddIntAttribute("ZoomMin", FZoomMin, 0);
  el.AddIntAttribute("ZoomMax", FZoomMax, 0);
  el.AddIntAttribute("Index", Index(), -1);
  el.AddAttribute("Image", FSurfaceImageName);
  el.AddIntAttribute("ImageAlpha", FSurfaceAlpha, 255);
  el.AddIntAttribute("ImageColor", FSurfaceTransparentColor, clNone);
  if (FPresenters->Count() > 0) FPresenters->SaveToXML(el.AddElement("Presenters"));
  ObjectSource().SaveToXML(el.AddElement("ObjectSource"));
  if (FLayerStore->Count() > 0) FLayerStore->SaveToXML(el.AddElement("Layers"));
  el.AddElement("User").Assign(*FUserXML);
  FModified = false;
}

void TGLayer::LoadFromXML(const TGXML_Element& el)
{
  const TGUnitTypes zoomUnits = el.UnitAttribute("ZoomUnits", guKilometer);
  SetName(el.Attribute("Name"));
  SetAlphaBlend(ByteAttribute(el, "Alpha"));
  SetEnabled(el.BoolAttribute("Enabled", true));
  SetNoInterrupt(el.BoolAttribute("NoInterrupt", false));
  SetRenderAllObjects(el.BoolAttribute("RenderAll", false));
  SetSelectable(el.BoolAttribute("Selectable", true));
  SetShowTitles(el.BoolAttribute("ShowTitles", true));
  SetTitleColumn(el.IntAttribute("TitleColumn", 0));
  SetVisible(el.BoolAttribute("Visible", true));
  SetZoomUnits(zoomUnits);
  SetZoomMin(ZoomLimitAttribute(el, "ZoomMin"));
  SetZoomMax(ZoomLimitAttribute(el, "ZoomMax"));
  SetSurfaceImageName(el.Attribute("Image"));
  SetSurfaceAlpha(ByteAttribute(el, "ImageAlpha"));
  SetSurfaceTransparentColor(el.IntAttribute("ImageColor", clNone));

  if (const TGXML_Element* layers = el.Element("Layers")) FLayerStore->LoadFromXML(*layers);
  if (const TGXML_Element* source = el.Element("ObjectSource")) {
    std::string cls = XMLClassName(source);
    if (cls.empty() && FObjectSource) cls = FObjectSource->ClassName();
    if (FObjectSource && SameText(cls, FObjectSource->ClassName()))
      FObjectSource->LoadFromXML(*source);
    else
      SetObjectSource(
          CreateFromXMLAs<TGObjectSource>(ParentGlobe(), source, "TGMemoryObjectSource"));
  }
  if (const TGXML_Element* presenters = el.Element("Presenters"))
    FPresenters->LoadFromXML(*presenters);
  if (const TGXML_Element* user = el.Element("User")) FUserXML->Assign(*user);
  SetIndex(el.IntAttribute("Index", Index()));
  FModified = false;
}

// ---------------------------------------------------------------------------------------------
// TGLayer: queries

int32_t TGLayer::LayerDepth() const
{
  int32_t depth = 0;
  for (const TGLayer* l = FParentLayer; l; l = l->ParentLayer())
    ++depth;
  return depth;
}

bool TGLayer::IsShowing() const
{
  if (!FVisible) return false;
  IGLayerHost* host = Host();
  if (!host) return true;
  const uint32_t altitude = host->Projector().Altitude();
  const auto limit = [this](uint32_t value) {
    return static_cast<uint32_t>(std::max(0, UnitsToGU(FZoomUnits, static_cast<double>(value))));
  };
  if (FZoomMin != 0 && altitude < limit(FZoomMin)) return false;
  if (FZoomMax != 0 && limit(FZoomMax) < altitude) return false;
  return true;
}

bool TGLayer::IsValid() const
{
  return FObjectSource && FObjectSource->IsValid();
}

TGPresenter* TGLayer::FindPresenter(int32_t iPresenterID) const
{
  if (iPresenterID == 0) return nullptr;
  for (const TGLayer* l = this; l; l = l->ParentLayer())
    if (TGPresenter* p = l->Presenters().ByID(iPresenterID)) return p;
  return FObjectSource ? FObjectSource->Presenters().ByID(iPresenterID) : nullptr;
}

TGMER TGLayer::LayerMER() const
{
  TGMER result = FObjectSource ? FObjectSource->DataMER() : TGMER{};
  for (const auto& sub : FLayerStore->Layers())
    result = MERUnion(result, sub->LayerMER());
  return result;
}

int32_t TGLayer::LayerTolerance() const
{
  int32_t q = PixelTolerance();
  const TGPresenterStore* store = FPresenters.get();
  if (store->Count() == 0 && FObjectSource) store = &FObjectSource->Presenters();
  for (int32_t i = 0; i < store->Count(); ++i)
    store->GetPresenter(i).AdjustTolerance(q);
  return q;
}

std::shared_ptr<IGMapPoint> TGLayer::ObjectAtXY(int32_t iX, int32_t iY)
{
  if (!FEnabled || !IsShowing()) return nullptr;
  IGLayerHost* host = Host();
  TGPointLL ptLL;
  if (!host || !host->Projector().DeviceXYToLL(iX, iY, ptLL)) return nullptr;
  return ObjectAtLL(ptLL);
}

std::shared_ptr<IGMapPoint> TGLayer::ObjectAtLL(const TGPointLL& ptLL)
{
  // Showing, not only visible: a layer outside its zoom limits is not drawn, so nothing in it
  // can be pointed at.
  if (!FEnabled || !IsShowing()) return nullptr;
  if (!FParentLayer && FHost)
    if (auto obj = FHost->TitleAtLL(ptLL)) return obj;
  if (auto obj = FLayerStore->ObjectAtLL(ptLL)) return obj;
  if (!FObjectSource) return nullptr;
  const int32_t q = LayerTolerance();
  if (!LLInMER(InflatedMER(LayerMER(), q), ptLL)) return nullptr;

  const int64_t q4 = 4 * static_cast<int64_t>(q);
  const TGMER near{LongWrap64(ptLL.iLongX - q4), ClampToInt32(ptLL.iLatY - q4),
                   ClampToInt32(2 * q4 + 1), ClampToInt32(2 * q4 + 1)};
  const int32_t t = PixelTolerance();
  PresenterLookup lookup(*this);
  auto it = FObjectSource->NewIterator(near);
  for (auto obj = it->First(); obj; obj = it->Next())
    if (!obj->Hidden() && lookup.Hit(*obj, ptLL, t)) return obj;
  return nullptr;
}

std::shared_ptr<IGMapPoint> TGLayer::FindFirst(const std::function<bool(IGMapPoint&)>& match)
{
  if (!FObjectSource) return nullptr;
  auto it = FObjectSource->NewIterator();
  for (auto obj = it->First(); obj; obj = it->Next())
    if (match(*obj)) return obj;
  return nullptr;
}

std::shared_ptr<IGMapPoint> TGLayer::ObjectByUserID(const std::string& sUserID)
{
  return FindFirst([&sUserID](IGMapPoint& obj) { return obj.UserID() == sUserID; });
}

std::shared_ptr<IGMapPoint> TGLayer::ObjectByTitle(const std::string& sTitle)
{
  return FindFirst(
      [this, &sTitle](IGMapPoint& obj) { return obj.GetAttribute(FTitleColumn) == sTitle; });
}

int32_t TGLayer::SelectObjects(const TGMER& aMER, bool includeSubLayers, bool firstOnly, bool state)
{
  int32_t total = 0;
  if (!FParentLayer && FHost) {
    total = FHost->SelectTitles(aMER, firstOnly, state);
    if (firstOnly && total != 0) return total;
  }
  if (!IsShowing() || !FSelectable) return total;
  if (includeSubLayers) {
    const auto& layers = FLayerStore->Layers();
    for (auto it = layers.rbegin(); it != layers.rend(); ++it) {
      total += (*it)->SelectObjects(aMER, true, firstOnly, state);
      if (firstOnly && total != 0) return total;
    }
  }
  if (!FObjectSource) return total;
  const int32_t q = LayerTolerance();
  FObjectSource->SetCullObjectSize(0);
  const int32_t q4 = ClampToInt32(4 * static_cast<int64_t>(q));
  PresenterLookup lookup(*this);
  auto it = FObjectSource->NewIterator(InflatedMER(aMER, q4));
  for (auto obj = it->First(); obj; obj = it->Next()) {
    if (obj->Hidden()) continue;
    const TGMER objMER = obj->ObjectMER();
    const bool hit =
        MERContainsMER(aMER, objMER) || ProbeHit(lookup, *obj, InflatedMER(objMER, q), aMER, q, 0);
    if (!hit) continue;
    obj->SetSelected(state);
    ++total;
    if (firstOnly) break;
  }
  return total;
}

// ---------------------------------------------------------------------------------------------
// Rendering

void TGLayerStore::Render(const TGMER& viewMER)
{
  IGLayerHost* host = FParentLayer->Host();
  IGLayerRenderHost* render = host ? host->LayerRenderHost() : nullptr;
  if (!render) return;
  // By index, not by iterator: a handler may change the tree meanwhile.
  for (int32_t i = 0; i < Count(); ++i) {
    TGLayer& layer = *FLayers[i];
    render->LabelRenderer().BeginLayer(layer);
    layer.Render(true, viewMER);
    while (layer.ReRenderLayer() && !render->RenderHost().RenderMustStop())
      layer.Render(false, viewMER);
    if (render->RenderHost().RenderMustStop()) return;
  }
}

bool TGLayer::MustStop(IGLayerRenderHost& host) const
{
  return !FNoInterrupt && host.RenderHost().RenderMustStop();
}

void TGLayer::Render(bool firstPass, const TGMER& viewMER)
{
  FRenderObjectCount = 0;
  FReRenderLayer = false;
  IGLayerHost* host = Host();
  IGLayerRenderHost* render = host ? host->LayerRenderHost() : nullptr;
  if (!render || FUpdateCounter > 0 || MustStop(*render) || !IsShowing()) return;
  TGProjector& projector = render->RenderHost().Projector();
  TGCustomProjectionModel* model = projector.ProjectionModel();
  if (!model) return;

  if (FSurfaceBitmap && !FSurfaceBitmap->Empty()) {
    FSurfaceBitmap->SetAlphaBlend(FSurfaceAlpha);
    FSurfaceBitmap->SetTransparentColor(FSurfaceTransparentColor);
    model->PaintSurfaceImage(*FSurfaceBitmap);
  }

  const long double sf = projector.ScaleFactor();
  const auto threshold = [sf](long double pixels) {
    return sf > 0 ? RoundToInt32(pixels / sf) : 0;
  };
  FCullObjectSize = FRenderAllObjects ? 0 : threshold(render->CullObjectPixels());
  FMinObjectSize = FRenderAllObjects ? 0 : threshold(render->MinObjectPixels());
  if (FObjectSource) FObjectSource->SetCullObjectSize(FCullObjectSize);

  if (firstPass) {
    FRenderPass = 0;
    render->DoBeforeLayerRender(*this);
  } else {
    ++FRenderPass;
  }

  FPresenterCache.clear();
  FCurrentPresenter = nullptr;
  FRenderHost = render;
  FRenderTitles = FShowTitles && FRenderPass == 0;
  FStopRender = false;
  if (FObjectSource)
    FObjectSource->ForEach(viewMER, [this](TGPrimaryKey objPK) { return RenderObjectKey(objPK); });
  FRenderHost = nullptr;

  if (MustStop(*render)) return;
  for (TGPresenter* presenter : FPresenterCache)
    presenter->EndLayerRender(FRenderPass);

  if (!FReRenderLayer) {
    FLayerStore->Render(viewMER);
    if (!MustStop(*render) && !FReRenderLayer) render->DoAfterLayerRender(*this);
  }
}

TGPresenter* TGLayer::RenderPresenter(int32_t iPresenterID)
{
  if (FCurrentPresenter && FCurrentPresenter->PresenterID() == iPresenterID)
    return FCurrentPresenter;
  for (TGPresenter* p : FPresenterCache)
    if (p->PresenterID() == iPresenterID) return FCurrentPresenter = p;
  TGPresenter* p = FindPresenter(iPresenterID);
  if (!p) return nullptr;
  p->BeginLayerRender(*this);
  FPresenterCache.push_back(p);
  return FCurrentPresenter = p;
}

// One object of the render walk; false stops the walk.
bool TGLayer::RenderObjectKey(TGPrimaryKey objPK)
{
  IGLayerRenderHost& render = *FRenderHost;
  IGRenderHost& surface = render.RenderHost();
  ++FRenderObjectCount;
  if (FRenderObjectCount % kObjectsPerUpdate == 0 && !FNoInterrupt &&
      render.PeriodicUpdateTime() > 0) {
    surface.PeriodicUpdate();
    if (MustStop(render)) return false;
  }

  const std::shared_ptr<IGMapPoint> obj = FObjectSource->ByPrimaryKey(objPK);
  if (!obj || obj->Hidden()) return true;
  const TGMER mer = obj->ObjectMER();
  TGRenderStateSet state = 0;
  TGProjector& projector = surface.Projector();
  TGPoint pt;
  bool keep = false;
  if (mer.iWidthX == 1 && mer.iHeightY == 1) {
    keep = projector.LLToDeviceXY(mer.iLongX, mer.iLatY, pt);
  } else if (mer.iWidthX > FMinObjectSize || mer.iHeightY > FMinObjectSize) {
    keep = projector.ProjectionModel()->VisibleMER(mer, state);
  } else {
    // Sources that do not cull themselves are culled here, so that every source shows the
    // same picture.
    if (mer.iWidthX < FCullObjectSize && mer.iHeightY < FCullObjectSize) return true;
    if (projector.LLToDeviceXY(mer.iLongX, mer.iLatY, pt))
      surface.Renderer().DrawPixel(pt.X, pt.Y, render.MinObjectColor(), 255);
    return true;
  }
  if (!keep) return true;

  if (obj->Selected()) state |= rsSelected;
  int32_t id = obj->PresenterID();
  for (int step = 0; step < kMaxPresenterChain; ++step) {
    TGPresenter* presenter = id != 0 ? RenderPresenter(id) : nullptr;
    if (!presenter) {
      obj->Render(render.ObjectRenderer(), state);
      break;
    }
    if (presenter->Hidden()) break;
    presenter->RenderObject(*obj, state);
    if (FRenderTitles) presenter->RenderTitle(*obj, state);
    id = presenter->NextPresenterID();
    if (id == 0) break;
  }
  if (render.HasObjectRenderHandler()) render.DoObjectRender(*this, *obj, state);
  return true;
}

bool TGLayer::ClearSelected()
{
  bool any = FSelection->Clear();
  for (const auto& sub : FLayerStore->Layers())
    any = sub->ClearSelected() || any;
  return any;
}

} // namespace vtr
