#include "frontpanel/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>
#include <vector>

#include "cpu/state.h"
#include "devices/lcd.h"
#include "frontpanel/host_services.h"
#include "machine/hex.h"

namespace tarvo {

namespace {

// Settings files are a few lines long; anything bigger is not one.
constexpr std::size_t kMaxSettingsSize = 1 << 20;

// Opens a regular file for reading without ever blocking (a FIFO or device
// in its place would otherwise hang the start). Returns -1 with *missing set
// when nothing is there.
int openRegularFile(const std::string& path, bool* missing) {
  *missing = false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    *missing = errno == ENOENT;
    return -1;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Reads up to n bytes; returns the count, or -1 on an I/O error.
long readUpTo(int fd, uint8_t* buffer, std::size_t n) {
  std::size_t got = 0;
  while (got < n) {
    const ssize_t r = ::read(fd, buffer + got, n - got);
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) break;
    got += static_cast<std::size_t>(r);
  }
  return static_cast<long>(got);
}

bool writeAll(int fd, const uint8_t* buffer, std::size_t n) {
  std::size_t done = 0;
  while (done < n) {
    const ssize_t w = ::write(fd, buffer + done, n - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(w);
  }
  return true;
}

std::string directoryOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Follows symbolic links from path to the file they finally name, which
// need not exist yet. A relative link is taken against the directory of the
// link itself. Returns path unchanged when it is no link.
std::string resolveLinks(std::string path) {
  for (int depth = 0; depth < 40; ++depth) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::vector<char> target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
    const ssize_t got = ::readlink(path.c_str(), target.data(), target.size());
    if (got <= 0 || static_cast<std::size_t>(got) >= target.size()) return path;
    const std::string link(target.data(), static_cast<std::size_t>(got));
    path = link.front() == '/' ? link : machinePath(directoryOf(path), link);
  }
  return path;
}

// Temporary files are named "." + the file's name + "." + 12 hex digits.
constexpr std::size_t kTemporarySuffixDigits = 12;

bool isTemporaryOf(const std::string& entry, const std::string& base) {
  const std::size_t head = base.size() + 2;
  if (entry.size() != head + kTemporarySuffixDigits || entry[0] != '.' ||
      entry.compare(1, base.size(), base) != 0 || entry[head - 1] != '.')
    return false;
  for (std::size_t i = head; i < entry.size(); ++i) {
    const char c = entry[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// Creates a new, empty file with a name of its own beside the image and
// locks it: while the lock is held, no other save of the same file takes it
// for a leftover. Mode 0666 lets the kernel apply the process's umask, as
// for any new file.
int createTemporary(const std::string& dir, const std::string& base, std::string& name) {
  uint64_t seed =
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
      (static_cast<uint64_t>(::getpid()) << 32);
  for (int attempt = 0; attempt < 100; ++attempt) {
    seed = seed * 6364136223846793005u + 1442695040888963407u;
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%012llx",
                  static_cast<unsigned long long>(seed >> 16) & 0xFFFFFFFFFFFFull);
    name = machinePath(dir, "." + base + suffix);
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd >= 0) {
      ::flock(fd, LOCK_EX | LOCK_NB);
      return fd;
    }
    if (errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

// Removes the temporary files an earlier save of base left behind when it
// was killed before it could tidy up. Only files of this user that no
// running save holds locked are taken.
void removeLeftovers(const std::string& dir, const std::string& base) {
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  while (const dirent* e = ::readdir(d)) {
    const std::string entry = e->d_name;
    if (!isTemporaryOf(entry, base)) continue;
    const std::string path = machinePath(dir, entry);
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW);
    if (fd < 0) continue;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0)
      ::unlink(path.c_str());
    ::close(fd);
  }
  ::closedir(d);
}

std::string baseName(const std::string& path) {
  return path.substr(path.find_last_of('/') + 1);
}

// A file written whole beside its target, not yet renamed over it. The
// descriptor stays open (and locked) until the rename is done.
struct PendingFile {
  std::string target;
  std::string temp;
  int fd = -1;
};

// Writes the temporary file. Returns false with errno set by the step that
// failed; nothing is left behind then.
bool prepareRename(const std::string& path, const struct stat* old, const uint8_t* buffer,
                   std::size_t n, PendingFile& out) {
  out.target = path;
  out.fd = createTemporary(directoryOf(path), baseName(path), out.temp);
  if (out.fd < 0) return false;
  const bool ok = (old == nullptr || ::fchmod(out.fd, old->st_mode & 07777) == 0) &&
                  writeAll(out.fd, buffer, n) && ::fsync(out.fd) == 0;
  if (!ok) {
    const int error = errno;
    ::unlink(out.temp.c_str());
    ::close(out.fd);
    out.fd = -1;
    errno = error;
  }
  return ok;
}

void abandon(PendingFile& p) {
  if (p.fd < 0) return;
  ::unlink(p.temp.c_str());
  ::close(p.fd);
  p.fd = -1;
}

// The temporary file's content goes over the target in one rename.
// The descriptor is closed after the rename; its data was flushed before,
// so closing it cannot lose what the file now holds.
bool commitRename(PendingFile& p) {
  const bool ok = ::rename(p.temp.c_str(), p.target.c_str()) == 0;
  const int error = errno;
  if (!ok) ::unlink(p.temp.c_str());
  ::close(p.fd);
  p.fd = -1;
  if (!ok) {
    errno = error;
    return false;
  }
  // Make the rename itself durable; the data is already safe either way.
  const int dirFd = ::open(directoryOf(p.target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  removeLeftovers(directoryOf(p.target), baseName(p.target));
  return true;
}

bool saveByRename(const std::string& path, const struct stat* old, const uint8_t* buffer,
                  std::size_t n) {
  PendingFile p;
  return prepareRename(path, old, buffer, n, p) && commitRename(p);
}

bool writeAllAt(int fd, const uint8_t* buffer, std::size_t n) {
  std::size_t done = 0;
  while (done < n) {
    const ssize_t w = ::pwrite(fd, buffer + done, n - done, static_cast<off_t>(done));
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(w);
  }
  return true;
}

// Images larger than this are not the machine's: an in-place save refuses
// them rather than hold a copy for undoing.
constexpr off_t kMaxInPlaceSize = 64 << 20;

// Writes the existing file itself: its name, links, owner and mode stay as
// they are. The old content is read first, so that a write that fails
// halfway can be undone and the file is left as it was.
bool saveInPlace(const std::string& path, const uint8_t* buffer, std::size_t n) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxInPlaceSize) {
    ::close(fd);
    return false;
  }
  std::vector<uint8_t> old(static_cast<std::size_t>(st.st_size));
  const long got = readUpTo(fd, old.data(), old.size());
  if (got < 0) {
    ::close(fd);
    return false;
  }
  old.resize(static_cast<std::size_t>(got));
  bool ok =
      writeAllAt(fd, buffer, n) && ::ftruncate(fd, static_cast<off_t>(n)) == 0 && ::fsync(fd) == 0;
  if (!ok) {
    // Put back what was there; the undo can only shrink or rewrite bytes
    // that were already written once.
    writeAllAt(fd, old.data(), old.size());
    ::ftruncate(fd, static_cast<off_t>(old.size()));
    ::fsync(fd);
  }
  ok = (::close(fd) == 0) && ok;
  return ok;
}

bool isBlank(char ch) {
  return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\v' || ch == '\f';
}

// The library takes lines of at most 198 characters and reads the rest of a
// longer one as a line of its own. Longer lines are therefore given to it
// in a short form of the same meaning, with a value that would still be too
// long kept aside and handed over by its number.
constexpr std::size_t kShortLine = 150;
// A value beginning with this byte is the number of a value kept aside.
constexpr char kKeptValue = '\x01';

std::string_view trimBlanks(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The short form of a long line: "[name]" for a section, "name=value" for
// a key, cut where the library would cut it (the first '=' or ':', an
// inline comment after a blank). A section or key name too long to be one
// of the settings becomes one that matches nothing; a line that is neither
// is dropped, as the library would ignore it.
std::string shortenLine(std::string_view line, std::vector<std::string>& keptValues) {
  if (line.front() == '[') {
    const auto close = line.find(']');
    if (close == std::string_view::npos) return {};
    const std::string_view name = trimBlanks(line.substr(1, close - 1));
    if (name.size() > kShortLine) return std::string("[") + kKeptValue + "]";
    return "[" + std::string(name) + "]";
  }
  std::size_t sep = 0;
  while (sep < line.size() && line[sep] != '=' && line[sep] != ':' &&
         !(line[sep] == ';' && sep > 0 && isBlank(line[sep - 1])))
    ++sep;
  if (sep == line.size() || line[sep] == ';') return {};
  const std::string_view name = trimBlanks(line.substr(0, sep));
  std::string_view value = line.substr(sep + 1);
  for (std::size_t at = 1; at < value.size(); ++at) {
    if (value[at] == ';' && isBlank(value[at - 1])) {
      value = value.substr(0, at);
      break;
    }
  }
  value = trimBlanks(value);
  if (name.size() > kShortLine) return std::string(1, kKeptValue) + "=";
  std::string out(name);
  out.push_back('=');
  if (value.size() > kShortLine || (!value.empty() && value.front() == kKeptValue)) {
    out.push_back(kKeptValue);
    out += std::to_string(keptValues.size());
    keptValues.emplace_back(value);
  } else {
    out.append(value);
  }
  return out;
}

// The library reads indented lines as continuations of the previous value,
// and strips a byte-order mark only where its build allows it. Blanks before
// a name and the mark carry no meaning here, so both go before parsing, as do
// whole-line comments (which may be longer than a line the library takes).
// Lines too long for the library are shortened.
std::string normaliseSettingsText(std::string_view text, std::vector<std::string>& keptValues) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::string out;
  out.reserve(text.size() + 1);
  while (!text.empty()) {
    auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    while (!line.empty() && isBlank(line.front())) line.remove_prefix(1);
    if (!line.empty() && (line.front() == ';' || line.front() == '#')) continue;
    if (line.size() > kShortLine || line.find(kKeptValue) != std::string_view::npos) {
      out += shortenLine(line, keptValues);
    } else {
      out.append(line);
    }
    out.push_back('\n');
  }
  return out;
}

struct SettingsReader {
  Settings settings;
  bool haveOscFreq = false, haveOptionCode = false, haveAddress = false, havePort = false;
  bool haveRewind = false;
  std::vector<std::string> keptValues;
};

// The first occurrence of each key counts; later ones are ignored.
int settingsHandler(void* user, const char* section, const char* name, const char* value) {
  auto& r = *static_cast<SettingsReader*>(user);
  if (value[0] == kKeptValue) {
    const std::size_t index = std::strtoul(value + 1, nullptr, 10);
    value = index < r.keptValues.size() ? r.keptValues[index].c_str() : "";
  }
  auto is = [](std::string_view a, const char* b) {
    while (!a.empty() && isBlank(a.front())) a.remove_prefix(1);
    while (!a.empty() && isBlank(a.back())) a.remove_suffix(1);
    return a.size() == std::strlen(b) && ::strncasecmp(a.data(), b, a.size()) == 0;
  };
  int32_t number = 0;
  if (is(section, "Settings")) {
    if (is(name, "OscFreq") && !r.haveOscFreq) {
      r.haveOscFreq = true;
      if (parseSettingsInteger(value, number)) r.settings.oscFreq = number;
    } else if (is(name, "OptionCode") && !r.haveOptionCode) {
      r.haveOptionCode = true;
      if (parseSettingsInteger(value, number)) r.settings.optionCode = number;
    } else if (is(name, "RewindMemory") && !r.haveRewind) {
      r.haveRewind = true;
      if (parseSettingsInteger(value, number) && number >= 0 && number <= 65536)
        r.settings.rewindMegabytes = number;
    }
  } else if (is(section, "Floppy Disk Drive")) {
    if (is(name, "Address") && !r.haveAddress) {
      r.haveAddress = true;
      r.settings.address = value;
    } else if (is(name, "Port") && !r.havePort) {
      r.havePort = true;
      if (parseSettingsInteger(value, number)) r.settings.port = number;
    }
  }
  return 1;
}

}  // namespace

std::string machinePath(const std::string& dir, const std::string& name) {
  if (dir.empty() || dir == ".") return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

LoadResult loadFile(const std::string& path, uint8_t* buffer, std::size_t n) {
  std::memset(buffer, 0xFF, n);
  bool missing = false;
  const int fd = openRegularFile(path, &missing);
  if (fd < 0) return missing ? LoadResult::Short : LoadResult::Unreadable;
  const long got = readUpTo(fd, buffer, n);
  ::close(fd);
  if (got < 0) {
    // Whatever a failed read left behind is not the file's content.
    std::memset(buffer, 0xFF, n);
    return LoadResult::Unreadable;
  }
  return static_cast<std::size_t>(got) == n ? LoadResult::Complete : LoadResult::Short;
}

ShutdownSignalsHeld::ShutdownSignalsHeld() {
  sigset_t held;
  sigemptyset(&held);
  for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&held, s);
  pthread_sigmask(SIG_BLOCK, &held, &previous_);
}

ShutdownSignalsHeld::~ShutdownSignalsHeld() {
  pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

namespace {

// Where a save goes and how: the file a link names, and whether the file
// must be written in place (see saveFile). False when nothing can be written
// there.
bool planSave(const std::string& path, std::string& target, bool& exists, bool& inPlace,
              struct stat& st) {
  // Through a link, the file it names is written and the link stays.
  target = resolveLinks(path);
  // Links that never end in a file name nothing that could be written.
  if (::lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return false;
  const bool found = ::stat(target.c_str(), &st) == 0;
  // Nothing is written over a directory.
  if (found && S_ISDIR(st.st_mode)) return false;
  exists = found && S_ISREG(st.st_mode);
  // A new file in place of this one would part it from its other names or
  // give it to the user running now.
  inPlace = exists && (st.st_nlink > 1 || st.st_uid != ::geteuid());
  return true;
}

// A directory that takes no new names (read-only, or a machine folder
// shared by several users) may still hold an image that can be written.
bool renameRefused(int error) {
  return error == EACCES || error == EPERM || error == EROFS;
}

bool saveOne(const std::string& path, const uint8_t* buffer, std::size_t n) {
  std::string target;
  bool exists = false, inPlace = false;
  struct stat st;
  if (!planSave(path, target, exists, inPlace, st)) return false;
  if (inPlace) return saveInPlace(target, buffer, n);
  if (saveByRename(target, exists ? &st : nullptr, buffer, n)) return true;
  if (exists && renameRefused(errno)) return saveInPlace(target, buffer, n);
  return false;
}

}  // namespace

bool saveFile(const std::string& path, const uint8_t* buffer, std::size_t n) {
  const ShutdownSignalsHeld held;
  return saveOne(path, buffer, n);
}

bool saveFiles(const std::vector<FileToSave>& files) {
  const ShutdownSignalsHeld held;
  std::vector<PendingFile> pending(files.size());
  auto oneByOne = [&] {
    for (PendingFile& p : pending) abandon(p);
    for (const FileToSave& f : files)
      if (!saveOne(f.path, f.data, f.size)) return false;
    return true;
  };
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::string target;
    bool exists = false, inPlace = false;
    struct stat st;
    if (!planSave(files[i].path, target, exists, inPlace, st)) {
      for (PendingFile& p : pending) abandon(p);
      return false;
    }
    // A file written in place cannot wait for the others.
    if (inPlace) return oneByOne();
    if (!prepareRename(target, exists ? &st : nullptr, files[i].data, files[i].size, pending[i])) {
      if (exists && renameRefused(errno)) return oneByOne();
      for (PendingFile& p : pending) abandon(p);
      return false;
    }
  }
  // Every file is written whole: now they replace the old ones, one right
  // after the other.
  for (std::size_t i = 0; i < pending.size(); ++i) {
    if (!commitRename(pending[i])) {
      for (std::size_t k = i + 1; k < pending.size(); ++k) abandon(pending[k]);
      return false;
    }
  }
  return true;
}

bool fileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool isMachineDirectory(const std::string& dir) {
  for (const char* name : kMachineFileNames)
    if (fileExists(machinePath(dir, name))) return true;
  return false;
}

LoadResult loadRegisters(ProcessorState& c, const std::string& path) {
  uint8_t image[kRegisterFileSize];
  const LoadResult result = loadFile(path, image, sizeof image);
  std::memcpy(c.R, image, 32);
  c.SS = static_cast<uint16_t>(image[32] | (image[33] << 8));
  c.US = static_cast<uint16_t>(image[34] | (image[35] << 8));
  return result;
}

bool saveRegisters(const ProcessorState& c, const std::string& path) {
  uint8_t image[kRegisterFileSize];
  std::memcpy(image, c.R, 32);
  image[32] = static_cast<uint8_t>(c.SS);
  image[33] = static_cast<uint8_t>(c.SS >> 8);
  image[34] = static_cast<uint8_t>(c.US);
  image[35] = static_cast<uint8_t>(c.US >> 8);
  return saveFile(path, image, sizeof image);
}

LoadResult loadCharset(Lcd& lcd, const std::string& path) {
  static_assert(Lcd::kGlyphBytes == kCharsetFileSize);
  uint8_t image[kCharsetFileSize];
  const LoadResult result = loadFile(path, image, sizeof image);
  lcd.loadCharset(image);
  return result;
}

Settings readSettings(const std::string& path) {
  SettingsReader reader;
  bool missing = false;
  const int fd = openRegularFile(path, &missing);
  if (fd < 0) return reader.settings;
  std::string text;
  struct stat st;
  if (::fstat(fd, &st) == 0 && static_cast<uint64_t>(st.st_size) <= kMaxSettingsSize) {
    text.resize(static_cast<std::size_t>(st.st_size));
    const long got = readUpTo(fd, reinterpret_cast<uint8_t*>(text.data()), text.size());
    text.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
  }
  ::close(fd);
  // A NUL byte would end the text early for the library; nothing after it
  // could be meant as a setting anyway.
  text.resize(std::strlen(text.c_str()));
  const std::string normal = normaliseSettingsText(text, reader.keptValues);
  host::parseIni(normal.c_str(), settingsHandler, &reader);
  return reader.settings;
}

bool parseSettingsInteger(const std::string& text, int32_t& value) {
  std::string_view s = text;
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && (isBlank(s.back()) || s.back() == '\n')) s.remove_suffix(1);
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  unsigned base = 10;
  if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  } else if (!s.empty() && s[0] == '$') {
    base = 16;
    s.remove_prefix(1);
  }
  if (s.empty()) return false;
  uint64_t magnitude = 0;
  for (char ch : s) {
    const int d = hexDigit(static_cast<unsigned char>(ch));
    if (d < 0 || static_cast<unsigned>(d) >= base) return false;
    const auto digit = static_cast<unsigned>(d);
    magnitude = magnitude * base + digit;
    if (magnitude > 0xFFFFFFFFu) return false;
  }
  if (base == 16) {
    // Eight hex digits fill the 32 bits: $FFFFFFFF is -1.
    const uint32_t bits = static_cast<uint32_t>(magnitude);
    value = static_cast<int32_t>(negative ? 0u - bits : bits);
    return true;
  }
  const uint64_t limit = negative ? uint64_t{1} << 31 : (uint64_t{1} << 31) - 1;
  if (magnitude > limit) return false;
  value = static_cast<int32_t>(negative ? 0u - static_cast<uint32_t>(magnitude)
                                        : static_cast<uint32_t>(magnitude));
  return true;
}

}  // namespace tarvo
