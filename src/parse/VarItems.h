// The VarMeta items of version 9 files, and how they are read by the
// readers of version 14 items.
//
//   version 9 item, 8 bytes
//     0   u16 owner UID
//     3   u8  type code
//     4   u32 position of the value in Var2Data
//
// The type codes of version 9 differ from file to file: the file's field
// map gives, for each var-data field, the code that carries it (the XX of
// the map entry's offset word 0x02XXFFFF). The items are widened into the
// 12-byte form of version 14 with the code replaced by the field's id, so
// that one set of readers serves every version. Codes the map does not
// know become 0, which no reader takes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <unordered_map>
#include <vector>

#include "base/RunContext.h"
#include "parse/FieldMap.h"
#include "parse/StreamLoader.h"
#include "platform/ByteView.h"
#include "platform/CompoundFile.h"

namespace mpp {

inline constexpr std::size_t kVarMetaItem9 = 8;

struct VarItemFormat {
  std::size_t itemSize = kVarMetaItem9;
  std::size_t ownerWidth = 2;
  std::size_t positionOffset = 4;
  std::size_t typeOffset = 3;
  // Type code -> field id.
  std::unordered_map<std::uint32_t, std::uint32_t> fieldIds;
  // Whether the file's map gave any code (else the usual codes stand for
  // all of them, which later applications do not all keep).
  bool mapped = false;
};

// The version 9 format of the var items of kind: codes from the file's map,
// and the usual codes of the applications up to 2003 for the fields the
// map does not give (all of them without a map).
VarItemFormat VarItemFormat9(RecordKind kind, const FieldMaps* maps);

// The version 9 format of the view storages' items, whose only code read
// is 1.
VarItemFormat ViewItemFormat9();

// The items of stream (header kept) in the 12-byte form: owner, position,
// field id. Items that do not lie whole in the stream are dropped, as the
// version 14 walk drops them. A zeroed item is given a place outside any
// Var2Data, as UnplaceZeroedItems does.
std::vector<std::uint8_t> WidenVarMeta(platform::ByteView stream, const VarItemFormat& format);

// No item of a sound VarMeta is all zeros (none of the samples' 65,000
// items is): a zeroed one that its header counts named a value that was
// lost with it. Each such 12-byte item is given a place no Var2Data holds,
// so that the walk counts its value as unreadable instead of taking the
// first value for it.
void UnplaceZeroedItems(std::vector<std::uint8_t>& varMeta);

// LoadStreamPair of Var2Data and VarMeta; with a format, the items are
// widened into the 12-byte form. Zeroed items are unplaced (above).
bool LoadVarStreams(Logger& log, const platform::CompoundFileReader& reader, platform::ElementId storage,
                    LoadedStream& var2Data, LoadedStream& varMeta, const VarItemFormat* format);

}  // namespace mpp
