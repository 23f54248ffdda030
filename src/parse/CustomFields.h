// The custom field values of tasks and resources as their storages are
// read: kept in the model for the fields the file defines and for the
// catalogue's (model/CustomFieldCatalog.h).
#pragma once

#include <cstdint>
#include <unordered_set>

#include "model/Records.h"
#include "parse/RecordLayout.h"
#include "platform/ByteView.h"

namespace model {
class Project;
}

namespace mpp {

// Keeps the var-data values of custom fields of one kind of owner: those of
// the fields the file defines and of every catalogue field of that kind
// (most used fields have no alias).
class CustomValueKeeper {
 public:
  CustomValueKeeper(model::Project& gen, model::OwnerKind kind);
  // Appends the value to the model's custom values and returns true when
  // fieldId is such a field; false (nothing kept) otherwise.
  bool Keep(std::uint32_t owner, std::uint32_t fieldId, platform::ByteView value) const;

 private:
  model::Project& gen_;
  model::OwnerKind kind_;
  std::unordered_set<std::uint32_t> defined_;
};

// The custom flags of the records of one storage, kept as values "1" of
// their owners for every flag set in a record's FixedMeta item (a flag
// that is off is no value, as in var data). A flag the var data gave the
// owner already is not kept twice.
class FlagValueKeeper {
 public:
  FlagValueKeeper(model::Project& gen, model::OwnerKind kind);
  // The number of values kept.
  std::size_t Keep(std::uint32_t owner, platform::ByteView item, const CustomFlagBits& bits);

 private:
  model::Project& gen_;
  model::OwnerKind kind_;
  std::unordered_set<std::uint64_t> kept_;  // owner << 32 | field id
};

}  // namespace mpp
