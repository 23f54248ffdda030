// Recovering the directory: the Root Entry, entry scores, name repair,
// sibling fields, stream lengths, and a directory whose chain is broken.
#include <gtest/gtest.h>

#include <cstdio>

#include "salvage/FamousNames.h"
#include "salvage/Root.h"
#include "salvage/SalvageRun.h"

namespace {

using salvage::DirItem;
using salvage_test::LogCapture;
using salvage_test::MissingFrom;
using salvage_test::Salvage;

DirItem ItemNamed(std::u16string_view name) {
  DirItem::Entry entry{};
  DirItem item(entry);
  for (std::uint32_t i = 0; i < name.size(); ++i) item.SetNameUnit(i, name[i]);
  return item;
}

class NameRepair : public ::testing::Test {
 protected:
  void SetUp() override {
    salvage::LoadFamousNames();
  }
  salvage::SalvageState state_{salvage_test::TestRun()};
  fixture::ScratchDir scratch_;
  LogCapture log_{scratch_};
};

TEST_F(NameRepair, DamagedFamousNameIsReplacedWhole) {
  DirItem item = ItemNamed(u"\5SummaryInformXXXXX");
  salvage::CRoot::CorrectName(item, state_);
  EXPECT_EQ(item.Name(), u"\5SummaryInformation");
  EXPECT_EQ(state_.stats.namesCorrected, 1u);
  EXPECT_TRUE(log_.Has("Change name of item from SummaryInformXXXXX to SummaryInformation"));
}

TEST_F(NameRepair, LeadingPartOnlyNamesKeepTheirTail) {
  DirItem item = ItemNamed(u"Data1");
  salvage::CRoot::CorrectName(item, state_);
  EXPECT_EQ(item.Name(), u"Data1");
  EXPECT_EQ(state_.stats.namesCorrected, 1u);  // rewritten to the same text, still counted
  DirItem object = ItemNamed(u"Objekt7");
  salvage::CRoot::CorrectName(object, state_);
  EXPECT_EQ(object.Name(), u"Object7");
}

TEST_F(NameRepair, RightAndUnknownNamesStay) {
  for (std::u16string_view name : {u"\5SummaryInformation", u"\1CompObj", u"Root Entry", u"TBkndTask", u"   1"}) {
    DirItem item = ItemNamed(name);
    salvage::CRoot::CorrectName(item, state_);
    EXPECT_EQ(item.Name(), name);
  }
  EXPECT_EQ(state_.stats.namesCorrected, 0u);
}

fixture::Node Project() {
  std::vector<fixture::Node> streams;
  for (int i = 0; i < 14; ++i)
    streams.push_back(fixture::Stream(platform::Utf8ToUtf16("Stream" + std::to_string(i)),
                                      fixture::Pattern(i % 2 ? 300 + 50 * i : 5000 + 700 * i, i)));
  return fixture::Root({fixture::Stream(u"\1CompObj", fixture::Pattern(90, 99)), fixture::Storage(u"   1", streams)});
}

TEST(Root, RootEntryFoundByItsLooksWhenTheHeaderIsWrong) {
  fixture::ScratchDir scratch;
  fixture::Image image = fixture::Image::Of(Project());
  image.SetEntryName(0, u"Rxot Entrx");
  const std::size_t rootAt = image.EntryOffset(0);
  // The header's directory start names a data sector.
  image.SetHeaderField(platform::cfb::kHdrFirstDirSector, image.StreamChain(u"   1/Stream0").at(2));
  LogCapture log(scratch);
  auto run = Salvage(scratch, image.bytes());
  ASSERT_TRUE(run.repaired);
  ASSERT_TRUE(run.reader->Root()->RootFound());
  // The log gives where the root was found and how much it looked like one.
  unsigned pos = 0, likeness = 0;
  bool found = false;
  for (const std::string& line : log.Lines())
    found |= std::sscanf(line.c_str(), "Found Root, rootPos==0x%X, rootTolerant==%u%%", &pos, &likeness) == 2;
  ASSERT_TRUE(found);
  EXPECT_EQ(pos, rootAt);
  EXPECT_GE(likeness, 55u);
  EXPECT_EQ(run.reader->Root()->GetEntry(0)->Name(), u"Root Entry");
  EXPECT_EQ(MissingFrom(Project(), *run.repaired), std::vector<std::string>{});
}

// The header is right but the root entry's name and type are garbled: the
// header's directory sector, full of entries, is kept rather than some
// data sector that scores a little better.
TEST(Root, GarbledRootEntryInTheHeadersDirectorySectorIsKept) {
  fixture::ScratchDir scratch;
  fixture::Image image = fixture::Image::Of(Project());
  image.ScrambleEntryName(0, 7);
  image.SetEntryType(0, 0x5A);
  LogCapture log(scratch);
  auto run = Salvage(scratch, image.bytes());
  ASSERT_TRUE(run.repaired);
  EXPECT_TRUE(log.Has("The header's first directory sector holds directory entries: its first entry is the root"));
  EXPECT_EQ(MissingFrom(Project(), *run.repaired), std::vector<std::string>{});
}

// A damaged link of the directory's chain (into nothing, or into a
// sector of stream bytes): the chain goes on at the sector that holds the
// entries the directory lacks.
TEST(Root, BrokenDirectoryChainIsRebuiltFromItsEntries) {
  const fixture::Image intact = fixture::Image::Of(Project());
  const auto dir = intact.DirectorySectors();
  ASSERT_GE(dir.size(), 3u);
  const std::uint32_t streamBytes = intact.MiniStreamSectors().at(0);
  for (const std::uint32_t link : {platform::cfb::kFreeSector, streamBytes}) {
    SCOPED_TRACE(link);
    fixture::ScratchDir scratch;
    fixture::Image image{std::vector<std::uint8_t>(intact.bytes())};
    image.SetFatEntry(dir[1], link);
    LogCapture log(scratch);
    auto run = Salvage(scratch, image.bytes());
    ASSERT_TRUE(run.repaired);
    EXPECT_TRUE(log.HasStart("Directory chain rebuilt past a lost or unsound link"));
    EXPECT_EQ(MissingFrom(Project(), *run.repaired), std::vector<std::string>{});
  }
}

// A directory sector zeroed inside a sound chain, or at its end: only its
// own entries are lost, every other entry keeps its index and so its place
// in the tree (the last sector is not taken for a broken chain to search
// the file for).
TEST(Root, AZeroedDirectorySectorLosesOnlyItsOwnEntries) {
  const fixture::Image intact = fixture::Image::Of(Project());
  const std::size_t sectors = intact.DirectorySectors().size();
  ASSERT_GE(sectors, 5u);
  for (const std::size_t zeroed : {std::size_t{2}, sectors - 1}) {
    SCOPED_TRACE("directory sector " + std::to_string(zeroed));
    fixture::ScratchDir scratch;
    fixture::Image image{std::vector<std::uint8_t>(intact.bytes())};
    std::vector<std::string> expected;
    for (int i = 0; i < 14; ++i) {
      const std::string name = "Stream" + std::to_string(i);
      const std::uint32_t entry = *image.FindEntry(platform::Utf8ToUtf16("   1/" + name));
      if (entry / 4 == zeroed) expected.push_back("missing /   1/" + name);
    }
    if (const auto compObj = image.FindEntry(u"\1CompObj"); *compObj / 4 == zeroed) expected.push_back("missing /\1CompObj");
    ASSERT_FALSE(expected.empty());
    image.ZeroDirectorySector(zeroed);
    LogCapture log(scratch);
    auto run = Salvage(scratch, image.bytes());
    ASSERT_TRUE(run.repaired);
    EXPECT_TRUE(log.Has("Directory sector " + std::to_string(image.DirectorySectors().at(zeroed)) +
                        " holds no entries: its 4 places are kept empty"));
    EXPECT_FALSE(log.Has("[ERROR]: ERROR ! Find BAD root-sector. Root Chain is corrupt. Try found entries manualy"));
    auto missing = MissingFrom(Project(), *run.repaired);
    std::sort(missing.begin(), missing.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(missing, expected);
  }
}

// An entry whose bytes no longer read as one, in a sector whose others do:
// it alone is lost, and the entries after it keep their numbers.
TEST(Root, AnUnreadableEntryKeepsItsPlace) {
  fixture::ScratchDir scratch;
  fixture::Image image = fixture::Image::Of(Project());
  std::string lost;
  for (int i = 0; i < 14 && lost.empty(); ++i) {
    const std::string name = "Stream" + std::to_string(i);
    const std::uint32_t entry = *image.FindEntry(platform::Utf8ToUtf16("   1/" + name));
    const fixture::EntryFields e = image.Entry(entry);
    if (e.left != platform::cfb::kNoEntry || e.right != platform::cfb::kNoEntry || entry + 8 > image.EntryCount())
      continue;
    const auto noise = fixture::Pattern(128, 7);
    for (std::size_t k = 0; k < noise.size(); k += 4)
      image.Put32(image.EntryOffset(entry) + k, noise[k] | noise[k + 1] << 8 | noise[k + 2] << 16 | noise[k + 3] << 24);
    lost = "missing /   1/" + name;
  }
  ASSERT_FALSE(lost.empty()) << "no entry with no siblings before the last sectors";
  auto run = Salvage(scratch, image.bytes());
  ASSERT_TRUE(run.repaired);
  EXPECT_EQ(MissingFrom(Project(), *run.repaired), std::vector<std::string>{lost});
}

TEST(Root, DirectoryScoresSeparateEntriesFromOtherBytes) {
  fixture::ScratchDir scratch;
  fixture::Image image = fixture::Image::Of(Project());
  auto run = Salvage(scratch, image.bytes());
  ASSERT_EQ(run.parse, 0);
  const salvage::CRoot& root = *run.reader->Root();
  DirItem::Entry entry{};
  const std::size_t at = image.EntryOffset(*image.FindEntry(u"   1/Stream3"));
  std::copy_n(image.bytes().begin() + static_cast<std::ptrdiff_t>(at), entry.size(), entry.begin());
  EXPECT_GE(root.DefineBalls(entry), 26);
  const auto noise = fixture::Pattern(128, 7);
  std::copy(noise.begin(), noise.end(), entry.begin());
  EXPECT_LT(root.DefineBalls(entry), 26);
}

TEST(Root, SiblingFieldWithThreeBytesFFIsNone) {
  fixture::ScratchDir scratch;
  fixture::Image image = fixture::Image::Of(Project());
  const std::uint32_t compObj = *image.FindEntry(u"\1CompObj");
  image.Put32(image.EntryOffset(compObj) + 0x48, 0x07FFFFFF);
  image.Put32(image.EntryOffset(compObj) + 0x44, 0xFFFFFF07);
  auto run = Salvage(scratch, image.bytes());
  ASSERT_EQ(run.parse, 0);
  const DirItem* item = run.reader->Root()->GetEntry(compObj);
  ASSERT_TRUE(item);
  EXPECT_EQ(item->Next(), 0xFFFFFFFFu);
  EXPECT_EQ(item->Prev(), 0xFFFFFFFFu);
}

std::vector<std::uint8_t> StreamOf(const platform::CompoundFileReader& file, std::u16string_view storage,
                                   std::u16string_view name) {
  std::vector<std::uint8_t> bytes;
  auto parent = file.OpenStorage(platform::kRootElement, storage);
  auto stream = parent ? file.OpenStream(*parent, name) : std::nullopt;
  if (!stream || !file.ReadStream(*stream, bytes)) ADD_FAILURE() << "no stream";
  return bytes;
}

TEST(Root, StreamLengthsFollowWhatTheChainsHold) {
  fixture::ScratchDir scratch;
  fixture::Image image = fixture::Image::Of(Project());
  // A stream claims 10,000 bytes but its chain ends after 2 sectors.
  const std::uint32_t big = *image.FindEntry(u"   1/Stream0");
  image.SetFatEntry(image.StreamChain(u"   1/Stream0").at(1), platform::cfb::kEndOfChain);
  image.SetEntrySize(big, 10000);
  // A 100-byte stream whose mini chain has 3 sectors.
  const std::uint32_t small = *image.FindEntry(u"   1/Stream3");
  ASSERT_EQ(image.StreamChain(u"   1/Stream3").size(), 8u);
  image.SetEntrySize(small, 100);
  auto run = Salvage(scratch, image.bytes());
  ASSERT_TRUE(run.repaired);
  EXPECT_EQ(run.reader->State().stats.damagedElements, 1u);
  const auto bigBytes = StreamOf(*run.repaired, u"   1", u"Stream0");
  const auto bigOriginal = fixture::Pattern(5000, 0);
  ASSERT_EQ(bigBytes.size(), 1024u);
  EXPECT_TRUE(std::equal(bigBytes.begin(), bigBytes.end(), bigOriginal.begin()));
  const auto smallBytes = StreamOf(*run.repaired, u"   1", u"Stream3");
  const auto smallOriginal = fixture::Pattern(450, 3);
  ASSERT_EQ(smallBytes.size(), 100u);
  EXPECT_TRUE(std::equal(smallBytes.begin(), smallBytes.end(), smallOriginal.begin()));
}

// A table storage's streams, sized by each other's headers: the VarMeta's
// items and its Var2Data, the FixedMeta's FixedData, the Fixed2Meta's rows
// and its Fixed2Data; an empty meta stream is its header alone. Entry sizes
// damaged within the same sectors take the headers' sizes back; one the
// header would move to other sectors keeps the entry's.
TEST(Root, TableStreamSizesFollowTheirStoragesHeaders) {
  const auto put = fixture::Put32;
  std::vector<std::uint8_t> varMeta = fixture::Pattern(24 + 12 * 9, 1), fixedMeta = fixture::Pattern(16 + 47 * 3, 2);
  put(varMeta, 0, 0xFADFADBA), put(varMeta, 4, 0), put(varMeta, 8, 9), put(varMeta, 12, 0), put(varMeta, 16, 0);
  put(varMeta, 20, 300);
  put(fixedMeta, 0, 0xFADFADBA), put(fixedMeta, 8, 3), put(fixedMeta, 12, 700);
  // Three items 92 bytes apart, each naming a 64-byte row.
  std::vector<std::uint8_t> fixed2Meta(16 + 92 * 3, 0);
  put(fixed2Meta, 0, 0xFADFADBA), put(fixed2Meta, 4, 4), put(fixed2Meta, 8, 3), put(fixed2Meta, 12, 192);
  for (std::uint32_t i = 0; i < 3; ++i) put(fixed2Meta, 16 + 92 * i + 4, 64 * i);
  std::vector<std::uint8_t> emptyFixedMeta(16, 0);
  put(emptyFixedMeta, 0, 0xFADFADBA), put(emptyFixedMeta, 4, 4);
  const fixture::Node root = fixture::Root({fixture::Storage(
      u"TBkndTask", {fixture::Stream(u"VarMeta", varMeta), fixture::Stream(u"Var2Data", fixture::Pattern(300, 3)),
                     fixture::Stream(u"FixedMeta", fixedMeta), fixture::Stream(u"FixedData", fixture::Pattern(700, 4)),
                     fixture::Stream(u"Fixed2Meta", fixed2Meta), fixture::Stream(u"Fixed2Data", fixture::Pattern(192, 5))}),
                    fixture::Storage(u"CMap", {fixture::Stream(u"FixedMeta", emptyFixedMeta)})});
  struct Case {
    const char* what;
    std::u16string stream;
    std::uint32_t damaged;
    std::size_t expected;
    std::u16string storage = u"TBkndTask";
  };
  const Case cases[] = {
      {"a VarMeta's own size from its items", u"VarMeta", 150, 132},
      {"a Var2Data shortened", u"Var2Data", 290, 300},
      {"a FixedData lengthened to its last sector's end", u"FixedData", 704, 700},
      {"a size the header would move to other sectors stays", u"Var2Data", 250, 250},
      {"a Fixed2Meta's own size from its rows", u"Fixed2Meta", 300, 292},
      {"a Fixed2Data by its Fixed2Meta", u"Fixed2Data", 180, 192},
      {"an empty FixedMeta's size is its header's", u"FixedMeta", 40, 16, u"CMap"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fixture::ScratchDir scratch;
    fixture::Image image = fixture::Image::Of(root);
    image.SetEntrySize(*image.FindEntry(c.storage + u"/" + c.stream), c.damaged);
    auto run = Salvage(scratch, image.bytes());
    ASSERT_TRUE(run.repaired);
    EXPECT_EQ(StreamOf(*run.repaired, c.storage, c.stream).size(), c.expected);
  }
}

}  // namespace
