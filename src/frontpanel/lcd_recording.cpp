#include "frontpanel/lcd_recording.h"

#include <fcntl.h>
#include <gif_lib.h>
#include <unistd.h>

#include <algorithm>

namespace tarvo {

namespace {

GifFileType* gifOf(void* file) {
  return static_cast<GifFileType*>(file);
}

// The LCD shows three colours; GIF wants a power of two.
GifByteType paletteIndex(uint32_t rgb) {
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
  int error = 0;
  // Opened here so that the file gets the usual permissions; the writer
  // closes it.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  GifFileType* gif = EGifOpenFileHandle(fd, &error);
  if (!gif) {
    ::close(fd);
    return false;
  }
  const GifColorType colours[4] = {{0, 0, 0}, {0xFF, 0xFF, 0xFF}, {0xC0, 0xC0, 0xC0}, {0, 0, 0}};
  ColorMapObject* map = GifMakeMapObject(4, colours);
  EGifSetGifVersion(gif, true);
  bool ok = map && EGifPutScreenDesc(gif, LcdImage::kWidth * scale_, LcdImage::kHeight * scale_, 2,
                                     0, map) == GIF_OK;
  GifFreeMapObject(map);
  // Played in a loop, as viewers expect of an animation.
  static const GifByteType kApp[] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
  static const GifByteType kLoop[] = {1, 0, 0};
  ok = ok && EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
       EGifPutExtensionBlock(gif, sizeof kApp, kApp) == GIF_OK &&
       EGifPutExtensionBlock(gif, sizeof kLoop, kLoop) == GIF_OK &&
       EGifPutExtensionTrailer(gif) == GIF_OK;
  if (!ok) {
    EGifCloseFile(gif, &error);
    return false;
  }
  file_ = gif;
  return true;
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
  GifFileType* gif = gifOf(file_);
  GraphicsControlBlock control{};
  control.DisposalMode = DISPOSE_DO_NOT;
  control.UserInputFlag = false;
  control.DelayTime = std::min(delayCs, 65535);
  control.TransparentColor = NO_TRANSPARENT_COLOR;
  GifByteType extension[4];
  EGifGCBToExtension(&control, extension);
  const int w = LcdImage::kWidth * scale_;
  const int h = LcdImage::kHeight * scale_;
  if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, extension) != GIF_OK ||
      EGifPutImageDesc(gif, 0, 0, w, h, false, nullptr) != GIF_OK)
    return false;
  std::vector<GifByteType> line(static_cast<std::size_t>(w));
  for (int y = 0; y < h; ++y) {
    const uint32_t* row = pending_.data() + static_cast<std::size_t>(y / scale_) * LcdImage::kWidth;
    for (int x = 0; x < w; ++x) line[static_cast<std::size_t>(x)] = paletteIndex(row[x / scale_]);
    if (EGifPutLine(gif, line.data(), w) != GIF_OK) return false;
  }
  return true;
}

bool LcdRecording::close() {
  if (!file_) return false;
  if (havePending_ && !writeFrame(pendingRefreshes_ * kRefreshCs)) failed_ = true;
  havePending_ = false;
  int error = 0;
  if (EGifCloseFile(gifOf(file_), &error) != GIF_OK) failed_ = true;
  file_ = nullptr;
  return !failed_;
}

}  // namespace tarvo
