#include "devices/lcd.h"

#include <cstring>

namespace tarvo {

namespace {

// Half-period of the pulse output in processor cycles, by the parameter
// nibble of command 13.
constexpr int32_t kPulsePeriods[16] = {8192, 4,    8,    16,   32,   64,   128,  256,
                                       512,  1024, 2048, 2048, 4096, 4096, 4096, 4096};

}  // namespace

uint8_t lcdCombine(uint8_t t, uint8_t c, unsigned mode) {
  unsigned r = 0;
  switch (mode & 7) {
    case 0:
      r = c & ~t;
      break;
    case 1:
      r = t ^ c;
      break;
    case 3:
      r = t & ~c;
      break;
    case 4:
      r = c;
      break;
    case 5:
      r = t | c;
      break;
    case 7:
      r = t;
      break;
    default:
      r = 0;
      break;  // modes 2 and 6 clear the target
  }
  return static_cast<uint8_t>(r & 0x0F);
}

uint8_t Lcd::nibbleTransfer(uint8_t out) {
  const uint8_t c = out & 0x0F;
  // A disabled controller pair holds itself in reset.
  if ((control & 0x80) == 0) {
    reset();
    return kNoReply;
  }
  if ((control & 0x06) == 0) return kNoReply;  // neither chip enabled
  if (control & 0x01) {
    commandNibble(c);
    return kNoReply;
  }
  return dataNibble(c);
}

uint8_t Lcd::byteTransfer(uint8_t out) {
  const uint8_t lo = nibbleTransfer(out & 0x0F);
  const uint8_t hi = nibbleTransfer(out >> 4);
  return static_cast<uint8_t>((lo & 0x0F) | ((hi & 0x0F) << 4));
}

void Lcd::commandNibble(uint8_t c) {
  // A frame holds six nibbles; later ones are not stored but still act.
  if (nibbleCount < 6) command[nibbleCount++] = c;
  const uint32_t count = nibbleCount;
  switch (command[0]) {
    case 1:
    case 2:
    case 3:
      // Display memory address: low bits, then column bits 4-6 with the half
      // bit, then the band. Columns 96..127 fold down to 64..95.
      if (count == 3) {
        address = c;
      } else if (count == 4) {
        address += (c & 7u) * 16u;
        if (address >= 96) address -= 32;
        if (c >= 8) address += 96;
      } else if (count == 5) {
        address += (c & 3u) * 192u;
      }
      break;
    case 4:
      if (count == 2) displayOn = c & 1;
      break;
    case 6:
    case 7:
      address = 0;
      if (count == 3) cursor[command[1] & 1].start = c;
      break;
    case 8:
      if (count == 2) charWidth = 8 - (c & 3);
      break;
    case 9:
      if (count == 2) cursorMode = c;
      break;
    case 11:
      // The glyph number stays in command[2] for the data nibbles.
      address = 0;
      break;
    case 13:
      if (count == 2) pulsePeriod = kPulsePeriods[c];
      break;
    case 14: {
      // Cursor position: unlike the memory address, x is not folded.
      LcdCursor& r = cursor[command[1] & 1];
      if (count == 3) {
        r.x = c;
      } else if (count == 4) {
        r.x += (c & 7u) * 16u;
        r.halfOffset = c >= 8 ? 96 : 0;
      } else if (count == 5) {
        r.bandOffset = (c & 3u) * 192u;
      }
      break;
    }
    default:
      break;
  }
}

uint8_t Lcd::dataNibble(uint8_t c) {
  const unsigned ctl = command[1] & 1u;
  const unsigned mode = command[1] >> 1;
  const bool secondNibble = (nibbleCount & 8) != 0;
  uint8_t reply = kNoReply;
  switch (command[0]) {
    case 1:  // read display memory; only mode 7 drives the reply
      address %= kNibbles;
      if (mode == 7) reply = memory[ctl][address];
      ++address;
      break;
    case 2: {  // write one nibble, upper and lower half exchanged
      address %= kNibbles;
      uint8_t& t = memory[ctl][address ^ 1u];
      t = lcdCombine(t, c, mode);
      ++address;
      break;
    }
    case 3:  // character: two nibbles make the code, then its glyph is drawn
      if (!secondNibble) {
        charCode = c;
      } else {
        charCode = static_cast<uint8_t>(charCode * 16 + c);
        const uint8_t* glyph = &glyphs[charCode * 16u];
        for (int j = 0; j < 2 * charWidth; ++j) {
          address %= kNibbles;
          uint8_t& t = memory[ctl][address];
          t = lcdCombine(t, glyph[j], mode);
          ++address;
        }
      }
      nibbleCount ^= 8;
      break;
    case 6:  // cursor pattern, one nibble at a time
      address &= 15;
      cursor[ctl].pattern[address ^ 1u] = c;
      ++address;
      break;
    case 7:  // cursor pattern copied from a glyph
      if (!secondNibble) {
        charCode = c;
      } else {
        charCode = static_cast<uint8_t>(charCode * 16 + c);
        std::memcpy(cursor[ctl].pattern, &glyphs[charCode * 16u], 16);
      }
      nibbleCount ^= 8;
      break;
    case 11:  // user glyphs 0xFC..0xFF
      glyphs[(command[2] | 0xFCu) * 16u + ((address & 15u) ^ 1u)] = c;
      ++address;
      break;
    default:
      break;
  }
  return reply;
}

void Lcd::reset() {
  std::memset(memory, 0, sizeof memory);
  std::memset(command, 0, sizeof command);
  nibbleCount = 0;
  address = 0;
  pulsePeriod = 8192;
  charWidth = 8;
  displayOn = 0;
  cursor[0] = LcdCursor{};
  cursor[1] = LcdCursor{};
  cursorMode = 0;
}

void Lcd::composeFrame() {
  if (!displayOn) {
    std::memset(frame, 0, sizeof frame);
    return;
  }
  std::memcpy(frame, memory, sizeof frame);
  if ((cursorMode & 1) == 0) return;
  const unsigned mode = cursorMode >> 1;
  for (int k = 0; k < 2; ++k) {
    const LcdCursor& r = cursor[k];
    // The cursor is cut at the last column of its controller.
    for (uint32_t j = 0; j < static_cast<uint32_t>(2 * charWidth) && r.x + j <= 95; ++j) {
      uint8_t& t = frame[k][r.bandOffset + r.halfOffset + r.x + j];
      t = lcdCombine(t, r.pattern[(r.start - r.x + j) & 15u], mode);
    }
  }
}

void Lcd::loadCharset(const uint8_t* bytes) {
  for (int n = 0; n < kGlyphBytes; ++n) {
    glyphs[2 * n] = static_cast<uint8_t>(bytes[n] >> 4);
    glyphs[2 * n + 1] = static_cast<uint8_t>(bytes[n] & 0x0F);
  }
}

}  // namespace tarvo
