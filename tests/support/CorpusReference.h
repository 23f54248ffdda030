// The sample corpus and its reference facts for the corpus tests: where
// the corpus is, which files the 2010 application wrote, and just enough
// JSON to read the reference files.
#pragma once

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "base/Date.h"
#include "model/Records.h"
#include "platform/CompoundFile.h"
#include "platform/Text.h"

namespace corpus_reference {

namespace fs = std::filesystem;

inline fs::path CorpusDir() { return fs::path(MDW_SOURCE_DIR "/../shared/corpus"); }

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

inline bool WrittenBy2010(const fs::path& file) {
  auto reader = platform::CompoundFileReader::Open(platform::Utf8ToUtf16(file.string()));
  if (!reader || !reader->OpenStorage(platform::kRootElement, u"   114")) return false;
  auto stream = reader->OpenStream(platform::kRootElement, u"\1CompObj");
  std::vector<std::uint8_t> bytes;
  if (!stream || !reader->ReadStream(*stream, bytes)) return false;
  const std::string text(bytes.begin(), bytes.end());
  return text.find("Microsoft.Project 14.0") != std::string::npos;
}

inline std::string DateText(model::PackedDate date) {
  if (date == model::kNoDate) return "null";
  const std::uint32_t tenths = date & 0xFFFF;
  char text[64];
  std::snprintf(text, sizeof text, "%sT%02u:%02u:%02u", CDate::FromDayNumber(date >> 16).ToText().c_str(),
                tenths / 600, (tenths / 10) % 60, (tenths % 10) * 6);
  return text;
}

// A version 14 file: one with the data storage "   114".
inline bool IsVersion14(const fs::path& file) {
  auto reader = platform::CompoundFileReader::Open(platform::Utf8ToUtf16(file.string()));
  return reader && reader->OpenStorage(platform::kRootElement, u"   114");
}

inline std::string RefText(const Json* value) {
  return value && value->type == Json::Type::String ? value->text : std::string("null");
}

inline std::optional<double> RefNumber(const Json* value) {
  if (value && value->type == Json::Type::Number) return value->number;
  return std::nullopt;
}

// Agreement of one field over many items.
struct Agreement {
  std::size_t agreed = 0;
  std::size_t compared = 0;
  void Add(bool same) {
    ++compared;
    agreed += same;
  }
  double Percent() const { return compared ? 100.0 * static_cast<double>(agreed) / static_cast<double>(compared) : 100.0; }
};

}  // namespace corpus_reference
