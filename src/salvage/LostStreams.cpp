#include "salvage/LostStreams.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "salvage/Layout.h"
#include "salvage/Sat.h"

namespace salvage {
namespace {

constexpr std::uint32_t kVarMetaItemSizes[] = {12, 8};
constexpr std::uint32_t kBigStreamSectors = kMiniStreamCutoff / kSectorSize;
// A data stream's candidates are the unowned chains of exactly its length;
// past this many, its place is left undecided without looking at them.
constexpr std::size_t kMaxCandidates = 64;

// What the streams of a table storage look like there: the bytes per
// FixedMeta item (0: not known, or a view's) and the high halves of its
// VarMeta items' type fields.
struct TableKind {
  std::u16string_view name;
  std::uint32_t fixedMetaStride;
  std::array<std::uint16_t, 3> varTypes;
  // The FixedData record sizes of the kinds whose FixedMeta strides agree
  // (none: the stride tells the kind).
  std::array<std::uint32_t, 2> recordSizes = {};
  // A view's FixedMeta stride in the older and the newer layout of the
  // views (none: its FixedMeta is never given back).
  std::array<std::uint8_t, 2> viewStrides = {};
};
constexpr std::array<std::uint16_t, 3> kViewVarTypes = {0x2040, 0x2240, 0x2D40};
constexpr TableKind kTableKinds[] = {
    {u"TBkndTask", 47, {0x0B40}},
    {u"TBkndRsc", 37, {0x0C40}},
    {u"TBkndCal", 10, {0x0D40}, {12}},
    {u"TBkndAssn", 34, {0x0F40}},
    {u"TBkndCons", 10, {0x0E40}, {20}},
    {u"TBkndOutlCode", 10, {0x1640}, {14, 18}},
    {u"CV_iew", 0, kViewVarTypes, {}, {10, 10}},
    {u"CTable", 0, kViewVarTypes, {}, {9, 10}},
    {u"CFilter", 0, kViewVarTypes, {}, {9, 10}},
    {u"CGrouping", 0, kViewVarTypes, {}, {9, 10}},
    {u"CEdl", 0, kViewVarTypes, {}, {10, 11}},
    {u"CMap", 0, kViewVarTypes, {}, {9, 10}},
    {u"CUdm", 0, kViewVarTypes, {}, {9, 10}},
    {u"CReport", 0, kViewVarTypes, {}, {9, 10}},
    {u"CCommandBar", 0, kViewVarTypes},
};

const TableKind* KindOf(std::u16string_view name) {
  for (const TableKind& k : kTableKinds)
    if (k.name == name) return &k;
  return nullptr;
}

bool HasVarType(const TableKind& kind, std::uint16_t type) {
  return type != 0 && std::find(kind.varTypes.begin(), kind.varTypes.end(), type) != kind.varTypes.end();
}

std::uint32_t U32(platform::ByteView v, std::size_t at) { return v.u32_at(at).value_or(0); }

// Whether the chain holds a stream of size bytes: in the mini stream below
// the cutoff, in big sectors from it, and exactly as many sectors as the
// size needs.
bool Holds(const UnownedChain& c, std::uint64_t size) {
  if (size == 0) return false;
  const bool mini = size < kMiniStreamCutoff;
  const std::uint32_t unit = mini ? kMiniSectorSize : kSectorSize;
  return c.mini == mini && std::uint64_t{c.sectors} == (size + unit - 1) / unit && c.bytes.size() >= size;
}

// Whether the chain holds nothing but zeros past size.
bool ZeroPast(const UnownedChain& c, std::uint64_t size) {
  return size >= c.bytes.size() || std::all_of(c.bytes.begin() + static_cast<std::ptrdiff_t>(size), c.bytes.end(),
                                               [](std::uint8_t b) { return b == 0; });
}

platform::ByteView ViewOf(const UnownedChain& c, std::uint64_t size) {
  return platform::ByteView(c.bytes.data(), std::min<std::uint64_t>(size, c.bytes.size()));
}

bool MagicAt(platform::ByteView v) { return U32(v, 0) == kTableMetaMagic; }

// A FixedMeta of stride bytes per item: its size, when its items (as many
// as its header calls valid) each hold a state byte and a position inside
// the FixedData its header sizes.
bool FixedItemAt(platform::ByteView head, std::size_t at, std::uint32_t dataSize) {
  const std::uint8_t state = head.u8_at(at).value_or(1);
  return (state == 0 || state == 2 || state == 4 || state == 6) && U32(head, at + 4) < dataSize;
}

std::optional<std::uint32_t> FixedMetaSize(platform::ByteView head, std::uint32_t stride) {
  const std::uint32_t valid = U32(head, 8), dataSize = U32(head, 12);
  if (!MagicAt(head) || stride == 0 || valid == 0 || dataSize == 0) return std::nullopt;
  const std::uint64_t size = kFixedMetaHeader + std::uint64_t{stride} * valid;
  if (size > head.size()) return std::nullopt;
  for (std::uint32_t i = 0; i < valid; ++i)
    if (!FixedItemAt(head, kFixedMetaHeader + std::size_t{stride} * i, dataSize)) return std::nullopt;
  return static_cast<std::uint32_t>(size);
}

// Its size where fits(size) says: the one its header tells, or, for the few
// whose header counts fewer items than they hold (those after the count are
// stale), the fewest items past the count, each an item, that fit. Zeros
// are no item: a sector's slack past a stream's end holds them.
template <typename Fits>
std::optional<std::uint32_t> FixedMetaSizeThatFits(platform::ByteView head, std::uint32_t stride, Fits fits) {
  const auto told = FixedMetaSize(head, stride);
  if (!told || fits(*told)) return told;
  for (std::uint64_t end = *told; end + stride <= head.size(); end += stride) {
    const auto at = static_cast<std::size_t>(end);
    bool zero = true;
    for (std::size_t i = 0; i < stride && zero; ++i) zero = head.u8_at(at + i).value_or(0) == 0;
    if (zero || !FixedItemAt(head, at, U32(head, 12))) return std::nullopt;
    if (fits(end + stride)) return static_cast<std::uint32_t>(end + stride);
  }
  return std::nullopt;
}

// The record size a FixedMeta that fits stride (FixedMetaFits) tells of
// its FixedData of dataSize bytes: the one distance between the positions
// of its records (deleted ones too), or, for a single record, what lies
// from it to the end. None when it holds no record, or the distances differ.
std::optional<std::uint32_t> RecordSizeTold(platform::ByteView meta, std::uint32_t stride, std::uint64_t dataSize) {
  if (stride == 0) return std::nullopt;
  std::vector<std::uint32_t> positions;
  for (std::size_t at = kFixedMetaHeader; at + stride <= meta.size(); at += stride)
    if (const std::uint8_t state = meta.u8_at(at).value_or(1); state == 0 || state == 2)
      positions.push_back(U32(meta, at + 4));
  if (positions.empty()) return std::nullopt;
  std::sort(positions.begin(), positions.end());
  if (positions.size() == 1)
    return dataSize > positions[0] ? std::optional<std::uint32_t>(static_cast<std::uint32_t>(dataSize - positions[0]))
                                   : std::nullopt;
  const std::uint32_t step = positions[1] - positions[0];
  if (step == 0) return std::nullopt;
  for (std::size_t i = 2; i < positions.size(); ++i)
    if (positions[i] - positions[i - 1] != step) return std::nullopt;
  return step;
}

// Whether the records a FixedMeta of the kind's stride names, in a
// FixedData of dataSize bytes, may be the kind's: where kinds share a
// stride, the distance between the records tells which (a FixedMeta whose
// records tell nothing may be any).
bool RecordsFitKind(const TableKind& kind, platform::ByteView meta, std::uint64_t dataSize) {
  if (kind.recordSizes[0] == 0) return true;
  const auto told = RecordSizeTold(meta, kind.fixedMetaStride, dataSize);
  return !told || std::find(kind.recordSizes.begin(), kind.recordSizes.end(), *told) != kind.recordSizes.end();
}

// A lost Fixed2Meta's size: one that needs just its chain's sectors.
std::optional<std::uint32_t> Fixed2MetaSize(const UnownedChain& c) {
  return Fixed2MetaSizeTold(ViewOf(c, c.bytes.size()), [&](std::uint64_t size) { return Holds(c, size); });
}

// A VarMeta as a chain holds it: its item size and, for 12-byte items whose
// type fields agree, the high half they share (0 otherwise).
struct VarMetaShape {
  std::uint32_t size = 0, itemSize = 0;
  std::uint16_t type = 0;
};

bool VarMetaHeader(platform::ByteView v) {
  return MagicAt(v) && U32(v, 4) == 0 && U32(v, 12) == 0 && U32(v, 16) == 0 && U32(v, 8) != 0 && U32(v, 20) != 0;
}

// Whether every item's position lies inside the Var2Data its header sizes.
bool PositionsInside(platform::ByteView v, std::uint32_t itemSize) {
  const std::uint32_t items = U32(v, 8), var2Size = U32(v, 20);
  for (std::uint32_t i = 0; i < items; ++i)
    if (U32(v, kVarMetaHeader + std::size_t{itemSize} * i + 4) >= var2Size) return false;
  return true;
}

// The high half of the type field that every 12-byte item of a VarMeta
// shares (the kind of its storage); none where they differ.
std::optional<std::uint16_t> SharedVarType(platform::ByteView v) {
  const auto type = static_cast<std::uint16_t>(U32(v, kVarMetaHeader + 8) >> 16);
  for (std::uint32_t i = 1; i < U32(v, 8); ++i)
    if (U32(v, kVarMetaHeader + 12 * std::size_t{i} + 8) >> 16 != type) return std::nullopt;
  return type;
}

std::optional<VarMetaShape> VarMetaOf(const UnownedChain& c) {
  const platform::ByteView head = ViewOf(c, c.bytes.size());
  if (!VarMetaHeader(head)) return std::nullopt;
  const std::uint32_t items = U32(head, 8);
  for (std::uint32_t itemSize : kVarMetaItemSizes) {
    const std::uint64_t size = kVarMetaHeader + std::uint64_t{itemSize} * items;
    if (!Holds(c, size)) continue;
    const platform::ByteView v = ViewOf(c, size);
    if (!PositionsInside(v, itemSize)) continue;
    VarMetaShape shape{static_cast<std::uint32_t>(size), itemSize, 0};
    if (itemSize == 12) {
      // 12-byte items name their storage's kind; items that do not agree
      // on a kind known here are read as 8-byte items, if at all.
      const std::optional<std::uint16_t> type = SharedVarType(v);
      if (!type || std::none_of(std::begin(kTableKinds), std::end(kTableKinds),
                                [&](const TableKind& k) { return HasVarType(k, *type); }))
        continue;
      shape.type = *type;
    }
    return shape;
  }
  return std::nullopt;
}

// The item size of a VarMeta whose size the header's item count explains.
std::uint32_t VarItemSize(platform::ByteView v) {
  const std::uint32_t items = U32(v, 8);
  for (std::uint32_t itemSize : kVarMetaItemSizes)
    if (items != 0 && v.size() == kVarMetaHeader + std::uint64_t{itemSize} * items) return itemSize;
  return 0;
}

// Whether var2 holds a length-prefixed value inside it at every position
// the VarMeta's items name.
bool ValuesAtPositions(platform::ByteView varMeta, platform::ByteView var2) {
  const std::uint32_t itemSize = VarItemSize(varMeta);
  if (itemSize == 0) return false;
  const std::uint32_t items = U32(varMeta, 8);
  for (std::uint32_t i = 0; i < items; ++i) {
    const std::uint64_t at = U32(varMeta, kVarMetaHeader + std::size_t{itemSize} * i + 4);
    const auto length = var2.u32_at(static_cast<std::size_t>(at));
    if (!length || at + 4 + *length > var2.size()) return false;
  }
  return true;
}

// The chains by index, as MatchLostStreams weighs them.
struct ChainList {
  const std::vector<const UnownedChain*>& list;
  std::size_t size() const { return list.size(); }
  const UnownedChain& operator[](std::size_t i) const { return *list[i]; }
};

struct Edge {
  std::size_t home, chain;
  std::u16string name;
  std::uint32_t size;
  std::string why;
};

// The edges to give: a home slot (home, name) goes to the one chain among
// its candidates that fits no other slot, where every other candidate fits
// several (a one-item meta stream reads as one of every kind of its
// stride, a header that explains many items only as one kind). Two such
// chains leave the slot undecided, and so does a chain that fits two
// slots. Nothing is given by elimination: the stream a slot lacks may be
// lost for good, and the chain that fits it last may be another's.
// Where several candidates fit only that slot, the rivals (edges weighed
// elsewhere, never given here) decide: the one candidate that fits none
// of them wins (a FixedMeta of many items at a table's stride beats
// one-item view FixedMetas that read as one item of it too).
std::vector<Edge> Unambiguous(const std::vector<Edge>& edges, const std::vector<Edge>& rivals = {}) {
  using Slot = std::pair<std::size_t, std::u16string>;
  std::map<Slot, int> onlyHere, free;
  std::unordered_map<std::size_t, int> chains, rivalled;
  for (const Edge& e : edges) ++chains[e.chain];
  for (const Edge& e : rivals) ++rivalled[e.chain];
  for (const Edge& e : edges) {
    if (chains[e.chain] != 1) continue;
    ++onlyHere[{e.home, e.name}];
    if (!rivalled.count(e.chain)) ++free[{e.home, e.name}];
  }
  std::vector<Edge> out;
  for (const Edge& e : edges) {
    if (chains[e.chain] != 1) continue;
    const Slot slot{e.home, e.name};
    if (onlyHere[slot] == 1 || (free[slot] == 1 && !rivalled.count(e.chain))) out.push_back(e);
  }
  return out;
}

// The order in which a table storage's streams are written, one chain
// after the other.
constexpr std::u16string_view kWritingOrder[] = {u"Props",    u"Fixed2Data", u"Fixed2Meta", u"Var2Data",
                                                  u"FixedData", u"VarMeta",    u"FixedMeta"};

int WritingRank(std::u16string_view name) {
  for (std::size_t i = 0; i < std::size(kWritingOrder); ++i)
    if (kWritingOrder[i] == name) return static_cast<int>(i);
  return -1;
}

// Where a stream of a home lies: its first sector and how many it needs.
struct Place {
  bool mini = true;
  std::uint32_t start = 0, sectors = 0;
};
using Places = std::map<std::u16string, Place>;

Places PlacesOf(const LostStreamHome& home) {
  Places places;
  for (const auto& [name, start] : home.starts) {
    const auto size = home.sizes.find(name);
    if (size == home.sizes.end() || size->second == 0) continue;
    const bool mini = size->second < kMiniStreamCutoff;
    const std::uint32_t unit = mini ? kMiniSectorSize : kSectorSize;
    places[name] = {mini, start, static_cast<std::uint32_t>((size->second + unit - 1) / unit)};
  }
  return places;
}

// Whether the chain lies as the stream name would beside the home's
// streams: its first run of sectors ending where a later one of the
// writing order begins (a file saved again moves a stream's later sectors,
// seldom its first), or beginning where an earlier one ends; at most a few
// places apart in the order (a Props lies before the Fixed2 streams or the
// Var2Data, never right before a FixedData, as a Var2Data does).
bool Adjoins(const Places& places, const std::u16string& name, const UnownedChain& c) {
  constexpr int kMostApart = 3;
  const int rank = WritingRank(name);
  if (rank < 0) return false;
  for (const auto& [other, p] : places) {
    const int otherRank = WritingRank(other);
    if (otherRank < 0 || p.mini != c.mini || std::abs(otherRank - rank) > kMostApart) continue;
    if (otherRank > rank && std::uint64_t{p.start} == std::uint64_t{c.start} + (c.firstRun ? c.firstRun : c.sectors))
      return true;
    if (otherRank < rank && std::uint64_t{p.start} + p.sectors == c.start) return true;
  }
  return false;
}

// The edges decided by where their chains lie: an edge whose chain adjoins
// its home's streams, where no other edge of its chain or of its slot
// does, wins; the other edges of its slot and their chains are left
// undecided (the chain that fits a slot next to another's is not told
// by that), and, unless only place decides, the rest is decided as
// Unambiguous decides.
std::vector<Edge> DecideByPlace(const std::vector<Edge>& edges, const std::vector<std::uint8_t>& adjoins,
                                bool onlyPlace, const std::vector<Edge>& rivals) {
  using Slot = std::pair<std::size_t, std::u16string>;
  std::map<Slot, int> bySlot;
  std::unordered_map<std::size_t, int> byChain;
  for (std::size_t i = 0; i < edges.size(); ++i)
    if (adjoins[i]) ++bySlot[{edges[i].home, edges[i].name}], ++byChain[edges[i].chain];
  std::vector<Edge> out;
  std::set<Slot> wonSlots;
  std::set<std::size_t> setAside;
  for (std::size_t i = 0; i < edges.size(); ++i) {
    const Edge& e = edges[i];
    if (!adjoins[i] || bySlot[{e.home, e.name}] != 1 || byChain[e.chain] != 1) continue;
    out.push_back(e);
    out.back().why += ", and its chain lies next to the storage's other streams";
    wonSlots.insert({e.home, e.name});
    setAside.insert(e.chain);
  }
  for (const Edge& e : edges)
    if (wonSlots.count({e.home, e.name})) setAside.insert(e.chain);
  std::vector<Edge> rest;
  for (const Edge& e : edges)
    if (!setAside.count(e.chain) && !wonSlots.count({e.home, e.name})) rest.push_back(e);
  if (!onlyPlace)
    for (const Edge& e : Unambiguous(rest, rivals)) out.push_back(e);
  return out;
}

std::string Narrow(std::u16string_view text) { return std::string(text.begin(), text.end()); }

// An empty FixedMeta (16 bytes: no items, no FixedData) with the u32@4 it
// mostly has; an empty VarMeta (24 bytes: no items, no Var2Data), or an
// empty FixedMeta whose u32@4 is 0 and whose chain's slack is zero.
bool EmptyFixedMeta(const UnownedChain& c) {
  const platform::ByteView v = ViewOf(c, c.bytes.size());
  const std::uint32_t at4 = U32(v, 4);
  return c.mini && c.sectors == 1 && MagicAt(v) && (at4 == 2 || at4 == 4 || at4 == 6) && U32(v, 8) == 0 &&
         U32(v, 12) == 0;
}

bool EmptyVarMeta(const UnownedChain& c) {
  const platform::ByteView v = ViewOf(c, c.bytes.size());
  bool zero = c.mini && c.sectors == 1 && MagicAt(v);
  for (std::size_t at = 4; at < kVarMetaHeader && zero; at += 4) zero = U32(v, at) == 0;
  return zero;
}

// Every empty FixedMeta holds the same bytes, and so does every empty
// VarMeta: they need not be told apart, only counted. They are given back
// where there are exactly as many as table storages that lack one and
// whose data stream is absent or empty (one whose data stream is not
// could not have an empty meta stream). An empty VarMeta's bytes may also
// be an empty FixedMeta's: those go only once no storage lacks a FixedMeta
// it could have.
template <typename Give>
void GiveEmptyMetas(const std::vector<LostStreamHome>& homes, const ChainList& chains,
                    const std::vector<std::uint8_t>& used, const std::vector<std::set<std::u16string>>& holds,
                    Give& give) {
  auto emptyOrAbsent = [&](std::size_t h, const std::u16string& name) {
    const auto found = homes[h].sizes.find(name);
    return found == homes[h].sizes.end() || found->second == 0;
  };
  auto lacking = [&](const std::u16string& meta, const std::u16string& data) {
    std::vector<std::size_t> out;
    for (std::size_t h = 0; h < homes.size(); ++h)
      if (KindOf(homes[h].name) && !holds[h].count(meta) && emptyOrAbsent(h, data)) out.push_back(h);
    return out;
  };
  struct EmptyMeta {
    std::u16string name, data;
    bool (*is)(const UnownedChain&);
    std::uint32_t size;
  };
  const EmptyMeta kinds[] = {{u"FixedMeta", u"FixedData", &EmptyFixedMeta, kFixedMetaHeader},
                             {u"VarMeta", u"Var2Data", &EmptyVarMeta, kVarMetaHeader}};
  auto poolOf = [&](const EmptyMeta& k) {
    std::vector<std::size_t> pool;
    for (std::size_t c = 0; c < chains.size(); ++c)
      if (!used[c] && k.is(chains[c])) pool.push_back(c);
    return pool;
  };
  // First those whose chains lie among their storage's streams, where no
  // other storage's could: a cut file leaves many storages lacking every
  // stream, and then the count tells nothing.
  constexpr std::size_t kMaxEdges = 4096;
  for (const EmptyMeta& k : kinds) {
    const std::vector<std::size_t> pool = poolOf(k), places = lacking(k.name, k.data);
    if (pool.size() * places.size() > kMaxEdges) continue;
    std::vector<Edge> edges;
    for (std::size_t c : pool)
      for (std::size_t h : places)
        edges.push_back({h, c, k.name, k.size, "an empty " + Narrow(k.name) + " header"});
    give(edges, true);
  }
  for (const EmptyMeta& k : kinds) {
    const std::vector<std::size_t> pool = poolOf(k), places = lacking(k.name, k.data);
    if (pool.empty() || pool.size() != places.size()) continue;
    if (k.name == u"VarMeta" && !lacking(u"FixedMeta", u"FixedData").empty()) continue;
    std::vector<Edge> edges;
    for (std::size_t i = 0; i < pool.size(); ++i)
      edges.push_back({places[i], pool[i], k.name, k.size,
                       "an empty " + Narrow(k.name) + " header, one of " + std::to_string(pool.size()) +
                           " for as many storages that lack one"});
    give(edges);
  }
}

}  // namespace

std::optional<std::uint32_t> DataSizeTold(std::u16string_view metaName, platform::ByteView meta) {
  if (metaName == u"VarMeta" && VarMetaHeader(meta)) return U32(meta, 20);
  if ((metaName == u"FixedMeta" || metaName == u"Fixed2Meta") && MagicAt(meta) && U32(meta, 12) != 0)
    return U32(meta, 12);
  return std::nullopt;
}

std::optional<std::uint32_t> EmptyMetaSize(std::u16string_view metaName, platform::ByteView meta) {
  if (!MagicAt(meta) || U32(meta, 8) != 0) return std::nullopt;
  if (metaName == u"VarMeta" && U32(meta, 20) == 0) return static_cast<std::uint32_t>(kVarMetaHeader);
  if ((metaName == u"FixedMeta" || metaName == u"Fixed2Meta") && U32(meta, 12) == 0)
    return static_cast<std::uint32_t>(kFixedMetaHeader);
  return std::nullopt;
}

bool Fixed2MetaReadsAt(platform::ByteView v, std::uint64_t size) {
  const std::uint32_t items = U32(v, 8), dataSize = U32(v, 12);
  if (!MagicAt(v) || items < 2 || dataSize == 0 || size > v.size() || size <= kFixedMetaHeader ||
      (size - kFixedMetaHeader) % items != 0)
    return false;
  const std::uint64_t stride = (size - kFixedMetaHeader) / items;
  if (stride < 8) return false;  // an item's row position: its bytes 4 to 8
  std::vector<std::uint32_t> rows;
  for (std::uint32_t i = 0; i < items; ++i) {
    const std::uint32_t row = U32(v, kFixedMetaHeader + static_cast<std::size_t>(stride) * i + 4);
    if (row >= dataSize) return false;
    rows.push_back(row);
  }
  std::sort(rows.begin(), rows.end());
  return std::adjacent_find(rows.begin(), rows.end()) == rows.end();
}

std::optional<std::uint32_t> Fixed2MetaSizeTold(platform::ByteView v, const std::function<bool(std::uint64_t)>& fits) {
  const std::uint32_t items = U32(v, 8);
  if (!MagicAt(v) || items < 2) return std::nullopt;
  std::optional<std::uint32_t> found;
  for (std::uint64_t size = kFixedMetaHeader + 8 * std::uint64_t{items}; size <= v.size(); size += items) {
    if (!fits(size) || !Fixed2MetaReadsAt(v, size)) continue;
    if (found) return std::nullopt;
    found = static_cast<std::uint32_t>(size);
  }
  if (!found) return std::nullopt;
  for (const TableKind& k : kTableKinds)
    if (k.fixedMetaStride != 0 && k.fixedMetaStride == (*found - kFixedMetaHeader) / items) return std::nullopt;
  return found;
}

std::vector<std::uint32_t> VarMetaPositions(platform::ByteView varMeta) {
  std::vector<std::uint32_t> positions;
  const std::uint32_t itemSize = VarMetaHeader(varMeta) ? VarItemSize(varMeta) : 0;
  if (itemSize == 0) return positions;
  for (std::uint32_t i = 0; i < U32(varMeta, 8); ++i)
    positions.push_back(U32(varMeta, kVarMetaHeader + std::size_t{itemSize} * i + 4));
  std::sort(positions.begin(), positions.end());
  positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
  return positions;
}

std::vector<std::uint32_t> VarMetaSizesTold(platform::ByteView varMeta) {
  std::vector<std::uint32_t> sizes;
  if (!VarMetaHeader(varMeta)) return sizes;
  for (std::uint32_t itemSize : kVarMetaItemSizes) {
    const std::uint64_t size = kVarMetaHeader + std::uint64_t{itemSize} * U32(varMeta, 8);
    if (size <= 0xFFFFFFFFu) sizes.push_back(static_cast<std::uint32_t>(size));
  }
  return sizes;
}

std::uint32_t FixedMetaStrideOf(std::u16string_view storage) {
  const TableKind* kind = KindOf(storage);
  return kind ? kind->fixedMetaStride : 0;
}

bool VarTypeOf(std::u16string_view storage, std::uint16_t type) {
  const TableKind* kind = KindOf(storage);
  return kind && HasVarType(*kind, type);
}

bool IsTableStorage(std::u16string_view name) { return KindOf(name) != nullptr; }

bool IsMetaStream(std::u16string_view name) {
  return name == u"VarMeta" || name == u"FixedMeta" || name == u"Fixed2Meta";
}

std::vector<UnownedChain> CollectUnownedChains(const CSat& sat, ImageView image, const OwnedParts& owned,
                                               std::uint64_t budget) {
  std::vector<UnownedChain> out;
  for (const bool mini : {true, false}) {
    const std::vector<std::uint32_t>& table = mini ? sat.MiniSatTable() : sat.SatTable();
    const std::uint32_t unit = mini ? kMiniSectorSize : kSectorSize;
    const std::uint64_t inFile = mini ? sat.MiniStreamSize() / kMiniSectorSize : image.Size() / kSectorSize;
    const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(table.size(), inFile));
    // How many links lead to each sector (two meaning two or more), and
    // which sectors the directory and the tables own.
    std::vector<std::uint8_t> linked(count, 0), mine(count, 0);
    for (std::uint32_t s = 0; s < count; ++s)
      if (const std::uint32_t next = table[s]; next < count && linked[next] < 2) ++linked[next];
    auto own = [&](std::uint32_t s) {
      if (s < count) mine[s] = 1;
    };
    for (std::uint32_t s : mini ? owned.miniStarts : owned.bigStarts) own(s);
    if (!mini)
      for (std::uint32_t s : owned.bigSectors) own(s);

    std::vector<std::uint32_t> path;
    for (std::uint32_t head = 0; head < count; ++head) {
      if (linked[head] != 0 || mine[head] || (table[head] >= count && table[head] != kEndOfChain)) continue;
      // The walk passes only sectors that this head's chain alone leads
      // to, so that all the walks together visit each sector once.
      path.clear();
      bool whole = false;
      for (std::uint32_t s = head;;) {
        if (mine[s] || (s != head && linked[s] != 1)) break;
        if (!mini && (sat.LinkLost(s) || sat.IsTableSector(s))) break;
        path.push_back(s);
        const std::uint32_t next = table[s];
        if (next == kEndOfChain) {
          whole = true;
          break;
        }
        if (next >= count || path.size() >= count) break;
        s = next;
      }
      if (!whole || (!mini && path.size() < kBigStreamSectors)) continue;
      const std::uint64_t bytes = std::uint64_t{unit} * path.size();
      if (bytes > budget) continue;
      UnownedChain chain;
      chain.start = head;
      chain.mini = mini;
      chain.sectors = static_cast<std::uint32_t>(path.size());
      while (chain.firstRun < path.size() && path[chain.firstRun] == head + chain.firstRun) ++chain.firstRun;
      chain.bytes.resize(static_cast<std::size_t>(bytes));
      if (!sat.CopySectors(path, mini, chain.bytes.data())) continue;
      budget -= bytes;
      out.push_back(std::move(chain));
    }
  }
  return out;
}

int ViewLayoutOf(const std::vector<std::pair<std::u16string, platform::ByteView>>& fixedMetas) {
  int layout = -1;
  for (const auto& [name, meta] : fixedMetas) {
    const TableKind* kind = KindOf(name);
    const std::uint32_t items = U32(meta, 8);
    if (!kind || kind->viewStrides[0] == kind->viewStrides[1] || items == 0 || !MagicAt(meta)) continue;
    for (int l = 0; l < 2; ++l) {
      if (meta.size() != kFixedMetaHeader + std::uint64_t{kind->viewStrides[static_cast<std::size_t>(l)]} * items)
        continue;
      if (layout >= 0 && layout != l) return -1;
      layout = l;
    }
  }
  return layout;
}

std::vector<StreamGivenBack> MatchLostStreams(const std::vector<LostStreamHome>& homes,
                                              const std::vector<UnownedChain>& chains, int viewLayout) {
  std::vector<const UnownedChain*> all;
  all.reserve(chains.size());
  for (const UnownedChain& c : chains) all.push_back(&c);
  return MatchLostStreams(homes, all, viewLayout);
}

std::vector<StreamGivenBack> MatchLostStreams(const std::vector<LostStreamHome>& homes,
                                              const std::vector<const UnownedChain*>& chainList, int viewLayout) {
  const ChainList chains{chainList};
  std::vector<StreamGivenBack> given;
  std::vector<std::uint8_t> used(chains.size(), 0);
  // What each home holds and its meta streams' bytes, with what is given back.
  std::vector<std::map<std::u16string, platform::ByteView>> metas;
  std::vector<std::set<std::u16string>> holds;
  std::vector<Places> places;
  for (const LostStreamHome& h : homes) {
    metas.push_back(h.metas);
    places.push_back(PlacesOf(h));
    std::set<std::u16string> names;
    for (const auto& [name, size] : h.sizes) names.insert(name);
    holds.push_back(std::move(names));
  }
  auto lacks = [&](std::size_t h, const std::u16string& name) { return !holds[h].count(name); };
  auto sizeOf = [&](std::size_t h, const std::u16string& name) -> std::optional<std::uint64_t> {
    const auto found = homes[h].sizes.find(name);
    if (found == homes[h].sizes.end()) return std::nullopt;
    return found->second;
  };
  // The streams already given back are places too: FixedMetas go first, as
  // a VarMeta ends where its FixedMeta begins.
  auto give = [&](const std::vector<Edge>& edges, bool onlyByPlace = false, const std::vector<Edge>& rivals = {}) {
    std::vector<std::uint8_t> adjoins(edges.size(), 0);
    for (std::size_t i = 0; i < edges.size(); ++i)
      adjoins[i] = Adjoins(places[edges[i].home], edges[i].name, chains[edges[i].chain]);
    for (const Edge& e : DecideByPlace(edges, adjoins, onlyByPlace, rivals)) {
      const UnownedChain& chain = chains[e.chain];
      used[e.chain] = 1;
      holds[e.home].insert(e.name);
      places[e.home][e.name] = {chain.mini, chain.start, chain.sectors};
      if (IsMetaStream(e.name)) metas[e.home][e.name] = ViewOf(chains[e.chain], e.size);
      given.push_back({e.home, e.chain, e.name, e.size, e.why});
    }
  };

  // The meta streams, told by their headers. The homes that lack each, by
  // kind: a kind with more than a few such homes (never so in a project
  // file) is left undecided, so that each chain weighs a bounded number.
  constexpr std::size_t kKinds = std::size(kTableKinds);
  constexpr std::size_t kMaxHomesOfAKind = 4;
  // A view's stride is its layout's, where the file's surviving views tell it.
  auto strideOf = [&](const TableKind& kind) -> std::uint32_t {
    if (kind.fixedMetaStride != 0) return kind.fixedMetaStride;
    if (kind.viewStrides[0] == kind.viewStrides[1]) return kind.viewStrides[0];
    return viewLayout == 0 || viewLayout == 1 ? kind.viewStrides[static_cast<std::size_t>(viewLayout)] : 0;
  };
  std::array<std::vector<std::size_t>, kKinds> lackVar, lackFixed;
  for (std::size_t h = 0; h < homes.size(); ++h) {
    const TableKind* kind = KindOf(homes[h].name);
    if (!kind) continue;
    const auto k = static_cast<std::size_t>(kind - kTableKinds);
    if (lacks(h, u"VarMeta")) lackVar[k].push_back(h);
    if (strideOf(*kind) != 0 && lacks(h, u"FixedMeta")) lackFixed[k].push_back(h);
  }
  std::vector<Edge> edges, varEdges, viewEdges;
  for (std::size_t c = 0; c < chains.size(); ++c) {
    const UnownedChain& chain = chains[c];
    const platform::ByteView all = ViewOf(chain, chain.bytes.size());
    if (!MagicAt(all)) continue;
    if (const auto var = VarMetaOf(chain)) {
      for (std::size_t k = 0; k < kKinds; ++k) {
        if (lackVar[k].size() > kMaxHomesOfAKind) continue;
        if (var->type != 0 && !HasVarType(kTableKinds[k], var->type)) continue;
        for (std::size_t h : lackVar[k]) {
          if (const auto var2 = sizeOf(h, u"Var2Data"); var2 && *var2 != U32(all, 20)) continue;
          varEdges.push_back({h, c, u"VarMeta", var->size,
                              "a VarMeta header: " + std::to_string(U32(all, 8)) + " items of " +
                                  std::to_string(var->itemSize) + " bytes"});
        }
      }
      continue;
    }
    for (std::size_t k = 0; k < kKinds; ++k) {
      if (lackFixed[k].empty() || lackFixed[k].size() > kMaxHomesOfAKind) continue;
      const std::uint32_t stride = strideOf(kTableKinds[k]);
      const auto size = FixedMetaSizeThatFits(all, stride, [&](std::uint64_t n) { return Holds(chain, n); });
      if (!size) continue;
      // Kinds that share a stride are told by their records' size.
      if (!RecordsFitKind(kTableKinds[k], ViewOf(chain, *size), U32(all, 12))) continue;
      for (std::size_t h : lackFixed[k]) {
        if (const auto data = sizeOf(h, u"FixedData"); data && *data != U32(all, 12)) continue;
        (kTableKinds[k].fixedMetaStride != 0 ? edges : viewEdges)
            .push_back({h, c, u"FixedMeta", *size,
                        "a FixedMeta header: " + std::to_string(U32(all, 8)) + " items of " +
                            std::to_string(stride) + " bytes"});
      }
    }
  }
  // A view's FixedMeta tells no kind of view, nor, by its records, that it
  // is no backend table's: it goes only where it lies among a view's
  // streams, from the chains the tables left. Each stream given back is a
  // place for the next: the rounds go on while they give (a view's VarMeta
  // lies next to its FixedMeta, and the other way round).
  auto open = [&](std::vector<Edge>& list) {
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const Edge& e) { return used[e.chain] || holds[e.home].count(e.name); }),
               list.end());
  };
  // Past the first round only place decides: a chain that fits one slot
  // less than before is not told by that.
  constexpr int kMetaRounds = 4;
  for (int round = 0; round < kMetaRounds; ++round) {
    const std::size_t before = given.size();
    open(edges);
    open(viewEdges);
    give(edges, round > 0, viewEdges);
    open(varEdges);
    give(varEdges, round > 0);
    open(viewEdges);
    give(viewEdges, true);
    if (given.size() == before) break;
  }
  GiveEmptyMetas(homes, chains, used, holds, give);

  // A backend table's Fixed2Meta, told by its items: as many as its
  // FixedMeta's, and rows inside the Fixed2Data it has, if any.
  edges.clear();
  for (std::size_t c = 0; c < chains.size(); ++c) {
    if (used[c]) continue;
    const auto size = Fixed2MetaSize(chains[c]);
    if (!size) continue;
    const platform::ByteView all = ViewOf(chains[c], *size);
    for (std::size_t h = 0; h < homes.size(); ++h) {
      const TableKind* kind = KindOf(homes[h].name);
      const auto fixed = metas[h].find(u"FixedMeta");
      if (!kind || kind->fixedMetaStride == 0 || !lacks(h, u"Fixed2Meta") || fixed == metas[h].end() ||
          U32(fixed->second, 8) != U32(all, 8))
        continue;
      if (const auto data = sizeOf(h, u"Fixed2Data"); data && *data != U32(all, 12)) continue;
      edges.push_back({h, c, u"Fixed2Meta", *size,
                       "a Fixed2Meta of " + std::to_string(U32(all, 8)) + " items " +
                           std::to_string((*size - kFixedMetaHeader) / U32(all, 8)) +
                           " bytes apart, as many as its FixedMeta's"});
    }
  }
  give(edges);

  // The data streams, sized by their meta streams: the chains of exactly
  // that length that hold no meta stream, by length.
  std::map<std::pair<bool, std::uint32_t>, std::vector<std::size_t>> byLength;
  for (std::size_t c = 0; c < chains.size(); ++c)
    if (!used[c] && !MagicAt(ViewOf(chains[c], chains[c].bytes.size())))
      byLength[{chains[c].mini, chains[c].sectors}].push_back(c);
  struct DataStream {
    std::u16string_view name, meta;
    std::size_t sizeAt;
  };
  // Var2Data first: its values at the VarMeta's positions tell it best.
  // Those left undecided are weighed again once the FixedDatas are given
  // back, as a Var2Data ends where its FixedData begins.
  constexpr DataStream kDataStreams[] = {{u"Var2Data", u"VarMeta", 20},
                                         {u"FixedData", u"FixedMeta", 12},
                                         {u"Var2Data", u"VarMeta", 20},
                                         {u"Fixed2Data", u"Fixed2Meta", 12}};
  for (const DataStream& d : kDataStreams) {
    edges.clear();
    const std::u16string name(d.name), meta(d.meta);
    for (std::size_t h = 0; h < homes.size(); ++h) {
      const auto found = metas[h].find(meta);
      if (!lacks(h, name) || found == metas[h].end() || !MagicAt(found->second)) continue;
      const std::uint32_t size = U32(found->second, d.sizeAt);
      if (size == 0) continue;
      const bool mini = size < kMiniStreamCutoff;
      const std::uint32_t unit = mini ? kMiniSectorSize : kSectorSize;
      const auto list = byLength.find({mini, static_cast<std::uint32_t>((std::uint64_t{size} + unit - 1) / unit)});
      if (list == byLength.end() || list->second.size() > kMaxCandidates) continue;
      const std::size_t first = edges.size();
      for (std::size_t c : list->second) {
        if (used[c] || !Holds(chains[c], size)) continue;
        if (name == u"Var2Data" && !ValuesAtPositions(found->second, ViewOf(chains[c], size))) continue;
        edges.push_back({h, c, name, size,
                         "the size its " + Narrow(meta) + " gives (" + std::to_string(size) + " bytes)" +
                             (name == u"Var2Data" ? ", with a value at every position it names" : "")});
      }
      // A stream's last sector is zero past its end, nearly always: of
      // several chains of that length, those that hold bytes there (a
      // longer stream's) are not this one, while one of them is clean.
      const auto clean = [&](const Edge& e) { return ZeroPast(chains[e.chain], size); };
      if (edges.size() - first > 1 && std::any_of(edges.begin() + first, edges.end(), clean))
        edges.erase(std::remove_if(edges.begin() + first, edges.end(), [&](const Edge& e) { return !clean(e); }),
                    edges.end());
    }
    // A chain that fitted two slots fits one once the other slot took the
    // chain that only it fits.
    for (int round = 0; round < kMetaRounds; ++round) {
      const std::size_t before = given.size();
      open(edges);
      give(edges);
      if (given.size() == before) break;
    }
  }

  // A table storage's Props, told by its header: its size less 4, twice.
  // Only the backend tables keep one; the data storage's own Props has the
  // same header, so where its entry was lost too, its chain makes every
  // place undecided.
  edges.clear();
  for (std::size_t c = 0; c < chains.size(); ++c) {
    if (used[c]) continue;
    const platform::ByteView all = ViewOf(chains[c], chains[c].bytes.size());
    const std::uint64_t size = std::uint64_t{U32(all, 0)} + 4;
    if (U32(all, 0) < 4 || U32(all, 4) != U32(all, 0) || !Holds(chains[c], size)) continue;
    for (std::size_t h = 0; h < homes.size(); ++h) {
      const TableKind* kind = KindOf(homes[h].name);
      if (!kind || kind->fixedMetaStride == 0 || !lacks(h, u"Props")) continue;
      edges.push_back({h, c, u"Props", static_cast<std::uint32_t>(size),
                       "a Props header (" + std::to_string(size) + " bytes)"});
    }
  }
  // Its header is weak (a Var2Data whose first value is a rate table reads
  // so), but a Var2Data never lies where a Props would (Adjoins).
  give(edges);
  return given;
}

namespace {

constexpr std::size_t kMaxRivals = 64;

// Whether a FixedMeta of these bytes, at their size, fits home's kind.
bool FixedMetaFits(const TableKind& kind, platform::ByteView v) {
  return FixedMetaSizeThatFits(v, kind.fixedMetaStride, [&](std::uint64_t n) { return n == v.size(); }).has_value();
}

// Whether a VarMeta of these bytes, at their size, fits home's kind.
bool VarMetaFits(const TableKind& kind, platform::ByteView v) {
  if (!VarMetaHeader(v)) return false;
  const std::uint32_t itemSize = VarItemSize(v);
  if (itemSize == 0 || !PositionsInside(v, itemSize)) return false;
  if (itemSize != 12) return true;
  const std::optional<std::uint16_t> type = SharedVarType(v);
  return type && HasVarType(kind, *type);
}

}  // namespace

bool LevelMayBe(std::u16string_view table, const std::vector<LevelStream>& level) {
  const TableKind* kind = KindOf(table);
  if (!kind) return true;
  for (const LevelStream& m : level) {
    if (m.name == u"FixedMeta" && kind->fixedMetaStride != 0 && U32(m.bytes, 8) != 0 &&
        !(FixedMetaFits(*kind, m.bytes) && RecordsFitKind(*kind, m.bytes, U32(m.bytes, 12))))
      return false;
    if (m.name == u"VarMeta" && VarMetaHeader(m.bytes) && VarItemSize(m.bytes) == 12 && !VarMetaFits(*kind, m.bytes))
      return false;
  }
  return true;
}

bool LevelIsAnotherTables(std::u16string_view table, const std::vector<LevelStream>& level) {
  const TableKind* kind = KindOf(table);
  if (!kind || LevelMayBe(table, level)) return false;
  for (const LevelStream& m : level) {
    const platform::ByteView& v = m.bytes;
    if (m.name == u"FixedMeta" && MagicAt(v) && kind->fixedMetaStride != 0) {
      // Whole, two items or more, at the stride of another kind: items of
      // another table (a stream cut short or read too long seldom is).
      const std::uint32_t items = U32(v, 8);
      const std::uint64_t body = v.size() > kFixedMetaHeader ? v.size() - kFixedMetaHeader : 0;
      if (items < 2 || body % items != 0 || body / items == kind->fixedMetaStride) continue;
      const std::uint64_t stride = body / items;
      for (const TableKind& other : kTableKinds)
        if (other.fixedMetaStride == stride || other.viewStrides[0] == stride || other.viewStrides[1] == stride)
          return true;
    }
    // Sound, with positions inside its Var2Data and one kind's types.
    if (m.name == u"VarMeta" && VarMetaHeader(v) && VarItemSize(v) == 12 && PositionsInside(v, 12))
      if (const std::optional<std::uint16_t> type = SharedVarType(v); type && !HasVarType(*kind, *type)) return true;
  }
  return false;
}

std::vector<std::size_t> HomesForLevel(const std::vector<LostStreamHome>& homes, const std::vector<LevelStream>& level,
                                       const std::vector<UnownedChain>& lost) {
  // The level's streams by name, the first of each name: a level of many
  // entries is looked through once, not once per stream.
  std::unordered_map<std::u16string_view, const LevelStream*> byName;
  for (const LevelStream& m : level) byName.emplace(m.name, &m);
  auto member = [&](std::u16string_view name) -> const LevelStream* {
    const auto found = byName.find(name);
    return found == byName.end() ? nullptr : found->second;
  };
  // The lost chains that could be a meta stream: past a few of them, every
  // place is contested.
  std::vector<const UnownedChain*> metaChains;
  for (const UnownedChain& c : lost)
    if (MagicAt(ViewOf(c, c.bytes.size()))) metaChains.push_back(&c);
  const bool crowded = metaChains.size() > kMaxRivals;
  // The others by length, as a data stream's rivals are those of its length.
  std::map<std::pair<bool, std::uint32_t>, std::vector<const UnownedChain*>> byLength;
  for (const UnownedChain& c : lost)
    if (!MagicAt(ViewOf(c, c.bytes.size()))) byLength[{c.mini, c.sectors}].push_back(&c);

  std::vector<std::size_t> out, sized;
  bool told = false;
  for (std::size_t h = 0; h < homes.size(); ++h) {
    const TableKind* kind = KindOf(homes[h].name);
    if (!kind) continue;
    const LostStreamHome& home = homes[h];
    auto metaOf = [&](std::u16string_view name) -> std::optional<platform::ByteView> {
      if (const LevelStream* m = member(name)) return m->bytes;
      const auto found = home.metas.find(std::u16string(name));
      if (found != home.metas.end()) return found->second;
      return std::nullopt;
    };
    auto sizeOf = [&](std::u16string_view name) -> std::optional<std::uint64_t> {
      if (const LevelStream* m = member(name)) return m->bytes.size();
      const auto found = home.sizes.find(std::u16string(name));
      if (found != home.sizes.end()) return found->second;
      return std::nullopt;
    };
    bool fits = true;
    for (const LevelStream& m : level) {
      if (!fits) break;
      if (home.sizes.count(m.name)) {
        fits = false;
        break;
      }
      const platform::ByteView v = m.bytes;
      if (m.name == u"FixedMeta" && v.size() > 0) {
        told = true;
        // The size it gives a FixedData the home holds must agree; one that
        // came with it in the level is its sibling whatever the size says
        // (a few files keep a FixedMeta whose size is not its FixedData's).
        const auto data = member(u"FixedData") ? std::nullopt : sizeOf(u"FixedData");
        fits = kind->fixedMetaStride != 0 && FixedMetaFits(*kind, v) && (!data || *data == U32(v, 12));
        // Kinds of one stride: the records' size tells which, in the
        // FixedData the level holds or the one the header sizes.
        const LevelStream* records = member(u"FixedData");
        fits = fits && RecordsFitKind(*kind, v, records ? records->bytes.size() : U32(v, 12));
        // A lost chain that could be the home's FixedMeta contests it,
        // unless the level's own FixedData is not of the size it gives or
        // its records are another kind's.
        for (const UnownedChain* c : metaChains) {
          if (!fits || crowded) break;
          const platform::ByteView rival = ViewOf(*c, c->bytes.size());
          const auto size =
              FixedMetaSizeThatFits(rival, kind->fixedMetaStride, [&](std::uint64_t n) { return Holds(*c, n); });
          fits = !(size && (!records || U32(rival, 12) == records->bytes.size()) &&
                   RecordsFitKind(*kind, ViewOf(*c, *size), U32(rival, 12)));
        }
        fits = fits && !crowded;
      } else if (m.name == u"VarMeta" && v.size() > 0) {
        const auto var2 = sizeOf(u"Var2Data");
        // A VarMeta of no items, or of 8-byte items, names no kind of table
        // (older files): it only has to agree with the Var2Data's size, and
        // the level's other streams tell the place.
        if (v.size() == kVarMetaHeader && MagicAt(v) && U32(v, 8) == 0) continue;
        if (VarItemSize(v) == 8 && VarMetaHeader(v)) {
          fits = PositionsInside(v, 8) && (!var2 || *var2 == U32(v, 20));
          continue;
        }
        told = true;
        fits = VarMetaFits(*kind, v) && (!var2 || *var2 == U32(v, 20));
        for (const UnownedChain* c : metaChains) {
          if (!fits || crowded) break;
          const auto shape = VarMetaOf(*c);
          fits = !(shape && (shape->type == 0 || HasVarType(*kind, shape->type)));
        }
        fits = fits && !crowded;
      } else if (m.name == u"Fixed2Meta" && MagicAt(v)) {
        // As many items as its storage's FixedMeta, in every sample.
        const auto fixed = metaOf(u"FixedMeta");
        if (!fixed || !MagicAt(*fixed)) continue;
        told = true;
        fits = U32(*fixed, 8) == U32(v, 8);
      } else if ((m.name == u"FixedData" || m.name == u"Var2Data") && v.size() > 0) {
        const bool fixed = m.name == u"FixedData";
        const auto meta = metaOf(fixed ? u"FixedMeta" : u"VarMeta");
        if (!meta || !MagicAt(*meta)) continue;  // nothing tells it here: the others decide
        if (fixed && member(u"FixedMeta")) continue;  // its sibling FixedMeta decides
        told = true;
        const std::uint32_t size = U32(*meta, fixed ? 12 : 20);
        fits = size == v.size() && (fixed || ValuesAtPositions(*meta, v));
        if (fits && !fixed && (sized.empty() || sized.back() != h)) sized.push_back(h);
        const bool mini = size < kMiniStreamCutoff;
        const std::uint32_t unit = mini ? kMiniSectorSize : kSectorSize;
        const auto rivals = byLength.find({mini, static_cast<std::uint32_t>((std::uint64_t{size} + unit - 1) / unit)});
        if (fits && rivals != byLength.end()) {
          fits = rivals->second.size() <= kMaxRivals;
          for (const UnownedChain* c : rivals->second) {
            if (!fits) break;
            fits = !(Holds(*c, size) && (fixed || ValuesAtPositions(*meta, ViewOf(*c, size))));
          }
        }
      }
    }
    if (fits) out.push_back(h);
  }
  if (!told) out.clear();
  // Of several homes, the one whose VarMeta sizes the level's Var2Data to
  // the byte, with a value at every position it names, beats those that
  // know nothing of it (a FixedData's size alone does not).
  std::vector<std::size_t> sizedFits;
  std::set_intersection(out.begin(), out.end(), sized.begin(), sized.end(), std::back_inserter(sizedFits));
  if (out.size() > 1 && sizedFits.size() == 1) return sizedFits;
  return out;
}

}  // namespace salvage
