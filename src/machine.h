// One emulated machine: processor, memory, devices and the timers that its
// clock drives. Everything the real machine holds is here, and nothing of
// the host (pacing, debugger arms): tests build as many as they like.
#pragma once

#include "cpu/memory.h"
#include "cpu/state.h"
#include "devices/keyboard.h"
#include "devices/lcd.h"
#include "devices/port.h"
#include "devices/timers.h"

namespace tarvo {

struct Machine {
  ProcessorState cpu;
  MemoryMap mem;
  Lcd lcd;
  KeyMatrix keys;
  Port port;
  MachineTimers timers;
};

}  // namespace tarvo
