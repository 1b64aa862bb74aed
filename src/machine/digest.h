// A digest of the emulated machine's state: two machines (with their
// schedulers) that will run on identically have the same digest, and any
// changed RAM byte, register, LCD byte or timer changes it.
#pragma once

#include <cstdint>
#include <string>

namespace tarvo {

struct Machine;
struct Scheduler;

// 64-bit FNV-1a over every state field (machine/state_fields.h); the
// scheduler's budget and phase are included when it is given.
uint64_t stateDigest(const Machine& m, const Scheduler* scheduler = nullptr);
// The digest as 16 lower-case hex digits.
std::string stateDigestText(const Machine& m, const Scheduler* scheduler = nullptr);

}  // namespace tarvo
