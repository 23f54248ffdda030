#include "parser/AssnStorageParser.h"

#include <utility>

#include "Logger.h"
#include "model/Validators.h"
#include "parser/StreamRecords.h"

namespace mpp {

namespace {

using model::SBkndAssnParams;
using model::SBkndConsParams;

// Walks the valid items of a FixedMeta stream and hands each live record,
// whole inside FixedData, to take.
template <typename Take>
FixedRecordCounts WalkRecords(platform::ByteView fixedMeta, platform::ByteView fixedData, const RecordLayout& layout,
                              StreamProgress* progress, Take take) {
  FixedRecordCounts counts;
  const FixedMeta meta(fixedMeta, FixedMetaStride(layout.kind));
  const std::size_t valid = meta.ValidCount();
  counts.stale = meta.Count() - valid;
  for (std::size_t i = 0; i < valid; ++i) {
    PollBreak();
    auto item = meta.Item(i);
    if (!item) break;
    ++counts.items;
    if (progress) progress->At(item->offset);
    switch (item->State()) {
      case ItemState::Deleted:
      case ItemState::DeletedBlank:
        ++counts.deleted;
        continue;
      case ItemState::Blank:
        ++counts.blank;
        continue;
      case ItemState::Live: break;
    }
    auto bytes = FixedRecord(fixedData, item->position, layout);
    if (!bytes) {
      ++counts.unreadable;
      continue;
    }
    take(RecordView(*bytes, layout));
    ++counts.records;
  }
  if (progress) progress->Finish();
  return counts;
}

SBkndAssnParams AssignmentFrom(const RecordView& record) {
  using F = Field;
  SBkndAssnParams assignment;
  assignment.UID = record.UnsignedOr(F::AssignmentUID, 0);
  assignment.TaskUID = record.UnsignedOr(F::AssignmentTaskUID, 0);
  assignment.ResourceUID = record.UnsignedOr(F::AssignmentResourceUID, 0);
  assignment.Units = model::ClampUnits(record.FloatOr(F::Units, 0.0));
  assignment.Work = model::WorkFromRaw(record.FloatOr(F::AssignmentWork, 0.0));
  assignment.ActualWork = model::WorkFromRaw(record.FloatOr(F::AssignmentActualWork, 0.0));
  assignment.Cost = model::CostFromStored(record.FloatOr(F::AssignmentCost, 0.0));
  assignment.Start = record.UnsignedOr(F::AssignmentStart, model::kNoDate);
  assignment.Finish = record.UnsignedOr(F::AssignmentFinish, model::kNoDate);
  assignment.Stop = 0;
  assignment.Resume = 0;
  return assignment;
}

SBkndConsParams LinkFrom(const RecordView& record) {
  using F = Field;
  SBkndConsParams link;
  link.UID = record.UnsignedOr(F::LinkUID, 0);
  link.PredecessorUID = record.UnsignedOr(F::PredecessorUID, 0);
  link.SuccessorUID = record.UnsignedOr(F::SuccessorUID, 0);
  link.Type = model::ValidLinkType(record.UnsignedOr(F::LinkType, 1));
  link.LagFormat = static_cast<std::uint16_t>(record.UnsignedOr(F::LagFormat, 0));
  // The whole stored lag: lags are negative or longer than 16 bits hold.
  if (auto lag = record.Signed(F::Lag)) link.LinkLag = *lag;
  link.CrossProject = 0;
  return link;
}

// The shared frame of both storage readers.
template <typename Read>
void ReadStorage(const platform::CompoundFileReader& reader, platform::ElementId storage, const char* storageName,
                 const char* breakLine, Read read) {
  try {
    LoadedStream fixedData, fixedMeta;
    if (!LoadStreamPair(reader, storage, u"FixedData", u"FixedMeta", fixedData, fixedMeta)) return;
    StreamProgress progress(storageName, "FixedData", fixedMeta.bytes.size(), kFixedMetaHeader);
    read(fixedMeta.View(), fixedData.View(), &progress);
  } catch (...) {
    theLog.WriteLine(breakLine);
    throw;
  }
}

void LogCounts(const char* what, const FixedRecordCounts& c) {
  theLog.WriteFormat("        %s: %zu records, %zu deleted, %zu free slots, %zu unreadable, %zu stale items", what,
                     c.records, c.deleted, c.blank, c.unreadable, c.stale);
}

}  // namespace

FixedRecordCounts ReadAssnFixedData(platform::ByteView fixedMeta, platform::ByteView fixedData,
                                    const RecordLayout& layout, CMppGen& gen, StreamProgress* progress) {
  return WalkRecords(fixedMeta, fixedData, layout, progress,
                     [&](const RecordView& record) { gen.assignments.push_back(AssignmentFrom(record)); });
}

FixedRecordCounts ReadConsFixedData(platform::ByteView fixedMeta, platform::ByteView fixedData,
                                    const RecordLayout& layout, CMppGen& gen, StreamProgress* progress) {
  return WalkRecords(fixedMeta, fixedData, layout, progress,
                     [&](const RecordView& record) {
                       // A task cannot follow itself: such a link is damage.
                       model::SBkndConsParams link = LinkFrom(record);
                       if (link.PredecessorUID != link.SuccessorUID) gen.links.push_back(link);
                     });
}

void AssnStorageParser(const platform::CompoundFileReader& reader, platform::ElementId storage,
                       const RecordLayout& layout, CMppGen& gen) {
  ReadStorage(reader, storage, "TBkndAssn", "User break was thrown if AssnStorageParser()",
              [&](platform::ByteView meta, platform::ByteView data, StreamProgress* progress) {
                LogCounts("Assignment fixed data", ReadAssnFixedData(meta, data, layout, gen, progress));
              });
}

void ConsStorageParser(const platform::CompoundFileReader& reader, platform::ElementId storage,
                       const RecordLayout& layout, CMppGen& gen) {
  ReadStorage(reader, storage, "TBkndCons", "User break was thrown if ConsStorageParser()",
              [&](platform::ByteView meta, platform::ByteView data, StreamProgress* progress) {
                LogCounts("Link fixed data", ReadConsFixedData(meta, data, layout, gen, progress));
              });
}

}  // namespace mpp
