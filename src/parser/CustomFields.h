// The custom fields of tasks and resources (Text1, Cost3, Flag12, Outline
// Code4...): the catalogue that gives each 32-bit field identifier its name
// and kind of value, and the text of a stored value as the generators write
// it into an extended attribute.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_set>

#include "model/Records.h"
#include "parser/RecordLayout.h"
#include "platform/ByteView.h"

class CMppGen;

namespace mpp {

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
};

// The catalogue entry of fieldId (task fields first, then resource fields),
// or null for an identifier that is no custom field. Constant time.
const CustomFieldInfo* FindCustomField(std::uint32_t fieldId);
// The field id of Flag1..Flag20 of tasks or resources; 0 for other numbers.
std::uint32_t FlagFieldId(bool resource, unsigned flag);
// Entries per table: 130 task fields, 130 resource fields.
std::size_t CustomFieldCount(bool resource);

// The kind code of fieldId (1 text ... 10 outline code); false when unknown.
bool GetCustomFieldType(std::uint32_t fieldId, std::uint16_t& type);
// The field's name ("Number7"); false when unknown.
bool GetCustomFieldName(std::uint32_t fieldId, std::u16string& name);

// The text of a stored value of fieldId, or nothing when the field is
// unknown or the value empty:
//   text, outline code   the UTF-16 units up to the first zero
//   start, finish, date  "YYYY-MM-DDThh:mm:00" of a PackedDate (u16 when the
//                        value has 2 bytes, else u32); nothing for "no date"
//   number, cost         a float (4 bytes) or double (8), "%0.2f" trimmed;
//                        costs are stored in hundredths of the currency
//   duration             "PT<h>H<m>M0S" of tenths of a minute
//   flag                 the value (u8, u16 or u32 by length) in decimal
std::optional<std::u16string> CustomFieldValueText(platform::ByteView value, std::uint32_t fieldId);

// Keeps the var-data values of custom fields of one kind of owner: those of
// the fields the file defines and of every catalogue field of that kind
// (most used fields have no alias).
class CustomValueKeeper {
 public:
  CustomValueKeeper(CMppGen& gen, model::OwnerKind kind);
  // Appends the value to the model's custom values and returns true when
  // fieldId is such a field; false (nothing kept) otherwise.
  bool Keep(std::uint32_t owner, std::uint32_t fieldId, platform::ByteView value) const;

 private:
  CMppGen& gen_;
  model::OwnerKind kind_;
  std::unordered_set<std::uint32_t> defined_;
};

// The custom flags of the records of one storage, kept as values "1" of
// their owners for every flag set in a record's FixedMeta item (a flag
// that is off is no value, as in var data). A flag the var data gave the
// owner already is not kept twice.
class FlagValueKeeper {
 public:
  FlagValueKeeper(CMppGen& gen, model::OwnerKind kind);
  // The number of values kept.
  std::size_t Keep(std::uint32_t owner, platform::ByteView item, const CustomFlagBits& bits);

 private:
  CMppGen& gen_;
  model::OwnerKind kind_;
  std::unordered_set<std::uint64_t> kept_;  // owner << 32 | field id
};

}  // namespace mpp
