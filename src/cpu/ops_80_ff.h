// Helpers shared by the handlers of the upper half of the opcode map
// (0x80-0xFF), split over ops_80_ff.cpp and ops_c0_ff.cpp.
#pragma once

#include <cstdint>

#include "cpu/exec.h"
#include "cpu/operands.h"

namespace tarvo {

// Installs the handlers of 0xC0-0xFF; called by installHandlers80toFF.
void installHandlersC0toFF(Handler* table);

// The index register of the indexed families and the segment selector of its
// side: IX on the IX side for an even opcode, IZ on the IZ side for an odd one.
struct IndexSide {
  uint16_t& reg;
  unsigned selector;
};
inline IndexSide indexSide(ProcessorState& c, unsigned opcode) {
  if (opcode & 1) return {c.IZ, izSelector(c)};
  return {c.IX, ixSelector(c)};
}

}  // namespace tarvo
