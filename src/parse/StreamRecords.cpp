#include "parse/StreamRecords.h"

#include <algorithm>

#include "parse/RecordLayout.h"

namespace mpp {

namespace {

// Whole items of stride bytes after a header of header bytes.
std::size_t WholeItems(std::size_t streamSize, std::size_t header, std::size_t stride) {
  if (stride == 0 || streamSize < header) return 0;
  return (streamSize - header) / stride;
}

}  // namespace

std::size_t VarMeta::Count() const { return WholeItems(stream_.size(), kVarMetaHeader, kVarMetaItem); }

std::optional<VarMetaItem> VarMeta::Item(std::size_t index) const {
  if (index >= Count()) return std::nullopt;
  VarMetaItem item;
  item.offset = kVarMetaHeader + index * kVarMetaItem;
  auto owner = stream_.u32_at(item.offset);
  auto position = stream_.u32_at(item.offset + 4);
  auto type = stream_.u32_at(item.offset + 8);
  if (!owner || !position || !type) return std::nullopt;
  item.owner = *owner;
  item.position = *position;
  item.type = *type;
  return item;
}

std::optional<platform::ByteView> VarValue(platform::ByteView var2Data, std::uint32_t position) {
  auto length = var2Data.u32_at(position);
  if (!length || *length == 0) return std::nullopt;
  return var2Data.Sub(static_cast<std::size_t>(position) + 4, *length);
}

ItemState FixedMetaItem::State() const {
  switch (stateByte) {
    case 2: return ItemState::Deleted;
    case 4: return ItemState::Blank;
    case 6: return ItemState::DeletedBlank;
    default: return ItemState::Live;
  }
}

std::size_t FixedMeta::Count() const { return WholeItems(stream_.size(), kFixedMetaHeader, stride_); }

std::size_t FixedMeta::ValidCount() const {
  const std::size_t count = Count();
  if (!HasMagic()) return count;
  return std::min<std::size_t>(count, stream_.u32_at(8).value_or(0));
}

std::size_t FixedMeta::LostAtEnd() const {
  if (HeaderLost()) return static_cast<std::size_t>(-1);
  const std::size_t whole = Count(), told = stream_.u32_at(8).value_or(0);
  return told > whole ? told - whole : 0;
}

std::size_t FixedMeta::LostRecords(std::size_t dataSize, std::size_t recordSize) const {
  if (HeaderLost() || recordSize == 0) return 0;
  return std::min(LostAtEnd(), std::max(dataSize, DataSize()) / recordSize);
}

std::size_t RecordReach(const FixedMeta& meta, std::size_t dataSize, std::size_t recordSize) {
  if (!meta.DataCut(dataSize) || recordSize == 0) return dataSize;
  const std::size_t reach = dataSize + recordSize - 1;
  return meta.HeaderLost() ? reach : std::min(reach, meta.DataSize());
}

std::optional<FixedMetaItem> FixedMeta::Item(std::size_t index) const {
  if (index >= Count() || stride_ < 8) return std::nullopt;
  FixedMetaItem item;
  item.index = index;
  item.offset = kFixedMetaHeader + index * stride_;
  auto bytes = stream_.Sub(item.offset, stride_);
  if (!bytes) return std::nullopt;
  item.bytes = *bytes;
  item.stateByte = bytes->u8_at(0).value_or(0);
  item.position = bytes->u32_at(4).value_or(0);
  return item;
}

bool RecordOrder::Garbled(const FixedMetaItem& item) const {
  switch (item.stateByte) {
    case 0:
    case 2:
      return std::uint64_t{item.position} + recordSize_ > dataSize_ || (last_ && item.position <= *last_);
    case 4:
    case 6:
      return false;
    default:
      return true;
  }
}

std::optional<std::uint32_t> RecordOrder::Next() const {
  if (!last_ || !inStep_) return std::nullopt;
  const std::uint64_t next = std::uint64_t{*last_} + recordSize_;
  if (next + recordSize_ > dataSize_) return std::nullopt;
  return static_cast<std::uint32_t>(next);
}

void RecordOrder::Seen(std::uint32_t position) {
  // Free slots take 8 bytes in the oldest files, 16 in the others.
  const std::uint64_t slot = lastSlot_.value_or(0);
  const bool afterSlots = !last_ && lastSlot_ && (position == slot + 8 || position == slot + 16);
  inStep_ = afterSlots || (last_ && recordSize_ != 0 && std::uint64_t{*last_} + recordSize_ == position);
  last_ = position;
}

std::size_t RecordOrder::LeadingFreeSlots(platform::ByteView fixedData) {
  std::size_t most = 0;
  for (const std::uint32_t size : {16u, 8u}) {
    std::size_t k = 0;
    while (fixedData.u32_at(k * size) == kFirstFreeSlot + k) ++k;
    most = std::max(most, k);
  }
  return most;
}

std::size_t RecordOrder::PlaceFreeSlots(platform::ByteView fixedData, std::size_t from, std::size_t end,
                                        const UidAt& uidAt,
                                        std::optional<std::uint32_t>& first, std::optional<std::uint32_t>& uid) {
  // Free slots take 8 bytes in the oldest files, 16 in the others; the
  // first record follows the last.
  for (const std::uint32_t size : {16u, 8u}) {
    std::size_t k = 0;
    while (k < end && fixedData.u32_at(k * size) == kFirstFreeSlot + k) ++k;
    const auto at = static_cast<std::uint32_t>(k * size);
    const auto firstUid = k > 0 && k >= from && k < end ? uidAt(at) : std::nullopt;
    if (!firstUid || (*firstUid & kFirstFreeSlot) == kFirstFreeSlot) continue;
    for (std::size_t i = from; i < k; ++i) placed_[i] = Place{static_cast<std::uint32_t>(i * size), true};
    placed_[k] = Place{at, false};
    first = at;
    uid = firstUid;
    return k + 1;
  }
  return from;
}

void RecordOrder::PlaceByUids(const FixedMeta& meta, platform::ByteView fixedData, const UidAt& uidAt) {
  placed_.clear();
  lostTold_ = lostPlaced_ = 0;
  countLost_ = meta.HeaderLost();
  if (recordSize_ == 0) return;
  // Each item garbled or not, as Read takes it (before any stand-in), or
  // live where no record reads; the place and UID of each record it reads.
  struct Listed {
    bool garbled = false;
    std::optional<std::uint32_t> position, uid;  // position: a live or deleted record's
  };
  std::vector<Listed> items;
  RecordOrder probe(dataSize_, recordSize_);
  std::size_t none = 0;
  for (std::size_t i = 0, valid = meta.ValidCount(); i < valid; ++i) {
    const auto item = meta.Item(i);
    if (!item) break;
    Listed listed;
    listed.garbled = probe.Garbled(*item);
    const ItemState state = item->State();
    if (!listed.garbled && (state == ItemState::Live || state == ItemState::Deleted)) {
      listed.position = item->position;
      if (state == ItemState::Live) listed.uid = uidAt(item->position);
      // A zeroed item reads as a live record at the start: one without a UID.
      listed.garbled = state == ItemState::Live && !listed.uid;
      if (listed.garbled) listed.position.reset();
    }
    items.push_back(listed);
    probe.Read(*item, [](std::uint32_t) { return false; }, none);
  }
  // Each lost item stands for a record of its own, which FixedData holds.
  firstLost_ = items.size();
  if (firstLost_ == meta.Count()) {
    // FixedData holds no more of them than its free slots and records.
    const std::size_t room = LeadingFreeSlots(fixedData) + dataSize_ / recordSize_;
    items.resize(firstLost_ + std::min(meta.LostAtEnd(), room), Listed{true, {}, {}});
    lostTold_ = meta.LostRecords(dataSize_, recordSize_);
  }
  placed_.resize(items.size());

  const auto step = static_cast<std::uint32_t>(recordSize_);
  auto rises = [](std::optional<std::uint32_t> low, std::optional<std::uint32_t> high) {
    return low && high && *high > *low && *high - *low <= kMaxUidStep;
  };
  // Items before the first garbled one or record are free slots.
  std::size_t slots = 0;
  while (slots < items.size() && !items[slots].garbled && !items[slots].position) ++slots;
  for (std::size_t a = 0; a < items.size();) {
    if (!items[a].garbled) {
      ++a;
      continue;
    }
    std::size_t b = a;
    while (b < items.size() && items[b].garbled) ++b;
    // After the live record before the run (or the free slots)...
    std::optional<std::uint32_t> floor = a > 0 ? items[a - 1].position : std::nullopt;
    std::optional<std::uint32_t> uid = a > 0 ? items[a - 1].uid : std::nullopt;
    std::size_t i = a;
    if (a == slots) i = PlaceFreeSlots(fixedData, a, b, uidAt, floor, uid);
    if (uid) {
      std::uint64_t at = *floor;
      for (; i < b; ++i) {
        at += step;
        if (at + step > dataSize_) break;
        const auto next = uidAt(static_cast<std::uint32_t>(at));
        if (!rises(uid, next)) break;
        floor = static_cast<std::uint32_t>(at);
        placed_[i] = Place{*floor, false};
        uid = next;
      }
    }
    // ...and before the live record after it, down to those placed.
    if (b < items.size() && items[b].uid) {
      std::uint32_t at = *items[b].position;
      uid = items[b].uid;
      for (std::size_t j = b; j-- > a && !placed_[j];) {
        if (at < step || (floor && at - step < std::uint64_t{*floor} + step)) break;
        at -= step;
        const auto before = uidAt(at);
        if (!rises(before, uid)) break;
        placed_[j] = Place{at, false};
        uid = before;
      }
    }
    a = b;
  }
  while (firstLost_ + lostPlaced_ < placed_.size() && placed_[firstLost_ + lostPlaced_]) ++lostPlaced_;
  // Those left unplaced are records lost only where FixedData was cut too
  // or still has room past the last record placed: a whole FixedData read
  // to its end lost none, whatever a damaged count says.
  std::uint64_t end = 0;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const auto at = placed_[i] && !placed_[i]->slot ? std::optional(placed_[i]->position) : items[i].position;
    if (at) end = std::max<std::uint64_t>(end, std::uint64_t{*at} + recordSize_);
  }
  if (meta.DataSize() <= dataSize_ && end + recordSize_ > dataSize_) lostTold_ = lostPlaced_;
  lostTold_ = std::max(lostTold_, lostPlaced_);
}

std::optional<platform::ByteView> Fixed2MetaRow(platform::ByteView stream, std::size_t index, std::size_t rowSize) {
  if (rowSize == 0 || index >= (static_cast<std::size_t>(-1) - kFixed2MetaHeader) / rowSize) return std::nullopt;
  return stream.Sub(kFixed2MetaHeader + index * rowSize, rowSize);
}

std::optional<std::size_t> Fixed2MetaRowSize(platform::ByteView stream, std::size_t items, std::size_t least) {
  // Task rows seen: 86 bytes (version 12) to 96 (the latest applications);
  // resource rows 49 (version 12) to 51.
  constexpr std::size_t kMost = 160;
  if (items == 0 || stream.size() <= kFixed2MetaHeader) return std::nullopt;
  const std::size_t size = (stream.size() - kFixed2MetaHeader) / items;
  if (size < least || size > kMost) return std::nullopt;
  return size;
}

std::optional<std::array<std::uint8_t, 16>> Fixed2RecordGuid(platform::ByteView row, platform::ByteView fixed2Data) {
  const auto position = row.u32_at(kFixed2Record.rowPosition);
  if (!position) return std::nullopt;
  std::array<std::uint8_t, 16> guid{};
  const auto bytes = fixed2Data.Sub(static_cast<std::size_t>(*position) + kFixed2Record.guid, guid.size());
  if (!bytes) return std::nullopt;
  bytes->CopyTo(0, guid.size(), guid.data());
  const bool zero = std::all_of(guid.begin(), guid.end(), [](std::uint8_t b) { return b == 0; });
  const bool ones = std::all_of(guid.begin(), guid.end(), [](std::uint8_t b) { return b == 0xFF; });
  if (zero || ones) return std::nullopt;
  return guid;
}

}  // namespace mpp
