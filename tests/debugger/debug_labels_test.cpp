// The debug window's model with a program's labels loaded: label rows in the
// disassembly and labels in its operands, the hit test and page step over
// those rows, the Go to box, Tab through the hex editor's bytes, and the
// assembler's message for the status line.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "cpu/memory.h"
#include "debugger/debug_model.h"
#include "debugger/symbols.h"
#include "frontpanel/run_loop.h"
#include "machine.h"
#include "tools/assembler.h"
#include "tools/disasm.h"

namespace tarvo {
namespace {

class Labels : public testing::Test {
 protected:
  Labels() {
    model.setPaneSize(Pane::List, 10, 37);
    model.setPaneSize(Pane::Bin, 10, 81);
  }

  uint8_t& ram0(uint16_t a) { return m.mem.rows[kRam0Row].buffer[a]; }
  std::vector<std::string> lines() {
    std::vector<std::string> out;
    for (const PaneLine& l : model.paint(Pane::List).lines) out.push_back(lineText(l));
    return out;
  }

  Machine m;
  RunControl run;
  DebugModel model{m, run};
  SymbolTable symbols;
};

TEST_F(Labels, LabelRowsAndOperands) {
  // ld $3,$sy; nop; jp &H0103 (a jump back to the labelled nop); trp...
  const uint8_t code[] = {0x02, 0x23, 0xF8, 0x37, 0x03, 0x01};
  for (std::size_t i = 0; i < sizeof code; ++i) ram0(static_cast<uint16_t>(0x100 + i)) = code[i];
  symbols.addText("start 0100\nprint_digit 0102\nunused 9999\n");
  model.setSymbols(&symbols);
  model.setListView(0x10100);
  const std::vector<std::string> l = lines();
  ASSERT_EQ(l.size(), 10u);
  EXPECT_EQ(l[0], "start:");
  EXPECT_EQ(l[1], "10100: ld    $3,$sy");
  EXPECT_EQ(l[2], "print_digit:");
  EXPECT_EQ(l[3], "10102: nop");
  EXPECT_EQ(l[4], "10103: jp    &H0103");  // no label names 0x0103
  // Eight instruction rows fit under two label rows: 2+1+3+5 bytes.
  EXPECT_EQ(model.scrollRange(Pane::List).pageStep, 11);

  ram0(0x104) = 0x02;  // now jp &H0102
  EXPECT_EQ(lines()[4], "10103: jp    print_digit");

  // Label rows open nothing; the address field sits on the first
  // instruction row; instruction rows open their own line.
  EXPECT_FALSE(model.hitTest(Pane::List, 0, 2));
  EXPECT_FALSE(model.hitTest(Pane::List, 0, 8));
  EXPECT_FALSE(model.hitTest(Pane::List, 2, 8));
  EXPECT_EQ(model.hitTest(Pane::List, 1, 3)->mode, EditMode::ListAddress);
  EXPECT_EQ(model.hitTest(Pane::List, 3, 8)->target, 0x10102);
  EXPECT_EQ(model.hitTest(Pane::List, 4, 8)->target, 0x10103);
  EXPECT_EQ(model.hitTest(Pane::List, 3, 8)->row, 3);

  // A page down starts the next page after the last instruction drawn.
  EXPECT_TRUE(model.scrollKey(Pane::List, ScrollKey::PageDown));
  EXPECT_EQ(model.view().listTop, 0x1010Bu);
}

// Over random memory and random view positions: with no labels (none
// loaded, or an empty table) the pane is the plain listing row for row and
// every click target the listing walk's; with labels, the instruction rows
// are the same walk, each labelled line follows its label row, and the hit
// test and the page step agree with the rows drawn.
TEST_F(Labels, RowsAgreeWithTheListingWalk) {
  std::mt19937 rng(16);
  auto& buffer = m.mem.rows[kRam0Row].buffer;
  for (std::size_t i = 0; i < 0x10000; ++i) buffer[i] = static_cast<uint8_t>(rng());
  // Labels on every fifth address of the first 4 KB, and some on jp targets.
  SymbolTable many;
  for (unsigned a = 0; a < 0x1000; a += 5)
    many.add("L" + std::to_string(a), static_cast<uint16_t>(a));
  const SymbolTable empty;

  for (int trial = 0; trial < 300; ++trial) {
    const uint32_t top = 0x10000u + (rng() % 0x1000u);
    for (const SymbolTable* table : {static_cast<const SymbolTable*>(nullptr), &empty}) {
      model.setSymbols(table);
      model.setListView(top);
      std::vector<ListingRow> walk(10);
      uint32_t after = 0;
      const std::size_t n = listInstructions(m, top, kRam0Row, walk, &after);
      const std::vector<std::string> l = lines();
      ASSERT_EQ(l.size(), n);
      for (std::size_t r = 0; r < n; ++r) {
        EXPECT_EQ(l[r], formatListingRow(walk[r]));
        EXPECT_EQ(model.hitTest(Pane::List, static_cast<int>(r), 9)->target,
                  static_cast<int32_t>(*listingLineAddress(m, top, kRam0Row, static_cast<int>(r))));
      }
      EXPECT_EQ(model.hitTest(Pane::List, 0, 0)->mode, EditMode::ListAddress);
      EXPECT_EQ(model.scrollRange(Pane::List).pageStep, static_cast<int>(after - top));
    }

    model.setSymbols(&many);
    uint32_t after = 0;
    const std::vector<ListRow> rows = listPaneRows(m, top, kRam0Row, 10, &many, &after);
    ASSERT_EQ(rows.size(), 10u);
    const std::vector<std::string> l = lines();
    std::vector<ListingRow> walk(10);
    listInstructions(m, top, kRam0Row, walk);
    std::size_t next = 0;  // the next line of the walk
    int firstInstruction = -1;
    for (std::size_t r = 0; r < rows.size(); ++r) {
      EXPECT_EQ(l[r], rows[r].text);
      const std::optional<EditField> hit = model.hitTest(Pane::List, static_cast<int>(r), 9);
      if (!rows[r].address) {
        const std::string* name = many.nameAt(static_cast<uint16_t>(walk[next].address));
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(rows[r].text, *name + ":");
        EXPECT_FALSE(hit);
        if (r + 1 < rows.size()) {
          EXPECT_EQ(rows[r + 1].address, walk[next].address);
        }
        continue;
      }
      if (firstInstruction < 0) firstInstruction = static_cast<int>(r);
      EXPECT_EQ(*rows[r].address, walk[next].address);
      EXPECT_EQ(rows[r].text.substr(0, 7), formatListingRow(walk[next]).substr(0, 7));
      const bool labelled = many.nameAt(static_cast<uint16_t>(walk[next].address)) != nullptr;
      EXPECT_EQ(labelled, r > 0 && !rows[r - 1].address);
      ASSERT_TRUE(hit);
      EXPECT_EQ(hit->target, static_cast<int32_t>(walk[next].address));
      after = walk[next].next;
      ++next;
    }
    EXPECT_EQ(model.hitTest(Pane::List, firstInstruction, 1)->mode, EditMode::ListAddress);
    if (firstInstruction != 0) {
      EXPECT_FALSE(model.hitTest(Pane::List, 0, 1));
    }
    EXPECT_EQ(model.scrollRange(Pane::List).pageStep, static_cast<int>(after - top));
  }
}

TEST_F(Labels, GoTo) {
  symbols.addText("print_digit 2345\n");
  model.setSymbols(&symbols);
  std::string error;
  // Hex is a full address; the disassembly takes it unless the hex editor
  // is active.
  model.activate(Group::Reg);
  EXPECT_TRUE(model.goTo("2A010", &error));
  EXPECT_EQ(model.view().listTop, 0x2A010u);
  EXPECT_EQ(model.activeGroup(), Group::List);
  // A label is in the code's segment: segment 1 here.
  m.cpu.segmentLatch = 1;
  EXPECT_TRUE(model.goTo(" print_digit+10 ", &error));
  EXPECT_EQ(model.view().listTop, 0x12355u);
  model.activate(Group::Bin);
  EXPECT_TRUE(model.goTo("print_digit", &error));
  EXPECT_EQ(model.view().binTop, 0x12340u);
  EXPECT_EQ(model.view().listTop, 0x12355u);
  EXPECT_EQ(model.activeGroup(), Group::Bin);
  // Neither hex nor a label: the views stay, the error says why.
  EXPECT_FALSE(model.goTo("print_digits", &error));
  EXPECT_EQ(error, "unknown label 'print_digits'");
  EXPECT_FALSE(model.goTo("", &error));
  EXPECT_FALSE(model.goTo("print_digit*2", &error));
  EXPECT_EQ(model.view().binTop, 0x12340u);
  // Without labels, a name is unknown; hex still works.
  model.setSymbols(nullptr);
  EXPECT_FALSE(model.goTo("print_digit", &error));
  EXPECT_TRUE(model.goTo("&H10020", &error));
  EXPECT_EQ(model.view().binTop, 0x10020u);
}

TEST_F(Labels, GoToShortHexIsInTheCodeSegmentAndAnUnusableAddressIsAnError) {
  std::string error;
  // Up to four digits: the code's segment, for either pane.
  m.cpu.segmentLatch = 1;
  model.activate(Group::List);
  EXPECT_TRUE(model.goTo("4500", &error));
  EXPECT_EQ(model.view().listTop, 0x14500u);
  model.activate(Group::Bin);
  EXPECT_TRUE(model.goTo("&H45", &error));
  EXPECT_EQ(model.view().binTop, 0x10040u);
  // Segment 0 is ROM there: the disassembly shows it, the hex editor
  // refuses it and keeps its view.
  m.cpu.segmentLatch = 0;
  EXPECT_FALSE(model.goTo("4500", &error));
  EXPECT_EQ(error, "04500: not RAM (the hex editor shows RAM)");
  EXPECT_EQ(model.view().binTop, 0x10040u);
  model.activate(Group::List);
  EXPECT_TRUE(model.goTo("4500", &error));
  EXPECT_EQ(model.view().listTop, 0x04500u);
  // Where no memory is, neither pane goes; the views stay.
  for (const Group g : {Group::List, Group::Bin}) {
    model.activate(g);
    EXPECT_FALSE(model.goTo("20000", &error));
    EXPECT_EQ(error, "20000: no memory there");
  }
  EXPECT_EQ(model.view().listTop, 0x04500u);
  EXPECT_EQ(model.view().binTop, 0x10040u);
}

TEST_F(Labels, TabTypesARowOfBytesAndCharacters) {
  // The last row of the view: typing past its end moves the view one row.
  model.setHexView(0x10000);
  std::optional<EditField> f = model.click(Pane::Bin, 9, 7);
  ASSERT_TRUE(f);
  const char16_t* bytes[] = {u"00", u"11", u"22", u"33", u"44", u"55", u"66", u"77",
                             u"88", u"99", u"AA", u"BB", u"CC", u"DD", u"EE", u"F"};
  for (int i = 0; i < 16; ++i) {
    f = model.tab(bytes[i], false);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->mode, EditMode::HexByte);
    EXPECT_EQ(f->target, 0x10091 + i);
    EXPECT_EQ(f->width, 2);
    EXPECT_EQ(f->column, 7 + 3 * ((i + 1) % 16));
    // The field stays on the last row: for the 17th byte the view moved.
    EXPECT_EQ(f->row, 9);
    EXPECT_EQ(model.view().binTop, i < 15 ? 0x10000u : 0x10010u);
  }
  for (int i = 0; i < 16; ++i)
    EXPECT_EQ(ram0(static_cast<uint16_t>(0x90 + i)), i == 15 ? 0x0F : 0x11 * i);
  // Enter still commits and closes, nothing advances.
  EXPECT_TRUE(model.enter(u"5A").closed);
  EXPECT_EQ(ram0(0xA0), 0x5A);
  EXPECT_EQ(model.view().editMode, EditMode::None);
  EXPECT_FALSE(model.tab(u"12", false));
  EXPECT_EQ(ram0(0xA1), 0xFF);

  // Characters on the first row, backward: Shift+Tab above the view moves
  // it up by one row.
  f = model.click(Pane::Bin, 0, 55 + 3);  // 0x10013
  ASSERT_TRUE(f);
  const std::u16string text = u"TARVO";
  for (std::size_t i = 0; i < text.size(); ++i) {
    f = model.tab(text.substr(text.size() - 1 - i, 1), true);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->mode, EditMode::HexCharacter);
    EXPECT_EQ(f->width, 1);
  }
  EXPECT_EQ(f->target, 0x1000E);
  EXPECT_EQ(f->row, 0);
  EXPECT_EQ(f->column, 55 + 14);
  EXPECT_EQ(model.view().binTop, 0x10000u);
  EXPECT_EQ(std::string(&ram0(0x0F), &ram0(0x0F) + 5), "TARVO");

  // The region's ends: the commit happens, no field opens.
  model.setHexView(0x1FFF0);
  ASSERT_TRUE(model.click(Pane::Bin, 0, 7 + 3 * 15));
  EXPECT_FALSE(model.tab(u"42", false));
  EXPECT_EQ(ram0(0xFFFF), 0x42);
  EXPECT_EQ(model.view().editMode, EditMode::None);
  model.setHexView(0x10000);
  ASSERT_TRUE(model.click(Pane::Bin, 0, 7));
  EXPECT_FALSE(model.tab(u"24", true));
  EXPECT_EQ(ram0(0x0000), 0x24);
}

TEST_F(Labels, AssemblerMessageForTheStatusLine) {
  model.setListView(0x10100);
  ASSERT_TRUE(model.click(Pane::List, 0, 7));
  const EnterResult r = model.enter(u"ld $1,$32");
  EXPECT_FALSE(r.closed);
  const AsmResult a = assembleEditLine("ld $1,$32", 0x0100, false);
  ASSERT_FALSE(a.message.empty());
  EXPECT_EQ(r.status, "Error at column " + std::to_string(a.errorPos) + ": " + a.message);
  EXPECT_EQ(r.caret, a.errorPos - 1);
  EXPECT_TRUE(model.enter(u"nop").status.empty());
}

}  // namespace
}  // namespace tarvo
