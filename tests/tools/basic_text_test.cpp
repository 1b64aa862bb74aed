// The BASIC text tools on a RAM image made here: what store writes is what
// list reads back, BASIC's pointers follow the program, and a program area
// that is not whole is refused rather than listed wrong.
#include "tools/basic_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvo::basic {
namespace {

constexpr uint32_t kVars = 0x4100;
constexpr uint32_t kProgram = 0x4500;

std::vector<uint8_t> ramWithBasic() {
  std::vector<uint8_t> ram(kRamSize, 0xFF);
  ram[kVars] = 'T';
  ram[kVars + 1] = 'B';
  ram[kVars + 2] = 'A';
  ram[kVars + 3] = '1';
  return ram;
}

unsigned word(const std::vector<uint8_t>& ram, uint32_t a) {
  return ram[a] | ram[a + 1] << 8;
}

TEST(BasicText, CrunchesAndListsAsTheFirmwareDoes) {
  const struct {
    const char* typed;
    const char* listed;
  } cases[] = {
      {"10 FORI=1TO9STEP-2", "10 FOR I=1 TO 9 STEP-2"},
      {"20 print\"a b\";x:goto 10", "20 PRINT \"A B\";X:GOTO 10"},
      {"30 IFA<>1THENA=ABS(-1)", "30 IF A<>1 THEN A=ABS(-1)"},
      {"40 REM  PRINT  TO", "40 REM  PRINT  TO"},  // the rest of a remark is kept
      {"50 A=TOTAL", "50 A=TO TAL"},               // keywords are found anywhere
      {"60 PRINT\"OPEN", "60 PRINT \"OPEN"},
      {"0070 @(1)=NOT1ORA", "70 @(1)=NOT 1 OR A"},
  };
  std::string text;
  for (const auto& c : cases) text += std::string(c.typed) + "\n";
  const Program p = parse(text);
  ASSERT_TRUE(p.errors.empty());
  std::vector<uint8_t> ram = ramWithBasic();
  ASSERT_EQ(store(ram, p), "");
  std::string listed;
  for (const auto& c : cases) listed += std::string(c.listed) + "\n";
  const Listing l = list(ram);
  ASSERT_TRUE(l.ok) << l.error;
  EXPECT_EQ(l.text, listed);
  // The end pointer on the end mark, @() after it, CONT off.
  const unsigned end = word(ram, kVars + 194);
  EXPECT_EQ(end, kProgram + programBytes(p) - 2);
  EXPECT_EQ(word(ram, end), 0xFFFFu);
  EXPECT_EQ(word(ram, kVars + 24), end + 2);
  EXPECT_EQ(word(ram, kVars + 200), 0u);
  EXPECT_EQ(word(ram, kVars + 239), 0xCC00u);  // no array of DIM left
  EXPECT_EQ(std::count(ram.begin() + 0xF000, ram.begin() + 0xF000 + 208, 0), 208);
  // Line 10 as stored: 0x10 0x00, 13 bytes, FOR I = 1 TO 9 STEP - 2, 0.
  EXPECT_EQ(std::vector<uint8_t>(ram.begin() + kProgram, ram.begin() + kProgram + 12),
            (std::vector<uint8_t>{0x10, 0x00, 13, 0x87, 'I', '=', '1', 0x94, '9', 0x95, '-', '2'}));
}

TEST(BasicText, RefusesWhatDoesNotFitAndAreasThatAreNotWhole) {
  std::vector<uint8_t> ram = ramWithBasic();
  std::vector<uint8_t> bare(kRamSize, 0xFF);
  EXPECT_NE(store(bare, parse("10 END\n")), "");
  EXPECT_FALSE(list(bare).ok);
  // 400 lines of 80 bytes fit in the 34 KB of the program area, 1500 do not.
  std::string text;
  for (int n = 1; n <= 1500; ++n) {
    text += std::to_string(n) + " REM " + std::string(74, 'X') + "\n";
    if (n == 400) {
      ASSERT_EQ(store(ram, parse(text)), "");
      ASSERT_TRUE(list(ram).ok);
    }
  }
  const std::vector<uint8_t> before = ram;
  EXPECT_NE(store(ram, parse(text)), "");
  EXPECT_EQ(ram, before);
  // A record that claims to run past the end mark, a line of no number, an
  // end pointer that misses the end mark: refused, not listed.
  ASSERT_EQ(store(ram, parse("10 PRINT 1\n20 END\n")), "");
  for (const auto& [offset, value] : {std::pair{2u, 0xF0u}, {0u, 0x0Au}, {1u, 0x00u}}) {
    std::vector<uint8_t> damaged = ram;
    if (offset == 1 && value == 0)
      damaged[kVars + 194] ^= 1;
    else
      damaged[kProgram + offset] = static_cast<uint8_t>(value);
    EXPECT_FALSE(list(damaged).ok) << offset;
  }
}

}  // namespace
}  // namespace tarvo::basic
