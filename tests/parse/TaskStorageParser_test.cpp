// The version 14 task reader over fixture streams built record by record:
// what each pass takes, what it leaves out of damaged or lying streams,
// and the outline numbering.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <unordered_set>
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

// A deleted record leaves its name behind in the var data: that name makes
// no task, while a name whose UID a live record also has (a UID used again)
// and a name without any record (its record lost) still do.
TEST(TaskFixedData, NamesOfDeletedRecordsMakeNoTask) {
  model::Project gen;
  ReadVar({{5, kTaskNameType, Utf16z(u"Gone")}, {6, kTaskNameType, Utf16z(u"Again")},
           {8, kTaskNameType, Utf16z(u"Unread")}},
          gen);
  auto fixed = project_fixture::BuildFixedData(
      RecordKind::Task, {project_fixture::FixedItem(Record(Tasks(), {Int(Field::TaskUID, 5)}), 2),
                         project_fixture::FixedItem(Record(Tasks(), {Int(Field::TaskUID, 6)}), 2),
                         project_fixture::FixedItem(Record(Tasks(), {Int(Field::TaskUID, 6)}))});
  const TaskFixedCounts counts = ReadFixed(fixed, gen);
  EXPECT_EQ(counts.deleted, 2u);
  EXPECT_EQ(counts.deletedNames, 1u);
  std::vector<std::u16string> names;
  for (const SBkndTaskParams& t : gen.Tasks()) names.push_back(t.Name);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"Again", u"Unread"}));
  EXPECT_NE(gen.TaskList().FindRecord(6), nullptr);
  EXPECT_EQ(gen.TaskList().FindRecord(5), nullptr);
}

// A damaged FixedMeta: an item garbled (a state no item has, a record out
// of FixedData or not after the one before) stands for the record after the
// one before, when the two records before lay a record's size apart and
// that record is a task the var data named and no record has filled, or
// when the records' UIDs rise by a little from the record before it (or to
// the record after it); otherwise it stays unreadable.
TEST(TaskFixedData, GarbledItemsStandForTheRecordsAround) {
  struct Case {
    const char* what;
    std::vector<std::uint32_t> named;
    // Per record: its UID and how its item was garbled (0 not at all,
    // 1 random bytes, 2 zeroed, 3 cut off with the meta's end, 4 lost with
    // the whole meta, header and all, 5 its record cut by FixedData's end
    // after its ID); UID 0 is the last free slot instead, 16
    // bytes before the first record, and 0xFFFF000k the free slot k of a
    // FixedData that begins with them.
    std::vector<std::pair<std::uint32_t, int>> records;
    std::vector<std::uint32_t> filled;  // UIDs whose records were read, in list order
    std::size_t standIns;
    std::size_t unreadable = 0;  // items the meta lost that nothing placed
    std::uint32_t told = 0;      // a count in the header other than the items'
  };
  const std::vector<Case> cases = {
      {"random bytes and zeros in the middle", {1, 2, 3, 4, 5}, {{1, 0}, {2, 0}, {3, 1}, {4, 2}, {5, 0}},
       {1, 2, 3, 4, 5}, 2},
      {"one record before: the UIDs rising place the next", {1, 2, 3}, {{1, 0}, {2, 1}, {3, 0}}, {1, 2, 3}, 1},
      {"the first record right after the free slots sets the step", {1, 2}, {{0, 0}, {1, 0}, {2, 2}}, {1, 2}, 1},
      {"no names: the UIDs rising place the run", {}, {{1, 0}, {2, 2}, {3, 1}, {4, 0}}, {1, 2, 3, 4}, 2},
      {"nothing sound before: placed back from the record after", {}, {{1, 1}, {2, 2}, {3, 0}}, {1, 2, 3}, 2},
      {"UIDs that jump leave the item unread", {}, {{1, 0}, {100, 1}, {300, 0}}, {1, 300}, 0, 1},
      {"all zeroed: the free slots, then the records their UIDs place", {},
       {{0xFFFF0000, 2}, {0xFFFF0001, 2}, {0xFFFF0002, 2}, {1, 2}, {2, 2}, {3, 2}}, {1, 2, 3}, 3},
      {"the record it stands for is a task filled already", {1, 2, 3}, {{1, 0}, {2, 0}, {2, 1}, {3, 0}}, {1, 2, 3},
       1},
      {"a meta cut short: the UIDs rising place the records past its end", {}, {{1, 0}, {2, 0}, {3, 3}, {4, 3}},
       {1, 2, 3, 4}, 2},
      {"past its end, not beyond a UID that jumps", {}, {{1, 0}, {2, 3}, {300, 3}}, {1, 2}, 1, 1},
      {"a meta cut inside its free slots: the records after them", {},
       {{0xFFFF0000, 0}, {0xFFFF0001, 0}, {0xFFFF0002, 3}, {1, 3}, {2, 3}}, {1, 2}, 2},
      {"a meta lost whole: the records after the free slots", {},
       {{0xFFFF0000, 4}, {0xFFFF0001, 4}, {0xFFFF0002, 4}, {1, 4}, {2, 4}, {3, 4}}, {1, 2, 3}, 3},
      {"a damaged count over a FixedData read to its end: nothing lost", {}, {{1, 0}, {2, 0}}, {1, 2}, 0, 0, 9},
      {"a record FixedData's end cuts through is read as far as it reaches", {}, {{1, 0}, {2, 0}, {3, 5}},
       {1, 2, 3}, 0},
      {"so too where the meta was lost", {},
       {{0xFFFF0000, 4}, {0xFFFF0001, 4}, {0xFFFF0002, 4}, {1, 4}, {2, 4}, {3, 5}}, {1, 2, 3}, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    model::Project gen;
    std::vector<VarItem> var;
    for (std::uint32_t uid : c.named) var.push_back({uid, kTaskNameType, Utf16z(u"T")});
    ReadVar(var, gen);
    std::vector<project_fixture::FixedItem> items;
    for (const auto& [uid, garbled] : c.records) {
      if (uid == 0) {
        items.emplace_back(ByteVector{}, 4, 32);
        continue;
      }
      ByteVector slot(16, 0);
      for (int b = 0; b < 4; ++b) slot[b] = static_cast<std::uint8_t>(uid >> (8 * b));
      project_fixture::FixedItem item = (uid & 0xFFFF0000) == 0xFFFF0000
                                            ? project_fixture::FixedItem(slot, 4)
                                            : project_fixture::FixedItem(Record(
                                                  Tasks(), {Int(Field::TaskUID, uid), Int(Field::TaskID, 10 * uid)}));
      if (garbled == 1) item.state = 0x9C, item.position = 0xDEADBEEF;
      if (garbled == 2) item.state = 0, item.position = 0;
      items.push_back(item);
    }
    const std::size_t first = c.records.front().first == 0xFFFF0000 ? 0 : 48;
    project_fixture::FixedStreams fixed = project_fixture::BuildFixedData(RecordKind::Task, items, first);
    const auto cut = static_cast<std::size_t>(
        std::count_if(c.records.begin(), c.records.end(), [](const auto& r) { return r.second == 3; }));
    if (cut > 0) fixed.meta.resize(fixed.meta.size() - cut * FixedMetaStride(RecordKind::Task) + 9);
    if (c.told != 0)
      for (int b = 0; b < 4; ++b) fixed.meta[8 + b] = static_cast<std::uint8_t>(c.told >> (8 * b));
    const bool metaLost = c.records.front().second == 4;
    if (metaLost) fixed.meta.clear();
    const bool dataCut = c.records.back().second == 5;
    if (dataCut) fixed.data.resize(fixed.data.size() - Tasks().recordSize + Tasks().Find(Field::TaskID)->offset + 4);
    const TaskFixedCounts counts = ReadFixed(fixed, gen);
    std::vector<std::uint32_t> filled;
    for (const SBkndTaskParams& t : gen.Tasks())
      if (t.ID == 10 * t.UID) filled.push_back(t.UID);
    EXPECT_EQ(filled, c.filled);
    EXPECT_EQ(counts.standIns, c.standIns);
    EXPECT_EQ(counts.unreadable, c.unreadable);
    EXPECT_EQ(counts.countLost, metaLost);
    EXPECT_EQ(counts.cutShort, dataCut ? 1u : 0u);
  }
}

// The bits beside a record: "ignore resource calendars", roll-up, hidden
// bar and the two leveling permissions lie in other bytes of the FixedMeta
// item in the 2013+ applications' files; each set of bits reads its own
// places and no other (a neighbouring bit, such as effort driven, sets
// none of them).
TEST(TaskFixedData, ItemBitsPerFormat) {
  struct Case {
    const char* name;
    TaskFlagBits bits;
    std::size_t byte;
    std::uint8_t mask;
    // Ignore resource calendars, roll-up, hide bar, level assignments,
    // leveling can split, critical.
    std::array<bool, 6> expected;
  };
  const Case cases[] = {
      {"9 and 12: ignore", kTaskFlags9, 10, 0x02, {true, false, false, false, false, false}},
      {"9 and 12: roll-up", kTaskFlags9, 10, 0x08, {false, true, false, false, false, false}},
      {"9 and 12: hide bar", kTaskFlags9, 10, 0x80, {false, false, true, false, false, false}},
      {"9 and 12: level", kTaskFlags9, 13, 0x04, {false, false, false, true, false, false}},
      {"9 and 12: split", kTaskFlags9, 13, 0x02, {false, false, false, false, true, false}},
      {"14 of 2010: ignore", kTaskFlags14, 10, 0x02, {true, false, false, false, false, false}},
      {"9 and 12: critical", kTaskFlags9, 8, 0x40, {false, false, false, false, false, true}},
      {"14 of 2010: critical", kTaskFlags14, 8, 0x40, {false, false, false, false, false, true}},
      {"14 of 2013+: critical", kTaskFlags14Later, 9, 0x40, {false, false, false, false, false, true}},
      {"14 of 2013+: the older critical place", kTaskFlags14Later, 8, 0x40, {false, false, false, false, false, false}},
      {"14 of 2013+: ignore", kTaskFlags14Later, 17, 0x20, {true, false, false, false, false, false}},
      {"14 of 2013+: roll-up", kTaskFlags14Later, 12, 0x04, {false, true, false, false, false, false}},
      {"14 of 2013+: hide bar", kTaskFlags14Later, 12, 0x80, {false, false, true, false, false, false}},
      {"14 of 2013+: level", kTaskFlags14Later, 16, 0x04, {false, false, false, true, false, false}},
      {"14 of 2013+: split", kTaskFlags14Later, 16, 0x02, {false, false, false, false, true, false}},
      {"14 of 2013+, the older places", kTaskFlags14Later, 10, 0x8A, {false, false, false, false, false, false}},
      {"14 of 2013+, effort driven", kTaskFlags14Later, 13, 0x08, {false, false, false, false, false, false}},
      {"9 and 12, the later places", kTaskFlags9, 16, 0x06, {false, false, false, false, false, false}},
      {"9 and 12, effort driven", kTaskFlags9, 11, 0x10, {false, false, false, false, false, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    model::Project gen;
    project_fixture::FixedItem item(Record(Tasks(), {Int(Field::TaskUID, 4)}));
    item.metaBytes.push_back({c.byte, c.mask});
    auto fixed = project_fixture::BuildFixedData(RecordKind::Task, {item});
    TaskValueRules rules;
    rules.flags = c.bits;
    ReadTaskFixedData(test_support::QuietRun(), View(fixed.meta), View(fixed.data), Tasks(), gen, nullptr, rules);
    ASSERT_EQ(gen.Tasks().size(), 1u);
    const SBkndTaskParams& t = gen.Tasks()[0];
    const std::array<bool, 6> read = {t.IgnoreResourceCalendar,          t.Rollup.value_or(true),
                                      t.HideBar.value_or(true),          t.LevelAssignments.value_or(false),
                                      t.LevelingCanSplit.value_or(false), t.Critical.value_or(true)};
    EXPECT_EQ(read, c.expected);
  }
}

ByteVector F64(double value) {
  ByteVector out(8);
  std::memcpy(out.data(), &value, 8);
  return out;
}

// Overtime values, custom duration formats and recurrence wait for the fixed pass: a
// value whose task has no record makes no task, and a value cut short (or
// a format no document names) is not taken.
TEST(TaskVarData, ValuesWaitForTheirTask) {
  model::Project gen;
  auto var = project_fixture::BuildVarData({{5, kTaskRemainingOvertimeWorkType, F64(120000.0)},
                                            {5, kTaskOvertimeCostType, F64(2342.5)},
                                            {5, kTaskActualOvertimeWorkType, ByteVector{1, 2, 3}},
                                            {5, 184, ByteVector{5, 0}},    // Duration2 in hours
                                            {5, 338, ByteVector{99, 0}},   // Duration5: no such format
                                            {5, kTaskRecurrenceType, ByteVector{1, 0, 0, 0}},
                                            {9, kTaskOvertimeCostType, F64(100.0)}});
  std::vector<PendingTaskValue> pending;
  const TaskVarCounts counts =
      ReadTaskVarData(test_support::QuietRun(), View(var.meta), View(var.data), gen, nullptr, &pending);
  EXPECT_EQ(counts.overtime, 3u);
  EXPECT_EQ(counts.durationFormats, 1u);
  EXPECT_TRUE(gen.Tasks().empty());
  ReadFixed(project_fixture::BuildFixedData(RecordKind::Task, {Record(Tasks(), {Int(Field::TaskUID, 5)})}), gen);
  EXPECT_EQ(PlacePendingTaskValues(pending, gen), 4u);
  ASSERT_EQ(gen.Tasks().size(), 1u);
  const SBkndTaskParams& t = gen.Tasks()[0];
  EXPECT_EQ(t.RemainingOvertimeWork, 1200u);  // tenths of a minute: 2 hours
  EXPECT_EQ(t.ActualOvertimeWork, 0u);
  EXPECT_DOUBLE_EQ(t.OvertimeCost, 23.425);
  const std::vector<std::pair<std::uint32_t, std::uint8_t>> formats = {{0x0B400068, 5}};
  EXPECT_EQ(t.CustomDurationFormats, formats);
  EXPECT_TRUE(t.Recurring);
}

ByteVector U16(std::uint16_t value) { return ByteVector{static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)}; }

ByteVector U32(std::uint32_t value) {
  ByteVector out(4);
  std::memcpy(out.data(), &value, 4);
  return out;
}

// Version 9 keeps fields no map lists inside a binary value: [u32 size]
// [u32 count], then (field id, offset) pairs, the values after them.
ByteVector FieldBlob(const std::vector<std::pair<std::uint32_t, ByteVector>>& fields, std::uint32_t count,
                     std::uint32_t badOffset = 0) {
  ByteVector out(8 + 8 * fields.size());
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::uint32_t id = fields[i].first;
    const std::uint32_t at = badOffset && i + 1 == fields.size() ? badOffset : static_cast<std::uint32_t>(out.size());
    std::memcpy(out.data() + 8 + 8 * i, &id, 4);
    std::memcpy(out.data() + 12 + 8 * i, &at, 4);
    if (!badOffset || i + 1 != fields.size()) out.insert(out.end(), fields[i].second.begin(), fields[i].second.end());
  }
  const auto size = static_cast<std::uint32_t>(out.size());
  std::memcpy(out.data(), &size, 4);
  std::memcpy(out.data() + 4, &count, 4);
  return out;
}

// The status values var data keeps where they are not 0, as items of
// their own or inside a version 9 binary value. A value out of its range,
// cut short, beyond the binary value or of another kind's field is not
// taken: the task keeps 0.
TEST(TaskVarData, StatusValuesFromItemsAndBinaryValues) {
  constexpr std::uint32_t kBlob = 0x0B4001E1;
  struct Expect {
    std::uint16_t physical, method, deliverable;
    std::uint32_t actualProtected, overtimeProtected, external;
  };
  struct Case {
    const char* name;
    std::vector<VarItem> items;
    Expect expected;
  };
  const Case cases[] = {
      {"items",
       {{5, kTaskPhysicalPercentType, U16(40)},
        {5, kTaskEarnedValueMethodType, U16(1)},
        {5, kTaskDeliverableType, U16(2)},
        {5, kTaskActualWorkProtectedType, F64(120000.0)},
        {5, kTaskActualOvertimeWorkProtectedType, F64(60000.0)},
        {5, kTaskExternalTaskType, U32(12)}},
       {40, 1, 2, 1200, 600, 12}},
      {"out of range or cut short",
       {{5, kTaskPhysicalPercentType, U16(101)},
        {5, kTaskEarnedValueMethodType, U16(2)},
        {5, kTaskDeliverableType, U16(3)},
        {5, kTaskActualWorkProtectedType, ByteVector{1, 2, 3}},
        {5, kTaskExternalTaskType, ByteVector{7}}},
       {0, 0, 0, 0, 0, 0}},
      {"binary value",
       {{5, kBlob, FieldBlob({{0x0B40045F, U32(25)}, {0x0B400462, U16(1)}, {0x0C40047B, U16(2)}}, 3)}},
       {25, 1, 0, 0, 0, 0}},
      {"binary value with more pairs claimed than held: the pairs it holds",
       {{5, kBlob, FieldBlob({{0x0B40045F, U32(30)}}, 1000)}},
       {30, 0, 0, 0, 0, 0}},
      {"binary value whose last offset lies beyond it",
       {{5, kBlob, FieldBlob({{0x0B40045F, U32(30)}, {0x0B400462, U16(1)}}, 2, 4000)}},
       {30, 0, 0, 0, 0, 0}},
      {"a binary value of a field not named",
       {{5, 0x0B4001E2, FieldBlob({{0x0B40045F, U32(30)}}, 1)}},
       {0, 0, 0, 0, 0, 0}},
  };
  const std::unordered_set<std::uint32_t> blobs = {kBlob};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    model::Project gen;
    auto var = project_fixture::BuildVarData(c.items);
    std::vector<PendingTaskValue> pending;
    ReadTaskVarData(test_support::QuietRun(), View(var.meta), View(var.data), gen, nullptr, &pending, &blobs);
    ReadFixed(project_fixture::BuildFixedData(RecordKind::Task, {Record(Tasks(), {Int(Field::TaskUID, 5)})}), gen);
    PlacePendingTaskValues(pending, gen);
    ASSERT_EQ(gen.Tasks().size(), 1u);
    const SBkndTaskParams& t = gen.Tasks()[0];
    EXPECT_EQ(t.PhysicalPercentComplete, c.expected.physical);
    EXPECT_EQ(t.EarnedValueMethod, c.expected.method);
    EXPECT_EQ(t.CommitmentType, c.expected.deliverable);
    EXPECT_EQ(t.ActualWorkProtected, c.expected.actualProtected);
    EXPECT_EQ(t.ActualOvertimeWorkProtected, c.expected.overtimeProtected);
    EXPECT_EQ(t.ExternalTaskId, c.expected.external);
  }
}

// A hyperlink item: texts by part, read no further than the item holds.
TEST(TaskVarData, HyperlinkTextsStayInsideTheItem) {
  auto part = [](std::uint32_t index, std::u16string_view text, std::uint32_t declared = 0) {
    ByteVector bytes = Utf16z(text);
    const std::uint32_t length = declared ? declared : static_cast<std::uint32_t>(bytes.size());
    ByteVector out(12);
    std::memcpy(out.data(), &length, 4);
    std::memcpy(out.data() + 4, &index, 4);
    out.insert(out.end(), bytes.begin(), bytes.end());
    return out;
  };
  auto item = [](std::initializer_list<ByteVector> parts) {
    ByteVector out(12);
    for (const ByteVector& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
  };
  model::Project gen;
  ReadVar({{1, kTaskHyperlinkType, item({part(0, u"Site"), part(1, u"http://a.example"), part(2, u"x")})},
           // The address claims more bytes than the item has: it is not read.
           {2, kTaskHyperlinkType, item({part(0, u"Shown"), part(1, u"http://b.example", 4000)})}},
          gen);
  ASSERT_EQ(gen.Tasks().size(), 2u);
  EXPECT_EQ(gen.FindTask(1)->Hyperlink, u"Site");
  EXPECT_EQ(gen.FindTask(1)->HyperlinkAddress, u"http://a.example");
  EXPECT_EQ(gen.FindTask(1)->HyperlinkSubAddress, u"x");
  EXPECT_EQ(gen.FindTask(2)->Hyperlink, u"Shown");
  EXPECT_TRUE(gen.FindTask(2)->HyperlinkAddress.empty());
}

// Version 14 GUIDs: the task's row points into Fixed2Data; a row pointing
// beyond it, or at blank bytes, gives none.
TEST(TaskFixedData, GuidFromTheRowsRecord) {
  ByteVector data(64 * 2, 0);
  for (std::size_t i = 0; i < 16; ++i) data[64 + i] = static_cast<std::uint8_t>(0xA0 + i);
  auto row = [](std::uint32_t position) {
    ByteVector out(50, 0);
    std::memcpy(out.data() + kFixed2Record.rowPosition, &position, 4);
    return out;
  };
  auto fixed = project_fixture::BuildFixedData(
      RecordKind::Task, {Record(Tasks(), {Int(Field::TaskUID, 1)}), Record(Tasks(), {Int(Field::TaskUID, 2)}),
                         Record(Tasks(), {Int(Field::TaskUID, 3)})});
  const ByteVector rows = project_fixture::BuildFixed2Meta({row(64), row(0), row(120)});
  model::Project gen;
  ReadTaskFixedData(test_support::QuietRun(), View(fixed.meta), View(fixed.data), Tasks(), gen, nullptr,
                    kTaskValueRules14, View(rows), View(data));
  ASSERT_EQ(gen.Tasks().size(), 3u);
  ASSERT_TRUE(gen.FindTask(1)->GUID);
  EXPECT_EQ((*gen.FindTask(1)->GUID)[0], 0xA0);
  EXPECT_EQ((*gen.FindTask(1)->GUID)[15], 0xAF);
  EXPECT_FALSE(gen.FindTask(2)->GUID);  // blank
  EXPECT_FALSE(gen.FindTask(3)->GUID);  // runs past the stream
}

// The number of files a project links to, from its Props item: the first
// table entry points at the count; a table without entries or pointing
// past the item says nothing.
TEST(ProjectLinks, CountFromTheFirstTableEntry) {
  auto u32 = [](ByteVector& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  auto props = [&](std::uint32_t key, const ByteVector& data) {
    ByteVector out(16, 0);
    u32(out, static_cast<std::uint32_t>(data.size()));
    u32(out, key);
    u32(out, 0);
    out.insert(out.end(), data.begin(), data.end());
    return out;
  };
  auto item = [&](std::uint32_t entries, std::uint16_t at, std::uint32_t count) {
    ByteVector data;
    u32(data, 16);
    u32(data, entries);
    data.push_back(static_cast<std::uint8_t>(at));
    data.push_back(static_cast<std::uint8_t>(at >> 8));
    data.push_back(0);
    data.push_back(0);
    u32(data, count);
    return data;
  };
  struct Case {
    const char* name;
    ByteVector stream;
    std::optional<std::uint32_t> expected;
  };
  const Case cases[] = {
      {"no links", props(kProjectLinksKey, item(1, 12, 0)), 0u},
      {"two links", props(kProjectLinksKey, item(1, 12, 2)), 2u},
      {"no table", props(kProjectLinksKey, item(0, 12, 0)), std::nullopt},
      {"count past the item", props(kProjectLinksKey, item(1, 200, 0)), std::nullopt},
      {"another item only", props(kProjectLinksKey + 1, item(1, 12, 0)), std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto links = ReadProjectLinks(View(c.stream));
    EXPECT_EQ(links ? std::optional(links->count) : std::nullopt, c.expected);
  }

  // An inserted project: the task it stands for and the file's UTF-16 path
  // from its moniker; a second link whose task part points past the item
  // leaves the list incomplete.
  auto moniker = [&](std::u16string_view path) {
    ByteVector m(18, 0);
    u32(m, 4);
    for (char c : std::string("X.MP")) m.push_back(static_cast<std::uint8_t>(c));
    m.insert(m.end(), {0xFF, 0xFF, 0xAD, 0xDE});
    m.resize(m.size() + 20, 0);
    const ByteVector text = Utf16z(path);
    u32(m, static_cast<std::uint32_t>(text.size() + 6));
    u32(m, static_cast<std::uint32_t>(text.size()));
    m.insert(m.end(), {3, 0});
    m.insert(m.end(), text.begin(), text.end());
    return m;
  };
  auto withLinks = [&](std::uint32_t count, std::uint16_t secondTaskAt) {
    const ByteVector file = moniker(u"D:\\plans\\A.mpp");
    ByteVector data;
    u32(data, 0);
    u32(data, 4);
    const std::uint16_t table[] = {24, 0x00, 28, 0x10, 32, 0x20, secondTaskAt, 0x50};
    for (std::uint16_t v : table) {
      data.push_back(static_cast<std::uint8_t>(v));
      data.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    u32(data, count);
    u32(data, 7);  // the task of link 0
    data.insert(data.end(), file.begin(), file.end());
    return props(kProjectLinksKey, data);
  };
  const auto twoLinks = ReadProjectLinks(View(withLinks(2, 28)));
  ASSERT_TRUE(twoLinks);
  ASSERT_EQ(twoLinks->insertedProjects.size(), 1u);  // link 1 names task 7 but no file
  EXPECT_EQ(twoLinks->insertedProjects[0].first, 7u);
  EXPECT_EQ(twoLinks->insertedProjects[0].second, u"D:\\plans\\A.mpp");
  EXPECT_FALSE(twoLinks->complete);
  const auto beyond = ReadProjectLinks(View(withLinks(2, 4000)));
  ASSERT_TRUE(beyond);
  EXPECT_FALSE(beyond->complete);
  const auto single = ReadProjectLinks(View(withLinks(1, 28)));  // link 1 beyond the count
  ASSERT_TRUE(single);
  EXPECT_EQ(single->insertedProjects.size(), 1u);
  EXPECT_FALSE(single->complete);
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
