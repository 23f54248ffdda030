// Every version 12 and 9 sample file through its reader: the parse
// succeeds, and the model agrees with the reference facts, printed by
// format and by the application that wrote the file. The floors are a
// little below what the readers reach today; a fall below them is a fault.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "support/TestRun.h"
#include "base/LibrarySettings.h"
#include "base/Logger.h"
#include "parse/MppParser12.h"
#include "parse/MppParser9.h"
#include "support/CfbFixture.h"
#include "support/CorpusReference.h"

namespace {

namespace fs = std::filesystem;
using namespace corpus_reference;

std::unique_ptr<CMppParser_14> ParserFor(RunContext& ctx, const std::string& format, const fs::path& file) {
  const std::u16string path = platform::Utf8ToUtf16(file.string());
  if (format == "MPP12") return std::make_unique<CMppParser_12>(ctx, path);
  if (format == "MPP9") return std::make_unique<CMppParser>(ctx, path);
  return nullptr;
}

struct Figures {
  std::size_t files = 0, failed = 0;
  std::map<std::string, Agreement> fields;
};

void Compare(const Json& ref, const model::Project& model, Figures& figures) {
  auto& f = figures.fields;
  std::unordered_map<std::uint32_t, const model::SBkndTaskParams*> tasks;
  for (const auto& task : model.Tasks()) tasks.try_emplace(task.UID, &task);
  if (const Json* list = ref.Get("tasks")) {
    for (const Json& t : list->items) {
      auto uid = RefNumber(t.Get("uid"));
      if (!uid) continue;
      auto found = tasks.find(static_cast<std::uint32_t>(*uid));
      f["task recall"].Add(found != tasks.end());
      if (found == tasks.end()) continue;
      const model::SBkndTaskParams& ours = *found->second;
      const std::string name = RefText(t.Get("name"));
      if (name != "null") f["task name"].Add(platform::Utf16ToUtf8(ours.Name) == name);
      const std::string start = RefText(t.Get("start"));
      if (start != "null") f["task start"].Add(DateText(ours.Start) == start);
      const std::string finish = RefText(t.Get("finish"));
      if (finish != "null") f["task finish"].Add(DateText(ours.Finish) == finish);
      if (auto minutes = RefNumber(t.Get("duration_min")))
        f["task duration"].Add(std::fabs(ours.Duration / 10.0 - *minutes) < 0.5);
    }
  }
  std::set<std::uint32_t> resources;
  for (const auto& r : model.Resources()) resources.insert(r.UID);
  if (const Json* list = ref.Get("resources"))
    for (const Json& r : list->items)
      if (auto uid = RefNumber(r.Get("uid")); uid && *uid != 0)
        f["resource recall"].Add(resources.count(static_cast<std::uint32_t>(*uid)) != 0);
  // Each reference pair (first, second UID) in list found among ours.
  using Pairs = std::set<std::pair<std::uint32_t, std::uint32_t>>;
  auto recall = [&](const char* list, const char* first, const char* second, const Pairs& ours, const char* figure) {
    if (const Json* items = ref.Get(list))
      for (const Json& item : items->items) {
        auto a = RefNumber(item.Get(first));
        auto b = RefNumber(item.Get(second));
        if (a && b) f[figure].Add(ours.count({static_cast<std::uint32_t>(*a), static_cast<std::uint32_t>(*b)}) != 0);
      }
  };
  Pairs assignments, links;
  for (const auto& a : model.assignments) assignments.insert({a.TaskUID, a.ResourceUID});
  for (const auto& l : model.links) links.insert({l.PredecessorUID, l.SuccessorUID});
  recall("assignments", "task_uid", "resource_uid", assignments, "assignment recall");
  recall("links", "predecessor_uid", "successor_uid", links, "link recall");
}

class CorpusOlder : public ::testing::Test {
 protected:
  void SetUp() override { run.settings.breakFlag = &cancel; }
  test_support::TestRun run;
  RunContext& ctx = run.ctx;
  unsigned char cancel = 0;
};

TEST_F(CorpusOlder, ModelsAgreeWithTheReference) {
  const fs::path corpus = CorpusDir();
  if (!fs::exists(corpus / "mpp")) GTEST_SKIP() << "no sample corpus at " << corpus;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(corpus / "mpp"))
    if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());

  std::map<std::string, Figures> byFormat, byApplication;
  std::vector<std::string> failures;
  for (const fs::path& file : files) {
    auto ref = LoadJson(corpus / "reference" / (file.stem().string() + ".json"));
    if (!ref || !ref->Get("read_ok") || !ref->Get("read_ok")->boolean) continue;
    const std::string format = RefText(ref->Get("file_type"));
    auto parser = ParserFor(ctx, format, file);
    if (!parser) continue;
    const std::string application = format + " " + RefText(ref->Get("application"));
    const int result = parser->Parse(nullptr);
    for (Figures* figures : {&byFormat[format], &byApplication[application]}) {
      ++figures->files;
      if (result != 0) ++figures->failed;
      Compare(*ref, parser->Model(), *figures);
    }
    if (result != 0) failures.push_back(file.filename().string() + ": " + std::to_string(result));
  }
  if (byFormat.empty()) GTEST_SKIP() << "no version 12 or 9 samples in " << corpus;

  auto print = [](const std::string& group, const Figures& figures) {
    std::printf("%s: %zu files, %zu failed\n", group.c_str(), figures.files, figures.failed);
    for (const auto& [field, agreement] : figures.fields)
      std::printf("  %-18s %6.1f%%  (%zu/%zu)\n", field.c_str(), agreement.Percent(), agreement.agreed,
                  agreement.compared);
  };
  for (const auto& [group, figures] : byFormat) print(group, figures);
  for (const auto& [group, figures] : byApplication) print(group, figures);

  EXPECT_TRUE(failures.empty()) << failures.size() << " failed, first: " << failures.front();
  // Floors a little below today's figures.
  const std::map<std::string, double> floors = {{"task recall", 99},  {"task name", 99},
                                                {"task start", 98},   {"task finish", 98},
                                                {"task duration", 98}, {"resource recall", 99},
                                                {"assignment recall", 98}, {"link recall", 98}};
  for (const auto& [format, figures] : byFormat)
    for (const auto& [field, least] : floors) {
      auto found = figures.fields.find(field);
      if (found != figures.fields.end()) {
        EXPECT_GE(found->second.Percent(), least) << format << " " << field;
      }
    }
}

// The same files without the Props stream of their data storage: read
// through the known layout their records choose, whichever application
// wrote them (files converted down by the 2010 application carry the
// version 14 layouts in their older storages).
TEST_F(CorpusOlder, WithoutPropsTheKnownLayoutsRecoverEveryFile) {
  const fs::path corpus = CorpusDir();
  if (!fs::exists(corpus / "mpp")) GTEST_SKIP() << "no sample corpus at " << corpus;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(corpus / "mpp"))
    if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());

  fixture::ScratchDir scratch;
  std::map<std::string, Figures> byApplication;
  for (const fs::path& file : files) {
    auto ref = LoadJson(corpus / "reference" / (file.stem().string() + ".json"));
    if (!ref || !ref->Get("read_ok") || !ref->Get("read_ok")->boolean) continue;
    const std::string format = RefText(ref->Get("file_type"));
    if (format != "MPP12" && format != "MPP9") continue;
    auto reader = platform::CompoundFileReader::Open(platform::Utf8ToUtf16(file.string()));
    if (!reader) continue;
    fixture::Node root = fixture::ReadBack(*reader);
    const std::u16string data = format == "MPP12" ? u"   112" : u"   19";
    for (fixture::Node& storage : root.children)
      if (storage.name == data)
        std::erase_if(storage.children, [](const fixture::Node& n) { return n.name == u"Props"; });
    const std::string path = scratch.File(file.stem().string() + ".mpp");
    ASSERT_TRUE(fixture::WriteFile(path, fixture::Build(root)));
    auto parser = ParserFor(ctx, format, path);
    const int result = parser->Parse(nullptr);
    Figures& figures = byApplication[format + " " + RefText(ref->Get("application"))];
    ++figures.files;
    figures.failed += result != 0;
    Compare(*ref, parser->Model(), figures);
  }
  if (byApplication.empty()) GTEST_SKIP() << "no version 12 or 9 samples in " << corpus;
  for (const auto& [group, figures] : byApplication) {
    std::printf("%s without Props: %zu files, %zu failed\n", group.c_str(), figures.files, figures.failed);
    for (const auto& [field, agreement] : figures.fields)
      std::printf("  %-18s %6.1f%%  (%zu/%zu)\n", field.c_str(), agreement.Percent(), agreement.agreed,
                  agreement.compared);
    for (const char* field : {"task recall", "task name", "task start", "resource recall", "assignment recall"}) {
      auto found = figures.fields.find(field);
      if (found != figures.fields.end()) {
        EXPECT_GE(found->second.Percent(), 98.0) << group << " " << field;
      }
    }
  }
}

}  // namespace
