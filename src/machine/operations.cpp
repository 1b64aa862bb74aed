#include "machine/operations.h"

#include <algorithm>
#include <limits>

#include "devices/keyboard.h"
#include "devices/port.h"
#include "machine/scheduler.h"

namespace tarvo {

namespace {

constexpr int kFirstFaceKey = 4;
constexpr int kHostOnlyKey = 82;

}  // namespace

void powerOnSequence(Machine& m) {
  m.lcd.control = 0;
  m.lcd.reset();
  m.port.inputLines = static_cast<uint8_t>((m.port.inputLines & 0x03) | 0xF8);
  m.cpu.PE = 0;
  // Line 4 goes high with PE, but the reset consumes that edge: the disk
  // server's session is ended here, not left open until the next call.
  closeLink(m);
  portLinkReset(m);
  m.mem.bankA() = 0;
  m.mem.bankB() = 0;
  cpuReset(m);
}

bool togglePowerSwitch(Machine& m) {
  m.cpu.F ^= kFlagPower;
  const bool on = (m.cpu.F & kFlagPower) != 0;
  if (on) wake(m, false);
  return on;
}

void releaseWakeKey(Machine& m) {
  wake(m, false);
}

void holdKey(Machine& m, KeyHolder holder, int code) {
  switch (holder) {
    case KeyHolder::Mouse:
      m.keys.mouseKey = code;
      break;
    case KeyHolder::Host:
      m.keys.hostKey = code;
      break;
    case KeyHolder::Chord:
      m.keys.chordKey = code;
      break;
  }
}

void pressKey(Machine& m, KeyHolder holder, int code) {
  holdKey(m, holder, code);
  if (code >= kFirstFaceKey && code < kHostOnlyKey) keyInterruptCheck(m);
}

void releaseKey(Machine& m, KeyHolder holder) {
  holdKey(m, holder, 0);
}

void secondTick(Machine& m, bool running) {
  ProcessorState& c = m.cpu;
  ++c.TM;
  if ((c.TM & 0x3F) == 0x3C) {
    // Seconds back to 0 with a carry into the minutes in bits 6-7.
    c.TM = static_cast<uint8_t>(c.TM + 4);
    if (running) requestInterrupt(m, 0x02);
  }
}

namespace {

// A clock too fast for 32 bits is the fastest there is, never a negative
// one; a clock of 0 or less gives 0 or less, and the machine never steps.
int32_t cyclesPerTickAt(int32_t oscFreq) {
  const int64_t cycles = int64_t{kRunInterval} * oscFreq;
  return static_cast<int32_t>(std::clamp<int64_t>(cycles, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

}  // namespace

void setClock(Machine& m, int32_t oscFreq) {
  m.timers.oscFreq = oscFreq;
  m.timers.cyclesPerTick = cyclesPerTickAt(oscFreq);
  m.timers.ticksPerSecond = 1000 / kRunInterval;
}

bool clockAgrees(const MachineTimers& t) {
  return t.cyclesPerTick == cyclesPerTickAt(t.oscFreq) && t.ticksPerSecond == 1000 / kRunInterval;
}

}  // namespace tarvo
