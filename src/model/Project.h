// The project model of one recovered project: plain data with its indexes.
// The readers append and complete records; the generator reads the lists
// in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <string>
#include <unordered_map>
#include <vector>

#include "model/ReadTally.h"
#include "model/Records.h"
#include "model/UidIndexedList.h"

namespace model {

class Project {
 public:
  Project() = default;
  Project(const Project&) = delete;
  Project& operator=(const Project&) = delete;

  // Tasks and resources: one record per UID, created by the var-data pass
  // of their storage and completed by its fixed-data pass.
  model::SBkndTaskParams& AppendTask(model::SBkndTaskParams task);
  model::SBkndRscParams& AppendResource(model::SBkndRscParams resource);
  // The first task or resource with uid, in list order; null when none.
  model::SBkndTaskParams* FindTask(std::uint32_t uid);
  model::SBkndRscParams* FindResource(std::uint32_t uid);
  const model::SBkndTaskParams* FindTask(std::uint32_t uid) const { return tasks_.FindRecord(uid); }
  const model::SBkndRscParams* FindResource(std::uint32_t uid) const { return resources_.FindRecord(uid); }
  const std::vector<model::SBkndTaskParams>& Tasks() const { return tasks_.Items(); }
  const std::vector<model::SBkndRscParams>& Resources() const { return resources_.Items(); }
  // For the outline pass (renumbering, sorting) and the like.
  std::vector<model::SBkndTaskParams>& EditTasks() { return tasks_.Edit(); }
  std::vector<model::SBkndRscParams>& EditResources() { return resources_.Edit(); }
  model::UidIndexedList<model::SBkndTaskParams>& TaskList() { return tasks_; }
  model::UidIndexedList<model::SBkndRscParams>& ResourceList() { return resources_; }
  const model::UidIndexedList<model::SBkndRscParams>& ResourceList() const { return resources_; }

  // Moves the project's start and finish days out to a task's dates, if
  // the task qualifies: no constraint, and UID, ID and Start not 0. Dates
  // that stand for "no date" move nothing.
  void NoteTaskDates(const model::SBkndTaskParams& task);

  // Added to by the storage readers where they log their counts: what the
  // file held and what could not be read (the loss report).
  model::ReadTally tally;

  model::SProjectProps props;
  // The major version of the application that saved the file (9, 12, 14,
  // 15, 16); 0 when the file does not say.
  int applicationVersion = 0;
  // How many other files the project links to (inserted projects, a
  // shared resource pool); unknown when the file does not say.
  std::optional<std::uint32_t> projectLinks;
  // The inserted projects among them: the task standing for each and the
  // file's path, by task UID. Complete when linksComplete (every link was
  // read).
  std::vector<std::pair<std::uint32_t, std::u16string>> insertedProjects;
  bool linksComplete = false;
  std::uint16_t projectStartDay = 0xFFFF;
  std::uint16_t projectFinishDay = 0;

  // Kept as read, in file order; nothing checks here that the tasks and
  // resources they name exist.
  std::vector<model::SBkndAssnParams> assignments;
  std::vector<model::SBkndConsParams> links;
  std::vector<model::SAvailabilityParams> availability;
  std::vector<model::SRateParams> rates;
  std::vector<model::SCalendar> calendars;
  std::vector<model::SCalendarException> calendarExceptions;
  std::vector<model::SWorkWeek> workWeeks;
  std::vector<model::SEditListItem> editList;
  std::vector<model::SViewTimescale> viewTimescales;
  // Calendars: the first calendar with uid, in list order, or null. The
  // look-up goes through an index that follows appends to `calendars`
  // (records must keep their UIDs once appended).
  const model::SCalendar* CalendarByUid(std::uint32_t uid) const;
  model::SCalendar* FindCalendar(std::uint32_t uid);
  model::SCalendar& AppendCalendar(model::SCalendar calendar);

  // Task definitions, then resource definitions, in file order.
  std::vector<model::SCustomFieldDef> customFieldDefs;
  std::vector<model::SCustomFieldValue> customFieldValues;

 private:
  model::UidIndexedList<model::SBkndTaskParams> tasks_;
  model::UidIndexedList<model::SBkndRscParams> resources_;
  // Position of the first calendar of each UID, for the calendars indexed.
  mutable std::unordered_map<std::uint32_t, std::size_t> calendarIndex_;
  mutable std::size_t calendarsIndexed_ = 0;
};

}  // namespace model
