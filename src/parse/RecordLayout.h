// Where the fields of a fixed-data record lie: a table of field, offset,
// width and encoding per record kind. A file's records are read through the
// layout chosen for that file (built from the file's own field map, or the
// built-in version 14 table), never through offsets written into a reader.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/ByteView.h"

namespace mpp {

// The backend storages that hold fixed-data records.
enum class RecordKind : std::uint8_t { Task, Resource, Calendar, Assignment, Link };
inline constexpr std::size_t kRecordKinds = 5;

std::u16string_view StorageName(RecordKind kind);  // "TBkndTask", ...
// Bytes per FixedMeta item of the storage.
std::size_t FixedMetaStride(RecordKind kind);

// The fields the readers take from fixed data. Each has the 32-bit field
// identifier the files' field maps know it by (FieldIdOf).
enum class Field : std::uint8_t {
  // Tasks.
  TaskUID, TaskID, Finish, Stop, Resume, ParentUID, OutlineLevel, Duration, DurationFormat,
  ActualDuration, RemainingDuration, ConstraintType, ActualStart, ActualFinish, ConstraintDate,
  Priority, PercentComplete, PercentWorkComplete, TaskType, CreateDate, Start, TaskCalendarUID,
  Deadline, Work, ActualWork, RemainingWork, Cost, ActualCost, RemainingCost,
  // Resources. ResourceTypeCode is the 16-bit field whose bit 0 the
  // version 14 reader has taken as the work-group flag; the files' own maps
  // give it as the resource type (0 work, 1 material or cost).
  ResourceUID, ResourceID, StandardRateFormat, OvertimeRateFormat, ResourceTypeCode,
  ResourceCalendarUID, StandardRate, OvertimeRate, CostPerUse,
  // Calendars.
  CalendarUID, BaseCalendarUID, CalendarResourceUID,
  // Assignments.
  AssignmentUID, AssignmentTaskUID, AssignmentResourceUID, AssignmentStart, AssignmentFinish,
  Units, AssignmentWork, AssignmentActualWork, AssignmentCost, AssignmentActualCost, AssignmentRemainingCost,
  // Links.
  LinkUID, PredecessorUID, SuccessorUID, LinkType, LagFormat, Lag,
  // Tasks: fixed cost, late dates, slack and leveling delay. The slacks are
  // signed tenths of a minute; the total slack is the smaller of the two
  // the record keeps (start and finish slack).
  FixedCost, FixedCostAccrual, LateStart, LateFinish, FreeSlack, StartSlack, FinishSlack, LevelingDelay,
  LevelingDelayFormat,
  // Resources: when the cost accrues.
  AccrueAt,
  // Baseline 0, where a layout keeps it in the fixed record (T264, R188,
  // A142); elsewhere it is var data.
  TaskBaselineStart, TaskBaselineFinish, TaskBaselineDuration, TaskBaselineWork, TaskBaselineCost,
  ResourceBaselineWork, ResourceBaselineCost,
  AssignmentBaselineStart, AssignmentBaselineFinish, AssignmentBaselineWork, AssignmentBaselineCost,
  // End of baseline 0.
  // Assignments: delays (tenths of a minute), the duration format kept
  // after the delay, the rate table, the work split into regular and remaining, and
  // the dates the work stops and resumes.
  AssignmentDelay, AssignmentLevelingDelay, AssignmentDelayFormat, AssignmentCostRateTable,
  AssignmentRegularWork, AssignmentRemainingWork, AssignmentStop, AssignmentResume,
  // Resources: units (percent x 100), work (minutes x 1000) and cost
  // (hundredths) totals of the record.
  MaxUnits, PeakUnits, ResourceWork, ResourceRegularWork, ResourceOvertimeWork, ResourceActualWork,
  ResourceRemainingWork, ResourceActualOvertimeWork, ResourceRemainingOvertimeWork, ResourceCost,
  ResourceActualCost, ResourceRemainingCost, ResourceOvertimeCost, ResourceActualOvertimeCost,
  ResourceRemainingOvertimeCost,
  // End of the resource totals.
  Count
};

enum class Encoding : std::uint8_t {
  U8,
  U16,
  U32,
  I32,   // a signed 32-bit value (link lag)
  Date,  // a PackedDate, 32 bits
  F64,
};
std::size_t WidthOf(Encoding encoding);

RecordKind KindOf(Field field);
std::uint32_t FieldIdOf(Field field);

struct FieldSlot {
  Field field;
  std::uint32_t offset;
  Encoding encoding;
};

struct RecordLayout {
  enum class Source : std::uint8_t { BuiltIn, FileMap };

  RecordKind kind = RecordKind::Task;
  Source source = Source::BuiltIn;
  // Bytes a record must have inside FixedData to be read.
  std::uint32_t recordSize = 0;
  // Records start at least this far into FixedData (the start holds the
  // free-slot area).
  std::uint32_t minPosition = 0;
  std::vector<FieldSlot> fields;

  const FieldSlot* Find(Field field) const;
  // The end of the farthest field.
  std::uint32_t Extent() const;
};

// The layouts of version 14 files written by the 2010 application (tasks
// of 206 bytes, resources of 188, assignments of 110, links of 20,
// calendars of 12), used when a file's own map cannot be read.
const RecordLayout& BuiltInLayout14(RecordKind kind);

// One fixed-data record read through a layout. Every read is bounds
// checked; a field the layout lacks or that lies outside the record gives
// nothing.
class RecordView {
 public:
  RecordView(platform::ByteView record, const RecordLayout& layout)
      : record_(record), layout_(&layout) {}

  bool Has(Field field) const;
  // Integer and date fields, widened (I32 fields as their bit pattern).
  std::optional<std::uint32_t> Unsigned(Field field) const;
  std::optional<std::int32_t> Signed(Field field) const;
  std::optional<double> Float(Field field) const;

  std::uint32_t UnsignedOr(Field field, std::uint32_t fallback) const {
    return Unsigned(field).value_or(fallback);
  }
  double FloatOr(Field field, double fallback) const { return Float(field).value_or(fallback); }

 private:
  platform::ByteView record_;
  const RecordLayout* layout_;
};

// The record at position in FixedData when it may be read with layout:
// at or beyond the layout's minimum position, and whole inside the stream,
// or, in a stream cut short (cutShort), the one its end cuts through, as
// far as it reaches past its UID: the fields the cut took read as absent.
std::optional<platform::ByteView> FixedRecord(platform::ByteView fixedData, std::uint64_t position,
                                              const RecordLayout& layout, bool cutShort = false);

// The record at position read through layout, when FixedRecord gives it.
std::optional<RecordView> RecordAt(platform::ByteView fixedData, std::uint64_t position, const RecordLayout& layout,
                                   bool cutShort = false);

// A one-bit flag kept beside a fixed record: in its FixedMeta item, or in
// its Fixed2Meta row.
struct FlagBit {
  std::uint32_t offset;  // byte of the item or row
  std::uint8_t mask;
};
// False when the byte lies outside bytes.
bool FlagSet(platform::ByteView bytes, FlagBit bit);

// The custom flags Flag1..Flag20 of a record, as bits of its FixedMeta
// item: runs of consecutive bits (counted from bit 0 of byte 0), each run
// holding the flags from firstFlag on.
struct FlagRun {
  std::uint16_t firstBit = 0;
  std::uint8_t firstFlag = 0;
  std::uint8_t count = 0;
};
struct CustomFlagBits {
  std::array<FlagRun, 3> runs{};
};
inline constexpr CustomFlagBits kTaskCustomFlags9{{{{301, 1, 20}}}};      // and version 12
inline constexpr CustomFlagBits kTaskCustomFlags14{{{{286, 1, 20}}}};     // the 2010 application
inline constexpr CustomFlagBits kTaskCustomFlags14Later{{{{193, 1, 10}, {265, 11, 10}}}};
// Resources keep Flag10 before Flag1.
inline constexpr CustomFlagBits kResourceCustomFlags9{{{{229, 10, 1}, {230, 1, 9}, {239, 11, 10}}}};  // 9, 12, 14 of 2010
inline constexpr CustomFlagBits kResourceCustomFlags14Later{{{{158, 10, 1}, {159, 1, 9}, {199, 11, 10}}}};

// Assignments keep Flag10 before Flag1 too.
inline constexpr CustomFlagBits kAssignmentCustomFlags9{{{{230, 10, 1}, {231, 1, 9}, {240, 11, 10}}}};  // and version 12
inline constexpr CustomFlagBits kAssignmentCustomFlags14{{{{225, 10, 1}, {226, 1, 9}, {235, 11, 10}}}};  // the 2010 application
inline constexpr CustomFlagBits kAssignmentCustomFlags14Later{{{{160, 10, 1}, {161, 1, 9}, {203, 11, 10}}}};

// Assignments: the custom flags and the mark of work reshaped by hand (the
// "contoured" work contour, where no predefined shape holds any more), in
// the FixedMeta item. The mark moved with the 2013 application in version 14.
struct AssignmentItemBits {
  CustomFlagBits custom;
  FlagBit contoured;
};
inline constexpr AssignmentItemBits kAssignmentBits9{kAssignmentCustomFlags9, {8, 0x10}};    // and version 12
inline constexpr AssignmentItemBits kAssignmentBits14{kAssignmentCustomFlags14, {8, 0x10}};  // the 2010 application
inline constexpr AssignmentItemBits kAssignmentBits14Later{kAssignmentCustomFlags14Later, {10, 0x04}};

// The second fixed records of tasks, resources, assignments and calendars
// (Fixed2Data): the Fixed2Meta row of the FixedMeta item's index holds the
// record's position, and the record starts with the owner's GUID (an
// assignment's, those of its task and resource follow; a task's, its
// parent's at byte 24).
struct Fixed2Slots {
  std::uint32_t rowPosition = 4;  // u32 in the Fixed2Meta row
  std::uint32_t guid = 0;         // 16 bytes in the record
};
inline constexpr Fixed2Slots kFixed2Record{};

// Tasks: milestone and effort driven in the FixedMeta item; the mode and
// the active bit in the Fixed2Meta row (version 14 only). Their places
// moved with the 2013 application.
// "Ignore resource calendars", roll-up, hidden bar, the two leveling
// permissions (level the assignments, leveling may split the task) and
// the critical mark the application last computed are in the FixedMeta
// item too.
struct TaskFlagBits {
  FlagBit milestone;
  FlagBit effortDriven;
  std::optional<FlagBit> manual;
  std::optional<FlagBit> active;
  CustomFlagBits custom;
  FlagBit ignoreResourceCalendar;
  FlagBit rollup;
  FlagBit hideBar;
  FlagBit levelAssignments;
  FlagBit levelingCanSplit;
  FlagBit critical;
};
inline constexpr TaskFlagBits kTaskFlags9{{8, 0x20},  {11, 0x10}, std::nullopt, std::nullopt, kTaskCustomFlags9,
                                          {10, 0x02}, {10, 0x08}, {10, 0x80},   {13, 0x04},   {13, 0x02},
                                          {8, 0x40}};
inline constexpr TaskFlagBits kTaskFlags14{{8, 0x20},  {11, 0x10}, FlagBit{8, 0x08}, FlagBit{8, 0x04}, kTaskCustomFlags14,
                                           {10, 0x02}, {10, 0x08}, {10, 0x80},       {13, 0x04},       {13, 0x02},
                                           {8, 0x40}};
inline constexpr TaskFlagBits kTaskFlags14Later{{10, 0x02}, {13, 0x08}, FlagBit{8, 0x80}, FlagBit{8, 0x40},
                                                kTaskCustomFlags14Later, {17, 0x20}, {12, 0x04}, {12, 0x80},
                                                {16, 0x04}, {16, 0x02}, {9, 0x40}};

// The duration format field carries the estimated mark.
inline constexpr std::uint32_t kEstimatedDurationMask = 0x20;

// Resources, in the Fixed2Meta row (versions 12 and 14; version 9 has no
// budget or cost resources and its 14-byte rows hold none of these). The
// cost bit marks cost resources; the FixedMeta item's own byte 9 bits do
// not tell the resource type on real files. The budget bit moved with the
// 2013 application in version 14, where the earlier one's place is set on
// every resource.
struct ResourceRowFlags {
  FlagBit budget{8, 0x20};
  FlagBit cost{8, 0x10};
  FlagBit generic{35, 0x08};
  FlagBit inactive{48, 0x80};
};
inline constexpr ResourceRowFlags kResourceRowFlags{};
inline constexpr ResourceRowFlags kResourceRowFlags14Later{{8, 0x40}, {8, 0x10}, {35, 0x08}, {48, 0x80}};

// Resources: the custom flags, the leveling and the overallocation bits of
// the FixedMeta item, and the flags of the Fixed2Meta row where the format
// has them. Like the custom flags, the item bits moved with the 2013
// application (the overallocation bit sits where the task's milestone bit
// does).
struct ResourceItemBits {
  CustomFlagBits custom;
  FlagBit canLevel;
  FlagBit overAllocated;
  std::optional<ResourceRowFlags> row;
};
inline constexpr ResourceItemBits kResourceBits9{kResourceCustomFlags9, {9, 0x10}, {8, 0x20}, std::nullopt};
inline constexpr ResourceItemBits kResourceBits12{kResourceCustomFlags9, {9, 0x10}, {8, 0x20},
                                                  kResourceRowFlags};  // 12, 14 of 2010
inline constexpr ResourceItemBits kResourceBits14Later{kResourceCustomFlags14Later, {12, 0x10}, {10, 0x02},
                                                       kResourceRowFlags14Later};

// Calendars, in the FixedMeta item. Version 9 files of the applications
// after 2010 set the baseline bit on every calendar: there it marks none.
struct CalendarItemFlags {
  FlagBit base{8, 0x08};
  std::optional<FlagBit> baseline = FlagBit{8, 0x10};
};
inline constexpr CalendarItemFlags kCalendarItemFlags{};
inline constexpr CalendarItemFlags kCalendarItemFlags9Later{{8, 0x08}, std::nullopt};

}  // namespace mpp
