#pragma once
// The renderer unit: the shared point buffer that projections write into, the render state
// flags, IGRenderSurface (the part of the renderer the projector and its projection models
// use), the drawing attributes (TGPen, TGBrush, TGFont) and the renderer itself (TGRenderer,
// drawn with QPainter by TGDefaultRenderer into a TGBitmap back buffer or onto the control).
//
// Device coordinates are pixels, x to the right and y down; rectangles have exclusive Right
// and Bottom edges. Sizes of attributes are in any TGUnitTypes unit and become pixels at the
// scale of the moment (ScaleUnitsToDevice), so pens and fonts in map units follow the zoom.

#include "globe/GClasses.h"
#include "globe/GSysUtils.h"

#include <QBitmap>
#include <QBrush>
#include <QFont>
#include <QFontMetrics>
#include <QPen>
#include <QPoint>
#include <QPointF>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QPainter;

namespace vtr {

class TGBitmap;
class TGProjector;
class TGRenderer;
class TGXML_Element;

// Render state of one object (bit values): rsClosed 1, rsSelected 2, rsFace 4 (some of it lies
// on the visible side), rsBackFace 8 (some of it lies on the far side of the globe).
enum TGRenderState : uint8_t { rsClosed = 1, rsSelected = 2, rsFace = 4, rsBackFace = 8 };
using TGRenderStateSet = uint8_t;

// Where a text stands beside its reference point (see TGRenderer::GetTextRect).
enum TGTitleAlignment {
  taNone,
  taCenter,
  taLeft,
  taRight,
  taTopLeft,
  taTop,
  taTopRight,
  taBottomLeft,
  taBottom,
  taBottomRight
};

// The point buffer every projection writes into: element i is a device point (x, y) in pixels
// after a forward projection, or (longitude, latitude) in GU after an inverse one. The caller
// chooses the index, so a whole polygon is projected point by point and then drawn in one call;
// single points use index 0. The buffer is shared, so an element is only good until the next
// projection that writes it.
//
// The buffer is allocated once with kInitialCapacity points and only ever grows (for a polygon
// larger than that); growing moves the storage, so never keep Data() across a Reserve or Put.
class TGPointBuffer
{
public:
  static constexpr int32_t kInitialCapacity = 262'144;

  TGPointBuffer() : FPoints(kInitialCapacity) {}
  TGPointBuffer(const TGPointBuffer&) = delete;
  TGPointBuffer& operator=(const TGPointBuffer&) = delete;

  int32_t Capacity() const { return static_cast<int32_t>(FPoints.size()); }
  // Makes indexes 0 .. count - 1 valid; a negative count is an assertion failure.
  void Reserve(int32_t count)
  {
    G_ASSERT(count >= 0);
    if (count > Capacity()) Grow(static_cast<size_t>(count));
  }
  // Writes element index, growing the buffer when needed; a negative index is an assertion
  // failure.
  void Put(int32_t index, const TGPoint& pt)
  {
    if (static_cast<uint32_t>(index) >= FPoints.size()) {
      G_ASSERT(index >= 0);
      Grow(static_cast<size_t>(index) + 1);
    }
    FPoints[static_cast<size_t>(index)] = pt;
  }
  // Unchecked access: 0 <= index < Capacity().
  TGPoint& operator[](int32_t index) { return FPoints[static_cast<size_t>(index)]; }
  const TGPoint& operator[](int32_t index) const { return FPoints[static_cast<size_t>(index)]; }
  TGPoint* Data() { return FPoints.data(); }
  const TGPoint* Data() const { return FPoints.data(); }

private:
  void Grow(size_t count);

  std::vector<TGPoint> FPoints;
};

// What the projector and the projection models need of the renderer. The globe's renderer
// implements it; the globe hands it out through IGProjectorHost::Renderer().
class IGRenderSurface
{
public:
  virtual ~IGRenderSurface() = default;

  // The shared point buffer (owned by the renderer for its whole life).
  virtual TGPointBuffer& Points() = 0;
  // Size of the drawing area in pixels (0 or more).
  virtual int32_t Width() const = 0;
  virtual int32_t Height() const = 0;
  // Pixel density of the surface drawn on: the screen's, or a printer's while printing.
  virtual int32_t PixelsPerInch() const = 0;

  // Poly-polygon drawing with the current pen and brush: BeginDrawPoly starts one (closed: a
  // filled polygon, else a polyline), AddClippedPoly clips the first iPoints points of Points()
  // to the drawing area widened by 2 * max(iPenWidth, 1) pixels and adds them as one part,
  // EndDrawPoly draws all parts in one call.
  virtual void BeginDrawPoly(bool closed) = 0;
  virtual void AddClippedPoly(int32_t iPoints, int32_t iPenWidth) = 0;
  virtual void EndDrawPoly() = 0;

  // False for fewer than 2 points; otherwise false only when the points' bounding box lies
  // wholly left of 0, right of Width(), above 0 or below Height().
  virtual bool XYListVisible(const TGPoint* points, int32_t count) const;
};

// What the renderer, the graticule and the label renderer need of the globe control that owns
// them. The globe implements it and hands itself to each of them (SetHost); tests implement
// it without a window. Without a host they work at scale 0 with nothing to project onto.
// Projector() and Renderer() match those of IGLayerHost and IGProjectorHost, so one override
// serves each pair.
class IGRenderHost
{
public:
  virtual ~IGRenderHost() = default;

  // The globe's projector (scale factor, altitude, projection).
  virtual TGProjector& Projector() = 0;
  // The globe's renderer.
  virtual TGRenderer& Renderer() = 0;
  // The screen's pixel density (sizes in guPixel are meant for it).
  virtual int32_t ScreenPixelsPerInch() const = 0;
  // A painter on the control while it paints, for a renderer that is not double-buffered;
  // null outside painting.
  virtual QPainter* ControlCanvas() = 0;
  // The globe's RenderLine: the line between two positions interpolated in iSteps steps of GU,
  // drawn with the renderer's pen where the projection shows it.
  virtual void RenderLine(const TGPointLL& ptFromLL, const TGPointLL& ptToLL, int32_t iSteps) = 0;
  // The globe's periodic update during a long render (copies the partial picture to the
  // screen when its time has come).
  virtual void PeriodicUpdate() = 0;
  // True when the render in progress must end early: it was restarted, or the application is
  // closing.
  virtual bool RenderMustStop() = 0;
};

// ---------------------------------------------------------------------------------------------
// Scale conversions. scaleFactor is the projector's, in pixels per GU (0 when unknown).

// eValue units in GU: for guPixel round (eValue / scaleFactor), otherwise round (eValue x the
// unit's factor); round (eValue) when the computation fails (no scale, out of range).
int32_t GlobeUnitsFrom(long double eValue, TGUnitTypes units, long double scaleFactor);
// iValue GU in units: for guPixel iValue x scaleFactor, otherwise iValue / the unit's factor.
long double GlobeUnitsTo(int32_t iValue, TGUnitTypes units, long double scaleFactor);
// A size in device pixels: for guPixel value x rendererPPI / screenPPI (64-bit
// multiply-then-divide, rounded half to even), otherwise round (GlobeUnitsFrom (value, units)
// x scaleFactor).
int32_t ScaleUnitsToDevice(int32_t value, TGUnitTypes units, long double scaleFactor,
                           int32_t rendererPPI, int32_t screenPPI);
// a x b / c in 64 bits, rounded half to even; c = 0 gives a x b.
int32_t MulDivRound(int64_t a, int64_t b, int64_t c);

// Blends source over target: each 8-bit channel becomes
// (alpha x source + (255 - alpha) x target) div 256.
void ColorBlend(TColor& target, TColor source, uint8_t alpha);

// ---------------------------------------------------------------------------------------------
// Drawing attributes

enum TGPenStyle { gpsSolid, gpsDash, gpsDot, gpsDashDot, gpsDashDotDot, gpsClear, gpsInsideFrame };

// Solid, hollow, the six hatches and the fifty pattern brushes (resource "BRUSH_8" for
// gbsPattern1 up to "BRUSH_57" for gbsPattern50).
// clang-format off
enum TGBrushStyle {
  gbsSolid, gbsClear, gbsHorizontal, gbsVertical, gbsFDiagonal, gbsBDiagonal, gbsCross,
  gbsDiagCross,
  gbsPattern1, gbsPattern2, gbsPattern3, gbsPattern4, gbsPattern5, gbsPattern6, gbsPattern7,
  gbsPattern8, gbsPattern9, gbsPattern10, gbsPattern11, gbsPattern12, gbsPattern13,
  gbsPattern14, gbsPattern15, gbsPattern16, gbsPattern17, gbsPattern18, gbsPattern19,
  gbsPattern20, gbsPattern21, gbsPattern22, gbsPattern23, gbsPattern24, gbsPattern25,
  gbsPattern26, gbsPattern27, gbsPattern28, gbsPattern29, gbsPattern30, gbsPattern31,
  gbsPattern32, gbsPattern33, gbsPattern34, gbsPattern35, gbsPattern36, gbsPattern37,
  gbsPattern38, gbsPattern39, gbsPattern40, gbsPattern41, gbsPattern42, gbsPattern43,
  gbsPattern44, gbsPattern45, gbsPattern46, gbsPattern47, gbsPattern48, gbsPattern49,
  gbsPattern50
};
// clang-format on
inline constexpr int kBrushStyleCount = 58;

// Font styles, and their set: bit (1 << style) for each member.
enum TGFontStyle { gfsBold, gfsItalic, gfsUnderline, gfsStrikeOut, gfsOpaque, gfsHalo };
using TGFontStyles = uint8_t;
constexpr TGFontStyles FontStyleBit(TGFontStyle style)
{
  return static_cast<TGFontStyles>(1u << style);
}
constexpr bool HasFontStyle(TGFontStyles styles, TGFontStyle style)
{
  return (styles & FontStyleBit(style)) != 0;
}

// A drawing attribute: settings that are turned into a device object (a Qt pen, brush or font)
// for one renderer at the scale of the moment. The device object is kept until a setting
// changes, the attribute is used with another renderer, or its size in pixels changes (the
// zoom for sizes in map units, the pixel density, the text size limits for fonts). Copying
// (Assign) takes the source's device object along, so an attribute lent to the renderer for
// every object is realized once, not once per object.
class TGAttribute : public TGRoot
{
public:
  TGAttribute() = default;
  TGAttribute(const TGAttribute&) = delete;
  TGAttribute& operator=(const TGAttribute&) = delete;
  std::string ClassName() const override { return "TGAttribute"; }

  // A digest of the settings; equal settings give equal values.
  uint64_t HashValue() const { return FHashValue; }
  // The renderer the device object was made for (null when there is none).
  const TGRenderer* Renderer() const { return FRealized ? FRenderer : nullptr; }
  // The device object for renderer, made now when there is none or it no longer fits; an
  // identifier that changes whenever the device object does (never 0).
  uint32_t AttributeHandle(const TGRenderer& renderer) const;
  // The identifier of the present device object, 0 when there is none.
  uint32_t Handle() const { return FRealized ? FHandle : 0; }
  // Drops the device object.
  virtual void Release() const;

  // Set by every change of a setting; cleared by the owner.
  bool Modified() const { return FModified; }
  void SetModified(bool value) { FModified = value; }
  // Fired after every change of a setting.
  std::function<void()> OnChange;

  // Copies the settings (and the device object) of an attribute of the same class; others
  // are an assertion failure.
  virtual void Assign(const TGAttribute& source) = 0;
  virtual std::unique_ptr<TGAttribute> Clone() const = 0;
  // Same class and same settings.
  virtual bool Equals(const TGAttribute& other) const = 0;

  // XML form: the settings as attributes of el, each left out at its default (no "Class").
  // Loading sets every setting, missing or malformed ones to their defaults.
  virtual void SaveToXML(TGXML_Element& el) const = 0;
  virtual void LoadFromXML(const TGXML_Element& el) = 0;

protected:
  // After a setting changed: new hash, modified, device object dropped, OnChange.
  void Changed();
  // Sets one setting; Changed when it differs.
  template <class T> void SetSetting(T& field, const T& value)
  {
    if (field == value) return;
    field = value;
    Changed();
  }
  // After Assign copied the settings: as Changed, but the source's device object is kept.
  void Copied(const TGAttribute& source);
  virtual uint64_t ComputeHash() const = 0;
  // Whether the present device object still fits renderer (the base checks the renderer).
  virtual bool Fits(const TGRenderer& renderer) const;
  // Makes the device object for renderer.
  virtual void Realize(const TGRenderer& renderer) const = 0;
  // Copies the device object of an attribute of the same class.
  virtual void CopyRealization(const TGAttribute& source) const = 0;

  uint64_t FHashValue = 0;
  bool FModified = false;
  mutable const TGRenderer* FRenderer = nullptr;
  mutable uint32_t FHandle = 0;
  mutable bool FRealized = false;
};

// A pen. Width in WidthUnit; below 2 pixels it is a 1-pixel pen of the style, otherwise a
// geometric pen of that width with round ends and joins.
class TGPen : public TGAttribute
{
public:
  TGPen();
  std::string ClassName() const override { return "TGPen"; }

  TColor Color() const { return FColor; }
  void SetColor(TColor value) { SetSetting(FColor, value); }
  TGPenStyle Style() const { return FStyle; }
  void SetStyle(TGPenStyle value) { SetSetting(FStyle, value); }
  int32_t Width() const { return FWidth; }
  void SetWidth(int32_t value) { SetSetting(FWidth, value); }
  TGUnitTypes WidthUnit() const { return FWidthUnit; }
  void SetWidthUnit(TGUnitTypes value) { SetSetting(FWidthUnit, value); }
  void Define(TColor color, TGPenStyle style, int32_t width, TGUnitTypes widthUnit);

  void Assign(const TGAttribute& source) override;
  std::unique_ptr<TGAttribute> Clone() const override;
  bool Equals(const TGAttribute& other) const override;
  void SaveToXML(TGXML_Element& el) const override;
  void LoadFromXML(const TGXML_Element& el) override;

  // The Qt pen for renderer (realized when needed) and its width in pixels.
  const QPen& DevicePen(const TGRenderer& renderer) const;
  int32_t DeviceWidth() const { return FDeviceWidth; }
  // The altitude of the renderer when the pen was realized.
  uint32_t RealizedAltitude() const { return FAltitude; }

protected:
  uint64_t ComputeHash() const override;
  bool Fits(const TGRenderer& renderer) const override;
  void Realize(const TGRenderer& renderer) const override;
  void CopyRealization(const TGAttribute& source) const override;

private:
  TColor FColor = clBlack;
  TGPenStyle FStyle = gpsSolid;
  int32_t FWidth = 1;
  TGUnitTypes FWidthUnit = guPixel;
  mutable QPen FQPen;
  mutable int32_t FDeviceWidth = 0;
  mutable uint32_t FAltitude = 0;
};

// A brush: solid, hollow, a hatch in Color, or a pattern with Color for its 1 bits and
// BkColor for its 0 bits. Hatches (and dashed pens drawn while the brush is selected) fill
// their gaps with BkColor unless it equals Color.
class TGBrush : public TGAttribute
{
public:
  TGBrush();
  std::string ClassName() const override { return "TGBrush"; }

  TColor Color() const { return FColor; }
  void SetColor(TColor value) { SetSetting(FColor, value); }
  TColor BkColor() const { return FBkColor; }
  void SetBkColor(TColor value) { SetSetting(FBkColor, value); }
  TGBrushStyle Style() const { return FStyle; }
  void SetStyle(TGBrushStyle value) { SetSetting(FStyle, value); }
  void Define(TColor color, TColor bkColor, TGBrushStyle style);

  void Assign(const TGAttribute& source) override;
  std::unique_ptr<TGAttribute> Clone() const override;
  bool Equals(const TGAttribute& other) const override;
  void SaveToXML(TGXML_Element& el) const override;
  void LoadFromXML(const TGXML_Element& el) override;

  // The Qt brush for renderer (realized when needed).
  const QBrush& DeviceBrush(const TGRenderer& renderer) const;
  // Whether the gaps of a hatch or pattern are filled with BkColor, and that colour.
  bool DeviceOpaque() const { return FOpaque; }
  const QBrush& DeviceBackground() const { return FQBkBrush; }

protected:
  uint64_t ComputeHash() const override;
  void Realize(const TGRenderer& renderer) const override;
  void CopyRealization(const TGAttribute& source) const override;

private:
  TColor FColor = clWhite;
  TColor FBkColor = clWhite;
  TGBrushStyle FStyle = gbsSolid;
  mutable QBrush FQBrush;
  mutable QBrush FQBkBrush;
  mutable bool FOpaque = false;
};

// A font. Size in SizeUnit is the height of the character cell (FontRenderSize); Angle in
// tenths of a degree, counter-clockwise. gfsOpaque fills the text's rectangle with BkColor
// (at BkAlphaBlend) first, gfsHalo strokes the glyph outlines with BkColor.
class TGFont : public TGAttribute
{
public:
  TGFont();
  std::string ClassName() const override { return "TGFont"; }

  const std::string& Name() const { return FName; }
  void SetName(const std::string& value) { SetSetting(FName, value); }
  int32_t Size() const { return FSize; }
  void SetSize(int32_t value) { SetSetting(FSize, value); }
  TGUnitTypes SizeUnit() const { return FSizeUnit; }
  void SetSizeUnit(TGUnitTypes value) { SetSetting(FSizeUnit, value); }
  TColor Color() const { return FColor; }
  void SetColor(TColor value) { SetSetting(FColor, value); }
  int32_t Angle() const { return FAngle; }
  void SetAngle(int32_t value) { SetSetting(FAngle, value); }
  TGFontStyles Style() const { return FStyle; }
  void SetStyle(TGFontStyles value) { SetSetting(FStyle, value); }
  TColor BkColor() const { return FBkColor; }
  void SetBkColor(TColor value) { SetSetting(FBkColor, value); }
  uint8_t BkAlphaBlend() const { return FBkAlphaBlend; }
  void SetBkAlphaBlend(uint8_t value) { SetSetting(FBkAlphaBlend, value); }
  void Define(const std::string& name, TColor color, TColor bkColor, int32_t size,
              TGUnitTypes sizeUnit, int32_t angle, TGFontStyles style, uint8_t bkAlpha);

  void Assign(const TGAttribute& source) override;
  std::unique_ptr<TGAttribute> Clone() const override;
  bool Equals(const TGAttribute& other) const override;
  void SaveToXML(TGXML_Element& el) const override;
  void LoadFromXML(const TGXML_Element& el) override;

  // The Qt font for renderer (realized when needed), its metrics and the pen of its colour.
  // Valid until the font changes or is realized again.
  const QFont& DeviceFont(const TGRenderer& renderer) const;
  const QFontMetrics& DeviceMetrics(const TGRenderer& renderer) const;
  const QPen& TextPen() const { return FTextPen; }
  const QPen& HaloPen() const { return FHaloPen; }
  const QBrush& BkBrush() const { return FBkBrush; }
  // The cell height in pixels it was realized with (after the renderer's cap).
  int32_t DeviceHeight() const { return FDeviceHeight; }

protected:
  uint64_t ComputeHash() const override;
  bool Fits(const TGRenderer& renderer) const override;
  void Realize(const TGRenderer& renderer) const override;
  void CopyRealization(const TGAttribute& source) const override;

private:
  std::string FName = "Arial";
  int32_t FSize = 9;
  TGUnitTypes FSizeUnit = guPixel;
  TColor FColor = clBlack;
  int32_t FAngle = 0;
  TGFontStyles FStyle = 0;
  TColor FBkColor = clWhite;
  uint8_t FBkAlphaBlend = 255;
  mutable std::optional<QFont> FQFont; // made on first realization (needs the application)
  mutable std::optional<QFontMetrics> FMetrics;
  mutable QPen FTextPen;
  mutable QPen FHaloPen;
  mutable QBrush FBkBrush;
  mutable int32_t FDeviceHeight = 0;
};

// ---------------------------------------------------------------------------------------------
// Renderer

// Which attributes are selected into the drawing surface (TGRenderer::State).
enum TGAttributeState : uint8_t { asFont = 2, asPen = 4, asBrush = 8 };

// The drawing surface of a globe. Owns its pen, brush and font (presenters lend theirs with
// SetPen / SetBrush / SetFont, which copy), the selection pen and brush, and the point buffers
// (Points, filled by projections; ClippedPoints, the parts of the poly-polygon being built)
// for its whole life. A render cycle draws through it without allocating per object or point:
// the buffers only grow, realized attributes are shared by copying.
class TGRenderer : public TGComponent, public IGRenderSurface
{
public:
  explicit TGRenderer(TGGlobe* parentGlobe = nullptr);
  ~TGRenderer() override;
  std::string ClassName() const override { return "TGRenderer"; }

  // The globe it draws for (borrowed; it outlives the renderer or sets null first).
  IGRenderHost* Host() const { return FHost; }
  void SetHost(IGRenderHost* host);

  // Copies the published settings (double buffering, text limits, selection pen and brush).
  void Assign(const TGComponent& source) override;

  // --- IGRenderSurface
  TGPointBuffer& Points() override { return FPoints; }
  int32_t Width() const override { return FWidth; }
  int32_t Height() const override { return FHeight; }
  int32_t PixelsPerInch() const override { return FPixelsPerInch; }
  void BeginDrawPoly(bool closed) override;
  void AddClippedPoly(int32_t iPoints, int32_t iPenWidth) override;
  void EndDrawPoly() override;

  // --- Properties
  // The screen's at creation; a printer's while printing to one.
  void SetPixelsPerInch(int32_t value);
  // The altitude attributes are realized for: the set value, or the projector's when 0.
  uint32_t Altitude() const;
  void SetAltitude(uint32_t value) { FAltitude = value; }
  bool DoubleBuffer() const { return FDoubleBuffer; }
  virtual void SetDoubleBuffer(bool value);
  // Title text heights in pixels at screen density; MaxTextHeight 0 means no cap.
  int32_t MinTextHeight() const { return FMinTextHeight; }
  void SetMinTextHeight(int32_t value) { FMinTextHeight = value; }
  int32_t MaxTextHeight() const { return FMaxTextHeight; }
  void SetMaxTextHeight(int32_t value) { FMaxTextHeight = value; }
  // Opacity of what is drawn next (poly-polygons, shapes, text), 255 = opaque.
  uint8_t AlphaBlend() const { return FAlphaBlend; }
  void SetAlphaBlend(uint8_t value) { FAlphaBlend = value; }
  // The attributes selected into the surface (TGAttributeState bits).
  uint8_t State() const { return FState; }

  // The renderer's own attributes. Changing them directly is allowed (the surface follows).
  TGPen& Pen() { return FPen; }
  TGBrush& Brush() { return FBrush; }
  TGFont& Font() { return FFont; }
  // Copy the settings of the given attribute into the renderer's own, skipped when they are
  // already the same. A null brush gives a white solid brush.
  void SetPen(const TGPen& pen);
  void SetBrush(const TGBrush* brush);
  void SetBrush(const TGBrush& brush) { SetBrush(&brush); }
  void SetFont(const TGFont& font);
  // How selected objects are drawn: red 1-pixel pen, yellow solid brush by default.
  TGPen& SelectedPen() { return FSelectedPen; }
  TGBrush& SelectedBrush() { return FSelectedBrush; }
  void SetSelectedPen(const TGPen& pen) { FSelectedPen.Assign(pen); }
  void SetSelectedBrush(const TGBrush& brush) { FSelectedBrush.Assign(brush); }

  // The clipped parts of the poly-polygon being built: their points one after another, and
  // the number of points of each.
  TGPointBuffer& ClippedPoints() { return FClippedPoints; }
  const std::vector<int32_t>& PolyPolyPoints() const { return FPolyPolyPoints; }
  // The clip rectangle of the last AddClippedPoly.
  TGRect ClipRect() const { return FClipRect; }

  // --- Scale
  // The projector's scale factor in pixels per GU, 0 without one.
  long double ScaleFactor() const;
  // The host's screen density, the renderer's own without a host.
  int32_t ScreenPixelsPerInch() const;
  int32_t GlobeUnitsFrom(long double eValue, TGUnitTypes units) const;
  long double GlobeUnitsTo(int32_t iValue, TGUnitTypes units) const;
  int32_t ScaleUnitsToDevice(int32_t value, TGUnitTypes units) const;
  // The cell height in pixels of a font of that size: guPixel sizes scaled by the density
  // ratio, others round (FontSize x GlobeUnitsFrom (1, FontUnits) x ScaleFactor).
  int32_t FontRenderSize(int32_t FontSize, TGUnitTypes FontUnits) const;
  // MaxTextHeight and MinTextHeight scaled by renderer density / screen density.
  int32_t GetMaxTextSize() const;
  int32_t GetMinTextSize() const;

  // --- Drawing
  // Draws the parts (counts[i] points each, one after another from points) in one figure:
  // closed, a poly-polygon filled alternately with the brush and outlined with the pen; open,
  // one polyline per part.
  virtual void DrawPolyPolygon(const TGPoint* points, const int32_t* counts, int32_t partCount,
                               bool closed) = 0;
  // The painter drawn on; null when there is nothing to draw on.
  virtual QPainter* Canvas() = 0;
  // The clip rectangle becomes the drawing area widened by margin pixels on every side.
  virtual void SetClipMargin(int32_t margin);
  // Fills the surface with color, resets the pen, brush, font and opacity to their defaults
  // and forgets what was selected into the surface.
  virtual void Clear(TColor color);
  // Forgets what was selected into the surface (a new paint, a new painter); call at the start
  // of every render.
  virtual void RefreshDC();
  // Selects what font, pen and brush the surface lacks; applies the opacity.
  virtual void RealizeAttributes();
  // Shapes in a device rectangle with the current pen and brush, the pen's 1-pixel outline
  // on its first and last pixel columns and rows (Right and Bottom exclusive).
  virtual void DrawEllipse(const TGRect& rect);
  virtual void DrawRectangle(const TGRect& rect);
  // An inverting dotted outline; drawing it twice restores the surface.
  virtual void DrawFocusRect(const TGRect& rect);
  // Blends color into pixel (X, Y) at alpha (0 leaves it, 255 replaces it); nothing outside
  // the surface.
  virtual void DrawPixel(int32_t X, int32_t Y, TColor color, uint8_t alpha);
  // count points as a polygon (closed) or polyline, with the current attributes, unclipped.
  virtual void DrawPoly(const TGPoint* points, int32_t count, bool closed);
  // Texture pixels x1 <= x < x2 of row Y: the source position runs linearly from (u1, v1) at
  // pixel x1 to (u2, v2) at pixel x2 (image pixels); see DrawTextureTriangle for sampling.
  virtual void DrawScanLine(int32_t Y, int32_t x1, int32_t x2, double u1, double u2, double v1,
                            double v2, const TGBitmap& image);
  // The text with its top-left corner at aRect's: background transparent, first the opaque
  // box (aRect widened by 1 pixel) or the halo as the font asks, then the text in its colour.
  // Lines are separated by line breaks.
  virtual void DrawTextRect(const TGRect& aRect, std::string_view text);
  // GetTextRect then DrawTextRect.
  virtual void DrawText(int32_t X, int32_t Y, std::string_view text, TGTitleAlignment alignment,
                        int32_t offset);
  // Maps the source triangle of image (pixels) affinely onto the device triangle. A pixel is
  // drawn when its centre lies inside (top and left edges inclusive, so triangles sharing an
  // edge meet without gaps or overlaps); it takes the image pixel at the truncated source
  // position (negative positions taken as 0, positions beyond the image skipped), skips the
  // image's transparent colour and is blended at the image's alpha below 255.
  virtual void DrawTextureTriangle(const TGTriangle& srcTri, const TGTriangle& destTri,
                                   const TGBitmap& image);
  // The rectangle of text (UTF-8, measured with the current font) placed at (X, Y) by
  // alignment with offset pixels between the point and the text.
  virtual void GetTextRect(int32_t X, int32_t Y, TGRect& rect, int32_t offset,
                           TGTitleAlignment alignment, std::string_view text);
  // Stores the drawing area's size (negative sizes count as 0).
  virtual void SetSize(int32_t newWidth, int32_t newHeight);

  // All three corners project visibly (buffer slots 0-2) and the triangle meets the view.
  bool TriangleLLVisible(const TGPointLL& p1, const TGPointLL& p2, const TGPointLL& p3);

  // The 8 x 8 bitmap of a pattern style (loaded from the resources on first use); null for
  // other styles or a missing resource.
  const QBitmap* PatternBitmap(TGBrushStyle style) const;

protected:
  // Selects the named attributes (TGAttributeState bits) the surface lacks and applies the
  // opacity; drawing calls select only what they use.
  void SelectAttributes(uint8_t which);
  // The canvas with the renderer's settings applied, or null. A canvas other than the last
  // one forgets the selected attributes first.
  QPainter* PreparedCanvas();
  // Decodes UTF-8 into the reused text buffer and returns it.
  const QString& TextBuffer(std::string_view text);
  // The pen / brush are no longer the ones selected (after text or a focus rectangle).
  void ForgetSelected(uint8_t bits) { FState &= static_cast<uint8_t>(~bits); }

  int32_t FHeight = 0;
  int32_t FWidth = 0;
  uint32_t FAltitude = 0;
  int32_t FPixelsPerInch = 96;
  bool FDoubleBuffer = true;
  int32_t FMinTextHeight = 5;
  int32_t FMaxTextHeight = 50;
  uint8_t FState = 0;
  TGBrush FBrush;
  TGFont FFont;
  TGPen FPen;
  TGBrush FSelectedBrush;
  TGPen FSelectedPen;
  uint8_t FAlphaBlend = 255;
  TGRect FClipRect;
  TGPointBuffer FPoints;
  TGPointBuffer FClippedPoints;
  std::vector<int32_t> FPolyPolyPoints; // points per part
  int32_t FClippedCount = 0;            // points of all parts in FClippedPoints
  bool FDrawPolyClosed = false;
  // Points in Qt's form for drawing, reused. Floating point: Qt copies integer points into a
  // floating-point array of its own for every call.
  std::vector<QPointF> FQPoints;

  // Pen, brush, font and opacity back to their defaults; nothing selected.
  void ResetAttributes();

private:
  void ClipPart(int32_t n);

  IGRenderHost* FHost = nullptr;
  QPainter* FLastCanvas = nullptr;
  uint32_t FSelectedPenHandle = 0;
  uint32_t FSelectedBrushHandle = 0;
  uint32_t FSelectedFontHandle = 0;
  int32_t FCanvasAlpha = -1; // opacity applied to the canvas, -1 = unknown
  QString FText;
  mutable std::array<std::optional<QBitmap>, kBrushStyleCount> FPatterns;
};

// The renderer drawn with QPainter: into its back buffer (a TGBitmap of its size) when double
// buffered, otherwise onto the host's control canvas; or onto a foreign painter while one is
// set (printing, pictures).
class TGDefaultRenderer : public TGRenderer
{
public:
  explicit TGDefaultRenderer(TGGlobe* parentGlobe = nullptr);
  ~TGDefaultRenderer() override;
  std::string ClassName() const override { return "TGDefaultRenderer"; }

  // The picture drawn so far (its size follows SetSize).
  TGBitmap& BackBuffer() { return *FBackBuffer; }
  const TGBitmap& BackBuffer() const { return *FBackBuffer; }
  // Draws onto painter instead of the back buffer or control until set back to null; the
  // painter is borrowed for that time.
  void SetTargetCanvas(QPainter* painter);
  QPainter* TargetCanvas() const { return FTargetCanvas; }
  // Copies the back buffer onto canvas with its top-left corner at (x, y).
  void CopyBackBuffer(QPainter& canvas, int32_t x, int32_t y) const;

  void DrawPolyPolygon(const TGPoint* points, const int32_t* counts, int32_t partCount,
                       bool closed) override;
  QPainter* Canvas() override;
  void Clear(TColor color) override;
  void DrawPixel(int32_t X, int32_t Y, TColor color, uint8_t alpha) override;
  void DrawScanLine(int32_t Y, int32_t x1, int32_t x2, double u1, double u2, double v1, double v2,
                    const TGBitmap& image) override;
  void SetSize(int32_t newWidth, int32_t newHeight) override;

private:
  // True when drawing goes into the back buffer's pixels.
  bool DrawsIntoBackBuffer() const;

  std::unique_ptr<TGBitmap> FBackBuffer;
  QPainter* FTargetCanvas = nullptr;
  QPen FNoPen{Qt::NoPen};
  QBrush FNoBrush{Qt::NoBrush};
};

} // namespace vtr
