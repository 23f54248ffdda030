#include "parse/MppParser14.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <exception>
#include <span>

#include "parse/AssnStorageParser.h"
#include "parse/Baselines.h"
#include "parse/CalendarParser.h"
#include "parse/KnownLayouts.h"
#include "parse/ProjectProperties.h"
#include "parse/ProjectProps.h"
#include "parse/OutlineCodes.h"
#include "parse/PropsParser.h"
#include "parse/RscStorageParser.h"
#include "parse/StreamLoader.h"
#include "parse/TaskStorageParser.h"
#include "parse/VarItems.h"
#include "parse/ViewStorageParser.h"
#include "platform/Text.h"

namespace {

using platform::ElementId;

// The backend storages, in the order they are read: assignments and links
// need no task or resource to be known, and the custom field definitions
// of resources and tasks come before their values.
constexpr std::array<std::u16string_view, 6> kBackendStorages = {
    u"TBkndAssn", u"TBkndCal", u"TBkndCons", u"TBkndOutlCode", u"TBkndRsc", u"TBkndTask"};
constexpr std::array<std::u16string_view, 6> kViewStorages = {
    u"CCommandBar", u"CEdl", u"CFilter", u"CGrouping", u"CMap", u"CReport"};
// The view storages of versions 9 and 12; "CEdl" and "CV_iew" hold the
// edit list and the views, neither of which reaches the document.
constexpr std::array<std::u16string_view, 10> kOlderViewStorages = {
    u"CCommandBar", u"CEdl", u"CFilter", u"CGrouping", u"CMap",
    u"CReport",     u"CTable", u"CToolbar", u"CV_iew", u"CWindow"};

// Each storage has this much of the overall progress.
constexpr std::uint32_t kStorageSpan = 16;

std::string Ansi(std::u16string_view text) { return platform::Utf16ToAnsi(text); }

}  // namespace

CMppParser_14::CMppParser_14(RunContext& ctx, std::u16string repairedPath)
    : CMppParser_14(ctx, FileFormat{}, std::move(repairedPath), nullptr, {}) {}

CMppParser_14::CMppParser_14(RunContext& ctx, std::u16string repairedPath, model::Project& project,
                             DocumentStep document)
    : CMppParser_14(ctx, FileFormat{}, std::move(repairedPath), &project, std::move(document)) {}

CMppParser_14::CMppParser_14(RunContext& ctx, FileFormat format, std::u16string repairedPath, model::Project* project,
                             DocumentStep document)
    : ctx_(ctx),
      format_(format),
      path_(std::move(repairedPath)),
      owned_(project ? nullptr : std::make_unique<model::Project>()),
      project_(project ? *project : *owned_),
      document_(std::move(document)) {
  ctx_.log.WriteLine("Starting MppParser..");
}

int CMppParser_14::GenerateMainXML() { return document_.write ? document_.write() : 0; }

void CMppParser_14::CloseOutput() {
  if (document_.close) document_.close();
}

CMppParser_14::~CMppParser_14() {
  reader_.reset();
  ctx_.log.WriteLine("MppParser is closed.");
}

int CMppParser_14::Cancelled() {
  ctx_.log.WriteLine(mpp::kUserCancelledLine);
  CloseOutput();
  return -1000;
}

void CMppParser_14::ReadLayouts(ElementId dataStorage) {
  mpp::LoadedStream props;
  if (mpp::LoadStream(ctx_.log, *reader_, dataStorage, u"Props", props)) {
    maps_ = mpp::ReadFieldMaps(props.View());
    if (auto links = mpp::ReadProjectLinks(props.View())) {
      project_.projectLinks = links->count;
      project_.insertedProjects = std::move(links->insertedProjects);
      project_.linksComplete = links->complete;
    }
  } else {
    props.bytes.clear();
    mpp::LogMissingStream(ctx_.log, u"Props");
    maps_.reset();
  }
  application_ = mpp::ApplicationVersion(*reader_);
  project_.applicationVersion = application_;
  const mpp::LayoutHints hints{format_.version, application_};
  for (std::size_t k = 0; k < mpp::kRecordKinds; ++k) {
    const auto kind = static_cast<mpp::RecordKind>(k);
    // The records themselves judge the map and the known layouts.
    std::vector<std::uint8_t> meta, data;
    if (auto storage = reader_->OpenStorage(dataStorage, mpp::StorageName(kind))) {
      auto metaStream = reader_->OpenStream(*storage, u"FixedMeta");
      auto dataStream = reader_->OpenStream(*storage, u"FixedData");
      if (!metaStream || !dataStream || !reader_->ReadStream(*metaStream, meta) ||
          !reader_->ReadStream(*dataStream, data)) {
        meta.clear();
        data.clear();
      }
    }
    std::string why;
    const mpp::RecordLayout& layout = layouts_.layouts[k] = mpp::ChooseRecordLayout(
        kind, maps_ ? mpp::LayoutFromMap(kind, *maps_) : std::nullopt, hints,
        platform::ByteView(meta.data(), meta.size()),
        platform::ByteView(data.data(), data.size()), &why);
    const std::string name = mpp::KnownLayoutName(layout).value_or("its own");
    ctx_.log.WriteFormat("    Record layout of %s: %s %s, %u bytes, %zu fields; %s",
                         Ansi(mpp::StorageName(layout.kind)).c_str(),
                         layout.source == mpp::RecordLayout::Source::FileMap ? "file map," : "known layout",
                         name.c_str(), layout.recordSize, layout.fields.size(), why.c_str());
  }
  outlineLayout_ = mpp::OutlineCodeLayoutOf(props.View(), LaterApplication(mpp::RecordKind::Task));
}

int CMppParser_14::Parse(StatusFunction status) {
  try {
    if (ctx_.Cancelled()) return Cancelled();
    ctx_.log.WriteLine("Trying to open source file...");
    reader_ = platform::CompoundFileReader::Open(path_);
    if (!reader_) {
      ctx_.log.WriteError("Compound File not detected.");
      return -1;
    }
    if (ctx_.Cancelled()) return Cancelled();
    if (status) {
      status(ctx_.settings.Status(StatusTexts::Done).c_str());
      status(ctx_.settings.Status(StatusTexts::Pass3).c_str());
    }

    // The data storage, then (versions 9 and 12) the view storage; a
    // storage that cannot be opened is looked for in the root instead.
    const std::pair<std::u16string_view, int> storages[] = {{format_.dataStorage, kParseBackend},
                                                            {format_.viewStorage, kVisitViews}};
    for (const auto& [name, mode] : storages) {
      if (name.empty()) continue;
      const std::string ansi = Ansi(name);
      ctx_.log.WriteValue("Opening storage:", ansi.c_str());
      ElementId where = platform::kRootElement;
      auto opened = reader_->OpenStorage(platform::kRootElement, name);
      if (opened) {
        where = *opened;
      } else {
        ctx_.log.WriteErrorValue("Can't open storage: ", ansi.c_str());
      }
      if (mode == kParseBackend) {
        ReadLayouts(where);
        mpp::ReadProjectProperties(ctx_.log, *reader_, where, project_.props);
      }
      const int result = MainStorageParser(where, mode);
      if (opened) {
        ctx_.log.WriteValue(format_.storageClosed, ansi.c_str());
        ctx_.log.WriteLine("curStorage->Release()");
      }
      if (result == -1000) return result;
    }
    ctx_.log.WriteLine("psl->Release()");
    if (format_.version != 14) return FinishOlder(status);

    ctx_.Progress(90, "Saving recovered data...");
    if (status) {
      status(ctx_.settings.Status(StatusTexts::Done).c_str());
      status(ctx_.settings.Status(StatusTexts::Pass4).c_str());
    }

    if (project_.Tasks().empty() && project_.Resources().empty()) {
      GenerateMainXML();
      return -3;
    }
    const int generated = GenerateMainXML();
    if (generated == -1000) {
      ctx_.log.WriteError("User break was thrown in GenerateMainXML()");
      return Cancelled();
    }
    if (generated != 0) {
      ctx_.log.WriteError("    Function GenerateMainXML() failed!");
      return -2;
    }
    return 0;
  } catch (...) {
    ctx_.log.WriteLine("User break was thrown if Parser()");
    std::exception_ptr error = std::current_exception();
    bool breakSeen = ctx_.Cancelled();
    try {
      std::rethrow_exception(error);
    } catch (int code) {
      breakSeen = breakSeen || code == mpp::kBreakException;
    } catch (...) {
    }
    if (breakSeen) return Cancelled();
    // Not the host's cancel: memory ran out or a reader failed. That is a
    // failed run, not a cancelled one.
    ctx_.log.WriteError("Parsing ended by an error");
    CloseOutput();
    return -2;
  }
}

int CMppParser_14::FinishOlder(StatusFunction status) {
  if (status) {
    status(ctx_.settings.Status(StatusTexts::Done).c_str());
    status(ctx_.settings.Status(StatusTexts::Pass4).c_str());
  }
  if (project_.Tasks().empty() && project_.Resources().empty()) {
    ctx_.log.WriteLine("    Task and Resource object can't be found!");
    GenerateMainXML();
    return -3;
  }
  const int generated = GenerateMainXML();
  if (generated == -1000) {
    ctx_.log.WriteLine("    User break was thrown in saving data");
    return -1000;
  }
  if (generated != 0) {
    ctx_.log.WriteLine("    Function GenerateMainXML() failed!");
    return -2;
  }
  ctx_.log.WriteLine("    Function Parser() close.");
  return 0;
}

bool CMppParser_14::LaterApplication(mpp::RecordKind kind) const {
  // The applications after 2010 moved the flag bits of version 14 files;
  // when a file does not say which application saved it, the layout its
  // records read with does.
  if (format_.version != 14) return false;
  if (application_ != 0) return application_ > 14;
  const auto name = mpp::KnownLayoutName(layouts_.Of(kind));
  return name == std::optional<std::string>("T202") || name == std::optional<std::string>("R172b") ||
         name == std::optional<std::string>("A110b");
}

void CMppParser_14::ParseTasks(ElementId storage) {
  // Versions 9 and 12 replace values out of range by the defaults.
  mpp::TaskValueRules rules = format_.version == 14 ? mpp::kTaskValueRules14 : mpp::kTaskValueRules9;
  const mpp::RecordLayout& layout = layouts_.Of(mpp::RecordKind::Task);
  if (LaterApplication(mpp::RecordKind::Task)) rules.flags = mpp::kTaskFlags14Later;
  mpp::TaskStorageParser(ctx_, *reader_, storage, layout, project_, nullptr, rules);
  mpp::BaselineVarParser(ctx_, *reader_, storage, mpp::RecordKind::Task, format_.version, project_, Maps());
}

void CMppParser_14::ParseAssignments(ElementId storage) {
  const mpp::AssignmentItemBits& bits = format_.version != 14 ? mpp::kAssignmentBits9
                                        : LaterApplication(mpp::RecordKind::Assignment)
                                            ? mpp::kAssignmentBits14Later
                                            : mpp::kAssignmentBits14;
  mpp::AssnStorageParser(ctx_, *reader_, storage, layouts_.Of(mpp::RecordKind::Assignment), project_, &bits);
  mpp::AssnVarParser(ctx_, *reader_, storage, nullptr, project_);
  mpp::BaselineVarParser(ctx_, *reader_, storage, mpp::RecordKind::Assignment, format_.version, project_, Maps());
}

void CMppParser_14::ParseLinks(ElementId storage) {
  mpp::ConsStorageParser(ctx_, *reader_, storage, layouts_.Of(mpp::RecordKind::Link), project_);
}

void CMppParser_14::ParseCalendars(ElementId storage) {
  mpp::CalendarParser(ctx_, *reader_, storage, layouts_.Of(mpp::RecordKind::Calendar), project_);
}

void CMppParser_14::ParseResources(ElementId storage) {
  mpp::RscStorageParser(
      ctx_, *reader_, storage, layouts_.Of(mpp::RecordKind::Resource), project_, nullptr,
      LaterApplication(mpp::RecordKind::Resource) ? mpp::kResourceBits14Later : mpp::kResourceBits12);
  mpp::BaselineVarParser(ctx_, *reader_, storage, mpp::RecordKind::Resource, format_.version, project_, Maps());
}

void CMppParser_14::RunStep(std::size_t step, ElementId storage) {
  // For the loss report: which backend storages the file still had.
  model::ReadTally& tally = project_.tally;
  model::StorageTally* found[] = {&tally.assignments, &tally.calendars, &tally.links, nullptr, &tally.resources,
                                  &tally.tasks};
  if (step < std::size(found) && found[step]) found[step]->storageFound = true;
  switch (step) {
    case 0: ParseAssignments(storage); break;
    case 1: ParseCalendars(storage); break;
    case 2: ParseLinks(storage); break;
    case 3:
      outlineCodes_ = mpp::ReadOutlineCodeStorage(ctx_, *reader_, storage, format_.version, outlineLayout_);
      break;
    case 4:
      // Versions 9 and 12 keep no custom field definitions.
      if (format_.version == 14) mpp::PropsParser(ctx_, *reader_, storage, project_);
      ParseResources(storage);
      break;
    case 5:
      if (format_.version == 14) mpp::PropsParser(ctx_, *reader_, storage, project_);
      ParseTasks(storage);
      break;
    default: break;
  }
}

int CMppParser_14::MainStorageParser(ElementId storage, int mode) {
  try {
    if (mode == kVisitViews) {
      const std::span<const std::u16string_view> views =
          format_.version == 14 ? std::span<const std::u16string_view>(kViewStorages) : kOlderViewStorages;
      std::optional<mpp::VarItemFormat> narrow;
      if (format_.version == 9) narrow = mpp::ViewItemFormat9();
      for (std::u16string_view name : views) {
        if (ctx_.Cancelled()) return Cancelled();
        const std::string ansi = Ansi(name);
        ctx_.log.WriteValue("  Opening storage:", ansi.c_str());
        auto view = reader_->OpenStorage(storage, name);
        if (!view) {
          ctx_.log.WriteErrorValue("  Can't open storage: ", ansi.c_str());
          continue;
        }
        // Versions 9 and 12 read the edit list and the views.
        const mpp::VarItemFormat* items = narrow ? &*narrow : nullptr;
        if (format_.version != 14 && name == u"CEdl") mpp::EdlParser(ctx_, *reader_, *view, project_, items);
        if (format_.version != 14 && name == u"CV_iew") mpp::ViewParser(ctx_, *reader_, *view, project_, items);
        ctx_.log.WriteValue("  Storage closed: ", ansi.c_str());
      }
      if (format_.version != 14) ctx_.log.WriteLine("    Function MainStorageParser() close.");
      return 0;
    }

    if (format_.version != 14) mpp::ScanProjectProps(ctx_.log, *reader_, storage, format_.version);

    // Storage i starts at base + i/5 of 80 points, so that the last one
    // starts at base + 80, and has at most kStorageSpan of its own.
    const std::uint32_t base = ctx_.settings.progressBase;
    for (std::size_t i = 0; i < kBackendStorages.size(); ++i) {
      if (ctx_.Cancelled()) return Cancelled();
      const std::u16string_view name = kBackendStorages[i];
      const std::string ansi = Ansi(name);
      ctx_.log.WriteValue("  Opening storage:", ansi.c_str());

      const float offset = static_cast<float>(static_cast<double>(i) / 5.0 * 80.0);
      std::uint32_t percent = base + static_cast<std::uint32_t>(offset);
      if (percent > 100) percent = 100;
      char text[300];
      std::snprintf(text, sizeof text, "Parse OLE storage: %s", ansi.c_str());
      ctx_.Progress(static_cast<std::int32_t>(percent), text);
      ctx_.settings.progressBase = percent;
      ctx_.settings.progressSpan = std::min<std::uint32_t>(kStorageSpan, 100 - percent);

      auto child = reader_->OpenStorage(storage, name);
      if (!child) {
        ctx_.log.WriteErrorValue("  Can't open storage: ", ansi.c_str());
        continue;
      }
      RunStep(i, *child);
      ctx_.log.WriteValue("  Storage closed: ", ansi.c_str());
    }
    // Tasks and resources keep their outline codes' indexes until the
    // storage that names them has been read.
    mpp::ResolveOutlineCodeValues(ctx_, outlineCodes_, format_.version, project_);
    if (format_.version != 14) ctx_.log.WriteLine("    Function MainStorageParser() close.");
    return 0;
  } catch (...) {
    ctx_.log.WriteLine("User break was thrown if MainStorageParser()");
    throw;
  }
}
