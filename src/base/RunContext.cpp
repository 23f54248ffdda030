#include "base/RunContext.h"

#include <string>

#include "platform/Text.h"

namespace {

bool CancelByteSet(const LibrarySettings& settings) {
  // The host may write the byte from another thread.
  return settings.breakFlag && __atomic_load_n(settings.breakFlag, __ATOMIC_RELAXED) != 0;
}

}  // namespace

bool RunContext::Cancelled() const { return CancelByteSet(settings); }

void RunContext::ClearCancel() {
  if (settings.breakFlag) __atomic_store_n(settings.breakFlag, 0, __ATOMIC_RELAXED);
}

void RunContext::NoteOutputError(int errorNumber) {
  if (settings.outputErrorNumber == 0) settings.outputErrorNumber = errorNumber != 0 ? errorNumber : -1;
}

void RunContext::Status(const char* text) {
  if (!settings.statusSet || !settings.statusCallback) return;
  std::u16string wide = platform::AnsiToUtf16(text ? text : "");
  settings.statusCallback(wide.c_str());
}

void RunContext::SendProgress(const char* text, std::int32_t percent) {
  if (!settings.progressSet || !settings.progressCallback) return;
  std::u16string wide = platform::AnsiToUtf16(text ? text : "");
  settings.progressCallback(wide.c_str(), percent);
}

void RunContext::Progress(std::int32_t percent, const char* text) {
  if (percent == settings.lastPercent && percent != -1) return;
  SendProgress(text, percent);
  settings.lastPercent = percent;
  log.WriteFormat("'%s' - %d%%", text ? text : "", percent);
}
