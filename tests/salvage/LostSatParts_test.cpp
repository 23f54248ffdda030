// A lost SAT part (zeroed or overwritten): the chains through it are rebuilt
// from what the directory still says, and the streams come back whole.
#include <gtest/gtest.h>

#include "salvage/SalvageRun.h"
#include "support/HostileFiles.h"

namespace {

using salvage_test::Salvage;

struct Piece {
  std::uint32_t first, count;
};

struct LaidOut {
  std::u16string name;
  std::vector<Piece> pieces;
  std::uint32_t size;  // bytes, within the pieces' last sector
};

// The streams of the layout, each filled with its own pattern, and a
// directory in sector 300, where the table is not damaged.
std::vector<std::uint8_t> Build(const std::vector<LaidOut>& streams, std::vector<std::vector<std::uint8_t>>& contents) {
  fixture::RawCfb cfb;
  cfb.AddSectors(320);
  std::vector<fixture::RawEntry> entries;
  fixture::RawEntry root;
  root.name = u"Root Entry";
  root.type = 5;
  root.child = 1;
  entries.push_back(root);
  for (std::size_t i = 0; i < streams.size(); ++i) {
    const LaidOut& s = streams[i];
    const std::vector<std::uint8_t> bytes = fixture::Pattern(s.size, static_cast<std::uint32_t>(i + 1));
    contents.push_back(bytes);
    std::vector<std::uint32_t> chain;
    for (const Piece& p : s.pieces)
      for (std::uint32_t k = 0; k < p.count; ++k) chain.push_back(p.first + k);
    for (std::size_t k = 0; k < chain.size(); ++k) {
      cfb.Link(chain[k], k + 1 < chain.size() ? chain[k + 1] : 0xFFFFFFFE);
      for (std::uint32_t b = 0; b < 512 && k * 512 + b < bytes.size(); ++b) cfb.Sector(chain[k])[b] = bytes[k * 512 + b];
    }
    fixture::RawEntry e;
    e.name = s.name;
    e.start = chain.front();
    e.size = s.size;
    e.right = i + 1 < streams.size() ? static_cast<std::uint32_t>(i + 2) : 0xFFFFFFFF;
    entries.push_back(e);
  }
  cfb.LinkRun(300, 2);
  cfb.dirStart = 300;
  fixture::RawEntry unused;
  unused.type = 0;
  while (entries.size() % 4 != 0) entries.push_back(unused);
  for (std::size_t i = 0; i < entries.size(); ++i) entries[i].WriteTo(cfb.Sector(300 + static_cast<std::uint32_t>(i / 4)) + (i % 4) * 128);
  return cfb.Build();
}

TEST(LostSatParts, StreamsThroughALostPartComeBackWhole) {
  // A lies in two pieces, its second beyond the lost part; B in one run
  // right after A's first piece; C runs out of the lost part into a sound
  // one; D in two pieces within the lost part, with E's run between them.
  const std::vector<LaidOut> streams = {
      {u"A", {{0, 4}, {200, 10}}, 14 * 512 - 100},
      {u"B", {{4, 37}}, 37 * 512 - 7},
      {u"C", {{60, 68}, {128, 23}}, 91 * 512 - 300},
      {u"D", {{41, 5}, {55, 5}}, 10 * 512},
      {u"E", {{46, 9}}, 9 * 512 - 1},
  };
  for (int damage = 0; damage < 2; ++damage) {
    SCOPED_TRACE(damage == 0 ? "zeroed" : "overwritten");
    std::vector<std::vector<std::uint8_t>> contents;
    fixture::Image image(Build(streams, contents));
    if (damage == 0) image.ZeroFatSector(0);
    else image.ScrambleFatSector(0, 5);
    fixture::ScratchDir scratch;
    auto run = Salvage(scratch, image.bytes());
    ASSERT_TRUE(run.repaired);
    for (std::size_t i = 0; i < streams.size(); ++i) {
      auto id = run.repaired->OpenStream(platform::kRootElement, streams[i].name);
      ASSERT_TRUE(id) << platform::Utf16ToUtf8(streams[i].name);
      std::vector<std::uint8_t> bytes;
      ASSERT_TRUE(run.repaired->ReadStream(*id, bytes));
      EXPECT_EQ(bytes, contents[i]) << platform::Utf16ToUtf8(streams[i].name);
    }
  }
}

}  // namespace
