// The LCD read back as text: every character cell of the composed frame is
// matched against the glyph table, so the display can be copied, read aloud
// or checked by a test.
//
// Cells follow the way the character generator writes: each controller
// holds 96 / character width cells per band, starting at its own dot
// column 0, and the four bands are the four text rows. With the usual width
// of six dots that is 16 + 16 = 32 characters a row.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace tarvo {

struct Lcd;

constexpr int kLcdTextRows = 4;

// Cells per text row at the LCD's current character width (5..8).
int lcdTextColumns(const Lcd& lcd);

// The character byte that writes each cell, as software sends it to the
// character generator: glyph number g is selected by the byte with g's two
// nibbles exchanged. A cell without any dark dot reads as 0x20 (and so does
// every cell while the controllers are disabled); a cell that
// matches no glyph reads as -1. Where several characters share a picture the
// printable one (0x21..0x7E) wins, then the lowest code.
std::array<std::vector<int>, kLcdTextRows> lcdCharacterCodes(const Lcd& lcd);

// The same as four lines of text: printable ASCII as itself, every other
// character and every cell that matches no glyph as '?'; trailing blanks
// are dropped. Reads the composed frame as it is: compose it first.
std::array<std::string, kLcdTextRows> lcdTextLines(const Lcd& lcd);

// The four lines joined with '\n' (no newline after the last).
std::string lcdText(const Lcd& lcd);

}  // namespace tarvo
