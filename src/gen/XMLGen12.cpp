#include "gen/XMLGen12.h"

#include "LibrarySettings.h"
#include "Logger.h"

std::int32_t CXMLGen12::GenerateMainXML() {
  try {
    if (CancelRequested()) return Cancel();
    if (const std::int32_t failed = CheckOutput()) return failed;
    if (WriteDocumentStart("?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?") == kCancelled ||
        WriteHeader(saveVersion_) == kCancelled || writer_->Write_hXML("OutlineCodes/", nullptr, nullptr) == kCancelled ||
        writer_->Write_hXML("WBSMasks/", nullptr, nullptr) == kCancelled)
      return kCancelled;
    // The definitions of the fields that hold values, so that a reader can
    // tell them apart (older files keep no aliases where this reader finds
    // them).
    if (!RunSection("GenerateAttributeListXML() start.", "GenerateAttributeListXML() finish. ",
                    [this] { return GenerateAttributeListXML(); }) ||
        !RunSection("GenerateCalendarXML() start.", "GenerateCalendarXML() finish. ",
                    [this] { return GenerateCalendarXML(); }) ||
        !RunSection("GenerateTasksXML() start.", "GenerateTasksXML() finish. ",
                    [this] { return GenerateTasksXML(); }) ||
        !RunSection("GenerateResourcesXML() start.", "GenerateResourcesXML() finish.",
                    [this] { return GenerateResourcesXML(); }) ||
        !RunSection(nullptr, "GenerateAssignments() finish.", [this] { return GenerateAssignments(); }))
      return kCancelled;
    return FinishDocument();
  } catch (int) {
    theLog.WriteLine("User break was thrown if GenerateMainXML()");
    throw;
  }
}
