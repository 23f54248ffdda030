#include "FileRecover.h"

#include <memory>

#include "LibrarySettings.h"
#include "Logger.h"
#include "MwReport.h"
#include "ProjectParser.h"
#include "StgReader.h"
#include "VersionDetection.h"
#include "platform/Files.h"
#include "platform/System.h"
#include "platform/Text.h"

namespace {

constexpr const char* kSeparator = "==================================================== ";
constexpr const char* kUserCancelled =
    "User Exception in FileRecover. The process was canceled by user";

std::string Ansi(std::u16string_view text) { return platform::Utf16ToAnsi(text); }

void OpenRunLog() {
  theLog.OpenLog(theSettings.logPath);
  theLog.Enable();
}

// The repaired compound file of one run: removed at the end, or moved to the
// place the host asked for.
class RepairedFile {
 public:
  explicit RepairedFile(std::u16string path) : path_(std::move(path)) {}
  ~RepairedFile() {
    if (!created_) return;
    const std::u16string& keep = theSettings.keepRepairedPath;
    if (!keep.empty()) {
      if (platform::MoveToNewFile(path_, keep))
        theLog.WriteValue("Repaired file kept as", Ansi(keep).c_str());
      else
        theLog.WriteErrorValue("Unable to keep the repaired file as", Ansi(keep).c_str());
    }
    platform::DeleteFile(path_);
  }
  const std::u16string& Path() const { return path_; }
  void MarkCreated() { created_ = true; }

 private:
  std::u16string path_;
  bool created_ = false;
};

// Pass 1: the salvage of the container. Returns 0 or the run's result.
std::int32_t Salvage(std::u16string_view input, RepairedFile& repaired) {
  try {
    if (CancelRequested()) {
      theLog.WriteLine(kUserCancelled);
      return kCancelled;
    }
    auto reader = std::make_unique<CStgReader>();
    theLog.WriteLine("Init CStgReader parser...");
    if (int code = reader->Init(input); code != 0) {
      theLog.WriteFormat("Init CStgReader parser is FAILED. Error code = %d", code);
      return kNothingRecovered;
    }
    theLog.WriteLine("Start parse OLE data...");
    if (int code = reader->ParseData(); code != 0) {
      theLog.WriteFormat("Start parse OLE data is FAILED. Error code = %d", code);
      return kNothingRecovered;
    }
    theLog.WriteFormat("Write parse OLE data into new file \"%s\"", Ansi(repaired.Path()).c_str());
    if (int code = reader->WriteData(repaired.Path()); code != 0) {
      theLog.WriteFormat("Write parse OLE data is FAILED. Error code = %d", code);
      return kNothingRecovered;
    }
    repaired.MarkCreated();
    theLog.WriteLine("Parse OLE data is successful");
    theLog.WriteLine(kSeparator);
    return kRecovered;
  } catch (...) {
    if (CancelRequested()) {
      theLog.WriteLine("User Exception in CStgReader parser. The process was canceled by user");
      return kCancelled;
    }
    return kGeneralFailure;
  }
}

// Passes 2 to 4: version, parse, XML, report. Returns the run's result;
// parsed tells whether the parser ran to its end (only then does the run
// send its closing status and progress).
std::int32_t Parse(std::u16string_view input, const std::u16string& repairedPath,
                   std::u16string_view output, bool& parsed) {
  try {
    int version = DetectFileVersion(repairedPath);
    if (version == 0) {
      // Version 8 files and other containers end here.
      theLog.WriteLine("The file holds no project data of version 9, 12 or 14: nothing to recover");
      return kNothingRecovered;
    }
    if (CancelRequested()) {
      theLog.WriteLine(kUserCancelled);
      return kCancelled;
    }
    std::unique_ptr<ProjectParser> parser = CreateProjectParser(version, input, repairedPath, output);
    if (!parser) {
      theLog.WriteFormat("No reader for version %d", version);
      return kNothingRecovered;
    }
    SendStatus(theSettings.Status(StatusTexts::Done).c_str());
    SendStatus(theSettings.Status(StatusTexts::Pass2).c_str());
    theSettings.progressBase = 10;
    theSettings.progressSpan = 90;
    ReportProgress(10, "Parse file data... ");
    std::int32_t result = parser->Parse(&SendStatus);
    parser->FillReport(theReport, output);
    parsed = true;
    return result;
  } catch (int code) {
    if (code == 1) {
      theLog.WriteLine("Write data exception in FileRecover. Can't write recovered file");
      return kWriteException;
    }
    if (code == 2) {
      theLog.WriteLine("Create result data exception in FileRecover. Patch too long");
      return kPathTooLong;
    }
    return kGeneralFailure;
  } catch (...) {
    if (CancelRequested()) {
      theLog.WriteLine(kUserCancelled);
      return kCancelled;
    }
    return kGeneralFailure;
  }
}

}  // namespace

std::u16string XmlPathFor(std::u16string_view output) {
  std::u16string path(output);
  if (path.size() >= 3)
    path.replace(path.size() - 3, 3, u"xml");
  else
    path = u"xml";
  return path;
}

std::u16string MakeTempFileName() {
  // The work folder the host chose, else the system's temporary folder.
  std::u16string folder = theSettings.workFolder.empty() ? platform::TempFolder() : theSettings.workFolder;
  if (!folder.empty() && folder.back() != u'/') folder.push_back(u'/');
  std::u16string uuid = platform::NewUuidText();
  if (folder.empty() || uuid.empty()) return {};
  return folder + u"mw-" + uuid + u".tmp";
}

std::int32_t MakeOutputFileName(std::u16string_view folder, std::u16string_view input,
                                std::u16string& composed) {
  std::u16string_view name = input;
  if (auto slash = name.find_last_of(u'/'); slash != std::u16string_view::npos)
    name = name.substr(slash + 1);
  std::u16string_view base = name, extension;
  if (auto dot = name.rfind(u'.'); dot != std::u16string_view::npos) {
    base = name.substr(0, dot);
    extension = name.substr(dot);
  }
  std::u16string ext(extension);
  if (theSettings.outputFormat != u".*") ext = theSettings.outputFormat;

  std::u16string stem(folder);
  if (stem.empty() || stem.back() != u'/') stem.push_back(u'/');
  stem.append(base);

  for (int suffix = 1; suffix <= kMaxOutputSuffix; ++suffix) {
    std::u16string candidate = stem;
    if (suffix > 1) {
      candidate += u'(';
      candidate += platform::Utf8ToUtf16(std::to_string(suffix));
      candidate += u')';
    }
    candidate += ext;
    if (candidate.size() > kMaxComposedPath) return kPathTooLong;
    platform::FileError error;
    platform::File probe = platform::CreateNew(candidate, &error);
    if (probe.IsOpen()) {
      probe.Close();
      platform::DeleteFile(candidate);  // ours: the generator creates the real file later
      composed = candidate;
      return kRecovered;
    }
    if (error != platform::FileError::Exists) return kGeneralFailure;
  }
  return kGeneralFailure;
}

std::int32_t RunFileRecover(std::u16string_view input, std::u16string_view outputArg) {
  if (!theSettings.progressSet || !theSettings.logPathSet || !theSettings.statusSet)
    return kGeneralFailure;
  theSettings.lastOutputPath.clear();

  const bool logging = !theSettings.logPath.empty();
  if (logging) {
    OpenRunLog();
    theLog.WriteMachineInfo();
    theLog.WriteValue("Log file name:", Ansi(theSettings.logPath).c_str());
  }

  {
    platform::File in = platform::OpenForReading(input);
    if (!in.IsOpen()) return kGeneralFailure;
    auto size = in.Size();
    if (!size) return kGeneralFailure;
    if (*size == 0) return kNothingRecovered;
  }

  theLog.WriteLine("S: FileRecover()");
  SendProgress("", 0);
  ClearCancel();

  if (logging) {
    OpenRunLog();
    theLog.WriteValue("Log file name:", Ansi(theSettings.logPath).c_str());
  }

  std::u16string output(outputArg);
  if (platform::IsFolder(output)) {
    std::u16string composed;
    std::int32_t code = MakeOutputFileName(output, input, composed);
    if (code != kRecovered) {
      theLog.WriteError("Unable to create output file");
      return code;
    }
    output = composed;
  }
  theSettings.lastOutputPath = XmlPathFor(output);

  SendStatus(theSettings.Status(StatusTexts::Pass1).c_str());
  theLog.WriteLine("Starting recovery...");
  theSettings.progressBase = 0;
  theSettings.progressSpan = 100;
  ReportProgress(0, "Find file structure...");
  theLog.WriteLine(kSeparator);

  RepairedFile repaired(MakeTempFileName());
  if (std::int32_t code = Salvage(input, repaired); code != kRecovered) return code;
  bool parsed = false;
  std::int32_t result = Parse(input, repaired.Path(), output, parsed);
  if (!parsed) return result;
  SendStatus(theSettings.Status(StatusTexts::Done).c_str());
  theSettings.progressBase = 100;
  theSettings.progressSpan = 0;
  ReportProgress(100, "");
  theLog.WriteLine(kSeparator);
  return result;
}
