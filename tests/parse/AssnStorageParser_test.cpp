// The readers of assignments and links over fixture streams built record
// by record: what a record gives, what they leave out of damaged or lying
// streams, and the version 9 assignment values.
#include <gtest/gtest.h>

#include <vector>

#include "parse/AssnStorageParser.h"
#include "parse/StreamRecords.h"
#include "support/TestRun.h"
#include "support/ProjectFixture.h"

namespace {

using namespace mpp;
using project_fixture::AssignmentRecord;
using project_fixture::AssignmentValues;
using project_fixture::ByteVector;
using project_fixture::FixedItem;
using project_fixture::LinkRecord;
using project_fixture::LinkValues;

platform::ByteView View(const ByteVector& bytes) { return platform::ByteView(bytes.data(), bytes.size()); }

const RecordLayout& Assignments() { return BuiltInLayout14(RecordKind::Assignment); }
const RecordLayout& Links() { return BuiltInLayout14(RecordKind::Link); }

constexpr model::PackedDate Date(std::uint32_t day, std::uint32_t tenths) { return (day << 16) | tenths; }

FixedRecordCounts ReadAssignments(const project_fixture::FixedStreams& fixed, model::Project& gen,
                                  const RecordLayout& layout = Assignments()) {
  return ReadAssnFixedData(test_support::QuietRun(), View(fixed.meta), View(fixed.data), layout, gen);
}

FixedRecordCounts ReadLinks(const project_fixture::FixedStreams& fixed, model::Project& gen,
                            const RecordLayout& layout = Links()) {
  return ReadConsFixedData(test_support::QuietRun(), View(fixed.meta), View(fixed.data), layout, gen);
}

ByteVector Assignment(std::uint32_t uid, std::uint32_t task = 1, std::uint32_t resource = 1) {
  return AssignmentRecord(Assignments(), {.uid = uid, .task = task, .resource = resource});
}

// --- assignments --------------------------------------------------------

TEST(AssnFixedData, RecordsKeepTheirValuesWhateverTheyName) {
  model::Project gen;
  std::vector<FixedItem> items;
  items.emplace_back(AssignmentRecord(Assignments(), {.uid = 7, .task = 3, .resource = 2, .units = 5000,
                                                       .work = 9600, .actualWork = 4800, .cost = 125.5,
                                                       .start = Date(9000, 4800), .finish = Date(9001, 10200)}));
  // Nothing checks the task or resource here; no resource is a resource UID like any other.
  items.emplace_back(AssignmentRecord(Assignments(), {.uid = 8, .task = 99, .resource = model::kNoResourceUID}));
  // 20 units of a material, 125 % of a resource.
  items.emplace_back(AssignmentRecord(Assignments(), {.uid = 9, .task = 3, .resource = 4, .units = 200000}));
  items.emplace_back(AssignmentRecord(Assignments(), {.uid = 10, .task = 3, .resource = 5, .units = 12500}));
  const FixedRecordCounts counts = ReadAssignments(project_fixture::BuildFixedData(RecordKind::Assignment, items), gen);
  ASSERT_EQ(gen.assignments.size(), 4u);
  EXPECT_EQ(counts.records, 4u);
  const model::SBkndAssnParams& a = gen.assignments[0];
  EXPECT_EQ(a.UID, 7u);
  EXPECT_EQ(a.TaskUID, 3u);
  EXPECT_EQ(a.ResourceUID, 2u);
  EXPECT_EQ(a.Units, 5000.0);
  EXPECT_EQ(a.Work, 9600u);
  EXPECT_EQ(a.ActualWork, 4800u);
  EXPECT_DOUBLE_EQ(a.Cost, 125.5);  // stored in hundredths
  EXPECT_EQ(a.Start, Date(9000, 4800));
  EXPECT_EQ(a.Finish, Date(9001, 10200));
  EXPECT_EQ(gen.assignments[1].ResourceUID, model::kNoResourceUID);
  EXPECT_EQ(gen.assignments[1].TaskUID, 99u);
  EXPECT_EQ(gen.assignments[2].Units, 200000.0);
  EXPECT_EQ(gen.assignments[3].Units, 12500.0);
}

TEST(AssnFixedData, LeavesOutDeletedFreeAndStaleItems) {
  model::Project gen;
  std::vector<FixedItem> items;
  items.emplace_back(Assignment(1));
  items.emplace_back(Assignment(2), 2);  // deleted
  items.emplace_back(Assignment(3), 6);  // a deleted free slot
  items.emplace_back(FixedItem(ByteVector(16), 4, 16));  // a free slot
  items.emplace_back(Assignment(4));
  items.emplace_back(Assignment(5));  // past the valid count: a stale copy
  auto fixed = project_fixture::BuildFixedData(RecordKind::Assignment, items, 48, 5);
  const FixedRecordCounts counts = ReadAssignments(fixed, gen);
  ASSERT_EQ(gen.assignments.size(), 2u);
  EXPECT_EQ(gen.assignments[0].UID, 1u);
  EXPECT_EQ(gen.assignments[1].UID, 4u);
  EXPECT_EQ(counts.items, 5u);
  EXPECT_EQ(counts.deleted, 2u);
  EXPECT_EQ(counts.blank, 1u);
  EXPECT_EQ(counts.stale, 1u);

  // Without the header's magic the count cannot be trusted: every item is read.
  fixed.meta[0] = 0;
  model::Project all;
  ReadAssignments(fixed, all);
  EXPECT_EQ(all.assignments.size(), 3u);
}

// --- links --------------------------------------------------------------

TEST(ConsFixedData, TypesLagsAndDuplicates) {
  model::Project gen;
  std::vector<FixedItem> items;
  items.emplace_back(LinkRecord(Links(), {.uid = 1, .predecessor = 2, .successor = 3, .type = 3, .lag = 4800}));
  items.emplace_back(LinkRecord(Links(), {.uid = 1, .predecessor = 2, .successor = 4, .type = 7, .lag = -2400}));
  // Longer than 16 bits hold: 200 hours.
  items.emplace_back(LinkRecord(Links(), {.uid = 2, .predecessor = 3, .successor = 4, .type = 0, .lag = 120000}));
  items.emplace_back(LinkRecord(Links(), {.uid = 5, .predecessor = 9, .successor = 9}), 2);  // deleted
  const FixedRecordCounts counts = ReadLinks(project_fixture::BuildFixedData(RecordKind::Link, items), gen);
  ASSERT_EQ(gen.links.size(), 3u);
  EXPECT_EQ(counts.deleted, 1u);
  EXPECT_EQ(gen.links[0].Type, 3);
  EXPECT_EQ(gen.links[0].LinkLag, 4800);
  EXPECT_EQ(gen.links[0].LagFormat, 7);
  EXPECT_EQ(gen.links[0].CrossProject, 0);
  EXPECT_EQ(gen.links[1].UID, 1u);  // the same UID twice: both kept
  EXPECT_EQ(gen.links[1].Type, 1);  // unknown types are finish-to-start
  EXPECT_EQ(gen.links[1].LinkLag, -2400);
  EXPECT_EQ(gen.links[2].Type, 0);
  EXPECT_EQ(gen.links[2].LinkLag, 120000);
}

// --- version 9 assignment values -------------------------------------------

// Values of the assignment of their UID: a u32 of type 126, raw values of
// their one legal length, a new assignment for an unknown UID.
TEST(AssnVarData9, MergesValuesIntoTheAssignmentOfTheirUid) {
  model::Project gen;
  model::SBkndAssnParams read;
  read.UID = 1;
  read.TaskUID = 4;
  gen.assignments.push_back(read);
  const auto var = project_fixture::BuildVarData({{1, kAssnValueType126, project_fixture::Bytes(4).U32(0, 77)},
                                                  {1, kAssnRawType7, ByteVector(10, 1)},
                                                  {2, kAssnRawType9, ByteVector(76, 2)},
                                                  {1, 3, ByteVector(4, 3)}});
  EXPECT_EQ(ReadAssnVarData9(test_support::QuietRun(), View(var.meta), View(var.data), gen), 2u);
  ASSERT_EQ(gen.assignments.size(), 2u);
  EXPECT_EQ(gen.assignments[0].RawType126, 77u);
  EXPECT_EQ(gen.assignments[0].TaskUID, 4u);
  EXPECT_TRUE(gen.assignments[0].RawVar7.empty());
  EXPECT_EQ(gen.assignments[1].UID, 2u);
  EXPECT_EQ(gen.assignments[1].RawVar9.size(), 76u);
}

}  // namespace
