#include "devices/lcd.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>

namespace tarvo {
namespace {

class LcdTest : public ::testing::Test {
 protected:
  Lcd lcd;

  void SetUp() override { lcd.control = 0x86; }  // enabled, both chips, data mode

  // One command frame, as a transfer instruction sends it.
  void command(std::initializer_list<uint8_t> nibbles) {
    lcd.control |= 0x01;
    lcd.startFrame();
    for (uint8_t n : nibbles) lcd.nibbleTransfer(n);
    lcd.control &= 0xFE;
  }
  // Command code, controller and mode, then a five-nibble address.
  void seek(uint8_t code, unsigned ctl, unsigned mode, unsigned band, unsigned column) {
    command({code, static_cast<uint8_t>(ctl | mode << 1), static_cast<uint8_t>(column & 15),
             static_cast<uint8_t>((column >> 4) & 7), static_cast<uint8_t>(band)});
  }
  void send(std::initializer_list<uint8_t> bytes) {
    lcd.startFrame();
    for (uint8_t b : bytes) lcd.byteTransfer(b);
  }
  uint8_t receive() {
    lcd.startFrame();
    return lcd.byteTransfer(0);
  }
};

TEST(LcdCombineTest, EveryModeMergesAsItsTableSays) {
  const uint8_t t = 0xC, c = 0xA;
  const uint8_t expected[8] = {0x2, 0x6, 0x0, 0x4, 0xA, 0xE, 0x0, 0xC};
  for (unsigned mode = 0; mode < 8; ++mode) {
    EXPECT_EQ(lcdCombine(t, c, mode), expected[mode]) << "mode " << mode;
  }
}

TEST_F(LcdTest, DisabledPairResetsOnEveryTransferInBothModes) {
  for (uint8_t mode : {0x06, 0x07}) {
    std::memset(lcd.memory, 5, sizeof lcd.memory);
    lcd.displayOn = 1;
    lcd.pulsePeriod = 4;
    lcd.address = 99;
    lcd.control = mode;  // bit 7 clear
    EXPECT_EQ(lcd.nibbleTransfer(0x3), 0x0F);
    EXPECT_EQ(lcd.memory[0][0], 0);
    EXPECT_EQ(lcd.memory[1][767], 0);
    EXPECT_EQ(lcd.displayOn, 0);
    EXPECT_EQ(lcd.pulsePeriod, 8192);
    EXPECT_EQ(lcd.address, 0u);
    EXPECT_EQ(lcd.control, mode);  // the control byte survives
  }
}

TEST_F(LcdTest, NoChipEnabledChangesNothing) {
  seek(2, 0, 4, 0, 0);
  lcd.control = 0x80;
  lcd.startFrame();
  EXPECT_EQ(lcd.byteTransfer(0xFF), 0xFF);
  lcd.control = 0x81;
  lcd.nibbleTransfer(4);
  EXPECT_EQ(lcd.memory[0][0], 0);
  EXPECT_EQ(lcd.memory[0][1], 0);
  EXPECT_EQ(lcd.address, 0u);
  EXPECT_EQ(lcd.command[0], 2);
}

TEST_F(LcdTest, AddressFrameFoldsColumnsAbove95ButCursorDoesNot) {
  command({1, 0, 0x0, 0x6, 0x0});
  EXPECT_EQ(lcd.address, 64u);
  command({1, 0, 0x0, 0xE, 0x0});
  EXPECT_EQ(lcd.address, 160u);
  command({3, 0, 0x5, 0x2, 0x3});
  EXPECT_EQ(lcd.address, 37u + 576u);

  command({14, 1, 0x0, 0xE, 0x2});
  EXPECT_EQ(lcd.cursor[1].x, 96u);
  EXPECT_EQ(lcd.cursor[1].halfOffset, 96u);
  EXPECT_EQ(lcd.cursor[1].bandOffset, 384u);
  EXPECT_EQ(lcd.cursor[0].x, 0u);
}

TEST_F(LcdTest, ByteWrittenAsColumnReadsBackWithNibblesExchanged) {
  seek(2, 1, 4, 2, 10);  // controller 1, band 2, column 5
  send({0xB4});
  // Upper dots (bits 7-4) in half 0, lower dots in half 1.
  EXPECT_EQ(lcd.memory[1][384 + 10], 0xB);
  EXPECT_EQ(lcd.memory[1][384 + 11], 0x4);
  EXPECT_EQ(lcd.memory[0][384 + 10], 0);

  seek(1, 1, 7, 2, 10);
  EXPECT_EQ(receive(), 0x4B);
  EXPECT_EQ(lcd.address, 384u + 12u);

  // A read in any mode but 7 answers nothing but still advances.
  seek(1, 1, 4, 2, 10);
  EXPECT_EQ(receive(), 0xFF);
  EXPECT_EQ(lcd.address, 384u + 12u);
}

TEST_F(LcdTest, WritesCombineWithTheTarget) {
  seek(2, 0, 4, 0, 0);
  send({0xF0});
  seek(2, 0, 1, 0, 0);  // XOR
  send({0x3C});
  EXPECT_EQ(lcd.memory[0][0], 0xC);
  EXPECT_EQ(lcd.memory[0][1], 0xC);
  seek(2, 0, 3, 0, 0);  // AND NOT
  send({0xFF});
  EXPECT_EQ(lcd.memory[0][0], 0);
}

TEST_F(LcdTest, DataWritesWrapWithinTheController) {
  lcd.address = 767;
  command({2, 4 << 1});  // no address nibbles: the counter carries over
  EXPECT_EQ(lcd.address, 767u);
  send({0x21, 0x43});
  // Nibble 767 goes to 766 (halves exchanged), then 768 wraps to 0 -> 1.
  EXPECT_EQ(lcd.memory[0][766], 0x1);
  EXPECT_EQ(lcd.memory[0][1], 0x2);
  EXPECT_EQ(lcd.memory[0][0], 0x3);
  EXPECT_EQ(lcd.memory[1][0], 0);
  EXPECT_EQ(lcd.address, 3u);
}

TEST_F(LcdTest, CharacterUsesExchangedNibblesAndTheCharacterWidth) {
  for (int j = 0; j < 16; ++j) lcd.glyphs[0x52 * 16 + j] = static_cast<uint8_t>(j);
  command({8, 3});  // width 5
  EXPECT_EQ(lcd.charWidth, 5);
  seek(3, 0, 4, 1, 4);
  send({0x25});  // byte 0x25 selects glyph 0x52
  for (int j = 0; j < 10; ++j) EXPECT_EQ(lcd.memory[0][192 + 4 + j], j) << j;
  EXPECT_EQ(lcd.memory[0][192 + 14], 0);
  EXPECT_EQ(lcd.address, 192u + 14u);

  // A second character in the same transfer follows on directly.
  send({0x25, 0x25});
  EXPECT_EQ(lcd.memory[0][192 + 24], 0);
  EXPECT_EQ(lcd.memory[0][192 + 34], 0);
  EXPECT_EQ(lcd.address, 192u + 34u);
  EXPECT_EQ(lcd.memory[0][192 + 25], 1);
}

TEST_F(LcdTest, SeventhNibbleIsNotStoredButStillClearsTheCounter) {
  command({6, 1, 9, 1, 2, 3, 7, 8});
  EXPECT_EQ(lcd.nibbleCount, 6u);
  EXPECT_EQ(lcd.cursor[1].start, 9u);
  EXPECT_EQ(lcd.command[5], 3);

  lcd.address = 40;
  lcd.control |= 1;
  lcd.nibbleTransfer(5);  // an eighth nibble, count stays 6
  EXPECT_EQ(lcd.address, 0u);
  EXPECT_EQ(lcd.command[5], 3);
}

TEST_F(LcdTest, CursorPatternsAndUserGlyphs) {
  command({6, 1});
  send({0xA5, 0x0F});
  EXPECT_EQ(lcd.cursor[1].pattern[0], 0xA);
  EXPECT_EQ(lcd.cursor[1].pattern[1], 0x5);
  EXPECT_EQ(lcd.cursor[1].pattern[2], 0x0);
  EXPECT_EQ(lcd.cursor[1].pattern[3], 0xF);

  command({11, 0, 2});  // glyph 0xFE
  send({0x81, 0x7E});
  EXPECT_EQ(lcd.glyphs[0xFE * 16 + 0], 0x8);
  EXPECT_EQ(lcd.glyphs[0xFE * 16 + 1], 0x1);
  EXPECT_EQ(lcd.glyphs[0xFE * 16 + 2], 0x7);
  EXPECT_EQ(lcd.glyphs[0xFE * 16 + 3], 0xE);

  command({7, 0});
  send({0xEF});  // glyph 0xFE
  EXPECT_EQ(0, std::memcmp(lcd.cursor[0].pattern, &lcd.glyphs[0xFE * 16], 16));

  lcd.reset();
  EXPECT_EQ(lcd.glyphs[0xFE * 16 + 0], 0x8);
  EXPECT_EQ(lcd.cursor[0].pattern[0], 0);
}

TEST_F(LcdTest, PulsePeriodAndDisplayOnCommands) {
  command({13, 1});
  EXPECT_EQ(lcd.pulsePeriod, 4);
  command({13, 15});
  EXPECT_EQ(lcd.pulsePeriod, 4096);
  command({13, 0});
  EXPECT_EQ(lcd.pulsePeriod, 8192);
  command({4, 3});
  EXPECT_EQ(lcd.displayOn, 1);
  command({4, 2});
  EXPECT_EQ(lcd.displayOn, 0);
}

TEST_F(LcdTest, ComposeBlanksWhenOffAndOverlaysCursors) {
  std::memset(lcd.memory, 0x3, sizeof lcd.memory);
  std::memset(lcd.frame, 0x9, sizeof lcd.frame);
  lcd.composeFrame();
  EXPECT_EQ(lcd.frame[0][0], 0);
  EXPECT_EQ(lcd.frame[1][767], 0);

  command({4, 1});
  lcd.composeFrame();
  EXPECT_EQ(0, std::memcmp(lcd.frame, lcd.memory, sizeof lcd.frame));

  // Cursor 0 at x 90 in band 1 with XOR: cut after column 95, no wrap.
  command({9, 1 | 1 << 1});
  command({14, 0, 0xA, 0x5, 0x1});
  for (int j = 0; j < 16; ++j) lcd.cursor[0].pattern[j] = 0xF;
  lcd.composeFrame();
  for (int j = 0; j < 6; ++j) EXPECT_EQ(lcd.frame[0][192 + 90 + j], 0xC) << j;
  EXPECT_EQ(lcd.frame[0][192 + 96], 0x3);
  EXPECT_EQ(lcd.frame[0][192 + 89], 0x3);
  // Cursor 1 was never set: it still composes at 0 with a zero pattern.
  EXPECT_EQ(lcd.frame[1][0], 0x3);
  command({9, 1 | 4 << 1});  // replace
  lcd.composeFrame();
  for (int j = 0; j < 16; ++j) EXPECT_EQ(lcd.frame[1][j], 0) << j;
  EXPECT_EQ(lcd.frame[1][16], 0x3);

  // The pattern is read from start - x + j, so start rotates it.
  for (int j = 0; j < 16; ++j) lcd.cursor[1].pattern[j] = static_cast<uint8_t>(j);
  lcd.cursor[1].start = 3;
  lcd.composeFrame();
  EXPECT_EQ(lcd.frame[1][0], 3);
  EXPECT_EQ(lcd.frame[1][13], 0);

  // Past column 95 nothing is drawn.
  command({14, 0, 0x0, 0xE, 0x3});
  lcd.composeFrame();
  for (int i = 0; i < Lcd::kNibbles; ++i) ASSERT_EQ(lcd.frame[0][i], 0x3) << i;
}

TEST(LcdCharsetTest, EachByteBecomesTwoNibblesHighFirst) {
  Lcd lcd;
  uint8_t bytes[Lcd::kGlyphBytes];
  for (int n = 0; n < Lcd::kGlyphBytes; ++n) bytes[n] = static_cast<uint8_t>(n * 7);
  lcd.loadCharset(bytes);
  EXPECT_EQ(lcd.glyphs[0], 0);
  EXPECT_EQ(lcd.glyphs[2 * 5], (35 >> 4) & 15);
  EXPECT_EQ(lcd.glyphs[2 * 5 + 1], 35 & 15);
  EXPECT_EQ(lcd.glyphs[4095], (2047 * 7) & 15);
}

}  // namespace
}  // namespace tarvo
