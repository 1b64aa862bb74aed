// The processor's memory accesses inside a step, through the page tables of
// MemoryMap, with the region table as the fallback for everything the
// tables leave out. Results, side effects and cycle counts are the same as
// those of readPhysical, writePhysical and fetchInstructionExact.
//
// The tables follow the mapping lazily: syncPages compares IB bits 6-7 and
// the bank bytes with the values the tables were built for. step() syncs
// once at its start, which covers every change made between steps (the
// debugger, the command-line runner, tests). Within a step the mapping
// changes only through pst ib and a write to a bank byte, and both sync at
// once. Code outside a step uses readData, writeData and fetchInstruction
// (cpu/memory.h), which sync first.
#pragma once

#include <cstdint>
#include <cstring>

#include "cpu/memory.h"
#include "cpu/state.h"
#include "machine.h"

namespace tarvo {

inline uint32_t pagesKeyOf(const Machine& m) {
  const uint8_t* bank = m.mem.rows[kBankRow].buffer.data();
  return (m.cpu.IB & 0xC0u) | static_cast<uint32_t>(bank[0]) << 8 |
         static_cast<uint32_t>(bank[1]) << 16 | (m.mem.exactOnly ? 1u << 24 : 0u);
}

inline void syncPages(Machine& m) {
  if (pagesKeyOf(m) != m.mem.pagesKey) rebuildPages(m);
}

// Data read with a segment selector (bank switching applied).
inline uint8_t loadByte(Machine& m, unsigned selector, uint16_t address) {
  const ReadPage& page = m.mem.readPages[pageSlot(selector, address)];
  if (page.buffer != nullptr) [[likely]]
    return page.buffer->data()[page.offset + (address & kPageMask)];
  return readPhysical(m, physicalAddress(m.cpu, selector, address));
}

// Data write with a segment selector (no bank switching).
inline void storeByte(Machine& m, unsigned selector, uint16_t address, uint8_t value) {
  const WritePage& page = m.mem.writePages[pageSlot(selector, address)];
  if (page.buffer != nullptr) [[likely]] {
    page.buffer->data()[page.offset + (address & kPageMask)] = value;
    return;
  }
  writePhysical(m, physicalAddress(m.cpu, selector, address), value);
}

// Next instruction byte: byte memory costs 3 cycles a byte, word memory 4
// cycles a word with PC moving after the word's second byte.
inline uint8_t takeByte(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b = c.fetchBuffer[c.fetchPos & 3];
  if (c.wordFetch == 0) {
    ++c.PC;
    c.cycles += 3;
  } else if (c.fetchPos & 1) {
    ++c.PC;
  } else {
    c.cycles += 4;
  }
  ++c.fetchPos;
  return b;
}

// Instruction fetch. Four bytes that lie in one byte-memory page are copied
// at once; anything else (the on-chip ROM, the I/O window, a page boundary)
// takes the region table.
inline uint8_t fetchOpcode(Machine& m) {
  ProcessorState& c = m.cpu;
  const unsigned selector = c.inService != 0 ? 0u : c.segmentLatch;
  const uint16_t pc = c.PC;
  const ReadPage& page = m.mem.readPages[pageSlot(selector, pc)];
  if (page.buffer != nullptr && (pc & kPageMask) <= kPageMask - 3) [[likely]] {
    c.segmentLatch = c.UA;
    std::memcpy(c.fetchBuffer, page.buffer->data() + page.offset + (pc & kPageMask), 4);
    c.wordFetch = 0;
    c.fetchPos = 0;
    return takeByte(m);
  }
  return fetchInstructionExact(m);
}

// Word alignment after the handler.
inline void finishInstruction(Machine& m) {
  if (m.cpu.wordFetch == 1 && (m.cpu.fetchPos & 1)) takeByte(m);
}

}  // namespace tarvo
