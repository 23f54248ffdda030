// The parser with its generator, as the pipeline joins them: the report rows and level, a
// failed output as a failed run, and whole runs through the pipeline on a
// fixture project and on the sample corpus.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/TestRun.h"
#include "pipeline/FileRecover.h"
#include "FoundationTestSupport.h"
#include "base/LibrarySettings.h"
#include "base/MwReport.h"
#include "generate/GenTestSupport.h"
#include "generate/XMLGen.h"
#include "mdwdll.h"
#include "parse/MppParser14.h"
#include "parse/RecordLayout.h"
#include "parse/TaskStorageParser.h"
#include "pipeline/LossReport.h"
#include "platform/Text.h"
#include "support/CfbFixture.h"
#include "support/ProjectFixture.h"
#include "support/SampleProjects.h"

namespace {

using namespace gen_test;
using foundation_test::ReadBytes;
using foundation_test::W;
using project_fixture::ProjectDescription;

// Tasks and links put into the model by hand where the task reader would.
class HandFilledParser : public CMppParser_14 {
 public:
  HandFilledParser(std::u16string path, model::Project& project, DocumentStep document, int tasks, int links)
      : CMppParser_14(test_support::QuietRun(), std::move(path), project, std::move(document)), tasks_(tasks), links_(links) {}

 protected:
  void ParseTasks(platform::ElementId) override {
    for (int i = 1; i <= tasks_; ++i) {
      model::SBkndTaskParams task;
      task.UID = static_cast<std::uint32_t>(i);
      task.ID = task.UID;
      task.Name = u"Task " + platform::AnsiToUtf16(std::to_string(i));
      Model().AppendTask(task);
    }
    for (int i = 0; i < links_; ++i)
      Model().links.push_back({.UID = static_cast<std::uint32_t>(i + 1), .PredecessorUID = 1, .SuccessorUID = 2});
  }

 private:
  int tasks_, links_;
};

// A model, its generator and the parser that ends in it, as the pipeline
// puts them together.
struct ParseAndWrite {
  ParseAndWrite(const std::u16string& repaired, std::unique_ptr<CXMLGen> generator, int tasks, int links)
      : gen(std::move(generator)),
        parser(repaired, project, {[this] { return gen->GenerateMainXML(); }, [this] { gen->CloseOutput(); }},
               tasks, links) {}
  model::Project project;
  std::unique_ptr<CXMLGen> gen;
  HandFilledParser parser;
  void Report(MwUtils::MwReport& report) { FillReport(report, project, gen->Written()); }
};

class Parser14OutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveXmllint()) GTEST_SKIP() << "xmllint is not installed";
    const std::string path = scratch.File("repaired.mpp");
    ProjectDescription project;
    project.storages.emplace_back(u"TBkndTask");
    ASSERT_TRUE(fixture::WriteFile(path, project_fixture::BuildProject(project)));
    repaired = platform::Utf8ToUtf16(path);
  }

  // A parse writing into memory; the text stays readable through sink.
  std::unique_ptr<ParseAndWrite> Parser(int tasks, int links) {
    auto owned = std::make_unique<xml::StringSink>();
    sink = owned.get();
    auto run = std::make_unique<ParseAndWrite>(repaired, nullptr, tasks, links);
    run->gen = std::make_unique<CXMLGen>(test_support::QuietRun(), run->project, std::move(owned));
    run->gen->Writer().SetLineLogging(false);
    return run;
  }

  // The count rows (the loss rows carry a status).
  static std::vector<std::string> Rows(const MwUtils::MwReport& report) {
    std::vector<std::string> rows;
    for (const auto& item : report.Items())
      if (item.status.empty()) rows.push_back(U8(item.name) + "=" + U8(item.value));
    return rows;
  }
  // As if the file's storages had held just what the model holds.
  static void HeldWhatWasRead(model::Project& gen) {
    model::ReadTally& t = gen.tally;
    for (model::StorageTally* s : {&t.tasks, &t.resources, &t.assignments, &t.links, &t.calendars})
      s->storageFound = true;
    if (!gen.Tasks().empty()) {
      t.tasks.AddFixed(gen.Tasks().size(), 0);
      t.tasks.AddVar(gen.Tasks().size(), 0);
    }
    if (!gen.links.empty()) t.links.AddFixed(gen.links.size(), 0);
  }
  static std::string U8(const std::u16string& text) { return platform::Utf16ToUtf8(text); }

  fixture::ScratchDir scratch;
  std::u16string repaired;
  xml::StringSink* sink = nullptr;
};

TEST_F(Parser14OutputTest, ReportCountsWhatWasWrittenAndRunsAccumulate) {
  MwUtils::MwReport report;
  {
    auto run = Parser(3, 2);
    ASSERT_EQ(run->parser.Parse(nullptr), 0);
    EXPECT_EQ(WellFormed(sink->Text()), "");
    HeldWhatWasRead(run->project);
    run->Report(report);
  }
  EXPECT_EQ(Rows(report), (std::vector<std::string>{"Tasks=3", "Constraints=2"}));
  // No resource and no calendar: every plan holds one of each, so they were lost.
  EXPECT_EQ(report.Level(), 2);

  // A run that writes no task adds no count row; nothing recovered is level 1.
  {
    auto run = Parser(0, 0);
    EXPECT_EQ(run->parser.Parse(nullptr), -3);
    HeldWhatWasRead(run->project);
    run->Report(report);
  }
  EXPECT_EQ(report.Level(), 1);
  // Storages the file no longer has: recovered with losses.
  {
    auto run = Parser(1, 0);
    ASSERT_EQ(run->parser.Parse(nullptr), 0);
    run->Report(report);
  }
  EXPECT_EQ(Rows(report), (std::vector<std::string>{"Tasks=3", "Constraints=2", "Tasks=1"}));
  EXPECT_EQ(report.Level(), 2);
  EXPECT_EQ(U8(report.Items().back().status), "lost");
}

TEST_F(Parser14OutputTest, OutputThatCannotBeCreatedFailsTheRun) {
  ParseAndWrite run(repaired, nullptr, 2, 0);
  run.gen = std::make_unique<CXMLGen>(test_support::QuietRun(), run.project, platform::Utf8ToUtf16(scratch.File("no/such/folder/plan.xml")));
  EXPECT_EQ(run.parser.Parse(nullptr), -2);
}

// Whole runs through the pipeline.
class Recover14Test : public foundation_test::HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    if (!HaveXmllint()) GTEST_SKIP() << "xmllint is not installed";
  }
};

TEST_F(Recover14Test, FixtureProjectEndsInAWellFormedDocument) {
  using namespace project_fixture;
  const mpp::RecordLayout& layout = mpp::BuiltInLayout14(mpp::RecordKind::Task);
  BackendStorage tasks{u"TBkndTask"};
  tasks.var = BuildVarData({{1, mpp::kTaskNameType, Utf16z(u"Design & <build>")},
                            {2, mpp::kTaskNameType, Utf16z(u"Test, ship")}});
  tasks.fixed = BuildFixedData(mpp::RecordKind::Task,
                               {{Record(layout, {Int(mpp::Field::TaskUID, 1), Int(mpp::Field::TaskID, 1)})},
                                {Record(layout, {Int(mpp::Field::TaskUID, 2), Int(mpp::Field::TaskID, 2),
                                                 Int(mpp::Field::ParentUID, 1)})}});
  ProjectDescription project;
  project.storages.push_back(tasks);
  const fs::path input = in / "plan.mpp";
  ASSERT_TRUE(fixture::WriteFile(input.string(), BuildProject(project)));

  Initialise();
  SetOutputFormat(u"*.xml");
  ASSERT_EQ(Recover(input, out), MDW_OK);
  const fs::path xml = out / "plan.xml";
  ASSERT_TRUE(fs::exists(xml)) << testing::PrintToString(foundation_test::Entries(out));
  EXPECT_EQ(WellFormedFile(xml.string()), "");
  const std::string text = ReadBytes(xml).value_or("");
  EXPECT_NE(text.find("<Name>Design &amp; &lt;build&gt;</Name>"), std::string::npos);
  EXPECT_NE(text.find("<Name>Test; ship</Name>"), std::string::npos);
  EXPECT_NE(text.find("</Project>"), std::string::npos);
}

// The benchmarks' input: every synthetic task, resource, assignment and
// link comes back, the tasks in outline.
TEST_F(Recover14Test, SyntheticProjectRecoversEverything) {
  const fs::path input = in / "big.mpp";
  const project_fixture::SyntheticSizes sizes{.tasks = 1500, .resources = 40, .assignments = 600, .links = 300};
  ASSERT_TRUE(fixture::WriteFile(input.string(),
                                 project_fixture::BuildProjectFile(project_fixture::SyntheticProject(sizes))));
  Initialise();
  SetOutputFormat(u"*.xml");
  ASSERT_EQ(Recover(input, out), MDW_OK);
  const std::string text = ReadBytes(out / "big.xml").value_or("");
  EXPECT_EQ(WellFormedFile((out / "big.xml").string()), "");
  auto count = [&text](const std::string& tag) {
    std::size_t n = 0;
    for (std::size_t at = text.find(tag); at != std::string::npos; at = text.find(tag, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("<Task>"), 1500u);
  EXPECT_EQ(count("<Resource>"), 40u);
  EXPECT_EQ(count("<Assignment>"), 600u);
  EXPECT_EQ(count("<PredecessorLink>"), 300u);
  EXPECT_EQ(count("<Calendar>"), 1u);  // the standard calendar
  EXPECT_NE(text.find("<Name>Task 1500</Name>"), std::string::npos);
  EXPECT_NE(text.find("<OutlineNumber>137.3</OutlineNumber>"), std::string::npos);  // task 1500
}

}  // namespace
