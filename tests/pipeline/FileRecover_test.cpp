// The recovery pipeline up to the salvage, and the names it composes for
// the output: results, what the host is told, what the log shows, and which
// files are (not) touched.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <string>
#include <vector>

#include "pipeline/FileRecover.h"
#include "FoundationTestSupport.h"
#include "base/LibrarySettings.h"
#include "mdwdll.h"
#include "support/CfbFixture.h"
#include "support/SampleProjects.h"

namespace {

using namespace foundation_test;

class FileRecoverTest : public HostTest {};

TEST_F(FileRecoverTest, NotInitialisedFailsSilently) {
  const fs::path input = TextInput();
  EXPECT_EQ(Recover(input, out), MDW_ERR_GENERAL);

  SetLogPath(W(logPath).c_str());  // no callbacks yet
  EXPECT_EQ(Recover(input, out), MDW_ERR_GENERAL);

  api::HostSettings() = LibrarySettings{};
  DllInitialize(W(work).c_str(), &RecordStatus, &RecordProgress);  // no log path
  EXPECT_EQ(Recover(input, out), MDW_ERR_GENERAL);

  EXPECT_TRUE(HostEvents().empty());
  EXPECT_FALSE(fs::exists(logPath));
  EXPECT_TRUE(Entries(out).empty());
}

TEST_F(FileRecoverTest, MissingInputOrAFolderFails) {
  Initialise();
  fs::create_directory(in / "plan.mpp");
  EXPECT_EQ(Recover(in / "plan.mpp", out), MDW_ERR_GENERAL);
  EXPECT_EQ(Recover(in / "absent.mpp", out), MDW_ERR_GENERAL);
  EXPECT_TRUE(HostEvents().empty());
  EXPECT_FALSE(HasLine(LogLines(), "S: FileRecover()"));
  EXPECT_TRUE(Entries(out).empty());
}

TEST_F(FileRecoverTest, EmptyInputLeavesTheOutputAlone) {
  Initialise();
  SetOutputFormat(u"*.xml");
  const fs::path input = in / "plan.mpp";
  WriteBytes(input, "");
  const fs::path existing = scratch / "mine.xml";
  WriteBytes(existing, "<mine/>");

  EXPECT_EQ(Recover(input, out), MDW_ERR_NOTHING);
  EXPECT_EQ(Recover(input, existing), MDW_ERR_NOTHING);
  EXPECT_EQ(Recover(input, scratch / "new.mpp"), MDW_ERR_NOTHING);

  EXPECT_TRUE(Entries(out).empty());
  EXPECT_EQ(ReadBytes(existing), "<mine/>");
  EXPECT_FALSE(fs::exists(scratch / "new.mpp"));
  EXPECT_FALSE(fs::exists(scratch / "new.xml"));
  EXPECT_TRUE(HostEvents().empty());
  EXPECT_FALSE(HasLine(LogLines(), "S: FileRecover()"));
}

TEST_F(FileRecoverTest, TextFileEndsInTheSalvage) {
  Initialise();
  std::uint8_t cancel = 0;
  SetBreakFlag(&cancel);
  EXPECT_EQ(Recover(TextInput(), out), MDW_ERR_NOTHING);

  // The host hears of the first pass and nothing after the salvage gave up.
  const std::vector<HostEvent> expected = {ProgressEvent("", 0), StatusEvent("Pass 1: Opening file..."),
                                           ProgressEvent("Find file structure...", 0)};
  EXPECT_EQ(HostEvents(), expected);

  const std::vector<std::string> lines = LogLines();
  EXPECT_TRUE(HasLineWhere(lines, IsSalvageFailedLine));
  EXPECT_FALSE(HasLine(lines, "Parse OLE data is successful"));
}

// A container without the data storage of any version read (a version 8
// file has none of them) ends cleanly after the salvage, saying why.
TEST_F(FileRecoverTest, AFileOfAnotherVersionEndsWithNothingRecovered) {
  const std::filesystem::path input = in / "old.mpp";
  ASSERT_TRUE(fixture::WriteFile(
      input.string(), fixture::Build(fixture::Root({project_fixture::CompObjStream("Microsoft Project 8.0"),
                                                    fixture::Storage(u"   18", {fixture::Stream(u"Props", "x")})}))));
  Initialise();
  EXPECT_EQ(Recover(input, out), MDW_ERR_NOTHING);
  EXPECT_TRUE(HasLine(LogLines(), "The file holds no project data of version 9, 12 or 14: nothing to recover"));
  EXPECT_TRUE(std::filesystem::is_empty(out));
}

TEST_F(FileRecoverTest, CancelByteIsClearedWhenARunStarts) {
  Initialise();
  std::uint8_t cancel = 1;
  SetBreakFlag(&cancel);
  EXPECT_EQ(Recover(TextInput(), out), MDW_ERR_NOTHING);
  EXPECT_EQ(cancel, 0);
  const std::vector<std::string> lines = LogLines();
  EXPECT_FALSE(HasLineContaining(lines, "canceled by user"));
  EXPECT_TRUE(HasLineWhere(lines, IsSalvageFailedLine));
}

TEST_F(FileRecoverTest, OutputFileIsUsedAsGiven) {
  Initialise();
  SetOutputFormat(u"*.xml");
  const fs::path input = TextInput();
  const fs::path existing = out / "result.mpp";
  WriteBytes(existing, "keep");
  char16_t xml[512];

  Recover(input, out / "fresh.mpp");
  GetLastOutputPath(xml, 512);
  EXPECT_EQ(std::u16string(xml), W(out / "fresh.xml"));

  Recover(input, existing);
  GetLastOutputPath(xml, 512);
  EXPECT_EQ(std::u16string(xml), W(out / "result.xml"));

  // No probe, and the given file is not touched.
  EXPECT_EQ(Entries(out), std::vector<std::string>{"result.mpp"});
  EXPECT_EQ(ReadBytes(existing), "keep");
}

TEST_F(FileRecoverTest, OutputFolderGetsAComposedName) {
  Initialise();
  SetOutputFormat(u"*.xml");
  WriteBytes(out / "plan.xml", "earlier");
  Recover(TextInput(), out);

  char16_t xml[512];
  GetLastOutputPath(xml, 512);
  EXPECT_EQ(std::u16string(xml), W(out / "plan(2).xml"));
  EXPECT_EQ(Entries(out), std::vector<std::string>{"plan.xml"});
  EXPECT_EQ(ReadBytes(out / "plan.xml"), "earlier");
}

TEST_F(FileRecoverTest, OutputNameThatCannotBeComposed) {
  Initialise();
  SetOutputFormat(u"*.xml");
  // A name longer than the system takes (255 bytes).
  const fs::path input = TextInput(std::string(251, 'p') + ".mpp");
  SetOutputFormat(u"*.xmlxml");
  EXPECT_EQ(Recover(input, out), MDW_ERR_PATH_TOO_LONG);
  SetOutputFormat(u"*.xml");
  // Every numbered name taken.
  WriteBytes(out / "plan.xml", "");
  for (int n = 2; n <= 999; ++n) WriteBytes(out / ("plan(" + std::to_string(n) + ").xml"), "");
  EXPECT_EQ(Recover(TextInput(), out), MDW_ERR_GENERAL);

  EXPECT_EQ(Entries(out).size(), 999u);
  EXPECT_EQ(CountLines(LogLines(), "[ERROR]: Unable to create output file"), 2u);
  // The run ended before its first pass.
  EXPECT_FALSE(SawStatus("Pass 1: Opening file..."));
}

// The output's name taken by someone else while the run works (here by the
// host itself, when it hears of the first pass): a given name is never
// replaced and the run fails; a composed name moves on to the next free one.
// Either way the other file keeps its bytes and no temporary is left.
fs::path takenMidRun;
void TakeNameOnFirstPass(const char16_t* text) {
  RecordStatus(text);
  if (U8(text ? text : u"") == "Pass 1: Opening file...") WriteBytes(takenMidRun, "theirs");
}

TEST_F(FileRecoverTest, OutputNameTakenDuringTheRun) {
  struct Case {
    bool composed;
    std::int32_t result;
    std::vector<std::string> entries;
  };
  const Case cases[] = {{false, MDW_ERR_GENERAL, {"plan.xml"}}, {true, MDW_OK, {"plan(2).xml", "plan.xml"}}};
  const fs::path input = in / "plan.mpp";
  ASSERT_TRUE(fixture::WriteFile(input.string(),
                                 project_fixture::BuildProjectFile(project_fixture::SyntheticProject(12))));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.composed ? "composed name" : "given name");
    fs::remove_all(out);
    fs::create_directory(out);
    takenMidRun = out / "plan.xml";
    DllInitialize(W(work).c_str(), &TakeNameOnFirstPass, &RecordProgress);
    SetLogPath(W(logPath).c_str());
    SetOutputFormat(u"*.xml");
    EXPECT_EQ(Recover(input, c.composed ? out : takenMidRun), c.result);
    EXPECT_EQ(Entries(out), c.entries);
    EXPECT_EQ(ReadBytes(takenMidRun), "theirs");
    char16_t last[512] = {};
    GetLastOutputPath(last, 512);
    EXPECT_EQ(std::u16string(last), c.composed ? W(out / "plan(2).xml") : u"");
  }
}

// Output names composed inside a folder.
class FileRecoverOutputName : public HostTest {
 protected:
  std::int32_t Compose(const fs::path& input, std::u16string& composed) {
    return MakeOutputFileName(api::HostSettings(), W(out), W(input), composed);
  }
  std::u16string ComposeOk(const fs::path& input) {
    std::u16string composed;
    EXPECT_EQ(Compose(input, composed), 0) << input;
    return composed;
  }
};

TEST_F(FileRecoverOutputName, NameComesFromTheInputAndTheFormat) {
  SetOutputFormat(u"*.xml");
  EXPECT_EQ(ComposeOk("/data/v1.2/plan.mpp"), W(out / "plan.xml"));
  EXPECT_EQ(ComposeOk("/data/v1.2/my.plan.mpp"), W(out / "my.plan.xml"));
  EXPECT_EQ(ComposeOk("/data/v1.2/plan"), W(out / "plan.xml"));
  EXPECT_EQ(ComposeOk("plan.mpp"), W(out / "plan.xml"));
  // A folder given with its trailing slash gets no second one.
  std::u16string composed;
  ASSERT_EQ(MakeOutputFileName(api::HostSettings(), W(out) + u"/", u"plan.mpp", composed), 0);
  EXPECT_EQ(composed, W(out / "plan.xml"));
  // The probe that proved the name free is gone.
  EXPECT_TRUE(Entries(out).empty());
}

TEST_F(FileRecoverOutputName, WithoutAFormatThereIsNoExtension) {
  EXPECT_EQ(ComposeOk("/data/plan.mpp"), W(out / "plan"));
  EXPECT_EQ(XmlPathFor(W(out / "plan")), W(out / "pxml"));
}

TEST_F(FileRecoverOutputName, StarDotStarKeepsTheInputExtension) {
  SetOutputFormat(u"*.*");
  EXPECT_EQ(ComposeOk("/data/plan.mpp"), W(out / "plan.mpp"));
  EXPECT_EQ(ComposeOk("/data/v1.2/plan"), W(out / "plan"));
}

TEST_F(FileRecoverOutputName, ExistingFilesAreNeverTakenOver) {
  SetOutputFormat(u"*.xml");
  WriteBytes(out / "plan.xml", "first");
  EXPECT_EQ(ComposeOk("plan.mpp"), W(out / "plan(2).xml"));
  WriteBytes(out / "plan(2).xml", "second");
  EXPECT_EQ(ComposeOk("plan.mpp"), W(out / "plan(3).xml"));

  EXPECT_EQ(Entries(out), (std::vector<std::string>{"plan(2).xml", "plan.xml"}));
  EXPECT_EQ(ReadBytes(out / "plan.xml"), "first");
  EXPECT_EQ(ReadBytes(out / "plan(2).xml"), "second");

  // A folder in the way is taken as well.
  fs::create_directory(out / "plan(3).xml");
  EXPECT_EQ(ComposeOk("plan.mpp"), W(out / "plan(4).xml"));
}

TEST_F(FileRecoverOutputName, NothingFreeFails) {
  SetOutputFormat(u"*.xml");
  WriteBytes(out / "plan.xml", "");
  for (int n = 2; n <= 998; ++n) WriteBytes(out / ("plan(" + std::to_string(n) + ").xml"), "");
  EXPECT_EQ(ComposeOk("plan.mpp"), W(out / "plan(999).xml"));

  WriteBytes(out / "plan(999).xml", "");
  std::u16string composed;
  EXPECT_EQ(Compose("plan.mpp", composed), MDW_ERR_GENERAL);
  EXPECT_EQ(Entries(out).size(), 999u);
}

TEST_F(FileRecoverOutputName, SymbolicLinksAreNotFollowed) {
  SetOutputFormat(u"*.xml");
  const fs::path target = scratch / "target.txt";
  WriteBytes(target, "precious");
  fs::create_symlink(target, out / "plan.xml");
  const fs::path dangling = scratch / "nowhere.txt";
  fs::create_symlink(dangling, out / "plan(2).xml");

  EXPECT_EQ(ComposeOk("plan.mpp"), W(out / "plan(3).xml"));
  EXPECT_EQ(ReadBytes(target), "precious");
  EXPECT_FALSE(fs::exists(fs::symlink_status(dangling)));
  EXPECT_TRUE(fs::is_symlink(out / "plan.xml"));
  EXPECT_TRUE(fs::is_symlink(out / "plan(2).xml"));
}

// The system's name limit is 255 bytes (a non-ASCII letter counts for its
// UTF-8 bytes), its path limit 4095: no shorter limit of our own.
TEST_F(FileRecoverOutputName, NamesUpToTheSystemsLimitAreAccepted) {
  SetOutputFormat(u"*.xml");
  std::u16string composed;
  const std::string longest(251, 'p');
  ASSERT_EQ(Compose(longest + ".mpp", composed), 0);
  EXPECT_EQ(U8(composed), (out / (longest + ".xml")).string());
  EXPECT_EQ(Compose(longest + "q.mpp", composed), MDW_ERR_PATH_TOO_LONG);
  EXPECT_EQ(Compose(std::string(250, 'p') + "\xC3\xA9.mpp", composed), MDW_ERR_PATH_TOO_LONG);  // 256 bytes
  EXPECT_TRUE(Entries(out).empty());
}

TEST_F(FileRecoverOutputName, PercentSignsInTheFolderAreKept) {
  SetOutputFormat(u"*.xml");
  const fs::path folder = scratch / "100%d %s%n";
  fs::create_directory(folder);
  std::u16string composed;
  ASSERT_EQ(MakeOutputFileName(api::HostSettings(), W(folder), u"plan.mpp", composed), 0);
  EXPECT_EQ(composed, W(folder / "plan.xml"));
}

TEST_F(FileRecoverOutputName, FolderWithoutWriteAccessFails) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  SetOutputFormat(u"*.xml");
  ASSERT_EQ(::chmod(out.c_str(), 0555), 0);
  std::u16string composed;
  EXPECT_EQ(Compose("plan.mpp", composed), MDW_ERR_GENERAL);
  ::chmod(out.c_str(), 0755);
}

TEST_F(FileRecoverOutputName, XmlFileIsTheOutputWithItsLastThreeCharactersReplaced) {
  EXPECT_EQ(XmlPathFor(u"/out/plan.mpp"), u"/out/plan.xml");
  EXPECT_EQ(XmlPathFor(u"/out/plan(2).mpx"), u"/out/plan(2).xml");
  EXPECT_EQ(XmlPathFor(u"/out/plan"), u"/out/pxml");
}

TEST_F(FileRecoverOutputName, TemporaryNamesGoToTheHostsWorkFolder) {
  Initialise();
  const std::string name = U8(MakeTempFileName(api::HostSettings()));
  const std::string folder = work.string() + "/mw-";
  EXPECT_EQ(name.compare(0, folder.size(), folder), 0) << name;
}

TEST_F(FileRecoverOutputName, TemporaryNamesAreFreshAndUnused) {
  const std::u16string first = MakeTempFileName(api::HostSettings());
  const std::u16string second = MakeTempFileName(api::HostSettings());
  EXPECT_NE(first, second);
  // <temporary folder>/mw-<version 4 UUID>.tmp
  const std::string folder = tmp.string() + "/mw-";
  const std::string name = U8(first);
  ASSERT_EQ(name.compare(0, folder.size(), folder), 0) << name;
  const std::string uuid = name.substr(folder.size());
  ASSERT_EQ(uuid.size(), 36u + 4u) << name;
  EXPECT_EQ(uuid.substr(36), ".tmp");
  for (std::size_t i = 0; i < 36; ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23)
      EXPECT_EQ(uuid[i], '-') << name;
    else
      EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(uuid[i])) && !std::isupper(uuid[i])) << name;
  }
  EXPECT_EQ(uuid[14], '4') << name;
  EXPECT_FALSE(fs::exists(U8(first)));
  EXPECT_TRUE(Entries(tmp).empty());
}

}  // namespace
