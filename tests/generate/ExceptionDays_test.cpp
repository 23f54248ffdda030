// The days of each exception rule, listed for readers that know no rules,
// and no days at all where the rule and the file's count disagree.
#include "generate/ExceptionDays.h"

#include <gtest/gtest.h>

#include <string>

#include "base/Date.h"

namespace {

std::uint32_t Day(int y, int m, int d) { return static_cast<std::uint32_t>(CDate(d, m, y).DayNumber()); }

std::string Text(std::uint32_t day) { return CDate::FromDayNumber(day).ToText().substr(5); }

std::string Runs(const gen::DayRuns& runs) {
  std::string out;
  for (const auto& [first, last] : runs) out += (out.empty() ? "" : " ") + Text(first) + (first == last ? "" : ".." + Text(last));
  return out;
}

TEST(ExceptionDays, EachRuleGivesItsDaysOrNone) {
  struct Case {
    const char* name;
    std::uint16_t rule, occurrences;
    std::uint8_t v76, v77;
    std::uint16_t v78;
    std::uint32_t from, to;
    const char* expected;  // "" when no days are listed
  };
  const Case cases[] = {
      {"plain range", 1, 3, 0, 0, 0, Day(2000, 1, 1), Day(2000, 1, 3), "01-01..01-03"},
      {"every 3 days", 7, 4, 3, 0, 0, Day(2000, 2, 1), Day(2000, 2, 10), "02-01 02-04 02-07 02-10"},
      // Weeks run Sunday to Saturday from the week that holds the start.
      {"Mon+Tue every 2nd week", 6, 4, 0x06, 0, 2, Day(2000, 3, 1), Day(2000, 3, 28), "03-13..03-14 03-27..03-28"},
      // Day 31 of a shorter month is its last day.
      {"day 31 monthly", 4, 3, 31, 0, 1, Day(2000, 1, 31), Day(2000, 3, 31), "01-31 02-29 03-31"},
      {"last Monday monthly", 5, 2, 4, 4, 1, Day(2000, 1, 1), Day(2000, 2, 28), "01-31 02-28"},
      {"2nd Tuesday every 2nd month", 5, 2, 1, 5, 2, Day(2000, 1, 1), Day(2000, 3, 14), "01-11 03-14"},
      {"Feb 29 yearly", 2, 2, 1, 29, 0, Day(2000, 2, 29), Day(2001, 2, 28), "02-29 02-28"},
      {"1st Sunday of March yearly", 3, 2, 2, 0, 3, Day(2000, 3, 1), Day(2001, 3, 4), "03-05 03-04"},
      {"count disagrees", 7, 5, 3, 0, 0, Day(2000, 2, 1), Day(2000, 2, 10), ""},
      {"no weekdays", 6, 3, 0, 0, 1, Day(2000, 3, 1), Day(2000, 3, 21), ""},
      {"unknown rule", 9, 1, 0, 0, 0, Day(2000, 3, 1), Day(2000, 3, 1), ""},
      {"ends before it starts", 1, 1, 0, 0, 0, Day(2000, 3, 2), Day(2000, 3, 1), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    model::SCalendarException e;
    e.Recurrence = c.rule;
    e.Occurrences = c.occurrences;
    e.Value76 = c.v76;
    e.Value77 = c.v77;
    e.Value78 = c.v78;
    e.FromDate = c.from << 16;
    e.ToDate = c.to << 16 | 14390;
    std::uint64_t budget = 1000;
    const auto runs = gen::ExceptionDays(e, budget);
    EXPECT_EQ(runs ? Runs(*runs) : std::string(), c.expected);
  }
}

// A rule of 65,535 days costs its days once; a spent budget lists none.
TEST(ExceptionDays, BudgetBoundsTheWork) {
  model::SCalendarException e;
  e.Recurrence = 7;
  e.Value76 = 1;
  e.Occurrences = 0xFFFF;
  e.FromDate = 1u << 16;
  e.ToDate = 0xFFFFu << 16;
  std::uint64_t budget = 1000;
  EXPECT_FALSE(gen::ExceptionDays(e, budget));
  EXPECT_EQ(budget, 0u);
}

}  // namespace
