// The Assignments section: the version 9 form of the base generator and the
// version 14 form with its timephased work.
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <unordered_set>

#include "generate/Baselines.h"
#include "generate/ElementRun.h"
#include "generate/XMLGen.h"

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

  run.Open("Assignment");
  run.Raw("UID", assignment.UID);
  run.Raw("TaskUID", assignment.TaskUID);
  // Signed, so that "no resource" reads -65535.
  run.Raw("ResourceUID", static_cast<std::int32_t>(assignment.ResourceUID));
  run.Raw("PercentWorkComplete", task.PercentComplete);
  money("ActualCost", assignment.ActualCost.value_or(task.ActualCost));
  if (model::HasDate(task.ActualFinish, true)) date("ActualFinish", task.ActualFinish);
  run.Raw("ActualOvertimeCost", "0");
  run.Raw("ActualOvertimeWork", "PT0H0M0S");
  if (model::HasDate(task.ActualStart, true)) date("ActualStart", task.ActualStart);
  duration("ActualWork", assignment.ActualWork);
  money("Cost", assignment.Cost);
  date("Finish", own(assignment.Finish, task.Finish));
  run.Do([&] { return w.WriteFloatXML("WorkVariance", Single(task.WorkRaw)); });
  money("RemainingCost", assignment.RemainingCost.value_or(task.RemainingCost));
  run.Raw("RemainingOvertimeCost", "0");
  run.Raw("RemainingOvertimeWork", "PT0H0M0S");
  // What is left of the assignment's own work.
  duration("RemainingWork", assignment.Work > assignment.ActualWork ? assignment.Work - assignment.ActualWork : 0);
  date("Start", own(assignment.Start, task.Start));
  if (model::HasDate(task.Stop, true)) date("Stop", task.Stop);
  if (model::HasDate(task.Resume, true)) date("Resume", task.Resume);
  run.Raw("Units", xml::XmlWriter::FormatDecimal(assignment.Units / 10000.0, 6));
  duration("Work", assignment.Work);
  run.Do([&] { return gen::WriteBaselines(w, assignment.Baselines, gen::BaselineOwner::Assignment); });
  if (run.Cancelled()) return kCancelled;

  const model::SBkndRscParams* resource = project_.FindResource(assignment.ResourceUID);
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
