#include "ProjectParser.h"

// No version has a reader yet.
std::unique_ptr<ProjectParser> CreateProjectParser(int, std::u16string_view, std::u16string_view,
                                                   std::u16string_view) {
  return nullptr;
}
