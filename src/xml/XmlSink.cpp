#include "xml/XmlSink.h"

#include <utility>

namespace xml {

BufferedFileSink::BufferedFileSink(platform::File file) : file_(std::move(file)) {
  buffer_.reserve(kBufferSize);
  if (!file_.IsOpen()) failed_ = true;
}

BufferedFileSink::~BufferedFileSink() { Close(); }

void BufferedFileSink::Write(std::string_view bytes) {
  if (failed_) return;
  if (buffer_.size() + bytes.size() > kBufferSize) {
    if (!Flush()) return;
    if (bytes.size() >= kBufferSize) {
      if (!file_.WriteAll(bytes.data(), bytes.size())) failed_ = true;
      return;
    }
  }
  buffer_.append(bytes);
}

bool BufferedFileSink::Flush() {
  if (!failed_ && !buffer_.empty() && !file_.WriteAll(buffer_.data(), buffer_.size())) failed_ = true;
  buffer_.clear();
  return !failed_;
}

bool BufferedFileSink::Close() {
  const bool ok = Flush();
  file_.Close();
  return ok;
}

}  // namespace xml
