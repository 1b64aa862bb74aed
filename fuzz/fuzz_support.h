// Helpers shared by the fuzz targets.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "machine.h"

namespace tarvo::fuzz {

// An invariant that must hold for every input: a failure stops the run with
// the input saved as a crash.
#define FUZZ_CHECK(cond)                                                                \
  do {                                                                                  \
    if (!(cond)) {                                                                      \
      std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                     \
    }                                                                                   \
  } while (0)

// One machine for the whole run, every buffer 0xFF and both bank selects
// 0: every read comes from the rows themselves. Built once and never freed,
// so the leak checker does not count it.
inline Machine& unbankedMachine() {
  static Machine* m = [] {
    auto* mm = new Machine;
    for (Region& row : mm->mem.rows) row.buffer.assign(row.size(), 0xFF);
    mm->mem.bankA() = mm->mem.bankB() = 0;
    return mm;
  }();
  return *m;
}

// A file that lives only in memory, reachable by a path, so that the file
// readers see exactly the fuzz input without touching the disk.
class MemoryFile {
 public:
  MemoryFile(const uint8_t* data, std::size_t size) {
    fd_ = ::memfd_create("tarvo-fuzz", MFD_CLOEXEC);
    if (fd_ < 0) std::abort();
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = ::write(fd_, data + done, size - done);
      if (n <= 0) std::abort();
      done += static_cast<std::size_t>(n);
    }
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~MemoryFile() { ::close(fd_); }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  const std::string& path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace tarvo::fuzz
