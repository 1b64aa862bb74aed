// tarvo-basic end to end: a program loaded from text into one machine
// directory is, byte for byte, the program typing the same text into
// another makes; list gives it back as the machine's LIST shows it, and the
// machine runs it.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "demo_machine.h"

namespace tarvo::demo {
namespace {

using Lines = std::vector<std::string>;

constexpr std::size_t kPend = 0x41C2;  // BASIC's pointer to the program's end mark
constexpr std::size_t kProgram = 0x4500;

struct Output {
  int status = -1;
  std::string out;
};

Output basicTool(const std::vector<std::string>& args) {
  std::string cmd = shellQuote(std::string(TARVO_BIN_DIR) + "/tarvo-basic");
  for (const std::string& a : args) cmd += " " + shellQuote(a);
  cmd += " 2>&1";
  Output r;
  FILE* pipe = ::popen(cmd.c_str(), "r");
  if (!pipe) return r;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) r.out.append(buf, n);
  const int status = ::pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::vector<uint8_t> readBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The program area of a machine directory's RAM, its end mark included.
std::vector<uint8_t> programArea(const fs::path& dir) {
  const std::vector<uint8_t> ram = readBytes(dir / "ram0.bin");
  if (ram.size() < 0x10000) return {};
  const std::size_t end = ram[kPend] | ram[kPend + 1] << 8;
  if (end < kProgram || end + 2 > ram.size()) return {};
  return {ram.begin() + kProgram, ram.begin() + static_cast<std::ptrdiff_t>(end) + 2};
}

// Typed into a fresh machine that keeps its RAM.
void typeInto(const fs::path& dir, const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) text += l + "{ENTER}";
  std::vector<std::string> args = {"--ticks", ticksFor(keyCount(text), 300), "--save"};
  if (!text.empty()) args.insert(args.end(), {"--type", text});
  ASSERT_EQ(runTool(dir, args).status, 0);
}

fs::path writeText(const fs::path& dir, const std::vector<std::string>& lines) {
  const fs::path file = dir / "program.bas";
  std::ofstream out(file);
  for (const std::string& l : lines) out << l << '\n';
  return file;
}

// The example programs of the BASIC guide: its indented blocks of
// numbered lines.
std::vector<std::vector<std::string>> guideExamples() {
  std::ifstream in(std::string(TARVO_SOURCE_DIR) + "/docs/basic.md");
  std::vector<std::vector<std::string>> programs;
  std::vector<std::string> block;
  for (std::string line; std::getline(in, line);) {
    const bool numbered = line.size() > 5 && line.compare(0, 4, "    ") == 0 &&
                          std::isdigit(static_cast<unsigned char>(line[4]));
    if (numbered) {
      block.push_back(line.substr(4));
    } else if (!block.empty()) {
      programs.push_back(block);
      block.clear();
    }
  }
  if (!block.empty()) programs.push_back(block);
  return programs;
}

// Random program lines: statements, keywords written with and without
// spaces, lower-case letters, strings and remarks.
class ProgramMaker {
 public:
  explicit ProgramMaker(uint32_t seed) : rng_(seed) {}

  std::vector<std::string> program(int lines) {
    std::vector<std::string> out;
    int number = 0;
    for (int i = 0; i < lines; ++i) {
      number += 1 + pick(30);
      std::string line;
      do {  // short enough to type (the line editor takes 90 characters)
        line = std::to_string(number) + gap();
        for (int n = pick(3); n >= 0; --n) {
          line += statement();
          if (n > 0) line += gap() + ":" + gap();
        }
      } while (line.size() > 80);
      out.push_back(line);
    }
    // A line typed again replaces the first.
    out.push_back(out.front().substr(0, out.front().find_first_not_of("0123456789")) + " " +
                  statement());
    return out;
  }

 private:
  std::string statement() {
    switch (pick(13)) {
      case 0:
        return (pick(3) ? word("PRINT") : "?") + gap() + expr() + gap() + (pick(2) ? ";" : ",") +
               gap() + str();
      case 9:
        return word("ON") + gap() + expr() + gap() + word("GOSUB") + "10," + gap() + "20";
      case 10:
        return word("DATA") + gap() + "1," + gap() + "\"A B\"," + var();
      case 11:
        return word("IF") + gap() + var() + "$=" + str() + word("THEN") + gap() + var() + "=1" +
               gap() + word("ELSE") + gap() + std::to_string(pick(99));
      case 12:
        return var() + "$=" + word("LEFT$") + "(" + var() + "$," + expr() + ")+" + word("CHR$") +
               "(65)";
      case 1:
        return var() + gap() + "=" + gap() + expr();
      case 2:
        return word("IF") + gap() + expr() + gap() + "<>" + gap() + expr() + gap() + word("THEN") +
               gap() + std::to_string(1 + pick(999));
      case 3:
        return word("FOR") + gap() + var() + "=" + expr() + word("TO") + expr() +
               (pick(2) ? word("STEP") + "-" + std::to_string(pick(9)) : "");
      case 4:
        return word("NEXT") + (pick(2) ? gap() + var() : "");
      case 5:
        return word("GOSUB") + gap() + std::to_string(1 + pick(9999));
      case 6:
        return word("POKE") + gap() + "57344," + expr();
      case 7:
        return "@(" + expr() + ")=" + word("RND") + "(6)";
      default:
        return word("REM") + (pick(2) ? " " : "") + "SOME TEXT AND 12";
    }
  }
  std::string expr() {
    std::string e = pick(3) ? var() : std::to_string(pick(1000));
    for (int n = pick(3); n > 0; --n) {
      static const char* ops[] = {"+", "-", "*", "/", " MOD ", " AND ", " OR ", "="};
      e += gap() + ops[pick(8)] + gap() + (pick(2) ? var() : word("ABS") + "(-" + var() + ")");
    }
    return e;
  }
  std::string str() {
    static const char* texts[] = {"\"HI THERE\"", "\"PRINT TO\"", "\"a<b>c\"", "\"\"", "\"X"};
    return texts[pick(4)];
  }
  std::string var() {
    const char c = static_cast<char>('A' + pick(26));
    return std::string(1, pick(4) ? c : static_cast<char>(c - 'A' + 'a'));
  }
  std::string word(const std::string& w) {
    if (pick(5)) return w;
    std::string lower;
    for (char c : w) lower += static_cast<char>(c - 'A' + 'a');
    return lower;
  }
  std::string gap() { return pick(3) ? "" : " "; }
  int pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }
  std::mt19937 rng_;
};

class BasicTool : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!templateHas("rom1.bin") || !templateHas("charmap.txt"))
      GTEST_FAIL() << "the build made no demo machine in " << templateDir();
  }

  // Loads the text into one machine and types it into another: the two
  // program areas must be the same bytes, and list must print what LIST
  // shows. Returns the listing.
  std::string sameAsTyped(const std::vector<std::string>& lines) {
    MachineDir loaded, typed;
    typeInto(typed.path(), lines);
    typeInto(loaded.path(), {"10 PRINT \"OLD\"", "20 END"});  // replaced whole
    const fs::path file = writeText(loaded.path(), lines);
    const Output check = basicTool({"check", file.string()});
    EXPECT_EQ(check.status, 0) << check.out;
    const Output load = basicTool({"load", loaded.path().string(), file.string()});
    EXPECT_EQ(load.status, 0) << load.out;
    const std::vector<uint8_t> area = programArea(loaded.path());
    EXPECT_FALSE(area.empty());
    EXPECT_EQ(area, programArea(typed.path()));
    const Output listed = basicTool({"list", loaded.path().string()});
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out, basicTool({"list", typed.path().string()}).out);
    // The machine's own LIST of the loaded program, line by line.
    std::istringstream in(listed.out);
    int shown = 0;
    for (std::string line; std::getline(in, line) && shown < 2;) {
      if (line.size() > 90 || line.find('>') != std::string::npos) continue;
      ++shown;
      const std::string number = line.substr(0, line.find(' '));
      const std::string text = "CLS:LIST " + number + "{ENTER}";
      const RunResult r = runTool(
          loaded.path(), {"--ticks", ticksFor(keyCount(text), 200), "--lcd-chars", "--type", text});
      std::string screen;  // rows of 32 whose trailing blanks the reader drops
      for (const std::string& row : r.lines) {
        if (row.rfind(">", 0) == 0) break;
        screen.resize((screen.size() + 31) / 32 * 32, ' ');
        screen += row;
      }
      EXPECT_EQ(screen, line);
    }
    return listed.out;
  }
};

TEST_F(BasicTool, LoadsTheGuideExamplesAsTypingDoesAndTheMachineRunsThem) {
  const auto programs = guideExamples();
  ASSERT_GE(programs.size(), 4u);
  for (const auto& p : programs) {
    std::string expected;
    for (const std::string& l : p) expected += l + "\n";
    EXPECT_EQ(sameAsTyped(p), expected) << "the guide writes its programs as LIST does";
  }
  // Squares, loaded from text, then run.
  MachineDir dir;
  typeInto(dir.path(), {});
  const fs::path file = writeText(dir.path(), programs.front());
  ASSERT_EQ(basicTool({"load", dir.path().string(), file.string()}).status, 0);
  const RunResult r =
      runTool(dir.path(), {"--ticks", "400", "--lcd-chars", "--type", "CLS:RUN{ENTER}"});
  EXPECT_EQ(r.lines, (Lines{"3*3=9", "4*4=16", "5*5=25", ">_"}));
}

TEST_F(BasicTool, LoadsRandomProgramsAsTypingDoes) {
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    ProgramMaker maker(seed);
    sameAsTyped(maker.program(7));
  }
}

// The disk's keywords come last in the table, after those of the strings
// and of ON: each one crunches to its own token beside the others.
TEST_F(BasicTool, ListsAndLoadsTheDiskStatementsAsTyped) {
  EXPECT_EQ(sameAsTyped({"10 SAVE\"A\":LOAD\"B\"", "20 IFA$=\"X\"THENFILESELSEKILL\"C\"",
                         "30 ONAGOTO10,20:FILES:RENUM"}),
            "10 SAVE \"A\":LOAD \"B\"\n"
            "20 IF A$=\"X\" THEN FILES ELSE KILL \"C\"\n"
            "30 ON A GOTO 10,20:FILES:RENUM\n");
}

// A listing renumbered as RENUM start,step does it, worked out on the text:
// the lines numbered afresh, and the numbers after GOTO, GOSUB, THEN, ELSE
// and RUN (lists after GOTO and GOSUB) changed where they name a line,
// outside strings and remarks.
std::string renumbered(const std::string& listing, int start, int step) {
  std::vector<std::string> lines;
  std::map<std::string, std::string> renamed;
  std::istringstream in(listing);
  for (std::string l; std::getline(in, l);) {
    renamed[l.substr(0, l.find(' '))] =
        std::to_string(start + step * static_cast<int>(lines.size()));
    lines.push_back(l);
  }
  std::string out;
  for (const std::string& l : lines) {
    const std::size_t body = l.find(' ');
    std::string text = renamed[l.substr(0, body)];
    bool inString = false, list = false, one = false;
    for (std::size_t i = body; i < l.size();) {
      const char c = l[i];
      if (c == '"') inString = !inString;
      if (!inString && l.compare(i, 3, "REM") == 0) {
        text += l.substr(i);
        break;
      }
      if (!inString && std::isdigit(static_cast<unsigned char>(c)) && (one || list)) {
        std::size_t end = i;
        while (end < l.size() && std::isdigit(static_cast<unsigned char>(l[end]))) ++end;
        const std::string number = l.substr(i, end - i);
        const auto it = renamed.find(number);
        text += it == renamed.end() ? number : it->second;
        i = end;
        one = false;
        if (list && i < l.size() && l[i] == ',') {
          text += ',';
          ++i;
          continue;
        }
        list = false;
        continue;
      }
      if (!inString && c != ' ') {
        one = false;
        list = false;
        for (const char* k : {"THEN", "ELSE", "RUN"})
          if (l.compare(i, std::strlen(k), k) == 0) one = true;
        for (const char* k : {"GOTO", "GOSUB"})
          if (l.compare(i, std::strlen(k), k) == 0) list = true;
        if (one || list) {
          const std::size_t n = l.compare(i, 5, "GOSUB") == 0 ? 5 : 4;
          text += l.substr(i, n == 4 && l.compare(i, 3, "RUN") == 0 ? 3 : n);
          i += n == 4 && l.compare(i, 3, "RUN") == 0 ? 3 : n;
          continue;
        }
      }
      text += c;
      ++i;
    }
    out += text + "\n";
  }
  return out;
}

TEST_F(BasicTool, RenumChangesTheLinesAndEveryNumberThatNamesOne) {
  std::mt19937 rng(44);
  const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
  const struct { int start, step; } steps[] = {{1000, 1000}, {1, 1}, {10, 10}, {5, 7}};
  for (const auto& st : steps) {
    std::vector<int> numbers;
    for (int n = 1 + pick(20); numbers.size() < 7; n += 1 + pick(40)) numbers.push_back(n);
    const auto target = [&]() {
      return std::to_string(pick(5) ? numbers[pick(7)] : 5000 + pick(100));  // or no line
    };
    std::vector<std::string> program;
    for (int n : numbers) {
      std::string line = std::to_string(n) + " ";
      switch (pick(5)) {
        case 0:
          line += "IF A=" + target() + " THEN " + target() + " ELSE " + target();
          break;
        case 1:
          line += "ON A GOSUB " + target() + "," + target() + "," + target() + ":?\"GOTO " +
                  target() + "\"";
          break;
        case 2:
          line += "GOTO " + target() + ":REM GOTO " + target();
          break;
        case 3:
          line += "A=" + target() + ":GOSUB " + target();
          break;
        default:
          line += "RUN " + target();
      }
      program.push_back(line);
    }
    MachineDir dir;
    typeInto(dir.path(), program);
    const std::string before = basicTool({"list", dir.path().string()}).out;
    typeInto(dir.path(), {"RENUM " + std::to_string(st.start) + "," + std::to_string(st.step)});
    const Output after = basicTool({"list", dir.path().string()});
    EXPECT_EQ(after.status, 0) << after.out;
    EXPECT_EQ(after.out, renumbered(before, st.start, st.step)) << before;
  }
  // Numbers beyond 9999: refused, the program as it was.
  MachineDir dir;
  typeInto(dir.path(), {"10 GOTO 20", "20 GOTO 10"});
  const RunResult r = runTool(dir.path(), {"--ticks", "300", "--lcd-chars", "--save", "--type",
                                           "CLS:RENUM 9000,1000{ENTER}"});
  EXPECT_EQ(r.lines, (Lines{"?ILLEGAL VALUE ERROR", ">_", "", ""}));
  EXPECT_EQ(basicTool({"list", dir.path().string()}).out, "10 GOTO 20\n20 GOTO 10\n");
}

TEST_F(BasicTool, ReportsEveryBadLineAndWritesNothing) {
  MachineDir dir;
  typeInto(dir.path(), {"10 PRINT 1"});
  const std::vector<uint8_t> before = readBytes(dir.path() / "ram0.bin");
  const fs::path file =
      writeText(dir.path(), {"10 PRINT 2", "12+3", "0 PRINT", "", "10000 END", "20 PRINT\t1",
                             "30 PRINT \"" + std::string(90, 'X') + "\""});
  const std::string f = file.string();
  const std::string expected =
      f + ":2: not a program line: a line number 1-9999 and a statement\n" + f +
      ":3: line number outside 1-9999\n" + f + ":5: line number outside 1-9999\n" + f +
      ":6: character &H09 cannot be typed\n" + f +
      ":7: line too long: more than 90 characters with its keywords as "
      "tokens\n";
  for (const std::string cmd : {"check", "load"}) {
    const Output r = cmd == std::string("check") ? basicTool({cmd, f})
                                                 : basicTool({cmd, dir.path().string(), f});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, expected);
  }
  EXPECT_EQ(readBytes(dir.path() / "ram0.bin"), before);
  // A directory whose RAM holds no BASIC is left alone.
  MachineDir bare;
  const Output r = basicTool({"list", bare.path().string()});
  EXPECT_NE(r.status, 0);
  EXPECT_FALSE(bare.has("ram0.bin"));
}

}  // namespace
}  // namespace tarvo::demo
