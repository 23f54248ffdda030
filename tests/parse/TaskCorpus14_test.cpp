// The tasks of every version 14 sample written by the 2010 application,
// read by the version 14 reader and compared field by field with the
// reference facts of the same file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "support/TestRun.h"
#include "generate/CustomFieldText.h"
#include "model/CustomFieldCatalog.h"
#include "parse/CustomFields.h"
#include "parse/MppParser14.h"
#include "platform/Text.h"
#include "support/CorpusReference.h"

namespace {

namespace fs = std::filesystem;
using namespace corpus_reference;

// A custom value as the reference gives it (texts, numbers, minutes,
// booleans) against the text this system writes.
bool SameCustom(const std::string& field, const Json& expected,
                const std::map<std::pair<std::uint32_t, std::string>, std::string>& customs, std::uint32_t uid) {
  auto found = customs.find({uid, field});
  if (found == customs.end()) {
    // Flags that are off and empty values need not be stored.
    return (expected.type == Json::Type::Bool && !expected.boolean) || expected.type == Json::Type::Null;
  }
  const std::string& ours = found->second;
  switch (expected.type) {
    case Json::Type::String: return ours == expected.text;
    case Json::Type::Bool: return ours == (expected.boolean ? "1" : "0");
    case Json::Type::Number: {
      unsigned hours = 0, minutes = 0;
      if (std::sscanf(ours.c_str(), "PT%uH%uM0S", &hours, &minutes) == 2)
        return std::fabs(hours * 60.0 + minutes - expected.number) < 0.5;
      // Costs are written in hundredths, the reference gives currency.
      const double scale = field.rfind("Cost", 0) == 0 ? 100.0 : 1.0;
      return std::fabs(std::atof(ours.c_str()) / scale - expected.number) <
             0.005 * std::max(1.0, std::fabs(expected.number));
    }
    default: return false;
  }
}

TEST(TaskCorpus14, TasksAgreeWithTheReferenceFieldByField) {
  const fs::path corpus = CorpusDir();
  if (!fs::exists(corpus / "mpp")) GTEST_SKIP() << "no sample corpus at " << corpus;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(corpus / "mpp"))
    if (entry.is_regular_file() && WrittenBy2010(entry.path())) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  if (files.empty()) GTEST_SKIP() << "no version 14 samples of the 2010 application in " << corpus;

  std::map<std::string, Agreement> fields;
  std::size_t filesCompared = 0;
  std::vector<std::string> worst;
  for (const fs::path& file : files) {
    auto reference = LoadJson(corpus / "reference" / (file.stem().string() + ".json"));
    if (!reference || !reference->Get("read_ok") || !reference->Get("read_ok")->boolean) continue;
    const Json* refTasks = reference->Get("tasks");
    if (!refTasks) continue;
    ++filesCompared;

    CMppParser_14 parser(test_support::QuietRun(), platform::Utf8ToUtf16(file.string()));
    parser.Parse(nullptr);
    std::unordered_map<std::uint32_t, const model::SBkndTaskParams*> ours;
    for (const auto& task : parser.Model().Tasks()) ours.try_emplace(task.UID, &task);

    // The text of each stored custom value, by owner and field name.
    std::map<std::pair<std::uint32_t, std::string>, std::string> customs;
    for (const auto& value : parser.Model().customFieldValues) {
      const model::CustomFieldInfo* info = model::FindCustomField(value.FieldID);
      auto text = gen::CustomFieldValueText(platform::ByteView(value.Data.data(), value.Data.size()), value.FieldID);
      if (info && !info->resource && text) customs[{value.OwnerUID, info->name}] = platform::Utf16ToUtf8(*text);
    }

    std::size_t missing = 0;
    for (const Json& ref : refTasks->items) {
      const Json* uid = ref.Get("uid");
      if (!uid || uid->type != Json::Type::Number) continue;
      auto found = ours.find(static_cast<std::uint32_t>(uid->number));
      fields["uid"].Add(found != ours.end());
      if (found == ours.end()) {
        ++missing;
        continue;
      }
      const model::SBkndTaskParams& task = *found->second;
      const std::string name = platform::Utf16ToUtf8(task.Name);
      fields["name"].Add(name == (RefText(ref.Get("name")) == "null" ? "" : RefText(ref.Get("name"))));
      if (const Json* level = ref.Get("outline_level"); level && level->type == Json::Type::Number)
        fields["outline level"].Add(task.OutlineLevel == static_cast<std::uint16_t>(level->number));
      fields["start"].Add(DateText(task.Start) == RefText(ref.Get("start")));
      fields["finish"].Add(DateText(task.Finish) == RefText(ref.Get("finish")));
      if (const Json* duration = ref.Get("duration_min"); duration && duration->type == Json::Type::Number)
        fields["duration"].Add(std::fabs(task.Duration / 10.0 - duration->number) < 0.5);
      if (const Json* cost = ref.Get("cost"); cost && cost->type == Json::Type::Number)
        fields["cost"].Add(std::fabs(task.Cost - cost->number) < 0.005);
      if (const Json* percent = ref.Get("percent_complete"); percent && percent->type == Json::Type::Number)
        fields["percent complete"].Add(task.PercentComplete == static_cast<std::uint32_t>(percent->number));
      const bool refNotes = RefText(ref.Get("notes")) != "null" && !RefText(ref.Get("notes")).empty();
      if (const Json* custom = ref.Get("custom"))
        for (const auto& [field, expected] : custom->members)
          fields["custom values"].Add(SameCustom(field, expected, customs, task.UID));
      fields["notes present"].Add(refNotes == (task.Notes.has_value() && !task.Notes->empty()));
    }
    fields["task count"].Add(parser.Model().Tasks().size() == refTasks->items.size());
    if (missing) worst.push_back(file.filename().string() + ": " + std::to_string(missing) + " reference tasks missing");
  }
  for (const std::string& line : worst) std::printf("  %s\n", line.c_str());
  std::printf("%zu files of the 2010 application compared\n", filesCompared);
  for (const auto& [field, a] : fields)
    std::printf("  %-14s %6zu of %6zu agree (%.1f%%)\n", field.c_str(), a.agreed, a.compared, a.Percent());

  ASSERT_GT(filesCompared, 0u);
  // Every field but the custom values agrees on every task today (outline
  // code values are references into the outline code storage, which is not
  // read yet: 20 of 224 values). The floors sit a little below, so that a
  // regression shows while a new sample with an odd task or two does not
  // fail the run.
  const std::map<std::string, double> floors = {
      {"uid", 98}, {"name", 98}, {"outline level", 98}, {"start", 97},
      {"finish", 97}, {"duration", 98}, {"custom values", 88}, {"notes present", 98}, {"task count", 95},
      {"percent complete", 97}, {"cost", 97}};
  for (const auto& [field, floor] : floors) EXPECT_GE(fields[field].Percent(), floor) << field;
}

}  // namespace
