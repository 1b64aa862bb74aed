#include "machine/digest.h"

#include <cstdio>

#include "machine/state_fields.h"

namespace tarvo {

uint64_t stateDigest(const Machine& m, const Scheduler* scheduler) {
  uint64_t h = 0xCBF29CE484222325u;
  forEachStateField(m, scheduler, [&](const void* data, std::size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    for (std::size_t i = 0; i < size; ++i) h = (h ^ p[i]) * 0x100000001B3u;
  });
  return h;
}

std::string stateDigestText(const Machine& m, const Scheduler* scheduler) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx",
                static_cast<unsigned long long>(stateDigest(m, scheduler)));
  return text;
}

}  // namespace tarvo
