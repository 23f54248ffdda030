// The diagnostics log: line formats, time stamps, the machine-information
// block, hex dumps, appending and the 8-bit text it holds. Most tests use a
// logger of their own, as fresh as the exports' log is right after load.
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
#include "base/Logger.h"
#include "platform/System.h"

namespace {

using namespace foundation_test;

const std::string kRule(52, '=');

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

int SecondsOfDay(const platform::SystemTime& t) { return t.hour * 3600 + t.minute * 60 + t.second; }

std::string StampOf(const platform::SystemTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "[%02u:%02u:%02u]", unsigned{t.hour}, unsigned{t.minute},
                unsigned{t.second});
  return text;
}

TEST_F(LoggerTest, ValueNumberAndErrorLinesHaveTheirForms) {
  MwLog& log = Open();
  log.WriteValue("Log file name:", "/var/log/plan.log");
  log.WriteValue("Owner", nullptr);
  log.WriteNumber("Sectors", -42);
  log.WriteError("Unable to create output file");
  log.WriteErrorValue("Bad entry", "Props");
  log.WriteErrorValue("Bad entry", nullptr);
  log.WriteErrorNumber("Code", 7);
  // Texts are values, never patterns.
  log.WriteValue("Pattern", "100%d %s");
  log.WriteError("50% %s %n done");
  log.WriteFormat("'%s' - %d%%", "Find file structure...", 0);

  const std::vector<std::string> expected = {
      "Log file name: [/var/log/plan.log]",
      "Owner [null]",
      "Sectors [-42]",
      "[ERROR]: Unable to create output file",
      "Unable to create output file",
      "[ERROR]: Bad entry [Props]",
      "[ERROR]: Bad entry [null]",
      "[ERROR]: Code [7]",
      "Pattern [100%d %s]",
      "[ERROR]: 50% %s %n done",
      "50% %s %n done",
      "'Find file structure...' - 0%",
  };
  EXPECT_EQ(Text(), expected);
  // Lines end with a line feed alone.
  const std::string bytes = Bytes();
  EXPECT_EQ(bytes.find('\r'), std::string::npos);
  ASSERT_FALSE(bytes.empty());
  EXPECT_EQ(bytes.back(), '\n');
}

TEST_F(LoggerTest, FirstLineIsAlwaysStamped) {
  // Written within the second the logger was made in, as the exports' log's first
  // line often is.
  MwLog& log = Open();
  const platform::SystemTime before = platform::LocalTime();
  log.WriteLine("first");
  const platform::SystemTime after = platform::LocalTime();

  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(lines[0] == StampOf(before) || lines[0] == StampOf(after)) << lines[0];
  EXPECT_EQ(lines[1], "first");
}

TEST_F(LoggerTest, OneStampPerSecond) {
  MwLog& log = Open();
  const platform::SystemTime before = platform::LocalTime();
  for (int i = 0; i < 200; ++i) log.WriteLine("line " + std::to_string(i));
  const platform::SystemTime after = platform::LocalTime();

  std::vector<std::string> lines = Lines();
  ASSERT_TRUE(IsStampLine(lines.front()));
  const int elapsed = (SecondsOfDay(after) - SecondsOfDay(before) + 86400) % 86400;
  std::vector<std::string> stamps;
  for (const std::string& line : lines)
    if (IsStampLine(line)) stamps.push_back(line);
  EXPECT_LE(stamps.size(), static_cast<std::size_t>(elapsed + 1));
  EXPECT_EQ(lines.size(), 200 + stamps.size());

  // A line in a new second gets a new stamp before it.
  const std::string last = stamps.back();
  for (int wait = 0; wait < 150 && StampOf(platform::LocalTime()) == last; ++wait)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  log.WriteLine("later");
  lines = Lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines.back(), "later");
  const std::string& stamp = lines[lines.size() - 2];
  EXPECT_TRUE(IsStampLine(stamp)) << stamp;
  EXPECT_NE(stamp, last);

  // No two stamps in a row show the same second.
  std::string previous;
  for (const std::string& line : lines) {
    if (!IsStampLine(line)) continue;
    EXPECT_NE(line, previous);
    previous = line;
  }
}

TEST_F(LoggerTest, MachineInformationBlock) {
  log_ = std::make_unique<Logger>();
  log_->OpenLog(W(path_));
  const std::vector<std::string> lines = Text();

  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[0], kRule);
  EXPECT_EQ(lines[1], "============== LOGGER MACHINE INFO =================");
  EXPECT_EQ(lines[1].size(), 52u);
  EXPECT_EQ(lines[2], kRule);
  // The build's date and time, as "Jun 11 2024" and "09:05:00".
  ASSERT_EQ(lines[3].size(), std::string("__DATE__ [Mmm dd yyyy]").size()) << lines[3];
  EXPECT_EQ(lines[3].substr(0, 10), "__DATE__ [") << lines[3];
  EXPECT_TRUE(std::isupper(static_cast<unsigned char>(lines[3][10])) &&
              std::islower(static_cast<unsigned char>(lines[3][11])) &&
              std::islower(static_cast<unsigned char>(lines[3][12])))
      << lines[3];
  EXPECT_TRUE(HasShape(lines[3].substr(13), " 99 9999]") || HasShape(lines[3].substr(13), "  9 9999]"))
      << lines[3];
  EXPECT_TRUE(HasShape(lines[4], "__TIME__ [99:99:99]")) << lines[4];
  EXPECT_EQ(lines.back(), kRule);

  // The machine's values, in this order, each left out when empty.
  const std::vector<std::string> labels = {"Logging output for", "GetCurrentDirectory",
                                           "GetSystemDirectory", "GetWindowsDirectory",
                                           "GetTempPath",        "GetComputerName"};
  std::size_t next = 0;
  for (std::size_t i = 5; i + 1 < lines.size(); ++i) {
    const std::string& line = lines[i];
    std::size_t bracket = line.find(" [");
    ASSERT_NE(bracket, std::string::npos) << line;
    const std::string label = line.substr(0, bracket);
    auto found = std::find(labels.begin() + static_cast<long>(next), labels.end(), label);
    ASSERT_NE(found, labels.end()) << "unknown or out of order: " << line;
    next = static_cast<std::size_t>(found - labels.begin()) + 1;
    EXPECT_GT(line.size(), bracket + 3) << "empty value: " << line;
    EXPECT_EQ(line.back(), ']') << line;
  }
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_TRUE(HasLine(lines, "GetCurrentDirectory [" + std::string(cwd) + "]"));
  EXPECT_TRUE(HasLineWhere(lines, [](const std::string& line) {
    return line.rfind("GetTempPath [", 0) == 0 && line.size() >= 15 && line.substr(line.size() - 2) == "/]";
  }));
  if (platform::WindowsDirectory().empty()) {
    EXPECT_FALSE(HasLineContaining(lines, "GetWindowsDirectory"));
  }
}

TEST_F(LoggerTest, MachineInformationIsWrittenInWindows1252) {
  const fs::path folder = scratch_ / "dossier-\xC3\xA9\xE2\x82\xAC\xE4\xB8\xAD";  // é € 中
  fs::create_directory(folder);
  char saved[4096];
  ASSERT_NE(::getcwd(saved, sizeof saved), nullptr);
  ASSERT_EQ(::chdir(folder.c_str()), 0);
  log_ = std::make_unique<Logger>();
  log_->OpenLog(W(path_));
  ASSERT_EQ(::chdir(saved), 0);

  const std::string expected =
      "GetCurrentDirectory [" + platform::Utf8ToAnsi(scratch_.Path().string()) + "/dossier-\xE9\x80?]";
  EXPECT_TRUE(HasLine(Text(), expected)) << Bytes();
}

TEST_F(LoggerTest, HexDumpLayout) {
  MwLog& log = Open();
  const std::string bytes = "0123456789ABCDEF\n";  // 17 bytes
  log.WriteHex(bytes.data(), bytes.size());
  const unsigned char mixed[] = {0x00, 0x1F, 0x20, 0x7E, 0xE9};
  log.WriteHex(mixed, sizeof mixed);
  log.WriteHex(bytes.data(), 16);
  log.WriteHex(bytes.data(), 0);

  const std::vector<std::string> lines = Text();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "00000000:  30 31 32 33 34 35 36 37 38 39 41 42 43 44 45 46  | 0123456789ABCDEF");
  EXPECT_EQ(lines[1], "00000010:  0A" + std::string(47, ' ') + "| ." + std::string(15, ' '));
  EXPECT_EQ(lines[2], "00000000:  00 1F 20 7E E9" + std::string(35, ' ') + "| .. ~\xE9" +
                          std::string(11, ' '));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(lines[static_cast<std::size_t>(i)].size(), 78u);
  // Exactly one row for 16 bytes, and an empty line for none.
  EXPECT_EQ(lines[3], lines[0]);
  EXPECT_EQ(lines[4], "");
}

TEST_F(LoggerTest, HexDumpOfAnInvalidBlock) {
  MwLog& log = Open();
  log.WriteHex(nullptr, 32);
  const std::vector<std::string> expected = {
      "The binary data here seems to be an invalid memory block",
      "There is no way to show it, the pointer was 0x00000000",
  };
  EXPECT_EQ(Text(), expected);
}

TEST_F(LoggerTest, LongFormattedLineIsCut) {
  MwLog& log = Open();
  const std::string fits(16383, 'a');
  const std::string tooLong(20000, 'b');
  log.WriteFormat("%s", fits.c_str());
  log.WriteFormat("%s", tooLong.c_str());
  log.WriteFormat("%s!", fits.c_str());
  log.WriteLine("next");

  const std::vector<std::string> lines = Text();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], fits);
  EXPECT_EQ(lines[1], std::string(16383, 'b'));
  EXPECT_EQ(lines[2], fits);
  EXPECT_EQ(lines[3], "next");
}

TEST_F(LoggerTest, SecondOpenAppends) {
  log_ = std::make_unique<Logger>();
  log_->OpenLog(W(path_));
  log_->WriteLine("first run");
  const std::string firstRun = Bytes();
  log_->OpenLog(W(path_));
  log_->WriteLine("second run");

  const std::string both = Bytes();
  ASSERT_GT(both.size(), firstRun.size());
  EXPECT_EQ(both.substr(0, firstRun.size()), firstRun);
  const std::vector<std::string> lines = WithoutStamps(SplitLines(both));
  EXPECT_EQ(CountLines(lines, "============== LOGGER MACHINE INFO ================="), 2u);
  EXPECT_EQ(lines.back(), "second run");

  // A fresh logger on the same path appends too, as the next process would.
  auto other = std::make_unique<Logger>();
  other->OpenLog(W(path_));
  other->WriteLine("third run");
  EXPECT_EQ(Bytes().substr(0, both.size()), both);
  EXPECT_EQ(Text().back(), "third run");

  // Truncating starts the file anew.
  other->OpenFile(W(path_), true);
  other->WriteLine("alone");
  EXPECT_EQ(Text(), std::vector<std::string>{"alone"});
}

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
