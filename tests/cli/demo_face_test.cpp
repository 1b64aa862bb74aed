// The generated face bitmaps against the key group table: every key is
// drawn where the hit test finds it, the optional key is there, and the key
// frames and label strips sit where the window takes them from.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "demo_machine.h"
#include "frontpanel/keymap.h"

namespace tarvo::demo {
namespace {

// An uncompressed 24- or 32-bit BMP, as 0xRRGGBB pixels, top row first.
struct Bitmap {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
  uint32_t at(int x, int y) const {
    return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                  static_cast<std::size_t>(x)];
  }
};

uint32_t le(const std::vector<uint8_t>& b, std::size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | b[at + static_cast<std::size_t>(i)];
  return v;
}

bool readBitmap(const fs::path& path, Bitmap& out) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
  if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') return false;
  const uint32_t offset = le(b, 10, 4);
  const int32_t width = static_cast<int32_t>(le(b, 18, 4));
  const int32_t rawHeight = static_cast<int32_t>(le(b, 22, 4));
  const int bpp = static_cast<int>(le(b, 28, 2));
  const uint32_t compression = le(b, 30, 4);
  if (width <= 0 || rawHeight == 0 || (bpp != 24 && bpp != 32)) return false;
  if (compression != 0 && !(compression == 3 && bpp == 32)) return false;
  const bool bottomUp = rawHeight > 0;
  const int height = bottomUp ? rawHeight : -rawHeight;
  const std::size_t stride = (static_cast<std::size_t>(width) * (bpp / 8) + 3) / 4 * 4;
  if (offset + stride * static_cast<std::size_t>(height) > b.size()) return false;
  out.width = width;
  out.height = height;
  out.pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
  for (int y = 0; y < height; ++y) {
    const std::size_t row =
        offset + stride * static_cast<std::size_t>(bottomUp ? height - 1 - y : y);
    for (int x = 0; x < width; ++x) {
      const std::size_t p = row + static_cast<std::size_t>(x) * (bpp / 8);
      out.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                 static_cast<std::size_t>(x)] =
          static_cast<uint32_t>(b[p + 2]) << 16 | static_cast<uint32_t>(b[p + 1]) << 8 | b[p];
    }
  }
  return true;
}

constexpr uint32_t kWhite = 0xFFFFFF;

class DemoFace : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!templateHas("face.bmp")) GTEST_SKIP() << "built without the Qt front end: no face";
    ASSERT_TRUE(readBitmap(templateDir() / "face.bmp", face));
    ASSERT_TRUE(readBitmap(templateDir() / "keys.bmp", keys));
    ASSERT_TRUE(readBitmap(templateDir() / "overlay.bmp", overlay));
  }
  Bitmap face, keys, overlay;
};

TEST_F(DemoFace, HasTheSizesTheWindowExpectsAndTheOptionalKey) {
  EXPECT_EQ(face.width, 673);
  EXPECT_EQ(face.height, 294);
  EXPECT_EQ(keys.width, 168);
  EXPECT_EQ(keys.height, 99);
  EXPECT_EQ(overlay.width, 432);
  EXPECT_EQ(overlay.height, 12);
  EXPECT_NE(face.at(kOptionalKeyProbeX, kOptionalKeyProbeY),
            face.at(kOptionalKeyProbeX + 1, kOptionalKeyProbeY));
}

// Each key's outline runs along the edge of its rectangle in the table and
// nowhere just outside it; the hit test finds the key inside that
// rectangle and not beside it.
TEST_F(DemoFace, DrawsEveryKeyWhereTheHitTestFindsIt) {
  const KeyHit first = keyPosition(4);
  const uint32_t outline = face.at(first.x, first.y + 10);
  for (int code = 1; code <= kHighestKey; ++code) {
    SCOPED_TRACE("key " + std::to_string(code));
    const KeyHit key = keyPosition(code);
    const KeyGroup& g = kKeyGroups[key.group];
    const int cx = key.x + g.width / 2, cy = key.y + g.height / 2;
    const int right = key.x + g.width - 1, bottom = key.y + g.height - 1;
    EXPECT_EQ(face.at(key.x, cy), outline);
    EXPECT_EQ(face.at(right, cy), outline);
    EXPECT_EQ(face.at(cx, key.y), outline);
    EXPECT_EQ(face.at(cx, bottom), outline);
    if (key.x > 0) {
      EXPECT_NE(face.at(key.x - 1, cy), outline);
    }
    EXPECT_NE(face.at(right + 1, cy), outline);
    EXPECT_NE(face.at(cx, key.y - 1), outline);
    if (bottom + 1 < face.height) {
      EXPECT_NE(face.at(cx, bottom + 1), outline);
    }

    for (auto [x, y] : {std::pair{cx, cy}, {key.x, key.y}, {right, bottom}})
      EXPECT_EQ(keyAt(x, y).code, code) << x << "," << y;
    EXPECT_NE(keyAt(right + 1, cy).code, code);
    EXPECT_NE(keyAt(cx, bottom + 1).code, code);
    // A legend or a knob: the key is more than its frame.
    std::set<uint32_t> colours;
    for (int y = key.y; y <= bottom; ++y) {
      for (int x = key.x; x <= right; ++x) colours.insert(face.at(x, y));
    }
    EXPECT_GE(colours.size(), 4u);
  }
  // Nothing else on the face is drawn in the outline colour as a key.
  int outlinePixels = 0, keyOutlinePixels = 0;
  for (int y = 0; y < face.height; ++y) {
    for (int x = 0; x < face.width; ++x) {
      if (face.at(x, y) != outline) continue;
      ++outlinePixels;
      if (keyAt(x, y).code != 0) ++keyOutlinePixels;
    }
  }
  EXPECT_EQ(outlinePixels, keyOutlinePixels);
}

// For every group, the pressed frame at its image position and the
// released one right of it: an opaque ring around a transparent (white)
// inside, which the window shifts by one pixel; the power switch's frames
// are opaque throughout and show the knob at different places.
TEST_F(DemoFace, HoldsAPressedAndAReleasedFrameForEveryGroup) {
  for (int gi = 0; gi < kKeyGroupCount; ++gi) {
    SCOPED_TRACE("group " + std::to_string(gi));
    const KeyGroup& g = kKeyGroups[gi];
    int differing = 0;
    for (int frame = 0; frame < 2; ++frame) {
      const int ox = g.imageX + frame * g.width, oy = g.imageY;
      ASSERT_LE(ox + g.width, keys.width);
      ASSERT_LE(oy + g.height, keys.height);
      for (int y = 0; y < g.height; ++y) {
        for (int x = 0; x < g.width; ++x) {
          const int ring = std::min(std::min(x, y), std::min(g.width - 1 - x, g.height - 1 - y));
          const uint32_t p = keys.at(ox + x, oy + y);
          if (gi == 0 || ring < 4) {
            ASSERT_NE(p, kWhite) << x << "," << y;
          } else {
            ASSERT_EQ(p, kWhite) << x << "," << y;
          }
          if (frame == 1 && p != keys.at(g.imageX + x, oy + y)) ++differing;
        }
      }
    }
    EXPECT_GT(differing, 0) << "pressed and released frames look the same";
  }
}

// The strips that F2 exchanges lie on plain ground, the same in the face
// and in the overlay, and carry different legends.
TEST_F(DemoFace, LabelStripsOfFaceAndOverlayShareTheirGround) {
  const int stripY[2] = {224, 257};
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE("strip " + std::to_string(k));
    const uint32_t ground = face.at(58, stripY[k]);
    int faceInk = 0, overlayInk = 0, differ = 0;
    for (int y = 0; y < 6; ++y) {
      for (int x = 0; x < 432; ++x) {
        const uint32_t f = face.at(58 + x, stripY[k] + y);
        const uint32_t o = overlay.at(x, 6 * k + y);
        faceInk += f != face.at(58, stripY[k] + y);
        overlayInk += o != face.at(58, stripY[k] + y);
        differ += f != o;
      }
      EXPECT_EQ(overlay.at(0, 6 * k + y), face.at(58, stripY[k] + y));
    }
    EXPECT_NE(ground, kWhite);
    EXPECT_GT(faceInk, 20);
    EXPECT_GT(overlayInk, 20);
    EXPECT_GT(differ, 20);
  }
}

}  // namespace
}  // namespace tarvo::demo
