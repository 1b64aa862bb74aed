// The few host services the front panel takes from libraries that differ
// between the desktop and the browser: the CRC-32 of the state files, the
// settings text parser and the GIF encoder of the LCD recordings. The desktop
// build links native/host_services.cpp (zlib, inih, giflib); the web page
// links its own implementation over JavaScript libraries. Files are plain POSIX calls on both (the
// page's machine directory lives in an in-memory file system).
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

// An animated GIF being written, frame by frame.
struct GifFile;

// Creates the file at path for frames of width x height pixels drawn in four
// colours (0xRRGGBB), played in a loop. Null when the file cannot be made,
// or when the host has no GIF encoder.
GifFile* gifCreate(const char* path, int width, int height, const uint32_t palette[4]);
// One frame of width x height palette indices (0-3), row by row, shown for
// delayCs hundredths of a second. False when the write failed.
bool gifAddFrame(GifFile* gif, const uint8_t* indices, int delayCs);
// Ends the file and frees gif; false when that write failed.
bool gifClose(GifFile* gif);

}  // namespace tarvo::host
