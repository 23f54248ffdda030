#include "generate/CustomFieldText.h"

#include <cstdio>

#include "base/Date.h"
#include "model/CustomFieldCatalog.h"
#include "platform/Text.h"
#include "xml/XmlWriter.h"

namespace gen {

namespace {

using K = model::CustomFieldKind;

constexpr std::uint32_t kTenthsPerDay = 24 * 600;

std::uint32_t UnsignedOfLength(platform::ByteView value) {
  if (value.size() == 1) return value.u8_at(0).value_or(0);
  if (value.size() == 2 || value.size() == 3) return value.u16_at(0).value_or(0);
  return value.u32_at(0).value_or(0);
}

std::optional<std::u16string> DateText(platform::ByteView value) {
  const std::uint32_t packed = value.size() == 2 ? value.u16_at(0).value_or(0)
                               : value.size() >= 4 ? value.u32_at(0).value_or(0)
                                                   : 0;
  if (packed == 0xFFFFFFFF) return std::nullopt;
  // A time of day past midnight moves into the following days, so that the
  // text stays a valid date-time.
  std::uint32_t day = packed >> 16;
  std::uint32_t tenths = packed & 0xFFFF;
  day += tenths / kTenthsPerDay;
  tenths %= kTenthsPerDay;
  char text[64];
  std::snprintf(text, sizeof text, "%sT%02u:%02u:00", CDate::FromDayNumber(day).ToText().c_str(),
                tenths / 600, (tenths / 10) % 60);
  return platform::AnsiToUtf16(text);
}

}  // namespace

std::optional<std::u16string> CustomFieldValueText(platform::ByteView value, std::uint32_t fieldId) {
  const model::CustomFieldInfo* info = model::FindCustomField(fieldId);
  if (!info || value.empty()) return std::nullopt;
  switch (info->kind) {
    case K::Text:
    case K::OutlineCode: {
      std::u16string text;
      for (std::size_t at = 0; at + 2 <= value.size(); at += 2) {
        const char16_t unit = static_cast<char16_t>(value.u16_at(at).value_or(0));
        if (unit == 0) break;
        text.push_back(unit);
      }
      return text;
    }
    case K::Start:
    case K::Finish:
    case K::Date:
      return DateText(value);
    case K::Number:
    case K::Cost: {
      double number = 0.0;
      if (value.size() == 4) {
        float f = 0.0f;
        value.CopyTo(0, 4, &f);
        number = f;
      } else if (value.size() >= 8) {
        value.CopyTo(0, 8, &number);
      }
      // Costs are kept in hundredths of the currency, as documents hold
      // them; numbers at full precision (0.125, not 0.13).
      if (info->kind == K::Cost) return platform::AnsiToUtf16(xml::XmlWriter::FormatDecimal(number, 2));
      return platform::AnsiToUtf16(xml::XmlWriter::FormatDecimal(number, 6));
    }
    case K::Duration: {
      const std::uint32_t tenths = value.size() == 2 ? value.u16_at(0).value_or(0)
                                   : value.size() >= 4 ? value.u32_at(0).value_or(0)
                                                       : 0;
      char text[64];
      std::snprintf(text, sizeof text, "PT%uH%uM0S", tenths / 600, (tenths / 10) % 60);
      return platform::AnsiToUtf16(text);
    }
    case K::Flag:
      return platform::AnsiToUtf16(std::to_string(UnsignedOfLength(value)));
  }
  return std::nullopt;
}

}  // namespace gen
