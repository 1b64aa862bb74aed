// The rewind ring: differences that turn each state back into the one
// before, within a bounded memory.
#include "frontpanel/rewind.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <random>
#include <vector>

#include "frontpanel/state_file.h"
#include "machine.h"
#include "machine/digest.h"
#include "machine/scheduler.h"

namespace tarvo {
namespace {

TEST(RewindDiff, TurnsAnyBytesIntoAnyOthersOfTheSameSize) {
  std::mt19937 rng(11);
  for (int round = 0; round < 300; ++round) {
    const std::size_t n = rng() % 3000;
    std::vector<uint8_t> a(n), b;
    for (auto& x : a) x = static_cast<uint8_t>(rng() % 4 == 0 ? rng() : 0);
    b = a;
    // Sparse changes, runs of changes and changes at both ends.
    const int kind = round % 3;
    for (std::size_t i = 0; i < n; ++i) {
      if ((kind == 0 && rng() % 50 == 0) || (kind == 1 && (i / 7) % 5 == 0) ||
          (kind == 2 && (i < 3 || i + 3 >= n)))
        b[i] ^= static_cast<uint8_t>(1 + rng() % 255);
    }
    const std::vector<uint8_t> diff = RewindBuffer::encodeDiff(a, b);
    std::vector<uint8_t> c = a;
    ASSERT_TRUE(RewindBuffer::applyDiff(c, diff));
    ASSERT_EQ(c, b) << "round " << round;
    if (a == b) {
      EXPECT_TRUE(diff.empty());
    }
    if (kind == 0) {
      EXPECT_LT(diff.size(), n / 4 + 16);  // sparse changes stay small
    }
  }
  // A difference that runs past the bytes is refused.
  std::vector<uint8_t> small(4, 0);
  EXPECT_FALSE(RewindBuffer::applyDiff(small, {2, 9, 1, 1, 1, 1, 1, 1, 1, 1, 1}));
}

TEST(RewindBuffer, StepsBackThroughEveryCaptureAndKeepsToItsLimit) {
  auto m = std::make_unique<Machine>();
  Scheduler s;
  std::mt19937 rng(3);
  const std::size_t snapshot = takeSnapshot(*m, s).size();
  RewindBuffer ring(snapshot + 16 * 1024);
  std::vector<uint64_t> digests;
  for (int i = 0; i < 200; ++i) {
    for (int k = 0; k < 30; ++k)
      m->mem.rows[kRam0Row].buffer[rng() % m->mem.rows[kRam0Row].buffer.size()] =
          static_cast<uint8_t>(rng());
    m->cpu.PC = static_cast<uint16_t>(rng());
    s.cycleBudget = static_cast<int32_t>(rng() % 1000) - 500;
    ring.capture(*m, s);
    digests.push_back(stateDigest(*m, &s));
    EXPECT_LE(ring.bytes(), ring.limit());
  }
  // The oldest went to keep the limit; the newer ones all come back.
  const std::size_t depth = ring.depth();
  EXPECT_GT(depth, 50u);
  EXPECT_LT(depth, 199u);
  for (std::size_t back = 1; back <= depth; ++back) {
    ASSERT_TRUE(ring.stepBack(*m, s));
    ASSERT_EQ(stateDigest(*m, &s), digests[digests.size() - 1 - back]) << back;
  }
  const uint64_t oldest = stateDigest(*m, &s);
  EXPECT_FALSE(ring.stepBack(*m, s));
  EXPECT_EQ(stateDigest(*m, &s), oldest);
}

// Bytes the process has taken from the allocator, small and large blocks.
std::size_t heapInUse() {
  const struct mallinfo2 info = ::mallinfo2();
  return info.uordblks + info.hblkhd;
}

// The memory the ring really takes (counted by the allocator, with every
// block's own overhead) stays within a tenth of its limit once it is full,
// both for a machine that barely changes between captures and for one that
// changes a lot.
TEST(RewindBuffer, MemoryReallyTakenStaysWithinItsLimit) {
  {
    const std::size_t before = heapInUse();
    std::vector<uint8_t> probe(1 << 20, 1);
    if (heapInUse() - before < probe.size()) GTEST_SKIP() << "no allocator statistics";
  }
  auto m = std::make_unique<Machine>();
  Scheduler s;
  std::mt19937 rng(5);
  constexpr std::size_t kLimit = 1u << 20;
  for (const int changes : {2, 40, 3000}) {
    SCOPED_TRACE(changes);
    const std::size_t before = heapInUse();
    std::size_t taken = 0;
    std::size_t fullDepth = 0;
    {
      RewindBuffer ring(kLimit);
      for (int i = 0; i < 40000; ++i) {
        for (int k = 0; k < changes; ++k)
          m->mem.rows[kRam0Row].buffer[rng() % m->mem.rows[kRam0Row].buffer.size()] =
              static_cast<uint8_t>(rng());
        m->cpu.PC = static_cast<uint16_t>(m->cpu.PC + 7);
        ring.capture(*m, s);
        // Full: the oldest entries have started to go.
        if (ring.depth() < static_cast<std::size_t>(i) && ++fullDepth > 200) break;
      }
      taken = heapInUse() - before;
    }
    EXPECT_LE(taken, kLimit + kLimit / 10);
    EXPECT_GE(taken, kLimit - kLimit / 10);
  }
}

}  // namespace
}  // namespace tarvo
