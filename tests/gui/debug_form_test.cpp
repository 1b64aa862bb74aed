// The debug window on the offscreen platform: its layout, the captions and
// focus of the active group, clicks that open the yellow box at the clicked
// cell, typing and Enter, scrolling, the flag colours, single step, and the
// trace and breakpoint runs that stop and show the window again.
#include "debug_form.h"

#include <QtTest>

#include "cpu/memory.h"
#include "debug_rig.h"
#include "frontpanel/run_loop.h"
#include "machine.h"
#include "main_form.h"
#include "test_support.h"

using tarvo::Group;
using tarvo::Pane;

namespace {

using Rig = guitest::DebugRig;

int countPixels(const QImage& image, QRect area, QColor colour) {
  int n = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) n += image.pixelColor(x, y) == colour;
  return n;
}

// Pixels of the blue caption, anti-aliased edges included.
int countBlue(const QImage& image, QRect area) {
  int n = 0;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      const QColor c = image.pixelColor(x, y);
      n += c.blue() >= 160 && c.red() <= 96 && c.green() <= 96;
    }
  }
  return n;
}

}  // namespace

class DebugFormTest : public QObject {
  Q_OBJECT

 private slots:
  void layoutAsDesigned() {
    Rig rig;
    TDebugForm& f = rig.form;
    QCOMPARE(f.windowTitle(), QString("Debug Window"));
    QCOMPARE(f.size(), QSize(633, 437));
    const struct {
      Group g;
      const char* caption;
      QRect at;
    } groups[] = {{Group::List, " Disassembly ", {8, 8, 305, 161}},
                  {Group::Reg, " Registers ", {320, 8, 137, 161}},
                  {Group::Step, " Single step ", {464, 8, 153, 49}},
                  {Group::Trace, " Number of steps (decimal) ", {464, 64, 153, 49}},
                  {Group::Bp, " Breakpoint address (hex) ", {464, 120, 153, 49}},
                  {Group::Main, " Main Register File ", {8, 176, 609, 57}},
                  {Group::Bin, " Hex Editor ", {8, 240, 609, 161}}};
    for (const auto& g : groups) {
      QCOMPARE(f.group(g.g)->title(), QString(g.caption));
      QCOMPARE(f.group(g.g)->geometry(), g.at);
    }
    const struct {
      Pane p;
      QSize size;
      int barX;
    } panes[] = {{Pane::List, {265, 137}, 280},
                 {Pane::Reg, {97, 137}, 112},
                 {Pane::Main, {569, 33}, 584},
                 {Pane::Bin, {569, 137}, 585}};
    const QFontMetrics metrics(f.paneFont());
    const QSize cell(metrics.horizontalAdvance("0"), metrics.height());
    QCOMPARE(f.cell(), cell);
    QCOMPARE(f.paneFont().pixelSize(), 13);
    QVERIFY(QFontInfo(f.paneFont()).fixedPitch());
    QCOMPARE(f.model().rows(Pane::Main), 2);  // both halves of the register file
    for (const auto& p : panes) {
      QCOMPARE(f.paintBox(p.p)->geometry(), QRect(QPoint(8, 16), p.size));
      QCOMPARE(f.scrollBar(p.p)->geometry(), QRect(p.barX, 16, 16, p.size.height()));
      QCOMPARE(f.model().rows(p.p), p.size.height() / cell.height());
      QCOMPARE(f.model().columns(p.p), p.size.width() / cell.width());
      QLineEdit* e = f.paneEdit(p.p);
      QVERIFY(!e->hasFrame());
      QCOMPARE(e->palette().color(QPalette::Base), QColor(255, 255, 0));
      QCOMPARE(e->font(), f.paneFont());
      QCOMPARE(e->width(), 0);
    }
    for (QPushButton* b : {f.StepButton, f.TraceButton, f.BpButton}) QCOMPARE(b->text(), "Run");
    QVERIFY(f.findChild<QLineEdit*>("TraceEdit") == f.TraceEdit);
    QVERIFY(f.findChild<QWidget*>("ListPaintBox") == f.paintBox(Pane::List));
  }

  void activeCaptionIsBlueAndHoldsTheFocus() {
    Rig rig;
    TDebugForm& f = rig.form;
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    QCOMPARE(f.model().activeGroup(), Group::List);
    QCOMPARE(f.focusWidget(), f.paneEdit(Pane::List));
    const QColor blue(0, 0, 255);
    QImage list = f.group(Group::List)->grab().toImage();
    QVERIFY(countBlue(list, QRect(0, 0, list.width(), 14)) > 10);
    // A click on the frame of another group moves both.
    QTest::mouseClick(f.group(Group::Main), Qt::LeftButton, {}, QPoint(300, 50));
    QCOMPARE(f.focusWidget(), f.paneEdit(Pane::Main));
    QCOMPARE(f.group(Group::Main)->captionColour(), blue);
    list = f.group(Group::List)->grab().toImage();
    QCOMPARE(countBlue(list, QRect(0, 0, list.width(), 14)), 0);
    QTest::mouseClick(f.BpEdit, Qt::LeftButton);
    QCOMPARE(f.model().activeGroup(), Group::Bp);
    for (int g = 0; g < tarvo::kGroupCount; ++g)
      QCOMPARE(f.group(static_cast<Group>(g))->captionColour() == blue, g == int(Group::Bp));
  }

  void flagFieldsAreDrawnOnTheirColours() {
    Rig rig;
    rig.form.show();
    rig.m.cpu.F = 0x40;  // carry
    const QImage reg = rig.form.paintBox(Pane::Reg)->grab().toImage();
    const QSize c = rig.form.cell();
    QCOMPARE(reg.pixelColor(2 * c.width() + 1, 1), QColor(255, 255, 255));
    QCOMPARE(reg.pixelColor(4 * c.width() + 1, 1), QColor(192, 192, 192));
    // Text is drawn in the cells: the carry field shows "C " over silver.
    const QRect carry(4 * c.width(), 0, c.width(), c.height());
    const QRect blank(5 * c.width(), 0, c.width(), c.height());
    QVERIFY(countPixels(reg, carry, QColor(192, 192, 192)) < carry.width() * carry.height());
    QCOMPARE(countPixels(reg, blank, QColor(192, 192, 192)), blank.width() * blank.height());
  }

  void clickOpensTheBoxAtTheCellAndEnterCommits() {
    Rig rig;
    TDebugForm& f = rig.form;
    f.show();
    const QSize c = f.cell();
    rig.click(Pane::Reg, 7, 5);  // SX
    QLineEdit* e = f.paneEdit(Pane::Reg);
    QCOMPARE(e->geometry(),
             QRect(8 + 4 * c.width(), 16 + 7 * c.height(), 2 * c.width(), c.height()));
    QCOMPARE(e->maxLength(), 2);
    QCOMPARE(f.focusWidget(), e);
    QTest::keyClicks(e, "fx");
    QCOMPARE(e->text(), QString("F"));
    QTest::keyClicks(e, "f");
    QCOMPARE(e->text(), QString("FF"));
    QTest::keyClick(e, Qt::Key_Return);
    QCOMPARE(rig.m.cpu.SX, 0x1F);
    QCOMPARE(e->width(), 0);
    QCOMPARE(e->text(), QString());

    // A hex character, then a blank between two hex bytes that opens nothing.
    rig.click(Pane::Bin, 1, 57);
    QLineEdit* bin = f.paneEdit(Pane::Bin);
    QCOMPARE(bin->geometry().topLeft(), QPoint(8 + 57 * c.width(), 16 + c.height()));
    QTest::keyClicks(bin, "z");
    QTest::keyClick(bin, Qt::Key_Enter);
    QCOMPARE(rig.m.mem.rows[tarvo::kRam0Row].buffer[0x12], uint8_t('z'));
    rig.click(Pane::Bin, 1, 9);
    QCOMPARE(bin->width(), 0);
    QCOMPARE(f.model().view().editMode, tarvo::EditMode::None);

    // An instruction that cannot be assembled keeps the box open with the
    // caret at the fault; Escape closes it.
    rig.click(Pane::List, 0, 8);
    QLineEdit* list = f.paneEdit(Pane::List);
    QCOMPARE(list->x(), 8 + 7 * c.width());
    QTest::keyClicks(list, "ld $1,$32");
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(list->cursorPosition(), 9);
    QVERIFY(list->width() > 0);
    QTest::keyClick(list, Qt::Key_Escape);
    QCOMPARE(list->width(), 0);
  }

  void scrollingByKeysAndBar() {
    Rig rig;
    TDebugForm& f = rig.form;
    f.show();
    QLineEdit* bin = f.paneEdit(Pane::Bin);
    QScrollBar* bar = f.scrollBar(Pane::Bin);
    const int rows = f.model().rows(Pane::Bin);
    QCOMPARE(bar->pageStep(), rows);
    QTest::keyClick(bin, Qt::Key_PageDown);
    QCOMPARE(f.model().view().binTop, 0x10000u + 16u * rows);
    QCOMPARE(bar->value(), rows);
    QTest::keyClick(bin, Qt::Key_End);
    QCOMPARE(bar->value(), bar->maximum());
    QCOMPARE(f.model().view().binTop, 0x10000u + 16u * (0x1000 - rows));
    // The user works the bar: the view follows and the pane becomes active,
    // even when the bar is already at its end.
    f.StepGroupBoxClick();
    bar->triggerAction(QAbstractSlider::SliderToMinimum);
    QCOMPARE(f.model().view().binTop, 0x10000u);
    QCOMPARE(f.model().activeGroup(), Group::Bin);
    f.StepGroupBoxClick();
    bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
    QCOMPARE(f.model().activeGroup(), Group::Bin);
    for (int i = 0; i < 3; ++i) bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(f.model().view().binTop, 0x10030u);
    QCOMPARE(bar->value(), 3);
    // With a field open the keys belong to the box.
    rig.click(Pane::Bin, 0, 7);
    QTest::keyClicks(bin, "4");
    QTest::keyClick(bin, Qt::Key_Home);
    QCOMPARE(f.model().view().binTop, 0x10030u);
    QCOMPARE(bin->cursorPosition(), 0);
  }

  void singleStepStaysOpen() {
    Rig rig;
    TDebugForm& f = rig.form;
    f.show();
    QTest::mouseClick(f.StepButton, Qt::LeftButton);
    QCOMPARE(rig.m.cpu.PC, 0x2001);
    QVERIFY(f.isVisible());
    QCOMPARE(f.model().activeGroup(), Group::Step);
    QCOMPARE(f.focusWidget(), f.group(Group::Step));
    QCOMPARE(f.model().view().listTop, 0x02001u);
    QCOMPARE(rig.loop.run.stopFlag, uint8_t(1));
  }

  void traceOfOneStopsAndShowsTheWindowAgain() {
    Rig rig;
    TDebugForm& f = rig.form;
    f.show();
    QTest::keyClicks(f.TraceEdit, "x1");
    QCOMPARE(f.TraceEdit->text(), QString("1"));
    QTest::mouseClick(f.TraceButton, Qt::LeftButton);
    QVERIFY(!f.isVisible());
    QCOMPARE(rig.loop.run.resumeDelay, 30);
    QCOMPARE(rig.ticksUntilShown(100), 31);
    QCOMPARE(rig.loop.stepsRun(), 1u);
    QCOMPARE(f.model().view().listTop, 0x02001u);
    QCOMPARE(f.model().activeGroup(), Group::List);
    // An empty count leaves the window open.
    f.TraceEdit->clear();
    QTest::mouseClick(f.TraceButton, Qt::LeftButton);
    QVERIFY(f.isVisible());
    QCOMPARE(f.model().activeGroup(), Group::Trace);
  }

  void breakpointRunStopsOnTheWayBack() {
    Rig rig;
    TDebugForm& f = rig.form;
    f.show();
    QTest::keyClicks(f.BpEdit, "2000");
    QTest::mouseClick(f.BpButton, Qt::LeftButton);
    QVERIFY(!f.isVisible());
    QCOMPARE(rig.ticksUntilShown(100), 31);
    QCOMPARE(rig.loop.stepsRun(), 3u);  // nop, nop, jr back
    QCOMPARE(rig.m.cpu.PC, 0x2000);
    QCOMPARE(rig.loop.run.breakpointAddress, -1);
    // Closing the window resumes with nothing armed.
    f.close();
    QCOMPARE(rig.loop.run.stopFlag, uint8_t(0));
    QCOMPARE(rig.ticksUntilShown(200), -1);
    QVERIFY(rig.loop.stepsRun() > 3u);
  }

  void f3FromTheMainWindowShowsTheCurrentInstruction() {
    guitest::MachineDir dir;
    TMainForm main;
    TDebugForm debug(main.machine(), main.runLoop());
    main.setDebugForm(&debug);
    main.show();
    tarvo::Machine& m = main.machine();
    main.runLoop().run.stopFlag = 1;
    m.cpu.PC = 0x2345;
    m.cpu.segmentLatch = 1;
    QTest::keyClick(&main, Qt::Key_F3);
    QVERIFY(debug.isVisible());
    QCOMPARE(main.runLoop().run.stopFlag, uint8_t(1));
    QCOMPARE(debug.model().view().listTop, 0x12345u);
    QCOMPARE(debug.focusWidget(), debug.paneEdit(Pane::List));
    debug.close();
    QCOMPARE(main.runLoop().run.resumeDelay, 30);
  }
};

QTEST_MAIN(DebugFormTest)
#include "debug_form_test.moc"
