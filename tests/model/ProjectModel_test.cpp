// The project model: the value checks, texts and notes taken from var-data
// items, and the look-ups by UID that the readers rely on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "model/Project.h"
#include "model/Records.h"
#include "model/Validators.h"

namespace {

using namespace model;

TEST(Validators, ReplaceValuesOutsideTheirRange) {
  EXPECT_EQ(ClampDuration(kMaxDuration), kMaxDuration);
  EXPECT_EQ(ClampDuration(kMaxDuration + 1), 0u);
  EXPECT_EQ(ClampPercent(100), 100u);
  EXPECT_EQ(ClampPercent(150), 0u);
  EXPECT_EQ(ValidTaskType(2), 2);
  EXPECT_EQ(ValidTaskType(3), 0);
  EXPECT_EQ(ValidConstraintType(8), 8);
  EXPECT_EQ(ValidConstraintType(9), 0);
  EXPECT_EQ(ValidLinkType(3), 3);
  EXPECT_EQ(ValidLinkType(7), 1);
  EXPECT_EQ(ValidRateTable(4), 4);
  EXPECT_EQ(ValidRateTable(5), 0);
  EXPECT_EQ(ValidRateFormat(8), 8);
  EXPECT_EQ(ValidRateFormat(9), 2);
}

TEST(Validators, UnitsAreCappedAndTinyUnitsDropped) {
  // 125 % and 20 units of a material are real values.
  EXPECT_EQ(ClampUnits(12500.0), 12500.0);
  EXPECT_EQ(ClampUnits(200000.0), 200000.0);
  EXPECT_EQ(ClampUnits(5e12), kMaxUnits);
  EXPECT_EQ(ClampUnits(0.5), 0.0);
  EXPECT_EQ(ClampUnits(1.0), 1.0);
  EXPECT_EQ(ClampUnits(-5.0), 0.0);
  EXPECT_EQ(ClampUnits(std::numeric_limits<double>::quiet_NaN()), 0.0);
  EXPECT_EQ(ClampUnits(std::numeric_limits<double>::infinity()), kMaxUnits);
}

TEST(Validators, CostsBeyondTheLimitOrNotNumbersBecomeZero) {
  EXPECT_EQ(ClampCost(1e9), 1e9);
  EXPECT_EQ(ClampCost(-250.5), -250.5);
  EXPECT_EQ(ClampCost(1e9 + 1), 0.0);
  EXPECT_EQ(ClampCost(-1e12), 0.0);
  EXPECT_EQ(ClampCost(std::numeric_limits<double>::quiet_NaN()), 0.0);
  EXPECT_EQ(ClampCost(-std::numeric_limits<double>::infinity()), 0.0);
}

// Work is stored as a float; damaged records hold anything, and none of it
// may reach an integer conversion out of range.
TEST(Validators, WorkFromDamagedFloats) {
  EXPECT_EQ(WorkFromRaw(48000.0), 480u);
  EXPECT_EQ(WorkFromRaw(199.9), 1u);  // truncated toward zero
  EXPECT_EQ(WorkFromRaw(-50.0), 0u);
  EXPECT_EQ(WorkFromRaw(-1e6), 0u);
  EXPECT_EQ(WorkFromRaw(100.0 * kMaxDuration), kMaxDuration);
  EXPECT_EQ(WorkFromRaw(100.0 * (kMaxDuration + 1)), 0u);
  EXPECT_EQ(WorkFromRaw(1e300), 0u);
  EXPECT_EQ(WorkFromRaw(std::numeric_limits<double>::quiet_NaN()), 0u);
  EXPECT_EQ(WorkFromRaw(std::numeric_limits<double>::infinity()), 0u);
}

SBkndTaskParams Task(std::uint32_t uid, std::uint32_t id) {
  SBkndTaskParams task;
  task.UID = uid;
  task.ID = id;
  return task;
}

TEST(ModelLookups, FirstRecordWithTheUidWins) {
  model::Project gen;
  gen.AppendTask(Task(5, 1));
  gen.AppendTask(Task(7, 2));
  gen.AppendTask(Task(5, 3));
  gen.AppendTask(Task(5, 4));
  ASSERT_NE(gen.FindTask(5), nullptr);
  EXPECT_EQ(gen.FindTask(5)->ID, 1u);
  EXPECT_EQ(gen.FindTask(7)->ID, 2u);
  EXPECT_EQ(gen.FindTask(6), nullptr);

  // The other records with the UID follow in list order.
  auto& list = gen.TaskList();
  std::vector<std::uint32_t> ids;
  for (std::size_t i = list.Find(5); i != list.npos; i = list.Next(i)) ids.push_back(list[i].ID);
  EXPECT_EQ(ids, (std::vector<std::uint32_t>{1, 3, 4}));
}

}  // namespace
