// The state list guarded: every byte of every field of emulated state
// changes the digest when it changes, and no byte of what the host keeps
// does. A field left off the list, or host state put on it, fails here;
// a field added to a structure fails the size checks beside the list
// until it is entered on the list or here as host state.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "machine.h"
#include "machine/digest.h"
#include "machine/scheduler.h"
#include "machine/state_fields.h"

namespace tarvo {
namespace {

struct Member {
  const char* name;
  void* data;
  std::size_t size;
  bool state;  // false: host state, never in the digest
};

#define STATE(x)              \
  Member {                    \
#x, &(x), sizeof(x), true \
  }
#define HOST(x)                \
  Member {                     \
#x, &(x), sizeof(x), false \
  }

// Every data member of the machine's structures (the memory map's region
// buffers are sampled below; its page tables are the host's).
std::vector<Member> members(Machine& m, Scheduler& s) {
  ProcessorState& c = m.cpu;
  Lcd& l = m.lcd;
  std::vector<Member> out = {
      STATE(c.R),
      STATE(c.PC),
      STATE(c.SS),
      STATE(c.US),
      STATE(c.IX),
      STATE(c.IY),
      STATE(c.IZ),
      STATE(c.KY),
      STATE(c.SX),
      STATE(c.SY),
      STATE(c.SZ),
      STATE(c.UA),
      STATE(c.IA),
      STATE(c.IB),
      STATE(c.IE),
      STATE(c.PE),
      STATE(c.PD),
      STATE(c.TM),
      STATE(c.F),
      STATE(c.segmentLatch),
      STATE(c.inService),
      STATE(c.clockShift),
      STATE(c.powerOff),
      STATE(c.wordFetch),
      STATE(c.fetchBuffer),
      STATE(c.fetchPos),
      STATE(c.cycles),
      STATE(c.kyStatus),
      STATE(c.prevKyStatus),
      STATE(c.budgetRestart),

      STATE(l.control),
      STATE(l.command),
      STATE(l.nibbleCount),
      STATE(l.address),
      STATE(l.memory),
      STATE(l.glyphs),
      STATE(l.charWidth),
      STATE(l.displayOn),
      STATE(l.charCode),
      STATE(l.cursorMode),
      STATE(l.pulsePeriod),
      STATE(l.frame),

      STATE(m.keys.mouseKey),
      STATE(m.keys.hostKey),
      STATE(m.keys.chordKey),
      HOST(m.keys.watch),

      STATE(m.port.inputLines),
      STATE(m.port.previousValue),
      STATE(m.port.sendByte),
      STATE(m.port.receiveByte),
      STATE(m.port.optionCode),
      HOST(m.port.portNumber),
      HOST(m.port.linkFailed),

      STATE(m.timers.oscFreq),
      STATE(m.timers.cyclesPerTick),
      STATE(m.timers.ticksPerSecond),
      STATE(m.timers.lcdPulseCountdown),
      STATE(m.timers.cycleTimer),

      STATE(s.cycleBudget),
      STATE(s.runTicks),
      HOST(s.stepsRun),
      HOST(s.cyclesRun),
  };
  for (LcdCursor& k : l.cursor) {
    out.insert(out.end(), {STATE(k.pattern), STATE(k.start), STATE(k.halfOffset), STATE(k.x),
                           STATE(k.bandOffset)});
  }
  return out;
}

TEST(StateList, EveryByteOfStateAndNoByteOfTheHostIsInTheDigest) {
  Machine m;
  Scheduler s;
  // Short region buffers keep the digests quick; the list takes them whole
  // whatever their length.
  for (Region& row : m.mem.rows) row.buffer.assign(16, 0);
  const uint64_t base = stateDigest(m, &s);
  std::vector<std::string> missed;
  for (const Member& f : members(m, s)) {
    auto* bytes = static_cast<unsigned char*>(f.data);
    for (std::size_t i = 0; i < f.size; ++i) {
      bytes[i] ^= 0x5A;
      const bool changed = stateDigest(m, &s) != base;
      bytes[i] ^= 0x5A;
      if (changed != f.state) {
        missed.push_back(std::string(f.name) + (f.state ? " left off" : " on the list"));
        break;
      }
    }
  }
  // Memory: the first, a middle and the last byte of every region buffer.
  for (int r = 0; r < kRegionCount; ++r) {
    std::vector<uint8_t>& b = m.mem.rows[r].buffer;
    for (std::size_t i : {std::size_t{0}, b.size() / 2, b.size() - 1}) {
      b[i] ^= 0x5A;
      if (stateDigest(m, &s) == base) missed.push_back(kRegionGroupNames[r]);
      b[i] ^= 0x5A;
    }
  }
  EXPECT_TRUE(missed.empty()) << ::testing::PrintToString(missed);
  EXPECT_EQ(stateDigest(m, &s), base);
}

}  // namespace
}  // namespace tarvo
