// The processor's named registers, once: name as the debugger prints it,
// width, the bits it holds, and the field of ProcessorState behind it.
// tarvo-run's --set and --dump, the debugger's register pane and the tests
// all read this table. The main register file ($0..$31) is not in it.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <type_traits>

#include "cpu/state.h"

namespace tarvo {

struct RegisterDef {
  std::string_view name;
  int width;      // bits: 16, 8, 4 (clockShift) or 1 (powerOff)
  uint16_t mask;  // the bits the register holds (SX, SY, SZ: 5)
  uint32_t (*get)(const ProcessorState&);
  // Stores the value truncated to the register's width, nothing else.
  void (*set)(ProcessorState&, uint32_t);
};

namespace detail {

template <auto Field, int Width>
constexpr RegisterDef makeRegister(std::string_view name, uint16_t mask) {
  return {name, Width, mask,
          [](const ProcessorState& c) { return static_cast<uint32_t>(c.*Field); },
          [](ProcessorState& c, uint32_t v) {
            using T = std::remove_reference_t<decltype(c.*Field)>;
            if constexpr (std::is_same_v<T, bool>)
              c.*Field = (v & 1) != 0;
            else
              c.*Field = static_cast<T>(v & ((1u << Width) - 1));
          }};
}

}  // namespace detail

// In the order tarvo-run's --dump prints them.
inline constexpr std::array<RegisterDef, 22> kRegisters = {
    detail::makeRegister<&ProcessorState::PC, 16>("PC", 0xFFFF),
    detail::makeRegister<&ProcessorState::SS, 16>("SS", 0xFFFF),
    detail::makeRegister<&ProcessorState::US, 16>("US", 0xFFFF),
    detail::makeRegister<&ProcessorState::IX, 16>("IX", 0xFFFF),
    detail::makeRegister<&ProcessorState::IY, 16>("IY", 0xFFFF),
    detail::makeRegister<&ProcessorState::IZ, 16>("IZ", 0xFFFF),
    detail::makeRegister<&ProcessorState::KY, 16>("KY", 0xFFFF),
    detail::makeRegister<&ProcessorState::SX, 8>("SX", 0x1F),
    detail::makeRegister<&ProcessorState::SY, 8>("SY", 0x1F),
    detail::makeRegister<&ProcessorState::SZ, 8>("SZ", 0x1F),
    detail::makeRegister<&ProcessorState::UA, 8>("UA", 0xFF),
    detail::makeRegister<&ProcessorState::IA, 8>("IA", 0xFF),
    detail::makeRegister<&ProcessorState::IB, 8>("IB", 0xFF),
    detail::makeRegister<&ProcessorState::IE, 8>("IE", 0xFF),
    detail::makeRegister<&ProcessorState::PE, 8>("PE", 0xFF),
    detail::makeRegister<&ProcessorState::PD, 8>("PD", 0xFF),
    detail::makeRegister<&ProcessorState::TM, 8>("TM", 0xFF),
    detail::makeRegister<&ProcessorState::F, 8>("F", 0xFF),
    detail::makeRegister<&ProcessorState::segmentLatch, 8>("segmentLatch", 0xFF),
    detail::makeRegister<&ProcessorState::inService, 8>("inService", 0x1F),
    detail::makeRegister<&ProcessorState::clockShift, 4>("clockShift", 0x0F),
    detail::makeRegister<&ProcessorState::powerOff, 1>("powerOff", 0x01),
};

// The register of that name (case-sensitive), or nullptr.
constexpr const RegisterDef* findRegister(std::string_view name) {
  for (const RegisterDef& r : kRegisters) {
    if (r.name == name) return &r;
  }
  return nullptr;
}

}  // namespace tarvo
