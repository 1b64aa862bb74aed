// tarvo-asm: the assembler from the command line.
//
//   tarvo-asm --line TEXT [--origin HEX] [--word]
//       Assembles one line as the debugger's instruction editor does (the text
//       cut to 64 characters). Prints the bytes as upper-case hex separated by
//       blanks (an empty line for none) and exits 0, or prints "error at N"
//       with the 1-based position of the first unusable character and exits 1.
//
//   tarvo-asm SOURCE -o IMAGE [--word] [--base HEX] [--size N]
//             [--listing FILE] [--symbols FILE] [--debug-info FILE]
//       Assembles a whole program (labels, equ, expressions, org, db, dw, ds,
//       include) into a raw image. Errors are printed as file:line:column:
//       message, all of them, and no file is written; the exit status is 1.
//       --debug-info writes, as JSON, the source file and line of every
//       range of addresses the program stores and every symbol's value, for
//       debuggers that step through the source (docs/debug-info.md).
//
// Unusable arguments exit with 2.

#include <CLI/CLI.hpp>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_common.h"
#include "tools/assembler.h"
#include "tools/debug_info.h"
#include "tools/xasm.h"

namespace {

using namespace tarvo;

using cli::hexDigit;
using cli::UsageError;

// A hex number below 0x10000, optionally written with "&H" or "0x" in front.
uint16_t parseHex16(const std::string& option, std::string text) {
  const std::string original = text;
  if (text.size() > 2 && text[0] == '&' && (text[1] == 'H' || text[1] == 'h')) text.erase(0, 2);
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.erase(0, 2);
  if (text.empty() || text.size() > 4) {
    throw UsageError{option + ": not a hex address below 10000: '" + original + "'"};
  }
  unsigned value = 0;
  for (char ch : text) {
    const int d = hexDigit(ch);
    if (d < 0) throw UsageError{option + ": not a hex address below 10000: '" + original + "'"};
    value = value * 16 + static_cast<unsigned>(d);
  }
  return static_cast<uint16_t>(value);
}

uint32_t parseSize(const std::string& text) {
  if (text.empty() || text.size() > 6) throw UsageError{"--size: not a byte count: '" + text + "'"};
  uint32_t value = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') throw UsageError{"--size: not a byte count: '" + text + "'"};
    value = value * 10 + static_cast<uint32_t>(ch - '0');
  }
  return value;
}

std::string hexBytes(const AsmResult& r) {
  std::string out;
  for (int i = 0; i < r.length; ++i) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02X", r.bytes[static_cast<std::size_t>(i)]);
    if (i) out += ' ';
    out += buf;
  }
  return out;
}

bool writeFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  out.close();
  return static_cast<bool>(out);
}

int run(int argc, char** argv) {
  CLI::App app{"Assembles Tarvo instructions: one line, or a whole program into an image."};
  std::optional<std::string> line;
  std::string originText, baseText, sizeText, source, image, listing, symbols, debugInfo;
  bool word = false;
  auto* lineOpt = app.add_option("--line", line, "One line, assembled as the debugger does");
  auto* originOpt = app.add_option("--origin", originText, "Address of the line (hex)");
  app.add_flag("--word", word, "Word-organised memory (the on-chip ROM): addresses count words");
  auto* sourceOpt = app.add_option("source", source, "Program source file");
  auto* imageOpt = app.add_option("-o", image, "Image file to write");
  auto* baseOpt = app.add_option("--base", baseText, "First address of the image (hex)");
  auto* sizeOpt = app.add_option("--size", sizeText, "Image size in bytes (decimal)");
  auto* listingOpt = app.add_option("--listing", listing, "Listing file to write");
  auto* symbolsOpt = app.add_option("--symbols", symbols, "Symbol file to write");
  auto* debugInfoOpt =
      app.add_option("--debug-info", debugInfo, "Line information file (JSON) to write");
  for (CLI::Option* o :
       {sourceOpt, imageOpt, baseOpt, sizeOpt, listingOpt, symbolsOpt, debugInfoOpt}) {
    lineOpt->excludes(o);
  }
  originOpt->needs(lineOpt);
  if (!cli::parseCommandLine(app, argc, argv)) return 0;

  if (line) {
    const uint16_t origin = originOpt->empty() ? 0 : parseHex16("--origin", originText);
    const AsmResult r = assembleEditLine(*line, origin, word);
    if (r.errorPos != 0) {
      std::cout << "error at " << r.errorPos << '\n';
      return 1;
    }
    std::cout << hexBytes(r) << '\n';
    return 0;
  }

  if (sourceOpt->empty()) throw UsageError{"give --line TEXT or a SOURCE file with -o IMAGE"};
  if (imageOpt->empty()) throw UsageError{"-o IMAGE is required with a SOURCE file"};
  XasmOptions options;
  options.word = word;
  if (!baseOpt->empty()) options.base = parseHex16("--base", baseText);
  if (!sizeOpt->empty()) options.size = parseSize(sizeText);
  const std::string bad = checkXasmOptions(options);
  if (!bad.empty()) throw UsageError{bad};

  const XasmOutput out = assembleProgram(source, options);
  if (!out.ok()) {
    for (const XasmError& e : out.errors) std::cerr << formatXasmError(e) << '\n';
    return 1;
  }
  if (!writeFile(image, std::string(out.image.begin(), out.image.end()))) {
    std::cerr << "tarvo-asm: cannot write the image '" << image << "'\n";
    return 1;
  }
  if (!listing.empty() && !writeFile(listing, out.listing)) {
    std::cerr << "tarvo-asm: cannot write the listing '" << listing << "'\n";
    return 1;
  }
  if (!symbols.empty()) {
    std::string text;
    for (const XasmSymbol& s : out.symbols) {
      char value[8];
      std::snprintf(value, sizeof value, "%04X", s.value);
      text += s.name + " " + value + "\n";
    }
    if (!writeFile(symbols, text)) {
      std::cerr << "tarvo-asm: cannot write the symbol file '" << symbols << "'\n";
      return 1;
    }
  }
  if (!debugInfo.empty() && !writeFile(debugInfo, debugInfoJson(out, word))) {
    std::cerr << "tarvo-asm: cannot write the debug information '" << debugInfo << "'\n";
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return tarvo::cli::runTool("tarvo-asm", [&] { return run(argc, argv); });
}
