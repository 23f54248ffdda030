// Where the XML writer's bytes go: one write primitive under the element
// writer, so that the writer can be tested in memory and the file is written
// in large blocks rather than one system call per line.
#pragma once

#include <cstddef>
#include <cstdint>
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
  // The system's error number of the first failed write; 0 when none.
  virtual int ErrorNumber() const { return 0; }
  // Bytes handed on to the destination so far.
  virtual std::uint64_t BytesWritten() const { return 0; }
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
  int ErrorNumber() const override { return errorNumber_; }
  std::uint64_t BytesWritten() const override { return written_; }

 private:
  bool Put(const char* data, std::size_t size);

  platform::File file_;
  std::string buffer_;
  bool failed_ = false;
  int errorNumber_ = 0;
  std::uint64_t written_ = 0;
};

}  // namespace xml
