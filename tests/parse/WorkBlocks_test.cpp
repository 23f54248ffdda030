// The stretches and pauses of an assignment's work as a file times them,
// and the values that cannot be believed.
#include "parse/WorkBlocks.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <vector>

namespace {

struct Block {
  double minutes;   // the work done by the block's end
  double rate;      // 0 in a pause
  std::uint32_t endMinutes;
};

// A value of field 49: the header, then 28-byte blocks from byte 44.
std::vector<std::uint8_t> Value(const std::vector<Block>& blocks, std::uint16_t count) {
  std::vector<std::uint8_t> v(44 + 28 * blocks.size(), 0);
  auto put = [&](std::size_t at, auto x) { std::memcpy(v.data() + at, &x, sizeof x); };
  put(0, count);
  put(4, std::uint32_t{44});
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    const std::size_t at = 44 + 28 * i;
    put(at, blocks[i].minutes * 1000);
    put(at + 8, blocks[i].rate);
    put(at + 24, blocks[i].endMinutes * 80);
  }
  return v;
}

TEST(WorkBlocks, SplitWorkIsReadAndDamageIsNot) {
  struct Case {
    const char* name;
    std::vector<Block> blocks;
    int count;  // -1: as many as blocks
    std::vector<std::pair<std::uint32_t, std::uint32_t>> expected;  // (end, work) in tenths
  };
  const Case cases[] = {
      {"work, pause, work", {{1920, 160000, 1920}, {1920, 0, 2880}, {4800, 160000, 5280}}, -1,
       {{19200, 19200}, {28800, 0}, {52800, 28800}}},
      {"no pause: nothing to keep", {{4800, 160000, 4800}}, -1, {}},
      {"work in a pause", {{1920, 160000, 1920}, {2400, 0, 2880}}, -1, {}},
      {"work going back", {{1920, 160000, 1920}, {1000, 0, 2880}}, -1, {}},
      {"end going back", {{1920, 160000, 1920}, {1920, 0, 1000}}, -1, {}},
      {"more blocks counted than held", {{1920, 160000, 1920}, {1920, 0, 2880}}, 3, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto bytes = Value(c.blocks, static_cast<std::uint16_t>(c.count < 0 ? c.blocks.size() : c.count));
    const auto blocks = mpp::ReadWorkBlocks(platform::ByteView(bytes.data(), bytes.size()), mpp::kRemainingWorkBlock);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> got;
    for (const model::SWorkBlock& b : blocks) got.emplace_back(b.end, b.work);
    EXPECT_EQ(got, c.expected);
  }
}

}  // namespace
