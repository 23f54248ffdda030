// The custom fields of tasks, resources and assignments (Text1, Cost3,
// Flag12, Outline Code4...): the catalogue that gives each 32-bit field identifier its name
// and kind of value.
#pragma once

#include <cstdint>
#include <string>

namespace model {

enum class CustomFieldKind : std::uint16_t {
  Text = 1,
  Start = 2,
  Finish = 3,
  Number = 4,
  Duration = 5,
  Cost = 6,
  Flag = 7,
  Date = 8,
  OutlineCode = 10,
};

struct CustomFieldInfo {
  std::uint32_t fieldId = 0;
  std::string name;  // "Text1", "Outline Code4"
  CustomFieldKind kind = CustomFieldKind::Text;
  bool resource = false;  // a resource field; else a task field
  bool assignment = false;  // an assignment field (resource is then false)
  // The assignment field that shows this field's value in assignment rows
  // (for resource fields, the assignments' own field of the same name);
  // 0 where there is none.
  std::uint32_t secondaryId = 0;
};

// The catalogue entry of fieldId (task fields first, then resource and
// assignment fields),
// or null for an identifier that is no custom field. Constant time.
const CustomFieldInfo* FindCustomField(std::uint32_t fieldId);
// The resource field whose values show in assignment rows as the
// assignment field assignmentFieldId, or null.
const CustomFieldInfo* ResourceFieldShownAs(std::uint32_t assignmentFieldId);
// The field id of Flag1..Flag20 of tasks or resources; 0 for other numbers.
std::uint32_t FlagFieldId(bool resource, unsigned flag);
// The field id of Flag1..Flag20 of assignments; 0 for other numbers.
std::uint32_t AssignmentFlagFieldId(unsigned flag);

}  // namespace model
