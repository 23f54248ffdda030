// Two sectors in use whose contents changed places (a misdirected write, a
// copy that shuffled sectors): the tables still chain them as before, so
// every stream through them reads the other's bytes. Where a stream's
// bytes are known before it is read (the magic a table's meta stream
// begins with; the length before each Var2Data value, which runs up to the
// next value its VarMeta names), a sector that lacks them is one of the
// two; the other is the one sector whose bytes hold what was missed there,
// and whose own known bytes the first sector holds in turn.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "salvage/ImageView.h"

namespace salvage {

class CRoot;
class CSat;
struct SalvageState;

// A u32 a stream holds before it is read: value at byte offset of a sector.
struct SectorHead {
  std::uint32_t sector = 0;
  std::uint32_t offset = 0;
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

// Swaps back in image, before any stream is read, the pairs the table
// streams name: the magic of every meta stream whose chain is as long as
// its size needs; where linksSure (no link of either table was mended or
// guessed), also the lengths in every Var2Data whose VarMeta's header
// agrees with both sizes. Only sectors the SAT chains are candidates.
// Returns the pairs swapped.
int MendSwappedSectors(CRoot& root, CSat& sat, std::span<std::uint8_t> image, bool linksSure, SalvageState& state);

}  // namespace salvage
