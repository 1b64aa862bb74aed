// Loading of the memory images, "register.bin" and "charset.bin" from any
// file content. Input: one byte choosing the file, then its content.
//
// Checked: a load succeeds exactly when the file supplies every byte; what
// the file supplies lands unchanged and the rest reads 0xFF. With bit 7 of
// the first byte set, the whole start and close of the machine run on a
// directory where every file holds the content: the RAM images and
// "register.bin" written at close are then the loaded bytes, padded to full
// size with 0xFF, and nothing else.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "cpu/memory.h"
#include "devices/lcd.h"
#include "frontpanel/files.h"
#include "frontpanel/run_loop.h"
#include "fuzz_support.h"
#include "machine.h"

using namespace tarvo;

namespace {

struct NoMessages : Messages {
  void loadFailed(const std::string&) override {}
  void saveFailed(const std::string&) override { std::abort(); }
};

std::vector<uint8_t> expected(const uint8_t* data, std::size_t size, std::size_t n) {
  std::vector<uint8_t> v(n, 0xFF);
  std::copy_n(data, std::min(size, n), v.begin());
  return v;
}

std::vector<uint8_t> readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A machine directory in memory (a tmpfs), one per process, removed at exit.
struct ScratchDir {
  std::string path;
  ScratchDir() {
    std::string pattern = "/dev/shm/tarvo-fuzz-XXXXXX";
    if (!::mkdtemp(pattern.data())) std::abort();
    path = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

const std::string& scratchDir() {
  static const ScratchDir dir;
  return dir.path;
}

void writeFile(const std::string& path, const uint8_t* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

void wholeMachine(const uint8_t* data, std::size_t size) {
  const std::string& dir = scratchDir();
  const char* names[] = {"charset.bin", "register.bin", "rom0.bin", "rom1.bin", "ram0.bin",
                         "ram1.bin",    "rom2.bin",     "rom3.bin", "tarvo.ini"};
  for (const char* name : names) writeFile(dir + "/" + name, data, size);

  NoMessages messages;
  auto m = std::make_unique<Machine>();
  // Settings may name a disk server; nothing here may reach the network.
  RunLoop loop(*m, messages, dir);
  loop.create();
  m->port.address.clear();
  loop.show(true);
  loop.close();

  FUZZ_CHECK(readAll(dir + "/register.bin") == expected(data, size, kRegisterFileSize));
  FUZZ_CHECK(readAll(dir + "/ram0.bin") == expected(data, size, 0x10000));
  FUZZ_CHECK(readAll(dir + "/ram1.bin") == expected(data, size, 0x8000));
  std::size_t entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    (void)e;
    ++entries;
  }
  // No temporary file is left behind.
  FUZZ_CHECK(entries == std::size(names));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const uint8_t choice = data[0];
  ++data;
  --size;
  const fuzz::MemoryFile file(data, size);

  switch (choice % 3) {
    case 0: {
      // A region image: sizes of the on-chip ROM, a 64 KB image and ram1.
      static const std::size_t sizes[] = {6144, 65536, 32768};
      const std::size_t n = sizes[(choice >> 2) % 3];
      std::vector<uint8_t> buffer(n, 0);
      const LoadResult r = loadFile(file.path(), buffer.data(), n);
      FUZZ_CHECK((r == LoadResult::Complete) == (size >= n));
      FUZZ_CHECK(r != LoadResult::Unreadable);
      FUZZ_CHECK(buffer == expected(data, size, n));
      break;
    }
    case 1: {
      ProcessorState c;
      const LoadResult r = loadRegisters(c, file.path());
      FUZZ_CHECK((r == LoadResult::Complete) == (size >= kRegisterFileSize));
      const std::vector<uint8_t> image = expected(data, size, kRegisterFileSize);
      FUZZ_CHECK(std::memcmp(c.R, image.data(), 32) == 0);
      FUZZ_CHECK(c.SS == (image[32] | image[33] << 8));
      FUZZ_CHECK(c.US == (image[34] | image[35] << 8));
      break;
    }
    case 2: {
      auto lcd = std::make_unique<Lcd>();
      const LoadResult r = loadCharset(*lcd, file.path());
      FUZZ_CHECK((r == LoadResult::Complete) == (size >= kCharsetFileSize));
      const std::vector<uint8_t> image = expected(data, size, kCharsetFileSize);
      for (std::size_t n = 0; n < kCharsetFileSize; ++n) {
        FUZZ_CHECK(lcd->glyphs[2 * n] == image[n] >> 4);
        FUZZ_CHECK(lcd->glyphs[2 * n + 1] == (image[n] & 0x0F));
      }
      break;
    }
  }
  if (choice & 0x80) wholeMachine(data, size);
  return 0;
}
