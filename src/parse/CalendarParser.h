// The reader of the calendar storage "TBkndCal", in phases over the model's
// calendar list. The version 14 reader runs them in this order:
//
//   var data      VarMeta/Var2Data: names (type 1) and week data (type 8,
//                 with the calendar's exceptions and work weeks) make the
//                 calendars
//   fixed data    FixedMeta/FixedData: base calendar, owning resource and
//                 the base and baseline flags, through the file's calendar
//                 layout; a record whose calendar had no var data makes one
//   base weeks    a calendar without a base calendar has its days that say
//                 "default" (day flag 1) from the default working week, and
//                 takes the whole default week when it has no week data
//   inherited     a calendar with a base calendar takes its days that say
//                 "from the base" from the base calendar (all of them when
//                 it has no week data)
//
// Week data (type 8), laid out as
//   0     seven day records of 60 bytes, Sunday first:
//           0   i16 day flag (1: default / from the base calendar)
//           2   u16 period count (at most five are stored)
//           4   u16 working total, tenths of a minute
//           8   u16 period starts, tenths of a minute after midnight
//           20  u32 period lengths (low 16 bits)
//           40  u32 a fourth value per period
//   420   u32 exception count, then the exceptions:
//           0   u16 first day, 2 u16 last day, 4 u32, 8 u32
//           12  a day record (the exception's periods)
//           14  bit 0 of the u16: the exception's flag
//           76  u8, 77 u8, 78 u16
//           88  u32 name length in bytes, 92 the name
//         each next record starts at a 4-byte boundary after the name
//   then  u32 work week count, then the work weeks:
//           0   seven day records
//           420 u16 from day, 422 u16 to day
//           432 u16 name length in bytes, 436 the name
//         each next record starts 438 bytes plus the name length further on
//
// Every read is bounds checked against its record, its value and the
// stream; a malformed exception or work week ends that calendar's week
// data, keeping what was read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "base/RunContext.h"
#include "model/Project.h"
#include "parse/RecordLayout.h"
#include "parse/StreamLoader.h"
#include "platform/ByteView.h"
#include "platform/CompoundFile.h"

namespace mpp {

struct VarItemFormat;

inline constexpr std::uint16_t kCalendarNameType = 1;
inline constexpr std::uint16_t kCalendarWeekType = 8;

struct DayRecordLayout {
  std::size_t size = 60;
  std::size_t flag = 0;
  std::size_t count = 2;
  std::size_t total = 4;
  std::size_t starts = 8;    // u16 each
  std::size_t lengths = 20;  // u32 each
  std::size_t extras = 40;   // u32 each
  std::size_t maxPeriods = 5;
};
inline constexpr DayRecordLayout kDayRecord{};

struct ExceptionLayout {
  std::size_t minSize = 95;
  std::size_t firstDay = 0;
  std::size_t lastDay = 2;
  std::size_t value4 = 4;
  std::size_t occurrences = 4;   // u16
  std::size_t recurrence = 72;   // u16
  std::size_t value8 = 8;
  std::size_t day = 12;
  std::size_t flag = 14;
  std::size_t value76 = 76;
  std::size_t value77 = 77;
  std::size_t value78 = 78;
  std::size_t nameLength = 88;
  std::size_t name = 92;
  std::size_t alignment = 4;
};
inline constexpr ExceptionLayout kExceptionRecord{};

struct WorkWeekLayout {
  std::size_t minSize = 439;  // more than 438 bytes
  std::size_t fromDay = 420;
  std::size_t toDay = 422;
  std::size_t nameLength = 432;
  std::size_t name = 436;
  std::size_t nameAfter = 438;  // the next record: this far plus the name length
};
inline constexpr WorkWeekLayout kWorkWeekRecord{};

inline constexpr std::size_t kWeekDays = 7;
inline constexpr std::size_t kWeekDaysSize = 420;
// Longest exception or work week name kept, in bytes.
inline constexpr std::size_t kMaxCalendarNameBytes = 520;
// The time of day a last day ends at: 23:59.
inline constexpr std::uint32_t kEndOfDay = 14390;

// A day flag of 1: the day is the base calendar's (or the default week's).
inline constexpr std::int16_t kDayFromBase = 1;

// One day record; a day that takes its hours from elsewhere keeps only its
// flag. Nothing when the record does not lie whole in bytes.
std::optional<model::SWeekDay> ReadDayRecord(platform::ByteView bytes, std::size_t offset);

// Version 9 week data: a u16 count of exceptions, the week at 4, then the
// exceptions in blocks of 64 bytes (first and last day, then a day record
// at 4: its period count at 6, starts at 12, lengths at 24); no names, no
// recurrences, no work weeks.
struct WeekData9Layout {
  std::size_t exceptionCount = 0;
  std::size_t week = 4;
  std::size_t exceptions = 424;
  std::size_t exceptionSize = 64;
  std::size_t firstDay = 0;
  std::size_t lastDay = 2;
  std::size_t day = 4;
};
inline constexpr WeekData9Layout kWeekData9{};

// The week data of one calendar into its record (week days) and the
// model's exceptions and work weeks. 0, or -2 when a malformed exception or
// work week ended it (what was read before stays).
int ReadWeekData(RunContext& ctx, platform::ByteView value, model::SCalendar& calendar, model::Project& gen);
int ReadWeekData9(RunContext& ctx, platform::ByteView value, model::SCalendar& calendar, model::Project& gen);

struct CalendarVarCounts {
  std::size_t items = 0;
  std::size_t skipped = 0;  // value outside Var2Data or empty
  std::size_t names = 0;
  std::size_t weeks = 0;
  std::size_t malformed = 0;  // week data ended early
};

struct CalendarFixedCounts {
  std::size_t items = 0;
  std::size_t records = 0;
  std::size_t freeSlots = 0;   // items of the free-slot area
  std::size_t unreadable = 0;  // position before the records or record outside FixedData
  std::size_t created = 0;     // calendars without var data
};

// The var data phase; version9 reads the week data in that version's form.
// progress may be null. Throws kBreakException on a break.
CalendarVarCounts ReadCalendarVarData(RunContext& ctx, platform::ByteView varMeta, platform::ByteView var2Data,
                                      model::Project& gen, StreamProgress* progress = nullptr, bool version9 = false);
// The fixed data phase; the deletion mark of other storages' items means
// nothing here. progress may be null. Throws kBreakException on a break.
// The GUIDs come from the second records (Fixed2Meta, Fixed2Data; empty
// when absent).
CalendarFixedCounts ReadCalendarFixedData(RunContext& ctx, platform::ByteView fixedMeta, platform::ByteView fixedData,
                                          const RecordLayout& layout, model::Project& gen,
                                          StreamProgress* progress = nullptr, platform::ByteView fixed2Meta = {},
                                          platform::ByteView fixed2Data = {},
                                          const CalendarItemFlags& flags = kCalendarItemFlags);
// A calendar has a base calendar when its base calendar UID names another
// calendar of the model.
const model::SCalendar* BaseCalendarOf(const model::Project& gen, const model::SCalendar& calendar);
// The base weeks phase (versions 12 and 14), then the inherited days phase.
void ApplyDefaultWeeks(RunContext& ctx, model::Project& gen);
void InheritBaseDays(RunContext& ctx, model::Project& gen);

// The version 14 reader: all four phases. A missing pair of streams leaves
// its phase out (logged). Logs and rethrows a break or allocation failure.
void CalendarParser(RunContext& ctx, const platform::CompoundFileReader& reader, platform::ElementId storage,
                    const RecordLayout& layout, model::Project& gen, const VarItemFormat* varFormat = nullptr,
                    const CalendarItemFlags& flags = kCalendarItemFlags);

}  // namespace mpp
