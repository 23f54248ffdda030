// The run a fuzz target's readers log to and listen to: its log is never
// opened and no cancel byte is registered.
#pragma once

#include "base/RunContext.h"

inline RunContext& FuzzRun() {
  static Logger log;
  static LibrarySettings settings;
  static MwUtils::MwReport report;
  static RunContext run{log, settings, report};
  return run;
}
