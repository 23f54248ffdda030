#include "support/CfbFixture.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "platform/CompoundFile.h"

namespace {

using namespace platform;
using namespace platform::cfb;
using fixture::Image;
using fixture::Pattern;

fixture::Node Sample() {
  return fixture::Root({
      fixture::Stream(u"Small", Pattern(200, 1)),
      fixture::Stream(u"Large", Pattern(9000, 2)),
      fixture::Storage(u"Dir", {fixture::Stream(u"Inner", Pattern(4096, 3)),
                                fixture::Stream(u"Tiny", Pattern(65, 4))}),
  });
}

// A stream's bytes gathered by hand from the sectors the image locates.
std::vector<std::uint8_t> Gather(const Image& image, std::u16string_view path) {
  const auto entry = image.Entry(*image.FindEntry(path));
  std::vector<std::uint8_t> out;
  const auto& b = image.bytes();
  if (entry.size >= kMiniStreamCutoff) {
    for (std::uint32_t s : image.StreamChain(path))
      out.insert(out.end(), b.begin() + Image::SectorOffset(s), b.begin() + Image::SectorOffset(s) + kSectorSize);
  } else {
    const auto mini = image.MiniStreamSectors();
    for (std::uint32_t m : image.StreamChain(path)) {
      const std::size_t at = Image::SectorOffset(mini.at(m * kMiniSectorSize / kSectorSize)) +
                             m * kMiniSectorSize % kSectorSize;
      out.insert(out.end(), b.begin() + at, b.begin() + at + kMiniSectorSize);
    }
  }
  out.resize(entry.size);
  return out;
}

TEST(CfbFixture, LocatesTheStructuresTheWriterLaidOut) {
  const Image image = Image::Of(Sample());
  EXPECT_EQ(Gather(image, u"Small"), Pattern(200, 1));
  EXPECT_EQ(Gather(image, u"Large"), Pattern(9000, 2));
  EXPECT_EQ(Gather(image, u"Dir/Inner"), Pattern(4096, 3));
  EXPECT_EQ(Gather(image, u"Dir/Tiny"), Pattern(65, 4));

  const auto fat = image.FatSectors();
  ASSERT_EQ(fat.size(), image.HeaderField(kHdrFatSectorCount));
  for (std::uint32_t s : fat) EXPECT_EQ(image.FatEntry(s), kFatSectorMark);
  EXPECT_EQ(image.DirectorySectors().size(), 2u);  // 6 entries, 4 a sector
  EXPECT_EQ(image.EntryCount(), 8u);
  EXPECT_EQ(image.Entry(*image.FindEntry(u"dir")).type, kTypeStorage);
  EXPECT_EQ(image.Entry(0).name, u"Root Entry");
  EXPECT_FALSE(image.FindEntry(u"Dir/Missing"));
  EXPECT_TRUE(image.TreeProblems().empty());
}

TEST(CfbFixture, DamageIsWhatTheReaderThenSees) {
  const Image good = Image::Of(Sample());
  const auto inner = *good.FindEntry(u"Dir/Inner");

  Image renamed = good;
  renamed.SetEntryName(inner, u"Ab");
  auto reader = CompoundFileReader::FromBytes(renamed.bytes());
  ASSERT_NE(reader, nullptr);
  const auto dir = reader->OpenStorage(kRootElement, u"Dir");
  EXPECT_TRUE(reader->OpenStream(*dir, u"AB"));
  EXPECT_FALSE(reader->OpenStream(*dir, u"Inner"));
  // The sibling tree is out of order now, which the checker tells.
  EXPECT_FALSE(renamed.TreeProblems().empty());

  Image resized = good;
  resized.SetEntrySize(inner, 4100);
  reader = CompoundFileReader::FromBytes(resized.bytes());
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->Stat(inner)->size, 4100u);

  Image scrambled = good;
  const std::uint32_t sector = good.DirectorySectors()[1];
  scrambled.ScrambleSector(sector, 7);
  for (std::size_t i = 0; i < kSectorSize; ++i)
    EXPECT_NE(scrambled.bytes()[Image::SectorOffset(sector) + i], good.bytes()[Image::SectorOffset(sector) + i]);

  Image zeroed = good;
  zeroed.ZeroMiniFat();
  EXPECT_EQ(zeroed.MiniFatEntry(0), 0u);
  EXPECT_EQ(zeroed.MiniChain(0), std::vector<std::uint32_t>{0});  // a loop, cut at the repeat
}

TEST(CfbFixture, TreeCheckerFindsColourFaults) {
  std::vector<fixture::Node> many;
  for (int i = 0; i < 10; ++i) many.push_back(fixture::Stream(u"S" + std::u16string(1, u'0' + i), "x"));
  Image image = Image::Of(fixture::Root(many));
  ASSERT_TRUE(image.TreeProblems().empty());
  const auto top = image.Entry(0).child;
  image.SetEntryColor(top, kRed);
  EXPECT_FALSE(image.TreeProblems().empty());
  image.SetEntryColor(top, kBlack);
  image.SetEntryColor(image.Entry(top).left, kRed);  // one path loses a black entry
  EXPECT_FALSE(image.TreeProblems().empty());
}

TEST(CfbFixture, ReportsWhatItCannotDo) {
  EXPECT_NONFATAL_FAILURE(fixture::Build(fixture::Root({fixture::Stream(u"S", "x").WithTimes(1, 2)})),
                          "refused S");
  EXPECT_NONFATAL_FAILURE(fixture::Build(fixture::Root({fixture::Stream(u"S", "x"), fixture::Stream(u"s", "y")})),
                          "refused");
  Image image = Image::Of(Sample());
  EXPECT_NONFATAL_FAILURE(image.ZeroSector(image.SectorCount()), "outside the file");
  EXPECT_NONFATAL_FAILURE(image.SetEntryLinks(99, 1, 1, 1), "no directory entry 99");
  EXPECT_NONFATAL_FAILURE(image.Truncate(image.bytes().size() + 1), "cannot truncate");
}

}  // namespace
