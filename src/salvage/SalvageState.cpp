#include "salvage/SalvageState.h"

#include <cmath>

#include "salvage/Layout.h"

namespace salvage {

FileBounds FileBounds::ForFileSize(std::int64_t size) {
  FileBounds b;
  b.maxSector = static_cast<std::int32_t>(size / kSectorSize - 1);
  b.maxMiniSector = static_cast<std::uint32_t>(((size / kMiniSectorSize) * 2) / 3);
  b.needSatSectors = static_cast<std::uint32_t>(std::ceil(b.maxSector / double(kEntriesPerSector)));
  // The header holds 109 SAT sectors, each DIF sector 127 more.
  b.needDifSectors = b.needSatSectors > 109 ? (b.needSatSectors - 109 + 126) / 127 : 0;
  return b;
}

}  // namespace salvage
