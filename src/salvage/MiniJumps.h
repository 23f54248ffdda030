// Mini chains through a lost mini SAT part: its links were taken as runs,
// one mini sector to the next, which is right for most links but not for a
// chain that jumps. A table's streams say some of what they hold before
// they are read: a FixedMeta's or Fixed2Meta's items name places inside the
// data stream its header sizes (a FixedMeta's live records in order), a
// VarMeta's items places inside its Var2Data and a type naming the
// storage's kind, a Var2Data's values each begin with a length that
// reaches no further than the next value its VarMeta names, and a task's,
// resource's or assignment's FixedData records begin with UIDs that rise a
// little from one to the next. A piece after a guessed link that does not
// hold so is not the stream's; the one mini sector that does, among those
// no other chain or stream takes, is.
#pragma once

namespace salvage {

class CRoot;
class CSat;
struct SalvageState;

// Relinks the guessed mini links that the table streams' contents
// contradict, where exactly one mini sector fits instead. Returns the links
// changed. Bounded by a fixed number of mini sectors looked at.
int MendMiniJumps(CRoot& root, CSat& sat, SalvageState& state);

}  // namespace salvage
