#include "tools/disasm.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "cpu/code_view.h"
#include "cpu/memory.h"
#include "machine.h"
#include "tools/tables.h"

namespace tarvo {
namespace {

struct Decoded {
  std::string text;  // mnemonic, and operands after one blank when there are any
  unsigned length;   // bytes in byte memory, words in the on-chip ROM
};

class Disasm : public testing::Test {
 protected:
  // Segment-1 RAM, byte-organised.
  void ram(uint16_t at, std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) m.mem.rows[kRam0Row].buffer[at++] = b;
  }
  // On-chip ROM, two bytes per word, in fetch order.
  void rom(uint16_t word, std::initializer_list<uint8_t> bytes) {
    std::size_t offset = static_cast<std::size_t>(word) * 2;
    for (uint8_t b : bytes) m.mem.rows[kRomRow].buffer[offset++] = b;
  }

  // One instruction through the three operations, as a caller runs them.
  Decoded decode(uint32_t full) {
    m.cpu.PC = static_cast<uint16_t>(full);
    m.cpu.UA = m.cpu.segmentLatch = static_cast<uint8_t>(full >> 16);
    CodeView code(m);
    const unsigned index = disasmDecodeIndex(code);
    DisasmText ops;
    disasmOperands(code, index, ops);
    std::string text = disasmMnemonic(index);
    if (!ops.empty()) text += " " + std::string(ops.view());
    return {text, static_cast<uint16_t>(code.pc() - static_cast<uint16_t>(full))};
  }

  Machine m;
};

struct Example {
  std::vector<uint8_t> bytes;
  uint16_t address;
  const char* text;
  unsigned length;
};

// One example of every operand form, in byte memory.
TEST_F(Disasm, EveryOperandFormInByteMemory) {
  const Example examples[] = {
      {{0xF8}, 0x1000, "nop", 1},
      {{0xF4}, 0x1000, "rtn nz", 1},
      {{0xB1, 0x04}, 0x0100, "jr nc,&H0105", 2},
      {{0x30, 0x34, 0x12}, 0x1000, "jp z,&H1234", 3},
      {{0xB7, 0x04}, 0x0100, "jr &H0105", 2},
      {{0x77, 0x34, 0x12}, 0x1000, "cal &H1234", 3},
      {{0x00, 0x03}, 0x1000, "adc $3,$sx", 2},
      {{0x08, 0xE3, 0x0C, 0x0D}, 0x0200, "ad $3,$12,jr &H0210", 4},
      {{0x10, 0x23}, 0x1000, "st $3,($sy)", 2},
      {{0x98, 0x05}, 0x1000, "rodw $5", 2},
      {{0xA9, 0xE3, 0x0C}, 0x1000, "ldw $3,(iz-$12)", 3},
      {{0xE0, 0x03, 0x60}, 0x1000, "stm $3,(ix+$sx),4", 3},
      {{0xA6, 0x03}, 0x1000, "phsw $3", 2},
      {{0xDF, 0x03}, 0x1000, "jp ($3)", 2},
      {{0xBC, 0x03}, 0x1000, "adw (ix+$sx),$3", 2},
      {{0x40, 0x03, 0x41}, 0x1000, "adc $3,&H41", 3},
      {{0x58, 0x41}, 0x1000, "bups &H41", 2},
      {{0x54, 0x00, 0x41}, 0x1000, "ppo &H41", 3},
      {{0x56, 0x60, 0x41}, 0x1000, "pst ua,&H41", 3},
      {{0x60, 0x03, 0x10}, 0x1000, "st $3,(ix+&H10)", 3},
      {{0x7D, 0x83, 0x10}, 0x1000, "ad (iz-&H10),$3", 3},
      {{0x1F, 0x63}, 0x1000, "gst tm,$3", 2},
      {{0x96, 0x03}, 0x1000, "pre ix,$3", 2},
      {{0xD6, 0x23, 0x34, 0x12}, 0x1000, "pre iy,&H1234", 4},
      {{0x50, 0x00, 0x41}, 0x1000, "st &H41,($sx)", 3},
      {{0xD0, 0x40, 0x34, 0x12}, 0x1000, "stw &H1234,($sz)", 4},
      {{0xC2, 0x03, 0xE0}, 0x1000, "ldm $3,$sx,8", 3},
      {{0xCA, 0x03, 0x65}, 0x1000, "adbm $3,&H05,4", 3},
      {{0x51, 0x03, 0x41}, 0x1000, "ld $3,&H41", 3},
      {{0xD1, 0x03, 0x34, 0x12}, 0x1000, "ldw $3,&H1234", 4},
      {{0xE6, 0x03, 0xE0}, 0x1000, "phsm $3,8", 3},
      {{0x15, 0x03}, 0x1000, "psr sx,$3", 2},
      {{0xD5, 0x43, 0x60}, 0x1000, "psrm sz,$3,4", 3},
      {{0x55, 0x25}, 0x1000, "psr sy,5", 2},
  };
  for (const Example& e : examples) {
    SCOPED_TRACE(e.text);
    for (std::size_t i = 0; i < e.bytes.size(); ++i)
      m.mem.rows[kRam0Row].buffer[(e.address + i) & 0xFFFF] = e.bytes[i];
    const Decoded d = decode(0x10000 | e.address);
    EXPECT_EQ(d.text, e.text);
    EXPECT_EQ(d.length, e.length);
  }
}

// The register byte, the count byte and the displacement, in that order.
TEST_F(Disasm, SecondRegisterCountAndJumpOption) {
  ram(0x1000, {0x02, 0x23, 0x07});  // selector 1: nothing more is read
  EXPECT_EQ(decode(0x11000).text, "ld $3,$sy");
  EXPECT_EQ(decode(0x11000).length, 2u);

  ram(0x1000, {0x02, 0xE3, 0x07, 0x85});
  EXPECT_EQ(decode(0x11000).text, "ld $3,$7,jr &H0FFE");
  EXPECT_EQ(decode(0x11000).length, 4u);

  ram(0x1000, {0xE0, 0x61, 0xA5});  // the count byte doubles as register byte
  EXPECT_EQ(decode(0x11000).text, "stm $1,(ix+$5),6");
  EXPECT_EQ(decode(0x11000).length, 3u);

  ram(0x1000, {0xC2, 0x63, 0xA5});
  EXPECT_EQ(decode(0x11000).text, "ldm $3,$5,6");
  EXPECT_EQ(decode(0x11000).length, 3u);

  ram(0x0300, {0xC2, 0x83, 0xE0, 0x05});
  EXPECT_EQ(decode(0x10300).text, "ldm $3,$sx,8,jr &H0308");
  EXPECT_EQ(decode(0x10300).length, 4u);

  ram(0x1000, {0x40, 0x63, 0x41});  // immediate form: selector 3 reads no register byte
  EXPECT_EQ(decode(0x11000).text, "adc $3,&H41");

  // Bits 5-7 of an explicit register byte are ignored.
  ram(0x1000, {0x00, 0x7F, 0xFF});
  EXPECT_EQ(decode(0x11000).text, "adc $31,$31");
}

TEST_F(Disasm, RegisterBanksAndConditionsFromDecodeIndex) {
  ram(0x1000, {0x97, 0x23});
  EXPECT_EQ(decode(0x11000).text, "pre ky,$3");
  ram(0x1000, {0x97, 0x03});
  EXPECT_EQ(decode(0x11000).text, "pre ss,$3");
  ram(0x1000, {0x57, 0x43, 0x41});
  EXPECT_EQ(decode(0x11000).text, "pst ??,&H41");
  ram(0x1000, {0x29, 0x03});
  EXPECT_EQ(decode(0x11000).text, "ld $3,(iz+$sx)");

  const char* cond[] = {"z", "nc", "lz", "uz", "nz", "c", "nlz"};
  for (uint8_t cc = 0; cc < 7; ++cc) {
    ram(0x1000, {static_cast<uint8_t>(0x30 + cc), 0x34, 0x12});
    EXPECT_EQ(decode(0x11000).text, std::string("jp ") + cond[cc] + ",&H1234");
  }
  ram(0x1000, {0x37, 0x34, 0x12});
  EXPECT_EQ(decode(0x11000).text, "jp &H1234");
}

TEST_F(Disasm, UndefinedCodesConsumeOnlyTheOpcode) {
  ram(0x1000, {0x19, 0xFF});
  const Decoded d = decode(0x11000);
  EXPECT_EQ(d.text, "****");
  EXPECT_EQ(d.length, 1u);

  ram(0x1000, {0x1B, 0x25});  // a secondary "****": b1 is not consumed either
  EXPECT_EQ(decode(0x11000).text, "****");
  EXPECT_EQ(decode(0x11000).length, 1u);

  rom(0x40, {0x19, 0xFF, 0xF8, 0xFF});
  EXPECT_EQ(decode(0x40).text, "****");
  EXPECT_EQ(decode(0x40).length, 1u);  // opcode and the filler of its word
}

TEST_F(Disasm, RelativeTargetsWrapAndCountFromTheDisplacement) {
  ram(0x2000, {0xB7, 0x80});
  EXPECT_EQ(decode(0x12000).text, "jr &H2001");
  ram(0xFFFD, {0xB7, 0x05});
  EXPECT_EQ(decode(0x1FFFD).text, "jr &H0003");
  ram(0x0000, {0xB7, 0x85});
  EXPECT_EQ(decode(0x10000).text, "jr &HFFFC");
  // The last byte of the segment: the displacement comes from address 0.
  ram(0xFFFF, {0xB7});
  ram(0x0000, {0x03});
  const Decoded d = decode(0x1FFFF);
  EXPECT_EQ(d.text, "jr &H0003");
  EXPECT_EQ(d.length, 2u);
}

TEST_F(Disasm, WordOrganisedRomFillers) {
  rom(0x010, {0x37, 0x34, 0xEE, 0x12});  // filler between the address halves
  EXPECT_EQ(decode(0x010).text, "jp &H1234");
  EXPECT_EQ(decode(0x010).length, 2u);

  rom(0x100, {0xB7, 0x04});  // displacement is the word's second byte, base = word
  EXPECT_EQ(decode(0x100).text, "jr &H0104");
  EXPECT_EQ(decode(0x100).length, 1u);

  rom(0x200, {0x08, 0x83, 0xEE, 0x05});  // filler before the displacement
  EXPECT_EQ(decode(0x200).text, "ad $3,$sx,jr &H0206");
  EXPECT_EQ(decode(0x200).length, 2u);

  rom(0x200, {0x08, 0xE3, 0x0C, 0x85});  // register byte, then displacement: no filler
  EXPECT_EQ(decode(0x200).text, "ad $3,$12,jr &H01FC");
  EXPECT_EQ(decode(0x200).length, 2u);

  rom(0x300, {0xF8, 0xEE});
  EXPECT_EQ(decode(0x300).text, "nop");
  EXPECT_EQ(decode(0x300).length, 1u);

  rom(0x300, {0xE0, 0x61, 0xA5, 0xEE});  // three bytes take two words
  EXPECT_EQ(decode(0x300).text, "stm $1,(ix+$5),6");
  EXPECT_EQ(decode(0x300).length, 2u);

  rom(0x300, {0xD1, 0x03, 0x34, 0x12});  // plain 16-bit immediate: no filler
  EXPECT_EQ(decode(0x300).text, "ldw $3,&H1234");
}

// The disassembler reads what the processor would fetch: bank switching,
// and segment 0 while an interrupt is in service.
TEST_F(Disasm, SeesMemoryThroughTheProcessorsFetch) {
  ram(0x2000, {0xF9});
  m.mem.rows[kRom1Row].buffer[0x2000] = 0xF8;
  m.mem.rows[kRom2Row].buffer[0x2000] = 0xFA;
  EXPECT_EQ(decode(0x12000).text, "clt");
  m.cpu.inService = 0x04;
  EXPECT_EQ(decode(0x12000).text, "nop");
  m.cpu.inService = 0;
  m.mem.bankA() = 0x04;  // lower half of segment 1 from rom2
  EXPECT_EQ(decode(0x12000).text, "fst");
}

// Every opcode with a spread of following bytes, in both organisations:
// nothing beyond the four prefetched bytes is consumed, word-memory
// instructions end on a word boundary, and only forms 0 and 1 are blank.
TEST_F(Disasm, AllOpcodesStayWithinThePrefetch) {
  const uint8_t follow[] = {0x00, 0x23, 0x45, 0x60, 0x7F, 0x80, 0xA3, 0xC5, 0xE3, 0xFF};
  for (int op = 0; op < 256; ++op) {
    for (uint8_t b1 : follow) {
      for (bool word : {false, true}) {
        SCOPED_TRACE(testing::Message() << "op " << op << " b1 " << int(b1) << " word " << word);
        if (word) {
          rom(0x20, {static_cast<uint8_t>(op), b1, 0xE5, 0x85});
        } else {
          ram(0x1000, {static_cast<uint8_t>(op), b1, 0xE5, 0x85});
        }
        const uint32_t at = word ? 0x20 : 0x11000;
        m.cpu.PC = static_cast<uint16_t>(at);
        m.cpu.UA = m.cpu.segmentLatch = static_cast<uint8_t>(at >> 16);
        CodeView code(m);
        const unsigned index = disasmDecodeIndex(code);
        const DisasmRecord& r = disasmRecord(index);
        EXPECT_FALSE(isRedirect(r));
        DisasmText ops;
        disasmOperands(code, index, ops);
        const int fetchPos = code.state().fetchPos;
        EXPECT_LE(fetchPos, 4);
        EXPECT_GE(fetchPos, 1);
        EXPECT_EQ(ops.empty(), r.operand <= 1);
        const unsigned moved = static_cast<uint16_t>(code.pc() - at);
        if (word) {
          EXPECT_EQ(fetchPos % 2, 0);
          EXPECT_EQ(moved, static_cast<unsigned>(fetchPos / 2));
        } else {
          EXPECT_EQ(moved, static_cast<unsigned>(fetchPos));
        }
      }
    }
  }
}

class Listing : public Disasm {
 protected:
  std::vector<ListingRow> walk(uint32_t top, int region, std::size_t count, uint32_t* after) {
    std::vector<ListingRow> rows(count);
    rows.resize(listInstructions(m, top, region, rows, after));
    return rows;
  }
};

TEST_F(Listing, RowsAsThePaneDrawsThemAndStateRestored) {
  ram(0x1000, {0x02, 0xE3, 0x07, 0x85, 0xF8, 0x19, 0x56, 0x60, 0x41});
  m.cpu.PC = 0x4321;
  m.cpu.UA = 0x9C;
  m.cpu.segmentLatch = 0x02;
  m.cpu.cycles = 77;
  m.cpu.fetchPos = 3;
  m.cpu.wordFetch = 1;
  const ProcessorState before = m.cpu;

  uint32_t after = 0;
  const auto rows = walk(0x11000, kRam0Row, 4, &after);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(formatListingRow(rows[0]), "11000: ld    $3,$7,jr &H0FFE");
  EXPECT_EQ(formatListingRow(rows[1]), "11004: nop");
  EXPECT_EQ(formatListingRow(rows[2]), "11005: ****");
  EXPECT_EQ(formatListingRow(rows[3]), "11006: pst   ua,&H41");
  EXPECT_EQ(rows[0].next, 0x11004u);
  EXPECT_EQ(rows[3].next, 0x11009u);
  EXPECT_EQ(after, 0x11009u);

  EXPECT_EQ(m.cpu.PC, before.PC);
  EXPECT_EQ(m.cpu.UA, before.UA);
  EXPECT_EQ(m.cpu.segmentLatch, before.segmentLatch);
  EXPECT_EQ(m.cpu.cycles, before.cycles);
  EXPECT_EQ(m.cpu.fetchPos, before.fetchPos);
  EXPECT_EQ(m.cpu.wordFetch, before.wordFetch);
}

TEST_F(Listing, StopsAtTheRegionEnd) {
  rom(0xBFE, {0xF8, 0xFF, 0xF9, 0xFF});
  uint32_t after = 0;
  const auto rows = walk(0xBFE, kRomRow, 8, &after);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(formatListingRow(rows[0]), "00BFE: nop");
  EXPECT_EQ(formatListingRow(rows[1]), "00BFF: clt");
  EXPECT_EQ(after, 0xC00u);

  EXPECT_EQ(walk(0x20000, kRam0Row, 8, &after).size(), 0u);  // top outside the region
  EXPECT_EQ(after, 0x20000u);
}

// The next line address goes through the segment rule: below the
// common-area boundary it belongs to segment 0.
TEST_F(Listing, NextAddressFollowsTheCommonArea) {
  ram(0xFFFF, {0xF8});
  ram(0x0000, {0xF9});
  uint32_t after = 0;
  auto rows = walk(0x1FFFF, kRam0Row, 4, &after);
  ASSERT_EQ(rows.size(), 4u);  // wraps inside segment 1
  EXPECT_EQ(rows[1].address, 0x10000u);
  EXPECT_EQ(formatListingRow(rows[1]), "10000: clt");

  m.cpu.IB = 0x40;  // 0x0000-0x3FFF is common: segment 0
  rows = walk(0x1FFFF, kRam0Row, 4, &after);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(after, 0x00000u);
}

TEST_F(Listing, LineAddressForTheInstructionEditor) {
  ram(0x1000, {0x02, 0xE3, 0x07, 0x85, 0xF8, 0x19});
  EXPECT_EQ(listingLineAddress(m, 0x11000, kRam0Row, 0), 0x11000u);
  EXPECT_EQ(listingLineAddress(m, 0x11000, kRam0Row, 2), 0x11005u);
  // Starting mid-instruction: E3 07 85 reads as a three-byte stim.
  EXPECT_EQ(listingLineAddress(m, 0x11001, kRam0Row, 1), 0x11004u);

  rom(0xBFE, {0xF8, 0xFF, 0xF9, 0xFF});
  EXPECT_EQ(listingLineAddress(m, 0xBFE, kRomRow, 1), 0xBFFu);
  EXPECT_EQ(listingLineAddress(m, 0xBFE, kRomRow, 2), std::nullopt);  // line not drawn
  EXPECT_EQ(listingLineAddress(m, 0xBFE, kRomRow, 5), std::nullopt);
  EXPECT_EQ(listingLineAddress(m, 0xBFE, -1, 0), std::nullopt);
  EXPECT_EQ(m.cpu.PC, 0);
}

}  // namespace
}  // namespace tarvo
