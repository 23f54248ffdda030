// The loss report: for each kind of data, what the file's structure says it
// held beside what the document got, with the reason for the difference;
// and the recovery level that follows from it (3 whole, 2 with losses, 1
// little recovered). Filled from the readers' tally and the generator's
// counts after a parse, added to the recovery report as rows of their own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "MwReport.h"

class CMppGen;

struct KindLoss {
  const char* kind;  // "Tasks", "Resources"...
  // What the file held; -1 when its structure no longer says.
  long long held = -1;
  long long recovered = 0;
  bool lost = false;    // less than the file held, or the count is unknown because data were lost
  std::string reason;   // why, in words; empty when whole
  bool varDataLost = false;  // names, notes or custom values lost with it
};

struct LossReport {
  std::vector<KindLoss> kinds;
  bool AnyLoss() const;
  // 1: little recovered (no task and no resource; or, with losses, no task
  // or fewer than half the tasks the file held); 3: nothing lost; 2:
  // otherwise.
  int Level() const;
};

// placeholders: tasks the generator added to mend the outline.
LossReport AssessLosses(const CMppGen& gen, std::uint32_t placeholders);

// Adds one row per kind after the rows already there: name "<Kind>
// recovered", value "<recovered> of <held>" ("<recovered>" when the held
// count is unknown), column 2 "whole" or "lost", note the reason (a blank
// when whole). Sets the level.
void AddLossRows(MwUtils::MwReport& report, const LossReport& losses);
