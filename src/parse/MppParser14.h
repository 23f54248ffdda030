// The reader of version 14 project files: opens the repaired compound file,
// reads the file's record layouts from its Props stream, and visits the
// backend storages of the data storage "   114" in a fixed order, each in
// its own window of the overall progress.
//
// Every storage reader is here: assignments, calendars, links, resources
// (with the custom field definitions of their storage) and tasks. The parse
// fills a project model; its last step, writing the document of that model,
// is the caller's (DocumentStep): a parser made without one writes nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/RunContext.h"
#include "model/Project.h"
#include "parse/FieldMap.h"
#include "parse/OutlineCodes.h"
#include "platform/CompoundFile.h"

using StatusFunction = std::function<void(const char* text)>;

// The parse's last step, given by its caller: write the document of the
// model read (0, kCancelled, or another failure), and close the document's
// file early (the parse was cancelled or failed). Either may be empty.
struct DocumentStep {
  std::function<int()> write;
  std::function<void()> close;
};

// What sets the file versions apart in the driver: the storages read and
// the wording of a few log lines. The storage readers are shared.
struct FileFormat {
  int version = 14;
  std::u16string_view dataStorage = u"   114";
  std::u16string_view viewStorage;  // read in kVisitViews mode when not empty
  const char* storageClosed = "Storage closed: ";
};

class CMppParser_14 {
 public:
  // Mode of MainStorageParser.
  static constexpr int kParseBackend = 0;
  static constexpr int kVisitViews = 1;

  // A parser that fills a model of its own and writes nothing.
  CMppParser_14(RunContext& ctx, std::u16string repairedPath);
  CMppParser_14(RunContext& ctx, std::u16string repairedPath, model::Project& project, DocumentStep document);
  virtual ~CMppParser_14();
  CMppParser_14(const CMppParser_14&) = delete;
  CMppParser_14& operator=(const CMppParser_14&) = delete;

  // 0; -1 not a compound file; -2 the document could not be written or
  // the parse ran out of memory; -3 neither a task nor a resource was read;
  // -1000 cancelled.
  int Parse(StatusFunction status);

  // Visits the backend storages of storage (mode kParseBackend) or opens
  // and closes the view storages (kVisitViews). 0, or -1000 on a break seen
  // before a storage. Exceptions from the storage readers pass through.
  int MainStorageParser(platform::ElementId storage, int mode);

  model::Project& Model() { return project_; }
  const mpp::FileLayouts& Layouts() const { return layouts_; }

 protected:
  CMppParser_14(RunContext& ctx, FileFormat format, std::u16string repairedPath, model::Project* project,
                DocumentStep document);
  RunContext& Run() const { return ctx_; }
  const FileFormat& Format() const { return format_; }
  // The field maps of the data storage's Props; null when it had none.
  const mpp::FieldMaps* Maps() const { return maps_ ? &*maps_ : nullptr; }

  // The storage readers, run in this order by MainStorageParser.
  virtual void ParseAssignments(platform::ElementId storage);
  virtual void ParseCalendars(platform::ElementId storage);
  virtual void ParseLinks(platform::ElementId storage);
  virtual void ParseResources(platform::ElementId storage);
  virtual void ParseTasks(platform::ElementId storage);
  // The caller's part: writing the document (0, -1000, or another failure)
  // and closing its file.
  int GenerateMainXML();
  void CloseOutput();

  const platform::CompoundFileReader& Reader() const { return *reader_; }

 private:
  int Cancelled();
  // Version 14 written by an application after 2010 (flag bits moved).
  bool LaterApplication(mpp::RecordKind kind) const;
  // Versions 9 and 12: the end of Parse once both storages are read.
  int FinishOlder(StatusFunction status);
  void ReadLayouts(platform::ElementId dataStorage);
  void RunStep(std::size_t step, platform::ElementId storage);

  RunContext& ctx_;
  FileFormat format_;
  std::u16string path_;
  std::unique_ptr<model::Project> owned_;  // the model of a parser made without one
  model::Project& project_;
  DocumentStep document_;
  std::unique_ptr<platform::CompoundFileReader> reader_;
  mpp::FileLayouts layouts_ = mpp::FileLayouts::BuiltIn();
  std::optional<mpp::FieldMaps> maps_;
  // The outline code storage: its record layout and what it holds.
  mpp::OutlineCodeLayout outlineLayout_;
  mpp::OutlineCodeTable outlineCodes_;
  // The major version of the application that saved the file (0: unknown).
  int application_ = 0;
};
