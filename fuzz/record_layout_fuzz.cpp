// Any bytes as one storage's FixedMeta and FixedData and as a Props stream
// (the first byte names the kind of record, the places the next four bytes
// name cut the rest): the field maps hold no more entries than the stream
// has room for, and for every format and application the layout chosen is
// of the kind asked for, places its records after that format's free-slot
// area, keeps every field inside its record, is the file's map or a known
// layout, and reads every record the FixedMeta items point at without
// reading outside FixedData.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "parse/FieldMap.h"
#include "parse/KnownLayouts.h"
#include "parse/RecordLayout.h"
#include "parse/StreamRecords.h"
#include "platform/ByteView.h"

namespace {

// Every field of the kind, once, inside the record.
void CheckFields(const mpp::RecordLayout& layout, mpp::RecordKind kind) {
  if (layout.kind != kind || layout.Extent() > layout.recordSize) std::abort();
  bool seen[static_cast<std::size_t>(mpp::Field::Count)] = {};
  for (const mpp::FieldSlot& slot : layout.fields) {
    const auto index = static_cast<std::size_t>(slot.field);
    if (index >= std::size(seen) || seen[index] || mpp::KindOf(slot.field) != kind) std::abort();
    seen[index] = true;
  }
}

bool SameFields(const mpp::RecordLayout& a, const mpp::RecordLayout& b) {
  if (a.recordSize != b.recordSize || a.fields.size() != b.fields.size()) return false;
  for (std::size_t i = 0; i < a.fields.size(); ++i)
    if (a.fields[i].field != b.fields[i].field || a.fields[i].offset != b.fields[i].offset ||
        a.fields[i].encoding != b.fields[i].encoding)
      return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const platform::ByteView input(data, size);
  constexpr std::size_t kHead = 5;
  if (size < kHead) return 0;
  const auto kind = static_cast<mpp::RecordKind>(*input.u8_at(0) % mpp::kRecordKinds);
  platform::ByteView parts[3];
  std::size_t at = kHead;
  for (int i = 0; i < 2; ++i) {
    const std::size_t want = input.u16_at(1 + 2 * i).value_or(0);
    const std::size_t take = want < size - at ? want : size - at;
    parts[i] = *input.Sub(at, take);
    at += take;
  }
  parts[2] = *input.Sub(at, size - at);
  const platform::ByteView fixedMeta = parts[0], fixedData = parts[1], props = parts[2];

  const mpp::FieldMaps maps = mpp::ReadFieldMaps(props);
  std::size_t entries = 0;
  for (const auto& k : maps.kinds) entries += k.entries ? k.entries->size() : 0;
  if (entries > props.size() / mpp::kFieldMapEntry) std::abort();
  const std::optional<mpp::RecordLayout> fromMap = mpp::LayoutFromMap(kind, maps);
  if (fromMap) CheckFields(*fromMap, kind);

  const mpp::FixedMeta meta(fixedMeta, mpp::FixedMetaStride(kind));
  for (int format : {9, 12, 14}) {
    for (int application : {0, 12, 14, 15, 16}) {
      std::string why;
      const mpp::RecordLayout layout =
          mpp::ChooseRecordLayout(kind, fromMap, {format, application}, fixedMeta, fixedData, &why);
      CheckFields(layout, kind);
      if (why.empty() || layout.minPosition != mpp::FreeSlotArea(format, kind)) std::abort();
      if (layout.source == mpp::RecordLayout::Source::FileMap ? !fromMap || !SameFields(layout, *fromMap)
                                                              : !mpp::KnownLayoutName(layout))
        std::abort();
      // A record that is there has every field of its layout (the first
      // items are enough to tell).
      for (std::size_t i = 0; i < meta.ValidCount() && i < mpp::kPlausibilitySample; ++i) {
        const auto item = meta.Item(i);
        if (!item) break;
        const auto record = mpp::RecordAt(fixedData, item->position, layout);
        if (!record) continue;
        for (const mpp::FieldSlot& slot : layout.fields) {
          const bool read = slot.encoding == mpp::Encoding::F64 ? record->Float(slot.field).has_value()
                                                                : record->Unsigned(slot.field).has_value();
          if (!record->Has(slot.field) || !read) std::abort();
        }
      }
    }
  }
  return 0;
}
