// Sound files at the size limits of the container: streams on either side
// of the mini-stream cutoff, a file large enough that its allocation table
// is listed through more than one DIF sector, and a file of 4,096-byte
// sectors. Every stream comes back byte for byte.
#include <gtest/gtest.h>

#include <optional>

#include "salvage/SalvageRun.h"

namespace {

using salvage_test::MissingFrom;
using salvage_test::Salvage;

struct SizesCase {
  const char* name;
  std::vector<std::size_t> sizes;  // one stream each, named "S<n>"
  std::uint32_t difSectors;        // how many the written file has
};

TEST(StreamSizes, EveryStreamComesBackWhole) {
  const std::size_t kMiB = 1 << 20;
  const std::vector<SizesCase> cases = {
      {"around the mini-stream cutoff", {4095, 4096, 4097, 1, 8191, 8192}, 0},
      // 237 SAT sectors or more: 109 in the header, the rest in two DIF sectors.
      {"two DIF sectors", {5 * kMiB + 3, 5 * kMiB, 5 * kMiB + 4096, 900 * 1024, 4096, 100}, 2},
      // Entry numbers past 255 while the mini stream holds two mini sectors.
      {"many entries, a small mini stream", [] { std::vector<std::size_t> v(300, 4096); v.push_back(100); return v; }(), 0},
  };
  for (const SizesCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<fixture::Node> streams;
    for (std::size_t i = 0; i < c.sizes.size(); ++i)
      streams.push_back(fixture::Stream(u"S" + platform::Utf8ToUtf16(std::to_string(i)),
                                        fixture::Pattern(c.sizes[i], static_cast<std::uint32_t>(i + 1))));
    const fixture::Node root = fixture::Root(std::move(streams));
    fixture::Image image = fixture::Image::Of(root);
    ASSERT_EQ(image.DifatSectors().size(), c.difSectors);

    fixture::ScratchDir scratch;
    auto run = Salvage(scratch, image.bytes());
    ASSERT_TRUE(run.repaired);
    EXPECT_EQ(MissingFrom(root, *run.repaired), std::vector<std::string>{});
  }
}

// A version 4 file: 4,096-byte sectors, its header padded to one of them.
// Sectors: 0 the table, 1 the directory, 2-3 a big stream, 4 the mini
// table, 5 the mini stream holding a small one.
std::vector<std::uint8_t> Version4File(const std::vector<std::uint8_t>& big, const std::vector<std::uint8_t>& small) {
  constexpr std::size_t kSector = 4096;
  std::vector<std::uint8_t> f(7 * kSector, 0);
  auto put16 = [&](std::size_t at, std::uint16_t v) { f[at] = v & 0xFF, f[at + 1] = v >> 8; };
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) f[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  auto sector = [&](std::size_t s) { return (s + 1) * kSector; };
  const std::uint8_t signature[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::copy(std::begin(signature), std::end(signature), f.begin());
  put16(0x18, 0x3E), put16(0x1A, 4), put16(0x1C, 0xFFFE), put16(0x1E, 12), put16(0x20, 6);
  put32(0x28, 1), put32(0x2C, 1), put32(0x30, 1), put32(0x38, 4096), put32(0x3C, 4), put32(0x40, 1);
  put32(0x44, 0xFFFFFFFE);
  for (std::size_t i = 0; i < 109; ++i) put32(0x4C + 4 * i, i == 0 ? 0 : 0xFFFFFFFF);
  const std::uint32_t table[] = {0xFFFFFFFD, 0xFFFFFFFE, 3, 0xFFFFFFFE, 0xFFFFFFFE, 0xFFFFFFFE};
  for (std::size_t i = 0; i < 1024; ++i) put32(sector(0) + 4 * i, i < 6 ? table[i] : 0xFFFFFFFF);
  auto entry = [&](std::size_t n, std::u16string_view name, std::uint8_t type, std::uint32_t right,
                   std::uint32_t child, std::uint32_t start, std::uint32_t size) {
    const std::size_t at = sector(1) + 128 * n;
    for (std::size_t i = 0; i < name.size(); ++i) put16(at + 2 * i, name[i]);
    put16(at + 0x40, static_cast<std::uint16_t>(2 * (name.size() + 1)));
    f[at + 0x42] = type, f[at + 0x43] = 1;
    put32(at + 0x44, 0xFFFFFFFF), put32(at + 0x48, right), put32(at + 0x4C, child);
    put32(at + 0x74, start), put32(at + 0x78, size);
  };
  entry(0, u"Root Entry", 5, 0xFFFFFFFF, 1, 5, 128);
  entry(1, u"Big", 2, 2, 0xFFFFFFFF, 2, static_cast<std::uint32_t>(big.size()));
  entry(2, u"Small", 2, 0xFFFFFFFF, 0xFFFFFFFF, 0, static_cast<std::uint32_t>(small.size()));
  std::copy(big.begin(), big.end(), f.begin() + sector(2));
  put32(sector(4), 1), put32(sector(4) + 4, 0xFFFFFFFE);
  for (std::size_t i = 2; i < 1024; ++i) put32(sector(4) + 4 * i, 0xFFFFFFFF);
  std::copy(small.begin(), small.end(), f.begin() + sector(5));
  return f;
}

TEST(StreamSizes, Version4FilesAreReadWhole) {
  const fixture::Node root =
      fixture::Root({fixture::Stream(u"Big", fixture::Pattern(5000, 1)), fixture::Stream(u"Small", fixture::Pattern(100, 2))});
  fixture::ScratchDir scratch;
  auto run = Salvage(scratch, Version4File(root.children[0].bytes, root.children[1].bytes));
  ASSERT_TRUE(run.repaired);
  EXPECT_EQ(MissingFrom(root, *run.repaired), std::vector<std::string>{});
}

}  // namespace

namespace {

// The bytes of the stream at path in what was written, or nothing.
std::optional<std::vector<std::uint8_t>> StreamAt(const fixture::Node& node, const std::u16string& path) {
  const std::size_t slash = path.find(u'/');
  for (const fixture::Node& c : node.children)
    if (c.name == path.substr(0, slash))
      return slash == std::u16string::npos ? std::optional(c.bytes) : StreamAt(c, path.substr(slash + 1));
  return std::nullopt;
}

// A short stream's size damaged into zero or into a size its start begins
// no chain of: it comes back from its mini chain, its bytes followed by
// what the rest of its last mini sector holds. Sizes that fit their chains
// are kept, even where a big stream's start is also a mini chain's. A big
// stream's size damaged into zero: its whole chain, or what its header tells.
TEST(StreamSizes, ShortStreamWithASizeNoChainFitsIsReadFromItsMiniChain) {
  struct Case {
    const char* what;
    std::u16string path;
    std::uint64_t size;      // written into the entry
    std::size_t expected;    // bytes that come back
  };
  const std::vector<Case> cases = {
      {"zero", u"T/Small", 0, 320},
      {"a size beyond the file", u"T/Small", 0xF0000000u, 320},
      {"a size of a big stream", u"T/Small", 9000, 320},
      {"a size of a big stream, one mini sector", u"T/Tiny", 5000, 64},
      {"a big stream's size, smaller but still big: its whole chain", u"T/Big", 6000, 9216},
      {"a big stream's size damaged into zero: its whole chain", u"T/Big", 0, 9216},
      {"a big Props's size damaged into zero: the size its header gives", u"T/Props", 0, 5000},
  };
  std::vector<std::uint8_t> props = fixture::Pattern(5000, 5);  // its size less 4, twice
  fixture::Put32(props, 0, 4996), fixture::Put32(props, 4, 4996);
  const fixture::Node root = fixture::Root({fixture::Storage(
      u"T", {fixture::Stream(u"Small", fixture::Pattern(300, 1)), fixture::Stream(u"Tiny", fixture::Pattern(20, 2)),
             fixture::Stream(u"Other", fixture::Pattern(700, 3)), fixture::Stream(u"Big", fixture::Pattern(9000, 4)),
             fixture::Stream(u"Props", props)})});
  fixture::ScratchDir scratch;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fixture::Image image = fixture::Image::Of(root);
    image.SetEntrySize(*image.FindEntry(c.path), c.size);
    auto run = Salvage(scratch, image.bytes());
    ASSERT_TRUE(run.repaired);
    const fixture::Node back = fixture::ReadBack(*run.repaired);
    const auto got = StreamAt(back, c.path);
    ASSERT_TRUE(got);
    ASSERT_EQ(got->size(), c.expected);
    const auto original = *StreamAt(root, c.path);
    const std::size_t same = std::min(original.size(), got->size());
    EXPECT_TRUE(std::equal(got->begin(), got->begin() + same, original.begin()));
    // The other streams keep their bytes.
    for (const char16_t* other : {u"T/Other", u"T/Big"}) {
      if (c.path == other) continue;
      EXPECT_EQ(StreamAt(back, other), StreamAt(root, other)) << platform::Utf16ToUtf8(other);
    }
  }
}

}  // namespace
