#include "gen/CustomFieldTable.h"

#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "Date.h"
#include "platform/Text.h"
#include "xml/XmlWriter.h"

namespace gen {
namespace {

using Type = CustomFieldType;

// Fields first..last of a kind, numbered from firstNumber, at identifiers
// from firstId in steps of step.
struct Run {
  const char* prefix;
  int firstNumber;
  int lastNumber;
  std::uint32_t firstId;
  std::uint32_t step;
  Type type;
};

// Field numbers whose identifiers follow no step.
struct Single {
  const char* prefix;
  int number;
  std::uint32_t id;
  Type type;
};

constexpr Run kTaskRuns[] = {
    {"Cost", 1, 3, 0x0B40006A, 1, Type::Money},
    {"Cost", 4, 10, 0x0B400102, 1, Type::Money},
    {"Date", 1, 10, 0x0B400109, 1, Type::Date},
    {"Duration", 1, 3, 0x0B400067, 1, Type::Duration},
    {"Duration", 4, 10, 0x0B400113, 1, Type::Duration},
    {"Finish", 1, 5, 0x0B400035, 3, Type::FinishDate},
    {"Finish", 6, 10, 0x0B40011B, 2, Type::FinishDate},
    {"Flag", 1, 10, 0x0B400048, 1, Type::Flag},
    {"Flag", 11, 20, 0x0B400124, 1, Type::Flag},
    {"Number", 1, 5, 0x0B400057, 1, Type::Number},
    {"Number", 6, 20, 0x0B40012E, 1, Type::Number},
    {"Outline Code", 1, 10, 0x0B4001A0, 2, Type::OutlineCode},
    {"Start", 1, 5, 0x0B400034, 3, Type::StartDate},
    {"Start", 6, 10, 0x0B40011A, 2, Type::StartDate},
    {"Text", 1, 5, 0x0B400033, 3, Type::Text},
    {"Text", 6, 10, 0x0B400042, 1, Type::Text},
    {"Text", 11, 30, 0x0B40013D, 1, Type::Text},
};

constexpr Run kResourceRuns[] = {
    {"Text", 1, 1, 0x0C400008, 1, Type::Text},
    {"Text", 2, 2, 0x0C400009, 1, Type::Text},
    {"Text", 3, 5, 0x0C40001E, 1, Type::Text},
    {"Text", 6, 10, 0x0C400061, 1, Type::Text},
    {"Text", 11, 30, 0x0C4000E1, 1, Type::Text},
    {"Start", 1, 5, 0x0C400066, 1, Type::StartDate},
    {"Start", 6, 10, 0x0C4000DC, 1, Type::StartDate},
    {"Finish", 1, 5, 0x0C40006B, 1, Type::FinishDate},
    {"Finish", 6, 10, 0x0C4000BE, 1, Type::FinishDate},
    {"Number", 1, 5, 0x0C400070, 1, Type::Number},
    {"Number", 6, 20, 0x0C4000CD, 1, Type::Number},
    {"Duration", 1, 3, 0x0C400075, 1, Type::Duration},
    {"Duration", 4, 10, 0x0C4000B7, 1, Type::Duration},
    {"Cost", 1, 3, 0x0C40007B, 1, Type::Money},
    {"Cost", 4, 10, 0x0C4000A6, 1, Type::Money},
    {"Flag", 1, 9, 0x0C40007F, 1, Type::Flag},
    {"Flag", 10, 10, 0x0C40007E, 1, Type::Flag},
    {"Date", 1, 10, 0x0C4000AD, 1, Type::Date},
    {"Flag", 11, 20, 0x0C4000C3, 1, Type::None},
    {"Outline Code", 1, 10, 0x0C400116, 2, Type::OutlineCode},
};

class FieldTable {
 public:
  FieldTable() {
    Add(kTaskRuns);
    Add(kResourceRuns);
  }
  const CustomFieldInfo* Find(std::uint32_t id) const {
    auto it = byId_.find(id);
    return it == byId_.end() ? nullptr : &fields_[it->second];
  }

 private:
  template <std::size_t N>
  void Add(const Run (&runs)[N]) {
    for (const Run& run : runs) {
      for (int number = run.firstNumber; number <= run.lastNumber; ++number) {
        const std::uint32_t id = run.firstId + static_cast<std::uint32_t>(number - run.firstNumber) * run.step;
        // The first entry with an identifier wins.
        if (byId_.try_emplace(id, fields_.size()).second)
          fields_.push_back({id, std::string(run.prefix) + std::to_string(number), run.type});
      }
    }
  }
  std::vector<CustomFieldInfo> fields_;
  std::unordered_map<std::uint32_t, std::size_t> byId_;
};

const FieldTable& Table() {
  static const FieldTable table;
  return table;
}

std::uint32_t ReadUnsigned(std::span<const std::uint8_t> data, bool byteWide) {
  if (byteWide && data.size() == 1) return data[0];
  if (data.size() == 2) return static_cast<std::uint32_t>(data[0] | (data[1] << 8));
  if (data.size() >= 4)
    return static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
           static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
  return 0;
}

double ReadNumber(std::span<const std::uint8_t> data) {
  if (data.size() == 4) {
    float value;
    std::memcpy(&value, data.data(), sizeof value);
    return static_cast<double>(value);
  }
  if (data.size() >= 8) {
    double value;
    std::memcpy(&value, data.data(), sizeof value);
    return value;
  }
  return 0.0;
}

std::u16string Ascii(const std::string& text) { return platform::AnsiToUtf16(text); }

}  // namespace

const CustomFieldInfo* FindCustomField(std::uint32_t fieldId) { return Table().Find(fieldId); }

std::optional<std::u16string> CustomValueText(std::span<const std::uint8_t> data, std::uint32_t fieldId) {
  const CustomFieldInfo* field = FindCustomField(fieldId);
  if (!field || field->type == Type::None || data.empty()) return std::nullopt;
  char text[64];
  switch (field->type) {
    case Type::Text:
    case Type::OutlineCode: {
      std::u16string value;
      for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        const auto unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit == 0) break;
        value.push_back(unit);
      }
      return value;
    }
    case Type::StartDate:
    case Type::FinishDate:
    case Type::Date: {
      const std::uint32_t date = ReadUnsigned(data, false);
      const std::uint32_t minutes = (date & 0xFFFF) / 10;
      // Hours are not reduced: a time beyond the day shows as such.
      std::snprintf(text, sizeof text, "T%02u:%02u:00", minutes / 60, minutes % 60);
      return Ascii(CDate::FromDayNumber(date >> 16).ToText() + text);
    }
    case Type::Number:
    case Type::Money:
      return Ascii(xml::XmlWriter::FormatTrimmedFloat(ReadNumber(data)));
    case Type::Duration: {
      const std::uint32_t tenths = ReadUnsigned(data, false);
      std::snprintf(text, sizeof text, "PT%uH%uM0S", tenths / 600, (tenths / 10) % 60);
      return Ascii(text);
    }
    case Type::Flag:
      return Ascii(std::to_string(ReadUnsigned(data, true)));
    case Type::None:
      break;
  }
  return std::nullopt;
}

}  // namespace gen
