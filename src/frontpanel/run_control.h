// Run-control state of the front panel, read and written by the processor
// (cycle budget), the run loop and the debugger.
#pragma once

#include <cstdint>

namespace tarvo {

struct RunControl {
  int32_t cycleBudget = 0;
  int32_t cyclesPerTick = 0;
  int32_t ticksPerSecond = 0;
  int32_t oscFreq = 910;
  uint8_t stopFlag = 0;
  int32_t resumeDelay = 0;
  int32_t traceCount = -1;
  int32_t breakpointAddress = -1;
  int32_t lcdPulseCountdown = 0;
  int32_t cycleTimer = 0;
  // Set by a failed disk-link operation inside a step: the run tick ends.
  bool abortTick = false;
};

}  // namespace tarvo
