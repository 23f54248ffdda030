#include "salvage/Root.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <string>
#include <unordered_set>

#include "base/LibrarySettings.h"
#include "base/Logger.h"
#include "platform/Text.h"
#include "salvage/FamousNames.h"
#include "salvage/Layout.h"

namespace salvage {
namespace {

constexpr int kEntryMinBalls = 26;
constexpr int kRootSearchThreshold = 60;
constexpr const char* kNameLabel = "name      :";
constexpr std::u16string_view kRootEntryName = u"Root Entry";

std::uint32_t U32Of(const DirItem::Entry& e, std::uint32_t offset) {
  return platform::ByteView(e.data(), e.size()).u32_at(offset).value_or(0);
}

std::int32_t S32Of(const DirItem::Entry& e, std::uint32_t offset) {
  return static_cast<std::int32_t>(U32Of(e, offset));
}

std::uint16_t U16Of(const DirItem::Entry& e, std::uint32_t offset) {
  return platform::ByteView(e.data(), e.size()).u16_at(offset).value_or(0);
}

bool IsNameCharacter(std::uint8_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' ||
         c == '[' || c == ']' || c == '(' || c == ')' || c == '%' || c == '#';
}

// The name as a log shows it: the units up to the first zero, narrowed.
std::string LogName(const DirItem::Entry& e) { return DirItem(e).NarrowName(); }

// Prev, next and child: a field with three bytes 0xFF or more is "none".
std::uint32_t ReadSibling(const DirItem::Entry& e, std::uint32_t offset, std::uint32_t maxMiniSector) {
  int ff = 0;
  for (int i = 0; i < 4; ++i) ff += e[offset + i] == 0xFF;
  if (ff >= 3) return kNoEntry;
  return TruncateByBound(U32Of(e, offset), maxMiniSector);
}

std::string FileTimeText(std::uint64_t t) {
  char text[32];
  std::snprintf(text, sizeof text, "(0x%08X, 0x%08X)", static_cast<unsigned>(t >> 32), static_cast<unsigned>(t));
  return text;
}

std::string GuidText(const std::array<std::uint8_t, kDirClassIdSize>& id) {
  auto u16 = [&](int at) { return static_cast<unsigned>(id[at] | (id[at + 1] << 8)); };
  const unsigned data1 = platform::ByteView(id.data(), id.size()).u32_at(0).value_or(0);
  char text[64];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", data1, u16(4), u16(6), id[8],
                id[9], id[10], id[11], id[12], id[13], id[14], id[15]);
  return text;
}

}  // namespace

CRoot::CRoot(SalvageState& state) : state_(state) {}

CRoot::~CRoot() {
  state_.log().WriteLine("inside CRoot::~CRoot()");
  items_.clear();
  state_.log().WriteLine("CRoot::~CRoot() done.");
}

int CRoot::Init(std::span<std::uint8_t> image, std::int64_t size) {
  state_.log().WriteLine("inside CRoot::Init()");
  image_ = ImageView(image.data(), image.size());
  writable_ = image;
  imageSize_ = size;
  items_.clear();
  rootFound_ = false;
  state_.log().WriteLine("CRoot::Init() done.");
  return 0;
}

DirItem* CRoot::GetEntry(std::uint32_t n) {
  return std::uint64_t{n} + 1 > items_.size() ? nullptr : items_[n].get();
}

DirItem::Entry CRoot::EntryAt(std::uint64_t offset) const {
  DirItem::Entry e{};
  for (std::uint32_t i = 0; i < kDirEntrySize; ++i) e[i] = image_.U8(offset + i);
  return e;
}

// --- scoring ------------------------------------------------------------------

int CRoot::DefineBalls(const DirItem::Entry& e) const {
  int total = 0;
  bool highBytesClear = true;
  for (std::uint32_t i = 1; i < 2 * kDirNameUnits; i += 2) highBytesClear &= e[kDirName + i] == 0;
  if (highBytesClear) total += 5;

  const std::uint16_t nameLength = U16Of(e, kDirNameLength);
  int nameScore = 0;
  std::uint32_t previous = 0;
  for (std::uint32_t pos = 0; pos < 2 * kDirNameUnits; pos += 2) {
    if (!IsNameCharacter(e[kDirName + pos]) || e[kDirName + pos + 1] != 0) continue;
    if (pos - previous <= 4) {
      nameScore += 1;
      if (nameLength < 63 && pos / 2 < nameLength) nameScore += 2;
    }
    previous = pos;
  }
  if (nameScore > 30) nameScore = 10;
  total += nameScore;

  const std::u16string name = DirItem(e).RawName();
  for (const FamousName& f : FamousNames) {
    if (MatchCount(name, 0, f.name) > f.minMatch) {
      total += 20;
      break;
    }
  }

  bool wellFormed = true;
  const int formedBytes = std::min<int>(nameLength - 2, kDirEntrySize);
  for (int i = 0; i < formedBytes && wellFormed; ++i) wellFormed = (i % 2 == 1) ? e[i] == 0 : e[i] != 0;
  if (wellFormed) total += 5;
  if (nameLength > 2 && nameLength < 63) total += 2;

  const std::int64_t bound = std::max<std::int64_t>(state_.bounds.maxSector, state_.bounds.maxMiniSector);
  for (std::uint32_t field : {kDirRightSibling, kDirLeftSibling, kDirChild}) {
    const std::int32_t v = S32Of(e, field);
    if ((v > 0 && v < bound) || v == -1) total += 2;
  }
  const std::int32_t size = S32Of(e, kDirSizeLow);
  const bool sizeInFile = size >= 0 && size < imageSize_;
  if (sizeInFile) total += 2;
  if (e[kDirColor] <= 1) total += 2;
  const std::int32_t start = S32Of(e, kDirStartSector);
  if (start >= 0 && start <= bound) total += 2;
  if (start == -2) {
    total += 3;
    if (size == 0 && nameLength == 0) total += 3;
  }
  const std::uint8_t type = e[kDirType];
  if (type < 6) total += 5;
  if (type == kTypeStream && size > 0 && size < imageSize_) total += 3;
  if (type == kTypeStorage && size == 0) total += 3;

  return total - nameScore >= 6 ? total : 0;
}

int CRoot::RootLikeness(std::uint64_t offset) const {
  const DirItem::Entry e = EntryAt(offset);
  int score = 0;
  if (MatchCount(DirItem(e).RawName(), 0, kRootEntryName) > 2) score += 40;
  if (e[kDirType] == kTypeRoot) score += 15;
  for (std::uint32_t field : {kDirLeftSibling, kDirRightSibling, kDirChild}) {
    int ff = 0;
    for (int i = 0; i < 4; ++i) ff += e[field + i] == 0xFF;
    if (ff >= 3) score += 1;
  }
  if (U32Of(e, kDirClassId) == 0) score += 1;
  if (U32Of(e, kDirSizeLow) == 128) score += 15;
  if (U32Of(e, kDirSizeHigh) == 0) score += 10;
  for (std::uint32_t i = kDirCreated; i < kDirStartSector; ++i)
    if (e[i] != 0 && e[i] != 0xFF) score += 1;
  return score;
}

bool CRoot::DirectoryEntriesAfter(std::uint64_t offset) const {
  int good = 0;
  for (std::uint32_t i = 1; i < kDirEntriesPerSector; ++i)
    good += DefineBalls(EntryAt(offset + i * kDirEntrySize)) >= kEntryMinBalls;
  return good >= 2;
}

// --- the directory ------------------------------------------------------------

std::uint32_t CRoot::FindRoot() {
  state_.log().WriteLine("Start CRoot::FindRoot()");
  const std::uint32_t rootsStart = state_.header.rootsStart;
  std::uint64_t pos = (std::uint64_t{rootsStart} + 1) * kSectorSize;
  const bool headerInRange = std::int64_t{rootsStart} <= state_.bounds.maxSector;
  int best = headerInRange ? RootLikeness(pos) : 0;
  // A root entry whose name and type were garbled scores low, but when the
  // rest of the header's first directory sector holds directory entries,
  // that sector is the directory: only a candidate that is plainly a root
  // entry elsewhere may replace it, not any sector that scores a little
  // better by chance.
  const bool headerHoldsEntries = headerInRange && best < kRootSearchThreshold && DirectoryEntriesAfter(pos);
  if (headerHoldsEntries) {
    state_.log().WriteLine("The header's first directory sector holds directory entries: its first entry is the root");
    best = std::max(best, 1);
  }
  if (best < kRootSearchThreshold) {
    for (std::uint64_t offset = 0; static_cast<std::int64_t>(offset) < imageSize_ - kSectorSize;
         offset += kSectorSize) {
      if (state_.run.Cancelled()) break;
      const int score = RootLikeness(offset);
      if (headerHoldsEntries && score < kRootSearchThreshold) continue;
      if (score > best) {
        best = score;
        pos = offset;
      }
    }
  }
  std::uint32_t result = rootsStart;
  if (best > 0) {
    rootFound_ = true;
    auto put = [&](std::uint64_t at, char16_t unit) {
      if (at > writable_.size() || writable_.size() - at < 2) return;
      writable_[at] = static_cast<std::uint8_t>(unit);
      writable_[at + 1] = static_cast<std::uint8_t>(unit >> 8);
    };
    for (std::uint32_t i = 0; i < kRootEntryName.size(); ++i) put(pos + kDirName + 2 * i, kRootEntryName[i]);
    put(pos + kDirName + 2 * kRootEntryName.size(), 0);
    state_.log().WriteFormat("Found Root, rootPos==0x%X, rootTolerant==%u%%", static_cast<unsigned>(pos),
                       static_cast<unsigned>(best));
    result = static_cast<std::uint32_t>(pos / kSectorSize) - 1;
  } else {
    state_.log().WriteLine("Can't find Root");
  }
  state_.log().WriteLine("Finish CRoot::FindRoot()");
  return result;
}

void CRoot::CorrectName(DirItem& item, SalvageState& state) {
  const std::u16string raw = item.RawName();
  const FamousName* found = nullptr;
  for (const FamousName& f : FamousNames) {
    if (MatchCount(raw, f.skip, f.name) >= f.minMatch) {
      found = &f;
      break;
    }
  }
  if (!found) return;
  const FamousName& f = *found;
  for (std::uint32_t i = 0; i < 16; ++i) item.SetNameUnit(i, raw[i] & 0xFF);

  const std::u16string name = item.Name();
  const std::uint32_t match = MatchCount(item.RawName(), f.skip, f.name);
  if (match == f.name.size() && f.name.size() + f.skip == name.size() && name.find(f.name) != std::u16string::npos)
    return;

  ++state.stats.namesCorrected;
  std::u16string oldText = name.size() > f.skip ? name.substr(f.skip) : std::u16string();
  if (oldText.size() > kDirNameUnits) oldText.resize(kDirNameUnits);
  const std::string oldNarrow = platform::Utf16ToAnsi(oldText);
  for (std::uint32_t i = 0; i < f.name.size(); ++i) item.SetNameUnit(f.skip + i, f.name[i]);
  const std::string famous = platform::Utf16ToAnsi(f.name);
  if (f.whole) {
    item.SetNameUnit(f.skip + static_cast<std::uint32_t>(f.name.size()), u'\0');
    state.log().WriteFormat("Change name of item from %s to %s", oldNarrow.c_str(), famous.c_str());
  } else {
    const std::u16string now = item.Name();
    const std::string newNarrow = platform::Utf16ToAnsi(now.size() > f.skip ? now.substr(f.skip) : std::u16string());
    state.log().WriteFormat("Correct part of name of item by famous %s, from %s to %s", famous.c_str(), oldNarrow.c_str(),
                       newNarrow.c_str());
  }
}

void CRoot::FindAllRootEntries(Chain& chain, std::size_t position) {
  state_.log().WriteLine("Start CRoot::FindAllRootEntries()");
  if (position < chain.sectors.size()) chain.sectors.resize(position);
  std::unordered_set<std::uint32_t> inChain(chain.sectors.begin(), chain.sectors.end());

  std::vector<std::uint32_t> fresh;
  for (std::uint64_t offset = kSectorSize; static_cast<std::int64_t>(offset) < imageSize_ - kSectorSize;
       offset += kSectorSize) {
    if (state_.run.Cancelled()) break;
    int good = 0;
    for (std::uint32_t i = 0; i < kDirEntriesPerSector; ++i) {
      const std::uint64_t at = offset + i * kDirEntrySize;
      const DirItem::Entry e = EntryAt(at);
      const int balls = DefineBalls(e);
      if (balls < kEntryMinBalls) continue;
      ++good;
      state_.log().WriteFormat("GOOD! Find entry by offs [0x%08x] with %i balls is seem to be a root directory entry",
                         static_cast<unsigned>(at), balls);
      state_.log().WriteValue(kNameLabel, LogName(e).c_str());
    }
    if (good == 1) state_.log().WriteFormat("Too smal entries in sector by [0x%08x]", static_cast<unsigned>(offset));
    if (good < 2) continue;
    const auto sector = static_cast<std::uint32_t>(offset / kSectorSize) - 1;
    // The table's own sectors hold sector numbers, which can pass for
    // entries. In a cut file they are left out. (Elsewhere a table sector
    // taken in now stands in for a lost directory sector and keeps the
    // entries after it at their numbers; until lost sectors keep their
    // places in the scan, that stays.)
    if (state_.cutAt != 0 && sat_->IsTableSector(sector)) continue;
    if (inChain.count(sector)) {
      state_.log().WriteFormat("Sector by [0x%08x] already exists", static_cast<unsigned>(offset));
    } else {
      state_.log().WriteFormat("Find new roots sector by [0x%08x]", static_cast<unsigned>(offset));
      fresh.push_back(sector);
    }
  }
  state_.log().WriteFormat("Find %i new sectors", static_cast<int>(fresh.size()));

  // The chain that runs longest through the new sectors, from its start
  // (the first such start): the runs of all of them are found together.
  const std::vector<std::uint32_t> runs = sat_->RunsWithin(fresh);
  std::size_t bestRun = 0;
  std::size_t bestStart = 0;
  for (std::size_t i = 0; i < fresh.size(); ++i) {
    if (runs[i] > bestRun) {
      bestRun = runs[i];
      bestStart = i;
    }
  }
  Chain best;
  if (bestRun > 0) sat_->FollowChain(fresh[bestStart], best);
  state_.log().WriteFormat("Define chain by %i len for new sectors", static_cast<int>(bestRun));

  // A sector joins the chain once: a second copy would list its entries twice.
  if (bestRun > 0) {
    for (std::uint32_t s : best.sectors)
      if (inChain.insert(s).second) chain.sectors.push_back(s);
  }
  for (std::uint32_t s : fresh)
    if (inChain.insert(s).second) chain.sectors.push_back(s);
  state_.log().WriteLine("End CRoot::FindAllRootEntries()");
}

int CRoot::ReadRoot() {
  state_.log().WriteLine("inside CRoot::ReadRoot()");
  sat_->FollowChain(state_.header.rootsStart, rootChain_);
  // Where a lost SAT part held the directory's links, the runs it was
  // taken as lead anywhere, and a damaged link leads astray: the chain is
  // read from the entries instead (an unbroken chain is left as it is).
  if (Chain rebuilt; RebuildDirectoryChain(state_.header.rootsStart, rebuilt)) rootChain_ = std::move(rebuilt);
  bool manual = false;
  if (rootChain_.pastFileEnd)
    state_.log().WriteFormat("Directory runs past the end of the file after %i sectors: the entries past the cut are lost",
                             static_cast<int>(rootChain_.sectors.size()));
  if (!rootChain_.chainEnded) {
    state_.log().WriteError("ERROR ! Root Chain is corrupt. Try found entries manualy");
    FindAllRootEntries(rootChain_, rootChain_.sectors.size());
    manual = true;
  }

  // Entries are named by their index in the directory: a sector of a whole
  // chain whose entries are all gone (zeroed, overwritten) keeps its place
  // as empty entries when directory sectors follow it, so that the links of
  // every other entry still lead where they did.
  auto goodEntries = [&](std::uint32_t sector) {
    int good = 0;
    for (std::uint32_t i = 0; i < kDirEntriesPerSector; ++i) {
      if (std::int64_t{sector} * kSectorSize + i * kDirEntrySize + 576 >= imageSize_) break;
      good += DefineBalls(EntryAt((std::uint64_t{sector} + 1) * kSectorSize + i * kDirEntrySize)) >= kEntryMinBalls;
    }
    return good;
  };
  std::size_t lastGood = 0;
  bool anyGood = false;
  if (!manual)
    for (std::size_t n = 0; n < rootChain_.sectors.size() && !state_.run.Cancelled(); ++n)
      if (goodEntries(rootChain_.sectors[n]) >= 2) {
        lastGood = n;
        anyGood = true;
      }
  // The same for sectors after the last that holds entries, where the chain
  // is whole and they hold nothing at all (no writer leaves an unused entry
  // all zero): they were zeroed, and what linked into them lost entries
  // there, which no scan of the file would find.
  const bool wholeChain = rootChain_.chainEnded && !rootChain_.pastFileEnd;
  auto zeroed = [&](std::uint32_t sector) {
    const std::uint64_t at = (std::uint64_t{sector} + 1) * kSectorSize;
    if (static_cast<std::int64_t>(at + kSectorSize) > imageSize_) return false;
    for (std::uint32_t i = 0; i < kSectorSize; i += 4)
      if (image_.U32(at + i) != 0) return false;
    return true;
  };

  std::vector<std::uint32_t> goodSectors;
  bool miniStreamSet = false;
  for (std::size_t n = 0; n < rootChain_.sectors.size(); ++n) {
    if (state_.run.Cancelled()) break;
    const std::uint32_t sector = rootChain_.sectors[n];
    const bool keptEmpty = n < lastGood || (anyGood && wholeChain && n > lastGood && zeroed(sector));
    if (!manual && keptEmpty && goodEntries(sector) < 2) {
      state_.log().WriteFormat("Directory sector %i holds no entries: its %i places are kept empty",
                         static_cast<int>(sector), static_cast<int>(kDirEntriesPerSector));
      for (std::uint32_t i = 0; i < kDirEntriesPerSector; ++i) {
        items_.push_back(std::make_unique<DirItem>(DirItem::Entry{}));
        items_.back()->lost = true;
      }
      goodSectors.push_back(sector);
      continue;
    }
    std::vector<std::unique_ptr<DirItem>> found;
    int good = 0;
    for (std::uint32_t i = 0; i < kDirEntriesPerSector; ++i) {
      if (std::int64_t{sector} * kSectorSize + i * kDirEntrySize + 576 >= imageSize_) break;
      const std::uint64_t at = (std::uint64_t{sector} + 1) * kSectorSize + i * kDirEntrySize;
      const DirItem::Entry e = EntryAt(at);
      const int balls = DefineBalls(e);
      if (balls < kEntryMinBalls) {
        state_.log().WriteFormat("ERROR ! entry by offs [0x%08x] with % i balls doesn't seem to be a root directory entry",
                           static_cast<unsigned>(at), balls);
        state_.log().WriteValue(kNameLabel, LogName(e).c_str());
        state_.log().WriteLine("---------------------------------------");
        // It keeps its place, as an entry lost, so that the entries after
        // it keep their numbers, by which every link names them.
        found.push_back(std::make_unique<DirItem>(DirItem::Entry{}));
        found.back()->lost = true;
        continue;
      }
      state_.log().WriteFormat("Define %i balls for entrie", balls);
      ++good;
      auto item = std::make_unique<DirItem>(e);
      const std::u16string raw = item->RawName();
      for (std::uint32_t u = 0; u < 16; ++u) item->SetNameUnit(u, raw[u] & 0xFF);
      CorrectName(*item, state_);
      item->SetU32(kDirLeftSibling, ReadSibling(e, kDirLeftSibling, state_.bounds.maxMiniSector));
      item->SetU32(kDirRightSibling, ReadSibling(e, kDirRightSibling, state_.bounds.maxMiniSector));
      item->SetU32(kDirChild, ReadSibling(e, kDirChild, state_.bounds.maxMiniSector));
      const std::uint32_t size = TruncateByBound(U32Of(e, kDirSizeLow), static_cast<std::uint64_t>(imageSize_));
      item->SetU32(kDirSizeLow, size);
      if (U32Of(e, kDirStartSector) != kEndOfChain) {
        // A big stream may start on a sector the table maps past the end of
        // a cut file: narrowing it to the file's bound would name another.
        const std::uint64_t sectors = std::max<std::uint64_t>(static_cast<std::uint64_t>(state_.bounds.maxSector),
                                                              sat_->SatTable().size());
        const std::uint64_t bound = size < kMiniStreamCutoff ? std::uint64_t{state_.bounds.maxMiniSector} : sectors;
        item->SetU32(kDirStartSector, TruncateByBound(U32Of(e, kDirStartSector), bound));
      }
      item->declaredSize = size;
      item->storedStart = U32Of(e, kDirStartSector);
      if (item->Name() == kRootEntryName) item->SetType(kTypeRoot);
      if (!miniStreamSet) {
        miniStreamSet = true;
        sat_->SetMiniSatLoc(item->Start(), item->Size());
      }
      found.push_back(std::move(item));
    }
    if (good < 2 && !manual) {
      state_.log().WriteLine("ERROR ! Find BAD root-sector. Root Chain is corrupt. Try found entries manualy");
      FindAllRootEntries(rootChain_, n + 1);
      manual = true;
    }
    if (good >= 2) {
      for (auto& item : found) items_.push_back(std::move(item));
      goodSectors.push_back(sector);
    }
  }
  rootChain_.sectors = std::move(goodSectors);
  KeepPlacesLostPastCut();

  state_.log().WriteLine("Root directory dump");
  for (std::size_t n = 0; n < items_.size() && !state_.run.Cancelled(); ++n) {
    const DirItem& item = *items_[n];
    state_.log().WriteNumber("item #", static_cast<long long>(n));
    state_.log().WriteValue(kNameLabel, item.NarrowName().c_str());
    state_.log().WriteValue("access    :", FileTimeText(item.Modified()).c_str());
    state_.log().WriteValue("creation  :", FileTimeText(item.Created()).c_str());
    state_.log().WriteValue("GUID      :", GuidText(item.ClassId()).c_str());
  }
  state_.log().WriteLine("Root directory dump complete");
  state_.log().WriteLine("CRoot::ReadRoot() done.");
  return 0;
}

// A cut file loses the directory sectors past its end with everything
// else there; the entries the surviving ones link to there keep their
// places as entries lost, as those of a zeroed directory sector do, so that
// what hung below them is known to lack them. No more places than the
// sectors past the cut could have held, nor than a directory of a project
// holds by far.
void CRoot::KeepPlacesLostPastCut() {
  constexpr std::uint64_t kMostPlaces = 65536;
  if (state_.cutAt == 0 || state_.run.Cancelled()) return;
  std::uint64_t highest = 0;
  bool named = false;
  for (const auto& item : items_) {
    if (item->lost) continue;
    for (std::uint32_t link : {item->Prev(), item->Next(), item->Child()})
      if (link != kNoEntry && link >= items_.size() && (!named || link > highest)) highest = link, named = true;
  }
  if (!named) return;
  const std::uint64_t accounted = sat_->AccountedBytes();
  const std::uint64_t pastCut = accounted > state_.cutAt ? (accounted - state_.cutAt) / kSectorSize + 1 : 0;
  const std::uint64_t lacking = highest + 1 - items_.size();
  if (lacking > pastCut * kDirEntriesPerSector || lacking > kMostPlaces) return;
  state_.log().WriteFormat("Directory ends at the cut before %i entries its entries link to: their places are kept as entries lost",
                           static_cast<int>(lacking));
  for (std::uint64_t n = 0; n < lacking; ++n) {
    items_.push_back(std::make_unique<DirItem>(DirItem::Entry{}));
    items_.back()->lost = true;
  }
}

// --- stream data --------------------------------------------------------------

bool CRoot::TakenSectors::Take(std::vector<std::uint8_t>& marks, std::uint32_t sector, std::uint32_t bytes) {
  if (sector >= marks.size()) return true;  // nothing there to copy twice
  if (!marks[sector]) {
    marks[sector] = 1;
    return true;
  }
  if (again + bytes > budget) return false;
  again += bytes;
  return true;
}

void CRoot::CutShared(DirItem& item, std::uint64_t kept) {
  state_.log().WriteFormat("Stream shares its sectors with streams read before it, beyond what the file holds: cut from %i to %i bytes",
                     static_cast<int>(item.Size()), static_cast<int>(kept));
  item.SetU32(kDirSizeLow, static_cast<std::uint32_t>(kept));
  ++state_.stats.damagedElements;
}

void CRoot::ReadStreamBig(DirItem& item, Chain& chain) {
  try {
    state_.log().WriteLine("Read from big SAT");
    const auto n = static_cast<std::int64_t>(chain.length);
    state_.log().WriteFormat("Find %i entries for stream", static_cast<int>(n));
    const std::int64_t capacity = n * kSectorSize;
    const auto size = static_cast<std::int32_t>(item.Size());
    if (chain.pastFileEnd && size > capacity) {
      // The file was cut inside the stream: what lies before the cut is kept.
      state_.log().WriteFormat("Stream runs past the end of the file: cut from %i to %i bytes", static_cast<int>(size),
                               static_cast<int>(capacity));
      item.SetU32(kDirSizeLow, static_cast<std::uint32_t>(capacity));
      ++state_.stats.damagedElements;
      ++state_.stats.streamsCut;
    } else if (!(size >= 0 && size <= imageSize_ && size <= capacity && size >= capacity - kSectorSize)) {
      state_.log().WriteFormat(
          "Stream length (%i) failure or more (less) then can (must) read, try collect by sectors, set size as %i",
          static_cast<int>(size), static_cast<int>(capacity));
      item.SetU32(kDirSizeLow, static_cast<std::uint32_t>(capacity));
      ++state_.stats.damagedElements;
    }
    // The sectors the size needs, as far as the chain and the sharing of
    // sectors allow.
    const std::uint64_t needed = (std::uint64_t{item.Size()} + kSectorSize - 1) / kSectorSize;
    std::size_t kept = 0;
    // The bytes of a sector the file's end cuts through, and where they lie.
    std::uint64_t tailBytes = 0, tailOffset = 0;
    for (; kept < needed && kept < chain.length; ++kept) {
      if (kept == chain.sectors.size() && !sat_->ExtendChain(chain)) break;
      // A sector the file's end cuts through: the stream ends with what
      // lies before the cut.
      if (const std::uint32_t s = chain.sectors[kept];
          !sat_->GetOffsBySector(s) && (std::int64_t{s} + 2) * kSectorSize > imageSize_) {
        tailOffset = (std::uint64_t{s} + 1) * kSectorSize;
        tailBytes = static_cast<std::int64_t>(tailOffset) < imageSize_ ? imageSize_ - tailOffset : 0;
        const std::uint64_t cut =
            std::min<std::uint64_t>(item.Size(), std::uint64_t{kept} * kSectorSize + tailBytes);
        tailBytes = cut - std::uint64_t{kept} * kSectorSize;
        state_.log().WriteFormat("Stream runs past the end of the file: cut from %i to %i bytes",
                                 static_cast<int>(item.Size()), static_cast<int>(cut));
        item.SetU32(kDirSizeLow, static_cast<std::uint32_t>(cut));
        ++state_.stats.damagedElements;
        ++state_.stats.streamsCut;
        break;
      }
      if (!taken_.Take(taken_.sectors, chain.sectors[kept], kSectorSize)) {
        CutShared(item, std::uint64_t{kept} * kSectorSize);
        break;
      }
    }
    if (tailBytes == 0 && kept == needed && ViewRun(item, chain, kept)) return;
    const std::uint64_t wanted = item.Size();
    const std::uint64_t buffer = (wanted + kSectorSize - 1) / kSectorSize * kSectorSize;
    state_.log().WriteFormat("Try to allocate data %i bytes for %i", static_cast<int>(buffer), static_cast<int>(wanted));
    item.FreeData();
    item.data.resize(buffer);  // every byte is set below: copied, or zero where a sector is missing
    item.readFlag = true;
    state_.log().WriteLine("Successful");
    std::uint8_t* out = item.data.data();
    std::uint64_t filled = 0;
    for (std::size_t k = 0; k < chain.sectors.size() && k < kept; ++k) {
      if (k * kSectorSize >= buffer) break;
      std::uint8_t* target = out + k * kSectorSize;
      filled = (k + 1) * kSectorSize;
      auto offset = sat_->GetOffsBySector(chain.sectors[k]);
      if (!offset) {
        std::fill(target, target + kSectorSize, 0);
        state_.log().WriteFormat("NOT AVAILABLE SECTOR - sector %i is incorrect or not readable!",
                           static_cast<int>(chain.sectors[k]));
        continue;
      }
      if (!image_.CopyOut(*offset, target, kSectorSize)) {
        std::fill(target, target + kSectorSize, 0);
        state_.log().WriteFormat("MUST BE VISIBLE!!! - sector %i is correct but not readable!",
                           static_cast<int>(chain.sectors[k]));
      }
    }
    if (filled < buffer) std::fill(out + filled, out + buffer, 0);
    if (tailBytes > 0 && filled == std::uint64_t{kept} * kSectorSize && filled + tailBytes <= buffer &&
        !image_.CopyOut(tailOffset, out + filled, static_cast<std::size_t>(tailBytes))) {
      item.SetU32(kDirSizeLow, static_cast<std::uint32_t>(filled));
    }
  } catch (const std::bad_alloc&) {
    item.FreeData();
    state_.log().WriteLine("Error while construct SAT stream");
  }
}

bool CRoot::ViewRun(DirItem& item, const Chain& chain, std::size_t kept) {
  if (kept == 0 || kept > chain.sectors.size()) return false;
  const std::uint32_t first = chain.sectors[0];
  for (std::size_t k = 1; k < kept; ++k)
    if (chain.sectors[k] != first + k) return false;
  const auto offset = sat_->GetOffsBySector(first);
  const auto last = sat_->GetOffsBySector(first + static_cast<std::uint32_t>(kept - 1));
  const std::uint64_t length = item.Size();
  if (!offset || !last || length == 0 || length > std::uint64_t{kept} * kSectorSize) return false;
  if (!image_.Contains(*offset, length) || *offset + length > writable_.size()) return false;
  item.SetView(writable_.subspan(static_cast<std::size_t>(*offset), static_cast<std::size_t>(length)));
  item.readFlag = true;
  viewedBytes_ += length;
  return true;
}

void CRoot::ReadStreamMini(DirItem& item) {
  try {
    state_.log().WriteLine("Read from mini SAT");
    if (static_cast<std::int32_t>(item.Start()) < 0) return;
    Chain chain;
    // No more of the chain than the declared size reaches.
    sat_->FollowMiniChain(item.Start(), chain, item.Size() / kMiniSectorSize + 1);
    const auto n = static_cast<std::int64_t>(chain.length);
    state_.log().WriteFormat("Find %i entries for stream", static_cast<int>(n));
    const std::int64_t capacity = n * kMiniSectorSize;
    if (std::int64_t{item.Size()} > capacity) {
      state_.log().WriteFormat(
          "Stream length (%i) failure or more (less) then can (must) read, try collect by sectors, set size as %i",
          static_cast<int>(item.Size()), static_cast<int>(capacity));
      item.SetU32(kDirSizeLow, static_cast<std::uint32_t>(capacity));
      ++state_.stats.damagedElements;
    }
    std::uint64_t needed = (std::uint64_t{item.Size()} + kMiniSectorSize - 1) / kMiniSectorSize;
    // Where the mini stream itself was cut by the file's end, a stream
    // keeps its mini sectors up to the first one the cut took.
    for (std::size_t k = 0; sat_->MiniStreamCut() && k < needed && k < chain.sectors.size(); ++k) {
      if (sat_->GetMiniSector(chain.sectors[k])) continue;
      state_.log().WriteFormat("Stream runs past the end of the file: cut from %i to %i bytes",
                               static_cast<int>(item.Size()), static_cast<int>(k * kMiniSectorSize));
      item.SetU32(kDirSizeLow, static_cast<std::uint32_t>(k * kMiniSectorSize));
      ++state_.stats.damagedElements;
      ++state_.stats.streamsCut;
      needed = k;
      break;
    }
    for (std::size_t k = 0; k < needed && k < chain.sectors.size(); ++k) {
      if (!taken_.Take(taken_.miniSectors, chain.sectors[k], kMiniSectorSize)) {
        CutShared(item, std::uint64_t{k} * kMiniSectorSize);
        break;
      }
    }
    const std::uint64_t size = item.Size();
    const std::uint64_t buffer = (size + kMiniSectorSize - 1) / kMiniSectorSize * kMiniSectorSize;
    item.FreeData();
    item.readFlag = buffer != 0;
    if (buffer == 0) return;
    item.data.assign(buffer, 0);
    for (std::size_t k = 0; k < chain.sectors.size(); ++k) {
      if (k * kMiniSectorSize > size) break;
      const std::uint8_t* mini = sat_->GetMiniSector(chain.sectors[k]);
      if (mini && k * kMiniSectorSize + kMiniSectorSize <= buffer)
        std::copy(mini, mini + kMiniSectorSize, item.data.begin() + static_cast<std::ptrdiff_t>(k * kMiniSectorSize));
    }
  } catch (const std::bad_alloc&) {
    item.FreeData();
    state_.log().WriteLine("Error while construct miniSAT stream");
  }
}

void CRoot::CollectSiblings(std::uint32_t first, std::vector<std::uint8_t>& seen,
                            std::vector<std::uint32_t>& out) const {
  const auto count = static_cast<std::uint32_t>(std::min(items_.size(), seen.size()));
  std::vector<std::uint32_t> pending{first};
  while (!pending.empty()) {
    const std::uint32_t n = pending.back();
    pending.pop_back();
    if (n >= count || seen[n]) continue;
    seen[n] = 1;
    const DirItem& item = *items_[n];
    if (item.lost) continue;
    out.push_back(n);
    pending.push_back(item.Prev());
    pending.push_back(item.Next());
  }
}

void CRoot::RecutMiniStarts() {
  for (auto& item : items_) {
    if (item->lost || item->storedStart == kEndOfChain || item->declaredSize >= kMiniStreamCutoff) continue;
    item->SetU32(kDirStartSector, TruncateByBound(item->storedStart, state_.bounds.maxMiniSector));
  }
}

void CRoot::RecoveryChains() {
  // Chains of streams that could be pieced together from lost sectors; no
  // stage proposes any yet.
  state_.log().WriteLine("Start CRoot::RecoveryChains()");
  state_.log().WriteLine("End CRoot::RecoveryChains()");
}

int CRoot::ReadFilesData() {
  state_.log().WriteLine("S: CRoot::ReadFilesData()");
  state_.log().WriteNumber("Count of root entries ", static_cast<long long>(items_.size()));
  MendSizesNoChainFits();
  taken_ = TakenSectors{};
  taken_.sectors.assign(static_cast<std::size_t>(std::max<std::int32_t>(0, state_.bounds.maxSector) + 1), 0);
  taken_.miniSectors.assign(std::size_t{sat_->MiniSatTable().size()} + 1, 0);
  taken_.budget = static_cast<std::uint64_t>(std::max<std::int64_t>(0, imageSize_));
  try {
    for (std::size_t n = 0; n < items_.size(); ++n) {
      if (state_.run.Cancelled()) break;
      DirItem& item = *items_[n];
      if (!item.readFlag || item.Name().empty()) continue;
      state_.log().WriteFormat("reading data of [%s] (stream #%u, type %i, length %i, start %i)", item.NarrowName().c_str(),
                         static_cast<unsigned>(n), item.Type(), static_cast<int>(item.Size()),
                         static_cast<int>(item.Start()));
      if (item.Size() == 0 || item.Type() == kTypeRoot) continue;
      if (item.Size() < kMiniStreamCutoff) {
        ReadStreamMini(item);
      } else {
        Chain chain;
        sat_->FollowChain(item.Start(), chain, 1);  // ReadStreamBig takes as much of it as it needs
        ReadStreamBig(item, chain);
      }
    }
  } catch (...) {
    state_.log().WriteLine("Error while processing stream number");
  }
  std::vector<std::uint8_t>().swap(taken_.sectors);
  std::vector<std::uint8_t>().swap(taken_.miniSectors);
  MendSizesByStructure();
  RecoveryChains();
  state_.stats.rootEntriesFound = static_cast<std::uint32_t>(items_.size());
  state_.log().WriteNumber("Count of new root entries ", static_cast<long long>(items_.size()));
  state_.log().WriteLine("F: CRoot::ReadFilesData()");
  return 0;
}

}  // namespace salvage
