#include "parser/MppParser12.h"

#include "gen/XMLGen.h"

namespace {

const FileFormat kFormat12{12, u"   112", u"   212", "Storage closed: "};

}  // namespace

CMppParser_12::CMppParser_12(std::u16string repairedPath)
    : CMppParser_14(kFormat12, std::move(repairedPath), nullptr) {}

CMppParser_12::CMppParser_12(std::u16string repairedPath, std::unique_ptr<CXMLGen> generator)
    : CMppParser_14(kFormat12, std::move(repairedPath), std::move(generator)) {}

CMppParser_12::~CMppParser_12() = default;
