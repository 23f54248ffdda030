// The Resources section: the base generator's form (versions 9 and 12) and
// the version 14 form with availability periods, rate tables and custom
// field values per resource.
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>

#include "generate/Baselines.h"
#include "generate/ElementRun.h"
#include "generate/XMLGen.h"
#include "model/Validators.h"

namespace {

using gen::ElementRun;

// Project XML resource types.
constexpr int kMaterialResource = 0;
constexpr int kWorkResource = 1;

platform::ByteView NotesView(const std::string& notes) {
  return platform::ByteView(reinterpret_cast<const std::uint8_t*>(notes.data()), notes.size());
}

bool HasNotes(const model::SBkndRscParams& resource) { return resource.Notes && !resource.Notes->empty(); }

// Rate formats a document may carry (hours, days, weeks... per unit of
// time); the overtime rate has no per-use form. Others read as per hour.
std::uint16_t XmlRateFormat(std::uint16_t format, bool overtime) {
  constexpr std::uint16_t kPerHour = 2, kPerUse = 8;
  const bool known = (format >= 1 && format <= 5) || format == 7 || (!overtime && format == kPerUse);
  return known ? format : kPerHour;
}

// Material resources are priced per unit and cost resources have no
// rate: the application writes the material rate format (8) and per hour
// (2) for them, whatever the record holds.
std::uint16_t StandardRateFormatOf(const model::SBkndRscParams& resource) {
  constexpr std::uint16_t kPerHour = 2, kMaterialRate = 8;
  if (resource.IsCostResource) return kPerHour;
  if (resource.Type != 0) return kMaterialRate;
  return XmlRateFormat(resource.StandardRateFormat, false);
}

// Cost resources are written as the application writes them: the
// material type with the cost mark.
int XmlType(const model::SBkndRscParams& resource) {
  return resource.Type != 0 || resource.IsCostResource ? kMaterialResource : kWorkResource;
}

// One day in tenths of a minute.
constexpr model::MinuteStamp kStampDay = 14400;

// The text of a rate or availability date. Day 1 of these stamps is
// 1984-01-01, like the day numbers of packed dates, but the open end
// (kOpenRateEnd and beyond) counts 1984-01-01 as day 0: it is the last
// minute of 2049-12-31, one day after what the plain count gives.
std::string StampText(model::MinuteStamp stamp) {
  if (stamp >= model::kOpenRateEnd) return xml::XmlWriter::FormatMinutesDateTime(model::kOpenRateEnd + kStampDay);
  return xml::XmlWriter::FormatMinutesDateTime(stamp);
}

// The last minute of an availability period or rate entry: one minute
// before its stored end, or the open end itself.
std::string LastMinuteText(model::MinuteStamp end) {
  if (end >= model::kOpenRateEnd) return StampText(end);
  return StampText(end >= 10 ? end - 10 : 0);
}

// Work as documents hold it, to the second: "PT80H0M0S".
std::string WorkText(double minutes) {
  const long long seconds = std::llround(minutes * 60.0);
  char text[64];
  std::snprintf(text, sizeof text, "PT%lldH%lldM%lldS", seconds / 3600, seconds % 3600 / 60, seconds % 60);
  return text;
}

// Earned values that follow from the totals alone: with no baseline cost
// in any baseline nothing was budgeted (BCWS and BCWP 0), and with no
// actual cost none was spent by any date (ACWP 0). Otherwise they depend
// on the time-phased values and the status date, and are left out.
struct EarnedValues {
  std::optional<double> bcws, bcwp, acwp;
};
EarnedValues EarnedValuesOf(const model::SBkndRscParams& resource) {
  EarnedValues values;
  bool budgeted = false;
  for (const model::SBaseline& baseline : resource.Baselines)
    budgeted = budgeted || !std::isfinite(baseline.Cost) || baseline.Cost != 0.0;
  if (!budgeted && resource.HasFixedRecord) values.bcws = values.bcwp = 0.0;
  if (resource.ActualCost && *resource.ActualCost == 0.0) values.acwp = 0.0;
  return values;
}

}  // namespace

std::u16string CXMLGen::EscapeMarkup(std::u16string_view name) {
  std::u16string escaped;
  escaped.reserve(name.size());
  for (char16_t c : name) {
    switch (c) {
      case u'&': escaped += u"&amp;"; break;
      case u'<': escaped += u"&lt;"; break;
      case u'>': escaped += u"&gt;"; break;
      default: escaped += c; break;
    }
  }
  return escaped;
}

void CXMLGen::IndexResourceData() {
  availabilityByResource_.clear();
  ratesByResource_.clear();
  for (std::size_t i = 0; i < project_.availability.size(); ++i)
    availabilityByResource_[project_.availability[i].ResourceUID].push_back(i);
  for (std::size_t i = 0; i < project_.rates.size(); ++i) ratesByResource_[project_.rates[i].ResourceUID].push_back(i);
}

std::int32_t CXMLGen::GenerateResourcesXML() {
  try {
    BuildIndexes();
    IndexResourceData();
    if (project_.Resources().empty()) {
      const std::int32_t result = writer_->Write_hXML("Resources/", nullptr, nullptr);
      return result == kCancelled ? result : kNothingWritten;
    }
    if (writer_->Write_hXML("Resources", nullptr, nullptr) == kCancelled) return kCancelled;
    for (const model::SBkndRscParams& resource : project_.Resources()) {
      if (ctx_.Cancelled()) return Cancel();
      // A row with neither a name nor notes nor a fixed record is an unused
      // slot; one with a record is a resource whose name was lost and gets
      // an invented name, but for the project's own resource 0, which has
      // none.
      if (resource.Name.empty() && !resource.Notes && !resource.HasFixedRecord) continue;
      ++written_.resources;
      if (WriteResource(resource) == kCancelled) return kCancelled;
    }
    return writer_->Write_hXML(nullptr, nullptr, "Resources");
  } catch (int) {
    ctx_.log.WriteLine("User break was thrown if GenerateResourcesXML()");
    throw;
  }
}

std::int32_t CXMLGen::WriteResource(const model::SBkndRscParams& resource) {
  NoteWritten();
  xml::XmlWriter& w = *writer_;
  ElementRun run(w);
  auto text = [&](const char* tag, const std::u16string& value) {
    if (!value.empty()) run.Do([&] { return WriteName(tag, value); });
  };
  auto money = [&](const char* tag, double value) { run.Raw(tag, xml::XmlWriter::FormatMoney(value)); };
  auto rate = [&](const char* tag, double value) { run.Raw(tag, xml::XmlWriter::FormatDecimal(value, 4)); };

  const bool cost = resource.IsCostResource != 0;
  const bool work = !cost && resource.Type == 0;
  const model::SBaseline* baseline = gen::BaselineZero(resource.Baselines);
  auto workTotal = [&](const char* tag, const std::optional<double>& minutes) {
    if (minutes) run.Raw(tag, WorkText(*minutes));
  };
  auto moneyTotal = [&](const char* tag, const std::optional<double>& value) {
    if (value) money(tag, *value);
  };
  auto twoDecimals = [&](const char* tag, const std::optional<double>& value) {
    if (value) run.Raw(tag, xml::XmlWriter::FormatTwoDecimals(*value));
  };

  run.Open("Resource");
  run.Raw("UID", resource.UID);
  if (resource.Guid) run.Raw("GUID", xml::XmlWriter::FormatGuid(*resource.Guid));
  run.Raw("ID", resource.ID);
  if (resource.Name.empty() && resource.UID == 0) {
    // The project's own resource has no name to lose.
  } else if (resource.Name.empty()) {
    std::u16string invented(model::kFixedTextUnits, u'\0');
    xml::XmlWriter::MakeUnknownResourceName(std::span<char16_t>(invented.data(), invented.size()));
    invented.resize(std::u16string_view(invented.c_str()).size());
    run.Do([&] { return WriteName("Name", invented); });
  } else {
    run.Do([&] { return WriteName("Name", EscapeMarkup(resource.Name)); });
  }
  run.Raw("Type", XmlType(resource));
  run.Raw("IsNull", "0");
  text("Initials", resource.Initials);
  text("NTAccount", resource.NTAccount);
  text("MaterialLabel", resource.MaterialLabel);
  text("Code", resource.Code);
  text("Group", resource.Group);
  run.Raw("WorkGroup", resource.WorkGroup);
  text("EmailAddress", resource.EmailAddress);
  // Maximum units belong to work resources; the totals of work to all
  // but cost resources (their overtime work is written all the same),
  // those of overtime cost to work resources.
  if (work) twoDecimals("MaxUnits", resource.MaxUnits);
  twoDecimals("PeakUnits", resource.PeakUnits);
  if (resource.OverAllocated) run.Raw("OverAllocated", *resource.OverAllocated ? "1" : "0");
  if (resource.CanLevel) run.Raw("CanLevel", *resource.CanLevel ? "1" : "0");
  run.Raw("AccrueAt", resource.AccrueAt);
  if (!cost) {
    workTotal("Work", resource.Work);
    workTotal("RegularWork", resource.RegularWork);
  }
  workTotal("OvertimeWork", resource.OvertimeWork);
  if (!cost) {
    workTotal("ActualWork", resource.ActualWork);
    workTotal("RemainingWork", resource.RemainingWork);
  }
  workTotal("ActualOvertimeWork", resource.ActualOvertimeWork);
  workTotal("RemainingOvertimeWork", resource.RemainingOvertimeWork);
  if (resource.Work && resource.ActualWork) {
    // Only where the share is a whole percent: the application's own
    // rounding of the others is not known.
    const double percent = *resource.Work > 0.0 ? *resource.ActualWork / *resource.Work * 100.0 : 0.0;
    if (std::fabs(percent - std::round(percent)) < 1e-9 && percent <= 100.0)
      run.Raw("PercentWorkComplete", static_cast<int>(std::round(percent)));
  }
  // Rates as the application writes them: none for cost resources, no
  // overtime rate but for work resources.
  if (!cost) rate("StandardRate", resource.StandardRate);
  run.Raw("StandardRateFormat", StandardRateFormatOf(resource));
  moneyTotal("Cost", resource.Cost);
  if (work) rate("OvertimeRate", resource.OvertimeRate);
  run.Raw("OvertimeRateFormat", XmlRateFormat(resource.OvertimeRateFormat, true));
  if (work) moneyTotal("OvertimeCost", resource.OvertimeCost);
  if (!cost) money("CostPerUse", resource.CostPerUse);
  moneyTotal("ActualCost", resource.ActualCost);
  if (work) moneyTotal("ActualOvertimeCost", resource.ActualOvertimeCost);
  moneyTotal("RemainingCost", resource.RemainingCost);
  if (work) moneyTotal("RemainingOvertimeCost", resource.RemainingOvertimeCost);
  // Variances against baseline 0, work in thousandths of a minute as the
  // documents hold it.
  const bool baselineSound = !baseline || (std::isfinite(baseline->Work) && std::isfinite(baseline->Cost));
  if (resource.Work && baselineSound)
    twoDecimals("WorkVariance", *resource.Work * 1000.0 - (baseline ? baseline->Work : 0.0));
  if (resource.Cost && baselineSound)
    money("CostVariance", *resource.Cost - (baseline ? baseline->Cost / model::kStoredMoneyScale : 0.0));
  const EarnedValues earned = EarnedValuesOf(resource);
  if (earned.bcws && earned.bcwp) twoDecimals("SV", *earned.bcwp - *earned.bcws);
  if (earned.bcwp && earned.acwp) twoDecimals("CV", *earned.bcwp - *earned.acwp);
  twoDecimals("ACWP", earned.acwp);
  // The UID whole, as for tasks: calendars above 32767 stay themselves.
  if (calendarUids_.contains(resource.CalendarUID))
    run.Raw("CalendarUID", resource.CalendarUID);
  else
    run.Raw("CalendarUID", "-1");
  if (HasNotes(resource)) run.Do([&] { return w.WriteNotesXML("Notes", NotesView(*resource.Notes)); });
  twoDecimals("BCWS", earned.bcws);
  twoDecimals("BCWP", earned.bcwp);
  run.Raw("IsGeneric", resource.IsGeneric);
  run.Raw("IsInactive", resource.IsInactive);
  // Version 9 files have no enterprise field (no map lists one): a resource
  // is the project's own, as the importer takes it when the element is
  // absent. Later files keep it as a bit not yet placed: none written.
  const bool version9 = std::string_view(saveVersion_) == "9";
  if (version9) run.Raw("IsEnterprise", "0");
  // The file keeps a booking type only where it is not the default
  // (committed, 0).
  run.Raw("BookingType", resource.BookingType);
  // Protected actual work: var data of versions 12 and 14 where it is not
  // 0. Version 9 files have no such field; the applications that wrote them
  // export 0 for every resource, and the importer takes an absent one for
  // 0 as well.
  if (resource.ActualWorkProtected || version9)
    run.Raw("ActualWorkProtected", WorkText(resource.ActualWorkProtected.value_or(0.0)));
  if (resource.ActualOvertimeWorkProtected || version9)
    run.Raw("ActualOvertimeWorkProtected", WorkText(resource.ActualOvertimeWorkProtected.value_or(0.0)));
  if (resource.CreationDate) run.Raw("CreationDate", xml::XmlWriter::FormatDateTime(*resource.CreationDate));
  run.Do([&] { return GenerateExtendedAttribute(resource.UID, model::OwnerKind::Resource); });
  run.Do([&] { return gen::WriteBaselines(w, resource.Baselines, gen::BaselineOwner::Resource); });
  run.Raw("IsCostResource", resource.IsCostResource);
  run.Raw("IsBudget", resource.IsBudget);
  run.Do([&] { return GenerateAvailabilityPeriod(resource.UID); });
  run.Do([&] { return GenerateRates(resource.UID); });
  run.Close("Resource");
  return run.Cancelled() ? kCancelled : 0;
}

std::int32_t CXMLGen::GenerateAvailabilityPeriod(std::uint32_t resourceUid) {
  try {
    if (project_.availability.empty()) return kNothingWritten;
    if (availabilityByResource_.empty()) IndexResourceData();
    if (writer_->Write_hXML("AvailabilityPeriods", nullptr, nullptr) == kCancelled) return kCancelled;
    if (auto found = availabilityByResource_.find(resourceUid); found != availabilityByResource_.end()) {
      for (std::size_t i : found->second) {
        if (ctx_.Cancelled()) return Cancel();
        const model::SAvailabilityParams& period = project_.availability[i];
        ElementRun run(*writer_);
        run.Open("AvailabilityPeriod");
        run.Raw("AvailableFrom", StampText(period.AvailableFrom));
        run.Raw("AvailableTo", LastMinuteText(period.AvailableTo));
        run.Raw("AvailableUnits", xml::XmlWriter::FormatTrimmedFloat(period.AvailableUnits * 0.0001f));
        run.Close("AvailabilityPeriod");
        if (run.Cancelled()) return kCancelled;
      }
    }
    return writer_->Write_hXML(nullptr, nullptr, "AvailabilityPeriods");
  } catch (int) {
    ctx_.log.WriteLine("User break was thrown if GenerateAvailabilityPeriod()");
    throw;
  }
}

std::int32_t CXMLGen::GenerateRates(std::uint32_t resourceUid) {
  try {
    if (project_.rates.empty()) return kNothingWritten;
    if (ratesByResource_.empty()) IndexResourceData();
    if (writer_->Write_hXML("Rates", nullptr, nullptr) == kCancelled) return kCancelled;
    if (auto found = ratesByResource_.find(resourceUid); found != ratesByResource_.end()) {
      for (std::size_t i : found->second) {
        if (ctx_.Cancelled()) return Cancel();
        const model::SRateParams& rate = project_.rates[i];
        ElementRun run(*writer_);
        run.Open("Rate");
        run.Raw("RatesFrom", StampText(rate.RatesFrom));
        // An entry ends one minute before the next one of its table starts.
        run.Raw("RatesTo", LastMinuteText(rate.RatesTo));
        run.Raw("RateTable", rate.RateTable);
        run.Raw("StandardRate", xml::XmlWriter::FormatDecimal(rate.StandardRate, 4));
        run.Raw("StandardRateFormat", XmlRateFormat(rate.StandardRateFormat, false));
        run.Raw("OvertimeRate", xml::XmlWriter::FormatDecimal(rate.OvertimeRate, 4));
        run.Raw("OvertimeRateFormat", XmlRateFormat(rate.OvertimeRateFormat, true));
        run.Raw("CostPerUse", xml::XmlWriter::FormatMoney(rate.CostPerUse));
        run.Close("Rate");
        if (run.Cancelled()) return kCancelled;
      }
    }
    return writer_->Write_hXML(nullptr, nullptr, "Rates");
  } catch (int) {
    ctx_.log.WriteLine("User break was thrown if GenerateRates()");
    throw;
  }
}
