#include "salvage/Sat.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <unordered_set>

#include "base/LibrarySettings.h"
#include "base/Logger.h"
#include "salvage/Layout.h"
#include "salvage/SatMarks.h"

namespace salvage {
namespace {

// Sector number <-> image offset. Offsets are kept to 32 bits, as the lists
// of SAT sectors store them (files are below 2 GB).
constexpr std::uint32_t OffsetOfSector(std::uint32_t sector) { return (sector + 1) * kSectorSize; }
constexpr std::uint32_t SectorOfOffset(std::uint64_t offset) {
  return static_cast<std::uint32_t>(offset / kSectorSize) - 1;
}

// Marks a table entry already walked while a candidate sector is scored.
constexpr std::uint32_t kWalkedMark = 0xFFFFFFFB;

constexpr bool IsReservedSect(std::uint32_t v) {
  return v == kEndOfChain || v == kFreeSector || v == kFatSectorMark;
}

std::int64_t MaxSector() { return theBounds.maxSector; }

// Why a chain walk ended after its last sector (besides kWalkCycle).
constexpr std::uint8_t kStopOverBoundary = 1;  // a link beyond the file or the table
constexpr std::uint8_t kStopEndMark = 2;       // an end-of-chain mark
constexpr std::uint8_t kStopTableEnd = 3;      // a link to the first sector no table part maps
constexpr std::uint8_t kStopSpecial = 4;       // a free or table-sector mark
constexpr std::uint8_t kStopMiniPastTable = 5; // a link to the first mini sector no part maps (taken, then the end)

// What a mini SAT may hold: links within a mini stream of miniSectors, ends
// of chains and free entries.
constexpr bool IsMiniTableValue(std::uint32_t v, std::uint64_t miniSectors) {
  return v == kEndOfChain || v == kFreeSector || v < miniSectors;
}

// The 128 sector numbers of the sector at offset; zeros where the image ends.
void LoadPart(const ImageView& image, std::uint64_t offset, std::uint32_t (&part)[kEntriesPerSector]) {
  for (std::uint32_t i = 0; i < kEntriesPerSector; ++i) part[i] = image.U32(offset + 4 * i);
}

}  // namespace

CSat::CSat() = default;
CSat::~CSat() = default;

int CSat::Init(ImageView image) {
  theLog.WriteLine("S: CSat::Init");
  image_ = image;
  theLog.WriteLine("F: CSat::Init");
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

// --- the list of SAT sectors --------------------------------------------

void CSat::AppendSat(std::uint32_t offset) {
  satList_.push_back(offset);
  if (offset != 0) ++satListCount_[offset];
}

void CSat::PopSat() {
  if (satList_.empty()) return;
  const std::uint32_t offset = satList_.back();
  satList_.pop_back();
  if (offset == 0) return;
  auto it = satListCount_.find(offset);
  if (it != satListCount_.end() && --it->second == 0) satListCount_.erase(it);
}

bool CSat::SatListHas(std::uint32_t offset) const {
  return offset != 0 && satListCount_.count(offset) != 0;
}

// --- small tests ----------------------------------------------------------

bool CSat::IsNewSatSector(std::uint32_t v) const {
  const bool outOfRange = static_cast<std::int32_t>(v) < 0 || std::int64_t{v} > MaxSector();
  if (outOfRange && !IsLikeSpecial(0xFF, v)) return false;
  if (CancelRequested()) return false;
  return !SatListHas(OffsetOfSector(v));
}

bool CSat::IsDifSector(std::uint32_t sector) const {
  const std::uint64_t base = (std::uint64_t{sector} + 1) * kSectorSize;
  int count = 0;
  for (std::uint32_t i = 0; i < kEntriesPerSector; ++i) {
    const std::uint32_t raw = image_.U32(base + 4 * i);
    if (IsNewSatSector(TruncateByBound(raw, theBounds.maxSector))) ++count;
    if (IsReservedSect(raw)) ++count;
  }
  theLog.WriteFormat("%sValidating sector %i on belong to DIF: %i values from 128 are valid",
                     count < 65 ? "[BAD]\t" : "[GOOD]\t", static_cast<int>(sector), count);
  return count > 64;
}

bool CSat::IsFirstPresector(std::uint64_t offset) const {
  if (static_cast<std::int64_t>(offset) > fileSize_ - kSectorSize) return false;
  int count = 0;
  for (std::uint32_t i = 0; i < kEntriesPerSector; ++i) {
    const std::uint32_t v = image_.U32(offset + 4 * i);
    if (v == i + 1 || IsReservedSect(v)) ++count;
  }
  if (count <= 110) return false;
  theLog.WriteFormat("Check on first presector passed with counter %d", count);
  return true;
}

// The first candidate (in file order) whose first value lies within 9 of v.
std::uint32_t CSat::FindCandidateNear(std::uint32_t v) const {
  if (std::uint64_t{v} * kSectorSize > static_cast<std::uint64_t>(fileSize_)) return 0;
  if (CancelRequested()) return 0xFFFFFFFF;
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
      mini ? theBounds.maxMiniSector : static_cast<std::uint32_t>(theBounds.maxSector);
  WalkResult r;
  std::uint32_t prev = 0;
  std::uint32_t cur = part[p];
  for (;;) {
    if (cur == kWalkedMark || r.length >= theBounds.maxSector) return r;
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
  theLog.WriteLine("Before collecting SAT");
  candidateSectors_.clear();
  candidateByFirstValue_.clear();
  constexpr int kMinTableLike = 90;
  const std::int64_t limit = fileSize_ / kSectorSize - 1;
  for (std::int64_t s = 0; s < limit; ++s) {
    if (CancelRequested()) break;
    const auto bytes = image_.Sub(static_cast<std::uint64_t>(s + 1) * kSectorSize, kSectorSize);
    if (!bytes) break;
    int count = 0;
    for (std::uint32_t i = 0; i < kEntriesPerSector; ++i) {
      const std::uint32_t v = bytes->U32(4 * i);
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
  theLog.WriteLine("After collecting SAT");
}

void CSat::IndexCandidates() {
  indexed_ = true;
  theLog.WriteLine("Start indexation file for SAT sectors");
  candidateOffsets_.clear();
  for (std::uint32_t s : candidateSectors_) candidateOffsets_.push_back(OffsetOfSector(s));
  theLog.WriteFormat("End indexation. Define %i sectors like SAT", static_cast<int>(candidateOffsets_.size()));
}

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
        mini ? theBounds.maxMiniSector : static_cast<std::uint32_t>(theBounds.maxSector);
    for (std::uint32_t i = 0; i < offsets_.size(); ++i) {
      // A cancelled search is left unfinished; its caller stops.
      if (CancelRequested()) break;
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

std::uint32_t CSat::FindSatPart(PartSearch& search, std::uint32_t k) {
  const auto pick = search.Best(k, 0, 512);
  if (!pick) {
    theLog.WriteLine("Can`t find part");
    return 0;
  }
  // Taken: the caller drops it from the list of candidates.
  search.Remove(pick->index);
  const PartScore& best = pick->score;
  theLog.WriteFormat(
      "Find part by sector %i [offs %i], chains count: %i, max chain len: %i, rubbish - %i, "
      "stepbystep - %i, goodchains %i, LikeSAT points: %i",
      static_cast<int>(SectorOfOffset(pick->offset)), static_cast<int>(pick->offset), best.chainsCount,
      best.maxChainLen, best.rubbish, best.stepByStep, best.goodChains, best.likeSatPoints);
  return pick->offset;
}

std::uint32_t CSat::FindMiniSatPart(PartSearch& search, std::uint32_t k, std::int32_t minPoints) {
  const auto pick = search.Best(k, std::max(0, minPoints), std::nullopt);
  if (!pick) {
    theLog.WriteLine("Can`t find part");
    return 0;
  }
  // The candidate stays in the list of candidates, but is now a part of the
  // mini SAT and not offered again.
  search.Remove(pick->index);
  const PartScore& best = pick->score;
  theLog.WriteFormat(
      "Find part by sector %i [offs %i], chains count: %i, max chain len: %i, stepbystep: %i, "
      "goodchains: %i, LikeSAT points: %i",
      static_cast<int>(SectorOfOffset(pick->offset)), static_cast<int>(pick->offset), best.chainsCount,
      best.maxChainLen, best.stepByStep, best.goodChains, best.likeSatPoints);
  return pick->offset;
}

// --- FindSat ----------------------------------------------------------------

// The header's own list of SAT sectors. Where an entry is damaged, the next
// SAT sector is guessed from the sector after the previous one, or from a
// table-like sector whose first value lies near. False when cancelled.
bool CSat::WalkHeaderList(std::uint32_t& prev) {
  const std::uint32_t first = satList_.empty() ? 0 : 1;
  const std::uint32_t last = std::min<std::uint32_t>(first + 108, kHeaderDifatEntries);
  for (std::uint32_t i = first; i < last; ++i) {
    const std::uint32_t raw = image_.U32(kHdrDifat + 4 * i);
    if (IsLikeSpecial(0xFF, raw)) break;
    const std::uint32_t v = TruncateByBound(raw, theBounds.maxSector);
    const bool rawInFile = (std::uint64_t{raw} + 1) * kSectorSize <= static_cast<std::uint64_t>(fileSize_);
    if (IsNewSatSector(v)) {
      AppendSat(OffsetOfSector(v));
      if (rawInFile) prev = raw;
      continue;
    }
    if (!GetOffsBySector(prev)) {
      prev = 1;
      continue;
    }
    FindCandidateNear(FirstValueOf(prev) + 508);
    if (CancelRequested()) return false;
    const std::uint32_t n = prev + 1;
    if (std::int64_t{n} >= MaxSector()) {
      prev = 1;
      continue;
    }
    const std::uint32_t w = TruncateByBound(FirstValueOf(n), theBounds.maxSector);
    if (IsNewSatSector(w)) {
      AppendSat(OffsetOfSector(w));
      prev = n;
      continue;
    }
    if (prev == 0) prev = 1;
    if (!rawInFile || !GetOffsBySector(prev)) {
      prev = 1;
      continue;
    }
    const std::uint32_t y = FindCandidateNear(FirstValueOf(prev) + 508);
    if (std::int64_t{y} > MaxSector()) {
      prev = 1;
      continue;
    }
    AppendSat(y != 0 ? OffsetOfSector(y) : 0);
    ++prev;
  }
  return true;
}

// The DIF chain: further SAT sectors, 127 to a DIF sector, whose last entry
// names the next DIF sector. A walk never reads past a DIF sector's 512
// bytes: after its last entry it goes on with the sector that entry names.
// False when cancelled.
bool CSat::WalkDif(std::uint32_t& prev) {
  const HeaderInfo& h = *header_;
  if (h.difSectorsCount == 0 || h.difStart == 0xFFFFFFFF || std::int64_t{h.difStart} >= MaxSector() ||
      !IsDifSector(h.difStart))
    return true;
  theLog.WriteLine("GetOffsBySector before the loop passed");
  constexpr std::uint32_t kLastEntry = kEntriesPerSector - 1;
  std::optional<std::uint64_t> dif = GetOffsBySector(h.difStart);
  std::uint32_t j = 0;
  std::uint32_t done = 0;
  auto nextDifSector = [&](std::uint32_t raw) {
    j = 0;
    ++done;
    dif = GetOffsBySector(TruncateByBound(raw, theBounds.maxSector));
  };
  while (done < h.difSectorsCount && dif) {
    if (CancelRequested()) return false;
    const std::uint32_t raw = image_.U32(*dif + 4 * j);
    const bool rawInFile = (std::uint64_t{raw} + 1) * kSectorSize <= static_cast<std::uint64_t>(fileSize_);
    bool appended = false;
    const std::uint32_t v = TruncateByBound(raw, theBounds.maxSector);
    if (IsNewSatSector(v)) {
      AppendSat(OffsetOfSector(v));
      prev = raw;
      appended = true;
    } else if (std::uint64_t{prev} * kSectorSize >= static_cast<std::uint64_t>(fileSize_) ||
               !GetOffsBySector(prev)) {
      prev = 1;
    } else {
      theLog.WriteLine("GetOffsBySector in not valid sector passed");
      if (FindCandidateNear(FirstValueOf(prev) + 508) == 0xFFFFFFFF) {
        theLog.WriteLine("Unable to find neccessary SAT block");
        prev = 1;
      } else {
        const std::uint32_t n = prev + 1;
        if (std::int64_t{n} >= MaxSector()) return true;
        const std::uint32_t w = TruncateByBound(FirstValueOf(n), theBounds.maxSector);
        if (IsNewSatSector(w)) {
          AppendSat(OffsetOfSector(w));
          if (rawInFile) prev = n;
          appended = true;
        } else {
          if (prev == 0) prev = 1;
          if (!rawInFile) {
            prev = 1;
            if (++j > kLastEntry) return true;
            continue;
          }
          if (!GetOffsBySector(prev)) {
            prev = 1;
          } else {
            const std::uint32_t y = FindCandidateNear(FirstValueOf(prev) + 508);
            if (y == 0xFFFFFFFF) {
              theLog.WriteLine("Unable to find neccessary SAT block");
              prev = 1;
            } else if (std::int64_t{y} >= MaxSector()) {
              prev = 1;
            } else {
              AppendSat(y != 0 ? OffsetOfSector(y) : 0);
              appended = true;
            }
          }
        }
      }
    }
    if (appended && j == kLastEntry) {
      // The last entry names the next DIF sector, not a SAT sector.
      theLog.WriteLine("Last DIF entry in the sector found");
      PopSat();
      nextDifSector(raw);
    } else if (j == kLastEntry) {
      nextDifSector(raw);
    } else {
      ++j;
    }
  }
  return true;
}

std::uint32_t CSat::FindSat() {
  theLog.WriteLine("Start CSat::FindSat()");
  HeaderInfo& h = *header_;
  std::uint64_t working = (std::uint64_t{h.satStart} + 1) * kSectorSize;
  satList_.clear();
  satListCount_.clear();
  satFound_ = false;

  // check1: the sector just before the header's first SAT sector (never the header itself).
  const std::uint64_t presector = std::uint64_t{h.satStart} * kSectorSize;
  if (presector >= kSectorSize && IsFirstPresector(presector)) {
    AppendSat(static_cast<std::uint32_t>(presector));
    theLog.WriteNumber("Find start of SAT by offs in OLEHeader: ", static_cast<long long>(presector));
  }
  // check2: the header's first SAT sector; check3: sector 0.
  if (ScoreSatPart(working, 0, false).likeSatPoints > 100) {
    AppendSat(static_cast<std::uint32_t>(working));
    theLog.WriteNumber("Find start of SAT by offs in OLEHeader: ", static_cast<long long>(working));
  } else {
    working = kSectorSize;
    if (ScoreSatPart(working, 0, false).likeSatPoints > 100) {
      AppendSat(static_cast<std::uint32_t>(working));
      h.satStart = 0;
      theLog.WriteLine("Find start of SAT by offs 0x200");
    } else {
      theLog.WriteError("Find start of SAT by offs 0x200 with HARDCODE");
    }
  }

  CollectCandidates();
  if (CancelRequested()) return kSatSearchCancelled;

  std::uint32_t prev = 0;
  if (!WalkHeaderList(prev)) return kSatSearchCancelled;

  theLog.WriteFormat("Find %i sectors", static_cast<int>(satList_.size()));
  theLog.WriteLine(h.difSectorsCount > 0 ? "Finding DIF sectors" : "No DIF sectors present");
  if (!WalkDif(prev)) return kSatSearchCancelled;

  while (!satList_.empty() && satList_.back() == 0) PopSat();
  theLog.WriteLine("Check sectors on correct");
  theLog.WriteLine("Search lost parts of SAT");
  for (std::size_t k = 0; k < satList_.size(); ++k) {
    if (satList_[k] != 0) continue;
    theLog.WriteFormat("Looking for lost SAT part for sectors [%i - %i]", static_cast<int>(k * 128),
                       static_cast<int>((k + 1) * 128 - 1));
  }

  theLog.WriteLine("Search last parts of SAT");
  const auto c = static_cast<std::uint32_t>(satList_.size());
  if (theBounds.needSatSectors - 0.1 * c > c) {
    if (!indexed_) IndexCandidates();
    PartSearch search(*this, false, candidateOffsets_);
    std::unordered_set<std::uint32_t> taken;
    for (std::uint32_t k = c; k < theBounds.needSatSectors; ++k) {
      if (CancelRequested()) return kSatSearchCancelled;
      const std::uint32_t r = FindSatPart(search, k);
      if (r != 0) {
        taken.insert(r);
        const bool firstPart = satList_.empty();
        AppendSat(r);
        search.SatPartAdded(satList_.size() - 1, firstPart);
      }
      if (search.Empty()) break;
    }
    std::erase_if(candidateOffsets_, [&](std::uint32_t offset) { return taken.count(offset) != 0; });
  }
  theLog.WriteLine("End Search SAT Parts");
  MendSatByMarks();
  if (CancelRequested()) return kSatSearchCancelled;

  const std::uint32_t result = SectorOfOffset(working);
  if (satList_.empty()) {
    theLog.WriteLine("Can't find SAT");
    theLog.WriteLine("Finish CSat::FindSat()");
    return result;
  }
  satFound_ = true;
  theLog.WriteLine("SAT dump");
  int defined = 0;
  for (std::uint32_t offset : satList_) {
    if (offset == 0) {
      theLog.WriteLine("MISS! SAT sector..");
      continue;
    }
    ++defined;
    theLog.WriteFormat("SAT sector: [0x%08x] (%i)", offset, static_cast<int>(offset));
  }
  theLog.WriteFormat("%i from %i finded SAT sectors defined, and from %i whole count", defined,
                     static_cast<int>(satList_.size()), static_cast<int>(h.satSectorsCount));
  theStats.satSectorsFound = static_cast<std::uint32_t>(satList_.size());
  theStats.satSectorsDefined = static_cast<std::uint32_t>(defined);
  theLog.WriteLine("Finish CSat::FindSat()");
  return result;
}

// The table's own marks against the list found so far. Where they give the
// whole table (every part found, every marked sector one of the parts,
// every link mapped) and the list disagrees with them, the list is theirs:
// the header's list was damaged or lost. Otherwise they only fill the parts
// the list lacks.
void CSat::MendSatByMarks() {
  if (theBounds.maxSector < 0) return;
  const SatMarks marks = FindSatByMarks(image_, static_cast<std::uint32_t>(theBounds.maxSector));
  std::vector<std::uint32_t> offsets;
  for (std::uint32_t sector : marks.parts) offsets.push_back(sector == kNoPart ? 0 : OffsetOfSector(sector));
  if (offsets.empty()) return;
  if (marks.Whole()) {
    if (satList_ == offsets) return;
    theLog.WriteFormat("SAT rebuilt from the marks of its own %i sectors", static_cast<int>(offsets.size()));
    satList_.clear();
    satListCount_.clear();
    for (std::uint32_t offset : offsets) AppendSat(offset);
    return;
  }
  int filled = 0;
  for (std::size_t k = 0; k < offsets.size(); ++k) {
    if (offsets[k] == 0 || SatListHas(offsets[k])) continue;
    if (k < satList_.size()) {
      if (satList_[k] != 0) continue;
      satList_[k] = offsets[k];
      ++satListCount_[offsets[k]];
    } else {
      while (satList_.size() < k) AppendSat(0);
      AppendSat(offsets[k]);
    }
    ++filled;
  }
  if (filled > 0) theLog.WriteFormat("%i missing SAT sectors found by the marks of the others", filled);
}

// --- the tables -------------------------------------------------------------

void DropRepeatedParts(std::vector<std::uint32_t>& parts) {
  std::unordered_set<std::uint32_t> seen;
  std::erase_if(parts, [&](std::uint32_t offset) { return offset != 0 && !seen.insert(offset).second; });
}

// In a table, a sector is linked to at most once: many links to sector 0
// are a zeroed part; many values that are neither sectors the table maps
// nor reserved are an overwritten one. (Links past the end of a cut file
// are still the table's own.)
bool CSat::IsLostPart(const std::uint32_t* part) const {
  const std::uint64_t mapped = std::uint64_t{kEntriesPerSector} * satList_.size();
  int zeros = 0, foreign = 0;
  for (std::uint32_t e = 0; e < kEntriesPerSector; ++e) {
    const std::uint32_t v = part[e];
    if (v == 0) ++zeros;
    else if (!IsReservedSect(v) && v != kDifatSectorMark && v >= mapped) ++foreign;
  }
  return zeros >= 16 || foreign >= 64;
}

int CSat::ReadSat() {
  theLog.WriteLine("S: CSat::ReadSat()");
  std::vector<std::uint32_t> unique = satList_;
  DropRepeatedParts(unique);
  satList_.clear();
  satListCount_.clear();
  for (std::uint32_t offset : unique) AppendSat(offset);

  satTable_.assign(satList_.size() * kEntriesPerSector, 0xFDFDFDFD);
  for (std::size_t i = 0; i < satList_.size(); ++i) {
    std::uint32_t* part = satTable_.data() + i * kEntriesPerSector;
    const std::uint64_t offset = satList_[i];
    if (static_cast<std::int64_t>(offset) <= fileSize_ - kSectorSize) {
      std::uint32_t values[kEntriesPerSector];
      LoadPart(image_, offset, values);
      std::copy(values, values + kEntriesPerSector, part);
    } else {
      std::fill(part, part + kEntriesPerSector, 0u);
    }
  }

  // A part that is lost (missing, zeroed or overwritten) links each of its
  // sectors to the next: most streams lie in one run, and a stream takes
  // no more sectors from its chain than its size needs. SAT sectors keep
  // their mark.
  const std::unordered_set<std::uint32_t> satSectors = [&] {
    std::unordered_set<std::uint32_t> set;
    for (std::uint32_t offset : satList_)
      if (offset != 0) set.insert(SectorOfOffset(offset));
    return set;
  }();
  int lost = 0;
  lostParts_.assign(satList_.size(), 0);
  for (std::size_t i = 0; i < satList_.size(); ++i) {
    std::uint32_t* part = satTable_.data() + i * kEntriesPerSector;
    if (satList_[i] != 0 && !IsLostPart(part)) continue;
    ++lost;
    lostParts_[i] = 1;
    for (std::uint32_t e = 0; e < kEntriesPerSector; ++e) {
      const auto sector = static_cast<std::uint32_t>(i * kEntriesPerSector + e);
      part[e] = satSectors.count(sector) ? kFatSectorMark : sector + 1;
    }
  }
  if (lost > 0) theLog.WriteFormat("%i lost SAT sectors taken as runs of sectors", lost);

  // Entries that point outside the file continue the run before them.
  std::uint32_t last = 1;
  const auto size = static_cast<std::uint64_t>(fileSize_);
  for (std::uint32_t& e : satTable_) {
    if (IsReservedSect(e) || e == kDifatSectorMark) continue;
    const bool inRange = std::uint64_t{e} * kSectorSize <= size;
    if (!inRange) e = ++last;
    else last = e;
  }
  walks_.reset();
  return 0;
}

bool CSat::MendLostRuns(const std::vector<KnownChain>& knownChains) {
  if (std::find(lostParts_.begin(), lostParts_.end(), 1) == lostParts_.end()) return false;
  const std::uint32_t count = ChainNodes();
  // The mini SAT's chain too, as long as the header says, first; chains
  // longer than the table are no chains at all.
  std::vector<KnownChain> known;
  if (headerMiniSatStart_ != kEndOfChain && header_ && header_->miniSatCount > 0)
    known.push_back({headerMiniSatStart_, header_->miniSatCount});
  for (const KnownChain& c : knownChains)
    if (c.sectors <= count) known.push_back(c);
  auto inLost = [&](std::uint32_t s) { return s < count && lostParts_[s / kEntriesPerSector]; };
  auto isTableSector = [&](std::uint32_t s) { return satTable_[s] == kFatSectorMark || satTable_[s] == kDifatSectorMark; };
  constexpr std::uint32_t kNobody = 0xFFFFFFFF;
  std::vector<std::uint32_t> owner(count, kNobody);
  // The next sector of a lost part that no chain took, from s on: each
  // taken sector points past itself (with the paths shortened as they are
  // followed), so that finding one costs next to nothing.
  std::vector<std::uint32_t> free(std::size_t{count} + 1);
  for (std::uint32_t s = 0; s < count; ++s) free[s] = inLost(s) && !isTableSector(s) ? s : s + 1;
  free[count] = count;
  auto nextFree = [&](std::uint32_t s) {
    std::uint32_t r = s;
    while (free[r] != r) r = free[r];
    while (free[s] != r) {
      const std::uint32_t up = free[s];
      free[s] = r;
      s = up;
    }
    return r;
  };
  std::vector<std::vector<std::uint32_t>> taken(known.size());
  auto own = [&](std::size_t c, std::uint32_t s) {
    owner[s] = static_cast<std::uint32_t>(c);
    free[s] = s + 1;
    taken[c].push_back(s);
  };
  // Where the table is sound, a sector in use that no sound entry links to
  // and no entry starts at continues a chain whose link was lost. Each such
  // head is known by the length of its chain, as far as it ends in the
  // sound parts: a chain that lacks just that many sectors goes on there.
  std::vector<std::uint8_t> pointed(count, 0), isStart(count, 0);
  for (const KnownChain& c : known)
    if (c.start < count) isStart[c.start] = 1;
  for (std::uint32_t s = 0; s < count; ++s) {
    std::uint32_t next = 0;
    std::uint8_t stop = 0;
    if (!inLost(s) && ChainLink(s, next, stop)) pointed[next] = 1;
  }
  // Per length: the heads in order, and how many of them are known taken.
  std::unordered_map<std::uint32_t, std::pair<std::size_t, std::vector<std::uint32_t>>> headsByLength;
  std::vector<std::uint8_t> walked(count, 0);
  for (std::uint32_t s = 0; s < count; ++s) {
    if (CancelRequested()) return false;
    const std::uint32_t v = satTable_[s];
    if (inLost(s) || pointed[s] || isStart[s] || isTableSector(s) || IsLikeSpecial(0xFF, v)) continue;
    std::uint32_t length = 0;
    std::uint32_t cur = s;
    bool ended = false;
    for (;;) {
      if (walked[cur]) break;
      walked[cur] = 1;
      ++length;
      std::uint32_t next = 0;
      std::uint8_t stop = 0;
      if (!ChainLink(cur, next, stop)) {
        ended = stop == kStopEndMark;
        break;
      }
      if (inLost(next)) break;
      cur = next;
    }
    if (ended) headsByLength[length].second.push_back(s);
  }
  auto takeHead = [&](std::size_t c, std::uint32_t missing) {
    auto it = headsByLength.find(missing);
    if (it == headsByLength.end()) return false;
    auto& [skip, heads] = it->second;
    for (; skip < heads.size(); ++skip) {
      const std::uint32_t head = heads[skip];
      if (owner[head] != kNobody) continue;
      for (std::uint32_t cur = head;;) {
        if (owner[cur] != kNobody) break;
        own(c, cur);
        std::uint32_t next = 0;
        std::uint8_t stop = 0;
        if (!ChainLink(cur, next, stop)) break;
        cur = next;
      }
      return true;
    }
    return false;
  };
  // A chain takes the sectors its size needs: through a lost part the run
  // from its start, elsewhere as the table links them, up to a sector
  // another chain took. With jump, a chain whose run ends short goes on at
  // a head (below) or with the next sectors no chain took (the pieces of a
  // stream were mostly written one after the other).
  auto take = [&](std::size_t c, bool jump) {
    if (taken[c].empty()) {
      const std::uint32_t start = known[c].start;
      if (start >= count || owner[start] != kNobody || isTableSector(start)) return;
      own(c, start);
    }
    std::uint32_t cur = taken[c].back();
    while (taken[c].size() < known[c].sectors) {
      std::uint32_t next = 0;
      if (inLost(cur)) {
        next = cur + 1;
        if (next >= count) break;
        // Past the lost part the table takes over again.
        if (!inLost(next)) {
          if (owner[next] != kNobody || isTableSector(next)) break;
        } else if (nextFree(next) != next) {
          // The run is taken: once every chain has its own run, the chain
          // goes on at a head of its missing length, or else with the next
          // sectors no chain took.
          if (!jump) break;
          if (takeHead(c, static_cast<std::uint32_t>(known[c].sectors - taken[c].size()))) break;
          next = nextFree(next);
          if (next >= count) break;
        }
      } else {
        std::uint8_t stop = 0;
        if (!ChainLink(cur, next, stop) || owner[next] != kNobody || isTableSector(next)) break;
      }
      own(c, next);
      cur = next;
    }
  };
  // The starts are certain: they go first, then the chains that start
  // where the table is sound, then the others in the order of their starts.
  std::vector<std::size_t> lostStarts;
  for (std::size_t c = 0; c < known.size(); ++c) {
    const std::uint32_t start = known[c].start;
    if (!inLost(start) || owner[start] != kNobody || isTableSector(start)) continue;
    own(c, start);
    lostStarts.push_back(c);
  }
  for (std::size_t c = 0; c < known.size(); ++c) {
    if (CancelRequested()) return false;
    if (!inLost(known[c].start)) take(c, true);
  }
  std::sort(lostStarts.begin(), lostStarts.end(),
            [&](std::size_t a, std::size_t b) { return known[a].start < known[b].start; });
  for (std::size_t c : lostStarts) take(c, false);
  for (std::size_t c : lostStarts) take(c, true);

  int changed = 0;
  auto link = [&](std::uint32_t s, std::uint32_t value) {
    if (satTable_[s] == value) return;
    satTable_[s] = value;
    ++changed;
  };
  for (std::size_t c = 0; c < known.size(); ++c) {
    const std::vector<std::uint32_t>& chain = taken[c];
    for (std::size_t i = 0; i + 1 < chain.size(); ++i)
      if (inLost(chain[i])) link(chain[i], chain[i + 1]);
    if (!chain.empty() && chain.size() == known[c].sectors && inLost(chain.back())) link(chain.back(), kEndOfChain);
  }
  // What no chain took runs on up to the next sector a chain took.
  for (std::uint32_t s = 0; s + 1 < count; ++s)
    if (inLost(s) && owner[s] == kNobody && !isTableSector(s) && owner[s + 1] != kNobody) link(s, kEndOfChain);
  if (changed == 0) return false;
  theLog.WriteFormat("Lost SAT parts: %i links set from the chains the directory names", changed);
  walks_.reset();
  return true;
}

std::uint32_t CSat::FindMiniSat() {
  HeaderInfo& h = *header_;
  headerMiniSatStart_ = h.miniSatStart;
  headerChainAccepted_ = false;
  if (h.miniSatStart == kEndOfChain) return 0;
  theLog.WriteLine("Start CSat::FindMiniSat()");
  miniSatList_.clear();
  Chain chain;
  FollowChain(h.miniSatStart, chain);

  theLog.WriteLine("Check chain miniSAT on correct");
  bool allAccepted = !chain.sectors.empty();
  for (std::size_t k = 0; k < chain.sectors.size(); ++k) {
    const std::uint32_t sector = chain.sectors[k];
    const std::uint32_t offset = OffsetOfSector(sector);
    const PartScore s = ScoreSatPart(offset, static_cast<std::uint32_t>(k), true);
    theLog.WriteFormat("Minisat Sector %i (%i): ball - %i, count - %i, maxlen - %i, rubbish - %i, stepbystep - %i",
                       static_cast<int>(sector), static_cast<int>(offset), s.likeSatPoints, s.chainsCount,
                       s.maxChainLen, s.rubbish, s.stepByStep);
    if (s.likeSatPoints < 50) {
      theLog.WriteFormat("Minisat Sector %i, not seem correct", static_cast<int>(sector));
      allAccepted = false;
      break;
    }
    miniSatList_.push_back(sector);
  }
  headerChainAccepted_ = allAccepted;
  if (allAccepted) {
    theLog.WriteFormat("All %i miniSAT sectors defined", static_cast<int>(miniSatList_.size()));
    theStats.miniSatSectorsExpected = static_cast<std::uint32_t>(miniSatList_.size());
    theStats.miniSatSectorsDefined = static_cast<std::uint32_t>(miniSatList_.size());
    return miniSatList_.front();
  }

  theLog.WriteLine("Search last parts of miniSAT");
  std::optional<PartSearch> search;
  for (auto k = static_cast<std::uint32_t>(miniSatList_.size()); k <= theBounds.maxMiniSector / 128; ++k) {
    theLog.WriteFormat("Search part of miniSAT  for sectors %i - %i", static_cast<int>(k * 128),
                       static_cast<int>((k + 1) * 128 - 1));
    if (CancelRequested()) break;
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
    theLog.WriteLine("Cant find miniSAT");
    theLog.WriteLine("Finish CSat::FindSat()");
    return 0xFFFFFFFF;
  }
  const auto defined = static_cast<std::uint32_t>(
      std::count_if(miniSatList_.begin(), miniSatList_.end(), [](std::uint32_t s) { return s != 0xFFFFFFFF; }));
  theLog.WriteFormat("%i from %i miniSAT sectors defined", static_cast<int>(defined),
                     static_cast<int>(miniSatList_.size()));
  theStats.miniSatSectorsExpected = static_cast<std::uint32_t>(miniSatList_.size());
  theStats.miniSatSectorsDefined = defined;
  theLog.WriteLine("Finish CSat::FindSat()");
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
  if (headerChainAccepted_ && miniSatList_.size() >= needParts && start < count && !owned[start] &&
      (satTable_[start] == kEndOfChain || link(start)))
    return false;

  // Each sector is walked once: a chain that runs into another is no mini SAT.
  std::vector<std::uint8_t> walked(count, 0);
  std::vector<std::uint32_t> found;
  int candidates = 0;
  for (std::uint32_t head = 0; head < count && candidates < 2; ++head) {
    if (CancelRequested()) return false;
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
  theLog.WriteFormat("miniSAT taken from the chain that no entry names: sector %i, %i sectors",
                     static_cast<int>(found.front()), static_cast<int>(found.size()));
  miniSatList_ = std::move(found);
  theStats.miniSatSectorsExpected = static_cast<std::uint32_t>(miniSatList_.size());
  theStats.miniSatSectorsDefined = static_cast<std::uint32_t>(miniSatList_.size());
  return ReadMiniSat() == 0;
}

// The sector that reads best as each part of a mini SAT for miniSectors
// mini sectors: every value a link within the mini stream, an end of chain
// or free, and the links that run from one mini sector to the next (entry i
// of part k holding 128k + i + 1) placing it. Sectors already in a table
// are left out.
std::unordered_map<std::uint32_t, std::uint32_t> CSat::MiniPartsByVotes(std::uint64_t miniSectors) const {
  constexpr int kMinVotes = 4;
  std::unordered_set<std::uint32_t> taken(miniSatList_.begin(), miniSatList_.end());
  for (std::uint32_t offset : satList_)
    if (offset != 0) taken.insert(SectorOfOffset(offset));
  std::unordered_map<std::uint32_t, std::pair<int, std::uint32_t>> best;  // part -> (votes, sector)
  const std::int64_t sectors = std::max<std::int64_t>(0, MaxSector());
  for (std::int64_t s = 0; s < sectors; ++s) {
    if (CancelRequested()) break;
    const auto sector = static_cast<std::uint32_t>(s);
    const auto bytes = image_.Sub(OffsetOfSector(sector), kSectorSize);
    if (!bytes || taken.count(sector)) continue;
    bool valid = true;
    for (std::uint32_t i = 0; i < kEntriesPerSector && valid; ++i)
      valid = IsMiniTableValue(bytes->U32(4 * i), miniSectors);
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
  // Parts past those the mini stream needs map nothing that is read.
  for (std::size_t k = 0; k < needParts && k * kEntriesPerSector < miniSatTable_.size(); ++k) {
    std::uint32_t* part = miniSatTable_.data() + k * kEntriesPerSector;
    int zeros = 0, foreign = 0;
    for (std::uint32_t i = 0; i < kEntriesPerSector; ++i) {
      if (part[i] == 0) ++zeros;
      else if (!IsMiniTableValue(part[i], miniSectors)) ++foreign;
    }
    if (zeros < 16 && foreign < 64) continue;
    ++lost;
    // Another sector that reads as this part takes its place; failing that,
    // the links it lost are taken as runs.
    if (!byVotes) byVotes = MiniPartsByVotes(miniSectors);
    if (auto it = byVotes->find(static_cast<std::uint32_t>(k)); it != byVotes->end()) {
      theLog.WriteFormat("miniSAT part %i found in sector %i", static_cast<int>(k), static_cast<int>(it->second));
      miniSatList_[k] = it->second;
      std::uint32_t values[kEntriesPerSector];
      LoadPart(image_, OffsetOfSector(it->second), values);
      std::copy(values, values + kEntriesPerSector, part);
      byVotes->erase(it);
      continue;
    }
    for (std::uint32_t i = 0; i < kEntriesPerSector; ++i) {
      const std::uint32_t v = part[i];
      if (v == 0 || !IsMiniTableValue(v, miniSectors))
        part[i] = static_cast<std::uint32_t>(k * kEntriesPerSector + i + 1);
    }
  }
  if (lost > 0) theLog.WriteFormat("%i damaged miniSAT sectors: their lost links taken as runs of sectors", lost);
  if (lost > 0) ForgetMiniWalks();
  return lost;
}

int CSat::ReadMiniSat() {
  theLog.WriteLine("inside CSat::ReadMiniSat()");
  miniSatTable_.assign(miniSatList_.size() * kEntriesPerSector, 0xFFFFFFFF);
  ForgetMiniWalks();
  for (std::size_t i = 0; i < miniSatList_.size(); ++i) {
    if (miniSatList_[i] == 0xFFFFFFFF) continue;
    auto offset = GetOffsBySector(miniSatList_[i]);
    if (!offset) continue;
    std::uint32_t values[kEntriesPerSector];
    LoadPart(image_, *offset, values);
    std::copy(values, values + kEntriesPerSector, miniSatTable_.data() + i * kEntriesPerSector);
  }
  theLog.WriteLine("CSat::ReadMiniSat() done.");
  return 0;
}

// --- chains -----------------------------------------------------------------


std::uint32_t CSat::ChainNodes() const {
  const std::int64_t nodes = std::min<std::int64_t>(static_cast<std::int64_t>(satTable_.size()), MaxSector() + 1);
  return static_cast<std::uint32_t>(std::max<std::int64_t>(0, nodes));
}

bool CSat::EnterChain(std::uint32_t cur, std::uint32_t& next, std::uint8_t& stop) const {
  const auto count = static_cast<std::uint32_t>(satTable_.size());
  if (cur > count || std::int64_t{cur} > MaxSector()) {
    stop = kStopOverBoundary;
    return false;
  }
  if (cur == count) {
    stop = kStopTableEnd;
    return false;
  }
  next = cur;
  return true;
}

bool CSat::ChainLink(std::uint32_t sector, std::uint32_t& next, std::uint8_t& stop) const {
  const std::uint32_t entry = satTable_[sector];
  if (IsLikeSpecial(0xFF, entry) || IsLikeSpecial(0xFD, entry)) {
    stop = kStopSpecial;
    return false;
  }
  if (IsLikeSpecial(0xFE, entry)) {
    stop = kStopEndMark;
    return false;
  }
  return EnterChain(TruncateByBound(entry, theBounds.maxSector), next, stop);
}

int CSat::FollowChain(std::uint32_t start, Chain& chain, std::size_t limit) {
  chain.sectors.clear();
  chain.length = 0;
  chain.chainEnded = false;
  std::uint32_t cur = 0;
  std::uint8_t stop = 0;
  if (EnterChain(start, cur, stop)) {
    if (!walks_)
      walks_ = WalkAllChains(ChainNodes(), [this](std::uint32_t s, std::uint32_t& n, std::uint8_t& c) {
        return ChainLink(s, n, c);
      });
    chain.length = walks_->length[cur];
    stop = walks_->stop[cur];
    const std::size_t take = std::min(limit, chain.length);
    chain.sectors.reserve(take);
    for (std::size_t n = 0; n < take; ++n) {
      chain.sectors.push_back(cur);
      std::uint8_t ignored = 0;
      if (!ChainLink(cur, cur, ignored)) break;
    }
  }
  switch (stop) {
    case kStopOverBoundary: theLog.WriteLine("Trying to read over boundary sector"); break;
    case kWalkCycle: theLog.WriteError("ERROR ! sectors cycle detected ! truncating chain. End Search"); break;
    case kStopEndMark: theLog.WriteLine("End of chain found"); break;
    default: break;
  }
  chain.chainEnded = stop == kStopEndMark || stop == kStopTableEnd;
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
  const std::uint32_t nodes = ChainNodes();
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

std::uint32_t CSat::MiniChainNodes() const {
  return static_cast<std::uint32_t>(
      std::min<std::uint64_t>(miniSatTable_.size(), std::uint64_t{theBounds.maxMiniSector} + 1));
}

bool CSat::EnterMiniChain(std::uint32_t cur, std::uint32_t& next, std::uint8_t& stop) const {
  const auto count = static_cast<std::uint32_t>(miniSatTable_.size());
  stop = kStopOverBoundary;
  if (cur > theBounds.maxMiniSector) return false;
  if (cur >= count) {
    // No table part maps this mini sector: it ends the chain.
    if (cur == count) stop = kStopMiniPastTable;
    return false;
  }
  next = cur;
  return true;
}

bool CSat::MiniChainLink(std::uint32_t sector, std::uint32_t& next, std::uint8_t& stop) const {
  return EnterMiniChain(TruncateByBound(miniSatTable_[sector], theBounds.maxMiniSector), next, stop);
}

int CSat::FollowMiniChain(std::uint32_t start, Chain& chain, std::size_t limit) {
  chain.sectors.clear();
  chain.length = 0;
  chain.chainEnded = false;
  if (start == kEndOfChain || start == kFreeSector) return 0;
  const auto count = static_cast<std::uint32_t>(miniSatTable_.size());
  std::uint32_t cur = 0;
  std::uint8_t stop = 0;
  if (EnterMiniChain(start, cur, stop)) {
    if (!miniWalks_ || miniWalksBound_ != theBounds.maxMiniSector) {
      miniWalksBound_ = theBounds.maxMiniSector;
      miniWalks_ = WalkAllChains(MiniChainNodes(), [this](std::uint32_t s, std::uint32_t& n, std::uint8_t& c) {
        return MiniChainLink(s, n, c);
      });
    }
    chain.length = miniWalks_->length[cur];
    stop = miniWalks_->stop[cur];
    const std::size_t take = std::min(limit, chain.length);
    chain.sectors.reserve(take);
    for (std::size_t n = 0; n < take; ++n) {
      chain.sectors.push_back(cur);
      std::uint8_t ignored = 0;
      if (!MiniChainLink(cur, cur, ignored)) break;
    }
  }
  if (stop == kStopMiniPastTable) {
    ++chain.length;
    if (chain.sectors.size() < limit) chain.sectors.push_back(count);
  }
  if (stop == kWalkCycle) theLog.WriteError("ERROR ! sectors cycle detected ! truncating chain. End Search");
  return 0;
}

int CSat::SetMiniSatLoc(std::uint32_t start, std::uint32_t neededSize) {
  theLog.WriteLine("CSat::SetMiniSatLoc.");
  miniStreamStart_ = start;
  Chain chain;
  FollowChain(start, chain);
  miniStream_.assign(chain.sectors.size() * kSectorSize, 0);
  for (std::size_t i = 0; i < chain.sectors.size(); ++i) {
    auto offset = GetOffsBySector(chain.sectors[i]);
    if (!offset || (i + 1) * kSectorSize > miniStream_.size()) break;
    if (!image_.CopyOut(*offset, miniStream_.data() + i * kSectorSize, kSectorSize)) break;
  }
  theLog.WriteFormat("Cunstructing miniSAT from sector % i: find %i sectors (%i size, %i needn size). Status of chain %i",
                     static_cast<int>(start), static_cast<int>(chain.sectors.size()),
                     static_cast<int>(miniStream_.size()), static_cast<int>(neededSize),
                     chain.chainEnded ? 1 : 0);
  theBounds.maxMiniSector =
      static_cast<std::uint32_t>(std::ceil(miniStream_.size() / double(kMiniSectorSize))) + 64;
  theLog.WriteLine("CSat::SetMiniSatLoc done.");
  return 0;
}

const std::uint8_t* CSat::GetMiniSector(std::uint32_t n) const {
  const std::uint64_t offset = std::uint64_t{n} * kMiniSectorSize;
  if (offset + kMiniSectorSize > miniStream_.size()) return nullptr;
  return miniStream_.data() + offset;
}

}  // namespace salvage
