#include "globe/GPresenter.h"

#include "globe/GLayer.h"
#include "globe/GProjector.h"

#include <algorithm>

namespace vtr {

// ---------------------------------------------------------------------------------------------
// TGPresenter

TGPresenter::TGPresenter(TGGlobe* parentGlobe) : TGComponent(parentGlobe)
{
  FName = ClassName();
}

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
         FTitleZoomMax == other.FTitleZoomMax && FTitleZoomUnits == other.FTitleZoomUnits;
}

void TGPresenter::BeginLayerRender(TGLayer& layer)
{
  IGLayerHost* host = layer.Host();
  FAltitude = host ? host->Projector().Altitude() : 0;
  FTitleVisible = tsUnknown;
  FAdjustedAlphaBlend =
      static_cast<uint8_t>((layer.AdjustedAlphaBlend() * FAlphaBlend + 127) / 255);
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

void TGPresenterStore::Assign(const TGComponent& source)
{
  const auto* other = dynamic_cast<const TGPresenterStore*>(&source);
  if (!other || other == this) return;
  Clear();
  AddPresenters(*other);
}

} // namespace vtr
