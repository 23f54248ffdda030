// Any bytes as a damaged file: the salvage reads them, rebuilds what it can
// and writes a clean container, or fails with a code; never more.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/RunContext.h"
#include "salvage/StgReader.h"
#include "platform/Files.h"
#include "platform/System.h"
#include "platform/Text.h"

namespace {

// The run's log, settings and report; the log is never opened.
Logger runLog;
LibrarySettings runSettings;
MwUtils::MwReport runReport;
RunContext run{runLog, runSettings, runReport};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The input as a file without touching the disk.
  int fd = ::memfd_create("salvage-input", 0);
  if (fd < 0) std::abort();
  for (std::size_t done = 0; done < size;) {
    ssize_t n = ::write(fd, data + done, size - done);
    if (n <= 0) std::abort();
    done += static_cast<std::size_t>(n);
  }
  const std::u16string input = platform::Utf8ToUtf16("/proc/self/fd/" + std::to_string(fd));
  const std::u16string repaired =
      platform::TempFolder() + platform::Utf8ToUtf16("salvage-fuzz-" + std::to_string(::getpid()) + ".cfb");
  runSettings.workFolder = platform::TempFolder();
  platform::DeleteFile(repaired);
  {
    CStgReader reader(run);
    if (reader.Init(input) == 0 && reader.ParseData() == 0) reader.WriteData(repaired);
  }
  platform::DeleteFile(repaired);
  ::close(fd);
  return 0;
}
