// Baselines 0-10 of tasks, resources and assignments kept as var data.
//
// Baseline 0 sits in the fixed record where the file's layout places it
// (read by the storage readers); everything else is var data of the same
// storage, keyed by the owner's UID:
//   versions 12, 14   one item per value, its type the low 16 bits of the
//                     field id
//   version 9         the same through the file's map codes, and, for the
//                     fields no map lists, inside a binary value:
//                       [u32 total size][u32 count]
//                       count x [u32 field id][u32 offset from the value's start]
// Values: dates PackedDate u32 (0 and 0xFFFFFFFF none), durations u32
// tenths of a minute, work f64 minutes x 1000, cost f64 currency x 100.
#pragma once

#include <cstdint>
#include <optional>
#include <unordered_set>

#include "base/RunContext.h"
#include "model/Project.h"
#include "parse/FieldMap.h"
#include "parse/RecordLayout.h"
#include "parse/VarItems.h"
#include "platform/ByteView.h"
#include "platform/CompoundFile.h"

namespace mpp {

enum class BaselineSlot : std::uint8_t { Start, Finish, Duration, Work, Cost };

struct BaselineField {
  std::uint8_t number = 0;
  BaselineSlot slot = BaselineSlot::Start;
  // A value taken only when the owner has no other value for the slot
  // (version 14 keeps estimated copies of baseline 0 under the version 12
  // ids; one file keeps its baseline 0 only there).
  bool fallback = false;
};

// What the field whose id has these low 16 bits holds for kind in a file of
// format (9, 12 or 14); nothing when it is no baseline field.
std::optional<BaselineField> BaselineFieldOf(RecordKind kind, int format, std::uint16_t field);

// The var item format of version 9 for the baseline pass: the codes of
// VarItemFormat9, and those of the file's second map.
VarItemFormat BaselineItemFormat9(RecordKind kind, const FieldMaps* maps);
// The field ids of kind the maps give as binary var data.
std::unordered_set<std::uint32_t> BaselineBlobFields(RecordKind kind, const FieldMaps* maps);

struct BaselineCounts {
  std::size_t items = 0;
  std::size_t skipped = 0;
  std::size_t values = 0;  // baseline values taken
  std::size_t unknownOwner = 0;
};

// The pass over a storage's var items (12-byte form) after its records
// were read: each baseline value goes to the task, resource or assignment
// of its owner UID (first of a UID); owners the model lacks are left out.
// blobFields, for version 9, lists the binary values to look inside.
// Throws kBreakException on a break.
BaselineCounts ReadBaselineVarData(RunContext& ctx, RecordKind kind, int format, platform::ByteView varMeta,
                                   platform::ByteView var2Data, model::Project& gen,
                                   const std::unordered_set<std::uint32_t>& blobFields = {});

// Loads the storage's var streams (widened with format9 in version 9) and
// runs the pass; a missing pair leaves the baselines out (logged).
void BaselineVarParser(RunContext& ctx, const platform::CompoundFileReader& reader, platform::ElementId storage,
                       RecordKind kind, int format, model::Project& gen, const FieldMaps* maps);

// Baseline 0 of a fixed record, where its layout holds the fields.
void FillFixedBaseline(const RecordView& record, RecordKind kind, std::vector<model::SBaseline>& baselines);

}  // namespace mpp
