// The typist against a program that keeps every key it takes: long texts
// at a fast and a very slow clock, and text with characters that have no key.
#include "frontpanel/typist.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "cpu/memory.h"
#include "frontpanel/run_loop.h"
#include "machine.h"
#include "machine/digest.h"
#include "temp_dir.h"
#include "tools/xasm.h"

namespace tarvo {
namespace {

using test::RecordingMessages;
using test::TempDir;

const std::string kSource = TARVO_SOURCE_DIR;
constexpr uint32_t kEchoBuffer = 0x18000;  // 0x8000 of segment 1

// The echo machine in a scratch directory, started as the window starts it.
class EchoMachine {
 public:
  explicit EchoMachine(int oscFreq) {
    XasmOptions rom0;
    rom0.word = true;
    rom0.base = 0;
    rom0.size = 6144;
    const XasmOutput vectors = assembleProgram(kSource + "/tests/frontpanel/firmware/rom0.s", rom0);
    XasmOptions rom1;
    rom1.base = 0;
    rom1.size = 65536;
    const XasmOutput program = assembleProgram(kSource + "/tests/frontpanel/firmware/echo.s", rom1);
    ok_ = vectors.ok() && program.ok();
    dir_.write("rom0.bin", vectors.image);
    dir_.write("rom1.bin", program.image);
    dir_.write("charset.bin", std::vector<uint8_t>(2048, 0));
    const std::string ini = "[Settings]\nOscFreq=" + std::to_string(oscFreq) + "\n";
    dir_.write("tarvo.ini", std::vector<uint8_t>(ini.begin(), ini.end()));
    loop_.create();
    loop_.show(false);
  }

  bool ok() const { return ok_; }
  Machine& machine() { return m_; }
  RunLoop& loop() { return loop_; }

  // Runs ticks until the typist is done (and a little longer for the last
  // key to be stored); returns the ticks it took.
  uint64_t typeAll(Typist& typist, uint64_t limit) {
    uint64_t t = 0;
    for (; t < limit && typist.busy(); ++t) {
      typist.beforeTick();
      loop_.runTick();
    }
    for (int i = 0; i < 20; ++i) loop_.runTick();
    return t;
  }

  std::string echoed(std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i)
      out += static_cast<char>(readPhysical(m_, kEchoBuffer + static_cast<uint32_t>(i)));
    return out;
  }

 private:
  TempDir dir_;
  Machine m_;
  RecordingMessages messages_;
  RunLoop loop_{m_, messages_, dir_.path()};
  bool ok_ = false;
};

// Every character of the host table in random order, in either case.
std::u32string randomText(std::size_t n, uint32_t seed) {
  const std::u32string keys = U"'()[]|QWERTYUIOP=ASDFGHJKL;:ZXCVBNM, /789*456-123+0.";
  std::mt19937 rng(seed);
  std::u32string text;
  for (std::size_t i = 0; i < n; ++i) {
    char32_t ch = keys[rng() % keys.size()];
    if (ch >= U'A' && ch <= U'Z' && (rng() & 1)) ch += U'a' - U'A';
    text += ch;
  }
  return text;
}

std::string upper(const std::u32string& text) {
  std::string out;
  for (char32_t ch : text) out += static_cast<char>(ch >= U'a' && ch <= U'z' ? ch - 32 : ch);
  return out;
}

class TypistClock : public ::testing::TestWithParam<int> {};

TEST_P(TypistClock, LongTextArrivesWhole) {
  const int osc = GetParam();
  EchoMachine echo(osc);
  ASSERT_TRUE(echo.ok());
  const std::size_t n = 10000;
  const std::u32string text = randomText(n, static_cast<uint32_t>(osc));
  std::size_t skipped = 99;
  const std::vector<Keystroke> strokes = keystrokesForText(text, nullptr, &skipped);
  ASSERT_EQ(skipped, 0u);
  ASSERT_EQ(strokes.size(), n);

  // Typing starts while the program is still starting up.
  Typist typist(echo.machine(), echo.loop());
  typist.type(strokes);
  const uint64_t ticks = echo.typeAll(typist, 400 * n);
  EXPECT_FALSE(typist.busy());
  EXPECT_EQ(typist.typed(), n);
  EXPECT_EQ(typist.timedOut(), 0u);
  const std::string got = echo.echoed(n + 1);
  EXPECT_EQ(got.substr(0, n), upper(text));
  EXPECT_EQ(got[n], '\xFF');  // nothing more
  EXPECT_EQ(echo.machine().keys.hostKey, 0);
  RecordProperty("ticks_per_key", static_cast<int>(ticks / n));
  std::printf("OscFreq %d: %zu keys in %llu run ticks\n", osc, n,
              static_cast<unsigned long long>(ticks));
}

INSTANTIATE_TEST_SUITE_P(Clocks, TypistClock, ::testing::Values(910, 20));

TEST(Typist, TextWithoutKeysAndLineEnds) {
  std::size_t skipped = 0;
  const std::vector<Keystroke> strokes =
      keystrokesForText(U"a!b\r\nc\u20ACd\n\re~", nullptr, &skipped);
  EXPECT_EQ(skipped, 3u);  // ! and the euro sign and ~
  ASSERT_EQ(strokes.size(), 8u);
  EXPECT_FALSE(strokes[2].interruptCheck);  // Enter is a special key

  EchoMachine echo(910);
  ASSERT_TRUE(echo.ok());
  Typist typist(echo.machine(), echo.loop());
  typist.type(strokes);
  echo.typeAll(typist, 10000);
  EXPECT_EQ(typist.typed(), 8u);
  // Enter arrives as EXE (0x0D) though it raises no key interrupt: the
  // program's own poll of the matrix takes it.
  EXPECT_EQ(echo.echoed(9), "AB\rCD\r\rE\xFF");
}

TEST(Typist, PacedKeepsTheClockOfTheTicksAndCancelLetsGo) {
  EchoMachine echo(910);
  ASSERT_TRUE(echo.ok());
  Typist::Options paced;
  paced.paced = true;
  Typist typist(echo.machine(), echo.loop(), paced);
  typist.type({charStroke(U'q'), charStroke(U'!'), charStroke(U'w')});
  std::vector<int> held;
  for (int t = 0; t < 30; ++t) {
    typist.beforeTick();
    held.push_back(echo.machine().keys.hostKey);
    echo.loop().runTick();
  }
  // q for 5 ticks, 5 up, the keyless ! takes its 10, then w.
  for (int t = 0; t < 30; ++t)
    EXPECT_EQ(held[t], t < 5 ? 16 : (t >= 20 && t < 25 ? 17 : 0)) << "tick " << t;
  EXPECT_TRUE(typist.busy());  // w's five ticks up end at the next tick
  typist.beforeTick();
  EXPECT_FALSE(typist.busy());

  typist.type(keystrokesForText(U"abc"));
  typist.beforeTick();
  EXPECT_EQ(echo.machine().keys.hostKey, 27);
  typist.cancel();
  EXPECT_EQ(echo.machine().keys.hostKey, 0);
  EXPECT_FALSE(typist.busy());
  EXPECT_FALSE(echo.machine().keys.watch.active);
}

// What the typist types and records replays to the same machine: every key
// of a character map goes down under the one rule for key interrupts,
// whether the typist, a replayed recording or the window presses it. The
// map holds key 82 (which only the host keyboard has) alone, as the typed
// key of a chord and as its held key, beside ordinary keys and chords.
TEST(Typist, RecordingOfTypingReplaysToTheSameDigest) {
  const CharMap map = parseCharMap("~ 82\n` 47+82\n{ 82+17\n} 47+24\n_ 81\n");
  const std::u32string text = U"~a`{~}_~b{1~";
  for (const bool paced : {false, true}) {
    SCOPED_TRACE(paced ? "paced" : "flow control");
    EchoMachine typed(910), replayed(910);
    ASSERT_TRUE(typed.ok() && replayed.ok());
    for (int i = 0; i < 100; ++i) {  // past the program's start
      typed.loop().runTick();
      replayed.loop().runTick();
    }
    ASSERT_EQ(stateDigest(typed.machine(), &typed.loop().scheduler),
              stateDigest(replayed.machine(), &replayed.loop().scheduler));
    Typist::Options options;
    options.paced = paced;
    Typist typist(typed.machine(), typed.loop(), options);
    InputRecorder recorder(typed.loop().cyclesRun());
    typist.recordInto(&recorder);
    std::size_t skipped = 0;
    typist.type(keystrokesForText(text, &map, &skipped));
    ASSERT_EQ(skipped, 0u);
    const uint64_t ticks = typed.typeAll(typist, 20000);
    ASSERT_FALSE(typist.busy());

    InputReplayer replay(recorder.events(), replayed.loop().cyclesRun());
    for (uint64_t t = 0; t < ticks + 20; ++t) {
      replay.feed(replayed.machine(), replayed.loop().cyclesRun());
      replayed.loop().runTick();
    }
    EXPECT_TRUE(replay.done());
    EXPECT_EQ(stateDigest(replayed.machine(), &replayed.loop().scheduler),
              stateDigest(typed.machine(), &typed.loop().scheduler));
    EXPECT_EQ(replayed.echoed(16), typed.echoed(16));
  }
}

}  // namespace
}  // namespace tarvo
