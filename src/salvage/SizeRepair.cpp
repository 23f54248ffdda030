// Stream sizes that no chain agrees with. A stream of no bytes stores no
// start sector, and a stream of 4,096 bytes or more begins a chain through
// the SAT of just the sectors its size needs; a size damaged into zero, or
// into a big one, for a short stream breaks that. Where the mini chain
// from the stream's start is whole, begins there and belongs to no other
// stream, the stream is read through it: as many bytes as its mini
// sectors hold (the size itself is lost: up to 63 bytes past it come
// along). A big stream whose size was damaged into zero is read so through
// its SAT chain, where no mini chain can be its.
//
// A table storage's streams also tell each other's sizes: a VarMeta counts
// its own items and sizes its Var2Data, a FixedMeta sizes its FixedData, a
// Fixed2Meta's rows its own size and its Fixed2Data's; an empty meta
// stream is its header alone; a Props begins with its own size less 4.
// In the samples the sizes agree with these all but a few in a thousand
// times, and those few need other sectors than the headers say; so where
// an entry's size disagrees with its storage's headers while both need the
// same sectors, the entry's size was damaged and the headers' is taken.
#include "salvage/Root.h"

#include <unordered_map>

#include "salvage/LostStreams.h"

namespace salvage {

void CRoot::MendSizesNoChainFits() {
  const std::vector<std::uint32_t>& mini = sat_->MiniSatTable();
  const std::vector<std::uint32_t>& big = sat_->SatTable();
  const auto miniCount = static_cast<std::uint32_t>(mini.size());
  const auto bigCount = static_cast<std::uint32_t>(big.size());
  // Sectors some link leads to: no chain begins there.
  std::vector<std::uint8_t> miniLinked(miniCount, 0), bigLinked(bigCount, 0);
  for (std::uint32_t s = 0; s < miniCount; ++s)
    if (mini[s] < miniCount && mini[s] != s) miniLinked[mini[s]] = 1;
  for (std::uint32_t s = 0; s < bigCount; ++s)
    if (big[s] < bigCount && big[s] != s) bigLinked[big[s]] = 1;

  auto suspect = [&](const DirItem& item) {
    if (item.lost || item.Type() != kTypeStream) return false;
    const std::uint32_t size = item.Size(), start = item.Start();
    if (size == 0) return start != kEndOfChain && start < std::max(miniCount, bigCount);
    if (size < kMiniStreamCutoff) return false;
    if (std::int64_t{size} > imageSize_) return true;
    if (start >= bigCount || bigLinked[start]) return true;
    Chain chain;
    sat_->FollowChain(start, chain, 1);
    return chain.length != (std::uint64_t{size} + kSectorSize - 1) / kSectorSize;
  };

  // The mini sectors of the short streams whose sizes fit their chains.
  std::vector<std::uint8_t> owned(miniCount, 0), suspected(items_.size(), 0);
  std::vector<std::size_t> suspects;
  for (std::size_t n = 0; n < items_.size(); ++n) {
    const DirItem& item = *items_[n];
    if (suspect(item)) {
      suspects.push_back(n);
      suspected[n] = 1;
      continue;
    }
    if (item.lost || item.Type() != kTypeStream || item.Size() == 0 || item.Size() >= kMiniStreamCutoff) continue;
    std::uint32_t s = item.Start();
    for (std::uint32_t k = 0; k < (item.Size() + kMiniSectorSize - 1) / kMiniSectorSize && s < miniCount && !owned[s];
         ++k) {
      owned[s] = 1;
      s = mini[s];
    }
  }

  // The big sectors of the streams whose sizes fit their chains, of the
  // mini stream, of the directory and of the tables.
  std::vector<std::uint8_t> bigOwned(bigCount, 0);
  auto ownBig = [&](std::uint32_t s) {
    if (s < bigCount) bigOwned[s] = 1;
  };
  for (std::uint32_t s : rootChain_.sectors) ownBig(s);
  for (std::uint32_t s : sat_->MiniSatList()) ownBig(s);
  for (std::size_t n = 0; n < items_.size(); ++n) {
    const DirItem& item = *items_[n];
    const bool bigStream = item.Type() == kTypeRoot || (item.Type() == kTypeStream && item.Size() >= kMiniStreamCutoff);
    if (item.lost || !bigStream || suspected[n]) continue;
    for (std::uint32_t s = item.Start(), k = 0; s < bigCount && !bigOwned[s] && k < bigCount; s = big[s], ++k) ownBig(s);
  }

  // The whole chain from start through table (the SAT where sat, else the
  // mini SAT), of at most most sectors: sectors mine does not mark yet (and
  // no table's), ending with the end mark. They are marked; none is where
  // the chain is not whole.
  auto wholeChain = [&](bool sat, std::vector<std::uint8_t>& mine, std::uint32_t start, std::size_t most) {
    const std::vector<std::uint32_t>& table = sat ? big : mini;
    std::vector<std::uint32_t> sectors;
    for (std::uint32_t s = start; sectors.size() < most && s < table.size() && !mine[s] && !(sat && sat_->IsTableSector(s));
         s = table[s]) {
      mine[s] = 1;
      sectors.push_back(s);
      if (table[s] == kEndOfChain) return sectors;
    }
    for (std::uint32_t taken : sectors) mine[taken] = 0;
    return std::vector<std::uint32_t>{};
  };
  auto readAs = [&](DirItem& item, std::uint32_t size) {
    item.SetU32(kDirSizeLow, size);
    item.SetU32(kDirSizeHigh, 0);
    ++state_.stats.damagedElements;
  };

  constexpr std::uint32_t kMostMiniSectors = kMiniStreamCutoff / kMiniSectorSize;
  constexpr std::uint32_t kLeastBigSectors = kMiniStreamCutoff / kSectorSize;
  for (std::size_t n : suspects) {
    DirItem& item = *items_[n];
    const std::uint32_t start = item.Start();
    const bool miniHead = start < miniCount && !miniLinked[start] && !owned[start];
    // A size damaged into zero for a big stream: the whole chain from its
    // start, of a big stream's length at least, that no other stream owns.
    if (item.Size() == 0 && !miniHead && start < bigCount && !bigLinked[start]) {
      const std::vector<std::uint32_t> sectors = wholeChain(true, bigOwned, start, bigCount);
      if (sectors.size() < kLeastBigSectors) {
        for (std::uint32_t taken : sectors) bigOwned[taken] = 0;
        continue;
      }
      const auto size = static_cast<std::uint32_t>(sectors.size() * kSectorSize);
      state_.log().WriteFormat("Stream %s: its size (0) fits no chain; read as a stream of %u sectors (%u bytes)",
                               item.NarrowName().c_str(), static_cast<unsigned>(sectors.size()), size);
      readAs(item, size);
      continue;
    }
    if (!miniHead) continue;
    // The whole mini chain: its own sectors, ending with the end mark, short.
    const std::vector<std::uint32_t> sectors = wholeChain(false, owned, start, kMostMiniSectors);
    if (sectors.empty()) continue;
    const auto size = static_cast<std::uint32_t>(sectors.size() * kMiniSectorSize);
    state_.log().WriteFormat("Stream %s: its size (%u) fits no chain; read as a short stream of %u mini sectors (%u bytes)",
                             item.NarrowName().c_str(), item.Size(), static_cast<unsigned>(sectors.size()), size);
    readAs(item, size);
  }
}

namespace {

// Whether a stream of size bytes and one of other bytes lie in the same
// sectors (of the mini stream below the cutoff).
bool SameSectors(std::uint64_t size, std::uint64_t other) {
  if (size == 0 || other == 0 || (size < kMiniStreamCutoff) != (other < kMiniStreamCutoff)) return false;
  const std::uint64_t unit = size < kMiniStreamCutoff ? kMiniSectorSize : kSectorSize;
  return (size + unit - 1) / unit == (other + unit - 1) / unit;
}

platform::ByteView ViewOf(const DirItem& item) {
  const std::span<const std::uint8_t> content = item.Content();
  return platform::ByteView(content.data(), content.size());
}

}  // namespace

void CRoot::MendSizesByStructure() {
  std::vector<std::uint8_t> seen(items_.size(), 0);
  std::vector<std::uint32_t> children;
  std::unordered_map<std::u16string, DirItem*> streams;
  auto resize = [&](DirItem* item, std::uint64_t size, const char* why) {
    if (!item || size == item->Size() || !SameSectors(item->Size(), size) || item->Content().size() < size) return;
    state_.log().WriteFormat("Stream %s: its size (%u) is not what %s; read as %u bytes", item->NarrowName().c_str(),
                             item->Size(), why, static_cast<unsigned>(size));
    item->SetU32(kDirSizeLow, static_cast<std::uint32_t>(size));
    ++state_.stats.damagedElements;
  };
  for (const auto& storage : items_) {
    if (storage->lost || storage->Type() != kTypeStorage) continue;
    // The storage's streams, the first of each name.
    streams.clear();
    children.clear();
    CollectSiblings(storage->Child(), seen, children);
    for (std::uint32_t n : children)
      if (items_[n]->Type() == kTypeStream) streams.emplace(items_[n]->Name(), items_[n].get());
    auto find = [&](const char16_t* name) -> DirItem* {
      const auto found = streams.find(name);
      return found == streams.end() ? nullptr : found->second;
    };
    DirItem* varMeta = find(u"VarMeta");
    DirItem* fixedMeta = find(u"FixedMeta");
    for (const char16_t* name : {u"VarMeta", u"FixedMeta", u"Fixed2Meta"})
      if (DirItem* meta = find(name))
        if (const auto size = EmptyMetaSize(name, ViewOf(*meta))) resize(meta, *size, "its empty header gives");
    if (varMeta) {
      std::vector<std::uint32_t> own = VarMetaSizesTold(ViewOf(*varMeta));
      std::erase_if(own, [&](std::uint32_t size) { return !SameSectors(varMeta->Size(), size); });
      if (own.size() == 1) resize(varMeta, own.front(), "its header's items need");
      if (const auto size = DataSizeTold(u"VarMeta", ViewOf(*varMeta)))
        resize(find(u"Var2Data"), *size, "its VarMeta gives");
    }
    if (fixedMeta)
      if (const auto size = DataSizeTold(u"FixedMeta", ViewOf(*fixedMeta)))
        resize(find(u"FixedData"), *size, "its FixedMeta gives");
    // A Props begins with its size less 4, twice.
    if (DirItem* props = find(u"Props")) {
      const platform::ByteView bytes = ViewOf(*props);
      const std::uint32_t told = bytes.u32_at(0).value_or(0);
      if (told >= 4 && bytes.u32_at(4) == told) resize(props, std::uint64_t{told} + 4, "its header gives");
    }
    // A Fixed2Meta's items tell its size, where its own does not read soundly.
    if (DirItem* fixed2Meta = find(u"Fixed2Meta")) {
      const platform::ByteView bytes = ViewOf(*fixed2Meta);
      const std::uint32_t own = fixed2Meta->Size();
      if (!Fixed2MetaReadsAt(bytes, own)) {
        const auto fits = [&](std::uint64_t size) { return SameSectors(own, size); };
        if (const auto size = Fixed2MetaSizeTold(bytes, fits)) resize(fixed2Meta, *size, "its items need");
      }
      if (const auto size = DataSizeTold(u"Fixed2Meta", ViewOf(*fixed2Meta)))
        resize(find(u"Fixed2Data"), *size, "its Fixed2Meta gives");
    }
  }
}

}  // namespace salvage
