// The SAT: its list of sectors from the header and the DIF chain, checked
// entry by entry and completed by the search and by the table's own marks,
// then read into one table.
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
namespace {

// Whether a and b differ within one byte only.
bool OneByteApart(std::uint32_t a, std::uint32_t b) {
  const std::uint32_t d = a ^ b;
  for (unsigned shift = 0; shift < 32; shift += 8)
    if (d != 0 && (d & (0xFFu << shift)) == d) return true;
  return false;
}

}  // namespace

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
  if (state_.run.Cancelled()) return false;
  return !SatListHas(OffsetOfSector(v));
}

bool CSat::IsDifSector(std::uint32_t sector) const {
  const std::uint64_t base = (std::uint64_t{sector} + 1) * kSectorSize;
  int count = 0;
  for (std::uint32_t i = 0; i < kEntriesPerSector; ++i) {
    const std::uint32_t raw = image_.U32(base + 4 * i);
    if (IsNewSatSector(TruncateByBound(raw, state_.bounds.maxSector))) ++count;
    if (IsReservedSect(raw)) ++count;
  }
  state_.log().WriteFormat("%sValidating sector %i on belong to DIF: %i values from 128 are valid",
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
  state_.log().WriteFormat("Check on first presector passed with counter %d", count);
  return true;
}

// The first candidate (in file order) whose first value lies within 9 of v.
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
    const std::uint32_t v = TruncateByBound(raw, state_.bounds.maxSector);
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
    if (state_.run.Cancelled()) return false;
    const std::uint32_t n = prev + 1;
    if (std::int64_t{n} >= MaxSector()) {
      prev = 1;
      continue;
    }
    const std::uint32_t w = TruncateByBound(FirstValueOf(n), state_.bounds.maxSector);
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
  state_.log().WriteLine("GetOffsBySector before the loop passed");
  constexpr std::uint32_t kLastEntry = kEntriesPerSector - 1;
  std::optional<std::uint64_t> dif = GetOffsBySector(h.difStart);
  std::uint32_t j = 0;
  std::uint32_t done = 0;
  auto nextDifSector = [&](std::uint32_t raw) {
    j = 0;
    ++done;
    dif = GetOffsBySector(TruncateByBound(raw, state_.bounds.maxSector));
  };
  while (done < h.difSectorsCount && dif) {
    if (state_.run.Cancelled()) return false;
    const std::uint32_t raw = image_.U32(*dif + 4 * j);
    const bool rawInFile = (std::uint64_t{raw} + 1) * kSectorSize <= static_cast<std::uint64_t>(fileSize_);
    bool appended = false;
    const std::uint32_t v = TruncateByBound(raw, state_.bounds.maxSector);
    if (IsNewSatSector(v)) {
      AppendSat(OffsetOfSector(v));
      prev = raw;
      appended = true;
    } else if (std::uint64_t{prev} * kSectorSize >= static_cast<std::uint64_t>(fileSize_) ||
               !GetOffsBySector(prev)) {
      prev = 1;
    } else {
      state_.log().WriteLine("GetOffsBySector in not valid sector passed");
      if (FindCandidateNear(FirstValueOf(prev) + 508) == 0xFFFFFFFF) {
        state_.log().WriteLine("Unable to find neccessary SAT block");
        prev = 1;
      } else {
        const std::uint32_t n = prev + 1;
        if (std::int64_t{n} >= MaxSector()) return true;
        const std::uint32_t w = TruncateByBound(FirstValueOf(n), state_.bounds.maxSector);
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
              state_.log().WriteLine("Unable to find neccessary SAT block");
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
      state_.log().WriteLine("Last DIF entry in the sector found");
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
  state_.log().WriteLine("Start CSat::FindSat()");
  HeaderInfo& h = *header_;
  std::uint64_t working = (std::uint64_t{h.satStart} + 1) * kSectorSize;
  satList_.clear();
  satListCount_.clear();
  satFound_ = false;

  // check1: the sector just before the header's first SAT sector (never the header itself).
  const std::uint64_t presector = std::uint64_t{h.satStart} * kSectorSize;
  if (presector >= kSectorSize && IsFirstPresector(presector)) {
    AppendSat(static_cast<std::uint32_t>(presector));
    state_.log().WriteNumber("Find start of SAT by offs in OLEHeader: ", static_cast<long long>(presector));
  }
  // check2: the header's first SAT sector; check3: sector 0.
  if (ScoreSatPart(working, 0, false).likeSatPoints > 100) {
    AppendSat(static_cast<std::uint32_t>(working));
    state_.log().WriteNumber("Find start of SAT by offs in OLEHeader: ", static_cast<long long>(working));
  } else {
    working = kSectorSize;
    if (ScoreSatPart(working, 0, false).likeSatPoints > 100) {
      AppendSat(static_cast<std::uint32_t>(working));
      h.satStart = 0;
      state_.log().WriteLine("Find start of SAT by offs 0x200");
    } else {
      state_.log().WriteError("Find start of SAT by offs 0x200 with HARDCODE");
    }
  }

  CollectCandidates();
  if (state_.run.Cancelled()) return kSatSearchCancelled;

  std::uint32_t prev = 0;
  if (!WalkHeaderList(prev)) return kSatSearchCancelled;

  state_.log().WriteFormat("Find %i sectors", static_cast<int>(satList_.size()));
  state_.log().WriteLine(h.difSectorsCount > 0 ? "Finding DIF sectors" : "No DIF sectors present");
  if (!WalkDif(prev)) return kSatSearchCancelled;

  while (!satList_.empty() && satList_.back() == 0) PopSat();
  state_.log().WriteLine("Check sectors on correct");
  state_.log().WriteLine("Search lost parts of SAT");
  for (std::size_t k = 0; k < satList_.size(); ++k) {
    if (satList_[k] != 0) continue;
    state_.log().WriteFormat("Looking for lost SAT part for sectors [%i - %i]", static_cast<int>(k * 128),
                       static_cast<int>((k + 1) * 128 - 1));
  }

  state_.log().WriteLine("Search last parts of SAT");
  const auto c = static_cast<std::uint32_t>(satList_.size());
  if (state_.bounds.needSatSectors - 0.1 * c > c) {
    if (!indexed_) IndexCandidates();
    PartSearch search(*this, false, candidateOffsets_);
    std::unordered_set<std::uint32_t> taken;
    for (std::uint32_t k = c; k < state_.bounds.needSatSectors; ++k) {
      if (state_.run.Cancelled()) return kSatSearchCancelled;
      PartScore score;
      const std::uint32_t r = FindSatPart(search, k, score);
      // A sector the list holds already maps other sectors: never a second
      // part. Nor is one in which no chain runs among the sectors it would
      // map, a sector the table maps as a link of some chain, or the sector
      // where the header starts the mini SAT or the directory: a mini SAT
      // reads as a table part, and where the part that maps it was lost,
      // nothing else says otherwise.
      const std::uint32_t sector = SectorOfOffset(r);
      if (r != 0 && score.maxChainLen == 0) {
        state_.log().WriteFormat("Sector %i holds no chain among the sectors it would map: not a part of the SAT",
                                 static_cast<int>(sector));
      } else if (r != 0 && (sector == h.miniSatStart || sector == h.rootsStart)) {
        state_.log().WriteFormat("Sector %i is where the header starts the %s: not a part of the SAT",
                                 static_cast<int>(sector), sector == h.miniSatStart ? "miniSAT" : "directory");
      } else if (r != 0 && MappedAsChain(r)) {
        state_.log().WriteFormat("Sector %i is a link of a chain in the SAT: not a part of it", static_cast<int>(sector));
      } else if (r != 0 && !SatListHas(r)) {
        taken.insert(r);
        const bool firstPart = satList_.empty();
        AppendSat(r);
        search.SatPartAdded(satList_.size() - 1, firstPart);
      }
      if (search.Empty()) break;
    }
    std::erase_if(candidateOffsets_, [&](std::uint32_t offset) { return taken.count(offset) != 0; });
  }
  state_.log().WriteLine("End Search SAT Parts");
  MendSatByMarks();
  if (state_.run.Cancelled()) return kSatSearchCancelled;

  const std::uint32_t result = SectorOfOffset(working);
  if (satList_.empty()) {
    state_.log().WriteLine("Can't find SAT");
    state_.log().WriteLine("Finish CSat::FindSat()");
    return result;
  }
  satFound_ = true;
  state_.log().WriteLine("SAT dump");
  int defined = 0;
  for (std::uint32_t offset : satList_) {
    if (offset == 0) {
      state_.log().WriteLine("MISS! SAT sector..");
      continue;
    }
    ++defined;
    state_.log().WriteFormat("SAT sector: [0x%08x] (%i)", offset, static_cast<int>(offset));
  }
  state_.log().WriteFormat("%i from %i finded SAT sectors defined, and from %i whole count", defined,
                     static_cast<int>(satList_.size()), static_cast<int>(h.satSectorsCount));
  state_.stats.satSectorsFound = static_cast<std::uint32_t>(satList_.size());
  state_.stats.satSectorsDefined = static_cast<std::uint32_t>(defined);
  state_.log().WriteLine("Finish CSat::FindSat()");
  return result;
}

// The table's own marks against the list found so far. Where they give the
// whole table (every part found, every marked sector one of the parts,
// every link mapped) and the list disagrees with them, the list is theirs:
// the header's list was damaged or lost. Otherwise they only fill the parts
// the list lacks.
void CSat::MendSatByMarks() {
  if (state_.bounds.maxSector < 0) return;
  const SatMarks marks = FindSatByMarks(state_.run, image_, static_cast<std::uint32_t>(state_.bounds.maxSector));
  std::vector<std::uint32_t> offsets;
  for (std::uint32_t sector : marks.parts) offsets.push_back(sector == kNoPart ? 0 : OffsetOfSector(sector));
  if (offsets.empty()) return;
  // A part the list has past those the marks found, that marks itself as a
  // table sector where it sits: the marks missed it (in a cut file its
  // links run past the end and it reads as no table), so the list stays.
  bool listGoesOn = false;
  for (std::size_t k = offsets.size(); k < satList_.size() && !listGoesOn; ++k) {
    const std::uint32_t offset = satList_[k];
    if (offset == 0) continue;
    const std::uint32_t sector = SectorOfOffset(offset);
    listGoesOn = sector / kEntriesPerSector == k &&
                 image_.U32(std::uint64_t{offset} + 4 * (sector % kEntriesPerSector)) == kFatSectorMark;
  }
  if (listGoesOn) state_.log().WriteLine("The SAT's list goes on past the parts its marks found: the list is kept");
  if (marks.Whole() && !listGoesOn) {
    if (satList_ == offsets) return;
    state_.log().WriteFormat("SAT rebuilt from the marks of its own %i sectors", static_cast<int>(offsets.size()));
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
  if (filled > 0) state_.log().WriteFormat("%i missing SAT sectors found by the marks of the others", filled);
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
  state_.log().WriteLine("S: CSat::ReadSat()");
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
  if (lost > 0) state_.log().WriteFormat("%i lost SAT sectors taken as runs of sectors", lost);

  // The bytes the sound parts account for: up to the end of the last sector
  // they mark in use (a link, an end of chain, a table sector). A zero is
  // left out: a zeroed entry links nowhere the file would have put a chain.
  accountedBytes_ = 0;
  const std::uint64_t tableEntries = satTable_.size();
  for (std::size_t i = 0; i < satList_.size(); ++i) {
    if (lostParts_[i]) continue;
    const std::uint32_t* part = satTable_.data() + i * kEntriesPerSector;
    for (std::uint32_t e = kEntriesPerSector; e-- > 0;) {
      const std::uint32_t v = part[e];
      const bool used = v == kEndOfChain || v == kFatSectorMark || v == kDifatSectorMark ||
                        (v != 0 && v != kFreeSector && v < tableEntries);
      if (!used) continue;
      accountedBytes_ = std::max(accountedBytes_, (i * kEntriesPerSector + e + 2) * std::uint64_t{kSectorSize});
      break;
    }
    // And the sectors its links lead to.
    for (std::uint32_t e = 0; e < kEntriesPerSector; ++e) {
      const std::uint32_t v = part[e];
      if (v != 0 && v < tableEntries)
        accountedBytes_ = std::max(accountedBytes_, (std::uint64_t{v} + 2) * kSectorSize);
    }
  }
  // A table sector the header lists where the table maps a sector, for a
  // part that was found nowhere in the file (a wrong entry of the list
  // names a sector while the part itself is found elsewhere).
  for (std::uint32_t i = 0; i < kHeaderDifatEntries && i < satList_.size(); ++i) {
    const std::uint32_t v = image_.U32(kHdrDifat + 4 * i);
    if (lostParts_[i] && v != 0 && v < tableEntries)
      accountedBytes_ = std::max(accountedBytes_, (std::uint64_t{v} + 2) * kSectorSize);
  }

  // Entries that point outside the file and outside what the table maps
  // were damaged: they continue the run before them. Where one damaged byte
  // sent one even past what the header's count of table sectors maps (a
  // cut file's links reach no further), the sector it linked to is one
  // byte away from it, and no other entry links there (no two links lead
  // to one sector): the next sector, where it is one of them, as most
  // chains run on; else the only one. A link to a sector the table maps
  // but the file no longer holds stays: the file was cut, and a chain ends
  // there.
  std::uint32_t last = 1;
  const auto size = static_cast<std::uint64_t>(fileSize_);
  const std::uint64_t mapped = satTable_.size();
  const auto inRange = [&](std::uint32_t v) { return std::uint64_t{v} * kSectorSize <= size; };
  const std::uint64_t told = std::max<std::uint64_t>(mapped, std::uint64_t{header_->satSectorsCount} * kEntriesPerSector);
  std::vector<std::uint8_t> linkedTo(mapped, 0);
  for (std::uint32_t e : satTable_)
    if (!IsReservedSect(e) && e != kDifatSectorMark && inRange(e) && e < mapped) linkedTo[e] = 1;
  for (std::size_t s = 0; s < satTable_.size(); ++s) {
    std::uint32_t& e = satTable_[s];
    if (IsReservedSect(e) || e == kDifatSectorMark) continue;
    if (inRange(e)) {
      last = e;
      continue;
    }
    if (e < mapped) continue;
    if (e < told) {
      e = ++last;
      continue;
    }
    const auto sector = static_cast<std::uint32_t>(s);
    const auto fits = [&](std::uint32_t v) { return v != sector && v < mapped && inRange(v) && !linkedTo[v]; };
    std::optional<std::uint32_t> near;
    bool several = false;
    // Each byte in turn takes every value that keeps the entry in the
    // table (they rise with it): at most 256 tries a byte.
    for (unsigned shift = 0; shift < 32 && !several; shift += 8)
      for (std::uint32_t b = 0; b < 256 && !several; ++b) {
        const std::uint32_t v = (e & ~(0xFFu << shift)) | (b << shift);
        if (v >= mapped) break;
        if (!fits(v)) continue;
        several = near.has_value();
        near = v;
      }
    if (fits(sector + 1) && OneByteApart(e, sector + 1)) {
      near = sector + 1;
      several = false;
    }
    if (near && !several) {
      linkedTo[*near] = 1;
      e = last = *near;
    } else {
      e = ++last;
    }
  }
  ForgetWalks();
  return 0;
}

}  // namespace salvage
