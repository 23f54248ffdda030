#include "xml/XmlEscape.h"

#include <array>
#include <cstdint>

#include "platform/Text.h"

namespace xml {
namespace {

constexpr std::string_view kCDataOpen = "<![CDATA[";
constexpr std::string_view kCDataClose = "]]>";

bool IsPlainAscii(std::string_view text) {
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x7F || (b < 0x20 && b != '\t' && b != '\n' && b != '\r')) return false;
  }
  return true;
}

bool IsAllowedUnit(char16_t u) {
  if (u < 0x20) return u == u'\t' || u == u'\n' || u == u'\r';
  return u != 0xFFFE && u != 0xFFFF;
}

bool IsAllowedCodePoint(std::uint32_t cp) {
  if (cp < 0x20) return cp == '\t' || cp == '\n' || cp == '\r';
  if (cp < 0xD800) return true;
  if (cp < 0xE000) return false;
  if (cp < 0x10000) return cp != 0xFFFE && cp != 0xFFFF;
  return cp <= 0x10FFFF;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Length of the valid reference starting at text[at] == '&', or 0.
std::size_t ReferenceLength(std::string_view text, std::size_t at) {
  constexpr std::array<std::string_view, 5> kNamed = {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"};
  const std::string_view rest = text.substr(at);
  for (std::string_view named : kNamed)
    if (rest.starts_with(named)) return named.size();
  if (!rest.starts_with("&#")) return 0;
  // Eight digits reach past the last code point, so longer ones are refused.
  constexpr std::size_t kMaxDigits = 8;
  const bool hex = rest.size() > 2 && rest[2] == 'x';
  std::size_t i = hex ? 3 : 2;
  const std::size_t first = i;
  std::uint32_t value = 0;
  for (; i < rest.size() && i - first < kMaxDigits; ++i) {
    const int digit = hex ? HexValue(rest[i]) : (IsDigit(rest[i]) ? rest[i] - '0' : -1);
    if (digit < 0) break;
    value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
  }
  if (i == first || i >= rest.size() || rest[i] != ';' || !IsAllowedCodePoint(value)) return 0;
  return i + 1;
}

}  // namespace

std::string CleanXmlText(std::string_view utf8) {
  if (IsPlainAscii(utf8)) return std::string(utf8);
  std::u16string wide = platform::Utf8ToUtf16(utf8);
  for (char16_t& u : wide)
    if (!IsAllowedUnit(u)) u = 0xFFFD;
  return platform::Utf16ToUtf8(wide);
}

bool HasMarkup(std::string_view text) { return text.find_first_of("<>&") != std::string_view::npos; }

std::string CDataSection(std::string_view text) {
  std::string out(kCDataOpen);
  out.reserve(text.size() + 16);
  for (std::size_t at = 0;;) {
    const std::size_t end = text.find(kCDataClose, at);
    if (end == std::string_view::npos) {
      out.append(text.substr(at));
      break;
    }
    // "]]" closes this section, ">" opens the next one.
    out.append(text.substr(at, end + 2 - at));
    out.append(kCDataClose);
    out.append(kCDataOpen);
    at = end + 2;
  }
  out.append(kCDataClose);
  return out;
}

bool IsSingleCDataSection(std::string_view text) {
  if (text.size() < kCDataOpen.size() + kCDataClose.size()) return false;
  if (!text.starts_with(kCDataOpen) || !text.ends_with(kCDataClose)) return false;
  return text.find(kCDataClose, kCDataOpen.size()) == text.size() - kCDataClose.size();
}

std::string CompleteEscapes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '&') {
      const std::size_t length = ReferenceLength(text, i);
      if (length > 0) {
        out.append(text.substr(i, length));
        i += length - 1;
      } else {
        out.append("&amp;");
      }
    } else if (c == '<') {
      out.append("&lt;");
    } else if (c == '>') {
      out.append("&gt;");
    } else {
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace xml
