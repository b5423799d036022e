#include "globe/GRenderer.h"

#include "globe/GBitmap.h"
#include "globe/GProjector.h"
#include "globe/GXML.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QStringDecoder>
#include <QTransform>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

// Resources of a static library are registered by hand: nothing else pulls their object file
// into the program.
static void InitBrushResources()
{
  Q_INIT_RESOURCE(GBrushes);
}

namespace vtr {

namespace {

QColor ToQColor(TColor c)
{
  if (c == clNone) return QColor(Qt::transparent);
  const auto v = static_cast<uint32_t>(c);
  return QColor(static_cast<int>(v & 0xFFu), static_cast<int>((v >> 8) & 0xFFu),
                static_cast<int>((v >> 16) & 0xFFu));
}

// (alpha x source + (255 - alpha) x target) div 256 per channel of two pixels (bits 0-23);
// red and blue share one multiply, their sums stay below 2^16.
inline uint32_t BlendPixel(uint32_t target, uint32_t source, uint32_t alpha)
{
  const uint32_t rest = 255u - alpha;
  const uint32_t rb =
      (((source & 0xFF00FFu) * alpha + (target & 0xFF00FFu) * rest) >> 8) & 0xFF00FFu;
  const uint32_t g = (((source & 0xFF00u) * alpha + (target & 0xFF00u) * rest) >> 8) & 0xFF00u;
  return (target & 0xFF000000u) | rb | g;
}

uint64_t HashBytes(uint64_t h, const void* data, size_t size)
{
  const auto* p = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < size; ++i) {
    h ^= p[i];
    h *= 0x100000001B3ull;
  }
  return h;
}
template <class T> uint64_t HashValueOf(uint64_t h, const T& value)
{
  return HashBytes(h, &value, sizeof value);
}
constexpr uint64_t kHashStart = 0xCBF29CE484222325ull;

// A new attribute of the same class with source's settings, not marked modified.
template <class T> std::unique_ptr<TGAttribute> CloneAttribute(const T& source)
{
  auto copy = std::make_unique<T>();
  copy->Assign(source);
  copy->SetModified(false);
  return copy;
}

uint32_t NextHandle()
{
  static uint32_t counter = 0;
  if (++counter == 0) ++counter;
  return counter;
}

Qt::PenStyle QtPenStyle(TGPenStyle style)
{
  switch (style) {
  case gpsDash:
    return Qt::DashLine;
  case gpsDot:
    return Qt::DotLine;
  case gpsDashDot:
    return Qt::DashDotLine;
  case gpsDashDotDot:
    return Qt::DashDotDotLine;
  case gpsClear:
    return Qt::NoPen;
  case gpsSolid:
  case gpsInsideFrame:
    break;
  }
  return Qt::SolidLine;
}

// Qt's pixel rectangle for a device rectangle with exclusive far edges: its 1-pixel outline
// lies on the first and last columns and rows, and without a pen the fill is one pixel
// narrower and lower.
QRect ShapeRect(const TGRect& rect)
{
  const TGRect r = NormalizeRect(rect);
  return QRect(r.Left, r.Top, r.Right - r.Left - 1, r.Bottom - r.Top - 1);
}

// Texture sampling of DrawScanLine.
struct TextureSource
{
  explicit TextureSource(const TGBitmap& image)
      : Bits(image.Bits()), Width(image.Width()), Height(image.Height()),
        Transparent(image.Transparent()), Key(ColorToPixel(image.TransparentColor()) & 0xFFFFFFu),
        Alpha(image.AlphaBlend())
  {
  }
  // The pixel at the truncated position; false beyond the image or for the transparent
  // colour. Negative positions read column or row 0.
  bool Sample(double u, double v, uint32_t& pixel) const
  {
    if (!(u < Width) || !(v < Height)) return false; // also NaN
    const int iu = u > 0 ? static_cast<int>(u) : 0;
    const int iv = v > 0 ? static_cast<int>(v) : 0;
    pixel = Bits[iu + static_cast<size_t>(iv) * static_cast<size_t>(Width)];
    return !(Transparent && (pixel & 0xFFFFFFu) == Key);
  }

  const uint32_t* Bits;
  int32_t Width;
  int32_t Height;
  bool Transparent;
  uint32_t Key;
  uint8_t Alpha;
};

// Where the line breaks of a text are: calls line (start, length) for each line.
template <class F> void ForEachLine(const QString& text, F&& line)
{
  qsizetype start = 0;
  for (qsizetype i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != u'\n') continue;
    qsizetype end = i;
    if (end > start && text[end - 1] == u'\r') --end;
    line(start, end - start);
    start = i + 1;
  }
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Point buffer and view test

void TGPointBuffer::Grow(size_t count)
{
  // Doubling keeps a run of growing polygons from reallocating for each one.
  const size_t doubled = std::min(FPoints.size() * 2, static_cast<size_t>(INT32_MAX));
  const size_t want = std::max(count, doubled);
  FPoints.resize(want);
}

bool IGRenderSurface::XYListVisible(const TGPoint* points, int32_t count) const
{
  if (count < 2) return false;
  int32_t minX = points[0].X, maxX = points[0].X;
  int32_t minY = points[0].Y, maxY = points[0].Y;
  for (int32_t i = 1; i < count; ++i) {
    minX = std::min(minX, points[i].X);
    maxX = std::max(maxX, points[i].X);
    minY = std::min(minY, points[i].Y);
    maxY = std::max(maxY, points[i].Y);
  }
  return !(maxX < 0 || minX > Width() || maxY < 0 || minY > Height());
}

// ---------------------------------------------------------------------------------------------
// Scale conversions

int32_t MulDivRound(int64_t a, int64_t b, int64_t c)
{
  const __int128 n = static_cast<__int128>(a) * b;
  if (c == 0)
    return ClampToInt32(static_cast<int64_t>(std::clamp<__int128>(n, INT64_MIN, INT64_MAX)));
  __int128 q = n / c;
  const __int128 r = n % c;
  const __int128 twice = (r < 0 ? -r : r) * 2;
  const __int128 absC = c < 0 ? -c : c;
  if (twice > absC || (twice == absC && (q & 1) != 0)) q += ((n < 0) != (c < 0)) ? -1 : 1;
  return ClampToInt32(static_cast<int64_t>(std::clamp<__int128>(q, INT64_MIN, INT64_MAX)));
}

int32_t GlobeUnitsFrom(long double eValue, TGUnitTypes units, long double scaleFactor)
{
  long double r;
  if (units == guPixel) {
    if (!(scaleFactor > 0)) return RoundToInt32(eValue);
    r = eValue / scaleFactor;
  } else {
    r = eValue * UnitFactor(units);
  }
  // Out of range counts as a failed computation.
  if (!std::isfinite(r) || std::fabs(r) > 2147483647.0L) return RoundToInt32(eValue);
  return RoundToInt32(r);
}

long double GlobeUnitsTo(int32_t iValue, TGUnitTypes units, long double scaleFactor)
{
  if (units == guPixel) return iValue * scaleFactor;
  return iValue / static_cast<long double>(UnitFactor(units));
}

int32_t ScaleUnitsToDevice(int32_t value, TGUnitTypes units, long double scaleFactor,
                           int32_t rendererPPI, int32_t screenPPI)
{
  if (units == guPixel) return MulDivRound(value, rendererPPI, screenPPI);
  return RoundToInt32(GlobeUnitsFrom(value, units, scaleFactor) * scaleFactor);
}

void ColorBlend(TColor& target, TColor source, uint8_t alpha)
{
  const uint32_t t = ColorToPixel(target), s = ColorToPixel(source);
  target = PixelToColor(BlendPixel(t, s, alpha));
}

// ---------------------------------------------------------------------------------------------
// Attributes

uint32_t TGAttribute::AttributeHandle(const TGRenderer& renderer) const
{
  if (!FRealized || FRenderer != &renderer || !Fits(renderer)) {
    Realize(renderer);
    FRenderer = &renderer;
    FRealized = true;
    FHandle = NextHandle();
  }
  return FHandle;
}

void TGAttribute::Release() const
{
  FRealized = false;
  FRenderer = nullptr;
}

bool TGAttribute::Fits(const TGRenderer& /*renderer*/) const
{
  return true;
}

void TGAttribute::Changed()
{
  FHashValue = ComputeHash();
  FModified = true;
  Release();
  if (OnChange) OnChange();
}

void TGAttribute::Copied(const TGAttribute& source)
{
  FHashValue = ComputeHash();
  FModified = true;
  if (source.FRealized) {
    CopyRealization(source);
    FRenderer = source.FRenderer;
    FHandle = source.FHandle;
    FRealized = true;
  } else {
    Release();
  }
  if (OnChange) OnChange();
}

// --- Pen

TGPen::TGPen()
{
  FHashValue = ComputeHash();
}

uint64_t TGPen::ComputeHash() const
{
  uint64_t h = HashValueOf(kHashStart, FColor);
  h = HashValueOf(h, FStyle);
  h = HashValueOf(h, FWidth);
  return HashValueOf(h, FWidthUnit);
}

void TGPen::Define(TColor color, TGPenStyle style, int32_t width, TGUnitTypes widthUnit)
{
  if (color == FColor && style == FStyle && width == FWidth && widthUnit == FWidthUnit) return;
  FColor = color;
  FStyle = style;
  FWidth = width;
  FWidthUnit = widthUnit;
  Changed();
}

void TGPen::Assign(const TGAttribute& source)
{
  const auto* pen = dynamic_cast<const TGPen*>(&source);
  G_ASSERT(pen != nullptr);
  if (pen == this) return;
  FColor = pen->FColor;
  FStyle = pen->FStyle;
  FWidth = pen->FWidth;
  FWidthUnit = pen->FWidthUnit;
  Copied(*pen);
}

std::unique_ptr<TGAttribute> TGPen::Clone() const
{
  return CloneAttribute(*this);
}

bool TGPen::Equals(const TGAttribute& other) const
{
  const auto* pen = dynamic_cast<const TGPen*>(&other);
  return pen && pen->FColor == FColor && pen->FStyle == FStyle && pen->FWidth == FWidth &&
         pen->FWidthUnit == FWidthUnit;
}

const QPen& TGPen::DevicePen(const TGRenderer& renderer) const
{
  AttributeHandle(renderer);
  return FQPen;
}

bool TGPen::Fits(const TGRenderer& renderer) const
{
  // Sizes in map units follow the zoom, pixel sizes the density: both show in the width.
  return renderer.ScaleUnitsToDevice(FWidth, FWidthUnit) == FDeviceWidth;
}

void TGPen::Realize(const TGRenderer& renderer) const
{
  FDeviceWidth = renderer.ScaleUnitsToDevice(FWidth, FWidthUnit);
  FAltitude = renderer.Altitude();
  const Qt::PenStyle style = QtPenStyle(FStyle);
  if (style == Qt::NoPen) {
    FQPen = QPen(Qt::NoPen);
  } else if (FDeviceWidth < 2) {
    // Square ends: Qt leaves out the joint pixels of a flat-ended 1-pixel polyline.
    FQPen = QPen(QBrush(ToQColor(FColor)), 1, style, Qt::SquareCap, Qt::MiterJoin);
    FQPen.setCosmetic(true);
  } else {
    FQPen = QPen(QBrush(ToQColor(FColor)), FDeviceWidth, style, Qt::RoundCap, Qt::RoundJoin);
  }
}

void TGPen::CopyRealization(const TGAttribute& source) const
{
  const auto& pen = static_cast<const TGPen&>(source);
  FQPen = pen.FQPen;
  FDeviceWidth = pen.FDeviceWidth;
  FAltitude = pen.FAltitude;
}

// --- Brush

TGBrush::TGBrush()
{
  FHashValue = ComputeHash();
}

uint64_t TGBrush::ComputeHash() const
{
  uint64_t h = HashValueOf(kHashStart, FColor);
  h = HashValueOf(h, FBkColor);
  return HashValueOf(h, FStyle);
}

void TGBrush::Define(TColor color, TColor bkColor, TGBrushStyle style)
{
  if (color == FColor && bkColor == FBkColor && style == FStyle) return;
  FColor = color;
  FBkColor = bkColor;
  FStyle = style;
  Changed();
}

void TGBrush::Assign(const TGAttribute& source)
{
  const auto* brush = dynamic_cast<const TGBrush*>(&source);
  G_ASSERT(brush != nullptr);
  if (brush == this) return;
  FColor = brush->FColor;
  FBkColor = brush->FBkColor;
  FStyle = brush->FStyle;
  Copied(*brush);
}

std::unique_ptr<TGAttribute> TGBrush::Clone() const
{
  return CloneAttribute(*this);
}

bool TGBrush::Equals(const TGAttribute& other) const
{
  const auto* brush = dynamic_cast<const TGBrush*>(&other);
  return brush && brush->FColor == FColor && brush->FBkColor == FBkColor && brush->FStyle == FStyle;
}

const QBrush& TGBrush::DeviceBrush(const TGRenderer& renderer) const
{
  AttributeHandle(renderer);
  return FQBrush;
}

void TGBrush::Realize(const TGRenderer& renderer) const
{
  static constexpr Qt::BrushStyle kHatches[] = {Qt::HorPattern,   Qt::VerPattern,
                                                Qt::FDiagPattern, Qt::BDiagPattern,
                                                Qt::CrossPattern, Qt::DiagCrossPattern};
  const QColor color = ToQColor(FColor);
  FQBkBrush = QBrush(ToQColor(FBkColor));
  // Gaps (of hatches, and of dashed pens drawn meanwhile) show BkColor unless it is Color.
  FOpaque = FStyle != gbsClear && FBkColor != FColor;
  if (FStyle == gbsClear) {
    FQBrush = QBrush(Qt::NoBrush);
  } else if (FStyle >= gbsHorizontal && FStyle <= gbsDiagCross) {
    FQBrush = QBrush(color, kHatches[FStyle - gbsHorizontal]);
  } else if (const QBitmap* pattern = renderer.PatternBitmap(FStyle)) {
    // Patterns always show their background colour.
    FQBrush = QBrush(color, *pattern);
    FOpaque = true;
  } else {
    FQBrush = QBrush(color);
  }
}

void TGBrush::CopyRealization(const TGAttribute& source) const
{
  const auto& brush = static_cast<const TGBrush&>(source);
  FQBrush = brush.FQBrush;
  FQBkBrush = brush.FQBkBrush;
  FOpaque = brush.FOpaque;
}

// --- Font

TGFont::TGFont()
{
  FHashValue = ComputeHash();
}

uint64_t TGFont::ComputeHash() const
{
  uint64_t h = HashBytes(kHashStart, FName.data(), FName.size());
  h = HashValueOf(h, FSize);
  h = HashValueOf(h, FSizeUnit);
  h = HashValueOf(h, FColor);
  h = HashValueOf(h, FAngle);
  h = HashValueOf(h, FStyle);
  h = HashValueOf(h, FBkColor);
  return HashValueOf(h, FBkAlphaBlend);
}

void TGFont::Define(const std::string& name, TColor color, TColor bkColor, int32_t size,
                    TGUnitTypes sizeUnit, int32_t angle, TGFontStyles style, uint8_t bkAlpha)
{
  if (name == FName && color == FColor && bkColor == FBkColor && size == FSize &&
      sizeUnit == FSizeUnit && angle == FAngle && style == FStyle && bkAlpha == FBkAlphaBlend)
    return;
  FName = name;
  FColor = color;
  FBkColor = bkColor;
  FSize = size;
  FSizeUnit = sizeUnit;
  FAngle = angle;
  FStyle = style;
  FBkAlphaBlend = bkAlpha;
  Changed();
}

void TGFont::Assign(const TGAttribute& source)
{
  const auto* font = dynamic_cast<const TGFont*>(&source);
  G_ASSERT(font != nullptr);
  if (font == this) return;
  FName = font->FName;
  FSize = font->FSize;
  FSizeUnit = font->FSizeUnit;
  FColor = font->FColor;
  FAngle = font->FAngle;
  FStyle = font->FStyle;
  FBkColor = font->FBkColor;
  FBkAlphaBlend = font->FBkAlphaBlend;
  Copied(*font);
}

std::unique_ptr<TGAttribute> TGFont::Clone() const
{
  return CloneAttribute(*this);
}

bool TGFont::Equals(const TGAttribute& other) const
{
  const auto* font = dynamic_cast<const TGFont*>(&other);
  return font && font->FName == FName && font->FSize == FSize && font->FSizeUnit == FSizeUnit &&
         font->FColor == FColor && font->FAngle == FAngle && font->FStyle == FStyle &&
         font->FBkColor == FBkColor && font->FBkAlphaBlend == FBkAlphaBlend;
}

const QFont& TGFont::DeviceFont(const TGRenderer& renderer) const
{
  AttributeHandle(renderer);
  return *FQFont;
}

const QFontMetrics& TGFont::DeviceMetrics(const TGRenderer& renderer) const
{
  AttributeHandle(renderer);
  return *FMetrics;
}

namespace {

// The cell height in pixels a font of this size gets from renderer: its render size, capped at
// the renderer's maximum text size while it has one.
int32_t CappedFontHeight(const TGRenderer& renderer, int32_t size, TGUnitTypes unit)
{
  int32_t h = renderer.FontRenderSize(size, unit);
  if (renderer.MaxTextHeight() > 0) h = std::min(h, renderer.GetMaxTextSize());
  return h;
}

} // namespace

bool TGFont::Fits(const TGRenderer& renderer) const
{
  return CappedFontHeight(renderer, FSize, FSizeUnit) == FDeviceHeight;
}

void TGFont::Realize(const TGRenderer& renderer) const
{
  const int32_t h = CappedFontHeight(renderer, FSize, FSizeUnit);
  FDeviceHeight = h;
  QFont f(QString::fromStdString(FName));
  f.setBold(HasFontStyle(FStyle, gfsBold));
  f.setItalic(HasFontStyle(FStyle, gfsItalic));
  f.setUnderline(HasFontStyle(FStyle, gfsUnderline));
  f.setStrikeOut(HasFontStyle(FStyle, gfsStrikeOut));
  // A positive height is the character cell's (ascent + descent), a negative one the
  // characters' own: Qt's pixel size is the latter, so a cell height is scaled by the face's
  // proportions.
  int32_t pixels = 1;
  if (h < 0) {
    pixels = -h;
  } else if (h > 0) {
    f.setPixelSize(h);
    const int cell = QFontMetrics(f).height();
    pixels = cell > 0
                 ? std::max(1, static_cast<int32_t>(std::lround(static_cast<double>(h) * h / cell)))
                 : h;
  }
  f.setPixelSize(std::clamp(pixels, 1, 32767));
  FQFont = f;
  FMetrics.emplace(f);
  FTextPen = QPen(ToQColor(FColor));
  FHaloPen = QPen(QBrush(ToQColor(FBkColor)), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  FBkBrush = QBrush(ToQColor(FBkColor));
}

void TGFont::CopyRealization(const TGAttribute& source) const
{
  const auto& font = static_cast<const TGFont&>(source);
  FQFont = font.FQFont;
  FMetrics = font.FMetrics;
  FTextPen = font.FTextPen;
  FHaloPen = font.FHaloPen;
  FBkBrush = font.FBkBrush;
  FDeviceHeight = font.FDeviceHeight;
}

// ---------------------------------------------------------------------------------------------
// Renderer

TGRenderer::TGRenderer(TGGlobe* parentGlobe) : TGComponent(parentGlobe)
{
  if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
    if (QScreen* screen = app->primaryScreen())
      FPixelsPerInch = std::max(1, static_cast<int32_t>(std::lround(screen->logicalDotsPerInch())));
  FSelectedPen.Define(clRed, gpsSolid, 1, guPixel);
  FSelectedBrush.Define(0xFFFF, 0xFFFF, gbsSolid);
  FSelectedPen.SetModified(false);
  FSelectedBrush.SetModified(false);
  FPen.OnChange = [this] { ForgetSelected(asPen); };
  FBrush.OnChange = [this] { ForgetSelected(asBrush); };
  FFont.OnChange = [this] { ForgetSelected(asFont); };
  FPolyPolyPoints.reserve(1024);
}

TGRenderer::~TGRenderer() = default;

void TGRenderer::SetHost(IGRenderHost* host)
{
  FHost = host;
  RefreshDC();
}

void TGRenderer::Assign(const TGComponent& source)
{
  const auto* other = dynamic_cast<const TGRenderer*>(&source);
  if (!other || other == this) return;
  SetDoubleBuffer(other->FDoubleBuffer);
  FMaxTextHeight = other->FMaxTextHeight;
  FMinTextHeight = other->FMinTextHeight;
  FSelectedBrush.Assign(other->FSelectedBrush);
  FSelectedPen.Assign(other->FSelectedPen);
}

void TGRenderer::SetPixelsPerInch(int32_t value)
{
  if (value <= 0 || value == FPixelsPerInch) return;
  FPixelsPerInch = value;
  RefreshDC();
}

uint32_t TGRenderer::Altitude() const
{
  if (FAltitude != 0) return FAltitude;
  return FHost ? FHost->Projector().Altitude() : 0;
}

void TGRenderer::SetDoubleBuffer(bool value)
{
  FDoubleBuffer = value;
  RefreshDC();
}

void TGRenderer::SetPen(const TGPen& pen)
{
  if (&pen == &FPen) return;
  if (pen.HashValue() == FPen.HashValue() && FPen.Equals(pen)) return;
  // Realized on the lender, so that its device object is shared with every later copy.
  pen.AttributeHandle(*this);
  FPen.Assign(pen);
}

void TGRenderer::SetBrush(const TGBrush* brush)
{
  if (!brush) {
    FBrush.Define(clWhite, clWhite, gbsSolid);
    return;
  }
  if (brush == &FBrush) return;
  if (brush->HashValue() == FBrush.HashValue() && FBrush.Equals(*brush)) return;
  brush->AttributeHandle(*this);
  FBrush.Assign(*brush);
}

void TGRenderer::SetFont(const TGFont& font)
{
  if (&font == &FFont) return;
  if (font.HashValue() == FFont.HashValue() && FFont.Equals(font)) return;
  font.AttributeHandle(*this);
  FFont.Assign(font);
}

long double TGRenderer::ScaleFactor() const
{
  return FHost ? FHost->Projector().ScaleFactor() : 0;
}

int32_t TGRenderer::ScreenPixelsPerInch() const
{
  const int32_t ppi = FHost ? FHost->ScreenPixelsPerInch() : 0;
  return ppi > 0 ? ppi : FPixelsPerInch;
}

int32_t TGRenderer::GlobeUnitsFrom(long double eValue, TGUnitTypes units) const
{
  return vtr::GlobeUnitsFrom(eValue, units, ScaleFactor());
}

long double TGRenderer::GlobeUnitsTo(int32_t iValue, TGUnitTypes units) const
{
  return vtr::GlobeUnitsTo(iValue, units, ScaleFactor());
}

int32_t TGRenderer::ScaleUnitsToDevice(int32_t value, TGUnitTypes units) const
{
  return vtr::ScaleUnitsToDevice(value, units, ScaleFactor(), FPixelsPerInch,
                                 ScreenPixelsPerInch());
}

int32_t TGRenderer::FontRenderSize(int32_t FontSize, TGUnitTypes FontUnits) const
{
  if (FontUnits == guPixel) return MulDivRound(FontSize, FPixelsPerInch, ScreenPixelsPerInch());
  return RoundToInt32(FontSize * static_cast<long double>(GlobeUnitsFrom(1, FontUnits)) *
                      ScaleFactor());
}

int32_t TGRenderer::GetMaxTextSize() const
{
  return MulDivRound(FMaxTextHeight, FPixelsPerInch, ScreenPixelsPerInch());
}

int32_t TGRenderer::GetMinTextSize() const
{
  return MulDivRound(FMinTextHeight, FPixelsPerInch, ScreenPixelsPerInch());
}

QPainter* TGRenderer::PreparedCanvas()
{
  QPainter* canvas = Canvas();
  if (canvas != FLastCanvas) {
    FLastCanvas = canvas;
    FState = 0;
    FCanvasAlpha = -1;
  }
  return canvas;
}

const QString& TGRenderer::TextBuffer(std::string_view text)
{
  // A UTF-8 text never has more UTF-16 units than bytes; the buffer keeps its capacity.
  FText.resize(static_cast<qsizetype>(text.size()));
  QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QChar* end = decoder.appendToBuffer(
      FText.data(), QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
  FText.truncate(end - FText.constData());
  return FText;
}

void TGRenderer::SetClipMargin(int32_t margin)
{
  FClipRect = {-margin, -margin, ClampToInt32(int64_t{FWidth} + margin),
               ClampToInt32(int64_t{FHeight} + margin)};
}

void TGRenderer::ResetAttributes()
{
  FPen.Define(clBlack, gpsSolid, 1, guPixel);
  FBrush.Define(clWhite, clWhite, gbsSolid);
  FFont.Define("Arial", clBlack, clWhite, 9, guPixel, 0, 0, 255);
  FAlphaBlend = 255;
  FState = 0;
  FCanvasAlpha = -1;
}

void TGRenderer::Clear(TColor color)
{
  ResetAttributes();
  if (QPainter* canvas = PreparedCanvas()) {
    canvas->setOpacity(1.0);
    FCanvasAlpha = 255;
    canvas->fillRect(QRect(0, 0, FWidth, FHeight), ToQColor(color));
  }
}

void TGRenderer::RefreshDC()
{
  FState = 0;
  FCanvasAlpha = -1;
  FLastCanvas = nullptr;
}

void TGRenderer::RealizeAttributes()
{
  SelectAttributes(asFont | asPen | asBrush);
}

void TGRenderer::SelectAttributes(uint8_t which)
{
  QPainter* canvas = PreparedCanvas();
  if (!canvas) return;
  const uint32_t font = which & asFont ? FFont.AttributeHandle(*this) : 0;
  if ((which & asFont) && (!(FState & asFont) || font != FSelectedFontHandle)) {
    canvas->setFont(FFont.DeviceFont(*this));
    FSelectedFontHandle = font;
    FState |= asFont;
  }
  const uint32_t pen = which & asPen ? FPen.AttributeHandle(*this) : 0;
  if ((which & asPen) && (!(FState & asPen) || pen != FSelectedPenHandle)) {
    canvas->setPen(FPen.DevicePen(*this));
    FSelectedPenHandle = pen;
    FState |= asPen;
  }
  const uint32_t brush = which & asBrush ? FBrush.AttributeHandle(*this) : 0;
  if ((which & asBrush) && (!(FState & asBrush) || brush != FSelectedBrushHandle)) {
    canvas->setBrush(FBrush.DeviceBrush(*this));
    canvas->setBackgroundMode(FBrush.DeviceOpaque() ? Qt::OpaqueMode : Qt::TransparentMode);
    canvas->setBackground(FBrush.DeviceBackground());
    FSelectedBrushHandle = brush;
    FState |= asBrush;
  }
  if (FCanvasAlpha != FAlphaBlend) {
    canvas->setOpacity(FAlphaBlend / 255.0);
    FCanvasAlpha = FAlphaBlend;
  }
}

// --- Poly-polygons and clipping

void TGRenderer::BeginDrawPoly(bool closed)
{
  if (!FPolyPolyPoints.empty()) EndDrawPoly();
  FPolyPolyPoints.clear();
  FClippedCount = 0;
  FDrawPolyClosed = closed;
}

void TGRenderer::AddClippedPoly(int32_t iPoints, int32_t iPenWidth)
{
  if (iPoints < 2) return;
  SetClipMargin(2 * std::max(iPenWidth, 1));
  int32_t n = iPoints;
  if (FDrawPolyClosed) FPoints.Put(n++, FPoints[0]); // closes the ring
  ClipPart(n);
}

void TGRenderer::EndDrawPoly()
{
  if (!FPolyPolyPoints.empty()) {
    try {
      DrawPolyPolygon(FClippedPoints.Data(), FPolyPolyPoints.data(),
                      static_cast<int32_t>(FPolyPolyPoints.size()), FDrawPolyClosed);
    } catch (const std::exception&) {
      // A failed figure is dropped; the render goes on.
    }
  }
  FPolyPolyPoints.clear();
  FClippedCount = 0;
}

// Clipping against the clip rectangle by region codes, in one pass. Each point gets its code
// (inside 0; left 4, right 1, above 2, below 8; corners carry two bits). A segment that leaves
// its region is cut where it crosses the edge lines x = left, x = right, y = top, y = bottom,
// and every point (end or cut) is then clamped onto the rectangle. Within one region the clamp
// is a straight map (identity inside, a projection onto the edge beside, the corner point in a
// corner region), so each cut piece stays straight, the stretches outside run along the
// rectangle's border and every time the figure passes around a corner that corner is put in:
// a closed polygon keeps its winding, and so its fill, everywhere inside. Open lines run along
// the border too, which lies outside the view by more than half the pen's width.
void TGRenderer::ClipPart(int32_t n)
{
  const int32_t L = FClipRect.Left, T = FClipRect.Top, R = FClipRect.Right, B = FClipRect.Bottom;
  const TGPoint* in = FPoints.Data();
  auto code = [&](const TGPoint& p) {
    return (p.X < L ? 4u : 0u) | (p.X > R ? 1u : 0u) | (p.Y < T ? 2u : 0u) | (p.Y > B ? 8u : 0u);
  };
  uint32_t orCodes = 0, andCodes = 15;
  for (int32_t i = 0; i < n; ++i) {
    const uint32_t c = code(in[i]);
    orCodes |= c;
    andCodes &= c;
  }
  if (andCodes != 0) return; // wholly beyond one edge: nothing of it can be seen

  const int32_t start = FClippedCount;
  if (orCodes == 0) {
    FClippedPoints.Reserve(start + n);
    std::memcpy(FClippedPoints.Data() + start, in, static_cast<size_t>(n) * sizeof(TGPoint));
    FClippedCount += n;
    FPolyPolyPoints.push_back(n);
    return;
  }

  // Each segment gives at most four cut points and its end.
  FClippedPoints.Reserve(ClampToInt32(int64_t{start} + 5 * int64_t{n} + 1));
  TGPoint* out = FClippedPoints.Data();
  int32_t count = 0;
  auto clamp = [&](TGPoint p) {
    p.X = std::clamp(p.X, L, R);
    p.Y = std::clamp(p.Y, T, B);
    return p;
  };
  auto put = [&](const TGPoint& p) {
    if (count > 0) {
      const TGPoint& last = out[start + count - 1];
      if (last == p) return;
      // Three points on one border line: the middle one adds nothing.
      if (count > 1) {
        const TGPoint& prev = out[start + count - 2];
        const bool vertical = (p.X == L || p.X == R) && p.X == last.X && p.X == prev.X;
        const bool horizontal = (p.Y == T || p.Y == B) && p.Y == last.Y && p.Y == prev.Y;
        if (vertical || horizontal) {
          out[start + count - 1] = p;
          return;
        }
      }
    }
    out[start + count++] = p;
  };

  put(clamp(in[0]));
  uint32_t codeA = code(in[0]);
  for (int32_t i = 1; i < n; ++i) {
    const TGPoint a = in[i - 1], b = in[i];
    const uint32_t codeB = code(b);
    if (codeA != codeB) {
      // The cut parameters along a -> b, in order.
      const double ax = a.X, ay = a.Y, dx = double(b.X) - ax, dy = double(b.Y) - ay;
      double ts[4];
      int32_t lines[4]; // 0..3: x = L, x = R, y = T, y = B
      int k = 0;
      auto cut = [&](bool crosses, double t, int32_t line) {
        if (!crosses) return;
        int j = k++;
        while (j > 0 && ts[j - 1] > t) {
          ts[j] = ts[j - 1];
          lines[j] = lines[j - 1];
          --j;
        }
        ts[j] = t;
        lines[j] = line;
      };
      cut((a.X < L) != (b.X < L), (L - ax) / dx, 0);
      cut((a.X > R) != (b.X > R), (R - ax) / dx, 1);
      cut((a.Y < T) != (b.Y < T), (T - ay) / dy, 2);
      cut((a.Y > B) != (b.Y > B), (B - ay) / dy, 3);
      for (int j = 0; j < k; ++j) {
        TGPoint p;
        if (lines[j] < 2) {
          p.X = lines[j] == 0 ? L : R;
          p.Y = RoundToInt32(ay + dy * ts[j]);
        } else {
          p.X = RoundToInt32(ax + dx * ts[j]);
          p.Y = lines[j] == 2 ? T : B;
        }
        put(clamp(p));
      }
    }
    put(codeB == 0 ? b : clamp(b));
    codeA = codeB;
  }
  if (count < 2) return;
  FClippedCount += count;
  FPolyPolyPoints.push_back(count);
}

// --- Shapes

void TGRenderer::DrawEllipse(const TGRect& rect)
{
  QPainter* canvas = PreparedCanvas();
  if (!canvas) return;
  const QRect r = ShapeRect(rect);
  if (r.width() < 0 || r.height() < 0) return;
  SelectAttributes(asPen | asBrush);
  canvas->drawEllipse(r);
}

void TGRenderer::DrawRectangle(const TGRect& rect)
{
  QPainter* canvas = PreparedCanvas();
  if (!canvas) return;
  const QRect r = ShapeRect(rect);
  if (r.width() < 0 || r.height() < 0) return;
  SelectAttributes(asPen | asBrush);
  canvas->drawRect(r);
}

void TGRenderer::DrawFocusRect(const TGRect& rect)
{
  QPainter* canvas = PreparedCanvas();
  if (!canvas) return;
  const QRect r = ShapeRect(rect);
  if (r.width() < 0 || r.height() < 0) return;
  QPen dots(Qt::black);
  dots.setCosmetic(true);
  dots.setDashPattern({1.0, 1.0});
  dots.setCapStyle(Qt::FlatCap);
  canvas->setOpacity(1.0);
  canvas->setPen(dots);
  canvas->setBrush(Qt::NoBrush);
  canvas->setCompositionMode(QPainter::RasterOp_NotDestination);
  canvas->drawRect(r);
  canvas->setCompositionMode(QPainter::CompositionMode_SourceOver);
  ForgetSelected(asPen | asBrush);
  FCanvasAlpha = -1;
}

void TGRenderer::DrawPixel(int32_t X, int32_t Y, TColor color, uint8_t alpha)
{
  if (alpha == 0 || X < 0 || Y < 0 || X >= FWidth || Y >= FHeight) return;
  QPainter* canvas = PreparedCanvas();
  if (!canvas) return;
  QColor c = ToQColor(color);
  c.setAlpha(alpha);
  canvas->setOpacity(1.0);
  FCanvasAlpha = -1;
  canvas->fillRect(QRect(X, Y, 1, 1), c);
}

void TGRenderer::DrawPoly(const TGPoint* points, int32_t count, bool closed)
{
  if (count < 2) return;
  QPainter* canvas = PreparedCanvas();
  if (!canvas) return;
  SelectAttributes(asPen | asBrush);
  if (FQPoints.size() < static_cast<size_t>(count)) FQPoints.resize(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i)
    FQPoints[static_cast<size_t>(i)] = QPointF(points[i].X, points[i].Y);
  if (closed)
    canvas->drawPolygon(FQPoints.data(), count, Qt::OddEvenFill);
  else
    canvas->drawPolyline(FQPoints.data(), count);
}

// --- Text

void TGRenderer::GetTextRect(int32_t X, int32_t Y, TGRect& rect, int32_t offset,
                             TGTitleAlignment alignment, std::string_view text)
{
  const QFontMetrics& metrics = FFont.DeviceMetrics(*this);
  const QString& s = TextBuffer(text);
  int32_t w = 0, lines = 0;
  if (!s.contains(u'\n')) {
    w = metrics.horizontalAdvance(s);
    lines = 1;
  } else {
    ForEachLine(s, [&](qsizetype start, qsizetype length) {
      w = std::max(w, static_cast<int32_t>(metrics.horizontalAdvance(s.mid(start, length))));
      ++lines;
    });
  }
  const int32_t h = metrics.height() * lines;
  const int32_t a = offset;
  int32_t dx = 0, dy = 0;
  switch (alignment) {
  case taNone:
    break;
  case taCenter:
    dx = -(w / 2), dy = -(h / 2);
    break;
  case taLeft:
    dx = -(w + a), dy = -(h / 2);
    break;
  case taRight:
    dx = a, dy = -(h / 2);
    break;
  case taTopLeft:
    dx = -(w + a), dy = -(h + a);
    break;
  case taTop:
    dx = -(w / 2), dy = -(h + a);
    break;
  case taTopRight:
    dx = a, dy = -(h + a);
    break;
  case taBottomLeft:
    dx = -(w + a), dy = a;
    break;
  case taBottom:
    dx = -(w / 2), dy = a;
    break;
  case taBottomRight:
    dx = a, dy = a;
    break;
  }
  rect.Left = X + dx;
  rect.Top = Y + dy;
  rect.Right = rect.Left + w;
  rect.Bottom = rect.Top + h;
}

void TGRenderer::DrawText(int32_t X, int32_t Y, std::string_view text, TGTitleAlignment alignment,
                          int32_t offset)
{
  TGRect rect;
  GetTextRect(X, Y, rect, offset, alignment, text);
  DrawTextRect(rect, text);
}

void TGRenderer::DrawTextRect(const TGRect& aRect, std::string_view text)
{
  if (text.empty()) return;
  QPainter* canvas = PreparedCanvas();
  if (!canvas) return;
  SelectAttributes(asFont);
  const QFontMetrics& metrics = FFont.DeviceMetrics(*this);
  const QString& s = TextBuffer(text);

  // Turned text turns about the rectangle's top-left corner.
  const bool turned = FFont.Angle() % 3600 != 0;
  int32_t x = aRect.Left, y = aRect.Top;
  if (turned) {
    QTransform turn;
    turn.translate(x, y);
    turn.rotate(-FFont.Angle() / 10.0);
    canvas->setWorldTransform(turn);
    x = y = 0;
  }
  // Text never fills its background; the brush's background mode is set again before the
  // brush is next used.
  canvas->setBackgroundMode(Qt::TransparentMode);
  ForgetSelected(asBrush | asPen);

  const TGFontStyles style = FFont.Style();
  if (HasFontStyle(style, gfsOpaque)) {
    canvas->setOpacity(FAlphaBlend / 255.0 * FFont.BkAlphaBlend() / 255.0);
    canvas->fillRect(
        QRect(x - 1, y - 1, aRect.Right - aRect.Left + 2, aRect.Bottom - aRect.Top + 2),
        FFont.BkBrush());
    canvas->setOpacity(FAlphaBlend / 255.0);
  }
  const bool halo = HasFontStyle(style, gfsHalo);
  const int32_t ascent = metrics.ascent(), lineHeight = metrics.height();
  auto drawLine = [&](const QString& line, int32_t top) {
    if (halo) {
      QPainterPath outline;
      outline.addText(QPointF(x, top + ascent), FFont.DeviceFont(*this), line);
      canvas->strokePath(outline, FFont.HaloPen());
    }
    canvas->setPen(FFont.TextPen());
    canvas->drawText(QPoint(x, top + ascent), line);
  };
  if (!s.contains(u'\n')) {
    drawLine(s, y);
  } else {
    int32_t top = y;
    ForEachLine(s, [&](qsizetype start, qsizetype length) {
      drawLine(s.mid(start, length), top);
      top += lineHeight;
    });
  }
  if (turned) canvas->resetTransform();
}

// --- Pixels and textures

void TGRenderer::DrawScanLine(int32_t Y, int32_t x1, int32_t x2, double u1, double u2, double v1,
                              double v2, const TGBitmap& image)
{
  if (Y < 0 || Y >= FHeight || x2 <= x1 || image.Empty()) return;
  const TextureSource source(image);
  const double du = (u2 - u1) / (x2 - x1), dv = (v2 - v1) / (x2 - x1);
  const int32_t xs = std::max(x1, 0), xe = std::min(x2, FWidth);
  for (int32_t x = xs; x < xe; ++x) {
    uint32_t pixel;
    if (!source.Sample(u1 + du * (x - x1), v1 + dv * (x - x1), pixel)) continue;
    DrawPixel(x, Y, PixelToColor(pixel), source.Alpha);
  }
}

void TGRenderer::DrawTextureTriangle(const TGTriangle& srcTri, const TGTriangle& destTri,
                                     const TGBitmap& image)
{
  if (image.Empty()) return;
  const TGPoint &d0 = destTri[0], &d1 = destTri[1], &d2 = destTri[2];
  const double det =
      double(d1.X - d0.X) * double(d2.Y - d0.Y) - double(d2.X - d0.X) * double(d1.Y - d0.Y);
  if (det == 0) return;
  // Source position as an affine function of the device position.
  const double su1 = srcTri[1].X - srcTri[0].X, su2 = srcTri[2].X - srcTri[0].X;
  const double sv1 = srcTri[1].Y - srcTri[0].Y, sv2 = srcTri[2].Y - srcTri[0].Y;
  const double ex1 = double(d1.X) - d0.X, ey1 = double(d1.Y) - d0.Y;
  const double ex2 = double(d2.X) - d0.X, ey2 = double(d2.Y) - d0.Y;
  const double ux = (su1 * ey2 - su2 * ey1) / det, uy = (su2 * ex1 - su1 * ex2) / det;
  const double vx = (sv1 * ey2 - sv2 * ey1) / det, vy = (sv2 * ex1 - sv1 * ex2) / det;
  auto uAt = [&](double x, double y) { return srcTri[0].X + ux * (x - d0.X) + uy * (y - d0.Y); };
  auto vAt = [&](double x, double y) { return srcTri[0].Y + vx * (x - d0.X) + vy * (y - d0.Y); };

  // Edges with their upper end first, so that a shared edge gives both triangles the same cut.
  struct Edge
  {
    double x0, y0, x1, y1;
  };
  Edge edges[3];
  for (int i = 0; i < 3; ++i) {
    TGPoint a = destTri[i], b = destTri[(i + 1) % 3];
    if (b.Y < a.Y) std::swap(a, b);
    edges[i] = {double(a.X), double(a.Y), double(b.X), double(b.Y)};
  }
  const int32_t yTop = std::max({std::min({d0.Y, d1.Y, d2.Y}), 0});
  const int32_t yEnd = std::min({std::max({d0.Y, d1.Y, d2.Y}), FHeight});
  for (int32_t y = yTop; y < yEnd; ++y) {
    // Pixel centres lie halfway between the integer corners: a row never meets a corner.
    const double yc = y + 0.5;
    double xl = HUGE_VAL, xr = -HUGE_VAL;
    for (const Edge& e : edges) {
      if (!(e.y0 < yc && yc < e.y1)) continue;
      const double x = e.x0 + (yc - e.y0) * (e.x1 - e.x0) / (e.y1 - e.y0);
      xl = std::min(xl, x);
      xr = std::max(xr, x);
    }
    if (!(xl < xr)) continue;
    // Pixels whose centre lies in [xl, xr), within the surface.
    const double first = std::clamp(std::ceil(xl - 0.5), 0.0, double(FWidth));
    const double last = std::clamp(std::ceil(xr - 0.5), 0.0, double(FWidth));
    const auto x1 = static_cast<int32_t>(first), x2 = static_cast<int32_t>(last);
    if (x1 >= x2) continue;
    DrawScanLine(y, x1, x2, uAt(x1 + 0.5, yc), uAt(x2 + 0.5, yc), vAt(x1 + 0.5, yc),
                 vAt(x2 + 0.5, yc), image);
  }
}

void TGRenderer::SetSize(int32_t newWidth, int32_t newHeight)
{
  FWidth = std::max(newWidth, 0);
  FHeight = std::max(newHeight, 0);
  RefreshDC();
}

bool TGRenderer::TriangleLLVisible(const TGPointLL& p1, const TGPointLL& p2, const TGPointLL& p3)
{
  if (!FHost) return false;
  TGTriangle screen;
  if (!FHost->Projector().TriangleLLToXY({p1, p2, p3}, screen)) return false;
  return XYListVisible(screen.data(), 3);
}

const QBitmap* TGRenderer::PatternBitmap(TGBrushStyle style) const
{
  if (style < gbsPattern1 || style >= kBrushStyleCount) return nullptr;
  std::optional<QBitmap>& slot = FPatterns[static_cast<size_t>(style)];
  if (!slot) {
    static const bool registered = [] {
      InitBrushResources();
      return true;
    }();
    (void)registered;
    const QImage image(QStringLiteral(":/brushes/BRUSH_%1").arg(int(style)), "XBM");
    slot = image.isNull() ? QBitmap() : QBitmap::fromImage(image);
  }
  return slot->isNull() ? nullptr : &*slot;
}

// ---------------------------------------------------------------------------------------------
// Default renderer

TGDefaultRenderer::TGDefaultRenderer(TGGlobe* parentGlobe)
    : TGRenderer(parentGlobe), FBackBuffer(std::make_unique<TGBitmap>())
{
}

TGDefaultRenderer::~TGDefaultRenderer() = default;

void TGDefaultRenderer::SetTargetCanvas(QPainter* painter)
{
  FTargetCanvas = painter;
  RefreshDC();
}

void TGDefaultRenderer::CopyBackBuffer(QPainter& canvas, int32_t x, int32_t y) const
{
  if (!FBackBuffer->Empty()) canvas.drawImage(QPoint(x, y), FBackBuffer->Image());
}

QPainter* TGDefaultRenderer::Canvas()
{
  if (FTargetCanvas) return FTargetCanvas;
  if (FDoubleBuffer) return FBackBuffer->Canvas();
  return Host() ? Host()->ControlCanvas() : nullptr;
}

bool TGDefaultRenderer::DrawsIntoBackBuffer() const
{
  return !FTargetCanvas && FDoubleBuffer && !FBackBuffer->Empty();
}

void TGDefaultRenderer::SetSize(int32_t newWidth, int32_t newHeight)
{
  try {
    FBackBuffer->SetSize(newWidth, newHeight);
  } catch (...) {
    TGRenderer::SetSize(0, 0);
    throw;
  }
  TGRenderer::SetSize(newWidth, newHeight);
}

void TGDefaultRenderer::Clear(TColor color)
{
  if (!DrawsIntoBackBuffer()) {
    TGRenderer::Clear(color);
    return;
  }
  ResetAttributes();
  FBackBuffer->Clear(color);
}

void TGDefaultRenderer::DrawPixel(int32_t X, int32_t Y, TColor color, uint8_t alpha)
{
  if (!DrawsIntoBackBuffer()) {
    TGRenderer::DrawPixel(X, Y, color, alpha);
    return;
  }
  TGBitmap& bb = *FBackBuffer;
  if (alpha == 0 || X < 0 || Y < 0 || X >= bb.Width() || Y >= bb.Height()) return;
  uint32_t& pixel = bb.Bits()[X + static_cast<size_t>(Y) * static_cast<size_t>(bb.Width())];
  pixel = alpha == 255 ? ColorToPixel(color) : BlendPixel(pixel, ColorToPixel(color), alpha);
}

void TGDefaultRenderer::DrawScanLine(int32_t Y, int32_t x1, int32_t x2, double u1, double u2,
                                     double v1, double v2, const TGBitmap& image)
{
  if (!DrawsIntoBackBuffer()) {
    TGRenderer::DrawScanLine(Y, x1, x2, u1, u2, v1, v2, image);
    return;
  }
  TGBitmap& bb = *FBackBuffer;
  if (Y < 0 || Y >= bb.Height() || x2 <= x1 || image.Empty()) return;
  const TextureSource source(image);
  const double du = (u2 - u1) / (x2 - x1), dv = (v2 - v1) / (x2 - x1);
  const int32_t xs = std::max(x1, 0), xe = std::min(x2, bb.Width());
  if (xs >= xe) return;
  uint32_t* row = bb.Bits() + static_cast<size_t>(Y) * static_cast<size_t>(bb.Width());
  const uint32_t alpha = source.Alpha;
  auto put = [&](int32_t x, uint32_t pixel) {
    row[x] = alpha == 255 ? (pixel | 0xFF000000u) : BlendPixel(row[x], pixel, alpha);
  };

  // Source positions in fixed point with 24 fraction bits, stepped by addition; positions
  // too far out for that (a degenerate mapping) take the plain sampling below.
  constexpr double kOne = 16777216.0, kFar = 274877906944.0; // 2^24, 2^38
  const double ua = u1 + du * (xs - x1), va = v1 + dv * (xs - x1);
  const double ub = u1 + du * (xe - 1 - x1), vb = v1 + dv * (xe - 1 - x1);
  if (!(std::fabs(ua) < kFar && std::fabs(ub) < kFar && std::fabs(va) < kFar &&
        std::fabs(vb) < kFar)) {
    for (int32_t x = xs; x < xe; ++x) {
      uint32_t pixel;
      if (source.Sample(u1 + du * (x - x1), v1 + dv * (x - x1), pixel)) put(x, pixel);
    }
    return;
  }
  int64_t uf = std::llround(ua * kOne), vf = std::llround(va * kOne);
  const int64_t duf = std::llround(du * kOne), dvf = std::llround(dv * kOne);
  const int64_t uEnd = int64_t{source.Width} << 24, vEnd = int64_t{source.Height} << 24;
  // The pixels whose position lies before the image's far edges form one run: positions move
  // linearly along the row.
  int64_t first = xs, last = xe; // [first, last)
  auto within = [&](int64_t start, int64_t step, int64_t end) {
    if (step == 0) {
      if (start >= end) last = first;
    } else if (step > 0) {
      if (start >= end)
        last = first;
      else
        last = std::min(last, xs + (end - start + step - 1) / step);
    } else if (start >= end) {
      first = std::max(first, xs + (start - end) / -step + 1);
    }
  };
  within(uf, duf, uEnd);
  within(vf, dvf, vEnd);
  if (first >= last) return;
  uf += duf * (first - xs);
  vf += dvf * (first - xs);
  const auto width = static_cast<size_t>(source.Width);
  for (auto x = static_cast<int32_t>(first); x < last; ++x, uf += duf, vf += dvf) {
    const auto iu = static_cast<size_t>(uf > 0 ? uf >> 24 : 0); // negative positions read 0
    const auto iv = static_cast<size_t>(vf > 0 ? vf >> 24 : 0);
    const uint32_t pixel = source.Bits[iu + iv * width];
    if (source.Transparent && (pixel & 0xFFFFFFu) == source.Key) continue;
    put(x, pixel);
  }
}

void TGDefaultRenderer::DrawPolyPolygon(const TGPoint* points, const int32_t* counts,
                                        int32_t partCount, bool closed)
{
  QPainter* canvas = PreparedCanvas();
  if (!canvas || partCount <= 0) return;
  SelectAttributes(asPen | asBrush);
  int64_t total = 0;
  for (int32_t i = 0; i < partCount; ++i)
    total += std::max(counts[i], 0);
  // Room for every part closed and followed by the first point (see below).
  const size_t need = static_cast<size_t>(total) + 2 * static_cast<size_t>(partCount);
  if (FQPoints.size() < need) FQPoints.resize(need);
  QPointF* q = FQPoints.data();

  // Qt's 1-pixel lines leave out the corner pixel before a segment that it cuts at the edge of
  // the surface while drawing it backwards (upwards or leftwards). A solid opaque pen sets
  // those pixels again; drawing a pixel twice changes nothing then.
  const bool patchJoints = FPen.DeviceWidth() < 2 && FPen.Style() == gpsSolid && FAlphaBlend == 255;
  const QPaintDevice* device = canvas->device();
  const int surfaceWidth = device ? device->width() : 0;
  const int surfaceHeight = device ? device->height() : 0;
  // QRect(0, 0, width, height).contains(p.toPoint()), inline: it runs for every point.
  const auto onSurface = [&](const QPointF& p) {
    const int x = qRound(p.x()), y = qRound(p.y());
    return x >= 0 && y >= 0 && x < surfaceWidth && y < surfaceHeight;
  };
  auto patch = [&](const QPointF* line, int32_t n) {
    if (!patchJoints) return;
    for (int32_t j = 1; j + 1 < n; ++j)
      if (onSurface(line[j]) && !onSurface(line[j + 1])) canvas->drawPoint(line[j]);
  };

  if (!closed) {
    for (int32_t i = 0; i < partCount; ++i) {
      const int32_t n = counts[i];
      for (int32_t j = 0; j < n; ++j)
        q[j] = QPointF(points[j].X, points[j].Y);
      if (n >= 2) {
        canvas->drawPolyline(q, n);
        patch(q, n);
      }
      points += std::max(n, 0);
    }
    return;
  }
  if (partCount == 1) {
    const int32_t n = counts[0];
    for (int32_t j = 0; j < n; ++j)
      q[j] = QPointF(points[j].X, points[j].Y);
    if (n >= 2) {
      canvas->drawPolygon(q, n, Qt::OddEvenFill);
      patch(q, n);
    }
    return;
  }

  // Several rings are filled as one polygon: each ring closed, and from the second ring on
  // followed by a return to the first ring's start. Every connecting edge is then run once
  // each way, which cancels under the alternate fill, so holes and islands fill as in one
  // poly-polygon. The outlines are drawn ring by ring, without the connections.
  const QPointF anchor(points[0].X, points[0].Y);
  size_t m = 0;
  for (int32_t i = 0; i < partCount; ++i) {
    const int32_t n = counts[i];
    if (n <= 0) continue;
    const size_t first = m;
    for (int32_t j = 0; j < n; ++j)
      q[m++] = QPointF(points[j].X, points[j].Y);
    if (q[m - 1] != q[first]) q[m++] = q[first];
    if (i > 0) q[m++] = anchor;
    points += n;
  }
  const QPen& pen = FPen.DevicePen(*this);
  canvas->setPen(FNoPen);
  canvas->drawPolygon(q, static_cast<int>(m), Qt::OddEvenFill);
  canvas->setPen(pen);
  if (pen.style() == Qt::NoPen) return;
  canvas->setBrush(FNoBrush);
  size_t at = 0;
  for (int32_t i = 0; i < partCount; ++i) {
    const int32_t n = counts[i];
    if (n <= 0) continue;
    const size_t first = at;
    at += static_cast<size_t>(n);
    if (q[at - 1] != q[first]) ++at; // the closing point added above
    if (i > 0) ++at;                 // the return to the anchor
    if (n >= 2) {
      canvas->drawPolygon(q + first, n);
      patch(q + first, n);
    }
  }
  canvas->setBrush(FBrush.DeviceBrush(*this));
}

// ---------------------------------------------------------------------------------------------
// XML forms of the attributes

void TGPen::SaveToXML(TGXML_Element& el) const
{
  el.AddColorAttribute("Color", FColor, clBlack);
  el.AddIntAttribute("Style", FStyle, gpsSolid);
  el.AddIntAttribute("Width", FWidth, 1);
  el.AddUnitAttribute("Unit", FWidthUnit, guPixel);
}

void TGPen::LoadFromXML(const TGXML_Element& el)
{
  // The unit first: an unknown one raises before anything changes.
  const TGUnitTypes unit = el.UnitAttribute("Unit", guPixel);
  Define(el.ColorAttribute("Color", clBlack), EnumAttribute(el, "Style", gpsSolid, 7),
         el.IntAttribute("Width", 1), unit);
}

void TGBrush::SaveToXML(TGXML_Element& el) const
{
  el.AddColorAttribute("Color", FColor, clWhite);
  el.AddColorAttribute("BkColor", FBkColor, clWhite);
  el.AddIntAttribute("Style", FStyle, gbsSolid);
}

void TGBrush::LoadFromXML(const TGXML_Element& el)
{
  Define(el.ColorAttribute("Color", clWhite), el.ColorAttribute("BkColor", clWhite),
         EnumAttribute(el, "Style", gbsSolid, kBrushStyleCount));
}

void TGFont::SaveToXML(TGXML_Element& el) const
{
  el.AddAttribute("Name", FName, false, "Arial");
  el.AddColorAttribute("BkColor", FBkColor, clWhite);
  el.AddColorAttribute("Color", FColor, clBlack);
  el.AddIntAttribute("Style", FStyle, 0);
  el.AddIntAttribute("Size", FSize, 9);
  el.AddIntAttribute("Angle", FAngle, 0);
  el.AddUnitAttribute("Unit", FSizeUnit, guPixel);
  el.AddIntAttribute("BkAlpha", FBkAlphaBlend, 255);
}

void TGFont::LoadFromXML(const TGXML_Element& el)
{
  const TGUnitTypes unit = el.UnitAttribute("Unit", guPixel);
  const int32_t style = el.IntAttribute("Style", 0);
  const int32_t alpha = el.IntAttribute("BkAlpha", 255);
  Define(el.Attribute("Name", "Arial"), el.ColorAttribute("Color", clBlack),
         el.ColorAttribute("BkColor", clWhite), el.IntAttribute("Size", 9), unit,
         el.IntAttribute("Angle", 0),
         static_cast<TGFontStyles>(style >= 0 && style < 64 ? style : 0),
         static_cast<uint8_t>(alpha >= 0 && alpha <= 255 ? alpha : 255));
}

} // namespace vtr
