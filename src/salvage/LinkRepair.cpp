// Single damaged links of the SAT and the mini SAT. A flipped byte in a
// table entry sends a chain beyond the file, into a free sector, into a
// sector another link already leads to, or onto a chain's start; the chain
// then ends short of what its size needs, and the rest of it hangs
// unreached: a chain head no link leads to and no entry names. Where
// exactly one such head, with the chain it begins, makes the broken chain
// as long as its size needs, the damaged entry is linked to it.
#include <algorithm>
#include <functional>
#include <unordered_set>

#include "base/Logger.h"
#include "salvage/Layout.h"
#include "salvage/Sat.h"

namespace salvage {
namespace {

// More heads than this: the table is damaged beyond single links, and the
// search for one that fits would guess.
constexpr std::size_t kMostHeads = 16;

// table: the first count entries are the sectors that exist. excluded: a
// sector that no chain of known may take (a table's own).
int MendLinks(std::vector<std::uint32_t>& table, std::uint32_t count, const std::vector<CSat::KnownChain>& known,
              const std::unordered_set<std::uint32_t>& otherStarts, const std::function<bool(std::uint32_t)>& excluded,
              const RunContext& run, Logger& log, const char* what) {
  const auto link = [&](std::uint32_t s) { return table[s]; };
  const auto inFile = [&](std::uint32_t v) { return v < count; };

  std::vector<std::uint8_t> predecessors(count, 0);
  for (std::uint32_t s = 0; s < count; ++s)
    if (inFile(link(s)) && link(s) != s && predecessors[link(s)] < 2) ++predecessors[link(s)];
  std::unordered_set<std::uint32_t> starts = otherStarts;
  for (const CSat::KnownChain& k : known) starts.insert(k.start);

  // A sector no chain can go on to: outside the file, free, excluded,
  // already led to by another link, or where a chain begins.
  const auto dead = [&](std::uint32_t next) {
    return !inFile(next) || link(next) == kFreeSector || excluded(next) || predecessors[next] > 1 ||
           starts.count(next) != 0;
  };

  // The heads, each with the length of the chain it begins (0: no whole
  // chain ends there).
  std::vector<std::pair<std::uint32_t, std::uint32_t>> heads;
  for (std::uint32_t s = 0; s < count; ++s) {
    if (predecessors[s] != 0 || starts.count(s) || excluded(s)) continue;
    if (link(s) != kEndOfChain && !inFile(link(s))) continue;
    heads.push_back({s, 0});
    if (heads.size() > kMostHeads) return 0;
  }
  if (heads.empty()) return 0;
  for (auto& [head, length] : heads) {
    std::uint32_t cur = head, n = 1;
    while (n <= count && link(cur) != kEndOfChain && !dead(link(cur)) && link(cur) != head) {
      cur = link(cur);
      ++n;
    }
    length = link(cur) == kEndOfChain ? n : 0;
  }

  int mended = 0;
  // Sound chains share no sector: their walks together take each sector
  // once. Entries that name one chain many times over stop there.
  std::uint64_t steps = 2 * std::uint64_t{count};
  for (const CSat::KnownChain& k : known) {
    if (run.Cancelled() || steps == 0) break;
    if (!inFile(k.start) || k.sectors < 2) continue;
    std::uint32_t cur = k.start;
    for (std::uint32_t n = 1; n < k.sectors && steps > 0; ++n, --steps) {
      if (excluded(cur)) break;
      const std::uint32_t next = link(cur);
      // An end mark too early is the size's fault, not a link's.
      if (next == kEndOfChain) break;
      if (!dead(next)) {
        cur = next;
        continue;
      }
      // The chain breaks after n sectors: the one head whose chain makes up
      // the rest takes the place of the damaged link.
      const auto fits = [&](const std::pair<std::uint32_t, std::uint32_t>& h) { return h.second == k.sectors - n; };
      const auto found = std::find_if(heads.begin(), heads.end(), fits);
      if (found == heads.end() || std::find_if(found + 1, heads.end(), fits) != heads.end()) break;
      log.WriteFormat("%s entry of sector %u links to %u, which no chain goes on to: linked to sector %u, "
                      "whose chain of %u sectors makes the stream at %u as long as its size needs",
                      what, static_cast<unsigned>(cur), static_cast<unsigned>(next),
                      static_cast<unsigned>(found->first), static_cast<unsigned>(found->second),
                      static_cast<unsigned>(k.start));
      table[cur] = found->first;
      heads.erase(found);
      ++mended;
      break;
    }
  }
  return mended;
}

}  // namespace

int CSat::MendBrokenLinks(const std::vector<KnownChain>& known) {
  // Where a SAT part was lost its links are guesses, mended from the
  // directory's chains instead (MendLostRuns): no single damaged link is
  // told from them.
  if (state_.bounds.maxSector < 0 || std::find(lostParts_.begin(), lostParts_.end(), 1) != lostParts_.end()) return 0;
  const auto count = std::min<std::uint32_t>(static_cast<std::uint32_t>(satTable_.size()),
                                             static_cast<std::uint32_t>(state_.bounds.maxSector) + 1);
  const int mended = MendLinks(
      satTable_, count, known, {header_->miniSatStart, header_->rootsStart, header_->difStart},
      [&](std::uint32_t s) { return IsTableSector(s); }, state_.run, state_.log(), "SAT");
  if (mended > 0) ForgetWalks();
  return mended;
}

int CSat::MendBrokenMiniLinks(const std::vector<KnownChain>& known) {
  const auto count = std::min<std::uint32_t>(static_cast<std::uint32_t>(miniSatTable_.size()),
                                             static_cast<std::uint32_t>(miniStream_.size() / kMiniSectorSize));
  const int mended =
      MendLinks(miniSatTable_, count, known, {}, [](std::uint32_t) { return false; }, state_.run, state_.log(), "Mini SAT");
  if (mended > 0) ForgetMiniWalks();
  return mended;
}

}  // namespace salvage
