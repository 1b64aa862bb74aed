// Key matrix: 16 strobes selected by IA bits 0-3, 16 return lines read
// through KY. Key codes: 0 no key, 1-3 the front panel's own buttons (no
// matrix position), 4-82 machine keys.
#pragma once

#include <cstdint>

namespace tarvo {

struct Machine;

constexpr int32_t kKeyCodeCount = 83;
constexpr int kStrobeCount = 16;
constexpr unsigned kAllKeysStrobe = 13;  // every key answers on this strobe too

struct KeyMatrix {
  int32_t mouseKey = 0;  // key code held by the mouse, 0 for none
  int32_t hostKey = 0;   // key code held on the host keyboard, 0 for none
};

// Return-line mask of one key code on one strobe; 0 for codes that have no
// matrix position, including any code outside 0..82.
uint16_t keyMatrixEntry(unsigned strobe, int32_t keyCode);
// Return lines of a strobe for the two held keys.
uint16_t keyLines(const KeyMatrix& keys, unsigned strobe);
// The value a read of KY sees: the return lines of the strobe in IA bits
// 0-3 and the status lines in bits 8-11. Nothing is latched.
uint16_t keyRegister(const Machine& m);
// Called right after a key goes down: requests interrupt 3 when IA enables
// key interrupts and the selected strobe's lines pass the IA mask.
void keyInterruptCheck(Machine& m);

}  // namespace tarvo
