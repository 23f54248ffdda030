#include "parse/CustomFields.h"

#include "model/CustomFieldCatalog.h"
#include "model/Project.h"
#include "parse/OutlineCodes.h"

namespace mpp {

using model::CustomFieldInfo;
using model::FindCustomField;
using model::FlagFieldId;

CustomValueKeeper::CustomValueKeeper(model::Project& gen, model::OwnerKind kind) : gen_(gen), kind_(kind) {
  for (const model::SCustomFieldDef& def : gen.customFieldDefs) defined_.insert(def.FieldID);
}

bool CustomValueKeeper::Keep(std::uint32_t owner, std::uint32_t fieldId, platform::ByteView value) const {
  const CustomFieldInfo* info = FindCustomField(fieldId);
  // An outline code's index is kept for ResolveOutlineCodeValues.
  if (!info && IsOutlineCodeIndexField(fieldId)) info = FindCustomField(fieldId - 1);
  const bool ownKind = info && info->assignment == (kind_ == model::OwnerKind::Assignment) &&
                       info->resource == (kind_ == model::OwnerKind::Resource);
  if (!defined_.count(fieldId) && !ownKind) return false;
  model::SCustomFieldValue custom;
  custom.OwnerUID = owner;
  custom.FieldID = fieldId;
  custom.Data.resize(value.size());
  value.CopyTo(0, value.size(), custom.Data.data());
  custom.Owner = kind_;
  gen_.customFieldValues.push_back(std::move(custom));
  return true;
}

FlagValueKeeper::FlagValueKeeper(model::Project& gen, model::OwnerKind kind) : gen_(gen), kind_(kind) {
  for (const model::SCustomFieldValue& value : gen.customFieldValues)
    if (value.Owner == kind) kept_.insert(static_cast<std::uint64_t>(value.OwnerUID) << 32 | value.FieldID);
}

std::size_t FlagValueKeeper::Keep(std::uint32_t owner, platform::ByteView item, const CustomFlagBits& bits) {
  std::size_t kept = 0;
  for (const FlagRun& run : bits.runs) {
    for (unsigned k = 0; k < run.count; ++k) {
      const unsigned bit = run.firstBit + k;
      if (!FlagSet(item, {bit / 8, static_cast<std::uint8_t>(1u << (bit % 8))})) continue;
      const unsigned flag = run.firstFlag + k;
      const std::uint32_t field = kind_ == model::OwnerKind::Assignment
                                      ? model::AssignmentFlagFieldId(flag)
                                      : FlagFieldId(kind_ == model::OwnerKind::Resource, flag);
      if (field == 0 || !kept_.insert(static_cast<std::uint64_t>(owner) << 32 | field).second) continue;
      gen_.customFieldValues.push_back({.OwnerUID = owner, .FieldID = field, .Data = {1}, .Owner = kind_});
      ++kept;
    }
  }
  return kept;
}

}  // namespace mpp
