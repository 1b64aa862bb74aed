// Expressions typed into the debugger: breakpoint conditions and values.
//
//   numbers    &H0D (hex), 0x0D, 13 (decimal)
//   registers  PC SS US IX IY IZ KY SX SY SZ UA IA IB IE PE PD TM F, and any
//              other name of the register table; $0..$31 the main registers
//   flags      Z NZ C NC LZ NLZ UZ NUZ: 1 when the flag reads so, else 0
//   memory     (e) the byte at e: a physical address above &HFFFF, else a
//              16-bit address in the data segment of IX (bank switching
//              applied, no side effects)
//   labels     from the symbol table
//   grouping   [e]
//   operators  unary - ! ~; * / %; + -; << >>; < <= > >=; == !=; &; ^; |;
//              &&; || (C's precedence). Values are 64-bit and wrap.
//
// Names are not case-sensitive for registers and flags; labels are. A name
// that is a register or flag means that, not a label.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo {

struct Machine;
class SymbolTable;

class Expression {
 public:
  // Parses text; on failure error() says what and where (1-based column).
  static Expression parse(std::string_view text, const SymbolTable* symbols = nullptr);

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  bool empty() const { return code_.empty(); }

  // The value on the machine's state; nothing (and *error) for a division
  // by zero. Reads no memory through anything with side effects and
  // allocates nothing.
  std::optional<int64_t> evaluate(const Machine& m, std::string* error = nullptr) const;

 private:
  enum class Op : uint8_t {
    Number,
    Register,
    MainRegister,
    Flag,
    Memory,
    Neg,
    Not,
    Compl,
    Mul,
    Div,
    Mod,
    Add,
    Sub,
    Shl,
    Shr,
    Lt,
    Le,
    Gt,
    Ge,
    Eq,
    Ne,
    And,
    Xor,
    Or,
    LogAnd,
    LogOr,
  };
  struct Node {
    Op op;
    int64_t value = 0;  // number, register index, main register, flag index
  };
  friend class ExpressionParser;

  std::vector<Node> code_;  // postfix
  std::string error_;
};

// The deepest an expression may nest (brackets, unary operators); deeper
// text is refused with a message rather than parsed.
constexpr int kExpressionDepth = 64;

}  // namespace tarvo
