// A debug window over a machine driven by a bare run loop, for the window
// tests of the debugger: nop, nop, jr &H2000 at 0x2000 of segment 0.
#pragma once

#include <QtTest>
#include <string>

#include "debug_form.h"
#include "frontpanel/run_loop.h"
#include "machine.h"

namespace guitest {

struct NoMessages : tarvo::Messages {
  void loadFailed(const std::string&) override {}
  void saveFailed(const std::string&) override {}
};

struct DebugRig {
  tarvo::Machine m;
  NoMessages messages;
  tarvo::RunLoop loop{m, messages, "/nonexistent"};
  TDebugForm form{m, loop};

  DebugRig() {
    auto& rom1 = m.mem.rows[tarvo::kRom1Row].buffer;
    rom1[0x2000] = 0xF8;
    rom1[0x2001] = 0xF8;
    rom1[0x2002] = 0xB7;
    rom1[0x2003] = 0x83;
    m.cpu.PC = 0x2000;
    m.timers.cyclesPerTick = 9100;
    loop.showDebugger = [this] { form.show(); };
  }
  // Press on the character cell (row, col) of a pane.
  void click(tarvo::Pane p, int row, int col) {
    const QSize c = form.cell();
    QTest::mouseClick(form.paintBox(p), Qt::LeftButton, {},
                      QPoint(col * c.width() + c.width() / 2, row * c.height() + c.height() / 2));
  }
  // Run ticks until the window shows again, at most n.
  int ticksUntilShown(int n) {
    for (int i = 1; i <= n; ++i) {
      loop.runTick();
      if (form.isVisible()) return i;
    }
    return -1;
  }
  bool showActive() {
    form.show();
    form.activateWindow();
    return QTest::qWaitForWindowActive(&form);
  }
};

}  // namespace guitest
