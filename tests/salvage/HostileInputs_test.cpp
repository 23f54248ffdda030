// Files shaped to cost the salvage time or memory beyond their size: what it
// recovers from them, what it holds while doing so, and that a cancel ends
// it cleanly. (Their time and memory against the file size are measured by
// bench/hostile_bench, not here.)
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <random>
#include <span>

#include "base/LibrarySettings.h"
#include "salvage/Root.h"
#include "salvage/SalvageRun.h"
#include "salvage/ChainWalks.h"
#include "salvage/Sat.h"
#include "support/HostileFiles.h"

namespace {

using salvage_test::LogCapture;
using salvage_test::Salvage;

// The walk from s as a plain loop would take it: distinct nodes until an
// end or a repeat.
std::pair<std::uint32_t, std::uint8_t> NaiveWalk(const std::vector<std::uint32_t>& next, std::uint32_t s) {
  std::vector<bool> seen(next.size(), false);
  std::uint32_t length = 0;
  for (;;) {
    seen[s] = true;
    ++length;
    if (next[s] >= next.size()) return {length, static_cast<std::uint8_t>(next[s] - next.size())};
    s = next[s];
    if (seen[s]) return {length, salvage::kWalkCycle};
  }
}

TEST(ChainWalks, EveryWalkAsLongAsAPlainWalk) {
  // Shapes a table's links can take: runs, ends, cycles (a self link, a
  // cycle with tails), chains that join, and random tables. A value of
  // count + c ends the walk with stop code c.
  std::vector<std::vector<std::uint32_t>> tables = {
      {1, 2, 3, 4 + 1},              // one run to an end
      {0},                           // a sector linked to itself
      {1, 2, 0, 0, 3},               // a cycle with a tail of two
      {2, 2, 3, 4 + 2},              // two chains that join
      {1, 0, 1, 2, 3, 4},            // a long tail into a cycle of two
      {3 + 7, 3 + 9, 0},             // two ends with their own codes
  };
  std::mt19937 random(7);
  for (int t = 0; t < 40; ++t) {
    const std::uint32_t count = 1 + random() % 60;
    std::vector<std::uint32_t> table(count);
    for (std::uint32_t& v : table) v = random() % 5 == 0 ? count + random() % 3 : random() % count;
    tables.push_back(table);
  }
  for (const auto& table : tables) {
    const auto count = static_cast<std::uint32_t>(table.size());
    const salvage::ChainWalks walks =
        salvage::WalkAllChains(count, [&](std::uint32_t s, std::uint32_t& next, std::uint8_t& stop) {
          if (table[s] < count) {
            next = table[s];
            return true;
          }
          stop = static_cast<std::uint8_t>(table[s] - count);
          return false;
        });
    for (std::uint32_t s = 0; s < count; ++s) {
      const auto [length, stop] = NaiveWalk(table, s);
      EXPECT_EQ(walks.length[s], length) << "table of " << count << ", sector " << s;
      EXPECT_EQ(walks.stop[s], stop) << "table of " << count << ", sector " << s;
    }
  }
}

// Entry n's bytes, or nothing.
std::optional<std::span<const std::uint8_t>> DataOf(CStgReader& reader, std::uint32_t n) {
  const salvage::DirItem* item = reader.Root()->GetEntry(n);
  if (!item) return std::nullopt;
  return item->Content();
}

// The bytes copied out for the streams (views of the file cost nothing).
std::uint64_t HeldBytes(CStgReader& reader) {
  std::uint64_t held = 0;
  for (std::uint32_t n = 0; n < reader.Root()->EntryCount(); ++n) held += reader.Root()->GetEntry(n)->data.size();
  return held;
}

struct Parsed {
  std::unique_ptr<CStgReader> reader;
  int parse = 0;
};

Parsed ParseOnly(const fixture::ScratchDir& scratch, const std::vector<std::uint8_t>& bytes) {
  Parsed p;
  const std::string input = scratch.File("input.cfb");
  EXPECT_TRUE(fixture::WriteFile(input, bytes));
  p.reader = std::make_unique<CStgReader>(salvage_test::TestRun());
  EXPECT_EQ(p.reader->Init(platform::Utf8ToUtf16(input)), 0);
  p.parse = p.reader->ParseData();
  return p;
}

TEST(HostileInputs, EntriesSharingOneChainHoldItsBytesAtMostTwiceTheFile) {
  fixture::ScratchDir scratch;
  const auto bytes = fixture::SharedChainFile(192 << 10);
  LogCapture log(scratch);
  Parsed p = ParseOnly(scratch, bytes);
  ASSERT_EQ(p.parse, 0);
  // The first entry gets the whole chain, byte for byte.
  const auto first = DataOf(*p.reader, 1);
  ASSERT_TRUE(first);
  const std::size_t chainBytes = first->size();
  ASSERT_GE(chainBytes, 64u << 10);
  EXPECT_TRUE(std::equal(first->begin(), first->end(), bytes.begin() + 512));
  // Later ones share it only as far as the budget goes, and are cut, not
  // filled with other bytes.
  EXPECT_LE(HeldBytes(*p.reader), 2 * bytes.size());
  std::size_t cut = 0;
  for (std::uint32_t n = 2; n < p.reader->Root()->EntryCount(); ++n) {
    const std::span<const std::uint8_t> data = *DataOf(*p.reader, n);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), first->begin())) << "entry " << n;
    cut += data.size() < chainBytes;
  }
  EXPECT_GT(cut, 0u);
  EXPECT_EQ(p.reader->State().stats.damagedElements, cut);
  const std::vector<std::string> lines = log.Lines();
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
    return line.find("Stream shares its sectors with streams read before it") != std::string::npos;
  }));
}

TEST(HostileInputs, SmallStreamsOfOneLongMiniChainReadTheirOwnSectors) {
  fixture::ScratchDir scratch;
  const auto bytes = fixture::MiniChainFile(96 << 10);
  Parsed p = ParseOnly(scratch, bytes);
  ASSERT_EQ(p.parse, 0);
  ASSERT_GT(p.reader->Root()->EntryCount(), 100u);
  // Every small stream starts at mini sector 0, which is the mini stream's
  // first 64 bytes: the file's first sector after the header.
  const std::vector<std::uint8_t> expected(bytes.begin() + 512, bytes.begin() + 512 + 100);
  for (std::uint32_t n = 1; n < p.reader->Root()->EntryCount(); ++n) {
    const salvage::DirItem* item = p.reader->Root()->GetEntry(n);
    ASSERT_EQ(item->Size(), 100u) << "entry " << n;
    ASSERT_GE(item->Content().size(), 100u) << "entry " << n;
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), item->Content().begin())) << "entry " << n;
  }
}

TEST(HostileInputs, DirectoryScanKeepsEveryDirectoryLikeSectorOnce) {
  fixture::ScratchDir scratch;
  const auto bytes = fixture::DirectoryScanFile(64 << 10);
  Parsed p = ParseOnly(scratch, bytes);
  ASSERT_EQ(p.parse, 0);
  // The header's sector, then every other sector of the long chain, each
  // once; the chain's first sector leads (it runs furthest through them).
  const auto& chain = p.reader->Root()->RootChain().sectors;
  ASSERT_GT(chain.size(), 10u);
  EXPECT_EQ(chain[0], 0u);
  std::vector<std::uint32_t> sorted(chain.begin(), chain.end());
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());
  for (std::size_t i = 1; i < chain.size(); ++i) EXPECT_EQ(chain[i] % 2, 1u) << chain[i];
  // Every sector keeps its four places: the header's sector two entries
  // and two places of entries it could not read, the others four unused
  // entries.
  EXPECT_EQ(p.reader->Root()->EntryCount(), 4 * chain.size());
}

TEST(HostileInputs, ChainsFollowedInPartAreTheWholeChainsPrefix) {
  fixture::ScratchDir scratch;
  fixture::Image image = fixture::Image::Of(fixture::Root({fixture::Stream(u"Big", fixture::Pattern(40000, 4))}));
  const auto expected = image.StreamChain(u"Big");
  Parsed p = ParseOnly(scratch, image.bytes());
  ASSERT_EQ(p.parse, 0);
  salvage::CSat& sat = *p.reader->Sat();
  salvage::Chain whole, part;
  sat.FollowChain(expected.front(), whole);
  EXPECT_EQ(whole.sectors, expected);
  EXPECT_TRUE(whole.chainEnded);
  for (std::size_t limit : {std::size_t{0}, std::size_t{1}, std::size_t{7}, expected.size(), expected.size() + 5}) {
    sat.FollowChain(expected.front(), part, limit);
    EXPECT_EQ(part.length, expected.size());
    EXPECT_EQ(part.chainEnded, whole.chainEnded);
    ASSERT_EQ(part.sectors.size(), std::min(limit, expected.size()));
    EXPECT_TRUE(std::equal(part.sectors.begin(), part.sectors.end(), expected.begin()));
    if (limit == 0) continue;
    while (sat.ExtendChain(part)) {
    }
    EXPECT_EQ(part.sectors, expected) << "extended from " << limit;
  }
}

// A cancel, whenever it comes, ends the salvage with its code and leaves no
// file behind.
TEST(HostileInputs, CancelledSalvageEndsWithItsCodeAndLeavesNothing) {
  unsigned char cancel = 0;
  salvage_test::SharedRun().settings.breakFlag = &cancel;
  for (const fixture::HostileShape& shape : fixture::HostileShapes()) {
    SCOPED_TRACE(shape.name);
    fixture::ScratchDir scratch;
    salvage_test::SharedRun().settings.workFolder = platform::Utf8ToUtf16(scratch.path());
    const std::string input = scratch.File("input.cfb");
    ASSERT_TRUE(fixture::WriteFile(input, shape.make(64 << 10)));
    for (int stage = 0; stage < 2; ++stage) {
      cancel = 0;
      CStgReader reader(salvage_test::TestRun());
      ASSERT_EQ(reader.Init(platform::Utf8ToUtf16(input)), 0);
      if (stage == 0) cancel = 1;
      const int parse = reader.ParseData();
      if (stage == 0) {
        EXPECT_EQ(parse, -1000);
        continue;
      }
      cancel = 1;
      EXPECT_EQ(reader.WriteData(scratch.WideFile("repaired.cfb")), -1000);
    }
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(scratch.path()))
      files += entry.path().filename() != "input.cfb";
    EXPECT_EQ(files, 0u);
  }
  salvage_test::SharedRun().settings.breakFlag = nullptr;
}

TEST(HostileInputs, TableBoundsCoverTheLargestFiles) {
  // A file just below 2 GB needs 258 DIF sectors after the header's 109
  // SAT sectors; the bound must let the header's count be read whole.
  struct Case {
    std::int64_t size;
    std::uint32_t difSectors;
  };
  for (const Case c : {Case{1 << 20, 0}, Case{(109LL * 128 + 1) * 512 + 512, 1}, Case{2147483647LL - 512, 258}}) {
    const salvage::FileBounds b = salvage::FileBounds::ForFileSize(c.size);
    EXPECT_GE(b.needDifSectors, c.difSectors) << c.size;
    EXPECT_EQ(salvage::TruncateByBound(c.difSectors, b.needDifSectors), c.difSectors) << c.size;
  }
}

}  // namespace
