#include "tools/disasm.h"

#include <array>
#include <cstring>

#include "cpu/code_view.h"
#include "cpu/memory.h"
#include "cpu/operands.h"
#include "machine.h"
#include "tools/tables.h"

namespace tarvo {

void DisasmText::append(char ch) {
  if (len_ >= kCapacity) return;
  buf_[len_++] = ch;
  buf_[len_] = 0;
}

void DisasmText::append(const char* s) {
  while (*s) append(*s++);
}

void DisasmText::appendDecimal(unsigned value) {
  char digits[10];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) append(digits[--n]);
}

void DisasmText::appendHex(unsigned value, int digits) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) append(kHex[(value >> shift) & 0xF]);
}

namespace {

// Operand layouts by form code, one character per piece, anything else
// printed as it stands:
//   1 fetch the operand byte b1        2 fetch the count byte b2
//   R $ and the register in b1         S second register ($n or $sx/$sy/$sz)
//   J ",jr " and a target when b1 bit 7 is set
//   X x or z by the decode index       G + or -, by b1 bit 7
//   I &H and one byte                  W &H and two plain bytes
//   A &H and a jp/cal address          T &H and a relative target
//   N count 1..8 from b2               F &H and b2 bits 0-4
//   C condition name                   E, H 8-bit, 16-bit specific register
//   P register pointer name            V b1 bits 0-4 in decimal
// Pieces that need instruction bytes take them through nextByte() when they
// are printed, so the order of the pieces is the order of the bytes.
constexpr std::array<const char*, kOperandFormCount> kFormLayouts = {
    "",              // 0
    "",              // 1
    "C",             // 2
    "C,T",           // 3
    "C,A",           // 4
    "T",             // 5
    "A",             // 6
    "1R,SJ",         // 7
    "1R,(S)J",       // 8
    "1RJ",           // 9
    "1R,(iXGS)",     // 10
    "12R,(iXGS),N",  // 11
    "1R",            // 12
    "1(R)",          // 13
    "1(iXGS),R",     // 14
    "1R,IJ",         // 15
    "I",             // 16
    "1I",            // 17
    "1E,I",          // 18
    "1R,(iXGI)",     // 19
    "1(iXGI),R",     // 20
    "1E,RJ",         // 21
    "1H,RJ",         // 22
    "1H,W",          // 23
    "1I,($P)",       // 24
    "1W,($P)",       // 25
    "12R,S,NJ",      // 26
    "12R,F,NJ",      // 27
    "1R,I",          // 28
    "1R,W",          // 29
    "12R,N",         // 30
    "1P,RJ",         // 31
    "12P,R,N",       // 32
    "1P,V",          // 33
};

class OperandPrinter {
 public:
  OperandPrinter(CodeView& code, unsigned index, DisasmText& out)
      : code_(code), index_(index), out_(out) {}

  // Forms without a layout (34 and up) print nothing.
  void print(uint16_t form) {
    if (form >= kFormLayouts.size()) return;
    for (const char* p = kFormLayouts[form]; *p; ++p) {
      switch (*p) {
        case '1':
          b1_ = code_.next();
          break;
        case '2':
          b2_ = code_.next();
          haveCount_ = true;
          break;
        case 'R':
          reg();
          break;
        case 'S':
          second();
          break;
        case 'J':
          jr();
          break;
        case 'X':
          out_.append((index_ & 1) ? 'z' : 'x');
          break;
        case 'G':
          out_.append((b1_ & 0x80) ? '-' : '+');
          break;
        case 'I':
          im8();
          break;
        case 'W':
          im16();
          break;
        case 'A':
          addr16();
          break;
        case 'T':
          target();
          break;
        case 'N':
          out_.appendDecimal(((b2_ >> 5) & 7u) + 1);
          break;
        case 'F':
          out_.append("&H");
          out_.appendHex(b2_ & 0x1F, 2);
          break;
        case 'C':
          cond();
          break;
        case 'E':
          out_.append(SpecReg8Names[(index_ & 1) * 4 + selector()]);
          break;
        case 'H':
          out_.append(SpecReg16Names[(index_ & 1) * 4 + selector()]);
          break;
        case 'P':
          out_.append(RegPointerNames[selector()]);
          break;
        case 'V':
          out_.appendDecimal(b1_ & 0x1F);
          break;
        default:
          out_.append(*p);
          break;
      }
    }
  }

 private:
  unsigned selector() const { return (b1_ >> 5) & 3u; }

  void reg() {
    out_.append('$');
    out_.appendDecimal(b1_ & 0x1F);
  }
  // Selector 3 names an explicit register byte: the count byte where the
  // instruction has one, else the next instruction byte. Other selectors
  // name the register pointer itself, not the register it points to.
  void second() {
    out_.append('$');
    if (selector() == 3) {
      const uint8_t rb = haveCount_ ? b2_ : code_.next();
      out_.appendDecimal(rb & 0x1F);
    } else {
      out_.append(RegPointerNames[selector()]);
    }
  }
  void jr() {
    if (b1_ & 0x80) {
      out_.append(",jr ");
      target();
    }
  }
  // The same relative target the processor jumps to, filler included.
  void target() {
    out_.append("&H");
    out_.appendHex(relativeTarget(code_.state()), 4);
  }
  void im8() {
    out_.append("&H");
    out_.appendHex(code_.next(), 2);
  }
  void im16() {
    out_.append("&H");
    out_.appendHex(plain16(code_.state()), 4);
  }
  // jp/cal address: a filler byte between the halves in word memory.
  void addr16() {
    out_.append("&H");
    out_.appendHex(immediate16(code_.state()), 4);
  }
  void cond() {
    const unsigned cc = index_ & 7;
    if (cc < ConditionNames.size()) out_.append(ConditionNames[cc]);
  }

  CodeView& code_;
  unsigned index_;
  DisasmText& out_;
  uint8_t b1_ = 0;
  uint8_t b2_ = 0;
  bool haveCount_ = false;
};

}  // namespace

unsigned disasmDecodeIndex(CodeView& code) {
  const uint8_t opcode = code.fetch();
  return resolveDecodeIndex(opcode, code.prefetched(1));
}

const char* disasmMnemonic(unsigned index) {
  return disasmRecord(index).mnemonic;
}

void disasmOperands(CodeView& code, unsigned index, DisasmText& out) {
  out.clear();
  const DisasmRecord& r = disasmRecord(index);
  if (!isRedirect(r) && !isUndefined(r)) OperandPrinter(code, index, out).print(r.operand);
  // An instruction ends on a word boundary in word-organised memory.
  code.finish();
}

namespace {

bool inRegion(int region, uint32_t a) {
  return static_cast<int32_t>(a) >= regionStart(region) &&
         static_cast<int32_t>(a) < regionEnd(region);
}

bool validRegion(int region) {
  return region >= 0 && region <= kRam1Row;
}

// One line of the walk: decode at the low 16 bits of `a` and return the
// full address that follows.
uint32_t decodeLine(CodeView& code, unsigned segment, uint32_t a, unsigned& index,
                    DisasmText& operands) {
  code.moveTo(static_cast<uint16_t>(a));
  index = disasmDecodeIndex(code);
  disasmOperands(code, index, operands);
  return physicalAddress(code.state(), segment, code.pc());
}

}  // namespace

std::size_t listInstructions(const Machine& m, uint32_t top, int region, std::span<ListingRow> rows,
                             uint32_t* after) {
  if (after) *after = top;
  if (!validRegion(region)) return 0;
  CodeView code(m, top);
  const unsigned segment = (top >> 16) & 3u;
  uint32_t a = top;
  std::size_t n = 0;
  while (n < rows.size() && inRegion(region, a)) {
    ListingRow& row = rows[n++];
    row.address = a;
    a = decodeLine(code, segment, a, row.index, row.operands);
    row.mnemonic = disasmMnemonic(row.index);
    row.next = a;
  }
  if (after) *after = a;
  return n;
}

std::optional<uint32_t> listingLineAddress(const Machine& m, uint32_t top, int region, int line) {
  if (!validRegion(region) || line < 0) return std::nullopt;
  CodeView code(m, top);
  const unsigned segment = (top >> 16) & 3u;
  uint32_t a = top;
  unsigned index = 0;
  DisasmText scratch;
  for (int i = 0; i < line; ++i) {
    if (!inRegion(region, a)) return std::nullopt;
    a = decodeLine(code, segment, a, index, scratch);
  }
  // Only a line that the listing draws can be chosen.
  if (!inRegion(region, a)) return std::nullopt;
  return a;
}

std::string formatListingRow(const ListingRow& row) {
  DisasmText address;
  address.appendHex(row.address, 5);
  std::string s(address.view());
  s += ':';
  s.resize(kListMnemonicColumn, ' ');
  s += row.mnemonic;
  if (!row.operands.empty()) {
    if (s.size() < static_cast<std::size_t>(kListOperandColumn)) s.resize(kListOperandColumn, ' ');
    s += row.operands.view();
  }
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

}  // namespace tarvo
