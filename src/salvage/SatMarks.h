// The SAT as it describes itself. Every SAT sector is marked as such
// (0xFFFFFFFD) in the part of the table that maps it, and the chains in the
// k-th part run through sectors 128k to 128k+127, mostly one sector after
// the other. From these two facts alone, without the header, the parts of
// the table and their order can be told from the other sectors of a file.
#pragma once

#include <cstdint>
#include <vector>

#include "base/RunContext.h"
#include "salvage/ImageView.h"

namespace salvage {

inline constexpr std::uint32_t kNoPart = 0xFFFFFFFF;

struct SatMarks {
  // The sector of each part of the table, in order; kNoPart where none
  // was found.
  std::vector<std::uint32_t> parts;
  // Every sector that a found part marks as a SAT sector, sorted.
  std::vector<std::uint32_t> marked;
  // Every link in a found part leads to a sector that a found part maps.
  bool linksMapped = false;

  // Every part found, every marked sector one of them and every link
  // mapped: the table as complete as the file's own marks can tell.
  bool Whole() const;
};

// The part of a table (below parts) that the 128 values of a sector place
// it in: entry i of part k that links to the next sector holds
// 128k + i + 1, so each such value votes for k. The part with the most
// votes, the lowest on a tie; kNoPart and no votes when none.
struct PartVote {
  std::uint32_t part = kNoPart;
  int votes = 0;
};
PartVote MostVotedPart(const ImageView& sector, std::uint64_t parts);

// sectors: the number of whole 512-byte sectors after the header.
SatMarks FindSatByMarks(const RunContext& run, const ImageView& image, std::uint32_t sectors);

}  // namespace salvage
