// Every field of the emulated machine's state, listed once, in a fixed
// order: the processor, every region buffer (with the bank bytes), the LCD
// pair, the held keys, the port, the timers, and the scheduler's budget
// and phase. What the host keeps (page tables, the disk link's socket and
// its configured address, a pending link failure) is not in the list.
//
// visit is called as visit(bytes, size) for each field or array, with a
// pointer that is const when the machine is. The digest hashes the list;
// anything that stores or compares machine states uses the same list.
#pragma once

#include <cstddef>

#include "machine.h"
#include "machine/scheduler.h"

namespace tarvo {

template <class M, class S, class Visit>
void forEachStateField(M& m, S* scheduler, Visit&& visit) {
  auto field = [&](auto& x) { visit(&x, sizeof x); };
  auto& c = m.cpu;
  field(c.R);
  field(c.PC), field(c.SS), field(c.US), field(c.IX), field(c.IY), field(c.IZ), field(c.KY);
  field(c.SX), field(c.SY), field(c.SZ), field(c.UA), field(c.IA), field(c.IB), field(c.IE);
  field(c.PE), field(c.PD), field(c.TM), field(c.F);
  field(c.segmentLatch), field(c.inService), field(c.clockShift), field(c.powerOff);
  field(c.wordFetch), field(c.fetchBuffer), field(c.fetchPos), field(c.cycles);
  field(c.kyStatus), field(c.prevKyStatus), field(c.budgetRestart);

  for (auto& row : m.mem.rows) visit(row.buffer.data(), row.buffer.size());

  auto& lcd = m.lcd;
  field(lcd.control), field(lcd.command), field(lcd.nibbleCount), field(lcd.address);
  field(lcd.memory), field(lcd.glyphs), field(lcd.charWidth), field(lcd.displayOn);
  field(lcd.charCode), field(lcd.cursorMode), field(lcd.pulsePeriod), field(lcd.frame);
  for (auto& cursor : lcd.cursor) {
    field(cursor.pattern), field(cursor.start), field(cursor.halfOffset), field(cursor.x);
    field(cursor.bandOffset);
  }

  field(m.keys.mouseKey), field(m.keys.hostKey);

  auto& port = m.port;
  field(port.inputLines), field(port.previousValue), field(port.sendByte);
  field(port.receiveByte), field(port.optionCode);

  auto& t = m.timers;
  field(t.oscFreq), field(t.cyclesPerTick), field(t.ticksPerSecond);
  field(t.lcdPulseCountdown), field(t.cycleTimer);

  if (scheduler) field(scheduler->cycleBudget), field(scheduler->runTicks);
}

}  // namespace tarvo
