// Sector numbers, image offsets and table values as the code that rebuilds
// the allocation tables reads them.
#pragma once

#include <cstdint>

#include "salvage/ImageView.h"
#include "salvage/Layout.h"

namespace salvage {

// Sector number <-> image offset. Offsets are kept to 32 bits, as the lists
// of SAT sectors store them (files are below 2 GB).
inline constexpr std::uint32_t OffsetOfSector(std::uint32_t sector) { return (sector + 1) * kSectorSize; }
constexpr std::uint32_t SectorOfOffset(std::uint64_t offset) {
  return static_cast<std::uint32_t>(offset / kSectorSize) - 1;
}

// Marks a table entry already walked while a candidate sector is scored.
constexpr std::uint32_t kWalkedMark = 0xFFFFFFFB;

constexpr bool IsReservedSect(std::uint32_t v) {
  return v == kEndOfChain || v == kFreeSector || v == kFatSectorMark;
}

// Why a chain walk ended after its last sector (besides kWalkCycle).
constexpr std::uint8_t kStopOverBoundary = 1;  // a link beyond the file or the table
constexpr std::uint8_t kStopEndMark = 2;       // an end-of-chain mark
constexpr std::uint8_t kStopTableEnd = 3;      // a link to the first sector no table part maps
constexpr std::uint8_t kStopSpecial = 4;       // a free or table-sector mark
constexpr std::uint8_t kStopMiniPastTable = 5; // a link to the first mini sector no part maps (taken, then the end)
constexpr std::uint8_t kStopPastFileEnd = 6;   // a link to a sector the table maps but the file no longer holds

// What a mini SAT may hold: links within a mini stream of miniSectors, ends
// of chains and free entries.
constexpr bool IsMiniTableValue(std::uint32_t v, std::uint64_t miniSectors) {
  return v == kEndOfChain || v == kFreeSector || v < miniSectors;
}

// The 128 sector numbers of the sector at offset; zeros where the image ends.
inline void LoadPart(const ImageView& image, std::uint64_t offset, std::uint32_t (&part)[kEntriesPerSector]) {
  for (std::uint32_t i = 0; i < kEntriesPerSector; ++i) part[i] = image.U32(offset + 4 * i);
}

}  // namespace salvage
