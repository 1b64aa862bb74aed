// Where the main window goes on the desktop when its zoom changes or a
// remembered position is restored: sizes and positions in screen pixels,
// with no window system behind them.
#pragma once

namespace tarvo {

struct ScreenRect {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const ScreenRect&) const = default;
};

// The largest zoom from 1 to maxZoom at which a window of width x height
// (at 1x) fits into area; 1 when not even that does.
int largestFittingZoom(const ScreenRect& area, int width, int height, int maxZoom);

// The window moved by as little as needed to lie wholly inside area. One
// larger than the area keeps its top right corner (where the close button
// is) in view.
ScreenRect keptInside(ScreenRect window, const ScreenRect& area);

// A window of width x height whose centre is at (centreX2 / 2, centreY2 / 2):
// the centre is given doubled, so that it stays exact through any number of
// zoom changes however odd the sizes.
ScreenRect centredAt(int centreX2, int centreY2, int width, int height);

}  // namespace tarvo
