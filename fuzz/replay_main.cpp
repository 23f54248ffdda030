// Runs a fuzz target without libFuzzer over inputs kept in the tree: every
// file of each folder named (in name order), or the file named; a folder
// that is not there is passed over. A target's failure (an abort, a crash,
// an allocation of over 1 GB) ends the run with the input's name on
// standard error.
//
//   fuzz_replay_<target> PATH...
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fs = std::filesystem;

// As -malloc_limit_mb in scripts/fuzz.sh: no input here needs one
// allocation this large; it can only come from a size the input claims.
constexpr std::size_t kMallocLimit = std::size_t{1} << 30;

void* operator new(std::size_t size) {
  if (size > kMallocLimit) {
    std::fprintf(stderr, "replay: one allocation of %zu bytes\n", size);
    std::abort();
  }
  if (void* memory = std::malloc(size ? size : 1)) return memory;
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

int main(int argc, char** argv) {
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    std::error_code error;
    if (fs::is_directory(argv[i], error)) {
      std::vector<fs::path> files;
      for (const auto& entry : fs::directory_iterator(argv[i]))
        if (entry.is_regular_file()) files.push_back(entry.path());
      std::sort(files.begin(), files.end());
      inputs.insert(inputs.end(), files.begin(), files.end());
    } else if (fs::is_regular_file(argv[i], error)) {
      inputs.emplace_back(argv[i]);
    }
  }
  // The empty input first: every target takes it.
  static const std::uint8_t kNothing = 0;
  LLVMFuzzerTestOneInput(&kNothing, 0);
  for (const fs::path& path : inputs) {
    std::fprintf(stderr, "replay: %s\n", path.c_str());
    std::ifstream file(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  std::printf("replay: %zu inputs\n", inputs.size());
  return 0;
}
