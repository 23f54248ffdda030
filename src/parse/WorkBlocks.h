// When an assignment's work runs and when it pauses (a split task), from
// binary var values of assignments: field 50 the completed work, field 49
// the remaining work.
//
//   0   u16 number of blocks n
//   4   u32 where the blocks begin (36 completed, 44 remaining)
//   16  f64 the work, minutes x 1000
//   28  u32 (remaining work only) its predefined contour: 0 flat, 1 back
//       loaded, 2 front loaded, 3 double peak, 4 early peak, 5 late peak,
//       6 bell, 7 turtle
//   then n blocks of 20 (completed) or 28 (remaining) bytes:
//     0   f64 the work done by the block's end, from the first block on
//     8   f64 the rate of work: 0 in a pause
//     last 4: u32 the block's end, in working time from where the work
//             starts, 1/80 of a minute
#pragma once

#include <optional>
#include <vector>

#include "model/Project.h"
#include "platform/ByteView.h"

namespace mpp {

// Low 16 bits of the field ids (and version 12/14 var type codes), and
// the size of their blocks.
inline constexpr std::uint16_t kRemainingWorkBlocksField = 49;
inline constexpr std::uint16_t kCompletedWorkBlocksField = 50;
inline constexpr std::size_t kRemainingWorkBlock = 28;
inline constexpr std::size_t kCompletedWorkBlock = 20;

// The blocks, in tenths of a minute, when they read soundly (work and ends
// never decreasing, no work in a pause) and the work pauses at least once;
// nothing otherwise: an unsplit assignment needs no blocks.
std::vector<model::SWorkBlock> ReadWorkBlocks(platform::ByteView value, std::size_t blockSize);

// The predefined contour the remaining work names; nothing when the header
// does not hold the code or the code names no contour (damage).
inline constexpr std::size_t kWorkContourOffset = 28;
inline constexpr std::uint8_t kLastPredefinedContour = 7;
std::optional<std::uint8_t> ReadWorkContour(platform::ByteView remainingWork);

}  // namespace mpp
