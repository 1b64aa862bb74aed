// Instructions 0x00-0x7F, run one step at a time from byte memory (segment 0
// at 0x1000) or from the word-organised on-chip ROM. Cycle counts include
// the fetch: 3 per byte, or 4 per word in the on-chip ROM.
#include <gtest/gtest.h>

#include "cpu/operands.h"
#include "harness.h"

namespace tarvo {
namespace {

class Ops : public ::testing::Test, public test::CpuHarness {
 protected:
  // Places the bytes at PC and runs one step.
  int32_t exec(std::initializer_list<uint8_t> bytes) {
    code(bytes);
    return step();
  }
  // Data segments: IX and IZ sides and the stacks all in RAM segment 1.
  void dataInRam() { c.UA = 0x54; }
};

// ---------------------------------------------------------------------------
// Register arithmetic and logic

TEST_F(Ops, SecondRegisterBySelectorOrExplicitByte) {
  c.R[1] = 0x10;
  c.R[2] = 0x05;
  c.SY = 2;
  EXPECT_EQ(exec({0x08, 0x21}), 9);  // ad $1,$sy
  EXPECT_EQ(c.R[1], 0x15);
  EXPECT_EQ(c.PC, 0x1002);

  EXPECT_EQ(exec({0x08, 0x61, 0xE2}), 12);  // ad $1,$2 (explicit byte, bits 5-7 ignored)
  EXPECT_EQ(c.R[1], 0x1A);
  EXPECT_EQ(c.PC, 0x1005);

  c.SX = 0x25;  // only bits 0-4 name the register
  c.R[5] = 0x01;
  exec({0x08, 0x01});
  EXPECT_EQ(c.R[1], 0x1B);
}

TEST_F(Ops, ImmediateFormReadsNoRegisterByte) {
  c.R[1] = 0x10;
  EXPECT_EQ(exec({0x48, 0x61, 0x05}), 12);  // ad $1,&H05 with selector bits 3
  EXPECT_EQ(c.R[1], 0x15);
  EXPECT_EQ(c.PC, 0x1003);
}

TEST_F(Ops, AddAndSubtractFlagsKeepLowFlagBits) {
  c.F = 0x0B;
  c.R[0] = 0xF0;
  exec({0x48, 0x00, 0x20});  // ad $0,&H20
  EXPECT_EQ(c.R[0], 0x10);
  EXPECT_EQ(c.F, kFlagNZ | kFlagC | kFlagNUZ | 0x0B);

  c.R[0] = 0x10;
  exec({0x49, 0x00, 0x20});  // sb $0,&H20
  EXPECT_EQ(c.R[0], 0xF0);
  EXPECT_EQ(c.F, kFlagNZ | kFlagC | kFlagNUZ | 0x0B);

  c.R[0] = 0x20;
  exec({0x49, 0x00, 0x20});
  EXPECT_EQ(c.R[0], 0x00);
  EXPECT_EQ(c.F, 0x0B);
}

TEST_F(Ops, CompareFormsSetFlagsOnly) {
  // adc/sbc/anc... leave the register and set the flags the storing form would.
  const struct {
    uint8_t compare, store, a, b;
  } cases[] = {{0x40, 0x48, 0xF0, 0x20}, {0x41, 0x49, 0x10, 0x20}, {0x44, 0x4C, 0xF3, 0x3F},
               {0x45, 0x4D, 0xFF, 0xFF}, {0x46, 0x4E, 0x00, 0x00}, {0x47, 0x4F, 0x5A, 0xA5}};
  for (const auto& t : cases) {
    SCOPED_TRACE(t.compare);
    c.F = 0;
    c.R[7] = t.a;
    exec({t.compare, 0x07, t.b});
    const uint8_t flags = c.F;
    EXPECT_EQ(c.R[7], t.a);
    c.F = 0;
    exec({t.store, 0x07, t.b});
    EXPECT_EQ(c.F, flags);
  }
}

TEST_F(Ops, LogicResultsAndCarry) {
  c.R[2] = 0xFF;
  exec({0x4D, 0x02, 0xFF});  // na: nand
  EXPECT_EQ(c.R[2], 0x00);
  EXPECT_EQ(c.F, kFlagC);
  c.R[2] = 0x00;
  exec({0x4E, 0x02, 0x00});  // or sets C even for a zero result
  EXPECT_EQ(c.F, kFlagC);
  c.F = kFlagC;
  c.R[2] = 0xF3;
  exec({0x4C, 0x02, 0x3F});  // an clears C
  EXPECT_EQ(c.R[2], 0x33);
  EXPECT_EQ(c.F, kFlagNZ | kFlagNLZ | kFlagNUZ);
  exec({0x4F, 0x02, 0x30});  // xr
  EXPECT_EQ(c.R[2], 0x03);
  EXPECT_EQ(c.F, kFlagNZ | kFlagNLZ);
}

TEST_F(Ops, DecimalAddAndSubtract) {
  const struct {
    uint8_t op, a, b, result;
    bool carry;
  } cases[] = {{0x4A, 0x45, 0x38, 0x83, false},
               {0x4A, 0x99, 0x01, 0x00, true},
               {0x4B, 0x45, 0x38, 0x07, false},
               {0x4B, 0x00, 0x01, 0x99, true}};
  for (const auto& t : cases) {
    c.R[4] = t.a;
    exec({t.op, 0x04, t.b});
    EXPECT_EQ(c.R[4], t.result);
    EXPECT_EQ((c.F & kFlagC) != 0, t.carry);
    EXPECT_EQ((c.F & kFlagNZ) != 0, t.result != 0);
  }
  // The register form takes the second operand through the selector.
  c.R[4] = 0x19;
  c.R[9] = 0x01;
  c.SZ = 9;
  exec({0x0A, 0x44});
  EXPECT_EQ(c.R[4], 0x20);
}

TEST_F(Ops, LoadWithJumpOptionJumpsAfterCopyingAndKeepsFlags) {
  c.F = 0xF0;
  c.R[4] = 0x77;
  c.SX = 4;
  EXPECT_EQ(exec({0x02, 0x83, 0x05}), 12);  // ld $3,$sx then jump +5 from 0x1002
  EXPECT_EQ(c.R[3], 0x77);
  EXPECT_EQ(c.PC, 0x1007);
  EXPECT_EQ(c.F, 0xF0);

  // Explicit register byte comes before the displacement; 0x85 goes back 5.
  c.PC = 0x1000;
  c.R[6] = 0x42;
  EXPECT_EQ(exec({0x02, 0xE3, 0x06, 0x85}), 15);
  EXPECT_EQ(c.R[3], 0x42);
  EXPECT_EQ(c.PC, 0x0FFE);

  // Immediate form: operand byte, n, displacement; 0x80 jumps to the base.
  c.PC = 0x1000;
  EXPECT_EQ(exec({0x42, 0x83, 0x99, 0x80}), 15);
  EXPECT_EQ(c.R[3], 0x99);
  EXPECT_EQ(c.PC, 0x1003);
}

TEST_F(Ops, RegisterNumbersWrapModulo32) {
  c.R[31] = 0x01;
  c.R[0] = 0x02;
  c.SX = 31;
  exec({0x08, 0x1F});  // ad $31,$sx: $31 + $31
  EXPECT_EQ(c.R[31], 0x02);
}

TEST_F(Ops, LdcAndUndefinedOpcodesCostOnlyTheOpcode) {
  for (uint8_t op : {0x19, 0x43, 0x53, 0x5A, 0x5B, 0x5E, 0x5F, 0x66, 0x67, 0x6E, 0x6F, 0x03}) {
    SCOPED_TRACE(op);
    c.PC = 0x1000;
    c.F = 0x5A;
    EXPECT_EQ(exec({op, 0x00, 0x01}), 6);
    EXPECT_EQ(c.PC, 0x1001);
    EXPECT_EQ(c.F, 0x5A);
  }
  // The bytes after ldc run as the next instruction: 0x00 0x01 is adc $1,$sx.
  c.R[1] = 0x80;
  c.R[0] = 0x80;
  c.SX = 0;
  EXPECT_EQ(step(), 9);
  EXPECT_EQ(c.PC, 0x1003);
  EXPECT_EQ(c.R[1], 0x80);
  EXPECT_EQ(c.F, kFlagC | 0x0A);
}

// ---------------------------------------------------------------------------
// Register-pair indirect and immediate loads

TEST_F(Ops, StoreAndLoadThroughRegisterPair) {
  dataInRam();
  c.SX = 4;
  c.R[4] = 0x45;
  c.R[5] = 0x23;
  c.R[3] = 0xA5;
  EXPECT_EQ(exec({0x10, 0x03}), 14);  // st $3,($sx)
  EXPECT_EQ(ram(0x2345), 0xA5);

  // Loading into the pair's own low register: the address is taken first.
  ram(0x2345) = 0x5C;
  EXPECT_EQ(exec({0x11, 0x04}), 14);  // ld $4,($sx)
  EXPECT_EQ(c.R[4], 0x5C);

  // Pair 31 is $31 low, $0 high; explicit register byte then displacement.
  c.R[31] = 0x10;
  c.R[0] = 0x80;
  c.R[9] = 0x66;
  c.PC = 0x1000;
  EXPECT_EQ(exec({0x10, 0xE9, 0x1F, 0x02}), 20);
  EXPECT_EQ(ram(0x8010), 0x66);
  EXPECT_EQ(c.PC, 0x1005);
}

TEST_F(Ops, StoreImmediateThroughPairAndLoadImmediate) {
  dataInRam();
  c.SZ = 6;
  c.R[6] = 0x00;
  c.R[7] = 0x30;
  EXPECT_EQ(exec({0x50, 0xE0, 0xAB}), 17);  // selector 3 means SZ, no register byte
  EXPECT_EQ(ram(0x3000), 0xAB);
  EXPECT_EQ(c.PC, 0x1003);

  EXPECT_EQ(exec({0x51, 0xE7, 0x42}), 17);  // ld $7,&H42: bits 5-7 unused, no jump
  EXPECT_EQ(c.R[7], 0x42);
  EXPECT_EQ(c.PC, 0x1006);
}

// ---------------------------------------------------------------------------
// LCD, port and flag transfers

TEST_F(Ops, LcdTransfersWriteAndReadDisplayMemory) {
  // Command frame: code 2 (write nibble), controller 0, mode 4 (replace).
  EXPECT_EQ(exec({0x54, 0x00, 0x83}), 12);  // ppo &H83: enabled, chip 1, commands
  EXPECT_EQ(m.lcd.control, 0x83);
  EXPECT_EQ(exec({0x52, 0x82}), 18);  // stl &H82
  EXPECT_EQ(m.lcd.command[0], 2);
  EXPECT_EQ(m.lcd.command[1], 8);

  c.R[3] = 0x82;
  exec({0x14, 0x03});  // ppo $3: data mode
  c.R[5] = 0xAB;
  EXPECT_EQ(exec({0x12, 0x05}), 17);  // stl $5: low nibble first, at address XOR 1
  EXPECT_EQ(m.lcd.memory[0][1], 0x0B);
  EXPECT_EQ(m.lcd.memory[0][0], 0x0A);

  // Code 1 (read) in mode 7 reads the column back with its nibbles exchanged.
  m.lcd.control = 0x83;
  exec({0x52, 0xE1});
  m.lcd.control = 0x82;
  m.lcd.address = 0;
  EXPECT_EQ(exec({0x13, 0x66}), 17);  // ldl $6; selector bits are not decoded
  EXPECT_EQ(c.R[6], 0xBA);
}

TEST_F(Ops, EveryLcdTransferStartsANewFrame) {
  m.lcd.control = 0x80;  // no chip enabled: transfers change nothing
  for (auto bytes :
       {std::initializer_list<uint8_t>{0x12, 0x00}, std::initializer_list<uint8_t>{0x13, 0x00},
        std::initializer_list<uint8_t>{0x52, 0x00}}) {
    m.lcd.nibbleCount = 4;
    exec(bytes);
    EXPECT_EQ(m.lcd.nibbleCount, 0u);
  }
  EXPECT_EQ(c.R[0], 0xFF);  // ldl with no reply
}

TEST_F(Ops, FlagAndPortTransfers) {
  c.F = 0x03;
  c.R[1] = 0xA5;
  EXPECT_EQ(exec({0x14, 0x41}), 9);  // pfl $1: upper half only
  EXPECT_EQ(c.F, 0xA3);
  EXPECT_EQ(m.lcd.control, 0x00);
  exec({0x54, 0x60, 0x5F});  // pfl &H5F (bit 5 not decoded)
  EXPECT_EQ(c.F, 0x53);

  EXPECT_EQ(exec({0x1C, 0x42}), 9);  // gfl $2
  EXPECT_EQ(c.R[2], 0x53);

  m.port.inputLines = 0xFA;
  c.PE = 0x0F;
  c.PD = 0x35;
  exec({0x1C, 0x02});  // gpo $2: outputs from PD, inputs from the lines
  EXPECT_EQ(c.R[2], 0xF5);
}

// ---------------------------------------------------------------------------
// Register-number and specific registers

TEST_F(Ops, RegisterNumberRegisters) {
  EXPECT_EQ(exec({0x55, 0x25}), 9);  // psr sy,5
  EXPECT_EQ(c.SY, 5);
  c.R[8] = 0xE7;
  exec({0x15, 0x68});  // psr sz,$8: masked to a register number
  EXPECT_EQ(c.SZ, 7);
  c.SX = 0x13;
  exec({0x1D, 0x0A});  // gsr $10,sx
  EXPECT_EQ(c.R[10], 0x13);
}

TEST_F(Ops, PutSpecificRegisterExceptions) {
  c.IB = 0x03;
  c.inService = 0x03;        // keeps the latched requests from being entered
  exec({0x56, 0x40, 0xFF});  // pst ib: request latches are read-only
  EXPECT_EQ(c.IB, 0xE3);

  c.TM = 0x2A;
  c.R[1] = 0x11;
  exec({0x17, 0x61});  // pst index 7 (TM): ignored
  EXPECT_EQ(c.TM, 0x2A);
  exec({0x1F, 0x42});  // gst index 6 reads TM
  EXPECT_EQ(c.R[2], 0x2A);

  // Enabling only request 0 discards requests 1-4, pending or in service.
  c.IB = 0xDF;
  c.inService = 0x1E;
  EXPECT_EQ(exec({0x57, 0x20, 0x08}), 12);  // pst ie,&H08
  EXPECT_EQ(c.IE, 0x08);
  EXPECT_EQ(c.IB, 0xC1);
  EXPECT_EQ(c.inService, 0x00);
}

TEST_F(Ops, PutAndGetSpecificRegisters) {
  const uint8_t values[6] = {0x11, 0x22, 0x00, 0x44, 0x55, 0x66};
  for (unsigned i = 0; i < 6; ++i) {
    if (i == 2) continue;  // IB has its own rules
    SCOPED_TRACE(i);
    c.R[0] = values[i];
    const uint8_t op = static_cast<uint8_t>(0x16 + (i >> 2));
    exec({op, static_cast<uint8_t>((i & 3) << 5)});
    EXPECT_EQ(spec8(c, i), values[i]);
    exec({static_cast<uint8_t>(op + 8), static_cast<uint8_t>(((i & 3) << 5) | 1)});  // gst $1
    EXPECT_EQ(c.R[1], values[i]);
  }
  // Writing PD drives the port: the port's edge detector sees the new value.
  c.PE = 0xFF;
  m.port.previousValue = 0x10;
  c.R[0] = 0x3C;
  exec({0x16, 0x20});  // pst pd,$0
  EXPECT_EQ(m.port.previousValue, 0x3C);
}

TEST_F(Ops, ProgramSegmentChangeReachesFetchOneInstructionLate) {
  m.mem.rows[kRam0Row].buffer[0x1003] = 0x51;  // segment 1: ld $1,&H22
  m.mem.rows[kRam0Row].buffer[0x1004] = 0x01;
  m.mem.rows[kRam0Row].buffer[0x1005] = 0x22;
  m.mem.rows[kRam0Row].buffer[0x1006] = 0x51;  // segment 1: ld $2,&H33
  m.mem.rows[kRam0Row].buffer[0x1007] = 0x02;
  m.mem.rows[kRam0Row].buffer[0x1008] = 0x33;
  code({0x56, 0x60, 0x01, 0x51, 0x01, 0x11});  // pst ua,&H01; ld $1,&H11
  step();
  step();
  EXPECT_EQ(c.R[1], 0x11);  // still fetched from segment 0
  step();
  EXPECT_EQ(c.R[2], 0x33);
}

// ---------------------------------------------------------------------------
// One-register shifts and complements

TEST_F(Ops, ShiftsChosenByOperandBits) {
  const struct {
    uint8_t op, operand, in, carryIn, out;
    uint8_t flags;
  } cases[] = {
      {0x18, 0x05, 0x01, 1, 0x80, kFlagNZ | kFlagNUZ | kFlagC},  // rod
      {0x18, 0x25, 0x80, 0, 0x00, kFlagC},                       // rou
      {0x18, 0x25, 0x41, 1, 0x83, kFlagNZ | kFlagNLZ | kFlagNUZ},
      {0x18, 0x45, 0x03, 1, 0x01, kFlagNZ | kFlagNLZ | kFlagC},  // bid
      {0x18, 0x65, 0x81, 1, 0x02, kFlagNZ | kFlagNLZ | kFlagC},  // biu
      {0x1A, 0x05, 0xAB, 1, 0x0A, kFlagNZ | kFlagNLZ},           // did
      {0x1A, 0x25, 0xAB, 1, 0xB0, kFlagNZ | kFlagNUZ},           // diu
      {0x1A, 0x45, 0xAB, 1, 0x00, 0},                            // byd
      {0x1A, 0x65, 0xAB, 1, 0x00, 0},                            // byu
      {0x1B, 0x05, 0x00, 1, 0x00, 0},                            // cmp
      {0x1B, 0x25, 0x01, 0, 0xFF, kFlagNZ | kFlagNLZ | kFlagNUZ | kFlagC},
      {0x1B, 0x45, 0xFF, 0, 0x00, kFlagC},  // inv
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << int(t.op) << " " << int(t.operand));
    c.PC = 0x1000;
    c.F = static_cast<uint8_t>((t.carryIn ? kFlagC : 0) | kFlagNZ | 0x05);
    c.R[5] = t.in;
    EXPECT_EQ(exec({t.op, t.operand}), 9);
    EXPECT_EQ(c.R[5], t.out);
    EXPECT_EQ(c.F, t.flags | 0x05);
  }
  // With the jump option.
  c.PC = 0x1000;
  exec({0x18, 0xC5, 0x03});  // bid $5 then jump
  EXPECT_EQ(c.PC, 0x1005);
}

// ---------------------------------------------------------------------------
// Indexed memory

TEST_F(Ops, IndexedStoreVariantsMovePointerDifferently) {
  dataInRam();
  c.R[5] = 0x99;
  const struct {
    uint8_t op;
    int32_t cycles;
    uint16_t ixAfter;
  } cases[] = {{0x60, 17, 0x1000}, {0x62, 17, 0x1003}, {0x64, 15, 0x1002}};
  for (const auto& t : cases) {
    SCOPED_TRACE(t.op);
    c.IX = 0x1000;
    ram(0x1002) = 0;
    EXPECT_EQ(exec({t.op, 0x05, 0x02}), t.cycles);  // st/sti/std $5,(ix+&H02)
    EXPECT_EQ(ram(0x1002), 0x99);
    EXPECT_EQ(c.IX, t.ixAfter);
  }
}

TEST_F(Ops, IndexedLoadsNegativeOffsetsAndWrap) {
  dataInRam();
  ram(0x0FFF) = 0x31;
  c.IZ = 0x1000;
  EXPECT_EQ(exec({0x69, 0x83, 0x01}), 17);  // ld $3,(iz-&H01)
  EXPECT_EQ(c.R[3], 0x31);
  EXPECT_EQ(c.IZ, 0x1000);

  ram(0xFFFF) = 0x42;
  c.IZ = 0x0000;
  EXPECT_EQ(exec({0x6D, 0x84, 0x01}), 15);  // ldd $4,(iz-&H01)
  EXPECT_EQ(c.R[4], 0x42);
  EXPECT_EQ(c.IZ, 0xFFFF);

  // ldi with an explicit offset register; the bit-7 flag negates, no jump.
  ram(0xFFF0) = 0x24;
  c.IX = 0xFFF8;
  c.R[7] = 0x08;
  EXPECT_EQ(exec({0x2A, 0xE1, 0x07}), 17);  // ldi $1,(ix-$7)
  EXPECT_EQ(c.R[1], 0x24);
  EXPECT_EQ(c.IX, 0xFFF1);
  EXPECT_EQ(c.PC, 0x1009);

  // Offset through SY, pointer wraps past 0xFFFF.
  c.IZ = 0xFFFE;
  c.SY = 7;
  c.R[7] = 0x03;
  c.R[2] = 0x77;
  exec({0x23, 0x22});  // sti $2,(iz+$sy)
  EXPECT_EQ(ram(0x0001), 0x77);
  EXPECT_EQ(c.IZ, 0x0002);
}

// ---------------------------------------------------------------------------
// Stacks

TEST_F(Ops, PushAndPopBothStacks) {
  dataInRam();
  c.SS = 0x2000;
  c.US = 0x3000;
  c.R[1] = 0x11;
  c.R[2] = 0x22;
  EXPECT_EQ(exec({0x26, 0xE1}), 15);  // phs $1 (bits 5-7 unused)
  EXPECT_EQ(exec({0x27, 0x02}), 15);  // phu $2
  EXPECT_EQ(c.SS, 0x1FFF);
  EXPECT_EQ(c.US, 0x2FFF);
  EXPECT_EQ(ram(0x1FFF), 0x11);
  EXPECT_EQ(ram(0x2FFF), 0x22);
  EXPECT_EQ(exec({0x2E, 0x03}), 17);  // pps $3
  EXPECT_EQ(exec({0x2F, 0x04}), 17);  // ppu $4
  EXPECT_EQ(c.R[3], 0x11);
  EXPECT_EQ(c.R[4], 0x22);
  EXPECT_EQ(c.SS, 0x2000);
  EXPECT_EQ(c.US, 0x3000);

  ram(0xFFFF) = 0x5E;
  c.SS = 0xFFFF;
  exec({0x2E, 0x05});
  EXPECT_EQ(c.R[5], 0x5E);
  EXPECT_EQ(c.SS, 0x0000);
}

// ---------------------------------------------------------------------------
// Jumps and calls

TEST_F(Ops, ConditionalJumpsTestTheirFlag) {
  const struct {
    uint8_t flags;
    uint8_t takenMask;  // bit cc set when condition cc holds
  } cases[] = {{0x00, 0x8F}, {0xF0, 0xF0}, {kFlagC, 0xAD}, {kFlagNZ | kFlagNLZ, 0xDA}};
  for (const auto& t : cases) {
    for (unsigned cc = 0; cc < 8; ++cc) {
      SCOPED_TRACE(testing::Message() << "flags " << int(t.flags) << " cc " << cc);
      c.PC = 0x1000;
      c.F = t.flags;
      EXPECT_EQ(exec({static_cast<uint8_t>(0x30 + cc), 0x34, 0x12}), 12);
      EXPECT_EQ(c.PC, ((t.takenMask >> cc) & 1) ? 0x1234 : 0x1003);
      EXPECT_EQ(c.F, t.flags);
    }
  }
}

TEST_F(Ops, CallPushesAddressOfItsLastByte) {
  dataInRam();
  c.SS = 0x2000;
  c.F = 0;
  EXPECT_EQ(exec({0x75, 0x00, 0x20}), 12);  // cal c: not taken
  EXPECT_EQ(c.PC, 0x1003);
  EXPECT_EQ(c.SS, 0x2000);

  EXPECT_EQ(exec({0x77, 0x00, 0x20}), 18);  // cal &H2000
  EXPECT_EQ(c.PC, 0x2000);
  EXPECT_EQ(c.SS, 0x1FFE);
  EXPECT_EQ(ram(0x1FFE), 0x05);  // 0x1005 little-endian
  EXPECT_EQ(ram(0x1FFF), 0x10);
}

// ---------------------------------------------------------------------------
// Memory arithmetic

TEST_F(Ops, MemoryArithmetic) {
  dataInRam();
  c.IZ = 0x4001;
  ram(0x4000) = 0x10;
  c.R[0] = 0x20;
  EXPECT_EQ(exec({0x7F, 0x80, 0x01}), 18);  // sb (iz-&H01),$0: memory minus register
  EXPECT_EQ(ram(0x4000), 0xF0);
  EXPECT_EQ(c.F, kFlagNZ | kFlagC | kFlagNUZ);
  EXPECT_EQ(c.IZ, 0x4001);

  // adc: flags of the sum, no write back.
  c.IX = 0x4000;
  c.SX = 2;
  c.R[2] = 0x00;
  c.R[3] = 0x10;
  EXPECT_EQ(exec({0x38, 0x03}), 15);  // adc (ix+$sx),$3
  EXPECT_EQ(ram(0x4000), 0xF0);
  EXPECT_EQ(c.F, kFlagC);

  // ad writes back; address wraps, explicit register offset.
  ram(0x0002) = 0x01;
  c.IX = 0xFFFF;
  c.R[4] = 0x03;
  c.R[3] = 0x0E;
  EXPECT_EQ(exec({0x3C, 0x63, 0x04}), 18);  // ad (ix+$4),$3
  EXPECT_EQ(ram(0x0002), 0x0F);
  EXPECT_EQ(c.F, kFlagNZ | kFlagNLZ);

  // sbc compares without writing.
  c.IZ = 0x0002;
  c.R[3] = 0x0F;
  exec({0x7B, 0x03, 0x00});  // sbc (iz+&H00),$3
  EXPECT_EQ(ram(0x0002), 0x0F);
  EXPECT_EQ(c.F, 0x00);
}

// ---------------------------------------------------------------------------
// Block transfer and search

TEST_F(Ops, BlockTransferStopsAtEndOrKey) {
  dataInRam();
  for (uint16_t i = 0; i < 4; ++i) ram(0x2000 + i) = static_cast<uint8_t>(0x10 * (i + 1));

  c.IX = c.IY = 0x2000;
  c.IZ = 0x3000;
  EXPECT_EQ(exec({0x58, 0xEE}), 15);  // bups: IX = IY copies one byte
  EXPECT_EQ(ram(0x3000), 0x10);
  EXPECT_EQ(ram(0x3001), 0xFF);
  EXPECT_EQ(c.F, kFlagNZ | kFlagNLZ | kFlagNUZ | kFlagC);  // 0x10 - 0xEE borrows

  c.IX = 0x2000;
  c.IY = 0x2003;
  c.IZ = 0x3000;
  EXPECT_EQ(exec({0x58, 0x20}), 6 + 2 * 6 + 3);  // stops on the key, which is copied
  EXPECT_EQ(ram(0x3001), 0x20);
  EXPECT_EQ(ram(0x3002), 0xFF);
  EXPECT_EQ(c.IX, 0x2001);
  EXPECT_EQ(c.IZ, 0x3001);
  EXPECT_EQ(c.F, 0x00);

  c.IX = 0x2003;
  c.IY = 0x2000;
  c.IZ = 0x3103;
  EXPECT_EQ(exec({0x59, 0x00}), 6 + 4 * 6 + 3);  // bdns down to IY
  EXPECT_EQ(ram(0x3100), 0x10);
  EXPECT_EQ(ram(0x3103), 0x40);
  EXPECT_EQ(c.IX, 0x2000);
  EXPECT_EQ(c.IZ, 0x3100);
  EXPECT_EQ(c.F, kFlagNZ | kFlagNUZ);
}

TEST_F(Ops, BlockTransferCopiesByteByByteWhenRegionsOverlap) {
  dataInRam();
  ram(0x2000) = 0xAA;
  c.IX = 0x2000;
  c.IY = 0x2003;
  c.IZ = 0x2001;  // each read sees the previous write
  exec({0x58, 0x00});
  for (uint16_t a = 0x2000; a <= 0x2004; ++a) EXPECT_EQ(ram(a), 0xAA) << a;
}

TEST_F(Ops, BlockTransferWrapsRoundTheSegment) {
  dataInRam();
  ram(0xFFFF) = 0x01;
  ram(0x0000) = 0x02;
  c.IX = 0xFFFF;
  c.IY = 0x0000;
  c.IZ = 0x5000;
  exec({0x58, 0x77});
  EXPECT_EQ(ram(0x5000), 0x01);
  EXPECT_EQ(ram(0x5001), 0x02);
  EXPECT_EQ(c.IX, 0x0000);
  EXPECT_EQ(c.IZ, 0x5001);
}

TEST_F(Ops, BlockSearchLeavesIxOnMatchOrEnd) {
  dataInRam();
  ram(0x2000) = 0x10;
  ram(0x2001) = 0x20;
  ram(0x2002) = 0x30;
  c.IZ = 0x3000;
  c.IX = 0x2000;
  c.IY = 0x2002;
  EXPECT_EQ(exec({0x5C, 0x20}), 6 + 2 * 6 + 3);  // sup
  EXPECT_EQ(c.IX, 0x2001);
  EXPECT_EQ(c.F & (kFlagNZ | kFlagC), 0);

  c.IX = 0x2000;
  exec({0x5C, 0x40});
  EXPECT_EQ(c.IX, 0x2002);
  EXPECT_EQ(c.F & kFlagC, kFlagC);
  EXPECT_EQ(c.IZ, 0x3000);
  EXPECT_EQ(ram(0x3000), 0xFF);  // search writes nothing

  c.IX = 0x2002;
  c.IY = 0x2000;
  exec({0x5D, 0x10});  // sdn
  EXPECT_EQ(c.IX, 0x2000);
  EXPECT_EQ(c.F & kFlagNZ, 0);
}

// ---------------------------------------------------------------------------
// Word-organised on-chip ROM: two bytes per address, 4 cycles per word.

class WordOps : public Ops {
 protected:
  void SetUp() override { c.PC = 0x0100; }
  int32_t execWords(std::initializer_list<uint8_t> bytes) {
    wordCode(c.PC, bytes);
    return step();
  }
};

TEST_F(WordOps, InstructionsEndOnAWordBoundary) {
  c.R[1] = 0x10;
  EXPECT_EQ(execWords({0x48, 0x01, 0x05, 0xEE}), 8 + 3);  // filler byte taken at the end
  EXPECT_EQ(c.R[1], 0x15);
  EXPECT_EQ(c.PC, 0x0102);

  EXPECT_EQ(execWords({0x08, 0x01}), 4 + 3);
  EXPECT_EQ(c.PC, 0x0103);
}

TEST_F(WordOps, JumpOptionDisplacementIsSecondByteOfAWord) {
  c.SX = 4;
  // Operand byte ends the first word; the displacement skips a filler byte.
  EXPECT_EQ(execWords({0x02, 0x83, 0xEE, 0x05}), 8 + 3);
  EXPECT_EQ(c.PC, 0x0106);  // base is the word holding the displacement

  // With an explicit register byte the displacement already ends a word.
  c.PC = 0x0100;
  EXPECT_EQ(execWords({0x02, 0xE3, 0x04, 0x82}), 8 + 3);
  EXPECT_EQ(c.PC, 0x00FF);
}

TEST_F(WordOps, JumpAndCallAddressesSkipAFiller) {
  EXPECT_EQ(execWords({0x37, 0x34, 0xEE, 0x12}), 8 + 3);
  EXPECT_EQ(c.PC, 0x1234);

  dataInRam();
  c.SS = 0x2000;
  c.PC = 0x0100;
  EXPECT_EQ(execWords({0x77, 0x00, 0xEE, 0x20}), 8 + 9);
  EXPECT_EQ(c.PC, 0x2000);
  EXPECT_EQ(ram(0x1FFE), 0x01);  // the word address of the call's last word
  EXPECT_EQ(ram(0x1FFF), 0x01);
}

TEST_F(WordOps, SubDispatchReadsTheOperandByte) {
  c.R[5] = 0x06;
  EXPECT_EQ(execWords({0x18, 0x45}), 4 + 3);  // bid $5
  EXPECT_EQ(c.R[5], 0x03);
}

}  // namespace
}  // namespace tarvo
