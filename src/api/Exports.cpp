// The exported C interface of libmdwdll.so. Nothing throws across it.
#include <algorithm>

#include "api/HostState.h"
#include "mdwdll.h"
#include "pipeline/FileRecover.h"
#include "platform/Files.h"
#include "platform/Text.h"

namespace {

Logger runLog;
LibrarySettings settings;
MwUtils::MwReport report;

}  // namespace

namespace api {

LibrarySettings& HostSettings() { return settings; }
Logger& HostLog() { return runLog; }
MwUtils::MwReport& HostReport() { return report; }

}  // namespace api

MDW_API int32_t DllInitialize(const char16_t* workFolder, StatusCallback status,
                              ProgressCallback progress) {
  settings.workFolder = platform::FromWide(workFolder);
  settings.statusCallback = status;
  settings.progressCallback = progress;
  settings.statusSet = true;
  settings.progressSet = true;
  return 1;
}

MDW_API void SetLogPath(const char16_t* path) {
  settings.logPath = platform::FromWide(path);
  settings.logPathSet = true;
}

MDW_API void SetOutputFormat(const char16_t* format) {
  std::u16string text = platform::FromWide(format);
  if (text.size() < 2) return;
  if (text.front() == u'*') text.erase(0, 1);
  settings.outputFormat = text;
}

MDW_API void UseExternStatusStrings(unsigned char) { settings.statusTexts = ExternStatusKeys(); }

MDW_API void SetBreakFlag(unsigned char* flag) { settings.breakFlag = flag; }

MDW_API int32_t GetDllVersion(void) { return 2; }

MDW_API void GetSupportedExtensions(char16_t* buffer) {
  static constexpr char16_t kExtensions[] = u"*.mpp";
  if (buffer) std::copy(std::begin(kExtensions), std::end(kExtensions), buffer);
}

MDW_API int32_t FileRecover(const char16_t* input, const char16_t* output) {
  try {
    RunContext ctx{runLog, settings, report};
    return RunFileRecover(ctx, platform::FromWide(input), platform::FromWide(output));
  } catch (...) {
    return kGeneralFailure;
  }
}

MDW_API int32_t RecoveryReport(char16_t*** column0, char16_t*** column1, char16_t*** column2,
                               char16_t*** column3) {
  try {
    report.BuildTable(column0, column1, column2, column3);
  } catch (...) {
  }
  return 0;
}

MDW_API void SetKeepRepairedPath(const char16_t* path) {
  settings.keepRepairedPath = platform::FromWide(path);
}

MDW_API void SetXmlDetailLog(unsigned char on) {
  settings.xmlDetailLog = on != 0;
}

MDW_API void SetFreezeDates(unsigned char on) {
  settings.freezeDates = on != 0;
}

MDW_API int32_t GetLastOutputPath(char16_t* buffer, int32_t capacity) {
  const std::u16string& path = settings.lastOutputPath;
  if (path.empty() || !buffer || capacity <= 0) return 0;
  std::size_t n = std::min(path.size(), static_cast<std::size_t>(capacity - 1));
  std::copy_n(path.begin(), n, buffer);
  buffer[n] = u'\0';
  return static_cast<int32_t>(n);
}

MDW_API int32_t GetLastErrorText(char16_t* buffer, int32_t capacity) {
  const std::u16string& text = settings.lastError;
  if (text.empty() || !buffer || capacity <= 0) return 0;
  std::size_t n = std::min(text.size(), static_cast<std::size_t>(capacity - 1));
  std::copy_n(text.begin(), n, buffer);
  buffer[n] = u'\0';
  return static_cast<int32_t>(n);
}

MDW_API void SetReplaceOutput(unsigned char on) { settings.replaceOutput = on != 0; }

MDW_API void DiscardPendingFiles(void) { platform::DiscardPendingFiles(); }
