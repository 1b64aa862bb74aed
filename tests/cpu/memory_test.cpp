#include <gtest/gtest.h>

#include "cpu/exec.h"
#include "cpu/memory.h"
#include "machine.h"

namespace tarvo {
namespace {

TEST(MemoryMap, CommonAreaChoosesSegmentZeroBelowBoundary) {
  Machine m;
  m.cpu.IB = 0x40;
  m.cpu.UA = 0x10;
  m.mem.rows[kRom1Row].buffer[0x3FFF] = 0x11;
  m.mem.rows[kRam0Row].buffer[0x4000] = 0x22;
  EXPECT_EQ(readData(m, m.cpu.UA >> 4, 0x3FFF), 0x11);
  EXPECT_EQ(readData(m, m.cpu.UA >> 4, 0x4000), 0x22);
}

TEST(MemoryMap, BankSwitchingOnReadsOnly) {
  Machine m;
  m.mem.bankA() = 0x02;  // upper half of segment 0
  m.mem.rows[kRom2Row].buffer[0x8000] = 0x5A;
  EXPECT_EQ(readPhysical(m, 0x08000), 0x5A);
  writePhysical(m, 0x08000, 0x00);  // row 2 is read-only
  EXPECT_EQ(m.mem.rows[kRom1Row].buffer[0x8000], 0xFF);

  m.mem.bankA() = 0x04;  // lower half of segment 1
  m.mem.rows[kRom2Row].buffer[0x1234] = 0x77;
  writePhysical(m, 0x11234, 0x99);
  EXPECT_EQ(m.mem.rows[kRam0Row].buffer[0x1234], 0x99);
  EXPECT_EQ(readPhysical(m, 0x11234), 0x77);
}

TEST(MemoryMap, BankBytesNeverHideLowAddresses) {
  Machine m;
  m.mem.bankA() = 0xFF;
  m.mem.rows[kRomRow].buffer[10] = 0x42;
  EXPECT_EQ(readPhysical(m, 0x00005), 0x42);  // word address 5 is byte 10
  EXPECT_EQ(readPhysical(m, 0x00C10), 0xFF);  // bank byte A itself
}

TEST(MemoryMap, RegionQueries) {
  EXPECT_EQ(regionOf(0x00000), 0);
  EXPECT_EQ(regionOf(0x00C05), -1);
  EXPECT_EQ(regionOf(0x00C10), -1);
  EXPECT_EQ(regionOf(0x00C12), 2);
  EXPECT_EQ(regionOf(0x2A345), 4);
  EXPECT_EQ(regionOf(0x20000), -1);
  EXPECT_EQ(regionOf(0x70000), -1);
  EXPECT_EQ(regionStart(2), 0x00C12);
  EXPECT_EQ(regionEnd(4), 0x30000);
}

TEST(Fetch, ByteMemoryCostsThreeCyclesPerByteAndWrapsPc) {
  Machine m;
  m.cpu.UA = m.cpu.segmentLatch = 1;
  m.mem.rows[kRam0Row].buffer[0xFFFF] = 0xF8;
  m.mem.rows[kRom1Row].buffer[0x0000] = 0xAB;  // 0x0000 lies below no boundary: IB=0
  m.cpu.PC = 0xFFFF;
  m.cpu.cycles = 0;
  EXPECT_EQ(fetchInstruction(m), 0xF8);
  EXPECT_EQ(m.cpu.cycles, 3);
  EXPECT_EQ(m.cpu.PC, 0x0000);
  EXPECT_EQ(m.cpu.wordFetch, 0);
  EXPECT_EQ(m.cpu.fetchBuffer[1], 0xFF);  // segment 1 address 0 is RAM, unloaded
}

TEST(Fetch, WordMemoryTakesWholeWordsAndAligns) {
  Machine m;
  auto& rom = m.mem.rows[kRomRow].buffer;
  rom[0x20] = 0x37;  // word 0x10: opcode, low byte
  rom[0x21] = 0x34;
  rom[0x22] = 0x00;  // word 0x11: filler, high byte
  rom[0x23] = 0x12;
  m.cpu.PC = 0x10;
  m.cpu.cycles = 0;
  EXPECT_EQ(fetchInstruction(m), 0x37);
  EXPECT_EQ(m.cpu.wordFetch, 1);
  EXPECT_EQ(m.cpu.PC, 0x10);
  EXPECT_EQ(nextByte(m), 0x34);
  EXPECT_EQ(m.cpu.PC, 0x11);
  EXPECT_EQ(nextByte(m), 0x00);
  endInstruction(m);  // odd position: the word's second byte is taken
  EXPECT_EQ(m.cpu.PC, 0x12);
  EXPECT_EQ(m.cpu.cycles, 8);
}

}  // namespace
}  // namespace tarvo
