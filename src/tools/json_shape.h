// The shape of a JSON text, measured before it is parsed, so that a text
// too deep or too large to be worth building is refused without building
// it: a parser builds every nested array and every value, and a few bytes
// of text can cost a hundred of memory.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace tarvo {

struct JsonShape {
  int depth = 0;           // the deepest nesting of arrays and objects
  std::size_t values = 0;  // values and member names, counted from above
};

// Brackets, commas and colons inside strings do not count. Counting stops
// once the depth passes depthLimit or the values pass valueLimit.
inline JsonShape measureJson(std::string_view t, int depthLimit, std::size_t valueLimit) {
  JsonShape shape;
  shape.values = 1;
  int depth = 0;
  bool inString = false;
  for (std::size_t i = 0; i < t.size(); ++i) {
    const char c = t[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    switch (c) {
      case '"':
        inString = true;
        break;
      case '[':
      case '{':
        shape.depth = std::max(shape.depth, ++depth);
        ++shape.values;
        break;
      case ']':
      case '}':
        --depth;
        break;
      case ',':
      case ':':
        ++shape.values;
        break;
      default:
        break;
    }
    if (shape.depth > depthLimit || shape.values > valueLimit) break;
  }
  return shape;
}

}  // namespace tarvo
