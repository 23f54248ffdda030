// The Project XML generator: writes the document of one project model in
// the schema's section order (header, custom field definitions, calendars,
// tasks, resources, assignments). The model was read whole before: tasks go
// out in model order with the IDs, outline numbers and summary flags their
// reader rebuilt. Every version's document has this form; only the save
// version differs.
//
// Every operation returns 0, kNothingWritten when its section was empty
// (an empty element is written instead), kCancelled when the host asked to
// stop (the file is then closed and the document left incomplete), or
// kWriteFailed when the output could not be created or written.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/RunContext.h"
#include "generate/Timephased.h"
#include "model/Project.h"
#include "xml/XmlSink.h"
#include "xml/XmlWriter.h"

// What a generator wrote, for the report.
struct WrittenCounts {
  std::uint32_t tasks = 0;
  std::uint32_t resources = 0;
  std::uint32_t assignments = 0;
  std::uint32_t links = 0;
};

class CXMLGen {
 public:
  static constexpr std::int32_t kNothingWritten = xml::XmlWriter::kNothingWritten;
  static constexpr std::int32_t kCancelled = xml::XmlWriter::kCancelled;
  static constexpr std::int32_t kWriteFailed = -2;

  // Opens the XML file at outputPath (throws 2 when the path is too long).
  // The model must outlive the generator. saveVersion: "14", "12" or "9".
  // The run's log, settings and cancel byte come from ctx.
  CXMLGen(RunContext& ctx, const model::Project& project, std::u16string_view outputPath,
          const char* saveVersion = "14");
  // Writes into sink instead (tests).
  CXMLGen(RunContext& ctx, const model::Project& project, std::unique_ptr<xml::XmlSink> sink,
          const char* saveVersion = "14");
  ~CXMLGen();
  CXMLGen(const CXMLGen&) = delete;
  CXMLGen& operator=(const CXMLGen&) = delete;

  std::int32_t GenerateMainXML();
  std::int32_t GenerateTasksXML();
  std::int32_t GenerateResourcesXML();
  std::int32_t GenerateCalendarXML();
  std::int32_t GenerateAssignments();
  // The availability periods and the rate tables of one resource: an empty
  // container when the model has such records but none of this resource,
  // nothing (kNothingWritten) when the model has none at all.
  std::int32_t GenerateAvailabilityPeriod(std::uint32_t resourceUid);
  std::int32_t GenerateRates(std::uint32_t resourceUid);
  // The links into one task whose predecessor is a task of the model.
  std::int32_t GenerateLinks(std::uint32_t taskUid);
  // The custom field definitions of the project.
  std::int32_t GenerateAttributeListXML();
  // The custom field values of one task (OwnerKind::Task), resource or
  // assignment.
  std::int32_t GenerateExtendedAttribute(std::uint32_t ownerUid, model::OwnerKind owner);
  // The most timephased elements the document gets (kMaxTimephasedElements
  // unless set); the assignments after it go without theirs.
  void LimitTimephased(std::uint64_t elements) { timephasedLimit_ = elements; }

  // Closes the output file; 0, or kWriteFailed when anything was lost.
  std::int32_t CloseOutput();
  xml::XmlWriter& Writer() { return *writer_; }
  const WrittenCounts& Written() const { return written_; }

 private:
  // The declaration and the project element's open tag.
  std::int32_t WriteDocumentStart(const char* declaration);
  // The header elements.
  std::int32_t WriteHeader(const char* saveVersion);
  // The project's start and finish: its own properties, else the span of
  // its dated tasks; nothing when neither gives a start before its finish.
  std::optional<std::pair<model::PackedDate, model::PackedDate>> ProjectSpan() const;
  // The project calendar: the one the properties name, else the base
  // calendar "Standard", the first base calendar, the first calendar; the
  // stand-in calendar's UID when there is none.
  std::uint32_t ProjectCalendarUID() const;
  static constexpr std::uint32_t kStandInCalendarUID = 1;
  // Runs one section between its two log lines (no start line when null);
  // false when it was cancelled.
  bool RunSection(const char* startLine, const char* finishLine, const std::function<std::int32_t()>& section);
  // The project's close tag and the file's close: 0 or kWriteFailed.
  std::int32_t FinishDocument();
  // kWriteFailed, logged, when the output file could not be created.
  std::int32_t CheckOutput();

  // The name of a task as written under "Name": '&', '<' and '>' escaped
  // and ',' turned into ';'.
  static std::u16string EscapeName(std::u16string_view name);
  // '&', '<' and '>' escaped, commas kept: resource and calendar names.
  static std::u16string EscapeMarkup(std::u16string_view name);
  std::int32_t WriteName(const char* tag, std::u16string text);
  std::int32_t Cancel();

  // The writing pass's share of the progress (90 to 100 %), moved on by
  // the tasks, resources and assignments written.
  void NoteWritten();
  std::int32_t WriteTask(const model::SBkndTaskParams& task);
  std::int32_t WriteResource(const model::SBkndRscParams& resource);
  std::int32_t WriteCalendar(const model::SCalendar& calendar);
  std::int32_t WriteException(const model::SCalendarException& exception);
  // Look-ups over the model, built once per document.
  void BuildIndexes();
  void IndexLinks();
  std::int32_t WriteAssignment(const model::SBkndAssnParams& assignment, const model::SBkndTaskParams& task);
  // One series of timephased data (type 1 remaining, 2 completed work).
  // With blocks, the work follows the file's stretches and pauses instead.
  std::int32_t WriteTimephased(int type, std::uint32_t uid, std::uint32_t work, model::PackedDate start,
                               std::uint32_t endTime, const gen::WorkWeek& week,
                               const std::vector<model::SWorkBlock>* blocks = nullptr);
  // The working week of a calendar UID, made once per UID.
  const gen::WorkWeek& WeekOf(std::uint32_t calendarUid);
  // Availability and rates by resource UID, in model order.
  void IndexResourceData();
  // The application whose own documents this one follows where their form
  // differs between versions: the one that saved the file, or, where the
  // file does not say, the one of its format (9, 12 or 14).
  int Form() const;

  RunContext& ctx_;
  const model::Project& project_;
  const char* saveVersion_;
  std::unique_ptr<xml::XmlWriter> writer_;
  WrittenCounts written_;

  std::size_t progressTotal_ = 0;
  std::size_t progressDone_ = 0;
  std::int32_t progressShown_ = 0;
  std::unordered_map<std::uint32_t, gen::WorkWeek> weeks_;
  std::uint64_t timephasedLimit_ = gen::kMaxTimephasedElements;
  std::uint64_t timephasedWritten_ = 0;
  bool timephasedCapLogged_ = false;
  std::unordered_set<std::uint32_t> taskUids_;  // of the tasks written
  std::unordered_set<std::uint32_t> calendarUids_;
  // The links of the model by successor UID, in model order.
  std::unordered_map<std::uint32_t, std::vector<std::size_t>> linksBySuccessor_;
  std::unordered_map<std::uint32_t, std::vector<std::size_t>> exceptionsByCalendar_;
  std::unordered_map<std::uint32_t, std::vector<std::size_t>> workWeeksByCalendar_;
  // The tasks with an assignment whose resource is, or may be, overallocated
  // (its mark unknown), and whether the project has any such resource.
  std::unordered_set<std::uint32_t> tasksMaybeOverallocated_;
  bool anyMaybeOverallocated_ = false;
  // Days the calendars' exception lists may still look at in this document.
  std::uint64_t exceptionDayBudget_ = 4'000'000;
  // Value indexes by owner UID, in model order, one map per owner kind.
  std::unordered_map<std::uint32_t, std::vector<std::size_t>> taskValues_;
  std::unordered_map<std::uint32_t, std::vector<std::size_t>> resourceValues_;
  std::unordered_map<std::uint32_t, std::vector<std::size_t>> assignmentValues_;
  std::unordered_map<std::uint32_t, std::vector<std::size_t>>& ValuesOf(model::OwnerKind owner) {
    return owner == model::OwnerKind::Task ? taskValues_
           : owner == model::OwnerKind::Resource ? resourceValues_
                                                 : assignmentValues_;
  }
  bool indexed_ = false;
  std::unordered_map<std::uint32_t, std::vector<std::size_t>> availabilityByResource_;
  std::unordered_map<std::uint32_t, std::vector<std::size_t>> ratesByResource_;
};
