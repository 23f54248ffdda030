// Any bytes as the streams of a resource or a calendar storage (the first
// byte chooses, the places the next ten bytes name cut the rest): the
// passes read what they can without reading outside a stream or a block,
// make no more resources or calendars than the streams have items, and
// leave every calendar with a whole week of at most five periods a day.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "FuzzRun.h"
#include "model/Project.h"
#include "parse/CalendarParser.h"
#include "parse/RecordLayout.h"
#include "parse/RscStorageParser.h"
#include "platform/ByteView.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const platform::ByteView input(data, size);
  constexpr std::size_t kHead = 11;
  if (size < kHead) return 0;
  platform::ByteView parts[5];
  std::size_t at = kHead;
  for (int i = 0; i < 4; ++i) {
    const std::size_t want = input.u16_at(1 + 2 * i).value_or(0);
    const std::size_t take = want < size - at ? want : size - at;
    parts[i] = *input.Sub(at, take);
    at += take;
  }
  parts[4] = *input.Sub(at, size - at);

  model::Project gen;
  if (input.u8_at(0).value_or(0) & 1) {
    const auto var = mpp::ReadResourceVarData(FuzzRun(), parts[0], parts[1], gen);
    const auto fixed = mpp::ReadResourceFixedData(FuzzRun(), parts[2], parts[3], parts[4],
                                                  mpp::BuiltInLayout14(mpp::RecordKind::Resource), gen);
    if (gen.Resources().size() > var.items + fixed.items) std::abort();
    for (const auto& rate : gen.rates)
      if (rate.RateTable > 4 || rate.StandardRateFormat > 8 || rate.OvertimeRateFormat > 8) std::abort();
    return 0;
  }
  const auto var = mpp::ReadCalendarVarData(FuzzRun(), parts[0], parts[1], gen);
  const auto fixed =
      mpp::ReadCalendarFixedData(FuzzRun(), parts[2], parts[3], mpp::BuiltInLayout14(mpp::RecordKind::Calendar), gen);
  mpp::ApplyDefaultWeeks(FuzzRun(), gen);
  mpp::InheritBaseDays(FuzzRun(), gen);
  if (gen.calendars.size() > var.items + fixed.items) std::abort();
  for (const auto& calendar : gen.calendars) {
    if (calendar.WeekDays.size() != 7) std::abort();
    for (const auto& day : calendar.WeekDays)
      if (day.Periods.size() > 5 || day.DayFlag == mpp::kDayFromBase) std::abort();
  }
  return 0;
}
