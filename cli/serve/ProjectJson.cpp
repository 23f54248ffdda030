#include "serve/ProjectJson.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string_view>
#include <vector>

namespace serve {

namespace {

void AppendUtf8(std::string& out, unsigned long code) {
  if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// The length of the valid UTF-8 sequence at text[i], or 0.
std::size_t Utf8Length(std::string_view text, std::size_t i) {
  const auto c = static_cast<unsigned char>(text[i]);
  std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (n == 0 || i + n > text.size()) return 0;
  unsigned long code = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
  for (std::size_t k = 1; k < n; ++k) {
    const auto d = static_cast<unsigned char>(text[i + k]);
    if ((d >> 6) != 2) return 0;
    code = (code << 6) | (d & 0x3F);
  }
  static const unsigned long kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kMin[n] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return n;
}

// One element's place: the names from the root down (prefixes dropped).
using Path = std::vector<std::string>;

// A small reader of well-formed XML as our writer produces it: elements,
// attributes (skipped), text, CDATA, comments, processing instructions and
// the five predefined and numeric character references. No DTD, no external
// anything. Calls `leaf(path, text)` for every element that holds text
// only, and `open(path)` / `close(path)` around every element.
class Reader {
 public:
  static constexpr std::size_t kMaxDepth = 64;

  explicit Reader(std::string_view xml) : xml_(xml) {}

  template <typename Open, typename Leaf, typename Close>
  bool Run(Open open, Leaf leaf, Close close, std::string& error) {
    Path path;
    std::string text;
    bool hasChild = false;  // the current element has child elements
    bool rootSeen = false;
    while (pos_ < xml_.size()) {
      if (xml_[pos_] != '<') {
        const std::size_t end = std::min(xml_.find('<', pos_), xml_.size());
        if (path.empty()) {
          for (std::size_t i = pos_; i < end; ++i)
            if (!std::strchr(" \t\r\n", xml_[i])) return Fail(error, "text outside the root element");
        } else if (!Decode(xml_.substr(pos_, end - pos_), text)) {
          return Fail(error, "a bad character reference");
        }
        pos_ = end;
        continue;
      }
      if (Starts("<?")) {
        if (!Skip("?>")) return Fail(error, "an unterminated processing instruction");
      } else if (Starts("<!--")) {
        if (!Skip("-->")) return Fail(error, "an unterminated comment");
      } else if (Starts("<![CDATA[")) {
        const std::size_t begin = pos_ + 9;
        if (!Skip("]]>")) return Fail(error, "an unterminated CDATA section");
        if (path.empty()) return Fail(error, "CDATA outside the root element");
        text.append(xml_.substr(begin, pos_ - 3 - begin));
      } else if (Starts("<!")) {
        return Fail(error, "a document type declaration");
      } else if (Starts("</")) {
        pos_ += 2;
        const std::string name = Name();
        while (pos_ < xml_.size() && std::strchr(" \t\r\n", xml_[pos_])) ++pos_;
        if (path.empty() || name != path.back() || pos_ >= xml_.size() || xml_[pos_] != '>')
          return Fail(error, "a mismatched end tag");
        ++pos_;
        if (!hasChild) leaf(path, text);
        close(path);
        path.pop_back();
        text.clear();
        hasChild = true;  // the parent has at least this child
      } else {
        ++pos_;
        const std::string name = Name();
        if (name.empty()) return Fail(error, "a bad start tag");
        if (path.empty() && rootSeen) return Fail(error, "a second root element");
        bool selfClosing = false;
        for (;;) {  // attributes: name="value" or name='value'
          while (pos_ < xml_.size() && std::strchr(" \t\r\n", xml_[pos_])) ++pos_;
          if (pos_ >= xml_.size()) return Fail(error, "an unterminated start tag");
          if (xml_[pos_] == '>') { ++pos_; break; }
          if (Starts("/>")) { pos_ += 2; selfClosing = true; break; }
          if (Name().empty()) return Fail(error, "a bad attribute");
          while (pos_ < xml_.size() && std::strchr(" \t\r\n", xml_[pos_])) ++pos_;
          if (pos_ + 1 >= xml_.size() || xml_[pos_] != '=') return Fail(error, "a bad attribute");
          ++pos_;
          while (pos_ < xml_.size() && std::strchr(" \t\r\n", xml_[pos_])) ++pos_;
          if (pos_ >= xml_.size() || (xml_[pos_] != '"' && xml_[pos_] != '\'')) return Fail(error, "a bad attribute");
          const std::size_t end = xml_.find(xml_[pos_], pos_ + 1);
          if (end == std::string_view::npos) return Fail(error, "an unterminated attribute");
          pos_ = end + 1;
        }
        if (path.size() >= kMaxDepth) return Fail(error, "elements nested too deeply");
        rootSeen = true;
        path.push_back(name);
        text.clear();
        open(path);
        if (selfClosing) {
          leaf(path, text);
          close(path);
          path.pop_back();
          hasChild = true;
        } else {
          hasChild = false;
        }
      }
    }
    if (!rootSeen || !path.empty()) return Fail(error, "the document ends early");
    return true;
  }

 private:
  static bool Fail(std::string& error, const char* what) {
    error = what;
    return false;
  }
  bool Starts(std::string_view s) const { return xml_.substr(pos_, s.size()) == s; }
  bool Skip(std::string_view end) {
    const std::size_t at = xml_.find(end, pos_);
    if (at == std::string_view::npos) return false;
    pos_ = at + end.size();
    return true;
  }
  // A name, without its namespace prefix.
  std::string Name() {
    const std::size_t begin = pos_;
    while (pos_ < xml_.size() && !std::strchr(" \t\r\n/>=", xml_[pos_])) ++pos_;
    std::string_view name = xml_.substr(begin, pos_ - begin);
    if (auto colon = name.rfind(':'); colon != std::string_view::npos) name.remove_prefix(colon + 1);
    return std::string(name);
  }
  static bool Decode(std::string_view raw, std::string& out) {
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] != '&') {
        out.push_back(raw[i]);
        continue;
      }
      const std::size_t semi = raw.find(';', i);
      if (semi == std::string_view::npos || semi - i > 12) return false;
      const std::string_view ref = raw.substr(i + 1, semi - i - 1);
      if (ref == "amp") out.push_back('&');
      else if (ref == "lt") out.push_back('<');
      else if (ref == "gt") out.push_back('>');
      else if (ref == "quot") out.push_back('"');
      else if (ref == "apos") out.push_back('\'');
      else if (ref.size() > 1 && ref[0] == '#') {
        const bool hex = ref[1] == 'x';
        const std::string digits(ref.substr(hex ? 2 : 1));
        if (digits.empty() || digits.size() > 8) return false;
        char* end = nullptr;
        const unsigned long code = std::strtoul(digits.c_str(), &end, hex ? 16 : 10);
        if (*end) return false;
        AppendUtf8(out, code);
      } else {
        return false;
      }
      i = semi;
    }
    return true;
  }

  std::string_view xml_;
  std::size_t pos_ = 0;
};

using Record = std::map<std::string, std::string>;

// The elements of each record that the JSON carries (the rest are skipped
// as they are read: a large plan's tasks have forty-odd each).
constexpr std::string_view kTaskFields[] = {"UID", "ID", "Name", "OutlineLevel", "OutlineNumber", "Start", "Finish",
                                            "Duration", "Milestone", "Summary", "Manual", "Active", "PercentComplete"};
constexpr std::string_view kResourceFields[] = {"UID", "ID", "Name", "Type", "Initials", "Group"};
constexpr std::string_view kAssignmentFields[] = {"UID", "TaskUID", "ResourceUID", "Work"};

template <std::size_t N>
bool Wanted(const std::string_view (&fields)[N], const std::string& name) {
  for (std::string_view field : fields)
    if (field == name) return true;
  return false;
}

bool IsInteger(const std::string& text) {
  std::size_t i = text.size() > 1 && text[0] == '-' ? 1 : 0;
  if (i >= text.size() || text.size() > 18) return false;
  for (; i < text.size(); ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  return true;
}

// One record's fields as JSON members: each (key, element, kind) taken
// from the record; kind 'n' integer, 'b' flag, 's' text; absent -> null.
struct Field {
  const char* key;
  const char* element;
  char kind;
};

void Members(std::string& json, const Record& record, std::initializer_list<Field> fields) {
  bool first = true;
  for (const Field& field : fields) {
    json += first ? "\"" : ",\"";
    json += field.key;
    json += "\":";
    first = false;
    const auto it = record.find(field.element);
    if (it == record.end()) {
      json += "null";
    } else if (field.kind == 'n') {
      json += IsInteger(it->second) ? it->second : "null";
    } else if (field.kind == 'b') {
      json += it->second == "1" ? "true" : it->second == "0" ? "false" : "null";
    } else {
      json += JsonQuote(it->second);
    }
  }
}

}  // namespace

std::string JsonQuote(const std::string& text) {
  std::string out = "\"";
  out.reserve(text.size() + 2);
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = Utf8Length(text, i);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    const auto c = static_cast<unsigned char>(text[i]);
    if (n > 1) {
      out.append(text, i, n);
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else if (c == '<') {
      out += "\\u003c";  // safe to embed in a page
    } else {
      out.push_back(static_cast<char>(c));
    }
    i += n;
  }
  return out + "\"";
}

bool ProjectJsonFromXml(const std::string& xml, std::string& json, std::string& error) {
  std::vector<std::pair<std::string, std::string>> header;
  std::vector<Record> tasks, resources, assignments;
  struct Link {
    std::string successor;
    Record fields;
  };
  std::vector<Link> links;
  bool isProject = false;

  // Where a record of each kind lives.
  // `extra` further levels below them.
  auto at = [](const Path& path, std::initializer_list<const char*> names, std::size_t extra = 0) {
    if (path.size() != names.size() + extra) return false;
    std::size_t i = 0;
    for (const char* name : names)
      if (path[i++] != name) return false;
    return true;
  };
  auto open = [&](const Path& path) {
    if (path.size() == 1) isProject = path[0] == "Project";
    if (at(path, {"Project", "Tasks", "Task"})) tasks.emplace_back();
    else if (at(path, {"Project", "Resources", "Resource"})) resources.emplace_back();
    else if (at(path, {"Project", "Assignments", "Assignment"})) assignments.emplace_back();
    else if (at(path, {"Project", "Tasks", "Task", "PredecessorLink"}) && !tasks.empty()) links.emplace_back();
  };
  auto leaf = [&](const Path& path, const std::string& text) {
    if (path.size() == 2 && path[0] == "Project") {
      header.emplace_back(path[1], text);
    } else if (at(path, {"Project", "Tasks", "Task"}, 1)) {
      if (Wanted(kTaskFields, path[3])) tasks.back().emplace(path[3], text);
    } else if (at(path, {"Project", "Resources", "Resource"}, 1)) {
      if (Wanted(kResourceFields, path[3])) resources.back().emplace(path[3], text);
    } else if (at(path, {"Project", "Assignments", "Assignment"}, 1)) {
      if (Wanted(kAssignmentFields, path[3])) assignments.back().emplace(path[3], text);
    } else if (!links.empty() &&
               at(path, {"Project", "Tasks", "Task", "PredecessorLink"}, 1)) {
      links.back().fields.emplace(path[4], text);
    }
  };
  auto close = [&](const Path& path) {
    if (at(path, {"Project", "Tasks", "Task", "PredecessorLink"}) && !links.empty() && !tasks.empty()) {
      auto uid = tasks.back().find("UID");
      // The task's UID comes before its links in our documents.
      links.back().successor = uid == tasks.back().end() ? "" : uid->second;
    }
  };
  Reader reader(xml);
  if (!reader.Run(open, leaf, close, error)) return false;
  if (!isProject) {
    error = "not a Project XML document";
    return false;
  }

  std::map<std::string, std::string> resourceNames;
  for (const Record& resource : resources) {
    auto uid = resource.find("UID");
    auto name = resource.find("Name");
    if (uid != resource.end() && name != resource.end()) resourceNames[uid->second] = name->second;
  }
  std::map<std::string, std::vector<std::string>> taskResources;
  for (const Record& assignment : assignments) {
    auto task = assignment.find("TaskUID");
    auto resource = assignment.find("ResourceUID");
    if (task == assignment.end() || resource == assignment.end()) continue;
    auto name = resourceNames.find(resource->second);
    if (name != resourceNames.end()) taskResources[task->second].push_back(name->second);
  }

  json = "{\"header\":{";
  for (std::size_t i = 0; i < header.size(); ++i)
    json += (i ? "," : "") + JsonQuote(header[i].first) + ":" + JsonQuote(header[i].second);
  json += "},\"tasks\":[";
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    json += i ? ",{" : "{";
    Members(json, tasks[i],
            {{"uid", "UID", 'n'}, {"id", "ID", 'n'}, {"name", "Name", 's'}, {"outline_level", "OutlineLevel", 'n'},
             {"outline_number", "OutlineNumber", 's'}, {"start", "Start", 's'}, {"finish", "Finish", 's'},
             {"duration", "Duration", 's'}, {"milestone", "Milestone", 'b'}, {"summary", "Summary", 'b'},
             {"manual", "Manual", 'b'}, {"active", "Active", 'b'}, {"percent_complete", "PercentComplete", 'n'}});
    json += ",\"resources\":[";
    auto uid = tasks[i].find("UID");
    if (uid != tasks[i].end()) {
      auto names = taskResources.find(uid->second);
      if (names != taskResources.end())
        for (std::size_t k = 0; k < names->second.size(); ++k) json += (k ? "," : "") + JsonQuote(names->second[k]);
    }
    json += "]}";
  }
  json += "],\"resources\":[";
  for (std::size_t i = 0; i < resources.size(); ++i) {
    json += i ? ",{" : "{";
    Members(json, resources[i],
            {{"uid", "UID", 'n'}, {"id", "ID", 'n'}, {"name", "Name", 's'}, {"type", "Type", 'n'},
             {"initials", "Initials", 's'}, {"group", "Group", 's'}});
    json += "}";
  }
  json += "],\"assignments\":[";
  for (std::size_t i = 0; i < assignments.size(); ++i) {
    json += i ? ",{" : "{";
    Members(json, assignments[i],
            {{"uid", "UID", 'n'}, {"task", "TaskUID", 'n'}, {"resource", "ResourceUID", 'n'}, {"work", "Work", 's'}});
    json += "}";
  }
  json += "],\"links\":[";
  for (std::size_t i = 0; i < links.size(); ++i) {
    json += i ? ",{" : "{";
    json += "\"successor\":" + (IsInteger(links[i].successor) ? links[i].successor : std::string("null")) + ",";
    // Type: 0 finish-finish, 1 finish-start, 2 start-finish, 3 start-start;
    // lag in tenths of a minute.
    Members(json, links[i].fields, {{"predecessor", "PredecessorUID", 'n'}, {"type", "Type", 'n'}, {"lag", "LinkLag", 'n'}});
    json += "}";
  }
  json += "]}";
  return true;
}

bool ProjectJsonFromFile(const std::string& path, std::string& json, std::string& error, std::size_t maxBytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + path;
    return false;
  }
  std::string xml;
  char buffer[1 << 16];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    if (xml.size() + static_cast<std::size_t>(in.gcount()) > maxBytes) {
      error = path + " is too large";
      return false;
    }
    xml.append(buffer, static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) {
    error = "cannot read " + path;
    return false;
  }
  return ProjectJsonFromXml(xml, json, error);
}

}  // namespace serve
