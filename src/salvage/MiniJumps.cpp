#include "salvage/MiniJumps.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/Logger.h"
#include "salvage/Layout.h"
#include "salvage/LostStreams.h"
#include "salvage/Root.h"
#include "salvage/SalvageState.h"
#include "salvage/Sat.h"

namespace salvage {
namespace {

// Mini sectors looked at in all; a file that would need more keeps its runs.
constexpr std::size_t kMaxSteps = std::size_t{1} << 22;
// A task's, resource's or assignment's record begins with its UID (or its
// ID), above the one before by at most this much in the samples' tables.
constexpr std::uint32_t kMaxRecordStep = 64;

// What a table stream holds at byte at, known before it is read: a u32 of
// at most that value (a Var2Data value's length, which most often runs up
// to the next value, but a value of its own may lie between), a u32 below
// it (a place in the data stream a meta stream's item names; a FixedMeta's
// items four bytes after their state name live records in order), or a
// FixedMeta item's state byte, the number a FixedData's live record begins
// with (value 1: one above the record's before it, by at most
// kMaxRecordStep; 0: the first), or a u32 whose high half is the value (a
// VarMeta item's type, naming its storage's kind).
struct Check {
  enum Op : std::uint8_t { kAtMost, kBelow, kState, kRising, kHigh };
  std::uint32_t at = 0;
  Op op = kAtMost;
  std::uint32_t value = 0;
  bool ordered = false;
};

std::uint32_t U32(platform::ByteView v, std::size_t at) { return v.u32_at(at).value_or(0); }

class JumpMender {
 public:
  JumpMender(CRoot& root, CSat& sat, SalvageState& state)
      : root_(root), sat_(sat), state_(state),
        count_(static_cast<std::uint32_t>(std::min<std::size_t>(sat.MiniSatTable().size(),
                                                                sat.MiniStreamSize() / kMiniSectorSize))) {}

  int Run() {
    bool guessed = false;
    for (std::uint32_t m = 0; m < count_ && !guessed; ++m) guessed = sat_.MiniLinkGuessed(m);
    if (!guessed) return 0;
    MarkSectors();
    std::vector<std::uint8_t> seen(root_.EntryCount(), 0);
    std::vector<std::uint32_t> children;
    for (std::uint32_t n = 0; n < root_.EntryCount() && steps_ < kMaxSteps; ++n) {
      const DirItem* storage = root_.GetEntry(n);
      if (!storage || storage->lost || storage->Type() != kTypeStorage) continue;
      children.clear();
      root_.CollectSiblings(storage->Child(), seen, children);
      const DirItem *varMeta = nullptr, *var2Data = nullptr, *fixedMeta = nullptr, *fixed2Meta = nullptr,
                    *fixedData = nullptr;
      for (std::uint32_t c : children) {
        const DirItem& item = *root_.GetEntry(c);
        if (item.Type() != kTypeStream) continue;
        const std::u16string name = item.Name();
        const DirItem** slot = name == u"VarMeta"      ? &varMeta
                               : name == u"Var2Data"   ? &var2Data
                               : name == u"FixedMeta"  ? &fixedMeta
                               : name == u"Fixed2Meta" ? &fixed2Meta
                               : name == u"FixedData"  ? &fixedData
                                                       : nullptr;
        if (slot && !*slot) *slot = &item;
      }
      if (varMeta && var2Data && Mini(*varMeta)) Mend(*varMeta, VarItemChecks(*varMeta, *var2Data, storage->Name()));
      const std::uint32_t stride = FixedMetaStrideOf(storage->Name());
      if (fixedMeta && Mini(*fixedMeta)) Mend(*fixedMeta, ItemChecks(*fixedMeta, stride, true));
      if (fixedMeta && fixedData && Mini(*fixedData) && RecordsRise(storage->Name()))
        Mend(*fixedData, RecordChecks(*fixedMeta, stride, *fixedData));
      if (fixed2Meta && Mini(*fixed2Meta)) Mend(*fixed2Meta, ItemChecks(*fixed2Meta, 0, false));
      if (varMeta && var2Data && Mini(*varMeta) && Mini(*var2Data)) Mend(*var2Data, ValueChecks(*varMeta, *var2Data));
    }
    return relinked_;
  }

 private:
  static bool Mini(const DirItem& item) { return item.Size() > 0 && item.Size() < kMiniStreamCutoff; }

  // The mini sectors a guessed link may not lead to: the streams' starts,
  // the sectors that a link of the file's own leads to, and those its own
  // entry marks free (a stale copy of a stream often lies there). Of the
  // others, those whose own entry is sound and in use are where lost links
  // lead.
  void MarkSectors() {
    taken_.assign(count_, 0);
    owed_.assign(count_, 0);
    const std::vector<std::uint32_t>& table = sat_.MiniSatTable();
    for (std::uint32_t m = 0; m < count_; ++m) {
      if (sat_.MiniLinkGuessed(m)) continue;
      if (table[m] < count_) taken_[table[m]] = 1;
      if (table[m] == kFreeSector) taken_[m] = 1;
      owed_[m] = table[m] < count_ || table[m] == kEndOfChain;
    }
    for (std::uint32_t n = 0; n < root_.EntryCount(); ++n) {
      const DirItem* item = root_.GetEntry(n);
      if (item && !item->lost && item->Type() == kTypeStream && Mini(*item) && item->Start() < count_)
        taken_[item->Start()] = 1;
    }
  }

  // The first mini sector of a stream: its header, which no guess reaches.
  platform::ByteView Head(const DirItem& item) const {
    const std::uint8_t* bytes = item.Start() < count_ ? sat_.GetMiniSector(item.Start()) : nullptr;
    return bytes ? platform::ByteView(bytes, std::min<std::uint32_t>(kMiniSectorSize, item.Size()))
                 : platform::ByteView();
  }

  // A FixedMeta's or Fixed2Meta's items, stride bytes apart (0: as many as
  // its size holds): each names a place inside the data stream its header
  // sizes; a FixedMeta's begin with a state.
  std::vector<Check> ItemChecks(const DirItem& meta, std::uint32_t stride, bool states) const {
    std::vector<Check> checks;
    const platform::ByteView head = Head(meta);
    const std::uint32_t items = U32(head, 8), dataSize = U32(head, 12);
    if (U32(head, 0) != kTableMetaMagic || items == 0 || dataSize == 0 || meta.Size() <= kFixedMetaHeader)
      return checks;
    if (stride == 0 && !states && (meta.Size() - kFixedMetaHeader) % items == 0)
      stride = (meta.Size() - kFixedMetaHeader) / items;
    if (stride < 8 || kFixedMetaHeader + std::uint64_t{stride} * items > meta.Size()) return checks;
    for (std::uint32_t i = 0; i < items; ++i) {
      const std::uint32_t at = kFixedMetaHeader + stride * i;
      if (states) checks.push_back({at, Check::kState, 0});
      checks.push_back({at + 4, Check::kBelow, dataSize, states});
    }
    return checks;
  }

  // A VarMeta's 12-byte items: each names a place inside the Var2Data and
  // a type whose high half names the storage's kind (its places alone say
  // too little: other bytes, mostly small numbers, hold such as well).
  std::vector<Check> VarItemChecks(const DirItem& varMeta, const DirItem& var2Data, const std::u16string& storage) const {
    std::vector<Check> checks;
    const platform::ByteView head = Head(varMeta);
    const std::uint32_t items = U32(head, 8), size = var2Data.Size();
    const auto type = static_cast<std::uint16_t>(U32(head, kVarMetaHeader + 8) >> 16);
    if (DataSizeTold(u"VarMeta", head) != size || varMeta.Size() != kVarMetaHeader + std::uint64_t{12} * items ||
        !VarTypeOf(storage, type))
      return checks;
    for (std::uint32_t i = 0; i < items; ++i) {
      const std::uint32_t at = kVarMetaHeader + 12 * i;
      checks.push_back({at + 4, Check::kBelow, size});
      checks.push_back({at + 8, Check::kHigh, type});
    }
    return checks;
  }

  // The tables whose records begin with their UIDs, rising.
  static bool RecordsRise(const std::u16string& storage) {
    return storage == u"TBkndTask" || storage == u"TBkndRsc" || storage == u"TBkndAssn";
  }

  // A FixedData's live records, at the places its FixedMeta (as its chain
  // now reads) names, in order: a FixedMeta out of order tells nothing.
  std::vector<Check> RecordChecks(const DirItem& fixedMeta, std::uint32_t stride, const DirItem& fixedData) {
    std::vector<Check> checks;
    const std::optional<Bytes> meta = stride != 0 ? Read(fixedMeta) : std::nullopt;
    if (!meta) return checks;
    const platform::ByteView v(meta->data(), meta->size());
    const std::uint32_t items = U32(v, 8), size = fixedData.Size();
    if (DataSizeTold(u"FixedMeta", v) != size || kFixedMetaHeader + std::uint64_t{stride} * items > v.size())
      return checks;
    std::optional<std::uint32_t> last;
    bool after = false;  // whether the record before is checked too
    for (std::uint32_t i = 0; i < items; ++i) {
      const std::uint32_t at = kFixedMetaHeader + stride * i;
      if (v.u8_at(at).value_or(1) != 0) continue;  // only live records are in order
      const std::uint32_t place = U32(v, at + 4);
      if (std::uint64_t{place} + 4 > size || (last && place <= *last)) return {};
      last = place;
      // A number across two pieces is read in neither.
      const bool whole = place % kMiniSectorSize + 4 <= kMiniSectorSize;
      if (whole) checks.push_back({place, Check::kRising, after ? 1u : 0u});
      after = whole;
    }
    return checks;
  }

  // A Var2Data's values: each a u32 length and that many bytes, up to the
  // next value its VarMeta names (or the stream's end).
  std::vector<Check> ValueChecks(const DirItem& varMeta, const DirItem& var2Data) {
    std::vector<Check> checks;
    const std::optional<Bytes> meta = Read(varMeta);
    if (!meta) return checks;
    const platform::ByteView metaView(meta->data(), meta->size());
    const std::uint32_t size = var2Data.Size();
    if (DataSizeTold(u"VarMeta", metaView) != size) return checks;
    const std::vector<std::uint32_t> positions = VarMetaPositions(metaView);
    if (positions.empty() || positions.back() >= size) return checks;  // a garbled VarMeta tells nothing
    for (std::size_t i = 0; i < positions.size(); ++i) {
      const std::uint32_t at = positions[i], next = i + 1 < positions.size() ? positions[i + 1] : size;
      if (next >= at + 4) checks.push_back({at, Check::kAtMost, next - at - 4});
    }
    return checks;
  }

  // The stream's bytes as its chain now reads, when it is as long as its
  // size needs.
  std::optional<Bytes> Read(const DirItem& item) {
    Chain chain;
    const std::size_t needed = (item.Size() + kMiniSectorSize - 1) / kMiniSectorSize;
    sat_.FollowMiniChain(item.Start(), chain, needed);
    if (chain.sectors.size() != needed) return std::nullopt;
    Bytes out(needed * kMiniSectorSize);
    if (!sat_.CopySectors(chain.sectors, true, out.data())) return std::nullopt;
    out.resize(item.Size());
    return out;
  }

  // Whether mini sector m passes every check of a piece. Read strictly,
  // a length runs up to the next value, and places in order lie at floor
  // or past it, each at or past the one before (floor then holds the last).
  bool Holds(std::uint32_t m, const std::vector<Check>& checks, bool strict, std::uint32_t& floor) const {
    const std::uint8_t* bytes = sat_.GetMiniSector(m);
    if (!bytes) return false;
    const platform::ByteView piece(bytes, kMiniSectorSize);
    std::uint32_t last = floor;
    for (const Check& c : checks) {
      const std::uint32_t within = c.at % kMiniSectorSize;
      if (c.op == Check::kState) {
        const std::uint8_t state = piece.u8_at(within).value_or(1);
        if (state != 0 && state != 2 && state != 4 && state != 6) return false;
        continue;
      }
      const std::uint32_t v = piece.u32_at(within).value_or(0);
      if (c.op == Check::kHigh) {
        if (v >> 16 != c.value) return false;
        continue;
      }
      if (c.op == Check::kRising) {
        if (c.value != 0 && (v <= last || v - last > kMaxRecordStep)) return false;
        last = v;
        continue;
      }
      // A length of zero runs up to the next value, or is none.
      if (c.op == Check::kBelow ? v >= c.value : strict ? v != c.value : v > c.value || (v == 0) != (c.value == 0))
        return false;
      // Only live records lie in order (a deleted one's place may be any).
      const std::uint8_t state = within >= 4 ? piece.u8_at(within - 4).value_or(1) : 1;
      if (!c.ordered || (state != 0 && state != 2)) continue;
      if (strict && v < last) return false;
      last = v;
    }
    floor = last;
    return true;
  }

  // The sector steps links on from m, as the table now links them.
  std::optional<std::uint32_t> Walk(std::uint32_t m, std::size_t steps) {
    const std::vector<std::uint32_t>& table = sat_.MiniSatTable();
    for (; steps > 0; --steps, ++steps_) {
      if (m >= count_ || table[m] >= count_) return std::nullopt;
      m = table[m];
    }
    return m;
  }

  void Mend(const DirItem& stream, const std::vector<Check>& checks) {
    if (checks.empty() || stream.Start() >= count_) return;
    const std::size_t pieces = (stream.Size() + kMiniSectorSize - 1) / kMiniSectorSize;
    std::vector<std::vector<Check>> byPiece(pieces);
    for (const Check& c : checks) {
      const std::uint32_t width = c.op == Check::kState ? 1 : 4;
      if (c.at + width <= stream.Size() && c.at % kMiniSectorSize + width <= kMiniSectorSize)
        byPiece[c.at / kMiniSectorSize].push_back(c);
    }

    // The chain piece by piece. A piece that fails its checks after a
    // guessed link (the only one since a piece last passed them strictly:
    // another stream's bytes often pass loosely) is looked for among the
    // sectors no link of the file's own leads to, walked on from as far as
    // that piece: the one sector that passes takes the guess's place; of
    // several, the one that passes strictly where a lost link must lead
    // (its own entry is sound and in use, and nothing else leads to it),
    // or the one that passes strictly. Places out of order fail a piece
    // too, and then only the strict reading tells.
    std::uint32_t cur = stream.Start();
    std::vector<std::pair<std::uint32_t, std::size_t>> guesses;  // (sector linked from, piece it leads to)
    std::uint32_t floor = 0;
    ++round_;
    inChain_.resize(count_, 0);
    auto inChain = [&](std::uint32_t m) { return inChain_[m] == round_; };
    for (std::size_t piece = 0; piece < pieces && steps_ < kMaxSteps; ++piece) {
      const std::vector<Check>& here = byPiece[piece];
      if (!here.empty()) {
        const bool ordered = std::any_of(here.begin(), here.end(), [](const Check& c) { return c.ordered; });
        std::uint32_t f = floor;
        const bool loose = Holds(cur, here, false, f);
        const bool strict = loose && Holds(cur, here, true, f = floor);
        if (!loose || (ordered && !strict)) {
          if (guesses.size() != 1) return;  // none to mend, or which one was wrong is untold
          const auto [from, at] = guesses.front();
          struct Fit {
            std::uint32_t to, landed;
          };
          std::optional<Fit> fit, owedFit, strictFit;
          int fits = 0, owedFits = 0, strictFits = 0;
          std::uint32_t t = 0;
          for (; t < count_ && steps_ < kMaxSteps; ++t, ++steps_) {
            if (taken_[t] || inChain(t) || t == sat_.MiniSatTable()[from]) continue;
            const auto end = Walk(t, piece - at);
            if (!end || !Holds(*end, here, false, f = floor)) continue;
            ++fits;
            fit = Fit{t, *end};
            if (!Holds(*end, here, true, f = floor)) continue;
            ++strictFits;
            strictFit = fit;
            if (owed_[t]) ++owedFits, owedFit = fit;
          }
          if (t < count_) return;  // not all looked at
          if (loose || fits != 1) fit = owedFits == 1 ? owedFit : strictFits == 1 ? strictFit : std::nullopt;
          if (!fit) return;
          state_.log().WriteFormat(
              "Mini sector %u of a %s links to %u, not %u: what its table says it holds is found only so", from,
              stream.NarrowName().c_str(), fit->to, sat_.MiniSatTable()[from]);
          sat_.RelinkMini(from, fit->to);
          taken_[fit->to] = 1;
          owed_[fit->to] = 0;
          ++relinked_;
          cur = fit->landed;
          guesses.clear();
        } else if (strict) {
          guesses.clear();
        }
        f = floor;
        if (!Holds(cur, here, true, f)) Holds(cur, here, false, f = floor);
        floor = f;
      }
      if (cur >= count_) return;
      inChain_[cur] = round_;
      if (piece + 1 == pieces) break;
      if (sat_.MiniLinkGuessed(cur)) guesses.emplace_back(cur, piece + 1);
      const auto next = Walk(cur, 1);
      if (!next || inChain(*next)) return;
      cur = *next;
    }
  }

  CRoot& root_;
  CSat& sat_;
  SalvageState& state_;
  const std::uint32_t count_;
  std::vector<std::uint8_t> taken_;
  std::vector<std::uint8_t> owed_;      // by mini sector: one a lost link must lead to
  std::vector<std::uint32_t> inChain_;  // by mini sector: the round that walked it
  std::uint32_t round_ = 0;
  std::size_t steps_ = 0;
  int relinked_ = 0;
};

}  // namespace

int MendMiniJumps(CRoot& root, CSat& sat, SalvageState& state) { return JumpMender(root, sat, state).Run(); }

}  // namespace salvage
