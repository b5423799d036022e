// Symbol and arrow sizes across the zoom bands, and the view's initial globe.
#include "mapview/MapViewSetup.h"

#include "globe/GGlobe.h"

#include <gtest/gtest.h>

namespace vtr {
namespace {

TEST(MapViewSizes, FollowTheZoomBands)
{
  struct Case
  {
    int32_t g;     // GU per pixel
    int32_t unit;  // symbol pixels
    int32_t arrow; // arrow pixels for arrows of length 75
  };
  const Case cases[] = {
      {1, 32, 65},         {10'000, 32, 65},    // 75 x 0.8666666 = 64.99999
      {10'001, 28, 56},    {100'000, 28, 56},   // 55.999995
      {100'001, 24, 49},   {1'666'667, 24, 49}, // 48.9999975
      {1'666'668, 22, 33}, {2'000'000, 20, 30}, // 20,000,000 div g, times 2 and 3
      {10'000'000, 4, 6},  {20'000'001, 0, 0},  {25'000'000, 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UnitSymbolSize(c.g), c.unit) << c.g;
    EXPECT_EQ(ArrowSize(c.g, 75), c.arrow) << c.g;
  }
  // Other arrow lengths round to the nearest pixel: 15 x 0.8666666 = 12.999999, 45 x
  // 0.6533333 = 29.3999985.
  EXPECT_EQ(ArrowSize(1, 15), 13);
  EXPECT_EQ(ArrowSize(1'000'000, 45), 29);
}

TEST(MapViewSetup, InitialGlobe)
{
  TGGlobe globe;
  ApplyMapViewConfiguration(globe);
  TGProjector& p = globe.Projector();
  EXPECT_EQ(p.ProjectionClass(), "TGSphericalPrj");
  EXPECT_NEAR(static_cast<double>(p.CenterLatitude()), 23.5, 1e-6);
  EXPECT_EQ(globe.SurfaceColor(), clBlue);
  EXPECT_EQ(globe.Renderer().SelectedPen().Color(), clRed);
  EXPECT_EQ(globe.Renderer().SelectedPen().Width(), 2);
  EXPECT_EQ(globe.GlobeOptions(), goFixedCenterXYOnResize);
  EXPECT_EQ(globe.Renderer().MaxTextHeight(), 50);
}

} // namespace
} // namespace vtr
