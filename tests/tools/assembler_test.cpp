#include "tools/assembler.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace tarvo {
namespace {

// The bytes as "HH HH ..." or "error at N".
std::string outcome(const AsmResult& r) {
  if (r.errorPos != 0) return "error at " + std::to_string(r.errorPos);
  std::string s;
  for (int i = 0; i < r.length; ++i) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02X", r.bytes[static_cast<std::size_t>(i)]);
    if (i) s += ' ';
    s += buf;
  }
  return s;
}

std::string asmByte(const std::string& line, uint16_t origin = 0) {
  return outcome(assemble(line, origin, false));
}

TEST(AssemblerTable, HasEveryMnemonicOnceWithValidClasses) {
  const auto table = asmMnemonics();
  ASSERT_EQ(table.size(), 138u);
  std::set<std::string_view> names;
  for (const AsmMnemonic& m : table) {
    EXPECT_TRUE(names.insert(m.name).second) << m.name;
    EXPECT_LE(m.name.size(), 5u);
    EXPECT_LE(m.formClass, 32);
  }
}

struct Case {
  const char* line;
  uint16_t origin;
  const char* expected;
};

void expectAll(const std::vector<Case>& cases, bool word) {
  for (const Case& c : cases) {
    EXPECT_EQ(outcome(assemble(c.line, c.origin, word)), c.expected)
        << "line \"" << c.line << "\" at " << c.origin << (word ? " (word)" : "");
  }
}

TEST(Assembler, DocumentedExamplesInByteMemory) {
  expectAll(
      {
          {"nop", 0, "F8"},
          {"rtn", 0, "F7"},
          {"rtn nz", 0, "F4"},
          {"trp", 0, "FF"},
          {"jp &h1234", 0, "37 34 12"},
          {"jp $5", 0, "DE 05"},
          {"jp ($5)", 0, "DF 05"},
          {"cal c,100", 0, "75 64 00"},
          {"jr &h103", 0x100, "B7 02"},
          {"jr &h103", 0x110, "B7 8E"},
          {"jr &h103", 0x200, "error at 9"},
          {"ld $1,$2", 0, "02 61 02"},
          {"ld $1,$sy", 0, "02 21"},
          {"ld $1,200", 0, "42 01 C8"},
          {"ld $1,(ix-$3)", 0, "28 E1 03"},
          {"ld $1,(iz+5)", 0, "69 01 05"},
          {"ld $1,($2)", 0, "11 61 02"},
          {"ld $1,$2,jr &h10", 0, "02 E1 02 0D"},
          {"ldw $4,&hBEEF", 0, "D1 04 EF BE"},
          {"st 7,($sz)", 0, "50 40 07"},
          {"stw &h1234,($sx)", 0, "D0 00 34 12"},
          {"ad (ix+$3),$5", 0, "3C 65 03"},
          {"adw (iz-$sx),$1", 0, "BD 81"},
          {"phsm $5,3", 0, "E6 05 40"},
          {"adbm $1,5,2", 0, "CA 01 25"},
          {"pre ix,&h1234", 0, "D6 00 34 12"},
          {"pre ss,$2", 0, "97 02"},
          {"gst tm,$0", 0, "1F 60"},
          {"pst ua,7", 0, "56 60 07"},
          {"ldi$1,(ix+$2)", 0, "2A 61 02"},
          {"psr sy,5", 0, "55 25"},
          {"db 1,2,3,4", 0, "01 02 03 04"},
          {"db 7,", 0, "07"},
          {"db", 0, ""},
          {"", 0, ""},
          {"    ; only a comment", 0, ""},
      },
      false);
}

TEST(Assembler, WordMemoryChangesFillersAndJumpBases) {
  expectAll(
      {
          {"jp &h1234", 0, "37 34 00 12"},
          {"cal z,&h0456", 0, "70 56 00 04"},
          {"ld $1,$2,jr &h10", 0, "02 E1 02 0F"},
          {"ld $1,$sy,jr &h10", 0, "02 A1 00 0F"},
          // jr: the displacement shares the opcode's word, so the base is the origin.
          {"jr &h103", 0x100, "B7 03"},
          {"jr nz,&h0FE", 0x100, "B4 82"},
          // Every other form is the same byte sequence as in byte memory.
          {"ld $1,(iz+5)", 0, "69 01 05"},
          {"pre ix,&h1234", 0, "D6 00 34 12"},
      },
      true);
}

TEST(Assembler, EveryFormClass) {
  expectAll(
      {
          {"bup", 0, "D8"},
          {"bups 9", 0, "58 09"},
          {"bdns &hff", 0, "59 FF"},
          {"jr z,&h20", 0x10, "B0 0F"},
          {"jp nc,&h20", 0, "31 20 00"},
          {"phs $3", 0, "26 03"},
          {"ppuw $31", 0, "AF 1F"},
          {"rou $4", 0, "18 24"},
          {"invw $4,jr &h0", 4, "9B C4 86"},
          {"sup $2", 0, "DC 02"},
          {"sdn 5", 0, "5D 05"},
          {"stl $3", 0, "12 03"},
          {"stl &h41", 0, "52 41"},
          {"ppo &h41", 0, "54 00 41"},
          {"pfl 3", 0, "54 40 03"},
          {"pfl $3,&h10", 0, "14 C3 0E"},
          {"byum $3,8", 0, "DA 63 E0"},
          {"or $1,$sz", 0, "0E 41"},
          {"xr $1,&h0f,jr 0", 0, "4F 81 0F 83"},
          {"sbc (iz-&h10),$3", 0, "7B 83 10"},
          {"sb (ix+$7),$3", 0, "3E 63 07"},
          {"adcw (ix+$sy),$2", 0, "B8 22"},
          {"naw $2,$4", 0, "8D 62 04"},
          {"orm $1,$sx,4", 0, "CE 01 60"},
          {"adbcm $1,$9,2", 0, "C0 61 29"},
          {"sbbm $2,&h1f,8", 0, "CB 02 FF"},
          {"gre ky,$1", 0, "9F 61"},
          {"gre iy,$1", 0, "9E 21"},
          {"gsr sz,$6", 0, "1D 46"},
          {"psrw sx,$1", 0, "95 01"},
          {"psr sz,$1", 0, "15 41"},
          {"psrm sz,$3,4", 0, "D5 43 60"},
          {"gst ib,$2", 0, "1E 42"},
          {"pst ie,$2", 0, "17 22"},
          {"pst pe,&h80", 0, "56 00 80"},
          {"std $1,(iz-$sz)", 0, "25 C1"},
          {"ldd $1,(ix+9)", 0, "6C 01 09"},
          {"stiw $2,(iz+$4)", 0, "A3 62 04"},
          {"stm $1,(ix+$5),6", 0, "E0 61 A5"},
          {"lddm $1,(iz-$sx),2", 0, "ED 81 20"},
          {"ldm $3,$sx,8", 0, "C2 03 E0"},
          {"ldm $3,$7,2", 0, "C2 63 27"},
          {"ldw $3,($sz)", 0, "91 43"},
          {"ldw $3,$sz", 0, "82 43"},
          {"ldw $3,(iz+$5)", 0, "A9 63 05"},
          {"st $1,($2)", 0, "10 61 02"},
          {"st $1,(iz-3)", 0, "61 81 03"},
          {"stw $1,(ix+$sx)", 0, "A0 01"},
          {"stw $1,($sy)", 0, "90 21"},
      },
      false);
}

TEST(Assembler, CaseAndBlanks) {
  EXPECT_EQ(asmByte("LD $1,$SY"), "02 21");
  EXPECT_EQ(asmByte("  Pre  IX , &H1234  ; load"), "D6 00 34 12");
  EXPECT_EQ(asmByte("ld $1 , ( ix - $3 )"), "28 E1 03");
  // ldm is never read as ld followed by m.
  EXPECT_EQ(asmByte("ldm $3,$sx,8"), "C2 03 E0");
  // The index name must follow "(" directly in the memory-arithmetic forms.
  EXPECT_EQ(asmByte("ad ( ix+$3),$5"), "error at 5");
  // ")" must follow the register directly in jp ($r).
  EXPECT_EQ(asmByte("jp ($5 )"), "error at 7");
  EXPECT_EQ(asmByte("jp ( $5)"), "DF 05");
  // Tabs are not blanks.
  EXPECT_EQ(asmByte("\tnop"), "error at 1");
}

TEST(Assembler, ErrorPositions) {
  expectAll(
      {
          {"xyz", 0, "error at 1"},
          {"   foo", 0, "error at 4"},
          {"ld $32,$1", 0, "error at 7"},  // after the digits of the register
          {"phsm $5,9", 0, "error at 9"},
          {"phsm $5,1", 0, "error at 9"},
          {"ld $1,256", 0, "error at 10"},
          {"nop x", 0, "error at 5"},
          {"nop;x", 0, "F8"},
          {"jp $sx", 0, "error at 7"},  // a pointer where a numbered register is required
          {"ld", 0, "error at 3"},      // the line ends before the form is complete
          {"ld $1,", 0, "error at 7"},
          {"pre ky,$2", 0, "error at 5"},  // pre cannot load ky
          {"pst tm,$2", 0, "error at 5"},  // pst cannot write tm
          {"an (ix+$1),$2", 0, "error at 4"},
          {"stm $1,$2,3", 0, "error at 8"},
          {"st $sx,($sy)", 0, "error at 7"},
          {"st 5,($3)", 0, "error at 9"},          // the immediate store needs a pointer register
          {"ld $1,$2,jr &h200", 0, "error at 9"},  // a failing suffix fails at its comma
          {"ld $1,$2,", 0, "error at 9"},
          {"jr &h83", 0, "error at 8"},  // distance 130
          {"jr &h80", 0, "B7 7F"},       // distance 127
          {"jr 0", 0x7E, "B7 FF"},       // distance -127
          {"jr 0", 0x7F, "error at 5"},  // distance -128
          {"db 1,2,3,4,5", 0, "error at 12"},
          {"db 1,300", 0, "error at 9"},
          {"db ,1", 0, "error at 4"},
          {"&h", 0, "error at 1"},
      },
      false);
}

TEST(Assembler, ChoiceRules) {
  // Class 7: a register first, then the immediate from where it stopped.
  EXPECT_EQ(asmByte("sup $40"), "error at 8");
  // A pointer read where a numbered register is required is an error, not
  // a reason to try the immediate form.
  EXPECT_EQ(asmByte("stl $sx"), "error at 8");
  // Classes 11 and 13 have no indexed form.
  EXPECT_EQ(asmByte("anw (ix+$1),$2"), "error at 5");
  // Classes 13 and 14 have no immediate form.
  EXPECT_EQ(asmByte("adw $1,5"), "error at 8");
  // jp: "(" is register-indirect, "$" the register form, else the address.
  EXPECT_EQ(asmByte("jp (5)"), "error at 5");
  EXPECT_EQ(asmByte("jp 5"), "37 05 00");
  // ld $1,(...) without an index name is the register-indirect form.
  EXPECT_EQ(asmByte("ld $1,(5)"), "error at 8");
  EXPECT_EQ(asmByte("ld $1,( iz+1)"), "69 01 01");
  // Conditions are optional and consume only blanks when absent.
  EXPECT_EQ(asmByte("jp z,5"), "30 05 00");
  EXPECT_EQ(asmByte("jp z 5"), "error at 6");  // the blanks before a missing comma are kept
  EXPECT_EQ(asmByte("rtn nlz"), "F6");
}

TEST(Assembler, NumberRules) {
  EXPECT_EQ(asmByte("ldw $0,65535"), "D1 00 FF FF");
  // A digit that would make the 16-bit value smaller is not consumed.
  EXPECT_EQ(asmByte("ldw $0,65536"), "error at 12");
  EXPECT_EQ(asmByte("ldw $0,&HFFFF"), "D1 00 FF FF");
  EXPECT_EQ(asmByte("ldw $0,&h"), "error at 10");
  EXPECT_EQ(asmByte("ld $1,&h1g"), "error at 10");
  // Registers are decimal only.
  EXPECT_EQ(asmByte("ld $&h1,$2"), "error at 5");
  EXPECT_EQ(asmByte("ld $007,$2"), "02 67 02");
}

TEST(Assembler, EditLineIsCutAt64Characters) {
  std::string line = "nop";
  line.resize(63, ' ');
  line += ";garbage after the comment start";
  EXPECT_EQ(outcome(assembleEditLine(line, 0, false)), "F8");
  std::string tail = "nop";
  tail.resize(64, ' ');
  tail += "xyz";  // characters 65 and later are never seen
  EXPECT_EQ(outcome(assembleEditLine(tail, 0, false)), "F8");
  EXPECT_EQ(outcome(assemble(tail, 0, false)), "error at 65");
}

TEST(Assembler, ZeroesUnusedBytes) {
  const AsmResult r = assemble("ld $1,$sy", 0, false);
  EXPECT_EQ(r.length, 2);
  EXPECT_EQ(r.bytes[2], 0);
  EXPECT_EQ(r.bytes[3], 0);
}

TEST(Assembler, NeverReadsPastTheLineOrFailsUnsafely) {
  // Random text built from the assembler's own vocabulary and raw bytes; every
  // line must give either bytes or an error position inside the line + 1.
  const char* pieces[] = {"ld",  "ldw", "st", "jr",  "jp", "adbm", "pre", "gst", "psr", "db",
                          "$",   "$sx", "(",  ")",   "ix", "iz",   "+",   "-",   ",",   "&h",
                          "jr ", "1",   "99", "255", " ",  ";",    "z",   "nlz", "ky",  "7"};
  std::mt19937 rng(12345);
  for (int n = 0; n < 20000; ++n) {
    std::string line;
    const int parts = static_cast<int>(rng() % 8);
    for (int i = 0; i < parts; ++i) {
      if (rng() % 5 == 0) {
        line += static_cast<char>(rng() % 256);
      } else {
        line += pieces[rng() % (sizeof pieces / sizeof pieces[0])];
      }
    }
    // A copy without a terminator beyond the view: the assembler only sees
    // the view's characters.
    std::vector<char> buffer(line.begin(), line.end());
    const std::string_view view(buffer.data(), buffer.size());
    const AsmResult r = assemble(view, static_cast<uint16_t>(rng()), rng() % 2 == 0);
    ASSERT_GE(r.errorPos, 0);
    ASSERT_LE(r.errorPos, static_cast<int>(view.size()) + 1) << line;
    ASSERT_GE(r.length, 0);
    ASSERT_LE(r.length, 4);
    if (r.errorPos == 0) {
      for (int i = r.length; i < 4; ++i) ASSERT_EQ(r.bytes[static_cast<std::size_t>(i)], 0);
    } else {
      ASSERT_EQ(r.length, 0);
    }
  }
}

}  // namespace
}  // namespace tarvo
