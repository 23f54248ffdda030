// Regenerates examples/sample.mpp: a small version 14 project (a house move
// of 21 tasks with notes and a custom "Owner" field) whose header has been
// damaged, so that a plain compound-file reader refuses it: the starts of
// its directory, its mini FAT and its DIFAT are garbage.
//
//   ninja -C build make_sample && build/make_sample examples/sample.mpp
#include <cstdio>
#include <vector>

#include "platform/CompoundFileFormat.h"
#include "support/SampleProjects.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_sample OUTPUT\n");
    return 2;
  }
  std::vector<std::uint8_t> bytes = project_fixture::BuildProjectFile(project_fixture::SampleProject());
  if (bytes.size() < platform::cfb::kHeaderSize) {
    std::fprintf(stderr, "make_sample: building the project failed\n");
    return 1;
  }
  auto poke = [&bytes](std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  };
  poke(platform::cfb::kHdrFirstDirSector, 0xDEADBEEF);
  poke(platform::cfb::kHdrFirstMiniFatSector, 0x00C0FFEE);
  poke(platform::cfb::kHdrFirstDifatSector, 0xDEADBEEF);

  std::FILE* out = std::fopen(argv[1], "wb");
  if (!out || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() || std::fclose(out) != 0) {
    std::fprintf(stderr, "make_sample: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
