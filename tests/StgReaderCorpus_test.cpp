// Every project file of the sample corpus goes through the salvage intact:
// each storage and each non-empty stream of the original is in the repaired
// file, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/Files.h"
#include "platform/Text.h"
#include "salvage/SalvageRun.h"

namespace {

namespace fs = std::filesystem;

TEST(StgReaderCorpus, EveryIntactFileRoundTrips) {
  const fs::path corpus = fs::path(MDW_SOURCE_DIR "/../shared/corpus");
  if (!fs::exists(corpus)) GTEST_SKIP() << "no sample corpus at " << corpus;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(corpus / "mpp"))
    if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty());

  fixture::ScratchDir scratch;
  int identical = 0;
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    auto original = platform::CompoundFileReader::Open(platform::Utf8ToUtf16(file.string()));
    ASSERT_TRUE(original) << "the sample itself does not open";
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(platform::ReadWholeFile(platform::Utf8ToUtf16(file.string()), bytes));
    salvage_test::SalvageRun run = salvage_test::Salvage(scratch, bytes);
    EXPECT_EQ(run.init, 0);
    EXPECT_EQ(run.parse, 0);
    EXPECT_EQ(run.write, 0);
    if (!run.repaired) {
      ADD_FAILURE() << "no readable repaired file";
      continue;
    }
    const auto problems = salvage_test::MissingFrom(fixture::ReadBack(*original), *run.repaired);
    for (const std::string& p : problems) ADD_FAILURE() << p;
    identical += problems.empty();
  }
  RecordProperty("identical", identical);
  std::printf("%d of %zu sample files round-trip byte-identical\n", identical, files.size());
}

}  // namespace
