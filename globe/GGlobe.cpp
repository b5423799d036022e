#include "globe/GGlobe.h"

#include "globe/GGeodesy.h"
#include "globe/GGraticule.h"
#include "globe/GLabelRenderer.h"
#include "globe/GPresenter.h"
#include "globe/GSDBObjectSource.h"
#include "globe/GXML.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPicture>
#include <QScreen>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

namespace vtr {

namespace {

// A render that keeps being restarted by its own handlers ends after this many passes.
constexpr int kMaxRestarts = 32;
// Samples per row and column of RectToMER, and the view MER that counts as the whole world.
constexpr int kViewSamples = 64;
constexpr int32_t kWorldWidth = 1'782'000'000; // 330 degrees
// Steps of the pole detour and of the polar caps on flat maps: one minute of arc.
constexpr int32_t kDetourStep = GU_MINUTE;
// Scan step of the day/night shadow.
constexpr int32_t kShadowStep = 16;

// The longitude relative to the central meridian, in (-GU_180, GU_180].
int32_t RelativeLong(int32_t iLong, int32_t cm)
{
  // Wrapped longitudes mostly need no wrapping here; this runs for every vertex drawn.
  const int64_t d = static_cast<int64_t>(iLong) - cm;
  if (d > -GU_180 && d <= GU_180) return static_cast<int32_t>(d);
  return LongWrap64(d);
}

// The segment a-b runs across the meridian opposite cm: both ends lie more than 90 degrees
// from cm, on opposite sides.
bool CrossesFarMeridian(const TGPointLL& a, const TGPointLL& b, int32_t cm)
{
  const int32_t ra = RelativeLong(a.iLongX, cm);
  const int32_t rb = RelativeLong(b.iLongX, cm);
  return (ra > GU_90 && rb < -GU_90) || (ra < -GU_90 && rb > GU_90);
}

// Where a-b meets the far meridian: its latitude (and height), and the two points just beside
// the meridian on a's side and on b's side.
struct FarCut
{
  TGPointLL onA;
  TGPointLL onB;
};
FarCut CutAtFarMeridian(const TGPointLL& a, const TGPointLL& b, int32_t cm)
{
  const int64_t ra = RelativeLong(a.iLongX, cm);
  int64_t rb = RelativeLong(b.iLongX, cm);
  rb += ra > 0 ? GU_360 : -GU_360; // b continued past the meridian
  const int64_t edge = ra > 0 ? GU_180 : -GU_180;
  const long double t = rb == ra ? 0 : static_cast<long double>(edge - ra) / (rb - ra);
  const auto lat = RoundToInt32(a.iLatY + (static_cast<long double>(b.iLatY) - a.iLatY) * t);
  const auto h = RoundToInt32(a.iHeightZ + (static_cast<long double>(b.iHeightZ) - a.iHeightZ) * t);
  const int32_t sideA = ra > 0 ? GU_180 - 1 : -GU_180 + 1;
  return {PointLLH(LongWrap64(static_cast<int64_t>(cm) + sideA), lat, h),
          PointLLH(LongWrap64(static_cast<int64_t>(cm) - sideA), lat, h)};
}

// The number of the chain's segments (with the closing one when closed) that run across the
// meridian opposite cm.
size_t FarCrossings(const TGPointStore& chain, bool closed, int32_t cm)
{
  const std::span<const TGPointLL> pts = chain.Points();
  const size_t n = pts.size();
  if (n < 2) return 0;
  // CrossesFarMeridian for each segment, with each vertex's side taken once: +1 more than 90
  // degrees east of cm, -1 more than 90 degrees west, 0 between; a segment crosses when its
  // ends lie on opposite sides.
  const auto side = [cm](const TGPointLL& p) {
    const int32_t r = RelativeLong(p.iLongX, cm);
    return static_cast<int>(r > GU_90) - static_cast<int>(r < -GU_90);
  };
  const int first = side(pts[0]);
  int last = first;
  size_t crossings = 0;
  for (size_t i = 1; i < n; ++i) {
    const int s = side(pts[i]);
    crossings += last * s < 0;
    last = s;
  }
  if (closed) crossings += last * first < 0;
  return crossings;
}

// A vertex exactly on the far meridian belongs to the map's east edge (as CrossesFarMeridian
// counts it), which flat maps leave out: it moves one unit inside.
TGPointLL OnMap(const TGPointLL& p, int32_t cm)
{
  if (RelativeLong(p.iLongX, cm) != GU_180) return p;
  return PointLLH(LongWrap64(static_cast<int64_t>(cm) + GU_180 - 1), p.iLatY, p.iHeightZ);
}

// The file for a name relative to the program folder ("\" read as "/"); the name itself when
// it is absolute or no such file lies there.
QString ResolveFileName(const std::string& name)
{
  QString n = QString::fromStdString(name);
  n.replace('\\', '/');
  if (QDir::isAbsolutePath(n)) return n;
  const QString inProgramFolder = QCoreApplication::applicationDirPath() + '/' + n;
  if (QFileInfo::exists(inProgramFolder)) return inProgramFolder;
  return n;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Life cycle

TGGlobe::TGGlobe(QWidget* parent)
    : QAbstractScrollArea(parent), FSurfaceTexture(std::make_unique<TGBitmap>())
{
  FClock.start();
  setFrameShape(QFrame::NoFrame);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setMouseTracking(true);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  viewport()->setAutoFillBackground(false);
  // A click in a bar's trough pans by half a page; the page itself stays the view's size, so
  // the thumb shows how much of the map is in view.
  for (QScrollBar* bar : {horizontalScrollBar(), verticalScrollBar()})
    connect(bar, &QScrollBar::actionTriggered, this, [bar](int action) {
      const int half = bar->pageStep() / 2;
      if (action == QAbstractSlider::SliderPageStepAdd)
        bar->setSliderPosition(std::min(bar->maximum(), bar->value() + half));
      else if (action == QAbstractSlider::SliderPageStepSub)
        bar->setSliderPosition(std::max(bar->minimum(), bar->value() - half));
    });
  resize(150, 150);
  FLastOuterSize = size();
  FClientWidth = 150;
  FClientHeight = 150;

  FRootLayer = std::make_unique<TGLayer>(this);
  FSelection = std::make_unique<TGGlobeSelection>(*FRootLayer);
  FGraticule = std::make_unique<TGGraticule>(this);
  FGraticule->SetHost(this);
  FGraticule->OnChanged = [this] { RedrawLayers(); };
  FRenderer = std::make_unique<TGDefaultRenderer>(this);
  FRenderer->SetHost(this);
  FRenderer->SetPixelsPerInch(ScreenPixelsPerInch());
  FRenderer->SetSize(FClientWidth, FClientHeight);
  FProjector = std::make_unique<TGProjector>(*this, this);
  FProjector->OnRotated = [this] {
    if (OnRotated) OnRotated(*this);
  };
  FProjector->OnPanned = [this] {
    if (OnPanned) OnPanned(*this);
  };
  FProjector->OnZoomed = [this] {
    if (OnZoomed && !FZoomingToRect) OnZoomed(*this);
  };
  FProjector->SetProjectionClass("TGSphericalPrj");
  FProjector->SetScaleFactor(0);
  FProjector->SetCenterXY({FClientWidth / 2, FClientHeight / 2});
  FLabelRenderer = std::make_unique<TGLabelRenderer>(this);
  FLabelRenderer->SetHost(this);
  FRootLayer->SetHost(this);
  SetScrollBars(ssBoth);
  Clear();
}

TGGlobe::~TGGlobe()
{
  NotifySubscribers(gnDestroying);
  FDestroying = true;
  FSpatialDatabaseLink.reset();
  FRootLayer->SetHost(nullptr);
  FLabelRenderer->SetHost(nullptr);
  FGraticule->SetHost(nullptr);
  FRenderer->SetHost(nullptr);
}

TGSpatialDatabase* TGGlobe::SpatialDatabase() const
{
  return FSpatialDatabaseLink ? FSpatialDatabaseLink->Database() : nullptr;
}

void TGGlobe::SetSpatialDatabase(TGSpatialDatabase* value)
{
  if (value == SpatialDatabase()) return;
  FSpatialDatabaseLink = AttachSpatialDatabase(*this, value);
  NotifyLayerTreeChanged();
}

void TGGlobe::Clear()
{
  FRootLayer->Clear();
  auto point = std::make_unique<TGPointPresenter>(this);
  point->SetPresenterID(-1);
  point->SetPointUnit(guPixel);
  FRootLayer->Presenters().Add(std::move(point));
  auto poly = std::make_unique<TGPolyPresenter>(this);
  poly->SetPresenterID(-2);
  FRootLayer->Presenters().Add(std::move(poly));
  FRootLayer->Presenters().SetModified(false);
  RedrawLayers();
  if (!FEnvironmentFile.empty()) SaveEnvironmentToFile(FEnvironmentFile);
}

void TGGlobe::SetRenderer(std::unique_ptr<TGRenderer> renderer)
{
  if (!renderer) renderer = std::make_unique<TGDefaultRenderer>(this);
  renderer->SetHost(this);
  renderer->SetPixelsPerInch(ScreenPixelsPerInch());
  renderer->SetSize(FClientWidth, FClientHeight);
  FRenderer->SetHost(nullptr);
  FRenderer = std::move(renderer);
  RedrawLayers();
}

void TGGlobe::SetGraticule(std::unique_ptr<TGGraticule> graticule)
{
  if (!graticule) graticule = std::make_unique<TGGraticule>(this);
  graticule->SetHost(this);
  graticule->OnChanged = [this] { RedrawLayers(); };
  FGraticule->SetHost(nullptr);
  FGraticule->OnChanged = nullptr;
  FGraticule = std::move(graticule);
  RedrawLayers();
}

// ---------------------------------------------------------------------------------------------
// Environment

void TGGlobe::SaveToXML(TGXML_Element& el)
{
  el.AddAttribute("SurfaceTextureName", FSurfaceTextureName);
  el.AddColorAttribute("SurfaceColor", FSurfaceColor, clAqua);
  el.AddColorAttribute("MinObjectColor", FMinObjectColor, clGray);
  el.AddIntAttribute("Width", FClientWidth, -1);
  el.AddIntAttribute("Height", FClientHeight, -1);
  FGraticule->SaveToXML(el.AddElement("Graticule"));
  FProjector->SaveToXML(el.AddElement("Projector"));
  FRenderer->SaveToXML(el.AddElement("Renderer"));
  FRootLayer->SaveToXML(el.AddElement("GlobeLayer"));
}

void TGGlobe::LoadFromXML(const TGXML_Element& el)
{
  Clear();
  // Layers found or made one by one would each run the layer-tree update (which may add and
  // free layers) in the middle of the load.
  BeginUpdate();
  try {
    const int32_t savedWidth = el.IntAttribute("Width", FClientWidth);
    const int32_t savedHeight = el.IntAttribute("Height", FClientHeight);
    SetSurfaceColor(el.ColorAttribute("SurfaceColor", clAqua));
    SetMinObjectColor(el.ColorAttribute("MinObjectColor", clGray));
    if (const TGXML_Element* graticule = el.Element("Graticule"))
      SetGraticule(CreateFromXMLAs<TGGraticule>(this, graticule, "TGGraticule"));
    if (const TGXML_Element* projector = el.Element("Projector"))
      FProjector->LoadFromXML(*projector);
    if (const TGXML_Element* root = el.Element("GlobeLayer")) {
      FRootLayer->LoadFromXML(*root);
    } else if (const TGXML_Element* store = el.Element("LayerStore")) {
      if (const TGXML_Element* presenters = el.Element("Presenters"))
        FRootLayer->Presenters().LoadFromXML(*presenters);
      FRootLayer->LayerStore().LoadFromXML(*store);
    }
    if (savedWidth >= 0 && savedHeight >= 0) {
      const long double saved = std::hypot(static_cast<long double>(savedHeight), savedWidth);
      const long double now = std::hypot(static_cast<long double>(FClientHeight), FClientWidth);
      if (saved > 0 && now > 0) RescaleView(now / saved);
    }
    // Last: a texture file that cannot be read raises with everything else in place.
    SetSurfaceTextureName(el.Attribute("SurfaceTextureName", FSurfaceTextureName));
  } catch (...) {
    try {
      EndUpdate();
    } catch (...) {
      // The load's own error is the one to report.
    }
    throw;
  }
  EndUpdate();
}

void TGGlobe::SaveEnvironmentToFile(const std::string& sFilename)
{
  TGXML_Document doc("Globe");
  SaveToXML(doc.Document());
  if (OnSaveEnvironment) OnSaveEnvironment(*this, doc);
  doc.SaveToFile(sFilename);
}

void TGGlobe::LoadEnvironmentFromFile(const std::string& sFilename)
{
  FEnvironmentFile.clear();
  std::error_code ec;
  if (!std::filesystem::exists(sFilename, ec)) return;
  TGXML_Document doc("Globe");
  doc.LoadFromFile(sFilename);
  if (!doc.HasDocument() || !SameText(doc.DocumentTag(), "Globe"))
    throw EGException("TGGlobe.LoadEnvironmentFromFile: " + sFilename +
                      " is not an environment file");
  LoadFromXML(doc.Document());
  FEnvironmentFile = sFilename;
  if (OnLoadEnvironment) OnLoadEnvironment(*this, doc);
}

// ---------------------------------------------------------------------------------------------
// Properties

void TGGlobe::SetColor(TColor value)
{
  if (value == FColor) return;
  FColor = value;
  RedrawLayers();
}

void TGGlobe::SetSurfaceColor(TColor value)
{
  if (value == FSurfaceColor) return;
  FSurfaceColor = value;
  RedrawLayers();
}

void TGGlobe::SetSurfaceTextureName(const std::string& value)
{
  if (value == FSurfaceTextureName) return;
  FSurfaceTextureName = value;
  FSurfaceTexture->SetSize(0, 0);
  RedrawLayers();
  if (value.empty()) return;
  const QString file = ResolveFileName(value);
  if (!QFileInfo::exists(file)) {
    if (OnMissingImage) OnMissingImage(*this, value);
    return;
  }
  FSurfaceTexture->LoadFromFile(file.toStdString()); // leaves it empty when it raises
}

void TGGlobe::SetCullObjectPixels(long double value)
{
  FCullObjectPixels = value;
  RedrawLayers();
}

void TGGlobe::SetMinObjectPixels(long double value)
{
  FMinObjectPixels = value;
  RedrawLayers();
}

void TGGlobe::SetMinObjectColor(TColor value)
{
  FMinObjectColor = value;
  RedrawLayers();
}

void TGGlobe::SetGlobeOptions(TGGlobeOptions value)
{
  FGlobeOptions = value;
  RedrawLayers();
}

void TGGlobe::SetScrollBars(TGScrollBars value)
{
  FScrollBars = value;
  const bool h = value == ssHorizontal || value == ssBoth;
  const bool v = value == ssVertical || value == ssBoth;
  setHorizontalScrollBarPolicy(h ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(v ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
  UpdateScrollBars();
}

int32_t TGGlobe::ScreenPixelsPerInch() const
{
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    return std::max(1, RoundToInt32(screen->logicalDotsPerInch()));
  return 96;
}

int32_t TGGlobe::GlobeUnitsFrom(long double eValue, TGUnitTypes units) const
{
  return vtr::GlobeUnitsFrom(eValue, units, FProjector->ScaleFactor());
}

long double TGGlobe::GlobeUnitsTo(int32_t iValue, TGUnitTypes units) const
{
  return vtr::GlobeUnitsTo(iValue, units, FProjector->ScaleFactor());
}

int32_t TGGlobe::ScaleUnitsToDevice(int32_t value, TGUnitTypes units) const
{
  return FRenderer->ScaleUnitsToDevice(value, units);
}

// ---------------------------------------------------------------------------------------------
// Render control

void TGGlobe::RedrawLayers()
{
  if (FDestroying) return;
  FLayersNeedRedraw = true;
  if (!FPainting) viewport()->update();
}

void TGGlobe::RestartRender()
{
  if (FPainting) FRestart = true;
}

void TGGlobe::AbortRender()
{
  if (FPainting) FAborted = true;
}

void TGGlobe::EndUpdate()
{
  G_ASSERT_MSG(FUpdateCount > 0, "Mismatched BeginUpdate/EndUpdate");
  if (--FUpdateCount > 0) return;
  if (FLayerTreeUpdateRequired) ApplyLayerTreeUpdate();
  RedrawLayers();
}

void TGGlobe::NotifyLayerTreeChanged()
{
  if (FDestroying) return;
  // The label renderer names the layers of its titles; one of them may be gone. Its lists are
  // kept (a render in progress goes on adding to them) but forget their layers.
  for (int32_t i = 0; i < FLabelRenderer->LayerCount(); ++i)
    FLabelRenderer->ForgetLayer(FLabelRenderer->LayerTitles(i).Layer);
  FLayerTreeUpdateRequired = true;
  RestartRender();
  if (FUpdateCount == 0) ApplyLayerTreeUpdate();
}

void TGGlobe::ApplyLayerTreeUpdate()
{
  if (FInLayerTreeUpdate) return;
  FInLayerTreeUpdate = true;
  FLayerTreeUpdateRequired = false;
  struct Done
  {
    TGGlobe& g;
    ~Done()
    {
      g.FLayerTreeUpdateRequired = false;
      g.FInLayerTreeUpdate = false;
    }
  } done{*this};
  if (OnUpdateLayerTree) {
    ++FUpdateCount;
    try {
      OnUpdateLayerTree(*this);
    } catch (...) {
      --FUpdateCount;
      throw;
    }
    --FUpdateCount;
  }
  NotifySubscribers(gnLayersChanged);
  if (OnLayersChanged) OnLayersChanged(*this);
  RedrawLayers();
}

void TGGlobe::NotifySubscribers(int32_t code)
{
  // By index: a subscriber may unsubscribe while it is told.
  for (size_t i = 0; i < FSubscribers.size(); ++i) {
    const std::shared_ptr<IGlobeSubscriber> s = FSubscribers[i];
    if (s) s->GlobeNotification(*this, code);
  }
}

void TGGlobe::Subscribe(std::shared_ptr<IGlobeSubscriber> subscriber)
{
  if (!subscriber) return;
  if (std::find(FSubscribers.begin(), FSubscribers.end(), subscriber) != FSubscribers.end()) return;
  FSubscribers.push_back(std::move(subscriber));
}

void TGGlobe::UnSubscribe(const IGlobeSubscriber* subscriber)
{
  std::erase_if(FSubscribers, [subscriber](const auto& s) { return s.get() == subscriber; });
}

void TGGlobe::Paint(QPainter* controlCanvas)
{
  if (FDestroying || FPainting) return;
  FControlCanvas = controlCanvas;
  FRenderer->RefreshDC();
  if (OnBeforeRender) OnBeforeRender(*this);
  FAborted = false;
  FPainting = true;
  {
    struct Done
    {
      TGGlobe& g;
      ~Done()
      {
        g.FPainting = false;
        g.FRestart = false;
        g.FControlCanvas = nullptr;
      }
    } done{*this};
    for (int pass = 0;; ++pass) {
      FRestart = false;
      if ((FUpdateCount == 0 && FLayersNeedRedraw) || !FRenderer->DoubleBuffer()) RenderCycle();
      if (FRestart && !FAborted && pass < kMaxRestarts) continue;
      CopyBackBuffer();
      if (FDrawFocusRect && FControlCanvas) {
        FControlCanvas->save();
        FControlCanvas->setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        FControlCanvas->setPen(QPen(Qt::white, 1, Qt::DotLine));
        FControlCanvas->setBrush(Qt::NoBrush);
        FControlCanvas->drawRect(QRect(FFocusStart, FFocusEnd).normalized());
        FControlCanvas->restore();
      }
      if (OnPaint) OnPaint(*this);
      FLayersNeedRedraw = false;
      break;
    }
    FRenderer->RefreshDC();
  }
  if (OnAfterRender) OnAfterRender(*this);
}

void TGGlobe::RenderFrame()
{
  FLayersNeedRedraw = true;
  Paint(nullptr);
}

void TGGlobe::CopyBackBuffer()
{
  if (!FControlCanvas || !FRenderer->DoubleBuffer()) return;
  if (auto* r = dynamic_cast<TGDefaultRenderer*>(FRenderer.get()))
    r->CopyBackBuffer(*FControlCanvas, 0, 0);
}

void TGGlobe::DoOnRender()
{
  if (!FPainting) FRenderer->RefreshDC();
  if (OnRender) OnRender(*this);
  FRenderer->RefreshDC();
  NotifySubscribers(gnRendered);
  if (!FPainting) viewport()->update();
}

bool TGGlobe::RenderMustStop()
{
  return FRestart || FAborted || QCoreApplication::closingDown();
}

void TGGlobe::PeriodicUpdate()
{
  if (FPeriodicUpdateTime <= 0 || !FPainting || FForeignCanvas) return;
  const qint64 now = FClock.elapsed();
  if (now < FRenderUpdateTime) return;
  CopyBackBuffer();
  FRenderUpdateTime = now + FPeriodicUpdateTime;
  if (OnPeriodicUpdate) OnPeriodicUpdate(*this);
}

void TGGlobe::RenderGraticule()
{
  if (OnPaintGraticule) {
    FRenderer->RefreshDC();
    OnPaintGraticule(*this);
  } else {
    FGraticule->Render();
  }
}

void TGGlobe::RenderCycle()
{
  TGRenderer& r = *FRenderer;
  r.RefreshDC();
  FRenderUpdateTime = FClock.elapsed() + FPeriodicUpdateTime;
  TGCustomProjectionModel* model = FProjector->ProjectionModel();

  FViewMER = RectToMER({0, 0, r.Width(), r.Height()});
  if (MERIsEmpty(FViewMER)) FViewMER = DDToMER(-180, -90, 360, 180);

  // Background.
  if (!FBackgroundImage.Empty()) {
    if (QPainter* c = r.Canvas())
      c->fillRect(QRect(0, 0, r.Width(), r.Height()), QBrush(FBackgroundImage.Image()));
    r.RefreshDC();
  } else if (FGlobeOptions & goTransparentBackground) {
    // What lies behind the control is not at hand here: its parent's background colour stands
    // in for it.
    const QColor bk = parentWidget() ? parentWidget()->palette().window().color() : Qt::black;
    r.Clear(RGBColor(static_cast<uint8_t>(bk.red()), static_cast<uint8_t>(bk.green()),
                     static_cast<uint8_t>(bk.blue())));
  } else {
    r.Clear(FColor);
  }
  if (!model) return;

  // Surface.
  if (FSurfaceColor != clNone) {
    r.Pen().Define(clBlack, gpsClear, 1, guPixel);
    r.Brush().Define(FSurfaceColor, FSurfaceColor, gbsSolid);
    r.SetAlphaBlend(255);
    model->PaintSurface();
  }
  if (!FSurfaceTexture->Empty()) model->PaintSurfaceImage(*FSurfaceTexture);

  if (FGraticule->DrawMode() == gdBehind) RenderGraticule();

  // Layers.
  FLabelRenderer->Clear();
  FLabelRenderer->BeginLayer(*FRootLayer);
  FRootLayer->Render(true, FViewMER);
  while (FRootLayer->ReRenderLayer() && !RenderMustStop())
    FRootLayer->Render(false, FViewMER);

  r.Pen().SetColor(clRed);
  RenderViewOutline();

  if (!FRestart) {
    if (OnRender) OnRender(*this);
    r.RefreshDC();
    NotifySubscribers(gnRendered);
  }
  if (FGraticule->DrawMode() == gdInFront) RenderGraticule();
  if (!FRestart) FLabelRenderer->Render();
}

void TGGlobe::RenderViewOutline()
{
  const int64_t west = static_cast<int64_t>(FViewMER.iLongX) + 1;
  const int64_t east = MERRight(FViewMER) - 1;
  const auto south = static_cast<int32_t>(FViewMER.iLatY + 1);
  const auto north = static_cast<int32_t>(MERTop(FViewMER) - 1);
  const auto at = [](int64_t lon, int32_t lat) { return PointLL(LongWrap64(lon), lat); };
  // Pieces of at most 90 degrees, so that no piece is taken the short way round.
  for (int64_t lon = west; lon < east; lon += GU_90) {
    const int64_t next = std::min<int64_t>(lon + GU_90, east);
    RenderLine(at(lon, south), at(next, south), 16);
    RenderLine(at(next, north), at(lon, north), 16);
  }
  RenderLine(at(west, north), at(west, south), 32);
  RenderLine(at(east, south), at(east, north), 32);
}

// ---------------------------------------------------------------------------------------------
// View

TGMER TGGlobe::RectToMER(const TGRect& rect)
{
  const TGRect r = NormalizeRect(rect);
  const int64_t w = static_cast<int64_t>(r.Right) - r.Left;
  const int64_t h = static_cast<int64_t>(r.Bottom) - r.Top;
  FViewSamples.SetCount(0);
  TGPointLL ll;
  const auto sample = [this, &ll](int32_t x, int32_t y) {
    if (!FProjector->DeviceXYToLL(x, y, ll)) return false;
    FViewSamples.Add(ll);
    return true;
  };
  for (int j = 0; j <= kViewSamples; ++j) {
    const auto y = static_cast<int32_t>(r.Top + h * j / kViewSamples);
    int32_t prevX = r.Left;
    bool prevOn = false;
    for (int i = 0; i <= kViewSamples; ++i) {
      const auto x = static_cast<int32_t>(r.Left + w * i / kViewSamples);
      const bool on = sample(x, y);
      if (i > 0 && on != prevOn) {
        // Halving towards the edge of the map between the two samples.
        const long double cell = x - prevX;
        long double pos = x - cell / 2;
        long double step = cell / 2;
        for (;;) {
          const bool s = sample(static_cast<int32_t>(pos), y);
          step /= 2;
          if (step < 1) break;
          pos += s == on ? -step : step;
        }
      }
      prevX = x;
      prevOn = on;
    }
  }
  if (FViewSamples.Count() <= 10) return {};
  const TGMER m = FViewSamples.PointStoreMER();
  return m.iWidthX > kWorldWidth ? WorldMER() : m;
}

void TGGlobe::SetClientSize(int32_t newWidth, int32_t newHeight)
{
  newWidth = std::max(0, newWidth);
  newHeight = std::max(0, newHeight);
  FClientWidth = newWidth;
  FClientHeight = newHeight;
  const int32_t oldWidth = FRenderer->Width();
  const int32_t oldHeight = FRenderer->Height();
  if (newWidth == oldWidth && newHeight == oldHeight) return;
  FRenderer->SetSize(newWidth, newHeight);
  FRenderer->SetPixelsPerInch(ScreenPixelsPerInch());
  if (oldWidth == 0 || oldHeight == 0) {
    FProjector->SetCenterXY({newWidth / 2, newHeight / 2});
  } else if (newWidth > 0 && newHeight > 0) {
    RescaleView(std::hypot(static_cast<long double>(newHeight), newWidth) /
                std::hypot(static_cast<long double>(oldHeight), oldWidth));
  }
  UpdateScrollBars();
  RedrawLayers();
}

void TGGlobe::RescaleView(long double k)
{
  const TGPoint origin = FProjector->CenterXY();
  FProjector->SetScaleFactor(k * FProjector->ScaleFactor());
  FProjector->SetCenterXY({RoundToInt32(k * origin.X), RoundToInt32(k * origin.Y)});
}

void TGGlobe::resizeEvent(QResizeEvent* event)
{
  QAbstractScrollArea::resizeEvent(event);
  const QSize client = viewport()->size();
  if (size() == FLastOuterSize && FRenderer->Width() > 0 && FRenderer->Height() > 0) {
    // Only the scroll bars came or went: the map keeps its scale and origin.
    FClientWidth = client.width();
    FClientHeight = client.height();
    FRenderer->SetSize(FClientWidth, FClientHeight);
    RedrawLayers();
    return;
  }
  FLastOuterSize = size();
  SetClientSize(client.width(), client.height());
}

void TGGlobe::LocateToLL(int32_t iLong, int32_t iLat)
{
  FProjector->LocateToLL(iLong, iLat);
}

void TGGlobe::LocateToDD(long double longDeg, long double latDeg)
{
  LocateToLL(DDToPointLL(longDeg, latDeg));
}

void TGGlobe::LocateToObject(IGMapPoint& obj)
{
  const TGMER m = obj.ObjectMER();
  LocateToLL(LongWrap64(static_cast<int64_t>(m.iLongX) + m.iWidthX / 2), m.iLatY + m.iHeightY / 2);
}

void TGGlobe::PanViewXY(int32_t iX, int32_t iY)
{
  if (iX != 0 || iY != 0) {
    const long double sf = FProjector->ScaleFactor();
    const TGPoint o = FProjector->CenterXY();
    FProjector->SetCenterXY({ClampToInt32(o.X - static_cast<int64_t>(std::nearbyint(iX * sf))),
                             ClampToInt32(o.Y - static_cast<int64_t>(std::nearbyint(iY * sf)))});
    if (OnPanned) OnPanned(*this);
  }
  UpdateScrollBars();
  RedrawLayers();
}

void TGGlobe::SetViewRect(const TGRect& rect)
{
  // rect: left, top, width, height (GU).
  try {
    if (rect.Right == 0 || rect.Bottom == 0) {
      FProjector->SetScaleFactor(0);
    } else {
      const long double rw = FRenderer->Width(), rh = FRenderer->Height();
      const long double gw = std::abs(static_cast<long double>(rect.Right));
      const long double gh = std::abs(static_cast<long double>(rect.Bottom));
      long double a = std::min(rw / gw, rh / gh);
      a = std::min(a, 1.0L);
      const long double maxZoom = FProjector->MaxZoom(), minZoom = FProjector->MinZoom();
      if (maxZoom > minZoom) a = std::clamp(a, minZoom, maxZoom);
      const long double side = std::max(rw, rh);
      if (side / a > 2147483647.0L) a = side / 2147483647.0L;
      const long double sf = FProjector->ScaleFactor();
      const TGPoint o = FProjector->CenterXY();
      // The point at the rectangle's centre comes to the renderer's centre.
      const long double cx = rect.Left + static_cast<long double>(rect.Right) / 2;
      const long double cy = rect.Top + static_cast<long double>(rect.Bottom) / 2;
      const long double xo = rw / 2 - cx * a + o.X * a / sf;
      const long double yo = rh / 2 - cy * a + o.Y * a / sf;
      if (a != sf) {
        FViewRect = {0, 0, RoundToInt32(rw / a), RoundToInt32(rh / a)};
        // One zoomed event, once the origins are in place too.
        FZoomingToRect = true;
        try {
          FProjector->SetScaleFactor(a);
          FProjector->SetCenterXY({RoundToInt32(xo), RoundToInt32(yo)});
        } catch (...) {
          FZoomingToRect = false;
          throw;
        }
        FZoomingToRect = false;
        if (OnZoomed) OnZoomed(*this);
      }
    }
  } catch (const std::exception&) {
    // A zoom that cannot be had leaves the view as far as it got.
  }
  UpdateScrollBars();
}

void TGGlobe::UpdateScrollBars()
{
  if (!FProjector || FDestroying || FUpdatingScrollBars) return;
  FUpdatingScrollBars = true;
  struct Done
  {
    bool& flag;
    ~Done() { flag = false; }
  } done{FUpdatingScrollBars};
  const long double sf = FProjector->ScaleFactor();
  if (sf <= 0) return;
  const TGRect ext = FProjector->ExtentsLL();
  const int32_t w = FRenderer->Width(), h = FRenderer->Height();
  const TGPoint o = FProjector->CenterXY();
  // Scroll positions: the GU offset of the view's top-left corner from the projection's
  // centre (x right, y down), so that moving a bar by d pans by d (PanViewXY).
  const auto setBar = [](QScrollBar* bar, int64_t lo, int64_t hi, int64_t page, int64_t pos) {
    page = std::clamp<int64_t>(page, 1, GU_360);
    const int64_t max = std::max(lo, hi - page);
    bar->setRange(static_cast<int>(lo), static_cast<int>(max));
    bar->setPageStep(static_cast<int>(page));
    bar->setSingleStep(static_cast<int>(std::max<int64_t>(1, page / 20)));
    const int64_t v = std::clamp(pos, lo, max);
    bar->setValue(static_cast<int>(v));
    return static_cast<int32_t>(v);
  };
  int64_t top = std::max<int64_t>(std::min(ext.Top, ext.Bottom), -GU_90);
  int64_t bottom = std::min<int64_t>(std::max(ext.Top, ext.Bottom), GU_90);
  int64_t left = std::max<int64_t>(std::min(ext.Left, ext.Right), -GU_180);
  int64_t right = std::min<int64_t>(std::max(ext.Left, ext.Right), GU_180);
  if (FProjector->UseMinMaxLimits()) {
    top = std::max<int64_t>(top, -DDToGU(FProjector->MaxLatitude()));
    bottom = std::min<int64_t>(bottom, -DDToGU(FProjector->MinLatitude()));
    left = std::max<int64_t>(left, DDToGU(FProjector->MinLongitude()));
    right = std::min<int64_t>(right, DDToGU(FProjector->MaxLongitude()));
    // Keep the view inside the limits: the map's position in GU is the origin's offset.
    const int64_t pageH = static_cast<int64_t>(std::nearbyint(h / sf));
    const int64_t pageW = static_cast<int64_t>(std::nearbyint(w / sf));
    if (bottom - top < pageH && bottom > top) {
      FProjector->SetScaleFactor(h / static_cast<long double>(bottom - top));
    } else {
      const int64_t y0 = static_cast<int64_t>(std::nearbyint(-o.Y / sf));
      const int64_t y1 = std::clamp(y0, top, std::max(top, bottom - pageH));
      if (y1 != y0) FProjector->SetYOrigin(RoundToInt32(-y1 * sf));
    }
    if (right - left >= pageW) {
      const int64_t x0 = static_cast<int64_t>(std::nearbyint(-o.X / sf));
      const int64_t x1 = std::clamp(x0, left, std::max(left, right - pageW));
      if (x1 != x0) FProjector->SetXOrigin(RoundToInt32(-x1 * sf));
    }
  }
  const long double sf2 = FProjector->ScaleFactor();
  const TGPoint o2 = FProjector->CenterXY();
  FVScrollPos = setBar(verticalScrollBar(), top, bottom,
                       std::min<int64_t>(GU_180, static_cast<int64_t>(std::nearbyint(h / sf2))),
                       static_cast<int64_t>(std::nearbyint(-o2.Y / sf2)));
  FHScrollPos = setBar(horizontalScrollBar(), left, right,
                       std::min<int64_t>(GU_360, static_cast<int64_t>(std::nearbyint(w / sf2))),
                       static_cast<int64_t>(std::nearbyint(-o2.X / sf2)));
}

void TGGlobe::scrollContentsBy(int dx, int dy)
{
  (void)dx;
  (void)dy;
  if (FUpdatingScrollBars) return;
  const int32_t h = horizontalScrollBar()->value();
  const int32_t v = verticalScrollBar()->value();
  const int32_t ddx = h - FHScrollPos;
  const int32_t ddy = v - FVScrollPos;
  FHScrollPos = h;
  FVScrollPos = v;
  PanViewXY(ddx, ddy);
  if (FPeriodicUpdateTime > 0) RestartRender();
}

// ---------------------------------------------------------------------------------------------
// Selection, images, titles

int32_t TGGlobe::SelectObjects(const TGMER& aMER, bool firstOnly, bool state)
{
  return FRootLayer->SelectObjects(aMER, true, firstOnly, state);
}

bool TGGlobe::ClearSelected()
{
  return FSelection->Clear();
}

std::shared_ptr<TGBitmap> TGGlobe::LoadImage(const std::string& imageName)
{
  if (imageName.empty()) return nullptr;
  if (auto it = FImages.find(imageName); it != FImages.end()) return it->second;
  const QString file = ResolveFileName(imageName);
  std::shared_ptr<TGBitmap> image;
  if (QFileInfo::exists(file)) {
    image = std::make_shared<TGBitmap>();
    try {
      image->LoadFromFile(file.toStdString());
    } catch (const std::exception&) {
      image.reset();
    }
  }
  if (!image || image->Empty()) {
    if (OnMissingImage) OnMissingImage(*this, imageName);
    return nullptr;
  }
  FImages[imageName] = image;
  return image;
}

std::shared_ptr<IGMapPoint> TGGlobe::TitleAtLL(const TGPointLL& ptLL)
{
  return FLabelRenderer->ObjectAtLL(ptLL);
}

int32_t TGGlobe::SelectTitles(const TGMER& aMER, bool firstOnly, bool state)
{
  return FLabelRenderer->SelectObjects(aMER, firstOnly, state);
}

void TGGlobe::DoBeforeLayerRender(TGLayer& layer)
{
  if (OnBeforeLayerRender) OnBeforeLayerRender(*this, layer);
}

void TGGlobe::DoAfterLayerRender(TGLayer& layer)
{
  if (OnAfterLayerRender) OnAfterLayerRender(*this, layer);
}

void TGGlobe::DoObjectRender(TGLayer& layer, IGMapPoint& mapObj, TGRenderStateSet State)
{
  if (OnObjectRender) OnObjectRender(*this, layer, mapObj, State);
  NotifySubscribers(gnRendered);
}

// ---------------------------------------------------------------------------------------------
// Mouse

bool TGGlobe::IsButton(Qt::MouseButton button, TGMouseButton which) const
{
  switch (which) {
  case mzbLeft:
    return button == Qt::LeftButton;
  case mzbRight:
    return button == Qt::RightButton;
  case mzbMiddle:
    return button == Qt::MiddleButton;
  case mzbNone:
    break;
  }
  return false;
}

void TGGlobe::mousePressEvent(QMouseEvent* event)
{
  setFocus();
  const QPoint p = event->position().toPoint();
  if (FDrawFocusRect) {
    FDrawFocusRect = false;
    FZooming = false;
    viewport()->update();
    return;
  }
  if (OnMouseDown) OnMouseDown(*this, event->button(), event->modifiers(), p.x(), p.y());
  if (event->modifiers() & (Qt::ShiftModifier | Qt::AltModifier | Qt::ControlModifier)) return;
  if (IsButton(event->button(), FMouseZoomButton)) {
    FZooming = true;
    FDrawFocusRect = true;
    FFocusStart = FFocusEnd = p;
  }
  if (IsButton(event->button(), FMouseRotateButton)) {
    TGPointLL ll;
    if (FProjector->DeviceXYToLL(p.x(), p.y(), ll)) {
      FRotateAnchor = ll;
      FRotating = true;
    }
  }
}

void TGGlobe::mouseMoveEvent(QMouseEvent* event)
{
  const QPoint p = event->position().toPoint();
  if (FDrawFocusRect) {
    FFocusEnd = p;
    viewport()->update();
  }
  if (FRotating) {
    TGPointLL ll;
    if (FProjector->DeviceXYToLL(p.x(), p.y(), ll)) {
      FProjector->SetXRotation(FProjector->XRotation() +
                               static_cast<long double>(FRotateAnchor.iLatY - ll.iLatY) /
                                   GU_DEGREE);
      FProjector->SetYRotation(
          FProjector->YRotation() +
          static_cast<long double>(LongWrap(FRotateAnchor.iLongX - ll.iLongX)) / GU_DEGREE);
      if (FPeriodicUpdateTime > 0) RestartRender();
    }
  }
  if (OnMouseMove) OnMouseMove(*this, event->modifiers(), p.x(), p.y());
}

void TGGlobe::mouseReleaseEvent(QMouseEvent* event)
{
  const QPoint p = event->position().toPoint();
  const Qt::MouseButton button = event->button();
  if (button == Qt::LeftButton && viewport()->rect().contains(p) && OnClick) OnClick(*this);
  if (FZooming) {
    FZooming = false;
    FDrawFocusRect = false;
    FFocusEnd = p;
    const QRect r = QRect(FFocusStart, FFocusEnd).normalized();
    const int32_t left = std::min(FFocusStart.x(), FFocusEnd.x());
    const int32_t right = std::max(FFocusStart.x(), FFocusEnd.x());
    const int32_t top = std::min(FFocusStart.y(), FFocusEnd.y());
    const int32_t bottom = std::max(FFocusStart.y(), FFocusEnd.y());
    (void)r;
    if (right - left < 10 || bottom - top < 10) {
      viewport()->update();
    } else {
      const long double sf = FProjector->ScaleFactor();
      const int32_t gl = RoundToInt32(left / sf);
      const int32_t gt = RoundToInt32(top / sf);
      const TGRect gu{gl, gt, RoundToInt32(right / sf) - gl, RoundToInt32(bottom / sf) - gt};
      if (FFocusEnd.x() < FFocusStart.x() || FFocusEnd.y() < FFocusStart.y())
        FProjector->SetScaleFactor(sf * 0.5L);
      else
        SetViewRect(gu);
      RedrawLayers();
    }
  }
  FRotating = false;
  if (auto obj = FRootLayer->ObjectAtXY(p.x(), p.y())) {
    if (IsButton(button, FMouseSelectButton)) {
      const bool wasSelected = obj->Selected();
      if (!(FGlobeOptions & goMultiSelect)) ClearSelected();
      obj->SetSelected(!wasSelected);
      if (OnSelectionChange) OnSelectionChange(*this);
      RedrawLayers();
    }
    if (button == Qt::LeftButton && OnObjectClick) OnObjectClick(*this, *obj);
  }
  if (OnMouseUp) OnMouseUp(*this, button, event->modifiers(), p.x(), p.y());
}

void TGGlobe::mouseDoubleClickEvent(QMouseEvent* event)
{
  (void)event;
  if (OnDblClick) OnDblClick(*this);
}

void TGGlobe::wheelEvent(QWheelEvent* event)
{
  bool handled = false;
  const QPoint p = event->position().toPoint();
  const int dy = event->angleDelta().y();
  if (dy > 0 && OnMouseWheelUp) OnMouseWheelUp(*this, event->modifiers(), p, handled);
  if (dy < 0 && OnMouseWheelDown) OnMouseWheelDown(*this, event->modifiers(), p, handled);
  event->setAccepted(handled);
}

void TGGlobe::enterEvent(QEnterEvent* event)
{
  QAbstractScrollArea::enterEvent(event);
  if (OnMouseEnter) OnMouseEnter(*this);
}

void TGGlobe::leaveEvent(QEvent* event)
{
  QAbstractScrollArea::leaveEvent(event);
  if (OnMouseLeave) OnMouseLeave(*this);
}

void TGGlobe::paintEvent(QPaintEvent* event)
{
  (void)event;
  QPainter painter(viewport());
  try {
    Paint(&painter);
  } catch (const std::exception& e) {
    // A paint that failed shows what it has; the next one tries again.
    qWarning("TGGlobe.Paint: %s", e.what());
  }
}

// ---------------------------------------------------------------------------------------------
// Other surfaces

void TGGlobe::WithRenderSize(int32_t width, int32_t height, const std::function<void()>& render)
{
  const int32_t oldWidth = FRenderer->Width();
  const int32_t oldHeight = FRenderer->Height();
  FForeignCanvas = true;
  if (width == oldWidth && height == oldHeight) {
    try {
      render();
    } catch (...) {
      FForeignCanvas = false;
      throw;
    }
    FForeignCanvas = false;
    return;
  }
  const std::unique_ptr<TGProjector> saved = FProjector->Clone();
  const TGRect savedView = FViewRect;
  const int32_t clientWidth = FClientWidth, clientHeight = FClientHeight;
  const auto restore = [&] {
    FRenderer->SetSize(oldWidth, oldHeight);
    FClientWidth = clientWidth;
    FClientHeight = clientHeight;
    FProjector->Assign(*saved);
    FViewRect = savedView;
    FForeignCanvas = false;
    UpdateScrollBars();
    RedrawLayers();
  };
  try {
    const TGPoint o = FProjector->CenterXY();
    const long double sf = FProjector->ScaleFactor();
    FRenderer->SetSize(width, height);
    FClientWidth = width;
    FClientHeight = height;
    long double k = 1;
    if (!(FGlobeOptions & goConstantScaleOnResize) && oldWidth > 0 && oldHeight > 0)
      k = std::hypot(static_cast<long double>(width), height) /
          std::hypot(static_cast<long double>(oldWidth), oldHeight);
    FProjector->SetScaleFactor(k * sf);
    if (FGlobeOptions & goFixedCenterXYOnResize)
      FProjector->SetCenterXY({RoundToInt32(width / 2.0L + (o.X - oldWidth / 2.0L) * k),
                               RoundToInt32(height / 2.0L + (o.Y - oldHeight / 2.0L) * k)});
    else
      FProjector->SetCenterXY({RoundToInt32(k * o.X), RoundToInt32(k * o.Y)});
    render();
  } catch (...) {
    restore();
    throw;
  }
  restore();
}

std::unique_ptr<TGBitmap> TGGlobe::GetBitmap(int32_t iWidth, int32_t iHeight)
{
  if (iWidth <= 0 || iHeight <= 0) {
    iWidth = FRenderer->Width();
    iHeight = FRenderer->Height();
  }
  auto out = std::make_unique<TGBitmap>();
  auto* r = dynamic_cast<TGDefaultRenderer*>(FRenderer.get());
  if (!r) return out;
  const bool doubleBuffer = r->DoubleBuffer();
  r->SetDoubleBuffer(true);
  try {
    WithRenderSize(iWidth, iHeight, [&] {
      RenderFrame();
      out->Assign(&r->BackBuffer());
    });
  } catch (...) {
    r->SetDoubleBuffer(doubleBuffer);
    throw;
  }
  r->SetDoubleBuffer(doubleBuffer);
  return out;
}

std::unique_ptr<QPicture> TGGlobe::GetMetaFile(int32_t iWidth, int32_t iHeight)
{
  auto picture = std::make_unique<QPicture>();
  {
    QPainter painter(picture.get());
    RenderToCanvas(painter, QRect(0, 0, iWidth, iHeight), false);
  }
  return picture;
}

void TGGlobe::RenderToCanvas(QPainter& ACanvas, const QRect& ARect, bool bAsImage)
{
  auto* r = dynamic_cast<TGDefaultRenderer*>(FRenderer.get());
  if (bAsImage || !r) {
    const std::unique_ptr<TGBitmap> picture = GetBitmap(ARect.width(), ARect.height());
    picture->Draw(ACanvas, ARect);
    return;
  }
  ACanvas.save();
  ACanvas.translate(ARect.topLeft());
  ACanvas.setClipRect(0, 0, ARect.width(), ARect.height());
  r->SetTargetCanvas(&ACanvas);
  try {
    WithRenderSize(ARect.width(), ARect.height(), [this] { RenderFrame(); });
  } catch (...) {
    r->SetTargetCanvas(nullptr);
    ACanvas.restore();
    throw;
  }
  r->SetTargetCanvas(nullptr);
  ACanvas.restore();
}

// ---------------------------------------------------------------------------------------------
// Paths

void TGGlobe::BeginPath(TGChainStore* chains)
{
  if (!chains) throw EGException("BeginPath: chains parameter is nil");
  if (FPath) throw EGException("BeginPath: Path is already open");
  FPath = chains;
}

void TGGlobe::EndPath()
{
  if (!FPath) throw EGException("EndPath: No Path is open");
  FPath = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Drawing primitives

void TGGlobe::DrawEllipse(const TGRect& rect)
{
  FRenderer->DrawEllipse(rect);
}

int32_t TGGlobe::CentralMeridianGU() const
{
  // The sphere shows YRotation at its centre; the flat maps centre on CentralMeridian.
  if (FProjector->IsContinuous()) return LongWrap64(DDToGU(FProjector->YRotation()));
  return LongWrap64(DDToGU(FProjector->CentralMeridian()));
}

void TGGlobe::AddProjectedRun(const TGPointLL* points, size_t count, int32_t penWidth)
{
  TGCustomProjectionModel& model = *FProjector->ProjectionModel();
  int32_t n = 0;
  for (size_t i = 0; i < count; ++i) {
    if (model.PointLLToXY(points[i], n)) {
      ++n;
      continue;
    }
    // An invisible point ends the run.
    if (n >= 2) FRenderer->AddClippedPoly(n, penWidth);
    n = 0;
  }
  if (n >= 2) FRenderer->AddClippedPoly(n, penWidth);
}

void TGGlobe::AddCutChain(const TGPointStore& chain, bool closed, int32_t penWidth)
{
  const std::span<const TGPointLL> pts = chain.Points();
  const size_t n = pts.size();
  if (n == 0) return;
  const int32_t cm = CentralMeridianGU();
  const size_t crossings = FarCrossings(chain, closed, cm);

  FPieceA.clear();
  FPieceB.clear();
  if (!closed) {
    // Lines: a new piece at every crossing, each reaching the map's edge.
    FPieceA.push_back(OnMap(pts[0], cm));
    for (size_t i = 0; i + 1 < n; ++i) {
      if (CrossesFarMeridian(pts[i], pts[i + 1], cm)) {
        const FarCut cut = CutAtFarMeridian(pts[i], pts[i + 1], cm);
        FPieceA.push_back(cut.onA);
        AddProjectedRun(FPieceA.data(), FPieceA.size(), penWidth);
        FPieceA.clear();
        FPieceA.push_back(cut.onB);
      }
      FPieceA.push_back(OnMap(pts[i + 1], cm));
    }
    AddProjectedRun(FPieceA.data(), FPieceA.size(), penWidth);
    return;
  }

  if (crossings % 2 == 1) {
    // A ring round a pole: at its first crossing it runs along the map's edge to the pole,
    // along the pole's edge and back up the other edge.
    bool detoured = false;
    for (size_t i = 0; i < n; ++i) {
      FPieceA.push_back(OnMap(pts[i], cm));
      const TGPointLL& next = pts[(i + 1) % n];
      if (!CrossesFarMeridian(pts[i], next, cm)) continue;
      const FarCut cut = CutAtFarMeridian(pts[i], next, cm);
      FPieceA.push_back(cut.onA);
      if (!detoured) {
        const int32_t pole = cut.onA.iLatY < 0 ? -GU_90 : GU_90;
        FPieceA.push_back(PointLLH(cut.onA.iLongX, pole, cut.onA.iHeightZ));
        FPieceA.push_back(PointLLH(cut.onB.iLongX, pole, cut.onB.iHeightZ));
        detoured = true;
      }
      FPieceA.push_back(cut.onB);
    }
    AddProjectedRun(FPieceA.data(), FPieceA.size(), penWidth);
    return;
  }

  // Rings that cross an even number of times: the vertices of each side, with the cut points
  // on that side, make one polygon each.
  bool onA = true;
  for (size_t i = 0; i < n; ++i) {
    (onA ? FPieceA : FPieceB).push_back(OnMap(pts[i], cm));
    const TGPointLL& next = pts[(i + 1) % n];
    if (i + 1 == n && !closed) break;
    if (!CrossesFarMeridian(pts[i], next, cm)) continue;
    const FarCut cut = CutAtFarMeridian(pts[i], next, cm);
    (onA ? FPieceA : FPieceB).push_back(cut.onA);
    onA = !onA;
    (onA ? FPieceA : FPieceB).push_back(cut.onB);
  }
  AddProjectedRun(FPieceA.data(), FPieceA.size(), penWidth);
  if (!FPieceB.empty()) AddProjectedRun(FPieceB.data(), FPieceB.size(), penWidth);
}

void TGGlobe::AddPoleClosedChain(const TGPointStore& chain, int32_t penWidth, bool roundPole)
{
  TGCustomProjectionModel& model = *FProjector->ProjectionModel();
  const std::span<const TGPointLL> pts = chain.Points();
  const size_t n = pts.size();
  const int32_t cm = CentralMeridianGU();
  if (!roundPole) {
    // Not round a pole: the ring closes by itself.
    const int32_t count = model.PointStoreToXY(chain, 0);
    FRenderer->AddClippedPoly(count, penWidth);
    return;
  }
  // Round a pole: at the first crossing, down the far meridian to the pole and back, so that
  // the part behind the globe follows its rim and the cap fills.
  FWorkChain.SetCount(0);
  FWorkChain.SetStoreHeight(chain.StoreHeight());
  const int32_t far = LongWrap64(static_cast<int64_t>(cm) + GU_180);
  bool detoured = false;
  for (size_t i = 0; i < n; ++i) {
    FWorkChain.Add(pts[i]);
    const TGPointLL& next = pts[(i + 1) % n];
    if (detoured || !CrossesFarMeridian(pts[i], next, cm)) continue;
    detoured = true;
    const int32_t lat = CutAtFarMeridian(pts[i], next, cm).onA.iLatY;
    const int32_t pole = lat < 0 ? -GU_90 : GU_90;
    const int32_t step = lat < 0 ? -kDetourStep : kDetourStep;
    for (int64_t l = lat; (step < 0 ? l > pole : l < pole); l += step)
      FWorkChain.Add({far, static_cast<int32_t>(l), 0});
    for (int64_t l = pole; (step < 0 ? l < lat : l > lat); l -= step)
      FWorkChain.Add({far, static_cast<int32_t>(l), 0});
  }
  const int32_t count = model.PointStoreToXY(FWorkChain, 0);
  FRenderer->AddClippedPoly(count, penWidth);
}

void TGGlobe::RenderChainStore(const TGChainStore& Chains, TGRenderStateSet State)
{
  if (FPath) {
    for (int32_t i = 0; i < Chains.Count(); ++i)
      if (const TGPointStore* chain = Chains.ChainAt(i)) FPath->Add(chain->Clone());
    return;
  }
  TGCustomProjectionModel* model = FProjector->ProjectionModel();
  if (!model) return;
  const int32_t w =
      FRenderer->ScaleUnitsToDevice(FRenderer->Pen().Width(), FRenderer->Pen().WidthUnit());
  const bool closed = (State & rsClosed) != 0;
  const bool sphere = model->IsContinuous();
  const auto drawn = [](const TGPointStore* chain) {
    return chain && !chain->Hidden() && chain->Count() > 0;
  };
  // On the sphere a ring round a pole fills with a detour to the pole; that detour is no edge
  // of the polygon, so such polygons are outlined separately, along their rings only.
  bool poleRing = false;
  const int32_t cm = CentralMeridianGU();
  if (sphere && closed) {
    for (int32_t i = 0; i < Chains.Count() && !poleRing; ++i)
      if (const TGPointStore* chain = Chains.ChainAt(i); drawn(chain))
        poleRing = FarCrossings(*chain, true, cm) % 2 == 1;
  }
  // Points behind the globe are pulled onto its rim so that the fill closes; the rim is no
  // edge of the polygon either, so polygons reaching behind the globe are outlined apart too,
  // along the visible runs of their rings.
  const bool outlineApart = poleRing || (sphere && closed && (State & rsBackFace));
  const TGPenStyle penStyle = FRenderer->Pen().Style();
  if (outlineApart) FRenderer->Pen().SetStyle(gpsClear);
  if (!outlineApart || FRenderer->Brush().Style() != gbsClear) {
    FRenderer->BeginDrawPoly(closed);
    for (int32_t i = 0; i < Chains.Count(); ++i) {
      const TGPointStore* chain = Chains.ChainAt(i);
      if (!drawn(chain)) continue;
      // Without a ring round a pole (every chain was counted above) no chain needs counting
      // again.
      if (sphere && closed)
        AddPoleClosedChain(*chain, w, poleRing && FarCrossings(*chain, true, cm) % 2 == 1);
      else
        AddCutChain(*chain, closed, w);
    }
    FRenderer->EndDrawPoly();
  }
  if (!outlineApart) return;
  FRenderer->Pen().SetStyle(penStyle);
  if (penStyle == gpsClear) return;
  FRenderer->BeginDrawPoly(false);
  const std::function<void(int32_t)> addRun = [this, w](int32_t count) {
    FRenderer->AddClippedPoly(count, w);
  };
  for (int32_t i = 0; i < Chains.Count(); ++i)
    if (const TGPointStore* chain = Chains.ChainAt(i); drawn(chain))
      model->PointStoreRunsToXY(*chain, true, addRun);
  FRenderer->EndDrawPoly();
}

void TGGlobe::RenderLine(const TGPointLL& ptFromLL, const TGPointLL& ptToLL, int32_t iSteps)
{
  TGCustomProjectionModel* model = FProjector->ProjectionModel();
  if (!model) return;
  if (iSteps <= 0) iSteps = 1;
  int64_t dLong = static_cast<int64_t>(ptToLL.iLongX) - ptFromLL.iLongX;
  if (dLong > 971'999'999)
    dLong -= GU_360;
  else if (dLong < -971'999'999)
    dLong += GU_360;
  const int64_t dLat = static_cast<int64_t>(ptToLL.iLatY) - ptFromLL.iLatY;
  const int64_t dHeight = static_cast<int64_t>(ptToLL.iHeightZ) - ptFromLL.iHeightZ;
  if (FLineChains.Count() == 0) FLineChains.Add(std::make_unique<TGPointStore>());
  FLineChains.SetCount(1);
  TGPointStore& chain = FLineChains.GetChain(0);
  chain.SetCount(0);
  chain.SetStoreHeight(ptFromLL.iHeightZ != 0 || ptToLL.iHeightZ != 0);
  for (int32_t i = 0; i <= iSteps; ++i)
    chain.Add(PointLLH(static_cast<int32_t>(LongWrap64(ptFromLL.iLongX + dLong * i / iSteps)),
                       static_cast<int32_t>(ptFromLL.iLatY + dLat * i / iSteps),
                       static_cast<int32_t>(ptFromLL.iHeightZ + dHeight * i / iSteps)));
  TGRenderStateSet state = 0;
  if (model->VisibleMER(chain.PointStoreMER(), state))
    RenderChainStore(FLineChains, static_cast<TGRenderStateSet>(state & ~rsClosed));
}

void TGGlobe::RenderGreatCircleLine(const TGPointLL& ptFromLL, const TGPointLL& ptToLL,
                                    TGGreatCircle CircleType)
{
  const TGPoint3D u1 = LLToUnitVector(ptFromLL);
  const TGPoint3D u2 = LLToUnitVector(ptToLL);
  long double theta = std::acos(std::clamp(V3Dot(u1, u2), -1.0, 1.0));
  if (CircleType == gcLongest) theta = 2 * GU_PI - theta;
  if (CircleType == gcCircle) theta = 2 * GU_PI;
  // Truncated to whole degrees; the margin keeps an exact 90 degrees from coming out as 89.
  const auto n = static_cast<int32_t>(theta * 180 / GU_PI + 1e-9L);
  if (n < 1) {
    RenderLine(
        ptFromLL, ptToLL,
        FRenderer->ScaleUnitsToDevice(FRenderer->Pen().Width(), FRenderer->Pen().WidthUnit()));
    return;
  }
  const TGMatrix m =
      QuatToMatrix(QuatFromAxisAngle(V3Cross(u1, u2), static_cast<double>(-theta / n)));
  if (FLineChains.Count() == 0) FLineChains.Add(std::make_unique<TGPointStore>());
  FLineChains.SetCount(1);
  TGPointStore& chain = FLineChains.GetChain(0);
  chain.SetCount(0);
  chain.SetStoreHeight(false);
  TGPoint3D p = CircleType == gcLongest ? u2 : u1;
  chain.Add(Point3DToLL(p));
  for (int32_t i = 0; i < n; ++i) {
    p = V3MulMatrix(p, m);
    chain.Add(Point3DToLL(p));
  }
  RenderChainStore(FLineChains, rsFace | rsBackFace);
}

void TGGlobe::RenderCircle(const TGPointLL& ptLL, int32_t iRadius, TGUnitTypes radiusUnit,
                           int32_t iSteps)
{
  if (iSteps < 3 || iSteps > 360) iSteps = 36;
  const TGPoint3D centre = LLToUnitVector(ptLL);
  const TGMatrix m =
      QuatToMatrix(QuatFromAxisAngle(centre, 2 * static_cast<double>(GU_PI) / iSteps));
  int32_t lon = ptLL.iLongX;
  if (lon % GU_90 == 0) lon += 1; // off the axes, where the start point's longitude is unsure
  const int64_t lat = static_cast<int64_t>(ptLL.iLatY) + GlobeUnitsFrom(iRadius, radiusUnit);
  TGPoint3D p = V3Normalize(LLToPoint3D(lon, static_cast<long double>(lat), 0));
  if (FLineChains.Count() == 0) FLineChains.Add(std::make_unique<TGPointStore>());
  FLineChains.SetCount(1);
  TGPointStore& chain = FLineChains.GetChain(0);
  chain.SetCount(0);
  chain.SetStoreHeight(ptLL.iHeightZ != 0);
  const auto add = [&chain, &ptLL](const TGPoint3D& v) {
    TGPointLL q = Point3DToLL(v);
    q.iHeightZ = ptLL.iHeightZ;
    chain.Add(q);
  };
  add(p);
  for (int32_t i = 0; i < iSteps; ++i) {
    p = V3MulMatrix(p, m);
    add(p);
  }
  RenderChainStore(FLineChains, 0);
}

void TGGlobe::RenderPolygon(const TGPointStore& Points)
{
  if (FLineChains.Count() == 0) FLineChains.Add(std::make_unique<TGPointStore>());
  FLineChains.SetCount(1);
  FLineChains.GetChain(0).Assign(Points);
  // Whether it reaches behind the globe decides how it is outlined.
  TGRenderStateSet state = 0;
  if (TGCustomProjectionModel* model = FProjector->ProjectionModel())
    if (!model->VisibleMER(Points.PointStoreMER(), state)) return;
  RenderChainStore(FLineChains, static_cast<TGRenderStateSet>(state | rsClosed));
}

void TGGlobe::RenderPolyLine(const TGPointStore& Points)
{
  if (FLineChains.Count() == 0) FLineChains.Add(std::make_unique<TGPointStore>());
  FLineChains.SetCount(1);
  FLineChains.GetChain(0).Assign(Points);
  RenderChainStore(FLineChains, 0);
}

void TGGlobe::RenderTextOut(const TGPointLL& ptLL, const std::string& sText)
{
  TGPoint pt;
  if (FProjector->PointLLToXY(ptLL, pt)) FRenderer->DrawText(pt.X, pt.Y, sText, taNone, 0);
}

void TGGlobe::RenderTextureTriangle(const TGTriangle& srcTri, const TGTriangleLL& destTriLL,
                                    TGBitmap& image, bool selected)
{
  (void)selected;
  TGCustomProjectionModel* model = FProjector->ProjectionModel();
  TGTriangle dev;
  if (!model || !FProjector->TriangleLLToXY(destTriLL, dev)) return;
  if (model->IsContinuous()) {
    FRenderer->DrawTextureTriangle(srcTri, dev, image);
    return;
  }
  // Corners relative to the central meridian: a triangle runs across the meridian opposite it
  // when its corners spread over more than half the world. "West" corners lie east of the
  // centre, up to the map's east edge; the others continue past it at the west edge.
  const int32_t cm = CentralMeridianGU();
  int64_t rel[3];
  for (int i = 0; i < 3; ++i)
    rel[i] = RelativeLong(destTriLL[static_cast<size_t>(i)].iLongX, cm);
  if (std::max({rel[0], rel[1], rel[2]}) - std::min({rel[0], rel[1], rel[2]}) <= GU_180) {
    FRenderer->DrawTextureTriangle(srcTri, dev, image);
    return;
  }
  bool west[3];
  int westCount = 0;
  for (int i = 0; i < 3; ++i) {
    west[i] = rel[i] > 0;
    westCount += west[i];
  }
  // The corner alone on its side, and the cut on each edge (edge i runs from corner i to i+1).
  const int lone = westCount == 1 ? (west[0]   ? 0
                                     : west[1] ? 1
                                               : 2)
                                  : (!west[0]   ? 0
                                     : !west[1] ? 1
                                                : 2);
  struct Cut
  {
    int32_t lat;
    TGPoint tex;
  };
  const auto cutOf = [&](int i) {
    const int j = (i + 1) % 3;
    const TGPointLL& a = destTriLL[static_cast<size_t>(i)];
    const TGPointLL& b = destTriLL[static_cast<size_t>(j)];
    const TGPoint& ta = srcTri[static_cast<size_t>(i)];
    const TGPoint& tb = srcTri[static_cast<size_t>(j)];
    const int64_t edge = west[i] ? GU_180 : -GU_180;
    const int64_t rb = rel[j] + (west[i] ? GU_360 : -GU_360); // b continued past the edge
    if (rb == rel[i]) return Cut{a.iLatY, ta};
    const long double t = static_cast<long double>(edge - rel[i]) / (rb - rel[i]);
    return Cut{a.iLatY + RoundToInt32((static_cast<long double>(b.iLatY) - a.iLatY) * t),
               {ta.X + RoundToInt32((tb.X - ta.X) * t), ta.Y + RoundToInt32((tb.Y - ta.Y) * t)}};
  };
  const Cut after = cutOf(lone);            // on the edge lone -> lone + 1
  const Cut before = cutOf((lone + 2) % 3); // on the edge lone - 1 -> lone
  // Cut points one unit inside the edge of their side, so that no piece wraps round.
  const auto project = [&](int32_t lat, bool westSide, TGPoint& pt) {
    const int64_t lon = static_cast<int64_t>(cm) + (westSide ? GU_180 - 1 : -GU_180 + 1);
    return FProjector->PointLLToXY(PointLL(LongWrap64(lon), lat), pt);
  };
  const auto corner = [&](int i) { return dev[static_cast<size_t>(i)]; };
  const auto texCorner = [&](int i) { return srcTri[static_cast<size_t>(i)]; };
  const bool loneWest = west[lone];
  TGPoint pa, pb, qa, qb;
  // The lone corner's piece.
  if (project(after.lat, loneWest, pa) && project(before.lat, loneWest, pb))
    FRenderer->DrawTextureTriangle({texCorner(lone), after.tex, before.tex}, {corner(lone), pa, pb},
                                   image);
  // The other two corners' quadrilateral as two triangles.
  const int c1 = (lone + 1) % 3, c2 = (lone + 2) % 3;
  if (project(after.lat, !loneWest, qa) && project(before.lat, !loneWest, qb)) {
    FRenderer->DrawTextureTriangle({after.tex, texCorner(c1), texCorner(c2)},
                                   {qa, corner(c1), corner(c2)}, image);
    FRenderer->DrawTextureTriangle({after.tex, texCorner(c2), before.tex}, {qa, corner(c2), qb},
                                   image);
  }
}

TGPointLL TGGlobe::SunPosition(double GMTDateTime)
{
  const DateTimeFields f = DecodeDateTime(GMTDateTime);
  DateTimeFields winter;
  winter.year = f.year - 1;
  winter.month = 12;
  winter.day = 21;
  const double day = std::floor(GMTDateTime);
  const double d = day - EncodeDateTime(winter);
  const long double declination =
      std::atan(std::cos(d * 2 * static_cast<double>(GU_PI) / 365.24225) * 0.4333823) * 180 / GU_PI;
  const long double s = std::nearbyint((GMTDateTime - day) * 86400.0L);
  const auto minutes = static_cast<int64_t>(std::nearbyint(s * 0.25L));
  const int64_t lambda = (minutes % 21600) - 10800;
  return PointLL(ClampToInt32(lambda * -GU_MINUTE), -RoundToInt32(declination * GU_DEGREE));
}

void TGGlobe::RenderShadow(TColor ColorNight, int32_t TwilightDegrees, TGPointLL& ptSun,
                           uint8_t MaxAlpha, double GMTDateTime)
{
  ptSun = SunPosition(GMTDateTime);
  const TGPoint3D sunVec = LLToUnitVector(ptSun);
  const long double sx = sunVec.X * EarthRadiusGU, sy = sunVec.Y * EarthRadiusGU,
                    sz = sunVec.Z * EarthRadiusGU;
  const long double twilight = static_cast<long double>(TwilightDegrees) * GU_DEGREE;
  TGRenderer& r = *FRenderer;
  enum Kind { kOff, kDay, kNight, kTwilight };
  // Classifies (and paints) one pixel.
  const auto classify = [&](int32_t x, int32_t y) {
    TGPointLL ll;
    if (x < 0 || !FProjector->DeviceXYToLL(x, y, ll)) return kOff;
    const TGPoint3D u = LLToUnitVector(ll);
    const long double c = u.X * sx + u.Y * sy + u.Z * sz;
    if (c > 0) return kDay;
    if (c < -twilight) {
      r.DrawPixel(x, y, ColorNight, MaxAlpha);
      return kNight;
    }
    const long double a = twilight > 0 ? std::fabs(c / twilight) : 1;
    r.DrawPixel(
        x, y, ColorNight,
        static_cast<uint8_t>(std::clamp<long double>(std::nearbyint(a * MaxAlpha), 0, 255)));
    return kTwilight;
  };
  const int32_t width = r.Width(), height = r.Height();
  for (int32_t y = 0; y < height; ++y) {
    Kind prev = classify(0, y);
    for (int32_t x = kShadowStep; x - kShadowStep < width; x += kShadowStep) {
      const Kind cur = classify(x, y);
      if (cur != prev || cur == kTwilight || prev == kTwilight) {
        for (int32_t i = x - kShadowStep + 1; i < x; ++i)
          classify(i, y);
      } else if (cur == kNight) {
        for (int32_t i = x - kShadowStep + 1; i < x; ++i)
          r.DrawPixel(i, y, ColorNight, MaxAlpha);
      }
      prev = cur;
    }
  }
}

} // namespace vtr
