#pragma once
// Presenters: the objects that draw map objects and answer their hit tests. The base class
// (TGPresenter) and the numbered store that layers and object sources keep them in
// (TGPresenterStore). The point and poly presenters derive from TGPresenter.

#include "globe/GClasses.h"
#include "globe/GMapObject.h"
#include "globe/GRenderer.h" // TGTitleAlignment
#include "globe/GSysUtils.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vtr {

class TGLayer;

class TGPresenter : public TGComponent
{
public:
  explicit TGPresenter(TGGlobe* parentGlobe = nullptr);
  std::string ClassName() const override { return "TGPresenter"; }

  uint8_t AlphaBlend() const { return FAlphaBlend; }
  void SetAlphaBlend(uint8_t value) { FAlphaBlend = value; }
  bool Hidden() const { return FHidden; }
  void SetHidden(bool value) { FHidden = value; }
  const std::string& Name() const { return FName; }
  void SetName(const std::string& value) { FName = value; }
  // Another presenter that draws the same object after this one; 0 = none.
  int32_t NextPresenterID() const { return FNextPresenterID; }
  void SetNextPresenterID(int32_t value) { FNextPresenterID = value; }
  int32_t PresenterID() const { return FPresenterID; }
  void SetPresenterID(int32_t value) { FPresenterID = value; }
  int32_t TitleColumn() const { return FTitleColumn; }
  void SetTitleColumn(int32_t value) { FTitleColumn = value; }
  TGTitleAlignment TitleAlignment() const { return FTitleAlignment; }
  void SetTitleAlignment(TGTitleAlignment value) { FTitleAlignment = value; }
  int32_t TitleOffset() const { return FTitleOffset; }
  void SetTitleOffset(int32_t value) { FTitleOffset = value; }
  TGUnitTypes TitleOffsetUnits() const { return FTitleOffsetUnits; }
  void SetTitleOffsetUnits(TGUnitTypes value) { FTitleOffsetUnits = value; }
  // Title zoom limits in TitleZoomUnits; equal limits mean none.
  int32_t TitleZoomMin() const { return FTitleZoomMin; }
  void SetTitleZoomMin(int32_t value) { FTitleZoomMin = value; }
  int32_t TitleZoomMax() const { return FTitleZoomMax; }
  void SetTitleZoomMax(int32_t value) { FTitleZoomMax = value; }
  TGUnitTypes TitleZoomUnits() const { return FTitleZoomUnits; }
  void SetTitleZoomUnits(TGUnitTypes value) { FTitleZoomUnits = value; }

  // Copies every setting of another presenter, number and name included.
  void Assign(const TGComponent& source) override;
  // A new presenter of the same class with this one assigned.
  virtual std::unique_ptr<TGPresenter> Clone() const;
  // Same drawing settings: alpha, title column, alignment, offset and its units, title zoom
  // limits and their units (the number, the name and the hidden flag aside).
  virtual bool Equals(const TGPresenter& other) const;

  // Per-render state, rebuilt at the first object of each layer render: the projector's
  // altitude (0 without a globe), the title visibility to be worked out again, and the alpha
  // scaled by the layer's.
  virtual void BeginLayerRender(TGLayer& layer);
  uint32_t Altitude() const { return FAltitude; }
  uint8_t AdjustedAlphaBlend() const { return FAdjustedAlphaBlend; }
  // Worked out once per layer render: false when hidden or without an alignment; otherwise
  // true when the title zoom limits are equal (none) or the altitude lies strictly between
  // them.
  virtual bool IsTitleVisible();

  // A layer's hit tolerance (GU) may grow here; the base leaves it.
  virtual void AdjustTolerance(int32_t& iTolerance) { (void)iTolerance; }
  // Default hit test: the object's rectangle widened by iTolerance on its western and southern
  // sides only (start moved back, extent grown by the tolerance once), then LLInMER.
  virtual bool LLInObject(const TGPointLL& ptLL, IGMapPoint& mapObj, int32_t iTolerance);

protected:
  // A new, default presenter of the same class (Clone assigns into it).
  virtual std::unique_ptr<TGPresenter> NewInstance() const;

  uint8_t FAlphaBlend = 255;
  bool FHidden = false;
  std::string FName;
  int32_t FNextPresenterID = 0;
  int32_t FPresenterID = 0;
  int32_t FTitleColumn = 0;
  TGTitleAlignment FTitleAlignment = taNone;
  int32_t FTitleOffset = 0;
  TGUnitTypes FTitleOffsetUnits = guPixel;
  int32_t FTitleZoomMin = 0;
  int32_t FTitleZoomMax = 0;
  TGUnitTypes FTitleZoomUnits = guKilometer;
  // Per render.
  TGTriState FTitleVisible = tsUnknown;
  uint32_t FAltitude = 0;
  uint8_t FAdjustedAlphaBlend = 255;
};

// Presenters numbered uniquely within the store. Owns them.
class TGPresenterStore : public TGComponent
{
public:
  explicit TGPresenterStore(TGGlobe* parentGlobe = nullptr) : TGComponent(parentGlobe) {}
  std::string ClassName() const override { return "TGPresenterStore"; }

  // Null gives 0. A presenter with a number replaces (frees) the store's presenter with that
  // number; one with number 0 gets one more than the highest positive number present. The
  // presenter is appended; Modified is set. Returns the presenter's number.
  int32_t Add(std::unique_ptr<TGPresenter> aPresenter);
  // Adds clones of all presenters of another store.
  void AddPresenters(const TGPresenterStore& store);

  // First presenter with that number / exactly that name (letter case counts); null if none.
  TGPresenter* ByID(int32_t iPresenterID) const;
  TGPresenter* ByName(const std::string& presenterName) const;
  // Number of the first presenter that Equals aPresenter, or 0.
  int32_t FindMatch(const TGPresenter& aPresenter) const;

  bool Contains(const TGPresenter* aPresenter) const { return IndexOf(aPresenter) >= 0; }
  int32_t IndexOf(const TGPresenter* aPresenter) const;
  int32_t Count() const { return static_cast<int32_t>(FPresenters.size()); }
  // Index in [0, Count); others raise EGException "TGPresenterStore: Bad presenter index %d".
  TGPresenter& GetPresenter(int32_t iIndex) const;
  // Frees the presenter at iIndex (ignored out of range).
  void Delete(int32_t iIndex);
  void Clear();

  bool Modified() const { return FModified; }
  void SetModified(bool value) { FModified = value; }

  // Replaces the presenters with clones of the other store's.
  void Assign(const TGComponent& source) override;

private:
  std::vector<std::unique_ptr<TGPresenter>> FPresenters;
  bool FModified = false;
};

} // namespace vtr
