#include "frontpanel/charmap.h"

#include "devices/keyboard.h"
#include "frontpanel/files.h"
#include "frontpanel/input_log.h"
#include "frontpanel/keymap.h"
#include "frontpanel/state_file.h"
#include "machine.h"
#include "machine/operations.h"

namespace tarvo {

namespace {

// One decimal key code of a machine key; nullopt for anything else.
std::optional<int> parseKeyCode(std::string_view text) {
  if (text.empty() || text.size() > 2) return std::nullopt;
  int v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  if (v < 4 || v > kKeyHostOnly) return std::nullopt;
  return v;
}

std::optional<CharMapEntry> parseLine(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.size() < 3) return std::nullopt;
  const unsigned char first = static_cast<unsigned char>(line[0]);
  if (first <= 0x20 || first >= 0x7F) return std::nullopt;  // ASCII characters only
  if (line[1] != ' ' && line[1] != '\t') return std::nullopt;
  std::size_t i = 1;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  std::string_view rest = line.substr(i);
  while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t')) rest.remove_suffix(1);
  CharMapEntry e;
  e.ch = first;
  while (true) {
    const auto plus = rest.find('+');
    const auto code = parseKeyCode(rest.substr(0, plus));
    if (!code) return std::nullopt;
    e.keys.push_back(*code);
    if (plus == std::string_view::npos) break;
    rest.remove_prefix(plus + 1);
  }
  if (e.keys.size() > 2) return std::nullopt;
  return e;
}

}  // namespace

CharMap parseCharMap(std::string_view text) {
  CharMap map;
  while (!text.empty()) {
    const auto nl = text.find('\n');
    const std::string_view line = text.substr(0, nl);
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    if (line.empty() || line.substr(0, 2) == "//") continue;
    if (auto e = parseLine(line)) map.entries.push_back(std::move(*e));
  }
  return map;
}

std::optional<CharMap> loadCharMap(const std::string& dir, std::string* problem) {
  if (problem) problem->clear();
  std::vector<uint8_t> bytes;
  const std::string reason =
      readWholeFile(machinePath(dir, kCharMapFile), kCharMapFileLimit, bytes);
  if (reason == kNoSuchFile) return std::nullopt;
  if (!reason.empty()) {
    if (problem) *problem = stateRefusedMessage(kCharMapFile, reason);
    return std::nullopt;
  }
  return parseCharMap(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::vector<int> keysForChar(const CharMap* map, char32_t ch) {
  if (const int code = hostCharKey(ch); code != 0) return {code};
  if (map) {
    for (const CharMapEntry& e : map->entries) {
      if (e.ch == ch) return e.keys;  // first line wins
    }
  }
  return {};
}

bool pressMappedChar(Machine& m, const CharMap& map, char32_t ch) {
  if (hostCharKey(ch) != 0) return false;
  const std::vector<int> keys = keysForChar(&map, ch);
  if (keys.empty()) return false;
  // Both keys go down at once: the one the interrupt finds sees the other.
  holdKey(m, KeyHolder::Chord, keys.size() > 1 ? keys[0] : 0);
  pressKey(m, KeyHolder::Host, keys.back());
  return true;
}

void releaseMappedChar(Machine& m) {
  releaseKey(m, KeyHolder::Chord);
  releaseKey(m, KeyHolder::Host);
}

void recordMappedChar(InputRecorder& recorder, int64_t cycles, const CharMap& map, char32_t ch) {
  const std::vector<int> keys = keysForChar(&map, ch);
  if (keys.empty()) return;
  if (keys.size() > 1) recorder.record(cycles, InputKind::ChordHold, keys[0]);
  recorder.record(cycles, InputKind::HostChar, keys.back());
}

}  // namespace tarvo
