// Save states, rewind and input recording in the window, on the demo
// machine, with the run tick driven by the test: slots and the quick pair
// bring the machine back exactly, refusals leave it alone and say why, F4
// runs it back through its history, and a recording replays to the same
// state.
#include <QtTest>

#include "cpu/memory.h"
#include "frontpanel/input_log.h"
#include "machine.h"
#include "machine/digest.h"
#include "main_form.h"

namespace {

QDir templateDir() {
  QDir dir = QFileInfo(QStringLiteral(TARVO_GUI_BIN)).absoluteDir();  // build/src/gui
  dir.cd(QStringLiteral("../../machine-template"));
  return dir;
}

class TestForm : public TMainForm {
 public:
  int questions = 0;
  bool answer = false;

 protected:
  bool askToLoadForeignState(const QString&) override {
    ++questions;
    return answer;
  }
};

uint64_t digest(TMainForm& form) {
  return tarvo::stateDigest(form.machine(), &form.runLoop().scheduler);
}

void runTicks(TMainForm& form, int n) {
  for (int i = 0; i < n; ++i) form.OnRunTimer();
}

void typeChar(TMainForm& form, char ch) {
  QTest::keyPress(&form, ch);
  runTicks(form, 5);
  QTest::keyRelease(&form, ch);
  runTicks(form, 5);
}

}  // namespace

class SaveStatesTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  QString previous_;
  std::unique_ptr<TestForm> form_;

 private slots:
  void init() {
    const QDir from = templateDir();
    if (!from.exists(QStringLiteral("rom1.bin")) || !from.exists(QStringLiteral("face.bmp")))
      QFAIL(qPrintable("no generated demo machine in " + from.path()));
    for (const QString& name : from.entryList(QDir::Files))
      QFile::copy(from.filePath(name), dir_.filePath(name));
    previous_ = QDir::currentPath();
    QDir::setCurrent(dir_.path());
    form_ = std::make_unique<TestForm>();
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    // The test drives the run tick itself.
    for (const QTimer* t : {&form_->runTimer(), &form_->refreshTimer(), &form_->secTimer()})
      const_cast<QTimer*>(t)->stop();
    runTicks(*form_, 120);  // booted
  }
  void cleanup() {
    form_->close();
    form_.reset();
    QDir::setCurrent(previous_);
    for (const QString& name : QDir(dir_.path()).entryList(QDir::Files))
      QFile::remove(dir_.filePath(name));
  }

  void quickPairAndSlotsBringTheMachineBackExactly() {
    TestForm& form = *form_;
    QTest::keyClick(&form, Qt::Key_F5);
    QCOMPARE(form.notice(), QString("Saved quick.tst"));
    QVERIFY(QFile::exists("quick.tst"));
    const uint64_t saved = digest(form);
    typeChar(form, '7');
    runTicks(form, 50);
    QVERIFY(digest(form) != saved);
    QTest::keyClick(&form, Qt::Key_F7);
    QCOMPARE(form.notice(), QString("Loaded quick.tst"));
    QCOMPARE(digest(form), saved);

    // Numbered slots: Shift+F5 saves to the slot, F6 moves on, Shift+F7 loads.
    QCOMPARE(form.stateSlot(), 1);
    QTest::keyClick(&form, Qt::Key_F5, Qt::ShiftModifier);
    QVERIFY(QFile::exists("state1.tst"));
    QTest::keyClick(&form, Qt::Key_F6);
    QCOMPARE(form.stateSlot(), 2);
    QCOMPARE(form.notice(), QString("Slot 2 (state2.tst)"));
    typeChar(form, '8');
    const uint64_t moved = digest(form);
    QTest::keyClick(&form, Qt::Key_F7, Qt::ShiftModifier);  // slot 2 is empty
    QCOMPARE(form.notice(), QString("Failed to load the file state2.tst: the file does not exist"));
    QCOMPARE(digest(form), moved);
    for (int i = 0; i < 3; ++i) QTest::keyClick(&form, Qt::Key_F6);
    QCOMPARE(form.stateSlot(), 1);  // round the four slots
    QTest::keyClick(&form, Qt::Key_F7, Qt::ShiftModifier);
    QCOMPARE(digest(form), saved);
    // The keys of the face still work after all this.
    typeChar(form, '9');
    QVERIFY(digest(form) != saved);
  }

  void damagedAndForeignStatesAreRefusedOrAsked() {
    TestForm& form = *form_;
    QTest::keyClick(&form, Qt::Key_F5);
    QByteArray bytes;
    {
      QFile f("quick.tst");
      QVERIFY(f.open(QIODevice::ReadOnly));
      bytes = f.readAll();
    }
    QFile bad("quick.tst");
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write(bytes.left(bytes.size() / 2));
    bad.close();
    typeChar(form, '5');
    const uint64_t now = digest(form);
    QTest::keyClick(&form, Qt::Key_F7);
    QVERIFY2(form.notice().startsWith("Failed to load the file quick.tst: the file is truncated"),
             qPrintable(form.notice()));
    QCOMPARE(digest(form), now);
    QVERIFY(form.isVisible());

    // Taken with other ROM images: asked, and only loaded on yes.
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write(bytes);
    bad.close();
    const uint8_t romByte = form.machine().mem.rows[tarvo::kRom1Row].buffer[0xFF00] ^= 0x55;
    const uint64_t patched = digest(form);
    QTest::keyClick(&form, Qt::Key_F7);
    QCOMPARE(form.questions, 1);
    QCOMPARE(digest(form), patched);
    form.answer = true;
    QTest::keyClick(&form, Qt::Key_F7);
    QCOMPARE(form.questions, 2);
    QCOMPARE(form.notice(), QString("Loaded quick.tst"));
    QVERIFY(digest(form) != patched);
    // The state brings no ROM: the machine keeps its own.
    QCOMPARE(form.machine().mem.rows[tarvo::kRom1Row].buffer[0xFF00], romByte);
  }

  void heldF4RunsBackThroughTheHistoryAndResumes() {
    TestForm& form = *form_;
    std::vector<uint64_t> seen;
    for (int i = 0; i < 300; ++i) {
      if (i % 40 == 0) QTest::keyPress(&form, '1');
      if (i % 40 == 5) QTest::keyRelease(&form, '1');
      form.OnRunTimer();
      seen.push_back(digest(form));
    }
    const std::size_t depth = form.rewindDepth();
    QVERIFY2(depth >= 25, qPrintable(QString::number(depth)));  // ten a second, three seconds
    QTest::keyPress(&form, Qt::Key_F4);
    QVERIFY(form.rewinding());
    const int64_t cycles = form.runLoop().cyclesRun();
    runTicks(form, 20);                            // ten steps back
    QCOMPARE(form.runLoop().cyclesRun(), cycles);  // nothing ran meanwhile
    QCOMPARE(form.rewindDepth(), depth - 10);
    // Each state it stops at is one the machine was in, about a second ago.
    const auto at = std::find(seen.begin(), seen.end(), digest(form));
    QVERIFY(at != seen.end());
    const auto ticksBack = seen.end() - at;
    QVERIFY2(ticksBack >= 95 && ticksBack <= 130, qPrintable(QString::number(ticksBack)));
    QTest::keyRelease(&form, Qt::Key_F4);
    QVERIFY(!form.rewinding());
    runTicks(form, 10);
    QVERIFY(form.runLoop().cyclesRun() > cycles);
  }

  void aRecordingReplaysToTheSameState() {
    TestForm& form = *form_;
    QTest::keyClick(&form, Qt::Key_F1);
    QVERIFY(form.recordingInput());
    for (char ch : QByteArray("12*3")) typeChar(form, ch);
    QTest::keyPress(&form, Qt::Key_Return);
    runTicks(form, 5);
    QTest::keyRelease(&form, Qt::Key_Return);
    runTicks(form, 100);
    QTest::keyClick(&form, Qt::Key_F1);
    QVERIFY(!form.recordingInput());
    QCOMPARE(form.notice(), QString("Recorded 10 events to recording.txt"));
    const uint64_t recorded = digest(form);

    std::vector<tarvo::InputEvent> events;
    QCOMPARE(QString::fromStdString(tarvo::readInputLog("recording.txt", events)), QString());
    QCOMPARE(events.size(), std::size_t{10});

    QTest::keyClick(&form, Qt::Key_F1, Qt::ShiftModifier);
    QVERIFY(form.replayingInput());
    QVERIFY(digest(form) != recorded);
    runTicks(form, 4 * 10 + 5 + 100);  // as many run ticks as were recorded
    QCOMPARE(digest(form), recorded);
    QVERIFY(!form.replayingInput());
    form.OnRefreshTimer();
    QCOMPARE(form.lcdText().split('\n').value(2).trimmed(), QString("36"));
  }
};

QTEST_MAIN(SaveStatesTest)
#include "save_states_test.moc"
