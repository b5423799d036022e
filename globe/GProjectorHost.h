#pragma once
// IGProjectorHost: what the projector and its projection models need of the globe control that
// owns them. The globe control implements it and passes itself to its projector; tests
// implement it without a window.

#include "globe/GRenderer.h"
#include "globe/GSysUtils.h"

#include <cstdint>

namespace vtr {

class TGBitmap;

class IGProjectorHost
{
public:
  virtual ~IGProjectorHost() = default;

  // The globe's current renderer. The globe may replace it, so callers ask again each time
  // rather than keep the reference across calls that can redraw.
  virtual IGRenderSurface& Renderer() = 0;

  // Client area of the control in pixels. Equal to the renderer's size except while the
  // control is being resized.
  virtual int32_t ClientWidth() const = 0;
  virtual int32_t ClientHeight() const = 0;
  // The screen's pixel density (GUPerInch is written against it; the renderer's may differ
  // while printing).
  virtual int32_t ScreenPixelsPerInch() const = 0;

  // Marks the layers for redrawing and invalidates the control (no work when one is pending).
  virtual void RedrawLayers() = 0;
  // Recomputes the scroll bars from the projector's extents, limits and view rectangle.
  virtual void UpdateScrollBars() = 0;
  // Milliseconds between progress updates during a render; 0 when there are none.
  virtual int32_t PeriodicUpdateTime() const = 0;
  // Asks the render in progress to start over.
  virtual void RestartRender() = 0;

  // The view's extent in GU: (0, 0, width in GU, height in GU).
  virtual TGRect ViewRect() const = 0;
  // Stores the view rectangle without side effects (the projector keeps it in step with the
  // scale after each zoom).
  virtual void StoreViewRect(const TGRect& rect) = 0;
  // The view rectangle setter: zooms so that rect (GU offsets from the device origin: left,
  // top, width, height) fills the renderer; a width or height of 0 fits the whole map.
  virtual void SetViewRect(const TGRect& rect) = 0;

  // Draws the source triangle of image (pixels) onto the geographic triangle destTriLL (GU;
  // longitudes may lie on either side of +-180), cutting it at the map's edge meridian for
  // flat projections; nothing when a corner does not project visibly.
  virtual void RenderTextureTriangle(const TGTriangle& srcTri, const TGTriangleLL& destTriLL,
                                     TGBitmap& image, bool selected) = 0;
};

} // namespace vtr
