#include "cpu/exec.h"

#include <array>

#include "cpu/fast_memory.h"
#include "cpu/operands.h"
#include "cpu/step.h"
#include "machine.h"

namespace tarvo {

namespace {

struct InterruptRow {
  uint8_t mask;
  uint16_t vector;
};
// Priority order: request 4 first.
constexpr InterruptRow kInterrupts[5] = {
    {0x10, 0x0072}, {0x08, 0x0062}, {0x04, 0x0052}, {0x02, 0x0042}, {0x01, 0x0032},
};

}  // namespace

void enterInterrupt(Machine& m) {
  ProcessorState& c = m.cpu;
  push(m, c.SS, static_cast<uint8_t>(c.PC >> 8));
  push(m, c.SS, static_cast<uint8_t>(c.PC));
  for (const InterruptRow& row : kInterrupts) {
    if (c.IB & row.mask) {
      c.inService |= row.mask;
      c.PC = row.vector;
      c.fetchPos = 0;
      break;
    }
  }
  c.cycles = 11 + ((c.UA & 3) != 0 ? 1 : 0);
}

void opNone(Machine& m) {
  m.cpu.cycles += 3;
}

int32_t step(Machine& m) {
  return stepInline(m);
}

void requestInterrupt(Machine& m, uint8_t mask) {
  ProcessorState& c = m.cpu;
  if ((c.IE >> 3) & mask) {
    c.IB |= mask;
    c.attention = true;
  }
  if ((c.IB & 0x22) == 0x22 || (mask == 0x01 && (c.IE & 0x04))) wake(m, true);
}

void wake(Machine& m, bool byInterrupt) {
  ProcessorState& c = m.cpu;
  if (!c.powerOff) return;
  c.F = static_cast<uint8_t>((c.F & ~kFlagWake) | (byInterrupt ? kFlagWake : 0));
  c.clockShift = 0;
  c.budgetRestart = true;
  c.attention = true;
  c.powerOff = false;
}

void endService(Machine& m) {
  ProcessorState& c = m.cpu;
  for (int bit = 4; bit >= 0; --bit) {
    const uint8_t mask = static_cast<uint8_t>(1u << bit);
    if (c.IB & mask) {
      c.IB &= static_cast<uint8_t>(~mask);
      c.inService &= static_cast<uint8_t>(~mask);
      break;
    }
  }
  c.cycles += 3;
}

void enterPowerOff(Machine& m) {
  ProcessorState& c = m.cpu;
  c.UA = 0;
  c.PC = 0x0010;
  c.fetchPos = 0;
  c.IE &= 0x1C;
  c.IA = 0;
  c.IB &= 0xE3;
  c.inService = 0;
  c.IX = c.IY = c.IZ = 0;
  c.SX = c.SY = c.SZ = 0;
  c.PE = 0;
  portUpdate(m);
  m.lcd.control = 0;
  m.lcd.reset();
  portLinkReset(m);
  c.powerOff = true;
  c.attention = true;
  c.F = static_cast<uint8_t>((c.F & ~kFlagWake) | ((c.F & kFlagPower) >> 1));
  c.cycles += 3;
}

void cpuReset(Machine& m) {
  ProcessorState& c = m.cpu;
  c.PC = 0;
  c.UA = 0;
  c.segmentLatch = 0;
  c.kyStatus = 0x0C00;
  c.prevKyStatus = 0x0C00;
  c.IE = 0;
  c.IA = 0;
  c.IB = 0;
  c.inService = 0;
  c.clockShift = 0;
  c.budgetRestart = true;
  c.attention = true;
}

}  // namespace tarvo
