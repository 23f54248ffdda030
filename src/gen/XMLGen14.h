// The generator of version 14 files. Its reader has already rebuilt IDs,
// outline numbers and summary flags from the parent links, so tasks go out
// in model order with no outline repair; the document also carries the
// custom field definitions and each task's custom field values.
#pragma once

#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "gen/Timephased.h"
#include "gen/XMLGen.h"

class CXMLGen14 : public CXMLGen {
 public:
  using CXMLGen::CXMLGen;
  ~CXMLGen14() override;

  std::int32_t GenerateMainXML() override;
  std::int32_t GenerateTasksXML() override;
  std::int32_t GenerateResourcesXML() override;
  std::int32_t GenerateCalendarXML() override;
  std::int32_t GenerateAssignments() override;

  // The availability periods and the rate tables of one resource: an empty
  // container when the model has such records but none of this resource,
  // nothing (kNothingWritten) when the model has none at all.
  std::int32_t GenerateAvailabilityPeriod(std::uint32_t resourceUid);
  std::int32_t GenerateRates(std::uint32_t resourceUid);

  // The links into one task whose predecessor is a task of the model.
  std::int32_t GenerateLinks(std::uint32_t taskUid);
  // The custom field definitions of the project.
  std::int32_t GenerateAttributeListXML();
  // The custom field values of one task (OwnerKind::Task) or resource.
  std::int32_t GenerateExtendedAttribute(std::uint32_t ownerUid, model::OwnerKind owner);

  // The most timephased elements the document gets (kMaxTimephasedElements
  // unless set); the assignments after it go without theirs.
  void LimitTimephased(std::uint64_t elements) { timephasedLimit_ = elements; }

 private:
  // The writing pass's share of the progress (90 to 100 %), moved on by
  // the tasks, resources and assignments written.
  void NoteWritten();
  std::size_t progressTotal_ = 0;
  std::size_t progressDone_ = 0;
  std::int32_t progressShown_ = 0;

  std::int32_t WriteTask(const model::SBkndTaskParams& task);
  std::int32_t WriteResource(const model::SBkndRscParams& resource);
  std::int32_t WriteCalendar(const model::SCalendar& calendar);
  std::int32_t WriteException(const model::SCalendarException& exception);
  // Look-ups over the model, built once per document.
  void BuildIndexes();
  std::int32_t WriteAssignment(const model::SBkndAssnParams& assignment, const model::SBkndTaskParams& task);
  // One series of timephased data (type 1 remaining, 2 completed work).
  std::int32_t WriteTimephased(int type, std::uint32_t uid, std::uint32_t work, model::PackedDate start,
                               std::uint32_t endTime, const gen::WorkWeek& week);
  // The working week of a calendar UID, made once per UID.
  const gen::WorkWeek& WeekOf(std::uint32_t calendarUid);
  // Availability and rates by resource UID, in model order.
  void IndexResourceData();

  std::unordered_map<std::uint32_t, gen::WorkWeek> weeks_;
  std::uint64_t timephasedLimit_ = gen::kMaxTimephasedElements;
  std::uint64_t timephasedWritten_ = 0;
  bool timephasedCapLogged_ = false;

  std::unordered_set<std::uint32_t> taskUids_;  // of the tasks written
  std::unordered_set<std::uint32_t> calendarUids_;
  std::unordered_map<std::uint32_t, std::vector<std::size_t>> exceptionsByCalendar_;
  // Value indexes by owner UID, in model order, one map per owner kind.
  std::unordered_map<std::uint32_t, std::vector<std::size_t>> taskValues_;
  std::unordered_map<std::uint32_t, std::vector<std::size_t>> resourceValues_;
  bool indexed_ = false;
  std::unordered_map<std::uint32_t, std::vector<std::size_t>> availabilityByResource_;
  std::unordered_map<std::uint32_t, std::vector<std::size_t>> ratesByResource_;
};
