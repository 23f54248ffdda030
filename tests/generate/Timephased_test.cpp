// Timephased work spread over a working week: the days it takes, the
// elements of days without work, partial first and last days, damaged
// weeks, and the bounds of the walk.
#include <gtest/gtest.h>

#include <vector>

#include "base/Date.h"
#include "generate/Timephased.h"
#include "model/Validators.h"

namespace {

using gen::Distribution;
using gen::DistributeWork;
using gen::TimephasedElement;
using gen::WorkWeek;

constexpr std::uint32_t kMonday = 8997;  // 2008-08-18
constexpr model::PackedDate At(std::uint32_t day, std::uint32_t tenths) { return (day << 16) | tenths; }

struct Spreading {
  std::vector<TimephasedElement> elements;
  Distribution result;
};

Spreading Spread(const WorkWeek& week, std::uint32_t work, model::PackedDate start, std::uint32_t endTime,
           std::uint32_t maxDays = gen::kMaxTimephasedDays) {
  Spreading run;
  run.result = DistributeWork(
      week, work, start, endTime,
      [&](const TimephasedElement& e) {
        run.elements.push_back(e);
        return true;
      },
      maxDays);
  return run;
}

void ExpectElement(const TimephasedElement& e, model::PackedDate start, model::PackedDate finish, std::uint32_t value) {
  EXPECT_EQ(e.start, start);
  EXPECT_EQ(e.finish, finish);
  EXPECT_EQ(e.value, value);
}

WorkWeek Standard() { return WorkWeek::Of(model::DefaultWorkingWeek()); }

TEST(Timephased, WholeDaysThenAPartialLastDay) {
  // Two days of work from Monday 08:00: Monday and Tuesday, 08:00 to 17:00.
  Spreading two = Spread(Standard(), 9600, At(kMonday, 4800), 10200);
  EXPECT_EQ(two.result.outcome, Distribution::Outcome::Done);
  ASSERT_EQ(two.elements.size(), 2u);
  ExpectElement(two.elements[0], At(kMonday, 4800), At(kMonday, 10200), 4800);
  ExpectElement(two.elements[1], At(kMonday + 1, 4800), At(kMonday + 1, 10200), 4800);

  // From Monday 10:00, 12 hours: Monday to 17:00 (6 h), Tuesday to the end time given (6 h).
  Spreading partial = Spread(Standard(), 7200, At(kMonday, 6000), 9000);
  ASSERT_EQ(partial.elements.size(), 2u);
  ExpectElement(partial.elements[0], At(kMonday, 6000), At(kMonday, 10200), 3600);
  ExpectElement(partial.elements[1], At(kMonday + 1, 4800), At(kMonday + 1, 9000), 3600);

  // Work that ends inside the first period of the first day.
  Spreading brief = Spread(Standard(), 600, At(kMonday, 4800), 5400);
  ASSERT_EQ(brief.elements.size(), 1u);
  ExpectElement(brief.elements[0], At(kMonday, 4800), At(kMonday, 5400), 600);
}

TEST(Timephased, StartsOutsideTheWorkingTime) {
  // At noon, in the lunch break: the work begins with the afternoon.
  Spreading lunch = Spread(Standard(), 2400, At(kMonday, 7200), 10200);
  ASSERT_EQ(lunch.elements.size(), 1u);
  ExpectElement(lunch.elements[0], At(kMonday, 7200), At(kMonday, 10200), 2400);
  // After hours: nothing on the first day, no element running backwards.
  Spreading evening = Spread(Standard(), 2400, At(kMonday, 12000), 7200);
  ASSERT_EQ(evening.elements.size(), 1u);
  ExpectElement(evening.elements[0], At(kMonday + 1, 4800), At(kMonday + 1, 7200), 2400);
  // An end time outside the last day's working time: the finish is where the work runs out.
  Spreading late = Spread(Standard(), 7200, At(kMonday, 4800), 0);
  ASSERT_EQ(late.elements.size(), 2u);
  ExpectElement(late.elements[1], At(kMonday + 1, 4800), At(kMonday + 1, 7200), 2400);
  // No work, no element.
  EXPECT_EQ(Spread(Standard(), 0, At(kMonday, 4800), 0).result.outcome, Distribution::Outcome::NoWork);
}

// Stretches of work and pauses: work runs only in the stretches, in
// proportion at other units, and a pause moves the next stretch on.
TEST(DistributeBlocks, PausesLeaveTheirWorkingTimeEmpty) {
  constexpr std::uint32_t kDay = 4800;  // tenths of a minute in a working day
  struct Case {
    const char* name;
    std::vector<model::SWorkBlock> blocks;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> expected;  // (day after kMonday, work)
  };
  const Case cases[] = {
      {"work, pause, work", {{2 * kDay, 2 * kDay}, {3 * kDay, 0}, {4 * kDay, kDay}}, {{0, kDay}, {1, kDay}, {3, kDay}}},
      // Half the work over the same stretch: half of each day.
      {"half units", {{kDay, kDay / 2}, {2 * kDay, 0}, {3 * kDay, kDay / 2}}, {{0, kDay / 2}, {2, kDay / 2}}},
      // A pause over the weekend: Friday's work, then the next Wednesday's.
      {"pause across a weekend", {{5 * kDay, 5 * kDay}, {7 * kDay, 0}, {8 * kDay, kDay}},
       {{0, kDay}, {1, kDay}, {2, kDay}, {3, kDay}, {4, kDay}, {9, kDay}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<TimephasedElement> elements;
    const Distribution result = gen::DistributeBlocks(Standard(), c.blocks, At(kMonday, 4800), [&](const TimephasedElement& e) {
      if (e.value) elements.push_back(e);
      return true;
    });
    EXPECT_EQ(result.outcome, Distribution::Outcome::Done);
    ASSERT_EQ(elements.size(), c.expected.size());
    for (std::size_t i = 0; i < elements.size(); ++i) {
      EXPECT_EQ(model::DayOf(elements[i].start), kMonday + c.expected[i].first) << i;
      EXPECT_EQ(elements[i].value, c.expected[i].second) << i;
    }
  }
}

}  // namespace
