// Compound files shaped to make a salvage spend time or memory far beyond
// their size, built byte by byte (the writer would never make them). Each
// generator takes the size wanted and returns a file of about that size.
//
//   SharedChain: many stream entries all name one long chain of sectors.
//   DirectoryScan: a broken directory chain, and every other sector of the
//     file a directory-like sector on one long chain (the whole-file scan
//     for directory sectors then follows that chain once per sector).
//   MiniChain: many small streams all start at mini sector 0 of one mini
//     chain that runs through the whole mini stream.
//   TableLike: no usable header, and every sector reads as a table whose
//     links all fall into one part.
//   LostChains: a table storage that lost its entries, and every mini
//     sector a chain of its own that no entry owns, each holding what
//     reads as a FixedMeta header.
//   SwappedValues: storages that all name one Var2Data whose every other
//     sector fails the length its VarMeta gives, every other holds it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fixture {

// A version 3 compound file laid out by hand: sectors and their links,
// then the allocation table (and its DIF sectors) appended by Build.
class RawCfb {
 public:
  // count new sectors (zeroed); returns the first one's number.
  std::uint32_t AddSectors(std::uint32_t count);
  std::uint8_t* Sector(std::uint32_t sector) { return bytes_.data() + std::size_t{sector} * 512; }
  void Link(std::uint32_t sector, std::uint32_t next);
  // Links first .. first + count - 1 one after the other, the last ending the chain.
  void LinkRun(std::uint32_t first, std::uint32_t count);
  // Header fields the allocation table does not decide.
  std::uint32_t dirStart = 0xFFFFFFFE;
  std::uint32_t miniSatStart = 0xFFFFFFFE;
  std::uint32_t miniSatCount = 0;
  std::vector<std::uint8_t> Build() const;

 private:
  std::vector<std::uint8_t> bytes_;  // the sectors after the header
  std::vector<std::uint32_t> links_;
};

// One 128-byte directory entry written at p.
struct RawEntry {
  std::u16string name;
  std::uint8_t type = 2;
  std::uint32_t left = 0xFFFFFFFF, right = 0xFFFFFFFF, child = 0xFFFFFFFF;
  std::uint32_t start = 0xFFFFFFFE;
  std::uint32_t size = 0;
  void WriteTo(std::uint8_t* p) const;
};

std::vector<std::uint8_t> SharedChainFile(std::size_t bytes);
std::vector<std::uint8_t> DirectoryScanFile(std::size_t bytes);
std::vector<std::uint8_t> MiniChainFile(std::size_t bytes);
std::vector<std::uint8_t> TableLikeFile(std::size_t bytes);
std::vector<std::uint8_t> LostChainsFile(std::size_t bytes);
std::vector<std::uint8_t> SwappedValuesFile(std::size_t bytes);

struct HostileShape {
  const char* name;
  std::vector<std::uint8_t> (*make)(std::size_t bytes);
};
// All of them, in the order above.
const std::vector<HostileShape>& HostileShapes();

}  // namespace fixture
