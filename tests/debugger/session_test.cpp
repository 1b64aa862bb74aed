#include "debugger/session.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cpu/code_view.h"
#include "cpu/exec.h"
#include "cpu/memory.h"
#include "debugger/expression.h"
#include "debugger/symbols.h"
#include "frontpanel/run_loop.h"
#include "machine.h"
#include "machine/digest.h"
#include "machine/operations.h"
#include "tools/disasm.h"
#include "tools/xasm.h"

namespace tarvo {
namespace {

// ---------------------------------------------------------------------------
// Expressions

TEST(DebugExpression, ValuesOnTheMachineState) {
  Machine m;
  m.cpu.R[3] = 0x0D;
  m.cpu.IX = 0x9000;
  m.cpu.UA = 0x55;  // IX side in segment 1
  m.cpu.IB = 0x40;
  m.cpu.F = 0x80;  // NZ, NC, LZ, UZ
  m.cpu.PC = 0x1234;
  m.mem.rows[kRam0Row].buffer[0x9000] = 0x20;
  m.mem.rows[kRam0Row].buffer[0x0010] = 0x77;
  SymbolTable symbols;
  symbols.add("start", 0x8000);

  const struct {
    const char* text;
    int64_t value;
  } cases[] = {
      {"$3==&H0D && (IX)>&H10", 1},
      {"$3==&H0D && (IX)>&H20", 0},
      {"1+2*3", 7},
      {"[1+2]*3", 9},
      {"-1", -1},
      {"!0", 1},
      {"!5", 0},
      {"~0", -1},
      {"&HFF>>4", 15},
      {"&hff", 255},
      {"0x10", 16},
      {"7%3", 1},
      {"10/-3", -3},
      {"1<<70", 0},
      {"pc", 0x1234},
      {"PC+1", 0x1235},
      {"NZ", 1},
      {"Z", 0},
      {"NC", 1},
      {"C || LZ", 1},
      {"NLZ", 0},
      {"start+2", 0x8002},
      {"(&H10010)", 0x77},
      {"3<=3", 1},
      {"2>=3", 0},
      {"2<3 == 1", 1},
      {"5!=5", 0},
      {"6&3", 2},
      {"6|3", 7},
      {"6^3", 5},
      {"1 || 0 && 0", 1},
      {"  $31 ", 0},
  };
  for (const auto& c : cases) {
    const Expression e = Expression::parse(c.text, &symbols);
    ASSERT_TRUE(e.ok()) << c.text << ": " << e.error();
    std::string error;
    const auto v = e.evaluate(m, &error);
    ASSERT_TRUE(v.has_value()) << c.text << ": " << error;
    EXPECT_EQ(*v, c.value) << c.text;
  }
}

TEST(DebugExpression, BadTextGivesAMessage) {
  for (const char* text : {"", "1+", "(1", "[1)", "$32", "$", "foo", "1 2", "&H", "12abc", "start",
                           "(", ")", "&&", "1 +* 2"}) {
    const Expression e = Expression::parse(text);
    EXPECT_FALSE(e.ok()) << text;
    EXPECT_FALSE(e.error().empty()) << text;
  }
  EXPECT_NE(Expression::parse("$32").error().find("$0 to $31"), std::string::npos);
  EXPECT_NE(Expression::parse("1 + foo").error().find("column 5"), std::string::npos);
  const std::string deep = std::string(200, '[') + "1" + std::string(200, ']');
  EXPECT_NE(Expression::parse(deep).error().find("deeply"), std::string::npos);
  const std::string fine = std::string(40, '[') + "1" + std::string(40, ']');
  EXPECT_TRUE(Expression::parse(fine).ok());

  Machine m;
  std::string error;
  EXPECT_FALSE(Expression::parse("1/[PC-PC]").evaluate(m, &error).has_value());
  EXPECT_EQ(error, "division by zero");
  EXPECT_FALSE(Expression::parse("1%0").evaluate(m).has_value());
}

// Any text gives a value or a message: random texts from the expression's
// own vocabulary, so that many of them parse and evaluate.
TEST(DebugExpression, AnyTextParsesOrIsRefused) {
  static const char* const kPieces[] = {"1",  "&H", "F",  "0x", "$", "3",  "31",
                                        "PC", "IX", "NZ", "(",  ")", "[",  "]",
                                        "+",  "-",  "*",  "/",  "%", "<<", ">>",
                                        "<",  "<=", "==", "!=", "&", "&&", "|",
                                        "||", "^",  "!",  "~",  " ", "x",  "-9223372036854775807",
                                        "65"};
  Machine m;
  std::mt19937 rng(16);
  int parsed = 0;
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    const int n = static_cast<int>(rng() % 12);
    for (int k = 0; k < n; ++k) text += kPieces[rng() % std::size(kPieces)];
    const Expression e = Expression::parse(text);
    if (!e.ok()) {
      EXPECT_FALSE(e.error().empty()) << text;
      continue;
    }
    ++parsed;
    std::string error;
    const auto v = e.evaluate(m, &error);
    if (!v) {
      EXPECT_FALSE(error.empty()) << text;
    }
  }
  EXPECT_GT(parsed, 300);
}

// ---------------------------------------------------------------------------
// Symbols

TEST(DebugSymbols, FileAddressesAndOperands) {
  SymbolTable s;
  std::vector<std::string> errors;
  s.addText("start 8000\nloop 803A\r\n\nbad line\nx FFFFF\n9lives 0001\nalias 803A\n", &errors);
  ASSERT_EQ(errors.size(), 3u);
  EXPECT_EQ(errors[0], "4: bad line");
  EXPECT_EQ(s.size(), 3u);
  EXPECT_EQ(*s.nameAt(0x803A), "alias");  // the first by name
  EXPECT_EQ(s.describe(0x803C), "alias+&H2");
  EXPECT_EQ(s.describe(0x8000), "start");
  EXPECT_EQ(s.describe(0x7FFF), "");
  EXPECT_EQ(s.describe(0x8000 + 0x39), "start+&H39");

  std::string error;
  EXPECT_EQ(parseTypedAddress("803a", &s), 0x803Au);
  EXPECT_EQ(parseTypedAddress(" &H10 ", &s), 0x10u);
  EXPECT_EQ(parseTypedAddress("loop", &s), 0x803Au);
  EXPECT_EQ(parseTypedAddress("loop+4", &s), 0x803Eu);
  EXPECT_EQ(parseTypedAddress("loop - 3A", &s), 0x8000u);
  EXPECT_FALSE(parseTypedAddress("nope", &s, &error));
  EXPECT_EQ(error, "unknown label 'nope'");
  EXPECT_FALSE(parseTypedAddress("loop+zz", &s, &error));
  EXPECT_FALSE(parseTypedAddress("", &s, &error));
  EXPECT_FALSE(parseTypedAddress("loop", nullptr, &error));

  // A name the symbols define is that label, though it is spelled with hex
  // digits only; &H or 0x makes a number, and so does a name they lack
  // (labels are case-sensitive). A label is in the code segment, a number
  // is the full address.
  s.add("beef", 0xE003);
  ProcessorState c{};
  c.segmentLatch = 1;
  struct Typed {
    const char* text;
    uint32_t value, full;
  };
  for (const Typed& k : {Typed{"beef", 0xE003, 0x1E003}, Typed{" beef+2", 0xE005, 0x1E005},
                         Typed{"beef-3", 0xE000, 0x1E000}, Typed{"&Hbeef", 0xBEEF, 0x0BEEF},
                         Typed{"0xbeef", 0xBEEF, 0x0BEEF}, Typed{"BEEF", 0xBEEF, 0x0BEEF},
                         Typed{"ABCDE", 0xABCDE, 0xABCDE}, Typed{"loop", 0x803A, 0x1803A}}) {
    EXPECT_EQ(parseTypedAddress(k.text, &s), k.value) << k.text;
    EXPECT_EQ(parseTypedFullAddress(k.text, &s, c), k.full) << k.text;
  }
  EXPECT_EQ(parseTypedFullAddress("beef", nullptr, c), 0x0BEEFu);

  EXPECT_EQ(labelOperands("$1,&H803A", s), "$1,alias");
  EXPECT_EQ(labelOperands("&H8000", s), "start");
  EXPECT_EQ(labelOperands("&H803A0", s), "&H803A0");
  EXPECT_EQ(labelOperands("&H1234,&H80", s), "&H1234,&H80");
}

// One parser for watch texts serves tarvo-run (plain hex) and the window
// (labels too): access kinds, the dash that splits a range, the refusals.
TEST(DebugSymbols, WatchTexts) {
  SymbolTable s;
  s.addText("data 1A00\nbuf 1A10\n");
  ProcessorState c{};
  c.segmentLatch = 1;
  const AddressReader typed = [&](std::string_view t, std::string* why) {
    return parseTypedFullAddress(t, &s, c, why);
  };
  struct Case {
    const char* text;
    uint32_t start, end;
    WatchAccess access;
  };
  for (const Case& k : {Case{"1A000", 0x1A000, 0x1A001, WatchAccess::Write},
                        Case{"1A000-1A003:r", 0x1A000, 0x1A004, WatchAccess::Read},
                        Case{"data-2-data+2:rw", 0x119FE, 0x11A03, WatchAccess::ReadWrite},
                        Case{"data-buf:w", 0x11A00, 0x11A11, WatchAccess::Write}}) {
    std::string error;
    const auto w = parseWatchText(k.text, typed, &error);
    ASSERT_TRUE(w) << k.text << ": " << error;
    EXPECT_EQ(w->start, k.start) << k.text;
    EXPECT_EQ(w->end, k.end) << k.text;
    EXPECT_EQ(w->access, k.access) << k.text;
  }
  for (const auto& [text, message] : std::vector<std::pair<const char*, const char*>>{
           {"10:x", "expected r, w or rw after the colon"},
           {"9-2", "the range ends before it starts"},
           {"100000", "address above FFFFF"},
           {"nowhere", "unknown label 'nowhere'"},
           {"", "malformed address"}}) {
    std::string error;
    const AddressReader read = text[0] == 'n' ? typed : [](std::string_view t, std::string*) {
      return parseTypedAddress(t, nullptr);
    };
    EXPECT_FALSE(parseWatchText(text, read, &error)) << text;
    EXPECT_EQ(error, message) << text;
  }
}

// ---------------------------------------------------------------------------
// The session on the CPU-bound program of the benchmark: segment 1 RAM,
// common area at 0x4000, every selector 1.

class Session : public testing::Test {
 protected:
  Session() {
    XasmOptions options;
    options.base = 0;
    options.size = 0x10000;
    const XasmOutput out = assembleProgram(TARVO_SOURCE_DIR "/bench/cpu_mix.s", options);
    EXPECT_TRUE(out.ok());
    for (const XasmSymbol& s : out.symbols) symbols.add(s.name, s.value);
    load(m, out.image);
    load(plain, out.image);
    session.setSymbols(&symbols);
  }

  static void load(Machine& machine, const std::vector<uint8_t>& image) {
    powerOnSequence(machine);
    std::copy(image.begin(), image.end(), machine.mem.rows[kRam0Row].buffer.begin());
    machine.cpu.PC = 0x8000;
    machine.cpu.UA = machine.cpu.segmentLatch = 0x55;
    machine.cpu.IB = 0x40;
  }

  uint32_t label(const char* name) { return 0x10000u | *symbols.value(name); }

  // Steps until the session stops the run; the number of steps taken, or 0.
  uint64_t runToStop(uint64_t limit = 200000) {
    session.resume();
    for (uint64_t i = 1; i <= limit; ++i) {
      cycles += step(m);
      if (session.stepped(m, cycles)) return i;
    }
    return 0;
  }

  const char* mnemonicAtPc() {
    CodeView view(m);
    return disasmMnemonic(disasmDecodeIndex(view));
  }

  Machine m;
  Machine plain;
  SymbolTable symbols;
  DebugSession session{m};
  int64_t cycles = 0;
};

TEST_F(Session, NothingArmedCostsNothing) {
  EXPECT_FALSE(session.armed());
  const int id = session.addWatchpoint(0x1A000, 0x1A001, WatchAccess::Write);
  EXPECT_TRUE(session.armed());
  EXPECT_EQ(m.mem.watch != nullptr, true);
  session.setEnabled(id, false);
  EXPECT_FALSE(session.armed());
  EXPECT_EQ(m.mem.watch, nullptr);
  EXPECT_TRUE(session.remove(id));
  EXPECT_FALSE(session.remove(id));
}

// Watched pages go through the region table: the run must be exactly the
// run without watches, stop after stop, and each stop must name an access
// that happened in the step that stopped.
TEST_F(Session, WatchedRunIsThePlainRun) {
  session.addWatchpoint(0x19000, 0x19100, WatchAccess::ReadWrite);  // BUF
  session.addWatchpoint(0x1A000, 0x1A100, WatchAccess::Write);      // DST
  session.addWatchpoint(0x1FE00, 0x20000, WatchAccess::ReadWrite);  // both stacks
  std::string error;
  ASSERT_NE(session.addBreakpoint(label("loop"), "$20 == &H0A", &error), 0) << error;

  uint64_t stepsDone = 0;
  int stops = 0, writes = 0;
  session.resume();
  while (stepsDone < 30000) {
    const std::vector<uint8_t> before = m.mem.rows[kRam0Row].buffer;
    cycles += step(m);
    step(plain);
    ++stepsDone;
    if (!session.stepped(m, cycles)) continue;
    ++stops;
    const StopInfo& s = session.lastStop();
    if (s.reason == StopReason::Watchpoint) {
      ASSERT_GE(s.address, 0x10000u);
      const uint8_t now = m.mem.rows[kRam0Row].buffer[s.address - 0x10000];
      EXPECT_EQ(s.newValue, now);
      EXPECT_EQ(s.oldValue, before[s.address - 0x10000]) << std::hex << s.address;
      writes += s.write;
    } else {
      ASSERT_EQ(s.reason, StopReason::Breakpoint);
      EXPECT_EQ(m.cpu.PC, *symbols.value("loop"));
      EXPECT_EQ(m.cpu.R[20], 0x0A);
    }
    session.resume();
  }
  EXPECT_GT(stops, 1000);
  EXPECT_GT(writes, 100);
  EXPECT_EQ(stateDigest(m), stateDigest(plain));
  // The breakpoint's hits are its stops.
  EXPECT_GT(session.breakpoints().back().hits, 0u);
}

TEST_F(Session, FirstWriteStopsAfterTheStepThatWrote) {
  session.addWatchpoint(0x1A000, 0x1A001, WatchAccess::Write);
  const uint8_t initial = plain.mem.rows[kRam0Row].buffer[0xA000];
  const uint64_t n = runToStop();
  ASSERT_GT(n, 0u);
  for (uint64_t i = 1; i < n; ++i) {
    step(plain);
    ASSERT_EQ(plain.mem.rows[kRam0Row].buffer[0xA000], initial) << "written before step " << n;
  }
  step(plain);
  EXPECT_EQ(plain.mem.rows[kRam0Row].buffer[0xA000], session.lastStop().newValue);
  EXPECT_EQ(session.stopText().rfind("Watchpoint 1: write at 1A000, FF -> ", 0), 0u)
      << session.stopText();
}

TEST_F(Session, StepOutOverAndRunTo) {
  session.setRecording(true);
  session.addBreakpoint(label("mix"));
  ASSERT_GT(runToStop(), 0u);
  EXPECT_EQ(session.lastStop().reason, StopReason::Breakpoint);
  EXPECT_EQ(session.stopText(), "Breakpoint 1 at 1809D (mix)");
  // The last instruction executed is the call; the call stack holds it.
  const std::vector<HistoryEntry> h = session.history();
  ASSERT_FALSE(h.empty());
  const uint32_t callSite = h.back().address;
  ASSERT_EQ(session.callStack().size(), 1u);
  EXPECT_EQ(session.callStack()[0].callSite, callSite);
  EXPECT_EQ(session.callStack()[0].target, label("mix"));
  const uint16_t stackInside = m.cpu.SS;

  session.setEnabled(1, false);
  session.stepOut();
  ASSERT_GT(runToStop(), 1u);
  EXPECT_EQ(session.lastStop().reason, StopReason::StepDone);
  EXPECT_STREQ(mnemonicAtPc(), "pps");
  EXPECT_GT(m.cpu.SS, stackInside);
  EXPECT_TRUE(session.callStack().empty());
  const uint32_t afterCall = DebugSession::fetchAddress(m.cpu);

  session.runTo(callSite);
  ASSERT_GT(runToStop(), 1u);
  EXPECT_EQ(DebugSession::fetchAddress(m.cpu), callSite);
  EXPECT_STREQ(mnemonicAtPc(), "cal");

  session.stepOver();
  const uint64_t over = runToStop();
  EXPECT_GT(over, 3u);  // the whole routine ran
  EXPECT_EQ(DebugSession::fetchAddress(m.cpu), afterCall);
  EXPECT_EQ(session.lastStop().reason, StopReason::StepDone);

  // Over anything else it is one step.
  session.stepOver();
  EXPECT_EQ(runToStop(), 1u);
  session.stepInto();
  EXPECT_EQ(runToStop(), 1u);
  EXPECT_FALSE(session.armed() && !session.recording());
}

TEST_F(Session, InterruptEntryBreaksByLevel) {
  session.addInterruptBreak(3);
  std::string error;
  EXPECT_EQ(session.addInterruptBreak(5, &error), 0);
  session.resume();
  m.cpu.IE = 0xFF;
  requestInterrupt(m, 0x01);  // level 0: no break
  cycles += step(m);
  ASSERT_NE(m.cpu.inService & 0x01, 0) << "the test needs the entry to happen";
  EXPECT_FALSE(session.stepped(m, cycles));
  requestInterrupt(m, 0x08);
  cycles += step(m);
  ASSERT_NE(m.cpu.inService & 0x08, 0);
  EXPECT_TRUE(session.stepped(m, cycles));
  EXPECT_EQ(session.lastStop().reason, StopReason::Interrupt);
}

TEST_F(Session, TraceLinesAndSizeLimit) {
  const std::string path = testing::TempDir() + "tarvo_trace_test.txt";
  ASSERT_TRUE(session.openTrace(path, 400));
  session.stepInto();
  for (int i = 0; i < 20; ++i) {
    session.resume();
    cycles += step(m);
    session.stepped(m, cycles);
  }
  session.closeTrace();
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  const std::string t = text.str();
  EXPECT_LE(t.size(), 400u);
  std::istringstream lines(t);
  std::string first, last;
  std::getline(lines, first);
  EXPECT_EQ(first, "          20 18000: D7 00 00 FF pre   ss,STACK             SS=FF00");
  for (std::string line; std::getline(lines, line);) last = line;
  EXPECT_EQ(last, "trace size limit reached");
  std::string error;
  EXPECT_FALSE(session.openTrace("/nonexistent/dir/t.txt", 100, &error));
  EXPECT_FALSE(error.empty());
  std::remove(path.c_str());
}

// Through the run tick: the observer is asked after every step and the tick
// stops before the breakpoint's instruction.
TEST_F(Session, RunTickStopsAtABreakpoint) {
  struct Quiet : Messages {
    void loadFailed(const std::string&) override {}
    void saveFailed(const std::string&) override {}
  } quiet;
  RunLoop loop(m, quiet, testing::TempDir());
  setClock(m, 910000);
  int shown = 0;
  loop.showDebugger = [&] { ++shown; };
  loop.run.observer = &session;
  session.addBreakpoint(label("small"));
  session.resume();
  for (int t = 0; t < 10 && shown == 0; ++t) loop.runTick();
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(loop.run.stopFlag, 1);
  EXPECT_EQ(DebugSession::fetchAddress(m.cpu), label("small"));
  EXPECT_EQ(session.lastStop().reason, StopReason::Breakpoint);
}

}  // namespace
}  // namespace tarvo
