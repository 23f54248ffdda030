#include "support/CfbFixture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <utility>

#include "platform/ByteView.h"
#include "platform/System.h"
#include "platform/Text.h"

namespace fixture {

using namespace platform::cfb;
using platform::ClassId;
using platform::ElementId;

Node Node::WithClass(const ClassId& id) && {
  classId = id;
  return std::move(*this);
}

Node Node::WithTimes(std::uint64_t createdTime, std::uint64_t modifiedTime) && {
  created = createdTime;
  modified = modifiedTime;
  return std::move(*this);
}

Node Stream(std::u16string name, std::vector<std::uint8_t> bytes) {
  Node n;
  n.name = std::move(name);
  n.bytes = std::move(bytes);
  return n;
}

Node Stream(std::u16string name, std::string_view text) {
  return Stream(std::move(name), std::vector<std::uint8_t>(text.begin(), text.end()));
}

Node Storage(std::u16string name, std::vector<Node> children) {
  Node n;
  n.name = std::move(name);
  n.isStorage = true;
  n.children = std::move(children);
  return n;
}

Node Root(std::vector<Node> children) { return Storage(u"Root Entry", std::move(children)); }

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint32_t seed) {
  std::vector<std::uint8_t> out(size);
  for (std::size_t i = 0; i < size; ++i) {
    std::uint32_t x = seed * 0x9E3779B1u + static_cast<std::uint32_t>(i) * 0x85EBCA77u;
    x ^= x >> 15;
    x *= 0x2C1B3C6Du;
    x ^= x >> 12;
    out[i] = static_cast<std::uint8_t>(x);
  }
  return out;
}

ClassId MakeClassId(std::uint8_t seed) {
  ClassId id;
  for (std::size_t i = 0; i < id.size(); ++i) id[i] = static_cast<std::uint8_t>(seed * 16 + i);
  return id;
}

std::vector<std::uint8_t> Build(const Node& root) {
  auto writer = platform::CompoundFileWriter::CreateInMemory();
  const ClassId noClass{};
  auto describe = [&](const Node& n, ElementId id) {
    if (n.classId != noClass && !writer->SetClass(id, n.classId)) return false;
    if ((n.created != 0 || n.modified != 0) && !writer->SetElementTimes(id, n.created, n.modified))
      return false;
    return true;
  };
  if (!describe(root, platform::kRootElement)) {
    ADD_FAILURE() << "the writer refused the root's class or times";
    return {};
  }
  std::vector<std::pair<const Node*, ElementId>> work;
  for (const Node& child : root.children) work.emplace_back(&child, platform::kRootElement);
  while (!work.empty()) {
    const auto [node, parent] = work.back();
    work.pop_back();
    const auto id = node->isStorage ? writer->CreateStorage(parent, node->name)
                                    : writer->CreateStream(parent, node->name);
    const bool ok = id && describe(*node, *id) &&
                    (node->isStorage || writer->Write(*id, node->bytes.data(), node->bytes.size()));
    if (!ok) {
      ADD_FAILURE() << "the writer refused " << platform::Utf16ToUtf8(node->name);
      return {};
    }
    for (const Node& child : node->children) work.emplace_back(&child, *id);
  }
  if (!writer->Commit()) {
    ADD_FAILURE() << "the writer's Commit failed";
    return {};
  }
  return writer->Bytes();
}

Node ReadBack(const platform::CompoundFileReader& reader) {
  Node root = Root({});
  if (auto info = reader.Stat(platform::kRootElement)) {
    root.classId = info->classId;
    root.created = info->created;
    root.modified = info->modified;
  }
  std::vector<std::pair<Node*, ElementId>> work{{&root, platform::kRootElement}};
  while (!work.empty()) {
    auto [node, id] = work.back();
    work.pop_back();
    for (const platform::ElementInfo& info : reader.Children(id)) {
      Node child = info.isStorage ? Storage(info.name) : Stream(info.name, std::vector<std::uint8_t>());
      child.classId = info.classId;
      child.created = info.created;
      child.modified = info.modified;
      if (!info.isStorage) child.unreadable = !reader.ReadStream(info.id, child.bytes);
      node->children.push_back(std::move(child));
    }
    // The vector is complete now, so pointers into it stay valid.
    const auto infos = reader.Children(id);
    for (std::size_t i = 0; i < infos.size(); ++i)
      if (infos[i].isStorage) work.emplace_back(&node->children[i], infos[i].id);
  }
  return root;
}

namespace {
struct NameLess {
  bool operator()(const std::u16string& a, const std::u16string& b) const { return CompareNames(a, b) < 0; }
};
}  // namespace

std::vector<std::string> Differences(const Node& expected, const Node& actual) {
  std::vector<std::string> out;
  struct Pair {
    const Node* expected;
    const Node* actual;
    std::string path;
  };
  std::vector<Pair> work{{&expected, &actual, ""}};
  while (!work.empty()) {
    const Pair p = work.back();
    work.pop_back();
    const std::string at = p.path.empty() ? "the root" : p.path;
    if (p.expected->isStorage != p.actual->isStorage) {
      out.push_back(at + ": a storage on one side and a stream on the other");
      continue;
    }
    if (p.expected->classId != p.actual->classId) out.push_back(at + ": another class");
    if (p.expected->created != p.actual->created || p.expected->modified != p.actual->modified)
      out.push_back(at + ": other times");
    if (!p.expected->isStorage) {
      if (p.actual->unreadable) {
        out.push_back(at + ": unreadable");
      } else if (p.expected->bytes != p.actual->bytes) {
        std::size_t i = 0;
        while (i < p.expected->bytes.size() && i < p.actual->bytes.size() &&
               p.expected->bytes[i] == p.actual->bytes[i])
          ++i;
        out.push_back(at + ": " + std::to_string(p.actual->bytes.size()) + " bytes instead of " +
                      std::to_string(p.expected->bytes.size()) + ", first difference at " +
                      std::to_string(i));
      }
      continue;
    }
    std::map<std::u16string, std::size_t, NameLess> actualByName;
    for (std::size_t i = 0; i < p.actual->children.size(); ++i)
      actualByName.emplace(p.actual->children[i].name, i);
    std::vector<bool> matched(p.actual->children.size(), false);
    for (const Node& e : p.expected->children) {
      const std::string path = (p.path.empty() ? "" : p.path + "/") + platform::Utf16ToUtf8(e.name);
      const auto found = actualByName.find(e.name);
      if (found == actualByName.end()) {
        out.push_back(path + ": missing");
        continue;
      }
      const std::size_t i = found->second;
      if (p.actual->children[i].name != e.name) out.push_back(path + ": named " +
                                                              platform::Utf16ToUtf8(p.actual->children[i].name));
      matched[i] = true;
      work.push_back({&e, &p.actual->children[i], path});
    }
    for (std::size_t i = 0; i < matched.size(); ++i)
      if (!matched[i]) out.push_back(at + ": an extra element " + platform::Utf16ToUtf8(p.actual->children[i].name));
  }
  return out;
}

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wbx");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

ScratchDir::ScratchDir() {
  std::string pattern = platform::Utf16ToUtf8(platform::TempFolder()) + "cfb-test-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "cannot make a scratch folder from " << pattern;
    return;
  }
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

std::u16string ScratchDir::WideFile(std::string_view name) const {
  return platform::Utf8ToUtf16(File(name));
}

// --- reading ---------------------------------------------------------------

std::uint16_t Image::U16(std::size_t offset) const {
  return platform::ByteView(bytes_.data(), bytes_.size()).u16_at(offset).value_or(0);
}

std::uint32_t Image::U32(std::size_t offset) const {
  return platform::ByteView(bytes_.data(), bytes_.size()).u32_at(offset).value_or(0);
}

std::uint32_t Image::SectorCount() const {
  return bytes_.size() < kHeaderSize ? 0
                                     : static_cast<std::uint32_t>((bytes_.size() - kHeaderSize) / kSectorSize);
}

std::uint32_t Image::HeaderField(std::size_t offset) const { return U32(offset); }

std::vector<std::uint32_t> Image::DifatSectors() const {
  std::vector<std::uint32_t> out;
  std::set<std::uint32_t> seen;
  std::uint32_t s = HeaderField(kHdrFirstDifatSector);
  while (s < SectorCount() && seen.insert(s).second && out.size() < HeaderField(kHdrDifatSectorCount)) {
    out.push_back(s);
    s = U32(SectorOffset(s) + kFatSectorsPerDifatSector * 4);
  }
  return out;
}

std::vector<std::uint32_t> Image::FatSectors() const {
  const std::size_t count = HeaderField(kHdrFatSectorCount);
  std::vector<std::uint32_t> out;
  for (std::size_t i = 0; i < kHeaderDifatEntries && out.size() < count; ++i)
    out.push_back(U32(kHdrDifat + 4 * i));
  for (std::uint32_t d : DifatSectors())
    for (std::size_t i = 0; i < kFatSectorsPerDifatSector && out.size() < count; ++i)
      out.push_back(U32(SectorOffset(d) + 4 * i));
  return out;
}

std::uint32_t Image::FatEntry(std::uint32_t sector) const {
  const auto fat = FatSectors();
  const std::size_t index = sector / kEntriesPerFatSector;
  if (index >= fat.size() || fat[index] >= SectorCount()) return kFreeSector;
  return U32(SectorOffset(fat[index]) + 4 * (sector % kEntriesPerFatSector));
}

std::vector<std::uint32_t> Image::MiniStreamSectors() const {
  const EntryFields root = Entry(0);
  std::vector<std::uint32_t> chain = Chain(root.start);
  chain.resize(std::min<std::size_t>(chain.size(), (root.size + kSectorSize - 1) / kSectorSize));
  return chain;
}

std::uint32_t Image::MiniFatEntry(std::uint32_t miniSector) const {
  const auto sectors = MiniFatSectors();
  const std::size_t index = miniSector / kEntriesPerFatSector;
  if (index >= sectors.size()) return kFreeSector;
  return U32(SectorOffset(sectors[index]) + 4 * (miniSector % kEntriesPerFatSector));
}

std::vector<std::uint32_t> Image::ChainThrough(std::uint32_t start, bool mini) const {
  // Tables are read once; links beyond them end the chain.
  std::vector<std::uint32_t> table;
  if (mini) {
    for (std::uint32_t s : MiniFatSectors())
      for (std::size_t i = 0; i < kEntriesPerFatSector; ++i) table.push_back(U32(SectorOffset(s) + 4 * i));
  } else {
    for (std::uint32_t s : FatSectors())
      for (std::size_t i = 0; i < kEntriesPerFatSector; ++i)
        table.push_back(s < SectorCount() ? U32(SectorOffset(s) + 4 * i) : kFreeSector);
  }
  std::vector<std::uint32_t> out;
  std::vector<bool> seen(table.size(), false);
  for (std::uint32_t s = start; s < table.size() && !seen[s]; s = table[s]) {
    seen[s] = true;
    out.push_back(s);
  }
  return out;
}

std::vector<std::uint32_t> Image::Chain(std::uint32_t start) const { return ChainThrough(start, false); }
std::vector<std::uint32_t> Image::MiniChain(std::uint32_t start) const { return ChainThrough(start, true); }

std::vector<std::uint32_t> Image::DirectorySectors() const {
  return Chain(HeaderField(kHdrFirstDirSector));
}

std::vector<std::uint32_t> Image::MiniFatSectors() const {
  return Chain(HeaderField(kHdrFirstMiniFatSector));
}

std::uint32_t Image::EntryCount() const {
  return static_cast<std::uint32_t>(DirectorySectors().size() * kDirEntriesPerSector);
}

std::size_t Image::EntryOffsetIn(const std::vector<std::uint32_t>& dir, std::uint32_t entry) {
  if (entry / kDirEntriesPerSector >= dir.size()) {
    ADD_FAILURE() << "no directory entry " << entry;
    return SIZE_MAX - kDirEntrySize;  // outside any file: reads give 0, damage fails
  }
  return SectorOffset(dir[entry / kDirEntriesPerSector]) + (entry % kDirEntriesPerSector) * kDirEntrySize;
}

std::size_t Image::EntryOffset(std::uint32_t entry) const {
  return EntryOffsetIn(DirectorySectors(), entry);
}

EntryFields Image::Entry(std::uint32_t entry) const { return EntryIn(DirectorySectors(), entry); }

EntryFields Image::EntryIn(const std::vector<std::uint32_t>& dir, std::uint32_t entry) const {
  const std::size_t at = EntryOffsetIn(dir, entry);
  EntryFields e;
  e.nameLength = U16(at + kDirNameLength);
  for (std::size_t u = 0; u + 1 < std::min<std::size_t>(e.nameLength / 2, 33); ++u)
    e.name.push_back(static_cast<char16_t>(U16(at + kDirName + 2 * u)));
  e.type = static_cast<std::uint8_t>(U16(at + kDirType) & 0xFF);
  e.color = static_cast<std::uint8_t>(U16(at + kDirType) >> 8);
  e.left = U32(at + kDirLeftSibling);
  e.right = U32(at + kDirRightSibling);
  e.child = U32(at + kDirChild);
  for (std::size_t i = 0; i < e.classId.size(); ++i)
    e.classId[i] = at + kDirClassId + i < bytes_.size() ? bytes_[at + kDirClassId + i] : 0;
  e.created = U32(at + kDirCreated) | std::uint64_t{U32(at + kDirCreated + 4)} << 32;
  e.modified = U32(at + kDirModified) | std::uint64_t{U32(at + kDirModified + 4)} << 32;
  e.start = U32(at + kDirStartSector);
  e.size = U32(at + kDirSizeLow) | std::uint64_t{U32(at + kDirSizeHigh)} << 32;
  return e;
}

std::optional<std::uint32_t> Image::FindEntry(std::u16string_view path) const {
  const auto dir = DirectorySectors();
  const auto count = static_cast<std::uint32_t>(dir.size() * kDirEntriesPerSector);
  std::uint32_t current = 0;
  while (!path.empty()) {
    const std::size_t slash = path.find(u'/');
    const std::u16string_view name = path.substr(0, slash);
    path = slash == std::u16string_view::npos ? std::u16string_view() : path.substr(slash + 1);
    // Search the whole sibling tree: damage may have spoilt its order.
    std::optional<std::uint32_t> found;
    std::vector<std::uint32_t> stack{EntryIn(dir, current).child};
    std::vector<bool> seen(count, false);
    while (!stack.empty() && !found) {
      const std::uint32_t e = stack.back();
      stack.pop_back();
      if (e >= count || seen[e]) continue;
      seen[e] = true;
      const EntryFields f = EntryIn(dir, e);
      if (CompareNames(f.name, name) == 0) found = e;
      stack.push_back(f.left);
      stack.push_back(f.right);
    }
    if (!found) return std::nullopt;
    current = *found;
  }
  return current;
}

std::vector<std::uint32_t> Image::StreamChain(std::u16string_view path) const {
  const auto entry = FindEntry(path);
  if (!entry) {
    ADD_FAILURE() << "no element " << platform::Utf16ToUtf8(path);
    return {};
  }
  const EntryFields e = Entry(*entry);
  const bool mini = e.size < kMiniStreamCutoff;
  std::vector<std::uint32_t> chain = ChainThrough(e.start, mini);
  const std::size_t unit = mini ? kMiniSectorSize : kSectorSize;
  chain.resize(std::min<std::size_t>(chain.size(), (e.size + unit - 1) / unit));
  return chain;
}

std::vector<std::string> Image::TreeProblems() const {
  std::vector<std::string> problems;
  const auto dir = DirectorySectors();
  const auto count = static_cast<std::uint32_t>(dir.size() * kDirEntriesPerSector);
  std::vector<bool> seen(count, false);
  std::vector<std::uint32_t> storages{0};
  seen[0] = true;
  for (std::size_t next = 0; next < storages.size(); ++next) {
    const std::uint32_t top = EntryIn(dir, storages[next]).child;
    if (top == kNoEntry) continue;
    const std::string where = "in the storage of entry " + std::to_string(storages[next]) + ": ";
    if (top < count && EntryIn(dir, top).color != kBlack) problems.push_back(where + "a red top entry");
    // Depth first, counting black entries down to each empty link.
    struct Step {
      std::uint32_t entry;
      std::size_t blacks;
      bool parentRed;
    };
    std::vector<Step> work{{top, 0, false}};
    std::optional<std::size_t> blackHeight;
    std::vector<std::pair<std::uint32_t, std::size_t>> inOrder;  // entry, position
    while (!work.empty()) {
      const Step s = work.back();
      work.pop_back();
      if (s.entry == kNoEntry) {
        if (!blackHeight) blackHeight = s.blacks;
        if (*blackHeight != s.blacks) problems.push_back(where + "paths of different black counts");
        continue;
      }
      if (s.entry >= count || seen[s.entry]) {
        problems.push_back(where + "a link out of range or to an entry met before");
        continue;
      }
      seen[s.entry] = true;
      const EntryFields f = EntryIn(dir, s.entry);
      const bool red = f.color == kRed;
      if (red && s.parentRed) problems.push_back(where + "a red entry under a red entry");
      if (f.type == kTypeStorage) storages.push_back(s.entry);
      work.push_back({f.left, s.blacks + (red ? 0 : 1), red});
      work.push_back({f.right, s.blacks + (red ? 0 : 1), red});
    }
    // The order: an in-order walk must meet the names ascending.
    std::vector<std::uint32_t> stack;
    std::set<std::uint32_t> done;
    std::optional<std::u16string> previous;
    std::uint32_t at = top;
    while ((at != kNoEntry && at < count && !done.count(at)) || !stack.empty()) {
      while (at != kNoEntry && at < count && !done.count(at)) {
        done.insert(at);
        stack.push_back(at);
        at = EntryIn(dir, at).left;
      }
      if (stack.empty()) break;
      const EntryFields f = EntryIn(dir, stack.back());
      stack.pop_back();
      if (previous && CompareNames(*previous, f.name) >= 0)
        problems.push_back(where + "names out of order at " + platform::Utf16ToUtf8(f.name));
      previous = f.name;
      at = f.right;
    }
  }
  return problems;
}

// --- damaging --------------------------------------------------------------

bool Image::InRange(std::size_t offset, std::size_t length) const {
  if (offset <= bytes_.size() && length <= bytes_.size() - offset) return true;
  ADD_FAILURE() << "damage outside the file: " << length << " bytes at " << offset << " of "
                << bytes_.size();
  return false;
}

void Image::Zero(std::size_t offset, std::size_t length) {
  if (InRange(offset, length)) std::fill_n(bytes_.begin() + offset, length, 0);
}

void Image::Scramble(std::size_t offset, std::size_t length, std::uint32_t seed) {
  if (!InRange(offset, length)) return;
  const auto noise = Pattern(length, seed ^ 0x5A5A5A5Au);
  for (std::size_t i = 0; i < length; ++i) bytes_[offset + i] ^= noise[i] | 1;  // always changes
}

void Image::Put16(std::size_t offset, std::uint16_t value) {
  if (!InRange(offset, 2)) return;
  for (std::size_t i = 0; i < 2; ++i) bytes_[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void Image::Put32(std::size_t offset, std::uint32_t value) {
  if (!InRange(offset, 4)) return;
  for (std::size_t i = 0; i < 4; ++i) bytes_[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void Image::Put64(std::size_t offset, std::uint64_t value) {
  Put32(offset, static_cast<std::uint32_t>(value));
  Put32(offset + 4, static_cast<std::uint32_t>(value >> 32));
}

void Image::ZeroSector(std::uint32_t sector) { Zero(SectorOffset(sector), kSectorSize); }

void Image::ScrambleSector(std::uint32_t sector, std::uint32_t seed) {
  Scramble(SectorOffset(sector), kSectorSize, seed);
}

void Image::ZeroFatSector(std::size_t index) {
  const auto fat = FatSectors();
  if (index < fat.size()) ZeroSector(fat[index]);
  else ADD_FAILURE() << "no FAT sector " << index;
}

void Image::ScrambleFatSector(std::size_t index, std::uint32_t seed) {
  const auto fat = FatSectors();
  if (index < fat.size()) ScrambleSector(fat[index], seed);
  else ADD_FAILURE() << "no FAT sector " << index;
}

void Image::SetFatEntry(std::uint32_t sector, std::uint32_t value) {
  const auto fat = FatSectors();
  const std::size_t index = sector / kEntriesPerFatSector;
  if (index < fat.size()) Put32(SectorOffset(fat[index]) + 4 * (sector % kEntriesPerFatSector), value);
  else ADD_FAILURE() << "no FAT entry for sector " << sector;
}

void Image::SetMiniFatEntry(std::uint32_t miniSector, std::uint32_t value) {
  const auto sectors = MiniFatSectors();
  const std::size_t index = miniSector / kEntriesPerFatSector;
  if (index < sectors.size())
    Put32(SectorOffset(sectors[index]) + 4 * (miniSector % kEntriesPerFatSector), value);
  else ADD_FAILURE() << "no mini FAT entry for mini sector " << miniSector;
}

void Image::SetHeaderField(std::size_t offset, std::uint32_t value) {
  if (offset + 4 <= kHeaderSize) Put32(offset, value);
  else ADD_FAILURE() << "no header field at " << offset;
}

void Image::SetHeaderFatEntry(std::size_t index, std::uint32_t value) {
  if (index < kHeaderDifatEntries) Put32(kHdrDifat + 4 * index, value);
  else ADD_FAILURE() << "the header lists " << kHeaderDifatEntries << " FAT sectors, not " << index + 1;
}

void Image::ZeroDirectorySector(std::size_t index) {
  const auto dir = DirectorySectors();
  if (index < dir.size()) ZeroSector(dir[index]);
  else ADD_FAILURE() << "no directory sector " << index;
}

std::optional<std::size_t> Image::EntryToDamage(std::uint32_t entry) const {
  const auto dir = DirectorySectors();
  if (entry / kDirEntriesPerSector >= dir.size()) {
    ADD_FAILURE() << "no directory entry " << entry;
    return std::nullopt;
  }
  const std::size_t at = EntryOffsetIn(dir, entry);
  if (!InRange(at, kDirEntrySize)) return std::nullopt;
  return at;
}

void Image::SetEntryName(std::uint32_t entry, std::u16string_view name) {
  const auto at = EntryToDamage(entry);
  if (!at) return;
  Zero(*at + kDirName, 2 * (kMaxNameUnits + 1));
  const std::size_t units = std::min(name.size(), kMaxNameUnits + 1);
  for (std::size_t u = 0; u < units; ++u) Put16(*at + kDirName + 2 * u, name[u]);
  Put16(*at + kDirNameLength, static_cast<std::uint16_t>(2 * (std::min(name.size(), kMaxNameUnits) + 1)));
}

void Image::ScrambleEntryName(std::uint32_t entry, std::uint32_t seed) {
  if (const auto at = EntryToDamage(entry)) Scramble(*at + kDirName, 2 * (kMaxNameUnits + 1), seed);
}

void Image::SetEntryType(std::uint32_t entry, std::uint8_t type) {
  if (const auto at = EntryToDamage(entry)) bytes_[*at + kDirType] = type;
}

void Image::SetEntrySize(std::uint32_t entry, std::uint64_t size) {
  if (const auto at = EntryToDamage(entry)) Put64(*at + kDirSizeLow, size);
}

void Image::SetEntryStart(std::uint32_t entry, std::uint32_t sector) {
  if (const auto at = EntryToDamage(entry)) Put32(*at + kDirStartSector, sector);
}

void Image::SetEntryLinks(std::uint32_t entry, std::uint32_t left, std::uint32_t right,
                          std::uint32_t child) {
  const auto at = EntryToDamage(entry);
  if (!at) return;
  if (left != kKeep) Put32(*at + kDirLeftSibling, left);
  if (right != kKeep) Put32(*at + kDirRightSibling, right);
  if (child != kKeep) Put32(*at + kDirChild, child);
}

void Image::Truncate(std::size_t size) {
  if (size <= bytes_.size()) bytes_.resize(size);
  else ADD_FAILURE() << "cannot truncate " << bytes_.size() << " bytes to " << size;
}

}  // namespace fixture
