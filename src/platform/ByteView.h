// A read-only window on bytes that came from outside: every read names its
// offset and is checked against the end, so nothing past the window is ever
// touched, whatever the bytes claim. Values are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

namespace platform {

class ByteView {
 public:
  ByteView() = default;
  ByteView(const std::uint8_t* data, std::size_t size) : data_(data), size_(data ? size : 0) {}

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  // True when [offset, offset + length) lies inside the window.
  bool Has(std::size_t offset, std::size_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }

  // The part [offset, offset + length), or nothing when it does not fit.
  std::optional<ByteView> Sub(std::size_t offset, std::size_t length) const {
    if (!Has(offset, length)) return std::nullopt;
    return ByteView(data_ + offset, length);
  }

  std::optional<std::uint8_t> u8_at(std::size_t offset) const { return Read<std::uint8_t>(offset); }
  std::optional<std::uint16_t> u16_at(std::size_t offset) const { return Read<std::uint16_t>(offset); }
  std::optional<std::uint32_t> u32_at(std::size_t offset) const { return Read<std::uint32_t>(offset); }
  std::optional<std::uint64_t> u64_at(std::size_t offset) const { return Read<std::uint64_t>(offset); }

  // Copies length bytes from offset to out; false (and nothing copied) when
  // they do not all lie inside the window.
  bool CopyTo(std::size_t offset, std::size_t length, void* out) const {
    if (!Has(offset, length)) return false;
    if (length > 0) std::memcpy(out, data_ + offset, length);
    return true;
  }

 private:
  template <typename T>
  std::optional<T> Read(std::size_t offset) const {
    if (!Has(offset, sizeof(T))) return std::nullopt;
    T value = 0;
    for (std::size_t i = sizeof(T); i-- > 0;)
      value = static_cast<T>((value << 8) | data_[offset + i]);
    return value;
  }

  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace platform
