// The tarvo program started as a user starts it: command line, start-up in
// a machine directory, and the state saved when the process is told to end.
#include <signal.h>

#include <QtTest>

#include "test_support.h"

namespace {

QProcessEnvironment offscreen() {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  return env;
}

struct Run {
  int exitCode = -1;
  QString out, err;
};

Run runTarvo(const QStringList& args) {
  QProcess p;
  p.setProcessEnvironment(offscreen());
  p.start(TARVO_GUI_BIN, args);
  Run r;
  if (!p.waitForFinished(20000)) {
    p.kill();
    p.waitForFinished();
    return r;
  }
  r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
  r.err = QString::fromLocal8Bit(p.readAllStandardError());
  return r;
}

}  // namespace

class ProcessTest : public QObject {
  Q_OBJECT

 private slots:
  void helpAndVersion() {
    const Run help = runTarvo({"--help"});
    QCOMPARE(help.exitCode, 0);
    QVERIFY2(help.out.contains("--dir"), qPrintable(help.out));
    const Run version = runTarvo({"--version"});
    QCOMPARE(version.exitCode, 0);
    QVERIFY2(version.out.contains("0.1.0"), qPrintable(version.out));
  }

  void helpAndVersionNeedNoDisplay() {
    // The window system the program would use, with nothing to connect to.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    for (const QString& option : {QString("--help"), QString("-h"), QString("--version")}) {
      QProcess p;
      p.setProcessEnvironment(env);
      p.start(TARVO_GUI_BIN, {option});
      QVERIFY(p.waitForFinished(20000));
      QCOMPARE(p.exitStatus(), QProcess::NormalExit);
      QCOMPARE(p.exitCode(), 0);
      const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
      QVERIFY2(out.contains(option == "--version" ? "0.1.0" : "--dir"), qPrintable(out));
    }
  }

  void captionsOnTheDesktopAreExact() {
    const QString display = guitest::virtualDisplay().display();
    if (display.isEmpty()) QSKIP("no X server (Xvfb) to show the window on");
    const QString xwininfo = QStandardPaths::findExecutable("xwininfo");
    if (xwininfo.isEmpty()) QSKIP("no xwininfo to read the window names");
    guitest::MachineDir dir;
    QProcess tarvo;
    tarvo.setProcessEnvironment(guitest::onDisplay(display));
    tarvo.start(TARVO_GUI_BIN, {"--dir", dir.path()});
    QVERIFY(tarvo.waitForStarted(10000));
    // The names the X server holds for every window, as a window manager
    // reads them.
    QString tree;
    QElapsedTimer timer;
    timer.start();
    while (!tree.contains("\"Tarvo\"") && timer.elapsed() < 15000) {
      QTest::qWait(200);
      QProcess list;
      list.setProcessEnvironment(guitest::onDisplay(display));
      list.start(xwininfo, {"-root", "-tree"});
      list.waitForFinished(10000);
      tree = QString::fromLocal8Bit(list.readAllStandardOutput());
    }
    ::kill(static_cast<pid_t>(tarvo.processId()), SIGTERM);
    QVERIFY(tarvo.waitForFinished(10000));
    QVERIFY2(tree.contains("\"Tarvo\": ("), qPrintable(tree));
    QVERIFY2(!tree.contains("Zelmo"), qPrintable(tree));
  }

  void badCommandLinesFailWithAMessage() {
    const Run noDir = runTarvo({"--dir", "/nonexistent/tarvo-machine"});
    QCOMPARE(noDir.exitCode, 1);
    QVERIFY2(noDir.err.contains("/nonexistent/tarvo-machine"), qPrintable(noDir.err));
    const Run extra = runTarvo({"surplus"});
    QCOMPARE(extra.exitCode, 2);
    QVERIFY2(extra.err.contains("surplus"), qPrintable(extra.err));
  }

  void runsInItsMachineDirectoryAndSavesOnSigterm_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGHUP") << SIGHUP;
  }
  void runsInItsMachineDirectoryAndSavesOnSigterm() {
    QFETCH(int, signalNumber);
    guitest::MachineDir dir;
    QByteArray ram0(65536, '\0');
    ram0[0x100] = 0x3C;
    dir.writeFile("ram0.bin", ram0);

    // Started from elsewhere: --dir must be where it loads and saves.
    QDir::setCurrent(QDir::tempPath());
    QProcess tarvo;
    tarvo.setProcessEnvironment(offscreen());
    tarvo.start(TARVO_GUI_BIN, {"--dir", dir.path()});
    QVERIFY(tarvo.waitForStarted(10000));
    // Up and running: still alive after a second, nothing written yet.
    QTest::qWait(1000);
    QCOMPARE(tarvo.state(), QProcess::Running);
    QVERIFY(!QFile::exists(dir.file("register.bin")));

    ::kill(static_cast<pid_t>(tarvo.processId()), signalNumber);
    QVERIFY(tarvo.waitForFinished(10000));
    QCOMPARE(tarvo.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tarvo.exitCode(), 0);
    QCOMPARE(dir.readFile("register.bin").size(), 36);
    const QByteArray saved = dir.readFile("ram0.bin");
    QCOMPARE(saved.size(), 65536);
    QCOMPARE(dir.readFile("ram1.bin").size(), 32768);
    // What was loaded from the machine directory went back there.
    QCOMPARE(uint8_t(saved[0x100]), uint8_t(0x3C));
  }

  void secondSignalEndsAStartThatWaitsOnAWarning() {
    guitest::MachineDir dir(guitest::MachineDir::Empty);  // "charset.bin" missing: a box
    QProcess tarvo;
    tarvo.setProcessEnvironment(offscreen());
    tarvo.start(TARVO_GUI_BIN, {"--dir", dir.path()});
    QVERIFY(tarvo.waitForStarted(10000));
    QTest::qWait(1000);
    const auto pid = static_cast<pid_t>(tarvo.processId());
    ::kill(pid, SIGTERM);  // noted; the close waits until the start is done
    QVERIFY(!tarvo.waitForFinished(500));
    ::kill(pid, SIGTERM);
    QVERIFY(tarvo.waitForFinished(10000));
    QCOMPARE(tarvo.exitStatus(), QProcess::CrashExit);
    // The machine never ran: nothing was written.
    QVERIFY(!QFile::exists(dir.file("register.bin")));
    QVERIFY(!QFile::exists(dir.file("ram0.bin")));
  }
  // A folder with none of the machine's files is no machine directory: the
  // demo machine runs from the user's data folder, standard error says so,
  // and nothing lands in the folder. A folder with some of the files is a
  // machine directory, however incomplete, and is run as it is.
  void outsideAMachineDirectoryTheDemoMachineRuns() {
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QString folder = home.filePath("folder"), data = home.filePath("data");
    QVERIFY(QDir().mkpath(folder));
    QFile notes(folder + "/notes.txt");
    QVERIFY(notes.open(QIODevice::WriteOnly));
    notes.close();
    QProcessEnvironment env = offscreen();
    env.insert("XDG_DATA_HOME", data);
    env.insert("XDG_CONFIG_HOME", home.filePath("config"));

    QProcess tarvo;
    tarvo.setProcessEnvironment(env);
    tarvo.setWorkingDirectory(folder);
    tarvo.start(TARVO_GUI_BIN, {});
    QVERIFY(tarvo.waitForStarted(10000));
    const QString machine = data + "/tarvo/machine";
    QElapsedTimer timer;
    timer.start();
    while (!QFile::exists(machine + "/face.bmp") && timer.elapsed() < 20000) QTest::qWait(100);
    QTest::qWait(1500);
    QCOMPARE(tarvo.state(), QProcess::Running);
    ::kill(static_cast<pid_t>(tarvo.processId()), SIGTERM);
    QVERIFY(tarvo.waitForFinished(10000));
    QCOMPARE(tarvo.exitCode(), 0);
    const QString err = QString::fromLocal8Bit(tarvo.readAllStandardError());
    QVERIFY2(err.contains("running the demo machine in " + machine), qPrintable(err));
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{"notes.txt"});
    QCOMPARE(QFileInfo(machine + "/ram0.bin").size(), 65536);
    QCOMPARE(QFileInfo(machine + "/register.bin").size(), 36);

    // One machine file is enough to make a machine directory: no demo, and
    // the start goes on in the folder (here waiting on the box for the
    // missing "charset.bin").
    QDir(machine).removeRecursively();
    QFile ram(folder + "/ram0.bin");
    QVERIFY(ram.open(QIODevice::WriteOnly));
    ram.close();
    QProcess partial;
    partial.setProcessEnvironment(env);
    partial.setWorkingDirectory(folder);
    partial.start(TARVO_GUI_BIN, {});
    QVERIFY(partial.waitForStarted(10000));
    QTest::qWait(1500);
    QCOMPARE(partial.state(), QProcess::Running);
    partial.kill();
    partial.waitForFinished(10000);
    QVERIFY(!QFileInfo::exists(machine));
    QVERIFY(!QString::fromLocal8Bit(partial.readAllStandardError()).contains("demo"));
  }
};

QTEST_MAIN(ProcessTest)
#include "process_test.moc"
