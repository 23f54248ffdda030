// What the exports keep for the process: the host's settings, the log the
// runs write to, and the report the runs add their rows to. The host sets
// and reads them through the exports between runs; each run gets a
// RunContext over them. Nothing below the exports reaches them.
#pragma once

#include "base/RunContext.h"

namespace api {

LibrarySettings& HostSettings();
Logger& HostLog();
MwUtils::MwReport& HostReport();

}  // namespace api
