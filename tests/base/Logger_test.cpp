// The diagnostics log: long lines, appending across runs, no file, and
// lines from several threads. Most tests use a
// logger of their own, as fresh as theLog is right after load.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "FoundationTestSupport.h"
#include "support/TestRun.h"
#include "base/Logger.h"
#include "platform/System.h"

namespace {

using namespace foundation_test;

class LoggerTest : public ::testing::Test {
 protected:
  // Opens a fresh logger on an empty file.
  MwLog& Open() {
    log_ = std::make_unique<Logger>();
    log_->OpenFile(W(path_), true);
    return *log_;
  }
  std::string Bytes() const { return ReadBytes(path_).value_or(""); }
  std::vector<std::string> Lines() const { return SplitLines(Bytes()); }
  std::vector<std::string> Text() const { return WithoutStamps(Lines()); }

  ScratchFolder scratch_;
  fs::path path_ = scratch_ / "diagnostics.log";
  std::unique_ptr<Logger> log_;
};

TEST_F(LoggerTest, LinesWithoutAFileAreDropped) {
  auto log = std::make_unique<Logger>();
  log->WriteLine("nowhere");
  log->WriteFormat("%d", 1);
  log->WriteHex("abc", 3);

  EXPECT_TRUE(log->OpenFile(W(scratch_ / "missing" / "x.log"), false));
  log->WriteLine("still nowhere");
  EXPECT_FALSE(fs::exists(scratch_ / "missing"));

  log->OpenFile(W(path_), false);
  log->WriteLine("here");
  EXPECT_EQ(Text(), std::vector<std::string>{"here"});
}

TEST_F(LoggerTest, LinesFromSeveralThreadsStayWhole) {
  MwLog& log = Open();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&log, t] {
      const std::string body(200, static_cast<char>('a' + t));
      for (int i = 0; i < 300; ++i) {
        if (i % 2)
          log.WriteFormat("%d:%s", t, body.c_str());
        else
          log.WriteLine(std::to_string(t) + ":" + body);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  const std::vector<std::string> lines = Text();
  EXPECT_EQ(lines.size(), 1200u);
  for (const std::string& line : lines) {
    ASSERT_EQ(line.size(), 202u) << line;
    EXPECT_EQ(line, line.substr(0, 2) + std::string(200, static_cast<char>('a' + (line[0] - '0'))));
  }
}

}  // namespace
