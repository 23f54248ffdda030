// What the pipeline needs of the parser of a file version: the main parse,
// which reads the repaired file and writes the XML through its generator,
// and the report of what was written.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "MwReport.h"

using StatusFunction = void (*)(const char* text);

class ProjectParser {
 public:
  virtual ~ProjectParser() = default;
  // Returns 0, -1, -2, -3 or -1000; may throw the integer codes 1 and 2.
  virtual int Parse(StatusFunction status) = 0;
  virtual void FillReport(MwUtils::MwReport& report, std::u16string_view output) = 0;
};

// The parser of a detected version (9, 12 or 14), or null when the library
// has no reader for it.
std::unique_ptr<ProjectParser> CreateProjectParser(int version, std::u16string_view input,
                                                   std::u16string_view repairedPath,
                                                   std::u16string_view output);
