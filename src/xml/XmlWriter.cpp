#include "xml/XmlWriter.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>

#include "base/Date.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "xml/RtfNotes.h"
#include "xml/XmlEscape.h"

namespace xml {
namespace {

// Process-wide: the numbers keep rising across recoveries in one process.
std::atomic<std::int32_t> unknownTaskNames{0};
std::atomic<std::int32_t> unknownResourceNames{0};

constexpr std::uint32_t kTenthsPerDay = 14400;
// Working time of a version 9 day: eight hours from 08:00, the hour from
// 12:00 to 13:00 left out.
constexpr std::uint32_t kWorkTenthsPerDay = 4800;
constexpr std::uint32_t kMorningMinutes = 240;
constexpr std::uint32_t kLunchMinutes = 60;
constexpr std::uint32_t kWorkStartHour = 8;

template <typename... Args>
std::string Format(const char* pattern, Args... args) {
  char text[64];
  const int n = std::snprintf(text, sizeof text, pattern, args...);
  return n < 0 ? std::string() : std::string(text, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof text - 1));
}

// Day `day` of `year`, January 1 being day 1 (and day 0).
CDate DayOfYear(int year, std::uint32_t day) {
  return CDate(static_cast<std::int32_t>(day == 0 ? 1 : day), 1, year);
}

// "Thh:mm:00" from a time of day in tenths of a minute.
std::string TimeOfDayText(std::uint32_t tenths) {
  const std::uint32_t minutes = tenths / 10;
  return Format("%02u:%02u:00", (minutes / 60) % 24, minutes % 60);
}

void FillName(std::span<char16_t> buffer, const char* pattern, std::atomic<std::int32_t>& counter) {
  if (buffer.empty()) return;
  // The counter wraps rather than overflows.
  const auto n = static_cast<std::int32_t>(static_cast<std::uint32_t>(counter.fetch_add(1)) + 1u);
  const std::u16string text = platform::AnsiToUtf16(Format(pattern, n));
  const std::size_t length = std::min(text.size(), buffer.size() - 1);
  std::copy_n(text.begin(), length, buffer.begin());
  buffer[length] = 0;
}

const char* OrNull(const char* text) { return text ? text : "(null)"; }

// Log lines are 8-bit in the log's code page.
std::string ForLog(const char* text) {
  if (!text) return "(null)";
  std::string_view view(text);
  for (char c : view)
    if (static_cast<unsigned char>(c) >= 0x80) return platform::Utf8ToAnsi(view);
  return std::string(view);
}

}  // namespace

XmlWriter::XmlWriter(RunContext& ctx, std::u16string_view outputPath)
    : ctx_(ctx), lineLogging_(ctx.settings.xmlDetailLog) {
  // Each document numbers its invented names from 1, so that a file gives
  // the same document whatever was recovered before it in this process.
  unknownTaskNames = 0;
  unknownResourceNames = 0;
  if (platform::NativePath(outputPath).size() > kMaxOutputPath) {
    ctx_.log.WriteError("        Document storage patch too very long!");
    throw 2;
  }
  openResult_ = OpenXMLFile(outputPath);
}

XmlWriter::XmlWriter(RunContext& ctx, std::unique_ptr<XmlSink> sink) : ctx_(ctx), sink_(std::move(sink)) {
  open_ = sink_ != nullptr;
  openResult_ = open_ ? 0 : kOpenFailed;
}

XmlWriter::~XmlWriter() {
  if (open_) sink_->Close();
}

std::int32_t XmlWriter::OpenXMLFile(std::u16string_view path) {
  if (open_) CloseXMLFile();
  ctx_.log.WriteLine("Trying to open XML...");
  xmlPath_ = std::u16string(path);
  depth_ = 0;
  writeFailed_ = false;
  platform::FileError error = platform::FileError::None;
  platform::File file = platform::CreateNew(path, &error);
  if (!file.IsOpen()) {
    ctx_.log.WriteFormat("Can't open output file %s", platform::Utf16ToAnsi(path).c_str());
    ctx_.NoteOutputError(platform::LastErrorNumber());
    sink_.reset();
    openResult_ = kOpenFailed;
    return openResult_;
  }
  sink_ = std::make_unique<BufferedFileSink>(std::move(file));
  open_ = true;
  ctx_.log.WriteLine("Output file opened");
  openResult_ = 0;
  return openResult_;
}

std::int32_t XmlWriter::CloseXMLFile() {
  ctx_.log.WriteLine("Trying to close XML...");
  if (open_) {
    if (!sink_->Close()) {
      writeFailed_ = true;
      ctx_.NoteOutputError(sink_->ErrorNumber());
    }
    open_ = false;
  }
  ctx_.log.WriteLine("Output file closed");
  return Status();
}

std::int32_t XmlWriter::Status() const {
  const bool healthy = openResult_ == 0 && !writeFailed_ && (!sink_ || sink_->Healthy());
  return healthy ? 0 : kOpenFailed;
}

std::int32_t XmlWriter::Write_hXML(const char* openTag, const char* value, const char* closeTag) {
  return WriteLine(openTag, value, closeTag, ValueForm::Auto);
}

std::int32_t XmlWriter::WriteLine(const char* openTag, const char* value, const char* closeTag,
                                  ValueForm form) {
  if (ctx_.Cancelled()) {
    ctx_.log.WriteLine("User Exception in FileRecover. The process was canceled by user");
    CloseXMLFile();
    return kCancelled;
  }
  const bool logging = lineLogging_ && ctx_.log.IsEnabled();
  if (logging) {
    ctx_.log.WriteLine("Write_hXML() start.");
    ctx_.log.WriteFormat("open_tag = \"%s\"", OrNull(openTag));
    ctx_.log.WriteFormat("value = \"%s\"", ForLog(value).c_str());
    ctx_.log.WriteFormat("close_tag = \"%s\"", OrNull(closeTag));
  }

  // The depth counts open elements plus one for the declaration line, which
  // is written as an open tag alone.
  if (!openTag && closeTag && depth_ > 0) --depth_;
  line_.clear();
  if (depth_ > 1) line_.append(static_cast<std::size_t>(depth_ - 1), '\t');
  if (openTag && !closeTag) {
    const std::size_t length = std::strlen(openTag);
    const bool selfClosing = length > 0 && openTag[length - 1] == '/';
    if (!selfClosing && depth_ < INT32_MAX) ++depth_;
  }

  if (openTag) {
    line_.push_back('<');
    line_.append(openTag);
    line_.push_back('>');
  }
  if (value) {
    const std::string text = CleanXmlText(value);
    if (form == ValueForm::CData)
      line_.append(CDataSection(text));
    else if (openTag && std::strcmp(openTag, "Name") == 0)
      // Names arrive escaped by their writers; whatever they missed is
      // escaped here.
      line_.append(CompleteEscapes(text));
    else if (IsSingleCDataSection(text) || !HasMarkup(text))
      line_.append(text);
    else
      line_.append(CDataSection(text));
  }
  if (closeTag) {
    line_.append("</");
    line_.append(closeTag);
    line_.push_back('>');
  }
  line_.append("\r\n");
  if (open_) sink_->Write(line_);

  if (logging) ctx_.log.WriteLine("Write_hXML() finish.");
  return 0;
}

std::int32_t XmlWriter::WriteElement(const char* tag, const std::string& value) {
  return WriteLine(tag, value.c_str(), tag, ValueForm::Auto);
}

std::int32_t XmlWriter::WriteFloatXML(const char* tag, float value) {
  return WriteElement(tag, std::isfinite(value) ? Format("%0.2f", static_cast<double>(value)) : "0.00");
}

std::int32_t XmlWriter::WriteRawXML(const char* tag, const char* text) {
  return WriteLine(tag, text ? text : "", tag, ValueForm::Auto);
}

std::int32_t XmlWriter::WriteDurationSecXML(const char* tag, std::uint32_t tenths) {
  return WriteElement(tag, Format("PT%uH%uM%uS", tenths / 600, (tenths % 600) / 10, (tenths % 10) * 6));
}

std::int32_t XmlWriter::WriteTimeXML(const char* tag, std::uint16_t tenths) {
  return WriteElement(tag, TimeOfDayText(tenths));
}

std::int32_t XmlWriter::WriteDateTime(const char* tag, PackedDate value) {
  return WriteElement(tag, FormatDate(value >> 16) + "T" + TimeOfDayText(value & 0xFFFF));
}

std::int32_t XmlWriter::WriteDateTime14XML(const char* tag, PackedDate value) {
  if (value == kNoDate) return kNothingWritten;
  return WriteDateTime(tag, value);
}

std::int32_t XmlWriter::WriteNameXML(const char* tag, std::span<char16_t> value) {
  std::u16string_view text = u"UnknownName";
  if (value.data() != nullptr) {
    std::size_t length = 0;
    while (length < value.size() && value[length] != 0) {
      if (value[length] < 32) value[length] = u'!';
      ++length;
    }
    text = std::u16string_view(value.data(), length);
  }
  const std::string utf8Tag = platform::Utf16ToUtf8(platform::AnsiToUtf16(tag ? tag : ""));
  return WriteLine(utf8Tag.c_str(), platform::Utf16ToUtf8(text).c_str(), utf8Tag.c_str(), ValueForm::Auto);
}

std::int32_t XmlWriter::WriteNotesXML(const char* tag, platform::ByteView notes) {
  std::optional<std::u16string> text = NotesToText(notes);
  if (!text) return 1;
  for (char16_t& unit : *text)
    if (unit < 32) unit = u'!';
  return WriteLine(tag, platform::Utf16ToUtf8(*text).c_str(), tag, ValueForm::CData);
}

std::string XmlWriter::FormatTrimmedFloat(double value) {
  const float rounded = static_cast<float>(value);
  if (!std::isfinite(rounded)) return "0";
  std::string text = Format("%0.2f", static_cast<double>(rounded));
  if (text.size() > 16) return "0";
  while (text.size() > 1 && text.back() == '0') text.pop_back();
  if (text.size() > 1 && text.back() == '.') text.pop_back();
  if (text == "-0") text = "0";
  return text;
}

std::string XmlWriter::FormatMinutesDateTime(std::uint32_t tenths, int baseYear) {
  const std::uint32_t minutes = tenths / 10;
  const std::uint32_t hours = minutes / 60;
  return DayOfYear(baseYear, tenths / kTenthsPerDay).ToText() + Format("T%02u:%02u:00", hours % 24, minutes % 60);
}

std::string XmlWriter::FormatDate(std::uint32_t dayNumber) { return CDate::FromDayNumber(dayNumber).ToText(); }

std::string XmlWriter::FormatDateTime(PackedDate value) {
  return FormatDate(value >> 16) + "T" + TimeOfDayText(value & 0xFFFF);
}

std::string XmlWriter::FormatTime(std::uint16_t tenths) { return TimeOfDayText(tenths); }

std::string XmlWriter::FormatTwoDecimals(double value) {
  const std::string text = Format("%.2f", value);
  return text == "-0.00" ? "0.00" : text;
}

std::string XmlWriter::FormatHex8(std::uint32_t value) { return Format("%08X", value); }

std::string XmlWriter::FormatGuid(const std::array<std::uint8_t, 16>& b) {
  return Format("%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[3], b[2], b[1], b[0], b[5],
                b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
}

std::string XmlWriter::FormatDecimal(double value, int maxDecimals) {
  // Beyond this the digits say nothing and "%f" would run long.
  if (!std::isfinite(value) || std::fabs(value) >= 1e15) return "0";
  std::string text = Format("%.*f", maxDecimals, value);
  if (text.find('.') != std::string::npos) {
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
  }
  if (text == "-0") text = "0";
  return text;
}

std::string XmlWriter::FormatMoney(double currencyUnits) { return FormatDecimal(currencyUnits * 100.0, 2); }

void XmlWriter::MakeUnknownTaskName(std::span<char16_t> buffer) {
  FillName(buffer, "Unknown task name (%d)", unknownTaskNames);
}

void XmlWriter::MakeUnknownResourceName(std::span<char16_t> buffer) {
  FillName(buffer, "Unknown resource name (%d)", unknownResourceNames);
}

}  // namespace xml
