#include "ProjectParser.h"

#include "gen/XMLGen12.h"
#include "gen/XMLGen14.h"
#include "parser/MppParser12.h"
#include "parser/MppParser14.h"
#include "parser/MppParser9.h"

// The generator opens the output as it is made (throwing 2 for a path that
// is too long).
std::unique_ptr<ProjectParser> CreateProjectParser(int version, std::u16string_view,
                                                   std::u16string_view repairedPath,
                                                   std::u16string_view output) {
  if (version == 14)
    return std::make_unique<CMppParser_14>(std::u16string(repairedPath), std::make_unique<CXMLGen14>(output));
  if (version == 12)
    return std::make_unique<CMppParser_12>(std::u16string(repairedPath), std::make_unique<CXMLGen12>(output));
  if (version == 9)
    return std::make_unique<CMppParser>(std::u16string(repairedPath), std::make_unique<CXMLGen12>(output, "9"));
  return nullptr;
}
