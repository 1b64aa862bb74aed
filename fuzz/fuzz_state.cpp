// The state loader on any bytes. Input: a state file.
//
// Each input is tried as it is and again with every CRC made to match, so
// that the checks behind the CRCs (lengths, values) and the loaded machine
// get inputs too.
//
// Checked: a refused file gives a reason and leaves the machine it would
// have gone into untouched; an accepted one loads into a machine that then
// runs steps, composes its LCD and reads its keys with every value in
// range, and saves again to a file that loads back to the same state.
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "cpu/exec.h"
#include "cpu/step.h"
#include "devices/keyboard.h"
#include "frontpanel/state_file.h"
#include "fuzz_support.h"
#include "machine.h"
#include "machine/digest.h"
#include "machine/operations.h"
#include "machine/scheduler.h"

using namespace tarvo;

namespace {

void putCrc(uint8_t* at, const uint8_t* data, std::size_t n) {
  const auto sum = static_cast<uint32_t>(crc32(0, data, static_cast<uInt>(n)));
  std::memcpy(at, &sum, 4);
}

// The bytes with the header's and every whole section's CRC rewritten.
std::vector<uint8_t> withMatchingCrcs(const uint8_t* data, std::size_t size) {
  std::vector<uint8_t> b(data, data + size);
  if (size < kStateHeaderSize) return b;
  putCrc(&b[40], b.data(), 40);
  std::size_t at = kStateHeaderSize;
  while (size - at >= kStateSectionHeaderSize) {
    uint32_t length;
    std::memcpy(&length, &b[at + 8], 4);
    if (size - at - kStateSectionHeaderSize < length) break;
    putCrc(&b[at + 12], &b[at + kStateSectionHeaderSize], length);
    at += kStateSectionHeaderSize + length;
  }
  return b;
}

void tryState(const uint8_t* data, std::size_t size) {
  static Machine* target = new Machine;  // never freed: one for the run
  static Scheduler* scheduler = new Scheduler;
  Machine& m = *target;
  Scheduler& s = *scheduler;

  const uint64_t before = stateDigest(m, &s);
  DecodedState state;
  const std::string reason = decodeState(data, size, state);
  if (!reason.empty()) {
    FUZZ_CHECK(stateDigest(m, &s) == before);
    return;
  }
  applyState(state, m, s);
  const uint64_t loaded = stateDigest(m, &s);

  // Saved again, it loads back to the same state.
  const std::vector<uint8_t> again = encodeState(m, s);
  DecodedState back;
  FUZZ_CHECK(decodeState(again.data(), again.size(), back).empty());
  Machine copy;
  Scheduler copyScheduler;
  applyState(back, copy, copyScheduler);
  for (int row : {kRomRow, kRom1Row, kRom2Row, kRom3Row}) copy.mem.rows[row] = m.mem.rows[row];
  FUZZ_CHECK(stateDigest(copy, &copyScheduler) == loaded);

  // It runs: steps with the clock's work after each, within bounds.
  syncPages(m);
  for (int i = 0; i < 300; ++i) {
    const int32_t cycles = stepSynced(m);
    FUZZ_CHECK(cycles > 0);
    if (m.port.linkFailed) m.port.linkFailed = false;
    afterStep(m, cycles);
    restartBudgetIfAsked(m, s);
    FUZZ_CHECK(m.cpu.fetchPos >= 0 && m.cpu.fetchPos <= 4);
  }
  m.lcd.composeFrame();
  for (const auto& half : m.lcd.frame)
    for (uint8_t nibble : half) FUZZ_CHECK(nibble <= 15);
  (void)keyRegister(m);
  beginRunTick(m, s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  tryState(data, size);
  const std::vector<uint8_t> repaired = withMatchingCrcs(data, size);
  tryState(repaired.data(), repaired.size());
  return 0;
}
