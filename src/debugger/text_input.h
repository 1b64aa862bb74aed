// Typed text of the debug window: the digit filter that runs while the user
// types into an edit box, and the readings of the numbers typed there.
// Texts are UTF-16 code units, the unit of caret positions in an edit box.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvo {

// Value of a typed character as a digit: 0-9, A-F and a-f count 0..15, any
// other character 16.
int typedDigitValue(char16_t ch);

struct TypedText {
  std::u16string text;
  int caret = 0;      // 0-based; the start of the selection when there is one
  int selection = 0;  // selected characters after the caret
};

// Keeps only the characters whose digit value is below radix. Every deleted
// character before the caret moves the caret one to the left; one inside the
// selection makes the selection one shorter.
TypedText filterDigits(TypedText in, int radix);

// ASCII letters to upper case, one code unit for one, so positions hold.
void upperCaseLetters(std::u16string& text);

// A field's number: blanks trimmed, hexadecimal, an empty box reads 0.
// Reading stops at a character that is no digit and before a digit once the
// value has passed 0x0FFFFFFF, so at most eight significant digits count.
uint32_t readTypedHex(std::u16string_view text);

// The step count of a trace run: blanks trimmed, decimal, empty reads 0.
// Reading stops before a digit once the value has passed 214748364; a last
// digit that carries it past 2147483647 wraps to a negative count.
int32_t readTraceCount(std::u16string_view text);

// The address of a breakpoint run: readTypedHex taken as a signed number.
int32_t readBreakpointAddress(std::u16string_view text);

}  // namespace tarvo
