// Helpers of the generator tests: a generator writing into memory, and the
// document checked and queried by an independent XML reader (xmllint).
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>

#include "generate/XMLGen.h"
#include "model/Project.h"
#include "parse/MppParser14.h"
#include "support/TestRun.h"
#include "xml/XmlSink.h"

namespace gen_test {

namespace fs = std::filesystem;

// A model and its generator, whose document goes into memory.
struct MemoryGen {
  explicit MemoryGen(RunContext& ctx = test_support::QuietRun(), const char* saveVersion = "14") {
    auto owned = std::make_unique<xml::StringSink>();
    sink = owned.get();
    gen = std::make_unique<CXMLGen>(ctx, project, std::move(owned), saveVersion);
    gen->Writer().SetLineLogging(false);
  }
  explicit MemoryGen(const char* saveVersion) : MemoryGen(test_support::QuietRun(), saveVersion) {}
  const std::string& Text() const { return sink->Text(); }
  model::Project project;
  xml::StringSink* sink = nullptr;
  std::unique_ptr<CXMLGen> gen;
};

// A document on disk for xmllint, removed with this object.
class XmlFile {
 public:
  explicit XmlFile(const std::string& text) {
    std::string pattern = (fs::temp_directory_path() / "mdw-gen-XXXXXX").string();
    const int fd = ::mkstemp(pattern.data());
    if (fd >= 0) ::close(fd);
    path_ = pattern;
    std::ofstream(path_, std::ios::binary) << text;
  }
  ~XmlFile() {
    std::error_code ignored;
    fs::remove(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline std::string Run(const std::string& command, int* status = nullptr) {
  std::string output;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    const int code = ::pclose(pipe);
    if (status) *status = code;
  } else if (status) {
    *status = -1;
  }
  return output;
}

inline bool HaveXmllint() { return std::system("xmllint --version >/dev/null 2>&1") == 0; }

// Empty when the file is well-formed, else xmllint's complaint.
inline std::string WellFormedFile(const std::string& path) {
  int status = 0;
  std::string output = Run("xmllint --noout '" + path + "' 2>&1", &status);
  return status == 0 ? std::string() : (output.empty() ? std::string("xmllint failed") : output);
}

inline std::string WellFormed(const std::string& text) {
  XmlFile file(text);
  return WellFormedFile(file.path());
}

// The string value of an XPath expression; elements are matched by local
// name through E("Task") so that the default namespace does not matter.
inline std::string XPath(const std::string& text, const std::string& expression) {
  XmlFile file(text);
  std::string value = Run("xmllint --xpath \"" + expression + "\" '" + file.path() + "' 2>/dev/null");
  if (!value.empty() && value.back() == '\n') value.pop_back();
  return value;
}

// The schema's verdict on a document: "" when it is valid, else what
// xmllint says. Nothing to check against (no shared schema beside the
// checkout) gives nullopt, and the caller skips.
inline std::optional<std::string> SchemaErrors(const std::string& text) {
  const std::string schema = MDW_SOURCE_DIR "/../shared/schema/project-xml.xsd";
  if (access(schema.c_str(), R_OK) != 0) return std::nullopt;
  XmlFile file(text);
  int status = 0;
  std::string output = Run("xmllint --noout --schema '" + schema + "' '" + file.path() + "' 2>&1", &status);
  return status == 0 ? std::string() : output;
}
#define EXPECT_SCHEMA_VALID(xml)                                                   \
  do {                                                                             \
    if (auto errors = gen_test::SchemaErrors(xml)) {                               \
      EXPECT_EQ(*errors, "") << (xml);                                             \
    }                                                                              \
  } while (0)

inline std::string E(const std::string& name) { return "*[local-name()='" + name + "']"; }

}  // namespace gen_test
