// Custom field definitions from the props streams of the task and resource
// storages, including blocks whose sizes, counts and positions lie.
#include <gtest/gtest.h>

#include "support/TestRun.h"
#include "parse/PropsParser.h"
#include "support/ProjectFixture.h"

namespace {

using namespace mpp;
using project_fixture::ByteVector;
using project_fixture::Bytes;

platform::ByteView View(const ByteVector& bytes) { return platform::ByteView(bytes.data(), bytes.size()); }

TEST(CustomFieldBlock, ReadsAliasesInBlockOrder) {
  ByteVector props = project_fixture::CustomFieldProps(
      kTaskPropsBlock, {{0x0B400033, u"Owner"}, {0x0B400057, u"Budget code"}});
  auto defs = ReadCustomFieldBlock(test_support::QuietRun(), View(props), kTaskPropsBlock);
  ASSERT_EQ(defs.size(), 2u);
  EXPECT_EQ(defs[0].FieldID, 0x0B400033u);
  EXPECT_EQ(defs[0].Alias, u"Owner");
  EXPECT_EQ(defs[1].Alias, u"Budget code");
  EXPECT_EQ(defs[1].TextOffset, defs[0].TextOffset + 12);
}

TEST(CustomFieldBlock, PropsParserAppendsTaskThenResourceDefinitions) {
  project_fixture::ProjectDescription project;
  project_fixture::BackendStorage tasks{u"TBkndTask"};
  tasks.props = project_fixture::CustomFieldProps(kTaskPropsBlock, {{0x0B400033, u"Owner"}});
  project_fixture::BackendStorage resources{u"TBkndRsc"};
  resources.props = project_fixture::CustomFieldProps(kResourcePropsBlock, {{0x0C400008, u"Site"}});
  project_fixture::BackendStorage calendars{u"TBkndCal"};
  calendars.props = project_fixture::CustomFieldProps(kTaskPropsBlock, {{0x0B400033, u"Ignored"}});
  project_fixture::BackendStorage links{u"TBkndCons"};  // no props stream
  project.storages = {tasks, resources, calendars, links};
  auto reader = platform::CompoundFileReader::FromBytes(project_fixture::BuildProject(project));
  ASSERT_TRUE(reader);
  auto data = reader->OpenStorage(platform::kRootElement, u"   114");
  ASSERT_TRUE(data);

  model::Project gen;
  for (std::u16string_view name : {u"TBkndTask", u"TBkndRsc", u"TBkndCal", u"TBkndCons"})
    EXPECT_EQ(PropsParser(test_support::QuietRun(), *reader, *reader->OpenStorage(*data, name), gen), 0);
  ASSERT_EQ(gen.customFieldDefs.size(), 2u);
  EXPECT_EQ(gen.customFieldDefs[0].Alias, u"Owner");
  EXPECT_EQ(gen.customFieldDefs[1].Alias, u"Site");
  EXPECT_EQ(gen.customFieldDefs[1].FieldID, 0x0C400008u);
}

}  // namespace
