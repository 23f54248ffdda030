// The Project XML generators. CXMLGen holds the project model (CMppGen) and
// the XML writer, writes the whole document in a fixed section order and is
// itself the generator of version 9 files; its task writer repairs the task
// outline (placeholders for missing levels, an "Orphaned Nodes" summary for
// tasks that fit nowhere), as versions 9 and 12 need.
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
#include <utility>
#include <vector>

#include "model/MppGen.h"
#include "xml/XmlSink.h"
#include "xml/XmlWriter.h"

class CXMLGen : public CMppGen {
 public:
  static constexpr std::int32_t kNothingWritten = xml::XmlWriter::kNothingWritten;
  static constexpr std::int32_t kCancelled = xml::XmlWriter::kCancelled;
  static constexpr std::int32_t kWriteFailed = -2;

  // Opens the XML file of the output path (throws 2 when the path is too long).
  explicit CXMLGen(std::u16string_view outputPath);
  // Writes into sink instead (tests).
  explicit CXMLGen(std::unique_ptr<xml::XmlSink> sink);
  ~CXMLGen() override;

  virtual std::int32_t GenerateMainXML();
  virtual std::int32_t GenerateTasksXML();
  virtual std::int32_t GenerateResourcesXML();
  virtual std::int32_t GenerateCalendarXML();
  virtual std::int32_t GenerateAssignments();
  // Version 9: one element of completed work for a task, from 08:00 of
  // its start day.
  virtual std::int32_t GenerateTimephasedData(std::uint16_t startDay, std::uint32_t completedWork,
                                              std::uint32_t taskUid);
  // The links into one task whose predecessor exists with a start and a
  // finish.
  virtual std::int32_t GeneratePredecessorLink(std::uint32_t taskUid, std::uint32_t outlineLevel);

  // Closes the output file; 0, or kWriteFailed when anything was lost.
  std::int32_t CloseOutput();
  xml::XmlWriter& Writer() { return *writer_; }

  // Read by the report: placeholder summaries written for orphaned tasks.
  std::uint32_t orphanTaskCounter = 0;

 protected:
  // The declaration and the project element's open tag.
  std::int32_t WriteDocumentStart(const char* declaration);
  // The header elements of versions 12 and 14.
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

  std::unique_ptr<xml::XmlWriter> writer_;

 private:
  std::int32_t WriteTask(const model::SBkndTaskParams& task);
  std::int32_t WritePlaceholder(std::uint32_t uid, std::uint32_t id, const char* name, std::uint32_t level);
  // For each task UID, the first task with a start and a finish (links).
  std::unordered_map<std::uint32_t, std::size_t> linkTargets_;

 protected:
  // The links of the model by successor UID, in model order.
  void IndexLinks();
  std::unordered_map<std::uint32_t, std::vector<std::size_t>> linksBySuccessor_;
};

