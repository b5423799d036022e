// The renderer's point buffer and its view test, the scale conversions, the drawing
// attributes and how the renderer takes them over, and text placement.
#include "globe/GRenderer.h"

#include "GRendererTestSupport.h"
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

// ---------------------------------------------------------------------------------------------
// Scale conversions

TEST(RendererScale, ConversionsFollowTheScaleAndTheDensities)
{
  const long double sf = 5.0L / GlobeUnitsFrom(1, guKilometer, 0); // 1 km = 5 pixels
  EXPECT_EQ(GlobeUnitsFrom(1, guKilometer, sf), 48565);            // the unit table's kilometre
  EXPECT_EQ(GlobeUnitsFrom(10, guPixel, sf), RoundToInt32(10 / sf));
  EXPECT_EQ(GlobeUnitsFrom(7.4L, guPixel, 0), 7);                      // no scale: the value itself
  EXPECT_EQ(GlobeUnitsFrom(1e12L, guDegree, sf), RoundToInt32(1e12L)); // out of range
  EXPECT_NEAR(static_cast<double>(GlobeUnitsTo(48565, guKilometer, sf)), 1.0, 1e-5);
  EXPECT_NEAR(static_cast<double>(GlobeUnitsTo(100, guPixel, sf)), 100 * sf, 1e-12);

  EXPECT_EQ(ScaleUnitsToDevice(1, guKilometer, sf, 96, 96), 5);
  EXPECT_EQ(ScaleUnitsToDevice(3, guKilometer, sf, 96, 96), 15);
  EXPECT_EQ(ScaleUnitsToDevice(7, guPixel, sf, 96, 96), 7);
  EXPECT_EQ(ScaleUnitsToDevice(7, guPixel, sf, 300, 96), 22); // 21.875
  EXPECT_EQ(ScaleUnitsToDevice(1, guPixel, sf, 144, 96), 2);  // 1.5 to even
  EXPECT_EQ(ScaleUnitsToDevice(5, guPixel, sf, 144, 96), 8);  // 7.5 to even

  EXPECT_EQ(MulDivRound(5, 1, 2), 2);
  EXPECT_EQ(MulDivRound(7, 1, 2), 4);
  EXPECT_EQ(MulDivRound(-7, 1, 2), -4);
  EXPECT_EQ(MulDivRound(-5, 3, -2), 8);                   // 7.5
  EXPECT_EQ(MulDivRound(2'000'000'000, 3, 2), INT32_MAX); // saturates
  EXPECT_EQ(MulDivRound(4, 5, 0), 20);
}

TEST(RendererScale, RendererSizesUseItsDensityAgainstTheScreens)
{
  vtrtest::RenderHost host;
  TGRenderer& r = host.renderer;
  host.projector.SetScaleFactor(5.0L / 48565); // 1 km = 5 pixels
  EXPECT_EQ(r.ScaleUnitsToDevice(2, guKilometer), 10);
  EXPECT_EQ(r.FontRenderSize(9, guPixel), 9);
  EXPECT_EQ(r.FontRenderSize(3, guKilometer), 15);
  EXPECT_EQ(r.GetMaxTextSize(), 50);
  EXPECT_EQ(r.GetMinTextSize(), 5);

  r.SetPixelsPerInch(192); // a printer at twice the screen's density
  EXPECT_EQ(r.FontRenderSize(9, guPixel), 18);
  EXPECT_EQ(r.FontRenderSize(3, guKilometer), 15); // map units follow the scale only
  EXPECT_EQ(r.GetMaxTextSize(), 100);
  EXPECT_EQ(r.GetMinTextSize(), 10);
  EXPECT_EQ(r.ScaleUnitsToDevice(3, guPixel), 6);
}

TEST(RendererScale, ColorBlendDividesBy256)
{
  struct Case
  {
    TColor target, source;
    uint8_t alpha;
    TColor expected;
  };
  const Case cases[] = {
      {RGBColor(0, 0, 0), RGBColor(255, 255, 255), 128, RGBColor(127, 127, 127)},
      {RGBColor(255, 255, 255), RGBColor(0, 0, 0), 128, RGBColor(126, 126, 126)},
      {RGBColor(10, 200, 30), RGBColor(250, 0, 100), 64, RGBColor(69, 149, 47)},
      {RGBColor(255, 0, 0), RGBColor(0, 0, 255), 255, RGBColor(0, 0, 254)},
      {RGBColor(200, 100, 50), RGBColor(0, 0, 0), 0, RGBColor(199, 99, 49)},
  };
  for (const Case& c : cases) {
    TColor t = c.target;
    ColorBlend(t, c.source, c.alpha);
    EXPECT_EQ(t, c.expected) << "alpha " << int(c.alpha);
  }
}

// ---------------------------------------------------------------------------------------------
// Attributes

TEST(RendererAttributes, DefaultsAndChangesMarkModifiedAndFireOnChange)
{
  TGPen pen;
  EXPECT_EQ(pen.Color(), clBlack);
  EXPECT_EQ(pen.Style(), gpsSolid);
  EXPECT_EQ(pen.Width(), 1);
  EXPECT_EQ(pen.WidthUnit(), guPixel);
  TGBrush brush;
  EXPECT_EQ(brush.Color(), clWhite);
  EXPECT_EQ(brush.BkColor(), clWhite);
  EXPECT_EQ(brush.Style(), gbsSolid);
  TGFont font;
  EXPECT_EQ(font.Name(), "Arial");
  EXPECT_EQ(font.Size(), 9);
  EXPECT_EQ(font.SizeUnit(), guPixel);
  EXPECT_EQ(font.Color(), clBlack);
  EXPECT_EQ(font.Angle(), 0);
  EXPECT_EQ(font.Style(), 0);
  EXPECT_EQ(font.BkColor(), clWhite);
  EXPECT_EQ(font.BkAlphaBlend(), 255);

  int changes = 0;
  pen.OnChange = [&] { ++changes; };
  const uint64_t hash = pen.HashValue();
  pen.SetWidth(1); // unchanged
  EXPECT_EQ(changes, 0);
  EXPECT_FALSE(pen.Modified());
  pen.SetWidth(3);
  EXPECT_EQ(changes, 1);
  EXPECT_TRUE(pen.Modified());
  EXPECT_NE(pen.HashValue(), hash);
  pen.SetWidth(1);
  EXPECT_EQ(pen.HashValue(), hash); // the hash is of the settings
  pen.Define(clBlack, gpsSolid, 1, guPixel);
  EXPECT_EQ(changes, 2);

  font.SetStyle(FontStyleBit(gfsBold) | FontStyleBit(gfsHalo));
  EXPECT_TRUE(HasFontStyle(font.Style(), gfsHalo));
  EXPECT_FALSE(HasFontStyle(font.Style(), gfsItalic));
  auto copy = font.Clone();
  EXPECT_TRUE(copy->Equals(font));
  EXPECT_FALSE(copy->Modified());
  EXPECT_FALSE(copy->Equals(pen));
  EXPECT_THROW(pen.Assign(font), EAssertionFailed);
}

TEST(RendererAttributes, DeviceObjectIsKeptUntilASettingOrTheScaleChanges)
{
  vtrtest::RenderHost host;
  TGRenderer& r = host.renderer;
  host.projector.SetScaleFactor(5.0L / 48565); // 1 km = 5 pixels
  TGPen pen;
  pen.Define(clRed, gpsSolid, 1, guKilometer);
  EXPECT_EQ(pen.Handle(), 0u);
  const uint32_t h = pen.AttributeHandle(r);
  EXPECT_NE(h, 0u);
  EXPECT_EQ(pen.Renderer(), &r);
  EXPECT_EQ(pen.DeviceWidth(), 5);
  EXPECT_EQ(pen.AttributeHandle(r), h); // kept

  host.projector.SetScaleFactor(10.0L / 48565); // zoomed in: realized again, wider
  const uint32_t h2 = pen.AttributeHandle(r);
  EXPECT_NE(h2, h);
  EXPECT_EQ(pen.DeviceWidth(), 10);

  TGDefaultRenderer other;
  EXPECT_NE(pen.AttributeHandle(other), h2); // another renderer
  pen.SetColor(clBlue);
  EXPECT_EQ(pen.Handle(), 0u); // released by the change
}

TEST(RendererAttributes, SetPenCopiesUnlessEqualAndSharesTheRealizedPen)
{
  vtrtest::RenderHost host;
  TGRenderer& r = host.renderer;
  r.RealizeAttributes();
  EXPECT_EQ(r.State(), asFont | asPen | asBrush);

  TGPen lent;
  lent.Define(clRed, gpsDash, 3, guPixel);
  r.SetPen(lent);
  EXPECT_TRUE(r.Pen().Equals(lent));
  EXPECT_EQ(r.State() & asPen, 0); // selected again before the next drawing
  // The lender was realized and the renderer's copy shares its device object.
  EXPECT_NE(lent.Handle(), 0u);
  EXPECT_EQ(r.Pen().AttributeHandle(r), lent.Handle());

  r.RealizeAttributes();
  const uint32_t handle = r.Pen().Handle();
  TGPen same;
  same.Define(clRed, gpsDash, 3, guPixel);
  r.SetPen(same); // same hash and settings: nothing copied
  EXPECT_EQ(r.Pen().Handle(), handle);
  EXPECT_EQ(r.State() & asPen, asPen);
  EXPECT_EQ(same.Handle(), 0u);

  // Lending the same presenter pen again and again realizes it once.
  TGPen other;
  other.Define(clBlue, gpsSolid, 1, guPixel);
  r.SetPen(other);
  const uint32_t otherHandle = other.Handle();
  r.SetPen(lent);
  r.SetPen(other);
  EXPECT_EQ(other.Handle(), otherHandle);
  EXPECT_EQ(r.Pen().Handle(), otherHandle);

  TGBrush hatch;
  hatch.Define(clRed, clBlue, gbsCross);
  r.SetBrush(hatch);
  EXPECT_TRUE(r.Brush().Equals(hatch));
  r.SetBrush(nullptr); // a plain white solid brush
  EXPECT_EQ(r.Brush().Color(), clWhite);
  EXPECT_EQ(r.Brush().BkColor(), clWhite);
  EXPECT_EQ(r.Brush().Style(), gbsSolid);

  // Changing the renderer's own pen directly is seen too.
  r.RealizeAttributes();
  r.Pen().SetColor(clLime);
  EXPECT_EQ(r.State() & asPen, 0);
}

TEST(RendererAttributes, SelectionAttributesDefaultToRedPenAndYellowBrush)
{
  TGDefaultRenderer r;
  EXPECT_EQ(r.SelectedPen().Color(), 255);
  EXPECT_EQ(r.SelectedPen().Style(), gpsSolid);
  EXPECT_EQ(r.SelectedPen().Width(), 1);
  EXPECT_EQ(r.SelectedPen().WidthUnit(), guPixel);
  EXPECT_EQ(r.SelectedBrush().Color(), 0xFFFF);
  EXPECT_EQ(r.SelectedBrush().BkColor(), 0xFFFF);
  EXPECT_EQ(r.SelectedBrush().Style(), gbsSolid);
  EXPECT_TRUE(r.DoubleBuffer());
  EXPECT_EQ(r.MinTextHeight(), 5);
  EXPECT_EQ(r.MaxTextHeight(), 50);

  TGDefaultRenderer copy;
  r.SetMaxTextHeight(30);
  r.SelectedPen().SetWidth(2);
  copy.Assign(r);
  EXPECT_EQ(copy.MaxTextHeight(), 30);
  EXPECT_EQ(copy.SelectedPen().Width(), 2);
}

TEST(RendererAttributes, PatternBrushesLoadByNameFromTheResources)
{
  TGDefaultRenderer r;
  std::vector<QImage> seen;
  for (int style = gbsPattern1; style <= gbsPattern50; ++style) {
    const QBitmap* bitmap = r.PatternBitmap(static_cast<TGBrushStyle>(style));
    ASSERT_NE(bitmap, nullptr) << "BRUSH_" << style;
    EXPECT_EQ(bitmap->size(), QSize(8, 8));
    const QImage image = bitmap->toImage();
    for (const QImage& other : seen)
      EXPECT_NE(image, other) << "BRUSH_" << style << " repeats";
    seen.push_back(image);
  }
  EXPECT_EQ(r.PatternBitmap(gbsCross), nullptr);
  EXPECT_EQ(r.PatternBitmap(static_cast<TGBrushStyle>(kBrushStyleCount)), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Text placement

TEST(RendererText, TenAlignmentsPlaceTheRectangleAroundThePoint)
{
  vtrtest::RenderHost host;
  TGRenderer& r = host.renderer;
  TGRect none;
  r.GetTextRect(0, 0, none, 0, taNone, "Mg17");
  const int32_t w = none.Right, h = none.Bottom;
  ASSERT_GT(w, 0);
  ASSERT_GT(h, 0);
  EXPECT_EQ(none.Left, 0);
  EXPECT_EQ(none.Top, 0);

  const int32_t X = 100, Y = 50, a = 4;
  struct Case
  {
    TGTitleAlignment alignment;
    int32_t dx, dy;
  };
  const Case cases[] = {
      {taNone, 0, 0},
      {taCenter, -(w / 2), -(h / 2)},
      {taLeft, -(w + a), -(h / 2)},
      {taRight, a, -(h / 2)},
      {taTopLeft, -(w + a), -(h + a)},
      {taTop, -(w / 2), -(h + a)},
      {taTopRight, a, -(h + a)},
      {taBottomLeft, -(w + a), a},
      {taBottom, -(w / 2), a},
      {taBottomRight, a, a},
  };
  for (const Case& c : cases) {
    TGRect rect;
    r.GetTextRect(X, Y, rect, a, c.alignment, "Mg17");
    EXPECT_EQ(rect, (TGRect{X + c.dx, Y + c.dy, X + c.dx + w, Y + c.dy + h}))
        << "alignment " << c.alignment;
  }

  // A negative point keeps "div" truncating toward zero: taCenter at (-1, -1) with odd sizes.
  TGRect rect;
  r.GetTextRect(-1, -1, rect, 0, taCenter, "Mg17");
  EXPECT_EQ(rect.Left, -1 - w / 2);

  // Lines (separated by line breaks) stack; the widest sets the width.
  TGRect wide, lines;
  r.GetTextRect(0, 0, wide, 0, taNone, "Mg17Mg17");
  r.GetTextRect(0, 0, lines, 0, taNone, "Mg17\nMg17Mg17");
  EXPECT_EQ(lines.Right, wide.Right);
  EXPECT_EQ(lines.Bottom, 2 * h);
  r.GetTextRect(0, 0, lines, 0, taNone, "Mg17\r\nMg17");
  EXPECT_EQ(lines.Right, w);
  EXPECT_EQ(lines.Bottom, 2 * h);
}

} // namespace
} // namespace vtr
