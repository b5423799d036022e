#pragma once
// The renderer unit. For now: the shared point buffer that projections write into, the render
// state flags, and IGRenderSurface, the part of the renderer the projector and its projection
// models use. The drawing renderer (attributes, clipping, text, back buffer) builds on these.

#include "globe/GClasses.h"
#include "globe/GSysUtils.h"

#include <cstdint>
#include <vector>

namespace vtr {

// Render state of one object (bit values): rsClosed 1, rsSelected 2, rsFace 4 (some of it lies
// on the visible side), rsBackFace 8 (some of it lies on the far side of the globe).
enum TGRenderState : uint8_t { rsClosed = 1, rsSelected = 2, rsFace = 4, rsBackFace = 8 };
using TGRenderStateSet = uint8_t;

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

} // namespace vtr
