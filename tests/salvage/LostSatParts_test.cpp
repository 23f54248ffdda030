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

namespace {

// Small streams in the mini stream, and a big one; the mini SAT and the
// mini stream lie in pieces through the SAT part that is lost.
struct MiniLayout {
  const char* name;
  std::uint32_t smallStreams;
  std::vector<std::uint32_t> miniSat;  // the mini SAT's sectors, in order
  std::vector<Piece> miniStream;       // the mini stream's pieces, in order
  Piece big;
  std::size_t lostPart;
  // Mini sectors of one more stream after the others, in reverse order
  // (which no run of mini sectors gives).
  std::uint32_t tinyMini = 0;
};

constexpr std::uint32_t kSmallSize = 4000;  // 63 mini sectors each

std::vector<std::uint8_t> BuildMini(const MiniLayout& layout, fixture::Node& expected) {
  fixture::RawCfb cfb;
  cfb.AddSectors(320);
  const std::vector<std::uint8_t> filler = fixture::Pattern(320 * 512, 77);
  std::copy(filler.begin(), filler.end(), cfb.Sector(0));
  auto place = [&](const std::vector<std::uint32_t>& chain, const std::vector<std::uint8_t>& bytes) {
    for (std::size_t k = 0; k < chain.size(); ++k) {
      cfb.Link(chain[k], k + 1 < chain.size() ? chain[k + 1] : 0xFFFFFFFE);
      std::fill(cfb.Sector(chain[k]), cfb.Sector(chain[k]) + 512, 0);
      for (std::uint32_t b = 0; b < 512 && k * 512 + b < bytes.size(); ++b) cfb.Sector(chain[k])[b] = bytes[k * 512 + b];
    }
  };
  auto sectorsOf = [](const std::vector<Piece>& pieces) {
    std::vector<std::uint32_t> chain;
    for (const Piece& p : pieces)
      for (std::uint32_t k = 0; k < p.count; ++k) chain.push_back(p.first + k);
    return chain;
  };

  // The mini stream: each small stream in its own run of mini sectors.
  std::vector<fixture::Node> nodes;
  std::vector<std::uint8_t> miniStream;
  std::vector<std::uint32_t> miniSat(layout.miniSat.size() * 128, 0xFFFFFFFF);
  std::vector<std::uint32_t> sizes(layout.smallStreams, kSmallSize), starts;
  if (layout.tinyMini > 0) sizes.push_back(layout.tinyMini * 64 - 20);
  for (std::uint32_t j = 0; j < sizes.size(); ++j) {
    const std::vector<std::uint8_t> bytes = fixture::Pattern(sizes[j], 10 + j);
    nodes.push_back(fixture::Stream(u"Small" + std::u16string(1, static_cast<char16_t>(u'A' + j)), bytes));
    const auto first = static_cast<std::uint32_t>(miniStream.size() / 64);
    const std::uint32_t count = (sizes[j] + 63) / 64;
    const bool reversed = layout.tinyMini > 0 && j == layout.smallStreams;
    miniStream.resize(std::size_t{first + count} * 64, 0);
    for (std::uint32_t m = 0; m < count; ++m) {
      const std::uint32_t at = reversed ? first + count - 1 - m : first + m;
      std::copy(bytes.begin() + m * 64, bytes.begin() + std::min<std::size_t>(bytes.size(), (m + 1) * 64),
                miniStream.begin() + std::size_t{at} * 64);
      miniSat[at] = m + 1 == count ? 0xFFFFFFFE : reversed ? at - 1 : at + 1;
    }
    starts.push_back(reversed ? first + count - 1 : first);
  }
  const auto small = static_cast<std::uint32_t>(sizes.size());
  place(sectorsOf(layout.miniStream), miniStream);
  std::vector<std::uint8_t> miniSatBytes(miniSat.size() * 4);
  for (std::size_t i = 0; i < miniSat.size(); ++i)
    for (int b = 0; b < 4; ++b) miniSatBytes[4 * i + b] = static_cast<std::uint8_t>(miniSat[i] >> (8 * b));
  place(layout.miniSat, miniSatBytes);
  const std::uint32_t bigSize = layout.big.count * 512 - 50;
  const std::vector<std::uint8_t> bigBytes = fixture::Pattern(bigSize, 3);
  place(sectorsOf({layout.big}), bigBytes);
  nodes.push_back(fixture::Stream(u"Big", bigBytes));

  // The directory, in the sound second part.
  std::vector<fixture::RawEntry> entries((small + 2 + 3) / 4 * 4);
  entries[0].name = u"Root Entry";
  entries[0].type = 5;
  entries[0].child = 1;
  entries[0].start = layout.miniStream.front().first;
  entries[0].size = static_cast<std::uint32_t>(miniStream.size());
  for (std::uint32_t j = 0; j < small; ++j) {
    fixture::RawEntry& e = entries[1 + j];
    e.name = nodes[j].name;
    e.right = 2 + j;
    e.start = starts[j];
    e.size = sizes[j];
  }
  fixture::RawEntry& big = entries[1 + small];
  big.name = u"Big";
  big.start = layout.big.first;
  big.size = bigSize;
  for (std::size_t i = 2 + small; i < entries.size(); ++i) entries[i].type = 0;
  cfb.LinkRun(200, static_cast<std::uint32_t>(entries.size() / 4));
  for (std::size_t i = 0; i < entries.size(); ++i) entries[i].WriteTo(cfb.Sector(200 + static_cast<std::uint32_t>(i / 4)) + (i % 4) * 128);
  cfb.dirStart = 200;
  cfb.miniSatStart = layout.miniSat.front();
  cfb.miniSatCount = static_cast<std::uint32_t>(layout.miniSat.size());
  expected = fixture::Root(std::move(nodes));
  return cfb.Build();
}

TEST(LostSatParts, MiniStreamThroughALostPartComesBackWhole) {
  // The mini stream starts in a sound part and goes on in pieces through
  // the lost first part, around a part of the mini SAT or a big stream that
  // starts there, or that starts right after the lost part; or it starts in
  // the lost last part, whose run ends at the table's own sectors, short of
  // the small streams' starts past 255. A mini SAT part that maps few mini
  // sectors is known by where its chain lies, not by the runs it links.
  const std::vector<MiniLayout> layouts = {
      {"a mini SAT part between its pieces", 4, {3, 28}, {{130, 16}, {20, 8}, {29, 8}}, {240, 10}, 0},
      {"a big stream between its pieces", 4, {3, 4}, {{130, 16}, {20, 8}, {38, 8}}, {28, 10}, 0},
      {"starts past a short first reading", 6, {3, 4, 5}, {{300, 8}, {10, 40}}, {308, 10}, 2},
      {"a big stream right after the lost part", 4, {3, 4}, {{160, 16}, {120, 8}, {180, 8}}, {128, 10}, 0},
      {"a last mini SAT part, mapping two mini sectors, in a sound part", 4, {3, 21, 150}, {{130, 16}, {4, 17}},
       {240, 10}, 0, 6},
      {"a last mini SAT part, mapping two mini sectors, in the lost part", 4, {3, 21, 100}, {{130, 16}, {4, 17}},
       {240, 10}, 0, 6},
  };
  for (const MiniLayout& layout : layouts) {
    for (int damage = 0; damage < 2; ++damage) {
      SCOPED_TRACE(std::string(layout.name) + (damage == 0 ? ", zeroed" : ", overwritten"));
      fixture::Node expected;
      fixture::Image image(BuildMini(layout, expected));
      ASSERT_EQ(image.MiniFatSectors(), layout.miniSat);
      if (damage == 0) image.ZeroFatSector(layout.lostPart);
      else image.ScrambleFatSector(layout.lostPart, 11);
      fixture::ScratchDir scratch;
      auto run = Salvage(scratch, image.bytes());
      ASSERT_TRUE(run.repaired);
      EXPECT_EQ(salvage_test::MissingFrom(expected, *run.repaired), std::vector<std::string>{});
    }
  }
}

}  // namespace
