// The line information reader on any text. What it accepts keeps its
// promises (file indexes in range, ranges inside the address space), and
// written out again it reads back as itself.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "tools/debug_info.h"

using namespace tarvo;

namespace {

bool same(const DebugInfo& a, const DebugInfo& b) {
  if (a.word != b.word || a.files != b.files || a.lines.size() != b.lines.size() ||
      a.symbols.size() != b.symbols.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.lines.size(); ++i) {
    const XasmLine& x = a.lines[i];
    const XasmLine& y = b.lines[i];
    if (x.file != y.file || x.line != y.line || x.address != y.address || x.length != y.length) {
      return false;
    }
  }
  for (std::size_t i = 0; i < a.symbols.size(); ++i) {
    if (a.symbols[i].name != b.symbols[i].name || a.symbols[i].value != b.symbols[i].value) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string why;
  const std::optional<DebugInfo> info = parseDebugInfo(text, &why);
  if (!info) {
    FUZZ_CHECK(!why.empty());
    return 0;
  }
  for (const XasmLine& l : info->lines) {
    FUZZ_CHECK(l.file >= 0 && static_cast<std::size_t>(l.file) < info->files.size());
    FUZZ_CHECK(l.line >= 1 && l.length > 0 && l.address + uint64_t{l.length} <= 0x10000);
  }
  for (const XasmSymbol& s : info->symbols) FUZZ_CHECK(!s.name.empty());

  // The file names came from JSON, so they are UTF-8 and survive writing.
  XasmOutput out;
  out.files = info->files;
  out.lines = info->lines;
  out.symbols = info->symbols;
  const std::optional<DebugInfo> again = parseDebugInfo(debugInfoJson(out, info->word), &why);
  FUZZ_CHECK(again && same(*info, *again));
  return 0;
}
