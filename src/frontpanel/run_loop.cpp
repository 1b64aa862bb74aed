#include "frontpanel/run_loop.h"

#include <chrono>
#include <utility>

#include "cpu/exec.h"
#include "cpu/step.h"
#include "devices/keyboard.h"
#include "devices/lcd.h"
#include "devices/port.h"
#include "machine.h"

namespace tarvo {

namespace {

// Steps between two readings of the host clock in a bounded tick: well
// under a millisecond of host time.
constexpr uint32_t kStepsPerClockRead = 1024;

}  // namespace

void debugShow(RunControl& run) {
  run.stopFlag = 1;
  run.traceCount = -1;
  run.breakpointAddress = -1;
}

void debugHide(RunControl& run) {
  run.resumeDelay = kResumeDelayTicks;
  run.stopFlag = 0;
}

RunLoop::RunLoop(Machine& m, Messages& messages, std::string dir)
    : m_(m), messages_(messages), dir_(std::move(dir)) {}

void RunLoop::create() {
  if (loadCharset(m_.lcd, path("charset.bin")) != LoadResult::Complete)
    messages_.loadFailed("charset.bin");

  // A missing or short register.bin quietly leaves 0xFF where it gave
  // nothing. One that is there but cannot be read is reported, and kept.
  keepRegisters_ = loadRegisters(m_.cpu, path("register.bin")) == LoadResult::Unreadable;
  if (keepRegisters_) messages_.loadFailed("register.bin");

  for (int i = 0; i < kRegionCount; ++i) {
    Region& row = m_.mem.rows[i];
    row.buffer.assign(row.size(), 0xFF);
    keepImage_[i] = false;
    if (row.imageFile[0] == '\0') continue;
    const LoadResult result = loadFile(path(row.imageFile), row.buffer.data(), row.size());
    if (result == LoadResult::Complete) continue;
    if (result == LoadResult::Unreadable && row.writable) {
      keepImage_[i] = true;
      messages_.loadFailed(row.imageFile);
    } else if (row.reportLoadFailure) {
      messages_.loadFailed(row.imageFile);
    }
  }

  settings_ = readSettings(path("tarvo.ini"));
  m_.timers.oscFreq = settings_.oscFreq;
  m_.port.optionCode = static_cast<uint8_t>(settings_.optionCode);
  m_.port.address = settings_.address;
  m_.port.portNumber = settings_.port;

  m_.timers.ticksPerSecond = 1000 / kRunInterval;
}

void RunLoop::show(bool hasOptionalKey) {
  releaseKey(m_, KeyHolder::Mouse);
  releaseKey(m_, KeyHolder::Host);
  run.stopFlag = 0;
  m_.cpu.powerOff = false;
  run.resumeDelay = 0;
  run.traceCount = -1;
  run.breakpointAddress = -1;

  uint8_t lines = 0xFB;
  if (fileExists(path("rom2.bin")) || fileExists(path("rom3.bin"))) lines &= ~0x02;
  if (!hasOptionalKey) lines &= ~0x01;
  m_.port.inputLines = lines;

  setClock(m_, m_.timers.oscFreq);
  powerOnSequence(m_);
  m_.cpu.F = kFlagPower;
}

void RunLoop::close() {
  run.stopFlag = 1;
  closeLink(m_);
  saveFiles();
}

void RunLoop::saveFiles() {
  // A file kept because it could not be read at start is not saved either:
  // the user learns that this session's state of it is lost.
  if (keepRegisters_ || !saveRegisters(m_.cpu, path("register.bin")))
    messages_.saveFailed("register.bin");
  for (int i = 0; i < kRegionCount; ++i) {
    const Region& row = m_.mem.rows[i];
    if (!row.writable || row.imageFile[0] == '\0') continue;
    if (keepImage_[i] || !saveFile(path(row.imageFile), row.buffer.data(), row.buffer.size()))
      messages_.saveFailed(row.imageFile);
  }
}

void RunLoop::stop() {
  debugShow(run);
  scheduler.cycleBudget = 0;
  if (showDebugger) showDebugger();
}

namespace {
// Stand-ins that make the filter's tests unconditional: no breakpoint
// address, no watched access.
const std::array<uint8_t, 0x10000 / 8> kNoAddresses{};
const bool kNoWatchHit = false;
}  // namespace

// The run tick with only the debugger's breakpoints and watchpoints armed:
// after each step a bit of the address bitmap, the watch's hit flag and the
// interrupts in service are looked at, and the debugger is asked only when
// one of them says so.
void RunLoop::observedTick(StepObserver& observer) {
  const uint8_t* filter = observer.pcFilter != nullptr ? observer.pcFilter : kNoAddresses.data();
  const bool* hit = m_.mem.watch != nullptr ? &m_.mem.watch->hit.hit : &kNoWatchHit;
  const uint8_t mask = observer.interruptMask;
  uint8_t inService = m_.cpu.inService;
  const TickEnd end = spendBudgetDeferred(
      m_, scheduler,
      [&] {
        const uint16_t pc = m_.cpu.PC;
        return (filter[pc >> 3] >> (pc & 7) & 1u) || *hit ||
               (mask != 0 && m_.cpu.inService != inService);
      },
      [&] {
        inService = m_.cpu.inService;
        return observer.stepped(m_, scheduler.cyclesRun);
      });
  if (end == TickEnd::Watched) stop();
}

void RunLoop::runTick() {
  Scheduler& s = scheduler;
  m_.port.linkFailed = false;
  // The disk link may wait a bounded time within each tick, in total.
  m_.port.fddSocket->startTick();
  if (run.resumeDelay > 0) {
    --run.resumeDelay;
    m_.cpu.budgetRestart = false;
    s.cycleBudget = 0;
    return;
  }
  if (!beginRunTick(m_, s)) return;

  // Between its steps the tick touches neither the common area nor the
  // bank bytes, so the memory map's page tables are synced once. Nor does
  // anything between them set the stop flag or arm a trace or breakpoint
  // (a step cannot, and the tick returns as soon as it stops the machine),
  // so those are looked at once too.
  syncPages(m_);
  if (run.stopFlag) {
    s.cycleBudget = 0;
    return;
  }
  StepObserver* observer =
      run.observer != nullptr && run.observer->armed() ? run.observer : nullptr;
  const bool watching = run.traceCount > 0 || run.breakpointAddress >= 0 || observer != nullptr;
  const bool bounded = hostTimeLimit_.count() > 0;
  if (!watching && !bounded) {
    spendBudgetDeferred(
        m_, s, [] { return false; }, [] { return false; });
    return;
  }
  if (!watching) {
    // The window's tick: only the host clock, read once every
    // kStepsPerClockRead steps; at the limit the rest of the tick's work
    // is dropped.
    const auto hostEnd = std::chrono::steady_clock::now() + hostTimeLimit_;
    uint32_t untilClockRead = kStepsPerClockRead;
    const TickEnd end = spendBudgetDeferred(
        m_, s, [&untilClockRead] { return --untilClockRead == 0; },
        [&] {
          untilClockRead = kStepsPerClockRead;
          return std::chrono::steady_clock::now() >= hostEnd;
        });
    if (end == TickEnd::Watched) s.cycleBudget = 0;
    return;
  }
  if (observer != nullptr && !observer->everyStep && !bounded && run.traceCount <= 0 &&
      run.breakpointAddress < 0) {
    observedTick(*observer);
    return;
  }
  // The host clock is read once every kStepsPerClockRead steps, when bounded.
  const auto hostEnd = bounded ? std::chrono::steady_clock::now() + hostTimeLimit_
                               : std::chrono::steady_clock::time_point{};
  uint32_t untilClockRead = kStepsPerClockRead;
  bool timeUp = false;
  uint8_t inService = m_.cpu.inService;
  const auto observerWants = [&] {
    if (observer->everyStep) return true;
    const uint16_t pc = m_.cpu.PC;
    if (observer->pcFilter != nullptr && (observer->pcFilter[pc >> 3] >> (pc & 7) & 1u))
      return true;
    if (m_.mem.watch != nullptr && m_.mem.watch->hit.hit) return true;
    if (observer->interruptMask != 0 && m_.cpu.inService != inService) {
      inService = m_.cpu.inService;
      return true;
    }
    return false;
  };
  const TickEnd end = spendBudget(m_, s, [&] {
    // The trace count runs out, or PC has reached the breakpoint.
    if (watching) {
      // The debugger's checks come first: a trace line is written for every
      // step, and a breakpoint or watchpoint it names is the reason shown.
      if (observer != nullptr && observerWants() && observer->stepped(m_, s.cyclesRun)) return true;
      if ((run.traceCount > 0 && --run.traceCount == 0) ||
          (run.breakpointAddress >= 0 && run.breakpointAddress == m_.cpu.PC)) {
        if (run.observer != nullptr) run.observer->stoppedElsewhere();
        return true;
      }
    }
    if (bounded && --untilClockRead == 0) {
      untilClockRead = kStepsPerClockRead;
      timeUp = std::chrono::steady_clock::now() >= hostEnd;
      return timeUp;
    }
    return false;
  });
  if (end != TickEnd::Watched) return;
  if (timeUp) {
    s.cycleBudget = 0;  // the rest of this tick's work is dropped
  } else {
    stop();
  }
}

void RunLoop::secondTick() {
  tarvo::secondTick(m_, !run.stopFlag);
}

void RunLoop::refreshTick() {
  m_.lcd.composeFrame();
}

}  // namespace tarvo
