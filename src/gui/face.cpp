#include "face.h"

#include <QFileInfo>
#include <algorithm>

namespace {

// Label strips: two of 432 x 6 pixels, on the face at x 58 and y 224 and
// 257, in the overlay one above the other.
constexpr int kLabelWidth = 432;
constexpr int kLabelHeight = 6;
constexpr int kLabelX = 58;
constexpr int kLabelY = 224;
constexpr int kLabelPitch = 33;

QImage blankImage(int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(0xFF000000);
  return image;
}

bool loadOpaque(QImage& into, const QString& path) {
  if (!QFileInfo::exists(path)) return false;
  QImage loaded;
  if (!loaded.load(path)) return false;
  into = loaded.convertToFormat(QImage::Format_RGB32);
  return true;
}

}  // namespace

void copyPixels(QImage& dst, QPoint to, const QImage& src, QRect from, bool skipWhite) {
  // Clip the source rectangle, then the destination, moving both together.
  QRect s = from.intersected(src.rect());
  QPoint d = to + (s.topLeft() - from.topLeft());
  QRect target = QRect(d, s.size()).intersected(dst.rect());
  if (target.isEmpty()) return;
  s = QRect(s.topLeft() + (target.topLeft() - d), target.size());
  // Overlapping copies within one image must not read what they just wrote.
  const bool sameImage = &dst == &src;
  QImage copy = sameImage ? src.copy(s) : QImage();
  const QImage& from2 = sameImage ? copy : src;
  const QPoint origin = sameImage ? QPoint(0, 0) : s.topLeft();
  for (int y = 0; y < target.height(); ++y) {
    const QRgb* in =
        reinterpret_cast<const QRgb*>(from2.constScanLine(origin.y() + y)) + origin.x();
    QRgb* out = reinterpret_cast<QRgb*>(dst.scanLine(target.y() + y)) + target.x();
    for (int x = 0; x < target.width(); ++x) {
      const QRgb p = in[x];
      if (skipWhite && (p & 0xFFFFFF) == Face::kTransparent) continue;
      out[x] = p | 0xFF000000;
    }
  }
}

Face::Face()
    : composite_(blankImage(kWidth, kHeight)),
      keys_(blankImage(168, 99)),
      overlay_(blankImage(kLabelWidth, 2 * kLabelHeight)) {}

bool Face::loadKeys(const QString& path) {
  return loadOpaque(keys_, path);
}

bool Face::loadOverlay(const QString& path) {
  return loadOpaque(overlay_, path);
}

bool Face::loadFace(const QString& path) {
  if (!loadOpaque(scratch_, path)) return false;
  copyPixels(composite_, QPoint(0, 0), scratch_, scratch_.rect());
  return true;
}

bool Face::samePixels(QPoint a, QPoint b) const {
  return composite_.pixel(a) == composite_.pixel(b);
}

QRect Face::drawKeyFrame(const KeyFrameGeometry& g, QPoint at, bool pressed) {
  const int x = pressed ? g.imageX : g.imageX + g.width;
  scratch_ = keys_.copy(QRect(x, g.imageY, g.width, g.height));
  copyPixels(composite_, at, scratch_, scratch_.rect(), true);
  return QRect(at, QSize(g.width, g.height)).intersected(composite_.rect());
}

QRect Face::drawKeyPressed(const KeyFrameGeometry& g, QPoint at) {
  const QRect inside(at + QPoint(4, 4), QSize(g.width - 8, g.height - 8));
  copyPixels(composite_, at + QPoint(5, 5), composite_, inside);
  return drawKeyFrame(g, at, true);
}

QRect Face::drawKeyReleased(const KeyFrameGeometry& g, QPoint at) {
  const QRect shifted(at + QPoint(5, 5), QSize(g.width - 8, g.height - 8));
  copyPixels(composite_, at + QPoint(4, 4), composite_, shifted);
  return drawKeyFrame(g, at, false);
}

QRect Face::swapLabels() {
  QRect changed;
  for (int k = 0; k < 2; ++k) {
    const QRect onFace(kLabelX, kLabelY + kLabelPitch * k, kLabelWidth, kLabelHeight);
    const QRect inOverlay(0, kLabelHeight * k, kLabelWidth, kLabelHeight);
    const QImage faceStrip = composite_.copy(onFace);
    const QImage overlayStrip = overlay_.copy(inOverlay);
    copyPixels(overlay_, inOverlay.topLeft(), faceStrip, faceStrip.rect());
    copyPixels(composite_, onFace.topLeft(), overlayStrip, overlayStrip.rect());
    changed |= onFace;
  }
  return changed;
}

void Face::drawLcd(const QImage& lcd, QPoint at) {
  copyPixels(composite_, at, lcd, lcd.rect());
}
