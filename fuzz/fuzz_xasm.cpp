// The cross-assembler on any source text. Input: one byte of options
// (bit 0 word-organised, bit 1 a base, bit 2 a size), then the text. The
// files the text includes read as the same text again (the first few), so
// include chains are explored as well.
#include <cstdint>
#include <optional>
#include <string>

#include "fuzz_support.h"
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
  return 0;
}
