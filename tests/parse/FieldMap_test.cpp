// The Props stream's items and field maps, and the layouts made from them:
// a file whose records sit elsewhere than the built-in table says is read
// at its own offsets; a damaged or missing map falls back to the table.
#include <gtest/gtest.h>

#include "parse/FieldMap.h"
#include "support/ProjectFixture.h"

namespace {

using namespace mpp;
using project_fixture::ByteVector;
using project_fixture::Bytes;

platform::ByteView View(const ByteVector& bytes) { return platform::ByteView(bytes.data(), bytes.size()); }

constexpr std::uint32_t kFixed = static_cast<std::uint32_t>(FieldLocation::Fixed);

// Tasks of 202 bytes as the later applications write them: the UID and the
// ID swap places, and the money fields move to the front.
TEST(FieldMaps, LayoutFollowsTheFilesOwnMap) {
  std::vector<FieldMapEntry> entries = {
      {1, 0xFFFF, 0x12, 0x0B400018, 0, kMapBoolean, 2, 0},
      {0, 4, kFixed, 0x0B400056, 0x20, kMapU32, 4, 0},   // UID
      {0, 0, kFixed, 0x0B400017, 0x20, kMapU32, 4, 0},   // ID
      {0, 104, kFixed, 0x0B400025, 0x22, kMapDate, 4, 0},  // start
      {0, 120, kFixed, 0x0B400029, 0x22, kMapDate, 4, 0},  // actual start
      {0, 124, kFixed, 0x0B40002A, 0x22, kMapDate, 4, 0},  // actual finish
      {0, 164, kFixed, 0x0B4000B5, 0x28, kMapU16, 2, 0},   // duration format, 16 bits here
      {0, 8, kFixed, 0x0B400000, 0x20, kMapFloat, 8, 0},   // work
      {0, 0x020EFFFF, 0x04, 0x0B40000E, 0x20, kMapText, 4, 0},  // the name: var data
  };
  FieldMaps maps = ReadFieldMaps(View(project_fixture::BuildProps(
      {{0x00400001, {202, 0, 0, 0}, 4}, {0x03000014, project_fixture::FieldMapBytes(entries)}})));
  auto layout = LayoutFromMap(RecordKind::Task, maps);
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->source, RecordLayout::Source::FileMap);
  EXPECT_EQ(layout->recordSize, 202u);
  EXPECT_EQ(layout->minPosition, 48u);
  EXPECT_EQ(layout->fields.size(), 7u);
  EXPECT_FALSE(layout->Find(Field::Finish));  // not in this map: not read at the table's place

  Bytes record(202);
  record.U32(0, 9).U32(4, 1234).U32(104, 0x0BB81E00).U32(120, 0x0BB90000).U32(124, 0x0BBA0000).U16(164, 0x0135).F64(8, 96000.0);
  RecordView view(platform::ByteView(record.data().data(), 202), *layout);
  EXPECT_EQ(view.Unsigned(Field::TaskUID), 1234u);
  EXPECT_EQ(view.Unsigned(Field::TaskID), 9u);
  EXPECT_EQ(view.Unsigned(Field::Start), 0x0BB81E00u);
  EXPECT_EQ(view.Unsigned(Field::ActualStart), 0x0BB90000u);
  EXPECT_EQ(view.Unsigned(Field::ActualFinish), 0x0BBA0000u);
  EXPECT_EQ(view.Unsigned(Field::DurationFormat), 0x0135u);  // the map's width, validated later
  EXPECT_EQ(view.Float(Field::Work), 96000.0);
}

}  // namespace
