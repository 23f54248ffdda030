// The project's own properties from the Props items and from the summary
// property sets, whole and damaged: a value that cannot be read stays
// empty, and the values around it are still read.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/TestRun.h"
#include "base/Date.h"
#include "parse/ProjectProperties.h"
#include "parse/PropertySet.h"
#include "support/ProjectFixture.h"

namespace {

using project_fixture::ByteVector;
using project_fixture::Bytes;
using project_fixture::PropsEntry;
using project_fixture::Utf16z;

platform::ByteView View(const ByteVector& bytes) { return platform::ByteView(bytes.data(), bytes.size()); }

model::PackedDate Packed(int year, int month, int day, int hour, int minute) {
  const auto number = static_cast<std::uint32_t>(CDate(day, month, year).DayNumber());
  return (number << 16) | static_cast<std::uint32_t>((hour * 60 + minute) * 10);
}

// 100 ns ticks since 1601-01-01; 139887 days lie between 1601 and 1984.
std::uint64_t FileTimeOf(int year, int month, int day, int hour, int minute, int second) {
  const std::int64_t days = CDate(day, month, year).DayNumber() - 1 + 139887;
  return static_cast<std::uint64_t>(((days * 1440 + hour * 60 + minute) * 60 + second)) * 10000000ull;
}

// Property-set values: the type word and its padding, then the value,
// padded to four bytes.
ByteVector Typed(std::uint16_t type, const ByteVector& value) {
  Bytes out;
  out.U16(0, type).Put(4, value);
  ByteVector bytes = out;
  bytes.resize((bytes.size() + 3) / 4 * 4, 0);
  return bytes;
}
ByteVector Lpstr(const std::string& bytes, bool terminated = true) {
  Bytes out;
  out.U32(0, static_cast<std::uint32_t>(bytes.size() + terminated)).Put(4, ByteVector(bytes.begin(), bytes.end()));
  ByteVector value = out;
  if (terminated) value.push_back(0);
  return Typed(mpp::kVtLpstr, value);
}
ByteVector Lpwstr(std::u16string_view text) {
  Bytes out;
  out.U32(0, static_cast<std::uint32_t>(text.size() + 1)).Put(4, Utf16z(text));
  return Typed(mpp::kVtLpwstr, out);
}
ByteVector FileTime(std::uint64_t ticks) {
  Bytes out;
  out.U32(0, static_cast<std::uint32_t>(ticks)).U32(4, static_cast<std::uint32_t>(ticks >> 32));
  return Typed(mpp::kVtFiletime, out);
}
ByteVector CodePage(std::uint16_t page) { return Typed(mpp::kVtI2, Bytes().U16(0, page)); }

struct Property {
  std::uint32_t id = 0;
  ByteVector value;
};

// A property-set stream of one section of format; count overrides the
// number of properties the section says it has.
ByteVector PropertySet(const mpp::FormatId& format, const std::vector<Property>& properties,
                       std::optional<std::uint32_t> count = std::nullopt) {
  Bytes section;
  std::size_t at = 8 + 8 * properties.size();
  for (std::size_t i = 0; i < properties.size(); ++i) {
    section.U32(8 + 8 * i, properties[i].id).U32(12 + 8 * i, static_cast<std::uint32_t>(at));
    section.Put(at, properties[i].value);
    at += properties[i].value.size();
  }
  section.U32(0, static_cast<std::uint32_t>(at)).U32(4, count.value_or(static_cast<std::uint32_t>(properties.size())));
  Bytes out;
  out.U16(0, 0xFFFE).U16(2, 0).U32(4, 0x00020006).U32(24, 1);
  out.Put(28, ByteVector(format.begin(), format.end())).U32(44, 48).Put(48, section);
  return out;
}

struct Expected {
  std::u16string title, author, company;
  std::optional<model::PackedDate> created, lastSaved;
};

TEST(SummaryProperties, ReadsWhatCanBeReadAndLeavesTheRestEmpty) {
  const auto created = FileTimeOf(2010, 1, 4, 9, 12, 30);
  const ByteVector company = PropertySet(mpp::kDocSummaryInformationId, {{mpp::kPropCompany, Lpstr("Acme")}});
  ByteVector cut = PropertySet(mpp::kSummaryInformationId,
                               {{mpp::kPropAuthor, Lpstr("Ann")}, {mpp::kPropTitle, Lpstr("A long title")}});
  cut.resize(cut.size() - 8);
  ByteVector wrongOrder = PropertySet(mpp::kSummaryInformationId, {{mpp::kPropTitle, Lpstr("T")}});
  wrongOrder[0] = 0xFF;
  struct Case {
    const char* name;
    ByteVector summary, docSummary;
    Expected expected;
  };
  const std::vector<Case> cases = {
      {"Windows-1252 texts, times to the minute",
       PropertySet(mpp::kSummaryInformationId, {{mpp::kPropCodePage, CodePage(1252)},
                                                {mpp::kPropTitle, Lpstr("B\xFCro")},
                                                {mpp::kPropAuthor, Lpstr("Ann")},
                                                {mpp::kPropCreated, FileTime(created)},
                                                {mpp::kPropLastSaved, FileTime(FileTimeOf(2049, 12, 31, 23, 59, 59))}}),
       company,
       {u"B\u00FCro", u"Ann", u"Acme", Packed(2010, 1, 4, 9, 12), Packed(2049, 12, 31, 23, 59)}},
      {"UTF-8, UTF-16 and wide texts",
       PropertySet(mpp::kSummaryInformationId, {{mpp::kPropCodePage, CodePage(65001)},
                                                {mpp::kPropTitle, Lpstr("B\xC3\xBCro")},
                                                {mpp::kPropAuthor, Lpwstr(u"\u0410\u043D\u043D")}}),
       PropertySet(mpp::kDocSummaryInformationId,
                   {{mpp::kPropCodePage, CodePage(1200)},
                    {mpp::kPropCompany, Typed(mpp::kVtLpstr, Bytes().U32(0, 6).Put(4, Utf16z(u"\u00C9l")))}}),
       {u"B\u00FCro", u"\u0410\u043D\u043D", u"\u00C9l", {}, {}}},
      {"texts without terminator, of another type, or past the section",
       PropertySet(mpp::kSummaryInformationId, {{mpp::kPropTitle, Lpstr("Plan", false)},
                                                {mpp::kPropAuthor, Typed(mpp::kVtI4, Bytes().U32(0, 7))},
                                                {mpp::kPropCreated, Lpstr("2010")},
                                                {mpp::kPropLastSaved, FileTime(created)}}),
       PropertySet(mpp::kDocSummaryInformationId, {{mpp::kPropCompany, Lpwstr(u"Acme")}}, 0x7FFFFFFF),
       {u"", u"", u"Acme", {}, Packed(2010, 1, 4, 9, 12)}},
      {"a stream cut inside its last value", cut, {}, {u"", u"Ann", u"", {}, {}}},
      {"not a property set", wrongOrder, ByteVector(3, 0xFE), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    model::SProjectProps props;
    mpp::ReadSummaryProperties(View(c.summary), View(c.docSummary), props);
    EXPECT_EQ(props.Title, c.expected.title);
    EXPECT_EQ(props.Author, c.expected.author);
    EXPECT_EQ(props.Company, c.expected.company);
    EXPECT_EQ(props.CreationDate, c.expected.created);
    EXPECT_EQ(props.LastSaved, c.expected.lastSaved);
  }
}

ByteVector U16(std::uint16_t value) { return Bytes().U16(0, value); }
ByteVector U32(std::uint32_t value) { return Bytes().U32(0, value); }

TEST(ProjectItems, ReadsEachKeyAndRejectsWhatIsOutOfRange) {
  const model::PackedDate start = Packed(2010, 1, 4, 8, 0);
  ByteVector cutLast = project_fixture::BuildProps({{0x02400008, Utf16z(u"Move")}, {0x0240000C, Utf16z(u"Ann")}});
  cutLast.resize(cutLast.size() - 2);
  using Check = std::function<void(const model::SProjectProps&)>;
  struct Case {
    const char* name;
    ByteVector stream;
    Check check;
  };
  const std::vector<Case> cases = {
      {"a value of each kind",
       project_fixture::BuildProps({{0x02400002, U32(start)}, {0x02400004, U16(0)}, {0x0240000E, Utf16z(u"Std")},
                                    {0x02400011, U16(3)}, {0x0240001E, U32(2250)}, {0x024013BB, Utf16z(u"GBP")},
                                    {0x0240001B, U16(1)}, {0x02400032, U16(0)}, {0x00400002, U32(0xBC)},
                                    {0x024013C8, U16(1)}}),
       [&](const model::SProjectProps& p) {
         EXPECT_EQ(p.Autolink, true);
         EXPECT_EQ(p.NewTasksEffortDriven, false);
         EXPECT_EQ(p.ActualsInSync, true);
         EXPECT_EQ(p.NewTasksAreManual, true);
         EXPECT_EQ(p.StartDate, start);
         EXPECT_EQ(p.ScheduleFromStart, false);
         EXPECT_EQ(p.CalendarName, u"Std");
         EXPECT_EQ(p.CurrencySymbolPosition, 3);
         EXPECT_EQ(p.MinutesPerWeek, 2250u);
         EXPECT_EQ(p.CurrencyCode, u"GBP");
       }},
      {"numbers out of range or cut short",
       project_fixture::BuildProps({{0x02400004, U16(2)}, {0x02400025, U16(7)}, {0x0240001D, U32(1441)},
                                    {0x0240001E, U16(2400)}, {0x0240138F, ByteVector{20}}, {0x0240001B, U16(2)}}),
       [](const model::SProjectProps& p) {
         EXPECT_FALSE(p.ScheduleFromStart || p.WeekStartDay || p.MinutesPerDay || p.MinutesPerWeek ||
                      p.DaysPerMonth || p.Autolink);
       }},
      {"a text without terminator; the first item of a key decides",
       project_fixture::BuildProps({{0x02400008, ByteVector{'M', 0, 'o', 0}}, {0x02400008, Utf16z(u"Later")},
                                    {0x0240000C, Utf16z(u"Ann")}, {0x0240000C, Utf16z(u"Bob")}}),
       [](const model::SProjectProps& p) {
         EXPECT_EQ(p.Title, u"");
         EXPECT_EQ(p.Author, u"Ann");
       }},
      {"the last item cut", cutLast,
       [](const model::SProjectProps& p) {
         EXPECT_EQ(p.Title, u"Move");
         EXPECT_EQ(p.Author, u"");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    model::SProjectProps props;
    mpp::ReadProjectItems(View(c.stream), props);
    c.check(props);
  }
}

}  // namespace
