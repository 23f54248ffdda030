#include "parse/Baselines.h"

#include <array>
#include <bit>
#include <unordered_map>

#include "parse/StreamLoader.h"
#include "parse/StreamRecords.h"

namespace mpp {

namespace {

using model::SBaseline;
using Slot = BaselineSlot;

constexpr std::uint32_t kVarOffsetMark = 0x0200FFFF;
constexpr std::uint32_t kVarOffsetMask = 0xFF00FFFF;
constexpr std::size_t kBlobHeader = 8;
constexpr std::size_t kBlobPair = 8;

// The first field (start) of Baseline1..10 of tasks in versions 9 and 12;
// finish +1, cost +2, work +3, duration +5.
constexpr std::array<std::uint16_t, 10> kTaskBaselineBase = {482, 493, 504, 515, 526, 544, 555, 566, 577, 588};

std::uint32_t PrefixOf(RecordKind kind) {
  switch (kind) {
    case RecordKind::Task: return 0x0B40;
    case RecordKind::Resource: return 0x0C40;
    case RecordKind::Assignment: return 0x0F40;
    default: return 0;
  }
}

std::optional<BaselineField> TaskField(int format, std::uint16_t f) {
  const bool v14 = format >= 14;
  // Baseline 0: version 14 keeps start, finish and duration under new ids,
  // the old ones holding estimates it falls back on.
  if (f == 1) return BaselineField{0, Slot::Work};
  if (f == 6) return BaselineField{0, Slot::Cost};
  if (f == 43) return BaselineField{0, Slot::Start, v14};
  if (f == 44) return BaselineField{0, Slot::Finish, v14};
  if (f == 27) return BaselineField{0, Slot::Duration, v14};
  if (v14 && f >= 1299 && f < 1299 + 3 * 11) {
    const auto n = static_cast<std::uint8_t>((f - 1299) / 3);
    constexpr Slot slots[] = {Slot::Start, Slot::Finish, Slot::Duration};
    return BaselineField{n, slots[(f - 1299) % 3]};
  }
  for (std::size_t i = 0; i < kTaskBaselineBase.size(); ++i) {
    const std::uint16_t b = kTaskBaselineBase[i];
    const auto n = static_cast<std::uint8_t>(i + 1);
    if (f == b + 2) return BaselineField{n, Slot::Cost};
    if (f == b + 3) return BaselineField{n, Slot::Work};
    // Version 14 keeps estimates under the start, finish and duration ids,
    // taken where the baseline has no value of its own.
    if (f == b) return BaselineField{n, Slot::Start, v14};
    if (f == b + 1) return BaselineField{n, Slot::Finish, v14};
    if (f == b + 5) return BaselineField{n, Slot::Duration, v14};
  }
  return std::nullopt;
}

std::optional<BaselineField> ResourceField(std::uint16_t f) {
  if (f == 15) return BaselineField{0, Slot::Work};
  if (f == 17) return BaselineField{0, Slot::Cost};
  if (f >= 342 && f < 342 + 10 * 10 && (f - 342) % 10 < 2) {
    const auto n = static_cast<std::uint8_t>(1 + (f - 342) / 10);
    return BaselineField{n, (f - 342) % 10 == 0 ? Slot::Work : Slot::Cost};
  }
  return std::nullopt;
}

std::optional<BaselineField> AssignmentField(std::uint16_t f) {
  switch (f) {
    case 146: return BaselineField{0, Slot::Start};
    case 147: return BaselineField{0, Slot::Finish};
    case 16: return BaselineField{0, Slot::Work};
    case 32: return BaselineField{0, Slot::Cost};
    default: break;
  }
  if (f >= 289 && f < 289 + 9 * 10) {
    const auto n = static_cast<std::uint8_t>(1 + (f - 289) / 9);
    switch ((f - 289) % 9) {
      case 0: return BaselineField{n, Slot::Work};
      case 1: return BaselineField{n, Slot::Cost};
      case 6: return BaselineField{n, Slot::Start};
      case 7: return BaselineField{n, Slot::Finish};
      default: break;
    }
  }
  return std::nullopt;
}

bool IsDateSlot(Slot slot) { return slot == Slot::Start || slot == Slot::Finish; }
bool IsFloatSlot(Slot slot) { return slot == Slot::Work || slot == Slot::Cost; }

// Puts the value at offset of bytes into its baseline; false when it does
// not lie there.
bool Put(std::vector<SBaseline>& list, BaselineField field, platform::ByteView bytes, std::size_t offset) {
  const std::uint8_t bit = static_cast<std::uint8_t>(1u << static_cast<unsigned>(field.slot));
  double number = 0.0;
  std::uint32_t word = 0;
  if (IsFloatSlot(field.slot)) {
    auto raw = bytes.u64_at(offset);
    if (!raw) return false;
    number = std::bit_cast<double>(*raw);
  } else {
    auto raw = bytes.u32_at(offset);
    if (!raw) return false;
    word = *raw;
  }
  SBaseline& b = model::BaselineOf(list, field.number);
  if (field.fallback && (b.Given & bit)) return true;
  if (!field.fallback) b.Given |= bit;
  switch (field.slot) {
    case Slot::Start: b.Start = word; break;
    case Slot::Finish: b.Finish = word; break;
    case Slot::Duration: b.Duration = word; break;
    case Slot::Work: b.Work = number; break;
    case Slot::Cost: b.Cost = number; break;
  }
  return true;
}

// The owners' baseline lists by UID, first of a UID.
class Owners {
 public:
  Owners(RecordKind kind, model::Project& gen) : kind_(kind), gen_(gen) {
    if (kind == RecordKind::Assignment)
      for (std::size_t i = 0; i < gen.assignments.size(); ++i) assignments_.try_emplace(gen.assignments[i].UID, i);
  }
  std::vector<SBaseline>* Of(std::uint32_t uid) {
    switch (kind_) {
      case RecordKind::Task:
        if (auto* task = gen_.FindTask(uid)) return &task->Baselines;
        return nullptr;
      case RecordKind::Resource:
        if (auto* resource = gen_.FindResource(uid)) return &resource->Baselines;
        return nullptr;
      case RecordKind::Assignment: {
        auto found = assignments_.find(uid);
        return found == assignments_.end() ? nullptr : &gen_.assignments[found->second].Baselines;
      }
      default: return nullptr;
    }
  }

 private:
  RecordKind kind_;
  model::Project& gen_;
  std::unordered_map<std::uint32_t, std::size_t> assignments_;
};

}  // namespace

std::optional<BaselineField> BaselineFieldOf(RecordKind kind, int format, std::uint16_t field) {
  switch (kind) {
    case RecordKind::Task: return TaskField(format, field);
    case RecordKind::Resource: return ResourceField(field);
    case RecordKind::Assignment: return AssignmentField(field);
    default: return std::nullopt;
  }
}

VarItemFormat BaselineItemFormat9(RecordKind kind, const FieldMaps* maps) {
  VarItemFormat format = VarItemFormat9(kind, maps);
  if (!maps) return format;
  if (const auto& entries = maps->Of(kind).varEntries) {
    for (const FieldMapEntry& e : *entries) {
      const bool var = e.location == static_cast<std::uint32_t>(FieldLocation::Var) ||
                       e.location == static_cast<std::uint32_t>(FieldLocation::Var2);
      if (var && (e.offset & kVarOffsetMask) == kVarOffsetMark)
        format.fieldIds.try_emplace((e.offset >> 16) & 0xFF, e.fieldId);
    }
  }
  return format;
}

std::unordered_set<std::uint32_t> BaselineBlobFields(RecordKind kind, const FieldMaps* maps) {
  std::unordered_set<std::uint32_t> fields;
  if (!maps) return fields;
  for (const auto* entries : {&maps->Of(kind).entries, &maps->Of(kind).varEntries}) {
    if (!*entries) continue;
    for (const FieldMapEntry& e : **entries)
      if (e.dataType == kMapBinary && e.location == static_cast<std::uint32_t>(FieldLocation::Var) &&
          (e.fieldId >> 16) == PrefixOf(kind))
        fields.insert(e.fieldId);
  }
  return fields;
}

BaselineCounts ReadBaselineVarData(RunContext& ctx, RecordKind kind, int format, platform::ByteView varMeta,
                                   platform::ByteView var2Data, model::Project& gen,
                                   const std::unordered_set<std::uint32_t>& blobFields) {
  BaselineCounts counts;
  Owners owners(kind, gen);
  WalkVarItems(ctx, varMeta, var2Data, nullptr, counts.items, counts.skipped,
               [&](const VarMetaItem& item, platform::ByteView value) {
                 const bool blob = format == 9 && blobFields.contains(item.type);
                 const auto field = BaselineFieldOf(kind, format, static_cast<std::uint16_t>(item.type & 0xFFFF));
                 if (!blob && !field) return;
                 std::vector<model::SBaseline>* list = owners.Of(item.owner);
                 if (!list) {
                   ++counts.unknownOwner;
                   return;
                 }
                 if (!blob) {
                   counts.values += Put(*list, *field, value, 0);
                   return;
                 }
                 // [u32 size][u32 count], then (field id, offset) pairs.
                 const std::size_t size = std::min<std::size_t>(value.u32_at(0).value_or(0), value.size());
                 if (size < kBlobHeader) return;
                 const std::size_t pairs =
                     std::min<std::size_t>(value.u32_at(4).value_or(0), (size - kBlobHeader) / kBlobPair);
                 const auto body = value.Sub(0, size).value_or(platform::ByteView());
                 for (std::size_t i = 0; i < pairs; ++i) {
                   const std::size_t at = kBlobHeader + i * kBlobPair;
                   const std::uint32_t id = body.u32_at(at).value_or(0);
                   if ((id >> 16) != PrefixOf(kind)) continue;
                   const auto inner = BaselineFieldOf(kind, format, static_cast<std::uint16_t>(id & 0xFFFF));
                   if (inner) counts.values += Put(*list, *inner, body, body.u32_at(at + 4).value_or(0));
                 }
               });
  return counts;
}

void BaselineVarParser(RunContext& ctx, const platform::CompoundFileReader& reader, platform::ElementId storage,
                       RecordKind kind, int format, model::Project& gen, const FieldMaps* maps) {
  LoadedStream var2Data, varMeta;
  std::optional<VarItemFormat> format9;
  if (format == 9) format9 = BaselineItemFormat9(kind, maps);
  if (!LoadVarStreams(ctx.log, reader, storage, var2Data, varMeta, format9 ? &*format9 : nullptr)) return;
  const auto blobs = format == 9 ? BaselineBlobFields(kind, maps) : std::unordered_set<std::uint32_t>{};
  const BaselineCounts c = ReadBaselineVarData(ctx, kind, format, varMeta.View(), var2Data.View(), gen, blobs);
  if (c.values || c.unknownOwner)
    ctx.log.WriteFormat("        Baseline var data: %zu values, %zu of owners without a record", c.values,
                        c.unknownOwner);
}

void FillFixedBaseline(const RecordView& record, RecordKind kind, std::vector<model::SBaseline>& baselines) {
  using F = Field;
  struct Source {
    Field field;
    Slot slot;
  };
  static constexpr Source kTask[] = {{F::TaskBaselineStart, Slot::Start},
                                     {F::TaskBaselineFinish, Slot::Finish},
                                     {F::TaskBaselineDuration, Slot::Duration},
                                     {F::TaskBaselineWork, Slot::Work},
                                     {F::TaskBaselineCost, Slot::Cost}};
  static constexpr Source kResource[] = {{F::ResourceBaselineWork, Slot::Work}, {F::ResourceBaselineCost, Slot::Cost}};
  static constexpr Source kAssignment[] = {{F::AssignmentBaselineStart, Slot::Start},
                                           {F::AssignmentBaselineFinish, Slot::Finish},
                                           {F::AssignmentBaselineWork, Slot::Work},
                                           {F::AssignmentBaselineCost, Slot::Cost}};
  std::span<const Source> sources;
  if (kind == RecordKind::Task) sources = kTask;
  else if (kind == RecordKind::Resource) sources = kResource;
  else if (kind == RecordKind::Assignment) sources = kAssignment;
  for (const Source& s : sources) {
    if (IsFloatSlot(s.slot)) {
      if (auto v = record.Float(s.field); v && *v != 0.0) {
        SBaseline& b = model::BaselineOf(baselines, 0);
        (s.slot == Slot::Work ? b.Work : b.Cost) = *v;
      }
    } else if (auto v = record.Unsigned(s.field)) {
      if (IsDateSlot(s.slot) ? !model::HasDate(*v, true) : *v == 0) continue;
      SBaseline& b = model::BaselineOf(baselines, 0);
      (s.slot == Slot::Start ? b.Start : s.slot == Slot::Finish ? b.Finish : b.Duration) = *v;
    }
  }
}

}  // namespace mpp
