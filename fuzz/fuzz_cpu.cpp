// The processor with random registers, random memory and random code, for
// thousands of steps, with interrupt requests, wakes, key presses, resets,
// run ticks and disk-link replies thrown in at random moments.
//
// Checked after every step: the cycle count is positive (and exactly the
// idle count while powered off), register numbers stay below 32, the fetch
// position stays within the four prefetched bytes, only the five request
// bits are ever in service, the clock shift is 0 or 4, and the LCD
// controllers' counters stay in their ranges. When the memory map has its
// exact mode, a second machine runs the same input through the region table
// alone and must end every step in the same state.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "cpu/exec.h"
#include "cpu/memory.h"
#include "devices/keyboard.h"
#include "devices/port.h"
#include "frontpanel/run_loop.h"
#include "fuzz_support.h"
#include "machine.h"

using namespace tarvo;

namespace {

// Cycles one input may run: about two emulated seconds at 910 kHz.
constexpr int64_t kCycleBudget = 2'000'000;

// A disk link whose replies and failures follow from a seed, so that two
// machines given the same seed see the same drive. It never touches the
// network.
class ScriptedLink final : public DiskLink {
 public:
  explicit ScriptedLink(uint32_t seed) : state_(seed | 1) {}
  bool open(const std::string&, int32_t) override {
    open_ = (next() & 7) != 0;
    return open_;
  }
  void close() override { open_ = false; }
  bool connected() const override { return open_; }
  bool sendByte(uint8_t) override { return answer(); }
  bool receiveByte(uint8_t& value) override {
    value = static_cast<uint8_t>(next());
    return answer();
  }

 private:
  uint32_t next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }
  bool answer() {
    if (!open_) return false;
    if ((next() & 31) == 0) open_ = false;
    return open_;
  }
  uint32_t state_;
  bool open_ = false;
};

struct NoMessages : Messages {
  void loadFailed(const std::string&) override {}
  void saveFailed(const std::string&) override {}
};

struct Event {
  uint16_t at;
  uint8_t kind;
  uint8_t arg;
};

struct Setup {
  ProcessorState cpu;
  uint8_t bankA = 0, bankB = 0;
  uint8_t lcdControl = 0;
  uint32_t memorySeed = 0;
  uint32_t linkSeed = 0;
  std::vector<uint8_t> code;
};

void fillMemory(Machine& m, const Setup& s) {
  uint32_t x = s.memorySeed | 1;
  for (Region& row : m.mem.rows) {
    row.buffer.assign(row.size(), 0xFF);
    for (uint8_t& b : row.buffer) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      b = static_cast<uint8_t>(x);
    }
  }
  // The code lands wherever PC could fetch it from.
  const uint16_t pc = s.cpu.PC;
  for (std::size_t i = 0; i < s.code.size(); ++i) {
    const uint8_t b = s.code[i];
    const auto a = static_cast<uint16_t>(pc + i);
    if (2u * pc + i < m.mem.rows[kRomRow].buffer.size())
      m.mem.rows[kRomRow].buffer[2u * pc + i] = b;
    for (int row : {kRom1Row, kRam0Row, kRom2Row, kRom3Row}) m.mem.rows[row].buffer[a] = b;
    if (a >= 0x8000) m.mem.rows[kRam1Row].buffer[a - 0x8000u] = b;
  }
  m.mem.bankA() = s.bankA;
  m.mem.bankB() = s.bankB;
}

void prepare(Machine& m, const Setup& s) {
  fillMemory(m, s);
  m.cpu = s.cpu;
  m.lcd.control = s.lcdControl;
  m.port.optionCode = 0x55;
  m.port.address = "127.0.0.1";
  m.port.portNumber = 1;
  m.port.fddSocket = std::make_unique<ScriptedLink>(s.linkSeed);
  setClock(m, 910);
}

void apply(Machine& m, RunLoop& loop, const Event& e) {
  switch (e.kind % 12) {
    case 0:
      requestInterrupt(m, static_cast<uint8_t>(1u << (e.arg % 5)));
      break;
    case 1:
      wake(m, (e.arg & 1) != 0);
      break;
    case 2:
      holdKey(m, KeyHolder::Mouse, e.arg % kKeyCodeCount);
      keyInterruptCheck(m);
      break;
    case 3:
      holdKey(m, KeyHolder::Host, e.arg % kKeyCodeCount);
      keyInterruptCheck(m);
      break;
    case 4:
      releaseKey(m, KeyHolder::Mouse);
      releaseKey(m, KeyHolder::Host);
      break;
    case 5:
      powerOnSequence(m);
      break;
    case 6:
      togglePowerSwitch(m);
      break;
    case 7:
      m.timers.cyclesPerTick = e.arg * 37 - 400;
      loop.run.traceCount = (e.arg & 0x80) ? e.arg & 0x1F : -1;
      loop.run.breakpointAddress = (e.arg & 0x40) ? m.cpu.PC + (e.arg & 7) : -1;
      loop.run.stopFlag = 0;
      loop.runTick();
      break;
    case 8:
      loop.secondTick();
      break;
    case 9:
      loop.refreshTick();
      break;
    case 10:
      m.cpu.IA = e.arg;
      break;
    case 11:
      closeLink(m);
      break;
  }
}

// wasOff, shiftBefore, inServiceBefore, pcBefore: the state the step began in.
void checkStep(const Machine& m, int32_t cycles, bool wasOff, int shiftBefore,
               uint8_t inServiceBefore, uint16_t pcBefore) {
  const ProcessorState& c = m.cpu;
  FUZZ_CHECK(cycles > 0);
  if (wasOff) {
    // Idling costs 6 cycles, slowed by the clock shift unless a service
    // routine was cut short by the off.
    FUZZ_CHECK(cycles == (inServiceBefore ? 6 : 6 << shiftBefore));
    FUZZ_CHECK(c.PC == pcBefore);
  }
  FUZZ_CHECK(c.SX < 32 && c.SY < 32 && c.SZ < 32);
  FUZZ_CHECK(c.fetchPos >= 0 && c.fetchPos <= 4);
  FUZZ_CHECK(c.wordFetch == 0 || c.wordFetch == 1);
  FUZZ_CHECK((c.inService & ~0x1F) == 0);
  FUZZ_CHECK(c.clockShift == 0 || c.clockShift == 4);
  const Lcd& l = m.lcd;
  FUZZ_CHECK(l.charWidth >= 5 && l.charWidth <= 8);
  FUZZ_CHECK(l.pulsePeriod > 0 && l.pulsePeriod <= 8192);
  for (const LcdCursor& r : l.cursor) {
    FUZZ_CHECK(r.x <= 127 && r.start <= 15);
    FUZZ_CHECK(r.halfOffset == 0 || r.halfOffset == 96);
    FUZZ_CHECK(r.bandOffset % 192 == 0 && r.bandOffset <= 576);
  }
}

void checkNibbles(const Lcd& l) {
  for (int k = 0; k < 2; ++k) {
    for (int i = 0; i < Lcd::kNibbles; ++i) {
      FUZZ_CHECK(l.memory[k][i] <= 15 && l.frame[k][i] <= 15);
    }
  }
  for (uint8_t g : l.glyphs) FUZZ_CHECK(g <= 15);
}

// The exact-mode machine, when the memory map has that mode.
template <typename Map>
bool setExact(Map& mem) {
  if constexpr (requires { mem.exactOnly = true; }) {
    mem.exactOnly = true;
    return true;
  } else {
    return false;
  }
}

bool sameState(const Machine& a, const Machine& b) {
  const ProcessorState &x = a.cpu, &y = b.cpu;
  if (std::memcmp(x.R, y.R, sizeof x.R) != 0) return false;
  if (x.PC != y.PC || x.SS != y.SS || x.US != y.US || x.IX != y.IX || x.IY != y.IY ||
      x.IZ != y.IZ || x.KY != y.KY)
    return false;
  if (x.SX != y.SX || x.SY != y.SY || x.SZ != y.SZ || x.UA != y.UA || x.IA != y.IA ||
      x.IB != y.IB || x.IE != y.IE || x.PE != y.PE || x.PD != y.PD || x.TM != y.TM || x.F != y.F)
    return false;
  if (x.segmentLatch != y.segmentLatch || x.inService != y.inService ||
      x.clockShift != y.clockShift || x.powerOff != y.powerOff || x.wordFetch != y.wordFetch ||
      x.fetchPos != y.fetchPos || x.cycles != y.cycles || x.kyStatus != y.kyStatus ||
      x.prevKyStatus != y.prevKyStatus || x.budgetRestart != y.budgetRestart ||
      std::memcmp(x.fetchBuffer, y.fetchBuffer, sizeof x.fetchBuffer) != 0)
    return false;
  if (a.timers.lcdPulseCountdown != b.timers.lcdPulseCountdown ||
      a.timers.cycleTimer != b.timers.cycleTimer)
    return false;
  if (a.port.receiveByte != b.port.receiveByte || a.port.sendByte != b.port.sendByte ||
      a.port.inputLines != b.port.inputLines || a.port.previousValue != b.port.previousValue)
    return false;
  return a.lcd.address == b.lcd.address && a.lcd.control == b.lcd.control &&
         std::memcmp(a.lcd.memory, b.lcd.memory, sizeof a.lcd.memory) == 0;
}

bool sameMemory(const Machine& a, const Machine& b) {
  for (int i = 0; i < kRegionCount; ++i) {
    if (a.mem.rows[i].buffer != b.mem.rows[i].buffer) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  Setup s;
  ProcessorState& c = s.cpu;
  for (uint8_t& r : c.R) r = in.ConsumeIntegral<uint8_t>();
  c.PC = in.ConsumeIntegral<uint16_t>();
  c.SS = in.ConsumeIntegral<uint16_t>();
  c.US = in.ConsumeIntegral<uint16_t>();
  c.IX = in.ConsumeIntegral<uint16_t>();
  c.IY = in.ConsumeIntegral<uint16_t>();
  c.IZ = in.ConsumeIntegral<uint16_t>();
  c.KY = in.ConsumeIntegral<uint16_t>();
  // Register numbers start in range; nothing may take them out of it.
  c.SX = in.ConsumeIntegral<uint8_t>() & 31;
  c.SY = in.ConsumeIntegral<uint8_t>() & 31;
  c.SZ = in.ConsumeIntegral<uint8_t>() & 31;
  c.UA = in.ConsumeIntegral<uint8_t>();
  c.IA = in.ConsumeIntegral<uint8_t>();
  c.IB = in.ConsumeIntegral<uint8_t>();
  c.IE = in.ConsumeIntegral<uint8_t>();
  c.PE = in.ConsumeIntegral<uint8_t>();
  c.PD = in.ConsumeIntegral<uint8_t>();
  c.TM = in.ConsumeIntegral<uint8_t>();
  c.F = in.ConsumeIntegral<uint8_t>();
  c.segmentLatch = in.ConsumeIntegral<uint8_t>();
  c.inService = in.ConsumeIntegral<uint8_t>() & 0x1F;
  c.clockShift = in.ConsumeBool() ? 4 : 0;
  c.powerOff = in.ConsumeBool();
  c.kyStatus = c.prevKyStatus = in.ConsumeBool() ? 0x0E00 : 0x0C00;
  s.bankA = in.ConsumeIntegral<uint8_t>();
  s.bankB = in.ConsumeIntegral<uint8_t>();
  s.lcdControl = in.ConsumeIntegral<uint8_t>();
  s.memorySeed = in.ConsumeIntegral<uint32_t>();
  s.linkSeed = in.ConsumeIntegral<uint32_t>();
  const int steps = in.ConsumeIntegralInRange<int>(1, 5000);
  std::vector<Event> events(in.ConsumeIntegralInRange<std::size_t>(0, 48));
  for (Event& e : events) {
    e.at = static_cast<uint16_t>(in.ConsumeIntegralInRange<int>(0, steps - 1));
    e.kind = in.ConsumeIntegral<uint8_t>();
    e.arg = in.ConsumeIntegral<uint8_t>();
  }
  s.code = in.ConsumeRemainingBytes<uint8_t>();

  NoMessages messages;
  auto a = std::make_unique<Machine>();
  auto b = std::make_unique<Machine>();
  prepare(*a, s);
  prepare(*b, s);
  const bool differential = setExact(b->mem);
  RunLoop loopA(*a, messages, "/nonexistent");
  RunLoop loopB(*b, messages, "/nonexistent");

  // A block move or search may run 65536 times in one step; the cycle
  // budget keeps an input made of them to a fraction of a second instead of
  // tens of seconds, while ordinary inputs run all their steps.
  int64_t cyclesRun = 0;
  for (int i = 0; i < steps && cyclesRun < kCycleBudget; ++i) {
    for (const Event& e : events) {
      if (e.at != i) continue;
      apply(*a, loopA, e);
      if (differential) apply(*b, loopB, e);
    }
    const bool wasOff = a->cpu.powerOff;
    const int shift = a->cpu.clockShift;
    const uint8_t inService = a->cpu.inService;
    const uint16_t pc = a->cpu.PC;
    a->port.linkFailed = false;
    const int32_t cycles = step(*a);
    checkStep(*a, cycles, wasOff, shift, inService, pc);
    cyclesRun += cycles;
    if (differential) {
      b->port.linkFailed = false;
      FUZZ_CHECK(step(*b) == cycles);
      FUZZ_CHECK(sameState(*a, *b));
      FUZZ_CHECK(loopA.scheduler.cycleBudget == loopB.scheduler.cycleBudget &&
                 loopA.run.stopFlag == loopB.run.stopFlag);
      if ((i & 255) == 0) FUZZ_CHECK(sameMemory(*a, *b));
    }
  }
  a->lcd.composeFrame();
  checkNibbles(a->lcd);
  if (differential) FUZZ_CHECK(sameMemory(*a, *b));
  return 0;
}
