// Instructions 0x80-0xBF: word arithmetic and logic, pair-indirect and
// indexed word transfers, word shifts, specific registers, stacks and jr.
#include <gtest/gtest.h>

#include "cpu/state.h"
#include "harness.h"

namespace tarvo::test {
namespace {

// Code runs from segment 0 at 0x1000; data and stacks are in segment 1 RAM.
struct Word : CpuHarness {
  Word() { c.UA = 0x54; }
  void pair(unsigned n, uint16_t v) { pairWrite(c, n, v); }
  uint16_t pair(unsigned n) const { return pairRead(c, n); }
  void regs(unsigned first, std::initializer_list<uint8_t> values) {
    for (uint8_t v : values) reg(c, first++) = v;
  }
};

TEST(WordArithmetic, AddSubtractAndTheirFlags) {
  Word t;  // adw $2,$4 with an explicit register byte: a sum of 0x10000
  t.code({0x88, 0x62, 0x04});
  t.pair(2, 0xFFFF);
  t.pair(4, 0x0001);
  t.c.F = 0x0B;  // bits 0-3 survive
  EXPECT_EQ(t.step(), 3 * 3 + 8);
  EXPECT_EQ(t.pair(2), 0x0000);
  EXPECT_EQ(t.c.F, kFlagC | 0x0B);
  EXPECT_EQ(t.c.PC, 0x1003);

  Word u;  // sbcw $0,$sx: flags only
  u.code({0x81, 0x00});
  u.c.SX = 2;
  u.pair(0, 0x1234);
  u.pair(2, 0x1235);
  EXPECT_EQ(u.step(), 2 * 3 + 8);
  EXPECT_EQ(u.pair(0), 0x1234);
  EXPECT_EQ(u.pair(2), 0x1235);
  EXPECT_EQ(u.c.F, kFlagNZ | kFlagC | kFlagNLZ | kFlagNUZ);

  Word v;  // adw $2,$sx with the jump option: stored, then the jump
  v.code({0x88, 0x82, 0x05});
  v.c.SX = 0x24;  // only bits 0-4 count: $4
  v.pair(2, 0x0100);
  v.pair(4, 0x0023);
  EXPECT_EQ(v.step(), 3 * 3 + 8);
  EXPECT_EQ(v.pair(2), 0x0123);
  EXPECT_EQ(v.c.PC, 0x1002 + 5);

  Word w;  // anw $2,$4 with the jump option: register byte first, displacement last
  w.code({0x8C, 0xE2, 0x04, 0x03});
  w.pair(2, 0x0FF0);
  w.pair(4, 0x3C3C);
  EXPECT_EQ(w.step(), 4 * 3 + 8);
  EXPECT_EQ(w.pair(2), 0x0C30);
  EXPECT_EQ(w.c.PC, 0x1003 + 3);
}

TEST(WordArithmetic, MovesAndLogicReadWhatTheLowByteWrote) {
  Word t;  // ldw $5,$4
  t.code({0x82, 0x65, 0x04});
  t.c.R[4] = 0x11;
  t.c.R[5] = 0x22;
  t.c.F = 0x30;
  t.step();
  EXPECT_EQ(t.c.R[5], 0x11);
  EXPECT_EQ(t.c.R[6], 0x11);
  EXPECT_EQ(t.c.F, 0x30);

  Word u;  // orw $1,$0: the high byte ORs $2 with the new $1
  u.code({0x8E, 0x61, 0x00});
  u.c.R[0] = 0x01;
  u.c.R[1] = 0x02;
  u.c.R[2] = 0x00;
  u.step();
  EXPECT_EQ(u.c.R[1], 0x03);
  EXPECT_EQ(u.c.R[2], 0x03);
  EXPECT_EQ(u.c.F, kFlagNZ | kFlagC | kFlagNLZ);

  Word v;  // anw $31,$sx with SX = 1: pairs ($31,$0) and ($1,$2)
  v.code({0x8C, 0x1F});
  v.c.SX = 1;
  v.c.R[31] = 0xF0;
  v.c.R[0] = 0x0F;
  v.c.R[1] = 0x3C;
  v.c.R[2] = 0xFF;
  v.step();
  EXPECT_EQ(v.c.R[31], 0x30);
  EXPECT_EQ(v.c.R[0], 0x0F);
  EXPECT_EQ(v.c.F, kFlagNZ | kFlagNLZ);  // nibble flags from the high byte

  Word w;  // xrcw: NZ from either byte, nothing stored
  w.code({0x87, 0x60, 0x02});
  w.c.R[0] = 0x01;
  w.c.R[1] = 0x55;
  w.c.R[2] = 0x00;
  w.c.R[3] = 0x55;
  w.step();
  EXPECT_EQ(w.pair(0), 0x5501);
  EXPECT_EQ(w.c.F, kFlagNZ);
}

TEST(WordArithmetic, DecimalCarriesIntoTheHighByte) {
  struct Case {
    uint8_t opcode;
    uint16_t a, b, result;
    uint8_t flags;
  };
  const Case cases[] = {
      {0x8A, 0x0199, 0x0001, 0x0200, kFlagNZ | kFlagNLZ},
      {0x8A, 0x9999, 0x0001, 0x0000, kFlagNZ | kFlagC},
      {0x8B, 0x0100, 0x0001, 0x0099, kFlagNZ},  // digit flags from the high byte
      {0x8B, 0x0000, 0x0001, 0x9999, kFlagNZ | kFlagC | kFlagNLZ | kFlagNUZ},
  };
  for (const Case& k : cases) {
    Word t;
    t.code({k.opcode, 0x00});
    t.c.SX = 2;
    t.pair(0, k.a);
    t.pair(2, k.b);
    EXPECT_EQ(t.step(), 2 * 3 + 8);
    EXPECT_EQ(t.pair(0), k.result) << std::hex << k.a << " " << k.b;
    EXPECT_EQ(t.c.F, k.flags) << std::hex << k.a << " " << k.b;
  }
}

TEST(WordMemory, PairIndirectWrapsAt64K) {
  Word t;  // stw $3,($sx) then ldw $8,($sx)
  t.code({0x90, 0x03, 0x91, 0x08});
  t.c.SX = 6;
  t.pair(6, 0xFFFF);
  t.pair(3, 0xCDAB);
  EXPECT_EQ(t.step(), 2 * 3 + 11);
  EXPECT_EQ(t.ram(0xFFFF), 0xAB);
  EXPECT_EQ(t.ram(0x0000), 0xCD);
  EXPECT_EQ(t.step(), 2 * 3 + 11);
  EXPECT_EQ(t.pair(8), 0xCDAB);
}

TEST(WordMemory, IndexedStoresAndLoadsMoveTheIndex) {
  Word t;  // stw, stiw, stdw $3,(ix+$sx) with $7 = 0x10
  t.code({0xA0, 0x03, 0xA2, 0x03, 0xA4, 0x03});
  t.c.SX = 7;
  t.c.R[7] = 0x10;
  t.pair(2, 0x3322);
  t.c.R[4] = 0x44;
  t.c.IX = 0x2000;
  EXPECT_EQ(t.step(), 2 * 3 + 11);
  EXPECT_EQ(t.c.IX, 0x2000);
  EXPECT_EQ(t.ram(0x2010), 0x33);
  EXPECT_EQ(t.ram(0x2011), 0x44);
  t.step();
  EXPECT_EQ(t.c.IX, 0x2012);
  EXPECT_EQ(t.step(), 2 * 3 + 9);
  EXPECT_EQ(t.c.IX, 0x2021);  // on the lower byte
  EXPECT_EQ(t.ram(0x2022), 0x33);
  EXPECT_EQ(t.ram(0x2021), 0x22);

  Word u;  // ldiw $8,(iz-$7) with an explicit register byte, then lddw $8,(iz+$sx)
  u.code({0xAB, 0xE8, 0x07, 0xAD, 0x08});
  u.c.SX = 7;
  u.c.R[7] = 0x10;
  u.c.IZ = 0x3000;
  u.ram(0x2FF0) = 0x01;
  u.ram(0x2FF1) = 0x02;
  u.ram(0x3001) = 0x77;
  u.ram(0x3002) = 0x88;
  EXPECT_EQ(u.step(), 3 * 3 + 11);
  EXPECT_EQ(u.pair(8), 0x0201);
  EXPECT_EQ(u.c.IZ, 0x2FF2);
  u.step();  // offset $7 is read before $7 is loaded
  EXPECT_EQ(u.c.R[8], 0x88);
  EXPECT_EQ(u.c.R[7], 0x77);
  EXPECT_EQ(u.c.IZ, 0x3001);
}

TEST(WordMemory, WordStraddlesTheCommonAreaBoundary) {
  Word t;  // ldw $0,(ix+$sx) at 0x3FFF with a common area up to 0x4000
  t.code({0xA8, 0x00});
  t.c.IB = 0x40;
  t.c.IX = 0x3FFF;
  t.c.SX = 5;
  t.c.R[5] = 0;
  t.code(0x3FFF, {0x5A});  // segment 0
  t.ram(0x4000) = 0xA5;    // segment 1
  t.step();
  EXPECT_EQ(t.pair(0), 0xA55A);
}

TEST(WordMemory, MemoryWordArithmeticTakesMemoryFirst) {
  Word t;  // adw (ix+$sx),$2: memory 0xFFFF + 0x0001
  t.code({0xBC, 0x02});
  t.c.SX = 7;
  t.c.R[7] = 0x10;
  t.c.IX = 0x2000;
  t.ram(0x2010) = 0xFF;
  t.ram(0x2011) = 0xFF;
  t.pair(2, 0x0001);
  EXPECT_EQ(t.step(), 2 * 3 + 15);
  EXPECT_EQ(t.ram(0x2010), 0x00);
  EXPECT_EQ(t.ram(0x2011), 0x00);
  EXPECT_EQ(t.c.F, kFlagNZ | kFlagC);
  EXPECT_EQ(t.c.IX, 0x2000);

  Word u;  // sbw (iz-$sx),$2: 0x0100 - 0x0001, the borrow crosses the bytes
  u.code({0xBF, 0x82});
  u.c.SX = 7;
  u.c.R[7] = 0x10;
  u.c.IZ = 0x2010;
  u.ram(0x2000) = 0x00;
  u.ram(0x2001) = 0x01;
  u.pair(2, 0x0001);
  u.step();
  EXPECT_EQ(u.ram(0x2000), 0xFF);
  EXPECT_EQ(u.ram(0x2001), 0x00);
  EXPECT_EQ(u.c.F, kFlagNZ);  // the high byte is 0, the low one is not

  Word v;  // sbcw (ix+$sx),$2: memory below the register, nothing written
  v.code({0xBA, 0x02});
  v.c.IX = 0x2000;
  v.ram(0x2000) = 0x00;
  v.ram(0x2001) = 0x00;
  v.pair(2, 0x0100);
  v.step();
  EXPECT_EQ(v.ram(0x2001), 0x00);
  EXPECT_EQ(v.c.F, kFlagNZ | kFlagC | kFlagNLZ | kFlagNUZ);
}

TEST(WordStack, PushAndPopPairs) {
  Word t;  // phsw $5, then ppsw $4 after the registers are spoiled
  t.code({0xA6, 0x05, 0xAE, 0x04, 0xA7, 0xE3});
  t.c.SS = 0x0001;
  t.pair(4, 0x5544);
  EXPECT_EQ(t.step(), 2 * 3 + 12);
  EXPECT_EQ(t.c.SS, 0xFFFF);
  EXPECT_EQ(t.ram(0x0000), 0x55);
  EXPECT_EQ(t.ram(0xFFFF), 0x44);
  t.pair(4, 0);
  EXPECT_EQ(t.step(), 2 * 3 + 14);
  EXPECT_EQ(t.pair(4), 0x5544);
  EXPECT_EQ(t.c.SS, 0x0001);

  t.c.US = 0x8000;  // phuw $3: bits 5-7 of the operand byte are ignored
  t.pair(2, 0xBEEF);
  t.step();
  EXPECT_EQ(t.c.US, 0x7FFE);
  EXPECT_EQ(t.ram(0x7FFE), 0xEF);
  EXPECT_EQ(t.ram(0x7FFF), 0xBE);
  EXPECT_EQ(t.c.PC, 0x1006);
}

TEST(WordShift, DownUsesThePairBelowUpThePairAbove) {
  struct Case {
    uint8_t opcode, b1;
    uint8_t carryIn;
    uint16_t before, after;  // pair (r-1) for the down forms, pair r for the up forms
    uint8_t flags;
  };
  const Case cases[] = {
      {0x98, 0x05, 1, 0x0001, 0x8000, kFlagNZ | kFlagC},             // rodw $5: flags from $4 = 0
      {0x98, 0x25, 1, 0x8000, 0x0001, kFlagNZ | kFlagC},             // rouw $5: flags from $6
      {0x98, 0x45, 1, 0x0003, 0x0001, kFlagNZ | kFlagC | kFlagNLZ},  // bidw
      {0x98, 0x65, 1, 0x4000, 0x8000, kFlagNZ | kFlagNUZ},           // biuw
      {0x9A, 0x05, 1, 0x1234, 0x0123, kFlagNZ | kFlagNLZ | kFlagNUZ},
      {0x9A, 0x25, 1, 0x1234, 0x2340, kFlagNZ | kFlagNLZ | kFlagNUZ},
  };
  for (const Case& k : cases) {
    Word t;
    t.code({k.opcode, k.b1});
    t.c.F = k.carryIn ? kFlagC : 0;
    const bool up = (k.b1 & 0x20) != 0;
    t.pair(up ? 5 : 4, k.before);
    EXPECT_EQ(t.step(), 2 * 3 + 11);
    EXPECT_EQ(t.c.PC, 0x1002);  // the sub-dispatch consumed nothing extra
    EXPECT_EQ(t.pair(up ? 5 : 4), k.after) << std::hex << int(k.opcode) << " " << int(k.b1);
    EXPECT_EQ(t.c.F, k.flags) << std::hex << int(k.opcode) << " " << int(k.b1);
  }

  Word b;  // bydw $5, then byuw $0 (down pair of $0 is $31,$0)
  b.code({0x9A, 0x45, 0x9A, 0x60});
  b.c.R[5] = 0x12;
  b.c.F = kFlagC;
  b.step();
  EXPECT_EQ(b.c.R[4], 0x12);
  EXPECT_EQ(b.c.R[5], 0x00);
  EXPECT_EQ(b.c.F, kFlagNZ | kFlagNLZ | kFlagNUZ);
  b.c.R[0] = 0x00;
  b.c.R[1] = 0x77;
  b.step();
  EXPECT_EQ(b.c.R[1], 0x00);
  EXPECT_EQ(b.c.F, 0);

  Word w;  // bidw $0 shifts the pair ($31, $0)
  w.code({0x98, 0x40});
  w.c.R[31] = 0x00;
  w.c.R[0] = 0x01;
  w.step();
  EXPECT_EQ(w.c.R[31], 0x80);
  EXPECT_EQ(w.c.R[0], 0x00);
}

TEST(WordComplement, NegateAndInvert) {
  struct Case {
    uint8_t b1;
    uint16_t before, after;
    uint8_t flags;
  };
  const Case cases[] = {
      {0x00, 0x0000, 0x0000, 0},
      {0x00, 0x0001, 0xFFFF, kFlagNZ | kFlagC | kFlagNLZ | kFlagNUZ},
      {0x40, 0xFFFF, 0x0000, kFlagC},
      {0x60, 0x0F00, 0xF0FF, kFlagNZ | kFlagC | kFlagNUZ},  // bit 5 ignored
  };
  for (const Case& k : cases) {
    Word t;
    t.code({0x9B, k.b1});
    t.pair(0, k.before);
    EXPECT_EQ(t.step(), 2 * 3 + 8);
    EXPECT_EQ(t.pair(0), k.after);
    EXPECT_EQ(t.c.F, k.flags) << std::hex << k.before;
  }
}

TEST(WordRegisters, PortFlagsAndSixteenBitRegisters) {
  Word t;  // gflw $31, gpow $1
  t.code({0x9C, 0x5F, 0x9C, 0x01});
  t.c.F = 0xA7;
  t.step();
  EXPECT_EQ(t.c.R[31], 0xA7);
  EXPECT_EQ(t.c.R[0], 0xA7);
  t.c.PE = 0xF0;
  t.c.PD = 0x30;
  t.m.port.inputLines = 0xFA;
  t.step();
  EXPECT_EQ(t.pair(1), 0x3A3A);
  EXPECT_EQ(t.c.F, 0xA7);

  Word u;  // pre us,$0 takes no register byte; pre ss,$2; gre iy,$4; gre ky,$6
  u.code({0x96, 0x60, 0x97, 0x02, 0x9E, 0x24, 0x9F, 0x26});
  u.pair(0, 0x1234);
  u.pair(2, 0x5678);
  u.c.IY = 0x9ABC;
  u.c.KY = 0xFFFF;
  u.c.kyStatus = 0x1E01;  // only bits 8-11 reach KY
  for (int i = 0; i < 4; ++i) EXPECT_EQ(u.step(), 2 * 3 + 8);
  EXPECT_EQ(u.c.US, 0x1234);
  EXPECT_EQ(u.c.SS, 0x5678);
  EXPECT_EQ(u.pair(4), 0x9ABC);
  EXPECT_EQ(u.c.KY, 0x0E00);
  EXPECT_EQ(u.pair(6), 0x0E00);
  EXPECT_EQ(u.c.PC, 0x1008);

  u.code({0x9F, 0x60});  // gre ky,$0 with strobe 13 and two keys held
  u.c.IA = 0x0D;
  u.m.keys.mouseKey = 57;
  u.m.keys.hostKey = 16;
  u.step();
  EXPECT_EQ(u.pair(0), 0x0E82);
}

TEST(WordLcd, TwoBytesLowFirstInOneFrame) {
  Word t;  // stlw $0 (command 2, mode 4), stlw $3 with the selector bits set,
           // stlw $5 (command 1, mode 7), ldlw $7
  t.code({0x92, 0x00, 0x92, 0x23, 0x92, 0x05, 0x93, 0x07});
  t.regs(0, {0x82, 0x00, 0x00, 0xA5, 0x3C, 0xE1, 0x00});
  t.m.lcd.control = 0x87;  // enabled, both chips, command nibbles
  EXPECT_EQ(t.step(), 2 * 3 + 19);
  t.m.lcd.control = 0x86;  // data nibbles
  t.step();
  EXPECT_EQ(t.m.lcd.memory[0][0], 0xA);
  EXPECT_EQ(t.m.lcd.memory[0][1], 0x5);
  EXPECT_EQ(t.m.lcd.memory[0][2], 0x3);
  EXPECT_EQ(t.m.lcd.memory[0][3], 0xC);
  t.m.lcd.control = 0x87;
  t.step();  // a new frame: the read command is stored from its first nibble
  t.m.lcd.control = 0x86;
  EXPECT_EQ(t.step(), 2 * 3 + 19);
  EXPECT_EQ(t.c.R[7], 0x5A);  // the column comes back with its nibbles exchanged
  EXPECT_EQ(t.c.R[8], 0xC3);
}

TEST(Jr, DisplacementAlwaysConsumed) {
  Word t;  // jr +5 from the displacement byte
  t.code({0xB7, 0x05});
  EXPECT_EQ(t.step(), 2 * 3 + 3);
  EXPECT_EQ(t.c.PC, 0x1006);

  Word u;  // jr c,-4 taken; sign and magnitude
  u.code({0xB5, 0x84});
  u.c.F = kFlagC;
  u.step();
  EXPECT_EQ(u.c.PC, 0x0FFD);

  Word v;  // jr nz with NZ 0: not taken, same cost
  v.code({0xB4, 0x05});
  EXPECT_EQ(v.step(), 2 * 3 + 3);
  EXPECT_EQ(v.c.PC, 0x1002);
}

TEST(WordFetch, OnChipRomWordsAndFillers) {
  Word t;  // adw $2,$4 with a register byte: two words, next instruction on a word
  t.wordCode(0x100, {0x88, 0x62, 0x04, 0xEE});
  t.c.PC = 0x100;
  t.pair(4, 1);
  EXPECT_EQ(t.step(), 2 * 4 + 8);
  EXPECT_EQ(t.c.PC, 0x102);
  EXPECT_EQ(t.pair(2), 1);

  Word u;  // adw $2,$sx with the jump option: the displacement is the second byte of a word
  u.wordCode(0x100, {0x88, 0x82, 0xEE, 0x04});
  u.c.PC = 0x100;
  EXPECT_EQ(u.step(), 2 * 4 + 8);
  EXPECT_EQ(u.c.PC, 0x101 + 4);

  Word w;  // with a register byte and the jump option the displacement needs no filler
  w.wordCode(0x100, {0x88, 0xE2, 0x04, 0x02});
  w.c.PC = 0x100;
  EXPECT_EQ(w.step(), 2 * 4 + 8);
  EXPECT_EQ(w.c.PC, 0x101 + 2);

  Word v;  // jr in one word: its base is the word itself
  v.wordCode(0x100, {0xB7, 0x83});
  v.c.PC = 0x100;
  EXPECT_EQ(v.step(), 4 + 3);
  EXPECT_EQ(v.c.PC, 0x0FD);
}

TEST(WordNoOperation, ConsumeOnlyTheOpcode) {
  for (uint8_t op : {0x83, 0x94, 0x95, 0x99, 0x9D}) {
    Word t;
    t.code({op, 0x41, 0x02});
    t.c.R[1] = 0x5A;
    EXPECT_EQ(t.step(), 3 + 3);
    EXPECT_EQ(t.c.PC, 0x1001);
    EXPECT_EQ(t.c.R[1], 0x5A);
  }
}

}  // namespace
}  // namespace tarvo::test
