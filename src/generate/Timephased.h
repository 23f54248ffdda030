// Timephased work: an amount of work spread day by day over the working
// time of a week, from a start date, one element per day.
//
//   first day     from the start time through the day's periods, as much
//                 as fits
//   later days    a day without working time gets an element of no work
//                 from 08:00 to 17:00; a day whose working time fits into
//                 what is left takes it whole, from its first period's
//                 start to its last period's end; the day on which the work
//                 runs out ends at the end time given (or, when that does
//                 not lie in the day's working time, where the work runs
//                 out)
//
// The walk is bounded whatever the calendar and the work: a week without
// working time is replaced by the default working week, and at most
// maxDays days after the first are walked, never past the last date a day
// number can name.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "model/Records.h"

namespace gen {

// Days walked after the first: the longest work a record can hold
// (model::kMaxDuration, 2968 days of eight hours) spread over a five-day
// week takes 4155 days.
inline constexpr std::uint32_t kMaxTimephasedDays = 5000;
// Timephased elements of one document: beyond it, the remaining
// assignments are written without their timephased data (about 8 lines and
// 250 bytes each; half a million days of work is far beyond any project).
inline constexpr std::uint64_t kMaxTimephasedElements = 500000;
// 2049-12-31, the last date the day numbers of a file reach.
inline constexpr std::uint16_t kLastDayNumber = 24107;
// Times of the element of a day without working time.
inline constexpr std::uint32_t kIdleDayStart = 4800;
inline constexpr std::uint32_t kIdleDayFinish = 10200;
// Tenths of a minute in a day.
inline constexpr std::uint32_t kDayTenths = 14400;

// The working periods of one week day, ascending, not overlapping, inside
// the day.
struct DayPlan {
  struct Period {
    std::uint32_t start = 0;
    std::uint32_t end = 0;
  };
  std::vector<Period> periods;
  std::uint32_t total = 0;  // tenths of a minute
};

class WorkWeek {
 public:
  // The week of a calendar, Sunday first. Periods that are empty, leave
  // the day or overlap an earlier one are left out. A calendar that is
  // missing, has fewer than seven days or no working time at all gives the
  // default working week (UsesDefault()).
  static WorkWeek Of(const model::SCalendar* calendar);
  static WorkWeek Of(const std::vector<model::SWeekDay>& days);

  // The plan of a day number (day 1, 1984-01-01, is a Sunday; day 0 counts
  // as day 1).
  const DayPlan& Day(std::uint32_t dayNumber) const;
  bool UsesDefault() const { return usesDefault_; }

 private:
  std::array<DayPlan, 7> days_;
  bool usesDefault_ = false;
};

struct TimephasedElement {
  model::PackedDate start = 0;
  model::PackedDate finish = 0;
  std::uint32_t value = 0;  // tenths of a minute
};

struct Distribution {
  enum class Outcome { Done, NoWork, Stopped, Cut };
  Outcome outcome = Outcome::Done;
  std::uint32_t elements = 0;
  std::uint32_t daysWalked = 0;  // after the first
  std::uint32_t workLeft = 0;    // not placed when the walk was cut
};

// Spreads work (tenths of a minute) from start over week. emit gets each
// element and returns false to stop the walk (Outcome::Stopped). Zero work
// gives Outcome::NoWork and no element; a walk that reaches maxDays or the
// last day number with work left ends with Outcome::Cut, and so does one
// that would start past the last day number (without an element).
Distribution DistributeWork(const WorkWeek& week, std::uint32_t work, model::PackedDate start,
                            std::uint32_t endTime, const std::function<bool(const TimephasedElement&)>& emit,
                            std::uint32_t maxDays = kMaxTimephasedDays);

// Spreads an assignment's stretches of work and pauses from start: each
// stretch of work over as much working time as its length, its work in
// proportion; a pause moves on by its length without elements. The same
// outcomes as DistributeWork; maxDays counts the days of every stretch.
Distribution DistributeBlocks(const WorkWeek& week, const std::vector<model::SWorkBlock>& blocks,
                              model::PackedDate start, const std::function<bool(const TimephasedElement&)>& emit,
                              std::uint32_t maxDays = kMaxTimephasedDays);

}  // namespace gen
