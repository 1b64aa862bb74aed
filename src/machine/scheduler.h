// The cadence that drives the machine: a 10 ms run tick that spends a
// budget of cycles on processor steps, a 50 ms refresh tick and a one-second
// tick. The window drives it from three timers; the emulator object
// (src/emulator/) counts the slower ticks in run ticks through
// advanceCadence. Scheduler and Machine together are all it
// takes to continue a run exactly.
#pragma once

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
