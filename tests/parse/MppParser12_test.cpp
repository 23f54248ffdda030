// The version 12 reader over fixture projects: records read through the
// built-in layouts or the file's own map, damaged or missing Props, the
// storages it falls back on, and the end of the parse.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FoundationTestSupport.h"
#include "base/LibrarySettings.h"
#include "base/Logger.h"
#include "parse/MppParser12.h"
#include "parse/TaskStorageParser.h"
#include "parse/KnownLayouts.h"
#include "parse/ViewStorageParser.h"
#include "support/ParserFixture.h"
#include "support/TestRun.h"
#include "support/ProjectFixture.h"

namespace {

using namespace project_fixture;
using mpp::Field;
using mpp::RecordKind;

// 1990-05-17 08:00 and 17:00, as PackedDates.
constexpr std::uint32_t kDay = 2329;
constexpr std::uint32_t kStart = (kDay << 16) | 4800;
constexpr std::uint32_t kFinish = (kDay << 16) | 10200;
constexpr std::uint32_t kBigUid = 147302;  // UIDs need all 32 bits

// Which layouts the records are laid out in, and what Props says of them.
enum class PropsState { Absent, Zeroed, Truncated, Version12Map, Version14Map };

ProjectDescription Project12(PropsState props) {
  const bool v14 = props == PropsState::Version14Map;
  auto layout = [v14](RecordKind kind) -> const mpp::RecordLayout& {
    return v14 ? mpp::BuiltInLayout14(kind) : mpp::BuiltInLayout12(kind);
  };
  const auto& tasks = layout(RecordKind::Task);
  BackendStorage task{u"TBkndTask"};
  task.var = BuildVarData({{1, mpp::kTaskNameType, Utf16z(u"Design")},
                           {kBigUid, mpp::kTaskNameType, Utf16z(u"Build")}});
  task.fixed = BuildFixedData(
      RecordKind::Task,
      {{Record(tasks, {Int(Field::TaskUID, 1), Int(Field::TaskID, 1), Int(Field::OutlineLevel, 1),
                       Int(Field::Start, kStart), Int(Field::Finish, kFinish), Int(Field::Duration, 5400),
                       Int(Field::Priority, 500)})},
       {Record(tasks, {Int(Field::TaskUID, kBigUid), Int(Field::TaskID, 2), Int(Field::OutlineLevel, 1),
                       Int(Field::Start, kStart), Int(Field::Finish, kFinish)})},
       {Record(tasks, {Int(Field::TaskUID, 3), Int(Field::TaskID, 3)}), 2},
       {Record(tasks, {Int(Field::TaskUID, 4), Int(Field::TaskID, 4)})}},
      48, 3);
  BackendStorage rsc{u"TBkndRsc"};
  rsc.var = BuildVarData({{7, 1, Utf16z(u"Crane")}, {8, 1, Utf16z(u"Ann")}});
  rsc.fixed = BuildFixedData(
      RecordKind::Resource,
      {{Record(layout(RecordKind::Resource),
               {Int(Field::ResourceUID, 7), Int(Field::ResourceID, 1), Int(Field::ResourceTypeCode, 1)})},
       {Record(layout(RecordKind::Resource), {Int(Field::ResourceUID, 8), Int(Field::ResourceID, 2)})}});
  const auto& assn = layout(RecordKind::Assignment);
  BackendStorage assignments = AssignmentStorage(
      {{AssignmentRecord(assn, {.uid = 1, .task = kBigUid, .resource = 8, .work = 4800})},
       {AssignmentRecord(assn, {.uid = 2, .task = 1, .resource = 7}), 2}});
  BackendStorage links = LinkStorage({{LinkRecord(layout(RecordKind::Link),
                                                  {.uid = 1, .predecessor = 1, .successor = kBigUid, .lag = -600})}});

  ProjectDescription project;
  project.dataStorageName = u"   112";
  project.viewStorageName = u"   212";
  project.views = {fixture::Storage(u"CV_iew"), fixture::Storage(u"CEdl")};
  project.storages = {assignments, rsc, links, task};
  std::vector<PropsEntry> items;
  for (RecordKind kind : {RecordKind::Task, RecordKind::Resource, RecordKind::Assignment, RecordKind::Link})
    for (PropsEntry& entry : MapItemsFor(layout(kind))) items.push_back(entry);
  ByteVector bytes = BuildProps(items);
  switch (props) {
    case PropsState::Absent: break;
    case PropsState::Zeroed: project.props = ByteVector(bytes.size(), 0); break;
    case PropsState::Truncated: project.props = ByteVector(bytes.begin(), bytes.begin() + 40); break;
    case PropsState::Version12Map:
    case PropsState::Version14Map: project.props = bytes; break;
  }
  return project;
}

class Parser12Test : public project_fixture::ParserFixture<::testing::TestWithParam<PropsState>> {};

// Whatever Props says (nothing, zeros, half a map, its own map or the
// version 14 map of a converted file), the same project comes back.
TEST_P(Parser12Test, RecoversTheProjectWhateverPropsHolds) {
  CMppParser_12 parser(ctx, Write(Project12(GetParam())));
  ASSERT_EQ(parser.Parse(nullptr), 0);
  const model::Project& model = parser.Model();

  // The deleted and the stale record make no task.
  ASSERT_EQ(model.Tasks().size(), 2u);
  const model::SBkndTaskParams* design = parser.Model().FindTask(1);
  const model::SBkndTaskParams* build = parser.Model().FindTask(kBigUid);
  ASSERT_TRUE(design && build);
  EXPECT_EQ(design->Name, u"Design");
  EXPECT_EQ(build->Name, u"Build");
  EXPECT_EQ(design->Start, kStart);  // the time of day is kept
  EXPECT_EQ(design->Finish, kFinish);
  EXPECT_EQ(design->Duration, 5400u);

  ASSERT_EQ(model.Resources().size(), 2u);
  EXPECT_EQ(model.Resources()[0].Name, u"Crane");
  EXPECT_EQ(model.Resources()[0].Type, 1);  // material
  EXPECT_EQ(model.Resources()[1].Type, 0);

  ASSERT_EQ(model.assignments.size(), 1u);
  EXPECT_EQ(model.assignments[0].TaskUID, kBigUid);
  EXPECT_EQ(model.assignments[0].ResourceUID, 8u);
  ASSERT_EQ(model.links.size(), 1u);
  EXPECT_EQ(model.links[0].SuccessorUID, kBigUid);
  EXPECT_EQ(model.links[0].LinkLag, -600);

  const bool mapUsable = GetParam() == PropsState::Version12Map || GetParam() == PropsState::Version14Map;
  EXPECT_EQ(parser.Layouts().Of(RecordKind::Task).source,
            mapUsable ? mpp::RecordLayout::Source::FileMap : mpp::RecordLayout::Source::BuiltIn);
}

INSTANTIATE_TEST_SUITE_P(Props, Parser12Test,
                         ::testing::Values(PropsState::Absent, PropsState::Zeroed, PropsState::Truncated,
                                           PropsState::Version12Map, PropsState::Version14Map));

using Parser12Storages = Parser12Test;

}  // namespace
