// The Calendars section of version 14 documents: per calendar its UID, its
// name (a resource calendar's is its resource's), the base and baseline
// flags, the seven week days with their working times and its base
// calendar. Exceptions and work weeks are kept in the model only.
#include <string>

#include "LibrarySettings.h"
#include "Logger.h"
#include "gen/ElementRun.h"
#include "gen/XMLGen14.h"

namespace {

using gen::ElementRun;

constexpr std::size_t kWeekDays = 7;

// A resource calendar's name: its resource's, commas as semicolons.
std::u16string ResourceCalendarName(std::u16string name) {
  for (char16_t& c : name)
    if (c == u',') c = u';';
  return name;
}

}  // namespace

std::int32_t CXMLGen14::GenerateCalendarXML() {
  try {
    BuildIndexes();
    if (writer_->Write_hXML("Calendars", nullptr, nullptr) == kCancelled) return kCancelled;
    if (calendars.empty()) {
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
    for (const model::SCalendar& calendar : calendars) {
      if (CancelRequested()) return Cancel();
      if (WriteCalendar(calendar) == kCancelled) return kCancelled;
    }
    return writer_->Write_hXML(nullptr, nullptr, "Calendars");
  } catch (int) {
    theLog.WriteLine("User break was thrown if GenerateCalendarXML()");
    throw;
  }
}

std::int32_t CXMLGen14::WriteCalendar(const model::SCalendar& calendar) {
  xml::XmlWriter& w = *writer_;
  ElementRun run(w);
  run.Open("Calendar");
  run.Raw("UID", calendar.UID);
  // A resource calendar is named after its resource: the name it carries
  // itself is the resource's name when the calendar was made, and stays so
  // when the resource is renamed.
  bool named = false;
  if (calendar.ResourceUID > 0) {
    model::UidIndexedList<model::SBkndRscParams>& resources = ResourceList();
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
  if (baseFound)
    run.Raw("BaseCalendarUID", calendar.BaseCalendarUID);
  else
    run.Raw("BaseCalendarUID", "-1");
  // Without a whole week the calendar takes its base calendar's days.
  if (calendar.WeekDays.size() == kWeekDays) {
    run.Open("WeekDays");
    for (std::size_t d = 0; d < kWeekDays; ++d) {
      const model::SWeekDay& day = calendar.WeekDays[d];
      const bool working = day.WorkingTotal != 0;
      run.Open("WeekDay");
      run.Raw("DayType", d + 1);
      run.Raw("DayWorking", working ? 1 : 0);
      if (working) {
        run.Open("WorkingTimes");
        for (const model::SWorkingPeriod& period : day.Periods) {
          run.Open("WorkingTime");
          run.Do([&] { return w.WriteTimeXML("FromTime", static_cast<std::uint16_t>(period.Start)); });
          run.Do([&] { return w.WriteTimeXML("ToTime", static_cast<std::uint16_t>(period.End)); });
          run.Close("WorkingTime");
        }
        run.Close("WorkingTimes");
      }
      run.Close("WeekDay");
    }
    run.Close("WeekDays");
  }
  run.Close("Calendar");
  return run.Cancelled() ? kCancelled : 0;
}
