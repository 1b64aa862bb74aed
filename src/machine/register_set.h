// A register setting typed as text: NAME=HEX as tarvo-run's --set and the
// debug adapter's launch take them. NAME is a register of the register table
// or R0..R31 for the main registers; the value is hex of any length (an
// optional "0x" prefix), truncated to the register's width and stored
// without any side effect.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cpu/state.h"
#include "machine/registers.h"

namespace tarvo {

struct RegisterSetting {
  const RegisterDef* reg = nullptr;  // nullptr: main register `main`
  int main = 0;
  uint64_t value = 0;
  void apply(ProcessorState& c) const;
};

// Nothing, with *error set, for an unknown name or a malformed or
// out-of-range value.
std::optional<RegisterSetting> parseRegisterSetting(std::string_view name, std::string_view value,
                                                    std::string* error);

}  // namespace tarvo
