// Which 16-byte write blocks of a range differ between two images: what a write of the changes
// alone sends. Blocks are counted from the write's start (100 for model 252), as the whole
// write sends them; neighbours are joined into one range, and the last block is cut at the
// range's end (its bytes past the end are not compared).
//
// Threads: any (pure).
#pragma once

#include <vector>

#include "model/config_image.h"

namespace lovar {

struct BlockRange {
  int from = 0;
  int end = 0;
  bool operator==(const BlockRange&) const = default;
};

std::vector<BlockRange> ChangedBlocks(const ConfigImage& before, const ConfigImage& after, int from,
                                      int end, int block);

// The blocks of `block` bytes counted from `from` that the ranges cover.
int BlockCount(const std::vector<BlockRange>& ranges, int block);

}  // namespace lovar
