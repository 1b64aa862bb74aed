// Builds the 2048-byte character-set image "charset.bin" from the glyph art
// in charset.txt.
//
// The image holds 256 glyphs of 8 bytes, one byte per dot column, bit 7 the
// top dot. The character generator selects the glyph for a character byte
// with the byte's nibbles exchanged, so the glyph of character code c is
// stored at glyph number ((c & 0x0F) << 4) | (c >> 4): software then writes
// plain character codes.
//
// Usage: charset_gen SOURCE IMAGE
#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kGlyphs = 256;
constexpr int kColumns = 8;
constexpr int kRows = 8;

int fail(const std::string& file, int line, const std::string& what) {
  std::cerr << file << ":" << line << ": " << what << "\n";
  return 1;
}

std::string trimRight(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\r' || s.back() == '\t')) s.pop_back();
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: charset_gen SOURCE IMAGE\n";
    return 2;
  }
  const std::string src = argv[1];
  std::ifstream in(src);
  if (!in) {
    std::cerr << "cannot read " << src << "\n";
    return 1;
  }

  std::array<uint8_t, kGlyphs * kColumns> image{};
  std::array<bool, kGlyphs> defined{};
  std::string text;
  int lineNo = 0;
  int code = -1;       // glyph being read, -1 between blocks
  int row = 0;         // art rows read for it
  int headerLine = 0;  // where it started

  while (std::getline(in, text)) {
    ++lineNo;
    text = trimRight(text);
    if (code < 0) {
      if (text.empty() || text[0] == ';') continue;
      std::istringstream head(text);
      std::string word, hex;
      head >> word >> hex;
      if (word != "char" || hex.empty()) return fail(src, lineNo, "expected \"char HH name\"");
      std::size_t used = 0;
      unsigned long value = 0;
      try {
        value = std::stoul(hex, &used, 16);
      } catch (...) {
        used = 0;
      }
      if (used != hex.size() || value > 0xFF) return fail(src, lineNo, "bad character code " + hex);
      code = static_cast<int>(value);
      if (defined[code]) return fail(src, lineNo, "character " + hex + " drawn twice");
      defined[code] = true;
      row = 0;
      headerLine = lineNo;
      continue;
    }
    if (text.size() > kColumns) return fail(src, lineNo, "art row wider than 8 dots");
    const int glyph = ((code & 0x0F) << 4) | (code >> 4);
    for (std::size_t col = 0; col < text.size(); ++col) {
      if (text[col] == '#') {
        image[glyph * kColumns + col] |= static_cast<uint8_t>(0x80 >> row);
      } else if (text[col] != '.') {
        return fail(src, lineNo, "art may hold only '#' and '.'");
      }
    }
    if (++row == kRows) code = -1;
  }
  if (code >= 0) return fail(src, headerLine, "glyph has fewer than 8 rows");

  // Two different characters with the same picture could not be told apart
  // when the display is read back as text.
  for (int a = 0; a < kGlyphs; ++a) {
    for (int b = a + 1; b < kGlyphs; ++b) {
      if (!defined[a] || !defined[b]) continue;
      const int ga = ((a & 0x0F) << 4) | (a >> 4);
      const int gb = ((b & 0x0F) << 4) | (b >> 4);
      bool blank = true, same = true;
      for (int c = 0; c < kColumns; ++c) {
        blank = blank && image[ga * kColumns + c] == 0;
        same = same && image[ga * kColumns + c] == image[gb * kColumns + c];
      }
      if (same && !blank) {
        char msg[64];
        std::snprintf(msg, sizeof msg, "characters %02X and %02X look the same", a, b);
        return fail(src, 0, msg);
      }
    }
  }

  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image.data()),
            static_cast<std::streamsize>(image.size()));
  if (!out) {
    std::cerr << "cannot write " << argv[2] << "\n";
    return 1;
  }
  return 0;
}
