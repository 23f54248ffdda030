// The walks of every chain of a table at once. Each sector links to at most
// one next sector, so the walk from any sector runs into an end, into a
// sector already walked (whose walk it then shares) or round a cycle; the
// lengths of all walks together take one pass over the table, where walking
// each chain on its own would cost the square of the table's size.
#pragma once

#include <cstdint>
#include <vector>

namespace salvage {

// How a walk stopped after its last sector. kCycle: the next sector was
// already in the walk.
constexpr std::uint8_t kWalkCycle = 0xFF;

struct ChainWalks {
  // For every node: how many distinct nodes the walk from it takes (itself
  // included), and how that walk stopped (kWalkCycle, or the stop code the
  // link function gave for its last node).
  std::vector<std::uint32_t> length;
  std::vector<std::uint8_t> stop;
};

// link(node, next, stop) returns true with next set when node links on to
// another node (below count), or false with stop set when the walk ends
// after node.
template <typename Link>
ChainWalks WalkAllChains(std::uint32_t count, Link link) {
  ChainWalks w;
  w.length.assign(count, 0);
  w.stop.assign(count, 0);
  std::vector<std::uint8_t> state(count, 0);  // 0: not yet, 1: on the current walk, 2: done
  std::vector<std::uint32_t> path;
  for (std::uint32_t first = 0; first < count; ++first) {
    if (state[first] != 0) continue;
    path.clear();
    std::uint32_t s = first;
    std::uint32_t carried = 0;  // length of what follows the path's last node
    std::uint8_t stop = 0;
    for (;;) {
      if (state[s] == 2) {
        carried = w.length[s];
        stop = w.stop[s];
        break;
      }
      if (state[s] == 1) {
        // A cycle: every node from s to the path's end walks round it once.
        std::size_t at = path.size();
        while (path[at - 1] != s) --at;
        --at;
        const auto cycle = static_cast<std::uint32_t>(path.size() - at);
        for (std::size_t i = at; i < path.size(); ++i) {
          w.length[path[i]] = cycle;
          w.stop[path[i]] = kWalkCycle;
          state[path[i]] = 2;
        }
        path.resize(at);
        carried = cycle;
        stop = kWalkCycle;
        break;
      }
      state[s] = 1;
      path.push_back(s);
      std::uint32_t next = 0;
      std::uint8_t code = 0;
      if (!link(s, next, code) || next >= count) {
        // The walk ends after s.
        w.length[s] = 1;
        w.stop[s] = code;
        state[s] = 2;
        path.pop_back();
        carried = 1;
        stop = code;
        break;
      }
      s = next;
    }
    for (std::size_t i = path.size(); i-- > 0;) {
      w.length[path[i]] = ++carried;
      w.stop[path[i]] = stop;
      state[path[i]] = 2;
    }
  }
  return w;
}

}  // namespace salvage
