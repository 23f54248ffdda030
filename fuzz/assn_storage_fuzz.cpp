// Any bytes as the fixed-data streams of the assignment and link storages
// (the link streams also as the assignments' second records and var data)
// and as a resource's working week (cut at the places the first eight
// bytes name): the readers read what they can without reading outside a
// stream, never make more records than the streams have items, and the
// document written from them, timephased work included, stays bounded.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "FuzzRun.h"
#include "generate/XMLGen.h"
#include "model/Project.h"
#include "parse/AssnStorageParser.h"
#include "parse/RecordLayout.h"
#include "platform/ByteView.h"
#include "xml/XmlSink.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const platform::ByteView input(data, size);
  if (size < 8) return 0;
  platform::ByteView parts[5];
  std::size_t at = 8;
  for (int i = 0; i < 4; ++i) {
    const std::size_t want = input.u16_at(2 * i).value_or(0);
    const std::size_t take = want < size - at ? want : size - at;
    parts[i] = *input.Sub(at, take);
    at += take;
  }
  parts[4] = *input.Sub(at, size - at);

  model::Project gen;
  // The link streams stand in for the assignments' second records and
  // their var data too.
  mpp::AssnSideStreams side;
  side.bits = &mpp::kAssignmentBits14Later;
  side.fixed2Meta = parts[2];
  side.fixed2Data = parts[3];
  const auto assignments = mpp::ReadAssnFixedData(
      FuzzRun(), parts[0], parts[1], mpp::BuiltInLayout14(mpp::RecordKind::Assignment), gen, nullptr, side);
  const auto links = mpp::ReadConsFixedData(FuzzRun(), parts[2], parts[3], mpp::BuiltInLayout14(mpp::RecordKind::Link), gen);
  if (gen.assignments.size() > assignments.items || gen.links.size() > links.items) std::abort();
  const std::size_t read = gen.assignments.size();
  mpp::ReadAssnVarData(FuzzRun(), parts[2], parts[3], gen);
  if (gen.assignments.size() != read) std::abort();

  // Every task and resource named exists; the tasks start where the
  // assignments say and work as long as a record can; the resources work
  // by a week made of the last bytes: per day a period count, then
  // start and length pairs.
  model::SCalendar calendar;
  calendar.UID = 1;
  std::size_t next = 0;
  for (int day = 0; day < 7; ++day) {
    model::SWeekDay weekDay;
    const std::size_t count = parts[4].u8_at(next++).value_or(0) % 6;
    for (std::size_t p = 0; p < count; ++p, next += 4) {
      const std::uint32_t start = parts[4].u16_at(next).value_or(0);
      const std::uint32_t length = parts[4].u16_at(next + 2).value_or(0);
      weekDay.Periods.push_back({start, start + length, length, 0});
    }
    calendar.WeekDays.push_back(weekDay);
  }
  gen.calendars.push_back(calendar);
  for (const model::SBkndAssnParams& a : gen.assignments) {
    if (!gen.FindTask(a.TaskUID)) {
      model::SBkndTaskParams task;
      task.UID = a.TaskUID;
      task.Name = u"t";
      task.Start = a.Start;
      task.Duration = a.Work;
      task.Stop = a.Finish;
      task.Resume = a.Start;
      task.ActualDuration = a.ActualWork;
      task.RemainingDuration = a.Work;
      gen.AppendTask(task);
    }
    if (!gen.FindResource(a.ResourceUID)) {
      model::SBkndRscParams resource;
      resource.UID = a.ResourceUID;
      resource.CalendarUID = 1;
      gen.AppendResource(resource);
    }
  }
  CXMLGen generator(FuzzRun(), gen, std::make_unique<xml::StringSink>());
  generator.Writer().SetLineLogging(false);
  generator.LimitTimephased(20000);
  generator.GenerateMainXML();
  return 0;
}
