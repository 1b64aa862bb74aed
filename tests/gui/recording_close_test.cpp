// An input recording that the window's close ends, on a real window of an
// X server (Xvfb), driven by xdotool as a user drives it: the close (the
// close key on the face, or SIGTERM) saves the recording as F1 does, and
// the pair "recording.tst" / "recording.txt" on disk is always the one
// recording's, never the start of one beside the events of another.
#include <signal.h>

#include <QtTest>

#include "frontpanel/state_file.h"
#include "test_support.h"

namespace {

QString templateDir() {
  return QFileInfo(QString(TARVO_GUI_BIN)).dir().absoluteFilePath("../../machine-template");
}

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Runs xdotool on the display; its output, or nothing after ten seconds.
QString xdotool(const QString& display, const QStringList& args) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DISPLAY", display);
  p.setProcessEnvironment(env);
  p.start("xdotool", args);
  if (!p.waitForFinished(10000)) {
    p.kill();
    p.waitForFinished();
    return {};
  }
  return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

bool waitFor(const std::function<bool()>& done, int ms = 10000) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    QTest::qWait(50);
  }
  return true;
}

}  // namespace

class RecordingCloseTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    if (!QFile::exists(templateDir() + "/face.bmp")) QSKIP("no demo machine with a face");
    if (QStandardPaths::findExecutable("xdotool").isEmpty()) QSKIP("no xdotool");
    if (guitest::virtualDisplay().display().isEmpty()) QSKIP("no X server (Xvfb)");
  }

  void theCloseSavesTheRecordingItCuts_data() {
    QTest::addColumn<bool>("bySignal");
    QTest::newRow("close key") << false;
    QTest::newRow("SIGTERM") << true;
  }
  void theCloseSavesTheRecordingItCuts() {
    QFETCH(bool, bySignal);
    const QString display = guitest::virtualDisplay().display();
    QTemporaryDir dir;
    for (const char* name :
         {"charset.bin", "rom0.bin", "rom1.bin", "face.bmp", "keys.bmp", "overlay.bmp"})
      QVERIFY(QFile::copy(templateDir() + "/" + name, dir.filePath(name)));

    QProcess tarvo;
    tarvo.setProcessEnvironment(guitest::onDisplay(display));
    tarvo.start(TARVO_GUI_BIN, {"--dir", dir.path()});
    QVERIFY(tarvo.waitForStarted(10000));
    const QString pid = QString::number(tarvo.processId());
    const QString window =
        xdotool(display, {"search", "--sync", "--onlyvisible", "--pid", pid}).split('\n').value(0);
    QVERIFY2(!window.isEmpty(), "the window did not appear");
    xdotool(display, {"windowfocus", "--sync", window});
    QTest::qWait(1000);  // the firmware starts
    auto keys = [&](const QStringList& k) {
      xdotool(display, QStringList{"key", "--delay", "150"} + k);
      QTest::qWait(400);
    };

    // Recording A, ended by F1: the digit 1.
    const QString txt = dir.filePath("recording.txt"), tst = dir.filePath("recording.tst");
    keys({"F1", "1", "F1"});
    QVERIFY(waitFor([&] { return QFile::exists(txt) && QFile::exists(tst); }));
    const QByteArray stateA = readAll(tst);
    QVERIFY(readAll(txt).contains(" char 69\n"));

    // Recording B, cut by the close: the digit 9.
    keys({"F1", "9"});
    if (bySignal) {
      ::kill(static_cast<pid_t>(tarvo.processId()), SIGTERM);
    } else {
      // The close key at the top right of the face.
      xdotool(display, {"mousemove", "--window", window, "660", "10", "click", "1"});
    }
    QVERIFY(tarvo.waitForFinished(10000));
    QCOMPARE(tarvo.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tarvo.exitCode(), 0);

    // B's events beside B's start.
    const QByteArray events = readAll(txt);
    QVERIFY2(events.contains(" char 63\n") && !events.contains(" char 69\n"), events.constData());
    const QByteArray stateB = readAll(tst);
    QVERIFY(stateB != stateA);
    tarvo::DecodedState decoded;
    QCOMPARE(QString::fromStdString(tarvo::readStateFile(tst.toStdString(), decoded)), QString());
    // The machine's own files were saved too, and nothing was left behind.
    QVERIFY(QFile::exists(dir.filePath("ram0.bin")));
    for (const QString& name : QDir(dir.path()).entryList(QDir::Files | QDir::Hidden))
      QVERIFY2(!name.startsWith('.'), qPrintable(name));
  }
};

QTEST_MAIN(RecordingCloseTest)
#include "recording_close_test.moc"
