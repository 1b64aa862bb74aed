// Memory map: segment choice, bank switching, the region table, the I/O
// window and instruction fetch. Every access of the processor, the
// disassembler and the debugger goes through these few functions.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace tarvo {

struct Machine;
struct ProcessorState;

struct Region {
  int32_t start;
  int32_t end;     // exclusive
  uint32_t shift;  // 1 for word-organised memory
  bool writable;
  bool reportLoadFailure;
  const char* imageFile;  // "" for none
  std::vector<uint8_t> buffer;

  std::size_t size() const { return static_cast<std::size_t>(end - start) << shift; }
};

constexpr int kRegionCount = 7;
constexpr int kRomRow = 0;   // on-chip ROM, word-organised
constexpr int kBankRow = 1;  // bank bytes A and B
constexpr int kRom1Row = 2;
constexpr int kRam0Row = 3;
constexpr int kRam1Row = 4;
constexpr int kRom2Row = 5;
constexpr int kRom3Row = 6;

constexpr uint32_t kIoWindowStart = 0x00C00;
constexpr uint32_t kIoWindowEnd = 0x00C10;
constexpr uint32_t kBankSwitchFloor = 0x00C12;

// Page tables are indexed by selector (bits 0-1) and address bits 12-15.
constexpr unsigned kPageSlots = 64;
constexpr uint16_t kPageMask = 0x0FFF;
inline unsigned pageSlot(unsigned selector, uint16_t address) {
  return (selector & 3u) << 4 | static_cast<unsigned>(address >> 12);
}
// A key no mapping has: the tables must be built before their first use.
constexpr uint32_t kPagesStale = 0xFFFFFFFF;

// Data accesses the debugger watches: physical address ranges (as the
// processor issues them, before bank switching) for reads, writes or both.
// The page tables leave every page that a range touches to the region table,
// so only accesses to those pages look at it; the first access of a step
// that falls into a range is recorded in `hit`. The host owns it and syncs
// the page tables (pagesKey = kPagesStale) whenever the ranges change.
struct WatchRange {
  uint32_t start = 0;
  uint32_t end = 0;  // exclusive
  bool read = false;
  bool write = true;
  int id = 0;  // the host's number for it
};
struct WatchHit {
  bool hit = false;
  bool write = false;
  uint32_t address = 0;
  uint8_t oldValue = 0;
  uint8_t newValue = 0;
  int id = 0;
};
struct DataWatch {
  std::vector<WatchRange> ranges;
  WatchHit hit;
  // The page-table entries that the watch took out, so that an access to a
  // watched page is still served from its page once the ranges are checked.
  std::array<const uint8_t*, 64> readPages{};
  std::array<uint8_t*, 64> writePages{};
  // One bit per byte of each page slot that is watched for reads or for
  // writes (512 bytes a slot), so that the other bytes of a watched page
  // are still served from the page at once. Sized by the owner
  // (kWatchBitsSize), never inside a step.
  std::vector<uint8_t> readBits;
  std::vector<uint8_t> writeBits;
  static constexpr std::size_t kBitsPerSlot = 0x1000 / 8;
  static constexpr std::size_t kBitsSize = 64 * kBitsPerSlot;
  bool watched(const std::vector<uint8_t>& bits, unsigned slot, uint16_t address) const {
    const unsigned offset = address & 0x0FFFu;
    return (bits[slot * kBitsPerSlot + (offset >> 3)] >> (offset & 7) & 1u) != 0;
  }
  // Whether a range touches the 4 KB page that starts at physical.
  bool touchesPage(uint32_t physical, bool write) const;
};

struct MemoryMap {
  std::array<Region, kRegionCount> rows;
  MemoryMap();

  uint8_t& bankA() { return rows[kBankRow].buffer[0]; }
  uint8_t& bankB() { return rows[kBankRow].buffer[1]; }
  uint8_t bankA() const { return rows[kBankRow].buffer[0]; }
  uint8_t bankB() const { return rows[kBankRow].buffer[1]; }

  // Shortcut from selector and page to the first byte of the page in its
  // region buffer, for byte memory that maps a whole page the same way; a
  // null entry sends the access through the region table. A page holds the
  // same bytes for as long as IB bits 6-7 (the common area) and the two
  // bank bytes keep their values and no region buffer is replaced: pagesKey
  // and pagesStorage record what the tables were built for (see
  // cpu/fast_memory.h). Segment 0 page 0, with the on-chip ROM, the I/O
  // window and the bank bytes, always takes the region table.
  std::array<const uint8_t*, kPageSlots> readPages{};
  std::array<uint8_t*, kPageSlots> writePages{};
  uint32_t pagesKey = kPagesStale;
  std::array<const uint8_t*, kRegionCount> pagesStorage{};
  // Leaves the tables empty, so that every access scans the region table:
  // the reference behaviour that the shortcut must reproduce exactly. Set
  // it before the first access, or set pagesKey to kPagesStale with it.
  bool exactOnly = false;
  // Watched data accesses, or nullptr (the usual case: nothing to look at).
  DataWatch* watch = nullptr;
};

// Segment for a two-bit selector and an address: 0 below the common-area
// boundary (IB bits 6-7 times 0x4000), else the selector.
unsigned segmentChoice(const ProcessorState& c, unsigned selector, uint16_t address);
inline uint32_t physicalAddress(const ProcessorState& c, unsigned selector, uint16_t address) {
  return (segmentChoice(c, selector, address) << 16) | address;
}

// Bank switching applied to reads.
uint32_t bankSwitch(const MemoryMap& mem, uint32_t physical);

// Read with bank switching; *shift receives the matched row's shift
// (0 for the I/O window and unmapped addresses). Reads have no side
// effects, so debuggers read through it too.
uint8_t readPhysical(const Machine& m, uint32_t physical, uint32_t* shift = nullptr);
// Write without bank switching; ROM and unmapped writes are dropped.
void writePhysical(Machine& m, uint32_t physical, uint8_t value);

// A data access through the region table while a watch is set: the access
// itself, and the hit when it falls into a watched range.
uint8_t watchedLoad(Machine& m, unsigned selector, uint16_t address);
void watchedStore(Machine& m, unsigned selector, uint16_t address, uint8_t value);

// Data access with a segment selector: IX side UA>>4, IZ side UA>>6, stack UA>>2.
uint8_t readData(Machine& m, unsigned selector, uint16_t address);
void writeData(Machine& m, unsigned selector, uint16_t address, uint8_t value);

// The byte that a read of the physical address would return, as a writable
// location (bank switching applied, the writable flag ignored); nullptr for
// the I/O window and unmapped addresses. The debugger patches code with it.
uint8_t* readLocation(Machine& m, uint32_t physical);
const uint8_t* peekLocation(const Machine& m, uint32_t physical);

// Debugger region queries over rows 0..4.
int regionOf(uint32_t physical);  // -1 for none and for 0x00C00-0x00C11
int32_t regionStart(int row);     // row 2 reports 0x00C12
int32_t regionEnd(int row);
bool regionWritable(int row);

// Rebuilds the page tables for the current common area and bank bytes.
void rebuildPages(Machine& m);

// Instruction fetch: prefetch four bytes at PC and return the opcode.
uint8_t fetchInstruction(Machine& m);
// The same fetch through the region table alone.
uint8_t fetchInstructionExact(Machine& m);
// That fetch for the fetch state c (PC, UA, segmentLatch, inService, IB and
// the prefetch fields) over m's memory: the processor's own fetch, for
// readers of code that must leave the processor untouched.
uint8_t prefetch(const Machine& m, ProcessorState& c);
// Consume the next instruction byte, counting its cycles and moving PC.
uint8_t nextByte(Machine& m);
// Word alignment after the handler: in word memory an odd fetch position
// takes one more byte.
void endInstruction(Machine& m);

}  // namespace tarvo
