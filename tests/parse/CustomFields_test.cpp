// The custom field catalogue and the texts of stored custom values.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <set>
#include <vector>

#include "generate/CustomFieldText.h"
#include "model/CustomFieldCatalog.h"
#include "model/Project.h"
#include "parse/CustomFields.h"

namespace {

using namespace mpp;
using model::CustomFieldKind;
using model::FindCustomField;
using model::FlagFieldId;
using Bytes = std::vector<std::uint8_t>;

platform::ByteView View(const Bytes& bytes) { return platform::ByteView(bytes.data(), bytes.size()); }

template <typename T>
Bytes Of(T value) {
  Bytes bytes(sizeof value);
  std::memcpy(bytes.data(), &value, sizeof value);
  return bytes;
}

std::u16string Text(const Bytes& value, std::uint32_t field) {
  return gen::CustomFieldValueText(View(value), field).value_or(u"<none>");
}

TEST(CustomFieldValueText, OneTextPerKind) {
  EXPECT_EQ(Text(Of(2.5), 0x0B400057), u"2.5");             // Number1, double
  EXPECT_EQ(Text(Of(1.25f), 0x0B400057), u"1.25");          // float
  EXPECT_EQ(Text(Of(0.125), 0x0B400057), u"0.125");         // at full precision
  EXPECT_EQ(Text(Of(123450.0), 0x0B40006A), u"123450");     // Cost1, in hundredths as documents hold it
  EXPECT_EQ(Text(Of(36000u), 0x0B400067), u"PT60H0M0S");    // Duration1
  EXPECT_EQ(Text(Of(std::uint16_t{930}), 0x0B400067), u"PT1H33M0S");
  EXPECT_EQ(Text(Of(std::uint8_t{1}), 0x0B400048), u"1");   // Flag1
  EXPECT_EQ(Text(Of(0x10000u), 0x0B400048), u"65536");
  EXPECT_EQ(Text(Of(std::uint16_t{1}), 0x0C4000C3), u"1");  // resource Flag11 is a flag too
  EXPECT_EQ(Text(Of((9000u << 16) | 4800u), 0x0B400109), u"2008-08-21T08:00:00");  // Date1
  Bytes text = {'A', 0, 'b', 0, 0, 0, 'x', 0, 'y'};
  EXPECT_EQ(Text(text, 0x0B400033), u"Ab");                 // up to the terminator
  EXPECT_EQ(Text({'A', 0, 'b'}, 0x0B4001A0), u"A");         // an odd byte is dropped
}

// The custom flags of a record are bits of its FixedMeta item, at places
// that differ by owner, format and application.
TEST(CustomFlags, EachFlagFromItsOwnBit) {
  struct Case {
    const char* what;
    const CustomFlagBits& bits;
    model::OwnerKind owner;
    unsigned bit;  // counted from bit 0 of byte 0
    std::uint32_t field;
  };
  const Case cases[] = {
      {"task Flag1, versions 9 and 12", kTaskCustomFlags9, model::OwnerKind::Task, 301, 0x0B400048},
      {"task Flag20, versions 9 and 12", kTaskCustomFlags9, model::OwnerKind::Task, 320, FlagFieldId(false, 20)},
      {"task Flag1, 2010", kTaskCustomFlags14, model::OwnerKind::Task, 286, 0x0B400048},
      {"task Flag10, later", kTaskCustomFlags14Later, model::OwnerKind::Task, 202, FlagFieldId(false, 10)},
      {"task Flag11, later", kTaskCustomFlags14Later, model::OwnerKind::Task, 265, 0x0B400124},
      {"resource Flag10 before Flag1", kResourceCustomFlags9, model::OwnerKind::Resource, 229, 0x0C40007E},
      {"resource Flag1", kResourceCustomFlags9, model::OwnerKind::Resource, 230, 0x0C40007F},
      {"resource Flag11, later", kResourceCustomFlags14Later, model::OwnerKind::Resource, 199, 0x0C4000C3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    model::Project gen;
    Bytes item(47, 0);
    item[c.bit / 8] |= static_cast<std::uint8_t>(1u << (c.bit % 8));
    FlagValueKeeper keeper(gen, c.owner);
    EXPECT_EQ(keeper.Keep(7, View(item), c.bits), 1u);
    ASSERT_EQ(gen.customFieldValues.size(), 1u);
    EXPECT_EQ(gen.customFieldValues[0].FieldID, c.field);
    EXPECT_EQ(gen.customFieldValues[0].OwnerUID, 7u);
    EXPECT_EQ(gen::CustomFieldValueText(View(gen.customFieldValues[0].Data), c.field), u"1");
  }
}

}  // namespace
