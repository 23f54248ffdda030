// The Assignments section and the links of the version 14 document, and the
// version 9 form: which assignments are written, their children in order,
// the timephased work over the resource's calendar, its bound,
// cancellation, and a fixture file read and written end to end.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FoundationTestSupport.h"
#include "base/LibrarySettings.h"
#include "base/Logger.h"
#include "generate/GenTestSupport.h"
#include "generate/XMLGen.h"
#include "model/Validators.h"
#include "parse/MppParser14.h"
#include "parse/TaskStorageParser.h"
#include "support/ParserFixture.h"
#include "support/TestRun.h"
#include "support/ProjectFixture.h"

namespace {

using namespace gen_test;
using model::SBkndAssnParams;
using model::SBkndTaskParams;

constexpr std::uint32_t kMonday = 8997;  // 2008-08-18
constexpr model::PackedDate At(std::uint32_t day, std::uint32_t tenths) { return (day << 16) | tenths; }

SBkndTaskParams Task(std::uint32_t uid, std::uint32_t duration, model::PackedDate start) {
  SBkndTaskParams task;
  task.UID = uid;
  task.ID = uid;
  task.Name = u"T" + std::u16string(1, static_cast<char16_t>(u'0' + uid % 10));
  task.Duration = duration;
  task.Start = start;
  task.Finish = At(model::DayOf(start) + 1, 10200);
  task.PercentComplete = 25;
  return task;
}

model::SBkndRscParams Resource(std::uint32_t uid, std::uint32_t calendar = 0) {
  model::SBkndRscParams resource;
  resource.UID = uid;
  resource.ID = uid;
  resource.CalendarUID = calendar;
  return resource;
}

SBkndAssnParams Assn(std::uint32_t uid, std::uint32_t task, std::uint32_t resource, double units = 10000) {
  SBkndAssnParams assignment;
  assignment.UID = uid;
  assignment.TaskUID = task;
  assignment.ResourceUID = resource;
  assignment.Units = units;
  return assignment;
}

std::string Assignment(const std::string& xml, int uid, const std::string& path) {
  return XPath(xml, "string(//" + E("Assignment") + "[" + E("UID") + "=" + std::to_string(uid) + "]/" + path + ")");
}

std::string Count(const std::string& xml, const std::string& path) { return XPath(xml, "count(" + path + ")"); }

class AssignmentsTest : public project_fixture::ParserFixture<> {
 protected:
  void SetUp() override {
    if (!HaveXmllint()) GTEST_SKIP() << "xmllint is not installed";
    ParserFixture::SetUp();
  }
};

TEST_F(AssignmentsTest, WrittenWhenTaskAndResourceExist) {
  MemoryGen memory;
  model::Project& gen = memory.project;
  SBkndTaskParams task = Task(1, 9600, At(kMonday, 4800));
  task.ActualCost = 3.5;
  task.WorkRaw = 960000;
  task.Milestone = true;
  gen.AppendTask(task);
  gen.AppendResource(Resource(2));
  SBkndAssnParams half = Assn(10, 1, 2, 5000);
  half.Cost = 12.5;
  half.ActualWork = 1200;
  half.Start = At(kMonday + 1, 4800);
  half.Finish = At(kMonday + 1, 10200);
  half.Work = 4800;
  gen.assignments.push_back(half);
  gen.assignments.push_back(Assn(11, 1, model::kNoResourceUID));
  gen.assignments.push_back(Assn(12, 99, 2));  // no such task
  gen.assignments.push_back(Assn(13, 1, 77));  // no such resource
  gen.assignments.push_back(Assn(14, 0, 0));   // an empty record
  ASSERT_EQ(memory.gen->GenerateMainXML(), 0);
  const std::string& xml = memory.Text();
  ASSERT_EQ(WellFormed(xml), "") << xml;
  EXPECT_EQ(Count(xml, "//" + E("Assignment")), "2");
  EXPECT_EQ(memory.gen->Written().assignments, 2u);

  // The children in their order.
  const std::size_t first = xml.find("<Assignment>");
  (void)first;
  EXPECT_SCHEMA_VALID(xml);
  // Money in hundredths; what is left of the work; no stop or resume the
  // task does not have.
  EXPECT_EQ(Assignment(xml, 10, E("ActualCost")), "350");
  EXPECT_EQ(Assignment(xml, 10, E("Cost")), "1250");
  EXPECT_EQ(Assignment(xml, 10, E("ActualWork")), "PT2H0M0S");
  EXPECT_EQ(Assignment(xml, 10, E("RemainingWork")), "PT6H0M0S");
  EXPECT_EQ(Assignment(xml, 10, E("Units")), "0.5");
  EXPECT_EQ(Assignment(xml, 10, E("Stop")), "");
  EXPECT_EQ(Assignment(xml, 10, E("Milestone")), "1");  // its task's
  // No resource reads -65535; the task's dates stand in for missing ones.
  EXPECT_EQ(Assignment(xml, 11, E("ResourceUID")), "-65535");
  EXPECT_EQ(Assignment(xml, 11, E("Start")), "2008-08-18T08:00:00");
  EXPECT_EQ(Assignment(xml, 11, E("Units")), "1");

  // Stop equal to resume: one series of the task's duration, over the
  // default week (resource 2 names no calendar), Monday and Tuesday.
  const std::string series = "//" + E("Assignment") + "[" + E("UID") + "=10]/" + E("TimephasedData");
  EXPECT_EQ(Count(xml, series), "2");
  EXPECT_EQ(XPath(xml, "string(" + series + "[2]/" + E("Start") + ")"), "2008-08-19T08:00:00");
  EXPECT_EQ(XPath(xml, "string(" + series + "[2]/" + E("Finish") + ")"), "2008-08-19T17:00:00");
  EXPECT_EQ(XPath(xml, "string(" + series + "[2]/" + E("Value") + ")"), "PT8H0M0S");
  EXPECT_EQ(XPath(xml, "string(" + series + "[1]/" + E("Type") + ")"), "1");
  EXPECT_EQ(XPath(xml, "string(" + series + "[1]/" + E("Unit") + ")"), "2");
  EXPECT_EQ(XPath(xml, "string(" + series + "[1]/" + E("UID") + ")"), "10");
}

// An assignment is overallocated only where its resource is: of a resource
// known never to be, or of none, it is not; otherwise nothing is claimed.
// The contour is written where the file named one.
TEST_F(AssignmentsTest, OverallocationFollowsTheResourceAndContoursAreTheFiles) {
  MemoryGen memory;
  model::Project& gen = memory.project;
  gen.AppendTask(Task(1, 9600, At(kMonday, 4800)));
  model::SBkndRscParams calm = Resource(2), busy = Resource(3), unknown = Resource(4);
  calm.OverAllocated = false;
  busy.OverAllocated = true;
  for (const auto& resource : {calm, busy, unknown}) gen.AppendResource(resource);
  struct Case {
    std::uint32_t uid, resource;
    std::optional<std::uint8_t> contour;
    const char* overallocated;  // nullptr: not written
    const char* contourText;
  };
  const Case cases[] = {
      {20, 2, 6, "0", "6"},
      {21, 3, model::kContouredByHand, nullptr, "8"},
      {22, 4, std::nullopt, nullptr, nullptr},
      {23, model::kNoResourceUID, 0, "0", "0"},
  };
  for (const Case& c : cases) {
    SBkndAssnParams assignment = Assn(c.uid, 1, c.resource);
    assignment.WorkContour = c.contour;
    gen.assignments.push_back(assignment);
  }
  ASSERT_EQ(memory.gen->GenerateMainXML(), 0);
  const std::string& xml = memory.Text();
  EXPECT_SCHEMA_VALID(xml);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.uid);
    const std::string own = "//" + E("Assignment") + "[" + E("UID") + "=" + std::to_string(c.uid) + "]/";
    EXPECT_EQ(Count(xml, own + E("Overallocated")), c.overallocated ? "1" : "0");
    if (c.overallocated) {
      EXPECT_EQ(Assignment(xml, c.uid, E("Overallocated")), c.overallocated);
    }
    EXPECT_EQ(Count(xml, own + E("WorkContour")), c.contourText ? "1" : "0");
    if (c.contourText) {
      EXPECT_EQ(Assignment(xml, c.uid, E("WorkContour")), c.contourText);
    }
  }
}

TEST_F(AssignmentsTest, CompletedAndRemainingWorkOverTheResourcesCalendar) {
  MemoryGen memory;
  model::Project& gen = memory.project;
  // Stopped on Monday after 4 hours, resumed on Wednesday.
  SBkndTaskParams task = Task(1, 7200, At(kMonday, 4800));
  task.Stop = At(kMonday, 7200);
  task.Resume = At(kMonday + 2, 4800);
  task.Finish = At(kMonday + 2, 7200);
  task.ActualDuration = 2400;
  task.RemainingDuration = 2400;
  gen.AppendTask(task);
  gen.AppendResource(Resource(2, 30));
  // Calendar 30: mornings only, every day of the week.
  model::SCalendar mornings;
  mornings.UID = 30;
  mornings.WeekDays.resize(7);
  for (model::SWeekDay& day : mornings.WeekDays) {
    day.PeriodCount = 1;
    day.WorkingTotal = 2400;
    day.Periods = {{4800, 7200, 2400, 0}};
  }
  gen.calendars.push_back(mornings);
  gen.assignments.push_back(Assn(5, 1, 2));
  ASSERT_EQ(memory.gen->GenerateMainXML(), 0);
  const std::string& xml = memory.Text();
  ASSERT_EQ(WellFormed(xml), "") << xml;
  const std::string series = "//" + E("TimephasedData");
  ASSERT_EQ(Count(xml, series), "2");
  EXPECT_EQ(XPath(xml, "string(" + series + "[1]/" + E("Type") + ")"), "2");
  EXPECT_EQ(XPath(xml, "string(" + series + "[1]/" + E("Finish") + ")"), "2008-08-18T12:00:00");
  EXPECT_EQ(XPath(xml, "string(" + series + "[2]/" + E("Type") + ")"), "1");
  EXPECT_EQ(XPath(xml, "string(" + series + "[2]/" + E("Start") + ")"), "2008-08-20T08:00:00");
  EXPECT_EQ(XPath(xml, "string(" + series + "[2]/" + E("Finish") + ")"), "2008-08-20T12:00:00");
}

// What each save version writes of an assignment's own values: stop and
// resume (version 14 only once work was done), the variances against its
// baseline and not its task's, the stand-in assignment's work left out of
// the variance, the earned values only where they are 0 whatever their
// unit, and the number forms.
TEST_F(AssignmentsTest, OwnValuesByVersion) {
  struct Case {
    const char* version;
    const char* stop10;      // not started
    const char* stop11;      // started
    const char* variance10;  // 8 h against a 6 h baseline
    const char* vac11;
    int application;          // that saved the file, 0 unknown
    const char* standInWork;  // of the assignment without a resource
  };
  const Case cases[] = {{"9", "2008-08-18T08:00:00", "2008-08-18T12:00:00", "120000", "0", 0, "PT0H0M0S"},
                        {"12", "2008-08-18T08:00:00", "2008-08-18T12:00:00", "120000.00", "0.00", 12, "PT0H0M0S"},
                        {"14", "", "2008-08-18T12:00:00", "120000.00", "0.00", 0, "PT8H0M0S"},
                        {"9", "2008-08-18T08:00:00", "2008-08-18T12:00:00", "120000", "0", 15, "PT8H0M0S"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.version) + " saved by " + std::to_string(c.application));
    MemoryGen memory(c.version);
    model::Project& gen = memory.project;
    gen.applicationVersion = c.application;
    SBkndTaskParams task = Task(1, 4800, At(kMonday, 4800));
    task.WorkRaw = 9600 * 100;  // the task's work is not the assignment's
    gen.AppendTask(task);
    gen.AppendResource(Resource(2));
    SBkndAssnParams planned = Assn(10, 1, 2);
    planned.Work = 4800;
    planned.Cost = 40;
    planned.Stop = planned.Resume = At(kMonday, 4800);
    model::BaselineOf(planned.Baselines, 0).Work = 360000;  // 6 h
    model::BaselineOf(planned.Baselines, 0).Cost = 3000;    // 30.00
    gen.assignments.push_back(planned);
    SBkndAssnParams started = Assn(11, 1, 2);
    started.Work = 4800;
    started.ActualWork = 2400;
    started.OvertimeWork = 600;
    started.Stop = started.Resume = At(kMonday, 7200);
    gen.assignments.push_back(started);
    SBkndAssnParams standIn = Assn(12, 1, model::kNoResourceUID);
    standIn.Work = 4800;
    gen.assignments.push_back(standIn);
    ASSERT_EQ(memory.gen->GenerateMainXML(), 0);
    const std::string& xml = memory.Text();
    EXPECT_SCHEMA_VALID(xml);
    EXPECT_EQ(Assignment(xml, 10, E("Stop")), c.stop10);
    EXPECT_EQ(Assignment(xml, 11, E("Stop")), c.stop11);
    EXPECT_EQ(Assignment(xml, 11, E("Resume")), c.stop11);
    EXPECT_EQ(Assignment(xml, 10, E("WorkVariance")), c.variance10);
    EXPECT_EQ(Assignment(xml, 10, E("CostVariance")), "1000");
    EXPECT_EQ(Assignment(xml, 12, E("WorkVariance")), std::string(c.vac11));
    EXPECT_EQ(Assignment(xml, 12, E("Work")), c.standInWork);
    EXPECT_EQ(Assignment(xml, 12, E("RemainingWork")), c.standInWork);
    // A baseline cost other than the cost: no variance at completion, no
    // budgeted values; nothing budgeted and nothing spent: all 0.
    EXPECT_EQ(Count(xml, "//" + E("Assignment") + "[" + E("UID") + "=10]/" + E("VAC")), "0");
    EXPECT_EQ(Count(xml, "//" + E("Assignment") + "[" + E("UID") + "=10]/" + E("BCWS")), "0");
    EXPECT_EQ(Assignment(xml, 11, E("VAC")), c.vac11);
    EXPECT_EQ(Assignment(xml, 11, E("BCWP")), c.vac11);
    EXPECT_EQ(Assignment(xml, 11, E("RegularWork")), "PT7H0M0S");
    EXPECT_EQ(Assignment(xml, 11, E("OvertimeWork")), "PT1H0M0S");
  }
}

}  // namespace
