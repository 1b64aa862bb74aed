// The LCD read back as text, driven through the controllers' own nibble
// protocol the way firmware writes characters.
#include "frontpanel/lcd_text.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "devices/lcd.h"

namespace tarvo {
namespace {

constexpr uint8_t kCommandMode = 0x87;  // enabled, both chips, command nibbles
constexpr uint8_t kDataMode = 0x86;

int glyphOf(int code) {
  return ((code & 0x0F) << 4) | (code >> 4);
}

// A few recognisable glyphs: every character gets its code as dot pattern
// in the first column, so all of them differ and none is blank.
struct TextLcd : ::testing::Test {
  Lcd lcd;
  std::array<uint8_t, 2048> image{};

  void SetUp() override {
    for (int code : {'A', 'B', 'Z', '0', '9', '+', '_'}) {
      uint8_t* g = &image[glyphOf(code) * 8];
      g[0] = static_cast<uint8_t>(code);
      g[2] = 0x7E;
    }
    lcd.loadCharset(image.data());
  }

  void command(std::initializer_list<uint8_t> nibbles) {
    lcd.control = kCommandMode;
    lcd.startFrame();
    for (uint8_t n : nibbles) lcd.nibbleTransfer(n);
  }
  // Display on, character width, then text written from dot column 0 of a
  // band of one controller.
  void setup(int width) {
    command({4, 1});
    command({8, static_cast<uint8_t>(8 - width)});
  }
  void write(int controller, int band, const std::string& text, int cellStart = 0, int width = 6) {
    const int nibble = cellStart * width * 2;
    const int half = nibble >= 96 ? 1 : 0;
    const int v = nibble - 96 * half;
    command({3, static_cast<uint8_t>(controller | (4 << 1)), static_cast<uint8_t>(v & 15),
             static_cast<uint8_t>((v >> 4) | (half << 3)), static_cast<uint8_t>(band)});
    lcd.control = kDataMode;
    lcd.startFrame();
    for (char ch : text) lcd.byteTransfer(static_cast<uint8_t>(ch));
  }
};

TEST_F(TextLcd, CharactersOfBothControllersFormOneRowOf32) {
  setup(6);
  write(0, 0, "AB");
  write(1, 0, "Z9", 14);  // the last two cells of the row
  write(0, 3, "0+0");
  lcd.composeFrame();
  EXPECT_EQ(lcdTextColumns(lcd), 32);
  const auto lines = lcdTextLines(lcd);
  EXPECT_EQ(lines[0], "AB" + std::string(28, ' ') + "Z9");
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], "");
  EXPECT_EQ(lines[3], "0+0");
  EXPECT_EQ(lcdText(lcd), lines[0] + "\n\n\n0+0");
}

TEST_F(TextLcd, CellsFollowTheCharacterWidth) {
  setup(8);
  write(0, 1, "ABAB", 0, 8);
  write(1, 1, "B", 11, 8);
  lcd.composeFrame();
  EXPECT_EQ(lcdTextColumns(lcd), 24);
  EXPECT_EQ(lcdTextLines(lcd)[1], "ABAB" + std::string(19, ' ') + "B");

  // Width 5: 19 cells per controller, the last dot column of each unused.
  lcd = Lcd{};
  lcd.loadCharset(image.data());
  setup(5);
  write(0, 2, "Z", 18, 5);
  write(1, 2, "A", 0, 5);
  lcd.composeFrame();
  EXPECT_EQ(lcdTextColumns(lcd), 38);
  EXPECT_EQ(lcdTextLines(lcd)[2], std::string(18, ' ') + "ZA");
}

TEST_F(TextLcd, UnknownPicturesAndNonPrintableCodesReadAsQuestionMarks) {
  // A glyph outside printable ASCII, and a dot column that is no glyph.
  image[glyphOf(0x85) * 8] = 0x55;
  lcd.loadCharset(image.data());
  setup(6);
  write(0, 0,
        "A\x85"
        "B");
  command({2, 4 << 1, 0, 0, 0});  // raw dot column at the start of band 0, cell 4
  lcd.control = kDataMode;
  lcd.startFrame();
  lcd.address = 4 * 12;
  lcd.byteTransfer(0x81);
  lcd.composeFrame();
  const auto codes = lcdCharacterCodes(lcd);
  EXPECT_EQ(codes[0][0], 'A');
  EXPECT_EQ(codes[0][1], 0x85);
  EXPECT_EQ(codes[0][2], 'B');
  EXPECT_EQ(codes[0][3], 0x20);
  EXPECT_EQ(codes[0][4], -1);
  EXPECT_EQ(lcdTextLines(lcd)[0], "A?B ?");
}

TEST_F(TextLcd, SharedPicturePrefersThePrintableCharacter) {
  // Code 0x01 looks exactly like 'A'.
  for (int j = 0; j < 8; ++j) image[glyphOf(0x01) * 8 + j] = image[glyphOf('A') * 8 + j];
  lcd.loadCharset(image.data());
  setup(6);
  write(0, 0, "\x01");
  lcd.composeFrame();
  EXPECT_EQ(lcdCharacterCodes(lcd)[0][0], 'A');
}

TEST_F(TextLcd, ReadsTheComposedFrameWithTheCursorOverlay) {
  setup(6);
  write(0, 0, "AB");
  // Cursor of controller 0 at cell 2 of band 0, pattern from the glyph of
  // '_', ORed over the frame.
  command({14, 0, 24 & 15, 24 >> 4, 0});
  command({7, 0, 24 & 15});
  lcd.control = kDataMode;
  lcd.startFrame();
  lcd.byteTransfer('_');
  command({9, 1 | (5 << 1)});
  lcd.composeFrame();
  EXPECT_EQ(lcdTextLines(lcd)[0], "AB_");

  // Disabled controllers show nothing, although the frame still holds it.
  lcd.control = 0x06;
  EXPECT_EQ(lcdText(lcd), "\n\n\n");
  lcd.control = kDataMode;
  EXPECT_EQ(lcdTextLines(lcd)[0], "AB_");

  // A display switched off composes to a blank frame: blank lines.
  command({4, 0});
  lcd.composeFrame();
  for (const std::string& line : lcdTextLines(lcd)) EXPECT_EQ(line, "");
}

}  // namespace
}  // namespace tarvo
