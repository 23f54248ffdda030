#include "salvage/OrphanPlacement.h"

#include <algorithm>
#include <array>
#include <map>
#include <set>
#include <string_view>

namespace salvage {
namespace {

// The two kinds of table storage and the data storages that hold them.
enum class Family { None, Data, Views };

constexpr std::array<std::u16string_view, 4> kDataParents = {u"   19", u"   112", u"   114", u"   1"};
constexpr std::array<std::u16string_view, 4> kViewParents = {u"   29", u"   212", u"   214", u"   2"};
constexpr std::array<std::u16string_view, 9> kViewTables = {u"CEdl",    u"CMap",    u"CUdm",
                                                            u"CTable",  u"CV_iew",  u"CFilter",
                                                            u"CReport", u"CGrouping", u"CCommandBar"};
// Further view tables, only in some files: never made again, but known.
constexpr std::array<std::u16string_view, 4> kOtherViewTables = {u"CVba", u"CDrawing", u"CWindow", u"CToolbar"};
constexpr std::array<std::u16string_view, 7> kTableStreams = {u"VarMeta",    u"Var2Data",   u"FixedMeta", u"FixedData",
                                                              u"Fixed2Meta", u"Fixed2Data", u"Props"};
constexpr std::size_t kViewTableStreams = 4;  // the first four: a view table holds no other

template <std::size_t N>
bool In(const std::array<std::u16string_view, N>& list, std::u16string_view name, std::size_t count = N) {
  for (std::size_t i = 0; i < count && i < N; ++i)
    if (list[i] == name) return true;
  return false;
}

Family ParentFamily(std::u16string_view name) {
  if (In(kDataParents, name)) return Family::Data;
  if (In(kViewParents, name)) return Family::Views;
  return Family::None;
}

Family TableFamily(std::u16string_view name) {
  if (name.substr(0, 5) == u"TBknd") return Family::Data;
  if (In(kViewTables, name) || In(kOtherViewTables, name)) return Family::Views;
  return Family::None;
}

bool Clashes(const std::vector<OrphanMember>& level, const PlacedStorage& s) {
  for (const OrphanMember& m : level)
    if (s.children.count(m.name)) return true;
  return false;
}

// The family of a level of table storages (and the data storage's own
// "Props"), or None.
Family TablesLevel(const std::vector<OrphanMember>& level) {
  Family family = Family::None;
  for (const OrphanMember& m : level) {
    if (!m.storage && m.name == u"Props") continue;
    const Family f = m.storage ? TableFamily(m.name) : Family::None;
    if (f == Family::None || (family != Family::None && f != family)) return Family::None;
    family = f;
  }
  return family;
}

// Whether every member is a stream a table storage of family holds.
bool StreamsOf(const std::vector<OrphanMember>& level, Family family) {
  const std::size_t count = family == Family::Views ? kViewTableStreams : kTableStreams.size();
  for (const OrphanMember& m : level)
    if (m.storage || !In(kTableStreams, m.name, count)) return false;
  return !level.empty();
}

// The one view table a level belongs to by a name no other storage holds:
// "2a40...._ffffffff" is CCommandBar's, "2b40...._ffffffff" CVba's. Empty
// when the level holds no such name, or names of both.
std::u16string_view SignatureTable(const std::vector<OrphanMember>& level) {
  std::u16string_view table;
  for (const OrphanMember& m : level) {
    const std::u16string_view name = m.name;
    if (name.size() != 17 || name.substr(8) != u"_ffffffff") continue;
    const std::u16string_view owner = name.substr(0, 4) == u"2a40"   ? u"CCommandBar"
                                      : name.substr(0, 4) == u"2b40" ? u"CVba"
                                                                     : u"";
    if (owner.empty()) continue;
    if (!table.empty() && table != owner) return {};
    table = owner;
  }
  return table;
}

// The order in which the tables of each family are written; the tables
// that can be made again are those of kDataTables and kViewTables.
constexpr std::array<std::u16string_view, 13> kDataOrder = {
    u"TBkndLabelAssociation", u"TBkndLabel", u"TBkndConversation", u"TBkndChecklistItem", u"TBkndAttachment",
    u"TBkndSprint", u"TBkndBoardColumn", u"TBkndOutlCode", u"TBkndCons", u"TBkndAssn", u"TBkndCal", u"TBkndRsc",
    u"TBkndTask"};
constexpr std::array<std::u16string_view, 11> kViewOrder = {u"CDrawing", u"CGrouping", u"CVba",    u"CMap",
                                                            u"CCommandBar", u"CEdl", u"CUdm",    u"CReport",
                                                            u"CTable",   u"CFilter",   u"CV_iew"};

// A table's family and its place in the family's order (-1: unknown).
std::pair<Family, int> WritingRank(std::u16string_view name) {
  for (std::size_t i = 0; i < kDataOrder.size(); ++i)
    if (kDataOrder[i] == name) return {Family::Data, static_cast<int>(i)};
  for (std::size_t i = 0; i < kViewOrder.size(); ++i)
    if (kViewOrder[i] == name) return {Family::Views, static_cast<int>(i)};
  return {Family::None, -1};
}

bool MadeAgain(std::u16string_view name) {
  return In(kViewTables, name) || std::find(kDataTables.begin(), kDataTables.end(), name) != kDataTables.end();
}

// The VBA project a view storage keeps in CVba: a storage that holds
// PROJECT, PROJECTwm and the storage VBA, which holds dir, _VBA_PROJECT,
// the __SRP_ streams and one stream per module.
struct NamedHolder {
  std::u16string_view holder, parent;
  std::array<std::u16string_view, 4> names;
};
constexpr NamedHolder kVbaHolders[] = {
    {u"2b400008_ffffffff", u"CVba", {u"PROJECT", u"PROJECTwm", u"VBA"}},
    {u"VBA", u"2b400008_ffffffff", {u"_VBA_PROJECT", u"dir", u"__SRP_0", u"__SRP_1"}},
};

// The one holder whose names the level holds; none where it holds none,
// or names of both.
const NamedHolder* VbaHolderOf(const std::vector<OrphanMember>& level) {
  const NamedHolder* found = nullptr;
  for (const NamedHolder& h : kVbaHolders)
    for (const OrphanMember& m : level)
      if (std::find(h.names.begin(), h.names.end(), m.name) != h.names.end()) {
        if (found && found != &h) return nullptr;
        found = &h;
      }
  return found;
}

}  // namespace

bool TableStreamsLevel(const std::vector<OrphanMember>& level) { return StreamsOf(level, Family::Data); }

std::vector<std::u16string> TablesByWritingOrder(const std::vector<TableFirst>& present,
                                                 const std::vector<std::uint32_t>& levels) {
  std::vector<std::u16string> out(levels.size());
  struct Known {
    std::uint32_t first;
    Family family;
    int rank;
  };
  std::vector<Known> known;
  std::set<std::u16string_view> there;
  for (const TableFirst& t : present) {
    there.insert(t.name);
    if (const auto [family, rank] = WritingRank(t.name); rank >= 0) known.push_back({t.first, family, rank});
  }
  std::sort(known.begin(), known.end(), [](const Known& a, const Known& b) { return a.first < b.first; });
  // Each family's tables in their order, the families one after the other.
  int families = 0;
  for (std::size_t i = 0; i < known.size(); ++i) {
    const bool sameAsLast = i > 0 && known[i - 1].family == known[i].family;
    if (i > 0 && known[i - 1].first == known[i].first) return out;
    if (sameAsLast && known[i - 1].rank >= known[i].rank) return out;
    if (!sameAsLast && ++families > 2) return out;
  }

  // The tables that lack between two tables present (or an end).
  auto lacking = [&](Family family, int after, int before) {
    std::vector<std::u16string_view> names;
    const auto add = [&](const auto& order) {
      for (int i = after + 1; i < before && i < static_cast<int>(order.size()); ++i)
        if (MadeAgain(order[static_cast<std::size_t>(i)]) && !there.count(order[static_cast<std::size_t>(i)]))
          names.push_back(order[static_cast<std::size_t>(i)]);
    };
    if (family == Family::Data) add(kDataOrder);
    if (family == Family::Views) add(kViewOrder);
    return names;
  };
  // The levels by the gap they lie in: the index of the next table present.
  std::map<std::size_t, std::vector<std::size_t>> gaps;
  for (std::size_t l = 0; l < levels.size(); ++l) {
    const auto next = std::upper_bound(known.begin(), known.end(), levels[l],
                                       [](std::uint32_t f, const Known& k) { return f < k.first; });
    if (next != known.begin() && (next - 1)->first == levels[l]) continue;
    gaps[static_cast<std::size_t>(next - known.begin())].push_back(l);
  }
  for (auto& [next, members] : gaps) {
    const Known* before = next > 0 ? &known[next - 1] : nullptr;
    const Known* after = next < known.size() ? &known[next] : nullptr;
    std::vector<std::u16string_view> names;
    if (before) {
      const bool same = after && after->family == before->family;
      names = lacking(before->family, before->rank, same ? after->rank : static_cast<int>(kDataOrder.size()));
    }
    if (after && (!before || after->family != before->family)) {
      const auto more = lacking(after->family, -1, after->rank);
      names.insert(names.end(), more.begin(), more.end());
    }
    if (names.size() != members.size()) continue;
    std::sort(members.begin(), members.end(), [&](std::size_t a, std::size_t b) { return levels[a] < levels[b]; });
    for (std::size_t i = 0; i < members.size(); ++i) out[members[i]] = std::u16string(names[i]);
  }
  return out;
}

bool IsDataStorage(std::u16string_view name) { return ParentFamily(name) == Family::Data; }
bool IsViewStorage(std::u16string_view name) { return ParentFamily(name) == Family::Views; }

bool BelongsElsewhere(std::u16string_view parent, std::u16string_view name, bool storage) {
  const Family holder = ParentFamily(parent);
  if (holder == Family::None && TableFamily(parent) == Family::None) return false;
  if (storage) {
    if (ParentFamily(name) != Family::None) return true;  // a data or view storage sits in the root
    const Family table = TableFamily(name);
    return table != Family::None && table != holder;      // in a table storage, holder is None
  }
  // The data and view storages hold no stream but their Props.
  return holder != Family::None && name != u"Props" && In(kTableStreams, name);
}

OrphanPlace PlaceOrphanLevel(const std::vector<OrphanMember>& level, const std::vector<PlacedStorage>& placed) {
  // One place only will do: a second one makes the level undecided.
  std::vector<OrphanPlace> places;
  // A data or view storage sits in the root, and its siblings with it.
  const bool projectStorage = std::any_of(level.begin(), level.end(), [](const OrphanMember& m) {
    return m.storage && ParentFamily(m.name) != Family::None;
  });
  if (projectStorage) {
    if (placed.empty() || Clashes(level, placed.front())) return {};
    return {OrphanPlace::Kind::Into, placed.front().id, {}};
  }
  if (const NamedHolder* vba = VbaHolderOf(level)) {
    // Its holder where it noticed a loss, or made again in the holder's
    // parent that lost entries and lacks it.
    for (const PlacedStorage& s : placed) {
      if (!s.lostBelow) continue;
      if (s.name == vba->holder && !Clashes(level, s)) places.push_back({OrphanPlace::Kind::Into, s.id, {}});
      if (s.name == vba->parent && !s.children.count(std::u16string(vba->holder)))
        places.push_back({OrphanPlace::Kind::Recreate, s.id, std::u16string(vba->holder)});
      if (places.size() > 1) return {};
    }
  } else if (const std::u16string_view table = SignatureTable(level); !table.empty()) {
    // That table where it noticed a loss, or made again in the view
    // storage that lost entries and lacks it.
    for (const PlacedStorage& s : placed) {
      if (!s.lostBelow) continue;
      if (s.name == table && !Clashes(level, s)) places.push_back({OrphanPlace::Kind::Into, s.id, {}});
      if (ParentFamily(s.name) == Family::Views && !s.children.count(std::u16string(table)))
        places.push_back({OrphanPlace::Kind::Recreate, s.id, std::u16string(table)});
      if (places.size() > 1) return {};
    }
  } else if (const Family tables = TablesLevel(level); tables != Family::None) {
    // The storage that lost entries first; then, where none noticed its
    // loss (a link damaged into "none"), the one storage of the family.
    for (const bool lostOnly : {true, false}) {
      for (const PlacedStorage& s : placed)
        if ((s.lostBelow || !lostOnly) && ParentFamily(s.name) == tables && !Clashes(level, s)) {
          places.push_back({OrphanPlace::Kind::Into, s.id, {}});
          if (places.size() > 1) return {};
        }
      if (!places.empty()) break;
    }
  } else {
    // A Props alone may as well be the data (or view) storage's own.
    const bool onlyProps = std::all_of(level.begin(), level.end(), [](const OrphanMember& m) { return m.name == u"Props"; });
    for (Family family : {Family::Data, Family::Views}) {
      if (!StreamsOf(level, family)) continue;
      for (const PlacedStorage& s : placed) {
        if (places.size() > 1) return {};
        if (!s.lostBelow) continue;
        if (TableFamily(s.name) == family && !Clashes(level, s)) places.push_back({OrphanPlace::Kind::Into, s.id, {}});
        if (ParentFamily(s.name) != family) continue;
        if (onlyProps && !s.children.count(u"Props")) places.push_back({OrphanPlace::Kind::Into, s.id, {}});
        // A table storage its data storage lacks was lost with the entry.
        const auto consider = [&](std::u16string_view table) {
          if (!s.children.count(std::u16string(table)))
            places.push_back({OrphanPlace::Kind::Recreate, s.id, std::u16string(table)});
        };
        if (family == Family::Data)
          for (std::u16string_view t : kDataTables) consider(t);
        else
          for (std::u16string_view t : kViewTables) consider(t);
      }
    }
    // Where no storage of the family noticed a loss (a link damaged into
    // "none"): the one table storage that lacks every name of the level.
    for (Family family : {Family::Data, Family::Views}) {
      if (!places.empty() || onlyProps) break;
      if (!StreamsOf(level, family)) continue;
      const bool noticed = std::any_of(placed.begin(), placed.end(), [family](const PlacedStorage& s) {
        return s.lostBelow && (ParentFamily(s.name) == family || TableFamily(s.name) == family);
      });
      if (noticed) continue;
      for (const PlacedStorage& s : placed)
        if (TableFamily(s.name) == family && !Clashes(level, s)) {
          places.push_back({OrphanPlace::Kind::Into, s.id, {}});
          if (places.size() > 1) return {};
        }
    }
  }
  if (places.size() != 1) return {};
  return places.front();
}

}  // namespace salvage
