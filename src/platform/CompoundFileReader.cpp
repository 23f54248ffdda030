// The compound-file reader. Opening checks the whole structure once, and
// refuses the file (Open and FromBytes give null) when any part of it that
// the others depend on is broken:
//
//   - the header: signature, byte order, version 3, 512-byte sectors, 64-byte
//     mini sectors, a 4096-byte cutoff;
//   - the FAT sectors the header and the DIFAT chain list;
//   - the directory chain, the mini FAT chain and the mini stream's chain;
//   - the directory tree: every sibling and child link in range, no entry
//     reached twice (a cycle or two parents), only storages and streams
//     below the root, well-formed names, no name twice in one storage, and
//     no links where the format wants none (the root's siblings, a
//     stream's child).
//
// A malformed tree fails the whole file rather than hiding the subtree it
// would cut off: this reader serves files that ought to be sound, and a
// silently shorter directory would look like a smaller project. Damaged
// files are the salvage's business.
//
// A stream's own chain may still be broken (a cycle, a sector past the end,
// a sector another chain already holds, fewer sectors than its size needs):
// the stream is then listed but ReadStream fails for it. Every sector,
// regular or mini, belongs to one chain at most; the first chain checked
// keeps it. A chain longer than its stream needs is read only as far as
// needed. The tree's red-black colours and order are not checked: look-ups
// go through an index of each storage's children made here, sorted in the
// directory's name order. The high half of a size is ignored, as older
// writers left garbage there.
//
// Nothing is read except through bounds-checked views; every walk over the
// file's tables marks what it visits and stops at the first repeat, so each
// is bounded by the size of the file.
#include <algorithm>
#include <sys/mman.h>

#include "platform/ByteView.h"
#include "platform/CompoundFile.h"
#include "platform/CompoundFileFormat.h"

namespace platform {
namespace {

using namespace cfb;

constexpr std::uint32_t kNoSlot = 0xFFFFFFFF;

std::size_t CeilDiv(std::uint64_t value, std::uint64_t unit) {
  return static_cast<std::size_t>((value + unit - 1) / unit);
}

struct Entry {
  ElementId id = 0;
  std::u16string name;
  EntryType type = kTypeUnused;
  std::uint32_t left = kNoEntry;
  std::uint32_t right = kNoEntry;
  std::uint32_t child = kNoEntry;
  ClassId classId{};
  std::uint64_t created = 0;
  std::uint64_t modified = 0;
  std::uint32_t start = kEndOfChain;
  std::uint64_t size = 0;
  bool readable = false;             // streams: the chain holds the whole stream
  std::vector<ElementId> children;   // storages: in name order
};

// The file's bytes, owned or mapped.
class Bytes {
 public:
  explicit Bytes(std::vector<std::uint8_t> owned) : owned_(std::move(owned)) {}
  Bytes(void* map, std::size_t size) : map_(map), mapSize_(size) {}
  Bytes(const Bytes&) = delete;
  Bytes& operator=(const Bytes&) = delete;
  ~Bytes() {
    if (map_) ::munmap(map_, mapSize_);
  }
  ByteView View() const {
    return map_ ? ByteView(static_cast<const std::uint8_t*>(map_), mapSize_)
                : ByteView(owned_.data(), owned_.size());
  }

 private:
  std::vector<std::uint8_t> owned_;
  void* map_ = nullptr;
  std::size_t mapSize_ = 0;
};

// Follows a chain through table from start. With want, takes exactly that
// many sectors (what follows the last is not looked at); without, takes
// sectors up to the end-of-chain mark. Every sector taken must be inside
// the table and not yet marked in used; it is marked and appended to out.
// On failure the marks of this walk are undone and out is left as it was.
bool FollowChain(const std::vector<std::uint32_t>& table, std::vector<bool>& used,
                 std::uint32_t start, std::optional<std::size_t> want,
                 std::vector<std::uint32_t>& out) {
  const std::size_t before = out.size();
  auto fail = [&] {
    for (std::size_t i = before; i < out.size(); ++i) used[out[i]] = false;
    out.resize(before);
    return false;
  };
  std::uint32_t sector = start;
  for (;;) {
    if (want ? out.size() - before == *want : sector == kEndOfChain) return true;
    if (sector >= table.size() || used[sector]) return fail();
    used[sector] = true;
    out.push_back(sector);
    sector = table[sector];
  }
}

class Reader final : public CompoundFileReader {
 public:
  explicit Reader(std::unique_ptr<Bytes> bytes) : bytes_(std::move(bytes)), file_(bytes_->View()) {}

  bool Load() {
    return ReadHeaderAndFat() && ReadDirectoryChain() && ReadMiniStream() && ReadTree() &&
           CheckStreamChains();
  }

  std::optional<ElementId> OpenStorage(ElementId parent, std::u16string_view name) const override {
    const Entry* e = Find(parent, name);
    if (!e || e->type != kTypeStorage) return std::nullopt;
    return e->id;
  }

  std::optional<ElementId> OpenStream(ElementId parent, std::u16string_view name) const override {
    const Entry* e = Find(parent, name);
    if (!e || e->type != kTypeStream) return std::nullopt;
    return e->id;
  }

  std::optional<ElementInfo> Stat(ElementId element) const override {
    const Entry* e = Get(element);
    if (!e) return std::nullopt;
    return Info(*e);
  }

  std::vector<ElementInfo> Children(ElementId storage) const override {
    std::vector<ElementInfo> out;
    const Entry* e = Get(storage);
    if (!e) return out;
    out.reserve(e->children.size());
    for (ElementId id : e->children) out.push_back(Info(*Get(id)));
    return out;
  }

  bool ReadStream(ElementId stream, std::vector<std::uint8_t>& out) const override {
    const Entry* e = Get(stream);
    if (!e || e->type != kTypeStream || !e->readable) return false;
    out.assign(static_cast<std::size_t>(e->size), 0);
    const bool mini = e->size < kMiniStreamCutoff;
    const std::size_t unit = mini ? kMiniSectorSize : kSectorSize;
    const std::vector<std::uint32_t>& table = mini ? miniFat_ : fat_;
    std::uint32_t sector = e->start;
    for (std::size_t done = 0; done < out.size();) {
      if (sector >= table.size()) return false;
      const std::size_t length = std::min(unit, out.size() - done);
      std::uint64_t offset = SectorOffset(sector);
      if (mini) {
        const std::uint64_t inMini = std::uint64_t{sector} * kMiniSectorSize;
        if (inMini / kSectorSize >= miniStreamSectors_.size()) return false;
        offset = SectorOffset(miniStreamSectors_[inMini / kSectorSize]) + inMini % kSectorSize;
      }
      if (!file_.CopyTo(static_cast<std::size_t>(offset), length, out.data() + done)) return false;
      done += length;
      sector = table[sector];
    }
    return true;
  }

 private:
  // The header, then the FAT through the sectors it lists. Only the FAT
  // sectors that describe sectors present in the file are read, so a header
  // claiming a huge FAT costs nothing; sectors the FAT does not describe
  // cannot be reached.
  bool ReadHeaderAndFat() {
    const auto header = file_.Sub(0, kHeaderSize);
    if (!header || file_.size() > kMaxFileSize) return false;
    for (std::size_t i = 0; i < kSignature.size(); ++i)
      if (header->u8_at(kHdrSignature + i) != kSignature[i]) return false;
    if (header->u16_at(kHdrByteOrder) != kByteOrderMark ||
        header->u16_at(kHdrMajorVersion) != kMajorVersion3 ||
        header->u16_at(kHdrSectorShift) != kSectorShift ||
        header->u16_at(kHdrMiniSectorShift) != kMiniSectorShift ||
        header->u32_at(kHdrMiniStreamCutoff) != kMiniStreamCutoff)
      return false;

    // The FAT and DIFAT sectors are sectors of the file: no more of them
    // than the file holds.
    const std::size_t present = (file_.size() - kHeaderSize) / kSectorSize;
    const std::size_t claimed = *header->u32_at(kHdrFatSectorCount);
    if (claimed > present || *header->u32_at(kHdrDifatSectorCount) > present) return false;
    const std::size_t fatSectors = std::min(claimed, CeilDiv(present, kEntriesPerFatSector));
    sectorCount_ = std::min(present, fatSectors * kEntriesPerFatSector);
    used_.assign(sectorCount_, false);

    std::vector<std::uint32_t> fatList;
    for (std::size_t i = 0; i < std::min(fatSectors, kHeaderDifatEntries); ++i)
      fatList.push_back(*header->u32_at(kHdrDifat + 4 * i));
    // The DIFAT chain: each sector lists 127 more FAT sectors, then the next.
    std::uint32_t difat = *header->u32_at(kHdrFirstDifatSector);
    const std::uint32_t difatCount = *header->u32_at(kHdrDifatSectorCount);
    for (std::uint32_t n = 0; n < difatCount && fatList.size() < fatSectors; ++n) {
      if (difat >= sectorCount_ || used_[difat]) return false;
      used_[difat] = true;
      const auto sector = file_.Sub(SectorOffset(difat), kSectorSize);
      if (!sector) return false;
      for (std::size_t i = 0; i < kFatSectorsPerDifatSector && fatList.size() < fatSectors; ++i)
        fatList.push_back(*sector->u32_at(4 * i));
      difat = *sector->u32_at(4 * kFatSectorsPerDifatSector);
    }
    if (fatList.size() < fatSectors) return false;

    fat_.assign(sectorCount_, kFreeSector);
    for (std::size_t f = 0; f < fatList.size(); ++f) {
      const std::uint32_t s = fatList[f];
      if (s >= sectorCount_ || used_[s]) return false;
      used_[s] = true;
      const auto sector = file_.Sub(SectorOffset(s), kSectorSize);
      if (!sector) return false;
      for (std::size_t i = 0; i < kEntriesPerFatSector; ++i) {
        const std::size_t n = f * kEntriesPerFatSector + i;
        if (n < fat_.size()) fat_[n] = *sector->u32_at(4 * i);
      }
    }
    firstDirSector_ = *header->u32_at(kHdrFirstDirSector);
    firstMiniFatSector_ = *header->u32_at(kHdrFirstMiniFatSector);
    miniFatSectorCount_ = *header->u32_at(kHdrMiniFatSectorCount);
    return true;
  }

  bool ReadDirectoryChain() {
    if (firstDirSector_ == kEndOfChain) return false;
    if (!FollowChain(fat_, used_, firstDirSector_, std::nullopt, dirSectors_)) return false;
    entryCount_ = dirSectors_.size() * kDirEntriesPerSector;
    return true;
  }

  // The 128 bytes of directory entry i.
  std::optional<ByteView> EntryBytes(std::uint32_t i) const {
    if (i >= entryCount_) return std::nullopt;
    const std::uint64_t offset =
        SectorOffset(dirSectors_[i / kDirEntriesPerSector]) + (i % kDirEntriesPerSector) * kDirEntrySize;
    return file_.Sub(static_cast<std::size_t>(offset), kDirEntrySize);
  }

  static std::optional<Entry> ParseEntry(std::uint32_t index, const ByteView& b) {
    Entry e;
    e.id = index;
    const std::uint16_t nameBytes = *b.u16_at(kDirNameLength);
    if (nameBytes < 4 || nameBytes > 2 * (kMaxNameUnits + 1) || nameBytes % 2 != 0) return std::nullopt;
    const std::size_t units = nameBytes / 2 - 1;
    for (std::size_t u = 0; u < units; ++u) {
      const char16_t c = *b.u16_at(kDirName + 2 * u);
      if (c == 0) return std::nullopt;
      e.name.push_back(c);
    }
    if (*b.u16_at(kDirName + 2 * units) != 0) return std::nullopt;
    e.type = static_cast<EntryType>(*b.u8_at(kDirType));
    e.left = *b.u32_at(kDirLeftSibling);
    e.right = *b.u32_at(kDirRightSibling);
    e.child = *b.u32_at(kDirChild);
    b.CopyTo(kDirClassId, e.classId.size(), e.classId.data());
    e.created = *b.u64_at(kDirCreated);
    e.modified = *b.u64_at(kDirModified);
    e.start = *b.u32_at(kDirStartSector);
    e.size = *b.u32_at(kDirSizeLow);
    return e;
  }

  // The root entry, the mini FAT and the mini stream's sectors.
  bool ReadMiniStream() {
    const auto rootBytes = EntryBytes(kRootElement);
    if (!rootBytes) return false;
    auto root = ParseEntry(kRootElement, *rootBytes);
    if (!root || root->type != kTypeRoot || root->left != kNoEntry || root->right != kNoEntry)
      return false;

    std::vector<std::uint32_t> miniFatSectors;
    if (!FollowChain(fat_, used_, firstMiniFatSector_, std::nullopt, miniFatSectors) ||
        miniFatSectors.size() != miniFatSectorCount_)
      return false;
    if (root->size > 0 &&
        !FollowChain(fat_, used_, root->start, CeilDiv(root->size, kSectorSize), miniStreamSectors_))
      return false;

    // Mini sectors past the mini stream's end cannot be reached.
    const std::size_t miniSectors =
        std::min(miniFatSectors.size() * kEntriesPerFatSector, CeilDiv(root->size, kMiniSectorSize));
    miniFat_.assign(miniSectors, kFreeSector);
    for (std::size_t i = 0; i < miniSectors; ++i) {
      const std::uint32_t s = miniFatSectors[i / kEntriesPerFatSector];
      const auto value = file_.u32_at(static_cast<std::size_t>(SectorOffset(s)) + 4 * (i % kEntriesPerFatSector));
      if (!value) return false;
      miniFat_[i] = *value;
    }
    miniUsed_.assign(miniSectors, false);

    root->size = 0;  // the mini stream's size is no stream's size
    slot_.assign(entryCount_, kNoSlot);
    slot_[kRootElement] = 0;
    entries_.push_back(std::move(*root));
    return true;
  }

  // Walks the storages breadth first and each storage's sibling tree with a
  // stack; an entry met twice fails the file, so each is parsed once.
  bool ReadTree() {
    std::vector<std::uint32_t> storages{0};  // slots
    std::vector<std::uint32_t> stack;
    for (std::size_t next = 0; next < storages.size(); ++next) {
      const std::uint32_t storageSlot = storages[next];
      std::vector<ElementId> children;
      stack.clear();
      if (entries_[storageSlot].child != kNoEntry) stack.push_back(entries_[storageSlot].child);
      while (!stack.empty()) {
        const std::uint32_t index = stack.back();
        stack.pop_back();
        if (index >= entryCount_ || slot_[index] != kNoSlot) return false;
        const auto bytes = EntryBytes(index);
        if (!bytes) return false;
        auto e = ParseEntry(index, *bytes);
        if (!e || (e->type != kTypeStorage && e->type != kTypeStream)) return false;
        if (e->type == kTypeStream && e->child != kNoEntry) return false;
        if (e->left != kNoEntry) stack.push_back(e->left);
        if (e->right != kNoEntry) stack.push_back(e->right);
        slot_[index] = static_cast<std::uint32_t>(entries_.size());
        if (e->type == kTypeStorage) {
          e->size = 0;
          storages.push_back(slot_[index]);
        }
        children.push_back(index);
        entries_.push_back(std::move(*e));
      }
      std::sort(children.begin(), children.end(), [this](ElementId a, ElementId b) {
        return CompareNames(Get(a)->name, Get(b)->name) < 0;
      });
      for (std::size_t i = 1; i < children.size(); ++i)
        if (CompareNames(Get(children[i - 1])->name, Get(children[i])->name) == 0) return false;
      entries_[storageSlot].children = std::move(children);
    }
    return true;
  }

  bool CheckStreamChains() {
    std::vector<std::uint32_t> chain;
    for (Entry& e : entries_) {
      if (e.type != kTypeStream) continue;
      if (e.size == 0) {
        e.readable = true;
        continue;
      }
      chain.clear();
      if (e.size < kMiniStreamCutoff)
        e.readable = FollowChain(miniFat_, miniUsed_, e.start, CeilDiv(e.size, kMiniSectorSize), chain);
      else
        e.readable = e.size <= kMaxFileSize &&
                     FollowChain(fat_, used_, e.start, CeilDiv(e.size, kSectorSize), chain);
    }
    return true;
  }

  const Entry* Get(ElementId id) const {
    if (id >= slot_.size() || slot_[id] == kNoSlot) return nullptr;
    return &entries_[slot_[id]];
  }

  const Entry* Find(ElementId parent, std::u16string_view name) const {
    const Entry* p = Get(parent);
    if (!p || p->type == kTypeStream) return nullptr;
    auto it = std::lower_bound(p->children.begin(), p->children.end(), name,
                               [this](ElementId id, std::u16string_view key) {
                                 return CompareNames(Get(id)->name, key) < 0;
                               });
    if (it == p->children.end() || CompareNames(Get(*it)->name, name) != 0) return nullptr;
    return Get(*it);
  }

  static ElementInfo Info(const Entry& e) {
    ElementInfo info;
    info.name = e.name;
    info.isStorage = e.type != kTypeStream;
    info.id = e.id;
    info.classId = e.classId;
    info.created = e.created;
    info.modified = e.modified;
    info.size = e.size;
    return info;
  }

  std::unique_ptr<Bytes> bytes_;
  ByteView file_;
  // Sectors the FAT describes and the file holds, and which of them a
  // structure or a stream's chain has claimed.
  std::size_t sectorCount_ = 0;
  std::vector<std::uint32_t> fat_;
  std::vector<bool> used_;
  std::uint32_t firstDirSector_ = kEndOfChain;
  std::uint32_t firstMiniFatSector_ = kEndOfChain;
  std::uint32_t miniFatSectorCount_ = 0;
  std::vector<std::uint32_t> dirSectors_;
  std::size_t entryCount_ = 0;
  std::vector<std::uint32_t> miniFat_;  // one entry per mini sector the mini stream holds
  std::vector<bool> miniUsed_;
  std::vector<std::uint32_t> miniStreamSectors_;
  // The entries reached from the root, and each directory entry's place
  // among them (kNoSlot when not reached).
  std::vector<Entry> entries_;
  std::vector<std::uint32_t> slot_;
};

std::unique_ptr<CompoundFileReader> Parse(std::unique_ptr<Bytes> bytes) {
  auto reader = std::make_unique<Reader>(std::move(bytes));
  if (!reader->Load()) return nullptr;
  return reader;
}

}  // namespace

std::unique_ptr<CompoundFileReader> CompoundFileReader::Open(std::u16string_view path) {
  File file = OpenForReading(path);
  const auto size = file.Size();
  if (!file.IsOpen() || !size || *size < kHeaderSize || *size > kMaxFileSize) return nullptr;
  void* map = ::mmap(nullptr, static_cast<std::size_t>(*size), PROT_READ, MAP_PRIVATE, file.Descriptor(), 0);
  if (map != MAP_FAILED) return Parse(std::make_unique<Bytes>(map, static_cast<std::size_t>(*size)));
  std::vector<std::uint8_t> bytes;
  if (!ReadWholeFile(path, bytes)) return nullptr;
  return Parse(std::make_unique<Bytes>(std::move(bytes)));
}

std::unique_ptr<CompoundFileReader> CompoundFileReader::FromBytes(std::vector<std::uint8_t> bytes) {
  return Parse(std::make_unique<Bytes>(std::move(bytes)));
}

}  // namespace platform
