// Sectors whose contents changed places: the values the table streams must
// hold there (a meta stream's magic, a Var2Data value's length) name the
// pair, swapped back before any stream is read; values that several
// sectors hold, damage of another kind, or a swap that would spoil a sound
// stream, decide nothing.
#include <gtest/gtest.h>

#include <algorithm>

#include "salvage/Layout.h"
#include "salvage/SalvageRun.h"
#include "salvage/SectorSwaps.h"

namespace {

using salvage::kSectorSize;
constexpr std::uint32_t kMagic = 0xFADFADBA;

using fixture::Put32;

void SwapSectors(fixture::Image& image, std::uint32_t a, std::uint32_t b) {
  auto& bytes = image.bytes();
  const auto at = [&](std::uint32_t s) { return bytes.begin() + static_cast<std::ptrdiff_t>(image.SectorOffset(s)); };
  std::swap_ranges(at(a), at(a) + kSectorSize, at(b));
}

// A task table whose VarMeta names 12 values of 60 bytes in its Var2Data,
// and the project's Props: a sector of the mini stream (where FixedMeta
// begins, or one that holds only Var2Data values) swapped with one of Props.
TEST(SectorSwaps, ATableSectorSwappedWithAnotherStreamsComesBack) {
  constexpr std::uint32_t kValues = 12;
  std::vector<std::uint8_t> varMeta(24 + 8 * kValues, 0), var2Data(64 * kValues, 0x5A);
  Put32(varMeta, 0, kMagic);
  Put32(varMeta, 8, kValues);
  Put32(varMeta, 20, static_cast<std::uint32_t>(var2Data.size()));
  for (std::uint32_t i = 0; i < kValues; ++i) {
    Put32(varMeta, 24 + 8 * i, i + 1);
    Put32(varMeta, 24 + 8 * i + 4, 64 * i);
    Put32(var2Data, 64 * i, 60);
  }
  std::vector<std::uint8_t> fixedMeta = fixture::Pattern(600, 1);
  Put32(fixedMeta, 0, kMagic);
  const fixture::Node root = fixture::Root({fixture::Storage(
      u"   1", {fixture::Storage(u"TBkndTask", {fixture::Stream(u"VarMeta", varMeta),
                                                 fixture::Stream(u"Var2Data", var2Data),
                                                 fixture::Stream(u"FixedMeta", fixedMeta)}),
               fixture::Stream(u"Props", fixture::Pattern(9000, 4))})});
  const fixture::Image intact = fixture::Image::Of(root);
  auto miniSectorOf = [&](std::u16string_view path, std::uint32_t piece) {
    const std::uint32_t start = intact.Entry(intact.FindEntry(path).value()).start;
    return intact.MiniStreamSectors().at(intact.MiniChain(start).at(piece) / 8);
  };
  const std::uint32_t fixedMetaHead = miniSectorOf(u"   1/TBkndTask/FixedMeta", 0);
  const std::uint32_t varMetaHead = miniSectorOf(u"   1/TBkndTask/VarMeta", 0);
  std::uint32_t valuesOnly = fixedMetaHead;
  for (std::uint32_t piece = 0; piece < kValues && (valuesOnly == fixedMetaHead || valuesOnly == varMetaHead); ++piece)
    valuesOnly = miniSectorOf(u"   1/TBkndTask/Var2Data", piece);
  ASSERT_NE(valuesOnly, fixedMetaHead);
  ASSERT_NE(valuesOnly, varMetaHead);
  for (std::uint32_t sector : {fixedMetaHead, valuesOnly}) {
    SCOPED_TRACE(sector == fixedMetaHead ? "where FixedMeta begins" : "Var2Data values only");
    fixture::Image image = intact;
    SwapSectors(image, sector, image.StreamChain(u"   1/Props").at(2));
    fixture::ScratchDir scratch;
    auto run = salvage_test::Salvage(scratch, image.bytes());
    ASSERT_TRUE(run.repaired);
    EXPECT_EQ(salvage_test::MissingFrom(root, *run.repaired), std::vector<std::string>{});
  }
}

struct SwapCase {
  const char* name;
  // Per sector of the image (0..5): the u32s written there (byte offset,
  // value), and the heads the streams say.
  std::vector<std::vector<std::pair<std::uint32_t, std::uint32_t>>> values;
  std::vector<salvage::SectorHead> heads;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> swaps;
  std::vector<std::uint32_t> zeroed = {};  // sectors whose bytes are all zero
};

TEST(SectorSwaps, OnlyTheOneSectorThatMendsBothSidesIsAPartner) {
  const std::vector<SwapCase> cases = {
      {"every head holds", {{{0, kMagic}}, {}, {{192, kMagic}}}, {{0, 0, kMagic}, {2, 192, kMagic}}, {}},
      {"one sector holds the lost head", {{}, {}, {}, {{128, kMagic}}}, {{1, 128, kMagic}}, {{1, 3}}},
      {"two sectors hold it", {{}, {{128, kMagic}}, {}, {{128, kMagic}}}, {{0, 128, kMagic}}, {}},
      // Sector 3 holds the magic at 0 as its own stream's head: taking its
      // bytes away would spoil that stream.
      {"the holder's own head stays", {{}, {}, {}, {{0, kMagic}}}, {{1, 0, kMagic}, {3, 0, kMagic}}, {}},
      // Both sectors lost their heads to each other.
      {"both sides lack their heads",
       {{}, {{0, kMagic}}, {}, {{320, kMagic}}},
       {{1, 320, kMagic}, {3, 0, kMagic}},
       {{1, 3}}},
      // Sector 4 could mend sector 3 as well as sector 1 does.
      {"the partner's head is held elsewhere too",
       {{}, {{0, kMagic}}, {}, {{320, kMagic}}, {{0, kMagic}}},
       {{1, 320, kMagic}, {3, 0, kMagic}},
       {}},
      // Lengths inside a data stream: a partner must hold every one.
      {"all the values of a sector", {{}, {}, {{102, 18}, {124, 40}}, {}, {{102, 18}}},
       {{0, 102, 18}, {0, 124, 40}}, {{0, 2}}},
      // Sector 1's bytes are gone with its neighbour's, not moved; or a
      // byte of its head changed in place. A sector of zeros alone may
      // have been another stream's.
      {"a zeroed run of sectors", {{}, {}, {}, {{128, kMagic}}}, {{1, 128, kMagic}}, {}, {1, 2}},
      {"a sector of zeros alone", {{}, {}, {}, {{128, kMagic}}}, {{1, 128, kMagic}}, {{1, 3}}, {1}},
      {"a head changed in one byte", {{}, {{128, kMagic ^ 0x100}}, {}, {{128, kMagic}}}, {{1, 128, kMagic}}, {}},
      {"a sector that holds most of its heads",
       {{{102, 18}, {124, 40}, {200, 0x12345678}}, {}, {{102, 18}, {124, 40}, {200, 7}}},
       {{0, 102, 18}, {0, 124, 40}, {0, 200, 7}},
       {}},
  };
  for (const SwapCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> bytes = fixture::Pattern(6 * kSectorSize, 5);
    for (std::uint32_t s : c.zeroed) std::fill_n(bytes.begin() + s * kSectorSize, kSectorSize, 0);
    std::vector<salvage::SectorPlace> inUse;
    for (std::uint32_t s = 0; s < 6; ++s) inUse.push_back({s, std::uint64_t{s} * kSectorSize});
    for (std::size_t s = 0; s < c.values.size(); ++s)
      for (const auto& [offset, value] : c.values[s]) Put32(bytes, s * kSectorSize + offset, value);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> found;
    for (const salvage::SectorSwap& s :
         salvage::FindSwappedSectors(salvage::ImageView(bytes.data(), bytes.size()), inUse, c.heads))
      found.emplace_back(std::min(s.a, s.b), std::max(s.a, s.b));
    EXPECT_EQ(found, c.swaps);
  }
}

}  // namespace
