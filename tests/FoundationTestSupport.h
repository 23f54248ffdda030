// Helpers for the tests of the library's foundation (exports, settings, log,
// pipeline, report, text): scratch folders, whole-file reads and writes, the
// lines of a log, and a host that records what its callbacks receive.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "api/HostState.h"
#include "mdwdll.h"
#include "platform/Text.h"

namespace foundation_test {

namespace fs = std::filesystem;

// A fresh folder under the temporary folder, removed with all it holds.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (fs::temp_directory_path() / "mdw-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const fs::path& Path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

inline std::u16string W(const fs::path& path) { return platform::Utf8ToUtf16(path.string()); }
inline std::u16string W(std::string_view text) { return platform::Utf8ToUtf16(text); }
inline std::string U8(std::u16string_view text) { return platform::Utf16ToUtf8(text); }

inline void WriteBytes(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

// The whole file, or nothing if it does not exist.
inline std::optional<std::string> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The names in a folder, sorted.
inline std::vector<std::string> Entries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Lines as the log ends them: a line feed alone.
inline std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    lines.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// Whether text has the shape of pattern, where '9' stands for any digit and
// every other character for itself.
inline bool HasShape(std::string_view text, std::string_view pattern) {
  if (text.size() != pattern.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (pattern[i] == '9' ? !digit : text[i] != pattern[i]) return false;
  }
  return true;
}

inline bool IsStampLine(const std::string& line) { return HasShape(line, "[99:99:99]"); }

inline std::vector<std::string> WithoutStamps(const std::vector<std::string>& lines) {
  std::vector<std::string> kept;
  std::copy_if(lines.begin(), lines.end(), std::back_inserter(kept),
               [](const std::string& line) { return !IsStampLine(line); });
  return kept;
}

inline std::size_t CountLines(const std::vector<std::string>& lines, const std::string& wanted) {
  return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), wanted));
}

inline bool HasLine(const std::vector<std::string>& lines, const std::string& wanted) {
  return CountLines(lines, wanted) > 0;
}

inline bool HasLineWhere(const std::vector<std::string>& lines,
                         const std::function<bool(const std::string&)>& test) {
  return std::any_of(lines.begin(), lines.end(), test);
}

inline bool HasLineContaining(const std::vector<std::string>& lines, std::string_view part) {
  return HasLineWhere(lines, [&](const std::string& line) { return line.find(part) != std::string::npos; });
}

// A salvage stage that gave up, in the form the pipeline logs it.
inline bool IsSalvageFailedLine(const std::string& line) {
  for (std::string_view stage : {"Init CStgReader parser", "Start parse OLE data", "Write parse OLE data"}) {
    const std::string prefix = std::string(stage) + " is FAILED. Error code = ";
    if (line.compare(0, prefix.size(), prefix) != 0) continue;
    std::string_view code = std::string_view(line).substr(prefix.size());
    if (!code.empty() && code.front() == '-') code.remove_prefix(1);
    return !code.empty() &&
           std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; });
  }
  return false;
}

// What a host's callbacks received, in order; texts as UTF-8.
struct HostEvent {
  enum Kind { Status, Progress } kind;
  std::string text;
  int percent = 0;

  bool operator==(const HostEvent& other) const {
    return kind == other.kind && text == other.text && percent == other.percent;
  }
  friend void PrintTo(const HostEvent& event, std::ostream* out) {
    if (event.kind == Status)
      *out << "status \"" << event.text << "\"";
    else
      *out << "progress \"" << event.text << "\" " << event.percent;
  }
};

inline HostEvent StatusEvent(std::string text) { return {HostEvent::Status, std::move(text), 0}; }
inline HostEvent ProgressEvent(std::string text, int percent) {
  return {HostEvent::Progress, std::move(text), percent};
}

inline std::vector<HostEvent>& HostEvents() {
  static std::vector<HostEvent> events;
  return events;
}

inline void RecordStatus(const char16_t* text) {
  HostEvents().push_back(StatusEvent(U8(text ? text : u"")));
}

inline void RecordProgress(const char16_t* text, int32_t percent) {
  HostEvents().push_back(ProgressEvent(U8(text ? text : u""), percent));
}

inline bool SawStatus(const std::string& text) {
  const auto& events = HostEvents();
  return std::find(events.begin(), events.end(), StatusEvent(text)) != events.end();
}

// A host in a scratch folder: input and output folders, a work folder, a log
// and a temporary folder of its own. The settings live for the whole process;
// ctest runs every test in a process of its own, and each test starts from
// fresh settings so that the program can also run all tests in one process.
class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    api::HostSettings() = LibrarySettings{};
    HostEvents().clear();
    for (const fs::path* folder : {&in, &out, &work, &tmp}) fs::create_directories(*folder);
    if (const char* old = std::getenv("TMPDIR")) savedTmpdir_ = old;
    ::setenv("TMPDIR", tmp.c_str(), 1);
  }
  void TearDown() override {
    if (savedTmpdir_)
      ::setenv("TMPDIR", savedTmpdir_->c_str(), 1);
    else
      ::unsetenv("TMPDIR");
  }

  void Initialise() {
    DllInitialize(W(work).c_str(), &RecordStatus, &RecordProgress);
    SetLogPath(W(logPath).c_str());
  }

  std::int32_t Recover(const fs::path& input, const fs::path& output) {
    return FileRecover(W(input).c_str(), W(output).c_str());
  }

  // A small file that is plainly not a compound file: 600 bytes of text.
  fs::path TextInput(const std::string& name = "plan.mpp") {
    std::string text;
    for (int line = 1; text.size() < 600; ++line)
      text += "Task " + std::to_string(line) + ": pour the foundations, then wait a week.\n";
    text.resize(600);
    fs::path path = in / name;
    WriteBytes(path, text);
    return path;
  }

  std::vector<std::string> LogLines() const {
    return WithoutStamps(SplitLines(ReadBytes(logPath).value_or("")));
  }

  ScratchFolder scratch;
  const fs::path in = scratch / "in";
  const fs::path out = scratch / "out";
  const fs::path work = scratch / "work";
  const fs::path tmp = scratch / "tmp";
  const fs::path logPath = scratch / "run.log";

 private:
  std::optional<std::string> savedTmpdir_;
};

}  // namespace foundation_test
