// What the renderer puts on its pixels: pens at the scale of the moment, hatches and pattern
// brushes, shapes, text (alignment, opaque box, halo, size cap), single pixels, texture
// triangles, and the surfaces it can draw on.
#include "globe/GRenderer.h"

#include "GRendererTestSupport.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include <set>

namespace vtr {
namespace {

// Rows of column x that are black.
int BlackRows(const vtrtest::RenderHost& host, int32_t x)
{
  int n = 0;
  for (int32_t y = 0; y < host.Height(); ++y)
    n += host.Pixel(x, y) == clBlack;
  return n;
}

void DrawHorizontalLine(TGRenderer& r, int32_t y, int32_t x1, int32_t x2)
{
  const TGPoint line[] = {{x1, y}, {x2, y}};
  r.DrawPoly(line, 2, false);
}

TEST(RendererPixels, KilometreWidePenThinsWhenZoomingOut)
{
  vtrtest::RenderHost host(60, 40);
  TGRenderer& r = host.renderer;
  TGPen pen;
  pen.Define(clBlack, gpsSolid, 1, guKilometer);
  r.SetPen(pen);
  const long double oneKm = GlobeUnitsFrom(1, guKilometer, 0);
  struct Case
  {
    long double pixelsPerKm;
    int32_t deviceWidth; // round (1 km in pixels), half to even
    int rows;            // below 2 a 1-pixel pen
  };
  const Case cases[] = {{5, 5, 5},    {4, 4, 4},    {2.5L, 2, 2}, {1.6L, 2, 2},
                        {1.4L, 1, 1}, {0.6L, 1, 1}, {0.1L, 0, 1}};
  // The pen is lent once; the renderer's copy follows every zoom by itself.
  for (const Case& c : cases) {
    host.projector.SetScaleFactor(c.pixelsPerKm / oneKm);
    host.renderer.Clear(clWhite);
    r.SetPen(pen);
    DrawHorizontalLine(r, 20, 10, 50);
    EXPECT_EQ(r.Pen().DeviceWidth(), c.deviceWidth) << c.pixelsPerKm;
    EXPECT_EQ(BlackRows(host, 30), c.rows) << c.pixelsPerKm << " px/km\n" << host.Picture();
  }
}

TEST(RendererPixels, PenStylesAndClearPen)
{
  vtrtest::RenderHost host(60, 10);
  TGRenderer& r = host.renderer;
  TGPen pen;
  pen.Define(clBlack, gpsDot, 1, guPixel);
  r.SetPen(pen);
  DrawHorizontalLine(r, 2, 0, 59);
  const int dots = host.Count(clBlack, {0, 2, 60, 3});
  EXPECT_GT(dots, 10);
  EXPECT_LT(dots, 45);
  EXPECT_EQ(host.Count(clBlack, {0, 2, 60, 3}) + host.Count(clWhite, {0, 2, 60, 3}), 60);

  // With a brush whose background differs from its colour, the gaps show that background.
  vtrtest::LendBrush(r, clWhite, clBlue, gbsSolid);
  DrawHorizontalLine(r, 4, 0, 59);
  EXPECT_EQ(host.Count(clBlack, {0, 4, 60, 5}), dots);
  EXPECT_EQ(host.Count(clBlue, {0, 4, 60, 5}), 60 - dots);

  pen.SetStyle(gpsClear);
  r.SetPen(pen);
  DrawHorizontalLine(r, 6, 0, 59);
  EXPECT_EQ(host.Count(clBlack, {0, 6, 60, 7}) + host.Count(clBlue, {0, 6, 60, 7}), 0);
}

// Fills a 32 x 32 area with the brush and returns the picture's pixels.
std::vector<std::vector<TColor>> FillWith(vtrtest::RenderHost& host, const TGBrush& brush)
{
  TGRenderer& r = host.renderer;
  r.Clear(clWhite);
  vtrtest::LendPen(r, clBlack, gpsClear, 1, guPixel);
  r.SetBrush(brush);
  r.DrawRectangle({0, 0, 33, 33}); // without a pen one pixel less: 32 x 32
  std::vector<std::vector<TColor>> rows(32, std::vector<TColor>(32));
  for (int32_t y = 0; y < 32; ++y)
    for (int32_t x = 0; x < 32; ++x)
      rows[static_cast<size_t>(y)][static_cast<size_t>(x)] = host.Pixel(x, y);
  return rows;
}

TEST(RendererPixels, HatchesRepeatEveryEightPixelsInTheirDirection)
{
  vtrtest::RenderHost host(40, 40);
  // The pixel a line of the hatch is drawn on, as a function of a line's position.
  struct Case
  {
    TGBrushStyle style;
    const char* what;
    // True when (x, y) and its neighbour (x + sx, y + sy) must look alike.
    int sx, sy;
    int inkPerRowOf8; // of every 8 pixels of a row, how many are ink
  };
  const Case cases[] = {
      {gbsHorizontal, "horizontal", 1, 0, -1},
      {gbsVertical, "vertical", 0, 1, 1},
      {gbsFDiagonal, "forward diagonal", 1, 1, 1},
      {gbsBDiagonal, "backward diagonal", 1, -1, 1},
      {gbsCross, "cross", 0, 8, -1},
      {gbsDiagCross, "diagonal cross", 0, 8, -1},
  };
  for (const Case& c : cases) {
    for (const bool opaque : {false, true}) {
      TGBrush brush;
      brush.Define(clBlack, opaque ? clBlue : clBlack, c.style);
      const auto px = FillWith(host, brush);
      std::set<TColor> colours;
      for (int32_t y = 8; y < 24; ++y)
        for (int32_t x = 8; x < 24; ++x) {
          const TColor here = px[static_cast<size_t>(y)][static_cast<size_t>(x)];
          colours.insert(here);
          EXPECT_EQ(here, px[static_cast<size_t>(y + c.sy)][static_cast<size_t>(x + c.sx)])
              << c.what << " at " << x << "," << y;
          EXPECT_EQ(here, px[static_cast<size_t>(y + 8)][static_cast<size_t>(x)]) << c.what;
          EXPECT_EQ(here, px[static_cast<size_t>(y)][static_cast<size_t>(x + 8)]) << c.what;
        }
      // Ink in the brush colour, gaps in the background colour when it differs, else left.
      EXPECT_EQ(colours, (std::set<TColor>{clBlack, opaque ? clBlue : clWhite})) << c.what;
      if (c.inkPerRowOf8 > 0) {
        int ink = 0;
        for (int32_t x = 8; x < 16; ++x)
          ink += px[10][static_cast<size_t>(x)] == clBlack;
        EXPECT_EQ(ink, c.inkPerRowOf8) << c.what;
      }
    }
  }
  // One full row of ink in every eight for horizontal lines.
  TGBrush horizontal;
  horizontal.Define(clBlack, clBlack, gbsHorizontal);
  const auto px = FillWith(host, horizontal);
  int inkRows = 0;
  for (int32_t y = 0; y < 8; ++y)
    inkRows += px[static_cast<size_t>(y)][5] == clBlack;
  EXPECT_EQ(inkRows, 1);
}

TEST(RendererPixels, PatternBrushPaintsOneBitsInItsColourAndZeroBitsInItsBackground)
{
  vtrtest::RenderHost host(40, 40);
  // gbsPattern21 is the bricks bitmap "BRUSH_28".
  const char* bricks[8] = {"XXXXXXXX", "X.......", "X.......", "X.......",
                           "XXXXXXXX", "....X...", "....X...", "....X..."};
  for (const TColor bk : {clBlue, clBlack}) {
    TGBrush brush;
    brush.Define(clBlack, bk, gbsPattern21);
    const auto px = FillWith(host, brush);
    for (int32_t y = 0; y < 32; ++y)
      for (int32_t x = 0; x < 32; ++x) {
        const bool one = bricks[y % 8][x % 8] == 'X';
        ASSERT_EQ(px[static_cast<size_t>(y)][static_cast<size_t>(x)], one ? clBlack : bk)
            << x << "," << y << "\n"
            << host.Picture();
      }
  }
  // Solid and clear.
  TGBrush solid;
  solid.Define(clRed, clBlue, gbsSolid);
  EXPECT_EQ(FillWith(host, solid)[7][9], clRed);
  TGBrush clear;
  clear.Define(clRed, clBlue, gbsClear);
  EXPECT_EQ(FillWith(host, clear)[7][9], clWhite);
}

TEST(RendererPixels, ShapesCoverTheirRectangleLikeTheDeviceRectangle)
{
  vtrtest::RenderHost host(30, 30);
  TGRenderer& r = host.renderer;
  vtrtest::LendPen(r, clBlack);
  vtrtest::LendBrush(r, clRed, clRed);
  r.DrawRectangle({2, 3, 12, 9}); // outline on columns 2 and 11, rows 3 and 8
  EXPECT_EQ(host.Count(clBlack), 2 * 10 + 2 * 4);
  EXPECT_EQ(host.Count(clRed), 8 * 4);
  EXPECT_EQ(host.InkOutside({2, 3, 12, 9}), 0);

  // A circle 6 across: the point presenter's ppCircle of size 6 at (20, 20).
  r.Clear(clWhite);
  vtrtest::LendPen(r, clBlack);
  vtrtest::LendBrush(r, clRed, clRed);
  r.DrawEllipse({20 - 3, 20 - 3, 20 + 3, 20 + 3});
  EXPECT_EQ(host.InkOutside({17, 17, 23, 23}), 0) << host.Picture();
  for (int32_t x = 17; x < 23; ++x)
    EXPECT_NE(host.Pixel(x, 20), clWhite) << x;
  for (int32_t y = 17; y < 23; ++y)
    EXPECT_NE(host.Pixel(20, y), clWhite) << y;
  EXPECT_EQ(host.Pixel(17, 17), clWhite); // round
}

TEST(RendererPixels, FocusRectangleDrawnTwiceLeavesNoTrace)
{
  vtrtest::RenderHost host(30, 30);
  TGRenderer& r = host.renderer;
  vtrtest::LendBrush(r, clRed, clRed, gbsSolid);
  r.DrawRectangle({0, 0, 16, 30});
  const QImage before = host.renderer.BackBuffer().Image().copy();
  r.DrawFocusRect({4, 5, 25, 20});
  // Only pixels of the outline changed, and only to their inverse.
  int changed = 0;
  const QImage& now = host.renderer.BackBuffer().Image();
  for (int32_t y = 0; y < 30; ++y)
    for (int32_t x = 0; x < 30; ++x) {
      if (now.pixel(x, y) == before.pixel(x, y)) continue;
      ++changed;
      const bool onOutline =
          (x == 4 || x == 24 || y == 5 || y == 19) && x >= 4 && x <= 24 && y >= 5 && y <= 19;
      EXPECT_TRUE(onOutline) << x << "," << y;
      EXPECT_EQ(now.pixel(x, y) & 0xFFFFFFu, ~before.pixel(x, y) & 0xFFFFFFu);
    }
  EXPECT_GT(changed, 20);
  r.DrawFocusRect({4, 5, 25, 20});
  EXPECT_EQ(host.renderer.BackBuffer().Image(), before);
  // The renderer's attributes are selected again afterwards.
  r.DrawRectangle({20, 22, 28, 29});
  EXPECT_EQ(host.Pixel(24, 25), clRed);
}

TEST(RendererPixels, DrawPixelBlendsAndStaysInside)
{
  vtrtest::RenderHost host(8, 8);
  TGRenderer& r = host.renderer;
  r.DrawPixel(1, 1, clBlack, 255);
  r.DrawPixel(2, 1, clBlack, 128);
  r.DrawPixel(3, 1, clBlack, 0);
  r.DrawPixel(-1, 1, clBlack, 255);
  r.DrawPixel(8, 8, clBlack, 255);
  EXPECT_EQ(host.Pixel(1, 1), clBlack);
  TColor expected = clWhite;
  ColorBlend(expected, clBlack, 128);
  EXPECT_EQ(host.Pixel(2, 1), expected);
  EXPECT_EQ(host.Pixel(3, 1), clWhite); // alpha 0 leaves the pixel
  EXPECT_EQ(host.Count(clWhite), 64 - 2);
}

// ---------------------------------------------------------------------------------------------
// Text

TEST(RendererPixels, TitleBottomRightWithOffsetFourStartsBelowRightOfThePoint)
{
  vtrtest::RenderHost host(80, 40);
  TGRenderer& r = host.renderer;
  TGFont font;
  font.Define("Arial", clBlack, clWhite, 14, guPixel, 0, 0, 255);
  r.SetFont(font);
  TGRect rect;
  r.GetTextRect(10, 8, rect, 4, taBottomRight, "MN");
  EXPECT_EQ(rect.Left, 14);
  EXPECT_EQ(rect.Top, 12);
  r.DrawText(10, 8, "MN", taBottomRight, 4);
  EXPECT_GT(host.Ink(), 10);
  EXPECT_EQ(host.InkOutside(rect), 0) << host.Picture();
  // Nothing left of or above the text's start.
  EXPECT_EQ(host.InkOutside({14, 12, 80, 40}), 0);
}

TEST(RendererPixels, EveryAlignmentDrawsInsideItsRectangle)
{
  const TGTitleAlignment alignments[] = {taNone, taCenter,   taLeft,       taRight,  taTopLeft,
                                         taTop,  taTopRight, taBottomLeft, taBottom, taBottomRight};
  for (const TGTitleAlignment a : alignments) {
    vtrtest::RenderHost host(100, 60);
    TGRenderer& r = host.renderer;
    TGFont font;
    font.Define("Arial", clBlack, clWhite, 12, guPixel, 0, 0, 255);
    r.SetFont(font);
    TGRect rect;
    r.GetTextRect(50, 30, rect, 3, a, "Wq");
    r.DrawText(50, 30, "Wq", a, 3);
    EXPECT_GT(host.Ink(), 5) << a;
    EXPECT_EQ(host.InkOutside(rect), 0) << "alignment " << a << "\n" << host.Picture();
  }
}

TEST(RendererPixels, OpaqueTextFillsItsBoxAndHaloTextOutlinesTheGlyphs)
{
  vtrtest::RenderHost host(80, 40);
  TGRenderer& r = host.renderer;
  TGFont font;
  font.Define("Arial", clBlack, clBlue, 16, guPixel, 0, FontStyleBit(gfsOpaque), 255);
  r.SetFont(font);
  TGRect rect;
  r.GetTextRect(10, 10, rect, 0, taNone, "Hi");
  r.DrawText(10, 10, "Hi", taNone, 0);
  const TGRect box{rect.Left - 1, rect.Top - 1, rect.Right + 1, rect.Bottom + 1};
  EXPECT_EQ(host.InkOutside(box), 0);
  EXPECT_EQ(host.Count(clWhite, box), 0) << host.Picture(); // every box pixel painted
  EXPECT_GT(host.Count(clBlue, box), (box.Right - box.Left) * (box.Bottom - box.Top) / 2);
  const int boxArea = (box.Right - box.Left) * (box.Bottom - box.Top);
  EXPECT_GT(boxArea - host.Count(clBlue, box), 5); // the text over the box

  // Halo: the background colour appears around the glyphs, not as a box.
  r.Clear(clWhite);
  font.Define("Arial", clBlack, clRed, 16, guPixel, 0, FontStyleBit(gfsHalo), 255);
  r.SetFont(font);
  r.DrawText(10, 10, "Hi", taNone, 0);
  const int red = host.Count(clRed);
  EXPECT_GT(red, 10) << host.Picture();
  EXPECT_GT(host.Count(clWhite, box), 0); // the box is not filled
  // Every halo pixel touches a glyph: within two pixels of something not white and not red.
  int lonely = 0;
  for (int32_t y = 0; y < host.Height(); ++y)
    for (int32_t x = 0; x < host.Width(); ++x) {
      if (host.Pixel(x, y) != clRed) continue;
      bool nearGlyph = false;
      for (int dy = -2; dy <= 2 && !nearGlyph; ++dy)
        for (int dx = -2; dx <= 2 && !nearGlyph; ++dx) {
          const int32_t nx = x + dx, ny = y + dy;
          if (nx < 0 || ny < 0 || nx >= host.Width() || ny >= host.Height()) continue;
          const TColor c = host.Pixel(nx, ny);
          nearGlyph = c != clRed && c != clWhite;
        }
      lonely += !nearGlyph;
    }
  EXPECT_EQ(lonely, 0);

  // Neither style: only the text colour (and its anti-aliased edges).
  r.Clear(clWhite);
  font.SetStyle(0);
  r.SetFont(font);
  r.DrawText(10, 10, "Hi", taNone, 0);
  EXPECT_EQ(host.Count(clRed), 0);
}

TEST(RendererPixels, TurnedTextTurnsAboutItsTopLeftCorner)
{
  vtrtest::RenderHost host(80, 80);
  TGRenderer& r = host.renderer;
  TGFont font;
  font.Define("Arial", clBlack, clWhite, 14, guPixel, 900, 0, 255); // 90 degrees, upwards
  r.SetFont(font);
  TGRect rect;
  r.GetTextRect(30, 70, rect, 0, taNone, "MMMM");
  const int32_t w = rect.Right - rect.Left, h = rect.Bottom - rect.Top;
  r.DrawTextRect(rect, "MMMM");
  // Turned a quarter counter-clockwise about (30, 70): the text runs up from there, its cell
  // lying to the right of x = 30.
  EXPECT_EQ(host.InkOutside({30 - 1, 70 - w - 1, 30 + h + 1, 70 + 1}), 0) << host.Picture();
  EXPECT_GT(host.Ink(), 20);
  EXPECT_GT(host.Count(clWhite, {30, 70 - w, 30 + h, 70}), 0);
}

TEST(RendererPixels, MaxTextHeightCapsTitleFontsButNotWhenLifted)
{
  vtrtest::RenderHost host(200, 120);
  TGRenderer& r = host.renderer;
  TGFont font;
  font.Define("Arial", clBlack, clWhite, 80, guPixel, 0, 0, 255);
  ASSERT_EQ(r.MaxTextHeight(), 50);
  r.SetFont(font);
  TGRect capped;
  r.GetTextRect(0, 0, capped, 0, taNone, "Hg");
  EXPECT_EQ(r.Font().DeviceHeight(), 50);
  EXPECT_NEAR(capped.Bottom, 50, 2);

  // A point presenter lifts the cap while it draws its symbol font.
  r.SetMaxTextHeight(0);
  TGRect symbol;
  r.GetTextRect(0, 0, symbol, 0, taNone, "Hg");
  EXPECT_EQ(r.Font().DeviceHeight(), 80);
  EXPECT_NEAR(symbol.Bottom, 80, 2);
  r.DrawText(0, 0, "Hg", taNone, 0);
  EXPECT_GT(host.InkOutside({0, 0, 200, 55}), 0); // the glyphs reach below the capped height
  r.SetMaxTextHeight(50);

  // The cap is meant at screen density: a printer at twice the density caps at 100.
  r.SetPixelsPerInch(192);
  r.GetTextRect(0, 0, capped, 0, taNone, "Hg");
  EXPECT_EQ(r.Font().DeviceHeight(), 100);
  // Smaller fonts pass.
  r.SetPixelsPerInch(96);
  font.SetSize(20);
  r.SetFont(font);
  r.GetTextRect(0, 0, capped, 0, taNone, "Hg");
  EXPECT_EQ(r.Font().DeviceHeight(), 20);
}

TEST(RendererPixels, FontsInMapUnitsFollowTheZoom)
{
  vtrtest::RenderHost host;
  TGRenderer& r = host.renderer;
  const long double oneKm = GlobeUnitsFrom(1, guKilometer, 0);
  TGFont font;
  font.Define("Arial", clBlack, clWhite, 2, guKilometer, 0, 0, 255);
  host.projector.SetScaleFactor(10 / oneKm);
  r.SetFont(font);
  TGRect rect;
  r.GetTextRect(0, 0, rect, 0, taNone, "A");
  EXPECT_EQ(r.Font().DeviceHeight(), 20);
  host.projector.SetScaleFactor(15 / oneKm);
  r.GetTextRect(0, 0, rect, 0, taNone, "A");
  EXPECT_EQ(r.Font().DeviceHeight(), 30);
}

// ---------------------------------------------------------------------------------------------
// Texture triangles

// A 4 x 4 image whose pixel (x, y) has red 10 x, green 10 y, blue 100.
void MakeTexture(TGBitmap& image)
{
  image.SetSize(4, 4);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 4; ++x)
      image.SetPixel(x, y,
                     RGBColor(static_cast<uint8_t>(10 * x), static_cast<uint8_t>(10 * y), 100));
}

TEST(RendererPixels, TextureTrianglesMapTheSourceAffinely)
{
  vtrtest::RenderHost host(20, 20);
  TGRenderer& r = host.renderer;
  TGBitmap image;
  MakeTexture(image);
  // The whole image doubled onto (2, 2)-(10, 10) as two triangles sharing the diagonal.
  r.DrawTextureTriangle({{{0, 0}, {4, 0}, {4, 4}}}, {{{2, 2}, {10, 2}, {10, 10}}}, image);
  r.DrawTextureTriangle({{{0, 0}, {4, 4}, {0, 4}}}, {{{2, 2}, {10, 10}, {2, 10}}}, image);
  for (int32_t y = 2; y < 10; ++y)
    for (int32_t x = 2; x < 10; ++x)
      EXPECT_EQ(host.Pixel(x, y), image.GetPixel((x - 2) / 2, (y - 2) / 2)) << x << "," << y;
  EXPECT_EQ(host.InkOutside({2, 2, 10, 10}), 0);

  // Mirrored: source corners swapped left to right.
  r.Clear(clWhite);
  r.DrawTextureTriangle({{{4, 0}, {0, 0}, {0, 4}}}, {{{2, 2}, {10, 2}, {10, 10}}}, image);
  r.DrawTextureTriangle({{{4, 0}, {0, 4}, {4, 4}}}, {{{2, 2}, {10, 10}, {2, 10}}}, image);
  for (int32_t y = 2; y < 10; ++y)
    for (int32_t x = 2; x < 10; ++x)
      EXPECT_EQ(host.Pixel(x, y), image.GetPixel(3 - (x - 2) / 2, (y - 2) / 2)) << x << "," << y;
}

TEST(RendererPixels, TextureTrianglesHonourTransparencyAndAlphaAndMeetWithoutOverlap)
{
  vtrtest::RenderHost host(20, 20);
  TGRenderer& r = host.renderer;
  TGBitmap image;
  MakeTexture(image);
  image.SetTransparentColor(image.GetPixel(1, 1));
  image.SetAlphaBlend(128);
  // Two triangles sharing a slanted edge: a pixel drawn by both would be blended twice.
  r.DrawTextureTriangle({{{0, 0}, {4, 0}, {4, 4}}}, {{{0, 0}, {16, 0}, {16, 16}}}, image);
  r.DrawTextureTriangle({{{0, 0}, {4, 4}, {0, 4}}}, {{{0, 0}, {16, 16}, {0, 16}}}, image);
  for (int32_t y = 0; y < 16; ++y)
    for (int32_t x = 0; x < 16; ++x) {
      const TColor src = image.GetPixel(x / 4, y / 4);
      TColor expected = clWhite;
      if (!(x / 4 == 1 && y / 4 == 1)) ColorBlend(expected, src, 128);
      ASSERT_EQ(host.Pixel(x, y), expected) << x << "," << y;
    }
  EXPECT_EQ(host.InkOutside({0, 0, 16, 16}), 0);

  // Beyond the surface and degenerate: nothing, no fault.
  r.DrawTextureTriangle({{{0, 0}, {4, 0}, {4, 4}}}, {{{-50, -50}, {500, 3}, {4, 400}}}, image);
  r.DrawTextureTriangle({{{0, 0}, {4, 0}, {4, 4}}}, {{{1, 1}, {5, 5}, {9, 9}}}, image);
  TGBitmap empty;
  r.DrawTextureTriangle({{{0, 0}, {4, 0}, {4, 4}}}, {{{0, 0}, {16, 0}, {16, 16}}}, empty);
}

TEST(RendererPixels, TexturePositionsOutsideTheImageAreSkippedAndNegativeOnesClamped)
{
  vtrtest::RenderHost host(20, 20);
  TGRenderer& r = host.renderer;
  TGBitmap image;
  MakeTexture(image);
  // Source rows -4 .. 8 onto device rows 0 .. 12: rows above the image read row 0, rows below
  // it are left.
  r.DrawScanLine(5, 0, 4, 0, 4, -3, -3, image);
  for (int32_t x = 0; x < 4; ++x)
    EXPECT_EQ(host.Pixel(x, 5), image.GetPixel(x, 0));
  r.DrawScanLine(6, 0, 8, 0, 8, 1, 1, image);
  for (int32_t x = 0; x < 4; ++x)
    EXPECT_EQ(host.Pixel(x, 6), image.GetPixel(x, 1));
  for (int32_t x = 4; x < 8; ++x)
    EXPECT_EQ(host.Pixel(x, 6), clWhite) << x;
  // Running backwards from beyond the image: the first pixels are skipped.
  r.DrawScanLine(8, 0, 8, 7.5, -0.5, 2, 2, image);
  for (int32_t x = 0; x < 4; ++x)
    EXPECT_EQ(host.Pixel(x, 8), clWhite) << x;
  for (int32_t x = 4; x < 8; ++x)
    EXPECT_EQ(host.Pixel(x, 8), image.GetPixel(7 - x, 2)) << x;
  // Standing beyond the image: nothing.
  r.DrawScanLine(9, 0, 8, 0, 8, 4, 4, image);
  EXPECT_EQ(host.Count(clWhite, {0, 9, 20, 10}), 20);
  r.DrawScanLine(-1, 0, 8, 0, 8, 1, 1, image); // off the surface
  r.DrawScanLine(7, -10, 30, 0, 1, 0, 0, image);
  EXPECT_EQ(host.Pixel(0, 7), image.GetPixel(0, 0));
}

// ---------------------------------------------------------------------------------------------
// Surfaces

TEST(RendererSurfaces, WithoutDoubleBufferingItDrawsOnTheControlCanvas)
{
  vtrtest::RenderHost host(20, 20);
  TGRenderer& r = host.renderer;
  QImage control(20, 20, QImage::Format_RGB32);
  control.fill(Qt::white);
  TGBrush brush;
  brush.Define(clRed, clRed, gbsSolid);
  r.SetDoubleBuffer(false);
  r.SetBrush(brush);
  r.DrawRectangle({0, 0, 10, 10}); // no control painter outside painting: nothing, no fault
  {
    QPainter painter(&control);
    host.controlCanvas = &painter;
    r.RefreshDC();
    r.DrawRectangle({0, 0, 10, 10});
    r.DrawPixel(15, 15, clBlue, 255);
    host.controlCanvas = nullptr;
  }
  EXPECT_EQ(control.pixel(4, 4), qRgb(255, 0, 0));
  EXPECT_EQ(control.pixel(15, 15), qRgb(0, 0, 255));
  EXPECT_EQ(host.Count(clWhite), 400); // the back buffer is untouched

  // A foreign painter (printing, pictures) takes precedence.
  r.SetDoubleBuffer(true);
  QImage foreign(20, 20, QImage::Format_RGB32);
  foreign.fill(Qt::white);
  {
    QPainter painter(&foreign);
    host.renderer.SetTargetCanvas(&painter);
    r.DrawRectangle({0, 0, 10, 10});
    host.renderer.SetTargetCanvas(nullptr);
  }
  EXPECT_EQ(foreign.pixel(4, 4), qRgb(255, 0, 0));
  EXPECT_EQ(host.Count(clWhite), 400);
  r.DrawRectangle({0, 0, 10, 10});
  EXPECT_EQ(host.Pixel(4, 4), clRed);

  // The back buffer copied out.
  QImage out(30, 30, QImage::Format_RGB32);
  out.fill(Qt::black);
  {
    QPainter painter(&out);
    host.renderer.CopyBackBuffer(painter, 5, 5);
  }
  EXPECT_EQ(out.pixel(9, 9), qRgb(255, 0, 0));
  EXPECT_EQ(out.pixel(24, 24), qRgb(255, 255, 255));
  EXPECT_EQ(out.pixel(2, 2), qRgb(0, 0, 0));
}

TEST(RendererSurfaces, SetSizeResizesTheBackBufferAndClearResetsTheAttributes)
{
  vtrtest::RenderHost host(20, 20);
  TGDefaultRenderer& r = host.renderer;
  vtrtest::LendPen(r, clRed, gpsDash, 3, guPixel);
  r.SetAlphaBlend(100);
  r.SetSize(33, 17);
  EXPECT_EQ(r.Width(), 33);
  EXPECT_EQ(r.Height(), 17);
  EXPECT_EQ(r.BackBuffer().Width(), 33);
  EXPECT_EQ(r.BackBuffer().Height(), 17);
  r.Clear(clBlue);
  EXPECT_EQ(host.Count(clBlue), 33 * 17);
  EXPECT_EQ(r.Pen().Color(), clBlack);
  EXPECT_EQ(r.Pen().Width(), 1);
  EXPECT_EQ(r.AlphaBlend(), 255);
  EXPECT_EQ(r.State(), 0);
  r.SetSize(-5, 10);
  EXPECT_EQ(r.Width(), 0);
  EXPECT_TRUE(r.BackBuffer().Empty());
  r.DrawRectangle({0, 0, 5, 5}); // nothing to draw on: no fault
}

TEST(RendererSurfaces, AlphaBlendMakesWhatIsDrawnTranslucent)
{
  vtrtest::RenderHost host(20, 20);
  TGRenderer& r = host.renderer;
  vtrtest::LendPen(r, clBlack, gpsClear);
  vtrtest::LendBrush(r, clBlack, clBlack);
  r.SetAlphaBlend(128);
  r.DrawRectangle({0, 0, 11, 11});
  const TColor c = host.Pixel(5, 5);
  EXPECT_NEAR(c & 0xFF, 127, 2);
  r.SetAlphaBlend(255);
  r.DrawRectangle({0, 0, 11, 11});
  EXPECT_EQ(host.Pixel(5, 5), clBlack);
}

TEST(RendererSurfaces, TriangleIsVisibleWhenItsCornersProjectAndItMeetsTheView)
{
  vtrtest::RenderHost host(64, 64); // Cartesian, 1 pixel per degree, (0, 0) at the centre
  TGRenderer& r = host.renderer;
  auto ll = [](double lon, double lat) { return DDToPointLL(lon, lat); };
  EXPECT_TRUE(r.TriangleLLVisible(ll(0, 0), ll(10, 0), ll(0, 10)));
  EXPECT_TRUE(r.TriangleLLVisible(ll(-100, 0), ll(100, 0), ll(0, 10)));   // straddles the view
  EXPECT_FALSE(r.TriangleLLVisible(ll(100, 0), ll(120, 0), ll(110, 10))); // right of the view
  host.projector.SetProjectionClass("TGSphericalPrj");
  host.projector.SetScaleFactor(0);
  EXPECT_TRUE(r.TriangleLLVisible(ll(0, 0), ll(10, 0), ll(0, 10)));
  EXPECT_FALSE(r.TriangleLLVisible(ll(170, 0), ll(175, 0), ll(170, 5))); // far side
  TGDefaultRenderer hostless;
  EXPECT_FALSE(hostless.TriangleLLVisible(ll(0, 0), ll(10, 0), ll(0, 10)));
}

} // namespace
} // namespace vtr
