#include "generate/Timephased.h"

#include <algorithm>

namespace gen {

namespace {

constexpr model::PackedDate Pack(std::uint32_t day, std::uint32_t time) {
  return (day << 16) | (time & 0xFFFF);
}

DayPlan PlanOf(const model::SWeekDay& day) {
  DayPlan plan;
  for (const model::SWorkingPeriod& period : day.Periods) {
    const std::uint64_t end = static_cast<std::uint64_t>(period.Start) + period.Length;
    if (period.Length == 0 || end > kDayTenths) continue;
    plan.periods.push_back({period.Start, static_cast<std::uint32_t>(end)});
  }
  std::stable_sort(plan.periods.begin(), plan.periods.end(),
                   [](const DayPlan::Period& a, const DayPlan::Period& b) { return a.start < b.start; });
  std::vector<DayPlan::Period> kept;
  for (const DayPlan::Period& period : plan.periods) {
    if (!kept.empty() && period.start < kept.back().end) continue;
    kept.push_back(period);
    plan.total += period.end - period.start;
  }
  plan.periods = std::move(kept);
  return plan;
}

// Where work running from time `from` through the day's periods ends,
// and how much of it the day takes.
struct DayUse {
  std::uint32_t used = 0;
  std::uint32_t finish = 0;
};

DayUse UseDay(const DayPlan& plan, std::uint32_t from, std::uint32_t work) {
  DayUse use;
  use.finish = from;
  for (const DayPlan::Period& period : plan.periods) {
    if (work == 0) break;
    if (period.end <= from) continue;
    const std::uint32_t begin = std::max(from, period.start);
    const std::uint32_t room = period.end - begin;
    if (work <= room) {
      use.used += work;
      use.finish = begin + work;
      work = 0;
      break;
    }
    use.used += room;
    work -= room;
    use.finish = period.end;
  }
  return use;
}

}  // namespace

WorkWeek WorkWeek::Of(const std::vector<model::SWeekDay>& days) {
  WorkWeek week;
  std::uint64_t total = 0;
  if (days.size() >= 7) {
    for (std::size_t i = 0; i < 7; ++i) {
      week.days_[i] = PlanOf(days[i]);
      total += week.days_[i].total;
    }
  }
  if (total == 0) {
    const std::vector<model::SWeekDay> standard = model::DefaultWorkingWeek();
    for (std::size_t i = 0; i < 7; ++i) week.days_[i] = PlanOf(standard[i]);
    week.usesDefault_ = true;
  }
  return week;
}

WorkWeek WorkWeek::Of(const model::SCalendar* calendar) {
  static const std::vector<model::SWeekDay> none;
  return Of(calendar ? calendar->WeekDays : none);
}

const DayPlan& WorkWeek::Day(std::uint32_t dayNumber) const {
  return days_[dayNumber == 0 ? 0 : (dayNumber - 1) % 7];
}

Distribution DistributeWork(const WorkWeek& week, std::uint32_t work, model::PackedDate start, std::uint32_t endTime,
                            const std::function<bool(const TimephasedElement&)>& emit, std::uint32_t maxDays) {
  Distribution result;
  if (work == 0) {
    result.outcome = Distribution::Outcome::NoWork;
    return result;
  }
  auto put = [&](model::PackedDate from, model::PackedDate to, std::uint32_t value) {
    ++result.elements;
    return emit({from, to, value});
  };

  std::uint32_t day = model::DayOf(start);
  std::uint32_t left = work;
  if (day > kLastDayNumber) {
    result.outcome = Distribution::Outcome::Cut;
    result.workLeft = left;
    return result;
  }
  // The first day, from the start time on. A start outside the working
  // time begins with the day's next period; a day that takes nothing gets
  // no element.
  const DayUse first = UseDay(week.Day(day), start & 0xFFFF, left);
  if (first.used > 0) {
    left -= first.used;
    if (!put(start, Pack(day, first.finish), first.used)) {
      result.outcome = Distribution::Outcome::Stopped;
      return result;
    }
  }

  while (left > 0) {
    if (result.daysWalked >= maxDays || day >= kLastDayNumber) {
      result.outcome = Distribution::Outcome::Cut;
      result.workLeft = left;
      return result;
    }
    ++day;
    ++result.daysWalked;
    const DayPlan& plan = week.Day(day);
    bool more = true;
    if (plan.total == 0) {
      more = put(Pack(day, kIdleDayStart), Pack(day, kIdleDayFinish), 0);
    } else if (plan.total <= left) {
      more = put(Pack(day, plan.periods.front().start), Pack(day, plan.periods.back().end), plan.total);
      left -= plan.total;
    } else {
      const std::uint32_t begin = plan.periods.front().start;
      const bool endFits = endTime > begin && endTime <= plan.periods.back().end;
      const std::uint32_t finish = endFits ? endTime : UseDay(plan, begin, left).finish;
      more = put(Pack(day, begin), Pack(day, finish), left);
      left = 0;
    }
    if (!more) {
      result.outcome = Distribution::Outcome::Stopped;
      return result;
    }
  }
  return result;
}

Distribution DistributeBlocks(const WorkWeek& week, const std::vector<model::SWorkBlock>& blocks,
                              model::PackedDate start, const std::function<bool(const TimephasedElement&)>& emit,
                              std::uint32_t maxDays) {
  Distribution result;
  model::PackedDate cursor = start;
  std::uint32_t lastEnd = 0;
  for (const model::SWorkBlock& block : blocks) {
    const std::uint32_t length = block.end > lastEnd ? block.end - lastEnd : 0;
    lastEnd = std::max(lastEnd, block.end);
    if (length == 0) continue;
    // The stretch's working time is walked as work; what is written is its
    // share of the block's work, so that the shares add up exactly.
    std::uint64_t timeSoFar = 0, workSoFar = 0;
    model::PackedDate last = cursor;
    auto place = [&](const TimephasedElement& element) {
      last = element.finish;
      if (block.work == 0) return true;
      timeSoFar += element.value;
      const std::uint64_t upTo = std::uint64_t{block.work} * timeSoFar / length;
      TimephasedElement share = element;
      share.value = static_cast<std::uint32_t>(upTo - workSoFar);
      workSoFar = upTo;
      ++result.elements;
      return emit(share);
    };
    const std::uint32_t daysLeft = maxDays > result.daysWalked ? maxDays - result.daysWalked : 0;
    const Distribution part = DistributeWork(week, length, cursor, 0, place, daysLeft);
    result.daysWalked += part.daysWalked;
    if (part.outcome == Distribution::Outcome::Stopped || part.outcome == Distribution::Outcome::Cut) {
      result.outcome = part.outcome;
      result.workLeft = part.workLeft;
      return result;
    }
    cursor = last;
  }
  if (result.elements == 0) result.outcome = Distribution::Outcome::NoWork;
  return result;
}

}  // namespace gen
