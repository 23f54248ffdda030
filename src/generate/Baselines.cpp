#include "generate/Baselines.h"

#include <algorithm>
#include <array>

#include "generate/ElementRun.h"
#include "model/Validators.h"

namespace gen {

std::int32_t WriteBaselines(xml::XmlWriter& writer, const std::vector<model::SBaseline>& list, BaselineOwner owner) {
  // By number, whatever order the file gave them in.
  std::array<const model::SBaseline*, model::kBaselineCount> byNumber{};
  for (const model::SBaseline& b : list)
    if (b.Number < byNumber.size() && !byNumber[b.Number] && b.IsSet()) byNumber[b.Number] = &b;
  const bool dated = owner != BaselineOwner::Resource;
  for (const model::SBaseline* b : byNumber) {
    if (!b) continue;
    ElementRun run(writer);
    run.Open("Baseline");
    run.Raw("Number", b->Number);
    if (dated && model::HasDate(b->Start, true))
      run.Do([&] { return writer.WriteDateTime14XML("Start", b->Start); });
    if (dated && model::HasDate(b->Finish, true))
      run.Do([&] { return writer.WriteDateTime14XML("Finish", b->Finish); });
    if (owner == BaselineOwner::Task && b->Duration != 0)
      run.Do([&] { return writer.WriteDurationSecXML("Duration", model::ClampDuration(b->Duration)); });
    if (const std::uint32_t work = model::WorkFromRaw(b->Work); work != 0)
      run.Do([&] { return writer.WriteDurationSecXML("Work", work); });
    if (const double cost = model::CostFromStored(b->Cost); cost != 0.0)
      run.Raw("Cost", xml::XmlWriter::FormatMoney(cost));
    run.Close("Baseline");
    if (run.Cancelled()) return xml::XmlWriter::kCancelled;
  }
  return 0;
}

const model::SBaseline* BaselineZero(const std::vector<model::SBaseline>& list) {
  for (const model::SBaseline& baseline : list)
    if (baseline.Number == 0) return &baseline;
  return nullptr;
}

}  // namespace gen
