// The command-line host, run as a user would run it.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

struct CliRun {
  int exitCode = -1;
  std::string out, err;
};

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/mpprecover-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& bytes) {
    std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  static std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  CliRun Cli(const std::string& args) {
    std::string command = std::string(MDW_CLI_PATH) + " " + args + " >" + (dir_ / "out.txt").string() +
                          " 2>" + (dir_ / "err.txt").string() + " </dev/null";
    int status = std::system(command.c_str());
    CliRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = Slurp(dir_ / "out.txt");
    run.err = Slurp(dir_ / "err.txt");
    return run;
  }

  fs::path dir_;
};

TEST_F(CliTest, HelpAndVersionDocumentTheTool) {
  CliRun help = Cli("--help");
  EXPECT_EQ(help.exitCode, 0);
  for (const char* text : {"--log", "--work-dir", "--keep-repaired", "--json", "Exit codes", "130"})
    EXPECT_NE(help.out.find(text), std::string::npos) << text;
  CliRun version = Cli("--version");
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_NE(version.out.find("library interface version 2"), std::string::npos);
}

TEST_F(CliTest, UsageErrorsExitWithTwo) {
  EXPECT_EQ(Cli("").exitCode, 2);
  EXPECT_EQ(Cli("--frobnicate x.mpp").exitCode, 2);
  EXPECT_EQ(Cli("a.mpp b.xml c").exitCode, 2);
  EXPECT_EQ(Cli("--log").exitCode, 2);
  std::string input = Write("plan.mpp", "x");
  EXPECT_EQ(Cli(input + " " + (dir_ / "missing/").string()).exitCode, 2);
  std::string existing = Write("kept.bin", "mine");
  CliRun refused = Cli("--keep-repaired " + existing + " " + input);
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_EQ(Slurp(existing), "mine");
}

TEST_F(CliTest, ResultCodesBecomeDistinctExitCodes) {
  EXPECT_EQ(Cli((dir_ / "absent.mpp").string()).exitCode, 1);
  EXPECT_EQ(Cli(Write("empty.mpp", "")).exitCode, 3);
  EXPECT_EQ(Cli(Write("text.mpp", std::string(600, 'a'))).exitCode, 3);
}

TEST_F(CliTest, JsonCarriesResultReportAndTiming) {
  CliRun run = Cli("--json -q " + Write("empty.mpp", ""));
  EXPECT_EQ(run.exitCode, 3);
  EXPECT_EQ(run.err, "");
  for (const char* text : {"\"result\":-3", "\"meaning\":\"nothing recovered\"", "\"output\":null",
                           "\"report\":{\"level\":1,\"rows\":[]}", "\"elapsed_ms\":"})
    EXPECT_NE(run.out.find(text), std::string::npos) << text << " in " << run.out;
}

TEST_F(CliTest, LogGoesToTheNamedFileAndStatusToStderr) {
  std::string input = Write("plan.mpp", std::string(2048, '\x01'));
  std::string log = (dir_ / "run.log").string();
  CliRun run = Cli("--log " + log + " " + input + " " + dir_.string());
  EXPECT_EQ(run.exitCode, 3);
  std::string text = Slurp(log);
  EXPECT_NE(text.find("S: FileRecover()"), std::string::npos);
  EXPECT_NE(text.find("Log file name: [" + log + "]"), std::string::npos);
  EXPECT_NE(run.err.find("Pass 1: Opening file..."), std::string::npos);
  // Nothing is left in the output folder by a failed run.
  for (const auto& entry : fs::directory_iterator(dir_))
    EXPECT_TRUE(entry.path().filename() == "plan.mpp" || entry.path().filename() == "run.log" ||
                entry.path().filename() == "out.txt" || entry.path().filename() == "err.txt")
        << entry.path();
}

static std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The README's example: the bundled damaged sample comes back whole.
TEST_F(CliTest, BundledSampleRecoversEveryTaskNoteAndOwner) {
  const std::string sample = MDW_SOURCE_DIR "/examples/sample.mpp";
  CliRun run = Cli("-q " + sample + " " + dir_.string());
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::string xml = Slurp(dir_ / "sample.xml");
  EXPECT_EQ(Count(xml, "<Task>"), 21u);
  EXPECT_EQ(Count(xml, "<Notes>"), 5u);
  EXPECT_EQ(Count(xml, "<FieldID>188743731</FieldID>"), 8u);  // the definition and seven values
  EXPECT_NE(xml.find("<Alias>Owner</Alias>"), std::string::npos);
  EXPECT_NE(xml.find("<Name>Hand back the keys</Name>"), std::string::npos);
  EXPECT_NE(xml.find("<Notes><![CDATA[Bring ID & two payslips; deposit < 3 months' rent.]]></Notes>"),
            std::string::npos);
  EXPECT_NE(xml.find("<OutlineNumber>2.2.3</OutlineNumber>"), std::string::npos);
}

// The XML writer's per-element lines make a log many times the document;
// they are left out unless asked for.
TEST_F(CliTest, ElementLinesReachTheLogOnlyWithLogDetail) {
  const std::string sample = MDW_SOURCE_DIR "/examples/sample.mpp";
  const std::string quiet = (dir_ / "quiet.log").string(), detailed = (dir_ / "detailed.log").string();
  ASSERT_EQ(Cli("-q --log " + quiet + " " + sample + " " + (dir_ / "a.xml").string()).exitCode, 0);
  ASSERT_EQ(Cli("-q --log-detail --log " + detailed + " " + sample + " " + (dir_ / "b.xml").string()).exitCode, 0);
  const std::string withoutLines = Slurp(quiet), withLines = Slurp(detailed);
  EXPECT_EQ(Count(withoutLines, "Write_hXML() start."), 0u);
  EXPECT_NE(withoutLines.find("Output file closed"), std::string::npos);
  EXPECT_GT(Count(withLines, "Write_hXML() start."), 500u);
  EXPECT_NE(withLines.find("value = \"Hand back the keys\""), std::string::npos);
}

}  // namespace
