// One recovered directory entry: its 128 bytes (name repaired and fields
// cleaned), the size it declared, and the stream data read for it.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "salvage/Buffer.h"
#include "salvage/Layout.h"
#include "salvage/ImageView.h"

namespace salvage {

class DirItem {
 public:
  using Entry = std::array<std::uint8_t, kDirEntrySize>;

  explicit DirItem(const Entry& entry) : entry_(entry) {}

  // The name's 32 units as stored (not necessarily terminated).
  std::u16string RawName() const;
  // The name up to its first zero unit.
  std::u16string Name() const;
  void SetNameUnit(std::uint32_t i, char16_t unit);
  // The name in the ANSI code page, for logs; at most 512 bytes.
  std::string NarrowName() const;

  std::uint8_t Type() const { return entry_[kDirType]; }
  void SetType(std::uint8_t type) { entry_[kDirType] = type; }
  std::uint32_t Prev() const { return U32(kDirLeftSibling); }
  std::uint32_t Next() const { return U32(kDirRightSibling); }
  std::uint32_t Child() const { return U32(kDirChild); }
  std::uint32_t Start() const { return U32(kDirStartSector); }
  std::uint32_t Size() const { return U32(kDirSizeLow); }
  std::uint64_t Created() const { return U32(kDirCreated) | (std::uint64_t{U32(kDirCreated + 4)} << 32); }
  std::uint64_t Modified() const { return U32(kDirModified) | (std::uint64_t{U32(kDirModified + 4)} << 32); }
  std::array<std::uint8_t, kDirClassIdSize> ClassId() const;
  void SetU32(std::uint32_t offset, std::uint32_t value);
  const Entry& EntryBytes() const { return entry_; }

  std::uint32_t declaredSize = 0;
  // The start sector as the entry stores it, before it was cut to its bound.
  std::uint32_t storedStart = kEndOfChain;
  // Stream data as read, where it had to be pieced together; empty when
  // there is none or when the stream is a view of the image (Content).
  Bytes data;
  // 1 when created and whenever a data buffer is allocated; 0 when a stream
  // read through the mini SAT got no buffer.
  bool readFlag = true;
  // The place of an entry whose directory sector held nothing readable.
  bool lost = false;

  // The stream's bytes: its data, or, for a stream that lies in one run of
  // the file's sectors, those sectors in the image, not copied.
  std::span<const std::uint8_t> Content() const {
    return data.empty() ? view_ : std::span<const std::uint8_t>(data.data(), data.size());
  }
  void SetView(std::span<const std::uint8_t> view) {
    Bytes().swap(data);
    view_ = view;
  }
  bool Viewed() const { return !view_.empty(); }
  void FreeData() {
    Bytes().swap(data);
    view_ = {};
  }

 private:
  std::uint32_t U32(std::uint32_t offset) const {
    return platform::ByteView(entry_.data(), entry_.size()).u32_at(offset).value_or(0);
  }
  Entry entry_;
  std::span<const std::uint8_t> view_;
};

}  // namespace salvage
