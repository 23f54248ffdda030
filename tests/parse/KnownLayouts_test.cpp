// Choosing a record layout when the file's own map is missing, damaged or
// lying: the records decide among the known layouts, and the sample files
// whose Props stream is destroyed still read right.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "support/TestRun.h"
#include "parse/FieldMap.h"
#include "parse/KnownLayouts.h"
#include "parse/MppParser14.h"
#include "platform/Text.h"
#include "support/CfbFixture.h"
#include "support/CorpusReference.h"
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

TEST(KnownLayouts, PlausibilityCountsUniqueSoundRecordsOnly) {
  const RecordLayout& links = Known(RecordKind::Link, "L20a");
  auto link = [&](std::uint32_t uid, std::uint32_t from, std::uint32_t to, std::uint32_t type) {
    return FixedItem(Record(links, {Int(Field::LinkUID, uid), Int(Field::PredecessorUID, from),
                                    Int(Field::SuccessorUID, to), Int(Field::LinkType, type)}));
  };
  const auto fixed = BuildFixedData(RecordKind::Link, {link(1, 1, 2, 1), link(1, 2, 3, 1),  // a UID twice
                                                       link(3, 4, 4, 1),                    // a task to itself
                                                       link(4, 5, 6, 9),                    // no such type
                                                       link(5, 6, 7, 0)});
  EXPECT_DOUBLE_EQ(Plausibility(links, View(fixed.meta), View(fixed.data)).value_or(-1), 2.0 / 5.0);
  EXPECT_FALSE(Plausibility(links, {}, {}).has_value());
}

TEST(KnownLayouts, ApplicationVersionComesFromTheCompObjText) {
  auto version = [](std::string_view text) {
    project_fixture::Bytes bytes(28);
    bytes.U32(28, static_cast<std::uint32_t>(text.size() + 1)).Put(32, project_fixture::Bytesz(text));
    auto file = fixture::Build(fixture::Root({fixture::Stream(u"\x01" "CompObj", bytes.data())}));
    auto reader = platform::CompoundFileReader::FromBytes(file);
    return reader ? ApplicationVersion(*reader) : -1;
  };
  EXPECT_EQ(version("Microsoft.Project 14.0"), 14);
  EXPECT_EQ(version("Microsoft Project 9.0 Plan"), 9);
  EXPECT_EQ(version("Microsoft.Project.16.0"), 16);
  EXPECT_EQ(version("Project without a number"), 0);
}

// The sample files with their Props stream destroyed: every kind of record
// is still read at the right offsets.
class DestroyedProps : public ::testing::TestWithParam<const char*> {};

// The file with its "   114/Props" stream zeroed, cut to a few bytes or
// removed.
std::vector<std::uint8_t> WithoutProps(const std::vector<std::uint8_t>& original, const std::string& how) {
  auto reader = platform::CompoundFileReader::FromBytes(original);
  if (!reader) return {};
  fixture::Node root = fixture::ReadBack(*reader);
  for (fixture::Node& storage : root.children) {
    if (storage.name != u"   114") continue;
    auto props = std::find_if(storage.children.begin(), storage.children.end(),
                              [](const fixture::Node& n) { return n.name == u"Props"; });
    if (props == storage.children.end()) continue;
    if (how == "removed") storage.children.erase(props);
    else if (how == "zeroed") std::fill(props->bytes.begin(), props->bytes.end(), 0);
    else props->bytes.resize(std::min<std::size_t>(props->bytes.size(), 40));
  }
  return fixture::Build(root);
}

TEST_P(DestroyedProps, SampleFilesStillReadTheirRecordsRight) {
  namespace cr = corpus_reference;
  const auto corpus = cr::CorpusDir();
  if (!std::filesystem::exists(corpus / "mpp")) GTEST_SKIP() << "no sample corpus at " << corpus;
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(corpus / "mpp"))
    if (entry.is_regular_file() && cr::IsVersion14(entry.path())) files.push_back(entry.path());
  std::sort(files.begin(), files.end());

  fixture::ScratchDir scratch;
  std::map<std::string, cr::Agreement> fields;
  for (const auto& file : files) {
    auto reference = cr::LoadJson(corpus / "reference" / (file.stem().string() + ".json"));
    if (!reference) continue;
    std::vector<std::uint8_t> bytes;
    {
      std::ifstream in(file, std::ios::binary);
      bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    const std::string path = scratch.File(file.filename().string());
    ASSERT_TRUE(fixture::WriteFile(path, WithoutProps(bytes, GetParam())));
    CMppParser_14 parser(test_support::QuietRun(), platform::Utf8ToUtf16(path));
    parser.Parse(nullptr);
    const model::Project& model = parser.Model();

    std::map<std::uint32_t, const model::SBkndTaskParams*> tasks;
    for (const auto& task : model.Tasks()) tasks.emplace(task.UID, &task);
    if (const cr::Json* refTasks = reference->Get("tasks"))
      for (const cr::Json& ref : refTasks->items) {
        auto uid = cr::RefNumber(ref.Get("uid"));
        if (!uid) continue;
        auto found = tasks.find(static_cast<std::uint32_t>(*uid));
        fields["task found"].Add(found != tasks.end());
        if (found == tasks.end()) continue;
        fields["task start"].Add(cr::DateText(found->second->Start) == cr::RefText(ref.Get("start")));
        fields["task finish"].Add(cr::DateText(found->second->Finish) == cr::RefText(ref.Get("finish")));
      }
    std::map<std::uint32_t, const model::SBkndRscParams*> resources;
    for (const auto& resource : model.Resources()) resources.emplace(resource.UID, &resource);
    if (const cr::Json* refResources = reference->Get("resources"))
      for (const cr::Json& ref : refResources->items) {
        auto uid = cr::RefNumber(ref.Get("uid"));
        if (!uid) continue;
        auto found = resources.find(static_cast<std::uint32_t>(*uid));
        fields["resource found"].Add(found != resources.end());
        if (found == resources.end()) continue;
        if (auto rate = cr::RefNumber(ref.Get("standard_rate")))
          fields["resource rate"].Add(std::fabs(found->second->StandardRate - *rate) < 0.005);
      }
    std::map<std::pair<std::uint32_t, std::uint32_t>, const model::SBkndAssnParams*> assignments;
    for (const auto& assignment : model.assignments)
      assignments.emplace(std::make_pair(assignment.TaskUID, assignment.ResourceUID), &assignment);
    if (const cr::Json* refAssignments = reference->Get("assignments"))
      for (const cr::Json& ref : refAssignments->items) {
        auto task = cr::RefNumber(ref.Get("task_uid")), resource = cr::RefNumber(ref.Get("resource_uid"));
        if (!task || !resource) continue;
        const auto key = std::make_pair(static_cast<std::uint32_t>(*task), static_cast<std::uint32_t>(*resource));
        fields["assignment found"].Add(assignments.count(key) != 0);
      }
  }
  std::printf("Props %s, %zu version 14 files:\n", GetParam(), files.size());
  for (const auto& [field, agreement] : fields)
    std::printf("  %-18s %6zu of %6zu (%.1f%%)\n", field.c_str(), agreement.agreed, agreement.compared,
                agreement.Percent());
  for (const char* field : {"task found", "task start", "task finish", "resource found", "assignment found"})
    EXPECT_GE(fields[field].Percent(), 97.0) << field;
}

INSTANTIATE_TEST_SUITE_P(Kinds, DestroyedProps, ::testing::Values("removed", "zeroed", "truncated"));

}  // namespace
