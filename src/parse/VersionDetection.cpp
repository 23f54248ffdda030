#include "parse/VersionDetection.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/ByteView.h"
#include "platform/CompoundFile.h"

namespace {

using platform::CompoundFileReader;
using platform::kRootElement;

constexpr const char* kSeparator = "==================================================== ";

// The CompObj stream's user-type text starts after its 28-byte header and
// the text's 4-byte length.
constexpr std::size_t kUserTypeOffset = 32;
// How much of an unknown user-type text the log shows.
constexpr std::size_t kUnknownTextShown = 16;

struct Known {
  int version;
  std::u16string_view name;
};

// The user-type texts the three formats are saved with. The 2010 text has a
// dot where the others have a blank.
struct Reference {
  int version;
  std::string_view text;
};
constexpr std::array<Reference, 3> kReferenceTexts = {{
    {9, "Microsoft Project 9.0"},
    {12, "Microsoft Project 12.0"},
    {14, "Microsoft.Project 14.0"},
}};

constexpr std::array<Known, 3> kPropsStreams = {{
    {9, u"Props9"},
    {12, u"Props12"},
    {14, u"Props14"},
}};

// Storages of the root that only one format has; the order decides.
constexpr std::array<Known, 6> kFormatStorages = {{
    {9, u"   19"},
    {9, u"   29"},
    {12, u"   112"},
    {12, u"   212"},
    {14, u"   114"},
    {14, u"   214"},
}};

// The storage that holds a format's project data (tasks, resources and the
// rest). Its presence is firmer evidence than the CompObj text, which names
// the application that saved the file rather than the format it saved in.
constexpr std::array<Known, 3> kDataStorages = {{
    {9, u"   19"},
    {12, u"   112"},
    {14, u"   114"},
}};

const char* SuccessLine(int version) {
  switch (version) {
    case 9:
      return "DetectFileVersion - Microsoft Project 9.0 (2000 .. 2003)";
    case 12:
      return "DetectFileVersion - Microsoft Project 12.0 (2007)";
    default:
      return "DetectFileVersion - Microsoft Project 14.0 (2010)";
  }
}

std::string Narrow(std::u16string_view name) {
  std::string text;
  for (char16_t unit : name) text.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
  return text;
}

bool HasStorage(const CompoundFileReader& file, std::u16string_view name) {
  return file.OpenStorage(kRootElement, name).has_value();
}

// Method one: the user-type text of the CompObj stream.
int FromCompObj(Logger& log, const CompoundFileReader& file) {
  const auto stream = file.OpenStream(kRootElement, u"\x01" "CompObj");
  if (!stream) {
    log.WriteLine("DetectFileVersion - method one is unsuccessful. Can't find \"@CompObj\" root stream");
    return 0;
  }
  const auto info = file.Stat(*stream);
  const std::uint32_t size = info ? static_cast<std::uint32_t>(info->size) : 0;
  std::vector<std::uint8_t> bytes;
  bool read = false;
  try {
    // ReadStream sizes the buffer from the stream's own sectors; the size
    // the directory claims (up to 4 GB) is not allocated before that.
    read = file.ReadStream(*stream, bytes);
  } catch (const std::bad_alloc&) {
    log.WriteFormat("Failed allocate to %d memory size", static_cast<int>(size));
    return 0;
  }
  if (!info || !read || bytes.size() < size) {
    log.WriteLine("DetectFileVersion - method one is unsuccessful. Can't read \"@CompObj\" stream data");
    return 0;
  }
  // Only the bytes the stream claims to have count.
  const platform::ByteView data(bytes.data(), size);

  // A prefix is enough: the text may go on after the reference text. A zero
  // byte, or the end of the stream, before its end is a mismatch.
  for (const Reference& reference : kReferenceTexts) {
    const auto text = data.Sub(kUserTypeOffset, reference.text.size());
    if (!text) continue;
    std::string found(reference.text.size(), '\0');
    text->CopyTo(0, found.size(), found.data());
    if (found == reference.text) return reference.version;
  }

  char shown[kUnknownTextShown + 1] = {};
  if (data.size() > kUserTypeOffset) {
    const std::size_t length = std::min(kUnknownTextShown, data.size() - kUserTypeOffset);
    data.CopyTo(kUserTypeOffset, length, shown);
  }
  log.WriteFormat("DetectFileVersion - method one is unsuccessful. Unknown version = \"%s\"", shown);
  return 0;
}

// Method two: the properties stream each format keeps in the root.
int FromPropsStream(Logger& log, const CompoundFileReader& file) {
  for (const Known& props : kPropsStreams)
    if (file.OpenStream(kRootElement, props.name)) return props.version;
  log.WriteLine("DetectFileVersion - method second is unsuccessful");
  return 0;
}

// Method three: the format's own storages.
int FromStorages(const CompoundFileReader& file) {
  for (const Known& storage : kFormatStorages)
    if (HasStorage(file, storage.name)) return storage.version;
  return 0;
}

// Applications save in older formats too, and their CompObj text (and
// sometimes their Props stream) then names the application, not the format.
// When the version decided has no data storage but another version's data
// storage is there, the data storage wins: its version is the one whose
// parser can read the file. An application that saves an older file in its
// own format may leave the old data storage behind, so among several the
// newest is taken.
int ConfirmByDataStorage(Logger& log, const CompoundFileReader& file, int version) {
  for (const Known& own : kDataStorages)
    if (own.version == version && HasStorage(file, own.name)) return version;
  for (auto it = kDataStorages.rbegin(); it != kDataStorages.rend(); ++it) {
    const Known& other = *it;
    if (other.version == version || !HasStorage(file, other.name)) continue;
    log.WriteFormat("DetectFileVersion - data storage \"%s\" found, version %d taken instead of %d",
                    Narrow(other.name).c_str(), other.version, version);
    return other.version;
  }
  return version;
}

}  // namespace

int DetectFileVersion(Logger& log, std::u16string_view path) {
  log.WriteLine(kSeparator);
  const std::unique_ptr<CompoundFileReader> file = CompoundFileReader::Open(path);
  if (!file) {
    log.WriteError("DetectFileVersion - failed open file(!)");
    return 0;
  }

  int version = FromCompObj(log, *file);
  if (version == 0) version = FromPropsStream(log, *file);
  if (version == 0) version = FromStorages(*file);
  if (version == 0) {
    log.WriteLine("DetectFileVersion - method third is unsuccessful");
    log.WriteLine("DetectFileVersion - version unknown");
    log.WriteLine(kSeparator);
    return 0;
  }

  log.WriteLine(SuccessLine(version));
  version = ConfirmByDataStorage(log, *file, version);
  log.WriteLine(kSeparator);
  return version;
}
