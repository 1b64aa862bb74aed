#include "devices/keyboard.h"

#include "machine.h"

namespace tarvo {

uint16_t keyLines(const KeyMatrix&, unsigned) { return 0; }

void keyInterruptCheck(Machine&) {}

}  // namespace tarvo
