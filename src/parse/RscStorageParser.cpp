#include "parse/RscStorageParser.h"

#include <bit>
#include <cmath>
#include <utility>
#include <vector>

#include "model/Validators.h"
#include "parse/Baselines.h"
#include "parse/CustomFields.h"
#include "parse/StreamRecords.h"
#include "parse/VarItems.h"

namespace mpp {

namespace {

using model::SBkndRscParams;

constexpr const char* kStorage = "TBkndRsc";
// Work groups: 0 default, 1 none, 2 e-mail, 3 web.
constexpr std::uint32_t kLastWorkGroup = 3;

std::optional<double> F64At(platform::ByteView bytes, std::size_t offset) {
  if (auto bits = bytes.u64_at(offset)) return std::bit_cast<double>(*bits);
  return std::nullopt;
}

// Money as stored, NaN, infinities and absurd values taken for damage.
double Money(platform::ByteView bytes, std::size_t offset, double scale = 1.0) {
  return model::ClampCost(F64At(bytes, offset).value_or(0.0) / scale);
}

// The items of a structured value end with its own length word and with
// the block, whichever comes first.
std::size_t BlockEnd(platform::ByteView block) {
  const std::uint32_t declared = block.u32_at(0).value_or(0);
  return declared < block.size() ? declared : block.size();
}

// Units are stored in hundredths of a percent, work in thousandths of a
// minute, money in hundredths.
constexpr double kStoredUnitsPerShare = 10000.0;
constexpr double kStoredWorkPerMinute = 1000.0;
// Beyond these a total is taken for damage: a million times full time, and
// about two thousand years of work or 10^12 of a currency.
constexpr double kMostShare = 1000000.0;
constexpr double kMostMinutes = 1e9;
constexpr double kMostMoney = 1e12;

// A total of the record in the model's unit, or none for a field the layout
// lacks and for a damaged value (NaN, infinities, absurd sizes). Negative
// values are damage too, but for the rounding residue that a difference of
// two totals leaves (less than a thousandth of the unit), taken as 0.
std::optional<double> Total(const RecordView& record, Field field, double scale, double most) {
  const auto stored = record.Float(field);
  if (!stored || !std::isfinite(*stored)) return std::nullopt;
  const double value = *stored / scale;
  if (value > most || value < -0.001) return std::nullopt;
  return value < 0.0 ? 0.0 : value;
}

void ReadTotals(const RecordView& record, SBkndRscParams& resource) {
  using F = Field;
  auto units = [&](F field) { return Total(record, field, kStoredUnitsPerShare, kMostShare); };
  auto work = [&](F field) { return Total(record, field, kStoredWorkPerMinute, kMostMinutes); };
  auto money = [&](F field) { return Total(record, field, model::kStoredMoneyScale, kMostMoney); };
  resource.MaxUnits = units(F::MaxUnits);
  resource.PeakUnits = units(F::PeakUnits);
  resource.Work = work(F::ResourceWork);
  resource.RegularWork = work(F::ResourceRegularWork);
  resource.OvertimeWork = work(F::ResourceOvertimeWork);
  resource.ActualWork = work(F::ResourceActualWork);
  resource.RemainingWork = work(F::ResourceRemainingWork);
  resource.ActualOvertimeWork = work(F::ResourceActualOvertimeWork);
  resource.RemainingOvertimeWork = work(F::ResourceRemainingOvertimeWork);
  resource.Cost = money(F::ResourceCost);
  resource.ActualCost = money(F::ResourceActualCost);
  resource.RemainingCost = money(F::ResourceRemainingCost);
  resource.OvertimeCost = money(F::ResourceOvertimeCost);
  resource.ActualOvertimeCost = money(F::ResourceActualOvertimeCost);
  resource.RemainingOvertimeCost = money(F::ResourceRemainingOvertimeCost);
}

bool IsResourceField(std::uint16_t type) {
  switch (type) {
    case kRscNameType:
    case kRscInitialsType:
    case kRscGroupType:
    case kRscCodeType:
    case kRscNotesType:
    case kRscEmailType:
    case kRscAvailabilityType:
    case kRscMaterialLabelType:
    case kRscNTAccountType:
    case kRscCreationDateType:
    case kRscActualWorkProtectedType:
    case kRscActualOvertimeWorkProtectedType:
    case kRscBookingType: return true;
    default: return type >= kRscFirstRateType && type <= kRscLastRateType;
  }
}

SBkndRscParams& ResourceOf(model::Project& gen, std::uint32_t uid) {
  if (SBkndRscParams* resource = gen.FindResource(uid)) return *resource;
  SBkndRscParams resource;
  resource.UID = uid;
  return gen.AppendResource(std::move(resource));
}

// Takes one field item into its resource; rate and availability values
// come with their length word (block).
void TakeField(RunContext& ctx, SBkndRscParams& resource, std::uint16_t type, platform::ByteView value,
               platform::ByteView block, model::Project& gen, RscVarCounts& counts) {
  switch (type) {
    case kRscNameType: resource.Name = model::TextFromItem(value); break;
    case kRscInitialsType: resource.Initials = model::TextFromItem(value); break;
    case kRscGroupType: resource.Group = model::TextFromItem(value); break;
    case kRscCodeType: resource.Code = model::TextFromItem(value); break;
    case kRscNotesType: resource.Notes = model::NoteFromItem(value); break;
    case kRscEmailType: resource.EmailAddress = model::TextFromItem(value); break;
    case kRscMaterialLabelType: resource.MaterialLabel = model::TextFromItem(value); break;
    case kRscNTAccountType: resource.NTAccount = model::TextFromItem(value); break;
    case kRscBookingType: {
      // The first 16 bits, or what there is of them.
      const std::uint32_t stored = value.size() >= 2 ? value.u16_at(0).value_or(0) : value.u8_at(0).value_or(0);
      resource.BookingType = stored != 0 ? 1 : 0;
      break;
    }
    case kRscActualWorkProtectedType:
    case kRscActualOvertimeWorkProtectedType: {
      // Work in thousandths of a minute, as in the record.
      const auto stored = value.u64_at(0);
      const double minutes = stored ? std::bit_cast<double>(*stored) / kStoredWorkPerMinute : -1.0;
      if (!std::isfinite(minutes) || minutes < 0.0 || minutes > kMostMinutes) break;
      (type == kRscActualWorkProtectedType ? resource.ActualWorkProtected : resource.ActualOvertimeWorkProtected) =
          minutes;
      break;
    }
    case kRscCreationDateType:
      if (auto date = value.u32_at(0); date && model::HasDate(*date, true)) resource.CreationDate = *date;
      break;
    case kRscAvailabilityType: counts.periods += AvailabilityPeriodsParser(ctx, block, resource.UID, gen); return;
    default: counts.rates += RateParser(ctx, block, resource.UID, type - kRscFirstRateType, gen); return;
  }
  ++counts.fields;
}

}  // namespace

std::size_t RateParser(RunContext& ctx, platform::ByteView block, std::uint32_t resourceUid, std::uint32_t table,
                       model::Project& gen) {
  try {
    const std::size_t end = BlockEnd(block);
    const std::uint16_t rateTable = model::ValidRateTable(table);
    std::size_t appended = 0;
    model::SRateParams* previous = nullptr;  // the entry before, of this table
    for (std::size_t at = kRateItem.first; at <= end && kRateItem.size <= end - at; at += kRateItem.size) {
      PollBreak(ctx);
      auto item = block.Sub(at, kRateItem.size);
      if (!item) break;
      model::SRateParams rate;
      rate.ResourceUID = resourceUid;
      rate.RateTable = rateTable;
      rate.RatesFrom = item->u32_at(kRateItem.from).value_or(0);
      rate.RatesTo = model::kOpenRateEnd;
      rate.StandardRate = Money(*item, kRateItem.standardRate);
      rate.StandardRateFormat = model::ValidRateFormat(item->u16_at(kRateItem.standardFormat).value_or(2));
      rate.OvertimeRate = Money(*item, kRateItem.overtimeRate);
      rate.OvertimeRateFormat = model::ValidRateFormat(item->u16_at(kRateItem.overtimeFormat).value_or(2));
      rate.CostPerUse = Money(*item, kRateItem.costPerUse, model::kStoredMoneyScale);
      // An entry runs until the next one of its own table starts; entries
      // of another resource or table are not touched.
      if (previous) previous->RatesTo = rate.RatesFrom;
      gen.rates.push_back(rate);
      previous = &gen.rates.back();
      ++appended;
    }
    return appended;
  } catch (...) {
    ctx.log.WriteLine("User break was thrown if RateParser()");
    throw;
  }
}

std::size_t AvailabilityPeriodsParser(RunContext& ctx, platform::ByteView block, std::uint32_t resourceUid,
                                      model::Project& gen) {
  try {
    const std::size_t end = BlockEnd(block);
    std::size_t appended = 0;
    std::optional<model::SAvailabilityParams> open;
    auto close = [&](model::MinuteStamp to) {
      if (open && open->AvailableFrom != 0 && to != 0) {
        open->AvailableTo = to;
        gen.availability.push_back(*open);
        ++appended;
      }
      open.reset();
    };
    for (std::size_t at = kAvailabilityItem.first; at <= end && kAvailabilityItem.size <= end - at;
         at += kAvailabilityItem.size) {
      PollBreak(ctx);
      auto item = block.Sub(at, kAvailabilityItem.size);
      if (!item) break;
      const model::MinuteStamp date = item->u32_at(kAvailabilityItem.date).value_or(0);
      const std::uint8_t marker = item->u8_at(kAvailabilityItem.marker).value_or(0);
      if (marker == kAvailabilityOpens) {
        close(date);
        model::SAvailabilityParams period;
        period.ResourceUID = resourceUid;
        period.AvailableFrom = date;
        const double units = F64At(*item, kAvailabilityItem.units).value_or(0.0);
        period.AvailableUnits = std::isfinite(units) ? units : 0.0;
        open = period;
      } else if (marker == kAvailabilityCloses) {
        close(date);
      }
    }
    return appended;
  } catch (...) {
    ctx.log.WriteLine("User break was thrown if AvailabilityPeriodsParser()");
    throw;
  }
}

RscVarCounts ReadResourceVarData(RunContext& ctx, platform::ByteView varMeta, platform::ByteView var2Data,
                                 model::Project& gen, StreamProgress* progress) {
  RscVarCounts counts;
  const CustomValueKeeper custom(gen, model::OwnerKind::Resource);
  WalkVarItems(ctx, varMeta, var2Data, progress, counts.items, counts.skipped,
               [&](const VarMetaItem& item, platform::ByteView value) {
                 const auto type = static_cast<std::uint16_t>(item.type & 0xFFFF);
                 if (IsResourceField(type)) {
                   // The value with its length word, for the structured values.
                   auto block = var2Data.Sub(item.position, 4 + value.size());
                   TakeField(ctx, ResourceOf(gen, item.owner), type, value, block.value_or(platform::ByteView()), gen,
                             counts);
                 } else if (custom.Keep(item.owner, item.type, value)) {
                   // Values alone make no resource: the value waits for its owner.
                   ++counts.customValues;
                 } else {
                   ++counts.other;
                 }
               });
  return counts;
}

RscFixedCounts ReadResourceFixedData(RunContext& ctx, platform::ByteView fixedMeta, platform::ByteView fixedData,
                                     std::optional<platform::ByteView> fixed2Meta, const RecordLayout& layout,
                                     model::Project& gen, StreamProgress* progress, const ResourceItemBits& bits,
                                     std::optional<platform::ByteView> fixed2Data) {
  using F = Field;
  RscFixedCounts counts;
  FlagValueKeeper flags(gen, model::OwnerKind::Resource);
  std::vector<bool> filled(gen.Resources().size(), false);
  // The rows share their stream out among the FixedMeta items: 49 bytes in
  // version 12, 50 or 51 in version 14.
  constexpr std::size_t kLeastResourceRow = 49;
  const FixedMeta meta(fixedMeta, FixedMetaStride(RecordKind::Resource));
  std::optional<std::size_t> rowSize;
  if (fixed2Meta && bits.row) rowSize = Fixed2MetaRowSize(*fixed2Meta, meta.Count(), kLeastResourceRow);

  // A garbled item stands for the record after the one before where that
  // record is a resource the var data named and no record has filled yet, or
  // for the record its neighbours' UIDs place.
  // The record a cut stream's end cuts through is read as far as it reaches.
  const bool cut = meta.DataCut(fixedData.size());
  RecordOrder order(RecordReach(meta, fixedData.size(), layout.recordSize), layout.recordSize);
  order.PlaceByUids(meta, fixedData, [&](std::uint32_t position) {
    const auto record = RecordAt(fixedData, position, layout, cut);
    return record ? record->Unsigned(F::ResourceUID) : std::nullopt;
  });
  auto namedResourceAt = [&](std::uint32_t position) {
    return NamedUnfilledRecordAt(fixedData, position, layout, F::ResourceUID, gen.ResourceList(), filled, cut);
  };

  auto visit = [&](const FixedMetaItem& listed) {
    const FixedMetaItem item = order.Read(listed, namedResourceAt, counts.standIns);
    if (item.State() == ItemState::Deleted) {
      ++counts.deleted;
      return;
    }
    if (item.State() != ItemState::Live) {
      ++counts.freeSlots;
      return;
    }
    const auto record = RecordAt(fixedData, item.position, layout, cut);
    const auto uid = record ? record->Unsigned(F::ResourceUID) : std::nullopt;
    if (!uid) {
      ++counts.unreadable;
      return;
    }
    std::size_t index = gen.ResourceList().Find(*uid);
    if (index == model::UidIndexedList<SBkndRscParams>::npos) {
      // Its var data is gone (or it never had a name, as the project's own
      // resource 0): the record alone still makes the resource, so that its
      // rates and assignments are not lost with its name.
      ++counts.unknown;
      ResourceOf(gen, *uid);
      index = gen.ResourceList().Find(*uid);
    }
    if (index >= filled.size()) filled.resize(index + 1, false);
    if (filled[index]) {
      ++counts.duplicates;
      return;
    }
    filled[index] = true;
    ++counts.records;
    counts.cutShort += std::uint64_t{item.position} + layout.recordSize > fixedData.size();

    SBkndRscParams& resource = gen.ResourceList().At(index);
    resource.HasFixedRecord = true;
    resource.ID = record->UnsignedOr(F::ResourceID, resource.ID);
    resource.StandardRateFormat =
        static_cast<std::uint16_t>(record->UnsignedOr(F::StandardRateFormat, resource.StandardRateFormat));
    resource.OvertimeRateFormat =
        static_cast<std::uint16_t>(record->UnsignedOr(F::OvertimeRateFormat, resource.OvertimeRateFormat));
    resource.CalendarUID = record->UnsignedOr(F::ResourceCalendarUID, resource.CalendarUID);
    resource.StandardRate = model::ClampCost(record->FloatOr(F::StandardRate, 0.0));
    resource.OvertimeRate = model::ClampCost(record->FloatOr(F::OvertimeRate, 0.0));
    resource.CostPerUse = model::CostFromStored(record->FloatOr(F::CostPerUse, 0.0));
    if (auto accrue = record->Unsigned(F::AccrueAt); accrue && *accrue >= 1 && *accrue <= 3)
      resource.AccrueAt = static_cast<std::uint16_t>(*accrue);
    // The type field: 0 for work resources, else material or cost (the
    // row's cost bit tells those apart).
    const std::uint32_t typeCode = record->UnsignedOr(F::ResourceTypeCode, 0);
    resource.Type = typeCode != 0 ? 1 : 0;
    // The code is the resource's work group as well, in every sample:
    // material and cost resources none (1), work resources the default (0).
    resource.WorkGroup = static_cast<std::uint16_t>(typeCode <= kLastWorkGroup ? typeCode : 0);
    FillFixedBaseline(*record, RecordKind::Resource, resource.Baselines);
    ReadTotals(*record, resource);
    flags.Keep(resource.UID, item.bytes, bits.custom);
    resource.CanLevel = FlagSet(item.bytes, bits.canLevel);
    resource.OverAllocated = FlagSet(item.bytes, bits.overAllocated);
    if (rowSize) {
      if (auto row = Fixed2MetaRow(*fixed2Meta, item.index, *rowSize)) {
        if (fixed2Data) resource.Guid = Fixed2RecordGuid(*row, *fixed2Data);
        resource.IsBudget = FlagSet(*row, bits.row->budget);
        resource.IsCostResource = FlagSet(*row, bits.row->cost);
        resource.IsGeneric = FlagSet(*row, bits.row->generic);
        resource.IsInactive = FlagSet(*row, bits.row->inactive);
      }
    }
  };
  WalkFixedItems(ctx, fixedMeta, RecordKind::Resource, progress, counts.items, visit);
  counts.items += order.VisitLostItems(visit);
  counts.unreadable += order.LostUnplaced();
  counts.countLost = order.CountLost();
  return counts;
}

void RscStorageParser(RunContext& ctx, const platform::CompoundFileReader& reader, platform::ElementId storage,
                      const RecordLayout& layout, model::Project& gen, const VarItemFormat* varFormat,
                      const ResourceItemBits& bits) {
  try {
    {
      LoadedStream var2Data, varMeta;
      if (LoadVarStreams(ctx.log, reader, storage, var2Data, varMeta, varFormat)) {
        StreamProgress progress(ctx, kStorage, "VarData", varMeta.bytes.size(), kVarMetaHeader);
        const RscVarCounts c = ReadResourceVarData(ctx, varMeta.View(), var2Data.View(), gen, &progress);
        ctx.log.WriteFormat(
            "        Resource var data: %zu items, %zu fields, %zu rates, %zu availability periods, "
            "%zu custom values, %zu skipped",
            c.items, c.fields, c.rates, c.periods, c.customValues, c.skipped);
        gen.tally.resources.AddVar(c.items, c.skipped);
      }
    }
    LoadedStream fixedData, fixedMeta, fixed2Meta, fixed2Data;
    if (!LoadStreamPair(ctx.log, reader, storage, u"FixedData", u"FixedMeta", fixedData, fixedMeta, true)) return;
    const bool haveRows = LoadStream(ctx.log, reader, storage, u"Fixed2Meta", fixed2Meta);
    if (!haveRows) LogMissingStream(ctx.log, u"Fixed2Meta");
    // Version 9 files have none; without it the resources have no GUID.
    const bool haveSecond = haveRows && LoadStream(ctx.log, reader, storage, u"Fixed2Data", fixed2Data);
    StreamProgress progress(ctx, kStorage, "FixedData", fixedMeta.bytes.size(), kFixedMetaHeader);
    const RscFixedCounts c = ReadResourceFixedData(ctx, fixedMeta.View(), fixedData.View(),
                                                   haveRows ? std::optional(fixed2Meta.View()) : std::nullopt, layout,
                                                   gen, &progress, bits,
                                                   haveSecond ? std::optional(fixed2Data.View()) : std::nullopt);
    ctx.log.WriteFormat(
        "        Resource fixed data: %zu records, %zu deleted, %zu free slots, %zu unreadable, "
        "%zu without var data, %zu duplicates",
        c.records, c.deleted, c.freeSlots, c.unreadable, c.unknown, c.duplicates);
    if (c.standIns != 0)
      ctx.log.WriteFormat("        Resource fixed data: %zu garbled items read as the records around them place them",
                          c.standIns);
    gen.tally.resources.AddFixed(c.records, c.unreadable, c.standIns);
    gen.tally.resources.countLost |= c.countLost;
    gen.tally.resources.cutShort += c.cutShort;
  } catch (...) {
    ctx.log.WriteLine("User break was thrown if RscStorageParser()");
    throw;
  }
}

}  // namespace mpp
