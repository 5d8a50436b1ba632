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

}  // namespace lovar
