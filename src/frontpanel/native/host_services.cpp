// The desktop's host services: zlib's CRC-32 and inih's settings parser.
#include "frontpanel/host_services.h"

#include <ini.h>
#include <zlib.h>

namespace tarvo::host {

uint32_t crc32(const uint8_t* data, std::size_t n) {
  return static_cast<uint32_t>(::crc32(::crc32(0, nullptr, 0), data, static_cast<uInt>(n)));
}

void parseIni(const char* text, IniHandler handler, void* user) {
  ::ini_parse_string(text, handler, user);
}

}  // namespace tarvo::host
