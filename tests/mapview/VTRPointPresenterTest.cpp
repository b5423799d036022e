// The unit symbol presenter on a real globe: arrow directions and lengths, the size floor and
// cap, images stretched into their square with the transparency set on them, selection, and
// its XML form.
#include "mapview/VTRPointPresenter.h"

#include "globe/GLayer.h"
#include "globe/GXML.h"

#include "globe/GGlobeTestSupport.h"

#include <gtest/gtest.h>

namespace vtr {
namespace {

using VT = TGVTRPointPresenterType;

class VTRPresenterTest : public vtrtest::GlobeTest
{
protected:
  void SetUp() override
  {
    RegisterMapViewClasses();
    MakeFlatGlobe(120, 120);
    layer = &AddLayer("Units");
  }
  TGVTRPointPresenter& AddPresenter(VT type, int32_t size)
  {
    return AddBlackPointPresenter<TGVTRPointPresenter>(*layer, type, size);
  }
  // Away from the view outline along the border.
  vtrtest::PixelBox BoxOf(TColor c = clNone) { return GlobeTest::BoxOf(c, 3); }

  TGLayer* layer = nullptr;
};

TEST_F(VTRPresenterTest, ArrowPointsClockwiseFromUpWithItsTipHalfTheSizeAway)
{
  // Size 75: c = 37. The shaft runs from the centre to the tip; the barbs lie about 12
  // pixels back from the tip, so the ink reaches exactly to the tip along the arrow and a
  // little to either side of the shaft.
  struct Case
  {
    int16_t angle;
    int dx, dy; // the tip relative to the centre
  };
  const Case cases[] = {{0, 0, -37}, {90, 37, 0}, {180, 0, 37}, {270, -37, 0}};
  TGVTRPointPresenter& p = AddPresenter(VT::ppArrow, 75);
  AddPoint(*layer, 0, 0, p.PresenterID());
  const TGPoint at = XY(0, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.angle);
    p.SetAngleDeg(c.angle);
    globe->RenderFrame();
    const vtrtest::PixelBox b = BoxOf();
    const TGPoint tip{at.X + c.dx, at.Y + c.dy};
    EXPECT_EQ(Pixel(tip.X, tip.Y), clBlack);
    // Exact along the arrow; across it the barbs reach about 5 pixels either side (one pixel
    // either way is the rasteriser's edge rule).
    if (c.dx != 0) {
      EXPECT_EQ(b.left, std::min(at.X, tip.X));
      EXPECT_EQ(b.right, std::max(at.X, tip.X));
      EXPECT_NEAR(b.top, at.Y - 5, 1);
      EXPECT_NEAR(b.bottom, at.Y + 5, 1);
    } else {
      EXPECT_EQ(b.top, std::min(at.Y, tip.Y));
      EXPECT_EQ(b.bottom, std::max(at.Y, tip.Y));
      EXPECT_NEAR(b.left, at.X - 5, 1);
      EXPECT_NEAR(b.right, at.X + 5, 1);
    }
    // The head is filled: a pixel between the barbs, three back from the tip, is inked on the
    // shaft's both sides.
    const int backX = c.dx == 0 ? 0 : (c.dx > 0 ? -3 : 3);
    const int backY = c.dy == 0 ? 0 : (c.dy > 0 ? -3 : 3);
    const int sideX = c.dx == 0 ? 1 : 0, sideY = c.dy == 0 ? 1 : 0;
    EXPECT_EQ(Pixel(tip.X + backX + sideX, tip.Y + backY + sideY), clBlack);
    EXPECT_EQ(Pixel(tip.X + backX - sideX, tip.Y + backY - sideY), clBlack);
  }
}

TEST_F(VTRPresenterTest, SizesBelowTwoDrawNothingAndMaxPointSizeCaps)
{
  TGVTRPointPresenter& p = AddPresenter(VT::ppSquare, 1);
  AddPoint(*layer, 0, 0, p.PresenterID());
  globe->RenderFrame();
  EXPECT_EQ(BoxOf().Width(), 0);

  p.SetPointSize(2); // c = 1
  globe->RenderFrame();
  EXPECT_EQ(BoxOf().Width(), 3);

  p.SetPointSize(40);
  p.SetMaxPointSize(32);
  globe->RenderFrame();
  EXPECT_EQ(BoxOf().Width(), 33); // the square's outline from x - 16 to x + 16
}

TEST_F(VTRPresenterTest, ImageIsStretchedIntoItsSquareKeepingTheTransparencySetOnIt)
{
  // 40 x 20: red with a white band (made transparent, as the map view does) and a green
  // bottom-left corner, which the engine's point presenter would have taken as transparent.
  auto image = std::make_shared<TGBitmap>();
  image->SetSize(40, 20);
  image->Clear(clRed);
  for (int y = 8; y < 12; ++y)
    for (int x = 0; x < 40; ++x)
      image->SetPixel(x, y, clWhite);
  image->SetPixel(0, 19, clLime);
  image->SetTransparentColor(clWhite);
  image->SetAlphaBlend(255);

  globe->SetColor(clBlue);
  TGVTRPointPresenter& p = AddPresenter(VT::ppImage, 32);
  p.SetImage(image);
  AddPoint(*layer, 0, 0, p.PresenterID());
  globe->RenderFrame();
  const TGPoint at = XY(0, 0);
  const vtrtest::PixelBox red = BoxOf(clRed);
  EXPECT_EQ(red.left, at.X - 16);
  EXPECT_EQ(red.top, at.Y - 16);
  EXPECT_NEAR(red.Width(), 32, 1);
  EXPECT_NEAR(red.Height(), 32, 1);
  // The band shows the map behind it; nothing white was drawn.
  EXPECT_EQ(Pixel(at.X, at.Y), clBlue);
  EXPECT_EQ(BoxOf(clWhite).Width(), 0);
  EXPECT_EQ(image->TransparentColor(), clWhite);
  EXPECT_EQ(image->AlphaBlend(), 255);
}

TEST_F(VTRPresenterTest, SelectedArrowUsesTheSelectionPenAndASelectedImageIsUnchanged)
{
  globe->Renderer().SelectedPen().Define(clLime, gpsSolid, 1, guPixel);
  globe->Renderer().SelectedBrush().Define(clLime, clLime, gbsSolid);
  TGVTRPointPresenter& arrow = AddPresenter(VT::ppArrow, 40);
  auto obj = AddPoint(*layer, 0, 0, arrow.PresenterID());
  obj->SetSelected(true);
  globe->RenderFrame();
  EXPECT_GT(BoxOf(clLime).Height(), 15);
  EXPECT_EQ(BoxOf(clBlack).Width(), 0);

  auto image = std::make_shared<TGBitmap>();
  image->SetSize(8, 8);
  image->Clear(clBlack);
  arrow.SetPointType(VT::ppImage);
  arrow.SetImage(image);
  globe->RenderFrame();
  EXPECT_EQ(BoxOf(clLime).Width(), 0);
  EXPECT_EQ(BoxOf(clBlack).Width(), 40);
}

TEST_F(VTRPresenterTest, XMLKeepsShapeAndAngleAndTheClassIsRegistered)
{
  TGVTRPointPresenter p(globe.get());
  p.SetPointType(VT::ppArrow);
  p.SetAngleDeg(123);
  p.SetPointSize(75);
  p.SetName("Arrow123");
  TGXML_Element el("Presenter");
  p.SaveToXML(el);
  EXPECT_EQ(el.Attribute("Class"), "TGVTRPointPresenter");

  auto copy = CreateFromXMLAs<TGPresenter>(globe.get(), &el);
  auto* vtrCopy = dynamic_cast<TGVTRPointPresenter*>(copy.get());
  ASSERT_NE(vtrCopy, nullptr);
  EXPECT_EQ(vtrCopy->PointType(), VT::ppArrow);
  EXPECT_EQ(vtrCopy->AngleDeg(), 123);
  EXPECT_EQ(vtrCopy->PointSize(), 75);
  EXPECT_TRUE(vtrCopy->Equals(p));
  ASSERT_NE(FindGlobeClass("TGVTRPointPresenter"), nullptr);
  EXPECT_EQ(FindGlobeClass("TGVTRPointPresenter")->DisplayName, "VTR Point Presenter");

  auto clone = p.Clone();
  EXPECT_TRUE(clone->Equals(p));
}

} // namespace
} // namespace vtr
