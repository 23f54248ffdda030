#include "generate/XMLGen.h"

#include <algorithm>
#include <unordered_set>

#include "base/Date.h"
#include "generate/ElementRun.h"

namespace {

using gen::ElementRun;

constexpr const char* kCancelledLine = "User Exception in FileRecover. The process was canceled by user";
constexpr const char* kProjectTag = "Project xmlns=\"http://schemas.microsoft.com/project\"";

}  // namespace

int CXMLGen::Form() const {
  if (project_.applicationVersion >= 9) return project_.applicationVersion;
  const std::string_view version(saveVersion_);
  return version == "9" ? 9 : version == "12" ? 12 : 14;
}

CXMLGen::CXMLGen(RunContext& ctx, const model::Project& project, std::u16string_view outputPath,
                 const char* saveVersion)
    : ctx_(ctx), project_(project), saveVersion_(saveVersion),
      writer_(std::make_unique<xml::XmlWriter>(ctx, outputPath)) {}

CXMLGen::CXMLGen(RunContext& ctx, const model::Project& project, std::unique_ptr<xml::XmlSink> sink,
                 const char* saveVersion)
    : ctx_(ctx), project_(project), saveVersion_(saveVersion),
      writer_(std::make_unique<xml::XmlWriter>(ctx, std::move(sink))) {}

CXMLGen::~CXMLGen() = default;

std::int32_t CXMLGen::CloseOutput() {
  return writer_->CloseXMLFile() == 0 ? 0 : kWriteFailed;
}

std::int32_t CXMLGen::Cancel() {
  ctx_.log.WriteLine(kCancelledLine);
  writer_->CloseXMLFile();
  return kCancelled;
}

std::int32_t CXMLGen::CheckOutput() {
  if (writer_->OpenResult() == 0) return 0;
  ctx_.log.WriteError("    The XML file could not be created");
  return kWriteFailed;
}

std::int32_t CXMLGen::WriteDocumentStart(const char* declaration) {
  if (writer_->Write_hXML(declaration, nullptr, nullptr) == kCancelled) return kCancelled;
  return writer_->Write_hXML(kProjectTag, nullptr, nullptr);
}

bool CXMLGen::RunSection(const char* startLine, const char* finishLine,
                         const std::function<std::int32_t()>& section) {
  if (startLine) ctx_.log.WriteLine(startLine);
  if (section() == kCancelled) return false;
  ctx_.log.WriteLine(finishLine);
  return true;
}

std::int32_t CXMLGen::FinishDocument() {
  if (writer_->Write_hXML(nullptr, nullptr, "Project") == kCancelled) return kCancelled;
  if (CloseOutput() != 0) {
    ctx_.log.WriteError("    The XML file could not be written");
    return kWriteFailed;
  }
  return 0;
}

std::u16string CXMLGen::EscapeName(std::u16string_view name) {
  // Task names also have their commas turned into semicolons.
  std::u16string escaped = EscapeMarkup(name);
  std::replace(escaped.begin(), escaped.end(), u',', u';');
  return escaped;
}

std::int32_t CXMLGen::WriteName(const char* tag, std::u16string text) {
  return writer_->WriteNameXML(tag, std::span<char16_t>(text.data(), text.size()));
}

void CXMLGen::IndexLinks() {
  linksBySuccessor_.clear();
  for (std::size_t i = 0; i < project_.links.size(); ++i) linksBySuccessor_[project_.links[i].SuccessorUID].push_back(i);
}

