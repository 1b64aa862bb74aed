// tarvo-dis: lists the instructions in a string of bytes exactly as the
// debugger's disassembly pane shows them.
//
//   tarvo-dis (--hex "HH HH ..." | FILE) [--origin HEX] [--word] [--count N]
//             [--symbols FILE]
//
// Byte mode places the bytes in the segment-1 RAM at 0x10000 + ORIGIN
// (wrapping inside the segment) and lists them from there; --word places
// them two per word in the on-chip ROM at word address ORIGIN. Everything
// else reads as it does with no image loaded.

#include <CLI/CLI.hpp>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_common.h"
#include "cpu/memory.h"
#include "debugger/symbols.h"
#include "machine.h"
#include "tools/disasm.h"

namespace {

constexpr std::size_t kSegmentBytes = 0x10000;
constexpr uint32_t kRomWords = 0xC00;

using tarvo::cli::hexDigit;
using tarvo::cli::UsageError;

// A hex number, optionally written with "&H" or "0x" in front.
uint32_t parseOrigin(std::string text) {
  if (text.size() > 2 && text[0] == '&' && (text[1] == 'H' || text[1] == 'h')) text.erase(0, 2);
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.erase(0, 2);
  if (text.empty() || text.size() > 5) throw UsageError{"--origin: not a hex address: " + text};
  uint32_t value = 0;
  for (char ch : text) {
    const int d = hexDigit(ch);
    if (d < 0) throw UsageError{"--origin: not a hex address: " + text};
    value = value * 16 + static_cast<uint32_t>(d);
  }
  return value;
}

// Bytes written as one or two hex digits each, separated by blanks.
std::vector<uint8_t> parseHexBytes(const std::string& text) {
  std::vector<uint8_t> bytes;
  std::size_t i = 0;
  while (i < text.size()) {
    if (std::isspace(static_cast<unsigned char>(text[i]))) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end]))) ++end;
    const std::string token = text.substr(i, end - i);
    if (token.size() > 2) throw UsageError{"--hex: not a byte: " + token};
    unsigned value = 0;
    for (char ch : token) {
      const int d = hexDigit(ch);
      if (d < 0) throw UsageError{"--hex: not a byte: " + token};
      value = value * 16 + static_cast<unsigned>(d);
    }
    bytes.push_back(static_cast<uint8_t>(value));
    i = end;
  }
  return bytes;
}

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw UsageError{"cannot read " + path};
  std::vector<uint8_t> bytes;
  char ch;
  while (in.get(ch)) {
    bytes.push_back(static_cast<uint8_t>(ch));
    if (bytes.size() > kSegmentBytes) throw UsageError{path + ": more than 65536 bytes"};
  }
  if (in.bad()) throw UsageError{"cannot read " + path};
  return bytes;
}

uint64_t parseCount(const std::string& text) {
  if (text.empty() || text.size() > 18) throw UsageError{"--count: not a line count: " + text};
  uint64_t value = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') throw UsageError{"--count: not a line count: " + text};
    value = value * 10 + static_cast<uint64_t>(ch - '0');
  }
  return value;
}

// Lists from `top` in `region`. Without a line count the listing ends once
// `given` bytes have been consumed; with one, after that many lines. It also
// ends where the region ends.
// With symbols, a line "label:" goes before the line a label names, and
// operands show labels in place of the addresses they name.
void list(tarvo::Machine& m, uint32_t top, int region, bool word, std::size_t given,
          std::optional<uint64_t> count, const tarvo::SymbolTable& symbols) {
  tarvo::ListingRow rows[64];
  uint64_t lines = 0;
  uint64_t consumed = 0;
  uint32_t a = top;
  for (;;) {
    uint32_t after = a;
    const std::size_t n = tarvo::listInstructions(m, a, region, rows, &after);
    for (std::size_t i = 0; i < n; ++i) {
      if (count ? lines >= *count : consumed >= given) return;
      const tarvo::ListingRow& row = rows[i];
      if (symbols.empty()) {
        std::cout << tarvo::formatListingRow(row) << '\n';
      } else {
        if (const std::string* label = symbols.nameAt(static_cast<uint16_t>(row.address)))
          std::cout << *label << ":\n";
        const std::string text = tarvo::formatListingRow(row);
        const std::size_t at = tarvo::kListOperandColumn;
        std::cout << (text.size() <= at
                          ? text
                          : text.substr(0, at) + tarvo::labelOperands(text.substr(at), symbols))
                  << '\n';
      }
      ++lines;
      // PC moves by bytes in byte memory and by words in the on-chip ROM,
      // wrapping inside its segment.
      const uint32_t moved = (row.next - row.address) & 0xFFFFu;
      consumed += word ? 2u * moved : moved;
    }
    if (n < std::size(rows)) return;  // the listing left the region
    a = after;
  }
}

int run(int argc, char** argv) {
  CLI::App app{"Lists instructions as the debugger's disassembly pane shows them.", "tarvo-dis"};
  std::string hex, file, originText = "0", countText;
  bool word = false;
  auto* hexOption = app.add_option("--hex", hex, "the bytes, as hex pairs separated by blanks");
  auto* fileOption = app.add_option("file", file, "a binary file of bytes");
  hexOption->excludes(fileOption);
  app.add_option("--origin", originText, "hex address of the first byte (default 0)");
  app.add_flag("--word", word, "place the bytes two per word in the on-chip ROM");
  auto* countOption = app.add_option("--count", countText, "list this many lines");
  std::string symbolsFile;
  app.add_option("--symbols", symbolsFile, "symbol file of tarvo-asm --symbols");
  if (!tarvo::cli::parseCommandLine(app, argc, argv)) return 0;
  {
    if (!*hexOption && !*fileOption) throw UsageError{"give --hex BYTES or a FILE"};
    const std::vector<uint8_t> bytes = *hexOption ? parseHexBytes(hex) : readFile(file);
    const uint32_t origin = parseOrigin(originText);
    std::optional<uint64_t> count;
    if (*countOption) count = parseCount(countText);
    tarvo::SymbolTable symbols;
    if (!symbolsFile.empty()) {
      std::vector<std::string> errors;
      if (!symbols.load(symbolsFile, &errors)) throw UsageError{"cannot read " + symbolsFile};
      if (!errors.empty()) throw UsageError{symbolsFile + ": line " + errors.front()};
    }

    tarvo::Machine m;
    uint32_t top;
    int region;
    if (word) {
      if (origin >= kRomWords) throw UsageError{"--origin: word address must be below C00"};
      const std::size_t offset = static_cast<std::size_t>(origin) * 2;
      auto& rom = m.mem.rows[tarvo::kRomRow].buffer;
      if (bytes.size() > rom.size() - offset)
        throw UsageError{"the bytes do not fit below word address C00"};
      std::copy(bytes.begin(), bytes.end(), rom.begin() + static_cast<std::ptrdiff_t>(offset));
      top = origin;
      region = tarvo::kRomRow;
    } else {
      if (origin > 0xFFFF) throw UsageError{"--origin: address must be below 10000"};
      if (bytes.size() > kSegmentBytes) throw UsageError{"more than 65536 bytes"};
      auto& ram = m.mem.rows[tarvo::kRam0Row].buffer;
      for (std::size_t i = 0; i < bytes.size(); ++i) ram[(origin + i) & 0xFFFF] = bytes[i];
      top = 0x10000 | origin;
      region = tarvo::kRam0Row;
    }
    m.cpu.UA = m.cpu.segmentLatch = static_cast<uint8_t>(top >> 16);
    m.cpu.IB = 0;
    list(m, top, region, word, bytes.size(), count, symbols);
  }
  std::cout.flush();
  return std::cout ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  return tarvo::cli::runTool("tarvo-dis", [&] { return run(argc, argv); });
}
