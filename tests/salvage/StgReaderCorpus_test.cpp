// Every project file of the sample corpus goes through the salvage intact:
// each storage and each non-empty stream of the original is in the repaired
// file, byte for byte. Without its header, each still gives up its whole
// allocation table.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/Files.h"
#include "platform/Text.h"
#include "salvage/SalvageRun.h"
#include "salvage/Sat.h"

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> CorpusFiles() {
  const fs::path corpus = fs::path(MDW_SOURCE_DIR "/../shared/corpus");
  std::vector<fs::path> files;
  if (!fs::exists(corpus)) return files;
  for (const auto& entry : fs::directory_iterator(corpus / "mpp"))
    if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

TEST(StgReaderCorpus, EveryIntactFileRoundTrips) {
  const std::vector<fs::path> files = CorpusFiles();
  if (files.empty()) GTEST_SKIP() << "no sample corpus beside the checkout";

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

// The header gone (all 512 bytes zero): its list of SAT sectors, the DIF and
// every start sector with it. The table is found from its own marks, the
// mini SAT as the chain no entry names, and every stream comes back.
TEST(StgReaderCorpus, FilesWithoutTheirHeaderComeBackWhole) {
  const std::vector<fs::path> files = CorpusFiles();
  if (files.empty()) GTEST_SKIP() << "no sample corpus beside the checkout";
  fixture::ScratchDir scratch;
  int whole = 0;
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(platform::ReadWholeFile(platform::Utf8ToUtf16(file.string()), bytes));
    const fixture::Image intact(bytes);
    std::vector<std::uint32_t> expected;
    for (std::uint32_t s : intact.FatSectors()) expected.push_back((s + 1) * 512);
    std::fill(bytes.begin(), bytes.begin() + 512, 0);
    salvage_test::SalvageRun run = salvage_test::Salvage(scratch, bytes);
    ASSERT_TRUE(run.reader);
    EXPECT_EQ(run.reader->Sat()->SatList(), expected);
    if (!run.repaired) {
      ADD_FAILURE() << "no readable repaired file";
      continue;
    }
    auto original = platform::CompoundFileReader::Open(platform::Utf8ToUtf16(file.string()));
    ASSERT_TRUE(original);
    const auto problems = salvage_test::MissingFrom(fixture::ReadBack(*original), *run.repaired);
    for (const std::string& p : problems) ADD_FAILURE() << p;
    whole += problems.empty();
  }
  std::printf("%d of %zu sample files without their header come back whole\n", whole, files.size());
}

}  // namespace
