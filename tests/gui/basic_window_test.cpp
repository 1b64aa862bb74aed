// The demo BASIC's programs through the window: a .bas file opened or
// dropped on the face is the program BASIC then runs, the program saved as
// text is its listing, and a machine that is not at BASIC's prompt, or not
// the demo BASIC at all, is left alone with a notice.
#include <QMimeData>
#include <QtTest>

#include "cpu/memory.h"
#include "machine.h"
#include "main_form.h"

namespace {

QDir templateDir() {
  QDir dir = QFileInfo(QStringLiteral(TARVO_GUI_BIN)).absoluteDir();  // build/src/gui
  dir.cd(QStringLiteral("../../machine-template"));
  return dir;
}

// The window, its warnings kept instead of shown in a box.
class Form : public TMainForm {
 public:
  QStringList warnings;
  void showWarning(const QString& text) override { warnings << text; }
};

QStringList lcdLines(const TMainForm& form) {
  return form.lcdText().split('\n');
}

void typeLine(TMainForm& form, const QString& text) {
  form.pasteText(text + "\n");
  QTRY_VERIFY_WITH_TIMEOUT(!form.pasting(), 15000);
}

void writeFile(const QString& path, const QByteArray& text) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(text);
}

}  // namespace

class BasicWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void opensDropsAndSavesProgramsAtThePromptOnly() {
    const QDir from = templateDir();
    if (!from.exists(QStringLiteral("rom1.bin")) || !from.exists(QStringLiteral("face.bmp")))
      QFAIL(qPrintable("no generated demo machine in " + from.path()));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const QString& name : from.entryList(QDir::Files))
      QVERIFY(QFile::copy(from.filePath(name), dir.filePath(name)));
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    {
      Form form;
      form.show();
      QVERIFY(QTest::qWaitForWindowExposed(&form));
      QTRY_COMPARE_WITH_TIMEOUT(lcdLines(form).value(3), QString(">_"), 15000);

      // Opened: the program runs as if typed.
      const QString squares = dir.filePath("squares.bas");
      writeFile(squares, "10 for i=1 to 3\r\n20 ?i*i;\" \";\n30 next i\n");
      QVERIFY(form.loadBasicProgram(squares));
      QVERIFY(form.warnings.isEmpty());
      typeLine(form, "CLS:RUN");
      QTRY_COMPARE_WITH_TIMEOUT(lcdLines(form).value(0), QString("1 4 9"), 15000);

      // Saved: the listing, in LIST's spelling.
      const QString saved = dir.filePath("saved.bas");
      QVERIFY(form.saveBasicProgram(saved));
      QFile in(saved);
      QVERIFY(in.open(QIODevice::ReadOnly));
      QCOMPARE(in.readAll(), QByteArray("10 FOR I=1 TO 3\n20 PRINT I*I;\" \";\n30 NEXT I\n"));

      // Dropped on the face: replaces the program.
      const QString other = dir.filePath("other.bas");
      writeFile(other, "5 PRINT \"DROPPED\"\n");
      QMimeData mime;
      mime.setUrls({QUrl::fromLocalFile(other)});
      QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, {});
      QApplication::sendEvent(&form, &enter);
      QVERIFY(enter.isAccepted());
      QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, {});
      QApplication::sendEvent(&form, &drop);
      typeLine(form, "CLS:RUN");
      QTRY_COMPARE_WITH_TIMEOUT(lcdLines(form).value(0), QString("DROPPED"), 15000);

      // A line that does not tokenise: nothing is loaded, the notice says
      // which line.
      const QString bad = dir.filePath("bad.bas");
      writeFile(bad, "10 PRINT 1\n1+2\n");
      QVERIFY(!form.loadBasicProgram(bad));
      QVERIFY(form.warnings.value(0).contains("bad.bas:2:"));
      form.warnings.clear();

      // While a program runs: not loaded.
      typeLine(form, "5 GOTO 5");
      typeLine(form, "RUN");
      QVERIFY(!form.loadBasicProgram(squares));
      QVERIFY(form.warnings.value(0).contains("prompt"));
      form.warnings.clear();

      // A machine that is not the demo BASIC: its RAM stays as it is.
      std::vector<uint8_t>& ram = form.machine().mem.rows[tarvo::kRam0Row].buffer;
      ram[0x4100] = 0;
      const std::vector<uint8_t> before = ram;
      QVERIFY(!form.loadBasicProgram(squares));
      QVERIFY(!form.saveBasicProgram(dir.filePath("none.bas")));
      QCOMPARE(form.warnings.size(), 2);
      QVERIFY(ram == before);
      form.close();
    }
    QDir::setCurrent(previous);
  }
};

QTEST_MAIN(BasicWindowTest)
#include "basic_window_test.moc"
