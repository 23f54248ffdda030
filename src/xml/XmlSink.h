// Where the XML writer's bytes go: one write primitive under the element
// writer, so that the writer can be tested in memory and the file is written
// in large blocks rather than one system call per line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/Files.h"

namespace xml {

class XmlSink {
 public:
  virtual ~XmlSink() = default;
  virtual void Write(std::string_view bytes) = 0;
  // Hands buffered bytes on; false once any write has failed.
  virtual bool Flush() = 0;
  // Flushes and lets go of the destination; false when anything was lost.
  virtual bool Close() = 0;
  // True while every byte handed over so far has been (or can still be) written.
  virtual bool Healthy() const = 0;
};

// Collects everything in memory.
class StringSink : public XmlSink {
 public:
  void Write(std::string_view bytes) override { text_.append(bytes); }
  bool Flush() override { return true; }
  bool Close() override { return true; }
  bool Healthy() const override { return true; }
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

// Writes to an open file through a fixed buffer. After the first failed
// write the rest is dropped and the sink stays unhealthy.
class BufferedFileSink : public XmlSink {
 public:
  static constexpr std::size_t kBufferSize = 64 * 1024;

  explicit BufferedFileSink(platform::File file);
  ~BufferedFileSink() override;
  BufferedFileSink(const BufferedFileSink&) = delete;
  BufferedFileSink& operator=(const BufferedFileSink&) = delete;

  void Write(std::string_view bytes) override;
  bool Flush() override;
  bool Close() override;
  bool Healthy() const override { return !failed_; }

 private:
  platform::File file_;
  std::string buffer_;
  bool failed_ = false;
};

}  // namespace xml
