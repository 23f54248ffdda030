// State that one salvage shares between its stages: the run it belongs to,
// the bounds computed from the file size, the header fields as read and as
// later corrected, and the counters printed in the closing summary. The
// salvage driver owns it and hands it to its stages.
#pragma once

#include <cstdint>

#include "base/RunContext.h"

namespace salvage {

// Every sector number, mini-sector number and count the salvage accepts is
// checked against these.
struct FileBounds {
  std::int32_t maxSector = 0;          // file size / 512 - 1
  std::uint32_t maxMiniSector = 0;     // ((size / 64) * 2) / 3; reset once the mini stream is known
  std::uint32_t needSatSectors = 0;    // ceil(maxSector / 128)
  std::uint32_t needDifSectors = 0;    // DIF sectors needed to list needSatSectors

  static FileBounds ForFileSize(std::int64_t size);
};

struct HeaderInfo {
  std::uint32_t satSectorsCount = 0;
  std::uint32_t satStart = 0;
  std::uint32_t miniSatStart = 0;
  std::uint32_t miniSatCount = 0;  // as the header gives it; only a hint
  std::uint32_t rootsStart = 0;
  std::uint32_t difStart = 0;
  std::uint32_t difSectorsCount = 0;
};

struct SalvageStats {
  std::uint32_t satSectorsFound = 0;
  std::uint32_t satSectorsDefined = 0;
  std::uint32_t miniSatSectorsExpected = 0;
  std::uint32_t miniSatSectorsDefined = 0;
  std::uint32_t rootEntriesFound = 0;
  std::uint32_t damagedElements = 0;
  std::uint32_t lostElements = 0;
  std::uint32_t storagesTotal = 0;
  std::uint32_t storagesCreated = 0;
  std::uint32_t streamsTotal = 0;
  std::uint32_t streamsCreated = 0;
  std::uint32_t namesCorrected = 0;
  std::uint32_t streamsCut = 0;  // streams that ran past the end of a cut file, kept up to it
  std::uint32_t streamsGivenBack = 0;  // streams of lost entries written from the chains that held them
};

struct SalvageState {
  explicit SalvageState(const RunContext& context) : run(context) {}

  RunContext run;
  FileBounds bounds;
  HeaderInfo header;
  SalvageStats stats;
  // Depth of the directory walk that writes the repaired file, as its log shows it.
  std::int32_t recurseLevel = 0;
  // The file's size when it was found cut (shorter than its tables account for); 0 otherwise.
  std::uint64_t cutAt = 0;

  Logger& log() const { return run.log; }
};

}  // namespace salvage
