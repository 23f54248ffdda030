// Every version 14 sample file: the field maps of its Props stream give a
// task layout, and the task records of TBkndTask read through it (live
// records and blank rows; deleted and stale items left out) number as many
// as the reference facts list.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "parse/FieldMap.h"
#include "parse/RecordLayout.h"
#include "parse/StreamRecords.h"
#include "platform/CompoundFile.h"
#include "platform/Text.h"

namespace {

namespace fs = std::filesystem;
using namespace mpp;

std::vector<std::uint8_t> ReadStream(const platform::CompoundFileReader& reader, platform::ElementId storage,
                                     std::u16string_view name) {
  std::vector<std::uint8_t> bytes;
  if (auto stream = reader.OpenStream(storage, name)) reader.ReadStream(*stream, bytes);
  return bytes;
}

platform::ByteView View(const std::vector<std::uint8_t>& bytes) {
  return platform::ByteView(bytes.data(), bytes.size());
}

// The number of objects in the reference's "tasks" array, or nothing when
// the reference could not read its file or has no such array.
std::optional<std::size_t> ReferenceTaskCount(const fs::path& json) {
  std::ifstream in(json);
  if (!in) return std::nullopt;
  std::stringstream buffer;
  buffer << in.rdbuf();
  const std::string text = buffer.str();
  if (text.find("\"read_ok\": true") == std::string::npos) return std::nullopt;
  std::size_t at = text.find("\"tasks\": [");
  if (at == std::string::npos) return std::nullopt;
  at += 10;
  std::size_t count = 0;
  int depth = 0;
  bool inString = false;
  for (; at < text.size(); ++at) {
    const char c = text[at];
    if (inString) {
      if (c == '\\') ++at;
      else if (c == '"') inString = false;
      continue;
    }
    if (c == '"') inString = true;
    else if (c == '{' || c == '[') count += (depth++ == 0 && c == '{');
    else if (c == '}' || c == ']') {
      if (depth == 0) return count;
      --depth;
    }
  }
  return std::nullopt;
}

struct TaskCount {
  std::size_t live = 0;
  std::size_t blank = 0;  // blank rows: tasks without fixed data
  std::size_t deleted = 0;
  std::size_t stale = 0;
  std::size_t unreadable = 0;
  RecordLayout layout;
};

TaskCount CountTasks(const platform::CompoundFileReader& reader, platform::ElementId data) {
  TaskCount count;
  count.layout = ChooseLayout(RecordKind::Task, ReadFieldMaps(View(ReadStream(reader, data, u"Props"))));
  auto storage = reader.OpenStorage(data, u"TBkndTask");
  if (!storage) return count;
  const auto metaBytes = ReadStream(reader, *storage, u"FixedMeta");
  const auto dataBytes = ReadStream(reader, *storage, u"FixedData");
  FixedMeta meta(View(metaBytes), FixedMetaStride(RecordKind::Task));
  const std::size_t valid = meta.ValidCount();
  count.stale = meta.Count() - valid;
  for (std::size_t i = 0; i < valid; ++i) {
    auto item = meta.Item(i);
    if (!item) continue;
    if (item->State() == ItemState::Deleted || item->State() == ItemState::DeletedBlank) {
      ++count.deleted;
      continue;
    }
    if (item->State() == ItemState::Blank) {
      // Beyond the free-slot area a blank slot is a task of its own.
      if (item->position >= count.layout.minPosition &&
          View(dataBytes).Has(item->position, kBlankSlotSize))
        ++count.blank;
      continue;
    }
    auto record = FixedRecord(View(dataBytes), item->position, count.layout);
    if (record && RecordView(*record, count.layout).Has(Field::TaskUID))
      ++count.live;
    else
      ++count.unreadable;
  }
  return count;
}

TEST(Corpus14, TaskRecordsAgreeWithTheReference) {
  const fs::path corpus = fs::path(MDW_SOURCE_DIR "/../shared/corpus");
  if (!fs::exists(corpus / "mpp")) GTEST_SKIP() << "no sample corpus at " << corpus;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(corpus / "mpp"))
    if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());

  std::size_t version14 = 0, compared = 0, agreed = 0, fromMap = 0, deleted = 0, stale = 0, blank = 0;
  std::vector<std::string> disagreements;
  for (const fs::path& file : files) {
    auto reader = platform::CompoundFileReader::Open(platform::Utf8ToUtf16(file.string()));
    if (!reader) continue;
    auto data = reader->OpenStorage(platform::kRootElement, u"   114");
    if (!data) continue;
    ++version14;
    const TaskCount count = CountTasks(*reader, *data);
    fromMap += count.layout.source == RecordLayout::Source::FileMap;
    deleted += count.deleted;
    stale += count.stale;
    blank += count.blank;
    auto reference = ReferenceTaskCount(corpus / "reference" / (file.stem().string() + ".json"));
    if (!reference) continue;
    ++compared;
    if (count.live + count.blank == *reference) {
      ++agreed;
    } else {
      char line[512];
      std::snprintf(line, sizeof line,
                    "%s: %zu live, %zu blank (%zu deleted, %zu stale, %zu unreadable), reference %zu",
                    file.filename().string().c_str(), count.live, count.blank, count.deleted, count.stale,
                    count.unreadable, *reference);
      disagreements.push_back(line);
    }
  }
  for (const std::string& line : disagreements) std::printf("  %s\n", line.c_str());
  std::printf("version 14 files: %zu, task layout from the file's map: %zu; task count agrees with the "
              "reference in %zu of %zu compared (left out: %zu deleted, %zu stale; %zu blank rows)\n",
              version14, fromMap, agreed, compared, deleted, stale, blank);
  RecordProperty("agreed", static_cast<int>(agreed));
  RecordProperty("compared", static_cast<int>(compared));
  ASSERT_GT(version14, 0u);
  EXPECT_EQ(fromMap, version14);
  // Every intact sample agrees today; a difference is a fault (the lines
  // above name the files).
  EXPECT_EQ(agreed, compared);
}

}  // namespace
