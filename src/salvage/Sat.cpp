#include "salvage/Sat.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "base/LibrarySettings.h"
#include "base/Logger.h"
#include "salvage/Layout.h"
#include "salvage/TableValues.h"

namespace salvage {

CSat::CSat(SalvageState& state) : state_(state) {}
CSat::~CSat() = default;

int CSat::Init(ImageView image) {
  state_.log().WriteLine("S: CSat::Init");
  image_ = image;
  state_.log().WriteLine("F: CSat::Init");
  return 0;
}

void CSat::SetFileInfo(std::int64_t fileSize, HeaderInfo& header) {
  fileSize_ = fileSize;
  header_ = &header;
  const std::int64_t sectors = fileSize / kSectorSize;
  if (header.satStart > sectors) header.satStart = 0;
  if (header.rootsStart > sectors) header.rootsStart = 1;
}

std::optional<std::uint64_t> CSat::GetOffsBySector(std::uint32_t n) const {
  if (image_.Empty()) return std::nullopt;
  const std::uint64_t offset = kSectorSize + std::uint64_t{n} * kSectorSize;
  if (offset + kSectorSize > static_cast<std::uint64_t>(fileSize_)) return std::nullopt;
  return offset;
}

std::uint32_t CSat::FirstValueOf(std::uint32_t n) const {
  return image_.U32((std::uint64_t{n} + 1) * kSectorSize);
}

std::int64_t CSat::MaxSector() const { return state_.bounds.maxSector; }

}  // namespace salvage
