// Streams whose directory entries were lost (a zeroed directory sector)
// while their bytes and their chains survive. Such a chain is one that no
// surviving entry, table or directory owns; what it holds is told by its own
// structure, and where it goes by the table storages that lost entries and
// lack exactly that stream:
//
//   FixedMeta   magic, u32@8 valid items, u32@12 FixedData's size; its own
//               size is 16 + items * the storage's item stride
//   VarMeta     magic, u32@8 items, u32@20 Var2Data's size; 24-byte header,
//               then items of 12 bytes (8 in older files), u32@4 of each
//               item the position of its value in Var2Data; the type field
//               of a 12-byte item names the storage's kind
//   FixedData, Var2Data, Fixed2Data
//               no header: sized by their storage's meta stream (surviving
//               or given back), and a chain must hold exactly that size
//               (Var2Data: a length prefix at every item's position)
//
//   Props       u32@0 and u32@4 its size less 4 (backend tables only)
//
// A stream whose exact size nothing gives (Fixed2Meta) is left where it
// is: sized by its chain, its zero tail would read as records. Where two
// places or two chains fit, the one place whose streams the chain adjoins
// as the tables are written decides (Props, Fixed2Data, Fixed2Meta,
// Var2Data, FixedData, VarMeta, FixedMeta, one after the other: the
// VarMeta ends where its FixedMeta begins in 93 % of the samples' tables);
// where none or several do, nothing is given back.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/ByteView.h"
#include "salvage/Buffer.h"
#include "salvage/ImageView.h"

namespace salvage {

class CSat;

// The first u32 of every VarMeta, FixedMeta and Fixed2Meta.
constexpr std::uint32_t kTableMetaMagic = 0xFADFADBA;
// The bytes before the first item of a FixedMeta or Fixed2Meta, and of a VarMeta.
constexpr std::uint32_t kFixedMetaHeader = 16;
constexpr std::uint32_t kVarMetaHeader = 24;

// A chain of the SAT or the mini SAT that no surviving entry owns, with the
// bytes of its sectors.
struct UnownedChain {
  std::uint32_t start = 0;
  bool mini = true;
  std::uint32_t sectors = 0;
  std::uint32_t firstRun = 0;  // the sectors in a row from start (0: all of them)
  Bytes bytes;  // sectors * the sector size
};

// What the tables and the surviving directory own, for CollectUnownedChains.
struct OwnedParts {
  std::vector<std::uint32_t> miniStarts;  // the surviving streams in the mini stream
  std::vector<std::uint32_t> bigStarts;   // the surviving big streams and the mini stream
  std::vector<std::uint32_t> bigSectors;  // the directory's and the mini SAT's sectors
};

// The chain heads of both tables that no link leads to, that are in use and
// that owned does not name, each with its whole chain: one that merges into
// another chain, meets an owned sector or does not end is left out. The
// mini SAT's chains count from 1 mini sector, the SAT's from the 8 sectors
// of a big stream. At most budget bytes are copied in all. Linear in the
// tables' size.
std::vector<UnownedChain> CollectUnownedChains(const CSat& sat, ImageView image, const OwnedParts& owned,
                                               std::uint64_t budget);

// A table storage below which entries were lost, as the rebuilt file holds it.
struct LostStreamHome {
  std::u16string name;                                    // TBkndTask, CV_iew...
  std::map<std::u16string, std::uint64_t> sizes;          // the streams it holds, by name
  std::map<std::u16string, std::uint32_t> starts;         // their first sectors, where known
  std::map<std::u16string, platform::ByteView> metas;     // their bytes, for VarMeta, FixedMeta, Fixed2Meta
};

struct StreamGivenBack {
  std::size_t home = 0;   // into the homes
  std::size_t chain = 0;  // into the chains
  std::u16string name;
  std::uint32_t size = 0;
  std::string why;  // what told the stream and its size
};

// The layout of a file's views (0 older, 1 newer: a view's FixedMeta items
// are a byte longer), as their FixedMetas of any views (name, bytes) tell
// it; -1 where none tells it or they disagree.
int ViewLayoutOf(const std::vector<std::pair<std::u16string, platform::ByteView>>& fixedMetas);

// The streams the chains give back to the homes: each chain at most once,
// each name into a home that lacks it, the meta streams first and then the
// data streams they size. A view's FixedMeta only where the file's view
// layout is known (or, as CV_iew's, the same in both).
std::vector<StreamGivenBack> MatchLostStreams(const std::vector<LostStreamHome>& homes,
                                              const std::vector<UnownedChain>& chains, int viewLayout = -1);
std::vector<StreamGivenBack> MatchLostStreams(const std::vector<LostStreamHome>& homes,
                                              const std::vector<const UnownedChain*>& chains, int viewLayout = -1);

// One stream of a level of entries cut off by lost entries (siblings, so
// of one storage): its name and bytes.
struct LevelStream {
  std::u16string name;
  platform::ByteView bytes;
};

// The homes that every meta and data stream of the level fits by what it
// holds (item stride, the records' size where kinds share a stride, VarMeta
// types of 12-byte items, sizes the home's or the level's meta streams
// give, Var2Data's values, a Fixed2Meta's count of items, its FixedMeta's),
// and where no chain of lost entries fits the same place as well (a home
// that lacks a stream because its entry was lost has that stream's chain
// among them; a lost FixedMeta that sizes another FixedData than the
// level's own is no rival). Empty when the level holds no stream that can
// be told. Bounded by the level's bytes and the chains' count.
std::vector<std::size_t> HomesForLevel(const std::vector<LostStreamHome>& homes, const std::vector<LevelStream>& level,
                                       const std::vector<UnownedChain>& lost);

// Whether the level's meta streams may be those of the table: a FixedMeta
// of its stride and records, a VarMeta of 12-byte items of its types.
bool LevelMayBe(std::u16string_view table, const std::vector<LevelStream>& level);
// Whether they are another table's: a sound meta stream that is not the
// table's, a FixedMeta whole at another item stride or a VarMeta whose
// items all name another kind. A damaged header tells nothing.
bool LevelIsAnotherTables(std::u16string_view table, const std::vector<LevelStream>& level);

// The size a table storage's meta stream gives its data stream: a
// VarMeta's (u32@20) its Var2Data's, a FixedMeta's (u32@12) its
// FixedData's, a Fixed2Meta's (u32@12) its Fixed2Data's. None where the
// header is not sound.
std::optional<std::uint32_t> DataSizeTold(std::u16string_view metaName, platform::ByteView meta);
// The size of a meta stream whose header names no items and no data: its
// header's (a FixedMeta's or Fixed2Meta's 16 bytes, a VarMeta's 24), as
// in every such stream of the samples. None for any other.
std::optional<std::uint32_t> EmptyMetaSize(std::u16string_view metaName, platform::ByteView meta);
// A Fixed2Meta's size as its own items tell it: the one size that fits
// (fits: the sectors it would need) at which its items, two or more, one
// stride apart, each name a different row inside the Fixed2Data its header
// sizes. The stride differs from file to file; a FixedMeta's stride is
// never taken (a lost FixedMeta reads so too). None where no size or
// several do.
std::optional<std::uint32_t> Fixed2MetaSizeTold(platform::ByteView fixed2Meta,
                                                const std::function<bool(std::uint64_t)>& fits);
// Whether a Fixed2Meta's items read so at that size, whatever its stride:
// two or more, one stride apart, each naming a different row inside the
// Fixed2Data its header sizes.
bool Fixed2MetaReadsAt(platform::ByteView fixed2Meta, std::uint64_t size);
// The sizes a VarMeta's header explains for itself: its items of 12 bytes,
// or of 8. Empty where the header is not sound.
std::vector<std::uint32_t> VarMetaSizesTold(platform::ByteView varMeta);
// The positions in its Var2Data a VarMeta's items name, sorted, each once.
// Empty where the header is not sound or does not explain the VarMeta's size.
std::vector<std::uint32_t> VarMetaPositions(platform::ByteView varMeta);

// The bytes per FixedMeta item of a backend table storage of that name (0
// for any other storage).
std::uint32_t FixedMetaStrideOf(std::u16string_view storage);
// Whether the 12-byte VarMeta items of a storage of that name may have type
// fields whose high half is this (none of an unknown storage's do).
bool VarTypeOf(std::u16string_view storage, std::uint16_t type);

// Whether a storage of that name is one whose streams MatchLostStreams knows.
bool IsTableStorage(std::u16string_view name);
// Whether a stream of that name sizes another (its bytes are kept for homes).
bool IsMetaStream(std::u16string_view name);

}  // namespace salvage
