// The reference facts of the sample corpus (corpus/reference/NAME.json):
// just enough JSON to read them, and which samples a test compares.
#pragma once

#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/CompoundFile.h"
#include "platform/Text.h"

namespace reference_json {

namespace fs = std::filesystem;

// Just enough JSON for the reference files (which are well-formed).
struct Json {
  enum class Type { Null, Bool, Number, String, Array, Object } type = Type::Null;
  bool boolean = false;
  double number = 0.0;
  std::string text;
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;

  const Json* Get(const std::string& key) const {
    for (const auto& [name, value] : members)
      if (name == key) return &value;
    return nullptr;
  }
};

class JsonReader {
 public:
  explicit JsonReader(const std::string& text) : s_(text) {}
  std::optional<Json> Read() {
    Json value;
    if (!Value(value, 0)) return std::nullopt;
    return value;
  }

 private:
  void Space() {
    while (at_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[at_]))) ++at_;
  }
  bool String(std::string& out) {
    if (at_ >= s_.size() || s_[at_] != '"') return false;
    ++at_;
    while (at_ < s_.size() && s_[at_] != '"') {
      char c = s_[at_++];
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      if (at_ >= s_.size()) return false;
      c = s_[at_++];
      switch (c) {
        case 'n': out.push_back('\n'); break;
        case 't': out.push_back('\t'); break;
        case 'r': out.push_back('\r'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'u': {
          if (at_ + 4 > s_.size()) return false;
          std::u16string units(1, static_cast<char16_t>(std::stoul(s_.substr(at_, 4), nullptr, 16)));
          at_ += 4;
          if (units[0] >= 0xD800 && units[0] < 0xDC00 && at_ + 6 <= s_.size() && s_[at_] == '\\') {
            units.push_back(static_cast<char16_t>(std::stoul(s_.substr(at_ + 2, 4), nullptr, 16)));
            at_ += 6;
          }
          out += platform::Utf16ToUtf8(units);
          break;
        }
        default: out.push_back(c);
      }
    }
    if (at_ >= s_.size()) return false;
    ++at_;
    return true;
  }
  bool Value(Json& v, int depth) {
    if (depth > 64) return false;
    Space();
    if (at_ >= s_.size()) return false;
    const char c = s_[at_];
    if (c == '{') {
      v.type = Json::Type::Object;
      ++at_;
      Space();
      if (at_ < s_.size() && s_[at_] == '}') return ++at_, true;
      while (true) {
        Space();
        std::string key;
        if (!String(key)) return false;
        Space();
        if (at_ >= s_.size() || s_[at_++] != ':') return false;
        Json member;
        if (!Value(member, depth + 1)) return false;
        v.members.emplace_back(std::move(key), std::move(member));
        Space();
        if (at_ >= s_.size()) return false;
        if (s_[at_] == ',') { ++at_; continue; }
        if (s_[at_] == '}') return ++at_, true;
        return false;
      }
    }
    if (c == '[') {
      v.type = Json::Type::Array;
      ++at_;
      Space();
      if (at_ < s_.size() && s_[at_] == ']') return ++at_, true;
      while (true) {
        Json item;
        if (!Value(item, depth + 1)) return false;
        v.items.push_back(std::move(item));
        Space();
        if (at_ >= s_.size()) return false;
        if (s_[at_] == ',') { ++at_; continue; }
        if (s_[at_] == ']') return ++at_, true;
        return false;
      }
    }
    if (c == '"') {
      v.type = Json::Type::String;
      return String(v.text);
    }
    if (s_.compare(at_, 4, "null") == 0) return at_ += 4, true;
    if (s_.compare(at_, 4, "true") == 0) return v.type = Json::Type::Bool, v.boolean = true, at_ += 4, true;
    if (s_.compare(at_, 5, "false") == 0) return v.type = Json::Type::Bool, at_ += 5, true;
    std::size_t used = 0;
    try {
      v.number = std::stod(s_.substr(at_, 40), &used);
    } catch (...) {
      return false;
    }
    v.type = Json::Type::Number;
    at_ += used;
    return true;
  }

  const std::string& s_;
  std::size_t at_ = 0;
};

inline std::optional<Json> LoadJson(const fs::path& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::stringstream buffer;
  buffer << in.rdbuf();
  const std::string text = buffer.str();
  return JsonReader(text).Read();
}

// True for a version 14 sample (one with a "   114" storage).
inline bool IsVersion14(const fs::path& file) {
  auto reader = platform::CompoundFileReader::Open(platform::Utf8ToUtf16(file.string()));
  return reader && reader->OpenStorage(platform::kRootElement, u"   114");
}

// True for a version 14 sample written by the 2010 application.
inline bool WrittenBy2010(const fs::path& file) {
  auto reader = platform::CompoundFileReader::Open(platform::Utf8ToUtf16(file.string()));
  if (!reader || !reader->OpenStorage(platform::kRootElement, u"   114")) return false;
  auto stream = reader->OpenStream(platform::kRootElement, u"\1CompObj");
  std::vector<std::uint8_t> bytes;
  if (!stream || !reader->ReadStream(*stream, bytes)) return false;
  const std::string text(bytes.begin(), bytes.end());
  return text.find("Microsoft.Project 14.0") != std::string::npos;
}

}  // namespace reference_json
