// The notes reader: what text comes out of rich-text notes, and that
// damaged notes (cut short, unbalanced, absurdly nested or numbered) are
// refused or read within their bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "xml/RtfNotes.h"

namespace {

using xml::NotesToText;
using xml::RtfReader;
using xml::RtfResult;

platform::ByteView View(std::string_view bytes) {
  return platform::ByteView(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// Reads a note from a heap copy of exactly its bytes, with no terminator,
// so that a read past the end is caught by the sanitizers.
struct Read {
  RtfResult result;
  std::u16string text;
};
Read ReadExact(std::string_view note) {
  auto copy = std::make_unique<std::uint8_t[]>(note.size());
  std::copy(note.begin(), note.end(), copy.get());
  RtfReader reader;
  const RtfResult result = reader.Read(platform::ByteView(copy.get(), note.size()));
  return {result, reader.Text()};
}

std::optional<std::u16string> Text(std::string_view note) { return NotesToText(View(note)); }

TEST(RtfNotes, BodyTextWithParagraphsTabsAndQuotes) {
  const std::string note =
      "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fnil\\fcharset0 Arial;}}\r\n"
      "\\viewkind4\\uc1\\pard\\f0\\fs20 Line one\\par\r\nLine two\\par\r\n}";
  EXPECT_EQ(Text(note), u"Line one\nLine two");
  EXPECT_EQ(Text("{\\rtf1 a\\tab b \\ldblquote q\\rdblquote  \\{\\}\\\\}"), u"a\tb \"q\" {}\\");
  // Only a final paragraph mark is dropped.
  EXPECT_EQ(Text("{\\rtf1 Hello}"), u"Hello");
  EXPECT_EQ(Text("{\\rtf1 Hello\\par\\par}"), u"Hello\n");
  EXPECT_EQ(Text(""), u"");
}

TEST(RtfNotes, HexAndUnicodeEscapes) {
  EXPECT_EQ(Text("{\\rtf1 caf\\'e9 \\'80\\'9f}"), u"caf\u00E9 \u20AC\u0178");
  EXPECT_EQ(Text("{\\rtf1 \\'4A\\'4b}"), u"JK");
  // \uN stands for one UTF-16 unit; the \ucN characters after it are its
  // stand-ins for older readers and are skipped.
  EXPECT_EQ(Text("{\\rtf1 \\u1076?\\u-4064?}"), u"\u0434\uF020");
  EXPECT_EQ(Text("{\\rtf1 \\u233\\'e9 x}"), u"\u00E9 x");
  EXPECT_EQ(Text("{\\rtf1\\uc2 \\u1076 ab c}"), u"\u0434 c");
  EXPECT_EQ(Text("{\\rtf1\\uc0 \\u1076 ab}"), u"\u0434ab");
  EXPECT_EQ(Text("{\\rtf1 {\\uc3 x}\\u1076 ab}"), u"x\u0434b");  // \uc ends with its group
  EXPECT_EQ(Text("{\\rtf1 \\u-10179?\\u-8704?}"), (std::u16string{0xD83D, 0xDE00}));
  EXPECT_EQ(Text("{\\rtf1 \\u70000?}"), u"\uFFFD");
  EXPECT_EQ(Text("{\\rtf1 \\ul under\\ulnone}"), u"under");

  EXPECT_EQ(ReadExact("{\\rtf1 \\'zz}").result, RtfResult::InvalidHex);
  EXPECT_EQ(ReadExact("{\\rtf1 \\'e").result, RtfResult::UnmatchedBrace);
}

TEST(RtfNotes, DestinationsAreDropped) {
  EXPECT_EQ(Text("{\\rtf1{\\colortbl;\\red0\\green0\\blue0;}{\\info{\\title T}{\\author A}}Body}"), u"Body");
  EXPECT_EQ(Text("{\\rtf1{\\*\\generator Writer 5;}{\\*\\fonttbl x}Body}"), u"Body");
  // An unknown word without '*' is ignored, and its group's text kept.
  EXPECT_EQ(Text("{\\rtf1{\\unknownword kept}}"), u"kept");
  // Binary data inside a picture is skipped with it, braces and all.
  EXPECT_EQ(Text("{\\rtf1{\\pict\\bin4 }}{\\}x\\bin3 {}\\}"), u"x{}\\");
  EXPECT_EQ(Text("{\\rtf1 \\bin0 y\\bin z}"), u"yz");
}

TEST(RtfNotes, DamagedNotesAreRefusedWithoutReadingPastThem) {
  EXPECT_EQ(ReadExact("{\\rtf1 text").result, RtfResult::UnmatchedBrace);
  EXPECT_EQ(ReadExact("{\\rtf1 text}}").result, RtfResult::StackUnderflow);
  EXPECT_EQ(ReadExact("{\\rtf1 text\\").result, RtfResult::EndOfFile);
  EXPECT_EQ(ReadExact("{\\rtf1 text\\li-").result, RtfResult::EndOfFile);
  EXPECT_EQ(ReadExact("{\\rtf1 text\\li12").result, RtfResult::UnmatchedBrace);
  EXPECT_EQ(ReadExact("{\\rtf1 x\\bin100000 ab").result, RtfResult::UnmatchedBrace);
  EXPECT_EQ(Text("{\\rtf1 text"), std::nullopt);

  // A note ends at its first zero byte.
  const std::string withZero("{\\rtf1 ab}\0garbage}}}", 20);
  EXPECT_EQ(Text(withZero), u"ab");
  const std::string zeroAfterBackslash("{\\rtf1 ab\\\0par}", 15);
  EXPECT_EQ(ReadExact(zeroAfterBackslash).result, RtfResult::EndOfFile);
}

}  // namespace
