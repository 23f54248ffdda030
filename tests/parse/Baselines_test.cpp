// Baselines 0-10 kept as var data: which field ids hold which baseline
// value in each format, the fall-back to the estimated copies, and the
// binary values of version 9.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "parse/Baselines.h"
#include "support/ProjectFixture.h"
#include "support/TestRun.h"

namespace {

using namespace mpp;
using project_fixture::ByteVector;
using project_fixture::Bytes;
using project_fixture::VarItem;
using Slot = BaselineSlot;

platform::ByteView View(const ByteVector& bytes) { return platform::ByteView(bytes.data(), bytes.size()); }

struct FieldRow {
  RecordKind kind;
  int format;
  std::uint16_t field;
  std::optional<BaselineField> want;
};

TEST(BaselineFields, IdsGiveNumberAndValue) {
  const FieldRow rows[] = {
      {RecordKind::Task, 12, 43, BaselineField{0, Slot::Start}},
      {RecordKind::Task, 9, 27, BaselineField{0, Slot::Duration}},
      {RecordKind::Task, 14, 43, BaselineField{0, Slot::Start, true}},
      {RecordKind::Task, 14, 1301, BaselineField{0, Slot::Duration}},
      {RecordKind::Task, 14, 1330, BaselineField{10, Slot::Finish}},
      {RecordKind::Task, 14, 1, BaselineField{0, Slot::Work}},
      {RecordKind::Task, 12, 482, BaselineField{1, Slot::Start}},
      {RecordKind::Task, 12, 487, BaselineField{1, Slot::Duration}},
      {RecordKind::Task, 12, 591, BaselineField{10, Slot::Work}},
      {RecordKind::Task, 14, 590, BaselineField{10, Slot::Cost}},
      {RecordKind::Task, 14, 482, BaselineField{1, Slot::Start, true}},  // an estimate in version 14
      {RecordKind::Task, 12, 486, std::nullopt},
      {RecordKind::Resource, 12, 17, BaselineField{0, Slot::Cost}},
      {RecordKind::Resource, 14, 342, BaselineField{1, Slot::Work}},
      {RecordKind::Resource, 14, 433, BaselineField{10, Slot::Cost}},
      {RecordKind::Resource, 14, 344, std::nullopt},
      {RecordKind::Assignment, 12, 146, BaselineField{0, Slot::Start}},
      {RecordKind::Assignment, 14, 32, BaselineField{0, Slot::Cost}},
      {RecordKind::Assignment, 14, 295, BaselineField{1, Slot::Start}},
      {RecordKind::Assignment, 14, 290, BaselineField{1, Slot::Cost}},
      {RecordKind::Assignment, 14, 377, BaselineField{10, Slot::Finish}},
      {RecordKind::Assignment, 14, 291, std::nullopt},
      {RecordKind::Link, 14, 43, std::nullopt},
  };
  for (const FieldRow& row : rows) {
    SCOPED_TRACE(testing::Message() << static_cast<int>(row.kind) << " v" << row.format << " field " << row.field);
    const auto got = BaselineFieldOf(row.kind, row.format, row.field);
    ASSERT_EQ(got.has_value(), row.want.has_value());
    if (!got) continue;
    EXPECT_EQ(got->number, row.want->number);
    EXPECT_EQ(got->slot, row.want->slot);
    EXPECT_EQ(got->fallback, row.want->fallback);
  }
}

ByteVector U32(std::uint32_t v) { return Bytes().U32(0, v); }
ByteVector F64(double v) { return Bytes().F64(0, v); }

const model::SBaseline* Find(const std::vector<model::SBaseline>& list, std::uint8_t n) {
  for (const auto& b : list)
    if (b.Number == n) return &b;
  return nullptr;
}

void AddTasks(model::Project& gen, std::initializer_list<std::uint32_t> uids) {
  for (std::uint32_t uid : uids) {
    model::SBkndTaskParams task;
    task.UID = uid;
    gen.AppendTask(std::move(task));
  }
}

TEST(BaselineVarData, Version14PrefersItsOwnIdsOverTheEstimates) {
  model::Project gen;
  AddTasks(gen, {5, 6});
  const model::PackedDate own = (11000u << 16) | 4800, estimate = (11001u << 16) | 4800;
  // The estimate comes first for task 5, alone for task 6; task 9 is unknown.
  auto var = project_fixture::BuildVarData({{5, 43, U32(estimate)},
                                            {5, 1299, U32(own)},
                                            {5, 1, F64(480000.0)},
                                            {5, 1305, U32(own)},
                                            {6, 43, U32(estimate)},
                                            {6, 1299 + 3 * 11, U32(own)},  // past Baseline10
                                            {9, 6, F64(100.0)}});
  const BaselineCounts c =
      ReadBaselineVarData(test_support::QuietRun(), RecordKind::Task, 14, View(var.meta), View(var.data), gen);
  EXPECT_EQ(c.unknownOwner, 1u);
  const auto& five = gen.FindTask(5)->Baselines;
  ASSERT_NE(Find(five, 0), nullptr);
  EXPECT_EQ(Find(five, 0)->Start, own);
  EXPECT_EQ(Find(five, 0)->Work, 480000.0);
  ASSERT_NE(Find(five, 2), nullptr);
  EXPECT_EQ(Find(five, 2)->Start, own);
  const auto& six = gen.FindTask(6)->Baselines;
  ASSERT_EQ(six.size(), 1u);
  EXPECT_EQ(six[0].Start, estimate);
}

TEST(BaselineVarData, Version9BinaryValueIsReadWithinItsBounds) {
  model::Project gen;
  AddTasks(gen, {3});
  const std::uint32_t blobId = 0x0B4001E1;
  const model::PackedDate start = (11000u << 16) | 4800;
  // [size][count] then pairs; the third pair points past the value and the
  // count claims more pairs than the value holds.
  Bytes blob;
  blob.U32(0, 48).U32(4, 1000);
  blob.U32(8, 0x0B400000 | 482).U32(12, 32);   // Baseline1 start
  blob.U32(16, 0x0B400000 | 485).U32(20, 36);  // Baseline1 work (f64)
  blob.U32(24, 0x0B400000 | 487).U32(28, 400);  // duration, out of the value
  blob.U32(32, start).F64(36, 6000.0).U32(44, 0);
  auto var = project_fixture::BuildVarData({{3, blobId, blob}});
  const BaselineCounts c = ReadBaselineVarData(test_support::QuietRun(), RecordKind::Task, 9, View(var.meta),
                                               View(var.data), gen, {blobId});
  EXPECT_EQ(c.values, 2u);
  const auto* one = Find(gen.FindTask(3)->Baselines, 1);
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(one->Start, start);
  EXPECT_EQ(one->Work, 6000.0);
  EXPECT_EQ(one->Duration, 0u);
}

}  // namespace
