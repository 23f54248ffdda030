// The version 9 reader: 8-byte var items whose type codes the file's field
// map gives (the usual codes without one), records after the 8-byte free
// slots, and the storages of version 9.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FoundationTestSupport.h"
#include "base/LibrarySettings.h"
#include "base/Logger.h"
#include "parse/AssnStorageParser.h"
#include "parse/MppParser9.h"
#include "parse/VarItems.h"
#include "parse/KnownLayouts.h"
#include "support/ParserFixture.h"
#include "generate/XMLGen.h"
#include "generate/GenTestSupport.h"
#include "support/ProjectFixture.h"

namespace {

using namespace project_fixture;
using mpp::Field;
using mpp::RecordKind;

constexpr std::uint32_t kStart = (2329u << 16) | 4800;  // 08:00
constexpr std::uint32_t kText1 = 0x0B400033;

platform::ByteView View(const ByteVector& bytes) { return platform::ByteView(bytes.data(), bytes.size()); }

// A var entry of a version 9 map: the field is carried by items of code.
mpp::FieldMapEntry VarEntry(std::uint32_t fieldId, std::uint8_t code) {
  mpp::FieldMapEntry e;
  e.offset = 0x0200FFFF | (static_cast<std::uint32_t>(code) << 16);
  e.location = static_cast<std::uint32_t>(mpp::FieldLocation::Var);
  e.fieldId = fieldId;
  e.dataType = mpp::kMapText;
  return e;
}

// The record size and map items of layout, the map followed by var entries.
std::vector<PropsEntry> MapWithVarEntries(const mpp::RecordLayout& layout, const std::vector<mpp::FieldMapEntry>& var) {
  std::vector<PropsEntry> items = MapItemsFor(layout);
  const ByteVector more = FieldMapBytes(var);
  items.back().data.insert(items.back().data.end(), more.begin(), more.end());
  return items;
}

// Codes as the 2013 application writes them (task name 26, resource name 3)
// when withMap, else those of the older applications (11 and 1).
ProjectDescription Project9(bool withMap) {
  const auto& tasks = mpp::BuiltInLayout12(RecordKind::Task);
  const auto& resources = mpp::BuiltInLayout12(RecordKind::Resource);
  const std::uint32_t taskName = withMap ? 26 : 11;
  const std::uint32_t rscName = withMap ? 3 : 1;
  BackendStorage task{u"TBkndTask"};
  std::vector<VarItem> taskItems = {{1, taskName, Utf16z(u"Design")}, {2, taskName, Utf16z(u"Build")}};
  if (withMap) taskItems.push_back({2, 0x0E, Utf16z(u"north wing")});
  task.var = BuildVarData9(taskItems);
  // A file with a fourth free slot, numbered as free slots are: it makes
  // no task.
  task.fixed = BuildFixedData(
      RecordKind::Task,
      {{Bytes(8).U16(0, 3).U16(2, 0xFFFF), 4},
       {Record(tasks, {Int(Field::TaskUID, 1), Int(Field::TaskID, 1), Int(Field::OutlineLevel, 1),
                       Int(Field::Start, kStart), Int(Field::Priority, 1200),
                       Int(Field::PercentComplete, 120)})},
       {Record(tasks, {Int(Field::TaskUID, 2), Int(Field::TaskID, 2), Int(Field::OutlineLevel, 1)})}},
      24);
  BackendStorage rsc{u"TBkndRsc"};
  rsc.var = BuildVarData9({{5, rscName, Utf16z(u"Ann")}});
  rsc.fixed = BuildFixedData(RecordKind::Resource,
                             {{Record(resources, {Int(Field::ResourceUID, 5), Int(Field::ResourceID, 1)})}}, 24);
  const auto& links = mpp::BuiltInLayout12(RecordKind::Link);
  BackendStorage cons = LinkStorage({{LinkRecord(links, {.uid = 1, .predecessor = 1, .successor = 2})},
                                     {LinkRecord(links, {.uid = 2, .predecessor = 2, .successor = 2})}});

  ProjectDescription project;
  project.dataStorageName = u"   19";
  project.viewStorageName = u"   29";
  project.storages = {rsc, cons, task};
  if (withMap) {
    std::vector<PropsEntry> items =
        MapWithVarEntries(tasks, {VarEntry(0x0B40000E, 26), VarEntry(kText1, 0x0E)});
    for (PropsEntry& e : MapWithVarEntries(resources, {VarEntry(0x0C400001, 3)})) items.push_back(e);
    project.props = BuildProps(items);
  }
  return project;
}

class Parser9Test : public project_fixture::ParserFixture<::testing::TestWithParam<bool>> {};
class Parser9Document : public project_fixture::ParserFixture<> {};

TEST_P(Parser9Test, ReadsTasksResourcesAndLinksByTheFilesCodes) {
  const bool withMap = GetParam();
  CMppParser parser(ctx, Write(Project9(withMap)));
  ASSERT_EQ(parser.Parse(nullptr), 0);
  const model::Project& model = parser.Model();
  ASSERT_EQ(model.Tasks().size(), 2u);
  ASSERT_TRUE(parser.Model().FindTask(1) && parser.Model().FindTask(2));
  EXPECT_EQ(parser.Model().FindTask(1)->Name, u"Design");
  EXPECT_EQ(parser.Model().FindTask(2)->Name, u"Build");
  EXPECT_EQ(parser.Model().FindTask(1)->Start, kStart);
  // Out of range: the application's defaults.
  EXPECT_EQ(parser.Model().FindTask(1)->Priority, 500u);
  EXPECT_EQ(parser.Model().FindTask(1)->PercentComplete, 50u);
  ASSERT_EQ(model.Resources().size(), 1u);
  EXPECT_EQ(model.Resources()[0].Name, u"Ann");
  // A link from a task to itself is dropped.
  ASSERT_EQ(model.links.size(), 1u);
  EXPECT_EQ(model.links[0].PredecessorUID, 1u);
  if (withMap) {
    ASSERT_EQ(model.customFieldValues.size(), 1u);
    EXPECT_EQ(model.customFieldValues[0].FieldID, kText1);
    EXPECT_EQ(model.customFieldValues[0].OwnerUID, 2u);
  }
}

INSTANTIATE_TEST_SUITE_P(Maps, Parser9Test, ::testing::Bool());

}  // namespace

namespace {

// Values of the assignment of their UID: a u32 of type 126, raw values of
// their one legal length, a new assignment for an unknown UID.
TEST(AssnVarData9, MergesValuesIntoTheAssignmentOfTheirUid) {
  model::Project gen;
  model::SBkndAssnParams read;
  read.UID = 1;
  read.TaskUID = 4;
  gen.assignments.push_back(read);
  const VarStreams var = BuildVarData({{1, mpp::kAssnValueType126, Bytes(4).U32(0, 77)},
                                       {1, mpp::kAssnRawType7, ByteVector(10, 1)},
                                       {2, mpp::kAssnRawType9, ByteVector(76, 2)},
                                       {1, 3, ByteVector(4, 3)}});
  EXPECT_EQ(mpp::ReadAssnVarData9(test_support::QuietRun(), View(var.meta), View(var.data), gen), 2u);
  ASSERT_EQ(gen.assignments.size(), 2u);
  EXPECT_EQ(gen.assignments[0].RawType126, 77u);
  EXPECT_EQ(gen.assignments[0].TaskUID, 4u);
  EXPECT_TRUE(gen.assignments[0].RawVar7.empty());
  EXPECT_EQ(gen.assignments[1].UID, 2u);
  EXPECT_EQ(gen.assignments[1].RawVar9.size(), 76u);
}

}  // namespace
