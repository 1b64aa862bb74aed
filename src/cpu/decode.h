// Decoding shared by the instruction families of the whole opcode map:
// which index register and segment an opcode uses, which specific register
// an operand names, which stack, and which of four operations a shared
// opcode performs.
#pragma once

#include <cstdint>

#include "cpu/operands.h"
#include "cpu/state.h"

namespace tarvo {

// The index register of the indexed families and the segment selector of its
// side: IX on the IX side for an even opcode, IZ on the IZ side for an odd one.
struct IndexSide {
  uint16_t& reg;
  unsigned selector;
};
TARVO_INLINE IndexSide indexSide(ProcessorState& c, unsigned opcode) {
  if (opcode & 1) return {c.IZ, izSelector(c)};
  return {c.IX, ixSelector(c)};
}

// Specific register named by an operand byte: opcode bit 0 picks the half of
// the table (spec8: PE PD IB UA / IA IE TM TM, spec16: IX IY IZ US / SS KY
// KY KY), operand bits 5-6 the register within it.
TARVO_INLINE unsigned specificIndex(unsigned opcode, uint8_t b) {
  return (opcode & 1) * 4 + ((b >> 5) & 3);
}

// The stack of the push and pop families: the user stack for an odd opcode,
// the system stack for an even one.
TARVO_INLINE uint16_t& stackOf(ProcessorState& c, unsigned opcode) {
  return (opcode & 1) ? c.US : c.SS;
}

// The shift opcodes (0x18, 0x1A, 0x98, 0x9A, 0xDA) stand for four operations
// each, chosen by bits 5-6 of the operand byte, which the prefetch already
// holds when the handler starts.
TARVO_INLINE unsigned subOperation(const ProcessorState& c) {
  return (c.fetchBuffer[1] >> 5) & 3u;
}

}  // namespace tarvo
