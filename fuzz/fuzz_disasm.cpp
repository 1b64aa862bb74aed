// The disassembler on any bytes, in byte memory (segment 1 RAM) and in the
// word-organised on-chip ROM, through the listing walk of the debugger.
// Input: flags (bit 0 word memory, bits 6-7 the common area), the offset of
// the listing's first line (two bytes), then the bytes, stored from that
// offset on (wrapping within the region).
#include <array>
#include <cstdint>
#include <string>

#include "cpu/memory.h"
#include "fuzz_support.h"
#include "machine.h"
#include "tools/disasm.h"

using namespace tarvo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const bool word = (data[0] & 1) != 0;
  Machine& m = fuzz::unbankedMachine();
  ProcessorState& c = m.cpu;
  c.IB = static_cast<uint8_t>(data[0] & 0xC0);
  c.inService = 0;
  c.PC = 0x1234;
  c.UA = 0x5A;
  c.segmentLatch = 0xA5;

  const int region = word ? kRomRow : kRam0Row;
  std::vector<uint8_t>& buffer = m.mem.rows[region].buffer;
  // Word memory: 0xC00 words of two bytes; byte memory: 0x10000 bytes.
  const std::size_t units = word ? 0xC00 : 0x10000;
  const std::size_t unitBytes = word ? 2 : 1;
  const std::size_t first = (data[1] | data[2] << 8) % units;
  for (std::size_t i = 3; i < size; ++i) {
    buffer[(first * unitBytes + (i - 3)) % buffer.size()] = data[i];
  }

  const uint32_t top = (word ? 0u : 0x10000u) + static_cast<uint32_t>(first);
  std::array<ListingRow, 24> rows;
  uint32_t after = 0;
  const std::size_t n = listInstructions(m, top, region, rows, &after);
  for (std::size_t i = 0; i < n; ++i) {
    const ListingRow& row = rows[i];
    // In byte memory an instruction is 1 to 4 bytes; in word memory 1 or 2
    // words. Addresses wrap within the segment.
    const uint32_t length = static_cast<uint16_t>(row.next - row.address);
    FUZZ_CHECK(length >= 1 && length <= (word ? 2u : 4u));
    FUZZ_CHECK(row.operands.size() <= DisasmText::kCapacity);
    const std::string line = formatListingRow(row);
    FUZZ_CHECK(line.size() >= static_cast<std::size_t>(kListMnemonicColumn));
    if (i + 1 < n) FUZZ_CHECK(rows[i + 1].address == row.next);
  }
  if (n > 0) FUZZ_CHECK(after == rows[n - 1].next);
  // The walk leaves the processor as it found it.
  FUZZ_CHECK(c.PC == 0x1234 && c.UA == 0x5A && c.segmentLatch == 0xA5);

  // Every line of the walk can be found again by its number.
  for (int line = 0; line < static_cast<int>(n); ++line) {
    const auto address = listingLineAddress(m, top, region, line);
    FUZZ_CHECK(address && *address == rows[static_cast<std::size_t>(line)].address);
  }
  return 0;
}
