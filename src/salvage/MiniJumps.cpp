#include "salvage/MiniJumps.h"

#include <optional>
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

// A u32 a Var2Data holds before it is read: value at byte within of its
// mini sector.
struct Head {
  std::uint32_t within = 0;
  std::uint32_t value = 0;
};

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
    MarkTaken();
    std::vector<std::uint8_t> seen(root_.EntryCount(), 0);
    std::vector<std::uint32_t> children;
    for (std::uint32_t n = 0; n < root_.EntryCount() && steps_ < kMaxSteps; ++n) {
      const DirItem* storage = root_.GetEntry(n);
      if (!storage || storage->lost || storage->Type() != kTypeStorage) continue;
      children.clear();
      root_.CollectSiblings(storage->Child(), seen, children);
      const DirItem* varMeta = nullptr;
      const DirItem* var2Data = nullptr;
      for (std::uint32_t c : children) {
        const DirItem& item = *root_.GetEntry(c);
        if (item.Type() != kTypeStream) continue;
        if (item.Name() == u"VarMeta" && !varMeta) varMeta = &item;
        if (item.Name() == u"Var2Data" && !var2Data) var2Data = &item;
      }
      if (varMeta && var2Data) MendValues(*varMeta, *var2Data);
    }
    return relinked_;
  }

 private:
  bool Mini(const DirItem& item) const { return item.Size() > 0 && item.Size() < kMiniStreamCutoff; }

  // The mini sectors a guessed link may not lead to: the streams' starts
  // and the sectors that a link of the file's own leads to.
  void MarkTaken() {
    taken_.assign(count_, 0);
    const std::vector<std::uint32_t>& table = sat_.MiniSatTable();
    for (std::uint32_t m = 0; m < count_; ++m)
      if (!sat_.MiniLinkGuessed(m) && table[m] < count_) taken_[table[m]] = 1;
    for (std::uint32_t n = 0; n < root_.EntryCount(); ++n) {
      const DirItem* item = root_.GetEntry(n);
      if (item && !item->lost && item->Type() == kTypeStream && Mini(*item) && item->Start() < count_)
        taken_[item->Start()] = 1;
    }
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

  bool Holds(std::uint32_t m, const std::vector<Head>& heads) const {
    const std::uint8_t* bytes = sat_.GetMiniSector(m);
    if (!bytes) return false;
    for (const Head& h : heads)
      if (platform::ByteView(bytes, kMiniSectorSize).u32_at(h.within).value_or(0) != h.value) return false;
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

  void MendValues(const DirItem& varMeta, const DirItem& var2Data) {
    if (!Mini(var2Data) || varMeta.Size() == 0 || varMeta.Size() >= kMiniStreamCutoff ||
        var2Data.Start() >= count_)
      return;
    const std::optional<Bytes> meta = Read(varMeta);
    if (!meta) return;
    const platform::ByteView metaView(meta->data(), meta->size());
    const std::uint32_t size = var2Data.Size();
    if (DataSizeTold(u"VarMeta", metaView) != size) return;
    const std::vector<std::uint32_t> positions = VarMetaPositions(metaView);
    if (positions.empty() || positions.back() >= size) return;  // a garbled VarMeta tells nothing
    const std::size_t pieces = (size + kMiniSectorSize - 1) / kMiniSectorSize;
    std::vector<std::vector<Head>> heads(pieces);
    for (std::size_t i = 0; i < positions.size(); ++i) {
      const std::uint32_t at = positions[i], next = i + 1 < positions.size() ? positions[i + 1] : size;
      if (at % kMiniSectorSize + 4 <= kMiniSectorSize && next >= at + 4)
        heads[at / kMiniSectorSize].push_back({at % kMiniSectorSize, next - at - 4});
    }

    // The chain piece by piece. A piece that lacks its heads after a guessed
    // link (the only one since heads were last checked) is looked for among
    // the sectors no link of the file's own leads to: the one whose chain,
    // as far as that piece, holds them takes the guess's place.
    std::uint32_t cur = var2Data.Start();
    std::optional<std::pair<std::uint32_t, std::size_t>> guess;  // (sector linked from, piece it leads to)
    ++round_;
    inChain_.resize(count_, 0);
    auto inChain = [&](std::uint32_t m) { return inChain_[m] == round_; };
    for (std::size_t piece = 0; piece < pieces && steps_ < kMaxSteps; ++piece) {
      if (!heads[piece].empty()) {
        if (!Holds(cur, heads[piece])) {
          if (!guess) return;
          const auto [from, at] = *guess;
          std::optional<std::uint32_t> found, landed;
          int fits = 0;
          std::uint32_t t = 0;
          for (; t < count_ && fits < 2 && steps_ < kMaxSteps; ++t, ++steps_) {
            if (taken_[t] || inChain(t) || t == sat_.MiniSatTable()[from]) continue;
            const auto end = Walk(t, piece - at);
            if (end && Holds(*end, heads[piece])) {
              ++fits;
              found = t;
              landed = end;
            }
          }
          if (fits != 1 || t < count_) return;  // none, several, or not all looked at
          state_.log().WriteFormat(
              "Mini sector %u of a Var2Data links to %u, not %u: the values its VarMeta names are found only so",
              from, *found, sat_.MiniSatTable()[from]);
          sat_.RelinkMini(from, *found);
          taken_[*found] = 1;
          ++relinked_;
          cur = *landed;
        }
        guess.reset();
      }
      if (cur >= count_) return;
      inChain_[cur] = round_;
      if (piece + 1 == pieces) break;
      // Two guesses with no heads between leave which one was wrong untold.
      if (sat_.MiniLinkGuessed(cur)) {
        if (guess) return;
        guess = {cur, piece + 1};
      }
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
  std::vector<std::uint32_t> inChain_;  // by mini sector: the round that walked it
  std::uint32_t round_ = 0;
  std::size_t steps_ = 0;
  int relinked_ = 0;
};

}  // namespace

int MendMiniJumps(CRoot& root, CSat& sat, SalvageState& state) { return JumpMender(root, sat, state).Run(); }

}  // namespace salvage
