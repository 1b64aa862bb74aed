// The borderless window on a desktop with a window manager, as a user meets
// it: the tarvo program on a virtual X display of 1600 x 1000 with openbox,
// the pointer and the keys driven by xdotool. Moving it by its face, and
// zooming it on a screen too small for the larger zooms.
#include <QtTest>

#include "test_support.h"

namespace {

QString run(const QString& display, const QString& program, const QStringList& args) {
  QProcess p;
  p.setProcessEnvironment(guitest::onDisplay(display));
  p.start(program, args);
  if (!p.waitForFinished(10000)) {
    p.kill();
    p.waitForFinished();
  }
  return QString::fromLocal8Bit(p.readAllStandardOutput());
}

}  // namespace

class WindowMoveTest : public QObject {
  Q_OBJECT

  guitest::VirtualDisplay screen_{"1600x1000x24"};
  QString display_, xdotool_;
  QProcess windowManager_;
  QTemporaryDir config_;

  QString xdotool(const QStringList& args) { return run(display_, xdotool_, args); }

  QPoint windowPosition(const QString& window) {
    const QString shell = xdotool({"getwindowgeometry", "--shell", window});
    QPoint at(-1, -1);
    for (const QString& line : shell.split('\n')) {
      if (line.startsWith("X=")) at.setX(line.mid(2).toInt());
      if (line.startsWith("Y=")) at.setY(line.mid(2).toInt());
    }
    return at;
  }

 private slots:
  void initTestCase() {
    xdotool_ = QStandardPaths::findExecutable("xdotool");
    const QString openbox = QStandardPaths::findExecutable("openbox");
    if (xdotool_.isEmpty() || openbox.isEmpty()) QSKIP("needs xdotool and openbox");
    display_ = screen_.display();
    if (display_.isEmpty()) QSKIP("no X server (Xvfb)");
    windowManager_.setProcessEnvironment(guitest::onDisplay(display_));
    windowManager_.start(openbox, {"--sm-disable"});
    QVERIFY(windowManager_.waitForStarted(10000));
    QTest::qWait(1500);
  }

  void cleanupTestCase() {
    if (windowManager_.state() != QProcess::NotRunning) {
      windowManager_.terminate();
      windowManager_.waitForFinished(5000);
    }
  }

  // A click beside the keys leaves the window where it is and the pointer
  // free, however quick; a drag moves the window with the pointer, and the
  // window stays when the button is let go.
  // Starts tarvo on dir and returns its window's id ("" when none showed).
  QString startTarvo(QProcess& tarvo, const guitest::MachineDir& dir, const QStringList& more) {
    QProcessEnvironment env = guitest::onDisplay(display_);
    env.insert("XDG_CONFIG_HOME", config_.path());
    tarvo.setProcessEnvironment(env);
    tarvo.start(TARVO_GUI_BIN, QStringList{"--dir", dir.path()} + more);
    if (!tarvo.waitForStarted(10000)) return {};
    QString window;
    QElapsedTimer timer;
    timer.start();
    while (window.isEmpty() && timer.elapsed() < 20000) {
      QTest::qWait(200);
      window = xdotool({"search", "--onlyvisible", "--name", "^Tarvo$"}).split('\n').first();
    }
    QTest::qWait(500);
    return window;
  }

  QRect windowGeometry(const QString& window) {
    const QString shell = xdotool({"getwindowgeometry", "--shell", window});
    QRect r;
    for (const QString& line : shell.split('\n')) {
      if (line.startsWith("X=")) r.moveLeft(line.mid(2).toInt());
      if (line.startsWith("Y=")) r.moveTop(line.mid(2).toInt());
      if (line.startsWith("WIDTH=")) r.setWidth(line.mid(6).toInt());
      if (line.startsWith("HEIGHT=")) r.setHeight(line.mid(7).toInt());
    }
    return r;
  }

  void clicksLeaveTheWindowAndDragsMoveIt() {
    guitest::MachineDir dir;
    QProcess tarvo;
    const QString window = startTarvo(tarvo, dir, {"--zoom", "1"});
    QVERIFY2(!window.isEmpty(), "the window did not show");
    const QPoint home = windowPosition(window);
    QVERIFY(home.x() >= 0);
    // Beside the keys (between keys 4 and 5), in window coordinates.
    const QPoint gap(55, 170);

    for (int i = 0; i < 10; ++i) {
      const QPoint on = windowPosition(window) + gap;
      xdotool({"mousemove", QString::number(on.x()), QString::number(on.y()), "mousedown", "1",
               "mouseup", "1"});
      xdotool({"mousemove", QString::number(on.x() + 150 + i), QString::number(on.y() + 90)});
      QTest::qWait(250);
      const QPoint now = windowPosition(window);
      if (now != home) xdotool({"key", "Escape"});  // let go of a stuck move
      QCOMPARE(now, home);
    }

    // A hand's drag: the pointer goes 100, 60 in steps of two or three
    // pixels. The window follows from the step that passed the threshold.
    const QPoint from = home + gap;
    QStringList drag{"mousemove", QString::number(from.x()), QString::number(from.y()), "mousedown",
                     "1"};
    for (int step = 1; step <= 40; ++step)
      drag << "sleep"
           << "0.01"
           << "mousemove" << QString::number(from.x() + step * 100 / 40)
           << QString::number(from.y() + step * 60 / 40);
    drag << "sleep"
         << "0.2"
         << "mouseup"
         << "1";
    xdotool(drag);
    QTest::qWait(300);
    const QPoint moved = windowPosition(window);
    QVERIFY2((moved - (home + QPoint(100, 60))).manhattanLength() <= 8,
             qPrintable(QString("moved from %1,%2 to %3,%4")
                            .arg(home.x())
                            .arg(home.y())
                            .arg(moved.x())
                            .arg(moved.y())));
    xdotool({"mousemove", QString::number(from.x() + 250), QString::number(from.y() + 200)});
    QTest::qWait(300);
    QCOMPARE(windowPosition(window), moved);

    tarvo.terminate();
    QVERIFY(tarvo.waitForFinished(10000));
  }

  // 3x and 4x do not fit 1600 x 1000: the zoom keys stop at 2x. The window
  // grows and shrinks about its centre, stays on the screen, and comes back
  // to the very pixel it started from; a remembered position partly off the
  // screen is brought onto it.
  void zoomsThatFitAboutTheCentreAndOnTheScreen() {
    guitest::MachineDir dir;
    const QRect screen(0, 0, 1600, 1000);
    {
      QProcess tarvo;
      const QString window = startTarvo(tarvo, dir, {"--zoom", "1"});
      QVERIFY2(!window.isEmpty(), "the window did not show");
      xdotool({"windowactivate", "--sync", window});
      const QRect home = windowGeometry(window);
      QCOMPARE(home.size(), QSize(673, 294));
      for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 3; ++i) xdotool({"key", "ctrl+equal"});
        QTest::qWait(500);
        const QRect big = windowGeometry(window);
        QCOMPARE(big.size(), QSize(1346, 588));
        QVERIFY2(screen.contains(big), qPrintable(QString("%1,%2").arg(big.x()).arg(big.y())));
        if (screen.contains(QRect(QPoint(), big.size()).translated(home.center() - big.center())))
          QVERIFY((big.center() - home.center()).manhattanLength() <= 2);
        xdotool({"key", "ctrl+minus"});
        QTest::qWait(500);
        QCOMPARE(windowGeometry(window), home);
      }
      // Off towards the bottom right corner, at 2x, and closed there.
      xdotool({"key", "ctrl+equal"});
      QTest::qWait(300);
      xdotool({"windowmove", window, "1200", "800"});
      QTest::qWait(500);
      tarvo.terminate();
      QVERIFY(tarvo.waitForFinished(10000));
    }
    QProcess again;
    const QString window = startTarvo(again, dir, {});
    QVERIFY2(!window.isEmpty(), "the window did not show");
    const QRect back = windowGeometry(window);
    QCOMPARE(back.size(), QSize(1346, 588));
    QVERIFY2(screen.contains(back), qPrintable(QString("%1,%2").arg(back.x()).arg(back.y())));
    again.terminate();
    QVERIFY(again.waitForFinished(10000));
  }
};

QTEST_MAIN(WindowMoveTest)
#include "window_move_test.moc"
