// The Meta/Data streams of damaged files: nothing is read outside a stream
// whatever its header or items claim, and records are read at the places
// the layout gives.
#include <gtest/gtest.h>

#include <limits>

#include "parse/RecordLayout.h"
#include "parse/StreamLoader.h"
#include "parse/StreamRecords.h"
#include "parse/VarItems.h"
#include "support/ParserFixture.h"
#include "support/ProjectFixture.h"

namespace {

using namespace mpp;
using project_fixture::ByteVector;
using project_fixture::Bytes;

platform::ByteView View(const ByteVector& bytes) { return platform::ByteView(bytes.data(), bytes.size()); }

TEST(VarMetaStream, ValuesMustLieInsideVar2Data) {
  Bytes data;
  data.U32(0, 0);                // an empty value
  data.U32(4, 3).U8(8, 0xAA);    // claims 3 bytes, has 1 before the next length
  data.U32(12, 2).U16(16, 0x4142);
  const ByteVector bytes = data;
  EXPECT_FALSE(VarValue(View(bytes), 0));   // length 0 is skipped
  auto value = VarValue(View(bytes), 12);
  ASSERT_TRUE(value);
  EXPECT_EQ(value->size(), 2u);
  EXPECT_EQ(value->u16_at(0), 0x4142);
  EXPECT_FALSE(VarValue(View(bytes), 16));  // the length field itself runs out
  EXPECT_FALSE(VarValue(View(bytes), 18));  // position past the end
  EXPECT_FALSE(VarValue(View(bytes), std::numeric_limits<std::uint32_t>::max()));

  // One byte past the end of the stream.
  Bytes tail;
  tail.U32(0, 5).Put(4, {1, 2, 3, 4});
  EXPECT_FALSE(VarValue(View(tail.data()), 0));
  tail.U8(8, 5);
  EXPECT_TRUE(VarValue(View(tail.data()), 0));
  // A length that would wrap around the address space.
  Bytes huge;
  huge.U32(0, 0xFFFFFFFF).U32(4, 0);
  EXPECT_FALSE(VarValue(View(huge.data()), 0));
}

TEST(FixedMetaStream, HeaderCountBoundsTheValidItems) {
  EXPECT_EQ(FixedMeta(View(ByteVector(15)), 47).Count(), 0u);
  EXPECT_EQ(FixedMeta(View(ByteVector(15)), 47).ValidCount(), 0u);

  const auto& layout = BuiltInLayout14(RecordKind::Task);
  std::vector<project_fixture::FixedItem> items(3, {project_fixture::Record(layout, {})});
  auto streams = project_fixture::BuildFixedData(RecordKind::Task, items, 48, 2);
  FixedMeta meta(View(streams.meta), FixedMetaStride(RecordKind::Task));
  EXPECT_TRUE(meta.HasMagic());
  EXPECT_EQ(meta.Count(), 3u);
  EXPECT_EQ(meta.ValidCount(), 2u);  // the third is a stale copy

  // A count beyond the stream is limited to the items there are.
  auto claimed = project_fixture::BuildFixedData(RecordKind::Task, items, 48, 1000000);
  EXPECT_EQ(FixedMeta(View(claimed.meta), 47).ValidCount(), 3u);

  // Without its magic the header is not trusted: every whole item counts.
  Bytes damaged(streams.meta.size());
  damaged.Put(0, streams.meta).U32(0, 0).U32(8, 0);
  EXPECT_EQ(FixedMeta(View(damaged.data()), 47).ValidCount(), 3u);

  // The last item cut short is no item.
  ByteVector cut(streams.meta.begin(), streams.meta.end() - 1);
  EXPECT_EQ(FixedMeta(View(cut), 47).Count(), 2u);
  EXPECT_FALSE(FixedMeta(View(cut), 47).Item(2));
}

// The built-in table against offsets written by hand: a wrong offset in the
// table shows here.
TEST(FixedRecords, BuiltInTaskLayoutReadsTheVersion14Places) {
  Bytes record(206);
  record.U32(0, 147302).U32(4, 12).U32(8, 0x1234'5678).U32(36, 70000).U16(40, 3);
  record.U32(42, 4800).U8(46, 53).U8(56, 4).U16(88, 500).U16(90, 150);
  record.U32(72, 0x0BB9'0000).U32(76, 0x0BBA'0000).U32(106, 0x0BB8'1E00).U32(118, 70001).F64(126, 48000.0).F64(174, -2.5);
  const RecordView view(platform::ByteView(record.data().data(), 206), BuiltInLayout14(RecordKind::Task));
  EXPECT_EQ(view.Unsigned(Field::TaskUID), 147302u);  // UIDs are whole 32-bit values
  EXPECT_EQ(view.Unsigned(Field::TaskID), 12u);
  EXPECT_EQ(view.Unsigned(Field::Finish), 0x12345678u);
  EXPECT_EQ(view.Unsigned(Field::ParentUID), 70000u);
  EXPECT_EQ(view.Unsigned(Field::OutlineLevel), 3u);
  EXPECT_EQ(view.Unsigned(Field::Duration), 4800u);
  EXPECT_EQ(view.Unsigned(Field::DurationFormat), 53u);
  EXPECT_EQ(view.Unsigned(Field::ConstraintType), 4u);
  EXPECT_EQ(view.Unsigned(Field::Priority), 500u);
  EXPECT_EQ(view.Unsigned(Field::PercentComplete), 150u);
  EXPECT_EQ(view.Unsigned(Field::Start), 0x0BB81E00u);
  EXPECT_EQ(view.Unsigned(Field::TaskCalendarUID), 70001u);
  EXPECT_EQ(view.Unsigned(Field::ActualStart), 0x0BB90000u);
  EXPECT_EQ(view.Unsigned(Field::ActualFinish), 0x0BBA0000u);
  EXPECT_EQ(view.Float(Field::Work), 48000.0);
  EXPECT_EQ(view.Float(Field::RemainingCost), -2.5);
  EXPECT_FALSE(view.Float(Field::Duration));    // not a float field
  EXPECT_FALSE(view.Unsigned(Field::Work));     // not an integer field
  EXPECT_FALSE(view.Unsigned(Field::ResourceUID));  // not a task field
}

// Items that all name one value are walked as they come, and the log says
// once that the values are shared (what is made of them may outgrow the
// file); a value per item says nothing.
class SharedVarValues : public project_fixture::ParserFixture<> {};

TEST_F(SharedVarValues, SaidOnceWhenTheItemsOutgrowTheirStream) {
  const ByteVector text(64 * 1024, 'a');
  for (const std::uint32_t count : {1u, 200u}) {
    auto var = project_fixture::BuildVarData({{1, 14, text}});
    var.meta.resize(kVarMetaHeader + count * kVarMetaItem);
    Bytes meta(var.meta.size());
    meta.Put(0, var.meta).U32(8, count);
    for (std::uint32_t i = 1; i < count; ++i)
      meta.U32(kVarMetaHeader + i * kVarMetaItem, i + 1).U32(kVarMetaHeader + i * kVarMetaItem + 8, 14);
    const ByteVector metaBytes = meta;
    std::size_t items = 0, skipped = 0, taken = 0;
    WalkVarItems(ctx, View(metaBytes), View(var.data), nullptr, items, skipped,
                 [&](const VarMetaItem&, platform::ByteView value) { taken += value.size() == text.size(); });
    EXPECT_EQ(taken, count);
    std::size_t said = 0;
    for (const std::string& line : Log()) said += line.find("share their values") != std::string::npos;
    EXPECT_EQ(said, count > 1 ? 1u : 0u);
  }
}

// A zeroed VarMeta item (no sound one is) names no place in Var2Data, in
// the 12-byte items and in the 8-byte ones widened to them; an item that
// only widens to zeros (owner 0, place 0, a code no map names) keeps its,
// and so do zeros past the items the header counts (a stream run long).
TEST(VarMetaItems, ZeroedItemsNameNoPlace) {
  constexpr std::uint32_t kNoPlace = 0xFFFFFFFF;
  ByteVector twelve(kVarMetaHeader + 3 * kVarMetaItem, 0);
  twelve[8] = 2;
  twelve[kVarMetaHeader + kVarMetaItem + 11] = 0x0B;  // the second item: owner 0, place 0, a task field
  UnplaceZeroedItems(twelve);
  ByteVector eight(kVarMetaHeader + 3 * 8, 0);
  eight[8] = 2;
  eight[kVarMetaHeader + 8 + 3] = 0x8F;  // the second item: owner 0, place 0, code 0x8F
  std::vector<std::uint8_t> widened = WidenVarMeta(View(eight), VarItemFormat{});
  for (const ByteVector* meta : {&twelve, &widened}) {
    const VarMeta items(View(*meta));
    ASSERT_EQ(items.Count(), 3u);
    EXPECT_EQ(items.Item(0)->position, kNoPlace);
    EXPECT_EQ(items.Item(1)->position, 0u);
    EXPECT_EQ(items.Item(2)->position, 0u);
  }
}

}  // namespace
