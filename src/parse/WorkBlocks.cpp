#include "parse/WorkBlocks.h"

#include <bit>
#include <cmath>


namespace mpp {

namespace {

constexpr std::size_t kHeaderSize = 24;
// More blocks than any plan pauses: a damaged count is not believed.
constexpr std::size_t kMaxBlocks = 4096;
// Ends count 1/80 of a minute: 8 to a tenth. Work counts minutes x 1000.
constexpr std::uint32_t kEndUnitsPerTenth = 8;
constexpr double kWorkUnitsPerTenth = 100.0;

}  // namespace

std::vector<model::SWorkBlock> ReadWorkBlocks(platform::ByteView value, std::size_t blockSize) {
  const std::size_t count = value.u16_at(0).value_or(0);
  const std::size_t begin = value.u32_at(4).value_or(0);
  if (count == 0 || count > kMaxBlocks || begin < kHeaderSize || begin > value.size() ||
      (value.size() - begin) / blockSize < count)
    return {};
  std::vector<model::SWorkBlock> blocks;
  blocks.reserve(count);
  double done = 0.0;
  std::uint32_t lastEnd = 0, placed = 0;
  bool paused = false;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = begin + i * blockSize;
    const double cumulative = std::bit_cast<double>(value.u64_at(at).value_or(0)) / kWorkUnitsPerTenth;
    const double rate = std::bit_cast<double>(value.u64_at(at + 8).value_or(0));
    const std::uint32_t end = value.u32_at(at + blockSize - 4).value_or(0) / kEndUnitsPerTenth;
    if (!std::isfinite(cumulative) || !std::isfinite(rate) || cumulative < done || cumulative > 4.0e9 || end < lastEnd)
      return {};
    const auto upTo = static_cast<std::uint32_t>(std::llround(cumulative));
    const std::uint32_t work = upTo - placed;
    if (rate == 0.0 && work != 0) return {};
    paused = paused || (rate == 0.0 && end > lastEnd);
    blocks.push_back({end, work});
    done = cumulative;
    placed = upTo;
    lastEnd = end;
  }
  if (!paused) return {};
  return blocks;
}


std::optional<std::uint8_t> ReadWorkContour(platform::ByteView remainingWork) {
  const std::uint32_t begin = remainingWork.u32_at(4).value_or(0);
  if (begin < kWorkContourOffset + 4) return std::nullopt;
  const auto code = remainingWork.u32_at(kWorkContourOffset);
  if (!code || *code > kLastPredefinedContour) return std::nullopt;
  return static_cast<std::uint8_t>(*code);
}

}  // namespace mpp
