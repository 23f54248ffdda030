// The exported C interface of libmdwdll.so. Nothing throws across it.
#include <algorithm>

#include "pipeline/FileRecover.h"
#include "base/LibrarySettings.h"
#include "base/MwReport.h"
#include "mdwdll.h"
#include "platform/Files.h"
#include "platform/Text.h"

MDW_API int32_t DllInitialize(const char16_t* workFolder, StatusCallback status,
                              ProgressCallback progress) {
  theSettings.workFolder = platform::FromWide(workFolder);
  theSettings.statusCallback = status;
  theSettings.progressCallback = progress;
  theSettings.statusSet = true;
  theSettings.progressSet = true;
  return 1;
}

MDW_API void SetLogPath(const char16_t* path) {
  theSettings.logPath = platform::FromWide(path);
  theSettings.logPathSet = true;
}

MDW_API void SetOutputFormat(const char16_t* format) {
  std::u16string text = platform::FromWide(format);
  if (text.size() < 2) return;
  if (text.front() == u'*') text.erase(0, 1);
  theSettings.outputFormat = text;
}

MDW_API void UseExternStatusStrings(unsigned char) { theSettings.statusTexts = ExternStatusKeys(); }

MDW_API void SetBreakFlag(unsigned char* flag) { theSettings.breakFlag = flag; }

MDW_API int32_t GetDllVersion(void) { return 2; }

MDW_API void GetSupportedExtensions(char16_t* buffer) {
  static constexpr char16_t kExtensions[] = u"*.mpp";
  if (buffer) std::copy(std::begin(kExtensions), std::end(kExtensions), buffer);
}

MDW_API int32_t FileRecover(const char16_t* input, const char16_t* output) {
  try {
    return RunFileRecover(platform::FromWide(input), platform::FromWide(output));
  } catch (...) {
    return kGeneralFailure;
  }
}

MDW_API int32_t RecoveryReport(char16_t*** column0, char16_t*** column1, char16_t*** column2,
                               char16_t*** column3) {
  try {
    theReport.BuildTable(column0, column1, column2, column3);
  } catch (...) {
  }
  return 0;
}

MDW_API void SetKeepRepairedPath(const char16_t* path) {
  theSettings.keepRepairedPath = platform::FromWide(path);
}

MDW_API void SetXmlDetailLog(unsigned char on) {
  theSettings.xmlDetailLog = on != 0;
}

MDW_API void SetFreezeDates(unsigned char on) {
  theSettings.freezeDates = on != 0;
}

MDW_API int32_t GetLastOutputPath(char16_t* buffer, int32_t capacity) {
  const std::u16string& path = theSettings.lastOutputPath;
  if (path.empty() || !buffer || capacity <= 0) return 0;
  std::size_t n = std::min(path.size(), static_cast<std::size_t>(capacity - 1));
  std::copy_n(path.begin(), n, buffer);
  buffer[n] = u'\0';
  return static_cast<int32_t>(n);
}

MDW_API int32_t GetLastErrorText(char16_t* buffer, int32_t capacity) {
  const std::u16string& text = theSettings.lastError;
  if (text.empty() || !buffer || capacity <= 0) return 0;
  std::size_t n = std::min(text.size(), static_cast<std::size_t>(capacity - 1));
  std::copy_n(text.begin(), n, buffer);
  buffer[n] = u'\0';
  return static_cast<int32_t>(n);
}

MDW_API void SetReplaceOutput(unsigned char on) { theSettings.replaceOutput = on != 0; }

MDW_API void DiscardPendingFiles(void) { platform::DiscardPendingFiles(); }
