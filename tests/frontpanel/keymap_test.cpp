#include "frontpanel/keymap.h"

#include <gtest/gtest.h>

#include <memory>

#include "machine.h"

namespace tarvo {
namespace {

TEST(KeyAt, PointsOnAndBetweenKeys) {
  const KeyHit k4 = keyAt(20, 170);
  EXPECT_EQ(k4.code, 4);
  EXPECT_EQ(k4.group, 2);
  EXPECT_EQ(k4.x, 18);
  EXPECT_EQ(k4.y, 165);
  EXPECT_EQ(keyAt(55, 170).code, 0);  // the gap between keys 4 and 5

  const KeyHit k73 = keyAt(510, 260);  // group 9, row 4, column 0
  EXPECT_EQ(k73.code, 73);
  EXPECT_EQ(k73.x, 504);
  EXPECT_EQ(k73.y, 108 + 4 * 38);
  // Column 2 of row 4 is past group 9's 18 keys; group 10 takes the point.
  EXPECT_EQ(keyAt(589, 260).code, 75);

  EXPECT_EQ(keyAt(5, 30).code, kKeyPower);
  EXPECT_EQ(keyAt(640, 5).code, kKeyMinimise);
  EXPECT_EQ(keyAt(660, 5).code, kKeyClose);
  EXPECT_EQ(keyAt(458, 270).code, 47);  // second key of the wide-pitch group
  EXPECT_EQ(keyAt(-1, -1).code, 0);
  EXPECT_EQ(keyAt(700, 400).code, 0);
  EXPECT_EQ(keyAt(5, 140).code, 0);  // below the power switch
}

TEST(KeyAt, OptionalKeyOnlyWhenTheFaceHasIt) {
  EXPECT_EQ(keyAt(20, 240).code, 81);
  EXPECT_EQ(keyAt(20, 240, kLastGroupNoOptional, kHighestKeyNoOptional).code, 0);
  EXPECT_EQ(keyAt(20, 170, kLastGroupNoOptional, kHighestKeyNoOptional).code, 4);
}

TEST(KeyPosition, EveryKeyIsFoundWhereItIsDrawn) {
  int seen = 0;
  for (int code = 1; code <= kHighestKey; ++code) {
    const KeyHit pos = keyPosition(code);
    ASSERT_GE(pos.group, 0) << code;
    const KeyGroup& g = kKeyGroups[pos.group];
    // Every pixel corner of the key hits it; one past the corner leaves it.
    for (auto [dx, dy] :
         {std::pair{0, 0}, {g.width - 1, 0}, {0, g.height - 1}, {g.width - 1, g.height - 1}}) {
      const KeyHit hit = keyAt(pos.x + dx, pos.y + dy);
      EXPECT_EQ(hit.code, code) << code << " at +" << dx << ",+" << dy;
      EXPECT_EQ(hit.x, pos.x);
      EXPECT_EQ(hit.y, pos.y);
      EXPECT_TRUE(pointOnKey(pos, pos.x + dx, pos.y + dy));
    }
    EXPECT_FALSE(pointOnKey(pos, pos.x + g.width, pos.y));
    EXPECT_FALSE(pointOnKey(pos, pos.x, pos.y + g.height));
    EXPECT_FALSE(pointOnKey(pos, pos.x - 1, pos.y));
    EXPECT_FALSE(pointOnKey(pos, -1, -1));
    ++seen;
  }
  EXPECT_EQ(seen, 81);
  // Without the optional key the walk stops at group 12.
  EXPECT_EQ(keyPosition(80, kLastGroupNoOptional).group, 12);
  EXPECT_EQ(keyPosition(81).group, 13);
}

TEST(HostChars, TableLookup) {
  struct Case {
    char32_t ch;
    int code;
  };
  const Case cases[] = {
      {U'\'', 5}, {U'(', 6},  {U')', 7},  {U'[', 8},  {U']', 9},  {U'|', 10}, {U'q', 16},
      {U'Q', 16}, {U'=', 26}, {U'a', 27}, {U'A', 27}, {U';', 36}, {U':', 37}, {U'z', 38},
      {U',', 45}, {U' ', 48}, {U'/', 60}, {U'7', 61}, {U'9', 63}, {U'*', 64}, {U'4', 65},
      {U'-', 68}, {U'1', 69}, {U'+', 72}, {U'0', 73}, {U'.', 74}, {U'!', 0},  {U'{', 0},
      {U'\n', 0}, {0, 0},     {U'é', 0},  {0x141, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(hostCharKey(c.ch), c.code) << static_cast<int>(c.ch);
  // The placeholder letters never give their own positions.
  for (int code : {11, 12, 13, 14, 15, 46, 47, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59}) {
    for (char32_t ch = 1; ch < 0x80; ++ch) EXPECT_NE(hostCharKey(ch), code);
  }
}

TEST(HostKeys, SpecialKeysAndRelease) {
  auto m = std::make_unique<Machine>();
  const std::pair<HostKey, int> table[] = {
      {HostKey::Backspace, 59}, {HostKey::Enter, 75},  {HostKey::Escape, 57}, {HostKey::PageUp, 15},
      {HostKey::PageDown, 46},  {HostKey::Left, 53},   {HostKey::Up, 50},     {HostKey::Right, 55},
      {HostKey::Down, 54},      {HostKey::Insert, 49}, {HostKey::Delete, 51}, {HostKey::F8, 82},
  };
  for (auto [key, code] : table) {
    pressHostKey(*m, key);
    EXPECT_EQ(m->keys.hostKey, code);
  }
  releaseHostKey(*m);
  EXPECT_EQ(m->keys.hostKey, 0);

  EXPECT_TRUE(pressHostChar(*m, U'q'));
  EXPECT_EQ(m->keys.hostKey, 16);
  EXPECT_FALSE(pressHostChar(*m, U'!'));
  EXPECT_EQ(m->keys.hostKey, 16);  // unchanged
  EXPECT_EQ(m->keys.mouseKey, 0);
}

}  // namespace
}  // namespace tarvo
