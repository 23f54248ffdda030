#include "parse/PropertySet.h"

#include <algorithm>
#include <string_view>

#include "base/Date.h"
#include "platform/Text.h"

namespace mpp {

namespace {

constexpr std::uint16_t kByteOrderMark = 0xFFFE;
constexpr std::size_t kHeaderVersion = 2;
constexpr std::size_t kHeaderSectionCount = 24;
constexpr std::size_t kHeaderSections = 28;
constexpr std::size_t kSectionListEntry = 20;  // format id, u32 offset
constexpr std::size_t kFormatIdSize = 16;
// No property set has more than a handful of sections.
constexpr std::uint32_t kMaxSections = 64;

constexpr std::size_t kSectionCount = 4;
constexpr std::size_t kSectionEntries = 8;
constexpr std::size_t kSectionEntry = 8;  // u32 id, u32 offset
constexpr std::size_t kValueData = 4;     // after the type word and its padding

constexpr std::int64_t kCodePageUtf16 = 1200;
constexpr std::int64_t kCodePageWindows1252 = 1252;
constexpr std::int64_t kCodePageUtf8 = 65001;

// FILETIME ticks per minute, and the days from 1601-01-01 to 1984-01-01.
constexpr std::uint64_t kTicksPerMinute = 600000000ull;
constexpr std::uint64_t kDaysTo1984 = 139887;
constexpr std::uint64_t kMinutesPerDay = 1440;

}  // namespace

std::optional<std::u16string> TerminatedUtf16(platform::ByteView bytes, std::size_t maxUnits) {
  const std::size_t units = bytes.size() / 2;
  std::u16string text;
  for (std::size_t i = 0; i < units; ++i) {
    const char16_t unit = static_cast<char16_t>(*bytes.u16_at(2 * i));
    if (unit == 0) return text;
    if (text.size() < maxUnits) text.push_back(unit);
  }
  return std::nullopt;
}

PropertySection::PropertySection(platform::ByteView stream, const FormatId& format) {
  if (stream.u16_at(0) != kByteOrderMark) return;
  const std::uint16_t version = stream.u16_at(kHeaderVersion).value_or(0xFFFF);
  if (version > 1) return;
  const std::uint32_t sections = std::min(stream.u32_at(kHeaderSectionCount).value_or(0), kMaxSections);
  std::optional<std::uint32_t> start;
  for (std::uint32_t i = 0; i < sections && !start; ++i) {
    const std::size_t at = kHeaderSections + i * kSectionListEntry;
    FormatId id{};
    if (!stream.CopyTo(at, kFormatIdSize, id.data())) break;
    if (id == format) start = stream.u32_at(at + kFormatIdSize);
  }
  if (!start) return;
  // A size past the stream is a cut stream: what the stream still has is
  // read, each value checked against it.
  const std::uint32_t size = stream.u32_at(*start).value_or(0);
  if (size < kSectionEntries || *start >= stream.size()) return;
  section_ = *stream.Sub(*start, std::min<std::size_t>(size, stream.size() - *start));

  const std::uint32_t count = section_.u32_at(kSectionCount).value_or(0);
  const std::size_t fits = (section_.size() - std::min(section_.size(), kSectionEntries)) / kSectionEntry;
  const std::size_t listed = std::min<std::size_t>(count, fits);
  entries_.reserve(listed);
  for (std::size_t i = 0; i < listed; ++i) {
    const std::size_t at = kSectionEntries + i * kSectionEntry;
    entries_.push_back({*section_.u32_at(at), *section_.u32_at(at + 4)});
  }
  // The code page is a VT_I2: 65001 reads as a negative number.
  if (auto page = Integer(kPropCodePage)) codePage_ = *page & 0xFFFF;
}

std::optional<std::pair<std::uint16_t, platform::ByteView>> PropertySection::Value(std::uint32_t id) const {
  auto entry = std::find_if(entries_.begin(), entries_.end(), [id](const Entry& e) { return e.id == id; });
  if (entry == entries_.end()) return std::nullopt;
  auto type = section_.u16_at(entry->offset);
  if (!type || !section_.Has(entry->offset, kValueData)) return std::nullopt;
  const std::size_t data = std::size_t{entry->offset} + kValueData;
  return std::make_pair(*type, *section_.Sub(data, section_.size() - data));
}

std::u16string PropertySection::Text(std::uint32_t id, std::size_t maxUnits) const {
  auto value = Value(id);
  if (!value) return {};
  const auto& [type, data] = *value;
  const std::uint32_t count = data.u32_at(0).value_or(0);
  if (type == kVtLpwstr) {
    if (count > data.size() / 2) return {};
    auto units = data.Sub(4, std::size_t{count} * 2);
    if (!units) return {};
    return TerminatedUtf16(*units, maxUnits).value_or(u"");
  }
  if (type != kVtLpstr) return {};
  auto bytes = data.Sub(4, count);
  if (!bytes) return {};
  if (codePage_ == kCodePageUtf16) return TerminatedUtf16(*bytes, maxUnits).value_or(u"");

  // The bytes up to the terminator, no more than a UTF-8 text of maxUnits
  // units can take.
  std::string text;
  bool ended = false;
  bool ascii = true;
  for (std::size_t i = 0; i < bytes->size(); ++i) {
    const std::uint8_t byte = *bytes->u8_at(i);
    if (byte == 0) {
      ended = true;
      break;
    }
    if (text.size() < maxUnits * 4) {
      text.push_back(static_cast<char>(byte));
      ascii = ascii && byte < 0x80;
    }
  }
  if (!ended) return {};
  std::u16string decoded;
  if (codePage_ == kCodePageUtf8)
    decoded = platform::Utf8ToUtf16(text);
  else if (codePage_ == kCodePageWindows1252 || ascii)
    decoded = platform::AnsiToUtf16(text);
  // Another code page: its bytes cannot be told apart here.
  if (decoded.size() > maxUnits) decoded.resize(maxUnits);
  return decoded;
}

std::optional<std::uint64_t> PropertySection::FileTime(std::uint32_t id) const {
  auto value = Value(id);
  if (!value || value->first != kVtFiletime) return std::nullopt;
  return value->second.u64_at(0);
}

std::optional<std::int64_t> PropertySection::Integer(std::uint32_t id) const {
  auto value = Value(id);
  if (!value) return std::nullopt;
  const platform::ByteView data = value->second;
  switch (value->first) {
    case kVtI2:
      if (auto v = data.u16_at(0)) return static_cast<std::int16_t>(*v);
      return std::nullopt;
    case kVtUi2:
      if (auto v = data.u16_at(0)) return *v;
      return std::nullopt;
    case kVtI4:
      if (auto v = data.u32_at(0)) return static_cast<std::int32_t>(*v);
      return std::nullopt;
    case kVtUi4:
      if (auto v = data.u32_at(0)) return *v;
      return std::nullopt;
    default: return std::nullopt;
  }
}

std::optional<model::PackedDate> PackedDateFromFileTime(std::uint64_t fileTime) {
  const std::uint64_t minutes = fileTime / kTicksPerMinute;
  const std::uint64_t days = minutes / kMinutesPerDay;
  if (days < kDaysTo1984) return std::nullopt;
  const std::uint64_t dayNumber = days - kDaysTo1984 + 1;
  if (dayNumber > static_cast<std::uint64_t>(CDate::LastDate().DayNumber())) return std::nullopt;
  const std::uint64_t tenths = (minutes % kMinutesPerDay) * 10;
  return static_cast<model::PackedDate>((dayNumber << 16) | tenths);
}

}  // namespace mpp
