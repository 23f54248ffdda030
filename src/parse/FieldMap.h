// The field maps a project file carries in the Props stream of its data
// storage, and the record layouts made from them.
//
//   Props      16-byte header, then items [u32 size][u32 key][u32 x][size
//              bytes] back to back to the end of the stream
//   0x00400001..05, 08   u32: fixed record size of tasks, resources,
//              calendars, assignments, links, outline codes
//   0x03000014..19       field map of TBkndTask, TBkndRsc, TBkndCal,
//              TBkndAssn, TBkndCons, TBkndOutlCode: 28-byte entries
//              [u32 mask][u32 offset][u32 location][u32 field id]
//              [u32 flags][u16 data type][u16 size][u32 bit index]
//
// Files written by different applications lay out the same kind of record
// differently (tasks of 206 or 202 bytes, the same fields elsewhere), so a
// file's records are best read at the offsets of its own map.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "parse/RecordLayout.h"
#include "platform/ByteView.h"

namespace mpp {

inline constexpr std::size_t kPropsHeader = 16;
inline constexpr std::size_t kPropsItemHeader = 12;
inline constexpr std::size_t kFieldMapEntry = 28;

struct PropsItem {
  std::size_t offset = 0;  // of the item header in the stream
  std::uint32_t key = 0;
  std::uint32_t extra = 0;
  platform::ByteView data;  // the size bytes after the item header
};

// The items of a Props stream in stream order. An item whose data would
// run past the end of the stream ends the list (it and what follows are
// not trusted).
std::vector<PropsItem> ReadPropsItems(platform::ByteView stream);

// Where a map entry says its field lives.
enum class FieldLocation : std::uint32_t {
  Var = 0x04,
  Var2 = 0x06,
  Fixed = 0x0A,
  Bit = 0x12,
  Bit2 = 0x13,
  Bit3 = 0x16,
};

// Map data types.
inline constexpr std::uint16_t kMapU16 = 0x02;
inline constexpr std::uint16_t kMapU32 = 0x03;
inline constexpr std::uint16_t kMapRate = 0x05;
inline constexpr std::uint16_t kMapText = 0x08;
inline constexpr std::uint16_t kMapFlag = 0x0B;
inline constexpr std::uint16_t kMapDate = 0x13;
inline constexpr std::uint16_t kMapBinary = 0x1D;
inline constexpr std::uint16_t kMapBoolean = 0x64;
inline constexpr std::uint16_t kMapFloat = 0x65;
inline constexpr std::uint16_t kMapFloat2 = 0x66;

struct FieldMapEntry {
  std::uint32_t mask = 0;
  std::uint32_t offset = 0;
  std::uint32_t location = 0;
  std::uint32_t fieldId = 0;
  std::uint32_t flags = 0;
  std::uint16_t dataType = 0;
  std::uint16_t size = 0;
  std::uint32_t bitIndex = 0;
};

// The whole entries of a map item (a partial entry at the end is dropped).
std::vector<FieldMapEntry> ReadFieldMap(platform::ByteView mapData);

// What one file says of its record kinds.
struct FieldMaps {
  struct Kind {
    std::optional<std::uint32_t> recordSize;
    std::optional<std::vector<FieldMapEntry>> entries;  // the first map item of the kind
    // The second map (keys 0x00020014...), which lists var-data fields the
    // first does not (version 9 baselines among them).
    std::optional<std::vector<FieldMapEntry>> varEntries;
  };
  std::array<Kind, kRecordKinds> kinds;

  const Kind& Of(RecordKind kind) const { return kinds[static_cast<std::size_t>(kind)]; }
};

FieldMaps ReadFieldMaps(platform::ByteView propsStream);

// The layout of kind from a file's map: each field of the built-in table,
// and each baseline 0 field (fixed only in some layouts), found among the
// map's fixed-data entries, at the map's offset and width.
// Entries whose kind of value does not fit the field (a float for an
// integer, say) or that lie outside the record are left out. Nothing when
// the map is missing or lacks the fields that identify a record.
std::optional<RecordLayout> LayoutFromMap(RecordKind kind, const FieldMaps& maps);


// The layouts of one file, one per kind.
struct FileLayouts {
  std::array<RecordLayout, kRecordKinds> layouts;
  const RecordLayout& Of(RecordKind kind) const { return layouts[static_cast<std::size_t>(kind)]; }
  static FileLayouts BuiltIn();
};

}  // namespace mpp
