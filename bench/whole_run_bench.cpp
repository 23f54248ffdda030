// The whole run (salvage, rebuilt container, parse, XML) on synthetic
// version 14 projects of 1,000, 10,000 and 60,000 tasks, and of 60,000
// tasks with 3,000 resources, 60,000 assignments (timephased data
// included) and 60,000 links, the same with baselines 0 and 1 and a custom
// cost on every subtask, through the library's exports as a host calls
// them, with the XML writer's detail log lines off. Prints, per project, the
// median time of five runs, the peak memory of one run (in a child process,
// so that nothing else counts) against input plus output, and how time
// grows from one task count to the next.
//
//   build/bench/whole_run_bench [TASKS[:RESOURCES:ASSIGNMENTS:LINKS[:b]]...]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "mdwdll.h"
#include "platform/Text.h"
#include "support/SampleProjects.h"

namespace fs = std::filesystem;

namespace {

struct Outcome {
  int result = 0;
  double seconds = 0;
  std::uintmax_t outputBytes = 0;
};

Outcome RunOnce(const fs::path& input, const fs::path& folder) {
  const fs::path output = folder / (input.stem().string() + ".xml");
  fs::remove(output);
  const std::u16string in = platform::Utf8ToUtf16(input.string());
  const std::u16string out = platform::Utf8ToUtf16(output.string());
  const auto start = std::chrono::steady_clock::now();
  Outcome outcome;
  outcome.result = FileRecover(in.c_str(), out.c_str());
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::error_code error;
  outcome.outputBytes = fs::file_size(output, error);
  if (error) outcome.outputBytes = 0;
  fs::remove(output);
  return outcome;
}

// Peak resident memory of one run, in MB.
double PeakMegabytes(const fs::path& input, const fs::path& folder) {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(RunOnce(input, folder).result == MDW_OK ? 0 : 1);
  int status = 0;
  struct rusage usage {};
  ::wait4(child, &status, 0, &usage);
  return usage.ru_maxrss / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<project_fixture::SyntheticSizes> sizes;
  for (int i = 1; i < argc; ++i) {
    project_fixture::SyntheticSizes size;
    std::sscanf(argv[i], "%zu:%zu:%zu:%zu", &size.tasks, &size.resources, &size.assignments, &size.links);
    size.baselines = std::string(argv[i]).ends_with(":b");
    sizes.push_back(size);
  }
  if (sizes.empty())
    sizes = {{1000}, {10000}, {60000}, {60000, 3000, 60000, 60000}, {60000, 3000, 60000, 60000, true}};

  char pattern[] = "/tmp/mdw-whole-run-XXXXXX";
  if (!::mkdtemp(pattern)) return 1;
  const fs::path scratch = pattern;
  const std::u16string work = platform::Utf8ToUtf16(scratch.string());
  DllInitialize(work.c_str(), nullptr, nullptr);
  SetLogPath(u"");  // no log
  SetOutputFormat(u"*.xml");
  SetXmlDetailLog(0);

  std::printf("%26s %10s %10s %7s %9s %9s %13s %12s\n", "tasks:rsc:assn:links", "input_KB", "output_KB",
              "result", "median_s", "peak_MB", "peak/(in+out)", "growth");
  double previous = 0;
  project_fixture::SyntheticSizes previousSize;
  for (const project_fixture::SyntheticSizes& size : sizes) {
    char label[64];
    std::snprintf(label, sizeof label, "%zu:%zu:%zu:%zu%s", size.tasks, size.resources, size.assignments, size.links,
                  size.baselines ? ":b" : "");
    const fs::path input = scratch / ("plan-" + std::string(label) + ".mpp");
    {
      const auto bytes = project_fixture::BuildProjectFile(project_fixture::SyntheticProject(size));
      std::FILE* file = std::fopen(input.c_str(), "wb");
      if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || std::fclose(file) != 0)
        return 1;
    }
    std::vector<double> times;
    Outcome last;
    for (int run = 0; run < 5; ++run) {
      last = RunOnce(input, scratch);
      times.push_back(last.seconds);
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    const double inputMb = fs::file_size(input) / 1048576.0;
    const double outputMb = last.outputBytes / 1048576.0;
    const double peak = PeakMegabytes(input, scratch);
    // Growth in time against growth in tasks, between projects of the same shape.
    char growth[32] = "";
    const bool sameShape = previous > 0 && previousSize.tasks > 0 && size.resources == previousSize.resources &&
                           size.assignments == previousSize.assignments && size.links == previousSize.links;
    if (sameShape)
      std::snprintf(growth, sizeof growth, "%.2fx/%zux", median / previous, size.tasks / previousSize.tasks);
    std::printf("%26s %10.0f %10.0f %7d %9.3f %9.1f %13.2f %12s\n", label, inputMb * 1024, outputMb * 1024,
                last.result, median, peak, peak / (inputMb + outputMb), growth);
    previous = median;
    previousSize = size;
    fs::remove(input);
  }
  fs::remove_all(scratch);
  return 0;
}
