#include "ProjectParser.h"

#include "gen/XMLGen14.h"
#include "parser/MppParser14.h"

// Versions 9 and 12 have no reader yet. The generator opens the output as
// it is made (throwing 2 for a path that is too long).
std::unique_ptr<ProjectParser> CreateProjectParser(int version, std::u16string_view,
                                                   std::u16string_view repairedPath,
                                                   std::u16string_view output) {
  if (version == 14)
    return std::make_unique<CMppParser_14>(std::u16string(repairedPath), std::make_unique<CXMLGen14>(output));
  return nullptr;
}
