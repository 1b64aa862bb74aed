// Instructions 0xC0-0xFF: multi-byte register runs, immediate words, block
// transfer and search, register jumps, multi-byte indexed and stack
// transfers, returns and machine control.
#include <gtest/gtest.h>

#include "cpu/state.h"
#include "harness.h"

namespace tarvo::test {
namespace {

// Code runs from segment 0 at 0x1000; data and stacks are in segment 1 RAM.
struct Multi : CpuHarness {
  Multi() { c.UA = 0x54; }
  void regs(unsigned first, std::initializer_list<uint8_t> values) {
    for (uint8_t v : values) reg(c, first++) = v;
  }
};

TEST(MultiDecimal, CarryRipplesThroughTheBlock) {
  for (uint8_t count : {0x20, 0x00}) {  // block length 2 either way
    Multi t;                            // adbm $0,$sx,2: 9999 + 0001
    t.code({0xC8, 0x00, count});
    t.c.SX = 2;
    t.regs(0, {0x99, 0x99, 0x01, 0x00, 0x77});
    EXPECT_EQ(t.step(), 3 * 3 + 5 * 2 - 2);
    EXPECT_EQ(t.c.R[0], 0x00);
    EXPECT_EQ(t.c.R[1], 0x00);
    EXPECT_EQ(t.c.R[2], 0x01);
    EXPECT_EQ(t.c.F, kFlagC);  // NZ counts only the stored bytes
  }

  Multi u;  // adbcm: the same flags, nothing stored
  u.code({0xC0, 0x00, 0x20});
  u.c.SX = 2;
  u.regs(0, {0x99, 0x99, 0x01, 0x00});
  u.step();
  EXPECT_EQ(u.c.R[0], 0x99);
  EXPECT_EQ(u.c.F, kFlagC);

  Multi v;  // sbbm $0,$2,2 through the register byte in b2: 0100 - 0001
  v.code({0xC9, 0x60, 0x22});
  v.regs(0, {0x00, 0x01, 0x01, 0x00});
  EXPECT_EQ(v.step(), 3 * 3 + 8);
  EXPECT_EQ(v.c.R[0], 0x99);
  EXPECT_EQ(v.c.R[1], 0x00);
  EXPECT_EQ(v.c.F, kFlagNZ);
  EXPECT_EQ(v.c.PC, 0x1003);
}

TEST(MultiDecimal, SmallConstantGoesIntoTheLowestByteOnly) {
  Multi t;  // adbm $5,&H01,3; b1's selector bits are not decoded
  t.code({0xCA, 0x65, 0x41});
  t.regs(5, {0x99, 0x99, 0x12, 0x55});
  EXPECT_EQ(t.step(), 3 * 3 + 5 * 3 - 2);
  EXPECT_EQ(t.c.PC, 0x1003);
  EXPECT_EQ(t.c.R[5], 0x00);
  EXPECT_EQ(t.c.R[6], 0x00);
  EXPECT_EQ(t.c.R[7], 0x13);
  EXPECT_EQ(t.c.R[8], 0x55);
  EXPECT_EQ(t.c.F, kFlagNZ | kFlagNLZ | kFlagNUZ);

  Multi u;  // sbbm $5,&H01,2: 1000 - 1 borrows through the low byte
  u.code({0xCB, 0x05, 0x01});
  u.regs(5, {0x00, 0x10});
  u.step();
  EXPECT_EQ(u.c.R[5], 0x99);
  EXPECT_EQ(u.c.R[6], 0x09);
  EXPECT_EQ(u.c.F, kFlagNZ | kFlagNLZ);
}

TEST(MultiRegisters, MoveAndLogicWorkOneRegisterAtATime) {
  Multi t;  // ldm $1,$0,4: the source's first byte repeats upward
  t.code({0xC2, 0x61, 0x60});
  t.regs(0, {0xAA, 1, 2, 3, 4, 5});
  t.c.F = 0x50;
  EXPECT_EQ(t.step(), 3 * 3 + 5 * 4 - 2);
  for (unsigned i = 0; i <= 4; ++i) EXPECT_EQ(t.c.R[i], 0xAA) << i;
  EXPECT_EQ(t.c.R[5], 5);
  EXPECT_EQ(t.c.F, 0x50);

  Multi u;  // xrm $30,$sx,4 runs $30, $31, $0, $1
  u.code({0xCF, 0x1E, 0x60});
  u.c.SX = 2;
  u.regs(30, {0xFF, 0x0F, 0x30, 0x0C, 0x0F, 0xF0, 0x33, 0x0C});
  u.step();
  EXPECT_EQ(u.c.R[30], 0xF0);
  EXPECT_EQ(u.c.R[31], 0xFF);
  EXPECT_EQ(u.c.R[0], 0x03);
  EXPECT_EQ(u.c.R[1], 0x00);
  EXPECT_EQ(u.c.F, kFlagNZ);  // digit flags from the last byte, NZ from all

  Multi v;  // nacm: flags only, carry set, NZ over all bytes
  v.code({0xC5, 0x00, 0x20});
  v.c.SX = 2;
  v.regs(0, {0x0F, 0xFF, 0xF0, 0xFF});
  v.step();
  EXPECT_EQ(v.c.R[0], 0x0F);
  EXPECT_EQ(v.c.F, kFlagNZ | kFlagC);  // last byte: NOT(0xFF AND 0xFF) = 0
}

TEST(MultiRegisters, ShiftsAcrossTheBlock) {
  struct Case {
    uint8_t b1, count;
    unsigned first;
    std::initializer_list<uint8_t> before, after;  // registers from `first` upward
    uint8_t flags;
  };
  const Case cases[] = {
      {0x03, 0x20, 2, {0x34, 0x12}, {0x23, 0x01}, kFlagNZ | kFlagNLZ | kFlagNUZ},  // didm $3,2
      {0x22, 0x20, 2, {0x34, 0x12}, {0x40, 0x23}, kFlagNZ | kFlagNLZ | kFlagNUZ},  // dium $2,2
      {0x43, 0x40, 1, {0x33, 0x22, 0x11}, {0x22, 0x11, 0x00}, kFlagNZ | kFlagNLZ | kFlagNUZ},
      {0x7E, 0x40, 30, {0x11, 0x22, 0x33}, {0x00, 0x11, 0x22}, kFlagNZ | kFlagNLZ | kFlagNUZ},
      {0x40, 0x20, 31, {0x00, 0x00}, {0x00, 0x00}, 0},  // bydm of zeros
  };
  for (const Case& k : cases) {
    Multi t;
    t.code({0xDA, k.b1, k.count});
    t.regs(k.first, k.before);
    t.c.F = kFlagC;
    const unsigned n = static_cast<unsigned>(k.before.size());
    EXPECT_EQ(t.step(), 3 * 3 + 5 * static_cast<int>(n) - 2);
    unsigned i = k.first;
    for (uint8_t v : k.after) EXPECT_EQ(reg(t.c, i++), v) << std::hex << int(k.b1);
    EXPECT_EQ(t.c.F, k.flags) << std::hex << int(k.b1);
  }
}

TEST(MultiRegisters, ComplementNegatesTheWholeNumber) {
  struct Case {
    uint8_t b1;
    uint8_t r0, r1, n0, n1, flags;
  };
  const Case cases[] = {
      {0x00, 0x00, 0x01, 0x00, 0xFF, kFlagNZ | kFlagC | kFlagNLZ | kFlagNUZ},
      {0x00, 0x00, 0x00, 0x00, 0x00, 0},
      {0x40, 0xFF, 0xFF, 0x00, 0x00, kFlagC},  // invm
      {0x20, 0x01, 0x00, 0xFF, 0xFF, kFlagNZ | kFlagC | kFlagNLZ | kFlagNUZ},
  };
  for (const Case& k : cases) {
    Multi t;
    t.code({0xDB, k.b1, 0x20});
    t.regs(0, {k.r0, k.r1});
    EXPECT_EQ(t.step(), 3 * 3 + 8);
    EXPECT_EQ(t.c.R[0], k.n0);
    EXPECT_EQ(t.c.R[1], k.n1);
    EXPECT_EQ(t.c.F, k.flags) << std::hex << int(k.b1) << " " << int(k.r0);
  }
}

TEST(ImmediateWords, PlainBytesWithoutFiller) {
  Multi t;  // stw &H1234,($sx), then selector 3 meaning SZ
  t.code({0xD0, 0x00, 0x34, 0x12, 0xD0, 0x60, 0x78, 0x56});
  t.c.SX = 4;
  t.c.SZ = 0x26;  // $6
  t.regs(4, {0x00, 0x80, 0xFF, 0xFF});
  EXPECT_EQ(t.step(), 4 * 3 + 11);
  EXPECT_EQ(t.ram(0x8000), 0x34);
  EXPECT_EQ(t.ram(0x8001), 0x12);
  t.step();
  EXPECT_EQ(t.ram(0xFFFF), 0x78);
  EXPECT_EQ(t.ram(0x0000), 0x56);

  Multi u;  // ldw $3,&HABCD from the on-chip ROM: two words, no filler
  u.wordCode(0x100, {0xD1, 0x03, 0xCD, 0xAB});
  u.c.PC = 0x100;
  EXPECT_EQ(u.step(), 2 * 4 + 11);
  EXPECT_EQ(u.c.R[3], 0xCD);
  EXPECT_EQ(u.c.R[4], 0xAB);
  EXPECT_EQ(u.c.PC, 0x102);

  Multi v;  // pre iz,&H1234 and pre ky,&H5678
  v.code({0xD6, 0x40, 0x34, 0x12, 0xD7, 0x60, 0x78, 0x56});
  EXPECT_EQ(v.step(), 4 * 3 + 8);
  v.step();
  EXPECT_EQ(v.c.IZ, 0x1234);
  EXPECT_EQ(v.c.KY, 0x5678);
}

TEST(MultiLcd, OneFrameForTheWholeRun) {
  Multi t;  // stlm $0,2 (command 2, mode 4), stlm $2,3, stlm $5,2 (command 1, mode 7), ldlm $8,3
  t.code({0xD2, 0x00, 0x20, 0xD2, 0x02, 0x40, 0xD2, 0x05, 0x20, 0xD3, 0xE8, 0x40});
  t.regs(0, {0x82, 0x00, 0x12, 0x34, 0x56, 0xE1, 0x00});
  t.m.lcd.control = 0x87;
  EXPECT_EQ(t.step(), 3 * 3 + 8 * 2 + 3);
  t.m.lcd.control = 0x86;
  EXPECT_EQ(t.step(), 3 * 3 + 8 * 3 + 3);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(t.m.lcd.memory[0][i], i + 1);
  t.m.lcd.control = 0x87;
  t.step();
  t.m.lcd.control = 0x86;
  t.step();
  EXPECT_EQ(t.c.R[8], 0x21);
  EXPECT_EQ(t.c.R[9], 0x43);
  EXPECT_EQ(t.c.R[10], 0x65);
}

TEST(Block, TransferIncludesTheByteAtIY) {
  Multi t;  // bup with IX = IY: exactly one byte
  t.code({0xD8, 0xD8});
  t.c.IX = t.c.IY = 0x2000;
  t.c.IZ = 0x3000;
  t.ram(0x2000) = 0x42;
  EXPECT_EQ(t.step(), 3 + 6 + 3);
  EXPECT_EQ(t.ram(0x3000), 0x42);

  t.c.IX = 0x1000;  // four bytes
  t.c.IY = 0x1003;
  t.c.IZ = 0x5000;
  for (uint16_t a = 0x1000; a < 0x1004; ++a) t.ram(a) = static_cast<uint8_t>(a);
  EXPECT_EQ(t.step(), 3 + 6 * 4 + 3);
  EXPECT_EQ(t.c.IX, 0x1003);
  EXPECT_EQ(t.c.IZ, 0x5003);
  EXPECT_EQ(t.ram(0x5000), 0x00);
  EXPECT_EQ(t.ram(0x5003), 0x03);

  Multi u;  // bdn across address 0
  u.code({0xD9});
  u.c.IX = 0x0001;
  u.c.IY = 0xFFFF;
  u.c.IZ = 0x8001;
  u.ram(0x0001) = 1;
  u.ram(0x0000) = 2;
  u.ram(0xFFFF) = 3;
  EXPECT_EQ(u.step(), 3 + 6 * 3 + 3);
  EXPECT_EQ(u.ram(0x8001), 1);
  EXPECT_EQ(u.ram(0x8000), 2);
  EXPECT_EQ(u.ram(0x7FFF), 3);
  EXPECT_EQ(u.c.IX, 0xFFFF);
  EXPECT_EQ(u.c.IZ, 0x7FFF);
}

TEST(Block, SearchStopsOnTheMatchOrOnIY) {
  struct Case {
    uint8_t opcode, value;
    uint16_t ix, iy, stop;
    int compared;
    uint8_t flags;
  };
  const Case cases[] = {
      {0xDC, 0x20, 0x2000, 0x2002, 0x2001, 2, 0},
      {0xDC, 0x40, 0x2000, 0x2002, 0x2002, 3, kFlagNZ | kFlagC | kFlagNUZ},
      {0xDD, 0x10, 0x2002, 0x2000, 0x2000, 3, 0},
      {0xDD, 0x05, 0x2002, 0x2000, 0x2000, 3, kFlagNZ | kFlagNLZ},
  };
  for (const Case& k : cases) {
    Multi t;
    t.code({k.opcode, 0xE2});  // $2; bits 5-7 ignored
    t.ram(0x2000) = 0x10;
    t.ram(0x2001) = 0x20;
    t.ram(0x2002) = 0x30;
    t.c.R[2] = k.value;
    t.c.IX = k.ix;
    t.c.IY = k.iy;
    EXPECT_EQ(t.step(), 2 * 3 + 6 * k.compared + 3);
    EXPECT_EQ(t.c.IX, k.stop);
    EXPECT_EQ(t.c.F, k.flags) << std::hex << int(k.value);
  }
}

TEST(Jumps, ThroughAPairAndThroughMemory) {
  Multi t;  // jp $4
  t.code({0xDE, 0xE4});
  t.regs(4, {0x34, 0x12});
  EXPECT_EQ(t.step(), 2 * 3 + 5);
  EXPECT_EQ(t.c.PC, 0x1234);

  Multi u;  // jp ($4) reads the target on the IX side
  u.code({0xDF, 0x04});
  u.regs(4, {0xFF, 0x7F});
  u.ram(0x7FFF) = 0x00;
  u.ram(0x8000) = 0x20;
  EXPECT_EQ(u.step(), 2 * 3 + 5);
  EXPECT_EQ(u.c.PC, 0x2000);
}

TEST(IndexedMulti, IndexEndsWhereEachFormLeavesIt) {
  Multi t;  // stim $0,(iz-$sy),3; stdm and stm with the same operands
  t.code({0xE3, 0xA0, 0x40, 0xE5, 0xA0, 0x40, 0xE1, 0xA0, 0x40});
  t.c.SY = 5;
  t.regs(30, {0x30, 0x31, 0xA0, 0xA1, 0xA2});
  t.c.R[5] = 0x10;
  t.c.IZ = 0x3000;
  EXPECT_EQ(t.step(), 3 * 3 + 3 * 3 + 5);
  EXPECT_EQ(t.c.IZ, 0x3000 - 0x10 + 3);
  EXPECT_EQ(t.ram(0x2FF0), 0xA0);
  EXPECT_EQ(t.ram(0x2FF2), 0xA2);
  t.c.IZ = 0x3000;
  EXPECT_EQ(t.step(), 3 * 3 + 3 * 3 + 3);
  EXPECT_EQ(t.c.IZ, 0x3000 - 0x10 - 2);
  EXPECT_EQ(t.ram(0x2FF0), 0xA0);
  EXPECT_EQ(t.ram(0x2FEF), 0x31);
  EXPECT_EQ(t.ram(0x2FEE), 0x30);
  t.c.IZ = 0x3000;
  t.step();
  EXPECT_EQ(t.c.IZ, 0x3000);

  Multi u;  // ldm $4,(ix+$5),3 with the register in b2: the offset is read before $5 is loaded
  u.code({0xE8, 0x64, 0x45, 0xEC, 0x02, 0x20});
  u.c.R[5] = 0x08;
  u.c.IX = 0x2000;
  u.ram(0x2008) = 0x11;
  u.ram(0x2009) = 0x12;
  u.ram(0x200A) = 0x13;
  EXPECT_EQ(u.step(), 3 * 3 + 3 * 3 + 5);
  EXPECT_EQ(u.c.R[4], 0x11);
  EXPECT_EQ(u.c.R[5], 0x12);
  EXPECT_EQ(u.c.R[6], 0x13);
  EXPECT_EQ(u.c.IX, 0x2000);
  u.c.SX = 4;  // lddm $2,(ix+$sx),2: $4 = 0x11
  u.ram(0x2011) = 0x21;
  u.ram(0x2010) = 0x22;
  EXPECT_EQ(u.step(), 3 * 3 + 3 * 2 + 3);
  EXPECT_EQ(u.c.R[2], 0x21);
  EXPECT_EQ(u.c.R[1], 0x22);
  EXPECT_EQ(u.c.IX, 0x2010);
}

TEST(MultiStack, PushedBlocksPopBackInOrder) {
  Multi t;  // phsm $7,3 then ppsm $5,3
  t.code({0xE6, 0x07, 0x40, 0xEE, 0x05, 0x40});
  t.c.SS = 0x8000;
  t.regs(5, {0x55, 0x66, 0x77});
  EXPECT_EQ(t.step(), 3 * 3 + 3 * 3 + 3);
  EXPECT_EQ(t.c.SS, 0x7FFD);
  EXPECT_EQ(t.ram(0x7FFD), 0x55);
  EXPECT_EQ(t.ram(0x7FFF), 0x77);
  t.regs(5, {0, 0, 0});
  EXPECT_EQ(t.step(), 3 * 3 + 3 * 3 + 5);
  EXPECT_EQ(t.c.R[5], 0x55);
  EXPECT_EQ(t.c.R[6], 0x66);
  EXPECT_EQ(t.c.R[7], 0x77);
  EXPECT_EQ(t.c.SS, 0x8000);

  Multi u;  // phum $1,3 wraps to $0 and $31
  u.code({0xE7, 0xE1, 0x40});
  u.c.US = 0x4000;
  u.regs(31, {0x31, 0x00, 0x01});
  u.step();
  EXPECT_EQ(u.c.US, 0x3FFD);
  EXPECT_EQ(u.ram(0x3FFD), 0x31);
  EXPECT_EQ(u.ram(0x3FFF), 0x01);
}

TEST(Returns, TrapAndReturnComeBackAfterTheTrap) {
  Multi t;  // trp from byte memory; the routine at 0x0022 is in the on-chip ROM
  t.code({0xFF});
  t.wordCode(0x22, {0xF0, 0x00, 0xF7, 0x00});  // rtn z (not taken), rtn
  t.c.SS = 0x8000;
  t.c.F = kFlagNZ;
  EXPECT_EQ(t.step(), 3 + 9);
  EXPECT_EQ(t.c.PC, 0x0022);
  EXPECT_EQ(t.ram(0x7FFE), 0x00);  // 0x1000: one below the next instruction
  EXPECT_EQ(t.ram(0x7FFF), 0x10);
  EXPECT_EQ(t.step(), 4 + 3);
  EXPECT_EQ(t.c.PC, 0x0023);
  EXPECT_EQ(t.step(), 4 + 11);
  EXPECT_EQ(t.c.PC, 0x1001);
  EXPECT_EQ(t.c.SS, 0x8000);
}

TEST(Returns, TrapFromTheOnChipRomReturnsToTheNextWord) {
  Multi t;
  t.wordCode(0x100, {0xFF, 0xEE});
  t.wordCode(0x22, {0xF7, 0x00});
  t.c.PC = 0x100;
  t.c.SS = 0x8000;
  EXPECT_EQ(t.step(), 4 + 9);
  EXPECT_EQ(t.c.PC, 0x0022);
  t.step();
  EXPECT_EQ(t.c.PC, 0x101);
}

TEST(MachineControl, ClockTimeAndPower) {
  Multi t;
  t.code({0xF8, 0xF9, 0xFB, 0xF8, 0xFA, 0xFE});
  t.c.TM = 0x7B;
  EXPECT_EQ(t.step(), 6);  // nop
  EXPECT_EQ(t.step(), 6);  // clt
  EXPECT_EQ(t.c.TM, 0);
  EXPECT_EQ(t.step(), 6 << 4);  // slw scales its own step
  EXPECT_EQ(t.step(), 6 << 4);
  EXPECT_EQ(t.step(), 6);  // fst
  t.c.F = kFlagPower;
  EXPECT_EQ(t.step(), 6);  // off
  EXPECT_TRUE(t.c.powerOff);
  EXPECT_EQ(t.c.PC, 0x0010);
  EXPECT_EQ(t.c.F, kFlagPower | kFlagWake);
}

TEST(MachineControl, EndOfServiceAndClockShift) {
  Multi t;  // cani ends the highest request
  t.code({0xFC});
  t.c.IB = 0x0A;
  t.c.inService = 0x08;
  t.c.clockShift = 4;
  EXPECT_EQ(t.step(), 6 << 4);  // no service left: the step is scaled
  EXPECT_EQ(t.c.IB, 0x02);
  EXPECT_EQ(t.c.inService, 0x00);

  Multi u;  // rtni ending the last service routine is scaled
  u.code({0xFD});
  u.c.IB = 0x0C;
  u.c.inService = 0x08;
  u.c.clockShift = 4;
  u.c.SS = 0x7FFE;
  u.ram(0x7FFE) = 0x34;
  u.ram(0x7FFF) = 0x12;
  EXPECT_EQ(u.step(), (3 + 11) << 4);
  EXPECT_EQ(u.c.PC, 0x1234);  // nothing added
  EXPECT_EQ(u.c.IB, 0x04);
  EXPECT_EQ(u.c.inService, 0x00);

  Multi v;  // nested: still in service, not scaled; a program segment adds 1
  v.code({0xFD});
  v.c.UA = 0x55;
  v.c.IB = 0x18;
  v.c.inService = 0x18;
  v.c.clockShift = 4;
  v.c.SS = 0x7FFE;
  EXPECT_EQ(v.step(), 3 + 12);
  EXPECT_EQ(v.c.inService, 0x08);
}

TEST(MultiNoOperation, ConsumeOnlyTheOpcode) {
  for (uint8_t op : {0xC3, 0xD4, 0xD5}) {
    Multi t;
    t.code({op, 0x61, 0x40});
    EXPECT_EQ(t.step(), 3 + 3);
    EXPECT_EQ(t.c.PC, 0x1001);
  }
}

}  // namespace
}  // namespace tarvo::test
