#include "frontpanel/state_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cstring>

#include "frontpanel/files.h"
#include "frontpanel/host_services.h"
#include "machine.h"
#include "machine/operations.h"
#include "machine/scheduler.h"
#include "machine/state_fields.h"

namespace tarvo {

static_assert(std::endian::native == std::endian::little,
              "state files hold the fields as a little-endian host stores them");

namespace {

// The ROM rows come from the images; every other group is stored.
bool isImageGroup(const char* name) {
  return std::strncmp(name, "rom", 3) == 0;
}

// Bytes of the glyph table that only "charset.bin" sets; the rest (codes
// 0xFC-0xFF) the LCD commands rewrite.
constexpr std::size_t kFixedGlyphBytes = 0xFC * 16;

struct Field {
  uint8_t* data;
  std::size_t size;
};
struct Group {
  const char* name;
  std::vector<Field> fields;
  std::size_t size = 0;
};

template <class M, class S>
std::vector<Group> stateGroups(M& m, S& s) {
  std::vector<Group> groups;
  forEachStateField(
      m, &s,
      [&](auto* data, std::size_t size) {
        groups.back().fields.push_back(
            {const_cast<uint8_t*>(static_cast<const uint8_t*>(static_cast<const void*>(data))),
             size});
        groups.back().size += size;
      },
      [&](const char* name) {
        groups.push_back({name, {}, 0});
      });
  return groups;
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void put64(std::vector<uint8_t>& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
uint32_t get32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint64_t get64(const uint8_t* p) {
  return get32(p) | static_cast<uint64_t>(get32(p + 4)) << 32;
}
uint32_t crc(const uint8_t* p, std::size_t n) {
  return host::crc32(p, n);
}
void putName(std::vector<uint8_t>& out, const char* name, std::size_t width) {
  const std::size_t n = std::strlen(name);
  for (std::size_t i = 0; i < width; ++i) out.push_back(i < n ? static_cast<uint8_t>(name[i]) : 0);
}
// A name field: printable ASCII, then NULs to its end.
bool readName(const uint8_t* p, std::size_t width, std::string& name) {
  name.clear();
  std::size_t i = 0;
  for (; i < width && p[i] != 0; ++i) {
    if (p[i] < 0x20 || p[i] > 0x7E) return false;
    name += static_cast<char>(p[i]);
  }
  for (; i < width; ++i)
    if (p[i] != 0) return false;
  return true;
}

uint8_t byteOf(const void* p) {
  uint8_t b;
  std::memcpy(&b, p, 1);
  return b;
}

// Values the emulator relies on; anything else a corrupted or hand-made
// file could hold is a state the machine can be in.
std::string checkValues(const Machine& m) {
  const ProcessorState& c = m.cpu;
  for (const bool* flag : {&c.powerOff, &c.budgetRestart})
    if (byteOf(flag) > 1) return "a flag of the processor is neither 0 nor 1";
  if (c.clockShift < 0 || c.clockShift > 15) return "the processor's clock shift is out of range";
  if (c.wordFetch != 0 && c.wordFetch != 1) return "the processor's fetch width is out of range";
  if (c.fetchPos < 0 || c.fetchPos > 4) return "the processor's fetch position is out of range";
  const Lcd& lcd = m.lcd;
  if (lcd.charWidth < 5 || lcd.charWidth > 8) return "the LCD character width is out of range";
  if (lcd.pulsePeriod <= 0) return "the LCD pulse period is out of range";
  for (const LcdCursor& r : lcd.cursor) {
    if (r.halfOffset != 0 && r.halfOffset != 96) return "an LCD cursor is out of range";
    if (r.bandOffset % 192 != 0 || r.bandOffset > 576 || r.x > 127)
      return "an LCD cursor is out of range";
  }
  for (int k = 0; k < 2; ++k)
    for (int i = 0; i < Lcd::kNibbles; ++i)
      if (lcd.memory[k][i] > 15 || lcd.frame[k][i] > 15)
        return "LCD memory holds more than nibbles";
  for (const uint8_t* p = lcd.glyphs; p != lcd.glyphs + sizeof lcd.glyphs; ++p)
    if (*p > 15) return "the glyph table holds more than nibbles";
  for (int32_t key : {m.keys.mouseKey, m.keys.hostKey, m.keys.chordKey})
    if (key < 0 || key >= kKeyCodeCount) return "a held key code is out of range";
  const MachineTimers& t = m.timers;
  if (t.cyclesPerTick < 0 || t.ticksPerSecond <= 0) return "the clock is out of range";
  // Fields that disagree would make every run tick as long as they say.
  if (!clockAgrees(t)) return "the clock's fields disagree with each other";
  return "";
}

}  // namespace

const char* emulatorVersion() {
  return TARVO_VERSION;
}

uint64_t imagesDigest(const Machine& m) {
  uint64_t h = 0xCBF29CE484222325u;
  auto hash = [&](const uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001B3u;
  };
  for (int row : {kRomRow, kRom1Row, kRom2Row, kRom3Row})
    hash(m.mem.rows[row].buffer.data(), m.mem.rows[row].buffer.size());
  hash(m.lcd.glyphs, kFixedGlyphBytes);
  return h;
}

std::vector<uint8_t> encodeState(const Machine& m, const Scheduler& s) {
  const std::vector<Group> groups = stateGroups(m, s);
  std::vector<uint8_t> out(kStateMagic, kStateMagic + sizeof kStateMagic);
  put32(out, kStateFormatVersion);
  putName(out, emulatorVersion(), 16);
  put64(out, imagesDigest(m));
  uint32_t sections = 0;
  for (const Group& g : groups) sections += isImageGroup(g.name) ? 0 : 1;
  put32(out, sections);
  put32(out, crc(out.data(), out.size()));
  for (const Group& g : groups) {
    if (isImageGroup(g.name)) continue;
    putName(out, g.name, 8);
    put32(out, static_cast<uint32_t>(g.size));
    const std::size_t crcAt = out.size();
    put32(out, 0);
    const std::size_t dataAt = out.size();
    for (const Field& f : g.fields) out.insert(out.end(), f.data, f.data + f.size);
    const uint32_t sum = crc(out.data() + dataAt, g.size);
    for (int i = 0; i < 4; ++i) out[crcAt + i] = static_cast<uint8_t>(sum >> (8 * i));
  }
  return out;
}

DecodedState::DecodedState() = default;
DecodedState::~DecodedState() = default;
DecodedState::DecodedState(DecodedState&&) noexcept = default;
DecodedState& DecodedState::operator=(DecodedState&&) noexcept = default;

std::string decodeState(const uint8_t* data, std::size_t size, DecodedState& out) {
  if (size < sizeof kStateMagic || std::memcmp(data, kStateMagic, sizeof kStateMagic) != 0)
    return "not a state file";
  if (size < kStateHeaderSize) return "the file is truncated";
  const uint32_t version = get32(data + 8);
  if (get32(data + 40) != crc(data, 40)) return "the header's CRC does not match";
  if (version == 0 || version > kStateFormatVersion)
    return "unknown format version " + std::to_string(version);
  DecodedState d;
  d.version = version;
  if (!readName(data + 12, 16, d.writer)) return "the writer's version is not text";
  d.imagesDigest = get64(data + 28);
  const uint32_t sections = get32(data + 36);

  d.machine = std::make_unique<Machine>();
  d.scheduler = std::make_unique<Scheduler>();
  std::vector<Group> groups = stateGroups(*d.machine, *d.scheduler);
  std::vector<bool> seen(groups.size(), false);
  std::size_t at = kStateHeaderSize;
  for (uint32_t i = 0; i < sections; ++i) {
    if (size - at < kStateSectionHeaderSize) return "the file is truncated";
    std::string name;
    if (!readName(data + at, 8, name)) return "a section name is not text";
    const uint32_t length = get32(data + at + 8);
    const uint32_t sum = get32(data + at + 12);
    at += kStateSectionHeaderSize;
    if (size - at < length) return "the file is truncated in section " + name;
    const uint8_t* body = data + at;
    at += length;
    if (crc(body, length) != sum) return "section " + name + " has a bad CRC";
    std::size_t g = 0;
    while (g < groups.size() && (isImageGroup(groups[g].name) || name != groups[g].name)) ++g;
    // Sections of later versions that this one does not know are skipped.
    if (g == groups.size()) continue;
    if (seen[g]) return "section " + name + " appears twice";
    if (length != groups[g].size)
      return "section " + name + " has " + std::to_string(length) + " bytes instead of " +
             std::to_string(groups[g].size);
    seen[g] = true;
    for (const Field& f : groups[g].fields) {
      std::memcpy(f.data, body, f.size);
      body += f.size;
    }
  }
  if (at != size) return "bytes follow the last section";
  for (std::size_t g = 0; g < groups.size(); ++g)
    if (!isImageGroup(groups[g].name) && !seen[g])
      return std::string("section ") + groups[g].name + " is missing";
  std::string bad = checkValues(*d.machine);
  if (!bad.empty()) return bad;
  out = std::move(d);
  return "";
}

bool sameImages(const DecodedState& state, const Machine& m) {
  return state.imagesDigest == imagesDigest(m);
}

void applyState(const DecodedState& state, Machine& m, Scheduler& s) {
  const std::vector<Group> from = stateGroups(*state.machine, *state.scheduler);
  const std::vector<Group> to = stateGroups(m, s);
  for (std::size_t g = 0; g < to.size(); ++g) {
    if (isImageGroup(to[g].name)) continue;
    for (std::size_t f = 0; f < to[g].fields.size(); ++f)
      std::memcpy(to[g].fields[f].data, from[g].fields[f].data, to[g].fields[f].size);
  }
  m.mem.pagesKey = kPagesStale;
}

std::string readWholeFile(const std::string& path, std::size_t limit, std::vector<uint8_t>& bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? kNoSuchFile : "the file cannot be read";
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return "not a regular file";
  }
  if (static_cast<uint64_t>(st.st_size) > limit) {
    ::close(fd);
    return "the file is too large";
  }
  // One byte more than the size, to see a file that grew meanwhile.
  bytes.assign(static_cast<std::size_t>(st.st_size) + 1, 0);
  std::size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return "the file cannot be read";
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  if (got > static_cast<std::size_t>(st.st_size)) return "the file changed while it was read";
  bytes.resize(got);
  return "";
}

std::string readStateFile(const std::string& path, DecodedState& out) {
  std::vector<uint8_t> bytes;
  const std::string reason = readWholeFile(path, kStateFileLimit, bytes);
  if (!reason.empty())
    return reason == "the file is too large" ? "not a state file (too large)" : reason;
  return decodeState(bytes.data(), bytes.size(), out);
}

bool writeStateFile(const std::string& path, const Machine& m, const Scheduler& s) {
  const std::vector<uint8_t> bytes = encodeState(m, s);
  return saveFile(path, bytes.data(), bytes.size());
}

std::string stateRefusedMessage(const std::string& file, const std::string& reason) {
  return loadFailedMessage(file) + ": " + reason;
}

std::vector<uint8_t> takeSnapshot(const Machine& m, const Scheduler& s) {
  std::vector<uint8_t> out;
  out.reserve(128 * 1024);
  bool stored = true;
  forEachStateField(
      m, &s,
      [&](const void* data, std::size_t size) {
        if (stored)
          out.insert(out.end(), static_cast<const uint8_t*>(data),
                     static_cast<const uint8_t*>(data) + size);
      },
      [&](const char* name) { stored = !isImageGroup(name); });
  return out;
}

void restoreSnapshot(const std::vector<uint8_t>& bytes, Machine& m, Scheduler& s) {
  std::size_t at = 0;
  bool stored = true;
  forEachStateField(
      m, &s,
      [&](void* data, std::size_t size) {
        if (!stored || at + size > bytes.size()) return;
        std::memcpy(data, bytes.data() + at, size);
        at += size;
      },
      [&](const char* name) { stored = !isImageGroup(name); });
  m.mem.pagesKey = kPagesStale;
}

}  // namespace tarvo
