// Damage of every kind, at random but repeatable places: the salvage ends
// with one of its results and, when it writes, a file that opens.
#include <gtest/gtest.h>

#include <random>

#include "salvage/SalvageRun.h"

namespace {

fixture::Node Sample() {
  std::vector<fixture::Node> task;
  for (int i = 0; i < 12; ++i)
    task.push_back(fixture::Stream(platform::Utf8ToUtf16("Var" + std::to_string(i)), fixture::Pattern(40 + 900 * i, i)));
  return fixture::Root({fixture::Stream(u"\1CompObj", fixture::Pattern(90, 99)),
                        fixture::Stream(u"\5SummaryInformation", fixture::Pattern(400, 98)),
                        fixture::Storage(u"   1", {fixture::Storage(u"TBkndTask", task),
                                                   fixture::Stream(u"Props", fixture::Pattern(20000, 97))})});
}

// Where the intact file keeps its parts; damage is aimed with these, since
// the damaged file's own tables may no longer say.
struct Layout {
  std::uint32_t sectors = 0;
  std::vector<std::uint32_t> fat, directory, miniFat;
  std::vector<std::size_t> entries;

  explicit Layout(const fixture::Image& image)
      : sectors(image.SectorCount()),
        fat(image.FatSectors()),
        directory(image.DirectorySectors()),
        miniFat(image.MiniFatSectors()) {
    for (std::uint32_t e = 0; e < image.EntryCount(); ++e) entries.push_back(image.EntryOffset(e));
  }
};

void Damage(fixture::Image& image, const Layout& layout, std::mt19937& random) {
  auto pick = [&](const auto& list) { return list[random() % list.size()]; };
  const auto seed = static_cast<std::uint32_t>(random());
  const auto value = static_cast<std::uint32_t>(random());
  switch (random() % 8) {
    case 0: image.ScrambleSector(static_cast<std::uint32_t>(random() % layout.sectors), seed); break;
    case 1: image.ScrambleSector(pick(layout.fat), seed); break;
    case 2: image.ScrambleSector(pick(layout.directory), seed); break;
    case 3: image.Put32((random() % 128) * 4, value); break;  // the header
    case 4: if (!layout.miniFat.empty()) image.ScrambleSector(pick(layout.miniFat), seed); break;
    case 5: image.Put32(pick(layout.entries) + 0x44 + 4 * (random() % 3), value % (layout.entries.size() + 3)); break;
    case 6: image.Put32(pick(layout.entries) + 0x74, value); break;  // start sector
    default: image.Put32(pick(layout.entries) + 0x78, value); break;  // size
  }
}

TEST(StgReaderDamage, EveryDamagedFileEndsWithAResult) {
  const std::vector<std::uint8_t> intact = fixture::Build(Sample());
  const Layout layout{fixture::Image(intact)};
  fixture::ScratchDir scratch;
  for (std::uint32_t seed = 1; seed <= 80; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    fixture::Image image{std::vector<std::uint8_t>(intact)};
    for (int n = 1 + static_cast<int>(random() % 3); n > 0; --n) Damage(image, layout, random);
    if (random() % 5 == 0) image.Truncate(1536 + random() % (intact.size() - 1536));
    auto run = salvage_test::Salvage(scratch, image.bytes());
    EXPECT_EQ(run.init, 0);
    EXPECT_TRUE(run.parse == 0 || run.parse == -1 || run.parse == -2 || run.parse == -3) << run.parse;
    if (run.parse == 0) {
      EXPECT_EQ(run.write, 0);
      EXPECT_TRUE(run.repaired);
    }
  }
}

}  // namespace
