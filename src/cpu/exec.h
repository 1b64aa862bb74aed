// Execution cycle: one processor step, interrupts, power-off and reset.
#pragma once

#include <cstdint>

namespace tarvo {

struct Machine;

using Handler = void (*)(Machine&);

// One step: idle while powered off, enter the highest pending interrupt, or
// execute one instruction. Returns the cycles used, scaled by the clock shift
// when no interrupt is in service.
int32_t step(Machine& m);

// mask is 0x01, 0x02, 0x04, 0x08 or 0x10.
void requestInterrupt(Machine& m, uint8_t mask);
void wake(Machine& m, bool byInterrupt);
void endService(Machine& m);
void enterPowerOff(Machine& m);
void cpuReset(Machine& m);

// Three cycles and nothing consumed after the opcode.
void opNone(Machine& m);

// The 256 handlers, indexed by opcode (cpu/opcode_map.cpp).
const Handler* dispatchTable();

}  // namespace tarvo
