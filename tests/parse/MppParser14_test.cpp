// The version 14 parse driver over fixture projects: the order of the
// backend storages and cancellation before and between them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FoundationTestSupport.h"
#include "base/LibrarySettings.h"
#include "base/Logger.h"
#include "parse/MppParser14.h"
#include "parse/StreamLoader.h"
#include "support/ProjectFixture.h"
#include "support/TestRun.h"

namespace {

using foundation_test::HasLine;
using project_fixture::BackendStorage;
using project_fixture::ProjectDescription;

// What the recording parser notes, made before the parser itself.
struct Recording {
  model::Project project;
  std::vector<std::string> calls;
  int generateResult = 0;
};

// A parser whose storage readers note what they were given, as does its
// last step.
class RecordingParser : public Recording, public CMppParser_14 {
 public:
  RecordingParser(RunContext& ctx, std::u16string path)
      : CMppParser_14(ctx, std::move(path), project,
                      {[this] {
                         calls.push_back("generate");
                         return generateResult;
                       },
                       [this] { calls.push_back("close"); }}) {}
  std::string cancelIn;  // the reader that sets the host's cancel byte

 protected:
  void Note(const char* what, platform::ElementId storage) {
    auto info = Reader().Stat(storage);
    calls.push_back(std::string(what) + ":" + (info ? platform::Utf16ToUtf8(info->name) : "?"));
    if (cancelIn == what && Run().settings.breakFlag) *Run().settings.breakFlag = 1;
  }
  void ParseAssignments(platform::ElementId s) override { Note("assignments", s); }
  void ParseCalendars(platform::ElementId s) override { Note("calendars", s); }
  void ParseLinks(platform::ElementId s) override { Note("links", s); }
  void ParseResources(platform::ElementId s) override { Note("resources", s); }
  void ParseTasks(platform::ElementId s) override {
    Note("tasks", s);
    if (addTask) Model().AppendTask(model::SBkndTaskParams{});
  }

 public:
  bool addTask = false;
};

class ParserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    run.log.OpenFile(platform::Utf8ToUtf16(scratch.File("run.log")), true);
    run.log.Enable();
    run.settings.breakFlag = &cancel;
  }
  test_support::TestRun run;
  RunContext& ctx = run.ctx;

  std::u16string Write(const ProjectDescription& project) {
    const std::string path = scratch.File("repaired" + std::to_string(++written) + ".mpp");
    EXPECT_TRUE(fixture::WriteFile(path, project_fixture::BuildProject(project)));
    return platform::Utf8ToUtf16(path);
  }

  std::vector<std::string> Log() {
    auto text = foundation_test::ReadBytes(scratch.File("run.log"));
    return foundation_test::WithoutStamps(foundation_test::SplitLines(text.value_or("")));
  }

  static ProjectDescription AllStorages() {
    ProjectDescription project;
    for (auto name : {u"TBkndTask", u"TBkndRsc", u"TBkndOutlCode", u"TBkndCons", u"TBkndCal", u"TBkndAssn"})
      project.storages.emplace_back(name);
    return project;
  }

  fixture::ScratchDir scratch;
  unsigned char cancel = 0;
  int written = 0;
};

TEST_F(ParserTest, CancelBeforeTheStartAndBetweenStorages) {
  cancel = 1;
  RecordingParser early(ctx, Write(AllStorages()));
  EXPECT_EQ(early.Parse(nullptr), -1000);
  EXPECT_EQ(early.calls, (std::vector<std::string>{"close"}));

  cancel = 0;
  RecordingParser between(ctx, Write(AllStorages()));
  between.cancelIn = "links";
  EXPECT_EQ(between.Parse(nullptr), -1000);
  // Nothing after the storage in which the host cancelled, and no output.
  EXPECT_EQ(between.calls, (std::vector<std::string>{"assignments:TBkndAssn", "calendars:TBkndCal",
                                                     "links:TBkndCons", "close"}));
  EXPECT_TRUE(HasLine(Log(), "User Exception in FileRecover. The process was canceled by user"));
}

}  // namespace
