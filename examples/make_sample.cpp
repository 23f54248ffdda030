// Regenerates examples/sample.mpp: a small project container whose header
// has been damaged (its first FAT sector entry and its directory start are
// garbage), so that a plain compound-file reader refuses it.
//
//   build/make_sample examples/sample.mpp
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/CompoundFile.h"
#include "platform/CompoundFileFormat.h"

namespace {

// The CompObj stream: a 28-byte header, then the user type (which version
// detection reads), the clipboard format and the program id.
std::vector<std::uint8_t> CompObj() {
  std::vector<std::uint8_t> bytes = {0x01, 0x00, 0xFE, 0xFF, 0x03, 0x0A, 0x00, 0x00,
                                     0xFF, 0xFF, 0xFF, 0xFF};
  bytes.resize(28, 0);
  auto text = [&bytes](const std::string& s) {
    std::uint32_t n = static_cast<std::uint32_t>(s.size() + 1);
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
    bytes.insert(bytes.end(), s.begin(), s.end());
    bytes.push_back(0);
  };
  text("Microsoft.Project 14.0");
  text("");  // no clipboard format
  text("");  // no program id
  bytes.resize(bytes.size() + 16, 0);
  return bytes;
}

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_sample OUTPUT\n");
    return 2;
  }
  auto writer = platform::CompoundFileWriter::CreateInMemory();
  constexpr std::uint64_t kSaved = 0x01D5A1B2C3D4E5F6ULL;  // a fixed time: the file never changes
  auto put = [&](platform::ElementId parent, const char16_t* name, const std::vector<std::uint8_t>& data) {
    auto stream = writer->CreateStream(parent, name);
    return stream && writer->Write(*stream, data.data(), data.size());
  };
  bool ok = put(platform::kRootElement, u"\u0001CompObj", CompObj());
  auto project = writer->CreateStorage(platform::kRootElement, u"   114");
  ok = ok && project && writer->SetElementTimes(*project, kSaved, kSaved);
  ok = ok && put(*project, u"Props", Pattern(900, 1));
  auto tasks = project ? writer->CreateStorage(*project, u"TBkndTask") : std::nullopt;
  ok = ok && tasks && put(*tasks, u"FixedData", Pattern(9000, 3)) && put(*tasks, u"VarMeta", Pattern(300, 5));
  ok = ok && writer->Commit();
  if (!ok) {
    std::fprintf(stderr, "make_sample: building the container failed\n");
    return 1;
  }
  std::vector<std::uint8_t> bytes = writer->Bytes();
  auto poke = [&bytes](std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  };
  poke(platform::cfb::kHdrFirstDirSector, 0xDEADBEEF);
  poke(platform::cfb::kHdrDifat, 0x00C0FFEE);

  std::FILE* out = std::fopen(argv[1], "wb");
  if (!out || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() || std::fclose(out) != 0) {
    std::fprintf(stderr, "make_sample: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
