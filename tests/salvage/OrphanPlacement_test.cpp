// Entries cut off by lost directory entries: where their names place them,
// and, on whole files, what a zeroed directory sector costs.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "salvage/OrphanPlacement.h"
#include "salvage/SalvageRun.h"

namespace {

using salvage::OrphanMember;
using salvage::OrphanPlace;
using salvage::PlacedStorage;
using Kind = OrphanPlace::Kind;

// Storages written so far: the root (0), a data storage (1) that holds
// every table storage but TBkndAssn, a view storage (2), and TBkndRsc (3)
// holding VarMeta and FixedData.
std::vector<PlacedStorage> Written(bool dataLost, bool viewsLost, bool rscLost) {
  return {
      {0, u"", {u"   19", u"   29"}, false},
      {1, u"   19", {u"TBkndTask", u"TBkndRsc", u"TBkndCal", u"TBkndCons", u"TBkndOutlCode", u"Props"}, dataLost},
      {2, u"   29",
       {u"CEdl", u"CMap", u"CUdm", u"CTable", u"CV_iew", u"CFilter", u"CReport", u"CGrouping", u"CCommandBar"},
       viewsLost},
      {3, u"TBkndRsc", {u"VarMeta", u"FixedData"}, rscLost},
  };
}

OrphanMember S(std::u16string name) { return {std::move(name), true}; }
OrphanMember F(std::u16string name) { return {std::move(name), false}; }

TEST(OrphanPlacement, LevelsGoWhereTheirNamesAndTheLostEntriesSay) {
  struct Case {
    const char* what;
    std::vector<OrphanMember> level;
    bool dataLost, viewsLost, rscLost;
    Kind kind;
    platform::ElementId storage;
    std::u16string name;
  };
  const std::vector<Case> cases = {
      {"table storages into the data storage that lost an entry", {S(u"TBkndAssn")}, true, true, false, Kind::Into, 1,
       u""},
      {"with a Props the data storage holds already", {S(u"TBkndAssn"), F(u"Props")}, true, true, false, Kind::Keep,
       0, u""},
      {"view storages into the view storage that lost an entry", {S(u"CVba"), S(u"CDrawing")}, true, true, false,
       Kind::Into, 2, u""},
      {"table storages where no data storage noticed a loss: the one there is", {S(u"TBkndAssn")}, false, true, false,
       Kind::Into, 1, u""},
      {"table storages where the one data storage holds them already", {S(u"TBkndCal")}, false, false, false,
       Kind::Keep, 0, u""},
      {"a table storage already there", {S(u"TBkndTask")}, true, false, false, Kind::Keep, 0, u""},
      {"table and view storages mixed", {S(u"TBkndAssn"), S(u"CVba")}, true, true, false, Kind::Keep, 0, u""},
      {"streams into the table storage that lost an entry", {F(u"FixedMeta"), F(u"Var2Data")}, false, false, true,
       Kind::Into, 3, u""},
      {"streams the table storage holds: the storage the data storage lacks", {F(u"VarMeta"), F(u"Fixed2Data")},
       true, false, true, Kind::Recreate, 1, u"TBkndAssn"},
      {"streams that fit both the table storage and a lost one", {F(u"FixedMeta")}, true, false, true, Kind::Keep, 0,
       u""},
      {"streams of a view storage where the view storage lacks none", {F(u"VarMeta")}, false, true, false, Kind::Keep,
       0, u""},
      {"streams no table storage holds", {F(u"VarMeta"), F(u"Notes")}, true, false, true, Kind::Keep, 0, u""},
      {"a storage among the streams", {F(u"VarMeta"), S(u"FixedData")}, true, false, true, Kind::Keep, 0, u""},
      {"nothing noticed lost: the one table storage that lacks the names", {F(u"FixedMeta")}, false, false, false,
       Kind::Into, 3, u""},
      {"nothing noticed lost, and every table storage has the names", {F(u"VarMeta")}, false, false, false,
       Kind::Keep, 0, u""},
      {"a name only the macro table holds: that table, made again in the view storage",
       {S(u"2b400008_ffffffff"), F(u"2b40000d_ffffffff"), F(u"Props")}, true, true, false, Kind::Recreate, 2,
       u"CVba"},
      {"a name only the command bars hold, whose table the view storage has and which lost nothing",
       {F(u"2a400000_ffffffff"), F(u"FixedMeta")}, false, true, false, Kind::Keep, 0, u""},
      {"a data storage, with its siblings: in the root", {S(u"   112"), F(u"Props12")}, true, true, false,
       Kind::Into, 0, u""},
      {"a view storage the root holds already", {S(u"   29")}, true, true, false, Kind::Keep, 0, u""},
      {"names of two such tables", {F(u"2a400000_ffffffff"), F(u"2b40000d_ffffffff")}, false, true, false,
       Kind::Keep, 0, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const OrphanPlace place = salvage::PlaceOrphanLevel(c.level, Written(c.dataLost, c.viewsLost, c.rscLost));
    EXPECT_EQ(place.kind, c.kind);
    if (place.kind == Kind::Keep) continue;
    EXPECT_EQ(place.storage, c.storage);
    EXPECT_EQ(place.name, c.name);
  }
}

// A lone Props where the data storage lacks its own as well: either may be
// its place, so neither is.
TEST(OrphanPlacement, ALonePropsIsUndecidedWhileTheDataStorageLacksOne) {
  for (const bool rscLost : {true, false}) {
    SCOPED_TRACE(rscLost ? "TBkndRsc lost an entry too" : "only the data storage lost entries");
    std::vector<PlacedStorage> placed = Written(true, false, rscLost);
    placed[1].children.erase(u"Props");
    EXPECT_EQ(salvage::PlaceOrphanLevel({F(u"Props")}, placed).kind, Kind::Keep);
  }
}

TEST(OrphanPlacement, ViewStreamsFitTheOneViewStorageTheViewStorageLacks) {
  auto written = Written(false, true, false);
  written[2].children.erase(u"CFilter");
  const OrphanPlace place = salvage::PlaceOrphanLevel({F(u"Var2Data"), F(u"FixedMeta")}, written);
  EXPECT_EQ(place.kind, Kind::Recreate);
  EXPECT_EQ(place.storage, 2u);
  EXPECT_EQ(place.name, u"CFilter");
  // A view storage holds no second table: the loss is one the data
  // storage's side did not notice, and the one table storage there that
  // lacks the name takes it.
  const OrphanPlace second = salvage::PlaceOrphanLevel({F(u"Fixed2Meta")}, written);
  EXPECT_EQ(second.kind, Kind::Into);
  EXPECT_EQ(second.storage, 3u);
}

TEST(OrphanPlacement, TheVbaProjectGoesToItsHolders) {
  const std::vector<PlacedStorage> placed = {{0, u"", {u"   29"}, false},
                                             {1, u"   29", {u"CVba"}, false},
                                             {2, u"CVba", {u"Props", u"2b400008_ffffffff"}, true},
                                             {3, u"2b400008_ffffffff", {u"PROJECT"}, true}};
  std::vector<PlacedStorage> holderLost(placed.begin(), placed.end() - 1);
  holderLost[2].children.erase(u"2b400008_ffffffff");
  struct Case {
    const char* what;
    std::vector<OrphanMember> level;
    const std::vector<PlacedStorage>& placed;
    Kind kind;
    platform::ElementId storage;
    std::u16string name;
  };
  const std::vector<Case> cases = {
      {"the project's streams and its VBA storage, their holder lost: made again in CVba",
       {F(u"PROJECT"), F(u"PROJECTwm"), S(u"VBA")}, holderLost, Kind::Recreate, 2, u"2b400008_ffffffff"},
      {"into the holder that lost entries", {F(u"PROJECTwm"), S(u"VBA")}, placed, Kind::Into, 3, u""},
      {"the modules' streams: VBA made again in its holder", {F(u"dir"), F(u"_VBA_PROJECT"), F(u"ThisProject")},
       placed, Kind::Recreate, 3, u"VBA"},
      {"names of both holders: nowhere", {F(u"PROJECT"), F(u"dir")}, placed, Kind::Keep, 0, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const OrphanPlace place = salvage::PlaceOrphanLevel(c.level, c.placed);
    EXPECT_EQ(place.kind, c.kind);
    if (c.kind == Kind::Keep) continue;
    EXPECT_EQ(place.storage, c.storage);
    EXPECT_EQ(place.name, c.name);
  }
}

TEST(OrphanPlacement, TablesLostWithTheirEntriesAreToldByWhereTheirStreamsLie) {
  using Present = std::vector<salvage::TableFirst>;
  const Present data = {{u"TBkndOutlCode", 10}, {u"TBkndCal", 40}, {u"TBkndRsc", 50}, {u"TBkndTask", 60}};
  Present withViews = data;
  withViews.erase(withViews.end() - 1);
  withViews.insert(withViews.end(), {{u"CMap", 100}, {u"CEdl", 110}, {u"CV_iew", 150}});
  struct Case {
    const char* what;
    Present present;
    std::vector<std::uint32_t> levels;
    std::vector<std::u16string> expected;
  };
  const std::vector<Case> cases = {
      {"two levels between two tables that lack two: each in the order written",
       data, {25, 20}, {u"TBkndAssn", u"TBkndCons"}},
      {"one level where two tables lack: neither", data, {20}, {u""}},
      {"a level at a table's own first sector: none", data, {40}, {u""}},
      {"tables present out of the order: nothing is told",
       {{u"TBkndCal", 10}, {u"TBkndOutlCode", 40}, {u"TBkndTask", 60}}, {20, 30}, {u"", u""}},
      {"between the families, the last data table and the first view table (others are never made again)",
       withViews, {60, 80}, {u"TBkndTask", u"CGrouping"}},
      {"past the last table: the one its family lacks there", data, {70}, {u""}},
      {"within the views", withViews, {105, 120, 140}, {u"CCommandBar", u"", u""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(salvage::TablesByWritingOrder(c.present, c.levels), c.expected);
  }
}

// A project-like file: a data storage of table storages, each with its
// table streams, and a view storage.
fixture::Node Tables(std::u16string name, std::uint32_t seed, bool second) {
  std::vector<fixture::Node> streams;
  std::vector<std::u16string> names = {u"VarMeta", u"Var2Data", u"FixedMeta", u"FixedData"};
  if (second) names.insert(names.end(), {u"Fixed2Meta", u"Fixed2Data", u"Props"});
  for (std::size_t i = 0; i < names.size(); ++i)
    streams.push_back(fixture::Stream(names[i], fixture::Pattern(60 + 70 * i + seed, seed * 16 + i)));
  return fixture::Storage(std::move(name), std::move(streams));
}

fixture::Node ProjectLike() {
  std::vector<fixture::Node> data;
  std::uint32_t seed = 1;
  for (const char16_t* t : {u"TBkndTask", u"TBkndRsc", u"TBkndAssn", u"TBkndCal", u"TBkndCons", u"TBkndOutlCode"})
    data.push_back(Tables(t, seed++, true));
  data.push_back(fixture::Stream(u"Props", fixture::Pattern(3000, 90)));
  std::vector<fixture::Node> views;
  for (const char16_t* t : {u"CEdl", u"CMap", u"CUdm", u"CTable", u"CV_iew", u"CFilter", u"CReport", u"CGrouping",
                            u"CCommandBar"})
    views.push_back(Tables(t, seed++, false));
  return fixture::Root({fixture::Stream(u"\1CompObj", fixture::Pattern(90, 91)),
                        fixture::Stream(u"Props14", fixture::Pattern(700, 92)),
                        fixture::Storage(u"   114", std::move(data)), fixture::Storage(u"   214", std::move(views))});
}

// Every path of the tree below path, storages before what they hold.
void Paths(const fixture::Node& node, const std::string& path, std::vector<std::pair<std::string, bool>>& out) {
  for (const fixture::Node& c : node.children) {
    const std::string p = (path.empty() ? "" : path + "/") + platform::Utf16ToUtf8(c.name);
    out.push_back({p, c.isStorage});
    Paths(c, p, out);
  }
}

// Every stream of the tree with its bytes.
void Streams(const fixture::Node& node, const std::string& path, std::vector<std::pair<std::string, std::vector<std::uint8_t>>>& out) {
  for (const fixture::Node& c : node.children) {
    const std::string p = path + "/" + platform::Utf16ToUtf8(c.name);
    if (c.isStorage)
      Streams(c, p, out);
    else
      out.push_back({p, c.bytes});
  }
}

// Each directory sector but the first zeroed in turn: what comes back
// misses at its own place what the sector held and, of the others, at most
// two per sector whose place no name decides (a lone stream two table
// storages both lack); those come back elsewhere with their bytes. Some
// table storages the sector held come back under their names.
TEST(OrphanPlacement, AZeroedDirectorySectorCostsItsOwnStreams) {
  const fixture::Node project = ProjectLike();
  fixture::ScratchDir scratch;
  const fixture::Image intact = fixture::Image::Of(project);
  std::vector<std::pair<std::string, bool>> paths;
  Paths(project, "", paths);
  const std::size_t sectors = intact.DirectorySectors().size();
  ASSERT_GE(sectors, 10u);
  std::size_t storagesMadeAgain = 0;
  std::vector<std::string> nowhere;
  for (std::size_t zeroed = 1; zeroed < sectors; ++zeroed) {
    SCOPED_TRACE("directory sector " + std::to_string(zeroed));
    std::set<std::string> own;
    for (const auto& [path, storage] : paths) {
      const auto entry = intact.FindEntry(platform::Utf8ToUtf16(path));
      ASSERT_TRUE(entry);
      if (*entry / 4 == zeroed) own.insert("/" + path);
    }
    fixture::Image image{std::vector<std::uint8_t>(intact.bytes())};
    image.ZeroDirectorySector(zeroed);
    salvage_test::LogCapture log(scratch);
    auto run = salvage_test::Salvage(scratch, image.bytes());
    ASSERT_TRUE(run.repaired);
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> written;
    Streams(fixture::ReadBack(*run.repaired), "", written);
    std::size_t elsewhere = 0;
    for (const std::string& missing : salvage_test::MissingFrom(project, *run.repaired)) {
      const std::string path = missing.substr(std::string("missing ").size());
      if (own.count(path)) continue;
      ++elsewhere;
      const fixture::Node* node = &project;
      for (std::size_t at = 1; node && at < path.size();) {
        const std::size_t end = std::min(path.find('/', at), path.size());
        const std::u16string name = platform::Utf8ToUtf16(path.substr(at, end - at));
        const fixture::Node* next = nullptr;
        for (const fixture::Node& c : node->children)
          if (c.name == name) next = &c;
        node = next;
        at = end + 1;
      }
      ASSERT_TRUE(node) << missing;
      if (node->isStorage) continue;
      if (!std::any_of(written.begin(), written.end(), [&](const auto& w) { return w.second == node->bytes; }))
        nowhere.push_back(missing);
    }
    EXPECT_LE(elsewhere, 2u);
    for (const std::string& line : log.Lines())
      storagesMadeAgain += line.find("is made again in") != std::string::npos;
  }
  EXPECT_GE(storagesMadeAgain, 1u);
  // Known gap: two undecided orphans of one name ("Props") both fall back
  // to the root storage, where the second cannot be written.
  EXPECT_LE(nowhere.size(), 1u) << ::testing::PrintToString(nowhere);
}

}  // namespace
