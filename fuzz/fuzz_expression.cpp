// The debugger's typed texts: breakpoint conditions and expressions, typed
// addresses, symbol files. Input: 8 bytes of processor state (PC, IX, UA, F,
// two main registers), then the text.
//
// Beyond memory safety: every text either parses or gives a message; a
// parsed expression gives a value or a message, the same one twice; a typed
// address gives a value or a message; a symbol file keeps every line it
// does not refuse.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "debugger/expression.h"
#include "debugger/symbols.h"
#include "fuzz_support.h"
#include "machine.h"

using namespace tarvo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  Machine& m = fuzz::unbankedMachine();
  m.cpu.PC = static_cast<uint16_t>(data[0] | data[1] << 8);
  m.cpu.IX = static_cast<uint16_t>(data[2] | data[3] << 8);
  m.cpu.UA = data[4];
  m.cpu.F = data[5];
  m.cpu.R[data[6] & 31] = data[7];
  const std::string_view text(reinterpret_cast<const char*>(data + 8), size - 8);

  SymbolTable symbols;
  symbols.add("start", 0x8000);
  symbols.add("loop", 0x803A);
  const Expression e = Expression::parse(text, &symbols);
  FUZZ_CHECK(e.ok() != !e.error().empty());
  if (e.ok()) {
    std::string error1, error2;
    const auto v1 = e.evaluate(m, &error1);
    const auto v2 = e.evaluate(m, &error2);
    FUZZ_CHECK(v1.has_value() != !error1.empty());
    FUZZ_CHECK(v1 == v2 && error1 == error2);
  }

  std::string error;
  const auto a = parseTypedAddress(text, &symbols, &error);
  FUZZ_CHECK(a.has_value() || !error.empty());

  SymbolTable file;
  std::vector<std::string> errors;
  file.addText(text, &errors);
  std::size_t lines = 0;
  for (char ch : text) lines += ch == '\n';
  FUZZ_CHECK(file.size() + errors.size() <= lines + 1);
  if (!file.empty()) {
    const std::string d = file.describe(0xFFFF, 0xFFFF);
    FUZZ_CHECK(!d.empty());
    labelOperands(text, file);
  }
  return 0;
}
