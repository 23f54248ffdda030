// The compound-file writer. Layout of what it produces:
//
//   header | stream sectors, in the order their data arrived | mini stream
//   | mini FAT | directory | FAT | DIFAT
//
// A stream stays in memory until it reaches the mini-stream cutoff; from
// then on each whole sector goes to the file as soon as it is complete and
// is chained to the stream's previous sector in the FAT, which is the only
// per-sector state kept (4 bytes for 512). Streams still short at Commit are
// packed into the mini stream. The directory, the FAT and the header are
// written by Commit, the header last, at the start of the file.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <unistd.h>

#include "platform/CompoundFile.h"
#include "platform/CompoundFileFormat.h"

namespace platform {
namespace {

using namespace cfb;

// Where the file's bytes go: appended in order, except the header, which is
// written last over the space reserved for it at the start.
class Sink {
 public:
  virtual ~Sink() = default;
  virtual bool Append(const void* data, std::size_t size) = 0;
  virtual bool WriteHeader(const std::uint8_t (&header)[kHeaderSize]) = 0;
  // Everything is written; a file is flushed to the disk and closed.
  virtual bool Close() { return true; }
};

class MemorySink final : public Sink {
 public:
  explicit MemorySink(std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
  bool Append(const void* data, std::size_t size) override {
    const auto* p = static_cast<const std::uint8_t*>(data);
    bytes_.insert(bytes_.end(), p, p + size);
    return true;
  }
  bool WriteHeader(const std::uint8_t (&header)[kHeaderSize]) override {
    if (bytes_.size() < kHeaderSize) return false;
    std::memcpy(bytes_.data(), header, kHeaderSize);
    return true;
  }

 private:
  std::vector<std::uint8_t>& bytes_;
};

// Collects appended bytes into large writes.
class FileSink final : public Sink {
 public:
  explicit FileSink(File file) : file_(std::move(file)) { buffer_.reserve(kBufferSize); }

  bool Append(const void* data, std::size_t size) override {
    const auto* p = static_cast<const std::uint8_t*>(data);
    if (buffer_.size() + size > kBufferSize && !Flush()) return false;
    if (size >= kBufferSize) return file_.WriteAll(p, size);
    buffer_.insert(buffer_.end(), p, p + size);
    return true;
  }

  bool WriteHeader(const std::uint8_t (&header)[kHeaderSize]) override {
    if (!Flush()) return false;
    std::size_t done = 0;
    while (done < kHeaderSize) {
      const ssize_t n = ::pwrite(file_.Descriptor(), header + done, kHeaderSize - done,
                                 static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

  // No fsync: the rebuilt container is a temporary that lives for one run;
  // syncing it cost more than the rest of a small file's recovery.
  bool Close() override {
    const bool ok = Flush();
    const bool closed = ::close(file_.Descriptor()) == 0;
    file_ = File();  // the descriptor is closed already
    return ok && closed;
  }

 private:
  static constexpr std::size_t kBufferSize = std::size_t{1} << 20;

  bool Flush() {
    if (buffer_.empty()) return true;
    const bool ok = file_.WriteAll(buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok;
  }

  File file_;
  std::vector<std::uint8_t> buffer_;
};

void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Put64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::size_t CeilDiv(std::uint64_t value, std::uint64_t unit) {
  return static_cast<std::size_t>((value + unit - 1) / unit);
}

struct NameOrder {
  bool operator()(const std::u16string& a, const std::u16string& b) const {
    return CompareNames(a, b) < 0;
  }
};

struct Element {
  std::u16string name;
  EntryType type = kTypeStream;
  ClassId classId{};
  std::uint64_t created = 0;
  std::uint64_t modified = 0;
  // Storages: the children by name, in the directory's order.
  std::map<std::u16string, ElementId, NameOrder> children;
  // Streams.
  std::uint64_t size = 0;
  // While the stream is short, all of it; once it is in sectors, the part
  // of its last sector not yet written.
  std::vector<std::uint8_t> pending;
  bool inSectors = false;
  std::uint32_t firstSector = kEndOfChain;  // or first mini sector after Commit
  std::uint32_t lastSector = kEndOfChain;
};

// One directory entry's sibling tree: the children of a storage, in name
// order, as a tree balanced by halving. Its empty links all lie on two
// adjacent levels, so colouring the deepest level red (unless the tree is
// perfect and all of it can be black) gives every path the same number of
// black entries, which makes it a valid red-black tree.
struct TreeLinks {
  std::uint32_t left = kNoEntry;
  std::uint32_t right = kNoEntry;
  EntryColor color = kBlack;
};

std::uint32_t BuildSiblingTree(const std::vector<ElementId>& sorted, std::vector<TreeLinks>& links) {
  if (sorted.empty()) return kNoEntry;
  std::size_t levels = 0;
  while ((std::size_t{1} << levels) - 1 < sorted.size()) ++levels;
  const bool perfect = (std::size_t{1} << levels) - 1 == sorted.size();

  struct Range {
    std::size_t lo, hi, depth;  // [lo, hi), depth 1 at the top
  };
  std::vector<Range> work{{0, sorted.size(), 1}};
  std::uint32_t top = kNoEntry;
  // Each range's middle becomes a node; its parent link is set when the
  // parent is taken, through the middle of the halves.
  while (!work.empty()) {
    const Range r = work.back();
    work.pop_back();
    const std::size_t mid = r.lo + (r.hi - r.lo) / 2;
    const ElementId node = sorted[mid];
    if (top == kNoEntry) top = node;
    links[node].color = (!perfect && r.depth == levels) ? kRed : kBlack;
    if (mid > r.lo) {
      links[node].left = sorted[r.lo + (mid - r.lo) / 2];
      work.push_back({r.lo, mid, r.depth + 1});
    }
    if (mid + 1 < r.hi) {
      links[node].right = sorted[mid + 1 + (r.hi - mid - 1) / 2];
      work.push_back({mid + 1, r.hi, r.depth + 1});
    }
  }
  return top;
}

class Writer final : public CompoundFileWriter {
 public:
  // A file at path written through sink, or, without a sink, a file in
  // memory.
  Writer(std::unique_ptr<Sink> sink, std::u16string path)
      : sink_(std::move(sink)), path_(std::move(path)) {
    if (!sink_) sink_ = std::make_unique<MemorySink>(bytes_);
    Element root;
    root.name = u"Root Entry";
    root.type = kTypeRoot;
    elements_.push_back(std::move(root));
    // The header's place; its content comes with Commit.
    const std::uint8_t zeros[kHeaderSize] = {};
    usable_ = sink_->Append(zeros, sizeof zeros);
  }

  ~Writer() override {
    if (!committed_ && !path_.empty()) {
      sink_.reset();
      DeleteFile(path_);
    }
  }

  std::optional<ElementId> CreateStorage(ElementId parent, std::u16string_view name) override {
    return AddElement(parent, name, kTypeStorage);
  }
  std::optional<ElementId> CreateStream(ElementId parent, std::u16string_view name) override {
    return AddElement(parent, name, kTypeStream);
  }

  // The format keeps a class and times for storages only (a stream's must
  // be zero), so setting them on a stream fails.
  bool SetClass(ElementId element, const ClassId& id) override {
    if (!IsStorage(element) || committed_) return false;
    elements_[element].classId = id;
    return true;
  }

  bool SetElementTimes(ElementId element, std::uint64_t created, std::uint64_t modified) override {
    if (!IsStorage(element) || committed_) return false;
    elements_[element].created = created;
    elements_[element].modified = modified;
    return true;
  }

  bool Write(ElementId stream, const void* data, std::size_t size) override {
    if (!usable_ || committed_ || stream >= elements_.size() ||
        elements_[stream].type != kTypeStream)
      return false;
    if (size == 0) return true;
    if (data == nullptr || !FitsInFile(size)) return false;
    Element& e = elements_[stream];
    const auto* p = static_cast<const std::uint8_t*>(data);
    std::size_t left = size;
    e.size += size;
    if (!e.inSectors) {
      if (e.pending.size() + left < kMiniStreamCutoff) {
        e.pending.insert(e.pending.end(), p, p + left);
        pendingBytes_ += left;
        return true;
      }
      e.inSectors = true;
    }
    pendingBytes_ -= e.pending.size();
    // Complete the sector begun earlier, then write the whole sectors of
    // the new data straight from the caller's buffer.
    if (!e.pending.empty()) {
      const std::size_t gap = (kSectorSize - e.pending.size() % kSectorSize) % kSectorSize;
      const std::size_t take = std::min(gap, left);
      e.pending.insert(e.pending.end(), p, p + take);
      p += take;
      left -= take;
      const std::size_t whole = e.pending.size() / kSectorSize;
      if (whole > 0) {
        if (!AppendSectors(e, e.pending.data(), whole)) return false;
        e.pending.erase(e.pending.begin(), e.pending.begin() + whole * kSectorSize);
      }
    }
    const std::size_t whole = left / kSectorSize;
    if (whole > 0 && !AppendSectors(e, p, whole)) return false;
    p += whole * kSectorSize;
    left -= whole * kSectorSize;
    e.pending.insert(e.pending.end(), p, p + left);
    pendingBytes_ += e.pending.size();
    return true;
  }

  bool Commit() override {
    if (!usable_ || committed_) return false;
    usable_ = false;  // whatever fails below leaves the writer unusable
    for (Element& e : elements_) {
      if (e.type != kTypeStream || !e.inSectors || e.pending.empty()) continue;
      e.pending.resize(kSectorSize, 0);
      if (!AppendSectors(e, e.pending.data(), 1)) return false;
      std::vector<std::uint8_t>().swap(e.pending);
    }
    std::uint8_t header[kHeaderSize] = {};
    if (!WriteMiniStream(header) || !WriteDirectory(header) || !WriteAllocationTables(header))
      return false;
    std::copy(kSignature.begin(), kSignature.end(), header + kHdrSignature);
    Put16(header + kHdrMinorVersion, kMinorVersion);
    Put16(header + kHdrMajorVersion, kMajorVersion3);
    Put16(header + kHdrByteOrder, kByteOrderMark);
    Put16(header + kHdrSectorShift, kSectorShift);
    Put16(header + kHdrMiniSectorShift, kMiniSectorShift);
    Put32(header + kHdrMiniStreamCutoff, kMiniStreamCutoff);
    if (!sink_->WriteHeader(header)) return false;
    if (!sink_->Close()) return false;
    sink_.reset();
    committed_ = true;
    return true;
  }

  const std::vector<std::uint8_t>& Bytes() const override { return bytes_; }

  // False when not even the header's place could be written.
  bool Usable() const { return usable_; }

 private:
  bool IsStorage(ElementId id) const {
    return id < elements_.size() && elements_[id].type != kTypeStream;
  }

  std::optional<ElementId> AddElement(ElementId parent, std::u16string_view name, EntryType type) {
    if (committed_ || !IsStorage(parent) || !IsValidName(name)) return std::nullopt;
    // Entry numbers are 32-bit and the directory must fit in the file.
    if (elements_.size() >= (kMaxFileSize / kDirEntrySize) / 2) return std::nullopt;
    const ElementId id = static_cast<ElementId>(elements_.size());
    auto [it, added] = elements_[parent].children.emplace(std::u16string(name), id);
    if (!added) return std::nullopt;
    Element e;
    e.name = it->first;
    e.type = type;
    elements_.push_back(std::move(e));
    return id;
  }

  // Whether size more bytes of stream data still leave room for the
  // tables and the directory under the 2 GB limit. A generous estimate:
  // every pending byte may need its own sector space, the FAT takes a
  // 128th of the file and the directory 128 bytes per element.
  bool FitsInFile(std::uint64_t size) const {
    if (size > kMaxFileSize) return false;
    const std::uint64_t data = std::uint64_t{fat_.size()} * kSectorSize + pendingBytes_ + size +
                               elements_.size() * (kSectorSize + kDirEntrySize);
    const std::uint64_t tables = data / 64 + 8 * kSectorSize;
    return kHeaderSize + data + tables <= kMaxFileSize;
  }

  // Appends count whole sectors of data as the next sectors of e's chain.
  bool AppendSectors(Element& e, const std::uint8_t* data, std::size_t count) {
    const auto first = static_cast<std::uint32_t>(fat_.size());
    for (std::size_t i = 1; i < count; ++i) fat_.push_back(first + static_cast<std::uint32_t>(i));
    fat_.push_back(kEndOfChain);
    if (e.lastSector == kEndOfChain)
      e.firstSector = first;
    else
      fat_[e.lastSector] = first;
    e.lastSector = static_cast<std::uint32_t>(fat_.size() - 1);
    if (sink_->Append(data, count * kSectorSize)) return true;
    usable_ = false;
    return false;
  }

  // Appends data, padded to whole sectors, as a chain of its own; the first
  // sector, or kEndOfChain when there is no data.
  std::optional<std::uint32_t> AppendChain(const std::vector<std::uint8_t>& data) {
    if (data.empty()) return kEndOfChain;
    Element holder;
    const std::size_t whole = data.size() / kSectorSize;
    if (whole > 0 && !AppendSectors(holder, data.data(), whole)) return std::nullopt;
    if (data.size() % kSectorSize != 0) {
      std::vector<std::uint8_t> last(data.begin() + whole * kSectorSize, data.end());
      last.resize(kSectorSize, 0);
      if (!AppendSectors(holder, last.data(), 1)) return std::nullopt;
    }
    return holder.firstSector;
  }

  // Packs the short streams into the mini stream, 64 bytes a mini sector,
  // and writes it and its mini FAT. The mini stream goes out a sector at a
  // time as it fills, each short stream's bytes freed once they are in:
  // the file never waits in memory twice.
  bool WriteMiniStream(std::uint8_t* header) {
    std::vector<std::uint32_t> miniFat;
    Element holder;  // the mini stream's chain
    std::uint8_t sector[kSectorSize];
    std::size_t filled = 0;  // bytes of sector in use
    std::uint64_t miniSize = 0;
    for (Element& e : elements_) {
      if (e.type != kTypeStream || e.inSectors || e.size == 0) continue;
      const auto first = static_cast<std::uint32_t>(miniFat.size());
      const std::size_t count = CeilDiv(e.size, kMiniSectorSize);
      for (std::size_t i = 1; i < count; ++i) miniFat.push_back(first + static_cast<std::uint32_t>(i));
      miniFat.push_back(kEndOfChain);
      e.firstSector = first;
      e.pending.resize(count * kMiniSectorSize, 0);
      for (std::size_t done = 0; done < e.pending.size();) {
        const std::size_t n = std::min(kSectorSize - filled, e.pending.size() - done);
        std::memcpy(sector + filled, e.pending.data() + done, n);
        filled += n;
        done += n;
        if (filled == kSectorSize) {
          if (!AppendSectors(holder, sector, 1)) return false;
          filled = 0;
        }
      }
      miniSize += e.pending.size();
      std::vector<std::uint8_t>().swap(e.pending);
    }
    if (filled > 0) {
      std::memset(sector + filled, 0, kSectorSize - filled);
      if (!AppendSectors(holder, sector, 1)) return false;
    }
    Element& root = elements_[kRootElement];
    root.firstSector = holder.firstSector;
    root.size = miniSize;

    miniFat.resize(CeilDiv(miniFat.size(), kEntriesPerFatSector) * kEntriesPerFatSector, kFreeSector);
    std::vector<std::uint8_t> table(miniFat.size() * 4);
    for (std::size_t i = 0; i < miniFat.size(); ++i) Put32(&table[i * 4], miniFat[i]);
    const auto miniFatStart = AppendChain(table);
    if (!miniFatStart) return false;
    Put32(header + kHdrFirstMiniFatSector, *miniFatStart);
    Put32(header + kHdrMiniFatSectorCount, static_cast<std::uint32_t>(table.size() / kSectorSize));
    return true;
  }

  // One 128-byte entry per element, entry i for element i, then unused
  // entries up to a whole sector.
  bool WriteDirectory(std::uint8_t* header) {
    std::vector<TreeLinks> links(elements_.size());
    std::vector<std::uint32_t> childTree(elements_.size(), kNoEntry);
    std::vector<ElementId> sorted;
    for (std::size_t i = 0; i < elements_.size(); ++i) {
      if (elements_[i].type == kTypeStream) continue;
      sorted.clear();
      for (const auto& [name, id] : elements_[i].children) sorted.push_back(id);
      childTree[i] = BuildSiblingTree(sorted, links);
    }

    const std::size_t count = CeilDiv(elements_.size(), kDirEntriesPerSector) * kDirEntriesPerSector;
    std::vector<std::uint8_t> dir(count * kDirEntrySize, 0);
    for (std::size_t i = 0; i < count; ++i) {
      std::uint8_t* p = &dir[i * kDirEntrySize];
      if (i >= elements_.size()) {
        Put32(p + kDirLeftSibling, kNoEntry);
        Put32(p + kDirRightSibling, kNoEntry);
        Put32(p + kDirChild, kNoEntry);
        continue;
      }
      const Element& e = elements_[i];
      for (std::size_t u = 0; u < e.name.size(); ++u) Put16(p + kDirName + 2 * u, e.name[u]);
      Put16(p + kDirNameLength, static_cast<std::uint16_t>((e.name.size() + 1) * 2));
      p[kDirType] = e.type;
      p[kDirColor] = i == kRootElement ? kBlack : links[i].color;
      Put32(p + kDirLeftSibling, i == kRootElement ? kNoEntry : links[i].left);
      Put32(p + kDirRightSibling, i == kRootElement ? kNoEntry : links[i].right);
      Put32(p + kDirChild, childTree[i]);
      std::copy(e.classId.begin(), e.classId.end(), p + kDirClassId);
      Put64(p + kDirCreated, e.created);
      Put64(p + kDirModified, e.modified);
      const bool hasData = e.type == kTypeRoot || e.type == kTypeStream;
      Put32(p + kDirStartSector, !hasData ? 0 : e.size == 0 ? kEndOfChain : e.firstSector);
      Put32(p + kDirSizeLow, hasData ? static_cast<std::uint32_t>(e.size) : 0);
    }
    const auto start = AppendChain(dir);
    if (!start) return false;
    Put32(header + kHdrFirstDirSector, *start);
    return true;
  }

  // The FAT covers every sector, its own and the DIFAT's included; the
  // header lists the first 109 FAT sectors, DIFAT sectors the rest.
  bool WriteAllocationTables(std::uint8_t* header) {
    const std::size_t used = fat_.size();
    std::size_t fatSectors = CeilDiv(used, kEntriesPerFatSector);
    std::size_t difatSectors = 0;
    for (;;) {
      const std::size_t needDifat =
          fatSectors > kHeaderDifatEntries
              ? CeilDiv(fatSectors - kHeaderDifatEntries, kFatSectorsPerDifatSector)
              : 0;
      const std::size_t needFat = CeilDiv(used + fatSectors + needDifat, kEntriesPerFatSector);
      if (needFat <= fatSectors && needDifat == difatSectors) break;
      fatSectors = std::max(fatSectors, needFat);
      difatSectors = needDifat;
    }
    const std::size_t total = used + fatSectors + difatSectors;
    if (kHeaderSize + std::uint64_t{total} * kSectorSize > kMaxFileSize)
      return false;

    const auto firstFat = static_cast<std::uint32_t>(used);
    const auto firstDifat = static_cast<std::uint32_t>(used + fatSectors);
    fat_.resize(fatSectors * kEntriesPerFatSector, kFreeSector);
    for (std::size_t i = 0; i < fatSectors; ++i) fat_[firstFat + i] = kFatSectorMark;
    for (std::size_t i = 0; i < difatSectors; ++i) fat_[firstDifat + i] = kDifatSectorMark;

    std::vector<std::uint8_t> sector(kSectorSize);
    for (std::size_t s = 0; s < fatSectors; ++s) {
      for (std::size_t i = 0; i < kEntriesPerFatSector; ++i)
        Put32(&sector[i * 4], fat_[s * kEntriesPerFatSector + i]);
      if (!sink_->Append(sector.data(), sector.size())) return false;
    }
    for (std::size_t d = 0; d < difatSectors; ++d) {
      for (std::size_t i = 0; i < kFatSectorsPerDifatSector; ++i) {
        const std::size_t n = kHeaderDifatEntries + d * kFatSectorsPerDifatSector + i;
        Put32(&sector[i * 4], n < fatSectors ? firstFat + static_cast<std::uint32_t>(n) : kFreeSector);
      }
      const bool last = d + 1 == difatSectors;
      Put32(&sector[kFatSectorsPerDifatSector * 4],
            last ? kEndOfChain : firstDifat + static_cast<std::uint32_t>(d + 1));
      if (!sink_->Append(sector.data(), sector.size())) return false;
    }

    Put32(header + kHdrFatSectorCount, static_cast<std::uint32_t>(fatSectors));
    Put32(header + kHdrFirstDifatSector, difatSectors > 0 ? firstDifat : kEndOfChain);
    Put32(header + kHdrDifatSectorCount, static_cast<std::uint32_t>(difatSectors));
    for (std::size_t i = 0; i < kHeaderDifatEntries; ++i)
      Put32(header + kHdrDifat + i * 4,
            i < fatSectors ? firstFat + static_cast<std::uint32_t>(i) : kFreeSector);
    return true;
  }

  std::unique_ptr<Sink> sink_;
  std::u16string path_;
  std::vector<std::uint8_t> bytes_;
  // A deque, so that adding an element never copies the others: a file of
  // many short streams would otherwise hold its elements twice while the
  // vector grows.
  std::deque<Element> elements_;
  // One entry per sector written so far: the next sector of its chain.
  std::vector<std::uint32_t> fat_;
  // Stream bytes received but not yet in a written sector.
  std::uint64_t pendingBytes_ = 0;
  bool usable_ = true;
  bool committed_ = false;
};

}  // namespace

std::unique_ptr<CompoundFileWriter> CompoundFileWriter::Create(std::u16string_view path,
                                                               FileError* error) {
  File file = CreateNew(path, error);
  if (!file.IsOpen()) return nullptr;
  auto writer = std::make_unique<Writer>(std::make_unique<FileSink>(std::move(file)),
                                         std::u16string(path));
  if (!writer->Usable()) {
    if (error) *error = FileError::Other;
    return nullptr;  // the writer removes the file as it goes
  }
  return writer;
}

std::unique_ptr<CompoundFileWriter> CompoundFileWriter::CreateInMemory() {
  return std::make_unique<Writer>(nullptr, std::u16string());
}

}  // namespace platform
