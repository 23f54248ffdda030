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

// The system's bytes of a path (see PathToBytes).
std::string NativePath(std::u16string_view path);
// The system's error number of the last file operation of this thread that
// failed, and its text ("No such file or directory").
int LastErrorNumber();
void ClearLastError();
std::string ErrorText(int errorNumber);

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
  // Flushes the file's data to the disk; false when the system cannot.
  bool Sync();
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
// Opens for appending, creating it if missing, or creates it empty; a
// symbolic link in its place is not followed.
File OpenForAppend(std::u16string_view path, bool truncate);

bool DeleteFile(std::u16string_view path);
// Whether anything (a symbolic link too, even a dangling one) has this name.
bool NameTaken(std::u16string_view path);
// 0 when path is a folder in which files can be created, else the system's
// error number (ENOTDIR when it is no folder).
int CheckWritableFolder(std::u16string_view path);
// Gives the finished file source the name target, which must not be taken:
// never over an existing file. 0, or the system's error number (EEXIST when
// the name is taken).
int PlaceNewFile(std::u16string_view source, std::u16string_view target);
// Gives source the name target, replacing what is there (a symbolic link is
// replaced, never followed). 0 or the system's error number.
int ReplaceFile(std::u16string_view source, std::u16string_view target);
// Flushes a file's data, and a folder's entries, to the disk: 0 or the
// system's error number.
int SyncFile(std::u16string_view path);
int SyncFolder(std::u16string_view path);

// Files a run leaves behind if the process is stopped: at most kPendingSlots
// names, removed by DiscardPendingFiles, which a signal handler may call (it
// only unlinks names formatted beforehand). Setting an empty name clears a slot.
inline constexpr int kPendingSlots = 4;
void SetPendingFile(int slot, std::u16string_view path);
void DiscardPendingFiles();
bool IsFolder(std::u16string_view path);
std::optional<std::uint64_t> FileSize(std::u16string_view path);
bool ReadWholeFile(std::u16string_view path, std::vector<std::uint8_t>& bytes);
// Copies source to a new file at target (which must not exist).
bool CopyToNewFile(std::u16string_view source, std::u16string_view target);
// Moves source to target, which must not exist; copies across file systems.
bool MoveToNewFile(std::u16string_view source, std::u16string_view target);

}  // namespace platform
