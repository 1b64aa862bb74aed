// One-line assembler: turns one line of instruction text into at most four
// bytes of machine code, or the 1-based position of the first character that
// could not be used. The debugger's in-place editor and `tarvo-asm --line`
// call it through assembleEditLine; the cross-assembler for whole programs
// calls assemble with its own NumberSource, so every instruction is encoded
// here and nowhere else.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tarvo {

// One entry of the assembler's mnemonic table: the lower-case name, the base
// word (high byte the base opcode H, low byte L) and the form class 0..32.
struct AsmMnemonic {
  std::string_view name;
  uint16_t base;
  uint8_t formClass;
};

// The 138 mnemonics the assembler knows, in table order.
std::span<const AsmMnemonic> asmMnemonics();

struct AsmResult {
  std::array<uint8_t, 4> bytes{};  // unused bytes stay 0
  int length = 0;                  // 0..4
  int errorPos = 0;                // 0 on success, else 1-based position in the line
  std::string message;             // why the line failed (empty on success)
};

// The places where a number stands in an instruction go through this hook.
// The one-line assembler reads a plain number there; the cross-assembler
// reads an expression with labels.
class NumberSource {
 public:
  struct Value {
    uint16_t value = 0;
    bool known = true;  // false: a symbol not yet defined (first pass only)
  };
  virtual ~NumberSource() = default;
  // Read a number no larger than max at pos (0-based; blanks first). On
  // success advance pos past it. On failure leave pos where reading stopped
  // and describe the fault in why.
  virtual bool readNumber(std::string_view line, std::size_t& pos, uint16_t max, Value& out,
                          std::string& why) = 0;
  // Whether a name that ends at pos (a condition, the keyword "jr") may be
  // taken as that name. The one-line syntax needs no delimiter after names.
  virtual bool nameMayEndAt(std::string_view line, std::size_t pos) const {
    (void)line;
    (void)pos;
    return true;
  }
};

// Value of a digit character: 0-9, A-F or a-f; 16 for anything else.
int asmDigitValue(char c);

// Digits in base 10 or 16 at pos, accumulated modulo 65536; a digit that
// would make the value smaller ends the digits unread. Returns whether at
// least one digit was read.
bool readAsmDigits(std::string_view line, std::size_t& pos, unsigned base, uint16_t& value);

// The plain number element: blanks, an optional "&h" (either case) for
// hexadecimal, then digits; fails without digits or above max.
bool readPlainNumber(std::string_view line, std::size_t& pos, uint16_t max, uint16_t& value,
                     std::string& why);

// Assemble one line. origin is the instruction's 16-bit address (a word
// address in word-organised memory); word is true for the word-organised
// on-chip ROM, which moves the bases of relative jumps and inserts the
// filler bytes the processor skips there.
AsmResult assemble(std::string_view line, uint16_t origin, bool word, NumberSource& numbers);
AsmResult assemble(std::string_view line, uint16_t origin, bool word);

// Longest line the instruction editor hands over; longer text is cut.
constexpr std::size_t kEditLineLimit = 64;

// The editor's entry: cuts the text to its first 64 characters, then
// assembles it with plain numbers.
AsmResult assembleEditLine(std::string_view text, uint16_t origin, bool word);

}  // namespace tarvo
