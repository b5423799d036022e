// The renderer's point buffer and its view test.
#include "globe/GRenderer.h"

#include "ProjectorTestSupport.h"

#include <gtest/gtest.h>

namespace vtr {
namespace {

TEST(PointBuffer, StartsAtItsFullSizeAndGrowsOnlyForLargerPolygons)
{
  TGPointBuffer buffer;
  EXPECT_EQ(buffer.Capacity(), 262'144);
  const TGPoint* before = buffer.Data();
  buffer.Reserve(1000);
  buffer.Put(262'143, {7, 8});
  EXPECT_EQ(buffer.Data(), before); // no reallocation inside the first allocation
  EXPECT_EQ(buffer[262'143], (TGPoint{7, 8}));

  buffer[5] = {1, 2};
  buffer.Put(300'000, {3, 4});
  EXPECT_GE(buffer.Capacity(), 300'001);
  EXPECT_EQ(buffer[5], (TGPoint{1, 2})); // growing keeps what was written
  EXPECT_EQ(buffer[300'000], (TGPoint{3, 4}));

  EXPECT_THROW(buffer.Put(-1, {}), EAssertionFailed);
  EXPECT_THROW(buffer.Reserve(-1), EAssertionFailed);
}

TEST(PointBuffer, ListIsVisibleUnlessItsBoxLiesWhollyOutsideTheView)
{
  vtrtest::RecordingRenderer renderer; // 300 x 300
  struct Case
  {
    const char* what;
    std::vector<TGPoint> points;
    bool visible;
  };
  const Case cases[] = {
      {"one point", {{150, 150}}, false},
      {"no points", {}, false},
      {"inside", {{10, 10}, {20, 20}}, true},
      {"wholly above", {{10, -50}, {200, -1}, {100, -20}}, false},
      {"wholly below", {{10, 301}, {200, 400}}, false},
      {"wholly left", {{-10, 10}, {-1, 200}}, false},
      {"wholly right", {{301, 10}, {500, 200}}, false},
      {"straddles the top edge", {{10, -50}, {200, 5}}, true},
      {"box spans the view, points outside", {{-10, -10}, {310, 310}}, true},
      {"touches the right edge", {{300, 10}, {400, 20}}, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(renderer.XYListVisible(c.points.data(), static_cast<int32_t>(c.points.size())),
              c.visible)
        << c.what;
}

} // namespace
} // namespace vtr
