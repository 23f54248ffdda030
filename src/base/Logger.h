// The diagnostics log of a run: a logger that writes 8-bit lines
// (Windows-1252) to the file the host names, each line straight to the
// file in one write so that the log is complete if the host dies.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/Files.h"
#include "platform/System.h"

#define MDW_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))

// Owns the open log file.
class LogWriter {
 public:
  platform::File file;
};

class MwLog {
 public:
  // Longest formatted line; longer ones are cut.
  static constexpr std::size_t kFormatBufferSize = 16384;

  MwLog();
  virtual ~MwLog();

  // Opens the log file (appending unless truncate); lines are dropped
  // silently while no file could be opened. Always true.
  virtual bool OpenFile(std::u16string_view path, bool truncate);
  virtual void WriteMachineInfo();
  virtual void CloseFile();
  virtual void Enable();
  virtual void WriteLine(std::string_view text);
  virtual void WriteFormat(const char* pattern, ...) MDW_PRINTF(2, 3);
  virtual void WriteHex(const void* address, std::size_t size);

  void OpenLog(std::u16string_view path);
  void WriteValue(const char* label, const char* text);
  void WriteNumber(const char* label, long long n);
  void WriteError(const char* text);
  void WriteErrorValue(const char* label, const char* text);
  void WriteErrorNumber(const char* label, long long n);

  bool IsEnabled() const { return enabled_; }

 private:
  void WriteRaw(std::string_view bytes);

  bool enabled_ = false;
  std::unique_ptr<LogWriter> writer_;
  std::mutex lineLock_;
  std::mutex formatLock_;
  char formatBuffer_[kFormatBufferSize];
  platform::SystemTime lastStamp_;
};

class Logger : public MwLog {};
