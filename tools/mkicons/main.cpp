// mkicons OUTDIR: draws the program's unit symbols and the globe background into OUTDIR.
//
// Unit symbols follow the usual tactical frame shapes, one per kind: air a dome standing on its
// base, subsurface the dome upside down, surface a circle, land a square, space the air arc
// with a filled band at its crown, ordnance a pointed weapon outline. They are drawn without
// antialiasing on white, which the map view makes transparent: blended edge pixels would stay
// visible as a pale fringe.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>

namespace {

constexpr int kSize = 48;
const QColor kFrame(0, 90, 190);
const QColor kFill(170, 210, 255);

// Whether every picture was written; the build fails otherwise.
bool allWritten = true;

void Save(const QImage& img, const QString& path)
{
  if (img.save(path, "BMP")) return;
  std::fprintf(stderr, "mkicons: cannot write %s\n", qPrintable(path));
  allWritten = false;
}

void DrawSymbol(const QString& path, const std::function<void(QPainter&)>& draw)
{
  QImage img(kSize, kSize, QImage::Format_RGB32);
  img.fill(Qt::white);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(QPen(kFrame, 3, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  p.setBrush(kFill);
  draw(p);
  p.end();
  Save(img, path);
}

// Dark sky with a sparse, fixed star field; tiles without seams since nothing crosses edges.
void DrawBackground(const QString& path)
{
  const int n = 128;
  QImage img(n, n, QImage::Format_RGB32);
  img.fill(QColor(8, 12, 32));
  uint32_t state = 0x2545F491u;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  for (int i = 0; i < 60; ++i) {
    const int x = static_cast<int>(next() % n);
    const int y = static_cast<int>(next() % n);
    const int v = 120 + static_cast<int>(next() % 136);
    img.setPixelColor(x, y, QColor(v, v, std::min(255, v + 20)));
  }
  Save(img, path);
}

} // namespace

int main(int argc, char** argv)
{
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: mkicons OUTDIR\n");
    return 1;
  }
  const QString dir = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(dir);

  const int m = 6; // margin
  const QRect box(m, m, kSize - 2 * m, kSize - 2 * m);
  // Arcs: the frame of a half plane, flattened a little so the symbol reads at small sizes.
  auto upperArc = [&](QPainter& p) {
    QPainterPath path;
    path.moveTo(box.left(), box.bottom());
    path.cubicTo(box.left(), box.top() - 6, box.right(), box.top() - 6, box.right(), box.bottom());
    path.closeSubpath();
    p.drawPath(path);
  };
  DrawSymbol(dir + "/uAir.bmp", upperArc);
  DrawSymbol(dir + "/uSpace.bmp", [&](QPainter& p) {
    upperArc(p);
    p.setPen(Qt::NoPen);
    p.setBrush(kFrame);
    p.drawRect(box.left() + 12, box.top() + 3, box.width() - 24, 6);
  });
  DrawSymbol(dir + "/uSubsurface.bmp", [&](QPainter& p) {
    QPainterPath path;
    path.moveTo(box.left(), box.top());
    path.cubicTo(box.left(), box.bottom() + 6, box.right(), box.bottom() + 6, box.right(),
                 box.top());
    path.closeSubpath();
    p.drawPath(path);
  });
  DrawSymbol(dir + "/uSurface.bmp", [&](QPainter& p) { p.drawEllipse(box); });
  DrawSymbol(dir + "/uLand.bmp", [&](QPainter& p) { p.drawRect(box.adjusted(2, 2, -2, -2)); });
  DrawSymbol(dir + "/uOrdnance.bmp", [&](QPainter& p) {
    const int cx = kSize / 2;
    const QPoint pts[] = {
        {cx, box.top()},         {cx + 8, box.top() + 14}, {cx + 8, box.bottom() - 8},
        {cx + 14, box.bottom()}, {cx - 14, box.bottom()},  {cx - 8, box.bottom() - 8},
        {cx - 8, box.top() + 14}};
    p.drawPolygon(pts, 7);
  });
  DrawBackground(dir + "/vtrsmall.bmp");
  return allWritten ? 0 : 1;
}
