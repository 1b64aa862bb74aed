#include "tools/assembler.h"

#include <algorithm>
#include <array>
#include <string>

#include "machine/hex.h"

namespace tarvo {

namespace {

constexpr std::array<AsmMnemonic, 138> kMnemonics = {{
    // 0: no operands
    {"bup", 0xD800, 0},
    {"bdn", 0xD900, 0},
    {"nop", 0xF800, 0},
    {"clt", 0xF900, 0},
    {"fst", 0xFA00, 0},
    {"slw", 0xFB00, 0},
    {"cani", 0xFC00, 0},
    {"rtni", 0xFD00, 0},
    {"off", 0xFE00, 0},
    {"trp", 0xFF00, 0},
    // 1-4: returns, relative jumps, calls, jumps
    {"rtn", 0xF000, 1},
    {"jr", 0xB000, 2},
    {"cal", 0x7000, 3},
    {"jp", 0x3000, 4},
    // 5: stack, one register
    {"phs", 0x2600, 5},
    {"phu", 0x2700, 5},
    {"pps", 0x2E00, 5},
    {"ppu", 0x2F00, 5},
    {"phsw", 0xA600, 5},
    {"phuw", 0xA700, 5},
    {"ppsw", 0xAE00, 5},
    {"ppuw", 0xAF00, 5},
    // 6: one register with the jump option
    {"ldl", 0x1300, 6},
    {"rod", 0x1800, 6},
    {"rou", 0x1820, 6},
    {"bid", 0x1840, 6},
    {"biu", 0x1860, 6},
    {"did", 0x1A00, 6},
    {"diu", 0x1A20, 6},
    {"byd", 0x1A40, 6},
    {"byu", 0x1A60, 6},
    {"cmp", 0x1B00, 6},
    {"inv", 0x1B40, 6},
    {"gpo", 0x1C00, 6},
    {"gfl", 0x1C40, 6},
    {"stlw", 0x9200, 6},
    {"ldlw", 0x9300, 6},
    {"ppow", 0x9400, 6},
    {"rodw", 0x9800, 6},
    {"rouw", 0x9820, 6},
    {"bidw", 0x9840, 6},
    {"biuw", 0x9860, 6},
    {"didw", 0x9A00, 6},
    {"diuw", 0x9A20, 6},
    {"bydw", 0x9A40, 6},
    {"byuw", 0x9A60, 6},
    {"cmpw", 0x9B00, 6},
    {"invw", 0x9B40, 6},
    {"gpow", 0x9C00, 6},
    {"gflw", 0x9C40, 6},
    // 7, 8: block search and transfer
    {"sup", 0xDC00, 7},
    {"sdn", 0xDD00, 7},
    {"bups", 0xD800, 8},
    {"bdns", 0xD900, 8},
    // 9: LCD and port, register or immediate
    {"stl", 0x1200, 9},
    {"ppo", 0x1400, 9},
    {"pfl", 0x1440, 9},
    // 10: register and count
    {"stlm", 0xD200, 10},
    {"ldlm", 0xD300, 10},
    {"ppom", 0xD400, 10},
    {"didm", 0xDA00, 10},
    {"dium", 0xDA20, 10},
    {"bydm", 0xDA40, 10},
    {"byum", 0xDA60, 10},
    {"cmpm", 0xDB00, 10},
    {"invm", 0xDB40, 10},
    {"phsm", 0xE600, 10},
    {"phum", 0xE700, 10},
    {"ppsm", 0xEE00, 10},
    {"ppum", 0xEF00, 10},
    // 11-14: register arithmetic and logic
    {"anc", 0x0400, 11},
    {"nac", 0x0500, 11},
    {"orc", 0x0600, 11},
    {"xrc", 0x0700, 11},
    {"adb", 0x0A00, 11},
    {"sbb", 0x0B00, 11},
    {"an", 0x0C00, 11},
    {"na", 0x0D00, 11},
    {"or", 0x0E00, 11},
    {"xr", 0x0F00, 11},
    {"adc", 0x0000, 12},
    {"sbc", 0x0100, 12},
    {"ad", 0x0800, 12},
    {"sb", 0x0900, 12},
    {"ancw", 0x8400, 13},
    {"nacw", 0x8500, 13},
    {"orcw", 0x8600, 13},
    {"xrcw", 0x8700, 13},
    {"adbw", 0x8A00, 13},
    {"sbbw", 0x8B00, 13},
    {"anw", 0x8C00, 13},
    {"naw", 0x8D00, 13},
    {"orw", 0x8E00, 13},
    {"xrw", 0x8F00, 13},
    {"adcw", 0x8000, 14},
    {"sbcw", 0x8100, 14},
    {"adw", 0x8800, 14},
    {"sbw", 0x8900, 14},
    // 15, 16: multi-byte arithmetic and logic
    {"adbcm", 0xC000, 15},
    {"sbbcm", 0xC100, 15},
    {"ancm", 0xC400, 15},
    {"nacm", 0xC500, 15},
    {"orcm", 0xC600, 15},
    {"xrcm", 0xC700, 15},
    {"anm", 0xCC00, 15},
    {"nam", 0xCD00, 15},
    {"orm", 0xCE00, 15},
    {"xrm", 0xCF00, 15},
    {"adbm", 0xC800, 16},
    {"sbbm", 0xC900, 16},
    // 17-23: specific registers and register pointers
    {"gre", 0x9E00, 17},
    {"pre", 0x9600, 18},
    {"gsr", 0x1D00, 19},
    {"gsrw", 0x9D00, 19},
    {"psrw", 0x9500, 19},
    {"psr", 0x1500, 20},
    {"psrm", 0xD500, 21},
    {"gst", 0x1E00, 22},
    {"pst", 0x1600, 23},
    // 24-31: memory through index and register pairs
    {"sti", 0x2200, 24},
    {"std", 0x2400, 24},
    {"ldi", 0x2A00, 24},
    {"ldd", 0x2C00, 24},
    {"stiw", 0xA200, 25},
    {"stdw", 0xA400, 25},
    {"ldiw", 0xAA00, 25},
    {"lddw", 0xAC00, 25},
    {"stm", 0xE000, 26},
    {"stim", 0xE200, 26},
    {"stdm", 0xE400, 26},
    {"ldim", 0xEA00, 26},
    {"lddm", 0xEC00, 26},
    {"ldm", 0xE800, 27},
    {"ld", 0x2800, 28},
    {"ldw", 0xA800, 29},
    {"st", 0x2000, 30},
    {"stw", 0xA000, 31},
    // 32: data bytes
    {"db", 0x0000, 32},
}};

struct Name {
  std::string_view text;
  uint8_t code;
};

constexpr Name kConditions[] = {{"z", 0},  {"nc", 1}, {"lz", 2}, {"uz", 3},
                                {"nz", 4}, {"c", 5},  {"nlz", 6}};
constexpr Name kIndexNames[] = {{"ix", 0}, {"iz", 1}};
constexpr Name kPointerNames[] = {{"sx", 0}, {"sy", 1}, {"sz", 2}};
// gre reads all six; pre cannot load ky (the last entry).
constexpr Name kSpec16Names[] = {{"ix", 0}, {"iy", 1}, {"iz", 2}, {"us", 3}, {"ss", 4}, {"ky", 7}};
// gst reads all seven; pst cannot write tm (the last entry).
constexpr Name kSpec8Names[] = {{"pe", 0}, {"pd", 1}, {"ib", 2}, {"ua", 3},
                                {"ia", 4}, {"ie", 5}, {"tm", 7}};

constexpr uint8_t kNoCondition = 7;

char lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// A register operand as read: selector 0..2 names SX, SY, SZ; 3 a numbered
// register whose number is in `number`.
struct Reg {
  uint8_t selector = 0;
  uint8_t number = 0;
  bool numbered() const { return selector == 3; }
  uint8_t s() const { return static_cast<uint8_t>(selector << 5); }
};

enum class RegRead { Read, Failed };

class PlainNumbers final : public NumberSource {
 public:
  bool readNumber(std::string_view line, std::size_t& pos, uint16_t max, Value& out,
                  std::string& why) override {
    out.known = true;
    return readPlainNumber(line, pos, max, out.value, why);
  }
};

class Encoder {
 public:
  Encoder(std::string_view line, uint16_t origin, bool word, NumberSource& numbers)
      : s_(line), origin_(origin), word_(word), numbers_(numbers) {}

  AsmResult run() {
    AsmResult r;
    const bool ok = statement();
    if (ok) {
      r.bytes = out_;
      r.length = len_;
    } else {
      r.errorPos = static_cast<int>(p_) + 1;
      r.message = why_.empty() ? "cannot assemble this" : why_;
    }
    return r;
  }

 private:
  std::string_view s_;
  std::size_t p_ = 0;
  uint16_t origin_;
  bool word_;
  NumberSource& numbers_;
  std::array<uint8_t, 4> out_{};
  int len_ = 0;
  std::string why_;
  // A ",jr" suffix that could not be read leaves the line failing at its
  // comma; remember why for the message.
  std::size_t suffixComma_ = std::string_view::npos;
  std::string suffixWhy_;

  bool atEnd() const { return p_ >= s_.size(); }
  char peek() const { return atEnd() ? '\0' : s_[p_]; }
  bool fail(std::string why) {
    why_ = std::move(why);
    return false;
  }

  void emit(uint8_t b) {
    if (len_ < static_cast<int>(out_.size())) out_[static_cast<std::size_t>(len_++)] = b;
  }

  // --- lexical elements ---

  void blanks() {
    while (!atEnd() && s_[p_] == ' ') ++p_;
  }

  // Case-insensitive match of a lower-case keyword at the position, without
  // consuming; the whole keyword must fit in the line.
  bool matchesAt(std::size_t at, std::string_view kw) const {
    if (at > s_.size() || s_.size() - at < kw.size()) return false;
    for (std::size_t i = 0; i < kw.size(); ++i) {
      if (lower(s_[at + i]) != kw[i]) return false;
    }
    return true;
  }

  bool keyword(std::string_view kw) {
    if (!matchesAt(p_, kw)) return false;
    p_ += kw.size();
    return true;
  }

  // Index of the longest name matching at the position (consumed), or -1.
  template <std::size_t N>
  int longestName(const Name (&names)[N], std::size_t count = N) {
    int best = -1;
    std::size_t bestLen = 0;
    for (std::size_t i = 0; i < count && i < N; ++i) {
      if (names[i].text.size() > bestLen && matchesAt(p_, names[i].text)) {
        best = static_cast<int>(i);
        bestLen = names[i].text.size();
      }
    }
    p_ += bestLen;
    return best;
  }

  bool character(char c) {
    if (peek() != c || atEnd()) return false;
    ++p_;
    return true;
  }

  // Blanks, then the punctuation character.
  bool punct(char c) {
    blanks();
    if (character(c)) return true;
    return fail(std::string("expected '") + c + "'");
  }

  bool comma() {
    blanks();
    if (!character(',')) return fail("expected ','");
    blanks();
    return true;
  }

  bool number(uint16_t max, uint16_t& v, bool* known = nullptr) {
    NumberSource::Value value;
    std::string why;
    if (!numbers_.readNumber(s_, p_, max, value, why)) {
      if (p_ > s_.size()) p_ = s_.size();
      return fail(why.empty() ? "expected a number" : why);
    }
    if (p_ > s_.size()) p_ = s_.size();
    v = value.value;
    if (known) *known = value.known;
    return true;
  }

  RegRead reg(Reg& r) {
    blanks();
    if (!character('$')) {
      fail("expected a register");
      return RegRead::Failed;
    }
    const int ptr = longestName(kPointerNames);
    if (ptr >= 0) {
      r.selector = kPointerNames[ptr].code;
      r.number = 0;
      return RegRead::Read;
    }
    uint16_t n = 0;
    if (!readAsmDigits(s_, p_, 10, n)) {
      fail("expected a register number or sx, sy, sz after '$'");
      return RegRead::Failed;
    }
    if (n > 31) {
      fail("register number above 31");
      return RegRead::Failed;
    }
    r.selector = 3;
    r.number = static_cast<uint8_t>(n);
    return RegRead::Read;
  }

  // A numbered register $0..$31; a pointer form here is an error.
  bool numberedReg(Reg& r) {
    if (reg(r) == RegRead::Failed) return false;
    if (!r.numbered()) return fail("a numbered register $0..$31 is needed here");
    return true;
  }

  // A pointer register $sx, $sy or $sz only.
  bool pointerReg(Reg& r) {
    if (reg(r) == RegRead::Failed) return false;
    if (r.numbered()) return fail("a pointer register $sx, $sy or $sz is needed here");
    return true;
  }

  bool sign(uint8_t& s) {
    blanks();
    if (character('+')) {
      s = 0x00;
      return true;
    }
    if (character('-')) {
      s = 0x80;
      return true;
    }
    return fail("expected '+' or '-'");
  }

  bool count(uint8_t& k) {
    if (!comma()) return false;
    const int d = atEnd() ? 16 : asmDigitValue(peek());
    if (d < 2 || d > 8) return fail("expected a count 2..8");
    ++p_;
    k = static_cast<uint8_t>((d - 1) * 32);
    return true;
  }

  uint8_t condition() {
    blanks();
    const std::size_t save = p_;
    const int i = longestName(kConditions);
    if (i < 0) return kNoCondition;
    if (!numbers_.nameMayEndAt(s_, p_)) {
      p_ = save;
      return kNoCondition;
    }
    return kConditions[i].code;
  }

  // A named entry of a table at the position (after blanks).
  template <std::size_t N>
  bool name(const Name (&names)[N], std::size_t count, uint8_t& code, const char* what) {
    blanks();
    const int i = longestName(names, count);
    if (i < 0) return fail(std::string("expected ") + what);
    code = names[i].code;
    return true;
  }

  // --- relative displacements ---

  // TARGET: an absolute destination turned into a sign-and-magnitude
  // displacement from base.
  bool displacement(uint16_t base, uint8_t& d) {
    uint16_t target = 0;
    bool known = true;
    if (!number(0xFFFF, target, &known)) return false;
    if (!known) {
      d = 0;
      return true;
    }
    const int dist = static_cast<int16_t>(static_cast<uint16_t>(target - base));
    if (dist >= 0 && dist <= 127) {
      d = static_cast<uint8_t>(dist);
    } else if (dist < 0 && dist >= -127) {
      d = static_cast<uint8_t>(0x80 | -dist);
    } else {
      return fail("relative jump out of range (distance " + std::to_string(dist) + ")");
    }
    return true;
  }

  // SUFFIX: optional ", [jr] TARGET" after an operation. The displacement
  // is the last byte; in word memory it must be a word's second byte.
  void suffix() {
    blanks();
    const std::size_t save = p_;
    if (!character(',')) return;
    blanks();
    {
      const std::size_t beforeJr = p_;
      if (keyword("jr") && !numbers_.nameMayEndAt(s_, p_)) p_ = beforeJr;
    }
    const uint16_t base = static_cast<uint16_t>(origin_ + (word_ ? len_ / 2 : len_));
    uint8_t d = 0;
    if (!displacement(base, d)) {
      suffixComma_ = save;
      suffixWhy_ = why_;
      p_ = save;
      return;
    }
    out_[1] |= 0x80;
    if (word_ && len_ % 2 == 0) emit(0);
    emit(d);
  }

  // --- statement ---

  bool statement() {
    blanks();
    if (atEnd() || peek() == ';') return true;
    const std::size_t start = p_;
    int best = -1;
    std::size_t bestLen = 0;
    for (std::size_t i = 0; i < kMnemonics.size(); ++i) {
      const std::string_view n = kMnemonics[i].name;
      if (n.size() > bestLen && matchesAt(start, n)) {
        best = static_cast<int>(i);
        bestLen = n.size();
      }
    }
    if (best < 0) return fail("unknown mnemonic");
    p_ += bestLen;
    const AsmMnemonic& m = kMnemonics[static_cast<std::size_t>(best)];
    if (!operands(m)) return false;
    blanks();
    if (atEnd() || peek() == ';') return true;
    if (p_ == suffixComma_ && !suffixWhy_.empty()) return fail(suffixWhy_);
    return fail("unexpected text after the instruction");
  }

  bool operands(const AsmMnemonic& m) {
    const uint8_t H = static_cast<uint8_t>(m.base >> 8);
    const uint8_t L = static_cast<uint8_t>(m.base & 0xFF);
    switch (m.formClass) {
      case 0:
        emit(H);
        return true;
      case 1:
        emit(static_cast<uint8_t>(H ^ condition()));
        return true;
      case 2:
        return relativeJump(H);
      case 3:
        return conditionalAddress(H);
      case 4:
        return jump(H);
      case 5:
      case 6: {
        Reg r;
        if (!numberedReg(r)) return false;
        emit(H);
        emit(static_cast<uint8_t>(L ^ r.number));
        if (m.formClass == 6) suffix();
        return true;
      }
      case 7:
        return search(H);
      case 8: {
        uint16_t v = 0;
        if (!number(0xFF, v)) return false;
        emit(static_cast<uint8_t>(H ^ 0x80));
        emit(static_cast<uint8_t>(v));
        return true;
      }
      case 9:
        return lcdPort(m, H, L);
      case 10: {
        Reg r;
        uint8_t k = 0;
        if (!numberedReg(r) || !count(k)) return false;
        emit(H);
        emit(static_cast<uint8_t>(L ^ r.number));
        emit(k);
        return true;
      }
      case 11:
      case 12:
      case 13:
      case 14:
        return arithmetic(m.formClass, H, L);
      case 15:
      case 16:
        return multiByte(m.formClass, H, L);
      case 17:
      case 18:
        return specific(m.formClass == 18, kSpec16Names, m.formClass == 18 ? 5 : 6, 0xFFFF, H, L,
                        "ix, iy, iz, us, ss or ky");
      case 19:
      case 20:
      case 21:
        return pointerName(m.formClass, H, L);
      case 22:
      case 23:
        return specific(m.formClass == 23, kSpec8Names, m.formClass == 23 ? 6 : 7, 0xFF, H, L,
                        "pe, pd, ib, ua, ia, ie or tm");
      case 24:
      case 25:
      case 26:
      case 27:
      case 28:
      case 29:
      case 30:
      case 31:
        return memory(m.formClass, H, L);
      case 32:
        return dataBytes();
      default:
        return fail("unknown form class");
    }
  }

  // Class 2: jr [COND ,] TARGET.
  bool relativeJump(uint8_t H) {
    const uint8_t cc = condition();
    if (cc != kNoCondition && !comma()) return false;
    emit(static_cast<uint8_t>(H ^ cc));
    // In byte memory the displacement byte is counted from its own address;
    // in word memory it shares the opcode's word.
    const uint16_t base = word_ ? origin_ : static_cast<uint16_t>(origin_ + 1);
    uint8_t d = 0;
    if (!displacement(base, d)) return false;
    emit(d);
    return true;
  }

  // Class 3 (and the address form of class 4): [COND ,] IMM16. In word
  // memory the high byte goes into the next word's second byte.
  bool conditionalAddress(uint8_t H) {
    const uint8_t cc = condition();
    if (cc != kNoCondition && !comma()) return false;
    uint16_t v = 0;
    if (!number(0xFFFF, v)) return false;
    emit(static_cast<uint8_t>(H ^ cc));
    emit(static_cast<uint8_t>(v & 0xFF));
    if (word_) emit(0);
    emit(static_cast<uint8_t>(v >> 8));
    return true;
  }

  // Class 4: jp ($r), jp $r or jp [COND ,] address.
  bool jump(uint8_t H) {
    blanks();
    Reg r;
    if (character('(')) {
      if (!numberedReg(r)) return false;
      if (!character(')')) return fail("expected ')' directly after the register");
      emit(static_cast<uint8_t>(H ^ 0xEF));
      emit(r.number);
      return true;
    }
    if (peek() == '$') {
      if (!numberedReg(r)) return false;
      emit(static_cast<uint8_t>(H ^ 0xEE));
      emit(r.number);
      return true;
    }
    return conditionalAddress(H);
  }

  // Class 7: sup/sdn with a register or an immediate key.
  bool search(uint8_t H) {
    Reg r;
    if (reg(r) == RegRead::Read) {
      if (!r.numbered()) return fail("a numbered register $0..$31 is needed here");
      emit(H);
      emit(r.number);
      return true;
    }
    uint16_t v = 0;
    if (!number(0xFF, v)) return false;
    emit(static_cast<uint8_t>(H ^ 0x80));
    emit(static_cast<uint8_t>(v));
    return true;
  }

  // Class 9: stl, ppo, pfl with a register or an immediate.
  bool lcdPort(const AsmMnemonic& m, uint8_t H, uint8_t L) {
    Reg r;
    if (reg(r) == RegRead::Read) {
      if (!r.numbered()) return fail("a numbered register $0..$31 is needed here");
      emit(H);
      emit(static_cast<uint8_t>(L ^ r.number));
      suffix();
      return true;
    }
    uint16_t v = 0;
    if (!number(0xFF, v)) return false;
    emit(static_cast<uint8_t>(H ^ 0x40));
    // stl n has no operand byte; ppo n and pfl n keep theirs for bit 6.
    if (m.name != "stl") emit(L);
    emit(static_cast<uint8_t>(v));
    return true;
  }

  // Opcode of the indexed memory-arithmetic forms of classes 12 and 14,
  // derived from the register form's base opcode.
  static uint8_t indexedOpcode(uint8_t H, bool immediate) {
    unsigned v = H;
    if (v & 0x08) v -= 6;
    if (v & 0x80) v -= 0x40;
    v = (v * 2) & 0xFF;
    return static_cast<uint8_t>(v ^ (immediate ? 0x78 : 0x38));
  }

  // Classes 11-14: m $r,OPND|IMM8 [suffix], and for 12 and 14 the indexed
  // memory forms m (ix±OPND|IMM8),$r.
  bool arithmetic(int cls, uint8_t H, uint8_t L) {
    const bool hasImmediate = cls == 11 || cls == 12;
    blanks();
    if ((cls == 12 || cls == 14) && peek() == '(') {
      ++p_;
      const int idx = longestName(kIndexNames);  // directly after "("
      if (idx < 0) return fail("expected ix or iz directly after '('");
      const uint8_t x = kIndexNames[idx].code;
      uint8_t s = 0;
      if (!sign(s)) return false;
      Reg second;
      bool immediate = false;
      uint16_t imm = 0;
      if (reg(second) == RegRead::Failed) {
        if (cls != 12) return false;
        if (!number(0xFF, imm)) return false;
        immediate = true;
      }
      Reg first;
      if (!punct(')') || !comma() || !numberedReg(first)) return false;
      emit(static_cast<uint8_t>(indexedOpcode(H, immediate) ^ x));
      if (immediate) {
        emit(static_cast<uint8_t>(first.number ^ s));
        emit(static_cast<uint8_t>(imm));
      } else {
        emit(static_cast<uint8_t>(first.number ^ s ^ second.s()));
        if (second.numbered()) emit(second.number);
      }
      return true;
    }
    Reg first;
    if (!numberedReg(first) || !comma()) return false;
    Reg second;
    if (reg(second) == RegRead::Read) {
      emit(H);
      emit(static_cast<uint8_t>(L ^ first.number ^ second.s()));
      if (second.numbered()) emit(second.number);
    } else {
      if (!hasImmediate) return false;
      uint16_t imm = 0;
      if (!number(0xFF, imm)) return false;
      emit(static_cast<uint8_t>(H ^ 0x40));
      emit(static_cast<uint8_t>(L ^ first.number));
      emit(static_cast<uint8_t>(imm));
    }
    suffix();
    return true;
  }

  // Classes 15, 16: m $r,OPND,count [suffix]; adbm/sbbm also m $r,IMM5,count.
  bool multiByte(int cls, uint8_t H, uint8_t L) {
    Reg first;
    if (!numberedReg(first) || !comma()) return false;
    Reg second;
    uint8_t k = 0;
    if (reg(second) == RegRead::Read) {
      if (!count(k)) return false;
      emit(H);
      emit(static_cast<uint8_t>(L ^ first.number ^ second.s()));
      emit(static_cast<uint8_t>((second.numbered() ? second.number : 0) ^ k));
    } else {
      if (cls != 16) return false;
      uint16_t imm = 0;
      if (!number(31, imm) || !count(k)) return false;
      emit(static_cast<uint8_t>(H ^ 0x02));
      emit(static_cast<uint8_t>(L ^ first.number));
      emit(static_cast<uint8_t>(imm ^ k));
    }
    suffix();
    return true;
  }

  // Classes 17, 18, 22, 23: a specific register and a main register, or
  // (pre, pst) an immediate. The register code k puts k>>2 into the
  // opcode's bit 0 and k&3 into bits 5-6 of the second byte.
  template <std::size_t N>
  bool specific(bool hasImmediate, const Name (&names)[N], std::size_t count, uint16_t max,
                uint8_t H, uint8_t L, const char* what) {
    uint8_t k = 0;
    if (!name(names, count, k, what) || !comma()) return false;
    const uint8_t op = static_cast<uint8_t>(H ^ (k >> 2));
    const uint8_t second = static_cast<uint8_t>(L ^ ((k & 3) << 5));
    Reg r;
    if (reg(r) == RegRead::Read) {
      if (!r.numbered()) return fail("a numbered register $0..$31 is needed here");
      emit(op);
      emit(static_cast<uint8_t>(second ^ r.number));
      suffix();
      return true;
    }
    if (!hasImmediate) return false;
    uint16_t v = 0;
    if (!number(max, v)) return false;
    emit(static_cast<uint8_t>(op ^ 0x40));
    emit(second);
    emit(static_cast<uint8_t>(v & 0xFF));
    if (max > 0xFF) emit(static_cast<uint8_t>(v >> 8));
    return true;
  }

  // Classes 19-21: a pointer name without "$" and a register, an immediate
  // (psr) or a register and a count (psrm).
  bool pointerName(int cls, uint8_t H, uint8_t L) {
    uint8_t code = 0;
    if (!name(kPointerNames, 3, code, "sx, sy or sz") || !comma()) return false;
    const uint8_t S = static_cast<uint8_t>(code << 5);
    Reg r;
    if (cls == 21) {
      uint8_t k = 0;
      if (!numberedReg(r) || !count(k)) return false;
      emit(H);
      emit(static_cast<uint8_t>(L ^ r.number ^ S));
      emit(k);
      return true;
    }
    if (reg(r) == RegRead::Read) {
      if (!r.numbered()) return fail("a numbered register $0..$31 is needed here");
      emit(H);
      emit(static_cast<uint8_t>(L ^ r.number ^ S));
      suffix();
      return true;
    }
    if (cls != 20) return false;
    uint16_t v = 0;
    if (!number(31, v)) return false;
    emit(static_cast<uint8_t>(H ^ 0x40));
    emit(static_cast<uint8_t>(L ^ v ^ S));
    return true;
  }

  // Classes 24-31: loads and stores through IX/IZ with an offset, through a
  // register pair, register moves, immediates, and st/stw of an immediate
  // through a pointer register.
  bool memory(int cls, uint8_t H, uint8_t L) {
    Reg first;
    if (cls == 30 || cls == 31) {
      if (reg(first) == RegRead::Failed) return immediateStore(cls, H, L);
      if (!first.numbered()) return fail("a numbered register $0..$31 is needed here");
    } else if (!numberedReg(first)) {
      return false;
    }
    if (!comma()) return false;
    const uint8_t n = first.number;
    blanks();
    if (character('(')) {
      blanks();
      const int idx = longestName(kIndexNames);
      if (idx >= 0) return indexed(cls, H, L, n, kIndexNames[idx].code);
      if (cls < 28) return fail("expected ix or iz");
      // Register-indirect: m $r,(OPND) [suffix].
      Reg pair;
      if (reg(pair) == RegRead::Failed || !punct(')')) return false;
      emit(static_cast<uint8_t>(H ^ (cls <= 29 ? 0x39 : 0x30)));
      emit(static_cast<uint8_t>(L ^ n ^ pair.s()));
      if (pair.numbered()) emit(pair.number);
      suffix();
      return true;
    }
    if (cls == 27 || cls == 28 || cls == 29) {
      Reg second;
      if (reg(second) == RegRead::Read) {
        uint8_t k = 0;
        if (cls == 27 && !count(k)) return false;
        emit(static_cast<uint8_t>(H ^ 0x2A));
        emit(static_cast<uint8_t>(L ^ n ^ second.s()));
        if (cls == 27) {
          emit(static_cast<uint8_t>((second.numbered() ? second.number : 0) ^ k));
        } else if (second.numbered()) {
          emit(second.number);
        }
        suffix();
        return true;
      }
      if (cls == 27) return false;
      uint16_t v = 0;
      if (cls == 28) {
        if (!number(0xFF, v)) return false;
        emit(static_cast<uint8_t>(H ^ 0x6A));
        emit(static_cast<uint8_t>(L ^ n));
        emit(static_cast<uint8_t>(v));
        suffix();
        return true;
      }
      if (!number(0xFFFF, v)) return false;
      emit(static_cast<uint8_t>(H ^ 0x79));
      emit(static_cast<uint8_t>(L ^ n));
      emit(static_cast<uint8_t>(v & 0xFF));
      emit(static_cast<uint8_t>(v >> 8));
      return true;
    }
    return fail("expected '('");
  }

  // The indexed form after "(" and the index name: SIGN OPND|IMM8 ")" and,
  // for classes 26 and 27, a count.
  bool indexed(int cls, uint8_t H, uint8_t L, uint8_t n, uint8_t x) {
    uint8_t s = 0;
    if (!sign(s)) return false;
    const bool withCount = cls == 26 || cls == 27;
    const bool hasImmediate = cls == 24 || cls == 28 || cls == 30;
    Reg second;
    if (reg(second) == RegRead::Failed) {
      if (!hasImmediate) return false;
      uint16_t v = 0;
      if (!number(0xFF, v) || !punct(')')) return false;
      emit(static_cast<uint8_t>(H ^ x ^ 0x40));
      emit(static_cast<uint8_t>(L ^ n ^ s));
      emit(static_cast<uint8_t>(v));
      return true;
    }
    if (!punct(')')) return false;
    uint8_t k = 0;
    if (withCount && !count(k)) return false;
    emit(static_cast<uint8_t>(H ^ x));
    emit(static_cast<uint8_t>(L ^ n ^ s ^ second.s()));
    if (withCount) {
      emit(static_cast<uint8_t>((second.numbered() ? second.number : 0) ^ k));
    } else if (second.numbered()) {
      emit(second.number);
    }
    return true;
  }

  // Classes 30, 31 without a register first: st IMM8,($p) and stw IMM16,($p).
  bool immediateStore(int cls, uint8_t H, uint8_t L) {
    uint16_t v = 0;
    if (!number(cls == 30 ? 0xFF : 0xFFFF, v) || !comma() || !punct('(')) return false;
    Reg ptr;
    if (!pointerReg(ptr) || !punct(')')) return false;
    emit(static_cast<uint8_t>(H ^ 0x70));
    emit(static_cast<uint8_t>(L ^ ptr.s()));
    emit(static_cast<uint8_t>(v & 0xFF));
    if (cls == 31) emit(static_cast<uint8_t>(v >> 8));
    return true;
  }

  // Class 32: db with up to four byte values separated by commas. A missing
  // value or comma ends the list; a value that was read but is too large is
  // an error rather than the end of the list.
  bool dataBytes() {
    for (int i = 0; i < 4; ++i) {
      const std::size_t before = p_;
      uint16_t v = 0;
      if (!number(0xFF, v)) {
        // Where the digits would have started: after blanks and "&h".
        std::size_t probe = before;
        while (probe < s_.size() && s_[probe] == ' ') ++probe;
        if (matchesAt(probe, "&h")) probe += 2;
        if (p_ > probe) return false;  // digits were read: the value is out of range
        return true;
      }
      emit(static_cast<uint8_t>(v));
      blanks();
      if (!character(',')) return true;
      blanks();
    }
    return true;
  }
};

}  // namespace

std::span<const AsmMnemonic> asmMnemonics() {
  return kMnemonics;
}

int asmDigitValue(char c) {
  const int d = hexDigit(static_cast<unsigned char>(c));
  return d < 0 ? 16 : d;
}

bool readAsmDigits(std::string_view line, std::size_t& pos, unsigned base, uint16_t& value) {
  value = 0;
  bool any = false;
  while (pos < line.size()) {
    const int d = asmDigitValue(line[pos]);
    if (d >= static_cast<int>(base)) break;
    const uint16_t next = static_cast<uint16_t>(value * base + static_cast<unsigned>(d));
    if (next < value) break;
    value = next;
    ++pos;
    any = true;
  }
  return any;
}

bool readPlainNumber(std::string_view line, std::size_t& pos, uint16_t max, uint16_t& value,
                     std::string& why) {
  while (pos < line.size() && line[pos] == ' ') ++pos;
  unsigned base = 10;
  if (pos + 2 <= line.size() && line[pos] == '&' && lower(line[pos + 1]) == 'h') {
    base = 16;
    pos += 2;
  }
  if (!readAsmDigits(line, pos, base, value)) {
    why = "expected a number";
    return false;
  }
  if (value > max) {
    why = "value " + std::to_string(value) + " above " + std::to_string(max);
    return false;
  }
  return true;
}

AsmResult assemble(std::string_view line, uint16_t origin, bool word, NumberSource& numbers) {
  return Encoder(line, origin, word, numbers).run();
}

AsmResult assemble(std::string_view line, uint16_t origin, bool word) {
  PlainNumbers plain;
  return assemble(line, origin, word, plain);
}

AsmResult assembleEditLine(std::string_view text, uint16_t origin, bool word) {
  return assemble(text.substr(0, std::min(text.size(), kEditLineLimit)), origin, word);
}

}  // namespace tarvo
