#include "salvage/SectorSwaps.h"

#include <algorithm>
#include <optional>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

#include "base/Logger.h"
#include "salvage/Layout.h"
#include "salvage/LostStreams.h"
#include "salvage/Root.h"
#include "salvage/SalvageState.h"
#include "salvage/Sat.h"

namespace salvage {
namespace {

// Values compared in all; damage that leaves more to compare is left as it is.
constexpr std::size_t kMaxComparisons = std::size_t{1} << 24;
// Sectors that hold a value looked up by; a value more of them hold decides nothing.
constexpr std::size_t kMaxHolders = 1024;

std::uint64_t Key(std::uint32_t offset, std::uint32_t value) { return (std::uint64_t{offset} << 32) | value; }

// Bytes in which two values differ.
int BytesApart(std::uint32_t x, std::uint32_t y) {
  int n = 0;
  for (std::uint32_t d = x ^ y; d != 0; d >>= 8) n += (d & 0xFF) != 0;
  return n;
}

}  // namespace

std::vector<SectorSwap> FindSwappedSectors(ImageView image, const std::vector<SectorPlace>& inUse,
                                           std::vector<SectorHead> heads) {
  std::vector<SectorSwap> swaps;
  std::unordered_map<std::uint32_t, std::uint64_t> offsetOf;
  offsetOf.reserve(inUse.size());
  for (const SectorPlace& p : inUse) offsetOf.emplace(p.sector, p.offset);
  std::erase_if(heads, [&](const SectorHead& h) { return h.offset > kSectorSize - 4 || !offsetOf.count(h.sector); });
  if (heads.empty()) return swaps;
  auto order = [](const SectorHead& x, const SectorHead& y) {
    return std::tie(x.sector, x.offset, x.value) < std::tie(y.sector, y.offset, y.value);
  };
  std::sort(heads.begin(), heads.end(), order);
  heads.erase(std::unique(heads.begin(), heads.end(),
                          [](const SectorHead& x, const SectorHead& y) {
                            return x.sector == y.sector && x.offset == y.offset && x.value == y.value;
                          }),
              heads.end());

  // Each sector's heads, as a range of the sorted list.
  std::unordered_map<std::uint32_t, std::pair<std::size_t, std::size_t>> headsOf;
  for (std::size_t i = 0; i < heads.size(); ++i) {
    auto [at, fresh] = headsOf.try_emplace(heads[i].sector, i, i + 1);
    if (!fresh) at->second.second = i + 1;
  }
  auto valueAt = [&](std::uint64_t offset, const SectorHead& h) { return image.U32(offset + h.offset); };
  // Whether the bytes at offset would make every head of sector hold.
  auto holds = [&](std::uint32_t sector, std::uint64_t offset) {
    const auto found = headsOf.find(sector);
    if (found == headsOf.end()) return true;
    for (std::size_t i = found->second.first; i < found->second.second; ++i)
      if (valueAt(offset, heads[i]) != heads[i].value) return false;
    return true;
  };
  auto zero = [&](std::uint64_t offset) {
    for (std::uint64_t at = 0; at < kSectorSize; at += 4)
      if (image.U32(offset + at) != 0) return false;
    return true;
  };
  // A sector whose bytes traded places fails most of its heads, and not
  // only by a byte each: one that holds as many as it fails, or whose
  // failing heads each differ in one byte, was changed in place; one in a
  // run of zeroed sectors lost its bytes (a sector of zeros alone may be
  // another stream's).
  auto traded = [&](std::uint32_t sector) {
    const std::uint64_t offset = offsetOf[sector];
    if (zero(offset) && (offset < kSectorSize || zero(offset - kSectorSize) || zero(offset + kSectorSize)))
      return false;
    const auto [first, last] = headsOf[sector];
    std::size_t fail = 0, held = 0, near = 0;
    for (std::size_t i = first; i < last; ++i) {
      const std::uint32_t value = valueAt(offset, heads[i]);
      if (value == heads[i].value)
        ++held;
      else
        ++fail, near += BytesApart(value, heads[i].value) < 2;
    }
    return fail > held && near < fail;
  };
  // The head a sector's own bytes fail that candidates are looked up by:
  // the one of the largest value, which fewer sectors hold by chance
  // (none: the heads' count).
  auto lacking = [&](std::uint32_t sector) {
    const std::uint64_t offset = offsetOf[sector];
    const auto [first, last] = headsOf[sector];
    std::size_t pick = heads.size();
    for (std::size_t i = first; i < last; ++i)
      if (valueAt(offset, heads[i]) != heads[i].value && (pick == heads.size() || heads[i].value > heads[pick].value))
        pick = i;
    return pick;
  };

  // The sectors that may have traded: one head fails, and not by other damage.
  std::vector<std::uint32_t> failing;
  for (std::size_t i = 0; i < heads.size(); ++i) {
    const std::uint32_t s = heads[i].sector;
    if ((i == 0 || heads[i - 1].sector != s) && !holds(s, offsetOf[s]) && traded(s)) failing.push_back(s);
  }
  if (failing.empty()) return swaps;
  // The sectors in use that hold the head each is looked up by, by the
  // head's place and value: only those places are looked at.
  std::unordered_set<std::uint64_t> keys;
  std::vector<std::uint32_t> places;
  for (std::uint32_t s : failing) {
    const SectorHead& h = heads[lacking(s)];  // a failing sector has one
    keys.insert(Key(h.offset, h.value));
    places.push_back(h.offset);
  }
  std::sort(places.begin(), places.end());
  places.erase(std::unique(places.begin(), places.end()), places.end());
  std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> holders;
  for (const SectorPlace& p : inUse)
    for (std::uint32_t at : places)
      if (const std::uint64_t key = Key(at, image.U32(p.offset + at)); keys.count(key)) {
        std::vector<std::uint32_t>& list = holders[key];
        if (list.size() <= kMaxHolders) list.push_back(p.sector);
      }

  // Values compared in all, bounded.
  std::size_t comparisons = 0;
  auto count = [&](std::uint32_t sector) {
    const auto found = headsOf.find(sector);
    return found == headsOf.end() ? std::size_t{0} : found->second.second - found->second.first;
  };
  // The sectors whose bytes would make sector's heads hold and that hold
  // its bytes' heads in turn: up to two, enough to tell one from several.
  // False once the comparisons run out.
  auto partners = [&](std::uint32_t sector, std::vector<std::uint32_t>& out) {
    out.clear();
    const std::uint64_t offset = offsetOf[sector];
    const std::size_t pick = lacking(sector);
    if (pick >= heads.size()) return true;
    const SectorHead& h = heads[pick];
    const auto found = holders.find(Key(h.offset, h.value));
    if (found == holders.end() || found->second.size() > kMaxHolders) return true;
    for (std::uint32_t other : found->second) {
      comparisons += 2 + count(sector) + count(other);
      if (comparisons > kMaxComparisons) return false;
      if (other == sector || !holds(sector, offsetOf[other]) || !holds(other, offset)) continue;
      out.push_back(other);
      if (out.size() > 1) break;
    }
    return true;
  };

  std::unordered_set<std::uint32_t> paired;
  std::vector<std::uint32_t> found, back;
  for (std::uint32_t a : failing) {
    if (paired.count(a)) continue;
    if (!partners(a, found)) break;
    if (found.size() != 1 || paired.count(found.front())) continue;
    const std::uint32_t b = found.front();
    // A partner whose own heads fail must have this sector as its one partner too.
    if (!holds(b, offsetOf[b])) {
      if (!traded(b)) continue;
      if (!partners(b, back)) break;
      if (back.size() != 1 || back.front() != a) continue;
    }
    swaps.push_back({a, b});
    paired.insert(a);
    paired.insert(b);
  }
  return swaps;
}

int MendSwappedSectors(CRoot& root, CSat& sat, std::span<std::uint8_t> image, bool linksSure, SalvageState& state) {
  const ImageView view(image.data(), image.size());
  const DirItem* rootItem = nullptr;
  for (std::uint32_t n = 0; n < root.EntryCount() && !rootItem; ++n)
    if (const DirItem* item = root.GetEntry(n); item && item->Type() == kTypeRoot) rootItem = item;
  Chain mini;
  if (rootItem && rootItem->Size() > 0)
    sat.FollowChain(rootItem->Start(), mini, (rootItem->Size() + kSectorSize - 1) / kSectorSize);
  // The mini stream's sectors are where its chain puts them only as far
  // as no link of that chain was a guess through a lost SAT part.
  std::size_t sure = mini.sectors.size();
  for (std::size_t k = 0; k + 1 < mini.sectors.size(); ++k)
    if (sat.LinkLost(mini.sectors[k])) {
      sure = k + 1;
      break;
    }
  // A stream's chain (its first sector, or the whole of it), when it is as
  // long as its size needs: a damaged size may send its start into the
  // other table. Whole chains come from a budget of as many sectors as the
  // tables map, however many entries share one.
  std::uint64_t budget = sat.SatTable().size() + sat.MiniSatTable().size();
  auto chainOf = [&](const DirItem& item, Chain& own, bool whole) {
    const bool big = item.Size() >= kMiniStreamCutoff;
    const std::uint32_t unit = big ? kSectorSize : kMiniSectorSize;
    const std::uint64_t needed = (std::uint64_t{item.Size()} + unit - 1) / unit;
    if (whole && needed > budget) return false;
    const std::size_t limit = whole ? static_cast<std::size_t>(needed) : 1;
    if (big)
      sat.FollowChain(item.Start(), own, limit);
    else
      sat.FollowMiniChain(item.Start(), own, limit);
    if (whole) budget -= needed;
    return needed > 0 && own.length == needed && own.sectors.size() == limit && (!big || own.chainEnded);
  };
  // Where byte at of a stream lies: a sector and an offset into it, for a
  // u32 that does not cross its piece's end.
  auto place = [&](const DirItem& item, const Chain& own, std::uint64_t at) -> std::optional<SectorHead> {
    const bool big = item.Size() >= kMiniStreamCutoff;
    const std::uint32_t unit = big ? kSectorSize : kMiniSectorSize;
    const std::uint64_t piece = at / unit;
    const auto within = static_cast<std::uint32_t>(at % unit);
    if (within + 4 > unit || piece >= own.sectors.size()) return std::nullopt;
    if (big) return SectorHead{own.sectors[piece], within, 0};
    const std::uint32_t m = own.sectors[piece];
    const std::uint64_t at8 = m / (kSectorSize / kMiniSectorSize);
    if (at8 >= sure) return std::nullopt;
    return SectorHead{mini.sectors[at8], (m % (kSectorSize / kMiniSectorSize)) * kMiniSectorSize + within, 0};
  };
  // A stream's bytes before it is read (its whole chain, as chainOf read it).
  auto bytesOf = [&](const DirItem& item, const Chain& own) {
    const bool mini = item.Size() < kMiniStreamCutoff;
    Bytes out(own.sectors.size() * (mini ? kMiniSectorSize : kSectorSize));
    if (!sat.CopySectors(own.sectors, mini, out.data())) return Bytes();
    out.resize(item.Size());
    return out;
  };

  std::vector<SectorHead> heads;
  std::vector<std::uint8_t> seen(root.EntryCount(), 0);
  std::vector<std::uint32_t> children;
  Chain own, dataChain;
  for (std::uint32_t n = 0; n < root.EntryCount(); ++n) {
    const DirItem* storage = root.GetEntry(n);
    if (!storage || storage->lost || (storage->Type() != kTypeStorage && storage->Type() != kTypeRoot)) continue;
    children.clear();
    root.CollectSiblings(storage->Child(), seen, children);
    const DirItem* varMeta = nullptr;
    const DirItem* var2Data = nullptr;
    for (std::uint32_t c : children) {
      const DirItem& item = *root.GetEntry(c);
      const std::u16string& name = item.Name();
      if (item.Type() != kTypeStream || item.Size() < 4) continue;
      if (name == u"Var2Data" && !var2Data) var2Data = &item;
      if (name != u"FixedMeta" && name != u"VarMeta" && name != u"Fixed2Meta") continue;
      if (name == u"VarMeta" && !varMeta) varMeta = &item;
      if (!chainOf(item, own, false)) continue;
      if (auto h = place(item, own, 0)) heads.push_back({h->sector, h->offset, kTableMetaMagic});
    }
    // Each Var2Data value is a u32 length and that many bytes, up to the
    // next value (or the stream's end).
    if (!linksSure || !varMeta || !var2Data || !chainOf(*varMeta, own, true) || !chainOf(*var2Data, dataChain, true))
      continue;
    const Bytes meta = bytesOf(*varMeta, own);
    const platform::ByteView metaView(meta.data(), meta.size());
    const std::uint32_t size = var2Data->Size();
    if (DataSizeTold(u"VarMeta", metaView) != size) continue;
    const std::vector<std::uint32_t> positions = VarMetaPositions(metaView);
    for (std::size_t i = 0; i < positions.size() && std::uint64_t{positions[i]} + 4 <= size; ++i) {
      const std::uint32_t next = i + 1 < positions.size() ? std::min(positions[i + 1], size) : size;
      if (auto h = place(*var2Data, dataChain, positions[i]); h && next >= positions[i] + 4)
        heads.push_back({h->sector, h->offset, next - positions[i] - 4});
    }
  }
  if (heads.empty()) return 0;

  // 1: the directory's and the mini SAT's sectors; 2: the mini stream's.
  std::vector<std::uint8_t> role(sat.SatTable().size(), 0);
  for (std::uint32_t s : root.RootChain().sectors)
    if (s < role.size()) role[s] = 1;
  for (std::uint32_t s : sat.MiniSatList())
    if (s < role.size()) role[s] = 1;
  for (std::uint32_t s : mini.sectors)
    if (s < role.size() && role[s] == 0) role[s] = 2;
  std::vector<SectorPlace> inUse;
  for (std::uint32_t s = 0; s < sat.SatTable().size(); ++s) {
    const std::uint32_t link = sat.SatTable()[s];
    if (role[s] == 1 || sat.IsTableSector(s) || (link > platform::cfb::kMaxRegularSector && link != kEndOfChain))
      continue;
    if (const auto offset = sat.GetOffsBySector(s)) inUse.push_back({s, *offset});
  }
  const std::vector<SectorSwap> swaps = FindSwappedSectors(view, inUse, std::move(heads));
  bool miniStreamMoved = false;
  int swapped = 0;
  for (const SectorSwap& swap : swaps) {
    const auto a = sat.GetOffsBySector(swap.a), b = sat.GetOffsBySector(swap.b);
    if (!a || !b || *a + kSectorSize > image.size() || *b + kSectorSize > image.size()) continue;
    std::swap_ranges(image.begin() + static_cast<std::ptrdiff_t>(*a),
                     image.begin() + static_cast<std::ptrdiff_t>(*a + kSectorSize),
                     image.begin() + static_cast<std::ptrdiff_t>(*b));
    state.log().WriteFormat(
        "Sectors %u and %u hold each other's bytes (the values the table streams must hold there are found only so): "
        "swapped back",
        swap.a, swap.b);
    ++state.stats.damagedElements;
    ++swapped;
    miniStreamMoved |= role[swap.a] == 2 || role[swap.b] == 2;
  }
  if (miniStreamMoved) sat.SetMiniSatLoc(rootItem->Start(), rootItem->Size());
  return swapped;
}

}  // namespace salvage
