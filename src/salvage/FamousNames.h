// Well-known entry names, against which damaged names are repaired. Names
// are compared by the low bytes of their UTF-16 units only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace salvage {

struct FamousName {
  std::u16string name;
  std::uint32_t minMatch = 0;  // positions that must agree for a name to count as this one
  std::uint32_t skip = 0;      // 1: the name carries one leading character the comparison passes over
  std::uint32_t whole = 0;     // 1: replaces the whole name; 0: overwrites only its leading part
};

// The list used by name repair; LoadFamousNames sets it to the built-in names.
extern std::vector<FamousName> FamousNames;
void LoadFamousNames();

// How many of the first f.size() positions of name, from position shift on,
// agree with f in their low bytes. Positions past the end of name count as 0.
std::uint32_t MatchCount(std::u16string_view name, std::uint32_t shift, std::u16string_view f);

}  // namespace salvage
