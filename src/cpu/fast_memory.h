// The processor's memory accesses inside a step, through the page tables of
// MemoryMap, with the region table as the fallback for everything the
// tables leave out. Results, side effects and cycle counts are the same as
// those of readPhysical, writePhysical and fetchInstructionExact.
//
// The tables follow the mapping lazily: syncPages compares IB bits 6-7, the
// bank bytes and the storage of the region buffers with what the tables
// were built for. step() syncs at its start, which covers every change made
// between steps (the debugger, the command-line runner, tests); the run
// tick syncs once before its steps, since nothing between them changes the
// mapping. Within a step the mapping changes only through pst ib and a
// write to a bank byte, and both resync at once (syncMapping). Code outside
// a step uses readData, writeData and fetchInstruction (cpu/memory.h),
// which sync first.
#pragma once

#include <cstdint>
#include <cstring>

#include "cpu/memory.h"
#include "cpu/state.h"
#include "machine.h"

namespace tarvo {

// IB bits 6-7 and both bank bytes in one word.
TARVO_INLINE uint32_t pagesKeyOf(const Machine& m) {
  uint16_t banks;
  std::memcpy(&banks, m.mem.rows[kBankRow].buffer.data(), sizeof banks);
  return (m.cpu.IB & 0xC0u) | static_cast<uint32_t>(banks) << 8;
}

// For code that runs where no region buffer can have been replaced since
// the last syncPages: inside a step.
TARVO_INLINE void syncMapping(Machine& m) {
  if (pagesKeyOf(m) != m.mem.pagesKey) rebuildPages(m);
}

TARVO_INLINE void syncPages(Machine& m) {
  bool current = pagesKeyOf(m) == m.mem.pagesKey;
  // Rows 0 and 1 never back a page.
  for (int row = kRom1Row; row < kRegionCount; ++row)
    current &= m.mem.rows[row].buffer.data() == m.mem.pagesStorage[row];
  if (!current) rebuildPages(m);
}

// Data read with a segment selector (bank switching applied).
TARVO_INLINE uint8_t loadByte(Machine& m, unsigned selector, uint16_t address) {
  const uint8_t* page = m.mem.readPages[pageSlot(selector, address)];
  if (page != nullptr) [[likely]]
    return page[address & kPageMask];
  if (m.mem.watch != nullptr) [[unlikely]] {
    const DataWatch& w = *m.mem.watch;
    const unsigned slot = pageSlot(selector, address);
    const uint8_t* shadow = w.readPages[slot];
    if (shadow != nullptr && !w.watched(w.readBits, slot, address))
      return shadow[address & kPageMask];
    return watchedLoad(m, selector, address);
  }
  return readPhysical(m, physicalAddress(m.cpu, selector, address));
}

// Data write with a segment selector (no bank switching).
TARVO_INLINE void storeByte(Machine& m, unsigned selector, uint16_t address, uint8_t value) {
  uint8_t* page = m.mem.writePages[pageSlot(selector, address)];
  if (page != nullptr) [[likely]] {
    page[address & kPageMask] = value;
    return;
  }
  if (m.mem.watch != nullptr) [[unlikely]] {
    const DataWatch& w = *m.mem.watch;
    const unsigned slot = pageSlot(selector, address);
    uint8_t* shadow = w.writePages[slot];
    if (shadow != nullptr && !w.watched(w.writeBits, slot, address)) {
      shadow[address & kPageMask] = value;
      return;
    }
    watchedStore(m, selector, address, value);
    return;
  }
  writePhysical(m, physicalAddress(m.cpu, selector, address), value);
}

// Next instruction byte: byte memory costs 3 cycles a byte, word memory 4
// cycles a word with PC moving after the word's second byte.
TARVO_INLINE uint8_t takeByte(ProcessorState& c) {
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
TARVO_INLINE uint8_t takeByte(Machine& m) {
  return takeByte(m.cpu);
}

// Instruction fetch. Four bytes that lie in one byte-memory page are copied
// at once; anything else (the on-chip ROM, the I/O window, a page boundary)
// takes the region table.
// The copy alone: false, with nothing fetched, when the region table must
// do it.
TARVO_INLINE bool fetchOpcodeFromPage(Machine& m, uint8_t& opcode) {
  ProcessorState& c = m.cpu;
  const unsigned selector = c.inService != 0 ? 0u : c.segmentLatch;
  const uint16_t pc = c.PC;
  const uint8_t* page = m.mem.readPages[pageSlot(selector, pc)];
  if (page != nullptr && (pc & kPageMask) <= kPageMask - 3) [[likely]] {
    c.segmentLatch = c.UA;
    std::memcpy(c.fetchBuffer, page + (pc & kPageMask), 4);
    c.wordFetch = 0;
    c.fetchPos = 0;
    opcode = takeByte(m);
    return true;
  }
  return false;
}
TARVO_INLINE uint8_t fetchOpcode(Machine& m) {
  uint8_t opcode;
  if (fetchOpcodeFromPage(m, opcode)) [[likely]]
    return opcode;
  return fetchInstructionExact(m);
}

// Word alignment after the handler.
TARVO_INLINE void finishInstruction(ProcessorState& c) {
  if (c.wordFetch == 1 && (c.fetchPos & 1)) takeByte(c);
}
TARVO_INLINE void finishInstruction(Machine& m) {
  finishInstruction(m.cpu);
}

}  // namespace tarvo
