// Renderer: one full render cycle of the world outline at 1920 x 1080 on the spherical model,
// as vtrtool render runs it, against QPainter alone drawing the polylines that cycle drew for
// the outline (the floor); then a full screen of polylines and of filled polygons drawn
// through the renderer (point buffer, clipping, lent pens and brushes, poly-polygon drawing
// into the back buffer) against the same figures drawn straight with QPainter on an image of
// the same size, and the heap allocations of one such render once the renderer is warm.
#include "BenchSupport.h"
#include "Command.h"
#include "RenderSetup.h"
#include "globe/GBitmap.h"
#include "globe/GGlobe.h"
#include "globe/GGraticule.h"
#include "globe/GLayer.h"
#include "globe/GProjector.h"
#include "globe/GRenderer.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

// Every heap allocation of the process passes here; counted while gCounting is set.
extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
extern "C" void __libc_free(void*);
namespace {
std::atomic<bool> gCounting{false};
std::atomic<long> gAllocations{0};
inline void Note()
{
  if (gCounting.load(std::memory_order_relaxed))
    gAllocations.fetch_add(1, std::memory_order_relaxed);
}
} // namespace
extern "C" void* malloc(size_t n)
{
  Note();
  return __libc_malloc(n);
}
extern "C" void* calloc(size_t n, size_t size)
{
  Note();
  return __libc_calloc(n, size);
}
extern "C" void* realloc(void* p, size_t n)
{
  Note();
  return __libc_realloc(p, n);
}
extern "C" void free(void* p)
{
  __libc_free(p);
}

using namespace vtr;
using namespace vtrbench;

namespace {

constexpr int32_t kWidth = 1200, kHeight = 800;

// A globe without a window: the renderer, a projector for its scale, no control.
class Host : public IGProjectorHost, public IGRenderHost
{
public:
  Host() : projector(*this)
  {
    renderer.SetSize(kWidth, kHeight);
    renderer.SetHost(this);
    projector.SetProjectionClass("TGCartesianPrj");
    projector.SetScaleFactor(0);
  }
  ~Host() override { renderer.SetHost(nullptr); }
  TGDefaultRenderer& Renderer() override { return renderer; }
  TGProjector& Projector() override { return projector; }
  int32_t ScreenPixelsPerInch() const override { return 96; }
  int32_t ClientWidth() const override { return kWidth; }
  int32_t ClientHeight() const override { return kHeight; }
  void RedrawLayers() override {}
  void UpdateScrollBars() override {}
  int32_t PeriodicUpdateTime() const override { return 0; }
  void RestartRender() override {}
  TGRect ViewRect() const override { return {}; }
  void StoreViewRect(const TGRect&) override {}
  void SetViewRect(const TGRect&) override {}
  void RenderTextureTriangle(const TGTriangle&, const TGTriangleLL&, TGBitmap&, bool) override {}
  QPainter* ControlCanvas() override { return nullptr; }
  void RenderLine(const TGPointLL&, const TGPointLL&, int32_t) override {}
  void PeriodicUpdate() override {}
  bool RenderMustStop() override { return false; }

  TGDefaultRenderer renderer;
  TGProjector projector;
};

using Figure = std::vector<TGPoint>;

// count random walks of length points from the fixed random stream start; about one in ten
// wanders off the screen.
std::vector<Figure> Walks(int count, int length, uint64_t start)
{
  Rng rng(start);
  std::vector<Figure> figures(static_cast<size_t>(count));
  for (Figure& f : figures) {
    double x = rng.Uniform(0, kWidth), y = rng.Uniform(0, kHeight);
    for (int i = 0; i < length; ++i) {
      f.push_back({static_cast<int32_t>(std::lround(x)), static_cast<int32_t>(std::lround(y))});
      x += rng.Uniform(-8, 8);
      y += rng.Uniform(-8, 8);
    }
  }
  return figures;
}

// Closed star-like rings of 40 corners with radii up to 60 pixels, some across the edges.
std::vector<Figure> Rings(int count, uint64_t start)
{
  Rng rng(start);
  std::vector<Figure> figures(static_cast<size_t>(count));
  for (Figure& f : figures) {
    const double cx = rng.Uniform(-30, kWidth + 30), cy = rng.Uniform(-30, kHeight + 30);
    for (int i = 0; i < 40; ++i) {
      const double a = i * 2 * M_PI / 40, r = rng.Uniform(10, 60);
      f.push_back({static_cast<int32_t>(std::lround(cx + r * std::cos(a))),
                   static_cast<int32_t>(std::lround(cy + r * std::sin(a)))});
    }
  }
  return figures;
}

// Two presenters' attributes, lent in turn as a layer of mixed objects does: two colours of
// pens of one width, two brushes.
struct Attributes
{
  TGPen pens[2];
  TGBrush brushes[2];
  QPen qpens[2];
  QBrush qbrushes[2];
  explicit Attributes(int32_t width)
  {
    const QColor colours[2] = {QColor(200, 30, 30), QColor(30, 30, 200)};
    for (int i = 0; i < 2; ++i) {
      const QColor c = colours[i];
      pens[i].Define(RGBColor(c.red(), c.green(), c.blue()), gpsSolid, width, guPixel);
      // The Qt pens the renderer realizes, for the peer.
      if (width < 2) {
        qpens[i] = QPen(QBrush(c), 1, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
        qpens[i].setCosmetic(true);
      } else {
        qpens[i] = QPen(QBrush(c), width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
      }
    }
    brushes[0].Define(RGBColor(250, 220, 120), RGBColor(250, 220, 120), gbsSolid);
    brushes[1].Define(RGBColor(120, 220, 250), RGBColor(120, 220, 250), gbsSolid);
    qbrushes[0] = QBrush(QColor(250, 220, 120));
    qbrushes[1] = QBrush(QColor(120, 220, 250));
  }
};

void ThroughRenderer(Host& host, const Attributes& a, const std::vector<Figure>& figures,
                     bool closed)
{
  TGRenderer& r = host.renderer;
  r.RefreshDC();
  for (size_t i = 0; i < figures.size(); ++i) {
    const Figure& f = figures[i];
    r.SetPen(a.pens[i % 2]);
    if (closed) r.SetBrush(a.brushes[i % 2]);
    // What a projection leaves in the buffer.
    TGPointBuffer& points = r.Points();
    for (size_t j = 0; j < f.size(); ++j)
      points[static_cast<int32_t>(j)] = f[j];
    r.BeginDrawPoly(closed);
    r.AddClippedPoly(static_cast<int32_t>(f.size()), r.Pen().DeviceWidth());
    r.EndDrawPoly();
  }
}

// The figures as they stand (Qt clips them), from floating-point points, which Qt takes
// without copying.
void StraightQPainter(QPainter& p, const Attributes& a, const std::vector<Figure>& figures,
                      std::vector<QPointF>& q, bool closed)
{
  for (size_t i = 0; i < figures.size(); ++i) {
    const Figure& f = figures[i];
    p.setPen(a.qpens[i % 2]);
    if (closed) p.setBrush(a.qbrushes[i % 2]);
    for (size_t j = 0; j < f.size(); ++j)
      q[j] = QPointF(f[j].X, f[j].Y);
    if (closed)
      p.drawPolygon(q.data(), static_cast<int>(f.size()), Qt::OddEvenFill);
    else
      p.drawPolyline(q.data(), static_cast<int>(f.size()));
  }
}

// ---------------------------------------------------------------------------------------------
// The world outline's render cycle

constexpr int32_t kCycleWidth = 1920, kCycleHeight = 1080;

// One polyline as the renderer handed it to QPainter: device points (a closed ring ends on its
// first point again) and the realized pen.
struct DrawnLine
{
  QPen Pen;
  std::vector<QPointF> Points;
};

// The default renderer, keeping a copy of every figure drawn while Recording is set.
class RecordingRenderer : public TGDefaultRenderer
{
public:
  using TGDefaultRenderer::TGDefaultRenderer;
  bool Recording = false;
  std::vector<DrawnLine> Lines;

  void DrawPolyPolygon(const TGPoint* points, const int32_t* counts, int32_t partCount,
                       bool closed) override
  {
    if (Recording) {
      const QPen& pen = Pen().DevicePen(*this);
      const TGPoint* p = points;
      for (int32_t i = 0; i < partCount; ++i) {
        const int32_t n = std::max(counts[i], 0);
        DrawnLine line{pen, {}};
        for (int32_t j = 0; j < n; ++j)
          line.Points.emplace_back(p[j].X, p[j].Y);
        if (closed && n > 1 && line.Points.back() != line.Points.front())
          line.Points.push_back(line.Points.front());
        if (line.Points.size() >= 2) Lines.push_back(std::move(line));
        p += n;
      }
    }
    TGDefaultRenderer::DrawPolyPolygon(points, counts, partCount, closed);
  }
};

// The globe vtrtool render draws with "--size 1920x1080 --layer FILE": the map view's
// configuration on the spherical model, the layer file as its one layer. Without
// mapViewBackground the blue surface and the graticule are left out, so that the cycle draws
// the outline alone (over the cleared background).
std::unique_ptr<TGGlobe> OutlineGlobe(const std::string& file, bool mapViewBackground)
{
  vtrtool::RenderOptions o;
  o.width = kCycleWidth;
  o.height = kCycleHeight;
  o.layerFiles = {file};
  std::unique_ptr<TGGlobe> globe;
  try {
    globe = vtrtool::MakeRenderGlobe(o);
  } catch (const vtrtool::InputError& e) {
    throw std::runtime_error(e.message);
  }
  if (!mapViewBackground) {
    globe->SetSurfaceColor(clNone);
    globe->Graticule().SetDrawMode(gdNone);
  }
  return globe;
}

// The polylines one cycle draws for the outline layer (not the view outline), with their pens,
// recorded on a globe of its own set up alike.
std::vector<DrawnLine> OutlinePolylines(const std::string& file)
{
  std::unique_ptr<TGGlobe> globe = OutlineGlobe(file, false);
  auto recorder = std::make_unique<RecordingRenderer>(globe.get());
  recorder->Assign(globe->Renderer());
  RecordingRenderer& r = *recorder;
  globe->SetRenderer(std::move(recorder));
  globe->OnBeforeLayerRender = [&r](TGGlobe&, TGLayer&) { r.Recording = true; };
  globe->OnAfterLayerRender = [&r](TGGlobe&, TGLayer&) { r.Recording = false; };
  globe->RenderFrame();
  return std::move(r.Lines);
}

void DrawLines(QPainter& p, const std::vector<DrawnLine>& lines)
{
  p.setBrush(Qt::NoBrush);
  const QPen* last = nullptr;
  for (const DrawnLine& line : lines) {
    if (!last || *last != line.Pen) p.setPen(line.Pen);
    last = &line.Pen;
    p.drawPolyline(line.Points.data(), static_cast<int>(line.Points.size()));
  }
}

// Pixels where the cycle's picture differs from the floor's lines drawn over the cycle's
// background colour, by what the cycle has there: its red view outline, the dots of objects
// below the minimum size (drawn as pixels, not lines), anything else (which should be nothing).
struct PixelDifferences
{
  int64_t ViewOutline = 0;
  int64_t Dots = 0;
  int64_t Other = 0;
};

PixelDifferences DifferentPixels(TGGlobe& globe, const std::vector<DrawnLine>& lines)
{
  globe.RenderFrame();
  const QImage ours = globe.GetBitmap(0, 0)->Image().convertToFormat(QImage::Format_RGB32);
  QImage floor(ours.size(), QImage::Format_RGB32);
  floor.fill(ColorToPixel(globe.Color()));
  {
    QPainter p(&floor);
    DrawLines(p, lines);
  }
  const QRgb red = ColorToPixel(clRed), dot = ColorToPixel(globe.MinObjectColor());
  PixelDifferences d;
  for (int y = 0; y < ours.height(); ++y)
    for (int x = 0; x < ours.width(); ++x) {
      const QRgb o = ours.pixel(x, y);
      if (o != floor.pixel(x, y)) ++(o == red ? d.ViewOutline : o == dot ? d.Dots : d.Other);
    }
  return d;
}

// Median seconds of one cycle.
double CycleSeconds(TGGlobe& globe, int reps, int cycles)
{
  globe.RenderFrame();
  std::vector<double> runs;
  for (int i = 0; i < reps; ++i)
    runs.push_back(SecondsOf([&] {
      for (int c = 0; c < cycles; ++c)
        globe.RenderFrame();
    }));
  return Median(runs) / cycles;
}

// Adds the rows; returns a note for below the table.
std::string OutlineRows(Table& table, int reps)
{
  const std::string file = ProgramFile("GIS/WorldOutline.lyr");
  if (!std::filesystem::exists(file)) {
    table.Add({"world outline render cycle: " + file + " does not exist", "ms", NAN, NAN, "<= 1.3",
               false});
    return {};
  }
  std::unique_ptr<TGGlobe> alone = OutlineGlobe(file, false);
  std::unique_ptr<TGGlobe> mapView = OutlineGlobe(file, true);
  const std::vector<DrawnLine> lines = OutlinePolylines(file);
  int64_t points = 0;
  for (const DrawnLine& l : lines)
    points += static_cast<int64_t>(l.Points.size());

  QImage image(kCycleWidth, kCycleHeight, QImage::Format_RGB32);
  image.fill(Qt::black);
  QPainter painter(&image);
  // Each timed run renders several cycles, so that a run lasts tens of milliseconds.
  constexpr int kCycles = 5;
  const PairTiming t = TimeBoth(
      reps,
      [&] {
        for (int i = 0; i < kCycles; ++i)
          alone->RenderFrame();
      },
      [&] {
        for (int i = 0; i < kCycles; ++i)
          DrawLines(painter, lines);
      });
  painter.end();
  const double peer = t.Peer / kCycles;
  table.Add({"world outline, full render cycle (" + Thousands(static_cast<int64_t>(lines.size())) +
                 " polylines, " + Thousands(points) + " points drawn), time",
             "ms", 1e3 * t.Ours / kCycles, 1e3 * peer, "<= 1.3", t.Ours <= 1.3 * t.Peer});

  const double withBackground = CycleSeconds(*mapView, reps, kCycles);
  table.Add({"the same with the map view's blue surface and 10-degree graticule (vtrtool "
             "render's default), time",
             "ms", 1e3 * withBackground, 1e3 * peer, "", true});

  // What every cycle costs besides the layer: the same globes with the layer hidden.
  TGLayer& layer = alone->Layers().GetLayer(0);
  TGLayer& mapViewLayer = mapView->Layers().GetLayer(0);
  layer.SetVisible(false);
  mapViewLayer.SetVisible(false);
  const double empty = CycleSeconds(*alone, reps, kCycles);
  const double emptyMapView = CycleSeconds(*mapView, reps, kCycles);
  layer.SetVisible(true);
  mapViewLayer.SetVisible(true);
  table.Add({"  the first cycle without its layer (background cleared, view outline)", "ms",
             1e3 * empty, NAN, "", true});
  table.Add({"  the second cycle without its layer (also surface and graticule)", "ms",
             1e3 * emptyMapView, NAN, "", true});

  const PixelDifferences d = DifferentPixels(*alone, lines);
  return "  the first cycle's picture differs from the floor's lines over its background in " +
         Thousands(d.ViewOutline) + " pixels of its red view outline, " + Thousands(d.Dots) +
         " dots of objects below the minimum size and " + Thousands(d.Other) + " others";
}

long AllocationsOf(const std::function<void()>& run)
{
  gAllocations = 0;
  gCounting = true;
  run();
  gCounting = false;
  return gAllocations.load();
}

} // namespace

int main(int argc, char** argv)
{
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int reps = Repetitions(argc, argv, 7);

  Table cycle("render cycle: the world outline (GIS/WorldOutline.lyr) on the map view's globe "
              "as vtrtool render --size 1920x1080 sets it up (spherical model), surface and "
              "graticule off, vs QPainter alone drawing the polylines that cycle drew, with the "
              "same pens, into a 1920 x 1080 image (the floor), medians of " +
              std::to_string(reps) + " runs of 5 cycles");
  const std::string cycleNote = OutlineRows(cycle, reps);
  const bool cycleMet = cycle.Print();
  if (!cycleNote.empty()) std::puts(cycleNote.c_str());

  Host host;
  const auto walks = Walks(2000, 200, 1301);
  const auto rings = Rings(4000, 1302);
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  std::vector<QPointF> q(200);

  struct Scene
  {
    const char* what;
    const std::vector<Figure>* figures;
    bool closed;
    int32_t penWidth;
  };
  const Scene scenes[] = {
      {"polylines (2,000 x 200 points), 1-pixel pens", &walks, false, 1},
      {"polylines (2,000 x 200 points), 3-pixel pens", &walks, false, 3},
      {"filled polygons (4,000 x 40 corners), 1-pixel outline", &rings, true, 1}};
  Table table("renderer: " + std::to_string(kWidth) + " x " + std::to_string(kHeight) +
              " back buffer through TGDefaultRenderer (point buffer, clipping, lent attributes) "
              "vs straight QPainter on a QImage, medians of " +
              std::to_string(reps) + " runs; allocations counted in one warm run");
  for (const Scene& s : scenes) {
    const Attributes attrs(s.penWidth);
    const PairTiming t = TimeBoth(
        reps, [&] { ThroughRenderer(host, attrs, *s.figures, s.closed); },
        [&] { StraightQPainter(painter, attrs, *s.figures, q, s.closed); });
    table.Add({std::string(s.what) + ", time", "ms", 1e3 * t.Ours, 1e3 * t.Peer, "<= 1.25",
               t.Ours <= 1.25 * t.Peer});
    const long ours = AllocationsOf([&] { ThroughRenderer(host, attrs, *s.figures, s.closed); });
    const long peer =
        AllocationsOf([&] { StraightQPainter(painter, attrs, *s.figures, q, s.closed); });
    // Qt's own stroking of wide lines allocates; the renderer must add nothing to that.
    table.Add({std::string(s.what) + ", heap allocations per figure", "count",
               double(ours) / s.figures->size(), double(peer) / s.figures->size(),
               "<= peer + 1 per render", ours <= peer + 1});
  }
  // Titles: UTF-8 texts through the renderer (decoded into its reused buffer, measured,
  // placed, drawn) against pre-built QStrings measured and drawn with QPainter. Qt's text
  // layout allocates in both measuring and drawing.
  {
    Rng rng(1303);
    std::vector<std::string> texts;
    std::vector<TGPoint> at;
    std::vector<QString> qtexts;
    for (int i = 0; i < 2000; ++i) {
      texts.push_back("Unit " + std::to_string(i));
      qtexts.push_back(QString::fromStdString(texts.back()));
      at.push_back({static_cast<int32_t>(rng.Uniform(0, kWidth)),
                    static_cast<int32_t>(rng.Uniform(0, kHeight))});
    }
    TGFont fonts[2];
    fonts[0].Define("Arial", clBlack, clWhite, 12, guPixel, 0, 0, 255);
    fonts[1].Define("Arial", clBlue, clWhite, 14, guPixel, 0, FontStyleBit(gfsBold), 255);
    auto ours = [&] {
      TGRenderer& r = host.renderer;
      r.RefreshDC();
      for (size_t i = 0; i < texts.size(); ++i) {
        r.SetFont(fonts[i % 2]);
        r.DrawText(at[i].X, at[i].Y, texts[i], taBottomRight, 4);
      }
    };
    QFont qfonts[2] = {fonts[0].DeviceFont(host.renderer), fonts[1].DeviceFont(host.renderer)};
    const QFontMetrics metrics[2] = {QFontMetrics(qfonts[0]), QFontMetrics(qfonts[1])};
    QPen qpens[2] = {QPen(Qt::black), QPen(Qt::blue)};
    auto peer = [&] {
      for (size_t i = 0; i < qtexts.size(); ++i) {
        const QFontMetrics& m = metrics[i % 2];
        const int w = m.horizontalAdvance(qtexts[i]);
        painter.setFont(qfonts[i % 2]);
        painter.setPen(qpens[i % 2]);
        painter.drawText(QPoint(at[i].X + 4 + (w & 0), at[i].Y + 4 + m.ascent()), qtexts[i]);
      }
    };
    const PairTiming t = TimeBoth(reps, ours, peer);
    table.Add({"titles (2,000, two fonts), time", "ms", 1e3 * t.Ours, 1e3 * t.Peer, "<= 1.5",
               t.Ours <= 1.5 * t.Peer});
    const long o = AllocationsOf(ours), p = AllocationsOf(peer);
    table.Add({"titles, heap allocations per title", "count", double(o) / texts.size(),
               double(p) / texts.size(), "<= peer + 1 per render", o <= p + 1});
  }
  // A surface texture over the whole view: two texture triangles through the renderer's scan
  // lines against QPainter stretching the image into the same rectangle (nearest pixel).
  {
    TGBitmap texture;
    texture.SetSize(2048, 1024);
    Rng rng(1304);
    for (int32_t y = 0; y < 1024; ++y)
      for (int32_t x = 0; x < 2048; ++x)
        texture.SetPixel(x, y,
                         RGBColor(static_cast<uint8_t>(x), static_cast<uint8_t>(y),
                                  static_cast<uint8_t>(rng.Uniform(0, 255))));
    const TGTriangle src1{{{0, 0}, {2048, 0}, {2048, 1024}}},
        src2{{{0, 0}, {2048, 1024}, {0, 1024}}};
    const TGTriangle dst1{{{0, 0}, {kWidth, 0}, {kWidth, kHeight}}};
    const TGTriangle dst2{{{0, 0}, {kWidth, kHeight}, {0, kHeight}}};
    auto ours = [&] {
      host.renderer.DrawTextureTriangle(src1, dst1, texture);
      host.renderer.DrawTextureTriangle(src2, dst2, texture);
    };
    auto peer = [&] { painter.drawImage(QRect(0, 0, kWidth, kHeight), texture.Image()); };
    const PairTiming t = TimeBoth(reps, ours, peer);
    table.Add({"surface texture, 2 triangles over 1200 x 800, time", "ms", 1e3 * t.Ours,
               1e3 * t.Peer, "<= 2.5", t.Ours <= 2.5 * t.Peer});
    texture.SetAlphaBlend(128);
    const PairTiming ta = TimeBoth(reps, ours, peer);
    table.Add(
        {"the same at alpha 128 (peer: opaque)", "ms", 1e3 * ta.Ours, 1e3 * ta.Peer, "", true});
  }
  painter.end();
  const bool met = table.Print();
  return met && cycleMet ? 0 : 1;
}
