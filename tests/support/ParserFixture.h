// The frame of the tests that run a project reader over fixture files: a
// scratch folder, the log opened into it, the host's cancel byte
// registered, fixture projects written as files, and the log read back
// without its time stamps.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FoundationTestSupport.h"
#include "platform/Text.h"
#include "support/CfbFixture.h"
#include "support/ProjectFixture.h"
#include "support/TestRun.h"

namespace project_fixture {

template <typename Base = ::testing::Test>
class ParserFixture : public Base {
 protected:
  void SetUp() override {
    run.log.OpenFile(platform::Utf8ToUtf16(scratch.File("run.log")), true);
    run.log.Enable();
    run.settings.breakFlag = &cancel;
  }
  // The project as a new file of its own; its path.
  std::u16string Write(const ProjectDescription& project) {
    const std::string path = scratch.File("repaired" + std::to_string(++written) + ".mpp");
    EXPECT_TRUE(fixture::WriteFile(path, BuildProject(project)));
    return platform::Utf8ToUtf16(path);
  }
  std::vector<std::string> Log() {
    auto text = foundation_test::ReadBytes(scratch.File("run.log"));
    return foundation_test::WithoutStamps(foundation_test::SplitLines(text.value_or("")));
  }

  fixture::ScratchDir scratch;
  test_support::TestRun run;
  RunContext& ctx = run.ctx;
  unsigned char cancel = 0;
  int written = 0;
};

}  // namespace project_fixture
