#include "parse/ProjectProps.h"

#include "parse/StreamLoader.h"

namespace mpp {

namespace {

constexpr std::size_t kFirstHeader = 4;
constexpr std::uint8_t kMark0 = 0x90;
constexpr std::uint8_t kMark1 = 0x13;
constexpr std::uint64_t kRecordOverhead = 12;

}  // namespace

std::optional<std::size_t> FindProjectRecord(Logger& log, platform::ByteView stream, int version) {
  log.WriteFormat("        Props size %d", static_cast<int>(stream.size()));
  for (std::size_t at = kFirstHeader; stream.Has(at, 6); ++at) {
    if (stream.u8_at(at + 4) != kMark0 || stream.u8_at(at + 5) != kMark1) continue;
    const std::uint32_t size = *stream.u32_at(at);
    log.WriteFormat("        Read record from 0x%X offset", static_cast<unsigned>(at));
    log.WriteFormat("        \tRecord size = %d", static_cast<int>(size));
    if (at + kRecordOverhead + size <= stream.size()) {
      log.WriteLine("            Read successful");
      return at;
    }
    log.WriteFormat(version == 9 ? "        Uncorrect data size = %d" : "        Incorrect data size = %d",
                    static_cast<int>(size));
    log.WriteLine("        Next record");
  }
  return std::nullopt;
}

void ScanProjectProps(Logger& log, const platform::CompoundFileReader& reader, platform::ElementId storage,
                      int version) {
  log.WriteLine("    Start parsing Props stream");
  LoadedStream props;
  if (LoadStream(log, reader, storage, u"Props", props))
    FindProjectRecord(log, props.View(), version);
  else
    log.WriteFormat("    Can not open stream: %s", "Props");
  log.WriteLine("    Function PropsParser() close.");
}

}  // namespace mpp
