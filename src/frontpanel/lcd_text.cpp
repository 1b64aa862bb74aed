#include "frontpanel/lcd_text.h"

#include <cstdint>

#include "devices/lcd.h"

namespace tarvo {

namespace {

constexpr int kColumnsPerController = 96;
constexpr int kNibblesPerBand = 192;

int clampedWidth(const Lcd& lcd) {
  // Command 8 only ever sets 5..8; anything else is treated as the reset width.
  return lcd.charWidth >= 5 && lcd.charWidth <= 8 ? lcd.charWidth : 8;
}

uint8_t swapNibbles(int v) {
  return static_cast<uint8_t>(((v & 0x0F) << 4) | ((v >> 4) & 0x0F));
}

// Character codes in the order they are tried: printable first.
std::array<uint8_t, 256> searchOrder() {
  std::array<uint8_t, 256> order{};
  std::size_t n = 0;
  for (int c = 0x21; c <= 0x7E; ++c) order[n++] = static_cast<uint8_t>(c);
  for (int c = 0; c < 256; ++c) {
    if (c < 0x21 || c > 0x7E) order[n++] = static_cast<uint8_t>(c);
  }
  return order;
}

int matchCell(const Lcd& lcd, const uint8_t* cell, int nibbles) {
  bool blank = true;
  for (int j = 0; j < nibbles; ++j) blank = blank && (cell[j] & 0x0F) == 0;
  if (blank) return 0x20;
  static const std::array<uint8_t, 256> order = searchOrder();
  for (uint8_t code : order) {
    const uint8_t* glyph = &lcd.glyphs[swapNibbles(code) * 16u];
    bool same = true;
    for (int j = 0; j < nibbles && same; ++j) same = (glyph[j] & 0x0F) == (cell[j] & 0x0F);
    if (same) return code;
  }
  return -1;
}

}  // namespace

int lcdTextColumns(const Lcd& lcd) {
  return 2 * (kColumnsPerController / clampedWidth(lcd));
}

std::array<std::vector<int>, kLcdTextRows> lcdCharacterCodes(const Lcd& lcd) {
  const int width = clampedWidth(lcd);
  const int perController = kColumnsPerController / width;
  std::array<std::vector<int>, kLcdTextRows> rows;
  // Disabled controllers show no dots at all, whatever the frame holds.
  const bool enabled = (lcd.control & 0x80) != 0;
  for (int band = 0; band < kLcdTextRows; ++band) {
    for (int k = 0; k < 2; ++k) {
      for (int cell = 0; cell < perController; ++cell) {
        // Dot column n of a band is nibbles 2n (upper half) and 2n + 1,
        // the order in which a glyph stores its columns.
        const uint8_t* first = &lcd.frame[k][band * kNibblesPerBand + cell * width * 2];
        rows[band].push_back(enabled ? matchCell(lcd, first, 2 * width) : 0x20);
      }
    }
  }
  return rows;
}

std::array<std::string, kLcdTextRows> lcdTextLines(const Lcd& lcd) {
  const auto codes = lcdCharacterCodes(lcd);
  std::array<std::string, kLcdTextRows> lines;
  for (int r = 0; r < kLcdTextRows; ++r) {
    std::string& line = lines[r];
    for (int code : codes[r]) {
      line.push_back(code >= 0x20 && code <= 0x7E ? static_cast<char>(code) : '?');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
  }
  return lines;
}

std::string lcdText(const Lcd& lcd) {
  const auto lines = lcdTextLines(lcd);
  std::string text;
  for (int r = 0; r < kLcdTextRows; ++r) {
    if (r > 0) text.push_back('\n');
    text += lines[r];
  }
  return text;
}

}  // namespace tarvo
