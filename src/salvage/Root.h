// Finds and reads the directory of a damaged compound file and the data of
// every stream it names. The Root Entry is located even when the header's
// directory start is wrong; every 128-byte entry is scored for plausibility
// and dropped when it does not look like one; a broken directory chain
// switches to a scan of the whole file; names are repaired against a list of
// well-known names; each stream is read through the SAT or the mini SAT,
// falling back to the length its chain can actually supply.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "salvage/DirItem.h"
#include "salvage/ImageView.h"
#include "salvage/Sat.h"

namespace salvage {

class CRoot {
 public:
  explicit CRoot(SalvageState& state);
  virtual ~CRoot();
  CRoot(const CRoot&) = delete;
  CRoot& operator=(const CRoot&) = delete;

  // image: the file's bytes and their slack, which the search for the
  // Root Entry may rename it in.
  int Init(std::span<std::uint8_t> image, std::int64_t size);
  // Drops the view of the image (see CSat::ReleaseImage), and every
  // stream's view of it with it.
  void ReleaseImage() {
    image_ = ImageView();
    writable_ = {};
    for (auto& item : items_)
      if (item->Viewed()) item->FreeData();
    viewedBytes_ = 0;
  }
  // Whether some stream's bytes are a view of the image, which must then
  // outlive them.
  bool HoldsViews() const { return viewedBytes_ > 0; }
  void SetSat(CSat* sat) { sat_ = sat; }

  // Returns the directory start sector.
  std::uint32_t FindRoot();
  int ReadRoot();
  int ReadFilesData();
  // The mini stream was read again (a lost SAT part had cut it short when
  // the directory was read): the starts of the streams in it are cut to
  // its bound anew, from what their entries store.
  void RecutMiniStarts();

  // Item n, or null when there is none.
  DirItem* GetEntry(std::uint32_t n);
  std::uint32_t EntryCount() const { return static_cast<std::uint32_t>(items_.size()); }
  // The entries of the sibling tree from first (a storage's child) that are
  // not lost, appended to out; seen marks every entry walked, so that each
  // is walked once, whatever the links say.
  void CollectSiblings(std::uint32_t first, std::vector<std::uint8_t>& seen, std::vector<std::uint32_t>& out) const;
  const Chain& RootChain() const { return rootChain_; }
  bool RootFound() const { return rootFound_; }

  // Exposed for tests: how much 128 bytes look like a directory entry
  // (26 or more: an entry), and like the Root Entry (at most 100).
  int DefineBalls(const DirItem::Entry& entry) const;
  int RootLikeness(std::uint64_t offset) const;
  // Whether at least two of the other entries of the directory sector at
  // offset (that of its first entry) look like directory entries.
  bool DirectoryEntriesAfter(std::uint64_t offset) const;
  static void CorrectName(DirItem& item, SalvageState& state);
  // The directory's chain where a lost SAT part held some of its links or
  // a damaged link leads astray: a sound link is followed, a lost or
  // unsound one goes on at the unlinked sector that holds the entries the
  // directory still lacks. True, with chain set, when the chain met one.
  bool RebuildDirectoryChain(std::uint32_t first, Chain& chain);
  void KeepPlacesLostPastCut();

 private:
  void FindAllRootEntries(Chain& chain, std::size_t position);
  // Short streams whose sizes were damaged into zero or into sizes no
  // chain holds are given the size of their mini chain (SizeRepair.cpp).
  void MendSizesNoChainFits();
  // Table streams whose sizes disagree with their storage's meta headers
  // within the same sectors take the headers' sizes (SizeRepair.cpp).
  void MendSizesByStructure();
  void ReadStreamBig(DirItem& item, Chain& chain);
  // Points item at its first kept sectors in the image when they lie in one
  // run there; false when they do not (the bytes are copied then).
  bool ViewRun(DirItem& item, const Chain& chain, std::size_t kept);
  void ReadStreamMini(DirItem& item);
  // Streams' data are copies of their sectors. A sector that an earlier
  // stream took is copied again only while such second copies stay within
  // the file's size in all; past that a stream ends before the first sector
  // it would share (entries that all name one chain would otherwise hold
  // its bytes once each, the square of the file's size).
  struct TakenSectors {
    std::vector<std::uint8_t> sectors, miniSectors;
    std::uint64_t again = 0;
    std::uint64_t budget = 0;
    bool Take(std::vector<std::uint8_t>& marks, std::uint32_t sector, std::uint32_t bytes);
  };
  void CutShared(DirItem& item, std::uint64_t kept);
  void RecoveryChains();
  DirItem::Entry EntryAt(std::uint64_t offset) const;

  SalvageState& state_;
  ImageView image_;
  std::span<std::uint8_t> writable_;  // the same bytes, for the Root Entry's name
  std::uint64_t viewedBytes_ = 0;     // of streams that are views of the image
  std::int64_t imageSize_ = 0;
  bool rootFound_ = false;
  Chain rootChain_;
  CSat* sat_ = nullptr;
  std::vector<std::unique_ptr<DirItem>> items_;
  TakenSectors taken_;
};

}  // namespace salvage
