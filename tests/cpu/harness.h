// A machine for instruction tests: code is placed in segment 0 (the rom1
// buffer, reached from 0x0C12 up) or in the word-organised on-chip ROM, data
// in RAM through the region buffers.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "cpu/exec.h"
#include "cpu/memory.h"
#include "machine.h"

namespace tarvo::test {

struct CpuHarness {
  Machine m;
  ProcessorState& c = m.cpu;

  CpuHarness() {
    m.mem.bankA() = 0;
    m.mem.bankB() = 0;
    cpuReset(m);
    c.F = 0;
    c.PC = 0x1000;
  }

  // Bytes at a segment-0 address (rom1 buffer), for byte-organised code.
  void code(uint16_t address, std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) m.mem.rows[kRom1Row].buffer[address++] = b;
  }
  // Bytes at PC.
  void code(std::initializer_list<uint8_t> bytes) { code(c.PC, bytes); }
  // Bytes two per word into the on-chip ROM from a word address.
  void wordCode(uint16_t wordAddress, std::initializer_list<uint8_t> bytes) {
    std::size_t offset = static_cast<std::size_t>(wordAddress) * 2;
    for (uint8_t b : bytes) m.mem.rows[kRomRow].buffer[offset++] = b;
  }
  // A RAM byte of segment 1 (row 3) by its 16-bit address.
  uint8_t& ram(uint16_t address) { return m.mem.rows[kRam0Row].buffer[address]; }

  int32_t step() { return tarvo::step(m); }
};

}  // namespace tarvo::test
