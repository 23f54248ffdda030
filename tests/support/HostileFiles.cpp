#include "support/HostileFiles.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace fixture {
namespace {

constexpr std::uint32_t kSector = 512;
constexpr std::uint32_t kEnd = 0xFFFFFFFE;
constexpr std::uint32_t kFree = 0xFFFFFFFF;

void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

// Sectors after the header for a file of about bytes (at least 16).
std::uint32_t SectorsFor(std::size_t bytes) {
  return static_cast<std::uint32_t>(std::max<std::size_t>(16, bytes / kSector));
}

std::u16string NameOf(const char* prefix, std::uint32_t n) {
  std::string text = prefix + std::to_string(n);
  return std::u16string(text.begin(), text.end());
}

// Directory sectors holding entries, four to a sector, from first on.
void WriteEntries(RawCfb& cfb, std::uint32_t first, const std::vector<RawEntry>& entries) {
  for (std::size_t i = 0; i < entries.size(); ++i)
    entries[i].WriteTo(cfb.Sector(first + static_cast<std::uint32_t>(i / 4)) + (i % 4) * 128);
}

RawEntry RootEntry(std::uint32_t child, std::uint32_t miniStart = kEnd, std::uint32_t miniSize = 0) {
  RawEntry root;
  root.name = u"Root Entry";
  root.type = 5;
  root.child = child;
  root.start = miniStart;
  root.size = miniSize;
  return root;
}

}  // namespace

std::uint32_t RawCfb::AddSectors(std::uint32_t count) {
  const auto first = static_cast<std::uint32_t>(links_.size());
  bytes_.resize(bytes_.size() + std::size_t{count} * kSector, 0);
  links_.resize(links_.size() + count, kFree);
  return first;
}

void RawCfb::Link(std::uint32_t sector, std::uint32_t next) { links_.at(sector) = next; }

void RawCfb::LinkRun(std::uint32_t first, std::uint32_t count) {
  for (std::uint32_t i = 0; i < count; ++i) Link(first + i, i + 1 < count ? first + i + 1 : kEnd);
}

void RawEntry::WriteTo(std::uint8_t* p) const {
  std::memset(p, 0, 128);
  const std::size_t units = std::min<std::size_t>(name.size(), 31);
  for (std::size_t i = 0; i < units; ++i) Put16(p + 2 * i, name[i]);
  Put16(p + 0x40, static_cast<std::uint16_t>(units == 0 ? 0 : 2 * units + 2));
  p[0x42] = type;
  p[0x43] = 1;
  Put32(p + 0x44, left);
  Put32(p + 0x48, right);
  Put32(p + 0x4C, child);
  Put32(p + 0x74, start);
  Put32(p + 0x78, size);
}

std::vector<std::uint8_t> RawCfb::Build() const {
  const auto data = static_cast<std::uint32_t>(links_.size());
  auto difFor = [](std::uint32_t sat) { return sat > 109 ? (sat - 109 + 126) / 127 : 0u; };
  std::uint32_t sat = (data + 127) / 128;
  while (std::uint64_t{sat} * 128 < std::uint64_t{data} + sat + difFor(sat)) ++sat;
  const std::uint32_t dif = difFor(sat);
  const std::uint32_t total = data + sat + dif;

  std::vector<std::uint8_t> out(kSector + std::size_t{total} * kSector, 0);
  std::memcpy(out.data() + kSector, bytes_.data(), bytes_.size());
  auto sector = [&](std::uint32_t s) { return out.data() + kSector + std::size_t{s} * kSector; };
  std::vector<std::uint32_t> table(std::size_t{sat} * 128, kFree);
  std::copy(links_.begin(), links_.end(), table.begin());
  for (std::uint32_t i = 0; i < sat; ++i) table[data + i] = 0xFFFFFFFD;
  for (std::uint32_t i = 0; i < dif; ++i) table[data + sat + i] = 0xFFFFFFFC;
  for (std::size_t i = 0; i < table.size(); ++i) Put32(sector(data + static_cast<std::uint32_t>(i / 128)) + (i % 128) * 4, table[i]);

  std::uint8_t* h = out.data();
  static const std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::memcpy(h, kSignature, 8);
  Put16(h + 0x18, 0x3E);
  Put16(h + 0x1A, 3);
  Put16(h + 0x1C, 0xFFFE);
  Put16(h + 0x1E, 9);
  Put16(h + 0x20, 6);
  Put32(h + 0x2C, sat);
  Put32(h + 0x30, dirStart);
  Put32(h + 0x38, 4096);
  Put32(h + 0x3C, miniSatStart);
  Put32(h + 0x40, miniSatCount);
  Put32(h + 0x44, dif > 0 ? data + sat : kEnd);
  Put32(h + 0x48, dif);
  for (std::uint32_t i = 0; i < 109; ++i) Put32(h + 0x4C + 4 * i, i < sat ? data + i : kFree);
  for (std::uint32_t d = 0; d < dif; ++d) {
    std::uint8_t* p = sector(data + sat + d);
    for (std::uint32_t i = 0; i < 127; ++i) {
      const std::uint32_t k = 109 + d * 127 + i;
      Put32(p + 4 * i, k < sat ? data + k : kFree);
    }
    Put32(p + 508, d + 1 < dif ? data + sat + d + 1 : kEnd);
  }
  return out;
}

std::vector<std::uint8_t> SharedChainFile(std::size_t bytes) {
  const std::uint32_t n = SectorsFor(bytes);
  RawCfb cfb;
  const std::uint32_t chainLength = n / 2;
  const std::uint32_t chain = cfb.AddSectors(chainLength);
  cfb.LinkRun(chain, chainLength);
  for (std::uint32_t s = 0; s < chainLength; ++s)
    for (std::uint32_t i = 0; i < kSector; ++i) cfb.Sector(chain + s)[i] = static_cast<std::uint8_t>(s * 7 + i);
  const std::uint32_t dirSectors = std::max<std::uint32_t>(1, n - chainLength - n / 128 - 1);
  const std::uint32_t dir = cfb.AddSectors(dirSectors);
  cfb.LinkRun(dir, dirSectors);
  cfb.dirStart = dir;
  std::vector<RawEntry> entries{RootEntry(1)};
  for (std::uint32_t i = 1; i < dirSectors * 4; ++i) {
    RawEntry e;
    e.name = NameOf("S", i);
    e.start = chain;
    e.size = chainLength * kSector;
    entries.push_back(e);
  }
  WriteEntries(cfb, dir, entries);
  return cfb.Build();
}

std::vector<std::uint8_t> DirectoryScanFile(std::size_t bytes) {
  const std::uint32_t n = SectorsFor(bytes);
  RawCfb cfb;
  // Sector 0: the directory's only sector, whose chain is broken (free).
  const std::uint32_t dir = cfb.AddSectors(1);
  WriteEntries(cfb, dir, {RootEntry(1), RawEntry{u"Data", 2, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFE, 0}});
  cfb.dirStart = dir;
  // Then one chain through all other sectors, every other one directory-like
  // (four unused entries), the rest zero.
  const std::uint32_t rest = std::max<std::uint32_t>(2, n - 1 - n / 128 - 1);
  const std::uint32_t first = cfb.AddSectors(rest);
  cfb.LinkRun(first, rest);
  RawEntry unused;
  unused.type = 0;
  for (std::uint32_t s = 0; s < rest; s += 2)
    for (int i = 0; i < 4; ++i) unused.WriteTo(cfb.Sector(first + s) + i * 128);
  return cfb.Build();
}

std::vector<std::uint8_t> MiniChainFile(std::size_t bytes) {
  const std::uint32_t n = SectorsFor(bytes);
  RawCfb cfb;
  // A third of the file is the mini stream, one mini chain through all of it.
  const std::uint32_t streamSectors = std::max<std::uint32_t>(1, n / 3);
  const std::uint32_t miniSectors = streamSectors * 8;
  const std::uint32_t stream = cfb.AddSectors(streamSectors);
  cfb.LinkRun(stream, streamSectors);
  for (std::uint32_t s = 0; s < streamSectors; ++s)
    for (std::uint32_t i = 0; i < kSector; ++i) cfb.Sector(stream + s)[i] = static_cast<std::uint8_t>(s + i * 3);
  const std::uint32_t miniSatSectors = (miniSectors + 127) / 128;
  const std::uint32_t miniSat = cfb.AddSectors(miniSatSectors);
  cfb.LinkRun(miniSat, miniSatSectors);
  for (std::uint32_t m = 0; m < miniSatSectors * 128; ++m) {
    const std::uint32_t v = m + 1 < miniSectors ? m + 1 : m + 1 == miniSectors ? kEnd : kFree;
    Put32(cfb.Sector(miniSat + m / 128) + (m % 128) * 4, v);
  }
  cfb.miniSatStart = miniSat;
  cfb.miniSatCount = miniSatSectors;
  // The rest is directory: small streams, all from mini sector 0.
  const std::uint32_t used = streamSectors + miniSatSectors;
  const std::uint32_t dirSectors = std::max<std::uint32_t>(1, n > used + n / 128 + 1 ? n - used - n / 128 - 1 : 1);
  const std::uint32_t dir = cfb.AddSectors(dirSectors);
  cfb.LinkRun(dir, dirSectors);
  cfb.dirStart = dir;
  std::vector<RawEntry> entries{RootEntry(1, stream, miniSectors * 64)};
  for (std::uint32_t i = 1; i < dirSectors * 4; ++i) {
    RawEntry e;
    e.name = NameOf("M", i);
    e.start = 0;
    e.size = 100;
    entries.push_back(e);
  }
  WriteEntries(cfb, dir, entries);
  return cfb.Build();
}

std::vector<std::uint8_t> TableLikeFile(std::size_t bytes) {
  const std::uint32_t n = SectorsFor(bytes);
  std::vector<std::uint8_t> out(kSector + std::size_t{n} * kSector, 0);
  static const std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::memcpy(out.data(), kSignature, 8);
  Put32(out.data() + 0x3C, kFree);  // no mini SAT chain: its parts are searched for too
  // Every link falls into one of the last parts a table of this file needs,
  // the parts a search for missing table parts looks for last; the free
  // entries before them keep every sector's score modest, so that none
  // stands out.
  const std::uint32_t part = n / 128 >= 3 ? n / 128 - 2 : 0;
  for (std::uint32_t s = 0; s < n; ++s) {
    std::uint8_t* p = out.data() + kSector + std::size_t{s} * kSector;
    for (std::uint32_t i = 0; i < 128; ++i)
      Put32(p + 4 * i, i < 60 ? kFree : std::max(1u, part * 128 + (s * 7 + i * 5) % 128));
  }
  return out;
}

std::vector<std::uint8_t> LostChainsFile(std::size_t bytes) {
  const std::uint32_t n = SectorsFor(bytes);
  RawCfb cfb;
  // Three directory sectors: the root, a table storage whose child lies in
  // the second, which holds nothing (its entries are lost), and streams.
  const std::uint32_t dir = cfb.AddSectors(3);
  cfb.LinkRun(dir, 3);
  cfb.dirStart = dir;
  // The rest of the file is the mini stream and its table; each mini
  // sector a chain of its own, which no entry owns, holding the header of a
  // one-item task FixedMeta (every one fits the storage: none is given back).
  const std::uint32_t streamSectors = std::max<std::uint32_t>(1, (n - 3) / 17 * 16);
  const std::uint32_t miniSectors = streamSectors * 8;
  const std::uint32_t stream = cfb.AddSectors(streamSectors);
  cfb.LinkRun(stream, streamSectors);
  for (std::uint32_t m = 0; m < miniSectors; ++m) {
    std::uint8_t* p = cfb.Sector(stream + m / 8) + (m % 8) * 64;
    Put32(p, 0xFADFADBA);
    Put32(p + 4, 4);
    Put32(p + 8, 1);
    Put32(p + 12, 100);
    Put32(p + 20, m % 100);
  }
  const std::uint32_t miniSatSectors = (miniSectors + 127) / 128;
  const std::uint32_t miniSat = cfb.AddSectors(miniSatSectors);
  cfb.LinkRun(miniSat, miniSatSectors);
  for (std::uint32_t m = 0; m < miniSatSectors * 128; ++m)
    Put32(cfb.Sector(miniSat + m / 128) + (m % 128) * 4, m < miniSectors ? kEnd : kFree);
  cfb.miniSatStart = miniSat;
  cfb.miniSatCount = miniSatSectors;
  std::vector<RawEntry> entries{RootEntry(1, stream, miniSectors * 64)};
  entries.push_back(RawEntry{u"TBkndTask", 1, 2, 0xFFFFFFFF, 4, 0, 0});
  entries.push_back(RawEntry{u"Props", 2, 0xFFFFFFFF, 3, 0xFFFFFFFF, kEnd, 0});
  entries.push_back(RawEntry{u"Data", 2, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, kEnd, 0});
  for (std::uint32_t i = 4; i < 10; ++i) entries.push_back(RawEntry{NameOf("S", i), 2, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, kEnd, 0});
  WriteEntries(cfb, dir, entries);
  std::fill(cfb.Sector(dir + 1), cfb.Sector(dir + 1) + kSector, 0);
  return cfb.Build();
}

std::vector<std::uint8_t> SwappedValuesFile(std::size_t bytes) {
  const std::uint32_t n = SectorsFor(bytes);
  RawCfb cfb;
  // A Var2Data of k sectors whose VarMeta names a value at byte 8 of each:
  // every other sector fails its length (508), the rest hold it, so that
  // every failing sector has half the file as candidates.
  const std::uint32_t k = std::max<std::uint32_t>(2, n / 2);
  const std::uint32_t data = cfb.AddSectors(k);
  cfb.LinkRun(data, k);
  for (std::uint32_t s = 0; s < k; ++s) Put32(cfb.Sector(data + s) + 8, s % 2 ? 0x12345678 : 508);
  const std::uint32_t metaBytes = 24 + 8 * k;
  const std::uint32_t metaSectors = (metaBytes + kSector - 1) / kSector;
  const std::uint32_t meta = cfb.AddSectors(metaSectors);
  cfb.LinkRun(meta, metaSectors);
  std::vector<std::uint8_t> items(std::size_t{metaSectors} * kSector, 0);
  Put32(items.data(), 0xFADFADBA);
  Put32(items.data() + 8, k);
  Put32(items.data() + 20, k * kSector);
  for (std::uint32_t i = 0; i < k; ++i) Put32(items.data() + 24 + 8 * i + 4, i * kSector + 8);
  for (std::uint32_t s = 0; s < metaSectors; ++s)
    std::memcpy(cfb.Sector(meta + s), items.data() + std::size_t{s} * kSector, kSector);
  // As many storages as the directory holds, each naming both streams.
  const std::uint32_t used = k + metaSectors + n / 128 + 1;
  const std::uint32_t dirSectors = n > used ? n - used : 1;
  const std::uint32_t dir = cfb.AddSectors(dirSectors);
  cfb.LinkRun(dir, dirSectors);
  cfb.dirStart = dir;
  std::vector<RawEntry> entries{RootEntry(1)};
  const std::uint32_t storages = std::max<std::uint32_t>(1, (dirSectors * 4 - 1) / 3);
  for (std::uint32_t j = 0; j < storages; ++j) {
    const std::uint32_t at = 1 + 3 * j;
    const std::uint32_t right = j + 1 < storages ? at + 3 : 0xFFFFFFFF;
    entries.push_back(RawEntry{NameOf("T", j), 1, 0xFFFFFFFF, right, at + 1, 0, 0});
    entries.push_back(RawEntry{u"VarMeta", 2, 0xFFFFFFFF, at + 2, 0xFFFFFFFF, meta, metaBytes});
    entries.push_back(RawEntry{u"Var2Data", 2, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, data, k * kSector});
  }
  WriteEntries(cfb, dir, entries);
  return cfb.Build();
}

const std::vector<HostileShape>& HostileShapes() {
  static const std::vector<HostileShape> shapes = {
      {"shared_chain", &SharedChainFile},
      {"directory_scan", &DirectoryScanFile},
      {"mini_chain", &MiniChainFile},
      {"table_like", &TableLikeFile},
      {"lost_chains", &LostChainsFile},
      {"swapped_values", &SwappedValuesFile},
  };
  return shapes;
}

}  // namespace fixture
