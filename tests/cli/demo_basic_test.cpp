// BASIC of the demo firmware end to end: programs typed into tarvo-run on
// the generated machine (its character map types " < > @), the screen read
// back as characters, the machine kept across runs through its saved RAM.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "demo_machine.h"
#include "tools/xasm.h"

namespace tarvo::demo {
namespace {

using Lines = std::vector<std::string>;

class DemoBasic : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!templateHas("rom1.bin") || !templateHas("charmap.txt"))
      GTEST_FAIL() << "the build made no demo machine in " << templateDir();
  }

  // The four LCD lines after typing text and then `after` more run ticks.
  Lines run(const std::string& text, int after = 300, std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"--ticks", std::to_string(100 + 10 * keyCount(text) + after),
                                     "--lcd-chars"};
    if (!text.empty()) {
      args.push_back("--type");
      args.push_back(text);
    }
    args.insert(args.end(), more.begin(), more.end());
    const RunResult r = runTool(dir.path(), args);
    EXPECT_EQ(r.status, 0);
    return r.lines;
  }

  // A program typed line by line (each with EXE), kept in RAM.
  void enter(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& l : lines) text += l + "{ENTER}";
    run(text, 50, {"--save"});
  }

  MachineDir dir;
};

// Random expressions of + - * / MOD, unary minus and parentheses, worked
// out here with the same rules: the usual precedence, left to right within
// a level, division truncating towards zero, MOD taking the sign of the
// dividend.
struct Expr {
  std::string text;
  int64_t value;
};

class ExprMaker {
 public:
  explicit ExprMaker(uint32_t seed) : rng_(seed) {}

  Expr sum(int depth) {
    Expr e = product(depth);
    for (int n = pick(3); n > 0; --n) {
      const Expr r = product(depth);
      if (pick(2)) {
        e = {e.text + "+" + r.text, e.value + r.value};
      } else {
        e = {e.text + "-" + r.text, e.value - r.value};
      }
    }
    return e;
  }

 private:
  Expr product(int depth) {
    Expr e = factor(depth);
    for (int n = pick(3); n > 0; --n) {
      Expr r = factor(depth);
      switch (pick(3)) {
        case 0:
          e = {e.text + "*" + r.text, e.value * r.value};
          break;
        case 1:
          if (r.value == 0) r = {"7", 7};
          e = {e.text + "/" + r.text, e.value / r.value};
          break;
        default:
          if (r.value == 0) r = {"3", 3};
          e = {e.text + " MOD " + r.text, e.value % r.value};
          break;
      }
    }
    return e;
  }

  Expr factor(int depth) {
    const int kind = depth > 0 ? pick(4) : pick(2);
    if (kind == 0) {
      const int64_t v = pick(100);
      return {std::to_string(v), v};
    }
    if (kind == 1) {
      const Expr f = factor(depth);
      return {"-" + f.text, -f.value};
    }
    const Expr inner = sum(depth - 1);
    return {"(" + inner.text + ")", inner.value};
  }

  int pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }
  std::mt19937 rng_;
};

TEST_F(DemoBasic, WorksOutExpressionsLikeAReferenceComputedHere) {
  std::vector<Expr> cases = {
      {"2+3*4", 14}, {"(2+3)*4", 20},  {"10-2-3", 5},    {"100/7/2", 7},       {"-7/2", -3},
      {"7/-2", -3},  {"-7 MOD 3", -1}, {"7 MOD -3", 1},  {"--5", 5},           {"2*-3", -6},
      {"0-5+5", 0},  {"1+2*3-4/2", 5}, {"3<4", 1},       {"3>4", 0},           {"4<=4", 1},
      {"5>=6", 0},   {"3<>3", 0},      {"2=2", 1},       {"1+1=2 AND 3<2", 0}, {"1 OR 0 AND 0", 1},
      {"NOT 0", 1},  {"NOT 5", 0},     {"ABS(-12)", 12}, {"2*3=6 OR 0", 1},
  };
  ExprMaker maker(19);
  while (cases.size() < 60) {
    Expr e = maker.sum(2);
    if (e.text.size() <= 35 && e.value > -1000000000000000 && e.value < 1000000000000000)
      cases.push_back(std::move(e));
  }
  // Two a run: each printed on a row of its own below a cleared screen.
  for (std::size_t i = 0; i < cases.size(); i += 2) {
    std::string text = "CLS";
    for (std::size_t k = i; k < i + 2; ++k) text += ":PRINT " + cases[k].text;
    MachineDir fresh;
    const std::string ticks = std::to_string(100 + 10 * keyCount(text + "{ENTER}") + 100);
    const RunResult r =
        runTool(fresh.path(), {"--ticks", ticks, "--lcd-chars", "--type", text + "{ENTER}"});
    ASSERT_EQ(r.lines.size(), 4u);
    for (std::size_t k = 0; k < 2; ++k)
      EXPECT_EQ(r.lines[k], std::to_string(cases[i + k].value)) << cases[i + k].text;
    EXPECT_EQ(r.lines[2], ">_");
  }
}

TEST_F(DemoBasic, KeepsSixteenDigits) {
  EXPECT_EQ(run("CLS:PRINT 9999999999999999:PRINT -9999999999999999+1{ENTER}"),
            (Lines{"9999999999999999", "-9999999999999998", ">_", ""}));
  // A bare expression shows E beyond 16 digits; a statement reports it.
  EXPECT_EQ(run("CLS{ENTER}9999999999999999+1{ENTER}A=99999999*999999999{ENTER}"),
            (Lines{std::string(31, ' ') + "E", ">A=99999999*999999999", "?OVERFLOW ERROR", ">_"}));
}

TEST_F(DemoBasic, RunsLoopsSubroutinesAndConditions) {
  enter({"10 FOR I=10 TO 1 STEP -3", "20 GOSUB 100", "30 NEXT I", "40 IF I<0 THEN PRINT \"LOW\"",
         "50 IF I>0 THEN 70", "60 END", "70 PRINT \"AT\";I,\"N\";N", "80 END",
         "100 N=N+1:PRINT I;:IF I>4 THEN PRINT \",\";", "110 RETURN"});
  EXPECT_EQ(run("CLS:RUN{ENTER}", 300), (Lines{"10,7,41LOW", ">_", "", ""}));
  // Nested loops: the inner one starts again for every outer pass.
  MachineDir other;
  const RunResult r =
      runTool(other.path(),
              {"--ticks", "900", "--lcd-chars", "--type",
               "CLS:FOR I=1 TO 3:FOR J=1 TO I:PRINT J;:NEXT J:PRINT \"|\";:NEXT:PRINT{ENTER}"});
  EXPECT_EQ(r.lines, (Lines{"1|12|123|", ">_", "", ""}));
}

TEST_F(DemoBasic, PrintsStringsInColumnsAndKeepsTheRowAfterASeparator) {
  EXPECT_EQ(run("CLS:PRINT \"A\",\"BC\";\"D\",5:PRINT 1;:PRINT 2,:PRINT 3{ENTER}"),
            (Lines{"A       BCD     5", "12      3", ">_", ""}));
}

TEST_F(DemoBasic, EditsTheLineAtAMovableCursorAcrossRows) {
  // Two to the left, INS opens a space at the cursor, 1 goes in before it
  // and DEL takes the space away again: 21*3.
  EXPECT_EQ(run("CLS{ENTER}2*3{LEFT}{LEFT}{INS}1{DEL}{ENTER}"),
            (Lines{">21*3", std::string(30, ' ') + "63", ">_", ""}));
  // A line over two rows: the cursor moves back over the row boundary, BS
  // deletes there, the cursor goes no further right than the line's end.
  EXPECT_EQ(run("CLS{ENTER}1+2+3+4+5+6+7+8+9+10+11+12+13+14{LEFT}{LEFT}{LEFT}{LEFT}{LEFT}{BS}"
                "{LEFT}{RIGHT}{RIGHT}{RIGHT}{RIGHT}{RIGHT}{RIGHT}0{ENTER}"),
            (Lines{">1+2+3+4+5+6+7+8+9+10+11+1213+1", "40", std::string(28, ' ') + "1419", ">_"}));
}

TEST_F(DemoBasic, SumsAThousandNumbersWithinTenEmulatedSeconds) {
  enter({"10 FOR I=1 TO 1000:A=A+I:NEXT I", "20 PRINT A"});
  // RUN's EXE goes down 40 ticks after typing starts; 1000 ticks are 10 s.
  EXPECT_EQ(run("CLS:RUN{ENTER}", 1000 - 40), (Lines{"500500", ">_", "", ""}));
}

// Each letter its own variable, whether assigned with or without LET, read
// in an expression or stepped by FOR and NEXT: letter k holds 2^k, so any
// two letters sharing bytes would change the sums.
TEST_F(DemoBasic, EveryLetterIsItsOwnVariableOnEveryPath) {
  std::vector<std::string> lines;
  std::string line;
  int64_t power = 1;
  for (char c = 'A'; c <= 'Z'; ++c, power *= 2) {
    line += (line.empty() ? std::to_string(10 + lines.size()) + " " : ":") +
            std::string(c % 2 ? "" : "LET ") + c + "=" + std::to_string(power);
    if (line.size() > 50) {
      lines.push_back(line);
      line.clear();
    }
  }
  lines.push_back(line);
  lines.push_back("50 FOR Q=Q TO Q+1:FOR Z=Z TO Z:NEXT Z:NEXT Q:Z=Z-2");
  lines.push_back("60 PRINT A+B+C+D+E+F+G+H+I+J+K+L+M");
  lines.push_back("70 PRINT N+O+P+Q-2+R+S+T+U+V+W+X+Y+Z");
  enter(lines);
  EXPECT_EQ(run("CLS:RUN{ENTER}"), (Lines{std::to_string((1 << 13) - 1),
                                          std::to_string((1 << 26) - (1 << 13)), ">_", ""}));
}

TEST_F(DemoBasic, StoresReplacesDeletesAndListsLinesInOrder) {
  enter({"30 PRINT 3", "10 PRINT 1", "20 PRINT 0", "20 PRINT 2:REM TWO", "40 PRINT 4", "40",
         "5 IF A<>1 THEN A=ABS(-1)"});
  EXPECT_EQ(run("CLS:LIST 10-30{ENTER}"),
            (Lines{"10 PRINT 1", "20 PRINT 2:REM TWO", "30 PRINT 3", ">_"}));
  EXPECT_EQ(run("CLS:LIST 5{ENTER}"), (Lines{"5 IF A<>1 THEN A=ABS(-1)", ">_", "", ""}));
  EXPECT_EQ(run("CLS:RUN{ENTER}"), (Lines{"1", "2", "3", ">_"}));
  // NEW leaves nothing to list or run.
  EXPECT_EQ(run("NEW{ENTER}CLS:LIST:RUN{ENTER}"), (Lines{">_", "", "", ""}));
}

TEST_F(DemoBasic, ReportsEveryErrorWithItsLineAndKeepsProgramAndVariables) {
  struct Case {
    std::vector<std::string> program;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"10 A=7:PRINT 1+"}, "?SYNTAX ERROR IN 10"},
      {{"10 A=7:B=2/(A-7)"}, "?DIVISION BY ZERO ERROR IN 10"},
      {{"10 A=7:RETURN"}, "?RETURN W/O GOSUB ERROR IN 10"},
      {{"10 A=7:NEXT"}, "?NEXT WITHOUT FOR ERROR IN 10"},
      {{"10 A=7", "20 GOSUB 20"}, "?NESTING TOO DEEP ERROR IN 20"},
      {{"10 A=7:GOTO 99"}, "?UNDEFINED LINE ERROR IN 10"},
      {{"10 A=7:B=9999999999999999*10"}, "?OVERFLOW ERROR IN 10"},
      {{"10 A=7:@(-1)=0"}, "?BAD SUBSCRIPT ERROR IN 10"},
      {{"10 A=7:POKE 1,256"}, "?ILLEGAL VALUE ERROR IN 10"},
  };
  for (const Case& c : cases) {
    MachineDir fresh;
    std::string text;
    for (const std::string& l : c.program) text += l + "{ENTER}";
    text += "CLS:RUN{ENTER}";
    std::string ticks = std::to_string(100 + 10 * keyCount(text) + 200);
    RunResult r =
        runTool(fresh.path(), {"--ticks", ticks, "--lcd-chars", "--type", text, "--save"});
    EXPECT_EQ(r.lines, (Lines{c.message, ">_", "", ""}));
    text = "CLS:PRINT A:LIST 10{ENTER}";
    ticks = std::to_string(100 + 10 * keyCount(text) + 200);
    r = runTool(fresh.path(), {"--ticks", ticks, "--lcd-chars", "--type", text});
    EXPECT_EQ(r.lines, (Lines{"7", c.program[0], ">_", ""})) << "program and variables stay";
  }
  // Typed without a line number: the message alone.
  EXPECT_EQ(run("CLS:CONT{ENTER}"), (Lines{"?CAN'T CONTINUE ERROR", ">_", "", ""}));
  EXPECT_EQ(run("CLS:PRINT " + std::string(79, '(') + "1{ENTER}"),
            (Lines{"?NESTING TOO DEEP ERROR", ">_", "", ""}));
}

TEST_F(DemoBasic, ReportsAFullMemory) {
  run("", 0, {"--save"});  // the machine's RAM, with an empty program
  // The end of the program moved up to just below the top of memory: no
  // further line fits.
  const Lines full = run("10 PRINT{ENTER}", 300, {"--poke", "141C2=FADF"});
  EXPECT_EQ(full[2], "?OUT OF MEMORY ERROR");
  EXPECT_EQ(full[3], ">_");
}

TEST_F(DemoBasic, ReplacingALineThatDoesNotFitKeepsTheOldOne) {
  enter({"2 PRINT 1", "3 PRINT 3"});
  // The end of the program moved up: 13 bytes are free. The old line 2
  // takes 6 bytes, the new one 20, which fits neither before nor after the
  // old one goes.
  const Lines full =
      run("2 PRINT \"TWO\":REM XXXXXXX{ENTER}", 300, {"--poke", "141C2=F0CB", "--save"});
  EXPECT_EQ(full[2], "?OUT OF MEMORY ERROR");
  EXPECT_EQ(run("CLS:LIST{ENTER}"), (Lines{"2 PRINT 1", "3 PRINT 3", ">_", ""}));
  // One byte shorter, it fits in the room the old line leaves.
  run("2 PRINT \"TWO\":REM XXXXXX{ENTER}", 300, {"--save"});
  EXPECT_EQ(run("CLS:LIST{ENTER}"), (Lines{"2 PRINT \"TWO\":REM XXXXXX", "3 PRINT 3", ">_", ""}));
}

TEST_F(DemoBasic, ArithmeticEndsOnAnyBytesAndTheArrayStartsAtZero) {
  // Whatever the bytes of A hold, dividing by it or into it comes back to
  // the prompt (with a value or an error, which CLS clears).
  std::mt19937 rng(27);
  std::vector<std::string> patterns = {"FFFFFFFFFFFFFFFFFF", "AAAAAAAAAAAAAAAA01",
                                       "0000000000000000F0", "9F9F9F9F9F9F9F9F00"};
  while (patterns.size() < 8) {
    std::string hex;
    for (int i = 0; i < 9; ++i) {
      char byte[3];
      std::snprintf(byte, sizeof byte, "%02X", static_cast<unsigned>(rng() & 0xFF));
      hex += byte;
    }
    patterns.push_back(hex);
  }
  for (const std::string& bytes : patterns) {
    MachineDir fresh;
    const std::string text =
        "B=A/3{ENTER}B=7/A{ENTER}B=A MOD 9{ENTER}B=A/A{ENTER}CLS:PRINT 1+1{ENTER}";
    const RunResult r = runTool(fresh.path(), {"--ticks", "2000", "--lcd-chars", "--type", text,
                                               "--poke", "14010=" + bytes});
    EXPECT_EQ(r.lines, (Lines{"2", ">_", "", ""})) << bytes;
  }
  // Elements never written read 0, also over bytes left in that memory.
  enter({"10 PRINT @(10)/3;@(20)+1;@(3)"});
  EXPECT_EQ(run("CLS:RUN{ENTER}", 300, {"--poke", "14540=" + std::string(384, 'F')}),
            (Lines{"010", ">_", "", ""}));
  // Written, an element keeps its value; RUN, a change of the program and
  // NEW start the array again at 0.
  EXPECT_EQ(run("CLS:@(3)=5:PRINT @(3){ENTER}RUN{ENTER}"), (Lines{"5", ">RUN", "010", ">_"}));
  EXPECT_EQ(run("CLS:@(3)=6{ENTER}20 REM{ENTER}PRINT @(3){ENTER}"),
            (Lines{">20 REM", ">PRINT @(3)", "0", ">_"}));
  EXPECT_EQ(run("CLS:@(3)=6{ENTER}NEW{ENTER}CLS:PRINT @(3){ENTER}"), (Lines{"0", ">_", "", ""}));
}

TEST_F(DemoBasic, BytesThatAreNoNumberReadAsZeroInVariablesAndElements) {
  // Random bytes poked into A and into a written element of @(): where a
  // digit is above 9 or the sign byte is neither 0 nor 1 the number reads
  // as 0 in every use; decimal bytes keep their value.
  enter({"@(2)=5"});
  const RunResult pend = runTool(dir.path(), {"--ticks", "1", "--peek", "141C2:2"});
  ASSERT_EQ(pend.lines.size(), 1u);
  unsigned lo = 0, hi = 0;
  ASSERT_EQ(std::sscanf(pend.lines[0].c_str(), "141C2: %x %x", &lo, &hi), 2);
  char element[8];
  std::snprintf(element, sizeof element, "1%04X", (hi << 8 | lo) + 2 + 2 * 9);
  std::mt19937 rng(2727);
  for (int round = 0; round < 12; ++round) {
    const bool decimal = round % 3 == 0;
    uint8_t bytes[9];
    long long value = 0;
    for (int i = 7; i >= 0; --i) {
      // Decimal values keep to 12 digits, so that A and A/3 fit a line.
      const unsigned d1 = i >= 6 ? 0 : rng() % 10, d0 = i >= 6 ? 0 : rng() % 10;
      bytes[i] = decimal ? static_cast<uint8_t>(d1 << 4 | d0) : static_cast<uint8_t>(rng());
      value = value * 100 + d1 * 10 + d0;
    }
    bytes[8] = decimal ? (value != 0 ? rng() % 2 : 0) : static_cast<uint8_t>(rng() % 4);
    bool number = true;
    for (int i = 0; i < 8; ++i) number &= (bytes[i] & 0x0F) <= 9 && bytes[i] >> 4 <= 9;
    number &= bytes[8] <= 1;
    if (!decimal && number) bytes[3] |= 0xC0;  // a digit above 9 somewhere
    const long long v = decimal ? (bytes[8] ? -value : value) : 0;
    std::string hex;
    for (uint8_t b : bytes) {
      char h[3];
      std::snprintf(h, sizeof h, "%02X", b);
      hex += h;
    }
    const Lines want = {std::to_string(v) + " " + std::to_string(v / 3), std::to_string(v + 1),
                        std::to_string(v * 2), ">_"};
    for (const auto& [name, addr] : {std::pair<std::string, std::string>{"A", "14010"},
                                     std::pair<std::string, std::string>{"@(2)", element}}) {
      const std::string& x = name;
      EXPECT_EQ(
          run("CLS:PRINT " + x + ";\" \";" + x + "/3:PRINT " + x + "+1:PRINT " + x + "*2{ENTER}",
              300, {"--poke", addr + "=" + hex}),
          want)
          << name << " holding " << hex;
    }
  }
}

TEST_F(DemoBasic, TypingWaitsWhileALongProgramLeavesNoRoomForKeys) {
  // The program runs for seconds while 48 keys are typed ahead of it: more
  // than the key queue holds, and longer than a key would be held for a
  // program that does not look at the keyboard.
  enter({"10 FOR I=1 TO 600:NEXT I"});
  const std::string sum = "123456789+11111111111+2222222222";
  const Lines lines = run("CLS:RUN{ENTER}PRINT " + sum + "{ENTER}", 800);
  EXPECT_EQ(lines, (Lines{(">PRINT " + sum).substr(0, 31), (">PRINT " + sum).substr(31),
                          std::to_string(123456789LL + 11111111111LL + 2222222222LL), ">_"}));
}

// Random string expressions with their values worked out here: LEFT$,
// RIGHT$, MID$, LEN, ASC, CHR$, STR$, VAL, + and the comparisons.
struct StrCase {
  std::string text;   // what PRINT gets
  std::string shown;  // what it shows
};

class StrMaker {
 public:
  explicit StrMaker(uint32_t seed) : rng_(seed) {}

  StrCase next(const std::string& a, const std::string& b) {
    const int n = pick(9);
    const int k = pick(9);
    switch (pick(11)) {
      case 0:
        return {"LEFT$(A$," + std::to_string(n) + ")", a.substr(0, n)};
      case 1:
        return {"RIGHT$(A$," + std::to_string(n) + ")",
                a.substr(a.size() - std::min<std::size_t>(n, a.size()))};
      case 2:
        return {"MID$(A$," + std::to_string(n + 1) + "," + std::to_string(k) + ")",
                n < static_cast<int>(a.size()) ? a.substr(n, k) : ""};
      case 3:
        return {"MID$(B$," + std::to_string(n + 1) + ")",
                n < static_cast<int>(b.size()) ? b.substr(n) : ""};
      case 4:
        return {"LEN(A$+B$)", std::to_string(a.size() + b.size())};
      case 5:
        return {"ASC(B$)", std::to_string(static_cast<int>(b[0]))};
      case 6:
        return {"CHR$(" + std::to_string(65 + n * 3) + ")+A$", std::string(1, 'A' + n * 3) + a};
      case 7: {
        const int v = static_cast<int>(rng_() % 20001) - 10000;
        return {"STR$(" + std::to_string(v) + ")+\"#\"", std::to_string(v) + "#"};
      }
      case 8:
        return {"VAL(\"" + std::to_string(n * 37) + "\"+A$)*2",
                std::to_string(2 * leadingNumber(std::to_string(n * 37) + a))};
      case 9:
        return {"A$<B$", a < b ? "1" : "0"};
      default:
        return {"A$+\"-\"+B$>=B$", a + "-" + b >= b ? "1" : "0"};
    }
  }

  std::string word() {
    static const char chars[] = "AB C12";
    std::string w;
    for (int n = pick(7); n > 0; --n) w += chars[pick(6)];
    return w;
  }

 private:
  static long leadingNumber(const std::string& s) {
    long v = 0;
    for (char c : s) {
      if (c < '0' || c > '9') break;
      v = v * 10 + (c - '0');
    }
    return v;
  }
  int pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }
  std::mt19937 rng_;
};

TEST_F(DemoBasic, WorksOutStringFunctionsLikeAReferenceComputedHere) {
  StrMaker maker(27);
  for (int round = 0; round < 24; ++round) {
    const std::string a = maker.word();
    std::string b = maker.word();
    if (b.empty()) b = "Z";  // ASC needs a character
    std::string text = "CLS:A$=\"" + a + "\":B$=\"" + b + "\"";
    std::vector<std::string> shown;
    for (int k = 0; k < 2; ++k) {
      const StrCase c = maker.next(a, b);
      text += ":PRINT \"|\";" + c.text + ";\"|\"";
      shown.push_back("|" + c.shown + "|");
    }
    MachineDir fresh;
    text += "{ENTER}";
    const RunResult r = runTool(
        fresh.path(), {"--ticks", ticksFor(keyCount(text), 100), "--lcd-chars", "--type", text});
    ASSERT_EQ(r.lines.size(), 4u);
    EXPECT_EQ((Lines{r.lines[0], r.lines[1]}), shown) << text;
    EXPECT_EQ(r.lines[2], ">_") << text;
  }
}

TEST_F(DemoBasic, RunsProgramsWithStringsAndReportsTheirErrors) {
  // A string built and taken apart in a loop: the word reversed, and the
  // positions of its vowels.
  const std::string word = "PROGRAMS";
  std::string reversed(word.rbegin(), word.rend()), vowels;
  for (std::size_t i = 0; i < word.size(); ++i)
    if (std::string("AEIOU").find(word[i]) != std::string::npos) vowels += std::to_string(i + 1);
  enter({"10 INPUT \"WORD\";W$", "20 R$=\"\":V$=\"\"", "30 FOR I=LEN(W$) TO 1 STEP -1",
         "40 C$=MID$(W$,I,1):R$=R$+C$",
         "50 IF C$=\"A\" OR C$=\"E\" OR C$=\"I\" OR C$=\"O\" OR "
         "C$=\"U\" THEN V$=STR$(I)+V$",
         "60 NEXT I:PRINT R$;\" \";V$"});
  EXPECT_EQ(run("CLS:RUN{ENTER}" + word + "{ENTER}", 600),
            (Lines{"WORD? " + word, reversed + " " + vowels, ">_", ""}));
  // A string where a number belongs, or the other way round; a string of
  // more than 80 characters.
  const struct {
    std::string line;
    std::string message;
  } cases[] = {
      {"20 A=B$", "?TYPE MISMATCH ERROR IN 20"},
      {"20 A$=5", "?TYPE MISMATCH ERROR IN 20"},
      {"20 PRINT LEN(7)", "?TYPE MISMATCH ERROR IN 20"},
      {"20 IF A$=1 THEN 20", "?TYPE MISMATCH ERROR IN 20"},
      {"20 A$=\"" + std::string(40, 'X') + "\":A$=A$+A$+\"!\"", "?STRING TOO LONG ERROR IN 20"}};
  for (const auto& c : cases) {
    MachineDir fresh;
    const std::string text = c.line + "{ENTER}CLS:RUN{ENTER}";
    const RunResult r = runTool(
        fresh.path(), {"--ticks", ticksFor(keyCount(text), 200), "--lcd-chars", "--type", text});
    EXPECT_EQ(r.lines, (Lines{c.message, ">_", "", ""})) << c.line;
  }
  // INKEY$ gives "" until a key comes, then the key.
  enter({"NEW", "10 N=0", "20 K$=INKEY$:N=N+1:IF K$=\"\" THEN 20", "30 PRINT K$;N>1"});
  EXPECT_EQ(run("CLS:RUN{ENTER}Q", 300, {"--type-pace"}), (Lines{"Q1", ">_", "", ""}));
}

TEST_F(DemoBasic, ClearsTheStringsOfRamAnOlderFirmwareLeft) {
  enter({"10 PRINT \"KEPT\";LEN(A$)"});
  // RAM of a firmware without strings: the string variables' memory holds
  // anything, and is set up at the next start; the program stays.
  EXPECT_EQ(run("CLS:RUN{ENTER}", 300,
                {"--poke", "1411C=00", "--poke", "1D000=" + std::string(256, '7')}),
            (Lines{"KEPT0", ">_", "", ""}));
  // A program reaching into that memory is cleared, and that is said.
  EXPECT_EQ(run("LIST{ENTER}", 300, {"--poke", "1411C=00", "--poke", "141C2=00CC"}),
            (Lines{">", "?OUT OF MEMORY ERROR", ">LIST", ">_"}));
}

TEST_F(DemoBasic, RunsDataOnGosubAndElseLikeAReferenceComputedHere) {
  // Codes read from DATA pick a subroutine with ON ... GOSUB (0 and 4 pick
  // none); one of them decides with IF ... ELSE. Worked out here the same.
  std::mt19937 rng(5);
  for (int round = 0; round < 3; ++round) {
    std::vector<int> codes;
    for (int i = 0; i < 14; ++i) codes.push_back(static_cast<int>(rng() % 5));
    long sum = 0;
    for (int k : codes) {
      if (k == 1) sum += 1;
      if (k == 2) sum += 10;
      if (k == 3) sum = sum > 20 ? sum * 2 : sum - 1;
    }
    std::string data1 = "500 DATA ", data2 = "510 DATA ";
    for (std::size_t i = 0; i < codes.size(); ++i)
      (i < 8 ? data1 : data2) +=
          std::to_string(codes[i]) + (i == 7 || i + 1 == codes.size() ? "" : ",");
    MachineDir fresh;
    std::string text;
    for (const std::string& l :
         {std::string("10 S=0:N=0"), std::string("20 READ K:IF K<0 THEN 60"),
          std::string("30 ON K GOSUB 100,200,300"), std::string("40 N=N+1:GOTO 20"),
          std::string("60 READ W$:?S;\" \";N;\" \";W$:RESTORE:READ K:?K:END"),
          std::string("100 S=S+1:RETURN"), std::string("200 S=S+10:RETURN"),
          std::string("300 IF S>20 THEN S=S*2 ELSE S=S-1"), std::string("310 RETURN"), data1,
          data2 + ",-1,\"ALL DONE\""})
      text += l + "{ENTER}";
    text += "CLS:RUN{ENTER}";
    const RunResult r = runTool(
        fresh.path(), {"--ticks", ticksFor(keyCount(text), 400), "--lcd-chars", "--type", text});
    EXPECT_EQ(r.lines,
              (Lines{std::to_string(sum) + " " + std::to_string(codes.size()) + " ALL DONE",
                     std::to_string(codes[0]), ">_", ""}))
        << data1 << " " << data2;
  }
  // ON beyond its list goes on; ON GOTO jumps; ELSE with a line number;
  // ? is PRINT; TAB moves to a column; READ past the last DATA.
  enter({"10 ON 3 GOTO 40,50:ON 2 GOTO 40,50", "40 ?\"FORTY\"", "50 IF 0 THEN 40 ELSE 70",
         "60 ?\"SIXTY\"", "70 ?TAB(4);\"T\";TAB(2);\"U\";TAB(9);7:READ A", "80 DATA 1"});
  EXPECT_EQ(run("CLS:RUN{ENTER}READ B{ENTER}"),
            (Lines{"    TU   7", ">READ B", "?OUT OF DATA ERROR", ">_"}));
  EXPECT_EQ(run("CLS:LIST 10-40{ENTER}"),
            (Lines{"10 ON 3 GOTO 40,50:ON 2 GOTO 40,", "50", "40 PRINT \"FORTY\"", ">_"}));
}

TEST_F(DemoBasic, KeepsTwoDimensionalAndStringArraysOfDim) {
  // Pascal's triangle in a two-dimensional array, read back along a row;
  // names in a string array read from DATA, joined backwards. Worked out
  // here the same way.
  const int n = 9;
  std::vector<std::vector<long>> p(n + 1, std::vector<long>(n + 1, 0));
  for (int i = 0; i <= n; ++i)
    for (int j = 0; j <= i; ++j) p[i][j] = j == 0 || j == i ? 1 : p[i - 1][j - 1] + p[i - 1][j];
  std::string row;
  for (int j = 0; j <= n; j += 3) row += std::to_string(p[n][j]) + " ";
  const std::vector<std::string> names = {"ADA", "BO", "CY", "DEE"};
  std::string joined;
  for (auto it = names.rbegin(); it != names.rend(); ++it) joined += *it;
  enter({"10 DIM P(9,9),N$(3)", "20 FOR I=0 TO 9:P(I,0)=1:P(I,I)=1:NEXT I",
         "30 FOR I=2 TO 9:FOR J=1 TO I-1:P(I,J)=P(I-1,J-1)+P(I-1,J):NEXT J:NEXT I",
         "40 FOR J=0 TO 9 STEP 3:?P(9,J);\" \";:NEXT J:?", "50 FOR I=0 TO 3:READ N$(I):NEXT I",
         "60 A$=\"\":FOR I=3 TO 0 STEP -1:A$=A$+N$(I):NEXT I:?A$;LEN(N$(1))",
         "70 DATA \"ADA\",\"BO\",CY,DEE"});
  EXPECT_EQ(run("CLS:RUN{ENTER}", 2500),
            (Lines{row.substr(0, row.size() - 1), joined + "2", ">_", ""}));
  // INPUT into an element of a string array and into a string variable.
  enter({"NEW", "10 DIM N$(2):INPUT N$(1),A$:?N$(1);\"/\";A$"});
  EXPECT_EQ(run("CLS:RUN{ENTER}X, Y{ENTER}ZZ{ENTER}"), (Lines{"? X, Y", "? ZZ", "X, Y/ZZ", ">_"}));
  // A subscript beyond the size, one too many, an array not dimensioned,
  // one dimensioned twice.
  const struct {
    std::string line;
    std::string message;
  } cases[] = {{"20 DIM A(3):A(4)=1", "?BAD SUBSCRIPT ERROR IN 20"},
               {"20 DIM A(3):PRINT A(1,1)", "?BAD SUBSCRIPT ERROR IN 20"},
               {"20 B$(1)=\"X\"", "?BAD SUBSCRIPT ERROR IN 20"},
               {"20 DIM A(3):DIM A(4)", "?ILLEGAL VALUE ERROR IN 20"},
               {"20 DIM A$(200,200)", "?OUT OF MEMORY ERROR IN 20"}};
  for (const auto& c : cases) {
    MachineDir fresh;
    const std::string text = c.line + "{ENTER}CLS:RUN{ENTER}";
    const RunResult r = runTool(
        fresh.path(), {"--ticks", ticksFor(keyCount(text), 200), "--lcd-chars", "--type", text});
    EXPECT_EQ(r.lines, (Lines{c.message, ">_", "", ""})) << c.line;
  }
}

TEST_F(DemoBasic, AutoOffersTheNextLineNumberUntilEnterOnItAlone) {
  // From 100 in steps of 5; a number typed over the offered one goes on
  // from there; EXE on the offered number alone ends AUTO and keeps that
  // line (here an existing one) as it was.
  enter({"112 REM KEPT", "AUTO 100,5", "PRINT 1", "PRINT 2", "{BS}{BS}{BS}{BS}107 PRINT 3", "",
         "PRINT 4"});
  EXPECT_EQ(run("CLS:LIST 100-107{ENTER}"),
            (Lines{"100 PRINT 1", "105 PRINT 2", "107 PRINT 3", ">_"}));
  EXPECT_EQ(run("CLS:LIST 112{ENTER}"), (Lines{"112 REM KEPT", ">_", "", ""}));
  EXPECT_EQ(run("CLS:RUN{ENTER}"), (Lines{"1", "2", "3", ">_"}));
}

TEST_F(DemoBasic, InputReadsTypedNumbersAndAsksAgainForAnythingElse) {
  enter({"10 INPUT \"HOW MANY\";N,M", "20 PRINT N*M"});
  EXPECT_EQ(run("CLS:RUN{ENTER}12{ENTER}X{ENTER}"), (Lines{"HOW MANY? 12", "? X", "?REDO", "? _"}));
  EXPECT_EQ(run("CLS:RUN{ENTER}12{ENTER}-3{ENTER}"), (Lines{"HOW MANY? 12", "? -3", "-36", ">_"}));
}

TEST_F(DemoBasic, BrkStopsTheProgramAndContGoesOn) {
  enter({"10 A=A+1:GOTO 10"});
  // BRK comes a tenth of a second after RUN: typed at the fixed pace.
  const Lines stopped = run("CLS:RUN{ENTER}{ESC}PRINT A>2{ENTER}", 100, {"--save", "--type-pace"});
  EXPECT_EQ(stopped, (Lines{"BREAK IN 10", ">PRINT A>2", "1", ">_"}));
  // CONT goes on counting from where it stopped: A grows past where RUN
  // takes it in the same time (about 13 rounds in the tenth of a second
  // between two typed keys).
  EXPECT_EQ(run("CLS:CONT{ENTER}{ESC}PRINT A>15{ENTER}", 100, {"--type-pace"}),
            (Lines{"BREAK IN 10", ">PRINT A>15", "1", ">_"}));
  // BRK while INPUT waits stops there too, and CONT asks again.
  enter({"10 INPUT A", "20 PRINT A*2"});
  EXPECT_EQ(run("CLS:RUN{ENTER}{ESC}CONT{ENTER}21{ENTER}", 300, {"--type-pace"}),
            (Lines{">CONT", "? 21", "42", ">_"}));
}

TEST_F(DemoBasic, KeepsProgramAndVariablesAcrossPowerOffAndRestart) {
  enter({"10 PRINT \"X=\";X", "X=41:X=X+1"});
  // A new emulator on the saved RAM: the same program and variables.
  EXPECT_EQ(run("CLS:PRINT X:LIST{ENTER}"), (Lines{"42", "10 PRINT \"X=\";X", ">_", ""}));
  // RUN starts with cleared variables.
  EXPECT_EQ(run("CLS:RUN{ENTER}"), (Lines{"X=0", ">_", "", ""}));
}

TEST_F(DemoBasic, CallsAMachineCodeRoutinePokedIntoMemory) {
  // The routine comes from the cross-assembler: it stores 123 at &HE100.
  const std::string source = "ldw $0,&HE100\nld $2,123\nst $2,($0)\nrtn\n";
  XasmOptions options;
  options.base = 0;
  const XasmOutput out = assembleProgram(
      "routine.s", options, [&](const std::string&) { return std::optional<std::string>(source); });
  ASSERT_TRUE(out.ok());
  std::vector<std::string> lines;
  std::string line;
  int number = 10;
  for (std::size_t i = 0; i < out.image.size(); ++i) {
    line += (line.empty() ? std::to_string(number) + " " : ":") + "POKE " +
            std::to_string(57344 + i) + "," + std::to_string(out.image[i]);
    if (line.size() > 40) {
      lines.push_back(line);
      line.clear();
      number += 10;
    }
  }
  if (!line.empty()) lines.push_back(line);
  lines.push_back(std::to_string(number + 10) + " CALL 57344:PRINT PEEK(57600)");
  enter(lines);
  EXPECT_EQ(run("CLS:RUN{ENTER}"), (Lines{"123", ">_", "", ""}));
}

TEST_F(DemoBasic, ArrayAndRandomNumbersStayInTheirRange) {
  enter({"10 FOR I=0 TO 99:@(I)=RND(6):NEXT", "20 L=7:H=0:FOR I=0 TO 99:X=@(I)",
         "30 IF X<L THEN L=X", "40 IF X>H THEN H=X", "50 NEXT:PRINT L;H"});
  EXPECT_EQ(run("CLS:RUN{ENTER}", 1500), (Lines{"16", ">_", "", ""}));
}

TEST_F(DemoBasic, TypesNoShiftedCharacterWithoutTheCharacterMap) {
  std::filesystem::remove(dir.path() / "charmap.txt");
  EXPECT_EQ(run("CLS:PRINT \"1<2>\"{ENTER}"), (Lines{"12", ">_", "", ""}));
}

}  // namespace
}  // namespace tarvo::demo
