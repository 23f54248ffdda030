// Byte buffers that are filled once: growing them does not first zero what
// is about to be overwritten (the image, stream data).
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <vector>

namespace salvage {

template <typename T>
struct DefaultInitAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = DefaultInitAllocator<U>;
  };
  DefaultInitAllocator() = default;
  template <typename U>
  DefaultInitAllocator(const DefaultInitAllocator<U>&) noexcept {}
  template <typename U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

// resize() leaves new bytes unset; every user fills them before reading.
using Bytes = std::vector<std::uint8_t, DefaultInitAllocator<std::uint8_t>>;

}  // namespace salvage
