#include "devices/keyboard.h"

#include <array>

#include "cpu/exec.h"
#include "machine.h"

namespace tarvo {

namespace {

struct KeyPosition {
  uint8_t strobe;
  uint8_t line;
  uint8_t code;
};

// Where each machine key sits: strobe 1..11, return line 0..15.
// clang-format off
constexpr KeyPosition kPositions[] = {
    {1, 7, 57},
    {2, 0, 17}, {2, 1, 16}, {2, 2, 27}, {2, 3, 81}, {2, 4, 38}, {2, 5, 46}, {2, 14, 5}, {2, 15, 4},
    {3, 0, 19}, {3, 1, 18}, {3, 2, 29}, {3, 3, 28}, {3, 4, 40}, {3, 5, 39}, {3, 12, 76}, {3, 14, 7}, {3, 15, 6},
    {4, 0, 21}, {4, 1, 20}, {4, 2, 31}, {4, 3, 30}, {4, 4, 42}, {4, 5, 41}, {4, 12, 77}, {4, 14, 9}, {4, 15, 8},
    {5, 0, 23}, {5, 1, 22}, {5, 2, 33}, {5, 3, 32}, {5, 4, 44}, {5, 5, 43}, {5, 12, 78}, {5, 14, 11}, {5, 15, 10},
    {6, 0, 25}, {6, 1, 24}, {6, 2, 35}, {6, 3, 34}, {6, 4, 48}, {6, 5, 45}, {6, 12, 79}, {6, 14, 13}, {6, 15, 12},
    {7, 1, 26}, {7, 2, 37}, {7, 3, 36}, {7, 5, 47}, {7, 6, 15}, {7, 12, 80}, {7, 15, 14},
    {8, 0, 66}, {8, 1, 65}, {8, 2, 70}, {8, 3, 69}, {8, 5, 73}, {8, 7, 61}, {8, 13, 82},
    {9, 0, 68}, {9, 1, 67}, {9, 2, 72}, {9, 3, 71}, {9, 4, 75}, {9, 5, 74}, {9, 7, 63},
    {10, 0, 56}, {10, 1, 55}, {10, 2, 60}, {10, 3, 59}, {10, 7, 64}, {10, 14, 52}, {10, 15, 51},
    {11, 0, 54}, {11, 1, 53}, {11, 2, 58}, {11, 7, 62}, {11, 14, 50}, {11, 15, 49},
};
// clang-format on

using MatrixTable = std::array<std::array<uint16_t, kKeyCodeCount>, kStrobeCount>;

constexpr MatrixTable buildMatrix() {
  MatrixTable t{};
  for (const KeyPosition& p : kPositions) {
    const uint16_t bit = static_cast<uint16_t>(1u << p.line);
    t[p.strobe][p.code] = bit;
    t[kAllKeysStrobe][p.code] = bit;
  }
  return t;
}

constexpr MatrixTable kMatrix = buildMatrix();

// Key-interrupt masks by IA bits 4-5.
constexpr uint16_t kInterruptMasks[4] = {0x0000, 0x0080, 0x00C0, 0xF0FF};

}  // namespace

uint16_t keyMatrixEntry(unsigned strobe, int32_t keyCode) {
  if (keyCode < 0 || keyCode >= kKeyCodeCount) return 0;
  return kMatrix[strobe & 15][static_cast<std::size_t>(keyCode)];
}

uint16_t keyLines(const KeyMatrix& keys, unsigned strobe) {
  return static_cast<uint16_t>(keyMatrixEntry(strobe, keys.mouseKey) |
                               keyMatrixEntry(strobe, keys.hostKey) |
                               keyMatrixEntry(strobe, keys.chordKey));
}

void noteKeyRead(KeyMatrix& keys, unsigned strobe, uint16_t lines) {
  KeyWatch& w = keys.watch;
  strobe &= 15;
  for (int i = 0; i < 2; ++i) {
    const uint16_t bit = keyMatrixEntry(strobe, w.codes[i]);
    const auto mask = static_cast<uint8_t>(1u << i);
    if (bit == 0) {  // this strobe does not reach the key
      if (w.codes[i] != 0 && (w.seenDown & mask) == 0) w.seenElsewhere |= mask;
      continue;
    }
    if ((lines & bit) == 0) {
      w.seenUp |= mask;
      continue;
    }
    if (w.seenDown & mask) w.seenAgain |= mask;
    // Strobe 13 tells that some key is down, not which.
    if (strobe != kAllKeysStrobe)
      w.seenDown |= mask;
    else if ((w.seenDown & mask) == 0)
      w.seenAllDown |= mask;
  }
}

uint16_t keyRegister(const Machine& m) {
  return static_cast<uint16_t>(keyLines(m.keys, m.cpu.IA & 0x0F) | (m.cpu.kyStatus & 0x0F00));
}

void keyInterruptCheck(Machine& m) {
  const uint8_t ia = m.cpu.IA;
  // With IA bit 7 clear, request 3 belongs to the cycle timer.
  if ((ia & 0x80) == 0) return;
  const uint16_t lines = keyLines(m.keys, ia & 0x0F);
  if (lines & kInterruptMasks[(ia >> 4) & 3]) requestInterrupt(m, 0x08);
}

}  // namespace tarvo
