// The outline code values of tasks and resources. A task or resource keeps
// only an index into the TBkndOutlCode storage, in the var data of the
// field after the outline code's own (Outline Code1 of tasks 0x0B4001A0 is
// kept under 0x0B4001A1):
//
//   version 9        u32 index
//   versions 12, 14  26 bytes: u16 flags @0, u32 index @2. Flags & 0xFF00
//                    = 0x0700 mark an item of the code's value list: its
//                    value is its parents' texts and its own, top first,
//                    joined by "."; other flags a free code, whose text is
//                    the value as it stands.
//
// The storage keeps the text of each index in its var data (type code 1
// in version 9, field 22 in versions 12 and 14, owner = the index) and the
// index's parent in its fixed-data record (at the offsets the file's map
// gives the fields 0x16400001 and 0x1640000D, else a known layout).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

#include "base/RunContext.h"
#include "model/Project.h"
#include "parse/KnownLayouts.h"
#include "platform/ByteView.h"
#include "platform/CompoundFile.h"

namespace mpp {

// Parent chains longer than this are taken as damage.
inline constexpr std::size_t kMaxOutlineCodeDepth = 64;

class OutlineCodeTable {
 public:
  void SetText(std::uint32_t index, std::u16string text);
  void SetParent(std::uint32_t index, std::uint32_t parent);
  // The text of index; with parents, the texts of its parents first,
  // joined by ".". Nothing when index or a parent has no text, or the
  // chain loops or runs deeper than kMaxOutlineCodeDepth.
  std::optional<std::u16string> Value(std::uint32_t index, bool withParents) const;
  std::size_t Size() const { return entries_.size(); }

 private:
  struct Entry {
    std::optional<std::u16string> text;
    std::uint32_t parent = 0;
  };
  std::unordered_map<std::uint32_t, Entry> entries_;
};

// True for the var-data fields that carry an outline code's index
// (tasks 0x0B4001A1, 0x0B4001A3 .. 0x0B4001B3; resources 0x0C400117 ..
// 0x0C400129).
bool IsOutlineCodeIndexField(std::uint32_t fieldId);

// The record layout the data storage's Props stream maps for the outline
// code storage, else the known one.
OutlineCodeLayout OutlineCodeLayoutOf(platform::ByteView dataProps, bool laterApplication);

// Reads the texts and parents of the storage. Polls the break per item.
OutlineCodeTable ReadOutlineCodeStorage(RunContext& ctx, const platform::CompoundFileReader& reader,
                                        platform::ElementId storage, int version, const OutlineCodeLayout& layout);

// Replaces the model's index values by the outline code's text under the
// outline code's field; index values the table cannot resolve are dropped
// (an index alone is no value). Returns the number resolved.
std::size_t ResolveOutlineCodeValues(RunContext& ctx, const OutlineCodeTable& table, int version,
                                     model::Project& gen);

}  // namespace mpp
