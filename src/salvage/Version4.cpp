#include "salvage/Version4.h"

#include <algorithm>
#include <vector>

#include "platform/ByteView.h"
#include "salvage/Layout.h"

namespace salvage {

namespace {

namespace cfb = platform::cfb;

constexpr std::uint16_t kVersion4 = 4;
constexpr std::uint16_t kShift4 = 12;
constexpr std::uint32_t kSize4 = 4096;
// Sectors of 512 bytes in one of 4,096, and before the first of them.
constexpr std::uint32_t kParts = kSize4 / kSectorSize;
constexpr std::uint32_t kHeaderParts = kParts - 1;
constexpr std::uint32_t kEntries4 = kSize4 / 4;

bool Regular(std::uint32_t sector) { return sector < cfb::kMaxRegularSector; }

void Put32(Bytes& image, std::uint64_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) image[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The first of the eight sectors that a version 4 sector becomes.
std::uint32_t FirstPart(std::uint32_t sector4) { return sector4 * kParts + kHeaderParts; }

}  // namespace

std::uint64_t ReadVersion4AsVersion3(Bytes& image, std::uint64_t fileSize, Logger& log) {
  const platform::ByteView file(image.data(), std::min<std::uint64_t>(fileSize, image.size()));
  if (file.u16_at(cfb::kHdrMajorVersion) != kVersion4 || file.u16_at(cfb::kHdrSectorShift) != kShift4 ||
      fileSize <= kSize4)
    return 0;
  const auto sectors4 = static_cast<std::uint32_t>((fileSize - kSize4 + kSize4 - 1) / kSize4);
  auto sectorAt = [&](std::uint32_t sector) { return file.Sub(std::uint64_t{sector + 1} * kSize4, kSize4); };

  // The old table, through the header's list and the DIF chain.
  std::vector<std::uint32_t> tableSectors;
  for (std::uint32_t i = 0; i < kHeaderDifatEntries; ++i) {
    const std::uint32_t s = file.u32_at(kHdrDifat + 4 * i).value_or(kFreeSector);
    if (s < sectors4) tableSectors.push_back(s);
  }
  std::uint32_t dif = file.u32_at(kHdrFirstDifatSector).value_or(kEndOfChain);
  // No more table sectors than the file's sectors need.
  const std::size_t needed = (sectors4 + kEntries4 - 1) / kEntries4;
  for (std::uint32_t walked = 0; dif < sectors4 && walked < sectors4 && tableSectors.size() < needed; ++walked) {
    const auto bytes = sectorAt(dif);
    if (!bytes) break;
    for (std::uint32_t i = 0; i + 1 < kEntries4; ++i) {
      const std::uint32_t s = bytes->u32_at(4 * i).value_or(kFreeSector);
      if (s < sectors4) tableSectors.push_back(s);
    }
    dif = bytes->u32_at(kSize4 - 4).value_or(kEndOfChain);
  }
  std::vector<std::uint32_t> next4(sectors4, kFreeSector);
  for (std::size_t k = 0; k < tableSectors.size() && k * kEntries4 < sectors4; ++k) {
    const auto bytes = sectorAt(tableSectors[k]);
    if (!bytes) continue;
    for (std::uint32_t i = 0; i < kEntries4 && k * kEntries4 + i < sectors4; ++i)
      next4[k * kEntries4 + i] = bytes->u32_at(4 * i).value_or(kFreeSector);
  }

  // The new table: the file's parts, then its own sectors and DIF sectors.
  const std::uint64_t parts = std::uint64_t{sectors4} * kParts + kHeaderParts;
  std::uint64_t fat = 0, difs = 0;
  for (int round = 0; round < 4; ++round) {
    fat = (parts + fat + difs + kEntriesPerSector - 1) / kEntriesPerSector;
    difs = fat > kHeaderDifatEntries ? (fat - kHeaderDifatEntries + cfb::kFatSectorsPerDifatSector - 1) /
                                           cfb::kFatSectorsPerDifatSector
                                     : 0;
  }
  const std::uint64_t total = parts + fat + difs;
  if (cfb::SectorOffset(static_cast<std::uint32_t>(total)) > cfb::kMaxFileSize) return 0;
  std::vector<std::uint32_t> next(fat * kEntriesPerSector, kFreeSector);
  for (std::uint32_t s = 0; s < sectors4; ++s) {
    const std::uint32_t to = next4[s];
    if (to == kFreeSector || to == kFatSectorMark || to == kDifatSectorMark) continue;
    const std::uint32_t first = FirstPart(s);
    for (std::uint32_t i = 0; i + 1 < kParts; ++i) next[first + i] = first + i + 1;
    next[first + kParts - 1] = to < sectors4 ? FirstPart(to) : kEndOfChain;
  }
  const auto firstTable = static_cast<std::uint32_t>(parts);
  const auto firstDif = static_cast<std::uint32_t>(parts + fat);
  for (std::uint32_t i = 0; i < fat; ++i) next[firstTable + i] = kFatSectorMark;
  for (std::uint32_t i = 0; i < difs; ++i) next[firstDif + i] = kDifatSectorMark;

  Bytes out;
  out.resize(cfb::SectorOffset(static_cast<std::uint32_t>(total)) + kSectorSize);
  std::fill(out.begin(), out.end(), 0);
  std::copy(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(file.size()), out.begin());
  // The table's sectors: 109 in the header, the rest in the DIF chain.
  for (std::uint32_t i = 0; i < kHeaderDifatEntries; ++i)
    Put32(out, kHdrDifat + 4 * i, i < fat ? firstTable + i : kFreeSector);
  for (std::uint32_t d = 0; d < difs; ++d) {
    const std::uint64_t at = cfb::SectorOffset(firstDif + d);
    for (std::uint32_t i = 0; i < cfb::kFatSectorsPerDifatSector; ++i) {
      const std::uint64_t listed = kHeaderDifatEntries + std::uint64_t{d} * cfb::kFatSectorsPerDifatSector + i;
      Put32(out, at + 4 * i, listed < fat ? firstTable + static_cast<std::uint32_t>(listed) : kFreeSector);
    }
    Put32(out, at + kSectorSize - 4, d + 1 < difs ? firstDif + d + 1 : kEndOfChain);
  }

  // A stream's chain ends where its size does: the rest of its last old
  // sector is free. Steps are bounded by twice the parts, whatever the
  // directory claims.
  std::uint64_t steps = 2 * parts;
  auto cut = [&](std::uint32_t first, std::uint32_t size) {
    std::uint64_t keep = (std::uint64_t{size} + kSectorSize - 1) / kSectorSize;
    std::uint32_t at = first;
    for (; keep > 1 && steps > 0 && at < parts && Regular(next[at]); --keep, --steps) at = next[at];
    if (keep != 1 || at >= parts) return;
    std::uint32_t rest = next[at];
    next[at] = kEndOfChain;
    // The parts after it in the same old sector are no stream's.
    while (rest < parts && rest == at + 1 && (rest - kHeaderParts) % kParts != 0) {
      at = rest;
      rest = next[at];
      next[at] = kFreeSector;
    }
  };
  // The directory: the root's and the big streams' start sectors, and sizes
  // that version 3 keeps in 32 bits.
  const std::uint32_t dirStart = file.u32_at(kHdrFirstDirSector).value_or(kEndOfChain);
  std::uint32_t dir = dirStart;
  for (std::uint32_t walked = 0; dir < sectors4 && walked < sectors4; ++walked, dir = next4[dir]) {
    for (std::uint32_t e = 0; e < kSize4 / kDirEntrySize; ++e) {
      const std::uint64_t at = std::uint64_t{dir + 1} * kSize4 + e * kDirEntrySize;
      const auto type = file.u8_at(at + kDirType);
      const auto start = file.u32_at(at + kDirStartSector);
      const auto size = file.u32_at(at + kDirSizeLow);
      if (!type || !start || !size) break;
      if (*type != kTypeStream && *type != kTypeRoot) continue;
      Put32(out, at + kDirSizeHigh, 0);
      if ((*type == kTypeRoot || *size >= kMiniStreamCutoff) && *start < sectors4) {
        Put32(out, at + kDirStartSector, FirstPart(*start));
        cut(FirstPart(*start), *size);
      }
    }
  }
  for (std::uint64_t i = 0; i < next.size(); ++i)
    Put32(out, cfb::SectorOffset(firstTable) + 4 * i, next[i]);

  auto moved = [&](std::size_t field) {
    const std::uint32_t s = file.u32_at(field).value_or(kEndOfChain);
    return s < sectors4 ? FirstPart(s) : (Regular(s) ? kEndOfChain : s);
  };
  out[cfb::kHdrMajorVersion] = 3;
  out[cfb::kHdrMajorVersion + 1] = 0;
  out[cfb::kHdrSectorShift] = cfb::kSectorShift;
  out[cfb::kHdrSectorShift + 1] = 0;
  Put32(out, cfb::kHdrDirSectorCount, 0);
  Put32(out, kHdrFatSectorCount, static_cast<std::uint32_t>(fat));
  Put32(out, kHdrFirstDirSector, moved(kHdrFirstDirSector));
  Put32(out, kHdrFirstMiniFatSector, moved(kHdrFirstMiniFatSector));
  Put32(out, kHdrMiniFatSectorCount, file.u32_at(kHdrMiniFatSectorCount).value_or(0) * kParts);
  Put32(out, kHdrFirstDifatSector, difs ? firstDif : kEndOfChain);
  Put32(out, kHdrDifatSectorCount, static_cast<std::uint32_t>(difs));
  // Bytes 512 to 4,095 were the rest of the old header: no sector's.
  std::fill(out.begin() + kSectorSize, out.begin() + kSize4, 0);

  log.WriteNumber("[STG]\tversion 4 file: sectors of 4096 bytes read as 512, their count", sectors4);
  image = std::move(out);
  return cfb::SectorOffset(static_cast<std::uint32_t>(total));
}

}  // namespace salvage
