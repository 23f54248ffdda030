// Choosing a record layout when the file's own map is missing, damaged or
// lying: the records decide among the known layouts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "parse/FieldMap.h"
#include "parse/KnownLayouts.h"
#include "support/ProjectFixture.h"

namespace {

using namespace mpp;
using project_fixture::BuildFixedData;
using project_fixture::FixedItem;
using project_fixture::Int;
using project_fixture::Record;

const RecordLayout& Known(RecordKind kind, const std::string& name) {
  for (const NamedLayout& known : KnownLayouts(kind))
    if (name == known.name) return *known.layout;
  ADD_FAILURE() << "no known layout " << name;
  return BuiltInLayout14(kind);
}

constexpr std::uint32_t Date(std::uint32_t day, std::uint32_t tenths) { return (day << 16) | tenths; }

// Tasks as a file of the given layout stores them.
project_fixture::FixedStreams Tasks(const RecordLayout& layout, std::uint32_t count) {
  std::vector<FixedItem> items;
  for (std::uint32_t uid = 1; uid <= count; ++uid)
    items.emplace_back(Record(layout, {Int(Field::TaskUID, uid), Int(Field::TaskID, uid),
                                       Int(Field::OutlineLevel, 1), Int(Field::Start, Date(15000 + uid, 4800)),
                                       Int(Field::Finish, Date(15001 + uid, 10200))}));
  return BuildFixedData(RecordKind::Task, items);
}

platform::ByteView View(const project_fixture::ByteVector& bytes) {
  return platform::ByteView(bytes.data(), bytes.size());
}

TEST(KnownLayouts, TheRecordsPickTheirLayoutWhateverTheHintsExpect) {
  for (const char* name : {"T202", "T206", "T264"}) {
    const auto fixed = Tasks(Known(RecordKind::Task, name), 40);
    for (int application : {0, 14, 16}) {
      std::string why;
      const RecordLayout chosen = ChooseRecordLayout(RecordKind::Task, std::nullopt, {14, application},
                                                     View(fixed.meta), View(fixed.data), &why);
      EXPECT_EQ(KnownLayoutName(chosen).value_or("?"), name) << "application " << application << ": " << why;
    }
  }
  // Without records the hints decide.
  EXPECT_EQ(KnownLayoutName(ChooseRecordLayout(RecordKind::Resource, std::nullopt, {14, 16}, {}, {})), "R172b");
  EXPECT_EQ(KnownLayoutName(ChooseRecordLayout(RecordKind::Resource, std::nullopt, {12, 16}, {}, {})), "R172a");
  EXPECT_EQ(KnownLayoutName(ChooseRecordLayout(RecordKind::Assignment, std::nullopt, {9, 0}, {}, {})), "A142");
}

TEST(KnownLayouts, AMapIsKeptUnlessItsRecordsReadAsGarbage) {
  const auto fixed = Tasks(Known(RecordKind::Task, "T202"), 40);
  // A map that agrees with the records is kept even against the hints.
  RecordLayout own = Known(RecordKind::Task, "T202");
  own.source = RecordLayout::Source::FileMap;
  EXPECT_EQ(ChooseRecordLayout(RecordKind::Task, own, {14, 14}, View(fixed.meta), View(fixed.data)).source,
            RecordLayout::Source::FileMap);
  // A damaged map that puts the UID and the dates elsewhere loses to the
  // layout that reads the records soundly.
  RecordLayout lying = own;
  for (FieldSlot& slot : lying.fields) slot.offset = (slot.offset + 3) % 190;
  std::string why;
  const RecordLayout chosen =
      ChooseRecordLayout(RecordKind::Task, lying, {14, 14}, View(fixed.meta), View(fixed.data), &why);
  EXPECT_EQ(KnownLayoutName(chosen).value_or("?"), "T202") << why;
}

}  // namespace
