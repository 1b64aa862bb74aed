#include "tools/xasm.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <map>
#include <set>
#include <string_view>

#include "tools/assembler.h"

namespace tarvo {

namespace {

constexpr int kMaxIncludeDepth = 16;
// Files read for one program, counting every include. A file that includes
// itself (or one that leads back to it) several times would otherwise be
// read a number of times that grows exponentially with the depth.
constexpr std::size_t kMaxFilesRead = 1024;
// Source text read for one program, all files together.
constexpr std::size_t kMaxSourceBytes = 16u << 20;
constexpr int kMaxExpressionDepth = 64;
constexpr int64_t kValueLimit = 0xFFFFFFFFll;  // keeps sums of symbols far from overflow
constexpr uint32_t kAddressSpace = 0x10000;    // addresses (bytes or words) per image

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
bool isLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool identStart(char c) {
  return isLetter(c) || c == '_' || c == '.';
}
bool identChar(char c) {
  return identStart(c) || isDigit(c);
}
char lowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

void skipBlanks(std::string_view t, std::size_t& p) {
  while (p < t.size() && t[p] == ' ') ++p;
}

bool atEndOrComment(std::string_view t, std::size_t p) {
  return p >= t.size() || t[p] == ';';
}

// A whole word at p, compared case-insensitively with a lower-case keyword.
bool wordAt(std::string_view t, std::size_t p, std::string_view kw) {
  if (p > t.size() || t.size() - p < kw.size()) return false;
  for (std::size_t i = 0; i < kw.size(); ++i) {
    if (lowerAscii(t[p + i]) != kw[i]) return false;
  }
  return p + kw.size() >= t.size() || !identChar(t[p + kw.size()]);
}

std::string hex(unsigned v, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", digits, v);
  return buf;
}

using SymbolMap = std::map<std::string, int64_t, std::less<>>;

// Expressions: sums and differences of terms; a term is a number, a symbol,
// a parenthesised expression, lo(expr), hi(expr), or a signed term.
class Expression {
 public:
  Expression(std::string_view t, const SymbolMap& symbols, bool final,
             const std::set<std::string, std::less<>>& pending)
      : t_(t), symbols_(symbols), final_(final), pending_(pending) {}

  // Parses at pos (blanks first). known is false when an undefined symbol was
  // used in a non-final evaluation; the value then means nothing.
  bool parse(std::size_t& pos, int64_t& value, bool& known) { return sum(pos, value, known, 0); }

  std::string why;
  std::size_t errPos = 0;

 private:
  std::string_view t_;
  const SymbolMap& symbols_;
  bool final_;
  const std::set<std::string, std::less<>>& pending_;

  bool fail(std::size_t at, std::string message) {
    errPos = at;
    why = std::move(message);
    return false;
  }

  bool sum(std::size_t& p, int64_t& v, bool& known, int depth) {
    if (!term(p, v, known, depth)) return false;
    for (;;) {
      std::size_t q = p;
      skipBlanks(t_, q);
      if (q >= t_.size() || (t_[q] != '+' && t_[q] != '-')) return true;
      const char op = t_[q];
      p = q + 1;
      int64_t r = 0;
      bool k = true;
      if (!term(p, r, k, depth)) return false;
      v = op == '+' ? v + r : v - r;
      known = known && k;
      if (v > kValueLimit || v < -kValueLimit) return fail(q, "value too large");
    }
  }

  bool closing(std::size_t& p) {
    skipBlanks(t_, p);
    if (p >= t_.size() || t_[p] != ')') return fail(p, "expected ')'");
    ++p;
    return true;
  }

  bool term(std::size_t& p, int64_t& v, bool& known, int depth) {
    if (depth > kMaxExpressionDepth) return fail(p, "expression nested too deeply");
    skipBlanks(t_, p);
    if (p >= t_.size()) return fail(p, "expected a number or a symbol");
    const char c = t_[p];
    if (c == '-' || c == '+') {
      ++p;
      if (!term(p, v, known, depth + 1)) return false;
      if (c == '-') v = -v;
      return true;
    }
    if (c == '(') {
      ++p;
      return sum(p, v, known, depth + 1) && closing(p);
    }
    if (isDigit(c) || c == '&') return number(p, v, known);
    if (identStart(c)) return symbol(p, v, known, depth);
    return fail(p, "expected a number or a symbol");
  }

  // Numbers as the one-line syntax writes them: decimal or &H hexadecimal.
  bool number(std::size_t& p, int64_t& v, bool& known) {
    const std::size_t start = p;
    unsigned base = 10;
    if (t_[p] == '&') {
      if (p + 1 >= t_.size() || lowerAscii(t_[p + 1]) != 'h') return fail(p, "expected &H");
      base = 16;
      p += 2;
    }
    uint16_t value = 0;
    if (!readAsmDigits(t_, p, base, value)) return fail(p, "expected digits");
    if (p < t_.size() && asmDigitValue(t_[p]) < static_cast<int>(base)) {
      return fail(start, "number above 65535");
    }
    v = value;
    known = true;
    return true;
  }

  bool symbol(std::size_t& p, int64_t& v, bool& known, int depth) {
    const std::size_t start = p;
    std::size_t e = p;
    while (e < t_.size() && identChar(t_[e])) ++e;
    const std::string_view name = t_.substr(start, e - start);
    std::size_t q = e;
    skipBlanks(t_, q);
    const bool call = q < t_.size() && t_[q] == '(';
    const bool isLo = name.size() == 2 && lowerAscii(name[0]) == 'l' && lowerAscii(name[1]) == 'o';
    const bool isHi = name.size() == 2 && lowerAscii(name[0]) == 'h' && lowerAscii(name[1]) == 'i';
    if (call && (isLo || isHi)) {
      p = q + 1;
      if (!sum(p, v, known, depth + 1) || !closing(p)) return false;
      const auto w = static_cast<uint16_t>(v & 0xFFFF);
      v = isLo ? (w & 0xFF) : (w >> 8);
      return true;
    }
    p = e;
    const auto it = symbols_.find(name);
    if (it != symbols_.end()) {
      v = it->second;
      known = true;
      return true;
    }
    if (!final_) {
      v = 0;
      known = false;
      return true;
    }
    if (pending_.count(name) != 0) {
      return fail(start, "symbol '" + std::string(name) + "' has no value (circular definition)");
    }
    return fail(start, "undefined symbol '" + std::string(name) + "'");
  }
};

// The instruction encoder's numbers, read as expressions.
class ExpressionNumbers final : public NumberSource {
 public:
  ExpressionNumbers(const SymbolMap& symbols, bool final,
                    const std::set<std::string, std::less<>>& pending)
      : symbols_(symbols), final_(final), pending_(pending) {}

  bool readNumber(std::string_view line, std::size_t& pos, uint16_t max, Value& out,
                  std::string& why) override {
    // "$name" is a register that could not be read, not a symbol.
    if (pos > 0 && pos <= line.size() && line[pos - 1] == '$') {
      why = "expected a register number or sx, sy, sz after '$'";
      return false;
    }
    std::size_t p = pos;
    skipBlanks(line, p);
    const std::size_t start = p;
    Expression e(line, symbols_, final_, pending_);
    int64_t v = 0;
    bool known = true;
    if (!e.parse(p, v, known)) {
      pos = e.errPos;
      why = e.why;
      return false;
    }
    if (!known) {
      pos = p;
      out.value = 0;
      out.known = false;
      return true;
    }
    if (v < 0 || v > max) {
      pos = start;
      why = "value " + std::to_string(v) + " out of range 0.." + std::to_string(max);
      return false;
    }
    pos = p;
    out.value = static_cast<uint16_t>(v);
    out.known = true;
    return true;
  }

  bool nameMayEndAt(std::string_view line, std::size_t pos) const override {
    return pos >= line.size() || !identChar(line[pos]);
  }

 private:
  const SymbolMap& symbols_;
  bool final_;
  const std::set<std::string, std::less<>>& pending_;
};

enum class Kind { Empty, Equ, Org, Db, Dw, Ds, Include, Instruction };

struct Statement {
  Kind kind = Kind::Empty;
  std::string label;  // label or equ name; empty for none
  std::size_t labelPos = 0;
  std::size_t operands = 0;  // after the directive word; the mnemonic of an instruction
};

Statement parseStatement(std::string_view t) {
  Statement st;
  std::size_t p = 0;
  skipBlanks(t, p);
  if (p < t.size() && identStart(t[p])) {
    std::size_t e = p;
    while (e < t.size() && identChar(t[e])) ++e;
    if (e < t.size() && t[e] == ':') {
      st.label = std::string(t.substr(p, e - p));
      st.labelPos = p;
      p = e + 1;
      skipBlanks(t, p);
      if (wordAt(t, p, "equ")) {
        st.kind = Kind::Equ;
        st.operands = p + 3;
        return st;
      }
    } else {
      std::size_t q = e;
      skipBlanks(t, q);
      if (q > e && wordAt(t, q, "equ")) {
        st.kind = Kind::Equ;
        st.label = std::string(t.substr(p, e - p));
        st.labelPos = p;
        st.operands = q + 3;
        return st;
      }
    }
  }
  skipBlanks(t, p);
  st.operands = p;
  if (atEndOrComment(t, p)) return st;
  static constexpr std::pair<std::string_view, Kind> kDirectives[] = {
      {"org", Kind::Org}, {"db", Kind::Db},           {"dw", Kind::Dw},
      {"ds", Kind::Ds},   {"include", Kind::Include},
  };
  for (const auto& [word, kind] : kDirectives) {
    if (wordAt(t, p, word)) {
      st.kind = kind;
      st.operands = p + word.size();
      return st;
    }
  }
  st.kind = Kind::Instruction;
  return st;
}

struct SourceLine {
  int file = 0;
  int number = 0;
  std::string text;     // as in the file
  std::string blanked;  // tabs turned into blanks, same positions
};

struct Fault {
  std::size_t pos = 0;
  std::string why;
};

class Program {
 public:
  Program(const XasmOptions& options, const SourceReader& reader)
      : opt_(options), reader_(reader), unit_(options.word ? 2 : 1) {}

  XasmOutput run(const std::string& path) {
    XasmOutput out;
    const std::string bad = checkXasmOptions(opt_);
    if (!bad.empty()) {
      out.errors.push_back({path, 0, 0, bad});
      return out;
    }
    files_.push_back(path);
    outFiles_.push_back(path);
    outFileOf_.push_back(0);
    load(0, 0, std::nullopt);
    info_.assign(lines_.size(), {});
    pass1();
    resolveEquates();
    pass2();
    std::stable_sort(errors_.begin(), errors_.end(),
                     [](const Error& a, const Error& b) { return a.line < b.line; });
    for (Error& e : errors_) out.errors.push_back(std::move(e.error));
    out.listing = std::move(listing_);
    out.files = std::move(outFiles_);
    out.lines = std::move(stored_);
    for (const auto& [name, value] : symbols_) {
      out.symbols.push_back({name, static_cast<uint16_t>(value & 0xFFFF)});
    }
    std::stable_sort(out.symbols.begin(), out.symbols.end(),
                     [](const XasmSymbol& a, const XasmSymbol& b) { return a.value < b.value; });
    if (out.errors.empty()) buildImage(out);
    return out;
  }

 private:
  struct LineInfo {
    uint32_t origin = 0;  // address at the start of the line's output
    uint32_t units = 0;   // addresses it occupies
    int length = -1;      // instruction length in bytes from the first pass
  };
  struct Error {
    std::size_t line;  // index into lines_, for source order
    XasmError error;
  };

  const XasmOptions& opt_;
  const SourceReader& reader_;
  const uint32_t unit_;                // bytes per address
  std::vector<std::string> files_;     // one entry per inclusion, for messages
  std::vector<std::string> outFiles_;  // each file read once, in order of first inclusion
  std::vector<int> outFileOf_;         // index into outFiles_ for each entry of files_
  std::vector<XasmLine> stored_;       // lines that stored bytes
  std::size_t sourceBytes_ = 0;
  std::vector<SourceLine> lines_;
  std::vector<LineInfo> info_;
  SymbolMap symbols_;
  std::map<std::string, std::size_t, std::less<>> definedAt_;
  std::set<std::string, std::less<>> pending_;  // equates still without a value
  std::vector<std::pair<std::size_t, Statement>> pendingLines_;
  std::vector<Error> errors_;
  std::vector<uint8_t> memory_;
  std::vector<int32_t> owner_;  // line index that wrote each byte, -1 for none
  std::string listing_;

  void error(std::size_t line, std::size_t pos, std::string message) {
    XasmError e;
    if (line < lines_.size()) {
      e.file = files_[static_cast<std::size_t>(lines_[line].file)];
      e.line = lines_[line].number;
      e.column = static_cast<int>(pos) + 1;
    } else {
      e.file = files_.empty() ? std::string() : files_[0];
    }
    e.message = std::move(message);
    errors_.push_back({line, std::move(e)});
  }

  // --- loading, with includes expanded in place ---

  // from: the include line and the column of its file name, if any.
  void load(int file, int depth, std::optional<std::pair<std::size_t, std::size_t>> from) {
    const std::string path = files_[static_cast<std::size_t>(file)];
    const std::optional<std::string> text = reader_(path);
    if (!text) {
      if (from) {
        error(from->first, from->second, "cannot read the file '" + path + "'");
      } else {
        errors_.push_back({0, {path, 0, 0, "cannot read the file"}});
      }
      return;
    }
    sourceBytes_ += text->size();
    if (sourceBytes_ > kMaxSourceBytes) {
      const std::string why = "more than " + std::to_string(kMaxSourceBytes >> 20) +
                              " MB of source text in one program";
      if (from) {
        error(from->first, from->second, why);
      } else {
        errors_.push_back({0, {path, 0, 0, why}});
      }
      return;
    }
    std::size_t start = 0;
    int number = 0;
    while (start < text->size()) {
      std::size_t end = text->find('\n', start);
      if (end == std::string::npos) end = text->size();
      SourceLine line;
      line.file = file;
      line.number = ++number;
      line.text = text->substr(start, end - start);
      if (!line.text.empty() && line.text.back() == '\r') line.text.pop_back();
      line.blanked = line.text;
      std::replace(line.blanked.begin(), line.blanked.end(), '\t', ' ');
      start = end + 1;
      lines_.push_back(std::move(line));
      const std::size_t index = lines_.size() - 1;
      const Statement st = parseStatement(lines_[index].blanked);
      if (st.kind == Kind::Include) include(index, st, depth);
    }
  }

  void include(std::size_t index, const Statement& st, int depth) {
    const std::string_view t = lines_[index].blanked;
    std::size_t p = st.operands;
    skipBlanks(t, p);
    if (p >= t.size() || t[p] != '"') return error(index, p, "expected a \"file name\"");
    const std::size_t close = t.find('"', p + 1);
    if (close == std::string_view::npos) return error(index, p, "missing closing quote");
    std::size_t q = close + 1;
    skipBlanks(t, q);
    if (!atEndOrComment(t, q)) return error(index, q, "unexpected text after the file name");
    if (depth + 1 > kMaxIncludeDepth) {
      return error(index, p,
                   "includes nested more than " + std::to_string(kMaxIncludeDepth) + " deep");
    }
    if (files_.size() >= kMaxFilesRead) {
      return error(index, p,
                   "more than " + std::to_string(kMaxFilesRead) + " files read for one program");
    }
    const std::string name(lines_[index].text.substr(p + 1, close - p - 1));
    std::filesystem::path target(name);
    if (target.is_relative()) {
      const std::string& parent = files_[static_cast<std::size_t>(lines_[index].file)];
      target = std::filesystem::path(parent).parent_path() / target;
    }
    files_.push_back(target.string());
    const auto seen = std::find(outFiles_.begin(), outFiles_.end(), files_.back());
    outFileOf_.push_back(static_cast<int>(seen - outFiles_.begin()));
    if (seen == outFiles_.end()) outFiles_.push_back(files_.back());
    load(static_cast<int>(files_.size() - 1), depth + 1, std::make_pair(index, p));
  }

  // --- symbols ---

  bool declare(std::size_t line, const std::string& name, std::size_t pos) {
    const auto it = definedAt_.find(name);
    if (it != definedAt_.end()) {
      const SourceLine& first = lines_[it->second];
      error(line, pos,
            "symbol '" + name + "' is already defined at " +
                files_[static_cast<std::size_t>(first.file)] + ":" + std::to_string(first.number));
      return false;
    }
    definedAt_[name] = line;
    return true;
  }

  void defineLabel(std::size_t line, const Statement& st, uint32_t value) {
    if (!st.label.empty() && declare(line, st.label, st.labelPos)) symbols_[st.label] = value;
  }

  // Evaluates the expression at p; the rest of the line must be empty.
  bool wholeExpression(std::size_t line, std::size_t p, bool final, int64_t& v, bool& known,
                       Fault& f) {
    const std::string_view t = lines_[line].blanked;
    Expression e(t, symbols_, final, pending_);
    if (!e.parse(p, v, known)) {
      f = {e.errPos, e.why};
      return false;
    }
    skipBlanks(t, p);
    if (!atEndOrComment(t, p)) {
      f = {p, "unexpected text after the expression"};
      return false;
    }
    return true;
  }

  std::size_t firstNonBlank(std::size_t line, std::size_t p) const {
    skipBlanks(lines_[line].blanked, p);
    return p;
  }

  // --- first pass: addresses and symbols ---

  void pass1() {
    uint32_t origin = opt_.base.value_or(0);
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      const Statement st = parseStatement(lines_[i].blanked);
      LineInfo& info = info_[i];
      uint32_t units = 0;
      switch (st.kind) {
        case Kind::Equ: {
          if (!declare(i, st.label, st.labelPos)) break;
          int64_t v = 0;
          bool known = true;
          Fault f;
          if (!wholeExpression(i, st.operands, false, v, known, f)) {
            error(i, f.pos, f.why);
          } else if (known) {
            symbols_[st.label] = v;
          } else {
            pending_.insert(st.label);
            pendingLines_.push_back({i, st});
          }
          break;
        }
        case Kind::Org: {
          int64_t v = 0;
          bool known = true;
          Fault f;
          if (!wholeExpression(i, st.operands, false, v, known, f)) {
            error(i, f.pos, f.why);
          } else if (!known) {
            error(i, firstNonBlank(i, st.operands), "org needs a value known at this line");
          } else if (v < 0 || v >= kAddressSpace) {
            error(i, firstNonBlank(i, st.operands),
                  "org address " + std::to_string(v) + " out of range 0..65535");
          } else {
            origin = static_cast<uint32_t>(v);
          }
          break;
        }
        case Kind::Db:
        case Kind::Dw: {
          std::vector<uint8_t> bytes;
          Fault f;
          data(i, st, false, bytes, f);
          units = static_cast<uint32_t>((bytes.size() + unit_ - 1) / unit_);
          break;
        }
        case Kind::Ds: {
          uint32_t count = 0;
          std::optional<uint8_t> fill;
          Fault f;
          if (!reserve(i, st, false, count, fill, f)) {
            if (f.why.rfind("ds count", 0) == 0) error(i, f.pos, f.why);
          }
          units = count;
          break;
        }
        case Kind::Instruction: {
          ExpressionNumbers numbers(symbols_, false, pending_);
          const AsmResult r =
              assemble(statementText(i, st), static_cast<uint16_t>(origin), opt_.word, numbers);
          if (r.errorPos == 0) {
            info.length = r.length;
            units = static_cast<uint32_t>((r.length + static_cast<int>(unit_) - 1) /
                                          static_cast<int>(unit_));
          }
          break;
        }
        case Kind::Empty:
        case Kind::Include:
          break;
      }
      if (st.kind != Kind::Equ) defineLabel(i, st, origin);
      info.origin = origin;
      info.units = units;
      if (units > 0 && origin + units > kAddressSpace) {
        error(i, st.operands, "the output runs past address &HFFFF");
      }
      origin = std::min(origin + units, kAddressSpace);
    }
  }

  // Equates that used later symbols get their values once those exist.
  void resolveEquates() {
    bool progress = true;
    while (progress && !pendingLines_.empty()) {
      progress = false;
      for (auto it = pendingLines_.begin(); it != pendingLines_.end();) {
        int64_t v = 0;
        bool known = true;
        Fault f;
        if (wholeExpression(it->first, it->second.operands, false, v, known, f) && known) {
          symbols_[it->second.label] = v;
          pending_.erase(it->second.label);
          it = pendingLines_.erase(it);
          progress = true;
        } else {
          ++it;
        }
      }
    }
    for (const auto& [line, st] : pendingLines_) {
      int64_t v = 0;
      bool known = true;
      Fault f;
      if (!wholeExpression(line, st.operands, true, v, known, f)) error(line, f.pos, f.why);
    }
  }

  // The line as the encoder sees it: the label blanked out, so that error
  // positions are columns of the source line.
  std::string statementText(std::size_t line, const Statement& st) const {
    std::string s = lines_[line].blanked;
    std::fill(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(std::min(st.operands, s.size())),
              ' ');
    return s;
  }

  // --- directives ---

  // db and dw items; the bytes read so far stay in out even on a fault.
  bool data(std::size_t line, const Statement& st, bool final, std::vector<uint8_t>& out,
            Fault& f) {
    const std::string_view raw = lines_[line].text;
    const std::string_view t = lines_[line].blanked;
    const bool bytes = st.kind == Kind::Db;
    std::size_t p = st.operands;
    skipBlanks(t, p);
    if (atEndOrComment(t, p)) return true;
    for (;;) {
      skipBlanks(t, p);
      if (bytes && p < t.size() && t[p] == '"') {
        const std::size_t close = t.find('"', p + 1);
        if (close == std::string_view::npos) {
          f = {p, "missing closing quote"};
          return false;
        }
        for (std::size_t j = p + 1; j < close; ++j) out.push_back(static_cast<uint8_t>(raw[j]));
        p = close + 1;
      } else {
        const std::size_t start = p;
        Expression e(t, symbols_, final, pending_);
        int64_t v = 0;
        bool known = true;
        if (!e.parse(p, v, known)) {
          f = {e.errPos, e.why};
          return false;
        }
        if (!known) v = 0;
        const int64_t low = bytes ? -0x80 : -0x8000;
        const int64_t high = bytes ? 0xFF : 0xFFFF;
        if (v < low || v > high) {
          f = {start, std::string(bytes ? "byte" : "word") + " value " + std::to_string(v) +
                          " out of range " + std::to_string(low) + ".." + std::to_string(high)};
          return false;
        }
        out.push_back(static_cast<uint8_t>(v & 0xFF));
        if (!bytes) out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
      }
      skipBlanks(t, p);
      if (p < t.size() && t[p] == ',') {
        ++p;
        continue;
      }
      if (atEndOrComment(t, p)) return true;
      f = {p, "expected ',' or the end of the line"};
      return false;
    }
  }

  // ds count[,fill]. The count must be known at the line, in either pass.
  bool reserve(std::size_t line, const Statement& st, bool final, uint32_t& count,
               std::optional<uint8_t>& fill, Fault& f) {
    const std::string_view t = lines_[line].blanked;
    std::size_t p = st.operands;
    skipBlanks(t, p);
    const std::size_t start = p;
    Expression e(t, symbols_, false, pending_);
    int64_t v = 0;
    bool known = true;
    if (!e.parse(p, v, known)) {
      f = {e.errPos, "ds count: " + e.why};
      return false;
    }
    if (!known) {
      f = {start, "ds count needs a value known at this line"};
      return false;
    }
    if (v < 0 || v > kAddressSpace) {
      f = {start, "ds count " + std::to_string(v) + " out of range 0..65536"};
      return false;
    }
    count = static_cast<uint32_t>(v);
    skipBlanks(t, p);
    if (p < t.size() && t[p] == ',') {
      ++p;
      skipBlanks(t, p);
      const std::size_t fillStart = p;
      Expression fe(t, symbols_, final, pending_);
      int64_t fv = 0;
      if (!fe.parse(p, fv, known)) {
        f = {fe.errPos, fe.why};
        return false;
      }
      if (!known) fv = 0;
      if (fv < -0x80 || fv > 0xFF) {
        f = {fillStart, "fill byte " + std::to_string(fv) + " out of range -128..255"};
        return false;
      }
      fill = static_cast<uint8_t>(fv & 0xFF);
      skipBlanks(t, p);
    }
    if (!atEndOrComment(t, p)) {
      f = {p, "unexpected text after ds"};
      return false;
    }
    return true;
  }

  // --- second pass: bytes ---

  bool outsideImage(uint64_t index) const {
    const uint64_t lo = static_cast<uint64_t>(opt_.base.value_or(0)) * unit_;
    if (opt_.base && index < lo) return true;
    return opt_.size && index >= lo + *opt_.size;
  }

  // Stores a statement's bytes at an address, two per word in word memory
  // (an odd last byte completed with 0).
  void put(std::size_t line, uint32_t origin, std::vector<uint8_t> bytes) {
    if (opt_.word && bytes.size() % 2 != 0) bytes.push_back(0);
    bool reportedRange = false;
    bool reportedOverlap = false;
    const uint64_t first = static_cast<uint64_t>(origin) * unit_;
    for (std::size_t k = 0; k < bytes.size(); ++k) {
      const uint64_t index = first + k;
      if (index >= memory_.size()) break;  // past the address space; reported in pass 1
      if (outsideImage(index)) {
        if (!reportedRange) {
          error(line, 0,
                "address &H" + hex(static_cast<unsigned>(index / unit_), 4) +
                    " lies outside the image");
          reportedRange = true;
        }
        continue;
      }
      if (owner_[index] >= 0) {
        if (!reportedOverlap) {
          const SourceLine& other = lines_[static_cast<std::size_t>(owner_[index])];
          error(line, 0,
                "address &H" + hex(static_cast<unsigned>(index / unit_), 4) +
                    " is already filled by " + files_[static_cast<std::size_t>(other.file)] + ":" +
                    std::to_string(other.number));
          reportedOverlap = true;
        }
        continue;
      }
      memory_[index] = bytes[k];
      owner_[index] = static_cast<int32_t>(line);
    }
  }

  void listLine(std::size_t line, const std::string& address, const std::vector<uint8_t>& bytes) {
    const std::size_t perRow = 4;
    std::size_t k = 0;
    uint32_t addr = info_[line].origin;
    do {
      std::string row = k == 0 ? address : hex(addr, 4);
      row.resize(6, ' ');
      for (std::size_t j = 0; j < perRow; ++j) {
        row += k + j < bytes.size() ? hex(bytes[k + j], 2) + " " : "   ";
      }
      if (k == 0) {
        row += " ";
        row += lines_[line].text;
      }
      while (!row.empty() && row.back() == ' ') row.pop_back();
      listing_ += row;
      listing_ += '\n';
      k += perRow;
      addr += static_cast<uint32_t>(perRow / unit_);
    } while (k < bytes.size());
  }

  void pass2() {
    memory_.assign(static_cast<std::size_t>(kAddressSpace) * unit_, 0xFF);
    owner_.assign(memory_.size(), -1);
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      const Statement st = parseStatement(lines_[i].blanked);
      const LineInfo& info = info_[i];
      std::vector<uint8_t> bytes;
      std::string address = hex(info.origin & 0xFFFF, 4);
      switch (st.kind) {
        case Kind::Equ: {
          const auto it = symbols_.find(st.label);
          address = it == symbols_.end() ? "=????" : "=" + hex(it->second & 0xFFFF, 4);
          break;
        }
        case Kind::Db:
        case Kind::Dw: {
          Fault f;
          if (!data(i, st, true, bytes, f)) {
            error(i, f.pos, f.why);
            bytes.clear();
          }
          break;
        }
        case Kind::Ds: {
          uint32_t count = 0;
          std::optional<uint8_t> fill;
          Fault f;
          if (!reserve(i, st, true, count, fill, f)) {
            // Count faults were reported by the first pass.
            if (f.why.rfind("ds count", 0) != 0) error(i, f.pos, f.why);
          } else if (fill && count == info.units) {
            bytes.assign(static_cast<std::size_t>(count) * unit_, *fill);
          }
          break;
        }
        case Kind::Instruction: {
          ExpressionNumbers numbers(symbols_, true, pending_);
          const AsmResult r = assemble(statementText(i, st), static_cast<uint16_t>(info.origin),
                                       opt_.word, numbers);
          if (r.errorPos != 0) {
            error(i, static_cast<std::size_t>(r.errorPos - 1), r.message);
          } else if (r.length != info.length) {
            error(i, st.operands, "internal error: the instruction changed length between passes");
          } else {
            bytes.assign(r.bytes.begin(), r.bytes.begin() + r.length);
          }
          break;
        }
        case Kind::Org:
        case Kind::Empty:
        case Kind::Include:
          break;
      }
      if (!bytes.empty()) put(i, info.origin, bytes);
      if (opt_.word && bytes.size() % 2 != 0) bytes.push_back(0);
      if (!bytes.empty()) {
        const SourceLine& src = lines_[i];
        stored_.push_back({outFileOf_[static_cast<std::size_t>(src.file)], src.number, info.origin,
                           static_cast<uint32_t>(bytes.size() / unit_)});
      }
      if (st.kind == Kind::Ds && bytes.size() > 4) {
        // A long fill is listed by its first row only.
        bytes.resize(4);
      }
      listLine(i, address, bytes);
    }
  }

  void buildImage(XasmOutput& out) const {
    std::size_t lo = 0;
    std::size_t hi = 0;
    if (opt_.base || opt_.size) {
      lo = static_cast<std::size_t>(opt_.base.value_or(0)) * unit_;
      if (opt_.size) {
        hi = lo + *opt_.size;
      } else {
        hi = lo;
        for (std::size_t k = memory_.size(); k > lo; --k) {
          if (owner_[k - 1] >= 0) {
            hi = k;
            break;
          }
        }
      }
    } else {
      const auto firstUsed =
          std::find_if(owner_.begin(), owner_.end(), [](int32_t o) { return o >= 0; });
      if (firstUsed != owner_.end()) {
        lo = static_cast<std::size_t>(firstUsed - owner_.begin());
        const auto lastUsed =
            std::find_if(owner_.rbegin(), owner_.rend(), [](int32_t o) { return o >= 0; });
        hi = static_cast<std::size_t>(owner_.rend() - lastUsed);
      }
    }
    hi = std::min(hi, memory_.size());
    lo = std::min(lo, hi);
    out.image.assign(memory_.begin() + static_cast<std::ptrdiff_t>(lo),
                     memory_.begin() + static_cast<std::ptrdiff_t>(hi));
    out.imageBase = static_cast<uint32_t>(lo / unit_);
  }
};

}  // namespace

std::string formatXasmError(const XasmError& e) {
  if (e.line <= 0) return e.file + ": " + e.message;
  return e.file + ":" + std::to_string(e.line) + ":" + std::to_string(e.column) + ": " + e.message;
}

std::optional<std::string> readSourceFile(const std::string& path) {
  // Never waits on a pipe or device in place of a file.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  // A file larger than a whole program may be is read only far enough for
  // the program's limit to refuse it.
  const std::size_t want = std::min(static_cast<std::size_t>(st.st_size), kMaxSourceBytes + 1);
  std::string text(want, '\0');
  std::size_t got = 0;
  while (got < kMaxSourceBytes + 1) {
    if (got == text.size()) text.resize(std::min(text.size() * 2 + 4096, kMaxSourceBytes + 1));
    const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  text.resize(got);
  return text;
}

std::string checkXasmOptions(const XasmOptions& options) {
  const uint64_t unit = options.word ? 2 : 1;
  const uint64_t space = static_cast<uint64_t>(kAddressSpace) * unit;
  const uint64_t base = options.base.value_or(0);
  if (base >= kAddressSpace) return "the base address must lie below &H10000";
  if (options.size) {
    if (options.word && *options.size % 2 != 0) {
      return "a word-organised image needs an even size in bytes";
    }
    if (base * unit + *options.size > space) {
      return "the image would reach past the end of the address space";
    }
  }
  return {};
}

XasmOutput assembleProgram(const std::string& path, const XasmOptions& options,
                           const SourceReader& reader) {
  return Program(options, reader).run(path);
}

}  // namespace tarvo
