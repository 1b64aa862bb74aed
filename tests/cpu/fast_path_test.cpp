// The page-table shortcut of the memory map against the region table. Two
// machines start from the same random state and run the same steps, one
// with exactOnly set (every access scans the region table) and one on the
// shortcut; after every step the processor state, every region buffer, the
// devices and the cycle count must agree.
#include <gtest/gtest.h>

#include <algorithm>
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
#include "frontpanel/files.h"
#include "frontpanel/run_loop.h"
#include "machine.h"

namespace tarvo {
namespace {

using test::registerDifferences;

// A drive that is always there and answers each byte with a function of it
// and of how many came before, the same for both machines.
class EchoLink final : public DiskLink {
 public:
  bool open(const std::string&, int32_t) override {
    open_ = true;
    return true;
  }
  void close() override { open_ = false; }
  bool connected() const override { return open_; }
  bool sendByte(uint8_t value) override {
    last_ = static_cast<uint8_t>(value * 7 + count_++);
    return true;
  }
  bool receiveByte(uint8_t& value) override {
    value = last_;
    return true;
  }

 private:
  bool open_ = true;
  uint8_t last_ = 0;
  uint8_t count_ = 0;
};

// Empty when the machines agree; otherwise the first difference found.
std::string difference(const Machine& a, const Machine& b) {
  std::ostringstream out;
  const ProcessorState& x = a.cpu;
  const ProcessorState& y = b.cpu;
  registerDifferences(out, x, y, "shortcut", "region table");
  if (x.wordFetch != y.wordFetch) out << "wordFetch; ";
  if (x.fetchPos != y.fetchPos) out << "fetchPos; ";
  if (x.cycles != y.cycles) out << "cycles; ";
  for (int i = 0; i < 32; ++i) {
    if (x.R[i] != y.R[i]) out << "$" << i << " differs; ";
  }
  for (int i = 0; i < 4; ++i) {
    if (x.fetchBuffer[i] != y.fetchBuffer[i]) out << "fetchBuffer[" << i << "] differs; ";
  }
  for (int row = 0; row < kRegionCount; ++row) {
    if (a.mem.rows[row].buffer != b.mem.rows[row].buffer)
      out << "region row " << row << " differs; ";
  }
  if (std::memcmp(a.lcd.memory, b.lcd.memory, sizeof a.lcd.memory) != 0 ||
      a.lcd.control != b.lcd.control || a.lcd.nibbleCount != b.lcd.nibbleCount ||
      a.lcd.address != b.lcd.address)
    out << "LCD differs; ";
  if (a.port.sendByte != b.port.sendByte || a.port.receiveByte != b.port.receiveByte ||
      a.port.previousValue != b.port.previousValue || a.port.inputLines != b.port.inputLines)
    out << "port differs; ";
  if (x.budgetRestart != y.budgetRestart) out << "budget restart differs; ";
  return out.str();
}

// The pair under test: the same state, the second one on the region table.
struct Pair {
  std::unique_ptr<Machine> fast = std::make_unique<Machine>();
  std::unique_ptr<Machine> exact = std::make_unique<Machine>();

  Pair() { exact->mem.exactOnly = true; }

  template <class F>
  void both(F f) {
    f(*fast);
    f(*exact);
  }
  // One step on each; false (with a failure) at the first disagreement.
  bool step(const std::string& where) {
    const int32_t a = tarvo::step(*fast);
    const int32_t b = tarvo::step(*exact);
    const std::string d = difference(*fast, *exact);
    if (a == b && d.empty()) return true;
    ADD_FAILURE() << where << ": step returned " << a << " and " << b << "; " << d;
    return false;
  }
};

// Everything random: memory (bank bytes included), registers, the common
// area, the segment selectors and the hidden fetch state. Code is as
// likely to start in the on-chip ROM as anywhere else.
void randomise(Pair& p, std::mt19937& rng) {
  const auto byte = [&] { return static_cast<uint8_t>(rng()); };
  std::vector<std::vector<uint8_t>> images(kRegionCount);
  for (int row = 0; row < kRegionCount; ++row) {
    images[row].resize(p.fast->mem.rows[row].buffer.size());
    for (std::size_t i = 0; i < images[row].size(); i += 4) {
      const uint32_t r = rng();
      std::memcpy(&images[row][i], &r, std::min<std::size_t>(4, images[row].size() - i));
    }
  }
  // Half the machines have no bank switching; the others often a little.
  if (rng() % 2 == 0) images[kBankRow] = {0, 0};

  ProcessorState c;
  for (uint8_t& r : c.R) r = byte();
  c.PC = static_cast<uint16_t>(rng());
  if (rng() % 4 == 0) c.PC = static_cast<uint16_t>(rng() % 0x0C00);
  c.SS = static_cast<uint16_t>(rng());
  c.US = static_cast<uint16_t>(rng());
  c.IX = static_cast<uint16_t>(rng());
  c.IY = static_cast<uint16_t>(rng());
  c.IZ = static_cast<uint16_t>(rng());
  c.SX = byte() & 31;
  c.SY = byte() & 31;
  c.SZ = byte() & 31;
  c.UA = byte();
  c.IA = byte();
  c.IB = byte() & 0xE0;
  c.IE = byte();
  c.PE = byte();
  c.PD = byte();
  c.TM = byte();
  c.F = byte();
  c.segmentLatch = byte();
  c.clockShift = rng() % 2 == 0 ? 0 : 4;
  c.kyStatus = c.prevKyStatus = 0x0C00;

  const uint8_t lines = byte();
  const uint8_t option = byte();
  p.both([&](Machine& m) {
    for (int row = 0; row < kRegionCount; ++row) m.mem.rows[row].buffer = images[row];
    m.cpu = c;
    m.port.inputLines = lines;
    m.port.optionCode = option;
    m.port.previousValue = portValue(m);
    m.port.fddSocket = std::make_unique<EchoLink>();
  });
}

TEST(FastPath, RandomProgramsMatchTheRegionTable) {
  std::mt19937 rng(20240611);
  for (int machine = 0; machine < 160; ++machine) {
    Pair p;
    randomise(p, rng);
    for (int i = 0; i < 250; ++i) {
      // What the run loop, the one-second tick, the front panel and the
      // debugger do between steps.
      const unsigned event = rng() % 64;
      if (event == 0) {
        const uint8_t mask = static_cast<uint8_t>(1u << (rng() % 5));
        p.both([&](Machine& m) { requestInterrupt(m, mask); });
      } else if (event == 1) {
        p.both([&](Machine& m) { wake(m, false); });
      } else if (event == 2) {
        const uint8_t ib = static_cast<uint8_t>(rng());
        p.both(
            [&](Machine& m) { m.cpu.IB = static_cast<uint8_t>((m.cpu.IB & 0x3F) | (ib & 0xC0)); });
      } else if (event == 3) {
        const uint8_t a = static_cast<uint8_t>(rng()), b = static_cast<uint8_t>(rng());
        p.both([&](Machine& m) {
          m.mem.bankA() = a;
          m.mem.bankB() = b;
        });
      } else if (event == 4) {
        // The debugger patches a byte where a read of the address finds it.
        const uint32_t at = rng() % 0x40000;
        const uint8_t v = static_cast<uint8_t>(rng());
        p.both([&](Machine& m) {
          if (uint8_t* b = readLocation(m, at)) *b = v;
        });
      }
      if (!p.step("machine " + std::to_string(machine) + " step " + std::to_string(i))) return;
    }
  }
}

struct NoMessages : Messages {
  void loadFailed(const std::string&) override {}
  void saveFailed(const std::string&) override {}
};

// The run tick syncs the page tables once and then steps without looking
// again; with the LCD pulse, the cycle timer and the external lines
// requesting interrupts between the steps, both machines must still agree
// after every tick.
TEST(FastPath, RunTicksMatchTheRegionTable) {
  std::mt19937 rng(99);
  for (int machine = 0; machine < 40; ++machine) {
    Pair p;
    randomise(p, rng);
    NoMessages messages;
    RunLoop fastLoop(*p.fast, messages), exactLoop(*p.exact, messages);
    const uint8_t control = static_cast<uint8_t>(rng() % 2 ? 0xC6 : rng());
    const int32_t pulse = static_cast<int32_t>(200 + rng() % 4000);
    p.both([&](Machine& m) {
      m.timers.cyclesPerTick = 910;
      m.timers.ticksPerSecond = 100;
      m.timers.cycleTimer = pulse;
      m.lcd.control = control;
      m.lcd.pulsePeriod = pulse;
      m.cpu.inService = 0;
    });
    for (int tick = 0; tick < 30; ++tick) {
      fastLoop.runTick();
      exactLoop.runTick();
      const std::string d = difference(*p.fast, *p.exact);
      ASSERT_TRUE(d.empty()) << "machine " << machine << " tick " << tick << ": " << d;
      ASSERT_EQ(fastLoop.cyclesRun(), exactLoop.cyclesRun());
      ASSERT_EQ(fastLoop.stepsRun(), exactLoop.stepsRun());
      // What the debugger may do between ticks.
      if (rng() % 4 == 0) {
        const uint8_t a = static_cast<uint8_t>(rng());
        p.both([&](Machine& m) { m.mem.bankA() = a; });
      }
    }
  }
}

// The code the shortcut takes at its edges: fetches that straddle a page
// or wrap PC within the segment, and every combination of common area and
// program segment.
TEST(FastPath, FetchAcrossPagesAndWrapsMatchesTheRegionTable) {
  std::mt19937 rng(7);
  for (int machine = 0; machine < 64; ++machine) {
    Pair p;
    randomise(p, rng);
    const uint16_t pc = static_cast<uint16_t>(((rng() % 16) << 12) - 1 - rng() % 4);
    const uint8_t ua = static_cast<uint8_t>(machine & 3) * 0x55;
    const uint8_t ib = static_cast<uint8_t>((machine >> 2) & 3) << 6;
    p.both([&](Machine& m) {
      m.cpu.PC = pc;
      m.cpu.UA = m.cpu.segmentLatch = ua;
      m.cpu.IB = ib;
      m.cpu.inService = 0;
      m.cpu.powerOff = false;
    });
    for (int i = 0; i < 8; ++i) {
      if (!p.step("machine " + std::to_string(machine) + " step " + std::to_string(i))) return;
    }
  }
}

// A block transfer that runs over the bank bytes switches ROM in under its
// own source pointer: the bytes read after the bank byte was written come
// from the other ROM, on the shortcut as on the region table.
TEST(FastPath, BankByteWrittenMidInstructionTakesEffectAtOnce) {
  Pair p;
  p.both([](Machine& m) {
    for (auto& row : m.mem.rows) std::fill(row.buffer.begin(), row.buffer.end(), 0x00);
    m.mem.bankA() = 0;
    m.mem.bankB() = 0;
    cpuReset(m);
    auto& rom1 = m.mem.rows[kRom1Row].buffer;
    auto& rom2 = m.mem.rows[kRom2Row].buffer;
    // Source: segment 1 upper half (k = 3) is RAM until bank byte A bit 3
    // maps rom2 there. The bytes before the bank byte's place carry 0x08.
    auto& ram = m.mem.rows[kRam0Row].buffer;
    for (int i = 0; i < 0x40; ++i) {
      ram[0x8C00 + i] = 0x08;
      rom2[0x8C00 + i] = static_cast<uint8_t>(0xA0 + i);
    }
    // Code in segment 0 (rom1): bup from IX (segment 1) to IZ (segment 0),
    // over the I/O window, the bank bytes and on into ROM.
    const uint8_t code[] = {0xD8, 0xF8};  // bup; nop
    for (int i = 0; i < 2; ++i) rom1[0x2000 + i] = code[i];
    m.cpu.PC = 0x2000;
    m.cpu.UA = 0x10;  // IX side segment 1, everything else segment 0
    m.cpu.IX = 0x8C00;
    m.cpu.IY = 0x8C20;
    m.cpu.IZ = 0x0C00;
  });
  ASSERT_TRUE(p.step("bup"));
  Machine& m = *p.fast;
  EXPECT_EQ(m.mem.bankA(), 0x08);
  // The next source byte, read right after bank byte A was written, is
  // rom2's, and it lands in bank byte B.
  EXPECT_EQ(m.mem.bankB(), 0xB1);
}

// A region buffer replaced by a new one after the tables were built.
TEST(FastPath, ReplacedBufferIsFollowed) {
  Machine m;
  m.cpu.UA = 0x55;
  m.mem.rows[kRam0Row].buffer[0x5000] = 0x11;
  EXPECT_EQ(readData(m, 1, 0x5000), 0x11);
  std::vector<uint8_t> fresh(0x10000, 0x22);
  m.mem.rows[kRam0Row].buffer = std::move(fresh);
  EXPECT_EQ(readData(m, 1, 0x5000), 0x22);
  writeData(m, 1, 0x5001, 0x33);
  EXPECT_EQ(m.mem.rows[kRam0Row].buffer[0x5001], 0x33);
}

}  // namespace
}  // namespace tarvo
