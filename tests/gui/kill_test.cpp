// The tarvo program on the demo machine, ended by signals: SIGINT while it
// runs closes it the orderly way and saves, and a second signal that lands
// in the middle of that save ends it there. Either way every state file is
// the old one or a whole new one afterwards: never a truncated file, never
// one that is part old and part new, and no temporary file.
//
// The second signal is also tried with the window on an X server (Xvfb,
// when it is installed), where the program has threads of its own that a
// process-wide signal could otherwise be delivered to.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <QtTest>

#include "test_support.h"

namespace {

// The build tree's demo machine, beside src/gui where the program lives.
QString templateDir() {
  return QFileInfo(QString(TARVO_GUI_BIN)).dir().absoluteFilePath("../../machine-template");
}

QProcessEnvironment offscreen() {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  return env;
}

QByteArray pattern(int n, int seed) {
  QByteArray b(n, '\0');
  for (int i = 0; i < n; ++i) b[i] = char((i * 7 + seed) & 0xFF);
  return b;
}

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A machine directory with the demo machine and a user's stored state: RAM
// that is not the firmware's (so its first start is a cold one), and
// registers.
struct DemoDir {
  QTemporaryDir dir;
  QByteArray ram0 = pattern(65536, 1), ram1 = pattern(32768, 2), regs = pattern(36, 3);

  bool fill() {
    for (const char* name : {"charset.bin", "rom0.bin", "rom1.bin", "face.bmp", "keys.bmp",
                             "overlay.bmp", "tarvo.ini"}) {
      if (!QFile::copy(templateDir() + "/" + name, dir.filePath(name))) return false;
    }
    return write("ram0.bin", ram0) && write("ram1.bin", ram1) && write("register.bin", regs);
  }
  bool write(const QString& name, const QByteArray& bytes) {
    QFile f(dir.filePath(name));
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
  }
  QByteArray read(const QString& name) const { return readAll(dir.filePath(name)); }
};

}  // namespace

class KillTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    if (!QFile::exists(templateDir() + "/face.bmp")) QSKIP("no demo machine with a face");
  }

  void sigintWhileRunningSavesWholeFiles() {
    DemoDir d;
    QVERIFY(d.fill());
    QProcess tarvo;
    tarvo.setProcessEnvironment(offscreen());
    tarvo.start(TARVO_GUI_BIN, {"--dir", d.dir.path()});
    QVERIFY(tarvo.waitForStarted(10000));
    QTest::qWait(1500);
    QCOMPARE(tarvo.state(), QProcess::Running);
    ::kill(static_cast<pid_t>(tarvo.processId()), SIGINT);
    QVERIFY(tarvo.waitForFinished(10000));
    QCOMPARE(tarvo.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tarvo.exitCode(), 0);
    // The firmware put its screen into RAM, and all of it was saved.
    const QByteArray ram0 = d.read("ram0.bin");
    QCOMPARE(ram0.size(), 65536);
    QCOMPARE(ram0.mid(0x4100, 4), QByteArray("TBA1"));
    // Bytes the firmware never touches (below its variables, between its
    // empty program and its stacks) went back as they came.
    QCOMPARE(ram0.left(0x4000), d.ram0.left(0x4000));
    QCOMPARE(ram0.mid(0x8000, 0x7000), d.ram0.mid(0x8000, 0x7000));
    QCOMPARE(d.read("ram1.bin"), d.ram1);
    QCOMPARE(d.read("register.bin").size(), 36);
  }

  void secondSignalInTheMiddleOfTheSave_data() {
    QTest::addColumn<int>("event");
    QTest::addColumn<bool>("x11");
    // Which file event of the save the second signal follows: the first
    // temporary file, its data, its rename, and on into the RAM images.
    for (bool x11 : {false, true}) {
      for (int k : {1, 2, 4, 5, 7, 9, 11})
        QTest::newRow(qPrintable(QString("%1 %2").arg(x11 ? "x11" : "offscreen").arg(k)))
            << k << x11;
    }
  }
  void secondSignalInTheMiddleOfTheSave() {
    QFETCH(int, event);
    QFETCH(bool, x11);
    QProcessEnvironment env = offscreen();
    if (x11) {
      const QString display = guitest::virtualDisplay().display();
      if (display.isEmpty()) QSKIP("no X server (Xvfb) to show the window on");
      env = guitest::onDisplay(display);
    }
    DemoDir d;
    QVERIFY(d.fill());
    const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    QVERIFY(watch >= 0);
    QVERIFY(::inotify_add_watch(watch, QFile::encodeName(d.dir.path()).constData(),
                                IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO) >= 0);
    QProcess tarvo;
    tarvo.setProcessEnvironment(env);
    tarvo.start(TARVO_GUI_BIN, {"--dir", d.dir.path()});
    QVERIFY(tarvo.waitForStarted(10000));
    QTest::qWait(1500);
    const auto pid = static_cast<pid_t>(tarvo.processId());
    // Drop what the start did in the directory; only the save counts.
    char buf[4096];
    while (::read(watch, buf, sizeof buf) > 0) {
    }
    ::kill(pid, SIGTERM);  // the orderly close, which saves
    int seen = 0;
    bool second = false;
    QElapsedTimer timer;
    timer.start();
    while (!second && tarvo.state() == QProcess::Running && timer.elapsed() < 10000) {
      pollfd p{watch, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) {
        tarvo.waitForFinished(0);
        continue;
      }
      const ssize_t n = ::read(watch, buf, sizeof buf);
      for (ssize_t at = 0; at < n && !second;) {
        const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        if (++seen == event) {
          ::kill(pid, SIGTERM);  // no longer caught: ends the process
          second = true;
        }
      }
    }
    ::close(watch);
    QVERIFY(tarvo.waitForFinished(10000));
    qInfo("event %d: %s", event,
          tarvo.exitStatus() == QProcess::CrashExit ? "ended by the second signal"
                                                    : "the save finished first");

    const QByteArray regs = d.read("register.bin");
    QCOMPARE(regs.size(), 36);
    const QByteArray ram0 = d.read("ram0.bin");
    if (ram0 != d.ram0) {
      // A new ram0 is whole: the firmware's screen, the untouched bytes.
      QCOMPARE(ram0.size(), 65536);
      QCOMPARE(ram0.mid(0x4100, 4), QByteArray("TBA1"));
      QCOMPARE(ram0.left(0x4000), d.ram0.left(0x4000));
      QCOMPARE(ram0.mid(0x8000, 0x7000), d.ram0.mid(0x8000, 0x7000));
    }
    // New or old, ram1 holds the same bytes.
    QCOMPARE(d.read("ram1.bin"), d.ram1);
    // The signal waited for the file being written: no temporary file.
    const QStringList left = QDir(d.dir.path()).entryList(QDir::Files | QDir::Hidden);
    for (const QString& name : left) QVERIFY2(!name.startsWith('.'), qPrintable(name));
  }
};

QTEST_MAIN(KillTest)
#include "kill_test.moc"
