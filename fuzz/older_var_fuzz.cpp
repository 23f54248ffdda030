// Any bytes as the var streams of a version 9 storage (cut at the place the
// first two bytes name), its items widened with the codes of a field map
// made of the same bytes: the task, view and assignment walks read what
// they can without reading outside a stream, and never keep more records
// than the streams have items.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "FuzzRun.h"
#include "model/Project.h"
#include "parse/AssnStorageParser.h"
#include "parse/FieldMap.h"
#include "parse/TaskStorageParser.h"
#include "parse/VarItems.h"
#include "parse/ViewStorageParser.h"
#include "platform/ByteView.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const platform::ByteView input(data, size);
  if (size < 2) return 0;
  const std::size_t want = input.u16_at(0).value_or(0);
  const std::size_t take = want < size - 2 ? want : size - 2;
  const platform::ByteView meta = *input.Sub(2, take);
  const platform::ByteView values = *input.Sub(2 + take, size - 2 - take);

  const mpp::FieldMaps maps = mpp::ReadFieldMaps(input);
  const auto wide = mpp::WidenVarMeta(meta, mpp::VarItemFormat9(mpp::RecordKind::Task, &maps));
  const platform::ByteView wideView(wide.data(), wide.size());
  const std::size_t items = mpp::VarMeta(wideView).Count();
  if (items > meta.size() / mpp::kVarMetaItem9) std::abort();

  model::Project gen;
  mpp::ReadTaskVarData(FuzzRun(), wideView, values, gen);
  mpp::ReadEditList(FuzzRun(), wideView, values, gen);
  mpp::ReadViewTimescales(FuzzRun(), wideView, values, gen);
  mpp::ReadAssnVarData9(FuzzRun(), wideView, values, gen);
  if (gen.Tasks().size() > items || gen.editList.size() > items || gen.viewTimescales.size() > items ||
      gen.assignments.size() > items)
    std::abort();
  return 0;
}
