#include "tools/xasm.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tools/assembler.h"

namespace tarvo {
namespace {

// Sources held in memory, by path.
struct Sources {
  std::map<std::string, std::string> files;
  SourceReader reader() const {
    return [this](const std::string& path) -> std::optional<std::string> {
      const auto it = files.find(path);
      if (it == files.end()) return std::nullopt;
      return it->second;
    };
  }
};

XasmOutput build(const std::string& text, XasmOptions options = {}) {
  Sources s;
  s.files["main.asm"] = text;
  return assembleProgram("main.asm", options, s.reader());
}

std::vector<std::string> messages(const XasmOutput& out) {
  std::vector<std::string> all;
  for (const XasmError& e : out.errors) all.push_back(formatXasmError(e));
  return all;
}

// The bytes the one-line assembler gives for a line with literal numbers.
std::vector<uint8_t> line(const std::string& text, uint16_t origin, bool word = false) {
  const AsmResult r = assemble(text, origin, word);
  EXPECT_EQ(r.errorPos, 0) << text;
  return {r.bytes.begin(), r.bytes.begin() + r.length};
}

std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(CrossAssembler, LabelsForwardReferencesAndExpressions) {
  const XasmOutput out = build(
      "size    equ end-start      ; refers forward\n"
      "        org &h200\n"
      "start:  ld $1,size\n"
      "        jr nz,end\n"
      "        ldw $2,-2+(start+4)\n"
      "        ld $4,lo(table)\n"
      "        ld $5,hi(table)\n"
      "        jp table\n"
      "end:    ld $6,-(1-3)\n"
      "table:\n");
  ASSERT_TRUE(out.ok()) << messages(out)[0];
  EXPECT_EQ(out.imageBase, 0x200u);
  // start 0x200 (3) jr 0x203 (2) ldw 0x205 (4) ld 0x209 (3) ld 0x20C (3)
  // jp 0x20F (3) end 0x212 (3) table 0x215
  const auto expected = concat({
      line("ld $1,18", 0x200),
      line("jr nz,&h212", 0x203),
      line("ldw $2,&h202", 0x205),
      line("ld $4,&h15", 0x209),
      line("ld $5,&h02", 0x20C),
      line("jp &h215", 0x20F),
      line("ld $6,2", 0x212),
  });
  EXPECT_EQ(out.image, expected);
  ASSERT_EQ(out.symbols.size(), 4u);
  EXPECT_EQ(out.symbols[0].name, "size");  // sorted by value
  EXPECT_EQ(out.symbols[3].name, "table");
  EXPECT_EQ(out.symbols[3].value, 0x215);
}

TEST(CrossAssembler, NamesThatStartLikeConditionsAreSymbols) {
  const XasmOutput out = build(
      "        org &h10\n"
      "cloop:  jr cloop\n"
      "        jp zed\n"
      "        ld $1,$2,jrx\n"
      "zed:    rtn z\n"
      "jrx:    cal c,zed\n");
  ASSERT_TRUE(out.ok()) << messages(out)[0];
  const auto expected = concat({
      line("jr &h10", 0x10),
      line("jp &h19", 0x12),
      line("ld $1,$2,jr &h1A", 0x15),
      line("rtn z", 0x19),
      line("cal c,&h19", 0x1A),
  });
  EXPECT_EQ(out.image, expected);
}

TEST(CrossAssembler, DataDirectives) {
  const XasmOutput out = build(
      "        db \"Hi\\t\",0,-1,&h41\n"
      "        dw &h1234,-2\n"
      "        ds 3,&hAA\n"
      "        ds 2\n"
      "        db 9\n");
  ASSERT_TRUE(out.ok()) << messages(out)[0];
  const std::vector<uint8_t> expected = {'H',  'i',  '\\', 't',  0,    0xFF, 0x41, 0x34, 0x12,
                                         0xFE, 0xFF, 0xAA, 0xAA, 0xAA, 0xFF, 0xFF, 9};
  EXPECT_EQ(out.image, expected);
}

TEST(CrossAssembler, ImageRangeFillAndBounds) {
  XasmOptions options;
  options.base = 0x100;
  options.size = 8;
  XasmOutput out = build("org &h102\nnop\n", options);
  ASSERT_TRUE(out.ok());
  EXPECT_EQ(out.image, (std::vector<uint8_t>{0xFF, 0xFF, 0xF8, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));

  out = build("org &h107\nld $1,2\n", options);
  EXPECT_EQ(messages(out),
            std::vector<std::string>{"main.asm:2:1: address &H0108 lies outside the image"});
  EXPECT_TRUE(out.image.empty());

  out = build("org &h100\nnop\norg &h100\nrtn\n");
  EXPECT_EQ(messages(out), std::vector<std::string>{
                               "main.asm:4:1: address &H0100 is already filled by main.asm:2"});
}

TEST(CrossAssembler, ReportsEveryErrorWithItsPosition) {
  const XasmOutput out = build(
      "start:  ld $1,nowhere\n"
      "        jr far\n"
      "        ld $1,$2,jr far\n"
      "        db 1,300\n"
      "        org later\n"
      "start:  nop\n"
      "        frob $1\n"
      "        ld $1,$name\n"
      "        ld $1,256\n"
      "        nop extra\n"
      "        org &h200\n"
      "far:    nop\n"
      "later:\n");
  EXPECT_EQ(messages(out), (std::vector<std::string>{
                               "main.asm:1:15: undefined symbol 'nowhere'",
                               "main.asm:2:15: relative jump out of range (distance 508)",
                               "main.asm:3:17: relative jump out of range (distance 504)",
                               "main.asm:4:14: byte value 300 out of range -128..255",
                               "main.asm:5:13: org needs a value known at this line",
                               "main.asm:6:1: symbol 'start' is already defined at main.asm:1",
                               "main.asm:7:9: unknown mnemonic",
                               "main.asm:8:16: expected a register number or sx, sy, sz after '$'",
                               "main.asm:9:15: value 256 out of range 0..255",
                               "main.asm:10:13: unexpected text after the instruction",
                           }));
  EXPECT_TRUE(out.image.empty());
}

TEST(CrossAssembler, HostileTextFailsCleanly) {
  const XasmOutput out = build("        db " + std::string(100000, '(') + "1\n" + "        ld $1," +
                               std::string(50000, '-') + "1\n" + "        db \"no end\n" +
                               std::string("\0\xFF\x01", 3) + "\n");
  ASSERT_EQ(out.errors.size(), 4u);
  EXPECT_EQ(out.errors[0].message, "expression nested too deeply");
  EXPECT_EQ(out.errors[1].message, "expression nested too deeply");
  EXPECT_EQ(out.errors[2].message, "missing closing quote");
  EXPECT_EQ(out.errors[3].message, "unknown mnemonic");
}

TEST(CrossAssembler, EquatesResolveInAnyOrderButNotInCircles) {
  XasmOutput out = build("a equ b+1\nb equ c*1\nc equ 5\n");
  EXPECT_FALSE(out.ok());  // "*" is not an operator
  out = build("a equ b+1\nb equ c-1\nc equ 5\n        db a,b,c\n");
  ASSERT_TRUE(out.ok());
  EXPECT_EQ(out.image, (std::vector<uint8_t>{5, 4, 5}));
  out = build("a equ b\nb equ a\n");
  ASSERT_EQ(out.errors.size(), 2u);
  EXPECT_EQ(out.errors[0].message, "symbol 'b' has no value (circular definition)");
}

TEST(CrossAssembler, WordOrganisedLayout) {
  XasmOptions options;
  options.word = true;
  const XasmOutput out = build(
      "        org &h10\n"
      "start:  jp there\n"      // 4 bytes: two words
      "        ld $1,$sy\n"     // 2 bytes: one word
      "        ld $1,(iz+5)\n"  // 3 bytes: two words, padded with 0
      "there:  jr start\n"      // displacement counted from its own word
      "        ld $1,$2,jr start\n"
      "        db 1,2,3\n"
      "        dw &h1234\n"
      "        ds 2,7\n"
      "last:\n",
      options);
  ASSERT_TRUE(out.ok()) << messages(out)[0];
  EXPECT_EQ(out.imageBase, 0x10u);
  const auto expected = concat({
      line("jp &h15", 0x10, true),
      line("ld $1,$sy", 0x12, true),
      line("ld $1,(iz+5)", 0x13, true),
      {0},
      line("jr &h10", 0x15, true),
      line("ld $1,$2,jr &h10", 0x16, true),
      {1, 2, 3, 0},
      {0x34, 0x12},
      {7, 7, 7, 7},
  });
  EXPECT_EQ(out.image, expected);
  ASSERT_FALSE(out.symbols.empty());
  EXPECT_EQ(out.symbols.back().name, "last");
  EXPECT_EQ(out.symbols.back().value, 0x1D);  // 0x18 + 2 (db) + 1 (dw) + 2 (ds)
}

TEST(CrossAssembler, WholeWordImage) {
  XasmOptions options;
  options.word = true;
  options.size = 6144;
  const XasmOutput out = build("org 1\nnop\n", options);
  ASSERT_TRUE(out.ok());
  ASSERT_EQ(out.image.size(), 6144u);
  EXPECT_EQ(out.image[2], 0xF8);
  EXPECT_EQ(out.image[3], 0x00);
  EXPECT_EQ(out.image[0], 0xFF);
  EXPECT_EQ(out.image[4], 0xFF);
  options.size = 6143;
  EXPECT_FALSE(checkXasmOptions(options).empty());
}

TEST(CrossAssembler, IncludesRelativeToTheIncludingFile) {
  Sources s;
  s.files["src/main.asm"] =
      "        include \"lib/defs.inc\"\n"
      "        ld $1,answer\n"
      "        include \"lib/broken.inc\"\n";
  s.files["src/lib/defs.inc"] = "answer  equ 42\n        nop\n";
  s.files["src/lib/broken.inc"] = "\n   bad\n";
  XasmOutput out = assembleProgram("src/main.asm", {}, s.reader());
  EXPECT_EQ(messages(out), std::vector<std::string>{"src/lib/broken.inc:2:4: unknown mnemonic"});
  s.files["src/lib/broken.inc"] = "; fixed\n";
  out = assembleProgram("src/main.asm", {}, s.reader());
  ASSERT_TRUE(out.ok());
  EXPECT_EQ(out.image, (std::vector<uint8_t>{0xF8, 0x42, 0x01, 42}));

  s.files["loop.asm"] = "include \"loop.asm\"\n";
  out = assembleProgram("loop.asm", {}, s.reader());
  ASSERT_EQ(out.errors.size(), 1u);
  EXPECT_NE(out.errors[0].message.find("nested"), std::string::npos);

  out = assembleProgram("missing.asm", {}, s.reader());
  EXPECT_EQ(messages(out), std::vector<std::string>{"missing.asm: cannot read the file"});
}

TEST(CrossAssembler, ListingShowsAddressesBytesAndSource) {
  const XasmOutput out = build("k equ 3\n        org &h40\nhere:   ld $1,k ; three\n");
  ASSERT_TRUE(out.ok());
  EXPECT_EQ(out.listing,
            "=0003              k equ 3\n"
            "0040                       org &h40\n"
            "0040  42 01 03     here:   ld $1,k ; three\n");
}

}  // namespace
}  // namespace tarvo
