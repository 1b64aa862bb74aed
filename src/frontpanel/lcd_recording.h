// An animated GIF of the LCD: one frame for every refresh that changed the
// picture, each shown until the next change (refreshes come every 50 ms, so
// delays are multiples of 5 hundredths of a second). Frames are written as
// they become complete, so a recording may run for as long as it likes.
// Used by the window's recording key and by tarvo-run --lcd-gif.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frontpanel/lcd_image.h"

namespace tarvo {

namespace host {
struct GifFile;
}

class LcdRecording {
 public:
  // Hundredths of a second between two refreshes.
  static constexpr int kRefreshCs = 5;

  LcdRecording() = default;
  ~LcdRecording();
  LcdRecording(const LcdRecording&) = delete;
  LcdRecording& operator=(const LcdRecording&) = delete;

  // Starts a file; every LCD pixel becomes scale x scale pixels. False when
  // the file cannot be created.
  bool open(const std::string& path, int scale = 1);
  bool isOpen() const { return file_ != nullptr; }

  // One refresh: the image as it stands after it.
  void refresh(const LcdImage& image);

  // Writes the last frame and ends the file; false when any write failed.
  bool close();

 private:
  bool writeFrame(int delayCs);

  host::GifFile* file_ = nullptr;
  int scale_ = 1;
  bool failed_ = false;
  bool havePending_ = false;
  std::vector<uint32_t> pending_;  // the frame waiting for its delay
  int pendingRefreshes_ = 0;       // refreshes it has been shown for
};

}  // namespace tarvo
