// The salvage driver and the rebuilding of the storage: stage results, the
// header as read, the tree written into the repaired file, and the files
// the salvage leaves behind.
#include <gtest/gtest.h>

#include <filesystem>

#include "salvage/Root.h"
#include "salvage/SalvageRun.h"
#include "salvage/SalvageState.h"

namespace {

using salvage_test::LogCapture;
using salvage_test::Salvage;
namespace fs = std::filesystem;

fixture::Node SmallProject() {
  return fixture::Root({
      fixture::Stream(u"\1CompObj", fixture::Pattern(80, 1)),
      fixture::Stream(u"\5SummaryInformation", fixture::Pattern(300, 2)),
      fixture::Storage(u"   1", {fixture::Stream(u"Props", fixture::Pattern(5000, 3)),
                                fixture::Stream(u"FixedData", fixture::Pattern(700, 4)),
                                fixture::Storage(u"TBkndTask", {fixture::Stream(u"Var2Data", fixture::Pattern(9000, 5))})}),
  });
}

TEST(StgReader, IntactFileComesBackWhole) {
  fixture::ScratchDir scratch;
  const fixture::Node tree = SmallProject();
  auto run = Salvage(scratch, fixture::Build(tree));
  ASSERT_TRUE(run.repaired);
  EXPECT_EQ(fixture::Differences(tree, fixture::ReadBack(*run.repaired)), std::vector<std::string>{});
  EXPECT_EQ(run.reader->State().stats.damagedElements, 0u);
  EXPECT_EQ(run.reader->State().stats.streamsCreated, 5u);
  EXPECT_EQ(run.reader->State().stats.storagesCreated, 2u);
}

TEST(StgReader, FileSizeLimits) {
  fixture::ScratchDir scratch;
  LogCapture log(scratch);
  auto tooSmall = Salvage(scratch, std::vector<std::uint8_t>(1535, 0));
  EXPECT_EQ(tooSmall.parse, -1);
  EXPECT_TRUE(log.Has("[ERROR]: [STG]\tFile is too small."));

  // Three sectors run every stage; nothing recoverable gives an empty file.
  auto smallest = Salvage(scratch, std::vector<std::uint8_t>(1536, 0));
  EXPECT_EQ(smallest.parse, 0);
  EXPECT_EQ(smallest.write, 0);
  ASSERT_TRUE(smallest.repaired);
  EXPECT_TRUE(smallest.repaired->Children(platform::kRootElement).empty());

  CStgReader reader(salvage_test::TestRun());
  EXPECT_EQ(reader.Init(scratch.WideFile("no such file")), -1);
}

TEST(StgReader, HeaderFieldsOfSmallFilesAreReadAsSingleBytes) {
  fixture::ScratchDir scratch;
  fixture::Image image = fixture::Image::Of(SmallProject());
  const std::uint32_t dirStart = image.HeaderField(platform::cfb::kHdrFirstDirSector);
  ASSERT_LT(dirStart, 0x100u);
  image.SetHeaderField(platform::cfb::kHdrFirstDirSector, 0x1200 | dirStart);  // a damaged high byte
  LogCapture log(scratch);
  auto run = Salvage(scratch, image.bytes());
  EXPECT_TRUE(log.Has("[STG]\t[Header]\tRoots start [" + std::to_string(dirStart) + "]"));
  ASSERT_TRUE(run.repaired);
  EXPECT_EQ(fixture::Differences(SmallProject(), fixture::ReadBack(*run.repaired)), std::vector<std::string>{});
}

TEST(StgReader, CancelStopsParsingWithoutAnErrorLine) {
  fixture::ScratchDir scratch;
  LogCapture log(scratch);
  unsigned char cancel = 1;
  salvage_test::SharedRun().settings.breakFlag = &cancel;
  auto run = Salvage(scratch, fixture::Build(SmallProject()));
  salvage_test::SharedRun().settings.breakFlag = nullptr;
  EXPECT_EQ(run.parse, -1000);
  for (const std::string& line : log.Lines()) EXPECT_EQ(line.find("read error"), std::string::npos) << line;
}

TEST(StgReader, OutputIsNeverWrittenOverAndNoTemporaryFileStays) {
  fixture::ScratchDir scratch;
  const std::string existing = scratch.File("taken.cfb");
  ASSERT_TRUE(fixture::WriteFile(existing, {1, 2, 3}));
  fixture::WriteFile(scratch.File("input.cfb"), fixture::Build(SmallProject()));
  salvage_test::SharedRun().settings.workFolder = platform::Utf8ToUtf16(scratch.path());
  LogCapture log(scratch);

  CStgReader reader(salvage_test::TestRun());
  ASSERT_EQ(reader.Init(scratch.WideFile("input.cfb")), 0);
  ASSERT_EQ(reader.ParseData(), 0);
  EXPECT_EQ(reader.WriteData(platform::Utf8ToUtf16(existing)), -4);
  EXPECT_EQ(fs::file_size(existing), 3u);
  EXPECT_FALSE(log.Has("[STG]\tOk to save"));
  EXPECT_TRUE(log.Has("[STG]\tSummary information:"));

  // An unwritable work folder fails before anything is written.
  salvage_test::SharedRun().settings.workFolder = platform::Utf8ToUtf16(scratch.File("missing-folder"));
  CStgReader second(salvage_test::TestRun());
  ASSERT_EQ(second.Init(scratch.WideFile("input.cfb")), 0);
  ASSERT_EQ(second.ParseData(), 0);
  EXPECT_EQ(second.WriteData(scratch.WideFile("out.cfb")), -5);
  EXPECT_TRUE(log.Has("[ERROR]: [STG]\tCannot create temp file"));
  EXPECT_FALSE(fs::exists(scratch.File("out.cfb")));

  for (const auto& entry : fs::directory_iterator(scratch.path()))
    EXPECT_EQ(entry.path().string().find(".tmp.stg"), std::string::npos) << entry.path();
}

TEST(StgReader, SummaryCountsWhatWasWritten) {
  fixture::ScratchDir scratch;
  LogCapture log(scratch);
  auto tree = fixture::Root({fixture::Stream(u"Empty", std::vector<std::uint8_t>{}),
                             fixture::Storage(u"Hollow"), fixture::Stream(u"Full", fixture::Pattern(10, 1))});
  auto run = Salvage(scratch, fixture::Build(tree));
  ASSERT_TRUE(run.repaired);
  // The empty stream is counted but not created; the empty storage is created.
  EXPECT_FALSE(run.repaired->OpenStream(platform::kRootElement, u"Empty"));
  EXPECT_TRUE(run.repaired->OpenStorage(platform::kRootElement, u"Hollow"));
  EXPECT_TRUE(log.Has("[STG]\t!!!Skip. Length = 0"));
  EXPECT_TRUE(log.Has("[STG]\t1 storages from 1 created"));
  EXPECT_TRUE(log.Has("[STG]\t1 streams from 2 created"));
  EXPECT_TRUE(log.Has("[STG]\tRoot entries found: 4"));
  EXPECT_TRUE(log.Has("[STG]\t======================================================"));
}

TEST(StgReader, RootStorageTakesTheRootEntrysClassAndTimes) {
  fixture::ScratchDir scratch;
  auto tree = fixture::Root({fixture::Stream(u"A", fixture::Pattern(100, 1))})
                  .WithClass(fixture::MakeClassId(7))
                  .WithTimes(0x01D0000012345678, 0x01D0000087654321);
  auto run = Salvage(scratch, fixture::Build(tree));
  ASSERT_TRUE(run.repaired);
  auto root = run.repaired->Stat(platform::kRootElement);
  ASSERT_TRUE(root);
  EXPECT_EQ(root->classId, fixture::MakeClassId(7));
  EXPECT_EQ(root->created, 0x01D0000012345678u);
  EXPECT_EQ(root->modified, 0x01D0000087654321u);
}

fixture::Node FourStreams() {
  return fixture::Root({fixture::Stream(u"A", fixture::Pattern(100, 1)), fixture::Stream(u"B", fixture::Pattern(200, 2)),
                        fixture::Stream(u"C", fixture::Pattern(300, 3)), fixture::Stream(u"D", fixture::Pattern(400, 4))});
}

constexpr std::uint32_t kNone = platform::cfb::kNoEntry;

TEST(StgReader, SiblingCyclesAreCutAndOrphansWrittenAtTheTop) {
  fixture::ScratchDir scratch;
  fixture::Image image = fixture::Image::Of(FourStreams());
  const std::uint32_t a = *image.FindEntry(u"A"), b = *image.FindEntry(u"B");
  const std::uint32_t c = *image.FindEntry(u"C"), d = *image.FindEntry(u"D");
  // Root -> A <-> B (a cycle); C and D are reached by nothing.
  image.SetEntryLinks(0, fixture::kKeep, fixture::kKeep, a);
  image.SetEntryLinks(a, kNone, b, kNone);
  image.SetEntryLinks(b, kNone, a, kNone);
  image.SetEntryLinks(c, kNone, kNone, kNone);
  image.SetEntryLinks(d, kNone, kNone, kNone);
  LogCapture log(scratch);
  auto run = Salvage(scratch, image.bytes());
  ASSERT_TRUE(run.repaired);
  EXPECT_TRUE(log.Has("[STG]\tRoot directory B cycle detected. skipping next_el " + std::to_string(a) + "."));
  EXPECT_EQ(salvage_test::MissingFrom(FourStreams(), *run.repaired), std::vector<std::string>{});
}

TEST(StgReader, SiblingsLeadingBackToTheRootEntryEndTheWalk) {
  // Root -> A, and A's siblings lead back to the Root Entry (directly, and
  // through B): the Root Entry hands its place to its child once only.
  fixture::ScratchDir scratch;
  fixture::Image image = fixture::Image::Of(FourStreams());
  const std::uint32_t a = *image.FindEntry(u"A"), b = *image.FindEntry(u"B");
  image.SetEntryLinks(0, fixture::kKeep, fixture::kKeep, a);
  image.SetEntryLinks(a, 0, b, kNone);
  image.SetEntryLinks(b, kNone, 0, kNone);
  LogCapture log(scratch);
  auto run = Salvage(scratch, image.bytes());
  ASSERT_TRUE(run.repaired);
  EXPECT_TRUE(log.Has("[STG]\tRoot directory A cycle detected. skipping prev_el 0."));
  EXPECT_TRUE(log.Has("[STG]\tRoot directory B cycle detected. skipping next_el 0."));
  EXPECT_EQ(salvage_test::MissingFrom(FourStreams(), *run.repaired), std::vector<std::string>{});
}

TEST(StgReader, OddEntriesAreWrittenAsStreamsOrNotAtAll) {
  fixture::ScratchDir scratch;
  fixture::Image image = fixture::Image::Of(FourStreams());
  image.SetEntryType(*image.FindEntry(u"B"), 0);   // invalid type, data still there
  image.SetEntryName(*image.FindEntry(u"C"), u"");  // no name: never written
  LogCapture log(scratch);
  auto run = Salvage(scratch, image.bytes());
  ASSERT_TRUE(run.repaired);
  EXPECT_TRUE(log.Has("Type 0, probably INVALID ENTRIE"));
  EXPECT_TRUE(log.Has("[STG]\t!!!!Unknown type, hope that is stream"));
  std::vector<std::uint8_t> bytes;
  auto b = run.repaired->OpenStream(platform::kRootElement, u"B");
  ASSERT_TRUE(b);
  ASSERT_TRUE(run.repaired->ReadStream(*b, bytes));
  EXPECT_EQ(bytes, fixture::Pattern(200, 2));
  EXPECT_EQ(run.repaired->Children(platform::kRootElement).size(), 3u);
  EXPECT_TRUE(run.repaired->OpenStream(platform::kRootElement, u"D"));
}

TEST(StgReader, LongSiblingChainsAreWalkedInOrder) {
  // Every entry the right sibling of the one before: a walk as deep as the
  // directory is long.
  std::vector<fixture::Node> streams;
  for (int i = 0; i < 3000; ++i)
    streams.push_back(fixture::Stream(platform::Utf8ToUtf16("s" + std::to_string(i)), fixture::Pattern(8, i)));
  const fixture::Node tree = fixture::Root(streams);
  fixture::Image image = fixture::Image::Of(tree);
  std::vector<std::uint32_t> order;
  for (int i = 0; i < 3000; ++i) order.push_back(*image.FindEntry(platform::Utf8ToUtf16("s" + std::to_string(i))));
  image.SetEntryLinks(0, fixture::kKeep, fixture::kKeep, order[0]);
  for (std::size_t i = 0; i < order.size(); ++i)
    image.SetEntryLinks(order[i], kNone, i + 1 < order.size() ? order[i + 1] : kNone, kNone);
  fixture::ScratchDir scratch;
  LogCapture log(scratch);
  auto run = Salvage(scratch, image.bytes());
  ASSERT_TRUE(run.repaired);
  EXPECT_EQ(salvage_test::MissingFrom(tree, *run.repaired), std::vector<std::string>{});
  // The Root Entry's child is handled in the Root Entry's own call.
  EXPECT_TRUE(log.Has("[STG]\tRecurse_level= [3000]"));
  EXPECT_FALSE(log.Has("[STG]\tRecurse_level= [3001]"));
}

}  // namespace

namespace {

TEST(StgReader, EntriesWhoseDataWasNeverReadAreNotWritten) {
  // Named like the root, a stream becomes a root entry whose data is never
  // read: there is nothing to write for it.
  fixture::ScratchDir scratch;
  fixture::Image image = fixture::Image::Of(FourStreams());
  image.SetEntryName(*image.FindEntry(u"C"), u"Root Entry");
  LogCapture log(scratch);
  auto run = Salvage(scratch, image.bytes());
  ASSERT_TRUE(run.repaired);
  EXPECT_FALSE(run.repaired->OpenStream(platform::kRootElement, u"Root Entry"));
  EXPECT_EQ(log.Count("[STG]\t!!!Skip. Length = 0"), 1);
  EXPECT_TRUE(run.repaired->OpenStream(platform::kRootElement, u"D"));
}

}  // namespace
