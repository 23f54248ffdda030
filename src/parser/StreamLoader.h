// Reading a backend storage's streams whole into memory, and what every
// walk over them shares: the break check and the progress within a stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ByteView.h"
#include "platform/CompoundFile.h"

namespace mpp {

// Larger streams are not loaded: no project stream comes near it, and a
// damaged size must not make us allocate without limit.
inline constexpr std::uint64_t kMaxStreamBytes = 1ull << 30;

// Exceptions that leave a walk: the host's cancel, and a buffer that could
// not be had.
inline constexpr int kBreakException = 1;
inline constexpr int kAllocationException = -1;

inline constexpr const char* kUserCancelledLine =
    "User Exception in FileRecover. The process was canceled by user";

// A stream's bytes, read whole.
struct LoadedStream {
  std::vector<std::uint8_t> bytes;
  platform::ByteView View() const { return platform::ByteView(bytes.data(), bytes.size()); }
};

// Logs "    Opening stream: " with the name, then reads the stream of the
// storage whole. False when the storage has no such stream, the stream is
// larger than kMaxStreamBytes, or it cannot be read; the caller logs
// LogMissingStream. Throws kAllocationException when memory runs out.
bool LoadStream(const platform::CompoundFileReader& reader, platform::ElementId storage,
                std::u16string_view name, LoadedStream& out);
void LogMissingStream(std::u16string_view name);

// Throws kBreakException when the host has asked the run to stop.
void PollBreak();

// The progress of a walk over a meta stream: the walk reports its place as
// a local percent ("Parse OLE stream: <storage>:<part>... 12.50%") inside
// the current window (progressBase, progressSpan), and when it ends the
// window's base moves on by its span. The overall percent never passes 100.
class StreamProgress {
 public:
  StreamProgress(std::string storage, std::string part, std::size_t metaSize,
                 std::size_t headerSize);
  void At(std::size_t itemOffset);
  void Finish();

 private:
  std::string storage_;
  std::string part_;
  std::size_t metaSize_;
  std::size_t headerSize_;
};

}  // namespace mpp
