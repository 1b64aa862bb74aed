// One processor step as an inline function, for the run loop, which calls
// it after every few emulated cycles. step() (cpu/exec.h) is this same step
// out of line.
#pragma once

#include <array>
#include <cstdint>

#include "cpu/exec.h"
#include "cpu/fast_memory.h"
#include "machine.h"

namespace tarvo {

// The 256 instruction handlers by opcode, a table built at compile time.
extern const std::array<Handler, 256> kDispatch;

// Pushes PC and enters the highest requested interrupt.
void enterInterrupt(Machine& m);

// The step for a caller that has synced the page tables since anything
// outside a step last touched the machine. Steps keep the tables in sync
// themselves, so a loop of steps needs one syncPages before it, as long as
// it changes neither IB bits 6-7 nor the bank bytes between its steps.
inline int32_t stepSynced(Machine& m) {
  ProcessorState& c = m.cpu;
  c.cycles = 0;
  if (c.powerOff) {
    c.cycles = 6;
  } else {
    // Without a request latched nothing can be pending.
    const uint8_t requests = c.IB & 0x1F;
    if (requests != 0 && (requests & static_cast<uint8_t>(~c.inService)) > c.inService) {
      enterInterrupt(m);
    } else {
      const uint8_t opcode = fetchOpcode(m);
      kDispatch[opcode](m);
      finishInstruction(m);
    }
  }
  if (c.clockShift != 0 && c.inService == 0)
    c.cycles = static_cast<int32_t>(static_cast<uint32_t>(c.cycles) << c.clockShift);
  return c.cycles;
}

// Whether the next step is a plain one: the processor runs, no interrupt
// request is latched and the clock is fast. Until something sets the
// attention flag, every step after a plain one is plain too.
inline bool stepIsPlain(const ProcessorState& c) {
  return !c.powerOff && (c.IB & 0x1F) == 0 && c.clockShift == 0;
}
// stepSynced for a plain step, except that the cycles are not scaled by a
// clock shift the instruction itself set (slw sets the attention flag, and
// the caller then scales them with scalePlainStep).
inline int32_t stepPlain(Machine& m) {
  ProcessorState& c = m.cpu;
  c.cycles = 0;
  uint8_t opcode;
  if (fetchOpcodeFromPage(m, opcode)) [[likely]] {
    // From byte memory: no word to finish.
    kDispatch[opcode](m);
  } else {
    kDispatch[fetchInstructionExact(m)](m);
    finishInstruction(m);
  }
  return c.cycles;
}
inline int32_t scalePlainStep(const ProcessorState& c, int32_t cycles) {
  if (c.clockShift != 0 && c.inService == 0)
    return static_cast<int32_t>(static_cast<uint32_t>(cycles) << c.clockShift);
  return cycles;
}

inline int32_t stepInline(Machine& m) {
  // Anything may have changed the mapping since the last step.
  syncPages(m);
  return stepSynced(m);
}

}  // namespace tarvo
