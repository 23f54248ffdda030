// Any compound file (the bytes themselves when they start with its
// signature, else one built from them: elements named from the names the
// detection looks for, placed in the root or the last storage, streams
// holding the bytes that follow): the version found is 0, 9, 12 or 14; a
// file that does not open has none; a file with a format's own storage in
// its root has one; and when the root holds data storages, the version
// found is that of one of them.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzRun.h"
#include "parse/VersionDetection.h"
#include "platform/ByteView.h"
#include "platform/CompoundFile.h"
#include "platform/Text.h"

namespace {

constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

constexpr std::u16string_view kNames[] = {
    u"\x01" "CompObj", u"Props9", u"Props12", u"Props14", u"   19", u"   29", u"   112",
    u"   212",         u"   114", u"   214",  u"Props",   u"TBkndTask"};

// Each element: a byte (bits 0-3 the name, bit 4 a storage, bit 5 in the
// last storage made rather than the root), and for a stream a length byte
// and that many bytes.
std::vector<std::uint8_t> Build(platform::ByteView input) {
  auto writer = platform::CompoundFileWriter::CreateInMemory();
  platform::ElementId lastStorage = platform::kRootElement;
  std::vector<std::uint8_t> bytes;
  for (std::size_t at = 0; at < input.size();) {
    const std::uint8_t code = *input.u8_at(at++);
    const std::u16string_view name = kNames[(code & 0x0F) % std::size(kNames)];
    const platform::ElementId parent = code & 0x20 ? lastStorage : platform::kRootElement;
    if (code & 0x10) {
      if (auto storage = writer->CreateStorage(parent, name)) lastStorage = *storage;
      continue;
    }
    const std::size_t want = input.u8_at(at++).value_or(0);
    const std::size_t take = std::min(want, at < input.size() ? input.size() - at : 0);
    bytes.resize(take);
    input.CopyTo(at, take, bytes.data());
    at += take;
    if (auto stream = writer->CreateStream(parent, name)) writer->Write(*stream, bytes.data(), bytes.size());
  }
  if (!writer->Commit()) std::abort();
  return writer->Bytes();
}

int DetectInMemory(const std::vector<std::uint8_t>& file) {
  const int fd = ::memfd_create("version-input", 0);
  if (fd < 0) std::abort();
  for (std::size_t done = 0; done < file.size();) {
    const ssize_t n = ::write(fd, file.data() + done, file.size() - done);
    if (n <= 0) std::abort();
    done += static_cast<std::size_t>(n);
  }
  const int version = DetectFileVersion(FuzzRun().log, platform::Utf8ToUtf16("/proc/self/fd/" + std::to_string(fd)));
  ::close(fd);
  return version;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const platform::ByteView input(data, size);
  const bool whole = size >= sizeof kSignature && std::memcmp(data, kSignature, sizeof kSignature) == 0;
  const std::vector<std::uint8_t> file = whole ? std::vector<std::uint8_t>(data, data + size) : Build(input);

  const int version = DetectInMemory(file);
  if (version != 0 && version != 9 && version != 12 && version != 14) std::abort();
  const auto reader = platform::CompoundFileReader::FromBytes(file);
  if (!reader) {
    if (version != 0) std::abort();
    return 0;
  }
  auto storage = [&](std::u16string_view name) {
    return reader->OpenStorage(platform::kRootElement, name).has_value();
  };
  bool formatStorage = false;
  for (std::u16string_view name : {u"   19", u"   29", u"   112", u"   212", u"   114", u"   214"})
    formatStorage = formatStorage || storage(name);
  if (formatStorage && version == 0) std::abort();
  const bool data9 = storage(u"   19"), data12 = storage(u"   112"), data14 = storage(u"   114");
  if (version != 0 && (data9 || data12 || data14) &&
      !((version == 9 && data9) || (version == 12 && data12) || (version == 14 && data14)))
    std::abort();
  return 0;
}
