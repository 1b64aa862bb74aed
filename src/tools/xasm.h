// Cross-assembler for whole programs. Every instruction goes through the
// one-line assembler's encoder (tools/assembler.h); this layer adds what a
// program needs around it:
//
//   name:                 a label at the current address (leading blanks allowed)
//   name equ expr         a named value; may refer to later labels
//   org expr              set the current address (a label on the line gets
//                         the new address); the value must be known at that line
//   db item,item,...      bytes: expressions (-128..255) and "quoted strings"
//   dw expr,expr,...      16-bit words, little-endian (-32768..65535)
//   ds count[,fill]       reserve count addresses; with a fill byte they are
//                         filled, without one they are left unfilled
//   include "file"        the file's lines, path relative to the including file
//   ; comment             to the end of the line; tabs count as blanks
//
// Wherever an instruction takes a number it takes an expression: decimal
// and &H numbers, symbols, + and - (also unary), parentheses, lo(expr) and
// hi(expr). A condition name or "jr" directly followed by a letter, digit,
// "_" or "." is read as the start of a symbol, so "jr cloop" jumps to the
// label cloop. Symbols are case-sensitive; mnemonics, register names and
// directives are not.
//
// Word-organised memory (the on-chip ROM): addresses count 16-bit words.
// An instruction is stored as the debugger stores a typed line: its bytes two
// per word, first byte first, an odd last byte completed with 0. db packs its
// bytes the same way (so db can spell instructions), dw puts each value in
// one word (low byte first), and ds count,fill fills count words with the
// fill byte in both halves. Every statement starts on a new word.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarvo {

struct XasmOptions {
  bool word = false;             // word-organised image: addresses count words
  std::optional<uint32_t> base;  // address of the image's first byte (or word)
  std::optional<uint32_t> size;  // image size in bytes; unfilled bytes are 0xFF
};

struct XasmError {
  std::string file;
  int line = 0;    // 1-based; 0 for errors about the whole run
  int column = 0;  // 1-based
  std::string message;
};

// "file:line:column: message", or "file: message" without a line.
std::string formatXasmError(const XasmError& e);

struct XasmSymbol {
  std::string name;
  uint16_t value = 0;
};

// One source line that stored something, for source-level debugging.
struct XasmLine {
  int file = 0;          // index into XasmOutput::files
  int line = 0;          // 1-based source line
  uint32_t address = 0;  // first address the line stored to (a word address in word mode)
  uint32_t length = 0;   // addresses stored (bytes; words in word mode), above 0
};

struct XasmOutput {
  std::vector<XasmError> errors;  // in source order; empty when the image is good
  std::vector<uint8_t> image;
  uint32_t imageBase = 0;           // address of image[0] (a word address in word mode)
  std::string listing;              // address, bytes, source line
  std::vector<XasmSymbol> symbols;  // sorted by value, then name
  // [0] the main source as given, then every included file as opened, in
  // order of first inclusion (a file included twice is listed once).
  std::vector<std::string> files;
  // Every line that stored bytes (instructions, db, dw, ds with a fill), in
  // the order stored; the addresses and lengths are those of the listing.
  std::vector<XasmLine> lines;
  bool ok() const { return errors.empty(); }
};

// Reads a whole source file; nullopt when it cannot be read.
using SourceReader = std::function<std::optional<std::string>(const std::string& path)>;
std::optional<std::string> readSourceFile(const std::string& path);

// Empty when the options describe a usable image, else why not.
std::string checkXasmOptions(const XasmOptions& options);

XasmOutput assembleProgram(const std::string& path, const XasmOptions& options,
                           const SourceReader& reader = readSourceFile);

}  // namespace tarvo
