#include "platform/System.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dlfcn.h>
#include <string.h>
#include <sys/random.h>
#include <unistd.h>

#include "platform/Text.h"

namespace platform {
namespace {

SystemTime Breakdown(bool local) {
  using namespace std::chrono;
  auto now = system_clock::now();
  std::time_t secs = system_clock::to_time_t(now);
  auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm{};
  if (local)
    localtime_r(&secs, &tm);
  else
    gmtime_r(&secs, &tm);
  SystemTime t;
  t.year = static_cast<std::uint16_t>(tm.tm_year + 1900);
  t.month = static_cast<std::uint16_t>(tm.tm_mon + 1);
  t.dayOfWeek = static_cast<std::uint16_t>(tm.tm_wday);
  t.day = static_cast<std::uint16_t>(tm.tm_mday);
  t.hour = static_cast<std::uint16_t>(tm.tm_hour);
  t.minute = static_cast<std::uint16_t>(tm.tm_min);
  t.second = static_cast<std::uint16_t>(tm.tm_sec);
  t.milliseconds = static_cast<std::uint16_t>(ms < 0 ? 0 : ms);
  return t;
}

// The file that holds this code: libmdwdll.so, or the program it is linked into.
void Anchor() {}

}  // namespace

SystemTime LocalTime() { return Breakdown(true); }
SystemTime UniversalTime() { return Breakdown(false); }

std::int32_t LocalOffsetSeconds(std::int64_t unixSeconds) {
  const std::time_t when = static_cast<std::time_t>(unixSeconds);
  std::tm local{};
  if (!::localtime_r(&when, &local)) return 0;
  return static_cast<std::int32_t>(local.tm_gmtoff);
}
std::uint32_t ProcessId() { return static_cast<std::uint32_t>(::getpid()); }

std::u16string TempFolder() {
  std::string dir;
  if (const char* env = std::getenv("TMPDIR"); env && *env) dir = env;
  else dir = "/tmp";
  if (dir.back() != '/') dir.push_back('/');
  return PathFromBytes(dir);
}

std::u16string NewUuidText() {
  unsigned char b[16];
  std::size_t got = 0;
  while (got < sizeof b) {
    ssize_t n = ::getrandom(b + got, sizeof b - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return {};
    got += static_cast<std::size_t>(n);
  }
  b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // variant 1
  char text[37];
  std::snprintf(text, sizeof text,
                "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14],
                b[15]);
  return Utf8ToUtf16(text);
}

std::string ModulePath() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&Anchor), &info) && info.dli_fname) {
    char resolved[PATH_MAX];
    if (::realpath(info.dli_fname, resolved)) return resolved;
    return info.dli_fname;
  }
  return {};
}

std::string CurrentDirectory() {
  char buf[PATH_MAX];
  return ::getcwd(buf, sizeof buf) ? std::string(buf) : std::string();
}

std::string SystemDirectory() {
  // The folder of the C library stands in for the system folder.
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&::strlen), &info) && info.dli_fname) {
    std::string path = info.dli_fname;
    auto slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) return path.substr(0, slash);
  }
  return {};
}

// Linux has no folder of the operating system's own; the line is left out.
std::string WindowsDirectory() { return {}; }

std::string ComputerName() {
  char buf[256] = {};
  if (::gethostname(buf, sizeof buf - 1) != 0) return {};
  return buf;
}

}  // namespace platform
