// The few host services the front panel takes from libraries that differ
// between the desktop and the browser: the CRC-32 of the state files and the
// settings text parser. The desktop build links native/host_services.cpp
// (zlib, inih); the web page links its own implementation over JavaScript
// libraries. Files are plain POSIX calls on both (the page's machine
// directory lives in an in-memory file system).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvo::host {

// CRC-32 (ISO-HDLC, as zlib and gzip compute it) of n bytes.
uint32_t crc32(const uint8_t* data, std::size_t n);

// Called once per key = value line, in file order, with its section; a
// non-zero return goes on.
using IniHandler = int (*)(void* user, const char* section, const char* name, const char* value);

// Parses settings text, a NUL-terminated string of sections and key = value
// lines, and calls handler for each value.
void parseIni(const char* text, IniHandler handler, void* user);

}  // namespace tarvo::host
