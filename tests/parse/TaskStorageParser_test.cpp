// The version 14 task reader over fixture streams built record by record:
// what each pass takes, what it leaves out of damaged or lying streams,
// and the outline numbering.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "parse/StreamRecords.h"
#include "parse/TaskStorageParser.h"
#include "support/TestRun.h"
#include "support/ProjectFixture.h"

namespace {

using namespace mpp;
using model::SBkndTaskParams;
using project_fixture::ByteVector;
using project_fixture::Int;
using project_fixture::Real;
using project_fixture::Record;
using project_fixture::Utf16z;
using project_fixture::VarItem;

platform::ByteView View(const ByteVector& bytes) { return platform::ByteView(bytes.data(), bytes.size()); }

const RecordLayout& Tasks() { return BuiltInLayout14(RecordKind::Task); }

constexpr model::PackedDate Date(std::uint32_t day, std::uint32_t tenths) { return (day << 16) | tenths; }

void ReadVar(const std::vector<VarItem>& items, model::Project& gen) {
  auto var = project_fixture::BuildVarData(items);
  ReadTaskVarData(test_support::QuietRun(), View(var.meta), View(var.data), gen);
}

TaskFixedCounts ReadFixed(const project_fixture::FixedStreams& fixed, model::Project& gen,
                          const RecordLayout& layout = Tasks()) {
  return ReadTaskFixedData(test_support::QuietRun(), View(fixed.meta), View(fixed.data), layout, gen);
}

// --- var data ---------------------------------------------------------

// --- fixed data -------------------------------------------------------

TEST(TaskFixedData, FillsTheTaskOfItsUidAndChecksValues) {
  model::Project gen;
  ReadVar({{7, kTaskNameType, Utf16z(u"Build")}}, gen);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  auto fixed = project_fixture::BuildFixedData(
      RecordKind::Task,
      {Record(Tasks(), {Int(Field::TaskUID, 7), Int(Field::TaskID, 3), Int(Field::Start, Date(9000, 4800)),
                        Int(Field::Finish, Date(9004, 10200)), Int(Field::Duration, 24000),
                        Int(Field::DurationFormat, 99), Int(Field::OutlineLevel, 2), Int(Field::ParentUID, 70000),
                        Int(Field::PercentComplete, 300), Int(Field::ConstraintType, 77),
                        Int(Field::TaskCalendarUID, 0x10005), Real(Field::Work, 1440000.0),
                        Real(Field::ActualWork, nan), Real(Field::RemainingWork, -5.0),
                        Real(Field::Cost, 12345.0), Int(Field::TaskType, 2)})});
  ReadFixed(fixed, gen);
  ASSERT_EQ(gen.Tasks().size(), 1u);
  const SBkndTaskParams& t = gen.Tasks()[0];
  EXPECT_EQ(t.Name, u"Build");
  EXPECT_EQ(t.ID, 3u);
  EXPECT_EQ(t.Start, Date(9000, 4800));
  EXPECT_EQ(t.Finish, Date(9004, 10200));
  EXPECT_EQ(t.Duration, 24000u);
  EXPECT_EQ(t.DurationFormat, 7);  // out of range: the default
  EXPECT_EQ(t.OutlineLevel, 2);
  EXPECT_EQ(t.ParentUID, 70000u);
  EXPECT_EQ(t.PercentComplete, 0u);  // beyond 100: taken for damage
  EXPECT_EQ(t.ConstraintType, 0);
  EXPECT_EQ(t.CalendarUID, 0x10005u);
  EXPECT_EQ(t.Work, 14400u);
  EXPECT_EQ(t.ActualWork, 0u);
  EXPECT_EQ(t.RemainingWork, 0u);
  EXPECT_DOUBLE_EQ(t.Cost, 123.45);  // stored in hundredths
  EXPECT_EQ(t.Type, 2);
  EXPECT_EQ(gen.projectStartDay, 9000);
  EXPECT_EQ(gen.projectFinishDay, 9004);
}

// --- outline ----------------------------------------------------------

SBkndTaskParams Task(std::uint32_t uid, std::uint32_t parent, std::uint32_t id = 0) {
  SBkndTaskParams t;
  t.UID = uid;
  t.ParentUID = parent;
  t.ID = id;
  return t;
}

std::vector<std::pair<std::uint32_t, std::string>> Outline(const model::Project& gen) {
  std::vector<std::pair<std::uint32_t, std::string>> out;
  for (const auto& t : gen.Tasks()) out.emplace_back(t.UID, t.OutlineNumber);
  return out;
}

TEST(OutlineNumbers, PreOrderIdsAndNumbersSummaryMarks) {
  model::Project gen;
  // List order: C's child before its parent, the summary row in the middle
  // (files of the 2000 application keep it last): it is row 0 all the same.
  for (auto t : {Task(1, 0), Task(2, 0), Task(31, 3), Task(0, 0), Task(21, 2), Task(3, 0), Task(22, 2)})
    gen.AppendTask(t);
  OutlineNumberParser(test_support::QuietRun(), gen);
  const std::vector<std::pair<std::uint32_t, std::string>> expected = {
      {0, ""}, {1, "1"}, {2, "2"}, {21, "2.1"}, {22, "2.2"}, {3, "3"}, {31, "3.1"}};
  EXPECT_EQ(Outline(gen), expected);
  for (std::size_t i = 0; i < gen.Tasks().size(); ++i) EXPECT_EQ(gen.Tasks()[i].ID, i);
  EXPECT_EQ(gen.Tasks()[2].Summary, 1);
  EXPECT_EQ(gen.Tasks()[5].Summary, 1);
  EXPECT_EQ(gen.Tasks()[1].Summary, 0);
  EXPECT_EQ(gen.FindTask(22)->UID, 22u);  // the index follows the sort
}

// --- the storage, through the version 14 driver -----------------------


}  // namespace
