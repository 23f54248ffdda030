#include "model/Project.h"

#include <utility>

namespace model {

SBkndTaskParams& Project::AppendTask(SBkndTaskParams task) { return tasks_.Append(std::move(task)); }

SBkndRscParams& Project::AppendResource(SBkndRscParams resource) {
  return resources_.Append(std::move(resource));
}

SBkndTaskParams* Project::FindTask(std::uint32_t uid) { return tasks_.FindRecord(uid); }

SBkndRscParams* Project::FindResource(std::uint32_t uid) { return resources_.FindRecord(uid); }

void Project::NoteTaskDates(const SBkndTaskParams& task) {
  if (task.ConstraintType != 0 || task.UID == 0 || task.ID == 0 || task.Start == 0) return;
  if (!model::HasDate(task.Start)) return;
  const std::uint16_t startDay = model::DayOf(task.Start);
  if (startDay < projectStartDay) projectStartDay = startDay;
  if (model::HasDate(task.Finish, true)) {
    const std::uint16_t finishDay = model::DayOf(task.Finish);
    if (finishDay > projectFinishDay) projectFinishDay = finishDay;
  }
}

const SCalendar* Project::CalendarByUid(std::uint32_t uid) const {
  // Appends are indexed as they come; a list that was rebuilt behind the
  // index (shorter, or a position holding another UID) is indexed afresh.
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (attempt == 1 || calendarsIndexed_ > calendars.size()) {
      calendarIndex_.clear();
      calendarsIndexed_ = 0;
    }
    for (; calendarsIndexed_ < calendars.size(); ++calendarsIndexed_)
      calendarIndex_.try_emplace(calendars[calendarsIndexed_].UID, calendarsIndexed_);
    auto found = calendarIndex_.find(uid);
    if (found == calendarIndex_.end()) return nullptr;
    if (found->second < calendars.size() && calendars[found->second].UID == uid) return &calendars[found->second];
  }
  return nullptr;
}

SCalendar* Project::FindCalendar(std::uint32_t uid) { return const_cast<SCalendar*>(CalendarByUid(uid)); }

SCalendar& Project::AppendCalendar(SCalendar calendar) {
  calendars.push_back(std::move(calendar));
  return calendars.back();
}

}  // namespace model
