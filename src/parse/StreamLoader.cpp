#include "parse/StreamLoader.h"

#include <cstdio>
#include <new>

#include "platform/Text.h"

namespace mpp {

bool LoadStream(Logger& log, const platform::CompoundFileReader& reader, platform::ElementId storage,
                std::u16string_view name, LoadedStream& out) {
  const std::string ansi = platform::Utf16ToAnsi(name);
  log.WriteValue("    Opening stream: ", ansi.c_str());
  out.bytes.clear();
  auto stream = reader.OpenStream(storage, name);
  if (!stream) return false;
  auto info = reader.Stat(*stream);
  if (!info || info->size > kMaxStreamBytes) return false;
  try {
    if (!reader.ReadStream(*stream, out.bytes)) {
      out.bytes.clear();
      return false;
    }
  } catch (const std::bad_alloc&) {
    out.bytes.clear();
    throw kAllocationException;
  }
  return true;
}

void LogMissingStream(Logger& log, std::u16string_view name) {
  log.WriteValue("    Can not open stream:", platform::Utf16ToAnsi(name).c_str());
}

bool LoadStreamPair(Logger& log, const platform::CompoundFileReader& reader, platform::ElementId storage,
                    std::u16string_view dataName, std::u16string_view metaName, LoadedStream& data,
                    LoadedStream& meta, bool metaMayBeLost) {
  if (!LoadStream(log, reader, storage, dataName, data)) {
    LogMissingStream(log, dataName);
    return false;
  }
  if (!LoadStream(log, reader, storage, metaName, meta)) {
    LogMissingStream(log, metaName);
    return metaMayBeLost;
  }
  return true;
}

void PollBreak(RunContext& ctx) {
  if (ctx.Cancelled()) throw kBreakException;
}

StreamProgress::StreamProgress(RunContext& ctx, std::string storage, std::string part, std::size_t metaSize,
                               std::size_t headerSize)
    : ctx_(ctx), storage_(std::move(storage)), part_(std::move(part)), metaSize_(metaSize), headerSize_(headerSize) {}

void StreamProgress::At(std::size_t itemOffset) {
  double local = 0.0;
  if (metaSize_ > 0 && itemOffset >= headerSize_)
    local = static_cast<double>(itemOffset - headerSize_) / static_cast<double>(metaSize_) * 100.0;
  double overall = ctx_.settings.progressBase + local * ctx_.settings.progressSpan * 0.01;
  if (overall > 100.0) overall = 100.0;
  char text[512];
  std::snprintf(text, sizeof text, "Parse OLE stream: %s:%s... %0.2f%%", storage_.c_str(),
                part_.c_str(), local);
  ctx_.Progress(static_cast<std::int32_t>(overall), text);
}

void StreamProgress::Finish() {
  const std::uint32_t next = ctx_.settings.progressBase + ctx_.settings.progressSpan;
  ctx_.settings.progressBase = next > 100 ? 100 : next;
}

void LogSharedValues(RunContext& ctx, std::uint64_t named, std::size_t var2DataSize) {
  // Real files name each value once, a few small ones at most twice.
  constexpr std::uint64_t kFactor = 8;
  constexpr std::uint64_t kSlack = 1 << 20;
  if (named <= kFactor * var2DataSize + kSlack) return;
  ctx.log.WriteFormat("        VarMeta items name %llu bytes of values held in %zu bytes: they share their values, "
                      "and the document may grow far beyond the file",
                      static_cast<unsigned long long>(named), var2DataSize);
}

}  // namespace mpp
