// The project element's own children: the file's properties where it holds
// them, the application's defaults where it does not, in the order of the
// Project XML schema.
#include <algorithm>
#include <string>

#include "base/Date.h"
#include "platform/System.h"
#include "generate/ElementRun.h"
#include "generate/XMLGen.h"

namespace {

using model::PackedDate;

// A working day from 08:00 to 17:00, in tenths of a minute.
constexpr std::uint16_t kDefaultStartTime = 4800;
constexpr std::uint16_t kDefaultFinishTime = 10200;

bool Dated(const std::optional<PackedDate>& date) { return date && model::HasDate(*date, true); }

// A moment the file keeps in UTC, in this machine's local time, as the
// application shows it; unchanged when that leaves the dates a document
// can hold.
std::optional<PackedDate> LocalFromUtc(const std::optional<PackedDate>& utc) {
  if (!Dated(utc)) return utc;
  constexpr std::int64_t kEpoch1984 = 441763200;  // 1984-01-01 00:00 UTC, in seconds since 1970
  const std::int64_t day = std::max<std::int64_t>(model::DayOf(*utc), 1);
  const std::int64_t minutes = (day - 1) * 1440 + (*utc & 0xFFFF) / 10;
  const std::int64_t local = minutes + platform::LocalOffsetSeconds(kEpoch1984 + minutes * 60) / 60;
  if (local < 0 || local / 1440 + 1 > 0xFFFF) return utc;
  return static_cast<PackedDate>(((local / 1440 + 1) << 16) | ((local % 1440) * 10));
}

}  // namespace

std::optional<std::pair<PackedDate, PackedDate>> CXMLGen::ProjectSpan() const {
  const model::SProjectProps& p = project_.props;
  // As stored, even a finish before the start: the project's start is a
  // setting of its own, and tasks constrained before it end earlier.
  if (Dated(p.StartDate) && Dated(p.FinishDate)) return std::pair(*p.StartDate, *p.FinishDate);
  // The earliest start and latest finish of the dated tasks.
  std::optional<PackedDate> start, finish;
  for (const model::SBkndTaskParams& task : project_.Tasks()) {
    if (task.IsNull || !model::HasDate(task.Start, true) || !model::HasDate(task.Finish, true)) continue;
    if (task.Start > task.Finish) continue;
    start = std::min(start.value_or(task.Start), task.Start);
    finish = std::max(finish.value_or(task.Finish), task.Finish);
  }
  if (!start) return std::nullopt;
  // One of the two kept: the other from the tasks, never across it.
  if (Dated(p.StartDate) && *p.StartDate <= *finish) start = *p.StartDate;
  if (Dated(p.FinishDate) && *p.FinishDate >= *start) finish = *p.FinishDate;
  return std::pair(*start, *finish);
}

std::uint32_t CXMLGen::ProjectCalendarUID() const {
  const model::SCalendar* standard = nullptr;
  const model::SCalendar* firstBase = nullptr;
  for (const model::SCalendar& calendar : project_.calendars) {
    if (!project_.props.CalendarName.empty() && calendar.Name == project_.props.CalendarName) return calendar.UID;
    if (!calendar.IsBaseCalendar) continue;
    if (!firstBase) firstBase = &calendar;
    if (!standard && calendar.Name == u"Standard") standard = &calendar;
  }
  if (standard) return standard->UID;
  if (firstBase) return firstBase->UID;
  if (!project_.calendars.empty()) return project_.calendars.front().UID;
  return kStandInCalendarUID;
}

std::int32_t CXMLGen::WriteHeader(const char* saveVersion) {
  xml::XmlWriter& w = *writer_;
  gen::ElementRun run(w);
  const model::SProjectProps& p = project_.props;
  auto text = [&](const char* tag, const std::u16string& value) {
    if (!value.empty()) run.Do([&] { return WriteName(tag, value); });
  };
  auto number = [&](const char* tag, auto value, auto fallback) {
    if (value) run.Raw(tag, *value);
    else run.Raw(tag, fallback);
  };
  auto dateTime = [&](const char* tag, const std::optional<PackedDate>& value) {
    if (Dated(value)) run.Raw(tag, xml::XmlWriter::FormatDateTime(*value));
  };
  const std::uint16_t startTime = p.DefaultStartTime.value_or(kDefaultStartTime);
  const std::uint16_t finishTime = p.DefaultFinishTime.value_or(kDefaultFinishTime);
  const auto span = ProjectSpan();

  run.Raw("SaveVersion", saveVersion);
  run.Raw("Name", "Project.xml");
  if (p.Guid) run.Raw("GUID", xml::XmlWriter::FormatGuid(*p.Guid));
  text("Title", p.Title);
  text("Subject", p.Subject);
  text("Category", p.Category);
  text("Company", p.Company);
  text("Manager", p.Manager);
  text("Author", p.Author);
  // The project's own local times where Props holds them; else the
  // summary's instants, told in this machine's time zone.
  const auto lastSaved = Dated(p.SavedLocal) ? p.SavedLocal : LocalFromUtc(p.LastSaved);
  dateTime("CreationDate", Dated(p.CreatedLocal) ? p.CreatedLocal : LocalFromUtc(p.CreationDate));
  dateTime("LastSaved", lastSaved);
  run.Raw("ScheduleFromStart", p.ScheduleFromStart.value_or(true) ? "1" : "0");
  if (span) {
    run.Raw("StartDate", xml::XmlWriter::FormatDateTime(span->first));
    run.Raw("FinishDate", xml::XmlWriter::FormatDateTime(span->second));
  }
  number("FYStartDate", p.FiscalYearStart, "1");
  run.Raw("CriticalSlackLimit", "0");
  number("CurrencyDigits", p.CurrencyDigits, "2");
  if (p.CurrencySymbol.empty()) run.Raw("CurrencySymbol", "$");
  else text("CurrencySymbol", p.CurrencySymbol);
  if (p.CurrencyCode.empty()) run.Raw("CurrencyCode", "USD");
  else text("CurrencyCode", p.CurrencyCode);
  number("CurrencySymbolPosition", p.CurrencySymbolPosition, "0");
  run.Raw("CalendarUID", ProjectCalendarUID());
  run.Raw("DefaultStartTime", xml::XmlWriter::FormatTime(startTime));
  run.Raw("DefaultFinishTime", xml::XmlWriter::FormatTime(finishTime));
  number("MinutesPerDay", p.MinutesPerDay, "480");
  number("MinutesPerWeek", p.MinutesPerWeek, "2400");
  number("DaysPerMonth", p.DaysPerMonth, "20");
  auto flag = [&](const char* tag, const std::optional<bool>& value, bool fallback) {
    run.Raw(tag, value.value_or(fallback) ? "1" : "0");
  };
  // The application's defaults where the file's properties say nothing,
  // in schema order around what they do say.
  run.Raw("DefaultTaskType", "0");
  run.Raw("DefaultFixedCostAccrual", "3");
  run.Raw("DefaultStandardRate", "0");
  run.Raw("DefaultOvertimeRate", "0");
  run.Raw("DurationFormat", "7");
  run.Raw("WorkFormat", "2");
  run.Raw("EditableActualCosts", "0");
  run.Raw("HonorConstraints", "0");
  run.Raw("InsertedProjectsLikeSummary", "1");
  run.Raw("MultipleCriticalPaths", "0");
  flag("NewTasksEffortDriven", p.NewTasksEffortDriven, false);
  run.Raw("NewTasksEstimated", "1");
  run.Raw("SplitsInProgressTasks", "1");
  run.Raw("SpreadActualCost", "0");
  run.Raw("SpreadPercentComplete", "0");
  run.Raw("TaskUpdatesResource", "1");
  run.Raw("FiscalYearStart", "0");
  number("WeekStartDay", p.WeekStartDay, "1");
  run.Raw("MoveCompletedEndsBack", "0");
  run.Raw("MoveRemainingStartsBack", "0");
  run.Raw("MoveRemainingStartsForward", "0");
  run.Raw("MoveCompletedEndsForward", "0");
  run.Raw("BaselineForEarnedValue", "0");
  run.Raw("AutoAddNewResourcesAndTasks", "1");
  dateTime("StatusDate", p.StatusDate);
  // The day the file was last saved, at the start of a working day, as
  // the application writes it; today when the file does not say.
  const std::uint16_t currentDay =
      Dated(lastSaved) ? model::DayOf(*lastSaved) : static_cast<std::uint16_t>(CDate::Today().DayNumber());
  run.Raw("CurrentDate", xml::XmlWriter::FormatDateTime((static_cast<PackedDate>(currentDay) << 16) | startTime));
  run.Raw("MicrosoftProjectServerURL", "1");
  flag("Autolink", p.Autolink, false);
  run.Raw("NewTaskStartDate", "0");
  if (p.NewTasksAreManual) flag("NewTasksAreManual", p.NewTasksAreManual, false);
  run.Raw("DefaultTaskEVMethod", "0");
  run.Raw("ProjectExternallyEdited", "0");
  if (p.ActualsInSync) flag("ActualsInSync", p.ActualsInSync, false);
  run.Raw("RemoveFileProperties", "0");
  run.Raw("AdminProject", "0");
  run.Raw("UpdateManuallyScheduledTasksWhenEditingLinks", "1");
  run.Raw("KeepTaskOnNearestWorkingTimeWhenMadeAutoScheduled", "0");
  return run.Cancelled() ? kCancelled : 0;
}
