// Fast-forward: while the host's Tab key is held, a run tick of the window
// runs the emulated clock's ticks one after another for about 8 ms of host
// time; releasing Tab, or the window losing the keyboard, ends it.
#include <QElapsedTimer>
#include <QtTest>

#include "frontpanel/run_loop.h"
#include "machine.h"
#include "main_form.h"
#include "test_support.h"

using guitest::MachineDir;

namespace {

// Emulated cycles that one call of the run-timer handler ran.
int64_t cyclesOfOneRunTimer(TMainForm& form, qint64* hostNs = nullptr) {
  const int64_t before = form.runLoop().cyclesRun();
  QElapsedTimer host;
  host.start();
  form.OnRunTimer();
  if (hostNs) *hostNs = host.nsecsElapsed();
  return form.runLoop().cyclesRun() - before;
}

}  // namespace

class FastForwardTest : public QObject {
  Q_OBJECT

 private slots:
  void heldTabRunsTicksForMostOfTheHostTick() {
    MachineDir dir;
    TMainForm form;
    form.show();
    const int32_t perTick = form.machine().timers.cyclesPerTick;
    QCOMPARE(perTick, 9100);

    // Real speed: one tick's worth (plus the overshoot of its last step).
    QVERIFY(qAbs(cyclesOfOneRunTimer(form) - perTick) < 100);

    QTest::keyPress(&form, Qt::Key_Tab);
    QVERIFY(form.fastForward());
    qint64 hostNs = 0;
    const int64_t fast = cyclesOfOneRunTimer(form, &hostNs);
    QVERIFY2(hostNs >= TMainForm::kFastForwardNs, qPrintable(QString::number(hostNs)));
    // It stops once the time is used up (a loaded host may add a little).
    QVERIFY2(hostNs < 30 * TMainForm::kFastForwardNs, qPrintable(QString::number(hostNs)));
    // Whole ticks' worth, as many as the host managed in the time.
    QVERIFY2(fast >= 2 * perTick, qPrintable(QString::number(fast)));
    QVERIFY(qAbs(fast - fast / perTick * perTick) < 100 ||
            qAbs(fast - (fast / perTick + 1) * perTick) < 100);

    QTest::keyRelease(&form, Qt::Key_Tab);
    QVERIFY(!form.fastForward());
    QVERIFY(qAbs(cyclesOfOneRunTimer(form) - perTick) < 100);
  }

  void tabTypesNothing() {
    MachineDir dir;
    TMainForm form;
    form.show();
    tarvo::Machine& m = form.machine();
    form.runLoop().run.stopFlag = 1;
    m.cpu.IA = 0xB2;  // key interrupts on, strobe 2 (holds q)
    m.cpu.IE = 0x40;
    m.cpu.IB = 0;
    QTest::keyPress(&form, 'q');
    m.cpu.IB = 0;
    QTest::keyPress(&form, Qt::Key_Tab);
    QCOMPARE(m.keys.hostKey, 16);  // still q
    QCOMPARE(m.cpu.IB & 0x08, 0);  // and no key interrupt
  }

  void stoppedMachineAndResumeDelayStayOnHostTime() {
    MachineDir dir;
    TMainForm form;
    form.show();
    QTest::keyPress(&form, Qt::Key_Tab);

    form.runLoop().run.stopFlag = 1;
    QCOMPARE(cyclesOfOneRunTimer(form), int64_t{0});

    tarvo::debugHide(form.runLoop().run);  // 30 ticks skipped, one per host tick
    QCOMPARE(cyclesOfOneRunTimer(form), int64_t{0});
    QCOMPARE(form.runLoop().run.resumeDelay, tarvo::kResumeDelayTicks - 1);
  }

  void losingTheKeyboardEndsFastForward() {
    MachineDir dir;
    TMainForm form;
    form.show();
    QTest::keyPress(&form, Qt::Key_Tab);
    QVERIFY(form.fastForward());
    QEvent deactivate(QEvent::WindowDeactivate);
    QApplication::sendEvent(&form, &deactivate);
    QVERIFY(!form.fastForward());
    // A repeating Tab's synthetic release does not end it.
    QTest::keyPress(&form, Qt::Key_Tab);
    QKeyEvent repeatRelease(QEvent::KeyRelease, Qt::Key_Tab, {}, "\t", true);
    QApplication::sendEvent(&form, &repeatRelease);
    QVERIFY(form.fastForward());
  }
};

QTEST_MAIN(FastForwardTest)
#include "fast_forward_test.moc"
