// The cross-assembler on any source text. Input: one byte of options
// (bit 0 word-organised, bit 1 a base, bit 2 a size), then the text. The
// files the text includes read as the same text again (the first few), so
// include chains are explored as well. A good program's line information
// must cover only its image and read back from JSON as itself.
#include <cstdint>
#include <optional>
#include <string>

#include "fuzz_support.h"
#include "tools/debug_info.h"
#include "tools/xasm.h"

using namespace tarvo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  XasmOptions options;
  options.word = (data[0] & 1) != 0;
  if (data[0] & 2) options.base = options.word ? 0x0000u : 0x1000u;
  if (data[0] & 4) options.size = options.word ? 6144u : 0x4000u;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  // Included files read as the same text, the first few times; after that
  // they cannot be read, which keeps one input's work small.
  int reads = 0;
  const XasmOutput out =
      assembleProgram("main.s", options, [&](const std::string&) -> std::optional<std::string> {
        if (++reads > 8) return std::nullopt;
        return text;
      });
  for (const XasmError& e : out.errors) {
    FUZZ_CHECK(!e.message.empty());
    FUZZ_CHECK(!formatXasmError(e).empty());
  }
  if (!out.ok()) return 0;
  if (options.size) FUZZ_CHECK(out.image.size() == *options.size);
  if (options.base) FUZZ_CHECK(out.imageBase == *options.base);
  const uint64_t unit = options.word ? 2 : 1;
  FUZZ_CHECK(out.image.size() <= 0x10000 * unit);

  FUZZ_CHECK(!out.files.empty() && out.files[0] == "main.s");
  for (const XasmLine& l : out.lines) {
    FUZZ_CHECK(l.file >= 0 && static_cast<std::size_t>(l.file) < out.files.size());
    FUZZ_CHECK(l.line >= 1 && l.length > 0);
    FUZZ_CHECK(l.address >= out.imageBase);
    FUZZ_CHECK((l.address - out.imageBase + uint64_t{l.length}) * unit <= out.image.size());
  }
  const std::optional<DebugInfo> info = parseDebugInfo(debugInfoJson(out, options.word), nullptr);
  FUZZ_CHECK(info && info->word == options.word && info->files == out.files);
  FUZZ_CHECK(info->lines.size() == out.lines.size() && info->symbols.size() == out.symbols.size());
  for (std::size_t i = 0; i < out.lines.size(); ++i) {
    const XasmLine& a = out.lines[i];
    const XasmLine& b = info->lines[i];
    FUZZ_CHECK(a.file == b.file && a.line == b.line && a.address == b.address &&
               a.length == b.length);
  }
  for (std::size_t i = 0; i < out.symbols.size(); ++i) {
    FUZZ_CHECK(info->symbols[i].name == out.symbols[i].name &&
               info->symbols[i].value == out.symbols[i].value);
  }
  return 0;
}
