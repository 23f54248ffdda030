#include "parse/ViewStorageParser.h"

#include <unordered_map>

#include "parse/StreamLoader.h"
#include "parse/StreamRecords.h"
#include "parse/VarItems.h"

namespace mpp {

namespace {

template <typename Read>
void ParseStorage(RunContext& ctx, const platform::CompoundFileReader& reader, platform::ElementId storage,
                  const VarItemFormat* varFormat, const char* breakLine, Read read) {
  try {
    LoadedStream var2Data, varMeta;
    if (!LoadVarStreams(ctx.log, reader, storage, var2Data, varMeta, varFormat)) return;
    ctx.log.WriteFormat("        VarMeta size %d, VarData size %d", static_cast<int>(varMeta.bytes.size()),
                        static_cast<int>(var2Data.bytes.size()));
    read(varMeta.View(), var2Data.View());
  } catch (...) {
    ctx.log.WriteLine(breakLine);
    throw;
  }
}

}  // namespace

std::size_t ReadEditList(RunContext& ctx, platform::ByteView varMeta, platform::ByteView var2Data,
                         model::Project& gen) {
  std::size_t items = 0, skipped = 0, kept = 0;
  WalkVarItems(ctx, varMeta, var2Data, nullptr, items, skipped, [&](const VarMetaItem& item, platform::ByteView value) {
    if ((item.type & 0xFFFF) != kViewItemType) return;
    model::SEditListItem entry;
    entry.UID = item.owner;
    entry.Data.resize(value.size());
    value.CopyTo(0, value.size(), entry.Data.data());
    gen.editList.push_back(std::move(entry));
    ++kept;
  });
  return kept;
}

std::size_t ReadViewTimescales(RunContext& ctx, platform::ByteView varMeta, platform::ByteView var2Data,
                               model::Project& gen) {
  std::unordered_map<std::uint32_t, std::size_t> byUid;
  for (std::size_t i = 0; i < gen.viewTimescales.size(); ++i) byUid.try_emplace(gen.viewTimescales[i].UID, i);
  std::size_t items = 0, skipped = 0, kept = 0;
  WalkVarItems(ctx, varMeta, var2Data, nullptr, items, skipped, [&](const VarMetaItem& item, platform::ByteView value) {
    if ((item.type & 0xFFFF) != kViewItemType) return;
    if (value.size() < kViewValueMinSize) {
      ctx.log.WriteFormat("        Uncorrect data size = %d", static_cast<int>(value.size()));
      return;
    }
    model::SViewTimescale scale;
    scale.UID = item.owner;
    scale.ViewType = value.u32_at(0).value_or(0);
    const std::size_t d = scale.ViewType == kShiftedViewType ? kTimescale.shift : 0;
    auto byte = [&](std::size_t at) { return value.u8_at(at + d).value_or(0); };
    scale.MajorUnits = byte(kTimescale.majorUnits);
    scale.MajorLabel = byte(kTimescale.majorLabel);
    scale.MajorCount = byte(kTimescale.majorCount);
    scale.MinorUnits = byte(kTimescale.minorUnits);
    scale.MinorLabel = byte(kTimescale.minorLabel);
    scale.MinorCount = byte(kTimescale.minorCount);
    ctx.log.WriteFormat("            Major: Units -> 0x%X Label -> 0x%X Count -> 0x%X", scale.MajorUnits,
                        scale.MajorLabel, scale.MajorCount);
    ctx.log.WriteFormat("            Minor: Units -> 0x%X Label -> 0x%X Count -> 0x%X", scale.MinorUnits,
                        scale.MinorLabel, scale.MinorCount);
    auto found = byUid.find(scale.UID);
    if (found != byUid.end()) {
      ctx.log.WriteLine("        Record already exists, set new parameters");
      gen.viewTimescales[found->second] = scale;
    } else if (scale.UID != 0) {
      ctx.log.WriteLine("        No similar record, add new record");
      byUid.emplace(scale.UID, gen.viewTimescales.size());
      gen.viewTimescales.push_back(scale);
    }
    ++kept;
  });
  return kept;
}

void EdlParser(RunContext& ctx, const platform::CompoundFileReader& reader, platform::ElementId storage,
               model::Project& gen, const VarItemFormat* varFormat) {
  ParseStorage(ctx, reader, storage, varFormat, "User break was thrown if EdlParser()",
               [&](platform::ByteView meta, platform::ByteView data) { ReadEditList(ctx, meta, data, gen); });
}

void ViewParser(RunContext& ctx, const platform::CompoundFileReader& reader, platform::ElementId storage,
                model::Project& gen, const VarItemFormat* varFormat) {
  ParseStorage(ctx, reader, storage, varFormat, "User break was thrown if ViewParser()",
               [&](platform::ByteView meta, platform::ByteView data) { ReadViewTimescales(ctx, meta, data, gen); });
}

}  // namespace mpp
