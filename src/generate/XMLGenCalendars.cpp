// The Calendars section of version 14 documents: per calendar its UID, its
// name (a resource calendar's is its resource's), the base and baseline
// flags, its base calendar, the seven week days with their working times
// and its exceptions (holidays, and the days worked otherwise, plain or
// recurring) and its work weeks.
#include <string>

#include "generate/ElementRun.h"
#include "generate/ExceptionDays.h"
#include "generate/XMLGen.h"

namespace {

using gen::ElementRun;

constexpr std::size_t kWeekDays = 7;
// 23:59, in tenths of a minute: where a listed run of days ends.
constexpr std::uint32_t kLastMinuteOfDay = 14390;

// A resource calendar's name: its resource's, commas as semicolons.
std::u16string ResourceCalendarName(std::u16string name) {
  for (char16_t& c : name)
    if (c == u',') c = u';';
  return name;
}

// An exception whose rule a document can carry: a known rule, and
// parameters within what the rule allows.
bool WritableRule(const model::SCalendarException& e) {
  switch (e.Recurrence) {
    case 1: return true;
    case 7: return e.Value76 != 0;                                     // every n days
    case 6: return e.Value78 != 0 && (e.Value76 & 0x7F) != 0;         // weekly: n, days
    case 4: return (e.Value78 & 0xFF) != 0 && e.Value76 >= 1 && e.Value76 <= 31;  // monthly: n, day
    case 5: return (e.Value78 & 0xFF) != 0 && e.Value76 <= 4 && e.Value77 <= 9;   // monthly: n, position, day
    case 2: return e.Value76 <= 11 && e.Value77 >= 1 && e.Value77 <= 31;          // yearly: month, day
    case 3: return e.Value76 <= 11 && e.Value77 <= 4 && (e.Value78 & 0xFF) <= 9;  // yearly: month, position, day
    default: return false;
  }
}

void WriteWorkingTimes(ElementRun& run, xml::XmlWriter& w, const model::SWeekDay& day) {
  run.Open("WorkingTimes");
  for (const model::SWorkingPeriod& period : day.Periods) {
    run.Open("WorkingTime");
    run.Do([&] { return w.WriteTimeXML("FromTime", static_cast<std::uint16_t>(period.Start)); });
    run.Do([&] { return w.WriteTimeXML("ToTime", static_cast<std::uint16_t>(period.End)); });
    run.Close("WorkingTime");
  }
  run.Close("WorkingTimes");
}

}  // namespace

std::int32_t CXMLGen::WriteException(const model::SCalendarException& e) {
  xml::XmlWriter& w = *writer_;
  ElementRun run(w);
  const std::uint16_t rule = e.Recurrence;
  // Rules, and ranges of several days, count their occurrences.
  const bool counted = rule != 1 || e.Occurrences > 1;
  run.Open("Exception");
  run.Raw("EnteredByOccurrences", counted ? "1" : "0");
  run.Open("TimePeriod");
  run.Do([&] { return w.WriteDateTime14XML("FromDate", e.FromDate); });
  run.Do([&] { return w.WriteDateTime14XML("ToDate", e.ToDate); });
  run.Close("TimePeriod");
  if (counted) run.Raw("Occurrences", e.Occurrences);
  if (!e.Name.empty()) run.Do([&] { return WriteName("Name", EscapeMarkup(e.Name)); });
  run.Raw("Type", rule);
  switch (rule) {
    case 7:
      run.Raw("Period", e.Value76);
      break;
    case 6:
      run.Raw("Period", e.Value78);
      run.Raw("DaysOfWeek", e.Value76 & 0x7F);  // bit 0 Sunday
      break;
    case 4:
      run.Raw("Period", e.Value78 & 0xFF);
      run.Raw("MonthDay", e.Value76);
      break;
    case 5:
      run.Raw("Period", e.Value78 & 0xFF);
      run.Raw("MonthItem", e.Value77);
      run.Raw("MonthPosition", e.Value76);
      break;
    case 2:
      run.Raw("Month", e.Value76);
      run.Raw("MonthDay", e.Value77);
      break;
    case 3:
      run.Raw("MonthItem", e.Value78 & 0xFF);
      run.Raw("MonthPosition", e.Value77);
      run.Raw("Month", e.Value76);
      break;
    default: break;
  }
  const bool working = !e.Day.Periods.empty();
  run.Raw("DayWorking", working ? "1" : "0");
  if (working) WriteWorkingTimes(run, w, e.Day);
  run.Close("Exception");
  return run.Cancelled() ? kCancelled : 0;
}

std::int32_t CXMLGen::GenerateCalendarXML() {
  try {
    BuildIndexes();
    if (writer_->Write_hXML("Calendars", nullptr, nullptr) == kCancelled) return kCancelled;
    if (project_.calendars.empty()) {
      // A document holds at least one calendar, and the project names it:
      // the standard working week stands in for the lost ones.
      model::SCalendar standIn;
      standIn.UID = kStandInCalendarUID;
      standIn.Name = u"Standard";
      standIn.IsBaseCalendar = 1;
      standIn.WeekDays = model::DefaultWorkingWeek();
      if (WriteCalendar(standIn) == kCancelled) return kCancelled;
      if (writer_->Write_hXML(nullptr, nullptr, "Calendars") == kCancelled) return kCancelled;
      return kNothingWritten;
    }
    for (const model::SCalendar& calendar : project_.calendars) {
      if (ctx_.Cancelled()) return Cancel();
      if (WriteCalendar(calendar) == kCancelled) return kCancelled;
    }
    return writer_->Write_hXML(nullptr, nullptr, "Calendars");
  } catch (int) {
    ctx_.log.WriteLine("User break was thrown if GenerateCalendarXML()");
    throw;
  }
}

std::int32_t CXMLGen::WriteCalendar(const model::SCalendar& calendar) {
  xml::XmlWriter& w = *writer_;
  ElementRun run(w);
  run.Open("Calendar");
  run.Raw("UID", calendar.UID);
  if (calendar.Guid) run.Raw("GUID", xml::XmlWriter::FormatGuid(*calendar.Guid));
  // A resource calendar is named after its resource: the name it carries
  // itself is the resource's name when the calendar was made, and stays so
  // when the resource is renamed.
  bool named = false;
  if (calendar.ResourceUID > 0) {
    const model::UidIndexedList<model::SBkndRscParams>& resources = project_.ResourceList();
    const auto owner = static_cast<std::uint32_t>(calendar.ResourceUID);
    for (std::size_t i = resources.Find(owner); i != resources.npos; i = resources.Next(i)) {
      const model::SBkndRscParams& resource = resources[i];
      if (resource.Name.empty()) continue;
      run.Do([&] { return WriteName("Name", EscapeMarkup(ResourceCalendarName(resource.Name))); });
      named = true;
    }
  }
  if (!named && !calendar.Name.empty()) run.Do([&] { return WriteName("Name", EscapeMarkup(calendar.Name)); });
  // The UID whole, as for tasks and resources.
  const bool baseFound =
      calendar.BaseCalendarUID >= 0 && calendarUids_.contains(static_cast<std::uint32_t>(calendar.BaseCalendarUID));
  // A calendar that takes its days from another is no base calendar,
  // whatever its flag says (the later applications' files set it on their
  // resource calendars).
  run.Raw("IsBaseCalendar", calendar.IsBaseCalendar && !baseFound ? 1 : 0);
  run.Raw("IsBaselineCalendar", calendar.IsBaselineCalendar);
  // A base calendar keeps the 0 that the later applications store for
  // "no base", as they write it; any other base that is not there is -1.
  if (baseFound || calendar.BaseCalendarUID == 0)
    run.Raw("BaseCalendarUID", calendar.BaseCalendarUID);
  else
    run.Raw("BaseCalendarUID", "-1");
  // Rules the document cannot carry are left out: written as a plain
  // range they would take every day of the range off.
  std::vector<std::size_t> writable;
  if (auto found = exceptionsByCalendar_.find(calendar.UID); found != exceptionsByCalendar_.end())
    for (std::size_t i : found->second)
      if (WritableRule(project_.calendarExceptions[i])) writable.push_back(i);
  // Without a whole week the calendar takes its base calendar's days; the
  // exceptions' days follow the week, each run of days as one more day.
  const bool week = calendar.WeekDays.size() == kWeekDays;
  std::vector<std::pair<const model::SCalendarException*, gen::DayRuns>> listed;
  for (std::size_t i : writable)
    if (auto runs = gen::ExceptionDays(project_.calendarExceptions[i], exceptionDayBudget_))
      listed.emplace_back(&project_.calendarExceptions[i], std::move(*runs));
  if (week || !listed.empty()) {
    run.Open("WeekDays");
    for (std::size_t d = 0; week && d < kWeekDays; ++d) {
      const model::SWeekDay& day = calendar.WeekDays[d];
      const bool working = day.WorkingTotal != 0;
      run.Open("WeekDay");
      run.Raw("DayType", d + 1);
      run.Raw("DayWorking", working ? 1 : 0);
      if (working) WriteWorkingTimes(run, w, day);
      run.Close("WeekDay");
    }
    for (const auto& [exception, runs] : listed) {
      const bool working = !exception->Day.Periods.empty();
      for (const auto& days : runs) {
        const auto first = static_cast<model::PackedDate>(days.first << 16);
        const auto last = static_cast<model::PackedDate>(days.second << 16 | kLastMinuteOfDay);
        run.Open("WeekDay");
        run.Raw("DayType", 0);
        run.Raw("DayWorking", working ? 1 : 0);
        run.Open("TimePeriod");
        run.Do([&] { return w.WriteDateTime14XML("FromDate", first); });
        run.Do([&] { return w.WriteDateTime14XML("ToDate", last); });
        run.Close("TimePeriod");
        if (working) WriteWorkingTimes(run, w, exception->Day);
        run.Close("WeekDay");
      }
    }
    run.Close("WeekDays");
  }
  if (!writable.empty()) {
    run.Open("Exceptions");
    for (std::size_t i : writable) run.Do([&] { return WriteException(project_.calendarExceptions[i]); });
    run.Close("Exceptions");
  }
  // Work weeks: their range and the days they define (a day taken from the
  // calendar's own week is not listed). A range that ends before it starts
  // is no work week.
  std::vector<const model::SWorkWeek*> weeks;
  if (auto found = workWeeksByCalendar_.find(calendar.UID); found != workWeeksByCalendar_.end())
    for (std::size_t i : found->second) {
      const model::SWorkWeek& week = project_.workWeeks[i];
      if (week.WeekDays.size() == kWeekDays && model::HasDate(week.FromDate, true) &&
          model::HasDate(week.ToDate, true) && week.FromDate <= week.ToDate)
        weeks.push_back(&week);
    }
  if (!weeks.empty()) {
    run.Open("WorkWeeks");
    for (const model::SWorkWeek* week : weeks) {
      run.Open("WorkWeek");
      run.Open("TimePeriod");
      run.Do([&] { return w.WriteDateTime14XML("FromDate", week->FromDate); });
      run.Do([&] { return w.WriteDateTime14XML("ToDate", week->ToDate); });
      run.Close("TimePeriod");
      if (!week->Name.empty()) run.Do([&] { return WriteName("Name", EscapeMarkup(week->Name)); });
      run.Open("WeekDays");
      for (std::size_t d = 0; d < kWeekDays; ++d) {
        const model::SWeekDay& day = week->WeekDays[d];
        if (day.DayFlag == 1) continue;
        run.Open("WeekDay");
        run.Raw("DayType", d + 1);
        run.Raw("DayWorking", day.WorkingTotal != 0 ? 1 : 0);
        if (day.WorkingTotal != 0) WriteWorkingTimes(run, w, day);
        run.Close("WeekDay");
      }
      run.Close("WeekDays");
      run.Close("WorkWeek");
    }
    run.Close("WorkWeeks");
  }
  run.Close("Calendar");
  return run.Cancelled() ? kCancelled : 0;
}
