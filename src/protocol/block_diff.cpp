#include "protocol/block_diff.h"

#include <algorithm>

namespace lovar {

std::vector<BlockRange> ChangedBlocks(const ConfigImage& before, const ConfigImage& after, int from,
                                      int end, int block) {
  std::vector<BlockRange> out;
  for (int at = from; at < end; at += block) {
    const int block_end = std::min(at + block, end);
    if (std::equal(before.bytes().begin() + at, before.bytes().begin() + block_end,
                   after.bytes().begin() + at))
      continue;
    if (!out.empty() && out.back().end == at)
      out.back().end = block_end;
    else
      out.push_back({at, block_end});
  }
  return out;
}

int BlockCount(const std::vector<BlockRange>& ranges, int block) {
  int count = 0;
  for (const BlockRange& r : ranges) count += (r.end - r.from + block - 1) / block;
  return count;
}

bool LandedAstray(const ConfigImage& device, const ConfigImage& sent,
                  const std::vector<BlockRange>& candidates,
                  const std::vector<BlockRange>& sent_ranges, int first, int last, int end,
                  int block) {
  if (last - first >= block) return false;
  const auto in_sent = [&](int at) {
    return std::any_of(sent_ranges.begin(), sent_ranges.end(),
                       [at](const BlockRange& r) { return at >= r.from && at < r.end; });
  };
  const auto sent_byte = [&](int at) { return at < kImageCapacity ? sent[at] : uint8_t{0}; };
  for (const BlockRange& r : candidates)
    for (int x = r.from; x < r.end; x += block)
      for (int start = last - block + 1; start <= first; ++start) {
        bool explains = true;
        for (int k = 0; k < block && explains; ++k) {
          const int at = start + k;
          if (at < 0 || at >= end) continue;
          const uint8_t held = device[at];
          explains = held == sent_byte(x + k) || (in_sent(at) && held == sent[at]);
        }
        if (explains) return true;
      }
  return false;
}

}  // namespace lovar
