// Programs of the demo machine's BASIC as text on the host. A text program
// is what LIST shows: one line a row, each starting with its line number.
// Reading one crunches every line as the firmware crunches a typed line
// (spaces outside strings go, keywords become tokens), with the firmware's
// own keyword table, so a program stored from text is the program typing
// it would have made, byte for byte. The RAM image is the one that holds
// BASIC's memory: the program area, its end pointer and the signature.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::basic {

// Bytes of the RAM image BASIC lives in.
inline constexpr std::size_t kRamSize = 0x10000;

// A typed line as the firmware crunches it: tokens are bytes from 0x80.
std::string crunch(std::string_view typed);

// Line number and crunched text of a stored line as LIST shows it (no
// line end).
std::string listLine(unsigned number, std::string_view crunched);

struct TextError {
  std::size_t line = 0;  // 1-based line of the text
  std::string message;
};

// A text program: crunched text by line number. As when typing, a later
// line replaces an earlier one of the same number and a number alone
// deletes it; blank lines are skipped. Letters are the capitals the
// keyboard types.
struct Program {
  std::map<unsigned, std::string> lines;
  std::vector<TextError> errors;
};
Program parse(std::string_view text);

// Whether the RAM holds the demo BASIC's signature.
bool hasBasic(std::span<const uint8_t> ram);
// Whether that BASIC waits at its prompt: no program runs, no INPUT waits.
bool atPrompt(std::span<const uint8_t> ram);

struct Listing {
  bool ok = false;
  std::string text;   // the listing, every line ending in "\n"
  std::string error;  // why not, when !ok
};
// The program stored in the RAM as LIST shows it.
Listing list(std::span<const uint8_t> ram);

// Replaces the program in the RAM with p (whose errors must be empty), as
// deleting every line and typing the new ones would leave it: the
// variables stay, CONT is no longer possible, @() starts again at 0. "" when done, else
// why not (the RAM is then unchanged).
std::string store(std::span<uint8_t> ram, const Program& p);

// The bytes a program takes in the program area, its end mark included.
std::size_t programBytes(const Program& p);

}  // namespace tarvo::basic
