// Disassembler: turns the instruction at the processor's PC into a mnemonic
// and an operand text, reading the bytes through the processor's own
// instruction fetch so that it sees memory exactly as execution would
// (segments, bank switching, the common area, word-organised ROM).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tarvo {

struct Machine;
class CodeView;

// A short text built in place; operand texts never come near the capacity
// (the longest is "$31,$31,jr &HFFFF"), anything beyond it is cut off.
class DisasmText {
 public:
  static constexpr std::size_t kCapacity = 31;

  void clear() {
    len_ = 0;
    buf_[0] = 0;
  }
  void append(char ch);
  void append(const char* s);
  void appendDecimal(unsigned value);
  void appendHex(unsigned value, int digits);  // upper case, zero-padded

  bool empty() const { return len_ == 0; }
  std::size_t size() const { return len_; }
  const char* c_str() const { return buf_; }
  std::string_view view() const { return {buf_, len_}; }

 private:
  char buf_[kCapacity + 1] = {};
  std::size_t len_ = 0;
};

// The three decoding operations, called in this order for each instruction.
//
// Fetches the instruction at the view's PC (segment from segmentLatch, or 0
// while an interrupt is in service) and returns its decode index. The byte
// that picks a secondary record is only looked at, not consumed.
unsigned disasmDecodeIndex(CodeView& code);
// The record's mnemonic; consumes nothing.
const char* disasmMnemonic(unsigned index);
// The operand text of the record, consuming the operand bytes in the order
// they are printed, then the filler that completes a word in word-organised
// memory. Afterwards the view's PC addresses the next instruction.
void disasmOperands(CodeView& code, unsigned index, DisasmText& out);

// Text columns of a listing line: "AAAAA:" at 0, mnemonic, operands.
constexpr int kListMnemonicColumn = 7;
constexpr int kListOperandColumn = 13;

struct ListingRow {
  uint32_t address = 0;  // full address of the line: segment in bits 16-17
  uint32_t next = 0;     // full address of the line after it
  unsigned index = 0;    // decode index
  const char* mnemonic = "";
  DisasmText operands;
};

// The listing walk of the disassembly pane. Decodes line after line from the
// full address `top`, at most rows.size() lines, for as long as the line
// address lies inside memory region `region` (0..4). Every fetch uses the
// segment of `top`; each following line address is the segment of `top`
// combined with the PC the decode left behind, by the segment rule (below
// the common-area boundary, segment 0). The processor state is restored
// afterwards. Returns the number of rows filled; *after receives the address
// that follows the last line decoded (`top` when there was none).
std::size_t listInstructions(const Machine& m, uint32_t top, int region, std::span<ListingRow> rows,
                             uint32_t* after = nullptr);

// Start address of line `line` (0 = `top`) of the same walk, or nothing when
// the listing leaves the region before that line is reached.
std::optional<uint32_t> listingLineAddress(const Machine& m, uint32_t top, int region, int line);

// A row as the pane draws it: the address as five upper-case hex digits and
// ":", the mnemonic from column 7, the operands from column 13, trailing
// blanks removed.
std::string formatListingRow(const ListingRow& row);

}  // namespace tarvo
