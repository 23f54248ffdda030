// The loss report: for each kind of data, what the file's structure says it
// held beside what the document got, with the reason for the difference;
// and the recovery level that follows from it (3 whole, 2 with losses, 1
// little recovered). Filled from the readers' tally and the generator's
// counts after a parse, added to the recovery report as rows of their own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/MwReport.h"
#include "generate/XMLGen.h"

namespace model {
class Project;
}

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

// written: what the generator wrote of the model.
LossReport AssessLosses(const model::Project& gen, const WrittenCounts& written);

// The report of one parse: a row per kind of record written ("Tasks",
// "Constraints", "Resources", "Assignments"; none for a kind of which none
// was written), then the loss rows.
void FillReport(MwUtils::MwReport& report, const model::Project& project, const WrittenCounts& written);

// Adds one row per kind after the rows already there: name "<Kind>
// recovered", value "<recovered> of <held>" ("<recovered>" when the held
// count is unknown), column 2 "whole" or "lost", note the reason (a blank
// when whole). Sets the level.
void AddLossRows(MwUtils::MwReport& report, const LossReport& losses);
