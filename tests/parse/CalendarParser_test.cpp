// The version 14 calendar reader over fixture streams: names and week data,
// exceptions and work weeks, the fixed records, the default and inherited
// days, and what damaged week data leaves. The storage as a whole is read
// in RscCalStorage_test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/TestRun.h"
#include "parse/CalendarParser.h"
#include "parse/StreamRecords.h"
#include "support/ProjectFixture.h"

namespace {

using namespace mpp;
using project_fixture::ByteVector;
using project_fixture::Bytes;
using project_fixture::DayDescription;
using project_fixture::FixedItem;
using project_fixture::FromBaseDay;
using project_fixture::Int;
using project_fixture::NonWorkingDay;
using project_fixture::Record;
using project_fixture::Utf16z;
using project_fixture::VarItem;
using project_fixture::WorkingDay;

platform::ByteView View(const ByteVector& bytes) { return platform::ByteView(bytes.data(), bytes.size()); }

const RecordLayout& Calendars() { return BuiltInLayout14(RecordKind::Calendar); }

constexpr std::uint32_t kNone = 0xFFFFFFFF;

// A calendar record and its FixedMeta item with the base flag set or not.
FixedItem CalendarItem(std::uint32_t uid, std::uint32_t base, std::uint32_t resource, std::uint8_t state = 0) {
  FixedItem item(Record(Calendars(), {Int(Field::CalendarUID, uid), Int(Field::BaseCalendarUID, base),
                                      Int(Field::CalendarResourceUID, resource)}),
                 state);
  item.metaBytes = {{8, static_cast<std::uint8_t>(base == kNone ? 0x4F : 0x07)}};
  return item;
}

void Read(const std::vector<VarItem>& var, const std::vector<FixedItem>& fixed, model::Project& gen) {
  auto v = project_fixture::BuildVarData(var);
  ReadCalendarVarData(test_support::QuietRun(), View(v.meta), View(v.data), gen);
  auto f = project_fixture::BuildFixedData(RecordKind::Calendar, fixed, 64);
  ReadCalendarFixedData(test_support::QuietRun(), View(f.meta), View(f.data), Calendars(), gen);
  ApplyDefaultWeeks(test_support::QuietRun(), gen);
  InheritBaseDays(test_support::QuietRun(), gen);
}

std::vector<DayDescription> Week(DayDescription weekday, DayDescription weekend) {
  return {weekend, weekday, weekday, weekday, weekday, weekday, weekend};
}

// "hh:mm-hh:mm ..." of a day, "-" for none.
std::string Hours(const model::SWeekDay& day) {
  std::string text;
  for (const model::SWorkingPeriod& p : day.Periods) {
    char part[32];
    std::snprintf(part, sizeof part, "%s%02u:%02u-%02u:%02u", text.empty() ? "" : " ", p.Start / 600,
                  p.Start / 10 % 60, p.End / 600 % 24, p.End / 10 % 60);
    text += part;
  }
  return text.empty() ? "-" : text;
}

std::vector<std::string> WeekHours(const model::SCalendar& calendar) {
  std::vector<std::string> hours;
  for (const auto& day : calendar.WeekDays) hours.push_back(Hours(day));
  return hours;
}

const std::vector<std::string> kStandard = {"-", "08:00-12:00 13:00-17:00", "08:00-12:00 13:00-17:00",
                                            "08:00-12:00 13:00-17:00", "08:00-12:00 13:00-17:00",
                                            "08:00-12:00 13:00-17:00", "-"};

// --- week data ---------------------------------------------------------

TEST(CalendarWeekData, DayRecordsExceptionsAndWorkWeeks) {
  model::Project gen;
  model::SCalendar calendar;
  calendar.UID = 4;
  project_fixture::WorkWeekDescription summer{Week(WorkingDay({{7, 15}}), NonWorkingDay()), 300, 400, u"Summer"};
  const ByteVector value = project_fixture::WeekDataValue(
      Week(WorkingDay({{0, 5}, {7, 11}, {13, 21.5}}), NonWorkingDay()),
      {{100, 102, NonWorkingDay(), u"Christmas"}, {200, 200, WorkingDay({{9, 10}}), u"New Year"}, {250, 250, {}, u""}},
      {summer});
  EXPECT_EQ(ReadWeekData(test_support::QuietRun(), View(value), calendar, gen), 0);
  ASSERT_EQ(calendar.WeekDays.size(), 7u);
  EXPECT_EQ(Hours(calendar.WeekDays[1]), "00:00-05:00 07:00-11:00 13:00-21:30");
  EXPECT_EQ(calendar.WeekDays[1].PeriodCount, 3);
  EXPECT_EQ(calendar.WeekDays[1].WorkingTotal, 10500);
  EXPECT_EQ(calendar.WeekDays[1].Periods[1].Extra, 5400u);
  EXPECT_EQ(Hours(calendar.WeekDays[0]), "-");

  ASSERT_EQ(gen.calendarExceptions.size(), 3u);
  const auto& christmas = gen.calendarExceptions[0];
  EXPECT_EQ(christmas.CalendarUID, 4u);
  EXPECT_EQ(christmas.FromDate, 100u << 16);
  EXPECT_EQ(christmas.ToDate, (102u << 16) | 14390);
  EXPECT_EQ(christmas.Name, u"Christmas");
  EXPECT_TRUE(christmas.Day.Periods.empty());
  // "New Year" has an odd number of units: the next record starts after
  // the padding, whatever the padding holds.
  EXPECT_EQ(gen.calendarExceptions[1].Name, u"New Year");
  EXPECT_EQ(Hours(gen.calendarExceptions[1].Day), "09:00-10:00");
  EXPECT_EQ(gen.calendarExceptions[2].FromDate, 250u << 16);

  ASSERT_EQ(gen.workWeeks.size(), 1u);
  EXPECT_EQ(gen.workWeeks[0].Name, u"Summer");
  EXPECT_EQ(gen.workWeeks[0].FromDate, 300u << 16);
  EXPECT_EQ(gen.workWeeks[0].ToDate, (400u << 16) | 14390);
  ASSERT_EQ(gen.workWeeks[0].WeekDays.size(), 7u);
  EXPECT_EQ(Hours(gen.workWeeks[0].WeekDays[3]), "07:00-15:00");
}

// The part of a day record a version 9 exception block holds.
constexpr std::size_t kExceptionSpan9 = kWeekData9.exceptionSize - kWeekData9.day;

// Version 9 keeps the week four bytes in, behind the exception count, and
// exceptions without names: read as the later form, a 24-hour calendar
// came out garbled.
TEST(CalendarWeekData, Version9WeekAndExceptions) {
  const ByteVector week = project_fixture::WeekDataValue(
      Week(WorkingDay({{0, 24}}), WorkingDay({{0, 24}})));  // every day round the clock
  const ByteVector holiday = project_fixture::WeekDataValue(Week(WorkingDay({{9, 10}}), NonWorkingDay()));
  ByteVector value(kWeekData9.exceptions + 2 * kWeekData9.exceptionSize, 0);
  value[kWeekData9.exceptionCount] = 2;
  std::copy_n(week.begin(), kWeekDaysSize, value.begin() + kWeekData9.week);
  for (std::size_t k = 0; k < 2; ++k) {
    const std::size_t at = kWeekData9.exceptions + k * kWeekData9.exceptionSize;
    value[at + kWeekData9.firstDay] = static_cast<std::uint8_t>(100 + k);
    value[at + kWeekData9.lastDay] = static_cast<std::uint8_t>(100 + k);
    // Monday's record of the holiday week: a working hour; Sunday's: none.
    std::copy_n(holiday.begin() + (k == 0 ? kDayRecord.size : 0), kExceptionSpan9, value.begin() + at + kWeekData9.day);
  }
  model::Project gen;
  model::SCalendar calendar;
  calendar.UID = 3;
  EXPECT_EQ(ReadWeekData9(test_support::QuietRun(), View(value), calendar, gen), 0);
  ASSERT_EQ(calendar.WeekDays.size(), 7u);
  for (const auto& day : calendar.WeekDays) EXPECT_EQ(Hours(day), "00:00-00:00");
  ASSERT_EQ(gen.calendarExceptions.size(), 2u);
  EXPECT_EQ(gen.calendarExceptions[0].FromDate, 100u << 16);
  EXPECT_EQ(Hours(gen.calendarExceptions[0].Day), "09:00-10:00");
  EXPECT_EQ(Hours(gen.calendarExceptions[1].Day), "-");
  // A count beyond the value ends the walk.
  value[kWeekData9.exceptionCount] = 200;
  EXPECT_EQ(ReadWeekData9(test_support::QuietRun(), View(value), calendar, gen), -2);
}

// --- the phases ---------------------------------------------------------

TEST(CalendarPhases, ResourceCalendarsTakeTheirBaseCalendarsDays) {
  model::Project gen;
  Read({{6, kCalendarNameType, Utf16z(u"Night")},
        {6, kCalendarWeekType, project_fixture::WeekDataValue(Week(WorkingDay({{22, 24}}), NonWorkingDay()))},
        {20, kCalendarWeekType,
         project_fixture::WeekDataValue({FromBaseDay(), WorkingDay({{8, 9}}), FromBaseDay(), FromBaseDay(),
                                         FromBaseDay(), FromBaseDay(), FromBaseDay()})}},
       {CalendarItem(20, 6, 3), CalendarItem(21, 6, 4), CalendarItem(6, kNone, kNone), CalendarItem(22, 99, 5)}, gen);
  const model::SCalendar* own = gen.CalendarByUid(20);
  ASSERT_TRUE(own);
  EXPECT_EQ(own->ResourceUID, 3);
  EXPECT_EQ(own->BaseCalendarUID, 6);
  EXPECT_EQ(own->IsBaseCalendar, 0);
  EXPECT_EQ(WeekHours(*own), (std::vector<std::string>{"-", "08:00-09:00", "22:00-00:00", "22:00-00:00",
                                                       "22:00-00:00", "22:00-00:00", "-"}));
  // Known from FixedData only: all the base calendar's days.
  EXPECT_EQ(WeekHours(*gen.CalendarByUid(21)), WeekHours(*gen.CalendarByUid(6)));
  // A base calendar that is not there: the default week.
  EXPECT_EQ(WeekHours(*gen.CalendarByUid(22)), kStandard);
}

}  // namespace
