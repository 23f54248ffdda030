// Mini chains through a lost mini SAT part: its links were taken as runs,
// one mini sector to the next, which is right for most links but not for a
// chain that jumps. Where a Var2Data's VarMeta reads soundly, the length
// before each of its values is known before the Var2Data is read (it runs
// up to the next value); a mini sector after a guessed link that lacks
// them is not the stream's, and the one mini sector that holds them, among
// those no other chain or stream takes, is.
#pragma once

namespace salvage {

class CRoot;
class CSat;
struct SalvageState;

// Relinks the guessed mini links that the Var2Data streams' values
// contradict, where exactly one mini sector fits instead. Returns the
// links changed. Bounded by a fixed number of comparisons.
int MendMiniJumps(CRoot& root, CSat& sat, SalvageState& state);

}  // namespace salvage
