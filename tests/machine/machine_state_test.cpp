// The machine as one object: the state list, its digest, the register
// table, and that machine and scheduler state are all a run needs to go on.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "../cli/demo_machine.h"
#include "frontpanel/keymap.h"
#include "frontpanel/run_loop.h"
#include "machine.h"
#include "machine/digest.h"
#include "machine/operations.h"
#include "machine/registers.h"
#include "machine/state_fields.h"

namespace tarvo {
namespace {

struct QuietMessages : Messages {
  void loadFailed(const std::string&) override {}
  void saveFailed(const std::string&) override {}
};

// The demo machine started as the window starts it.
struct Started {
  QuietMessages messages;
  std::unique_ptr<Machine> m = std::make_unique<Machine>();
  std::unique_ptr<RunLoop> loop;
  explicit Started(const std::string& dir) {
    loop = std::make_unique<RunLoop>(*m, messages, dir);
    loop->create();
    loop->show(true);
  }
  // Run ticks with the refresh and one-second ticks as tarvo-run has them,
  // a key from keys typed now and then.
  void run(int ticks, std::mt19937& rng) {
    static const std::string keys = "0123456789+-*/=ABC ";
    for (int t = 0; t < ticks; ++t) {
      switch (rng() % 40) {
        case 0:
          pressHostChar(*m, static_cast<char32_t>(keys[rng() % keys.size()]));
          break;
        case 1:
          releaseHostKey(*m);
          break;
        case 2:
          if (rng() % 8 == 0) togglePowerSwitch(*m);
          break;
        default:
          break;
      }
      loop->runTick();
      const CadenceDue due = advanceCadence(loop->scheduler);
      if (due.refresh) loop->refreshTick();
      if (due.second) loop->secondTick();
    }
  }
  std::string digest() const { return stateDigestText(*m, &loop->scheduler); }
};

std::vector<uint8_t> stateBytes(const Machine& m, const Scheduler& s) {
  std::vector<uint8_t> out;
  forEachStateField(m, &s, [&](const void* p, std::size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    out.insert(out.end(), b, b + n);
  });
  return out;
}

void setStateBytes(Machine& m, Scheduler& s, const std::vector<uint8_t>& bytes) {
  std::size_t at = 0;
  forEachStateField(m, &s, [&](void* p, std::size_t n) {
    std::memcpy(p, bytes.data() + at, n);
    at += n;
  });
}

// Every field of the list counts: a byte changed anywhere in it changes the
// digest, and putting it back restores the digest.
TEST(StateDigest, EveryFieldOfTheStateCounts) {
  Machine m;
  Scheduler s;
  std::mt19937 rng(5);
  const uint64_t before = stateDigest(m, &s);
  int fields = 0;
  forEachStateField(m, &s, [&](void* p, std::size_t n) {
    ++fields;
    auto* b = static_cast<uint8_t*>(p);
    for (std::size_t i : {std::size_t{0}, n - 1, static_cast<std::size_t>(rng() % n)}) {
      const uint8_t old = b[i];
      b[i] ^= static_cast<uint8_t>(1u << (rng() % 8));
      EXPECT_NE(stateDigest(m, &s), before) << "field " << fields << " byte " << i;
      b[i] = old;
    }
  });
  EXPECT_GT(fields, 60);
  EXPECT_EQ(stateDigest(m, &s), before);
  // Without the scheduler its budget does not count.
  const uint64_t machineOnly = stateDigest(m);
  s.cycleBudget += 7;
  EXPECT_EQ(stateDigest(m), machineOnly);
  EXPECT_NE(stateDigest(m, &s), before);
}

// What the host keeps is not the machine's state.
TEST(StateDigest, HostStateDoesNotCount) {
  Machine m;
  const uint64_t before = stateDigest(m);
  m.mem.pagesKey = 1234;
  m.mem.readPages[3] = m.mem.rows[kRam0Row].buffer.data();
  m.port.address = "127.0.0.1";
  m.port.portNumber = 5000;
  m.port.linkFailed = true;
  EXPECT_EQ(stateDigest(m), before);
}

// Two runs with the same inputs end with the same digest; the runs split
// at random ticks, the state carried into a freshly started machine by the
// state list alone, end exactly where the whole run ends.
TEST(MachineState, MachineAndSchedulerAreAllARunNeeds) {
  if (!demo::templateHas("rom1.bin")) GTEST_FAIL() << "the build made no demo machine";
  demo::MachineDir dir;
  constexpr int kTicks = 1500;
  std::mt19937 rngA(11);
  Started whole(dir.path().string());
  whole.run(kTicks, rngA);

  std::mt19937 rngB(11);
  Started again(dir.path().string());
  again.run(kTicks, rngB);
  EXPECT_EQ(again.digest(), whole.digest());
  EXPECT_GT(whole.loop->stepsRun(), 100000u);
  EXPECT_NE(whole.digest(), Started(dir.path().string()).digest());

  std::mt19937 splitAt(3);
  for (int round = 0; round < 4; ++round) {
    std::mt19937 rng(11);
    const int split = static_cast<int>(splitAt() % kTicks);
    Started first(dir.path().string());
    first.run(split, rng);
    Started second(dir.path().string());
    setStateBytes(*second.m, second.loop->scheduler, stateBytes(*first.m, first.loop->scheduler));
    EXPECT_EQ(second.digest(), first.digest());
    second.run(kTicks - split, rng);
    SCOPED_TRACE(testing::Message() << "split at tick " << split);
    EXPECT_EQ(second.digest(), whole.digest());
    // Checked apart from the list too, so a field missing from it shows.
    EXPECT_EQ(first.loop->stepsRun() + second.loop->stepsRun(), whole.loop->stepsRun());
    EXPECT_EQ(first.loop->cyclesRun() + second.loop->cyclesRun(), whole.loop->cyclesRun());
    EXPECT_EQ(second.loop->scheduler.cycleBudget, whole.loop->scheduler.cycleBudget);
    EXPECT_EQ(second.m->timers.cycleTimer, whole.m->timers.cycleTimer);
    EXPECT_EQ(second.m->timers.lcdPulseCountdown, whole.m->timers.lcdPulseCountdown);
    for (const RegisterDef& r : kRegisters) EXPECT_EQ(r.get(second.m->cpu), r.get(whole.m->cpu));
    EXPECT_EQ(second.m->mem.rows[kRam0Row].buffer, whole.m->mem.rows[kRam0Row].buffer);
  }
}

// The register table: each name found, each register stored at its own
// width into its own field and nowhere else.
TEST(Registers, EachRegisterIsItsOwnFieldAtItsWidth) {
  for (const RegisterDef& r : kRegisters) {
    SCOPED_TRACE(std::string(r.name));
    ASSERT_EQ(findRegister(r.name), &r);
    ProcessorState c{};
    std::vector<uint32_t> others;
    for (const RegisterDef& o : kRegisters) others.push_back(o.get(c));
    r.set(c, 0xFFFFFFFFu);
    EXPECT_EQ(r.get(c), (1u << r.width) - 1);
    EXPECT_EQ(r.get(c) & r.mask, r.mask);
    for (std::size_t i = 0; i < kRegisters.size(); ++i) {
      if (&kRegisters[i] != &r) {
        EXPECT_EQ(kRegisters[i].get(c), others[i]) << kRegisters[i].name;
      }
    }
    r.set(c, 0x12345678u);
    EXPECT_EQ(r.get(c), 0x12345678u & ((1u << r.width) - 1));
  }
  EXPECT_EQ(findRegister("pc"), nullptr);
  EXPECT_EQ(findRegister("R0"), nullptr);
}

}  // namespace
}  // namespace tarvo
