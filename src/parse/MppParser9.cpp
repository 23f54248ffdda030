#include "parse/MppParser9.h"

#include "parse/AssnStorageParser.h"
#include "parse/Baselines.h"
#include "parse/CalendarParser.h"
#include "parse/RscStorageParser.h"
#include "parse/TaskStorageParser.h"
#include "parse/VarItems.h"

namespace {

// The storage-closed line of version 9 has always been spelled so.
const FileFormat kFormat9{9, u"   19", u"   29", "Storage clozed: "};

}  // namespace

CMppParser::CMppParser(RunContext& ctx, std::u16string repairedPath)
    : CMppParser_14(ctx, kFormat9, std::move(repairedPath), nullptr, {}) {}

CMppParser::CMppParser(RunContext& ctx, std::u16string repairedPath, model::Project& project, DocumentStep document)
    : CMppParser_14(ctx, kFormat9, std::move(repairedPath), &project, std::move(document)) {}

CMppParser::~CMppParser() = default;

void CMppParser::ParseTasks(platform::ElementId storage) {
  mpp::VarItemFormat format = mpp::VarItemFormat9(mpp::RecordKind::Task, Maps());
  Model().tally.tasks.varCodesGuessed = !format.mapped;
  // The binary values that hold the fields no map lists are coded in the
  // second map only.
  const auto blobs = mpp::BaselineBlobFields(mpp::RecordKind::Task, Maps());
  for (const auto& [code, field] : mpp::BaselineItemFormat9(mpp::RecordKind::Task, Maps()).fieldIds)
    if (blobs.contains(field)) format.fieldIds.try_emplace(code, field);
  mpp::TaskStorageParser(Run(), Reader(), storage, Layouts().Of(mpp::RecordKind::Task), Model(), &format,
                         mpp::kTaskValueRules9, &blobs);
  mpp::BaselineVarParser(Run(), Reader(), storage, mpp::RecordKind::Task, 9, Model(), Maps());
}

void CMppParser::ParseResources(platform::ElementId storage) {
  const mpp::VarItemFormat format = mpp::VarItemFormat9(mpp::RecordKind::Resource, Maps());
  Model().tally.resources.varCodesGuessed = !format.mapped;
  mpp::RscStorageParser(Run(), Reader(), storage, Layouts().Of(mpp::RecordKind::Resource), Model(), &format);
  mpp::BaselineVarParser(Run(), Reader(), storage, mpp::RecordKind::Resource, 9, Model(), Maps());
}

// The records, then the var values merged into them by UID.
void CMppParser::ParseAssignments(platform::ElementId storage) {
  mpp::AssnStorageParser(Run(), Reader(), storage, Layouts().Of(mpp::RecordKind::Assignment), Model(),
                         &mpp::kAssignmentBits9);
  mpp::AssnVarParser9(Run(), Reader(), storage, Model());
  const mpp::VarItemFormat format = mpp::VarItemFormat9(mpp::RecordKind::Assignment, Maps());
  mpp::AssnVarParser(Run(), Reader(), storage, &format, Model());
  mpp::BaselineVarParser(Run(), Reader(), storage, mpp::RecordKind::Assignment, 9, Model(), Maps());
}

void CMppParser::ParseCalendars(platform::ElementId storage) {
  const mpp::VarItemFormat format = mpp::VarItemFormat9(mpp::RecordKind::Calendar, Maps());
  mpp::CalendarParser(Run(), Reader(), storage, Layouts().Of(mpp::RecordKind::Calendar), Model(), &format,
                      Model().applicationVersion > 14 ? mpp::kCalendarItemFlags9Later : mpp::kCalendarItemFlags);
}
