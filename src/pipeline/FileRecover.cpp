#include "pipeline/FileRecover.h"

#include <cerrno>
#include <memory>

#include "base/RunContext.h"
#include "generate/XMLGen.h"
#include "model/Project.h"
#include "parse/MppParser12.h"
#include "parse/MppParser14.h"
#include "parse/MppParser9.h"
#include "pipeline/LossReport.h"
#include "salvage/StgReader.h"
#include "parse/VersionDetection.h"
#include "platform/Files.h"
#include "platform/System.h"
#include "platform/Text.h"

namespace {

constexpr const char* kSeparator = "==================================================== ";
constexpr const char* kUserCancelled =
    "User Exception in FileRecover. The process was canceled by user";

std::string Ansi(std::u16string_view text) { return platform::Utf16ToAnsi(text); }

void OpenRunLog(RunContext& ctx) {
  ctx.log.OpenLog(ctx.settings.logPath);
  ctx.log.Enable();
}

// Slots of the files a stopped process must not leave behind.
constexpr int kPendingDocument = 0;
constexpr int kPendingRepaired = 1;

// The run's error for the host: what was done to which file and the
// system's reason ("open plan.mpp: No such file or directory"); logged too.
std::int32_t Fail(RunContext& ctx, std::int32_t code, std::u16string_view what, std::u16string_view path,
                  int errorNumber) {
  std::u16string text(what);
  if (!path.empty()) {
    text += u' ';
    text += path;
  }
  if (errorNumber > 0) {
    text += u": ";
    text += platform::Utf8ToUtf16(platform::ErrorText(errorNumber));
  }
  ctx.settings.lastError = text;
  ctx.log.WriteError(Ansi(text).c_str());
  return code;
}
std::int32_t Fail(RunContext& ctx, std::int32_t code, std::u16string_view text) { return Fail(ctx, code, text, {}, 0); }

bool IsDiskFull(int errorNumber) { return errorNumber == ENOSPC || errorNumber == EDQUOT || errorNumber == EFBIG; }

// The folder part of a path ("." when it has none).
std::u16string FolderOf(std::u16string_view path) {
  const auto slash = path.find_last_of(u'/');
  if (slash == std::u16string_view::npos) return u".";
  if (slash == 0) return u"/";
  return std::u16string(path.substr(0, slash));
}

// Paths the system cannot take: longer than its path limit, or with a name
// longer than its name limit.
bool TooLongForTheSystem(std::u16string_view path) {
  const std::string native = platform::NativePath(path);
  if (native.size() > kMaxComposedPath) return true;
  const auto slash = native.find_last_of('/');
  const std::size_t name = slash == std::string::npos ? native.size() : native.size() - slash - 1;
  return name > kMaxNameBytes;
}

// Where the document goes: one given name, or names composed in a folder
// ("plan.xml", "plan(2).xml"...), the first free one taken when the
// finished document is put in place. The document is written under a
// temporary name in the same folder, created exclusively, and given its
// name only when it is complete: no run leaves a partial document under a
// document's name, and runs writing into one folder at once cannot take
// each other's names.
class OutputTarget {
 public:
  static OutputTarget Given(std::u16string_view output) {
    OutputTarget target;
    target.given_ = XmlPathFor(output);
    target.folder_ = FolderOf(target.given_);
    return target;
  }
  static OutputTarget Composed(const LibrarySettings& settings, std::u16string_view folder, std::u16string_view input) {
    OutputTarget target;
    target.composed_ = true;
    target.folder_ = std::u16string(folder);
    ComposeParts(settings, folder, input, target.stem_, target.extension_);
    return target;
  }

  bool IsComposed() const { return composed_; }
  const std::u16string& Folder() const { return folder_; }
  // The n-th name (from 1); a given name has only the first.
  std::u16string Name(int n) const { return composed_ ? XmlPathFor(Candidate(n)) : given_; }
  // The n-th composed name before the generator's "xml" ending.
  std::u16string Candidate(int n) const {
    std::u16string name = stem_;
    if (n > 1) name += u'(' + platform::Utf8ToUtf16(std::to_string(n)) + u')';
    return name + extension_;
  }
  int Names() const { return composed_ ? kMaxOutputSuffix : 1; }

  static void ComposeParts(const LibrarySettings& settings, std::u16string_view folder, std::u16string_view input,
                           std::u16string& stem, std::u16string& extension) {
    std::u16string_view name = input;
    if (auto slash = name.find_last_of(u'/'); slash != std::u16string_view::npos) name = name.substr(slash + 1);
    std::u16string_view base = name, ext;
    if (auto dot = name.rfind(u'.'); dot != std::u16string_view::npos) {
      base = name.substr(0, dot);
      ext = name.substr(dot);
    }
    extension = settings.outputFormat != u".*" ? settings.outputFormat : std::u16string(ext);
    stem = std::u16string(folder);
    if (stem.empty() || stem.back() != u'/') stem.push_back(u'/');
    stem.append(base);
  }

 private:
  bool composed_ = false;
  std::u16string folder_, given_, stem_, extension_;
};

// The document's temporary file: removed however the run ends, unless it
// was put in place.
class PendingDocument {
 public:
  explicit PendingDocument(std::u16string path) : path_(std::move(path)) {
    platform::SetPendingFile(kPendingDocument, path_);
  }
  ~PendingDocument() {
    platform::SetPendingFile(kPendingDocument, u"");
    if (!placed_) platform::DeleteFile(path_);
  }
  PendingDocument(const PendingDocument&) = delete;
  PendingDocument& operator=(const PendingDocument&) = delete;
  const std::u16string& Path() const { return path_; }
  void MarkPlaced() { placed_ = true; }

 private:
  std::u16string path_;
  bool placed_ = false;
};

// ".mdw-<16 hex digits>.partial.xml" in folder: it ends in "xml", so the
// generator writes to it as it is.
std::u16string TemporaryDocumentName(const std::u16string& folder) {
  std::u16string uuid = platform::NewUuidText();
  std::u16string hex;
  for (char16_t c : uuid)
    if (c != u'-' && hex.size() < 16) hex.push_back(c);
  if (hex.size() < 16) return {};
  std::u16string path = folder;
  if (path.empty() || path.back() != u'/') path.push_back(u'/');
  return path + u".mdw-" + hex + u".partial.xml";
}

// Puts the finished document in place: flushed to the disk, then given the
// first free name (never over an existing file unless the host allows it).
std::int32_t PlaceDocument(RunContext& ctx, PendingDocument& document, const OutputTarget& target) {
  if (int error = platform::SyncFile(document.Path()); error != 0)
    return Fail(ctx, IsDiskFull(error) || error == EIO ? kWriteException : kGeneralFailure, u"write", target.Name(1),
                error);
  for (int n = 1; n <= target.Names(); ++n) {
    const std::u16string name = target.Name(n);
    if (TooLongForTheSystem(name)) return Fail(ctx, kPathTooLong, u"output name too long:", name, 0);
    const bool replace = ctx.settings.replaceOutput && !target.IsComposed();
    const int error = replace ? platform::ReplaceFile(document.Path(), name)
                              : platform::PlaceNewFile(document.Path(), name);
    if (error == EEXIST && target.IsComposed()) continue;
    if (error != 0) return Fail(ctx, kGeneralFailure, u"create", name, error);
    document.MarkPlaced();
    platform::SyncFolder(target.Folder());
    ctx.settings.lastOutputPath = name;
    ctx.log.WriteValue("Document written:", Ansi(name).c_str());
    return kRecovered;
  }
  return Fail(ctx, kGeneralFailure, u"no free name for the output in", target.Folder(), 0);
}

// The repaired compound file of one run: removed at the end, or moved to the
// place the host asked for.
class RepairedFile {
 public:
  RepairedFile(RunContext& ctx, std::u16string path) : ctx_(ctx), path_(std::move(path)) {
    platform::SetPendingFile(kPendingRepaired, path_);
  }
  ~RepairedFile() {
    platform::SetPendingFile(kPendingRepaired, u"");
    if (!created_) return;
    const std::u16string& keep = ctx_.settings.keepRepairedPath;
    if (!keep.empty()) {
      if (platform::MoveToNewFile(path_, keep))
        ctx_.log.WriteValue("Repaired file kept as", Ansi(keep).c_str());
      else
        ctx_.log.WriteErrorValue("Unable to keep the repaired file as", Ansi(keep).c_str());
    }
    platform::DeleteFile(path_);
  }
  const std::u16string& Path() const { return path_; }
  void MarkCreated() { created_ = true; }

 private:
  RunContext& ctx_;
  std::u16string path_;
  bool created_ = false;
};

// Pass 1: the salvage of the container. Returns 0 or the run's result.
std::int32_t Salvage(RunContext& ctx, std::u16string_view input, RepairedFile& repaired) {
  try {
    if (ctx.Cancelled()) {
      ctx.log.WriteLine(kUserCancelled);
      return kCancelled;
    }
    auto reader = std::make_unique<CStgReader>(ctx);
    ctx.log.WriteLine("Init CStgReader parser...");
    if (int code = reader->Init(input); code != 0) {
      ctx.log.WriteFormat("Init CStgReader parser is FAILED. Error code = %d", code);
      return kNothingRecovered;
    }
    ctx.log.WriteLine("Start parse OLE data...");
    if (int code = reader->ParseData(); code != 0) {
      ctx.log.WriteFormat("Start parse OLE data is FAILED. Error code = %d", code);
      return kNothingRecovered;
    }
    ctx.log.WriteFormat("Write parse OLE data into new file \"%s\"", Ansi(repaired.Path()).c_str());
    platform::ClearLastError();
    if (int code = reader->WriteData(repaired.Path()); code != 0) {
      ctx.log.WriteFormat("Write parse OLE data is FAILED. Error code = %d", code);
      // A full disk is no fault of the file.
      if (int error = platform::LastErrorNumber(); IsDiskFull(error))
        return Fail(ctx, kWriteException, u"write the rebuilt container in",
                    ctx.settings.workFolder.empty() ? platform::TempFolder() : ctx.settings.workFolder, error);
      return kNothingRecovered;
    }
    repaired.MarkCreated();
    ctx.log.WriteLine("Parse OLE data is successful");
    ctx.log.WriteLine(kSeparator);
    return kRecovered;
  } catch (...) {
    if (ctx.Cancelled()) {
      ctx.log.WriteLine("User Exception in CStgReader parser. The process was canceled by user");
      return kCancelled;
    }
    return kGeneralFailure;
  }
}

// Passes 2 to 4: version, parse, XML, report. Returns the run's result;
// parsed tells whether the parser ran to its end (only then does the run
// send its closing status and progress).
std::int32_t Parse(RunContext& ctx, const std::u16string& repairedPath,
                   std::u16string_view output, bool& parsed) {
  try {
    int version = DetectFileVersion(ctx.log, repairedPath);
    if (version == 0) {
      // Version 8 files and other containers end here.
      ctx.log.WriteLine("The file holds no project data of version 9, 12 or 14: nothing to recover");
      return kNothingRecovered;
    }
    if (ctx.Cancelled()) {
      ctx.log.WriteLine(kUserCancelled);
      return kCancelled;
    }
    if (version != 9 && version != 12 && version != 14) {
      ctx.log.WriteFormat("No reader for version %d", version);
      return kNothingRecovered;
    }
    // The model the parser fills and the generator writes as the parse's
    // last step. The generator opens the document's file as it is made
    // (throwing 2 for a path that is too long); versions 12 and 9 are
    // written in the same form with their own save version.
    model::Project project;
    CXMLGen generator(ctx, project, output, version == 14 ? "14" : version == 12 ? "12" : "9");
    DocumentStep document{[&generator] { return generator.GenerateMainXML(); },
                          [&generator] { generator.CloseOutput(); }};
    std::unique_ptr<CMppParser_14> parser;
    const std::u16string path(repairedPath);
    if (version == 14) parser = std::make_unique<CMppParser_14>(ctx, path, project, std::move(document));
    if (version == 12) parser = std::make_unique<CMppParser_12>(ctx, path, project, std::move(document));
    if (version == 9) parser = std::make_unique<CMppParser>(ctx, path, project, std::move(document));
    ctx.Status(StatusTexts::Done);
    ctx.Status(StatusTexts::Pass2);
    ctx.settings.progressBase = 10;
    ctx.settings.progressSpan = 90;
    ctx.Progress(10, "Parse file data... ");
    std::int32_t result = parser->Parse([&ctx](const char* text) { ctx.Status(text); });
    FillReport(ctx.report, project, generator.Written());
    parsed = true;
    return result;
  } catch (int code) {
    if (code == 1) {
      ctx.log.WriteLine("Write data exception in FileRecover. Can't write recovered file");
      return kWriteException;
    }
    if (code == 2) {
      ctx.log.WriteLine("Create result data exception in FileRecover. Patch too long");
      return kPathTooLong;
    }
    return kGeneralFailure;
  } catch (...) {
    if (ctx.Cancelled()) {
      ctx.log.WriteLine(kUserCancelled);
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

std::u16string MakeTempFileName(const LibrarySettings& settings) {
  // The work folder the host chose, else the system's temporary folder.
  std::u16string folder = settings.workFolder.empty() ? platform::TempFolder() : settings.workFolder;
  if (!folder.empty() && folder.back() != u'/') folder.push_back(u'/');
  std::u16string uuid = platform::NewUuidText();
  if (folder.empty() || uuid.empty()) return {};
  return folder + u"mw-" + uuid + u".tmp";
}

std::int32_t MakeOutputFileName(const LibrarySettings& settings, std::u16string_view folder, std::u16string_view input,
                                std::u16string& composed) {
  if (platform::CheckWritableFolder(folder) != 0) return kGeneralFailure;
  const OutputTarget target = OutputTarget::Composed(settings, folder, input);
  for (int n = 1; n <= target.Names(); ++n) {
    std::u16string candidate = target.Candidate(n);
    if (TooLongForTheSystem(candidate) || TooLongForTheSystem(target.Name(n))) return kPathTooLong;
    // A symbolic link, even a dangling one, counts as taken.
    if (platform::NameTaken(candidate) || platform::NameTaken(target.Name(n))) continue;
    composed = std::move(candidate);
    return kRecovered;
  }
  return kGeneralFailure;
}

std::int32_t RunFileRecover(RunContext& ctx, std::u16string_view input, std::u16string_view outputArg) {
  if (!ctx.settings.progressSet || !ctx.settings.logPathSet || !ctx.settings.statusSet) {
    ctx.settings.lastError = u"the library is not initialised: DllInitialize and SetLogPath come first";
    return kGeneralFailure;
  }
  ctx.settings.lastOutputPath.clear();
  ctx.settings.lastError.clear();
  ctx.settings.outputErrorNumber = 0;

  const bool logging = !ctx.settings.logPath.empty();
  if (logging) {
    OpenRunLog(ctx);
    ctx.log.WriteMachineInfo();
    ctx.log.WriteValue("Log file name:", Ansi(ctx.settings.logPath).c_str());
  }

  {
    platform::File in = platform::OpenForReading(input);
    if (!in.IsOpen()) return Fail(ctx, kGeneralFailure, u"open", input, platform::LastErrorNumber());
    auto size = in.Size();
    if (!size) return Fail(ctx, kGeneralFailure, u"read", input, platform::LastErrorNumber());
    if (*size == 0) return Fail(ctx, kNothingRecovered, u"the file is empty:", input, 0);
  }

  ctx.log.WriteLine("S: FileRecover()");
  ctx.SendProgress("", 0);
  ctx.ClearCancel();

  if (logging) {
    OpenRunLog(ctx);
    ctx.log.WriteValue("Log file name:", Ansi(ctx.settings.logPath).c_str());
  }

  // The output's folder and name are checked before the recovery starts.
  std::u16string output(outputArg);
  const bool composed = platform::IsFolder(output);
  const OutputTarget target =
      composed ? OutputTarget::Composed(ctx.settings, output, input) : OutputTarget::Given(output);
  if (int error = platform::CheckWritableFolder(target.Folder()); error != 0) {
    ctx.log.WriteError("Unable to create output file");
    return Fail(ctx, kGeneralFailure, u"output folder", target.Folder(), error);
  }
  if (composed) {
    std::u16string name;
    if (std::int32_t code = MakeOutputFileName(ctx.settings, output, input, name); code != kRecovered) {
      ctx.log.WriteError("Unable to create output file");
      return code == kPathTooLong ? Fail(ctx, code, u"output name too long:", target.Name(1), 0)
                                  : Fail(ctx, code, u"no free name for the output in", output, 0);
    }
    ctx.settings.lastOutputPath = XmlPathFor(name);
  } else {
    const std::u16string& name = target.Name(1);
    ctx.settings.lastOutputPath = name;
    if (TooLongForTheSystem(name)) return Fail(ctx, kPathTooLong, u"output name too long:", name, 0);
    if (platform::IsFolder(name)) return Fail(ctx, kGeneralFailure, u"output", name, EISDIR);
    if (!ctx.settings.replaceOutput && platform::NameTaken(name))
      return Fail(ctx, kGeneralFailure, u"output", name, EEXIST);
  }
  const std::u16string temporary = TemporaryDocumentName(target.Folder());
  if (temporary.empty()) return Fail(ctx, kGeneralFailure, u"no random name for the output's temporary file");
  if (TooLongForTheSystem(temporary)) return Fail(ctx, kPathTooLong, u"output name too long:", temporary, 0);
  // The work folder holds the rebuilt container.
  const std::u16string work = ctx.settings.workFolder.empty() ? platform::TempFolder() : ctx.settings.workFolder;
  if (int error = platform::CheckWritableFolder(work); error != 0)
    return Fail(ctx, kGeneralFailure, u"work folder", work, error);

  ctx.Status(StatusTexts::Pass1);
  ctx.log.WriteLine("Starting recovery...");
  ctx.settings.progressBase = 0;
  ctx.settings.progressSpan = 100;
  ctx.Progress(0, "Find file structure...");
  ctx.log.WriteLine(kSeparator);

  RepairedFile repaired(ctx, MakeTempFileName(ctx.settings));
  if (std::int32_t code = Salvage(ctx, input, repaired); code != kRecovered) {
    if (code == kNothingRecovered && ctx.settings.lastError.empty())
      Fail(ctx, code, u"no compound-file structure could be salvaged from", input, 0);
    return code;
  }
  PendingDocument document(temporary);
  bool parsed = false;
  std::int32_t result = Parse(ctx, repaired.Path(), document.Path(), parsed);
  if (result != kCancelled && ctx.settings.outputErrorNumber != 0) {
    // The document could not be created or written (a full disk): the
    // run's data are lost with it.
    const int error = ctx.settings.outputErrorNumber;
    return Fail(ctx, kWriteException, u"write", target.Name(1), error > 0 ? error : 0);
  }
  if (result == kRecovered) result = PlaceDocument(ctx, document, target);
  if (result == kNothingRecovered && ctx.settings.lastError.empty())
    Fail(ctx, result, u"neither tasks nor resources could be read from", input, 0);
  if (result != kRecovered) ctx.settings.lastOutputPath.clear();
  if (!parsed) return result;
  ctx.Status(StatusTexts::Done);
  ctx.settings.progressBase = 100;
  ctx.settings.progressSpan = 0;
  ctx.Progress(100, "");
  ctx.log.WriteLine(kSeparator);
  return result;
}
