// The emulator object end to end on the demo machine: taps of no length
// reach the demo BASIC, a live session replays to the same state, host
// time becomes run ticks, and port line 0 follows the face.
#include "emulator/emulator.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "../cli/demo_machine.h"
#include "devices/lcd.h"
#include "frontpanel/face_file.h"
#include "frontpanel/keymap.h"
#include "frontpanel/lcd_text.h"
#include "machine/digest.h"

namespace tarvo {
namespace {

using demo::MachineDir;
using demo::templateHas;

struct NoMessages : Messages {
  std::vector<std::string> lines;
  void loadFailed(const std::string& file) override { lines.push_back("load " + file); }
  void saveFailed(const std::string& file) override { lines.push_back("save " + file); }
};

class DemoEmulator : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!templateHas("rom1.bin")) GTEST_FAIL() << "the build made no demo machine";
    emulator.open(dir.path().string());
    emulator.runTicks(100);  // the firmware is up and waits for keys
  }

  // The LCD as four lines of characters.
  std::string screen() {
    emulator.machine().lcd.composeFrame();
    std::string out;
    for (const std::string& line : lcdTextLines(emulator.machine().lcd)) out += line + "\n";
    return out;
  }

  // A key of the face tapped with press and release at the same instant.
  void tapChar(char ch) {
    const int code = chordForChar(nullptr, static_cast<char32_t>(ch)).codes[0];
    emulator.apply(InputKind::HostChar, code);
    emulator.apply(InputKind::HostUp);
  }
  void tapEnter() {
    emulator.apply(InputKind::HostKey, hostKeyCode(HostKey::Enter));
    emulator.apply(InputKind::HostUp);
  }

  MachineDir dir;
  NoMessages messages;
  Emulator emulator{messages};
};

// 1 000 taps of no length, one every 3 run ticks (a fast typist), as
// sums entered into BASIC: every line comes back on the screen exactly as
// typed, with its sum, so no key was lost or doubled.
TEST_F(DemoEmulator, NoTapOfNoLengthIsLost) {
  std::mt19937 rng(23);
  int taps = 0;
  while (taps < 1000) {
    const unsigned a = 1000 + rng() % 9000, b = 1000 + rng() % 9000;
    const std::string text = std::to_string(a) + "+" + std::to_string(b);
    for (char ch : text) {
      tapChar(ch);
      ++taps;
      emulator.runTicks(3);
    }
    tapEnter();
    ++taps;
    emulator.runTicks(30);
    const std::string shown = screen();
    ASSERT_NE(shown.find(">" + text + "\n"), std::string::npos) << "after " << taps << " taps:\n"
                                                                << shown;
    ASSERT_NE(shown.find(" " + std::to_string(a + b) + "\n"), std::string::npos) << shown;
  }
}

// A host key tapped while the mouse holds a face key: each goes up on its
// own terms (the tap once read, the mouse key at once), and neither stays
// held.
TEST_F(DemoEmulator, ATapAndAMouseKeyEachGoUp) {
  KeyMatrix& keys = emulator.machine().keys;
  emulator.apply(InputKind::FaceDown, 20);
  tapChar('5');
  EXPECT_NE(keys.hostKey, 0);  // waits for its read
  emulator.apply(InputKind::FaceUp);
  EXPECT_EQ(keys.mouseKey, 0);
  EXPECT_NE(keys.hostKey, 0);
  emulator.runTicks(5);
  EXPECT_EQ(keys.hostKey, 0);
  EXPECT_EQ(keys.mouseKey, 0);
}

// A live session (taps, held keys, the power switch, typed text,
// fast-forward), recorded from the start, replayed on a fresh emulator and
// by tarvo-run --replay, ends in the same state in all three.
TEST_F(DemoEmulator, ALiveSessionReplaysToTheSameStateHereAndInTarvoRun) {
  std::mt19937 rng(7);
  const std::string keys = "0123456789+-*/";
  for (int i = 0; i < 200; ++i) {
    const unsigned r = rng() % 20;
    if (r < 13) {
      tapChar(keys[rng() % keys.size()]);
    } else if (r < 16) {
      emulator.apply(InputKind::FaceDown, 4 + static_cast<int>(rng() % 78));
      emulator.runTicks(rng() % 4);
      emulator.apply(InputKind::FaceUp);
    } else if (r < 17) {
      emulator.apply(InputKind::Power);
    } else if (r < 18) {
      emulator.type(keystrokesForText(U"12+3\n"));
    } else if (r < 19) {
      emulator.runFor(std::chrono::milliseconds(5), Emulator::Pace::FastForward);
    } else {
      tapEnter();
    }
    emulator.runTicks(rng() % 8);
  }
  emulator.runTicks(200);
  const std::vector<InputEvent> events = emulator.recordedInput();
  ASSERT_GT(events.size(), 300u);
  const uint64_t ticks = emulator.scheduler().runTicks;
  const std::string digest = stateDigestText(emulator.machine(), &emulator.scheduler());

  MachineDir again;
  Emulator replayed(messages);
  replayed.open(again.path().string());
  replayed.replay(events);
  replayed.runTicks(ticks);
  EXPECT_FALSE(replayed.replaying());
  EXPECT_EQ(stateDigestText(replayed.machine(), &replayed.scheduler()), digest);

  MachineDir inRun;
  const std::string log = (inRun.path() / "session.txt").string();
  ASSERT_TRUE(writeInputLog(log, events));
  const demo::RunResult r =
      demo::runTool(inRun.path(), {"--replay", log, "--ticks", std::to_string(ticks), "--dump"});
  ASSERT_EQ(r.status, 0);
  ASSERT_FALSE(r.lines.empty());
  EXPECT_NE(r.lines.back().find("\"stateDigest\":\"" + digest + "\""), std::string::npos)
      << r.lines.back() << "\n"
      << digest;
}

// Typing cancelled half-way: the rest never arrives, no key stays held,
// typing works again afterwards, and the session (the cancel's release
// included) replays to the same state.
TEST_F(DemoEmulator, CancelledTypingLetsGoAndReplays) {
  emulator.startInputRecording();
  const std::string start = stateDigestText(emulator.machine(), &emulator.scheduler());
  emulator.type(keystrokesForText(U"123456789"));
  emulator.runTicks(6);
  ASSERT_TRUE(emulator.typist().busy());
  emulator.cancelTyping();
  EXPECT_FALSE(emulator.typist().busy());
  EXPECT_EQ(emulator.machine().keys.hostKey, 0);
  EXPECT_EQ(emulator.machine().keys.chordKey, 0);
  emulator.runTicks(50);
  const std::string shown = screen();
  EXPECT_NE(shown.find(">1"), std::string::npos) << shown;
  EXPECT_EQ(shown.find('9'), std::string::npos) << shown;
  emulator.type(keystrokesForText(U"+5\n"));
  emulator.runTicks(100);
  EXPECT_FALSE(emulator.typist().busy());
  EXPECT_NE(screen().find("+5"), std::string::npos) << screen();
  const uint64_t ticks = emulator.scheduler().runTicks - 100;

  MachineDir again;
  Emulator replayed(messages);
  replayed.open(again.path().string());
  replayed.runTicks(100);
  ASSERT_EQ(stateDigestText(replayed.machine(), &replayed.scheduler()), start);
  replayed.replay(emulator.recordedInput());
  replayed.runTicks(ticks);
  EXPECT_EQ(stateDigestText(replayed.machine(), &replayed.scheduler()),
            stateDigestText(emulator.machine(), &emulator.scheduler()));
}

// At real speed every 10 ms of host time is one run tick (a stall is not
// made up); in fast-forward the ticks run for as long as the span lasts.
// The seconds counter counts run ticks either way.
TEST_F(DemoEmulator, HostTimeBecomesRunTicks) {
  using std::chrono::milliseconds;
  const uint64_t start = emulator.scheduler().runTicks;
  EXPECT_EQ(emulator.runFor(milliseconds(25), Emulator::Pace::RealSpeed), 2u);
  EXPECT_EQ(emulator.runFor(milliseconds(5), Emulator::Pace::RealSpeed), 1u);
  EXPECT_EQ(emulator.runFor(milliseconds(9), Emulator::Pace::RealSpeed), 0u);
  EXPECT_EQ(emulator.runFor(std::chrono::seconds(5), Emulator::Pace::RealSpeed),
            Emulator::kMaxCatchUpTicks);
  EXPECT_EQ(emulator.scheduler().runTicks, start + 3 + Emulator::kMaxCatchUpTicks);

  const uint8_t tm = emulator.machine().cpu.TM;
  uint64_t ticks = 0;
  while (ticks < 300) ticks += emulator.runFor(milliseconds(20), Emulator::Pace::FastForward);
  const uint64_t seconds = (emulator.scheduler().runTicks / 100) - ((start + 13) / 100);
  EXPECT_EQ(static_cast<uint8_t>(emulator.machine().cpu.TM - tm), seconds);
}

// The two steps: the processor's own advances no timer of the run tick;
// the machine's runs one instruction with the run tick's work around it.
// A stopped machine runs ticks without steps, and after the debug window
// the first 30 ticks are skipped.
TEST_F(DemoEmulator, TheTwoStepsAndTheStop) {
  Machine& m = emulator.machine();
  const MachineTimers timers = m.timers;
  const uint64_t steps = emulator.stepsRun();
  const int32_t cycles = emulator.stepProcessor();
  EXPECT_GT(cycles, 0);
  EXPECT_EQ(m.timers.cycleTimer, timers.cycleTimer);
  EXPECT_EQ(m.timers.lcdPulseCountdown, timers.lcdPulseCountdown);
  EXPECT_EQ(emulator.stepsRun(), steps);

  ASSERT_TRUE(emulator.stepMachine());
  EXPECT_EQ(emulator.stepsRun(), steps + 1);
  EXPECT_NE(m.timers.cycleTimer, timers.cycleTimer);
  EXPECT_TRUE(emulator.stopped());
  EXPECT_EQ(emulator.debugger().lastStop().reason, StopReason::StepDone);

  const uint64_t ticks = emulator.scheduler().runTicks;
  EXPECT_EQ(emulator.runTicks(10), 10u);
  EXPECT_EQ(emulator.stepsRun(), steps + 1);
  EXPECT_EQ(emulator.scheduler().runTicks, ticks + 10);

  emulator.resume(true);
  emulator.runTicks(kResumeDelayTicks);
  EXPECT_EQ(emulator.stepsRun(), steps + 1);
  emulator.runTicks(1);
  EXPECT_GT(emulator.stepsRun(), steps + 1);

  emulator.stop();
  EXPECT_EQ(emulator.debugger().lastStop().reason, StopReason::User);
  const uint64_t stoppedAt = emulator.stepsRun();
  const uint8_t tm = m.cpu.TM;
  EXPECT_EQ(emulator.runTicks(100), 100u);
  EXPECT_EQ(emulator.stepsRun(), stoppedAt);
  EXPECT_NE(m.cpu.TM, tm);  // the seconds go on
}

// Rewind captures every tenth of an emulated second (ten run ticks at the
// demo's clock) and steps back to exactly the states it captured.
TEST_F(DemoEmulator, RewindStepsBackToCapturedStates) {
  emulator.setRewind(true);
  std::map<uint64_t, std::string> digests;  // by run ticks
  for (int i = 0; i < 60; ++i) {
    // A capture takes the state before a tick, input applied.
    if (i % 7 == 0) tapChar('7');
    digests[emulator.scheduler().runTicks] =
        stateDigestText(emulator.machine(), &emulator.scheduler());
    emulator.runTicks(1);
  }
  EXPECT_GE(emulator.rewind().depth(), 4u);
  uint64_t last = emulator.scheduler().runTicks;
  while (emulator.stepBack()) {
    const uint64_t at = emulator.scheduler().runTicks;
    ASSERT_LT(at, last);
    ASSERT_TRUE(digests.count(at)) << at;
    EXPECT_EQ(stateDigestText(emulator.machine(), &emulator.scheduler()), digests[at]);
    last = at;
  }
}

// Saving while running writes what the machine holds, goes on running,
// and leaves an image that could not be read at start as it was.
TEST(EmulatorFiles, SavingWhileRunningKeepsAnUnreadableImage) {
  NoMessages messages;
  MachineDir dir;
  const std::filesystem::path ram1 = dir.path() / "ram1.bin";
  ASSERT_EQ(::mkfifo(ram1.c_str(), 0644), 0);  // not an image that can be read
  Emulator e(messages);
  e.open(dir.path().string());
  e.runTicks(100);
  messages.lines.clear();
  e.saveFiles();
  EXPECT_EQ(messages.lines, std::vector<std::string>{"save ram1.bin"});
  EXPECT_TRUE(std::filesystem::is_fifo(ram1));
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "register.bin"));
  EXPECT_EQ(std::filesystem::file_size(dir.path() / "ram0.bin"),
            e.machine().mem.rows[kRam0Row].buffer.size());
  EXPECT_FALSE(e.stopped());
  const uint64_t steps = e.stepsRun();
  e.runTicks(10);
  EXPECT_GT(e.stepsRun(), steps);
}

// Port line 0 as the face says: set with the demo face (which has the
// optional key), cleared without a face.
TEST(EmulatorFace, PortLineZeroFollowsTheFace) {
  if (!templateHas("face.bmp")) GTEST_SKIP() << "the build made no face";
  NoMessages messages;
  MachineDir withFace;
  ASSERT_TRUE(machineHasOptionalKey(withFace.path().string()));
  Emulator a(messages);
  a.open(withFace.path().string());
  EXPECT_TRUE(a.hasOptionalKey());
  EXPECT_EQ(a.machine().port.inputLines & 1, 1);

  MachineDir noFace;
  std::filesystem::remove(noFace.path() / "face.bmp");
  Emulator b(messages);
  b.open(noFace.path().string());
  EXPECT_FALSE(b.hasOptionalKey());
  EXPECT_EQ(b.machine().port.inputLines & 1, 0);
}

}  // namespace
}  // namespace tarvo
