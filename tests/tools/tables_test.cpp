#include "tools/tables.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace tarvo {
namespace {

// Compares sixteen primary records from `first` on. `row` lists them as
// "mnemonic:form"; a redirect is "0:" and its group start.
void expectRow(unsigned first, const std::string& row) {
  std::istringstream in(row);
  std::string cell;
  unsigned i = 0;
  for (; in >> cell; ++i) {
    SCOPED_TRACE(testing::Message() << "opcode 0x" << std::hex << first + i);
    ASSERT_LT(i, 16u);
    const std::size_t colon = cell.find(':');
    const DisasmRecord& r = DisasmTable[first + i];
    EXPECT_EQ(r.mnemonic, cell.substr(0, colon));
    EXPECT_EQ(r.operand, std::stoi(cell.substr(colon + 1)));
  }
  EXPECT_EQ(i, 16u);
}

TEST(Tables, PrimaryRowsWithRedirectsAndGaps) {
  expectRow(0x10,
            "st:8 ld:8 0:256 0:328 0:260 psr:31 pst:21 pst:21 "
            "0:264 ****:0 0:268 0:272 0:276 gsr:31 gst:21 gst:21");
  expectRow(0x50,
            "st:24 0:336 stl:16 ****:0 0:280 psr:33 pst:18 pst:18 "
            "bups:16 bdns:16 ****:0 ****:0 sup:16 sdn:16 ****:0 ****:0");
  expectRow(0x60,
            "st:19 st:19 sti:19 sti:19 std:19 std:19 ****:0 ****:0 "
            "ld:19 ld:19 ldi:19 ldi:19 ldd:19 ldd:19 ****:0 ****:0");
  expectRow(0xA0,
            "stw:10 stw:10 stiw:10 stiw:10 stdw:10 stdw:10 phsw:12 phuw:12 "
            "ldw:10 ldw:10 ldiw:10 ldiw:10 lddw:10 lddw:10 ppsw:12 ppuw:12");
  expectRow(0xC0,
            "adbcm:26 sbbcm:26 ldm:26 ldcm:26 ancm:26 nacm:26 orcm:26 xrcm:26 "
            "adbm:26 sbbm:26 0:308 0:312 anm:26 nam:26 orm:26 xrm:26");
  expectRow(0xD0,
            "stw:25 0:340 stlm:30 0:316 ppom:30 psrm:32 pre:23 pre:23 "
            "bup:1 bdn:1 0:320 0:324 sup:12 sdn:12 jp:12 jp:13");
  expectRow(0xE0,
            "stm:11 stm:11 stim:11 stim:11 stdm:11 stdm:11 phsm:30 phum:30 "
            "ldm:11 ldm:11 ldim:11 ldim:11 lddm:11 lddm:11 ppsm:30 ppum:30");
  expectRow(0xF0,
            "rtn:2 rtn:2 rtn:2 rtn:2 rtn:2 rtn:2 rtn:2 rtn:1 "
            "nop:1 clt:1 fst:1 slw:1 cani:1 rtni:1 off:1 trp:1");
}

// The arithmetic rows differ only in the form, and the word rows add "w".
TEST(Tables, ArithmeticRowsShareMnemonics) {
  const char* names[16] = {"adc", "sbc", "ld",  "ldc", "anc", "nac", "orc", "xrc",
                           "ad",  "sb",  "adb", "sbb", "an",  "na",  "or",  "xr"};
  for (unsigned i = 0; i < 16; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(DisasmTable[0x00 + i].mnemonic, std::string(names[i]));
    EXPECT_EQ(DisasmTable[0x00 + i].operand, 7);
    EXPECT_EQ(DisasmTable[0x40 + i].mnemonic, std::string(names[i]));
    EXPECT_EQ(DisasmTable[0x40 + i].operand, 15);
    EXPECT_EQ(DisasmTable[0x80 + i].mnemonic, std::string(names[i]) + "w");
    EXPECT_EQ(DisasmTable[0x80 + i].operand, 7);
  }
  // Conditional rows: seven conditional forms, then the unconditional one.
  for (unsigned cc = 0; cc < 8; ++cc) {
    EXPECT_EQ(DisasmTable[0x30 + cc].operand, cc < 7 ? 4 : 6);
    EXPECT_EQ(DisasmTable[0x70 + cc].operand, cc < 7 ? 4 : 6);
    EXPECT_EQ(DisasmTable[0xB0 + cc].operand, cc < 7 ? 3 : 5);
    EXPECT_EQ(DisasmTable[0xF0 + cc].operand, cc < 7 ? 2 : 1);
  }
}

// Each redirect opcode, in the order its group is stored, with the four
// records chosen by bits 5-6 of the following byte.
TEST(Tables, SecondaryGroupsInStoredOrder) {
  struct Group {
    uint8_t opcode;
    const char* names[4];
    int form;
  };
  const Group groups[22] = {
      {0x12, {"stl", "****", "****", "****"}, 9},   {0x14, {"ppo", "****", "pfl", "****"}, 9},
      {0x18, {"rod", "rou", "bid", "biu"}, 9},      {0x1A, {"did", "diu", "byd", "byu"}, 9},
      {0x1B, {"cmp", "****", "inv", "****"}, 9},    {0x1C, {"gpo", "****", "gfl", "****"}, 9},
      {0x54, {"ppo", "****", "pfl", "****"}, 17},   {0x92, {"stlw", "****", "****", "****"}, 9},
      {0x94, {"ppow", "****", "****", "****"}, 9},  {0x98, {"rodw", "rouw", "bidw", "biuw"}, 9},
      {0x9A, {"didw", "diuw", "bydw", "byuw"}, 9},  {0x9B, {"cmpw", "****", "invw", "****"}, 9},
      {0x9C, {"gpow", "****", "gflw", "****"}, 9},  {0xCA, {"adbm", "****", "****", "****"}, 27},
      {0xCB, {"sbbm", "****", "****", "****"}, 27}, {0xD3, {"ldlm", "****", "****", "****"}, 30},
      {0xDA, {"didm", "dium", "bydm", "byum"}, 30}, {0xDB, {"cmpm", "****", "invm", "****"}, 30},
      {0x13, {"ldl", "****", "****", "****"}, 9},   {0x93, {"ldlw", "****", "****", "****"}, 9},
      {0x51, {"ld", "****", "****", "****"}, 28},   {0xD1, {"ldw", "****", "****", "****"}, 29},
  };
  int redirects = 0;
  for (int op = 0; op < 256; ++op) redirects += isRedirect(DisasmTable[op]);
  EXPECT_EQ(redirects, 22);

  for (int k = 0; k < 22; ++k) {
    const Group& g = groups[k];
    SCOPED_TRACE(testing::Message() << "opcode 0x" << std::hex << int(g.opcode));
    EXPECT_EQ(DisasmTable[g.opcode].operand, 256 + 4 * k);
    for (unsigned sel = 0; sel < 4; ++sel) {
      // Only bits 5-6 of the following byte choose the record.
      const uint8_t next = static_cast<uint8_t>(sel << 5 | 0x9F);
      const unsigned index = resolveDecodeIndex(g.opcode, next);
      EXPECT_EQ(index, 256u + 4 * k + sel);
      const DisasmRecord& r = disasmRecord(index);
      EXPECT_EQ(r.mnemonic, std::string(g.names[sel]));
      EXPECT_EQ(r.operand, isUndefined(r) ? 0 : g.form);
    }
  }
}

// The operand formatter takes the condition, ix/iz and register bank from
// the low bits of the decode index; a secondary record must never use such a
// form, or its text would depend on where its group happens to lie.
TEST(Tables, SecondaryFormsDoNotReadIndexBits) {
  const int indexForms[] = {2, 3, 4, 10, 11, 14, 18, 19, 20, 21, 22, 23};
  for (int i = kSecondaryBase; i < kDisasmRecordCount; ++i) {
    for (int f : indexForms) EXPECT_NE(DisasmTable[i].operand, f) << "record " << i;
  }
}

TEST(Tables, OrdinaryOpcodesResolveToThemselves) {
  EXPECT_EQ(resolveDecodeIndex(0x19, 0xFF), 0x19u);
  EXPECT_TRUE(isUndefined(disasmRecord(0x19)));
  EXPECT_EQ(resolveDecodeIndex(0x1B, 0x20), 273u);  // executed, but shown as ****
  EXPECT_TRUE(isUndefined(disasmRecord(273)));
  EXPECT_EQ(resolveDecodeIndex(0x98, 0x45), 294u);
  EXPECT_EQ(disasmRecord(294).mnemonic, std::string("bidw"));
  EXPECT_EQ(resolveDecodeIndex(0x37, 0xE0), 0x37u);
  EXPECT_TRUE(isUndefined(disasmRecord(344)));
  EXPECT_TRUE(isUndefined(disasmRecord(100000)));
}

TEST(Tables, NameTables) {
  const char* cond[] = {"z", "nc", "lz", "uz", "nz", "c", "nlz"};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(ConditionNames[i], std::string(cond[i]));
  const char* sr8[] = {"pe", "pd", "ib", "ua", "ia", "ie", "??", "tm"};
  const char* sr16[] = {"ix", "iy", "iz", "us", "ss", "ky", "ky", "ky"};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(SpecReg8Names[i], std::string(sr8[i]));
    EXPECT_EQ(SpecReg16Names[i], std::string(sr16[i]));
  }
  const char* ptr[] = {"sx", "sy", "sz", "??"};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(RegPointerNames[i], std::string(ptr[i]));
}

}  // namespace
}  // namespace tarvo
