#include "salvage/NameRepair.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/Text.h"
#include "salvage/OrphanPlacement.h"

namespace salvage {
namespace {

struct KnownName {
  std::u16string_view name;
  bool storage;
};

// The names the project's readers look for, and the storages that hold
// them. Names that differ in a single place from each other (" 19" and
// " 29") are told apart by the siblings: a damaged name never becomes one
// that its storage holds already.
constexpr std::array kKnownNames = {
    KnownName{u"   1", true},          KnownName{u"   2", true},
    KnownName{u"   19", true},         KnownName{u"   29", true},
    KnownName{u"   112", true},        KnownName{u"   212", true},
    KnownName{u"   114", true},        KnownName{u"   214", true},
    KnownName{u"Props", false},        KnownName{u"Props9", false},
    KnownName{u"Props12", false},      KnownName{u"Props14", false},
    KnownName{u"\x01" u"CompObj", false},
    KnownName{u"\x05" u"SummaryInformation", false},
    KnownName{u"\x05" u"DocumentSummaryInformation", false},
    KnownName{u"TBkndTask", true},     KnownName{u"TBkndRsc", true},
    KnownName{u"TBkndAssn", true},     KnownName{u"TBkndCal", true},
    KnownName{u"TBkndCons", true},     KnownName{u"TBkndOutlCode", true},
    KnownName{u"CV_iew", true},        KnownName{u"CTable", true},
    KnownName{u"CFilter", true},       KnownName{u"CEdl", true},
    KnownName{u"CMap", true},          KnownName{u"CReport", true},
    KnownName{u"CUdm", true},          KnownName{u"CCommandBar", true},
    KnownName{u"CGrouping", true},     KnownName{u"CDrawing", true},
    KnownName{u"CVba", true},
    KnownName{u"FixedMeta", false},    KnownName{u"FixedData", false},
    KnownName{u"VarMeta", false},      KnownName{u"Var2Data", false},
    KnownName{u"Fixed2Meta", false},   KnownName{u"Fixed2Data", false},
};

// A numbered storage's name is three spaces and its number: such a name
// is one of its own ("   3" is one place from "   2"), unless the data
// storage it is near is missing. Spaces and digits in another shape
// ("  7114") are a damaged name.
bool Numbered(std::u16string_view name) {
  return name.size() > 3 && name.substr(0, 3) == u"   " &&
         name.find_first_not_of(u"0123456789", 3) == std::u16string_view::npos;
}

// Places in which name differs from known, the end of the name included;
// more than limit: limit + 1.
std::size_t Distance(std::u16string_view name, std::u16string_view known, std::size_t limit) {
  std::size_t d = 0;
  for (std::size_t i = 0; i <= known.size() && d <= limit; ++i) {
    const char16_t unit = i < name.size() ? name[i] : u'\0';
    const char16_t want = i < known.size() ? known[i] : u'\0';
    d += unit != want;
  }
  return d;
}

// How far a name of this length may be from a known one: one place in a
// short name, two in a long one.
std::size_t Limit(std::size_t length) { return length >= 9 ? 2 : 1; }

// The version a name belongs to: "14" for "   114", "   214" and
// "Props14"; empty for a name of no version. Versions 9 and 12 keep the
// same sets ("   19", "   29", "Props9"), so the names beside a damaged one
// tell which of two versions' names it was ("   11?" beside "   214").
std::u16string_view VersionOf(std::u16string_view name) {
  if (name.size() > 4 && name.substr(0, 3) == u"   " && (name[3] == u'1' || name[3] == u'2')) return name.substr(4);
  if (name.size() > 5 && name.substr(0, 5) == u"Props") return name.substr(5);
  return {};
}

}  // namespace

void RepairProjectNames(CRoot& root, SalvageState& state) {
  const std::uint32_t count = root.EntryCount();
  if (count == 0) return;
  // Each storage's children, through their sibling trees; every entry is
  // visited once.
  std::vector<std::uint8_t> seen(count, 0);
  std::vector<std::uint32_t> storages{0};
  seen[0] = 1;
  std::vector<std::uint32_t> children;
  for (std::size_t s = 0; s < storages.size(); ++s) {
    const DirItem* storage = root.GetEntry(storages[s]);
    if (!storage) continue;
    children.clear();
    root.CollectSiblings(storage->Child(), seen, children);
    for (std::uint32_t n : children)
      if (root.GetEntry(n)->Type() == kTypeStorage) storages.push_back(n);
    std::unordered_set<std::u16string> names, versions;
    for (std::uint32_t n : children) {
      names.insert(root.GetEntry(n)->Name());
      versions.insert(std::u16string(VersionOf(root.GetEntry(n)->Name())));
    }
    versions.erase(u"");
    for (std::uint32_t n : children) {
      DirItem& item = *root.GetEntry(n);
      const std::u16string name = item.Name();
      // Compared as stored, so that a character damaged into a zero does
      // not cut the name short.
      const std::u16string raw = item.RawName();
      if (raw.find_first_not_of(u'\0') == std::u16string::npos) continue;
      const bool isStorage = item.Type() == kTypeStorage;
      // Whether the names beside it keep the version of a known name.
      const auto versionKept = [&](const KnownName* candidate) {
        return versions.count(std::u16string(VersionOf(candidate->name))) != 0;
      };
      // A numbered name may be a storage of its own; it is a damaged one
      // only where it is near the data storage of the version the names
      // beside it keep, which is missing ("   012" beside "   212").
      const bool numbered = Numbered(name);
      // The nearest names; of two or more, the one of the version the
      // names beside it keep, if only one is.
      std::vector<const KnownName*> nearest;
      std::size_t bestDistance = 0;
      bool known = false;
      for (const KnownName& candidate : kKnownNames) {
        if (candidate.storage != isStorage) continue;
        const std::size_t limit = Limit(candidate.name.size());
        const std::size_t d = Distance(raw, candidate.name, limit);
        if (d == 0) {
          known = true;
          break;
        }
        if (d > limit || names.count(std::u16string(candidate.name))) continue;
        if (numbered && (!IsDataStorage(candidate.name) || !versionKept(&candidate))) continue;
        if (!nearest.empty() && d > bestDistance) continue;
        if (!nearest.empty() && d < bestDistance) nearest.clear();
        nearest.push_back(&candidate);
        bestDistance = d;
      }
      if (known || nearest.empty()) continue;
      if (nearest.size() > 1) std::erase_if(nearest, [&](const KnownName* candidate) { return !versionKept(candidate); });
      if (nearest.size() != 1) continue;
      const KnownName* best = nearest.front();
      for (std::size_t i = 0; i < best->name.size(); ++i) item.SetNameUnit(static_cast<std::uint32_t>(i), best->name[i]);
      item.SetNameUnit(static_cast<std::uint32_t>(best->name.size()), u'\0');
      names.erase(name);
      names.insert(std::u16string(best->name));
      versions.insert(std::u16string(VersionOf(best->name)));
      versions.erase(u"");
      ++state.stats.namesCorrected;
      state.log().WriteFormat("[STG]\tName %s repaired to %s", platform::Utf16ToAnsi(name).c_str(),
                              platform::Utf16ToAnsi(std::u16string(best->name)).c_str());
    }
  }
}

}  // namespace salvage
