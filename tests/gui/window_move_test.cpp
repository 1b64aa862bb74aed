// Moving the borderless window by its face, as a user does it on a desktop
// with a window manager: the tarvo program on a virtual X display with
// openbox, the pointer driven by xdotool.
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
    display_ = guitest::virtualDisplay().display();
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
  void clicksLeaveTheWindowAndDragsMoveIt() {
    guitest::MachineDir dir;
    QProcess tarvo;
    QProcessEnvironment env = guitest::onDisplay(display_);
    env.insert("XDG_CONFIG_HOME", config_.path());
    tarvo.setProcessEnvironment(env);
    tarvo.start(TARVO_GUI_BIN, {"--dir", dir.path(), "--zoom", "1"});
    QVERIFY(tarvo.waitForStarted(10000));
    QString window;
    QElapsedTimer timer;
    timer.start();
    while (window.isEmpty() && timer.elapsed() < 20000) {
      QTest::qWait(200);
      window = xdotool({"search", "--onlyvisible", "--name", "^Tarvo$"}).split('\n').first();
    }
    QVERIFY2(!window.isEmpty(), "the window did not show");
    QTest::qWait(500);
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
};

QTEST_MAIN(WindowMoveTest)
#include "window_move_test.moc"
