// The salvage on files shaped to cost it time or memory far beyond their
// size (tests/support/HostileFiles.h): for each shape and size, the time and
// peak memory of one salvage (read, rebuild, write the new container), then
// a second run cancelled halfway and the time from the cancel to its end.
// Each run is a child process, under a memory and a time limit.
//
//   build/bench/hostile_bench [--limit-mb N] [--timeout S] [--shape NAME] [MB ...]   (default sizes: 1 10 40)
//   build/bench/hostile_bench --write-to DIR [--shape NAME] [MB ...]   (only writes the files)
#include <pthread.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/RunContext.h"
#include "salvage/StgReader.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "support/CfbFixture.h"
#include "support/HostileFiles.h"

namespace {

// The run's log, settings and report; the log is never opened.
Logger runLog;
LibrarySettings runSettings;
MwUtils::MwReport runReport;
RunContext run{runLog, runSettings, runReport};

using Clock = std::chrono::steady_clock;

std::string Scratch() {
  static std::string dir = [] {
    char pattern[] = "/tmp/mdw-hostile-bench-XXXXXX";
    if (!::mkdtemp(pattern)) std::abort();
    return std::string(pattern);
  }();
  return dir;
}

unsigned char g_cancel = 0;

bool SalvageOnce(const std::string& input) {
  runSettings.workFolder = platform::Utf8ToUtf16(Scratch());
  runSettings.breakFlag = &g_cancel;
  std::u16string repaired = platform::Utf8ToUtf16(Scratch() + "/repaired-" + std::to_string(::getpid()) + ".cfb");
  CStgReader reader(run);
  bool ok = reader.Init(platform::Utf8ToUtf16(input)) == 0 && reader.ParseData() == 0 &&
            reader.WriteData(repaired) == 0;
  platform::DeleteFile(repaired);
  return ok;
}

struct Result {
  bool finished = false;  // exited by itself (not killed by a limit)
  double seconds = 0;
  double peakMb = 0;
  double cancelSeconds = -1;  // from the cancel to the end, when one was sent
};

// One salvage in a child. With cancelAfter >= 0, a thread sets the cancel
// byte after that many seconds and the child reports how long the salvage
// took to end after it.
Result RunChild(const std::string& input, double cancelAfter, long limitMb, int timeoutSeconds) {
  int fds[2];
  if (::pipe(fds) != 0) std::abort();
  const auto started = Clock::now();
  pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[0]);
    rlimit limit{static_cast<rlim_t>(limitMb) << 20, static_cast<rlim_t>(limitMb) << 20};
    ::setrlimit(RLIMIT_AS, &limit);
    ::alarm(static_cast<unsigned>(timeoutSeconds));
    std::atomic<long long> cancelledAt{0};
    std::thread canceller;
    if (cancelAfter >= 0) {
      canceller = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::duration<double>(cancelAfter));
        cancelledAt = Clock::now().time_since_epoch().count();
        __atomic_store_n(&g_cancel, 1, __ATOMIC_RELAXED);
      });
    }
    SalvageOnce(input);
    const long long ended = Clock::now().time_since_epoch().count();
    double after = -1;
    if (cancelAfter >= 0) {
      if (cancelledAt == 0) after = 0;  // ended before the cancel came
      else after = std::chrono::duration<double>(Clock::duration(ended - cancelledAt.load())).count();
      canceller.join();
    }
    ssize_t ignored = ::write(fds[1], &after, sizeof after);
    (void)ignored;
    ::_exit(0);
  }
  ::close(fds[1]);
  int status = 0;
  rusage usage{};
  ::wait4(child, &status, 0, &usage);
  Result r;
  r.seconds = std::chrono::duration<double>(Clock::now() - started).count();
  r.peakMb = usage.ru_maxrss / 1024.0;
  r.finished = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  double after = -1;
  if (::read(fds[0], &after, sizeof after) == sizeof after) r.cancelSeconds = after;
  ::close(fds[0]);
  return r;
}

std::string Figure(const Result& r, double value, const char* unit) {
  if (!r.finished) return "killed";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f %s", value, unit);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  long limitMb = 4096;
  int timeoutSeconds = 120;
  std::string only, writeTo;
  std::vector<double> sizes;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--limit-mb" && i + 1 < argc) limitMb = std::atol(argv[++i]);
    else if (arg == "--timeout" && i + 1 < argc) timeoutSeconds = std::atoi(argv[++i]);
    else if (arg == "--shape" && i + 1 < argc) only = argv[++i];
    else if (arg == "--write-to" && i + 1 < argc) writeTo = argv[++i];
    else sizes.push_back(std::atof(arg.c_str()));
  }
  if (sizes.empty()) sizes = {1, 10, 40};

  std::printf("limits per run: %ld MB of address space, %d s (\"killed\": a limit was reached)\n", limitMb,
              timeoutSeconds);
  std::printf("%-15s %9s %11s %11s %13s %12s\n", "shape", "file MB", "time", "peak MB", "cancel at", "cancel took");
  for (const fixture::HostileShape& shape : fixture::HostileShapes()) {
    if (!only.empty() && only != shape.name) continue;
    for (double mb : sizes) {
      const std::string path = Scratch() + "/" + shape.name + "-" + std::to_string(mb) + ".cfb";
      // Made in a child of its own, so that the runs' peaks do not count its memory.
      if (pid_t maker = ::fork(); maker == 0) {
        std::vector<std::uint8_t> bytes = shape.make(static_cast<std::size_t>(mb * (1 << 20)));
        ::_exit(fixture::WriteFile(path, bytes) ? 0 : 1);
      } else {
        int status = 0;
        ::waitpid(maker, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::abort();
      }
      const double fileMb = static_cast<double>(platform::FileSize(platform::Utf8ToUtf16(path)).value_or(0)) / (1 << 20);
      if (!writeTo.empty()) {
        const std::string kept = writeTo + "/" + shape.name + "-" + std::to_string(mb) + ".cfb";
        std::rename(path.c_str(), kept.c_str());
        std::printf("%s\n", kept.c_str());
        continue;
      }
      const Result plain = RunChild(path, -1, limitMb, timeoutSeconds);
      const double cancelAt = plain.finished ? plain.seconds / 2 : 1.0;
      const Result cancelled = RunChild(path, cancelAt, limitMb, timeoutSeconds);
      char at[32];
      std::snprintf(at, sizeof at, "%.2f s", cancelAt);
      std::printf("%-15s %9.1f %11s %11s %13s %12s\n", shape.name, fileMb,
                  Figure(plain, plain.seconds, "s").c_str(), Figure(plain, plain.peakMb, "").c_str(), at,
                  Figure(cancelled, cancelled.cancelSeconds, "s").c_str());
      std::fflush(stdout);
      platform::DeleteFile(platform::Utf8ToUtf16(path));
    }
  }
  return 0;
}
