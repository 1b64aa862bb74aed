// Drawing of the face: key frames over the composite with white as the
// transparent colour, the one-pixel shift of a pressed key, the label swap
// and the clipping of every copy.
#include "face.h"

#include <QTemporaryDir>
#include <QtTest>
#include <random>

#include "frontpanel/face_file.h"
#include "frontpanel/keymap.h"
#include "test_support.h"

using guitest::facePixel;

namespace {

KeyFrameGeometry frameOf(int group) {
  const tarvo::KeyGroup& g = tarvo::kKeyGroups[group];
  return KeyFrameGeometry{g.width, g.height, g.imageX, g.imageY};
}

bool onBorder(int x, int y, QRect r) {
  return r.contains(x, y) && (x == r.left() || x == r.right() || y == r.top() || y == r.bottom());
}

}  // namespace

class FaceTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    dir_ = std::make_unique<guitest::MachineDir>();
    face_ = std::make_unique<Face>();
    QVERIFY(face_->loadKeys("keys.bmp"));
    QVERIFY(face_->loadOverlay("overlay.bmp"));
    QVERIFY(face_->loadFace("face.bmp"));
  }
  void cleanup() {
    face_.reset();
    dir_.reset();
  }

  void missingFilesLeaveTheImagesAsTheyWere() {
    guitest::MachineDir empty(guitest::MachineDir::Empty);
    Face face;
    QVERIFY(!face.loadKeys("keys.bmp"));
    QVERIFY(!face.loadOverlay("overlay.bmp"));
    QVERIFY(!face.loadFace("face.bmp"));
    QCOMPARE(face.keys().size(), QSize(168, 99));
    QCOMPARE(face.overlay().size(), QSize(432, 12));
    QCOMPARE(face.composite().size(), QSize(673, 294));
    // A file that is there but is no bitmap counts as failed too.
    empty.writeFile("keys.bmp", "not a bitmap");
    QVERIFY(!face.loadKeys("keys.bmp"));
    QCOMPARE(face.keys().size(), QSize(168, 99));
  }

  void loadedImagesTakeTheFilesSizes() {
    QImage small(40, 20, QImage::Format_RGB32);
    small.fill(0xFF123456);
    small.save(dir_->file("keys.bmp"), "BMP");
    QVERIFY(face_->loadKeys("keys.bmp"));
    QCOMPARE(face_->keys().size(), QSize(40, 20));
    // A smaller face covers only its own area of the composite.
    small.save(dir_->file("face.bmp"), "BMP");
    QVERIFY(face_->loadFace("face.bmp"));
    QCOMPARE(face_->composite().size(), QSize(673, 294));
    QCOMPARE(face_->composite().pixel(39, 19), 0xFF123456u);
    QCOMPARE(face_->composite().pixel(40, 19), facePixel(40, 19));
  }

  void pressedKeyShiftsItsInsideAndDrawsThePressedFrame() {
    // Key 4: group 2 at (18, 165), 33 x 21, frames at (22, 46).
    const QRect key(18, 165, 33, 21);
    const QRect changed = face_->drawKeyPressed(frameOf(2), key.topLeft());
    QCOMPARE(changed, key);
    const QImage& c = face_->composite();
    const QRgb frame = guitest::pressedFrameColour(22, 46);
    for (int y = key.top() - 1; y <= key.bottom() + 1; ++y) {
      for (int x = key.left() - 1; x <= key.right() + 1; ++x) {
        QRgb want = facePixel(x, y);
        // The inside (from (22, 169), 25 x 13) moved one pixel right and down.
        if (QRect(23, 170, 25, 13).contains(x, y)) want = facePixel(x - 1, y - 1);
        if (onBorder(x, y, key)) want = frame;
        QVERIFY2(c.pixel(x, y) == want, qPrintable(QString("pixel %1,%2").arg(x).arg(y)));
      }
    }
  }

  void releasedKeyMovesItsInsideBackAndDrawsTheReleasedFrame() {
    const QRect key(18, 165, 33, 21);
    face_->drawKeyPressed(frameOf(2), key.topLeft());
    QCOMPARE(face_->drawKeyReleased(frameOf(2), key.topLeft()), key);
    const QImage& c = face_->composite();
    const QRgb frame = guitest::releasedFrameColour(22, 46);
    for (int y = key.top(); y <= key.bottom(); ++y) {
      for (int x = key.left(); x <= key.right(); ++x) {
        QRgb want = facePixel(x, y);
        // The column and row the shift uncovered keep the shifted pixels.
        if (x == 47 && y >= 170 && y <= 182) want = facePixel(46, y - 1);
        if (y == 182 && x >= 23 && x <= 47) want = facePixel(x - 1, 181);
        if (onBorder(x, y, key)) want = frame;
        QVERIFY2(c.pixel(x, y) == want, qPrintable(QString("pixel %1,%2").arg(x).arg(y)));
      }
    }
  }

  void keyFrameAloneIsNeverShifted() {
    // The power switch: group 0 at (0, 27), 11 x 99, frames at (0, 0).
    const QRect key(0, 27, 11, 99);
    face_->drawKeyFrame(frameOf(0), key.topLeft(), false);
    const QImage& c = face_->composite();
    QCOMPARE(c.pixel(0, 27), guitest::releasedFrameColour(0, 0));
    QCOMPARE(c.pixel(10, 125), guitest::releasedFrameColour(0, 0));
    QCOMPARE(c.pixel(5, 60), facePixel(5, 60));  // white inside: face shows
    face_->drawKeyFrame(frameOf(0), key.topLeft(), true);
    QCOMPARE(c.pixel(0, 27), guitest::pressedFrameColour(0, 0));
    QCOMPARE(c.pixel(5, 60), facePixel(5, 60));
  }

  void labelSwapExchangesBothStripsAndTwiceRestores() {
    const QImage before = face_->composite();
    const QRect changed = face_->swapLabels();
    QCOMPARE(changed, QRect(58, 224, 432, 39));
    const QImage& c = face_->composite();
    QCOMPARE(c.pixel(58, 224), guitest::kOverlayTop);
    QCOMPARE(c.pixel(489, 229), guitest::kOverlayTop);
    QCOMPARE(c.pixel(58, 257), guitest::kOverlayBottom);
    QCOMPARE(c.pixel(489, 262), guitest::kOverlayBottom);
    QCOMPARE(c.pixel(58, 230), facePixel(58, 230));  // below the first strip
    QCOMPARE(c.pixel(490, 224), facePixel(490, 224));
    QCOMPARE(face_->overlay().pixel(0, 0), facePixel(58, 224));
    QCOMPARE(face_->overlay().pixel(431, 11), facePixel(489, 262));
    face_->swapLabels();
    QCOMPARE(face_->composite(), before);
    QCOMPARE(face_->overlay(), guitest::makeOverlay());
  }

  void lcdIsCopiedOpaqueAtItsPlace() {
    QImage lcd(384, 64, QImage::Format_RGB32);
    lcd.fill(0x00FFFFFF);  // dot-off white, with the alpha byte clear
    face_->drawLcd(lcd, QPoint(63, 45));
    const QImage& c = face_->composite();
    QCOMPARE(c.pixel(63, 45), 0xFFFFFFFFu);
    QCOMPARE(c.pixel(446, 108), 0xFFFFFFFFu);
    QCOMPARE(c.pixel(62, 45), facePixel(62, 45));
    QCOMPARE(c.pixel(447, 108), facePixel(447, 108));
    QCOMPARE(c.pixel(446, 109), facePixel(446, 109));
  }

  void copiesAreClippedToBothImages() {
    QImage dst(10, 10, QImage::Format_RGB32);
    dst.fill(0xFF000000);
    QImage src(6, 6, QImage::Format_RGB32);
    src.fill(0xFF00FF00);
    copyPixels(dst, QPoint(7, 8), src, QRect(-2, 0, 8, 6));
    // Source columns -2 and -1 do not exist: the copy starts at x 9.
    QCOMPARE(dst.pixel(8, 8), 0xFF000000u);
    QCOMPARE(dst.pixel(9, 8), 0xFF00FF00u);
    QCOMPARE(dst.pixel(9, 9), 0xFF00FF00u);
    QCOMPARE(dst.pixel(9, 7), 0xFF000000u);
    copyPixels(dst, QPoint(-20, -20), src, src.rect());  // wholly outside: nothing
    QCOMPARE(dst.pixel(0, 0), 0xFF000000u);
  }

  // The core reads the face without Qt, for the optional key of every
  // front end: it decodes what Qt writes in each of its BMP depths pixel
  // for pixel as Qt reads it back, and finds the optional key where the
  // window's comparison on the composite does.
  void theCoreReadsTheFaceAsTheWindowDoes() {
    const bool windowSees =
        !face_->samePixels(QPoint(tarvo::kOptionalKeyProbeX, tarvo::kOptionalKeyProbeY),
                           QPoint(tarvo::kOptionalKeyProbeX + 1, tarvo::kOptionalKeyProbeY));
    QCOMPARE(tarvo::machineHasOptionalKey("."), windowSees);

    QTemporaryDir tmp;
    std::mt19937 rng(5);
    for (const QImage::Format format : {QImage::Format_Mono, QImage::Format_Indexed8,
                                        QImage::Format_RGB888, QImage::Format_RGB32}) {
      QImage source(37, 13, QImage::Format_RGB32);
      for (int y = 0; y < source.height(); ++y)
        for (int x = 0; x < source.width(); ++x)
          source.setPixel(x, y, 0xFF000000u | (rng() % 4 == 0 ? 0xFFFFFFu : rng() & 0xFFFFFFu));
      const QString path = tmp.filePath(QString("face%1.bmp").arg(int(format)));
      QVERIFY(source.convertToFormat(format).save(path, "BMP"));
      QImage qt;
      QVERIFY(qt.load(path));
      const auto core = tarvo::readBmp(path.toStdString());
      QVERIFY(core.has_value());
      QCOMPARE(core->width, qt.width());
      QCOMPARE(core->height, qt.height());
      for (int y = 0; y < qt.height(); ++y)
        for (int x = 0; x < qt.width(); ++x)
          QCOMPARE(core->pixel(x, y), qt.pixel(x, y) & 0xFFFFFFu);
    }
  }
  void overlappingCopyWithinOneImageReadsTheOriginal() {
    QImage img(5, 1, QImage::Format_RGB32);
    for (int x = 0; x < 5; ++x) img.setPixel(x, 0, qRgb(x, 0, 0));
    copyPixels(img, QPoint(1, 0), img, QRect(0, 0, 4, 1));
    for (int x = 1; x < 5; ++x) QCOMPARE(qRed(img.pixel(x, 0)), x - 1);
  }

 private:
  std::unique_ptr<guitest::MachineDir> dir_;
  std::unique_ptr<Face> face_;
};

QTEST_MAIN(FaceTest)
#include "face_test.moc"
