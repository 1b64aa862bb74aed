// Whole random programs on the run tick's fast loop against the plain
// definition of a tick: the step through the region table alone, then the
// clock's work written out step by step (the external lines, the LCD pulse,
// the cycle timer). Random bytes run as code in RAM from random registers,
// with the timers, the key matrix, the seconds counter, the power switch and
// a disk link that fails now and then all requesting interrupts. After
// every step every register, every region buffer and the state digest must
// agree (the state digest on every 16th step), and after every tick the
// scheduler's counters too.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "../support/cpu_diff.h"
#include "cpu/exec.h"
#include "cpu/memory.h"
#include "frontpanel/run_loop.h"
#include "machine.h"
#include "machine/digest.h"
#include "machine/operations.h"
#include "machine/scheduler.h"

namespace tarvo {
namespace {

using test::registerDifferences;

// A drive that answers each byte with a function of it and of the bytes
// before it, and fails every so often, the same way on both machines.
class FlakyLink final : public DiskLink {
 public:
  explicit FlakyLink(uint32_t failEvery) : failEvery_(failEvery) {}
  bool open(const std::string&, int32_t) override {
    open_ = true;
    return true;
  }
  void close() override { open_ = false; }
  bool connected() const override { return open_; }
  bool sendByte(uint8_t value) override {
    last_ = static_cast<uint8_t>(value * 5 + count_);
    return ++count_ % failEvery_ != 0;
  }
  bool receiveByte(uint8_t& value) override {
    value = last_;
    return ++count_ % failEvery_ != 0;
  }

 private:
  uint32_t failEvery_;
  bool open_ = true;
  uint8_t last_ = 0;
  uint32_t count_ = 0;
};

struct NoMessages : Messages {
  void loadFailed(const std::string&) override {}
  void saveFailed(const std::string&) override {}
};

// The clock's work after one step, written as the plain rule for each
// source, one after the other.
void referenceClock(Machine& m, int32_t cycles) {
  using namespace detail;
  ProcessorState& c = m.cpu;
  MachineTimers& t = m.timers;
  const bool lineB = (c.kyStatus & kLineB) != 0;
  if (lineB != ((c.prevKyStatus & kLineB) != 0) && lineB == ((c.IE & 0x02) != 0))
    requestInterrupt(m, 0x10);
  c.prevKyStatus = c.kyStatus;
  if (((c.kyStatus & kLineA) != 0) == ((c.IE & 0x01) != 0)) requestInterrupt(m, 0x04);
  if ((m.lcd.control & 0xC0) == 0xC0) {
    t.lcdPulseCountdown = wrapSub(t.lcdPulseCountdown, cycles);
    if (t.lcdPulseCountdown < 0) {
      t.lcdPulseCountdown = wrapAdd(t.lcdPulseCountdown, m.lcd.pulsePeriod);
      if (t.lcdPulseCountdown < 0) t.lcdPulseCountdown = m.lcd.pulsePeriod;
      c.kyStatus ^= kLinePulse;
      if (!(c.kyStatus & kLinePulse)) requestInterrupt(m, 0x01);
    }
  }
  const int32_t scale = (c.IA & 0x40) ? 1 : 256;
  t.cycleTimer = wrapSub(t.cycleTimer, wrapMul(cycles, scale));
  if (t.cycleTimer < 0) {
    t.cycleTimer = wrapAdd(t.cycleTimer, wrapMul(t.cyclesPerTick, t.ticksPerSecond));
    if (!(c.IA & 0x80)) requestInterrupt(m, 0x08);
  }
}

// One machine with its scheduler.
struct Rig {
  std::unique_ptr<Machine> m = std::make_unique<Machine>();
  Scheduler s;
};

// One step of the reference tick; false when a link operation failed,
// which ends the tick before the clock's work.
bool referenceStep(Rig& r) {
  const int32_t cycles = step(*r.m);
  ++r.s.stepsRun;
  r.s.cyclesRun += cycles;
  r.s.cycleBudget = detail::wrapSub(r.s.cycleBudget, cycles);
  if (r.m->port.linkFailed) return false;
  referenceClock(*r.m, cycles);
  if (r.m->cpu.budgetRestart) {
    r.m->cpu.budgetRestart = false;
    r.s.cycleBudget = 0;
  }
  return true;
}

// Empty when the machines agree; otherwise what differs.
std::string difference(const Machine& a, const Machine& b, bool timers = true) {
  std::ostringstream out;
  const ProcessorState& x = a.cpu;
  const ProcessorState& y = b.cpu;
  if (std::memcmp(x.R, y.R, sizeof x.R) != 0) out << "main registers; ";
  registerDifferences(out, x, y, "fast", "reference");
  if (x.budgetRestart != y.budgetRestart) out << "budgetRestart; ";
  if (timers && a.timers.cycleTimer != b.timers.cycleTimer) out << "cycle timer; ";
  if (timers && a.timers.lcdPulseCountdown != b.timers.lcdPulseCountdown)
    out << "LCD pulse countdown; ";
  for (int row = 0; row < kRegionCount; ++row) {
    if (a.mem.rows[row].buffer != b.mem.rows[row].buffer) out << "region row " << row << "; ";
  }
  if (a.port.linkFailed != b.port.linkFailed) out << "link failure; ";
  return out.str();
}

// Random memory everywhere, code in RAM, random registers and timers.
void randomise(Rig& fast, Rig& ref, std::mt19937& rng) {
  const auto byte = [&] { return static_cast<uint8_t>(rng()); };
  Machine& f = *fast.m;
  for (int row = 0; row < kRegionCount; ++row) {
    for (uint8_t& b : f.mem.rows[row].buffer) b = byte();
  }
  // Writes to IE, IA and the LCD control byte sprinkled through RAM
  // (pst IE,n; pst IA,n; ppo n), which change what the clock's work depends
  // on in the middle of a tick.
  std::vector<uint8_t>& ram = f.mem.rows[kRam0Row].buffer;
  for (int i = 0; i < 400; ++i) {
    const std::size_t at = rng() % (ram.size() - 3);
    const unsigned kind = rng() % 3;
    ram[at] = kind == 2 ? 0x54 : 0x57;
    ram[at + 1] = kind == 0 ? static_cast<uint8_t>(0x20 | (byte() & 0x1F))
                            : static_cast<uint8_t>(byte() & 0x1F);
    ram[at + 2] = byte();
  }
  // Mostly no bank switching, so that code keeps running from RAM.
  if (rng() % 4 != 0) f.mem.bankA() = f.mem.bankB() = 0;
  ProcessorState& c = f.cpu;
  for (uint8_t& r : c.R) r = byte();
  // Segment 1 above the common area is RAM.
  c.UA = rng() % 4 != 0 ? 0x55 : byte();
  c.segmentLatch = c.UA;
  c.IB = static_cast<uint8_t>(0x40 | (byte() & 0xA0));
  c.PC = static_cast<uint16_t>(0x8000 + rng() % 0x8000);
  c.SS = static_cast<uint16_t>(0x8000 + rng() % 0x8000);
  c.US = static_cast<uint16_t>(0x8000 + rng() % 0x8000);
  c.IX = static_cast<uint16_t>(rng());
  c.IY = static_cast<uint16_t>(rng());
  c.IZ = static_cast<uint16_t>(rng());
  c.SX = byte() & 31;
  c.SY = byte() & 31;
  c.SZ = byte() & 31;
  c.IA = byte();
  c.IE = byte();
  c.PE = byte();
  c.PD = byte();
  c.TM = byte();
  c.F = byte();
  c.clockShift = rng() % 3 == 0 ? 4 : 0;
  // The external lines at random levels, sometimes with an edge to come.
  c.kyStatus = static_cast<uint16_t>((rng() & 0x0E00));
  c.prevKyStatus = rng() % 2 ? c.kyStatus : static_cast<uint16_t>(c.kyStatus ^ 0x0800);
  f.timers.cyclesPerTick = static_cast<int32_t>(100 + rng() % 3000);
  f.timers.ticksPerSecond = 100;
  f.timers.cycleTimer = static_cast<int32_t>(rng() % 200000);
  f.timers.lcdPulseCountdown = static_cast<int32_t>(rng() % 3000);
  f.lcd.control = rng() % 2 ? 0xC6 : byte();
  f.lcd.pulsePeriod = static_cast<int32_t>(1 + rng() % 2500);
  f.port.inputLines = byte();
  f.port.optionCode = byte();
  f.port.previousValue = portValue(f);
  const uint32_t failEvery = 20 + rng() % 200;
  f.port.fddSocket = std::make_unique<FlakyLink>(failEvery);

  Machine& r = *ref.m;
  for (int row = 0; row < kRegionCount; ++row) r.mem.rows[row].buffer = f.mem.rows[row].buffer;
  r.cpu = f.cpu;
  r.lcd.control = f.lcd.control;
  r.lcd.pulsePeriod = f.lcd.pulsePeriod;
  r.timers = f.timers;
  r.port.inputLines = f.port.inputLines;
  r.port.optionCode = f.port.optionCode;
  r.port.previousValue = f.port.previousValue;
  r.port.fddSocket = std::make_unique<FlakyLink>(failEvery);
  r.mem.exactOnly = true;
}

// What the front panel does between ticks: keys pressed and released, the
// seconds counter, the power switch, the wake key.
void between(Rig& fast, Rig& ref, std::mt19937& rng) {
  const unsigned event = rng() % 16;
  const int key = static_cast<int>(4 + rng() % 78);
  for (Machine* m : {fast.m.get(), ref.m.get()}) {
    switch (event) {
      case 0:
        pressKey(*m, KeyHolder::Mouse, key);
        break;
      case 1:
        releaseKey(*m, KeyHolder::Mouse);
        break;
      case 2:
        secondTick(*m, true);
        break;
      case 3:
        togglePowerSwitch(*m);
        break;
      case 4:
        releaseWakeKey(*m);
        break;
      default:
        break;
    }
  }
}

// Each step of the fast loop, looked at by a watch that runs the reference
// step beside it and compares.
TEST(WholeProgram, RandomProgramsMatchTheReferenceAfterEveryStep) {
  std::mt19937 rng(260);
  uint64_t steps = 0;
  for (int machine = 0; machine < 24; ++machine) {
    Rig fast, ref;
    randomise(fast, ref, rng);
    for (int tick = 0; tick < 30; ++tick) {
      const std::string where =
          "machine " + std::to_string(machine) + " tick " + std::to_string(tick);
      fast.m->port.linkFailed = ref.m->port.linkFailed = false;
      const bool fastRuns = beginRunTick(*fast.m, fast.s);
      ASSERT_EQ(fastRuns, beginRunTick(*ref.m, ref.s)) << where;
      if (fastRuns) {
        syncPages(*fast.m);
        std::string failure;
        bool refRunning = true;
        // The reference's step beside the fast one; timers is false where
        // the fast loop may still owe the countdowns their cycles.
        const auto compare = [&](bool timers) {
          ++steps;
          if (!refRunning) {
            failure = "the reference tick ended first";
            return;
          }
          refRunning = referenceStep(ref) && ref.s.cycleBudget > 0;
          failure = difference(*fast.m, *ref.m, timers);
          // The digest (every byte of the machine) on every 16th step.
          if (timers && failure.empty() && steps % 16 == 0 &&
              stateDigest(*fast.m) != stateDigest(*ref.m))
            failure = "state digest";
        };
        TickEnd end;
        if (machine % 2 == 0) {
          end = spendBudget(*fast.m, fast.s, [&] {
            compare(true);
            return !failure.empty();
          });
        } else {
          // The deferred clock, looked at in full on every 5th step.
          end = spendBudgetDeferred(
              *fast.m, fast.s,
              [&] {
                compare(false);
                return !failure.empty() || steps % 5 == 0;
              },
              [&] {
                if (failure.empty()) failure = difference(*fast.m, *ref.m);
                if (failure.empty() && fast.s.cyclesRun != ref.s.cyclesRun) failure = "cycles run";
                return !failure.empty();
              });
        }
        ASSERT_TRUE(failure.empty()) << where << " step " << fast.s.stepsRun << ": " << failure;
        ASSERT_EQ(end == TickEnd::LinkFailed, ref.m->port.linkFailed) << where;
        ASSERT_FALSE(refRunning) << where << ": the fast tick ended first";
      }
      ASSERT_EQ(fast.s.stepsRun, ref.s.stepsRun) << where;
      ASSERT_EQ(fast.s.cyclesRun, ref.s.cyclesRun) << where;
      ASSERT_EQ(stateDigest(*fast.m, &fast.s), stateDigest(*ref.m, &ref.s)) << where;
      between(fast, ref, rng);
    }
  }
  // The programs must have run, not stopped at once.
  EXPECT_GT(steps, 20000u);
}

// The tick as the window and tarvo-run make it, with nothing watching but
// the window's host clock, against the reference tick: the same state
// after every tick.
TEST(WholeProgram, RunTicksMatchTheReference) {
  std::mt19937 rng(2626);
  uint64_t steps = 0;
  for (int machine = 0; machine < 24; ++machine) {
    Rig fast, ref;
    randomise(fast, ref, rng);
    // Some ticks of a few steps only, so that the state is compared often.
    if (machine % 3 == 0) {
      fast.m->timers.cyclesPerTick = ref.m->timers.cyclesPerTick =
          static_cast<int32_t>(1 + rng() % 60);
    }
    NoMessages messages;
    RunLoop loop(*fast.m, messages);
    // The window's tick, bounded by a host time it never reaches here.
    if (machine % 2 == 1) loop.setHostTimeLimit(std::chrono::hours(1));
    for (int tick = 0; tick < 60; ++tick) {
      loop.runTick();
      ref.m->port.linkFailed = false;
      if (beginRunTick(*ref.m, ref.s)) {
        while (referenceStep(ref) && ref.s.cycleBudget > 0) {
        }
      }
      const std::string where =
          "machine " + std::to_string(machine) + " tick " + std::to_string(tick);
      const std::string d = difference(*fast.m, *ref.m);
      ASSERT_TRUE(d.empty()) << where << ": " << d;
      ASSERT_EQ(loop.stepsRun(), ref.s.stepsRun) << where;
      ASSERT_EQ(loop.cyclesRun(), ref.s.cyclesRun) << where;
      ASSERT_EQ(stateDigest(*fast.m, &loop.scheduler), stateDigest(*ref.m, &ref.s)) << where;
      between(fast, ref, rng);
    }
    steps += ref.s.stepsRun;
  }
  EXPECT_GT(steps, 50000u);
}

// A program of nops that, at one point of a tick, makes line A request
// (pst IE), switches the cycle timer's rate (pst IA) or turns the LCD pulse
// on or off (ppo), in plain steps and in interrupt service: the clock's
// work must follow from that step on.
TEST(WholeProgram, ClockDependenciesChangedMidTick) {
  const uint8_t writes[][3] = {
      {0x57, 0x20, 0x21},  // pst IE,&H21: line A at level 1 requests, enabled
      {0x57, 0x00, 0x40},  // pst IA,&H40: the cycle timer counts cycles
      {0x57, 0x00, 0x00},  // pst IA,&H00: 256 a cycle
      {0x54, 0x00, 0xC6},  // ppo &HC6: the LCD pulse on
      {0x54, 0x00, 0x00},  // ppo &H00: off
  };
  for (const auto& write : writes) {
    for (uint8_t ia : {uint8_t{0x00}, uint8_t{0x40}}) {
      for (uint8_t control : {uint8_t{0x00}, uint8_t{0xC6}}) {
        for (bool serving : {false, true}) {
          Rig fast, ref;
          for (Machine* m : {fast.m.get(), ref.m.get()}) {
            for (auto& row : m->mem.rows) std::fill(row.buffer.begin(), row.buffer.end(), 0xF8);
            m->mem.bankA() = m->mem.bankB() = 0;
            cpuReset(*m);
            std::copy(write, write + 3, m->mem.rows[kRam0Row].buffer.begin() + 0x8010);
            // In service, code comes from segment 0.
            std::copy(write, write + 3, m->mem.rows[kRom1Row].buffer.begin() + 0x8010);
            m->cpu.UA = m->cpu.segmentLatch = 0x55;
            m->cpu.IB = 0x40;
            m->cpu.PC = 0x8000;
            m->cpu.IA = ia;
            m->cpu.budgetRestart = false;
            m->lcd.control = control;
            m->lcd.pulsePeriod = 40;
            m->timers.lcdPulseCountdown = 40;
            m->timers.cyclesPerTick = 200;
            m->timers.ticksPerSecond = 100;
            m->timers.cycleTimer = 20000;
            if (serving) {
              // Request 2 latched below request 4 in service: the steps are
              // not plain.
              m->cpu.IE = 0x20;
              m->cpu.IB = 0x44;
              m->cpu.inService = 0x10;
            }
          }
          ref.m->mem.exactOnly = true;
          NoMessages messages;
          RunLoop loop(*fast.m, messages);
          for (int tick = 0; tick < 4; ++tick) {
            loop.runTick();
            if (beginRunTick(*ref.m, ref.s)) {
              while (referenceStep(ref) && ref.s.cycleBudget > 0) {
              }
            }
            const std::string d = difference(*fast.m, *ref.m);
            ASSERT_TRUE(d.empty())
                << +write[0] << " " << +write[2] << " tick " << tick << ": " << d;
            ASSERT_EQ(loop.cyclesRun(), ref.s.cyclesRun);
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace tarvo
