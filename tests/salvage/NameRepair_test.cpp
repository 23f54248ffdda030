// Names of the project's storages and streams with a damaged character or
// two: repaired where one known name fits best and its storage lacks it,
// left alone otherwise.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "salvage/SalvageRun.h"

namespace {

fixture::Node Tables(std::u16string name, std::vector<std::u16string> streams, std::uint32_t seed) {
  std::vector<fixture::Node> children;
  for (std::size_t i = 0; i < streams.size(); ++i)
    children.push_back(fixture::Stream(streams[i], fixture::Pattern(80 + 40 * i, seed * 8 + i)));
  return fixture::Storage(std::move(name), std::move(children));
}

fixture::Node Project() {
  const std::vector<std::u16string> tables = {u"FixedMeta", u"FixedData", u"VarMeta", u"Var2Data"};
  return fixture::Root(
      {fixture::Stream(u"Props9", fixture::Pattern(600, 1)),
       fixture::Storage(u"   19", {Tables(u"TBkndTask", tables, 2), Tables(u"TBkndRsc", tables, 3),
                                   Tables(u"TBkndCons", {u"FixedMeta", u"VarMeta"}, 4),
                                   fixture::Stream(u"Props", fixture::Pattern(900, 5))}),
       fixture::Storage(u"   29", {Tables(u"CTable", tables, 6), fixture::Stream(u"Notes", fixture::Pattern(70, 7))})});
}

bool HasPath(const fixture::Node& node, const std::u16string& path) {
  const std::size_t slash = path.find(u'/');
  const std::u16string head = path.substr(0, slash);
  for (const fixture::Node& c : node.children)
    if (c.name == head) return slash == std::u16string::npos || HasPath(c, path.substr(slash + 1));
  return false;
}

TEST(ProjectNameRepair, OneKnownNameTheStorageLacksIsTaken) {
  struct Case {
    const char* what;
    std::u16string path, damaged;
    std::u16string expected;  // the path written
  };
  const std::vector<Case> cases = {
      {"a table storage", u"   19/TBkndTask", u"TBkn$Task", u"   19/TBkndTask/VarMeta"},
      {"a table stream", u"   19/TBkndTask/FixedData", u"FihedData", u"   19/TBkndTask/FixedData"},
      {"a unit whose high byte is damaged", u"   19/TBkndRsc/VarMeta", u"Va\u0172Meta", u"   19/TBkndRsc/VarMeta"},
      {"near two names, one of them present", u"   19/TBkndRsc/FixedMeta", u"FixedDeta", u"   19/TBkndRsc/FixedMeta"},
      {"a data storage beside its near twin", u"   19", u"   X9", u"   19/Props"},
      {"near two names, one of the version its siblings keep", u"   19", u"   1X", u"   19/Props"},
      {"a numbered name near the missing data storage of the version beside it", u"   19", u"   16", u"   19/Props"},
      {"a numbered storage of its own", u"   29", u"   39", u"   39/CTable/VarMeta"},
      {"a numbered storage's space damaged into a digit", u"   19", u"  719", u"   19/TBkndTask/VarMeta"},
      {"two places in a long name", u"   19/TBkndCons", u"TBkxdCoYs", u"   19/TBkndCons/VarMeta"},
      {"near two names, neither present", u"   19/TBkndCons/FixedMeta", u"FixedDeta", u"   19/TBkndCons/FixedDeta"},
      {"a name of the file's own", u"   29/Notes", u"Nxtes", u"   29/Nxtes"},
      {"three places away", u"   29/CTable/Var2Data", u"Vxr2Dxtx", u"   29/CTable/Vxr2Dxtx"},
      {"a storage never takes a stream's name", u"   29/CTable", u"Props", u"   29/Props/Var2Data"},
  };
  fixture::ScratchDir scratch;
  const fixture::Node project = Project();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fixture::Image image = fixture::Image::Of(project);
    const auto entry = image.FindEntry(c.path);
    ASSERT_TRUE(entry);
    image.SetEntryName(*entry, c.damaged);
    auto run = salvage_test::Salvage(scratch, image.bytes());
    ASSERT_TRUE(run.repaired);
    const fixture::Node back = fixture::ReadBack(*run.repaired);
    EXPECT_TRUE(HasPath(back, c.expected));
    if (c.expected.find(c.damaged) == std::u16string::npos) {
      EXPECT_EQ(salvage_test::MissingFrom(project, *run.repaired), std::vector<std::string>{});
    }
  }
}

}  // namespace
