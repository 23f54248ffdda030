#include "xml/XmlSink.h"

#include <cerrno>
#include <utility>

namespace xml {

BufferedFileSink::BufferedFileSink(platform::File file) : file_(std::move(file)) {
  buffer_.reserve(kBufferSize);
  if (!file_.IsOpen()) {
    failed_ = true;
    errorNumber_ = EBADF;
  }
}

BufferedFileSink::~BufferedFileSink() { Close(); }

void BufferedFileSink::Write(std::string_view bytes) {
  if (failed_) return;
  if (buffer_.size() + bytes.size() > kBufferSize) {
    if (!Flush()) return;
    if (bytes.size() >= kBufferSize) {
      Put(bytes.data(), bytes.size());
      return;
    }
  }
  buffer_.append(bytes);
}

bool BufferedFileSink::Flush() {
  if (!failed_ && !buffer_.empty()) Put(buffer_.data(), buffer_.size());
  buffer_.clear();
  return !failed_;
}

bool BufferedFileSink::Put(const char* data, std::size_t size) {
  if (file_.WriteAll(data, size)) {
    written_ += size;
    return true;
  }
  failed_ = true;
  errorNumber_ = platform::LastErrorNumber();
  return false;
}

bool BufferedFileSink::Close() {
  const bool ok = Flush();
  file_.Close();
  return ok;
}

}  // namespace xml
