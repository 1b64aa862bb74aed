// The host's control over a running machine: whether the run tick steps at
// all, the ticks it waits after the debug window hides, and the debugger's
// trace count and breakpoint, which the run tick checks after every step.
// None of it belongs to the emulated machine.
#pragma once

#include <cstdint>

namespace tarvo {

struct Machine;

// A debugger that looks at every step of a run: breakpoints, watchpoints,
// stepping modes, a trace. The run tick asks it after each step only while
// it is armed, so an idle observer costs one test a tick.
class StepObserver {
 public:
  virtual ~StepObserver() = default;
  virtual bool armed() const = 0;
  // After a step; cycles is the running total of the step's run. True
  // stops the run before the next step.
  virtual bool stepped(Machine& m, int64_t cycles) = 0;
  // The run has stopped for another reason (trace count, breakpoint address).
  virtual void stoppedElsewhere() {}

  // What the run tick looks at itself before it asks: stepped() is called
  // after every step when everyStep is set, and otherwise only when the new
  // PC's bit is set in pcFilter (a bitmap of 16-bit addresses, 8 KB), when a
  // watched data access happened (the memory map's watch hit), or when the
  // interrupts in service changed while interruptMask is non-zero.
  bool everyStep = false;
  uint8_t interruptMask = 0;
  const uint8_t* pcFilter = nullptr;
};

struct RunControl {
  uint8_t stopFlag = 0;
  int32_t resumeDelay = 0;
  int32_t traceCount = -1;
  int32_t breakpointAddress = -1;
  // The debugger's own checks, or nullptr.
  StepObserver* observer = nullptr;
};

}  // namespace tarvo
