// Reading untrusted bytes: field widths chosen by the largest legal value,
// and nothing read from outside the buffer.
#include <gtest/gtest.h>

#include <vector>

#include "salvage/ImageView.h"

namespace {

using salvage::ImageView;

TEST(ImageView, FieldWidthFollowsItsBound) {
  std::vector<std::uint8_t> bytes = {0x05, 0x12, 0x34, 0x56, 0x78};
  ImageView view(bytes.data(), bytes.size());
  EXPECT_EQ(view.ReadByBound(0, 255), 0x05u);
  EXPECT_EQ(view.ReadByBound(0, 256), 0x1205u);
  EXPECT_EQ(view.ReadByBound(0, 0xFFFF), 0x1205u);
  EXPECT_EQ(view.ReadByBound(0, 0x10000), 0x341205u);
  EXPECT_EQ(view.ReadByBound(0, 0xFFFFFF), 0x341205u);
  EXPECT_EQ(view.ReadByBound(0, 0x1000000), 0x56341205u);
  EXPECT_EQ(view.ReadByBound(0, 0xFFFFFFFE), 0x56341205u);
}

TEST(ImageView, BytesOutsideTheBufferReadAsZero) {
  std::vector<std::uint8_t> bytes = {0x11, 0x22, 0x33};
  ImageView view(bytes.data(), bytes.size());
  EXPECT_EQ(view.U32(0), 0x332211u);
  EXPECT_EQ(view.U32(2), 0x33u);
  EXPECT_EQ(view.U32(3), 0u);
  EXPECT_EQ(view.U64(0xFFFFFFFFFFFFFFF0ull), 0u);
  EXPECT_FALSE(view.Sub(1, 3));
  ASSERT_TRUE(view.Sub(1, 2));
  EXPECT_EQ(view.Sub(1, 2)->U32(0), 0x3322u);  // a part reads zero past its own end
  std::uint8_t target[4] = {9, 9, 9, 9};
  EXPECT_FALSE(view.CopyOut(2, target, 4));
  EXPECT_EQ(target[0], 9);
  EXPECT_FALSE(ImageView().Contains(0, 0));
}

TEST(ImageView, DamagedReservedValuesAreRecognised) {
  EXPECT_TRUE(salvage::IsLikeSpecial(0xFE, 0xFFFFFFFE));
  EXPECT_TRUE(salvage::IsLikeSpecial(0xFE, 0xFF00FFFE));  // one damaged byte
  EXPECT_FALSE(salvage::IsLikeSpecial(0xFE, 0xFF0000FE));
  EXPECT_FALSE(salvage::IsLikeSpecial(0xFF, 0xFFFFFFFE));
  EXPECT_TRUE(salvage::IsLikeSpecial(0xFF, 0x00FFFFFF));
}

}  // namespace
