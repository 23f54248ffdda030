// Files of compound-file version 4, whose sectors are 4,096 bytes long,
// read as version 3 files of 512-byte sectors: every sector of theirs is
// eight sectors at the same place (the 4,096-byte header is the 512-byte
// header and seven sectors of padding), so the bytes stay where they are.
// What changes is written anew: an allocation table that chains the eight
// parts of each sector and links the last to the next sector's first,
// appended after the file with its DIF sectors; the directory's start
// sectors of the big streams and the root; the header. The salvage then
// works on this image as on any other.
#pragma once

#include <cstdint>

#include "base/Logger.h"
#include "salvage/Buffer.h"

namespace salvage {

// When image (fileSize bytes of a file, then padding) has the header of a
// version 4 file, replaces it by the version 3 image of the same file and
// returns its size; 0, and image untouched, for any other file. The old
// tables are read as far as they are readable: sector numbers outside the
// file end their chains, and every walk is bounded by the file's sectors.
std::uint64_t ReadVersion4AsVersion3(Bytes& image, std::uint64_t fileSize, Logger& log);

}  // namespace salvage
