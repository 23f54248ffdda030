// Compound files for tests, built in memory from a tree description with
// the library's own writer, and the means to find and damage their parts.
//
//   auto bytes = fixture::Build(fixture::Root({
//       fixture::Stream(u"\1CompObj", fixture::Pattern(80, 1)),
//       fixture::Storage(u"   1", {fixture::Stream(u"Props", "text")}),
//   }));
//   fixture::Image image(bytes);
//   image.SetEntryLinks(*image.FindEntry(u"   1/Props"), 1, fixture::kKeep, fixture::kKeep);
//
// Element paths name storages and streams from the root, separated by '/'
// ("" is the root itself). Image reads the structures from the header and
// tables as they are at the moment of asking, so damage done earlier is
// seen; its walks stop at repeats and out-of-range links. Damage helpers
// that are asked to touch bytes outside the file fail the current test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/CompoundFile.h"
#include "platform/CompoundFileFormat.h"

namespace fixture {

// One element of the file to build.
struct Node {
  std::u16string name;
  bool isStorage = false;
  std::vector<std::uint8_t> bytes;  // a stream's content
  platform::ClassId classId{};      // storages only
  std::uint64_t created = 0;        // storages only
  std::uint64_t modified = 0;
  std::vector<Node> children;       // a storage's elements, in any order
  bool unreadable = false;          // set by ReadBack for a stream it could not read

  Node WithClass(const platform::ClassId& id) &&;
  Node WithTimes(std::uint64_t createdTime, std::uint64_t modifiedTime) &&;
};

Node Stream(std::u16string name, std::vector<std::uint8_t> bytes);
Node Stream(std::u16string name, std::string_view text);
Node Storage(std::u16string name, std::vector<Node> children = {});
// The root storage (its name is the format's, whatever is given here).
Node Root(std::vector<Node> children);

// size bytes that differ from stream to stream (by seed) and from one
// position to the next, so that a misplaced sector shows.
std::vector<std::uint8_t> Pattern(std::size_t size, std::uint32_t seed);
// Writes value little-endian at bytes[at].
inline void Put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
platform::ClassId MakeClassId(std::uint8_t seed);

// The file the writer makes of root; empty, with a test failure, when the
// writer refuses something in it.
std::vector<std::uint8_t> Build(const Node& root);

// Everything a reader holds, as a tree (children in the reader's order).
Node ReadBack(const platform::CompoundFileReader& reader);
// How actual differs from expected: names, kinds, contents, classes and
// times, with children matched by name; empty when they agree.
std::vector<std::string> Differences(const Node& expected, const Node& actual);

// Writes bytes to a new file; false when it cannot.
bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

// A fresh folder for a test's files, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }
  std::u16string WideFile(std::string_view name) const;

 private:
  std::string path_;
};

// Pass as a link to SetEntryLinks to leave it as it is.
constexpr std::uint32_t kKeep = 0xFFFFFFF0;

// The fields of one directory entry as they stand in the bytes.
struct EntryFields {
  std::u16string name;  // as many units as the length field says, at most 32
  std::uint16_t nameLength = 0;
  std::uint8_t type = 0;
  std::uint8_t color = 0;
  std::uint32_t left = platform::cfb::kNoEntry;
  std::uint32_t right = platform::cfb::kNoEntry;
  std::uint32_t child = platform::cfb::kNoEntry;
  platform::ClassId classId{};
  std::uint64_t created = 0;
  std::uint64_t modified = 0;
  std::uint32_t start = 0;
  std::uint64_t size = 0;  // both halves
};

class Image {
 public:
  explicit Image(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  static Image Of(const Node& root) { return Image(Build(root)); }

  const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  std::vector<std::uint8_t>& bytes() { return bytes_; }

  // Layout.
  std::uint32_t SectorCount() const;  // whole sectors after the header
  static std::size_t SectorOffset(std::uint32_t sector) {
    return static_cast<std::size_t>(platform::cfb::SectorOffset(sector));
  }
  std::uint32_t HeaderField(std::size_t offset) const;  // a u32 of the header
  // FAT sectors in table order: the header's list, then the DIFAT chain's.
  std::vector<std::uint32_t> FatSectors() const;
  std::vector<std::uint32_t> DifatSectors() const;
  // The FAT's entry for sector (kFreeSector when no FAT sector holds it).
  std::uint32_t FatEntry(std::uint32_t sector) const;
  // The chain from start through the FAT, or through the mini FAT.
  std::vector<std::uint32_t> Chain(std::uint32_t start) const;
  std::vector<std::uint32_t> MiniChain(std::uint32_t start) const;
  std::vector<std::uint32_t> DirectorySectors() const;
  std::vector<std::uint32_t> MiniFatSectors() const;
  std::vector<std::uint32_t> MiniStreamSectors() const;
  std::uint32_t MiniFatEntry(std::uint32_t miniSector) const;

  // Directory entries.
  std::uint32_t EntryCount() const;
  std::size_t EntryOffset(std::uint32_t entry) const;
  EntryFields Entry(std::uint32_t entry) const;
  std::optional<std::uint32_t> FindEntry(std::u16string_view path) const;
  // The sectors of a stream: mini sectors when it lives in the mini stream.
  std::vector<std::uint32_t> StreamChain(std::u16string_view path) const;
  // What is wrong with the sibling trees as red-black search trees in the
  // directory's name order; empty when nothing is.
  std::vector<std::string> TreeProblems() const;

  // Damage: sectors.
  void ZeroSector(std::uint32_t sector);
  void ScrambleSector(std::uint32_t sector, std::uint32_t seed);
  // Damage: allocation tables. index counts FAT sectors in table order.
  void ZeroFatSector(std::size_t index);
  void ScrambleFatSector(std::size_t index, std::uint32_t seed);
  void SetFatEntry(std::uint32_t sector, std::uint32_t value);
  void SetMiniFatEntry(std::uint32_t miniSector, std::uint32_t value);
  // Damage: the header.
  void SetHeaderField(std::size_t offset, std::uint32_t value);
  void SetHeaderFatEntry(std::size_t index, std::uint32_t value);  // one of the 109
  // Damage: the directory. index counts directory sectors in chain order.
  void ZeroDirectorySector(std::size_t index);
  void SetEntryName(std::uint32_t entry, std::u16string_view name);  // also sets its length
  void ScrambleEntryName(std::uint32_t entry, std::uint32_t seed);
  void SetEntryType(std::uint32_t entry, std::uint8_t type);
  void SetEntrySize(std::uint32_t entry, std::uint64_t size);
  void SetEntryStart(std::uint32_t entry, std::uint32_t sector);
  void SetEntryLinks(std::uint32_t entry, std::uint32_t left, std::uint32_t right, std::uint32_t child);
  // Damage: the whole.
  void Truncate(std::size_t size);

  // Raw access, little-endian; outside the bytes reads give 0.
  std::uint16_t U16(std::size_t offset) const;
  std::uint32_t U32(std::size_t offset) const;
  void Put16(std::size_t offset, std::uint16_t value);
  void Put32(std::size_t offset, std::uint32_t value);
  void Put64(std::size_t offset, std::uint64_t value);

 private:
  std::vector<std::uint32_t> ChainThrough(std::uint32_t start, bool mini) const;
  // Entry and EntryOffset with the directory's sectors found beforehand.
  static std::size_t EntryOffsetIn(const std::vector<std::uint32_t>& dir, std::uint32_t entry);
  EntryFields EntryIn(const std::vector<std::uint32_t>& dir, std::uint32_t entry) const;
  void Scramble(std::size_t offset, std::size_t length, std::uint32_t seed);
  void Zero(std::size_t offset, std::size_t length);
  bool InRange(std::size_t offset, std::size_t length) const;
  // Where entry lies, for damaging it; nothing (and a test failure) when
  // the directory has no such entry.
  std::optional<std::size_t> EntryToDamage(std::uint32_t entry) const;

  std::vector<std::uint8_t> bytes_;
};

}  // namespace fixture
