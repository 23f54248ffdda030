// The project's own properties of every version 9, 12 and 14 sample file
// against the reference facts, field by field and format by format. Each
// field must agree on at least 99 % of the files of each format; the
// figures are printed, and the first disagreements of a field with them.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "support/TestRun.h"
#include "parse/ProjectProperties.h"
#include "support/CorpusReference.h"

namespace {

namespace fs = std::filesystem;
using namespace corpus_reference;

std::string Text(const std::u16string& text) { return text.empty() ? "null" : platform::Utf16ToUtf8(text); }

std::string Date(const std::optional<model::PackedDate>& date) { return DateText(date.value_or(model::kNoDate)); }

template <typename T>
std::string Number(const std::optional<T>& value) {
  return value ? std::to_string(static_cast<long long>(*value)) : "null";
}

std::string RefValue(const Json* value) {
  if (!value) return "null";
  if (value->type == Json::Type::Number) return std::to_string(static_cast<long long>(value->number));
  return RefText(value);
}

std::string TimeOfDay(const std::optional<std::uint16_t>& tenths) {
  if (!tenths) return "null";
  char text[16];
  std::snprintf(text, sizeof text, "%02u:%02u", *tenths / 600u, (*tenths / 10u) % 60u);
  return text;
}

std::string Position(const std::optional<std::uint16_t>& position) {
  static const char* const kNames[] = {"before", "after", "before_with_space", "after_with_space"};
  return position && *position < 4 ? kNames[*position] : "null";
}

// The name of the reference calendar the project's calendar UID names.
std::string RefCalendarName(const Json& ref, const Json& project) {
  auto uid = RefNumber(project.Get("calendar_uid"));
  const Json* calendars = ref.Get("calendars");
  if (!uid || !calendars) return "null";
  for (const Json& calendar : calendars->items)
    if (RefNumber(calendar.Get("uid")) == uid) return RefText(calendar.Get("name"));
  return "null";
}

// field -> (ours, the reference's) of one file.
std::vector<std::pair<std::string, std::pair<std::string, std::string>>> Values(const Json& ref, const Json& project,
                                                                              const model::SProjectProps& p) {
  auto r = [&](const char* key) { return RefValue(project.Get(key)); };
  std::string weekStart = p.WeekStartDay ? std::to_string(*p.WeekStartDay + 1) : "null";
  std::string from = p.ScheduleFromStart ? (*p.ScheduleFromStart ? "start" : "finish") : "null";
  return {
      {"title", {Text(p.Title), r("title")}},
      {"subject", {Text(p.Subject), r("subject")}},
      {"author", {Text(p.Author), r("author")}},
      {"manager", {Text(p.Manager), r("manager")}},
      {"company", {Text(p.Company), r("company")}},
      {"category", {Text(p.Category), r("category")}},
      {"keywords", {Text(p.Keywords), r("keywords")}},
      {"comments", {Text(p.Comments), r("comments")}},
      {"creation_date", {Date(p.CreationDate), r("creation_date")}},
      {"last_saved", {Date(p.LastSaved), r("last_saved")}},
      {"currency_symbol", {Text(p.CurrencySymbol), r("currency_symbol")}},
      {"currency_code", {Text(p.CurrencyCode), r("currency_code")}},
      {"currency_digits", {Number(p.CurrencyDigits), r("currency_digits")}},
      {"currency_symbol_position", {Position(p.CurrencySymbolPosition), r("currency_symbol_position")}},
      {"default_start_time", {TimeOfDay(p.DefaultStartTime), r("default_start_time")}},
      {"default_end_time", {TimeOfDay(p.DefaultFinishTime), r("default_end_time")}},
      {"minutes_per_day", {Number(p.MinutesPerDay), r("minutes_per_day")}},
      {"minutes_per_week", {Number(p.MinutesPerWeek), r("minutes_per_week")}},
      {"days_per_month", {Number(p.DaysPerMonth), r("days_per_month")}},
      {"calendar", {Text(p.CalendarName), RefCalendarName(ref, project)}},
      {"week_start_day", {weekStart, r("week_start_day")}},
      {"fiscal_year_start_month", {Number(p.FiscalYearStart), r("fiscal_year_start_month")}},
      {"schedule_from", {from, r("schedule_from")}},
      {"status_date", {Date(p.StatusDate), r("status_date")}},
      {"start", {Date(p.StartDate), r("start")}},
      {"finish", {Date(p.FinishDate), r("finish")}},
  };
}

TEST(ProjectPropsCorpus, AgreesWithTheReferenceOnEveryField) {
  const fs::path corpus = CorpusDir();
  if (!fs::is_directory(corpus / "reference") || !fs::is_directory(corpus / "mpp"))
    GTEST_SKIP() << "no sample corpus at " << corpus.string() << "; nothing to compare";

  const std::map<std::string, std::u16string> dataStorages = {
      {"MPP9", u"   19"}, {"MPP12", u"   112"}, {"MPP14", u"   114"}};
  std::map<std::string, std::map<std::string, Agreement>> figures;
  std::map<std::string, std::size_t> files;
  std::map<std::string, int> shown;
  for (const auto& entry : fs::directory_iterator(corpus / "reference")) {
    if (entry.path().extension() != ".json") continue;
    auto ref = LoadJson(entry.path());
    if (!ref) continue;
    const Json* ok = ref->Get("read_ok");
    const Json* project = ref->Get("project");
    const std::string format = RefText(ref->Get("file_type"));
    auto storageName = dataStorages.find(format);
    if (!ok || !ok->boolean || !project || storageName == dataStorages.end()) continue;
    const fs::path file = corpus / "mpp" / RefText(ref->Get("file"));
    auto reader = platform::CompoundFileReader::Open(platform::Utf8ToUtf16(file.string()));
    ASSERT_TRUE(reader) << file;
    const platform::ElementId storage =
        reader->OpenStorage(platform::kRootElement, storageName->second).value_or(platform::kRootElement);
    model::SProjectProps props;
    mpp::ReadProjectProperties(test_support::QuietRun().log, *reader, storage, props);
    ++files[format];
    for (const auto& [field, pair] : Values(*ref, *project, props)) {
      const bool same = pair.first == pair.second;
      figures[format][field].Add(same);
      if (!same && shown[field]++ < 3)
        std::printf("  %s %s: ours %s, reference %s\n", file.filename().string().c_str(), field.c_str(),
                    pair.first.c_str(), pair.second.c_str());
    }
  }
  ASSERT_FALSE(files.empty()) << "no version 9, 12 or 14 reference in " << corpus.string();
  for (const auto& [format, fields] : figures) {
    std::printf("%s (%zu files)\n", format.c_str(), files[format]);
    for (const auto& [field, agreement] : fields) {
      std::printf("  %-26s %4zu/%-4zu %6.2f %%\n", field.c_str(), agreement.agreed, agreement.compared,
                  agreement.Percent());
      EXPECT_GE(agreement.Percent(), 99.0) << format << " " << field;
    }
  }
}

}  // namespace
