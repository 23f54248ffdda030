// The Resources and Calendars sections: the version 14 forms with their
// availability periods, rates, custom values, names and week days, and the
// base generator's resources; checked by an independent XML reader.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/TestRun.h"
#include "base/LibrarySettings.h"
#include "generate/GenTestSupport.h"
#include "generate/XMLGen.h"

namespace {

using namespace gen_test;
using model::SBkndRscParams;

constexpr std::uint32_t kResourceText1 = 0x0C400008;
constexpr std::uint32_t kDay = 14400;  // tenths of a minute

SBkndRscParams Resource(std::uint32_t uid, std::u16string name) {
  SBkndRscParams resource;
  resource.UID = uid;
  resource.ID = uid + 100;
  resource.Name = std::move(name);
  return resource;
}

std::string Field(const std::string& xml, const std::string& element, int uid, const std::string& path) {
  return XPath(xml, "string(//" + E(element) + "[" + E("UID") + "=" + std::to_string(uid) + "]/" + path + ")");
}

std::string CountOf(const std::string& xml, const std::string& path) { return XPath(xml, "count(" + path + ")"); }

// The text between the first open tag of element after `after` and its close.
std::string RawValue(const std::string& xml, const std::string& element, const std::string& after) {
  const std::size_t from = xml.find(after);
  const std::string open = "<" + element + ">";
  const std::size_t start = xml.find(open, from == std::string::npos ? 0 : from);
  if (start == std::string::npos) return "";
  const std::size_t end = xml.find("</" + element + ">", start);
  return xml.substr(start + open.size(), end - start - open.size());
}

class ResourceXmlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveXmllint()) GTEST_SKIP() << "xmllint is not installed";
    run.settings.breakFlag = &cancel;
  }
  test_support::TestRun run;
  RunContext& ctx = run.ctx;
  unsigned char cancel = 0;
};

void FillResources(model::Project& gen) {
  SBkndRscParams work = Resource(1, u"A<B & Co, Ltd");
  work.Group = u"A<B";
  work.Initials = u"AB";
  work.StandardRate = 42.5;
  work.OvertimeRate = 60;
  work.CostPerUse = 12.75;
  work.StandardRateFormat = 9;  // as stored
  work.OvertimeRateFormat = 3;
  work.CalendarUID = 40000;
  work.BookingType = 1;
  work.IsGeneric = 1;
  work.Notes = "{\\rtf1 Works\\par}";
  gen.AppendResource(work);
  SBkndRscParams material = Resource(2, u"Steel");
  material.Type = 1;
  material.MaterialLabel = u"t";
  material.CalendarUID = 9;  // no such calendar
  gen.AppendResource(material);
  SBkndRscParams cost = Resource(3, u"Travel");
  cost.Type = 1;
  cost.IsCostResource = 1;
  gen.AppendResource(cost);
  SBkndRscParams noted = Resource(4, u"");
  noted.Notes = "{\\rtf1 only a note}";
  gen.AppendResource(noted);
  gen.AppendResource(Resource(5, u""));  // neither name nor notes

  model::SCalendar calendar;
  calendar.UID = 40000;
  gen.calendars.push_back(calendar);

  gen.availability.push_back({1, 10 * kDay, 20 * kDay, 10000});
  gen.availability.push_back({1, 20 * kDay, 30 * kDay, 5000});
  gen.availability.push_back({1, 30 * kDay, model::kOpenRateEnd, 2500});
  gen.rates.push_back({1, 0, 100 * kDay, 0, 10, 2, 15, 2, 1.5});
  gen.rates.push_back({1, 100 * kDay, model::kOpenRateEnd, 0, 12.25, 2, 18, 2, 0});
  gen.customFieldValues.push_back({.OwnerUID = 1, .FieldID = kResourceText1,
                                   .Data = {'S', 0, 'i', 0, 't', 0, 'e', 0}, .Owner = model::OwnerKind::Resource});
}

TEST_F(ResourceXmlTest, ResourcesReadBackWithTheirPeriodsRatesAndValues) {
  MemoryGen memory(ctx);
  FillResources(memory.project);
  ASSERT_EQ(memory.gen->GenerateMainXML(), 0);
  const std::string& xml = memory.Text();
  ASSERT_EQ(WellFormed(xml), "") << xml;

  EXPECT_EQ(CountOf(xml, "//" + E("Resource")), "4");
  EXPECT_EQ(memory.gen->Written().resources, 4u);
  auto field = [&](int uid, const std::string& name) { return Field(xml, "Resource", uid, E(name)); };
  EXPECT_EQ(field(1, "ID"), "101");
  // Names are escaped by hand, commas kept; other texts go into CDATA.
  EXPECT_EQ(RawValue(xml, "Name", "<UID>1</UID>"), "A&lt;B &amp; Co, Ltd");
  EXPECT_EQ(RawValue(xml, "Group", "<UID>1</UID>"), "<![CDATA[A<B]]>");
  EXPECT_EQ(field(4, "Name").rfind("Unknown resource name (", 0), 0u);
  EXPECT_EQ(field(1, "Type"), "1");  // work
  EXPECT_EQ(field(2, "Type"), "0");  // material
  EXPECT_EQ(field(3, "Type"), "0");  // cost: material, with the cost mark
  EXPECT_EQ(field(3, "IsCostResource"), "1");
  EXPECT_EQ(field(1, "StandardRate"), "42.5");
  EXPECT_EQ(field(1, "StandardRateFormat"), "2");  // 9 is no format
  EXPECT_EQ(field(1, "OvertimeRateFormat"), "3");
  EXPECT_EQ(field(1, "CostPerUse"), "1275");  // hundredths
  EXPECT_EQ(field(1, "CalendarUID"), "40000");  // whole, not cut to 16 bits
  EXPECT_EQ(field(2, "CalendarUID"), "-1");
  EXPECT_EQ(field(1, "BookingType"), "1");
  EXPECT_EQ(field(2, "BookingType"), "0");  // committed, where the file keeps none
  EXPECT_EQ(field(1, "IsGeneric"), "1");
  EXPECT_EQ(field(1, "Notes"), "Works");
  EXPECT_EQ(field(2, "MaterialLabel"), "t");

  EXPECT_SCHEMA_VALID(xml);

  const std::string periods = "//" + E("Resource") + "[" + E("UID") + "=1]/" + E("AvailabilityPeriods") + "/" +
                              E("AvailabilityPeriod");
  EXPECT_EQ(CountOf(xml, periods), "3");
  EXPECT_EQ(XPath(xml, "string(" + periods + "[1]/" + E("AvailableFrom") + ")"), "1984-01-10T00:00:00");
  // One minute before the stored end.
  EXPECT_EQ(XPath(xml, "string(" + periods + "[1]/" + E("AvailableTo") + ")"), "1984-01-19T23:59:00");
  EXPECT_EQ(XPath(xml, "string(" + periods + "[1]/" + E("AvailableUnits") + ")"), "1");
  EXPECT_EQ(XPath(xml, "string(" + periods + "[2]/" + E("AvailableUnits") + ")"), "0.5");
  // An open end is the last minute of 2049 for periods too.
  EXPECT_EQ(XPath(xml, "string(" + periods + "[3]/" + E("AvailableTo") + ")"), "2049-12-31T23:59:00");
  // Others get an empty container while any resource has periods.
  EXPECT_EQ(CountOf(xml, "//" + E("Resource") + "[" + E("UID") + "=2]/" + E("AvailabilityPeriods")), "1");
  EXPECT_EQ(CountOf(xml, "//" + E("Resource") + "[" + E("UID") + "=2]/" + E("AvailabilityPeriods") + "/*"), "0");

  const std::string rates = "//" + E("Resource") + "[" + E("UID") + "=1]/" + E("Rates") + "/" + E("Rate");
  EXPECT_EQ(CountOf(xml, rates), "2");
  EXPECT_EQ(XPath(xml, "string(" + rates + "[1]/" + E("RatesFrom") + ")"), "1984-01-01T00:00:00");
  // One minute before the next entry starts.
  EXPECT_EQ(XPath(xml, "string(" + rates + "[1]/" + E("RatesTo") + ")"), "1984-04-08T23:59:00");
  EXPECT_EQ(XPath(xml, "string(" + rates + "[1]/" + E("CostPerUse") + ")"), "150");
  // The open end is the last minute of 2049.
  EXPECT_EQ(XPath(xml, "string(" + rates + "[2]/" + E("RatesTo") + ")"), "2049-12-31T23:59:00");
  EXPECT_EQ(XPath(xml, "string(" + rates + "[2]/" + E("StandardRate") + ")"), "12.25");

  EXPECT_EQ(Field(xml, "Resource", 1, E("ExtendedAttribute") + "/" + E("Value")), "Site");
  EXPECT_EQ(Field(xml, "Resource", 1, E("ExtendedAttribute") + "/" + E("FieldID")), std::to_string(kResourceText1));
}

// The totals each kind of resource gets, and the values derived from them.
TEST_F(ResourceXmlTest, TotalsFollowTheResourceType) {
  MemoryGen memory(ctx);
  model::Project& gen = memory.project;
  auto withTotals = [](SBkndRscParams resource) {
    resource.HasFixedRecord = true;
    resource.MaxUnits = 1.5;
    resource.PeakUnits = 2.0;
    resource.CanLevel = false;
    resource.OverAllocated = true;
    resource.Work = 4800.0 + 5.1 / 60.0;  // to the second
    resource.RegularWork = 4260.0;
    resource.OvertimeWork = 540.0;
    resource.ActualWork = 1200.0;
    resource.RemainingWork = 3600.0;
    resource.ActualOvertimeWork = resource.RemainingOvertimeWork = 0.0;
    resource.Cost = 4090.0;
    resource.ActualCost = 0.0;
    resource.RemainingCost = 4090.0;
    resource.OvertimeCost = 540.0;
    resource.ActualOvertimeCost = resource.RemainingOvertimeCost = 0.0;
    resource.CreationDate = (12710u << 16) | 8750u;  // 2018-10-18 14:35
    resource.Guid = std::array<std::uint8_t, 16>{0xB2, 0x24, 0x78, 0x2A, 0xD2, 0xDA, 0x11, 0xE8,
                                                 0xAC, 0x3F, 0x4C, 0xED, 0xDE, 0x6E, 0x5B, 0x57};
    model::BaselineOf(resource.Baselines, 0).Work = 4000.0 * 1000.0;
    return resource;
  };
  gen.AppendResource(withTotals(Resource(1, u"Work")));
  SBkndRscParams material = withTotals(Resource(2, u"Material"));
  material.Type = 1;
  gen.AppendResource(material);
  SBkndRscParams cost = withTotals(Resource(3, u"Cost"));
  cost.Type = 1;
  cost.IsCostResource = 1;
  model::BaselineOf(cost.Baselines, 0).Cost = 100000.0;  // 1000 in hundredths: budgeted
  gen.AppendResource(cost);
  gen.AppendResource(Resource(4, u"No record"));
  SBkndRscParams project = Resource(0, u"");  // the project's own, nameless
  project.HasFixedRecord = true;
  gen.AppendResource(project);
  ASSERT_EQ(memory.gen->GenerateMainXML(), 0);
  const std::string& xml = memory.Text();
  EXPECT_SCHEMA_VALID(xml);

  struct Case {
    const char* element;
    const char* work;  // value per resource 1..4; nullptr: not written
    const char* material;
    const char* cost;
    const char* none;
  };
  const Case cases[] = {
      {"MaxUnits", "1.50", nullptr, nullptr, nullptr},
      {"PeakUnits", "2.00", "2.00", "2.00", nullptr},
      {"CanLevel", "0", "0", "0", nullptr},
      {"OverAllocated", "1", "1", "1", nullptr},
      {"Work", "PT80H0M5S", "PT80H0M5S", nullptr, nullptr},
      {"OvertimeWork", "PT9H0M0S", "PT9H0M0S", "PT9H0M0S", nullptr},
      {"ActualWork", "PT20H0M0S", "PT20H0M0S", nullptr, nullptr},
      {"OvertimeRate", "0", nullptr, nullptr, "0"},
      {"CostPerUse", "0", "0", nullptr, "0"},
      {"StandardRateFormat", "2", "8", "2", "2"},
      {"PercentWorkComplete", nullptr, nullptr, nullptr, nullptr},  // 24.99.. %: no whole percent
      {"Cost", "409000", "409000", "409000", nullptr},
      {"OvertimeCost", "54000", nullptr, nullptr, nullptr},
      {"WorkVariance", "800085.00", "800085.00", "800085.00", nullptr},
      {"CostVariance", "409000", "409000", "309000", nullptr},
      {"BCWS", "0.00", "0.00", nullptr, nullptr},
      {"ACWP", "0.00", "0.00", "0.00", nullptr},
      {"CV", "0.00", "0.00", nullptr, nullptr},
      {"CreationDate", "2018-10-18T14:35:00", "2018-10-18T14:35:00", "2018-10-18T14:35:00", nullptr},
      {"GUID", "2A7824B2-DAD2-E811-AC3F-4CEDDE6E5B57", "2A7824B2-DAD2-E811-AC3F-4CEDDE6E5B57",
       "2A7824B2-DAD2-E811-AC3F-4CEDDE6E5B57", nullptr},
  };
  for (const Case& c : cases) {
    const char* expected[] = {c.work, c.material, c.cost, c.none};
    for (int uid = 1; uid <= 4; ++uid) {
      SCOPED_TRACE(std::string(c.element) + " of resource " + std::to_string(uid));
      const std::string path = "//" + E("Resource") + "[" + E("UID") + "=" + std::to_string(uid) + "]/" + E(c.element);
      EXPECT_EQ(CountOf(xml, path), expected[uid - 1] ? "1" : "0");
      if (expected[uid - 1]) EXPECT_EQ(XPath(xml, "string(" + path + ")"), expected[uid - 1]);
    }
  }
  EXPECT_EQ(CountOf(xml, "//" + E("Resource") + "[" + E("UID") + "=0]"), "1");
  EXPECT_EQ(CountOf(xml, "//" + E("Resource") + "[" + E("UID") + "=0]/" + E("Name")), "0");
}

// --- calendars ----------------------------------------------------------

TEST_F(ResourceXmlTest, CalendarsWithTheirWeekDaysNamesAndBaseCalendars) {
  MemoryGen memory(ctx);
  model::Project& gen = memory.project;
  model::SCalendar standard;
  standard.UID = 1;
  standard.Name = u"Standard & Co";
  standard.IsBaseCalendar = 1;
  standard.WeekDays = model::DefaultWorkingWeek();
  gen.calendars.push_back(standard);

  model::SCalendar night;  // a resource calendar with a stale name of its own
  night.UID = 40000;
  night.Name = u"Old name";
  night.BaseCalendarUID = 1;
  night.ResourceUID = 7;
  night.WeekDays = model::DefaultWorkingWeek();
  night.WeekDays[2].Periods = {{13800, 14400, 600, 600}};
  night.WeekDays[2].PeriodCount = 1;
  night.WeekDays[2].WorkingTotal = 600;
  gen.calendars.push_back(night);

  model::SCalendar partial;  // not seven days; its base is not there
  partial.UID = 3;
  partial.ResourceUID = 8;
  partial.BaseCalendarUID = 99;
  partial.WeekDays.resize(3);
  gen.calendars.push_back(partial);

  gen.AppendResource(Resource(7, u"Night, shift <B>"));
  gen.AppendResource(Resource(8, u""));

  ASSERT_EQ(memory.gen->GenerateCalendarXML(), 0);
  const std::string xml = "<Project>" + memory.Text() + "</Project>";
  ASSERT_EQ(WellFormed(xml), "") << xml;
  auto field = [&](int uid, const std::string& path) { return Field(xml, "Calendar", uid, path); };

  EXPECT_EQ(RawValue(xml, "Name", "<UID>1</UID>"), "Standard &amp; Co");
  EXPECT_EQ(field(1, E("IsBaseCalendar")), "1");
  EXPECT_EQ(field(1, E("IsBaselineCalendar")), "0");
  EXPECT_EQ(field(1, E("BaseCalendarUID")), "-1");
  const std::string days = E("WeekDays") + "/" + E("WeekDay");
  EXPECT_EQ(CountOf(xml, "//" + E("Calendar") + "[" + E("UID") + "=1]/" + days), "7");
  for (int d : {1, 7}) {
    const std::string day = days + "[" + E("DayType") + "=" + std::to_string(d) + "]";
    EXPECT_EQ(field(1, day + "/" + E("DayWorking")), "0");
    EXPECT_EQ(CountOf(xml, "//" + E("Calendar") + "[" + E("UID") + "=1]/" + day + "/" + E("WorkingTimes")), "0");
  }

  // Named after its resource, commas as semicolons, escaped.
  EXPECT_EQ(RawValue(xml, "Name", "<UID>40000</UID>"), "Night; shift &lt;B&gt;");
  EXPECT_EQ(field(40000, E("BaseCalendarUID")), "1");
  const std::string tuesday = days + "[" + E("DayType") + "=3]/" + E("WorkingTimes") + "/" + E("WorkingTime");
  EXPECT_EQ(field(40000, tuesday + "/" + E("FromTime")), "23:00:00");
  EXPECT_EQ(field(40000, tuesday + "/" + E("ToTime")), "00:00:00");  // midnight

  // No name of its own and a nameless resource: no Name; without a whole
  // week, no WeekDays (its days are its base calendar's).
  EXPECT_EQ(CountOf(xml, "//" + E("Calendar") + "[" + E("UID") + "=3]/" + E("Name")), "0");
  EXPECT_EQ(CountOf(xml, "//" + E("Calendar") + "[" + E("UID") + "=3]/" + E("WeekDays")), "0");
  EXPECT_EQ(CountOf(xml, "//" + E("Calendar") + "[" + E("UID") + "=3]/" + days), "0");
  EXPECT_EQ(field(3, E("BaseCalendarUID")), "-1");
}

}  // namespace
