// The machine's clock and the two timers it drives: the LCD pulse line and
// the processor's cycle timer. Both count down by the cycles of each step.
#pragma once

#include <cstdint>

namespace tarvo {

struct MachineTimers {
  int32_t oscFreq = 910;       // clock in kHz, that is cycles per millisecond
  int32_t cyclesPerTick = 0;   // cycles in one 10 ms run tick
  int32_t ticksPerSecond = 0;  // run ticks in one second
  int32_t lcdPulseCountdown = 0;
  int32_t cycleTimer = 0;
};

}  // namespace tarvo
