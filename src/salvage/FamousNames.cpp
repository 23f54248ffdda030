#include "salvage/FamousNames.h"

namespace salvage {

std::vector<FamousName> FamousNames;

void LoadFamousNames() {
  // Set, not appended to, so that a reader used again does not grow the list.
  FamousNames = {
      {u"CONTENTS", 5, 0, 1},
      {u"ObjectPool", 7, 0, 1},
      {u"Object", 5, 0, 0},
      {u"Equation Native", 6, 0, 1},
      {u"CompObj", 5, 1, 1},
      {u"ObjInfo", 5, 1, 1},
      {u"OlePres", 5, 1, 0},
      {u"Data", 4, 0, 0},
      {u"Table", 5, 1, 0},
      {u"Macros", 5, 0, 1},
      {u"WordDocument", 9, 0, 1},
      {u"SummaryInformation", 12, 1, 1},
      {u"DocumentSummaryInformation", 16, 1, 1},
      {u"Root Entry", 6, 0, 1},
  };
}

std::uint32_t MatchCount(std::u16string_view name, std::uint32_t shift, std::u16string_view f) {
  std::uint32_t count = 0;
  for (std::size_t i = 0; i < f.size(); ++i) {
    const std::size_t at = shift + i;
    const char16_t unit = at < name.size() ? name[at] : u'\0';
    if ((unit & 0xFF) == (f[i] & 0xFF)) ++count;
  }
  return count;
}

}  // namespace salvage
