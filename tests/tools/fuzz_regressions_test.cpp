// Inputs the fuzz targets found trouble with, kept as ordinary tests.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tools/xasm.h"

namespace tarvo {
namespace {

// A source that includes itself four times: with only the depth limit, the
// cross-assembler would read it 4^16 times. Every name reads as the same
// text, as a directory that links to itself would give.
TEST(FuzzRegressions, SourceIncludingItselfRepeatedlyEndsPromptly) {
  const std::string text =
      "        include \"a.s\"\n"
      "        include \"b/a.s\"\n"
      "        include \"a.s\"\n"
      "        include \"c/a.s\"\n"
      "        nop\n";
  const auto start = std::chrono::steady_clock::now();
  const XasmOutput out =
      assembleProgram("a.s", {}, [&](const std::string&) { return std::optional(text); });
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 10.0);
  ASSERT_FALSE(out.ok());
  bool limited = false;
  for (const XasmError& e : out.errors)
    limited |= e.message == "more than 1024 files read for one program";
  EXPECT_TRUE(limited);
}

TEST(FuzzRegressions, SourceTextBeyondTheLimitIsRefused) {
  // 3.5 MB a file, read five times over: the fifth passes 16 MB.
  const std::string big(7u << 19, ';');
  const std::string main =
      "        include \"big\"\n        include \"big\"\n        include \"big\"\n"
      "        include \"big\"\n        include \"big\"\n";
  const XasmOutput out = assembleProgram("main.s", {}, [&](const std::string& path) {
    return std::optional(path == "main.s" ? main : big);
  });
  ASSERT_EQ(out.errors.size(), 1u);
  EXPECT_EQ(out.errors[0].line, 5);
  EXPECT_EQ(out.errors[0].message, "more than 16 MB of source text in one program");
}

}  // namespace
}  // namespace tarvo
