// The Meta/Data stream pairs of a backend storage, read through bounds
// checks only: whatever a header or an item claims, nothing is read outside
// its stream, and every walk ends with the stream.
//
//   VarMeta    24-byte header, then 12-byte items: owner UID, position of the
//              value in Var2Data, property type (all u32)
//   Var2Data   at each position: u32 length L, then L bytes of value
//   FixedMeta  16-byte header (magic, u32, count of valid items, FixedData
//              size), then items of a per-storage stride; u32 at 4 is the
//              record's position in FixedData, byte 0 its state
//   FixedData  the records at those positions
//   Fixed2Meta 16-byte header, then 50-byte rows (resources), one per
//              FixedMeta item in item order
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "platform/ByteView.h"

namespace mpp {

inline constexpr std::size_t kVarMetaHeader = 24;
inline constexpr std::size_t kVarMetaItem = 12;
inline constexpr std::size_t kFixedMetaHeader = 16;
inline constexpr std::uint32_t kFixedMetaMagic = 0xFADDADBA;
// The first u32 of every sound meta stream of the samples.
inline constexpr std::uint32_t kSoundMetaMark = 0xFADFADBA;
inline constexpr std::size_t kFixed2MetaHeader = 16;
inline constexpr std::size_t kFixed2MetaRow = 50;

struct VarMetaItem {
  std::size_t offset = 0;  // of the item in VarMeta
  std::uint32_t owner = 0;
  std::uint32_t position = 0;
  std::uint32_t type = 0;  // low 16 bits: the field; whole: custom field id
};

class VarMeta {
 public:
  explicit VarMeta(platform::ByteView stream) : stream_(stream) {}
  // Items that lie whole in the stream.
  std::size_t Count() const;
  std::optional<VarMetaItem> Item(std::size_t index) const;
  std::size_t StreamSize() const { return stream_.size(); }

 private:
  platform::ByteView stream_;
};

// The L value bytes at position in Var2Data; nothing when the length field
// or the value leaves the stream, or L is 0.
std::optional<platform::ByteView> VarValue(platform::ByteView var2Data, std::uint32_t position);

// What byte 0 of a FixedMeta item says of its record.
//   Live          a record of the storage's layout
//   Deleted       (2) a deleted record, except in calendars, whose readers
//                 ignore the mark
//   Blank         (4) no record, only a 16-byte slot: inside the free-slot
//                 area at the start of FixedData it is a free slot; beyond
//                 it, a blank row (a task without data) whose slot starts
//                 with its UID
//   DeletedBlank  (6) a free slot, or a blank row that was deleted
enum class ItemState : std::uint8_t { Live, Deleted, Blank, DeletedBlank };
inline constexpr std::size_t kBlankSlotSize = 16;

struct FixedMetaItem {
  std::size_t index = 0;   // counted from 0 over all whole items
  std::size_t offset = 0;  // of the item in FixedMeta
  platform::ByteView bytes;
  std::uint32_t position = 0;  // of the record in FixedData
  std::uint8_t stateByte = 0;

  ItemState State() const;
};

class FixedMeta {
 public:
  FixedMeta(platform::ByteView stream, std::size_t stride) : stream_(stream), stride_(stride) {}

  bool HasMagic() const { return stream_.u32_at(0) == kFixedMetaMagic; }
  // Items that lie whole in the stream.
  std::size_t Count() const;
  // The items the header declares valid: the count at byte 8 when the
  // header is intact (its magic is there), never more than Count(); the
  // items after it are stale copies. With a damaged header, all of them.
  std::size_t ValidCount() const;
  // Items a stream cut short lost at its end: as many as its header tells
  // past those that lie whole in it (no sound stream tells more), or, where
  // even the header was lost, any number (FixedData bounds them).
  std::size_t LostAtEnd() const;
  // Those of them a FixedData of dataSize bytes (or of the size the header
  // tells, if more) could hold as records of recordSize: none where the
  // header was lost, since it alone told how many.
  std::size_t LostRecords(std::size_t dataSize, std::size_t recordSize) const;
  bool HeaderLost() const { return stream_.size() < kFixedMetaHeader; }
  // The count of valid items its header tells, where the header begins as
  // every sound one does; none where it was damaged or lost.
  std::optional<std::size_t> CountTold() const {
    if (stream_.u32_at(0) != kSoundMetaMark) return std::nullopt;
    return stream_.u32_at(8);
  }
  // Whether the stream ends inside an item, as no whole stream does: it
  // was cut.
  bool EndsInsideItem() const {
    return !HeaderLost() && stride_ != 0 && (stream_.size() - kFixedMetaHeader) % stride_ != 0;
  }
  // Whether its FixedData, of dataSize bytes, was cut short: the header
  // tells more bytes, or went with the rest.
  bool DataCut(std::size_t dataSize) const { return HeaderLost() || DataSize() > dataSize; }
  // The size of FixedData the header tells (0 without it).
  std::size_t DataSize() const { return stream_.u32_at(12).value_or(0); }
  std::optional<FixedMetaItem> Item(std::size_t index) const;
  std::size_t StreamSize() const { return stream_.size(); }
  std::size_t Stride() const { return stride_; }

 private:
  platform::ByteView stream_;
  std::size_t stride_;
};

// How far a FixedData of dataSize bytes that meta tells of holds records:
// its size, or, where it was cut short, to the end of the record of
// recordSize bytes its end cuts through (never past the size the header
// tells).
std::size_t RecordReach(const FixedMeta& meta, std::size_t dataSize, std::size_t recordSize);

// Records lie in FixedData one after the other, in the order of their
// items, a record's size apart. An item a damaged FixedMeta garbled (a
// state byte no item has, or a record that leaves FixedData or does not
// come after the one before) may stand for the record after the one
// before, where the record before lay a record's size after its own
// predecessor, or right after the last slot of the free-slot area (items
// that only look sound, read from other bytes, seldom do); the caller
// judges that record by what it holds.
//
// Where nothing names those records (their var data went with the items, as
// when a block of the file is lost), the records' own UIDs still tell: a
// run of garbled items after a live record stands for the records after it,
// a record's size apart, as long as each one's UID lies above the one
// before by at most kMaxUidStep (as every table's of the samples but a few
// do), and a run before a live record for the records before it, as long
// as each one's UID lies so below. A deleted record in such a run is read
// as live: its item, which alone said so, is lost.
class RecordOrder {
 public:
  static constexpr std::uint32_t kMaxUidStep = 64;
  // The UID of the record at a place in FixedData, where one reads there.
  using UidAt = std::function<std::optional<std::uint32_t>(std::uint32_t)>;

  RecordOrder(std::size_t dataSize, std::size_t recordSize) : dataSize_(dataSize), recordSize_(recordSize) {}

  // Places the garbled items of meta (walked as WalkFixedItems walks them),
  // and the live ones where no record reads, by the UIDs of the records
  // around them, for Read. A run from the first item has the free slots
  // fixedData begins with (numbered from 0xFFFF0000) before its first record,
  // as does one after items that are only free slots.
  // The items a cut-short meta lost at its end are placed so too, after
  // the listed ones.
  void PlaceByUids(const FixedMeta& meta, platform::ByteView fixedData, const UidAt& uidAt);

  // Those lost items that PlaceByUids placed, in order, each as a garbled
  // item to take as the listed ones are taken (through Read). Returns how
  // many there were.
  template <typename Visit>
  std::size_t VisitLostItems(Visit visit) const {
    std::size_t i = firstLost_;
    for (; i < placed_.size() && placed_[i]; ++i) {
      FixedMetaItem item;
      item.index = i;
      item.stateByte = kLostState;
      visit(item);
    }
    return i - firstLost_;
  }
  // Items the meta lost at its end that PlaceByUids could not place: their
  // records are lost. How many the header told, or, where the header was
  // lost too, unknown (CountLost).
  std::size_t LostUnplaced() const { return lostTold_ - lostPlaced_; }
  bool CountLost() const { return countLost_; }

  // The item as listed, or, where it is garbled and sound(position) takes
  // the record after the one before (or PlaceByUids placed it), a Live
  // item for that record without bytes of its own (its flags were lost
  // with it; standIns counts it).
  template <typename Sound>
  FixedMetaItem Read(const FixedMetaItem& listed, Sound sound, std::size_t& standIns) {
    FixedMetaItem item = listed;
    const bool placed = listed.index < placed_.size() && placed_[listed.index];
    if (Garbled(listed) || placed) {
      std::optional<std::uint32_t> at = Garbled(listed) ? Next() : std::nullopt;
      if (at && !sound(*at)) at.reset();
      bool slot = false;
      if (!at && placed) at = placed_[listed.index]->position, slot = placed_[listed.index]->slot;
      if (at) {
        item.bytes = {};
        item.stateByte = slot ? kBlankState : 0;
        item.position = *at;
        standIns += !slot;
      }
    }
    if ((item.State() == ItemState::Live || item.State() == ItemState::Deleted) && !Garbled(item))
      Seen(item.position);
    else if (item.State() == ItemState::Blank && !last_)
      lastSlot_ = item.position;
    return item;
  }

 private:
  bool Garbled(const FixedMetaItem& item) const;
  // How many free slots (numbered from kFirstFreeSlot) fixedData begins
  // with, of either size.
  static std::size_t LeadingFreeSlots(platform::ByteView fixedData);
  // Places items from `from` (all before it free slots, if any) up to end
  // (the first not garbled) on the free slots and the record after them;
  // the record's place and UID in first and uid. The item after those
  // placed (from: none found).
  std::size_t PlaceFreeSlots(platform::ByteView fixedData, std::size_t from, std::size_t end, const UidAt& uidAt,
                             std::optional<std::uint32_t>& first, std::optional<std::uint32_t>& uid);
  std::optional<std::uint32_t> Next() const;
  void Seen(std::uint32_t position);

  std::size_t dataSize_, recordSize_;
  struct Place {
    std::uint32_t position;
    bool slot;  // a free slot's, not a record's
  };
  static constexpr std::uint32_t kFirstFreeSlot = 0xFFFF0000;
  static constexpr std::uint8_t kBlankState = 4;
  static constexpr std::uint8_t kLostState = 0xFF;  // a state no item has
  std::vector<std::optional<Place>> placed_;  // by item index: where PlaceByUids placed it
  std::size_t firstLost_ = 0;                 // the first item the meta lost at its end
  std::size_t lostTold_ = 0, lostPlaced_ = 0;  // of those: how many its header told, how many placed
  bool countLost_ = false;                     // the header went too
  std::optional<std::uint32_t> last_;
  std::optional<std::uint32_t> lastSlot_;  // of the free-slot area, before any record
  bool inStep_ = false;  // the last record lay a record's size after the one before
};

// The Fixed2Meta row of the FixedMeta item with the given index (from 0),
// when it lies whole in the stream.
std::optional<platform::ByteView> Fixed2MetaRow(platform::ByteView stream, std::size_t index,
                                                std::size_t rowSize = kFixed2MetaRow);
// Rows have no fixed size: they share the stream's body out evenly among
// the FixedMeta items. Nothing when that gives no plausible row (at least
// `least` bytes: task rows have 86 or more, resource rows 49 or more in
// versions 12 and 14).
std::optional<std::size_t> Fixed2MetaRowSize(platform::ByteView stream, std::size_t items, std::size_t least = 50);

// The GUID at the start of the second record (Fixed2Data) that a Fixed2Meta
// row points to (the u32 at byte 4); none when the record is out of reach
// or the bytes are blank (all 0 or all 0xFF).
std::optional<std::array<std::uint8_t, 16>> Fixed2RecordGuid(platform::ByteView row, platform::ByteView fixed2Data);

}  // namespace mpp
