// The cadence that drives the machine: a 10 ms run tick that spends a
// budget of cycles on processor steps, a 50 ms refresh tick and a one-second
// tick. The window drives it from three timers; the emulator object
// (src/emulator/) counts the slower ticks in run ticks through
// advanceCadence. Scheduler and Machine together are all it
// takes to continue a run exactly.
#pragma once

#include <algorithm>
#include <cstdint>

#include "cpu/step.h"
#include "machine.h"
#include "machine/operations.h"

namespace tarvo {

// Timer periods in milliseconds.
constexpr int32_t kRunInterval = 10;
constexpr int32_t kRefreshInterval = 50;
constexpr int32_t kSecondInterval = 1000;

struct Scheduler {
  // Cycles the run tick may still spend; what the last step overshot is
  // carried into the next tick as a budget of zero or less.
  int32_t cycleBudget = 0;
  // Run ticks since the start, for the refresh and one-second ticks that
  // fall due among them.
  uint64_t runTicks = 0;
  // Steps run and the sum of their cycles, since the start.
  uint64_t stepsRun = 0;
  int64_t cyclesRun = 0;
};

// A wake or a CPU reset starts the budget afresh.
inline void restartBudgetIfAsked(Machine& m, Scheduler& s) {
  if (m.cpu.budgetRestart) {
    m.cpu.budgetRestart = false;
    s.cycleBudget = 0;
  }
}

// The start of a run tick: one tick's cycles added to the budget. Returns
// whether there is anything to spend. Without a positive clock nothing is
// added, so the budget cannot run down and wrap round to billions of
// cycles; a budget carried from a tick that ended early never grows past
// the largest one there is.
inline bool beginRunTick(Machine& m, Scheduler& s) {
  restartBudgetIfAsked(m, s);
  if (m.timers.cyclesPerTick <= 0) return false;
  const int64_t budget = int64_t{s.cycleBudget} + m.timers.cyclesPerTick;
  s.cycleBudget = budget > INT32_MAX ? INT32_MAX : static_cast<int32_t>(budget);
  return s.cycleBudget > 0;
}

enum class TickEnd : uint8_t {
  BudgetSpent,
  LinkFailed,  // a disk-link operation failed inside a step
  Watched,     // the watch asked to stop
};

// Steps until the budget is spent. After each step: the clock's work, then
// watch() (a trace count, a breakpoint, the host's time; a no-op costs
// nothing), which stops the run by returning true. A failed disk-link
// operation ends the run at once, before the clock's work, and leaves the
// rest of the budget; watch() still sees that step, so a trace counts it
// and a breakpoint on the next instruction stops there.
// The caller has synced the page tables (syncPages) since anything outside
// a step last touched the machine.
template <class Watch>
inline TickEnd spendBudget(Machine& m, Scheduler& s, Watch&& watch) {
  do {
    const int32_t cycles = stepSynced(m);
    ++s.stepsRun;
    s.cyclesRun += cycles;
    s.cycleBudget = detail::wrapSub(s.cycleBudget, cycles);
    if (m.port.linkFailed) return watch() ? TickEnd::Watched : TickEnd::LinkFailed;
    afterStep(m, cycles);
    restartBudgetIfAsked(m, s);
    if (watch()) return TickEnd::Watched;
  } while (s.cycleBudget > 0);
  return TickEnd::BudgetSpent;
}

namespace detail {

// The clock's work over a run of steps, done only when it can have an
// effect. Between two such steps the external lines request nothing (line
// A is not at its requesting level and no edge of line B is due), and the
// LCD pulse and the cycle timer only count down; the countdowns are then
// brought up to date in one subtraction. A step needs the clock's full work
// when a countdown would run out in it, or when it changed what the clock
// depends on (the LCD's control bits, the cycle timer's rate, line A's
// level selection), which such a write signals through the processor's
// attention flag.
struct DeferredClock {
  // LCD control bits 6-7 and IA bit 6 (as bit 5), as the quiet steps ran
  // under them.
  uint8_t key = 0;
  // The number of cycles at which a countdown would run out (0: at the
  // next step).
  uint32_t toEvent = 0;

  static uint8_t keyOf(const Machine& m) {
    return static_cast<uint8_t>((m.lcd.control & 0xC0) | ((m.cpu.IA >> 1) & 0x20));
  }

  // Counts down the quiet cycles with the state they ran under.
  void flush(Machine& m, uint32_t cycles) const {
    MachineTimers& t = m.timers;
    const int32_t n = static_cast<int32_t>(cycles);
    if ((key & 0xC0) == 0xC0) t.lcdPulseCountdown = wrapSub(t.lcdPulseCountdown, n);
    t.cycleTimer = wrapSub(t.cycleTimer, wrapMul(n, (key & 0x20) ? 1 : 256));
  }

  // After the clock's full work: where the next event lies.
  void restart(const Machine& m) {
    const ProcessorState& c = m.cpu;
    const MachineTimers& t = m.timers;
    key = keyOf(m);
    const bool lineA = ((c.kyStatus & kLineA) != 0) == ((c.IE & 0x01) != 0);
    if (lineA || c.kyStatus != c.prevKyStatus) {
      toEvent = 0;
      return;
    }
    // A countdown runs out at the first step that takes it below zero.
    int64_t next = INT32_MAX;
    if ((key & 0xC0) == 0xC0) next = std::min<int64_t>(next, int64_t{t.lcdPulseCountdown} + 1);
    const int32_t scale = (key & 0x20) ? 1 : 256;
    next = std::min<int64_t>(next, t.cycleTimer < 0 ? 0 : t.cycleTimer / scale + 1);
    toEvent = next <= 0 ? 0 : static_cast<uint32_t>(next);
  }
};

}  // namespace detail

// spendBudget with the clock's work deferred (detail::DeferredClock) and
// the counters kept in locals, for a watch in two parts: wants(), a cheap
// test after each step, which sees the machine as spendBudget's watch
// would except the two countdowns and the scheduler's counters, and
// onWant(), which runs when it says so with those up to date too, and
// stops the run by returning true. Every other effect is that of
// spendBudget with the watch wants() && onWant().
template <class Wants, class OnWant>
inline TickEnd spendBudgetDeferred(Machine& m, Scheduler& s, Wants&& wants, OnWant&& onWant) {
  ProcessorState& c = m.cpu;
  detail::DeferredClock clock;
  clock.restart(m);
  c.attention = false;
  uint64_t steps = s.stepsRun;
  int64_t cyclesRun = s.cyclesRun;
  int32_t budget = s.cycleBudget;
  const auto save = [&] {
    s.stepsRun = steps;
    s.cyclesRun = cyclesRun;
    s.cycleBudget = budget;
  };
  while (budget > 0) {
    // A run of steps that need nothing after them but the count of their
    // cycles; it ends at the step that spends the budget, reaches the next
    // event, sets the attention flag or is wanted by the watch. Plain
    // steps have a loop of their own, which the others leave once the
    // processor is plain again.
    const uint32_t limit = std::min(clock.toEvent, static_cast<uint32_t>(budget));
    // The watch is asked about every step once, after the clock's work:
    // within the run, where that work is nothing, or after it ends.
    uint32_t spent = 0;
    int32_t cycles;
    bool wanted = false;
    if (stepIsPlain(c)) {
      for (;;) {
        cycles = stepPlain(m);
        ++steps;
        spent += static_cast<uint32_t>(cycles);
        if (spent >= limit || c.attention) break;
        if (wants()) {
          wanted = true;
          break;
        }
      }
      // A slw in the last step scales that step's own cycles.
      const int32_t scaled = scalePlainStep(c, cycles);
      spent += static_cast<uint32_t>(scaled - cycles);
      cycles = scaled;
    } else {
      for (;;) {
        cycles = stepSynced(m);
        ++steps;
        spent += static_cast<uint32_t>(cycles);
        if (spent >= limit || c.attention || stepIsPlain(c)) break;
        if (wants()) {
          wanted = true;
          break;
        }
      }
    }
    cyclesRun += spent;
    budget = detail::wrapSub(budget, static_cast<int32_t>(spent));
    if (spent >= clock.toEvent || c.attention) {
      // The last step needs the clock's full work; the ones before it
      // were quiet.
      c.attention = false;
      clock.flush(m, spent - static_cast<uint32_t>(cycles));
      if (m.port.linkFailed) {
        save();
        return wants() && onWant() ? TickEnd::Watched : TickEnd::LinkFailed;
      }
      afterStep(m, cycles);
      if (c.budgetRestart) {
        c.budgetRestart = false;
        budget = 0;
      }
    } else {
      clock.flush(m, spent);
    }
    if (wanted || wants()) {
      save();
      if (onWant()) return TickEnd::Watched;
      budget = s.cycleBudget;
    }
    clock.restart(m);
    c.attention = false;
  }
  save();
  return TickEnd::BudgetSpent;
}

// Which of the slower ticks fall due after a run tick.
struct CadenceDue {
  bool refresh = false;
  bool second = false;
};
inline CadenceDue advanceCadence(Scheduler& s) {
  ++s.runTicks;
  return {s.runTicks % (kRefreshInterval / kRunInterval) == 0,
          s.runTicks % (kSecondInterval / kRunInterval) == 0};
}

}  // namespace tarvo
