// Our own structured storage: compound files (version 3, 512-byte sectors)
// written and read by element name. The writer streams large stream data to
// the file as it comes; the reader never reads outside the file, whatever
// its header and tables claim, and fails cleanly on a malformed file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Files.h"

namespace platform {

using ClassId = std::array<std::uint8_t, 16>;

// An element (storage or stream) of one writer or reader; 0 is the root.
using ElementId = std::uint32_t;
constexpr ElementId kRootElement = 0;

class CompoundFileWriter {
 public:
  // A new file at path, created exclusively (an existing file or a symbolic
  // link there makes it fail). Nothing is left behind if Commit is never
  // reached or fails.
  static std::unique_ptr<CompoundFileWriter> Create(std::u16string_view path,
                                                    FileError* error = nullptr);
  // A file built in memory; Bytes() holds it after Commit.
  static std::unique_ptr<CompoundFileWriter> CreateInMemory();

  virtual ~CompoundFileWriter() = default;

  // Names are at most 31 UTF-16 units and unique within their storage,
  // compared as the format compares them (case-insensitively, see
  // cfb::CompareNames); a name that is empty, too long, taken, or holds a
  // zero unit or one of '/', '\\', ':', '!' gives nothing. Element ids are
  // handed out in creation order and become the directory entry numbers.
  virtual std::optional<ElementId> CreateStorage(ElementId parent, std::u16string_view name) = 0;
  virtual std::optional<ElementId> CreateStream(ElementId parent, std::u16string_view name) = 0;
  // Classes and times belong to storages, the root included; the format
  // keeps none for a stream, so on a stream these fail.
  virtual bool SetClass(ElementId element, const ClassId& id) = 0;
  // Times are 64-bit FILETIME values (100 ns since 1601-01-01 UTC).
  virtual bool SetElementTimes(ElementId element, std::uint64_t created,
                               std::uint64_t modified) = 0;
  // Appends to a stream; the whole file may not exceed 2 GB (a write that
  // would pass it fails and changes nothing). After a failed write to the
  // file itself the writer is unusable and Commit fails.
  virtual bool Write(ElementId stream, const void* data, std::size_t size) = 0;
  // Writes the tables and the directory and closes the file. Once only;
  // after it nothing can be added.
  virtual bool Commit() = 0;
  virtual const std::vector<std::uint8_t>& Bytes() const = 0;
};

struct ElementInfo {
  std::u16string name;
  bool isStorage = false;
  ElementId id = 0;
  ClassId classId{};
  std::uint64_t created = 0;
  std::uint64_t modified = 0;
  std::uint64_t size = 0;  // streams only; 0 for storages
};

class CompoundFileReader {
 public:
  // Null when the file cannot be read or is not a well-formed compound file:
  // a bad header, a broken FAT, DIFAT, directory, mini FAT or mini stream
  // chain, or a directory tree with a cycle, a link out of range, an entry
  // of the wrong type or a name twice in one storage. A stream whose own
  // chain is broken does not make the file malformed: it is listed, and
  // ReadStream fails for it. Files up to 2 GB.
  static std::unique_ptr<CompoundFileReader> Open(std::u16string_view path);
  static std::unique_ptr<CompoundFileReader> FromBytes(std::vector<std::uint8_t> bytes);

  virtual ~CompoundFileReader() = default;

  // Look-ups by name within a storage, case-insensitively (logarithmic in
  // the number of children). Children come in the directory's name order.
  virtual std::optional<ElementId> OpenStorage(ElementId parent, std::u16string_view name) const = 0;
  virtual std::optional<ElementId> OpenStream(ElementId parent, std::u16string_view name) const = 0;
  virtual std::optional<ElementInfo> Stat(ElementId element) const = 0;
  virtual std::vector<ElementInfo> Children(ElementId storage) const = 0;
  // The whole stream; false if its chain is broken or leaves the file.
  virtual bool ReadStream(ElementId stream, std::vector<std::uint8_t>& out) const = 0;
};

}  // namespace platform
