#pragma once

#include <string_view>

#include "base/RunContext.h"

// The project file version (9, 12 or 14) held by a repaired compound file,
// or 0 when it cannot be told.
int DetectFileVersion(Logger& log, std::u16string_view path);
