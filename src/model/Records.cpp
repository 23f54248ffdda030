#include "model/Records.h"

#include <algorithm>

#include "model/Validators.h"

namespace model {

std::u16string TextFromItem(platform::ByteView item, bool terminated) {
  const std::size_t units = std::min<std::size_t>(item.size(), 2 * kFixedTextUnits) / 2;
  std::u16string text;
  if (units == 0) return text;
  // The last unit covered is the terminator's place.
  const std::size_t kept = terminated ? units - 1 : units;
  for (std::size_t i = 0; i < kept; ++i) {
    const char16_t unit = static_cast<char16_t>(item.u16_at(2 * i).value_or(0));
    if (unit == 0) break;
    text.push_back(unit);
  }
  return text;
}

std::string NoteFromItem(platform::ByteView item) {
  const std::size_t limit = std::min<std::size_t>(item.size(), kMaxNoteBytes);
  std::string note;
  if (limit == 0) return note;
  for (std::size_t i = 0; i + 1 < limit; ++i) {
    const std::uint8_t byte = item.u8_at(i).value_or(0);
    if (byte == 0) break;
    note.push_back(static_cast<char>(byte));
  }
  return note;
}

std::vector<SWeekDay> DefaultWorkingWeek() {
  std::vector<SWeekDay> week(7);
  for (std::size_t day = 1; day <= 5; ++day) {
    SWeekDay& d = week[day];
    d.PeriodCount = 2;
    d.WorkingTotal = 4800;
    d.Periods = {{4800, 7200, 2400, 2400}, {7800, 10200, 2400, 4800}};
  }
  return week;
}

}  // namespace model

namespace model {

bool SBaseline::IsSet() const {
  return HasDate(Start, true) || HasDate(Finish, true) || Duration != 0 || WorkFromRaw(Work) != 0 ||
         CostFromStored(Cost) != 0.0;
}

SBaseline& BaselineOf(std::vector<SBaseline>& list, std::uint8_t number) {
  // At most eleven: a look along the list is cheap.
  for (SBaseline& b : list)
    if (b.Number == number) return b;
  SBaseline& b = list.emplace_back();
  b.Number = number;
  return b;
}

}  // namespace model
