// The Baseline elements of a task, resource or assignment: one per saved
// baseline, in number order, each with the values it holds (the others are
// left out, as the application leaves them out).
#pragma once

#include <cstdint>
#include <vector>

#include "model/Records.h"
#include "xml/XmlWriter.h"

namespace gen {

enum class BaselineOwner : std::uint8_t { Task, Resource, Assignment };

// Writes the set baselines of list (children in the schema's order:
// Number, Start, Finish, Duration, Work, Cost; resources Number, Work,
// Cost; assignments Number, Start, Finish, Work, Cost). Returns
// kCancelled when the writer was cancelled, else 0.
std::int32_t WriteBaselines(xml::XmlWriter& writer, const std::vector<model::SBaseline>& list, BaselineOwner owner);

// Baseline 0 of list, when saved; null otherwise.
const model::SBaseline* BaselineZero(const std::vector<model::SBaseline>& list);

}  // namespace gen
