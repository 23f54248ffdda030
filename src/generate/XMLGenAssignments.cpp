// The Assignments section: the version 9 form of the base generator and the
// version 14 form with its timephased work.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cmath>
#include <limits>
#include <string>
#include <unordered_set>

#include "generate/Baselines.h"
#include "generate/ElementRun.h"
#include "generate/XMLGen.h"
#include "model/Validators.h"

namespace {

using gen::ElementRun;

// Of the data types of timephased elements.
constexpr int kRemainingWork = 1;
constexpr int kCompletedWork = 2;
// Unit of the timephased values written by version 14.
constexpr int kTimephasedUnit = 2;

// A stored double as single precision; values a float cannot hold (or
// not numbers at all) as 0.
float Single(double value) {
  return std::isfinite(value) && std::fabs(value) <= std::numeric_limits<float>::max() ? static_cast<float>(value)
                                                                                       : 0.0f;
}

std::int32_t EmptySection(xml::XmlWriter& writer) {
  const std::int32_t result = writer.Write_hXML("Assignments/", nullptr, nullptr);
  return result == xml::XmlWriter::kCancelled ? result : xml::XmlWriter::kNothingWritten;
}

}  // namespace



// --- version 14 -----------------------------------------------------------

std::int32_t CXMLGen::GenerateAssignments() {
  try {
    if (project_.assignments.empty()) return EmptySection(*writer_);
    if (writer_->Write_hXML("Assignments", nullptr, nullptr) == kCancelled) return kCancelled;
    for (const model::SBkndAssnParams& assignment : project_.assignments) {
      if (ctx_.Cancelled()) return Cancel();
      if (assignment.TaskUID == 0 && assignment.ResourceUID == 0) continue;
      const model::SBkndTaskParams* task = project_.FindTask(assignment.TaskUID);
      if (!task) continue;
      if (assignment.ResourceUID != model::kNoResourceUID && !project_.FindResource(assignment.ResourceUID)) continue;
      ++written_.assignments;
      if (WriteAssignment(assignment, *task) == kCancelled) return kCancelled;
    }
    return writer_->Write_hXML(nullptr, nullptr, "Assignments");
  } catch (int) {
    ctx_.log.WriteLine("User break was thrown if GenerateAssignments()");
    throw;
  }
}

std::int32_t CXMLGen::WriteAssignment(const model::SBkndAssnParams& assignment, const model::SBkndTaskParams& task) {
  NoteWritten();
  xml::XmlWriter& w = *writer_;
  ElementRun run(w);
  auto date = [&](const char* tag, model::PackedDate value) {
    run.Do([&] { return w.WriteDateTime14XML(tag, value); });
  };
  auto duration = [&](const char* tag, std::uint32_t tenths) {
    run.Do([&] { return w.WriteDurationSecXML(tag, tenths); });
  };
  auto money = [&](const char* tag, double value) { run.Raw(tag, xml::XmlWriter::FormatMoney(value)); };
  // The assignment's own dates where its record has them: an assignment
  // may start after its task does (a delay) or end before it.
  auto own = [](model::PackedDate mine, model::PackedDate fallback) {
    return model::HasDate(mine, true) ? mine : fallback;
  };

  // Version 9 documents write the earned values and variances as whole
  // numbers, the later ones with two decimals.
  const bool wholeNumbers = std::string_view(saveVersion_) == "9";
  auto number = [&](const char* tag, double value) {
    if (wholeNumbers)
      run.Raw(tag, xml::XmlWriter::FormatDecimal(value, 2));
    else
      run.Do([&] { return w.WriteFloatXML(tag, Single(value)); });
  };
  // What the record holds of baseline 0 (nothing saved: no dates, 0 work
  // and cost).
  const model::SBaseline* baseline = gen::BaselineZero(assignment.Baselines);
  const double baselineCost = baseline ? baseline->Cost / model::kStoredMoneyScale : 0.0;
  const double baselineWork = baseline ? baseline->Work : 0.0;  // minutes x 1000
  const bool baselineStart = baseline && model::HasDate(baseline->Start, true);
  const bool baselineFinish = baseline && model::HasDate(baseline->Finish, true);
  const double actualCost = assignment.ActualCost.value_or(task.ActualCost);
  // Earned value: with no baseline cost nothing was budgeted; with no
  // actual cost nothing was spent. Other values depend on the status date
  // and the timephased baseline, which the document does not get; and the
  // variance at completion is written where it is 0 (the cost kept to its
  // baseline), the only value whose unit the samples settle.
  const std::optional<double> budgeted = baselineCost == 0.0 ? std::optional(0.0) : std::nullopt;
  const std::optional<double> spent = actualCost == 0.0 ? std::optional(0.0) : std::nullopt;
  // The stand-in assignment of a task without resources keeps the task's
  // planned work in the file; the applications before 2010 show none on it
  // (its task has none either), the later ones what the file keeps.
  const bool workShown = Form() >= 14 || assignment.ResourceUID != model::kNoResourceUID;
  const std::uint32_t work = workShown ? assignment.Work : 0;
  const std::uint32_t remainingWork = !workShown ? 0 : assignment.RemainingWork.value_or(
      assignment.Work > assignment.ActualWork ? assignment.Work - assignment.ActualWork : 0);
  const std::uint32_t regularWork = !workShown ? 0 : assignment.RegularWork.value_or(
      assignment.Work > assignment.OvertimeWork ? assignment.Work - assignment.OvertimeWork : 0);
  // The second writes Stop and Resume only once work has been done.
  const bool stopResume = std::string_view(saveVersion_) != "14" || assignment.ActualWork > 0;

  run.Open("Assignment");
  run.Raw("UID", assignment.UID);
  if (assignment.Guid) run.Raw("GUID", xml::XmlWriter::FormatGuid(*assignment.Guid));
  run.Raw("TaskUID", assignment.TaskUID);
  // Signed, so that "no resource" reads -65535.
  run.Raw("ResourceUID", static_cast<std::int32_t>(assignment.ResourceUID));
  // Of the assignment's own work: none done is 0, all done 100; between
  // them the application rounds its own way, and its task's stored work
  // percentage stands in (the same value where the task has this one
  // assignment).
  const std::uint32_t percentWork = assignment.Work == 0           ? task.PercentWorkComplete
                                    : assignment.ActualWork == 0     ? 0
                                    : assignment.ActualWork >= assignment.Work ? 100
                                                                     : task.PercentWorkComplete;
  run.Raw("PercentWorkComplete", percentWork);
  money("ActualCost", actualCost);
  // The task's actual dates, unless the assignment's own work says it has
  // not started, or not finished, yet (another of the task's may have).
  const bool started = assignment.Work == 0 || assignment.ActualWork > 0;
  const bool finished = assignment.Work == 0 || assignment.ActualWork >= assignment.Work;
  if (finished && model::HasDate(task.ActualFinish, true)) date("ActualFinish", task.ActualFinish);
  money("ActualOvertimeCost", assignment.ActualOvertimeCost);
  duration("ActualOvertimeWork", assignment.ActualOvertimeWork);
  if (started && model::HasDate(task.ActualStart, true)) date("ActualStart", task.ActualStart);
  duration("ActualWork", assignment.ActualWork);
  if (spent) number("ACWP", *spent);
  money("Cost", assignment.Cost);
  run.Raw("CostRateTable", assignment.CostRateTable);
  money("CostVariance", assignment.Cost - baselineCost);
  if (budgeted && spent) number("CV", *budgeted - *spent);
  run.Raw("Delay", assignment.Delay);
  date("Finish", own(assignment.Finish, task.Finish));
  if (!baselineFinish) run.Raw("FinishVariance", "0");
  // The stand-in assignment of a task without resources adds no work to
  // its task: the variance counts none of it.
  const double countedWork =
      assignment.ResourceUID == model::kNoResourceUID ? 0.0 : static_cast<double>(assignment.Work) * 100.0;
  number("WorkVariance", countedWork - baselineWork);
  // Only material resources consume at a variable rate or in a fixed
  // amount: a work resource's units, or no resource's, are a fixed rate.
  const model::SBkndRscParams* resource = project_.FindResource(assignment.ResourceUID);
  const bool fixedRate =
      assignment.ResourceUID == model::kNoResourceUID || (resource && resource->Type == 0 && !resource->IsCostResource);
  if (fixedRate) {
    run.Raw("HasFixedRateUnits", "1");
    run.Raw("FixedMaterial", "0");
  }
  run.Raw("LevelingDelay", assignment.LevelingDelay);
  run.Raw("LevelingDelayFormat", assignment.DelayFormat);
  // An assignment is a milestone when its task is.
  run.Raw("Milestone", task.Milestone ? "1" : "0");
  if (assignment.Notes && !assignment.Notes->empty())
    run.Do([&] {
      return w.WriteNotesXML("Notes", platform::ByteView(reinterpret_cast<const std::uint8_t*>(assignment.Notes->data()),
                                                         assignment.Notes->size()));
    });
  // No file keeps an assignment's overallocation; it follows from its
  // resource's: work of a resource never overallocated, or of none, is not.
  if (assignment.ResourceUID == model::kNoResourceUID || (resource && resource->OverAllocated == false))
    run.Raw("Overallocated", "0");
  money("OvertimeCost", assignment.ActualOvertimeCost + assignment.RemainingOvertimeCost);
  duration("OvertimeWork", assignment.OvertimeWork);
  // No usage rate, so no time unit for it (0).
  if (fixedRate) run.Raw("RateScale", "0");
  duration("RegularWork", regularWork);
  money("RemainingCost", assignment.RemainingCost.value_or(task.RemainingCost));
  money("RemainingOvertimeCost", assignment.RemainingOvertimeCost);
  duration("RemainingOvertimeWork", assignment.RemainingOvertimeWork);
  duration("RemainingWork", remainingWork);
  date("Start", own(assignment.Start, task.Start));
  if (stopResume && model::HasDate(assignment.Stop, true)) date("Stop", assignment.Stop);
  if (stopResume && model::HasDate(assignment.Resume, true)) date("Resume", assignment.Resume);
  if (!baselineStart) run.Raw("StartVariance", "0");
  run.Raw("Units", xml::XmlWriter::FormatDecimal(assignment.Units / 10000.0, 6));
  // No file keeps an update-needed mark (its field is in no map): the
  // application's own default.
  run.Raw("UpdateNeeded", "0");
  if (baselineCost == assignment.Cost) number("VAC", 0.0);
  duration("Work", work);
  if (assignment.WorkContour) run.Raw("WorkContour", *assignment.WorkContour);
  if (budgeted) {
    number("BCWS", *budgeted);
    number("BCWP", *budgeted);
  }
  // Version 9 documents carry the protected actuals, the later ones only
  // where they hold work (version 9 files have no such fields: none).
  if (wholeNumbers || assignment.ActualWorkProtected || assignment.ActualOvertimeWorkProtected) {
    duration("ActualWorkProtected", assignment.ActualWorkProtected);
    duration("ActualOvertimeWorkProtected", assignment.ActualOvertimeWorkProtected);
  }
  // Version 9 files keep no creation date of an assignment: it is its
  // task's (so on every sample the application read).
  if (assignment.CreationDate)
    date("CreationDate", *assignment.CreationDate);
  else if (wholeNumbers && model::HasDate(task.CreateDate, true))
    date("CreationDate", task.CreateDate);
  money("BudgetCost", assignment.BudgetCost);
  duration("BudgetWork", assignment.BudgetWork);
  run.Do([&] { return GenerateExtendedAttribute(assignment.UID, model::OwnerKind::Assignment); });
  run.Do([&] { return gen::WriteBaselines(w, assignment.Baselines, gen::BaselineOwner::Assignment); });
  if (run.Cancelled()) return kCancelled;

  const gen::WorkWeek& week = WeekOf(resource ? resource->CalendarUID : 1);
  // The end times are the low halves (times of day) of the dates.
  auto series = [&](int type, std::uint32_t work, model::PackedDate from, model::PackedDate to,
                    const std::vector<model::SWorkBlock>* blocks = nullptr) {
    run.Do([&] { return WriteTimephased(type, assignment.UID, work, from, to & 0xFFFF, week, blocks); });
  };
  // Where the file times the remaining work with its pauses, and its
  // stretches hold that very work, the series follows them.
  // Blocks are taken when they hold the work the series would spread, or
  // the assignment's own share of it (which differs at other units).
  auto timed = [&](const std::vector<model::SWorkBlock>& blocks, std::uint32_t work,
                   std::uint32_t own) -> const std::vector<model::SWorkBlock>* {
    std::uint64_t total = 0;
    for (const model::SWorkBlock& block : blocks) total += block.work;
    return !blocks.empty() && (total == work || total == own) ? &blocks : nullptr;
  };
  const std::uint32_t ownActual = assignment.ActualWork;
  const std::uint32_t ownRemaining = assignment.Work > ownActual ? assignment.Work - ownActual : 0;
  if (task.Stop == task.Resume) {
    // The whole work in one series: what is left of it, or all of it done.
    const auto* blocks = timed(assignment.RemainingBlocks, task.Duration, ownRemaining);
    if (!blocks) blocks = timed(assignment.CompletedBlocks, task.Duration, ownActual);
    series(kRemainingWork, task.Duration, task.Start, task.Resume, blocks);
  } else {
    series(kCompletedWork, task.ActualDuration, task.Start, task.Stop,
           timed(assignment.CompletedBlocks, task.ActualDuration, ownActual));
    series(kRemainingWork, task.RemainingDuration, task.Resume, task.Finish,
           timed(assignment.RemainingBlocks, task.RemainingDuration, ownRemaining));
  }
  run.Close("Assignment");
  return run.Cancelled() ? kCancelled : 0;
}

const gen::WorkWeek& CXMLGen::WeekOf(std::uint32_t calendarUid) {
  auto found = weeks_.find(calendarUid);
  if (found != weeks_.end()) return found->second;
  gen::WorkWeek week = gen::WorkWeek::Of(project_.CalendarByUid(calendarUid));
  if (week.UsesDefault())
    ctx_.log.WriteFormat("        Calendar %u has no working week: timephased work uses the default week", calendarUid);
  return weeks_.emplace(calendarUid, std::move(week)).first->second;
}

std::int32_t CXMLGen::WriteTimephased(int type, std::uint32_t uid, std::uint32_t work, model::PackedDate start,
                                        std::uint32_t endTime, const gen::WorkWeek& week,
                                        const std::vector<model::SWorkBlock>* blocks) {
  // No work, or no date to start from: no series.
  if (work == 0 || !model::HasDate(start)) return kNothingWritten;
  if (timephasedWritten_ >= timephasedLimit_) {
    if (!timephasedCapLogged_)
      ctx_.log.WriteFormat(
          "        %llu timephased elements written: the remaining project_.assignments go without theirs",
          static_cast<unsigned long long>(timephasedWritten_));
    timephasedCapLogged_ = true;
    return kNothingWritten;
  }
  xml::XmlWriter& w = *writer_;
  bool cancelled = false;
  auto emit = [&](const gen::TimephasedElement& element) {
    if (ctx_.Cancelled()) {
      Cancel();
      cancelled = true;
      return false;
    }
    ElementRun run(w);
    run.Open("TimephasedData");
    run.Raw("Type", type);
    run.Raw("UID", uid);
    run.Do([&] { return w.WriteDateTime14XML("Start", element.start); });
    run.Do([&] { return w.WriteDateTime14XML("Finish", element.finish); });
    run.Raw("Unit", kTimephasedUnit);
    if (element.value == 0)
      run.Raw("Value", "");
    else
      run.Do([&] { return w.WriteDurationSecXML("Value", element.value); });
    run.Close("TimephasedData");
    cancelled = run.Cancelled();
    return !cancelled;
  };
  const std::uint64_t budget = timephasedLimit_ - timephasedWritten_;
  const auto maxDays = static_cast<std::uint32_t>(std::min<std::uint64_t>(gen::kMaxTimephasedDays, budget - 1));
  const gen::Distribution result = blocks ? gen::DistributeBlocks(week, *blocks, start, emit, maxDays)
                                          : gen::DistributeWork(week, work, start, endTime, emit, maxDays);
  timephasedWritten_ += result.elements;
  if (cancelled) return kCancelled;
  if (result.outcome == gen::Distribution::Outcome::Cut)
    ctx_.log.WriteFormat("        Timephased work of assignment %u cut after %u days: %u tenths of a minute not placed",
                         uid, result.daysWalked, result.workLeft);
  return 0;
}
