// The record layouts project files are known to use, and the choice of a
// layout for a file whose own field map is missing, damaged or lying.
//
// Only a handful of layouts exist, named after their kind and record size:
//   tasks        T264 (versions 9 and 12), T206 (version 14 of the 2010
//                application, and what it converts down), T202 (version 14
//                of the later applications)
//   resources    R188, R172a (versions 9 and 12 of the later
//                applications), R172b (version 14 of the later ones)
//   assignments  A142 (with T264), A110a (with T206), A110b (with T202)
//   links        L20a, L20b (version 14 of the later applications)
//   calendars    C12a, C12b (version 14 of the later applications)
// Layouts of the same size differ in where their fields sit, so neither the
// record size nor the file's format alone picks one: the records
// themselves do. Each candidate reads a sample of the file's live records,
// and the one that reads them as sound records (unique UIDs, dates in
// range, small outline levels...) is taken; the file's format and writing
// application only order the candidates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "parse/RecordLayout.h"
#include "platform/ByteView.h"
#include "platform/CompoundFile.h"

namespace mpp {

struct NamedLayout {
  const char* name;
  const RecordLayout* layout;
};
// The known layouts of kind.
std::vector<NamedLayout> KnownLayouts(RecordKind kind);
// Versions 9 and 12 as written by the applications up to 2010: tasks of
// 264 bytes (T264), resources of 188, assignments of 142, links of 20 and
// calendars of 12.
const RecordLayout& BuiltInLayout12(RecordKind kind);
// Where the records of kind start in FixedData in a file of format: after
// the free-slot area, three slots before tasks and resources, four before
// calendars, of 16 bytes in versions 12 and 14 and of 8 in version 9.
std::uint32_t FreeSlotArea(int format, RecordKind kind);
// The name of a known layout with layout's fields ("T202"), or nothing.
std::optional<std::string> KnownLayoutName(const RecordLayout& layout);

// What a file says of itself: its format (9, 12 or 14) and the major
// version of the application that saved it, from the CompObj text
// ("... Project 14.0": 14; 0 when unknown).
struct LayoutHints {
  int format = 14;
  int application = 0;
};
int ApplicationVersion(const platform::CompoundFileReader& reader);

// Live records read with layout that are sound records, as a share of the
// records sampled (at most kPlausibilitySample, spread over the stream);
// nothing when no live record could be read at all.
inline constexpr std::size_t kPlausibilitySample = 256;
std::optional<double> Plausibility(const RecordLayout& layout, platform::ByteView fixedMeta,
                                   platform::ByteView fixedData);

// The layout to read kind with, its records starting after the free-slot
// area of the hints' format. The file's own map wins unless its records
// plainly read as garbage while a known layout reads them soundly; without
// a usable map the most plausible known layout is taken, ties going to the
// one the hints expect. Without records to judge by: the map's layout,
// else the one the hints expect. why, when given, receives a line for the
// log.
RecordLayout ChooseRecordLayout(RecordKind kind, const std::optional<RecordLayout>& fromMap,
                                const LayoutHints& hints, platform::ByteView fixedMeta,
                                platform::ByteView fixedData, std::string* why = nullptr);

}  // namespace mpp

// --- Outline code records (TBkndOutlCode) -------------------------------
namespace mpp {

// Where an outline code record keeps the value's index and its parent's
// index (both read as u16; 0 = top level).
struct OutlineCodeLayout {
  std::uint32_t indexAt = 4;
  std::uint32_t parentAt = 8;
};

// The known layout when the file's map does not give the fields: the
// parent sits at 8 in versions 9 and 12 and in version 14 of the 2010
// application, at 10 in version 14 of the later applications.
OutlineCodeLayout KnownOutlineCodeLayout(bool laterApplication);

}  // namespace mpp
