#include "frontpanel/rewind.h"

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
  scratch_ = takeSnapshot(m, s);
  if (!latest_.empty() && latest_.size() == scratch_.size()) {
    std::vector<uint8_t> diff = encodeDiff(scratch_, latest_);
    diffBytes_ += diff.size();
    diffs_.push_back(std::move(diff));
  } else {
    diffs_.clear();
    diffBytes_ = 0;
  }
  latest_.swap(scratch_);
  while (!diffs_.empty() && bytes() > limit_) {
    diffBytes_ -= diffs_.front().size();
    diffs_.pop_front();
  }
}

bool RewindBuffer::stepBack(Machine& m, Scheduler& s) {
  if (diffs_.empty()) return false;
  if (!applyDiff(latest_, diffs_.back())) return false;
  diffBytes_ -= diffs_.back().size();
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
