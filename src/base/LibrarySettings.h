// The settings the host gives through the exports for its runs; a run
// reports to the host through its RunContext.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "mdwdll.h"

struct StatusTexts {
  enum Entry { Pass1, Pass2, Pass3, Pass4, Done, Count };
  std::array<std::string, Count> text;
};

StatusTexts BuiltInStatusTexts();
StatusTexts ExternStatusKeys();

struct LibrarySettings {
  std::u16string workFolder;
  StatusCallback statusCallback = nullptr;
  ProgressCallback progressCallback = nullptr;
  std::u16string logPath;
  std::u16string outputFormat;
  unsigned char* breakFlag = nullptr;
  bool statusSet = false;
  bool progressSet = false;
  bool logPathSet = false;
  StatusTexts statusTexts = BuiltInStatusTexts();
  std::uint32_t progressBase = 0;
  std::uint32_t progressSpan = 0;
  std::int32_t lastPercent = 100;

  // Beyond the nine exports: where to keep the repaired compound file, and
  // the XML path of the last run.
  std::u16string keepRepairedPath;
  std::u16string lastOutputPath;
  // The XML writer's per-element log lines.
  bool xmlDetailLog = true;
  // Every task written manually scheduled, its dates as stored.
  bool freezeDates = false;
  // Whether a run may replace an existing output file (never a folder).
  bool replaceOutput = false;
  // What went wrong in the last run, with the system's reason ("open
  // plan.mpp: No such file or directory"); empty after a run that succeeded.
  std::u16string lastError;
  // The system's error number of the first failed write of the document in
  // this run (the XML writer notes it); 0 when none failed.
  int outputErrorNumber = 0;

  const std::string& Status(StatusTexts::Entry entry) const { return statusTexts.text[entry]; }
};

