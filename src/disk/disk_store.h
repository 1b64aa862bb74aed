// The disk server's store: a directory on the host that keeps each saved
// program as one file named after it. Names are plain (no path, nothing
// hidden), files and the directory as a whole have an upper bound, and a
// file is replaced atomically, so a reader never sees half of one.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::disk {

// The answer bytes of the protocol that are not data (docs/disk.md).
enum class Status : uint8_t {
  Ok = 0x00,
  BadCommand = 0x01,
  BadName = 0x02,
  NotFound = 0x03,
  TooBig = 0x04,
  DiskFull = 0x05,
  IoError = 0x06,
};

// 1 to 16 characters of A-Z, a-z, 0-9, "_", "-" and ".", not starting with
// "." and with no "..".
constexpr std::size_t kMaxNameLength = 16;
bool validName(std::string_view name);

struct Limits {
  std::size_t maxFileBytes = 65535;  // also what the protocol's length can say
  std::size_t maxFiles = 256;
  uint64_t maxDirBytes = 4u << 20;
};

struct Entry {
  std::string name;
  uint64_t size = 0;
};

class DiskStore {
 public:
  DiskStore(std::filesystem::path dir, Limits limits);

  const std::filesystem::path& dir() const { return dir_; }
  const Limits& limits() const { return limits_; }

  // Whether a file of this size may be stored under name now, replacing
  // one of the same name: Ok, BadName, TooBig or DiskFull.
  Status canStore(std::string_view name, uint64_t size) const;
  // Writes to a temporary file beside the target, flushes it and renames it
  // over the target. Ok, or the reason nothing changed.
  Status save(std::string_view name, const std::vector<uint8_t>& bytes);
  // Ok, BadName, NotFound, TooBig (a file larger than a program may be) or
  // IoError.
  Status load(std::string_view name, std::vector<uint8_t>& bytes) const;
  Status remove(std::string_view name);
  // The programs that load would give, sorted by name.
  std::vector<Entry> list() const;

  // Temporary files left by a server that stopped in the middle of a save.
  void removeStaleTemporaries();

 private:
  std::filesystem::path dir_;
  Limits limits_;
};

}  // namespace tarvo::disk
