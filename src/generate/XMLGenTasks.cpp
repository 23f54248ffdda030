#include "generate/XMLGen.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>

#include "base/Result.h"
#include "generate/Baselines.h"
#include "generate/ElementRun.h"
#include "generate/CustomFieldText.h"
#include "model/CustomFieldCatalog.h"
#include "model/Validators.h"

namespace {

using gen::ElementRun;

// The duration formats a lag may be written in (elapsed ones included);
// any other reads as days, the application's default.
std::uint16_t XmlLagFormat(std::uint16_t format) {
  constexpr std::uint16_t kDays = 7;
  const bool known = (format >= 3 && format <= 12) || format == 19 || format == 20 ||
                     (format >= 35 && format <= 44) || (format >= 51 && format <= 53);
  return known ? format : kDays;
}

// A leveling delay is written in days, elapsed or not, unless the record
// names another format the schema knows.
std::uint16_t XmlDelayFormat(std::uint16_t format) {
  constexpr std::uint16_t kElapsedDays = 8;
  return format == 21 ? format : (XmlLagFormat(format) == format ? format : kElapsedDays);
}

// The smaller of the start and the finish slack, when the record keeps
// either.
std::optional<std::int32_t> TotalSlack(const model::SBkndTaskParams& task) {
  if (task.StartSlack && task.FinishSlack) return std::min(*task.StartSlack, *task.FinishSlack);
  return task.StartSlack ? task.StartSlack : task.FinishSlack;
}

// Start or finish variance, where it follows from the stored dates alone:
// 0 without a saved date, or when the date is unchanged. Any other
// variance is counted in the task's working time, which the file does not
// keep: nothing is written then.
std::optional<std::int32_t> DateVariance(model::PackedDate current, const model::SBaseline* baseline,
                                         model::PackedDate model::SBaseline::*saved) {
  if (!baseline || !model::HasDate(baseline->*saved, true)) return 0;
  if (baseline->*saved == current) return 0;
  return std::nullopt;
}

// Earned value a task cannot have: without a baseline cost nothing was
// budgeted (BCWS and BCWP 0), without actual cost nothing was spent (ACWP
// 0). Other values depend on the status date and the timephased costs.
struct EarnedValue {
  std::optional<double> bcws, bcwp, acwp;
};
EarnedValue KnownEarnedValue(const model::SBkndTaskParams& task, const model::SBaseline* baseline) {
  EarnedValue value;
  if (!baseline || model::CostFromStored(baseline->Cost) == 0.0) value.bcws = value.bcwp = 0.0;
  if (task.ActualCost == 0.0) value.acwp = 0.0;
  return value;
}

template <typename Body>
std::int32_t Guarded(Logger& log, const char* breakLine, Body body) {
  try {
    return body();
  } catch (int) {
    log.WriteLine(breakLine);
    throw;
  }
}

}  // namespace

void CXMLGen::NoteWritten() {
  constexpr std::int32_t kFrom = 90, kSpan = 10;
  if (progressTotal_ == 0) return;
  ++progressDone_;
  const auto percent =
      static_cast<std::int32_t>(kFrom + kSpan * std::min(progressDone_, progressTotal_) / progressTotal_);
  if (percent <= progressShown_) return;
  progressShown_ = percent;
  ctx_.Progress(percent, "Saving recovered data...");
}

void CXMLGen::BuildIndexes() {
  if (indexed_) return;
  indexed_ = true;
  progressTotal_ = project_.Tasks().size() + project_.Resources().size() + project_.assignments.size();
  IndexLinks();
  for (const model::SBkndTaskParams& task : project_.Tasks()) taskUids_.insert(task.UID);
  for (const model::SCalendar& calendar : project_.calendars) calendarUids_.insert(calendar.UID);
  for (std::size_t i = 0; i < project_.calendarExceptions.size(); ++i)
    exceptionsByCalendar_[project_.calendarExceptions[i].CalendarUID].push_back(i);
  for (std::size_t i = 0; i < project_.workWeeks.size(); ++i)
    workWeeksByCalendar_[project_.workWeeks[i].CalendarUID].push_back(i);
  for (std::size_t i = 0; i < project_.customFieldValues.size(); ++i) {
    const model::SCustomFieldValue& value = project_.customFieldValues[i];
    ValuesOf(value.Owner)[value.OwnerUID].push_back(i);
  }
  for (const model::SBkndRscParams& resource : project_.Resources())
    anyMaybeOverallocated_ = anyMaybeOverallocated_ || resource.OverAllocated != false;
  for (const model::SBkndAssnParams& assignment : project_.assignments) {
    if (assignment.ResourceUID == model::kNoResourceUID) continue;
    const model::SBkndRscParams* resource = project_.FindResource(assignment.ResourceUID);
    if (!resource || resource->OverAllocated != false) tasksMaybeOverallocated_.insert(assignment.TaskUID);
  }
}

std::int32_t CXMLGen::GenerateMainXML() {
  return Guarded(ctx_.log, "User break was thrown if GenerateMainXML()", [this]() -> std::int32_t {
    if (ctx_.Cancelled()) return Cancel();
    if (const std::int32_t failed = CheckOutput()) return failed;
    BuildIndexes();
    if (WriteDocumentStart("?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?") == kCancelled ||
        WriteHeader(saveVersion_) == kCancelled || writer_->Write_hXML("OutlineCodes/", nullptr, nullptr) == kCancelled ||
        writer_->Write_hXML("WBSMasks/", nullptr, nullptr) == kCancelled)
      return kCancelled;
    if (!RunSection("GenerateAttributeListXML() start.", "GenerateAttributeListXML() finish. ",
                    [this] { return GenerateAttributeListXML(); }) ||
        !RunSection("GenerateCalendarXML() start.", "GenerateCalendarXML() finish. ",
                    [this] { return GenerateCalendarXML(); }) ||
        !RunSection("GenerateTasksXML() start.", "GenerateTasksXML() finish. ", [this] { return GenerateTasksXML(); }) ||
        !RunSection("GenerateResourcesXML() start.", "GenerateResourcesXML() finish.",
                    [this] { return GenerateResourcesXML(); }) ||
        // The older versions' run has never logged the start of this one.
        !RunSection(std::string_view(saveVersion_) == "14" ? "GenerateAssignments() start." : nullptr,
                    "GenerateAssignments() finish.", [this] { return GenerateAssignments(); }))
      return kCancelled;
    return FinishDocument();
  });
}

std::int32_t CXMLGen::GenerateTasksXML() {
  return Guarded(ctx_.log, "User break was thrown if GenerateTasksXML()", [this]() -> std::int32_t {
    BuildIndexes();
    if (project_.Tasks().empty()) {
      const std::int32_t result = writer_->Write_hXML("Tasks/", nullptr, nullptr);
      return result == kCancelled ? result : kNothingWritten;
    }
    if (writer_->Write_hXML("Tasks", nullptr, nullptr) == kCancelled) return kCancelled;
    for (const model::SBkndTaskParams& task : project_.Tasks()) {
      if (ctx_.Cancelled()) return Cancel();
      ++written_.tasks;
      if (WriteTask(task) == kCancelled) return kCancelled;
    }
    return writer_->Write_hXML(nullptr, nullptr, "Tasks");
  });
}

std::int32_t CXMLGen::WriteTask(const model::SBkndTaskParams& task) {
  NoteWritten();
  xml::XmlWriter& w = *writer_;
  ElementRun run(w);
  auto date = [&](const char* tag, model::PackedDate value) {
    run.Do([&] { return w.WriteDateTime14XML(tag, value); });
  };
  // Dates a row without data (or an invented one) does not have.
  auto ownDate = [&](const char* tag, model::PackedDate value) {
    if (model::HasDate(value, true)) date(tag, value);
  };
  auto duration = [&](const char* tag, std::uint32_t tenths) {
    run.Do([&] { return w.WriteDurationSecXML(tag, tenths); });
  };
  auto money = [&](const char* tag, double value) { run.Raw(tag, xml::XmlWriter::FormatMoney(value)); };
  // Work variance and earned value: with two decimals from version 12 on,
  // as whole numbers before.
  const bool twoDecimals = std::string_view(saveVersion_) != "9";
  // A value a damaged record makes unreadable is left out, not made 0.
  auto amount = [&](const char* tag, double value) {
    if (!std::isfinite(value) || std::fabs(value) >= 1e15) return;
    if (!twoDecimals) {
      run.Raw(tag, xml::XmlWriter::FormatDecimal(value, 2));
      return;
    }
    run.Raw(tag, xml::XmlWriter::FormatTwoDecimals(value));
  };
  auto flag = [&](const char* tag, bool value) { run.Raw(tag, value ? "1" : "0"); };
  // With frozen dates every task is manually scheduled, so that a
  // scheduler keeps the dates exactly as the file stores them.
  const bool manual = ctx_.settings.freezeDates || task.Manual;

  run.Open("Task");
  run.Raw("UID", task.UID);
  if (task.GUID) run.Raw("GUID", xml::XmlWriter::FormatGuid(*task.GUID));
  run.Raw("ID", task.ID);
  if (task.Name.empty() && task.UID == 0 && !project_.props.Title.empty()) {
    // The project's own row is named after the project.
    run.Do([&] { return WriteName("Name", EscapeName(project_.props.Title)); });
  } else if (task.Name.empty()) {
    if (!task.IsNull) {
      std::u16string invented(model::kFixedTextUnits, u'\0');
      xml::XmlWriter::MakeUnknownTaskName(std::span<char16_t>(invented.data(), invented.size()));
      invented.resize(std::u16string_view(invented.c_str()).size());
      run.Do([&] { return WriteName("Name", invented); });
    }
  } else {
    run.Do([&] { return WriteName("Name", EscapeName(task.Name)); });
  }
  flag("Active", task.Active);
  flag("Manual", manual);
  run.Raw("Type", task.Type);
  flag("IsNull", task.IsNull);
  if (task.IsNull) {
    // A blank row: the application writes its place in the outline only.
    run.Raw("OutlineNumber", task.OutlineNumber.empty() ? std::string("0") : task.OutlineNumber);
    run.Raw("OutlineLevel", task.OutlineLevel);
    run.Close("Task");
    return run.Cancelled() ? kCancelled : 0;
  }
  ownDate("CreateDate", task.CreateDate);
  if (!task.WBS.empty() && task.WBS[0] != 0xFFFF)
    run.Do([&] { return WriteName("WBS", task.WBS); });
  else if (task.WBS.empty() && !task.OutlineNumber.empty())
    run.Raw("WBS", task.OutlineNumber);
  else
    run.Raw("WBS", "0");
  run.Raw("OutlineNumber", task.OutlineNumber.empty() ? std::string("0") : task.OutlineNumber);
  run.Raw("OutlineLevel", task.OutlineLevel);
  run.Raw("Priority", task.Priority);
  date("Start", task.Start);
  date("Finish", task.Finish);
  duration("Duration", task.Duration);
  run.Raw("DurationFormat", task.DurationFormat);
  duration("Work", task.Work);
  ownDate("Stop", task.Stop);
  ownDate("Resume", task.Resume);
  // No file keeps whether a task may resume (no field of any map stands
  // for it): the application writes 0 for every task.
  flag("ResumeValid", false);
  flag("EffortDriven", task.EffortDriven);
  flag("Recurring", task.Recurring);
  // No task is overallocated whose resources never are (a summary row: no
  // resource of the project is).
  const bool summaryRow = task.Summary != 0 || task.UID == 0;
  if (summaryRow ? !anyMaybeOverallocated_ : !tasksMaybeOverallocated_.count(task.UID)) flag("OverAllocated", false);
  flag("Estimated", task.Estimated);
  flag("Milestone", task.Milestone);
  // The project's own row is its summary, of an empty project too.
  flag("Summary", summaryRow);
  const std::optional<std::int32_t> totalSlack = TotalSlack(task);
  // The file keeps the mark the application computed, for manually
  // scheduled tasks too (their slack does not settle it).
  if (task.Critical) flag("Critical", *task.Critical);
  // Whether the task stands for an inserted project: known when the
  // project links to no file, or when every link was read.
  const auto& inserted = project_.insertedProjects;
  const auto link = std::lower_bound(inserted.begin(), inserted.end(), task.UID,
                                     [](const auto& entry, std::uint32_t uid) { return entry.first < uid; });
  const bool isSubproject = link != inserted.end() && link->first == task.UID;
  if (project_.projectLinks == 0u || (project_.projectLinks && project_.linksComplete)) {
    flag("IsSubproject", isSubproject);
    // Read-only is the inserted project's own setting, not read yet.
    if (!isSubproject) flag("IsSubprojectReadOnly", false);
  }
  if (isSubproject && !link->second.empty()) run.Do([&] { return WriteName("SubprojectName", link->second); });
  // Var data keeps the status values only where they are not 0: without
  // the var streams they are not known.
  const bool statusKnown = project_.tally.tasks.varRead;
  if (statusKnown) flag("ExternalTask", task.ExternalTaskId != 0);
  // The record's start and finish are the early dates the scheduler set.
  ownDate("EarlyStart", task.Start);
  ownDate("EarlyFinish", task.Finish);
  ownDate("LateStart", task.LateStart);
  ownDate("LateFinish", task.LateFinish);
  const model::SBaseline* baseline = gen::BaselineZero(task.Baselines);
  if (auto variance = DateVariance(task.Start, baseline, &model::SBaseline::Start))
    run.Raw("StartVariance", *variance);
  if (auto variance = DateVariance(task.Finish, baseline, &model::SBaseline::Finish))
    run.Raw("FinishVariance", *variance);
  // Stored work less the saved baseline work, both minutes x 1000.
  amount("WorkVariance", task.WorkRaw - (baseline ? baseline->Work : 0.0));
  if (task.FreeSlack) run.Raw("FreeSlack", *task.FreeSlack);
  if (totalSlack) run.Raw("TotalSlack", *totalSlack);
  if (task.StartSlack) run.Raw("StartSlack", *task.StartSlack);
  if (task.FinishSlack) run.Raw("FinishSlack", *task.FinishSlack);
  money("FixedCost", task.FixedCost);
  run.Raw("FixedCostAccrual", task.FixedCostAccrual);
  run.Raw("PercentComplete", task.PercentComplete);
  run.Raw("PercentWorkComplete", task.PercentWorkComplete);
  money("Cost", task.Cost);
  // The overtime work is the actual plus the remaining; what is left of
  // the work is regular (the project's row can hold more overtime than
  // work: then the regular work is not known).
  const std::uint64_t overtime = std::uint64_t{task.ActualOvertimeWork} + task.RemainingOvertimeWork;
  money("OvertimeCost", task.OvertimeCost);
  if (overtime <= model::kMaxDuration) duration("OvertimeWork", static_cast<std::uint32_t>(overtime));
  ownDate("ActualStart", task.ActualStart);
  ownDate("ActualFinish", task.ActualFinish);
  duration("ActualDuration", task.ActualDuration);
  money("ActualCost", task.ActualCost);
  money("ActualOvertimeCost", task.ActualOvertimeCost);
  duration("ActualWork", task.ActualWork);
  duration("ActualOvertimeWork", task.ActualOvertimeWork);
  if (overtime <= task.Work) duration("RegularWork", task.Work - static_cast<std::uint32_t>(overtime));
  duration("RemainingDuration", task.RemainingDuration);
  money("RemainingCost", task.RemainingCost);
  duration("RemainingWork", task.RemainingWork);
  money("RemainingOvertimeCost", task.RemainingOvertimeCost);
  duration("RemainingOvertimeWork", task.RemainingOvertimeWork);
  const EarnedValue earned = KnownEarnedValue(task, baseline);
  if (earned.acwp) amount("ACWP", *earned.acwp);
  if (earned.acwp && earned.bcwp) amount("CV", *earned.bcwp - *earned.acwp);
  run.Raw("ConstraintType", task.ConstraintType);
  if (calendarUids_.contains(task.CalendarUID))
    run.Raw("CalendarUID", task.CalendarUID);
  else
    run.Raw("CalendarUID", "-1");
  if (task.ConstraintType != 0 && model::HasDate(task.ConstraintDate, true) &&
      task.ConstraintDate != model::kNoConstraintDate)
    date("ConstraintDate", task.ConstraintDate);
  ownDate("Deadline", task.Deadline);
  auto bit = [&](const char* tag, const std::optional<bool>& value) {
    if (value) flag(tag, *value);
  };
  bit("LevelAssignments", task.LevelAssignments);
  bit("LevelingCanSplit", task.LevelingCanSplit);
  run.Raw("LevelingDelay", task.LevelingDelay);
  run.Raw("LevelingDelayFormat", XmlDelayFormat(task.LevelingDelayFormat));
  auto text = [&](const char* tag, const std::u16string& value) {
    if (!value.empty()) run.Do([&] { return WriteName(tag, value); });
  };
  text("Hyperlink", task.Hyperlink);
  text("HyperlinkAddress", task.HyperlinkAddress);
  text("HyperlinkSubAddress", task.HyperlinkSubAddress);
  flag("IgnoreResourceCalendar", task.IgnoreResourceCalendar);
  if (task.Notes && !task.Notes->empty())
    run.Do([&] {
      return w.WriteNotesXML("Notes", platform::ByteView(reinterpret_cast<const std::uint8_t*>(task.Notes->data()),
                                                         task.Notes->size()));
    });
  else if (task.UID == 0 && !project_.props.Comments.empty())
    run.Do([&] { return WriteName("Notes", project_.props.Comments); });  // the project's comments
  bit("HideBar", task.HideBar);
  bit("Rollup", task.Rollup);
  if (earned.bcws) amount("BCWS", *earned.bcws);
  if (earned.bcwp) amount("BCWP", *earned.bcwp);
  if (statusKnown) {
    run.Raw("PhysicalPercentComplete", task.PhysicalPercentComplete);
    run.Raw("EarnedValueMethod", task.EarnedValueMethod);
  }
  run.Do([&] { return GenerateLinks(task.UID); });
  if (statusKnown) {
    duration("ActualWorkProtected", task.ActualWorkProtected);
    duration("ActualOvertimeWorkProtected", task.ActualOvertimeWorkProtected);
  }
  run.Do([&] { return GenerateExtendedAttribute(task.UID, model::OwnerKind::Task); });
  run.Do([&] { return gen::WriteBaselines(w, task.Baselines, gen::BaselineOwner::Task); });
  // Nor whether a task is published to a project server: from the 2007
  // application on, every task is, but for the project's own row of the
  // 2010 application and later.
  if (Form() >= 12) flag("IsPublished", task.UID != 0 || Form() < 14);
  if (statusKnown) run.Raw("CommitmentType", task.CommitmentType);
  auto optionalText = [&](const char* tag, const std::optional<std::u16string>& value) {
    if (value) run.Do([&] { return WriteName(tag, *value); });
  };
  optionalText("StartText", task.StartText);
  optionalText("FinishText", task.FinishText);
  optionalText("DurationText", task.DurationText);
  // The manual dates and duration are the task's own, whatever its mode.
  date("ManualStart", task.Start);
  date("ManualFinish", task.Finish);
  duration("ManualDuration", task.Duration);
  run.Close("Task");
  return run.Cancelled() ? kCancelled : 0;
}

std::int32_t CXMLGen::GenerateLinks(std::uint32_t taskUid) {
  BuildIndexes();
  if (project_.links.empty()) return kNothingWritten;
  auto found = linksBySuccessor_.find(taskUid);
  if (found == linksBySuccessor_.end()) return 0;
  for (std::size_t index : found->second) {
    if (ctx_.Cancelled()) return Cancel();
    const model::SBkndConsParams& link = project_.links[index];
    if (!taskUids_.contains(link.PredecessorUID)) continue;
    ElementRun run(*writer_);
    run.Open("PredecessorLink");
    run.Raw("PredecessorUID", link.PredecessorUID);
    run.Raw("Type", link.Type);
    run.Raw("CrossProject", link.CrossProject);
    run.Raw("LinkLag", link.LinkLag);
    run.Raw("LagFormat", XmlLagFormat(link.LagFormat));
    run.Close("PredecessorLink");
    if (run.Cancelled()) return kCancelled;
    ++written_.links;
  }
  return 0;
}

std::int32_t CXMLGen::GenerateAttributeListXML() {
  // Fields that hold values but were given no alias get a definition too:
  // without one, a reader cannot tell which field a value belongs to.
  std::vector<std::uint32_t> undefined;
  {
    std::unordered_set<std::uint32_t> seen;
    for (const model::SCustomFieldDef& definition : project_.customFieldDefs) seen.insert(definition.FieldID);
    // From the 2007 application on, an assignment's value is defined by the
    // resource field that shows in the assignments' field (its SecondaryPID).
    const bool byResource = Form() >= 12;
    for (const model::SCustomFieldValue& value : project_.customFieldValues) {
      const model::CustomFieldInfo* field = model::FindCustomField(value.FieldID);
      if (field && field->assignment && byResource) field = model::ResourceFieldShownAs(value.FieldID);
      if (field && seen.insert(field->fieldId).second) undefined.push_back(field->fieldId);
    }
  }
  if (project_.customFieldDefs.empty() && undefined.empty()) {
    const std::int32_t result = writer_->Write_hXML("ExtendedAttributes/", nullptr, nullptr);
    return result == kCancelled ? result : kNothingWritten;
  }
  if (ctx_.Cancelled()) throw kBreakException;
  if (writer_->Write_hXML("ExtendedAttributes", nullptr, nullptr) == kCancelled) return kCancelled;
  auto define = [this](std::uint32_t fieldId, const std::u16string* alias) -> std::int32_t {
    if (ctx_.Cancelled()) return Cancel();
    const model::CustomFieldInfo* field = model::FindCustomField(fieldId);
    if (!field) return 0;
    ElementRun run(*writer_);
    run.Open("ExtendedAttribute");
    // From the 2010 application on each field is named by a GUID too: the
    // fixed one of a task field, none (zeros) for resource fields; from the
    // 2007 one on, the field that carries the value into assignment rows
    // follows.
    auto guid = [&](std::uint32_t id) {
      return field->resource ? std::string("00000000-0000-0000-0000-000000000000")
                             : "000039B7-8BBE-4CEB-82C4-FA8C" + xml::XmlWriter::FormatHex8(id);
    };
    run.Raw("FieldID", fieldId);
    run.Raw("FieldName", field->name);
    if (Form() >= 14) run.Raw("Guid", guid(fieldId));
    if (alias) run.Do([&] { return WriteName("Alias", *alias); });
    if (Form() >= 12 && field->secondaryId) {
      run.Raw("SecondaryPID", field->secondaryId);
      if (Form() >= 14) run.Raw("SecondaryGuid", guid(field->secondaryId));
    }
    run.Close("ExtendedAttribute");
    return run.Cancelled() ? kCancelled : 0;
  };
  for (const model::SCustomFieldDef& definition : project_.customFieldDefs)
    if (define(definition.FieldID, &definition.Alias) == kCancelled) return kCancelled;
  for (std::uint32_t fieldId : undefined)
    if (define(fieldId, nullptr) == kCancelled) return kCancelled;
  return writer_->Write_hXML(nullptr, nullptr, "ExtendedAttributes");
}

std::int32_t CXMLGen::GenerateExtendedAttribute(std::uint32_t ownerUid, model::OwnerKind owner) {
  BuildIndexes();
  if (project_.customFieldValues.empty()) return kNothingWritten;
  const auto& index = ValuesOf(owner);
  auto found = index.find(ownerUid);
  if (found == index.end()) return 0;
  for (std::size_t i : found->second) {
    if (ctx_.Cancelled()) return Cancel();
    const model::SCustomFieldValue& value = project_.customFieldValues[i];
    std::optional<std::u16string> text =
        gen::CustomFieldValueText(platform::ByteView(value.Data.data(), value.Data.size()), value.FieldID);
    if (!text) continue;
    ElementRun run(*writer_);
    run.Open("ExtendedAttribute");
    run.Raw("FieldID", value.FieldID);
    run.Do([&] { return WriteName("Value", *text); });
    if (owner == model::OwnerKind::Task) {
      // A custom duration's format, where the file keeps it.
      if (const model::SBkndTaskParams* task = project_.FindTask(ownerUid))
        for (const auto& [field, format] : task->CustomDurationFormats)
          if (field == value.FieldID) run.Raw("DurationFormat", format);
    }
    run.Close("ExtendedAttribute");
    if (run.Cancelled()) return kCancelled;
  }
  return 0;
}
