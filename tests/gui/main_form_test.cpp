// The main window on the offscreen platform: start-up and its warnings, the
// mouse on the face, the host keyboard, the LCD, the debug window, and every
// route to a close that saves the machine.
#include "main_form.h"

#include <QClipboard>
#include <QtTest>
#include <csignal>
#include <memory>

#include "debug_form.h"
#include "frontpanel/keymap.h"
#include "machine.h"
#include "shutdown_signals.h"
#include "test_support.h"

using guitest::MachineDir;

namespace {

// The window with its platform operations counted instead of carried out.
class TestForm : public TMainForm {
 public:
  int drags = 0;
  int minimises = 0;

 protected:
  void startWindowDrag() override { ++drags; }
  void minimiseApplication() override { ++minimises; }
};

// Shows the form and stops the machine's run tick, so that nothing the
// emulated program does disturbs what a test looks at.
void start(TMainForm& form) {
  form.show();
  form.runLoop().run.stopFlag = 1;
}

QRgb facePixelOnScreen(TMainForm& form, int x, int y) {
  return form.grab(QRect(x, y, 1, 1)).toImage().pixel(0, 0);
}

void press(TMainForm& form, QPoint at) {
  QTest::mousePress(&form, Qt::LeftButton, {}, at);
}
void release(TMainForm& form, QPoint at) {
  QTest::mouseRelease(&form, Qt::LeftButton, {}, at);
}
void move(TMainForm& form, QPoint at) {
  QMouseEvent e(QEvent::MouseMove, at, form.mapToGlobal(at), Qt::NoButton, Qt::LeftButton, {});
  QApplication::sendEvent(&form, &e);
}

// Records the areas the window repaints.
class PaintRecorder : public QObject {
 public:
  QRegion painted;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) painted += static_cast<QPaintEvent*>(event)->region();
    return false;
  }
};

}  // namespace

class MainFormTest : public QObject {
  Q_OBJECT

 private slots:
  void windowShapeAndTimers() {
    MachineDir dir;
    TestForm form;
    QVERIFY(form.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(form.windowTitle(), QString("Tarvo"));
    QCOMPARE(form.size(), QSize(673, 294));
    QCOMPARE(form.minimumSize(), form.maximumSize());
    QVERIFY(!form.runTimer().isActive());
    start(form);
    QVERIFY(form.runTimer().isActive());
    QVERIFY(form.refreshTimer().isActive());
    QVERIFY(form.secTimer().isActive());
    QCOMPARE(form.runTimer().interval(), 10);
    QCOMPARE(form.runTimer().timerType(), Qt::PreciseTimer);
    QCOMPARE(form.refreshTimer().interval(), 50);
    QCOMPARE(form.secTimer().interval(), 1000);
    QCOMPARE(form.machine().cpu.F, uint8_t(0x08));
    QCOMPARE(form.machine().timers.cyclesPerTick, 9100);
  }

  void runTimerDrivesTheMachine() {
    MachineDir dir;
    TestForm form;
    form.show();
    const uint64_t before = form.runLoop().stepsRun();
    QTRY_VERIFY(form.runLoop().stepsRun() > before);
    const uint8_t tm = form.machine().cpu.TM;
    QTRY_VERIFY_WITH_TIMEOUT(form.machine().cpu.TM != tm, 3000);
  }

  void noRunTickFreezesTheWindow() {
    // Two billion cycles a tick: the tick gives up after its host time.
    MachineDir dir;
    dir.writeFile("tarvo.ini", "[Settings]\nOscFreq=200000000\n");
    TestForm form;
    form.show();
    QCOMPARE(form.machine().timers.cyclesPerTick, 2000000000);
    QElapsedTimer host;
    host.start();
    form.OnRunTimer();
    // 100 ms allowed; generous for a loaded host, far below the seconds
    // that the whole budget would take.
    QVERIFY2(host.elapsed() < 1000, qPrintable(QString::number(host.elapsed())));
    QVERIFY(form.runLoop().stepsRun() > 0);
    QCOMPARE(form.runLoop().scheduler.cycleBudget, 0);
  }

  void missingFilesAreReportedInOrderWithoutBlocking() {
    MachineDir dir(MachineDir::Empty);
    guitest::BoxWatcher watcher;
    TestForm form;  // creation: charset and on-chip ROM
    start(form);    // show: the three bitmaps
    QCOMPARE(watcher.texts(), QStringList({
                                  "Failed to load the file charset.bin",
                                  "Failed to load the file rom0.bin",
                                  "Failed to load the file keys.bmp",
                                  "Failed to load the file overlay.bmp",
                                  "Failed to load the file face.bmp",
                              }));
    for (const auto& box : watcher.boxes()) {
      QVERIFY(box.warning);
      QVERIFY(box.okOnly);
    }
    // Without a face the probe pixels are equal: no optional key, line 0 low.
    QCOMPARE(form.highestKey(), 80);
    QCOMPARE(form.machine().port.inputLines & 0x01, 0);
  }

  void completeMachineStartsSilently() {
    MachineDir dir;
    guitest::BoxWatcher watcher;
    TestForm form;
    start(form);
    QTest::qWait(50);
    QVERIFY(watcher.texts().isEmpty());
    QCOMPARE(form.highestKey(), 81);
    QCOMPARE(form.machine().port.inputLines, uint8_t(0xFB));
    QCOMPARE(facePixelOnScreen(form, 5, 5), guitest::facePixel(5, 5));
  }

  void pressOnAKeyHoldsItsCode_data() {
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<int>("code");
    QTest::newRow("first key") << QPoint(20, 170) << 4;
    QTest::newRow("keypad 0") << QPoint(510, 260) << 73;
    QTest::newRow("past group 9, enter") << QPoint(589, 260) << 75;
    QTest::newRow("optional key") << QPoint(20, 240) << 81;
    QTest::newRow("power switch") << QPoint(5, 60) << 1;
    QTest::newRow("close") << QPoint(660, 10) << 3;
  }
  void pressOnAKeyHoldsItsCode() {
    QFETCH(QPoint, at);
    QFETCH(int, code);
    MachineDir dir;
    TestForm form;
    start(form);
    press(form, at);
    QCOMPARE(form.machine().keys.mouseKey, code);
    QCOMPARE(form.drags, 0);
  }

  void pressBesideTheKeysDragsTheWindow() {
    MachineDir dir;
    TestForm form;
    start(form);
    press(form, QPoint(55, 170));  // gap between keys 4 and 5
    QCOMPARE(form.machine().keys.mouseKey, 0);
    QCOMPARE(form.drags, 1);
    release(form, QPoint(55, 170));
    // Other buttons neither press keys nor drag.
    QTest::mousePress(&form, Qt::RightButton, {}, QPoint(20, 170));
    QCOMPARE(form.machine().keys.mouseKey, 0);
    QCOMPARE(form.drags, 1);
  }

  void withoutTheOptionalKeyItsPlaceDrags() {
    MachineDir dir(MachineDir::CompleteWithoutOptionalKey);
    TestForm form;
    start(form);
    QCOMPARE(form.highestKey(), 80);
    QCOMPARE(form.machine().port.inputLines & 0x01, 0);
    press(form, QPoint(20, 240));
    QCOMPARE(form.machine().keys.mouseKey, 0);
    QCOMPARE(form.drags, 1);
  }

  void pressedKeyIsDrawnAndReleasedAtButtonUp() {
    MachineDir dir;
    TestForm form;
    start(form);
    press(form, QPoint(20, 170));
    QCOMPARE(facePixelOnScreen(form, 18, 165), guitest::pressedFrameColour(22, 46));
    QCOMPARE(facePixelOnScreen(form, 30, 175), guitest::facePixel(29, 174));  // shifted
    release(form, QPoint(20, 170));
    QCOMPARE(form.machine().keys.mouseKey, 0);
    QCOMPARE(facePixelOnScreen(form, 18, 165), guitest::releasedFrameColour(22, 46));
    QCOMPARE(facePixelOnScreen(form, 30, 175), guitest::facePixel(30, 175));
  }

  void mousePressRunsTheKeyInterruptCheck() {
    MachineDir dir;
    TestForm form;
    start(form);
    tarvo::ProcessorState& c = form.machine().cpu;
    c.IA = 0xB2;  // key interrupts on, every return line, strobe 2 (key 4)
    c.IE = 0x40;  // request 3 enabled
    c.IB = 0;
    press(form, QPoint(55, 170));  // nothing hit: no request
    QCOMPARE(c.IB & 0x08, 0);
    press(form, QPoint(20, 170));
    QCOMPARE(c.IB & 0x08, 0x08);
  }

  void slidingOffAKeyReleasesItAndCancelsTheAction() {
    MachineDir dir;
    TestForm form;
    start(form);
    press(form, QPoint(660, 10));  // close key
    move(form, QPoint(662, 12));   // still on it
    QCOMPARE(form.machine().keys.mouseKey, 3);
    move(form, QPoint(600, 10));
    QCOMPARE(form.machine().keys.mouseKey, 0);
    QCOMPARE(facePixelOnScreen(form, 654, 2), guitest::releasedFrameColour(130, 25));
    release(form, QPoint(600, 10));
    QVERIFY(!form.isClosed());
    QVERIFY(form.isVisible());
  }

  void powerSwitchTogglesWakesAndCancels() {
    MachineDir dir;
    TestForm form;
    start(form);
    tarvo::ProcessorState& c = form.machine().cpu;
    const QRgb on = guitest::pressedFrameColour(0, 0);
    const QRgb off = guitest::releasedFrameColour(0, 0);
    // Held: shows where it will go. Released: where it is.
    press(form, QPoint(5, 60));
    QCOMPARE(facePixelOnScreen(form, 0, 27), off);
    release(form, QPoint(5, 60));
    QCOMPARE(c.F & 0x08, 0);
    QCOMPARE(facePixelOnScreen(form, 0, 27), off);
    QCOMPARE(facePixelOnScreen(form, 5, 60), guitest::facePixel(5, 60));  // never shifted

    c.powerOff = true;
    press(form, QPoint(5, 60));
    QCOMPARE(facePixelOnScreen(form, 0, 27), on);
    release(form, QPoint(5, 60));
    QCOMPARE(c.F & 0x08, 0x08);
    QVERIFY(!c.powerOff);  // switching on wakes the processor
    QCOMPARE(facePixelOnScreen(form, 0, 27), on);

    // Sliding off cancels the toggle and shows the actual position.
    press(form, QPoint(5, 60));
    QCOMPARE(facePixelOnScreen(form, 0, 27), off);
    move(form, QPoint(30, 60));
    QCOMPARE(facePixelOnScreen(form, 0, 27), on);
    release(form, QPoint(30, 60));
    QCOMPARE(c.F & 0x08, 0x08);
  }

  void wakeKeyWakesOnlyFromTheMouse() {
    MachineDir dir;
    TestForm form;
    start(form);
    tarvo::ProcessorState& c = form.machine().cpu;
    c.powerOff = true;
    QTest::keyPress(&form, Qt::Key_Escape);
    QCOMPARE(form.machine().keys.hostKey, 57);
    QVERIFY(c.powerOff);
    QTest::keyRelease(&form, Qt::Key_Escape);
    press(form, QPoint(510, 115));  // key 57, first of group 9
    QCOMPARE(form.machine().keys.mouseKey, 57);
    QVERIFY(c.powerOff);  // only the button going up wakes
    release(form, QPoint(510, 115));
    QVERIFY(!c.powerOff);
  }

  void minimiseKey() {
    MachineDir dir;
    TestForm form;
    start(form);
    press(form, QPoint(640, 8));
    QCOMPARE(form.machine().keys.mouseKey, 2);
    QCOMPARE(form.minimises, 0);
    release(form, QPoint(640, 8));
    QCOMPARE(form.minimises, 1);
    QCOMPARE(form.machine().keys.mouseKey, 0);
  }

  void minimiseKeyMinimisesTheRealWindow() {
    MachineDir dir;
    TMainForm form;
    start(form);
    press(form, QPoint(640, 8));
    release(form, QPoint(640, 8));
    QVERIFY(form.isMinimized());
  }

  void hostCharacters_data() {
    QTest::addColumn<char>("ch");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<int>("code");
    QTest::newRow("q") << 'q' << Qt::KeyboardModifiers() << 16;
    QTest::newRow("Q") << 'Q' << Qt::KeyboardModifiers(Qt::ShiftModifier) << 16;
    QTest::newRow("a") << 'a' << Qt::KeyboardModifiers() << 27;
    QTest::newRow("quote") << '\'' << Qt::KeyboardModifiers() << 5;
    QTest::newRow("space") << ' ' << Qt::KeyboardModifiers() << 48;
    QTest::newRow("7") << '7' << Qt::KeyboardModifiers() << 61;
    QTest::newRow("dot") << '.' << Qt::KeyboardModifiers() << 74;
    QTest::newRow("no key") << '!' << Qt::KeyboardModifiers() << 0;
  }
  void hostCharacters() {
    QFETCH(char, ch);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(int, code);
    MachineDir dir;
    TestForm form;
    start(form);
    QTest::keyPress(&form, ch, modifiers);
    QCOMPARE(form.machine().keys.hostKey, code);
    QTest::keyRelease(&form, ch, modifiers);
    QCOMPARE(form.machine().keys.hostKey, 0);
  }

  void mappedCharacterHoldsItsKeysUntilReleased() {
    MachineDir dir;
    dir.writeFile("charmap.txt", "\" 47+28\n");
    TestForm form;
    start(form);
    tarvo::ProcessorState& c = form.machine().cpu;
    c.IA = 0xBD;
    c.IE = 0x40;
    c.IB = 0;
    QTest::keyPress(&form, '"');
    QCOMPARE(form.machine().keys.chordKey, 47);
    QCOMPARE(form.machine().keys.hostKey, 28);
    QCOMPARE(c.IB & 0x08, 0x08);
    QTest::keyRelease(&form, '"');
    QCOMPARE(form.machine().keys.chordKey, 0);
    QCOMPARE(form.machine().keys.hostKey, 0);
    // The host table still comes first.
    QTest::keyPress(&form, 'q');
    QCOMPARE(form.machine().keys.mouseKey, 0);
    QCOMPARE(form.machine().keys.hostKey, 16);
  }

  void characterRunsTheKeyInterruptCheck() {
    MachineDir dir;
    TestForm form;
    start(form);
    tarvo::ProcessorState& c = form.machine().cpu;
    c.IA = 0xB2;  // strobe 2 holds q (key 16)
    c.IE = 0x40;
    c.IB = 0;
    QTest::keyPress(&form, Qt::Key_Left);  // a special key only sets the code
    QCOMPARE(c.IB & 0x08, 0);
    QTest::keyPress(&form, 'q');
    QCOMPARE(c.IB & 0x08, 0x08);
  }

  void specialHostKeys_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("code");
    QTest::newRow("Backspace") << int(Qt::Key_Backspace) << 59;
    QTest::newRow("Enter") << int(Qt::Key_Return) << 75;
    QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << 75;
    QTest::newRow("Escape") << int(Qt::Key_Escape) << 57;
    QTest::newRow("Page Up") << int(Qt::Key_PageUp) << 15;
    QTest::newRow("Page Down") << int(Qt::Key_PageDown) << 46;
    QTest::newRow("Left") << int(Qt::Key_Left) << 53;
    QTest::newRow("Up") << int(Qt::Key_Up) << 50;
    QTest::newRow("Right") << int(Qt::Key_Right) << 55;
    QTest::newRow("Down") << int(Qt::Key_Down) << 54;
    QTest::newRow("Insert") << int(Qt::Key_Insert) << 49;
    QTest::newRow("Delete") << int(Qt::Key_Delete) << 51;
    QTest::newRow("F8") << int(Qt::Key_F8) << 82;
    QTest::newRow("Tab") << int(Qt::Key_Tab) << 0;
  }
  void specialHostKeys() {
    QFETCH(int, key);
    QFETCH(int, code);
    MachineDir dir;
    TestForm form;
    start(form);
    QTest::keyPress(&form, Qt::Key(key));
    QCOMPARE(form.machine().keys.hostKey, code);
  }

  void releasingAnyKeyLetsGoOfTheHostKey() {
    MachineDir dir;
    TestForm form;
    start(form);
    QTest::keyPress(&form, 'w');
    QTest::keyPress(&form, 'e');
    QCOMPARE(form.machine().keys.hostKey, 18);
    QTest::keyRelease(&form, 'w');
    QCOMPARE(form.machine().keys.hostKey, 0);
    // A repeating key's synthetic release does not let go.
    QKeyEvent repeatRelease(QEvent::KeyRelease, Qt::Key_E, {}, "e", true);
    QTest::keyPress(&form, 'e');
    QApplication::sendEvent(&form, &repeatRelease);
    QCOMPARE(form.machine().keys.hostKey, 18);
  }

  void deactivationReleasesBothKeys() {
    MachineDir dir;
    TestForm form;
    start(form);
    press(form, QPoint(20, 170));
    QTest::keyPress(&form, 'q');
    QEvent deactivate(QEvent::WindowDeactivate);
    QApplication::sendEvent(&form, &deactivate);
    QCOMPARE(form.machine().keys.mouseKey, 0);
    QCOMPARE(form.machine().keys.hostKey, 0);
    QCOMPARE(facePixelOnScreen(form, 18, 165), guitest::releasedFrameColour(22, 46));
  }

  void f2SwapsTheLabelsAndTwiceRestores() {
    MachineDir dir;
    TestForm form;
    start(form);
    QTest::keyClick(&form, Qt::Key_F2);
    QCOMPARE(facePixelOnScreen(form, 58, 224), guitest::kOverlayTop);
    QCOMPARE(facePixelOnScreen(form, 489, 262), guitest::kOverlayBottom);
    QTest::keyClick(&form, Qt::Key_F2);
    QCOMPARE(facePixelOnScreen(form, 58, 224), guitest::facePixel(58, 224));
    QCOMPARE(facePixelOnScreen(form, 489, 262), guitest::facePixel(489, 262));
    QCOMPARE(form.face().overlay(), guitest::makeOverlay());
  }

  void f3ShowsTheDebugWindowAndHidingResumes() {
    MachineDir dir;
    TestForm form;
    TDebugForm debug(form.machine(), form.runLoop());
    form.setDebugForm(&debug);
    form.show();
    tarvo::RunControl& run = form.runLoop().run;
    run.traceCount = 5;
    run.breakpointAddress = 0x1234;
    QTest::keyClick(&form, Qt::Key_F3);
    QVERIFY(debug.isVisible());
    QCOMPARE(debug.windowTitle(), QString("Debug Window"));
    QCOMPARE(debug.size(), QSize(633, 437));
    QCOMPARE(run.stopFlag, uint8_t(1));
    QCOMPARE(run.traceCount, -1);
    QCOMPARE(run.breakpointAddress, -1);
    // Stopped: run ticks execute nothing.
    const uint64_t steps = form.runLoop().stepsRun();
    form.OnRunTimer();
    QCOMPARE(form.runLoop().stepsRun(), steps);
    debug.hide();
    QCOMPARE(run.stopFlag, uint8_t(0));
    QCOMPARE(run.resumeDelay, 30);
  }

  void finishedTraceShowsTheDebugWindow() {
    MachineDir dir;
    TestForm form;
    TDebugForm debug(form.machine(), form.runLoop());
    form.setDebugForm(&debug);
    form.show();
    tarvo::RunControl& run = form.runLoop().run;
    run.resumeDelay = 0;
    run.traceCount = 1;
    form.OnRunTimer();
    QVERIFY(debug.isVisible());
    QCOMPARE(run.stopFlag, uint8_t(1));
  }

  void f9RunsThePowerOnSequence() {
    MachineDir dir;
    TestForm form;
    start(form);
    tarvo::Machine& m = form.machine();
    m.mem.bankA() = 3;
    m.mem.bankB() = 4;
    m.lcd.control = 0xC0;
    m.cpu.PE = 0x55;
    m.cpu.F = 0x08;
    QTest::keyClick(&form, Qt::Key_F9);
    QCOMPARE(m.mem.bankA(), uint8_t(0));
    QCOMPARE(m.mem.bankB(), uint8_t(0));
    QCOMPARE(m.lcd.control, uint8_t(0));
    QCOMPARE(m.cpu.PE, uint8_t(0));
    QCOMPARE(m.cpu.F, uint8_t(0x08));  // the power switch stays where it is
  }

  void lcdShowsDisabledClearedAndLitDots() {
    MachineDir dir;
    TestForm form;
    start(form);
    tarvo::Lcd& lcd = form.machine().lcd;
    form.OnRefreshTimer();
    const QImage off = form.grab(QRect(63, 45, 384, 64)).toImage();
    for (QPoint p : {QPoint(0, 0), QPoint(383, 63), QPoint(200, 30)})
      QCOMPARE(off.pixel(p) & 0xFFFFFF, 0xC0C0C0u);
    QCOMPARE(facePixelOnScreen(form, 62, 45), guitest::facePixel(62, 45));
    QCOMPARE(facePixelOnScreen(form, 447, 109), guitest::facePixel(447, 109));

    lcd.control = 0x80;
    lcd.displayOn = 1;
    lcd.memory[0][0] = 0x8;              // column 0, top dot of band 0
    lcd.memory[1][192 + 2 * 3 + 1] = 1;  // right half, column 3, band 1, bottom dot
    form.OnRefreshTimer();
    const QImage on = form.grab(QRect(63, 45, 384, 64)).toImage();
    auto rgb = [&on](int x, int y) { return on.pixel(x, y) & 0xFFFFFF; };
    QCOMPARE(rgb(0, 0), 0x000000u);
    QCOMPARE(rgb(1, 1), 0x000000u);
    QCOMPARE(rgb(2, 0), 0xFFFFFFu);
    QCOMPARE(rgb(0, 2), 0xFFFFFFu);
    QCOMPARE(rgb(198, 30), 0x000000u);
    QCOMPARE(rgb(199, 31), 0x000000u);
    QCOMPARE(rgb(198, 29), 0xFFFFFFu);
    QCOMPARE(rgb(383, 63), 0xFFFFFFu);

    lcd.control = 0x00;  // disabled again: uniformly grey
    form.OnRefreshTimer();
    QCOMPARE(form.grab(QRect(63, 45, 1, 1)).toImage().pixel(0, 0) & 0xFFFFFF, 0xC0C0C0u);
  }

  void ctrlCCopiesTheLcdTextAndTheDescriptionCarriesIt() {
    MachineDir dir;
    TestForm form;
    start(form);
    tarvo::Lcd& lcd = form.machine().lcd;
    // Glyph 0x14 is what the byte 0x41 ("A") writes: its nibbles exchanged.
    for (int i = 0; i < 16; ++i)
      lcd.glyphs[0x14 * 16 + i] = static_cast<uint8_t>(i % 3 ? 0xA : 0x5);
    lcd.control = 0x80;
    lcd.displayOn = 1;
    lcd.charWidth = 6;
    for (int j = 0; j < 12; ++j) lcd.memory[0][192 + j] = lcd.glyphs[0x14 * 16 + j];
    form.OnRefreshTimer();
    QCOMPARE(form.accessibleDescription(), QString("\nA\n\n"));
    QApplication::clipboard()->clear();
    QTest::keyClick(&form, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QString("\nA\n\n"));
    QCOMPARE(form.machine().keys.hostKey, 0);  // the machine saw no key
  }

  void lcdRepaintsOnlyWhatChanged() {
    MachineDir dir;
    TestForm form;
    start(form);
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    tarvo::Lcd& lcd = form.machine().lcd;
    lcd.control = 0x80;
    lcd.displayOn = 1;
    form.OnRefreshTimer();
    QTest::qWait(100);  // let the full repaint of the switch-on pass

    PaintRecorder recorder;
    form.installEventFilter(&recorder);
    form.OnRefreshTimer();  // nothing changed
    QTest::qWait(60);
    QVERIFY(recorder.painted.isEmpty());

    lcd.memory[0][2 * 10] = 0xF;  // column 10 of band 0, upper half
    form.OnRefreshTimer();
    QTRY_VERIFY(!recorder.painted.isEmpty());
    QVERIFY(QRegion(QRect(63 + 20, 45, 2, 8)).contains(recorder.painted.boundingRect()));
    QCOMPARE(facePixelOnScreen(form, 63 + 20, 45 + 7), 0xFF000000u);
  }

  void closeStopsTheMachineAndSavesTheState() {
    MachineDir dir;
    TestForm form;
    QSignalSpy closed(&form, &TMainForm::closed);
    start(form);
    form.machine().mem.rows[tarvo::kRam0Row].buffer[0x1234] = 0x5A;
    form.machine().mem.rows[tarvo::kRam1Row].buffer[7] = 0xA5;
    form.machine().cpu.R[3] = 0x77;
    form.close();
    QVERIFY(form.isClosed());
    QCOMPARE(closed.count(), 1);
    QVERIFY(!form.runTimer().isActive());
    QVERIFY(!form.refreshTimer().isActive());
    QVERIFY(!form.secTimer().isActive());
    QCOMPARE(form.runLoop().run.stopFlag, uint8_t(1));
    const QByteArray ram0 = dir.readFile("ram0.bin");
    const QByteArray ram1 = dir.readFile("ram1.bin");
    const QByteArray regs = dir.readFile("register.bin");
    QCOMPARE(ram0.size(), 65536);
    QCOMPARE(uint8_t(ram0[0x1234]), uint8_t(0x5A));
    QCOMPARE(ram1.size(), 32768);
    QCOMPARE(uint8_t(ram1[7]), uint8_t(0xA5));
    QCOMPARE(regs.size(), 36);
    QCOMPARE(uint8_t(regs[3]), uint8_t(0x77));
    QVERIFY(!QFile::exists(dir.file("rom0.bin.tmp")));
    QCOMPARE(dir.readFile("rom0.bin"), QByteArray(6144, '\0'));  // ROM never written

    // The state survives a restart.
    TestForm again;
    QCOMPARE(again.machine().mem.rows[tarvo::kRam0Row].buffer[0x1234], uint8_t(0x5A));
    QCOMPARE(again.machine().cpu.R[3], uint8_t(0x77));
  }

  void closeKeyClosesAndSaves() {
    MachineDir dir;
    TestForm form;
    start(form);
    press(form, QPoint(660, 10));
    release(form, QPoint(660, 10));
    QVERIFY(form.isClosed());
    QVERIFY(!form.isVisible());
    QCOMPARE(dir.readFile("ram0.bin").size(), 65536);
  }

  void failedSaveIsReportedAndTheCloseGoesOn() {
    MachineDir dir;
    guitest::BoxWatcher watcher;
    TestForm form;
    start(form);
    QDir(dir.path()).mkdir("ram0.bin");  // a directory cannot be replaced by a file
    form.close();
    QVERIFY(form.isClosed());
    QVERIFY(watcher.texts().contains("Failed to save the file ram0.bin"));
    QCOMPARE(dir.readFile("ram1.bin").size(), 32768);
  }

  void signalsCloseAndSave_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
  }
  void signalsCloseAndSave() {
    QFETCH(int, signalNumber);
    MachineDir dir;
    ShutdownSignals shutdown;
    QVERIFY(shutdown.installed());
    TestForm form;
    form.connectShutdown(&shutdown);
    start(form);
    form.machine().mem.rows[tarvo::kRam0Row].buffer[0] = 0x42;
    ::raise(signalNumber);
    QTRY_VERIFY(form.isClosed());
    QCOMPARE(dir.readFile("ram0.bin").left(1), QByteArray("\x42", 1));
    QCOMPARE(dir.readFile("register.bin").size(), 36);
  }

  void signalDuringAStartWarningClosesOnceStarted() {
    MachineDir dir;
    QFile::remove(dir.file("keys.bmp"));
    ShutdownSignals shutdown;
    guitest::BoxWatcher watcher;
    watcher.onBox = [](const guitest::BoxWatcher::Box&) { ::raise(SIGTERM); };
    TestForm form;
    form.connectShutdown(&shutdown);
    form.show();
    QCOMPARE(watcher.texts(), QStringList({"Failed to load the file keys.bmp"}));
    QTRY_VERIFY(form.isClosed());
    QCOMPARE(form.runTimer().isActive(), false);
    QCOMPARE(dir.readFile("register.bin").size(), 36);
  }

  void sessionEndSaves() {
    MachineDir dir;
    ShutdownSignals shutdown;
    TestForm form;
    form.connectShutdown(&shutdown);
    start(form);
    // The application quitting (as at the end of the desktop session)
    // saves even when no window was closed.
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    QVERIFY(form.isClosed());
    QCOMPARE(dir.readFile("ram1.bin").size(), 32768);
  }
};

QTEST_MAIN(MainFormTest)
#include "main_form_test.moc"
