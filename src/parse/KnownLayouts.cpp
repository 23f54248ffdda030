#include "parse/KnownLayouts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unordered_set>

#include "model/Records.h"
#include "parse/StreamRecords.h"

namespace mpp {
namespace {

using E = Encoding;
using F = Field;
using Source = RecordLayout::Source;

// The layouts besides the built-in ones (T206, R188, C12a, A110a, L20a).
const RecordLayout kT264{RecordKind::Task, Source::BuiltIn, 264, 48, {
    {F::TaskUID, 0, E::U32},         {F::TaskID, 4, E::U32},
    {F::Finish, 8, E::Date},         {F::Stop, 16, E::Date},
    {F::Resume, 20, E::Date},        {F::ParentUID, 36, E::U32},
    {F::OutlineLevel, 40, E::U16},   {F::Duration, 60, E::U32},
    {F::DurationFormat, 64, E::U16}, {F::ActualDuration, 66, E::U32},
    {F::RemainingDuration, 70, E::U32}, {F::ConstraintType, 80, E::U16},
    {F::ActualStart, 96, E::Date},   {F::ActualFinish, 100, E::Date},
    {F::ConstraintDate, 112, E::Date}, {F::Priority, 120, E::U16},
    {F::PercentComplete, 122, E::U16}, {F::PercentWorkComplete, 124, E::U16},
    {F::TaskType, 126, E::U16},      {F::CreateDate, 130, E::Date},
    {F::Start, 148, E::Date},        {F::TaskCalendarUID, 160, E::U32},
    {F::Deadline, 164, E::Date},     {F::Work, 168, E::F64},
    {F::ActualWork, 184, E::F64},    {F::RemainingWork, 192, E::F64},
    {F::Cost, 200, E::F64},          {F::ActualCost, 216, E::F64},
    {F::RemainingCost, 224, E::F64},
    // Fixed cost, late dates, slack and leveling delay.
    {F::FixedCost, 208, E::F64},     {F::FixedCostAccrual, 128, E::U16},
    {F::LateStart, 12, E::Date},     {F::LateFinish, 152, E::Date},
    {F::FreeSlack, 24, E::I32},      {F::StartSlack, 28, E::I32},
    {F::FinishSlack, 32, E::I32},    {F::LevelingDelay, 82, E::U32},
    {F::LevelingDelayFormat, 86, E::U16},
    // Baseline 0.
    {F::TaskBaselineStart, 104, E::Date}, {F::TaskBaselineFinish, 108, E::Date},
    {F::TaskBaselineDuration, 74, E::U32}, {F::TaskBaselineWork, 176, E::F64},
    {F::TaskBaselineCost, 232, E::F64},
}};

const RecordLayout kT202{RecordKind::Task, Source::BuiltIn, 202, 48, {
    {F::TaskUID, 4, E::U32},         {F::TaskID, 0, E::U32},
    {F::Finish, 108, E::Date},       {F::Stop, 136, E::Date},
    {F::Resume, 132, E::Date},       {F::ParentUID, 142, E::U32},
    {F::OutlineLevel, 172, E::U16},  {F::Duration, 84, E::U32},
    {F::DurationFormat, 164, E::U16}, {F::ActualDuration, 80, E::U32},
    {F::RemainingDuration, 88, E::U32}, {F::ConstraintType, 64, E::U16},
    {F::ActualStart, 120, E::Date},  {F::ActualFinish, 124, E::Date},
    {F::ConstraintDate, 66, E::Date}, {F::Priority, 78, E::U16},
    {F::PercentComplete, 92, E::U16}, {F::PercentWorkComplete, 94, E::U16},
    {F::TaskType, 140, E::U16},      {F::CreateDate, 128, E::Date},
    {F::Start, 104, E::Date},        {F::TaskCalendarUID, 178, E::U32},
    {F::Deadline, 182, E::Date},     {F::Work, 8, E::F64},
    {F::ActualWork, 16, E::F64},     {F::RemainingWork, 24, E::F64},
    {F::Cost, 32, E::F64},           {F::ActualCost, 40, E::F64},
    {F::RemainingCost, 56, E::F64},
    // Fixed cost, late dates, slack and leveling delay.
    {F::FixedCost, 48, E::F64},      {F::FixedCostAccrual, 166, E::U16},
    {F::LateStart, 112, E::Date},    {F::LateFinish, 116, E::Date},
    {F::FreeSlack, 74, E::I32},      {F::StartSlack, 186, E::I32},
    {F::FinishSlack, 190, E::I32},   {F::LevelingDelay, 70, E::U32},
    {F::LevelingDelayFormat, 162, E::U16},
}};

const RecordLayout kR172a{RecordKind::Resource, Source::BuiltIn, 172, 48, {
    {F::ResourceUID, 0, E::U32},        {F::ResourceID, 4, E::U32},
    {F::StandardRateFormat, 8, E::U16}, {F::OvertimeRateFormat, 10, E::U16},
    {F::ResourceTypeCode, 14, E::U16},  {F::ResourceCalendarUID, 16, E::U32},
    {F::StandardRate, 28, E::F64},      {F::OvertimeRate, 36, E::F64},
    {F::CostPerUse, 76, E::F64},
    {F::AccrueAt, 12, E::U16},
    // Totals.
    {F::MaxUnits, 44, E::F64},            {F::PeakUnits, 116, E::F64},
    {F::ResourceWork, 52, E::F64},        {F::ResourceRegularWork, 92, E::F64},
    {F::ResourceOvertimeWork, 68, E::F64}, {F::ResourceActualWork, 60, E::F64},
    {F::ResourceRemainingWork, 84, E::F64}, {F::ResourceActualOvertimeWork, 100, E::F64},
    {F::ResourceRemainingOvertimeWork, 108, E::F64},
    {F::ResourceCost, 132, E::F64},       {F::ResourceActualCost, 124, E::F64},
    {F::ResourceRemainingCost, 140, E::F64}, {F::ResourceOvertimeCost, 148, E::F64},
    {F::ResourceActualOvertimeCost, 156, E::F64}, {F::ResourceRemainingOvertimeCost, 164, E::F64},
}};

const RecordLayout kR172b{RecordKind::Resource, Source::BuiltIn, 172, 48, {
    {F::ResourceUID, 4, E::U32},          {F::ResourceID, 0, E::U32},
    {F::StandardRateFormat, 166, E::U16}, {F::OvertimeRateFormat, 168, E::U16},
    {F::ResourceTypeCode, 170, E::U16},   {F::ResourceCalendarUID, 154, E::U32},
    {F::StandardRate, 16, E::F64},        {F::OvertimeRate, 24, E::F64},
    {F::CostPerUse, 72, E::F64},
    {F::AccrueAt, 80, E::U16},
    // Totals.
    {F::MaxUnits, 8, E::F64},             {F::PeakUnits, 98, E::F64},
    {F::ResourceWork, 48, E::F64},        {F::ResourceRegularWork, 106, E::F64},
    {F::ResourceOvertimeWork, 64, E::F64}, {F::ResourceActualWork, 56, E::F64},
    {F::ResourceRemainingWork, 90, E::F64}, {F::ResourceActualOvertimeWork, 114, E::F64},
    {F::ResourceRemainingOvertimeWork, 122, E::F64},
    {F::ResourceCost, 40, E::F64},        {F::ResourceActualCost, 32, E::F64},
    {F::ResourceRemainingCost, 82, E::F64}, {F::ResourceOvertimeCost, 130, E::F64},
    {F::ResourceActualOvertimeCost, 138, E::F64}, {F::ResourceRemainingOvertimeCost, 146, E::F64},
}};

const RecordLayout kA142{RecordKind::Assignment, Source::BuiltIn, 142, 0, {
    {F::AssignmentUID, 0, E::U32},          {F::AssignmentTaskUID, 4, E::U32},
    {F::AssignmentResourceUID, 8, E::U32},  {F::AssignmentStart, 12, E::Date},
    {F::AssignmentFinish, 16, E::Date},     {F::Units, 54, E::F64},
    {F::AssignmentWork, 62, E::F64},        {F::AssignmentActualWork, 70, E::F64},
    {F::AssignmentCost, 102, E::F64},       {F::AssignmentActualCost, 110, E::F64},
    {F::AssignmentRemainingCost, 118, E::F64},
    // Baseline 0.
    {F::AssignmentBaselineStart, 36, E::Date}, {F::AssignmentBaselineFinish, 40, E::Date},
    {F::AssignmentBaselineWork, 94, E::F64},   {F::AssignmentBaselineCost, 126, E::F64},
    // Delays, rate table, regular and remaining work, stop and resume.
    {F::AssignmentDelay, 24, E::U32},          {F::AssignmentDelayFormat, 28, E::U16},
    {F::AssignmentLevelingDelay, 30, E::U32},  {F::AssignmentCostRateTable, 34, E::U16},
    {F::AssignmentRegularWork, 78, E::F64},    {F::AssignmentRemainingWork, 86, E::F64},
    {F::AssignmentStop, 44, E::Date},          {F::AssignmentResume, 20, E::Date},
}};

const RecordLayout kA110b{RecordKind::Assignment, Source::BuiltIn, 110, 0, {
    {F::AssignmentUID, 0, E::U32},          {F::AssignmentTaskUID, 4, E::U32},
    {F::AssignmentResourceUID, 8, E::U32},  {F::AssignmentStart, 52, E::Date},
    {F::AssignmentFinish, 56, E::Date},     {F::Units, 12, E::F64},
    {F::AssignmentWork, 20, E::F64},        {F::AssignmentActualWork, 28, E::F64},
    {F::AssignmentCost, 68, E::F64},        {F::AssignmentActualCost, 76, E::F64},
    {F::AssignmentRemainingCost, 84, E::F64},
    // Delays, rate table, regular and remaining work, stop and resume.
    {F::AssignmentDelay, 64, E::U32},          {F::AssignmentDelayFormat, 92, E::U16},
    {F::AssignmentLevelingDelay, 100, E::U32}, {F::AssignmentCostRateTable, 94, E::U16},
    {F::AssignmentRegularWork, 36, E::F64},    {F::AssignmentRemainingWork, 44, E::F64},
    {F::AssignmentStop, 104, E::Date},         {F::AssignmentResume, 60, E::Date},
}};

const RecordLayout kL20b{RecordKind::Link, Source::BuiltIn, 20, 0, {
    {F::LinkUID, 0, E::U32},  {F::PredecessorUID, 4, E::U32}, {F::SuccessorUID, 8, E::U32},
    {F::LinkType, 12, E::U16}, {F::LagFormat, 18, E::U16},    {F::Lag, 14, E::I32},
}};

const RecordLayout kC12b{RecordKind::Calendar, Source::BuiltIn, 12, 64, {
    {F::CalendarUID, 8, E::U32}, {F::BaseCalendarUID, 0, E::U32}, {F::CalendarResourceUID, 4, E::U32},
}};

// UIDs and IDs beyond this are taken for noise (the largest in the samples
// are below 150,000).
constexpr std::uint32_t kMaxPlausibleUid = 0x01000000;
// The last day a date may fall on: 2049-12-31.
constexpr std::uint32_t kLastDay = 24107;
constexpr std::uint32_t kTenthsPerDay = 14400;
constexpr std::uint32_t kMaxPlausibleOutlineLevel = 100;

bool PlausibleUid(std::optional<std::uint32_t> uid) { return uid && *uid < kMaxPlausibleUid; }

// A UID that may also say "none".
bool PlausibleReference(std::optional<std::uint32_t> uid) {
  return uid && (*uid < kMaxPlausibleUid || *uid == 0xFFFFFFFF || *uid == model::kNoResourceUID);
}

// A date or "no date"; 0 is no date a record holds, and where a layout
// reads it the field is not where the layout thinks.
bool PlausibleDate(std::optional<std::uint32_t> date) {
  if (!date || *date == 0) return false;
  if (*date == model::kNoDate) return true;
  const std::uint32_t day = *date >> 16, tenths = *date & 0xFFFF;
  return day >= 1 && day <= kLastDay && tenths <= kTenthsPerDay;
}

bool PlausibleAmount(std::optional<double> value, double most) {
  return value && std::isfinite(*value) && *value >= 0 && *value <= most;
}

// One record read with a layout, judged by what its kind of record holds.
bool Sound(const RecordView& record, RecordKind kind) {
  switch (kind) {
    case RecordKind::Task: {
      if (!PlausibleUid(record.Unsigned(F::TaskID)) || !PlausibleReference(record.Unsigned(F::ParentUID)))
        return false;
      const auto level = record.Unsigned(F::OutlineLevel);
      if (!level || *level > kMaxPlausibleOutlineLevel) return false;
      const auto start = record.Unsigned(F::Start), finish = record.Unsigned(F::Finish);
      if (!PlausibleDate(start) || !PlausibleDate(finish)) return false;
      const bool bothDates = *start != model::kNoDate && *finish != model::kNoDate;
      return !bothDates || *finish >= *start;
    }
    case RecordKind::Resource:
      return PlausibleUid(record.Unsigned(F::ResourceID)) && record.UnsignedOr(F::ResourceTypeCode, 2) <= 1 &&
             PlausibleReference(record.Unsigned(F::ResourceCalendarUID)) &&
             PlausibleAmount(record.Float(F::StandardRate), 1e9);
    case RecordKind::Assignment:
      return PlausibleUid(record.Unsigned(F::AssignmentTaskUID)) &&
             PlausibleReference(record.Unsigned(F::AssignmentResourceUID)) &&
             PlausibleDate(record.Unsigned(F::AssignmentStart)) &&
             PlausibleDate(record.Unsigned(F::AssignmentFinish)) && PlausibleAmount(record.Float(F::Units), 1e8);
    case RecordKind::Link: {
      const auto from = record.Unsigned(F::PredecessorUID), to = record.Unsigned(F::SuccessorUID);
      return PlausibleUid(from) && PlausibleUid(to) && *from != *to && record.UnsignedOr(F::LinkType, 9) <= 3;
    }
    case RecordKind::Calendar:
      return PlausibleReference(record.Unsigned(F::BaseCalendarUID)) &&
             PlausibleReference(record.Unsigned(F::CalendarResourceUID));
  }
  return false;
}

Field UidField(RecordKind kind) {
  switch (kind) {
    case RecordKind::Task: return F::TaskUID;
    case RecordKind::Resource: return F::ResourceUID;
    case RecordKind::Calendar: return F::CalendarUID;
    case RecordKind::Assignment: return F::AssignmentUID;
    case RecordKind::Link: return F::LinkUID;
  }
  return F::TaskUID;
}

// The known layouts of kind in the order the file's format and writing
// application make likely.
std::vector<NamedLayout> Expected(RecordKind kind, const LayoutHints& hints) {
  std::vector<NamedLayout> order = KnownLayouts(kind);
  const bool later = hints.application >= 15;
  // Names in the order expected; the rest keep their place after them.
  std::vector<std::string> first;
  if (hints.format == 14) {
    switch (kind) {
      case RecordKind::Task: first = {later ? "T202" : "T206"}; break;
      case RecordKind::Resource: first = {later ? "R172b" : "R188"}; break;
      case RecordKind::Assignment: first = {later ? "A110b" : "A110a"}; break;
      case RecordKind::Link: first = {later ? "L20b" : "L20a"}; break;
      case RecordKind::Calendar: first = {later ? "C12b" : "C12a"}; break;
    }
  } else {
    switch (kind) {
      case RecordKind::Task: first = {"T264", "T206"}; break;
      case RecordKind::Resource: first = {later ? "R172a" : "R188"}; break;
      case RecordKind::Assignment: first = {"A142", "A110a"}; break;
      case RecordKind::Link: first = {"L20a"}; break;
      case RecordKind::Calendar: first = {"C12a"}; break;
    }
  }
  std::stable_sort(order.begin(), order.end(), [&](const NamedLayout& a, const NamedLayout& b) {
    auto rank = [&](const NamedLayout& l) {
      return std::find(first.begin(), first.end(), l.name) - first.begin();
    };
    return rank(a) < rank(b);
  });
  return order;
}

// "97% of the records sound", or that there were none to judge by.
std::string Soundness(std::optional<double> share) {
  if (!share) return "no records to judge by";
  char text[64];
  std::snprintf(text, sizeof text, "%.0f%% of the records sound", *share * 100.0);
  return text;
}

}  // namespace

std::vector<NamedLayout> KnownLayouts(RecordKind kind) {
  switch (kind) {
    case RecordKind::Task:
      return {{"T206", &BuiltInLayout14(kind)}, {"T202", &kT202}, {"T264", &kT264}};
    case RecordKind::Resource:
      return {{"R188", &BuiltInLayout14(kind)}, {"R172a", &kR172a}, {"R172b", &kR172b}};
    case RecordKind::Assignment:
      return {{"A110a", &BuiltInLayout14(kind)}, {"A110b", &kA110b}, {"A142", &kA142}};
    case RecordKind::Link:
      return {{"L20a", &BuiltInLayout14(kind)}, {"L20b", &kL20b}};
    case RecordKind::Calendar:
      return {{"C12a", &BuiltInLayout14(kind)}, {"C12b", &kC12b}};
  }
  return {};
}

const RecordLayout& BuiltInLayout12(RecordKind kind) {
  switch (kind) {
    case RecordKind::Task: return kT264;
    case RecordKind::Resource: return BuiltInLayout14(kind);
    case RecordKind::Calendar: return BuiltInLayout14(kind);
    case RecordKind::Assignment: return kA142;
    case RecordKind::Link: return BuiltInLayout14(kind);
  }
  return kT264;
}

std::uint32_t FreeSlotArea(int format, RecordKind kind) {
  const std::uint32_t area = BuiltInLayout14(kind).minPosition;
  return format == 9 ? area / 2 : area;
}

std::optional<std::string> KnownLayoutName(const RecordLayout& layout) {
  for (const NamedLayout& known : KnownLayouts(layout.kind)) {
    const auto& a = known.layout->fields;
    const auto& b = layout.fields;
    const bool same = a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](const auto& x, const auto& y) {
                        return x.field == y.field && x.offset == y.offset && x.encoding == y.encoding;
                      });
    if (same && known.layout->recordSize == layout.recordSize) return known.name;
  }
  return std::nullopt;
}

int ApplicationVersion(const platform::CompoundFileReader& reader) {
  auto stream = reader.OpenStream(platform::kRootElement, u"\x01" "CompObj");
  std::vector<std::uint8_t> bytes;
  if (!stream || !reader.ReadStream(*stream, bytes)) return 0;
  // "Project 14.0" or "Project.14.0" somewhere in the first texts.
  const std::string text(bytes.begin(), bytes.begin() + std::min<std::size_t>(bytes.size(), 4096));
  for (std::size_t at = text.find("Project"); at != std::string::npos; at = text.find("Project", at + 1)) {
    std::size_t digits = at + 7;
    if (digits < text.size() && (text[digits] == ' ' || text[digits] == '.')) ++digits;
    int major = 0, count = 0;
    while (digits < text.size() && count < 3 && text[digits] >= '0' && text[digits] <= '9') {
      major = major * 10 + (text[digits++] - '0');
      ++count;
    }
    if (count > 0 && digits < text.size() && text[digits] == '.') return major;
  }
  return 0;
}

std::optional<double> Plausibility(const RecordLayout& layout, platform::ByteView fixedMeta,
                                   platform::ByteView fixedData) {
  const FixedMeta meta(fixedMeta, FixedMetaStride(layout.kind));
  const std::size_t valid = meta.ValidCount();
  // The positions of the live records, then a sample spread over them.
  std::vector<std::uint32_t> live;
  for (std::size_t i = 0; i < valid; ++i) {
    auto item = meta.Item(i);
    if (!item) break;
    const bool isLive = item->State() == ItemState::Live ||
                        (layout.kind == RecordKind::Calendar && item->State() == ItemState::Deleted);
    if (isLive && item->position >= layout.minPosition) live.push_back(item->position);
  }
  if (live.empty()) return std::nullopt;
  const std::size_t step = std::max<std::size_t>(1, live.size() / kPlausibilitySample);
  std::unordered_set<std::uint32_t> uids;
  std::size_t sampled = 0, sound = 0;
  for (std::size_t i = 0; i < live.size() && sampled < kPlausibilitySample; i += step) {
    ++sampled;
    const auto record = RecordAt(fixedData, live[i], layout);
    if (!record) continue;
    const auto uid = record->Unsigned(UidField(layout.kind));
    if (!PlausibleUid(uid) || !uids.insert(*uid).second) continue;
    if (Sound(*record, layout.kind)) ++sound;
  }
  return static_cast<double>(sound) / static_cast<double>(sampled);
}

RecordLayout ChooseRecordLayout(RecordKind kind, const std::optional<RecordLayout>& fromMap,
                                const LayoutHints& hints, platform::ByteView fixedMeta,
                                platform::ByteView fixedData, std::string* why) {
  // A map is trusted unless at most this share of the records read soundly
  // through it while a known layout reads at least the second share.
  constexpr double kMapDoubtful = 0.5;
  constexpr double kKnownConvincing = 0.9;

  // Every candidate reads its records from where the format puts them.
  const std::uint32_t firstRecord = FreeSlotArea(hints.format, kind);
  auto placed = [firstRecord](RecordLayout layout) {
    layout.minPosition = firstRecord;
    return layout;
  };
  const std::vector<NamedLayout> candidates = Expected(kind, hints);
  const NamedLayout* best = nullptr;
  std::optional<double> bestScore;
  for (const NamedLayout& candidate : candidates) {
    const auto score = Plausibility(placed(*candidate.layout), fixedMeta, fixedData);
    if (score && (!bestScore || *score > *bestScore)) {
      best = &candidate;
      bestScore = score;
    }
  }
  auto say = [why](std::string line) {
    if (why) *why = std::move(line);
  };
  if (fromMap) {
    RecordLayout own = placed(*fromMap);
    const auto mapScore = Plausibility(own, fixedMeta, fixedData);
    if (mapScore && *mapScore <= kMapDoubtful && bestScore && *bestScore >= kKnownConvincing) {
      say("the file's map gives " + Soundness(mapScore) + ", known layout " + best->name + " " +
          Soundness(bestScore) + ": taking " + best->name);
      return placed(*best->layout);
    }
    say("the file's map, " + Soundness(mapScore));
    return own;
  }
  if (!best) {
    say(std::string("no map and no records to judge by: expected layout ") + candidates.front().name);
    return placed(*candidates.front().layout);
  }
  say(std::string("no usable map: known layout ") + best->name + ", " + Soundness(bestScore));
  return placed(*best->layout);
}

}  // namespace mpp

// --- Outline code records (TBkndOutlCode) -------------------------------
namespace mpp {

OutlineCodeLayout KnownOutlineCodeLayout(bool laterApplication) {
  return laterApplication ? OutlineCodeLayout{4, 10} : OutlineCodeLayout{4, 8};
}

}  // namespace mpp
