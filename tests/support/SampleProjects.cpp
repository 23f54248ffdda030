#include "support/SampleProjects.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "parse/CalendarParser.h"
#include "parse/PropsParser.h"
#include "parse/RscStorageParser.h"
#include "parse/TaskStorageParser.h"

namespace project_fixture {
namespace {

using mpp::Field;

constexpr std::uint32_t kOwnerField = 0x0B400033;  // Text1
constexpr std::uint32_t kCostField = 0x0B40006A;   // Cost1
constexpr std::uint32_t kDayStart = 8 * 600;       // 08:00 in tenths of a minute
constexpr std::uint32_t kDayFinish = 17 * 600;     // 17:00
constexpr std::uint32_t kWorkingDay = 8 * 600;     // eight hours
constexpr std::uint8_t kDays = 7;                  // duration shown in days

// Day number of a civil date, day 1 being 1984-01-01.
std::uint32_t DayNumber(int year, unsigned month, unsigned day) {
  // Days from 1970-01-01 (the usual civil-from-days inverse).
  year -= month <= 2;
  const int era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(year - era * 400);
  const unsigned doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const long days1970 = static_cast<long>(era) * 146097 + static_cast<long>(doe) - 719468;
  return static_cast<std::uint32_t>(days1970 - 5113 + 1);  // 1984-01-01 is day 5113 after 1970
}

// Monday..Friday; day 1 (1984-01-01) was a Sunday.
bool IsWorkday(std::uint32_t day) {
  const std::uint32_t weekday = day % 7;  // 1 Sunday ... 0 Saturday
  return weekday != 0 && weekday != 1;
}

std::uint32_t NextWorkday(std::uint32_t day) {
  do ++day;
  while (!IsWorkday(day));
  return day;
}

std::uint32_t Packed(std::uint32_t day, std::uint32_t tenths) { return (day << 16) | tenths; }

ByteVector Note(std::string_view text) {
  return Bytesz("{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Calibri;}}\\f0\\fs22 " + std::string(text) + "\\par}");
}

// One row of a plan before it is laid into records.
struct PlanRow {
  std::u16string name;
  std::uint16_t level = 1;
  std::uint32_t days = 0;  // 0 for a summary or a milestone
  bool summary = false;
  std::uint32_t percent = 0;
  std::u16string owner;
  std::string note;
};

// Lays rows out as tasks from firstDay on working days: leaves one after the
// other (or, side by side, each leaf at its summary's start and the next
// summary after the last leaf), summaries spanning their subtasks, parents
// from the levels.
// A var value of four or eight bytes.
template <typename T>
ByteVector Scalar(T value) {
  ByteVector bytes(sizeof value);
  std::memcpy(bytes.data(), &value, sizeof value);
  return bytes;
}

ProjectDescription PlanToProject(const std::vector<PlanRow>& rows, std::uint32_t firstDay, bool sideBySide,
                                 bool baselines = false) {
  const std::size_t n = rows.size();
  std::vector<std::uint32_t> start(n), finish(n), parent(n, 0);
  std::vector<std::uint32_t> open;  // indexes of the summaries enclosing the current row
  std::uint32_t day = firstDay;
  std::uint32_t lastDay = 0;  // of the latest leaf so far
  for (std::size_t i = 0; i < n; ++i) {
    const PlanRow& row = rows[i];
    while (open.size() >= row.level) open.pop_back();
    if (sideBySide && row.summary && lastDay >= day) day = NextWorkday(lastDay);
    parent[i] = open.empty() ? 0 : static_cast<std::uint32_t>(open.back() + 1);
    start[i] = Packed(day, kDayStart);
    finish[i] = start[i];
    if (row.summary) {
      open.push_back(i);
      continue;
    }
    std::uint32_t last = day;
    for (std::uint32_t d = 1; d < row.days; ++d) last = NextWorkday(last);
    finish[i] = row.days ? Packed(last, kDayFinish) : Packed(day, kDayStart);
    lastDay = std::max(lastDay, last);
    if (row.days && !sideBySide) day = NextWorkday(last);
    // Every enclosing summary reaches at least this far.
    for (std::size_t s : open) finish[s] = std::max(finish[s], finish[i]);
  }

  const mpp::RecordLayout& layout = mpp::BuiltInLayout14(mpp::RecordKind::Task);
  std::vector<VarItem> var;
  std::vector<FixedItem> fixed;
  var.reserve(n * 2);
  fixed.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    const PlanRow& row = rows[i];
    const auto uid = static_cast<std::uint32_t>(i + 1);
    var.push_back({uid, mpp::kTaskNameType, Utf16z(row.name)});
    if (!row.note.empty()) var.push_back({uid, mpp::kTaskNotesType, Note(row.note)});
    if (!row.owner.empty()) var.push_back({uid, kOwnerField, Utf16z(row.owner)});
    if (baselines && !row.summary) {
      // Baseline 0 and Baseline1 start and finish (version 14 ids), Cost1.
      for (std::uint32_t field : {1299u, 1302u}) {
        var.push_back({uid, 0x0B400000 | field, Scalar(start[i])});
        var.push_back({uid, 0x0B400000 | (field + 1), Scalar(finish[i])});
      }
      var.push_back({uid, kCostField, Scalar(100.0 * (uid % 1000))});
    }
    std::uint32_t workdays = 0;
    for (std::uint32_t d = start[i] >> 16; d <= (finish[i] >> 16) && finish[i] > start[i]; ++d)
      workdays += IsWorkday(d);
    fixed.emplace_back(Record(layout, {Int(Field::TaskUID, uid), Int(Field::TaskID, uid),
                                       Int(Field::ParentUID, parent[i]), Int(Field::OutlineLevel, row.level),
                                       Int(Field::Start, start[i]), Int(Field::Finish, finish[i]),
                                       Int(Field::Duration, workdays * kWorkingDay),
                                       Int(Field::DurationFormat, kDays),
                                       Int(Field::PercentComplete, row.percent),
                                       Int(Field::ConstraintDate, model::kNoConstraintDate),
                                       Int(Field::Stop, model::kNoDate), Int(Field::Resume, model::kNoDate),
                                       Int(Field::ActualStart, model::kNoDate),
                                       Int(Field::ActualFinish, model::kNoDate),
                                       Int(Field::Deadline, model::kNoDate),
                                       Int(Field::CreateDate, Packed(firstDay - 14, kDayStart))}));
  }
  BackendStorage tasks{u"TBkndTask"};
  tasks.var = BuildVarData(var);
  tasks.fixed = BuildFixedData(mpp::RecordKind::Task, fixed);
  tasks.props = CustomFieldProps(mpp::kTaskPropsBlock, {{kOwnerField, u"Owner"}});
  ProjectDescription project;
  project.storages.push_back(std::move(tasks));
  return project;
}

PlanRow Summary(std::u16string name, std::uint16_t level = 1) {
  PlanRow row;
  row.name = std::move(name);
  row.level = level;
  row.summary = true;
  return row;
}

PlanRow Leaf(std::u16string name, std::uint16_t level, std::uint32_t days, std::uint32_t percent = 0,
             std::u16string owner = {}, std::string note = {}) {
  PlanRow row;
  row.name = std::move(name);
  row.level = level;
  row.days = days;
  row.percent = percent;
  row.owner = std::move(owner);
  row.note = std::move(note);
  return row;
}

}  // namespace

fixture::Node CompObjStream(std::string_view userType) {
  // A 28-byte header, then three length-prefixed texts: the user type,
  // the clipboard format and the program id.
  Bytes bytes(28);
  bytes.U32(0, 0xFFFE0001).U32(4, 0x00000A03).U32(8, 0xFFFFFFFF);
  auto text = [&bytes](std::string_view s) {
    const std::size_t at = bytes.size();
    bytes.U32(at, static_cast<std::uint32_t>(s.size() + 1));
    bytes.Put(at + 4, Bytesz(s));
  };
  text(userType);
  text("");
  text("");
  bytes.U32(bytes.size() + 12, 0);
  return fixture::Stream(u"\x01" "CompObj", bytes.data());
}

ByteVector BuildProjectFile(const ProjectDescription& project) {
  fixture::Node root = ProjectRoot(project);
  root.children.insert(root.children.begin(), CompObjStream("Microsoft.Project 14.0"));
  return fixture::Build(root);
}

namespace {

// The calendar storage of a plan with the one base calendar "Standard".
BackendStorage StandardCalendarStorage() {
  constexpr std::uint32_t kNone = 0xFFFFFFFF;
  BackendStorage calendars{u"TBkndCal"};
  calendars.var = BuildVarData({{1, mpp::kCalendarNameType, Utf16z(u"Standard")}});
  FixedItem standard(Record(mpp::BuiltInLayout14(mpp::RecordKind::Calendar),
                            {Int(Field::CalendarUID, 1), Int(Field::BaseCalendarUID, kNone),
                             Int(Field::CalendarResourceUID, kNone)}));
  standard.metaBytes = {{8, 0x4F}};  // a base calendar
  calendars.fixed = BuildFixedData(mpp::RecordKind::Calendar, {standard}, 64);
  return calendars;
}

}  // namespace

ProjectDescription SampleProject() {
  const std::vector<PlanRow> rows = {
      Summary(u"Find the new home"),
      Leaf(u"Set the budget", 2, 2, 100, u"Ana", "Rent at most a third of the net income."),
      Leaf(u"Visit flats", 2, 5, 100, u"Ben"),
      Leaf(u"Sign the lease", 2, 1, 100, u"Ana", "Bring ID & two payslips; deposit < 3 months' rent."),
      Summary(u"Prepare the move"),
      Leaf(u"Book the van", 2, 1, 100, u"Ben"),
      Summary(u"Pack", 2),
      Leaf(u"Pack books", 3, 2, 50),
      Leaf(u"Pack kitchen", 3, 2, 0, u"", "Wrap the glasses in newspaper."),
      Leaf(u"Pack clothes", 3, 1),
      Leaf(u"Change address", 2, 1, 0, u"Ana"),
      Leaf(u"Cancel internet", 2, 1),
      Summary(u"Moving day"),
      Leaf(u"Load the van", 2, 1, 0, u"Ben"),
      Leaf(u"Drive", 2, 1),
      Leaf(u"Unload", 2, 1),
      Leaf(u"Hand back the keys", 2, 1, 0, u"", "Meter readings: photograph them."),
      Summary(u"Settle in"),
      Leaf(u"Unpack", 2, 3, 0, u"Cleo"),
      Leaf(u"Housewarming", 2, 1, 0, u"", "Invite the neighbours."),
      Leaf(u"Moved in", 2, 0),
  };
  ProjectDescription project = PlanToProject(rows, DayNumber(2026, 3, 2), false);
  // As the application saves a plan without resources, assignments or
  // links: the standard calendar and the project's own resource (UID 0),
  // the other tables there but empty (their fixed streams without items),
  // so that the plan reads as whole.
  project.storages.push_back(StandardCalendarStorage());
  BackendStorage own{u"TBkndRsc"};
  own.fixed = BuildFixedData(mpp::RecordKind::Resource,
                             {FixedItem(Record(mpp::BuiltInLayout14(mpp::RecordKind::Resource),
                                               {Int(Field::ResourceUID, 0), Int(Field::ResourceID, 0)}))});
  project.storages.push_back(std::move(own));
  for (const auto& [name, kind] : {std::pair{u"TBkndAssn", mpp::RecordKind::Assignment},
                                   std::pair{u"TBkndCons", mpp::RecordKind::Link}}) {
    BackendStorage empty{name};
    empty.fixed = BuildFixedData(kind, {}, 0);
    project.storages.push_back(std::move(empty));
  }
  project.storages.push_back(BackendStorage{u"TBkndOutlCode"});
  return project;
}

ProjectDescription SyntheticProject(const SyntheticSizes& sizes) {
  const std::size_t taskCount = std::min<std::size_t>(sizes.tasks, 65535);
  std::vector<PlanRow> rows;
  rows.reserve(taskCount);
  for (std::size_t i = 0; i < taskCount; ++i) {
    const std::string number = std::to_string(i + 1);
    const std::u16string suffix(number.begin(), number.end());
    if (i % 11 == 0) {
      rows.push_back(Summary(u"Phase " + suffix));
      continue;
    }
    rows.push_back(Leaf(u"Task " + suffix, 2, 1, 0, i % 5 == 1 ? u"Team A" : u"",
                        i % 7 == 3 ? "Check with the team before starting task " + number + "." : ""));
  }
  ProjectDescription project = PlanToProject(rows, DayNumber(2026, 1, 5), true, sizes.baselines);

  project.storages.push_back(StandardCalendarStorage());

  if (sizes.resources) {
    const mpp::RecordLayout& layout = mpp::BuiltInLayout14(mpp::RecordKind::Resource);
    std::vector<VarItem> var;
    std::vector<FixedItem> fixed;
    for (std::uint32_t uid = 1; uid <= sizes.resources; ++uid) {
      const std::string number = std::to_string(uid);
      var.push_back({uid, mpp::kRscNameType, Utf16z(u"Resource " + std::u16string(number.begin(), number.end()))});
      fixed.emplace_back(Record(layout, {Int(Field::ResourceUID, uid), Int(Field::ResourceID, uid),
                                         Int(Field::ResourceCalendarUID, 1),
                                         Real(Field::StandardRate, 50.0 + uid % 7)}));
    }
    BackendStorage resources{u"TBkndRsc"};
    resources.var = BuildVarData(var);
    resources.fixed = BuildFixedData(mpp::RecordKind::Resource, fixed);
    project.storages.push_back(std::move(resources));
  }

  // The subtasks (UIDs) with the day each starts on.
  std::vector<std::uint32_t> leaves;
  for (std::size_t i = 0; i < taskCount; ++i)
    if (i % 11 != 0) leaves.push_back(static_cast<std::uint32_t>(i + 1));
  if (sizes.assignments && sizes.resources && !leaves.empty()) {
    const mpp::RecordLayout& layout = mpp::BuiltInLayout14(mpp::RecordKind::Assignment);
    std::vector<FixedItem> items;
    for (std::uint32_t uid = 1; uid <= sizes.assignments; ++uid) {
      AssignmentValues values;
      values.uid = uid;
      values.task = leaves[(uid - 1) % leaves.size()];
      values.resource = static_cast<std::uint32_t>((uid - 1) % sizes.resources + 1);
      values.work = kWorkingDay;
      items.emplace_back(AssignmentRecord(layout, values));
    }
    project.storages.push_back(AssignmentStorage(items));
  }
  if (sizes.links && leaves.size() > 1) {
    const mpp::RecordLayout& layout = mpp::BuiltInLayout14(mpp::RecordKind::Link);
    std::vector<FixedItem> items;
    for (std::uint32_t uid = 1; uid <= sizes.links; ++uid) {
      const std::size_t from = (uid - 1) % (leaves.size() - 1);
      items.emplace_back(LinkRecord(layout, {.uid = uid, .predecessor = leaves[from], .successor = leaves[from + 1]}));
    }
    project.storages.push_back(LinkStorage(items));
  }
  return project;
}

}  // namespace project_fixture
