// Files as the library needs them. Paths are wide texts, as they cross the
// exported interface; they reach the operating system as UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

std::string NativePath(std::u16string_view path);

enum class FileError { None, NotFound, AccessDenied, Exists, Other };

// An open file descriptor, closed when the object goes.
class File {
 public:
  File() = default;
  explicit File(int fd) : fd_(fd) {}
  File(File&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() { Close(); }

  bool IsOpen() const { return fd_ >= 0; }
  int Descriptor() const { return fd_; }
  void Close();

  std::optional<std::uint64_t> Size() const;
  // Writes all of data; false on any failure.
  bool WriteAll(const void* data, std::size_t size);
  // Reads up to size bytes at the current position; the count read, or -1.
  long long Read(void* data, std::size_t size);

 private:
  int fd_ = -1;
};

// Opens an existing file for reading; a folder is refused as access denied.
File OpenForReading(std::u16string_view path, FileError* error = nullptr);
// Creates a file that must not exist yet, for reading and writing. A symbolic
// link in its place counts as an existing file and is never followed.
File CreateNew(std::u16string_view path, FileError* error = nullptr);
// Opens for appending, creating it if missing, or creates it empty.
File OpenForAppend(std::u16string_view path, bool truncate);

bool DeleteFile(std::u16string_view path);
bool Exists(std::u16string_view path);
bool IsFolder(std::u16string_view path);
std::optional<std::uint64_t> FileSize(std::u16string_view path);
bool ReadWholeFile(std::u16string_view path, std::vector<std::uint8_t>& bytes);
// Copies source to a new file at target (which must not exist).
bool CopyToNewFile(std::u16string_view source, std::u16string_view target);
// Moves source to target, which must not exist; copies across file systems.
bool MoveToNewFile(std::u16string_view source, std::u16string_view target);

}  // namespace platform
