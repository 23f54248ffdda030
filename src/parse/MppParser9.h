// The reader of version 9 files: the version 12 outline over the data
// storage "   19" and the view storage "   29", with 8-byte var items
// whose type codes the file's own field map gives (see VarItems.h).
#pragma once

#include "parse/MppParser14.h"

class CMppParser : public CMppParser_14 {
 public:
  CMppParser(RunContext& ctx, std::u16string repairedPath);
  CMppParser(RunContext& ctx, std::u16string repairedPath, model::Project& project, DocumentStep document);
  ~CMppParser() override;

 protected:
  void ParseAssignments(platform::ElementId storage) override;
  void ParseCalendars(platform::ElementId storage) override;
  void ParseResources(platform::ElementId storage) override;
  void ParseTasks(platform::ElementId storage) override;
};
