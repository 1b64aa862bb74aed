#include "frontpanel/lcd_recording.h"

#include <algorithm>

#include "frontpanel/host_services.h"

namespace tarvo {

namespace {

// The LCD shows three colours; GIF wants a power of two.
constexpr uint32_t kPalette[4] = {0x000000, 0xFFFFFF, 0xC0C0C0, 0x000000};

uint8_t paletteIndex(uint32_t rgb) {
  switch (rgb & 0xFFFFFF) {
    case LcdImage::kDarkDot:
      return 0;
    case LcdImage::kDotOff:
      return 1;
    default:
      return 2;
  }
}

}  // namespace

LcdRecording::~LcdRecording() {
  close();
}

bool LcdRecording::open(const std::string& path, int scale) {
  close();
  scale_ = std::clamp(scale, 1, 8);
  failed_ = false;
  havePending_ = false;
  file_ = host::gifCreate(path.c_str(), LcdImage::kWidth * scale_, LcdImage::kHeight * scale_,
                          kPalette);
  return file_ != nullptr;
}

void LcdRecording::refresh(const LcdImage& image) {
  if (!file_) return;
  if (havePending_ && image.pixels == pending_) {
    ++pendingRefreshes_;
    return;
  }
  if (havePending_ && !writeFrame(pendingRefreshes_ * kRefreshCs)) failed_ = true;
  pending_ = image.pixels;
  havePending_ = true;
  pendingRefreshes_ = 1;
}

bool LcdRecording::writeFrame(int delayCs) {
  const int w = LcdImage::kWidth * scale_;
  const int h = LcdImage::kHeight * scale_;
  std::vector<uint8_t> frame(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
  uint8_t* out = frame.data();
  for (int y = 0; y < h; ++y) {
    const uint32_t* row = pending_.data() + static_cast<std::size_t>(y / scale_) * LcdImage::kWidth;
    for (int x = 0; x < w; ++x) *out++ = paletteIndex(row[x / scale_]);
  }
  return host::gifAddFrame(file_, frame.data(), delayCs);
}

bool LcdRecording::close() {
  if (!file_) return false;
  if (havePending_ && !writeFrame(pendingRefreshes_ * kRefreshCs)) failed_ = true;
  havePending_ = false;
  if (!host::gifClose(file_)) failed_ = true;
  file_ = nullptr;
  return !failed_;
}

}  // namespace tarvo
