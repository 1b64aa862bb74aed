#include "frontpanel/run_loop.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <limits>
#include <memory>

#include "../support/loopback.h"
#include "cpu/exec.h"
#include "devices/disk_link.h"
#include "machine.h"
#include "temp_dir.h"

namespace tarvo {
namespace {

using test::pattern;
using test::RecordingMessages;
using test::TempDir;

// A started machine over an empty (or prepared) directory. Code runs from
// segment 0 at 0x2000, filled with opcode 0x19, which has no instruction:
// every step takes 6 cycles (one fetched byte, three for the handler) and
// moves PC by one.
struct Started {
  TempDir dir;
  std::unique_ptr<Machine> owned = std::make_unique<Machine>();
  Machine& m = *owned;
  RecordingMessages messages;
  std::unique_ptr<RunLoop> loop;
  int debuggerShown = 0;

  void start(int32_t oscFreq = 0, bool optionalKey = false) {
    loop = std::make_unique<RunLoop>(m, messages, dir.path());
    loop->create();
    if (oscFreq != 0) m.timers.oscFreq = oscFreq;
    loop->show(optionalKey);
    loop->showDebugger = [this] { ++debuggerShown; };
    auto& rom1 = m.mem.rows[kRom1Row].buffer;
    std::fill(rom1.begin(), rom1.end(), 0x19);
    m.cpu.PC = 0x2000;
  }
  uint64_t steps() const { return loop->stepsRun(); }
};

TEST(Start, EmptyDirectory) {
  Started s;
  s.start();
  // Only the character set and the on-chip ROM are reported.
  EXPECT_EQ(s.messages.shown, (std::vector<std::string>{"Failed to load the file charset.bin",
                                                        "Failed to load the file rom0.bin"}));
  Machine& m = s.m;
  for (uint8_t r : m.cpu.R) EXPECT_EQ(r, 0xFF);
  EXPECT_EQ(m.cpu.SS, 0xFFFF);
  EXPECT_EQ(m.cpu.US, 0xFFFF);
  EXPECT_EQ(m.cpu.F, 0x08);
  EXPECT_FALSE(m.cpu.powerOff);
  EXPECT_EQ(m.port.inputLines, 0xFA);  // no optional key, no rom2/rom3
  EXPECT_EQ(m.timers.cyclesPerTick, 9100);
  EXPECT_EQ(m.timers.ticksPerSecond, 100);
  EXPECT_EQ(s.loop->run.traceCount, -1);
  EXPECT_EQ(s.loop->run.breakpointAddress, -1);
  EXPECT_EQ(m.mem.bankA(), 0);
  EXPECT_EQ(m.mem.bankB(), 0);
  EXPECT_EQ(m.cpu.kyStatus, 0x0C00);
  EXPECT_EQ(m.mem.rows[kRam0Row].buffer[0], 0xFF);
}

TEST(Start, InputLinesFollowRomFilesAndOptionalKey) {
  {
    Started s;
    s.start(0, true);
    EXPECT_EQ(s.m.port.inputLines, 0xFB);
  }
  {
    Started s;
    s.dir.write("rom3.bin", {1});
    s.start(0, true);
    EXPECT_EQ(s.m.port.inputLines, 0xF9);
  }
  {
    Started s;
    s.dir.write("rom2.bin", pattern(65536));
    s.start(0, false);
    EXPECT_EQ(s.m.port.inputLines, 0xF8);
    EXPECT_EQ(s.m.mem.rows[kRom2Row].buffer[5], pattern(6)[5]);
  }
}

TEST(Start, ImagesAndSettings) {
  Started s;
  s.dir.write("rom0.bin", pattern(6144));
  s.dir.write("charset.bin", pattern(2048));
  s.dir.write("ram0.bin", pattern(100, 1));
  s.dir.write("register.bin", pattern(36, 2));
  s.dir.writeText("tarvo.ini",
                  "[Settings]\nOscFreq=0x400\nOptionCode=341\n"
                  "[Floppy Disk Drive]\nAddress=127.0.0.1\nPort=9\n");
  s.start();
  EXPECT_TRUE(s.messages.shown.empty());
  EXPECT_EQ(s.m.mem.rows[kRomRow].buffer[6143], pattern(6144)[6143]);
  EXPECT_EQ(s.m.mem.rows[kRam0Row].buffer[99], pattern(100, 1)[99]);
  EXPECT_EQ(s.m.mem.rows[kRam0Row].buffer[100], 0xFF);
  EXPECT_EQ(s.m.cpu.R[0], 2);
  EXPECT_EQ(s.m.timers.oscFreq, 1024);
  EXPECT_EQ(s.m.timers.cyclesPerTick, 10240);
  EXPECT_EQ(s.m.port.optionCode, 0x55);
  EXPECT_EQ(s.loop->settings().optionCode, 341);
  EXPECT_EQ(s.m.port.address, "127.0.0.1");
  EXPECT_EQ(s.m.port.portNumber, 9);
}

TEST(Start, NoDiskServerForcesTheOptionCode) {
  Started s;
  s.dir.writeText("tarvo.ini", "[Settings]\nOptionCode=0x55\n");
  s.start();
  EXPECT_EQ(s.m.port.optionCode, 0xFF);
}

TEST(Start, OnChipRomOneByteShortIsReported) {
  Started s;
  s.dir.write("rom0.bin", pattern(6143));
  s.dir.write("charset.bin", pattern(2048));
  s.start();
  EXPECT_EQ(s.messages.shown, std::vector<std::string>{"Failed to load the file rom0.bin"});
}

TEST(Close, SavesRegistersAndRamWhole) {
  Started s;
  s.dir.write("ram0.bin", pattern(100));
  s.dir.write("rom1.bin", pattern(10));
  s.start();
  s.m.mem.rows[kRam0Row].buffer[200] = 0x42;
  s.m.mem.rows[kRam1Row].buffer[0] = 0x43;
  s.m.cpu.R[5] = 0x99;
  s.m.cpu.SS = 0x1234;
  s.loop->close();
  EXPECT_EQ(s.loop->run.stopFlag, 1);
  const auto ram0 = s.dir.read("ram0.bin");
  ASSERT_EQ(ram0.size(), 65536u);
  EXPECT_EQ(ram0[99], pattern(100)[99]);
  EXPECT_EQ(ram0[200], 0x42);
  EXPECT_EQ(s.dir.read("ram1.bin").size(), 32768u);
  EXPECT_EQ(s.dir.read("ram1.bin")[0], 0x43);
  const auto regs = s.dir.read("register.bin");
  ASSERT_EQ(regs.size(), 36u);
  EXPECT_EQ(regs[5], 0x99);
  EXPECT_EQ(regs[32], 0x34);
  EXPECT_EQ(regs[33], 0x12);
  EXPECT_EQ(s.dir.read("rom1.bin").size(), 10u);  // ROM is never written
  EXPECT_FALSE(s.dir.exists("rom0.bin"));
}

TEST(Close, UnreadableRamImageIsReportedAndKept) {
  Started s;
  ASSERT_EQ(::mkdir(s.dir.file("ram0.bin").c_str(), 0755), 0);
  s.start();
  EXPECT_EQ(s.messages.shown.back(), "Failed to load the file ram0.bin");
  s.messages.shown.clear();
  s.loop->close();
  // Not overwritten, reported as not saved, and the rest still saved.
  EXPECT_TRUE(s.dir.isDirectory("ram0.bin"));
  EXPECT_EQ(s.messages.shown, (std::vector<std::string>{"Failed to save the file ram0.bin"}));
  EXPECT_EQ(s.dir.read("ram1.bin").size(), 32768u);
  EXPECT_EQ(s.dir.read("register.bin").size(), 36u);

  // The same holds for the register file.
  Started t;
  ASSERT_EQ(::mkdir(t.dir.file("register.bin").c_str(), 0755), 0);
  t.start();
  EXPECT_EQ(t.messages.shown, (std::vector<std::string>{"Failed to load the file charset.bin",
                                                        "Failed to load the file register.bin",
                                                        "Failed to load the file rom0.bin"}));
  t.messages.shown.clear();
  t.loop->close();
  EXPECT_TRUE(t.dir.isDirectory("register.bin"));
  EXPECT_EQ(t.messages.shown, (std::vector<std::string>{"Failed to save the file register.bin"}));
  EXPECT_EQ(t.dir.read("ram0.bin").size(), 65536u);
}

TEST(Close, FailedSaveIsReportedAndTheCloseGoesOn) {
  Started s;
  s.start();
  // Directories appearing after the start stand for files that cannot be
  // written.
  ASSERT_EQ(::mkdir(s.dir.file("register.bin").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(s.dir.file("ram1.bin").c_str(), 0755), 0);
  s.messages.shown.clear();
  s.loop->close();
  EXPECT_EQ(s.messages.shown, (std::vector<std::string>{"Failed to save the file register.bin",
                                                        "Failed to save the file ram1.bin"}));
  EXPECT_EQ(s.dir.read("ram0.bin").size(), 65536u);
}

TEST(PowerOn, ResetsDevicesButNotTheFlags) {
  Started s;
  s.start();
  Machine& m = s.m;
  m.cpu.F = 0xF3;
  m.cpu.PE = 0x12;
  m.cpu.PD = 0x34;
  m.cpu.PC = 0x1234;
  m.cpu.IE = 0xFF;
  m.port.inputLines = 0x07;
  m.mem.bankA() = 1;
  m.mem.bankB() = 2;
  m.lcd.control = 0xC6;
  m.cpu.budgetRestart = false;
  powerOnSequence(m);
  EXPECT_EQ(m.cpu.F, 0xF3);
  EXPECT_EQ(m.cpu.PE, 0);
  EXPECT_EQ(m.cpu.PD, 0x34);
  EXPECT_EQ(m.cpu.PC, 0);
  EXPECT_EQ(m.cpu.IE, 0);
  EXPECT_EQ(m.port.inputLines, 0xFB);  // line 2 cleared, 3-7 set
  EXPECT_EQ(m.mem.bankA(), 0);
  EXPECT_EQ(m.mem.bankB(), 0);
  EXPECT_EQ(m.lcd.control, 0);
  EXPECT_TRUE(m.cpu.budgetRestart);  // the cycle budget starts afresh
}

TEST(RunTick, CycleBudgetCarriesAcrossTicks) {
  Started s;
  s.start(10);  // 100 cycles a tick, 6 a step
  s.loop->runTick();
  EXPECT_EQ(s.steps(), 17u);  // 102 cycles
  EXPECT_EQ(s.loop->scheduler.cycleBudget, -2);
  s.loop->runTick();
  EXPECT_EQ(s.steps(), 34u);
  EXPECT_EQ(s.loop->scheduler.cycleBudget, -4);
  for (int i = 0; i < 48; ++i) s.loop->runTick();
  // 50 ticks are 5000 cycles: the long-run rate is exact.
  EXPECT_EQ(s.loop->cyclesRun(), 5004);
  EXPECT_EQ(s.m.cpu.PC, 0x2000 + 834);
}

TEST(RunTick, NoClockRunsNothing) {
  // Never, however long it runs: a negative clock must not drive the
  // budget down until it wraps (-1000000 would after 215 ticks), nor may a
  // product beyond 32 bits wrap to a positive clock.
  for (int32_t freq : {-5, -910, -1000000, -300000000, std::numeric_limits<int32_t>::min()}) {
    Started s;
    s.start(freq);
    EXPECT_LE(s.m.timers.cyclesPerTick, 0) << freq;
    for (int i = 0; i < 300; ++i) s.loop->runTick();
    EXPECT_EQ(s.steps(), 0u) << freq;
    s.loop->secondTick();
    EXPECT_EQ(s.m.cpu.TM, 1);
  }
  Started s;
  s.start();
  s.m.timers.cyclesPerTick = 0;
  s.loop->runTick();
  EXPECT_EQ(s.steps(), 0u);
}

TEST(RunTick, HugeClockIsTheLargestCyclesPerTick) {
  for (int32_t freq : {300000000, std::numeric_limits<int32_t>::max()}) {
    Started s;
    s.start(freq);  // 10 x freq does not fit 32 bits
    EXPECT_EQ(s.m.timers.cyclesPerTick, std::numeric_limits<int32_t>::max()) << freq;
    s.loop->run.traceCount = 1;
    s.loop->runTick();
    EXPECT_EQ(s.steps(), 1u) << freq;
  }

  // Cycles per tick fits, one second of them does not: the cycle timer's
  // reload wraps.
  Started t;
  t.start(3000000);
  t.m.cpu.IA = 0x40;
  t.loop->run.traceCount = 1;
  t.loop->runTick();
  EXPECT_EQ(t.steps(), 1u);
  EXPECT_EQ(t.m.timers.cycleTimer, static_cast<int32_t>(3000000000u - 6u));
}

// Without a host bound (the headless runner) every clock runs exactly its
// cycles per tick, the overshoot of the last step carried; a host bound
// that is never reached changes nothing.
TEST(RunTick, EveryClockRunsItsExactCycles) {
  for (int32_t freq : {1, 7, 910, 123457, 1000000}) {
    int64_t cycles[2] = {};
    uint64_t steps[2] = {};
    for (int bounded : {0, 1}) {
      Started s;
      s.start(freq);
      if (bounded) s.loop->setHostTimeLimit(std::chrono::hours(1));
      const int ticks = freq >= 100000 ? 3 : 200;
      for (int i = 0; i < ticks; ++i) s.loop->runTick();
      const int64_t owed = int64_t{ticks} * 10 * freq;
      cycles[bounded] = s.loop->cyclesRun();
      steps[bounded] = s.steps();
      // Never less than owed, over by less than one step (an interrupt
      // entry is the longest), and the overshoot is what the budget owes.
      EXPECT_GE(cycles[bounded], owed) << freq;
      EXPECT_LT(cycles[bounded], owed + 64) << freq;
      EXPECT_EQ(cycles[bounded] - owed, -s.loop->scheduler.cycleBudget) << freq;
    }
    EXPECT_EQ(cycles[0], cycles[1]) << freq;
    EXPECT_EQ(steps[0], steps[1]) << freq;
  }
}

// A host bound that is reached drops the rest of the tick's budget: the next
// tick starts afresh, with no catch-up.
TEST(RunTick, HostBoundDropsTheRestOfTheTick) {
  Started s;
  s.start(200000000);  // two billion cycles a tick
  s.loop->setHostTimeLimit(std::chrono::milliseconds(20));
  const auto start = std::chrono::steady_clock::now();
  s.loop->runTick();
  const double took =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(took, 1.0);
  EXPECT_GT(s.steps(), 0u);
  EXPECT_LT(s.loop->cyclesRun(), 2000000000);
  EXPECT_EQ(s.loop->scheduler.cycleBudget, 0);
}

TEST(RunTick, TraceOfOneStopsAfterOneStep) {
  Started s;
  s.start();
  s.loop->run.traceCount = 1;
  s.loop->runTick();
  EXPECT_EQ(s.steps(), 1u);
  EXPECT_EQ(s.debuggerShown, 1);
  EXPECT_EQ(s.loop->run.stopFlag, 1);
  EXPECT_EQ(s.loop->run.traceCount, -1);
  EXPECT_EQ(s.loop->scheduler.cycleBudget, 0);
  s.loop->runTick();  // stopped: nothing more
  EXPECT_EQ(s.steps(), 1u);
  EXPECT_EQ(s.loop->scheduler.cycleBudget, 0);
}

TEST(RunTick, BreakpointIsTestedAfterEachStep) {
  Started s;
  s.start();
  s.loop->run.breakpointAddress = 0x2003;
  s.loop->runTick();
  EXPECT_EQ(s.steps(), 3u);
  EXPECT_EQ(s.m.cpu.PC, 0x2003);
  EXPECT_EQ(s.debuggerShown, 1);
  EXPECT_EQ(s.loop->run.breakpointAddress, -1);

  // At the current PC: not hit before the instruction there has run.
  debugHide(s.loop->run);
  s.loop->run.resumeDelay = 0;
  s.loop->run.breakpointAddress = s.m.cpu.PC;
  s.loop->runTick();
  EXPECT_EQ(s.debuggerShown, 1);
  EXPECT_GT(s.steps(), 1000u);
}

TEST(RunTick, BreakpointAbove16BitsNeverMatches) {
  Started s;
  s.start();
  s.loop->run.breakpointAddress = 0x12003;
  for (int i = 0; i < 3; ++i) s.loop->runTick();
  EXPECT_EQ(s.debuggerShown, 0);
  EXPECT_EQ(s.loop->run.stopFlag, 0);
}

TEST(RunTick, BreakpointWhilePoweredOffHitsAfterOneIdleStep) {
  Started s;
  s.start();
  s.m.cpu.powerOff = true;
  s.m.cpu.PC = 0x0010;
  s.loop->run.breakpointAddress = 0x0010;
  s.loop->runTick();
  EXPECT_EQ(s.steps(), 1u);
  EXPECT_EQ(s.loop->cyclesRun(), 6);
}

TEST(RunTick, ResumeDelayIsExactlyThirtyTicks) {
  Started s;
  s.start();
  debugShow(s.loop->run);
  s.loop->runTick();
  EXPECT_EQ(s.steps(), 0u);
  debugHide(s.loop->run);
  EXPECT_EQ(s.loop->run.stopFlag, 0);
  for (int i = 0; i < 30; ++i) {
    s.loop->scheduler.cycleBudget = 77;
    s.loop->runTick();
    EXPECT_EQ(s.loop->scheduler.cycleBudget, 0);
  }
  EXPECT_EQ(s.steps(), 0u);
  s.loop->runTick();
  EXPECT_GT(s.steps(), 0u);
}

TEST(RunTick, AbortFlagIsClearedAtTheStartOfATick) {
  Started s;
  s.start();
  s.m.port.linkFailed = true;
  s.loop->runTick();
  EXPECT_FALSE(s.m.port.linkFailed);
  EXPECT_EQ(s.loop->cyclesRun(), 9102);
}

// A disk server that cannot be reached.
struct RefusingLink : DiskLink {
  int opens = 0;
  bool open(const std::string&, int32_t) override {
    ++opens;
    return false;
  }
  void close() override {}
  bool connected() const override { return false; }
  bool sendByte(uint8_t) override { return false; }
  bool receiveByte(uint8_t&) override { return false; }
};

TEST(RunTick, LinkFailureEndsTheTickAndTheMachineRunsOn) {
  Started s;
  s.dir.writeText("tarvo.ini",
                  "[Settings]\nOptionCode=0x55\n[Floppy Disk Drive]\nAddress=127.0.0.1\nPort=9\n");
  s.start();
  auto link = std::make_unique<RefusingLink>();
  RefusingLink& refusing = *link;
  s.m.port.fddSocket = std::move(link);
  // pst PE,0x30: lines 4 and 5 become outputs at 0, and the falling line 4
  // opens the link.
  auto& rom1 = s.m.mem.rows[kRom1Row].buffer;
  rom1[0x2000] = 0x56;
  rom1[0x2001] = 0x00;
  rom1[0x2002] = 0x30;
  s.loop->runTick();
  EXPECT_EQ(refusing.opens, 1);
  EXPECT_EQ(s.steps(), 1u);
  EXPECT_TRUE(s.m.port.linkFailed);
  s.loop->runTick();
  EXPECT_FALSE(s.m.port.linkFailed);
  EXPECT_GT(s.steps(), 1000u);
}

using test::refusingPort;

// The step whose call was refused ends the tick, but a breakpoint on the
// next instruction, or a trace that this step finishes, still stops there.
TEST(RunTick, BreakpointAndTraceAfterAFailedLinkStillStop) {
  for (bool trace : {false, true}) {
    Started s;
    s.dir.writeText("tarvo.ini",
                    "[Settings]\nOptionCode=0x55\n[Floppy Disk Drive]\n"
                    "Address=127.0.0.1\nPort=" +
                        std::to_string(refusingPort()) + "\n");
    s.start();
    auto& rom1 = s.m.mem.rows[kRom1Row].buffer;
    rom1[0x2000] = 0x56;  // pst PE,0x30: line 4 falls and the call goes out
    rom1[0x2001] = 0x00;
    rom1[0x2002] = 0x30;
    if (trace) {
      s.loop->run.traceCount = 1;
    } else {
      s.loop->run.breakpointAddress = 0x2003;
    }
    s.loop->runTick();
    EXPECT_TRUE(s.m.port.linkFailed) << trace;
    EXPECT_EQ(s.steps(), 1u) << trace;
    EXPECT_EQ(s.m.cpu.PC, 0x2003) << trace;
    EXPECT_EQ(s.loop->run.stopFlag, 1) << trace;
    EXPECT_EQ(s.debuggerShown, 1) << trace;
    s.loop->runTick();
    EXPECT_EQ(s.steps(), 1u) << trace;
  }
}

TEST(RunTick, LineALevelRequestsAfterEveryStep) {
  Started s;
  s.start();
  s.m.cpu.IE = 0x20;  // request 2 enabled, line A active low: no request
  s.loop->run.traceCount = 1;
  s.loop->runTick();
  EXPECT_EQ(s.m.cpu.IB, 0);

  Started t;
  t.start();
  t.m.cpu.IE = 0x21;  // active high: line A is always high
  t.loop->run.traceCount = 1;
  t.loop->runTick();
  EXPECT_EQ(t.m.cpu.IB, 0x04);
}

TEST(RunTick, LineBRequestsOnTheSelectedEdgeOnly) {
  for (uint8_t ie : {0x80, 0x82}) {
    Started s;
    s.start();
    s.m.cpu.IE = ie;
    s.m.cpu.kyStatus = 0x0400;  // line B fell since the last step
    s.loop->run.traceCount = 1;
    s.loop->runTick();
    EXPECT_EQ(s.m.cpu.IB, ie == 0x80 ? 0x10 : 0x00) << int(ie);
    EXPECT_EQ(s.m.cpu.prevKyStatus, 0x0400);
  }
  // Unchanged line B: never a request.
  Started s;
  s.start();
  s.m.cpu.IE = 0x82;
  s.loop->runTick();
  EXPECT_EQ(s.m.cpu.IB & 0x10, 0);
}

TEST(RunTick, LcdPulseOnlyWithBothControlBits) {
  Started s;
  s.start();
  s.m.cpu.IE = 0x08;
  s.m.lcd.control = 0x80;
  s.m.lcd.pulsePeriod = 4;
  s.loop->run.traceCount = 3;
  s.loop->runTick();
  EXPECT_EQ(s.m.timers.lcdPulseCountdown, 0);
  EXPECT_EQ(s.m.cpu.kyStatus, 0x0C00);

  Started t;
  t.start();
  t.m.cpu.IE = 0x08;
  t.m.lcd.control = 0xC0;
  t.m.lcd.pulsePeriod = 4;
  t.loop->run.traceCount = 1;
  t.loop->runTick();
  // 0 - 6 + 4 is still negative: the countdown restarts at the period.
  EXPECT_EQ(t.m.timers.lcdPulseCountdown, 4);
  EXPECT_EQ(t.m.cpu.kyStatus, 0x0E00);
  EXPECT_EQ(t.m.cpu.IB, 0);
  debugHide(t.loop->run);
  t.loop->run.resumeDelay = 0;
  t.loop->run.traceCount = 1;
  t.loop->runTick();
  // 4 - 6 + 4 = 2; the line falls and requests 0.
  EXPECT_EQ(t.m.timers.lcdPulseCountdown, 2);
  EXPECT_EQ(t.m.cpu.kyStatus, 0x0C00);
  EXPECT_EQ(t.m.cpu.IB, 0x01);
}

TEST(RunTick, CycleTimerRateAndSource) {
  struct Case {
    uint8_t ia;
    int32_t timer;
    uint8_t ib;
  };
  // One second of cycles is 910000.
  for (const Case& c : {Case{0x40, 910000 - 6, 0x08}, Case{0x00, 910000 - 6 * 256, 0x08},
                        Case{0xC0, 910000 - 6, 0x00}}) {
    Started s;
    s.start();
    s.m.cpu.IE = 0x40;
    s.m.cpu.IA = c.ia;
    s.loop->run.traceCount = 1;
    s.loop->runTick();
    EXPECT_EQ(s.m.timers.cycleTimer, c.timer) << int(c.ia);
    EXPECT_EQ(s.m.cpu.IB, c.ib) << int(c.ia);
  }
}

TEST(SecondTick, MinutesAndTheRequest) {
  Started s;
  s.start();
  s.m.cpu.IE = 0x10;
  s.m.cpu.TM = 0x3A;
  s.loop->secondTick();
  EXPECT_EQ(s.m.cpu.TM, 0x3B);
  EXPECT_EQ(s.m.cpu.IB, 0);
  s.loop->secondTick();
  EXPECT_EQ(s.m.cpu.TM, 0x40);
  EXPECT_EQ(s.m.cpu.IB, 0x02);
  s.m.cpu.IB = 0;
  s.m.cpu.TM = 0xFB;
  s.loop->secondTick();
  EXPECT_EQ(s.m.cpu.TM, 0x00);
  EXPECT_EQ(s.m.cpu.IB, 0x02);

  // While stopped the counter goes on without the request.
  s.m.cpu.IB = 0;
  s.m.cpu.TM = 0x7B;
  debugShow(s.loop->run);
  s.loop->secondTick();
  EXPECT_EQ(s.m.cpu.TM, 0x80);
  EXPECT_EQ(s.m.cpu.IB, 0);
}

TEST(Close, StopsBeforeSavingAndNoStepFollows) {
  Started s;
  s.start();
  s.loop->run.traceCount = 500000;
  s.loop->runTick();
  const uint64_t before = s.steps();
  s.loop->close();
  s.loop->runTick();
  EXPECT_EQ(s.steps(), before);
}

}  // namespace
}  // namespace tarvo
