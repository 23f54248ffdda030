// Time, process and machine facts that the log and the pipeline ask for.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// A broken-down time with milliseconds, as the log stamps it.
struct SystemTime {
  std::uint16_t year = 0, month = 0, dayOfWeek = 0, day = 0;
  std::uint16_t hour = 0, minute = 0, second = 0, milliseconds = 0;
};

SystemTime LocalTime();
SystemTime UniversalTime();
// Seconds east of UTC of this machine's local time at the given instant
// (seconds since 1970, UTC); 0 when the zone is not known.
std::int32_t LocalOffsetSeconds(std::int64_t unixSeconds);
std::uint32_t ProcessId();

// The folder for temporary files, ending in '/': $TMPDIR or /tmp/.
std::u16string TempFolder();
// A fresh random UUID as 36 lowercase characters; empty if no randomness.
std::u16string NewUuidText();

// Values of the log's machine-information block (UTF-8; empty when the
// machine has no such thing).
std::string ModulePath();
std::string CurrentDirectory();
std::string SystemDirectory();
std::string WindowsDirectory();
std::string ComputerName();

}  // namespace platform
