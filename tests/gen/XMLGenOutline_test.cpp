// The base generator (versions 9 and 12): the outline repaired while tasks
// are written (placeholders for skipped levels, orphans gathered under one
// summary), identifiers that stay unique, links and the version 9 header.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "LibrarySettings.h"
#include "gen/GenTestSupport.h"
#include "gen/XMLGen.h"

namespace {

using namespace gen_test;
using model::SBkndTaskParams;

SBkndTaskParams Task(std::uint32_t uid, std::uint32_t id, std::uint16_t level, std::u16string name = u"T") {
  SBkndTaskParams task;
  task.UID = uid;
  task.ID = id;
  task.OutlineLevel = level;
  task.Name = std::move(name);
  task.Start = 0x2000'0000;
  task.Finish = 0x2001'0000;
  return task;
}

struct Row {
  std::string uid, id, name, level, parent;
};

// The tasks as written, in document order (the writer puts one element
// per line; the document has been checked by xmllint before).
std::vector<Row> Rows(const std::string& xml) {
  std::vector<Row> rows;
  auto value = [](const std::string& task, const std::string& tag) {
    const std::string open = "<" + tag + ">";
    const std::size_t at = task.find(open);
    if (at == std::string::npos) return std::string();
    const std::size_t start = at + open.size();
    return task.substr(start, task.find("</" + tag + ">", start) - start);
  };
  std::size_t at = 0;
  while ((at = xml.find("<Task>", at)) != std::string::npos) {
    const std::size_t end = xml.find("</Task>", at);
    const std::string task = xml.substr(at, end - at);
    rows.push_back({value(task, "UID"), value(task, "ID"), value(task, "Name"), value(task, "OutlineLevel"),
                    value(task, "OutlineNumber")});
    at = end;
  }
  return rows;
}

class OutlineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveXmllint()) GTEST_SKIP() << "xmllint is not installed";
  }
  // Writes the tasks section alone, inside a root so that it can be read.
  std::string Tasks(const std::vector<SBkndTaskParams>& tasks) {
    for (const auto& task : tasks) memory.gen->AppendTask(task);
    memory.gen->Writer().Write_hXML("Root", nullptr, nullptr);
    result = memory.gen->GenerateTasksXML();
    memory.gen->Writer().Write_hXML(nullptr, nullptr, "Root");
    const std::string& xml = memory.Text();
    EXPECT_EQ(WellFormed(xml), "") << xml;
    return xml;
  }
  MemoryGen<CXMLGen> memory;
  std::int32_t result = 0;
};

TEST_F(OutlineTest, DuplicateIdGoesUnderTheOrphanSummary) {
  const std::string xml = Tasks({Task(10, 2, 1), Task(11, 1, 1), Task(12, 2, 1)});
  EXPECT_EQ(result, 0);
  const std::vector<Row> rows = Rows(xml);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].id, "1");
  EXPECT_EQ(rows[1].id, "2");
  EXPECT_EQ(rows[1].uid, "10");  // the first with ID 2 in sorted order stays
  EXPECT_EQ(rows[2].name, "Orphaned Nodes");
  EXPECT_EQ(rows[2].id, "4");
  EXPECT_EQ(rows[2].uid, "13");  // one above the largest UID
  EXPECT_EQ(rows[2].level, "1");
  EXPECT_EQ(rows[3].uid, "12");
  EXPECT_EQ(rows[3].id, "5");
  EXPECT_EQ(rows[3].level, "2");
  EXPECT_EQ(rows[3].parent, "13");
  EXPECT_EQ(memory.gen->tasksWritten, 3u);
  EXPECT_EQ(memory.gen->orphanTaskCounter, 1u);
  // The model keeps the sorted order, and its own IDs.
  EXPECT_EQ(memory.gen->Tasks()[0].UID, 11u);
  EXPECT_EQ(memory.gen->Tasks()[2].ID, 2u);
}

TEST_F(OutlineTest, SkippedLevelsGetPlaceholdersWhenIdsAreFree) {
  const std::string xml = Tasks({Task(1, 1, 1), Task(2, 4, 4), Task(3, 5, 5)});
  const std::vector<Row> rows = Rows(xml);
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[1].name, "Missed Node");
  EXPECT_EQ(rows[1].id, "2");
  EXPECT_EQ(rows[1].level, "2");
  EXPECT_EQ(rows[2].id, "3");
  EXPECT_EQ(rows[2].level, "3");
  EXPECT_EQ(rows[3].uid, "2");
  EXPECT_EQ(rows[3].level, "4");
  EXPECT_EQ(rows[4].uid, "3");
  EXPECT_EQ(memory.gen->orphanTaskCounter, 0u);
  std::set<std::string> uids;
  for (const Row& row : rows) uids.insert(row.uid);
  EXPECT_EQ(uids.size(), rows.size());
}

TEST_F(OutlineTest, JumpsThatCannotBeFilledAreOrphaned) {
  // No room below ID 2 for a level-2 placeholder; 150 levels at once; a
  // stray ID 0 after the first task.
  const std::string xml = Tasks({Task(1, 1, 1), Task(2, 2, 3), Task(3, 200, 151), Task(4, 0, 1), Task(5, 0, 1)});
  const std::vector<Row> rows = Rows(xml);
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[0].uid, "4");  // sorted first, ID 0
  EXPECT_EQ(rows[1].uid, "1");
  EXPECT_EQ(rows[2].name, "Orphaned Nodes");
  EXPECT_EQ(rows[2].id, "3");
  std::vector<std::string> orphans;
  for (std::size_t i = 3; i < rows.size(); ++i) orphans.push_back(rows[i].uid + "@" + rows[i].id);
  EXPECT_EQ(orphans, (std::vector<std::string>{"5@4", "2@5", "3@6"}));
}

TEST_F(OutlineTest, OrphansNeverShareAUid) {
  // Two tasks with UID 3 and ID 1: the second becomes an orphan; the
  // summary takes UID 4, so the orphan moves on to 5.
  const std::string xml = Tasks({Task(3, 1, 1), Task(3, 1, 1), Task(1, 2, 1)});
  const std::vector<Row> rows = Rows(xml);
  std::set<std::string> uids, ids;
  for (const Row& row : rows) {
    uids.insert(row.uid);
    ids.insert(row.id);
  }
  EXPECT_EQ(uids.size(), rows.size());
  EXPECT_EQ(ids.size(), rows.size());
  EXPECT_EQ(rows.back().uid, "5");
}

TEST_F(OutlineTest, OrphanIdsStayInRangeNearTheTop) {
  const std::string xml = Tasks({Task(1, 1, 1), Task(2, 65534, 1), Task(3, 65534, 1)});
  const std::vector<Row> rows = Rows(xml);
  ASSERT_EQ(rows.size(), 4u);
  std::set<std::string> ids;
  for (const Row& row : rows) {
    ids.insert(row.id);
    EXPECT_LE(std::stoul(row.id), 65535u);
  }
  EXPECT_EQ(ids.size(), rows.size());
}

TEST_F(OutlineTest, PercentBeyondAHundredIsClampedAndLinksNeedDatedPredecessors) {
  SBkndTaskParams first = Task(1, 1, 1, u"A & B, <C>");
  first.PercentComplete = 250;
  SBkndTaskParams undated = Task(2, 2, 1);
  undated.Start = 0;
  memory.gen->links.push_back(
      {.UID = 1, .LinkLag = -4800, .PredecessorUID = 1, .SuccessorUID = 3, .Type = 3, .LagFormat = 7});
  memory.gen->links.push_back({.UID = 2, .PredecessorUID = 2, .SuccessorUID = 3});
  memory.gen->links.push_back({.UID = 3, .PredecessorUID = 7, .SuccessorUID = 3});
  const std::string xml = Tasks({first, undated, Task(3, 3, 1)});
  EXPECT_EQ(memory.gen->Tasks()[0].PercentComplete, 100u);
  EXPECT_EQ(XPath(xml, "string(//" + E("Task") + "[1]/" + E("Name") + ")"), "A & B; <C>");
  EXPECT_EQ(XPath(xml, "count(//" + E("PredecessorLink") + ")"), "1");
  EXPECT_EQ(XPath(xml, "string(//" + E("Task") + "[3]/" + E("PredecessorLink") + "/" + E("PredecessorUID") + ")"),
            "1");
  // The link keeps its type and lag.
  EXPECT_EQ(XPath(xml, "string(//" + E("PredecessorLink") + "/" + E("Type") + ")"), "3");
  EXPECT_EQ(XPath(xml, "string(//" + E("PredecessorLink") + "/" + E("LinkLag") + ")"), "-4800");
  EXPECT_EQ(memory.gen->linksWritten, 1u);
}

TEST_F(OutlineTest, NoTaskWritesTheEmptySection) {
  const std::string xml = Tasks({});
  EXPECT_EQ(result, CXMLGen::kNothingWritten);
  EXPECT_NE(xml.find("<Tasks/>"), std::string::npos);
}

TEST(Version9Document, HeaderAndSections) {
  if (!HaveXmllint()) GTEST_SKIP() << "xmllint is not installed";
  MemoryGen<CXMLGen> memory;
  memory.gen->projectStartDay = 2;
  memory.gen->AppendTask(Task(1, 1, 1));
  ASSERT_EQ(memory.gen->GenerateMainXML(), 0);
  const std::string& xml = memory.Text();
  ASSERT_EQ(WellFormed(xml), "") << xml;
  EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" ?>\r\n", 0), 0u);
  const char* inOrder[] = {"<SaveVersion>9</SaveVersion>", "<Author>Kestrelworks</Author>",
                           "<CreationDate>1984-01-02</CreationDate>", "<CurrentDate>1984-01-02</CurrentDate>",
                           "<CalendarUID>3</CalendarUID>", "<Autolink>1</Autolink>", "<ExtendedAttributes />",
                           "<Tasks>", "<Resources/>", "<Assignments/>", "</Project>"};
  std::size_t at = 0;
  for (const char* part : inOrder) {
    const std::size_t found = xml.find(part, at);
    ASSERT_NE(found, std::string::npos) << part << " missing or out of order";
    at = found;
  }
  EXPECT_EQ(xml.find("FinishDate"), std::string::npos);
  EXPECT_EQ(xml.find("Currency"), std::string::npos);
  EXPECT_EQ(xml.find("Calendars"), std::string::npos);
}

}  // namespace
