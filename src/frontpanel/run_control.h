// The host's control over a running machine: whether the run tick steps at
// all, the ticks it waits after the debug window hides, and the debugger's
// trace count and breakpoint, which the run tick checks after every step.
// None of it belongs to the emulated machine.
#pragma once

#include <cstdint>

namespace tarvo {

struct RunControl {
  uint8_t stopFlag = 0;
  int32_t resumeDelay = 0;
  int32_t traceCount = -1;
  int32_t breakpointAddress = -1;
};

}  // namespace tarvo
