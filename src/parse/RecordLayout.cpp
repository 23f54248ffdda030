#include "parse/RecordLayout.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace mpp {

namespace {

struct FieldInfo {
  Field field;
  RecordKind kind;
  std::uint32_t id;
};

// Field identifiers as the files' field maps give them.
constexpr std::array<FieldInfo, static_cast<std::size_t>(Field::Count)> kFieldInfo = {{
    {Field::TaskUID, RecordKind::Task, 0x0B400056},
    {Field::TaskID, RecordKind::Task, 0x0B400017},
    {Field::Finish, RecordKind::Task, 0x0B400026},
    {Field::Stop, RecordKind::Task, 0x0B400064},
    {Field::Resume, RecordKind::Task, 0x0B400063},
    {Field::ParentUID, RecordKind::Task, 0x0B4000A0},
    {Field::OutlineLevel, RecordKind::Task, 0x0B4000F9},
    {Field::Duration, RecordKind::Task, 0x0B40001D},
    {Field::DurationFormat, RecordKind::Task, 0x0B4000B5},
    {Field::ActualDuration, RecordKind::Task, 0x0B40001C},
    {Field::RemainingDuration, RecordKind::Task, 0x0B40001F},
    {Field::ConstraintType, RecordKind::Task, 0x0B400011},
    {Field::ActualStart, RecordKind::Task, 0x0B400029},
    {Field::ActualFinish, RecordKind::Task, 0x0B40002A},
    {Field::ConstraintDate, RecordKind::Task, 0x0B400012},
    {Field::Priority, RecordKind::Task, 0x0B400019},
    {Field::PercentComplete, RecordKind::Task, 0x0B400020},
    {Field::PercentWorkComplete, RecordKind::Task, 0x0B400021},
    {Field::TaskType, RecordKind::Task, 0x0B400080},
    {Field::CreateDate, RecordKind::Task, 0x0B40005D},
    {Field::Start, RecordKind::Task, 0x0B400025},
    {Field::TaskCalendarUID, RecordKind::Task, 0x0B400191},
    {Field::Deadline, RecordKind::Task, 0x0B4001B5},
    {Field::Work, RecordKind::Task, 0x0B400000},
    {Field::ActualWork, RecordKind::Task, 0x0B400002},
    {Field::RemainingWork, RecordKind::Task, 0x0B400004},
    {Field::Cost, RecordKind::Task, 0x0B400005},
    {Field::ActualCost, RecordKind::Task, 0x0B400007},
    {Field::RemainingCost, RecordKind::Task, 0x0B40000A},
    {Field::ResourceUID, RecordKind::Resource, 0x0C40001B},
    {Field::ResourceID, RecordKind::Resource, 0x0C400000},
    {Field::StandardRateFormat, RecordKind::Resource, 0x0C400046},
    {Field::OvertimeRateFormat, RecordKind::Resource, 0x0C400047},
    {Field::ResourceTypeCode, RecordKind::Resource, 0x0C400110},
    {Field::ResourceCalendarUID, RecordKind::Resource, 0x0C400038},
    {Field::StandardRate, RecordKind::Resource, 0x0C400006},
    {Field::OvertimeRate, RecordKind::Resource, 0x0C400007},
    {Field::CostPerUse, RecordKind::Resource, 0x0C400012},
    {Field::CalendarUID, RecordKind::Calendar, 0x0D400009},
    {Field::BaseCalendarUID, RecordKind::Calendar, 0x0D400006},
    {Field::CalendarResourceUID, RecordKind::Calendar, 0x0D400007},
    {Field::AssignmentUID, RecordKind::Assignment, 0x0F400000},
    {Field::AssignmentTaskUID, RecordKind::Assignment, 0x0F400001},
    {Field::AssignmentResourceUID, RecordKind::Assignment, 0x0F400002},
    {Field::AssignmentStart, RecordKind::Assignment, 0x0F400014},
    {Field::AssignmentFinish, RecordKind::Assignment, 0x0F400015},
    {Field::Units, RecordKind::Assignment, 0x0F400007},
    {Field::AssignmentWork, RecordKind::Assignment, 0x0F400008},
    {Field::AssignmentActualWork, RecordKind::Assignment, 0x0F40000A},
    {Field::AssignmentCost, RecordKind::Assignment, 0x0F40001A},
    {Field::AssignmentActualCost, RecordKind::Assignment, 0x0F40001C},
    {Field::AssignmentRemainingCost, RecordKind::Assignment, 0x0F40001D},
    {Field::LinkUID, RecordKind::Link, 0x0E400000},
    {Field::PredecessorUID, RecordKind::Link, 0x0E400002},
    {Field::SuccessorUID, RecordKind::Link, 0x0E400005},
    {Field::LinkType, RecordKind::Link, 0x0E400007},
    {Field::LagFormat, RecordKind::Link, 0x0E40000A},
    {Field::Lag, RecordKind::Link, 0x0E400009},
    // Tasks: fixed cost, late dates, slack and leveling delay.
    {Field::FixedCost, RecordKind::Task, 0x0B400008},
    {Field::FixedCostAccrual, RecordKind::Task, 0x0B4000C8},
    {Field::LateStart, RecordKind::Task, 0x0B400027},
    {Field::LateFinish, RecordKind::Task, 0x0B400028},
    {Field::FreeSlack, RecordKind::Task, 0x0B400015},
    {Field::StartSlack, RecordKind::Task, 0x0B4001B6},
    {Field::FinishSlack, RecordKind::Task, 0x0B4001B7},
    {Field::LevelingDelay, RecordKind::Task, 0x0B400014},
    {Field::LevelingDelayFormat, RecordKind::Task, 0x0B4000B2},
    // Resources.
    {Field::AccrueAt, RecordKind::Resource, 0x0C400013},
    // Baseline 0.
    {Field::TaskBaselineStart, RecordKind::Task, 0x0B40002B},
    {Field::TaskBaselineFinish, RecordKind::Task, 0x0B40002C},
    {Field::TaskBaselineDuration, RecordKind::Task, 0x0B40001B},
    {Field::TaskBaselineWork, RecordKind::Task, 0x0B400001},
    {Field::TaskBaselineCost, RecordKind::Task, 0x0B400006},
    {Field::ResourceBaselineWork, RecordKind::Resource, 0x0C40000F},
    {Field::ResourceBaselineCost, RecordKind::Resource, 0x0C400011},
    {Field::AssignmentBaselineStart, RecordKind::Assignment, 0x0F400092},
    {Field::AssignmentBaselineFinish, RecordKind::Assignment, 0x0F400093},
    {Field::AssignmentBaselineWork, RecordKind::Assignment, 0x0F400010},
    {Field::AssignmentBaselineCost, RecordKind::Assignment, 0x0F400020},
    // Assignments: delays, rate table, regular and remaining work, stop and resume.
    {Field::AssignmentDelay, RecordKind::Assignment, 0x0F400019},
    {Field::AssignmentLevelingDelay, RecordKind::Assignment, 0x0F400091},
    {Field::AssignmentDelayFormat, RecordKind::Assignment, 0x0F400037},
    {Field::AssignmentCostRateTable, RecordKind::Assignment, 0x0F400050},
    {Field::AssignmentRegularWork, RecordKind::Assignment, 0x0F40000B},
    {Field::AssignmentRemainingWork, RecordKind::Assignment, 0x0F40000C},
    {Field::AssignmentStop, RecordKind::Assignment, 0x0F400108},
    {Field::AssignmentResume, RecordKind::Assignment, 0x0F400018},
    // Resource totals.
    {Field::MaxUnits, RecordKind::Resource, 0x0C400004},
    {Field::PeakUnits, RecordKind::Resource, 0x0C40001A},
    {Field::ResourceWork, RecordKind::Resource, 0x0C40000D},
    {Field::ResourceRegularWork, RecordKind::Resource, 0x0C400026},
    {Field::ResourceOvertimeWork, RecordKind::Resource, 0x0C400010},
    {Field::ResourceActualWork, RecordKind::Resource, 0x0C40000E},
    {Field::ResourceRemainingWork, RecordKind::Resource, 0x0C400016},
    {Field::ResourceActualOvertimeWork, RecordKind::Resource, 0x0C400027},
    {Field::ResourceRemainingOvertimeWork, RecordKind::Resource, 0x0C400028},
    {Field::ResourceCost, RecordKind::Resource, 0x0C40000C},
    {Field::ResourceActualCost, RecordKind::Resource, 0x0C40000B},
    {Field::ResourceRemainingCost, RecordKind::Resource, 0x0C400015},
    {Field::ResourceOvertimeCost, RecordKind::Resource, 0x0C40002F},
    {Field::ResourceActualOvertimeCost, RecordKind::Resource, 0x0C400030},
    {Field::ResourceRemainingOvertimeCost, RecordKind::Resource, 0x0C400031},
}};

constexpr bool InfoInFieldOrder() {
  for (std::size_t i = 0; i < kFieldInfo.size(); ++i)
    if (static_cast<std::size_t>(kFieldInfo[i].field) != i) return false;
  return true;
}
static_assert(InfoInFieldOrder(), "kFieldInfo must list the fields in their enum order");

using E = Encoding;
using F = Field;

// Version 14, 2010 application: offset and encoding of each field.
const RecordLayout kTask14{RecordKind::Task, RecordLayout::Source::BuiltIn, 206, 48, {
    {F::TaskUID, 0, E::U32},
    {F::TaskID, 4, E::U32},
    {F::Finish, 8, E::Date},
    {F::Stop, 16, E::Date},
    {F::Resume, 20, E::Date},
    {F::ParentUID, 36, E::U32},
    {F::OutlineLevel, 40, E::U16},
    {F::Duration, 42, E::U32},
    {F::DurationFormat, 46, E::U8},
    {F::ActualDuration, 48, E::U32},
    {F::RemainingDuration, 52, E::U32},
    {F::ConstraintType, 56, E::U8},
    {F::ActualStart, 72, E::Date},
    {F::ActualFinish, 76, E::Date},
    {F::ConstraintDate, 80, E::Date},
    {F::Priority, 88, E::U16},
    {F::PercentComplete, 90, E::U16},
    {F::PercentWorkComplete, 92, E::U16},
    {F::TaskType, 94, E::U16},
    {F::CreateDate, 98, E::Date},
    {F::Start, 106, E::Date},
    {F::TaskCalendarUID, 118, E::U32},
    {F::Deadline, 122, E::Date},
    {F::Work, 126, E::F64},
    {F::ActualWork, 134, E::F64},
    {F::RemainingWork, 142, E::F64},
    {F::Cost, 150, E::F64},
    {F::ActualCost, 166, E::F64},
    {F::RemainingCost, 174, E::F64},
    // Fixed cost, late dates, slack and leveling delay.
    {F::FixedCost, 158, E::F64},
    {F::FixedCostAccrual, 96, E::U16},
    {F::LateStart, 12, E::Date},
    {F::LateFinish, 110, E::Date},
    {F::FreeSlack, 24, E::I32},
    {F::StartSlack, 28, E::I32},
    {F::FinishSlack, 32, E::I32},
    {F::LevelingDelay, 58, E::U32},
    {F::LevelingDelayFormat, 62, E::U16},
}};

const RecordLayout kResource14{RecordKind::Resource, RecordLayout::Source::BuiltIn, 188, 48, {
    {F::ResourceUID, 0, E::U32},
    {F::ResourceID, 4, E::U32},
    {F::StandardRateFormat, 8, E::U16},
    {F::OvertimeRateFormat, 10, E::U16},
    {F::ResourceTypeCode, 14, E::U16},
    {F::ResourceCalendarUID, 16, E::U32},
    {F::StandardRate, 28, E::F64},
    {F::OvertimeRate, 36, E::F64},
    {F::CostPerUse, 84, E::F64},
    {F::AccrueAt, 12, E::U16},
    // Baseline 0.
    {F::ResourceBaselineWork, 68, E::F64},
    {F::ResourceBaselineCost, 148, E::F64},
    // Totals.
    {F::MaxUnits, 44, E::F64},
    {F::PeakUnits, 124, E::F64},
    {F::ResourceWork, 52, E::F64},
    {F::ResourceRegularWork, 100, E::F64},
    {F::ResourceOvertimeWork, 76, E::F64},
    {F::ResourceActualWork, 60, E::F64},
    {F::ResourceRemainingWork, 92, E::F64},
    {F::ResourceActualOvertimeWork, 108, E::F64},
    {F::ResourceRemainingOvertimeWork, 116, E::F64},
    {F::ResourceCost, 140, E::F64},
    {F::ResourceActualCost, 132, E::F64},
    {F::ResourceRemainingCost, 156, E::F64},
    {F::ResourceOvertimeCost, 164, E::F64},
    {F::ResourceActualOvertimeCost, 172, E::F64},
    {F::ResourceRemainingOvertimeCost, 180, E::F64},
}};

// Calendar records lie beyond the first 63 bytes of their FixedData.
const RecordLayout kCalendar14{RecordKind::Calendar, RecordLayout::Source::BuiltIn, 12, 64, {
    {F::CalendarUID, 0, E::U32},
    {F::BaseCalendarUID, 4, E::U32},
    {F::CalendarResourceUID, 8, E::U32},
}};

const RecordLayout kAssignment14{RecordKind::Assignment, RecordLayout::Source::BuiltIn, 110, 0, {
    {F::AssignmentUID, 0, E::U32},
    {F::AssignmentTaskUID, 4, E::U32},
    {F::AssignmentResourceUID, 8, E::U32},
    {F::AssignmentStart, 12, E::Date},
    {F::AssignmentFinish, 16, E::Date},
    {F::Units, 46, E::F64},
    {F::AssignmentWork, 54, E::F64},
    {F::AssignmentActualWork, 62, E::F64},
    {F::AssignmentCost, 86, E::F64},
    {F::AssignmentActualCost, 94, E::F64},
    {F::AssignmentRemainingCost, 102, E::F64},
    // Delays, rate table, regular and remaining work, stop and resume.
    {F::AssignmentDelay, 24, E::U32},
    {F::AssignmentDelayFormat, 28, E::U16},
    {F::AssignmentLevelingDelay, 30, E::U32},
    {F::AssignmentCostRateTable, 34, E::U16},
    {F::AssignmentRegularWork, 70, E::F64},
    {F::AssignmentRemainingWork, 78, E::F64},
    {F::AssignmentStop, 36, E::Date},
    {F::AssignmentResume, 20, E::Date},
}};

const RecordLayout kLink14{RecordKind::Link, RecordLayout::Source::BuiltIn, 20, 0, {
    {F::LinkUID, 0, E::U32},
    {F::PredecessorUID, 4, E::U32},
    {F::SuccessorUID, 8, E::U32},
    {F::LinkType, 12, E::U16},
    {F::LagFormat, 14, E::U16},
    {F::Lag, 16, E::I32},
}};

}  // namespace

std::u16string_view StorageName(RecordKind kind) {
  switch (kind) {
    case RecordKind::Task: return u"TBkndTask";
    case RecordKind::Resource: return u"TBkndRsc";
    case RecordKind::Calendar: return u"TBkndCal";
    case RecordKind::Assignment: return u"TBkndAssn";
    case RecordKind::Link: return u"TBkndCons";
  }
  return u"";
}

std::size_t FixedMetaStride(RecordKind kind) {
  switch (kind) {
    case RecordKind::Task: return 47;
    case RecordKind::Resource: return 37;
    case RecordKind::Calendar: return 10;
    case RecordKind::Assignment: return 34;
    case RecordKind::Link: return 10;
  }
  return 0;
}

std::size_t WidthOf(Encoding encoding) {
  switch (encoding) {
    case Encoding::U8: return 1;
    case Encoding::U16: return 2;
    case Encoding::U32:
    case Encoding::I32:
    case Encoding::Date: return 4;
    case Encoding::F64: return 8;
  }
  return 0;
}

RecordKind KindOf(Field field) { return kFieldInfo[static_cast<std::size_t>(field)].kind; }

std::uint32_t FieldIdOf(Field field) { return kFieldInfo[static_cast<std::size_t>(field)].id; }

const FieldSlot* RecordLayout::Find(Field field) const {
  for (const FieldSlot& slot : fields)
    if (slot.field == field) return &slot;
  return nullptr;
}

std::uint32_t RecordLayout::Extent() const {
  std::uint32_t extent = 0;
  for (const FieldSlot& slot : fields)
    extent = std::max(extent, slot.offset + static_cast<std::uint32_t>(WidthOf(slot.encoding)));
  return extent;
}

const RecordLayout& BuiltInLayout14(RecordKind kind) {
  switch (kind) {
    case RecordKind::Task: return kTask14;
    case RecordKind::Resource: return kResource14;
    case RecordKind::Calendar: return kCalendar14;
    case RecordKind::Assignment: return kAssignment14;
    case RecordKind::Link: return kLink14;
  }
  return kTask14;
}

bool RecordView::Has(Field field) const {
  const FieldSlot* slot = layout_->Find(field);
  return slot && record_.Has(slot->offset, WidthOf(slot->encoding));
}

std::optional<std::uint32_t> RecordView::Unsigned(Field field) const {
  const FieldSlot* slot = layout_->Find(field);
  if (!slot) return std::nullopt;
  switch (slot->encoding) {
    case Encoding::U8:
      if (auto v = record_.u8_at(slot->offset)) return *v;
      return std::nullopt;
    case Encoding::U16:
      if (auto v = record_.u16_at(slot->offset)) return *v;
      return std::nullopt;
    case Encoding::U32:
    case Encoding::I32:
    case Encoding::Date:
      return record_.u32_at(slot->offset);
    case Encoding::F64:
      return std::nullopt;
  }
  return std::nullopt;
}

std::optional<std::int32_t> RecordView::Signed(Field field) const {
  const FieldSlot* slot = layout_->Find(field);
  if (!slot) return std::nullopt;
  if (slot->encoding == Encoding::I32) {
    if (auto v = record_.u32_at(slot->offset)) return std::bit_cast<std::int32_t>(*v);
    return std::nullopt;
  }
  if (slot->encoding == Encoding::F64) return std::nullopt;
  if (auto v = Unsigned(field); v && *v <= 0x7FFFFFFFu) return static_cast<std::int32_t>(*v);
  return std::nullopt;
}

std::optional<double> RecordView::Float(Field field) const {
  const FieldSlot* slot = layout_->Find(field);
  if (!slot || slot->encoding != Encoding::F64) return std::nullopt;
  if (auto v = record_.u64_at(slot->offset)) return std::bit_cast<double>(*v);
  return std::nullopt;
}

std::optional<platform::ByteView> FixedRecord(platform::ByteView fixedData, std::uint64_t position,
                                              const RecordLayout& layout, bool cutShort) {
  // A record's UID leads it.
  constexpr std::uint64_t kUidBytes = 4;
  if (position < layout.minPosition || position > fixedData.size()) return std::nullopt;
  const std::uint64_t left = fixedData.size() - position;
  if (cutShort && left < layout.recordSize && left >= kUidBytes)
    return fixedData.Sub(static_cast<std::size_t>(position), static_cast<std::size_t>(left));
  return fixedData.Sub(static_cast<std::size_t>(position), layout.recordSize);
}

std::optional<RecordView> RecordAt(platform::ByteView fixedData, std::uint64_t position, const RecordLayout& layout,
                                   bool cutShort) {
  if (auto bytes = FixedRecord(fixedData, position, layout, cutShort)) return RecordView(*bytes, layout);
  return std::nullopt;
}

bool FlagSet(platform::ByteView bytes, FlagBit bit) {
  return (bytes.u8_at(bit.offset).value_or(0) & bit.mask) != 0;
}

}  // namespace mpp
