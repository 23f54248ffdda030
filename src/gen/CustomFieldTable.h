// The built-in custom fields (Text1, Cost3, Flag12, Outline Code4...) of
// tasks and resources: each field identifier's name and value type, and the
// text of a stored value as the generators write it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace gen {

enum class CustomFieldType : std::uint16_t {
  Text = 1,
  StartDate = 2,
  FinishDate = 3,
  Number = 4,
  Duration = 5,
  Money = 6,
  Flag = 7,
  Date = 8,
  None = 9,  // resource Flag11 to Flag20: no value is ever written
  OutlineCode = 10,
};

struct CustomFieldInfo {
  std::uint32_t fieldId = 0;
  std::string name;
  CustomFieldType type = CustomFieldType::None;
};

// The field with that identifier, tasks searched before resources; null
// when the identifier names no built-in field.
const CustomFieldInfo* FindCustomField(std::uint32_t fieldId);

// The text of a stored value, or nothing for an unknown field, a field of
// type None or an empty value. Text values stop at their first zero unit;
// a trailing odd byte is dropped.
std::optional<std::u16string> CustomValueText(std::span<const std::uint8_t> data, std::uint32_t fieldId);

}  // namespace gen
