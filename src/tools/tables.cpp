#include "tools/tables.h"

namespace tarvo {

namespace {
constexpr const char* kUndef = "****";
constexpr const char* kRedirect = "0";
}  // namespace

// Primary records 0..255 by opcode, then the 22 secondary groups. A redirect
// record's operand field is the first index of its group. The groups are
// kept in this order (not opcode order): 12 14 18 1A 1B 1C 54 92 94 98 9A 9B
// 9C CA CB D3 DA DB, then 13 93 51 D1.
constexpr std::array<DisasmRecord, kDisasmRecordCount> DisasmTable = {{
    // 0x00
    {"adc", 7},
    {"sbc", 7},
    {"ld", 7},
    {"ldc", 7},
    {"anc", 7},
    {"nac", 7},
    {"orc", 7},
    {"xrc", 7},
    {"ad", 7},
    {"sb", 7},
    {"adb", 7},
    {"sbb", 7},
    {"an", 7},
    {"na", 7},
    {"or", 7},
    {"xr", 7},
    // 0x10
    {"st", 8},
    {"ld", 8},
    {kRedirect, 256},
    {kRedirect, 328},
    {kRedirect, 260},
    {"psr", 31},
    {"pst", 21},
    {"pst", 21},
    {kRedirect, 264},
    {kUndef, 0},
    {kRedirect, 268},
    {kRedirect, 272},
    {kRedirect, 276},
    {"gsr", 31},
    {"gst", 21},
    {"gst", 21},
    // 0x20
    {"st", 10},
    {"st", 10},
    {"sti", 10},
    {"sti", 10},
    {"std", 10},
    {"std", 10},
    {"phs", 12},
    {"phu", 12},
    {"ld", 10},
    {"ld", 10},
    {"ldi", 10},
    {"ldi", 10},
    {"ldd", 10},
    {"ldd", 10},
    {"pps", 12},
    {"ppu", 12},
    // 0x30
    {"jp", 4},
    {"jp", 4},
    {"jp", 4},
    {"jp", 4},
    {"jp", 4},
    {"jp", 4},
    {"jp", 4},
    {"jp", 6},
    {"adc", 14},
    {"adc", 14},
    {"sbc", 14},
    {"sbc", 14},
    {"ad", 14},
    {"ad", 14},
    {"sb", 14},
    {"sb", 14},
    // 0x40
    {"adc", 15},
    {"sbc", 15},
    {"ld", 15},
    {"ldc", 15},
    {"anc", 15},
    {"nac", 15},
    {"orc", 15},
    {"xrc", 15},
    {"ad", 15},
    {"sb", 15},
    {"adb", 15},
    {"sbb", 15},
    {"an", 15},
    {"na", 15},
    {"or", 15},
    {"xr", 15},
    // 0x50
    {"st", 24},
    {kRedirect, 336},
    {"stl", 16},
    {kUndef, 0},
    {kRedirect, 280},
    {"psr", 33},
    {"pst", 18},
    {"pst", 18},
    {"bups", 16},
    {"bdns", 16},
    {kUndef, 0},
    {kUndef, 0},
    {"sup", 16},
    {"sdn", 16},
    {kUndef, 0},
    {kUndef, 0},
    // 0x60
    {"st", 19},
    {"st", 19},
    {"sti", 19},
    {"sti", 19},
    {"std", 19},
    {"std", 19},
    {kUndef, 0},
    {kUndef, 0},
    {"ld", 19},
    {"ld", 19},
    {"ldi", 19},
    {"ldi", 19},
    {"ldd", 19},
    {"ldd", 19},
    {kUndef, 0},
    {kUndef, 0},
    // 0x70
    {"cal", 4},
    {"cal", 4},
    {"cal", 4},
    {"cal", 4},
    {"cal", 4},
    {"cal", 4},
    {"cal", 4},
    {"cal", 6},
    {"adc", 20},
    {"adc", 20},
    {"sbc", 20},
    {"sbc", 20},
    {"ad", 20},
    {"ad", 20},
    {"sb", 20},
    {"sb", 20},
    // 0x80
    {"adcw", 7},
    {"sbcw", 7},
    {"ldw", 7},
    {"ldcw", 7},
    {"ancw", 7},
    {"nacw", 7},
    {"orcw", 7},
    {"xrcw", 7},
    {"adw", 7},
    {"sbw", 7},
    {"adbw", 7},
    {"sbbw", 7},
    {"anw", 7},
    {"naw", 7},
    {"orw", 7},
    {"xrw", 7},
    // 0x90
    {"stw", 8},
    {"ldw", 8},
    {kRedirect, 284},
    {kRedirect, 332},
    {kRedirect, 288},
    {"psrw", 31},
    {"pre", 22},
    {"pre", 22},
    {kRedirect, 292},
    {kUndef, 0},
    {kRedirect, 296},
    {kRedirect, 300},
    {kRedirect, 304},
    {"gsrw", 31},
    {"gre", 22},
    {"gre", 22},
    // 0xA0
    {"stw", 10},
    {"stw", 10},
    {"stiw", 10},
    {"stiw", 10},
    {"stdw", 10},
    {"stdw", 10},
    {"phsw", 12},
    {"phuw", 12},
    {"ldw", 10},
    {"ldw", 10},
    {"ldiw", 10},
    {"ldiw", 10},
    {"lddw", 10},
    {"lddw", 10},
    {"ppsw", 12},
    {"ppuw", 12},
    // 0xB0
    {"jr", 3},
    {"jr", 3},
    {"jr", 3},
    {"jr", 3},
    {"jr", 3},
    {"jr", 3},
    {"jr", 3},
    {"jr", 5},
    {"adcw", 14},
    {"adcw", 14},
    {"sbcw", 14},
    {"sbcw", 14},
    {"adw", 14},
    {"adw", 14},
    {"sbw", 14},
    {"sbw", 14},
    // 0xC0
    {"adbcm", 26},
    {"sbbcm", 26},
    {"ldm", 26},
    {"ldcm", 26},
    {"ancm", 26},
    {"nacm", 26},
    {"orcm", 26},
    {"xrcm", 26},
    {"adbm", 26},
    {"sbbm", 26},
    {kRedirect, 308},
    {kRedirect, 312},
    {"anm", 26},
    {"nam", 26},
    {"orm", 26},
    {"xrm", 26},
    // 0xD0
    {"stw", 25},
    {kRedirect, 340},
    {"stlm", 30},
    {kRedirect, 316},
    {"ppom", 30},
    {"psrm", 32},
    {"pre", 23},
    {"pre", 23},
    {"bup", 1},
    {"bdn", 1},
    {kRedirect, 320},
    {kRedirect, 324},
    {"sup", 12},
    {"sdn", 12},
    {"jp", 12},
    {"jp", 13},
    // 0xE0
    {"stm", 11},
    {"stm", 11},
    {"stim", 11},
    {"stim", 11},
    {"stdm", 11},
    {"stdm", 11},
    {"phsm", 30},
    {"phum", 30},
    {"ldm", 11},
    {"ldm", 11},
    {"ldim", 11},
    {"ldim", 11},
    {"lddm", 11},
    {"lddm", 11},
    {"ppsm", 30},
    {"ppum", 30},
    // 0xF0
    {"rtn", 2},
    {"rtn", 2},
    {"rtn", 2},
    {"rtn", 2},
    {"rtn", 2},
    {"rtn", 2},
    {"rtn", 2},
    {"rtn", 1},
    {"nop", 1},
    {"clt", 1},
    {"fst", 1},
    {"slw", 1},
    {"cani", 1},
    {"rtni", 1},
    {"off", 1},
    {"trp", 1},

    // 256: 12
    {"stl", 9},
    {kUndef, 0},
    {kUndef, 0},
    {kUndef, 0},
    // 260: 14
    {"ppo", 9},
    {kUndef, 0},
    {"pfl", 9},
    {kUndef, 0},
    // 264: 18
    {"rod", 9},
    {"rou", 9},
    {"bid", 9},
    {"biu", 9},
    // 268: 1A
    {"did", 9},
    {"diu", 9},
    {"byd", 9},
    {"byu", 9},
    // 272: 1B
    {"cmp", 9},
    {kUndef, 0},
    {"inv", 9},
    {kUndef, 0},
    // 276: 1C
    {"gpo", 9},
    {kUndef, 0},
    {"gfl", 9},
    {kUndef, 0},
    // 280: 54
    {"ppo", 17},
    {kUndef, 0},
    {"pfl", 17},
    {kUndef, 0},
    // 284: 92
    {"stlw", 9},
    {kUndef, 0},
    {kUndef, 0},
    {kUndef, 0},
    // 288: 94
    {"ppow", 9},
    {kUndef, 0},
    {kUndef, 0},
    {kUndef, 0},
    // 292: 98
    {"rodw", 9},
    {"rouw", 9},
    {"bidw", 9},
    {"biuw", 9},
    // 296: 9A
    {"didw", 9},
    {"diuw", 9},
    {"bydw", 9},
    {"byuw", 9},
    // 300: 9B
    {"cmpw", 9},
    {kUndef, 0},
    {"invw", 9},
    {kUndef, 0},
    // 304: 9C
    {"gpow", 9},
    {kUndef, 0},
    {"gflw", 9},
    {kUndef, 0},
    // 308: CA
    {"adbm", 27},
    {kUndef, 0},
    {kUndef, 0},
    {kUndef, 0},
    // 312: CB
    {"sbbm", 27},
    {kUndef, 0},
    {kUndef, 0},
    {kUndef, 0},
    // 316: D3
    {"ldlm", 30},
    {kUndef, 0},
    {kUndef, 0},
    {kUndef, 0},
    // 320: DA
    {"didm", 30},
    {"dium", 30},
    {"bydm", 30},
    {"byum", 30},
    // 324: DB
    {"cmpm", 30},
    {kUndef, 0},
    {"invm", 30},
    {kUndef, 0},
    // 328: 13
    {"ldl", 9},
    {kUndef, 0},
    {kUndef, 0},
    {kUndef, 0},
    // 332: 93
    {"ldlw", 9},
    {kUndef, 0},
    {kUndef, 0},
    {kUndef, 0},
    // 336: 51
    {"ld", 28},
    {kUndef, 0},
    {kUndef, 0},
    {kUndef, 0},
    // 340: D1
    {"ldw", 29},
    {kUndef, 0},
    {kUndef, 0},
    {kUndef, 0},
}};

constexpr std::array<const char*, 7> ConditionNames = {"z", "nc", "lz", "uz", "nz", "c", "nlz"};
constexpr std::array<const char*, 8> SpecReg8Names = {"pe", "pd", "ib", "ua",
                                                      "ia", "ie", "??", "tm"};
constexpr std::array<const char*, 8> SpecReg16Names = {"ix", "iy", "iz", "us",
                                                       "ss", "ky", "ky", "ky"};
constexpr std::array<const char*, 4> RegPointerNames = {"sx", "sy", "sz", "??"};

namespace {

// Every redirect names a group start inside the secondary area, no secondary
// record redirects again, and every ordinary record has a form that exists.
constexpr bool tableIsConsistent() {
  for (int i = 0; i < kDisasmRecordCount; ++i) {
    const DisasmRecord& r = DisasmTable[i];
    if (isRedirect(r)) {
      if (i >= kSecondaryBase) return false;
      if (r.operand < kSecondaryBase || r.operand > kDisasmRecordCount - 4) return false;
      if ((r.operand - kSecondaryBase) % 4 != 0) return false;
    } else if (r.operand >= kOperandFormCount) {
      return false;
    }
  }
  return true;
}
static_assert(tableIsConsistent());

const DisasmRecord kUndefinedRecord = {kUndef, 0};

}  // namespace

const DisasmRecord& disasmRecord(unsigned index) {
  return index < DisasmTable.size() ? DisasmTable[index] : kUndefinedRecord;
}

unsigned resolveDecodeIndex(uint8_t opcode, uint8_t next) {
  const DisasmRecord& r = DisasmTable[opcode];
  if (!isRedirect(r)) return opcode;
  return r.operand + ((next >> 5) & 3u);
}

}  // namespace tarvo
