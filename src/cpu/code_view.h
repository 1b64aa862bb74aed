// Reading code without running it: the processor's own fetch (prefetch,
// word-organised ROM, the order operand bytes are consumed, word alignment)
// on a private copy of the fetch state, over a machine it never changes.
// The disassembler and the debugger read instructions through it.
#pragma once

#include <cstdint>

#include "cpu/fast_memory.h"
#include "cpu/memory.h"
#include "cpu/state.h"
#include "machine.h"

namespace tarvo {

class CodeView {
 public:
  // Code at the processor's PC, fetched as its next step would fetch it
  // (segment from segmentLatch, or 0 while an interrupt is in service).
  explicit CodeView(const Machine& m) : m_(m), c_(m.cpu) {}
  // Code at a full address (segment in bits 16 and up): fetched with UA
  // and the fetch segment latch both set to the segment.
  CodeView(const Machine& m, uint32_t address) : m_(m), c_(m.cpu) {
    c_.UA = c_.segmentLatch = static_cast<uint8_t>(address >> 16);
    c_.PC = static_cast<uint16_t>(address);
  }

  void moveTo(uint16_t pc) { c_.PC = pc; }
  // Prefetches at PC and takes the opcode.
  uint8_t fetch() { return prefetch(m_, c_); }
  // The next instruction byte.
  uint8_t next() { return takeByte(c_); }
  // Byte i (0..3) of the last prefetch, whether taken or not.
  uint8_t prefetched(int i) const { return c_.fetchBuffer[i & 3]; }
  // Word alignment at the end of an instruction.
  void finish() { finishInstruction(c_); }

  // The address of the next byte to take.
  uint16_t pc() const { return c_.PC; }
  // True when the last fetch came from word-organised memory.
  bool wordOrganised() const { return c_.wordFetch == 1; }
  const Machine& machine() const { return m_; }
  // The fetch state, for the operand helpers shared with the processor.
  ProcessorState& state() { return c_; }

 private:
  const Machine& m_;
  ProcessorState c_;
};

}  // namespace tarvo
