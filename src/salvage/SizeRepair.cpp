// Stream sizes that no chain agrees with. A stream of no bytes stores no
// start sector, and a stream of 4,096 bytes or more begins a chain through
// the SAT of just the sectors its size needs; a size damaged into zero, or
// into a big one, for a short stream breaks that. Where the mini chain
// from the stream's start is whole, begins there and belongs to no other
// stream, the stream is read through it: as many bytes as its mini
// sectors hold (the size itself is lost: up to 63 bytes past it come
// along).
#include "salvage/Root.h"

namespace salvage {

void CRoot::MendSizesNoChainFits() {
  const std::vector<std::uint32_t>& mini = sat_->MiniSatTable();
  const std::vector<std::uint32_t>& big = sat_->SatTable();
  const auto miniCount = static_cast<std::uint32_t>(mini.size());
  const auto bigCount = static_cast<std::uint32_t>(big.size());
  // Sectors some link leads to: no chain begins there.
  std::vector<std::uint8_t> miniLinked(miniCount, 0), bigLinked(bigCount, 0);
  for (std::uint32_t s = 0; s < miniCount; ++s)
    if (mini[s] < miniCount && mini[s] != s) miniLinked[mini[s]] = 1;
  for (std::uint32_t s = 0; s < bigCount; ++s)
    if (big[s] < bigCount && big[s] != s) bigLinked[big[s]] = 1;

  auto suspect = [&](const DirItem& item) {
    if (item.lost || item.Type() != kTypeStream) return false;
    const std::uint32_t size = item.Size(), start = item.Start();
    if (size == 0) return start != kEndOfChain && start < std::max(miniCount, bigCount);
    if (size < kMiniStreamCutoff) return false;
    if (std::int64_t{size} > imageSize_) return true;
    if (start >= bigCount || bigLinked[start]) return true;
    Chain chain;
    sat_->FollowChain(start, chain, 1);
    return chain.length != (std::uint64_t{size} + kSectorSize - 1) / kSectorSize;
  };

  // The mini sectors of the short streams whose sizes fit their chains.
  std::vector<std::uint8_t> owned(miniCount, 0);
  std::vector<std::size_t> suspects;
  for (std::size_t n = 0; n < items_.size(); ++n) {
    const DirItem& item = *items_[n];
    if (suspect(item)) {
      suspects.push_back(n);
      continue;
    }
    if (item.lost || item.Type() != kTypeStream || item.Size() == 0 || item.Size() >= kMiniStreamCutoff) continue;
    std::uint32_t s = item.Start();
    for (std::uint32_t k = 0; k < (item.Size() + kMiniSectorSize - 1) / kMiniSectorSize && s < miniCount && !owned[s];
         ++k) {
      owned[s] = 1;
      s = mini[s];
    }
  }

  constexpr std::uint32_t kMostMiniSectors = kMiniStreamCutoff / kMiniSectorSize;
  for (std::size_t n : suspects) {
    DirItem& item = *items_[n];
    const std::uint32_t start = item.Start();
    if (start >= miniCount || miniLinked[start] || owned[start]) continue;
    // The whole mini chain: its own sectors, ending with the end mark, short.
    std::vector<std::uint32_t> sectors;
    std::uint32_t s = start;
    bool whole = false;
    while (sectors.size() < kMostMiniSectors && s < miniCount && !owned[s]) {
      owned[s] = 1;
      sectors.push_back(s);
      if (mini[s] == kEndOfChain) {
        whole = true;
        break;
      }
      s = mini[s];
    }
    if (!whole) {
      for (std::uint32_t taken : sectors) owned[taken] = 0;
      continue;
    }
    const auto size = static_cast<std::uint32_t>(sectors.size() * kMiniSectorSize);
    state_.log().WriteFormat("Stream %s: its size (%u) fits no chain; read as a short stream of %u mini sectors (%u bytes)",
                             item.NarrowName().c_str(), item.Size(), static_cast<unsigned>(sectors.size()), size);
    item.SetU32(kDirSizeLow, size);
    item.SetU32(kDirSizeHigh, 0);
    ++state_.stats.damagedElements;
  }
}

}  // namespace salvage
