// How the salvage reads untrusted bytes: through platform::ByteView, which
// checks every offset, with missing bytes read as zero, just like the zero
// slack behind the file image; nothing is ever read outside the buffer.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/ByteView.h"

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

// The salvage's reading policy on top of the bounds-checked window: a field
// that runs past the end reads its missing bytes as zero, so damaged
// offsets need no separate check before every read.
class ImageView {
 public:
  ImageView() = default;
  explicit ImageView(platform::ByteView bytes) : bytes_(bytes) {}
  ImageView(const std::uint8_t* data, std::size_t size) : bytes_(data, size) {}

  std::size_t Size() const { return bytes_.size(); }
  bool Empty() const { return bytes_.empty(); }

  // Whether [offset, offset + length) lies wholly inside the buffer.
  bool Contains(std::uint64_t offset, std::uint64_t length) const {
    return !bytes_.empty() && bytes_.Has(offset, length);
  }

  std::uint8_t U8(std::uint64_t offset) const { return bytes_.u8_at(offset).value_or(0); }
  std::uint16_t U16(std::uint64_t offset) const {
    return static_cast<std::uint16_t>(U8(offset) | (U8(offset + 1) << 8));
  }
  std::uint32_t U32(std::uint64_t offset) const {
    if (auto v = bytes_.u32_at(offset)) return *v;
    return U16(offset) | (static_cast<std::uint32_t>(U16(offset + 2)) << 16);
  }
  std::uint64_t U64(std::uint64_t offset) const {
    return U32(offset) | (static_cast<std::uint64_t>(U32(offset + 4)) << 32);
  }

  // The first N little-endian 32-bit values (a table sector's entries), read
  // with one check when they all lie inside; missing bytes read as zero.
  template <std::size_t N>
  std::array<std::uint32_t, N> Words() const {
    std::array<std::uint32_t, N> words{};
    if (bytes_.CopyTo(0, 4 * N, words.data())) {
      if constexpr (std::endian::native == std::endian::big)
        for (std::uint32_t& w : words) w = __builtin_bswap32(w);
      return words;
    }
    for (std::size_t i = 0; i < N; ++i) words[i] = U32(4 * i);
    return words;
  }

  // A little-endian field as wide as its bound needs (1 to 4 bytes).
  std::uint32_t ReadByBound(std::uint64_t offset, std::uint64_t bound) const {
    return TruncateByBound(U32(offset), bound);
  }
  bool LikeSpecial(std::uint8_t b, std::uint64_t offset) const { return IsLikeSpecial(b, U32(offset)); }

  // The bytes [offset, offset + length) as a view of their own, or nothing
  // unless wholly inside.
  std::optional<ImageView> Sub(std::uint64_t offset, std::uint64_t length) const {
    if (!Contains(offset, length)) return std::nullopt;
    return ImageView(*bytes_.Sub(offset, length));
  }

  // Copies length bytes to target; false, and nothing copied, unless the
  // range lies wholly inside the buffer.
  bool CopyOut(std::uint64_t offset, void* target, std::size_t length) const {
    return Contains(offset, length) && bytes_.CopyTo(offset, length, target);
  }

 private:
  platform::ByteView bytes_;
};

}  // namespace salvage
