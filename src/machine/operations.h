// What the world outside the processor does to the machine: the power-on
// sequence, the power switch, the wake key, keys pressed and released, the
// work the clock does after every step and the seconds counter. The window,
// tarvo-run, the tests and the fuzz targets all use these.
#pragma once

#include <cstdint>

#include "cpu/exec.h"
#include "machine.h"

namespace tarvo {

// LCD off and reset, port input lines 3-7 set and line 2 cleared, PE 0, an
// open disk link closed, port link reset, both bank bytes 0, CPU reset. The flag register (with
// the power switch) is left alone.
void powerOnSequence(Machine& m);

// Flips the power switch; switching it on wakes a powered-off processor.
// Returns true when the switch is now on.
bool togglePowerSwitch(Machine& m);

// Releasing the wake key wakes a powered-off processor (not by interrupt).
void releaseWakeKey(Machine& m);

// The held key codes the key matrix reports: the mouse's, the host
// keyboard's, and a second key held with the host's for a character typed
// as a chord of two keys. pressKey holds a key and, for the keys of the face
// (4..81), runs the key interrupt check as a press on the face does; holdKey
// only holds it, as the special host keys do. Key code 82, which only the
// host keyboard has, never runs the check, whichever way it is pressed: the
// mouse, typing, the typist and a replayed recording all go through here.
enum class KeyHolder { Mouse, Host, Chord };
void holdKey(Machine& m, KeyHolder holder, int code);
void pressKey(Machine& m, KeyHolder holder, int code);
void releaseKey(Machine& m, KeyHolder holder);

// The seconds counter's one-second tick; the full minute requests
// interrupt 1 only while the machine runs.
void secondTick(Machine& m, bool running);

// The clock's cycles per run tick and the cycle timer's reload, from
// oscFreq (the tick is 10 ms, one second has 100 of them). A clock whose
// cycles per tick do not fit 32 bits gets the largest number that does.
void setClock(Machine& m, int32_t oscFreq);
// Whether the timers' clock fields are what setClock makes of their oscFreq.
bool clockAgrees(const MachineTimers& t);

namespace detail {

// The counters are signed 32-bit and wrap as two's complement: a huge
// OscFreq or a long slow instruction must not be undefined behaviour.
inline int32_t wrapAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t wrapSub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
inline int32_t wrapMul(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

constexpr uint16_t kLinePulse = 0x0200;  // KY status bit 9
constexpr uint16_t kLineA = 0x0400;      // KY status bit 10
constexpr uint16_t kLineB = 0x0800;      // KY status bit 11

}  // namespace detail

// After every step that a run tick makes: the external lines A and B, the
// LCD pulse line and the cycle timer, each requesting its interrupt.
inline void afterStep(Machine& m, int32_t cycles) {
  using namespace detail;
  ProcessorState& c = m.cpu;
  MachineTimers& t = m.timers;

  // Line B requests on the edge that IE bit 1 selects.
  if (((c.kyStatus ^ c.prevKyStatus) & kLineB) &&
      ((c.kyStatus & kLineB) != 0) == ((c.IE & 0x02) != 0))
    requestInterrupt(m, 0x10);
  c.prevKyStatus = c.kyStatus;

  // Line A requests for as long as it is at the level IE bit 0 selects.
  if (((c.kyStatus & kLineA) != 0) == ((c.IE & 0x01) != 0)) requestInterrupt(m, 0x04);

  // The LCD pulse line toggles every pulse period while the controllers and
  // their pulse output are enabled; its falling edge requests 0.
  if ((m.lcd.control & 0xC0) == 0xC0) {
    t.lcdPulseCountdown = wrapSub(t.lcdPulseCountdown, cycles);
    if (t.lcdPulseCountdown < 0) {
      t.lcdPulseCountdown = wrapAdd(t.lcdPulseCountdown, m.lcd.pulsePeriod);
      if (t.lcdPulseCountdown < 0) t.lcdPulseCountdown = m.lcd.pulsePeriod;
      c.kyStatus ^= kLinePulse;
      if (!(c.kyStatus & kLinePulse)) requestInterrupt(m, 0x01);
    }
  }

  // The cycle timer counts cycles (IA bit 6) or 256 per cycle, and on
  // underflow reloads with one emulated second of cycles.
  t.cycleTimer = wrapSub(t.cycleTimer, wrapMul(cycles, (c.IA & 0x40) ? 1 : 256));
  if (t.cycleTimer < 0) {
    t.cycleTimer = wrapAdd(t.cycleTimer, wrapMul(t.cyclesPerTick, t.ticksPerSecond));
    if (!(c.IA & 0x80)) requestInterrupt(m, 0x08);
  }
}

}  // namespace tarvo
