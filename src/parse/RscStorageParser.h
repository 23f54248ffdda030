// The reader of the resource storage "TBkndRsc" of version 14 files, in two
// passes over the model's resource list:
//
//   var pass    VarMeta/Var2Data: the texts, notes, booking type, rate
//               tables and availability of each resource make the
//               resources; items of custom fields become custom field
//               values of their resource (they make no resource)
//   fixed pass  FixedMeta/FixedData (+ Fixed2Meta): each live record
//               completes the resource of its UID through the file's
//               resource layout; deleted and stale items are left out
//
// Rate tables and availability are structured var-data values. Their
// parsers take the value together with its length word (the "block"):
//
//   rate table (types 61..65, tables A..E)
//     0    u32 block length B
//     16   items of 44 bytes, while the whole item lies inside B and the
//          block:
//            0   u32 rates from (tenths of a minute since 1984)
//            4   f64 standard rate
//            12  u16 standard rate format
//            20  f64 overtime rate
//            28  u16 overtime rate format
//            36  f64 cost per use (hundredths of the currency)
//   availability (type 276)
//     0    u32 block length B
//     16   items of 20 bytes, likewise:
//            0   u32 date (tenths of a minute since 1984)
//            4   f64 units (hundredths of a percent)
//            12  u8 marker: 0xFF opens a period, 0xFE closes it
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "base/RunContext.h"
#include "model/Project.h"
#include "parse/RecordLayout.h"
#include "parse/StreamLoader.h"
#include "platform/ByteView.h"
#include "platform/CompoundFile.h"

namespace mpp {

struct VarItemFormat;

// Low 16 bits of the VarMeta type of the resource fields.
inline constexpr std::uint16_t kRscNameType = 1;
inline constexpr std::uint16_t kRscInitialsType = 2;
inline constexpr std::uint16_t kRscGroupType = 3;
inline constexpr std::uint16_t kRscCodeType = 10;
inline constexpr std::uint16_t kRscNotesType = 20;
inline constexpr std::uint16_t kRscEmailType = 35;
inline constexpr std::uint16_t kRscFirstRateType = 61;  // table A; 65 is table E
inline constexpr std::uint16_t kRscLastRateType = 65;
inline constexpr std::uint16_t kRscAvailabilityType = 276;
inline constexpr std::uint16_t kRscMaterialLabelType = 299;
inline constexpr std::uint16_t kRscNTAccountType = 311;
inline constexpr std::uint16_t kRscBookingType = 699;
inline constexpr std::uint16_t kRscActualWorkProtectedType = 720;          // versions 12 and 14
inline constexpr std::uint16_t kRscActualOvertimeWorkProtectedType = 721;  // versions 12 and 14
inline constexpr std::uint16_t kRscCreationDateType = 726;                 // versions 12 and 14

struct RateItemLayout {
  std::size_t first = 16;
  std::size_t size = 44;
  std::size_t from = 0;
  std::size_t standardRate = 4;
  std::size_t standardFormat = 12;
  std::size_t overtimeRate = 20;
  std::size_t overtimeFormat = 28;
  std::size_t costPerUse = 36;
};
inline constexpr RateItemLayout kRateItem{};

struct AvailabilityItemLayout {
  std::size_t first = 16;
  std::size_t size = 20;
  std::size_t date = 0;
  std::size_t units = 4;
  std::size_t marker = 12;
};
inline constexpr AvailabilityItemLayout kAvailabilityItem{};
inline constexpr std::uint8_t kAvailabilityOpens = 0xFF;
inline constexpr std::uint8_t kAvailabilityCloses = 0xFE;


struct RscVarCounts {
  std::size_t items = 0;
  std::size_t skipped = 0;  // value outside Var2Data or empty
  std::size_t fields = 0;   // texts, notes and booking types taken
  std::size_t rates = 0;    // rate entries appended
  std::size_t periods = 0;  // availability periods appended
  std::size_t customValues = 0;
  std::size_t other = 0;  // types this reader does not take
};

struct RscFixedCounts {
  std::size_t items = 0;       // the valid items walked, and those a cut-short FixedMeta lost
  std::size_t records = 0;     // live records read into a resource
  std::size_t deleted = 0;
  std::size_t freeSlots = 0;  // items of the free-slot area
  std::size_t unreadable = 0;  // position before the records or record outside FixedData
  std::size_t unknown = 0;     // records of a UID no var data named (made resources)
  std::size_t duplicates = 0;  // a second record for a resource already filled
  std::size_t standIns = 0;    // garbled items read as the records around them place them
  std::size_t cutShort = 0;  // records read as far as the end of a cut stream reaches
  bool countLost = false;  // FixedMeta lost its header, and with it how many records it listed
};

// The var pass. progress may be null. Throws kBreakException on a break.
RscVarCounts ReadResourceVarData(RunContext& ctx, platform::ByteView varMeta, platform::ByteView var2Data,
                                 model::Project& gen, StreamProgress* progress = nullptr);
// The fixed pass, reading records through layout; without a Fixed2Meta
// stream the budget, cost, generic and inactive flags stay 0, without a
// Fixed2Data stream the GUIDs stay unknown. progress may be null. Throws
// kBreakException on a break.
RscFixedCounts ReadResourceFixedData(RunContext& ctx, platform::ByteView fixedMeta, platform::ByteView fixedData,
                                     std::optional<platform::ByteView> fixed2Meta, const RecordLayout& layout,
                                     model::Project& gen, StreamProgress* progress = nullptr,
                                     const ResourceItemBits& bits = kResourceBits9,
                                     std::optional<platform::ByteView> fixed2Data = std::nullopt);

// One rate table of a resource: an entry per item, each running to the
// next item's start and the last one to the open end. Returns the entries
// appended. Logs and rethrows a break.
std::size_t RateParser(RunContext& ctx, platform::ByteView block, std::uint32_t resourceUid, std::uint32_t table,
                       model::Project& gen);
// The availability periods of a resource: from an opening item to the next
// opening or closing item; a period left open at the end is dropped, and
// so is one with a zero date. Returns the periods appended. Logs and
// rethrows a break.
std::size_t AvailabilityPeriodsParser(RunContext& ctx, platform::ByteView block, std::uint32_t resourceUid,
                                      model::Project& gen);

// Reads the storage's streams with both passes. A missing pair of streams
// leaves its pass out (logged). Logs and rethrows a break or allocation
// failure.
void RscStorageParser(RunContext& ctx, const platform::CompoundFileReader& reader, platform::ElementId storage,
                      const RecordLayout& layout, model::Project& gen, const VarItemFormat* varFormat = nullptr,
                      const ResourceItemBits& bits = kResourceBits9);

}  // namespace mpp
