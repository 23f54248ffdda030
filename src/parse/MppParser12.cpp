#include "parse/MppParser12.h"


namespace {

const FileFormat kFormat12{12, u"   112", u"   212", "Storage closed: "};

}  // namespace

CMppParser_12::CMppParser_12(RunContext& ctx, std::u16string repairedPath)
    : CMppParser_14(ctx, kFormat12, std::move(repairedPath), nullptr, {}) {}

CMppParser_12::CMppParser_12(RunContext& ctx, std::u16string repairedPath, model::Project& project,
                             DocumentStep document)
    : CMppParser_14(ctx, kFormat12, std::move(repairedPath), &project, std::move(document)) {}

CMppParser_12::~CMppParser_12() = default;
