// A lost SAT part that held the directory's own links: the directory's
// sectors are found again by their entries, in the order the entries' ids
// require, and sectors that merely look like directory entries are left out.
#include <gtest/gtest.h>

#include <algorithm>

#include "salvage/SalvageRun.h"
#include "support/HostileFiles.h"

namespace {

using salvage_test::LogCapture;
using salvage_test::Salvage;

constexpr std::uint32_t kStorages = 12;
constexpr std::uint32_t kFirstStreamSector = 140;  // in the second SAT part, which stays sound

// What the sector after the directory's second holds, or the sector after
// its last.
enum class Decoy {
  kNone,
  kNamesANamedEntry,    // an entry names an id another entry already names
  kFreeWhereNamed,      // a free entry where an earlier entry names one
  kStaleAfterTheEnd,    // entries that fit, after a directory that is whole
  kCopyOfPosition5,     // a copy of the directory's sixth sector
};

struct Case {
  const char* name;
  std::vector<std::uint32_t> directory;  // the chain's sectors, in order
  Decoy decoy;
  std::uint32_t decoyAt;
  std::size_t lostPart = 0;  // the SAT part that is lost
};

std::uint32_t StreamSize(std::uint32_t i) { return 4096 + 37 * i; }

fixture::RawEntry Storage(std::u16string name, std::uint32_t right, std::uint32_t child) {
  fixture::RawEntry e;
  e.name = std::move(name);
  e.type = 1;
  e.right = right;
  e.child = child;
  return e;
}

// Root (0) names storage 1; storage i names storage i + 1 and its stream
// 12 + i; each stream fills nine sectors of the sound second part; the
// sectors of the first part that hold no directory entries hold bytes
// that read as none.
std::vector<std::uint8_t> Build(const Case& c, fixture::Node& expected) {
  fixture::RawCfb cfb;
  cfb.AddSectors(320);
  const std::vector<std::uint8_t> filler = fixture::Pattern(128 * 512, 99);
  std::copy(filler.begin(), filler.end(), cfb.Sector(0));

  std::vector<fixture::RawEntry> entries;
  fixture::RawEntry root;
  root.name = u"Root Entry";
  root.type = 5;
  root.child = 1;
  entries.push_back(root);
  std::vector<fixture::Node> storages;
  for (std::uint32_t i = 1; i <= kStorages; ++i) {
    const std::u16string name = u"S" + std::u16string(1, static_cast<char16_t>(u'A' + i));
    entries.push_back(Storage(name, i < kStorages ? i + 1 : 0xFFFFFFFF, kStorages + i));
    const std::vector<std::uint8_t> bytes = fixture::Pattern(StreamSize(i), i);
    storages.push_back(fixture::Storage(name, {fixture::Stream(u"Data", bytes)}));
  }
  for (std::uint32_t i = 1; i <= kStorages; ++i) {
    const std::uint32_t first = kFirstStreamSector + 9 * (i - 1);
    cfb.LinkRun(first, 9);
    const std::vector<std::uint8_t> bytes = fixture::Pattern(StreamSize(i), i);
    for (std::uint32_t k = 0; k < 9; ++k)
      std::fill(cfb.Sector(first + k), cfb.Sector(first + k) + 512, 0);
    std::copy(bytes.begin(), bytes.end(), cfb.Sector(first));
    fixture::RawEntry e;
    e.name = u"Data";
    e.type = 2;
    e.start = first;
    e.size = StreamSize(i);
    entries.push_back(e);
  }
  fixture::RawEntry unused;
  unused.type = 0;
  while (entries.size() < 4 * c.directory.size()) entries.push_back(unused);
  for (std::size_t n = 0; n < c.directory.size(); ++n) {
    cfb.Link(c.directory[n], n + 1 < c.directory.size() ? c.directory[n + 1] : 0xFFFFFFFE);
    for (std::size_t i = 0; i < 4; ++i) entries[4 * n + i].WriteTo(cfb.Sector(c.directory[n]) + i * 128);
  }
  cfb.dirStart = c.directory.front();

  std::vector<fixture::RawEntry> decoy;
  switch (c.decoy) {
    case Decoy::kNone: break;
    case Decoy::kNamesANamedEntry:
      // Fits but for its third entry, which names storage 5 (named by storage 4).
      decoy = {Storage(u"X1", 0xFFFFFFFF, 0xFFFFFFFF), Storage(u"X2", 0xFFFFFFFF, 0xFFFFFFFF),
               Storage(u"X3", 0xFFFFFFFF, 5), Storage(u"X4", 0xFFFFFFFF, 0xFFFFFFFF)};
      break;
    case Decoy::kFreeWhereNamed:
      // Storage 7 names entry 8, free here.
      decoy = {unused, Storage(u"X2", 0xFFFFFFFF, 0xFFFFFFFF), Storage(u"X3", 0xFFFFFFFF, 0xFFFFFFFF),
               Storage(u"X4", 0xFFFFFFFF, 0xFFFFFFFF)};
      break;
    case Decoy::kStaleAfterTheEnd:
      decoy = {Storage(u"X1", 0xFFFFFFFF, 0xFFFFFFFF), Storage(u"X2", 0xFFFFFFFF, 0xFFFFFFFF),
               Storage(u"X3", 0xFFFFFFFF, 0xFFFFFFFF), Storage(u"X4", 0xFFFFFFFF, 0xFFFFFFFF)};
      break;
    case Decoy::kCopyOfPosition5:
      decoy.assign(entries.begin() + 20, entries.begin() + 24);
      break;
  }
  for (std::size_t i = 0; i < decoy.size(); ++i) decoy[i].WriteTo(cfb.Sector(c.decoyAt) + i * 128);
  expected = fixture::Root(std::move(storages));
  return cfb.Build();
}

bool HasLineStartingWith(const std::vector<std::string>& lines, const std::string& start) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(start, 0) == 0; });
}

// Salvages image in scratch, which keeps the rebuilt file; lines gets the log.
salvage_test::SalvageRun SalvageLogged(const fixture::ScratchDir& scratch, const fixture::Image& image,
                                       std::vector<std::string>& lines) {
  LogCapture log(scratch);
  salvage_test::SalvageRun run = Salvage(scratch, image.bytes());
  lines = log.Lines();
  return run;
}

TEST(DirectoryChain, DirectoryThroughALostSatPartComesBackWhole) {
  // The directory leaves the first SAT part in a gap, within it and into
  // the second part; or lies wholly in the first. Where only the second
  // part, with the streams, is lost, the directory's chain is the table's.
  const std::vector<Case> cases = {
      {"gaps, then the sound part", {10, 11, 40, 41, 60, 128, 129}, Decoy::kNone, 0},
      {"wrapping to an earlier sector", {30, 31, 50, 51, 60, 5, 6}, Decoy::kNone, 0},
      {"a decoy naming a named entry next", {10, 11, 40, 41, 60, 128, 129}, Decoy::kNamesANamedEntry, 12},
      {"a decoy with a free entry where one is named next", {10, 11, 40, 41, 60, 128, 129},
       Decoy::kFreeWhereNamed, 12},
      {"a fitting sector after the whole directory", {10, 11, 40, 41, 60, 61, 62}, Decoy::kStaleAfterTheEnd, 63},
      {"sound links", {10, 11, 40, 41, 60, 61, 62}, Decoy::kNone, 0, 1},
  };
  for (const Case& c : cases) {
    for (int damage = 0; damage < 2; ++damage) {
      SCOPED_TRACE(std::string(c.name) + (damage == 0 ? ", zeroed" : ", overwritten"));
      fixture::Node expected;
      fixture::Image image(Build(c, expected));
      ASSERT_EQ(image.DirectorySectors(), c.directory);
      if (damage == 0) image.ZeroFatSector(c.lostPart);
      else image.ScrambleFatSector(c.lostPart, 7);
      fixture::ScratchDir scratch;
      std::vector<std::string> lines;
      const salvage_test::SalvageRun run = SalvageLogged(scratch, image, lines);
      ASSERT_TRUE(run.repaired);
      EXPECT_EQ(salvage_test::MissingFrom(expected, *run.repaired), std::vector<std::string>{});
      // Nothing more than the directory holds: no decoy's storage at the top.
      EXPECT_EQ(fixture::ReadBack(*run.repaired).children.size(), kStorages);
      if (c.lostPart == 0)
        EXPECT_TRUE(HasLineStartingWith(lines, "Directory chain rebuilt past a lost or unsound link: 7 sectors"));
      else
        EXPECT_FALSE(HasLineStartingWith(lines, "Directory chain rebuilt"));
    }
  }
}

TEST(DirectoryChain, SectorsNoSurvivingEntryNamesFollowAfterEntriesLostWithTheChain) {
  // Directory sectors 12 and 13 are zeroed: storages 8 to 12, which named
  // the streams of the last two sectors, are lost with them. The chain's
  // links from 128 on are lost too, so nothing says where it ends: the
  // sectors that follow still go on with it, but not a copy of one of
  // them (its streams are placed already), nor any sector where no entry
  // was lost (the first case above, a fitting sector after the end).
  const std::vector<std::uint32_t> directory = {10, 11, 12, 13, 128, 129, 130};
  for (const bool copy : {false, true}) {
    SCOPED_TRACE(copy ? "a copy of the sixth sector after the end" : "nothing after the end");
    fixture::Node expected;
    fixture::Image image(Build({"", directory, copy ? Decoy::kCopyOfPosition5 : Decoy::kNone, 131, 1}, expected));
    image.ZeroSector(12);
    image.ZeroSector(13);
    image.ZeroFatSector(1);
    fixture::ScratchDir scratch;
    std::vector<std::string> lines;
    const salvage_test::SalvageRun run = SalvageLogged(scratch, image, lines);
    ASSERT_TRUE(run.repaired);
    EXPECT_TRUE(HasLineStartingWith(lines, "Directory chain rebuilt past a lost or unsound link: 7 sectors"));
    EXPECT_TRUE(HasLineStartingWith(lines, "Directory sector 130 taken after sector 129, past entries lost"));
    EXPECT_FALSE(HasLineStartingWith(lines, "Directory sector 131"));
    // The stream of storage 8, lost with it, is written (at the top).
    const fixture::Node back = fixture::ReadBack(*run.repaired);
    const std::vector<std::uint8_t> last = fixture::Pattern(StreamSize(8), 8);
    EXPECT_TRUE(std::any_of(back.children.begin(), back.children.end(),
                            [&](const fixture::Node& n) { return !n.isStorage && n.bytes == last; }));
  }
}

TEST(DirectoryChain, AnEntryMayNameOneLostWithAZeroedSector) {
  // Sector 11 (storages 4 to 7) is zeroed, and the links from 128 on are
  // lost. The stream at the head of sector 129 names storage 5 as its
  // sibling, as trees that cross sectors do: an entry lost with a zeroed
  // sector of the chain says nothing against 129 going on after 128 (130
  // would fit there by the names, and every entry after it would shift).
  const std::vector<std::uint32_t> directory = {10, 11, 12, 128, 129, 130, 131};
  fixture::Node expected;
  fixture::Image image(Build({"", directory, Decoy::kNone, 0, 1}, expected));
  const fixture::EntryFields head = image.Entry(16);
  image.SetEntryLinks(16, 5, head.right, head.child);
  image.ZeroSector(11);
  image.ZeroFatSector(1);
  fixture::ScratchDir scratch;
  std::vector<std::string> lines;
  const salvage_test::SalvageRun run = SalvageLogged(scratch, image, lines);
  ASSERT_TRUE(run.repaired);
  EXPECT_TRUE(HasLineStartingWith(lines, "Directory chain rebuilt past a lost or unsound link: 7 sectors"));
  EXPECT_FALSE(HasLineStartingWith(lines, "Directory sector 130 taken after sector 128"));
  // The storages that survive hold their streams.
  const fixture::Node back = fixture::ReadBack(*run.repaired);
  for (std::uint32_t i : {1, 2, 3, 8, 9, 10, 11, 12}) {
    SCOPED_TRACE("storage " + std::to_string(i));
    const std::u16string name = u"S" + std::u16string(1, static_cast<char16_t>(u'A' + i));
    const auto storage = std::find_if(back.children.begin(), back.children.end(),
                                      [&](const fixture::Node& n) { return n.name == name; });
    ASSERT_NE(storage, back.children.end());
    ASSERT_EQ(storage->children.size(), 1u);
    EXPECT_EQ(storage->children.front().bytes, fixture::Pattern(StreamSize(i), i));
  }
}

TEST(DirectoryChain, ADirectoryInPiecesWithFreeSectorsComesBackInItsOrder) {
  // The directory climbs through a lost SAT part in pieces (10, 11, 40,
  // 41, 42) and ends in a sound part (140, 141). Sector 40 holds streams
  // only the storages of sector 41 name, so no earlier entry names one of
  // its own: as the nearest sector up whose link was lost, it goes before
  // the sound piece further away that earlier entries name. Sector 42
  // holds free entries only, as a directory keeps them for streams deleted
  // long ago: it holds its four places after 41.
  const std::vector<std::uint32_t> directory = {10, 11, 40, 41, 42, 140, 141};
  // Ids: storages 1 to 7 and 12 to 15, in one row of right siblings; the
  // streams of 12 to 15 at 8 to 11, those of 1 to 7 at 20 to 26; 16 to 19
  // and 27 free.
  const std::vector<std::uint32_t> storages = {1, 2, 3, 4, 5, 6, 7, 12, 13, 14, 15};
  const std::vector<std::uint32_t> streams = {20, 21, 22, 23, 24, 25, 26, 8, 9, 10, 11};
  fixture::RawCfb cfb;
  cfb.AddSectors(260);
  const std::vector<std::uint8_t> filler = fixture::Pattern(128 * 512, 99);
  std::copy(filler.begin(), filler.end(), cfb.Sector(0));
  std::vector<fixture::RawEntry> entries(4 * directory.size());
  for (fixture::RawEntry& e : entries) e.type = 0;
  entries[0].name = u"Root Entry";
  entries[0].type = 5;
  entries[0].child = 1;
  std::vector<fixture::Node> expected;
  for (std::size_t i = 0; i < storages.size(); ++i) {
    const std::u16string name = u"S" + std::u16string(1, static_cast<char16_t>(u'A' + i));
    entries[storages[i]] = Storage(name, i + 1 < storages.size() ? storages[i + 1] : 0xFFFFFFFF, streams[i]);
    const std::uint32_t first = 150 + 9 * static_cast<std::uint32_t>(i);
    const std::vector<std::uint8_t> bytes = fixture::Pattern(StreamSize(static_cast<std::uint32_t>(i)), i + 1);
    cfb.LinkRun(first, 9);
    std::copy(bytes.begin(), bytes.end(), cfb.Sector(first));
    fixture::RawEntry& e = entries[streams[i]];
    e.name = u"Data";
    e.type = 2;
    e.start = first;
    e.size = static_cast<std::uint32_t>(bytes.size());
    expected.push_back(fixture::Storage(name, {fixture::Stream(u"Data", bytes)}));
  }
  for (std::size_t n = 0; n < directory.size(); ++n) {
    cfb.Link(directory[n], n + 1 < directory.size() ? directory[n + 1] : 0xFFFFFFFE);
    for (std::size_t i = 0; i < 4; ++i) entries[4 * n + i].WriteTo(cfb.Sector(directory[n]) + i * 128);
  }
  cfb.dirStart = directory.front();
  fixture::Image image(cfb.Build());
  ASSERT_EQ(image.DirectorySectors(), directory);
  image.ZeroFatSector(0);
  fixture::ScratchDir scratch;
  std::vector<std::string> lines;
  const salvage_test::SalvageRun run = SalvageLogged(scratch, image, lines);
  ASSERT_TRUE(run.repaired);
  EXPECT_EQ(salvage_test::MissingFrom(fixture::Root(std::move(expected)), *run.repaired), std::vector<std::string>{});
  EXPECT_TRUE(HasLineStartingWith(lines, "Directory chain rebuilt past a lost or unsound link: 7 sectors"));
}

}  // namespace
