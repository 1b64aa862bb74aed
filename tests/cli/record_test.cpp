// tarvo-run --lcd-gif on the demo machine: the recording decodes, holds one
// frame per refresh that changed the LCD, its delays add up to the time
// run, and its last frame is the LCD at the end.
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "demo_machine.h"

namespace tarvo::demo {
namespace {

TEST(Recording, DemoRunAsGif) {
  if (!templateHas("rom1.bin")) GTEST_FAIL() << "the build made no demo machine";
  MachineDir dir;
  const std::string gif = (dir.path() / "run.gif").string();
  const RunResult r = runTool(dir.path(), {"--ticks", "400", "--type", "12*34{ENTER}",
                                           "--type-pace", "--lcd-gif", gif, "--lcd-text"});
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.lines.size(), 32u);

  int error = 0;
  GifFileType* file = DGifOpenFileName(gif.c_str(), &error);
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(DGifSlurp(file), GIF_OK);
  EXPECT_EQ(file->SWidth, 384);
  EXPECT_EQ(file->SHeight, 64);
  const int frames = file->ImageCount;
  // Grey, the banner, each of the six keys typed a refresh or more apart,
  // the result: far fewer frames than the 80 refreshes.
  EXPECT_GE(frames, 6);
  EXPECT_LT(frames, 80);
  int total = 0;
  for (int i = 0; i < frames; ++i) {
    GraphicsControlBlock control;
    ASSERT_EQ(DGifSavedExtensionToGCB(file, i, &control), GIF_OK);
    EXPECT_GT(control.DelayTime, 0);
    EXPECT_EQ(control.DelayTime % 5, 0);
    total += control.DelayTime;
    if (i > 0) {  // no frame repeats the one before it
      const SavedImage& a = file->SavedImages[i - 1];
      const SavedImage& b = file->SavedImages[i];
      EXPECT_NE(std::vector<GifByteType>(a.RasterBits, a.RasterBits + 384 * 64),
                std::vector<GifByteType>(b.RasterBits, b.RasterBits + 384 * 64))
          << "frame " << i;
    }
  }
  EXPECT_EQ(total, 400);  // 80 refreshes of 5 hundredths
  // The last frame, dot by dot, is the LCD as --lcd-text prints it (colour
  // 0 is the dark dot).
  const SavedImage& last = file->SavedImages[frames - 1];
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 192; ++x)
      ASSERT_EQ(last.RasterBits[(2 * y + 1) * 384 + 2 * x + 1] == 0, r.lines[y][x] == '#')
          << "dot " << x << "," << y;
  DGifCloseFile(file, &error);
}

}  // namespace
}  // namespace tarvo::demo
