#include "disk/disk_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tarvo::disk {

namespace {

// Temporary files start with a dot, so no valid name ever matches one.
constexpr std::string_view kTempPrefix = ".tarvo-disk-";

bool nameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-' || c == '.';
}

// Size of a regular file (not followed through a link); -1 for anything else.
int64_t regularFileSize(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return st.st_size;
}

bool writeAll(int fd, const uint8_t* data, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, data, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    data += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

void syncDirectory(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

bool validName(std::string_view name) {
  if (name.empty() || name.size() > kMaxNameLength || name.front() == '.') return false;
  if (name.find("..") != std::string_view::npos) return false;
  return std::all_of(name.begin(), name.end(), nameChar);
}

DiskStore::DiskStore(std::filesystem::path dir, Limits limits)
    : dir_(std::move(dir)), limits_(limits) {}

std::vector<Entry> DiskStore::list() const {
  std::vector<Entry> entries;
  DIR* d = ::opendir(dir_.c_str());
  if (!d) return entries;
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (!validName(name)) continue;
    const int64_t size = regularFileSize((dir_ / name).string());
    if (size < 0 || static_cast<uint64_t>(size) > limits_.maxFileBytes) continue;
    entries.push_back({name, static_cast<uint64_t>(size)});
  }
  ::closedir(d);
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return a.name < b.name; });
  return entries;
}

Status DiskStore::canStore(std::string_view name, uint64_t size) const {
  if (!validName(name)) return Status::BadName;
  if (size > limits_.maxFileBytes) return Status::TooBig;
  // What the directory holds besides the file that would be replaced.
  uint64_t bytes = 0;
  std::size_t files = 0;
  for (const Entry& e : list()) {
    if (e.name == name) continue;
    bytes += e.size;
    ++files;
  }
  if (files + 1 > limits_.maxFiles || bytes + size > limits_.maxDirBytes) return Status::DiskFull;
  return Status::Ok;
}

Status DiskStore::save(std::string_view name, const std::vector<uint8_t>& bytes) {
  const Status room = canStore(name, bytes.size());
  if (room != Status::Ok) return room;
  const std::string target = (dir_ / std::string(name)).string();
  // Something that is not a plain file under this name stays as it is.
  struct stat st {};
  if (::lstat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return Status::IoError;

  std::string temp = (dir_ / (std::string(kTempPrefix) + std::string(name) + "-XXXXXX")).string();
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return Status::IoError;
  bool ok = writeAll(fd, bytes.data(), bytes.size()) && ::fchmod(fd, 0644) == 0 && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (!ok || ::rename(temp.c_str(), target.c_str()) != 0) {
    ::unlink(temp.c_str());
    return Status::IoError;
  }
  syncDirectory(dir_.string());
  return Status::Ok;
}

Status DiskStore::load(std::string_view name, std::vector<uint8_t>& bytes) const {
  bytes.clear();
  if (!validName(name)) return Status::BadName;
  const std::string path = (dir_ / std::string(name)).string();
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT ? Status::NotFound : Status::IoError;
  struct stat st {};
  Status status = Status::Ok;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    status = Status::IoError;
  } else if (static_cast<uint64_t>(st.st_size) > limits_.maxFileBytes) {
    status = Status::TooBig;
  } else {
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < bytes.size()) {
      const ssize_t r = ::read(fd, bytes.data() + got, bytes.size() - got);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      got += static_cast<std::size_t>(r);
    }
    // A file that changed size while it was read is taken as it was read.
    bytes.resize(got);
  }
  ::close(fd);
  if (status != Status::Ok) bytes.clear();
  return status;
}

Status DiskStore::remove(std::string_view name) {
  if (!validName(name)) return Status::BadName;
  const std::string path = (dir_ / std::string(name)).string();
  const int64_t size = regularFileSize(path);
  if (size < 0) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? Status::IoError : Status::NotFound;
  }
  if (::unlink(path.c_str()) != 0) return errno == ENOENT ? Status::NotFound : Status::IoError;
  syncDirectory(dir_.string());
  return Status::Ok;
}

void DiskStore::removeStaleTemporaries() {
  DIR* d = ::opendir(dir_.c_str());
  if (!d) return;
  std::vector<std::string> stale;
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name.compare(0, kTempPrefix.size(), kTempPrefix) == 0 &&
        regularFileSize((dir_ / name).string()) >= 0)
      stale.push_back(name);
  }
  ::closedir(d);
  for (const std::string& name : stale) ::unlink((dir_ / name).c_str());
}

}  // namespace tarvo::disk
