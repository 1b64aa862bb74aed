// The debugger's keys and its window of its own, on the offscreen platform:
// a breakpoint added as text stops the run and says so on the status line,
// F10 over an ordinary instruction is the single step, bad text gives a
// message, and the specified window keeps its size and caption.
#include <QtTest>

#include "debug_form.h"
#include "frontpanel/run_loop.h"
#include "machine.h"
#include "session_window.h"

namespace {

struct NoMessages : tarvo::Messages {
  void loadFailed(const std::string&) override {}
  void saveFailed(const std::string&) override {}
};

// nop, nop, jr &H2000 at 0x2000 of segment 0.
struct Rig {
  tarvo::Machine m;
  NoMessages messages;
  tarvo::RunLoop loop{m, messages, "/nonexistent"};
  TDebugForm form{m, loop};

  Rig() {
    auto& rom1 = m.mem.rows[tarvo::kRom1Row].buffer;
    rom1[0x2000] = 0xF8;
    rom1[0x2001] = 0xF8;
    rom1[0x2002] = 0xB7;
    rom1[0x2003] = 0x83;
    m.cpu.PC = 0x2000;
    m.timers.cyclesPerTick = 9100;
    loop.showDebugger = [this] { form.show(); };
  }
  int ticksUntilShown(int n) {
    for (int i = 1; i <= n; ++i) {
      loop.runTick();
      if (form.isVisible()) return i;
    }
    return -1;
  }
  bool showActive() {
    form.show();
    form.activateWindow();
    return QTest::qWaitForWindowActive(&form);
  }
};

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
  }
};

QTEST_MAIN(DebugSessionTest)
#include "debug_session_test.moc"
