// LCD controller pair: two controllers of 96 dot columns each behind one
// 4-bit interface. Every transfer moves one nibble out to the controllers and
// one nibble back. Commands arrive as frames of up to six nibbles; data
// nibbles then go to display memory, the cursor patterns or the user glyphs
// according to the last command code.
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

// Merges a new nibble c into a target nibble t by one of the eight combine
// modes; the result is always 4 bits.
uint8_t lcdCombine(uint8_t t, uint8_t c, unsigned mode);

struct Lcd {
  static constexpr int kNibbles = 768;      // per controller: 4 bands x 96 columns x 2 halves
  static constexpr int kGlyphBytes = 2048;  // character-set image: 256 glyphs x 8 columns
  static constexpr uint8_t kNoReply = 0x0F;

  uint8_t control = 0;  // bit 7 enable, bit 6 pulse, bits 1-2 chip enables, bit 0 command mode
  uint8_t command[6] = {};
  uint32_t nibbleCount = 0;  // in data mode bit 3 is the second-nibble toggle
  uint32_t address = 0;
  uint8_t memory[2][kNibbles] = {};
  uint8_t glyphs[256 * 16] = {};
  int32_t charWidth = 8;
  uint8_t displayOn = 0;
  uint8_t charCode = 0;
  LcdCursor cursor[2];
  uint8_t cursorMode = 0;  // bit 0 cursors shown, bits 1-3 combine mode
  int32_t pulsePeriod = 8192;
  uint8_t frame[2][kNibbles] = {};  // composed frame

  uint8_t nibbleTransfer(uint8_t out);
  // Low nibble first; the first reply lands in bits 0-3.
  uint8_t byteTransfer(uint8_t out);
  void startFrame() { nibbleCount = 0; }
  // Clears display memory, the command state and the cursors. The control
  // byte, the character code and the glyph table survive.
  void reset();
  void composeFrame();
  // Expands a 2048-byte character-set image (8 bytes per glyph, one byte
  // per dot column, bit 7 at the top) into the glyph table.
  void loadCharset(const uint8_t* bytes);

 private:
  void commandNibble(uint8_t c);
  uint8_t dataNibble(uint8_t c);
};

}  // namespace tarvo
