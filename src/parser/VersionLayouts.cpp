#include "parser/VersionLayouts.h"

namespace mpp {

namespace {

using E = Encoding;
using F = Field;

// Records follow the free-slot area at the start of FixedData: three slots
// before tasks and resources, four before calendars, of 16 bytes in
// versions 12 and 14 and of 8 in version 9 (FreeSlotArea).
const RecordLayout kTask264{RecordKind::Task, RecordLayout::Source::BuiltIn, 264, 48, {
    {F::TaskUID, 0, E::U32},
    {F::TaskID, 4, E::U32},
    {F::Finish, 8, E::Date},
    {F::Stop, 16, E::Date},
    {F::Resume, 20, E::Date},
    {F::ParentUID, 36, E::U32},
    {F::OutlineLevel, 40, E::U16},
    {F::Duration, 60, E::U32},
    {F::DurationFormat, 64, E::U16},
    {F::ActualDuration, 66, E::U32},
    {F::RemainingDuration, 70, E::U32},
    {F::ConstraintType, 80, E::U16},
    {F::ActualStart, 96, E::Date},
    {F::ActualFinish, 100, E::Date},
    {F::ConstraintDate, 112, E::Date},
    {F::Priority, 120, E::U16},
    {F::PercentComplete, 122, E::U16},
    {F::PercentWorkComplete, 124, E::U16},
    {F::TaskType, 126, E::U16},
    {F::CreateDate, 130, E::Date},
    {F::Start, 148, E::Date},
    {F::TaskCalendarUID, 160, E::U32},
    {F::Deadline, 164, E::Date},
    {F::Work, 168, E::F64},
    {F::ActualWork, 184, E::F64},
    {F::RemainingWork, 192, E::F64},
    {F::Cost, 200, E::F64},
    {F::ActualCost, 216, E::F64},
    {F::RemainingCost, 224, E::F64},
}};

const RecordLayout kResource188{RecordKind::Resource, RecordLayout::Source::BuiltIn, 188, 48, {
    {F::ResourceUID, 0, E::U32},
    {F::ResourceID, 4, E::U32},
    {F::StandardRateFormat, 8, E::U16},
    {F::OvertimeRateFormat, 10, E::U16},
    {F::ResourceTypeCode, 14, E::U16},
    {F::ResourceCalendarUID, 16, E::U32},
    {F::StandardRate, 28, E::F64},
    {F::OvertimeRate, 36, E::F64},
    {F::CostPerUse, 84, E::F64},
}};

const RecordLayout kCalendar12a{RecordKind::Calendar, RecordLayout::Source::BuiltIn, 12, 64, {
    {F::CalendarUID, 0, E::U32},
    {F::BaseCalendarUID, 4, E::U32},
    {F::CalendarResourceUID, 8, E::U32},
}};

const RecordLayout kAssignment142{RecordKind::Assignment, RecordLayout::Source::BuiltIn, 142, 0, {
    {F::AssignmentUID, 0, E::U32},
    {F::AssignmentTaskUID, 4, E::U32},
    {F::AssignmentResourceUID, 8, E::U32},
    {F::AssignmentStart, 12, E::Date},
    {F::AssignmentFinish, 16, E::Date},
    {F::Units, 54, E::F64},
    {F::AssignmentWork, 62, E::F64},
    {F::AssignmentActualWork, 70, E::F64},
    {F::AssignmentCost, 102, E::F64},
}};

const RecordLayout kLink20a{RecordKind::Link, RecordLayout::Source::BuiltIn, 20, 0, {
    {F::LinkUID, 0, E::U32},
    {F::PredecessorUID, 4, E::U32},
    {F::SuccessorUID, 8, E::U32},
    {F::LinkType, 12, E::U16},
    {F::LagFormat, 14, E::U16},
    {F::Lag, 16, E::I32},
}};

// Where the records of kind start in a file of version.
std::uint32_t FreeSlotArea(int version, RecordKind kind) {
  const std::uint32_t area = BuiltInLayout14(kind).minPosition;
  return version == 9 ? area / 2 : area;
}

}  // namespace

const RecordLayout& BuiltInLayout12(RecordKind kind) {
  switch (kind) {
    case RecordKind::Task: return kTask264;
    case RecordKind::Resource: return kResource188;
    case RecordKind::Calendar: return kCalendar12a;
    case RecordKind::Assignment: return kAssignment142;
    case RecordKind::Link: return kLink20a;
  }
  return kTask264;
}

const RecordLayout& FallbackLayout(int version, RecordKind kind) {
  return version == 14 ? BuiltInLayout14(kind) : BuiltInLayout12(kind);
}

FileLayouts LayoutsForVersion(int version, const FieldMaps* maps) {
  FileLayouts result;
  for (std::size_t k = 0; k < kRecordKinds; ++k) {
    const auto kind = static_cast<RecordKind>(k);
    std::optional<RecordLayout> fromMap;
    if (maps) fromMap = LayoutFromMap(kind, *maps);
    result.layouts[k] = fromMap ? std::move(*fromMap) : FallbackLayout(version, kind);
    result.layouts[k].minPosition = FreeSlotArea(version, kind);
  }
  return result;
}

}  // namespace mpp
