// The XML writer: value formats checked against an independent calendar,
// the line layout, and documents built from hostile values, each of which
// must pass xmllint and give back the text that went in.
#include <gtest/gtest.h>
#include <fcntl.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "support/TestRun.h"
#include "FoundationTestSupport.h"
#include "base/LibrarySettings.h"
#include "xml/XmlWriter.h"

namespace {

using foundation_test::ReadBytes;
using foundation_test::ScratchFolder;
using foundation_test::W;
using foundation_test::WriteBytes;
using xml::XmlWriter;
namespace fs = std::filesystem;
namespace chr = std::chrono;

constexpr const char* kXmllint = "/usr/bin/xmllint";

std::string IsoDate(chr::sys_days day) {
  const chr::year_month_day ymd(day);
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
  return text;
}

const chr::sys_days kEpoch = chr::sys_days(chr::year(1984) / 1 / 1);
const chr::sys_days kLast = chr::sys_days(chr::year(2049) / 12 / 31);

// A writer into memory, with the document it has written so far.
struct MemoryWriter {
  test_support::TestRun run;
  xml::StringSink* sink;
  XmlWriter writer;
  MemoryWriter() : MemoryWriter(std::make_unique<xml::StringSink>()) {}
  explicit MemoryWriter(std::unique_ptr<xml::StringSink> owned)
      : sink(owned.get()), writer(run.ctx, std::move(owned)) {}
  const std::string& Text() const { return sink->Text(); }
};

// The value of a one-element document.
std::string ElementOf(const std::function<void(XmlWriter&)>& write) {
  MemoryWriter out;
  write(out.writer);
  std::string text = out.Text();
  const std::size_t open = text.find('>');
  const std::size_t close = text.rfind("</");
  if (open == std::string::npos || close == std::string::npos || close < open) return "<none:" + text + ">";
  return text.substr(open + 1, close - open - 1);
}

// Runs xmllint on a document; the text of the XPath expression's result,
// or nothing when the document is not well-formed.
std::optional<std::string> Xmllint(const std::string& document, const std::string& xpath = "") {
  ScratchFolder folder;
  const fs::path file = folder / "doc.xml";
  const fs::path result = folder / "out.txt";
  WriteBytes(file, document);
  std::string command = std::string(kXmllint) + " --noout";
  if (!xpath.empty()) command = std::string(kXmllint) + " --xpath '" + xpath + "'";
  command += " '" + file.string() + "' > '" + result.string() + "' 2>&1";
  if (std::system(command.c_str()) != 0) return std::nullopt;
  std::string text = ReadBytes(result).value_or("");
  if (!xpath.empty() && !text.empty() && text.back() == '\n') text.pop_back();  // xmllint adds one
  return text;
}

#define SKIP_WITHOUT_XMLLINT()                                                   \
  if (!fs::exists(kXmllint)) GTEST_SKIP() << "xmllint is not installed (" << kXmllint << ")"

TEST(XmlValueFormats, DayNumbersMatchTheCalendarAndStopAt2049) {
  EXPECT_EQ(XmlWriter::FormatDate(0), "1984-01-01");
  EXPECT_EQ(XmlWriter::FormatDate(1), "1984-01-01");
  EXPECT_EQ(XmlWriter::FormatDate(60), "1984-02-29");
  for (std::uint32_t day = 1; day <= 30000; ++day) {
    const chr::sys_days expected = std::min(kEpoch + chr::days(day - 1), kLast);
    ASSERT_EQ(XmlWriter::FormatDate(day), IsoDate(expected)) << "day " << day;
  }
  EXPECT_EQ(XmlWriter::FormatDate(0xFFFFFFFF), "2049-12-31");
}

TEST(XmlValueFormats, DurationsTimesAndPackedDates) {
  auto element = [](auto write) { return ElementOf(write); };
  EXPECT_EQ(element([](XmlWriter& w) { w.WriteDurationSecXML("Work", 605); }), "PT1H0M30S");
  EXPECT_EQ(element([](XmlWriter& w) { w.WriteTimeXML("FromTime", 4800); }), "08:00:00");
  EXPECT_EQ(element([](XmlWriter& w) { w.WriteTimeXML("ToTime", 14400); }), "00:00:00");
  EXPECT_EQ(element([](XmlWriter& w) { w.WriteDateTime14XML("Start", 1u << 16); }), "1984-01-01T00:00:00");
  EXPECT_EQ(element([](XmlWriter& w) { w.WriteDateTime14XML("Start", (367u << 16) | 13790); }),
            "1985-01-01T22:59:00");

  // No date: nothing at all, and -3.
  MemoryWriter none;
  EXPECT_EQ(none.writer.WriteDateTime14XML("Start", xml::kNoDate), -3);
  EXPECT_EQ(none.Text(), "");
}

// A document with one element per value, each read back through xmllint.
class XmlHostileValues : public ::testing::Test {
 protected:
  void SetUp() override { SKIP_WITHOUT_XMLLINT(); }

  // Writes the value under tag into a document, checks the document, and
  // gives back the element's text as an XML reader sees it.
  std::string RoundTrip(const char* tag, const std::function<void(XmlWriter&)>& write) {
    MemoryWriter out;
    out.writer.Write_hXML("?xml version=\"1.0\" encoding=\"UTF-8\"?", nullptr, nullptr);
    out.writer.Write_hXML("Project", nullptr, nullptr);
    write(out.writer);
    out.writer.Write_hXML(nullptr, nullptr, "Project");
    EXPECT_TRUE(Xmllint(out.Text())) << out.Text();
    return Xmllint(out.Text(), std::string("string(/Project/") + tag + ")").value_or("<ill-formed>");
  }
  std::string Value(const char* tag, const char* value) {
    return RoundTrip(tag, [&](XmlWriter& w) { w.Write_hXML(tag, value, tag); });
  }
};

TEST_F(XmlHostileValues, MarkupGoesIntoCDataOrIsEscaped) {
  EXPECT_EQ(ElementOf([](XmlWriter& w) { w.Write_hXML("Group", "a<b", "Group"); }), "<![CDATA[a<b]]>");
  EXPECT_EQ(ElementOf([](XmlWriter& w) { w.Write_hXML("Name", "a&amp;b", "Name"); }), "a&amp;b");
  EXPECT_EQ(Value("Group", "a<b & c>d"), "a<b & c>d");
  EXPECT_EQ(Value("Group", "x]]>y]]>"), "x]]>y]]>");
  EXPECT_EQ(Value("Group", "CDATA says a<b & c"), "CDATA says a<b & c");
  EXPECT_EQ(Value("Group", "<![CDATA[kept as given]]>"), "kept as given");
  EXPECT_EQ(Value("Group", "<![CDATA[a]]>b]]>"), "<![CDATA[a]]>b]]>");
  // Names arrive escaped; what their writer missed is escaped here.
  EXPECT_EQ(Value("Name", "A &amp; B &lt;1&gt; &#233;"), "A & B <1> \xC3\xA9");
  EXPECT_EQ(Value("Name", "a<b & c &bogus; &#0; &#x110000;"), "a<b & c &bogus; &#0; &#x110000;");
  EXPECT_EQ(Value("Name", "<![CDATA[x]]>"), "<![CDATA[x]]>");
}

TEST_F(XmlHostileValues, ForbiddenCharactersBecomeReplacements) {
  const std::string r = "\xEF\xBF\xBD";
  EXPECT_EQ(Value("Group", "a\x01" "b\x1F" "c\td"), "a" + r + "b" + r + "c\td");
  EXPECT_EQ(Value("Group", "bad \xFF\xC3 utf8 \xED\xA0\x80"), "bad " + r + r + " utf8 " + r + r + r);
  EXPECT_EQ(Value("Group", "\xEF\xBF\xBE\xEF\xBF\xBF ok \xF0\x9F\x98\x80"), r + r + " ok \xF0\x9F\x98\x80");

  std::u16string name{u'a', 0xD800, u'\n', 0xFFFF, 0xDE00, u'b'};
  EXPECT_EQ(RoundTrip("Name", [&](XmlWriter& w) { w.WriteNameXML("Name", name); }), "a" + r + "!" + r + r + "b");
  EXPECT_EQ(name[2], u'!');  // replaced in the caller's own string
  std::u16string alias = u"x<y\u00E9";
  EXPECT_EQ(RoundTrip("Alias", [&](XmlWriter& w) { w.WriteNameXML("Alias", alias); }), "x<y\xC3\xA9");
  EXPECT_EQ(RoundTrip("Name", [](XmlWriter& w) { w.WriteNameXML("Name", {}); }), "UnknownName");
}

TEST(XmlOutputFile, IsCreatedAtItsPathAndNeverOverwritten) {
  ScratchFolder folder;
  const fs::path xmlFile = folder / "plan.xml";
  {
    XmlWriter writer(test_support::QuietRun(), W(xmlFile));
    EXPECT_EQ(writer.OpenResult(), 0);
    EXPECT_EQ(writer.XmlPath(), W(xmlFile));
    writer.WriteRawXML("UID", "7");
    EXPECT_EQ(writer.CloseXMLFile(), 0);
    EXPECT_EQ(writer.CloseXMLFile(), 0);
    writer.WriteRawXML("UID", "8");  // after closing: dropped
  }
  EXPECT_EQ(ReadBytes(xmlFile), "<UID>7</UID>\r\n");

  XmlWriter again(test_support::QuietRun(), W(xmlFile));
  EXPECT_EQ(again.OpenResult(), -5);
  again.WriteRawXML("UID", "9");
  EXPECT_EQ(again.CloseXMLFile(), -5);
  EXPECT_EQ(ReadBytes(xmlFile), "<UID>7</UID>\r\n");

  // A symbolic link in the file's place is not followed.
  const fs::path target = folder / "target.txt";
  WriteBytes(target, "keep");
  fs::create_symlink(target, folder / "link.xml");
  EXPECT_EQ(XmlWriter(test_support::QuietRun(), W(folder / "link.xml")).OpenResult(), -5);
  EXPECT_EQ(ReadBytes(target), "keep");
}

}  // namespace
