// Processor state: every register of the emulated processor and the hidden
// state that the execution cycle keeps between instructions.
#pragma once

#include <cstdint>

// The small helpers of the instruction handlers: always inlined, since the
// opcode map puts every handler into one translation unit, larger than the
// compiler's own inlining budget.
#define TARVO_INLINE [[gnu::always_inline]] inline

namespace tarvo {

// Flag register bits.
constexpr uint8_t kFlagNZ = 0x80;     // last result non-zero
constexpr uint8_t kFlagC = 0x40;      // carry or borrow
constexpr uint8_t kFlagNLZ = 0x20;    // low nibble non-zero
constexpr uint8_t kFlagNUZ = 0x10;    // high nibble non-zero
constexpr uint8_t kFlagPower = 0x08;  // power switch on
constexpr uint8_t kFlagWake = 0x04;   // woken by an interrupt request

struct ProcessorState {
  uint8_t R[32] = {};  // main register file $0..$31

  uint16_t PC = 0;
  uint16_t SS = 0;  // system stack pointer
  uint16_t US = 0;  // user stack pointer
  uint16_t IX = 0;
  uint16_t IY = 0;
  uint16_t IZ = 0;
  uint16_t KY = 0;  // key-matrix input word

  uint8_t SX = 0, SY = 0, SZ = 0;  // register-number registers
  uint8_t UA = 0;                  // segment selectors
  uint8_t IA = 0;                  // key strobe, key-interrupt mask, timer control
  uint8_t IB = 0;                  // interrupt requests, wake on minute, common area
  uint8_t IE = 0;                  // interrupt enables and line levels
  uint8_t PE = 0;                  // port direction
  uint8_t PD = 0;                  // port data
  uint8_t TM = 0;                  // seconds and minutes counter
  uint8_t F = 0;                   // flag register

  // Hidden state of the execution cycle.
  uint8_t segmentLatch = 0;  // UA as it was at the last instruction fetch
  uint8_t inService = 0;     // interrupt requests being serviced
  int clockShift = 0;        // 0 fast, 4 slow
  bool powerOff = false;
  int wordFetch = 0;  // 1 when the current instruction came from word-organised ROM
  uint8_t fetchBuffer[4] = {};
  int fetchPos = 0;
  int32_t cycles = 0;         // cycles of the step in progress
  uint16_t kyStatus = 0;      // bits 8-11 ORed into KY: bit 9 LCD pulse, 10 line A, 11 line B
  uint16_t prevKyStatus = 0;  // kyStatus after the previous step

  // Set by a wake and by CPU reset: whoever paces the steps starts its
  // cycle budget afresh, and clears the flag.
  bool budgetRestart = false;

  // Set inside a step by whatever the run tick's loop must look at before
  // the next step: a budget restart, a failed disk-link operation, a write
  // to IA, IE or the LCD control byte (which the clock's deferred work
  // depends on), power-off, a latched interrupt request, the slow clock.
  // The loop clears it; it is a hint, not machine state.
  bool attention = false;
};

// The segment the next instruction is fetched from: segment 0 while any
// interrupt is in service, else the segment latched at the last fetch.
TARVO_INLINE unsigned codeSegment(const ProcessorState& c) {
  return c.inService != 0 ? 0u : c.segmentLatch;
}

// Main registers and register pairs; numbers wrap modulo 32.
TARVO_INLINE uint8_t& reg(ProcessorState& c, unsigned n) {
  return c.R[n & 31];
}
TARVO_INLINE uint16_t pairRead(const ProcessorState& c, unsigned n) {
  return static_cast<uint16_t>(c.R[n & 31] | (c.R[(n + 1) & 31] << 8));
}
TARVO_INLINE void pairWrite(ProcessorState& c, unsigned n, uint16_t v) {
  c.R[n & 31] = static_cast<uint8_t>(v);
  c.R[(n + 1) & 31] = static_cast<uint8_t>(v >> 8);
}

// Specific registers by index: 8-bit table PE PD IB UA IA IE TM TM,
// 16-bit table IX IY IZ US SS KY KY KY.
TARVO_INLINE uint8_t& spec8(ProcessorState& c, unsigned index) {
  switch (index & 7) {
    case 0:
      return c.PE;
    case 1:
      return c.PD;
    case 2:
      return c.IB;
    case 3:
      return c.UA;
    case 4:
      return c.IA;
    case 5:
      return c.IE;
    default:
      return c.TM;
  }
}
TARVO_INLINE uint16_t& spec16(ProcessorState& c, unsigned index) {
  switch (index & 7) {
    case 0:
      return c.IX;
    case 1:
      return c.IY;
    case 2:
      return c.IZ;
    case 3:
      return c.US;
    case 4:
      return c.SS;
    default:
      return c.KY;
  }
}
// Register-number register by selector: 0 SX, 1 SY, 2 and 3 SZ.
TARVO_INLINE uint8_t& regPointer(ProcessorState& c, unsigned selector) {
  switch (selector & 3) {
    case 0:
      return c.SX;
    case 1:
      return c.SY;
    default:
      return c.SZ;
  }
}

}  // namespace tarvo
