// The directory's chain where a lost SAT part held some of its links, or a
// damaged table entry sends it astray. Its
// sectors are known by what they hold (four entries each), and their order
// by the entries themselves: entry n lies in the chain's sector n / 4, so
// the ids that the entries read so far name say which entries the next
// sector must hold, and which it must not.
#include <algorithm>
#include <array>
#include <optional>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "base/Logger.h"
#include "salvage/Layout.h"
#include "salvage/Root.h"

namespace salvage {
namespace {

// One entry as the chain weighs it: a storage or stream in use, with the
// ids it names; a free entry names none.
struct EntryShape {
  bool used = false;
  std::array<std::uint32_t, 3> names{kNoEntry, kNoEntry, kNoEntry};
  std::uint32_t start = 0;
  std::uint32_t size = 0;
};
using SectorShape = std::array<EntryShape, kDirEntriesPerSector>;

// How many sectors of a candidate's own sound links are read with it.
constexpr std::uint32_t kLookAhead = 8;
// How many candidates a lost link weighs: the next sector, then the
// nearest after it in the file (wrapping round).
constexpr std::size_t kCandidatesWeighed = 16;

class SectorReader {
 public:
  SectorReader(const ImageView& image, std::int64_t imageSize, const FileBounds& bounds)
      : image_(image),
        imageSize_(imageSize),
        maxSector_(static_cast<std::uint32_t>(std::max<std::int32_t>(bounds.maxSector, 0))),
        maxMiniSector_(bounds.maxMiniSector),
        maxEntries_((std::uint64_t{maxSector_} + 1) * kDirEntriesPerSector) {}

  // The entries of sector into shape (an entry that reads as none is free);
  // true when every entry reads as a free entry, a storage or a stream
  // (the root too when rootAllowed, in the first slot) and one at least is
  // in use.
  bool Read(std::uint32_t sector, bool rootAllowed, SectorShape& shape) const {
    bool allEntries = true, anyUsed = false;
    for (std::uint32_t i = 0; i < kDirEntriesPerSector; ++i) {
      shape[i] = EntryShape{};
      const std::uint64_t at = (std::uint64_t{sector} + 1) * kSectorSize + i * kDirEntrySize;
      const int kind = ReadEntry(at, rootAllowed && i == 0, shape[i]);
      allEntries &= kind >= 0;
      anyUsed |= kind > 0;
    }
    return allEntries && anyUsed;
  }

  // Whether every entry of sector is free as a writer leaves one: no type,
  // no name and linked to none (its old size may stay).
  bool AllFree(std::uint32_t sector) const {
    for (std::uint32_t i = 0; i < kDirEntriesPerSector; ++i) {
      const std::uint64_t at = (std::uint64_t{sector} + 1) * kSectorSize + i * kDirEntrySize;
      if (image_.U8(at + kDirType) != kTypeUnused || image_.U16(at + kDirNameLength) != 0 ||
          image_.U32(at + kDirLeftSibling) != kNoEntry || image_.U32(at + kDirRightSibling) != kNoEntry ||
          image_.U32(at + kDirChild) != kNoEntry)
        return false;
    }
    return true;
  }

  // Whether sector holds entries still, though some may be damaged: two of
  // its four read as entries in use, or as free entries as a writer leaves
  // them (linked to none; zeroed bytes are no entry).
  bool Likely(std::uint32_t sector) const {
    int entries = 0;
    for (std::uint32_t i = 0; i < kDirEntriesPerSector; ++i) {
      EntryShape e;
      const std::uint64_t at = (std::uint64_t{sector} + 1) * kSectorSize + i * kDirEntrySize;
      const int kind = ReadEntry(at, false, e);
      entries += kind > 0 || (kind == 0 && image_.U32(at + kDirLeftSibling) == kNoEntry &&
                              image_.U32(at + kDirRightSibling) == kNoEntry && image_.U32(at + kDirChild) == kNoEntry);
    }
    return entries >= 2;
  }

 private:
  // 1: an entry in use, 0: a free entry, -1: not an entry.
  int ReadEntry(std::uint64_t at, bool rootAllowed, EntryShape& e) const {
    const std::uint8_t type = image_.U8(at + kDirType);
    const std::uint16_t nameLength = image_.U16(at + kDirNameLength);
    if (type == kTypeUnused) return nameLength == 0 ? 0 : -1;
    if (type != kTypeStorage && type != kTypeStream && !(type == kTypeRoot && rootAllowed)) return -1;
    if (image_.U8(at + kDirColor) > 1) return -1;
    // The name: as many units as its length says, the last its terminator.
    if (nameLength < 4 || nameLength > 2 * kDirNameUnits || nameLength % 2 != 0) return -1;
    const std::uint32_t units = nameLength / 2u;
    for (std::uint32_t u = 0; u + 1 < units; ++u)
      if (image_.U16(at + kDirName + 2 * u) == 0) return -1;
    if (image_.U16(at + kDirName + 2 * (units - 1)) != 0) return -1;
    const std::uint32_t fields[3] = {kDirLeftSibling, kDirRightSibling, kDirChild};
    for (std::size_t f = 0; f < 3; ++f) {
      const std::uint32_t id = image_.U32(at + fields[f]);
      if (id != kNoEntry && id >= maxEntries_) return -1;
      e.names[f] = id;
    }
    e.start = image_.U32(at + kDirStartSector);
    e.size = image_.U32(at + kDirSizeLow);
    if (type == kTypeStream) {
      if (e.names[2] != kNoEntry || e.size > imageSize_) return -1;
      if (e.size >= kMiniStreamCutoff ? e.start > maxSector_ : e.size > 0 && e.start > maxMiniSector_) return -1;
    }
    e.used = true;
    return 1;
  }

  const ImageView& image_;
  std::int64_t imageSize_;
  std::uint32_t maxSector_;
  std::uint32_t maxMiniSector_;
  std::uint64_t maxEntries_;
};

}  // namespace

bool CRoot::RebuildDirectoryChain(std::uint32_t first, Chain& chain) {
  if (!sat_ || state_.bounds.maxSector < 0) return false;
  const auto sectorCount = static_cast<std::uint32_t>(state_.bounds.maxSector) + 1;
  if (first >= sectorCount) return false;
  const SectorReader reader(image_, imageSize_, state_.bounds);
  chain = Chain{};

  // The entries placed so far (entry n at n), which entry names each id,
  // and the highest id named.
  std::vector<EntryShape> placed;
  std::unordered_map<std::uint32_t, std::uint32_t> namedBy;
  std::int64_t highestNamed = -1;
  std::unordered_set<std::uint32_t> inChain, streamStarts;
  std::set<std::pair<std::uint32_t, std::uint32_t>> placedStreams;
  // Whether a sector of the chain lost its entries (it reads as none).
  bool entriesLost = false;
  // Per entry placed: its sector was zeroed, so what it was is unknown
  // (an entry after it may still name it), unlike a free entry.
  std::vector<std::uint8_t> placedZeroed;
  // Whether the sector lies whole in the file and holds only zeros.
  auto Zeroed = [&](std::uint32_t sector) {
    const std::uint64_t at = (std::uint64_t{sector} + 1) * kSectorSize;
    for (std::uint32_t i = 0; i < kSectorSize; i += 4)
      if (image_.U32(at + i) != 0) return false;
    return static_cast<std::int64_t>(at + kSectorSize) <= imageSize_;
  };
  auto place = [&](std::uint32_t sector, const SectorShape& shape) {
    entriesLost |= std::none_of(shape.begin(), shape.end(), [](const EntryShape& e) { return e.used; });
    const bool zeroed = Zeroed(sector);
    for (const EntryShape& e : shape) {
      const auto id = static_cast<std::uint32_t>(placed.size());
      placed.push_back(e);
      placedZeroed.push_back(zeroed);
      if (!e.used) continue;
      if (e.size > 0) placedStreams.insert({e.start, e.size});
      for (std::uint32_t n : e.names) {
        if (n == kNoEntry) continue;
        namedBy.emplace(n, id);
        highestNamed = std::max<std::int64_t>(highestNamed, n);
      }
      if (e.size >= kMiniStreamCutoff) streamStarts.insert(e.start);
    }
    inChain.insert(sector);
    chain.sectors.push_back(sector);
  };

  // Whether shape fits at chain position p: every entry the earlier ones
  // name is in use there, and its own entries name only entries in use (or
  // lost with a zeroed sector) that no other entry names. evidence counts
  // the earlier entries' names that land on it.
  auto fits = [&](const SectorShape& shape, std::uint64_t p, int& evidence) {
    const std::uint64_t base = p * kDirEntriesPerSector;
    for (std::uint32_t i = 0; i < kDirEntriesPerSector; ++i) {
      if (base + i > 0xFFFFFFFEu || !namedBy.count(static_cast<std::uint32_t>(base + i))) continue;
      if (!shape[i].used) return false;
      ++evidence;
    }
    std::uint32_t own[3 * kDirEntriesPerSector];
    std::size_t owned = 0;
    for (std::uint32_t i = 0; i < kDirEntriesPerSector; ++i) {
      if (!shape[i].used) continue;
      for (std::uint32_t n : shape[i].names) {
        if (n == kNoEntry) continue;
        if (n == 0 || n == base + i || namedBy.count(n)) return false;
        for (std::size_t k = 0; k < owned; ++k)
          if (own[k] == n) return false;
        if (n < base && !placed[n].used && !placedZeroed[n]) return false;
        if (n >= base && n < base + kDirEntriesPerSector && !shape[n - base].used) return false;
        own[owned++] = n;
      }
    }
    return true;
  };

  // The sectors a lost link may go on at: those reading as directory
  // entries that no sound link leads to and that are no table's own.
  // Those whose entries are all free (a directory keeps the entries of
  // streams deleted long ago, whole sectors of them) may go on with the
  // chain only right after the sector before them.
  std::set<std::uint32_t> candidates;
  std::unordered_set<std::uint32_t> freeSectors;
  bool candidatesKnown = false;
  auto collectCandidates = [&] {
    candidatesKnown = true;
    const std::vector<std::uint8_t> linked = sat_->LinkedFromSoundParts();
    SectorShape shape;
    for (std::uint32_t s = 0; s < sectorCount; ++s) {
      if (state_.run.Cancelled()) return;
      if ((s < linked.size() && linked[s]) || sat_->IsTableSector(s) || inChain.count(s)) continue;
      if (reader.Read(s, false, shape)) candidates.insert(s);
      else if (sat_->LinkLost(s) && reader.AllFree(s)) freeSectors.insert(s);
    }
  };

  // Whether candidate c fits at position p, with its own sound links read
  // ahead as the positions after it; the evidence of all of them.
  auto weigh = [&](std::uint32_t c, std::uint64_t p, int& evidence) {
    if (streamStarts.count(c)) return false;
    SectorShape shape;
    reader.Read(c, false, shape);
    if (!fits(shape, p, evidence)) return false;
    std::uint32_t cur = c;
    for (std::uint32_t k = 1; k <= kLookAhead; ++k) {
      std::uint32_t next = 0;
      if (sat_->LinkLost(cur) || !sat_->NextSector(cur, next) || next == c || inChain.count(next)) break;
      reader.Read(next, false, shape);
      const std::uint64_t base = (p + k) * kDirEntriesPerSector;
      for (std::uint32_t i = 0; i < kDirEntriesPerSector; ++i) {
        if (base + i > 0xFFFFFFFEu || !namedBy.count(static_cast<std::uint32_t>(base + i))) continue;
        if (!shape[i].used) return false;
        ++evidence;
      }
      cur = next;
    }
    return true;
  };

  // A zeroed sector holds a directory sector's place when the chain goes
  // on from it, past further zeroed ones, to a directory sector or to its
  // end; a chain of zeroed sectors that runs into other bytes is some
  // stream's, where a damaged link led.
  auto ZeroedInChain = [&](std::uint32_t sector) {
    const std::vector<std::uint32_t>& table = sat_->SatTable();
    std::uint32_t at = sector;
    for (std::uint32_t k = 0; k <= kLookAhead; ++k) {
      if (!Zeroed(at)) return reader.Likely(at) && !inChain.count(at);
      if (at < table.size() && table[at] == kEndOfChain) return true;
      std::uint32_t next = 0;
      if (sat_->LinkLost(at) || !sat_->NextSector(at, next) || next >= sectorCount || next == sector) return false;
      at = next;
    }
    return false;
  };

  // Whether sector's streams start where a placed stream of the same size
  // starts.
  auto repeatsStreams = [&](std::uint32_t sector) {
    SectorShape read;
    reader.Read(sector, false, read);
    for (const EntryShape& e : read)
      if (e.used && e.size > 0 && placedStreams.count({e.start, e.size})) return true;
    return false;
  };

  SectorShape shape;
  reader.Read(first, true, shape);
  place(first, shape);
  bool metLost = false;
  int chosen = 0;
  std::uint32_t cur = first;
  for (std::uint32_t step = 0; step < sectorCount && !state_.run.Cancelled(); ++step) {
    // Entries named that the chain has not reached yet.
    const bool lacking = highestNamed >= static_cast<std::int64_t>(placed.size());
    if (!sat_->LinkLost(cur)) {
      const std::vector<std::uint32_t>& table = sat_->SatTable();
      if (cur < table.size() && table[cur] == kEndOfChain) break;
      std::uint32_t next = 0;
      const bool linked = sat_->NextSector(cur, next) && next < sectorCount && !inChain.count(next);
      // A link is followed unless the directory still lacks entries and
      // it leads nowhere, back into the chain, or to a sector that holds
      // no entries and was not zeroed: then the table's entry was damaged,
      // and the chain goes on as after a lost link.
      if (linked && (!lacking || reader.Likely(next) || ZeroedInChain(next))) {
        reader.Read(next, false, shape);
        place(next, shape);
        candidates.erase(next);
        cur = next;
        continue;
      }
      if (!lacking) break;
      // A sector past the table's end has no entry: it reads as free.
      const std::uint32_t link = linked ? next : cur < table.size() ? table[cur] : kFreeSector;
      state_.log().WriteFormat("Directory sector %i links to %i, which holds none of the entries the directory lacks",
                               static_cast<int>(cur), static_cast<int>(link));
    }
    metLost = true;
    if (!candidatesKnown) collectCandidates();
    const std::uint64_t p = chain.sectors.size();
    // Every entry named is in place: the directory is whole, unless the
    // entries that would have named the rest were lost with a sector of the
    // chain. Then the next sector goes on with it when its own table entry
    // was lost too (a sound table would say whether it is free), it reads
    // as entries that fit here, and they repeat no stream already placed
    // (as an old copy of the directory left in the file would).
    std::optional<std::uint32_t> pick;
    if (!lacking) {
      int evidence = 0;
      const std::uint32_t next = cur + 1;
      if (!entriesLost || !candidates.count(next) || !sat_->LinkLost(next) || !weigh(next, p, evidence) ||
          repeatsStreams(next))
        break;
      state_.log().WriteFormat("Directory sector %i taken after sector %i, past entries lost with the chain: no entry names it",
                               static_cast<int>(next), static_cast<int>(cur));
      pick = next;
    } else {
      std::vector<std::uint32_t> order;
      if (candidates.count(cur + 1) || freeSectors.count(cur + 1)) order.push_back(cur + 1);
      auto it = candidates.upper_bound(cur);
      for (std::size_t seen = 0; seen < candidates.size() && order.size() < kCandidatesWeighed; ++seen, ++it) {
        if (it == candidates.end()) it = candidates.begin();
        if (*it != cur + 1) order.push_back(*it);
      }
      for (std::uint32_t c : order) {
        int evidence = 0;
        if (!weigh(c, p, evidence)) continue;
        // A sector further away needs an earlier entry to name one of its
        // own; or, as a directory's sectors follow each other upwards in
        // the file, to be the nearest after this one whose own table entry
        // was lost too, and to repeat no stream already placed.
        if (c != cur + 1 && evidence == 0 && !(c > cur && sat_->LinkLost(c) && !repeatsStreams(c))) continue;
        pick = c;
        break;
      }
      if (!pick) {
        state_.log().WriteFormat("Directory chain ends at sector %i: no unlinked sector holds the entries it lacks",
                                 static_cast<int>(cur));
        break;
      }
      if (*pick != cur + 1)
        state_.log().WriteFormat("Directory sector %i taken after sector %i by the entries it holds",
                                 static_cast<int>(*pick), static_cast<int>(cur));
    }
    reader.Read(*pick, false, shape);
    place(*pick, shape);
    candidates.erase(*pick);
    freeSectors.erase(*pick);
    ++chosen;
    cur = *pick;
  }
  if (!metLost) return false;
  chain.length = chain.sectors.size();
  chain.chainEnded = true;
  state_.log().WriteFormat("Directory chain rebuilt past a lost or unsound link: %i sectors, %i of them found by their entries",
                           static_cast<int>(chain.sectors.size()), chosen);
  return true;
}

}  // namespace salvage
