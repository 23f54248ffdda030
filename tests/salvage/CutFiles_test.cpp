// Files cut short. The file is laid out as the application lays out its
// own: the first table sector and the first directory sector near the
// start, the rest of the directory, of the mini stream and of the table
// further on, so that a cut takes some of each. Everything before the cut
// comes back; a stream the cut goes through comes back up to it; the log
// and the run's report say that the file was cut and at which size.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "salvage/SalvageRun.h"

namespace {

using salvage_test::LogCapture;
using salvage_test::Salvage;

constexpr std::size_t kSector = 512;
constexpr std::uint32_t kSectors = 200;
constexpr std::uint32_t kFree = 0xFFFFFFFF, kEnd = 0xFFFFFFFE, kFatMark = 0xFFFFFFFD;

std::size_t At(std::uint32_t sector) { return (std::size_t{sector} + 1) * kSector; }

// A file of kSectors sectors written byte by byte: a header listing the
// table sectors 0 and second, the directory from sector 1, and entries.
struct Bytes {
  std::vector<std::uint8_t> f = std::vector<std::uint8_t>(At(kSectors), 0);
  void Put16(std::size_t at, std::uint16_t v) { f[at] = v & 0xFF, f[at + 1] = v >> 8; }
  void Put32(std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) f[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
  void Header(std::uint32_t second, std::uint32_t miniTable) {
    const std::uint8_t signature[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::copy(std::begin(signature), std::end(signature), f.begin());
    Put16(0x18, 0x3E), Put16(0x1A, 3), Put16(0x1C, 0xFFFE), Put16(0x1E, 9), Put16(0x20, 6);
    Put32(0x2C, 2), Put32(0x30, 1), Put32(0x38, 4096), Put32(0x3C, miniTable), Put32(0x40, miniTable == kEnd ? 0 : 1);
    Put32(0x44, kEnd);
    for (std::size_t i = 0; i < 109; ++i) Put32(0x4C + 4 * i, i == 0 ? 0 : i == 1 ? second : kFree);
  }
  void Table(std::uint32_t sector, const std::uint32_t* values) {
    for (std::size_t i = 0; i < 128; ++i) Put32(At(sector) + 4 * i, values[i]);
  }
  void Entry(std::size_t at, std::u16string_view name, std::uint8_t type, std::uint32_t left, std::uint32_t right,
             std::uint32_t child, std::uint32_t start, std::uint32_t size) {
    for (std::size_t i = 0; i < name.size(); ++i) Put16(at + 2 * i, name[i]);
    Put16(at + 0x40, static_cast<std::uint16_t>(2 * (name.size() + 1)));
    f[at + 0x42] = type, f[at + 0x43] = 1;
    Put32(at + 0x44, left), Put32(at + 0x48, right), Put32(at + 0x4C, child);
    Put32(at + 0x74, start), Put32(at + 0x78, size);
  }
};

// Where each stream lies: big ones from a first sector on, one sector after
// the other; small ones from a first mini sector on, likewise.
struct Placed {
  const char* path;
  std::size_t size;
  std::uint32_t first;
  bool mini;
};
// Sectors: 0 and 199 the table, 1 and 150 the directory, 2 the mini table,
// 3, 4, 160 and 161 the mini stream (26 mini sectors).
const std::vector<Placed> kStreams = {
    {"m1", 300, 0, true},           {"Alpha", 20000, 10, false},      {"Store/Beta", 20480, 100, false},
    {"Store/m2", 500, 5, true},     {"Store/m3", 600, 16, true},      {"Store/Gamma", 10000, 170, false},
};
const std::vector<std::uint32_t> kMiniStreamSectors = {3, 4, 160, 161};

std::vector<std::uint8_t> Content(std::size_t index) {
  return fixture::Pattern(kStreams[index].size, static_cast<std::uint32_t>(index + 1));
}

std::vector<std::uint8_t> LaidOutFile() {
  Bytes b;
  std::vector<std::uint8_t>& f = b.f;
  b.Header(199, 2);

  std::vector<std::uint32_t> fat(256, kFree), minifat(128, kFree);
  auto chain = [](std::vector<std::uint32_t>& table, const std::vector<std::uint32_t>& sectors) {
    for (std::size_t i = 0; i < sectors.size(); ++i) table[sectors[i]] = i + 1 < sectors.size() ? sectors[i + 1] : kEnd;
  };
  fat[0] = fat[199] = kFatMark;
  chain(fat, {1, 150});
  chain(fat, {2});
  chain(fat, kMiniStreamSectors);
  std::vector<std::uint8_t> miniStream(kMiniStreamSectors.size() * kSector, 0);
  for (std::size_t n = 0; n < kStreams.size(); ++n) {
    const Placed& s = kStreams[n];
    const std::size_t unit = s.mini ? 64 : kSector;
    std::vector<std::uint32_t> run((s.size + unit - 1) / unit);
    for (std::size_t i = 0; i < run.size(); ++i) run[i] = s.first + static_cast<std::uint32_t>(i);
    chain(s.mini ? minifat : fat, run);
    const auto bytes = Content(n);
    if (s.mini)
      std::copy(bytes.begin(), bytes.end(), miniStream.begin() + s.first * 64);
    else
      std::copy(bytes.begin(), bytes.end(), f.begin() + At(s.first));
  }
  for (std::size_t i = 0; i < kMiniStreamSectors.size(); ++i)
    std::copy(miniStream.begin() + i * kSector, miniStream.begin() + (i + 1) * kSector, f.begin() + At(kMiniStreamSectors[i]));
  b.Table(0, fat.data()), b.Table(199, fat.data() + 128), b.Table(2, minifat.data());
  // Entries 0-3 in sector 1, 4-7 in sector 150. Store, reached as m1's
  // sibling, has entry 6 as its child: past the first sector's entries.
  auto entry = [&](std::uint32_t n, std::u16string_view name, std::uint8_t type, std::uint32_t left, std::uint32_t right,
                   std::uint32_t child, std::uint32_t start, std::uint32_t size) {
    b.Entry(At(n < 4 ? 1 : 150) + 128 * (n % 4), name, type, left, right, child, start, size);
  };
  entry(0, u"Root Entry", 5, kFree, kFree, 2, 3, 26 * 64);
  entry(1, u"Store", 1, kFree, kFree, 6, 0, 0);
  entry(2, u"m1", 2, 1, 3, kFree, 0, 300);
  entry(3, u"Alpha", 2, kFree, kFree, kFree, 10, 20000);
  entry(4, u"Beta", 2, kFree, 5, kFree, 100, 20480);
  entry(5, u"m2", 2, kFree, kFree, kFree, 5, 500);
  entry(6, u"m3", 2, 4, 7, kFree, 16, 600);
  entry(7, u"Gamma", 2, kFree, kFree, kFree, 170, 10000);
  return f;
}

// The streams of a rebuilt file by path ("Store/m2").
void Flatten(const fixture::Node& node, const std::string& path, std::map<std::string, std::vector<std::uint8_t>>& out,
             std::vector<std::string>& storages) {
  for (const fixture::Node& child : node.children) {
    const std::string where = (path.empty() ? "" : path + "/") + platform::Utf16ToUtf8(child.name);
    if (child.isStorage) {
      storages.push_back(where);
      Flatten(child, where, out, storages);
    } else {
      out[where] = child.bytes;
    }
  }
}

struct CutCase {
  const char* name;
  std::size_t size;  // the file is cut to this many bytes
  // Per stream of kStreams: how many of its first bytes come back (its
  // size: whole; 0: none).
  std::vector<std::size_t> kept;
};

TEST(CutFiles, WhatLiesBeforeTheCutComesBackAndTheCutIsReported) {
  const std::size_t whole = At(kSectors);
  const std::vector<CutCase> cases = {
      // The table's second sector, which maps sectors 128 on, is lost: its
      // links are taken as runs, and every stream is whole.
      {"inside the table", At(199) + 256, {300, 20000, 20480, 500, 600, 10000}},
      // Gamma runs from sector 170: ten whole sectors and 100 bytes before the cut.
      {"inside a stream", At(180) + 100, {300, 20000, 20480, 500, 600, 10 * kSector + 100}},
      // m3 lies in mini sectors 16-25: 16-23 in sector 160, 24 in the
      // first 100 bytes of sector 161 that the cut leaves.
      {"inside the mini stream", At(161) + 100, {300, 20000, 20480, 500, 9 * 64, 0}},
      // Entries 4 to 7 are gone with the directory's second sector.
      {"inside the directory", At(150) + 64, {300, 20000, 0, 0, 0, 0}},
  };
  const std::vector<std::uint8_t> intact = LaidOutFile();
  for (const CutCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> bytes(intact.begin(), intact.begin() + static_cast<std::ptrdiff_t>(c.size));
    fixture::ScratchDir scratch;
    LogCapture log(scratch);
    const std::size_t rowsBefore = salvage_test::SharedRun().report.Items().size();
    auto run = Salvage(scratch, bytes);
    ASSERT_TRUE(run.repaired);

    std::map<std::string, std::vector<std::uint8_t>> streams;
    std::vector<std::string> storages;
    Flatten(fixture::ReadBack(*run.repaired), "", streams, storages);
    EXPECT_NE(std::find(storages.begin(), storages.end(), "Store"), storages.end());
    for (std::size_t n = 0; n < kStreams.size(); ++n) {
      SCOPED_TRACE(kStreams[n].path);
      const auto found = streams.find(kStreams[n].path);
      const std::size_t got = found == streams.end() ? 0 : found->second.size();
      EXPECT_EQ(got, c.kept[n]);
      const auto expected = Content(n);
      if (got > 0 && got <= expected.size()) {
        EXPECT_TRUE(std::equal(found->second.begin(), found->second.end(), expected.begin()));
      }
    }
    // Nothing but the streams and the one storage.
    std::size_t present = 0;
    for (std::size_t kept : c.kept) present += kept > 0;
    EXPECT_EQ(streams.size(), present);

    const std::string sizes = std::to_string(c.size) + " of " + std::to_string(whole);
    EXPECT_TRUE(log.Has("File was cut: " + std::to_string(c.size) + " bytes of the " + std::to_string(whole) +
                        " its header and tables account for"));
    const auto& items = salvage_test::SharedRun().report.Items();
    EXPECT_EQ(items.size(), rowsBefore + 1);
    if (items.size() <= rowsBefore) continue;
    EXPECT_EQ(items.back().name, u"File cut");
    EXPECT_EQ(items.back().value, platform::Utf8ToUtf16(sizes + " bytes"));
    EXPECT_EQ(items.back().status, u"lost");
  }
}

// Files that are not shorter than their tables say are not reported cut:
// the whole file, and one with bytes appended.
TEST(CutFiles, WholeAndLengthenedFilesAreNotReportedCut) {
  std::vector<std::uint8_t> longer = LaidOutFile();
  longer.insert(longer.end(), 3000, 0xA5);
  for (const auto& bytes : {LaidOutFile(), longer}) {
    fixture::ScratchDir scratch;
    const std::size_t rowsBefore = salvage_test::SharedRun().report.Items().size();
    auto run = Salvage(scratch, bytes);
    ASSERT_TRUE(run.repaired);
    EXPECT_EQ(salvage_test::SharedRun().report.Items().size(), rowsBefore);
    EXPECT_EQ(run.reader->State().cutAt, 0u);
    std::map<std::string, std::vector<std::uint8_t>> streams;
    std::vector<std::string> storages;
    Flatten(fixture::ReadBack(*run.repaired), "", streams, storages);
    for (std::size_t n = 0; n < kStreams.size(); ++n) EXPECT_EQ(streams[kStreams[n].path], Content(n)) << kStreams[n].path;
  }
}

// A table part that lies before the cut while most of the sectors it maps
// lie past it: its links run past the end, so it reads as no table, but it
// marks itself where it sits and the header lists it. Sectors: 0 and 128
// the table, 1 the directory, Early over 2-127, Long over 129-199.
std::vector<std::uint8_t> TwoPartFile(const std::vector<std::uint8_t>& early, const std::vector<std::uint8_t>& long_) {
  Bytes b;
  b.Header(128, kEnd);
  std::vector<std::uint32_t> fat(256, kFree);
  auto run = [&](std::uint32_t first, std::uint32_t last, const std::vector<std::uint8_t>& bytes) {
    for (std::uint32_t s = first; s <= last; ++s) fat[s] = s < last ? s + 1 : kEnd;
    std::copy(bytes.begin(), bytes.end(), b.f.begin() + At(first));
  };
  run(2, 127, early);
  run(129, 199, long_);
  fat[0] = fat[128] = kFatMark;
  fat[1] = kEnd;
  b.Table(0, fat.data()), b.Table(128, fat.data() + 128);
  b.Entry(At(1), u"Root Entry", 5, kFree, kFree, 1, kEnd, 0);
  b.Entry(At(1) + 128, u"Early", 2, kFree, 2, kFree, 2, static_cast<std::uint32_t>(early.size()));
  b.Entry(At(1) + 256, u"Long", 2, kFree, kFree, kFree, 129, static_cast<std::uint32_t>(long_.size()));
  return b.f;
}

TEST(CutFiles, ATablePartBeforeTheCutStaysThoughItsLinksRunPastIt) {
  const std::vector<std::uint8_t> early = fixture::Pattern(126 * kSector, 7), long_ = fixture::Pattern(71 * kSector, 8);
  const std::vector<std::uint8_t> intact = TwoPartFile(early, long_);
  struct Case {
    std::size_t size;
    std::size_t kept;  // Long's bytes that come back: from sector 129 up to the cut
  };
  for (const Case& c : {Case{At(150), 21 * kSector}, Case{At(180) + 300, 51 * kSector + 300}}) {
    SCOPED_TRACE(c.size);
    fixture::ScratchDir scratch;
    auto run = Salvage(scratch, std::vector<std::uint8_t>(intact.begin(), intact.begin() + static_cast<std::ptrdiff_t>(c.size)));
    ASSERT_TRUE(run.repaired);
    std::map<std::string, std::vector<std::uint8_t>> streams;
    std::vector<std::string> storages;
    Flatten(fixture::ReadBack(*run.repaired), "", streams, storages);
    EXPECT_EQ(streams["Early"], early);
    ASSERT_EQ(streams["Long"].size(), c.kept);
    EXPECT_TRUE(std::equal(streams["Long"].begin(), streams["Long"].end(), long_.begin()));
    EXPECT_EQ(run.reader->State().cutAt, c.size);
  }
}

}  // namespace
