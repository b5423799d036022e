#pragma once
// The layer tree: layers (TGLayer) with their sub-layer stores (TGLayerStore), presenter stores
// and object sources; finding objects by position, user identifier and title; selecting them;
// and the selections (TGLayerSelection per layer, TGGlobeSelection across the tree).
//
// Hit tests and selection never walk a layer: the layer's whole rectangle is checked first and
// the object source is then asked only for the objects near the point (GObjectSource.h).

#include "globe/GClasses.h"
#include "globe/GMapObject.h"
#include "globe/GObjectSource.h"
#include "globe/GPresenter.h"
#include "globe/GSysUtils.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace vtr {

class IGLayerRenderHost;
class TGBitmap;
class TGLabelRenderer;
class TGLayer;
class TGProjector;
class TGXML_Element;

// What the layer tree needs of the globe control it hangs from. The globe control implements
// it and gives it to its root layer (SetHost); every layer below reaches it through the root.
// Redraws, render restarts and the renderer go through the projector's host
// (Projector().Host(), GProjectorHost.h). Tests implement it without a window.
class IGLayerHost
{
public:
  virtual ~IGLayerHost() = default;

  virtual TGProjector& Projector() = 0;
  // A layer was added, removed or moved somewhere in the tree.
  virtual void NotifyLayerTreeChanged() = 0;
  // The image of that name for layers and their sources (the globe resolves the name and
  // reports a missing image); null when none can be had.
  virtual std::shared_ptr<TGBitmap> LoadImage(const std::string& imageName) = 0;
  // The label renderer's title hit tests. The object whose drawn title lies under the
  // position, or null.
  virtual std::shared_ptr<IGMapPoint> TitleAtLL(const TGPointLL& ptLL) = 0;
  // Sets the selected flag of the object whose title lies under aMER's centre to state;
  // returns how many objects that was (0 or 1).
  virtual int32_t SelectTitles(const TGMER& aMER, bool firstOnly, bool state) = 0;
  // What drawing the tree needs of the globe; null for a host that does not draw (the layers
  // then draw nothing).
  virtual IGLayerRenderHost* LayerRenderHost() { return nullptr; }
};

// What drawing the layer tree needs of the globe control: its drawing surface and projector,
// the label renderer that collects titles, the culling settings and the events raised around
// each layer and object. The globe control implements it; TGLayer::Render uses it.
class IGLayerRenderHost
{
public:
  virtual ~IGLayerRenderHost() = default;

  // Renderer, projector, periodic updates and the stop test.
  virtual IGRenderHost& RenderHost() = 0;
  // How an object without a presenter draws itself, and the globe's chain rendering.
  virtual IGObjectRenderer& ObjectRenderer() = 0;
  virtual TGLabelRenderer& LabelRenderer() = 0;
  // Objects smaller than CullObjectPixels are skipped, those not larger than MinObjectPixels
  // are set as one pixel of MinObjectColor.
  virtual long double CullObjectPixels() const = 0;
  virtual long double MinObjectPixels() const = 0;
  virtual TColor MinObjectColor() const = 0;
  // Milliseconds between progress updates; 0 = none (layers are then never cut short).
  virtual int32_t PeriodicUpdateTime() const = 0;
  // The globe's before- and after-layer-render events.
  virtual void DoBeforeLayerRender(TGLayer& layer) = 0;
  virtual void DoAfterLayerRender(TGLayer& layer) = 0;
  // Whether an object-render handler is set; DoObjectRender is only called when it is.
  virtual bool HasObjectRenderHandler() const = 0;
  virtual void DoObjectRender(TGLayer& layer, IGMapPoint& mapObj, TGRenderStateSet State) = 0;
};

// The named image for a layer or its source: through the globe when the layer hangs from one,
// else read from the file of that name; null when none can be had.
std::shared_ptr<TGBitmap> LoadLayerImage(const TGLayer* layer, const std::string& imageName);

// ---------------------------------------------------------------------------------------------
// Selections

class TGSelection : public TGRoot
{
public:
  std::string ClassName() const override { return "TGSelection"; }

  // Enumeration of the selected objects; null at the end. Keys whose object is gone are passed
  // over.
  virtual std::shared_ptr<IGMapPoint> First() = 0;
  virtual std::shared_ptr<IGMapPoint> Next() = 0;
  virtual std::shared_ptr<IGMapPoint> Last() = 0;
  virtual std::shared_ptr<IGMapPoint> Prior() = 0;
  virtual int64_t Count() const = 0;
  // Deselects everything; true when anything had been selected.
  virtual bool Clear() = 0;
};

// The primary keys selected in one layer: 67 buckets by key (taken as unsigned 32-bit) mod 67,
// each in insertion order. Enumeration walks the buckets in order.
class TGLayerSelection : public TGSelection
{
public:
  static constexpr size_t kBucketCount = 67;

  // The layer owns the selection and outlives it.
  explicit TGLayerSelection(TGLayer& parentLayer) : FParentLayer(&parentLayer) {}
  std::string ClassName() const override { return "TGLayerSelection"; }

  // A key already present is ignored.
  void Add(TGPrimaryKey objPK);
  void Remove(TGPrimaryKey objPK);
  bool Contains(TGPrimaryKey objPK) const;

  std::shared_ptr<IGMapPoint> First() override;
  std::shared_ptr<IGMapPoint> Next() override;
  std::shared_ptr<IGMapPoint> Last() override;
  std::shared_ptr<IGMapPoint> Prior() override;
  int64_t Count() const override { return FCount; }
  bool Clear() override;

private:
  static size_t BucketOf(TGPrimaryKey objPK);
  // The key at a position of the walk over all buckets; FCount positions in all.
  TGPrimaryKey KeyAt(int64_t position) const;
  // From position on (step +1 or -1), the first key whose object exists.
  std::shared_ptr<IGMapPoint> ObjectFrom(int64_t position, int step);

  TGLayer* FParentLayer;
  std::array<std::vector<TGPrimaryKey>, kBucketCount> FBuckets;
  int64_t FCount = 0;
  int64_t FPosition = -1;
};

// Every layer's selection, the tree walked in pre-order (a layer, then its sub-layers in index
// order). The tree must not change while an enumeration runs.
class TGGlobeSelection : public TGSelection
{
public:
  // The root layer outlives the selection.
  explicit TGGlobeSelection(TGLayer& rootLayer) : FRootLayer(&rootLayer) {}
  std::string ClassName() const override { return "TGGlobeSelection"; }

  std::shared_ptr<IGMapPoint> First() override;
  std::shared_ptr<IGMapPoint> Next() override;
  std::shared_ptr<IGMapPoint> Last() override;
  std::shared_ptr<IGMapPoint> Prior() override;
  int64_t Count() const override;
  // The root layer's ClearSelected.
  bool Clear() override;

private:
  void FlattenTree();

  TGLayer* FRootLayer;
  std::vector<TGLayer*> FLayerStack;
  size_t FPosition = 0; // current layer in the stack
};

// ---------------------------------------------------------------------------------------------
// Layer store: a layer's sub-layers in drawing order (index 0 drawn first, the last on top).

class TGLayerStore : public TGComponent
{
public:
  // The layer owns the store and outlives it.
  explicit TGLayerStore(TGLayer& parentLayer);
  ~TGLayerStore() override;
  std::string ClassName() const override { return "TGLayerStore"; }

  TGLayer& ParentLayer() const { return *FParentLayer; }

  // Appends the layer on top and returns its index; null is an assertion failure
  // "TGLayerStore.Add passed nil layer". A layer may not go below itself.
  int32_t Add(std::unique_ptr<TGLayer> aLayer);
  // For a layer that already sits in a store: in this one it keeps its place (its index is
  // returned); from another it moves here, on top.
  int32_t Add(TGLayer* aLayer);
  // Takes the layer out and hands it over; null when it is not in this store.
  std::unique_ptr<TGLayer> Remove(TGLayer* aLayer);
  // Takes the layer out and frees it.
  void Delete(TGLayer* aLayer);
  // Moves within the list when both indexes are valid; never raises.
  void Move(int32_t iFrom, int32_t iTo);
  // Frees all layers.
  void Clear();

  int32_t Count() const { return FLayers.Count(); }
  // Raises EGException "TGGlobe.GetLayer: Bad layer index %d" outside the list.
  TGLayer& GetLayer(int32_t iIndex) const;
  int32_t IndexOf(const TGLayer* aLayer) const;
  // First layer whose Name equals sName without regard to letter case; -1 / null for none.
  // Only this store is searched.
  int32_t IndexByName(const std::string& sName) const;
  TGLayer* LayerByName(const std::string& sName) const;
  // A layer of this store whose object source has that id, else the first found depth-first
  // through the sub-stores.
  TGLayer* LayerByID(const TGUID& id) const;
  // The first layer (pre-order) whose own presenter store holds the presenter.
  TGLayer* LayerFromPresenter(const TGPresenter* aPresenter) const;

  // The enabled layers from the top (last index) down; the first object found wins.
  std::shared_ptr<IGMapPoint> ObjectAtLL(const TGPointLL& ptLL) const;
  std::shared_ptr<IGMapPoint> ObjectAtXY(int32_t iX, int32_t iY) const;
  // The enabled layers from index 0 upwards; the first object found wins.
  std::shared_ptr<IGMapPoint> ObjectByUserID(const std::string& sUserID) const;
  std::shared_ptr<IGMapPoint> ObjectByTitle(const std::string& sTitle) const;

  // Draws the layers in index order (later ones over earlier ones), each announced to the
  // label renderer first and drawn again while it asks for another pass; a render that must
  // stop ends the loop. viewMER: what can be seen (GU), which limits every object query.
  void Render(const TGMER& viewMER);

  std::span<const std::unique_ptr<TGLayer>> Layers() const { return FLayers.Items(); }

  // XML form (element "Layers"): "Class" and one "Layer" child per layer that has a name.
  // Loading takes each "Layer" child in turn: the layer of the tree whose object source has
  // the GUID of the child's "ObjectSource" "ID", or, when that is no GUID, this store's layer
  // of the child's "Name", or else a new layer of the child's "Class" (none that can be made:
  // an assertion failure); adds it here, loads it from the child, and frees it again when its
  // object source is then not valid.
  void SaveToXML(TGXML_Element& el) override;
  void LoadFromXML(const TGXML_Element& el) override;

private:
  void NotifyLayerTreeChanged();

  TGLayer* FParentLayer;
  TGDynArray<std::unique_ptr<TGLayer>> FLayers;
};

// ---------------------------------------------------------------------------------------------
// Layer

// Indexes of the flag setter.
enum TGLayerFlag : int32_t {
  lfSelectable = 0,
  lfVisible = 1,
  lfShowTitles = 3,
  lfNoInterrupt = 4,
  lfEnabled = 5
};

class TGLayer : public TGComponent
{
public:
  explicit TGLayer(TGGlobe* parentGlobe = nullptr);
  ~TGLayer() override;
  std::string ClassName() const override { return "TGLayer"; }

  // The layer whose store holds this one; null for the root and for a free layer.
  TGLayer* ParentLayer() const { return FParentLayer; }
  // The globe the tree hangs from, set on the root layer (borrowed: the globe owns the root).
  // Host() asks the root; null for a tree without a globe, which then has no projector: its
  // hit tolerance is 0 before the presenters widen it, its zoom limits do not apply and
  // ObjectAtXY finds nothing.
  void SetHost(IGLayerHost* host) { FHost = host; }
  IGLayerHost* Host() const;
  TGLayerStore& LayerStore() { return *FLayerStore; }
  const TGLayerStore& LayerStore() const { return *FLayerStore; }
  TGPresenterStore& Presenters() { return *FPresenters; }
  const TGPresenterStore& Presenters() const { return *FPresenters; }
  TGLayerSelection& Selection() { return *FSelection; }

  // Flags back to true, limits to none, unit kilometres, unmodified; empties the selection,
  // the presenters, the object source and the sub-layers; redraws.
  void Clear();
  // Clear, then the object source's Delete.
  void Delete();
  // The object source's Post.
  void Post();
  // Nested; the EndUpdate that ends the outermost level calls Post. An EndUpdate without
  // BeginUpdate is an assertion failure "Mismatched BeginUpdate/EndUpdate".
  void BeginUpdate() { ++FUpdateCounter; }
  void EndUpdate();
  int32_t UpdateCounter() const { return FUpdateCounter; }

  // The name, or the object source's name when none is set. Setting trims it.
  std::string Name() const;
  void SetName(const std::string& value);
  // Position in the parent's store (0 for the root); setting it moves the layer there.
  int32_t Index() const;
  void SetIndex(int32_t value);

  // The five flags by their setter index (TGLayerFlag). A changed flag restarts a render in
  // progress (unless NoInterrupt), sets Modified and redraws. Index 2 and unknown indexes
  // name no flag and are ignored.
  bool Flag(int32_t index) const;
  void SetFlag(int32_t index, bool value);
  bool Selectable() const { return FSelectable; }
  void SetSelectable(bool value) { SetFlag(lfSelectable, value); }
  bool Visible() const { return FVisible; }
  void SetVisible(bool value) { SetFlag(lfVisible, value); }
  bool ShowTitles() const { return FShowTitles; }
  void SetShowTitles(bool value) { SetFlag(lfShowTitles, value); }
  bool NoInterrupt() const { return FNoInterrupt; }
  void SetNoInterrupt(bool value) { SetFlag(lfNoInterrupt, value); }
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool value) { SetFlag(lfEnabled, value); }

  // Altitude limits in ZoomUnits; 0 = no limit.
  uint32_t ZoomMin() const { return FZoomMin; }
  void SetZoomMin(uint32_t value);
  uint32_t ZoomMax() const { return FZoomMax; }
  void SetZoomMax(uint32_t value);
  // Changing the unit converts both limits into it (rounded to whole units).
  TGUnitTypes ZoomUnits() const { return FZoomUnits; }
  void SetZoomUnits(TGUnitTypes value);
  uint8_t AlphaBlend() const { return FAlphaBlend; }
  void SetAlphaBlend(uint8_t value);
  // AlphaBlend scaled by the ancestors' (255 = opaque).
  uint8_t AdjustedAlphaBlend() const;
  bool Modified() const { return FModified; }
  void SetModified(bool value) { FModified = value; }
  bool RenderAllObjects() const { return FRenderAllObjects; }
  void SetRenderAllObjects(bool value) { FRenderAllObjects = value; }
  // Objects smaller than this (GU) are drawn as a single pixel; set for each render.
  int32_t MinObjectSize() const { return FMinObjectSize; }
  void SetMinObjectSize(int32_t value) { FMinObjectSize = value; }

  // Created on first use as a memory source.
  TGObjectSource& ObjectSource();
  bool HasObjectSource() const { return FObjectSource != nullptr; }
  // Frees the previous source and takes this one (which may be null).
  void SetObjectSource(std::unique_ptr<TGObjectSource> source);

  // Free-form data of the program's own, element "User", persisted with the layer.
  TGXML_Element& UserXML() { return *FUserXML; }
  const TGXML_Element& UserXML() const { return *FUserXML; }

  // XML form (element "GlobeLayer" for the root, "Layer" below): "Class", "Name", "Alpha",
  // "Enabled", "NoInterrupt", "RenderAll", "Selectable", "ShowTitles", "TitleColumn",
  // "Visible", "ZoomUnits", "ZoomMin", "ZoomMax", "Index", "Image", "ImageAlpha",
  // "ImageColor", each left out at its default; children "Presenters" (when there are any),
  // "ObjectSource", "Layers" (when there are sub-layers) and "User". Saving clears Modified.
  // Loading applies the settings (missing ones at their defaults; an unknown zoom unit raises
  // before anything changes), then the sub-layers, the object source (a new one of the
  // element's class when that differs from the present one's, else the present one loads the
  // element), the presenters, "User" and the position; it ends with Modified cleared.
  void SaveToXML(TGXML_Element& el) override;
  void LoadFromXML(const TGXML_Element& el) override;

  // Attribute column used as the objects' titles, by index or by its name in ColumnNames.
  int32_t TitleColumn() const { return FTitleColumn; }
  void SetTitleColumn(int32_t value) { FTitleColumn = value; }
  // Index of a column name (without regard to letter case) in ColumnNames; -1 for none.
  int32_t TitleColumnToIndex(const std::string& columnName) const;
  std::string TitleColumnName() const;
  // A name not among the columns leaves the title column as it is.
  void SetTitleColumnName(const std::string& value);

  // An image drawn over the layer's area.
  const std::string& SurfaceImageName() const { return FSurfaceImageName; }
  void SetSurfaceImageName(const std::string& value);
  // Loaded through the globe (or from the file when the layer has none) when the name is set.
  TGBitmap* SurfaceBitmap() const { return FSurfaceBitmap.get(); }
  uint8_t SurfaceAlpha() const { return FSurfaceAlpha; }
  void SetSurfaceAlpha(uint8_t value) { FSurfaceAlpha = value; }
  TColor SurfaceTransparentColor() const { return FSurfaceTransparentColor; }
  void SetSurfaceTransparentColor(TColor value) { FSurfaceTransparentColor = value; }

  // Number of ancestors.
  int32_t LayerDepth() const;
  // Visible, and the projector's altitude within the zoom limits (each in ZoomUnits, 0 = none).
  bool IsShowing() const;
  // The object source exists and reports valid.
  bool IsValid() const;
  // 0 gives null; else this layer's store, each ancestor's, then the object source's.
  TGPresenter* FindPresenter(int32_t iPresenterID) const;
  // The object source's DataMER joined with every sub-layer's LayerMER.
  TGMER LayerMER() const;
  // Hit tolerance (GU): the projector's two pixels, widened by the presenters' tolerance hooks
  // (the layer's own presenters, or the source's when the layer has none).
  int32_t LayerTolerance() const;

  // Draws the layer's objects within viewMER with their presenters, then (unless a presenter
  // asked for another pass) the sub-layers. Nothing inside BeginUpdate, when the render must
  // stop, when the layer is not showing or when the tree has no globe that draws. Objects
  // below the globe's CullObjectPixels are skipped and those up to MinObjectPixels become one
  // pixel of MinObjectColor (neither with RenderAllObjects); titles go to the label renderer on
  // the first pass only. Every 128 objects the globe's periodic update runs when it has one.
  void Render(bool firstPass, const TGMER& viewMER);
  // Rendering state: objects visited by the last Render, its pass (0 on the first).
  int32_t RenderObjectCount() const { return FRenderObjectCount; }
  int32_t RenderPass() const { return FRenderPass; }
  // A presenter may ask, during a render, that the layer be drawn once more (firstPass false).
  bool ReRenderLayer() const { return FReRenderLayer; }
  void SetReRenderLayer(bool value) { FReRenderLayer = value; }
  // The presenters the current render has used (each began its layer render once).
  const std::vector<TGPresenter*>& PresenterCache() const { return FPresenterCache; }

  // The object under a device point: null unless enabled and showing, or off the map.
  std::shared_ptr<IGMapPoint> ObjectAtXY(int32_t iX, int32_t iY);
  // The object at a position: titles (root layer), sub-layers from the top, then this layer's
  // objects near the point; null unless enabled and showing.
  std::shared_ptr<IGMapPoint> ObjectAtLL(const TGPointLL& ptLL);
  // The first object (in the source's order) whose user identifier / title column value
  // equals the text exactly.
  std::shared_ptr<IGMapPoint> ObjectByUserID(const std::string& sUserID);
  std::shared_ptr<IGMapPoint> ObjectByTitle(const std::string& sTitle);
  // Sets the selected flag of the objects in or under aMER to state; returns how many.
  int32_t SelectObjects(const TGMER& aMER, bool includeSubLayers, bool firstOnly, bool state);
  // Empties this layer's and every sub-layer's selection; true when anything was selected.
  bool ClearSelected();

private:
  friend class TGLayerStore;

  // Globe hooks (nothing without a globe): a redraw, a restart of a render that is showing
  // progress, the projector's two-pixel tolerance.
  void Redraw() const;
  void RestartRenderIfPeriodic() const;
  int32_t PixelTolerance() const;
  std::shared_ptr<IGMapPoint> FindFirst(const std::function<bool(IGMapPoint&)>& match);
  // Rendering.
  bool MustStop(IGLayerRenderHost& host) const;
  bool RenderObjectKey(TGPrimaryKey objPK);
  TGPresenter* RenderPresenter(int32_t iPresenterID);

  TGLayer* FParentLayer = nullptr;
  IGLayerHost* FHost = nullptr;
  std::unique_ptr<TGLayerStore> FLayerStore;
  std::string FLayerName;
  std::unique_ptr<TGPresenterStore> FPresenters;
  std::unique_ptr<TGLayerSelection> FSelection;
  bool FEnabled = true;
  bool FSelectable = true;
  bool FShowTitles = true;
  bool FVisible = true;
  bool FNoInterrupt = false;
  int32_t FUpdateCounter = 0;
  uint32_t FZoomMin = 0;
  uint32_t FZoomMax = 0;
  int32_t FMinObjectSize = 0;
  TGUnitTypes FZoomUnits = guKilometer;
  bool FModified = false;
  std::unique_ptr<TGObjectSource> FObjectSource;
  int32_t FTitleColumn = 0;
  std::shared_ptr<TGBitmap> FSurfaceBitmap;
  std::string FSurfaceImageName;
  uint8_t FSurfaceAlpha = 255;
  TColor FSurfaceTransparentColor = clNone;
  bool FRenderAllObjects = false;
  uint8_t FAlphaBlend = 255;
  std::unique_ptr<TGXML_Element> FUserXML;
  // Rendering state (valid during Render).
  std::vector<TGPresenter*> FPresenterCache;
  TGPresenter* FCurrentPresenter = nullptr;
  IGLayerRenderHost* FRenderHost = nullptr;
  int32_t FRenderObjectCount = 0;
  int32_t FRenderPass = 0;
  int32_t FCullObjectSize = 0;
  bool FReRenderLayer = false;
  bool FRenderTitles = false;
  bool FStopRender = false;
};

} // namespace vtr
