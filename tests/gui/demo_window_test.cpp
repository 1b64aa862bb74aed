// The demo machine in the real window on the offscreen platform: it boots
// from the generated files, takes typing from the host keyboard, sleeps and
// wakes by the power switch on the face, and its LCD reads back as text.
#include <QClipboard>
#include <QtTest>

#include "frontpanel/keymap.h"
#include "machine.h"
#include "main_form.h"

namespace {

// The build puts the generated machine beside the programs' directories.
QDir templateDir() {
  QDir dir = QFileInfo(QStringLiteral(TARVO_GUI_BIN)).absoluteDir();  // build/src/gui
  dir.cd(QStringLiteral("../../machine-template"));
  return dir;
}

QStringList lcdLines(const TMainForm& form) {
  return form.lcdText().split('\n');
}

// A key held long enough for the emulated program to scan it, as a person
// types; a press and release within one run tick could not be seen.
void typeKey(TMainForm& form, Qt::Key key, char text) {
  if (text) {
    QTest::keyPress(&form, text);
  } else {
    QTest::keyPress(&form, key);
  }
  QTest::qWait(60);
  if (text) {
    QTest::keyRelease(&form, text);
  } else {
    QTest::keyRelease(&form, key);
  }
  QTest::qWait(60);
}

void clickPowerSwitch(TMainForm& form) {
  const tarvo::KeyHit sw = tarvo::keyPosition(tarvo::kKeyPower);
  const QPoint at(sw.x + 5, sw.y + 40);
  QTest::mousePress(&form, Qt::LeftButton, {}, at);
  QTest::mouseRelease(&form, Qt::LeftButton, {}, at);
}

constexpr int kTimeout = 15000;

}  // namespace

class DemoWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void bootsTypesCalculatesSleepsAndWakes() {
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
      TMainForm form;
      form.show();
      QVERIFY(QTest::qWaitForWindowExposed(&form));
      QTRY_VERIFY_WITH_TIMEOUT(lcdLines(form).value(0).contains("TARVO"), kTimeout);
      QCOMPARE(lcdLines(form).value(3), QString(">_"));

      for (char ch : QByteArray("6*7")) typeKey(form, Qt::Key_unknown, ch);
      QTRY_COMPARE_WITH_TIMEOUT(lcdLines(form).value(3), QString(">6*7_"), kTimeout);
      typeKey(form, Qt::Key_Return, 0);
      QTRY_COMPARE_WITH_TIMEOUT(lcdLines(form).value(3), QString(">_"), kTimeout);
      const QStringList shown = lcdLines(form);
      QCOMPARE(shown.value(2).trimmed(), QString("42"));
      // Screen readers get the same text as the window's description.
      QTRY_COMPARE_WITH_TIMEOUT(form.accessibleDescription(), form.lcdText(), kTimeout);

      // Off by the switch on the face: the machine sleeps, the LCD is blank.
      clickPowerSwitch(form);
      QTRY_VERIFY_WITH_TIMEOUT(form.machine().cpu.powerOff, kTimeout);
      QTRY_COMPARE_WITH_TIMEOUT(form.lcdText(), QString("\n\n\n"), kTimeout);
      // On again: the same screen, from RAM.
      clickPowerSwitch(form);
      QTRY_COMPARE_WITH_TIMEOUT(lcdLines(form), shown, kTimeout);
      QVERIFY(!form.machine().cpu.powerOff);

      // Ctrl+V types the clipboard as fast as the program takes the keys.
      QApplication::clipboard()->setText("123456789*9\n");
      QTest::keyClick(&form, Qt::Key_V, Qt::ControlModifier);
      QVERIFY(form.pasting());
      QTRY_VERIFY_WITH_TIMEOUT(!form.pasting(), kTimeout);
      QCOMPARE(form.notice(), QString("Paste typed"));
      QTRY_COMPARE_WITH_TIMEOUT(lcdLines(form).value(2).trimmed(), QString("1111111101"), kTimeout);
      form.close();
    }
    QDir::setCurrent(previous);
  }
};

QTEST_MAIN(DemoWindowTest)
#include "demo_window_test.moc"
