// Two sectors in use whose contents changed places (a misdirected write, a
// copy that shuffled sectors): the tables still chain them as before, so
// every stream through them reads the other's bytes. Where a stream's
// first bytes are known (the magic of a table's meta stream), a stream
// whose first sector lacks them names one of the two; the other is the one
// sector whose bytes hold what was missed there, and whose own streams'
// first bytes the first sector holds in turn.
#pragma once

#include <cstdint>
#include <vector>

#include "salvage/ImageView.h"

namespace salvage {

// What a stream's first bytes must be: value as the u32 at the start of
// its 64-byte slot (0..7) of a sector.
struct SectorHead {
  std::uint32_t sector = 0;
  std::uint32_t slot = 0;
  std::uint32_t value = 0;
};

// A sector in use and where its bytes lie in the image.
struct SectorPlace {
  std::uint32_t sector = 0;
  std::uint64_t offset = 0;
};

struct SectorSwap {
  std::uint32_t a = 0, b = 0;
};

// The pairs of sectors whose contents are to be swapped back: each pair
// makes every head of both sectors hold, at least one of them did not
// before, and no other sector in use would do for either (first bytes that
// several sectors hold decide nothing). A sector is in one pair at most.
// Linear in the sectors and heads, with a bounded number of comparisons.
std::vector<SectorSwap> FindSwappedSectors(ImageView image, const std::vector<SectorPlace>& inUse,
                                           std::vector<SectorHead> heads);

}  // namespace salvage
