// The one reader of untrusted bytes in the salvage: a view over a buffer
// that checks every offset. A field that runs past the end reads the missing
// bytes as zero, just like the zero slack behind the file image; nothing is
// ever read or written outside the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace salvage {

// How many bytes a field needs to hold values up to bound: a damaged high
// byte of a field that must be small is thereby ignored.
constexpr unsigned WidthForBound(std::uint64_t bound) {
  return bound <= 0xFF ? 1 : bound <= 0xFFFF ? 2 : bound <= 0xFFFFFF ? 3 : 4;
}

// A 32-bit value cut to the width its bound allows.
constexpr std::uint32_t TruncateByBound(std::uint32_t value, std::uint64_t bound) {
  switch (WidthForBound(bound)) {
    case 1: return value & 0xFF;
    case 2: return value & 0xFFFF;
    case 3: return value & 0xFFFFFF;
    default: return value;
  }
}

// A damaged reserved value: the low byte is b and at least two of the three
// bytes above it are still 0xFF.
constexpr bool IsLikeSpecial(std::uint8_t b, std::uint32_t value) {
  if ((value & 0xFF) != b) return false;
  int ff = 0;
  for (int shift = 8; shift <= 24; shift += 8) ff += ((value >> shift) & 0xFF) == 0xFF;
  return ff >= 2;
}

// A little-endian 32-bit value at p (which the caller has bounds-checked).
inline std::uint32_t LoadU32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

class ImageView {
 public:
  ImageView() = default;
  ImageView(std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::size_t Size() const { return size_; }
  bool Empty() const { return data_ == nullptr || size_ == 0; }

  // Whether [offset, offset + length) lies wholly inside the buffer.
  bool Contains(std::uint64_t offset, std::uint64_t length) const {
    return data_ != nullptr && offset <= size_ && length <= size_ - offset;
  }

  std::uint8_t U8(std::uint64_t offset) const { return Contains(offset, 1) ? data_[offset] : 0; }
  std::uint16_t U16(std::uint64_t offset) const {
    return static_cast<std::uint16_t>(U8(offset) | (U8(offset + 1) << 8));
  }
  std::uint32_t U32(std::uint64_t offset) const {
    if (Contains(offset, 4)) return LoadU32(data_ + offset);
    return U16(offset) | (static_cast<std::uint32_t>(U16(offset + 2)) << 16);
  }
  std::uint64_t U64(std::uint64_t offset) const {
    return U32(offset) | (static_cast<std::uint64_t>(U32(offset + 4)) << 32);
  }

  // A little-endian field as wide as its bound needs (1 to 4 bytes).
  std::uint32_t ReadByBound(std::uint64_t offset, std::uint64_t bound) const {
    return TruncateByBound(U32(offset), bound);
  }
  bool LikeSpecial(std::uint8_t b, std::uint64_t offset) const { return IsLikeSpecial(b, U32(offset)); }

  // The bytes [offset, offset + length), or null unless wholly inside.
  const std::uint8_t* Span(std::uint64_t offset, std::uint64_t length) const {
    return Contains(offset, length) ? data_ + offset : nullptr;
  }

  // Copies length bytes to target; false, and nothing copied, unless the
  // range lies wholly inside the buffer.
  bool CopyOut(std::uint64_t offset, void* target, std::size_t length) const {
    if (!Contains(offset, length)) return false;
    if (length != 0) std::memcpy(target, data_ + offset, length);
    return true;
  }
  bool PutU16(std::uint64_t offset, std::uint16_t value) {
    if (!Contains(offset, 2)) return false;
    data_[offset] = static_cast<std::uint8_t>(value);
    data_[offset + 1] = static_cast<std::uint8_t>(value >> 8);
    return true;
  }
  bool PutU32(std::uint64_t offset, std::uint32_t value) {
    if (!Contains(offset, 4)) return false;
    for (int i = 0; i < 4; ++i) data_[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    return true;
  }

 private:
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace salvage
