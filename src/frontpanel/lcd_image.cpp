#include "frontpanel/lcd_image.h"

#include <algorithm>
#include <cstring>

namespace tarvo {

LcdImage::LcdImage() : pixels(static_cast<std::size_t>(kWidth) * kHeight, kDisabled) {}

void LcdImage::initialise(uint8_t control) {
  fill(kDisabled);
  rememberedControl = static_cast<uint8_t>(~control);
  changed = 1;
  lastChange = Rect{0, 0, kWidth, kHeight};
}

void LcdImage::render(const Lcd& lcd) {
  if (!changed) lastChange = Rect{};
  if (lcd.control != rememberedControl) {
    changed = 1;
    rememberedControl = lcd.control;
    if (rememberedControl & 0x80) {
      std::memset(shadow, 0, sizeof shadow);
      fill(kDotOff);
    } else {
      fill(kDisabled);
    }
    lastChange = Rect{0, 0, kWidth, kHeight};
  }
  if ((rememberedControl & 0x80) == 0) return;

  // Nibble i of controller k: band i / 192, column (i % 192) / 2, half i % 2;
  // bit 3 is the top of its four dots.
  for (int k = 0; k < 2; ++k) {
    for (int i = 0; i < Lcd::kNibbles; ++i) {
      const uint8_t v = lcd.frame[k][i];
      if (v == shadow[k][i]) continue;
      changed = 1;
      shadow[k][i] = v;
      const int band = i / 192, column = (i % 192) / 2, half = i % 2;
      const int x = 192 * k + 2 * column;
      const int y = 16 * band + 8 * half;
      for (int j = 3; j >= 0; --j) {
        fillSquare(x, y + 2 * (3 - j), ((v >> j) & 1) ? kDarkDot : kDotOff);
      }
      include(x, y, 2, 8);
    }
  }
}

void LcdImage::fill(uint32_t colour) {
  std::fill(pixels.begin(), pixels.end(), colour);
}

void LcdImage::fillSquare(int x, int y, uint32_t colour) {
  uint32_t* row = &pixels[static_cast<std::size_t>(y) * kWidth + x];
  row[0] = row[1] = colour;
  row[kWidth] = row[kWidth + 1] = colour;
}

void LcdImage::include(int x, int y, int width, int height) {
  if (lastChange.empty()) {
    lastChange = Rect{x, y, width, height};
    return;
  }
  const int left = std::min(lastChange.x, x);
  const int top = std::min(lastChange.y, y);
  const int right = std::max(lastChange.x + lastChange.width, x + width);
  const int bottom = std::max(lastChange.y + lastChange.height, y + height);
  lastChange = Rect{left, top, right - left, bottom - top};
}

}  // namespace tarvo
