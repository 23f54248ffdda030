// The writer of the rebuilt container, the last stage of the salvage: the
// recovered directory tree is written, storage by storage and stream by
// stream, into a fresh compound file in the work folder, which is then
// copied to the path the pipeline chose.
#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>

#include "base/LibrarySettings.h"
#include "base/Logger.h"
#include "salvage/StgReader.h"
#include "platform/Files.h"
#include "platform/System.h"
#include "platform/Text.h"
#include "salvage/Root.h"
#include "salvage/Layout.h"
#include "salvage/SalvageState.h"

using namespace salvage;

namespace {

constexpr std::int32_t kNone = -1;
// What a failed element operation reports in the log; the structured storage
// gives no finer reason.
constexpr unsigned kStorageFailure = 0x80004005;
constexpr int kTempNameAttempts = 100;
constexpr const char* kSummaryRule = "[STG]\t======================================================";
// Storages that always hold entries in a project file.
bool NeverEmpty(std::u16string_view name) {
  return IsDataStorage(name) || IsViewStorage(name) || IsTableStorage(name);
}

// Removes the temporary compound file however the writing ends.
class TempFile {
 public:
  explicit TempFile(std::u16string path) : path_(std::move(path)) {}
  ~TempFile() { platform::DeleteFile(path_); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

 private:
  std::u16string path_;
};

std::u16string WorkFolder(const LibrarySettings& settings) {
  std::u16string folder = settings.workFolder.empty() ? platform::TempFolder() : settings.workFolder;
  if (folder.empty() || folder.back() != u'/') folder.push_back(u'/');
  return folder;
}

// tmp_<process>_<year>_<month>_<day>_<hour>_<minute><second>_<ms>.tmp.stg;
// a later attempt, after a name that was taken, adds its number.
std::u16string TempName(int attempt) {
  const platform::SystemTime t = platform::UniversalTime();
  char name[128];
  std::snprintf(name, sizeof name, "tmp_%d_%d_%d_%d_%d_%d%d_%d", static_cast<int>(platform::ProcessId()), t.year,
                t.month, t.day, t.hour, t.minute, t.second, t.milliseconds);
  std::string text = name;
  if (attempt > 0) {
    text += '_';
    text += std::to_string(attempt);
  }
  text += ".tmp.stg";
  return platform::Utf8ToUtf16(text);
}

}  // namespace

// One directory entry whose siblings and child are still to be walked.
struct CStgReader::WalkFrame {
  std::int32_t index = 0;
  DirItem* item = nullptr;
  platform::ElementId storage = platform::kRootElement;
  bool storageCreated = false;
  platform::ElementId created = platform::kRootElement;
  int phase = 0;  // 0: prev, 1: next, 2: child, 3: done
};

int CStgReader::WriteData(std::u16string_view repairedPath) {
  state_.log().WriteLine("inside CStgReader::WriteData()");
  const std::u16string folder = WorkFolder(state_.run.settings);

  std::u16string tempPath;
  std::unique_ptr<platform::CompoundFileWriter> writer;
  for (int attempt = 0; attempt < kTempNameAttempts && !writer; ++attempt) {
    tempPath = folder + TempName(attempt);
    const std::string narrow = platform::Utf16ToAnsi(tempPath);
    if (narrow.empty()) {
      state_.log().WriteError("[STG]\tCannot convert temp file name");
      return -4;
    }
    state_.log().WriteValue("[STG]\tcreating docfile", narrow.c_str());
    platform::FileError error = platform::FileError::None;
    writer = platform::CompoundFileWriter::Create(tempPath, &error);
    if (!writer && error != platform::FileError::Exists) break;
  }
  if (!writer) {
    state_.log().WriteError("[STG]\tCannot create temp file");
    return -5;
  }

  TempFile removeLater(tempPath);
  const std::uint32_t count = root_ ? root_->EntryCount() : 0;
  visited_.assign(std::size_t{count} + 1, 0);
  firstChildren_.assign(std::size_t{count} + 1, 0);
  for (std::uint32_t n = 0; n < count; ++n) {
    const DirItem* item = root_->GetEntry(n);
    if (!item || item->lost || (item->Type() != kTypeStorage && item->Type() != kTypeRoot)) continue;
    if (item->Child() < count && item->Child() != n) firstChildren_[item->Child()] = 1;
  }
  state_.log().WriteFormat("[STG]\tRootDirectory size - %u", count);
  elParsed_.assign(count, 0);
  writer_ = writer.get();
  int walked = 0;
  try {
    walked = ParseRootElements(platform::kRootElement);
  } catch (...) {
    writer_ = nullptr;
    throw;
  }
  writer_ = nullptr;
  ReleaseImage();  // every stream is written
  state_.log().WriteFormat("[STG]\tParseRootElements returns %d", walked);
  std::vector<std::uint8_t>().swap(elParsed_);
  std::vector<std::uint8_t>().swap(visited_);
  std::vector<std::uint8_t>().swap(firstChildren_);
  // A cancelled walk leaves nothing behind: the writer never commits and
  // the temporary file goes.
  if (state_.run.Cancelled()) {
    state_.log().WriteLine("[STG]\tThe process was canceled by user");
    return -1000;
  }
  const bool committed = writer->Commit();
  writer.reset();

  // The finished file is moved into place, or copied where it cannot be
  // moved; either way all or nothing, and never over an existing file.
  const bool saved = committed && platform::MoveToNewFile(tempPath, repairedPath);
  if (saved) state_.log().WriteLine("[STG]\tOk to save");
  WriteSummary();
  return saved ? 0 : -4;
}

void CStgReader::WriteSummary() {
  const SalvageStats& s = state_.stats;
  state_.log().WriteLine(kSummaryRule);
  state_.log().WriteLine("[STG]\tSummary information:");
  state_.log().WriteFormat("[STG]\t%i SAT sectors from %i(finded - %i) defined", static_cast<int>(s.satSectorsDefined),
                     static_cast<int>(state_.header.satSectorsCount), static_cast<int>(s.satSectorsFound));
  state_.log().WriteFormat("[STG]\t%i miniSAT sectors from %i defined", static_cast<int>(s.miniSatSectorsDefined),
                     static_cast<int>(s.miniSatSectorsExpected));
  state_.log().WriteFormat("[STG]\tRoot entries found: %i", static_cast<int>(s.rootEntriesFound));
  state_.log().WriteFormat("[STG]\tDamaged elements: %i", static_cast<int>(s.damagedElements));
  state_.log().WriteFormat("[STG]\tLosts elements: %i", static_cast<int>(s.lostElements));
  state_.log().WriteFormat("[STG]\tNames correct: %i", static_cast<int>(s.namesCorrected));
  if (s.streamsGivenBack != 0)
    state_.log().WriteFormat("[STG]\t%i streams of lost entries given back", static_cast<int>(s.streamsGivenBack));
  if (state_.cutAt != 0)
    state_.log().WriteFormat("[STG]\tFile cut at %llu bytes: %i streams kept up to the cut",
                             static_cast<unsigned long long>(state_.cutAt), static_cast<int>(s.streamsCut));
  state_.log().WriteFormat("[STG]\t%i storages from %i created", static_cast<int>(s.storagesCreated),
                     static_cast<int>(s.storagesTotal));
  state_.log().WriteFormat("[STG]\t%i streams from %i created", static_cast<int>(s.streamsCreated),
                     static_cast<int>(s.streamsTotal));
  state_.log().WriteLine(kSummaryRule);
}

// Every item: item 0, normally the Root Entry, writes the whole reachable
// tree; every item still unwritten afterwards is an orphan. Orphans whose
// names say where they belong go there first (PlaceOrphans); the rest go,
// with their own siblings and children, directly into the root storage.
// When the tree leads to lost entries (a directory sector that held nothing)
// within one storage only, those rest are what hung below them: they go
// there.
int CStgReader::ParseRootElements(platform::ElementId storage) {
  lostParents_.clear();
  placed_.assign(1, PlacedStorage{storage, u"", {}, false});
  placedIndex_.clear();
  placedIndex_[storage] = 0;
  platform::ElementId orphans = storage;
  for (std::uint32_t i = 0; i < elParsed_.size(); ++i) {
    if (state_.run.Cancelled()) break;
    if (elParsed_[i] == 0) ParseDir(static_cast<std::int32_t>(i), orphans);
    if (i == 0) PlaceOrphans();
    if (i == 0 && lostParents_.size() == 1 && *lostParents_.begin() != storage) {
      orphans = *lostParents_.begin();
      state_.log().WriteLine("[STG]\tEntries below lost entries are written into the storage that held them");
    }
  }
  if (!state_.run.Cancelled()) GiveBackLostStreams();
  std::vector<UnownedChain>().swap(lostChains_);
  metasGivenBack_.reset();
  writtenStreams_.clear();
  writtenMetas_.clear();
  return 1;
}

void CStgReader::KeepForGiveBack(platform::ElementId storage, const DirItem& item, std::size_t length) {
  if (!entriesLost_) return;
  writtenStreams_[storage][item.Name()] = {length, item.Start()};
  if (IsMetaStream(item.Name()))
    writtenMetas_[storage][item.Name()].assign(item.Content().begin(),
                                               item.Content().begin() + static_cast<std::ptrdiff_t>(length));
}

std::vector<LostStreamHome> CStgReader::TableHomes(std::vector<platform::ElementId>& ids) const {
  std::vector<LostStreamHome> homes;
  ids.clear();
  for (const PlacedStorage& s : placed_) {
    if (!s.lostBelow || !IsTableStorage(s.name)) continue;
    LostStreamHome home;
    home.name = s.name;
    const auto streams = writtenStreams_.find(s.id);
    const auto metas = writtenMetas_.find(s.id);
    for (const std::u16string& name : s.children) {
      home.sizes[name] = 0;
      if (streams == writtenStreams_.end()) continue;
      if (const auto found = streams->second.find(name); found != streams->second.end()) {
        home.sizes[name] = found->second.size;
        home.starts[name] = found->second.start;
      }
    }
    if (metas != writtenMetas_.end())
      for (const auto& [name, bytes] : metas->second) home.metas[name] = platform::ByteView(bytes.data(), bytes.size());
    homes.push_back(std::move(home));
    ids.push_back(s.id);
  }
  return homes;
}

std::vector<std::pair<platform::ElementId, std::u16string>> CStgReader::RemadeHomes(
    std::vector<LostStreamHome>& homes) const {
  std::vector<std::pair<platform::ElementId, std::u16string>> remade;
  for (const PlacedStorage& s : placed_) {
    if (!s.lostBelow || !IsDataStorage(s.name)) continue;
    for (std::u16string_view table : kDataTables)
      if (!s.children.count(std::u16string(table))) {
        LostStreamHome home;
        home.name = std::u16string(table);
        homes.push_back(std::move(home));
        remade.push_back({s.id, std::u16string(table)});
      }
  }
  return remade;
}

std::optional<std::vector<LevelStream>> CStgReader::LevelStreams(const std::vector<std::uint32_t>& entries) const {
  std::vector<LevelStream> level;
  for (std::uint32_t n : entries) {
    const DirItem* item = root_->GetEntry(n);
    if (!item || item->Type() == kTypeStorage) return std::nullopt;
    const std::span<const std::uint8_t> content = item->Content();
    const std::size_t size = std::min<std::size_t>(item->Size(), content.size());
    level.push_back({item->Name(), platform::ByteView(content.data(), size)});
  }
  return level;
}

OrphanPlace CStgReader::PlaceByContent(const std::vector<std::uint32_t>& entries) {
  // More table storages than this that lost entries: left to the names.
  constexpr std::size_t kMaxHomes = 64;
  if (!entriesLost_) return {};
  std::vector<platform::ElementId> ids;
  std::vector<LostStreamHome> homes = TableHomes(ids);
  // A table storage lost with its entry is a place too: made again, under
  // its name, in the data storage that lost entries and lacks it.
  const auto remade = RemadeHomes(homes);
  if (homes.empty() || homes.size() > kMaxHomes) return {};
  const std::optional<std::vector<LevelStream>> level = LevelStreams(entries);
  if (!level) return {};
  std::vector<std::size_t> fit = HomesForLevel(homes, *level, lostChains_);
  // Undecided: the meta streams the lost chains give back to the written
  // storages may tell it (a level of data streams whose storage lost its
  // meta streams with their entries). They are matched once per run, as
  // the storages stood when a level first needed them.
  if (fit.size() != 1 && !lostChains_.empty()) {
    if (!metasGivenBack_) {
      metasGivenBack_.emplace();
      const std::vector<LostStreamHome> written(homes.begin(), homes.begin() + static_cast<std::ptrdiff_t>(ids.size()));
      for (const StreamGivenBack& g : MatchLostStreams(written, lostChains_, WrittenViewLayout()))
        if (IsMetaStream(g.name)) metasGivenBack_->push_back({ids[g.home], g.name, g.chain, g.size});
    }
    bool more = false;
    for (const GivenMeta& g : *metasGivenBack_) {
      const auto at = std::find(ids.begin(), ids.end(), g.storage);
      if (at == ids.end()) continue;
      LostStreamHome& home = homes[static_cast<std::size_t>(at - ids.begin())];
      if (!home.sizes.emplace(g.name, g.size).second) continue;  // written since
      home.metas[g.name] = platform::ByteView(lostChains_[g.chain].bytes.data(), g.size);
      more = true;
    }
    if (more) fit = HomesForLevel(homes, *level, lostChains_);
  }
  if (fit.size() != 1) return {};
  if (fit.front() < ids.size()) return {OrphanPlace::Kind::Into, ids[fit.front()], {}};
  const auto& [parent, name] = remade[fit.front() - ids.size()];
  return {OrphanPlace::Kind::Recreate, parent, name};
}

int CStgReader::WrittenViewLayout() const {
  std::vector<std::pair<std::u16string, platform::ByteView>> viewMetas;
  for (const PlacedStorage& s : placed_)
    if (const auto metas = writtenMetas_.find(s.id); metas != writtenMetas_.end())
      if (const auto fixed = metas->second.find(u"FixedMeta"); fixed != metas->second.end())
        viewMetas.push_back({s.name, platform::ByteView(fixed->second.data(), fixed->second.size())});
  return ViewLayoutOf(viewMetas);
}

// The streams of lost entries that the chains no one owns give back: into
// the table storages that lost entries and lack them (see LostStreams.h),
// and then, from the chains left, into the table storages lost with their
// entries, each made again in its data storage once a stream goes into it.
// The second round comes second so that a place made again never makes a
// written storage's stream undecided.
void CStgReader::GiveBackLostStreams() {
  if (lostChains_.empty()) return;
  std::vector<platform::ElementId> ids;
  const std::vector<LostStreamHome> written = TableHomes(ids);
  std::vector<const UnownedChain*> left;
  for (const UnownedChain& c : lostChains_) left.push_back(&c);
  std::vector<std::uint8_t> used(lostChains_.size(), 0);
  const int viewLayout = WrittenViewLayout();
  auto giveBack = [&](const std::vector<LostStreamHome>& homes, auto into) {
    for (const StreamGivenBack& g : MatchLostStreams(homes, left, viewLayout)) {
      const UnownedChain& chain = *left[g.chain];
      used[static_cast<std::size_t>(&chain - lostChains_.data())] = 1;
      const std::string name = platform::Utf16ToAnsi(g.name);
      const std::string home = platform::Utf16ToAnsi(homes[g.home].name);
      const std::optional<platform::ElementId> storage = into(g.home);
      const auto stream = storage ? writer_->CreateStream(*storage, g.name) : std::nullopt;
      if (!stream || !writer_->Write(*stream, chain.bytes.data(), g.size)) {
        state_.log().WriteFormat("[STG]\tStream %s could not be given back into %s", name.c_str(), home.c_str());
        continue;
      }
      NoteWritten(*storage, g.name);
      ++state_.stats.streamsGivenBack;
      state_.log().WriteFormat("[STG]\tStream %s (%u bytes), lost with its entry, is given back into %s from the %s chain at %u (%u sectors) no entry owns: told by %s",
                               name.c_str(), static_cast<unsigned>(g.size), home.c_str(), chain.mini ? "mini" : "big",
                               static_cast<unsigned>(chain.start), static_cast<unsigned>(chain.sectors), g.why.c_str());
    }
  };
  giveBack(written, [&](std::size_t h) -> std::optional<platform::ElementId> { return ids[h]; });

  std::vector<LostStreamHome> lostStorages;
  const auto remade = RemadeHomes(lostStorages);
  if (remade.empty()) return;
  std::vector<const UnownedChain*> rest;
  for (const UnownedChain* c : left)
    if (!used[static_cast<std::size_t>(c - lostChains_.data())]) rest.push_back(c);
  left.swap(rest);
  std::vector<std::optional<platform::ElementId>> made(remade.size());
  giveBack(lostStorages, [&](std::size_t h) -> std::optional<platform::ElementId> {
    if (made[h]) return made[h];
    const auto& [parent, storage] = remade[h];
    made[h] = writer_->CreateStorage(parent, storage);
    if (!made[h]) return std::nullopt;
    ++state_.stats.storagesCreated;
    NoteWritten(parent, storage);
    const PlacedStorage* in = Placed(parent);
    state_.log().WriteFormat("[STG]\tStorage %s, lost with its entry, is made again in %s for the streams given back",
                             platform::Utf16ToAnsi(storage).c_str(),
                             in ? platform::Utf16ToAnsi(in->name).c_str() : "");
    return made[h];
  });
}

PlacedStorage* CStgReader::Placed(platform::ElementId id) {
  const auto found = placedIndex_.find(id);
  return found == placedIndex_.end() ? nullptr : &placed_[found->second];
}

void CStgReader::NoteWritten(platform::ElementId storage, const std::u16string& name) {
  if (PlacedStorage* s = Placed(storage)) s->children.insert(name);
}

// The orphans cut off by lost entries, a level at a time from the top of
// each cut-off part: levels of table storages first, as the table streams
// below lost entries are placed by the table storages already there.
void CStgReader::PlaceOrphans() {
  const std::size_t count = elParsed_.size();
  auto orphan = [&](std::uint32_t n) {
    const DirItem* item = n < count && !elParsed_[n] ? root_->GetEntry(n) : nullptr;
    return item && !item->lost && !item->Name().empty() ? item : nullptr;
  };
  std::vector<std::uint8_t> referenced(count, 0);
  for (std::uint32_t n = 0; n < count; ++n)
    if (const DirItem* item = orphan(n))
      for (std::uint32_t link : {item->Prev(), item->Next(), item->Child()})
        if (link < count && link != n) referenced[link] = 1;

  // Each top with the siblings it leads to: one level of one storage.
  std::vector<OrphanLevel> levels;
  std::vector<std::uint8_t> seen(count, 0);
  for (std::uint32_t top = 0; top < count; ++top) {
    if (referenced[top] || !orphan(top) || seen[top]) continue;
    OrphanLevel level{top, {}, {}};
    std::vector<std::uint32_t> todo{top};
    seen[top] = 1;
    while (!todo.empty()) {
      const std::uint32_t n = todo.back();
      const DirItem* item = orphan(n);
      todo.pop_back();
      if (!item) continue;
      level.members.push_back({item->Name(), item->Type() == kTypeStorage});
      level.entries.push_back(n);
      for (std::uint32_t link : {item->Prev(), item->Next()})
        if (link < count && !seen[link] && orphan(link)) {
          seen[link] = 1;
          todo.push_back(link);
        }
    }
    levels.push_back(std::move(level));
  }

  // Each level weighs every storage written: a file of many lost entries
  // and many storages is placed as before rather than in quadratic time.
  constexpr std::uint64_t kPlacementBudget = 20'000'000;
  if (std::uint64_t{levels.size()} * placed_.size() > kPlacementBudget) {
    state_.log().WriteFormat("[STG]\t%zu groups of entries below lost entries among %zu storages: not placed by name",
                             levels.size(), placed_.size());
    return;
  }
  // Each level told by what it holds weighs every chain of lost entries too.
  const bool contentBudget = std::uint64_t{levels.size()} * (lostChains_.size() + placed_.size()) <= kPlacementBudget;
  // Table storages first; then the streams, in rounds, as a level placed
  // in one round may leave a single place for another in the next.
  for (int round = 0; round < 3 && !state_.run.Cancelled(); ++round) {
    for (const OrphanLevel& level : levels) {
      if (elParsed_[level.top] || state_.run.Cancelled()) continue;
      const bool tables = std::any_of(level.members.begin(), level.members.end(),
                                      [](const OrphanMember& m) { return m.storage; });
      if (round == 0 && !tables) continue;
      OrphanPlace place = PlaceOrphanLevel(level.members, placed_);
      // Streams whose names fit more than one storage may fit one by what
      // they hold (a FixedMeta's item stride, a VarMeta's types, a data
      // stream's size as its storage's meta stream gives it).
      bool byContent = false;
      if (place.kind == OrphanPlace::Kind::Keep && !tables && contentBudget) {
        place = PlaceByContent(level.entries);
        byContent = place.kind != OrphanPlace::Kind::Keep;
      }
      if (place.kind == OrphanPlace::Kind::Keep) continue;
      WriteOrphanLevel(level, place, byContent ? ", the one table storage what they hold fits" : "");
    }
  }
  if (!state_.run.Cancelled() && contentBudget) PlaceByWritingOrder(levels);
}

void CStgReader::WriteOrphanLevel(const OrphanLevel& level, const OrphanPlace& place, const char* why) {
  platform::ElementId into = place.storage;
  const PlacedStorage* parent = Placed(place.storage);
  const std::string parentName = parent ? platform::Utf16ToAnsi(parent->name) : std::string();
  if (place.kind == OrphanPlace::Kind::Recreate) {
    const auto made = writer_->CreateStorage(place.storage, place.name);
    if (!made) return;
    ++state_.stats.storagesCreated;
    NoteWritten(place.storage, place.name);
    placedIndex_[*made] = placed_.size();
    placed_.push_back(PlacedStorage{*made, place.name, {}, true, place.storage});
    lostParents_.insert(*made);
    into = *made;
    state_.log().WriteFormat("[STG]\tStorage %s, lost with its entry, is made again in %s for the entries below it",
                             platform::Utf16ToAnsi(place.name).c_str(), parentName.c_str());
  }
  std::string names;
  for (const OrphanMember& m : level.members) names += (names.empty() ? "" : ", ") + platform::Utf16ToAnsi(m.name);
  const PlacedStorage* target = Placed(into);
  state_.log().WriteFormat("[STG]\tEntries below lost entries (%s) are written into %s%s", names.c_str(),
                           target ? platform::Utf16ToAnsi(target->name).c_str() : "", why);
  ParseDir(static_cast<std::int32_t>(level.top), into);
}

// Levels of table streams still unplaced, whose table storage was lost
// with its entry: told by where their streams lie in the mini stream among
// the tables written (TablesByWritingOrder), and made again under that
// name in the data or view storage that lost entries.
void CStgReader::PlaceByWritingOrder(const std::vector<OrphanLevel>& levels) {
  // The first mini sector of a level's or a storage's streams.
  auto firstOf = [](std::uint64_t size, std::uint32_t start, std::optional<std::uint32_t>& first) {
    if (size > 0 && size < kMiniStreamCutoff && (!first || start < *first)) first = start;
  };
  std::vector<const OrphanLevel*> waiting;
  std::vector<std::uint32_t> firsts;
  for (const OrphanLevel& level : levels) {
    if (elParsed_[level.top] || !TableStreamsLevel(level.members)) continue;
    std::optional<std::uint32_t> first;
    for (std::uint32_t n : level.entries)
      if (const DirItem* item = root_->GetEntry(n)) firstOf(item->Size(), item->Start(), first);
    if (!first) continue;
    waiting.push_back(&level);
    firsts.push_back(*first);
  }
  if (waiting.empty()) return;
  // The tables present in the data and view storages, and those storages.
  std::vector<TableFirst> present;
  std::map<bool, std::vector<platform::ElementId>> holders;  // views?
  for (const PlacedStorage& s : placed_) {
    if (IsDataStorage(s.name) || IsViewStorage(s.name)) holders[IsViewStorage(s.name)].push_back(s.id);
    const PlacedStorage* parent = s.id == s.parent ? nullptr : Placed(s.parent);
    if (!parent || !(IsDataStorage(parent->name) || IsViewStorage(parent->name))) continue;
    std::optional<std::uint32_t> first;
    if (const auto streams = writtenStreams_.find(s.id); streams != writtenStreams_.end())
      for (const auto& [name, w] : streams->second) firstOf(w.size, w.start, first);
    if (first) present.push_back({s.name, *first});
  }
  const std::vector<std::u16string> tables = TablesByWritingOrder(present, firsts);
  for (std::size_t i = 0; i < waiting.size() && !state_.run.Cancelled(); ++i) {
    if (tables[i].empty()) continue;
    const auto& in = holders[tables[i].rfind(u"TBknd", 0) != 0];
    // A table whose streams are all empty is not among those present: it
    // is never made a second time.
    if (in.size() != 1 || !Placed(in.front())->lostBelow || Placed(in.front())->children.count(tables[i])) continue;
    const std::optional<std::vector<LevelStream>> streams = LevelStreams(waiting[i]->entries);
    if (!streams || !LevelMayBe(tables[i], *streams)) continue;
    WriteOrphanLevel(*waiting[i], {OrphanPlace::Kind::Recreate, in.front(), tables[i]},
                     ", the table that lies there among the tables written");
  }
}

bool CStgReader::LogElement(std::int32_t index, const DirItem& item) {
  state_.log().WriteFormat("[STG]\tParse element N: %i, type: %i, prev: %i, next: %i, child: %i, size: %i", index,
                     item.Type(), static_cast<int>(item.Prev()), static_cast<int>(item.Next()),
                     static_cast<int>(item.Child()), static_cast<int>(item.Size()));
  state_.log().WriteValue("[STG]\tEntry name: ", item.NarrowName().c_str());
  return !item.Name().empty();
}

// Writes one item into storage. True when the walk goes on to the item's
// siblings and child, which frame then describes.
bool CStgReader::EnterDir(std::int32_t index, platform::ElementId storage, WalkFrame& frame) {
  if (index == lastParsed_) return false;
  // Each item is written once, whatever way the tree leads back to it.
  if (index >= 0 && static_cast<std::size_t>(index) < visited_.size() && visited_[static_cast<std::size_t>(index)])
    return false;
  lastParsed_ = index;
  ++state_.recurseLevel;
  state_.log().WriteLine("[STG]\tCStgReader::ParseDir()");
  state_.log().WriteNumber("[STG]\tRecurse_level=", state_.recurseLevel);

  DirItem* item = index < 0 ? nullptr : root_->GetEntry(static_cast<std::uint32_t>(index));
  if (!item) {
    state_.log().WriteErrorNumber("[STG]\tCant find element:", index);
    ++state_.stats.lostElements;
    return false;
  }
  if (!LogElement(index, *item)) return false;
  const auto count = static_cast<std::int32_t>(root_->EntryCount());
  const auto child = static_cast<std::int32_t>(item->Child());
  // A child beyond the entries found: for a storage or a stream (its
  // child's entry was lost, as when the file was cut inside the directory)
  // the child is skipped when the walk reaches it, and the item and its
  // siblings are still written; an item of no known type is rubbish read as
  // an entry, and is dropped with what hangs on it.
  if (child > count) {
    state_.log().WriteError("[STG]\tRootDirSize smaller then childe position");
    if (item->Type() != kTypeStorage && item->Type() != kTypeStream && item->Type() != kTypeRoot) return false;
  }

  if (index == 0 && child != kNone && item->NarrowName() == "Root Entry") {
    // The Root Entry gives the root storage its times and class; its child
    // takes its place in the walk.
    state_.log().WriteLine("[STG]\tRoot Entry");
    if (!writer_->SetElementTimes(storage, item->Created(), item->Modified()))
      state_.log().WriteFormat("[STG]\tError while setting date-time of RootEntry, res = 0x%x", kStorageFailure);
    writer_->SetClass(storage, item->ClassId());
    elParsed_[0] = 1;
    visited_[0] = 1;
    if (child < 0 || child >= count) return false;
    if (visited_[static_cast<std::size_t>(child)]) {
      state_.log().WriteFormat("[STG]\tRoot directory %s cycle detected. skipping child_el %i.", "Root Entry", child);
      return false;
    }
    index = child;
    if (child > 0) {
      item = root_->GetEntry(static_cast<std::uint32_t>(child));
      if (!item) return false;
    }
    if (!LogElement(index, *item)) return false;
  }

  visited_[static_cast<std::size_t>(index)] = 1;
  elParsed_[static_cast<std::size_t>(index)] = 1;
  // An orphan whose name the storage holds already would be dropped there:
  // it goes into the root storage instead.
  if (const PlacedStorage* s = Placed(storage);
      s && s->children.count(item->Name()) && storage != platform::kRootElement && item->Type() != kTypeStorage) {
    state_.log().WriteFormat("[STG]\tAn element named %s is there already: written into the root storage",
                             item->NarrowName().c_str());
    storage = platform::kRootElement;
  }
  NoteWritten(storage, item->Name());
  frame = WalkFrame{};
  frame.index = index;
  frame.item = item;
  frame.storage = storage;

  if (item->Type() == kTypeStorage) {
    ++state_.stats.storagesTotal;
    auto created = writer_->CreateStorage(storage, item->Name());
    if (!created) {
      state_.log().WriteLine("[STG]\tIt's a storage, failure on create");
      return false;
    }
    state_.log().WriteLine("[STG]\tIt's a storage, create Ok");
    ++state_.stats.storagesCreated;
    placedIndex_[*created] = placed_.size();
    placed_.push_back(PlacedStorage{*created, item->Name(), {}, false, storage, item->Child()});
    writer_->SetClass(*created, item->ClassId());
    // The project's data, view and table storages are never empty: one
    // whose child link says none lost it, and entries cut off may belong
    // there.
    if (item->Child() == kNoEntry && NeverEmpty(item->Name())) {
      state_.log().WriteFormat("[STG]\tStorage %s has no child, which it always has: its entries' link was lost",
                               item->NarrowName().c_str());
      NoteBrokenBelow(*created);
    }
    frame.storageCreated = true;
    frame.created = *created;
    return true;
  }

  if (item->Type() == kTypeUnused) state_.log().WriteLine("Type 0, probably INVALID ENTRIE");
  state_.log().WriteLine(item->Type() == kTypeStream ? "[STG]\tIt's a stream" : "[STG]\t!!!!Unknown type, hope that is stream");
  ++state_.stats.streamsTotal;
  // Only bytes that were actually read are written: an entry whose data
  // could not be read counts as empty.
  const std::span<const std::uint8_t> content = item->Content();
  const std::size_t length = std::min<std::size_t>(item->Size(), content.size());
  if (static_cast<std::int32_t>(item->Size()) <= 0 || length == 0) {
    state_.log().WriteLine("[STG]\t!!!Skip. Length = 0");
    return true;
  }
  auto stream = writer_->CreateStream(storage, item->Name());
  if (!stream) {
    state_.log().WriteError("[STG]\tFailure for create stream");
    return false;
  }
  state_.log().WriteLine("[STG]\tOK for create stream");
  ++state_.stats.streamsCreated;
  state_.log().WriteValue("name      :", item->NarrowName().c_str());
  const bool written = writer_->Write(*stream, content.data(), length);
  KeepForGiveBack(storage, *item, length);
  item->FreeData();
  if (!written) {
    state_.log().WriteError("[STG]\tFailure to write to stream");
    return false;
  }
  const std::uint64_t created = item->Created();
  const std::uint64_t modified = item->Modified();
  if ((created != 0 || modified != 0) && !writer_->SetElementTimes(*stream, created, modified)) {
    if (created != 0) state_.log().WriteFormat("Error while setting creat_date (res == 0x%X)", kStorageFailure);
    if (modified != 0) state_.log().WriteFormat("[STG]\tError while setting mod_date (res == 0x%X)", kStorageFailure);
  }
  return true;
}

void CStgReader::NoteLost(std::int32_t index, platform::ElementId parent) {
  const DirItem* item = index < 0 ? nullptr : root_->GetEntry(static_cast<std::uint32_t>(index));
  if (item && item->lost) NoteBrokenBelow(parent);
}

bool CStgReader::BelongsElsewhere(platform::ElementId storage, std::int32_t index) {
  const PlacedStorage* s = Placed(storage);
  const DirItem* item = root_->GetEntry(static_cast<std::uint32_t>(index));
  return s && item && salvage::BelongsElsewhere(s->name, item->Name(), item->Type() == kTypeStorage);
}

bool CStgReader::StrayOfTakenName(platform::ElementId storage, std::int32_t sibling) {
  const PlacedStorage* s = Placed(storage);
  const DirItem* stray = root_->GetEntry(static_cast<std::uint32_t>(sibling));
  if (!s || !stray || s->firstChild == kNoEntry) return false;
  // A tree of siblings is balanced: a search deeper than this went astray.
  constexpr int kDeepest = 64;
  std::uint32_t at = s->firstChild;
  for (int depth = 0; depth < kDeepest && at != kNoEntry; ++depth) {
    const DirItem* node = root_->GetEntry(at);
    if (!node || node->lost) return false;
    const int found = platform::cfb::CompareNames(stray->Name(), node->Name());
    if (found == 0) return at != static_cast<std::uint32_t>(sibling);
    at = found < 0 ? node->Prev() : node->Next();
  }
  return false;
}

bool CStgReader::LeadsToAnotherTable(platform::ElementId storage, std::int32_t entry) {
  // Only the data storage's tables: a view table's items are sized by a
  // layout the file's other views tell.
  const PlacedStorage* s = Placed(storage);
  if (!s || std::find(kDataTables.begin(), kDataTables.end(), s->name) == kDataTables.end()) return false;
  // The entry's level: it and the siblings it leads to that the walk has
  // not taken, as far as a level of a table storage goes.
  constexpr std::size_t kLevelMost = 32;
  std::vector<std::uint32_t> level, todo{static_cast<std::uint32_t>(entry)};
  while (!todo.empty() && level.size() < kLevelMost) {
    const std::uint32_t n = todo.back();
    todo.pop_back();
    const DirItem* item = root_->GetEntry(n);
    if (!item || item->lost || visited_[n] || std::find(level.begin(), level.end(), n) != level.end()) continue;
    level.push_back(n);
    for (std::uint32_t link : {item->Prev(), item->Next()})
      if (link < root_->EntryCount()) todo.push_back(link);
  }
  const std::optional<std::vector<LevelStream>> streams = LevelStreams(level);
  return streams && LevelIsAnotherTables(s->name, *streams);
}

void CStgReader::NoteBrokenBelow(platform::ElementId parent) {
  lostParents_.insert(parent);
  if (PlacedStorage* s = Placed(parent)) s->lostBelow = true;
}

// Writes item index and everything reachable from it through its siblings
// and children. The walk keeps its own stack: the depth of the tree is the
// file's to decide, not the program stack's.
int CStgReader::ParseDir(std::int32_t index, platform::ElementId storage) {
  std::vector<WalkFrame> stack;
  WalkFrame first;
  if (EnterDir(index, storage, first)) stack.push_back(first);
  const auto count = static_cast<std::int32_t>(root_->EntryCount());

  while (!stack.empty()) {
    if (state_.run.Cancelled()) break;
    WalkFrame& f = stack.back();
    const std::string name = f.item->NarrowName();
    WalkFrame sub;
    bool descend = false;
    if (f.phase == 0 || f.phase == 1) {
      const bool left = f.phase == 0;
      ++f.phase;
      const auto sibling = static_cast<std::int32_t>(left ? f.item->Prev() : f.item->Next());
      if (sibling == kNone) continue;
      state_.log().WriteNumber(left ? "[STG]\tParsing left leaf (prev_el)" : "[STG]\tParsing right leaf (next_el)", sibling);
      if (sibling < 0 || sibling > count) {
        ++state_.stats.lostElements;
        NoteBrokenBelow(f.storage);
        state_.log().WriteErrorNumber(left ? "[STG]\tPrev_el<0 or greater than rootdir enties no. So skipping prev_el"
                                     : "[STG]\tNext_el<0 or greater than rootdir enties no. So skipping next_el",
                                sibling);
      } else if (visited_[static_cast<std::size_t>(sibling)]) {
        state_.log().WriteFormat(left ? "[STG]\tRoot directory %s cycle detected. skipping prev_el %i."
                                : "[STG]\tRoot directory %s cycle detected. skipping next_el %i.",
                           name.c_str(), sibling);
        NoteBrokenBelow(f.storage);
      } else if (firstChildren_[static_cast<std::size_t>(sibling)]) {
        state_.log().WriteFormat("[STG]\tEntry %s links to entry %i as its sibling, which a storage holds as its first child: not followed",
                                 name.c_str(), sibling);
        NoteBrokenBelow(f.storage);
      } else if (BelongsElsewhere(f.storage, sibling)) {
        state_.log().WriteFormat("[STG]\tEntry %s links to entry %i as its sibling, whose name belongs in another kind of storage: not followed",
                                 name.c_str(), sibling);
        NoteBrokenBelow(f.storage);
      } else if (StrayOfTakenName(f.storage, sibling)) {
        // Left unvisited, it is an orphan, placed where it belongs if that
        // can be told; what the link led to before may belong here.
        state_.log().WriteFormat("[STG]\tEntry %s links to entry %i as its sibling, and the storage's own tree "
                                 "leads to another entry of its name: not followed",
                                 name.c_str(), sibling);
        NoteBrokenBelow(f.storage);
      } else {
        NoteLost(sibling, f.storage);
        descend = EnterDir(sibling, f.storage, sub);
      }
    } else if (f.phase == 2) {
      ++f.phase;
      const auto child = static_cast<std::int32_t>(f.item->Child());
      if (child == kNone || !f.storageCreated) continue;
      state_.log().WriteNumber("[STG]\tParsing child leaf (child_el)", child);
      // A storage whose child link is not followed has no tree of its own
      // to search by name.
      const auto childNotFollowed = [&] {
        NoteBrokenBelow(f.created);
        if (PlacedStorage* created = Placed(f.created)) created->firstChild = kNoEntry;
      };
      if (child < 0 || child >= count) {
        ++state_.stats.lostElements;
        state_.log().WriteError("[STG]\tChild_el<0 or greater than rootdir enties no. So skipping child_el");
        childNotFollowed();
      } else if (visited_[static_cast<std::size_t>(child)]) {
        state_.log().WriteFormat("[STG]\tRoot directory %s cycle detected. skipping child_el %i.", name.c_str(), child);
        childNotFollowed();
      } else if (BelongsElsewhere(f.created, child)) {
        state_.log().WriteFormat("[STG]\tStorage %s links to entry %i as its child, whose name belongs in another kind of storage: not followed",
                                 name.c_str(), child);
        childNotFollowed();
      } else if (LeadsToAnotherTable(f.created, child)) {
        // Left unvisited, its level stays its own table's; the storage's
        // own streams, cut off by the damaged link, may come back to it.
        state_.log().WriteFormat("[STG]\tStorage %s links to entry %i as its child, whose streams are another table's: not followed",
                                 name.c_str(), child);
        childNotFollowed();
      } else {
        NoteLost(child, f.created);
        descend = EnterDir(child, f.created, sub);
      }
    } else {
      state_.log().WriteNumber("[STG]\tRecurse_level=", state_.recurseLevel);
      state_.log().WriteLine("[STG]\tF: CStgReader::ParseDir()");
      --state_.recurseLevel;
      stack.pop_back();
    }
    if (descend) stack.push_back(sub);  // f is not used after this
  }
  return 0;
}
