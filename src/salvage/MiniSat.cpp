// The mini SAT: its chain from the header, checked part by part and
// completed by the search, mended from the chains the directory accounts
// for; and the mini stream it maps.
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
#include "salvage/PartSearch.h"
#include "salvage/SatMarks.h"
#include "salvage/TableValues.h"

namespace salvage {

std::uint32_t CSat::FindMiniSat() {
  HeaderInfo& h = *header_;
  headerMiniSatStart_ = h.miniSatStart;
  headerChainAccepted_ = false;
  if (h.miniSatStart == kEndOfChain) return 0;
  state_.log().WriteLine("Start CSat::FindMiniSat()");
  miniSatList_.clear();
  Chain chain;
  FollowChain(h.miniSatStart, chain);

  state_.log().WriteLine("Check chain miniSAT on correct");
  bool allAccepted = !chain.sectors.empty();
  for (std::size_t k = 0; k < chain.sectors.size(); ++k) {
    const std::uint32_t sector = chain.sectors[k];
    const std::uint32_t offset = OffsetOfSector(sector);
    const PartScore s = ScoreSatPart(offset, static_cast<std::uint32_t>(k), true);
    state_.log().WriteFormat("Minisat Sector %i (%i): ball - %i, count - %i, maxlen - %i, rubbish - %i, stepbystep - %i",
                       static_cast<int>(sector), static_cast<int>(offset), s.likeSatPoints, s.chainsCount,
                       s.maxChainLen, s.rubbish, s.stepByStep);
    if (s.likeSatPoints < 50) {
      state_.log().WriteFormat("Minisat Sector %i, not seem correct", static_cast<int>(sector));
      allAccepted = false;
      break;
    }
    miniSatList_.push_back(sector);
  }
  headerChainAccepted_ = allAccepted;
  // A chain that runs past the end of a cut file is the table's own as far
  // as it goes; the parts it lost are mended with the other lost parts.
  miniSatPastFileEnd_ = allAccepted && chain.pastFileEnd;
  if (miniSatPastFileEnd_)
    state_.log().WriteFormat("miniSAT chain runs past the end of the file after %i sectors",
                             static_cast<int>(miniSatList_.size()));
  if (allAccepted) {
    state_.log().WriteFormat("All %i miniSAT sectors defined", static_cast<int>(miniSatList_.size()));
    state_.stats.miniSatSectorsExpected = static_cast<std::uint32_t>(miniSatList_.size());
    state_.stats.miniSatSectorsDefined = static_cast<std::uint32_t>(miniSatList_.size());
    return miniSatList_.front();
  }

  state_.log().WriteLine("Search last parts of miniSAT");
  std::optional<PartSearch> search;
  for (auto k = static_cast<std::uint32_t>(miniSatList_.size()); k <= state_.bounds.maxMiniSector / 128; ++k) {
    state_.log().WriteFormat("Search part of miniSAT  for sectors %i - %i", static_cast<int>(k * 128),
                       static_cast<int>((k + 1) * 128 - 1));
    if (state_.run.Cancelled()) break;
    if (!search) {
      if (!indexed_) IndexCandidates();
      search.emplace(*this, true, candidateOffsets_);
      const std::unordered_set<std::uint32_t> listed(miniSatList_.begin(), miniSatList_.end());
      for (std::uint32_t i = 0; i < candidateOffsets_.size(); ++i)
        if (listed.count(SectorOfOffset(candidateOffsets_[i]))) search->Remove(i);
    }
    const std::uint32_t r = FindMiniSatPart(*search, k, k > 0 ? 50 : 0);
    miniSatList_.push_back(r != 0 ? SectorOfOffset(r) : 0xFFFFFFFF);
  }
  if (miniSatList_.empty()) {
    state_.log().WriteLine("Cant find miniSAT");
    state_.log().WriteLine("Finish CSat::FindSat()");
    return 0xFFFFFFFF;
  }
  const auto defined = static_cast<std::uint32_t>(
      std::count_if(miniSatList_.begin(), miniSatList_.end(), [](std::uint32_t s) { return s != 0xFFFFFFFF; }));
  state_.log().WriteFormat("%i from %i miniSAT sectors defined", static_cast<int>(defined),
                     static_cast<int>(miniSatList_.size()));
  state_.stats.miniSatSectorsExpected = static_cast<std::uint32_t>(miniSatList_.size());
  state_.stats.miniSatSectorsDefined = defined;
  state_.log().WriteLine("Finish CSat::FindSat()");
  return miniSatList_.front();
}

bool CSat::MendMiniSat(const std::vector<KnownChain>& known, std::uint64_t miniStreamBytes) {
  const std::uint64_t partBytes = std::uint64_t{kMiniSectorSize} * kEntriesPerSector;
  const std::uint64_t needParts = (miniStreamBytes + partBytes - 1) / partBytes;
  const std::uint64_t miniSectors = (miniStreamBytes + kMiniSectorSize - 1) / kMiniSectorSize;
  const auto count = static_cast<std::uint32_t>(
      std::min<std::int64_t>(static_cast<std::int64_t>(satTable_.size()), std::max<std::int64_t>(0, MaxSector())));
  if (needParts == 0 || count == 0) return false;
  auto link = [&](std::uint32_t s) -> std::optional<std::uint32_t> {
    const std::uint32_t e = satTable_[s];
    return e < count ? std::optional<std::uint32_t>(e) : std::nullopt;
  };
  std::vector<std::uint8_t> pointed(count, 0);
  for (std::uint32_t s = 0; s < count; ++s)
    if (auto next = link(s)) pointed[*next] = 1;
  // The sectors the directory accounts for: each known chain as far as its
  // size reaches.
  std::vector<std::uint8_t> owned(count, 0);
  for (const KnownChain& chain : known) {
    std::uint32_t s = chain.start;
    for (std::uint32_t n = 0; n < chain.sectors && s < count && !owned[s]; ++n) {
      owned[s] = 1;
      auto next = link(s);
      if (!next) break;
      s = *next;
    }
  }
  // A header whose mini SAT chain may well be right keeps it: read as a mini
  // SAT throughout, long enough, and starting where a chain can start, on
  // no sector the directory accounts for. (A chain cut short by a damaged
  // SAT part leaves tails that look like heads, and a damaged part may link
  // anywhere.)
  const std::uint32_t start = headerMiniSatStart_;
  if (headerChainAccepted_ && (miniSatList_.size() >= needParts || miniSatPastFileEnd_) && start < count &&
      !owned[start] && (satTable_[start] == kEndOfChain || link(start) || miniSatPastFileEnd_))
    return false;

  // Each sector is walked once: a chain that runs into another is no mini SAT.
  std::vector<std::uint8_t> walked(count, 0);
  std::vector<std::uint32_t> found;
  int candidates = 0;
  for (std::uint32_t head = 0; head < count && candidates < 2; ++head) {
    if (state_.run.Cancelled()) return false;
    if (pointed[head] || owned[head] || walked[head]) continue;
    const std::uint32_t entry = satTable_[head];
    if (entry != kEndOfChain && !link(head)) continue;
    std::vector<std::uint32_t> chain;
    bool ended = false;
    for (std::uint32_t s = head;;) {
      if (walked[s]) break;
      walked[s] = 1;
      chain.push_back(s);
      if (satTable_[s] == kEndOfChain) {
        ended = true;
        break;
      }
      auto next = link(s);
      if (!next) break;
      s = *next;
    }
    if (!ended || chain.size() < needParts) continue;
    // The first part scores as a mini SAT; every part holds nothing but
    // links within the mini stream, ends of chains and free entries (a last
    // part may be nearly all free, and scores little).
    bool likeMiniSat = ScoreSatPart(OffsetOfSector(head), 0, true).likeSatPoints >= 50;
    for (std::size_t k = 0; k < chain.size() && likeMiniSat; ++k)
      for (std::uint32_t i = 0; i < kEntriesPerSector && likeMiniSat; ++i) {
        const std::uint32_t v = image_.U32(std::uint64_t{OffsetOfSector(chain[k])} + 4 * i);
        likeMiniSat = IsMiniTableValue(v, miniSectors);
      }
    if (!likeMiniSat) continue;
    ++candidates;
    found = std::move(chain);
  }
  if (candidates != 1 || found == miniSatList_) return false;
  state_.log().WriteFormat("miniSAT taken from the chain that no entry names: sector %i, %i sectors",
                     static_cast<int>(found.front()), static_cast<int>(found.size()));
  miniSatList_ = std::move(found);
  state_.stats.miniSatSectorsExpected = static_cast<std::uint32_t>(miniSatList_.size());
  state_.stats.miniSatSectorsDefined = static_cast<std::uint32_t>(miniSatList_.size());
  return ReadMiniSat() == 0;
}

// The sector that reads best as each part of a mini SAT for miniSectors
// mini sectors: every value a link within the mini stream, an end of chain
// or free, and the links that run from one mini sector to the next (entry i
// of part k holding 128k + i + 1) placing it. Sectors already in a table
// are left out.
std::unordered_map<std::uint32_t, std::uint32_t> CSat::MiniPartsByVotes(std::uint64_t miniSectors,
                                                                       bool leaveOutListed) const {
  constexpr int kMinVotes = 4;
  std::unordered_set<std::uint32_t> taken;
  if (leaveOutListed) taken.insert(miniSatList_.begin(), miniSatList_.end());
  for (std::uint32_t offset : satList_)
    if (offset != 0) taken.insert(SectorOfOffset(offset));
  std::unordered_map<std::uint32_t, std::pair<int, std::uint32_t>> best;  // part -> (votes, sector)
  const std::int64_t sectors = std::max<std::int64_t>(0, MaxSector());
  for (std::int64_t s = 0; s < sectors; ++s) {
    if (state_.run.Cancelled()) break;
    const auto sector = static_cast<std::uint32_t>(s);
    const auto bytes = image_.Sub(OffsetOfSector(sector), kSectorSize);
    if (!bytes || taken.count(sector)) continue;
    bool valid = true;
    for (const std::uint32_t v : bytes->Words<kEntriesPerSector>())
      if (!(valid = IsMiniTableValue(v, miniSectors))) break;
    if (!valid) continue;
    const PartVote vote = MostVotedPart(*bytes, (miniSectors + kEntriesPerSector - 1) / kEntriesPerSector);
    if (vote.votes < kMinVotes) continue;
    auto& b = best[vote.part];
    if (vote.votes > b.first) b = {vote.votes, sector};
  }
  std::unordered_map<std::uint32_t, std::uint32_t> parts;
  for (const auto& [k, b] : best)
    if (b.first > 0) parts[k] = b.second;
  return parts;
}

int CSat::MendLostMiniParts(std::uint64_t miniStreamBytes) {
  const std::uint64_t miniSectors = (miniStreamBytes + kMiniSectorSize - 1) / kMiniSectorSize;
  const std::uint64_t needParts = (miniSectors + kEntriesPerSector - 1) / kEntriesPerSector;
  std::optional<std::unordered_map<std::uint32_t, std::uint32_t>> byVotes;
  int lost = 0;
  // The parts a chain cut by the file's end lost are missing parts: as many
  // as the mini stream needs, and no more than the sectors the table maps
  // could hold (the root entry's size is the file's to claim).
  const std::uint64_t mappable = satTable_.size() * std::uint64_t{kSectorSize / kMiniSectorSize};
  const std::uint64_t partsMapped = (mappable + kEntriesPerSector - 1) / kEntriesPerSector;
  if (const std::uint64_t parts = std::min(needParts, partsMapped); miniSatPastFileEnd_ && miniSatList_.size() < parts) {
    miniSatList_.resize(parts, kFreeSector);
    miniSatTable_.resize(parts * kEntriesPerSector, kFreeSector);
  }
  // Parts past those the mini stream needs map nothing that is read.
  for (std::size_t k = 0; k < needParts && k * kEntriesPerSector < miniSatTable_.size(); ++k) {
    std::uint32_t* part = miniSatTable_.data() + k * kEntriesPerSector;
    int zeros = 0, foreign = 0;
    for (std::uint32_t i = 0; i < kEntriesPerSector; ++i) {
      if (part[i] == 0) ++zeros;
      else if (!IsMiniTableValue(part[i], miniSectors)) ++foreign;
    }
    const bool missing = miniSatList_[k] == kFreeSector;
    if (zeros < 16 && foreign < 64 && !(missing && miniSatPastFileEnd_)) continue;
    ++lost;
    // Another sector that reads as this part takes its place; failing that,
    // the links it lost are taken as runs.
    if (!byVotes) byVotes = MiniPartsByVotes(miniSectors);
    if (auto it = byVotes->find(static_cast<std::uint32_t>(k)); it != byVotes->end()) {
      state_.log().WriteFormat("miniSAT part %i found in sector %i", static_cast<int>(k), static_cast<int>(it->second));
      miniSatList_[k] = it->second;
      std::uint32_t values[kEntriesPerSector];
      LoadPart(image_, OffsetOfSector(it->second), values);
      std::copy(values, values + kEntriesPerSector, part);
      byVotes->erase(it);
      continue;
    }
    miniGuessed_.resize(miniSatTable_.size(), 0);
    for (std::uint32_t i = 0; i < kEntriesPerSector; ++i) {
      const std::uint32_t v = part[i];
      if (v == 0 || !IsMiniTableValue(v, miniSectors)) {
        part[i] = static_cast<std::uint32_t>(k * kEntriesPerSector + i + 1);
        miniGuessed_[k * kEntriesPerSector + i] = 1;
      }
    }
  }
  if (lost > 0) state_.log().WriteFormat("%i damaged miniSAT sectors: their lost links taken as runs of sectors", lost);
  if (lost > 0) ForgetMiniWalks();
  return lost;
}

void CSat::RelinkMini(std::uint32_t from, std::uint32_t next) {
  if (from >= miniSatTable_.size()) return;
  miniSatTable_[from] = next;
  if (from < miniGuessed_.size()) miniGuessed_[from] = 0;
  ForgetMiniWalks();
}

int CSat::ReadMiniSat() {
  state_.log().WriteLine("inside CSat::ReadMiniSat()");
  miniSatTable_.assign(miniSatList_.size() * kEntriesPerSector, 0xFFFFFFFF);
  miniGuessed_.clear();
  ForgetMiniWalks();
  for (std::size_t i = 0; i < miniSatList_.size(); ++i) {
    if (miniSatList_[i] == 0xFFFFFFFF) continue;
    auto offset = GetOffsBySector(miniSatList_[i]);
    if (!offset) continue;
    std::uint32_t values[kEntriesPerSector];
    LoadPart(image_, *offset, values);
    std::copy(values, values + kEntriesPerSector, miniSatTable_.data() + i * kEntriesPerSector);
  }
  state_.log().WriteLine("CSat::ReadMiniSat() done.");
  return 0;
}

int CSat::SetMiniSatLoc(std::uint32_t start, std::uint32_t neededSize) {
  state_.log().WriteLine("CSat::SetMiniSatLoc.");
  miniStreamStart_ = start;
  Chain chain;
  FollowChain(start, chain);
  miniStreamPastFileEnd_ = chain.pastFileEnd;
  miniStream_.assign(chain.sectors.size() * kSectorSize, 0);
  for (std::size_t i = 0; i < chain.sectors.size(); ++i) {
    auto offset = GetOffsBySector(chain.sectors[i]);
    if (!offset && (std::int64_t{chain.sectors[i]} + 2) * kSectorSize > fileSize_) {
      // The file's end cuts through this sector: the mini stream ends with
      // the whole mini sectors that lie before the cut.
      const std::int64_t start = (std::int64_t{chain.sectors[i]} + 1) * kSectorSize;
      const std::int64_t left = std::max<std::int64_t>(0, fileSize_ - start) / kMiniSectorSize * kMiniSectorSize;
      miniStream_.resize(i * kSectorSize + static_cast<std::size_t>(left));
      if (left > 0 && !image_.CopyOut(static_cast<std::uint64_t>(start), miniStream_.data() + i * kSectorSize,
                                      static_cast<std::size_t>(left)))
        miniStream_.resize(i * kSectorSize);
      miniStreamPastFileEnd_ = true;
      break;
    }
    if (!offset || (i + 1) * kSectorSize > miniStream_.size()) break;
    if (!image_.CopyOut(*offset, miniStream_.data() + i * kSectorSize, kSectorSize)) break;
  }
  state_.log().WriteFormat("Cunstructing miniSAT from sector % i: find %i sectors (%i size, %i needn size). Status of chain %i",
                     static_cast<int>(start), static_cast<int>(chain.sectors.size()),
                     static_cast<int>(miniStream_.size()), static_cast<int>(neededSize),
                     chain.chainEnded ? 1 : 0);
  state_.bounds.maxMiniSector =
      static_cast<std::uint32_t>(std::ceil(miniStream_.size() / double(kMiniSectorSize))) + 64;
  state_.log().WriteLine("CSat::SetMiniSatLoc done.");
  return 0;
}

const std::uint8_t* CSat::GetMiniSector(std::uint32_t n) const {
  const std::uint64_t offset = std::uint64_t{n} * kMiniSectorSize;
  if (offset + kMiniSectorSize > miniStream_.size()) return nullptr;
  return miniStream_.data() + offset;
}

bool CSat::CopySectors(const std::vector<std::uint32_t>& sectors, bool mini, std::uint8_t* out) const {
  const std::uint32_t unit = mini ? kMiniSectorSize : kSectorSize;
  for (std::size_t k = 0; k < sectors.size(); ++k, out += unit) {
    if (mini) {
      const std::uint8_t* from = GetMiniSector(sectors[k]);
      if (!from) return false;
      std::copy(from, from + unit, out);
    } else if (const auto offset = GetOffsBySector(sectors[k]); !offset || !image_.CopyOut(*offset, out, unit)) {
      return false;
    }
  }
  return true;
}

}  // namespace salvage
