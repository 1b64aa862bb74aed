#include "frontpanel/window_fit.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace tarvo {
namespace {

constexpr int kWidth = 673, kHeight = 294;  // the face at 1x

TEST(WindowFit, LargestZoomThatFits) {
  EXPECT_EQ(largestFittingZoom({0, 0, 1600, 1000}, kWidth, kHeight, 4), 2);
  EXPECT_EQ(largestFittingZoom({0, 0, 3840, 2160}, kWidth, kHeight, 4), 4);
  EXPECT_EQ(largestFittingZoom({0, 0, 2019, 882}, kWidth, kHeight, 4), 3);  // exactly 3x
  EXPECT_EQ(largestFittingZoom({0, 0, 2018, 2000}, kWidth, kHeight, 4), 2);
  EXPECT_EQ(largestFittingZoom({0, 0, 640, 480}, kWidth, kHeight, 4), 1);  // not even 1x
}

// Over a grid of screens, positions and zoom paths: a window that fits ends
// wholly on the screen, moved no further than needed; one that does not
// keeps its top right corner in view; and zooming about a kept centre
// comes back to the very pixel it started from.
TEST(WindowFit, ZoomAboutTheCentreStaysOnScreenAndNeverDrifts) {
  const ScreenRect screens[] = {
      {0, 0, 1600, 1000}, {1600, 0, 1920, 1080}, {-1280, 200, 1280, 1024}};
  for (const ScreenRect& area : screens) {
    for (int dx = -800; dx <= area.width + 200; dx += 97) {
      for (int dy = -300; dy <= area.height + 100; dy += 89) {
        const ScreenRect start{area.x + dx, area.y + dy, kWidth, kHeight};
        const int cx2 = 2 * start.x + start.width, cy2 = 2 * start.y + start.height;
        for (int zoom = 1; zoom <= 4; ++zoom) {
          const ScreenRect centred = centredAt(cx2, cy2, kWidth * zoom, kHeight * zoom);
          EXPECT_LE(std::abs(2 * centred.x + centred.width - cx2), 1);
          const ScreenRect kept = keptInside(centred, area);
          EXPECT_EQ(kept.width, centred.width);
          if (kept.width <= area.width) {
            EXPECT_GE(kept.x, area.x);
            EXPECT_LE(kept.x + kept.width, area.x + area.width);
            if (centred.x >= area.x && centred.x + centred.width <= area.x + area.width) {
              EXPECT_EQ(kept.x, centred.x);  // already inside: not moved
            }
          } else {
            EXPECT_EQ(kept.x + kept.width, area.x + area.width);
          }
          if (kept.height <= area.height) {
            EXPECT_GE(kept.y, area.y);
            EXPECT_LE(kept.y + kept.height, area.y + area.height);
          } else {
            EXPECT_EQ(kept.y, area.y);
          }
        }
        EXPECT_EQ(centredAt(cx2, cy2, kWidth, kHeight), start);
      }
    }
  }
}

}  // namespace
}  // namespace tarvo
