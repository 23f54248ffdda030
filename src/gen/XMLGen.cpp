#include "gen/XMLGen.h"

#include <algorithm>
#include <unordered_set>

#include "Date.h"
#include "LibrarySettings.h"
#include "Logger.h"
#include "gen/ElementRun.h"

namespace {

using gen::ElementRun;

constexpr const char* kCancelledLine = "User Exception in FileRecover. The process was canceled by user";
constexpr const char* kProjectTag = "Project xmlns=\"http://schemas.microsoft.com/project\"";

// Header values that are not constants.
constexpr const char* kToday = "\x01today";
constexpr const char* kStart = "\x01start";
constexpr const char* kFinish = "\x01finish";

struct HeaderElement {
  const char* tag;
  const char* value;
};

// Version 9 files: every date is the project's start, there is no finish
// and no currency, and a few defaults differ.
constexpr HeaderElement kHeader9[] = {
    {"Name", "Project.xml"},
    {"Title", "Project"},
    {"Company", "Microsoft"},
    {"Author", "Kestrelworks"},
    {"CreationDate", kStart},
    {"StartDate", kStart},
    {"LastSaved", kStart},
    {"CurrentDate", kStart},
    {"MinutesPerDay", "480"},
    {"MinutesPerWeek", "2400"},
    {"DaysPerMonth", "20"},
    {"ScheduleFromStart", "1"},
    {"FYStartDate", "1"},
    {"CriticalSlackLimit", "0"},
    {"CalendarUID", "3"},
    {"DefaultTaskType", "0"},
    {"DefaultFixedCostAccrual", "3"},
    {"DefaultStandardRate", "0"},
    {"DefaultOvertimeRate", "0"},
    {"DurationFormat", "7"},
    {"WorkFormat", "2"},
    {"EditableActualCosts", "0"},
    {"HonorConstraints", "0"},
    {"InsertedProjectsLikeSummary", "1"},
    {"MultipleCriticalPaths", "0"},
    {"NewTasksEffortDriven", "1"},
    {"NewTasksEstimated", "1"},
    {"SplitsInProgressTasks", "1"},
    {"SpreadActualCost", "0"},
    {"SpreadPercentComplete", "0"},
    {"TaskUpdatesResource", "1"},
    {"FiscalYearStart", "0"},
    {"WeekStartDay", "1"},
    {"MoveCompletedEndsBack", "0"},
    {"MoveRemainingStartsBack", "0"},
    {"MoveRemainingStartsForward", "0"},
    {"MoveCompletedEndsForward", "0"},
    {"BaselineForEarnedValue", "0"},
    {"AutoAddNewResourcesAndTasks", "1"},
    {"MicrosoftProjectServerURL", "1"},
    {"Autolink", "1"},
    {"NewTaskStartDate", "1"},
    {"DefaultTaskEVMethod", "0"},
    {"ProjectExternallyEdited", "0"},
};

template <std::size_t N>
std::int32_t WriteHeaderElements(xml::XmlWriter& writer, const HeaderElement (&elements)[N],
                                 std::uint16_t startDay, std::uint16_t finishDay) {
  const std::string today = CDate::Today().ToText();
  for (const HeaderElement& element : elements) {
    std::int32_t result = 0;
    if (element.value == kToday)
      result = writer.WriteRawXML(element.tag, today.c_str());
    else if (element.value == kStart)
      result = writer.WriteDateXML(element.tag, startDay);
    else if (element.value == kFinish)
      result = writer.WriteDateXML(element.tag, finishDay);
    else
      result = writer.WriteRawXML(element.tag, element.value);
    if (result == xml::XmlWriter::kCancelled) return result;
  }
  return 0;
}

}  // namespace

CXMLGen::CXMLGen(std::u16string_view outputPath) : writer_(std::make_unique<xml::XmlWriter>(outputPath)) {}

CXMLGen::CXMLGen(std::unique_ptr<xml::XmlSink> sink) : writer_(std::make_unique<xml::XmlWriter>(std::move(sink))) {}

CXMLGen::~CXMLGen() = default;

std::int32_t CXMLGen::CloseOutput() {
  return writer_->CloseXMLFile() == 0 ? 0 : kWriteFailed;
}

std::int32_t CXMLGen::Cancel() {
  theLog.WriteLine(kCancelledLine);
  writer_->CloseXMLFile();
  return kCancelled;
}

std::int32_t CXMLGen::CheckOutput() {
  if (writer_->OpenResult() == 0) return 0;
  theLog.WriteError("    The XML file could not be created");
  return kWriteFailed;
}

std::int32_t CXMLGen::WriteDocumentStart(const char* declaration) {
  if (writer_->Write_hXML(declaration, nullptr, nullptr) == kCancelled) return kCancelled;
  return writer_->Write_hXML(kProjectTag, nullptr, nullptr);
}

bool CXMLGen::RunSection(const char* startLine, const char* finishLine,
                         const std::function<std::int32_t()>& section) {
  if (startLine) theLog.WriteLine(startLine);
  if (section() == kCancelled) return false;
  theLog.WriteLine(finishLine);
  return true;
}

std::int32_t CXMLGen::FinishDocument() {
  if (writer_->Write_hXML(nullptr, nullptr, "Project") == kCancelled) return kCancelled;
  if (CloseOutput() != 0) {
    theLog.WriteError("    The XML file could not be written");
    return kWriteFailed;
  }
  return 0;
}

std::int32_t CXMLGen::GenerateMainXML() {
  if (const std::int32_t failed = CheckOutput()) return failed;
  if (WriteDocumentStart("?xml version=\"1.0\" ?") == kCancelled) return kCancelled;
  if (writer_->WriteRawXML("SaveVersion", "9") == kCancelled) return kCancelled;
  if (WriteHeaderElements(*writer_, kHeader9, projectStartDay, projectStartDay) == kCancelled) return kCancelled;
  for (const char* empty : {"OutlineCodes /", "WBSMasks /", "ExtendedAttributes /"})
    if (writer_->Write_hXML(empty, nullptr, nullptr) == kCancelled) return kCancelled;
  if (!RunSection("GenerateTasksXML() start.", "GenerateTasksXML() finish. ", [this] { return GenerateTasksXML(); }) ||
      !RunSection("GenerateResourcesXML() start.", "GenerateResourcesXML() finish.",
                  [this] { return GenerateResourcesXML(); }) ||
      !RunSection("GenerateAssignments() start.", "GenerateAssignments() finish.",
                  [this] { return GenerateAssignments(); }))
    return kCancelled;
  return FinishDocument();
}

std::u16string CXMLGen::EscapeName(std::u16string_view name) {
  // Task names also have their commas turned into semicolons.
  std::u16string escaped = EscapeMarkup(name);
  std::replace(escaped.begin(), escaped.end(), u',', u';');
  return escaped;
}

std::int32_t CXMLGen::WriteName(const char* tag, std::u16string text) {
  return writer_->WriteNameXML(tag, std::span<char16_t>(text.data(), text.size()));
}

void CXMLGen::IndexLinks() {
  linksBySuccessor_.clear();
  for (std::size_t i = 0; i < links.size(); ++i) linksBySuccessor_[links[i].SuccessorUID].push_back(i);
}

std::int32_t CXMLGen::GenerateTasksXML() {
  std::vector<model::SBkndTaskParams>& tasks = EditTasks();
  if (tasks.empty()) {
    const std::int32_t result = writer_->Write_hXML("Tasks/", nullptr, nullptr);
    return result == kCancelled ? result : kNothingWritten;
  }
  if (writer_->Write_hXML("Tasks", nullptr, nullptr) == kCancelled) return kCancelled;
  std::stable_sort(tasks.begin(), tasks.end(),
                   [](const model::SBkndTaskParams& a, const model::SBkndTaskParams& b) { return a.ID < b.ID; });

  IndexLinks();
  linkTargets_.clear();
  std::uint32_t nextFreeUid = 0;
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    nextFreeUid = std::max(nextFreeUid, tasks[i].UID);
    if (tasks[i].Start != 0 && tasks[i].Finish != 0) linkTargets_.try_emplace(tasks[i].UID, i);
  }

  std::unordered_set<std::uint32_t> idsWritten;
  std::unordered_set<std::uint32_t> uidsWritten;
  std::vector<std::uint32_t> idsInOrder;  // ascending: tasks go out sorted by ID
  std::vector<std::size_t> deferred;
  std::uint32_t highestId = 0;
  std::int64_t previousLevel = 0;
  auto noteWritten = [&](std::uint32_t uid, std::uint32_t id) {
    idsWritten.insert(id);
    uidsWritten.insert(uid);
    idsInOrder.push_back(id);
    highestId = std::max(highestId, id);
  };

  for (std::size_t i = 0; i < tasks.size(); ++i) {
    if (CancelRequested()) return Cancel();
    model::SBkndTaskParams& task = tasks[i];
    bool defer = (task.ID == 0 && i != 0) || idsWritten.contains(task.ID);
    // Fill a jump of several outline levels with placeholders, one per
    // missing level, if there are free IDs for them just below the task.
    std::int64_t jump = static_cast<std::int64_t>(task.OutlineLevel) - previousLevel;
    const std::int64_t room = static_cast<std::int64_t>(task.ID) - (i == 0 ? 0 : tasks[i - 1].ID);
    while (!defer && jump > 1) {
      const std::int64_t id = static_cast<std::int64_t>(task.ID) - jump + 1;
      if (jump > 100 || room < jump || idsWritten.contains(static_cast<std::uint32_t>(id))) {
        defer = true;
        break;
      }
      ++previousLevel;
      ++nextFreeUid;
      noteWritten(nextFreeUid, static_cast<std::uint32_t>(id));
      const std::int32_t result = WritePlaceholder(nextFreeUid, static_cast<std::uint32_t>(id), "Missed Node",
                                                   static_cast<std::uint32_t>(previousLevel));
      if (result == kCancelled) return kCancelled;
      --jump;
    }
    if (defer) {
      deferred.push_back(i);
      continue;
    }
    noteWritten(task.UID, task.ID);
    previousLevel = task.OutlineLevel;
    if (task.PercentComplete > 100) task.PercentComplete = 100;
    if (WriteTask(task) == kCancelled) return kCancelled;
  }

  if (!deferred.empty()) {
    // Tasks that fit nowhere go, in their order, under one summary task.
    ++nextFreeUid;
    const std::uint32_t orphanUid = nextFreeUid;
    const std::uint64_t needed = deferred.size() + 1;
    std::uint64_t orphanId = static_cast<std::uint64_t>(highestId) + 2;
    if (orphanId + deferred.size() > 65535) {
      std::uint64_t below = 0;
      for (std::uint32_t id : idsInOrder) {
        if (id > below && id - below - 1 >= needed) {
          orphanId = id - needed;
          break;
        }
        below = std::max<std::uint64_t>(below, id);
      }
    }
    uidsWritten.insert(orphanUid);
    if (WritePlaceholder(orphanUid, static_cast<std::uint32_t>(orphanId), "Orphaned Nodes", 1) == kCancelled)
      return kCancelled;
    ++orphanTaskCounter;
    std::uint32_t id = static_cast<std::uint32_t>(orphanId);
    for (std::size_t index : deferred) {
      if (CancelRequested()) return Cancel();
      model::SBkndTaskParams copy = tasks[index];
      copy.ID = ++id;
      copy.ParentUID = orphanUid;
      copy.OutlineLevel = 2;
      while (uidsWritten.contains(copy.UID)) ++copy.UID;
      uidsWritten.insert(copy.UID);
      if (copy.PercentComplete > 100) copy.PercentComplete = 100;
      if (WriteTask(copy) == kCancelled) return kCancelled;
    }
  }
  return writer_->Write_hXML(nullptr, nullptr, "Tasks");
}

std::int32_t CXMLGen::WritePlaceholder(std::uint32_t uid, std::uint32_t id, const char* name, std::uint32_t level) {
  xml::XmlWriter& w = *writer_;
  if (w.Write_hXML("Task", nullptr, nullptr) == kCancelled ||
      w.WriteRawXML("UID", std::to_string(uid).c_str()) == kCancelled ||
      w.WriteRawXML("ID", std::to_string(id).c_str()) == kCancelled || w.WriteRawXML("Name", name) == kCancelled ||
      w.WriteRawXML("IsNull", "0") == kCancelled ||
      w.WriteRawXML("OutlineLevel", std::to_string(level).c_str()) == kCancelled)
    return kCancelled;
  return w.Write_hXML(nullptr, nullptr, "Task");
}

std::int32_t CXMLGen::WriteTask(const model::SBkndTaskParams& task) {
  ++tasksWritten;
  xml::XmlWriter& w = *writer_;
  // Start and finish keep their time of day: a bare date is no date-time
  // and puts every task at midnight.
  ElementRun run(w);
  run.Open("Task");
  run.Raw("UID", task.UID);
  run.Raw("ID", task.ID);
  run.Do([&] { return WriteName("Name", EscapeName(task.Name)); });
  run.Do([&] { return w.WriteDateTime12XML("CreateDate", task.Start); });
  run.Do([&] { return w.WriteDateTime12XML("Start", task.Start); });
  run.Raw("CalendarUID", "-1");
  run.Raw("IsNull", "0");
  run.Raw("Type", task.Type);
  run.Raw("Critical", "0");
  run.Raw("Manual", "1");
  run.Do([&] { return w.WriteDurationXML("Duration", task.Duration); });
  run.Raw("DurationFormat", task.DurationFormat == 12 ? 7u : task.DurationFormat);
  run.Do([&] { return w.WriteDateTime12XML("Finish", task.Finish); });
  run.Raw("FixedCost", "0");
  run.Raw("FixedCostAccrual", "3");
  // A constraint the task has holds it in place; "as soon as possible"
  // instead would move it.
  run.Raw("ConstraintType", task.ConstraintType);
  if (task.ConstraintType != 0) run.Do([&] { return w.WriteDateTime12XML("ConstraintDate", task.ConstraintDate); });
  run.Raw("Priority", task.Priority);
  run.Raw("OutlineNumber", task.ParentUID);
  run.Raw("OutlineLevel", task.OutlineLevel);
  if (run.Cancelled()) return kCancelled;
  if (task.Notes && !task.Notes->empty() &&
      w.WriteNotesXML("Notes", platform::ByteView(reinterpret_cast<const std::uint8_t*>(task.Notes->data()),
                                                  task.Notes->size())) == kCancelled)
    return kCancelled;
  if (GeneratePredecessorLink(task.UID, task.OutlineLevel) == kCancelled) return kCancelled;
  return w.Write_hXML(nullptr, nullptr, "Task");
}

std::int32_t CXMLGen::GeneratePredecessorLink(std::uint32_t taskUid, std::uint32_t) {
  auto found = linksBySuccessor_.find(taskUid);
  if (found == linksBySuccessor_.end()) return 0;
  xml::XmlWriter& w = *writer_;
  for (std::size_t index : found->second) {
    const model::SBkndConsParams& link = links[index];
    if (!linkTargets_.contains(link.PredecessorUID)) continue;
    if (w.Write_hXML("PredecessorLink", nullptr, nullptr) == kCancelled ||
        w.WriteRawXML("PredecessorUID", std::to_string(link.PredecessorUID).c_str()) == kCancelled ||
        // The link's own type and lag: writing every link as finish-to-
        // start without lag would move the successors.
        w.WriteRawXML("Type", std::to_string(link.Type).c_str()) == kCancelled ||
        w.WriteRawXML("LinkLag", std::to_string(link.LinkLag).c_str()) == kCancelled ||
        w.WriteRawXML("LagFormat", std::to_string(link.LagFormat).c_str()) == kCancelled ||
        w.Write_hXML(nullptr, nullptr, "PredecessorLink") == kCancelled)
      return kCancelled;
    ++linksWritten;
  }
  return 0;
}

std::int32_t CXMLGen::GenerateCalendarXML() { return 0; }
