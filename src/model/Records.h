// The records of the project model: what the readers of every file version
// fill and the generators write out. Records are plain values; copying one
// copies its notes and custom values too.
//
// Identifiers (UIDs, parent and calendar UIDs) are 32-bit throughout: the
// files store them so, and projects with UIDs beyond 65535 exist.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/ByteView.h"

namespace model {

// Day number (1 = 1984-01-01) in the high 16 bits, time of day in tenths
// of a minute in the low 16 bits.
using PackedDate = std::uint32_t;
inline constexpr PackedDate kNoDate = 0xFFFFFFFF;
inline constexpr PackedDate kNoConstraintDate = 0x0000FFFF;
inline std::uint16_t DayOf(PackedDate date) { return static_cast<std::uint16_t>(date >> 16); }
// True for a date a generator writes: neither 0xFFFFFFFF nor, where the
// field says so, 0.
inline bool HasDate(PackedDate date, bool zeroIsNone = false) {
  return date != kNoDate && !(zeroIsNone && date == 0);
}

// Tenths of a minute since 1984-01-01 00:00 (rates and availability).
using MinuteStamp = std::uint32_t;
// The open end of a rate: the last minutes of 2049-12-31.
inline constexpr MinuteStamp kOpenRateEnd = 0x14B0F2B6;

// Fixed texts hold at most this many UTF-16 units, their terminator
// included (so 259 units of text).
inline constexpr std::size_t kFixedTextUnits = 260;
// Notes hold at most this many bytes, their terminator included.
inline constexpr std::size_t kMaxNoteBytes = 65535;

// The text of a var-data item: whole UTF-16 units from at most the first
// 520 bytes, stopping at a zero unit. The last unit the item covers is its
// terminator and is not kept, unless the item's texts need not end in one
// (terminated false: outline code texts).
std::u16string TextFromItem(platform::ByteView item, bool terminated = true);
// A note: the zero-terminated byte string at the start of the item, cut to
// the item and to kMaxNoteBytes - 1 bytes.
std::string NoteFromItem(platform::ByteView item);

// A custom field value as the version 9 records carry it.
struct SCustomValue {
  std::uint16_t key = 0;
  std::vector<std::uint8_t> data;
};

// ---- Baselines 0-10 --------------------------------------------------
// One saved baseline of a task, resource or assignment, values as the file
// stores them. Given marks the values read from their own field (bit per
// BaselineSlot of the parse), so that a fall-back copy does not replace
// them.
struct SBaseline {
  std::uint8_t Number = 0;
  std::uint8_t Given = 0;
  PackedDate Start = kNoDate;   // tasks and assignments
  PackedDate Finish = kNoDate;  // tasks and assignments
  std::uint32_t Duration = 0;   // tasks; tenths of a minute
  double Work = 0.0;            // minutes x 1000
  double Cost = 0.0;            // currency x 100
  // A date, or a duration, work or cost other than 0.
  bool IsSet() const;
};
inline constexpr std::size_t kBaselineCount = 11;
// The baseline of list numbered number, appended when it has none.
SBaseline& BaselineOf(std::vector<SBaseline>& list, std::uint8_t number);
// ---- end of baselines -------------------------------------------------

struct SBkndTaskParams {
  std::uint32_t UID = 0;  // 0: the project's own summary row
  std::uint32_t ID = 0;
  std::u16string Name;
  PackedDate Start = 0;
  std::uint32_t Duration = 0;
  std::uint32_t PercentComplete = 0;
  std::uint32_t PercentWorkComplete = 0;
  PackedDate Finish = 0;
  std::uint8_t DurationFormat = 7;
  std::uint32_t Priority = 0;
  std::uint32_t ParentUID = 0;
  std::uint16_t OutlineLevel = 0;
  std::vector<SCustomValue> CustomValues;  // version 9 only
  std::vector<SBaseline> Baselines;
  std::uint8_t ConstraintType = 0;
  PackedDate ConstraintDate = kNoConstraintDate;
  PackedDate Stop = 0;
  PackedDate Resume = 0;
  std::optional<std::string> Notes;
  std::u16string WBS;
  std::uint16_t Type = 0;
  PackedDate CreateDate = 0;
  PackedDate Deadline = 0;
  std::string OutlineNumber;  // "3.1.2", made by the outline pass
  std::uint32_t CalendarUID = 0;
  double WorkRaw = 0.0;
  std::uint8_t Summary = 0;
  std::uint32_t Work = 0;
  double Cost = 0.0;
  PackedDate ActualStart = 0;
  PackedDate ActualFinish = 0;
  std::uint32_t ActualDuration = 0;
  double ActualCost = 0.0;
  std::uint32_t ActualWork = 0;
  std::uint32_t RemainingDuration = 0;
  double RemainingCost = 0.0;
  std::uint32_t RemainingWork = 0;
  // Bits kept beside the record: its FixedMeta item and Fixed2Meta row.
  bool Milestone = false;
  bool EffortDriven = false;
  bool Estimated = false;
  bool Manual = false;  // manually scheduled (versions 9 and 12 know no such mode)
  bool Active = true;
  bool IsNull = false;  // a blank row: the file holds its UID and nothing else

  // Fixed cost, late dates, slack and leveling delay, where the record
  // holds them. Slacks and the delay are tenths of a minute.
  double FixedCost = 0.0;
  std::uint16_t FixedCostAccrual = 3;  // 1 start, 2 prorated, 3 end
  PackedDate LateStart = kNoDate;
  PackedDate LateFinish = kNoDate;
  std::optional<std::int32_t> FreeSlack, StartSlack, FinishSlack;
  std::uint32_t LevelingDelay = 0;
  std::uint16_t LevelingDelayFormat = 8;  // days, elapsed or not

  // Overtime, from var data: work in tenths of a minute, cost in currency
  // units. The total overtime work is the actual plus the remaining.
  std::uint32_t ActualOvertimeWork = 0;
  std::uint32_t RemainingOvertimeWork = 0;
  double OvertimeCost = 0.0;
  double ActualOvertimeCost = 0.0;
  double RemainingOvertimeCost = 0.0;
  bool IgnoreResourceCalendar = false;
  bool Recurring = false;  // the file keeps a recurrence pattern for it
  std::u16string Hyperlink, HyperlinkAddress, HyperlinkSubAddress;
  // The texts a manually scheduled task may show for its dates and
  // duration; kept (possibly empty) where the file has an item for them.
  std::optional<std::u16string> StartText, FinishText, DurationText;
  // The formats of the task's custom durations that the file keeps (field
  // id of Duration n, format).
  std::vector<std::pair<std::uint32_t, std::uint8_t>> CustomDurationFormats;
  // Version 14 keeps a GUID per task (bytes as stored: the first three
  // groups little-endian).
  std::optional<std::array<std::uint8_t, 16>> GUID;
  // Display and leveling bits of the FixedMeta item; none without a
  // record.
  std::optional<bool> Rollup, HideBar, LevelAssignments, LevelingCanSplit;
  // Critical as the application last scheduled the task, in either mode.
  std::optional<bool> Critical;
  // Status values var data keeps only where they differ from 0: physical
  // percent complete, the earned value method (0 percent complete, 1
  // physical), the deliverable type (0 none, 1 deliverable, 2 dependency),
  // the protected actual and overtime work (tenths of a minute) and the
  // task of another project this one stands for (0: none).
  std::uint16_t PhysicalPercentComplete = 0;
  std::uint16_t EarnedValueMethod = 0;
  std::uint16_t CommitmentType = 0;
  std::uint32_t ActualWorkProtected = 0;
  std::uint32_t ActualOvertimeWorkProtected = 0;
  std::uint32_t ExternalTaskId = 0;
};

struct SBkndRscParams {
  std::uint32_t ID = 0;
  std::u16string Name;
  std::u16string EmailAddress;
  std::u16string Group;
  std::u16string Initials;
  std::u16string Code;
  std::u16string MaterialLabel;
  std::u16string NTAccount;
  std::vector<SCustomValue> CustomValues;  // version 9 only
  std::vector<SBaseline> Baselines;
  std::optional<std::string> Notes;
  std::uint16_t WorkGroup = 0;
  std::uint8_t Type = 0;  // 0 work, 1 material
  std::uint16_t BookingType = 0;
  std::uint32_t UID = 0;
  std::uint32_t CalendarUID = 0;
  std::uint8_t IsBudget = 0;
  std::uint8_t IsCostResource = 0;
  std::uint8_t IsInactive = 0;
  std::uint8_t IsGeneric = 0;
  double StandardRate = 0.0;
  double OvertimeRate = 0.0;
  double CostPerUse = 0.0;
  std::uint16_t StandardRateFormat = 0;
  std::uint16_t OvertimeRateFormat = 0;
  // The file holds a fixed record for it: a real resource even when its
  // name was lost.
  bool HasFixedRecord = false;
  // When its cost accrues: 1 start, 2 prorated, 3 end.
  std::uint16_t AccrueAt = 3;
  // What the fixed record keeps beside: units as shares (1 is 100 %), work
  // in minutes, money in currency units; each absent when the record or
  // its layout lacks it, or the stored value is damaged.
  std::optional<double> MaxUnits, PeakUnits;
  std::optional<double> Work, RegularWork, OvertimeWork, ActualWork, RemainingWork, ActualOvertimeWork,
      RemainingOvertimeWork;
  std::optional<double> Cost, ActualCost, RemainingCost, OvertimeCost, ActualOvertimeCost, RemainingOvertimeCost;
  std::optional<bool> CanLevel, OverAllocated;
  // Var data, versions 12 and 14, where not 0.
  std::optional<double> ActualWorkProtected, ActualOvertimeWorkProtected;
  std::optional<PackedDate> CreationDate;
  // From the second record (versions 12 and 14); all zero is none.
  std::optional<std::array<std::uint8_t, 16>> Guid;
};

// A stretch of an assignment's completed or remaining work as the file
// times it: its end, in working time from where that work starts, and the work
// it holds (none in a pause: the task is split there). Tenths of a minute.
struct SWorkBlock {
  std::uint32_t end = 0;
  std::uint32_t work = 0;
};

// Stands for "no resource" in an assignment; needs no matching resource.
inline constexpr std::uint32_t kNoResourceUID = 0xFFFF0001;

// The work contour of an assignment whose work was reshaped by hand.
inline constexpr std::uint8_t kContouredByHand = 8;

struct SBkndAssnParams {
  std::uint32_t UID = 0;
  std::uint32_t TaskUID = 0;
  std::uint32_t ResourceUID = 0;
  double Units = 0.0;  // hundredths of a percent
  double Cost = 0.0;
  // The assignment's own share of its task's actual and remaining cost,
  // where its record holds them.
  std::optional<double> ActualCost, RemainingCost;
  std::uint32_t ActualWork = 0;
  // Start, Finish and Work: versions 12 and 14 (the assignment's own,
  // which need not be its task's); the rest version 12 only.
  PackedDate Start = 0;
  PackedDate Finish = 0;
  PackedDate Stop = 0;
  PackedDate Resume = 0;
  std::uint32_t StoppedWork = 0;
  std::uint32_t Work = 0;
  double WorkVariance = 0.0;
  // Delays in tenths of a minute, and the duration format the record keeps
  // after the delay (7, days, in every sample; written as the leveling
  // delay's format).
  std::uint32_t Delay = 0;
  std::uint32_t LevelingDelay = 0;
  std::uint16_t DelayFormat = 7;
  std::uint16_t CostRateTable = 0;  // 0..4: tables A..E
  // Tenths of a minute, where the record keeps them.
  std::optional<std::uint32_t> RegularWork, RemainingWork;
  // Overtime, from var data: a value the file leaves out is 0.
  std::uint32_t OvertimeWork = 0, ActualOvertimeWork = 0, RemainingOvertimeWork = 0;  // tenths of a minute
  double ActualOvertimeCost = 0.0, RemainingOvertimeCost = 0.0;
  // Budget work (tenths of a minute) and cost, and the protected actual
  // work and overtime work, from var data likewise.
  std::uint32_t ActualWorkProtected = 0, ActualOvertimeWorkProtected = 0;
  std::uint32_t BudgetWork = 0;
  double BudgetCost = 0.0;
  std::optional<PackedDate> CreationDate;
  // The work contour: 0 flat, 1..7 the predefined shapes, kContouredByHand;
  // nothing where the file names none.
  std::optional<std::uint8_t> WorkContour;
  std::optional<std::string> Notes;  // rich text, as stored
  // Versions 12 and 14 of the later applications: the assignment's GUID.
  std::optional<std::array<std::uint8_t, 16>> Guid;
  // Version 9 only: the raw parts the record was read from; not written.
  std::vector<std::uint8_t> RawMeta;
  std::vector<std::uint8_t> RawFixed;
  std::vector<std::uint8_t> RawVar7;
  std::vector<std::uint8_t> RawVar9;
  std::uint32_t RawType126 = 0;
  std::vector<SBaseline> Baselines;
  // The completed and the remaining work's stretches, where the work
  // pauses at least once.
  std::vector<SWorkBlock> CompletedBlocks, RemainingBlocks;
};

struct SBkndConsParams {
  std::uint32_t UID = 0;
  std::int32_t LinkLag = 0;  // tenths of a minute; lags can be negative
  std::uint32_t PredecessorUID = 0;
  std::uint32_t SuccessorUID = 0;
  std::uint16_t Type = 1;  // 0 FF, 1 FS, 2 SF, 3 SS
  std::uint16_t LagFormat = 0;
  std::uint16_t CrossProject = 0;
};

struct SCustomFieldDef {
  std::u16string Alias;
  std::uint32_t FieldID = 0;
  std::uint16_t TextOffset = 0;  // where the alias begins in its block
};

enum class OwnerKind : std::uint8_t { Resource = 0, Task = 1, Assignment = 2 };

struct SCustomFieldValue {
  std::uint32_t OwnerUID = 0;
  std::uint32_t FieldID = 0;
  std::vector<std::uint8_t> Data;  // the value bytes as stored
  OwnerKind Owner = OwnerKind::Task;
};

struct SRateParams {
  std::uint32_t ResourceUID = 0;
  MinuteStamp RatesFrom = 0;
  MinuteStamp RatesTo = kOpenRateEnd;
  std::uint16_t RateTable = 0;  // 0..4: tables A..E
  double StandardRate = 0.0;
  std::uint16_t StandardRateFormat = 0;
  double OvertimeRate = 0.0;
  std::uint16_t OvertimeRateFormat = 0;
  double CostPerUse = 0.0;
};

struct SAvailabilityParams {
  std::uint32_t ResourceUID = 0;
  MinuteStamp AvailableFrom = 0;
  MinuteStamp AvailableTo = 0;
  double AvailableUnits = 0.0;
};

// Calendars.

struct SWorkingPeriod {
  std::uint32_t Start = 0;   // tenths of a minute after midnight
  std::uint32_t End = 0;     // Start + Length
  std::uint32_t Length = 0;  // tenths of a minute
  std::uint32_t Extra = 0;   // the file's fourth value, carried as read
};

struct SWeekDay {
  std::int16_t DayFlag = 0;  // 1: taken from the base calendar
  std::uint16_t PeriodCount = 0;
  std::uint16_t WorkingTotal = 0;  // tenths of a minute
  std::vector<SWorkingPeriod> Periods;
};

struct SCalendar {
  std::uint32_t UID = 0;
  std::u16string Name;
  std::uint8_t IsBaseCalendar = 0;
  std::uint8_t IsBaselineCalendar = 0;
  std::int32_t BaseCalendarUID = -1;
  std::int32_t ResourceUID = 0;  // 0 or less: none
  std::vector<SWeekDay> WeekDays;  // Sunday first; seven when complete
  std::optional<std::array<std::uint8_t, 16>> Guid;  // version 14 files
};

struct SCalendarException {
  std::uint32_t CalendarUID = 0;
  PackedDate FromDate = 0;  // at 00:00
  PackedDate ToDate = 0;    // at 23:59
  std::uint32_t Value4 = 0;
  std::uint32_t Value8 = 0;
  std::uint8_t Flag = 0;
  std::uint8_t Value76 = 0;
  std::uint8_t Value77 = 0;
  std::uint16_t Value78 = 0;
  // The rule: 1 a plain range of days; 7 every n days, 6 weekly, 4 and 5
  // monthly by day or by position, 2 and 3 yearly likewise (the rule's
  // parameters are Value76 to Value78); how many times it occurs.
  std::uint16_t Recurrence = 1;
  std::uint16_t Occurrences = 0;
  SWeekDay Day;
  std::u16string Name;
};

struct SWorkWeek {
  std::uint32_t CalendarUID = 0;
  PackedDate FromDate = 0;
  PackedDate ToDate = 0;
  std::u16string Name;
  std::vector<SWeekDay> WeekDays;
};

// Versions 9 and 12, from the view storage; kept, not written.
// An entry of the edit list ("CEdl"): its value bytes as stored.
struct SEditListItem {
  std::uint32_t UID = 0;
  std::uint32_t Kind = 1;
  std::vector<std::uint8_t> Data;
};
// The timescale of a view ("CV_iew").
struct SViewTimescale {
  std::uint32_t UID = 0;
  std::uint32_t ViewType = 0;  // the value's first u32
  std::uint8_t MajorUnits = 0, MajorLabel = 0, MajorCount = 0;
  std::uint8_t MinorUnits = 0, MinorLabel = 0, MinorCount = 0;
};

// The project's own properties: the document summary streams at the root
// and the "Props" stream of the data storage. Each is empty when the file
// does not hold it or it could not be read; the generator then falls back.
struct SProjectProps {
  std::u16string Title, Subject, Author, Manager, Company, Category, Keywords, Comments;
  std::optional<PackedDate> CreationDate, LastSaved;  // summary streams, UTC
  // The same two instants as the project keeps them in Props, in the
  // author's local time; preferred where the file has them.
  std::optional<PackedDate> CreatedLocal, SavedLocal;
  std::optional<std::array<std::uint8_t, 16>> Guid;  // version 14 files
  std::u16string CurrencySymbol, CurrencyCode;
  std::optional<std::uint16_t> CurrencyDigits;
  std::optional<std::uint16_t> CurrencySymbolPosition;  // 0 before, 1 after, 2/3 the same with a space
  std::optional<std::uint16_t> DefaultStartTime, DefaultFinishTime;  // tenths of a minute after midnight
  std::optional<std::uint32_t> MinutesPerDay, MinutesPerWeek;
  std::optional<std::uint16_t> DaysPerMonth;
  std::u16string CalendarName;  // the project calendar, by name
  std::optional<std::uint16_t> WeekStartDay;  // 0 = Sunday
  std::optional<std::uint16_t> FiscalYearStart;  // month, 1 = January
  std::optional<bool> ScheduleFromStart;
  std::optional<PackedDate> StatusDate, StartDate, FinishDate;
  // Scheduling options.
  std::optional<bool> Autolink, NewTasksEffortDriven, ActualsInSync, NewTasksAreManual;
};

// Sunday with no periods, Monday to Friday 08:00-12:00 and 13:00-17:00,
// Saturday with no periods.
std::vector<SWeekDay> DefaultWorkingWeek();

}  // namespace model
