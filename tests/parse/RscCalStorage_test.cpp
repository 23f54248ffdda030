// The resource and calendar storages read whole by the version 14 parser
// from fixture projects: what reaches the model, what missing streams
// leave, and a break inside a walk.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FoundationTestSupport.h"
#include "base/LibrarySettings.h"
#include "base/Logger.h"
#include "parse/CalendarParser.h"
#include "parse/MppParser14.h"
#include "parse/PropsParser.h"
#include "parse/RscStorageParser.h"
#include "support/ParserFixture.h"
#include "support/ProjectFixture.h"

namespace {

using namespace mpp;
using project_fixture::BackendStorage;
using project_fixture::Bytes;
using project_fixture::FixedItem;
using project_fixture::Int;
using project_fixture::ProjectDescription;
using project_fixture::Record;
using project_fixture::Utf16z;

constexpr std::uint32_t kDay = 14400;
constexpr std::uint32_t kNone = 0xFFFFFFFF;

project_fixture::ByteVector ResourceRecord(std::uint32_t uid, std::uint32_t id) {
  return Record(BuiltInLayout14(RecordKind::Resource), {Int(Field::ResourceUID, uid), Int(Field::ResourceID, id)});
}

FixedItem CalendarItem(std::uint32_t uid, std::uint32_t base, std::uint32_t resource) {
  FixedItem item(Record(BuiltInLayout14(RecordKind::Calendar), {Int(Field::CalendarUID, uid),
                                                                Int(Field::BaseCalendarUID, base),
                                                                Int(Field::CalendarResourceUID, resource)}));
  item.metaBytes = {{8, static_cast<std::uint8_t>(base == kNone ? 0x4F : 0x07)}};
  return item;
}

BackendStorage Resources() {
  BackendStorage storage{u"TBkndRsc"};
  storage.props = project_fixture::CustomFieldProps(kResourcePropsBlock, {{0x0C4003F0, u"Site"}});
  storage.var = project_fixture::BuildVarData(
      {{5, kRscNameType, Utf16z(u"Ann")},
       {5, 0x0C4003F0, Utf16z(u"North")},
       {5, kRscAvailabilityType, project_fixture::AvailabilityValue({{kDay, 10000, 0xFF}, {2 * kDay, 0, 0xFE}})}});
  storage.fixed = project_fixture::BuildFixedData(RecordKind::Resource, {ResourceRecord(5, 1)});
  storage.fixed2Meta = project_fixture::BuildFixed2Meta({Bytes(50).U8(35, 0x08)});  // generic
  return storage;
}

BackendStorage Calendars() {
  BackendStorage storage{u"TBkndCal"};
  storage.var = project_fixture::BuildVarData({{1, kCalendarNameType, Utf16z(u"Standard")}});
  storage.fixed = project_fixture::BuildFixedData(RecordKind::Calendar,
                                                  {CalendarItem(1, kNone, kNone), CalendarItem(2, 1, 5)}, 64);
  return storage;
}

class RscCalStorageTest : public project_fixture::ParserFixture<::testing::Test> {};

TEST_F(RscCalStorageTest, TheParserReadsBothStoragesIntoTheModel) {
  ProjectDescription project;
  project.storages = {Calendars(), Resources()};
  CMppParser_14 parser(ctx, Write(project));
  EXPECT_EQ(parser.Parse(nullptr), 0);  // resources alone are a recovery
  const model::Project& model = parser.Model();
  ASSERT_EQ(model.Resources().size(), 1u);
  EXPECT_EQ(model.Resources()[0].ID, 1u);
  EXPECT_EQ(model.Resources()[0].IsGeneric, 1);
  EXPECT_EQ(model.availability.size(), 1u);
  ASSERT_EQ(model.customFieldValues.size(), 1u);  // defined by the file alone
  EXPECT_EQ(model.customFieldValues[0].Owner, model::OwnerKind::Resource);
  ASSERT_EQ(model.calendars.size(), 2u);
  EXPECT_EQ(model.CalendarByUid(2)->ResourceUID, 5);
  // Known from FixedData only, it takes its base calendar's week.
  EXPECT_EQ(model.CalendarByUid(2)->WeekDays.size(), 7u);
  EXPECT_EQ(model.CalendarByUid(2)->WeekDays[1].WorkingTotal, 4800);
}

TEST_F(RscCalStorageTest, MissingStreamsLeaveWhatTheOtherStreamsGive) {
  BackendStorage resources = Resources();
  resources.fixed2Meta.reset();
  BackendStorage calendars = Calendars();
  calendars.var.reset();
  ProjectDescription project;
  project.storages = {calendars, resources};
  {
    CMppParser_14 parser(ctx, Write(project));
    parser.Parse(nullptr);
    ASSERT_EQ(parser.Model().Resources().size(), 1u);
    EXPECT_EQ(parser.Model().Resources()[0].ID, 1u);  // read without Fixed2Meta
    EXPECT_EQ(parser.Model().Resources()[0].IsGeneric, 0);
    EXPECT_EQ(parser.Model().calendars.size(), 2u);  // from FixedData alone
  }

  resources.var.reset();
  project.storages = {resources};
  // Without its var data the resource has lost its name, not itself.
  CMppParser_14 parser(ctx, Write(project));
  EXPECT_EQ(parser.Parse(nullptr), 0);
  ASSERT_EQ(parser.Model().Resources().size(), 1u);
  EXPECT_EQ(parser.Model().Resources()[0].ID, 1u);
  EXPECT_TRUE(parser.Model().Resources()[0].Name.empty());
}

TEST_F(RscCalStorageTest, ABreakInsideEitherWalkIsLoggedAndPassedOn) {
  ProjectDescription project;
  project.storages = {Calendars(), Resources()};
  auto reader = platform::CompoundFileReader::Open(Write(project));
  ASSERT_TRUE(reader);
  auto data = reader->OpenStorage(platform::kRootElement, u"   114");
  ASSERT_TRUE(data);
  auto resources = reader->OpenStorage(*data, u"TBkndRsc");
  auto calendars = reader->OpenStorage(*data, u"TBkndCal");
  ASSERT_TRUE(resources && calendars);
  model::Project gen;
  cancel = 1;
  auto thrown = [](auto parse) {
    try {
      parse();
    } catch (int code) {
      return code;
    }
    return 0;
  };
  EXPECT_EQ(thrown([&] { RscStorageParser(ctx, *reader, *resources, BuiltInLayout14(RecordKind::Resource), gen); }),
            kBreakException);
  EXPECT_EQ(thrown([&] { CalendarParser(ctx, *reader, *calendars, BuiltInLayout14(RecordKind::Calendar), gen); }),
            kBreakException);
  EXPECT_TRUE(gen.Resources().empty());
  run.log.CloseFile();
  EXPECT_TRUE(foundation_test::HasLine(Log(), "User break was thrown if RscStorageParser()"));
  EXPECT_TRUE(foundation_test::HasLine(Log(), "User break was thrown if CalendarParser()"));
}

}  // namespace
