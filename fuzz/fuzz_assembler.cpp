// The one-line assembler on any line of bytes, at any origin, in byte and in
// word-organised memory. Input: origin low, origin high, flags (bit 0: word
// memory), then the line.
//
// Beyond memory safety it checks the result's shape and that the assembler
// and the disassembler agree: bytes the assembler made decode, through the
// processor's own fetch, to an instruction of exactly that length, whose
// listed text assembles back to the same bytes.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "cpu/code_view.h"
#include "cpu/memory.h"
#include "fuzz_support.h"
#include "machine.h"
#include "tools/assembler.h"
#include "tools/disasm.h"

using namespace tarvo;

namespace {

bool isDataLine(std::string_view line) {
  std::size_t p = 0;
  while (p < line.size() && line[p] == ' ') ++p;
  return line.size() - p >= 2 && (line[p] | 0x20) == 'd' && (line[p + 1] | 0x20) == 'b';
}

// Decodes the instruction at origin in segment 1 (byte memory) or in the
// on-chip ROM (word memory); returns the addresses it covers and its text.
int decodeLength(Machine& m, uint16_t origin, bool word, std::string& text) {
  ProcessorState& c = m.cpu;
  c.PC = origin;
  c.inService = 0;
  c.IB = 0;
  c.UA = c.segmentLatch = word ? 0x00 : 0x01;
  CodeView code(m);
  const unsigned index = disasmDecodeIndex(code);
  DisasmText operands;
  disasmOperands(code, index, operands);
  text = disasmMnemonic(index);
  if (!operands.empty()) {
    text += ' ';
    text += operands.c_str();
  }
  return static_cast<uint16_t>(code.pc() - origin);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const auto origin = static_cast<uint16_t>(data[0] | data[1] << 8);
  const bool word = (data[2] & 1) != 0;
  const std::string_view line(reinterpret_cast<const char*>(data + 3), size - 3);

  const AsmResult r = assembleEditLine(line, origin, word);
  const std::size_t seen = std::min(line.size(), kEditLineLimit);
  FUZZ_CHECK(r.length >= 0 && r.length <= 4);
  for (int i = r.length; i < 4; ++i) FUZZ_CHECK(r.bytes[static_cast<std::size_t>(i)] == 0);
  if (r.errorPos != 0) {
    FUZZ_CHECK(r.errorPos >= 1 && static_cast<std::size_t>(r.errorPos) <= seen + 1);
    FUZZ_CHECK(r.length == 0 && !r.message.empty());
    return 0;
  }
  FUZZ_CHECK(r.message.empty());
  if (r.length == 0 || isDataLine(line)) return 0;

  // Word memory exists only in the on-chip ROM, 0x000-0xBFF.
  if (word && origin > 0xBFD) return 0;
  Machine& m = fuzz::unbankedMachine();
  std::vector<uint8_t>& buffer = m.mem.rows[word ? kRomRow : kRam0Row].buffer;
  for (int i = 0; i < 4; ++i) {
    const std::size_t at = word ? static_cast<std::size_t>(origin) * 2 + static_cast<std::size_t>(i)
                                : static_cast<uint16_t>(origin + i);
    buffer[at] = r.bytes[static_cast<std::size_t>(i)];
  }
  std::string text;
  const int covered = decodeLength(m, origin, word, text);
  const int expected = word ? (r.length + 1) / 2 : r.length;
  if (covered != expected) {
    std::fprintf(stderr, "assembled %d bytes, listed as '%s' over %d\n", r.length, text.c_str(),
                 covered);
    FUZZ_CHECK(covered == expected);
  }
  const AsmResult again = assemble(text, origin, word);
  if (again.errorPos != 0 || again.bytes != r.bytes || again.length != r.length) {
    std::fprintf(stderr, "listed as '%s', which assembles to %d bytes (error at %d)\n",
                 text.c_str(), again.length, again.errorPos);
    FUZZ_CHECK(again.errorPos == 0 && again.bytes == r.bytes && again.length == r.length);
  }
  return 0;
}
