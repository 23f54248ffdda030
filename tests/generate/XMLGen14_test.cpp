// The version 14 document: tasks in model order with invented names,
// links, custom fields and hostile texts, and calendar exception rules,
// checked by an independent XML reader.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "base/LibrarySettings.h"
#include "generate/GenTestSupport.h"
#include "generate/XMLGen.h"
#include "platform/Text.h"
#include "support/CfbFixture.h"
#include "support/TestRun.h"

namespace {

using namespace gen_test;
using model::SBkndTaskParams;

constexpr std::uint32_t kNumber1 = 0x0B400057;
constexpr std::uint32_t kText1 = 0x0B400033;
constexpr std::uint32_t kDuration1 = 0x0B400067;
constexpr std::uint32_t kResourceFlag11 = 0x0C4000C3;

std::vector<std::uint8_t> Bytes(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  return std::vector<std::uint8_t>(bytes, bytes + size);
}

std::vector<std::uint8_t> Utf16(std::u16string_view text) {
  return Bytes(text.data(), text.size() * 2);
}

SBkndTaskParams Task(std::uint32_t uid, std::uint32_t id, std::u16string name, std::uint16_t level,
                     std::string outline) {
  SBkndTaskParams task;
  task.UID = uid;
  task.ID = id;
  task.Name = std::move(name);
  task.OutlineLevel = level;
  task.OutlineNumber = std::move(outline);
  task.Start = 0x2000'12C0;  // 2006-06-05, 08:00
  task.Finish = 0x2001'0960;
  return task;
}

std::string TaskField(const std::string& xml, int uid, const std::string& field) {
  return XPath(xml, "string(//" + E("Task") + "[" + E("UID") + "=" + std::to_string(uid) + "]/" + E(field) + ")");
}

std::string CountOf(const std::string& xml, const std::string& path) {
  return XPath(xml, "count(" + path + ")");
}

class Gen14Test : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveXmllint()) GTEST_SKIP() << "xmllint is not installed";
    run.settings.breakFlag = &cancel;
  }
  test_support::TestRun run;
  RunContext& ctx = run.ctx;
  unsigned char cancel = 0;
};

// A project with something of everything, some of it hostile.
void FillProject(model::Project& gen) {
  gen.AppendTask(Task(0, 0, u"Project", 0, ""));
  SBkndTaskParams first = Task(1, 1, u"R&D <beta>, part 2", 1, "1");
  first.WBS.assign(1, u'1');
  first.Notes = "{\\rtf1\\ansi Check ]]> & <tags>\\par}";
  first.ActualFinish = 0;
  first.CalendarUID = 5;
  first.ConstraintType = 4;
  first.ConstraintDate = 0x2002'0000;
  gen.AppendTask(first);
  SBkndTaskParams noted = Task(2, 2, u"", 2, "1.1");
  noted.Notes = "{\\rtf1 only a note\\par}";
  gen.AppendTask(noted);
  gen.AppendTask(Task(3, 3, u"", 2, "1.2"));  // neither name nor notes
  std::u16string hostileName = u"a]]>b\x01" u"c&amp;";
  hostileName.push_back(char16_t(0xD800));  // a lone surrogate
  SBkndTaskParams hostile = Task(4, 4, hostileName, 2, "1.3");
  hostile.WBS = std::u16string(1, char16_t(0xFFFF));
  hostile.CalendarUID = 9;
  hostile.ActualFinish = 0x2003'0000;
  gen.AppendTask(hostile);

  model::SCalendar calendar;
  calendar.UID = 5;
  gen.calendars.push_back(calendar);
  calendar.UID = 40000;
  gen.calendars.push_back(calendar);
  SBkndTaskParams late = Task(5, 5, u"Late", 1, "2");
  late.CalendarUID = 40000;
  gen.AppendTask(late);
  gen.links.push_back({.UID = 1, .LinkLag = -4800, .PredecessorUID = 1, .SuccessorUID = 4, .Type = 3});
  gen.links.push_back({.UID = 2, .PredecessorUID = 99, .SuccessorUID = 4});

  gen.customFieldDefs.push_back({.Alias = u"Budget<x>", .FieldID = kNumber1});
  gen.customFieldDefs.push_back({.Alias = u"Nothing", .FieldID = 0x0B4FFFFF});
  gen.customFieldDefs.push_back({.Alias = u"Owner", .FieldID = kText1});
  const double budget = 2.5;
  gen.customFieldValues.push_back({.OwnerUID = 1, .FieldID = kNumber1, .Data = Bytes(&budget, sizeof budget)});
  gen.customFieldValues.push_back({.OwnerUID = 1, .FieldID = kText1, .Data = Utf16(u"Ann & Bob")});
  gen.customFieldValues.push_back({.OwnerUID = 4, .FieldID = 0x0B4FFFFF, .Data = Utf16(u"lost")});
  const std::uint32_t sixtyHours = 36000;
  gen.customFieldValues.push_back({.OwnerUID = 4, .FieldID = kDuration1, .Data = Bytes(&sixtyHours, 4)});
  const std::uint8_t flag = 1;
  gen.customFieldValues.push_back(
      {.OwnerUID = 4, .FieldID = kResourceFlag11, .Data = Bytes(&flag, 1), .Owner = model::OwnerKind::Resource});
}

TEST_F(Gen14Test, TasksLinksAndCustomFieldsReadBack) {
  MemoryGen memory(ctx);
  FillProject(memory.project);
  ASSERT_EQ(memory.gen->GenerateMainXML(), 0);
  const std::string& xml = memory.Text();
  ASSERT_EQ(WellFormed(xml), "") << xml;

  // Every task is written, a blank row too (it keeps its place in the
  // outline under an invented name).
  EXPECT_EQ(CountOf(xml, "//" + E("Task")), "6");
  EXPECT_EQ(memory.gen->Written().tasks, 6u);
  EXPECT_EQ(TaskField(xml, 3, "Name").rfind("Unknown task name (", 0), 0u);

  EXPECT_EQ(TaskField(xml, 1, "Name"), "R&D <beta>; part 2");
  EXPECT_EQ(TaskField(xml, 2, "Name").rfind("Unknown task name (", 0), 0u);
  EXPECT_EQ(TaskField(xml, 4, "Name"), "a]]>b!c&amp;\xEF\xBF\xBD");
  EXPECT_EQ(TaskField(xml, 1, "Notes"), "Check ]]> & <tags>");
  EXPECT_EQ(TaskField(xml, 2, "Notes"), "only a note");

  EXPECT_EQ(TaskField(xml, 1, "WBS"), "1");
  EXPECT_EQ(TaskField(xml, 2, "WBS"), "1.1");  // none stored: the outline number
  EXPECT_EQ(TaskField(xml, 4, "WBS"), "0");
  EXPECT_EQ(TaskField(xml, 0, "OutlineNumber"), "0");
  EXPECT_EQ(TaskField(xml, 4, "OutlineNumber"), "1.3");
  EXPECT_EQ(TaskField(xml, 4, "OutlineLevel"), "2");

  EXPECT_EQ(TaskField(xml, 1, "CalendarUID"), "5");
  EXPECT_EQ(TaskField(xml, 4, "CalendarUID"), "-1");  // no such calendar
  EXPECT_EQ(TaskField(xml, 5, "CalendarUID"), "40000");
  EXPECT_EQ(CountOf(xml, "//" + E("Task") + "[" + E("UID") + "=1]/" + E("ActualFinish")), "0");
  EXPECT_EQ(TaskField(xml, 4, "ActualFinish"), "2006-06-08T00:00:00");
  EXPECT_EQ(TaskField(xml, 1, "ConstraintType"), "4");
  EXPECT_NE(TaskField(xml, 1, "ConstraintDate"), "");
  EXPECT_EQ(CountOf(xml, "//" + E("Task") + "[" + E("UID") + "=4]/" + E("ConstraintDate")), "0");
  EXPECT_EQ(TaskField(xml, 1, "Start"), "2006-06-05T08:00:00");
  // Every task carries its own dates as the manual ones too.
  EXPECT_EQ(TaskField(xml, 1, "ManualStart"), TaskField(xml, 1, "Start"));
  EXPECT_SCHEMA_VALID(xml);

  // Links: only the one whose predecessor exists.
  const std::string links = "//" + E("Task") + "[" + E("UID") + "=4]/" + E("PredecessorLink");
  EXPECT_EQ(CountOf(xml, links), "1");
  EXPECT_EQ(XPath(xml, "string(" + links + "/" + E("PredecessorUID") + ")"), "1");
  EXPECT_EQ(XPath(xml, "string(" + links + "/" + E("Type") + ")"), "3");
  EXPECT_EQ(XPath(xml, "string(" + links + "/" + E("LinkLag") + ")"), "-4800");
  EXPECT_EQ(memory.gen->Written().links, 1u);

  // Definitions of known fields only, under the project.
  const std::string defs = "/" + E("Project") + "/" + E("ExtendedAttributes") + "/" + E("ExtendedAttribute");
  // Then the fields holding values without an alias, so that every value
  // can be told apart; unknown fields are never defined.
  EXPECT_EQ(CountOf(xml, defs), "4");
  EXPECT_EQ(XPath(xml, "string(" + defs + "[3]/" + E("FieldName") + ")"), "Duration1");
  EXPECT_EQ(CountOf(xml, defs + "[3]/" + E("Alias")), "0");
  EXPECT_EQ(XPath(xml, "string(" + defs + "[4]/" + E("FieldID") + ")"), std::to_string(kResourceFlag11));
  EXPECT_EQ(XPath(xml, "string(" + defs + "[1]/" + E("FieldName") + ")"), "Number1");
  EXPECT_EQ(XPath(xml, "string(" + defs + "[1]/" + E("Alias") + ")"), "Budget<x>");
  EXPECT_EQ(XPath(xml, "string(" + defs + "[2]/" + E("FieldID") + ")"), std::to_string(kText1));

  // Values: the task's own, of known fields, as text.
  const std::string values = "//" + E("Task") + "[" + E("UID") + "=%d]/" + E("ExtendedAttribute");
  auto value = [&](int uid, int n) {
    char path[512];
    std::snprintf(path, sizeof path, values.c_str(), uid);
    return XPath(xml, "string(" + std::string(path) + "[" + std::to_string(n) + "]/" + E("Value") + ")");
  };
  EXPECT_EQ(value(1, 1), "2.5");
  EXPECT_EQ(value(1, 2), "Ann & Bob");
  EXPECT_EQ(value(4, 1), "PT60H0M0S");
  EXPECT_EQ(CountOf(xml, "//" + E("Task") + "[" + E("UID") + "=4]/" + E("ExtendedAttribute")), "1");
}

// Calendar exceptions as the application writes them: each rule with its
// own parameters, working days with their hours; a rule the document
// cannot carry is left out rather than written as a range of days off.
// Elements derived from stored values are written only where those values
// settle them: each row a task and what must (or must not) come out.
TEST_F(Gen14Test, DerivedTaskElementsOnlyWhereTheFileSettlesThem) {
  MemoryGen memory(ctx);
  model::Project& gen = memory.project;
  gen.AppendTask(Task(0, 0, u"Project", 0, ""));
  auto add = [&](std::uint32_t uid, auto change) {
    SBkndTaskParams t = Task(uid, uid, u"T", 1, std::to_string(uid));
    change(t);
    gen.AppendTask(t);
  };
  add(1, [](SBkndTaskParams& t) { t.StartSlack = 0, t.FinishSlack = 4800, t.Critical = true; });
  add(2, [](SBkndTaskParams& t) { t.StartSlack = 0, t.FinishSlack = 0, t.Critical = false; });
  add(3, [](SBkndTaskParams& t) { t.StartSlack = 4800, t.Manual = true, t.Critical = true; });
  add(4, [](SBkndTaskParams& t) {
    t.Work = 6000, t.ActualOvertimeWork = 600, t.RemainingOvertimeWork = 1200;
  });
  add(5, [](SBkndTaskParams& t) { t.Work = 600, t.RemainingOvertimeWork = 1200; });
  add(6, [](SBkndTaskParams& t) {
    model::SBaseline& b = model::BaselineOf(t.Baselines, 0);
    b.Start = t.Start;
    b.Finish = t.Finish + 600;
    b.Cost = 500.0;
  });
  ASSERT_EQ(memory.gen->GenerateMainXML(), 0);
  const std::string& xml = memory.Text();
  struct Row {
    int uid;
    const char* field;
    const char* expected;  // "" = not written
  };
  const Row rows[] = {
      {1, "Critical", "1"},          {1, "TotalSlack", "0"},       {1, "FinishSlack", "4800"},
      {2, "Critical", "0"},          {3, "Critical", "1"},         {4, "Critical", ""},
      {4, "OvertimeWork", "PT3H0M0S"},
      {4, "RegularWork", "PT7H0M0S"}, {5, "RegularWork", ""},      {5, "OvertimeWork", "PT2H0M0S"},
      {1, "StartVariance", "0"},     {6, "StartVariance", "0"},    {6, "FinishVariance", ""},
      {6, "BCWS", ""},               {1, "BCWS", "0.00"},          {6, "ACWP", "0.00"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.uid) + " " + row.field);
    const std::string path =
        "//" + E("Task") + "[" + E("UID") + "=" + std::to_string(row.uid) + "]/" + E(row.field);
    const std::string count = CountOf(xml, path);
    EXPECT_EQ(count, *row.expected ? "1" : "0");
    if (*row.expected) EXPECT_EQ(TaskField(xml, row.uid, row.field), row.expected);
  }
  EXPECT_SCHEMA_VALID(xml);
}

TEST_F(Gen14Test, CalendarExceptionsKeepTheirRules) {
  struct Case {
    const char* name;
    std::uint16_t rule, occurrences;
    std::uint8_t v76, v77;
    std::uint16_t v78;
    const char* expected;  // the rule's elements, "tag=value ..."; "" when left out
  };
  const Case cases[] = {
      {"Holiday", 1, 1, 0, 0, 0, "Type=1"},
      {"Every3Days", 7, 4, 3, 0, 0, "Type=7 Period=3 Occurrences=4"},
      {"Mondays", 6, 3, 0x02, 0, 1, "Type=6 Period=1 DaysOfWeek=2"},
      {"Monthly1st", 4, 3, 1, 0, 2, "Type=4 Period=2 MonthDay=1"},
      {"LastMonday", 5, 3, 4, 4, 1, "Type=5 Period=1 MonthItem=4 MonthPosition=4"},
      {"Feb1", 2, 3, 1, 1, 0, "Type=2 Month=1 MonthDay=1"},
      {"FirstSunOfMarch", 3, 3, 2, 0, 3, "Type=3 Month=2 MonthPosition=0 MonthItem=3"},
      {"Damaged", 9, 3, 0, 0, 0, ""},
      {"NoDays", 6, 3, 0, 0, 1, ""},
  };
  MemoryGen memory(ctx);
  model::Project& gen = memory.project;
  FillProject(gen);
  for (const Case& c : cases) {
    model::SCalendarException e;
    e.CalendarUID = 5;
    e.FromDate = 0x2000'0000;
    e.ToDate = 0x2010'0000 | 14390;
    e.Recurrence = c.rule;
    e.Occurrences = c.occurrences;
    e.Value76 = c.v76;
    e.Value77 = c.v77;
    e.Value78 = c.v78;
    e.Name = std::u16string(c.name, c.name + std::strlen(c.name));
    gen.calendarExceptions.push_back(e);
  }
  model::SCalendarException worked;
  worked.CalendarUID = 5;
  worked.FromDate = worked.ToDate = 0x2005'0000;
  worked.Day.Periods.push_back({.Start = 5400, .End = 7200});
  gen.calendarExceptions.push_back(worked);
  ASSERT_EQ(memory.gen->GenerateMainXML(), 0);
  const std::string& xml = memory.Text();
  EXPECT_SCHEMA_VALID(xml);
  const std::string exceptions = "//" + E("Calendar") + "[" + E("UID") + "=5]/" + E("Exceptions") + "/" + E("Exception");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string one = exceptions + "[" + E("Name") + "='" + c.name + "']";
    if (!*c.expected) {
      EXPECT_EQ(CountOf(xml, one), "0");
      continue;
    }
    std::istringstream pairs(c.expected);
    for (std::string pair; pairs >> pair;) {
      const std::size_t eq = pair.find('=');
      EXPECT_EQ(XPath(xml, "string(" + one + "/" + E(pair.substr(0, eq)) + ")"), pair.substr(eq + 1)) << pair;
    }
    EXPECT_EQ(XPath(xml, "string(" + one + "/" + E("DayWorking") + ")"), "0");
  }
  const std::string working = exceptions + "[" + E("DayWorking") + "=1]";
  EXPECT_EQ(XPath(xml, "string(" + working + "//" + E("FromTime") + ")"), "09:00:00");
  EXPECT_EQ(XPath(xml, "string(" + working + "/" + E("TimePeriod") + "/" + E("FromDate") + ")"),
            "2006-06-10T00:00:00");
}

// A work week lists the days it defines, not those it takes from the
// calendar; one whose range ends before it starts is left out.
TEST_F(Gen14Test, WorkWeeksListTheirOwnDays) {
  MemoryGen memory(ctx);
  model::Project& gen = memory.project;
  FillProject(gen);
  model::SWorkWeek summer;
  summer.CalendarUID = 5;
  summer.Name = u"Summer";
  summer.FromDate = 0x2000'0000;
  summer.ToDate = 0x2010'0000 | 14390;
  summer.WeekDays.resize(7);
  for (model::SWeekDay& day : summer.WeekDays) day.DayFlag = 1;
  summer.WeekDays[5] = {.DayFlag = 0, .PeriodCount = 1, .WorkingTotal = 3000, .Periods = {{.Start = 4800, .End = 7800}}};
  gen.workWeeks.push_back(summer);
  model::SWorkWeek backwards = summer;
  backwards.Name = u"Backwards";
  std::swap(backwards.FromDate, backwards.ToDate);
  gen.workWeeks.push_back(backwards);
  ASSERT_EQ(memory.gen->GenerateMainXML(), 0);
  const std::string& xml = memory.Text();
  EXPECT_SCHEMA_VALID(xml);
  const std::string week = "//" + E("Calendar") + "[" + E("UID") + "=5]/" + E("WorkWeeks") + "/" + E("WorkWeek");
  EXPECT_EQ(CountOf(xml, week), "1");
  EXPECT_EQ(XPath(xml, "string(" + week + "/" + E("Name") + ")"), "Summer");
  EXPECT_EQ(CountOf(xml, week + "//" + E("WeekDay")), "1");
  EXPECT_EQ(XPath(xml, "string(" + week + "//" + E("WeekDay") + "/" + E("DayType") + ")"), "6");
  EXPECT_EQ(XPath(xml, "string(" + week + "//" + E("ToTime") + ")"), "13:00:00");
}

// Definitions take the form of the application that saved the file, not
// of its format: GUIDs from the 2010 application on, the assignment
// field from the 2007 one on.
TEST_F(Gen14Test, DefinitionsFollowTheSavingApplication) {
  struct Case {
    const char* version;
    int application;
    const char* guids;
    const char* secondary;
  };
  const Case cases[] = {{"9", 0, "0", "0"}, {"9", 12, "0", "1"}, {"9", 15, "1", "1"},
                        {"12", 0, "0", "1"}, {"14", 0, "1", "1"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.version) + " saved by " + std::to_string(c.application));
    MemoryGen memory(ctx, c.version);
    memory.project.applicationVersion = c.application;
    memory.project.customFieldDefs.push_back({.Alias = u"Owner", .FieldID = kText1});
    ASSERT_EQ(memory.gen->GenerateMainXML(), 0);
    const std::string& xml = memory.Text();
    EXPECT_SCHEMA_VALID(xml);
    const std::string def = "//" + E("ExtendedAttributes") + "/" + E("ExtendedAttribute") + "/";
    EXPECT_EQ(CountOf(xml, def + E("Guid")), c.guids);
    EXPECT_EQ(CountOf(xml, def + E("SecondaryPID")), c.secondary);
  }
}

// What no file keeps, as the application writes it: a task is not
// overallocated when its resources never are (a summary row: when no
// resource of the project is); published, but the project's own row from
// the 2010 application on; never resumable.
TEST_F(Gen14Test, ElementsTheFileDoesNotKeep) {
  for (const int application : {9, 12, 15}) {
    SCOPED_TRACE(application);
    MemoryGen memory(ctx);
    model::Project& gen = memory.project;
    gen.applicationVersion = application;
    gen.AppendTask(Task(0, 0, u"Plan", 0, "0"));
    for (std::uint32_t uid = 1; uid <= 4; ++uid) gen.AppendTask(Task(uid, uid, u"T", 1, std::to_string(uid)));
    const std::optional<bool> marks[] = {false, true, std::nullopt};  // resources 11, 12, 13
    for (std::uint32_t i = 0; i < 3; ++i) {
      model::SBkndRscParams resource;
      resource.UID = resource.ID = 11 + i;
      resource.OverAllocated = marks[i];
      gen.AppendResource(resource);
      model::SBkndAssnParams assignment;
      assignment.UID = 20 + i;
      assignment.TaskUID = 1 + i;
      assignment.ResourceUID = 11 + i;
      gen.assignments.push_back(assignment);
    }
    ASSERT_EQ(memory.gen->GenerateMainXML(), 0);
    const std::string& xml = memory.Text();
    EXPECT_SCHEMA_VALID(xml);
    auto count = [&](int uid, const char* field) {
      return CountOf(xml, "//" + E("Task") + "[" + E("UID") + "=" + std::to_string(uid) + "]/" + E(field));
    };
    EXPECT_EQ(TaskField(xml, 1, "OverAllocated"), "0");
    EXPECT_EQ(count(2, "OverAllocated"), "0");
    EXPECT_EQ(count(3, "OverAllocated"), "0");
    EXPECT_EQ(TaskField(xml, 4, "OverAllocated"), "0");  // no assignment
    EXPECT_EQ(count(0, "OverAllocated"), "0");
    EXPECT_EQ(TaskField(xml, 2, "ResumeValid"), "0");
    EXPECT_EQ(count(1, "IsPublished"), application >= 12 ? "1" : "0");
    if (application >= 12) {
      EXPECT_EQ(TaskField(xml, 1, "IsPublished"), "1");
      EXPECT_EQ(TaskField(xml, 0, "IsPublished"), application >= 14 ? "0" : "1");
    }
  }
}

}  // namespace
