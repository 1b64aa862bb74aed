// The demo firmware end to end: tarvo-run boots the generated machine,
// types on the host keyboard and reads the LCD back as characters.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "demo_machine.h"

namespace tarvo::demo {
namespace {

using Lines = std::vector<std::string>;

class DemoFirmware : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!templateHas("rom1.bin") || !templateHas("charset.bin"))
      GTEST_FAIL() << "the build made no demo machine in " << templateDir();
  }

  // Everything on screen after typing text, as four lines.
  Lines screen(const std::string& text, std::vector<std::string> more = {}) {
    const RunResult r = screenAfter(dir.path(), text, std::move(more));
    EXPECT_EQ(r.status, 0);
    return r.lines;
  }

  MachineDir dir;
};

// Typing waits for the firmware to take each key, so a slow clock loses
// none (at a fixed pace, OscFreq=20 takes none of them): keys on the strobe
// the firmware looks at first (= : ;), characters typed as two keys from
// the character map (" < >), and a sum.
TEST_F(DemoFirmware, TypingKeepsUpWithAnyClock) {
  for (const char* osc : {"20", "910"}) {
    std::ofstream(dir.path() / "tarvo.ini") << settingsWithClock(osc);
    const RunResult r = runTool(
        dir.path(), {"--ticks", "10000", "--lcd-chars", "--type",
                     "A=1:B=2{ENTER}PRINT A;B;\"<>\"{ENTER}1+2+3+4+5+6+7+8+9+10+11+12{ENTER}"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.lines, (std::vector<std::string>{"12<>", ">1+2+3+4+5+6+7+8+9+10+11+12",
                                                 resultLine("78"), ">_"}))
        << "OscFreq=" << osc;
    std::filesystem::remove(dir.path() / "ram0.bin");
  }
}

TEST_F(DemoFirmware, BootsIntoTheBannerAndAPromptWithinOneSecond) {
  const RunResult r = runTool(dir.path(), {"--ticks", "100", "--lcd-chars"});
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.lines.size(), 4u);
  EXPECT_NE(r.lines[0].find("TARVO"), std::string::npos) << r.lines[0];
  EXPECT_EQ(r.lines[3], ">_");  // prompt, cursor after it
}

TEST_F(DemoFirmware, EchoesTypedCharactersAtTheCursorAndRunsLongLinesOn) {
  const Lines s = screen("12+34*5");
  ASSERT_EQ(s.size(), 4u);
  EXPECT_EQ(s[3], ">12+34*5_");
  // Letters and signs are typed too; a row takes 30 characters after the
  // prompt (the cursor keeps the last cell), and the line goes on below.
  MachineDir other;
  const RunResult r = screenAfter(other.path(), "abc;0123456789012345678901234567890");
  ASSERT_EQ(r.lines.size(), 4u);
  EXPECT_EQ(r.lines[2], ">ABC;01234567890123456789012345");
  EXPECT_EQ(r.lines[3], "67890_");
}

TEST_F(DemoFirmware, AddsWithCarriesAcrossManyDigits) {
  const Lines s = screen("99999999999999+1{ENTER}123456789+987654321{ENTER}");
  EXPECT_EQ(s, (Lines{resultLine("100000000000000"), ">123456789+987654321",
                      resultLine("1111111110"), ">_"}));
}

TEST_F(DemoFirmware, SubtractsBelowZeroAndMultipliesFirst) {
  const Lines s = screen("5-12{ENTER}1-2-3*4{ENTER}0-5+5{ENTER}");
  // Only the last two calculations are still on screen: 0-5+5 is 0, not -0.
  EXPECT_EQ(s, (Lines{resultLine("-13"), ">0-5+5", resultLine("0"), ">_"}));
  MachineDir other;
  EXPECT_EQ(screenAfter(other.path(), "123456789012-999999999999{ENTER}").lines,
            (Lines{"calculate: 12+34*5 then EXE", ">123456789012-999999999999",
                   resultLine("-876543210987"), ">_"}));
}

TEST_F(DemoFirmware, MultipliesTwoEightDigitNumbers) {
  const Lines s = screen("99999999*99999999{ENTER}12345678*87654321{ENTER}");
  EXPECT_EQ(s, (Lines{resultLine("9999999800000001"), ">12345678*87654321",
                      resultLine("1082152022374638"), ">_"}));
}

TEST_F(DemoFirmware, ShowsEForOverflowAndAnErrorForLinesThatAreNoCalculation) {
  const Lines big = screen("9999999999999999+1{ENTER}99999999*999999999{ENTER}");
  EXPECT_EQ(big, (Lines{resultLine("E"), ">99999999*999999999", resultLine("E"), ">_"}));
  // Seventeen digits overflow; an operator without a number and a word are
  // no expression; a leading sign is one.
  MachineDir a, b;
  EXPECT_EQ(screenAfter(a.path(), "12345678901234567{ENTER}3+{ENTER}").lines,
            (Lines{resultLine("E"), ">3+", "?SYNTAX ERROR", ">_"}));
  EXPECT_EQ(screenAfter(b.path(), "-3{ENTER}PI{ENTER}").lines,
            (Lines{resultLine("-3"), ">PI", "?SYNTAX ERROR", ">_"}));
}

TEST_F(DemoFirmware, BackspaceDeletesButKeepsThePrompt) {
  const Lines s = screen("12{BS}3+4{ENTER}{BS}{BS}9");
  EXPECT_EQ(s, (Lines{"calculate: 12+34*5 then EXE", ">13+4", resultLine("17"), ">9_"}));
}

TEST_F(DemoFirmware, ScrollsTheBannerAwayLineByLine) {
  // An empty line gives a new prompt only; each one scrolls the screen up.
  EXPECT_EQ(screen("{ENTER}"),
            (Lines{"open demo machine   BASIC", "calculate: 12+34*5 then EXE", ">", ">_"}));
  MachineDir other;
  EXPECT_EQ(screenAfter(other.path(), "6*7{ENTER}").lines,
            (Lines{"calculate: 12+34*5 then EXE", ">6*7", resultLine("42"), ">_"}));
}

TEST_F(DemoFirmware, KeepsItsScreenAndResultsAcrossRunsThroughSavedRam) {
  const RunResult first = screenAfter(dir.path(), "6*7{ENTER}12", {"--save"});
  ASSERT_EQ(first.status, 0);
  ASSERT_TRUE(dir.has("ram0.bin"));
  const Lines kept = {"calculate: 12+34*5 then EXE", ">6*7", resultLine("42"), ">12_"};
  EXPECT_EQ(first.lines, kept);

  // The next start finds its signature in RAM: the same screen, no banner,
  // and the half-typed line goes on.
  EXPECT_EQ(screen(""), kept);
  EXPECT_EQ(screen("3+0{ENTER}", {"--save"}),
            (Lines{resultLine("42"), ">123+0", resultLine("123"), ">_"}));
  // The last result and the number of calculations are in RAM as well:
  // sign, then 16 digits from the lowest pair up; then the count.
  const RunResult peek = runTool(dir.path(), {"--ticks", "100", "--peek", "14109:11"});
  ASSERT_EQ(peek.lines.size(), 1u);
  EXPECT_EQ(peek.lines[0], "14109: 00 23 01 00 00 00 00 00 00 02 00");
}

TEST_F(DemoFirmware, StartsColdWhenRamHoldsNoScreenOfItsOwn) {
  // RAM of some other program: zeros everywhere.
  std::ofstream(dir.path() / "ram0.bin", std::ios::binary) << std::string(65536, '\0');
  const Lines s = screen("");
  ASSERT_EQ(s.size(), 4u);
  EXPECT_NE(s[0].find("TARVO"), std::string::npos);
  EXPECT_EQ(s[3], ">_");
}

}  // namespace
}  // namespace tarvo::demo
