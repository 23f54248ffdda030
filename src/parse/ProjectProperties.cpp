#include "parse/ProjectProperties.h"

#include <algorithm>
#include <array>
#include <new>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "base/Date.h"
#include "parse/FieldMap.h"
#include "parse/PropertySet.h"

namespace mpp {

namespace {

// Props keys of the project's properties.
constexpr std::uint32_t kCompany = 0x02400000;
constexpr std::uint32_t kManager = 0x02400001;
constexpr std::uint32_t kStart = 0x02400002;
constexpr std::uint32_t kFinish = 0x02400003;
constexpr std::uint32_t kScheduleFrom = 0x02400004;
constexpr std::uint32_t kComments = 0x02400005;
constexpr std::uint32_t kCreated = 0x02400006;
constexpr std::uint32_t kSaved = 0x02400007;
constexpr std::uint32_t kGuid = 0x02400029;
constexpr std::uint32_t kTitle = 0x02400008;
constexpr std::uint32_t kSubject = 0x02400009;
constexpr std::uint32_t kAuthor = 0x0240000C;
constexpr std::uint32_t kKeywords = 0x0240000D;
constexpr std::uint32_t kCalendarName = 0x0240000E;
constexpr std::uint32_t kCurrencySymbol = 0x02400010;
constexpr std::uint32_t kCurrencyPosition = 0x02400011;
constexpr std::uint32_t kCurrencyDigits = 0x02400012;
constexpr std::uint32_t kDefaultStart = 0x0240001C;
constexpr std::uint32_t kMinutesPerDay = 0x0240001D;
constexpr std::uint32_t kMinutesPerWeek = 0x0240001E;
constexpr std::uint32_t kDefaultFinish = 0x02400021;
constexpr std::uint32_t kWeekStartDay = 0x02400025;
constexpr std::uint32_t kFiscalYearStart = 0x0240002C;
constexpr std::uint32_t kStatusDate = 0x02400045;
constexpr std::uint32_t kCategory = 0x02400049;
constexpr std::uint32_t kDaysPerMonth = 0x0240138F;
constexpr std::uint32_t kCurrencyCode = 0x024013BB;
// Options, u16 0 or 1 (linking inserted or moved tasks; effort driven new
// tasks), and the option word whose bit 4 keeps actuals in sync.
constexpr std::uint32_t kAutolink = 0x0240001B;
constexpr std::uint32_t kNewTasksEffortDriven = 0x02400032;
constexpr std::uint32_t kNewTasksAreManual = 0x024013C8;  // the 2010 and later applications
constexpr std::uint32_t kOptionWord = 0x00400002;
constexpr std::uint32_t kActualsInSyncBit = 0x10;

// A time of day in tenths of a minute: 24:00 at most.
constexpr std::uint32_t kTenthsPerDay = 14400;
// The longest property stream read; larger ones are damage.
constexpr std::uint64_t kMaxPropertyStream = 64ull << 20;

const std::u16string_view kSummaryStream = u"\005SummaryInformation";
const std::u16string_view kDocSummaryStream = u"\005DocumentSummaryInformation";

bool SetText(platform::ByteView data, std::u16string& out, std::size_t maxUnits) {
  if (!out.empty()) return false;
  auto text = TerminatedUtf16(data, maxUnits);
  if (!text || text->empty()) return false;
  out = std::move(*text);
  return true;
}

bool SetU16(platform::ByteView data, std::optional<std::uint16_t>& out, std::uint16_t low, std::uint16_t high) {
  auto value = data.u16_at(0);
  if (!value || *value < low || *value > high) return false;
  out = *value;
  return true;
}

bool SetU32(platform::ByteView data, std::optional<std::uint32_t>& out, std::uint32_t low, std::uint32_t high) {
  auto value = data.u32_at(0);
  if (!value || *value < low || *value > high) return false;
  out = *value;
  return true;
}

bool SetFlag(platform::ByteView data, std::optional<bool>& out) {
  std::optional<std::uint16_t> value;
  if (!SetU16(data, value, 0, 1)) return false;
  out = *value == 1;
  return true;
}

// A date from day 1 (1984-01-01) to 2049-12-31, at a time of that day.
bool SetDate(platform::ByteView data, std::optional<model::PackedDate>& out) {
  auto value = data.u32_at(0);
  if (!value) return false;
  const std::uint32_t day = *value >> 16;
  const std::uint32_t tenths = *value & 0xFFFF;
  if (day < 1 || day > CDate::LastDate().DayNumber() || tenths >= kTenthsPerDay) return false;
  out = *value;
  return true;
}

bool TakeItem(const PropsItem& item, model::SProjectProps& p) {
  const platform::ByteView d = item.data;
  switch (item.key) {
    case kCompany: return SetText(d, p.Company, kMaxPropertyUnits);
    case kManager: return SetText(d, p.Manager, kMaxPropertyUnits);
    case kStart: return SetDate(d, p.StartDate);
    case kFinish: return SetDate(d, p.FinishDate);
    case kScheduleFrom: {
      std::optional<std::uint16_t> from;
      if (!SetU16(d, from, 0, 1)) return false;
      p.ScheduleFromStart = *from == 1;
      return true;
    }
    case kComments: return SetText(d, p.Comments, kMaxCommentUnits);
    case kCreated: return SetDate(d, p.CreatedLocal);
    case kSaved: return SetDate(d, p.SavedLocal);
    case kGuid: {
      if (d.size() < 16) return false;
      std::array<std::uint8_t, 16> guid{};
      for (std::size_t i = 0; i < guid.size(); ++i) guid[i] = *d.u8_at(i);
      p.Guid = guid;
      return true;
    }
    case kTitle: return SetText(d, p.Title, kMaxPropertyUnits);
    case kSubject: return SetText(d, p.Subject, kMaxPropertyUnits);
    case kAuthor: return SetText(d, p.Author, kMaxPropertyUnits);
    case kKeywords: return SetText(d, p.Keywords, kMaxPropertyUnits);
    case kCalendarName: return SetText(d, p.CalendarName, kMaxPropertyUnits);
    case kCurrencySymbol: return SetText(d, p.CurrencySymbol, kMaxPropertyUnits);
    case kCurrencyPosition: return SetU16(d, p.CurrencySymbolPosition, 0, 3);
    case kCurrencyDigits: return SetU16(d, p.CurrencyDigits, 0, 9);
    case kDefaultStart: return SetU16(d, p.DefaultStartTime, 0, kTenthsPerDay);
    case kMinutesPerDay: return SetU32(d, p.MinutesPerDay, 1, 24 * 60);
    case kMinutesPerWeek: return SetU32(d, p.MinutesPerWeek, 1, 7 * 24 * 60);
    case kDefaultFinish: return SetU16(d, p.DefaultFinishTime, 0, kTenthsPerDay);
    case kWeekStartDay: return SetU16(d, p.WeekStartDay, 0, 6);
    case kFiscalYearStart: return SetU16(d, p.FiscalYearStart, 1, 12);
    case kStatusDate: return SetDate(d, p.StatusDate);
    case kCategory: return SetText(d, p.Category, kMaxPropertyUnits);
    case kDaysPerMonth: return SetU16(d, p.DaysPerMonth, 1, 31);
    case kCurrencyCode: return SetText(d, p.CurrencyCode, kMaxPropertyUnits);
    case kAutolink: return SetFlag(d, p.Autolink);
    case kNewTasksEffortDriven: return SetFlag(d, p.NewTasksEffortDriven);
    case kNewTasksAreManual: return SetFlag(d, p.NewTasksAreManual);
    case kOptionWord: {
      auto word = d.u32_at(0);
      if (!word) return false;
      p.ActualsInSync = (*word & kActualsInSyncBit) != 0;
      return true;
    }
    default: return false;
  }
}

bool SetSummaryText(const PropertySection& section, std::uint32_t id, std::u16string& out, std::size_t maxUnits) {
  std::u16string text = section.Text(id, maxUnits);
  if (text.empty()) return false;
  out = std::move(text);
  return true;
}

bool SetFileTime(const PropertySection& section, std::uint32_t id, std::optional<model::PackedDate>& out) {
  auto time = section.FileTime(id);
  if (!time) return false;
  out = PackedDateFromFileTime(*time);
  return out.has_value();
}

// A stream of storage whole, without a log line; empty when it is absent,
// unreadable or larger than a property stream can be.
std::vector<std::uint8_t> LoadPropertyStream(const platform::CompoundFileReader& reader,
                                             platform::ElementId storage, std::u16string_view name) {
  std::vector<std::uint8_t> bytes;
  try {
    auto stream = reader.OpenStream(storage, name);
    if (!stream) return bytes;
    auto info = reader.Stat(*stream);
    if (!info || info->size > kMaxPropertyStream) return bytes;
    if (!reader.ReadStream(*stream, bytes)) bytes.clear();
  } catch (const std::bad_alloc&) {
    bytes.clear();
  }
  return bytes;
}

platform::ByteView ViewOf(const std::vector<std::uint8_t>& bytes) {
  return platform::ByteView(bytes.data(), bytes.size());
}

}  // namespace

std::size_t ReadProjectItems(platform::ByteView propsStream, model::SProjectProps& props) {
  // The first item of each key decides, readable or not.
  std::unordered_set<std::uint32_t> seen;
  std::size_t taken = 0;
  for (const PropsItem& item : ReadPropsItems(propsStream)) {
    if ((item.key & 0xFFFF0000) != (kCompany & 0xFFFF0000) && item.key != kOptionWord) continue;
    if (!seen.insert(item.key).second) continue;
    taken += TakeItem(item, props);
  }
  return taken;
}

std::size_t ReadSummaryProperties(platform::ByteView summary, platform::ByteView docSummary,
                                  model::SProjectProps& props) {
  std::size_t taken = 0;
  const PropertySection s(summary, kSummaryInformationId);
  taken += SetSummaryText(s, kPropTitle, props.Title, kMaxPropertyUnits);
  taken += SetSummaryText(s, kPropSubject, props.Subject, kMaxPropertyUnits);
  taken += SetSummaryText(s, kPropAuthor, props.Author, kMaxPropertyUnits);
  taken += SetSummaryText(s, kPropKeywords, props.Keywords, kMaxPropertyUnits);
  taken += SetSummaryText(s, kPropComments, props.Comments, kMaxCommentUnits);
  taken += SetFileTime(s, kPropCreated, props.CreationDate);
  taken += SetFileTime(s, kPropLastSaved, props.LastSaved);
  const PropertySection d(docSummary, kDocSummaryInformationId);
  taken += SetSummaryText(d, kPropCategory, props.Category, kMaxPropertyUnits);
  taken += SetSummaryText(d, kPropManager, props.Manager, kMaxPropertyUnits);
  taken += SetSummaryText(d, kPropCompany, props.Company, kMaxPropertyUnits);
  return taken;
}

void ReadProjectProperties(Logger& log, const platform::CompoundFileReader& reader, platform::ElementId dataStorage,
                           model::SProjectProps& props) {
  const auto summary = LoadPropertyStream(reader, platform::kRootElement, kSummaryStream);
  const auto docSummary = LoadPropertyStream(reader, platform::kRootElement, kDocSummaryStream);
  const std::size_t fromSummary = ReadSummaryProperties(ViewOf(summary), ViewOf(docSummary), props);
  const auto items = LoadPropertyStream(reader, dataStorage, u"Props");
  const std::size_t fromProps = ReadProjectItems(ViewOf(items), props);
  log.WriteFormat("    Project properties: %zu from the summary streams, %zu from Props", fromSummary, fromProps);
}

}  // namespace mpp
