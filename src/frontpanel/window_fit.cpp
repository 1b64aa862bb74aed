#include "frontpanel/window_fit.h"

#include <algorithm>

namespace tarvo {

namespace {

int floorHalf(int v) {
  return v >= 0 ? v / 2 : -((-v + 1) / 2);
}

}  // namespace

int largestFittingZoom(const ScreenRect& area, int width, int height, int maxZoom) {
  for (int zoom = maxZoom; zoom > 1; --zoom)
    if (width * zoom <= area.width && height * zoom <= area.height) return zoom;
  return 1;
}

ScreenRect keptInside(ScreenRect w, const ScreenRect& area) {
  const int right = area.x + area.width, bottom = area.y + area.height;
  w.x = w.width > area.width ? right - w.width : std::clamp(w.x, area.x, right - w.width);
  w.y = w.height > area.height ? area.y : std::clamp(w.y, area.y, bottom - w.height);
  return w;
}

ScreenRect centredAt(int centreX2, int centreY2, int width, int height) {
  return {floorHalf(centreX2 - width), floorHalf(centreY2 - height), width, height};
}

}  // namespace tarvo
