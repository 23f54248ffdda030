// The assignments and links of every version 14 sample, read by the
// version 14 reader: on the files of the 2010 application they are
// compared with the reference facts (assignments matched by task and
// resource UID, links by predecessor and successor); every file, whatever
// application wrote it, must end in a well-formed document.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/TestRun.h"
#include "generate/GenTestSupport.h"
#include "generate/XMLGen.h"
#include "parse/MppParser14.h"
#include "platform/Text.h"
#include "support/CorpusReference.h"

namespace {

namespace fs = std::filesystem;
using namespace corpus_reference;

// How the reference names the resource of work assigned to nobody.
constexpr std::int64_t kUnassigned = -65535;
constexpr const char* kLinkTypes[] = {"FF", "FS", "SF", "SS"};

using Key = std::pair<std::int64_t, std::int64_t>;

// Our records by key, each handed out once, in file order.
template <typename Record>
class Matcher {
 public:
  template <typename KeyOf>
  Matcher(const std::vector<Record>& records, KeyOf keyOf) {
    for (const Record& record : records) byKey_[keyOf(record)].push_back(&record);
  }
  const Record* Take(const Key& key) {
    auto found = byKey_.find(key);
    if (found == byKey_.end() || found->second.empty()) return nullptr;
    const Record* record = found->second.front();
    found->second.erase(found->second.begin());
    return record;
  }
  std::size_t Left() const {
    std::size_t left = 0;
    for (const auto& [key, records] : byKey_) left += records.size();
    return left;
  }

 private:
  std::map<Key, std::vector<const Record*>> byKey_;
};

std::int64_t RefInt(const Json& item, const char* field, std::int64_t none) {
  auto value = RefNumber(item.Get(field));
  return value ? static_cast<std::int64_t>(*value) : none;
}

bool Near(double ours, std::optional<double> reference, double tolerance) {
  return reference && std::fabs(ours - *reference) < tolerance;
}

TEST(AssnCorpus14, AssignmentsAndLinksAgreeWithTheReference) {
  const fs::path corpus = CorpusDir();
  if (!fs::exists(corpus / "mpp")) GTEST_SKIP() << "no sample corpus at " << corpus;
  if (!gen_test::HaveXmllint()) GTEST_SKIP() << "xmllint is not installed";
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(corpus / "mpp"))
    if (entry.is_regular_file() && IsVersion14(entry.path())) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  if (files.empty()) GTEST_SKIP() << "no version 14 samples in " << corpus;

  // The files of the 2010 application, and (shown, not asserted) the others.
  std::map<std::string, Agreement> fields2010, fieldsLater;
  std::size_t compared = 0, extraAssignments = 0, extraLinks = 0, documents = 0;
  std::vector<std::string> notes, broken;
  for (const fs::path& file : files) {
    gen_test::MemoryGen memory;
    CMppParser_14 parser(test_support::QuietRun(), platform::Utf8ToUtf16(file.string()), memory.project, gen_test::WriteInto(memory));
    parser.Parse(nullptr);
    ++documents;
    if (const std::string complaint = gen_test::WellFormed(memory.Text()); !complaint.empty())
      broken.push_back(file.filename().string() + ": " + complaint);

    const bool by2010 = WrittenBy2010(file);
    std::map<std::string, Agreement>& fields = by2010 ? fields2010 : fieldsLater;
    auto reference = LoadJson(corpus / "reference" / (file.stem().string() + ".json"));
    if (!reference || !reference->Get("read_ok") || !reference->Get("read_ok")->boolean) continue;
    compared += by2010;
    const model::Project& model = parser.Model();

    Matcher<model::SBkndAssnParams> assignments(model.assignments, [](const model::SBkndAssnParams& a) {
      return Key(a.TaskUID, static_cast<std::int32_t>(a.ResourceUID));
    });
    std::size_t missing = 0;
    if (const Json* refAssignments = reference->Get("assignments")) {
      for (const Json& ref : refAssignments->items) {
        const Key key(RefInt(ref, "task_uid", -1), RefInt(ref, "resource_uid", kUnassigned));
        const model::SBkndAssnParams* ours = assignments.Take(key);
        fields["assignment"].Add(ours != nullptr);
        if (!ours) {
          ++missing;
          continue;
        }
        fields["  units"].Add(Near(ours->Units / 100.0, RefNumber(ref.Get("units")), 0.5));
        fields["  work"].Add(Near(ours->Work / 10.0, RefNumber(ref.Get("work_min")), 1.0));
        fields["  actual work"].Add(Near(ours->ActualWork / 10.0, RefNumber(ref.Get("actual_work_min")), 1.0));
        fields["  cost"].Add(Near(ours->Cost, RefNumber(ref.Get("cost")), 0.01));
        fields["  start"].Add(DateText(ours->Start) == RefText(ref.Get("start")));
        fields["  finish"].Add(DateText(ours->Finish) == RefText(ref.Get("finish")));
      }
    }
    extraAssignments += assignments.Left();
    if (assignments.Left())
      notes.push_back(file.filename().string() + ": " + std::to_string(assignments.Left()) +
                      " assignments not in the reference");

    Matcher<model::SBkndConsParams> links(model.links, [](const model::SBkndConsParams& l) {
      return Key(l.PredecessorUID, l.SuccessorUID);
    });
    if (const Json* refLinks = reference->Get("links")) {
      for (const Json& ref : refLinks->items) {
        const Key key(RefInt(ref, "predecessor_uid", -1), RefInt(ref, "successor_uid", -1));
        const model::SBkndConsParams* ours = links.Take(key);
        fields["link"].Add(ours != nullptr);
        if (!ours) {
          ++missing;
          continue;
        }
        fields["  type"].Add(ours->Type <= 3 && RefText(ref.Get("type")) == kLinkTypes[ours->Type]);
        fields["  lag"].Add(Near(ours->LinkLag / 10.0, RefNumber(ref.Get("lag_min")), 1.0));
      }
    }
    extraLinks += links.Left();
    if (missing)
      notes.push_back(file.filename().string() + ": " + std::to_string(missing) + " reference items missing");
  }

  for (const std::string& line : notes) std::printf("  %s\n", line.c_str());
  std::printf("%zu version 14 documents written, %zu files of the 2010 application compared\n", documents, compared);
  for (const auto& [field, a] : fields2010)
    std::printf("  %-14s %6zu of %6zu agree (%.1f%%)\n", field.c_str(), a.agreed, a.compared, a.Percent());
  std::printf("files of later applications:\n");
  for (const auto& [field, a] : fieldsLater)
    std::printf("  %-14s %6zu of %6zu agree (%.1f%%)\n", field.c_str(), a.agreed, a.compared, a.Percent());
  std::printf("not in the reference: %zu assignments, %zu links\n", extraAssignments, extraLinks);

  EXPECT_TRUE(broken.empty()) << broken.size() << " documents not well-formed, first: " << broken.front();
  ASSERT_GT(compared, 0u);
  const std::map<std::string, double> floors = {
      {"assignment", 98}, {"  units", 98}, {"  work", 98}, {"  actual work", 98}, {"  cost", 98},
      {"  start", 98}, {"  finish", 98}, {"link", 98}, {"  type", 98}, {"  lag", 98}};
  for (const auto& [field, floor] : floors) EXPECT_GE(fields2010[field].Percent(), floor) << field;
}

}  // namespace
