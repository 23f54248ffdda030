#include "base/LibrarySettings.h"

#include "base/Logger.h"
#include "platform/Text.h"

LibrarySettings theSettings;

StatusTexts BuiltInStatusTexts() {
  return {{"Pass 1: Opening file...", "Pass 2: Parsing file...", "Pass 3: Recovering file data...",
           "Pass 4: Writing recovered data...", "done"}};
}

StatusTexts ExternStatusKeys() {
  return {{"App/Resources/DllStrings/mdw/Pass1", "App/Resources/DllStrings/mdw/Pass2",
           "App/Resources/DllStrings/mdw/Pass3", "App/Resources/DllStrings/mdw/Pass4",
           "App/Resources/DllStrings/mdw/Done"}};
}

bool CancelRequested() {
  // The host may write the byte from another thread.
  return theSettings.breakFlag && __atomic_load_n(theSettings.breakFlag, __ATOMIC_RELAXED) != 0;
}

void ClearCancel() {
  if (theSettings.breakFlag) __atomic_store_n(theSettings.breakFlag, 0, __ATOMIC_RELAXED);
}

void NoteOutputError(int errorNumber) {
  if (theSettings.outputErrorNumber == 0) theSettings.outputErrorNumber = errorNumber != 0 ? errorNumber : -1;
}

void SendStatus(const char* text) {
  if (!theSettings.statusSet || !theSettings.statusCallback) return;
  std::u16string wide = platform::AnsiToUtf16(text ? text : "");
  theSettings.statusCallback(wide.c_str());
}

void SendProgress(const char* text, std::int32_t percent) {
  if (!theSettings.progressSet || !theSettings.progressCallback) return;
  std::u16string wide = platform::AnsiToUtf16(text ? text : "");
  theSettings.progressCallback(wide.c_str(), percent);
}

void ReportProgress(std::int32_t percent, const char* text) {
  if (percent == theSettings.lastPercent && percent != -1) return;
  SendProgress(text, percent);
  theSettings.lastPercent = percent;
  theLog.WriteFormat("'%s' - %d%%", text ? text : "", percent);
}
