// The reader of version 12 files. It shares the storage readers of version
// 14 and differs in its storages (data "   112", views "   212"), its
// built-in record layouts (for files without a usable field map), the
// project record search of the data storage and the end of the parse.
// Files the 2010 application converted down carry version 14 layouts in
// their map; they are read through it like any other.
#pragma once

#include "parse/MppParser14.h"

class CMppParser_12 : public CMppParser_14 {
 public:
  CMppParser_12(RunContext& ctx, std::u16string repairedPath);
  CMppParser_12(RunContext& ctx, std::u16string repairedPath, model::Project& project, DocumentStep document);
  ~CMppParser_12() override;
};
