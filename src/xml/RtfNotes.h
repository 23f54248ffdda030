// Rich-text notes as plain text: a small table-driven reader that keeps the
// characters of the body text, drops destination groups (font and colour
// tables, style sheets, pictures, document information...), turns paragraph
// marks and tabs into line feeds and tabs, and decodes hexadecimal, binary
// and unicode character escapes. Formatting words are recorded in the
// reader's state and have no effect on the text.
//
// Every note is read from a clean state, only up to its first zero byte or
// the end of its bytes; control words, their parameters and the nesting of
// groups are bounded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/ByteView.h"

namespace xml {

enum class RtfResult : int {
  Ok = 0,
  StackUnderflow = 1,   // a '}' without its '{'
  StackOverflow = 2,    // groups nested deeper than kMaxGroupDepth
  UnmatchedBrace = 3,   // the text ends inside an open group
  InvalidHex = 4,       // a bad digit in a \'hh escape
  BadTable = 5,         // an inconsistent keyword table row
  Assertion = 6,        // an impossible input state
  EndOfFile = 7,        // the text ends right after '\' or a parameter's '-'
};

class RtfReader {
 public:
  static constexpr int kMaxGroupDepth = 256;
  // Longer control words are read whole but match nothing.
  static constexpr std::size_t kMaxWordLength = 32;
  // Parameters saturate at +-kMaxParameter.
  static constexpr std::int32_t kMaxParameter = 0x7FFFFFFF;
  // Most characters a \ucN count may skip after a \uN escape.
  static constexpr std::int32_t kMaxUnicodeSkip = 16;

  // Reads one note from a clean state; the characters collected are in Text().
  RtfResult Read(platform::ByteView note);
  const std::u16string& Text() const { return text_; }

  struct CharProps {
    bool bold = false, underline = false, italic = false;
  };
  struct ParaProps {
    std::int32_t leftIndent = 0, rightIndent = 0, firstIndent = 0;
    std::uint8_t justification = 0;
  };
  struct SectProps {
    std::int32_t columns = 0, pageNumberX = 0, pageNumberY = 0;
    std::uint8_t breakType = 0, pageNumberFormat = 0;
  };
  struct DocProps {
    std::int32_t paperWidth = 0, paperHeight = 0, marginLeft = 0, marginRight = 0, marginTop = 0,
                 marginBottom = 0, pageNumberStart = 0;
    bool facingPages = false, landscape = false;
  };

 private:
  enum class Destination : std::uint8_t { Normal, Skip };
  enum class Input : std::uint8_t { Normal, Binary, Hex };

  // What a '{' saves and its '}' restores.
  struct GroupState {
    CharProps chars;
    ParaProps para;
    SectProps sect;
    DocProps doc;
    Destination destination = Destination::Normal;
    Input input = Input::Normal;
    std::int32_t unicodeSkip = 1;
  };

  struct ControlWord {
    char word[kMaxWordLength + 1] = {};
    bool tooLong = false;
    bool hasParameter = false;
    std::int32_t parameter = 0;
  };

  RtfResult ReadControlWord(platform::ByteView note, std::size_t& at);
  RtfResult Dispatch(const ControlWord& word);
  void SetProperty(int property, std::int32_t value);
  void Character(char16_t c);

  GroupState state_;
  std::vector<GroupState> saved_;
  std::int64_t binaryLeft_ = 0;
  std::int32_t pendingSkip_ = 0;
  bool skipUnknown_ = false;
  std::u16string text_;
};

// The plain text of a note, or nothing when it cannot be read. A final
// paragraph mark is dropped: a note's body ends with one.
std::optional<std::u16string> NotesToText(platform::ByteView note);

}  // namespace xml
