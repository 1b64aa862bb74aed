// Line information of an assembled program, for debuggers that work on the
// source: which source line stored which addresses, and the program's
// symbols. tarvo-asm writes it with --debug-info; docs/debug-info.md
// describes the format.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/xasm.h"

namespace tarvo {

struct DebugInfo {
  bool word = false;               // word-organised memory: addresses count words
  std::vector<std::string> files;  // [0] the main source, then the included files
  std::vector<XasmLine> lines;     // in the order stored
  std::vector<XasmSymbol> symbols;
};

// The program's files, lines and symbols as JSON (version 1). Addresses are
// written as four upper-case hex digits, like the symbol file. File names
// that are not UTF-8 have their faulty bytes replaced by U+FFFD.
std::string debugInfoJson(const XasmOutput& out, bool word);

// Reads what debugInfoJson writes. Any text gives either the information or
// nullopt with the reason in *error (when error is not null); it never throws.
std::optional<DebugInfo> parseDebugInfo(std::string_view json, std::string* error);

}  // namespace tarvo
