#include "support/ProjectFixture.h"

#include <gtest/gtest.h>

#include <bit>

#include "parse/StreamRecords.h"

namespace project_fixture {

void Bytes::Reach(std::size_t end) {
  if (data_.size() < end) data_.resize(end, 0);
}

Bytes& Bytes::U8(std::size_t offset, std::uint8_t value) {
  Reach(offset + 1);
  data_[offset] = value;
  return *this;
}

Bytes& Bytes::U16(std::size_t offset, std::uint16_t value) {
  Reach(offset + 2);
  for (std::size_t i = 0; i < 2; ++i) data_[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  return *this;
}

Bytes& Bytes::U32(std::size_t offset, std::uint32_t value) {
  Reach(offset + 4);
  for (std::size_t i = 0; i < 4; ++i) data_[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  return *this;
}

Bytes& Bytes::F64(std::size_t offset, double value) {
  Reach(offset + 8);
  const auto bits = std::bit_cast<std::uint64_t>(value);
  for (std::size_t i = 0; i < 8; ++i) data_[offset + i] = static_cast<std::uint8_t>(bits >> (8 * i));
  return *this;
}

Bytes& Bytes::Put(std::size_t offset, const ByteVector& bytes) {
  Reach(offset + bytes.size());
  std::copy(bytes.begin(), bytes.end(), data_.begin() + static_cast<std::ptrdiff_t>(offset));
  return *this;
}

ByteVector Utf16z(std::u16string_view text) {
  Bytes out;
  for (std::size_t i = 0; i < text.size(); ++i) out.U16(2 * i, text[i]);
  out.U16(2 * text.size(), 0);
  return out;
}

ByteVector Bytesz(std::string_view text) {
  ByteVector out(text.begin(), text.end());
  out.push_back(0);
  return out;
}

VarStreams BuildVarData(const std::vector<VarItem>& items) {
  Bytes meta(mpp::kVarMetaHeader);
  meta.U32(0, mpp::kFixedMetaMagic).U32(8, static_cast<std::uint32_t>(items.size()));
  Bytes data;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::size_t position = data.size();
    data.U32(position, static_cast<std::uint32_t>(items[i].value.size())).Put(position + 4, items[i].value);
    const std::size_t at = mpp::kVarMetaHeader + i * mpp::kVarMetaItem;
    meta.U32(at, items[i].owner).U32(at + 4, static_cast<std::uint32_t>(position)).U32(at + 8, items[i].type);
  }
  return {meta, data};
}

VarStreams BuildVarData9(const std::vector<VarItem>& items) {
  constexpr std::size_t kItem = 8;
  Bytes meta(mpp::kVarMetaHeader);
  meta.U32(0, mpp::kFixedMetaMagic).U32(8, static_cast<std::uint32_t>(items.size()));
  Bytes data;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::size_t position = data.size();
    data.U32(position, static_cast<std::uint32_t>(items[i].value.size())).Put(position + 4, items[i].value);
    const std::size_t at = mpp::kVarMetaHeader + i * kItem;
    meta.U16(at, static_cast<std::uint16_t>(items[i].owner))
        .U8(at + 3, static_cast<std::uint8_t>(items[i].type))
        .U32(at + 4, static_cast<std::uint32_t>(position));
  }
  return {meta, data};
}

FieldValue Int(mpp::Field field, std::uint64_t value) { return {field, false, value, 0.0}; }

FieldValue Real(mpp::Field field, double value) { return {field, true, 0, value}; }

ByteVector Record(const mpp::RecordLayout& layout, std::initializer_list<FieldValue> values) {
  Bytes record(layout.recordSize);
  for (const FieldValue& value : values) {
    const mpp::FieldSlot* slot = layout.Find(value.field);
    if (!slot) {
      ADD_FAILURE() << "the layout has no field " << static_cast<int>(value.field);
      continue;
    }
    switch (slot->encoding) {
      case mpp::Encoding::U8: record.U8(slot->offset, static_cast<std::uint8_t>(value.integer)); break;
      case mpp::Encoding::U16: record.U16(slot->offset, static_cast<std::uint16_t>(value.integer)); break;
      case mpp::Encoding::U32:
      case mpp::Encoding::I32:
      case mpp::Encoding::Date: record.U32(slot->offset, static_cast<std::uint32_t>(value.integer)); break;
      case mpp::Encoding::F64:
        record.F64(slot->offset, value.isFloat ? value.real : static_cast<double>(value.integer));
        break;
    }
  }
  return record;
}

FixedStreams BuildFixedData(mpp::RecordKind kind, const std::vector<FixedItem>& items,
                            std::size_t firstPosition, std::optional<std::uint32_t> validCount) {
  const std::size_t stride = mpp::FixedMetaStride(kind);
  Bytes data(firstPosition);
  Bytes meta(mpp::kFixedMetaHeader);
  for (std::size_t i = 0; i < items.size(); ++i) {
    const FixedItem& item = items[i];
    const std::size_t position = data.size();
    data.Put(position, item.record);
    const std::size_t at = mpp::kFixedMetaHeader + i * stride;
    meta.U8(at + stride - 1, 0);  // the whole item exists
    meta.U8(at, item.state);
    meta.U32(at + 4, item.position.value_or(static_cast<std::uint32_t>(position)));
    for (auto [offset, byte] : item.metaBytes) meta.U8(at + offset, byte);
  }
  meta.U32(0, mpp::kFixedMetaMagic)
      .U32(4, 4)
      .U32(8, validCount.value_or(static_cast<std::uint32_t>(items.size())))
      .U32(12, static_cast<std::uint32_t>(data.size()));
  return {meta, data};
}

ByteVector BuildFixed2Meta(const std::vector<ByteVector>& rows) {
  Bytes out(mpp::kFixed2MetaHeader);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::size_t at = mpp::kFixed2MetaHeader + i * mpp::kFixed2MetaRow;
    out.U8(at + mpp::kFixed2MetaRow - 1, 0);
    out.Put(at, rows[i]);
  }
  return out;
}

namespace {

// Where the items of a structured value start in the value (16 in the block
// that begins with the value's length word), and what follows the last.
constexpr std::size_t kBlockItemsInValue = 12;
constexpr std::size_t kBlockTail = 4;

}  // namespace

ByteVector RateTableValue(const std::vector<RateItem>& items) {
  Bytes out(kBlockItemsInValue);
  out.U16(0, static_cast<std::uint16_t>(items.size())).U16(2, 4).U16(4, 16);
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::size_t at = kBlockItemsInValue + 44 * i;
    const RateItem& r = items[i];
    out.U32(at, r.from).F64(at + 4, r.standardRate).U16(at + 12, r.standardFormat);
    out.F64(at + 20, r.overtimeRate).U16(at + 28, r.overtimeFormat).F64(at + 36, r.costPerUse);
  }
  out.U32(out.size() + kBlockTail - 4, 0x14B12AF7);
  return out;
}

ByteVector AvailabilityValue(const std::vector<AvailabilityItem>& items) {
  Bytes out(kBlockItemsInValue);
  out.U16(0, static_cast<std::uint16_t>(items.size())).U16(2, 4).U16(4, 16).U16(6, 32);
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::size_t at = kBlockItemsInValue + 20 * i;
    out.U32(at, items[i].date).F64(at + 4, items[i].units).U8(at + 12, items[i].marker);
    out.U8(at + 13, 0x52).U8(at + 14, 0x12).U8(at + 19, 0);
  }
  out.U32(out.size() + kBlockTail - 4, 0);
  return out;
}

DayDescription FromBaseDay() {
  DayDescription day;
  day.flag = 1;
  // What such records hold besides the flag is noise.
  day.count = 101;
  day.total = 67;
  day.periods = {{10, 7, 0}, {100, 200, 0}};
  return day;
}

DayDescription NonWorkingDay() { return DayDescription{}; }

DayDescription WorkingDay(std::vector<std::pair<double, double>> hours) {
  DayDescription day;
  std::uint32_t running = 0;
  for (auto [from, to] : hours) {
    const auto start = static_cast<std::uint16_t>(from * 600);
    const auto length = static_cast<std::uint16_t>((to - from) * 600);
    running += length;
    day.periods.push_back({start, length, running});
  }
  return day;
}

ByteVector DayRecordBytes(const DayDescription& day) {
  Bytes out(60);
  std::uint32_t total = 0;
  for (const DayPeriod& p : day.periods) total += p.length;
  out.U16(0, static_cast<std::uint16_t>(day.flag))
      .U16(2, day.count.value_or(static_cast<std::uint16_t>(day.periods.size())))
      .U16(4, day.total.value_or(static_cast<std::uint16_t>(total)));
  for (std::size_t i = 0; i < day.periods.size() && i < 5; ++i) {
    out.U16(8 + 2 * i, day.periods[i].start);
    out.U32(20 + 4 * i, day.periods[i].length);
    out.U32(40 + 4 * i, day.periods[i].extra);
  }
  return out;
}

ByteVector WeekDataValue(const std::vector<DayDescription>& days,
                         const std::vector<ExceptionDescription>& exceptions,
                         const std::vector<WorkWeekDescription>& workWeeks) {
  Bytes out;
  for (std::size_t d = 0; d < days.size(); ++d) out.Put(60 * d, DayRecordBytes(days[d]));
  std::size_t at = out.size();
  out.U32(at, static_cast<std::uint32_t>(exceptions.size()));
  at += 4;
  for (const ExceptionDescription& e : exceptions) {
    const ByteVector name = e.name.empty() ? ByteVector() : Utf16z(e.name);
    out.U16(at, e.firstDay).U16(at + 2, e.lastDay).U32(at + 4, 1);
    out.Put(at + 12, DayRecordBytes(e.day));
    out.U32(at + 88, e.nameLength.value_or(static_cast<std::uint32_t>(name.size())));
    out.Put(at + 92, name);
    at += 92 + name.size();
    // Padding to four bytes, not always zero in the files.
    if (at % 4 != 0) {
      out.U16(at, 0x2D);
      at += 2;
    }
  }
  out.U32(at, static_cast<std::uint32_t>(workWeeks.size()));
  at += 4;
  for (const WorkWeekDescription& w : workWeeks) {
    const ByteVector name = Utf16z(w.name);
    for (std::size_t d = 0; d < w.days.size(); ++d) out.Put(at + 60 * d, DayRecordBytes(w.days[d]));
    out.U16(at + 420, w.fromDay).U16(at + 422, w.toDay);
    out.U16(at + 432, static_cast<std::uint16_t>(name.size()));
    out.Put(at + 436, name);
    at += 438 + name.size();
    out.U8(at - 1, 0);
  }
  return out;
}

ByteVector CustomFieldProps(std::size_t blockStart, const std::vector<AliasEntry>& aliases) {
  Bytes out(blockStart);
  const std::size_t count = aliases.size();
  std::size_t text = 8 * count + 8;  // aliases start after the table (positions count from P + 4)
  std::vector<std::size_t> positions;
  for (const AliasEntry& alias : aliases) {
    positions.push_back(text);
    text += 2 * (alias.alias.size() + 1);
  }
  out.U32(blockStart, static_cast<std::uint32_t>(text)).U16(blockStart + 8, static_cast<std::uint16_t>(count));
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t entry = blockStart + 12 + 8 * i;
    out.U32(entry, aliases[i].fieldId).U16(entry + 4, static_cast<std::uint16_t>(positions[i]));
    out.Put(blockStart + positions[i] + 4, Utf16z(aliases[i].alias));
  }
  return out;
}

ByteVector BuildProps(const std::vector<PropsEntry>& items) {
  Bytes out(mpp::kPropsHeader);
  for (const PropsEntry& item : items) {
    const std::size_t at = out.size();
    out.U32(at, static_cast<std::uint32_t>(item.data.size())).U32(at + 4, item.key).U32(at + 8, item.extra);
    out.Put(at + 12, item.data);
  }
  return out;
}

ByteVector FieldMapBytes(const std::vector<mpp::FieldMapEntry>& entries) {
  Bytes out;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const mpp::FieldMapEntry& e = entries[i];
    const std::size_t at = i * mpp::kFieldMapEntry;
    out.U32(at, e.mask).U32(at + 4, e.offset).U32(at + 8, e.location).U32(at + 12, e.fieldId);
    out.U32(at + 16, e.flags).U16(at + 20, e.dataType).U16(at + 22, e.size).U32(at + 24, e.bitIndex);
  }
  return out;
}

std::vector<PropsEntry> MapItemsFor(const mpp::RecordLayout& layout) {
  const auto kind = static_cast<std::uint32_t>(layout.kind);
  std::vector<mpp::FieldMapEntry> entries;
  // A bit field first, as real maps have them among the fixed fields.
  entries.push_back({1, 0xFFFF, static_cast<std::uint32_t>(mpp::FieldLocation::Bit), 0x0B40009F, 0, 0x64, 2, 0});
  for (const mpp::FieldSlot& slot : layout.fields) {
    mpp::FieldMapEntry e;
    e.offset = slot.offset;
    e.location = static_cast<std::uint32_t>(mpp::FieldLocation::Fixed);
    e.fieldId = mpp::FieldIdOf(slot.field);
    e.size = static_cast<std::uint16_t>(mpp::WidthOf(slot.encoding));
    switch (slot.encoding) {
      case mpp::Encoding::U8:
      case mpp::Encoding::U16: e.dataType = mpp::kMapU16; break;
      case mpp::Encoding::U32:
      case mpp::Encoding::I32: e.dataType = mpp::kMapU32; break;
      case mpp::Encoding::Date: e.dataType = mpp::kMapDate; break;
      case mpp::Encoding::F64: e.dataType = mpp::kMapFloat; break;
    }
    entries.push_back(e);
  }
  Bytes size(4);
  size.U32(0, layout.recordSize);
  // Keys in the order of RecordKind: 0x00400001.., 0x03000014..
  return {{0x00400001 + kind, size, 4}, {0x03000014 + kind, FieldMapBytes(entries), 0}};
}

ByteVector AssignmentRecord(const mpp::RecordLayout& layout, const AssignmentValues& v) {
  using F = mpp::Field;
  return Record(layout, {Int(F::AssignmentUID, v.uid), Int(F::AssignmentTaskUID, v.task),
                         Int(F::AssignmentResourceUID, v.resource), Real(F::Units, v.units),
                         Real(F::AssignmentWork, v.work * 100.0), Real(F::AssignmentActualWork, v.actualWork * 100.0),
                         Real(F::AssignmentCost, v.cost * 100.0), Int(F::AssignmentStart, v.start),
                         Int(F::AssignmentFinish, v.finish)});
}

ByteVector LinkRecord(const mpp::RecordLayout& layout, const LinkValues& v) {
  using F = mpp::Field;
  return Record(layout, {Int(F::LinkUID, v.uid), Int(F::PredecessorUID, v.predecessor), Int(F::SuccessorUID, v.successor),
                         Int(F::LinkType, v.type), Int(F::Lag, static_cast<std::uint32_t>(v.lag)),
                         Int(F::LagFormat, v.lagFormat)});
}

BackendStorage AssignmentStorage(const std::vector<FixedItem>& items, std::optional<std::uint32_t> validCount) {
  BackendStorage storage{u"TBkndAssn"};
  storage.fixed = BuildFixedData(mpp::RecordKind::Assignment, items, 48, validCount);
  return storage;
}

BackendStorage LinkStorage(const std::vector<FixedItem>& items, std::optional<std::uint32_t> validCount) {
  BackendStorage storage{u"TBkndCons"};
  storage.fixed = BuildFixedData(mpp::RecordKind::Link, items, 48, validCount);
  return storage;
}

fixture::Node BackendStorage::ToNode() const {
  std::vector<fixture::Node> children = extra;
  if (var) {
    children.push_back(fixture::Stream(u"VarMeta", var->meta));
    children.push_back(fixture::Stream(u"Var2Data", var->data));
  }
  if (fixed) {
    children.push_back(fixture::Stream(u"FixedMeta", fixed->meta));
    children.push_back(fixture::Stream(u"FixedData", fixed->data));
  }
  if (fixed2Meta) children.push_back(fixture::Stream(u"Fixed2Meta", *fixed2Meta));
  if (props) children.push_back(fixture::Stream(u"props", *props));
  return fixture::Storage(name, std::move(children));
}

fixture::Node ProjectRoot(const ProjectDescription& project) {
  std::vector<fixture::Node> backend;
  for (const BackendStorage& storage : project.storages) backend.push_back(storage.ToNode());
  if (project.props) backend.push_back(fixture::Stream(u"Props", *project.props));
  std::vector<fixture::Node> root;
  if (project.dataStorage) {
    root.push_back(fixture::Storage(project.dataStorageName, std::move(backend)));
  } else {
    for (fixture::Node& node : backend) root.push_back(std::move(node));
  }
  if (!project.viewStorageName.empty()) root.push_back(fixture::Storage(project.viewStorageName, project.views));
  return fixture::Root(std::move(root));
}

ByteVector BuildProject(const ProjectDescription& project) { return fixture::Build(ProjectRoot(project)); }

}  // namespace project_fixture
