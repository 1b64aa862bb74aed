// Operand access, flag rules and arithmetic shared by all instruction
// handlers. Every operand byte is consumed through takeByte(), every data
// access goes through loadByte() and storeByte() (cpu/fast_memory.h).
#pragma once

#include <cstdint>

#include "cpu/fast_memory.h"
#include "cpu/memory.h"
#include "cpu/state.h"
#include "machine.h"

namespace tarvo {

// Data-side selectors.
TARVO_INLINE unsigned stackSelector(const ProcessorState& c) {
  return c.UA >> 2;
}
TARVO_INLINE unsigned ixSelector(const ProcessorState& c) {
  return c.UA >> 4;
}
TARVO_INLINE unsigned izSelector(const ProcessorState& c) {
  return c.UA >> 6;
}

TARVO_INLINE unsigned firstRegister(uint8_t b) {
  return b & 0x1F;
}

// Second register number: the register-number register named by bits 5-6,
// or an explicit register byte (read now) when the selector is 3.
TARVO_INLINE unsigned secondRegister(Machine& m, uint8_t b) {
  if ((b & 0x60) == 0x60) return takeByte(m) & 0x1F;
  return regPointer(m.cpu, (b >> 5) & 3) & 0x1F;
}
// Same, with the explicit byte supplied by the caller (multi-byte forms).
TARVO_INLINE unsigned secondRegister(Machine& m, uint8_t b, uint8_t given) {
  if ((b & 0x60) == 0x60) return given & 0x1F;
  return regPointer(m.cpu, (b >> 5) & 3) & 0x1F;
}

// Immediate byte when opcode bit 6 is set, else the second register.
TARVO_INLINE uint8_t sourceByte(Machine& m, uint8_t opcode, uint8_t b) {
  if (opcode & 0x40) return takeByte(m);
  return reg(m.cpu, secondRegister(m, b));
}

// Source byte as a 16-bit offset, negated when b bit 7 is set.
TARVO_INLINE uint16_t indexOffset(Machine& m, uint8_t opcode, uint8_t b) {
  const uint16_t v = sourceByte(m, opcode, b);
  return (b & 0x80) ? static_cast<uint16_t>(-v) : v;
}

// Relative target: base is PC before the displacement; in word memory the
// displacement is always the second byte of a word. Sign and magnitude.
TARVO_INLINE uint16_t relativeTarget(ProcessorState& c) {
  const uint16_t base = c.PC;
  if (c.wordFetch == 1 && (c.fetchPos & 1) == 0) takeByte(c);
  const uint8_t d = takeByte(c);
  return (d & 0x80) ? static_cast<uint16_t>(base - (d & 0x7F)) : static_cast<uint16_t>(base + d);
}
TARVO_INLINE uint16_t relativeTarget(Machine& m) {
  return relativeTarget(m.cpu);
}

// The relative-jump option, taken last by the instructions that have it.
TARVO_INLINE void jumpOption(Machine& m, uint8_t b) {
  if (b & 0x80) {
    m.cpu.PC = relativeTarget(m);
    m.cpu.fetchPos = 0;
  }
}

// Address operand of jp and cal: low, [filler in word memory], high.
TARVO_INLINE uint16_t immediate16(ProcessorState& c) {
  const uint8_t lo = takeByte(c);
  if (c.wordFetch == 1) takeByte(c);
  const uint8_t hi = takeByte(c);
  return static_cast<uint16_t>(hi << 8 | lo);
}
TARVO_INLINE uint16_t immediate16(Machine& m) {
  return immediate16(m.cpu);
}

// Two plain instruction bytes, low first, no filler.
TARVO_INLINE uint16_t plain16(ProcessorState& c) {
  const uint8_t lo = takeByte(c);
  const uint8_t hi = takeByte(c);
  return static_cast<uint16_t>(hi << 8 | lo);
}
TARVO_INLINE uint16_t plain16(Machine& m) {
  return plain16(m.cpu);
}

// Condition codes 0 z, 1 nc, 2 lz, 3 uz, 4 nz, 5 c, 6 nlz, 7 always.
TARVO_INLINE bool condition(uint8_t f, unsigned cc) {
  switch (cc & 7) {
    case 0:
      return !(f & kFlagNZ);
    case 1:
      return !(f & kFlagC);
    case 2:
      return !(f & kFlagNLZ);
    case 3:
      return !(f & kFlagNUZ);
    case 4:
      return (f & kFlagNZ) != 0;
    case 5:
      return (f & kFlagC) != 0;
    case 6:
      return (f & kFlagNLZ) != 0;
    default:
      return true;
  }
}

// Stack: pre-decrement push, post-increment pop, in the stack segment.
TARVO_INLINE void push(Machine& m, uint16_t& sp, uint8_t value) {
  --sp;
  storeByte(m, stackSelector(m.cpu), sp, value);
}
TARVO_INLINE uint8_t pop(Machine& m, uint16_t& sp) {
  const uint8_t v = loadByte(m, stackSelector(m.cpu), sp);
  ++sp;
  return v;
}

// Flag rules. Each clears bits 4-7 and keeps bits 0-3.
TARVO_INLINE void setFlagBit(uint8_t& f, uint8_t bit, bool on) {
  f = static_cast<uint8_t>(on ? (f | bit) : (f & ~bit));
}
TARVO_INLINE void setFlags8(ProcessorState& c, uint8_t r) {
  c.F &= 0x0F;
  if (r) c.F |= kFlagNZ;
  if (r & 0x0F) c.F |= kFlagNLZ;
  if (r & 0xF0) c.F |= kFlagNUZ;
}
TARVO_INLINE void setFlags16High(ProcessorState& c, uint16_t r) {
  c.F &= 0x0F;
  if (r) c.F |= kFlagNZ;
  if (r & 0x0F00) c.F |= kFlagNLZ;
  if (r & 0xF000) c.F |= kFlagNUZ;
}
TARVO_INLINE void setFlags16Low(ProcessorState& c, uint16_t r) {
  c.F &= 0x0F;
  if (r) c.F |= kFlagNZ;
  if (r & 0x000F) c.F |= kFlagNLZ;
  if (r & 0x00F0) c.F |= kFlagNUZ;
}
// NZ is left 0 for the instruction to set.
TARVO_INLINE void setNibbleFlags(ProcessorState& c, uint8_t r) {
  c.F &= 0x0F;
  if (r & 0x0F) c.F |= kFlagNLZ;
  if (r & 0xF0) c.F |= kFlagNUZ;
}
TARVO_INLINE void setCarry(ProcessorState& c, bool on) {
  setFlagBit(c.F, kFlagC, on);
}
TARVO_INLINE void setNonZero(ProcessorState& c, bool on) {
  setFlagBit(c.F, kFlagNZ, on);
}
// nand and or (opcode bits 0-1 = 1 or 2) set C; and and xor leave it 0.
TARVO_INLINE void logicCarry(ProcessorState& c, uint8_t opcode) {
  const unsigned op = opcode & 3;
  setCarry(c, op == 1 || op == 2);
}

// a + b or a - b as an unsigned 16-bit value; carry/borrow is w > 0xFF.
TARVO_INLINE uint16_t add8(uint8_t a, uint8_t b) {
  return static_cast<uint16_t>(a + b);
}
TARVO_INLINE uint16_t sub8(uint8_t a, uint8_t b) {
  return static_cast<uint16_t>(a - b);
}

// Packed-decimal add: result in bits 0-7, carry in bit 8.
TARVO_INLINE uint32_t bcdAdd(uint32_t a, uint32_t b) {
  uint32_t lo = (a & 0x0F) + (b & 0x0F);
  if (lo > 9) lo = ((lo + 6) & 0x0F) | 0x10;
  uint32_t s = lo + (a & 0xF0) + (b & 0xF0);
  if (s > 0x9F) s = ((s + 0x60) & 0xFF) | 0x100;
  return s;
}
TARVO_INLINE bool bcdCarry(uint32_t s) {
  return s > 0xFF;
}

// Packed-decimal subtract in 32-bit two's complement; a borrow leaves the
// value negative (above 0xFF when read unsigned).
TARVO_INLINE uint32_t bcdSub(uint32_t a, uint32_t b) {
  uint32_t lo = (a & 0x0F) - (b & 0x0F);
  if (lo > 9) lo = ((lo - 6) & 0x0F) - 0x10;
  uint32_t d = lo + (a & 0xF0) - (b & 0xF0);
  if (d > 0x9F) d = ((d - 0x60) & 0xFF) - 0x100;
  return d;
}

// Logic by opcode bits 0-1: 0 and, 1 nand, 2 or, 3 xor.
TARVO_INLINE uint8_t logicOp(uint8_t opcode, uint8_t a, uint8_t b) {
  switch (opcode & 3) {
    case 0:
      return a & b;
    case 1:
      return static_cast<uint8_t>(~(a & b));
    case 2:
      return a | b;
    default:
      return a ^ b;
  }
}

// Block length of the multi-byte instructions: 2..8.
TARVO_INLINE unsigned blockLength(uint8_t count) {
  const unsigned n = ((count >> 5) & 7) + 1;
  return n < 2 ? 2 : n;
}

}  // namespace tarvo
