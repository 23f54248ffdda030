#pragma once

#include <string_view>

// The project file version (9, 12 or 14) held by a repaired compound file,
// or 0 when it cannot be told.
int DetectFileVersion(std::u16string_view path);
