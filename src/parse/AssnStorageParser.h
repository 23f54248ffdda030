// The readers of the assignment storage "TBkndAssn" and the link storage
// "TBkndCons". Both read the fixed-data pair of their storage: one record
// per live FixedMeta item, read through the file's record layout and
// appended to the model as it is; whether the tasks and resources they
// name exist is the generator's concern. Assignments also take the custom
// flags of their FixedMeta items, their GUIDs (Fixed2Meta/Fixed2Data) and,
// in a second pass, their var values (overtime, budget, creation date,
// custom fields).
//
// Items marked deleted (state byte 2) are records the application threw
// away, and an assignment whose UID, task and resource repeat an earlier
// one's is a stale copy left past the header's count of valid items:
// neither is read.
#pragma once

#include <cstddef>

#include "base/RunContext.h"
#include "model/Project.h"
#include "parse/RecordLayout.h"
#include "parse/StreamLoader.h"
#include "parse/VarItems.h"
#include "platform/ByteView.h"
#include "platform/CompoundFile.h"

namespace mpp {

struct FixedRecordCounts {
  std::size_t items = 0;       // the valid items walked
  std::size_t records = 0;     // records appended to the model
  std::size_t deleted = 0;     // items marked deleted
  std::size_t blank = 0;       // free slots (no record)
  std::size_t unreadable = 0;  // record outside FixedData or too short
  std::size_t stale = 0;       // items past the header's valid count, and stale copies
};

// What the assignment pass reads beside the records: the custom flags' and
// the hand-shaped contour's bits in the FixedMeta items (none read without
// them), and the second records with the GUIDs (Fixed2Meta, Fixed2Data;
// empty when absent).
struct AssnSideStreams {
  const AssignmentItemBits* bits = nullptr;
  platform::ByteView fixed2Meta, fixed2Data;
};

// The fixed pass over assignments and links. progress may be null. Throws
// kBreakException on a break.
FixedRecordCounts ReadAssnFixedData(RunContext& ctx, platform::ByteView fixedMeta, platform::ByteView fixedData,
                                    const RecordLayout& layout, model::Project& gen,
                                    StreamProgress* progress = nullptr, const AssnSideStreams& side = {});
FixedRecordCounts ReadConsFixedData(RunContext& ctx, platform::ByteView fixedMeta, platform::ByteView fixedData,
                                    const RecordLayout& layout, model::Project& gen,
                                    StreamProgress* progress = nullptr);

// Version 9 also keeps three var-data values of an assignment, merged into
// the assignment of their UID (one is made when none has it): type 7 only
// with 68 bytes and type 9 only with 76 (both kept raw), type 126 a u32.
// A value of another length is logged and left out. Returns the values
// kept. Throws kBreakException on a break.
inline constexpr std::uint8_t kAssnRawType7 = 7;
inline constexpr std::uint8_t kAssnRawType9 = 9;
inline constexpr std::uint8_t kAssnValueType126 = 126;
std::size_t ReadAssnVarData9(RunContext& ctx, platform::ByteView varMeta, platform::ByteView var2Data,
                             model::Project& gen);
// Loads the var streams of the storage (8-byte items) and reads them.
void AssnVarParser9(RunContext& ctx, const platform::CompoundFileReader& reader, platform::ElementId storage,
                    model::Project& gen);

// The pass over the var items (12-byte form) after the records were read:
// overtime work and cost, the creation date, the work's stretches and
// pauses, its predefined contour and the custom field values of the assignments of the model, by owner UID (first of a UID); items of
// other owners are left out. Throws kBreakException on a break.
struct AssnVarCounts {
  std::size_t items = 0;
  std::size_t skipped = 0;
  std::size_t values = 0;
  std::size_t customValues = 0;
  std::size_t splits = 0;  // completed or remaining work that pauses
};
AssnVarCounts ReadAssnVarData(RunContext& ctx, platform::ByteView varMeta, platform::ByteView var2Data,
                              model::Project& gen);
// Loads the var streams (widened with format9 in version 9) and reads them.
void AssnVarParser(RunContext& ctx, const platform::CompoundFileReader& reader, platform::ElementId storage,
                   const VarItemFormat* format9, model::Project& gen);

// Load FixedData and FixedMeta of the storage and read them. A missing
// stream is logged and ends the reader; logs and rethrows a break or an
// allocation failure.
void AssnStorageParser(RunContext& ctx, const platform::CompoundFileReader& reader, platform::ElementId storage,
                       const RecordLayout& layout, model::Project& gen, const AssignmentItemBits* bits = nullptr);
void ConsStorageParser(RunContext& ctx, const platform::CompoundFileReader& reader, platform::ElementId storage,
                       const RecordLayout& layout, model::Project& gen);

}  // namespace mpp
