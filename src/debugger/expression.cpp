#include "debugger/expression.h"

#include <array>
#include <cctype>

#include "cpu/memory.h"
#include "debugger/symbols.h"
#include "machine.h"
#include "machine/hex.h"
#include "machine/registers.h"

namespace tarvo {

namespace {

struct FlagName {
  std::string_view name;
  uint8_t bit;
  bool whenSet;
};
// The flag line's texts: the first reads when the bit is 0.
constexpr std::array<FlagName, 8> kFlagNames = {{
    {"Z", 0x80, false},
    {"NZ", 0x80, true},
    {"NC", 0x40, false},
    {"C", 0x40, true},
    {"LZ", 0x20, false},
    {"NLZ", 0x20, true},
    {"UZ", 0x10, false},
    {"NUZ", 0x10, true},
}};

bool equalNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

bool identStart(char ch) {
  return std::isalpha(static_cast<unsigned char>(ch)) || ch == '_' || ch == '.' || ch == '@';
}
bool identChar(char ch) {
  return identStart(ch) || std::isdigit(static_cast<unsigned char>(ch));
}

}  // namespace

// Precedence climbing over the text, emitting postfix code.
class ExpressionParser {
 public:
  ExpressionParser(std::string_view t, const SymbolTable* symbols, Expression& out)
      : t_(t), symbols_(symbols), out_(out) {}

  void run() {
    skip();
    if (p_ >= t_.size()) return fail("empty expression");
    if (!binary(0, 0)) return;
    skip();
    if (p_ < t_.size()) fail("unexpected '" + std::string(1, t_[p_]) + "'");
  }

 private:
  using Op = Expression::Op;

  struct Binary {
    std::string_view text;
    Op op;
    int level;
  };
  // Longer operators first, so that "<=" is not read as "<".
  static constexpr std::array<Binary, 18> kBinary = {{
      {"||", Op::LogOr, 1},
      {"&&", Op::LogAnd, 2},
      {"==", Op::Eq, 6},
      {"!=", Op::Ne, 6},
      {"<=", Op::Le, 7},
      {">=", Op::Ge, 7},
      {"<<", Op::Shl, 8},
      {">>", Op::Shr, 8},
      {"|", Op::Or, 3},
      {"^", Op::Xor, 4},
      {"&", Op::And, 5},
      {"<", Op::Lt, 7},
      {">", Op::Gt, 7},
      {"+", Op::Add, 9},
      {"-", Op::Sub, 9},
      {"*", Op::Mul, 10},
      {"/", Op::Div, 10},
      {"%", Op::Mod, 10},
  }};

  void fail(std::string what) {
    if (!out_.error_.empty()) return;
    out_.error_ = "column " + std::to_string(p_ + 1) + ": " + what;
  }
  bool failed() const { return !out_.error_.empty(); }
  void skip() {
    while (p_ < t_.size() && (t_[p_] == ' ' || t_[p_] == '\t')) ++p_;
  }
  void emit(Op op, int64_t v = 0) { out_.code_.push_back({op, v}); }

  const Binary* peekBinary() {
    skip();
    // "&H" starts a number, never the & operator.
    if (p_ + 1 < t_.size() && t_[p_] == '&' && (t_[p_ + 1] == 'H' || t_[p_ + 1] == 'h') &&
        t_.substr(p_, 2) != "&&")
      return nullptr;
    for (const Binary& b : kBinary)
      if (t_.substr(p_, b.text.size()) == b.text) return &b;
    return nullptr;
  }

  bool binary(int minLevel, int depth) {
    if (!unary(depth)) return false;
    for (;;) {
      const Binary* b = peekBinary();
      if (b == nullptr || b->level < minLevel) return true;
      p_ += b->text.size();
      if (!binary(b->level + 1, depth + 1)) return false;
      emit(b->op);
    }
  }

  bool unary(int depth) {
    if (depth > kExpressionDepth) {
      fail("expression nested too deeply");
      return false;
    }
    skip();
    if (p_ >= t_.size()) {
      fail("expected a value");
      return false;
    }
    const char ch = t_[p_];
    if (ch == '-' || ch == '!' || ch == '~') {
      ++p_;
      if (!unary(depth + 1)) return false;
      emit(ch == '-' ? Op::Neg : ch == '!' ? Op::Not : Op::Compl);
      return true;
    }
    if (ch == '(' || ch == '[') {
      const char close = ch == '(' ? ')' : ']';
      ++p_;
      if (!binary(0, depth + 1)) return false;
      skip();
      if (p_ >= t_.size() || t_[p_] != close) {
        fail(std::string("expected '") + close + "'");
        return false;
      }
      ++p_;
      if (ch == '(') emit(Op::Memory);
      return true;
    }
    return primary();
  }

  bool primary() {
    const std::size_t start = p_;
    const char ch = t_[p_];
    if (ch == '&' && p_ + 1 < t_.size() && (t_[p_ + 1] == 'H' || t_[p_ + 1] == 'h')) {
      p_ += 2;
      return number(16, start);
    }
    if (ch == '0' && p_ + 1 < t_.size() && (t_[p_ + 1] == 'x' || t_[p_ + 1] == 'X')) {
      p_ += 2;
      return number(16, start);
    }
    if (std::isdigit(static_cast<unsigned char>(ch))) return number(10, start);
    if (ch == '$') {
      ++p_;
      int n = 0, digits = 0;
      while (p_ < t_.size() && std::isdigit(static_cast<unsigned char>(t_[p_])) && digits < 3) {
        n = n * 10 + (t_[p_++] - '0');
        ++digits;
      }
      if (digits == 0 || n > 31) {
        p_ = start;
        fail("a main register is $0 to $31");
        return false;
      }
      emit(Op::MainRegister, n);
      return true;
    }
    if (identStart(ch)) {
      while (p_ < t_.size() && identChar(t_[p_])) ++p_;
      const std::string_view name = t_.substr(start, p_ - start);
      for (std::size_t i = 0; i < kRegisters.size(); ++i) {
        if (equalNoCase(kRegisters[i].name, name)) {
          emit(Op::Register, static_cast<int64_t>(i));
          return true;
        }
      }
      for (std::size_t i = 0; i < kFlagNames.size(); ++i) {
        if (equalNoCase(kFlagNames[i].name, name)) {
          emit(Op::Flag, static_cast<int64_t>(i));
          return true;
        }
      }
      if (symbols_ != nullptr) {
        if (const auto v = symbols_->value(name)) {
          emit(Op::Number, *v);
          return true;
        }
      }
      p_ = start;
      fail("unknown name '" + std::string(name) + "'");
      return false;
    }
    fail("expected a value");
    return false;
  }

  bool number(int radix, std::size_t start) {
    uint64_t v = 0;
    int digits = 0;
    while (p_ < t_.size()) {
      const char c = t_[p_];
      const int d = hexDigit(static_cast<unsigned char>(c));
      if (d < 0 || d >= radix) break;
      v = v * static_cast<uint64_t>(radix) + static_cast<uint64_t>(d);
      if (++digits > 16) {
        p_ = start;
        fail("number too long");
        return false;
      }
      ++p_;
    }
    if (digits == 0 || (p_ < t_.size() && identChar(t_[p_]))) {
      p_ = start;
      fail("malformed number");
      return false;
    }
    emit(Op::Number, static_cast<int64_t>(v));
    return true;
  }

  std::string_view t_;
  const SymbolTable* symbols_;
  Expression& out_;
  std::size_t p_ = 0;
};

Expression Expression::parse(std::string_view text, const SymbolTable* symbols) {
  Expression e;
  ExpressionParser(text, symbols, e).run();
  if (!e.ok()) e.code_.clear();
  return e;
}

std::optional<int64_t> Expression::evaluate(const Machine& m, std::string* error) const {
  if (!ok() || code_.empty()) {
    if (error) *error = ok() ? "empty expression" : error_;
    return std::nullopt;
  }
  // Each bracket level holds at most one pending value per precedence level.
  constexpr std::size_t kStack = 12 * (kExpressionDepth + 2);
  std::array<uint64_t, kStack> stack;
  std::size_t sp = 0;
  const ProcessorState& c = m.cpu;
  for (const Node& n : code_) {
    if (sp >= kStack) {
      if (error) *error = "expression too long";
      return std::nullopt;
    }
    switch (n.op) {
      case Op::Number:
        stack[sp++] = static_cast<uint64_t>(n.value);
        continue;
      case Op::Register:
        stack[sp++] = kRegisters[static_cast<std::size_t>(n.value)].get(c);
        continue;
      case Op::MainRegister:
        stack[sp++] = c.R[n.value & 31];
        continue;
      case Op::Flag: {
        const FlagName& f = kFlagNames[static_cast<std::size_t>(n.value)];
        stack[sp++] = ((c.F & f.bit) != 0) == f.whenSet ? 1 : 0;
        continue;
      }
      default:
        break;
    }
    if (sp < 1) break;
    uint64_t& a = stack[sp - 1];
    switch (n.op) {
      case Op::Memory: {
        const uint32_t physical = a > 0xFFFF
                                      ? static_cast<uint32_t>(a & 0xFFFFF)
                                      : physicalAddress(c, static_cast<unsigned>(c.UA >> 4) & 3u,
                                                        static_cast<uint16_t>(a));
        a = readPhysical(m, physical);
        continue;
      }
      case Op::Neg:
        a = 0 - a;
        continue;
      case Op::Not:
        a = a == 0 ? 1 : 0;
        continue;
      case Op::Compl:
        a = ~a;
        continue;
      default:
        break;
    }
    if (sp < 2) break;
    const uint64_t b = stack[--sp];
    uint64_t& x = stack[sp - 1];
    const auto sx = static_cast<int64_t>(x), sb = static_cast<int64_t>(b);
    switch (n.op) {
      case Op::Mul:
        x = x * b;
        break;
      case Op::Div:
      case Op::Mod:
        if (b == 0) {
          if (error) *error = "division by zero";
          return std::nullopt;
        }
        if (sx == INT64_MIN && sb == -1) {
          x = n.op == Op::Div ? x : 0;  // wraps, as the other operators do
        } else {
          x = static_cast<uint64_t>(n.op == Op::Div ? sx / sb : sx % sb);
        }
        break;
      case Op::Add:
        x = x + b;
        break;
      case Op::Sub:
        x = x - b;
        break;
      case Op::Shl:
        x = b >= 64 ? 0 : x << b;
        break;
      case Op::Shr:
        x = b >= 64 ? 0 : x >> b;
        break;
      case Op::Lt:
        x = sx < sb;
        break;
      case Op::Le:
        x = sx <= sb;
        break;
      case Op::Gt:
        x = sx > sb;
        break;
      case Op::Ge:
        x = sx >= sb;
        break;
      case Op::Eq:
        x = x == b;
        break;
      case Op::Ne:
        x = x != b;
        break;
      case Op::And:
        x = x & b;
        break;
      case Op::Xor:
        x = x ^ b;
        break;
      case Op::Or:
        x = x | b;
        break;
      case Op::LogAnd:
        x = (x != 0 && b != 0);
        break;
      case Op::LogOr:
        x = (x != 0 || b != 0);
        break;
      default:
        break;
    }
  }
  if (sp != 1) {
    if (error) *error = "malformed expression";
    return std::nullopt;
  }
  return static_cast<int64_t>(stack[0]);
}

}  // namespace tarvo
