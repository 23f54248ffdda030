// The version 14 resource reader over fixture streams built record by
// record: the rate tables, the availability periods and what the fixed
// pass takes.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "support/TestRun.h"
#include "parse/RscStorageParser.h"
#include "parse/StreamRecords.h"
#include "support/ProjectFixture.h"

namespace {

using namespace mpp;
using project_fixture::AvailabilityItem;
using project_fixture::ByteVector;
using project_fixture::Bytes;
using project_fixture::FixedItem;
using project_fixture::Int;
using project_fixture::RateItem;
using project_fixture::Real;
using project_fixture::Record;
using project_fixture::Utf16z;
using project_fixture::VarItem;

platform::ByteView View(const ByteVector& bytes) { return platform::ByteView(bytes.data(), bytes.size()); }

const RecordLayout& Resources() { return BuiltInLayout14(RecordKind::Resource); }

RscVarCounts ReadVar(const std::vector<VarItem>& items, model::Project& gen) {
  auto var = project_fixture::BuildVarData(items);
  return ReadResourceVarData(test_support::QuietRun(), View(var.meta), View(var.data), gen);
}

RscFixedCounts ReadFixed(const project_fixture::FixedStreams& fixed, model::Project& gen,
                         std::optional<ByteVector> rows = std::nullopt) {
  return ReadResourceFixedData(test_support::QuietRun(), View(fixed.meta), View(fixed.data),
                               rows ? std::optional(View(*rows)) : std::nullopt, Resources(), gen, nullptr,
                               kResourceBits12);
}

// A Fixed2Meta row with the given flag bits.
ByteVector Row(bool budget, bool cost, bool generic, bool inactive) {
  Bytes row(kFixed2MetaRow);
  row.U8(8, static_cast<std::uint8_t>((budget ? 0x20 : 0) | (cost ? 0x10 : 0)));
  row.U8(35, generic ? 0x08 : 0).U8(48, inactive ? 0x80 : 0);
  return row;
}

// The rate table value as the readers see it: with its length word.
ByteVector Block(const ByteVector& value) {
  Bytes block(4);
  block.U32(0, static_cast<std::uint32_t>(value.size())).Put(4, value);
  return block;
}

constexpr std::uint32_t kDay = 14400;  // tenths of a minute

// --- var data ---------------------------------------------------------

// --- rate tables and availability ------------------------------------------

TEST(RateTables, EntriesRunToTheNextOfTheirOwnTable) {
  model::Project gen;
  const std::uint32_t d1 = 100 * kDay, d2 = 200 * kDay;
  ReadVar({{1, kRscFirstRateType,
            project_fixture::RateTableValue({{0, 10.0, 2, 15.0, 2, 250.0}, {d1, 12.0, 9, 18.0, 3}})},
           {1, kRscFirstRateType + 1, project_fixture::RateTableValue({{0, 50.0}})},
           {2, kRscFirstRateType, project_fixture::RateTableValue({{0, 20.0}, {d2, 22.0}})}},
          gen);
  ASSERT_EQ(gen.rates.size(), 5u);
  const auto& r = gen.rates;
  EXPECT_EQ(r[0].ResourceUID, 1u);
  EXPECT_EQ(r[0].RateTable, 0);
  EXPECT_EQ(r[0].RatesFrom, 0u);
  EXPECT_EQ(r[0].RatesTo, d1);
  EXPECT_EQ(r[0].StandardRate, 10.0);
  EXPECT_EQ(r[0].OvertimeRate, 15.0);
  EXPECT_EQ(r[0].CostPerUse, 2.5);  // stored in hundredths
  EXPECT_EQ(r[1].RatesFrom, d1);
  EXPECT_EQ(r[1].RatesTo, model::kOpenRateEnd);
  EXPECT_EQ(r[1].StandardRateFormat, 2);  // 9 is no format
  EXPECT_EQ(r[1].OvertimeRateFormat, 3);
  EXPECT_EQ(r[2].RateTable, 1);
  EXPECT_EQ(r[2].RatesTo, model::kOpenRateEnd);
  // The next resource's table A does not end the first resource's rates.
  EXPECT_EQ(r[3].ResourceUID, 2u);
  EXPECT_EQ(r[1].RatesTo, model::kOpenRateEnd);
  EXPECT_EQ(r[3].RatesTo, d2);
  EXPECT_EQ(r[4].RatesTo, model::kOpenRateEnd);
  // Rate tables make their resource.
  EXPECT_EQ(gen.Resources().size(), 2u);
}

std::vector<model::SAvailabilityParams> Periods(const std::vector<AvailabilityItem>& items) {
  model::Project gen;
  AvailabilityPeriodsParser(test_support::QuietRun(), View(Block(project_fixture::AvailabilityValue(items))), 3, gen);
  return gen.availability;
}

TEST(Availability, PeriodsRunFromAnOpeningItemToTheNextOpeningOrClosingOne) {
  const std::uint32_t d1 = 10 * kDay, d2 = 20 * kDay, d3 = 30 * kDay;
  auto one = Periods({{d1, 5000, 0xFF}, {d2, 7000, 0xFE}});
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].ResourceUID, 3u);
  EXPECT_EQ(one[0].AvailableFrom, d1);
  EXPECT_EQ(one[0].AvailableTo, d2);
  EXPECT_EQ(one[0].AvailableUnits, 5000);

  auto two = Periods({{d1, 10000, 0xFF}, {d2, 6000, 0xFF}, {7, 1, 0x5A}, {d3, 0, 0xFE}});
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0].AvailableTo, d2);
  EXPECT_EQ(two[1].AvailableFrom, d2);
  EXPECT_EQ(two[1].AvailableTo, d3);
  EXPECT_EQ(two[1].AvailableUnits, 6000);

  EXPECT_TRUE(Periods({{d1, 10000, 0xFF}}).empty());  // left open
  EXPECT_TRUE(Periods({{d1, 10000, 0xFE}}).empty());  // nothing open
  // A zero date on either end drops the period, not the next one.
  auto zero = Periods({{0, 10000, 0xFF}, {d1, 100, 0xFF}, {d2, 0, 0xFE}, {d2, 1, 0xFF}, {0, 0, 0xFE}});
  ASSERT_EQ(zero.size(), 1u);
  EXPECT_EQ(zero[0].AvailableFrom, d1);
}

// --- fixed data ---------------------------------------------------------

TEST(RscFixedData, CompletesTheResourcesOfItsRecords) {
  model::Project gen;
  ReadVar({{1, kRscNameType, Utf16z(u"Work")}, {2, kRscNameType, Utf16z(u"Material")},
           {3, kRscNameType, Utf16z(u"Cost")}},
          gen);
  auto fixed = project_fixture::BuildFixedData(
      RecordKind::Resource,
      {Record(Resources(), {Int(Field::ResourceUID, 1), Int(Field::ResourceID, 4), Int(Field::StandardRateFormat, 9),
                            Int(Field::OvertimeRateFormat, 3), Int(Field::ResourceCalendarUID, 70001),
                            Real(Field::StandardRate, 42.5), Real(Field::OvertimeRate, 60.0),
                            Real(Field::CostPerUse, 1250.0)}),
       Record(Resources(), {Int(Field::ResourceUID, 2), Int(Field::ResourceTypeCode, 1)}),
       Record(Resources(), {Int(Field::ResourceUID, 3), Int(Field::ResourceTypeCode, 1)})});
  // The item bits that do not tell the type on real files change nothing.
  fixed.meta[kFixedMetaHeader + 9] = 0x82;
  const RscFixedCounts counts =
      ReadFixed(fixed, gen,
                project_fixture::BuildFixed2Meta(
                    {Row(true, false, false, true), Row(false, false, true, false), Row(false, true, false, false)}));
  EXPECT_EQ(counts.records, 3u);
  const auto& r = gen.Resources();
  EXPECT_EQ(r[0].ID, 4u);
  EXPECT_EQ(r[0].StandardRateFormat, 9);  // as stored
  EXPECT_EQ(r[0].OvertimeRateFormat, 3);
  EXPECT_EQ(r[0].CalendarUID, 70001u);
  EXPECT_EQ(r[0].StandardRate, 42.5);
  EXPECT_EQ(r[0].OvertimeRate, 60.0);
  EXPECT_EQ(r[0].CostPerUse, 12.5);  // stored in hundredths
  EXPECT_EQ(r[0].Type, 0);
  EXPECT_EQ(r[0].IsCostResource, 0);
  EXPECT_EQ(r[0].IsBudget, 1);
  EXPECT_EQ(r[0].IsInactive, 1);
  EXPECT_EQ(r[0].WorkGroup, 0);
  EXPECT_EQ(r[1].Type, 1);
  EXPECT_EQ(r[1].IsCostResource, 0);
  EXPECT_EQ(r[1].IsGeneric, 1);
  EXPECT_EQ(r[2].Type, 1);
  EXPECT_EQ(r[2].IsCostResource, 1);
}

// Rows are as long as their stream shares out (49 bytes in version 12, 50
// or 51 in 14); version 9 rows hold no flags.
TEST(RscFixedData, RowFlagsFollowTheRowSize) {
  struct Case {
    std::size_t rowSize;
    const ResourceItemBits* bits;
    bool flagsRead;
  };
  const Case cases[] = {{49, &kResourceBits12, true}, {50, &kResourceBits12, true}, {51, &kResourceBits14Later, true},
                        {14, &kResourceBits9, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE("rows of " + std::to_string(c.rowSize));
    model::Project gen;
    std::vector<FixedItem> items;
    Bytes rows(kFixed2MetaHeader);
    for (std::uint32_t uid = 1; uid <= 3; ++uid) {
      items.emplace_back(Record(Resources(), {Int(Field::ResourceUID, uid)}));
      Bytes row(c.rowSize);
      if (uid == 3) row.U8(8, 0x10);  // the cost bit, last row only
      rows.Put(kFixed2MetaHeader + (uid - 1) * c.rowSize, row);
    }
    const auto fixed = project_fixture::BuildFixedData(RecordKind::Resource, items);
    const ByteVector meta2 = rows;
    ReadResourceFixedData(test_support::QuietRun(), View(fixed.meta), View(fixed.data), View(meta2), Resources(),
                          gen, nullptr, *c.bits);
    ASSERT_EQ(gen.Resources().size(), 3u);
    EXPECT_EQ(gen.Resources()[0].IsCostResource, 0);
    EXPECT_EQ(gen.Resources()[1].IsCostResource, 0);
    EXPECT_EQ(gen.Resources()[2].IsCostResource, c.flagsRead ? 1 : 0);
  }
}

// Stored totals reach the model in its units; damaged ones are dropped,
// not turned into zeros. The leveling bit and the GUID come from beside
// the record.
TEST(RscFixedData, TotalsLevelingAndGuid) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    double stored;  // in the record, for units and work alike
    std::optional<double> units, minutes;
  };
  const Case cases[] = {
      {15000.0, 1.5, 15.0},      // 150 %, 15 minutes
      {0.0, 0.0, 0.0},
      {-1e-9, 0.0, 0.0},         // the residue of a difference
      {-5000.0, std::nullopt, std::nullopt},
      {nan, std::nullopt, std::nullopt},
      {1e300, std::nullopt, std::nullopt},
  };
  model::Project gen;
  std::vector<FixedItem> items;
  std::vector<ByteVector> rows;
  Bytes second(0);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto uid = static_cast<std::uint32_t>(i + 1);
    items.emplace_back(Record(Resources(), {Int(Field::ResourceUID, uid), Real(Field::MaxUnits, cases[i].stored),
                                            Real(Field::ResourceWork, cases[i].stored)}));
    if (i % 2 == 0) items.back().metaBytes.push_back({kResourceBits12.canLevel.offset, kResourceBits12.canLevel.mask});
    if (i % 3 == 0)
      items.back().metaBytes.push_back({kResourceBits12.overAllocated.offset, kResourceBits12.overAllocated.mask});
    // Each row points at its second record; the last one past the stream.
    Bytes row(kFixed2MetaRow);
    row.U32(kFixed2Record.rowPosition, i + 1 < std::size(cases) ? static_cast<std::uint32_t>(40 * i) : 5000);
    rows.push_back(row);
    Bytes record(40);
    record.U8(kFixed2Record.guid, static_cast<std::uint8_t>(i));  // the first is all zero: none
    second.Put(40 * i, record);
  }
  const auto fixed = project_fixture::BuildFixedData(RecordKind::Resource, items);
  const ByteVector meta2 = project_fixture::BuildFixed2Meta(rows);
  const ByteVector data2 = second;
  ReadResourceFixedData(test_support::QuietRun(), View(fixed.meta), View(fixed.data), View(meta2), Resources(), gen,
                        nullptr, kResourceBits12, View(data2));
  ASSERT_EQ(gen.Resources().size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE("stored " + std::to_string(cases[i].stored));
    const auto& r = gen.Resources()[i];
    EXPECT_EQ(r.MaxUnits, cases[i].units);
    EXPECT_EQ(r.Work, cases[i].minutes);
    EXPECT_EQ(r.CanLevel, std::optional(i % 2 == 0));
    EXPECT_EQ(r.OverAllocated, std::optional(i % 3 == 0));
    const bool guid = i != 0 && i + 1 < std::size(cases);
    ASSERT_EQ(r.Guid.has_value(), guid);
    if (guid) {
      EXPECT_EQ((*r.Guid)[0], i);
    }
  }
}

}  // namespace
