// The LCD as a picture: 384 x 64 pixels of 0xRRGGBB, 2 x 2 pixels per dot.
// Shared by the window and the command-line runner; no toolkit here.
#pragma once

#include <cstdint>
#include <vector>

#include "devices/lcd.h"

namespace tarvo {

struct LcdImage {
  static constexpr int kWidth = 384;
  static constexpr int kHeight = 64;
  static constexpr uint32_t kDarkDot = 0x000000;
  static constexpr uint32_t kDotOff = 0xFFFFFF;
  static constexpr uint32_t kDisabled = 0xC0C0C0;  // controllers switched off

  struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
    bool empty() const { return width <= 0 || height <= 0; }
  };

  LcdImage();

  // As the window does when it is shown: grey image, and a remembered
  // control byte that differs from the current one, so the first render
  // repaints everything. Marks the whole image changed.
  void initialise(uint8_t control);
  // Brings the image up to date with the composed frame and control byte.
  // Sets the changed flag when anything was redrawn; only the window clears it.
  // lastChange bounds every pixel redrawn since the flag was last cleared, so
  // a window that clears the flag after each repaint gets exactly the pixels
  // of the last render.
  void render(const Lcd& lcd);

  uint32_t pixel(int x, int y) const { return pixels[static_cast<std::size_t>(y) * kWidth + x]; }

  std::vector<uint32_t> pixels;  // row by row, kWidth per row
  uint8_t changed = 0;
  uint8_t rememberedControl = 0;
  uint8_t shadow[2][Lcd::kNibbles] = {};  // last drawn value of every nibble
  Rect lastChange;                        // pixels redrawn while changed is set

 private:
  void fill(uint32_t colour);
  void fillSquare(int x, int y, uint32_t colour);
  void include(int x, int y, int width, int height);
};

}  // namespace tarvo
