// Any bytes: the compound-file reader opens them or refuses them, and reads
// every stream it can reach, without reading outside the input.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/CompoundFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto reader = platform::CompoundFileReader::FromBytes(std::vector<std::uint8_t>(data, data + size));
  if (!reader) return 0;
  // Walk the tree breadth first, bounded by the number of elements seen.
  std::vector<platform::ElementId> pending = {platform::kRootElement};
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < pending.size() && i < 100000; ++i) {
    for (const platform::ElementInfo& child : reader->Children(pending[i])) {
      if (child.isStorage)
        pending.push_back(child.id);
      else
        reader->ReadStream(child.id, bytes);
      if (child.isStorage) reader->OpenStorage(pending[i], child.name);
      else reader->OpenStream(pending[i], child.name);
    }
  }
  return 0;
}
