// Chains through the SAT and the mini SAT, walked once per table.
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

// The two tables chain alike: an entry names the next sector, up to the
// bound the file sets. The SAT also ends a chain at its reserved values
// (or what is left of them); the mini SAT takes a link to the first mini
// sector it does not map as the chain's last sector.
CSat::Table CSat::BigTable() const { return {satTable_, MaxSector(), false}; }
CSat::Table CSat::MiniTable() const { return {miniSatTable_, state_.bounds.maxMiniSector, true}; }

std::uint32_t CSat::ChainNodes(const Table& t) const {
  const std::int64_t nodes = std::min<std::int64_t>(static_cast<std::int64_t>(t.entries.size()), t.bound + 1);
  return static_cast<std::uint32_t>(std::max<std::int64_t>(0, nodes));
}

bool CSat::EnterChain(const Table& t, std::uint32_t cur, std::uint32_t& next, std::uint8_t& stop) const {
  const auto count = static_cast<std::uint32_t>(t.entries.size());
  if (cur > count || std::int64_t{cur} > t.bound) {
    stop = kStopOverBoundary;
    return false;
  }
  if (cur == count) {
    stop = t.mini ? kStopMiniPastTable : kStopTableEnd;
    return false;
  }
  next = cur;
  return true;
}

bool CSat::ChainLink(const Table& t, std::uint32_t sector, std::uint32_t& next, std::uint8_t& stop) const {
  const std::uint32_t entry = t.entries[sector];
  if (!t.mini) {
    if (IsLikeSpecial(0xFF, entry) || IsLikeSpecial(0xFD, entry)) {
      stop = kStopSpecial;
      return false;
    }
    if (IsLikeSpecial(0xFE, entry)) {
      stop = kStopEndMark;
      return false;
    }
    // A sector the table maps beyond the file's end: the file was cut. The
    // link is the table's own and is not narrowed to the file's bound (that
    // would make it name some other sector).
    if (entry < t.entries.size() && std::int64_t{entry} > t.bound) {
      stop = kStopPastFileEnd;
      return false;
    }
  }
  return EnterChain(t, TruncateByBound(entry, static_cast<std::uint64_t>(t.bound)), next, stop);
}

bool CSat::ChainLink(std::uint32_t sector, std::uint32_t& next, std::uint8_t& stop) const {
  return ChainLink(BigTable(), sector, next, stop);
}

void CSat::Follow(const Table& t, std::uint32_t start, Chain& chain, std::size_t limit) {
  chain.sectors.clear();
  chain.length = 0;
  chain.chainEnded = false;
  chain.pastFileEnd = false;
  // A mini stream entry that names no chain has none.
  if (t.mini && (start == kEndOfChain || start == kFreeSector)) return;
  TableWalks& cache = walks_[t.mini ? 1 : 0];
  std::uint32_t cur = 0;
  std::uint8_t stop = 0;
  if (EnterChain(t, start, cur, stop)) {
    if (!cache.walks || cache.bound != t.bound) {
      cache.bound = t.bound;
      cache.walks = WalkAllChains(ChainNodes(t), [&](std::uint32_t s, std::uint32_t& n, std::uint8_t& c) {
        return ChainLink(t, s, n, c);
      });
    }
    chain.length = cache.walks->length[cur];
    stop = cache.walks->stop[cur];
    const std::size_t take = std::min(limit, chain.length);
    chain.sectors.reserve(take);
    for (std::size_t n = 0; n < take; ++n) {
      chain.sectors.push_back(cur);
      std::uint8_t ignored = 0;
      if (!ChainLink(t, cur, cur, ignored)) break;
    }
  }
  if (t.mini) {
    if (stop == kStopMiniPastTable) {
      ++chain.length;
      if (chain.sectors.size() < limit) chain.sectors.push_back(static_cast<std::uint32_t>(t.entries.size()));
    }
    if (stop == kWalkCycle) state_.log().WriteError("ERROR ! sectors cycle detected ! truncating chain. End Search");
    return;
  }
  switch (stop) {
    case kStopOverBoundary: state_.log().WriteLine("Trying to read over boundary sector"); break;
    case kWalkCycle: state_.log().WriteError("ERROR ! sectors cycle detected ! truncating chain. End Search"); break;
    case kStopEndMark: state_.log().WriteLine("End of chain found"); break;
    case kStopPastFileEnd: state_.log().WriteLine("Chain runs past the end of the file"); break;
    default: break;
  }
  chain.chainEnded = stop == kStopEndMark || stop == kStopTableEnd;
  chain.pastFileEnd = stop == kStopPastFileEnd;
}

int CSat::FollowChain(std::uint32_t start, Chain& chain, std::size_t limit) {
  Follow(BigTable(), start, chain, limit);
  return 0;
}

int CSat::FollowMiniChain(std::uint32_t start, Chain& chain, std::size_t limit) {
  Follow(MiniTable(), start, chain, limit);
  return 0;
}

bool CSat::ExtendChain(Chain& chain) const {
  if (chain.sectors.empty() || chain.sectors.size() >= chain.length) return false;
  std::uint32_t next = 0;
  std::uint8_t ignored = 0;
  if (!ChainLink(chain.sectors.back(), next, ignored)) return false;
  chain.sectors.push_back(next);
  return true;
}

std::vector<std::uint32_t> CSat::RunsWithin(const std::vector<std::uint32_t>& sectors) {
  const std::uint32_t nodes = ChainNodes(BigTable());
  std::vector<std::uint8_t> member(nodes, 0);
  for (std::uint32_t s : sectors)
    if (s < nodes) member[s] = 1;
  const ChainWalks runs = WalkAllChains(nodes, [&](std::uint32_t s, std::uint32_t& n, std::uint8_t& c) {
    return member[s] && ChainLink(s, n, c) && member[n];
  });
  std::vector<std::uint32_t> result;
  result.reserve(sectors.size());
  for (std::uint32_t s : sectors) result.push_back(s < nodes && member[s] ? runs.length[s] : 0);
  return result;
}

}  // namespace salvage
