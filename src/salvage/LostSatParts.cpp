// SAT parts that were lost: their links taken again from the chains the
// directory names, once the directory is known.
#include "salvage/Sat.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "base/LibrarySettings.h"
#include "base/Logger.h"
#include "salvage/Layout.h"
#include "salvage/TableValues.h"

namespace salvage {
namespace {

// A table some of whose links were lost and taken as runs (each sector
// linked to the next), as the chains the directory names are taken again
// through it.
struct LostLinks {
  std::vector<std::uint32_t>& entries;
  std::uint32_t count;                                // the sectors that exist
  std::function<bool(std::uint32_t)> lost;            // whether a sector's link was lost
  std::function<bool(std::uint32_t)> excluded;        // a table's own sector: no chain takes it
  std::function<bool(std::uint32_t)> marksFree;       // whether a sound entry marks its sector free
  // A sound link: true with next set, else whether the chain ends there.
  std::function<bool(std::uint32_t, std::uint32_t&, bool&)> link;
  // Whether what reads the chains later weighs the guesses left (the mini
  // SAT's, by what the streams hold). Then a run no chain took keeps its
  // guess instead of ending before the next sector a chain took, and so
  // does a chain whose run meets a sector a sound link leads to instead of
  // going on with the next sectors no chain took.
  bool weighedLater;
};

// Each chain of known takes the sectors its size needs: through a lost
// link the run from its start, elsewhere as the table links them, up to a
// sector another chain took. Where its run ends short, it goes on at a
// head of just the length it lacks (below) or with the next sectors no
// chain took (the pieces of a stream were mostly written one after the
// other). placed: known[0]'s sectors, where they were found otherwise.
// Returns the links changed, or -1 when the run was cancelled.
int TakeChainsThroughLostLinks(LostLinks& t, const std::vector<CSat::KnownChain>& known,
                               const std::vector<std::uint32_t>& placed, const RunContext& run) {
  const std::uint32_t count = t.count;
  constexpr std::uint32_t kNobody = 0xFFFFFFFF;
  std::vector<std::uint32_t> owner(count, kNobody);
  // A sector a sound link leads to belongs to the chain that link is part
  // of, even within a lost part: no other chain's run takes it.
  std::vector<std::uint8_t> pointed(count, 0), isStart(count, 0);
  for (const CSat::KnownChain& c : known)
    if (c.start < count) isStart[c.start] = 1;
  for (std::uint32_t s = 0; s < count; ++s) {
    std::uint32_t next = 0;
    bool ended = false;
    if (!t.lost(s) && t.link(s, next, ended)) pointed[next] = 1;
  }
  // The next sector of a lost part that no chain took, from s on: each
  // taken sector points past itself (with the paths shortened as they are
  // followed), so that finding one costs next to nothing.
  std::vector<std::uint32_t> free(std::size_t{count} + 1);
  for (std::uint32_t s = 0; s < count; ++s) free[s] = t.lost(s) && !t.excluded(s) && !pointed[s] ? s : s + 1;
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
  for (std::uint32_t s : placed) {
    if (known.empty() || s >= count || owner[s] != kNobody || t.excluded(s)) break;
    own(0, s);
  }
  // Where the table is sound, a sector in use that no sound entry links to
  // and no entry starts at continues a chain whose link was lost. Each such
  // head is known by the length of its chain, as far as it ends in the
  // sound parts: a chain that lacks just that many sectors goes on there.
  // Per length: the heads in order, and how many of them are known taken.
  std::unordered_map<std::uint32_t, std::pair<std::size_t, std::vector<std::uint32_t>>> headsByLength;
  std::vector<std::uint8_t> walked(count, 0);
  for (std::uint32_t s = 0; s < count; ++s) {
    if (run.Cancelled()) return -1;
    if (t.lost(s) || pointed[s] || isStart[s] || t.excluded(s) || t.marksFree(s)) continue;
    std::uint32_t length = 0;
    std::uint32_t cur = s;
    bool ended = false;
    for (;;) {
      if (walked[cur]) break;
      walked[cur] = 1;
      ++length;
      std::uint32_t next = 0;
      if (!t.link(cur, next, ended) || t.lost(next)) break;
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
        bool ended = false;
        if (!t.link(cur, next, ended)) break;
        cur = next;
      }
      return true;
    }
    return false;
  };
  auto take = [&](std::size_t c, bool jump) {
    if (taken[c].empty()) {
      const std::uint32_t start = known[c].start;
      if (start >= count || owner[start] != kNobody || t.excluded(start)) return;
      own(c, start);
    }
    std::uint32_t cur = taken[c].back();
    while (taken[c].size() < known[c].sectors) {
      std::uint32_t next = 0;
      if (t.lost(cur)) {
        next = cur + 1;
        if (next >= count) break;
        // Past the lost part the table takes over again; where the sector
        // there is taken (or is the table's own, or a sound link leads to
        // it), the chain goes on at a head of its missing length, if any.
        if (!t.lost(next)) {
          if (owner[next] != kNobody || t.excluded(next) || pointed[next]) {
            if (jump) takeHead(c, static_cast<std::uint32_t>(known[c].sectors - taken[c].size()));
            break;
          }
        } else if (nextFree(next) != next) {
          // The run is taken: once every chain has its own run, the chain
          // goes on at a head of its missing length, or else with the next
          // sectors no chain took.
          if (!jump) break;
          if (takeHead(c, static_cast<std::uint32_t>(known[c].sectors - taken[c].size()))) break;
          if (pointed[next] && t.weighedLater) break;
          next = nextFree(next);
          if (next >= count) break;
        }
      } else {
        bool ended = false;
        if (!t.link(cur, next, ended) || owner[next] != kNobody || t.excluded(next)) break;
      }
      own(c, next);
      cur = next;
    }
  };
  // The starts are certain: they go first, then the chains that start
  // where the table is sound, then the others in the order of their starts.
  // (A start in a sound part is certain too: no chain runs on into it.)
  std::vector<std::size_t> lostStarts;
  for (std::size_t c = 0; c < known.size(); ++c) {
    const std::uint32_t start = known[c].start;
    if (start >= count || owner[start] != kNobody || t.excluded(start)) continue;
    own(c, start);
    if (t.lost(start)) lostStarts.push_back(c);
  }
  // Each chain takes its own run before any chain goes on past a run that
  // another took.
  std::sort(lostStarts.begin(), lostStarts.end(),
            [&](std::size_t a, std::size_t b) { return known[a].start < known[b].start; });
  for (bool jump : {false, true}) {
    for (std::size_t c = 0; c < known.size(); ++c) {
      if (run.Cancelled()) return -1;
      if (!t.lost(known[c].start)) take(c, jump);
    }
    for (std::size_t c : lostStarts) take(c, jump);
  }

  int changed = 0;
  auto setLink = [&](std::uint32_t s, std::uint32_t value) {
    if (t.entries[s] == value) return;
    t.entries[s] = value;
    ++changed;
  };
  for (std::size_t c = 0; c < known.size(); ++c) {
    const std::vector<std::uint32_t>& chain = taken[c];
    for (std::size_t i = 0; i + 1 < chain.size(); ++i)
      if (t.lost(chain[i])) setLink(chain[i], chain[i + 1]);
    if (!chain.empty() && chain.size() == known[c].sectors && t.lost(chain.back())) setLink(chain.back(), kEndOfChain);
  }
  // What no chain took runs on up to the next sector a chain took.
  if (!t.weighedLater)
    for (std::uint32_t s = 0; s + 1 < count; ++s)
      if (t.lost(s) && owner[s] == kNobody && !t.excluded(s) && owner[s + 1] != kNobody) setLink(s, kEndOfChain);
  return changed;
}

}  // namespace

bool CSat::MendLostRuns(const std::vector<KnownChain>& knownChains, std::uint64_t miniStreamBytes) {
  if (std::find(lostParts_.begin(), lostParts_.end(), 1) == lostParts_.end()) return false;
  const std::uint32_t count = ChainNodes(BigTable());
  // The mini SAT's chain too, as long as the header says, first; chains
  // longer than the table are no chains at all.
  std::vector<KnownChain> known;
  const std::vector<std::uint32_t> miniPath = MiniSatPastLostLinks(miniStreamBytes);
  if (!miniPath.empty()) {
    known.push_back({miniPath.front(), static_cast<std::uint32_t>(miniPath.size())});
    state_.log().WriteFormat("miniSAT chain past a lost SAT part: %i sectors placed by what they hold",
                             static_cast<int>(miniPath.size()));
  }
  else if (headerMiniSatStart_ != kEndOfChain && header_ && header_->miniSatCount > 0)
    known.push_back({headerMiniSatStart_, header_->miniSatCount});
  for (const KnownChain& c : knownChains)
    if (c.sectors <= count) known.push_back(c);
  LostLinks table{
      satTable_,
      count,
      [&](std::uint32_t s) { return s < count && lostParts_[s / kEntriesPerSector]; },
      [&](std::uint32_t s) { return satTable_[s] == kFatSectorMark || satTable_[s] == kDifatSectorMark; },
      [&](std::uint32_t s) { return IsLikeSpecial(0xFF, satTable_[s]); },
      [&](std::uint32_t s, std::uint32_t& next, bool& ended) {
        std::uint8_t stop = 0;
        const bool linked = ChainLink(s, next, stop);
        ended = !linked && stop == kStopEndMark;
        return linked;
      },
      false};
  const int changed = TakeChainsThroughLostLinks(table, known, miniPath, state_.run);
  if (changed <= 0) return false;
  state_.log().WriteFormat("Lost SAT parts: %i links set from the chains the directory names", changed);
  ForgetWalks();
  return true;
}

int CSat::MendLostMiniRuns(const std::vector<KnownChain>& known) {
  const auto count = static_cast<std::uint32_t>(
      std::min<std::size_t>(miniSatTable_.size(), miniStream_.size() / kMiniSectorSize));
  if (std::find(miniGuessed_.begin(), miniGuessed_.end(), 1) == miniGuessed_.end() || count == 0) return 0;
  std::vector<KnownChain> fitting;
  for (const KnownChain& c : known)
    if (c.sectors <= count) fitting.push_back(c);
  LostLinks table{
      miniSatTable_,
      count,
      [&](std::uint32_t m) { return MiniLinkGuessed(m); },
      [](std::uint32_t) { return false; },
      [&](std::uint32_t m) { return miniSatTable_[m] == kFreeSector; },
      [&](std::uint32_t m, std::uint32_t& next, bool& ended) {
        next = miniSatTable_[m];
        ended = next == kEndOfChain;
        return next < count;
      },
      true};
  const int changed = TakeChainsThroughLostLinks(table, fitting, {}, state_.run);
  if (changed <= 0) return 0;
  state_.log().WriteFormat("Lost miniSAT links: %i set from the chains the directory names", changed);
  ForgetMiniWalks();
  return changed;
}

}  // namespace salvage

namespace salvage {

std::vector<std::uint32_t> CSat::MiniSatPastLostLinks(std::uint64_t miniStreamBytes) const {
  const std::uint64_t miniSectors = (miniStreamBytes + kMiniSectorSize - 1) / kMiniSectorSize;
  const std::uint64_t needParts = (miniSectors + kEntriesPerSector - 1) / kEntriesPerSector;
  const std::uint32_t count = ChainNodes(BigTable());
  const std::uint32_t start = headerMiniSatStart_;
  if (needParts < 2 || start >= count) return {};
  // A sector that reads as a part of a mini SAT: only links within the mini
  // stream (to its first mini sector once at most), ends of chains and free
  // entries, one of these at least.
  auto readsAsPart = [&](std::uint32_t sector) {
    const auto bytes = image_.Sub(OffsetOfSector(sector), kSectorSize);
    if (!bytes) return false;
    int zeros = 0, marks = 0;
    for (const std::uint32_t v : bytes->Words<kEntriesPerSector>()) {
      if (!IsMiniTableValue(v, miniSectors)) return false;
      zeros += v == 0;
      marks += v == kEndOfChain || v == kFreeSector;
    }
    return zeros <= 1 && marks > 0;
  };
  std::vector<std::uint32_t> path{start};
  std::unordered_set<std::uint32_t> seen{start};
  // The one chain that no sound link leads to, of just the parts still
  // missing, each reading as a part, that ends where the table ends it or
  // where its link was lost; none when there are more.
  std::optional<std::vector<std::uint8_t>> linked;
  auto soundTail = [&](std::uint64_t missing) {
    if (!linked) linked = LinkedFromSoundParts();
    std::vector<std::uint32_t> found;
    // Each sector is walked once: walks that meet are no chains of their own.
    std::vector<std::uint8_t> walked(count, 0);
    int matches = 0;
    for (std::uint32_t s = 0; s < count && matches < 2; ++s) {
      if ((*linked)[s] || IsTableSector(s) || seen.count(s) || walked[s] || !readsAsPart(s)) continue;
      walked[s] = 1;
      std::vector<std::uint32_t> tail{s};
      std::uint32_t cur = s, next = 0;
      bool met = false;
      while (tail.size() < missing && !LinkLost(cur) && NextSector(cur, next) && !seen.count(next) && readsAsPart(next)) {
        if ((met = walked[next] != 0)) break;
        walked[next] = 1;
        tail.push_back(next);
        cur = next;
      }
      if (met || tail.size() != missing || (!LinkLost(cur) && satTable_[cur] != kEndOfChain)) continue;
      ++matches;
      found = std::move(tail);
    }
    return matches == 1 ? found : std::vector<std::uint32_t>{};
  };
  // Past a lost link, the sector that reads best as the next part (the
  // runs of mini sectors it links placing it), wherever it lies; failing
  // that (a last part maps few mini sectors), the unlinked tail that reads
  // as the parts still missing.
  std::optional<std::unordered_map<std::uint32_t, std::uint32_t>> byVotes;
  bool lostLink = false;
  for (std::uint64_t k = 1; k < needParts; ++k) {
    const std::uint32_t prev = path.back();
    std::uint32_t next = 0;
    if (LinkLost(prev)) {
      lostLink = true;
      if (!byVotes) byVotes = MiniPartsByVotes(miniSectors, false);
      auto it = byVotes->find(static_cast<std::uint32_t>(k));
      if (it != byVotes->end()) {
        next = it->second;
      } else {
        const std::vector<std::uint32_t> tail = soundTail(needParts - k);
        if (tail.empty()) return {};
        for (std::uint32_t t : tail) {
          seen.insert(t);
          path.push_back(t);
        }
        break;
      }
    } else if (!NextSector(prev, next)) {
      return {};
    }
    if (next >= count || IsTableSector(next) || !seen.insert(next).second) return {};
    path.push_back(next);
  }
  return lostLink ? path : std::vector<std::uint32_t>{};
}

bool CSat::LinkLost(std::uint32_t sector) const {
  const std::size_t part = sector / kEntriesPerSector;
  return sector < satTable_.size() && part < lostParts_.size() && lostParts_[part] != 0;
}

bool CSat::NextSector(std::uint32_t sector, std::uint32_t& next) const {
  if (sector >= ChainNodes(BigTable())) return false;
  std::uint8_t stop = 0;
  return ChainLink(sector, next, stop);
}

std::vector<std::uint8_t> CSat::LinkedFromSoundParts() const {
  const std::uint32_t count = ChainNodes(BigTable());
  std::vector<std::uint8_t> linked(count, 0);
  for (std::uint32_t s = 0; s < count; ++s) {
    std::uint32_t next = 0;
    if (!LinkLost(s) && NextSector(s, next) && next < count) linked[next] = 1;
  }
  return linked;
}

bool CSat::IsTableSector(std::uint32_t sector) const {
  return sector < satTable_.size() && (satTable_[sector] == kFatSectorMark || satTable_[sector] == kDifatSectorMark);
}

}  // namespace salvage
