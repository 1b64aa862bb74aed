// Every field of the emulated machine's state, listed once, in a fixed
// order: the processor, every region buffer (with the bank bytes), the LCD
// pair, the held keys, the port, the timers, and the scheduler's budget
// and phase. What the host keeps (page tables, the disk link's socket and
// its configured address, a pending link failure) is not in the list.
//
// visit is called as visit(bytes, size) for each field or array, with a
// pointer that is const when the machine is. The digest hashes the list;
// anything that stores or compares machine states uses the same list.
//
// group, when given, is called with a short name before the fields of each
// group: "cpu", one per memory region ("rom0", "bank", "rom1", "ram0",
// "ram1", "rom2", "rom3"), "lcd", "charset" (the glyph table), "keys",
// "port", "timers" and, with a scheduler, "sched". Names are at most 8
// characters. The state file stores one section per group.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "machine.h"
#include "machine/scheduler.h"

namespace tarvo {

struct NoStateGroups {
  void operator()(const char*) const {}
};

// Region rows by name, in row order.
inline constexpr const char* kRegionGroupNames[kRegionCount] = {"rom0", "bank", "rom1", "ram0",
                                                                "ram1", "rom2", "rom3"};

template <class M, class S, class Visit, class Group = NoStateGroups>
void forEachStateField(M& m, S* scheduler, Visit&& visit, Group&& group = Group{}) {
  auto field = [&](auto& x) { visit(&x, sizeof x); };
  auto& c = m.cpu;
  group("cpu");
  field(c.R);
  field(c.PC), field(c.SS), field(c.US), field(c.IX), field(c.IY), field(c.IZ), field(c.KY);
  field(c.SX), field(c.SY), field(c.SZ), field(c.UA), field(c.IA), field(c.IB), field(c.IE);
  field(c.PE), field(c.PD), field(c.TM), field(c.F);
  field(c.segmentLatch), field(c.inService), field(c.clockShift), field(c.powerOff);
  field(c.wordFetch), field(c.fetchBuffer), field(c.fetchPos), field(c.cycles);
  field(c.kyStatus), field(c.prevKyStatus), field(c.budgetRestart);

  for (int i = 0; i < kRegionCount; ++i) {
    group(kRegionGroupNames[i]);
    visit(m.mem.rows[i].buffer.data(), m.mem.rows[i].buffer.size());
  }

  auto& lcd = m.lcd;
  group("lcd");
  field(lcd.control), field(lcd.command), field(lcd.nibbleCount), field(lcd.address);
  field(lcd.memory), field(lcd.charWidth), field(lcd.displayOn);
  field(lcd.charCode), field(lcd.cursorMode), field(lcd.pulsePeriod), field(lcd.frame);
  for (auto& cursor : lcd.cursor) {
    field(cursor.pattern), field(cursor.start), field(cursor.halfOffset), field(cursor.x);
    field(cursor.bandOffset);
  }
  group("charset");
  field(lcd.glyphs);

  group("keys");
  field(m.keys.mouseKey), field(m.keys.hostKey), field(m.keys.chordKey);

  auto& port = m.port;
  group("port");
  field(port.inputLines), field(port.previousValue), field(port.sendByte);
  field(port.receiveByte), field(port.optionCode);

  auto& t = m.timers;
  group("timers");
  field(t.oscFreq), field(t.cyclesPerTick), field(t.ticksPerSecond);
  field(t.lcdPulseCountdown), field(t.cycleTimer);

  if (scheduler) group("sched"), field(scheduler->cycleBudget), field(scheduler->runTicks);
}

// The sizes of the structures listed above. A field added to one of them
// changes its size and stops the build here: put it on the list, or, if it
// is the host's, say so in tests/machine/state_list_test.cpp; then update
// the size.
static_assert(sizeof(ProcessorState) == 92);
static_assert(sizeof(LcdCursor) == 32);
static_assert(sizeof(Lcd) == 7264);
static_assert(sizeof(KeyMatrix) == 32);
static_assert(sizeof(Port) == 16 + sizeof(std::string) + sizeof(std::unique_ptr<DiskLink>));
static_assert(sizeof(MachineTimers) == 20);
static_assert(sizeof(Scheduler) == 32);

}  // namespace tarvo
