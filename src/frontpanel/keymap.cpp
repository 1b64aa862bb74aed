#include "frontpanel/keymap.h"

#include <string_view>

#include "devices/keyboard.h"
#include "machine.h"
#include "machine/operations.h"

namespace tarvo {

// left, top, width, height, column pitch, row pitch, columns, count,
// image x, image y
const std::array<KeyGroup, kKeyGroupCount> kKeyGroups = {{
    {0, 27, 11, 99, 40, 120, 1, 1, 0, 0},       // 1 power switch
    {636, 2, 17, 17, 18, 33, 2, 2, 130, 25},    // 2 minimise, 3 close
    {18, 165, 33, 21, 40, 33, 12, 12, 22, 46},  // 4-15
    {29, 198, 33, 21, 40, 33, 11, 11, 22, 46},  // 16-26
    {58, 231, 33, 21, 40, 33, 11, 11, 22, 46},  // 27-37
    {69, 264, 33, 21, 40, 33, 8, 8, 22, 46},    // 38-45
    {18, 264, 33, 21, 440, 33, 2, 2, 22, 46},   // 46-47
    {393, 264, 54, 21, 61, 33, 1, 1, 22, 25},   // 48
    {504, 32, 33, 21, 40, 33, 4, 8, 22, 46},    // 49-56
    {504, 108, 33, 25, 40, 38, 4, 18, 88, 46},  // 57-74
    {584, 260, 73, 25, 80, 38, 1, 1, 22, 0},    // 75
    {82, 135, 55, 12, 96, 33, 4, 4, 22, 71},    // 76-79
    {453, 135, 20, 12, 96, 33, 1, 1, 22, 83},   // 80
    {18, 231, 33, 21, 40, 33, 1, 1, 22, 46},    // 81 optional key
}};

namespace {

// Position i (1..70) stands for key code i + 4. The lower-case 'a' fill the
// places of keys without a character and never match an upper-cased one.
constexpr std::string_view kHostChars =
    "'()[]|aaaaaQWERTYUIOP=ASDFGHJKL;:ZXCVBNM,aa aaaaaaaaaaa/789*456-123+0.";
static_assert(kHostChars.size() == 70);

KeyHit keyInGroup(int group, int index, int code) {
  const KeyGroup& g = kKeyGroups[group];
  KeyHit hit;
  hit.code = code;
  hit.group = group;
  hit.x = g.left + (index % g.columns) * g.colPitch;
  hit.y = g.top + (index / g.columns) * g.rowPitch;
  return hit;
}

}  // namespace

KeyHit keyAt(int x, int y, int lastGroup, int highestKey) {
  int code = 1;
  for (int gi = 0; gi <= lastGroup && gi < kKeyGroupCount; ++gi) {
    const KeyGroup& g = kKeyGroups[gi];
    // The left and top bounds come first, so the remainders are never
    // taken of a negative distance.
    const bool hits = x >= g.left && x < g.left + g.colPitch * g.columns &&
                      (x - g.left) % g.colPitch < g.width && y >= g.top &&
                      (y - g.top) % g.rowPitch < g.height;
    if (hits) {
      const int col = (x - g.left) / g.colPitch;
      const int row = (y - g.top) / g.rowPitch;
      const int index = g.columns * row + col;
      if (index < g.count) {
        code += index;
        if (code > highestKey) return {};
        KeyHit hit = keyInGroup(gi, index, code);
        return hit;
      }
    }
    code += g.count;
  }
  return {};
}

KeyHit keyPosition(int code, int lastGroup) {
  if (code <= 0) return {};
  int first = 1;
  int gi = 0;
  for (; gi < lastGroup && gi < kKeyGroupCount - 1; ++gi) {
    if (first + kKeyGroups[gi].count > code) break;
    first += kKeyGroups[gi].count;
  }
  return keyInGroup(gi, code - first, code);
}

bool pointOnKey(const KeyHit& key, int x, int y) {
  if (key.group < 0) return false;
  const KeyGroup& g = kKeyGroups[key.group];
  return x >= key.x && x < key.x + g.width && y >= key.y && y < key.y + g.height;
}

int hostCharKey(char32_t ch) {
  if (ch >= U'a' && ch <= U'z') ch = ch - U'a' + U'A';
  if (ch > 0x7F) return 0;
  const auto pos = kHostChars.find(static_cast<char>(ch));
  if (pos == std::string_view::npos) return 0;
  return static_cast<int>(pos) + 1 + 4;
}

int hostKeyCode(HostKey key) {
  switch (key) {
    case HostKey::Backspace:
      return 59;
    case HostKey::Enter:
      return 75;
    case HostKey::Escape:
      return 57;
    case HostKey::PageUp:
      return 15;
    case HostKey::PageDown:
      return 46;
    case HostKey::Left:
      return 53;
    case HostKey::Up:
      return 50;
    case HostKey::Right:
      return 55;
    case HostKey::Down:
      return 54;
    case HostKey::Insert:
      return 49;
    case HostKey::Delete:
      return 51;
    case HostKey::F8:
      return kKeyHostOnly;
  }
  return 0;
}

bool pressHostChar(Machine& m, char32_t ch) {
  const int code = hostCharKey(ch);
  if (code == 0) return false;
  pressKey(m, KeyHolder::Host, code);
  return true;
}

void pressHostKey(Machine& m, HostKey key) {
  holdKey(m, KeyHolder::Host, hostKeyCode(key));
}

void releaseHostKey(Machine& m) {
  releaseKey(m, KeyHolder::Host);
}

}  // namespace tarvo
