// Characters beyond the host character table: a machine directory may hold
// a character map, "charmap.txt", that names for each such character the
// keys held together to type it (a shift key and a letter, say). Host
// typing uses it only for characters the table lacks; without the file
// typing is the table alone.
//
// The file has one character a line: the character, blanks, then the key
// codes joined by "+", at most two of them (the key matrix holds one key
// typed and one held with it):
//
//   " 47+17
//   < 47+24
//
// Empty lines and lines starting with "//" are comments. A line that does
// not read this way is skipped.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo {

struct Machine;
class InputRecorder;

struct CharMapEntry {
  char32_t ch = 0;
  std::vector<int> keys;  // 1 or 2 machine key codes (4..82)
};

struct CharMap {
  std::vector<CharMapEntry> entries;
};

constexpr const char* kCharMapFile = "charmap.txt";

CharMap parseCharMap(std::string_view text);

// Larger files are not character maps and are refused unread.
constexpr std::size_t kCharMapFileLimit = 1u << 20;

// The map in dir, or nothing when dir has no character map. A file that is
// there but cannot be used (not a regular file, too large, unreadable) gives
// nothing too, and *problem (when given) says so: "Failed to load the file
// charmap.txt: <reason>". It is read as the other machine files are: never
// waiting on a pipe or device, never more than the limit.
std::optional<CharMap> loadCharMap(const std::string& dir, std::string* problem = nullptr);

// The keys to hold for a typed character: the host table's key alone, else
// the map's keys (map may be null), else none.
std::vector<int> keysForChar(const CharMap* map, char32_t ch);

// Types a character the host table lacks: the map's keys are held (the
// first in the chord slot) and the key interrupt check runs.
// Returns false, changing nothing, when the map has no such character.
bool pressMappedChar(Machine& m, const CharMap& map, char32_t ch);

// Lets go of what pressMappedChar held.
void releaseMappedChar(Machine& m);

// Records what pressMappedChar did, as a recording replays it: the first
// key held without the interrupt check, then the last as a typed key.
void recordMappedChar(InputRecorder& recorder, int64_t cycles, const CharMap& map, char32_t ch);

}  // namespace tarvo
