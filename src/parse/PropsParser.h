// The custom field definitions (aliases of Text1, Cost3, ...) that the
// "props" stream of the task and resource storages holds in a block:
//
//   0        u32 block size S
//   8        u16 number of definitions N
//   12       N entries of 8 bytes: u32 field id, u16 position P of the
//            alias, 2 bytes unused
//   P + 4    the alias (UTF-16), running to the next entry's position (the
//            last one to S)
//
// The block starts at byte 42 of the stream in TBkndTask and at byte 28 in
// TBkndRsc.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "base/RunContext.h"
#include "model/Project.h"
#include "platform/ByteView.h"
#include "platform/CompoundFile.h"

namespace mpp {

inline constexpr std::size_t kTaskPropsBlock = 42;
inline constexpr std::size_t kResourcePropsBlock = 28;
// Longest alias copied, in bytes.
inline constexpr std::size_t kMaxAliasBytes = 520;

// Where the definition block of the storage's props stream starts, or
// nothing for a storage that has none.
std::optional<std::size_t> PropsBlockStart(std::u16string_view storageName);

// The definitions of the block at blockStart, in block order. The block is
// used only when N is not 0 and S >= 8 N + 8; entries whose alias position
// lies beyond S are dropped; aliases are cut to the stream. Polls the break
// flag once per entry (throws kBreakException).
std::vector<model::SCustomFieldDef> ReadCustomFieldBlock(RunContext& ctx, platform::ByteView stream,
                                                         std::size_t blockStart);

// Loads the storage's "props" stream and appends its definitions to the
// model's list. Logs and rethrows a break or allocation failure; returns
// -1000 when the run was cancelled before it started, else 0.
int PropsParser(RunContext& ctx, const platform::CompoundFileReader& reader, platform::ElementId storage,
                model::Project& gen);

}  // namespace mpp
