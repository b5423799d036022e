// The label renderer: which titles it collects and where, drawing them last, and finding
// objects by their drawn titles.
#include "globe/GLabelRenderer.h"

#include "globe/GLayer.h"

#include "GLayerTestSupport.h"
#include "GRendererTestSupport.h"
#include "GlobeTestSupport.h"

#include <gtest/gtest.h>

namespace vtr {
namespace {

using vtrtest::AddLayer;
using vtrtest::AddPoint;

// A 200 x 120 globe, Cartesian at 1 pixel per degree with (0, 0) at (100, 60), a root layer
// and a label renderer.
class LabelRenderer : public ::testing::Test
{
protected:
  LabelRenderer() : host(200, 120) { labels.SetHost(&host); }

  TGPoint XY(int32_t lonDeg, int32_t latDeg)
  {
    TGPoint pt;
    EXPECT_TRUE(host.projector.PointLLToXY(PointLL(lonDeg * GU_DEGREE, latDeg * GU_DEGREE), pt));
    return pt;
  }
  TGPointLL LLAt(int32_t x, int32_t y)
  {
    TGPointLL ll;
    EXPECT_TRUE(host.projector.DeviceXYToLL(x, y, ll));
    return ll;
  }
  std::shared_ptr<TGMapPoint> Point(TGLayer& layer, const std::string& title, int32_t lonDeg,
                                    int32_t latDeg)
  {
    auto p = AddPoint(layer, title, lonDeg * GU_DEGREE, latDeg * GU_DEGREE);
    p->SetAttribute(0, title);
    return p;
  }
  void Add(IGMapPoint& obj, const std::string& text, TGTitleAlignment alignment = taBottomRight,
           int32_t offset = 4, TGUnitTypes units = guPixel)
  {
    labels.AddLabel(obj, text, offset, units, alignment, font);
  }
  const TGTitleEntry& Title(int32_t layer, int32_t index)
  {
    EXPECT_LT(index, labels.LayerTitles(layer).Count);
    return labels.LayerTitles(layer).Titles.at(static_cast<size_t>(index));
  }

  vtrtest::RenderHost host;
  TGLabelRenderer labels;
  TGLayer root;
  TGFont font;
};

TEST_F(LabelRenderer, TitleBeforeAnyLayerIsAnAssertionFailure)
{
  TGLayer& layer = AddLayer(root, "units");
  auto p = Point(layer, "Alpha", 0, 0);
  EXPECT_EQ(
      vtrtest::ErrorText([&] { Add(*p, "Alpha"); }).rfind("No Layers added to LabelRenderer", 0),
      0u);
}

TEST_F(LabelRenderer, BottomRightWithOffsetFourStartsFourPixelsRightOfAndBelowThePoint)
{
  TGLayer& layer = AddLayer(root, "units");
  auto p = Point(layer, "Alpha", 10, 5);
  labels.BeginLayer(layer);
  Add(*p, "Alpha");
  ASSERT_EQ(labels.LayerTitles(0).Count, 1);
  const TGTitleEntry& t = Title(0, 0);
  const TGPoint at = XY(10, 5);
  EXPECT_EQ(t.Rect.Left, at.X + 4);
  EXPECT_EQ(t.Rect.Top, at.Y + 4);
  EXPECT_EQ(t.PrimaryKey, p->PrimaryKey());
  EXPECT_EQ(t.Centroid, p->Centroid());
  EXPECT_FALSE(t.Selected);
  EXPECT_EQ(t.Text, "Alpha");

  // Drawn last, inside that rectangle only.
  labels.Render();
  EXPECT_GT(host.Ink(), 10);
  // Within a pixel of it: anti-aliased edges of a glyph such as "A" may reach past its advance.
  EXPECT_EQ(host.InkOutside({t.Rect.Left - 1, t.Rect.Top - 1, t.Rect.Right + 1, t.Rect.Bottom + 1}),
            0);

  // An offset in map units is converted at the current scale: 1 km at 5 pixels per km.
  host.projector.SetScaleFactor(5.0L / GlobeUnitsFrom(1, guKilometer, 0));
  labels.Clear();
  labels.BeginLayer(layer);
  Add(*p, "Alpha", taBottomRight, 1, guKilometer);
  const TGPoint now = XY(10, 5);
  EXPECT_EQ(Title(0, 0).Rect.Left, now.X + 5);
  EXPECT_EQ(Title(0, 0).Rect.Top, now.Y + 5);
}

TEST_F(LabelRenderer, TitlesThatCannotBeReadOrSeenAreNotAdded)
{
  TGLayer& layer = AddLayer(root, "units");
  auto p = Point(layer, "Alpha", 0, 0);
  labels.BeginLayer(layer);
  Add(*p, "");
  Add(*p, "Alpha", taNone);
  font.SetSize(4); // below the minimum text size of 5
  Add(*p, "Alpha");
  font.SetSize(1);
  host.renderer.SetMinTextHeight(0); // still below 2 pixels
  Add(*p, "Alpha");
  EXPECT_EQ(labels.LayerTitles(0).Count, 0);
  font.SetSize(2);
  Add(*p, "Alpha");
  EXPECT_EQ(labels.LayerTitles(0).Count, 1);

  // A centroid on the far side of the globe.
  host.projector.SetProjectionClass("TGSphericalPrj");
  host.projector.SetScaleFactor(0);
  auto far = Point(layer, "Far", 180, 0);
  Add(*far, "Far");
  EXPECT_EQ(labels.LayerTitles(0).Count, 1);
}

TEST_F(LabelRenderer, BackslashNBreaksTheLineAndMaxTextHeightCapsTitles)
{
  TGLayer& layer = AddLayer(root, "units");
  auto p = Point(layer, "Alpha", 0, 0);
  labels.BeginLayer(layer);
  Add(*p, "Alpha\\nBravo", taRight, 0);
  Add(*p, "Alpha", taRight, 0);
  EXPECT_EQ(Title(0, 0).Text, "Alpha\nBravo");
  const int32_t lineHeight = Title(0, 1).Rect.Bottom - Title(0, 1).Rect.Top;
  EXPECT_EQ(Title(0, 0).Rect.Bottom - Title(0, 0).Rect.Top, 2 * lineHeight);

  font.SetSize(80);
  Add(*p, "Alpha", taRight, 0);
  EXPECT_NEAR(Title(0, 2).Rect.Bottom - Title(0, 2).Rect.Top, 50, 2); // MaxTextHeight 50
}

TEST_F(LabelRenderer, SelectedTitlesTakeTheSelectionPensColour)
{
  TGLayer& layer = AddLayer(root, "units");
  auto p = Point(layer, "Alpha", -40, 0);
  auto q = Point(layer, "Bravo", 20, 0);
  q->SetSelected(true);
  font.Define("Arial", clBlack, clWhite, 30, guPixel, 0, FontStyleBit(gfsBold), 255);
  labels.BeginLayer(layer);
  Add(*p, "II");
  Add(*q, "II");
  EXPECT_TRUE(Title(0, 1).Selected);
  labels.Render();
  const TColor red = host.renderer.SelectedPen().Color();
  EXPECT_GT(host.Count(clBlack, Title(0, 0).Rect), 10);
  EXPECT_EQ(host.Count(red, Title(0, 0).Rect), 0);
  EXPECT_GT(host.Count(red, Title(0, 1).Rect), 10);
  EXPECT_EQ(host.Count(clBlack, Title(0, 1).Rect), 0);
  EXPECT_EQ(font.Color(), clBlack); // the presenter's font is not touched
}

TEST_F(LabelRenderer, LongDrawsUpdateEvery256TitlesAndStopWhenTheRenderMust)
{
  TGLayer& layer = AddLayer(root, "units");
  auto p = Point(layer, "Alpha", 0, 0);
  labels.BeginLayer(layer);
  for (int i = 0; i < 600; ++i)
    Add(*p, "A");
  // The list grows in steps of 512.
  EXPECT_EQ(labels.LayerTitles(0).Count, 600);
  EXPECT_EQ(labels.LayerTitles(0).Titles.size(), 1024u);
  labels.Render();
  EXPECT_EQ(host.periodicUpdates, 2);

  host.periodicUpdates = 0;
  host.onPeriodicUpdate = [&] { host.mustStop = true; };
  labels.Render();
  EXPECT_EQ(host.periodicUpdates, 1);

  // Emptied for the next render, the storage kept.
  labels.Clear();
  EXPECT_EQ(labels.LayerCount(), 0);
  labels.BeginLayer(layer);
  EXPECT_EQ(labels.LayerTitles(0).Count, 0);
  EXPECT_EQ(labels.LayerTitles(0).Titles.size(), 1024u);
}

TEST_F(LabelRenderer, HitTestFindsTheFirstTitleOfAVisibleEnabledLayer)
{
  TGLayer& lower = AddLayer(root, "lower");
  TGLayer& upper = AddLayer(root, "upper");
  auto a = Point(lower, "Alpha", 0, 0);
  auto b = Point(upper, "Bravo", 0, 0); // same place: the titles overlap
  auto c = Point(upper, "Charlie", 40, -20);
  labels.BeginLayer(lower);
  Add(*a, "Alpha");
  labels.BeginLayer(upper);
  Add(*b, "Bravo");
  Add(*c, "Charlie");

  const TGRect ra = Title(0, 0).Rect;
  const TGPointLL inA = LLAt(ra.Left + 1, ra.Top + 1);
  EXPECT_EQ(vtrtest::IDOf(labels.ObjectAtLL(inA)), "Alpha"); // layers in order
  lower.SetVisible(false);
  EXPECT_EQ(vtrtest::IDOf(labels.ObjectAtLL(inA)), "Bravo");
  lower.SetVisible(true);
  lower.SetEnabled(false);
  EXPECT_EQ(vtrtest::IDOf(labels.ObjectAtLL(inA)), "Bravo");
  lower.SetEnabled(true);

  const TGRect rc = Title(1, 1).Rect;
  EXPECT_EQ(vtrtest::IDOf(labels.ObjectAtLL(LLAt(rc.Right - 1, rc.Bottom - 1))), "Charlie");
  EXPECT_EQ(labels.ObjectAtLL(LLAt(rc.Right, rc.Bottom)), nullptr); // far edges exclusive
  EXPECT_EQ(labels.ObjectAtLL(LLAt(5, 5)), nullptr);

  // A title whose object has gone is passed over.
  lower.ObjectSource().Remove(*a);
  EXPECT_EQ(vtrtest::IDOf(labels.ObjectAtLL(inA)), "Bravo");

  // Selection through the centre of a rectangle.
  const TGPointLL centre = LLAt((rc.Left + rc.Right) / 2, (rc.Top + rc.Bottom) / 2);
  const TGMER around = MER(centre.iLongX - 1000, centre.iLatY - 1000, 2000, 2000);
  EXPECT_EQ(labels.SelectObjects(around, true, true), 1);
  EXPECT_TRUE(c->Selected());
  EXPECT_EQ(labels.SelectObjects(around, true, false), 1);
  EXPECT_FALSE(c->Selected());
  EXPECT_EQ(labels.SelectObjects(MER(LLAt(5, 5).iLongX, LLAt(5, 5).iLatY, 1, 1), true, true), 0);

  // A layer that goes away takes its titles with it.
  labels.ForgetLayer(&upper);
  EXPECT_EQ(labels.ObjectAtLL(inA), nullptr);
  EXPECT_EQ(labels.LayerTitles(1).Count, 0);
}

} // namespace
} // namespace vtr
