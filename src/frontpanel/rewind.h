// Rewind: recent history of the machine as a ring of differences. Each
// capture stores what changed since the one before (the two snapshots
// XORed, runs of unchanged bytes squeezed out), and the ring keeps only the
// latest snapshot whole, so a minute of a machine that mostly waits for
// keys takes little memory. When the ring outgrows its limit the oldest
// differences go first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace tarvo {

struct Machine;
struct Scheduler;

class RewindBuffer {
 public:
  explicit RewindBuffer(std::size_t limitBytes = 64u << 20) : limit_(limitBytes) {}

  // Adds the machine's present state as the newest entry.
  void capture(const Machine& m, const Scheduler& s);
  // Puts the machine back to the entry before the newest one and makes it
  // the newest; false (machine untouched) when there is none.
  bool stepBack(Machine& m, Scheduler& s);

  // States the machine can step back to.
  std::size_t depth() const { return diffs_.size(); }
  bool empty() const { return latest_.empty(); }
  // Memory held: the latest snapshot and the differences, each with what
  // its allocation and its place in the ring take beyond its bytes.
  std::size_t bytes() const { return diffBytes_ + latest_.capacity(); }
  std::size_t limit() const { return limit_; }
  void clear();

  // The difference coding, exposed for its tests: encode(a, b) turns a
  // into b under apply.
  static std::vector<uint8_t> encodeDiff(const std::vector<uint8_t>& from,
                                         const std::vector<uint8_t>& to);
  static bool applyDiff(std::vector<uint8_t>& bytes, const std::vector<uint8_t>& diff);

 private:
  std::size_t limit_;
  std::vector<uint8_t> latest_;
  // diffs_[i] turns entry i+1 back into entry i; the last one undoes the
  // newest capture.
  std::deque<std::vector<uint8_t>> diffs_;
  std::size_t diffBytes_ = 0;  // what the differences take, as bytes() counts it
};

}  // namespace tarvo
