// The debugger's keys and its window of its own, on the offscreen platform:
// a breakpoint added as text stops the run and says so on the status line,
// F10 over an ordinary instruction is the single step, bad text gives a
// message, and the specified window keeps its size and caption. With labels:
// label rows, Go to; Tab through the hex editor; the assembler's message.
#include <QTemporaryDir>
#include <QtTest>
#include <functional>

#include "debug_form.h"
#include "debug_rig.h"
#include "frontpanel/run_loop.h"
#include "machine.h"
#include "machine/operations.h"
#include "session_window.h"
#include "tools/assembler.h"

namespace {

using Rig = guitest::DebugRig;

}  // namespace

class DebugSessionTest : public QObject {
  Q_OBJECT

 private slots:
  void breakpointFromTextStopsTheRun() {
    Rig rig;
    SessionWindow* w = rig.form.sessionWindow();
    QVERIFY(!w->addFromText("zz"));
    QVERIFY(w->status().contains("zz"));
    QVERIFY(!w->addFromText("2001:$3=="));
    QVERIFY(w->addFromText("w 10000-1000F:rw"));
    QVERIFY(w->addFromText("i 3"));
    QVERIFY(w->addFromText("2001:PC==&H2001"));
    QCOMPARE(w->breakpointList()->count(), 3);
    QVERIFY(!w->isVisible());  // only a stop of its own shows it

    QVERIFY(rig.showActive());
    QTest::keyClick(&rig.form, Qt::Key_F5);  // continue
    QVERIFY(!rig.form.isVisible());
    QVERIFY(rig.ticksUntilShown(40) > 30);  // after the resume delay
    QCOMPARE(rig.m.cpu.PC, uint16_t{0x2001});
    QCOMPARE(w->status(), QString("Breakpoint 3 at 02001"));
    QVERIFY(w->isVisible());
    QVERIFY(w->breakpointList()->item(2)->text().endsWith("hits 1"));
    // The specified window is as it was.
    QCOMPARE(rig.form.size(), QSize(633, 437));
    QCOMPARE(rig.form.windowTitle(), QString("Debug Window"));
  }

  void stepKeys() {
    Rig rig;
    QVERIFY(rig.showActive());
    QTest::keyClick(&rig.form, Qt::Key_F10);  // over a nop: one step
    QCOMPARE(rig.m.cpu.PC, uint16_t{0x2001});
    QVERIFY(rig.form.isVisible());
    QVERIFY(rig.form.sessionWindow()->status().startsWith("Step done"));
    QTest::keyClick(&rig.form, Qt::Key_F11);
    QCOMPARE(rig.m.cpu.PC, uint16_t{0x2002});
    // F3's stop is the user's.
    rig.form.hide();
    rig.loop.runTick();
    rig.form.show();
    QVERIFY(rig.form.sessionWindow()->status().startsWith("Stopped by the user"));
  }

  void wheelAndEnter() {
    Rig rig;
    QVERIFY(rig.showActive());
    const uint32_t top = rig.form.model().view().binTop;
    QWheelEvent down(QPointF(20, 20), QPointF(20, 20), QPoint(), QPoint(0, -120), Qt::NoButton,
                     Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(rig.form.paintBox(tarvo::Pane::Bin), &down);
    QCOMPARE(rig.form.model().view().binTop, top + 3 * 16);
    QWheelEvent half(QPointF(20, 20), QPointF(20, 20), QPoint(), QPoint(0, 60), Qt::NoButton,
                     Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(rig.form.paintBox(tarvo::Pane::Bin), &half);
    QCOMPARE(rig.form.model().view().binTop, top + 3 * 16);  // half a notch waits
    QApplication::sendEvent(rig.form.paintBox(tarvo::Pane::Bin), &half);
    QCOMPARE(rig.form.model().view().binTop, top);

    rig.form.TraceEdit->setText("2");
    QTest::keyClick(rig.form.TraceEdit, Qt::Key_Return);
    QVERIFY(!rig.form.isVisible());  // the trace run is armed
    QVERIFY(rig.ticksUntilShown(40) > 30);
    QCOMPARE(rig.m.cpu.PC, uint16_t{0x2002});
    QVERIFY(rig.form.sessionWindow()->status().startsWith("Step done"));
  }

  // A change made while the window is open (here straight into the
  // register file, as a key on the face or F9 would change the machine)
  // is drawn without a click.
  void panesFollowTheMachineWhilePaused() {
    Rig rig;
    QVERIFY(rig.showActive());
    DebugPaintBox* pane = rig.form.paintBox(tarvo::Pane::Main);
    int paints = 0;
    const auto draw = pane->onPaint;
    pane->onPaint = [&](QPainter& p) {
      ++paints;
      draw(p);
    };
    QTest::qWait(300);
    const int idle = paints;
    QTest::qWait(300);
    QCOMPARE(paints, idle);  // nothing changed, nothing redrawn
    rig.m.cpu.R[0] = static_cast<uint8_t>(rig.m.cpu.R[0] ^ 0x5A);
    QTRY_VERIFY_WITH_TIMEOUT(paints > idle, 2000);
    // The power switch, a key on the face and the power-on reset of F9 go
    // through the machine's own operations; each is drawn too.
    const std::function<void()> changes[] = {
        [&] { tarvo::togglePowerSwitch(rig.m); },
        [&] { tarvo::pressKey(rig.m, tarvo::KeyHolder::Mouse, 40); },
        [&] { tarvo::powerOnSequence(rig.m); }};
    for (const auto& change : changes) {
      QTest::qWait(250);
      const int before = paints;
      change();
      QTRY_VERIFY_WITH_TIMEOUT(paints > before, 2000);
    }
  }

  // With labels loaded: label rows in the disassembly that a click does not
  // open, operands that name labels, and the Go to box (Ctrl+G).
  void labelsAndGoTo() {
    Rig rig;
    QTemporaryDir dir;
    QFile sym(dir.filePath("demo.sym"));
    QVERIFY(sym.open(QIODevice::WriteOnly));
    sym.write("loop 2000\nsecond 2001\ndata 0020\ncafe 2005\n");
    sym.close();
    QVERIFY(rig.form.loadSymbols(sym.fileName()));
    QVERIFY(rig.showActive());
    TDebugForm& f = rig.form;
    std::vector<std::string> rows;
    for (const auto& l : f.model().paint(tarvo::Pane::List).lines)
      rows.push_back(tarvo::lineText(l));
    QCOMPARE(rows.at(0), std::string("loop:"));
    QCOMPARE(rows.at(1).substr(0, 10), std::string("02000: nop"));
    QCOMPARE(rows.at(2), std::string("second:"));
    QVERIFY(QString::fromStdString(rows.at(4)).endsWith("loop"));  // jr back to the label

    const QSize c = f.cell();
    auto click = [&](tarvo::Pane p, int row, int col) {
      QTest::mouseClick(f.paintBox(p), Qt::LeftButton, {},
                        QPoint(col * c.width() + c.width() / 2, row * c.height() + c.height() / 2));
    };
    QLineEdit* list = f.paneEdit(tarvo::Pane::List);
    click(tarvo::Pane::List, 2, 9);  // a label row
    QCOMPARE(list->width(), 0);
    click(tarvo::Pane::List, 3, 9);  // the line the label names
    QCOMPARE(list->y(), 16 + 3 * c.height());
    QCOMPARE(f.model().view().editTarget, 0x2001);
    QTest::keyClick(list, Qt::Key_Escape);

    // Go to a label in the disassembly; a bad name keeps the box open and
    // says why on the status line; Escape closes it.
    QVERIFY(!f.goToEdit()->isVisible());
    QTest::keyClick(list, Qt::Key_G, Qt::ControlModifier);
    QVERIFY(f.goToEdit()->isVisible());
    QVERIFY(f.goToEdit()->hasFocus());
    QTest::keyClicks(f.goToEdit(), "second+2");
    QTest::keyClick(f.goToEdit(), Qt::Key_Return);
    QVERIFY(!f.goToEdit()->isVisible());
    QCOMPARE(f.model().view().listTop, 0x02003u);
    QVERIFY(list->hasFocus());
    // A label spelled with hex digits only is the label; &H makes a number.
    for (const auto& [text, top] : {std::pair{"cafe", 0x02005u}, std::pair{"&Hcafe", 0x0CAFEu}}) {
      QTest::keyClick(list, Qt::Key_G, Qt::ControlModifier);
      QTest::keyClicks(f.goToEdit(), text);
      QTest::keyClick(f.goToEdit(), Qt::Key_Return);
      QCOMPARE(f.model().view().listTop, top);
    }
    QTest::keyClick(list, Qt::Key_G, Qt::ControlModifier);
    QTest::keyClicks(f.goToEdit(), "second+2");
    QTest::keyClick(f.goToEdit(), Qt::Key_Return);
    QTest::keyClick(list, Qt::Key_G, Qt::ControlModifier);
    QTest::keyClicks(f.goToEdit(), "nowhere");
    QTest::keyClick(f.goToEdit(), Qt::Key_Return);
    QVERIFY(f.goToEdit()->isVisible());
    QCOMPARE(f.sessionWindow()->status(), QString("unknown label 'nowhere'"));
    QTest::keyClick(f.goToEdit(), Qt::Key_Escape);
    QVERIFY(!f.goToEdit()->isVisible());
    QCOMPARE(f.model().view().listTop, 0x02003u);

    // With the hex editor active, Go to moves the hex view.
    click(tarvo::Pane::Bin, 3, 40);
    QTest::keyClick(f.paneEdit(tarvo::Pane::Bin), Qt::Key_G, Qt::ControlModifier);
    QTest::keyClicks(f.goToEdit(), "2A345");
    QTest::keyClick(f.goToEdit(), Qt::Key_Return);
    QCOMPARE(f.model().view().binTop, 0x2A340u);
    QCOMPARE(f.model().activeGroup(), tarvo::Group::Bin);
    QCOMPARE(f.size(), QSize(633, 437));

    // The Breakpoints window takes labels for breakpoints and for both ends
    // of a watched range (in the code's segment, here segment 1), and a
    // label-HEX end does not split the range.
    rig.m.cpu.segmentLatch = 1;
    SessionWindow* w = f.sessionWindow();
    QVERIFY(w->addFromText("second"));
    QVERIFY(w->addFromText("w data-data+3:rw"));
    QVERIFY(w->addFromText("w data-2-data"));
    QVERIFY(w->addFromText("w 2A000-2A001"));
    QVERIFY(!w->addFromText("w data-nowhere"));
    QCOMPARE(w->status(), QString("unknown label 'nowhere'"));
    QCOMPARE(w->breakpointList()->item(0)->text(), QString("1  at 12001 (second)  hits 0"));
    QCOMPARE(w->breakpointList()->item(1)->text(), QString("2  access 10020-10023  hits 0"));
    QCOMPARE(w->breakpointList()->item(2)->text(), QString("3  write 1001E-10020  hits 0"));
    QCOMPARE(w->breakpointList()->item(3)->text(), QString("4  write 2A000-2A001  hits 0"));
  }

  // Tab commits a hex byte or character as Enter does and opens the next
  // one, so that a row is typed in one go; Shift+Tab goes back.
  void tabThroughTheHexEditor() {
    Rig rig;
    QVERIFY(rig.showActive());
    TDebugForm& f = rig.form;
    const QSize c = f.cell();
    QLineEdit* bin = f.paneEdit(tarvo::Pane::Bin);
    auto& ram0 = rig.m.mem.rows[tarvo::kRam0Row].buffer;
    QTest::mouseClick(f.paintBox(tarvo::Pane::Bin), Qt::LeftButton, {},
                      QPoint(7 * c.width() + 2, 1 * c.height() + 2));
    for (const char* byte : {"C3", "a5", "7", "00"}) {
      QTest::keyClicks(bin, byte);
      QTest::keyClick(bin, Qt::Key_Tab);
    }
    QCOMPARE(ram0[0x10], uint8_t{0xC3});
    QCOMPARE(ram0[0x11], uint8_t{0xA5});
    QCOMPARE(ram0[0x12], uint8_t{0x07});
    QCOMPARE(ram0[0x13], uint8_t{0x00});
    QVERIFY(bin->hasFocus());
    QCOMPARE(bin->geometry(),
             QRect(8 + (7 + 3 * 4) * c.width(), 16 + c.height(), 2 * c.width(), c.height()));
    QTest::keyClick(bin, Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(f.model().view().editTarget, 0x10013);
    QTest::keyClicks(bin, "EE");
    QTest::keyClick(bin, Qt::Key_Return);  // Enter commits and closes
    QCOMPARE(ram0[0x13], uint8_t{0xEE});
    QCOMPARE(bin->width(), 0);

    // Characters.
    QTest::mouseClick(f.paintBox(tarvo::Pane::Bin), Qt::LeftButton, {},
                      QPoint(55 * c.width() + 2, 2 * c.height() + 2));
    for (const char* ch : {"h", "i", "!"}) {
      QTest::keyClicks(bin, ch);
      QTest::keyClick(bin, Qt::Key_Tab);
    }
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(&ram0[0x20]), 3), QByteArray("hi!"));
    QCOMPARE(f.model().view().editMode, tarvo::EditMode::HexCharacter);
    QCOMPARE(bin->x(), 8 + 58 * c.width());
  }

  // An instruction that cannot be assembled says why on the status line; a
  // line that goes in puts the stop back.
  void assemblerMessage() {
    Rig rig;
    QVERIFY(rig.showActive());
    TDebugForm& f = rig.form;
    const QSize c = f.cell();
    QLineEdit* list = f.paneEdit(tarvo::Pane::List);
    QTest::mouseClick(f.paintBox(tarvo::Pane::List), Qt::LeftButton, {},
                      QPoint(8 * c.width() + 2, 1 * c.height() + 2));
    QTest::keyClicks(list, "ld $1,$32");
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(list->cursorPosition(), 9);
    const tarvo::AsmResult r = tarvo::assembleEditLine("ld $1,$32", 0x2001, false);
    QCOMPARE(f.sessionWindow()->status(),
             QString("Error at column 10: %1").arg(QString::fromStdString(r.message)));
    QVERIFY(!QApplication::activeModalWidget());
    list->selectAll();
    QTest::keyClicks(list, "rtn");
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(list->width(), 0);
    QVERIFY(f.sessionWindow()->status().startsWith("Stopped by the user"));
    QCOMPARE(rig.m.mem.rows[tarvo::kRom1Row].buffer[0x2001], uint8_t{0xF7});
  }

  // The strip below the hex editor tells why the machine stopped and what
  // the assembler did not take, with the Breakpoints window closed; Go to
  // takes a short address in the code's segment and says beside the box
  // what it cannot use.
  void theDebugWindowSaysWhatItIsDoing() {
    Rig rig;
    TDebugForm& f = rig.form;
    SessionWindow* w = f.sessionWindow();
    QVERIFY(w->addFromText("2002"));
    QVERIFY(rig.showActive());
    QCOMPARE(f.statusText(), w->status());
    QTest::keyClick(&f, Qt::Key_F5);
    QVERIFY(rig.ticksUntilShown(40) > 30);
    QCOMPARE(f.statusText(), QString("Breakpoint 1 at 02002"));
    w->hide();

    // A trace run of the Run button ends with the step it stopped after.
    QTest::keyClicks(f.TraceEdit, "2");
    QTest::mouseClick(f.TraceButton, Qt::LeftButton);
    QVERIFY(rig.ticksUntilShown(40) > 30);
    QCOMPARE(f.statusText(), QString::fromStdString(f.session().stopText()));
    QVERIFY(f.statusText().startsWith("Step done"));

    const QSize c = f.cell();
    QLineEdit* list = f.paneEdit(tarvo::Pane::List);
    QTest::mouseClick(f.paintBox(tarvo::Pane::List), Qt::LeftButton, {},
                      QPoint(8 * c.width() + 2, 1 * c.height() + 2));
    QTest::keyClicks(list, "ld $1,$32");
    QTest::keyClick(list, Qt::Key_Return);
    QVERIFY(!w->isVisible());
    QVERIFY2(f.statusText().startsWith("Error at column 10: "), qPrintable(f.statusText()));
    QTest::keyClick(list, Qt::Key_Escape);

    QTest::keyClick(&f, Qt::Key_G, Qt::ControlModifier);
    QVERIFY(f.goToEdit()->isVisible());
    QVERIFY(!f.findChild<QLabel*>("StatusStrip")->isVisible());
    QTest::keyClicks(f.goToEdit(), "4500");
    QTest::keyClick(f.goToEdit(), Qt::Key_Return);
    QCOMPARE(f.model().view().listTop, 0x04500u);  // the code runs in segment 0
    QTest::keyClick(&f, Qt::Key_G, Qt::ControlModifier);
    QTest::keyClicks(f.goToEdit(), "20000");
    QTest::keyClick(f.goToEdit(), Qt::Key_Return);
    QVERIFY(f.goToEdit()->isVisible());
    QCOMPARE(f.goToError(), QString("20000: no memory there"));
    QCOMPARE(f.model().view().listTop, 0x04500u);
    QTest::keyClick(f.goToEdit(), Qt::Key_Escape);
    QVERIFY(f.findChild<QLabel*>("StatusStrip")->isVisible());
    QCOMPARE(f.size(), QSize(633, 437));
  }
};

QTEST_MAIN(DebugSessionTest)
#include "debug_session_test.moc"
