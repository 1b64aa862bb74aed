#include "frontpanel/charmap.h"

#include <gtest/gtest.h>

#include <memory>

#include "machine.h"
#include "temp_dir.h"

namespace tarvo {
namespace {

using Keys = std::vector<int>;

TEST(CharMap, ReadsCharactersWithOneOrTwoKeysAndSkipsWhatDoesNotRead) {
  const CharMap map = parseCharMap(
      "// shifted characters\n"
      "\" 47+17\r\n"
      "<\t 47+24  \n"
      "\n"
      "! 20\n"
      "# 47+18+19\n"  // three keys: more than the matrix holds
      "$ 47+3\n"      // the close button is no machine key
      "% 47+\n"
      "&47+21\n"      // no blank after the character
      "\" 47+25\n");  // a second line for a character: the first wins
  EXPECT_EQ(keysForChar(&map, U'"'), (Keys{47, 17}));
  EXPECT_EQ(keysForChar(&map, U'<'), (Keys{47, 24}));
  EXPECT_EQ(keysForChar(&map, U'!'), (Keys{20}));
  for (char32_t skipped : {U'#', U'$', U'%', U'&', U'~'})
    EXPECT_TRUE(keysForChar(&map, skipped).empty()) << static_cast<char>(skipped);
  EXPECT_EQ(map.entries.size(), 4u);
}

TEST(CharMap, TheHostTableComesFirstAndNoMapMeansTheTableAlone) {
  const CharMap map = parseCharMap("q 47+17\n> 47+25\n");
  EXPECT_EQ(keysForChar(&map, U'q'), (Keys{16}));  // the table's Q
  EXPECT_EQ(keysForChar(nullptr, U'>'), Keys{});
  EXPECT_EQ(keysForChar(&map, U'>'), (Keys{47, 25}));

  test::TempDir dir;
  EXPECT_FALSE(loadCharMap(dir.path()).has_value());
  dir.writeText(kCharMapFile, "> 47+25\n");
  const auto loaded = loadCharMap(dir.path());
  ASSERT_TRUE(loaded.has_value());
  EXPECT_EQ(keysForChar(&*loaded, U'>'), (Keys{47, 25}));
}

TEST(CharMap, PressingHoldsBothKeysWithOneKeyInterruptAndReleasingLetsGo) {
  auto m = std::make_unique<Machine>();
  m->cpu.IA = 0xBD;  // key interrupts from any line, strobe 13
  m->cpu.IE = 0x40;
  const CharMap map = parseCharMap("> 47+25\n");
  EXPECT_FALSE(pressMappedChar(*m, map, U'<'));  // not in the map
  EXPECT_FALSE(pressMappedChar(*m, map, U'Q'));  // the table's character
  EXPECT_EQ(m->cpu.IB & 0x08, 0);
  ASSERT_TRUE(pressMappedChar(*m, map, U'>'));
  EXPECT_EQ(m->keys.chordKey, 47);
  EXPECT_EQ(m->keys.hostKey, 25);
  EXPECT_EQ(m->cpu.IB & 0x08, 0x08);
  releaseMappedChar(*m);
  EXPECT_EQ(m->keys.chordKey, 0);
  EXPECT_EQ(m->keys.hostKey, 0);
}

}  // namespace
}  // namespace tarvo
