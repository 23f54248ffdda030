// Streams whose directory entries were lost, given back from the chains no
// surviving entry owns: what their own structure tells, where they go, and
// what is left alone (a wrong stream is worse than none).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

#include "salvage/LostStreams.h"
#include "salvage/SalvageRun.h"
#include "support/HostileFiles.h"

namespace {

using salvage::LostStreamHome;
using salvage::StreamGivenBack;
using salvage::UnownedChain;
using Bytes = std::vector<std::uint8_t>;

using fixture::Put32;

constexpr std::uint32_t kMagic = 0xFADFADBA;

// A FixedMeta of stride-byte items, one per position, for a FixedData of
// dataSize bytes.
Bytes FixedMeta(std::size_t stride, const std::vector<std::uint32_t>& positions, std::uint32_t dataSize,
                std::uint32_t seed) {
  Bytes b = fixture::Pattern(16 + stride * positions.size(), seed);
  Put32(b, 0, kMagic);
  Put32(b, 4, 4);
  Put32(b, 8, static_cast<std::uint32_t>(positions.size()));
  Put32(b, 12, dataSize);
  for (std::size_t i = 0; i < positions.size(); ++i) {
    b[16 + stride * i] = 0;
    Put32(b, 16 + stride * i + 4, positions[i]);
  }
  return b;
}

// A VarMeta of 12-byte items of the given type (high half) whose values lie
// at positions of a Var2Data of var2Size bytes; type 0 makes the 8-byte
// items of older files, which name no kind of table.
Bytes VarMeta(std::uint16_t type, const std::vector<std::uint32_t>& positions, std::uint32_t var2Size) {
  const std::size_t item = type == 0 ? 8 : 12;
  Bytes b(24 + item * positions.size(), 0);
  Put32(b, 0, kMagic);
  Put32(b, 8, static_cast<std::uint32_t>(positions.size()));
  Put32(b, 20, var2Size);
  for (std::size_t i = 0; i < positions.size(); ++i) {
    Put32(b, 24 + item * i, static_cast<std::uint32_t>(i + 1));
    Put32(b, 24 + item * i + 4, positions[i]);
    if (type != 0) Put32(b, 24 + item * i + 8, (std::uint32_t{type} << 16) | static_cast<std::uint32_t>(i + 1));
  }
  return b;
}

// A Var2Data of values of length bytes each, one after the other, and their positions.
Bytes Var2Data(std::size_t values, std::uint32_t length, std::uint32_t seed, std::vector<std::uint32_t>& positions) {
  Bytes b;
  positions.clear();
  for (std::size_t i = 0; i < values; ++i) {
    positions.push_back(static_cast<std::uint32_t>(b.size()));
    b.resize(b.size() + 4);
    Put32(b, b.size() - 4, length);
    const Bytes value = fixture::Pattern(length, seed + static_cast<std::uint32_t>(i));
    b.insert(b.end(), value.begin(), value.end());
  }
  return b;
}

UnownedChain Chain(const Bytes& stream, std::uint32_t start, std::uint32_t extraSectors = 0) {
  UnownedChain c;
  c.start = start;
  c.mini = stream.size() < 4096;
  const std::size_t unit = c.mini ? 64 : 512;
  c.sectors = static_cast<std::uint32_t>((stream.size() + unit - 1) / unit) + extraSectors;
  c.bytes.assign(stream.begin(), stream.end());
  c.bytes.resize(std::size_t{c.sectors} * unit, 0);
  return c;
}

// One table storage's four streams.
struct Table {
  Bytes fixedMeta, fixedData, varMeta, var2Data;
};

Table MakeTable(std::size_t stride, std::uint16_t type, std::size_t records, std::uint32_t seed,
                std::uint32_t recordSize = 16) {
  Table t;
  std::vector<std::uint32_t> positions;
  t.var2Data = Var2Data(records + 1, 8 + seed % 5, seed, positions);
  t.varMeta = VarMeta(type, positions, static_cast<std::uint32_t>(t.var2Data.size()));
  std::vector<std::uint32_t> slots;
  for (std::size_t i = 0; i < records; ++i) slots.push_back(static_cast<std::uint32_t>(recordSize * i));
  t.fixedData = fixture::Pattern(recordSize * records + 30 + 20 * seed, seed + 100);
  t.fixedMeta = FixedMeta(stride, slots, static_cast<std::uint32_t>(t.fixedData.size()), seed + 200);
  return t;
}

std::string Given(const std::vector<LostStreamHome>& homes, const std::vector<UnownedChain>& chains,
                  const StreamGivenBack& g) {
  return platform::Utf16ToUtf8(homes[g.home].name) + "/" + platform::Utf16ToUtf8(g.name) + "<-" +
         std::to_string(chains[g.chain].start) + ":" + std::to_string(g.size);
}

// A table storage that lost entries, holding streams of these sizes that
// begin at these sectors.
LostStreamHome home(std::u16string name, std::map<std::u16string, std::uint64_t> sizes = {},
                    std::map<std::u16string, std::uint32_t> starts = {}) {
  LostStreamHome h;
  h.name = std::move(name);
  h.sizes = std::move(sizes);
  h.starts = std::move(starts);
  return h;
}

TEST(LostStreams, MetaStreamsTellTheirKindAndSizeTheirData) {
  const Table task = MakeTable(47, 0x0B40, 4, 1);
  const Table rsc = MakeTable(37, 0x0C40, 3, 2);
  const Table cal = MakeTable(10, 0x0D40, 2, 3, 12);
  const Table cons = MakeTable(10, 0x0E40, 2, 4, 20);
  Bytes pastData = task.fixedMeta;  // an item's record past the FixedData its header sizes
  Put32(pastData, 16 + 47 + 4, static_cast<std::uint32_t>(task.fixedData.size()));
  Bytes emptyFixed(16, 0), emptyVar(24, 0);
  Put32(emptyFixed, 0, kMagic);
  Put32(emptyFixed, 4, 4);
  Put32(emptyVar, 0, kMagic);
  Bytes badVar2 = task.var2Data;  // the same length, without the values' lengths
  std::fill(badVar2.begin(), badVar2.end(), 0x7F);
  Bytes props = fixture::Pattern(86, 7), bigProps = fixture::Pattern(900, 8);  // size less 4, twice
  // A view's FixedMeta of one item reads as a FixedMeta of every stride.
  const Bytes oneItem = FixedMeta(10, {0}, 138, 11);
  Put32(props, 0, 82), Put32(props, 4, 82), Put32(bigProps, 0, 896), Put32(bigProps, 4, 896);
  // A Fixed2Meta of four items, each naming a 64-byte row, stride bytes apart.
  auto fixed2Meta = [](std::size_t stride) {
    Bytes b(16 + 4 * stride, 0);
    Put32(b, 0, kMagic), Put32(b, 4, 4), Put32(b, 8, 4), Put32(b, 12, 256);
    for (std::size_t i = 0; i < 4; ++i) Put32(b, 16 + stride * i + 4, static_cast<std::uint32_t>(64 * i));
    return b;
  };
  // A table whose FixedMeta survives, with as many items as that one's.
  auto withFixedMeta = [](std::u16string name, const Bytes& fixedMeta) {
    LostStreamHome h = home(std::move(name), {{u"FixedMeta", fixedMeta.size()}});
    h.metas[u"FixedMeta"] = platform::ByteView(fixedMeta.data(), fixedMeta.size());
    return h;
  };
  const Table assn = MakeTable(34, 0x0F40, 4, 6);
  Bytes stale = task.fixedMeta;  // its header counts 3 of its 4 items
  Put32(stale, 8, 3);
  // Two tables whose FixedData streams, of 100 and 120 bytes, need as many
  // sectors.
  Bytes taskSized = task.fixedMeta, rscSized = rsc.fixedMeta;
  Put32(taskSized, 12, 100), Put32(rscSized, 12, 120);
  // Older files' VarMetas of 8-byte items name no kind; where each lies does.
  const Bytes taskVar9 = MakeTable(47, 0, 3, 5).varMeta, rscVar9 = MakeTable(37, 0, 3, 6).varMeta;
  // Two sectors long, the second moved elsewhere when the file was saved again.
  auto moved = [](const Bytes& varMeta, std::uint32_t start) {
    UnownedChain c = Chain(varMeta, start);
    c.firstRun = 1;
    return c;
  };
  const Bytes taskVar9Long = MakeTable(47, 0, 9, 5).varMeta, rscVar9Long = MakeTable(37, 0, 9, 6).varMeta;
  const auto olderTables = [] {
    return std::vector<LostStreamHome>{
        home(u"TBkndTask", {{u"FixedMeta", 204}, {u"Fixed2Meta", 100}}, {{u"FixedMeta", 30}, {u"Fixed2Meta", 60}}),
        home(u"TBkndRsc", {{u"FixedMeta", 127}}, {{u"FixedMeta", 50}})};
  };

  struct Case {
    const char* what;
    std::vector<LostStreamHome> homes;
    std::vector<UnownedChain> chains;
    std::set<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"a task table's four streams come back with their sizes",
       {home(u"TBkndTask", {{u"Fixed2Meta", 300}, {u"Props", 86}})},
       {Chain(task.fixedMeta, 10), Chain(task.varMeta, 20), Chain(task.fixedData, 30), Chain(task.var2Data, 40)},
       {"TBkndTask/FixedMeta<-10:204", "TBkndTask/VarMeta<-20:84", "TBkndTask/FixedData<-30:114",
        "TBkndTask/Var2Data<-40:65"}},
      {"tasks and resources lose the same names: strides and types tell them apart",
       {home(u"TBkndRsc"), home(u"TBkndTask")},
       {Chain(task.fixedMeta, 10), Chain(rsc.fixedMeta, 11), Chain(task.varMeta, 20), Chain(rsc.varMeta, 21)},
       {"TBkndTask/FixedMeta<-10:204", "TBkndRsc/FixedMeta<-11:127", "TBkndTask/VarMeta<-20:84",
        "TBkndRsc/VarMeta<-21:72"}},
      {"calendars and links share a stride: their records' size tells the FixedMetas, types the VarMetas",
       {home(u"TBkndCal"), home(u"TBkndCons")},
       {Chain(cal.fixedMeta, 10), Chain(cons.fixedMeta, 11), Chain(cal.varMeta, 20), Chain(cons.varMeta, 21)},
       {"TBkndCal/FixedMeta<-10:36", "TBkndCons/FixedMeta<-11:36", "TBkndCal/VarMeta<-20:60",
        "TBkndCons/VarMeta<-21:60"}},
      {"a FixedMeta only one kind explains wins its place over one that any kind could be",
       {home(u"TBkndRsc"), home(u"TBkndAssn"), home(u"TBkndCal")},
       {Chain(rsc.fixedMeta, 11), Chain(oneItem, 12)},
       {"TBkndRsc/FixedMeta<-11:127"}},
      {"a FixedMeta of many items beats a view's one-item FixedMeta that reads as one item of its stride too",
       {home(u"TBkndAssn"), home(u"CV_iew")}, {Chain(assn.fixedMeta, 10), Chain(oneItem, 12)},
       {"TBkndAssn/FixedMeta<-10:152"}},
      {"a FixedMeta whose chain is longer than its items need is left alone",
       {home(u"TBkndTask")}, {Chain(task.fixedMeta, 10, 1)}, {}},
      {"a FixedMeta whose header counts fewer items than it holds comes back with them",
       {home(u"TBkndTask")}, {Chain(stale, 10)}, {"TBkndTask/FixedMeta<-10:204"}},
      {"a chain that fits two FixedData slots goes to the one left when the other takes its own",
       {withFixedMeta(u"TBkndTask", taskSized), withFixedMeta(u"TBkndRsc", rscSized)},
       {Chain(fixture::Pattern(100, 9), 30), Chain(fixture::Pattern(120, 10), 31)},
       {"TBkndTask/FixedData<-30:100", "TBkndRsc/FixedData<-31:120"}},
      {"a FixedMeta whose record lies past its FixedData is left alone",
       {home(u"TBkndTask")}, {Chain(pastData, 10)}, {}},
      {"a FixedMeta that disagrees with the surviving FixedData's size is left alone",
       {home(u"TBkndTask", {{u"FixedData", 115}})}, {Chain(task.fixedMeta, 10)}, {}},
      {"a surviving stream is never given a second time",
       {home(u"TBkndTask", {{u"FixedMeta", 204}})}, {Chain(task.fixedMeta, 10)}, {}},
      {"a resource VarMeta does not go into tasks",
       {home(u"TBkndTask")}, {Chain(rsc.varMeta, 21)}, {}},
      {"of two chains of Var2Data's length, the one with values at the positions",
       {home(u"TBkndTask", {{u"FixedMeta", 204}})},
       {Chain(task.varMeta, 20), Chain(badVar2, 39), Chain(task.var2Data, 40)},
       {"TBkndTask/VarMeta<-20:84", "TBkndTask/Var2Data<-40:65"}},
      {"two chains fit FixedData: neither is given back",
       {home(u"TBkndTask")},
       {Chain(task.fixedMeta, 10), Chain(task.fixedData, 30), Chain(fixture::Pattern(114, 9), 31)},
       {"TBkndTask/FixedMeta<-10:204"}},
      {"of two chains of FixedData's length, the one that ends where FixedData does",
       {home(u"TBkndTask")},
       {Chain(task.fixedMeta, 10), Chain(task.fixedData, 30), Chain(fixture::Pattern(120, 9), 31)},
       {"TBkndTask/FixedMeta<-10:204", "TBkndTask/FixedData<-30:114"}},
      {"empty meta streams, as many as the storages that lack them, come back",
       {home(u"CMap"), home(u"CUdm", {{u"Var2Data", 0}})},
       {Chain(emptyFixed, 50), Chain(emptyVar, 51), Chain(emptyFixed, 52), Chain(emptyVar, 53)},
       {"CMap/FixedMeta<-50:16", "CUdm/FixedMeta<-52:16", "CMap/VarMeta<-51:24", "CUdm/VarMeta<-53:24"}},
      {"one empty FixedMeta for two storages: neither it nor the VarMeta that could be a FixedMeta",
       {home(u"CMap"), home(u"CUdm")}, {Chain(emptyFixed, 50), Chain(emptyVar, 51), Chain(emptyVar, 53)}, {}},
      {"more storages lack empty meta streams than there are: each goes where it lies next to its storage's",
       {home(u"CMap", {{u"FixedMeta", 16}}, {{u"FixedMeta", 53}}), home(u"CUdm"), home(u"CEdl")},
       {Chain(emptyVar, 52), Chain(emptyVar, 60), Chain(emptyFixed, 61)},
       {"CMap/VarMeta<-52:24"}},
      {"a storage whose Var2Data survives with values takes no empty VarMeta",
       {home(u"CMap", {{u"FixedMeta", 16}, {u"Var2Data", 40}})}, {Chain(emptyVar, 51)}, {}},
      {"a table's Props by its header",
       {home(u"TBkndTask", {{u"FixedMeta", 204}}), home(u"CTable")}, {Chain(props, 60)}, {"TBkndTask/Props<-60:86"}},
      {"two Props for one place, one of them the data storage's: neither",
       {home(u"TBkndTask")}, {Chain(props, 60), Chain(bigProps, 61)}, {}},
      {"older files' VarMetas: each goes where its chain ends at its table's FixedMeta",
       olderTables(), {Chain(taskVar9, 29), Chain(rscVar9, 49)},
       {"TBkndTask/VarMeta<-29:56", "TBkndRsc/VarMeta<-49:56"}},
      {"or where its first sector lies before it, though the later ones were moved",
       olderTables(), {moved(taskVar9Long, 29), moved(rscVar9Long, 49)},
       {"TBkndTask/VarMeta<-29:104", "TBkndRsc/VarMeta<-49:104"}},
      {"older files' VarMetas that lie next to no table's streams are left alone",
       olderTables(), {Chain(taskVar9, 20), Chain(rscVar9, 40)}, {}},
      {"a Props goes where it lies before its table's Fixed2Meta",
       olderTables(), {Chain(props, 58)}, {"TBkndTask/Props<-58:86"}},
      {"but not right before a FixedMeta, where no Props lies", olderTables(), {Chain(props, 28)}, {}},
      {"a view's FixedMeta goes where it lies after its VarMeta",
       {home(u"CV_iew", {{u"VarMeta", 60}}, {{u"VarMeta", 20}}), home(u"CTable", {{u"VarMeta", 60}}, {{u"VarMeta", 40}})},
       {Chain(FixedMeta(10, {0, 30}, 60, 14), 21)}, {"CV_iew/FixedMeta<-21:36"}},
      {"and nowhere else, though only one view's stride is known",
       {home(u"CV_iew", {{u"VarMeta", 60}}, {{u"VarMeta", 20}})}, {Chain(FixedMeta(10, {0, 30}, 60, 14), 50)}, {}},
      {"a Fixed2Meta, sized by its rows, goes to the table whose FixedMeta has as many items",
       {withFixedMeta(u"TBkndTask", task.fixedMeta), withFixedMeta(u"TBkndRsc", rsc.fixedMeta)},
       {Chain(fixed2Meta(92), 70)}, {"TBkndTask/Fixed2Meta<-70:384"}},
      {"not where two tables have as many",
       {withFixedMeta(u"TBkndTask", task.fixedMeta), withFixedMeta(u"TBkndAssn", assn.fixedMeta)},
       {Chain(fixed2Meta(92), 70)}, {}},
      {"nor where its stride is a FixedMeta's: a lost resource FixedMeta reads so",
       {withFixedMeta(u"TBkndTask", task.fixedMeta)}, {Chain(fixed2Meta(37), 80)}, {}},
      {"no table storage lost entries: nothing",
       {}, {Chain(task.fixedMeta, 10)}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::set<std::string> got;
    for (const StreamGivenBack& g : salvage::MatchLostStreams(c.homes, c.chains)) {
      got.insert(Given(c.homes, c.chains, g));
      EXPECT_LE(g.size, c.chains[g.chain].bytes.size());
    }
    EXPECT_EQ(got, c.expected);
  }
}

// Levels of streams cut off from the tree (siblings, so of one storage):
// the storages what they hold fits, and none where a lost entry's chain
// fits the same place or nothing tells.
TEST(LostStreams, LevelsGoOnlyWhereAllTheirStreamsFit) {
  const Table task = MakeTable(47, 0x0B40, 4, 1);
  const Table cal = MakeTable(10, 0x0D40, 2, 3, 12);
  const Table cons = MakeTable(10, 0x0E40, 2, 4, 20);
  auto view = [](const Bytes& b) { return platform::ByteView(b.data(), b.size()); };
  const Bytes props = fixture::Pattern(86, 5);
  // Some files keep a FixedMeta that sizes its FixedData longer than it is.
  const Bytes shorterData(task.fixedData.begin(), task.fixedData.end() - 8);
  const Bytes olderVar = VarMeta(0, {0, 12}, 24);
  Bytes emptyVar(24, 0);
  Put32(emptyVar, 0, kMagic);
  const Bytes outlineData = fixture::Pattern(42, 7), linkData = fixture::Pattern(28, 8);
  const Bytes outlineMeta = FixedMeta(10, {0, 14, 28}, 42, 9), linkMeta = FixedMeta(10, {8}, 28, 10);
  LostStreamHome taskWithMeta = home(u"TBkndTask", {{u"FixedMeta", task.fixedMeta.size()}});
  taskWithMeta.metas[u"FixedMeta"] = view(task.fixedMeta);
  const Table rsc = MakeTable(37, 0x0C40, 3, 2);
  LostStreamHome rscWithMeta = home(u"TBkndRsc", {{u"FixedMeta", rsc.fixedMeta.size()}});
  rscWithMeta.metas[u"FixedMeta"] = view(rsc.fixedMeta);
  LostStreamHome taskWithVar = home(u"TBkndTask", {{u"VarMeta", task.varMeta.size()}});
  taskWithVar.metas[u"VarMeta"] = view(task.varMeta);
  Bytes fixed2Meta(16 + 4 * 20, 0);  // four items, as many as the task FixedMeta's
  Put32(fixed2Meta, 0, kMagic), Put32(fixed2Meta, 8, 4), Put32(fixed2Meta, 12, 320);
  struct Case {
    const char* what;
    std::vector<LostStreamHome> homes;
    std::vector<salvage::LevelStream> level;
    std::vector<UnownedChain> lost;
    std::vector<std::size_t> expected;
  };
  const std::vector<Case> cases = {
      {"a task FixedMeta and VarMeta: tasks, not resources",
       {home(u"TBkndRsc"), home(u"TBkndTask")},
       {{u"FixedMeta", view(task.fixedMeta)}, {u"VarMeta", view(task.varMeta)}, {u"Props", view(props)}},
       {},
       {1}},
      {"a stride both fit, the VarMeta's types tell calendars",
       {home(u"TBkndCons"), home(u"TBkndCal")},
       {{u"FixedMeta", view(cal.fixedMeta)}, {u"VarMeta", view(cal.varMeta)}},
       {},
       {1}},
      {"a FixedMeta alone, its records 20 bytes apart: links, though a calendars' FixedMeta is a lost chain",
       {home(u"TBkndCal"), home(u"TBkndCons")}, {{u"FixedMeta", view(cons.fixedMeta)}}, {Chain(cal.fixedMeta, 10)},
       {1}},
      {"a FixedData of the size the storage's FixedMeta gives",
       {taskWithMeta}, {{u"FixedData", view(task.fixedData)}}, {}, {0}},
      {"a storage without a FixedMeta cannot be ruled out for a FixedData",
       {home(u"TBkndRsc"), taskWithMeta}, {{u"FixedData", view(task.fixedData)}}, {}, {0, 1}},
      {"a FixedData of another size",
       {taskWithMeta}, {{u"FixedData", view(cons.fixedData)}}, {}, {}},
      {"a FixedData that a lost chain of its length could be as well",
       {taskWithMeta}, {{u"FixedData", view(task.fixedData)}}, {Chain(fixture::Pattern(114, 3), 30)}, {}},
      {"older files: 8-byte VarMeta items tell no kind, a lost one of them is no rival, the FixedMeta tells tasks",
       {home(u"TBkndRsc"), home(u"TBkndTask")},
       {{u"FixedMeta", view(task.fixedMeta)}, {u"VarMeta", view(olderVar)}, {u"FixedData", view(shorterData)}},
       {Chain(VarMeta(0, {0, 12}, 30), 20)},
       {1}},
      {"an empty VarMeta tells nothing: the FixedMeta decides",
       {home(u"TBkndRsc"), home(u"TBkndTask")},
       {{u"FixedMeta", view(task.fixedMeta)}, {u"VarMeta", view(emptyVar)}},
       {},
       {1}},
      {"a stride three kinds share: records 14 bytes apart are outline codes",
       {home(u"TBkndCal"), home(u"TBkndCons"), home(u"TBkndOutlCode")},
       {{u"FixedMeta", view(outlineMeta)}, {u"FixedData", view(outlineData)}},
       {},
       {2}},
      {"a stride three kinds share: one record of 20 bytes to the end is a link",
       {home(u"TBkndCal"), home(u"TBkndCons"), home(u"TBkndOutlCode")},
       {{u"FixedMeta", view(linkMeta)}, {u"FixedData", view(linkData)}},
       {},
       {1}},
      {"a lost chain of the same stride that sizes another FixedData than the level's is no rival",
       {home(u"TBkndCal"), home(u"TBkndCons"), home(u"TBkndOutlCode")},
       {{u"FixedMeta", view(linkMeta)}, {u"FixedData", view(linkData)}},
       {Chain(outlineMeta, 40)},
       {1}},
      {"one that sizes a FixedData of the level's size is: undecided",
       {home(u"TBkndCal"), home(u"TBkndCons"), home(u"TBkndOutlCode")},
       {{u"FixedMeta", view(linkMeta)}, {u"FixedData", view(linkData)}},
       {Chain(FixedMeta(10, {8}, 28, 11), 40)},
       {}},
      {"a Fixed2Meta goes where the FixedMeta has as many items",
       {rscWithMeta, taskWithMeta}, {{u"Fixed2Meta", view(fixed2Meta)}}, {}, {1}},
      {"of the storages nothing rules out, the one whose VarMeta sizes the Var2Data to the byte",
       {home(u"TBkndCons"), taskWithVar}, {{u"Var2Data", view(task.var2Data)}}, {}, {1}},
      {"nothing that can be told", {home(u"TBkndTask")}, {{u"Props", view(props)}}, {}, {}},
      {"a storage that holds one of the names already",
       {home(u"TBkndTask", {{u"Props", 86}})},
       {{u"FixedMeta", view(task.fixedMeta)}, {u"Props", view(props)}},
       {},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(salvage::HomesForLevel(c.homes, c.level, c.lost), c.expected);
  }
}

// A project whose table storages hold streams shaped as the files' are.
fixture::Node TableProject() {
  std::vector<fixture::Node> data;
  const struct {
    const char16_t* name;
    std::size_t stride;
    std::uint16_t type;
    std::size_t records;
  } kinds[] = {{u"TBkndTask", 47, 0x0B40, 5}, {u"TBkndRsc", 37, 0x0C40, 4}, {u"TBkndAssn", 34, 0x0F40, 3},
               {u"TBkndCal", 10, 0x0D40, 2}, {u"TBkndCons", 10, 0x0E40, 1}};
  std::uint32_t seed = 1;
  for (const auto& k : kinds) {
    const Table t = MakeTable(k.stride, k.type, k.records, seed);
    data.push_back(fixture::Storage(
        k.name, {fixture::Stream(u"FixedMeta", t.fixedMeta), fixture::Stream(u"FixedData", t.fixedData),
                 fixture::Stream(u"VarMeta", t.varMeta), fixture::Stream(u"Var2Data", t.var2Data),
                 fixture::Stream(u"Fixed2Meta", fixture::Pattern(100 + seed, seed + 50)),
                 fixture::Stream(u"Fixed2Data", fixture::Pattern(70 + seed, seed + 60)),
                 fixture::Stream(u"Props", fixture::Pattern(80 + seed, seed + 70))}));
    seed += 7;
  }
  data.push_back(fixture::Stream(u"Props", fixture::Pattern(5000, 90)));
  return fixture::Root({fixture::Stream(u"\1CompObj", fixture::Pattern(90, 91)),
                        fixture::Stream(u"Props14", fixture::Pattern(700, 92)),
                        fixture::Storage(u"   114", std::move(data))});
}

void StreamsOf(const fixture::Node& node, const std::string& path, std::map<std::string, Bytes>& out) {
  for (const fixture::Node& c : node.children) {
    const std::string p = path + "/" + platform::Utf16ToUtf8(c.name);
    if (c.isStorage)
      StreamsOf(c, p, out);
    else
      out[p] = c.bytes;
  }
}

// The streams a salvage wrote, each checked against the original at its path.
std::map<std::string, Bytes> WrittenStreams(const salvage_test::SalvageRun& run,
                                            const std::map<std::string, Bytes>& original) {
  std::map<std::string, Bytes> written;
  StreamsOf(fixture::ReadBack(*run.repaired), "", written);
  for (const auto& [path, bytes] : written) {
    if (original.count(path)) {
      EXPECT_EQ(bytes, original.at(path)) << path;
    }
  }
  return written;
}

// A level reached from a table storage is another table's only where a
// sound meta stream says so; a meta stream cut or read too long, or one
// item long, says nothing.
TEST(LostStreams, ALevelIsAnotherTablesOnlyByASoundMetaStream) {
  const Table task = MakeTable(47, 0x0B40, 4, 1);
  const Table rsc = MakeTable(37, 0x0C40, 3, 2);
  auto view = [](const Bytes& b) { return platform::ByteView(b.data(), b.size()); };
  const Bytes oneItem = FixedMeta(102, {0}, 426, 3);
  const Bytes cut(task.fixedMeta.begin(), task.fixedMeta.end() - 20);
  Bytes noMagic = task.fixedMeta;
  noMagic[0] ^= 0xFF;
  const Bytes oddStride = FixedMeta(41, {0, 60, 120}, 180, 4);
  struct Case {
    const char* what;
    std::u16string table;
    std::vector<salvage::LevelStream> level;
    bool another;
  };
  const std::vector<Case> cases = {
      {"its own streams", u"TBkndTask", {{u"FixedMeta", view(task.fixedMeta)}, {u"VarMeta", view(task.varMeta)}}, false},
      {"a resource FixedMeta from the task table", u"TBkndTask", {{u"FixedMeta", view(rsc.fixedMeta)}}, true},
      {"a resource VarMeta from the task table", u"TBkndTask", {{u"VarMeta", view(rsc.varMeta)}}, true},
      {"a FixedMeta of one item, whole at any stride", u"TBkndRsc", {{u"FixedMeta", view(oneItem)}}, false},
      {"a FixedMeta cut short", u"TBkndRsc", {{u"FixedMeta", view(cut)}}, false},
      {"a FixedMeta without its magic", u"TBkndRsc", {{u"FixedMeta", view(noMagic)}}, false},
      {"a FixedMeta at a stride no table has", u"TBkndTask", {{u"FixedMeta", view(oddStride)}}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(salvage::LevelIsAnotherTables(c.table, c.level), c.another);
  }
}

// Each directory sector but the first zeroed in turn: the table streams it
// held come back at their paths with their bytes where their storage
// survives or is made again, and nothing comes back at a path with bytes
// that are not its own.
TEST(LostStreams, AZeroedDirectorySectorGivesItsTableStreamsBack) {
  const fixture::Node project = TableProject();
  std::map<std::string, Bytes> original;
  StreamsOf(project, "", original);
  fixture::ScratchDir scratch;
  const fixture::Image intact = fixture::Image::Of(project);
  const std::size_t sectors = intact.DirectorySectors().size();
  ASSERT_GE(sectors, 8u);
  std::size_t lost = 0, back = 0, byContent = 0;
  for (std::size_t zeroed = 1; zeroed < sectors; ++zeroed) {
    SCOPED_TRACE("directory sector " + std::to_string(zeroed));
    fixture::Image image{Bytes(intact.bytes())};
    image.ZeroDirectorySector(zeroed);
    salvage_test::LogCapture log(scratch);
    auto run = salvage_test::Salvage(scratch, image.bytes());
    ASSERT_TRUE(run.repaired);
    const std::map<std::string, Bytes> written = WrittenStreams(run, original);
    for (const auto& [path, bytes] : original) {
      const auto entry = intact.FindEntry(platform::Utf8ToUtf16(path.substr(1)));
      ASSERT_TRUE(entry);
      const std::string name = path.substr(path.rfind('/') + 1);
      if (path.find("/TBknd") == std::string::npos) continue;
      if (name != "FixedMeta" && name != "FixedData" && name != "VarMeta" && name != "Var2Data") continue;
      if (*entry / 4 != zeroed) continue;
      ++lost;
      back += written.count(path) != 0;
    }
    std::size_t logged = 0;
    for (const std::string& line : log.Lines()) {
      logged += line.find("lost with its entry, is given back") != std::string::npos;
      byContent += line.find("the one table storage what they hold fits") != std::string::npos;
    }
    EXPECT_EQ(logged, run.reader->State().stats.streamsGivenBack);
  }
  ASSERT_GE(lost, 8u);
  // Some table streams cut off from the tree fit only one storage by what
  // they hold; the bytes at every path above show they went to their own.
  EXPECT_GE(byContent, 1u);
  // A stream whose storage's entry went with it comes back only where its
  // storage is made again; most do.
  EXPECT_GE(back * 4, lost * 3) << back << " of " << lost;
}

// A cut that takes the directory's last sectors and none of the streams'
// bytes: the entries the surviving ones link to past the cut are lost, and
// the table streams they were come back from their chains.
TEST(LostStreams, ACutDirectoryGivesItsTableStreamsBack) {
  const fixture::Node project = TableProject();
  std::map<std::string, Bytes> original;
  StreamsOf(project, "", original);
  fixture::ScratchDir scratch;
  const fixture::Image intact = fixture::Image::Of(project);
  std::uint32_t lastData = 0;
  for (const auto& sectors : {intact.MiniStreamSectors(), intact.MiniFatSectors()})
    for (std::uint32_t s : sectors) lastData = std::max(lastData, s);
  for (const auto& [path, bytes] : original)
    if (bytes.size() >= 4096)
      for (std::uint32_t s : intact.StreamChain(platform::Utf8ToUtf16(path.substr(1)))) lastData = std::max(lastData, s);
  const std::vector<std::uint32_t> dir = intact.DirectorySectors();
  std::size_t cuts = 0, back = 0;
  for (std::size_t k = 1; k < dir.size(); ++k) {
    if (dir[k] < lastData || std::any_of(dir.begin() + k, dir.end(), [&](std::uint32_t s) { return s < dir[k]; }))
      continue;
    SCOPED_TRACE("cut at directory sector " + std::to_string(k));
    ++cuts;
    fixture::Image image{Bytes(intact.bytes())};
    image.Truncate(fixture::Image::SectorOffset(dir[k]));
    salvage_test::LogCapture log(scratch);
    auto run = salvage_test::Salvage(scratch, image.bytes());
    ASSERT_TRUE(run.repaired);
    std::map<std::string, Bytes> written;
    StreamsOf(fixture::ReadBack(*run.repaired), "", written);
    for (const auto& [path, bytes] : written) {
      if (path.find("/TBknd") != std::string::npos && original.count(path)) {
        EXPECT_EQ(bytes, original[path]) << path;
      }
    }
    const std::vector<std::string> lines = log.Lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
      return l.find("their places are kept as entries lost") != std::string::npos;
    }));
    back += run.reader->State().stats.streamsGivenBack;
  }
  ASSERT_GE(cuts, 1u);
  EXPECT_GE(back, cuts);
}

// Intact files: nothing is looked for, nothing given back.
// Two directory sectors zeroed at once (as a zeroed 4 KB block does) can
// take a table storage with all its streams: the storage is made again in
// its data storage for the streams its chains give back, and no stream
// lands anywhere but its own path.
TEST(LostStreams, ATableLostWithAllItsEntriesIsMadeAgainForItsStreams) {
  std::vector<fixture::Node> data;
  std::uint32_t seed = 1;
  for (const auto& [name, stride, type] : {std::tuple{u"TBkndTask", 47, 0x0B40}, std::tuple{u"TBkndRsc", 37, 0x0C40},
                                           std::tuple{u"TBkndAssn", 34, 0x0F40}}) {
    const Table t = MakeTable(stride, static_cast<std::uint16_t>(type), 3, seed);
    data.push_back(fixture::Storage(
        name, {fixture::Stream(u"FixedMeta", t.fixedMeta), fixture::Stream(u"FixedData", t.fixedData),
               fixture::Stream(u"VarMeta", t.varMeta), fixture::Stream(u"Var2Data", t.var2Data)}));
    seed += 7;
  }
  data.push_back(fixture::Stream(u"Props", fixture::Pattern(5000, 90)));
  const fixture::Node project = fixture::Root({fixture::Stream(u"Props14", fixture::Pattern(700, 92)),
                                               fixture::Storage(u"   114", std::move(data))});
  std::map<std::string, Bytes> original;
  StreamsOf(project, "", original);
  fixture::ScratchDir scratch;
  const fixture::Image intact = fixture::Image::Of(project);
  const std::size_t sectors = intact.DirectorySectors().size();
  std::size_t remade = 0;
  for (std::size_t zeroed = 1; zeroed + 1 < sectors; ++zeroed) {
    SCOPED_TRACE("directory sectors " + std::to_string(zeroed) + " and " + std::to_string(zeroed + 1));
    fixture::Image image{Bytes(intact.bytes())};
    image.ZeroDirectorySector(zeroed);
    image.ZeroDirectorySector(zeroed + 1);
    salvage_test::LogCapture log(scratch);
    auto run = salvage_test::Salvage(scratch, image.bytes());
    ASSERT_TRUE(run.repaired);
    WrittenStreams(run, original);
    for (const std::string& line : log.Lines()) remade += line.find("for the streams given back") != std::string::npos;
  }
  EXPECT_GE(remade, 1u);
}

TEST(LostStreams, AnIntactFileGivesNothingBack) {
  fixture::ScratchDir scratch;
  salvage_test::LogCapture log(scratch);
  auto run = salvage_test::Salvage(scratch, fixture::Build(TableProject()));
  ASSERT_TRUE(run.repaired);
  EXPECT_EQ(run.reader->State().stats.streamsGivenBack, 0u);
  for (const std::string& line : log.Lines()) EXPECT_EQ(line.find("chains no surviving entry owns"), std::string::npos);
  EXPECT_EQ(salvage_test::MissingFrom(TableProject(), *run.repaired), std::vector<std::string>{});
}

// Every mini sector a chain no entry owns, each reading as the FixedMeta
// the table storage lacks: all of them fit, so none is given back.
TEST(LostStreams, ManyChainsThatFitOnePlaceGiveNothingBack) {
  fixture::ScratchDir scratch;
  salvage_test::LogCapture log(scratch);
  auto run = salvage_test::Salvage(scratch, fixture::LostChainsFile(256 << 10));
  ASSERT_TRUE(run.repaired);
  EXPECT_EQ(run.reader->State().stats.streamsGivenBack, 0u);
  const std::vector<std::string> lines = log.Lines();
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
    return line.find("Entries were lost: 3712 chains no surviving entry owns (3712 in the mini stream)") !=
           std::string::npos;
  }));
}

}  // namespace
