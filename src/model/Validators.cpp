#include "model/Validators.h"

#include <cmath>

namespace model {

std::uint32_t ClampDuration(std::uint32_t tenthsOfMinute) {
  return tenthsOfMinute <= kMaxDuration ? tenthsOfMinute : 0;
}

std::uint32_t WorkFromRaw(double stored) {
  if (!std::isfinite(stored)) return 0;
  const double tenths = std::trunc(stored / 100.0);
  if (tenths < 0.0 || tenths > static_cast<double>(kMaxDuration)) return 0;
  return static_cast<std::uint32_t>(tenths);
}

std::uint32_t ClampPercent(std::uint32_t percent) { return percent <= 100 ? percent : 0; }

double ClampUnits(double units) {
  if (std::isnan(units) || units < 1.0) return 0.0;
  return units > kMaxUnits ? kMaxUnits : units;
}

double ClampCost(double cost) {
  if (!std::isfinite(cost) || std::fabs(cost) > kMaxCost) return 0.0;
  return cost;
}

std::uint16_t ValidTaskType(std::uint32_t type) {
  return type <= 2 ? static_cast<std::uint16_t>(type) : 0;
}

std::uint8_t ValidDurationFormat(std::uint32_t format) {
  const bool known = (format >= 3 && format <= 12) || format == 21 || format == 39 || format == 53;
  return known ? static_cast<std::uint8_t>(format) : 7;
}

std::uint8_t ValidConstraintType(std::uint32_t type) {
  return type <= 8 ? static_cast<std::uint8_t>(type) : 0;
}

std::uint16_t ValidLinkType(std::uint32_t type) {
  return type <= 3 ? static_cast<std::uint16_t>(type) : 1;
}

std::uint16_t ValidRateTable(std::uint32_t table) {
  return table <= 4 ? static_cast<std::uint16_t>(table) : 0;
}

std::uint16_t ValidRateFormat(std::uint32_t format) {
  return format <= 8 ? static_cast<std::uint16_t>(format) : 2;
}

}  // namespace model
