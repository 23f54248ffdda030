// Version detection on compound files built in memory, method by method and
// with the data storage overruling the saving application; then every
// sample project file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/TestRun.h"
#include "FoundationTestSupport.h"
#include "base/Logger.h"
#include "parse/VersionDetection.h"
#include "platform/Text.h"
#include "support/CfbFixture.h"

namespace {

namespace fs = std::filesystem;
using fixture::Storage;
using fixture::Stream;
using foundation_test::ReadBytes;
using Lines = std::vector<std::string>;

const std::string kRule = std::string(52, '=') + " ";
const std::string kFound9 = "DetectFileVersion - Microsoft Project 9.0 (2000 .. 2003)";
const std::string kFound14 = "DetectFileVersion - Microsoft Project 14.0 (2010)";
const std::string kNoCompObj =
    "DetectFileVersion - method one is unsuccessful. Can't find \"@CompObj\" root stream";
const std::string kMethodTwoFailed = "DetectFileVersion - method second is unsuccessful";

// A CompObj stream: a 28-byte header, the user-type text's length (its zero
// included) and the text; cut to keep bytes.
fixture::Node CompObj(std::string_view userType, std::size_t keep = SIZE_MAX) {
  std::vector<std::uint8_t> bytes(28, 0);
  const auto length = static_cast<std::uint32_t>(userType.size() + 1);
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(length >> (8 * i)));
  bytes.insert(bytes.end(), userType.begin(), userType.end());
  bytes.resize(std::min(bytes.size() + 5, keep), 0);
  return Stream(u"\x01" "CompObj", bytes);
}

fixture::Node Data(std::u16string name) { return Storage(std::move(name), {Stream(u"Props", "p")}); }

class VersionDetection : public ::testing::Test {
 protected:
  void SetUp() override { run.log.OpenFile(platform::Utf8ToUtf16(scratch_.File("run.log")), true); }

  int Detect(const std::vector<std::uint8_t>& bytes) {
    const std::string path = scratch_.File("file" + std::to_string(++files_) + ".mpp");
    EXPECT_TRUE(fixture::WriteFile(path, bytes));
    return DetectFileVersion(ctx.log, platform::Utf8ToUtf16(path));
  }
  int Detect(std::vector<fixture::Node> children) {
    return Detect(fixture::Build(fixture::Root(std::move(children))));
  }
  Lines Log() const {
    using namespace foundation_test;
    return WithoutStamps(SplitLines(ReadBytes(scratch_.File("run.log")).value_or("")));
  }

  fixture::ScratchDir scratch_;
  test_support::TestRun run;
  RunContext& ctx = run.ctx;
  int files_ = 0;
};

TEST_F(VersionDetection, CompObjTextDecidesByPrefixOnly) {
  // A Props stream of another version does not matter once CompObj decides.
  EXPECT_EQ(Detect({CompObj("Microsoft Project 9.0 Plan"), Stream(u"Props14", "x"), Data(u"   19")}), 9);
  EXPECT_EQ(Log(), (Lines{kRule, kFound9, kRule}));
  EXPECT_EQ(Detect({CompObj("Microsoft Project 12.0"), Data(u"   112")}), 12);
  EXPECT_EQ(Detect({CompObj("Microsoft.Project 14.0.1"), Data(u"   114")}), 14);

  // Look-alikes fall through to the storages: a blank where the 2010 text
  // has a dot, a text cut by the stream's end or by a zero byte.
  EXPECT_EQ(Detect({CompObj("Microsoft Project 14.0"), Data(u"   112")}), 12);
  EXPECT_EQ(Detect({CompObj("Microsoft Project 12.0", 32 + 20), Data(u"   19")}), 9);
  EXPECT_EQ(Detect({CompObj(std::string_view("Microsoft Project 9\0.0", 22)), Data(u"   114")}), 14);
  EXPECT_EQ(Detect({CompObj("Plan", 32 + 3), Data(u"   114")}), 14);
  EXPECT_TRUE(foundation_test::HasLine(
      Log(), "DetectFileVersion - method one is unsuccessful. Unknown version = \"Pla\""));
}

TEST_F(VersionDetection, UnknownProductFallsThroughToTheStorages) {
  EXPECT_EQ(Detect({CompObj("OtherVendor.Planner 3.1"), Data(u"   114")}), 14);
  EXPECT_EQ(Log(), (Lines{kRule,
                          "DetectFileVersion - method one is unsuccessful. Unknown version = "
                          "\"OtherVendor.Plan\"",
                          kMethodTwoFailed, kFound14, kRule}));
}

TEST_F(VersionDetection, WeakerMethodsDecideInTheirOrder) {
  EXPECT_EQ(Detect({Stream(u"Props14", "x"), Stream(u"Props9", "x"), Data(u"   19"), Data(u"   114")}), 9);
  EXPECT_EQ(Log(), (Lines{kRule, kNoCompObj, kFound9, kRule}));
  EXPECT_EQ(Detect({Storage(u"   214"), Storage(u"   29")}), 9);
  // A stream of a storage's name is no storage.
  EXPECT_EQ(Detect({Stream(u"   114", "x"), Storage(u"   212")}), 12);
}

TEST_F(VersionDetection, UnreadableCompObjFallsThrough) {
  // Big enough for the big sectors, then cut after its first one.
  fixture::Node compObj = CompObj("Microsoft.Project 14.0");
  compObj.bytes.resize(5000, 0x20);
  fixture::Image image =
      fixture::Image::Of(fixture::Root({compObj, Stream(u"Props12", "x"), Data(u"   112")}));
  const auto chain = image.StreamChain(u"\x01" "CompObj");
  ASSERT_FALSE(chain.empty());
  image.SetFatEntry(chain.front(), platform::cfb::kEndOfChain);
  EXPECT_EQ(Detect(image.bytes()), 12);
  EXPECT_EQ(Log(), (Lines{kRule,
                          "DetectFileVersion - method one is unsuccessful. Can't read \"@CompObj\" "
                          "stream data",
                          "DetectFileVersion - Microsoft Project 12.0 (2007)", kRule}));
}

TEST_F(VersionDetection, NothingKnownOrNoCompoundFileGivesZero) {
  EXPECT_EQ(Detect({Storage(u"   1", {Stream(u"Props", "x")}), Stream(u"Props", "x")}), 0);
  EXPECT_EQ(Log(), (Lines{kRule, kNoCompObj, kMethodTwoFailed,
                          "DetectFileVersion - method third is unsuccessful",
                          "DetectFileVersion - version unknown", kRule}));
  run.log.OpenFile(platform::Utf8ToUtf16(scratch_.File("run.log")), true);
  const std::string text = "Task 1: pour the foundations, then wait a week.\n";
  EXPECT_EQ(Detect(std::vector<std::uint8_t>(text.begin(), text.end())), 0);
  EXPECT_EQ(Log(), (Lines{kRule, "[ERROR]: DetectFileVersion - failed open file(!)",
                          "DetectFileVersion - failed open file(!)"}));
}

// The CompObj text (and the Props stream) name the application that saved
// the file; the data storage shows the format it saved in.
TEST_F(VersionDetection, DataStorageOverrulesTheSavingApplication) {
  EXPECT_EQ(Detect({CompObj("Microsoft.Project 14.0"), Data(u"   112")}), 12);
  EXPECT_EQ(Log(), (Lines{kRule, kFound14,
                          "DetectFileVersion - data storage \"   112\" found, version 12 taken "
                          "instead of 14",
                          kRule}));
  EXPECT_EQ(Detect({CompObj("Microsoft Project 12.0"), Data(u"   19")}), 9);
  EXPECT_EQ(Detect({Stream(u"Props14", "x"), Data(u"   112")}), 12);
  EXPECT_EQ(Detect({Storage(u"   29"), Data(u"   114")}), 14);
  // An old data storage left behind beside the current one: the newest wins.
  EXPECT_EQ(Detect({CompObj("Microsoft.Project 14.0"), Data(u"   19"), Data(u"   112")}), 12);
}

TEST_F(VersionDetection, DataStorageOverrulesOnlyWhenTheDecidedOneIsMissing) {
  EXPECT_EQ(Detect({CompObj("Microsoft.Project 14.0"), Data(u"   114"), Data(u"   112")}), 14);
  // No data storage at all, only another storage of a format.
  EXPECT_EQ(Detect({CompObj("Microsoft.Project 14.0"), Storage(u"   212")}), 14);
  EXPECT_FALSE(foundation_test::HasLineContaining(Log(), "taken instead"));
}

// Every sample: the version whose data storage it holds (one of them when
// several); files with none, of older formats, may give what the methods say.
TEST(VersionDetectionCorpus, EverySampleGetsTheVersionOfItsDataStorage) {
  const fs::path corpus = fs::path(MDW_SOURCE_DIR "/../shared/corpus/mpp");
  if (!fs::exists(corpus)) GTEST_SKIP() << "no sample corpus at " << corpus;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(corpus))
    if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty());

  fixture::ScratchDir scratch;
  const std::string logPath = scratch.File("corpus.log");
  test_support::TestRun run;
  std::map<int, int> detected;
  int mended = 0, withoutData = 0;
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    const std::u16string path = platform::Utf8ToUtf16(file.string());
    std::vector<int> held;
    if (auto reader = platform::CompoundFileReader::Open(path))
      for (auto [version, name] : {std::pair{9, u"   19"}, {12, u"   112"}, {14, u"   114"}})
        if (reader->OpenStorage(platform::kRootElement, name)) held.push_back(version);
    run.log.OpenFile(platform::Utf8ToUtf16(logPath), true);
    const int version = DetectFileVersion(run.log, path);
    run.log.CloseFile();
    ++detected[version];
    mended += ReadBytes(logPath).value_or("").find("taken instead of") != std::string::npos;
    withoutData += held.empty();
    if (!held.empty()) {
      EXPECT_NE(std::find(held.begin(), held.end(), version), held.end()) << version;
    }
  }
  std::printf("%zu sample files: %d as 9, %d as 12, %d as 14, %d as 0; %d without a data storage; "
              "%d decided by the data storage against the methods\n",
              files.size(), detected[9], detected[12], detected[14], detected[0], withoutData, mended);
}

}  // namespace
