#include "base/Logger.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/Text.h"

namespace {
constexpr const char* kRule = "====================================================";
constexpr std::size_t kHexLineWidth = 78;
}  // namespace

MwLog::MwLog() {
  lastStamp_ = platform::LocalTime();
  // One second back, so that the first line always gets a stamp.
  lastStamp_.second = static_cast<std::uint16_t>((lastStamp_.second + 59) % 60);
  formatBuffer_[0] = '\0';
}

MwLog::~MwLog() = default;

bool MwLog::OpenFile(std::u16string_view path, bool truncate) {
  if (writer_) CloseFile();
  writer_ = std::make_unique<LogWriter>();
  writer_->file = platform::OpenForAppend(path, truncate);
  Enable();
  return true;
}

void MwLog::CloseFile() { writer_.reset(); }

void MwLog::Enable() { enabled_ = true; }

// Callers hold the line lock.
void MwLog::WriteRaw(std::string_view bytes) {
  if (writer_ && enabled_ && writer_->file.IsOpen()) writer_->file.WriteAll(bytes.data(), bytes.size());
}

void MwLog::WriteLine(std::string_view text) {
  std::lock_guard<std::mutex> hold(lineLock_);
  if (!writer_ || !enabled_) return;
  platform::SystemTime now = platform::LocalTime();
  if (now.hour != lastStamp_.hour || now.minute != lastStamp_.minute ||
      now.second != lastStamp_.second) {
    lastStamp_ = now;
    char stamp[32];
    int n = std::snprintf(stamp, sizeof stamp, "[%02d:%02d:%02d]\n", now.hour, now.minute, now.second);
    WriteRaw(std::string_view(stamp, static_cast<std::size_t>(n)));
  }
  // The text stops at a zero byte, as a C string would.
  text = text.substr(0, text.find('\0'));
  std::string line;
  line.reserve(text.size() + 1);
  line.append(text);
  line.push_back('\n');
  WriteRaw(line);
}

void MwLog::WriteFormat(const char* pattern, ...) {
  std::lock_guard<std::mutex> hold(formatLock_);
  va_list args;
  va_start(args, pattern);
  int n = std::vsnprintf(formatBuffer_, sizeof formatBuffer_, pattern, args);
  va_end(args);
  if (n < 0) formatBuffer_[0] = '\0';
  WriteLine(formatBuffer_);
}

void MwLog::WriteMachineInfo() {
  WriteLine(kRule);
  WriteLine("============== LOGGER MACHINE INFO =================");
  WriteLine(kRule);
  WriteFormat("__DATE__ [%s]", __DATE__);
  WriteFormat("__TIME__ [%s]", __TIME__);
  auto line = [this](const char* pattern, const std::string& value) {
    if (value.empty()) return;
    std::string text = platform::Utf8ToAnsi(value);
    if (text.size() > 4095) text.resize(4095);
    WriteFormat(pattern, text.c_str());
  };
  line("Logging output for [%s]", platform::ModulePath());
  line("GetCurrentDirectory [%s]", platform::CurrentDirectory());
  line("GetSystemDirectory [%s]", platform::SystemDirectory());
  line("GetWindowsDirectory [%s]", platform::WindowsDirectory());
  line("GetTempPath [%s]", platform::Utf16ToUtf8(platform::TempFolder()));
  line("GetComputerName [%s]", platform::ComputerName());
  WriteLine(kRule);
}

void MwLog::WriteHex(const void* address, std::size_t size) {
  if (address == nullptr && size != 0) {
    WriteLine("The binary data here seems to be an invalid memory block");
    WriteFormat("There is no way to show it, the pointer was 0x%08X",
                static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(address)));
    return;
  }
  if (size == 0) {
    WriteLine("");
    return;
  }
  static const char kDigits[] = "0123456789ABCDEF";
  const auto* bytes = static_cast<const unsigned char*>(address);
  for (std::size_t row = 0; row < size; row += 16) {
    char line[kHexLineWidth + 1];
    std::memset(line, ' ', kHexLineWidth);
    line[kHexLineWidth] = '\0';
    char offset[16];
    std::snprintf(offset, sizeof offset, "%08X", static_cast<unsigned>(row));
    std::memcpy(line, offset, 8);
    line[8] = ':';
    line[60] = '|';
    for (std::size_t c = 0; c < 16 && row + c < size; ++c) {
      unsigned char b = bytes[row + c];
      line[11 + 3 * c] = kDigits[b >> 4];
      line[12 + 3 * c] = kDigits[b & 0x0F];
      line[62 + c] = b < 32 ? '.' : static_cast<char>(b);
    }
    WriteLine(std::string_view(line, kHexLineWidth));
  }
}

void MwLog::OpenLog(std::u16string_view path) {
  OpenFile(path, false);
  WriteMachineInfo();
}

void MwLog::WriteValue(const char* label, const char* text) {
  if (text)
    WriteFormat("%s [%s]", label, text);
  else
    WriteFormat("%s [null]", label);
}

void MwLog::WriteNumber(const char* label, long long n) { WriteFormat("%s [%lld]", label, n); }

void MwLog::WriteError(const char* text) {
  WriteFormat("[ERROR]: %s", text);
  WriteLine(text);
}

void MwLog::WriteErrorValue(const char* label, const char* text) {
  if (text)
    WriteFormat("[ERROR]: %s [%s]", label, text);
  else
    WriteFormat("[ERROR]: %s [null]", label);
}

void MwLog::WriteErrorNumber(const char* label, long long n) {
  WriteFormat("[ERROR]: %s [%lld]", label, n);
}
