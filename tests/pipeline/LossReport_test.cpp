// The loss report: what the file held beside what the document got, and the
// level that follows from it.
#include <gtest/gtest.h>

#include <string>

#include "pipeline/LossReport.h"
#include "model/Project.h"

namespace {

struct Case {
  const char* name;
  std::size_t tasksHeld, tasksUnreadable, tasksWritten;
  bool taskStorage, taskVar;
  std::size_t taskVarSkipped;
  bool resourceStorage;
  // Expected: the task row and the level.
  long long held, recovered;
  bool lost;
  const char* reason;
  int level;
  std::size_t tasksPlaced = 0;  // of those held, read where the records around them place them
  bool taskCodesGuessed = false;  // their var items read without the file's field map
  bool tasksNameless = false;     // the tasks written came back without names
  bool taskCountLost = false;     // the task FixedMeta lost its header
  std::size_t tasksCutShort = 0;  // of those read, records a cut stream cut through
};

const Case kCases[] = {
    {"whole", 10, 0, 10, true, true, 0, true, 10, 10, false, "", 3},
    {"unreadable records", 10, 2, 8, true, true, 0, true, 10, 8, true, "2 task records unreadable", 2},
    {"most records unreadable", 10, 7, 3, true, true, 0, true, 10, 3, true, "7 task records unreadable", 1},
    {"read but not written", 10, 0, 9, true, true, 0, true, 10, 9, true,
     "1 task record read but not written (their references were lost)", 2},
    {"task table lost", 0, 0, 0, false, false, 0, true, -1, 0, true,
     "the task table was lost, so how many the file held is unknown", 1},
    {"names lost", 4, 0, 4, true, false, 0, true, 4, 4, true, "their names, notes and custom values were lost", 2},
    {"names unreadable", 4, 0, 4, true, true, 3, true, 4, 4, true,
     "3 values of their names, notes and custom values unreadable", 2},
    {"records lost, names kept", 2, 1, 5, true, true, 0, true, 6, 1, true,
     "1 task record unreadable; 4 task records lost; only their names came back", 1},
    {"resource table lost", 5, 0, 5, true, true, 0, false, 5, 5, false, "", 2},
    {"records placed by their neighbours", 10, 0, 10, true, true, 0, true, 10, 10, true,
     "3 task records read where the records around them place them: their flags were lost", 2, 3},
    {"var items read without the field map: tasks without names", 4, 0, 4, true, true, 0, true, 4, 4, true,
     "their names, notes and custom values were read without the file's field map, which was lost: some may be "
     "misplaced; 4 tasks were given an invented name (\"Unknown task name\")",
     2, 0, true, true},
    {"var items read without the field map: every task named", 4, 0, 4, true, true, 0, true, 4, 4, false, "", 3, 0,
     true},
    {"the list of records lost: placed by their UIDs, how many held unknown", 3, 0, 3, true, true, 0, true, -1, 3, true,
     "3 task records read where the records around them place them: their flags were lost; the list of the task "
     "table's records was lost, so how many the file held is unknown",
     2, 3, false, false, true},
    {"records cut short with their stream", 3, 0, 3, true, true, 0, true, 3, 3, true,
     "1 task record cut short with their stream: their later fields were lost", 2, 0, false, false, false, 1},
};

TEST(LossReport, EachKindSaysWhatTheFileHeldAndWhy) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    model::Project gen;
    WrittenCounts written;
    model::ReadTally& t = gen.tally;
    for (model::StorageTally* s : {&t.assignments, &t.links, &t.calendars}) s->storageFound = true;
    // Empty tables keep their fixed streams.
    t.assignments.AddFixed(0, 0);
    t.links.AddFixed(0, 0);
    t.resources.storageFound = c.resourceStorage;
    // The project's own resource and the standard calendar, as every plan has.
    if (c.resourceStorage) t.resources.AddFixed(1, 0), t.resources.AddVar(1, 0);
    written.resources = c.resourceStorage ? 1 : 0;
    t.calendars.AddFixed(1, 0);
    gen.calendars.emplace_back();
    t.tasks.storageFound = c.taskStorage;
    if (c.taskStorage) t.tasks.AddFixed(c.tasksHeld - c.tasksUnreadable, c.tasksUnreadable, c.tasksPlaced);
    if (c.taskVar) t.tasks.AddVar(c.tasksHeld, c.taskVarSkipped);
    t.tasks.varCodesGuessed = c.taskCodesGuessed;
    t.tasks.countLost = c.taskCountLost;
    t.tasks.cutShort = c.tasksCutShort;
    for (std::size_t i = 0; i < c.tasksWritten; ++i) {
      model::SBkndTaskParams task;
      task.UID = static_cast<std::uint32_t>(i + 1);
      task.Name = c.tasksNameless ? u"" : u"t";
      task.Start = 1;
      gen.AppendTask(task);
    }
    written.tasks = static_cast<std::uint32_t>(c.tasksWritten);
    const LossReport report = AssessLosses(gen, written);
    const KindLoss& tasks = report.kinds.front();
    EXPECT_FALSE(report.kinds[2].lost);
    EXPECT_STREQ(tasks.kind, "Tasks");
    EXPECT_EQ(tasks.held, c.held);
    EXPECT_EQ(tasks.recovered, c.recovered);
    EXPECT_EQ(tasks.lost, c.lost);
    EXPECT_EQ(tasks.reason, c.reason);
    EXPECT_EQ(report.Level(), c.level);
    EXPECT_EQ(report.AnyLoss(), c.level != 3);
  }
}

// The project's own summary row is no task of the plan.
TEST(LossReport, SummaryRowIsNotCounted) {
  model::Project gen;
  WrittenCounts written;
  for (model::StorageTally* s : {&gen.tally.tasks, &gen.tally.resources, &gen.tally.assignments, &gen.tally.links,
                                 &gen.tally.calendars})
    s->storageFound = true;
  gen.tally.tasks.AddFixed(3, 0);
  gen.tally.tasks.AddVar(3, 0);
  gen.tally.assignments.AddFixed(0, 0);
  gen.tally.links.AddFixed(0, 0);
  gen.tally.resources.AddFixed(1, 0);
  gen.tally.resources.AddVar(1, 0);
  written.resources = 1;
  gen.tally.calendars.AddFixed(1, 0);
  gen.calendars.emplace_back();
  for (std::uint32_t uid : {0u, 1u, 2u}) {
    model::SBkndTaskParams task;
    task.UID = uid;
    gen.AppendTask(task);
  }
  written.tasks = 3;
  const LossReport report = AssessLosses(gen, written);
  EXPECT_EQ(report.kinds[0].held, 2);
  EXPECT_EQ(report.kinds[0].recovered, 2);
  EXPECT_FALSE(report.AnyLoss() && report.kinds[0].reason.find("unreadable") != std::string::npos);

  MwUtils::MwReport rows;
  AddLossRows(rows, report);
  ASSERT_EQ(rows.Items().size(), 7u);
  EXPECT_EQ(rows.Items()[0].name, u"Tasks recovered");
  EXPECT_EQ(rows.Items()[0].value, u"2 of 2");
  EXPECT_EQ(rows.Items()[6].name, u"Custom values recovered");
  EXPECT_EQ(rows.Items()[6].status, u"whole");
}

// Every table keeps its fixed streams, an empty one too: a table found
// without them lost its records, however few were written.
TEST(LossReport, ATableWithoutItsFixedStreamsLostItsRecords) {
  model::Project gen;
  WrittenCounts written;
  model::ReadTally& t = gen.tally;
  for (model::StorageTally* s : {&t.tasks, &t.resources, &t.assignments, &t.links, &t.calendars})
    s->storageFound = true;
  for (model::StorageTally* s : {&t.tasks, &t.resources, &t.links, &t.calendars}) s->AddFixed(1, 0), s->AddVar(1, 0);
  gen.calendars.emplace_back();
  model::SBkndTaskParams task;
  task.UID = 1;
  task.Name = u"t";
  gen.AppendTask(task);
  written.tasks = written.resources = written.links = 1;
  const LossReport report = AssessLosses(gen, written);
  EXPECT_STREQ(report.kinds[2].kind, "Assignments");
  EXPECT_TRUE(report.kinds[2].lost);
  EXPECT_EQ(report.kinds[2].reason, "the records of the assignment table were lost, so how many the file held is unknown");
  EXPECT_EQ(report.Level(), 2);
}

}  // namespace
