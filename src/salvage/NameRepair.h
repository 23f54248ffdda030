// Names of the project's own storages and streams, repaired where a few of
// their characters were damaged: a name that is none of them, of the same
// length as one and a character or two away from it, becomes that one when
// no other name fits as well and no sibling bears it already.
#pragma once

#include "salvage/Root.h"

namespace salvage {

// Repairs the names of the entries reachable from the root, counting them
// in the salvage's stats. Linear in the entries.
void RepairProjectNames(CRoot& root, SalvageState& state);

}  // namespace salvage
