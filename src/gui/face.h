// The face of the machine as the main window shows it: the composite
// picture with pressed keys and swapped labels, the key frames and the
// alternative label strip. Everything is drawn into these images first; the
// window then repaints the rectangles that the operations return.
#pragma once

#include <QImage>
#include <QRect>
#include <QString>

struct KeyFrameGeometry {
  int width = 0;  // size of one key
  int height = 0;
  int imageX = 0;  // the group's pressed frame in the keys image; the
  int imageY = 0;  // released frame sits directly to its right
};

class Face {
 public:
  static constexpr int kWidth = 673;
  static constexpr int kHeight = 294;
  static constexpr QRgb kTransparent = 0xFFFFFF;  // white in key frames

  Face();

  // Each returns false when the file does not exist or cannot be decoded;
  // the image is then left as it was.
  bool loadKeys(const QString& path);
  bool loadOverlay(const QString& path);
  // Draws the face opaque at (0, 0) of the composite.
  bool loadFace(const QString& path);

  // A face without the optional key shows the same colour at its left edge
  // and just outside it.
  bool samePixels(QPoint a, QPoint b) const;

  // The key's frame, pressed or released, drawn over the composite with
  // white as the transparent colour.
  QRect drawKeyFrame(const KeyFrameGeometry& g, QPoint at, bool pressed);
  // Shifts the inside of the key one pixel right and down (pressed) or back
  // (released), then draws the matching frame.
  QRect drawKeyPressed(const KeyFrameGeometry& g, QPoint at);
  QRect drawKeyReleased(const KeyFrameGeometry& g, QPoint at);

  // Exchanges the two label strips of the face with those of the overlay;
  // returns the changed area of the composite.
  QRect swapLabels();

  // Copies the LCD image into the composite.
  void drawLcd(const QImage& lcd, QPoint at);

  const QImage& composite() const { return composite_; }
  const QImage& keys() const { return keys_; }
  const QImage& overlay() const { return overlay_; }

 private:
  QImage scratch_;
  QImage composite_;
  QImage keys_;
  QImage overlay_;
};

// Copies the area `from` of src to `to` in dst, clipped to both images.
// With skipWhite, white source pixels leave dst unchanged.
void copyPixels(QImage& dst, QPoint to, const QImage& src, QRect from, bool skipWhite = false);
