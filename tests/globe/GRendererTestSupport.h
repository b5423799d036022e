#pragma once
// A globe without a window for the renderer, graticule and label renderer tests: a real
// default renderer and projector behind a host that records the lines it is asked to draw, and
// helpers that read the renderer's back buffer.

#include "globe/GBitmap.h"
#include "globe/GProjector.h"
#include "globe/GRenderer.h"

#include <functional>
#include <string>
#include <vector>

namespace vtrtest {

struct RecordedLine
{
  vtr::TGPointLL from;
  vtr::TGPointLL to;
  int32_t steps;
  vtr::TColor penColor; // the renderer's pen when the line was asked for
};

// Lends the renderer a pen or brush of these settings, as a presenter lends its own.
inline void LendPen(vtr::TGRenderer& r, vtr::TColor color, vtr::TGPenStyle style = vtr::gpsSolid,
                    int32_t width = 1, vtr::TGUnitTypes unit = vtr::guPixel)
{
  vtr::TGPen pen;
  pen.Define(color, style, width, unit);
  r.SetPen(pen);
}
inline void LendBrush(vtr::TGRenderer& r, vtr::TColor color, vtr::TColor bkColor,
                      vtr::TGBrushStyle style = vtr::gbsSolid)
{
  vtr::TGBrush brush;
  brush.Define(color, bkColor, style);
  r.SetBrush(brush);
}

class RenderHost : public vtr::IGProjectorHost, public vtr::IGRenderHost
{
public:
  // A white back buffer of that size and a Cartesian projection, 1 pixel per degree unless
  // the test sets another scale, with (0, 0) at the centre.
  explicit RenderHost(int32_t width = 64, int32_t height = 64) : projector(*this)
  {
    renderer.SetPixelsPerInch(96);
    renderer.SetSize(width, height);
    renderer.SetHost(this);
    renderer.Clear(vtr::clWhite);
    projector.SetProjectionClass("TGCartesianPrj");
    projector.SetScaleFactor(1.0L / vtr::GU_DEGREE);
    projector.SetCenterXY({width / 2, height / 2});
  }
  ~RenderHost() override { renderer.SetHost(nullptr); }

  // Both hosts' Renderer() and Projector() in one.
  vtr::TGDefaultRenderer& Renderer() override { return renderer; }
  vtr::TGProjector& Projector() override { return projector; }
  int32_t ScreenPixelsPerInch() const override { return screenPixelsPerInch; }

  int32_t ClientWidth() const override { return renderer.Width(); }
  int32_t ClientHeight() const override { return renderer.Height(); }
  void RedrawLayers() override {}
  void UpdateScrollBars() override {}
  int32_t PeriodicUpdateTime() const override { return 0; }
  void RestartRender() override {}
  vtr::TGRect ViewRect() const override { return viewRect; }
  void StoreViewRect(const vtr::TGRect& rect) override { viewRect = rect; }
  void SetViewRect(const vtr::TGRect& rect) override { viewRect = rect; }
  void RenderTextureTriangle(const vtr::TGTriangle&, const vtr::TGTriangleLL&, vtr::TGBitmap&,
                             bool) override
  {
  }

  QPainter* ControlCanvas() override { return controlCanvas; }
  void RenderLine(const vtr::TGPointLL& ptFromLL, const vtr::TGPointLL& ptToLL,
                  int32_t iSteps) override
  {
    lines.push_back({ptFromLL, ptToLL, iSteps, renderer.Pen().Color()});
  }
  void PeriodicUpdate() override
  {
    ++periodicUpdates;
    if (onPeriodicUpdate) onPeriodicUpdate();
  }
  bool RenderMustStop() override { return mustStop; }

  vtr::TColor Pixel(int32_t x, int32_t y) const { return renderer.BackBuffer().GetPixel(x, y); }
  // Pixels of the back buffer with that colour inside rect (whole buffer by default).
  int Count(vtr::TColor color) const { return Count(color, {0, 0, Width(), Height()}); }
  int Count(vtr::TColor color, const vtr::TGRect& rect) const
  {
    int n = 0;
    for (int32_t y = std::max(rect.Top, 0); y < std::min(rect.Bottom, Height()); ++y)
      for (int32_t x = std::max(rect.Left, 0); x < std::min(rect.Right, Width()); ++x)
        n += Pixel(x, y) == color;
    return n;
  }
  // Pixels that are not white.
  int Ink() const { return InkOutside({0, 0, 0, 0}); }
  // Pixels outside rect that are not white.
  int InkOutside(const vtr::TGRect& rect) const
  {
    int n = 0;
    for (int32_t y = 0; y < Height(); ++y)
      for (int32_t x = 0; x < Width(); ++x)
        if (x < rect.Left || x >= rect.Right || y < rect.Top || y >= rect.Bottom)
          n += Pixel(x, y) != vtr::clWhite;
    return n;
  }
  // The back buffer as text, one character a pixel: '.' white, '#' black, 'o' other.
  std::string Picture() const
  {
    std::string s;
    for (int32_t y = 0; y < Height(); ++y) {
      for (int32_t x = 0; x < Width(); ++x) {
        const vtr::TColor c = Pixel(x, y);
        s += c == vtr::clWhite ? '.' : c == vtr::clBlack ? '#' : 'o';
      }
      s += '\n';
    }
    return s;
  }
  int32_t Width() const { return renderer.Width(); }
  int32_t Height() const { return renderer.Height(); }

  vtr::TGDefaultRenderer renderer; // before the projector, which asks for it
  vtr::TGProjector projector;
  int32_t screenPixelsPerInch = 96;
  QPainter* controlCanvas = nullptr;
  bool mustStop = false;
  int periodicUpdates = 0;
  std::function<void()> onPeriodicUpdate;
  vtr::TGRect viewRect;
  std::vector<RecordedLine> lines;
};

} // namespace vtrtest
