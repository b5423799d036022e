#pragma once
// The globe control: a widget that owns a projector, a renderer, a graticule, a label renderer
// and the layer tree, runs the render cycle into the renderer's back buffer and shows it,
// turns mouse input into rotation, rubber-band zoom and selection, and offers drawing
// primitives in geographic coordinates for the application's render handler.
//
// Render cycle (RenderCycle): background, surface (colour and texture), graticule behind, the
// layers with their presenters, the view outline, OnRender and the subscribers, graticule in
// front, titles. Paint runs it when the layers need redrawing and copies the back buffer to
// the screen. Everything runs on the user-interface thread; it also runs without a window
// (offscreen platform, or RenderFrame / GetBitmap on a control that was never shown).
//
// Positions are TGPointLL in GU (GSysUtils.h); device points in pixels of the control's client
// area (its viewport), y pointing down.

#include "globe/GBitmap.h"
#include "globe/GClasses.h"
#include "globe/GLayer.h"
#include "globe/GPointStore.h"
#include "globe/GProjector.h"
#include "globe/GRenderer.h"
#include "globe/GSysUtils.h"

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QPoint>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QPicture;

namespace vtr {

class TGGlobe;
class TGGlobeDatabaseLink;
class TGGraticule;
class TGLabelRenderer;
class TGSpatialDatabase;
class TGXML_Document;
class TGXML_Element;

// Notification codes for subscribers.
enum TGGlobeNotification : int32_t {
  gnDestroying = 0,   // the globe is being destroyed
  gnRendered = 2,     // after OnRender, and after each object-render event
  gnLayersChanged = 3 // after a layer-tree update
};

// Something that wants to hear of a globe's renders and changes. Held by the globe as a shared
// reference until UnSubscribe.
class IGlobeSubscriber
{
public:
  virtual ~IGlobeSubscriber() = default;
  virtual void GlobeNotification(TGGlobe& globe, int32_t code) = 0;
};

// Option bits of GlobeOptions.
enum TGGlobeOption : uint8_t {
  goMultiSelect = 1,           // a click does not clear the other selected objects
  goConstantScaleOnResize = 2, // GetBitmap at another size keeps the scale
  goFixedCenterXYOnResize = 4, // GetBitmap at another size keeps the view's centre centred
  goTransparentBackground = 8  // nothing is cleared behind the map
};
using TGGlobeOptions = uint8_t;

enum TGMouseButton { mzbLeft, mzbRight, mzbMiddle, mzbNone };
enum TGGreatCircle { gcShortest, gcLongest, gcCircle };
// Which scroll bars the control may show (each only while the view is larger than the page).
enum TGScrollBars { ssNone, ssHorizontal, ssVertical, ssBoth };

class TGGlobe : public QAbstractScrollArea,
                public IGProjectorHost,
                public IGLayerHost,
                public IGRenderHost,
                public IGObjectRenderer,
                public IGLayerRenderHost
{
public:
  // A 150 x 150 control: spherical projection fitted and centred, a default renderer of its
  // size, graticule, label renderer, and a root layer with the two default presenters.
  explicit TGGlobe(QWidget* parent = nullptr);
  ~TGGlobe() override;
  TGGlobe(const TGGlobe&) = delete;
  TGGlobe& operator=(const TGGlobe&) = delete;

  // Empties the layer tree and gives the root layer its default presenters: a point presenter
  // numbered -1 (pixel units) and a poly presenter numbered -2. With an EnvironmentFile set,
  // the cleared state is then saved to it.
  void Clear();

  // --- Parts
  TGProjector& Projector() override { return *FProjector; }
  TGRenderer& Renderer() override { return *FRenderer; }
  // Replaces the renderer (null: a new default renderer), sized to the control.
  void SetRenderer(std::unique_ptr<TGRenderer> renderer);
  TGGraticule& Graticule() { return *FGraticule; }
  // Replaces the graticule (null: a new default one).
  void SetGraticule(std::unique_ptr<TGGraticule> graticule);
  TGLabelRenderer& LabelRenderer() override { return *FLabelRenderer; }
  // The root of the layer tree; its store holds the top-level layers ("Units", ...).
  TGLayer& GlobeLayer() { return *FRootLayer; }
  TGLayerStore& Layers() { return FRootLayer->LayerStore(); }
  TGGlobeSelection& Selection() { return *FSelection; }

  // --- Appearance
  TColor Color() const { return FColor; }
  void SetColor(TColor value);
  // Drawn tiled behind the map when not empty.
  TGBitmap& BackgroundImage() { return FBackgroundImage; }
  // Fills the disc or the world rectangle; clNone draws no surface.
  TColor SurfaceColor() const { return FSurfaceColor; }
  void SetSurfaceColor(TColor value);
  // An image of the whole world (-180..180 left to right, 90..-90 top to bottom) drawn over the
  // surface. Setting a name loads the file (relative names from the program folder); an
  // empty name or a file that cannot be read removes the texture (the latter raises the
  // bitmap's error after removing it).
  const std::string& SurfaceTextureName() const { return FSurfaceTextureName; }
  void SetSurfaceTextureName(const std::string& value);
  TGBitmap& SurfaceTexture() { return *FSurfaceTexture; }
  long double CullObjectPixels() const override { return FCullObjectPixels; }
  void SetCullObjectPixels(long double value);
  long double MinObjectPixels() const override { return FMinObjectPixels; }
  void SetMinObjectPixels(long double value);
  TColor MinObjectColor() const override { return FMinObjectColor; }
  void SetMinObjectColor(TColor value);
  TGGlobeOptions GlobeOptions() const { return FGlobeOptions; }
  void SetGlobeOptions(TGGlobeOptions value);
  TGMouseButton MouseZoomButton() const { return FMouseZoomButton; }
  void SetMouseZoomButton(TGMouseButton value) { FMouseZoomButton = value; }
  TGMouseButton MouseSelectButton() const { return FMouseSelectButton; }
  void SetMouseSelectButton(TGMouseButton value) { FMouseSelectButton = value; }
  TGMouseButton MouseRotateButton() const { return FMouseRotateButton; }
  void SetMouseRotateButton(TGMouseButton value) { FMouseRotateButton = value; }
  // Milliseconds between progress updates during a render; 0 = none.
  int32_t PeriodicUpdateTime() const override { return FPeriodicUpdateTime; }
  void SetPeriodicUpdateTime(int32_t value) { FPeriodicUpdateTime = std::max(0, value); }
  // The environment file of the last successful LoadEnvironmentFromFile; Clear writes to it.
  const std::string& EnvironmentFile() const { return FEnvironmentFile; }
  void SetEnvironmentFile(const std::string& value) { FEnvironmentFile = value; }
  TGScrollBars ScrollBars() const { return FScrollBars; }
  void SetScrollBars(TGScrollBars value);

  // --- Environment (the whole map setup as XML, root "Globe")
  // Attributes "SurfaceTextureName", "SurfaceColor", "MinObjectColor" and the client size
  // "Width" and "Height" (always written); children "Graticule", "Projector", "Renderer" (its
  // class only) and "GlobeLayer" (the layer tree).
  void SaveToXML(TGXML_Element& el);
  // Clears the globe, then applies the colours, a graticule of the element's class, the
  // projector and the layer tree ("GlobeLayer", or the "Presenters" and "LayerStore" of older
  // documents); the renderer's element is not read. The view is then rescaled from the saved
  // client size to the present one (scale and centre point times the ratio of the diagonals),
  // and the surface texture named (missing: the present one) is loaded last. Layer-tree
  // updates wait until the end.
  void LoadFromXML(const TGXML_Element& el);
  // Writes SaveToXML's document (after OnSaveEnvironment) through a temporary file, so a
  // failed write leaves the old file whole.
  void SaveEnvironmentToFile(const std::string& sFilename);
  // A missing file clears EnvironmentFile and loads nothing. Otherwise the whole file is read
  // first: a file that is not an XML document with the root "Globe" raises EGException and
  // changes nothing. Then LoadFromXML; on success the name becomes EnvironmentFile (not
  // before, so that the Clear inside never writes over the file being loaded) and
  // OnLoadEnvironment fires.
  void LoadEnvironmentFromFile(const std::string& sFilename);

  // --- Render control
  // Marks the layers for redrawing and schedules a paint (nothing when one is pending).
  void RedrawLayers() override;
  // The render in progress starts over / stops.
  void RestartRender() override;
  void AbortRender();
  bool IsRenderRestarted() const { return FRestart; }
  bool IsRenderAborted() const { return FAborted; }
  // Painting, or inside BeginUpdate.
  bool IsBusy() const { return FPainting || FUpdateCount > 0; }
  // Nested; the outermost EndUpdate applies a pending layer-tree update and redraws. An
  // EndUpdate without BeginUpdate is an assertion failure.
  void BeginUpdate() { ++FUpdateCount; }
  void EndUpdate();
  // Runs Paint now (without a window the picture only goes to the back buffer).
  void Paint(QPainter* controlCanvas);
  // One full render cycle into the renderer, whatever is pending.
  void RenderFrame();
  // Raises OnRender (and tells the subscribers) outside a render cycle, drawing over the
  // current picture, and shows the result.
  void DoOnRender();

  // --- View
  // Puts the position at the client centre: longitude first (wrapped), then latitude.
  void LocateToLL(int32_t iLong, int32_t iLat);
  void LocateToLL(const TGPointLL& ptLL) { LocateToLL(ptLL.iLongX, ptLL.iLatY); }
  // Degrees.
  void LocateToDD(long double longDeg, long double latDeg);
  // The centre of the object's rectangle.
  void LocateToObject(IGMapPoint& obj);
  // Moves the map by (iX, iY) GU (the device origin moves by -iX and -iY times the scale).
  void PanViewXY(int32_t iX, int32_t iY);
  // The view's extent in GU: (0, 0, width in GU, height in GU).
  TGRect ViewRect() const override { return FViewRect; }
  void StoreViewRect(const TGRect& rect) override { FViewRect = rect; }
  // Zooms so that rect (GU offsets from the device origin (0, 0): left, top, width, height)
  // fills the renderer, centred; width or height 0 fits the whole map.
  void SetViewRect(const TGRect& rect) override;
  // The geographic rectangle the device rectangle shows, from a 65 x 65 grid of samples refined
  // at the map's edge; empty when 10 samples or fewer lie on the map, the whole world when
  // wider than 330 degrees.
  TGMER RectToMER(const TGRect& rect);
  // The view MER of the last render cycle.
  const TGMER& ViewMER() const { return FViewMER; }
  // The client area in pixels and the screen's density.
  int32_t ClientWidth() const override { return FClientWidth; }
  int32_t ClientHeight() const override { return FClientHeight; }
  int32_t ScreenPixelsPerInch() const override;
  // The resize rule: a new client size resizes the renderer; the first size (or one after 0)
  // centres the map, later ones scale it by the change of the diagonal, origins with it.
  void SetClientSize(int32_t newWidth, int32_t newHeight);
  void UpdateScrollBars() override;
  TGPOZ GetPOZ() { return FProjector->GetPOZ(); }
  void SetPOZ(const TGPOZ& POZ) { FProjector->SetPOZ(POZ); }
  int32_t GlobeUnitsFrom(long double eValue, TGUnitTypes units) const;
  long double GlobeUnitsTo(int32_t iValue, TGUnitTypes units) const;
  int32_t ScaleUnitsToDevice(int32_t value, TGUnitTypes units) const;

  // --- Selection
  // The root layer's SelectObjects with sub-layers.
  int32_t SelectObjects(const TGMER& aMER, bool firstOnly, bool state);
  bool ClearSelected();

  // --- Spatial database: the layer tree follows its layers (GSDBObjectSource.h). Borrowed;
  // null for none, and once the database is gone.
  TGSpatialDatabase* SpatialDatabase() const;
  void SetSpatialDatabase(TGSpatialDatabase* value);

  // --- Subscribers
  void Subscribe(std::shared_ptr<IGlobeSubscriber> subscriber);
  void UnSubscribe(const IGlobeSubscriber* subscriber);

  // --- Other surfaces
  // The current view rendered into a new picture of that size (0 or less: the control's).
  // The view is carried over by the resize options; the control's own view is left as it was.
  std::unique_ptr<TGBitmap> GetBitmap(int32_t iWidth, int32_t iHeight);
  // The same drawn into a picture (a recording of drawing calls).
  std::unique_ptr<QPicture> GetMetaFile(int32_t iWidth, int32_t iHeight);
  // Renders into ARect of a foreign painter: as a picture copied there (bAsImage) or drawn
  // straight onto it.
  void RenderToCanvas(QPainter& ACanvas, const QRect& ARect, bool bAsImage);

  // --- Paths: while open, RenderChainStore records clones of its chains into chains instead
  // of drawing (chains is borrowed until EndPath).
  void BeginPath(TGChainStore* chains);
  void EndPath();

  // --- Drawing primitives (with the renderer's current pen, brush and font; inside a render)
  // The chains as polygons (rsClosed in State) or lines: on the sphere polygons that run round
  // a pole are closed over it (filled with a detour to the pole, outlined along their rings);
  // flat maps cut everything at the meridian opposite the central one, polar caps running down
  // the map's edges. All parts go out in one poly-polygon.
  void RenderChainStore(const TGChainStore& Chains, TGRenderStateSet State) override;
  // iSteps + 1 points interpolated linearly in GU (the short way across +-180).
  void RenderLine(const TGPointLL& ptFromLL, const TGPointLL& ptToLL, int32_t iSteps) override;
  // Along the great circle, one point a degree.
  void RenderGreatCircleLine(const TGPointLL& ptFromLL, const TGPointLL& ptToLL,
                             TGGreatCircle CircleType);
  // A small circle of iRadius in radiusUnit about ptLL in iSteps (3..360, else 36) steps.
  void RenderCircle(const TGPointLL& ptLL, int32_t iRadius, TGUnitTypes radiusUnit, int32_t iSteps);
  void RenderPolygon(const TGPointStore& Points);
  void RenderPolyLine(const TGPointStore& Points);
  // The text with its top-left corner at the position's device point, when visible.
  void RenderTextOut(const TGPointLL& ptLL, const std::string& sText);
  void RenderTextureTriangle(const TGTriangle& srcTri, const TGTriangleLL& destTriLL,
                             TGBitmap& image, bool selected) override;
  // The day/night shadow for GMTDateTime (UTC, days since 1899-12-30): night pixels blended
  // with ColorNight at MaxAlpha, twilight (TwilightDegrees wide) in proportion. ptSun receives
  // the sub-solar point.
  void RenderShadow(TColor ColorNight, int32_t TwilightDegrees, TGPointLL& ptSun, uint8_t MaxAlpha,
                    double GMTDateTime);
  // The sub-solar point at a UTC moment, as RenderShadow computes it.
  static TGPointLL SunPosition(double GMTDateTime);

  // --- IGObjectRenderer, IGRenderHost, IGLayerHost, IGLayerRenderHost
  void DrawEllipse(const TGRect& rect) override;
  QPainter* ControlCanvas() override { return FControlCanvas; }
  void PeriodicUpdate() override;
  // Restarted, aborted, or the application is closing down.
  bool RenderMustStop() override;
  void NotifyLayerTreeChanged() override;
  std::shared_ptr<TGBitmap> LoadImage(const std::string& imageName) override;
  std::shared_ptr<IGMapPoint> TitleAtLL(const TGPointLL& ptLL) override;
  int32_t SelectTitles(const TGMER& aMER, bool firstOnly, bool state) override;
  IGLayerRenderHost* LayerRenderHost() override { return this; }
  IGRenderHost& RenderHost() override { return *this; }
  IGObjectRenderer& ObjectRenderer() override { return *this; }
  void DoBeforeLayerRender(TGLayer& layer) override;
  void DoAfterLayerRender(TGLayer& layer) override;
  bool HasObjectRenderHandler() const override { return static_cast<bool>(OnObjectRender); }
  void DoObjectRender(TGLayer& layer, IGMapPoint& mapObj, TGRenderStateSet State) override;

  // --- Events (each raised only when set)
  std::function<void(TGGlobe&)> OnBeforeRender;
  std::function<void(TGGlobe&)> OnRender;
  std::function<void(TGGlobe&)> OnAfterRender;
  std::function<void(TGGlobe&)> OnPaint;
  std::function<void(TGGlobe&)> OnPaintGraticule;
  std::function<void(TGGlobe&, TGLayer&)> OnBeforeLayerRender;
  std::function<void(TGGlobe&, TGLayer&)> OnAfterLayerRender;
  std::function<void(TGGlobe&, TGLayer&, IGMapPoint&, TGRenderStateSet)> OnObjectRender;
  std::function<void(TGGlobe&, IGMapPoint&)> OnObjectClick;
  std::function<void(TGGlobe&)> OnSelectionChange;
  std::function<void(TGGlobe&)> OnPanned;
  std::function<void(TGGlobe&)> OnRotated;
  std::function<void(TGGlobe&)> OnZoomed;
  std::function<void(TGGlobe&)> OnPeriodicUpdate;
  std::function<void(TGGlobe&, TGProgressType, int32_t count, double percentage)> OnProgress;
  std::function<void(TGGlobe&)> OnLayersChanged;
  // The environment document just built, before it is written / just loaded.
  std::function<void(TGGlobe&, TGXML_Document&)> OnSaveEnvironment;
  std::function<void(TGGlobe&, TGXML_Document&)> OnLoadEnvironment;
  // An image asked for by name was not found.
  std::function<void(TGGlobe&, const std::string& imageName)> OnMissingImage;
  // The layer-tree update: whoever attaches a data store (the spatial database) sets it, and
  // it runs inside BeginUpdate / EndUpdate whenever the tree was marked for update.
  std::function<void(TGGlobe&)> OnUpdateLayerTree;
  // A database source found no layer of its GUID or name; set retry to search again (after
  // making the layer, say). userXML: the source's "User" element.
  std::function<void(TGGlobe&, const std::string& layerName, const std::string& sourceName,
                     bool& retry, TGXML_Element& userXML)>
      OnMissingLayer;
  std::function<void(TGGlobe&)> OnMouseEnter;
  std::function<void(TGGlobe&)> OnMouseLeave;
  // The platform's pointer events, in client coordinates.
  std::function<void(TGGlobe&, Qt::MouseButton, Qt::KeyboardModifiers, int32_t x, int32_t y)>
      OnMouseDown;
  std::function<void(TGGlobe&, Qt::KeyboardModifiers, int32_t x, int32_t y)> OnMouseMove;
  std::function<void(TGGlobe&, Qt::MouseButton, Qt::KeyboardModifiers, int32_t x, int32_t y)>
      OnMouseUp;
  // A left-button release inside the control, before the selection is updated.
  std::function<void(TGGlobe&)> OnClick;
  std::function<void(TGGlobe&)> OnDblClick;
  // The wheel turned away from / towards the user; set handled to keep the default (none).
  std::function<void(TGGlobe&, Qt::KeyboardModifiers, QPoint mousePos, bool& handled)>
      OnMouseWheelUp;
  std::function<void(TGGlobe&, Qt::KeyboardModifiers, QPoint mousePos, bool& handled)>
      OnMouseWheelDown;

protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

private:
  void RenderCycle();
  void RenderGraticule();
  void RenderViewOutline();
  void ApplyLayerTreeUpdate();
  // Scale factor and centre point times k (a change of the client diagonal by k).
  void RescaleView(long double k);
  void NotifySubscribers(int32_t code);
  void CopyBackBuffer();
  bool IsButton(Qt::MouseButton button, TGMouseButton which) const;
  // Chain rendering helpers.
  void AddProjectedRun(const TGPointLL* points, size_t count, int32_t penWidth);
  void AddCutChain(const TGPointStore& chain, bool closed, int32_t penWidth);
  // roundPole: the ring crosses the far meridian an odd number of times.
  void AddPoleClosedChain(const TGPointStore& chain, int32_t penWidth, bool roundPole);
  // Longitude (GU) of the meridian at the middle of the map.
  int32_t CentralMeridianGU() const;
  // Renders with the renderer temporarily at another size (the view carried over by the
  // resize options) and restores everything afterwards.
  void WithRenderSize(int32_t width, int32_t height, const std::function<void()>& render);

  std::vector<std::shared_ptr<IGlobeSubscriber>> FSubscribers;
  std::unique_ptr<TGGlobeDatabaseLink> FSpatialDatabaseLink;
  std::unique_ptr<TGBitmap> FSurfaceTexture;
  TGBitmap FBackgroundImage;
  std::unique_ptr<TGLayer> FRootLayer;
  std::unique_ptr<TGGlobeSelection> FSelection;
  std::unique_ptr<TGGraticule> FGraticule;
  std::unique_ptr<TGRenderer> FRenderer;
  std::unique_ptr<TGProjector> FProjector;
  std::unique_ptr<TGLabelRenderer> FLabelRenderer;
  std::map<std::string, std::shared_ptr<TGBitmap>> FImages;

  TColor FColor = clBlack;
  TColor FSurfaceColor = clAqua;
  TColor FMinObjectColor = clGray;
  std::string FSurfaceTextureName;
  long double FCullObjectPixels = 0.75L;
  long double FMinObjectPixels = 1.5L;
  TGGlobeOptions FGlobeOptions = 0;
  TGMouseButton FMouseZoomButton = mzbRight;
  TGMouseButton FMouseSelectButton = mzbLeft;
  TGMouseButton FMouseRotateButton = mzbLeft;
  int32_t FPeriodicUpdateTime = 0;
  std::string FEnvironmentFile;
  TGScrollBars FScrollBars = ssBoth;

  TGChainStore* FPath = nullptr;
  TGPointLL FRotateAnchor;
  QPoint FFocusStart;
  QPoint FFocusEnd;
  bool FRotating = false;
  bool FZooming = false;
  bool FDrawFocusRect = false;
  bool FPainting = false;
  bool FLayerTreeUpdateRequired = false;
  bool FInLayerTreeUpdate = false;
  bool FRestart = false;
  bool FAborted = false;
  bool FForeignCanvas = false;
  bool FLayersNeedRedraw = true;
  bool FDestroying = false;
  bool FUpdatingScrollBars = false;
  bool FZoomingToRect = false;
  int32_t FUpdateCount = 0;
  qint64 FRenderUpdateTime = 0;
  QElapsedTimer FClock;
  TGRect FViewRect;
  TGMER FViewMER;
  int32_t FClientWidth = 0;
  int32_t FClientHeight = 0;
  QSize FLastOuterSize;
  QPainter* FControlCanvas = nullptr;
  int32_t FHScrollPos = 0;
  int32_t FVScrollPos = 0;

  // Reused working storage, so that a render allocates nothing per object or point.
  TGPointStore FViewSamples;
  TGChainStore FLineChains; // one chain: RenderLine, RenderPolygon, circles
  TGPointStore FWorkChain;  // a chain with its pole detour
  std::vector<TGPointLL> FPieceA;
  std::vector<TGPointLL> FPieceB;
};

} // namespace vtr
