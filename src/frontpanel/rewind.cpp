#include "frontpanel/rewind.h"

#include <algorithm>

#include "frontpanel/state_file.h"

namespace tarvo {

namespace {

void putCount(std::vector<uint8_t>& out, std::size_t n) {
  while (n >= 0x80) {
    out.push_back(static_cast<uint8_t>(n | 0x80));
    n >>= 7;
  }
  out.push_back(static_cast<uint8_t>(n));
}

bool getCount(const std::vector<uint8_t>& in, std::size_t& at, std::size_t& n) {
  n = 0;
  for (int shift = 0; shift < 64 && at < in.size(); shift += 7) {
    const uint8_t b = in[at++];
    n |= static_cast<std::size_t>(b & 0x7F) << shift;
    if (!(b & 0x80)) return true;
  }
  return false;
}

// What one stored difference really takes: its block as the allocator
// hands it out (a header, rounded up to 16 bytes, never less than 32) and
// its place in the ring (the slot and its share of the ring's blocks).
std::size_t entryCost(const std::vector<uint8_t>& diff) {
  std::size_t block = 0;
  if (diff.capacity() > 0) block = std::max<std::size_t>(32, (diff.capacity() + 8 + 15) / 16 * 16);
  return block + sizeof(std::vector<uint8_t>) + 4;
}

}  // namespace

// Pairs of (unchanged run, changed run, the changed bytes XORed).
std::vector<uint8_t> RewindBuffer::encodeDiff(const std::vector<uint8_t>& from,
                                              const std::vector<uint8_t>& to) {
  std::vector<uint8_t> out;
  const std::size_t n = to.size();
  std::size_t i = 0;
  while (i < n) {
    const std::size_t same = i;
    while (i < n && from[i] == to[i]) ++i;
    if (i == n) break;
    const std::size_t changed = i;
    // A changed run ends at four unchanged bytes in a row.
    std::size_t end = i;
    while (i < n) {
      if (from[i] != to[i]) {
        end = ++i;
      } else if (i - end >= 4) {
        break;
      } else {
        ++i;
      }
    }
    i = end;
    putCount(out, changed - same);
    putCount(out, end - changed);
    for (std::size_t k = changed; k < end; ++k) out.push_back(from[k] ^ to[k]);
  }
  return out;
}

bool RewindBuffer::applyDiff(std::vector<uint8_t>& bytes, const std::vector<uint8_t>& diff) {
  std::size_t at = 0, pos = 0;
  while (at < diff.size()) {
    std::size_t same, changed;
    if (!getCount(diff, at, same) || !getCount(diff, at, changed)) return false;
    if (same > bytes.size() - pos) return false;
    pos += same;
    if (changed > bytes.size() - pos || changed > diff.size() - at) return false;
    for (std::size_t k = 0; k < changed; ++k) bytes[pos++] ^= diff[at++];
  }
  return true;
}

void RewindBuffer::capture(const Machine& m, const Scheduler& s) {
  std::vector<uint8_t> now = takeSnapshot(m, s);
  // Held for as long as it is the newest: no room beyond its bytes.
  now.shrink_to_fit();
  if (!latest_.empty() && latest_.size() == now.size()) {
    std::vector<uint8_t> diff = encodeDiff(now, latest_);
    diff.shrink_to_fit();
    diffBytes_ += entryCost(diff);
    diffs_.push_back(std::move(diff));
  } else {
    diffs_.clear();
    diffBytes_ = 0;
  }
  latest_ = std::move(now);
  while (!diffs_.empty() && bytes() > limit_) {
    diffBytes_ -= entryCost(diffs_.front());
    diffs_.pop_front();
  }
}

bool RewindBuffer::stepBack(Machine& m, Scheduler& s) {
  if (diffs_.empty()) return false;
  if (!applyDiff(latest_, diffs_.back())) return false;
  diffBytes_ -= entryCost(diffs_.back());
  diffs_.pop_back();
  restoreSnapshot(latest_, m, s);
  return true;
}

void RewindBuffer::clear() {
  latest_.clear();
  diffs_.clear();
  diffBytes_ = 0;
}

}  // namespace tarvo
