// Calendar dates of the files' day numbers, with the whole window checked
// day by day against the standard library's calendar.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "base/Date.h"

namespace {

namespace chr = std::chrono;

std::string Text(const CDate& date) { return date.ToText(); }

chr::sys_days Days(const CDate& date) {
  return chr::year{date.Year()} / chr::month{static_cast<unsigned>(date.Month())} /
         chr::day{static_cast<unsigned>(date.Day())};
}

constexpr std::uint32_t kLastDayNumber = 24107;  // 2049-12-31

TEST(Date, MonthLengthsAndNormalising) {
  EXPECT_EQ(CDate(1, 2, 2000).DaysInMonth(), 29);
  EXPECT_EQ(CDate(1, 2, 1900).DaysInMonth(), 28);
  EXPECT_EQ(CDate(1, 2, 2016).DaysInMonth(), 29);
  EXPECT_EQ(CDate(1, 2, 2015).DaysInMonth(), 28);

  EXPECT_EQ(Text(CDate()), "1984-01-01");
  EXPECT_EQ(Text(CDate(0, 3, 2000)), "2000-02-29");
  EXPECT_EQ(Text(CDate(32, 12, 1999)), "2000-01-01");
  EXPECT_EQ(Text(CDate(1, 0, 2000)), "1999-12-01");
  // Whole years of months land on December, not on a month 0.
  EXPECT_EQ(Text(CDate(1, 24, 1999)), "2000-12-01");
  EXPECT_EQ(Text(CDate(1, -12, 2000)), "1998-12-01");
  EXPECT_EQ(Text(CDate(-366, 1, 2001)), "1999-12-31");
}

TEST(Date, DayNumbersOfTheFiles) {
  EXPECT_EQ(Text(CDate::FromDayNumber(0)), "1984-01-01");
  EXPECT_EQ(Text(CDate::FromDayNumber(1)), "1984-01-01");
  EXPECT_EQ(Text(CDate::FromDayNumber(60)), "1984-02-29");
  EXPECT_EQ(Text(CDate::FromDayNumber(367)), "1985-01-01");
  EXPECT_EQ(Text(CDate::FromDayNumber(5845)), "2000-01-01");
  EXPECT_EQ(Text(CDate::FromDayNumber(kLastDayNumber + 1)), "2049-12-31");
  EXPECT_EQ(Text(CDate::FromDayNumber(0xFFFFFFFF)), "2049-12-31");
  EXPECT_EQ(CDate(31, 12, 1983).DayNumber(), 0);
}

TEST(Date, EveryDayOfTheWindowAgreesWithTheCalendar) {
  const chr::sys_days first = chr::year{1984} / 1 / 1;
  for (std::uint32_t n = 1; n <= kLastDayNumber; ++n) {
    const CDate date = CDate::FromDayNumber(n);
    const chr::sys_days expected = first + chr::days{n - 1};
    ASSERT_EQ(Days(date), expected) << "day number " << n << " gave " << Text(date);
    ASSERT_EQ(date.DayNumber(), n) << Text(date);
  }
}

TEST(Date, AdvanceDaysCountsTheStartAndClamps) {
  CDate date(30, 12, 1999);
  EXPECT_FALSE(date.AdvanceDays(3));
  EXPECT_EQ(Text(date), "2000-01-01");
  EXPECT_FALSE(date.AdvanceDays(0));
  EXPECT_EQ(Text(date), "2000-01-01");
  CDate start;
  EXPECT_TRUE(start.AdvanceDays(30000));
  EXPECT_EQ(Text(start), "2049-12-31");
  CDate last(30, 12, 2049);
  EXPECT_FALSE(last.AdvanceDays(2));  // lands on the last day: no clamp
  EXPECT_TRUE(last.AdvanceDays(2));
}

TEST(Date, TextAndToday) {
  EXPECT_EQ(Text(CDate(5, 1, 1984)), "1984-01-05");
  EXPECT_EQ(Text(CDate(9, 3, 7)), "0007-03-09");
  EXPECT_EQ(Text(CDate(9, 3, 850)), "0850-03-09");
  char small[8];
  EXPECT_FALSE(CDate(5, 1, 1984).ToText(small, sizeof small));
  EXPECT_STREQ(small, "1984-01");

  const chr::sys_days today = chr::floor<chr::days>(chr::system_clock::now());
  // One day later when the test runs across midnight UTC.
  const auto late = (Days(CDate::Today()) - today).count();
  EXPECT_TRUE(late == 0 || late == 1) << late;
}

}  // namespace
