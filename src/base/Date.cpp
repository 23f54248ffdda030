#include "base/Date.h"

#include <cstdio>
#include <limits>

#include "platform/System.h"

namespace {

// Floor division and its remainder, for months and days before an epoch.
std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

std::int64_t FloorMod(std::int64_t a, std::int64_t b) { return a - FloorDiv(a, b) * b; }

}  // namespace

CDate::CDate(std::int32_t day, std::int32_t month, std::int32_t year)
    : year_(year), month_(month), day_(day) {
  NormalizeMonth();
  NormalizeDay();
}

bool CDate::IsLeapYear(std::int64_t year) {
  if (year % 100 == 0) return (year / 100) % 4 == 0;
  return year % 4 == 0;
}

int CDate::DaysInMonth() const {
  switch (month_) {
    case 1: case 3: case 5: case 7: case 8: case 10: case 12:
      return 31;
    case 4: case 6: case 9: case 11:
      return 30;
    case 2:
      return IsLeapYear(year_) ? 29 : 28;
    default:
      return -1;
  }
}

void CDate::SetYear(std::int64_t year) {
  constexpr std::int64_t kLow = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t kHigh = std::numeric_limits<std::int32_t>::max();
  year_ = static_cast<std::int32_t>(year < kLow ? kLow : year > kHigh ? kHigh : year);
}

// Any month, however far outside 1..12 (24 is December, not month 0).
void CDate::NormalizeMonth() {
  if (month_ >= 1 && month_ <= 12) return;
  const std::int64_t months = static_cast<std::int64_t>(month_) - 1;
  SetYear(static_cast<std::int64_t>(year_) + FloorDiv(months, 12));
  month_ = static_cast<std::int32_t>(FloorMod(months, 12) + 1);
}

// Done by counting days rather than month by month, so a day far outside
// the month costs no more than one inside it.
void CDate::NormalizeDay() {
  NormalizeMonth();
  if (day_ >= 1 && day_ <= DaysInMonth()) return;
  SetSerial(Serial(year_, month_, 1) + (static_cast<std::int64_t>(day_) - 1));
}

// Days from 1970-01-01 of a date with month 1..12 and day 1..31, on the
// proleptic Gregorian calendar (years counted in 400-year eras).
std::int64_t CDate::Serial(std::int64_t year, std::int32_t month, std::int32_t day) {
  if (month <= 2) --year;
  const std::int64_t era = FloorDiv(year, 400);
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

void CDate::SetSerial(std::int64_t serial) {
  serial += 719468;
  const std::int64_t era = FloorDiv(serial, 146097);
  const std::int64_t dayOfEra = serial - era * 146097;
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t shifted = (5 * dayOfYear + 2) / 153;  // March is 0
  day_ = static_cast<std::int32_t>(dayOfYear - (153 * shifted + 2) / 5 + 1);
  month_ = static_cast<std::int32_t>(shifted < 10 ? shifted + 3 : shifted - 9);
  SetYear(yearOfEra + era * 400 + (month_ <= 2 ? 1 : 0));
}

std::int64_t CDate::NormalisedSerial() const {
  CDate date(*this);
  date.NormalizeDay();
  return Serial(date.year_, date.month_, date.day_);
}

std::int64_t CDate::DayNumber() const { return NormalisedSerial() - Serial(1983, 12, 31); }

CDate CDate::FromDayNumber(std::uint32_t dayNumber) {
  CDate date;
  date.AdvanceDays(dayNumber);
  return date;
}

CDate CDate::Today() {
  const platform::SystemTime now = platform::UniversalTime();
  return CDate(now.day, now.month, now.year);
}

bool CDate::AdvanceDays(std::uint32_t n) {
  const std::int64_t span = n == 0 ? 0 : static_cast<std::int64_t>(n) - 1;
  const std::int64_t target = NormalisedSerial() + span;
  const CDate last = LastDate();
  if (target > Serial(last.year_, last.month_, last.day_)) {
    *this = last;
    return true;
  }
  SetSerial(target);
  return false;
}

bool CDate::ToText(char* buffer, std::size_t size) const {
  if (buffer == nullptr || size == 0) return false;
  const int n = std::snprintf(buffer, size, "%04d-%02d-%02d", static_cast<int>(year_),
                              static_cast<int>(month_), static_cast<int>(day_));
  return n >= 0 && static_cast<std::size_t>(n) < size;
}

std::string CDate::ToText() const {
  char text[48];
  ToText(text, sizeof text);
  return text;
}
