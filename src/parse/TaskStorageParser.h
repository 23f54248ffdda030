// The reader of the task storage "TBkndTask" of version 14 files, in three
// passes over the model's task list:
//
//   var pass      VarMeta/Var2Data: names (type 14), notes (15) and WBS
//                 codes (16) make the tasks; items of custom fields become
//                 custom field values of their task
//   fixed pass    FixedMeta/FixedData: each live record completes the task
//                 of its UID through the file's task layout; blank rows
//                 (tasks without data) and records whose task had no var
//                 data become tasks of their own
//   outline pass  IDs in outline order, outline numbers, summary marks; the
//                 list ends sorted by ID
//
// Each pass is linear in its stream (plus hashing); UIDs are looked up in
// the model's index, first match winning.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_set>

#include "base/RunContext.h"
#include "model/Project.h"
#include "parse/RecordLayout.h"
#include "parse/StreamLoader.h"
#include "platform/ByteView.h"
#include "platform/CompoundFile.h"

namespace mpp {

struct VarItemFormat;

// Low 16 bits of the VarMeta type of the task texts.
inline constexpr std::uint16_t kTaskNameType = 14;
inline constexpr std::uint16_t kTaskNotesType = 15;
inline constexpr std::uint16_t kTaskWbsType = 16;
// The start, finish and duration texts of manually scheduled tasks.
inline constexpr std::uint16_t kTaskStartTextType = 1285;
inline constexpr std::uint16_t kTaskFinishTextType = 1286;
inline constexpr std::uint16_t kTaskDurationTextType = 1287;
// The recurrence pattern of a recurring task (its occurrences are its
// children and have none).
inline constexpr std::uint16_t kTaskRecurrenceType = 203;
// The formats of the custom durations (u16 var items beside the values):
// Duration1-3 (field index 103-105) at 183-185, Duration4-10 (275-281) at
// 337-343.
struct DurationFormatRun {
  std::uint16_t firstFormatType;
  std::uint16_t firstDurationField;  // low 16 bits of the field id
  std::uint8_t count;
};
inline constexpr DurationFormatRun kTaskDurationFormats[] = {{183, 103, 3}, {337, 275, 7}};
// The hyperlink: one var item holding its texts. After a 12-byte header,
// each text is [u32 byte length][u32 part][u32 kind][UTF-16 text]; part 0
// is the shown text, 1 the address, 2 the sub-address.
inline constexpr std::uint16_t kTaskHyperlinkType = 215;
struct HyperlinkItemLayout {
  std::size_t header = 12;
  std::size_t textHeader = 12;
  std::size_t lengthOffset = 0;
  std::size_t partOffset = 4;
  std::size_t mostTexts = 8;  // a damaged item is read no further
};
inline constexpr HyperlinkItemLayout kHyperlinkItem{};
// Overtime values kept as var data (f64): work as minutes x 1000, cost as
// currency x 100.
inline constexpr std::uint16_t kTaskActualOvertimeWorkType = 164;
inline constexpr std::uint16_t kTaskRemainingOvertimeWorkType = 165;
inline constexpr std::uint16_t kTaskOvertimeCostType = 168;
inline constexpr std::uint16_t kTaskActualOvertimeCostType = 169;
inline constexpr std::uint16_t kTaskRemainingOvertimeCostType = 170;
// Status values kept as var data only where they are not 0: physical
// percent complete, earned value method and deliverable type (u16), the
// protected actual and overtime work (f64, minutes x 1000) and the task of
// another project that this one stands for (u32, 0 none). Version 9 keeps
// them inside binary values: [u32 size][u32 count], then count x [u32 field
// id][u32 offset from the value's start].
inline constexpr std::uint16_t kTaskPhysicalPercentType = 1119;
inline constexpr std::uint16_t kTaskEarnedValueMethodType = 1122;
inline constexpr std::uint16_t kTaskActualWorkProtectedType = 1139;
inline constexpr std::uint16_t kTaskActualOvertimeWorkProtectedType = 1140;
inline constexpr std::uint16_t kTaskDeliverableType = 1147;
inline constexpr std::uint16_t kTaskExternalTaskType = 255;
struct FieldBlobLayout {
  std::size_t header = 8;
  std::size_t countOffset = 4;
  std::size_t pair = 8;
};
inline constexpr FieldBlobLayout kFieldBlob{};
// A blank row's slot starts with the UID of its task (u32).
inline constexpr std::size_t kBlankSlotUid = 0;
// Free slots start with their number in the low and 0xFFFF in the high
// half.
inline constexpr std::uint32_t kFreeSlotMask = 0xFFFF0000;
// Children deeper than this below a top-level task get no outline number.
inline constexpr std::size_t kMaxOutlineDepth = 255;

// What a value out of its range is replaced by. Version 14 gives 0;
// versions 9 and 12 give the application's defaults, a priority of 500 and
// a percent complete of 50.
// The flag bits beside the records differ by format and application.
struct TaskValueRules {
  std::uint32_t priorityOutOfRange = 0;
  std::uint32_t percentOutOfRange = 0;
  TaskFlagBits flags = kTaskFlags14;
};
inline constexpr TaskValueRules kTaskValueRules14{};
inline constexpr TaskValueRules kTaskValueRules9{500, 50, kTaskFlags9};

struct TaskVarCounts {
  std::size_t items = 0;
  std::size_t skipped = 0;  // value outside Var2Data or empty
  std::size_t texts = 0;    // names, notes and WBS codes taken
  std::size_t overtime = 0;  // overtime work and cost values taken
  std::size_t hyperlinks = 0;
  std::size_t durationFormats = 0;
  std::size_t recurrences = 0;
  std::size_t customValues = 0;
  std::size_t statusValues = 0;  // status values taken, in binary values too
  std::size_t other = 0;  // types this reader does not take
};

struct TaskFixedCounts {
  std::size_t items = 0;  // the valid items walked, and those a cut-short FixedMeta lost
  std::size_t records = 0;  // live records read into a task
  std::size_t blankRows = 0;
  std::size_t freeSlots = 0;  // blank items beyond the free-slot area that are free slots
  std::size_t deleted = 0;
  std::size_t unreadable = 0;  // position before the records or record outside FixedData
  std::size_t duplicates = 0;  // a second record for a UID already filled
  std::size_t created = 0;     // tasks made by this pass (no var data)
  std::size_t deletedNames = 0;  // tasks of deleted records that only a name had made
  std::size_t standIns = 0;      // garbled items read as the records around them place them
  std::size_t cutShort = 0;  // records read as far as the end of a cut stream reaches
  bool countLost = false;  // FixedMeta lost its header, and with it how many records it listed
};

// The links of the project to other files (inserted projects, a resource
// pool) are one Props item: [u32 size][u32 n], n table entries of [u16
// offset][u16 tag]. The first entry's offset holds the u32 number of
// links; the tag of each other entry is link x 0x40 + part: 0x10 the UID
// of the task an inserted project stands for (u32), 0x20 the file, as a
// file moniker.
inline constexpr std::uint32_t kProjectLinksKey = 0x024000A2;
struct ProjectLinksLayout {
  std::size_t tableCount = 4;
  std::size_t firstEntry = 8;
  std::size_t entrySize = 4;
  std::uint16_t linkStride = 0x40;
  std::uint16_t taskPart = 0x10;
  std::uint16_t filePart = 0x20;
  std::uint32_t mostLinks = 4096;  // a larger count is damage
};
inline constexpr ProjectLinksLayout kProjectLinks{};
// A file moniker: CLSID (16), u16, u32 length of the ANSI path @18, the
// path; then u16, u16 0xDEAD, 20 reserved bytes, u32 size of the rest
// (0: none), u32 bytes of the UTF-16 path, u16, the UTF-16 path.
struct FileMonikerLayout {
  std::size_t ansiLength = 18;
  std::size_t ansiPath = 22;
  std::size_t versionAfterAnsi = 2;
  std::uint16_t version = 0xDEAD;
  std::size_t restSizeAfterAnsi = 24;
  std::size_t unicodeBytesAfterAnsi = 28;
  std::size_t unicodePathAfterAnsi = 34;
};
inline constexpr FileMonikerLayout kFileMoniker{};

struct ProjectLinks {
  std::uint32_t count = 0;
  std::vector<std::pair<std::uint32_t, std::u16string>> insertedProjects;
  bool complete = false;  // every table entry read and every link placed
};
// Nothing when the stream lacks a whole item or its count.
std::optional<ProjectLinks> ReadProjectLinks(platform::ByteView propsStream);
// The path a file moniker names: the UTF-16 one, else the ANSI one.
std::optional<std::u16string> FileMonikerPath(platform::ByteView moniker);

// A var value whose task may only come with the fixed pass (overtime,
// custom duration formats, recurrence): values alone make no task.
struct PendingTaskValue {
  std::uint32_t uid = 0;
  std::uint16_t type = 0;
  double stored = 0.0;
};

// The var pass. progress may be null. Overtime values go to pending when
// given (to be placed by PlacePendingTaskValues once the fixed pass has
// run), else straight to the tasks already listed. blobFields (version 9)
// names the binary values that hold status values. Throws kBreakException
// on a break.
TaskVarCounts ReadTaskVarData(RunContext& ctx, platform::ByteView varMeta, platform::ByteView var2Data,
                              model::Project& gen, StreamProgress* progress = nullptr,
                              std::vector<PendingTaskValue>* pending = nullptr,
                              const std::unordered_set<std::uint32_t>* blobFields = nullptr);
// Puts each pending value into its task, when the project lists it;
// returns how many found their task.
std::size_t PlacePendingTaskValues(const std::vector<PendingTaskValue>& pending, model::Project& gen);
// The fixed pass, reading records through layout; fixed2Meta, when the
// storage has one, gives the rows of the mode and active bits, and with
// fixed2Data the tasks' GUIDs. progress
// may be null. Throws kBreakException on a break.
TaskFixedCounts ReadTaskFixedData(RunContext& ctx, platform::ByteView fixedMeta, platform::ByteView fixedData,
                                  const RecordLayout& layout, model::Project& gen, StreamProgress* progress = nullptr,
                                  const TaskValueRules& rules = kTaskValueRules14,
                                  std::optional<platform::ByteView> fixed2Meta = std::nullopt,
                                  std::optional<platform::ByteView> fixed2Data = std::nullopt);
// The outline pass. Throws kBreakException on a break.
void OutlineNumberParser(RunContext& ctx, model::Project& gen);

// Reads the storage's four streams with the three passes. A missing pair
// of streams leaves its pass out (logged); the other pass and the outline
// pass still run, so that what is left of the storage is kept. Logs and rethrows a break or allocation failure.
void TaskStorageParser(RunContext& ctx, const platform::CompoundFileReader& reader, platform::ElementId storage,
                       const RecordLayout& layout, model::Project& gen, const VarItemFormat* varFormat = nullptr,
                       const TaskValueRules& rules = kTaskValueRules14,
                       const std::unordered_set<std::uint32_t>* blobFields = nullptr);

}  // namespace mpp
