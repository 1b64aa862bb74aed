// One emulated machine: processor, memory, devices and run-control state.
// Tests build as many as they like; nothing here is global.
#pragma once

#include "cpu/memory.h"
#include "cpu/state.h"
#include "devices/keyboard.h"
#include "devices/lcd.h"
#include "devices/port.h"
#include "frontpanel/run_control.h"

namespace tarvo {

struct Machine {
  ProcessorState cpu;
  MemoryMap mem;
  Lcd lcd;
  KeyMatrix keys;
  Port port;
  RunControl run;
};

}  // namespace tarvo
