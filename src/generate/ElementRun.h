// A run of child elements written one after the other, which stops writing
// at the first cancellation and remembers it, so that an element's writer
// can list its children and check once at the end.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

#include "xml/XmlWriter.h"

namespace gen {

class ElementRun {
 public:
  explicit ElementRun(xml::XmlWriter& writer) : writer_(writer) {}

  void Open(const char* tag) {
    Do([&] { return writer_.Write_hXML(tag, nullptr, nullptr); });
  }
  void Close(const char* tag) {
    Do([&] { return writer_.Write_hXML(nullptr, nullptr, tag); });
  }
  void Raw(const char* tag, const char* text) {
    Do([&] { return writer_.WriteRawXML(tag, text); });
  }
  void Raw(const char* tag, const std::string& text) { Raw(tag, text.c_str()); }
  template <typename Number>
    requires std::is_integral_v<Number>
  void Raw(const char* tag, Number value) {
    Raw(tag, std::to_string(value));
  }
  // Any other writer call; its result counts only when it is a cancellation.
  template <typename Write>
  void Do(Write write) {
    if (!cancelled_ && write() == xml::XmlWriter::kCancelled) cancelled_ = true;
  }
  bool Cancelled() const { return cancelled_; }

 private:
  xml::XmlWriter& writer_;
  bool cancelled_ = false;
};

}  // namespace gen
