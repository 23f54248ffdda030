// Where entries go that hang below lost directory entries. A lost entry cuts
// its siblings and child off the tree; what it cut off is walked on its own
// afterwards, a level at a time (an entry and the siblings it leads to). The
// names of a project file's storages and streams say where such a level
// belongs: table storages ("TBkndTask", "CV_iew"...) in the data storage
// that lost an entry, table streams ("VarMeta", "FixedData"...) in the table
// storage that lost an entry, or in the one table storage its data storage
// lacks, which is then made again under its name. Where a loss went
// unnoticed (a link damaged into "none" cuts entries off silently): table
// storages in the one data storage that lacks them; streams, when no
// storage of their family noticed a loss, in the one table storage that
// lacks them. A level holding a name only one view table holds
// ("2a40...._ffffffff" in CCommandBar, "2b40...._ffffffff" in CVba) goes
// to that table, made again if the view storage lost it; one holding names
// of CVba's VBA project ("PROJECT", "_VBA_PROJECT"...) to the storage that
// holds them there, made again if its parent lost it. A level holding a
// data or view storage goes to the root storage. Where no single
// place fits, the level stays where the salvage puts orphans otherwise.
#pragma once

#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/CompoundFile.h"
#include "platform/CompoundFileFormat.h"

namespace salvage {

// A storage the rebuilt file holds so far.
struct PlacedStorage {
  platform::ElementId id = platform::kRootElement;
  std::u16string name;
  std::set<std::u16string> children;  // names of what was written into it
  bool lostBelow = false;             // its children led to a lost entry
  platform::ElementId parent = platform::kRootElement;
  std::uint32_t firstChild = platform::cfb::kNoEntry;  // the entry its tree of children hangs from
};

// One entry of an orphaned level.
struct OrphanMember {
  std::u16string name;
  bool storage = false;
};

struct OrphanPlace {
  enum class Kind { Keep, Into, Recreate };
  Kind kind = Kind::Keep;
  platform::ElementId storage = platform::kRootElement;  // Into: the place; Recreate: its parent
  std::u16string name;                                  // Recreate: the storage to make again
};

// The project's data storages ("   19", "   114"...), which hold its tables,
// and its view storages ("   29", "   214"...).
bool IsDataStorage(std::u16string_view name);
bool IsViewStorage(std::u16string_view name);
// The table storages every data storage of these versions holds.
inline constexpr std::array<std::u16string_view, 6> kDataTables = {u"TBkndTask", u"TBkndRsc",  u"TBkndAssn",
                                                                   u"TBkndCal",  u"TBkndCons", u"TBkndOutlCode"};

// Whether the project keeps an entry of this name and kind in another kind
// of storage than parent: a table stream in a data storage, a table storage
// in a table storage or in the other family's storage. A link that leads to
// it from parent's level was damaged. Names the project does not know, and
// storages that are not the project's, are never judged.
bool BelongsElsewhere(std::u16string_view parent, std::u16string_view name, bool storage);

// The place for one orphaned level among the storages written so far (the
// root storage first); Keep when no single place fits.
OrphanPlace PlaceOrphanLevel(const std::vector<OrphanMember>& level, const std::vector<PlacedStorage>& placed);

// Whether every member is a stream a table storage holds.
bool TableStreamsLevel(const std::vector<OrphanMember>& level);

// A table storage, with the first sector of its streams in the mini stream.
struct TableFirst {
  std::u16string name;
  std::uint32_t first = 0;
};

// The project writes the tables of its data and view storages in one order
// (TBkndOutlCode, TBkndCons, TBkndAssn, TBkndCal, TBkndRsc, TBkndTask; CGrouping,
// CVba, CMap, CCommandBar, CEdl, CUdm, CReport, CTable, CFilter, CV_iew),
// each one's streams after the last's. For levels of table streams whose
// storage was lost (levels: the first mini sector of each one's streams),
// the table each was: between the tables present around it, as many tables
// lack as levels lie there, taken in that order. Empty for a level where the
// counts differ, and for all where the tables present are not in that order.
std::vector<std::u16string> TablesByWritingOrder(const std::vector<TableFirst>& present,
                                                 const std::vector<std::uint32_t>& levels);

}  // namespace salvage
