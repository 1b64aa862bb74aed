// The LCD controller pair on any stream of control bytes, nibbles and bytes,
// as the processor's transfer instructions send them, with frames composed,
// the LCD image rendered and the display read back as text in between.
//
// Input, one operation a byte (bits 5-7 say which, bits 0-4 and the next
// byte give its argument):
//   0 write the control byte (next byte)     4 compose, render and read back
//   1 nibble transfer of bits 0-3            5 LCD reset
//   2 byte transfer (next byte)              6 start frame, then byte transfers
//   3 start frame                              of the following n bytes
//                                            7 load a character set (seeded)
#include <cstdint>
#include <vector>

#include "devices/lcd.h"
#include "frontpanel/lcd_image.h"
#include "frontpanel/lcd_text.h"
#include "fuzz_support.h"

using namespace tarvo;

namespace {

void checkRanges(const Lcd& l) {
  FUZZ_CHECK(l.charWidth >= 5 && l.charWidth <= 8);
  FUZZ_CHECK(l.pulsePeriod > 0 && l.pulsePeriod <= 8192);
  FUZZ_CHECK(l.cursorMode <= 15 && l.displayOn <= 1);
  for (const LcdCursor& r : l.cursor) {
    FUZZ_CHECK(r.x <= 127 && r.start <= 15);
    FUZZ_CHECK(r.halfOffset == 0 || r.halfOffset == 96);
    FUZZ_CHECK(r.bandOffset % 192 == 0 && r.bandOffset <= 576);
    for (uint8_t p : r.pattern) FUZZ_CHECK(p <= 15);
  }
  for (int k = 0; k < 2; ++k) {
    for (int i = 0; i < Lcd::kNibbles; ++i) FUZZ_CHECK(l.memory[k][i] <= 15);
  }
  for (uint8_t g : l.glyphs) FUZZ_CHECK(g <= 15);
}

void composeAndRead(Lcd& l, LcdImage& image) {
  l.composeFrame();
  for (int k = 0; k < 2; ++k) {
    for (int i = 0; i < Lcd::kNibbles; ++i) FUZZ_CHECK(l.frame[k][i] <= 15);
  }
  image.render(l);
  for (uint32_t p : image.pixels) {
    FUZZ_CHECK(p == LcdImage::kDarkDot || p == LcdImage::kDotOff || p == LcdImage::kDisabled);
  }
  const LcdImage::Rect& r = image.lastChange;
  if (!r.empty()) {
    FUZZ_CHECK(r.x >= 0 && r.y >= 0 && r.x + r.width <= LcdImage::kWidth &&
               r.y + r.height <= LcdImage::kHeight);
  }
  image.changed = 0;
  const int columns = lcdTextColumns(l);
  for (const std::string& line : lcdTextLines(l)) {
    FUZZ_CHECK(static_cast<int>(line.size()) <= columns);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Lcd l;
  LcdImage image;
  image.initialise(l.control);
  std::size_t i = 0;
  auto next = [&]() -> uint8_t { return i < size ? data[i++] : 0; };
  while (i < size) {
    const uint8_t op = next();
    switch (op >> 5) {
      case 0:
        l.control = next();
        break;
      case 1:
        FUZZ_CHECK(l.nibbleTransfer(op & 0x0F) <= 0x0F);
        break;
      case 2:
        l.byteTransfer(next());
        break;
      case 3:
        l.startFrame();
        break;
      case 4:
        composeAndRead(l, image);
        break;
      case 5:
        l.reset();
        break;
      case 6: {
        l.startFrame();
        const int n = (op & 0x1F) + 1;
        for (int k = 0; k < n && i < size; ++k) l.byteTransfer(next());
        break;
      }
      case 7: {
        std::vector<uint8_t> charset(Lcd::kGlyphBytes);
        uint32_t x = static_cast<uint32_t>(op) << 8 | next() | 1u;
        for (uint8_t& b : charset) {
          x ^= x << 13;
          x ^= x >> 17;
          x ^= x << 5;
          b = static_cast<uint8_t>(x);
        }
        l.loadCharset(charset.data());
        break;
      }
    }
    checkRanges(l);
  }
  composeAndRead(l, image);
  return 0;
}
