// The execution cycle: interrupt acceptance and entry, request latching and
// waking, power-off, end of service, CPU reset and the clock-shift rule.
#include "cpu/exec.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "cpu/operands.h"
#include "harness.h"

namespace tarvo {
namespace {

class Exec : public ::testing::Test, public test::CpuHarness {
 protected:
  // Stack in RAM segment 1, code still fetched from segment 0.
  void stackInRam(uint16_t sp) {
    c.UA = 0x04;
    c.SS = sp;
  }
};

// ---------------------------------------------------------------------------
// Interrupt acceptance and entry

TEST_F(Exec, EntryTakesHighestRequestAndPushesPcUnchanged) {
  stackInRam(0x2000);
  c.PC = 0x1234;
  c.IB = 0x15;  // requests 0, 2 and 4; entry does not look at IE
  c.clockShift = 4;
  EXPECT_EQ(step(), 11);  // never scaled
  EXPECT_EQ(c.PC, 0x0072);
  EXPECT_EQ(c.inService, 0x10);
  EXPECT_EQ(c.IB, 0x15);  // the request stays latched until the routine ends it
  EXPECT_EQ(c.SS, 0x1FFE);
  EXPECT_EQ(ram(0x1FFE), 0x34);
  EXPECT_EQ(ram(0x1FFF), 0x12);
}

TEST_F(Exec, EachRequestHasItsVector) {
  const uint16_t vectors[5] = {0x0032, 0x0042, 0x0052, 0x0062, 0x0072};
  for (unsigned k = 0; k < 5; ++k) {
    SCOPED_TRACE(k);
    stackInRam(0x2000);
    c.inService = 0;
    c.IB = static_cast<uint8_t>(1u << k);
    step();
    EXPECT_EQ(c.PC, vectors[k]);
    EXPECT_EQ(c.inService, 1u << k);
  }
}

TEST_F(Exec, OnlyAHigherRequestInterruptsAService) {
  code({0x19, 0x19});
  stackInRam(0x2000);
  c.PC = 0x1000;
  c.inService = 0x04;
  c.IB = 0x07;  // pending 0x03 is not above 0x04
  EXPECT_EQ(step(), 6);
  EXPECT_EQ(c.PC, 0x1001);

  c.inService = 0x02;
  c.IB = 0x02;  // never its own request
  step();
  EXPECT_EQ(c.PC, 0x1002);

  c.inService = 0x04;
  c.IB = 0x0C;
  step();
  EXPECT_EQ(c.PC, 0x0062);
  EXPECT_EQ(c.inService, 0x0C);
}

TEST_F(Exec, EntryFromAnotherProgramSegmentAndServiceRunsFromSegmentZero) {
  c.UA = 0x05;  // program and stack segment 1
  c.SS = 0x2000;
  c.IB = 0x10;
  c.clockShift = 4;
  EXPECT_EQ(step(), 12);
  // The routine is fetched from segment 0 (the on-chip ROM) and not slowed.
  wordCode(0x0072, {0x51, 0x01, 0x42, 0x00});  // ld $1,&H42
  EXPECT_EQ(step(), 8 + 8);
  EXPECT_EQ(c.R[1], 0x42);
  EXPECT_EQ(c.PC, 0x0074);
}

// ---------------------------------------------------------------------------
// Request interrupt and wake

TEST_F(Exec, RequestLatchesOnlyEnabledRequests) {
  c.inService = 0x1F;  // keep the step from entering anything
  c.IE = 0x08;
  requestInterrupt(m, 0x01);
  requestInterrupt(m, 0x02);
  EXPECT_EQ(c.IB, 0x01);
  c.IE = 0xF8;
  for (uint8_t mask : {0x02, 0x04, 0x08, 0x10}) requestInterrupt(m, mask);
  EXPECT_EQ(c.IB, 0x1F);
}

TEST_F(Exec, RequestWhileRunningDoesNotTouchWakeState) {
  c.F = 0x08;
  c.IE = 0x1C;
  c.IB = 0x20;
  c.clockShift = 4;
  c.budgetRestart = false;
  requestInterrupt(m, 0x02);
  requestInterrupt(m, 0x01);
  EXPECT_EQ(c.F, 0x08);
  EXPECT_EQ(c.clockShift, 4);
  EXPECT_FALSE(c.budgetRestart);
}

TEST_F(Exec, WakeRules) {
  auto powerDown = [&] {
    c.powerOff = true;
    c.clockShift = 4;
    c.F = 0x08;
    c.budgetRestart = false;
  };

  // Minute request with IB bit 5 wakes even when request 1 is disabled.
  powerDown();
  c.IE = 0x00;
  c.IB = 0x22;
  requestInterrupt(m, 0x02);
  EXPECT_FALSE(c.powerOff);
  EXPECT_EQ(c.F, 0x0C);  // woken by an interrupt
  EXPECT_EQ(c.clockShift, 0);
  EXPECT_TRUE(c.budgetRestart);  // the cycle budget starts afresh

  // Latching request 1 with IB bit 5 set wakes too.
  powerDown();
  c.IE = 0x10;
  c.IB = 0x20;
  requestInterrupt(m, 0x02);
  EXPECT_FALSE(c.powerOff);
  EXPECT_EQ(c.IB, 0x22);

  // Request 0 with IE bit 2 wakes without being latched.
  powerDown();
  c.IE = 0x04;
  c.IB = 0x00;
  requestInterrupt(m, 0x01);
  EXPECT_FALSE(c.powerOff);
  EXPECT_EQ(c.IB, 0x00);

  // Other requests latch but do not wake.
  powerDown();
  c.IE = 0xF8;
  c.IB = 0x00;
  requestInterrupt(m, 0x10);
  requestInterrupt(m, 0x02);
  EXPECT_TRUE(c.powerOff);
  EXPECT_EQ(c.IB, 0x12);

  // The power switch or wake key clears the wake-cause bit.
  c.F = 0x0C;
  wake(m, false);
  EXPECT_FALSE(c.powerOff);
  EXPECT_EQ(c.F, 0x08);
  c.F = 0x08;
  wake(m, true);  // not powered off: nothing happens
  EXPECT_EQ(c.F, 0x08);
}

// ---------------------------------------------------------------------------
// Power-off

TEST_F(Exec, PoweredOffStepIdles) {
  c.IE = 0x1C;
  c.IB = 0x03;
  c.F = 0x08;
  enterPowerOff(m);
  EXPECT_EQ(c.cycles, 3);
  c.clockShift = 0;
  EXPECT_EQ(step(), 6);
  c.clockShift = 4;
  EXPECT_EQ(step(), 96);
  EXPECT_EQ(c.PC, 0x0010);  // pending requests are not entered while off
  EXPECT_EQ(c.inService, 0);

  stackInRam(0x2000);
  wake(m, false);
  step();
  EXPECT_EQ(c.PC, 0x0042);  // the highest pending request, once awake
}

TEST_F(Exec, EnterPowerOffClearsControlState) {
  c.UA = 0xFF;
  c.segmentLatch = 0x03;
  c.PC = 0x4567;
  c.fetchPos = 3;
  c.IE = c.IA = c.IB = c.inService = 0xFF;
  c.IX = c.IY = c.IZ = 0x1111;
  c.SX = c.SY = c.SZ = 7;
  c.PE = c.PD = 0x5A;
  c.SS = 0x3333;
  c.F = 0x08;
  c.cycles = 10;
  m.lcd.control = 0xC7;
  m.lcd.memory[1][5] = 0x0F;
  m.port.receiveByte = 0x12;

  enterPowerOff(m);
  EXPECT_TRUE(c.powerOff);
  EXPECT_EQ(c.UA, 0);
  EXPECT_EQ(c.segmentLatch, 0x03);
  EXPECT_EQ(c.PC, 0x0010);
  EXPECT_EQ(c.fetchPos, 0);
  EXPECT_EQ(c.IE, 0x1C);
  EXPECT_EQ(c.IA, 0);
  EXPECT_EQ(c.IB, 0xE3);
  EXPECT_EQ(c.inService, 0);
  EXPECT_EQ(c.IX | c.IY | c.IZ, 0);
  EXPECT_EQ(c.SX | c.SY | c.SZ, 0);
  EXPECT_EQ(c.PE, 0);
  EXPECT_EQ(c.PD, 0x5A);
  EXPECT_EQ(c.SS, 0x3333);
  EXPECT_EQ(c.F, 0x0C);  // wake-cause bit copied from the power-switch bit
  EXPECT_EQ(c.cycles, 13);
  EXPECT_EQ(m.lcd.control, 0);
  EXPECT_EQ(m.lcd.memory[1][5], 0);
  EXPECT_EQ(m.port.receiveByte, m.port.optionCode);

  c.F = 0x04;  // switch off: the wake-cause bit follows it
  enterPowerOff(m);
  EXPECT_EQ(c.F, 0x00);
}

// ---------------------------------------------------------------------------
// End of service and reset

TEST_F(Exec, EndServiceClearsHighestLatchedRequest) {
  c.IB = 0xFA;
  c.inService = 0x1A;
  c.cycles = 5;
  endService(m);
  EXPECT_EQ(c.IB, 0xEA);
  EXPECT_EQ(c.inService, 0x0A);
  EXPECT_EQ(c.cycles, 8);

  // It follows IB, not inService.
  c.IB = 0x06;
  c.inService = 0x02;
  endService(m);
  EXPECT_EQ(c.IB, 0x02);
  EXPECT_EQ(c.inService, 0x02);

  c.IB = 0xE0;
  endService(m);
  EXPECT_EQ(c.IB, 0xE0);
  EXPECT_EQ(c.inService, 0x02);
  EXPECT_EQ(c.cycles, 14);
}

TEST_F(Exec, CpuResetClearsControlStateOnly) {
  c.PC = 0x1234;
  c.UA = c.segmentLatch = 0x55;
  c.IE = c.IA = c.IB = c.inService = 0x1F;
  c.clockShift = 4;
  c.kyStatus = c.prevKyStatus = 0x0200;
  c.budgetRestart = false;
  c.R[3] = 0x33;
  c.SX = 3;
  c.IX = 0x4444;
  c.SS = 0x5555;
  c.US = 0x6666;
  c.TM = 0x21;
  c.PE = 0x0F;
  c.PD = 0xF0;
  c.KY = 0x0ABC;
  c.F = 0x5B;

  cpuReset(m);
  EXPECT_EQ(c.PC, 0);
  EXPECT_EQ(c.UA | c.segmentLatch | c.IE | c.IA | c.IB | c.inService, 0);
  EXPECT_EQ(c.clockShift, 0);
  EXPECT_EQ(c.kyStatus, 0x0C00);
  EXPECT_EQ(c.prevKyStatus, 0x0C00);
  EXPECT_TRUE(c.budgetRestart);  // the cycle budget starts afresh

  EXPECT_EQ(c.R[3], 0x33);
  EXPECT_EQ(c.SX, 3);
  EXPECT_EQ(c.IX, 0x4444);
  EXPECT_EQ(c.SS, 0x5555);
  EXPECT_EQ(c.US, 0x6666);
  EXPECT_EQ(c.TM, 0x21);
  EXPECT_EQ(c.PE, 0x0F);
  EXPECT_EQ(c.PD, 0xF0);
  EXPECT_EQ(c.KY, 0x0ABC);
  EXPECT_EQ(c.F, 0x5B);
}

// ---------------------------------------------------------------------------
// Cycle count and the clock shift

TEST_F(Exec, UndefinedOpcodeChangesOnlyPcAndCycles) {
  for (unsigned i = 0; i < 32; ++i) c.R[i] = static_cast<uint8_t>(i * 7);
  c.SS = 0x1111;
  c.US = 0x2222;
  c.IX = 0x3333;
  c.IY = 0x4444;
  c.IZ = 0x5555;
  c.KY = 0x6666;
  c.SX = 1;
  c.SY = 2;
  c.SZ = 3;
  c.IA = 0x44;
  c.IB = 0xE0;
  c.IE = 0x55;
  c.PE = 0x66;
  c.PD = 0x77;
  c.TM = 0x08;
  c.F = 0xAB;
  c.cycles = 1000;  // the step starts its own count
  const ProcessorState before = c;
  code({0x19, 0x00, 0x00, 0x00});
  EXPECT_EQ(step(), 6);
  EXPECT_EQ(c.PC, 0x1001);
  EXPECT_TRUE(std::equal(c.R, c.R + 32, before.R));
  EXPECT_EQ(c.SS, before.SS);
  EXPECT_EQ(c.US, before.US);
  EXPECT_EQ(c.IX, before.IX);
  EXPECT_EQ(c.IY, before.IY);
  EXPECT_EQ(c.IZ, before.IZ);
  EXPECT_EQ(c.KY, before.KY);
  EXPECT_EQ(c.SX, before.SX);
  EXPECT_EQ(c.SY, before.SY);
  EXPECT_EQ(c.SZ, before.SZ);
  EXPECT_EQ(c.UA, before.UA);
  EXPECT_EQ(c.IA, before.IA);
  EXPECT_EQ(c.IB, before.IB);
  EXPECT_EQ(c.IE, before.IE);
  EXPECT_EQ(c.PE, before.PE);
  EXPECT_EQ(c.PD, before.PD);
  EXPECT_EQ(c.TM, before.TM);
  EXPECT_EQ(c.F, before.F);
  EXPECT_EQ(c.inService, before.inService);
  EXPECT_EQ(c.clockShift, before.clockShift);
}

TEST_F(Exec, SlowClockScalesOnlyOutsideService) {
  code({0x19, 0x19});
  c.clockShift = 4;
  EXPECT_EQ(step(), 96);
  c.IB = 0x01;
  c.inService = 0x01;
  EXPECT_EQ(step(), 6);
}

TEST_F(Exec, ScalingLooksAtServiceStateAfterTheInstruction) {
  // Disabling the request in service ends the service inside the step.
  c.IE = 0x08;
  c.IB = 0x01;
  c.inService = 0x01;
  c.clockShift = 4;
  code({0x57, 0x20, 0x00});  // pst ie,&H00
  EXPECT_EQ(step(), (9 + 3) << 4);
  EXPECT_EQ(c.inService, 0);
}

TEST_F(Exec, ReturnFromInterruptEndingTheLastServiceIsScaled) {
  if (dispatchTable()[0xFD] == &opNone) GTEST_SKIP() << "rtni not installed";
  stackInRam(0x2000);
  ram(0x2000) = 0x34;
  ram(0x2001) = 0x12;
  c.clockShift = 4;
  c.IB = 0x03;
  c.inService = 0x03;
  code({0xFD});
  EXPECT_EQ(step(), 3 + 11);  // request 0 still in service
  EXPECT_EQ(c.PC, 0x1234);
  EXPECT_EQ(c.inService, 0x01);

  c.SS = 0x2000;
  code(0x1234, {0xFD});
  EXPECT_EQ(step(), (3 + 11) << 4);
  EXPECT_EQ(c.inService, 0);
}

}  // namespace
}  // namespace tarvo
