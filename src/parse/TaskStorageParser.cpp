#include "parse/TaskStorageParser.h"

#include <algorithm>
#include <array>
#include <bit>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "model/Validators.h"
#include "parse/Baselines.h"
#include "parse/CustomFields.h"
#include "parse/FieldMap.h"
#include "parse/StreamRecords.h"
#include "parse/VarItems.h"

namespace mpp {

namespace {

using model::SBkndTaskParams;

constexpr const char* kStorage = "TBkndTask";
constexpr std::uint32_t kTaskFieldPrefix = 0x0B400000;

bool IsTaskText(std::uint16_t type) {
  return type == kTaskNameType || type == kTaskNotesType || type == kTaskWbsType;
}

// The optional texts of a task, by var type.
std::optional<std::u16string>* ScheduleTextOf(SBkndTaskParams& task, std::uint16_t type) {
  switch (type) {
    case kTaskStartTextType: return &task.StartText;
    case kTaskFinishTextType: return &task.FinishText;
    case kTaskDurationTextType: return &task.DurationText;
    default: return nullptr;
  }
}

// The overtime values of var data: which member each type fills, and
// whether it is work (else cost).
struct OvertimeSlot {
  std::uint16_t type;
  bool work;
  std::uint32_t SBkndTaskParams::*workMember;
  double SBkndTaskParams::*costMember;
};
constexpr OvertimeSlot kOvertimeSlots[] = {
    {kTaskActualOvertimeWorkType, true, &SBkndTaskParams::ActualOvertimeWork, nullptr},
    {kTaskRemainingOvertimeWorkType, true, &SBkndTaskParams::RemainingOvertimeWork, nullptr},
    {kTaskOvertimeCostType, false, nullptr, &SBkndTaskParams::OvertimeCost},
    {kTaskActualOvertimeCostType, false, nullptr, &SBkndTaskParams::ActualOvertimeCost},
    {kTaskRemainingOvertimeCostType, false, nullptr, &SBkndTaskParams::RemainingOvertimeCost},
};

const OvertimeSlot* OvertimeSlotOf(std::uint16_t type) {
  for (const OvertimeSlot& slot : kOvertimeSlots)
    if (slot.type == type) return &slot;
  return nullptr;
}

// The status values of var data, and what a value may be: a small number
// up to most (larger ones are damage), work as the stored f64, or a UID.
struct StatusSlot {
  enum class Kind : std::uint8_t { Small, Work, Uid };
  std::uint16_t type;
  Kind kind;
  std::uint16_t most;
};
constexpr StatusSlot kStatusSlots[] = {
    {kTaskPhysicalPercentType, StatusSlot::Kind::Small, 100},
    {kTaskEarnedValueMethodType, StatusSlot::Kind::Small, 1},
    {kTaskDeliverableType, StatusSlot::Kind::Small, 2},
    {kTaskActualWorkProtectedType, StatusSlot::Kind::Work, 0},
    {kTaskActualOvertimeWorkProtectedType, StatusSlot::Kind::Work, 0},
    {kTaskExternalTaskType, StatusSlot::Kind::Uid, 0},
};

const StatusSlot* StatusSlotOf(std::uint16_t type) {
  for (const StatusSlot& slot : kStatusSlots)
    if (slot.type == type) return &slot;
  return nullptr;
}

// The value a status item keeps; nothing when it is cut short or out of
// its range.
std::optional<double> StatusValueOf(const StatusSlot& slot, platform::ByteView value) {
  switch (slot.kind) {
    case StatusSlot::Kind::Small:
      if (auto small = value.u16_at(0); small && *small <= slot.most) return *small;
      return std::nullopt;
    case StatusSlot::Kind::Work:
      if (auto bits = value.u64_at(0)) return std::bit_cast<double>(*bits);
      return std::nullopt;
    case StatusSlot::Kind::Uid:
      if (auto uid = value.u32_at(0)) return *uid;
      return std::nullopt;
  }
  return std::nullopt;
}

void PutStatus(SBkndTaskParams& task, const StatusSlot& slot, double stored) {
  // Only values the slot's kind bounds are converted: a work value may be
  // any double a damaged file holds.
  auto small = [&] { return stored >= 0 && stored <= 0xFFFF ? static_cast<std::uint16_t>(stored) : std::uint16_t{0}; };
  switch (slot.type) {
    case kTaskPhysicalPercentType: task.PhysicalPercentComplete = small(); break;
    case kTaskEarnedValueMethodType: task.EarnedValueMethod = small(); break;
    case kTaskDeliverableType: task.CommitmentType = small(); break;
    case kTaskActualWorkProtectedType: task.ActualWorkProtected = model::WorkFromRaw(stored); break;
    case kTaskActualOvertimeWorkProtectedType: task.ActualOvertimeWorkProtected = model::WorkFromRaw(stored); break;
    case kTaskExternalTaskType:
      task.ExternalTaskId = stored >= 0 && stored <= 0xFFFFFFFF ? static_cast<std::uint32_t>(stored) : 0;
      break;
    default: break;
  }
}

// The texts of a hyperlink item into the task; false when the item holds
// none.
bool KeepHyperlink(SBkndTaskParams& task, platform::ByteView item) {
  const HyperlinkItemLayout& l = kHyperlinkItem;
  bool any = false;
  std::size_t at = l.header;
  for (std::size_t n = 0; n < l.mostTexts; ++n) {
    const auto length = item.u32_at(at + l.lengthOffset);
    const auto part = item.u32_at(at + l.partOffset);
    if (!length || !part) break;
    const auto text = item.Sub(at + l.textHeader, *length);
    if (!text) break;
    std::u16string* target = *part == 0   ? &task.Hyperlink
                             : *part == 1 ? &task.HyperlinkAddress
                             : *part == 2 ? &task.HyperlinkSubAddress
                                          : nullptr;
    if (target) {
      *target = model::TextFromItem(*text);
      any = any || !target->empty();
    }
    at += l.textHeader + *length;
  }
  return any;
}

// A stored overtime value into the task. Values out of range give 0
// through the usual validators.
void PutOvertime(SBkndTaskParams& task, const OvertimeSlot& slot, double stored) {
  if (slot.work)
    task.*slot.workMember = model::WorkFromRaw(stored);
  else
    task.*slot.costMember = model::CostFromStored(stored);
}

// The field id of the custom duration whose format type is given.
std::optional<std::uint32_t> DurationOfFormat(std::uint16_t type) {
  for (const DurationFormatRun& run : kTaskDurationFormats)
    if (type >= run.firstFormatType && type < run.firstFormatType + run.count)
      return 0x0B400000u | static_cast<std::uint32_t>(run.firstDurationField + (type - run.firstFormatType));
  return std::nullopt;
}

// The duration formats a document can name (the estimated ones included).
bool KnownDurationFormat(std::uint32_t format) {
  return (format >= 3 && format <= 12) || (format >= 19 && format <= 21) || (format >= 35 && format <= 44) ||
         (format >= 51 && format <= 53);
}

// The value a pending item keeps: overtime as the stored f64, a custom
// duration format as its u16 (one the documents can name), a recurrence
// pattern as 1 when the item holds one. Nothing for other types or values
// cut short.
std::optional<double> PendingValueOf(std::uint16_t type, platform::ByteView value) {
  if (OvertimeSlotOf(type)) {
    if (auto bits = value.u64_at(0)) return std::bit_cast<double>(*bits);
    return std::nullopt;
  }
  if (DurationOfFormat(type)) {
    if (auto format = value.u16_at(0); format && KnownDurationFormat(*format)) return *format;
    return std::nullopt;
  }
  if (type == kTaskRecurrenceType && !value.empty()) return 1.0;
  if (const StatusSlot* slot = StatusSlotOf(type)) return StatusValueOf(*slot, value);
  return std::nullopt;
}

// A pending value into its task.
void PutPending(SBkndTaskParams& task, const PendingTaskValue& value) {
  if (const OvertimeSlot* slot = OvertimeSlotOf(value.type)) {
    PutOvertime(task, *slot, value.stored);
  } else if (const StatusSlot* status = StatusSlotOf(value.type)) {
    PutStatus(task, *status, value.stored);
  } else if (value.type == kTaskRecurrenceType) {
    task.Recurring = true;
  } else if (const auto field = DurationOfFormat(value.type)) {
    const auto format = static_cast<std::uint8_t>(value.stored);
    for (auto& [id, kept] : task.CustomDurationFormats)
      if (id == *field) {
        kept = format;
        return;
      }
    task.CustomDurationFormats.emplace_back(*field, format);
  }
}

// The task of uid, appended when the list has none.
SBkndTaskParams& TaskOf(model::Project& gen, std::uint32_t uid, bool* created = nullptr) {
  if (SBkndTaskParams* task = gen.FindTask(uid)) return *task;
  if (created) *created = true;
  SBkndTaskParams task;
  task.UID = uid;
  return gen.AppendTask(std::move(task));
}

// Fixed cost, late dates, slack and leveling delay; each keeps its default
// where the layout lacks it or the stored value is out of its range.
void FillSchedulingFields(SBkndTaskParams& task, const RecordView& record) {
  using F = Field;
  if (auto cost = record.Float(F::FixedCost)) task.FixedCost = model::CostFromStored(*cost);
  if (auto accrual = record.Unsigned(F::FixedCostAccrual); accrual && *accrual >= 1 && *accrual <= 3)
    task.FixedCostAccrual = static_cast<std::uint16_t>(*accrual);
  if (auto date = record.Unsigned(F::LateStart)) task.LateStart = *date;
  if (auto date = record.Unsigned(F::LateFinish)) task.LateFinish = *date;
  task.FreeSlack = record.Signed(F::FreeSlack);
  task.StartSlack = record.Signed(F::StartSlack);
  task.FinishSlack = record.Signed(F::FinishSlack);
  task.LevelingDelay = model::ClampDuration(record.UnsignedOr(F::LevelingDelay, 0));
  if (auto format = record.Unsigned(F::LevelingDelayFormat); format && *format <= 0xFF)
    task.LevelingDelayFormat = static_cast<std::uint16_t>(*format);
}

void Fill(SBkndTaskParams& task, const RecordView& record, const TaskValueRules& rules) {
  auto inRange = [](std::uint32_t value, std::uint32_t most, std::uint32_t otherwise) {
    return value <= most ? value : otherwise;
  };
  using F = Field;
  auto date = [&](F field, model::PackedDate& out) {
    if (auto value = record.Unsigned(field)) out = *value;
  };
  task.ID = record.UnsignedOr(F::TaskID, task.ID);
  date(F::Finish, task.Finish);
  date(F::Stop, task.Stop);
  date(F::Resume, task.Resume);
  task.ParentUID = record.UnsignedOr(F::ParentUID, task.ParentUID);
  task.OutlineLevel = static_cast<std::uint16_t>(record.UnsignedOr(F::OutlineLevel, task.OutlineLevel));
  task.Duration = model::ClampDuration(record.UnsignedOr(F::Duration, 0));
  task.DurationFormat = model::ValidDurationFormat(record.UnsignedOr(F::DurationFormat, task.DurationFormat));
  task.ActualDuration = model::ClampDuration(record.UnsignedOr(F::ActualDuration, 0));
  task.RemainingDuration = model::ClampDuration(record.UnsignedOr(F::RemainingDuration, 0));
  task.ConstraintType = model::ValidConstraintType(record.UnsignedOr(F::ConstraintType, 0));
  date(F::ActualStart, task.ActualStart);
  date(F::ActualFinish, task.ActualFinish);
  date(F::ConstraintDate, task.ConstraintDate);
  task.Priority = inRange(record.UnsignedOr(F::Priority, task.Priority), 1000, rules.priorityOutOfRange);
  task.PercentComplete = inRange(record.UnsignedOr(F::PercentComplete, 0), 100, rules.percentOutOfRange);
  task.PercentWorkComplete = model::ClampPercent(record.UnsignedOr(F::PercentWorkComplete, 0));
  task.Type = model::ValidTaskType(record.UnsignedOr(F::TaskType, 0));
  date(F::CreateDate, task.CreateDate);
  date(F::Start, task.Start);
  task.CalendarUID = record.UnsignedOr(F::TaskCalendarUID, task.CalendarUID);
  date(F::Deadline, task.Deadline);
  task.WorkRaw = record.FloatOr(F::Work, 0.0);
  task.Work = model::WorkFromRaw(task.WorkRaw);
  task.ActualWork = model::WorkFromRaw(record.FloatOr(F::ActualWork, 0.0));
  task.RemainingWork = model::WorkFromRaw(record.FloatOr(F::RemainingWork, 0.0));
  task.Cost = model::CostFromStored(record.FloatOr(F::Cost, 0.0));
  task.ActualCost = model::CostFromStored(record.FloatOr(F::ActualCost, 0.0));
  task.RemainingCost = model::CostFromStored(record.FloatOr(F::RemainingCost, 0.0));
  task.Estimated = (record.UnsignedOr(F::DurationFormat, 0) & kEstimatedDurationMask) != 0;
  task.Summary = 0;
  FillSchedulingFields(task, record);
  FillFixedBaseline(record, RecordKind::Task, task.Baselines);
}

void FillFlags(SBkndTaskParams& task, const FixedMetaItem& item, std::optional<platform::ByteView> row,
               const TaskFlagBits& bits, FlagValueKeeper& customFlags) {
  customFlags.Keep(task.UID, item.bytes, bits.custom);
  task.Milestone = FlagSet(item.bytes, bits.milestone);
  task.EffortDriven = FlagSet(item.bytes, bits.effortDriven);
  task.IgnoreResourceCalendar = FlagSet(item.bytes, bits.ignoreResourceCalendar);
  task.Rollup = FlagSet(item.bytes, bits.rollup);
  task.HideBar = FlagSet(item.bytes, bits.hideBar);
  task.LevelAssignments = FlagSet(item.bytes, bits.levelAssignments);
  task.LevelingCanSplit = FlagSet(item.bytes, bits.levelingCanSplit);
  task.Critical = FlagSet(item.bytes, bits.critical);
  if (row && bits.manual) task.Manual = FlagSet(*row, *bits.manual);
  if (row && bits.active) task.Active = FlagSet(*row, *bits.active);
}

// The status values inside a binary value of version 9, each handed to
// keep; returns how many were taken. The pairs are read no further than
// the value's own size and its bytes.
template <typename Keep>
std::size_t ReadStatusBlob(std::uint32_t owner, platform::ByteView value, Keep&& keep) {
  const FieldBlobLayout& l = kFieldBlob;
  const std::size_t size = std::min<std::size_t>(value.u32_at(0).value_or(0), value.size());
  if (size < l.header) return 0;
  const platform::ByteView body = value.Sub(0, size).value_or(platform::ByteView());
  const std::size_t pairs = std::min<std::size_t>(body.u32_at(l.countOffset).value_or(0), (size - l.header) / l.pair);
  std::size_t taken = 0;
  for (std::size_t i = 0; i < pairs; ++i) {
    const std::size_t at = l.header + i * l.pair;
    const std::uint32_t id = body.u32_at(at).value_or(0);
    const std::uint32_t offset = body.u32_at(at + 4).value_or(0);
    const StatusSlot* slot = (id >> 16) == (kTaskFieldPrefix >> 16) ? StatusSlotOf(id & 0xFFFF) : nullptr;
    if (!slot || offset >= size) continue;
    const auto stored = StatusValueOf(*slot, *body.Sub(offset, size - offset));
    if (!stored) continue;
    keep(PendingTaskValue{owner, slot->type, *stored});
    ++taken;
  }
  return taken;
}

}  // namespace

std::optional<std::u16string> FileMonikerPath(platform::ByteView moniker) {
  const FileMonikerLayout& l = kFileMoniker;
  const auto ansiLength = moniker.u32_at(l.ansiLength);
  if (!ansiLength) return std::nullopt;
  const auto ansi = moniker.Sub(l.ansiPath, *ansiLength);
  if (!ansi) return std::nullopt;
  const std::size_t after = l.ansiPath + *ansiLength;
  if (moniker.u16_at(after + l.versionAfterAnsi) != l.version) return std::nullopt;
  const auto rest = moniker.u32_at(after + l.restSizeAfterAnsi);
  const auto bytes = moniker.u32_at(after + l.unicodeBytesAfterAnsi);
  if (rest && *rest != 0 && bytes) {
    if (auto unicode = moniker.Sub(after + l.unicodePathAfterAnsi, *bytes)) {
      std::u16string path;
      for (std::size_t at = 0; at + 2 <= unicode->size(); at += 2) {
        const char16_t unit = static_cast<char16_t>(*unicode->u16_at(at));
        if (unit == 0) break;
        path.push_back(unit);
      }
      return path;
    }
    return std::nullopt;
  }
  // No UTF-16 path: the ANSI one, taken byte for byte.
  std::u16string path;
  for (std::size_t at = 0; at < ansi->size(); ++at) {
    const auto byte = *ansi->u8_at(at);
    if (byte == 0) break;
    path.push_back(static_cast<char16_t>(byte));
  }
  return path;
}

std::optional<ProjectLinks> ReadProjectLinks(platform::ByteView propsStream) {
  const ProjectLinksLayout& l = kProjectLinks;
  for (const PropsItem& item : ReadPropsItems(propsStream)) {
    if (item.key != kProjectLinksKey) continue;
    const platform::ByteView data = item.data;
    const auto entries = data.u32_at(l.tableCount);
    const auto countAt = data.u16_at(l.firstEntry);
    if (!entries || *entries == 0 || !countAt) return std::nullopt;
    const auto count = data.u32_at(*countAt);
    if (!count) return std::nullopt;
    ProjectLinks links;
    links.count = *count;
    if (*count > l.mostLinks) return links;  // not complete: nothing is told
    // Per link: the task it stands for and the file, when given.
    std::vector<std::optional<std::uint32_t>> tasks(*count);
    std::vector<std::optional<std::u16string>> files(*count);
    bool whole = true;
    // The table cannot hold more entries than the item has bytes.
    const std::size_t most = std::min<std::size_t>(*entries, data.size() / l.entrySize);
    whole = most == *entries;
    for (std::size_t i = 1; i < most; ++i) {
      const std::size_t entry = l.firstEntry + i * l.entrySize;
      const auto at = data.u16_at(entry);
      const auto tag = data.u16_at(entry + 2);
      if (!at || !tag) {
        whole = false;
        break;
      }
      const std::size_t link = *tag / l.linkStride;
      const std::uint16_t part = *tag % l.linkStride;
      if (link >= *count) {
        whole = false;
        continue;
      }
      if (part == l.taskPart) {
        tasks[link] = data.u32_at(*at);
        whole = whole && tasks[link].has_value();
      } else if (part == l.filePart) {
        // The moniker runs to the next entry's offset or the item's end.
        const auto next = i + 1 < most ? data.u16_at(entry + l.entrySize) : std::nullopt;
        const std::size_t end = next && *next > *at ? std::min<std::size_t>(*next, data.size()) : data.size();
        if (end > *at)
          if (auto moniker = data.Sub(*at, end - *at)) files[link] = FileMonikerPath(*moniker);
      }
    }
    for (std::size_t link = 0; link < *count; ++link) {
      if (!tasks[link]) continue;  // a link that stands for no task (a resource pool)
      if (!files[link]) {
        whole = false;
        continue;
      }
      links.insertedProjects.emplace_back(*tasks[link], std::move(*files[link]));
    }
    // By task UID, for the look-ups of the writer.
    std::sort(links.insertedProjects.begin(), links.insertedProjects.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    links.complete = whole;
    return links;
  }
  return std::nullopt;
}

std::size_t PlacePendingTaskValues(const std::vector<PendingTaskValue>& pending, model::Project& gen) {
  std::size_t placed = 0;
  for (const PendingTaskValue& value : pending) {
    SBkndTaskParams* task = gen.FindTask(value.uid);
    if (!task) continue;
    PutPending(*task, value);
    ++placed;
  }
  return placed;
}

TaskVarCounts ReadTaskVarData(RunContext& ctx, platform::ByteView varMeta, platform::ByteView var2Data,
                              model::Project& gen, StreamProgress* progress,
                              std::vector<PendingTaskValue>* pending,
                              const std::unordered_set<std::uint32_t>* blobFields) {
  TaskVarCounts counts;
  const CustomValueKeeper custom(gen, model::OwnerKind::Task);
  // A value alone makes no task: it waits for the fixed pass when there is
  // a pending list.
  auto keep = [&](const PendingTaskValue& kept) {
    if (pending)
      pending->push_back(kept);
    else if (SBkndTaskParams* task = gen.FindTask(kept.uid))
      PutPending(*task, kept);
  };
  WalkVarItems(ctx, varMeta, var2Data, progress, counts.items, counts.skipped,
               [&](const VarMetaItem& item, platform::ByteView value) {
                 const auto type = static_cast<std::uint16_t>(item.type & 0xFFFF);
                 if (IsTaskText(type)) {
                   SBkndTaskParams& task = TaskOf(gen, item.owner);
                   if (type == kTaskNameType)
                     task.Name = model::TextFromItem(value);
                   else if (type == kTaskNotesType)
                     task.Notes = model::NoteFromItem(value);
                   else
                     task.WBS = model::TextFromItem(value);
                   ++counts.texts;
                 } else if (type == kTaskStartTextType || type == kTaskFinishTextType ||
                            type == kTaskDurationTextType) {
                   *ScheduleTextOf(TaskOf(gen, item.owner), type) = model::TextFromItem(value);
                   ++counts.texts;
                 } else if (type == kTaskHyperlinkType) {
                   // A text of the task's own, like its name.
                   if (KeepHyperlink(TaskOf(gen, item.owner), value)) ++counts.hyperlinks;
                 } else if (const auto stored = PendingValueOf(type, value)) {
                   keep(PendingTaskValue{item.owner, type, *stored});
                   ++(OvertimeSlotOf(type)      ? counts.overtime
                      : DurationOfFormat(type) ? counts.durationFormats
                      : StatusSlotOf(type)     ? counts.statusValues
                                               : counts.recurrences);
                 } else if (OvertimeSlotOf(type) || DurationOfFormat(type) || type == kTaskRecurrenceType ||
                            StatusSlotOf(type)) {
                   ++counts.other;  // cut short, or a format no document names
                 } else if (custom.Keep(item.owner, item.type, value)) {
                   // Values alone make no task: the value waits for its owner.
                   ++counts.customValues;
                 } else if (blobFields && blobFields->contains(item.type)) {
                   // Binary values that no reader above took: those of
                   // version 9 that hold fields no map lists.
                   counts.statusValues += ReadStatusBlob(item.owner, value, keep);
                 } else {
                   ++counts.other;
                 }
               });
  return counts;
}

// Drops the tasks that only a deleted record's UID and a name left in the
// var data make: no live record filled them, and the plan no longer has them.
void DropDeletedNames(model::Project& gen, std::vector<std::uint32_t>& deletedUids, const std::vector<bool>& filled,
                      TaskFixedCounts& counts) {
  if (deletedUids.empty()) return;
  std::sort(deletedUids.begin(), deletedUids.end());
  std::vector<SBkndTaskParams>& tasks = gen.EditTasks();
  std::size_t kept = 0;
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    const bool stale = (i >= filled.size() || !filled[i]) && !tasks[i].IsNull &&
                       std::binary_search(deletedUids.begin(), deletedUids.end(), tasks[i].UID);
    if (stale) {
      ++counts.deletedNames;
      continue;
    }
    if (kept != i) tasks[kept] = std::move(tasks[i]);
    ++kept;
  }
  tasks.resize(kept);
}

TaskFixedCounts ReadTaskFixedData(RunContext& ctx, platform::ByteView fixedMeta, platform::ByteView fixedData,
                                  const RecordLayout& layout, model::Project& gen, StreamProgress* progress,
                                  const TaskValueRules& rules, std::optional<platform::ByteView> fixed2Meta,
                                  std::optional<platform::ByteView> fixed2Data) {
  TaskFixedCounts counts;
  const FixedMeta meta(fixedMeta, FixedMetaStride(RecordKind::Task));
  // The record a cut stream's end cuts through is read as far as it reaches.
  const bool cut = meta.DataCut(fixedData.size());
  std::optional<std::size_t> rowSize;
  if (fixed2Meta) rowSize = Fixed2MetaRowSize(*fixed2Meta, meta.Count());
  FlagValueKeeper customFlags(gen, model::OwnerKind::Task);
  auto rowOf = [&](std::size_t index) -> std::optional<platform::ByteView> {
    if (!rowSize) return std::nullopt;
    return Fixed2MetaRow(*fixed2Meta, index, *rowSize);
  };
  // Tasks already completed by a record, by list position: the first
  // record of a UID wins, later copies are left out.
  std::vector<bool> filled(gen.Tasks().size(), false);
  auto markFilled = [&](std::size_t index) {
    if (index >= filled.size()) filled.resize(index + 1, false);
    const bool was = filled[index];
    filled[index] = true;
    return was;
  };

  // The UIDs of deleted records: a name the var data still keeps for one of
  // them is no task of the plan.
  std::vector<std::uint32_t> deletedUids;

  // A garbled item stands for the record after the one before where that
  // record is a task the var data named and no record has filled yet, or
  // for the record its neighbours' UIDs place.
  RecordOrder order(RecordReach(meta, fixedData.size(), layout.recordSize), layout.recordSize);
  order.PlaceByUids(meta, fixedData, [&](std::uint32_t position) {
    const auto record = RecordAt(fixedData, position, layout, cut);
    return record ? record->Unsigned(Field::TaskUID) : std::nullopt;
  });
  auto namedTaskAt = [&](std::uint32_t position) {
    return NamedUnfilledRecordAt(fixedData, position, layout, Field::TaskUID, gen.TaskList(), filled, cut);
  };

  auto visit = [&](const FixedMetaItem& listed) {
    const std::size_t standInsBefore = counts.standIns;
    const FixedMetaItem item = order.Read(listed, namedTaskAt, counts.standIns);
    switch (item.State()) {
      case ItemState::Deleted:
      case ItemState::DeletedBlank:
        ++counts.deleted;
        if (const auto record = RecordAt(fixedData, item.position, layout, cut))
          if (const auto uid = record->Unsigned(Field::TaskUID)) deletedUids.push_back(*uid);
        return;
      case ItemState::Blank: {
        // Inside the free-slot area it is a free slot; beyond it, a task
        // that has no data yet.
        if (item.position < layout.minPosition || !fixedData.Has(item.position, kBlankSlotSize)) return;
        const std::uint32_t uid = fixedData.u32_at(item.position + kBlankSlotUid).value_or(0);
        // A slot numbered 0xFFFFnnnn is a free slot whatever its place:
        // version 9 files keep more free slots than three before the rows.
        if ((uid & kFreeSlotMask) == kFreeSlotMask) {
          ++counts.freeSlots;
          return;
        }
        bool created = false;
        SBkndTaskParams& task = TaskOf(gen, uid, &created);
        if (created) {
          // A row without data has no dates either.
          task.Start = model::kNoDate;
          task.Finish = model::kNoDate;
          task.IsNull = true;
        }
        counts.created += created;
        ++counts.blankRows;
        return;
      }
      case ItemState::Live: break;
    }
    const auto record = RecordAt(fixedData, item.position, layout, cut);
    const auto uid = record ? record->Unsigned(Field::TaskUID) : std::nullopt;
    if (!uid) {
      ++counts.unreadable;
      return;
    }
    // The project's summary row is no task of the plan: the flags it lost
    // are no loss to report.
    if (*uid == 0) counts.standIns = standInsBefore;
    bool created = false;
    SBkndTaskParams& task = TaskOf(gen, *uid, &created);
    counts.created += created;
    const std::size_t index = gen.TaskList().Find(*uid);
    if (markFilled(index)) {
      ++counts.duplicates;
      return;
    }
    Fill(task, *record, rules);
    counts.cutShort += *uid != 0 && std::uint64_t{item.position} + layout.recordSize > fixedData.size();
    const auto row = rowOf(item.index);
    FillFlags(task, item, row, rules.flags, customFlags);
    if (row && fixed2Data) task.GUID = Fixed2RecordGuid(*row, *fixed2Data);
    ++counts.records;
    gen.NoteTaskDates(task);
  };
  WalkFixedItems(ctx, fixedMeta, RecordKind::Task, progress, counts.items, visit);
  counts.items += order.VisitLostItems(visit);
  counts.unreadable += order.LostUnplaced();
  counts.countLost = order.CountLost();
  DropDeletedNames(gen, deletedUids, filled, counts);
  return counts;
}

void OutlineNumberParser(RunContext& ctx, model::Project& gen) {
  std::vector<SBkndTaskParams>& tasks = gen.EditTasks();
  const std::size_t n = tasks.size();

  // The children of each parent UID, in list order. A task is never its
  // own child, and the summary row (UID 0) is nobody's.
  std::unordered_map<std::uint32_t, std::vector<std::size_t>> children;
  for (std::size_t i = 0; i < n; ++i) {
    const SBkndTaskParams& t = tasks[i];
    if (t.ParentUID != 0 && t.UID != 0 && t.ParentUID != t.UID) children[t.ParentUID].push_back(i);
  }

  // Row 0 is the project's own, wherever the file keeps it (the 2000
  // application keeps it last); the others are numbered from 1, also when
  // the project's row was lost.
  std::uint32_t nextId = 1;
  std::uint32_t topLevel = 1;
  // Each parent UID has its children numbered once, under its first task
  // reached: duplicate UIDs and loops in the outline cannot number a task
  // twice or walk without end.
  std::unordered_set<std::uint32_t> expanded;
  struct Frame {
    std::size_t parent;
    std::size_t next = 0;  // the next child, as an index into its list
    std::size_t depth;
  };
  std::vector<Frame> stack;

  auto openChildren = [&](std::size_t parent, std::size_t depth) {
    if (depth > kMaxOutlineDepth) return;
    if (!expanded.insert(tasks[parent].UID).second) return;
    if (children.count(tasks[parent].UID)) stack.push_back({parent, 0, depth});
  };

  for (std::size_t i = 0; i < n; ++i) {
    PollBreak(ctx);
    SBkndTaskParams& task = tasks[i];
    if (task.UID == 0) {
      task.ID = 0;
      continue;
    }
    if (task.ParentUID == 0) {
      task.ID = nextId++;
      task.OutlineNumber = std::to_string(topLevel++);
      openChildren(i, 1);
      while (!stack.empty()) {
        Frame& frame = stack.back();
        const std::vector<std::size_t>& list = children.at(tasks[frame.parent].UID);
        if (frame.next >= list.size()) {
          stack.pop_back();
          continue;
        }
        const std::size_t child = list[frame.next++];
        SBkndTaskParams& parent = tasks[frame.parent];
        SBkndTaskParams& t = tasks[child];
        t.OutlineNumber = parent.OutlineNumber + "." + std::to_string(frame.next);
        parent.Summary = 1;
        t.ID = nextId++;
        openChildren(child, frame.depth + 1);  // may move frame
      }
    }
  }

  std::stable_sort(tasks.begin(), tasks.end(),
                   [](const SBkndTaskParams& a, const SBkndTaskParams& b) { return a.ID < b.ID; });
}

void TaskStorageParser(RunContext& ctx, const platform::CompoundFileReader& reader, platform::ElementId storage,
                       const RecordLayout& layout, model::Project& gen, const VarItemFormat* varFormat,
                       const TaskValueRules& rules, const std::unordered_set<std::uint32_t>* blobFields) {
  try {
    std::vector<PendingTaskValue> pending;
    {
      LoadedStream var2Data, varMeta;
      if (LoadVarStreams(ctx.log, reader, storage, var2Data, varMeta, varFormat)) {
        StreamProgress progress(ctx, kStorage, "VarData", varMeta.bytes.size(), kVarMetaHeader);
        const TaskVarCounts c = ReadTaskVarData(ctx, varMeta.View(), var2Data.View(), gen, &progress, &pending, blobFields);
        ctx.log.WriteFormat("        Task var data: %zu items, %zu texts, %zu custom values, %zu skipped", c.items,
                            c.texts, c.customValues, c.skipped);
        gen.tally.tasks.AddVar(c.items, c.skipped);
      }
    }
    {
      LoadedStream fixedData, fixedMeta, fixed2Meta, fixed2Data;
      if (LoadStreamPair(ctx.log, reader, storage, u"FixedData", u"FixedMeta", fixedData, fixedMeta, true)) {
        // Only version 14 keeps the mode bits there, and the GUIDs.
        const bool haveRows = rules.flags.manual && LoadStream(ctx.log, reader, storage, u"Fixed2Meta", fixed2Meta);
        const bool haveGuids = haveRows && LoadStream(ctx.log, reader, storage, u"Fixed2Data", fixed2Data);
        StreamProgress progress(ctx, kStorage, "FixedData", fixedMeta.bytes.size(), kFixedMetaHeader);
        const TaskFixedCounts c = ReadTaskFixedData(ctx, fixedMeta.View(), fixedData.View(), layout, gen, &progress,
                                                    rules, haveRows ? std::optional(fixed2Meta.View()) : std::nullopt,
                                                    haveGuids ? std::optional(fixed2Data.View()) : std::nullopt);
        ctx.log.WriteFormat(
            "        Task fixed data: %zu records, %zu blank rows, %zu deleted, %zu unreadable, "
            "%zu duplicates, %zu tasks without var data",
            c.records, c.blankRows, c.deleted, c.unreadable, c.duplicates, c.created);
        if (c.standIns != 0)
          ctx.log.WriteFormat("        Task fixed data: %zu garbled items read as the records around them place them",
                              c.standIns);
        gen.tally.tasks.AddFixed(c.records + c.blankRows, c.unreadable, c.standIns);
        gen.tally.tasks.countLost |= c.countLost;
        gen.tally.tasks.cutShort += c.cutShort;
      }
    }
    const std::size_t placed = PlacePendingTaskValues(pending, gen);
    if (placed != pending.size())
      ctx.log.WriteFormat("        Task values: %zu of %zu without their task", pending.size() - placed,
                          pending.size());
    OutlineNumberParser(ctx, gen);
  } catch (...) {
    ctx.log.WriteLine("User break was thrown if TaskStorageParser()");
    throw;
  }
}

}  // namespace mpp
