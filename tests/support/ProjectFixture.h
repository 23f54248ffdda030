// Version 14 project files for tests, built record by record on top of the
// compound-file fixtures: backend storages with their VarMeta/Var2Data,
// FixedMeta/FixedData, Fixed2Meta and props streams, and the data
// storage's Props stream with its record sizes and field maps.
//
//   using namespace project_fixture;
//   const auto& tasks = mpp::BuiltInLayout14(mpp::RecordKind::Task);
//   BackendStorage taskStorage{u"TBkndTask"};
//   taskStorage.var = BuildVarData({{1, 14, Utf16z(u"Design")}});
//   taskStorage.fixed = BuildFixedData(mpp::RecordKind::Task,
//       {{Record(tasks, {Int(mpp::Field::TaskUID, 1), Int(mpp::Field::TaskID, 1)})}});
//   ProjectDescription project;
//   project.storages.push_back(taskStorage);
//   std::vector<std::uint8_t> file = BuildProject(project);
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "parse/FieldMap.h"
#include "parse/RecordLayout.h"
#include "support/CfbFixture.h"

namespace project_fixture {

using ByteVector = std::vector<std::uint8_t>;

// Little-endian writes into a byte vector that grows as needed.
class Bytes {
 public:
  explicit Bytes(std::size_t size = 0) : data_(size, 0) {}
  Bytes& U8(std::size_t offset, std::uint8_t value);
  Bytes& U16(std::size_t offset, std::uint16_t value);
  Bytes& U32(std::size_t offset, std::uint32_t value);
  Bytes& F64(std::size_t offset, double value);
  Bytes& Put(std::size_t offset, const ByteVector& bytes);
  std::size_t size() const { return data_.size(); }
  const ByteVector& data() const { return data_; }
  operator ByteVector() const { return data_; }

 private:
  void Reach(std::size_t end);
  ByteVector data_;
};

// UTF-16 text with its terminator, as var data stores texts.
ByteVector Utf16z(std::u16string_view text);
// Text bytes with their terminator, as var data stores notes.
ByteVector Bytesz(std::string_view text);

// One var-data item: the owner's UID, the property type, the value bytes
// (the builder writes their length before them).
struct VarItem {
  std::uint32_t owner = 0;
  std::uint32_t type = 0;
  ByteVector value;
};
struct VarStreams {
  ByteVector meta;  // VarMeta
  ByteVector data;  // Var2Data
};
VarStreams BuildVarData(const std::vector<VarItem>& items);
// Version 9 var data: 8-byte items of a 16-bit owner UID, the type in byte
// 3 and the value's position at 4.
VarStreams BuildVarData9(const std::vector<VarItem>& items);

// One field value of a record description.
struct FieldValue {
  mpp::Field field;
  bool isFloat = false;
  std::uint64_t integer = 0;
  double real = 0.0;
};
FieldValue Int(mpp::Field field, std::uint64_t value);
FieldValue Real(mpp::Field field, double value);
// A record of layout.recordSize bytes, zero but for the values given, each
// written at its place and width in the layout (fields the layout lacks
// fail the test).
ByteVector Record(const mpp::RecordLayout& layout, std::initializer_list<FieldValue> values);

// One fixed-data record and its FixedMeta item.
struct FixedItem {
  FixedItem(ByteVector recordBytes, std::uint8_t itemState = 0,
            std::optional<std::uint32_t> itemPosition = std::nullopt)
      : record(std::move(recordBytes)), state(itemState), position(itemPosition) {}
  ByteVector record;
  std::uint8_t state = 0;                 // item byte 0: 2 deleted, 4 or 6 free slot
  std::optional<std::uint32_t> position;  // where the item points; default: where the record is
  std::vector<std::pair<std::size_t, std::uint8_t>> metaBytes;  // further item bytes
};
struct FixedStreams {
  ByteVector meta;  // FixedMeta
  ByteVector data;  // FixedData
};
// Records are laid one after the other from firstPosition (48: after the
// free-slot area); the header declares validCount items (default: all).
FixedStreams BuildFixedData(mpp::RecordKind kind, const std::vector<FixedItem>& items,
                            std::size_t firstPosition = 48,
                            std::optional<std::uint32_t> validCount = std::nullopt);
// Fixed2Meta with the given 50-byte rows (shorter rows are padded).
ByteVector BuildFixed2Meta(const std::vector<ByteVector>& rows);

// Structured var-data values of resources and calendars, as VarItem::value
// wants them. BuildVarData writes the length word before a value; the
// readers count the places of rate and availability items from that word,
// so an item at place p of the block lies at p - 4 in the value.
struct RateItem {
  std::uint32_t from = 0;  // tenths of a minute since 1984
  double standardRate = 0.0;
  std::uint16_t standardFormat = 2;
  double overtimeRate = 0.0;
  std::uint16_t overtimeFormat = 2;
  double costPerUse = 0.0;  // hundredths of the currency
};
// A rate table value: a 12-byte head, the items, and the 4 bytes that
// follow them in the files (outside the block length).
ByteVector RateTableValue(const std::vector<RateItem>& items);
struct AvailabilityItem {
  std::uint32_t date = 0;
  double units = 0.0;  // hundredths of a percent
  std::uint8_t marker = 0xFF;
};
ByteVector AvailabilityValue(const std::vector<AvailabilityItem>& items);

// Calendar week data.
struct DayPeriod {
  std::uint16_t start = 0;  // tenths of a minute after midnight
  std::uint16_t length = 0;
  std::uint32_t extra = 0;
};
struct DayDescription {
  std::int16_t flag = 0;  // 1: from the base calendar (or the default week)
  std::vector<DayPeriod> periods;
  std::optional<std::uint16_t> count;  // default: the number of periods
  std::optional<std::uint16_t> total;  // default: the periods' lengths
};
DayDescription FromBaseDay();
DayDescription NonWorkingDay();
// Periods given as pairs of hours, 8-12 and 13-17 by default.
DayDescription WorkingDay(std::vector<std::pair<double, double>> hours = {{8, 12}, {13, 17}});
// One 60-byte day record.
ByteVector DayRecordBytes(const DayDescription& day);
struct ExceptionDescription {
  ExceptionDescription(std::uint16_t first, std::uint16_t last, DayDescription hours, std::u16string text,
                std::optional<std::uint32_t> length = std::nullopt)
      : firstDay(first), lastDay(last), day(std::move(hours)), name(std::move(text)), nameLength(length) {}
  std::uint16_t firstDay = 0;
  std::uint16_t lastDay = 0;
  DayDescription day;
  std::u16string name;  // written with its terminator
  std::optional<std::uint32_t> nameLength;  // default: the name's bytes
};
struct WorkWeekDescription {
  std::vector<DayDescription> days;  // seven
  std::uint16_t fromDay = 0;
  std::uint16_t toDay = 0;
  std::u16string name;
};
// Seven day records (Sunday first), the exceptions and the work weeks.
ByteVector WeekDataValue(const std::vector<DayDescription>& days,
                         const std::vector<ExceptionDescription>& exceptions = {},
                         const std::vector<WorkWeekDescription>& workWeeks = {});

// The custom field definitions block of a props stream, at blockStart.
struct AliasEntry {
  std::uint32_t fieldId = 0;
  std::u16string alias;
};
ByteVector CustomFieldProps(std::size_t blockStart, const std::vector<AliasEntry>& aliases);

// Props items and field maps.
struct PropsEntry {
  PropsEntry(std::uint32_t itemKey, ByteVector itemData, std::uint32_t itemExtra = 0)
      : key(itemKey), data(std::move(itemData)), extra(itemExtra) {}
  std::uint32_t key = 0;
  ByteVector data;
  std::uint32_t extra = 0;
};
ByteVector BuildProps(const std::vector<PropsEntry>& items);
ByteVector FieldMapBytes(const std::vector<mpp::FieldMapEntry>& entries);
// The record size item and the field map item that describe layout, as a
// file whose records follow it carries them.
std::vector<PropsEntry> MapItemsFor(const mpp::RecordLayout& layout);

// Assignment and link records as the file stores them: work in hundredths
// of a tenth of a minute, money in hundredths of the currency unit.
struct AssignmentValues {
  std::uint32_t uid = 0;
  std::uint32_t task = 0;
  std::uint32_t resource = 0;
  double units = 10000;          // hundredths of a percent
  std::uint32_t work = 0;        // tenths of a minute
  std::uint32_t actualWork = 0;  // tenths of a minute
  double cost = 0;               // currency
  std::uint32_t start = 0xFFFFFFFF;
  std::uint32_t finish = 0xFFFFFFFF;
};
ByteVector AssignmentRecord(const mpp::RecordLayout& layout, const AssignmentValues& values);
struct LinkValues {
  std::uint32_t uid = 0;
  std::uint32_t predecessor = 0;
  std::uint32_t successor = 0;
  std::uint32_t type = 1;
  std::int32_t lag = 0;  // tenths of a minute
  std::uint32_t lagFormat = 7;
};
ByteVector LinkRecord(const mpp::RecordLayout& layout, const LinkValues& values);

struct BackendStorage {
  explicit BackendStorage(std::u16string storageName) : name(std::move(storageName)) {}
  std::u16string name;
  std::optional<VarStreams> var;
  std::optional<FixedStreams> fixed;
  std::optional<ByteVector> fixed2Meta;
  std::optional<ByteVector> props;  // the storage's own "props" stream
  std::vector<fixture::Node> extra;
  fixture::Node ToNode() const;
};

// "TBkndAssn" and "TBkndCons" with the given FixedMeta items.
BackendStorage AssignmentStorage(const std::vector<FixedItem>& items,
                                 std::optional<std::uint32_t> validCount = std::nullopt);
BackendStorage LinkStorage(const std::vector<FixedItem>& items,
                           std::optional<std::uint32_t> validCount = std::nullopt);

struct ProjectDescription {
  std::vector<BackendStorage> storages;
  std::optional<ByteVector> props;  // "   114/Props"
  // False: the backend storages sit in the root, as in a file whose data
  // storage was lost.
  bool dataStorage = true;
  // "   112" or "   19" for version 12 and 9 files.
  std::u16string dataStorageName = u"   114";
  // Version 12 and 9 files: the view storage ("   212", "   29") and the
  // storages in it.
  std::u16string viewStorageName;
  std::vector<fixture::Node> views;
};

fixture::Node ProjectRoot(const ProjectDescription& project);
ByteVector BuildProject(const ProjectDescription& project);

}  // namespace project_fixture
