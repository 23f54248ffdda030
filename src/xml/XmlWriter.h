// The Project XML writer: the output file, the one line primitive every
// element goes through (Write_hXML: one element or tag per line, indented by
// tabs to its nesting depth), and the value writers that turn the model's
// day numbers, packed dates, durations, numbers, wide strings and rich-text
// notes into the document's text forms. A generator owns one writer and
// writes through nothing else.
//
// Whatever the model holds, the document stays well-formed UTF-8: values
// are cleaned of characters XML forbids, markup in a value goes into CDATA
// sections (split around "]]>"), and the pre-escaped values of "Name"
// elements have stray '&', '<' and '>' escaped.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "base/Result.h"
#include "base/RunContext.h"
#include "platform/ByteView.h"
#include "xml/XmlSink.h"

namespace xml {

// A PackedDate: day number in the high 16 bits, time of day in tenths of a
// minute in the low 16 bits; kNoDate means no date.
using PackedDate = std::uint32_t;
inline constexpr PackedDate kNoDate = 0xFFFFFFFF;

class XmlWriter {
 public:
  // Longest output path accepted, in bytes of the system's path (PATH_MAX
  // less its terminating zero).
  static constexpr std::size_t kMaxOutputPath = 4095;
  // Results beyond 0.
  static constexpr std::int32_t kOpenFailed = -5;
  static constexpr std::int32_t kNothingWritten = -3;
  static constexpr std::int32_t kCancelled = ::kCancelled;

  // Opens the XML file at outputPath; the result is kept in OpenResult(). Throws the
  // integer 2 when the output path is longer than kMaxOutputPath. A file
  // that cannot be created, or a write that fails, is also noted for the
  // run (RunContext::NoteOutputError) with the system's reason. The run's
  // log, settings and cancel byte come from ctx.
  XmlWriter(RunContext& ctx, std::u16string_view outputPath);
  // Writes into the given sink instead of a file; the open result is 0.
  XmlWriter(RunContext& ctx, std::unique_ptr<XmlSink> sink);
  virtual ~XmlWriter();
  XmlWriter(const XmlWriter&) = delete;
  XmlWriter& operator=(const XmlWriter&) = delete;

  // Creates path, which must not exist yet (an existing file is never
  // overwritten): 0, or kOpenFailed.
  std::int32_t OpenXMLFile(std::u16string_view path);
  // Flushes and closes the output; harmless when already closed. 0, or
  // kOpenFailed when the file was never opened or a write failed.
  std::int32_t CloseXMLFile();

  std::int32_t OpenResult() const { return openResult_; }
  // 0 while the file opened and every write so far succeeded, else kOpenFailed.
  std::int32_t Status() const;
  const std::u16string& XmlPath() const { return xmlPath_; }
  // Per-line log lines of Write_hXML (a file's writer takes the host's
  // setting, a sink's writer starts with them on).
  void SetLineLogging(bool on) { lineLogging_ = on; }

  // One line: "<open>" value "</close>", each part optional. An open tag
  // alone opens a container (unless it ends in '/'), a close tag alone closes
  // one. Returns 0, or kCancelled (nothing written, file closed) when the
  // host has asked to stop.
  std::int32_t Write_hXML(const char* openTag, const char* value, const char* closeTag);

  // Complete elements; each returns 0 or kCancelled unless stated.
  std::int32_t WriteFloatXML(const char* tag, float value);
  std::int32_t WriteRawXML(const char* tag, const char* text);
  // "PT<h>H<m>M<s>S" from tenths of a minute.
  std::int32_t WriteDurationSecXML(const char* tag, std::uint32_t tenths);
  // "hh:mm:00" from a time of day in tenths of a minute.
  std::int32_t WriteTimeXML(const char* tag, std::uint16_t tenths);
  // kNoDate writes nothing and gives kNothingWritten.
  std::int32_t WriteDateTime14XML(const char* tag, PackedDate value);

  // A wide string up to its first zero unit (or the end of the buffer),
  // converted to UTF-8. A null buffer writes "UnknownName". Characters below
  // 32 are replaced by '!' in the buffer itself.
  std::int32_t WriteNameXML(const char* tag, std::span<char16_t> value);
  // Rich-text notes (up to their first zero byte) as plain text in a CDATA
  // section, line ends as '!'. Returns 1, writing nothing, when the notes
  // cannot be read.
  std::int32_t WriteNotesXML(const char* tag, platform::ByteView notes);

  // Text forms without an element.
  // A number rounded to single precision, "%0.2f" without trailing zeros
  // ("12.5", "3", "0"); "0" for texts over 16 characters and non-finite values.
  static std::string FormatTrimmedFloat(double value);
  // Tenths of a minute since the start of baseYear (day 1 is January 1) as
  // "YYYY-MM-DDThh:mm:ss".
  static std::string FormatMinutesDateTime(std::uint32_t tenths, int baseYear = 1984);
  // "YYYY-MM-DD" of a day number.
  static std::string FormatDate(std::uint32_t dayNumber);
  // "YYYY-MM-DDThh:mm:ss" of a packed date; "hh:mm:ss" of a time of day.
  static std::string FormatDateTime(PackedDate value);
  static std::string FormatTime(std::uint16_t tenths);
  // A number with at most maxDecimals decimals, trailing zeros dropped
  // ("0.125", "12.5", "3"); "0" for non-finite values.
  static std::string FormatDecimal(double value, int maxDecimals);
  // Two decimals, as the applications since 2007 write units, variances
  // and earned values ("12.50", "0.00", never "-0.00").
  static std::string FormatTwoDecimals(double value);
  // A GUID as stored (its first three groups little-endian) in the
  // document's form, "9035018B-DAD2-E811-AC3F-4CEDDE6E5B57".
  static std::string FormatGuid(const std::array<std::uint8_t, 16>& bytes);
  // Eight upper-case hex digits, "0B400033".
  static std::string FormatHex8(std::uint32_t value);
  // Money as documents hold it: in hundredths of the currency unit (1.23
  // is "123").
  static std::string FormatMoney(double currencyUnits);

  // Names for nameless items: "Unknown task name (n)" and the like, n
  // counting each kind's uses in this process (first use 1). The buffer
  // gets as much as fits and always a terminating zero.
  static void MakeUnknownTaskName(std::span<char16_t> buffer);
  static void MakeUnknownResourceName(std::span<char16_t> buffer);

 private:
  enum class ValueForm { Auto, CData };
  std::int32_t WriteLine(const char* openTag, const char* value, const char* closeTag, ValueForm form);
  std::int32_t WriteElement(const char* tag, const std::string& value);
  std::int32_t WriteDateTime(const char* tag, PackedDate value);

  RunContext& ctx_;
  std::unique_ptr<XmlSink> sink_;
  std::u16string xmlPath_;
  std::int32_t depth_ = 0;
  std::int32_t openResult_ = kOpenFailed;
  bool open_ = false;
  bool writeFailed_ = false;
  bool lineLogging_ = true;
  std::string line_;
};

}  // namespace xml
