// The search for sectors that look like parts of an allocation table: the
// whole file's table-like sectors, and each scored by how well its entries
// form chains as a given part.
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
#include "salvage/TableValues.h"

namespace salvage {

std::uint32_t CSat::FindCandidateNear(std::uint32_t v) const {
  if (std::uint64_t{v} * kSectorSize > static_cast<std::uint64_t>(fileSize_)) return 0;
  if (state_.run.Cancelled()) return 0xFFFFFFFF;
  std::uint32_t best = 0xFFFFFFFF;
  for (std::uint32_t d = 0; d < 10; ++d) {
    for (std::uint32_t f : {v + d, v - d}) {
      auto it = candidateByFirstValue_.find(f);
      if (it != candidateByFirstValue_.end()) best = std::min(best, it->second);
    }
  }
  return best == 0xFFFFFFFF ? 0 : candidateSectors_[best];
}

// --- scoring candidates -----------------------------------------------------

CSat::WalkResult CSat::WalkPartChain(std::uint32_t* part, std::uint32_t p, std::uint32_t k,
                                     bool mini) const {
  std::uint32_t lo = k * kEntriesPerSector;
  std::uint32_t hi = (k + 1) * kEntriesPerSector - 1;
  const std::uint32_t bound =
      mini ? state_.bounds.maxMiniSector : static_cast<std::uint32_t>(state_.bounds.maxSector);
  WalkResult r;
  std::uint32_t prev = 0;
  std::uint32_t cur = part[p];
  for (;;) {
    if (cur == kWalkedMark || r.length >= state_.bounds.maxSector) return r;
    if (cur == kEndOfChain) {
      r.endFound = 1;
      ++r.length;
      part[p] = kWalkedMark;
      return r;
    }
    if (cur == kFatSectorMark || cur == kFreeSector || cur == kDifatSectorMark) return r;
    if (IsLikeSpecial(0xFE, cur)) r.endFound = 1;
    const std::uint32_t next = TruncateByBound(cur, bound);
    if (k == 0xFFFFFFFF && hi == 0xFFFFFFFF) {
      lo = next & ~(kEntriesPerSector - 1);
      hi = lo + kEntriesPerSector - 1;
    }
    if ((cur == 0 || cur >= bound) && next - prev != 1 && !IsLikeSpecial(0xFF, cur) &&
        !IsLikeSpecial(0xFD, cur) && !IsLikeSpecial(0xFE, cur)) {
      ++r.rubbish;
      if (k == 0xFFFFFFFF) {
        part[p] = kWalkedMark;
        return r;
      }
    }
    if (next - prev == 1) ++r.stepByStep;
    if (next < lo || next > hi) {
      part[p] = kWalkedMark;
      return r;
    }
    ++r.length;
    part[p] = kWalkedMark;
    p = next - lo;
    prev = next;
    cur = part[p];
  }
}

// Whether the table entry that maps the candidate sector marks it as a SAT sector.
bool CSat::SatMarkTest(std::uint64_t offset) const {
  if (offset < kSectorSize) return false;
  const std::uint32_t sector = SectorOfOffset(offset);
  const std::uint32_t pos = sector / kEntriesPerSector;
  std::uint64_t table;
  if (pos < satList_.size() && satList_[pos] != 0) {
    table = satList_[pos];
  } else if (satList_.empty()) {
    table = (std::uint64_t{header_ ? header_->satStart : 0} + 1) * kSectorSize;
  } else {
    auto placed = GetOffsBySector(sector);
    if (!placed) return false;
    table = *placed;
  }
  const std::uint64_t entry = table + (sector % kEntriesPerSector) * 4;
  if (entry + 4 > static_cast<std::uint64_t>(fileSize_)) return false;
  return image_.LikeSpecial(0xFD, entry);
}

bool CSat::MappedAsChain(std::uint64_t offset) const {
  if (offset < kSectorSize) return false;
  const std::uint32_t sector = SectorOfOffset(offset);
  const std::uint32_t pos = sector / kEntriesPerSector;
  if (pos >= satList_.size() || satList_[pos] == 0) return false;
  const std::uint64_t entry = std::uint64_t{satList_[pos]} + (sector % kEntriesPerSector) * 4;
  const std::uint32_t link = image_.U32(entry);
  // A zeroed part reads as links to sector 0: that says nothing.
  return link != 0 && (link == kEndOfChain || link <= static_cast<std::uint32_t>(state_.bounds.maxSector));
}

PartScore CSat::ScoreSatPart(std::uint64_t offset, std::uint32_t k, bool mini) const {
  PartScore s;
  if (static_cast<std::int64_t>(offset) > fileSize_ - kSectorSize) return s;
  std::uint32_t part[kEntriesPerSector];
  LoadPart(image_, offset, part);
  for (std::uint32_t i = 0; i < kEntriesPerSector; ++i) {
    const WalkResult w = WalkPartChain(part, i, k, mini);
    if (IsLikeSpecial(static_cast<std::uint8_t>(part[0] & 0xFF), part[i])) ++s.chainsCount;
    if (w.length > 2 - w.endFound * 2 * (mini ? 1 : 0)) {
      ++s.chainsCount;
      s.goodChains += w.endFound;
      s.maxChainLen = std::max(s.maxChainLen, w.length);
      s.stepByStep = std::max(s.stepByStep, w.stepByStep);
    }
    s.rubbish += w.rubbish;
  }
  const bool unordered = s.maxChainLen - s.stepByStep >= 5;
  if (!mini) {
    const bool marked = s.chainsCount > 0 && SatMarkTest(offset);
    s.likeSatPoints = (marked ? 100 : 0) + s.maxChainLen + (s.maxChainLen > 20 ? 30 : 0) +
                      6 * s.chainsCount - s.rubbish - (unordered ? 50 : 0);
  } else {
    const bool penalty = s.chainsCount / 2 > s.goodChains && s.rubbish > 0;
    s.likeSatPoints = (s.chainsCount > 0 ? 30 : 0) + (s.maxChainLen >= 2 ? 10 : 0) +
                      8 * s.chainsCount - s.rubbish - (unordered ? 50 : 0) - (penalty ? 30 : 0);
  }
  return s;
}

// --- the whole-file search for table-like sectors -----------------------------

void CSat::CollectCandidates() {
  state_.log().WriteLine("Before collecting SAT");
  candidateSectors_.clear();
  candidateByFirstValue_.clear();
  constexpr int kMinTableLike = 90;
  const std::int64_t limit = fileSize_ / kSectorSize - 1;
  for (std::int64_t s = 0; s < limit; ++s) {
    if (state_.run.Cancelled()) break;
    const auto bytes = image_.Sub(static_cast<std::uint64_t>(s + 1) * kSectorSize, kSectorSize);
    if (!bytes) break;
    int count = 0;
    const auto words = bytes->Words<kEntriesPerSector>();
    for (std::uint32_t i = 0; i < kEntriesPerSector; ++i) {
      const std::uint32_t v = words[i];
      if ((std::int64_t{v} < limit && static_cast<std::int32_t>(v) > 0) || IsReservedSect(v)) ++count;
      // Stop once the rest of the sector could not make up the count.
      else if (count + static_cast<int>(kEntriesPerSector - 1 - i) < kMinTableLike) break;
    }
    if (count < kMinTableLike) continue;
    const auto sector = static_cast<std::uint32_t>(s);
    candidateByFirstValue_.try_emplace(FirstValueOf(sector),
                                       static_cast<std::uint32_t>(candidateSectors_.size()));
    candidateSectors_.push_back(sector);
  }
  state_.log().WriteLine("After collecting SAT");
}

void CSat::IndexCandidates() {
  indexed_ = true;
  state_.log().WriteLine("Start indexation file for SAT sectors");
  candidateOffsets_.clear();
  for (std::uint32_t s : candidateSectors_) candidateOffsets_.push_back(OffsetOfSector(s));
  state_.log().WriteFormat("End indexation. Define %i sectors like SAT", static_cast<int>(candidateOffsets_.size()));
}

std::uint32_t CSat::FindSatPart(PartSearch& search, std::uint32_t k, PartScore& score) {
  const auto pick = search.Best(k, 0, 512);
  if (!pick) {
    state_.log().WriteLine("Can`t find part");
    return 0;
  }
  // Taken: the caller drops it from the list of candidates.
  search.Remove(pick->index);
  const PartScore& best = pick->score;
  score = best;
  state_.log().WriteFormat(
      "Find part by sector %i [offs %i], chains count: %i, max chain len: %i, rubbish - %i, "
      "stepbystep - %i, goodchains %i, LikeSAT points: %i",
      static_cast<int>(SectorOfOffset(pick->offset)), static_cast<int>(pick->offset), best.chainsCount,
      best.maxChainLen, best.rubbish, best.stepByStep, best.goodChains, best.likeSatPoints);
  return pick->offset;
}

std::uint32_t CSat::FindMiniSatPart(PartSearch& search, std::uint32_t k, std::int32_t minPoints) {
  const auto pick = search.Best(k, std::max(0, minPoints), std::nullopt);
  if (!pick) {
    state_.log().WriteLine("Can`t find part");
    return 0;
  }
  // The candidate stays in the list of candidates, but is now a part of the
  // mini SAT and not offered again.
  search.Remove(pick->index);
  const PartScore& best = pick->score;
  state_.log().WriteFormat(
      "Find part by sector %i [offs %i], chains count: %i, max chain len: %i, stepbystep: %i, "
      "goodchains: %i, LikeSAT points: %i",
      static_cast<int>(SectorOfOffset(pick->offset)), static_cast<int>(pick->offset), best.chainsCount,
      best.maxChainLen, best.stepByStep, best.goodChains, best.likeSatPoints);
  return pick->offset;
}

}  // namespace salvage
