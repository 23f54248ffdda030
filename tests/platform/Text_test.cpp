// Conversions between UTF-16 (interface, model), UTF-8 (XML, file names) and
// Windows-1252 (inner texts, log).
#include <gtest/gtest.h>

#include <string>

#include "platform/Text.h"

namespace {

using platform::AnsiToUtf16;
using platform::Utf16ToAnsi;
using platform::Utf16ToUtf8;
using platform::Utf8ToAnsi;
using platform::Utf8ToUtf16;

const std::string kReplacementUtf8 = "\xEF\xBF\xBD";

TEST(Text, Utf16AndUtf8AgreeAcrossEncodingLengths) {
  struct Case {
    std::u16string wide;
    std::string utf8;
  };
  const Case cases[] = {
      {u"", ""},
      {u"plan 7", "plan 7"},
      {u"\u007F\u0080", "\x7F\xC2\x80"},
      {u"\u00E9t\u00E9", "\xC3\xA9t\xC3\xA9"},
      {u"\u07FF\u0800", "\xDF\xBF\xE0\xA0\x80"},
      {u"\u20AC 5", "\xE2\x82\xAC 5"},
      {u"\uFFFF", "\xEF\xBF\xBF"},
      {u"\U00010000", "\xF0\x90\x80\x80"},
      {u"a\U0001F600b", "a\xF0\x9F\x98\x80" "b"},
      {u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf16ToUtf8(c.wide), c.utf8) << c.utf8;
    EXPECT_EQ(Utf8ToUtf16(c.utf8), c.wide) << c.utf8;
  }
  // A pair is one character, not two halves.
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x98\x80"), (std::u16string{0xD83D, 0xDE00}));
}

TEST(Text, IllFormedUtf8BecomesReplacementAndSparesItsNeighbours) {
  // One replacement for a byte that can never start a character.
  EXPECT_EQ(Utf8ToUtf16("a\x80" "b"), u"a\uFFFDb");
  EXPECT_EQ(Utf8ToUtf16("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(Utf8ToUtf16("a\xC3"), u"a\uFFFD");

  // Overlong forms, encoded surrogates and values beyond U+10FFFF never
  // decode to the character they spell, and nothing valid after them is lost.
  const std::string illFormed[] = {
      "\xC0\xAF",          // overlong '/'
      "\xE0\x80\xAF",      // overlong '/'
      "\xF0\x80\x80\xAF",  // overlong '/'
      "\xED\xA0\x80",      // U+D800
      "\xF4\x90\x80\x80",  // U+110000
      "\xE2\x82",          // cut-off euro sign
      "\xF8\x88\x80\x80\x80",
  };
  for (const std::string& bad : illFormed) {
    std::u16string wide = Utf8ToUtf16("<" + bad + ">");
    ASSERT_GE(wide.size(), 3u) << bad;
    EXPECT_EQ(wide.front(), u'<') << bad;
    EXPECT_EQ(wide.back(), u'>') << bad;
    std::u16string middle = wide.substr(1, wide.size() - 2);
    EXPECT_FALSE(middle.empty());
    for (char16_t unit : middle) {
      EXPECT_EQ(unit, 0xFFFD) << bad;
    }
    // What comes out is well-formed and survives a round trip.
    EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(wide)), wide) << bad;
  }
}

TEST(Text, Windows1252HighBytesRoundTrip) {
  // The code page's own characters in 0x80..0x9F.
  EXPECT_EQ(AnsiToUtf16("\x80"), u"\u20AC");
  EXPECT_EQ(AnsiToUtf16("\x8A"), u"\u0160");
  EXPECT_EQ(AnsiToUtf16("\x99"), u"\u2122");
  EXPECT_EQ(AnsiToUtf16("\x9F"), u"\u0178");
  EXPECT_EQ(AnsiToUtf16("\xE9"), u"\u00E9");
  EXPECT_EQ(Utf16ToAnsi(u"\u20AC \u2026 \u0153"), "\x80 \x85 \x9C");

  for (int byte = 0x01; byte <= 0xFF; ++byte) {
    const std::string ansi(1, static_cast<char>(byte));
    const std::u16string wide = AnsiToUtf16(ansi);
    ASSERT_EQ(wide.size(), 1u) << byte;
    EXPECT_EQ(Utf16ToAnsi(wide), ansi) << byte;
    EXPECT_EQ(Utf8ToAnsi(Utf16ToUtf8(wide)), ansi) << byte;
  }
}

}  // namespace
