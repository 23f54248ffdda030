#include "parse/VarItems.h"

#include <span>
#include <unordered_set>

#include "parse/StreamRecords.h"

namespace mpp {

namespace {

constexpr std::uint32_t kVarOffsetMark = 0x0200FFFF;
constexpr std::uint32_t kVarOffsetMask = 0xFF00FFFF;

// Where a zeroed VarMeta item is placed (UnplaceZeroedItems).
constexpr std::uint32_t kNoPlace = 0xFFFFFFFF;

// Whether item index of itemSize bytes is one the header counts and all
// zeros. (Past the count, a stream whose size was damaged may run on into
// padding: those are no items that were lost.)
bool Zeroed(platform::ByteView stream, std::size_t index, std::size_t itemSize) {
  if (index >= stream.u32_at(8).value_or(0)) return false;
  const std::size_t at = kVarMetaHeader + index * itemSize;
  for (std::size_t i = 0; i < itemSize; ++i)
    if (stream.u8_at(at + i).value_or(1) != 0) return false;
  return true;
}

// The field id prefixes of each kind.
std::uint32_t Prefix(RecordKind kind) {
  switch (kind) {
    case RecordKind::Task: return 0x0B400000;
    case RecordKind::Resource: return 0x0C400000;
    case RecordKind::Calendar: return 0x0D400000;
    case RecordKind::Assignment: return 0x0F400000;
    case RecordKind::Link: return 0x0E400000;
  }
  return 0;
}

struct CodeField {
  std::uint8_t code;
  std::uint16_t field;  // low 16 bits of the field id
};

// Codes of files without a usable map.
constexpr CodeField kTaskCodes[] = {{11, 14}, {26, 14}, {144, 15}};
constexpr CodeField kResourceCodes[] = {{1, 1}, {3, 2}, {4, 3}, {5, 10}, {6, 35}, {8, 299}, {9, 311}, {124, 20}};
constexpr CodeField kCalendarCodes[] = {{1, 1}, {3, 8}};

void PutU32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

VarItemFormat VarItemFormat9(RecordKind kind, const FieldMaps* maps) {
  VarItemFormat format;
  if (maps) {
    if (const auto& entries = maps->Of(kind).entries) {
      for (const FieldMapEntry& e : *entries) {
        const bool var = e.location == static_cast<std::uint32_t>(FieldLocation::Var) ||
                         e.location == static_cast<std::uint32_t>(FieldLocation::Var2);
        if (var && (e.offset & kVarOffsetMask) == kVarOffsetMark) {
          format.fieldIds.try_emplace((e.offset >> 16) & 0xFF, e.fieldId);
          format.mapped = true;
        }
      }
    }
  }
  // The usual codes stand in for the fields a (damaged) map does not
  // give, where the map uses the code for nothing else.
  std::unordered_set<std::uint32_t> given;
  for (const auto& [code, field] : format.fieldIds) given.insert(field);
  std::span<const CodeField> codes;
  if (kind == RecordKind::Task) codes = kTaskCodes;
  else if (kind == RecordKind::Resource) codes = kResourceCodes;
  else if (kind == RecordKind::Calendar) codes = kCalendarCodes;
  for (const CodeField& c : codes) {
    const std::uint32_t field = Prefix(kind) | c.field;
    if (!given.contains(field)) format.fieldIds.try_emplace(c.code, field);
  }
  return format;
}

VarItemFormat ViewItemFormat9() {
  VarItemFormat format;
  format.fieldIds.emplace(1, 1);
  return format;
}

std::vector<std::uint8_t> WidenVarMeta(platform::ByteView stream, const VarItemFormat& format) {
  std::vector<std::uint8_t> out;
  if (stream.size() < kVarMetaHeader || format.itemSize == 0) return out;
  const std::size_t items = (stream.size() - kVarMetaHeader) / format.itemSize;
  out.assign(kVarMetaHeader + items * kVarMetaItem, 0);
  for (std::size_t i = 0; i < kVarMetaHeader; ++i) out[i] = *stream.u8_at(i);
  for (std::size_t i = 0; i < items; ++i) {
    const std::size_t from = kVarMetaHeader + i * format.itemSize;
    const std::size_t to = kVarMetaHeader + i * kVarMetaItem;
    const std::uint32_t owner =
        format.ownerWidth == 2 ? stream.u16_at(from).value_or(0) : stream.u32_at(from).value_or(0);
    const std::uint8_t code = stream.u8_at(from + format.typeOffset).value_or(0);
    auto field = format.fieldIds.find(code);
    PutU32(out, to, owner);
    PutU32(out, to + 4,
           Zeroed(stream, i, format.itemSize) ? kNoPlace : stream.u32_at(from + format.positionOffset).value_or(0));
    PutU32(out, to + 8, field == format.fieldIds.end() ? 0 : field->second);
  }
  return out;
}

void UnplaceZeroedItems(std::vector<std::uint8_t>& varMeta) {
  const platform::ByteView view(varMeta.data(), varMeta.size());
  for (std::size_t i = 0; kVarMetaHeader + (i + 1) * kVarMetaItem <= varMeta.size(); ++i)
    if (Zeroed(view, i, kVarMetaItem)) PutU32(varMeta, kVarMetaHeader + i * kVarMetaItem + 4, kNoPlace);
}

bool LoadVarStreams(Logger& log, const platform::CompoundFileReader& reader, platform::ElementId storage,
                    LoadedStream& var2Data, LoadedStream& varMeta, const VarItemFormat* format) {
  if (!LoadStreamPair(log, reader, storage, u"Var2Data", u"VarMeta", var2Data, varMeta)) return false;
  if (format)
    varMeta.bytes = WidenVarMeta(varMeta.View(), *format);
  else
    UnplaceZeroedItems(varMeta.bytes);
  return true;
}

}  // namespace mpp
