#include "model/CustomFieldCatalog.h"

#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace model {

namespace {

// Where the flags' field ids start (Flag10 of resources stands alone).
constexpr std::uint32_t kTaskFlag1 = 0x0B400048, kTaskFlag11 = 0x0B400124;
constexpr std::uint32_t kResourceFlag1 = 0x0C40007F, kResourceFlag10 = 0x0C40007E, kResourceFlag11 = 0x0C4000C3;
constexpr std::uint32_t kAssignmentFlag1 = 0x0F40007B, kAssignmentFlag10 = 0x0F40007A, kAssignmentFlag11 = 0x0F4000BC;

using K = CustomFieldKind;

struct Catalogue {
  std::vector<CustomFieldInfo> task;
  std::vector<CustomFieldInfo> resource;
  std::vector<CustomFieldInfo> assignment;
  std::unordered_map<std::uint32_t, const CustomFieldInfo*> byId;
  std::unordered_map<std::uint32_t, const CustomFieldInfo*> resourceBySecondary;
};

// Task fields are shown in assignment rows by a block of fields of their
// own, one family after another.
struct TaskBlock {
  std::string_view family;
  std::uint32_t first;
};
constexpr TaskBlock kTaskFieldsInAssignments[] = {
    {"Date", 0x0F404000},   {"Flag", 0x0F40400A},  {"Cost", 0x0F40401E},  {"Duration", 0x0F404028},
    {"Finish", 0x0F404032}, {"Number", 0x0F40403C}, {"Start", 0x0F40405A}, {"Text", 0x0F404064},
};

// The assignment field of a task field, named family and number.
std::uint32_t TaskFieldInAssignments(std::string_view name) {
  const std::size_t digits = name.find_first_of("0123456789");
  if (digits == std::string_view::npos) return 0;
  const std::string_view family = name.substr(0, digits);
  const int n = std::stoi(std::string(name.substr(digits)));
  for (const TaskBlock& block : kTaskFieldsInAssignments)
    if (block.family == family) return block.first + static_cast<std::uint32_t>(n - 1);
  return 0;
}

// Fields first .. last of a family, numbered from first number, with
// consecutive identifiers from id (step apart).
void Run(std::vector<CustomFieldInfo>& table, bool resource, const char* family, K kind,
         int firstNumber, int lastNumber, std::uint32_t id, std::uint32_t step = 1) {
  for (int n = firstNumber; n <= lastNumber; ++n, id += step)
    table.push_back({id, std::string(family) + std::to_string(n), kind, resource});
}

// Fields whose identifiers follow no run.
void List(std::vector<CustomFieldInfo>& table, bool resource, const char* family, K kind,
          int firstNumber, std::initializer_list<std::uint32_t> ids) {
  int n = firstNumber;
  for (std::uint32_t id : ids) table.push_back({id, std::string(family) + std::to_string(n++), kind, resource});
}

Catalogue Build() {
  Catalogue c;
  auto& t = c.task;
  Run(t, false, "Cost", K::Cost, 1, 3, 0x0B40006A);
  Run(t, false, "Cost", K::Cost, 4, 10, 0x0B400102);
  Run(t, false, "Date", K::Date, 1, 10, 0x0B400109);
  Run(t, false, "Duration", K::Duration, 1, 3, 0x0B400067);
  Run(t, false, "Duration", K::Duration, 4, 10, 0x0B400113);
  List(t, false, "Finish", K::Finish, 1,
       {0x0B400035, 0x0B400038, 0x0B40003B, 0x0B40003E, 0x0B400041, 0x0B40011B, 0x0B40011D, 0x0B40011F,
        0x0B400121, 0x0B400123});
  Run(t, false, "Flag", K::Flag, 1, 10, kTaskFlag1);
  Run(t, false, "Flag", K::Flag, 11, 20, kTaskFlag11);
  Run(t, false, "Number", K::Number, 1, 5, 0x0B400057);
  Run(t, false, "Number", K::Number, 6, 20, 0x0B40012E);
  Run(t, false, "Outline Code", K::OutlineCode, 1, 10, 0x0B4001A0, 2);
  List(t, false, "Start", K::Start, 1,
       {0x0B400034, 0x0B400037, 0x0B40003A, 0x0B40003D, 0x0B400040, 0x0B40011A, 0x0B40011C, 0x0B40011E,
        0x0B400120, 0x0B400122});
  List(t, false, "Text", K::Text, 1, {0x0B400033, 0x0B400036, 0x0B400039, 0x0B40003C, 0x0B40003F});
  Run(t, false, "Text", K::Text, 6, 10, 0x0B400042);
  Run(t, false, "Text", K::Text, 11, 30, 0x0B40013D);

  auto& r = c.resource;
  List(r, true, "Text", K::Text, 1, {0x0C400008, 0x0C400009});
  Run(r, true, "Text", K::Text, 3, 5, 0x0C40001E);
  Run(r, true, "Text", K::Text, 6, 10, 0x0C400061);
  Run(r, true, "Text", K::Text, 11, 30, 0x0C4000E1);
  Run(r, true, "Start", K::Start, 1, 5, 0x0C400066);
  Run(r, true, "Start", K::Start, 6, 10, 0x0C4000DC);
  Run(r, true, "Finish", K::Finish, 1, 5, 0x0C40006B);
  Run(r, true, "Finish", K::Finish, 6, 10, 0x0C4000BE);
  Run(r, true, "Number", K::Number, 1, 5, 0x0C400070);
  Run(r, true, "Number", K::Number, 6, 20, 0x0C4000CD);
  Run(r, true, "Duration", K::Duration, 1, 3, 0x0C400075);
  Run(r, true, "Duration", K::Duration, 4, 10, 0x0C4000B7);
  Run(r, true, "Cost", K::Cost, 1, 3, 0x0C40007B);
  Run(r, true, "Cost", K::Cost, 4, 10, 0x0C4000A6);
  Run(r, true, "Flag", K::Flag, 1, 9, kResourceFlag1);
  List(r, true, "Flag", K::Flag, 10, {kResourceFlag10});
  Run(r, true, "Date", K::Date, 1, 10, 0x0C4000AD);
  // Resource flags 11 to 20 hold flags like the others.
  Run(r, true, "Flag", K::Flag, 11, 20, kResourceFlag11);
  Run(r, true, "Outline Code", K::OutlineCode, 1, 10, 0x0C400116, 2);

  // Assignments: families in two runs each, Flag10 before Flag1.
  auto& a = c.assignment;
  Run(a, false, "Text", K::Text, 1, 10, 0x0F400058);
  Run(a, false, "Text", K::Text, 11, 30, 0x0F4000DA);
  Run(a, false, "Start", K::Start, 1, 5, 0x0F400062);
  Run(a, false, "Start", K::Start, 6, 10, 0x0F4000D5);
  Run(a, false, "Finish", K::Finish, 1, 5, 0x0F400067);
  Run(a, false, "Finish", K::Finish, 6, 10, 0x0F4000B7);
  Run(a, false, "Number", K::Number, 1, 5, 0x0F40006C);
  Run(a, false, "Number", K::Number, 6, 20, 0x0F4000C6);
  Run(a, false, "Duration", K::Duration, 1, 3, 0x0F400071);
  Run(a, false, "Duration", K::Duration, 4, 10, 0x0F4000B0);
  Run(a, false, "Cost", K::Cost, 1, 3, 0x0F400077);
  Run(a, false, "Cost", K::Cost, 4, 10, 0x0F40009F);
  Run(a, false, "Date", K::Date, 1, 10, 0x0F4000A6);
  Run(a, false, "Flag", K::Flag, 1, 9, kAssignmentFlag1);
  List(a, false, "Flag", K::Flag, 10, {kAssignmentFlag10});
  Run(a, false, "Flag", K::Flag, 11, 20, kAssignmentFlag11);
  for (CustomFieldInfo& info : a) info.assignment = true;

  // Where each task and resource field shows in assignment rows: task
  // fields in a block of their own, resource fields in the assignments'
  // field of the same name.
  for (CustomFieldInfo& info : t) info.secondaryId = TaskFieldInAssignments(info.name);
  std::unordered_map<std::string, std::uint32_t> assignmentByName;
  for (const CustomFieldInfo& info : a) assignmentByName.emplace(info.name, info.fieldId);
  for (CustomFieldInfo& info : r)
    if (auto found = assignmentByName.find(info.name); found != assignmentByName.end()) info.secondaryId = found->second;

  // Task fields first: the first entry with an identifier wins.
  for (const auto* table : {&c.task, &c.resource, &c.assignment})
    for (const CustomFieldInfo& info : *table) c.byId.try_emplace(info.fieldId, &info);
  for (const CustomFieldInfo& info : c.resource)
    if (info.secondaryId) c.resourceBySecondary.try_emplace(info.secondaryId, &info);
  return c;
}

const Catalogue& TheCatalogue() {
  static const Catalogue catalogue = Build();
  return catalogue;
}

}  // namespace

const CustomFieldInfo* FindCustomField(std::uint32_t fieldId) {
  const auto& byId = TheCatalogue().byId;
  auto it = byId.find(fieldId);
  return it == byId.end() ? nullptr : it->second;
}

const CustomFieldInfo* ResourceFieldShownAs(std::uint32_t assignmentFieldId) {
  const auto& map = TheCatalogue().resourceBySecondary;
  auto it = map.find(assignmentFieldId);
  return it == map.end() ? nullptr : it->second;
}

std::uint32_t FlagFieldId(bool resource, unsigned flag) {
  if (flag < 1 || flag > 20) return 0;
  if (!resource) return flag <= 10 ? kTaskFlag1 + (flag - 1) : kTaskFlag11 + (flag - 11);
  if (flag == 10) return kResourceFlag10;
  return flag < 10 ? kResourceFlag1 + (flag - 1) : kResourceFlag11 + (flag - 11);
}

std::uint32_t AssignmentFlagFieldId(unsigned flag) {
  if (flag < 1 || flag > 20) return 0;
  if (flag == 10) return kAssignmentFlag10;
  return flag < 10 ? kAssignmentFlag1 + (flag - 1) : kAssignmentFlag11 + (flag - 11);
}

}  // namespace model
