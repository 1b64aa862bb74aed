// The window on the desktop: zoom with the mouse mapped back onto the face,
// the LCD kept dot for dot, screenshots and the clipboard image, the
// context menu, paste with Escape to cancel, and the remembered view.
#include <gif_lib.h>

#include <QClipboard>
#include <QMenu>
#include <QSettings>
#include <QtTest>

#include "frontpanel/keymap.h"
#include "frontpanel/typist.h"
#include "machine.h"
#include "main_form.h"
#include "test_support.h"

using guitest::MachineDir;

namespace {

class TestForm : public TMainForm {
 protected:
  void startWindowDrag() override {}
  void minimiseApplication() override {}
};

void start(TMainForm& form) {
  form.show();
  form.runLoop().run.stopFlag = 1;
}

// An LCD with a pattern of dark dots that no scaling could blur unseen.
void drawPattern(TMainForm& form) {
  tarvo::Lcd& lcd = form.machine().lcd;
  lcd.control = 0x80;
  lcd.displayOn = 1;
  for (int i = 0; i < tarvo::Lcd::kNibbles; i += 3) {
    lcd.memory[0][i] = static_cast<uint8_t>((i * 7) & 0xF);
    lcd.memory[1][i] = static_cast<uint8_t>((i * 5) & 0xF);
  }
  form.OnRefreshTimer();
}

QImage grabbed(TMainForm& form, QRect area) {
  return form.grab(area).toImage().convertToFormat(QImage::Format_RGB32);
}

}  // namespace

class DesktopTest : public QObject {
  Q_OBJECT

  QTemporaryDir home_;

 private slots:
  void initTestCase() {
    // Settings and pictures go to a scratch folder, never the user's.
    QVERIFY(home_.isValid());
    qputenv("XDG_CONFIG_HOME", home_.filePath("config").toUtf8());
    QDir().mkpath(home_.filePath("config"));
    QFile dirs(home_.filePath("config/user-dirs.dirs"));
    QVERIFY(dirs.open(QIODevice::WriteOnly));
    dirs.write("XDG_PICTURES_DIR=\"" + home_.filePath("pictures").toUtf8() + "\"\n");
    dirs.close();
    QCoreApplication::setOrganizationName("tarvo-test");
    QCoreApplication::setApplicationName("tarvo-test");
  }

  void keysHitWhereTheyAreDrawn_data() {
    QTest::addColumn<int>("zoom");
    QTest::newRow("2x") << 2;
    QTest::newRow("3x") << 3;
  }
  void keysHitWhereTheyAreDrawn() {
    QFETCH(int, zoom);
    MachineDir dir;
    TestForm form;
    start(form);
    form.setZoom(zoom);
    QCOMPARE(form.size(), QSize(673 * zoom, 294 * zoom));
    for (int code = 1; code <= tarvo::kHighestKey; ++code) {
      const tarvo::KeyHit key = tarvo::keyPosition(code);
      const tarvo::KeyGroup& g = tarvo::kKeyGroups[key.group];
      const QPoint centre((2 * key.x + g.width) * zoom / 2, (2 * key.y + g.height) * zoom / 2);
      QTest::mousePress(&form, Qt::LeftButton, {}, centre);
      QCOMPARE(form.machine().keys.mouseKey, code);
      form.FormDeactivate();  // let go without the key's action
      QCOMPARE(form.machine().keys.mouseKey, 0);
    }
    // The pixel just right of key 4 lies in the gap to key 5.
    const tarvo::KeyHit four = tarvo::keyPosition(4);
    QTest::mousePress(&form, Qt::LeftButton, {}, QPoint((four.x + 33) * zoom, (four.y + 5) * zoom));
    QCOMPARE(form.machine().keys.mouseKey, 0);
    // The right button presses nothing.
    QTest::mousePress(&form, Qt::RightButton, {}, QPoint((four.x + 5) * zoom, (four.y + 5) * zoom));
    QCOMPARE(form.machine().keys.mouseKey, 0);
  }

  void lcdIsScaledDotForDot() {
    MachineDir dir;
    TestForm form;
    start(form);
    drawPattern(form);
    const QImage one = grabbed(form, QRect(63, 45, 384, 64));
    QCOMPARE(form.lcdPicture(), one);
    for (int zoom : {2, 3, 4}) {
      form.setZoom(zoom);
      const QImage expected =
          one.scaled(one.size() * zoom, Qt::IgnoreAspectRatio, Qt::FastTransformation);
      QCOMPARE(grabbed(form, QRect(QPoint(63, 45) * zoom, one.size() * zoom)), expected);
      QCOMPARE(form.lcdPicture(), expected);
    }
    // Back to 1x the face is the composite again, pixel for pixel.
    QTest::keyClick(&form, Qt::Key_0, Qt::ControlModifier);
    QCOMPARE(form.zoom(), 1);
    QCOMPARE(grabbed(form, form.rect()), form.face().composite());
  }

  void zoomKeysStayWithinOneToFour() {
    MachineDir dir;
    TestForm form;
    start(form);
    QTest::keyClick(&form, Qt::Key_Minus, Qt::ControlModifier);
    QCOMPARE(form.zoom(), 1);
    for (int i = 0; i < 5; ++i) QTest::keyClick(&form, Qt::Key_Equal, Qt::ControlModifier);
    QCOMPARE(form.zoom(), 4);
    QCOMPARE(form.size(), QSize(4 * 673, 4 * 294));
    QTest::keyClick(&form, Qt::Key_Minus, Qt::ControlModifier);
    QCOMPARE(form.zoom(), 3);
    QTest::keyClick(&form, Qt::Key_Plus, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(form.zoom(), 4);
    QCOMPARE(form.machine().keys.hostKey, 0);  // none of them typed
  }

  void screenshotsAndClipboardImage() {
    MachineDir dir;
    TestForm form;
    start(form);
    drawPattern(form);
    form.setZoom(2);
    QTest::keyClick(&form, Qt::Key_F12);
    const QString lcdFile = form.notice().section(' ', 1);
    QVERIFY2(lcdFile.startsWith(home_.filePath("pictures") + "/tarvo-lcd-"), qPrintable(lcdFile));
    QVERIFY(lcdFile.endsWith(".png"));
    QCOMPARE(QImage(lcdFile).convertToFormat(QImage::Format_RGB32), form.lcdPicture());
    QCOMPARE(QImage(lcdFile).size(), QSize(768, 128));

    QTest::keyClick(&form, Qt::Key_F12, Qt::ShiftModifier);
    const QString faceFile = form.notice().section(' ', 1);
    QVERIFY(faceFile.contains("/tarvo-face-"));
    const QImage face(faceFile);
    QCOMPARE(face.size(), QSize(1346, 588));
    form.showNotice(QString());  // the window as the picture shows it
    QCOMPARE(face.convertToFormat(QImage::Format_RGB32), grabbed(form, form.rect()));

    // A second shot within the same second gets a name of its own.
    QTest::keyClick(&form, Qt::Key_F12);
    QVERIFY(form.notice().section(' ', 1) != lcdFile);

    QTest::keyClick(&form, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(QApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32),
             form.lcdPicture());
    QCOMPARE(form.machine().keys.hostKey, 0);
  }

  void f10RecordsTheLcdAsGif() {
    MachineDir dir;
    TestForm form;
    start(form);
    form.setZoom(2);
    form.OnRefreshTimer();  // the grey LCD, before the recording
    QTest::keyClick(&form, Qt::Key_F10);
    QVERIFY(form.recording());
    const QString file = form.notice().section(' ', 1);
    QVERIFY2(file.endsWith(".gif"), qPrintable(file));
    form.OnRefreshTimer();  // grey
    drawPattern(form);      // the pattern ...
    form.OnRefreshTimer();  // ... shown for two refreshes
    form.machine().lcd.memory[0][0] ^= 0xF;
    form.OnRefreshTimer();  // one dot column changed
    QTest::keyClick(&form, Qt::Key_F10);
    QVERIFY(!form.recording());
    QCOMPARE(form.notice(), "Saved " + file);

    int error = 0;
    GifFileType* gif = DGifOpenFileName(file.toLocal8Bit().constData(), &error);
    QVERIFY(gif);
    QCOMPARE(DGifSlurp(gif), GIF_OK);
    QCOMPARE(gif->SWidth, 768);
    QCOMPARE(gif->SHeight, 128);
    QCOMPARE(gif->ImageCount, 3);
    QList<int> delays;
    for (int i = 0; i < gif->ImageCount; ++i) {
      GraphicsControlBlock control;
      DGifSavedExtensionToGCB(gif, i, &control);
      delays << control.DelayTime;
    }
    QCOMPARE(delays, QList<int>({5, 10, 5}));
    // The middle frame is the LCD as the window showed it, dot for dot.
    const QImage lcd = form.lcdPicture();
    const GifByteType* bits = gif->SavedImages[1].RasterBits;
    int dark = 0;
    for (int y = 0; y < 128; y += 3)
      for (int x = 0; x < 768; x += 3) {
        const bool isDark = (lcd.pixel(x, y) & 0xFFFFFF) == 0;
        if (x >= 2 * 8 || y >= 2 * 8) QCOMPARE(bits[y * 768 + x] == 0, isDark);
        dark += isDark;
      }
    QVERIFY(dark > 100);
    DGifCloseFile(gif, &error);
  }

  void contextMenuListsEveryActionWithItsKey() {
    MachineDir dir;
    TestForm form;
    start(form);
    std::unique_ptr<QMenu> menu(form.createContextMenu());
    QStringList entries;
    std::function<void(const QMenu*)> collect = [&](const QMenu* m) {
      for (const QAction* a : m->actions()) {
        if (a->menu()) collect(a->menu());
        if (!a->text().isEmpty())
          entries << a->text() + "|" + a->shortcut().toString(QKeySequence::PortableText);
      }
    };
    collect(menu.get());
    for (const char* expected : {"Zoom In|Ctrl++",
                                 "Zoom Out|Ctrl+-",
                                 "Actual Size|Ctrl+0",
                                 "2x|",
                                 "Save LCD Screenshot|F12",
                                 "Save Face Screenshot|Shift+F12",
                                 "Copy LCD Text|Ctrl+C",
                                 "Copy LCD Image|Ctrl+Shift+C",
                                 "Record LCD|F10",
                                 "Paste as Typing|Ctrl+V",
                                 "Cancel Paste|Esc",
                                 "Debug Window|F3",
                                 "Power-On Reset|F9",
                                 "Swap Key Labels|F2",
                                 "Quick Save|F5",
                                 "Quick Load|F7",
                                 "Save to Slot 1|Shift+F5",
                                 "Load from Slot 1|Shift+F7",
                                 "Next Slot|F6",
                                 "Rewind (hold)|F4",
                                 "Record Input|F1",
                                 "Replay Input|Shift+F1"})
      QVERIFY2(entries.contains(expected), expected);
    // A save-state entry does what its key does.
    for (QAction* a : menu->actions()) {
      if (a->text() == "Quick Save") a->trigger();
    }
    QCOMPARE(form.notice(), QString("Saved quick.tst"));
    // The zoom entry of the current zoom is ticked; choosing another zooms.
    QMenu* zoom = menu->actions().first()->menu();
    QVERIFY(zoom->actions().at(0)->isChecked());
    zoom->actions().at(2)->trigger();
    QCOMPARE(form.zoom(), 3);
  }

  void rightButtonAndMenuKeyOpenTheMenu() {
    MachineDir dir;
    TestForm form;
    start(form);
    form.setZoom(3);
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // The right button on a key, which it leaves alone, through the window
    // as the platform delivers it.
    QTest::mousePress(form.windowHandle(), Qt::RightButton, {}, QPoint(20, 170) * 3);
    QTRY_VERIFY(QApplication::activePopupWidget());
    QCOMPARE(form.machine().keys.mouseKey, 0);
    QApplication::activePopupWidget()->close();
    QTRY_VERIFY(!QApplication::activePopupWidget());
    QTest::keyClick(&form, Qt::Key_Menu);
    QTRY_VERIFY(QApplication::activePopupWidget());
    QApplication::activePopupWidget()->close();
  }

  void pasteSkipsWhatHasNoKeyAndEscapeCancels() {
    MachineDir dir;
    TestForm form;
    start(form);
    form.runLoop().run.stopFlag = 0;  // the test ROM never reads the keys
    QApplication::clipboard()->setText(QString::fromUtf8("q w\n\xE2\x82\xAC~"));
    QTest::keyClick(&form, Qt::Key_V, Qt::ControlModifier);
    QVERIFY(form.pasting());
    QVERIFY2(form.notice().contains("4 keys") && form.notice().contains("2 characters"),
             qPrintable(form.notice()));
    // Typing on the host keyboard meanwhile changes nothing.
    QTest::keyClick(&form, 'e');
    QVERIFY(form.machine().keys.hostKey != 18);
    QTest::keyClick(&form, Qt::Key_Escape);
    QVERIFY(!form.pasting());
    QCOMPARE(form.notice(), QString("Paste cancelled"));
    QCOMPARE(form.machine().keys.hostKey, 0);
    // Without a paste Escape is the BRK key again.
    QTest::keyPress(&form, Qt::Key_Escape);
    QCOMPARE(form.machine().keys.hostKey, 57);
    QTest::keyRelease(&form, Qt::Key_Escape);
  }

  void zoomAndPositionAreRemembered() {
    MachineDir dir;
    QSettings().clear();
    QPoint at;
    {
      TestForm form;
      form.rememberView();
      QCOMPARE(form.zoom(), 1);
      start(form);
      form.setZoom(3);
      at = form.pos();
      form.close();
    }
    QCOMPARE(QSettings().value("window/zoom").toInt(), 3);
    {
      TestForm form;
      form.rememberView();
      QCOMPARE(form.zoom(), 3);
      QCOMPARE(form.pos(), at);
      start(form);
      form.close();
    }
    {
      TestForm form;  // a window that does not remember starts at 1x
      QCOMPARE(form.zoom(), 1);
    }
  }
};

QTEST_MAIN(DesktopTest)
#include "desktop_test.moc"
