#include "machine/register_set.h"

#include "machine/hex.h"

namespace tarvo {

namespace {

// A hex number of any length; only its low 64 bits are kept, which is all
// that a truncation to a register's width needs.
std::optional<uint64_t> parseHexWrapping(std::string_view s) {
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.remove_prefix(2);
  if (s.empty()) return std::nullopt;
  uint64_t v = 0;
  for (char ch : s) {
    const int d = hexDigit(ch);
    if (d < 0) return std::nullopt;
    v = (v << 4) | static_cast<uint64_t>(d);
  }
  return v;
}

// R0..R31, without leading zeros.
int mainRegisterIndex(std::string_view name) {
  if (name.size() < 2 || name.size() > 3 || name[0] != 'R') return -1;
  if (name.size() == 3 && name[1] == '0') return -1;
  int n = 0;
  for (char ch : name.substr(1)) {
    if (ch < '0' || ch > '9') return -1;
    n = n * 10 + (ch - '0');
  }
  return n < 32 ? n : -1;
}

}  // namespace

void RegisterSetting::apply(ProcessorState& c) const {
  if (reg != nullptr) {
    reg->set(c, static_cast<uint32_t>(value));
  } else {
    c.R[main] = static_cast<uint8_t>(value);
  }
}

std::optional<RegisterSetting> parseRegisterSetting(std::string_view name, std::string_view text,
                                                    std::string* error) {
  auto refuse = [&](std::string why) -> std::optional<RegisterSetting> {
    if (error) *error = std::move(why);
    return std::nullopt;
  };
  const std::string n(name);
  const std::string t(text);
  if (text.empty()) return refuse("missing value for " + n);
  const auto parsed = parseHexWrapping(text);
  if (!parsed) return refuse("malformed hex value '" + t + "' for " + n);
  const uint64_t v = *parsed;
  if (const RegisterDef* r = findRegister(name)) {
    // Steps shift their cycle count by clockShift (the processor itself only
    // ever sets 0 or 4). From 16 on an idle step's count overflows, down to
    // 0 cycles at 31, and a run tick would never spend its budget.
    if (r->name == "clockShift" && v > 15)
      return refuse("clockShift must be below 0x10, got '" + t + "'");
    if (r->name == "powerOff" && v > 1) return refuse("powerOff must be 0 or 1, got '" + t + "'");
    return RegisterSetting{r, 0, v};
  }
  const int index = mainRegisterIndex(name);
  if (index >= 0) return RegisterSetting{nullptr, index, v & 0xFF};
  return refuse("unknown register '" + n + "'");
}

}  // namespace tarvo
