// The compound-file salvage driver: reads a damaged file whole, rebuilds its
// allocation tables and directory without trusting them, and writes what it
// recovered into a clean compound file.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/CompoundFile.h"
#include "base/RunContext.h"
#include "salvage/Buffer.h"
#include "salvage/LostStreams.h"
#include "salvage/OrphanPlacement.h"
#include "salvage/SalvageState.h"
#include "salvage/Sat.h"

namespace salvage {
class CSat;
class CRoot;
class DirItem;
}  // namespace salvage

class CStgReader {
 public:
  // The run's log and settings serve the whole salvage.
  explicit CStgReader(const RunContext& run);
  virtual ~CStgReader();
  CStgReader(const CStgReader&) = delete;
  CStgReader& operator=(const CStgReader&) = delete;

  // Reads the file at path into memory. 0, or -1 when it cannot be read.
  virtual int Init(std::u16string_view path);
  // Recovers the tables, the directory and the stream data: 0, -1 (file too
  // small, tables unreadable), -2 (directory), -3 (stream data) or -1000
  // (cancelled by the host).
  virtual int ParseData();
  // Writes the recovered storages and streams as a new compound file at
  // repairedPath, which must not exist: 0, -4 (the file could not be written
  // there), -5 (no temporary compound file could be made) or -1000
  // (cancelled by the host; nothing is written).
  virtual int WriteData(std::u16string_view repairedPath);

  // What the salvage recovered, for inspection.
  salvage::CSat* Sat() const { return sat_.get(); }
  salvage::CRoot* Root() const { return root_.get(); }
  const salvage::SalvageState& State() const { return state_; }

 private:
  struct WalkFrame;
  int ParseRootElements(platform::ElementId storage);
  int ParseDir(std::int32_t index, platform::ElementId storage);
  bool EnterDir(std::int32_t index, platform::ElementId storage, WalkFrame& frame);
  bool LogElement(std::int32_t index, const salvage::DirItem& item);
  void NoteLost(std::int32_t index, platform::ElementId parent);
  // parent's tree of children led to a lost entry or through a broken link:
  // orphans may belong there.
  void NoteBrokenBelow(platform::ElementId parent);
  // Whether entry index is one the project keeps in another kind of storage.
  bool BelongsElsewhere(platform::ElementId storage, std::int32_t index);
  // Whether sibling, linked from an entry of storage, is a stray: storage's
  // tree, searched by that name from its first child (names are unique in
  // a storage), leads to another entry of it.
  bool StrayOfTakenName(platform::ElementId storage, std::int32_t sibling);
  // Whether entry, linked from a table storage of the data storage as its
  // first child, leads to a level of another table's streams
  // (LevelIsAnotherTables).
  bool LeadsToAnotherTable(platform::ElementId storage, std::int32_t entry);
  void NoteWritten(platform::ElementId storage, const std::u16string& name);
  salvage::PlacedStorage* Placed(platform::ElementId id);
  // A level of entries cut off below lost entries: its top, each with the
  // siblings it leads to.
  struct OrphanLevel {
    std::uint32_t top = 0;
    std::vector<salvage::OrphanMember> members;
    std::vector<std::uint32_t> entries;
  };
  void PlaceOrphans();
  void WriteOrphanLevel(const OrphanLevel& level, const salvage::OrphanPlace& place, const char* why);
  void PlaceByWritingOrder(const std::vector<OrphanLevel>& levels);
  int WriteTree(const std::u16string& tempPath);
  void WriteSummary();
  // True when a link of either table was mended.
  bool MendMiniSat();
  // Where entries were lost: the chains no surviving entry owns, and, once
  // the tree is written, the streams they give back to the table storages
  // that lost them.
  void CollectLostChains();
  void GiveBackLostStreams();
  void KeepForGiveBack(platform::ElementId storage, const salvage::DirItem& item, std::size_t length);
  // The table storages that lost entries, as the matching of lost streams
  // weighs them (ids: the storages themselves).
  std::vector<salvage::LostStreamHome> TableHomes(std::vector<platform::ElementId>& ids) const;
  // The table storages lost with their entries, as places too: each data
  // storage that lost entries and lacks one of its tables, with the name
  // it lacks; appended to homes, one per element of what it returns.
  std::vector<std::pair<platform::ElementId, std::u16string>> RemadeHomes(
      std::vector<salvage::LostStreamHome>& homes) const;
  // The one table storage that the table streams among entries (an orphaned
  // level, not yet written) fit by what they hold, written or to be made
  // again; Keep when they fit none or more than one.
  salvage::OrphanPlace PlaceByContent(const std::vector<std::uint32_t>& entries);
  // The meta streams the lost chains give back to the storages written,
  // once PlaceByContent first needs them.
  struct GivenMeta {
    platform::ElementId storage;
    std::u16string name;
    std::size_t chain;  // into lostChains_
    std::uint32_t size;
  };
  std::optional<std::vector<GivenMeta>> metasGivenBack_;
  // The views' layout as the FixedMetas written tell it (see ViewLayoutOf).
  int WrittenViewLayout() const;
  // The streams among entries, with their bytes; none when one is a
  // storage or missing.
  std::optional<std::vector<salvage::LevelStream>> LevelStreams(const std::vector<std::uint32_t>& entries) const;
  void NoteCut();
  // The chains the directory accounts for: its own sectors, the big
  // streams' and the mini stream's chains; rootItem: the entry that holds
  // the mini stream.
  std::vector<salvage::CSat::KnownChain> KnownChains(const salvage::DirItem*& rootItem) const;
  // Drops the image and every view of it.
  void ReleaseImage();

  salvage::SalvageState state_;
  bool initialised_ = false;
  salvage::Bytes image_;  // the file followed by 512 zero bytes
  std::int32_t imageSize_ = 0;
  std::unique_ptr<salvage::CSat> sat_;
  std::unique_ptr<salvage::CRoot> root_;
  std::int32_t lastParsed_ = -10;
  std::vector<std::uint8_t> elParsed_;  // per item, while WriteData runs: 1 once handled
  std::vector<std::uint8_t> visited_;   // the walk's cycle guard
  // Per item, while WriteData runs: 1 when a storage names it as its first
  // child. Such an item is never anyone's sibling: a sibling link to it is
  // damage, and following it would carry the storage's contents elsewhere.
  std::vector<std::uint8_t> firstChildren_;
  // The storages whose children lead to a lost entry: what the lost entries
  // were part of, and so where what hung below them belongs.
  std::set<platform::ElementId> lostParents_;
  // Every storage written so far, with the names written into it.
  std::vector<salvage::PlacedStorage> placed_;
  std::map<platform::ElementId, std::size_t> placedIndex_;  // into placed_
  platform::CompoundFileWriter* writer_ = nullptr;
  // Found while the data is read; empty unless entries were lost.
  std::vector<salvage::UnownedChain> lostChains_;
  bool entriesLost_ = false;
  // While they are not empty, what the walk wrote into each storage: every
  // stream's size and first sector, and the meta streams' bytes.
  struct WrittenStream {
    std::uint64_t size = 0;
    std::uint32_t start = 0;
  };
  std::map<platform::ElementId, std::map<std::u16string, WrittenStream>> writtenStreams_;
  std::map<platform::ElementId, std::map<std::u16string, salvage::Bytes>> writtenMetas_;
};
