#include "debugger/source_map.h"

#include <filesystem>

namespace tarvo {

std::string SourceMap::canonical(std::string_view path) {
  std::error_code ec;
  const std::filesystem::path p(path);
  std::filesystem::path absolute = std::filesystem::absolute(p, ec);
  if (ec) return std::string(path);
  std::filesystem::path c = std::filesystem::weakly_canonical(absolute, ec);
  return ec ? absolute.lexically_normal().string() : c.string();
}

SourceMap::SourceMap(const XasmOutput& program,
                     const std::function<uint32_t(uint16_t)>& fullAddress) {
  for (const std::string& f : program.files) files_.push_back(canonical(f));
  byLine_.resize(files_.size());
  for (const XasmLine& l : program.lines) {
    if (l.length == 0 || l.file < 0 || static_cast<std::size_t>(l.file) >= files_.size()) continue;
    const uint32_t start = fullAddress(static_cast<uint16_t>(l.address));
    ranges_.push_back({start, start + l.length, {l.file, l.line}});
    byStart_[start] = ranges_.size() - 1;
    byLine_[static_cast<std::size_t>(l.file)].emplace(l.line, start);  // the first one stays
  }
}

int SourceMap::fileIndex(std::string_view path) const {
  const std::string c = canonical(path);
  for (std::size_t i = 0; i < files_.size(); ++i)
    if (files_[i] == c) return static_cast<int>(i);
  return -1;
}

std::optional<SourcePosition> SourceMap::at(uint32_t fullAddress) const {
  auto it = byStart_.upper_bound(fullAddress);
  if (it == byStart_.begin()) return std::nullopt;
  --it;
  const Range& r = ranges_[it->second];
  if (fullAddress >= r.end) return std::nullopt;
  return r.pos;
}

std::optional<uint32_t> SourceMap::lineStartAtOrBelow(uint32_t fullAddress) const {
  auto it = byStart_.upper_bound(fullAddress);
  if (it == byStart_.begin()) return std::nullopt;
  return std::prev(it)->first;
}

std::optional<SourceMap::LineStart> SourceMap::lineStart(int file, int line) const {
  if (file < 0 || static_cast<std::size_t>(file) >= byLine_.size()) return std::nullopt;
  const auto& lines = byLine_[static_cast<std::size_t>(file)];
  const auto it = lines.lower_bound(line);
  if (it == lines.end()) return std::nullopt;
  return LineStart{it->first, it->second};
}

}  // namespace tarvo
