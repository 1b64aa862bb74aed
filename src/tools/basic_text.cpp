#include "tools/basic_text.h"

#include <cstdio>

#include "basic_firmware.h"

namespace tarvo::basic {

namespace fw = basic_firmware;

namespace {

constexpr uint8_t kFirstToken = 0x80;
// The firmware's token names and its keyword table must agree: the last
// keyword is its last statement.
static_assert(fw::kKeywords.size() == fw::TKILL + 1 - kFirstToken);

bool isDigit(uint8_t c) {
  return c >= '0' && c <= '9';
}

bool isLetter(uint8_t c) {
  return c >= 'A' && c <= 'Z';
}

// What LIST puts a space between a keyword and: letters, digits, quotes.
bool isAlnum(uint8_t c) {
  return c == '"' || isDigit(c) || isLetter(c);
}

// Token of the keyword at the start of s, the first in table order that
// matches; 0 for none.
uint8_t matchKeyword(std::string_view s, std::size_t& length) {
  for (std::size_t i = 0; i < fw::kKeywords.size(); ++i) {
    const std::string_view k = fw::kKeywords[i];
    if (s.substr(0, k.size()) == k) {
      length = k.size();
      return static_cast<uint8_t>(kFirstToken + i);
    }
  }
  return 0;
}

// A crunched line that is a program line: its number, then nothing, ":",
// "@", a statement keyword or a letter. digits gets the number's length.
bool isProgramLine(std::string_view c, std::size_t& digits) {
  digits = 0;
  while (digits < c.size() && isDigit(static_cast<uint8_t>(c[digits]))) ++digits;
  if (digits == 0) return false;
  if (digits == c.size()) return true;
  const auto next = static_cast<uint8_t>(c[digits]);
  if (next == ':' || next == '@' || isLetter(next)) return true;
  return (next >= kFirstToken && next < kFirstToken + fw::NSTMT) ||
         next >= kFirstToken + fw::NSTMT2;
}

uint16_t readWord(std::span<const uint8_t> ram, uint32_t a) {
  return static_cast<uint16_t>(ram[a] | ram[a + 1] << 8);
}

void writeWord(std::span<uint8_t> ram, uint32_t a, uint32_t v) {
  ram[a] = static_cast<uint8_t>(v);
  ram[a + 1] = static_cast<uint8_t>(v >> 8);
}

// A line number 1..9999 as the firmware keeps it: four decimal digits, the
// two lowest in the first byte.
uint16_t toBcd(unsigned n) {
  return static_cast<uint16_t>((n % 10) | (n / 10 % 10) << 4 | (n / 100 % 10) << 8 |
                               (n / 1000 % 10) << 12);
}

bool fromBcd(uint16_t bcd, unsigned& n) {
  n = 0;
  for (int shift = 12; shift >= 0; shift -= 4) {
    const unsigned digit = (bcd >> shift) & 15;
    if (digit > 9) return false;
    n = n * 10 + digit;
  }
  return true;
}

std::string hexByte(uint8_t b) {
  char text[8];
  std::snprintf(text, sizeof text, "&H%02X", b);
  return text;
}

}  // namespace

std::string crunch(std::string_view typed) {
  std::string out;
  std::size_t i = 0;
  while (i < typed.size()) {
    const char c = typed[i];
    if (c == ' ') {
      ++i;
      continue;
    }
    if (c == '"') {  // a string goes as it is, quotes and all
      out += typed[i++];
      while (i < typed.size() && typed[i] != '"') out += typed[i++];
      if (i < typed.size()) out += typed[i++];
      continue;
    }
    if (c == '?') {  // short for PRINT
      out += static_cast<char>(fw::TPRINT);
      ++i;
      continue;
    }
    std::size_t length = 0;
    const uint8_t token = matchKeyword(typed.substr(i), length);
    if (token == 0) {
      out += typed[i++];
      continue;
    }
    out += static_cast<char>(token);
    i += length;
    if (token == fw::TREM) {  // after REM the line goes as it is
      out += typed.substr(i);
      break;
    }
  }
  return out;
}

std::string listLine(unsigned number, std::string_view crunched) {
  std::string out = std::to_string(number) + " ";
  uint8_t prev = ' ';
  for (std::size_t i = 0; i < crunched.size(); ++i) {
    const auto c = static_cast<uint8_t>(crunched[i]);
    if (c < kFirstToken) {
      out += static_cast<char>(c);
      prev = c;
      continue;
    }
    if (isAlnum(prev)) out += ' ';
    const std::size_t index = c - kFirstToken;
    if (index < fw::kKeywords.size()) out += fw::kKeywords[index];
    const auto next = i + 1 < crunched.size() ? static_cast<uint8_t>(crunched[i + 1]) : 0;
    if (next >= kFirstToken || isAlnum(next)) {
      out += ' ';
      prev = ' ';
    } else {
      prev = 'A';
    }
  }
  return out;
}

Program parse(std::string_view text) {
  Program p;
  std::size_t lineNo = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view raw = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++lineNo;
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    std::string line;
    bool bad = false;
    for (const char ch : raw) {
      const auto c = static_cast<uint8_t>(ch);
      if (c < 0x20 || c > 0x7E) {
        p.errors.push_back({lineNo, "character " + hexByte(c) + " cannot be typed"});
        bad = true;
        break;
      }
      line += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : ch;
    }
    if (bad || line.find_first_not_of(' ') == std::string::npos) continue;
    const std::string c = crunch(line);
    std::size_t digits = 0;
    if (!isProgramLine(c, digits)) {
      p.errors.push_back({lineNo, "not a program line: a line number 1-9999 and a statement"});
      continue;
    }
    unsigned number = 0;
    for (std::size_t i = 0; i < digits && number <= 9999; ++i) number = number * 10 + (c[i] - '0');
    if (number == 0 || number > 9999) {
      p.errors.push_back({lineNo, "line number outside 1-9999"});
      continue;
    }
    const std::string body = c.substr(digits);
    if (body.size() > fw::LMAX) {
      p.errors.push_back({lineNo, "line too long: more than " + std::to_string(fw::LMAX) +
                                      " characters with its keywords as tokens"});
      continue;
    }
    if (body.empty())
      p.lines.erase(number);
    else
      p.lines[number] = body;
  }
  return p;
}

bool hasBasic(std::span<const uint8_t> ram) {
  if (ram.size() < kRamSize) return false;
  const uint32_t sig = fw::VARS + fw::SIG;
  return ram[sig] == 'T' && ram[sig + 1] == 'B' && ram[sig + 2] == 'A' && ram[sig + 3] == '1';
}

bool atPrompt(std::span<const uint8_t> ram) {
  return hasBasic(ram) && ram[fw::VARS + fw::RUNF] == 0 && ram[fw::VARS + fw::INMODE] == 0;
}

Listing list(std::span<const uint8_t> ram) {
  Listing l;
  if (!hasBasic(ram)) {
    l.error = "no BASIC in this RAM (its signature is missing)";
    return l;
  }
  const uint32_t pend = readWord(ram, fw::VARS + fw::PEND);
  uint32_t at = fw::PSTART;
  for (;;) {
    if (at + 2 > fw::MEMTOP) {
      l.error = "the program area is damaged: it runs past the end of memory";
      return l;
    }
    const uint16_t word = readWord(ram, at);
    if (word > 0x9999) break;  // the end mark
    unsigned number = 0;
    const uint32_t size = at + 2 < fw::MEMTOP ? ram[at + 2] : 0;
    if (!fromBcd(word, number) || number == 0 || size < 4 || at + size > fw::MEMTOP) {
      l.error = "the program area is damaged at address " + std::to_string(at);
      return l;
    }
    std::string text;
    for (uint32_t i = at + 3; i < at + size - 1; ++i) text += static_cast<char>(ram[i]);
    for (const char ch : text) {
      const auto c = static_cast<uint8_t>(ch);
      if (c == 0 || (c >= kFirstToken && std::size_t{c} - kFirstToken >= fw::kKeywords.size())) {
        l.error = "line " + std::to_string(number) + " holds the byte " + hexByte(c) +
                  ", which is no character and no keyword";
        return l;
      }
    }
    if (ram[at + size - 1] != 0) {
      l.error = "the program area is damaged at line " + std::to_string(number);
      return l;
    }
    l.text += listLine(number, text) + "\n";
    at += size;
  }
  if (at != pend || readWord(ram, at) != 0xFFFF) {
    l.error = "the program area is damaged: its end is not where BASIC keeps it";
    l.text.clear();
    return l;
  }
  l.ok = true;
  return l;
}

std::size_t programBytes(const Program& p) {
  std::size_t n = 2;
  for (const auto& [number, text] : p.lines) n += text.size() + 4;
  return n;
}

std::string store(std::span<uint8_t> ram, const Program& p) {
  if (!hasBasic(ram)) return "no BASIC in this RAM (its signature is missing)";
  if (!p.errors.empty()) return "the program has errors";
  // As when typing: the end mark must stay below the top of memory less 2.
  const std::size_t room = fw::MEMTOP - 2 - fw::PSTART + 1;
  if (programBytes(p) > room)
    return "the program does not fit: " + std::to_string(programBytes(p)) +
           " bytes, memory holds " + std::to_string(room);
  uint32_t at = fw::PSTART;
  for (const auto& [number, text] : p.lines) {
    writeWord(ram, at, toBcd(number));
    ram[at + 2] = static_cast<uint8_t>(text.size() + 4);
    at += 3;
    for (const char c : text) ram[at++] = static_cast<uint8_t>(c);
    ram[at++] = 0;
  }
  writeWord(ram, at, 0xFFFF);
  writeWord(ram, fw::VARS + fw::PEND, at);
  writeWord(ram, fw::VARS + fw::ATOP, at + 2);
  writeWord(ram, fw::VARS + fw::CONTL, 0);
  writeWord(ram, fw::VARS + fw::DPTR, 0);
  // DIM's arrays go, as with any change of the program: the program may
  // now reach into their memory.
  writeWord(ram, fw::VARS + fw::ARRTOP, fw::MEMTOP);
  for (uint32_t a = fw::ARRTAB; a < fw::ARRTAB + 52 * 4; ++a) ram[a] = 0;
  return "";
}

}  // namespace tarvo::basic
