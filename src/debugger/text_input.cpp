#include "debugger/text_input.h"

#include "machine/hex.h"

namespace tarvo {

namespace {

std::u16string_view trimBlanks(std::u16string_view s) {
  while (!s.empty() && s.front() <= u' ') s.remove_prefix(1);
  while (!s.empty() && s.back() <= u' ') s.remove_suffix(1);
  return s;
}

}  // namespace

int typedDigitValue(char16_t ch) {
  const int d = hexDigit(ch);
  return d < 0 ? 16 : d;
}

TypedText filterDigits(TypedText in, int radix) {
  TypedText out;
  out.caret = in.caret;
  out.selection = in.selection;
  out.text.reserve(in.text.size());
  // j is the 1-based position the character would take in the kept text.
  int j = 1;
  for (char16_t ch : in.text) {
    if (typedDigitValue(ch) < radix) {
      out.text += ch;
      ++j;
    } else if (j <= out.caret) {
      --out.caret;
    } else if (j <= out.caret + out.selection) {
      --out.selection;
    }
  }
  return out;
}

void upperCaseLetters(std::u16string& text) {
  for (char16_t& ch : text) {
    if (ch >= u'a' && ch <= u'z') ch = static_cast<char16_t>(ch - u'a' + u'A');
  }
}

uint32_t readTypedHex(std::u16string_view text) {
  uint32_t value = 0;
  for (char16_t ch : trimBlanks(text)) {
    const int d = typedDigitValue(ch);
    if (d >= 16 || value > 0x0FFFFFFFu) break;
    value = value * 16 + static_cast<uint32_t>(d);
  }
  return value;
}

int32_t readTraceCount(std::u16string_view text) {
  uint32_t value = 0;
  for (char16_t ch : trimBlanks(text)) {
    const int d = typedDigitValue(ch);
    if (d >= 10 || value > 214748364u) break;
    value = value * 10 + static_cast<uint32_t>(d);
  }
  return static_cast<int32_t>(value);
}

int32_t readBreakpointAddress(std::u16string_view text) {
  return static_cast<int32_t>(readTypedHex(text));
}

}  // namespace tarvo
