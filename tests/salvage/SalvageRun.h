// Running the salvage on bytes and comparing what it wrote with what a
// compound file holds, for the salvage's tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "salvage/StgReader.h"
#include "platform/CompoundFile.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "support/CfbFixture.h"
#include "support/TestRun.h"

namespace salvage_test {

// The run the salvage's tests share: its log, settings and report.
inline test_support::TestRun& SharedRun() {
  static test_support::TestRun run;
  return run;
}
inline RunContext& TestRun() { return SharedRun().ctx; }

struct SalvageRun {
  int init = 0, parse = 0, write = 0;
  std::unique_ptr<CStgReader> reader;
  std::unique_ptr<platform::CompoundFileReader> repaired;  // null unless written
};

// Writes bytes to a file in scratch, then runs Init, ParseData and WriteData
// with the work folder in scratch, stopping at the first failing stage.
inline SalvageRun Salvage(const fixture::ScratchDir& scratch, const std::vector<std::uint8_t>& bytes,
                          const std::string& name = "input.cfb") {
  SalvageRun run;
  const std::string input = scratch.File(name);
  const std::u16string output = scratch.WideFile(name + ".repaired");
  platform::DeleteFile(platform::Utf8ToUtf16(input));
  platform::DeleteFile(output);
  if (!fixture::WriteFile(input, bytes)) {
    ADD_FAILURE() << "cannot write " << input;
    return run;
  }
  SharedRun().settings.workFolder = platform::Utf8ToUtf16(scratch.path());
  run.reader = std::make_unique<CStgReader>(TestRun());
  run.init = run.reader->Init(platform::Utf8ToUtf16(input));
  if (run.init != 0) return run;
  run.parse = run.reader->ParseData();
  if (run.parse != 0) return run;
  run.write = run.reader->WriteData(output);
  if (run.write == 0) run.repaired = platform::CompoundFileReader::Open(output);
  return run;
}

// Every storage and every non-empty stream of expected, at the same path in
// actual with the same bytes; one message per difference.
inline void CollectMissing(const fixture::Node& expected, const fixture::Node& actual, const std::string& path,
                           std::vector<std::string>& problems) {
  for (const fixture::Node& e : expected.children) {
    const std::string where = path + "/" + platform::Utf16ToUtf8(e.name);
    if (!e.isStorage && e.bytes.empty()) continue;
    const fixture::Node* match = nullptr;
    for (const fixture::Node& a : actual.children)
      if (a.name == e.name && a.isStorage == e.isStorage) match = &a;
    if (!match) {
      problems.push_back("missing " + where);
      continue;
    }
    if (e.isStorage)
      CollectMissing(e, *match, where, problems);
    else if (match->bytes != e.bytes)
      problems.push_back("different bytes in " + where + " (" + std::to_string(e.bytes.size()) + " expected, " +
                         std::to_string(match->bytes.size()) + " read)");
  }
}

inline std::vector<std::string> MissingFrom(const fixture::Node& expected, const platform::CompoundFileReader& actual) {
  std::vector<std::string> problems;
  CollectMissing(expected, fixture::ReadBack(actual), "", problems);
  return problems;
}

}  // namespace salvage_test

namespace salvage_test {

// The diagnostics log of one test, written to a file in scratch.
class LogCapture {
 public:
  explicit LogCapture(const fixture::ScratchDir& scratch) : path_(scratch.File("salvage.log")) {
    SharedRun().log.OpenFile(platform::Utf8ToUtf16(path_), true);
  }
  ~LogCapture() { SharedRun().log.CloseFile(); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // The lines written so far, time stamps left out.
  std::vector<std::string> Lines() const {
    std::vector<std::uint8_t> bytes;
    platform::ReadWholeFile(platform::Utf8ToUtf16(path_), bytes);
    std::vector<std::string> lines;
    std::string line;
    for (std::uint8_t b : bytes) {
      if (b != '\n') {
        line.push_back(static_cast<char>(b));
        continue;
      }
      if (!(line.size() == 10 && line.front() == '[' && line.back() == ']' && line[3] == ':')) lines.push_back(line);
      line.clear();
    }
    return lines;
  }
  bool Has(const std::string& line) const {
    const auto lines = Lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  bool HasStart(const std::string& start) const {
    const auto lines = Lines();
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(start, 0) == 0; });
  }
  int Count(const std::string& line) const {
    const auto lines = Lines();
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
  }

 private:
  std::string path_;
};

}  // namespace salvage_test
