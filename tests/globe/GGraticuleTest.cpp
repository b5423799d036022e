// The graticule: which lines it asks the globe for, with which pen, and its change events.
#include "globe/GGraticule.h"

#include "GRendererTestSupport.h"

#include <gtest/gtest.h>

#include <set>

namespace vtr {
namespace {

TEST(Graticule, DrawsMeridiansAndParallelsWithItsPen)
{
  vtrtest::RenderHost host;
  TGGraticule graticule;
  EXPECT_EQ(graticule.LongitudeStep(), 10);
  EXPECT_EQ(graticule.LatitudeStep(), 10);
  EXPECT_EQ(graticule.DrawMode(), gdBehind);
  EXPECT_EQ(graticule.GraticulePen().Color(), 12632256);
  EXPECT_EQ(graticule.GraticulePen().Width(), 1);
  EXPECT_EQ(graticule.GraticulePen().WidthUnit(), guPixel);

  graticule.Render(); // no globe: nothing
  EXPECT_TRUE(host.lines.empty());
  graticule.SetHost(&host);
  graticule.Render();

  std::vector<int32_t> meridians;
  std::multiset<int32_t> parallels;
  for (const vtrtest::RecordedLine& line : host.lines) {
    EXPECT_EQ(line.penColor, 12632256);
    if (line.from.iLongX == line.to.iLongX) {
      EXPECT_EQ(line.from.iLatY, -480'600'000);
      EXPECT_EQ(line.to.iLatY, 480'600'000);
      EXPECT_EQ(line.steps, 180);
      meridians.push_back(line.from.iLongX);
    } else {
      EXPECT_EQ(line.from.iLatY, line.to.iLatY);
      EXPECT_EQ(line.steps, 85);
      // Each half from the east edge to 0 or from 0 to the west edge.
      const bool eastHalf = line.from.iLongX == 971'999'999 && line.to.iLongX == 0;
      const bool westHalf = line.from.iLongX == 0 && line.to.iLongX == -971'999'999;
      EXPECT_TRUE(eastHalf || westHalf);
      parallels.insert(line.from.iLatY);
    }
  }
  ASSERT_EQ(meridians.size(), 36u);
  for (size_t i = 0; i < meridians.size(); ++i)
    EXPECT_EQ(meridians[i], -971'999'999 + static_cast<int32_t>(i) * 54'000'000);
  EXPECT_EQ(parallels.count(0), 2u); // the equator once, in two halves
  for (int32_t deg = 10; deg <= 80; deg += 10) {
    EXPECT_EQ(parallels.count(deg * GU_DEGREE), 2u) << deg;
    EXPECT_EQ(parallels.count(-deg * GU_DEGREE), 2u) << deg;
  }
  EXPECT_EQ(parallels.size(), 2u + 8 * 4);

  // Steps of 0 or less draw none of that kind; a step of 30 gives 12 meridians, 0 and +-30,
  // +-60.
  host.lines.clear();
  graticule.SetLongitudeStep(0);
  graticule.SetLatitudeStep(30);
  graticule.Render();
  EXPECT_EQ(host.lines.size(), 2u * 5);
  host.lines.clear();
  graticule.SetLongitudeStep(30);
  graticule.SetLatitudeStep(-1);
  graticule.Render();
  EXPECT_EQ(host.lines.size(), 12u);
}

TEST(Graticule, AnyChangeFiresOnChanged)
{
  TGGraticule graticule;
  int changes = 0;
  graticule.OnChanged = [&] { ++changes; };
  graticule.SetLongitudeStep(10); // unchanged
  EXPECT_EQ(changes, 0);
  graticule.SetLongitudeStep(15);
  graticule.SetLatitudeStep(5);
  graticule.SetDrawMode(gdInFront);
  graticule.GraticulePen().SetColor(clRed);
  EXPECT_EQ(changes, 4);

  TGGraticule copy;
  copy.Assign(graticule);
  EXPECT_EQ(copy.LongitudeStep(), 15);
  EXPECT_EQ(copy.LatitudeStep(), 5);
  EXPECT_EQ(copy.DrawMode(), gdInFront);
  EXPECT_EQ(copy.GraticulePen().Color(), clRed);

  auto made = CreateGlobeObjectAs<TGGraticule>("TGGraticule", nullptr);
  ASSERT_NE(made, nullptr);
  for (const char* name : {"TGPen", "TGBrush", "TGFont"})
    EXPECT_NE(CreateGlobeObject(name, nullptr), nullptr) << name;
}

} // namespace
} // namespace vtr
