// The readers of assignments and links over fixture streams built record
// by record: what a record gives, what they leave out of damaged or lying
// streams, the assignments' flags, GUIDs and var values, and the version 9
// assignment values.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "model/CustomFieldCatalog.h"

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

  // The files' count of valid items does not always cover the stale ones:
  // a record repeating an earlier one's UID, task and resource is a copy;
  // the same UID for another pair is damage and is kept.
  auto copies = project_fixture::BuildFixedData(
      RecordKind::Assignment, {Assignment(1, 3, 2), Assignment(2), Assignment(1, 3, 2), Assignment(1, 4, 2)});
  model::Project once;
  EXPECT_EQ(ReadAssignments(copies, once).stale, 1u);
  ASSERT_EQ(once.assignments.size(), 3u);
  EXPECT_EQ(once.assignments[2].TaskUID, 4u);

  // Items that name a record an earlier item named: past the count a sound
  // header tells, stale copies; in a zeroed meta (every item names the
  // first record), garbled items whose own records are unreadable.
  auto named = project_fixture::BuildFixedData(RecordKind::Assignment, {Assignment(1), Assignment(2), Assignment(3)});
  const std::size_t stride = FixedMetaStride(RecordKind::Assignment);
  const std::uint32_t soundHeader[] = {kSoundMetaMark, 0, 2};
  for (std::size_t i = 0; i < 12; ++i) named.meta[i] = static_cast<std::uint8_t>(soundHeader[i / 4] >> (8 * (i % 4)));
  std::copy_n(named.meta.begin() + kFixedMetaHeader + 4, 4, named.meta.begin() + kFixedMetaHeader + 2 * stride + 4);
  model::Project pastCount;
  const FixedRecordCounts copy = ReadAssignments(named, pastCount);
  EXPECT_EQ(copy.stale, 1u);
  EXPECT_EQ(copy.unreadable, 0u);
  std::fill(named.meta.begin(), named.meta.end(), 0);
  model::Project zeroed;
  EXPECT_EQ(ReadAssignments(named, zeroed).unreadable, 2u);
  EXPECT_EQ(zeroed.assignments.size(), 1u);

  // A meta cut inside an item lost the items its header still counts, and
  // their records; a whole one that counts more (a damaged count) did not.
  auto three = project_fixture::BuildFixedData(RecordKind::Assignment, {Assignment(1), Assignment(2), Assignment(3)});
  auto cut = three;
  cut.meta.resize(kFixedMetaHeader + FixedMetaStride(RecordKind::Assignment) + 9);
  model::Project fromCut;
  EXPECT_EQ(ReadAssignments(cut, fromCut).unreadable, 2u);
  EXPECT_EQ(fromCut.assignments.size(), 1u);
  three.meta[8] = 4;
  model::Project fromWhole;
  EXPECT_EQ(ReadAssignments(three, fromWhole).unreadable, 0u);
}

// Flags from the FixedMeta item's bits (Flag10 before Flag1), the GUID from
// the second record the Fixed2Meta row places; a row that points outside
// Fixed2Data or at a record another row took, or a GUID of zeros, gives
// none.
TEST(AssnFixedData, FlagsAndGuidsBesideTheRecord) {
  model::Project gen;
  std::vector<FixedItem> items;
  items.emplace_back(Assignment(1));
  items.back().metaBytes = {{28, 0xC0}, {30, 0x01}};  // bits 230, 231, 240: Flag10, Flag1, Flag11
  items.emplace_back(Assignment(2));
  items.back().metaBytes = {{8, 0x10}};  // work reshaped by hand
  items.emplace_back(Assignment(3));
  items.emplace_back(Assignment(4));
  const auto fixed = project_fixture::BuildFixedData(RecordKind::Assignment, items);
  const ByteVector fixed2Data = project_fixture::Bytes(96).U32(0, 0x81DC0978).U8(15, 0x51);
  const ByteVector fixed2Meta = project_fixture::BuildFixed2Meta({project_fixture::Bytes(8).U32(4, 0),
                                                                   project_fixture::Bytes(8).U32(4, 48),
                                                                   project_fixture::Bytes(8).U32(4, 90), {}});
  AssnSideStreams side;
  side.bits = &kAssignmentBits9;
  side.fixed2Meta = View(fixed2Meta);
  side.fixed2Data = View(fixed2Data);
  ReadAssnFixedData(test_support::QuietRun(), View(fixed.meta), View(fixed.data), Assignments(), gen, nullptr, side);
  ASSERT_EQ(gen.assignments.size(), 4u);
  ASSERT_TRUE(gen.assignments[0].Guid);
  EXPECT_EQ((*gen.assignments[0].Guid)[0], 0x78);
  EXPECT_EQ((*gen.assignments[0].Guid)[15], 0x51);
  EXPECT_FALSE(gen.assignments[1].Guid);  // zeros
  EXPECT_FALSE(gen.assignments[2].Guid);  // 90 + 16 bytes leave Fixed2Data
  EXPECT_FALSE(gen.assignments[3].Guid);  // the first one's record: no GUID twice
  EXPECT_FALSE(gen.assignments[0].WorkContour);
  EXPECT_EQ(gen.assignments[1].WorkContour, model::kContouredByHand);
  std::vector<std::uint32_t> flags;
  for (const model::SCustomFieldValue& value : gen.customFieldValues) {
    EXPECT_EQ(value.Owner, model::OwnerKind::Assignment);
    EXPECT_EQ(value.OwnerUID, 1u);
    flags.push_back(value.FieldID);
  }
  EXPECT_EQ(flags, (std::vector<std::uint32_t>{model::AssignmentFlagFieldId(10), model::AssignmentFlagFieldId(1),
                                               model::AssignmentFlagFieldId(11)}));
}

// Each var value into its own member, in its own encoding; a value too
// short for its field, a "no date", an owner without a record and an
// unknown type are left out; custom fields are kept for the assignment.
TEST(AssnVarData, ValuesGoToTheirMembers) {
  struct Case {
    std::uint32_t type;
    ByteVector value;
    std::uint32_t model::SBkndAssnParams::*work;
    double model::SBkndAssnParams::*money;
    double expected;
  };
  using A = model::SBkndAssnParams;
  const auto f64 = [](double v) { return ByteVector(project_fixture::Bytes(8).F64(0, v)); };
  const std::vector<Case> cases = {
      {0x0F400009, f64(540000), &A::OvertimeWork, nullptr, 5400},
      {0x0F40000D, f64(60000), &A::ActualOvertimeWork, nullptr, 600},
      {0x0F40000E, f64(480000), &A::RemainingOvertimeWork, nullptr, 4800},
      {0x0F400276, f64(120000), &A::ActualWorkProtected, nullptr, 1200},
      {0x0F400277, f64(6000), &A::ActualOvertimeWorkProtected, nullptr, 60},
      {0x0F40029D, f64(5820000), &A::BudgetWork, nullptr, 58200},
      {0x0F40001E, f64(660845), nullptr, &A::ActualOvertimeCost, 6608.45},
      {0x0F40001F, f64(4739155), nullptr, &A::RemainingOvertimeCost, 47391.55},
      {0x0F40029E, f64(9600), nullptr, &A::BudgetCost, 96},
      {0x0F400009, ByteVector(4, 0xFF), &A::OvertimeWork, nullptr, 0},  // too short
  };
  for (const Case& c : cases) {
    model::Project gen;
    gen.assignments.push_back(A{});
    gen.assignments.back().UID = 5;
    const auto var = project_fixture::BuildVarData({{5, c.type, c.value}, {6, c.type, c.value}});
    ReadAssnVarData(test_support::QuietRun(), View(var.meta), View(var.data), gen);
    ASSERT_EQ(gen.assignments.size(), 1u) << std::hex << c.type;  // owner 6 makes none
    if (c.work) {
      EXPECT_EQ(gen.assignments[0].*c.work, c.expected) << std::hex << c.type;
    }
    if (c.money) {
      EXPECT_DOUBLE_EQ(gen.assignments[0].*c.money, c.expected) << std::hex << c.type;
    }
  }

  model::Project gen;
  gen.assignments.push_back(A{});
  gen.assignments.back().UID = 5;
  const auto var = project_fixture::BuildVarData({{5, 0x0F40027A, project_fixture::Bytes(4).U32(0, 0xFFFFFFFF)},
                                                  {5, 0x0F400058, project_fixture::Utf16z(u"Text1")},
                                                  {5, 0x0F400047, project_fixture::Bytesz("{\\rtf1 Note}")},
                                                  {5, 0x0F400999, ByteVector(8, 1)}});
  const AssnVarCounts counts = ReadAssnVarData(test_support::QuietRun(), View(var.meta), View(var.data), gen);
  EXPECT_FALSE(gen.assignments[0].CreationDate);
  ASSERT_TRUE(gen.assignments[0].Notes);
  EXPECT_EQ(*gen.assignments[0].Notes, "{\\rtf1 Note}");
  EXPECT_EQ(counts.values, 1u);
  EXPECT_EQ(counts.customValues, 1u);
  ASSERT_EQ(gen.customFieldValues.size(), 1u);
  EXPECT_EQ(gen.customFieldValues[0].Owner, model::OwnerKind::Assignment);
  EXPECT_EQ(gen.customFieldValues[0].FieldID, 0x0F400058u);
}

// The remaining work's header names the predefined contour, unless the
// FixedMeta item marked the work as reshaped by hand; a code past the last
// contour, or a header too short to hold one, names none.
TEST(AssnVarData, ContourFromTheRemainingWork) {
  struct Case {
    const char* name;
    std::optional<std::uint8_t> fromItem;
    std::uint32_t begin, code;
    std::optional<std::uint8_t> expected;
  };
  const Case cases[] = {
      {"flat", std::nullopt, 44, 0, 0},
      {"turtle", std::nullopt, 44, 7, 7},
      {"reshaped by hand", model::kContouredByHand, 44, 0, model::kContouredByHand},
      {"no such contour", std::nullopt, 44, 9, std::nullopt},
      {"header too short", std::nullopt, 24, 3, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    model::Project gen;
    gen.assignments.push_back(model::SBkndAssnParams{});
    gen.assignments.back().UID = 5;
    gen.assignments.back().WorkContour = c.fromItem;
    const ByteVector remaining = project_fixture::Bytes(44).U32(4, c.begin).U32(28, c.code);
    const auto var = project_fixture::BuildVarData({{5, 0x0F400031, remaining}});
    ReadAssnVarData(test_support::QuietRun(), View(var.meta), View(var.data), gen);
    EXPECT_EQ(gen.assignments[0].WorkContour, c.expected);
  }
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
