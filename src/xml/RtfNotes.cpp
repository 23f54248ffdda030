#include "xml/RtfNotes.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "platform/Text.h"

namespace xml {
namespace {

enum class Kind : std::uint8_t { Character, Destination, Property, Special };

enum Property : int {
  kBold, kUnderline, kItalic,
  kLeftIndent, kRightIndent, kFirstIndent, kJustification,
  kColumns, kBreakType, kPageNumberX, kPageNumberY, kPageNumberFormat,
  kPaperWidth, kPaperHeight, kMarginLeft, kMarginRight, kMarginTop, kMarginBottom,
  kPageNumberStart, kFacingPages, kLandscape,
};

enum Special : int { kBinary, kSkipUnknown, kHex, kUnicode, kUnicodeSkip };

struct Keyword {
  std::string_view word;
  std::int32_t defaultValue;
  bool alwaysDefault;  // the default applies even when a parameter is given
  Kind kind;
  int index;           // character code, property or special action
};

constexpr Keyword kKeywords[] = {
    {"b", 1, false, Kind::Property, kBold},
    {"ul", 1, false, Kind::Property, kUnderline},
    {"i", 1, false, Kind::Property, kItalic},
    {"li", 0, false, Kind::Property, kLeftIndent},
    {"ri", 0, false, Kind::Property, kRightIndent},
    {"fi", 0, false, Kind::Property, kFirstIndent},
    {"cols", 1, false, Kind::Property, kColumns},
    {"sbknone", 0, true, Kind::Property, kBreakType},
    {"sbkcol", 1, true, Kind::Property, kBreakType},
    {"sbkeven", 2, true, Kind::Property, kBreakType},
    {"sbkodd", 3, true, Kind::Property, kBreakType},
    {"sbkpage", 4, true, Kind::Property, kBreakType},
    {"pgnx", 0, false, Kind::Property, kPageNumberX},
    {"pgny", 0, false, Kind::Property, kPageNumberY},
    {"pgndec", 0, true, Kind::Property, kPageNumberFormat},
    {"pgnucrm", 1, true, Kind::Property, kPageNumberFormat},
    {"pgnlcrm", 2, true, Kind::Property, kPageNumberFormat},
    {"pgnucltr", 3, true, Kind::Property, kPageNumberFormat},
    {"pgnlcltr", 4, true, Kind::Property, kPageNumberFormat},
    {"qc", 2, true, Kind::Property, kJustification},
    {"ql", 0, true, Kind::Property, kJustification},
    {"qr", 1, true, Kind::Property, kJustification},
    {"qj", 3, true, Kind::Property, kJustification},
    {"paperw", 12240, false, Kind::Property, kPaperWidth},
    {"paperh", 15480, false, Kind::Property, kPaperHeight},
    {"margl", 1800, false, Kind::Property, kMarginLeft},
    {"margr", 1800, false, Kind::Property, kMarginRight},
    {"margt", 1440, false, Kind::Property, kMarginTop},
    {"margb", 1440, false, Kind::Property, kMarginBottom},
    {"pgnstart", 1, true, Kind::Property, kPageNumberStart},
    {"facingp", 1, true, Kind::Property, kFacingPages},
    {"landscape", 1, true, Kind::Property, kLandscape},

    {"par", 0, false, Kind::Character, '\n'},
    {"tab", 0, false, Kind::Character, '\t'},
    {"ldblquote", 0, false, Kind::Character, '"'},
    {"rdblquote", 0, false, Kind::Character, '"'},
    {"{", 0, false, Kind::Character, '{'},
    {"}", 0, false, Kind::Character, '}'},
    {"\\", 0, false, Kind::Character, '\\'},

    {"bin", 0, false, Kind::Special, kBinary},
    {"*", 0, false, Kind::Special, kSkipUnknown},
    {"'", 0, false, Kind::Special, kHex},
    {"u", 0, false, Kind::Special, kUnicode},
    {"uc", 1, false, Kind::Special, kUnicodeSkip},

    {"author", 0, false, Kind::Destination, 0},
    {"buptim", 0, false, Kind::Destination, 0},
    {"colortbl", 0, false, Kind::Destination, 0},
    {"comment", 0, false, Kind::Destination, 0},
    {"creatim", 0, false, Kind::Destination, 0},
    {"doccomm", 0, false, Kind::Destination, 0},
    {"fonttbl", 0, false, Kind::Destination, 0},
    {"footer", 0, false, Kind::Destination, 0},
    {"footerf", 0, false, Kind::Destination, 0},
    {"footerl", 0, false, Kind::Destination, 0},
    {"footerr", 0, false, Kind::Destination, 0},
    {"footnote", 0, false, Kind::Destination, 0},
    {"ftncn", 0, false, Kind::Destination, 0},
    {"ftnsep", 0, false, Kind::Destination, 0},
    {"ftnsepc", 0, false, Kind::Destination, 0},
    {"header", 0, false, Kind::Destination, 0},
    {"headerf", 0, false, Kind::Destination, 0},
    {"headerl", 0, false, Kind::Destination, 0},
    {"headerr", 0, false, Kind::Destination, 0},
    {"info", 0, false, Kind::Destination, 0},
    {"keywords", 0, false, Kind::Destination, 0},
    {"operator", 0, false, Kind::Destination, 0},
    {"pict", 0, false, Kind::Destination, 0},
    {"printim", 0, false, Kind::Destination, 0},
    {"private1", 0, false, Kind::Destination, 0},
    {"revtim", 0, false, Kind::Destination, 0},
    {"rxe", 0, false, Kind::Destination, 0},
    {"stylesheet", 0, false, Kind::Destination, 0},
    {"subject", 0, false, Kind::Destination, 0},
    {"tc", 0, false, Kind::Destination, 0},
    {"title", 0, false, Kind::Destination, 0},
    {"txe", 0, false, Kind::Destination, 0},
    {"xe", 0, false, Kind::Destination, 0},
};

const Keyword* FindKeyword(std::string_view word) {
  for (const Keyword& keyword : kKeywords)
    if (keyword.word == word) return &keyword;
  return nullptr;
}

bool IsLetter(std::uint8_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }

int HexDigit(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The byte at `at`, or 0 past the end: a note ends at its first zero byte.
std::uint8_t ByteAt(platform::ByteView note, std::size_t at) { return note.u8_at(at).value_or(0); }

// Text bytes are in the ANSI code page.
char16_t Widen(std::uint8_t c) {
  static const std::array<char16_t, 256> table = [] {
    std::array<char16_t, 256> units{};
    for (int b = 0; b < 256; ++b) {
      const char byte = static_cast<char>(b);
      const std::u16string wide = platform::AnsiToUtf16(std::string_view(&byte, 1));
      units[static_cast<std::size_t>(b)] = wide.size() == 1 ? wide[0] : u'?';
    }
    return units;
  }();
  return table[c];
}

}  // namespace

RtfResult RtfReader::Read(platform::ByteView note) {
  state_ = GroupState{};
  saved_.clear();
  binaryLeft_ = 0;
  pendingSkip_ = 0;
  skipUnknown_ = false;
  text_.clear();
  int hexValue = 0;
  int hexDigits = 0;

  for (std::size_t at = 0;;) {
    const std::uint8_t c = ByteAt(note, at);
    if (c == 0) break;
    ++at;
    if (state_.input == Input::Binary) {
      Character(Widen(c));
      continue;
    }
    switch (c) {
      case '{':
        if (saved_.size() >= static_cast<std::size_t>(kMaxGroupDepth)) return RtfResult::StackOverflow;
        saved_.push_back(state_);
        state_.input = Input::Normal;
        pendingSkip_ = 0;
        continue;
      case '}':
        if (saved_.empty()) return RtfResult::StackUnderflow;
        state_ = saved_.back();
        saved_.pop_back();
        pendingSkip_ = 0;
        continue;
      case '\\': {
        if (RtfResult result = ReadControlWord(note, at); result != RtfResult::Ok) return result;
        if (state_.input == Input::Hex) hexValue = 0, hexDigits = 0;
        continue;
      }
      case '\r':
      case '\n':
        continue;
      default:
        break;
    }
    if (state_.input == Input::Normal) {
      Character(Widen(c));
    } else if (state_.input == Input::Hex) {
      const int digit = HexDigit(c);
      if (digit < 0) return RtfResult::InvalidHex;
      hexValue = hexValue * 16 + digit;
      if (++hexDigits == 2) {
        state_.input = Input::Normal;
        Character(Widen(static_cast<std::uint8_t>(hexValue)));
        hexValue = 0;
        hexDigits = 0;
      }
    } else {
      return RtfResult::Assertion;
    }
  }
  return saved_.empty() ? RtfResult::Ok : RtfResult::UnmatchedBrace;
}

RtfResult RtfReader::ReadControlWord(platform::ByteView note, std::size_t& at) {
  ControlWord word;
  std::uint8_t c = ByteAt(note, at);
  if (c == 0) return RtfResult::EndOfFile;
  if (!IsLetter(c)) {
    // A control symbol: the one byte, no parameter.
    word.word[0] = static_cast<char>(c);
    ++at;
    return Dispatch(word);
  }
  std::size_t length = 0;
  for (; IsLetter(c); c = ByteAt(note, ++at)) {
    if (length < kMaxWordLength)
      word.word[length++] = static_cast<char>(c);
    else
      word.tooLong = true;
  }
  bool negative = false;
  if (c == '-') {
    negative = true;
    c = ByteAt(note, ++at);
    if (c == 0) return RtfResult::EndOfFile;
  }
  std::int64_t value = 0;
  for (; IsDigit(c); c = ByteAt(note, ++at)) {
    word.hasParameter = true;
    if (value <= kMaxParameter) value = value * 10 + (c - '0');
  }
  if (value > kMaxParameter) value = kMaxParameter;
  word.parameter = static_cast<std::int32_t>(negative ? -value : value);
  // A blank ends the word and belongs to it; anything else is read again.
  if (c == ' ') ++at;
  return Dispatch(word);
}

RtfResult RtfReader::Dispatch(const ControlWord& control) {
  const Keyword* keyword = control.tooLong ? nullptr : FindKeyword(control.word);
  if (!keyword) {
    if (skipUnknown_) state_.destination = Destination::Skip;
    skipUnknown_ = false;
    return RtfResult::Ok;
  }
  skipUnknown_ = false;
  const bool skipping = state_.destination == Destination::Skip;
  switch (keyword->kind) {
    case Kind::Character:
      Character(static_cast<char16_t>(keyword->index));
      return RtfResult::Ok;
    case Kind::Destination:
      state_.destination = Destination::Skip;
      return RtfResult::Ok;
    case Kind::Property:
      if (!skipping)
        SetProperty(keyword->index, keyword->alwaysDefault || !control.hasParameter ? keyword->defaultValue
                                                                                   : control.parameter);
      return RtfResult::Ok;
    case Kind::Special:
      switch (keyword->index) {
        case kBinary:
          // \bin0 (or \bin alone) announces no binary bytes at all.
          if (control.hasParameter && control.parameter > 0) {
            state_.input = Input::Binary;
            binaryLeft_ = control.parameter;
          }
          return RtfResult::Ok;
        case kHex:
          if (!skipping) state_.input = Input::Hex;
          return RtfResult::Ok;
        case kSkipUnknown:
          if (!skipping) skipUnknown_ = true;
          return RtfResult::Ok;
        case kUnicode:
          if (control.hasParameter) {
            // A signed 16-bit value: negative ones stand for units above 0x7FFF.
            const std::int32_t n = control.parameter;
            const char16_t unit = n >= -32768 && n < 0 ? static_cast<char16_t>(n + 65536)
                                  : n >= 0 && n <= 0xFFFF ? static_cast<char16_t>(n)
                                                          : char16_t{0xFFFD};
            Character(unit);
            pendingSkip_ = state_.unicodeSkip;
          }
          return RtfResult::Ok;
        case kUnicodeSkip:
          state_.unicodeSkip = control.hasParameter && control.parameter >= 0
                                   ? std::min(control.parameter, kMaxUnicodeSkip)
                                   : keyword->defaultValue;
          return RtfResult::Ok;
        default:
          return RtfResult::BadTable;
      }
  }
  return RtfResult::BadTable;
}

void RtfReader::SetProperty(int property, std::int32_t value) {
  auto byte = [value] { return static_cast<std::uint8_t>(value); };
  switch (property) {
    case kBold: state_.chars.bold = value != 0; break;
    case kUnderline: state_.chars.underline = value != 0; break;
    case kItalic: state_.chars.italic = value != 0; break;
    case kLeftIndent: state_.para.leftIndent = value; break;
    case kRightIndent: state_.para.rightIndent = value; break;
    case kFirstIndent: state_.para.firstIndent = value; break;
    case kJustification: state_.para.justification = byte(); break;
    case kColumns: state_.sect.columns = value; break;
    case kBreakType: state_.sect.breakType = byte(); break;
    case kPageNumberX: state_.sect.pageNumberX = value; break;
    case kPageNumberY: state_.sect.pageNumberY = value; break;
    case kPageNumberFormat: state_.sect.pageNumberFormat = byte(); break;
    case kPaperWidth: state_.doc.paperWidth = value; break;
    case kPaperHeight: state_.doc.paperHeight = value; break;
    case kMarginLeft: state_.doc.marginLeft = value; break;
    case kMarginRight: state_.doc.marginRight = value; break;
    case kMarginTop: state_.doc.marginTop = value; break;
    case kMarginBottom: state_.doc.marginBottom = value; break;
    case kPageNumberStart: state_.doc.pageNumberStart = value; break;
    case kFacingPages: state_.doc.facingPages = value != 0; break;
    case kLandscape: state_.doc.landscape = value != 0; break;
    default: break;
  }
}

void RtfReader::Character(char16_t c) {
  if (state_.input == Input::Binary && --binaryLeft_ < 1) state_.input = Input::Normal;
  // The characters that stand in for a \uN escape for older readers.
  if (pendingSkip_ > 0) {
    --pendingSkip_;
    return;
  }
  if (state_.destination == Destination::Normal) text_.push_back(c);
}

std::optional<std::u16string> NotesToText(platform::ByteView note) {
  RtfReader reader;
  if (reader.Read(note) != RtfResult::Ok) return std::nullopt;
  std::u16string text = reader.Text();
  if (!text.empty() && text.back() == u'\n') text.pop_back();
  return text;
}

}  // namespace xml
