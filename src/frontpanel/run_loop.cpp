#include "frontpanel/run_loop.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "cpu/exec.h"
#include "cpu/step.h"
#include "devices/keyboard.h"
#include "devices/lcd.h"
#include "devices/port.h"
#include "machine.h"

namespace tarvo {

namespace {

// The run loop's counters are signed 32-bit and wrap as two's complement:
// a huge OscFreq or a long slow instruction must not be undefined behaviour.
inline int32_t wrapAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t wrapSub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
inline int32_t wrapMul(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

// A clock too fast for 32 bits is the fastest there is, never a negative
// one; a clock of 0 or less gives 0 or less, and the machine never steps.
int32_t cyclesPerTickFor(int32_t oscFreq) {
  const int64_t cycles = int64_t{kRunInterval} * oscFreq;
  if (cycles > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (cycles < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(cycles);
}

// Steps between two readings of the host clock in a bounded tick: well
// under a millisecond of host time.
constexpr uint32_t kStepsPerClockRead = 1024;

constexpr uint16_t kLinePulse = 0x0200;  // KY status bit 9
constexpr uint16_t kLineA = 0x0400;      // KY status bit 10
constexpr uint16_t kLineB = 0x0800;      // KY status bit 11

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

void powerOnSequence(Machine& m) {
  m.lcd.control = 0;
  m.lcd.reset();
  m.port.inputLines = static_cast<uint8_t>((m.port.inputLines & 0x03) | 0xF8);
  m.cpu.PE = 0;
  // Line 4 goes high with PE, but the reset consumes that edge: the disk
  // server's session is ended here, not left open until the next call.
  closeLink(m);
  portLinkReset(m);
  m.mem.bankA() = 0;
  m.mem.bankB() = 0;
  cpuReset(m);
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
  m_.run.oscFreq = settings_.oscFreq;
  m_.port.optionCode = static_cast<uint8_t>(settings_.optionCode);
  m_.port.address = settings_.address;
  m_.port.portNumber = settings_.port;

  m_.run.ticksPerSecond = 1000 / kRunInterval;
}

void RunLoop::show(bool hasOptionalKey) {
  m_.keys.mouseKey = 0;
  m_.keys.hostKey = 0;
  m_.run.stopFlag = 0;
  m_.cpu.powerOff = false;
  m_.run.resumeDelay = 0;
  m_.run.traceCount = -1;
  m_.run.breakpointAddress = -1;

  uint8_t lines = 0xFB;
  if (fileExists(path("rom2.bin")) || fileExists(path("rom3.bin"))) lines &= ~0x02;
  if (!hasOptionalKey) lines &= ~0x01;
  m_.port.inputLines = lines;

  m_.run.cyclesPerTick = cyclesPerTickFor(m_.run.oscFreq);
  powerOnSequence(m_);
  m_.cpu.F = kFlagPower;
}

void RunLoop::close() {
  m_.run.stopFlag = 1;
  closeLink(m_);
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
  debugShow(m_.run);
  m_.run.cycleBudget = 0;
  if (showDebugger) showDebugger();
}

void RunLoop::runTick() {
  RunControl& run = m_.run;
  ProcessorState& c = m_.cpu;
  run.abortTick = false;
  // The disk link may wait a bounded time within each tick, in total.
  m_.port.fddSocket->startTick();

  if (run.resumeDelay > 0) {
    --run.resumeDelay;
    run.cycleBudget = 0;
    return;
  }
  // Without a positive clock nothing is added, so the budget cannot run
  // down and wrap round to billions of cycles.
  if (run.cyclesPerTick <= 0) return;
  // The budget left by a tick that ended early is carried, but never past
  // the largest budget there is.
  run.cycleBudget = static_cast<int32_t>(std::min<int64_t>(
      int64_t{run.cycleBudget} + run.cyclesPerTick, std::numeric_limits<int32_t>::max()));
  if (run.cycleBudget <= 0) return;

  // Between its steps the tick touches neither the common area nor the
  // bank bytes, so the memory map's page tables are synced once. Nor does
  // anything between them set the stop flag or arm a trace or breakpoint
  // (a step cannot, and the tick returns as soon as it stops the machine),
  // so those are looked at once too.
  syncPages(m_);
  if (run.stopFlag) {
    run.cycleBudget = 0;
    return;
  }
  const bool watching = run.traceCount > 0 || run.breakpointAddress >= 0;
  // The host clock is read once every kStepsPerClockRead steps, when bounded.
  const bool bounded = hostTimeLimit_.count() > 0;
  const auto hostEnd = bounded ? std::chrono::steady_clock::now() + hostTimeLimit_
                               : std::chrono::steady_clock::time_point{};
  uint32_t untilClockRead = kStepsPerClockRead;
  // After a step: the trace count runs out, or PC has reached the
  // breakpoint.
  const auto watchStops = [&] {
    if (run.traceCount > 0 && --run.traceCount == 0) return true;
    return run.breakpointAddress >= 0 && run.breakpointAddress == c.PC;
  };
  do {
    const int32_t cycles = stepSynced(m_);
    ++stepsRun_;
    cyclesRun_ += cycles;
    run.cycleBudget = wrapSub(run.cycleBudget, cycles);
    // A disk-link failure inside the step ends the tick at once, before the
    // per-step work; what is left of the budget carries over. The step still
    // counts for a trace, and a breakpoint on the next instruction still
    // stops there.
    if (run.abortTick) {
      if (watching && watchStops()) stop();
      return;
    }

    // Line B requests on the edge that IE bit 1 selects.
    if (((c.kyStatus ^ c.prevKyStatus) & kLineB) &&
        ((c.kyStatus & kLineB) != 0) == ((c.IE & 0x02) != 0))
      requestInterrupt(m_, 0x10);
    c.prevKyStatus = c.kyStatus;

    // Line A requests for as long as it is at the level IE bit 0 selects.
    if (((c.kyStatus & kLineA) != 0) == ((c.IE & 0x01) != 0)) requestInterrupt(m_, 0x04);

    // The LCD pulse line toggles every pulse period while the controllers
    // and their pulse output are enabled; its falling edge requests 0.
    if ((m_.lcd.control & 0xC0) == 0xC0) {
      run.lcdPulseCountdown = wrapSub(run.lcdPulseCountdown, cycles);
      if (run.lcdPulseCountdown < 0) {
        run.lcdPulseCountdown = wrapAdd(run.lcdPulseCountdown, m_.lcd.pulsePeriod);
        if (run.lcdPulseCountdown < 0) run.lcdPulseCountdown = m_.lcd.pulsePeriod;
        c.kyStatus ^= kLinePulse;
        if (!(c.kyStatus & kLinePulse)) requestInterrupt(m_, 0x01);
      }
    }

    // The cycle timer counts cycles (IA bit 6) or 256 per cycle, and on
    // underflow reloads with one emulated second of cycles.
    run.cycleTimer = wrapSub(run.cycleTimer, wrapMul(cycles, (c.IA & 0x40) ? 1 : 256));
    if (run.cycleTimer < 0) {
      run.cycleTimer = wrapAdd(run.cycleTimer, wrapMul(run.cyclesPerTick, run.ticksPerSecond));
      if (!(c.IA & 0x80)) requestInterrupt(m_, 0x08);
    }

    if (watching && watchStops()) {
      stop();
      return;
    }

    if (bounded && --untilClockRead == 0) {
      untilClockRead = kStepsPerClockRead;
      if (std::chrono::steady_clock::now() >= hostEnd) {
        run.cycleBudget = 0;
        return;
      }
    }
  } while (run.cycleBudget > 0);
}

void RunLoop::secondTick() {
  ProcessorState& c = m_.cpu;
  ++c.TM;
  if ((c.TM & 0x3F) == 0x3C) {
    // Seconds back to 0 with a carry into the minutes in bits 6-7.
    c.TM = static_cast<uint8_t>(c.TM + 4);
    if (!m_.run.stopFlag) requestInterrupt(m_, 0x02);
  }
}

void RunLoop::refreshTick() {
  m_.lcd.composeFrame();
}

}  // namespace tarvo
