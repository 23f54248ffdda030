#include "StgReader.h"

#include "Logger.h"

// The salvage of the container is not part of the library yet: every file
// ends at the first stage.
int CStgReader::Init(std::u16string_view) {
  theLog.WriteError("[STG]\tThe compound-file salvage is not available");
  return -1;
}

int CStgReader::ParseData() { return -1; }

int CStgReader::WriteData(std::u16string_view) { return -1; }
