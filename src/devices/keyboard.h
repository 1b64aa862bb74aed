// Key matrix: 16 strobes selected by IA bits 0-3, 16 return lines read
// through KY.
#pragma once

#include <cstdint>

namespace tarvo {

struct Machine;

struct KeyMatrix {
  int32_t mouseKey = 0;  // key code held by the mouse, 0 for none
  int32_t hostKey = 0;   // key code held on the host keyboard, 0 for none
};

// Return lines of a strobe for the two held keys.
uint16_t keyLines(const KeyMatrix& keys, unsigned strobe);
// Called right after a key goes down: may request interrupt 3.
void keyInterruptCheck(Machine& m);

}  // namespace tarvo
