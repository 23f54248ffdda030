// Reading a backend storage's streams whole into memory, and what every
// walk over them shares: the break check and the progress within a stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "base/RunContext.h"
#include "parse/RecordLayout.h"
#include "parse/StreamRecords.h"
#include "platform/ByteView.h"
#include "platform/CompoundFile.h"

namespace mpp {

// Larger streams are not loaded: no project stream comes near it, and a
// damaged size must not make us allocate without limit.
inline constexpr std::uint64_t kMaxStreamBytes = 1ull << 30;

// Exceptions that leave a walk: the host's cancel (kBreakException), and a
// buffer that could not be had.
using ::kBreakException;
inline constexpr int kAllocationException = -1;

inline constexpr const char* kUserCancelledLine =
    "User Exception in FileRecover. The process was canceled by user";

// A stream's bytes, read whole.
struct LoadedStream {
  std::vector<std::uint8_t> bytes;
  platform::ByteView View() const { return platform::ByteView(bytes.data(), bytes.size()); }
};

// Logs "    Opening stream: " with the name, then reads the stream of the
// storage whole. False when the storage has no such stream, the stream is
// larger than kMaxStreamBytes, or it cannot be read; the caller logs
// LogMissingStream. Throws kAllocationException when memory runs out.
bool LoadStream(Logger& log, const platform::CompoundFileReader& reader, platform::ElementId storage,
                std::u16string_view name, LoadedStream& out);
void LogMissingStream(Logger& log, std::u16string_view name);
// Loads a data stream and, when it is there, its meta stream (Var2Data and
// VarMeta, FixedData and FixedMeta), logging the one missing. True when
// both are loaded, or, where metaMayBeLost (records that their own UIDs
// can place), when the data stream is: a lost meta stream is left empty.
bool LoadStreamPair(Logger& log, const platform::CompoundFileReader& reader, platform::ElementId storage,
                    std::u16string_view dataName, std::u16string_view metaName, LoadedStream& data, LoadedStream& meta,
                    bool metaMayBeLost = false);

// Throws kBreakException when the host has asked the run to stop.
void PollBreak(RunContext& ctx);

// The progress of a walk over a meta stream: the walk reports its place as
// a local percent ("Parse OLE stream: <storage>:<part>... 12.50%") inside
// the current window (progressBase, progressSpan), and when it ends the
// window's base moves on by its span. The overall percent never passes 100.
class StreamProgress {
 public:
  StreamProgress(RunContext& ctx, std::string storage, std::string part, std::size_t metaSize, std::size_t headerSize);
  void At(std::size_t itemOffset);
  void Finish();

 private:
  RunContext& ctx_;
  std::string storage_;
  std::string part_;
  std::size_t metaSize_;
  std::size_t headerSize_;
};

// Items of a VarMeta stream may name one value many times over: what is
// made of them then outgrows the file. Says so once per stream, when the
// values named come to several times the Var2Data that holds them.
void LogSharedValues(RunContext& ctx, std::uint64_t named, std::size_t var2DataSize);

// Walks the items of a VarMeta stream, polling the break and reporting
// progress: take(item, value) gets each item whose value lies inside
// Var2Data. Counts every item in items and those without a value in
// skipped.
template <typename Take>
void WalkVarItems(RunContext& ctx, platform::ByteView varMeta, platform::ByteView var2Data, StreamProgress* progress,
                  std::size_t& items, std::size_t& skipped, Take take) {
  const VarMeta meta(varMeta);
  const std::size_t count = meta.Count();
  std::uint64_t named = 0;  // bytes of the values taken
  for (std::size_t i = 0; i < count; ++i) {
    PollBreak(ctx);
    auto item = meta.Item(i);
    if (!item) break;
    ++items;
    if (progress) progress->At(item->offset);
    auto value = VarValue(var2Data, item->position);
    if (!value) {
      ++skipped;
      continue;
    }
    named += value->size();
    take(*item, *value);
  }
  if (progress) progress->Finish();
  LogSharedValues(ctx, named, var2Data.size());
}

// Walks the items of a FixedMeta stream of kind that its header declares
// valid, polling the break and reporting progress: visit(item) gets each
// whole item, whatever its state. Counts every item in items.
template <typename Visit>
void WalkFixedItems(RunContext& ctx, platform::ByteView fixedMeta, RecordKind kind, StreamProgress* progress,
                    std::size_t& items, Visit visit) {
  const FixedMeta meta(fixedMeta, FixedMetaStride(kind));
  const std::size_t valid = meta.ValidCount();
  for (std::size_t i = 0; i < valid; ++i) {
    PollBreak(ctx);
    auto item = meta.Item(i);
    if (!item) break;
    ++items;
    if (progress) progress->At(item->offset);
    visit(*item);
  }
  if (progress) progress->Finish();
}

// Whether the record at position holds a UID (in uidField) that list
// names and filled (by list position) has not marked: the record a garbled
// item may stand for (RecordOrder).
template <typename List>
bool NamedUnfilledRecordAt(platform::ByteView fixedData, std::uint32_t position, const RecordLayout& layout,
                           Field uidField, const List& list, const std::vector<bool>& filled, bool cutShort = false) {
  const auto record = RecordAt(fixedData, position, layout, cutShort);
  const auto uid = record ? record->Unsigned(uidField) : std::nullopt;
  if (!uid) return false;
  const std::size_t index = list.Find(*uid);
  return index != List::npos && !(index < filled.size() && filled[index]);
}

}  // namespace mpp
