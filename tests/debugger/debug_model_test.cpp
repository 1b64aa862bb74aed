#include "debugger/debug_model.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "cpu/exec.h"
#include "cpu/memory.h"
#include "debugger/session.h"
#include "frontpanel/run_loop.h"
#include "machine.h"

namespace tarvo {
namespace {

// Pane sizes of the window with a 7 x 13 pixel cell.
class Debugger : public testing::Test {
 protected:
  Debugger() {
    model.setPaneSize(Pane::List, 10, 37);
    model.setPaneSize(Pane::Reg, 10, 13);
    model.setPaneSize(Pane::Main, 2, 81);
    model.setPaneSize(Pane::Bin, 10, 81);
  }

  uint8_t& ram0(uint16_t a) { return m.mem.rows[kRam0Row].buffer[a]; }
  void ram0(uint16_t a, std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) ram0(a++) = b;
  }
  uint8_t* romWord(uint16_t word) { return &m.mem.rows[kRomRow].buffer[2u * word]; }

  std::vector<std::string> lines(Pane p) {
    std::vector<std::string> out;
    for (const PaneLine& l : model.paint(p).lines) out.push_back(lineText(l));
    return out;
  }

  // Opens the field under a cell and commits text with Enter.
  EnterResult edit(Pane p, int row, int col, std::u16string_view text) {
    EXPECT_TRUE(model.click(p, row, col)) << "no field at " << row << "," << col;
    return model.enter(text);
  }

  Machine m;
  RunControl run;
  DebugModel model{m, run};
};

TEST_F(Debugger, RegisterPaneFlagsAndValues) {
  m.cpu.F = 0x00;
  EXPECT_EQ(lines(Pane::Reg)[0], "F:Z NCLZ UZ ");
  m.cpu.F = 0xF0;
  const PaneText t = model.paint(Pane::Reg);
  EXPECT_EQ(lineText(t.lines[0]), "F:NZC NLZNUZ");
  EXPECT_EQ(t.lines[0][2].shade, Shade::Silver);  // the carry field
  EXPECT_EQ(t.lines[0][3].shade, Shade::White);

  m.cpu.PC = 0x0A1F;
  m.cpu.SX = 0xE5;
  m.cpu.SZ = 0;
  std::vector<std::string> l = lines(Pane::Reg);
  ASSERT_EQ(l.size(), 10u);  // the flag line and nine registers
  EXPECT_EQ(l[1], "PC: 0A1F");
  EXPECT_EQ(l[7], "SX: 05");
  EXPECT_EQ(l[9], "SZ: 00");

  model.view().regTop = 4;
  m.cpu.IE = 0xC3;
  l = lines(Pane::Reg);
  EXPECT_EQ(l[1], "IY: 0000");
  EXPECT_EQ(l[9], "IE: C3");
  const ScrollRange r = model.scrollRange(Pane::Reg);
  EXPECT_EQ(r.maximum, 4);
  EXPECT_EQ(r.pageStep, 9);
}

TEST_F(Debugger, RegisterFileAndHexRows) {
  for (int i = 0; i < 32; ++i) m.cpu.R[i] = static_cast<uint8_t>(i * 3);
  const std::vector<std::string> main = lines(Pane::Main);
  ASSERT_EQ(main.size(), 2u);
  EXPECT_EQ(main[0], "$00..$15: 00 03 06 09  0C 0F 12 15  18 1B 1E 21  24 27 2A 2D");
  EXPECT_EQ(main[1], "$16..$31: 30 33 36 39  3C 3F 42 45  48 4B 4E 51  54 57 5A 5D");

  ram0(0x0000, {0x41, 0x1F, 0x7F, 0x7E, 0x20, 0x00});
  const std::vector<std::string> hex = lines(Pane::Bin);
  EXPECT_EQ(hex[0], "10000: 41 1F 7F 7E 20 00 FF FF FF FF FF FF FF FF FF FF A..~ ...........");
  EXPECT_EQ(hex[1].substr(0, 6), "10010:");

  // Near the end of the region the pane draws fewer rows; the bar stays at
  // its maximum.
  model.setHexView(0x1FFC0);
  EXPECT_EQ(lines(Pane::Bin).size(), 4u);
  const ScrollRange r = model.scrollRange(Pane::Bin);
  EXPECT_EQ(r.maximum, 0x1000 - 10);
  EXPECT_EQ(r.position, r.maximum);
}

TEST_F(Debugger, DisassemblyRowsAndPageStep) {
  ram0(0x0100, {0x02, 0x23, 0xF8, 0x37, 0x34, 0x12});
  m.cpu.PC = 0x4321;
  m.cpu.UA = 0x05;
  m.cpu.segmentLatch = 0x02;
  model.setListView(0x10100);
  const std::vector<std::string> l = lines(Pane::List);
  ASSERT_EQ(l.size(), 10u);
  EXPECT_EQ(l[0], "10100: ld    $3,$sy");
  EXPECT_EQ(l[1], "10102: nop");
  EXPECT_EQ(l[2], "10103: jp    &H1234");
  EXPECT_EQ(l[3].substr(0, 7), "10106: ");
  // Decoding left the paused processor as it was.
  EXPECT_EQ(m.cpu.PC, 0x4321);
  EXPECT_EQ(m.cpu.UA, 0x05);
  EXPECT_EQ(m.cpu.segmentLatch, 0x02);

  // The rest reads 0xFF, trp, one byte each: ten lines cover 2+1+3+7 bytes.
  ScrollRange r = model.scrollRange(Pane::List);
  EXPECT_EQ(r.pageStep, 13);
  EXPECT_EQ(r.position, 0x0100);
  EXPECT_EQ(r.maximum, 0x10000 - 10);

  // A line step moves by one byte, into the middle of the first instruction.
  EXPECT_TRUE(model.scrollKey(Pane::List, ScrollKey::Down));
  EXPECT_EQ(model.view().listTop, 0x10101u);
  EXPECT_TRUE(model.scrollKey(Pane::List, ScrollKey::PageDown));
  EXPECT_EQ(model.view().listTop, 0x1010Eu);
  EXPECT_TRUE(model.scrollKey(Pane::List, ScrollKey::Home));
  EXPECT_EQ(model.view().listTop, 0x10000u);
  EXPECT_FALSE(model.scrollKey(Pane::List, ScrollKey::Up));  // already at the top
  EXPECT_TRUE(model.scrollKey(Pane::List, ScrollKey::End));
  EXPECT_EQ(model.view().listTop, 0x1FFF6u);
  // In segment 2 the walk leaves the region after 0x2FFFF: the last page
  // keeps the page step it had.
  model.setListView(0x2FFFC);
  EXPECT_EQ(lines(Pane::List).size(), 4u);
  EXPECT_EQ(model.scrollRange(Pane::List).pageStep, 13);
}

TEST_F(Debugger, ViewSettersAndTheirFallbacks) {
  EXPECT_EQ(model.view().listTop, 0u);
  EXPECT_EQ(model.view().binTop, 0x10000u);
  EXPECT_EQ(model.view().binRegion, kRam0Row);

  struct {
    uint32_t address, top;
    int region;
  } const list[] = {{0x2A001, 0x2A001, kRam1Row}, {0x00C05, 0, kRomRow}, {0x00C11, 0, kRomRow},
                    {0x00C12, 0x00C12, kRom1Row}, {0x70010, 0, kRomRow}, {0x20000, 0, kRomRow},
                    {0x00BFF, 0x00BFF, kRomRow}};
  for (const auto& c : list) {
    model.setListView(c.address);
    EXPECT_EQ(model.view().listTop, c.top) << std::hex << c.address;
    EXPECT_EQ(model.view().listRegion, c.region) << std::hex << c.address;
  }
  const struct {
    uint32_t address, top;
    int region;
  } hex[] = {{0x2A345, 0x2A340, kRam1Row}, {0x1234F, 0x12340, kRam0Row},
             {0x00500, 0x10000, kRam0Row}, {0x00C10, 0x10000, kRam0Row},
             {0x25000, 0x10000, kRam0Row}, {0xB0000, 0x10000, kRam0Row}};
  for (const auto& c : hex) {
    model.setHexView(c.address);
    EXPECT_EQ(model.view().binTop, c.top) << std::hex << c.address;
    EXPECT_EQ(model.view().binRegion, c.region) << std::hex << c.address;
  }
}

TEST_F(Debugger, ShowAndHideDriveTheRunControl) {
  run.traceCount = 5;
  run.breakpointAddress = 0x100;
  m.cpu.PC = 0x2000;
  m.cpu.segmentLatch = 1;
  model.show();
  EXPECT_EQ(run.stopFlag, 1);
  EXPECT_EQ(run.traceCount, -1);
  EXPECT_EQ(run.breakpointAddress, -1);
  EXPECT_EQ(model.view().listTop, 0x12000u);
  EXPECT_EQ(model.activeGroup(), Group::List);

  // Below the common-area boundary the current instruction is in segment 0.
  m.cpu.IB = 0x80;
  model.show();
  EXPECT_EQ(model.view().listTop, 0x02000u);
  EXPECT_EQ(model.view().listRegion, kRom1Row);

  // Inside an interrupt routine code comes from segment 0, whatever the
  // latch says: the view shows the instruction that runs next, the one
  // that the debugger's breakpoints and steps see.
  m.cpu.IB = 0x00;
  m.cpu.PC = 0x9000;
  m.cpu.inService = 0x04;
  model.show();
  EXPECT_EQ(model.view().listTop, 0x09000u);
  EXPECT_EQ(model.view().listTop, DebugSession::fetchAddress(m.cpu));
  m.cpu.inService = 0;

  model.click(Pane::Bin, 0, 10);
  model.hide();
  EXPECT_EQ(model.view().editMode, EditMode::None);
  EXPECT_EQ(run.stopFlag, 0);
  EXPECT_EQ(run.resumeDelay, kResumeDelayTicks);
}

TEST_F(Debugger, HitTestOpensFieldsOnlyOverValues) {
  ram0(0x0000, {0xF8, 0x02, 0x23, 0xF8});
  model.setListView(0x10000);
  EXPECT_EQ(model.hitTest(Pane::List, 0, 4)->mode, EditMode::ListAddress);
  EXPECT_FALSE(model.hitTest(Pane::List, 0, 5));
  EXPECT_FALSE(model.hitTest(Pane::List, 0, 6));
  EXPECT_FALSE(model.hitTest(Pane::List, 1, 2));  // only the first row's address
  std::optional<EditField> f = model.hitTest(Pane::List, 2, 20);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->mode, EditMode::ListInstruction);
  EXPECT_EQ(f->target, 0x10003);
  EXPECT_EQ(f->column, 7);
  EXPECT_EQ(f->width, 30);
  EXPECT_FALSE(f->upperCase);
  EXPECT_FALSE(model.hitTest(Pane::List, 10, 8));  // below the last row
  // Rows past the end of the region are blank and open nothing.
  model.setListView(0x2FFFE);
  EXPECT_TRUE(model.hitTest(Pane::List, 1, 8));
  EXPECT_FALSE(model.hitTest(Pane::List, 2, 8));

  f = model.hitTest(Pane::Reg, 7, 5);  // SX
  ASSERT_TRUE(f);
  EXPECT_EQ(f->target, 6);
  EXPECT_EQ(f->width, 2);
  EXPECT_FALSE(model.hitTest(Pane::Reg, 7, 6));  // beyond a 2-digit value
  EXPECT_TRUE(model.hitTest(Pane::Reg, 1, 7));   // PC has four digits
  EXPECT_FALSE(model.hitTest(Pane::Reg, 1, 3));

  // Register file: four groups of four bytes, blanks between them.
  f = model.hitTest(Pane::Main, 1, 24);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->target, 16 + 4);
  EXPECT_EQ(f->column, 23);
  EXPECT_FALSE(model.hitTest(Pane::Main, 0, 21));
  EXPECT_FALSE(model.hitTest(Pane::Main, 0, 22));
  EXPECT_FALSE(model.hitTest(Pane::Main, 0, 9));
  EXPECT_EQ(model.hitTest(Pane::Main, 0, 58)->target, 15);
  EXPECT_FALSE(model.hitTest(Pane::Main, 0, 60));

  f = model.hitTest(Pane::Bin, 2, 53);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->mode, EditMode::HexByte);
  EXPECT_EQ(f->target, 0x1002F);
  EXPECT_EQ(f->column, 52);
  EXPECT_FALSE(model.hitTest(Pane::Bin, 2, 9));   // blank between bytes
  EXPECT_FALSE(model.hitTest(Pane::Bin, 2, 54));  // blank before the characters
  f = model.hitTest(Pane::Bin, 1, 70);
  EXPECT_EQ(f->mode, EditMode::HexCharacter);
  EXPECT_EQ(f->target, 0x1001F);
  EXPECT_EQ(model.hitTest(Pane::Bin, 0, 4)->mode, EditMode::HexAddress);
  EXPECT_FALSE(model.hitTest(Pane::Bin, 0, 71));
  model.setHexView(0x1FFF0);  // one row left in the region
  EXPECT_TRUE(model.hitTest(Pane::Bin, 0, 7));
  EXPECT_FALSE(model.hitTest(Pane::Bin, 1, 7));
  EXPECT_FALSE(model.hitTest(Pane::Bin, 1, 60));
}

TEST_F(Debugger, FlagClicksToggleAndBlockScrolling) {
  m.cpu.F = 0x08;
  const int cols[] = {2, 3, 4, 5, 6, 8, 9, 11};
  const uint8_t bits[] = {0x80, 0x80, 0x40, 0x40, 0x20, 0x20, 0x10, 0x10};
  for (int i = 0; i < 8; ++i) {
    const uint8_t before = m.cpu.F;
    model.click(Pane::Reg, 0, cols[i]);
    EXPECT_EQ(m.cpu.F, before ^ bits[i]) << "column " << cols[i];
  }
  EXPECT_EQ(m.cpu.F, 0x08);
  model.click(Pane::Reg, 0, 12);
  model.click(Pane::Reg, 0, 1);
  EXPECT_EQ(m.cpu.F, 0x08);

  model.click(Pane::Reg, 0, 2);
  EXPECT_EQ(model.view().editMode, EditMode::FlagToggled);
  EXPECT_FALSE(model.scrollKey(Pane::Reg, ScrollKey::Down));
  EXPECT_FALSE(model.enter(u"").closed);
  model.escape();
  EXPECT_TRUE(model.scrollKey(Pane::Reg, ScrollKey::Down));
  EXPECT_EQ(model.view().regTop, 1);
}

TEST_F(Debugger, CharacterFilter) {
  TypedText t = model.typed(EditBox::Bin, {u"1g", 2, 0});  // not in a filtered field
  EXPECT_EQ(t.text, u"1g");
  model.click(Pane::Bin, 0, 8);
  t = model.typed(EditBox::Bin, {u"1g", 2, 0});
  EXPECT_EQ(t.text, u"1");
  EXPECT_EQ(t.caret, 1);
  t = model.typed(EditBox::Bin, {t.text + u"2", 2, 0});
  EXPECT_EQ(t.text, u"12");
  EXPECT_EQ(t.caret, 2);

  t = filterDigits({u"1x2y3", 5, 0}, 16);  // pasted at the end
  EXPECT_EQ(t.text, u"123");
  EXPECT_EQ(t.caret, 3);
  t = filterDigits({u"a1x2y3b", 1, 5}, 16);  // selection "1x2y3"
  EXPECT_EQ(t.text, u"a123b");
  EXPECT_EQ(t.caret, 1);
  EXPECT_EQ(t.selection, 3);
  t = filterDigits({u"zz9", 3, 0}, 10);
  EXPECT_EQ(t.text, u"9");
  EXPECT_EQ(t.caret, 1);

  // Filtered boxes take letters in upper case; trace takes decimals only.
  EXPECT_EQ(model.typed(EditBox::Bp, {u"fe", 2, 0}).text, u"FE");
  EXPECT_EQ(model.typed(EditBox::Trace, {u"1f2", 3, 0}).text, u"12");
  model.setListView(0x10000);
  model.click(Pane::List, 0, 9);
  EXPECT_EQ(model.typed(EditBox::List, {u"ld $1,($sx)", 11, 0}).text, u"ld $1,($sx)");
}

TEST_F(Debugger, NumberReadings) {
  EXPECT_EQ(readTraceCount(u""), 0);
  EXPECT_EQ(readTraceCount(u"  42 "), 42);
  EXPECT_EQ(readTraceCount(u"99999999999"), 999999999);
  EXPECT_EQ(readTraceCount(u"2147483647"), 2147483647);
  EXPECT_LT(readTraceCount(u"2147483648"), 0);
  EXPECT_EQ(readBreakpointAddress(u""), 0);
  EXPECT_EQ(readBreakpointAddress(u"123456789"), 0x12345678);
  EXPECT_EQ(readBreakpointAddress(u" 0fff0 "), 0xFFF0);
  EXPECT_EQ(readTypedHex(u"2A345"), 0x2A345u);
}

TEST_F(Debugger, EnterInEveryField) {
  model.setListView(0x10000);
  EXPECT_TRUE(edit(Pane::List, 0, 0, u"2A000").closed);
  EXPECT_EQ(model.view().listTop, 0x2A000u);
  EXPECT_EQ(model.view().listRegion, kRam1Row);
  edit(Pane::List, 0, 0, u"00C05");
  EXPECT_EQ(model.view().listTop, 0u);
  EXPECT_EQ(model.view().listRegion, kRomRow);

  m.cpu.IX = 0x1234;
  edit(Pane::Reg, 4, 4, u"");  // IX
  EXPECT_EQ(m.cpu.IX, 0);
  edit(Pane::Reg, 1, 4, u"BEEF");
  EXPECT_EQ(m.cpu.PC, 0xBEEF);
  edit(Pane::Reg, 7, 4, u"FF");
  EXPECT_EQ(m.cpu.SX, 0x1F);
  model.view().regTop = 4;
  edit(Pane::Reg, 6, 4, u"03");  // UA
  EXPECT_EQ(m.cpu.UA, 0x03);
  EXPECT_EQ(m.cpu.segmentLatch, 0x03);

  edit(Pane::Main, 1, 16, u"A5");  // byte 2 of the second half
  EXPECT_EQ(m.cpu.R[18], 0xA5);

  edit(Pane::Bin, 0, 0, u"2A345");
  EXPECT_EQ(model.view().binTop, 0x2A340u);
  edit(Pane::Bin, 0, 10, u"5A");
  EXPECT_EQ(m.mem.rows[kRam1Row].buffer[0x2341], 0x5A);
  EXPECT_EQ(lines(Pane::Bin)[0].substr(7, 8), "FF 5A FF");
  edit(Pane::Bin, 1, 55, u"q");
  EXPECT_EQ(m.mem.rows[kRam1Row].buffer[0x2350], 'q');
  edit(Pane::Bin, 1, 55, u"");  // an empty character box writes nothing
  EXPECT_EQ(m.mem.rows[kRam1Row].buffer[0x2350], 'q');
  EXPECT_EQ(model.view().editMode, EditMode::None);

  // Shown through bank switching from ROM: the write reaches the RAM
  // beneath, and the pane still shows the ROM byte.
  m.mem.bankA() = 0x04;  // segment 1, lower half
  model.setHexView(0x10000);
  edit(Pane::Bin, 0, 7, u"12");
  EXPECT_EQ(ram0(0), 0x12);
  EXPECT_EQ(lines(Pane::Bin)[0].substr(7, 2), "FF");

  model.click(Pane::Reg, 1, 4);
  model.escape();
  EXPECT_EQ(model.view().editMode, EditMode::None);
  EXPECT_FALSE(model.enter(u"12").closed);  // nothing open
}

TEST_F(Debugger, AssembleAndStore) {
  model.setListView(0x10100);
  EXPECT_TRUE(edit(Pane::List, 0, 7, u"nop").closed);
  EXPECT_EQ(ram0(0x0100), 0xF8);
  EXPECT_EQ(lines(Pane::List)[0], "10100: nop");

  // An error leaves the field open with the caret at the fault.
  EnterResult r = edit(Pane::List, 1, 7, u"ld $1,$32");
  EXPECT_FALSE(r.closed);
  EXPECT_EQ(r.caret, 9);
  EXPECT_EQ(model.view().editMode, EditMode::ListInstruction);
  EXPECT_EQ(ram0(0x0101), 0xFF);
  EXPECT_TRUE(model.enter(u"ld $1,$2").closed);
  EXPECT_EQ(ram0(0x0101), 0x02);
  EXPECT_EQ(ram0(0x0102), 0x61);
  EXPECT_EQ(ram0(0x0103), 0x02);
  // Empty and comment-only lines write nothing and close the field.
  EXPECT_TRUE(edit(Pane::List, 0, 7, u"; note").closed);
  EXPECT_EQ(ram0(0x0100), 0xF8);

  // ROM is patched in memory too.
  model.setListView(0x02000);
  edit(Pane::List, 0, 7, u"rtn");
  EXPECT_EQ(m.mem.rows[kRom1Row].buffer[0x2000], 0xF7);

  // Word-organised on-chip ROM: stored word by word.
  const uint16_t pc = m.cpu.PC;
  model.setListView(0x00010);
  edit(Pane::List, 0, 7, u"jp &h1234");
  EXPECT_EQ(std::vector<uint8_t>(romWord(0x10), romWord(0x10) + 4),
            (std::vector<uint8_t>{0x37, 0x34, 0x00, 0x12}));
  EXPECT_EQ(lines(Pane::List)[0], "00010: jp    &H1234");
  EXPECT_EQ(lines(Pane::List)[1].substr(0, 6), "00012:");
  edit(Pane::List, 1, 7, u"ld $1,$sy");  // two bytes: one word
  EXPECT_EQ(romWord(0x12)[0], 0x02);
  EXPECT_EQ(romWord(0x12)[1], 0x21);
  EXPECT_EQ(romWord(0x13)[0], 0xFF);
  edit(Pane::List, 1, 7, u"ld $1,200");  // three bytes: the last word ends in 0
  EXPECT_EQ(std::vector<uint8_t>(romWord(0x12), romWord(0x12) + 4),
            (std::vector<uint8_t>{0x42, 0x01, 0xC8, 0x00}));
  EXPECT_EQ(m.cpu.PC, pc);

  // Listed from segment 1 while an interrupt is in service, the code shown
  // is the word ROM's; the bytes still land only at the line's own byte.
  m.cpu.inService = 0x01;
  ram0(0x0011) = 0xEE;
  model.setListView(0x10010);
  edit(Pane::List, 0, 7, u"nop");
  EXPECT_EQ(ram0(0x0010), 0xF8);
  EXPECT_EQ(ram0(0x0011), 0xEE);
}

TEST_F(Debugger, StepTraceAndBreakpointButtons) {
  m.mem.rows[kRom1Row].buffer[0x2000] = 0xF8;  // nop
  m.cpu.PC = 0x2000;
  m.timers.cycleTimer = 777;
  model.show();
  model.click(Pane::Reg, 1, 4);
  model.singleStep();
  EXPECT_EQ(m.cpu.PC, 0x2001);
  EXPECT_EQ(model.view().listTop, 0x02001u);
  EXPECT_EQ(model.view().editMode, EditMode::None);
  EXPECT_EQ(model.activeGroup(), Group::Step);
  EXPECT_EQ(m.timers.cycleTimer, 777);  // only the processor stepped

  EXPECT_FALSE(model.traceRun(u""));
  EXPECT_EQ(model.activeGroup(), Group::Trace);
  EXPECT_FALSE(model.traceRun(u"2147483648"));
  EXPECT_EQ(run.traceCount, -1);
  run.breakpointAddress = 0x10;
  EXPECT_TRUE(model.traceRun(u"99999999999"));
  EXPECT_EQ(run.traceCount, 999999999);
  EXPECT_EQ(run.breakpointAddress, -1);

  EXPECT_TRUE(model.breakpointRun(u""));
  EXPECT_EQ(model.activeGroup(), Group::Bp);
  EXPECT_EQ(run.breakpointAddress, 0);
  EXPECT_EQ(run.traceCount, -1);
  model.breakpointRun(u"123456789");
  EXPECT_EQ(run.breakpointAddress, 0x12345678);
}

// The buttons with the run loop: after the resume delay a trace of 1 runs
// one step, and a breakpoint at the current PC stops only on the way back.
TEST_F(Debugger, RunsStopAndShowTheDebuggerAgain) {
  struct NoMessages : Messages {
    void loadFailed(const std::string&) override {}
    void saveFailed(const std::string&) override {}
  } messages;
  RunLoop loop(m, messages, "/nonexistent");
  // The window's debugger arms the window's run loop.
  DebugModel model{m, loop.run};
  int shown = 0;
  loop.showDebugger = [&] {
    ++shown;
    model.show();
  };
  m.timers.cyclesPerTick = 9100;
  // nop; nop; jr &H2000
  auto& rom1 = m.mem.rows[kRom1Row].buffer;
  rom1[0x2000] = 0xF8;
  rom1[0x2001] = 0xF8;
  rom1[0x2002] = 0xB7;
  rom1[0x2003] = 0x83;
  m.cpu.PC = 0x2000;
  model.show();

  ASSERT_TRUE(model.traceRun(u"1"));
  model.hide();
  for (int i = 0; i < kResumeDelayTicks; ++i) loop.runTick();
  EXPECT_EQ(loop.stepsRun(), 0u);
  loop.runTick();
  EXPECT_EQ(loop.stepsRun(), 1u);
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(m.cpu.PC, 0x2001);
  EXPECT_EQ(model.view().listTop, 0x02001u);

  m.cpu.PC = 0x2000;
  ASSERT_TRUE(model.breakpointRun(u"2000"));
  model.hide();
  for (int i = 0; i <= kResumeDelayTicks; ++i) loop.runTick();
  EXPECT_EQ(loop.stepsRun(), 4u);
  EXPECT_EQ(shown, 2);
  EXPECT_EQ(m.cpu.PC, 0x2000);
  EXPECT_EQ(loop.run.stopFlag, 1);
  EXPECT_EQ(loop.run.breakpointAddress, -1);
}

}  // namespace
}  // namespace tarvo
