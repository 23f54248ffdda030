// The resources and calendars of every version 14 sample, read by the
// version 14 reader and written by its generator: field by field against
// the reference facts for the 2010 application's samples, and a document
// that an independent XML reader accepts for every sample.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "support/TestRun.h"
#include "generate/GenTestSupport.h"
#include "generate/XMLGen.h"
#include "parse/CalendarParser.h"
#include "parse/MppParser14.h"
#include "platform/Text.h"
#include "support/CfbFixture.h"
#include "support/CorpusReference.h"

namespace {

namespace fs = std::filesystem;
using corpus_reference::Json;

struct Agreement {
  std::size_t agreed = 0;
  std::size_t compared = 0;
  void Add(bool same) {
    ++compared;
    agreed += same;
  }
  double Percent() const {
    return compared ? 100.0 * static_cast<double>(agreed) / static_cast<double>(compared) : 100.0;
  }
};

std::string Text(const Json* value) {
  return value && value->type == Json::Type::String ? value->text : std::string();
}

std::optional<double> Number(const Json* value) {
  if (value && value->type == Json::Type::Number) return value->number;
  return std::nullopt;
}

bool Near(double ours, std::optional<double> theirs) {
  return theirs && std::fabs(ours - *theirs) <= 0.005 * std::max(1.0, std::fabs(*theirs));
}

// A week as "day:working:hh:mm-hh:mm,..." per day, midnight as 24:00.
using Week = std::vector<std::string>;

std::string Clock(std::uint32_t tenths) {
  char text[16];
  std::snprintf(text, sizeof text, "%02u:%02u", tenths / 600, tenths / 10 % 60);
  return text;
}

Week OurWeek(const std::vector<model::SWeekDay>& days) {
  Week week;
  for (const model::SWeekDay& day : days) {
    std::string text = day.WorkingTotal != 0 ? "1" : "0";
    if (day.WorkingTotal != 0)
      for (const model::SWorkingPeriod& p : day.Periods) {
        text += ' ';
        text += Clock(p.Start);
        text += '-';
        text += Clock(p.End);
      }
    week.push_back(text);
  }
  return week;
}

// The reference's week of a calendar, the days it leaves open taken from
// its base calendar.
Week ReferenceWeek(const Json& calendar, const std::map<long, const Json*>& byUid) {
  Week week(7);
  std::vector<bool> known(7, false);
  const Json* current = &calendar;
  for (int depth = 0; current && depth < 8; ++depth) {
    if (const Json* days = current->Get("days"))
      for (const Json& day : days->items) {
        const auto d = static_cast<long>(Number(day.Get("day")).value_or(0));
        if (d < 1 || d > 7 || known[d - 1]) continue;
        const Json* working = day.Get("working");
        const bool on = working && working->boolean;
        std::string text = on ? "1" : "0";
        if (on)
          if (const Json* ranges = day.Get("ranges"))
            for (const Json& range : ranges->items)
              if (range.items.size() == 2) {
                text += ' ';
                text += range.items[0].text;
                text += '-';
                text += range.items[1].text;
              }
        week[d - 1] = text;
        known[d - 1] = true;
      }
    auto base = Number(current->Get("base_uid"));
    auto found = base ? byUid.find(static_cast<long>(*base)) : byUid.end();
    current = found == byUid.end() || found->second == current ? nullptr : found->second;
  }
  return week;
}

const char* TypeName(const model::SBkndRscParams& r) {
  if (r.IsCostResource) return "cost";
  return r.Type != 0 ? "material" : "work";
}

TEST(RscCalCorpus14, ResourcesAndCalendarsAgreeWithTheReference) {
  const fs::path corpus = fs::path(MDW_SOURCE_DIR "/../shared/corpus");
  if (!fs::exists(corpus / "mpp")) GTEST_SKIP() << "no sample corpus at " << corpus;
  if (!gen_test::HaveXmllint()) GTEST_SKIP() << "xmllint is not installed";
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(corpus / "mpp"))
    if (entry.is_regular_file() && corpus_reference::IsVersion14(entry.path())) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  if (files.empty()) GTEST_SKIP() << "no version 14 samples in " << corpus;

  fixture::ScratchDir scratch;
  std::map<std::string, Agreement> fields;
  std::size_t files2010 = 0, documents = 0, nameless = 0;
  std::vector<std::string> malformed, notes;
  for (const fs::path& file : files) {
    const bool by2010 = corpus_reference::WrittenBy2010(file);
    const std::string xml = scratch.File(file.stem().string() + ".xml");
    model::Project project;
    CXMLGen gen(test_support::QuietRun(), project, platform::Utf8ToUtf16(xml));
    CMppParser_14 parser(test_support::QuietRun(), platform::Utf8ToUtf16(file.string()), project,
                         {[&gen] { return gen.GenerateMainXML(); }, [&gen] { gen.CloseOutput(); }});
    parser.Parse(nullptr);
    ++documents;
    if (std::string complaint = gen_test::WellFormedFile(xml); !complaint.empty())
      malformed.push_back(file.filename().string() + ": " + complaint.substr(0, 200));
    if (!by2010) continue;

    auto reference = corpus_reference::LoadJson(corpus / "reference" / (file.stem().string() + ".json"));
    if (!reference || !reference->Get("read_ok") || !reference->Get("read_ok")->boolean) continue;
    ++files2010;
    const model::Project& model = parser.Model();

    std::unordered_map<std::uint32_t, const model::SBkndRscParams*> resources;
    for (const auto& r : model.Resources()) resources.try_emplace(r.UID, &r);
    if (const Json* refResources = reference->Get("resources"))
      for (const Json& ref : refResources->items) {
        auto uid = Number(ref.Get("uid"));
        if (!uid) continue;
        auto found = resources.find(static_cast<std::uint32_t>(*uid));
        fields["resource uid"].Add(found != resources.end());
        // The project's own nameless resource 0: there, with nothing to compare.
        if (Text(ref.Get("name")).empty()) {
          ++nameless;
          continue;
        }
        if (found == resources.end()) {
          notes.push_back(file.filename().string() + ": resource " + std::to_string(static_cast<long>(*uid)) +
                          " missing");
          continue;
        }
        const model::SBkndRscParams& r = *found->second;
        fields["resource name"].Add(platform::Utf16ToUtf8(r.Name) == Text(ref.Get("name")));
        fields["resource initials"].Add(platform::Utf16ToUtf8(r.Initials) == Text(ref.Get("initials")));
        fields["resource group"].Add(platform::Utf16ToUtf8(r.Group) == Text(ref.Get("group")));
        fields["resource type"].Add(Text(ref.Get("type")) == TypeName(r));
        fields["standard rate"].Add(Near(r.StandardRate, Number(ref.Get("standard_rate"))));
        fields["overtime rate"].Add(Near(r.OvertimeRate, Number(ref.Get("overtime_rate"))));
        fields["cost per use"].Add(Near(r.CostPerUse, Number(ref.Get("cost_per_use"))));
      }

    std::map<long, const Json*> refByUid;
    const Json* refCalendars = reference->Get("calendars");
    if (refCalendars)
      for (const Json& c : refCalendars->items)
        if (auto uid = Number(c.Get("uid"))) refByUid.emplace(static_cast<long>(*uid), &c);
    for (const auto& [uid, ref] : refByUid) {
      const model::SCalendar* ours = model.CalendarByUid(static_cast<std::uint32_t>(uid));
      fields["calendar uid"].Add(ours != nullptr);
      if (!ours) continue;
      // The name the document gives: a resource calendar's is its resource's.
      std::string name = platform::Utf16ToUtf8(ours->Name);
      if (auto owner = resources.find(static_cast<std::uint32_t>(ours->ResourceUID));
          ours->ResourceUID > 0 && owner != resources.end() && !owner->second->Name.empty()) {
        name = platform::Utf16ToUtf8(owner->second->Name);
        std::replace(name.begin(), name.end(), ',', ';');
      }
      std::string refName = Text(ref->Get("name"));
      std::replace(refName.begin(), refName.end(), ',', ';');
      // The reference invents this one for the nameless resource.
      if (refName != "Unnamed Resource") fields["calendar name"].Add(name == refName);
      const model::SCalendar* ourBase = mpp::BaseCalendarOf(model, *ours);
      auto refBase = Number(ref->Get("base_uid"));
      fields["base calendar"].Add(ourBase ? refBase && static_cast<long>(*refBase) == static_cast<long>(ourBase->UID)
                                          : !refBase);
      const Week want = ReferenceWeek(*ref, refByUid);
      const Week got = OurWeek(ours->WeekDays);
      for (std::size_t d = 0; d < 7; ++d) {
        if (want[d].empty()) continue;
        fields["working days"].Add(d < got.size() && got[d].substr(0, 1) == want[d].substr(0, 1));
        fields["working times"].Add(d < got.size() && got[d] == want[d]);
      }
    }
  }
  for (const std::string& line : notes) std::printf("  %s\n", line.c_str());
  for (const std::string& line : malformed) std::printf("  malformed: %s\n", line.c_str());
  std::printf("%zu version 14 documents written; %zu files of the 2010 application compared "
              "(%zu nameless resources compared by UID only)\n",
              documents, files2010, nameless);
  for (const auto& [field, a] : fields)
    std::printf("  %-18s %6zu of %6zu agree (%.1f%%)\n", field.c_str(), a.agreed, a.compared, a.Percent());

  EXPECT_TRUE(malformed.empty());
  ASSERT_GT(files2010, 0u);
  // Every field agrees on every named resource and every calendar today.
  // The floors sit a little below, so that a regression shows while an odd
  // record or two in a new sample does not fail the run.
  const std::map<std::string, double> floors = {
      {"resource uid", 99},  {"resource name", 99}, {"resource initials", 99}, {"resource group", 99},
      {"resource type", 99}, {"standard rate", 99}, {"overtime rate", 99},     {"cost per use", 99},
      {"calendar uid", 98},  {"calendar name", 98}, {"base calendar", 98},    {"working days", 98},
      {"working times", 98}};
  for (const auto& [field, floor] : floors) EXPECT_GE(fields[field].Percent(), floor) << field;
}

}  // namespace
