// The days a calendar exception takes, rule by rule: a plain exception its
// whole range; every n days; the chosen days of every n-th week; day d or
// the n-th weekday of every n-th month; the same in one month of every
// year. Documents list these days once more, beside the exception, for
// readers that know no rules.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "model/Records.h"

namespace gen {

// Runs of consecutive days, as first and last day numbers (1 = 1984-01-01).
using DayRuns = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

// The exception's days between its first and last day, merged into runs;
// nothing when its rule or parameters are unknown, or when the days the
// rule gives are not the occurrences the file counts for it (a damaged
// rule: no day is invented). Each day looked at takes one from budget;
// nothing once it is spent (a document's lists stay bounded).
std::optional<DayRuns> ExceptionDays(const model::SCalendarException& exception, std::uint64_t& budget);

}  // namespace gen
