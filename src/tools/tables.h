// Instruction tables: the mnemonic and operand layout of every opcode, and
// the small name tables that the disassembler and the debugger print from.
// Everything here is constant data.
#pragma once

#include <array>
#include <cstdint>

namespace tarvo {

// Layout of a record's operand text. Each layout is a sequence of pieces
// that fetch their instruction bytes in the order they are printed.
enum class OperandForm : uint16_t {
  None = 0,              // nothing (undefined codes)
  Plain = 1,             // nothing
  Cond = 2,              // cc
  CondTarget = 3,        // cc,&Htttt
  CondAddr = 4,          // cc,&Hhhll
  Target = 5,            // &Htttt
  Addr = 6,              // &Hhhll
  RegSecond = 7,         // $r,$s [,jr]
  RegIndirect = 8,       // $r,($s) [,jr]
  Reg = 9,               // $r [,jr]
  RegIndexed = 10,       // $r,(ix+$s)
  RegIndexedCount = 11,  // $r,(ix+$s),n
  RegOnly = 12,          // $r
  RegJump = 13,          // ($r)
  IndexedReg = 14,       // (ix+$s),$r
  RegImm = 15,           // $r,&Hnn [,jr]
  Imm = 16,              // &Hnn
  SkipImm = 17,          // &Hnn after an unshown operand byte
  Spec8Imm = 18,         // sr,&Hnn
  RegIndexedImm = 19,    // $r,(ix+&Hnn)
  IndexedImmReg = 20,    // (ix+&Hnn),$r
  Spec8Reg = 21,         // sr,$r [,jr]
  Spec16Reg = 22,        // sr,$r [,jr]
  Spec16Imm16 = 23,      // sr,&Hhhll
  ImmPointer = 24,       // &Hnn,($sx)
  Imm16Pointer = 25,     // &Hhhll,($sx)
  RegSecondCount = 26,   // $r,$s,n [,jr]
  RegImm5Count = 27,     // $r,&Hnn,n [,jr]
  RegImm8 = 28,          // $r,&Hnn
  RegImm16 = 29,         // $r,&Hhhll
  RegCount = 30,         // $r,n
  PointerReg = 31,       // sx,$r [,jr]
  PointerRegCount = 32,  // sx,$r,n
  PointerValue = 33,     // sx,n
};
constexpr uint16_t kOperandFormCount = 34;

// One record: a mnemonic and, for an ordinary record, its operand form code.
// A redirect record (mnemonic "0") holds instead the index of the first of
// four secondary records, chosen by bits 5-6 of the byte after the opcode.
struct DisasmRecord {
  const char* mnemonic;  // at most 7 characters, lower case
  uint16_t operand;
};

constexpr int kDisasmRecordCount = 344;  // 256 primary records and 22 groups of four
constexpr int kSecondaryBase = 256;

extern const std::array<DisasmRecord, kDisasmRecordCount> DisasmTable;

// Condition names by condition code 0..6; code 7 (always) has no name.
extern const std::array<const char*, 7> ConditionNames;
// By (decode index bit 0) * 4 + operand byte bits 5-6.
extern const std::array<const char*, 8> SpecReg8Names;
extern const std::array<const char*, 8> SpecReg16Names;
// By operand byte bits 5-6.
extern const std::array<const char*, 4> RegPointerNames;

constexpr bool isRedirect(const DisasmRecord& r) {
  return r.mnemonic[0] == '0' && r.mnemonic[1] == 0;
}
constexpr bool isUndefined(const DisasmRecord& r) {
  return r.mnemonic[0] == '*' && r.mnemonic[1] == '*' && r.mnemonic[2] == '*' &&
         r.mnemonic[3] == '*' && r.mnemonic[4] == 0;
}

// The record for a decode index; indexes beyond the table read as the
// undefined record.
const DisasmRecord& disasmRecord(unsigned index);

// The decode index of an instruction: the opcode, or for a redirect opcode
// the group start plus bits 5-6 of the byte that follows it.
unsigned resolveDecodeIndex(uint8_t opcode, uint8_t next);

}  // namespace tarvo
