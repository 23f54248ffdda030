// The two view storages that versions 9 and 12 read, from VarMeta/Var2Data:
//
//   CEdl     items of type 1: an edit list entry {UID, 1, the value bytes}
//   CV_iew   items of type 1 with at least 703 value bytes: the timescale
//            of a view, merged by UID (items of UID 0 make none):
//              0          u32 view type; d = 2 when it is 0x2066, else 0
//              694 + d    major units     704 + d  minor units
//              702 + d    major label     696 + d  minor label
//              698 + d    major count     700 + d  minor count
//
// Nothing of them reaches the document; they are kept in the model.
#pragma once

#include <cstddef>

#include "base/RunContext.h"
#include "model/Project.h"
#include "platform/ByteView.h"
#include "platform/CompoundFile.h"

namespace mpp {

struct VarItemFormat;

inline constexpr std::uint16_t kViewItemType = 1;
inline constexpr std::size_t kViewValueMinSize = 703;
inline constexpr std::uint32_t kShiftedViewType = 0x2066;

struct TimescaleLayout {
  std::size_t majorUnits = 694, majorLabel = 702, majorCount = 698;
  std::size_t minorUnits = 704, minorLabel = 696, minorCount = 700;
  std::size_t shift = 2;  // for kShiftedViewType
};
inline constexpr TimescaleLayout kTimescale{};

// The walks over loaded streams. Throw kBreakException on a break.
std::size_t ReadEditList(RunContext& ctx, platform::ByteView varMeta, platform::ByteView var2Data, model::Project& gen);
std::size_t ReadViewTimescales(RunContext& ctx, platform::ByteView varMeta, platform::ByteView var2Data,
                               model::Project& gen);

// Load the storage's var streams (widened by varFormat when given) and read
// them. Logs and rethrows a break or allocation failure.
void EdlParser(RunContext& ctx, const platform::CompoundFileReader& reader, platform::ElementId storage,
               model::Project& gen, const VarItemFormat* varFormat);
void ViewParser(RunContext& ctx, const platform::CompoundFileReader& reader, platform::ElementId storage,
                model::Project& gen, const VarItemFormat* varFormat);

}  // namespace mpp
