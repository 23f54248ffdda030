#include "parse/FieldMap.h"

#include <algorithm>

namespace mpp {

namespace {

// Props keys, indexed by RecordKind (tasks, resources, calendars,
// assignments, links).
constexpr std::array<std::uint32_t, kRecordKinds> kRecordSizeKeys = {
    0x00400001, 0x00400002, 0x00400003, 0x00400004, 0x00400005};
constexpr std::array<std::uint32_t, kRecordKinds> kFieldMapKeys = {
    0x03000014, 0x03000015, 0x03000016, 0x03000017, 0x03000018};
constexpr std::array<std::uint32_t, kRecordKinds> kVarFieldMapKeys = {
    0x00020014, 0x00020015, 0x00020016, 0x00020017, 0x00020018};

// Fields a map may place in fixed data beyond the built-in table's, with
// their encodings: baseline 0 (fixed in T264, R188 and A142 records).
constexpr FieldSlot kMapOnlyFields[] = {
    {Field::TaskBaselineStart, 0, Encoding::Date},       {Field::TaskBaselineFinish, 0, Encoding::Date},
    {Field::TaskBaselineDuration, 0, Encoding::U32},     {Field::TaskBaselineWork, 0, Encoding::F64},
    {Field::TaskBaselineCost, 0, Encoding::F64},         {Field::ResourceBaselineWork, 0, Encoding::F64},
    {Field::ResourceBaselineCost, 0, Encoding::F64},     {Field::AssignmentBaselineStart, 0, Encoding::Date},
    {Field::AssignmentBaselineFinish, 0, Encoding::Date}, {Field::AssignmentBaselineWork, 0, Encoding::F64},
    {Field::AssignmentBaselineCost, 0, Encoding::F64},
};

// No record of a project file comes near this; a larger size is damage.
constexpr std::uint32_t kMaxRecordSize = 4096;

// The fields without which a record cannot be placed in the model.
std::vector<Field> KeyFields(RecordKind kind) {
  switch (kind) {
    case RecordKind::Task: return {Field::TaskUID};
    case RecordKind::Resource: return {Field::ResourceUID};
    case RecordKind::Calendar: return {Field::CalendarUID};
    case RecordKind::Assignment:
      return {Field::AssignmentUID, Field::AssignmentTaskUID, Field::AssignmentResourceUID};
    case RecordKind::Link: return {Field::PredecessorUID, Field::SuccessorUID};
  }
  return {};
}

enum class ValueClass { Integer, Date, Float, Other };

ValueClass ClassOf(Encoding encoding) {
  switch (encoding) {
    case Encoding::U8:
    case Encoding::U16:
    case Encoding::U32:
    case Encoding::I32: return ValueClass::Integer;
    case Encoding::Date: return ValueClass::Date;
    case Encoding::F64: return ValueClass::Float;
  }
  return ValueClass::Other;
}

ValueClass ClassOfMapType(std::uint16_t type) {
  switch (type) {
    case kMapU16:
    case kMapU32: return ValueClass::Integer;
    case kMapDate: return ValueClass::Date;
    case kMapRate:
    case kMapFloat:
    case kMapFloat2: return ValueClass::Float;
    default: return ValueClass::Other;
  }
}

// The encoding of a field whose built-in encoding is wanted, at the width
// the map gives; nothing when they cannot agree.
std::optional<Encoding> EncodingFor(Encoding wanted, const FieldMapEntry& entry) {
  if (ClassOfMapType(entry.dataType) != ClassOf(wanted)) return std::nullopt;
  switch (ClassOf(wanted)) {
    case ValueClass::Float:
      return entry.size == 8 ? std::optional(Encoding::F64) : std::nullopt;
    case ValueClass::Date:
      return entry.size == 4 ? std::optional(Encoding::Date) : std::nullopt;
    case ValueClass::Integer:
      if (wanted == Encoding::I32) return entry.size == 4 ? std::optional(Encoding::I32) : std::nullopt;
      if (entry.size == 1) return Encoding::U8;
      if (entry.size == 2) return Encoding::U16;
      if (entry.size == 4) return Encoding::U32;
      return std::nullopt;
    case ValueClass::Other:
      return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

std::vector<PropsItem> ReadPropsItems(platform::ByteView stream) {
  std::vector<PropsItem> items;
  std::size_t offset = kPropsHeader;
  // Every item takes at least its 12-byte header, so this ends.
  while (stream.Has(offset, kPropsItemHeader)) {
    const std::uint32_t size = *stream.u32_at(offset);
    auto data = stream.Sub(offset + kPropsItemHeader, size);
    if (!data) break;
    items.push_back({offset, *stream.u32_at(offset + 4), *stream.u32_at(offset + 8), *data});
    offset += kPropsItemHeader + size;
  }
  return items;
}

std::vector<FieldMapEntry> ReadFieldMap(platform::ByteView mapData) {
  std::vector<FieldMapEntry> entries;
  entries.reserve(mapData.size() / kFieldMapEntry);
  for (std::size_t at = 0; mapData.Has(at, kFieldMapEntry); at += kFieldMapEntry) {
    FieldMapEntry e;
    e.mask = *mapData.u32_at(at);
    e.offset = *mapData.u32_at(at + 4);
    e.location = *mapData.u32_at(at + 8);
    e.fieldId = *mapData.u32_at(at + 12);
    e.flags = *mapData.u32_at(at + 16);
    e.dataType = *mapData.u16_at(at + 20);
    e.size = *mapData.u16_at(at + 22);
    e.bitIndex = *mapData.u32_at(at + 24);
    entries.push_back(e);
  }
  return entries;
}

FieldMaps ReadFieldMaps(platform::ByteView propsStream) {
  FieldMaps maps;
  for (const PropsItem& item : ReadPropsItems(propsStream)) {
    for (std::size_t k = 0; k < kRecordKinds; ++k) {
      FieldMaps::Kind& kind = maps.kinds[k];
      if (item.key == kRecordSizeKeys[k] && !kind.recordSize) {
        if (auto size = item.data.u32_at(0)) kind.recordSize = *size;
      } else if (item.key == kFieldMapKeys[k] && !kind.entries) {
        kind.entries = ReadFieldMap(item.data);
      } else if (item.key == kVarFieldMapKeys[k] && !kind.varEntries) {
        kind.varEntries = ReadFieldMap(item.data);
      }
    }
  }
  return maps;
}

std::optional<RecordLayout> LayoutFromMap(RecordKind kind, const FieldMaps& maps) {
  const FieldMaps::Kind& source = maps.Of(kind);
  if (!source.entries) return std::nullopt;
  const RecordLayout& builtIn = BuiltInLayout14(kind);

  std::uint32_t recordSize = source.recordSize.value_or(0);
  if (recordSize > kMaxRecordSize) recordSize = 0;

  RecordLayout layout;
  layout.kind = kind;
  layout.source = RecordLayout::Source::FileMap;
  layout.minPosition = builtIn.minPosition;
  std::vector<FieldSlot> wantedFields = builtIn.fields;
  for (const FieldSlot& extra : kMapOnlyFields)
    if (KindOf(extra.field) == kind && !builtIn.Find(extra.field)) wantedFields.push_back(extra);
  for (const FieldSlot& wanted : wantedFields) {
    const std::uint32_t id = FieldIdOf(wanted.field);
    auto entry = std::find_if(source.entries->begin(), source.entries->end(), [&](const FieldMapEntry& e) {
      return e.fieldId == id && e.location == static_cast<std::uint32_t>(FieldLocation::Fixed);
    });
    if (entry == source.entries->end()) continue;
    auto encoding = EncodingFor(wanted.encoding, *entry);
    if (!encoding) continue;
    const std::uint64_t end = static_cast<std::uint64_t>(entry->offset) + WidthOf(*encoding);
    if (end > (recordSize ? recordSize : kMaxRecordSize)) continue;
    layout.fields.push_back({wanted.field, entry->offset, *encoding});
  }
  for (Field key : KeyFields(kind))
    if (!layout.Find(key)) return std::nullopt;
  layout.recordSize = recordSize ? recordSize : layout.Extent();
  return layout;
}

FileLayouts FileLayouts::BuiltIn() {
  FileLayouts result;
  for (std::size_t k = 0; k < kRecordKinds; ++k)
    result.layouts[k] = BuiltInLayout14(static_cast<RecordKind>(k));
  return result;
}

}  // namespace mpp
