// Recovering the allocation tables: damaged entries and chains, the DIF, and
// the search for missing mini SAT parts.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/Text.h"
#include "salvage/SalvageRun.h"
#include "salvage/Sat.h"

namespace {

using salvage_test::LogCapture;
using salvage_test::MissingFrom;
using salvage_test::Salvage;

fixture::Node TwoStreams() {
  return fixture::Root(
      {fixture::Stream(u"Big", fixture::Pattern(5000, 1)), fixture::Stream(u"Small", fixture::Pattern(150, 2))});
}

TEST(Sat, ChainCyclesAreCutAndTheStreamShortened) {
  fixture::ScratchDir scratch;
  fixture::Image image = fixture::Image::Of(TwoStreams());
  const auto chain = image.StreamChain(u"Big");
  ASSERT_EQ(chain.size(), 10u);
  image.SetFatEntry(chain[4], chain[1]);  // 0 1 2 3 4 -> 1
  LogCapture log(scratch);
  auto run = Salvage(scratch, image.bytes());
  ASSERT_TRUE(run.repaired);
  EXPECT_TRUE(log.Has("[ERROR]: ERROR ! sectors cycle detected ! truncating chain. End Search"));
  EXPECT_EQ(run.reader->State().stats.damagedElements, 1u);
  std::vector<std::uint8_t> bytes;
  ASSERT_TRUE(run.repaired->ReadStream(*run.repaired->OpenStream(platform::kRootElement, u"Big"), bytes));
  const auto original = fixture::Pattern(5000, 1);
  ASSERT_EQ(bytes.size(), 5 * 512u);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), original.begin()));
}

// An entry one damaged byte sent outside the file links to the sector one
// byte away that nothing else links to; else it continues the run before it.
TEST(Sat, EntriesPointingOutsideTheFileAreMendedOrContinueTheRunBeforeThem) {
  fixture::ScratchDir scratch;
  fixture::Image image = fixture::Image::Of(TwoStreams());
  const auto chain = image.StreamChain(u"Big");
  image.SetFatEntry(chain[0], 0x00970000 | chain[1]);  // the entry before it ends another chain
  image.SetFatEntry(chain[3], 0x00FFFFF0);
  image.SetFatEntry(chain[6], 0x7F000000 | chain[7]);
  auto run = Salvage(scratch, image.bytes());
  ASSERT_TRUE(run.repaired);
  EXPECT_EQ(MissingFrom(TwoStreams(), *run.repaired), std::vector<std::string>{});
}

TEST(Sat, MissingPartsKeepTheirPlace) {
  std::vector<std::uint32_t> parts = {1024, 0, 2048, 1024, 0, 4096};
  salvage::DropRepeatedParts(parts);
  EXPECT_EQ(parts, (std::vector<std::uint32_t>{1024, 0, 2048, 0, 4096}));
}

TEST(Sat, FileWithoutMiniStream) {
  fixture::ScratchDir scratch;
  const auto tree = fixture::Root({fixture::Stream(u"Big", fixture::Pattern(9000, 3))});
  fixture::Image image = fixture::Image::Of(tree);
  ASSERT_EQ(image.HeaderField(platform::cfb::kHdrFirstMiniFatSector), platform::cfb::kEndOfChain);
  auto run = Salvage(scratch, image.bytes());
  ASSERT_TRUE(run.repaired);
  EXPECT_TRUE(run.reader->Sat()->MiniSatList().empty());
  EXPECT_EQ(MissingFrom(tree, *run.repaired), std::vector<std::string>{});
}

TEST(Sat, DamagedHighBytesOfMiniTableEntriesAreIgnored) {
  fixture::ScratchDir scratch;
  fixture::Image image = fixture::Image::Of(TwoStreams());
  const auto chain = image.StreamChain(u"Small");
  ASSERT_EQ(chain.size(), 3u);
  image.SetMiniFatEntry(chain[0], 0x5A000000 | chain[1]);
  auto run = Salvage(scratch, image.bytes());
  ASSERT_TRUE(run.repaired);
  EXPECT_EQ(MissingFrom(TwoStreams(), *run.repaired), std::vector<std::string>{});
}

// More than 109 SAT sectors: the rest are listed in the DIF.
fixture::Node LargeFile() {
  return fixture::Root({fixture::Stream(u"Large", fixture::Pattern(7'300'000, 4)),
                        fixture::Stream(u"Small", fixture::Pattern(100, 5))});
}

TEST(Sat, SatSectorsListedInTheDifAreFound) {
  fixture::ScratchDir scratch;
  fixture::Image image = fixture::Image::Of(LargeFile());
  ASSERT_EQ(image.DifatSectors().size(), 1u);
  const auto fat = image.FatSectors();
  ASSERT_GT(fat.size(), 109u);
  auto run = Salvage(scratch, image.bytes());
  ASSERT_TRUE(run.repaired);
  std::vector<std::uint32_t> expected;
  for (std::uint32_t s : fat) expected.push_back((s + 1) * 512);
  EXPECT_EQ(run.reader->Sat()->SatList(), expected);
  EXPECT_EQ(MissingFrom(LargeFile(), *run.repaired), std::vector<std::string>{});
}

TEST(Sat, DifWalkEndsAtABrokenLinkToTheNextDifSector) {
  fixture::ScratchDir scratch;
  fixture::Image image = fixture::Image::Of(LargeFile());
  const std::uint32_t dif = image.DifatSectors().at(0);
  const auto fat = image.FatSectors();
  // The last entry links to a sector far beyond the file, and the header
  // claims more DIF sectors than there are.
  image.Put32(fixture::Image::SectorOffset(dif) + 4 * 127, 0x00ABCDEF);
  image.SetHeaderField(platform::cfb::kHdrDifatSectorCount, 3);
  LogCapture log(scratch);
  auto run = Salvage(scratch, image.bytes());
  ASSERT_TRUE(run.repaired);
  EXPECT_TRUE(log.Has("[GOOD]\tValidating sector " + std::to_string(dif) + " on belong to DIF: 127 values from 128 are valid"));
  std::vector<std::uint32_t> expected;
  for (std::uint32_t s : fat) expected.push_back((s + 1) * 512);
  EXPECT_EQ(run.reader->Sat()->SatList(), expected);
  EXPECT_EQ(MissingFrom(LargeFile(), *run.repaired), std::vector<std::string>{});
}

// Without the header there is no list of SAT sectors and no DIF: the table
// is found from its own marks, its last part (nearly all SAT sectors, hardly
// a link) by the mark it carries for itself; a free entry damaged into a
// link past the file shows no part missing.
TEST(Sat, WithoutTheHeaderTheTableIsFoundFromItsOwnMarks) {
  for (const bool linkPastTheFile : {false, true}) {
    SCOPED_TRACE(linkPastTheFile ? "a free entry linking past the file" : "the table as written");
    fixture::ScratchDir scratch;
    fixture::Image image = fixture::Image::Of(LargeFile());
    const auto fat = image.FatSectors();
    std::fill(image.bytes().begin(), image.bytes().begin() + 512, 0);
    if (linkPastTheFile) {
      ASSERT_EQ(image.U32(fixture::Image::SectorOffset(fat.back()) + 4 * 127), platform::cfb::kFreeSector);
      image.Put32(fixture::Image::SectorOffset(fat.back()) + 4 * 127, 0xFF3EFFFF);
    }
    LogCapture log(scratch);
    auto run = Salvage(scratch, image.bytes());
    ASSERT_TRUE(run.repaired);
    EXPECT_TRUE(log.Has("SAT rebuilt from the marks of its own " + std::to_string(fat.size()) + " sectors"));
    std::vector<std::uint32_t> expected;
    for (std::uint32_t s : fat) expected.push_back((s + 1) * 512);
    EXPECT_EQ(run.reader->Sat()->SatList(), expected);
    EXPECT_EQ(MissingFrom(LargeFile(), *run.repaired), std::vector<std::string>{});
  }
}

// A table whose parts do not all mark one another is not taken whole: a
// zeroed part leaves the header's list as it was.
TEST(Sat, MarksOfAnIncompleteTableLeaveTheHeadersListAlone) {
  fixture::ScratchDir scratch;
  fixture::Image image = fixture::Image::Of(LargeFile());
  const auto fat = image.FatSectors();
  image.ZeroFatSector(fat.size() - 1);
  LogCapture log(scratch);
  auto run = Salvage(scratch, image.bytes());
  ASSERT_EQ(run.parse, 0);
  EXPECT_EQ(log.Count("SAT rebuilt from the marks of its own " + std::to_string(fat.size()) + " sectors"), 0);
  std::vector<std::uint32_t> expected;
  for (std::uint32_t s : fat) expected.push_back((s + 1) * 512);
  EXPECT_EQ(run.reader->Sat()->SatList(), expected);
}

// 200 small streams, in a mini stream whose table takes four sectors; with
// a big stream after them, if asked.
fixture::Node SmallStreams(bool withBig) {
  std::vector<fixture::Node> streams;
  for (int i = 0; i < 200; ++i)
    streams.push_back(fixture::Stream(platform::Utf8ToUtf16("s" + std::to_string(i)), fixture::Pattern(100, i)));
  if (withBig) streams.push_back(fixture::Stream(u"big", fixture::Pattern(20000, 7)));
  return fixture::Root(streams);
}

// A header whose mini SAT start leads elsewhere (to the directory, or out of
// the file): the mini SAT is the one chain of the table no entry names.
TEST(Sat, AMiniSatStartLedAstrayGivesWayToTheChainNoEntryNames) {
  const fixture::Node tree = SmallStreams(true);
  const fixture::Image intact = fixture::Image::Of(tree);
  // The directory, a sector beyond the file, the mini SAT's second sector,
  // a sector inside a stream.
  for (std::uint32_t wrong : {intact.DirectorySectors().at(0), 0x00ABCDEFu, intact.MiniFatSectors().at(1),
                              intact.StreamChain(u"big").at(3)}) {
    SCOPED_TRACE(wrong);
    fixture::Image image = fixture::Image::Of(tree);
    const auto miniFat = image.MiniFatSectors();
    ASSERT_EQ(miniFat.size(), 4u);
    image.SetHeaderField(platform::cfb::kHdrFirstMiniFatSector, wrong);
    fixture::ScratchDir scratch;
    LogCapture log(scratch);
    auto run = Salvage(scratch, image.bytes());
    ASSERT_TRUE(run.repaired);
    EXPECT_TRUE(log.Has("miniSAT taken from the chain that no entry names: sector " + std::to_string(miniFat[0]) +
                        ", 4 sectors"));
    EXPECT_EQ(run.reader->Sat()->MiniSatList(), miniFat);
    EXPECT_EQ(MissingFrom(tree, *run.repaired), std::vector<std::string>{});
  }
}

// A SAT part zeroed or overwritten links each of its sectors to the next:
// the stream that runs through it comes back whole.
TEST(Sat, ALostSatPartIsTakenAsARunOfSectors) {
  for (bool zeroed : {true, false}) {
    SCOPED_TRACE(zeroed ? "zeroed" : "overwritten");
    fixture::ScratchDir scratch;
    fixture::Image image = fixture::Image::Of(LargeFile());
    if (zeroed) image.ZeroFatSector(40);
    else image.ScrambleFatSector(40, 7);
    LogCapture log(scratch);
    auto run = Salvage(scratch, image.bytes());
    ASSERT_TRUE(run.repaired);
    EXPECT_TRUE(log.Has("1 lost SAT sectors taken as runs of sectors"));
    EXPECT_EQ(MissingFrom(LargeFile(), *run.repaired), std::vector<std::string>{});
  }
}

// A file longer than its table maps (as some saved files are) has its last
// parts looked for. Where a part is lost, nothing marks the mini SAT's
// sectors as a chain's any more, or only the sound part does: read as a
// table part of mostly free entries, none of them is taken for one.
TEST(Sat, MiniSatSectorsAreNeverTakenForTheTablesLastParts) {
  const fixture::Node tree = SmallStreams(true);
  for (std::size_t lost : {0u, 1u}) {
    SCOPED_TRACE("lost part " + std::to_string(lost));
    fixture::Image image = fixture::Image::Of(tree);
    ASSERT_EQ(image.FatSectors().size(), 2u);
    ASSERT_GT(image.MiniFatSectors().size(), 1u);
    image.bytes().resize(image.bytes().size() + 300 * 512);
    image.ZeroFatSector(lost);
    fixture::ScratchDir scratch;
    LogCapture log(scratch);
    auto run = Salvage(scratch, image.bytes());
    ASSERT_TRUE(run.repaired);
    EXPECT_FALSE(log.HasStart("File was cut"));
    EXPECT_EQ(MissingFrom(tree, *run.repaired), std::vector<std::string>{});
  }
}

// A mini SAT part zeroed or overwritten: the links it lost are taken as
// runs, and the small streams stored one after the other come back.
TEST(Sat, ALostMiniSatPartIsTakenAsRuns) {
  const fixture::Node tree = SmallStreams(false);
  for (bool zeroed : {true, false}) {
    SCOPED_TRACE(zeroed ? "zeroed" : "overwritten");
    fixture::Image image = fixture::Image::Of(tree);
    const std::uint32_t part = image.MiniFatSectors().at(1);
    if (zeroed) image.ZeroSector(part);
    else image.ScrambleSector(part, 5);
    fixture::ScratchDir scratch;
    LogCapture log(scratch);
    auto run = Salvage(scratch, image.bytes());
    ASSERT_TRUE(run.repaired);
    EXPECT_TRUE(log.Has("1 damaged miniSAT sectors: their lost links taken as runs of sectors"));
    EXPECT_EQ(MissingFrom(tree, *run.repaired), std::vector<std::string>{});
  }
}

std::vector<std::uint32_t> MiniChainOf(const fixture::Image& image, const std::string& path) {
  return image.MiniChain(image.Entry(image.FindEntry(platform::Utf8ToUtf16(path)).value()).start);
}

// Piece k of a stream's mini chain and the second piece of one of the
// two-piece streams s0..s199 that lies outside mini SAT part lostPart trade
// places and links. Returns that stream's chain (empty: none lies so).
std::vector<std::uint32_t> TradeWithAnotherStream(fixture::Image& image, const std::vector<std::uint32_t>& pieces,
                                                  std::size_t k, std::uint32_t lostPart) {
  std::vector<std::uint32_t> other;
  for (int i = 0; i < 200 && other.empty(); ++i)
    if (const auto chain = MiniChainOf(image, "s" + std::to_string(i));
        chain.size() == 2 && chain[0] / 128 != lostPart && chain[1] / 128 != lostPart)
      other = chain;
  if (other.empty()) return other;
  auto miniAt = [&](std::uint32_t m) {
    return image.bytes().begin() +
           static_cast<std::ptrdiff_t>(image.SectorOffset(image.MiniStreamSectors().at(m / 8)) + m % 8 * 64);
  };
  std::swap_ranges(miniAt(pieces[k]), miniAt(pieces[k]) + 64, miniAt(other[1]));
  image.SetMiniFatEntry(pieces[k - 1], other[1]);
  image.SetMiniFatEntry(other[1], k + 1 < pieces.size() ? pieces[k + 1] : 0xFFFFFFFE);
  image.SetMiniFatEntry(other[0], pieces[k]);
  image.SetMiniFatEntry(pieces[k], 0xFFFFFFFE);
  return other;
}

// A stream whose last piece lies in a sound part of the mini SAT, past a
// lost part that held the rest of its chain: the run taken for the lost
// link leads into another stream's piece, and the chain goes on instead at
// the one piece no sound link leads to whose chain is just as long as what
// the stream still lacks.
TEST(Sat, AMiniChainThroughALostPartGoesOnAtTheHeadItsLengthFits) {
  std::vector<fixture::Node> streams;
  for (int i = 0; i < 200; ++i)
    streams.push_back(fixture::Stream(platform::Utf8ToUtf16("s" + std::to_string(i)), fixture::Pattern(100, i)));
  streams.push_back(fixture::Stream(u"long", fixture::Pattern(1000, 250)));
  const fixture::Node tree = fixture::Root(streams);
  fixture::Image image = fixture::Image::Of(tree);
  const auto pieces = MiniChainOf(image, "long");
  ASSERT_EQ(pieces.size(), 16u);
  const std::uint32_t lostPart = pieces[0] / 128;
  ASSERT_EQ(pieces[14] / 128, lostPart);
  ASSERT_EQ(TradeWithAnotherStream(image, pieces, 15, lostPart).size(), 2u);
  image.ZeroSector(image.MiniFatSectors().at(lostPart));
  fixture::ScratchDir scratch;
  LogCapture log(scratch);
  auto run = Salvage(scratch, image.bytes());
  ASSERT_TRUE(run.repaired);
  EXPECT_TRUE(log.HasStart("Lost miniSAT links: "));
  EXPECT_EQ(MissingFrom(tree, *run.repaired), std::vector<std::string>{});
}

// A table stream whose mini chain jumps (its sixth piece lies among other
// streams') through a mini SAT part that is lost: the run taken for the
// lost link reads another stream's bytes where the stream's own items or
// its meta stream say what it holds (a FixedMeta item's state and its
// record's place, a VarMeta item's place and type, a Var2Data value's
// length, the UIDs rising at a FixedData's records), and the one mini
// sector that holds that is linked instead.
TEST(Sat, AMiniChainsJumpThroughALostPartIsFoundByWhatItHolds) {
  constexpr std::uint32_t kItems = 40, kStride = 47, kRecord = 64;
  std::vector<std::uint8_t> varMeta(24 + 12 * kItems, 0), var2Data, fixedMeta(16 + kStride * kItems, 0x11),
      fixedData(kRecord * kItems, 0x22);
  fixture::Put32(varMeta, 0, 0xFADFADBA);
  fixture::Put32(varMeta, 8, kItems);
  fixture::Put32(fixedMeta, 0, 0xFADFADBA);
  fixture::Put32(fixedMeta, 8, kItems);
  fixture::Put32(fixedMeta, 12, kRecord * kItems);
  for (std::uint32_t i = 0; i < kItems; ++i) {
    const auto at = static_cast<std::uint32_t>(var2Data.size());
    fixture::Put32(varMeta, 24 + 12 * i, i + 1);
    fixture::Put32(varMeta, 24 + 12 * i + 4, at);
    fixture::Put32(varMeta, 24 + 12 * i + 8, 0x0B40000E);
    var2Data.resize(at + 4 + 20 + i, static_cast<std::uint8_t>(i));
    fixture::Put32(var2Data, at, 20 + i);
    fixedMeta[16 + kStride * i] = 0;
    fixture::Put32(fixedMeta, 16 + kStride * i + 4, kRecord * i);
    fixture::Put32(fixedData, kRecord * i, 7 + 2 * i);
  }
  fixture::Put32(varMeta, 20, static_cast<std::uint32_t>(var2Data.size()));
  std::vector<fixture::Node> streams = {
      fixture::Storage(u"TBkndTask", {fixture::Stream(u"VarMeta", varMeta), fixture::Stream(u"Var2Data", var2Data),
                                      fixture::Stream(u"FixedMeta", fixedMeta),
                                      fixture::Stream(u"FixedData", fixedData)})};
  for (int i = 0; i < 200; ++i)
    streams.push_back(fixture::Stream(platform::Utf8ToUtf16("s" + std::to_string(i)), fixture::Pattern(100, i)));
  const fixture::Node tree = fixture::Root(streams);
  for (const char* name : {"Var2Data", "FixedMeta", "VarMeta", "FixedData"}) {
    SCOPED_TRACE(name);
    fixture::Image image = fixture::Image::Of(tree);
    const auto pieces = MiniChainOf(image, std::string("TBkndTask/") + name);
    ASSERT_GT(pieces.size(), 7u);
    const std::uint32_t lostPart = pieces[4] / 128;
    const auto other = TradeWithAnotherStream(image, pieces, 5, lostPart);
    ASSERT_EQ(other.size(), 2u);
    image.ZeroSector(image.MiniFatSectors().at(lostPart));
    fixture::ScratchDir scratch;
    LogCapture log(scratch);
    auto run = Salvage(scratch, image.bytes());
    ASSERT_TRUE(run.repaired);
    EXPECT_TRUE(log.Has("Mini sector " + std::to_string(pieces[4]) + " of a " + name + " links to " +
                        std::to_string(other[1]) + ", not " + std::to_string(pieces[5]) +
                        ": what its table says it holds is found only so"));
    EXPECT_EQ(MissingFrom(tree, *run.repaired), std::vector<std::string>{});
  }
}

// The mini SAT chain runs astray after its first sector (into a stream):
// the parts it lost are found again among the sectors that read as them.
TEST(Sat, MiniSatPartsLostFromTheChainAreFoundByTheirLinks) {
  const fixture::Node tree = SmallStreams(true);
  fixture::Image image = fixture::Image::Of(tree);
  const auto miniFat = image.MiniFatSectors();
  ASSERT_EQ(miniFat.size(), 4u);
  image.SetFatEntry(miniFat[0], image.StreamChain(u"big").at(10));
  fixture::ScratchDir scratch;
  LogCapture log(scratch);
  auto run = Salvage(scratch, image.bytes());
  ASSERT_TRUE(run.repaired);
  EXPECT_TRUE(log.Has("miniSAT part 1 found in sector " + std::to_string(miniFat[1])));
  EXPECT_EQ(MissingFrom(tree, *run.repaired), std::vector<std::string>{});
}

// The search for the mini SAT parts that its chain did not give: each part k
// takes the first candidate (not yet a part) with the most points, above 50
// after the first part.
TEST(Sat, MiniSatSearchPicksTheBestCandidateForEveryPart) {
  std::vector<fixture::Node> streams;
  for (int i = 0; i < 40; ++i)
    streams.push_back(fixture::Stream(platform::Utf8ToUtf16("s" + std::to_string(i)), fixture::Pattern(70 + 37 * i, i)));
  for (int i = 0; i < 6; ++i)
    streams.push_back(fixture::Stream(platform::Utf8ToUtf16("b" + std::to_string(i)), fixture::Pattern(9000, 100 + i)));
  fixture::Image image = fixture::Image::Of(fixture::Root(streams));
  // A first mini SAT sector holding one chain of one sector scores below 50.
  const std::size_t at = fixture::Image::SectorOffset(image.MiniFatSectors().at(0));
  image.Put32(at, platform::cfb::kEndOfChain);
  for (std::size_t i = 1; i < 128; ++i) image.Put32(at + 4 * i, platform::cfb::kFreeSector);

  fixture::ScratchDir scratch;
  LogCapture log(scratch);
  auto run = Salvage(scratch, image.bytes());
  ASSERT_EQ(run.parse, 0);
  EXPECT_TRUE(log.Has("Search last parts of miniSAT"));
  const salvage::CSat& sat = *run.reader->Sat();

  // Every candidate scored for every part, in file order, with the bounds
  // the search had.
  const salvage::FileBounds searchBounds = salvage::FileBounds::ForFileSize(static_cast<std::int64_t>(image.bytes().size()));
  salvage::SalvageState state(salvage_test::TestRun());
  state.bounds = searchBounds;
  salvage::CSat probe(state);
  probe.Init(salvage::ImageView(image.bytes().data(), image.bytes().size()));
  probe.SetFileInfo(static_cast<std::int64_t>(image.bytes().size()), state.header);
  std::vector<std::uint32_t> expected;
  for (std::uint32_t k = 0; k <= searchBounds.maxMiniSector / 128; ++k) {
    std::int32_t best = 0;
    std::uint32_t bestSector = 0xFFFFFFFF;
    for (std::uint32_t sector : sat.CandidateSectors()) {
      if (std::find(expected.begin(), expected.end(), sector) != expected.end()) continue;
      const std::int32_t points = probe.ScoreSatPart((sector + 1) * 512, k, true).likeSatPoints;
      if (points > best && points > (k > 0 ? 50 : 0)) {
        best = points;
        bestSector = sector;
      }
    }
    expected.push_back(bestSector);
  }
  EXPECT_EQ(sat.MiniSatList(), expected);
}

}  // namespace

namespace {

TEST(Sat, StartSectorsBeyondTheFileAreReplaced) {
  salvage::SalvageState state(salvage_test::TestRun());
  salvage::CSat sat(state);
  salvage::HeaderInfo header;
  header.satStart = 11;
  header.rootsStart = 11;
  sat.SetFileInfo(10 * 512, header);
  EXPECT_EQ(header.satStart, 0u);
  EXPECT_EQ(header.rootsStart, 1u);
  header.satStart = 10;
  header.rootsStart = 10;
  sat.SetFileInfo(10 * 512, header);
  EXPECT_EQ(header.satStart, 10u);
  EXPECT_EQ(header.rootsStart, 10u);
}

TEST(Sat, TheHeaderIsNeverTakenForTheSectorBeforeTheFirstSatSector) {
  // A header whose own values pass the presector test when its first SAT
  // sector is sector 0: 108 free list entries, two end marks and a value
  // equal to its index + 1.
  fixture::Image image = fixture::Image::Of(TwoStreams());
  image.SetHeaderFatEntry(0, 0);
  image.SetHeaderField(platform::cfb::kHdrFirstDifatSector, platform::cfb::kEndOfChain);
  image.SetHeaderField(platform::cfb::kHdrFirstMiniFatSector, platform::cfb::kEndOfChain);
  image.SetHeaderField(platform::cfb::kHdrFirstDirSector, 13);
  fixture::ScratchDir scratch;
  auto run = Salvage(scratch, image.bytes());
  ASSERT_EQ(run.parse, 0);
  const auto& list = run.reader->Sat()->SatList();
  EXPECT_EQ(std::count(list.begin(), list.end(), 0u), 0);
}

TEST(Sat, MiniChainRunningOntoTheFirstUnmappedMiniSectorEndsThere) {
  std::vector<fixture::Node> streams;
  for (int i = 0; i < 30; ++i)
    streams.push_back(fixture::Stream(platform::Utf8ToUtf16("s" + std::to_string(i)), fixture::Pattern(150, i)));
  const auto tree = fixture::Root(streams);
  fixture::Image image = fixture::Image::Of(tree);
  ASSERT_EQ(image.MiniFatSectors().size(), 1u);
  const auto chain = image.StreamChain(u"s5");
  image.SetMiniFatEntry(chain.back(), 128);  // one past the mini SAT's last entry
  fixture::ScratchDir scratch;
  auto run = Salvage(scratch, image.bytes());
  ASSERT_TRUE(run.repaired);
  EXPECT_EQ(MissingFrom(tree, *run.repaired), std::vector<std::string>{});
}

// A single damaged SAT or mini SAT entry inside a stream's chain: the chain
// goes on at the one unreached chain head that makes it as long as the
// stream's size needs, wherever the damaged link led.
TEST(Sat, ASingleDamagedLinkIsMendedByTheChainItCutOff) {
  for (const bool mini : {false, true}) {
    const std::size_t size = mini ? 900 : 9000;
    const fixture::Node project = fixture::Root({fixture::Stream(u"A", fixture::Pattern(size, 1)),
                                                 fixture::Stream(u"B", fixture::Pattern(size, 2)),
                                                 fixture::Stream(u"C", fixture::Pattern(size, 3))});
    const fixture::Image intact = fixture::Image::Of(project);
    const auto a = intact.StreamChain(u"A");
    ASSERT_GT(a.size(), 8u);
    const struct {
      const char* what;
      std::uint32_t link;
    } cases[] = {{"past the file", 0x00ABCDEF},
                 {"into another chain", intact.StreamChain(u"B").at(3)},
                 {"onto another chain's start", intact.StreamChain(u"C").at(0)}};
    for (const auto& k : cases) {
      SCOPED_TRACE(std::string(mini ? "mini SAT, " : "SAT, ") + k.what);
      fixture::ScratchDir scratch;
      fixture::Image image{std::vector<std::uint8_t>(intact.bytes())};
      if (mini)
        image.SetMiniFatEntry(a.at(5), k.link);
      else
        image.SetFatEntry(a.at(5), k.link);
      LogCapture log(scratch);
      auto run = Salvage(scratch, image.bytes());
      ASSERT_TRUE(run.repaired);
      // A link past the file is cut to the file's bound as the table is
      // read: what the chain lacks then comes back by the same means or
      // another.
      if (k.link != 0x00ABCDEF) {
        EXPECT_TRUE(log.HasStart(std::string(mini ? "Mini SAT" : "SAT") + " entry of sector " +
                                 std::to_string(a.at(5)) + " links to "));
      }
      EXPECT_EQ(MissingFrom(project, *run.repaired), std::vector<std::string>{});
    }
  }
}

}  // namespace
