// Which 16-byte write blocks of a range differ between two images: what a write of the changes
// alone sends. Blocks are counted from the write's start (100 for model 252), as the whole
// write sends them; neighbours are joined into one range, and the last block is cut at the
// range's end (its bytes past the end are not compared).
//
// And whether bytes a write did not send, found changed on the device, are one of the blocks it
// did send, landed elsewhere.
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

// Whether the bytes `device` holds at first..last (differing bytes outside every range sent)
// can be a write frame of ours that the line sent astray (its offset damaged, its CRC still
// good): one `block`-byte block of `sent` from `candidates` (blocks sent whose frame may have
// gone elsewhere), put down at one start that covers first..last, explains every byte of those
// `block` bytes below `end` as either its own or, inside `sent_ranges`, the device's proven byte
// there (a later block written over it).
bool LandedAstray(const ConfigImage& device, const ConfigImage& sent,
                  const std::vector<BlockRange>& candidates,
                  const std::vector<BlockRange>& sent_ranges, int first, int last, int end,
                  int block);

}  // namespace lovar
