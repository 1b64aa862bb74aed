// LCD controller pair: two controllers of 96 dot columns each behind one
// 4-bit interface.
#pragma once

#include <cstdint>

namespace tarvo {

struct LcdCursor {
  uint8_t pattern[16] = {};
  uint32_t start = 0;
  uint32_t halfOffset = 0;  // 0 or 96
  uint32_t x = 0;
  uint32_t bandOffset = 0;  // 0, 192, 384 or 576
};

struct Lcd {
  static constexpr int kNibbles = 768;  // per controller

  uint8_t control = 0;  // bit 7 enable, bit 6 pulse, bits 1-2 chip enables, bit 0 command mode
  uint8_t command[6] = {};
  uint32_t nibbleCount = 0;
  uint32_t address = 0;
  uint8_t memory[2][kNibbles] = {};
  uint8_t glyphs[256 * 16] = {};
  int32_t charWidth = 8;
  uint8_t displayOn = 0;
  uint8_t charCode = 0;
  LcdCursor cursor[2];
  uint8_t cursorMode = 0;
  int32_t pulsePeriod = 8192;
  uint8_t frame[2][kNibbles] = {};  // composed frame

  uint8_t nibbleTransfer(uint8_t out);
  uint8_t byteTransfer(uint8_t out);
  void startFrame() { nibbleCount = 0; }
  void reset();
  void composeFrame();
};

}  // namespace tarvo
