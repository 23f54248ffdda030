#include "salvage/SatMarks.h"

#include <algorithm>
#include <array>
#include <optional>
#include <set>
#include <unordered_map>

#include "base/LibrarySettings.h"
#include "salvage/Layout.h"

namespace salvage {
namespace {

// A sector most of whose values are sector numbers of the file or reserved
// values: what every part of a table looks like.
constexpr int kMinTableLike = 90;
// Values that place a sector at part k before it counts as part k.
constexpr int kMinVotes = 2;

struct Candidate {
  std::uint32_t sector;
  std::uint32_t part;  // kNoPart when its values do not say
  int votes;
};

std::optional<ImageView> SectorBytes(const ImageView& image, std::uint32_t sector) {
  return image.Sub((std::uint64_t{sector} + 1) * kSectorSize, kSectorSize);
}

// The part a table-like sector belongs to, by its links.
void Place(const ImageView& bytes, std::uint32_t parts, Candidate& c) {
  const PartVote vote = MostVotedPart(bytes, parts);
  c.part = vote.part;
  c.votes = vote.votes;
  if (c.votes >= kMinVotes) return;
  // Too few links to tell (the last part of a table is often nearly all
  // free, or all SAT sectors): a part that marks itself as a SAT sector
  // sits where that mark says.
  const std::uint32_t self = c.sector % kEntriesPerSector;
  c.part = bytes.U32(4 * self) == kFatSectorMark && c.sector / kEntriesPerSector < parts ? c.sector / kEntriesPerSector
                                                                                           : kNoPart;
  c.votes = 0;
}

}  // namespace

PartVote MostVotedPart(const ImageView& sector, std::uint64_t parts) {
  std::array<std::uint32_t, kEntriesPerSector> votes;
  std::size_t n = 0;
  for (std::uint32_t i = 0; i < kEntriesPerSector; ++i) {
    const std::uint32_t v = sector.U32(4 * i);
    if (v >= kDifatSectorMark || v < i + 1 || (v - 1 - i) % kEntriesPerSector != 0) continue;
    const std::uint32_t k = (v - 1 - i) / kEntriesPerSector;
    if (k < parts) votes[n++] = k;
  }
  std::sort(votes.begin(), votes.begin() + static_cast<std::ptrdiff_t>(n));
  PartVote best;
  for (std::size_t i = 0; i < n;) {
    std::size_t j = i;
    while (j < n && votes[j] == votes[i]) ++j;
    if (static_cast<int>(j - i) > best.votes) best = {votes[i], static_cast<int>(j - i)};
    i = j;
  }
  return best;
}

bool SatMarks::Whole() const {
  if (parts.empty() || std::find(parts.begin(), parts.end(), kNoPart) != parts.end() || !linksMapped) return false;
  std::vector<std::uint32_t> chosen = parts;
  std::sort(chosen.begin(), chosen.end());
  return chosen == marked;
}

SatMarks FindSatByMarks(const RunContext& run, const ImageView& image, std::uint32_t sectors) {
  const std::uint32_t parts = (sectors + kEntriesPerSector - 1) / kEntriesPerSector;
  std::vector<Candidate> candidates;
  std::unordered_map<std::uint32_t, std::size_t> candidateOf;
  for (std::uint32_t s = 0; s < sectors; ++s) {
    if (run.Cancelled()) return {};
    const auto bytes = SectorBytes(image, s);
    if (!bytes) break;
    int count = 0;
    for (const std::uint32_t v : bytes->Words<kEntriesPerSector>())
      if ((v > 0 && v < sectors) || v == kEndOfChain || v == kFreeSector || v == kFatSectorMark) ++count;
    if (count < kMinTableLike) continue;
    Candidate c{s, kNoPart, 0};
    Place(*bytes, parts, c);
    candidateOf.emplace(s, candidates.size());
    candidates.push_back(c);
  }

  // The sectors a part marks as SAT sectors, given where the part sits.
  // Marked candidates that no part has taken yet wait in pending.
  std::set<std::uint32_t> marked;
  std::set<std::uint32_t> pending;
  auto addMarks = [&](const Candidate& c) {
    const ImageView bytes = *SectorBytes(image, c.sector);  // a candidate lies inside
    for (std::uint32_t i = 0; i < kEntriesPerSector; ++i) {
      const std::uint64_t sector = std::uint64_t{c.part} * kEntriesPerSector + i;
      if (bytes.U32(4 * i) != kFatSectorMark || sector >= sectors) continue;
      if (marked.insert(static_cast<std::uint32_t>(sector)).second && candidateOf.count(sector))
        pending.insert(static_cast<std::uint32_t>(sector));
    }
  };
  for (const Candidate& c : candidates)
    if (c.part != kNoPart) addMarks(c);

  // Each part: the marked candidate that votes for it most (the first on a tie).
  std::vector<std::size_t> best(parts, candidates.size());
  for (std::size_t n = 0; n < candidates.size(); ++n) {
    const Candidate& c = candidates[n];
    if (c.part == kNoPart || !marked.count(c.sector)) continue;
    if (best[c.part] == candidates.size() || c.votes > candidates[best[c.part]].votes) best[c.part] = n;
  }
  std::uint32_t count = 0;
  for (std::uint32_t k = 0; k < parts; ++k)
    if (best[k] != candidates.size()) {
      pending.erase(candidates[best[k]].sector);
      count = k + 1;
    }

  // Marked sectors that no part claimed by its values (a last part that is
  // nearly all free, or one whose chains jump) take the first parts still
  // missing, in the order of the file, as the table grows; their own marks
  // then join the others.
  std::uint32_t missing = 0;
  while (!pending.empty()) {
    while (missing < parts && best[missing] != candidates.size()) ++missing;
    if (missing >= parts) break;
    const std::size_t n = candidateOf.at(*pending.begin());
    pending.erase(pending.begin());
    candidates[n].part = missing;
    best[missing] = n;
    count = std::max(count, missing + 1);
    addMarks(candidates[n]);
  }

  SatMarks result;
  result.parts.resize(count, kNoPart);
  for (std::uint32_t k = 0; k < count; ++k)
    if (best[k] != candidates.size()) result.parts[k] = candidates[best[k]].sector;
  result.linksMapped = true;
  const std::uint64_t mapped = std::uint64_t{count} * kEntriesPerSector;
  for (std::uint32_t k = 0; k < count && result.linksMapped; ++k) {
    if (best[k] == candidates.size()) continue;
    const ImageView bytes = *SectorBytes(image, candidates[best[k]].sector);
    for (std::uint32_t i = 0; i < kEntriesPerSector && result.linksMapped; ++i) {
      const std::uint32_t v = bytes.U32(4 * i);
      // A link past the file's own sectors is a damaged one: it shows no
      // part missing.
      result.linksMapped = v >= kDifatSectorMark || v < mapped || v >= sectors;
    }
  }
  result.marked.assign(marked.begin(), marked.end());
  return result;
}

}  // namespace salvage
