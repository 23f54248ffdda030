#include "platform/Files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Text.h"

namespace platform {
namespace {

thread_local int lastError = 0;

int Failed(int err) {
  lastError = err;
  return err;
}

FileError FromErrno(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return FileError::NotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return FileError::AccessDenied;
    case EEXIST:
    case ELOOP:  // a symbolic link where a new file should go
      return FileError::Exists;
    default:
      return FileError::Other;
  }
}

File OpenWith(std::u16string_view path, int flags, FileError* error) {
  int fd;
  do {
    fd = ::open(NativePath(path).c_str(), flags | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) Failed(errno);
  if (error) *error = fd < 0 ? FromErrno(errno) : FileError::None;
  return File(fd);
}

}  // namespace

std::string NativePath(std::u16string_view path) { return PathToBytes(path); }

int LastErrorNumber() { return lastError; }
void ClearLastError() { lastError = 0; }

std::string ErrorText(int errorNumber) {
  char buffer[256];
  // The GNU form returns the text, which need not be in the buffer.
  return ::strerror_r(errorNumber, buffer, sizeof buffer);
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

void File::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::optional<std::uint64_t> File::Size() const {
  struct stat st;
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

bool File::Sync() {
  if (fd_ < 0) return false;
  if (::fsync(fd_) == 0) return true;
  Failed(errno);
  return false;
}

bool File::WriteAll(const void* data, std::size_t size) {
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::write(fd_, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Failed(errno);
    if (n == 0) Failed(ENOSPC);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

long long File::Read(void* data, std::size_t size) {
  ssize_t n;
  do {
    n = ::read(fd_, data, size);
  } while (n < 0 && errno == EINTR);
  return n;
}

File OpenForReading(std::u16string_view path, FileError* error) {
  File file = OpenWith(path, O_RDONLY, error);
  // A folder opens here as well, but it is no file to read.
  struct stat st;
  if (file.IsOpen() && ::fstat(file.Descriptor(), &st) == 0 && S_ISDIR(st.st_mode)) {
    if (error) *error = FileError::AccessDenied;
    Failed(EISDIR);
    return File();
  }
  return file;
}

File CreateNew(std::u16string_view path, FileError* error) {
  return OpenWith(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, error);
}

File OpenForAppend(std::u16string_view path, bool truncate) {
  // A symbolic link in the log's place is refused, not followed.
  return OpenWith(path, O_WRONLY | O_CREAT | O_NOFOLLOW | (truncate ? O_TRUNC : O_APPEND), nullptr);
}

bool DeleteFile(std::u16string_view path) { return ::unlink(NativePath(path).c_str()) == 0; }

bool NameTaken(std::u16string_view path) {
  struct stat st;
  return ::lstat(NativePath(path).c_str(), &st) == 0;
}

int CheckWritableFolder(std::u16string_view path) {
  const std::string native = NativePath(path);
  struct stat st;
  if (::stat(native.c_str(), &st) != 0) return Failed(errno);
  if (!S_ISDIR(st.st_mode)) return Failed(ENOTDIR);
  if (::access(native.c_str(), W_OK | X_OK) != 0) return Failed(errno);
  return 0;
}

int PlaceNewFile(std::u16string_view source, std::u16string_view target) {
  const std::string from = NativePath(source), to = NativePath(target);
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return Failed(errno);
  // A file system without an exclusive rename: link() never replaces either.
  if (::link(from.c_str(), to.c_str()) != 0) return Failed(errno);
  ::unlink(from.c_str());
  return 0;
}

int ReplaceFile(std::u16string_view source, std::u16string_view target) {
  if (::rename(NativePath(source).c_str(), NativePath(target).c_str()) != 0) return Failed(errno);
  return 0;
}

int SyncFile(std::u16string_view path) {
  File file = OpenWith(path, O_RDONLY | O_NOFOLLOW, nullptr);
  if (!file.IsOpen()) return lastError;
  return file.Sync() ? 0 : lastError;
}

int SyncFolder(std::u16string_view path) {
  File folder = OpenWith(path, O_RDONLY | O_DIRECTORY, nullptr);
  if (!folder.IsOpen()) return lastError;
  return folder.Sync() ? 0 : lastError;
}

namespace {
// Formatted beforehand, so that the signal handler only reads them.
char pendingNames[kPendingSlots][PATH_MAX];
volatile sig_atomic_t pendingSet[kPendingSlots];
}  // namespace

void SetPendingFile(int slot, std::u16string_view path) {
  if (slot < 0 || slot >= kPendingSlots) return;
  pendingSet[slot] = 0;
  const std::string native = NativePath(path);
  if (native.empty() || native.size() >= PATH_MAX) return;
  std::memcpy(pendingNames[slot], native.c_str(), native.size() + 1);
  pendingSet[slot] = 1;
}

void DiscardPendingFiles() {
  for (int slot = 0; slot < kPendingSlots; ++slot) {
    if (!pendingSet[slot]) continue;
    pendingSet[slot] = 0;
    ::unlink(pendingNames[slot]);
  }
}

bool IsFolder(std::u16string_view path) {
  struct stat st;
  return ::stat(NativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<std::uint64_t> FileSize(std::u16string_view path) {
  File f = OpenForReading(path);
  return f.IsOpen() ? f.Size() : std::nullopt;
}

bool ReadWholeFile(std::u16string_view path, std::vector<std::uint8_t>& bytes) {
  File f = OpenForReading(path);
  if (!f.IsOpen()) return false;
  auto size = f.Size();
  if (!size) return false;
  bytes.clear();
  bytes.resize(static_cast<std::size_t>(*size));
  std::size_t done = 0;
  while (done < bytes.size()) {
    long long n = f.Read(bytes.data() + done, bytes.size() - done);
    if (n < 0) return false;
    if (n == 0) break;  // the file shrank while we read it
    done += static_cast<std::size_t>(n);
  }
  bytes.resize(done);
  return true;
}

bool CopyToNewFile(std::u16string_view source, std::u16string_view target) {
  File in = OpenForReading(source);
  if (!in.IsOpen()) return false;
  File out = CreateNew(target);
  if (!out.IsOpen()) return false;
  std::vector<char> buffer(1 << 20);
  for (;;) {
    long long n = in.Read(buffer.data(), buffer.size());
    if (n < 0) break;
    if (n == 0) return true;
    if (!out.WriteAll(buffer.data(), static_cast<std::size_t>(n))) break;
  }
  out.Close();
  DeleteFile(target);
  return false;
}

bool MoveToNewFile(std::u16string_view source, std::u16string_view target) {
  // link() never replaces an existing target.
  if (::link(NativePath(source).c_str(), NativePath(target).c_str()) == 0) {
    DeleteFile(source);
    return true;
  }
  if (errno == EEXIST || !CopyToNewFile(source, target)) return false;
  DeleteFile(source);
  return true;
}

}  // namespace platform
