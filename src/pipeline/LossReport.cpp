#include "pipeline/LossReport.h"

#include <algorithm>

#include "model/Project.h"
#include "platform/Text.h"

namespace {

using model::StorageTally;

std::string Plural(long long n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

void AddReason(KindLoss& loss, const std::string& why) {
  if (!loss.reason.empty()) loss.reason += "; ";
  loss.reason += why;
}

KindLoss FromStorageRecords(const char* kind, const char* storage, const char* one, const char* many,
                            const StorageTally& tally, long long written, long long uncounted);

// A kind read from the fixed records of one storage: held is what its
// FixedMeta declared, recovered the smaller of what was read and what was
// written (the generator leaves out what it cannot place). minimum: records every plan the application saves has (its own resource,
// its standard calendar); a table with fewer lost them.
KindLoss FromStorage(const char* kind, const char* storage, const char* one, const char* many,
                     const StorageTally& tally, long long written, long long uncounted = 0, std::size_t minimum = 0) {
  KindLoss loss = FromStorageRecords(kind, storage, one, many, tally, written, uncounted);
  if (tally.storageFound && tally.held < minimum) {
    loss.lost = true;
    loss.varDataLost = true;
    AddReason(loss, std::string("the ") + storage + " came back empty, though every plan holds at least " +
                        Plural(static_cast<long long>(minimum), one, many) + ": its records were lost");
  }
  return loss;
}

KindLoss FromStorageRecords(const char* kind, const char* storage, const char* one, const char* many,
                            const StorageTally& tally, long long written, long long uncounted) {
  KindLoss loss{kind};
  written = std::max<long long>(0, written - uncounted);
  if (!tally.storageFound) {
    loss.recovered = written;
    loss.lost = true;
    loss.varDataLost = true;
    AddReason(loss, std::string("the ") + storage + " was lost, so how many the file held is unknown");
    return loss;
  }
  if (!tally.fixedRead) {
    // Every table keeps its fixed streams, an empty one too: a storage
    // without them lost them, and with them how many records it held. It
    // may still have left names behind.
    loss.recovered = written;
    loss.lost = true;
    AddReason(loss, std::string("the records of the ") + storage +
                        (written > 0 ? " were lost; only their names came back"
                                     : " were lost, so how many the file held is unknown"));
    return loss;
  }
  loss.held = std::max<long long>(0, static_cast<long long>(tally.held) - uncounted);
  const long long read = loss.held - static_cast<long long>(tally.unreadable);
  loss.recovered = std::min(std::max<long long>(read, 0), written);
  if (tally.unreadable > 0) AddReason(loss, Plural(static_cast<long long>(tally.unreadable), one, many) + " unreadable");
  if (tally.placed > 0)
    AddReason(loss, Plural(static_cast<long long>(tally.placed), one, many) +
                        " read where the records around them place them: their flags were lost");
  if (tally.cutShort > 0)
    AddReason(loss, Plural(static_cast<long long>(tally.cutShort), one, many) +
                        " cut short with their stream: their later fields were lost");
  if (tally.countLost)
    AddReason(loss,
              std::string("the list of the ") + storage + "'s records was lost, so how many the file held is unknown");
  if (written < read) AddReason(loss, Plural(read - written, one, many) + " read but not written (their references were lost)");
  // Records written beyond those the fixed data gave came from the names
  // alone: their dates and values were lost.
  const long long nameOnly = written - std::max<long long>(read, 0);
  if (nameOnly > 0) {
    loss.held += nameOnly;
    AddReason(loss, Plural(nameOnly, one, many) + " lost; only their names came back");
  }
  loss.lost =
      loss.recovered < loss.held || nameOnly > 0 || tally.placed > 0 || tally.countLost || tally.cutShort > 0;
  if (tally.countLost) loss.held = -1;
  return loss;
}

// Names, notes and custom values live in a storage's var data.
// named: the records that have names (the project's own summary task and
// resource have none); nameless: those of them that came back without one.
void NoteVarLosses(KindLoss& loss, const char* what, const StorageTally& tally, long long named,
                   long long nameless = 0) {
  if (!tally.storageFound) return;  // said already
  if (!tally.varRead) {
    if (named <= 0) return;  // nothing to name
    loss.lost = true;
    loss.varDataLost = true;
    AddReason(loss, std::string("their ") + what + " were lost");
  } else if (tally.varSkipped > 0) {
    loss.lost = true;
    loss.varDataLost = true;
    AddReason(loss, Plural(static_cast<long long>(tally.varSkipped), "value", "values") + " of their " + what +
                        " unreadable");
  }
  // Without the file's field map the usual codes read the var items: where
  // records then lack names, those were not the codes the file used.
  if (tally.varRead && tally.varCodesGuessed && nameless > 0) {
    loss.lost = true;
    loss.varDataLost = true;
    AddReason(loss, std::string("their ") + what +
                        " were read without the file's field map, which was lost: some may be misplaced");
  }
}

}  // namespace

bool LossReport::AnyLoss() const {
  return std::any_of(kinds.begin(), kinds.end(), [](const KindLoss& k) { return k.lost; });
}

int LossReport::Level() const {
  long long tasksHeld = -1, tasks = 0, resources = 0;
  for (const KindLoss& k : kinds) {
    if (std::string(k.kind) == "Tasks") tasksHeld = k.held, tasks = k.recovered;
    if (std::string(k.kind) == "Resources") resources = k.recovered;
  }
  if (tasks == 0 && resources == 0) return 1;
  if (!AnyLoss()) return 3;
  if (tasks == 0 || (tasksHeld > 0 && tasks * 2 < tasksHeld)) return 1;
  return 2;
}

LossReport AssessLosses(const model::Project& gen, const WrittenCounts& written) {
  const model::ReadTally& t = gen.tally;
  LossReport report;

  // The project's own summary row (UID 0) is no task of the plan.
  const bool summary = std::any_of(gen.Tasks().begin(), gen.Tasks().end(),
                                   [](const model::SBkndTaskParams& task) { return task.UID == 0; });
  KindLoss tasks = FromStorage("Tasks", "task table", "task record", "task records", t.tasks,
                               written.tasks, summary ? 1 : 0);
  const auto nameless = std::count_if(gen.Tasks().begin(), gen.Tasks().end(), [](const model::SBkndTaskParams& task) {
    return task.UID != 0 && task.Name.empty() && model::HasDate(task.Start);
  });
  NoteVarLosses(tasks, "names, notes and custom values", t.tasks, tasks.held, nameless);
  if (t.tasks.varRead && t.tasks.varSkipped == 0 && !t.tasks.varCodesGuessed) {
    // A whole var stream: a task without a name had none.
  } else if (nameless > 0) {
    AddReason(tasks, Plural(nameless, "task was", "tasks were") + " given an invented name (\"Unknown task name\")");
  }
  report.kinds.push_back(std::move(tasks));

  KindLoss resources = FromStorage("Resources", "resource table", "resource record", "resource records", t.resources,
                                   written.resources, 0, 1);
  const bool ownResource = std::any_of(gen.Resources().begin(), gen.Resources().end(),
                                      [](const model::SBkndRscParams& r) { return r.UID == 0; });
  const auto namelessResources =
      std::count_if(gen.Resources().begin(), gen.Resources().end(),
                    [](const model::SBkndRscParams& r) { return r.UID != 0 && r.Name.empty(); });
  NoteVarLosses(resources, "names, notes and custom values", t.resources, resources.held - (ownResource ? 1 : 0),
                namelessResources);
  report.kinds.push_back(std::move(resources));

  report.kinds.push_back(FromStorage("Assignments", "assignment table", "assignment record", "assignment records",
                                     t.assignments, written.assignments));
  report.kinds.push_back(FromStorage("Links", "link table", "link record", "link records", t.links, written.links));
  KindLoss calendars = FromStorage("Calendars", "calendar table", "calendar record", "calendar records", t.calendars,
                                   static_cast<long long>(gen.calendars.size()), 0, 1);
  NoteVarLosses(calendars, "names and working weeks", t.calendars, 0);
  report.kinds.push_back(std::move(calendars));

  // Notes and custom values: the file gives no count of its own; what was
  // read is counted, and a loss shows as a loss of the var data above.
  long long notes = 0;
  for (const auto& task : gen.Tasks()) notes += task.Notes && !task.Notes->empty();
  for (const auto& resource : gen.Resources()) notes += resource.Notes && !resource.Notes->empty();
  const bool textsLost = report.kinds[0].varDataLost || report.kinds[1].varDataLost;
  KindLoss noteLoss{"Notes"};
  noteLoss.recovered = notes;
  if (textsLost) {
    noteLoss.lost = true;
    noteLoss.reason = "some may be lost with the task or resource data named above";
  }
  report.kinds.push_back(std::move(noteLoss));
  KindLoss custom{"Custom values"};
  custom.recovered = static_cast<long long>(gen.customFieldValues.size());
  for (const auto& task : gen.Tasks()) custom.recovered += static_cast<long long>(task.CustomValues.size());
  for (const auto& resource : gen.Resources()) custom.recovered += static_cast<long long>(resource.CustomValues.size());
  if (textsLost) {
    custom.lost = true;
    custom.reason = "some may be lost with the task or resource data named above";
  }
  report.kinds.push_back(std::move(custom));
  return report;
}

void AddLossRows(MwUtils::MwReport& report, const LossReport& losses) {
  for (const KindLoss& k : losses.kinds) {
    std::string value = std::to_string(k.recovered);
    if (k.held >= 0) value += " of " + std::to_string(k.held);
    const std::u16string name = platform::Utf8ToUtf16(std::string(k.kind) + " recovered");
    const std::u16string text = platform::Utf8ToUtf16(value);
    const std::u16string note = platform::Utf8ToUtf16(k.reason.empty() ? " " : k.reason);
    report.AddItem(name.c_str(), text.c_str(), note.c_str(), k.lost ? u"lost" : u"whole");
  }
  report.SetLevel(losses.Level());
}

void FillReport(MwUtils::MwReport& report, const model::Project& project, const WrittenCounts& written) {
  const std::pair<const char16_t*, std::uint32_t> rows[] = {
      {u"Tasks", written.tasks},
      {u"Constraints", written.links},
      {u"Resources", written.resources},
      {u"Assignments", written.assignments},
  };
  for (const auto& [name, count] : rows) {
    if (count == 0) continue;
    const std::u16string value = platform::AnsiToUtf16(std::to_string(count));
    report.AddItem(name, value.c_str());
  }
  AddLossRows(report, AssessLosses(project, written));
}
