// The generator of version 12 and version 9 files: the version 14 document
// with the file's save version. Their readers rebuild the outline
// from the parent links as the version 14 reader does, so the document
// carries everything they read: calendars, percent complete, work and
// units included.
#pragma once

#include <memory>
#include <string_view>

#include "gen/XMLGen14.h"

class CXMLGen12 : public CXMLGen14 {
 public:
  explicit CXMLGen12(std::u16string_view outputPath, const char* saveVersion = "12")
      : CXMLGen14(outputPath), saveVersion_(saveVersion) {}
  explicit CXMLGen12(std::unique_ptr<xml::XmlSink> sink, const char* saveVersion = "12")
      : CXMLGen14(std::move(sink)), saveVersion_(saveVersion) {}
  std::int32_t GenerateMainXML() override;

 private:
  const char* saveVersion_;
};
