// Renderer: a full screen of polylines and of filled polygons drawn through the renderer (point
// buffer, clipping, lent pens and brushes, poly-polygon drawing into the back buffer) against
// the same figures drawn straight with QPainter on an image of the same size; and the heap
// allocations of one such render once the renderer is warm.
#include "BenchSupport.h"
#include "globe/GBitmap.h"
#include "globe/GProjector.h"
#include "globe/GRenderer.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
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
  QGuiApplication app(argc, argv);
  const int reps = Repetitions(argc, argv, 7);

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
  return table.Print() ? 0 : 1;
}
