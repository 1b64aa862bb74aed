// The window on a screen of device pixel ratio 2: the LCD stays dot for
// dot, the face art is scaled smoothly, and the mouse still hits every key
// where it is drawn.
#include <QtTest>

#include "frontpanel/keymap.h"
#include "machine.h"
#include "main_form.h"
#include "test_support.h"

using guitest::MachineDir;

class HiDpiTest : public QObject {
  Q_OBJECT

 private slots:
  void sharpLcdSmoothFaceAndKeysInPlace() {
    MachineDir dir;
    TMainForm form;
    form.show();
    form.runLoop().run.stopFlag = 1;
    QCOMPARE(form.devicePixelRatioF(), 2.0);
    QCOMPARE(form.size(), QSize(673, 294));  // logical pixels

    tarvo::Lcd& lcd = form.machine().lcd;
    lcd.control = 0x80;
    lcd.displayOn = 1;
    for (int i = 0; i < tarvo::Lcd::kNibbles; i += 5) lcd.memory[0][i] = 0xA;
    form.OnRefreshTimer();
    QImage shown = form.grab().toImage().convertToFormat(QImage::Format_RGB32);
    shown.setDevicePixelRatio(1);              // compare pixel by pixel
    QCOMPARE(shown.size(), QSize(1346, 588));  // device pixels
    const QImage lcdOnScreen = shown.copy(QRect(126, 90, 768, 128));
    QCOMPARE(lcdOnScreen,
             form.lcdPicture().scaled(768, 128, Qt::IgnoreAspectRatio, Qt::FastTransformation));
    // The test face has no two neighbouring pixels alike: scaled smoothly,
    // device pixels show colours that are in no face pixel beside them.
    const QImage& face = form.face().composite();
    int blended = 0;
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 60; ++x)
        if (shown.pixel(2 * x + 1, 2 * y + 1) != face.pixel(x, y)) ++blended;
    QVERIFY2(blended > 40 * 60 / 2, qPrintable(QString::number(blended)));

    for (int code : {4, 16, 48, 57, 75, 81}) {
      const tarvo::KeyHit key = tarvo::keyPosition(code);
      const tarvo::KeyGroup& g = tarvo::kKeyGroups[key.group];
      QTest::mousePress(&form, Qt::LeftButton, {},
                        QPoint(key.x + g.width / 2, key.y + g.height / 2));
      QCOMPARE(form.machine().keys.mouseKey, code);
      form.FormDeactivate();
    }
    form.close();
  }
};

int main(int argc, char** argv) {
  qputenv("QT_SCALE_FACTOR", "2");
  QApplication app(argc, argv);
  HiDpiTest test;
  QTEST_SET_MAIN_SOURCE_PATH
  return QTest::qExec(&test, argc, argv);
}

#include "hidpi_test.moc"
