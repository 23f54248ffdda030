#include "salvage/SectorSwaps.h"

#include <algorithm>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

#include "salvage/Layout.h"

namespace salvage {
namespace {

constexpr std::uint32_t kSlots = kSectorSize / kMiniSectorSize;
// Sectors compared in all; damage that leaves more to compare is left as it is.
constexpr std::size_t kMaxComparisons = std::size_t{1} << 22;

std::uint64_t Key(std::uint32_t slot, std::uint32_t value) { return (std::uint64_t{slot} << 32) | value; }

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
  std::erase_if(heads, [&](const SectorHead& h) { return h.slot >= kSlots || !offsetOf.count(h.sector); });
  if (heads.empty()) return swaps;
  auto order = [](const SectorHead& x, const SectorHead& y) {
    return std::tie(x.sector, x.slot, x.value) < std::tie(y.sector, y.slot, y.value);
  };
  std::sort(heads.begin(), heads.end(), order);
  heads.erase(std::unique(heads.begin(), heads.end(),
                          [](const SectorHead& x, const SectorHead& y) {
                            return x.sector == y.sector && x.slot == y.slot && x.value == y.value;
                          }),
              heads.end());

  // Each sector's heads, as a range of the sorted list.
  std::unordered_map<std::uint32_t, std::pair<std::size_t, std::size_t>> headsOf;
  std::unordered_set<std::uint64_t> keys;
  for (std::size_t i = 0; i < heads.size(); ++i) {
    auto [at, fresh] = headsOf.try_emplace(heads[i].sector, i, i + 1);
    if (!fresh) at->second.second = i + 1;
    keys.insert(Key(heads[i].slot, heads[i].value));
  }
  // Whether the bytes at offset would make every head of sector hold.
  auto holds = [&](std::uint32_t sector, std::uint64_t offset) {
    const auto found = headsOf.find(sector);
    if (found == headsOf.end()) return true;
    for (std::size_t i = found->second.first; i < found->second.second; ++i)
      if (image.U32(offset + std::uint64_t{heads[i].slot} * kMiniSectorSize) != heads[i].value) return false;
    return true;
  };
  // The sectors in use that hold each head's value in its slot.
  std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> holders;
  for (const SectorPlace& p : inUse)
    for (std::uint32_t slot = 0; slot < kSlots; ++slot)
      if (const std::uint64_t key = Key(slot, image.U32(p.offset + std::uint64_t{slot} * kMiniSectorSize));
          keys.count(key))
        holders[key].push_back(p.sector);

  std::size_t comparisons = 0;
  // The sectors whose bytes would make sector's heads hold and that hold
  // its bytes' heads in turn: up to two, enough to tell one from several.
  // False once the comparisons run out.
  auto partners = [&](std::uint32_t sector, std::vector<std::uint32_t>& out) {
    out.clear();
    const std::uint64_t offset = offsetOf[sector];
    const auto [first, last] = headsOf[sector];
    std::size_t lacking = first;
    while (lacking < last &&
           image.U32(offset + std::uint64_t{heads[lacking].slot} * kMiniSectorSize) == heads[lacking].value)
      ++lacking;
    if (lacking == last) return true;
    const auto found = holders.find(Key(heads[lacking].slot, heads[lacking].value));
    if (found == holders.end()) return true;
    for (std::uint32_t other : found->second) {
      if (++comparisons > kMaxComparisons) return false;
      if (other == sector || !holds(sector, offsetOf[other]) || !holds(other, offset)) continue;
      out.push_back(other);
      if (out.size() > 1) break;
    }
    return true;
  };

  auto zero = [&](std::uint64_t offset) {
    for (std::uint64_t at = 0; at < kSectorSize; at += 4)
      if (image.U32(offset + at) != 0) return false;
    return true;
  };
  // A sector whose heads fail because a byte of one changed in place, or
  // that lies in a run of zeroed sectors, did not trade its bytes (a
  // sector of zeros alone may be another stream's).
  auto traded = [&](std::uint32_t sector) {
    const std::uint64_t offset = offsetOf[sector];
    if (zero(offset) && (offset < kSectorSize || zero(offset - kSectorSize) || zero(offset + kSectorSize)))
      return false;
    const auto [first, last] = headsOf[sector];
    for (std::size_t i = first; i < last; ++i) {
      const std::uint32_t value = image.U32(offset + std::uint64_t{heads[i].slot} * kMiniSectorSize);
      if (value != heads[i].value && BytesApart(value, heads[i].value) < 2) return false;
    }
    return true;
  };

  std::unordered_set<std::uint32_t> paired;
  std::vector<std::uint32_t> found, back;
  for (std::size_t i = 0; i < heads.size(); ++i) {
    const std::uint32_t a = heads[i].sector;
    if ((i > 0 && heads[i - 1].sector == a) || paired.count(a) || holds(a, offsetOf[a]) || !traded(a)) continue;
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

}  // namespace salvage
