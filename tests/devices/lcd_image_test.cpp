#include "frontpanel/lcd_image.h"

#include <gtest/gtest.h>

#include <cstring>

namespace tarvo {
namespace {

constexpr uint32_t kBlack = LcdImage::kDarkDot;
constexpr uint32_t kWhite = LcdImage::kDotOff;
constexpr uint32_t kGrey = LcdImage::kDisabled;

// Every pixel of the image equals colour, except those in the rectangle.
bool uniformOutside(const LcdImage& image, uint32_t colour, LcdImage::Rect except = {}) {
  for (int y = 0; y < LcdImage::kHeight; ++y) {
    for (int x = 0; x < LcdImage::kWidth; ++x) {
      const bool inside = x >= except.x && x < except.x + except.width && y >= except.y &&
                          y < except.y + except.height;
      if (!inside && image.pixel(x, y) != colour) return false;
    }
  }
  return true;
}

// Both pixels of a dot's 2 x 2 square.
uint32_t dot(const LcdImage& image, int x, int y) {
  const uint32_t c = image.pixel(2 * x, 2 * y);
  EXPECT_EQ(image.pixel(2 * x + 1, 2 * y + 1), c) << x << "," << y;
  return c;
}

TEST(LcdImageTest, ShownImageIsGreyAndFirstRenderRepaints) {
  Lcd lcd;
  LcdImage image;
  image.initialise(lcd.control);
  EXPECT_EQ(image.rememberedControl, 0xFF);
  EXPECT_TRUE(uniformOutside(image, kGrey));
  image.changed = 0;

  lcd.frame[0][0] = 0xF;  // ignored while the controllers are off
  image.render(lcd);
  EXPECT_EQ(image.changed, 1);
  EXPECT_EQ(image.rememberedControl, 0);
  EXPECT_TRUE(uniformOutside(image, kGrey));
  EXPECT_EQ(image.lastChange.width, LcdImage::kWidth);

  image.changed = 0;
  image.render(lcd);
  EXPECT_EQ(image.changed, 0);
  EXPECT_TRUE(image.lastChange.empty());

  // Shown again with nothing to redraw: the whole image is still pending.
  image.initialise(lcd.control);
  image.rememberedControl = lcd.control;
  image.render(lcd);
  EXPECT_EQ(image.changed, 1);
  EXPECT_EQ(image.lastChange.width, LcdImage::kWidth);
  EXPECT_EQ(image.lastChange.height, LcdImage::kHeight);
}

TEST(LcdImageTest, DotsLandWhereTheDisplayMemoryLayoutPutsThem) {
  Lcd lcd;
  lcd.control = 0x86;
  // Column 5 of band 1 on controller 1 shows the byte 0x81 (top and bottom
  // dot), written through the nibble interface.
  lcd.control |= 1;
  lcd.startFrame();
  for (uint8_t n : {2, 1 | 4 << 1, 10, 0, 1}) lcd.nibbleTransfer(n);
  lcd.control &= 0xFE;
  lcd.startFrame();
  lcd.byteTransfer(0x81);
  lcd.control |= 1;
  lcd.startFrame();
  for (uint8_t n : {4, 1}) lcd.nibbleTransfer(n);  // display on
  lcd.composeFrame();

  LcdImage image;
  image.initialise(0);
  image.render(lcd);
  EXPECT_EQ(dot(image, 96 + 5, 8), kBlack);
  EXPECT_EQ(dot(image, 96 + 5, 15), kBlack);
  for (int y = 9; y < 15; ++y) EXPECT_EQ(dot(image, 96 + 5, y), kWhite) << y;
  EXPECT_TRUE(uniformOutside(image, kWhite, {2 * 101, 16, 2, 16}));
}

TEST(LcdImageTest, OnlyChangedNibblesAreRedrawnAndReported) {
  Lcd lcd;
  lcd.control = 0x80;
  LcdImage image;
  image.initialise(lcd.control);
  image.render(lcd);
  image.changed = 0;

  lcd.frame[0][192 * 3 + 2 * 40 + 1] = 0x2;  // band 3, column 40, lower half
  lcd.frame[1][0] = 0x8;                     // top-left dot of controller 1
  image.render(lcd);
  EXPECT_EQ(image.changed, 1);
  EXPECT_EQ(dot(image, 40, 24 + 4 + 2), kBlack);
  EXPECT_EQ(dot(image, 96, 0), kBlack);
  const LcdImage::Rect r = image.lastChange;
  EXPECT_EQ(r.x, 80);
  EXPECT_EQ(r.y, 0);
  EXPECT_EQ(r.x + r.width, 194);
  EXPECT_EQ(r.y + r.height, 64);

  // Until the window clears the flag, the rectangle only grows.
  image.render(lcd);
  EXPECT_EQ(image.lastChange.x, 80);
  EXPECT_EQ(image.lastChange.x + image.lastChange.width, 194);

  // Pixels outside the frame's nibbles are left as they were.
  image.changed = 0;
  image.pixels[0] = 0x123456;
  lcd.frame[1][0] = 0x0;
  image.render(lcd);
  EXPECT_EQ(image.pixel(0, 0), 0x123456u);
  EXPECT_EQ(dot(image, 96, 0), kWhite);
  EXPECT_EQ(image.lastChange.x, 192);
  EXPECT_EQ(image.lastChange.width, 2);
  EXPECT_EQ(image.lastChange.height, 8);
}

TEST(LcdImageTest, ControlByteChangeRepaintsEveryLitDot) {
  Lcd lcd;
  lcd.control = 0x80;
  std::memset(lcd.frame, 0, sizeof lcd.frame);
  lcd.frame[0][4] = 0x1;  // column 2, upper half, bottom dot (row 3)
  LcdImage image;
  image.initialise(lcd.control);
  image.render(lcd);
  ASSERT_EQ(dot(image, 2, 3), kBlack);

  lcd.control = 0x00;
  image.render(lcd);
  EXPECT_TRUE(uniformOutside(image, kGrey));

  // Back on: white, and the dot again although the frame did not change.
  lcd.control = 0x80;
  image.render(lcd);
  EXPECT_EQ(dot(image, 2, 3), kBlack);
  EXPECT_TRUE(uniformOutside(image, kWhite, {4, 0, 2, 8}));

  // Another enabled control byte (pulse on) also starts from white.
  image.pixels[0] = 0x123456;
  lcd.control = 0xC0;
  image.render(lcd);
  EXPECT_EQ(image.pixel(0, 0), kWhite);
  EXPECT_EQ(dot(image, 2, 3), kBlack);
}

}  // namespace
}  // namespace tarvo
