// The command-line host, run as a user would run it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

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

TEST_F(CliTest, UsageErrorsExitWithTwo) {
  EXPECT_EQ(Cli("").exitCode, 2);
  EXPECT_EQ(Cli("--frobnicate x.mpp").exitCode, 2);
  EXPECT_EQ(Cli("a.mpp b.mpp -o " + (dir_ / "nofolder/").string()).exitCode, 2);
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
  EXPECT_NE(run.err.find("the file is empty"), std::string::npos) << run.err;  // errors even under -q
  for (const char* text : {"\"result\":-3", "\"meaning\":\"nothing recovered\"", "\"output\":null",
                           "\"report\":{\"level\":1,\"rows\":[]}", "\"losses\":[]", "\"elapsed_ms\":"})
    EXPECT_NE(run.out.find(text), std::string::npos) << text << " in " << run.out;
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

// Frozen dates make every task manual; by default each keeps its own mode
// (the sample's are automatic).
TEST_F(CliTest, FreezeDatesMakesEveryTaskManual) {
  const std::string sample = MDW_SOURCE_DIR "/examples/sample.mpp";
  const std::string own = (dir_ / "own.xml").string(), frozen = (dir_ / "frozen.xml").string();
  ASSERT_EQ(Cli("-q " + sample + " " + own).exitCode, 0);
  ASSERT_EQ(Cli("-q --freeze-dates " + sample + " " + frozen).exitCode, 0);
  EXPECT_EQ(Count(Slurp(own), "<Manual>1</Manual>"), 0u);
  EXPECT_EQ(Count(Slurp(frozen), "<Manual>0</Manual>"), 0u);
  EXPECT_GT(Count(Slurp(frozen), "<ManualStart>"), 20u);
}

// The situations a user meets, one row each: the command, the exit code,
// what stderr says, and what is left in the output folder afterwards.
struct Situation {
  const char* name;
  std::string (*setup)(const fs::path& dir, const std::string& sample);  // the arguments
  int exitCode;
  const char* message;
  std::vector<std::string> left;  // the names in dir/out afterwards
};

std::string Q(const fs::path& path) { return "'" + path.string() + "'"; }

const Situation kSituations[] = {
    {"missing input", [](const fs::path& d, const std::string&) { return Q(d / "absent.mpp") + " -o " + Q(d / "out"); },
     1, "open ", {}},
    {"folder as input", [](const fs::path& d, const std::string&) { return Q(d / "out") + " -o " + Q(d / "out"); },
     1, "Is a directory", {}},
    {"empty input", [](const fs::path& d, const std::string&) {
       std::ofstream(d / "empty.mpp");
       return "-q " + Q(d / "empty.mpp") + " -o " + Q(d / "out");
     }, 3, "the file is empty", {}},
    {"not a project file", [](const fs::path& d, const std::string&) {
       std::ofstream(d / "text.mpp") << std::string(4096, 'a');
       return Q(d / "text.mpp") + " " + Q(d / "out");
     }, 3, "no document was written", {}},
    {"output exists", [](const fs::path& d, const std::string& sample) {
       std::ofstream(d / "out" / "mine.xml") << "mine";
       return sample + " -o " + Q(d / "out" / "mine.xml");
     }, 1, "File exists", {"mine.xml"}},
    {"output is a symbolic link", [](const fs::path& d, const std::string& sample) {
       fs::create_symlink(d / "elsewhere.xml", d / "out" / "link.xml");
       return sample + " --output=" + Q(d / "out" / "link.xml");
     }, 1, "File exists", {"link.xml"}},
    {"output folder missing", [](const fs::path& d, const std::string& sample) {
       return sample + " -o " + Q(d / "out" / "no" / "plan.xml");
     }, 1, "No such file or directory", {}},
    {"recovered whole", [](const fs::path& d, const std::string& sample) { return sample + " -o " + Q(d / "out"); },
     0, "recovered whole", {"sample.xml"}},
    {"--force replaces", [](const fs::path& d, const std::string& sample) {
       std::ofstream(d / "out" / "sample.xml") << "old";
       return "--force " + sample + " -o " + Q(d / "out" / "sample.xml");
     }, 0, "recovered whole", {"sample.xml"}},
    {"composed name beside an existing file", [](const fs::path& d, const std::string& sample) {
       std::ofstream(d / "out" / "sample.xml") << "old";
       return sample + " " + Q(d / "out");
     }, 0, "sample(2).xml", {"sample(2).xml", "sample.xml"}},
    {"several inputs, one fails", [](const fs::path& d, const std::string& sample) {
       return sample + " " + Q(d / "absent.mpp") + " " + sample + " -o " + Q(d / "out");
     }, 1, "absent.mpp: No such file", {"sample(2).xml", "sample.xml"}},
    {"a name that is not UTF-8", [](const fs::path& d, const std::string& sample) {
       fs::copy_file(sample.substr(1, sample.size() - 2), d / "pl\xE9n.mpp");
       return Q(d / "pl\xE9n.mpp") + " -o " + Q(d / "out");
     }, 0, "recovered whole", {"pl\xE9n.xml"}},
    {"a log that cannot be written", [](const fs::path& d, const std::string& sample) {
       return "--log=" + Q(d / "no" / "run.log") + " " + sample + " -o " + Q(d / "out");
     }, 1, "No such file or directory", {}},
    {"usage error as JSON", [](const fs::path&, const std::string&) { return std::string("--json --frobnicate"); },
     2, "unknown option", {}},
};

TEST_F(CliTest, EachSituationHasItsExitCodeMessageAndFiles) {
  const std::string sample = "'" MDW_SOURCE_DIR "/examples/sample.mpp'";
  for (const Situation& situation : kSituations) {
    SCOPED_TRACE(situation.name);
    fs::remove_all(dir_ / "out");
    fs::create_directory(dir_ / "out");
    const CliRun run = Cli(situation.setup(dir_, sample));
    EXPECT_EQ(run.exitCode, situation.exitCode) << run.err;
    EXPECT_NE(run.err.find(situation.message), std::string::npos) << run.err;
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir_ / "out")) left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, situation.left);
    // Every document left is whole, or one that was there before.
    for (const std::string& name : left) {
      if (fs::is_symlink(dir_ / "out" / name)) continue;
      const std::string text = Slurp(dir_ / "out" / name);
      EXPECT_TRUE(text == "mine" || text == "old" || text.find("</Project>") != std::string::npos) << name;
    }
  }
  EXPECT_NE(Cli("--json --frobnicate").out.find("\"meaning\":\"usage error\""), std::string::npos);
}

// A full disk: exit 5 with the system's reason, and nothing left behind.
TEST_F(CliTest, AFullDiskLeavesNothingAndSaysSo) {
  const fs::path small = dir_ / "small";
  fs::create_directory(small);
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=16k") != 0)
    GTEST_SKIP() << "no small tmpfs can be mounted here (" << std::strerror(errno) << ")";
  const CliRun run = Cli("'" MDW_SOURCE_DIR "/examples/sample.mpp' -o " + Q(small));
  EXPECT_EQ(run.exitCode, 5) << run.err;
  EXPECT_NE(run.err.find("No space left on device"), std::string::npos) << run.err;
  EXPECT_TRUE(fs::is_empty(small));
  ::umount(small.c_str());
}

}  // namespace
