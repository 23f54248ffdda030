// Any bytes as the four streams of a task storage (cut at the places the
// first eight bytes name): the three passes read what they can without
// reading outside a stream, and never make more tasks than the streams
// have items; every stored custom value gives a text or none.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "FuzzRun.h"
#include "generate/CustomFieldText.h"
#include "model/Project.h"
#include "parse/CustomFields.h"
#include "parse/RecordLayout.h"
#include "parse/StreamRecords.h"
#include "parse/TaskStorageParser.h"
#include "platform/ByteView.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const platform::ByteView input(data, size);
  if (size < 8) return 0;
  platform::ByteView parts[4];
  std::size_t at = 8;
  for (int i = 0; i < 3; ++i) {
    const std::size_t want = input.u16_at(2 * i).value_or(0);
    const std::size_t take = want < size - at ? want : size - at;
    parts[i] = *input.Sub(at, take);
    at += take;
  }
  parts[3] = *input.Sub(at, size - at);

  model::Project gen;
  gen.customFieldDefs.push_back({u"alias", input.u32_at(0).value_or(0), 0});
  const auto var = mpp::ReadTaskVarData(FuzzRun(), parts[0], parts[1], gen);
  const auto fixed =
      mpp::ReadTaskFixedData(FuzzRun(), parts[2], parts[3], mpp::BuiltInLayout14(mpp::RecordKind::Task), gen);
  mpp::OutlineNumberParser(FuzzRun(), gen);
  if (gen.Tasks().size() > var.items + fixed.items) std::abort();
  for (const auto& value : gen.customFieldValues)
    (void)gen::CustomFieldValueText(platform::ByteView(value.Data.data(), value.Data.size()), value.FieldID);
  return 0;
}
