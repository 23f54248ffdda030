#include "model/MppGen.h"

#include <utility>

using model::SBkndRscParams;
using model::SBkndTaskParams;

CMppGen::CMppGen() = default;
CMppGen::~CMppGen() = default;

SBkndTaskParams& CMppGen::AppendTask(SBkndTaskParams task) { return tasks_.Append(std::move(task)); }

SBkndRscParams& CMppGen::AppendResource(SBkndRscParams resource) {
  return resources_.Append(std::move(resource));
}

SBkndTaskParams* CMppGen::FindTask(std::uint32_t uid) { return tasks_.FindRecord(uid); }

SBkndRscParams* CMppGen::FindResource(std::uint32_t uid) { return resources_.FindRecord(uid); }

void CMppGen::RemoveLastTask() { tasks_.RemoveLast(); }

void CMppGen::RemoveLastResource() { resources_.RemoveLast(); }

void CMppGen::NoteTaskDates(const SBkndTaskParams& task) {
  if (task.ConstraintType != 0 || task.UID == 0 || task.ID == 0 || task.Start == 0) return;
  if (!model::HasDate(task.Start)) return;
  const std::uint16_t startDay = model::DayOf(task.Start);
  if (startDay < projectStartDay) projectStartDay = startDay;
  if (model::HasDate(task.Finish, true)) {
    const std::uint16_t finishDay = model::DayOf(task.Finish);
    if (finishDay > projectFinishDay) projectFinishDay = finishDay;
  }
}

const model::SCalendar* CMppGen::CalendarByUid(std::uint32_t uid) const {
  // The list is a plain vector that its readers append to. A shorter list
  // or an entry whose UID no longer matches makes the index start over.
  auto lookUp = [&]() -> const model::SCalendar* {
    if (calendarsIndexed_ > calendars.size()) {
      calendarIndex_.clear();
      calendarsIndexed_ = 0;
    }
    for (; calendarsIndexed_ < calendars.size(); ++calendarsIndexed_)
      calendarIndex_.try_emplace(calendars[calendarsIndexed_].UID, calendarsIndexed_);
    auto found = calendarIndex_.find(uid);
    return found == calendarIndex_.end() ? nullptr : &calendars[found->second];
  };
  const model::SCalendar* calendar = lookUp();
  if (calendar && calendar->UID != uid) {
    calendarIndex_.clear();
    calendarsIndexed_ = 0;
    calendar = lookUp();
  }
  return calendar;
}
