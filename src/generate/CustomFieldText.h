// The text of a stored custom field value as the document writes it into
// an extended attribute.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/ByteView.h"

namespace gen {

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

}  // namespace gen
