// Outline code values: the storage's texts and parents, and the indexes
// tasks and resources keep, resolved into values.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "model/Project.h"
#include "parse/OutlineCodes.h"
#include "support/TestRun.h"

namespace {

using namespace mpp;
using Bytes = std::vector<std::uint8_t>;

void Put(Bytes& b, std::size_t at, std::uint32_t v, std::size_t width) {
  if (b.size() < at + width) b.resize(at + width, 0);
  for (std::size_t i = 0; i < width; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A table: 1 "OC1A" top, 2 "OC1B" under 1, 3 "Free" top, 5 loops with 6,
// 7 under 8, which has no text.
OutlineCodeTable Sample() {
  OutlineCodeTable t;
  t.SetText(1, u"OC1A");
  t.SetText(2, u"OC1B");
  t.SetParent(2, 1);
  t.SetText(3, u"Free");
  t.SetText(5, u"X");
  t.SetParent(5, 6);
  t.SetText(6, u"Y");
  t.SetParent(6, 5);
  t.SetText(7, u"Z");
  t.SetParent(7, 8);
  return t;
}

TEST(OutlineCodeTable, ValuesWithAndWithoutParents) {
  const OutlineCodeTable t = Sample();
  struct Case {
    std::uint32_t index;
    bool withParents;
    const char16_t* expected;  // null: no value
  } cases[] = {
      {1, true, u"OC1A"},  {2, true, u"OC1A.OC1B"}, {2, false, u"OC1B"}, {3, true, u"Free"},
      {4, true, nullptr},  // no such index
      {5, true, nullptr},  // a loop of parents
      {7, true, nullptr},  // a parent without text
      {7, false, u"Z"},
  };
  for (const Case& c : cases) {
    auto value = t.Value(c.index, c.withParents);
    if (c.expected) {
      ASSERT_TRUE(value) << c.index;
      EXPECT_EQ(*value, c.expected) << c.index;
    } else {
      EXPECT_FALSE(value) << c.index;
    }
  }
}

TEST(OutlineCodeValues, IndexesResolvedPerVersionUnknownOnesDropped) {
  const OutlineCodeTable t = Sample();
  const std::uint32_t task1 = 0x0B4001A1, task2 = 0x0B4001A3, res1 = 0x0C400117;
  auto v12 = [](std::uint16_t flags, std::uint32_t index) {
    Bytes b(26, 0);
    Put(b, 0, flags, 2);
    Put(b, 2, index, 4);
    return b;
  };
  auto v9 = [](std::uint32_t index) {
    Bytes b;
    Put(b, 0, index, 4);
    return b;
  };
  struct Case {
    int version;
    std::uint32_t field;
    Bytes data;
    const char16_t* expected;
  } cases[] = {
      {12, task1, v12(0x0700, 2), u"OC1A.OC1B"},  // a value-list item with its parent
      {14, task2, v12(0x0401, 2), u"OC1B"},       // a free code: the text as it stands
      {12, res1, v12(0x0700, 1), u"OC1A"},
      {9, task1, v9(2), u"OC1B"},                 // version 9: the text of the index
      {12, task1, v12(0x0700, 4), nullptr},       // an index the storage lacks
      {12, task1, Bytes{0x00, 0x07}, nullptr},    // a cut value
  };
  for (const Case& c : cases) {
    model::Project project;
    project.customFieldValues.push_back({.OwnerUID = 1, .FieldID = 0x0B400033, .Data = {0x41, 0, 0, 0}});
    project.customFieldValues.push_back({.OwnerUID = 1, .FieldID = c.field, .Data = c.data});
    ResolveOutlineCodeValues(test_support::QuietRun(), t, c.version, project);
    const auto& values = project.customFieldValues;
    ASSERT_EQ(values.front().FieldID, 0x0B400033u);  // other fields are left as they are
    if (!c.expected) {
      EXPECT_EQ(values.size(), 1u);
      continue;
    }
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[1].FieldID, c.field - 1);  // the outline code's own field
    std::u16string text;
    for (std::size_t i = 0; i + 1 < values[1].Data.size(); i += 2)
      text.push_back(static_cast<char16_t>(values[1].Data[i] | values[1].Data[i + 1] << 8));
    EXPECT_EQ(text, std::u16string(c.expected) + u'\0');
  }
}

TEST(OutlineCodeLayout, FileMapElseKnownLayout) {
  // Props: 16-byte header, one map item of two fixed-data entries.
  auto props = [](std::uint32_t parentField) {
    Bytes b(16, 0);
    const std::size_t item = b.size();
    Put(b, item, 2 * 28, 4);
    Put(b, item + 4, 0x03000019, 4);
    std::size_t e = item + 12;
    for (auto [offset, field] : {std::pair{4u, 0x16400001u}, std::pair{10u, parentField}}) {
      Put(b, e + 4, offset, 4);
      Put(b, e + 8, 0x0A, 4);
      Put(b, e + 12, field, 4);
      Put(b, e + 24, 0, 4);
      e += 28;
    }
    return b;
  };
  const Bytes mapped = props(0x1640000D), unmapped = props(0x16400099);
  struct Case {
    const Bytes* props;
    bool later;
    std::uint32_t parentAt;
  } cases[] = {{&mapped, false, 10}, {&unmapped, false, 8}, {&unmapped, true, 10}};
  for (const Case& c : cases) {
    const OutlineCodeLayout layout =
        OutlineCodeLayoutOf(platform::ByteView(c.props->data(), c.props->size()), c.later);
    EXPECT_EQ(layout.indexAt, 4u);
    EXPECT_EQ(layout.parentAt, c.parentAt);
  }
}

TEST(OutlineCodeFields, OnlyTheIndexFieldsOfOutlineCodes) {
  EXPECT_TRUE(IsOutlineCodeIndexField(0x0B4001A1));
  EXPECT_TRUE(IsOutlineCodeIndexField(0x0B4001B3));  // Outline Code10 of tasks
  EXPECT_TRUE(IsOutlineCodeIndexField(0x0C400129));  // Outline Code10 of resources
  EXPECT_FALSE(IsOutlineCodeIndexField(0x0B4001A0));
  EXPECT_FALSE(IsOutlineCodeIndexField(0x0B400035));  // after Text1, which is no outline code
}

}  // namespace
