#pragma once
// A globe control without a window for the projector tests: a renderer that records the
// polygons it is asked to draw and a host that counts redraws, scroll-bar updates and render
// restarts and records view rectangles and texture triangles.

#include "globe/GProjector.h"
#include "globe/GRenderer.h"

#include <cmath>
#include <vector>

namespace vtrtest {

class RecordingRenderer : public vtr::IGRenderSurface
{
public:
  vtr::TGPointBuffer& Points() override { return FPoints; }
  int32_t Width() const override { return width; }
  int32_t Height() const override { return height; }
  int32_t PixelsPerInch() const override { return pixelsPerInch; }
  void BeginDrawPoly(bool closed) override
  {
    parts.clear();
    drawClosed = closed;
  }
  void AddClippedPoly(int32_t iPoints, int32_t /*iPenWidth*/) override
  {
    parts.emplace_back(FPoints.Data(), FPoints.Data() + iPoints);
  }
  void EndDrawPoly() override
  {
    drawn.push_back(parts);
    parts.clear();
  }

  int32_t width = 300;
  int32_t height = 300;
  int32_t pixelsPerInch = 96;
  bool drawClosed = false;
  std::vector<std::vector<vtr::TGPoint>> parts;
  std::vector<std::vector<std::vector<vtr::TGPoint>>> drawn; // one entry per EndDrawPoly

private:
  vtr::TGPointBuffer FPoints;
};

struct TextureTriangle
{
  vtr::TGTriangle src;
  vtr::TGTriangleLL dest;
};

class FakeGlobe : public vtr::IGProjectorHost
{
public:
  vtr::IGRenderSurface& Renderer() override { return renderer; }
  int32_t ClientWidth() const override { return renderer.width; }
  int32_t ClientHeight() const override { return renderer.height; }
  int32_t ScreenPixelsPerInch() const override { return screenPixelsPerInch; }
  void RedrawLayers() override { ++redraws; }
  void UpdateScrollBars() override { ++scrollBarUpdates; }
  int32_t PeriodicUpdateTime() const override { return periodicUpdateTime; }
  void RestartRender() override { ++restarts; }
  vtr::TGRect ViewRect() const override { return viewRect; }
  void StoreViewRect(const vtr::TGRect& rect) override { viewRect = rect; }
  void SetViewRect(const vtr::TGRect& rect) override { viewRectSets.push_back(rect); }
  void RenderTextureTriangle(const vtr::TGTriangle& srcTri, const vtr::TGTriangleLL& destTriLL,
                             vtr::TGBitmap& /*image*/, bool /*selected*/) override
  {
    triangles.push_back({srcTri, destTriLL});
  }

  RecordingRenderer renderer;
  int32_t screenPixelsPerInch = 96;
  int32_t periodicUpdateTime = 0;
  int redraws = 0;
  int scrollBarUpdates = 0;
  int restarts = 0;
  vtr::TGRect viewRect;
  std::vector<vtr::TGRect> viewRectSets;
  std::vector<TextureTriangle> triangles;
};

// Angle in GU between two positions on the sphere.
inline long double AngleGU(const vtr::TGPointLL& a, const vtr::TGPointLL& b)
{
  const long double ka = vtr::RADIANS_PER_GU;
  const long double pa = a.iLatY * ka, la = a.iLongX * ka;
  const long double pb = b.iLatY * ka, lb = b.iLongX * ka;
  const long double d =
      std::sin(pa) * std::sin(pb) + std::cos(pa) * std::cos(pb) * std::cos(la - lb);
  return std::acos(std::fmin(1.0L, std::fmax(-1.0L, d))) * vtr::GU_PER_RADIAN;
}

} // namespace vtrtest
