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

// What the typist (frontpanel/typist.h) learns from the program's reads of
// the matrix while it types: whether each of the keys it holds, or has just
// let go, has been read down on its own strobe (and read down once more
// after that, so the program is past the read that found it), and read up
// on a strobe that covers it (its own or the all-keys strobe 13).
struct KeyWatch {
  bool active = false;  // only then does a KY read look at the rest
  int32_t codes[2] = {0, 0};
  uint8_t seenDown = 0;   // bit i: codes[i] was read down on its own strobe
  uint8_t seenAgain = 0;  // bit i: ... and read down again afterwards
  uint8_t seenUp = 0;     // bit i: codes[i] was read up
  // Before codes[i] was read on its own strobe: bit i of seenAllDown, it was
  // read down on the all-keys strobe; of seenElsewhere, another strobe was
  // read. Both: the program sees a key down and looks past it on purpose
  // (its queue is full, say), rather than not looking at all.
  uint8_t seenAllDown = 0;
  uint8_t seenElsewhere = 0;
};

struct KeyMatrix {
  int32_t mouseKey = 0;  // key code held by the mouse, 0 for none
  int32_t hostKey = 0;   // key code held on the host keyboard, 0 for none
  // A second key the typist holds together with hostKey, for a character
  // typed as a chord of two keys; 0 for none. Real keyboards never set it.
  int32_t chordKey = 0;
  KeyWatch watch;
};

// Return-line mask of one key code on one strobe; 0 for codes that have no
// matrix position, including any code outside 0..82.
uint16_t keyMatrixEntry(unsigned strobe, int32_t keyCode);
// Return lines of a strobe for the held keys.
uint16_t keyLines(const KeyMatrix& keys, unsigned strobe);
// The value a read of KY sees: the return lines of the strobe in IA bits
// 0-3 and the status lines in bits 8-11. Nothing is latched.
uint16_t keyRegister(const Machine& m);
// Called right after a key goes down: requests interrupt 3 when IA enables
// key interrupts and the selected strobe's lines pass the IA mask.
void keyInterruptCheck(Machine& m);
// Called by a read of KY while keys.watch is active, with the strobe read
// and the return lines it gave.
void noteKeyRead(KeyMatrix& keys, unsigned strobe, uint16_t lines);

}  // namespace tarvo
