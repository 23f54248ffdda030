// Rebuilds the two allocation tables of a damaged compound file: the SAT,
// which chains the 512-byte sectors, and the mini SAT, which chains the
// 64-byte mini sectors of the mini stream. Nothing in the file is trusted:
// the header's list of SAT sectors, the DIF chain and the mini SAT chain are
// checked entry by entry, and where they fail the file is searched for
// sectors that look like allocation tables, scored by how well their
// entries form chains.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <unordered_map>
#include <vector>

#include "salvage/ChainWalks.h"
#include "salvage/ImageView.h"
#include "salvage/SalvageState.h"

namespace salvage {

// A chain of sector numbers as the allocation table links them.
struct Chain {
  std::vector<std::uint32_t> sectors;  // the chain, or as much of it as was asked for
  std::size_t length = 0;              // the whole chain's length
  bool chainEnded = false;  // the chain reached its end mark (or the end of the table)
  // The chain's next link names a sector that the table maps but that lies
  // past the end of the file: the file was cut there, and the rest of the
  // chain went with it.
  bool pastFileEnd = false;
};

// How much a sector looks like part k of an allocation table.
struct PartScore {
  std::int32_t chainsCount = 0;
  std::int32_t maxChainLen = 0;
  std::int32_t rubbish = 0;
  std::int32_t likeSatPoints = 0;
  std::int32_t goodChains = 0;
  std::int32_t stepByStep = 0;
};

// Removes repeated offsets from a list of table parts, keeping the first of
// each. A missing part (0) keeps its place, so that every part after it
// still maps its own range of sectors.
void DropRepeatedParts(std::vector<std::uint32_t>& parts);

// FindSat's result when the host cancelled the run.
constexpr std::uint32_t kSatSearchCancelled = static_cast<std::uint32_t>(-1000);

class CSat {
 public:
  explicit CSat(SalvageState& state);
  virtual ~CSat();
  CSat(const CSat&) = delete;
  CSat& operator=(const CSat&) = delete;

  // The image: the file's bytes followed by 512 bytes of zero slack.
  int Init(ImageView image);
  // Once every stream's bytes are copied out: drops the view of the image
  // and the mini stream's copy. Reads after this find nothing.
  void ReleaseImage() {
    image_ = ImageView();
    ReleaseMiniStream();
  }
  void ReleaseMiniStream() { std::vector<std::uint8_t>().swap(miniStream_); }
  // The file size and the header fields; sector numbers beyond the file are
  // replaced (SAT start by 0, directory start by 1).
  void SetFileInfo(std::int64_t fileSize, HeaderInfo& header);

  // Fills the list of SAT sectors; returns the SAT start sector, or
  // kSatSearchCancelled when the host cancelled the run.
  std::uint32_t FindSat();
  int ReadSat();
  // Returns the first mini SAT sector, 0 when the header says there is no
  // mini stream, 0xFFFFFFFF when none was found.
  std::uint32_t FindMiniSat();
  int ReadMiniSat();
  // Once the directory is known: the mini SAT is the one chain of the table
  // that the directory does not account for (known: the directory's
  // sectors, the big streams' and the mini stream's chains). Unless the
  // header's mini SAT chain may well be right, when exactly one such chain reads as a mini SAT for a mini
  // stream of miniStreamBytes, it takes the place of the mini SAT found so
  // far. True when it did.
  struct KnownChain {
    std::uint32_t start;
    std::uint32_t sectors;  // as many as the size needs
  };
  bool MendMiniSat(const std::vector<KnownChain>& known, std::uint64_t miniStreamBytes);
  // Single damaged SAT entries (LinkRepair.cpp): a known chain that breaks
  // off short of its length goes on at the one unreached chain head that
  // makes it whole. Returns the links mended.
  int MendBrokenLinks(const std::vector<KnownChain>& known);
  // The same for the mini SAT, with the short streams' chains.
  int MendBrokenMiniLinks(const std::vector<KnownChain>& known);
  // Where a lost SAT part was taken as runs of sectors: each chain the
  // directory names takes, from its start, as many sectors as its size
  // needs, one after the other, up to a sector another chain took (chains
  // that start where the table is sound go first), and ends there; a run
  // that no chain took ends before the next sector a chain took. The mini
  // SAT's chain, where the header's ran through a lost part, is the one its
  // parts were found as (each read as the part it stands for), as many as
  // a mini stream of miniStreamBytes needs. True when a link changed.
  bool MendLostRuns(const std::vector<KnownChain>& known, std::uint64_t miniStreamBytes);
  // A mini SAT part that is zeroed or overwritten (many links to mini
  // sector 0, or beyond the mini stream) has those links taken as runs:
  // each mini sector linked to the next. Returns the parts mended.
  int MendLostMiniParts(std::uint64_t miniStreamBytes);
  // Then, as MendLostRuns does for the SAT, the short streams' chains (as
  // many mini sectors as their sizes need) taken again through those
  // links, which stay guesses. Returns the links changed.
  int MendLostMiniRuns(const std::vector<KnownChain>& known);
  // Whether the mini SAT's link of mini sector m is such a guess.
  bool MiniLinkGuessed(std::uint32_t m) const { return m < miniGuessed_.size() && miniGuessed_[m] != 0; }
  // Links mini sector from to next instead of its guess.
  void RelinkMini(std::uint32_t from, std::uint32_t next);

  // The chain from start, its first limit sectors at most (chain.length
  // tells the whole chain's length). Every chain of a table is walked once,
  // on the first call after the table was read; a call then costs only the
  // sectors it returns.
  static constexpr std::size_t kWholeChain = std::numeric_limits<std::size_t>::max();
  int FollowChain(std::uint32_t start, Chain& chain, std::size_t limit = kWholeChain);
  int FollowMiniChain(std::uint32_t start, Chain& chain, std::size_t limit = kWholeChain);
  // Adds the next sector to a chain that FollowChain gave short of its
  // length; false at its end.
  bool ExtendChain(Chain& chain) const;
  // For each of sectors: how many of its chain's leading sectors are among
  // sectors (0 for one that starts no chain).
  std::vector<std::uint32_t> RunsWithin(const std::vector<std::uint32_t>& sectors);
  // Whether the table entry of sector lies in a SAT part that was lost:
  // its link is then a guess (the run to the next sector), not the file's.
  bool LinkLost(std::uint32_t sector) const;
  // The next sector as the table links it; false at the chain's end or
  // where the link leads nowhere.
  bool NextSector(std::uint32_t sector, std::uint32_t& next) const;
  // For every sector the table maps: 1 when an entry of a part that was
  // not lost links to it (its place in some chain is known).
  std::vector<std::uint8_t> LinkedFromSoundParts() const;
  // Whether the table marks sector as one of its own or a DIF sector.
  bool IsTableSector(std::uint32_t sector) const;
  // Builds the mini stream from the chain that starts at start.
  int SetMiniSatLoc(std::uint32_t start, std::uint32_t neededSize);
  // The 64 bytes of mini sector n, or null when it lies beyond the mini stream.
  const std::uint8_t* GetMiniSector(std::uint32_t n) const;
  // The bytes of sectors (mini sectors where mini), one after the other,
  // into out; false where one lies outside the file or the mini stream.
  bool CopySectors(const std::vector<std::uint32_t>& sectors, bool mini, std::uint8_t* out) const;
  // The image offset of sector n when the whole sector lies inside the file.
  std::optional<std::uint64_t> GetOffsBySector(std::uint32_t n) const;

  const std::vector<std::uint32_t>& SatList() const { return satList_; }
  const std::vector<std::uint32_t>& SatTable() const { return satTable_; }
  const std::vector<std::uint32_t>& MiniSatList() const { return miniSatList_; }
  const std::vector<std::uint32_t>& MiniSatTable() const { return miniSatTable_; }
  const std::vector<std::uint32_t>& CandidateSectors() const { return candidateSectors_; }
  std::size_t MiniStreamSize() const { return miniStream_.size(); }
  // The mini stream's chain ran past the end of a cut file.
  bool MiniStreamCut() const { return miniStreamPastFileEnd_; }
  bool SatFound() const { return satFound_; }
  // Whether no SAT part was taken as runs and the mini SAT is the chain the
  // header starts (or the header says there is none): the links are the
  // file's own, not guesses.
  bool LinksAsStored() const {
    return (headerChainAccepted_ || headerMiniSatStart_ == 0xFFFFFFFE) &&
           std::find(lostParts_.begin(), lostParts_.end(), 1) == lostParts_.end();
  }
  // After ReadSat: the file size the sound parts of the table account for,
  // to the end of the last sector they mark in use. A file shorter than
  // this was cut.
  std::uint64_t AccountedBytes() const { return accountedBytes_; }

  // Exposed for tests: the score of the sector at image offset as part k.
  PartScore ScoreSatPart(std::uint64_t offset, std::uint32_t k, bool mini) const;

 private:
  class PartSearch;
  struct WalkResult {
    std::int32_t length = 0;
    std::int32_t rubbish = 0;
    std::int32_t endFound = 0;
    std::int32_t stepByStep = 0;
  };
  WalkResult WalkPartChain(std::uint32_t* part, std::uint32_t p, std::uint32_t k, bool mini) const;
  bool SatMarkTest(std::uint64_t offset) const;
  // Whether a SAT part listed already maps the candidate sector as a link
  // of some chain or a chain's end, as it never maps a part of the table.
  bool MappedAsChain(std::uint64_t offset) const;

  // A table as its chains are walked: its entries, the highest sector
  // number a link may name, and whether it is the mini SAT.
  struct Table {
    const std::vector<std::uint32_t>& entries;
    std::int64_t bound;
    bool mini;
  };
  Table BigTable() const;
  Table MiniTable() const;
  std::int64_t MaxSector() const;
  // One step of a chain: true with next set when sector links on to a
  // sector of the table, false with the reason the walk ends otherwise.
  std::uint32_t ChainNodes(const Table& t) const;
  bool EnterChain(const Table& t, std::uint32_t cur, std::uint32_t& next, std::uint8_t& stop) const;
  bool ChainLink(const Table& t, std::uint32_t sector, std::uint32_t& next, std::uint8_t& stop) const;
  bool ChainLink(std::uint32_t sector, std::uint32_t& next, std::uint8_t& stop) const;  // in the SAT
  void Follow(const Table& t, std::uint32_t start, Chain& chain, std::size_t limit);
  void ForgetMiniWalks() { walks_[1].walks.reset(); }
  void ForgetWalks() { walks_[0].walks.reset(); }

  bool IsNewSatSector(std::uint32_t v) const;
  bool IsDifSector(std::uint32_t sector) const;
  bool IsFirstPresector(std::uint64_t offset) const;
  std::uint32_t FindCandidateNear(std::uint32_t v) const;
  void CollectCandidates();
  void IndexCandidates();
  // The best candidate for part k (0 for none), with its score.
  std::uint32_t FindSatPart(PartSearch& search, std::uint32_t k, PartScore& score);
  void MendSatByMarks();
  bool IsLostPart(const std::uint32_t* part) const;
  // leaveOutListed: sectors already listed as the mini SAT's are not offered.
  std::unordered_map<std::uint32_t, std::uint32_t> MiniPartsByVotes(std::uint64_t miniSectors,
                                                                 bool leaveOutListed = true) const;
  std::uint32_t FindMiniSatPart(PartSearch& search, std::uint32_t k, std::int32_t minPoints);
  // The first 32-bit value of sector n (zero when it lies outside the image).
  std::uint32_t FirstValueOf(std::uint32_t n) const;
  bool WalkHeaderList(std::uint32_t& prev);
  bool WalkDif(std::uint32_t& prev);

  // satList_ with a count of each non-zero offset, for constant-time look-ups.
  void AppendSat(std::uint32_t offset);
  void PopSat();
  bool SatListHas(std::uint32_t offset) const;

  SalvageState& state_;
  ImageView image_;
  std::vector<std::uint32_t> candidateOffsets_;
  bool indexed_ = false;
  std::vector<std::uint32_t> satList_;
  std::unordered_map<std::uint32_t, std::uint32_t> satListCount_;
  std::vector<std::uint32_t> miniSatTable_;
  std::vector<std::uint8_t> miniGuessed_;  // by mini sector: its link taken as a run
  std::vector<std::uint8_t> miniStream_;
  bool satFound_ = false;
  std::vector<std::uint32_t> candidateSectors_;
  // First 32-bit value of a candidate sector -> its first position in candidateSectors_.
  std::unordered_map<std::uint32_t, std::uint32_t> candidateByFirstValue_;
  std::int64_t fileSize_ = 0;
  std::uint32_t miniStreamStart_ = 0;
  std::uint32_t headerMiniSatStart_ = 0xFFFFFFFE;  // as the header gave it (none: end of chain)
  bool headerChainAccepted_ = false;                // every sector of its chain read as a mini SAT
  bool miniSatPastFileEnd_ = false;                 // and that chain ran past the end of a cut file
  bool miniStreamPastFileEnd_ = false;
  std::uint64_t accountedBytes_ = 0;
  std::vector<std::uint32_t> satTable_;
  std::vector<std::uint8_t> lostParts_;  // per SAT part: 1 when taken as runs
  std::vector<std::uint32_t> miniSatList_;
  // The mini SAT's parts as found, where the header's chain to them ran
  // through a lost SAT part; empty otherwise.
  std::vector<std::uint32_t> MiniSatPastLostLinks(std::uint64_t miniStreamBytes) const;
  HeaderInfo* header_ = nullptr;
  // Every chain of each table (the SAT's, the mini SAT's), walked once the
  // table is read, with the bound they were walked with.
  struct TableWalks {
    std::optional<ChainWalks> walks;
    std::int64_t bound = 0;
  };
  TableWalks walks_[2];
};

}  // namespace salvage
