// Input mapping without any toolkit: where the keys sit on the face, which
// key a mouse press hits, and which key a host character or special host key
// stands for.
#pragma once

#include <array>
#include <cstdint>

namespace tarvo {

struct Machine;

// One group of equally sized keys on the face. Keys are numbered row by row,
// left to right; key codes run on from group to group starting at 1.
struct KeyGroup {
  int32_t left, top;      // first key's top-left corner on the face
  int32_t width, height;  // of one key
  int32_t colPitch, rowPitch;
  int32_t columns;         // keys per row
  int32_t count;           // keys in the group
  int32_t imageX, imageY;  // the group's pressed frame in the keys image
};

constexpr int kKeyGroupCount = 14;
extern const std::array<KeyGroup, kKeyGroupCount> kKeyGroups;

// The search bounds of a face with the optional key (group 13, key 81), and
// of one without it.
constexpr int kLastGroup = 13;
constexpr int kHighestKey = 81;
constexpr int kLastGroupNoOptional = 12;
constexpr int kHighestKeyNoOptional = 80;

// Face pixels compared to find the optional key: equal pixels mean no key.
constexpr int kOptionalKeyProbeX = 17;
constexpr int kOptionalKeyProbeY = 231;

// Machine key codes.
constexpr int kKeyPower = 1;
constexpr int kKeyMinimise = 2;
constexpr int kKeyClose = 3;
constexpr int kKeyWake = 57;
constexpr int kKeyHostOnly = 82;

struct KeyHit {
  int code = 0;  // 0 when the point hits no key
  int group = -1;
  int x = 0, y = 0;  // top-left corner of the key on the face
};

// The key under a face point, searching groups 0..lastGroup.
KeyHit keyAt(int x, int y, int lastGroup = kLastGroup, int highestKey = kHighestKey);

// Group and top-left corner of a key code (1..highest), for drawing it and
// for testing whether the pointer has left it.
KeyHit keyPosition(int code, int lastGroup = kLastGroup);

// True while (x, y) lies on the key at hit.x, hit.y of its group.
bool pointOnKey(const KeyHit& key, int x, int y);

// Key code of a typed host character, upper-cased first; 0 for characters
// that stand for no key.
int hostCharKey(char32_t ch);

// Host keys that press a machine key on key-down, whatever the toolkit.
enum class HostKey {
  Backspace,
  Enter,
  Escape,
  PageUp,
  PageDown,
  Left,
  Up,
  Right,
  Down,
  Insert,
  Delete,
  F8,
};
int hostKeyCode(HostKey key);

// The host keyboard's effect on the held host key code:
// a typed character presses its key and runs the key interrupt check
// (returns false and changes nothing for a character without a key);
bool pressHostChar(Machine& m, char32_t ch);
// a special host key sets its key code (no key interrupt check);
void pressHostKey(Machine& m, HostKey key);
// any key going up releases the host key.
void releaseHostKey(Machine& m);

}  // namespace tarvo
