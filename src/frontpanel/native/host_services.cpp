// The desktop's host services: zlib's CRC-32, inih's settings parser and
// giflib's encoder.
#include "frontpanel/host_services.h"

#include <fcntl.h>
#include <gif_lib.h>
#include <ini.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>

namespace tarvo::host {

uint32_t crc32(const uint8_t* data, std::size_t n) {
  return static_cast<uint32_t>(::crc32(::crc32(0, nullptr, 0), data, static_cast<uInt>(n)));
}

void parseIni(const char* text, IniHandler handler, void* user) {
  ::ini_parse_string(text, handler, user);
}

struct GifFile {
  GifFileType* gif;
  int width;
  int height;
};

GifFile* gifCreate(const char* path, int width, int height, const uint32_t palette[4]) {
  int error = 0;
  // Opened here so that the file gets the usual permissions; the writer
  // closes it.
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  GifFileType* gif = EGifOpenFileHandle(fd, &error);
  if (!gif) {
    ::close(fd);
    return nullptr;
  }
  GifColorType colours[4];
  for (int i = 0; i < 4; ++i) {
    colours[i] = {static_cast<GifByteType>(palette[i] >> 16),
                  static_cast<GifByteType>(palette[i] >> 8), static_cast<GifByteType>(palette[i])};
  }
  ColorMapObject* map = GifMakeMapObject(4, colours);
  EGifSetGifVersion(gif, true);
  bool ok = map && EGifPutScreenDesc(gif, width, height, 2, 0, map) == GIF_OK;
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
    return nullptr;
  }
  return new GifFile{gif, width, height};
}

bool gifAddFrame(GifFile* file, const uint8_t* indices, int delayCs) {
  GraphicsControlBlock control{};
  control.DisposalMode = DISPOSE_DO_NOT;
  control.UserInputFlag = false;
  control.DelayTime = std::min(delayCs, 65535);
  control.TransparentColor = NO_TRANSPARENT_COLOR;
  GifByteType extension[4];
  EGifGCBToExtension(&control, extension);
  GifFileType* gif = file->gif;
  const int w = file->width;
  if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, extension) != GIF_OK ||
      EGifPutImageDesc(gif, 0, 0, w, file->height, false, nullptr) != GIF_OK)
    return false;
  for (int y = 0; y < file->height; ++y) {
    // giflib takes the line as writable although it only reads it.
    auto* line = const_cast<GifByteType*>(indices + static_cast<std::size_t>(y) * w);
    if (EGifPutLine(gif, line, w) != GIF_OK) return false;
  }
  return true;
}

bool gifClose(GifFile* file) {
  int error = 0;
  const bool ok = EGifCloseFile(file->gif, &error) == GIF_OK;
  delete file;
  return ok;
}

}  // namespace tarvo::host
