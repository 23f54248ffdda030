// Fixed cost, late dates, slack and leveling delay of tasks, and the cost
// accrual of resources: read at the place every known layout keeps them,
// out-of-range values leaving the defaults.
#include <gtest/gtest.h>

#include <string>

#include "model/Project.h"
#include "parse/KnownLayouts.h"
#include "parse/RscStorageParser.h"
#include "parse/TaskStorageParser.h"
#include "support/ProjectFixture.h"
#include "support/TestRun.h"

namespace {

using namespace mpp;
using project_fixture::BuildFixedData;
using project_fixture::ByteVector;
using project_fixture::Int;
using project_fixture::Real;
using project_fixture::Record;

platform::ByteView View(const ByteVector& bytes) { return platform::ByteView(bytes.data(), bytes.size()); }

constexpr std::uint32_t Date(std::uint32_t day, std::uint32_t tenths) { return (day << 16) | tenths; }

TEST(SchedulingFields, EveryTaskLayoutKeepsThemInItsOwnPlace) {
  for (const NamedLayout& known : KnownLayouts(RecordKind::Task)) {
    SCOPED_TRACE(known.name);
    const RecordLayout& layout = *known.layout;
    const auto fixed = BuildFixedData(
        RecordKind::Task,
        {{Record(layout, {Int(Field::TaskUID, 1), Int(Field::TaskID, 1), Real(Field::FixedCost, 12345.0),
                          Int(Field::FixedCostAccrual, 1), Int(Field::LateStart, Date(15000, 4800)),
                          Int(Field::LateFinish, Date(15002, 10200)), Int(Field::FreeSlack, 4800),
                          Int(Field::StartSlack, 0xFFFFED40u), Int(Field::FinishSlack, 9600),
                          Int(Field::LevelingDelay, 14400), Int(Field::LevelingDelayFormat, 7)})},
         // Out of range: the accrual keeps its default.
         {Record(layout, {Int(Field::TaskUID, 2), Int(Field::TaskID, 2), Int(Field::FixedCostAccrual, 9)})}});
    model::Project gen;
    ReadTaskFixedData(test_support::QuietRun(), View(fixed.meta), View(fixed.data), layout, gen);
    const model::SBkndTaskParams* task = gen.FindTask(1);
    ASSERT_NE(task, nullptr);
    EXPECT_DOUBLE_EQ(task->FixedCost, 123.45);
    EXPECT_EQ(task->FixedCostAccrual, 1);
    EXPECT_EQ(task->LateStart, Date(15000, 4800));
    EXPECT_EQ(task->LateFinish, Date(15002, 10200));
    EXPECT_EQ(task->FreeSlack, 4800);
    EXPECT_EQ(task->StartSlack, -4800);  // slack behind schedule is negative
    EXPECT_EQ(task->FinishSlack, 9600);
    EXPECT_EQ(task->LevelingDelay, 14400u);
    EXPECT_EQ(task->LevelingDelayFormat, 7);
    ASSERT_NE(gen.FindTask(2), nullptr);
    EXPECT_EQ(gen.FindTask(2)->FixedCostAccrual, 3);
  }
}

TEST(SchedulingFields, EveryResourceLayoutKeepsItsCostAccrual) {
  struct Case {
    std::uint32_t stored;
    std::uint16_t read;
  };
  for (const NamedLayout& known : KnownLayouts(RecordKind::Resource)) {
    SCOPED_TRACE(known.name);
    for (const Case c : {Case{1, 1}, Case{2, 2}, Case{3, 3}, Case{0, 3}, Case{7, 3}}) {
      const auto fixed = BuildFixedData(
          RecordKind::Resource,
          {{Record(*known.layout, {Int(Field::ResourceUID, 5), Int(Field::ResourceID, 1), Int(Field::AccrueAt, c.stored)})}});
      model::Project gen;
      ReadResourceFixedData(test_support::QuietRun(), View(fixed.meta), View(fixed.data), std::nullopt, *known.layout,
                            gen);
      ASSERT_FALSE(gen.Resources().empty());
      EXPECT_EQ(gen.Resources().front().AccrueAt, c.read) << "stored " << c.stored;
    }
  }
}

}  // namespace
