#include "cpu/memory.h"

#include <algorithm>

#include "cpu/fast_memory.h"
#include "devices/port.h"
#include "machine.h"

namespace tarvo {

namespace {

struct RowSpec {
  int32_t start, end;
  uint32_t shift;
  bool writable, report;
  const char* file;
};

constexpr RowSpec kRows[kRegionCount] = {
    {0x00000, 0x00C00, 1, false, true, "rom0.bin"},
    {0x00C10, 0x00C12, 0, true, false, ""},
    {0x00000, 0x10000, 0, false, false, "rom1.bin"},
    {0x10000, 0x20000, 0, true, false, "ram0.bin"},
    {0x28000, 0x30000, 0, true, false, "ram1.bin"},
    {0x70000, 0x80000, 0, false, false, "rom2.bin"},
    {0xB0000, 0xC0000, 0, false, false, "rom3.bin"},
};

inline bool inIoWindow(uint32_t a) {
  return a >= kIoWindowStart && a < kIoWindowEnd;
}

constexpr uint32_t kPageSize = 0x1000;

// What a page of nothing reads as.
constexpr auto kUnmappedPage = [] {
  std::array<uint8_t, kPageSize> page{};
  page.fill(0xFF);
  return page;
}();

// The first row that holds the physical address, among the writable rows
// only when writable is set.
Region* rowOf(MemoryMap& mem, uint32_t a, bool writable) {
  for (Region& r : mem.rows) {
    if (writable && !r.writable) continue;
    if (static_cast<int32_t>(a) >= r.start && static_cast<int32_t>(a) < r.end) return &r;
  }
  return nullptr;
}

// A row answers for a whole page only when it holds all of it as bytes.
bool holdsPage(const Region& r, uint32_t a) {
  return r.shift == 0 && static_cast<int64_t>(a) + kPageSize <= r.end;
}

// No row holds any byte of the page that starts at a.
bool pageUnmapped(const MemoryMap& mem, uint32_t a) {
  for (const Region& r : mem.rows) {
    if (static_cast<int64_t>(r.start) < static_cast<int64_t>(a) + kPageSize &&
        static_cast<int64_t>(a) < r.end)
      return false;
  }
  return true;
}

}  // namespace

MemoryMap::MemoryMap() {
  for (int i = 0; i < kRegionCount; ++i) {
    const RowSpec& s = kRows[i];
    Region& r = rows[i];
    r.start = s.start;
    r.end = s.end;
    r.shift = s.shift;
    r.writable = s.writable;
    r.reportLoadFailure = s.report;
    r.imageFile = s.file;
    r.buffer.assign(r.size(), 0xFF);
  }
  // The bank bytes have no image; the power-on sequence clears them too.
  rows[kBankRow].buffer.assign(2, 0x00);
}

unsigned segmentChoice(const ProcessorState& c, unsigned selector, uint16_t address) {
  const uint32_t boundary = static_cast<uint32_t>(c.IB >> 6) * 0x4000u;
  return address < boundary ? 0u : (selector & 3u);
}

uint32_t bankSwitch(const MemoryMap& mem, uint32_t physical) {
  if (physical < kBankSwitchFloor) return physical;
  const unsigned k = (physical >> 15) & 7;
  if ((mem.bankA() >> k) & 1) return physical | 0x70000;
  if ((mem.bankB() >> k) & 1) return physical | 0xB0000;
  return physical;
}

uint8_t readPhysical(const Machine& m, uint32_t physical, uint32_t* shift) {
  const uint32_t a = bankSwitch(m.mem, physical);
  if (shift) *shift = 0;
  if (inIoWindow(a)) return ioRead(m, a & 7);
  for (const Region& r : m.mem.rows) {
    if (static_cast<int32_t>(a) >= r.start && static_cast<int32_t>(a) < r.end) {
      if (shift) *shift = r.shift;
      return r.buffer[(a - r.start) << r.shift];
    }
  }
  return 0xFF;
}

void writePhysical(Machine& m, uint32_t physical, uint8_t value) {
  if (inIoWindow(physical)) {
    ioWrite(m, physical & 7, value);
    return;
  }
  for (Region& r : m.mem.rows) {
    if (!r.writable) continue;
    if (static_cast<int32_t>(physical) >= r.start && static_cast<int32_t>(physical) < r.end) {
      r.buffer[(physical - r.start) << r.shift] = value;
      // A new bank byte maps other ROM in at once, even in the middle of
      // an instruction.
      if (&r == &m.mem.rows[kBankRow]) syncMapping(m);
      return;
    }
  }
}

const uint8_t* peekLocation(const Machine& m, uint32_t physical) {
  const uint32_t a = bankSwitch(m.mem, physical);
  if (inIoWindow(a)) return nullptr;
  for (const Region& r : m.mem.rows) {
    if (static_cast<int32_t>(a) >= r.start && static_cast<int32_t>(a) < r.end)
      return &r.buffer[(a - r.start) << r.shift];
  }
  return nullptr;
}

uint8_t* readLocation(Machine& m, uint32_t physical) {
  return const_cast<uint8_t*>(peekLocation(m, physical));
}

uint8_t readData(Machine& m, unsigned selector, uint16_t address) {
  syncPages(m);
  return loadByte(m, selector, address);
}

void writeData(Machine& m, unsigned selector, uint16_t address, uint8_t value) {
  syncPages(m);
  storeByte(m, selector, address, value);
}

void rebuildPages(Machine& m) {
  MemoryMap& mem = m.mem;
  mem.pagesKey = pagesKeyOf(m);
  for (int row = 0; row < kRegionCount; ++row) mem.pagesStorage[row] = mem.rows[row].buffer.data();
  for (unsigned slot = 0; slot < kPageSlots; ++slot) {
    mem.readPages[slot] = nullptr;
    mem.writePages[slot] = nullptr;
    if (mem.watch != nullptr) mem.watch->readPages[slot] = mem.watch->writePages[slot] = nullptr;
    if (mem.exactOnly) continue;
    // The common-area boundary is a multiple of 16 KB, so the segment
    // choice, and with it bank switching, is the same for a whole page.
    const uint16_t address = static_cast<uint16_t>((slot & 15u) << 12);
    const uint32_t physical = physicalAddress(m.cpu, slot >> 4, address);
    if (physical < kPageSize) continue;  // on-chip ROM, I/O window, bank bytes

    const uint32_t banked = bankSwitch(mem, physical);
    if (Region* r = rowOf(mem, banked, false)) {
      if (holdsPage(*r, banked))
        mem.readPages[slot] = r->buffer.data() + (banked - static_cast<uint32_t>(r->start));
    } else if (pageUnmapped(mem, banked)) {
      mem.readPages[slot] = kUnmappedPage.data();
    }
    // Writes to ROM and to nothing are dropped by the region table.
    if (Region* r = rowOf(mem, physical, true); r && holdsPage(*r, physical))
      mem.writePages[slot] = r->buffer.data() + (physical - static_cast<uint32_t>(r->start));

    // A watched page leaves the tables, so that its accesses take the slow
    // path where the watch is checked; the watch keeps the entry for them.
    if (mem.watch != nullptr) {
      DataWatch& w = *mem.watch;
      const bool sized =
          w.readBits.size() == DataWatch::kBitsSize && w.writeBits.size() == DataWatch::kBitsSize;
      for (const bool write : {false, true}) {
        if (!w.touchesPage(physical, write)) continue;
        if (write) {
          w.writePages[slot] = mem.writePages[slot];
          mem.writePages[slot] = nullptr;
        } else {
          w.readPages[slot] = mem.readPages[slot];
          mem.readPages[slot] = nullptr;
        }
        if (!sized) {
          // Without the bitmaps every byte of the page is checked.
          if (write) {
            w.writePages[slot] = nullptr;
          } else {
            w.readPages[slot] = nullptr;
          }
          continue;
        }
        uint8_t* bits = (write ? w.writeBits : w.readBits).data() + slot * DataWatch::kBitsPerSlot;
        std::fill(bits, bits + DataWatch::kBitsPerSlot, uint8_t{0});
        for (const WatchRange& r : w.ranges) {
          if (!(write ? r.write : r.read)) continue;
          const uint32_t from = std::max(r.start, physical);
          const uint32_t to = std::min(r.end, physical + kPageSize);
          for (uint32_t a = from; a < to; ++a)
            bits[(a - physical) >> 3] |= static_cast<uint8_t>(1u << ((a - physical) & 7));
        }
      }
    }
  }
}

bool DataWatch::touchesPage(uint32_t physical, bool write) const {
  for (const WatchRange& r : ranges) {
    if (!(write ? r.write : r.read)) continue;
    if (r.start < physical + kPageSize && r.end > physical) return true;
  }
  return false;
}

namespace {

void noteWatch(DataWatch& w, uint32_t physical, bool write, uint8_t oldValue, uint8_t newValue) {
  if (w.hit.hit) return;  // the first access of the step is the one shown
  for (const WatchRange& r : w.ranges) {
    if (physical < r.start || physical >= r.end || !(write ? r.write : r.read)) continue;
    w.hit = {true, write, physical, oldValue, newValue, r.id};
    return;
  }
}

}  // namespace

uint8_t watchedLoad(Machine& m, unsigned selector, uint16_t address) {
  DataWatch& w = *m.mem.watch;
  const uint32_t physical = physicalAddress(m.cpu, selector, address);
  const uint8_t* page = w.readPages[pageSlot(selector, address)];
  const uint8_t v = page != nullptr ? page[address & kPageMask] : readPhysical(m, physical);
  noteWatch(w, physical, false, v, v);
  return v;
}

void watchedStore(Machine& m, unsigned selector, uint16_t address, uint8_t value) {
  DataWatch& w = *m.mem.watch;
  const uint32_t physical = physicalAddress(m.cpu, selector, address);
  uint8_t* page = w.writePages[pageSlot(selector, address)];
  if (page != nullptr) {
    uint8_t& byte = page[address & kPageMask];
    const uint8_t before = byte;
    byte = value;
    noteWatch(w, physical, true, before, value);
    return;
  }
  const uint8_t before = readPhysical(m, physical);
  writePhysical(m, physical, value);
  noteWatch(w, physical, true, before, readPhysical(m, physical));
}

int regionOf(uint32_t physical) {
  if (physical >= kIoWindowStart && physical < kBankSwitchFloor) return -1;
  for (int i = 0; i <= kRam1Row; ++i) {
    if (static_cast<int32_t>(physical) >= kRows[i].start &&
        static_cast<int32_t>(physical) < kRows[i].end)
      return i;
  }
  return -1;
}

int32_t regionStart(int row) {
  if (row == kRom1Row) return static_cast<int32_t>(kBankSwitchFloor);
  return kRows[row].start;
}

int32_t regionEnd(int row) {
  return kRows[row].end;
}

bool regionWritable(int row) {
  return kRows[row].writable;
}

uint8_t fetchInstruction(Machine& m) {
  syncPages(m);
  return fetchOpcode(m);
}

uint8_t fetchInstructionExact(Machine& m) {
  return prefetch(m, m.cpu);
}

uint8_t prefetch(const Machine& m, ProcessorState& c) {
  const unsigned selector = c.inService != 0 ? 0u : c.segmentLatch;
  c.segmentLatch = c.UA;
  uint32_t shift = 0;
  const uint32_t pc = physicalAddress(c, selector, c.PC);
  c.fetchBuffer[0] = readPhysical(m, pc, &shift);
  c.wordFetch = static_cast<int>(shift);
  if (shift == 0) {
    for (int i = 1; i < 4; ++i) {
      const uint16_t a = static_cast<uint16_t>(c.PC + i);
      c.fetchBuffer[i] = readPhysical(m, physicalAddress(c, selector, a));
    }
  } else {
    // Word-organised ROM: both bytes of the word at PC and of the word at PC+1.
    const uint8_t* w0 = peekLocation(m, pc);
    c.fetchBuffer[1] = w0[1];
    const uint32_t next = physicalAddress(c, selector, static_cast<uint16_t>(c.PC + 1));
    uint32_t nextShift = 0;
    c.fetchBuffer[2] = readPhysical(m, next, &nextShift);
    // A word at the top of the ROM is followed by byte memory or the I/O
    // window; its second byte then reads as unmapped.
    c.fetchBuffer[3] = nextShift == 1 ? peekLocation(m, next)[1] : 0xFF;
  }
  c.fetchPos = 0;
  return takeByte(c);
}

uint8_t nextByte(Machine& m) {
  return takeByte(m);
}

void endInstruction(Machine& m) {
  finishInstruction(m);
}

}  // namespace tarvo
