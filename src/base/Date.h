// Calendar dates (Gregorian) for the day numbers of the project files: day 1
// is 1984-01-01. Arithmetic stays inside a window that ends at LastDate(),
// 2049-12-31, the last day a file's 16-bit day number is taken to mean.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CDate {
 public:
  // 1984-01-01, the day the files' day numbers count from.
  CDate() = default;
  // Normalised at once: a month outside 1..12 moves the year, a day outside
  // the month moves the month (CDate(0, 3, 2000) is 2000-02-29).
  CDate(std::int32_t day, std::int32_t month, std::int32_t year);
  CDate(const CDate&) = default;
  CDate& operator=(const CDate&) = default;
  virtual ~CDate() = default;

  static CDate LastDate() { return CDate(31, 12, 2049); }
  // The date of a file's day number: day 0 and day 1 are 1984-01-01, every
  // day past LastDate() is LastDate().
  static CDate FromDayNumber(std::uint32_t dayNumber);
  // The current date in universal time.
  static CDate Today();

  std::int32_t Year() const { return year_; }
  std::int32_t Month() const { return month_; }
  std::int32_t Day() const { return day_; }

  // The day number of this date: 1 for 1984-01-01, counting on past
  // LastDate(); 0 and below for earlier dates.
  std::int64_t DayNumber() const;

  // 31, 30, 29 or 28 for the date's month; -1 for a month outside 1..12.
  int DaysInMonth() const;
  static bool IsLeapYear(std::int64_t year);

  // Moves a month outside 1..12 into range by changing the year.
  void NormalizeMonth();
  // Moves a day outside the month into range by changing the month and
  // year; the month is normalised first.
  void NormalizeDay();



  // Moves to the last day of a span of n days starting at the date (n = 0
  // counts as 1); clamped at LastDate(). True when it was clamped.
  bool AdvanceDays(std::uint32_t n);

  // "YYYY-MM-DD", the year with at least four digits.
  std::string ToText() const;
  // The same into buffer (always zero-terminated when size > 0); false when
  // it did not fit whole.
  bool ToText(char* buffer, std::size_t size) const;

 private:
  // Days since 1970-01-01 of a normalised date, and back.
  static std::int64_t Serial(std::int64_t year, std::int32_t month, std::int32_t day);
  void SetSerial(std::int64_t serial);
  void SetYear(std::int64_t year);
  std::int64_t NormalisedSerial() const;

  std::int32_t year_ = 1984;
  std::int32_t month_ = 1;
  std::int32_t day_ = 1;
};
