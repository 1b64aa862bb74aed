// The face bitmap read without a window: only what the machine itself
// depends on, whether the face has the optional key. The window composes
// "face.bmp" opaque over a black picture of the face's size and compares
// two pixels of it; faceHasOptionalKey makes the same comparison from the
// file, so that every front end starts the same machine.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvo {

// An uncompressed BMP (1, 4, 8, 16, 24 or 32 bits a pixel, bottom-up or
// top-down) decoded to 0xRRGGBB pixels. Nothing when the file is missing,
// cannot be read or is of another kind.
struct BmpImage {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;  // row by row from the top
  uint32_t pixel(int x, int y) const {
    return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                  static_cast<std::size_t>(x)];
  }
};
std::optional<BmpImage> decodeBmp(const std::vector<uint8_t>& bytes);
std::optional<BmpImage> readBmp(const std::string& path);

// The optional-key test on the face as the window shows it: the file drawn
// at (0, 0) over black, the two probe pixels compared. A face that cannot
// be loaded leaves both black, so it has no optional key.
bool faceHasOptionalKey(const std::optional<BmpImage>& face);
// The same for the machine directory's "face.bmp".
bool machineHasOptionalKey(const std::string& dir);

}  // namespace tarvo
