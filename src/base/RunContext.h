// What the passes of one run share: its log, the host's settings for it,
// and the report it fills. The pipeline hands it down to every pass that
// logs, reports progress or listens for a cancel; below the exports no
// code keeps any of it in a global.
#pragma once

#include "base/LibrarySettings.h"
#include "base/Logger.h"
#include "base/MwReport.h"

struct RunContext {
  Logger& log;
  LibrarySettings& settings;
  MwUtils::MwReport& report;
};
