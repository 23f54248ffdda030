// A run of a test's own: its log, settings and report, and the context over
// them that the passes take.
#pragma once

#include "base/RunContext.h"

namespace test_support {

struct TestRun {
  Logger log;
  LibrarySettings settings;
  MwUtils::MwReport report;
  RunContext ctx{log, settings, report};
};

}  // namespace test_support

namespace test_support {

// A run for tests that neither read its log nor cancel it: no log file, no
// cancel byte, no callbacks.
inline RunContext& QuietRun() {
  static Logger log;
  static LibrarySettings settings;
  static MwUtils::MwReport report;
  static RunContext ctx{log, settings, report};
  return ctx;
}

}  // namespace test_support
