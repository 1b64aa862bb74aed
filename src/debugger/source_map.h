// Where a program's bytes came from: full addresses to source file and line
// and back, from the cross-assembler's line information. Files are compared
// by their canonical absolute paths, so an editor's path for a file finds
// it however the program named it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/xasm.h"

namespace tarvo {

struct SourcePosition {
  int file = 0;  // index into files()
  int line = 0;  // 1-based
};

class SourceMap {
 public:
  SourceMap() = default;
  // fullAddress turns a 16-bit program address into the full address the
  // processor fetches it from.
  SourceMap(const XasmOutput& program, const std::function<uint32_t(uint16_t)>& fullAddress);

  // Canonical absolute paths, as the program's files list orders them.
  const std::vector<std::string>& files() const { return files_; }
  // The file's index, or -1 when the program did not read it.
  int fileIndex(std::string_view path) const;

  // The line that stored the byte at a full address.
  std::optional<SourcePosition> at(uint32_t fullAddress) const;

  struct LineStart {
    int line = 0;  // the line that has the bytes: the asked one or the next after it
    uint32_t address = 0;
  };
  // The first full address a line of a file stored, or that of the next line
  // of the same file that stored any; nothing when no line from there on did.
  std::optional<LineStart> lineStart(int file, int line) const;

  // The nearest full address at or below this one where a stored line
  // starts: a sure instruction boundary for decoding backwards.
  std::optional<uint32_t> lineStartAtOrBelow(uint32_t fullAddress) const;

  bool empty() const { return ranges_.empty(); }

  static std::string canonical(std::string_view path);

 private:
  struct Range {
    uint32_t start = 0, end = 0;  // full addresses, end exclusive
    SourcePosition pos;
  };
  std::vector<std::string> files_;
  std::vector<Range> ranges_;                    // in the order stored
  std::map<uint32_t, std::size_t> byStart_;      // start -> index into ranges_
  std::vector<std::map<int, uint32_t>> byLine_;  // per file: line -> first address
};

}  // namespace tarvo
