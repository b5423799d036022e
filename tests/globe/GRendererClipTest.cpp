// Poly-polygon assembly and clipping, checked on the pixels drawn: a clipped polygon must fill
// exactly the pixels the whole polygon covers, wherever its corners lie.
#include "globe/GRenderer.h"

#include "GRendererTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace vtr {
namespace {

using Ring = std::vector<TGPoint>;

// Even-odd inside test of a point against rings, and its distance to their nearest edge.
bool InsideRings(const std::vector<Ring>& rings, double px, double py)
{
  bool inside = false;
  for (const Ring& ring : rings)
    for (size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
      const double xi = ring[i].X, yi = ring[i].Y, xj = ring[j].X, yj = ring[j].Y;
      if ((yi > py) != (yj > py) && px < xj + (py - yj) * (xi - xj) / (yi - yj)) inside = !inside;
    }
  return inside;
}

double EdgeDistance(const std::vector<Ring>& rings, double px, double py)
{
  double best = HUGE_VAL;
  for (const Ring& ring : rings)
    for (size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
      const double ax = ring[j].X, ay = ring[j].Y, dx = ring[i].X - ax, dy = ring[i].Y - ay;
      const double len2 = dx * dx + dy * dy;
      double t = len2 > 0 ? ((px - ax) * dx + (py - ay) * dy) / len2 : 0;
      t = std::fmax(0, std::fmin(1, t));
      best = std::fmin(best, std::hypot(px - (ax + t * dx), py - (ay + t * dy)));
    }
  return best;
}

// Draws the rings as one closed poly-polygon through the point buffer, black on white.
void DrawRings(vtrtest::RenderHost& host, const std::vector<Ring>& rings, bool closed = true)
{
  TGRenderer& r = host.renderer;
  TGPen pen;
  pen.Define(clBlack, closed ? gpsClear : gpsSolid, 1, guPixel);
  TGBrush brush;
  brush.Define(clBlack, clBlack, gbsSolid);
  r.SetPen(pen);
  r.SetBrush(brush);
  r.BeginDrawPoly(closed);
  for (const Ring& ring : rings) {
    for (size_t i = 0; i < ring.size(); ++i)
      r.Points().Put(static_cast<int32_t>(i), ring[i]);
    r.AddClippedPoly(static_cast<int32_t>(ring.size()), 1);
  }
  r.EndDrawPoly();
}

TEST(RendererClip, ClippedPolygonsFillWhatTheWholePolygonCovers)
{
  struct Case
  {
    const char* what;
    std::vector<Ring> rings;
  };
  const Case cases[] = {
      {"inside", {{{5, 5}, {30, 8}, {12, 35}}}},
      {"passes around the top-left corner", {{{-300, 20}, {20, -300}, {30, 30}}}},
      {"passes around the bottom-right corner, listed the other way",
       {{{400, 10}, {10, 45}, {45, 400}}}},
      {"covers the view, every corner outside", {{{-400, -50}, {100, -400}, {300, 300}}}},
      {"winds round the view outside it: a frame",
       {{{-100, -100}, {140, -100}, {140, 140}, {-100, 140}},
        {{-50, -50}, {90, -50}, {90, 90}, {-50, 90}}}},
      {"ring with a hole, reaching out of two sides",
       {{{-50, -50}, {30, -50}, {30, 30}, {-50, 30}}, {{5, 5}, {15, 5}, {15, 15}, {5, 15}}}},
      {"three rings, one of them beyond the view",
       {{{2, 2}, {12, 2}, {12, 12}, {2, 12}},
        {{20, 20}, {35, 22}, {25, 36}},
        {{100, 100}, {120, 100}, {110, 130}}}},
      {"spike out of the left side and back", {{{10, 10}, {-5000, 15}, {10, 20}, {30, 15}}}},
      {"star crossing itself beyond every edge",
       {{{20, -60}, {45, 100}, {-40, 0}, {80, 0}, {-5, 100}}}},
  };
  for (const Case& c : cases) {
    vtrtest::RenderHost host(40, 40);
    DrawRings(host, c.rings);
    int checked = 0, wrong = 0;
    for (int32_t y = 0; y < 40; ++y)
      for (int32_t x = 0; x < 40; ++x) {
        const double cx = x + 0.5, cy = y + 0.5;
        if (EdgeDistance(c.rings, cx, cy) < 1.0) continue; // rasterization differs on edges
        ++checked;
        wrong += (host.Pixel(x, y) == clBlack) != InsideRings(c.rings, cx, cy);
      }
    EXPECT_EQ(wrong, 0) << c.what << "\n" << host.Picture();
    EXPECT_GT(checked, 1000) << c.what;
  }
}

TEST(RendererClip, PartsStayInsideTheWidenedViewAndDropWhenOutside)
{
  vtrtest::RenderHost host(40, 30);
  TGRenderer& r = host.renderer;
  struct Case
  {
    const char* what;
    Ring points;
    int32_t penWidth;
    bool closed;
    int parts;
  };
  const Case cases[] = {
      {"wholly above", {{-10, -50}, {60, -40}, {20, -5}}, 1, true, 0},
      {"wholly right", {{45, -100}, {100, 50}, {46, 200}}, 1, false, 0},
      {"a single point", {{5, 5}}, 1, false, 0},
      {"crossing", {{-1000, 10}, {1000, 12}}, 1, false, 1},
      {"thick pen widens the view", {{-1000, 10}, {20, -1000}, {1000, 1000}}, 6, true, 1},
  };
  for (const Case& c : cases) {
    r.BeginDrawPoly(c.closed);
    for (size_t i = 0; i < c.points.size(); ++i)
      r.Points().Put(static_cast<int32_t>(i), c.points[i]);
    r.AddClippedPoly(static_cast<int32_t>(c.points.size()), c.penWidth);
    const int32_t m = 2 * std::max(c.penWidth, 1);
    const TGRect clip = r.ClipRect();
    EXPECT_EQ(clip, (TGRect{-m, -m, 40 + m, 30 + m})) << c.what;
    const std::vector<int32_t>& parts = r.PolyPolyPoints();
    ASSERT_EQ(static_cast<int>(parts.size()), c.parts) << c.what;
    int32_t total = 0;
    for (int32_t n : parts) {
      EXPECT_GE(n, 2) << c.what;
      total += n;
    }
    for (int32_t i = 0; i < total; ++i) {
      const TGPoint p = r.ClippedPoints()[i];
      EXPECT_TRUE(p.X >= clip.Left && p.X <= clip.Right && p.Y >= clip.Top && p.Y <= clip.Bottom)
          << c.what << ": " << p.X << "," << p.Y;
    }
    if (c.closed && total > 0) { // a closed ring ends where it starts
      EXPECT_EQ(r.ClippedPoints()[0], r.ClippedPoints()[total - 1]) << c.what;
    }
    r.EndDrawPoly();
    EXPECT_TRUE(r.PolyPolyPoints().empty());
  }
}

TEST(RendererClip, OpenLinesLeaveAndReenterAlongTheHiddenBorder)
{
  vtrtest::RenderHost host(40, 40);
  // Out through the top at x = 20, along far above the view, back in at x = 30.
  DrawRings(host, {{{-100, 5}, {20, 5}, {20, -100}, {30, -100}, {30, 35}}}, false);
  for (int32_t x = 0; x <= 20; ++x)
    EXPECT_EQ(host.Pixel(x, 5), clBlack) << x;
  for (int32_t y = 0; y <= 5; ++y)
    EXPECT_EQ(host.Pixel(20, y), clBlack) << y;
  for (int32_t y = 0; y <= 35; ++y)
    EXPECT_EQ(host.Pixel(30, y), clBlack) << y;
  // The stretch that runs along the border above the view is not seen.
  EXPECT_EQ(host.Count(clBlack, {21, 0, 30, 5}), 0) << host.Picture();
  EXPECT_EQ(host.Count(clBlack), 21 + 5 + 36) << host.Picture();
}

TEST(RendererClip, BeginDrawPolyDrawsWhatWasStillBeingAssembled)
{
  vtrtest::RenderHost host(20, 20);
  TGRenderer& r = host.renderer;
  vtrtest::LendPen(r, clBlack, gpsSolid, 1, guPixel);
  r.BeginDrawPoly(false);
  r.Points().Put(0, {2, 3});
  r.Points().Put(1, {12, 3});
  r.AddClippedPoly(2, 1);
  r.BeginDrawPoly(false); // the line above is drawn now
  EXPECT_EQ(host.Count(clBlack), 11);
  r.EndDrawPoly();
  r.EndDrawPoly(); // nothing left to draw
  EXPECT_EQ(host.Count(clBlack), 11);
}

} // namespace
} // namespace vtr
