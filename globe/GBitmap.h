#pragma once
// The engine's picture: a rectangle of 32-bit pixels with a transparent colour and an alpha
// value. The renderer draws into it as its back buffer and reads it as a texture; symbols,
// surface images and raster tiles are held in it. The only Qt part of the engine's data side:
// the pixels live in a QImage so that a QPainter can draw on them.

#include "globe/GClasses.h"
#include "globe/GStreams.h"
#include "globe/GSysUtils.h"

#include <QImage>
#include <QPainter>

#include <cstdint>
#include <memory>
#include <string>

class QPicture;
class QPixmap;

namespace vtr {

// Pixel layout: bits 0-7 blue, 8-15 green, 16-23 red, 24-31 a fourth byte drawing ignores
// (255 when written from a colour). TColor holds red in bits 0-7 and blue in 16-23.
constexpr uint32_t ColorToPixel(TColor c)
{
  const auto v = static_cast<uint32_t>(c);
  return 0xFF000000u | ((v & 0xFFu) << 16) | (v & 0xFF00u) | ((v >> 16) & 0xFFu);
}
constexpr TColor PixelToColor(uint32_t p)
{
  return static_cast<TColor>(((p >> 16) & 0xFFu) | (p & 0xFF00u) | ((p & 0xFFu) << 16));
}

class TGBitmap
{
public:
  TGBitmap();
  ~TGBitmap();
  TGBitmap(const TGBitmap&) = delete;
  TGBitmap& operator=(const TGBitmap&) = delete;

  // Negative sizes count as 0. A changed size discards the picture (and the canvas); the new
  // pixels are allocated only when both sizes are above 0. Returns whether the size changed.
  // When the pixels cannot be had: "Failed to allocate DIB Handle", the bitmap then empty.
  bool SetSize(int32_t newWidth, int32_t newHeight);
  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  void SetWidth(int32_t w) { SetSize(w, FHeight); }
  void SetHeight(int32_t h) { SetSize(FWidth, h); }
  bool Empty() const { return FBits.isNull() || FWidth == 0 || FHeight == 0; }
  TGRect BoundsRect() const { return {0, 0, FWidth, FHeight}; }

  // Pixel (X, Y) is element X + Y * Width: rows top to bottom, left to right. Null when empty.
  uint32_t* Bits();
  const uint32_t* Bits() const;

  void Clear(TColor fillColor = clBlack);
  // No range check: callers stay inside the bitmap (0 <= X < Width, 0 <= Y < Height).
  TColor GetPixel(int32_t x, int32_t y) const { return PixelToColor(Bits()[x + y * FWidth]); }
  void SetPixel(int32_t x, int32_t y, TColor color)
  {
    Bits()[x + y * FWidth] = ColorToPixel(color);
  }
  // Blends colour over the pixel: alpha 255 writes it, otherwise each channel becomes
  // (alpha * colour + (255 - alpha) * pixel) div 256. Nothing outside the bitmap.
  void SetPixelA(int32_t x, int32_t y, uint8_t alpha, TColor color);

  TColor TransparentColor() const { return FTransparentColor; }
  // clNone makes the bitmap non-transparent.
  void SetTransparentColor(TColor color);
  bool Transparent() const { return FTransparent; }
  uint8_t AlphaBlend() const { return FAlphaBlend; }
  void SetAlphaBlend(uint8_t alpha) { FAlphaBlend = alpha; }
  int32_t PixelsPerInch() const { return FPixelsPerInch; }

  // Size and pixels of the source; alpha and transparent colour are not copied. Null: 0 x 0.
  void Assign(const TGBitmap* source);
  void Assign(const QImage& image);
  void Assign(const QPixmap& pixmap);
  // Sized to the picture's bounding rectangle, then drawn over the whole area.
  void Assign(const QPicture& picture);

  // Decodes the file through Qt's image reader (BMP, JPEG and whatever formats the installed
  // plugins read). A missing file leaves the bitmap unchanged; a file that cannot be decoded
  // raises EGException "TGBitmap.LoadFromFile: cannot read <file>: <reason>" and also leaves
  // it unchanged. The name is UTF-8.
  void LoadFromFile(const std::string& fileName);

  // Stretches the whole bitmap onto rect with the painter's composition mode (no
  // transparency, no alpha); nothing when empty.
  void Draw(QPainter& canvas, const QRect& rect) const;

  // A painter on the pixel area, created on first use; valid until the size changes.
  // Null when the bitmap is empty.
  QPainter* Canvas();
  // The pixels as an image (shares them; empty image when the bitmap is empty).
  const QImage& Image() const { return FBits; }

  [[noreturn]] void LoadFromStream(TGStream& stream);
  [[noreturn]] void SaveToStream(TGStream& stream) const;
  [[noreturn]] void SaveToFile(const std::string& fileName) const;
  [[noreturn]] void LoadFromClipboardFormat();
  [[noreturn]] void SaveToClipboardFormat() const;

private:
  void ReleaseCanvas();

  int32_t FWidth = 0;
  int32_t FHeight = 0;
  QImage FBits; // Format_RGB32: exactly the pixel layout above
  uint8_t FAlphaBlend = 255;
  TColor FTransparentColor = clNone;
  bool FTransparent = false;
  int32_t FPixelsPerInch = 96;
  std::unique_ptr<QPainter> FCanvas;
};

} // namespace vtr
