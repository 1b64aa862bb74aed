// The face bitmaps from any file content: "keys.bmp", "overlay.bmp" or
// "face.bmp" (chosen by the first byte) loaded from the rest, then every key
// of the face drawn pressed and released, the optional-key probe and the
// label swap. Images of any size, or none, must leave the face drawable.
// The core's own reading of the same bytes (the optional key without a
// window) must take any of them too.
#include <QImage>
#include <QString>
#include <cstdint>
#include <vector>

#include "face.h"
#include "frontpanel/face_file.h"
#include "frontpanel/keymap.h"
#include "fuzz_support.h"

using namespace tarvo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const uint8_t choice = data[0];
  const fuzz::MemoryFile file(data + 1, size - 1);
  const QString path = QString::fromStdString(file.path());

  Face face;
  const QImage keysBefore = face.keys();
  const QImage overlayBefore = face.overlay();
  bool loaded = false;
  switch (choice % 3) {
    case 0:
      loaded = face.loadKeys(path);
      if (!loaded) FUZZ_CHECK(face.keys() == keysBefore);
      break;
    case 1:
      loaded = face.loadOverlay(path);
      if (!loaded) FUZZ_CHECK(face.overlay() == overlayBefore);
      break;
    case 2:
      loaded = face.loadFace(path);
      break;
  }
  FUZZ_CHECK(face.composite().width() == Face::kWidth &&
             face.composite().height() == Face::kHeight);
  (void)face.samePixels(QPoint(kOptionalKeyProbeX, kOptionalKeyProbeY),
                        QPoint(kOptionalKeyProbeX + 1, kOptionalKeyProbeY));
  (void)faceHasOptionalKey(decodeBmp(std::vector<uint8_t>(data + 1, data + size)));

  for (const KeyGroup& g : kKeyGroups) {
    const KeyFrameGeometry geometry{g.width, g.height, g.imageX, g.imageY};
    for (int k = 0; k < g.count; ++k) {
      const QPoint at(g.left + (k % g.columns) * g.colPitch, g.top + (k / g.columns) * g.rowPitch);
      const QRect pressed = face.drawKeyPressed(geometry, at);
      const QRect released = face.drawKeyReleased(geometry, at);
      FUZZ_CHECK(face.composite().rect().contains(pressed) || pressed.isEmpty());
      FUZZ_CHECK(face.composite().rect().contains(released) || released.isEmpty());
    }
  }

  // With a full-size overlay, swapping the labels twice changes nothing.
  if (face.overlay().width() >= 432 && face.overlay().height() >= 12) {
    const QImage composite = face.composite();
    const QImage overlay = face.overlay();
    face.swapLabels();
    face.swapLabels();
    FUZZ_CHECK(face.composite() == composite);
    FUZZ_CHECK(face.overlay() == overlay);
  } else {
    face.swapLabels();
  }
  return 0;
}
