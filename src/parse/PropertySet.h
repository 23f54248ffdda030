// The document properties an OLE property-set stream holds (the root's
// "\5SummaryInformation" and "\5DocumentSummaryInformation"):
//
//   stream     0  u16 byte order 0xFFFE      2  u16 format version (0 or 1)
//              4  u32 system id              8  16-byte class id
//             24  u32 section count         28  sections: 16-byte format
//                                               id, u32 offset (20 bytes each)
//   section    0  u32 size                   4  u32 property count
//              8  properties: u32 id, u32 offset from the section start
//   value      0  u16 type, u16 padding      4  the value:
//              VT_I2 (2) i16, VT_I4 (3) i32, VT_UI2 (18) u16, VT_UI4 (19) u32,
//              VT_LPSTR (30) u32 byte count (terminator included), bytes in
//                the section's code page (property 1, VT_I2),
//              VT_LPWSTR (31) u32 unit count (terminator included), UTF-16LE,
//              VT_FILETIME (64) u64, 100 ns since 1601-01-01 UTC.
//
// Every read is checked against the section and the stream, so a cut or
// overwritten stream gives fewer values, never a read outside it. A value
// that cannot be read whole is absent.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/Records.h"
#include "platform/ByteView.h"

namespace mpp {

using FormatId = std::array<std::uint8_t, 16>;

// The sections of the two summary streams, as their format ids are stored.
inline constexpr FormatId kSummaryInformationId = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                                   0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
inline constexpr FormatId kDocSummaryInformationId = {0x02, 0xD5, 0xCD, 0xD5, 0x9C, 0x2E, 0x1B, 0x10,
                                                      0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE};

// Property ids of the two sections.
inline constexpr std::uint32_t kPropCodePage = 1;
inline constexpr std::uint32_t kPropTitle = 2;
inline constexpr std::uint32_t kPropSubject = 3;
inline constexpr std::uint32_t kPropAuthor = 4;
inline constexpr std::uint32_t kPropKeywords = 5;
inline constexpr std::uint32_t kPropComments = 6;
inline constexpr std::uint32_t kPropCreated = 12;
inline constexpr std::uint32_t kPropLastSaved = 13;
inline constexpr std::uint32_t kPropCategory = 2;
inline constexpr std::uint32_t kPropManager = 14;
inline constexpr std::uint32_t kPropCompany = 15;

// Value types.
inline constexpr std::uint16_t kVtI2 = 2;
inline constexpr std::uint16_t kVtI4 = 3;
inline constexpr std::uint16_t kVtUi2 = 18;
inline constexpr std::uint16_t kVtUi4 = 19;
inline constexpr std::uint16_t kVtLpstr = 30;
inline constexpr std::uint16_t kVtLpwstr = 31;
inline constexpr std::uint16_t kVtFiletime = 64;

// One section of a property-set stream, its values decoded on request.
class PropertySection {
 public:
  // The section of stream with the format id wanted; empty (no values)
  // when the stream is no property set or has no such section.
  PropertySection(platform::ByteView stream, const FormatId& format);

  // How many properties the section lists (within its bounds).
  std::size_t Count() const { return entries_.size(); }

  // The text of property id (VT_LPSTR or VT_LPWSTR), at most maxUnits
  // UTF-16 units of it. Empty when the property is absent, of another
  // type, runs past the section, has no terminator, or is in a code page
  // this reader cannot decode and not plain ASCII.
  std::u16string Text(std::uint32_t id, std::size_t maxUnits) const;
  // A VT_FILETIME value.
  std::optional<std::uint64_t> FileTime(std::uint32_t id) const;
  // A VT_I2, VT_I4, VT_UI2 or VT_UI4 value.
  std::optional<std::int64_t> Integer(std::uint32_t id) const;

 private:
  struct Entry {
    std::uint32_t id = 0;
    std::uint32_t offset = 0;
  };
  // The value of the first entry with id: its type, and the bytes after the
  // type word up to the end of the section.
  std::optional<std::pair<std::uint16_t, platform::ByteView>> Value(std::uint32_t id) const;

  platform::ByteView section_;
  std::vector<Entry> entries_;
  std::optional<std::int64_t> codePage_;
};

// A zero-terminated UTF-16LE text at the start of bytes, at most maxUnits
// units of it; nothing when no zero unit ends it within bytes.
std::optional<std::u16string> TerminatedUtf16(platform::ByteView bytes, std::size_t maxUnits);

// A FILETIME to the minute as a PackedDate, when it lies within
// 1984-01-01 00:00 .. 2049-12-31 23:59; otherwise nothing.
std::optional<model::PackedDate> PackedDateFromFileTime(std::uint64_t fileTime);

}  // namespace mpp
