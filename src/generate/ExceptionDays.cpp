#include "generate/ExceptionDays.h"

#include <algorithm>

#include "base/Date.h"

namespace gen {

namespace {

// Day 1, 1984-01-01, was a Sunday; 0 = Sunday .. 6 = Saturday.
std::uint32_t WeekdayOf(std::uint32_t day) { return (day + 6) % 7; }

std::uint32_t DayNumber(std::int32_t year, std::int32_t month, std::int32_t day) {
  return static_cast<std::uint32_t>(std::max<std::int64_t>(CDate(day, month, year).DayNumber(), 0));
}

// Day d of the month, or its last day when the month is shorter.
std::uint32_t MonthDay(std::int32_t year, std::int32_t month, std::int32_t d) {
  const int length = CDate(1, month, year).DaysInMonth();
  return DayNumber(year, month, std::min(d, length));
}

// The week-th (1..4, 5 = last) given weekday (0 = Sunday) of the month.
std::uint32_t NthWeekday(std::int32_t year, std::int32_t month, std::uint32_t week, std::uint32_t weekday) {
  const std::uint32_t first = DayNumber(year, month, 1);
  const std::uint32_t firstMatch = first + (weekday + 7 - WeekdayOf(first)) % 7;
  if (week < 5) return firstMatch + 7 * (week - 1);
  const std::uint32_t last = first + CDate(1, month, year).DaysInMonth() - 1;
  return last - (WeekdayOf(last) + 7 - weekday) % 7;
}

// Collects the days of a rule in increasing order, refusing more than the
// file counts.
class Days {
 public:
  Days(std::uint32_t from, std::uint32_t to, std::uint32_t expected, std::uint64_t& budget)
      : from_(from), to_(to), expected_(expected), budget_(budget) {}
  // False once the rule has given more days than expected, or the budget
  // is spent.
  bool Add(std::uint32_t day) {
    if (budget_ == 0) return false;
    --budget_;
    if (day < from_ || day > to_) return true;
    if (++count_ > expected_) return false;
    if (!runs_.empty() && runs_.back().second + 1 == day) runs_.back().second = day;
    else runs_.emplace_back(day, day);
    return true;
  }
  std::optional<DayRuns> Result() { return count_ == expected_ ? std::optional(std::move(runs_)) : std::nullopt; }

 private:
  std::uint32_t from_, to_, expected_, count_ = 0;
  std::uint64_t& budget_;
  DayRuns runs_;
};

}  // namespace

std::optional<DayRuns> ExceptionDays(const model::SCalendarException& e, std::uint64_t& budget) {
  const std::uint32_t from = e.FromDate >> 16, to = e.ToDate >> 16;
  if (from == 0 || to < from) return std::nullopt;
  if (e.Recurrence == 1) return DayRuns{{from, to}};
  Days days(from, to, e.Occurrences, budget);
  const CDate start = CDate::FromDayNumber(from);
  // Months and years are stepped from the start's; a step past the last
  // day ends the rule.
  auto monthly = [&](std::uint32_t every, auto dayOf) -> std::optional<DayRuns> {
    if (every == 0) return std::nullopt;
    for (std::int64_t m = 0;; m += every) {
      const std::int64_t index = start.Year() * 12LL + (start.Month() - 1) + m;
      const auto year = static_cast<std::int32_t>(index / 12), month = static_cast<std::int32_t>(index % 12 + 1);
      if (DayNumber(year, month, 1) > to) break;
      if (!days.Add(dayOf(year, month))) return std::nullopt;
    }
    return days.Result();
  };
  switch (e.Recurrence) {
    case 7: {  // every n days
      const std::uint32_t every = e.Value76 | (e.Value77 << 8);
      if (every == 0) return std::nullopt;
      for (std::uint32_t day = from; day <= to; day += every)
        if (!days.Add(day)) return std::nullopt;
      return days.Result();
    }
    case 6: {  // the chosen days of every n-th week, weeks Sunday to Saturday
      const std::uint32_t mask = e.Value76 & 0x7F, every = e.Value78;
      if (mask == 0 || every == 0) return std::nullopt;
      for (std::uint32_t week = from - WeekdayOf(from); week <= to; week += 7 * every)
        for (std::uint32_t d = 0; d < 7; ++d)
          if ((mask >> d & 1) && !days.Add(week + d)) return std::nullopt;
      return days.Result();
    }
    case 4:  // day d of every n-th month
      if (e.Value76 < 1 || e.Value76 > 31) return std::nullopt;
      return monthly(e.Value78 & 0xFF, [&](std::int32_t y, std::int32_t m) { return MonthDay(y, m, e.Value76); });
    case 5: {  // the n-th weekday of every n-th month
      const std::uint32_t week = e.Value76 + 1u, weekday = e.Value77 - 3u;
      if (week > 5 || e.Value77 < 3 || weekday > 6) return std::nullopt;
      return monthly(e.Value78 & 0xFF, [&](std::int32_t y, std::int32_t m) { return NthWeekday(y, m, week, weekday); });
    }
    case 2:    // day d of month m, every year
    case 3: {  // the n-th weekday of month m, every year
      if (e.Value76 > 11) return std::nullopt;
      const std::int32_t month = e.Value76 + 1;
      const std::uint32_t week = e.Value77 + 1u, weekday = (e.Value78 & 0xFF) - 3u;
      if (e.Recurrence == 2 ? e.Value77 < 1 || e.Value77 > 31 : week > 5 || (e.Value78 & 0xFF) < 3 || weekday > 6)
        return std::nullopt;
      for (std::int32_t year = start.Year(); DayNumber(year, month, 1) <= to; ++year) {
        const std::uint32_t day = e.Recurrence == 2 ? MonthDay(year, month, e.Value77) : NthWeekday(year, month, week, weekday);
        if (!days.Add(day)) return std::nullopt;
      }
      return days.Result();
    }
    default: return std::nullopt;
  }
}

}  // namespace gen
