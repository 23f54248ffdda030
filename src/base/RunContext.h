// What the passes of one run share: its log, the host's settings for it,
// and the report it fills. The pipeline hands it down to every pass that
// logs, reports progress or listens for a cancel; below the exports no
// code keeps any of it in a global.
#pragma once

#include <cstdint>

#include "base/LibrarySettings.h"
#include "base/Logger.h"
#include "base/MwReport.h"

struct RunContext {
  Logger& log;
  LibrarySettings& settings;
  MwUtils::MwReport& report;

  // Whether the host has asked the run to stop. Without a registered cancel
  // byte nothing is ever cancelled.
  bool Cancelled() const;
  // Clears the host's cancel byte, if one is registered.
  void ClearCancel();
  // Notes the first failed write (or create) of the run's document.
  void NoteOutputError(int errorNumber);
  // Sends a status line to the host's status callback.
  void Status(const char* text);
  void Status(StatusTexts::Entry entry) { Status(settings.Status(entry).c_str()); }
  // Sends a progress line to the host's progress callback, as it is.
  void SendProgress(const char* text, std::int32_t percent);
  // Sends and logs a progress step, dropping repeats of the last percent
  // (-1 is always sent).
  void Progress(std::int32_t percent, const char* text);
};
