#include "platform/Files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Text.h"

namespace platform {
namespace {

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
  if (error) *error = fd < 0 ? FromErrno(errno) : FileError::None;
  return File(fd);
}

}  // namespace

std::string NativePath(std::u16string_view path) { return Utf16ToUtf8(path); }

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

bool File::WriteAll(const void* data, std::size_t size) {
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::write(fd_, p, size);
    if (n < 0 && errno == EINTR) continue;
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
    return File();
  }
  return file;
}

File CreateNew(std::u16string_view path, FileError* error) {
  return OpenWith(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, error);
}

File OpenForAppend(std::u16string_view path, bool truncate) {
  return OpenWith(path, O_WRONLY | O_CREAT | (truncate ? O_TRUNC : O_APPEND), nullptr);
}

bool DeleteFile(std::u16string_view path) { return ::unlink(NativePath(path).c_str()) == 0; }

bool Exists(std::u16string_view path) {
  struct stat st;
  return ::stat(NativePath(path).c_str(), &st) == 0;
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
