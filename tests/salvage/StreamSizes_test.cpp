// Sound files at the size limits of the container: streams on either side
// of the mini-stream cutoff, and a file large enough that its allocation
// table is listed through more than one DIF sector. Every stream comes back
// byte for byte.
#include <gtest/gtest.h>

#include "salvage/SalvageRun.h"

namespace {

using salvage_test::MissingFrom;
using salvage_test::Salvage;

struct SizesCase {
  const char* name;
  std::vector<std::size_t> sizes;  // one stream each, named "S<n>"
  std::uint32_t difSectors;        // how many the written file has
};

TEST(StreamSizes, EveryStreamComesBackWhole) {
  const std::size_t kMiB = 1 << 20;
  const std::vector<SizesCase> cases = {
      {"around the mini-stream cutoff", {4095, 4096, 4097, 1, 8191, 8192}, 0},
      // 237 SAT sectors or more: 109 in the header, the rest in two DIF sectors.
      {"two DIF sectors", {5 * kMiB + 3, 5 * kMiB, 5 * kMiB + 4096, 900 * 1024, 4096, 100}, 2},
  };
  for (const SizesCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<fixture::Node> streams;
    for (std::size_t i = 0; i < c.sizes.size(); ++i)
      streams.push_back(fixture::Stream(u"S" + platform::Utf8ToUtf16(std::to_string(i)),
                                        fixture::Pattern(c.sizes[i], static_cast<std::uint32_t>(i + 1))));
    const fixture::Node root = fixture::Root(std::move(streams));
    fixture::Image image = fixture::Image::Of(root);
    ASSERT_EQ(image.DifatSectors().size(), c.difSectors);

    fixture::ScratchDir scratch;
    auto run = Salvage(scratch, image.bytes());
    ASSERT_TRUE(run.repaired);
    EXPECT_EQ(MissingFrom(root, *run.repaired), std::vector<std::string>{});
  }
}

}  // namespace
