#include "VersionDetection.h"

#include "Logger.h"

namespace {
constexpr const char* kSeparator = "==================================================== ";
}

// Compound files cannot be opened yet, so no version can be told.
int DetectFileVersion(std::u16string_view) {
  theLog.WriteLine(kSeparator);
  theLog.WriteError("DetectFileVersion - failed open file(!)");
  return 0;
}
