#include "debugger/symbols.h"

#include <fstream>
#include <sstream>

#include "machine/hex.h"

namespace tarvo {

namespace {

bool identStart(char ch) {
  return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || ch == '_' || ch == '.' ||
         ch == '@';
}
bool identChar(char ch) {
  return identStart(ch) || (ch >= '0' && ch <= '9');
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

// Hex digits with an optional &H or 0x prefix, at most 8 of them.
std::optional<uint32_t> parseHex(std::string_view s) {
  if (s.size() > 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h')) s.remove_prefix(2);
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.remove_prefix(2);
  if (s.empty() || s.size() > 8) return std::nullopt;
  uint32_t v = 0;
  for (char ch : s) {
    const int d = hexDigit(ch);
    if (d < 0) return std::nullopt;
    v = v << 4 | static_cast<uint32_t>(d);
  }
  return v;
}

}  // namespace

void SymbolTable::add(std::string name, uint16_t value) {
  if (auto it = byName_.find(name); it != byName_.end()) {
    for (auto v = byValue_.lower_bound(it->second); v != byValue_.end() && v->first == it->second;
         ++v) {
      if (v->second == name) {
        byValue_.erase(v);
        break;
      }
    }
  }
  byName_[name] = value;
  byValue_.emplace(value, std::move(name));
}

void SymbolTable::addText(std::string_view text, std::vector<std::string>* errors) {
  int lineNo = 0;
  while (!text.empty()) {
    const auto nl = text.find('\n');
    std::string_view line = trim(text.substr(0, nl));
    text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
    ++lineNo;
    if (line.empty()) continue;
    const auto blank = line.find_first_of(" \t");
    std::optional<uint32_t> v;
    std::string_view name;
    if (blank != std::string_view::npos) {
      name = line.substr(0, blank);
      v = parseHex(trim(line.substr(blank)));
    }
    bool good = v && *v <= 0xFFFF && !name.empty() && identStart(name[0]);
    for (char ch : name) good = good && identChar(ch);
    if (!good) {
      if (errors) errors->push_back(std::to_string(lineNo) + ": " + std::string(line));
      continue;
    }
    add(std::string(name), static_cast<uint16_t>(*v));
  }
}

bool SymbolTable::load(const std::string& path, std::vector<std::string>* errors) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return false;
  addText(text.str(), errors);
  return true;
}

std::optional<uint16_t> SymbolTable::value(std::string_view name) const {
  const auto it = byName_.find(name);
  if (it == byName_.end()) return std::nullopt;
  return it->second;
}

const std::string* SymbolTable::nameAt(uint16_t address) const {
  const auto range = byValue_.equal_range(address);
  const std::string* best = nullptr;
  for (auto it = range.first; it != range.second; ++it)
    if (best == nullptr || it->second < *best) best = &it->second;
  return best;
}

std::string SymbolTable::describe(uint16_t address, uint16_t maxOffset) const {
  auto it = byValue_.upper_bound(address);
  if (it == byValue_.begin()) return {};
  --it;
  const uint16_t base = it->first;
  const std::string* name = nameAt(base);
  const unsigned offset = address - base;
  if (offset > maxOffset) return {};
  if (offset == 0) return *name;
  char buf[8];
  std::snprintf(buf, sizeof buf, "%X", offset);
  return *name + "+&H" + buf;
}

std::optional<uint32_t> parseTypedAddress(std::string_view text, const SymbolTable* symbols,
                                          std::string* error, bool* isLabel) {
  const std::string_view t = trim(text);
  if (isLabel) *isLabel = false;
  if (t.empty()) {
    if (error) *error = "no address given";
    return std::nullopt;
  }
  // label, label+HEX or label-HEX; a defined label wins over the hex digits
  // that spell it.
  std::size_t end = 0;
  while (end < t.size() && identChar(t[end])) ++end;
  const std::string_view name = t.substr(0, end);
  const bool nameLike = !name.empty() && identStart(name[0]);
  const auto base = nameLike && symbols ? symbols->value(name) : std::nullopt;
  if (!base) {
    if (const auto hex = parseHex(t)) return hex;
    if (error)
      *error = nameLike ? "unknown label '" + std::string(name) + "'"
                        : "not an address or a label: '" + std::string(t) + "'";
    return std::nullopt;
  }
  const std::string_view rest = trim(t.substr(end));
  const auto offset = rest.empty()                         ? std::optional<uint32_t>(0)
                      : (rest[0] == '+' || rest[0] == '-') ? parseHex(trim(rest.substr(1)))
                                                           : std::nullopt;
  if (!offset || *offset > 0xFFFF) {
    if (error) *error = "expected +HEX or -HEX after the label in '" + std::string(t) + "'";
    return std::nullopt;
  }
  if (isLabel) *isLabel = true;
  return static_cast<uint16_t>(rest.empty() || rest[0] == '+' ? *base + *offset : *base - *offset);
}

std::string labelOperands(std::string_view operands, const SymbolTable& symbols) {
  std::string out;
  std::size_t i = 0;
  while (i < operands.size()) {
    if (operands[i] == '&' && i + 6 <= operands.size() && operands[i + 1] == 'H' &&
        (i + 6 == operands.size() || hexDigit(operands[i + 6]) < 0)) {
      const auto v = parseHex(operands.substr(i + 2, 4));
      const std::string* name = v ? symbols.nameAt(static_cast<uint16_t>(*v)) : nullptr;
      if (name != nullptr) {
        out += *name;
        i += 6;
        continue;
      }
    }
    out += operands[i++];
  }
  return out;
}

}  // namespace tarvo
