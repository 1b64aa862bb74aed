#include "frontpanel/face_file.h"

#include <bit>

#include "frontpanel/files.h"
#include "frontpanel/keymap.h"
#include "frontpanel/state_file.h"

namespace tarvo {

namespace {

constexpr std::size_t kBmpLimit = 64u << 20;
constexpr uint32_t kRgb = 0;
constexpr uint32_t kBitfields = 3;

uint32_t le(const std::vector<uint8_t>& b, std::size_t at, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | b[at + static_cast<std::size_t>(i)];
  return v;
}

// A masked field scaled to 8 bits.
uint32_t field(uint32_t raw, uint32_t mask) {
  if (mask == 0) return 0;
  const int shift = std::countr_zero(mask);
  const int bits = std::popcount(mask);
  uint32_t v = (raw & mask) >> shift;
  if (bits >= 8) return v >> (bits - 8);
  // Repeat the bits to fill eight, as image readers widen them.
  uint32_t out = 0;
  for (int filled = 0; filled < 8; filled += bits) out = out << bits | v;
  return out >> (((8 + bits - 1) / bits) * bits - 8);
}

}  // namespace

std::optional<BmpImage> decodeBmp(const std::vector<uint8_t>& b) {
  if (b.size() < 26 || b[0] != 'B' || b[1] != 'M') return std::nullopt;
  const uint32_t dataAt = le(b, 10, 4);
  const uint32_t headerSize = le(b, 14, 4);
  if (headerSize < 12 || 14 + std::size_t{headerSize} > b.size()) return std::nullopt;
  int64_t width, height;
  uint32_t bpp, compression = kRgb, colours = 0;
  std::size_t paletteEntry = 4;
  if (headerSize == 12) {
    width = le(b, 18, 2);
    height = static_cast<int16_t>(le(b, 20, 2));
    bpp = le(b, 24, 2);
    paletteEntry = 3;
  } else {
    if (headerSize < 40) return std::nullopt;
    width = static_cast<int32_t>(le(b, 18, 4));
    height = static_cast<int32_t>(le(b, 22, 4));
    bpp = le(b, 28, 2);
    compression = le(b, 30, 4);
    colours = le(b, 46, 4);
  }
  const bool topDown = height < 0;
  if (topDown) height = -height;
  if (width <= 0 || height <= 0 || width > 0x8000 || height > 0x8000) return std::nullopt;
  if (compression != kRgb && !(compression == kBitfields && (bpp == 16 || bpp == 32)))
    return std::nullopt;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return std::nullopt;

  uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};  // 16 bits: 5-5-5
  if (bpp == 32) {
    masks[0] = 0xFF0000;
    masks[1] = 0x00FF00;
    masks[2] = 0x0000FF;
  }
  if (compression == kBitfields) {
    // After a 40-byte header the masks follow it; longer headers hold them.
    if (14 + 40 + 12 > b.size()) return std::nullopt;
    for (int i = 0; i < 3; ++i) masks[i] = le(b, 54 + 4 * static_cast<std::size_t>(i), 4);
  }
  std::vector<uint32_t> palette;
  if (bpp <= 8) {
    const std::size_t count = colours != 0 && colours <= (1u << bpp) ? colours : (1u << bpp);
    const std::size_t at = 14 + std::size_t{headerSize};
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t p = at + i * paletteEntry;
      palette.push_back(p + 3 <= b.size() ? le(b, p, 3) & 0xFFFFFF : 0);
    }
  }

  const std::size_t w = static_cast<std::size_t>(width);
  const std::size_t h = static_cast<std::size_t>(height);
  const std::size_t stride = (w * bpp + 31) / 32 * 4;
  if (dataAt > b.size() || (b.size() - dataAt) / stride < h) return std::nullopt;
  BmpImage image;
  image.width = static_cast<int>(w);
  image.height = static_cast<int>(h);
  image.pixels.resize(w * h);
  for (std::size_t y = 0; y < h; ++y) {
    const std::size_t row = dataAt + (topDown ? y : h - 1 - y) * stride;
    for (std::size_t x = 0; x < w; ++x) {
      uint32_t rgb;
      if (bpp <= 8) {
        const std::size_t bit = x * bpp;
        const uint32_t index = (b[row + bit / 8] >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
        rgb = index < palette.size() ? palette[index] : 0;
      } else if (bpp == 24) {
        rgb = le(b, row + x * 3, 3);
      } else {
        const uint32_t raw = le(b, row + x * (bpp / 8), static_cast<int>(bpp / 8));
        rgb = field(raw, masks[0]) << 16 | field(raw, masks[1]) << 8 | field(raw, masks[2]);
      }
      image.pixels[y * w + x] = rgb;
    }
  }
  return image;
}

std::optional<BmpImage> readBmp(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (!readWholeFile(path, kBmpLimit, bytes).empty()) return std::nullopt;
  return decodeBmp(bytes);
}

bool faceHasOptionalKey(const std::optional<BmpImage>& face) {
  const auto at = [&](int x, int y) -> uint32_t {
    if (!face || x >= face->width || y >= face->height) return 0;  // the black below
    return face->pixel(x, y);
  };
  return at(kOptionalKeyProbeX, kOptionalKeyProbeY) !=
         at(kOptionalKeyProbeX + 1, kOptionalKeyProbeY);
}

bool machineHasOptionalKey(const std::string& dir) {
  return faceHasOptionalKey(readBmp(machinePath(dir, "face.bmp")));
}

}  // namespace tarvo
