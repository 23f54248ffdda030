// The host stopped by a signal mid-run: whatever the signal, the run is
// cancelled and leaves nothing in its work folder.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "support/CfbFixture.h"
#include "support/HostileFiles.h"

namespace fs = std::filesystem;

namespace {

TEST(CliSignals, EverySignalCancelsTheRunAndLeavesTheWorkFolderEmpty) {
  fixture::ScratchDir scratch;
  const std::string input = scratch.File("plan.mpp");
  // Large enough that the salvage is still running when the signal comes.
  ASSERT_TRUE(fixture::WriteFile(input, fixture::MiniChainFile(24 << 20)));
  const std::string work = scratch.File("work");
  fs::create_directory(work);
  for (int signal : {SIGTERM, SIGHUP, SIGINT}) {
    SCOPED_TRACE(signal);
    const std::string output = scratch.File("out-" + std::to_string(signal) + ".xml");
    pid_t child = ::fork();
    if (child == 0) {
      ::execl(MDW_CLI_PATH, MDW_CLI_PATH, "-q", "--work-dir", work.c_str(), input.c_str(), output.c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ASSERT_GT(child, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    ::kill(child, signal);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by the signal itself";
    // Cancelled (130); a run that was over before the signal ends as it would.
    const int code = WEXITSTATUS(status);
    EXPECT_TRUE(code == 130 || code == 3) << code;
    EXPECT_TRUE(fs::is_empty(work));
  }
}

}  // namespace
