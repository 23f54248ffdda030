#include "salvage/DirItem.h"

#include "platform/Text.h"

namespace salvage {

static_assert(kDirName + 2 * kDirNameUnits <= kDirEntrySize);

std::u16string DirItem::RawName() const {
  std::u16string name(kDirNameUnits, u'\0');
  for (std::uint32_t i = 0; i < kDirNameUnits; ++i)
    name[i] = static_cast<char16_t>(entry_[kDirName + 2 * i] | (entry_[kDirName + 2 * i + 1] << 8));
  return name;
}

std::u16string DirItem::Name() const {
  std::u16string name = RawName();
  if (auto end = name.find(u'\0'); end != std::u16string::npos) name.resize(end);
  return name;
}

void DirItem::SetNameUnit(std::uint32_t i, char16_t unit) {
  if (i >= kDirNameUnits) return;
  entry_[kDirName + 2 * i] = static_cast<std::uint8_t>(unit & 0xFF);
  entry_[kDirName + 2 * i + 1] = static_cast<std::uint8_t>(unit >> 8);
}

std::string DirItem::NarrowName() const {
  std::string text = platform::Utf16ToAnsi(Name());
  if (text.size() > 512) text.resize(512);
  return text;
}

std::array<std::uint8_t, kDirClassIdSize> DirItem::ClassId() const {
  std::array<std::uint8_t, kDirClassIdSize> id{};
  for (std::uint32_t i = 0; i < kDirClassIdSize; ++i) id[i] = entry_[kDirClassId + i];
  return id;
}

void DirItem::SetU32(std::uint32_t offset, std::uint32_t value) {
  if (offset + 4 > kDirEntrySize) return;
  for (int i = 0; i < 4; ++i) entry_[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace salvage
