// The value checks every reader applies when it copies a value out of a
// record: a value outside the legal set of its field is replaced by that
// field's default, never rejected. Floating-point inputs are checked before
// any conversion, so that NaN, infinities and huge values from damaged
// records cannot reach an integer conversion.
#pragma once

#include <cstdint>

namespace model {

// Longest duration or work kept, in tenths of a minute; anything longer is
// taken for damage.
inline constexpr std::uint32_t kMaxDuration = 14245200;
inline constexpr double kMaxCost = 1000000000.0;
// Assignment units are hundredths of a percent: 10000 is 100 %. Units
// beyond 100 % are common (two people in one resource, 20 tons of a
// material); only beyond a million percent are they taken for damage.
inline constexpr double kMaxUnits = 100000000.0;

std::uint32_t ClampDuration(std::uint32_t tenthsOfMinute);
// A work or duration stored as a float in hundredths of a tenth of a minute:
// divided by 100, truncated toward zero, then ClampDuration. Negative,
// non-finite and too large values give 0.
std::uint32_t WorkFromRaw(double stored);
std::uint32_t ClampPercent(std::uint32_t percent);
// 1..kMaxUnits kept; above gives kMaxUnits; below 1 (and NaN) gives 0.
double ClampUnits(double units);
// Magnitudes up to 1e9 kept; anything else (NaN and infinities included)
// gives 0.
double ClampCost(double cost);
// Money as the files store it (hundredths of the currency unit) in
// currency units, clamped as ClampCost.
inline constexpr double kStoredMoneyScale = 100.0;
inline double CostFromStored(double stored) { return ClampCost(stored / kStoredMoneyScale); }

std::uint16_t ValidTaskType(std::uint32_t type);            // 0, 1, 2; else 0
std::uint8_t ValidDurationFormat(std::uint32_t format);     // 3..12, 21, 39, 53; else 7
std::uint8_t ValidConstraintType(std::uint32_t type);       // 0..8; else 0
std::uint16_t ValidLinkType(std::uint32_t type);            // 0..3; else 1
std::uint16_t ValidRateTable(std::uint32_t table);          // 0..4; else 0
std::uint16_t ValidRateFormat(std::uint32_t format);        // 0..8; else 2

}  // namespace model
