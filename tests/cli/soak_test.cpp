// Soak of the demo machine without a window: its firmware runs for a given
// number of emulated seconds (TARVO_SOAK_SECONDS, default 1800, half an hour)
// under the run loop, with random key presses on the host keyboard and the
// face, power switch toggles and the wake key, and restarts with a random
// OscFreq.
//
// Checked throughout: the processor's invariants after every run tick, that
// the machine keeps stepping whenever its clock runs, that every restart
// finds exactly the RAM and registers the previous close saved, that no
// file message ever appears, and that the heap does not grow.
#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "cpu/exec.h"
#include "demo_machine.h"
#include "devices/keyboard.h"
#include "frontpanel/keymap.h"
#include "frontpanel/lcd_image.h"
#include "frontpanel/lcd_text.h"
#include "frontpanel/run_loop.h"
#include "machine.h"

#if defined(__SANITIZE_ADDRESS__)
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

namespace fs = std::filesystem;
using namespace tarvo;

const fs::path kTemplate = fs::path(TARVO_BIN_DIR).parent_path().parent_path() / "machine-template";

// Cycles one step may run past the end of the budget: the longest
// instruction, slowed 16 times.
constexpr int64_t kOvershoot = 16 * 1024;

// Bytes the program holds on the heap right now.
std::size_t liveHeap() {
#if defined(__SANITIZE_ADDRESS__)
  return __sanitizer_get_current_allocated_bytes();
#else
  return mallinfo2().uordblks;
#endif
}

struct CountingMessages : Messages {
  std::vector<std::string> shown;
  void loadFailed(const std::string& file) override { shown.push_back(loadFailedMessage(file)); }
  void saveFailed(const std::string& file) override { shown.push_back(saveFailedMessage(file)); }
};

// What a close left behind, to compare with the next start.
struct Kept {
  std::vector<uint8_t> ram0, ram1;
  uint8_t regs[32] = {};
  uint16_t ss = 0, us = 0;
};

Kept keep(const Machine& m) {
  Kept k;
  k.ram0 = m.mem.rows[kRam0Row].buffer;
  k.ram1 = m.mem.rows[kRam1Row].buffer;
  std::memcpy(k.regs, m.cpu.R, 32);
  k.ss = m.cpu.SS;
  k.us = m.cpu.US;
  return k;
}

int64_t envNumber(const char* name, int64_t fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::strtoll(v, nullptr, 10) : fallback;
}

void checkInvariants(const Machine& m, const RunLoop& loop) {
  const ProcessorState& c = m.cpu;
  ASSERT_LT(c.SX, 32);
  ASSERT_LT(c.SY, 32);
  ASSERT_LT(c.SZ, 32);
  ASSERT_GE(c.fetchPos, 0);
  ASSERT_LE(c.fetchPos, 4);
  ASSERT_EQ(c.inService & ~0x1F, 0);
  ASSERT_TRUE(c.clockShift == 0 || c.clockShift == 4);
  ASSERT_TRUE(m.lcd.charWidth >= 5 && m.lcd.charWidth <= 8);
  ASSERT_LE(loop.scheduler.cycleBudget, std::max(m.timers.cyclesPerTick, 0));
}

TEST(Soak, DemoFirmwareWithRandomInput) {
  if (!fs::exists(kTemplate / "rom1.bin")) GTEST_SKIP() << "no demo machine in this build";
  const int64_t seconds = envNumber("TARVO_SOAK_SECONDS", 1800);
  const auto seed = static_cast<uint32_t>(envNumber("TARVO_SOAK_SEED", 1));
  std::mt19937 rng(seed);
  auto chance = [&](unsigned perMille) { return rng() % 1000 < perMille; };

  std::string pattern = (fs::temp_directory_path() / "tarvo-soak-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const fs::path dir = pattern;
  for (const char* name : {"charset.bin", "rom0.bin", "rom1.bin"})
    fs::copy_file(kTemplate / name, dir / name);

  const int32_t clocks[] = {910, 910, 910, 910, 455, 1820, 3640, 100, 1, 0, -50};
  const std::string typed = "0123456789+-*=.";
  const HostKey specials[] = {HostKey::Enter, HostKey::Backspace, HostKey::Escape, HostKey::Delete};

  const int64_t totalTicks = seconds * (1000 / kRunInterval);
  int64_t ticks = 0, cycles = 0, steps = 0;
  int restarts = 0, keyPresses = 0, powerToggles = 0, wakes = 0, promptChecks = 0;
  std::set<int32_t> clocksUsed;
  std::size_t heapAfterFirst = 0, heapHighest = 0;
  std::unique_ptr<Kept> previous;
  const auto hostStart = std::chrono::steady_clock::now();

  while (ticks < totalTicks) {
    const int32_t oscFreq = clocks[rng() % std::size(clocks)];
    clocksUsed.insert(oscFreq);
    // The drive stays announced, as the demo machine's settings have it.
    { std::ofstream(dir / "tarvo.ini") << tarvo::demo::settingsWithClock(std::to_string(oscFreq)); }

    auto m = std::make_unique<Machine>();
    CountingMessages messages;
    RunLoop loop(*m, messages, dir.string());
    loop.create();
    loop.show(false);
    ASSERT_TRUE(messages.shown.empty()) << messages.shown.front();
    if (previous) {
      // Nothing is lost between a close and the next start.
      ASSERT_EQ(m->mem.rows[kRam0Row].buffer, previous->ram0);
      ASSERT_EQ(m->mem.rows[kRam1Row].buffer, previous->ram1);
      ASSERT_EQ(std::memcmp(m->cpu.R, previous->regs, 32), 0);
      ASSERT_EQ(m->cpu.SS, previous->ss);
      ASSERT_EQ(m->cpu.US, previous->us);
    }

    const int wakesBefore = powerToggles + wakes;
    LcdImage image;
    image.initialise(m->lcd.control);
    int hostRelease = -1, mouseRelease = -1, offFor = 0;
    int64_t onSince = 0;
    const int64_t segment = std::min<int64_t>(totalTicks - ticks, 500 + rng() % 6000);
    for (int64_t t = 0; t < segment; ++t, ++ticks) {
      if (hostRelease == 0) releaseHostKey(*m);
      if (mouseRelease == 0) m->keys.mouseKey = 0;
      --hostRelease;
      --mouseRelease;
      if (chance(15) && hostRelease < 0) {
        if (chance(800)) {
          pressHostChar(*m, static_cast<char32_t>(typed[rng() % typed.size()]));
        } else {
          pressHostKey(*m, specials[rng() % std::size(specials)]);
        }
        hostRelease = 2 + static_cast<int>(rng() % 8);
        ++keyPresses;
      }
      if (chance(5) && mouseRelease < 0) {
        m->keys.mouseKey = 4 + static_cast<int32_t>(rng() % 78);
        keyInterruptCheck(*m);
        mouseRelease = 2 + static_cast<int>(rng() % 8);
        ++keyPresses;
      }
      // The power switch, as the face's mouse-up works it: now and then
      // off for one to five seconds, then on again.
      const bool switchOn = (m->cpu.F & kFlagPower) != 0;
      if ((switchOn && rng() % 3000 == 0) || (!switchOn && --offFor <= 0)) {
        if (togglePowerSwitch(*m)) {
          onSince = t;
        } else {
          offFor = 100 + static_cast<int>(rng() % 400);
        }
        ++powerToggles;
      }
      if (rng() % 2000 == 0) {
        releaseWakeKey(*m);  // whatever the switch says
        ++wakes;
      }

      loop.runTick();
      checkInvariants(*m, loop);
      if (HasFatalFailure()) return;
      const CadenceDue due = advanceCadence(loop.scheduler);
      if (due.refresh) {
        loop.refreshTick();
        image.render(m->lcd);
        image.changed = 0;
      }
      if (due.second) loop.secondTick();
    }
    cycles += loop.cyclesRun();
    steps += static_cast<int64_t>(loop.stepsRun());
    // Open-loop pacing: the segment ran its ticks' cycles, less at most one
    // tick's budget for each wake (a wake empties the budget), and beyond
    // them only by the last step's overshoot.
    const int64_t perTick = std::max(m->timers.cyclesPerTick, 0);
    const int64_t due = segment * perTick;
    const int64_t wakesHere = powerToggles + wakes - wakesBefore;
    EXPECT_LE(loop.cyclesRun(), due + kOvershoot);
    EXPECT_GE(loop.cyclesRun(), due - (wakesHere + 1) * perTick - kOvershoot);
    if (perTick > 0) {
      ASSERT_GT(loop.stepsRun(), 0u) << "the machine stopped";
    }
    // A machine that has been on for a few seconds at a usable clock shows
    // its prompt somewhere on the screen.
    if (m->timers.oscFreq >= 455 && (m->cpu.F & kFlagPower) && segment - onSince > 300) {
      loop.refreshTick();
      bool prompt = false;
      for (const std::string& line : lcdTextLines(m->lcd))
        prompt |= !line.empty() && line[0] == '>';
      EXPECT_TRUE(prompt) << "the firmware shows no prompt after " << ticks << " ticks";
      ++promptChecks;
    }

    messages.shown.clear();
    loop.close();
    ASSERT_TRUE(messages.shown.empty()) << messages.shown.front();
    previous = std::make_unique<Kept>(keep(*m));
    ++restarts;
    m.reset();

    const std::size_t heap = liveHeap();
    if (restarts == 1) heapAfterFirst = heap;
    heapHighest = std::max(heapHighest, heap);
  }

  // The firmware's screen signature survived everything typed at it.
  ASSERT_GE(previous->ram0.size(), 0x4104u);
  EXPECT_EQ(std::string(previous->ram0.begin() + 0x4100, previous->ram0.begin() + 0x4104), "TBA1");
  EXPECT_LE(heapHighest, heapAfterFirst + (1u << 20)) << "the heap grew";

  const double host =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - hostStart).count();
  std::string clockList;
  for (int32_t c : clocksUsed) clockList += (clockList.empty() ? "" : ",") + std::to_string(c);
  std::printf(
      "soak: %lld emulated s in %.1f s: %lld cycles, %lld steps, %d starts, %d key presses, "
      "%d power toggles, %d wakes, OscFreq %s, %d prompt checks; heap %zu -> %zu bytes\n",
      static_cast<long long>(seconds), host, static_cast<long long>(cycles),
      static_cast<long long>(steps), restarts, keyPresses, powerToggles, wakes, clockList.c_str(),
      promptChecks, heapAfterFirst, heapHighest);
  RecordProperty("emulated_seconds", static_cast<int>(seconds));
  RecordProperty("cycles", std::to_string(cycles));
  RecordProperty("steps", std::to_string(steps));

  std::error_code ec;
  fs::remove_all(dir, ec);
}

}  // namespace
