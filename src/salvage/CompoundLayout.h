// The parts of the compound-file layout the salvage relies on. Sector and
// mini-sector sizes are fixed; the header's own size fields are never read.
#pragma once

#include <cstdint>

namespace salvage {

// Sectors and tables.
constexpr std::uint32_t kSectorSize = 512;
constexpr std::uint32_t kMiniSectorSize = 64;
constexpr std::uint32_t kEntriesPerSector = 128;  // 4-byte sector numbers in a SAT sector
constexpr std::uint32_t kDirEntrySize = 128;
constexpr std::uint32_t kDirEntriesPerSector = 4;
// Streams below this size live in the mini stream.
constexpr std::uint32_t kMiniStreamCutoff = 4096;
// A file needs the header and two sectors before the salvage tries it.
constexpr std::int64_t kMinFileSize = 3 * kSectorSize;

// Reserved sector values.
constexpr std::uint32_t kFreeSect = 0xFFFFFFFF;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kSatSect = 0xFFFFFFFD;
constexpr std::uint32_t kDifSect = 0xFFFFFFFC;
// Marks a table entry already walked while a candidate sector is scored.
constexpr std::uint32_t kWalkedMark = 0xFFFFFFFB;
// A directory entry with no sibling or child.
constexpr std::uint32_t kNoEntry = 0xFFFFFFFF;

// Header fields (byte offsets in the 512-byte header).
constexpr std::uint32_t kHdrSatSectorCount = 0x2C;
constexpr std::uint32_t kHdrDirStart = 0x30;
constexpr std::uint32_t kHdrMiniSatStart = 0x3C;
constexpr std::uint32_t kHdrMiniSatCount = 0x40;
constexpr std::uint32_t kHdrDifStart = 0x44;
constexpr std::uint32_t kHdrDifSectorCount = 0x48;
constexpr std::uint32_t kHdrSatList = 0x4C;          // 109 sector numbers up to 0x1FF
constexpr std::uint32_t kHdrSatListEntries = 109;

// Directory entry fields (byte offsets in a 128-byte entry).
constexpr std::uint32_t kDirName = 0x00;             // 32 UTF-16 units
constexpr std::uint32_t kDirNameUnits = 32;
constexpr std::uint32_t kDirNameLength = 0x40;       // 16-bit, bytes including the terminator
constexpr std::uint32_t kDirType = 0x42;             // 8-bit
constexpr std::uint32_t kDirColour = 0x43;           // 8-bit
constexpr std::uint32_t kDirPrev = 0x44;             // left sibling
constexpr std::uint32_t kDirNext = 0x48;             // right sibling
constexpr std::uint32_t kDirChild = 0x4C;
constexpr std::uint32_t kDirClassId = 0x50;          // 16 bytes
constexpr std::uint32_t kDirClassIdSize = 16;
constexpr std::uint32_t kDirCreated = 0x64;          // FILETIME, low word first
constexpr std::uint32_t kDirModified = 0x6C;         // FILETIME, low word first
constexpr std::uint32_t kDirStart = 0x74;
constexpr std::uint32_t kDirSize = 0x78;             // 32 bits
constexpr std::uint32_t kDirSizeHigh = 0x7C;         // the word after the size

// Directory entry types.
constexpr std::uint8_t kTypeInvalid = 0;
constexpr std::uint8_t kTypeStorage = 1;
constexpr std::uint8_t kTypeStream = 2;
constexpr std::uint8_t kTypeRoot = 5;

}  // namespace salvage
