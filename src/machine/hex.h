// The value of one hex digit, for every reader of typed or stored hex text
// (addresses, register values, symbol files, settings, typed fields).
#pragma once

namespace tarvo {

// 0-9, A-F or a-f as 0..15; -1 for any other character.
constexpr int hexDigit(char32_t ch) {
  if (ch >= U'0' && ch <= U'9') return static_cast<int>(ch - U'0');
  if (ch >= U'A' && ch <= U'F') return static_cast<int>(ch - U'A') + 10;
  if (ch >= U'a' && ch <= U'f') return static_cast<int>(ch - U'a') + 10;
  return -1;
}

}  // namespace tarvo
