// The project record of the Props stream of a version 9 or 12 data
// storage. The stream is searched from byte 4, a byte at a time, for a
// record header
//
//   0   u32 size Z
//   4   bytes 0x90 0x13
//
// whose record (Z + 12 bytes from the header) lies inside the stream; the
// first such header ends the search. Nothing of the record is kept: the
// search only logs what it finds.
#pragma once

#include <cstddef>
#include <optional>

#include "base/RunContext.h"
#include "platform/ByteView.h"
#include "platform/CompoundFile.h"

namespace mpp {

// The offset of the first whole project record in stream, if any. Logs
// each header met.
std::optional<std::size_t> FindProjectRecord(Logger& log, platform::ByteView stream, int version);

// Loads "props" of the storage and searches it.
void ScanProjectProps(Logger& log, const platform::CompoundFileReader& reader, platform::ElementId storage,
                      int version);

}  // namespace mpp
