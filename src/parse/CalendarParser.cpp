#include "parse/CalendarParser.h"

#include <algorithm>
#include <bit>
#include <utility>
#include <vector>

#include "parse/StreamRecords.h"
#include "parse/VarItems.h"

namespace mpp {

namespace {

using model::SCalendar;
using model::SWeekDay;

constexpr const char* kStorage = "TBkndCal";
// Base calendars derive from nothing in practice; a longer chain is damage.
constexpr std::size_t kMaxBaseDepth = 8;

const std::vector<SWeekDay>& DefaultWeek() {
  static const std::vector<SWeekDay> week = model::DefaultWorkingWeek();
  return week;
}

SCalendar& CalendarOf(model::Project& gen, std::uint32_t uid, bool* created = nullptr) {
  if (SCalendar* calendar = gen.FindCalendar(uid)) return *calendar;
  if (created) *created = true;
  SCalendar calendar;
  calendar.UID = uid;
  return gen.AppendCalendar(std::move(calendar));
}

// The text of a name of length bytes at offset, cut to what is there.
std::u16string NameAt(platform::ByteView bytes, std::size_t offset, std::size_t length) {
  const std::size_t available = offset <= bytes.size() ? bytes.size() - offset : 0;
  auto name = bytes.Sub(offset, std::min({length, kMaxCalendarNameBytes, available}));
  return name ? model::TextFromItem(*name) : std::u16string();
}

std::optional<std::vector<SWeekDay>> ReadWeek(platform::ByteView bytes, std::size_t offset) {
  std::vector<SWeekDay> week;
  week.reserve(kWeekDays);
  for (std::size_t d = 0; d < kWeekDays; ++d) {
    auto day = ReadDayRecord(bytes, offset + d * kDayRecord.size);
    if (!day) return std::nullopt;
    week.push_back(std::move(*day));
  }
  return week;
}

std::uint32_t DateAt(std::uint16_t day, std::uint32_t time) { return (static_cast<std::uint32_t>(day) << 16) | time; }

// The day of index d that calendar works by: its own, unless it says
// "from the base", then its base calendar's, down the chain; the default
// week's where the chain ends.
const SWeekDay& ResolvedDay(const model::Project& gen, const SCalendar& calendar, std::size_t d) {
  const SCalendar* current = &calendar;
  for (std::size_t depth = 0; current && depth < kMaxBaseDepth; ++depth) {
    if (current->WeekDays.size() == kWeekDays && current->WeekDays[d].DayFlag != kDayFromBase)
      return current->WeekDays[d];
    current = BaseCalendarOf(gen, *current);
  }
  return DefaultWeek()[d];
}

std::vector<SWeekDay> ResolvedWeek(const model::Project& gen, const SCalendar& calendar) {
  std::vector<SWeekDay> week;
  week.reserve(kWeekDays);
  for (std::size_t d = 0; d < kWeekDays; ++d) week.push_back(ResolvedDay(gen, calendar, d));
  return week;
}

}  // namespace

std::optional<SWeekDay> ReadDayRecord(platform::ByteView bytes, std::size_t offset) {
  auto record = bytes.Sub(offset, kDayRecord.size);
  if (!record) return std::nullopt;
  SWeekDay day;
  day.DayFlag = std::bit_cast<std::int16_t>(record->u16_at(kDayRecord.flag).value_or(0));
  // The hours of such a day are elsewhere; what the record holds is noise.
  if (day.DayFlag == kDayFromBase) return day;
  const std::size_t count = std::min<std::size_t>(record->u16_at(kDayRecord.count).value_or(0), kDayRecord.maxPeriods);
  day.WorkingTotal = record->u16_at(kDayRecord.total).value_or(0);
  for (std::size_t p = 0; p < count; ++p) {
    model::SWorkingPeriod period;
    period.Start = record->u16_at(kDayRecord.starts + 2 * p).value_or(0);
    period.Length = record->u32_at(kDayRecord.lengths + 4 * p).value_or(0) & 0xFFFF;
    period.End = period.Start + period.Length;
    period.Extra = record->u32_at(kDayRecord.extras + 4 * p).value_or(0);
    day.Periods.push_back(period);
  }
  day.PeriodCount = static_cast<std::uint16_t>(day.Periods.size());
  return day;
}

int ReadWeekData(RunContext& ctx, platform::ByteView value, SCalendar& calendar, model::Project& gen) {
  auto week = ReadWeek(value, 0);
  if (!week) return -2;
  // A second week data item replaces the first.
  calendar.WeekDays = std::move(*week);

  std::size_t at = kWeekDaysSize;
  const auto exceptions = value.u32_at(at);
  if (!exceptions) return 0;
  at += 4;
  // Every record takes at least kExceptionRecord.name bytes, so the walk
  // ends with the value whatever the count says.
  for (std::uint32_t k = 0; k < *exceptions; ++k) {
    PollBreak(ctx);
    auto record = value.Sub(at, value.size() - std::min(at, value.size()));
    if (!record || record->size() < kExceptionRecord.minSize) return -2;
    const std::uint32_t nameLength = record->u32_at(kExceptionRecord.nameLength).value_or(0);
    if (nameLength > record->size() - kExceptionRecord.name) return -2;
    model::SCalendarException exception;
    exception.CalendarUID = calendar.UID;
    exception.FromDate = DateAt(record->u16_at(kExceptionRecord.firstDay).value_or(0), 0);
    exception.ToDate = DateAt(record->u16_at(kExceptionRecord.lastDay).value_or(0), kEndOfDay);
    exception.Value4 = record->u32_at(kExceptionRecord.value4).value_or(0);
    exception.Value8 = record->u32_at(kExceptionRecord.value8).value_or(0);
    exception.Flag = record->u16_at(kExceptionRecord.flag).value_or(0) & 1;
    exception.Value76 = record->u8_at(kExceptionRecord.value76).value_or(0);
    exception.Value77 = record->u8_at(kExceptionRecord.value77).value_or(0);
    exception.Value78 = record->u16_at(kExceptionRecord.value78).value_or(0);
    exception.Recurrence = record->u16_at(kExceptionRecord.recurrence).value_or(1);
    exception.Occurrences = record->u16_at(kExceptionRecord.occurrences).value_or(0);
    exception.Day = ReadDayRecord(*record, kExceptionRecord.day).value_or(SWeekDay{});
    exception.Name = NameAt(*record, kExceptionRecord.name, nameLength);
    gen.calendarExceptions.push_back(std::move(exception));
    at += kExceptionRecord.name + nameLength;
    // Names of an odd number of units are followed by two bytes of padding.
    if (at % kExceptionRecord.alignment != 0) at += kExceptionRecord.alignment - at % kExceptionRecord.alignment;
  }

  const auto workWeeks = value.u32_at(at);
  if (!workWeeks) return 0;
  at += 4;
  for (std::uint32_t k = 0; k < *workWeeks; ++k) {
    PollBreak(ctx);
    auto record = value.Sub(at, value.size() - std::min(at, value.size()));
    if (!record || record->size() < kWorkWeekRecord.minSize) return -2;
    auto days = ReadWeek(*record, 0);
    if (!days) return -2;
    model::SWorkWeek workWeek;
    workWeek.CalendarUID = calendar.UID;
    workWeek.FromDate = DateAt(record->u16_at(kWorkWeekRecord.fromDay).value_or(0), 0);
    workWeek.ToDate = DateAt(record->u16_at(kWorkWeekRecord.toDay).value_or(0), kEndOfDay);
    const std::uint16_t nameLength = record->u16_at(kWorkWeekRecord.nameLength).value_or(0);
    workWeek.Name = NameAt(*record, kWorkWeekRecord.name, nameLength);
    workWeek.WeekDays = std::move(*days);
    gen.workWeeks.push_back(std::move(workWeek));
    at += kWorkWeekRecord.nameAfter + nameLength;
  }
  return 0;
}

int ReadWeekData9(RunContext& ctx, platform::ByteView value, SCalendar& calendar, model::Project& gen) {
  const WeekData9Layout& l = kWeekData9;
  auto week = ReadWeek(value, l.week);
  if (!week) return -2;
  calendar.WeekDays = std::move(*week);
  const std::uint16_t count = value.u16_at(l.exceptionCount).value_or(0);
  for (std::size_t k = 0; k < count; ++k) {
    PollBreak(ctx);
    auto block = value.Sub(l.exceptions + k * l.exceptionSize, l.exceptionSize);
    if (!block) return -2;
    model::SCalendarException exception;
    exception.CalendarUID = calendar.UID;
    exception.FromDate = DateAt(block->u16_at(l.firstDay).value_or(0), 0);
    exception.ToDate = DateAt(block->u16_at(l.lastDay).value_or(0), kEndOfDay);
    exception.Day = ReadDayRecord(*block, l.day).value_or(SWeekDay{});
    gen.calendarExceptions.push_back(std::move(exception));
  }
  return 0;
}

CalendarVarCounts ReadCalendarVarData(RunContext& ctx, platform::ByteView varMeta, platform::ByteView var2Data,
                                      model::Project& gen, StreamProgress* progress, bool version9) {
  CalendarVarCounts counts;
  WalkVarItems(
      ctx, varMeta, var2Data, progress, counts.items, counts.skipped,
      [&](const VarMetaItem& item, platform::ByteView value) {
        SCalendar& calendar = CalendarOf(gen, item.owner);
        switch (item.type & 0xFFFF) {
          case kCalendarNameType:
            calendar.Name = model::TextFromItem(value);
            ++counts.names;
            break;
          case kCalendarWeekType:
            ++counts.weeks;
            if ((version9 ? ReadWeekData9(ctx, value, calendar, gen) : ReadWeekData(ctx, value, calendar, gen)) != 0)
              ++counts.malformed;
            break;
          default: break;
        }
      });
  return counts;
}

CalendarFixedCounts ReadCalendarFixedData(RunContext& ctx, platform::ByteView fixedMeta, platform::ByteView fixedData,
                                          const RecordLayout& layout, model::Project& gen, StreamProgress* progress,
                                          platform::ByteView fixed2Meta, platform::ByteView fixed2Data,
                                          const CalendarItemFlags& flags) {
  CalendarFixedCounts counts;
  // Calendar rows are 9 (2010 application) or 10 bytes long.
  const std::optional<std::size_t> rowSize =
      Fixed2MetaRowSize(fixed2Meta, FixedMeta(fixedMeta, FixedMetaStride(RecordKind::Calendar)).Count(), 9);
  WalkFixedItems(ctx, fixedMeta, RecordKind::Calendar, progress, counts.items, [&](const FixedMetaItem& item) {
    // Byte 0 = 2 marks no deleted calendar; 4 and 6 are free slots.
    if (item.State() == ItemState::Blank || item.State() == ItemState::DeletedBlank) {
      ++counts.freeSlots;
      return;
    }
    const auto record = RecordAt(fixedData, item.position, layout);
    const auto uid = record ? record->Unsigned(Field::CalendarUID) : std::nullopt;
    if (!uid) {
      ++counts.unreadable;
      return;
    }
    bool created = false;
    SCalendar& calendar = CalendarOf(gen, *uid, &created);
    counts.created += created;
    ++counts.records;
    calendar.IsBaseCalendar = FlagSet(item.bytes, flags.base);
    calendar.IsBaselineCalendar = flags.baseline && FlagSet(item.bytes, *flags.baseline);
    // Both are signed: 0xFFFFFFFF stands for none.
    calendar.BaseCalendarUID =
        std::bit_cast<std::int32_t>(record->UnsignedOr(Field::BaseCalendarUID, 0xFFFFFFFF));
    calendar.ResourceUID = std::bit_cast<std::int32_t>(record->UnsignedOr(Field::CalendarResourceUID, 0));
    if (const auto row = rowSize ? Fixed2MetaRow(fixed2Meta, item.index, *rowSize) : std::nullopt)
      calendar.Guid = Fixed2RecordGuid(*row, fixed2Data);
  });
  return counts;
}

const SCalendar* BaseCalendarOf(const model::Project& gen, const SCalendar& calendar) {
  if (calendar.BaseCalendarUID < 0) return nullptr;
  const SCalendar* base = gen.CalendarByUid(static_cast<std::uint32_t>(calendar.BaseCalendarUID));
  return base == &calendar || (base && base->UID == calendar.UID) ? nullptr : base;
}

void ApplyDefaultWeeks(RunContext& ctx, model::Project& gen) {
  for (SCalendar& calendar : gen.calendars) {
    PollBreak(ctx);
    if (BaseCalendarOf(gen, calendar)) continue;
    calendar.WeekDays = ResolvedWeek(gen, calendar);
  }
}

void InheritBaseDays(RunContext& ctx, model::Project& gen) {
  for (SCalendar& calendar : gen.calendars) {
    PollBreak(ctx);
    if (!BaseCalendarOf(gen, calendar)) continue;
    calendar.WeekDays = ResolvedWeek(gen, calendar);
  }
}

void CalendarParser(RunContext& ctx, const platform::CompoundFileReader& reader, platform::ElementId storage,
                    const RecordLayout& layout, model::Project& gen, const VarItemFormat* varFormat,
                    const CalendarItemFlags& flags) {
  try {
    {
      LoadedStream var2Data, varMeta;
      if (LoadVarStreams(ctx.log, reader, storage, var2Data, varMeta, varFormat)) {
        StreamProgress progress(ctx, kStorage, "VarData", varMeta.bytes.size(), kVarMetaHeader);
        // Only version 9 files come with a format for their var items.
        const CalendarVarCounts c =
            ReadCalendarVarData(ctx, varMeta.View(), var2Data.View(), gen, &progress, varFormat != nullptr);
        ctx.log.WriteFormat("        Calendar var data: %zu items, %zu names, %zu weeks (%zu cut short), %zu skipped",
                            c.items, c.names, c.weeks, c.malformed, c.skipped);
        gen.tally.calendars.AddVar(c.items, c.skipped);
      }
    }
    {
      LoadedStream fixedData, fixedMeta, fixed2Meta, fixed2Data;
      if (LoadStreamPair(ctx.log, reader, storage, u"FixedData", u"FixedMeta", fixedData, fixedMeta)) {
        StreamProgress progress(ctx, kStorage, "FixedData", fixedMeta.bytes.size(), kFixedMetaHeader);
        // Version 14 files keep the calendars' GUIDs in second records.
        const bool second = LoadStream(ctx.log, reader, storage, u"Fixed2Meta", fixed2Meta) &&
                            LoadStream(ctx.log, reader, storage, u"Fixed2Data", fixed2Data);
        const CalendarFixedCounts c =
            ReadCalendarFixedData(ctx, fixedMeta.View(), fixedData.View(), layout, gen, &progress,
                                  second ? fixed2Meta.View() : platform::ByteView(),
                                  second ? fixed2Data.View() : platform::ByteView(), flags);
        ctx.log.WriteFormat(
            "        Calendar fixed data: %zu records, %zu free slots, %zu unreadable, "
            "%zu calendars without var data",
            c.records, c.freeSlots, c.unreadable, c.created);
        gen.tally.calendars.AddFixed(c.records, c.unreadable);
      }
    }
    ApplyDefaultWeeks(ctx, gen);
    InheritBaseDays(ctx, gen);
  } catch (...) {
    ctx.log.WriteLine("User break was thrown if CalendarParser()");
    throw;
  }
}

}  // namespace mpp
