// Engine bitmap: size rules, pixel layout and colour order, blending, transparency, assignment,
// loading through Qt's image reader, the canvas, and the operations that are not there.
#include "globe/GBitmap.h"

#include <QFile>
#include <QPicture>
#include <QTemporaryDir>

#include "GlobeTestSupport.h"

#include <gtest/gtest.h>

#include <functional>

namespace vtr {
namespace {

using vtrtest::ErrorText;

TEST(Bitmap, SizeRules)
{
  TGBitmap b;
  EXPECT_EQ(b.Width(), 0);
  EXPECT_TRUE(b.Empty());
  EXPECT_EQ(b.Bits(), nullptr);
  EXPECT_GT(b.PixelsPerInch(), 0);

  EXPECT_TRUE(b.SetSize(-5, 10));
  EXPECT_EQ(b.Width(), 0);
  EXPECT_EQ(b.Height(), 10);
  EXPECT_TRUE(b.Empty());
  EXPECT_EQ(b.Bits(), nullptr);
  EXPECT_EQ(b.Canvas(), nullptr);

  b.SetWidth(4);
  EXPECT_FALSE(b.Empty());
  EXPECT_EQ(b.BoundsRect(), (TGRect{0, 0, 4, 10}));
  EXPECT_FALSE(b.SetSize(4, 10));
  b.SetPixel(1, 1, clWhite);
  b.SetHeight(3); // a new size discards the picture
  EXPECT_EQ(b.GetPixel(1, 1), clBlack);

  EXPECT_EQ(ErrorText([&] { b.SetSize(100'000, 100'000); }), "Failed to allocate DIB Handle");
  EXPECT_TRUE(b.Empty());
}

TEST(Bitmap, PixelLayoutAndColourOrder)
{
  TGBitmap b;
  b.SetSize(3, 2);
  const TColor red = RGBColor(255, 0, 0);
  b.SetPixel(0, 0, red);
  EXPECT_EQ(b.GetPixel(0, 0), red);
  b.SetPixel(2, 1, RGBColor(0x12, 0x34, 0x56));
  // Element X + Y * Width, blue in the low byte, 255 in the fourth.
  EXPECT_EQ(b.Bits()[0], 0xFFFF0000u);
  EXPECT_EQ(b.Bits()[2 + 1 * 3], 0xFF123456u);
  EXPECT_EQ(b.Image().pixel(2, 1), 0xFF123456u);
  b.Clear(clBlue);
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(b.Bits()[i], 0xFF0000FFu);
  EXPECT_EQ(PixelToColor(ColorToPixel(0x00ABCDEF)), 0x00ABCDEF);
}

TEST(Bitmap, SetPixelABlends)
{
  TGBitmap b;
  b.SetSize(2, 1);
  struct Case
  {
    const char* name;
    int32_t x;
    uint8_t alpha;
    TColor under, color, want;
  };
  const Case cases[] = {
      {"opaque writes exactly", 0, 255, RGBColor(10, 20, 30), RGBColor(200, 100, 50),
       RGBColor(200, 100, 50)},
      {"alpha 0 keeps the pixel up to the division", 0, 0, RGBColor(255, 128, 0), RGBColor(9, 9, 9),
       RGBColor(254, 127, 0)},
      {"half", 0, 128, RGBColor(0, 0, 0), RGBColor(255, 255, 255), RGBColor(127, 127, 127)},
      {"outside on the left", -1, 255, RGBColor(1, 2, 3), RGBColor(9, 9, 9), RGBColor(1, 2, 3)},
      {"outside on the right", 2, 255, RGBColor(1, 2, 3), RGBColor(9, 9, 9), RGBColor(1, 2, 3)},
  };
  for (const auto& c : cases) {
    b.SetPixel(0, 0, c.under);
    b.SetPixel(1, 0, c.under);
    b.SetPixelA(c.x, 0, c.alpha, c.color);
    EXPECT_EQ(b.GetPixel(c.x < 0 ? 0 : std::min(c.x, 1), 0), c.want) << c.name;
  }
  TGBitmap empty;
  empty.SetPixelA(0, 0, 255, clWhite); // nothing to do, no fault
}

TEST(Bitmap, TransparencyAndAlpha)
{
  TGBitmap b;
  EXPECT_FALSE(b.Transparent());
  EXPECT_EQ(b.TransparentColor(), clNone);
  EXPECT_EQ(b.AlphaBlend(), 255);
  b.SetTransparentColor(clWhite);
  EXPECT_TRUE(b.Transparent());
  b.SetTransparentColor(clNone);
  EXPECT_FALSE(b.Transparent());
  b.SetAlphaBlend(254);
  EXPECT_EQ(b.AlphaBlend(), 254);
}

TEST(Bitmap, AssignCopiesPixelsButNotAlphaOrTransparency)
{
  TGBitmap src;
  src.SetSize(2, 2);
  src.SetPixel(1, 1, RGBColor(1, 2, 3));
  src.SetTransparentColor(clWhite);
  src.SetAlphaBlend(7);

  TGBitmap dst;
  dst.Assign(&src);
  EXPECT_EQ(dst.Width(), 2);
  EXPECT_EQ(dst.GetPixel(1, 1), RGBColor(1, 2, 3));
  EXPECT_FALSE(dst.Transparent());
  EXPECT_EQ(dst.AlphaBlend(), 255);
  dst.SetPixel(1, 1, clBlack);
  EXPECT_EQ(src.GetPixel(1, 1), RGBColor(1, 2, 3)); // a copy

  QImage argb(3, 1, QImage::Format_ARGB32);
  argb.setPixel(0, 0, qRgba(10, 20, 30, 0));
  dst.Assign(argb);
  EXPECT_EQ(dst.Width(), 3);
  EXPECT_EQ(dst.GetPixel(0, 0), RGBColor(10, 20, 30));
  EXPECT_EQ(dst.Bits()[0] >> 24, 255u);

  QPicture picture;
  {
    QPainter p(&picture);
    p.fillRect(QRect(0, 0, 4, 3), QColor(0, 255, 0));
  }
  dst.Assign(picture);
  EXPECT_EQ(dst.Width(), 4);
  EXPECT_EQ(dst.Height(), 3);
  EXPECT_EQ(dst.GetPixel(3, 2), RGBColor(0, 255, 0));

  dst.Assign(static_cast<const TGBitmap*>(nullptr));
  EXPECT_EQ(dst.Width(), 0);
  EXPECT_EQ(dst.Height(), 0);
}

TEST(Bitmap, LoadFromFileReadsBmpAndJpegAndKeepsThePictureOtherwise)
{
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QImage img(5, 4, QImage::Format_RGB32);
  img.fill(QColor(200, 40, 10));
  const QString bmp = dir.filePath("a.bmp");
  const QString jpg = dir.filePath("a.jpg");
  ASSERT_TRUE(img.save(bmp, "BMP"));
  ASSERT_TRUE(img.save(jpg, "JPEG", 95));

  TGBitmap b;
  b.LoadFromFile(bmp.toStdString());
  EXPECT_EQ(b.Width(), 5);
  EXPECT_EQ(b.Height(), 4);
  EXPECT_EQ(b.GetPixel(4, 3), RGBColor(200, 40, 10));

  TGBitmap j;
  j.LoadFromFile(jpg.toStdString());
  ASSERT_EQ(j.Width(), 5);
  const TColor c = j.GetPixel(2, 2);
  EXPECT_NEAR(c & 0xFF, 200, 8); // lossy
  EXPECT_NEAR((c >> 8) & 0xFF, 40, 8);

  b.LoadFromFile(dir.filePath("missing.bmp").toStdString());
  EXPECT_EQ(b.Width(), 5);
  EXPECT_EQ(b.GetPixel(0, 0), RGBColor(200, 40, 10));

  const QString junk = dir.filePath("junk.bmp");
  {
    QFile f(junk);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("BM this is not a picture");
  }
  const std::string msg = ErrorText([&] { b.LoadFromFile(junk.toStdString()); });
  EXPECT_EQ(msg.rfind("TGBitmap.LoadFromFile: cannot read " + junk.toStdString(), 0), 0u) << msg;
  EXPECT_EQ(b.Width(), 5); // unchanged
  EXPECT_EQ(b.GetPixel(0, 0), RGBColor(200, 40, 10));
}

TEST(Bitmap, CanvasDrawsIntoThePixelsAndDrawStretches)
{
  TGBitmap b;
  b.SetSize(4, 4);
  QPainter* canvas = b.Canvas();
  ASSERT_NE(canvas, nullptr);
  EXPECT_EQ(b.Canvas(), canvas); // created once
  canvas->fillRect(QRect(0, 0, 2, 4), QColor(255, 0, 0));
  EXPECT_EQ(b.GetPixel(1, 3), RGBColor(255, 0, 0));
  EXPECT_EQ(b.GetPixel(2, 0), clBlack);
  b.SetPixel(3, 3, clWhite); // direct writes and the canvas share the pixels
  canvas->fillRect(QRect(3, 0, 1, 1), QColor(0, 0, 255));
  EXPECT_EQ(b.GetPixel(3, 3), clWhite);
  EXPECT_EQ(b.GetPixel(3, 0), RGBColor(0, 0, 255));

  QImage target(8, 8, QImage::Format_RGB32);
  target.fill(Qt::black);
  {
    QPainter p(&target);
    b.Draw(p, QRect(0, 0, 8, 8));
  }
  EXPECT_EQ(target.pixel(1, 7), qRgb(255, 0, 0));
  EXPECT_EQ(target.pixel(7, 7), qRgb(255, 255, 255));

  b.SetSize(0, 0); // the canvas goes with the picture
  EXPECT_EQ(b.Canvas(), nullptr);
}

TEST(Bitmap, UnsupportedOperationsSaySo)
{
  TGBitmap b;
  TGMemoryStream s;
  struct Case
  {
    std::function<void()> call;
    const char* want;
  };
  const Case cases[] = {
      {[&] { b.LoadFromStream(s); }, "TGBitmap.LoadFromStream: Not implemented"},
      {[&] { b.SaveToStream(s); }, "TGBitmap.SaveToStream: Not implemented"},
      {[&] { b.SaveToFile("x.bmp"); }, "TGBitmap.SaveToFile: Not implemented"},
      {[&] { b.LoadFromClipboardFormat(); }, "TGBitmap.LoadFromClipboardFormat: Not implemented"},
      {[&] { b.SaveToClipboardFormat(); }, "TGBitmap.SaveToClipboardFormat: Not implemented"},
  };
  for (const auto& c : cases) {
    try {
      c.call();
      ADD_FAILURE() << c.want;
    } catch (const EGException& e) {
      EXPECT_STREQ(e.what(), c.want);
    }
  }
}

} // namespace
} // namespace vtr
