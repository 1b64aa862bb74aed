// Labels of a program, as tarvo-asm --symbols writes them: one "NAME HHHH"
// a line. The debugger shows them in the disassembly and takes them wherever
// an address is typed.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo {

class SymbolTable {
 public:
  // Adds the labels of a symbol file's text. Lines that are not "NAME HHHH"
  // (blank lines aside) are reported in *errors as "LINE: text" and skipped.
  void addText(std::string_view text, std::vector<std::string>* errors = nullptr);
  // Reads a symbol file; false when it cannot be read.
  bool load(const std::string& path, std::vector<std::string>* errors = nullptr);

  void add(std::string name, uint16_t value);
  bool empty() const { return byName_.empty(); }
  std::size_t size() const { return byName_.size(); }

  std::optional<uint16_t> value(std::string_view name) const;
  // The label at exactly this address (the first by name when several).
  const std::string* nameAt(uint16_t address) const;
  // "label" or "label+&HN" for the nearest label at or below the address,
  // within maxOffset; empty when there is none.
  std::string describe(uint16_t address, uint16_t maxOffset = 0x100) const;

 private:
  std::map<std::string, uint16_t, std::less<>> byName_;
  std::multimap<uint16_t, std::string> byValue_;
};

// An address as the user types it: a label, label+HEX or label-HEX, or hex
// digits (an optional "&H" or "0x" prefix). A name the symbols define is
// that label even when it is spelled with hex digits only ("beef", "add");
// "&H" or "0x" makes a number, and so does a name they do not define.
// Nothing when it is neither; *error then says why. *isLabel tells which of
// the two it was. Every place that takes a typed address reads it here.
std::optional<uint32_t> parseTypedAddress(std::string_view text, const SymbolTable* symbols,
                                          std::string* error = nullptr, bool* isLabel = nullptr);

// Operand text with every four-digit "&HXXXX" that names a label replaced by
// the label ("cal &H1234" -> "cal print_digit").
std::string labelOperands(std::string_view operands, const SymbolTable& symbols);

}  // namespace tarvo
