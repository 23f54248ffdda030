// The version 14 calendar week data over a fixture value: the days, the
// exceptions and the work weeks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/TestRun.h"
#include "parse/CalendarParser.h"
#include "parse/KnownLayouts.h"
#include "parse/StreamRecords.h"
#include "support/ProjectFixture.h"

namespace {

using namespace mpp;
using project_fixture::ByteVector;
using project_fixture::DayDescription;
using project_fixture::NonWorkingDay;
using project_fixture::WorkingDay;

platform::ByteView View(const ByteVector& bytes) { return platform::ByteView(bytes.data(), bytes.size()); }

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

// --- the phases ---------------------------------------------------------


// The item's base and baseline bits; version 9 files of the later
// applications set the baseline bit on every calendar, so it is not read.
TEST(CalendarFixedData, BaseAndBaselineBits) {
  const RecordLayout& layout = BuiltInLayout12(RecordKind::Calendar);
  project_fixture::FixedItem item(project_fixture::Record(
      layout, {project_fixture::Int(Field::CalendarUID, 7), project_fixture::Int(Field::BaseCalendarUID, 0xFFFFFFFF)}));
  item.metaBytes = {{8, 0x18}};
  const project_fixture::FixedStreams streams = project_fixture::BuildFixedData(RecordKind::Calendar, {item}, 64);
  struct Case {
    const CalendarItemFlags* flags;
    bool baseline;
  };
  for (const Case& c : {Case{&kCalendarItemFlags, true}, Case{&kCalendarItemFlags9Later, false}}) {
    model::Project gen;
    ReadCalendarFixedData(test_support::QuietRun(), View(streams.meta), View(streams.data), layout, gen, nullptr, {},
                          {}, *c.flags);
    ASSERT_EQ(gen.calendars.size(), 1u);
    EXPECT_TRUE(gen.calendars[0].IsBaseCalendar);
    EXPECT_EQ(gen.calendars[0].IsBaselineCalendar != 0, c.baseline);
  }
}

}  // namespace
