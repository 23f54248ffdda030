#include "parse/PropsParser.h"

#include <algorithm>

#include "parse/StreamLoader.h"

namespace mpp {

namespace {

constexpr std::size_t kEntriesAt = 12;
constexpr std::size_t kEntrySize = 8;

// Equal names as the storage compares them (case-insensitively, ASCII).
bool SameName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

std::optional<std::size_t> PropsBlockStart(std::u16string_view storageName) {
  if (SameName(storageName, u"TBkndTask")) return kTaskPropsBlock;
  if (SameName(storageName, u"TBkndRsc")) return kResourcePropsBlock;
  return std::nullopt;
}

std::vector<model::SCustomFieldDef> ReadCustomFieldBlock(RunContext& ctx, platform::ByteView stream,
                                                         std::size_t blockStart) {
  std::vector<model::SCustomFieldDef> defs;
  auto blockSize = stream.u32_at(blockStart);
  auto count = blockStart <= stream.size() ? stream.u16_at(blockStart + 8) : std::nullopt;
  if (!blockSize || !count || *count == 0) return defs;
  const std::uint64_t size = *blockSize;
  if (size < 8ull * *count + 8) return defs;

  for (std::size_t i = 0; i < *count; ++i) {
    PollBreak(ctx);
    const std::size_t entry = blockStart + kEntriesAt + i * kEntrySize;
    auto id = stream.u32_at(entry);
    auto position = stream.u16_at(entry + 4);
    if (!id || !position) break;  // the stream ends inside the table
    if (*position > size) continue;
    model::SCustomFieldDef def;
    def.FieldID = *id;
    def.TextOffset = *position;
    defs.push_back(std::move(def));
  }

  for (std::size_t i = 0; i < defs.size(); ++i) {
    const std::uint64_t from = defs[i].TextOffset;
    const std::uint64_t to = i + 1 < defs.size() ? defs[i + 1].TextOffset : size;
    // Positions out of order leave an alias empty rather than negative.
    std::uint64_t length = to > from ? std::min<std::uint64_t>(to - from, kMaxAliasBytes) : 0;
    const std::uint64_t textAt = blockStart + from + 4;
    if (textAt >= stream.size()) continue;
    length = std::min<std::uint64_t>(length, stream.size() - textAt);
    auto text = stream.Sub(static_cast<std::size_t>(textAt), static_cast<std::size_t>(length));
    if (text) defs[i].Alias = model::TextFromItem(*text);
  }
  return defs;
}

int PropsParser(RunContext& ctx, const platform::CompoundFileReader& reader, platform::ElementId storage,
                model::Project& gen) {
  try {
    if (ctx.Cancelled()) {
      ctx.log.WriteLine(kUserCancelledLine);
      return -1000;
    }
    LoadedStream props;
    if (!LoadStream(ctx.log, reader, storage, u"props", props)) {
      LogMissingStream(ctx.log, u"props");
      return 0;
    }
    auto info = reader.Stat(storage);
    if (!info) return 0;
    auto blockStart = PropsBlockStart(info->name);
    if (!blockStart) return 0;
    auto defs = ReadCustomFieldBlock(ctx, props.View(), *blockStart);
    gen.customFieldDefs.insert(gen.customFieldDefs.end(), std::make_move_iterator(defs.begin()),
                               std::make_move_iterator(defs.end()));
    return 0;
  } catch (...) {
    ctx.log.WriteLine("User break was thrown if PropsParser()");
    throw;
  }
}

}  // namespace mpp
