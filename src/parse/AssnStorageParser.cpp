#include "parse/AssnStorageParser.h"

#include <bit>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "model/Validators.h"
#include "parse/Baselines.h"
#include "parse/CustomFields.h"
#include "parse/StreamRecords.h"
#include "parse/VarItems.h"
#include "parse/WorkBlocks.h"

namespace mpp {

namespace {

using model::SBkndAssnParams;
using model::SBkndConsParams;

// Walks the valid items of a FixedMeta stream and hands each live record,
// whole inside FixedData, to take, which returns false for a record it
// leaves out as a stale copy. An item that names the record an earlier
// live item named is a stale copy past the count of valid items its header
// tells; within it, or where the header was damaged (zeroed items all name
// the first record), it is garbled, and its own record unreadable.
template <typename Take>
FixedRecordCounts WalkRecords(RunContext& ctx, platform::ByteView fixedMeta, platform::ByteView fixedData,
                              const RecordLayout& layout, StreamProgress* progress, Take take) {
  FixedRecordCounts counts;
  const FixedMeta meta(fixedMeta, FixedMetaStride(layout.kind));
  counts.stale = meta.Count() - meta.ValidCount();
  std::unordered_set<std::uint32_t> named;
  const std::optional<std::size_t> valid = meta.CountTold();
  WalkFixedItems(ctx, fixedMeta, layout.kind, progress, counts.items, [&](const FixedMetaItem& item) {
    switch (item.State()) {
      case ItemState::Deleted:
      case ItemState::DeletedBlank:
        ++counts.deleted;
        return;
      case ItemState::Blank:
        ++counts.blank;
        return;
      case ItemState::Live: break;
    }
    const auto record = RecordAt(fixedData, item.position, layout);
    if (!record) {
      ++counts.unreadable;
      return;
    }
    if (!named.insert(item.position).second) {
      ++(valid && item.index >= *valid ? counts.stale : counts.unreadable);
      return;
    }
    if (take(*record, item))
      ++counts.records;
    else
      ++counts.stale;
  });
  // The items a meta cut inside an item still counts past its end were
  // lost, and their records with them.
  if (meta.EndsInsideItem()) counts.unreadable += meta.LostRecords(fixedData.size(), layout.recordSize);
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
  if (auto work = record.Float(F::AssignmentRegularWork)) assignment.RegularWork = model::WorkFromRaw(*work);
  if (auto work = record.Float(F::AssignmentRemainingWork)) assignment.RemainingWork = model::WorkFromRaw(*work);
  assignment.Cost = model::CostFromStored(record.FloatOr(F::AssignmentCost, 0.0));
  if (auto cost = record.Float(F::AssignmentActualCost)) assignment.ActualCost = model::CostFromStored(*cost);
  if (auto cost = record.Float(F::AssignmentRemainingCost)) assignment.RemainingCost = model::CostFromStored(*cost);
  assignment.Start = record.UnsignedOr(F::AssignmentStart, model::kNoDate);
  assignment.Finish = record.UnsignedOr(F::AssignmentFinish, model::kNoDate);
  // 0 where the layout lacks them: no date.
  assignment.Stop = record.UnsignedOr(F::AssignmentStop, 0);
  assignment.Resume = record.UnsignedOr(F::AssignmentResume, 0);
  assignment.Delay = model::ClampDuration(record.UnsignedOr(F::AssignmentDelay, 0));
  assignment.LevelingDelay = model::ClampDuration(record.UnsignedOr(F::AssignmentLevelingDelay, 0));
  assignment.DelayFormat = model::ValidDurationFormat(record.UnsignedOr(F::AssignmentDelayFormat, assignment.DelayFormat));
  assignment.CostRateTable = model::ValidRateTable(record.UnsignedOr(F::AssignmentCostRateTable, 0));
  FillFixedBaseline(record, RecordKind::Assignment, assignment.Baselines);
  return assignment;
}

// The GUID of the assignment whose FixedMeta item has this index, from its
// second record; nothing when the row, the record or a GUID is missing, or
// when an earlier row placed the same record (a damaged row: one GUID must
// not name two assignments).
std::optional<std::array<std::uint8_t, 16>> GuidOf(const AssnSideStreams& side, std::size_t index,
                                                   std::optional<std::size_t> rowSize,
                                                   std::unordered_set<std::uint32_t>& taken) {
  if (!rowSize) return std::nullopt;
  const auto row = Fixed2MetaRow(side.fixed2Meta, index, *rowSize);
  if (!row) return std::nullopt;
  const auto position = row->u32_at(kFixed2Record.rowPosition);
  if (!position || !taken.insert(*position).second) return std::nullopt;
  return Fixed2RecordGuid(*row, side.fixed2Data);
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
void ReadStorage(RunContext& ctx, const platform::CompoundFileReader& reader, platform::ElementId storage,
                 const char* storageName, const char* breakLine, Read read) {
  try {
    // An empty table's FixedData holds no byte, and a rebuilt file keeps no
    // empty stream: without it, the FixedMeta's items (none, for a table
    // that is empty) name records that cannot be read.
    LoadedStream fixedData, fixedMeta;
    if (!LoadStream(ctx.log, reader, storage, u"FixedData", fixedData)) LogMissingStream(ctx.log, u"FixedData");
    if (!LoadStream(ctx.log, reader, storage, u"FixedMeta", fixedMeta)) {
      LogMissingStream(ctx.log, u"FixedMeta");
      return;
    }
    StreamProgress progress(ctx, storageName, "FixedData", fixedMeta.bytes.size(), kFixedMetaHeader);
    read(fixedMeta.View(), fixedData.View(), &progress);
  } catch (...) {
    ctx.log.WriteLine(breakLine);
    throw;
  }
}

void LogCounts(Logger& log, const char* what, const FixedRecordCounts& c) {
  log.WriteFormat("        %s: %zu records, %zu deleted, %zu free slots, %zu unreadable, %zu stale items", what,
                  c.records, c.deleted, c.blank, c.unreadable, c.stale);
}

}  // namespace

FixedRecordCounts ReadAssnFixedData(RunContext& ctx, platform::ByteView fixedMeta, platform::ByteView fixedData,
                                    const RecordLayout& layout, model::Project& gen, StreamProgress* progress,
                                    const AssnSideStreams& side) {
  FlagValueKeeper flags(gen, model::OwnerKind::Assignment);
  std::unordered_set<std::uint32_t> takenRecords;
  // An item past the header's count may hold an earlier copy of a live
  // assignment: the same UID for the same task and resource. The first
  // record of a UID is the live one (its var data is read into it); a copy
  // would write that UID twice.
  std::unordered_map<std::uint32_t, std::pair<std::uint32_t, std::uint32_t>> pairOfUid;
  const std::optional<std::size_t> rowSize =
      side.fixed2Data.size() ? Fixed2MetaRowSize(side.fixed2Meta, FixedMeta(fixedMeta, FixedMetaStride(layout.kind)).Count())
                             : std::nullopt;
  return WalkRecords(ctx, fixedMeta, fixedData, layout, progress,
                     [&](const RecordView& record, const FixedMetaItem& item) {
                       SBkndAssnParams assignment = AssignmentFrom(record);
                       const auto [known, first] = pairOfUid.try_emplace(
                           assignment.UID, assignment.TaskUID, assignment.ResourceUID);
                       if (!first && known->second == std::pair(assignment.TaskUID, assignment.ResourceUID))
                         return false;
                       assignment.Guid = GuidOf(side, item.index, rowSize, takenRecords);
                       if (side.bits) {
                         flags.Keep(assignment.UID, item.bytes, side.bits->custom);
                         if (FlagSet(item.bytes, side.bits->contoured)) assignment.WorkContour = model::kContouredByHand;
                       }
                       gen.assignments.push_back(std::move(assignment));
                       return true;
                     });
}

FixedRecordCounts ReadConsFixedData(RunContext& ctx, platform::ByteView fixedMeta, platform::ByteView fixedData,
                                    const RecordLayout& layout, model::Project& gen, StreamProgress* progress) {
  return WalkRecords(ctx, fixedMeta, fixedData, layout, progress, [&](const RecordView& record, const FixedMetaItem&) {
    // A task cannot follow itself: such a link is damage.
    model::SBkndConsParams link = LinkFrom(record);
    if (link.PredecessorUID != link.SuccessorUID) gen.links.push_back(link);
    return true;
  });
}

namespace {

// The var values of an assignment read besides its baselines and custom
// fields, by field index (the low 16 bits of the field id). The file keeps
// none of them where the value is 0 (or the notes empty).
enum class AssnVarValue : std::uint8_t { Work, Money, Date, Notes };
struct AssnVarField {
  std::uint16_t field;
  AssnVarValue value;
};
constexpr AssnVarField kOvertimeWork{0x09, AssnVarValue::Work};
constexpr AssnVarField kActualOvertimeWork{0x0D, AssnVarValue::Work};
constexpr AssnVarField kRemainingOvertimeWork{0x0E, AssnVarValue::Work};
constexpr AssnVarField kActualOvertimeCost{0x1E, AssnVarValue::Money};
constexpr AssnVarField kRemainingOvertimeCost{0x1F, AssnVarValue::Money};
constexpr AssnVarField kNotes{0x47, AssnVarValue::Notes};
// Versions 12 and 14 only.
constexpr AssnVarField kActualWorkProtected{0x276, AssnVarValue::Work};
constexpr AssnVarField kActualOvertimeWorkProtected{0x277, AssnVarValue::Work};
constexpr AssnVarField kCreationDate{0x27A, AssnVarValue::Date};
constexpr AssnVarField kBudgetWork{0x29D, AssnVarValue::Work};
constexpr AssnVarField kBudgetCost{0x29E, AssnVarValue::Money};
constexpr AssnVarField kAssnVarFields[] = {kOvertimeWork,          kActualOvertimeWork, kRemainingOvertimeWork,
                                           kActualOvertimeCost,    kRemainingOvertimeCost, kCreationDate,
                                           kBudgetWork,            kBudgetCost,            kActualWorkProtected,
                                           kActualOvertimeWorkProtected, kNotes};

// Puts one value into the assignment; false when it is no such field or
// its bytes do not hold one.
bool TakeAssnVar(SBkndAssnParams& assignment, std::uint16_t field, platform::ByteView value) {
  for (const AssnVarField& known : kAssnVarFields) {
    if (known.field != field) continue;
    if (known.value == AssnVarValue::Notes) {
      assignment.Notes = model::NoteFromItem(value);
      return true;
    }
    if (known.value == AssnVarValue::Date) {
      const auto date = value.u32_at(0);
      if (!date || !model::HasDate(*date, true)) return false;
      assignment.CreationDate = *date;
      return true;
    }
    const auto raw = value.u64_at(0);
    if (!raw) return false;
    const double number = std::bit_cast<double>(*raw);
    if (known.value == AssnVarValue::Money) {
      const double cost = model::CostFromStored(number);
      if (field == kActualOvertimeCost.field) assignment.ActualOvertimeCost = cost;
      else if (field == kRemainingOvertimeCost.field) assignment.RemainingOvertimeCost = cost;
      else assignment.BudgetCost = cost;
      return true;
    }
    const std::uint32_t work = model::WorkFromRaw(number);
    if (field == kOvertimeWork.field) assignment.OvertimeWork = work;
    else if (field == kActualOvertimeWork.field) assignment.ActualOvertimeWork = work;
    else if (field == kRemainingOvertimeWork.field) assignment.RemainingOvertimeWork = work;
    else if (field == kActualWorkProtected.field) assignment.ActualWorkProtected = work;
    else if (field == kActualOvertimeWorkProtected.field) assignment.ActualOvertimeWorkProtected = work;
    else assignment.BudgetWork = work;
    return true;
  }
  return false;
}

}  // namespace

// The stretches and pauses of the completed or remaining work (the first
// value of an owner holds); true when the value was one of them. The
// remaining work also names its predefined contour, unless the FixedMeta
// item marked the work as reshaped by hand.
bool TakeWorkBlocks(SBkndAssnParams& assignment, std::uint32_t field, platform::ByteView value) {
  if (field != kRemainingWorkBlocksField && field != kCompletedWorkBlocksField) return false;
  const bool remaining = field == kRemainingWorkBlocksField;
  if (remaining && !assignment.WorkContour) assignment.WorkContour = ReadWorkContour(value);
  std::vector<model::SWorkBlock>& blocks = remaining ? assignment.RemainingBlocks : assignment.CompletedBlocks;
  if (blocks.empty()) blocks = ReadWorkBlocks(value, remaining ? kRemainingWorkBlock : kCompletedWorkBlock);
  return !blocks.empty();
}

AssnVarCounts ReadAssnVarData(RunContext& ctx, platform::ByteView varMeta, platform::ByteView var2Data,
                              model::Project& gen) {
  AssnVarCounts counts;
  std::unordered_map<std::uint32_t, std::size_t> byUid;
  for (std::size_t i = 0; i < gen.assignments.size(); ++i) byUid.try_emplace(gen.assignments[i].UID, i);
  const CustomValueKeeper custom(gen, model::OwnerKind::Assignment);
  WalkVarItems(ctx, varMeta, var2Data, nullptr, counts.items, counts.skipped,
               [&](const VarMetaItem& item, platform::ByteView value) {
                 auto found = byUid.find(item.owner);
                 if (found == byUid.end()) return;
                 if (TakeWorkBlocks(gen.assignments[found->second], item.type & 0xFFFF, value))
                   ++counts.splits;
                 else if (TakeAssnVar(gen.assignments[found->second], static_cast<std::uint16_t>(item.type & 0xFFFF),
                                 value))
                   ++counts.values;
                 else if (custom.Keep(item.owner, item.type, value))
                   ++counts.customValues;
               });
  return counts;
}

void AssnVarParser(RunContext& ctx, const platform::CompoundFileReader& reader, platform::ElementId storage,
                   const VarItemFormat* format9, model::Project& gen) {
  LoadedStream var2Data, varMeta;
  if (!LoadVarStreams(ctx.log, reader, storage, var2Data, varMeta, format9)) return;
  const AssnVarCounts c = ReadAssnVarData(ctx, varMeta.View(), var2Data.View(), gen);
  ctx.log.WriteFormat("        Assignment var data: %zu values, %zu custom field values, %zu split works", c.values,
                      c.customValues, c.splits);
}

std::size_t ReadAssnVarData9(RunContext& ctx, platform::ByteView varMeta, platform::ByteView var2Data,
                             model::Project& gen) {
  std::unordered_map<std::uint32_t, std::size_t> byUid;
  for (std::size_t i = 0; i < gen.assignments.size(); ++i) byUid.try_emplace(gen.assignments[i].UID, i);
  std::size_t items = 0, skipped = 0, kept = 0;
  WalkVarItems(ctx, varMeta, var2Data, nullptr, items, skipped, [&](const VarMetaItem& item, platform::ByteView value) {
    const std::uint32_t type = item.type;
    const bool fits = (type == kAssnRawType7 && value.size() == 68) || (type == kAssnRawType9 && value.size() == 76) ||
                      (type == kAssnValueType126 && value.size() == 4);
    if (type != kAssnRawType7 && type != kAssnRawType9 && type != kAssnValueType126) return;
    if (!fits) {
      ctx.log.WriteFormat("        Uncorrect data size = %d", static_cast<int>(value.size()));
      return;
    }
    auto [at, added] = byUid.try_emplace(item.owner, gen.assignments.size());
    if (added) {
      ctx.log.WriteLine("        No similar record, add new record");
      SBkndAssnParams assignment;
      assignment.UID = item.owner;
      gen.assignments.push_back(std::move(assignment));
    } else {
      ctx.log.WriteLine("        Record already exists, set new parameters");
    }
    SBkndAssnParams& assignment = gen.assignments[at->second];
    if (type == kAssnValueType126) {
      assignment.RawType126 = *value.u32_at(0);
    } else {
      std::vector<std::uint8_t>& raw = type == kAssnRawType7 ? assignment.RawVar7 : assignment.RawVar9;
      raw.resize(value.size());
      value.CopyTo(0, value.size(), raw.data());
    }
    ++kept;
  });
  return kept;
}

void AssnVarParser9(RunContext& ctx, const platform::CompoundFileReader& reader, platform::ElementId storage,
                    model::Project& gen) {
  try {
    VarItemFormat format;
    for (std::uint8_t code : {kAssnRawType7, kAssnRawType9, kAssnValueType126}) format.fieldIds.emplace(code, code);
    LoadedStream var2Data, varMeta;
    if (!LoadVarStreams(ctx.log, reader, storage, var2Data, varMeta, &format)) return;
    ctx.log.WriteFormat("        Assignment var data: %zu values kept",
                        ReadAssnVarData9(ctx, varMeta.View(), var2Data.View(), gen));
  } catch (...) {
    ctx.log.WriteLine("User break was thrown if AssnStorageParser()");
    throw;
  }
}

void AssnStorageParser(RunContext& ctx, const platform::CompoundFileReader& reader, platform::ElementId storage,
                       const RecordLayout& layout, model::Project& gen, const AssignmentItemBits* bits) {
  ReadStorage(ctx, reader, storage, "TBkndAssn", "User break was thrown if AssnStorageParser()",
              [&](platform::ByteView meta, platform::ByteView data, StreamProgress* progress) {
                // The second records are optional: without them the
                // assignments go without GUIDs.
                LoadedStream fixed2Meta, fixed2Data;
                AssnSideStreams side;
                side.bits = bits;
                if (LoadStream(ctx.log, reader, storage, u"Fixed2Meta", fixed2Meta) &&
                    LoadStream(ctx.log, reader, storage, u"Fixed2Data", fixed2Data)) {
                  side.fixed2Meta = fixed2Meta.View();
                  side.fixed2Data = fixed2Data.View();
                }
                const FixedRecordCounts c = ReadAssnFixedData(ctx, meta, data, layout, gen, progress, side);
                LogCounts(ctx.log, "Assignment fixed data", c);
                gen.tally.assignments.AddFixed(c.records, c.unreadable);
              });
}

void ConsStorageParser(RunContext& ctx, const platform::CompoundFileReader& reader, platform::ElementId storage,
                       const RecordLayout& layout, model::Project& gen) {
  ReadStorage(ctx, reader, storage, "TBkndCons", "User break was thrown if ConsStorageParser()",
              [&](platform::ByteView meta, platform::ByteView data, StreamProgress* progress) {
                const FixedRecordCounts c = ReadConsFixedData(ctx, meta, data, layout, gen, progress);
                LogCounts(ctx.log, "Link fixed data", c);
                gen.tally.links.AddFixed(c.records, c.unreadable);
              });
}

}  // namespace mpp
