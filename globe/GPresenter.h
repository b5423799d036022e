#pragma once
// Presenters: the objects that draw map objects and answer their hit tests. The base class
// (TGPresenter), the point presenter (symbols, font characters and images at an object's
// position or at every vertex of a poly object), the poly presenters (lines and polygons), and
// the numbered store that layers and object sources keep them in (TGPresenterStore).
//
// A presenter draws only between its layer's BeginLayerRender and EndLayerRender: it takes the
// renderer, projector and label renderer of its layer's globe at the first object it draws and
// lends its pens, brushes and fonts to the renderer, which copies them; it keeps no device
// objects of its own across renders.

#include "globe/GClasses.h"
#include "globe/GMapObject.h"
#include "globe/GRenderer.h" // TGTitleAlignment
#include "globe/GSysUtils.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vtr {

class TGBitmap;
class TGLayer;
class TGPresenter;
class IGLayerRenderHost;
class TGXML_Element;

// Optional hooks a presenter calls around its work (for an application that wants to draw
// beside it or count what it drew). Every hook does nothing by default.
class IGPresenterEvents
{
public:
  virtual ~IGPresenterEvents() = default;
  virtual void BeginLayerRender(TGPresenter& presenter, TGLayer& layer)
  {
    (void)presenter;
    (void)layer;
  }
  virtual void EndLayerRender(TGPresenter& presenter, int32_t renderPass)
  {
    (void)presenter;
    (void)renderPass;
  }
  virtual void BeforeRenderObject(TGPresenter& presenter, IGMapPoint& mapObj,
                                  TGRenderStateSet State)
  {
    (void)presenter;
    (void)mapObj;
    (void)State;
  }
  virtual void AfterRenderObject(TGPresenter& presenter, IGMapPoint& mapObj, TGRenderStateSet State)
  {
    (void)presenter;
    (void)mapObj;
    (void)State;
  }
};

class TGPresenter : public TGComponent
{
public:
  explicit TGPresenter(TGGlobe* parentGlobe = nullptr);
  ~TGPresenter() override;
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
  // The font titles are drawn with (owned).
  TGFont& TitleFont() { return *FTitleFont; }
  const TGFont& TitleFont() const { return *FTitleFont; }
  // Hooks called around the presenter's work; none by default.
  const std::shared_ptr<IGPresenterEvents>& PresenterEvents() const { return FPresenterEvents; }
  void SetPresenterEvents(std::shared_ptr<IGPresenterEvents> value)
  {
    FPresenterEvents = std::move(value);
  }

  // Copies every setting of another presenter, number and name included.
  void Assign(const TGComponent& source) override;
  // A new presenter of the same class with this one assigned.
  virtual std::unique_ptr<TGPresenter> Clone() const;
  // Same drawing settings: alpha, title column, alignment, title font, offset and its units,
  // title zoom limits and their units (the number, the name and the hidden flag aside).
  virtual bool Equals(const TGPresenter& other) const;

  // Per-render state, rebuilt at the first object of each layer render: the layer's globe
  // (what it draws with), the projector's altitude (0 without a globe), the title visibility to
  // be worked out again, and the alpha scaled by the layer's. Then PresenterEvents hears of it.
  virtual void BeginLayerRender(TGLayer& layer);
  // After the layer's objects were drawn (renderPass: the layer's pass, 0 first).
  virtual void EndLayerRender(int32_t renderPass);
  uint32_t Altitude() const { return FAltitude; }
  uint8_t AdjustedAlphaBlend() const { return FAdjustedAlphaBlend; }
  // The renderer of the layer's globe during a layer render (taken on first use); null
  // outside one or without a globe.
  TGRenderer* Renderer();
  // The globe the layer being drawn hangs from; null outside a layer render.
  IGLayerRenderHost* RenderHost() const { return FRenderHost; }

  // Draws the object (State: rsSelected, rsFace, rsBackFace as the layer found them). The base
  // draws nothing; it tells PresenterEvents before and after.
  virtual void RenderObject(IGMapPoint& mapObj, TGRenderStateSet State);
  // When IsTitleVisible: the object's value in TitleColumn goes to the globe's label renderer
  // with the title offset, its units, the alignment and the title font.
  virtual void RenderTitle(IGMapPoint& mapObj, TGRenderStateSet State);
  // A sample of the presenter's drawing for a legend; the base draws nothing.
  virtual void RenderLegend(QPainter& canvas, const TGRect& rect)
  {
    (void)canvas;
    (void)rect;
  }
  // Worked out once per layer render: false when hidden or without an alignment; otherwise
  // true when the title zoom limits are equal (none) or the altitude lies strictly between
  // them.
  virtual bool IsTitleVisible();

  // A layer's hit tolerance (GU) may grow here; the base leaves it.
  virtual void AdjustTolerance(int32_t& iTolerance) { (void)iTolerance; }
  // Default hit test: the object's rectangle widened by iTolerance on its western and southern
  // sides only (start moved back, extent grown by the tolerance once), then LLInMER.
  virtual bool LLInObject(const TGPointLL& ptLL, IGMapPoint& mapObj, int32_t iTolerance);

  // XML form (element "Presenter"): "Class", "Name", "PresenterID" (0), "NextID" (0),
  // "Alignment" (ordinal; 1), "Offset" (0), "OffsetUnit" ("PI"), "Column" (0), "Hidden" (F),
  // "Alpha" (255), "ZoomMax", "ZoomMin" (0), "ZoomUnit" ("KM"; written only with a limit), and
  // the child "TitleFont". Each is left out at its default; loading sets missing ones to it.
  void SaveToXML(TGXML_Element& el) override;
  void LoadFromXML(const TGXML_Element& el) override;

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
  std::unique_ptr<TGFont> FTitleFont;
  std::shared_ptr<IGPresenterEvents> FPresenterEvents;
  // Per render.
  TGTriState FTitleVisible = tsUnknown;
  uint32_t FAltitude = 0;
  uint8_t FAdjustedAlphaBlend = 255;
  TGRenderer* FRenderer = nullptr;
  IGLayerRenderHost* FRenderHost = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Point presenter

enum TGPointPresenterType {
  ppNone,
  ppFontSymbol,
  ppImage,
  ppDot,
  ppCircle,
  ppSquare,
  ppDiamond,
  ppTriangleUp,
  ppTriangleDown,
  ppTriangleLeft,
  ppTriangleRight
};
inline constexpr int kPointPresenterTypeCount = 11;

// Draws a symbol of PointSize (in PointUnit, capped at MaxPointSize pixels at screen density
// when that is not 0) centred on an object's position, or on every visible vertex of a poly
// object. Hit tests take the symbol's square.
class TGPointPresenter : public TGPresenter
{
public:
  explicit TGPointPresenter(TGGlobe* parentGlobe = nullptr);
  ~TGPointPresenter() override;
  std::string ClassName() const override { return "TGPointPresenter"; }

  TGPen& PointPen() { return FPointPen; }
  TGBrush& PointBrush() { return FPointBrush; }
  // Font of ppFontSymbol; its face is "WingDings" to begin with.
  TGFont& PointFont() { return FPointFont; }
  const TGPen& PointPen() const { return FPointPen; }
  const TGBrush& PointBrush() const { return FPointBrush; }
  const TGFont& PointFont() const { return FPointFont; }
  // Character code drawn by ppFontSymbol.
  int16_t SymbolIndex() const { return FSymbolIndex; }
  void SetSymbolIndex(int16_t value) { FSymbolIndex = value; }
  // The code of the object being drawn, taken from OverrideColumn; -1 outside a draw.
  int32_t SymbolOverride() const { return FSymbolOverride; }
  TGPointPresenterType PointType() const { return FPointType; }
  void SetPointType(TGPointPresenterType value) { FPointType = value; }
  TGUnitTypes PointUnit() const { return FPointUnit; }
  void SetPointUnit(TGUnitTypes value) { FPointUnit = value; }
  int32_t PointSize() const { return FPointSize; }
  void SetPointSize(int32_t value) { FPointSize = value; }
  // Pixels at screen density; 0 = no cap.
  int32_t MaxPointSize() const { return FMaxPointSize; }
  void SetMaxPointSize(int32_t value) { FMaxPointSize = value; }
  // The ppImage picture. Setting a name loads it (from the file of that name when it exists,
  // else through the globe at the next layer render); the picture may also be set directly.
  const std::shared_ptr<TGBitmap>& Image() const { return FImage; }
  void SetImage(std::shared_ptr<TGBitmap> value);
  const std::string& ImageName() const { return FImageName; }
  void SetImageName(const std::string& value);
  // Data column whose integer value replaces SymbolIndex; -1 = none.
  int32_t OverrideColumn() const { return FOverrideColumn; }
  void SetOverrideColumn(int32_t value) { FOverrideColumn = value; }
  // Half the symbol in GU at the scale of the last layer render.
  int32_t ToleranceAdjust() const { return FToleranceAdjust; }

  void Assign(const TGComponent& source) override;
  // The base's settings and every point setting (pen, brush, font, type, unit, sizes, symbol,
  // image name, override column).
  bool Equals(const TGPresenter& other) const override;

  // The base's, then ToleranceAdjust := GlobeUnitsFrom (PointSize + 1, PointUnit) div 2,
  // capped at round (MaxPointSize / ScaleFactor) with MaxPointSize.
  void BeginLayerRender(TGLayer& layer) override;
  // iTolerance := max (iTolerance, ToleranceAdjust).
  void AdjustTolerance(int32_t& iTolerance) override;
  // ptLL lies in the symbol's square about the centroid (edges inclusive); iTolerance is not
  // used.
  bool LLInObject(const TGPointLL& ptLL, IGMapPoint& mapObj, int32_t iTolerance) override;
  void RenderObject(IGMapPoint& mapObj, TGRenderStateSet State) override;
  // The symbol centred on device point (x, y), size pixels across: c = size div 2, nothing
  // when c <= 0.
  virtual void RenderPoint(int32_t x, int32_t y, TGRenderStateSet State, int32_t size);

  // What RenderObject hands the renderer before the symbol is drawn: the point font (font
  // symbols), nothing (images carry their own transparency), or the point or selection pen
  // and brush (every other shape).
  enum class TGSymbolTools { Font, None, PenAndBrush };

  // Adds "Type" (ordinal; 4), "Unit" ("PI"), "Size" (6), "MaxSize" (0), "SymbolIndex" (0),
  // "ImageName", "OverrideCol" (-1) and the children "Pen", "Brush", "Font".
  void SaveToXML(TGXML_Element& el) override;
  void LoadFromXML(const TGXML_Element& el) override;

protected:
  std::unique_ptr<TGPresenter> NewInstance() const override;
  // The symbol's half size in GU at scaleFactor.
  int32_t HalfSymbolGU(long double scaleFactor) const;
  // The tools of the shape being drawn; a subclass with shapes of its own answers for them.
  virtual TGSymbolTools SymbolTools() const;
  // One of the engine's shapes centred on device point (x, y), c pixels from the centre to
  // each side (nothing when c <= 0), with the tools already on the renderer. Images are drawn
  // with the transparency they carry.
  void DrawShape(TGPointPresenterType shape, int32_t x, int32_t y, int32_t c);

  TGPen FPointPen;
  TGBrush FPointBrush;
  TGFont FPointFont;
  int16_t FSymbolIndex = 0;
  int32_t FSymbolOverride = -1;
  TGPointPresenterType FPointType = ppCircle;
  TGUnitTypes FPointUnit = guPixel;
  int32_t FPointSize = 6;
  int32_t FMaxPointSize = 0;
  std::shared_ptr<TGBitmap> FImage;
  std::string FImageName;
  bool FImageLookedUp = false; // the globe was asked for ImageName already
  int32_t FOverrideColumn = -1;
  int32_t FToleranceAdjust = 0;
  std::string FSymbolText; // reused for the character of ppFontSymbol
};

// ---------------------------------------------------------------------------------------------
// Poly presenters

// prmNormal follows the object's own closed flag.
enum TGPolyRenderMode { prmNormal, prmClosed, prmOpen };

// Draws a poly object's chains with the globe's RenderChainStore: filled with PolyBrush and
// outlined with PolyPen when closed, as lines with PolyPen when open.
class TGPolyPresenter : public TGPresenter
{
public:
  explicit TGPolyPresenter(TGGlobe* parentGlobe = nullptr);
  std::string ClassName() const override { return "TGPolyPresenter"; }

  TGPen& PolyPen() { return FPolyPen; }
  TGBrush& PolyBrush() { return FPolyBrush; }
  const TGPen& PolyPen() const { return FPolyPen; }
  const TGBrush& PolyBrush() const { return FPolyBrush; }
  TGPolyRenderMode PolyRenderMode() const { return FPolyRenderMode; }
  void SetPolyRenderMode(TGPolyRenderMode value) { FPolyRenderMode = value; }
  // prmClosed, prmOpen, or with prmNormal the object's closed flag (closed without an object
  // or for an object that is not a poly).
  bool IsClosed(IGMapPoint* mapObj) const;

  void Assign(const TGComponent& source) override;
  bool Equals(const TGPresenter& other) const override;

  // Only poly objects are drawn.
  void RenderObject(IGMapPoint& mapObj, TGRenderStateSet State) override;
  // Closed: the point lies in a polygon (within iTolerance of it); open: within iTolerance of
  // an edge. Objects that are not polys use the base's test.
  bool LLInObject(const TGPointLL& ptLL, IGMapPoint& mapObj, int32_t iTolerance) override;

  // Adds "RenderMode" (ordinal; 0) and the children "Pen", "Brush".
  void SaveToXML(TGXML_Element& el) override;
  void LoadFromXML(const TGXML_Element& el) override;

protected:
  std::unique_ptr<TGPresenter> NewInstance() const override;

  TGPen FPolyPen;
  TGBrush FPolyBrush;
  TGPolyRenderMode FPolyRenderMode = prmNormal;
};

class TGPolygonPresenter : public TGPolyPresenter
{
public:
  explicit TGPolygonPresenter(TGGlobe* parentGlobe = nullptr);
  std::string ClassName() const override { return "TGPolygonPresenter"; }

protected:
  std::unique_ptr<TGPresenter> NewInstance() const override;
};

class TGPolylinePresenter : public TGPolyPresenter
{
public:
  explicit TGPolylinePresenter(TGGlobe* parentGlobe = nullptr);
  std::string ClassName() const override { return "TGPolylinePresenter"; }

protected:
  std::unique_ptr<TGPresenter> NewInstance() const override;
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

  // XML form: one "Presenter" child per presenter (no "Class" on the store). Loading empties
  // the store, then creates each child's presenter by its "Class" (a name beginning with "TP"
  // is read as "TGP" and the rest; an unknown class gives a TGPresenter), loads it and adds it.
  void SaveToXML(TGXML_Element& el) override;
  void LoadFromXML(const TGXML_Element& el) override;

private:
  std::vector<std::unique_ptr<TGPresenter>> FPresenters;
  bool FModified = false;
};

} // namespace vtr
