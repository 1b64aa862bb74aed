// Save states: the whole emulated machine and the scheduler's budget and
// phase in one file, so that a run split by a save and a load goes on
// exactly as the run without them. The ROM images are not stored; a digest
// of them (and of the fixed part of the character set) records what the
// state was taken with. docs/state-format.md describes the layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarvo {

struct Machine;
struct Scheduler;

inline constexpr char kStateMagic[8] = {'T', 'A', 'R', 'V', 'O', 'S', 'T', '\x1A'};
inline constexpr uint32_t kStateFormatVersion = 1;
inline constexpr std::size_t kStateHeaderSize = 44;
inline constexpr std::size_t kStateSectionHeaderSize = 16;
// Nothing this program writes comes near it; a larger file is refused
// before it is read.
inline constexpr std::size_t kStateFileLimit = 16u << 20;

// Digest of what the machine's images put in it and a state does not hold:
// the four ROM rows and the 252 glyphs that only "charset.bin" sets.
uint64_t imagesDigest(const Machine& m);

// The emulator version written into state files.
const char* emulatorVersion();

// The state file's bytes.
std::vector<uint8_t> encodeState(const Machine& m, const Scheduler& s);

// A state file read and checked in full, not yet applied.
struct DecodedState {
  DecodedState();
  ~DecodedState();
  DecodedState(DecodedState&&) noexcept;
  DecodedState& operator=(DecodedState&&) noexcept;

  uint32_t version = 0;
  std::string writer;
  uint64_t imagesDigest = 0;
  // The stored state, in a machine of its own (its ROM rows stay 0xFF).
  std::unique_ptr<Machine> machine;
  std::unique_ptr<Scheduler> scheduler;
};

// Checks every byte: magic, version, header and section CRCs, every
// section present once with its exact length, nothing after the last one,
// and the values the emulator relies on (flags 0 or 1, key codes, LCD
// offsets, clock). Returns "" and fills out, or the reason for refusing.
std::string decodeState(const uint8_t* data, std::size_t size, DecodedState& out);

// Whether the state was taken with the images the machine has now.
bool sameImages(const DecodedState& state, const Machine& m);

// Replaces the machine's state and the scheduler's budget and phase with
// the decoded ones. The ROM rows, the host's link and the page tables'
// storage stay; the page tables are rebuilt at the next step.
void applyState(const DecodedState& state, Machine& m, Scheduler& s);

// Reads a regular file of at most limit bytes whole (never blocks on a
// pipe or device). Returns "" or the reason (kNoSuchFile when there is
// nothing at path).
inline constexpr const char* kNoSuchFile = "the file does not exist";
std::string readWholeFile(const std::string& path, std::size_t limit, std::vector<uint8_t>& bytes);

// Reads and decodes a state file. Returns "" or the reason for refusing.
std::string readStateFile(const std::string& path, DecodedState& out);

// Saves atomically through saveFile (links, read-only folders, owners).
bool writeStateFile(const std::string& path, const Machine& m, const Scheduler& s);

// "Failed to load the file <name>: <reason>".
std::string stateRefusedMessage(const std::string& file, const std::string& reason);

// The stored groups (all but the ROM rows) as one plain block, for rewind:
// restoreSnapshot takes a block that takeSnapshot made.
std::vector<uint8_t> takeSnapshot(const Machine& m, const Scheduler& s);
void restoreSnapshot(const std::vector<uint8_t>& bytes, Machine& m, Scheduler& s);

}  // namespace tarvo
