#include "parse/OutlineCodes.h"

#include <algorithm>

#include "model/CustomFieldCatalog.h"
#include "parse/FieldMap.h"
#include "parse/StreamLoader.h"
#include "parse/StreamRecords.h"
#include "parse/VarItems.h"

namespace mpp {

namespace {

constexpr std::uint32_t kOutlineMapKey = 0x03000019;
constexpr std::uint32_t kIndexField = 0x16400001;
constexpr std::uint32_t kParentField = 0x1640000D;
// The field of an index's text; version 9 files carry it under code 1.
constexpr std::uint32_t kTextField = 0x16400016;
constexpr std::uint8_t kTextCode9 = 1;
constexpr std::size_t kOutlineMetaStride = 10;
constexpr std::uint16_t kValueListItem = 0x0700;

}  // namespace

void OutlineCodeTable::SetText(std::uint32_t index, std::u16string text) { entries_[index].text = std::move(text); }

void OutlineCodeTable::SetParent(std::uint32_t index, std::uint32_t parent) { entries_[index].parent = parent; }

std::optional<std::u16string> OutlineCodeTable::Value(std::uint32_t index, bool withParents) const {
  std::u16string value;
  std::uint32_t at = index;
  for (std::size_t depth = 0; depth < kMaxOutlineCodeDepth; ++depth) {
    auto found = entries_.find(at);
    if (found == entries_.end() || !found->second.text) return std::nullopt;
    value = depth == 0 ? *found->second.text : *found->second.text + u"." + value;
    const std::uint32_t parent = found->second.parent;
    if (!withParents || parent == 0) return value;
    at = parent;
  }
  return std::nullopt;
}

bool IsOutlineCodeIndexField(std::uint32_t fieldId) {
  if ((fieldId & 1) == 0) return false;
  const model::CustomFieldInfo* info = model::FindCustomField(fieldId - 1);
  return info && info->kind == model::CustomFieldKind::OutlineCode;
}

OutlineCodeLayout OutlineCodeLayoutOf(platform::ByteView dataProps, bool laterApplication) {
  for (const PropsItem& item : ReadPropsItems(dataProps)) {
    if (item.key != kOutlineMapKey) continue;
    std::optional<std::uint32_t> indexAt, parentAt;
    for (const FieldMapEntry& entry : ReadFieldMap(item.data)) {
      if (entry.location != static_cast<std::uint32_t>(FieldLocation::Fixed)) continue;
      if (entry.fieldId == kIndexField) indexAt = entry.offset;
      if (entry.fieldId == kParentField) parentAt = entry.offset;
    }
    if (indexAt && parentAt && *indexAt <= 0xFFFF && *parentAt <= 0xFFFF) return {*indexAt, *parentAt};
    break;  // the first map item of the storage stands
  }
  return KnownOutlineCodeLayout(laterApplication);
}

OutlineCodeTable ReadOutlineCodeStorage(RunContext& ctx, const platform::CompoundFileReader& reader,
                                        platform::ElementId storage, int version, const OutlineCodeLayout& layout) {
  OutlineCodeTable table;
  {
    VarItemFormat format9;
    format9.fieldIds[kTextCode9] = kTextField;
    LoadedStream var2Data, varMeta;
    if (LoadVarStreams(ctx.log, reader, storage, var2Data, varMeta, version == 9 ? &format9 : nullptr)) {
      std::size_t items = 0, skipped = 0;
      WalkVarItems(ctx, varMeta.View(), var2Data.View(), nullptr, items, skipped,
                   [&](const VarMetaItem& item, platform::ByteView value) {
                     if ((item.type & 0xFFFF) == (kTextField & 0xFFFF))
                       table.SetText(item.owner, model::TextFromItem(value, false));
                   });
    }
  }
  {
    LoadedStream fixedData, fixedMeta;
    if (LoadStreamPair(ctx.log, reader, storage, u"FixedData", u"FixedMeta", fixedData, fixedMeta)) {
      const FixedMeta meta(fixedMeta.View(), kOutlineMetaStride);
      const platform::ByteView data = fixedData.View();
      for (std::size_t i = 0, valid = meta.ValidCount(); i < valid; ++i) {
        PollBreak(ctx);
        auto item = meta.Item(i);
        if (!item) break;
        if (item->State() != ItemState::Live) continue;
        const std::uint64_t at = item->position;
        auto index = data.u32_at(static_cast<std::size_t>(std::min<std::uint64_t>(at + layout.indexAt, SIZE_MAX)));
        auto parent = data.u32_at(static_cast<std::size_t>(std::min<std::uint64_t>(at + layout.parentAt, SIZE_MAX)));
        if (index && parent && *index != 0 && *parent != 0xFFFFFFFF) table.SetParent(*index, *parent);
      }
    }
  }
  ctx.log.WriteFormat("        Outline code items: %zu", table.Size());
  return table;
}

std::size_t ResolveOutlineCodeValues(RunContext& ctx, const OutlineCodeTable& table, int version,
                                     model::Project& gen) {
  std::size_t resolved = 0;
  auto& values = gen.customFieldValues;
  auto end = std::remove_if(values.begin(), values.end(), [&](model::SCustomFieldValue& value) {
    if (!IsOutlineCodeIndexField(value.FieldID)) return false;
    const platform::ByteView bytes(value.Data.data(), value.Data.size());
    std::optional<std::uint32_t> index;
    bool withParents = false;
    if (version == 9) {
      index = bytes.u32_at(0);
    } else {
      const auto flags = bytes.u16_at(0);
      index = bytes.u32_at(2);
      withParents = flags && (*flags & 0xFF00) == kValueListItem;
    }
    auto text = index ? table.Value(*index, withParents) : std::nullopt;
    if (!text || text->empty()) return true;
    value.FieldID -= 1;
    value.Data.clear();
    for (char16_t unit : *text) {
      value.Data.push_back(static_cast<std::uint8_t>(unit & 0xFF));
      value.Data.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    value.Data.push_back(0);
    value.Data.push_back(0);
    ++resolved;
    return false;
  });
  const std::size_t dropped = static_cast<std::size_t>(values.end() - end);
  values.erase(end, values.end());
  ctx.log.WriteFormat("        Outline code values: %zu read, %zu without an item", resolved, dropped);
  return resolved;
}

}  // namespace mpp
