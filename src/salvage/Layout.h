// The compound-file layout as the salvage computes with it. The layout
// itself is platform/CompoundFileFormat.h; the salvage takes its names and
// narrows the sizes to the 32-bit sector arithmetic it does throughout
// (files below 2 GB). The header's own size fields are never read: sector
// and mini-sector sizes are fixed.
#pragma once

#include <cstdint>

#include "platform/CompoundFileFormat.h"

namespace salvage {

using platform::cfb::kEndOfChain;
using platform::cfb::kFreeSector;
using platform::cfb::kFatSectorMark;
using platform::cfb::kDifatSectorMark;
using platform::cfb::kNoEntry;
using platform::cfb::kMiniStreamCutoff;
using platform::cfb::kHeaderDifatEntries;
using platform::cfb::kTypeUnused;
using platform::cfb::kTypeStorage;
using platform::cfb::kTypeStream;
using platform::cfb::kTypeRoot;

// Header fields.
using platform::cfb::kHdrFatSectorCount;
using platform::cfb::kHdrFirstDirSector;
using platform::cfb::kHdrFirstMiniFatSector;
using platform::cfb::kHdrMiniFatSectorCount;
using platform::cfb::kHdrFirstDifatSector;
using platform::cfb::kHdrDifatSectorCount;
using platform::cfb::kHdrDifat;

// Directory entry fields.
using platform::cfb::kDirName;
using platform::cfb::kDirNameLength;
using platform::cfb::kDirType;
using platform::cfb::kDirColor;
using platform::cfb::kDirLeftSibling;
using platform::cfb::kDirRightSibling;
using platform::cfb::kDirChild;
using platform::cfb::kDirClassId;
using platform::cfb::kDirCreated;
using platform::cfb::kDirModified;
using platform::cfb::kDirStartSector;
using platform::cfb::kDirSizeLow;
using platform::cfb::kDirSizeHigh;

constexpr std::uint32_t kSectorSize = platform::cfb::kSectorSize;
constexpr std::uint32_t kMiniSectorSize = platform::cfb::kMiniSectorSize;
constexpr std::uint32_t kEntriesPerSector = platform::cfb::kEntriesPerFatSector;  // sector numbers in a table sector
constexpr std::uint32_t kDirEntrySize = platform::cfb::kDirEntrySize;
constexpr std::uint32_t kDirEntriesPerSector = platform::cfb::kDirEntriesPerSector;
// The name's slots, its terminator included.
constexpr std::uint32_t kDirNameUnits = platform::cfb::kMaxNameUnits + 1;
constexpr std::uint32_t kDirClassIdSize = platform::cfb::kDirStateBits - platform::cfb::kDirClassId;

}  // namespace salvage
