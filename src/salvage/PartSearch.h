// The search of the whole file for the sectors that read best as each part
// of an allocation table.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/LibrarySettings.h"
#include "salvage/Sat.h"
#include "salvage/TableValues.h"

namespace salvage {


// The best candidate for each part of a table, found without scoring every
// candidate for every part. A candidate's score depends on the part k only
// through the part's range of sector numbers: when none of its entries
// points into part k, no walk gets past its first entry, so its score is the
// same for every such k (its baseline). Each candidate is therefore scored
// once for its baseline and again only for the parts its entries point
// into; the picks are those of scoring every candidate in file order.
class CSat::PartSearch {
 public:
  struct Pick {
    std::uint32_t index;
    std::uint32_t offset;
    PartScore score;
  };

  PartSearch(const CSat& sat, bool mini, const std::vector<std::uint32_t>& offsets) : sat_(sat), mini_(mini) {
    offsets_ = offsets;
    baseline_.resize(offsets_.size());
    alive_.assign(offsets_.size(), true);
    const std::uint32_t bound =
        mini ? sat.state_.bounds.maxMiniSector : static_cast<std::uint32_t>(sat.state_.bounds.maxSector);
    for (std::uint32_t i = 0; i < offsets_.size(); ++i) {
      // A cancelled search is left unfinished; its caller stops.
      if (sat.state_.run.Cancelled()) break;
      std::vector<std::uint32_t> parts;
      for (std::uint32_t e = 0; e < kEntriesPerSector; ++e) {
        const std::uint32_t v = sat_.image_.U32(std::uint64_t{offsets_[i]} + 4 * e);
        if (v == kWalkedMark || v == kEndOfChain || v == kFatSectorMark || v == kFreeSector || v == kDifatSectorMark) continue;
        parts.push_back(TruncateByBound(v, bound) / kEntriesPerSector);
      }
      std::sort(parts.begin(), parts.end());
      parts.erase(std::unique(parts.begin(), parts.end()), parts.end());
      for (std::uint32_t k : parts) pointedBy_[k].push_back(i);
      // A part none of the entries points into scores the baseline.
      std::uint32_t outside = kOutsidePart;
      while (std::binary_search(parts.begin(), parts.end(), outside)) --outside;
      outsidePart_.push_back(outside);
      bySatPart_[SectorOfOffset(offsets_[i]) / kEntriesPerSector].push_back(i);
      Rescore(i);
    }
  }

  // The candidate that scoring every live candidate in order would keep:
  // the first with the most points above floor or, with firstAbove, the
  // first whose points exceed firstAbove.
  std::optional<Pick> Best(std::uint32_t k, std::int32_t floor, std::optional<std::int32_t> firstAbove) const {
    std::vector<Pick> pointing;
    if (auto it = pointedBy_.find(k); it != pointedBy_.end())
      for (std::uint32_t i : it->second)
        if (alive_[i]) pointing.push_back({i, offsets_[i], sat_.ScoreSatPart(offsets_[i], k, mini_)});
    // pointing is in index order, as pointedBy_ lists them.
    auto isPointing = [&](std::uint32_t i) {
      auto it = std::lower_bound(pointing.begin(), pointing.end(), i,
                                 [](const Pick& p, std::uint32_t index) { return p.index < index; });
      return it != pointing.end() && it->index == i;
    };
    std::optional<Pick> best;
    auto consider = [&](const Pick& p) {
      if (!best || p.score.likeSatPoints > best->score.likeSatPoints ||
          (p.score.likeSatPoints == best->score.likeSatPoints && p.index < best->index))
        best = p;
    };
    if (firstAbove) {
      std::optional<Pick> first;
      for (const Pick& p : pointing)
        if (p.score.likeSatPoints > *firstAbove && (!first || p.index < first->index)) first = p;
      for (std::uint32_t i : highScorers_) {
        if (first && i > first->index) break;
        if (baseline_[i].likeSatPoints > *firstAbove && !isPointing(i)) {
          first = Pick{i, offsets_[i], baseline_[i]};
          break;
        }
      }
      if (first) return first;
    }
    for (const Pick& p : pointing) consider(p);
    for (const auto& [negPoints, i] : byPoints_) {
      if (isPointing(i)) continue;
      consider(Pick{i, offsets_[i], baseline_[i]});
      break;
    }
    if (best && best->score.likeSatPoints > floor) return best;
    return std::nullopt;
  }

  void Remove(std::uint32_t i) {
    if (!alive_[i]) return;
    Unlist(i);
    alive_[i] = false;
  }
  bool Empty() const { return byPoints_.empty(); }

  // Baselines that depend on the list of SAT sectors: those of the
  // candidates mapped by the SAT part at position, or all of them.
  void SatPartAdded(std::size_t position, bool firstPart) {
    if (mini_) return;
    if (firstPart) {
      for (std::uint32_t i = 0; i < offsets_.size(); ++i)
        if (alive_[i]) Rescore(i);
      return;
    }
    if (auto it = bySatPart_.find(static_cast<std::uint32_t>(position)); it != bySatPart_.end())
      for (std::uint32_t i : it->second)
        if (alive_[i]) Rescore(i);
  }

 private:
  static constexpr std::uint32_t kOutsidePart = 0x01FFFFFE;
  static constexpr std::int32_t kHighScore = 512;

  void Unlist(std::uint32_t i) {
    byPoints_.erase({-baseline_[i].likeSatPoints, i});
    highScorers_.erase(i);
  }
  void Rescore(std::uint32_t i) {
    if (listed_.count(i)) Unlist(i);
    baseline_[i] = sat_.ScoreSatPart(offsets_[i], outsidePart_[i], mini_);
    byPoints_.insert({-baseline_[i].likeSatPoints, i});
    if (baseline_[i].likeSatPoints > kHighScore) highScorers_.insert(i);
    listed_.insert(i);
  }

  const CSat& sat_;
  bool mini_;
  std::vector<std::uint32_t> offsets_;
  std::vector<PartScore> baseline_;
  std::vector<std::uint32_t> outsidePart_;
  std::vector<bool> alive_;
  std::unordered_set<std::uint32_t> listed_;
  std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> pointedBy_;
  std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> bySatPart_;
  std::set<std::pair<std::int32_t, std::uint32_t>> byPoints_;  // (-points, index) of live candidates
  std::set<std::uint32_t> highScorers_;                         // live candidates scoring above 512
};

}  // namespace salvage
