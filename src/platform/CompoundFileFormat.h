// The on-disk layout of a compound file, version 3 (512-byte sectors), as
// the writer produces it and the reader checks it: field offsets of the
// header and of a directory entry, the special sector numbers, and the name
// order of the directory. Shared by the writer, the reader and the test
// fixtures; nothing here reads bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace platform::cfb {

// Sizes.
constexpr std::size_t kHeaderSize = 512;
constexpr std::uint16_t kSectorShift = 9;
constexpr std::size_t kSectorSize = std::size_t{1} << kSectorShift;
constexpr std::uint16_t kMiniSectorShift = 6;
constexpr std::size_t kMiniSectorSize = std::size_t{1} << kMiniSectorShift;
// Streams shorter than this live in the mini stream.
constexpr std::uint32_t kMiniStreamCutoff = 4096;
constexpr std::size_t kEntriesPerFatSector = kSectorSize / 4;             // 128
constexpr std::size_t kHeaderDifatEntries = 109;
constexpr std::size_t kFatSectorsPerDifatSector = kSectorSize / 4 - 1;    // 127, then the link
constexpr std::size_t kDirEntrySize = 128;
constexpr std::size_t kDirEntriesPerSector = kSectorSize / kDirEntrySize;  // 4
constexpr std::size_t kMaxNameUnits = 31;  // plus the terminating zero in 32 slots
// A version 3 file is at most 2 GB long.
constexpr std::uint64_t kMaxFileSize = std::uint64_t{1} << 31;

// Special sector numbers in the allocation tables and the header.
constexpr std::uint32_t kMaxRegularSector = 0xFFFFFFFA;
constexpr std::uint32_t kDifatSectorMark = 0xFFFFFFFC;  // DIFSECT
constexpr std::uint32_t kFatSectorMark = 0xFFFFFFFD;    // FATSECT
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;       // ENDOFCHAIN
constexpr std::uint32_t kFreeSector = 0xFFFFFFFF;       // FREESECT
// No sibling or child in a directory entry.
constexpr std::uint32_t kNoEntry = 0xFFFFFFFF;

constexpr std::array<std::uint8_t, 8> kSignature = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::uint16_t kMinorVersion = 0x003E;
constexpr std::uint16_t kMajorVersion3 = 0x0003;
constexpr std::uint16_t kByteOrderMark = 0xFFFE;

// Header fields (offsets into the first 512 bytes).
constexpr std::size_t kHdrSignature = 0x00;           // 8 bytes
constexpr std::size_t kHdrClassId = 0x08;             // 16 bytes, zero
constexpr std::size_t kHdrMinorVersion = 0x18;        // u16
constexpr std::size_t kHdrMajorVersion = 0x1A;        // u16
constexpr std::size_t kHdrByteOrder = 0x1C;           // u16
constexpr std::size_t kHdrSectorShift = 0x1E;         // u16
constexpr std::size_t kHdrMiniSectorShift = 0x20;     // u16
constexpr std::size_t kHdrReserved = 0x22;            // 6 bytes, zero
constexpr std::size_t kHdrDirSectorCount = 0x28;      // u32, zero in version 3
constexpr std::size_t kHdrFatSectorCount = 0x2C;      // u32
constexpr std::size_t kHdrFirstDirSector = 0x30;      // u32
constexpr std::size_t kHdrTransactionSig = 0x34;      // u32
constexpr std::size_t kHdrMiniStreamCutoff = 0x38;    // u32
constexpr std::size_t kHdrFirstMiniFatSector = 0x3C;  // u32
constexpr std::size_t kHdrMiniFatSectorCount = 0x40;  // u32
constexpr std::size_t kHdrFirstDifatSector = 0x44;    // u32
constexpr std::size_t kHdrDifatSectorCount = 0x48;    // u32
constexpr std::size_t kHdrDifat = 0x4C;               // 109 x u32: the first FAT sectors

// Directory entry fields (offsets into a 128-byte entry).
constexpr std::size_t kDirName = 0x00;           // 32 x UTF-16 unit, zero-terminated
constexpr std::size_t kDirNameLength = 0x40;     // u16, bytes including the terminator
constexpr std::size_t kDirType = 0x42;           // u8, EntryType
constexpr std::size_t kDirColor = 0x43;          // u8, 0 red, 1 black
constexpr std::size_t kDirLeftSibling = 0x44;    // u32
constexpr std::size_t kDirRightSibling = 0x48;   // u32
constexpr std::size_t kDirChild = 0x4C;          // u32
constexpr std::size_t kDirClassId = 0x50;        // 16 bytes
constexpr std::size_t kDirStateBits = 0x60;      // u32
constexpr std::size_t kDirCreated = 0x64;        // u64 FILETIME
constexpr std::size_t kDirModified = 0x6C;       // u64 FILETIME
constexpr std::size_t kDirStartSector = 0x74;    // u32
constexpr std::size_t kDirSizeLow = 0x78;        // u32
constexpr std::size_t kDirSizeHigh = 0x7C;       // u32, zero in version 3

// Readers of a whole header or entry rely on these.
static_assert(kHdrDifat + 4 * kHeaderDifatEntries == kHeaderSize);
static_assert(kDirSizeHigh + 4 == kDirEntrySize);

enum EntryType : std::uint8_t { kTypeUnused = 0, kTypeStorage = 1, kTypeStream = 2, kTypeRoot = 5 };
enum EntryColor : std::uint8_t { kRed = 0, kBlack = 1 };

// The byte offset of a sector in the file (sector 0 follows the header).
constexpr std::uint64_t SectorOffset(std::uint32_t sector) {
  return kHeaderSize + std::uint64_t{sector} * kSectorSize;
}

// The upper case of one UTF-16 unit as the directory compares names. It
// covers the alphabets that carry case within the basic plane's first
// blocks (Latin, Greek, Cyrillic, Armenian, full-width Latin); every other
// unit, surrogates included, is its own upper case.
constexpr char16_t UpperUnit(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F) {
    // Latin Extended-A pairs upper/lower at even/odd units, except in
    // 0x139..0x148 and 0x179..0x17E where the pairs start on odd units.
    if (c == 0x131) return u'I';
    if (c == 0x138 || c == 0x149) return c;
    if (c == 0x17F) return u'S';
    const bool oddPairs = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    const bool lower = oddPairs ? (c % 2 == 0) : (c % 2 == 1);
    return lower ? static_cast<char16_t>(c - 1) : c;
  }
  if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) return static_cast<char16_t>(c - 0x20);
  if (c == 0x3C2) return 0x3A3;  // final sigma
  if (c >= 0x3AC && c <= 0x3AF) {
    constexpr char16_t kTonos[] = {0x386, 0x388, 0x389, 0x38A};
    return kTonos[c - 0x3AC];
  }
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  if (c >= 0x460 && c <= 0x4FF && c != 0x482 && !(c >= 0x483 && c <= 0x489) && c != 0x4C0 &&
      c != 0x4CF) {
    // Cyrillic supplements pair at even/odd units, shifted by one in
    // 0x4C1..0x4CE.
    const bool lower = (c >= 0x4C1 && c <= 0x4CE) ? (c % 2 == 0) : (c % 2 == 1);
    return lower ? static_cast<char16_t>(c - 1) : c;
  }
  if (c >= 0x561 && c <= 0x586) return static_cast<char16_t>(c - 0x30);
  if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<char16_t>(c - 0x20);
  return c;
}

// The directory's name order: a shorter name comes first; names of equal
// length compare unit by unit in upper case. Names equal in this order are
// the same name. Negative, zero or positive like a three-way comparison.
constexpr int CompareNames(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const char16_t x = UpperUnit(a[i]);
    const char16_t y = UpperUnit(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

// A name the directory can hold: 1 to 31 units, none of them zero or one of
// the separators the format reserves ('/', '\\', ':', '!').
constexpr bool IsValidName(std::u16string_view name) {
  if (name.empty() || name.size() > kMaxNameUnits) return false;
  for (char16_t c : name)
    if (c == 0 || c == u'/' || c == u'\\' || c == u':' || c == u'!') return false;
  return true;
}

}  // namespace platform::cfb
