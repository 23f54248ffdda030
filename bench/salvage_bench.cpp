// The salvage alone on intact compound files of 2, 20 and 200 MB made with
// our writer: time (and so throughput) from Google Benchmark, and the peak
// memory of one salvage measured in a child process, against the file size.
//
//   build/bench/salvage_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "base/RunContext.h"
#include "salvage/StgReader.h"
#include "platform/CompoundFile.h"
#include "platform/Files.h"
#include "platform/Text.h"

namespace {

// The run's log, settings and report; the log is never opened.
Logger runLog;
LibrarySettings runSettings;
MwUtils::MwReport runReport;
RunContext run{runLog, runSettings, runReport};

std::string Scratch() {
  static std::string dir = [] {
    char pattern[] = "/tmp/mdw-salvage-bench-XXXXXX";
    if (!::mkdtemp(pattern)) std::abort();
    return std::string(pattern);
  }();
  return dir;
}

// A project-like tree: a few storages, each with streams of mixed sizes
// (small ones in the mini stream, most bytes in large streams).
std::string MakeFile(std::size_t megabytes) {
  static std::map<std::size_t, std::string> made;
  if (auto it = made.find(megabytes); it != made.end()) return it->second;
  std::string path = Scratch() + "/intact-" + std::to_string(megabytes) + "mb.cfb";
  auto writer = platform::CompoundFileWriter::Create(platform::Utf8ToUtf16(path));
  if (!writer) std::abort();
  const std::size_t target = megabytes << 20;
  std::size_t written = 0;
  std::vector<std::uint8_t> chunk(1 << 20);
  for (int s = 0; written < target; ++s) {
    const std::u16string name = platform::Utf8ToUtf16("   " + std::to_string(s));
    auto storage = writer->CreateStorage(platform::kRootElement, name);
    for (int i = 0; i < 40 && written < target; ++i) {
      auto stream = writer->CreateStream(*storage, platform::Utf8ToUtf16("Stream" + std::to_string(i)));
      std::size_t size = i % 4 == 0 ? 300 + i * 50 : std::min<std::size_t>(target - written, 64 << 10 << (i % 5));
      for (std::size_t k = 0; k < chunk.size(); ++k) chunk[k] = static_cast<std::uint8_t>(k * 31 + s + i);
      for (std::size_t done = 0; done < size;) {
        std::size_t n = std::min(size - done, chunk.size());
        if (!writer->Write(*stream, chunk.data(), n)) std::abort();
        done += n;
      }
      written += size;
    }
  }
  if (!writer->Commit()) std::abort();
  made[megabytes] = path;
  return path;
}

bool SalvageOnce(const std::string& input) {
  runSettings.workFolder = platform::Utf8ToUtf16(Scratch());
  std::u16string repaired = platform::Utf8ToUtf16(Scratch() + "/repaired-" + std::to_string(::getpid()) + ".cfb");
  platform::DeleteFile(repaired);
  CStgReader reader(run);
  bool ok = reader.Init(platform::Utf8ToUtf16(input)) == 0 && reader.ParseData() == 0 &&
            reader.WriteData(repaired) == 0;
  platform::DeleteFile(repaired);
  return ok;
}

// Peak resident memory of one salvage, in a child so that nothing else counts.
double PeakMegabytes(const std::string& input) {
  pid_t child = ::fork();
  if (child == 0) ::_exit(SalvageOnce(input) ? 0 : 1);
  int status = 0;
  struct rusage usage {};
  ::wait4(child, &status, 0, &usage);
  return usage.ru_maxrss / 1024.0;
}

void BM_Salvage(benchmark::State& state) {
  const std::size_t megabytes = static_cast<std::size_t>(state.range(0));
  const std::string input = MakeFile(megabytes);
  const auto size = platform::FileSize(platform::Utf8ToUtf16(input)).value_or(0);
  for (auto _ : state)
    if (!SalvageOnce(input)) state.SkipWithError("salvage failed");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
  double peak = PeakMegabytes(input);
  state.counters["file_MB"] = size / 1048576.0;
  state.counters["peak_MB"] = peak;
  state.counters["peak_per_size"] = peak / (size / 1048576.0);
}

BENCHMARK(BM_Salvage)->Arg(2)->Arg(20)->Arg(200)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::string cleanup = "rm -rf " + Scratch();
  return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
