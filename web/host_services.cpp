// The page's host services: the CRC-32 and the settings parser of the
// JavaScript libraries the page loads (crc-32 and ini), reached through
// Module.host, which the page sets before the module starts. The page
// records no GIF of the LCD: it has no encoder, and says so by refusing to
// create the file.
#include "frontpanel/host_services.h"

#include <emscripten/emscripten.h>

#include <cstdlib>

namespace tarvo::host {

namespace {

// clang-format off
EM_JS(uint32_t, js_crc32, (const uint8_t* data, std::size_t n), {
  return Module.host.crc32(HEAPU8.subarray(data, data + n)) >>> 0;
});

// The parsed text as "section\0name\0value\0" triples, malloc'd, with the
// count of triples in *count.
EM_JS(char*, js_parse_ini, (const char* text, int* count), {
  const entries = Module.host.parseIni(UTF8ToString(text));
  const encoder = new TextEncoder();
  const encoded = [];
  let size = 1;
  for (const triple of entries) {
    for (const s of triple) {
      const bytes = encoder.encode(s);
      size += bytes.length + 1;
      encoded.push(bytes);
    }
  }
  const out = _malloc(size);
  let at = out;
  for (const bytes of encoded) {
    HEAPU8.set(bytes, at);
    HEAPU8[at + bytes.length] = 0;
    at += bytes.length + 1;
  }
  HEAP32[count >> 2] = entries.length;
  return out;
});
// clang-format on

}  // namespace

uint32_t crc32(const uint8_t* data, std::size_t n) {
  return js_crc32(data, n);
}

void parseIni(const char* text, IniHandler handler, void* user) {
  int count = 0;
  char* entries = js_parse_ini(text, &count);
  const char* p = entries;
  auto next = [&p] {
    const char* s = p;
    while (*p) ++p;
    ++p;
    return s;
  };
  for (int i = 0; i < count; ++i) {
    const char* section = next();
    const char* name = next();
    const char* value = next();
    handler(user, section, name, value);  // a refused line does not end the parse
  }
  std::free(entries);
}

struct GifFile {};

GifFile* gifCreate(const char*, int, int, const uint32_t*) {
  return nullptr;
}

bool gifAddFrame(GifFile*, const uint8_t*, int) {
  return false;
}

bool gifClose(GifFile* gif) {
  delete gif;
  return false;
}

}  // namespace tarvo::host
