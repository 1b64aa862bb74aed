#include "devices/keyboard.h"

#include <gtest/gtest.h>

#include "cpu/exec.h"
#include "machine.h"

namespace tarvo {
namespace {

TEST(KeyMatrixTest, EveryMachineKeyHasOneLineOnOneStrobeAndOnTheAllKeysStrobe) {
  for (int32_t code = 0; code < kKeyCodeCount; ++code) {
    int strobesHit = 0;
    uint16_t line = 0;
    for (unsigned s = 0; s < kStrobeCount; ++s) {
      const uint16_t e = keyMatrixEntry(s, code);
      if (s == kAllKeysStrobe || e == 0) continue;
      EXPECT_TRUE(s >= 1 && s <= 11) << "code " << code << " strobe " << s;
      EXPECT_EQ(e & (e - 1), 0) << "code " << code << " has several lines";
      EXPECT_EQ(e & 0x0F00, 0) << "code " << code << " drives lines 8-11";
      line = e;
      ++strobesHit;
    }
    EXPECT_EQ(strobesHit, code >= 4 ? 1 : 0) << "code " << code;
    EXPECT_EQ(keyMatrixEntry(kAllKeysStrobe, code), line) << "code " << code;
  }
  // Codes outside the table have no position rather than reading past it.
  EXPECT_EQ(keyMatrixEntry(13, -1), 0);
  EXPECT_EQ(keyMatrixEntry(13, 83), 0);
  EXPECT_EQ(keyMatrixEntry(13, 100000), 0);
  // A few positions checked by hand.
  EXPECT_EQ(keyMatrixEntry(1, 57), 0x0080);
  EXPECT_EQ(keyMatrixEntry(8, 82), 0x2000);
  EXPECT_EQ(keyMatrixEntry(3, 76), 0x1000);
  EXPECT_EQ(keyMatrixEntry(2, 4), 0x8000);
  EXPECT_EQ(keyMatrixEntry(11, 49), 0x8000);
  EXPECT_EQ(keyMatrixEntry(7, 15), 0x0040);
}

TEST(KeyMatrixTest, MouseAndHostKeysCombineAndKyAddsTheStatusLines) {
  Machine m;
  cpuReset(m);
  for (unsigned s = 0; s < kStrobeCount; ++s) EXPECT_EQ(keyLines(m.keys, s), 0) << s;
  EXPECT_EQ(keyRegister(m), 0x0C00);

  m.keys.mouseKey = 57;
  m.keys.hostKey = 16;
  EXPECT_EQ(keyLines(m.keys, 13), 0x0082);
  EXPECT_EQ(keyLines(m.keys, 1), 0x0080);
  EXPECT_EQ(keyLines(m.keys, 2), 0x0002);
  EXPECT_EQ(keyLines(m.keys, 3), 0x0000);

  // Only IA bits 0-3 select the strobe; only status bits 8-11 show.
  m.cpu.IA = 0xF1;
  m.cpu.kyStatus = 0xFE55;
  EXPECT_EQ(keyRegister(m), 0x0E80);

  // The front panel's own buttons read as no key.
  m.keys.mouseKey = 2;
  m.keys.hostKey = 3;
  EXPECT_EQ(keyLines(m.keys, 13), 0);
}

class KeyInterruptTest : public ::testing::Test {
 protected:
  Machine m;
  void SetUp() override {
    cpuReset(m);
    m.cpu.IE = 0x08 << 3;  // request 3 enabled
  }
  bool requested(uint8_t ia, int32_t key) {
    m.cpu.IB = 0;
    m.cpu.IA = ia;
    m.keys.hostKey = key;
    keyInterruptCheck(m);
    return (m.cpu.IB & 0x08) != 0;
  }
};

TEST_F(KeyInterruptTest, MaskSelectsWhichLinesRequest) {
  EXPECT_TRUE(requested(0xBD, 16));   // mask 0xF0FF, all-keys strobe
  EXPECT_TRUE(requested(0xBD, 82));   // line 13 passes mask 3
  EXPECT_FALSE(requested(0x3D, 16));  // key interrupts off: request 3 is the timer's
  EXPECT_FALSE(requested(0x8D, 57));  // mask 0 lets nothing through
  EXPECT_TRUE(requested(0x9D, 57));   // mask 1: line 7 only
  EXPECT_FALSE(requested(0x9D, 15));
  EXPECT_TRUE(requested(0xAD, 15));  // mask 2: lines 6 and 7
  EXPECT_FALSE(requested(0xAD, 16));
  EXPECT_FALSE(requested(0xB3, 16));  // strobe 3 does not see key 16
  EXPECT_TRUE(requested(0xB2, 16));
  EXPECT_FALSE(requested(0xBD, 0));
}

}  // namespace
}  // namespace tarvo
