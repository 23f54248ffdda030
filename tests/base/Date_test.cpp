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

}  // namespace
