// Save states and input recordings on the demo machine: a run split by a
// save and a load ends exactly where the unbroken run ends, a replayed
// recording ends where the recorded run ended, and no damaged or foreign
// state file ever reaches the machine.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "demo_machine.h"
#include "frontpanel/input_log.h"
#include "frontpanel/run_loop.h"
#include "frontpanel/state_file.h"
#include "machine.h"
#include "machine/digest.h"

namespace tarvo::demo {
namespace {

struct QuietMessages : Messages {
  void loadFailed(const std::string&) override {}
  void saveFailed(const std::string&) override {}
};

// A started demo machine in process, driven as tarvo-run drives it.
struct Demo {
  explicit Demo(const fs::path& dir) : loop(m, messages, dir.string()) {
    loop.create();
    loop.show(false);
  }
  void tick() {
    loop.runTick();
    const CadenceDue due = advanceCadence(loop.scheduler);
    if (due.refresh) loop.refreshTick();
    if (due.second) loop.secondTick();
  }
  uint64_t digest() const { return stateDigest(m, &loop.scheduler); }

  QuietMessages messages;
  Machine m;
  RunLoop loop;
};

// Random typing on the face and the host keyboard, the power switch and the
// wake key, at random run ticks; the events of one tick come before it.
std::vector<std::pair<int, InputEvent>> randomInput(uint32_t seed, int ticks) {
  std::mt19937 rng(seed);
  std::vector<std::pair<int, InputEvent>> out;
  for (int t = 100; t < ticks; t += 1 + static_cast<int>(rng() % 12)) {
    const int code = 4 + static_cast<int>(rng() % 78);
    switch (rng() % 10) {
      case 0:
        out.push_back({t, {0, InputKind::Power, 0}});
        break;
      case 1:
        out.push_back({t, {0, InputKind::Wake, 0}});
        break;
      case 2:
      case 3:
        out.push_back({t, {0, InputKind::FaceDown, code}});
        out.push_back({t + 3, {0, InputKind::FaceUp, code}});
        break;
      default:
        out.push_back({t, {0, InputKind::HostChar, code}});
        out.push_back({t + 4, {0, InputKind::HostUp, 0}});
        break;
    }
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  return out;
}

void runTicks(Demo& d, const std::vector<std::pair<int, InputEvent>>& input, int from, int to) {
  std::size_t next = 0;
  while (next < input.size() && input[next].first < from) ++next;
  for (int t = from; t < to; ++t) {
    for (; next < input.size() && input[next].first == t; ++next)
      applyInputEvent(d.m, input[next].second);
    d.tick();
  }
}

class SaveState : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!templateHas("rom1.bin") || !templateHas("charset.bin"))
      GTEST_FAIL() << "the build made no demo machine in " << templateDir();
  }
  MachineDir dir;
};

TEST_F(SaveState, RunSplitAnywhereBySaveAndLoadEndsAsTheUnbrokenRun) {
  constexpr int kTicks = 700;
  std::set<uint64_t> ends;
  for (uint32_t seed : {1u, 2u, 3u}) {
    const auto input = randomInput(seed, kTicks);
    Demo whole(dir.path());
    std::vector<int> cuts;
    std::mt19937 rng(seed * 77);
    for (int i = 0; i < 5; ++i) cuts.push_back(static_cast<int>(rng() % kTicks));
    std::sort(cuts.begin(), cuts.end());
    std::vector<std::vector<uint8_t>> saved;
    int at = 0;
    for (int cut : cuts) {
      runTicks(whole, input, at, cut);
      at = cut;
      saved.push_back(encodeState(whole.m, whole.loop.scheduler));
    }
    runTicks(whole, input, at, kTicks);
    // The machine worked and the input reached it: every seed ends apart.
    EXPECT_GT(whole.loop.stepsRun(), 50000u);
    EXPECT_TRUE(ends.insert(whole.digest()).second);

    for (std::size_t i = 0; i < cuts.size(); ++i) {
      SCOPED_TRACE("seed " + std::to_string(seed) + ", cut at tick " + std::to_string(cuts[i]));
      Demo split(dir.path());
      DecodedState state;
      ASSERT_EQ(decodeState(saved[i].data(), saved[i].size(), state), "");
      ASSERT_TRUE(sameImages(state, split.m));
      applyState(state, split.m, split.loop.scheduler);
      runTicks(split, input, cuts[i], kTicks);
      EXPECT_EQ(split.digest(), whole.digest());
      EXPECT_EQ(takeSnapshot(split.m, split.loop.scheduler),
                takeSnapshot(whole.m, whole.loop.scheduler));
      for (int row = 0; row < kRegionCount; ++row)
        EXPECT_EQ(split.m.mem.rows[row].buffer, whole.m.mem.rows[row].buffer) << "row " << row;
    }
  }
}

// The bytes of a good state file, and ways to damage them.
class StateBytes : public SaveState {
 protected:
  void SetUp() override {
    SaveState::SetUp();
    Demo d(dir.path());
    for (int t = 0; t < 150; ++t) d.tick();
    good = encodeState(d.m, d.loop.scheduler);
  }
  // Offset of a section's header.
  std::size_t section(const char* name) const {
    std::size_t at = kStateHeaderSize;
    while (at + kStateSectionHeaderSize <= good.size()) {
      if (std::strncmp(reinterpret_cast<const char*>(&good[at]), name, 8) == 0) return at;
      uint32_t length;
      std::memcpy(&length, &good[at + 8], 4);
      at += kStateSectionHeaderSize + length;
    }
    ADD_FAILURE() << "no section " << name;
    return 0;
  }
  static void fixCrc(std::vector<uint8_t>& b, std::size_t sectionAt) {
    uint32_t length;
    std::memcpy(&length, &b[sectionAt + 8], 4);
    const uint32_t sum = static_cast<uint32_t>(
        crc32(0, &b[sectionAt + kStateSectionHeaderSize], static_cast<uInt>(length)));
    std::memcpy(&b[sectionAt + 12], &sum, 4);
  }
  std::string refusal(const std::vector<uint8_t>& b) {
    DecodedState out;
    return decodeState(b.data(), b.size(), out);
  }
  std::vector<uint8_t> good;
};

TEST_F(StateBytes, EveryDamagedFileIsRefusedWithItsReason) {
  ASSERT_EQ(refusal(good), "");
  auto refusedFor = [&](std::vector<uint8_t> b, const std::string& reason) {
    const std::string r = refusal(b);
    EXPECT_NE(r.find(reason), std::string::npos) << "got '" << r << "', wanted '" << reason << "'";
  };
  refusedFor({}, "not a state file");
  refusedFor(std::vector<uint8_t>(good.begin(), good.begin() + 8), "truncated");
  refusedFor(std::vector<uint8_t>{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0}, "not a state file");
  // Cut anywhere, the file is truncated.
  for (std::size_t cut : {std::size_t{8}, kStateHeaderSize, kStateHeaderSize + 3,
                          section("ram0") + 20, good.size() - 1})
    refusedFor(std::vector<uint8_t>(good.begin(), good.begin() + cut), "truncated");
  {
    std::vector<uint8_t> b = good;
    b.push_back(0);
    refusedFor(b, "bytes follow the last section");
  }
  {
    std::vector<uint8_t> b = good;
    b[8] = 2;  // version 2, header CRC made to match
    const uint32_t sum = static_cast<uint32_t>(crc32(0, b.data(), 40));
    std::memcpy(&b[40], &sum, 4);
    refusedFor(b, "unknown format version 2");
  }
  {
    std::vector<uint8_t> b = good;
    b[section("ram1") + kStateSectionHeaderSize + 100] ^= 1;
    refusedFor(b, "section ram1 has a bad CRC");
  }
  {
    // A keys section one byte longer, every CRC right.
    std::vector<uint8_t> b = good;
    const std::size_t at = section("keys");
    b.insert(b.begin() + static_cast<long>(at + kStateSectionHeaderSize), 0);
    b[at + 8] += 1;
    fixCrc(b, at);
    refusedFor(b, "section keys has 13 bytes instead of 12");
  }
  {
    std::vector<uint8_t> b = good;
    b[section("timers")] = 'T';  // renamed: an unknown section, timers missing
    refusedFor(b, "section timers is missing");
  }
  // Values that no machine holds, in sections with a right CRC.
  auto badValue = [&](const char* name, std::size_t offset, uint8_t value,
                      const std::string& reason) {
    std::vector<uint8_t> b = good;
    const std::size_t at = section(name);
    b[at + kStateSectionHeaderSize + offset] = value;
    fixCrc(b, at);
    refusedFor(b, reason);
  };
  // cpu: R[32], 7 words, 11 bytes, segmentLatch, inService, clockShift (int),
  // powerOff (bool) ...
  badValue("cpu", 32 + 14 + 11 + 2, 99, "clock shift");
  badValue("cpu", 32 + 14 + 11 + 2 + 4, 2, "flag");
  badValue("keys", 0, 200, "key code");
  // The clock: OscFreq, cycles per tick and ticks per second as the clock
  // setting makes them, and nothing else.
  auto clock = [&](int32_t oscFreq, int32_t perTick, int32_t perSecond) {
    std::vector<uint8_t> b = good;
    const std::size_t at = section("timers") + kStateSectionHeaderSize;
    for (int32_t* v : {&oscFreq, &perTick, &perSecond}) {
      const std::size_t i = static_cast<std::size_t>(v == &oscFreq ? 0 : v == &perTick ? 4 : 8);
      std::memcpy(&b[at + i], v, 4);
    }
    fixCrc(b, at - kStateSectionHeaderSize);
    return refusal(b);
  };
  EXPECT_NE(clock(910, INT32_MAX, 100).find("clock"), std::string::npos);
  EXPECT_NE(clock(910, 9101, 100).find("clock"), std::string::npos);
  EXPECT_NE(clock(910, 9100, 7).find("clock"), std::string::npos);
  EXPECT_NE(clock(910, 9100, 0).find("clock"), std::string::npos);
  EXPECT_EQ(clock(910, 9100, 100), "");
  EXPECT_EQ(clock(2000, 20000, 100), "");
  EXPECT_EQ(clock(0, 0, 100), "");
  EXPECT_EQ(clock(300000000, INT32_MAX, 100), "");  // the fastest clock there is

  // Any one byte changed anywhere is refused.
  std::mt19937 rng(5);
  for (int i = 0; i < 600; ++i) {
    std::vector<uint8_t> b = good;
    const std::size_t at = i < 200 ? static_cast<std::size_t>(i) % good.size()
                                   : static_cast<std::size_t>(rng() % good.size());
    b[at] ^= static_cast<uint8_t>(1 + rng() % 255);
    EXPECT_NE(refusal(b), "") << "byte " << at;
  }
}

TEST_F(StateBytes, ARefusedFileLeavesTheMachineAsItWas) {
  Demo d(dir.path());
  for (int t = 0; t < 120; ++t) d.tick();
  const uint64_t before = d.digest();
  std::vector<uint8_t> b = good;
  b.back() ^= 0x40;
  const fs::path file = dir.path() / "bad.tst";
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  DecodedState state;
  EXPECT_NE(readStateFile(file.string(), state), "");
  EXPECT_EQ(d.digest(), before);
  EXPECT_EQ(readStateFile((dir.path() / "none.tst").string(), state), "the file does not exist");
  EXPECT_EQ(readStateFile(dir.path().string(), state), "not a regular file");
}

TEST_F(StateBytes, OtherRomImagesAreNoticed) {
  Demo d(dir.path());
  DecodedState state;
  ASSERT_EQ(decodeState(good.data(), good.size(), state), "");
  EXPECT_TRUE(sameImages(state, d.m));
  d.m.mem.rows[kRom1Row].buffer[0x1234] ^= 1;
  EXPECT_FALSE(sameImages(state, d.m));
  d.m.mem.rows[kRom1Row].buffer[0x1234] ^= 1;
  d.m.lcd.glyphs[16 * 'A'] ^= 1;  // the character set counts too
  EXPECT_FALSE(sameImages(state, d.m));
  d.m.lcd.glyphs[16 * 'A'] ^= 1;
  d.m.lcd.glyphs[16 * 0xFC] ^= 1;  // glyphs the program writes do not
  EXPECT_TRUE(sameImages(state, d.m));
}

TEST(InputLog, TextFormReadsBackAndBadLinesAreNamed) {
  std::vector<InputEvent> events = {
      {0, InputKind::FaceDown, 57},  {10, InputKind::FaceUp, 57}, {10, InputKind::Wake, 0},
      {99, InputKind::HostChar, 16}, {120, InputKind::HostUp, 0}, {130, InputKind::HostKey, 75},
      {200, InputKind::Power, 0},    {300, InputKind::Reset, 0},  {301, InputKind::FaceUp, 0}};
  std::vector<InputEvent> back;
  ASSERT_EQ(parseInputLog(formatInputLog(events), back), "");
  EXPECT_EQ(back, events);
  // Comments, blanks, CR line ends and spacing are the writer's business.
  ASSERT_EQ(parseInputLog("# mine\r\n\n  5   char 16 \r\n7 up\n", back), "");
  EXPECT_EQ(back,
            (std::vector<InputEvent>{{5, InputKind::HostChar, 16}, {7, InputKind::FaceUp, 0}}));
  EXPECT_EQ(parseInputLog("5 char 16\n4 release\n", back), "line 2: the cycle count goes back");
  EXPECT_EQ(parseInputLog("x char 16\n", back), "line 1: not a cycle count: 'x'");
  EXPECT_EQ(parseInputLog("5 jump\n", back), "line 1: unknown event 'jump'");
  EXPECT_EQ(parseInputLog("5 char\n", back), "line 1: 'char' needs a key code");
  EXPECT_EQ(parseInputLog("5 down 83\n", back), "line 1: not a key code (0 to 82): '83'");
  EXPECT_EQ(parseInputLog("5 power 1\n", back), "line 1: more than one event on the line");
  EXPECT_EQ(parseInputLog("99999999999999999999 power\n", back),
            "line 1: not a cycle count: '99999999999999999999'");
  // A word of any length is quoted by its start only.
  for (const std::string& line :
       {std::string(1 << 20, '7') + " power", "5 " + std::string(1 << 20, 'x'),
        "5 down " + std::string(1 << 20, '1')}) {
    const std::string why = parseInputLog(line, back);
    EXPECT_NE(why, "");
    EXPECT_LT(why.size(), 120u) << why.substr(0, 120);
  }
  // An editor's byte-order mark is no part of the first line.
  ASSERT_EQ(parseInputLog("\xEF\xBB\xBF" + formatInputLog(events), back), "");
  EXPECT_EQ(back, events);
  ASSERT_EQ(parseInputLog("\xEF\xBB\xBF"
                          "5 char 16\n",
                          back),
            "");
  EXPECT_EQ(back, (std::vector<InputEvent>{{5, InputKind::HostChar, 16}}));

  // The sample in docs/state-format.md is a recording this reader takes.
  std::ifstream doc(std::string(TARVO_SOURCE_DIR) + "/docs/state-format.md");
  std::string sample, line;
  while (std::getline(doc, line) && line != "# Input recordings") {
  }
  while (std::getline(doc, line) && line.rfind("    ", 0) != 0) {
  }
  do sample += line.substr(std::min<std::size_t>(4, line.size())) + "\n";
  while (std::getline(doc, line) && !line.empty());
  EXPECT_EQ(parseInputLog(sample, back), "") << sample;
  EXPECT_GE(back.size(), 9u) << sample;
}

// tarvo-run: the same with files and processes.
std::string digestOf(const RunResult& r) {
  const std::string& json = r.lines.empty() ? std::string() : r.lines.back();
  const auto at = json.find("\"stateDigest\":\"");
  return at == std::string::npos ? "" : json.substr(at + 15, 16);
}

TEST_F(SaveState, TarvoRunSplitByStateOutAndStateInEndsAsOneRun) {
  const std::string state = (dir.path() / "half.tst").string();
  const std::vector<std::string> report = {"--peek",   "10000:256",  "--peek",
                                           "28000:64", "--lcd-text", "--dump"};
  auto with = [&](std::vector<std::string> a) {
    a.insert(a.end(), report.begin(), report.end());
    return a;
  };
  const RunResult whole = runTool(dir.path(), with({"--ticks", "600", "--type", "7*6{ENTER}"}));
  const RunResult first =
      runTool(dir.path(), {"--ticks", "300", "--type", "7*6{ENTER}", "--state-out", state});
  const RunResult second = runTool(dir.path(), with({"--ticks", "300", "--state-in", state}));
  ASSERT_EQ(whole.status, 0);
  ASSERT_EQ(first.status, 0);
  ASSERT_EQ(second.status, 0);
  ASSERT_EQ(digestOf(whole).size(), 16u);
  EXPECT_EQ(digestOf(second), digestOf(whole));
  // Memory and LCD the same; only the steps and cycles of the run differ.
  ASSERT_EQ(second.lines.size(), whole.lines.size());
  for (std::size_t i = 0; i + 1 < whole.lines.size(); ++i)
    EXPECT_EQ(second.lines[i], whole.lines[i]);
  EXPECT_FALSE(dir.has("ram0.bin"));  // a state touches no image file
}

// Reading the screen never changes the machine: the LCD outputs leave the
// reported digest and the saved state as they are, also when the run ends
// between two refreshes with the display changed since the last one.
TEST_F(SaveState, LcdOutputsLeaveTheStateAsItIs) {
  auto bytes = [](const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string png = (dir.path() / "lcd.png").string();
  for (const char* ticks : {"103", "113", "118", "300"}) {
    const std::vector<std::string> run = {"--ticks", ticks, "--type", "7*6{ENTER}", "--dump"};
    auto with = [&](std::vector<std::string> more, const char* state) {
      std::vector<std::string> a = run;
      a.insert(a.end(), more.begin(), more.end());
      a.insert(a.end(), {"--state-out", (dir.path() / state).string()});
      const RunResult r = runTool(dir.path(), a);
      EXPECT_EQ(r.status, 0);
      return digestOf(r);
    };
    const std::string plain = with({}, "plain.tst");
    ASSERT_EQ(plain.size(), 16u);
    for (const auto& output : std::vector<std::vector<std::string>>{
             {"--lcd-chars"}, {"--lcd-text"}, {"--lcd-png", png}}) {
      EXPECT_EQ(with(output, "read.tst"), plain) << ticks << " " << output[0];
      EXPECT_EQ(bytes(dir.path() / "read.tst"), bytes(dir.path() / "plain.tst"))
          << ticks << " " << output[0];
    }
  }
}

TEST_F(SaveState, StateOutThroughALinkWritesTheFileItNames) {
  fs::create_directory(dir.path() / "states");
  const fs::path target = dir.path() / "states" / "real.tst";
  const fs::path link = dir.path() / "link.tst";
  fs::create_symlink(target, link);
  ASSERT_EQ(runTool(dir.path(), {"--ticks", "50", "--state-out", link.string()}).status, 0);
  EXPECT_TRUE(fs::is_symlink(link));
  ASSERT_TRUE(fs::exists(target));
  DecodedState state;
  EXPECT_EQ(readStateFile(link.string(), state), "");
  // Nothing else is left beside it.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path() / "states"), {}), 1);
}

TEST_F(SaveState, TarvoRunReplaysARecordingToTheSameState) {
  const std::string rec = (dir.path() / "typed.txt").string();
  const RunResult recorded = runTool(
      dir.path(), {"--ticks", "500", "--type", "12+30{ENTER}{UP}", "--record", rec, "--dump"});
  const RunResult replayed = runTool(dir.path(), {"--ticks", "500", "--replay", rec, "--dump"});
  const RunResult idle = runTool(dir.path(), {"--ticks", "500", "--dump"});
  ASSERT_EQ(recorded.status, 0);
  ASSERT_EQ(replayed.status, 0);
  EXPECT_EQ(digestOf(replayed), digestOf(recorded));
  EXPECT_NE(digestOf(idle), digestOf(recorded));
  std::vector<InputEvent> events;
  ASSERT_EQ(readInputLog(rec, events), "");
  EXPECT_EQ(events.size(), 2u * 7u);  // every key down and up
}

// "{{}" types the brace that opens key names, through the character map
// as any other character; a replayed run cannot also be recorded.
TEST_F(SaveState, TarvoRunTypesABraceAndRefusesReplayWithRecord) {
  const std::string rec = (dir.path() / "brace.txt").string();
  ASSERT_EQ(runTool(dir.path(), {"--ticks", "300", "--type", "{{}", "--record", rec}).status, 0);
  std::vector<InputEvent> events;
  ASSERT_EQ(readInputLog(rec, events), "");
  std::vector<std::pair<InputKind, int32_t>> kinds;
  for (const InputEvent& e : events) kinds.push_back({e.kind, e.code});
  // The demo character map holds '{' as the keys 47 and 36 together.
  EXPECT_NE(std::find(kinds.begin(), kinds.end(), std::pair{InputKind::ChordHold, int32_t{47}}),
            kinds.end());
  EXPECT_NE(std::find(kinds.begin(), kinds.end(), std::pair{InputKind::HostChar, int32_t{36}}),
            kinds.end());
  EXPECT_EQ(runTool(dir.path(), {"--ticks", "300", "--type", "{"}).status, 2);
  EXPECT_EQ(runTool(dir.path(), {"--ticks", "300", "--type", "{nope}"}).status, 2);
  const std::string other = (dir.path() / "other.txt").string();
  EXPECT_EQ(runTool(dir.path(), {"--ticks", "50", "--replay", rec, "--record", other}).status, 2);
  EXPECT_FALSE(fs::exists(other));
}

TEST_F(SaveState, TarvoRunRefusesBadAndForeignStatesWithOneLine) {
  const std::string state = (dir.path() / "s.tst").string();
  ASSERT_EQ(runTool(dir.path(), {"--ticks", "120", "--state-out", state}).status, 0);
  auto stderrOf = [&](std::vector<std::string> args) {
    args.push_back("2>&1");
    std::string cmd = shellQuote(std::string(TARVO_BIN_DIR) + "/tarvo-run") + " --dir " +
                      shellQuote(dir.path().string());
    for (std::size_t i = 0; i + 1 < args.size(); ++i) cmd += " " + shellQuote(args[i]);
    cmd += " 2>&1 >/dev/null";
    RunResult r;
    FILE* p = ::popen(cmd.c_str(), "r");
    std::string out;
    char buf[512];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) r.lines.push_back(line);
    return r;
  };
  {
    std::ofstream(dir.path() / "junk.tst") << "hello";
    const RunResult r =
        stderrOf({"--ticks", "1", "--state-in", (dir.path() / "junk.tst").string()});
    EXPECT_EQ(r.status, 2);
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(r.lines[0], "tarvo-run: Failed to load the file " +
                              (dir.path() / "junk.tst").string() + ": not a state file");
  }
  // Other ROM images: refused unless forced.
  {
    std::fstream rom(dir.path() / "rom1.bin", std::ios::in | std::ios::out | std::ios::binary);
    rom.seekp(0x4000);
    rom.put('\x5A');
  }
  const RunResult refused = stderrOf({"--ticks", "1", "--state-in", state});
  EXPECT_EQ(refused.status, 2);
  ASSERT_EQ(refused.lines.size(), 1u);
  EXPECT_NE(refused.lines[0].find("other ROM images"), std::string::npos) << refused.lines[0];
  EXPECT_EQ(runTool(dir.path(), {"--ticks", "1", "--state-in", state, "--force-state"}).status, 0);
  // --poke and --set apply on top of the state.
  const RunResult poked =
      runTool(dir.path(), {"--state-in", state, "--force-state", "--poke", "10010=A5", "--set",
                           "R3=7E", "--peek", "10010:1", "--dump"});
  ASSERT_EQ(poked.status, 0);
  ASSERT_GE(poked.lines.size(), 2u);
  EXPECT_EQ(poked.lines[0], "10010: A5");
  const std::string& json = poked.lines[1];
  std::size_t at = json.find("\"R\":[");
  ASSERT_NE(at, std::string::npos);
  for (int i = 0; i < 3; ++i) at = json.find(',', at + 1);
  EXPECT_EQ(json.substr(at, 5), ",126,") << json;
}

}  // namespace
}  // namespace tarvo::demo
